// Writes the seed corpus of the container_walk fuzz target: small containers made by the engine
// with a few files and folders, one of them encrypted. Run once: container_walk_corpus DIR.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/files/osfs_file_system.h"
#include "engine/files/page_file_manager.h"

namespace {

struct StoredFile {
  const char* path;
  size_t size;
};

void Make(const std::string& path, orv::TDatabaseFileMode mode, const std::string& password,
          const std::vector<StoredFile>& files, const std::vector<const char*>& deleted = {}) {
  std::filesystem::remove(path);
  const orv::TPageLayout layout = orv::PageLayoutOf(mode);
  orv::TOSingleFileSystem fs(path, orv::kOpenModeCreate, false, password, "", "", layout.PageSize,
                             layout.ExtentPageCount);
  for (const StoredFile& file : files) {
    std::string name = file.path;
    const size_t slash = name.find_last_of('\\');
    // Folders come from renaming into them.
    const std::string made = slash == std::string::npos ? name : "~new";
    const int32_t handle = fs.FileOpen(made, orv::kOpenModeCreate);
    if (handle <= 0) std::abort();
    std::vector<uint8_t> bytes(file.size);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + file.size);
    if (fs.FileWrite(handle, bytes.data(), int64_t(bytes.size())) != int64_t(bytes.size()))
      std::abort();
    fs.FileClose(handle);
    if (made != name && !fs.RenameFile(made, name)) std::abort();
  }
  for (const char* name : deleted)
    if (!fs.DeleteFile(name)) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  std::filesystem::create_directories(out);
  Make(out + "/compact_files_and_folders", orv::dfmCompact, "",
       {{"a.dat", 10},
        {"b.DAT", 2100},
        {"c.idx", 0},
        {"sub\\d.dat", 300},
        {"sub\\deeper\\e", 4100}});
  Make(out + "/compact_encrypted", orv::dfmCompact, "pw",
       {{"t.dat", 2500}, {"t.idx", 40}, {"dir\\u.bdf", 700}});
  Make(out + "/normal_with_deleted", orv::dfmNormal, "",
       {{"x.dat", 5000}, {"y.dat", 100}, {"z\\w.bif", 0}}, {"y.dat"});
  return 0;
}
