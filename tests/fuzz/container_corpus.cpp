// Writes the seed corpus of the container fuzz target: containers made by the engine itself,
// packed in the fuzz input format (see container_fuzz.cpp). Run once: container_corpus DIR.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/files/page_file_manager.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A container of `pages` pages written with mixed checksum types and lengths.
void MakeContainer(const std::string& path, orv::TDatabaseFileMode mode, int32_t pages,
                   int64_t part_size) {
  const orv::TPageLayout layout = orv::PageLayoutOf(mode);
  orv::TPageFileManager manager(path, orv::kOpenModeCreate, "", "", "", false, layout.PageSize,
                                layout.ExtentPageCount, part_size);
  if (pages > 1 && !manager.AddPages(pages - 1)) std::abort();
  std::vector<uint8_t> payload(static_cast<size_t>(manager.PayloadSize()));
  for (int32_t n = 1; n < pages; ++n) {
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(n * 31 + i);
    orv::TPage page{{n + 1 < pages ? n + 1 : -1, 0, static_cast<uint8_t>(1 + n % 6), 0,
                     static_cast<uint8_t>(n % 3)},
                    payload.data()};
    manager.WritePage(page, n, {}, n % 4 == 0 ? 512 : -1);
  }
  manager.Header().DirPageCount = pages > 4 ? 1 : 0;
  manager.Header().FirstDirPageNo = pages > 4 ? 4 : 0;
  manager.Header().DirItemCount = pages > 4 ? 2 : 0;
  manager.SaveHeader();
}

void Pack(const std::string& out, uint8_t flags, const std::vector<std::vector<uint8_t>>& parts,
          const std::vector<uint8_t>& prefix = {}) {
  std::vector<uint8_t> input{static_cast<uint8_t>(flags | (parts.size() - 1) << 2)};
  for (size_t k = 0; k < parts.size(); ++k) {
    std::vector<uint8_t> part = parts[k];
    if (k == 0) part.insert(part.begin(), prefix.begin(), prefix.end());
    if (k + 1 < parts.size())
      for (int shift = 0; shift < 32; shift += 8) input.push_back(uint8_t(part.size() >> shift));
    input.insert(input.end(), part.begin(), part.end());
  }
  std::ofstream(out, std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  const std::string work = std::filesystem::temp_directory_path().string() + "/orv-corpus-gen";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  std::filesystem::create_directories(out);
  const std::string c = work + "/c.ovb";

  MakeContainer(c, orv::dfmNormal, 1, -1);
  Pack(out + "/new_container", 0, {Bytes(c)});
  MakeContainer(c, orv::dfmNormal, 9, -1);
  Pack(out + "/normal_9_pages", 0, {Bytes(c)});
  Pack(out + "/normal_9_pages_memory_writable", 3, {Bytes(c)});
  Pack(out + "/prefix_1000", 0, {Bytes(c)}, std::vector<uint8_t>(1000, 'Z'));
  MakeContainer(c, orv::dfmCompact, 5, -1);
  Pack(out + "/compact_5_pages", 2, {Bytes(c)});
  MakeContainer(c, orv::dfmNormal, 4, 10000);
  Pack(out + "/two_parts", 0, {Bytes(c), Bytes(c + "1")});
  MakeContainer(c, orv::dfmCompact, 9, 8000);
  Pack(out + "/three_parts_writable", 2, {Bytes(c), Bytes(c + "1"), Bytes(c + "2")});
  std::filesystem::remove_all(work);
  return 0;
}
