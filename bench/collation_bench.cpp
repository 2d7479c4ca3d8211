// Ordering and LIKE over code page 1251 text under ru_RU: the engine's rank-table comparisons
// against ICU's collator on the same words as UTF-16, and LIKE against SQLite's sqlite3_strlike.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unicode/coll.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/common/collation.h"
#include "platform/codepage.h"

namespace orv {
namespace {

void UseRussian() {
  static const bool done = [] {
    setenv("LC_ALL", "ru_RU.UTF-8", 1);
    InitCollation();
    return true;
  }();
  (void)done;
}

// Catalogue-like names: Cyrillic and Latin words with digits.
const std::vector<std::string>& Words() {
  static const std::vector<std::string> words = [] {
    const std::vector<std::string> parts = {Utf8ToCp1251("Волга"),
                                            Utf8ToCp1251("ГАЗ"),
                                            Utf8ToCp1251("ёлка"),
                                            Utf8ToCp1251("Жигули"),
                                            Utf8ToCp1251("москвич"),
                                            Utf8ToCp1251("Лада"),
                                            "Ford",
                                            "Mercedes-Benz",
                                            "1:43",
                                            "Porsche",
                                            Utf8ToCp1251("седан"),
                                            Utf8ToCp1251("КУПЕ")};
    std::mt19937 random(7);
    std::vector<std::string> out;
    for (int i = 0; i < 10000; ++i)
      out.push_back(parts[random() % parts.size()] + " " + parts[random() % parts.size()] + " " +
                    std::to_string(random() % 1000));
    return out;
  }();
  return words;
}

template <int (*Compare)(const char*, const char*)>
void BM_SortWith(benchmark::State& state) {
  UseRussian();
  for (auto _ : state) {
    std::vector<std::string> words = Words();
    std::sort(words.begin(), words.end(), [](const std::string& a, const std::string& b) {
      return Compare(a.c_str(), b.c_str()) < 0;
    });
    benchmark::DoNotOptimize(words.data());
  }
}
BENCHMARK(BM_SortWith<CollateCompare>)->Name("BM_SortCollateCompare");
BENCHMARK(BM_SortWith<CollateCompareI>)->Name("BM_SortCollateCompareI");

void BM_SortIcuCollator(benchmark::State& state) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(
      icu::Collator::createInstance(icu::Locale("ru_RU"), status));
  std::vector<std::u16string> wide;
  for (const std::string& w : Words()) wide.push_back(Cp1251ToUtf16(w));
  for (auto _ : state) {
    std::vector<std::u16string> words = wide;
    std::sort(words.begin(), words.end(), [&](const std::u16string& a, const std::u16string& b) {
      UErrorCode s = U_ZERO_ERROR;
      return collator->compare(a.data(), a.size(), b.data(), b.size(), s) == UCOL_LESS;
    });
    benchmark::DoNotOptimize(words.data());
  }
}
BENCHMARK(BM_SortIcuCollator);

void BM_LikeMatch(benchmark::State& state) {
  UseRussian();
  const std::string pattern = "%o%1_";
  for (auto _ : state) {
    int hits = 0;
    for (const std::string& w : Words()) hits += LikeMatch(w.c_str(), pattern.c_str(), true);
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(BM_LikeMatch);

void BM_SqliteStrLike(benchmark::State& state) {
  const std::string pattern = "%o%1_";
  for (auto _ : state) {
    int hits = 0;
    for (const std::string& w : Words())
      hits += sqlite3_strlike(pattern.c_str(), w.c_str(), 0) == 0;
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(BM_SqliteStrLike);

void BM_LikeMatchWide(benchmark::State& state) {
  UseRussian();
  const std::u16string pattern = u"%o%1_";
  std::vector<std::u16string> wide;
  for (const std::string& w : Words()) wide.push_back(Cp1251ToUtf16(w));
  for (auto _ : state) {
    int hits = 0;
    for (const std::u16string& w : wide) hits += LikeMatchWide(w.c_str(), pattern.c_str(), true);
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(BM_LikeMatchWide);

}  // namespace
}  // namespace orv

BENCHMARK_MAIN();
