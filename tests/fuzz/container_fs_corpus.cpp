// Writes the seed corpus of the container_fs fuzz target: small containers made by the engine
// itself. Run once: container_fs_corpus DIR.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/files/osfs_file_system.h"
#include "engine/files/page_file_manager.h"

namespace {

void Put(orv::TOSingleFileSystem& fs, const std::string& path, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + size);
  const int32_t handle = fs.FileOpen(path, orv::kOpenModeCreate);
  fs.FileWrite(handle, bytes.data(), int64_t(size));
  fs.FileClose(handle);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const orv::TPageLayout layout = orv::PageLayoutOf(orv::dfmCompact);
  auto make = [&](const std::string& name, auto fill) {
    const std::string path = dir + "/" + name;
    {
      orv::TOSingleFileSystem fs(path, orv::kOpenModeCreate, false, "", "", "", layout.PageSize,
                                 layout.ExtentPageCount);
      fill(fs);
    }
    std::filesystem::rename(path, path + ".ovb");
  };
  make("empty", [](orv::TOSingleFileSystem&) {});
  make("two_files", [](orv::TOSingleFileSystem& fs) {
    Put(fs, "a.dat", 3000);
    Put(fs, "b.idx", 10);
  });
  make("folders", [](orv::TOSingleFileSystem& fs) {
    Put(fs, "x.dat", 2016);
    fs.RenameFile("x.dat", "sub\\deeper\\x.dat");
    Put(fs, "y.dat", 100);
    Put(fs, "z.dat", 4100);
    fs.DeleteFile("y.dat");
  });
  return 0;
}
