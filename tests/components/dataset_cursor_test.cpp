#include <gtest/gtest.h>

#include "tests/components/dataset_fixture.h"

namespace orv::testing {
namespace {

using DatasetCursorTest = DatasetTest;

TEST_F(DatasetCursorTest, EmptyTableAnswersEofAndRefusesDelete) {
  auto dataset = NewDataset();
  dataset->Open();
  EXPECT_TRUE(dataset->Eof());
  EXPECT_TRUE(dataset->IsEmpty());
  EXPECT_EQ(dataset->RecordCount(), 0);
  EXPECT_EQ(dataset->RecNo(), 0);
  EXPECT_EQ(MessageOf([&] { dataset->RawDelete(); }),
            "Error in TOrvelDataSet.InternalDelete - no records in table.");
}

TEST_F(DatasetCursorTest, FieldDefsFollowTheTable) {
  auto dataset = NewDataset();
  dataset->Open();
  TFieldDefs& defs = dataset->FieldDefs();
  ASSERT_EQ(defs.Count(), 5);
  EXPECT_EQ(defs[0]->Name(), "NAME");
  EXPECT_EQ(defs[0]->Size(), 20);
  EXPECT_EQ(defs[4]->Name(), "ID");
  EXPECT_EQ(defs[4]->DataType(), ftAutoInc);
  ASSERT_GE(dataset->IndexDefs().Count(), 2);
  EXPECT_GE(dataset->IndexDefs().IndexOf("ByName"), 0);
  EXPECT_LT(dataset->StoredIndexDefs().IndexOf("@ID"), 0);
}

TEST_F(DatasetCursorTest, MissingTableRaisesOpenMessage) {
  auto dataset = NewDataset("NOPE");
  EXPECT_EQ(MessageOf([&] { dataset->Open(); }),
            "TOrvelDataset.OpenTable - table \"NOPE\" does not exist.");
  EXPECT_FALSE(dataset->Active());
}

TEST_F(DatasetCursorTest, WalksInIndexOrderAndNumbersRecords) {
  auto dataset = NewDataset();
  dataset->Open();
  AddPeople(*dataset, {{"carol", 30}, {"alice", 50}, {"bob", 40}});
  EXPECT_EQ(Names(*dataset), (std::vector<std::string>{"carol", "alice", "bob"}));
  dataset->UseIndex("ByName");
  EXPECT_EQ(Names(*dataset), (std::vector<std::string>{"alice", "bob", "carol"}));
  dataset->Last();
  EXPECT_EQ(dataset->RecNo(), 3);
  dataset->SetRecNo(2);
  EXPECT_EQ(dataset->FieldByName("NAME")->AsString(), "bob");
  EXPECT_EQ(dataset->RecordCount(), 3);
  EXPECT_EQ(dataset->FieldByName("ID")->AsInteger(), 3);
}

TEST_F(DatasetCursorTest, BookmarksSurviveDeletesOfOtherRecords) {
  auto dataset = NewDataset();
  dataset->Open();
  AddPeople(*dataset, {{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}});
  dataset->First();
  dataset->Next();  // b
  const TBookmark b = dataset->Bookmark();
  dataset->Last();
  const TBookmark d = dataset->Bookmark();
  dataset->First();
  // Deleting the first physical record moves the last one (d) into its number.
  dataset->Delete();
  EXPECT_TRUE(dataset->BookmarkValid(b));
  EXPECT_TRUE(dataset->BookmarkValid(d));
  EXPECT_EQ(dataset->CompareBookmarks(b, d), -1);
  dataset->GotoBookmark(d);
  EXPECT_EQ(dataset->FieldByName("NAME")->AsString(), "d");
  dataset->GotoBookmark(b);
  EXPECT_EQ(dataset->FieldByName("NAME")->AsString(), "b");
  EXPECT_EQ(Names(*dataset), (std::vector<std::string>{"b", "c", "d"}));
  dataset->GotoBookmark(b);
  dataset->Delete();
  EXPECT_FALSE(dataset->BookmarkValid(b));
  EXPECT_EQ(dataset->CompareBookmarks(b, d), 1);
  EXPECT_FALSE(dataset->BookmarkValid(TBookmark{1, 2, 3}));
}

TEST_F(DatasetCursorTest, TwoDatasetsSeeEachOthersPosts) {
  auto writer = NewDataset();
  auto reader = NewDataset();
  writer->Open();
  reader->Open();
  AddPeople(*writer, {{"a", 1}, {"b", 2}});
  EXPECT_EQ(reader->RecordCount(), 2);
  reader->Last();
  EXPECT_EQ(reader->FieldByName("NAME")->AsString(), "b");
  reader->First();
  reader->Delete();
  EXPECT_EQ(writer->RecordCount(), 1);
  EXPECT_EQ(Names(*writer), (std::vector<std::string>{"b"}));
  // The reader stays on its record while the writer renumbers the table.
  AddPeople(*writer, {{"c", 3}});
  EXPECT_EQ(reader->FieldByName("NAME")->AsString(), "b");
  reader->Next();
  EXPECT_EQ(reader->FieldByName("NAME")->AsString(), "c");
}

TEST_F(DatasetCursorTest, RefreshRebuildsOnlyWhenAsked) {
  auto dataset = NewDataset();
  dataset->Open();
  AddPeople(*dataset, {{"a", 1}});
  EXPECT_FALSE(dataset->Stale());
  auto other = NewDataset();
  other->Open();
  AddPeople(*other, {{"b", 2}});
  EXPECT_TRUE(dataset->Stale());
  dataset->Refresh();
  EXPECT_FALSE(dataset->Stale());
  EXPECT_EQ(dataset->VisibleCount(), 2);
}

}  // namespace
}  // namespace orv::testing
