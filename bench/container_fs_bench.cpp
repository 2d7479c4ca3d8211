// Putting a 64 MiB file into a container and getting it out again, through TOSingleFileSystem
// FileWrite / FileRead in 64 KiB chunks (unencrypted and encrypted), against copying it with
// plain POSIX read/write in the same run. Every copy reads a local source and every writer ends
// with a flush to disk. Prints the ratios at the end; unencrypted transfers should reach at
// least half of the plain copy.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/osfs_file_system.h"
#include "engine/files/page_file_manager.h"

namespace {

constexpr int64_t kTotal = int64_t(64) << 20;
constexpr int64_t kChunk = int64_t(64) << 10;

struct Folder {
  Folder() {
    path = std::filesystem::temp_directory_path().string() + "/orv-fs-bench-XXXXXX";
    if (mkdtemp(path.data()) == nullptr) std::abort();
  }
  ~Folder() { std::filesystem::remove_all(path); }
  std::string path;
};

const std::string& Dir() {
  static Folder folder;
  return folder.path;
}

// The local file every copy starts from.
const std::string& Source() {
  static const std::string path = [] {
    const std::string name = Dir() + "/source";
    std::vector<uint8_t> bytes(kChunk);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int64_t at = 0; at < kTotal; at += kChunk) {
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((at + i) * 131);
      if (::pwrite(fd, bytes.data(), kChunk, at) != kChunk) std::abort();
    }
    ::close(fd);
    return name;
  }();
  return path;
}

const char* PasswordOf(const benchmark::State& state) {
  return state.range(0) ? "pw" : "";
}

std::string ContainerPath(const benchmark::State& state) {
  return Dir() + (state.range(0) ? "/encrypted.ovb" : "/plain.ovb");
}

std::unique_ptr<orv::TOSingleFileSystem> OpenContainer(const benchmark::State& state, bool create) {
  const orv::TPageLayout layout = orv::PageLayoutOf(orv::dfmNormal);
  return std::make_unique<orv::TOSingleFileSystem>(
      ContainerPath(state), create ? orv::kOpenModeCreate : orv::kOpenModeReadWriteDenyWrite, false,
      PasswordOf(state), "", "", layout.PageSize, layout.ExtentPageCount);
}

void BM_PosixCopy(benchmark::State& state) {
  const std::string target = Dir() + "/copy";
  std::vector<uint8_t> buffer(kChunk);
  const int in = ::open(Source().c_str(), O_RDONLY);
  for (auto _ : state) {
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int64_t at = 0; at < kTotal; at += kChunk)
      if (::read(in, buffer.data(), kChunk) != kChunk ||
          ::write(out, buffer.data(), kChunk) != kChunk)
        state.SkipWithError("copy");
    ::fdatasync(out);
    ::close(out);
    ::lseek(in, 0, SEEK_SET);
  }
  ::close(in);
  state.SetBytesProcessed(state.iterations() * kTotal);
}

// Local file into the container, replacing the stored file each time.
void BM_ContainerPut(benchmark::State& state) {
  auto fs = OpenContainer(state, true);
  std::vector<uint8_t> buffer(kChunk);
  const int in = ::open(Source().c_str(), O_RDONLY);
  for (auto _ : state) {
    const int32_t handle = fs->FileOpen("big.dat", orv::kOpenModeCreate);
    for (int64_t at = 0; at < kTotal; at += kChunk)
      if (::read(in, buffer.data(), kChunk) != kChunk ||
          fs->FileWrite(handle, buffer.data(), kChunk) != kChunk)
        state.SkipWithError("put");
    fs->FileFlush(handle);
    fs->FileClose(handle);
    ::lseek(in, 0, SEEK_SET);
  }
  ::close(in);
  state.SetBytesProcessed(state.iterations() * kTotal);
}

// Puts the source into the container once.
void Fill(benchmark::State& state) {
  auto fs = OpenContainer(state, true);
  std::vector<uint8_t> buffer(kChunk);
  const int in = ::open(Source().c_str(), O_RDONLY);
  const int32_t handle = fs->FileOpen("big.dat", orv::kOpenModeCreate);
  for (int64_t at = 0; at < kTotal; at += kChunk)
    if (::read(in, buffer.data(), kChunk) != kChunk ||
        fs->FileWrite(handle, buffer.data(), kChunk) != kChunk)
      state.SkipWithError("fill");
  fs->FileClose(handle);
  ::close(in);
}

// The stored file out into a local file.
void BM_ContainerGet(benchmark::State& state) {
  Fill(state);
  auto fs = OpenContainer(state, false);
  const std::string target = Dir() + "/got";
  std::vector<uint8_t> buffer(kChunk);
  for (auto _ : state) {
    const int32_t handle = fs->FileOpen("big.dat", orv::kOpenModeReadShared);
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int64_t at = 0; at < kTotal; at += kChunk)
      if (fs->FileRead(handle, buffer.data(), kChunk) != kChunk ||
          ::write(out, buffer.data(), kChunk) != kChunk)
        state.SkipWithError("get");
    ::fdatasync(out);
    ::close(out);
    fs->FileClose(handle);
  }
  state.SetBytesProcessed(state.iterations() * kTotal);
}

BENCHMARK(BM_PosixCopy)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainerPut)
    ->ArgName("encrypted")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainerGet)
    ->ArgName("encrypted")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Keeps the throughput of every run for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (!run.error_occurred && it != run.counters.end())
        rates_[run.benchmark_name()] = it->second.value;
    }
  }

  void PrintRatios() const {
    const double plain = Rate("BM_PosixCopy/real_time");
    std::printf("\nThroughput relative to the plain POSIX copy (64 KiB chunks):\n");
    for (const char* op : {"Put", "Get"})
      for (int encrypted : {0, 1}) {
        const double rate = Rate(std::string("BM_Container") + op +
                                 "/encrypted:" + std::to_string(encrypted) + "/real_time");
        if (plain > 0 && rate > 0)
          std::printf("  %s %-11s %7.1f MiB/s vs %7.1f MiB/s: %5.1f%%\n", op,
                      encrypted ? "encrypted" : "unencrypted", rate / (1 << 20), plain / (1 << 20),
                      100 * rate / plain);
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
