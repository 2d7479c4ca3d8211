// Replays every file of a seed corpus folder through a libFuzzer entry point, so that the
// corpus runs as an ordinary test without the fuzzing engine.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR...\n", argv[0]);
    return 2;
  }
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path dir(argv[i]);
    if (!std::filesystem::is_directory(dir)) {
      std::fprintf(stderr, "no corpus folder %s\n", argv[i]);
      return 1;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
      if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
      std::ifstream in(path, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
      static uint8_t empty = 0;
      LLVMFuzzerTestOneInput(bytes.empty() ? &empty : bytes.data(), bytes.size());
      ++count;
    }
  }
  std::printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
