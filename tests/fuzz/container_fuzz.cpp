// Opens arbitrary bytes as a container and reads every page it has: must end in an exception or
// a page error, never a crash or a hang.
//
// Input: one flags byte (bit 0 in memory, bit 1 writable, bits 2-3 extra part count, at most 2),
// then for every part but the last a 32-bit little-endian length, then the part bytes. The
// parts become the files c.ovb, c.ovb1 and c.ovb2 of a scratch folder.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/files/page_file_manager.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

using orv::fuzz::Scratch;

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string base = Scratch() + "/c.ovb";
  for (const char* suffix : {"", "1", "2"}) std::filesystem::remove(base + suffix);

  const bool in_memory = data[0] & 1;
  const bool writable = data[0] & 2;
  const int parts = 1 + std::min((data[0] >> 2) & 3, 2);
  size_t at = 1;
  for (int k = 0; k < parts; ++k) {
    size_t length = size - at;
    if (k + 1 < parts) {
      if (size - at < 4) break;
      length = data[at] | data[at + 1] << 8 | data[at + 2] << 16 | size_t(data[at + 3]) << 24;
      at += 4;
      length = std::min(length, size - at);
    }
    WriteFile(k == 0 ? base : base + std::to_string(k), data + at, length);
    at += length;
  }

  try {
    orv::TPageFileManager manager(
        base, writable ? orv::kOpenModeReadWriteDenyWrite : orv::kOpenModeReadShared, "", "", "",
        in_memory, 0, 0, -1);
    const orv::TContainerHeader& header = manager.Header();
    std::vector<uint8_t> buffer(static_cast<size_t>(manager.PayloadSize()));
    // Pages the file can hold at all; a header may claim far more.
    const int64_t stored = manager.File().GetSize() / header.PageSize;
    const int64_t pages = std::min<int64_t>(header.PageCount, stored + 2);
    for (int32_t n = -1; n <= pages; ++n) {
      orv::TPage page{{}, buffer.data()};
      manager.ReadPage(page, n);
      manager.ReadPage(page, n, -1, {}, true);
      manager.ReadPage(page, n, 0);
      manager.ReadPage(page, n, static_cast<int32_t>(n & 0xFF));
      if (writable && n < stored) {
        page.Header.EncryptionType = 0;
        manager.WritePage(page, n);
      }
    }
    if (writable) manager.SaveHeader();
  } catch (const std::exception&) {
  }
  return 0;
}
