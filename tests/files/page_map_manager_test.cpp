#include "engine/files/page_map_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/files/free_space_manager.h"
#include "engine/files/sorted_arrays.h"
#include "tests/files/container_fixture.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::ContainerTest;
using testing::GetFile;
using testing::ItemOf;
using testing::MessageOf;
using testing::PatternBytes;
using testing::PutFile;

constexpr int32_t kNormalPayload = 4064;

class PageMapTest : public ContainerTest {
 protected:
  int64_t SetSize(TOSingleFileSystem& fs, const std::string& path, int64_t size) {
    const int32_t handle = fs.FileOpen(path, kOpenModeReadWriteDenyWrite);
    const int64_t result = fs.FileSetSize(handle, size);
    fs.FileClose(handle);
    return result;
  }
};

TEST_F(PageMapTest, AFileOneEntryPastAMapPageGetsASecondMapPage) {
  auto fs = Create(dfmNormal);
  ASSERT_EQ(fs->PageMaps().EntriesPerPage(), 1016);
  fs->FileCreate("big.dat");
  ASSERT_EQ(SetSize(*fs, "big.dat", 1017LL * kNormalPayload), 1017LL * kNormalPayload);
  TFileMaps maps = fs->PageMaps().GetMaps(ItemOf(*fs, "big.dat"));
  ASSERT_EQ(maps.MapPages.ItemCount(), 2);
  ASSERT_EQ(maps.DataPages.ItemCount(), 1017);
  const int32_t first_map = maps.MapPages[0];
  const int32_t second_map = maps.MapPages[1];
  const int32_t last_data = maps.DataPages[1016];

  ASSERT_EQ(SetSize(*fs, "big.dat", 1016LL * kNormalPayload), 1016LL * kNormalPayload);
  EXPECT_TRUE(fs->FreeSpace().PageIsFree(second_map));
  EXPECT_TRUE(fs->FreeSpace().PageIsFree(last_data));
  EXPECT_FALSE(fs->FreeSpace().PageIsFree(first_map));
  TPage page;
  ASSERT_TRUE(fs->PageFile().ReadPage(page, first_map, 0));
  EXPECT_EQ(page.Header.NextPageNo, -1);
  EXPECT_EQ(page.Header.PageType, kPageTypePageMap);

  fs.reset();
  fs = Open();
  maps = fs->PageMaps().GetMaps(ItemOf(*fs, "big.dat"));
  EXPECT_EQ(maps.MapPages.ItemCount(), 1);
  EXPECT_EQ(maps.DataPages.ItemCount(), 1016);
  EXPECT_EQ(GetFile(*fs, "big.dat"), Bytes(1016 * size_t(kNormalPayload), 0));
  fs.reset();
  ExpectClean();
}

TEST_F(PageMapTest, ALargeFileTakesWhollyFreeExtentsForItsFurtherPages) {
  auto fs = Create(dfmNormal);
  PutFile(*fs, "small.dat", PatternBytes(100));
  PutFile(*fs, "big.dat", PatternBytes(3 * kNormalPayload));
  // Opens a shared extent that uniform requests must leave alone.
  PutFile(*fs, "other.dat", PatternBytes(100));
  const int32_t handle = fs->FileOpen("big.dat", kOpenModeReadWriteDenyWrite);
  const Bytes more = PatternBytes(20 * kNormalPayload, 2);
  fs->FileSeek(handle, 2, 0);
  ASSERT_EQ(fs->FileWrite(handle, more.data(), int64_t(more.size())), int64_t(more.size()));
  fs->FileClose(handle);

  const TFileMaps& maps = fs->PageMaps().GetMaps(ItemOf(*fs, "big.dat"));
  ASSERT_EQ(maps.DataPages.ItemCount(), 23);
  const int32_t E = 8;
  // Past the extent of its last page, every page comes from an extent the file owns alone.
  const int32_t first_extent = (maps.DataPages[2] - 1) / E;
  for (int32_t i = 3; i < maps.DataPages.ItemCount(); ++i) {
    const int32_t extent = (maps.DataPages[i] - 1) / E;
    if (extent == first_extent) continue;
    EXPECT_FALSE(fs->FreeSpace().ExtentIsShared(extent)) << i;
    if (i > 3 && extent != (maps.DataPages[i - 1] - 1) / E) {
      EXPECT_EQ((maps.DataPages[i] - 1) % E, 0) << "page " << i << " does not open its extent";
    }
  }
}

TEST_F(PageMapTest, ManyFilesOutgrowTheCacheAndStillReadBack) {
  auto fs = Create(dfmCompact);
  for (int i = 0; i < 130; ++i)
    PutFile(*fs, "f" + std::to_string(i), PatternBytes(2100, uint32_t(i)));
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < 130; ++i)
      ASSERT_EQ(GetFile(*fs, "f" + std::to_string(i)), PatternBytes(2100, uint32_t(i))) << i;
}

TEST_F(PageMapTest, MisuseIsRefusedWithItsMessage) {
  auto fs = Create();
  fs->FileCreate("empty.dat");
  TDirItem item = ItemOf(*fs, "empty.dat");
  TUserFilePageMapManager& maps = fs->PageMaps();
  EXPECT_EQ(MessageOf([&] { maps.GetMaps(item); }),
            "TUserFilePageMapManager.GetMaps - Invalid parameter FileRec.FirstMapPageNo");
  EXPECT_EQ(MessageOf([&] { maps.AppendPages(item, 0, true); }),
            "TUserFilePageMapManager.AppendPages - PageCount <= 0.");
  EXPECT_EQ(MessageOf([&] { maps.DeletePagesFromEOF(item, 1); }),
            "TUserFilePageMapManager.DeletePagesFromEOF - File map not exists.");
  // Sizes past what a stored file may hold are a lack of space, not an allocation.
  EXPECT_FALSE(maps.SetPageCount(item, kMaxStoredFileSize + 1, true));
  EXPECT_EQ(maps.LastError(), kErrorNoSpace);
  const int32_t handle = fs->FileOpen("empty.dat", kOpenModeReadWriteDenyWrite);
  fs->FileSeek(handle, 0, int64_t(1) << 40);
  uint8_t byte = 1;
  EXPECT_EQ(fs->FileWrite(handle, &byte, 1), 0);
  EXPECT_EQ(fs->LastError(), kOsfsErrorNoSpace);
  EXPECT_EQ(ItemOf(*fs, "empty.dat").FirstMapPageNo, -1);
}

TEST(SortedPtrArrayTest, KeepsValuesByKeyAndHandsOutFreshKeys) {
  TSortedPtrArray<std::string> array;
  const int32_t a = array.NewKey();
  const int32_t b = array.NewKey();
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  array.Insert(b, std::make_unique<std::string>("b"));
  array.Insert(a, std::make_unique<std::string>("a"));
  array.Insert(40, std::make_unique<std::string>("x"));
  std::string order;
  array.ForEach([&](int32_t, const std::string& value) { order += value; });
  EXPECT_EQ(order, "abx");
  array.Delete(a);
  EXPECT_EQ(array.Find(a), nullptr);
  EXPECT_EQ(*array.Find(b), "b");
  EXPECT_EQ(array.NewKey(), 3);
  EXPECT_EQ(MessageOf([&] { array.Delete(7); }),
            "TSortedPtrArray.Delete - element not found, key = 7, itemCount = 2");
  array.Clear();
  EXPECT_EQ(MessageOf([&] { array.Delete(b); }), "TSortedPtrArray.Delete - no elements in array!");
}

TEST(IntegerArrayTest, GrowsKeepingItsItems) {
  TIntegerArray array(2, 8);
  for (int32_t i = 0; i < 1000; ++i) array.Add(i * 3);
  const int32_t more[] = {-1, -2};
  array.AddRange(more, 2);
  ASSERT_EQ(array.ItemCount(), 1002);
  EXPECT_EQ(array[999], 2997);
  EXPECT_EQ(array.Last(), -2);
  array.Truncate(10);
  EXPECT_EQ(array.ItemCount(), 10);
  EXPECT_EQ(MessageOf([&] { array.Truncate(11); }),
            "TIntegerArray.Truncate - invalid count = 11, itemCount = 10");
}

}  // namespace
}  // namespace orv
