#include <gtest/gtest.h>

#include "platform/data_source.h"
#include "tests/components/dataset_fixture.h"

namespace orv::testing {
namespace {

class DatasetSearchTest : public DatasetTest {
 protected:
  void SetUp() override {
    DatasetTest::SetUp();
    dataset_ = NewDataset();
    dataset_->Open();
    AddPeople(*dataset_, {{"carol", 30}, {"alice", 50}, {"bob", 40}, {"dave", 30}});
    dataset_->First();
  }
  void TearDown() override {
    dataset_.reset();
    DatasetTest::TearDown();
  }
  std::string Name() { return dataset_->FieldByName("NAME")->AsString(); }
  std::unique_ptr<TestDataset> dataset_;
};

TEST_F(DatasetSearchTest, FindFirstSearchesByTheFilterTextUnlessBdeLike) {
  dataset_->SetFilter("AGE = 40");
  EXPECT_TRUE(dataset_->FindFirst());
  EXPECT_EQ(Name(), "bob");
  EXPECT_TRUE(dataset_->Found());
  EXPECT_FALSE(dataset_->FindNext());

  dataset_->SetFilter("AGE = 30");
  EXPECT_TRUE(dataset_->FindLast());
  EXPECT_EQ(Name(), "dave");
  EXPECT_TRUE(dataset_->FindPrior());
  EXPECT_EQ(Name(), "carol");
  EXPECT_FALSE(dataset_->FindPrior());

  dataset_->SetBDELikeFilter(true);
  dataset_->SetFilter("AGE = 40");
  EXPECT_TRUE(dataset_->FindFirst());
  EXPECT_EQ(Name(), "carol");
  EXPECT_TRUE(dataset_->FindNext());
  EXPECT_EQ(Name(), "alice");
}

TEST_F(DatasetSearchTest, FindNextSkipsRecordsDeletedSinceFindFirst) {
  dataset_->SetFilter("AGE = 30");
  ASSERT_TRUE(dataset_->FindFirst());
  dataset_->Delete();  // carol; dave takes her physical number
  EXPECT_TRUE(dataset_->FindFirst());
  EXPECT_EQ(Name(), "dave");
  EXPECT_FALSE(dataset_->FindNext());
}

TEST_F(DatasetSearchTest, LookupOfTwoFieldsLeavesTheCursorWhereItWas) {
  dataset_->Next();  // alice
  const Variant result = dataset_->Lookup("NAME", Variant("bob"), "AGE; NAME");
  ASSERT_TRUE(result.IsArray());
  ASSERT_EQ(result.ArrayCount(), 2);
  EXPECT_EQ(result.ArrayItem(0).AsInteger(), 40);
  EXPECT_EQ(result.ArrayItem(1).AsString(), "bob");
  EXPECT_EQ(Name(), "alice");
  EXPECT_EQ(dataset_->Lookup("NAME", Variant("bob"), "AGE").AsInteger(), 40);
  EXPECT_TRUE(dataset_->Lookup("NAME", Variant("BOB"), "AGE").IsNull());
}

TEST_F(DatasetSearchTest, LocateMovesToTheRecord) {
  struct Case {
    const char* fields;
    Variant values;
    TLocateOptions options;
    const char* expected;  // nullptr: not found
  };
  const Case cases[] = {
      {"NAME", Variant("dave"), 0, "dave"},
      {"NAME", Variant("DAVE"), 0, nullptr},
      {"NAME", Variant("DAVE"), loCaseInsensitive, "dave"},
      {"NAME", Variant("al"), 0, nullptr},
      {"NAME", Variant("al"), loPartialKey, "alice"},
      {"NAME;AGE", Variant::ArrayOf({Variant("carol"), Variant(30)}), 0, "carol"},
      {"NAME;AGE", Variant::ArrayOf({Variant("carol"), Variant(31)}), 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    dataset_->Last();
    const bool found = dataset_->Locate(c.fields, c.values, c.options);
    EXPECT_EQ(found, c.expected != nullptr);
    EXPECT_EQ(Name(), c.expected != nullptr ? c.expected : "dave");
  }
}

TEST_F(DatasetSearchTest, FilterOverAnIndexedFieldUsesTheIndexRange) {
  dataset_->SetFilter("AGE = 30");
  const uint64_t before = dataset_->MatchTests();
  dataset_->SetFiltered(true);
  EXPECT_EQ(dataset_->RecordCount(), 2);
  EXPECT_EQ(dataset_->MatchTests(), before);
  dataset_->SetFilter("[NOTE] IS NULL and AGE > 35");
  EXPECT_EQ(dataset_->RecordCount(), 2);
}

TEST_F(DatasetSearchTest, BadFilterTextRaisesAndKeepsTheDatasetOpen) {
  dataset_->SetFilter("AGE = ");
  EXPECT_THROW(dataset_->SetFiltered(true), std::exception);
  EXPECT_TRUE(dataset_->Active());
}

TEST_F(DatasetSearchTest, RangeKeepsBothBoundsOfTheCurrentIndex) {
  dataset_->UseIndex("ByAge");
  dataset_->SetRangeStart();
  dataset_->FieldByName("AGE")->SetAsInteger(30);
  dataset_->SetRangeEnd();
  dataset_->FieldByName("AGE")->SetAsInteger(40);
  dataset_->ApplyRange();
  EXPECT_EQ(Names(*dataset_), (std::vector<std::string>{"carol", "dave", "bob"}));
  // A record posted outside the range is stored but not shown.
  AddPeople(*dataset_, {{"eve", 60}});
  EXPECT_EQ(dataset_->RecordCount(), 3);
  dataset_->EditRangeEnd();
  dataset_->FieldByName("AGE")->SetAsInteger(55);
  dataset_->ApplyRange();
  EXPECT_EQ(dataset_->RecordCount(), 4);
  dataset_->CancelRange();
  EXPECT_EQ(dataset_->RecordCount(), 5);
}

TEST_F(DatasetSearchTest, SetKeyRefusesFieldsOutsideTheIndex) {
  dataset_->UseIndex("ByAge");
  dataset_->SetRangeStart();
  EXPECT_EQ(NativeErrorOf([&] { dataset_->FieldByName("NAME")->SetAsString("x"); }), 1086);
  dataset_->Cancel();
  EXPECT_EQ(dataset_->State(), dsBrowse);
}

TEST_F(DatasetSearchTest, DetailFollowsTheMasterRecord) {
  auto master = NewDataset();
  master->Open();
  master->UseIndex("ByName");
  auto detail = NewDataset();
  detail->master = master.get();
  detail->master_fields = {"AGE"};
  detail->Open();
  detail->UseIndex("ByAge");
  master->First();  // alice, 50
  detail->Refresh();
  EXPECT_EQ(Names(*detail), (std::vector<std::string>{"alice"}));
  master->Last();  // dave, 30
  detail->Refresh();
  EXPECT_EQ(Names(*detail), (std::vector<std::string>{"carol", "dave"}));
  detail->master = nullptr;
}

}  // namespace
}  // namespace orv::testing
