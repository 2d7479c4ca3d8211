// BLOB compression: speed (bytes per second of uncompressed data) and ratio (stored / original
// bytes, the "ratio" counter) of levels 1-3, on text and on JPEG bytes.
//   text_en       the licence texts in /usr/share/common-licenses, concatenated
//   catalogue_cp1251  generated model descriptions in Russian and English, code page 1251
//   jpeg          the file in ORV_BENCH_JPEG, else the first JPEG of 16 KiB or more found under
//                 /usr/share and /usr/lib; skipped when there is none
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/protect/compression.h"
#include "tests/protect/compression_samples.h"

namespace {

namespace fs = std::filesystem;
using orv::testing::Bytes;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes LicenceTexts() {
  Bytes all;
  std::error_code ec;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator("/usr/share/common-licenses", ec))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    Bytes b = ReadFile(f);
    all.insert(all.end(), b.begin(), b.end());
  }
  return all;
}

bool IsJpegName(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
  return ext == ".jpg" || ext == ".jpeg";
}

std::string FindJpeg() {
  if (const char* env = std::getenv("ORV_BENCH_JPEG")) return env;
  for (const char* root : {"/usr/share", "/usr/lib"}) {
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code size_ec;
      if (it->is_regular_file(size_ec) && IsJpegName(it->path()) && it->file_size(size_ec) >= 16384)
        return it->path().string();
    }
  }
  return {};
}

void BM_Compress(benchmark::State& state, const Bytes* data, orv::TCompressionLevel level) {
  Bytes packed;
  for (auto _ : state) {
    if (!orv::mvCompressBuffer(data->data(), data->size(), packed, level)) {
      state.SkipWithError("compression failed");
      return;
    }
    benchmark::DoNotOptimize(packed.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data->size()));
  state.counters["ratio"] = static_cast<double>(packed.size()) / static_cast<double>(data->size());
}

void BM_Decompress(benchmark::State& state, const Bytes* data, orv::TCompressionLevel level) {
  Bytes packed, out;
  if (!orv::mvCompressBuffer(data->data(), data->size(), packed, level)) {
    state.SkipWithError("compression failed");
    return;
  }
  for (auto _ : state) {
    if (!orv::mvDecompressBuffer(packed.data(), packed.size(), out, level, data->size()) ||
        out != *data) {
      state.SkipWithError("decompression failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data->size()));
  state.counters["ratio"] = static_cast<double>(packed.size()) / static_cast<double>(data->size());
}

}  // namespace

int main(int argc, char** argv) {
  static const Bytes text_en = LicenceTexts();
  static const Bytes catalogue = orv::testing::SampleText(1 << 20);
  static Bytes jpeg;
  const std::string jpeg_path = FindJpeg();
  if (!jpeg_path.empty()) jpeg = ReadFile(jpeg_path);
  if (jpeg.empty())
    std::fprintf(stderr, "no JPEG file found (set ORV_BENCH_JPEG): the jpeg cases are skipped\n");
  else
    std::fprintf(stderr, "jpeg: %s, %zu bytes\n", jpeg_path.c_str(), jpeg.size());

  struct Corpus {
    const char* name;
    const Bytes* data;
  };
  for (const Corpus& c : {Corpus{"text_en", &text_en}, Corpus{"catalogue_cp1251", &catalogue},
                          Corpus{"jpeg", &jpeg}}) {
    if (c.data->empty()) continue;
    for (auto level : {orv::clFastest, orv::clDefault, orv::clMax}) {
      const std::string suffix = std::string(c.name) + "/level" + std::to_string(level);
      benchmark::RegisterBenchmark(("Compress/" + suffix).c_str(), BM_Compress, c.data, level)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("Decompress/" + suffix).c_str(), BM_Decompress, c.data, level)
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
