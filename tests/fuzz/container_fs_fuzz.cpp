// Opens arbitrary bytes as a container file and works on what it holds: lists every folder,
// reads every file, then writes, grows, shrinks, renames and deletes. Damage must end in an
// exception or an error result, never a crash, a hang or a huge allocation; the consistency
// checker must never raise at all.
//
// Input: the bytes of a single-part container file (part header included), as the engine
// writes it.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/files/container_check.h"
#include "engine/files/osfs_file_system.h"
#include "engine/files/page_file_manager.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

using orv::fuzz::Scratch;

// Bounds the walk: a damaged directory may hold many items, but each is visited once.
constexpr int kMaxItems = 200;
constexpr int64_t kMaxRead = 1 << 20;

void Walk(orv::TOSingleFileSystem& fs, const std::string& folder, int depth,
          std::vector<std::string>& files, int& visited) {
  orv::TOSFSSearchRec rec;
  std::vector<std::string> folders;
  for (int r = fs.FindFirst(folder + "\\*", 63, rec); r == 0 && visited < kMaxItems;
       r = fs.FindNext(rec), ++visited) {
    const std::string path = folder + "\\" + rec.Name;
    (rec.Attr & orv::kAttrDirectory ? folders : files).push_back(path);
  }
  fs.FindClose(rec);
  if (depth < 8)
    for (const std::string& sub : folders) Walk(fs, sub, depth + 1, files, visited);
}

void Exercise(orv::TOSingleFileSystem& fs) {
  std::vector<std::string> files;
  int visited = 0;
  Walk(fs, "", 0, files, visited);
  std::vector<uint8_t> buffer(65536);
  for (const std::string& path : files) {
    const int32_t handle = fs.FileOpen(path, orv::kOpenModeReadWriteDenyWrite);
    if (handle <= 0) continue;
    for (int64_t done = 0; done < kMaxRead;) {
      const int64_t got = fs.FileRead(handle, buffer.data(), int64_t(buffer.size()));
      if (got <= 0) break;
      done += got;
    }
    fs.FileClose(handle);
  }
  const int32_t handle = fs.FileOpen("\\fz.dat", orv::kOpenModeCreate);
  if (handle > 0) {
    fs.FileWrite(handle, buffer.data(), 5000);
    fs.FileSetSize(handle, 100);
    fs.FileSeek(handle, 0, 9000);
    fs.FileWrite(handle, buffer.data(), 10);
    fs.FileClose(handle);
  }
  if (!files.empty()) {
    fs.RenameFile(files.front(), "\\moved\\x.dat");
    fs.DeleteFile(files.back());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Scratch() + "/c.ovb";
  std::filesystem::remove(path);
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  try {
    orv::TOSingleFileSystem fs(path, orv::kOpenModeReadWriteDenyWrite, false, "", "", "", 0, 0);
    Exercise(fs);
  } catch (const std::exception&) {
  }
  try {
    orv::CheckContainer(path);
  } catch (...) {
    std::abort();
  }
  return 0;
}
