#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/files/dir_array.h"
#include "engine/files/dir_manager.h"
#include "engine/files/free_space_manager.h"
#include "tests/files/container_fixture.h"

namespace orv {
namespace {

using testing::ContainerTest;
using ::testing::ElementsAre;
using testing::ItemOf;
using testing::MessageOf;
using testing::PatternBytes;
using testing::PutFile;

class DirectoryTest : public ContainerTest {};

TEST_F(DirectoryTest, ItemsFillTheirDirectoryPageBeforeANewOneIsLinked) {
  std::vector<int32_t> pages;
  {
    auto fs = Create(dfmNormal);
    for (int i = 0; i < 8; ++i) {
      ASSERT_EQ(fs->FileCreate("f" + std::to_string(i)), i);
      pages = fs->Directory().PageNumbers();
      ASSERT_EQ(pages.size(), i < 7 ? 1u : 2u) << i;
    }
    EXPECT_EQ(pages[0], 4);
    const TContainerHeader& header = fs->PageFile().Header();
    EXPECT_EQ(header.FirstDirPageNo, 4);
    EXPECT_EQ(header.DirPageCount, 2);
    EXPECT_EQ(header.DirItemCount, 8);
  }
  TPageFileManager file(Path(), kOpenModeReadShared, "", "", "", false, 0, 0, -1, &env_);
  TPage page;
  ASSERT_TRUE(file.ReadPage(page, 4, 0));
  EXPECT_EQ(page.Header.NextPageNo, pages[1]);
  EXPECT_EQ(page.Header.PageType, kPageTypeDirectory);
  ASSERT_TRUE(file.ReadPage(page, pages[1], 0));
  EXPECT_EQ(page.Header.NextPageNo, -1);

  auto fs = Open();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(fs->Directory().ResolvePath("F" + std::to_string(i)), i);
}

TEST_F(DirectoryTest, LongDirectoriesGrowFromWhollyFreeExtents) {
  // dfmCompact holds 3 items a page; the fourth directory page comes from a fresh extent, which
  // stays the directory's own only when the directory counts as long.
  for (const int32_t long_after : {1, 8}) {
    SCOPED_TRACE(long_after);
    SetDirectoryExtentPageCount(long_after);
    auto fs = Create(dfmCompact);
    for (int i = 0; i < 10; ++i) fs->FileCreate("f" + std::to_string(i));
    SetDirectoryExtentPageCount(8);
    const std::vector<int32_t>& pages = fs->Directory().PageNumbers();
    ASSERT_EQ(pages.size(), 4u);
    const int32_t extent = (pages[3] - 1) / 2;
    EXPECT_EQ(fs->FreeSpace().ExtentIsShared(extent), long_after == 8);
  }
}

TEST_F(DirectoryTest, NamesAreStoredAndFoundCutTo259Characters) {
  auto fs = Create();
  const std::string long_name(300, 'n');
  PutFile(*fs, long_name, PatternBytes(3));
  EXPECT_EQ(ItemOf(*fs, long_name).FileName, std::string(259, 'n'));
  EXPECT_TRUE(fs->FileExists(std::string(259, 'N')));
  EXPECT_TRUE(fs->FileExists(long_name + "tail"));
  fs.reset();
  fs = Open();
  TOSFSSearchRec rec;
  ASSERT_EQ(fs->FindFirst("\\n*", 0, rec), 0);
  EXPECT_EQ(rec.Name, std::string(259, 'n'));
  fs->FindClose(rec);
}

TEST(DirectoryMaskTest, MasksMatchFromTheLeft) {
  struct Case {
    const char* name;
    const char* mask;
    bool matches;
  };
  for (const Case& c : {
           Case{"a.dat", "*.dat", true}, Case{"A.DAT", "*.dat", true}, Case{"a.dat", "*.*", true},
           Case{"abc", "*.*", true},  // "*.*" takes whatever is left
           Case{"abc", "a*.*", true}, Case{"abc", "*", true}, Case{"", "*", true},
           Case{"a.dat", "?.dat", true}, Case{"ab.dat", "?.dat", false},
           Case{"a.datx", "*.dat", false}, Case{"x.dat.dat", "*.dat", true},
           Case{"abcabd", "*abd", true}, Case{"abc", "abc?", false}, Case{"abc", "abc*", true},
           Case{"a", "", false}, Case{"", "", true}, Case{"@", "`", true},  // codes 32 apart
           Case{"\xC0\xE1\xE2", "\xE0\xC1*", true},                         // cp1251 letters too
       }) {
    SCOPED_TRACE(std::string(c.name) + " / " + c.mask);
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches);
  }
  // Many stars against a long name stay linear enough to finish at once.
  EXPECT_FALSE(MatchesMask(std::string(259, 'a'), "*a*a*a*a*a*a*a*a*a*a*b"));
}

TDirItem Named(const std::string& name, int32_t parent) {
  TDirItem item;
  item.FileName = name;
  item.ParentID = parent;
  return item;
}

TEST(DirArrayTest, IndexesFollowRenamesMovesAndDeletes) {
  TDIRArray items;
  ASSERT_EQ(items.AddItem(Named("dir", -1)), 0);
  ASSERT_EQ(items.AddItem(Named("a", -1)), 1);
  ASSERT_EQ(items.AddItem(Named("a", 0)), 2);
  ASSERT_EQ(items.AddItem(Named("b", 0)), 3);
  EXPECT_EQ(items.FindChild(-1, "A"), 1);
  EXPECT_EQ(items.FindChild(0, "A"), 2);
  EXPECT_THAT(items.Children(0), ElementsAre(2, 3));

  items.UpdateItem(1, Named("c", 0));  // move and rename
  EXPECT_EQ(items.FindChild(-1, "a"), -1);
  EXPECT_EQ(items.FindChild(0, "c"), 1);
  EXPECT_THAT(items.Children(0), ElementsAre(1, 2, 3));
  EXPECT_THAT(items.Children(-1), ElementsAre(0));

  TDirItem deleted = Named("b", 0);
  deleted.Deleted = 1;
  items.UpdateItem(3, deleted);
  EXPECT_EQ(items.FindChild(0, "b"), -1);
  EXPECT_EQ(items.IndexedCount(), 3);
  items.UpdateItem(3, Named("b", 0));
  EXPECT_EQ(items.FindChild(0, "b"), 3);
  EXPECT_TRUE(items.HasChildren(0));
  EXPECT_FALSE(items.HasChildren(2));

  EXPECT_EQ(MessageOf([&] { items.ReadItem(4); }), "TDIRArray.ReadItem - invalid itemNo = 4");
  EXPECT_EQ(MessageOf([&] { items.UpdateItem(-1, Named("x", -1)); }),
            "TDIRArray.UpdateItem - invalid itemNo = -1");
  EXPECT_EQ(MessageOf([&] { items.SetSize(2); }),
            "TDIRArray.SetSize - newSize < itemCount error.  newSize = 2 itemCount = 4");
}

TEST(DirArrayTest, ItemsKeepTheirBytesThroughEncodeAndDecode) {
  TDirItem item = Named("name.dat", 7);
  item.FirstMapPageNo = 12;
  item.Size = (int64_t(1) << 40) + 3;
  item.CreationTime = 1;
  item.LastWriteTime = 2;
  item.LastAccessTime = 3;
  item.Attributes = kAttrDirectory;
  item.IsDirectory = 1;
  item.Encrypted = 1;
  item.PasswordArea[0] = 0xAB;
  item.PasswordArea[171] = 0xCD;
  uint8_t block[kDirItemSize];
  item.Encode(block);
  EXPECT_EQ(block[224], 'n');
  EXPECT_EQ(block[232], 0);
  TDirItem back;
  EXPECT_TRUE(back.Decode(block));
  EXPECT_EQ(back, item);

  std::fill(block + 224, block + 224 + kItemNameField, 'x');
  EXPECT_FALSE(back.Decode(block));
  EXPECT_EQ(back.FileName, std::string(259, 'x'));
}

}  // namespace
}  // namespace orv
