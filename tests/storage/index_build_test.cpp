#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/common/collation.h"
#include "engine/storage/index_list.h"
#include "platform/exception.h"
#include "tests/storage/index_table.h"
#include "tests/support/scoped_env.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::Field;
using testing::IndexTable;

enum : int32_t { kName, kKey };

std::vector<FieldHeaderType> NameKey() {
  return {Field("Name", ftString, 12), Field("Key", ftInteger)};
}

// Records whose Key field holds keys[i]; kNullKey leaves it null.
constexpr int32_t kNullKey = INT32_MIN;
void PutKeys(IndexTable& t, const std::vector<int32_t>& keys) {
  for (int32_t key : keys) {
    Bytes image = t.NewImage();
    if (key != kNullKey) t.SetI32(image, kKey, key);
    t.SetString(image, kName, "n" + std::to_string(key % 97));
    t.Put(std::move(image));
  }
}

std::vector<int32_t> Order(const TOrvelIndexList& list, int32_t index_no) {
  const TmvIntArray& a = list.Array(index_no);
  return {a.begin(), a.end()};
}

TEST(IndexBuild, DescendingIntegersPutNullsLast) {
  IndexTable t(NameKey());
  PutKeys(t, {3, kNullKey, 7});
  t.Indexes().CreateAutoIndexes(false);
  t.Indexes().AddIndex("Down", "Key", true, "", "Key", 0);
  t.Indexes().AddIndex("Up", "Key", true, "", "", 0);
  EXPECT_EQ(Order(t.Indexes(), 1), (std::vector<int32_t>{2, 0, 1}));  // 7, 3, null
  EXPECT_EQ(Order(t.Indexes(), 2), (std::vector<int32_t>{1, 0, 2}));  // null, 3, 7
}

TEST(IndexBuild, SortsAwkwardInputsInOrder) {
  constexpr int32_t n = 4000;
  struct Shape {
    const char* name;
    std::function<int32_t(int32_t)> key;
  } shapes[] = {
      {"ascending", [](int32_t i) { return i; }},
      {"descending", [](int32_t i) { return n - i; }},
      {"all equal", [](int32_t) { return 42; }},
      {"two values", [](int32_t i) { return i % 2; }},
      {"organ pipe", [](int32_t i) { return i < n / 2 ? i : n - i; }},
      {"sawtooth", [](int32_t i) { return i % 64; }},
      {"random", [](int32_t i) { return static_cast<int32_t>((i * 2654435761u) % 1000); }},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    IndexTable t(NameKey());
    std::vector<int32_t> keys;
    for (int32_t i = 0; i < n; ++i) keys.push_back(shape.key(i));
    PutKeys(t, keys);
    t.Indexes().CreateAutoIndexes(true);
    EXPECT_EQ(t.Indexes().SortCount(), 4);
    // Record reads stand for comparisons: a few n log n for four indexes, far below the n^2 / 4
    // of a quicksort that the input defeats.
    EXPECT_LT(t.Reads(), 4 * 4 * n * 12);
    t.ExpectIndexesInOrder();
    EXPECT_EQ(t.LockedPages(), 0u);
  }
}

TEST(IndexBuild, ReportsProgressOnlyWhenAskedAndNotSuppressed) {
  IndexTable t(NameKey());
  std::vector<int32_t> keys(1000);
  for (int32_t i = 0; i < 1000; ++i) keys[size_t(i)] = (i * 7919) % 1000;
  PutKeys(t, keys);
  struct Call {
    int percent;
    bool start, finish;
  };
  std::vector<Call> calls;
  TOrvelIndexList& list = t.Indexes();
  list.SetBuildProgress([&](int percent, bool start, bool finish) {
    calls.push_back({percent, start, finish});
  });
  list.CreateAutoIndexes(false);
  list.AddIndex("Quiet", "Key", true, "", "", 0);
  EXPECT_TRUE(calls.empty()) << "suppressed by default";

  list.SetProgressSuppressed(false);
  list.AddIndex("Loud", "Key", true, "", "", 0);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_TRUE(calls.front().start);
  EXPECT_FALSE(calls.front().finish);
  EXPECT_TRUE(calls.back().finish);
  EXPECT_EQ(calls.back().percent, 100);
  for (size_t i = 1; i + 1 < calls.size(); ++i) {
    EXPECT_FALSE(calls[i].start || calls[i].finish);
    EXPECT_GE(calls[i].percent, 0);
    EXPECT_LE(calls[i].percent, 100);
  }

  calls.clear();
  list.InvalidateAll();
  list.BuildIndex(1, false);
  list.RebuildAllIndexes();
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(list.ProgressSuppressed()) << "the rebuild puts the flag back";
}

TEST(IndexBuild, InsertPositionLiesBetweenSmallerAndLarger) {
  for (int32_t n : {0, 1, 2, 3, 4, 5, 7, 8, 9, 16, 31, 100, 1000}) {
    SCOPED_TRACE(n);
    IndexTable t(NameKey());
    std::vector<int32_t> keys;
    for (int32_t i = 0; i < n; ++i) keys.push_back(2 * (i / 3));  // every even key three times
    PutKeys(t, keys);
    t.Indexes().AddIndex("Key", "Key", true, "", "", 0);
    const std::vector<int32_t> order = Order(t.Indexes(), 0);
    for (int32_t x = -1; x <= 2 * (n / 3) + 2; ++x) {
      Bytes probe = t.NewImage();
      t.SetI32(probe, kKey, x);
      const int32_t p = t.Indexes().FindInsertPosition(0, probe.data(), n);
      ASSERT_GE(p, 0);
      ASSERT_LE(p, n);
      for (int32_t q = 0; q < p; ++q) ASSERT_LE(keys[size_t(order[size_t(q)])], x) << x;
      for (int32_t q = p; q < n; ++q) ASSERT_GE(keys[size_t(order[size_t(q)])], x) << x;
      if (n > 0 && x % 2 == 0 && x <= keys.back()) {
        ASSERT_LT(p, n);
        EXPECT_EQ(keys[size_t(order[size_t(p)])], x) << "goes in front of an equal entry";
      }
    }
  }
}

TEST(IndexBuild, FindRecordPositionWalksAmongEqualKeys) {
  IndexTable t(NameKey());
  std::vector<int32_t> keys(60, 5);
  keys.insert(keys.end(), {1, 9, 5, 0});
  PutKeys(t, keys);
  TOrvelIndexList& list = t.Indexes();
  list.AddIndex("Key", "Key", true, "", "", 0);
  const TmvIntArray& order = list.Array(0);
  for (int32_t r = 0; r < t.RecordCount(); ++r) {
    const int32_t p = list.FindRecordPosition(0, r);
    ASSERT_GE(p, 0) << r;
    EXPECT_EQ(order[p], r);
  }
  // Among the first entries only.
  const int32_t last_entry = order[t.RecordCount() - 1];
  EXPECT_EQ(list.FindRecordPosition(0, last_entry, t.RecordCount() - 1), -1);
  EXPECT_EQ(list.FindRecordPosition(0, -1), -1);
  EXPECT_EQ(list.FindRecordPosition(0, t.RecordCount()), -1);
  EXPECT_EQ(t.LockedPages(), 0u);
}

class StringSort : public testing::LocaleFixture<&InitCollation> {};

// Long strings with shared heads, case pairs, Cyrillic, empty and null values, and slots
// without a terminator, sorted under each way an index can order a string.
TEST_F(StringSort, StringKeysSortAsTheComparerOrders) {
  const std::vector<FieldHeaderType> fields = {Field("Name", ftString, 18),
                                               Field("Key", ftInteger)};
  std::mt19937 random(7);
  const std::vector<std::string> pieces = {"a", "A", "b", "Б", "б", "ё", "Ё", "z", " ", "-"};
  auto fill = [&](IndexTable& t) {
    for (int i = 0; i < 3000; ++i) {
      Bytes image = t.NewImage();
      const uint32_t kind = random() % 20;
      if (kind == 0) {
        std::memset(t.Slot(image, kName), 'q', 19);
      } else if (kind != 1) {
        std::string name = kind < 8 ? "Common head of a " : "";
        for (uint32_t n = random() % 6; n > 0; --n) name += pieces[random() % pieces.size()];
        t.SetString(image, kName, name.substr(0, 18));
      }
      t.SetI32(image, kKey, static_cast<int32_t>(random() % 5));
      t.Put(std::move(image));
    }
  };
  for (const char* locale : {"ru_RU.UTF-8", "C"}) {
    Use(locale);
    IndexTable t(fields);
    fill(t);
    TOrvelIndexList& list = t.Indexes();
    list.AddIndex("Up", "Name", true, "", "", 0);
    list.AddIndex("Down", "Name", true, "", "Name", 0);
    list.AddIndex("NoCase", "Name", true, "Name", "", 0);
    list.AddIndex("NoCaseDown", "Name", true, "", "", kIxDescending | kIxCaseInsensitive);
    list.AddIndex("NameKey", "Name;Key", true, "Name", "Key", 0);
    SCOPED_TRACE(locale);
    t.ExpectIndexesInOrder();
    EXPECT_EQ(t.LockedPages(), 0u);
  }
  // Ranks that are not a permutation leave the comparisons to the locale.
  std::array<uint8_t, 256> ties{};
  for (int c = 0; c < 256; ++c) ties[c] = static_cast<uint8_t>(c / 2);
  InitCollationWithRanks(ties);
  IndexTable t(fields);
  fill(t);
  t.Indexes().AddIndex("Up", "Name", true, "Name", "", 0);
  t.ExpectIndexesInOrder();
}

// Hands out a random record's image on every read: comparisons that contradict each other.
class ChaosSource : public TRecordSource {
 public:
  ChaosSource(IndexTable& table, uint32_t seed) : table_(table), random_(seed) {}
  int32_t RecordCount() const override { return table_.RecordCount(); }
  const uint8_t* GetRecordPtr(int32_t) override {
    return table_.Image(static_cast<int32_t>(random_() % uint32_t(RecordCount()))).data();
  }
  void LockRecordPage(int32_t) override { ++locks_; }
  void UnlockRecordPage(int32_t) override { --locks_; }
  int locks_ = 0;

 private:
  IndexTable& table_;
  std::mt19937 random_;
};

TEST(IndexBuild, ContradictoryKeysEndInOrderOrInTheSortingError) {
  IndexTable t(NameKey());
  std::vector<int32_t> keys;
  for (int32_t i = 0; i < 2000; ++i) keys.push_back(i % 13);
  PutKeys(t, keys);
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    ChaosSource chaos(t, seed);
    TOrvelIndexList list(t.Files(), chaos);
    try {
      list.InternalAddIndex("Key", {"Key"}, false, false, 0, {false}, {false});
      std::vector<int32_t> sorted = Order(list, 0);
      std::sort(sorted.begin(), sorted.end());
      for (int32_t r = 0; r < 2000; ++r) ASSERT_EQ(sorted[size_t(r)], r);
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "TOrvelDataManager.BuildIndex - Sorting error");
      EXPECT_EQ(list.Count(), 0);
    }
    EXPECT_EQ(chaos.locks_, 0);
  }
}

// Fails the read that comes after a given number of reads.
class FailingTable : public IndexTable {
 public:
  FailingTable() : IndexTable(NameKey()) {}
  const uint8_t* GetRecordPtr(int32_t record_no) override {
    if (reads_left_ >= 0 && reads_left_-- == 0) throw Exception("page cannot be read");
    return IndexTable::GetRecordPtr(record_no);
  }
  int64_t reads_left_ = -1;
};

TEST(IndexBuild, FailedBuildLeavesTheIndexToBeSortedAgain) {
  FailingTable t;
  std::vector<int32_t> keys;
  for (int32_t i = 0; i < 500; ++i) keys.push_back(500 - i);
  PutKeys(t, keys);
  TOrvelIndexList& list = t.Indexes();
  list.AddIndex("Key", "Key", true, "", "", 0);
  list.InvalidateAll();
  t.reads_left_ = 700;
  EXPECT_THROW(list.BuildIndex(0, false), Exception);
  EXPECT_FALSE(list.IsValid(0));
  EXPECT_EQ(t.LockedPages(), 0u);
  list.BuildIndex(0, false);
  t.ExpectIndexesInOrder();

  t.reads_left_ = 10;
  EXPECT_THROW(list.AddIndex("Other", "Name", true, "", "", 0), Exception);
  EXPECT_FALSE(list.IndexExists("Other")) << "a half-made index is not kept";
}

}  // namespace
}  // namespace orv
