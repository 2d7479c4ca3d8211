#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/index_list.h"
#include "platform/exception.h"
#include "tests/storage/index_table.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::Field;
using testing::IndexTable;

enum : int32_t { kName, kKey, kPrice };

std::vector<FieldHeaderType> Fields() {
  return {Field("Name", ftString, 12), Field("Key", ftInteger), Field("Price", ftFloat)};
}

// Keys kept beside the table, so that the key index can be checked against a plain sort.
struct Model {
  std::vector<int32_t> keys;  // by physical record number; INT32_MIN for null
};

constexpr int32_t kNull = INT32_MIN;

class Maintenance : public ::testing::Test {
 protected:
  Maintenance() : t_(Fields()) {}

  void SetUp() override {
    t_.Indexes().SetTickSource([this] { return tick_; });
    t_.Indexes().CreateAutoIndexes(true);  // @ID @@Name @Name @Key @Price
    t_.Indexes().AddIndex("KeyNameDown", "Key;Name", true, "", "Name", 0);
    t_.Indexes().AddIndex("PriceDown", "Price", true, "", "", kIxDescending);
    key_index_ = t_.Indexes().IndexNo("@Key");
  }

  Bytes RandomImage(int32_t& key) {
    Bytes image = t_.NewImage();
    key = random_() % 8 == 0 ? kNull : static_cast<int32_t>(random_() % 20);
    if (key != kNull) t_.SetI32(image, kKey, key);
    static const char* const names[] = {"Volga", "volga", "Чайка", "чайка", "ЗИЛ", "", "Gaz"};
    if (random_() % 10 != 0) t_.SetString(image, kName, names[random_() % 7]);
    if (random_() % 10 != 0) t_.SetF64(image, kPrice, (random_() % 50) / 4.0);
    return image;
  }

  int32_t RandomIndex() {
    return static_cast<int32_t>(random_() % uint32_t(t_.Indexes().Count() + 1)) - 1;
  }

  void ExpectKeyIndexMatchesModel() {
    if (!t_.Indexes().IsValid(key_index_)) return;
    std::vector<int32_t> expected = model_.keys, actual;
    std::sort(expected.begin(), expected.end());  // null (INT32_MIN) first
    for (int32_t r : t_.Indexes().Array(key_index_)) actual.push_back(model_.keys[size_t(r)]);
    ASSERT_EQ(actual, expected);
  }

  void Append() {
    int32_t key;
    Bytes image = RandomImage(key);
    const int32_t current = RandomIndex();
    const int32_t record_no = t_.RecordCount();
    model_.keys.push_back(key);
    const int32_t position = t_.Append(std::move(image), current);
    if (current >= 0 && t_.Indexes().IsValid(current)) {
      ASSERT_EQ(t_.Indexes().Array(current)[position], record_no);
    }
  }

  void Update() {
    const auto r = static_cast<int32_t>(random_() % uint32_t(t_.RecordCount()));
    int32_t key;
    Bytes image = RandomImage(key);
    const auto id_offset = static_cast<size_t>(t_.Geometry().IdentifierOffset());
    std::copy_n(t_.Image(r).begin() + id_offset, 4, image.begin() + id_offset);
    const int32_t current = RandomIndex();
    const bool tracked = current >= 0 && t_.Indexes().IsValid(current);
    const int32_t before = tracked ? t_.Indexes().FindRecordPosition(current, r) : -1;
    model_.keys[size_t(r)] = key;
    const int32_t position = t_.Update(r, image, current);
    if (tracked && t_.Indexes().IsValid(current)) {
      // Counted in the array that still held the record at its old place.
      const int32_t now = position > before ? position - 1 : position;
      ASSERT_EQ(t_.Indexes().Array(current)[now], r);
    }
  }

  void Delete() {
    const auto r = static_cast<int32_t>(random_() % uint32_t(t_.RecordCount()));
    const int32_t current = RandomIndex();
    const int32_t last = t_.RecordCount() - 1;
    model_.keys[size_t(r)] = model_.keys.back();
    model_.keys.pop_back();
    const int32_t position = t_.Delete(r, current);
    if (r == last) {
      ASSERT_EQ(position, 0);
    } else if (current >= 0 && t_.Indexes().IsValid(current)) {
      ASSERT_EQ(t_.Indexes().Array(current)[position], r);
    }
  }

  void RandomChange(int32_t low, int32_t high) {
    const uint32_t roll = random_() % 3;
    if (t_.RecordCount() <= low || (roll == 0 && t_.RecordCount() < high))
      Append();
    else if (roll == 1 || t_.RecordCount() >= high)
      Delete();
    else
      Update();
  }

  IndexTable t_;
  Model model_;
  std::mt19937 random_{20240611};
  uint32_t tick_ = 50000;
  int32_t key_index_ = -1;
};

TEST_F(Maintenance, RandomChangesKeepEveryIndexInOrder) {
  for (int step = 0; step < 1500; ++step) {
    RandomChange(12, 60);
    tick_ += 3;
    ASSERT_NO_FATAL_FAILURE(t_.ExpectIndexesInOrder()) << "step " << step;
    ASSERT_NO_FATAL_FAILURE(ExpectKeyIndexMatchesModel()) << "step " << step;
    for (int32_t i = 0; i < t_.Indexes().Count(); ++i)
      ASSERT_TRUE(t_.Indexes().IsValid(i)) << "more than 10 records keep every index";
  }
  EXPECT_EQ(t_.LockedPages(), 0u);
}

TEST_F(Maintenance, SmallTablesFallBackToTheCurrentIndexAndRebuildOnDemand) {
  for (int step = 0; step < 1500; ++step) {
    RandomChange(0, 10);
    tick_ += step % 200 == 0 ? 1000 : 1;
    ASSERT_NO_FATAL_FAILURE(t_.ExpectIndexesInOrder()) << "step " << step;
    ASSERT_NO_FATAL_FAILURE(ExpectKeyIndexMatchesModel()) << "step " << step;
  }
  t_.Indexes().BuildAllIndexes();
  for (int32_t i = 0; i < t_.Indexes().Count(); ++i) EXPECT_TRUE(t_.Indexes().IsValid(i));
  t_.ExpectIndexesInOrder();
  ExpectKeyIndexMatchesModel();
}

TEST_F(Maintenance, BurstOfChangesOnTenRecordsKeepsOnlyTheCurrentIndex) {
  struct Case {
    int32_t records;
    int changes;
    bool all_kept;
  } cases[] = {{10, 101, true}, {10, 102, false}, {11, 300, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.records << " records, " << c.changes << " changes");
    IndexTable t(Fields());
    uint32_t tick = 7000;
    t.Indexes().SetTickSource([&tick] { return tick; });
    for (int32_t i = 0; i < c.records; ++i) {
      Bytes image = t.NewImage();
      t.SetI32(image, kKey, i);
      t.Put(std::move(image));
    }
    t.Indexes().CreateAutoIndexes(true);
    const int32_t current = t.Indexes().IndexNo("@Key");
    for (int change = 0; change < c.changes; ++change) {
      Bytes image = t.Image(change % c.records);
      t.SetI32(image, kKey, 1000 - change);
      t.Update(change % c.records, image, current);
      tick += 999;  // every change less than a second after the one before
    }
    EXPECT_TRUE(t.Indexes().IsValid(current));
    for (int32_t i = 0; i < t.Indexes().Count(); ++i)
      EXPECT_EQ(t.Indexes().IsValid(i), c.all_kept || i == current) << t.Indexes().Header(i).Name;
    t.ExpectIndexesInOrder();

    // A pause ends the burst.
    tick += 1000;
    EXPECT_TRUE(t.Indexes().ShouldMaintainAllIndexes());
  }
}

TEST_F(Maintenance, UnchangedKeyKeepsItsPlace) {
  for (int i = 0; i < 20; ++i) Append();
  const int32_t current = t_.Indexes().IndexNo("@Key");
  const int32_t r = 7;
  const int32_t before = t_.Indexes().FindRecordPosition(current, r);
  const std::vector<int32_t> order(t_.Indexes().Array(current).begin(),
                                   t_.Indexes().Array(current).end());
  Bytes image = t_.Image(r);
  t_.SetString(image, kName, "changed");
  EXPECT_EQ(t_.Update(r, image, current), before);
  EXPECT_EQ(
      std::vector<int32_t>(t_.Indexes().Array(current).begin(), t_.Indexes().Array(current).end()),
      order);
  t_.ExpectIndexesInOrder();
}

TEST_F(Maintenance, DeletingAMissingRecordChangesNoIndex) {
  for (int i = 0; i < 15; ++i) Append();
  std::vector<std::vector<int32_t>> before;
  for (int32_t i = 0; i < t_.Indexes().Count(); ++i)
    before.emplace_back(t_.Indexes().Array(i).begin(), t_.Indexes().Array(i).end());
  try {
    t_.Indexes().RecordDeleting(t_.RecordCount(), 0);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "TOrvelDataManager.mvDeleteRecord - invalid record Number, recPos = 15");
  }
  for (int32_t i = 0; i < t_.Indexes().Count(); ++i) {
    EXPECT_TRUE(t_.Indexes().IsValid(i));
    EXPECT_EQ(std::vector<int32_t>(t_.Indexes().Array(i).begin(), t_.Indexes().Array(i).end()),
              before[size_t(i)]);
  }
}

}  // namespace
}  // namespace orv
