#include "engine/storage/records_array.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/exception.h"
#include "platform/memory.h"

namespace orv {
namespace {

using ::testing::ThrowsMessage;

constexpr int32_t kSize = 8;

// The table behind the cache: the newest image of every record (what the log and the .dat
// would give), with a count of the page loads that reached it.
class FakeTable : public TRecordsPageOwner {
 public:
  int32_t RecordCount() const override { return static_cast<int32_t>(images.size()); }
  void ReadRecordImages(int32_t first, int32_t count, uint8_t* destination) override {
    if (fail_loads) throw Exception("the file cannot be read");
    ++loads;
    for (int32_t i = 0; i < count; ++i)
      std::memcpy(destination + i * kSize, images.at(static_cast<size_t>(first + i)).data(), kSize);
  }

  static std::vector<uint8_t> Image(int32_t value) {
    std::vector<uint8_t> image(kSize, 0);
    std::memcpy(image.data(), &value, sizeof value);
    return image;
  }
  // What the data manager does: the cache first, then the count.
  void Append(TmvRecordsArray& cache, int32_t value) {
    cache.AppendRecord(Image(value).data());
    images.push_back(Image(value));
  }
  // The delete of the data manager: the last record takes the number.
  void Delete(TmvRecordsArray& cache, int32_t record_no) {
    std::vector<uint8_t> moved = images.back();
    images.pop_back();
    if (record_no < RecordCount()) images[static_cast<size_t>(record_no)] = moved;
    cache.DeleteRecord(record_no, moved.data());
  }

  std::vector<std::vector<uint8_t>> images;
  int loads = 0;
  bool fail_loads = false;
};

int32_t ValueOf(TmvRecordsArray& cache, int32_t record_no) {
  int32_t value;
  std::memcpy(&value, cache.GetRecordPtr(record_no), sizeof value);
  return value;
}

TEST(RecordsArrayTest, WholeTableModeKeepsAppendedRecordsWithoutReadingThem) {
  FakeTable table;
  TmvRecordsArray cache(table, kSize, 1000, false);
  EXPECT_TRUE(cache.WholeTableMode());
  EXPECT_EQ(cache.RecordsPerPage(), 334);
  EXPECT_EQ(cache.SlotCount(), 50);
  for (int32_t i = 0; i < 1000; ++i) table.Append(cache, i * 3);
  for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(ValueOf(cache, i), i * 3);
  EXPECT_EQ(table.loads, 0);
  EXPECT_EQ(cache.CachedPageCount(), 3);

  // Opened on an existing table: one load per page, each page in one call.
  TmvRecordsArray reopened(table, kSize, -1, false);
  EXPECT_EQ(reopened.RecordsPerPage(), 1000);
  for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(ValueOf(reopened, i), i * 3);
  EXPECT_EQ(table.loads, 1);
  // A hint far beyond what memory holds gives pages memory can hold.
  TScopedAvailablePhysicalMemory memory(3 * 50 * 2000 * kSize);
  TmvRecordsArray hinted(table, kSize, 2000000000, false);
  EXPECT_EQ(hinted.RecordsPerPage(), 2000);
  EXPECT_EQ(ValueOf(hinted, 999), 999 * 3);

  EXPECT_THAT([&] { reopened.GetRecordPtr(1000); },
              ThrowsMessage<Exception>("TRecordsPage.GetRecordPtr - Cannot find record"));
  EXPECT_THROW(reopened.GetRecordPtr(-1), Exception);
}

TEST(RecordsArrayTest, AGrowingTableGetsLargerPagesAndFallsBackWhenMemoryRunsOut) {
  FakeTable table;
  // A hint of 3 gives pages of 2 records: 50 slots hold 100 records.
  TmvRecordsArray cache(table, kSize, 3, false);
  ASSERT_EQ(cache.RecordsPerPage(), 2);
  for (int32_t i = 0; i < 100; ++i) table.Append(cache, i);
  EXPECT_FALSE(cache.Evicted());
  table.Append(cache, 100);
  EXPECT_TRUE(cache.Evicted());
  table.Append(cache, 101);  // sets the cache up again before it appends
  EXPECT_TRUE(cache.WholeTableMode());
  EXPECT_FALSE(cache.Evicted());
  EXPECT_GE(cache.RecordsPerPage() * cache.SlotCount(), 2 * 101);
  for (int32_t i = 0; i < 102; ++i) ASSERT_EQ(ValueOf(cache, i), i);

  // A third of memory holds 150 records: past that, the small cache of single records.
  TScopedAvailablePhysicalMemory memory(3 * 150 * kSize);
  for (int32_t i = 102; i < 151; ++i) table.Append(cache, i);
  EXPECT_TRUE(cache.WholeTableMode());
  for (int32_t i = 151; i < 260; ++i) table.Append(cache, i);
  EXPECT_FALSE(cache.WholeTableMode());
  EXPECT_EQ(cache.RecordsPerPage(), 1);
  EXPECT_EQ(cache.SlotCount(), 25);
  for (int32_t i = 0; i < 260; ++i) ASSERT_EQ(ValueOf(cache, i), i);
}

TEST(RecordsArrayTest, ALockedPageHoldsOffTheFallBack) {
  FakeTable table;
  TmvRecordsArray cache(table, kSize, 3, false);
  for (int32_t i = 0; i < 101; ++i) table.Append(cache, i);
  ASSERT_TRUE(cache.Evicted());
  cache.LockRecordPage(100);
  const uint8_t* pinned = cache.GetRecordPtr(100);
  table.Append(cache, 101);
  EXPECT_EQ(cache.RecordsPerPage(), 2);
  EXPECT_EQ(std::memcmp(pinned, FakeTable::Image(100).data(), kSize), 0);
  cache.UnlockRecordPage(100);
  table.Append(cache, 102);
  EXPECT_GT(cache.RecordsPerPage(), 2);
}

// The small cache: 25 single-record slots, slot 0 taken by the last page.
class SmallCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int32_t i = 0; i < 40; ++i) table.images.push_back(FakeTable::Image(i));
    cache.SetTickSource([this] { return now; });
    // Records 0..23 fill the other 24 slots, one millisecond apart.
    for (int32_t i = 0; i < 24; ++i) {
      ++now;
      ValueOf(cache, i);
    }
    ASSERT_EQ(cache.CachedPageCount(), 25);
  }

  FakeTable table;
  TmvRecordsArray cache{table, kSize, 1000, true};
  uint32_t now = 1000;
};

TEST_F(SmallCacheTest, PrefersThePageIdleLongestThenTheLeastUsed) {
  EXPECT_FALSE(cache.WholeTableMode());
  EXPECT_EQ(cache.SlotCount(), 25);
  // Nothing idle for 100 ms: the least used page goes (records 0..23 were read once; 1 more).
  for (int32_t i = 0; i < 24; ++i)
    if (i != 5) ValueOf(cache, i);
  ValueOf(cache, 30);
  EXPECT_FALSE(cache.IsCached(5));
  EXPECT_TRUE(cache.IsCached(39));  // the last page stays

  // Past 100 ms the oldest access goes, however often it was used.
  for (int k = 0; k < 10; ++k) ValueOf(cache, 0);
  now += 50;
  for (int32_t i = 1; i < 24; ++i)
    if (i != 5) ValueOf(cache, i);
  ValueOf(cache, 30);
  now += 200;
  ValueOf(cache, 31);
  EXPECT_FALSE(cache.IsCached(0));
  EXPECT_TRUE(cache.IsCached(1));
  EXPECT_TRUE(cache.IsCached(30));
}

TEST_F(SmallCacheTest, LockedPagesAreNeverReused) {
  for (int32_t i = 0; i < 24; ++i) cache.LockRecordPage(i);
  EXPECT_THAT([&] { ValueOf(cache, 30); },
              ThrowsMessage<Exception>("TmvRecordsArray.GetPageToUse - There are no free pages."));
  cache.UnlockRecordPage(7);
  EXPECT_EQ(ValueOf(cache, 30), 30);
  EXPECT_FALSE(cache.IsCached(7));
  EXPECT_THAT(
      [&] { cache.UnlockRecordPage(7); },
      ThrowsMessage<Exception>("TmvRecordsArray.UnlockRecordPage - Page is already unloaded."));
  EXPECT_THROW(cache.UnlockRecordPage(30), Exception);  // cached, but not locked
}

TEST(RecordsArrayTest, DeletesMoveTheLastRecordAndFreeEmptiedPages) {
  FakeTable table;
  TmvRecordsArray cache(table, kSize, 3, false);  // pages of 2 records
  for (int32_t i = 0; i < 5; ++i) table.Append(cache, i);
  EXPECT_EQ(cache.CachedPageCount(), 3);

  table.Delete(cache, 4);  // the only record of page 2: the page goes, page 1 is the last
  EXPECT_EQ(cache.CachedPageCount(), 2);
  table.Delete(cache, 0);  // record 3 moves into 0
  EXPECT_EQ(ValueOf(cache, 0), 3);
  EXPECT_EQ(cache.CachedPageCount(), 2);
  table.Append(cache, 50);  // page 1 (records 2, 3) takes it
  EXPECT_EQ(ValueOf(cache, 3), 50);
  for (int32_t i = 0; i < 4; ++i) table.Delete(cache, 0);
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_EQ(cache.CachedPageCount(), 1);  // page 0 stays, empty
  table.Append(cache, 9);
  EXPECT_EQ(ValueOf(cache, 0), 9);
  EXPECT_EQ(table.loads, 0);
}

TEST(RecordsArrayTest, ADeleteIntoAnUncachedPageLeavesItToTheNextLoad) {
  FakeTable table;
  for (int32_t i = 0; i < 30; ++i) table.images.push_back(FakeTable::Image(i));
  TmvRecordsArray cache(table, kSize, 1000, true);
  ValueOf(cache, 29);
  ASSERT_FALSE(cache.IsCached(3));
  table.Delete(cache, 3);
  EXPECT_FALSE(cache.IsCached(29));
  EXPECT_EQ(ValueOf(cache, 3), 29);
  EXPECT_EQ(ValueOf(cache, 28), 28);
}

TEST(RecordsArrayTest, APageThatFailsToLoadIsNotKept) {
  FakeTable table;
  for (int32_t i = 0; i < 3; ++i) table.images.push_back(FakeTable::Image(i));
  TmvRecordsArray cache(table, kSize, 1000, true);
  ValueOf(cache, 2);
  table.fail_loads = true;
  EXPECT_THROW(ValueOf(cache, 0), Exception);
  EXPECT_FALSE(cache.IsCached(0));
  table.fail_loads = false;
  EXPECT_EQ(ValueOf(cache, 0), 0);
}

TEST(RecordsPageTest, RefusesWhatItDoesNotHold) {
  FakeTable table;
  TRecordsPage page(table, kSize);
  page.SetMaxRecordCount(2);
  page.ResetPage(3);
  EXPECT_EQ(page.FirstRecordNo(), 6);
  EXPECT_THAT([&] { page.DeleteLastRecord(); },
              ThrowsMessage<Exception>("TRecordsPage.DeleteLastRecord - Page is already empty."));
  page.AppendRecord(FakeTable::Image(6).data());
  page.AppendRecord(nullptr);
  EXPECT_EQ(page.GetRecordPtr(7, 0)[0], 0);
  EXPECT_THAT([&] { page.AppendRecord(nullptr); },
              ThrowsMessage<Exception>("TRecordsPage.AppendRecord - Page overflow."));
  EXPECT_THAT([&] { page.GetRecordPtr(8, 0); },
              ThrowsMessage<Exception>("TRecordsPage.GetRecordPtr - Cannot find record"));
  uint8_t out[2 * kSize];
  page.CopyRecords(6, out, 2);
  EXPECT_EQ(out[0], 6);
  EXPECT_THAT(
      [&] { page.CopyRecords(5, out, 1); },
      ThrowsMessage<Exception>("TRecordsPage.CopyRecords - StartRecNo is not in this page."));
  EXPECT_THAT(
      [&] { page.CopyRecords(7, out, 2); },
      ThrowsMessage<Exception>("TRecordsPage.CopyRecords - Copy more records than available."));
  EXPECT_THAT([&] { page.ReadRecords(6, 3); },
              ThrowsMessage<Exception>("TRecordsPage.ReadRecords - Cannot read so many records."));
  EXPECT_THAT(
      [&] { page.SetMaxRecordCount(-1); },
      ThrowsMessage<Exception>("TRecordsPage.SetMaxRecordCount - Unable to realloc memory."));
  EXPECT_EQ(page.Capacity(), 2);
}

}  // namespace
}  // namespace orv
