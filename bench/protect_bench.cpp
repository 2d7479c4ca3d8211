// Page encryption as the engine does it (a freshly keyed cipher per 4064-byte payload) against
// the bare AES-256 block function over the same bytes, and CRC-32 throughput; the ratios are
// printed after the table.
#include <benchmark/benchmark.h>
#include <cryptopp/rijndael.h>
#include <fmt/format.h>

#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/protect/checksum.h"
#include "engine/protect/cipher.h"
#include "engine/protect/hash.h"

namespace orv {
namespace {

constexpr size_t kPayload = 4064;  // the payload of a 4096-byte container page

const std::string& PageKey() {
  static const std::string key = [] {
    std::string k;
    for (int i = 0; i < 32; ++i) k += static_cast<char>(1 + (i * 37) % 254);
    return k + '\0';
  }();
  return key;
}

std::vector<uint8_t> Page() {
  std::vector<uint8_t> page(kPayload);
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 31 + 7);
  return page;
}

// Code is EncipherBuffer or DecipherBuffer: a fresh cipher per page.
template <void (*Code)(std::string_view, void*, size_t)>
void BM_PageFreshKey(benchmark::State& state) {
  std::vector<uint8_t> page = Page();
  for (auto _ : state) {
    Code(PageKey(), page.data(), page.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kPayload);
}
BENCHMARK_TEMPLATE(BM_PageFreshKey, EncipherBuffer)->Name("BM_EncipherPageFreshKey");
BENCHMARK_TEMPLATE(BM_PageFreshKey, DecipherBuffer)->Name("BM_DecipherPageFreshKey");

void BM_EncipherPagePreKeyed(benchmark::State& state) {
  std::vector<uint8_t> page = Page();
  TCipher_Rijndael cipher(PageKey());
  for (auto _ : state) {
    cipher.Done();
    cipher.EncodeBuffer(page.data(), page.data(), page.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kPayload);
}
BENCHMARK(BM_EncipherPagePreKeyed);

void BM_RawAes256Blocks(benchmark::State& state) {
  std::vector<uint8_t> page = Page();
  std::array<uint8_t, 32> key{};
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i);
  CryptoPP::Rijndael::Encryption aes(key.data(), key.size());
  for (auto _ : state) {
    // The whole blocks one by one, as a chained mode must; the 0-byte tail is left out.
    for (size_t i = 0; i + 16 <= page.size(); i += 16) aes.ProcessBlock(page.data() + i);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kPayload);
}
BENCHMARK(BM_RawAes256Blocks);

void BM_KeyCipher(benchmark::State& state) {
  for (auto _ : state) {
    TCipher_Rijndael cipher(PageKey());
    benchmark::DoNotOptimize(cipher.Initialized());
  }
}
BENCHMARK(BM_KeyCipher);

void BM_Crc32Page(benchmark::State& state) {
  std::vector<uint8_t> page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(Crc32(page.data(), page.size()));
  state.SetBytesProcessed(state.iterations() * kPayload);
}
BENCHMARK(BM_Crc32Page);

// The record and BLOB checksum text: CRC-32 plus its Base64 text, for a record and a page.
void BM_CountBufferCrc(benchmark::State& state) {
  std::vector<uint8_t> data = Page();
  data.resize(static_cast<size_t>(state.range(0)));
  std::array<uint8_t, kCrcFieldSize> field{};
  for (auto _ : state) {
    CountBufferCrc(data.data(), data.size(), field);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CountBufferCrc)->Arg(64)->Arg(kPayload);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}

  // CPU time: the machine is shared, and wall time there measures the neighbours. With
  // repetitions the median stands for the benchmark.
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      double ns = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
      if (median || !medians_.count(run.run_name.function_name))
        ns_[run.run_name.function_name] = ns;
      if (median) medians_.insert(run.run_name.function_name);
    }
  }

  void PrintRatios() const {
    auto at = [&](const char* name) {
      auto it = ns_.find(name);
      return it == ns_.end() ? 0.0 : it->second;
    };
    double fresh = at("BM_EncipherPageFreshKey"), fresh_dec = at("BM_DecipherPageFreshKey");
    double keyed = at("BM_EncipherPagePreKeyed"), raw = at("BM_RawAes256Blocks");
    double keying = at("BM_KeyCipher"), crc = at("BM_Crc32Page");
    if (fresh <= 0 || keyed <= 0 || raw <= 0 || crc <= 0) return;
    auto mb_s = [](double ns) { return kPayload / ns * 1e9 / (1 << 20); };
    fmt::print("\nper {}-byte page:\n", kPayload);
    fmt::print("  encipher, fresh key / raw AES-256 blocks : {:.2f}x ({:.0f} vs {:.0f} ns)\n",
               fresh / raw, fresh, raw);
    fmt::print("  decipher, fresh key / raw AES-256 blocks : {:.2f}x ({:.0f} ns)\n",
               fresh_dec / raw, fresh_dec);
    fmt::print("  encipher, pre-keyed / raw AES-256 blocks : {:.2f}x ({:.0f} ns)\n", keyed / raw,
               keyed);
    fmt::print("  keying (RIPEMD-256, key expansion, IV)   : {:.0f} ns, {:.1f}% of a fresh page\n",
               keying, 100.0 * keying / fresh);
    fmt::print(
        "  CRC-32 {:.0f} MiB/s; raw AES-256 {:.0f} MiB/s; CRC-32 / raw AES-256 time: {:.3f}\n",
        mb_s(crc), mb_s(raw), crc / raw);
  }

 private:
  std::map<std::string, double> ns_;
  std::set<std::string> medians_;
};

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  orv::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
