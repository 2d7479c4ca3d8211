#include "engine/files/free_space_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <set>
#include <vector>

#include "engine/files/page_file_manager.h"
#include "tests/files/file_test_helpers.h"
#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<int32_t> Range(int32_t first, int32_t last) {
  std::vector<int32_t> pages(static_cast<size_t>(last - first + 1));
  std::iota(pages.begin(), pages.end(), first);
  return pages;
}

class FreeSpaceTest : public ::testing::Test {
 protected:
  void Make(TDatabaseFileMode mode = dfmNormal, const std::string& name = "c.ovb") {
    const TPageLayout layout = PageLayoutOf(mode);
    free_space_.reset();
    pages_ = std::make_unique<TPageFileManager>(dir_.File(name), kOpenModeCreate, "", "", "", false,
                                                layout.PageSize, layout.ExtentPageCount, -1, &env_);
    free_space_ = std::make_unique<TFreeSpaceManager>(*pages_);
  }
  void Reopen(const std::string& name = "c.ovb") {
    free_space_.reset();
    pages_.reset();
    pages_ = std::make_unique<TPageFileManager>(dir_.File(name), kOpenModeReadWriteDenyWrite, "",
                                                "", "", false, 0, 0, -1, &env_);
    free_space_ = std::make_unique<TFreeSpaceManager>(*pages_);
  }
  std::vector<int32_t> Get(int32_t count, int32_t near_page, bool uniform) {
    std::vector<int32_t> got;
    EXPECT_TRUE(free_space_->GetPages(count, near_page, got, uniform));
    return got;
  }
  int32_t PageCount() const { return pages_->Header().PageCount; }

  testing::TempDir dir_;
  testing::FaultEnv env_;
  std::unique_ptr<TPageFileManager> pages_;
  std::unique_ptr<TFreeSpaceManager> free_space_;
};

TEST_F(FreeSpaceTest, TheFirstRequestAddsTheFirstExtentsWithTheirBitmapPages) {
  struct Case {
    TDatabaseFileMode mode;
    int32_t page_count;
    int32_t extents;
  };
  for (const Case& c : {Case{dfmNormal, 9, 1}, Case{dfmCompact, 5, 2}, Case{dfmLarge, 17, 1}}) {
    SCOPED_TRACE(c.mode);
    Make(c.mode, "c" + std::to_string(c.mode) + ".ovb");
    EXPECT_THAT(Get(1, 1, false), ElementsAre(4));
    EXPECT_EQ(PageCount(), c.page_count);
    EXPECT_EQ(free_space_->ExtentCount(), c.extents);
    EXPECT_THAT(free_space_->PFSPageNumbers(), ElementsAre(1));
    EXPECT_THAT(free_space_->GAMPageNumbers(), ElementsAre(2));
    for (int32_t page_no : {1, 2, 3, 4}) EXPECT_FALSE(free_space_->PageIsFree(page_no));
    for (int32_t page_no = 5; page_no < c.page_count; ++page_no)
      EXPECT_TRUE(free_space_->PageIsFree(page_no)) << page_no;
    EXPECT_EQ(pages_->Header().PFSPageCount, 1);
    EXPECT_EQ(pages_->Header().GAMPageCount, 1);
  }
}

TEST_F(FreeSpaceTest, UniformRequestsTakeWhollyFreeExtentsBeyondTheNearOne) {
  struct Case {
    int32_t near_page;
    std::vector<int32_t> pages;
  };
  for (const Case& c : {Case{20, Range(9, 16)}, Case{1, Range(5, 12)}}) {
    SCOPED_TRACE(c.near_page);
    Make(dfmNormal, "u" + std::to_string(c.near_page) + ".ovb");
    ASSERT_THAT(Get(1, 1, false), ElementsAre(4));
    EXPECT_THAT(Get(8, c.near_page, true), ElementsAreArray(c.pages));
    EXPECT_EQ(PageCount(), 17);
    // Extent 1 has one owner now: neither free nor shared.
    EXPECT_FALSE(free_space_->ExtentIsFree(1));
    EXPECT_FALSE(free_space_->ExtentIsShared(1));
  }
}

TEST_F(FreeSpaceTest, AnExtentOpenedWithoutUniformIsSharedAndSkippedByUniformRequests) {
  Make(dfmNormal);
  ASSERT_THAT(Get(5, 1, false), ElementsAreArray(Range(4, 8)));  // extent 0 is full now
  EXPECT_FALSE(free_space_->ExtentIsShared(0));
  EXPECT_THAT(Get(1, 100, false), ElementsAre(9));
  EXPECT_FALSE(free_space_->ExtentIsFree(1));
  EXPECT_TRUE(free_space_->ExtentIsShared(1));
  EXPECT_EQ(free_space_->SharedExtentCount(), 1);

  // Uniform, near nothing: a new extent rather than the rest of the shared one.
  EXPECT_THAT(Get(2, 100, true), ElementsAre(17, 18));
  EXPECT_FALSE(free_space_->ExtentIsShared(2));
  // Not uniform: the shared extent with room.
  EXPECT_THAT(Get(2, 100, false), ElementsAre(10, 11));
  // The near page's extent comes first whatever the kind of request.
  EXPECT_THAT(Get(2, 19, true), ElementsAre(19, 20));
  EXPECT_EQ(PageCount(), 25);
  EXPECT_EQ(free_space_->FreeExtentCount(), 0);
}

TEST_F(FreeSpaceTest, FreeingPagesRestoresTheExtentAndIgnoresWhatCannotBeFreed) {
  Make(dfmNormal);
  Get(1, 1, false);
  const std::vector<int32_t> taken = Get(8, 20, true);
  ASSERT_THAT(taken, ElementsAreArray(Range(9, 16)));
  EXPECT_FALSE(free_space_->ExtentIsFree(1));

  free_space_->FreePages(std::vector<int32_t>{9, 10, 11, 12, 13, 14, 15});
  EXPECT_FALSE(free_space_->ExtentIsFree(1));
  free_space_->FreePages(std::vector<int32_t>{16, PageCount(), PageCount() + 5, 0, -3, 1, 2, 3});
  EXPECT_TRUE(free_space_->ExtentIsFree(1));
  EXPECT_FALSE(free_space_->ExtentIsShared(1));
  EXPECT_EQ(free_space_->FreeExtentCount(), 1);
  for (int32_t page_no : {1, 2, 3}) EXPECT_FALSE(free_space_->PageIsFree(page_no));
  // The extent holding the bitmap pages is never wholly free.
  free_space_->FreePages(std::vector<int32_t>{4});
  EXPECT_FALSE(free_space_->ExtentIsFree(0));
}

TEST_F(FreeSpaceTest, TheBitmapsReachTheFileOnEveryCall) {
  Make(dfmCompact);
  std::vector<int32_t> all;
  for (int i = 0; i < 6; ++i) {
    const std::vector<int32_t> got = Get(3 + i, i % 2 ? 1 : 1000, i % 3 == 0);
    all.insert(all.end(), got.begin(), got.end());
  }
  free_space_->FreePages(std::vector<int32_t>(all.begin() + 3, all.begin() + 12));
  std::vector<bool> page_free;
  for (int32_t page_no = 0; page_no < PageCount(); ++page_no)
    page_free.push_back(free_space_->PageIsFree(page_no));
  std::vector<int> marks;
  for (int32_t e = 0; e < free_space_->ExtentCount(); ++e)
    marks.push_back(free_space_->ExtentIsFree(e) * 2 + free_space_->ExtentIsShared(e));
  const int32_t free_extents = free_space_->FreeExtentCount();
  const int32_t shared_extents = free_space_->SharedExtentCount();

  Reopen();
  for (int32_t page_no = 0; page_no < PageCount(); ++page_no)
    EXPECT_EQ(free_space_->PageIsFree(page_no), page_free[size_t(page_no)]) << page_no;
  for (int32_t e = 0; e < free_space_->ExtentCount(); ++e)
    EXPECT_EQ(free_space_->ExtentIsFree(e) * 2 + free_space_->ExtentIsShared(e), marks[size_t(e)])
        << e;
  EXPECT_EQ(free_space_->FreeExtentCount(), free_extents);
  EXPECT_EQ(free_space_->SharedExtentCount(), shared_extents);
}

TEST_F(FreeSpaceTest, ARequestTheFileCannotGrowForLeavesNothingBehind) {
  Make(dfmNormal);
  Get(3, 1, false);
  const std::vector<uint8_t> before = testing::ReadFileBytes(dir_.File("c.ovb"));
  env_.LimitFileSize(int64_t(before.size()) + 4096);
  std::vector<int32_t> got = {77};
  EXPECT_FALSE(free_space_->GetPages(20, 1, got, true));
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(testing::ReadFileBytes(dir_.File("c.ovb")), before);
  EXPECT_EQ(PageCount(), 9);
  EXPECT_EQ(free_space_->ExtentCount(), 1);
  EXPECT_TRUE(free_space_->PageIsFree(7));

  // The manager goes on as if the failed call never happened.
  env_.ClearFaults();
  Make(dfmNormal, "twin.ovb");
  Get(3, 1, false);
  const std::vector<int32_t> expected = Get(20, 1, true);
  Reopen();
  EXPECT_EQ(Get(20, 1, true), expected);
}

TEST_F(FreeSpaceTest, RequestsAcrossABitmapRangeSkipTheNewBitmapPages) {
  // dfmCompact: a GAM page covers 16128 extents of 2 pages; its bitmap pages spill into the
  // next extent.
  for (const bool uniform : {true, false}) {
    SCOPED_TRACE(uniform);
    Make(dfmCompact, uniform ? "u.ovb" : "n.ovb");
    const std::vector<int32_t> got = Get(33000, 1, uniform);
    ASSERT_EQ(got.size(), 33000u);
    EXPECT_EQ(std::set<int32_t>(got.begin(), got.end()).size(), got.size());
    EXPECT_THAT(free_space_->GAMPageNumbers(), ElementsAre(2, 2 + 16128 * 2));
    EXPECT_THAT(free_space_->PFSPageNumbers(), ElementsAre(1, 1 + 8064 * 2, 1 + 16128 * 2));
    for (int32_t page_no : got) {
      ASSERT_FALSE(free_space_->IsBitmapPage(page_no)) << page_no;
      ASSERT_FALSE(free_space_->PageIsFree(page_no)) << page_no;
      ASSERT_LT(page_no, PageCount());
    }
    Reopen(uniform ? "u.ovb" : "n.ovb");
    for (int32_t page_no : got) ASSERT_FALSE(free_space_->PageIsFree(page_no)) << page_no;
  }
}

}  // namespace
}  // namespace orv
