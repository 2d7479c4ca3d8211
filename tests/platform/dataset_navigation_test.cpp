#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/data_source.h"
#include "tests/platform/memory_dataset.h"

namespace orv {
namespace {

using testing::CountingLink;
using testing::ErrorOf;
using testing::FillCars;
using testing::Id;
using testing::MemoryDataset;

// Seven cars with ids 1..7, opened on the first.
// A grid showing `rows` records at a time: the dataset keeps that many buffers.
class WindowTest : public ::testing::TestWithParam<int> {};

TEST_P(WindowTest, WalksBothWaysWithBofAndEofAndAConsistentWindow) {
  MemoryDataset ds;
  TDataSource source;
  CountingLink grid;
  grid.SetBufferCount(GetParam());
  grid.SetDataSource(&source);
  source.SetDataSet(&ds);
  FillCars(ds);

  // Every record the grid can see holds the ids around the current one, in order.
  auto check_window = [&] {
    int active = grid.ActiveRecord();
    ASSERT_GE(active, 0);
    ASSERT_LT(active, grid.RecordCount());
    int current = Id(ds);
    for (int r = 0; r < grid.RecordCount(); ++r) {
      grid.SetActiveRecord(r);
      EXPECT_EQ(Id(ds), current - active + r);
    }
    grid.SetActiveRecord(active);
  };

  EXPECT_TRUE(ds.Bof());
  std::vector<int> forward;
  while (!ds.Eof()) {
    forward.push_back(Id(ds));
    check_window();
    ds.Next();
  }
  EXPECT_EQ(forward, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Id(ds), 7);  // EOF stays on the last record
  EXPECT_EQ(ds.MoveBy(1), 0);

  ds.Last();
  EXPECT_TRUE(ds.Eof());
  std::vector<int> backward;
  while (!ds.Bof()) {
    backward.push_back(Id(ds));
    check_window();
    ds.Prior();
  }
  EXPECT_EQ(backward, (std::vector<int>{7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(grid.RecordCount(), std::min(GetParam(), 7));
}

INSTANTIATE_TEST_SUITE_P(BufferCounts, WindowTest, ::testing::Values(1, 3, 7, 12));

TEST(DataSetNavigation, MoveByStopsAtTheEndsAndAnswersTheDistanceMoved) {
  struct Case {
    int start, distance, moved, id;
    bool bof, eof;
  } cases[] = {
      {1, 3, 3, 4, false, false},  {1, 10, 6, 7, false, true}, {4, -2, -2, 2, false, false},
      {4, -9, -3, 1, true, false}, {7, 0, 0, 7, false, false}, {7, -6, -6, 1, false, false},
  };
  MemoryDataset ds;
  FillCars(ds);
  for (const auto& c : cases) {
    ds.First();
    ds.MoveBy(c.start - 1);
    EXPECT_EQ(ds.MoveBy(c.distance), c.moved) << c.start << " by " << c.distance;
    EXPECT_EQ(Id(ds), c.id);
    EXPECT_EQ(ds.Bof(), c.bof);
    EXPECT_EQ(ds.Eof(), c.eof);
  }
}

TEST(DataSetNavigation, RecNoAndRecordCountFollowTheCursor) {
  MemoryDataset ds;
  FillCars(ds);
  EXPECT_EQ(ds.RecordCount(), 7);
  EXPECT_EQ(ds.RecNo(), 1);
  ds.SetRecNo(5);
  EXPECT_EQ(Id(ds), 5);
  EXPECT_EQ(ds.RecNo(), 5);
  ds.SetRecNo(99);  // out of range: ignored
  EXPECT_EQ(Id(ds), 5);
}

TEST(DataSetNavigation, AnEmptyDatasetIsAtBothEnds) {
  MemoryDataset ds;
  FillCars(ds, 0);
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.RecNo(), 0);
  ds.First();
  ds.Next();
  ds.Last();
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "");
  EXPECT_EQ(ErrorOf([&] { ds.Delete(); }),
            "cars: Cannot perform this operation on an empty dataset");
  EXPECT_TRUE(ds.Bookmark().empty());
}

TEST(DataSetNavigation, AClosedDatasetRefusesToMove) {
  MemoryDataset ds;
  FillCars(ds);
  ds.Close();
  const std::string closed = "cars: Cannot perform this operation on a closed dataset";
  for (auto action : std::vector<std::function<void()>>{
           [&] { ds.First(); }, [&] { ds.Next(); }, [&] { ds.Edit(); }, [&] { ds.Insert(); },
           [&] { ds.Delete(); }, [&] { ds.Refresh(); }})
    EXPECT_EQ(ErrorOf(action), closed);
  EXPECT_EQ(ErrorOf([&] { ds.FieldDefs().Clear(), ds.FieldByName("ID"); }),
            "cars: Field 'ID' not found");  // default fields go with the cursor
  ds.FieldDefs().Add("ID", ftInteger);
  ds.FieldDefs().Add("NAME", ftString, 20);
  ds.Open();  // rows survive a close
  EXPECT_EQ(ds.RecordCount(), 7);
}

TEST(DataSetNavigation, RefreshShowsRowsAddedElsewhereAndKeepsTheCurrentRecord) {
  MemoryDataset ds;
  FillCars(ds, 3);
  ds.Next();
  ds.AddStoredRow({Variant(8), Variant("car8")});
  EXPECT_EQ(ds.RecordCount(), 4);
  ds.Refresh();
  EXPECT_EQ(Id(ds), 2);
  ds.Last();
  EXPECT_EQ(Id(ds), 8);
}

TEST(DataSetFilter, OnFilterRecordHidesRejectedRecordsInBothDirections) {
  MemoryDataset ds;
  FillCars(ds);
  std::vector<TDataSetState> states;
  ds.SetOnFilterRecord([&](TDataSet* d, bool& accept) {
    states.push_back(d->State());
    accept = d->FieldByName("ID")->AsInteger() % 2 == 1;
  });
  ds.Next();
  ds.SetFiltered(true);  // applying the filter goes to the first record
  EXPECT_EQ(Id(ds), 1);
  std::vector<int> forward, backward;
  for (; !ds.Eof(); ds.Next()) forward.push_back(Id(ds));
  for (ds.Last(); !ds.Bof(); ds.Prior()) backward.push_back(Id(ds));
  EXPECT_EQ(forward, (std::vector<int>{1, 3, 5, 7}));
  EXPECT_EQ(backward, (std::vector<int>{7, 5, 3, 1}));
  ASSERT_FALSE(states.empty());
  EXPECT_TRUE(std::all_of(states.begin(), states.end(), [](auto s) { return s == dsFilter; }));

  // A record that stops passing leaves the view once it is posted.
  ds.First();
  ds.Edit();
  ds.FieldByName("ID")->SetAsInteger(2);
  ds.Post();
  EXPECT_EQ(Id(ds), 3);
  ds.SetFiltered(false);
  std::vector<int> all;
  for (ds.First(); !ds.Eof(); ds.Next()) all.push_back(Id(ds));
  EXPECT_EQ(all, (std::vector<int>{2, 2, 3, 4, 5, 6, 7}));
}

TEST(DataSetBookmarks, GotoComparesAndValidatesBookmarks) {
  MemoryDataset ds;
  FillCars(ds);
  ds.MoveBy(2);
  TBookmark third = ds.Bookmark();
  ASSERT_EQ(third.size(), 4u);
  ds.Last();
  TBookmark last = ds.Bookmark();
  ds.GotoBookmark(third);
  EXPECT_EQ(Id(ds), 3);
  EXPECT_TRUE(ds.BookmarkValid(third));

  struct Case {
    TBookmark a, b;
    int result;
  } cases[] = {{third, last, -1}, {last, third, 1}, {third, third, 0}, {{}, third, 1},
               {third, {}, -1},   {{}, {}, 0},      {{1, 2}, third, 1}};
  for (const auto& c : cases) EXPECT_EQ(ds.CompareBookmarks(c.a, c.b), c.result);

  ds.Delete();  // the third record goes; its bookmark no longer leads anywhere
  EXPECT_EQ(Id(ds), 4);
  EXPECT_FALSE(ds.BookmarkValid(third));
  EXPECT_EQ(ErrorOf([&] { ds.GotoBookmark(third); }), "cars: Record not found");
  EXPECT_FALSE(ds.BookmarkValid({1, 2, 3}));
  EXPECT_EQ(ErrorOf([&] { ds.GotoBookmark({9}); }), "cars: Record not found");
  ds.GotoBookmark(last);
  EXPECT_EQ(Id(ds), 7);
  ds.GotoBookmark({});  // no bookmark: no move
  EXPECT_EQ(Id(ds), 7);
}

}  // namespace
}  // namespace orv
