// Damaged containers: every fault must end in a clear exception (or, for the checker, a finding),
// never a crash, a hang or a huge allocation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/files/free_space_manager.h"
#include "engine/files/little_endian.h"
#include "engine/files/page_map_manager.h"
#include "tests/files/container_fixture.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::ContainerTest;
using testing::GetFile;
using ::testing::HasSubstr;
using testing::MessageOf;
using testing::PatternBytes;
using testing::PutFile;

constexpr int32_t kPageSize = 2048;
constexpr int32_t kPayload = 2016;
constexpr int64_t kPartHeader = 280;

// What the damage needs to know of the container it damages.
struct Layout {
  std::vector<int32_t> dir_pages;
  int32_t a = -1, b = -1, d = -1, c = -1;  // item numbers: a.dat, b.dat, d, d\c.dat
  std::vector<int32_t> a_maps, a_data, b_data;
  int32_t page_count = 0;
  int32_t free_page = -1;
};

using Damage = std::function<void(TPageFileManager&, const Layout&)>;

// Reads a page as stored, lets fn change its header or payload and writes it back with a
// matching checksum.
void EditPage(TPageFileManager& pages, int32_t page_no, int32_t size,
              const std::function<void(TPageHeader&, uint8_t*)>& fn) {
  std::vector<uint8_t> payload(static_cast<size_t>(kPayload));
  TPage page{{}, payload.data()};
  ASSERT_TRUE(pages.ReadPage(page, page_no, size, {}, true));
  fn(page.Header, payload.data());
  ASSERT_TRUE(pages.WritePage(page, page_no, {}, size));
}

void EditItem(TPageFileManager& pages, const Layout& layout, int32_t item_no,
              const std::function<void(TDirItem&)>& fn) {
  const int32_t per_page = kPayload / kDirItemSize;
  EditPage(pages, layout.dir_pages[size_t(item_no / per_page)], per_page * kDirItemSize,
           [&](TPageHeader&, uint8_t* payload) {
             uint8_t* block = payload + (item_no % per_page) * kDirItemSize;
             TDirItem item;
             item.Decode(block);
             fn(item);
             item.Encode(block);
           });
}

void SetMapEntry(TPageFileManager& pages, int32_t map_page, int32_t index, int32_t value) {
  EditPage(pages, map_page, kPayload,
           [&](TPageHeader&, uint8_t* payload) { StoreI32(payload + 4 * index, value); });
}

void SetPFSBit(TPageFileManager& pages, int32_t page_no, bool free) {
  EditPage(pages, 1, kPayload, [&](TPageHeader&, uint8_t* payload) {
    const int32_t bit = page_no - 1;
    payload[bit / 8] = free ? uint8_t(payload[bit / 8] | 1 << (bit % 8))
                            : uint8_t(payload[bit / 8] & ~(1 << (bit % 8)));
  });
}

void FlipStoredByte(const std::string& path, int32_t page_no, int32_t offset) {
  Bytes raw = testing::ReadFileBytes(path);
  raw[size_t(kPartHeader + int64_t(page_no) * kPageSize + offset)] ^= 0x5A;
  testing::WriteFileBytes(path, raw);
}

class ContainerCorruptTest : public ContainerTest {
 protected:
  void SetUp() override {
    {
      auto fs = Create(dfmCompact);
      // Two map pages: M = 504 entries.
      PutFile(*fs, "a.dat", PatternBytes(505 * size_t(kPayload) - 7, 1));
      PutFile(*fs, "b.dat", PatternBytes(100, 2));
      PutFile(*fs, "c.dat", PatternBytes(10, 3));
      EXPECT_TRUE(fs->RenameFile("c.dat", "d\\c.dat"));
      TDIRManager& dir = fs->Directory();
      layout_.dir_pages = dir.PageNumbers();
      layout_.a = dir.ResolvePath("a.dat");
      layout_.b = dir.ResolvePath("b.dat");
      layout_.d = dir.ResolvePath("d");
      layout_.c = dir.ResolvePath("d\\c.dat");
      const TFileMaps a = fs->PageMaps().GetMaps(dir.ReadItem(layout_.a));
      layout_.a_maps.assign(a.MapPages.begin(), a.MapPages.end());
      layout_.a_data.assign(a.DataPages.begin(), a.DataPages.end());
      const TFileMaps b = fs->PageMaps().GetMaps(dir.ReadItem(layout_.b));
      layout_.b_data.assign(b.DataPages.begin(), b.DataPages.end());
      layout_.page_count = fs->PageFile().Header().PageCount;
      for (int32_t page_no = layout_.page_count - 1; page_no > 0 && layout_.free_page < 0;
           --page_no)
        if (fs->FreeSpace().PageIsFree(page_no)) layout_.free_page = page_no;
    }
    ASSERT_EQ(layout_.a_maps.size(), 2u);
    ASSERT_GT(layout_.free_page, 0);
    pristine_ = testing::ReadFileBytes(Path());
  }

  void Restore() { testing::WriteFileBytes(Path(), pristine_); }
  void Apply(const Damage& damage) {
    Restore();
    TPageFileManager pages(Path(), kOpenModeReadWriteDenyWrite, "", "", "", false, 0, 0, -1, &env_);
    damage(pages, layout_);
  }

  Layout layout_;
  Bytes pristine_;
};

TEST_F(ContainerCorruptTest, DamagedStructuresStopTheOpenOrTheReadWithTheirMessage) {
  const Layout& l = layout_;
  struct Case {
    const char* what;
    Damage damage;
    std::string message;
    bool on_read = false;  // found when a.dat is read rather than at open
  };
  auto header = [](std::function<void(TContainerHeader&)> fn) {
    return [fn](TPageFileManager& pages, const Layout&) {
      fn(pages.Header());
      pages.SaveHeader();
    };
  };
  const std::vector<Case> cases = {
      {"directory chain leaves the file",
       [](TPageFileManager& p, const Layout& l) {
         EditPage(p, l.dir_pages[0], 3 * kDirItemSize,
                  [](TPageHeader& h, uint8_t*) { h.NextPageNo = 60000; });
       },
       "TDIRManager.Load - invalid page No in directory chain, pageNo = 60000"},
      {"directory chain loops",
       [](TPageFileManager& p, const Layout& l) {
         EditPage(p, l.dir_pages[0], 3 * kDirItemSize,
                  [&](TPageHeader& h, uint8_t*) { h.NextPageNo = l.dir_pages[0]; });
       },
       "TDIRManager.Load - invalid page No in directory chain, pageNo = " +
           std::to_string(l.dir_pages[0])},
      {"directory page fails its checksum",
       [](TPageFileManager& p, const Layout& l) {
         FlipStoredByte(p.FileName(), l.dir_pages[0], 40);
       },
       "TDIRManager.Load - can not load page, pageNo = " + std::to_string(l.dir_pages[0])},
      {"name without a terminator",
       [](TPageFileManager& p, const Layout& l) {
         EditPage(p, l.dir_pages[0], 3 * kDirItemSize, [&](TPageHeader&, uint8_t* payload) {
           std::fill_n(payload + l.b * kDirItemSize + 224, kItemNameField, 'x');
         });
       },
       "TDIRManager.Load - item name is not terminated, itemNo = " + std::to_string(l.b)},
      {"ParentID outside the directory",
       [](TPageFileManager& p, const Layout& l) {
         EditItem(p, l, l.b, [](TDirItem& i) { i.ParentID = 50; });
       },
       "TDIRManager.Load - invalid ParentID = 50, itemNo = " + std::to_string(l.b)},
      {"parent chain loops",
       [](TPageFileManager& p, const Layout& l) {
         EditItem(p, l, l.d, [&](TDirItem& i) { i.ParentID = l.c; });
       },
       "TDIRManager.Load - parent chain loops, itemNo = "},
      {"FirstMapPageNo outside the container",
       [](TPageFileManager& p, const Layout& l) {
         EditItem(p, l, l.b, [](TDirItem& i) { i.FirstMapPageNo = 70000; });
       },
       "TDIRManager.Load - invalid FirstMapPageNo = 70000, itemNo = " + std::to_string(l.b)},
      {"two items share a map",
       [](TPageFileManager& p, const Layout& l) {
         EditItem(p, l, l.b, [&](TDirItem& i) { i.FirstMapPageNo = l.a_maps[0]; });
       },
       "TDIRManager.Load - invalid FirstMapPageNo = " + std::to_string(l.a_maps[0]) +
           ", itemNo = " + std::to_string(l.b)},
      {"negative Size",
       [](TPageFileManager& p, const Layout& l) {
         EditItem(p, l, l.b, [](TDirItem& i) { i.Size = -5; });
       },
       "TDIRManager.Load - invalid Size = -5, itemNo = " + std::to_string(l.b)},
      {"PFS page fails its checksum",
       [](TPageFileManager& p, const Layout&) { FlipStoredByte(p.FileName(), 1, 100); },
       "TFreeSpaceManager.LoadPFS - can not load page, pageNo = 1"},
      {"SGAM page fails its checksum",
       [](TPageFileManager& p, const Layout&) { FlipStoredByte(p.FileName(), 3, 33); },
       "TFreeSpaceManager.LoadGAM - can not load SGAM page, pageNo = 2"},
      {"too few bitmap pages", header([](TContainerHeader& h) { h.PFSPageCount = 0; }),
       "TFreeSpaceManager.Create - PFSPageCount * FPageSize < FExtentCount!"},
      {"more bitmap pages than extents", header([](TContainerHeader& h) { h.GAMPageCount = 2; }),
       "TFreeSpaceManager.Create - bitmap page counts do not fit the extent count"},
      {"map chain ends early",
       [](TPageFileManager& p, const Layout& l) {
         EditPage(p, l.a_maps[0], kPayload, [](TPageHeader& h, uint8_t*) { h.NextPageNo = -1; });
       },
       "TUserFilePageMapManager.GetMaps - Invalid page No in map chain.", true},
      {"map chain loops",
       [](TPageFileManager& p, const Layout& l) {
         EditPage(p, l.a_maps[0], kPayload,
                  [&](TPageHeader& h, uint8_t*) { h.NextPageNo = l.a_maps[0]; });
       },
       "TUserFilePageMapManager.GetMaps - Invalid page No in map chain.", true},
      {"map names a page outside the container",
       [](TPageFileManager& p, const Layout& l) { SetMapEntry(p, l.a_maps[0], 3, 99999); },
       "TUserFilePageMapManager.GetMaps - Invalid data page No in map chain, pageNo = 99999", true},
      {"map names a bitmap page",
       [](TPageFileManager& p, const Layout& l) { SetMapEntry(p, l.a_maps[1], 0, 2); },
       "TUserFilePageMapManager.GetMaps - Invalid data page No in map chain, pageNo = 2", true},
      {"map names one page twice",
       [](TPageFileManager& p, const Layout& l) { SetMapEntry(p, l.a_maps[0], 7, l.a_data[8]); },
       "TUserFilePageMapManager.GetMaps - Invalid page No in map chain.", true},
      {"Size needs more pages than the container holds",
       [](TPageFileManager& p, const Layout& l) {
         EditItem(p, l, l.a, [](TDirItem& i) { i.Size = int64_t(1) << 40; });
       },
       "TUserFilePageMapManager.GetMaps - file size does not fit the container", true},
      {"map page of another kind",
       [](TPageFileManager& p, const Layout& l) {
         EditItem(p, l, l.a, [&](TDirItem& i) { i.FirstMapPageNo = l.a_data[0]; });
       },
       "TUserFilePageMapManager.GetMaps - Error on reading map page.", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Apply(c.damage);
    std::string message;
    if (c.on_read) {
      auto fs = Open();
      message = MessageOf([&] { GetFile(*fs, "a.dat"); });
    } else {
      message = MessageOf([&] { Open(); });
    }
    EXPECT_THAT(message, HasSubstr(c.message));
  }
}

TEST_F(ContainerCorruptTest, TheCheckerFindsWhatTheLoadersLetThrough) {
  Restore();
  const TContainerCheckReport clean = CheckContainer(Path(), {}, &env_);
  EXPECT_TRUE(clean.Issues.empty()) << clean.Text();
  EXPECT_EQ(clean.LiveItems, 4);

  struct Case {
    const char* what;
    Damage damage;
    TContainerIssueKind kind;
    bool sound;
  };
  const std::vector<Case> cases = {
      {"a data page owned by two files",
       [](TPageFileManager& p, const Layout& l) { SetMapEntry(p, l.a_maps[0], 0, l.b_data[0]); },
       TContainerIssueKind::kOwnedTwice, false},
      {"an owned page marked free",
       [](TPageFileManager& p, const Layout& l) { SetPFSBit(p, l.b_data[0], true); },
       TContainerIssueKind::kFreeButOwned, false},
      {"a page nobody owns marked used",
       [](TPageFileManager& p, const Layout& l) { SetPFSBit(p, l.free_page, false); },
       TContainerIssueKind::kLeaked, true},
      {"a map entry past the end",
       [](TPageFileManager& p, const Layout& l) {
         SetMapEntry(p, l.a_maps[0], 1, l.page_count + 3);
       },
       TContainerIssueKind::kOwnedPastEnd, false},
      {"a map chain cut short",
       [](TPageFileManager& p, const Layout& l) {
         EditPage(p, l.a_maps[0], kPayload, [](TPageHeader& h, uint8_t*) { h.NextPageNo = -1; });
       },
       TContainerIssueKind::kBrokenChain, false},
      {"an item with a parent outside the directory",
       [](TPageFileManager& p, const Layout& l) {
         EditItem(p, l, l.b, [](TDirItem& i) { i.ParentID = 50; });
       },
       TContainerIssueKind::kBadItem, false},
      {"an extent marked free that is in use",
       [](TPageFileManager& p, const Layout&) {
         EditPage(p, 2, kPayload, [](TPageHeader&, uint8_t* payload) { payload[0] |= 1; });
       },
       TContainerIssueKind::kExtentMark, true},
      {"an unreadable bitmap",
       [](TPageFileManager& p, const Layout&) { FlipStoredByte(p.FileName(), 1, 90); },
       TContainerIssueKind::kUnreadable, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Apply(c.damage);
    const TContainerCheckReport report = CheckContainer(Path(), {}, &env_);
    EXPECT_GT(report.Count(c.kind), 0) << report.Text();
    EXPECT_EQ(report.Sound(), c.sound) << report.Text();
  }
}

TEST_F(ContainerCorruptTest, CountsTheFileCannotHoldEndAtTheFirstMissingPage) {
  struct Case {
    const char* what;
    std::function<void(TContainerHeader&)> change;
    std::string message;
  };
  const std::vector<Case> cases = {
      // Bitmaps for a billion extents: read one page at a time, so the first missing one stops
      // the load before any memory is spent on the rest.
      {"pages",
       [](TContainerHeader& h) {
         h.PageCount = INT32_MAX - 16;
         const int64_t extents = (int64_t(h.PageCount) - 1) / 2;
         h.PFSPageCount = int32_t((extents + 8063) / 8064);
         h.GAMPageCount = int32_t((extents + 16127) / 16128);
       },
       "TFreeSpaceManager.LoadPFS - can not load page, pageNo = 16129"},
      {"directory pages",
       [](TContainerHeader& h) {
         h.DirPageCount = h.PageCount - 1;
         h.DirItemCount = 1;
       },
       "TDIRManager.Load - invalid page No in directory chain, pageNo = -1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Apply([&](TPageFileManager& pages, const Layout&) {
      c.change(pages.Header());
      pages.SaveHeader();
    });
    EXPECT_EQ(MessageOf([&] { Open(); }), c.message);
    EXPECT_FALSE(CheckContainer(Path(), {}, &env_).Sound());
  }
}

}  // namespace
}  // namespace orv
