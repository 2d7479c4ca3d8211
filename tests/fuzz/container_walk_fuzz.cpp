// Opens arbitrary bytes as a container file and walks it as orvfs would: lists every folder,
// reads every file (through the container and through its plain file system) and checks it.
// Must end in an exception or a failed read, never a crash, a hang or a huge allocation.
//
// Input: the bytes of a single-part container file. It is opened with the password "pw", which
// an unencrypted container ignores.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/files/container_check.h"
#include "engine/files/dir_array.h"
#include "engine/files/osfs_plain_file_system.h"
#include "engine/files/page_file_manager.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

constexpr int kMaxDepth = 64;

using orv::fuzz::Scratch;

void ReadAll(orv::TOSingleFileSystem& fs, const std::string& path) {
  const int32_t handle = fs.FileOpen(path, orv::kOpenModeReadShared);
  if (handle <= 0) return;
  std::vector<uint8_t> buffer(65536);
  while (fs.FileRead(handle, buffer.data(), int64_t(buffer.size())) > 0) {
  }
  fs.FileClose(handle);
}

void Walk(orv::TOSingleFileSystem& fs, const std::string& folder, int depth,
          std::set<std::string>& seen) {
  if (depth > kMaxDepth) return;
  std::vector<std::pair<std::string, bool>> entries;
  orv::TOSFSSearchRec rec;
  for (int found = fs.FindFirst(folder + "*", 63, rec); found == 0; found = fs.FindNext(rec))
    entries.emplace_back(rec.Name, (rec.Attr & orv::kAttrDirectory) != 0);
  fs.FindClose(rec);
  for (const auto& [name, is_directory] : entries) {
    const std::string path = folder + name;
    if (!seen.insert(path).second) continue;
    if (is_directory)
      Walk(fs, path + "\\", depth + 1, seen);
    else
      ReadAll(fs, path);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Scratch() + "/c.ovb";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);

  try {
    orv::TOSFSPlainFileSystem pfs(path, false, false, true, orv::dfmNormal, "pw");
    std::vector<std::string> names;
    pfs.FindFiles(".dat", &names);
    std::vector<uint8_t> buffer(4096);
    for (const std::string& name : names) {
      try {
        orv::TAbstractFile* stored = pfs.OpenFile(name + ".dat", false, true, false);
        while (stored->Read(buffer.data(), int32_t(buffer.size())) > 0) {
        }
        pfs.CloseFile(stored);
      } catch (const std::exception&) {
      }
    }
    std::set<std::string> seen;
    Walk(pfs.Container(), "\\", 0, seen);
  } catch (const std::exception&) {
  }
  orv::CheckContainer(path, "pw");
  return 0;
}
