// Throughput of the container's file layers against plain POSIX I/O on the same machine, in
// one run: 64 MiB written and read in 4 KiB transfers through pwrite/pread, through
// TOSFSHugeFile and as pages through TPageFileManager (payload bytes counted). Every writer
// ends with a flush to disk. Prints the ratios at the end; the pages should reach at least half
// of plain 4 KiB transfers.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/files/osfs_huge_file.h"
#include "engine/files/page_file_manager.h"

namespace {

constexpr int64_t kTotal = int64_t(64) << 20;
constexpr int64_t kBlock = 4096;
constexpr int64_t kBigBlock = int64_t(1) << 20;
constexpr int32_t kPageSize = 4096;
constexpr int32_t kPayload = kPageSize - orv::kPageHeaderSize;
constexpr int32_t kPages = static_cast<int32_t>((kTotal + kPayload - 1) / kPayload);

struct Folder {
  Folder() {
    path = std::filesystem::temp_directory_path().string() + "/orv-bench-XXXXXX";
    if (mkdtemp(path.data()) == nullptr) std::abort();
  }
  ~Folder() { std::filesystem::remove_all(path); }
  std::string path;
};

const std::string& Dir() {
  static Folder folder;
  return folder.path;
}

std::vector<uint8_t>& Buffer() {
  static std::vector<uint8_t> buffer = [] {
    std::vector<uint8_t> bytes(kBigBlock);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 7);
    return bytes;
  }();
  return buffer;
}

void PosixWrite(benchmark::State& state, int64_t block) {
  const std::string path = Dir() + "/plain";
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    for (int64_t at = 0; at < kTotal; at += block)
      if (::pwrite(fd, Buffer().data(), block, at) != block) state.SkipWithError("pwrite");
    // The part files flush when they close; so does the plain writer, to move the same work.
    ::fdatasync(fd);
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * kTotal);
}

void PosixRead(benchmark::State& state, int64_t block) {
  const std::string path = Dir() + "/plain";
  int fd = ::open(path.c_str(), O_RDONLY);
  for (auto _ : state)
    for (int64_t at = 0; at < kTotal; at += block)
      if (::pread(fd, Buffer().data(), block, at) != block) state.SkipWithError("pread");
  ::close(fd);
  state.SetBytesProcessed(state.iterations() * kTotal);
}

void BM_PosixWrite4K(benchmark::State& state) {
  PosixWrite(state, kBlock);
}
void BM_PosixRead4K(benchmark::State& state) {
  PosixRead(state, kBlock);
}
void BM_PosixWrite1M(benchmark::State& state) {
  PosixWrite(state, kBigBlock);
}
void BM_PosixRead1M(benchmark::State& state) {
  PosixRead(state, kBigBlock);
}

void BM_HugeFileWrite(benchmark::State& state) {
  for (auto _ : state) {
    orv::TOSFSHugeFile file(Dir() + "/huge");
    if (!file.Open(true)) state.SkipWithError("open");
    for (int64_t at = 0; at < kTotal; at += kBlock)
      if (file.WriteAt(at, Buffer().data(), kBlock) != kBlock) state.SkipWithError("write");
  }
  state.SetBytesProcessed(state.iterations() * kTotal);
}

void BM_HugeFileRead(benchmark::State& state) {
  orv::TOSFSHugeFile file(Dir() + "/huge");
  if (!file.Open(false)) state.SkipWithError("open");
  for (auto _ : state)
    for (int64_t at = 0; at < kTotal; at += kBlock)
      if (file.ReadAt(at, Buffer().data(), kBlock) != kBlock) state.SkipWithError("read");
  state.SetBytesProcessed(state.iterations() * kTotal);
}

void BM_PageWrite(benchmark::State& state) {
  for (auto _ : state) {
    orv::TPageFileManager manager(Dir() + "/pages", orv::kOpenModeCreate, "", "", "", false,
                                  kPageSize, 8, -1);
    if (!manager.AddPages(kPages)) state.SkipWithError("grow");
    for (int32_t n = 1; n <= kPages; ++n) {
      orv::TPage page{{-1, 0, orv::kPageTypeFileData, 0, 0}, Buffer().data()};
      if (!manager.WritePage(page, n)) state.SkipWithError("write");
    }
  }
  state.SetBytesProcessed(state.iterations() * int64_t(kPages) * kPayload);
}

void BM_PageRead(benchmark::State& state) {
  orv::TPageFileManager manager(Dir() + "/pages", orv::kOpenModeReadShared, "", "", "", false, 0, 0,
                                -1);
  for (auto _ : state) {
    for (int32_t n = 1; n <= kPages; ++n) {
      orv::TPage page{{}, Buffer().data()};
      if (!manager.ReadPage(page, n)) state.SkipWithError("read");
    }
  }
  state.SetBytesProcessed(state.iterations() * int64_t(kPages) * kPayload);
}

BENCHMARK(BM_PosixWrite4K)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixRead4K)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixWrite1M)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixRead1M)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HugeFileWrite)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HugeFileRead)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageWrite)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageRead)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps the throughput of every run for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (!run.error_occurred && it != run.counters.end())
        rates_[run.run_name.function_name] = it->second.value;
    }
  }

  void PrintRatios() const {
    std::printf("\nThroughput relative to plain POSIX transfers of the same size (4 KiB):\n");
    for (const char* op : {"Write", "Read"}) {
      const double plain = Rate(std::string("BM_Posix") + op + "4K");
      for (const char* layer : {"HugeFile", "Page"}) {
        const double rate = Rate(std::string("BM_") + layer + op);
        if (plain > 0 && rate > 0)
          std::printf("  %-8s %-5s %6.1f MiB/s vs %6.1f MiB/s: %5.1f%%  (1 MiB POSIX: %.1f%%)\n",
                      layer, op, rate / (1 << 20), plain / (1 << 20), 100 * rate / plain,
                      100 * rate / Rate(std::string("BM_Posix") + op + "1M"));
      }
    }
  }

 private:
  double Rate(const std::string& name) const {
    auto it = rates_.find(name);
    return it == rates_.end() ? 0 : it->second;
  }
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
