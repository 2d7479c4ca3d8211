#include <gtest/gtest.h>

#include "tests/components/dataset_fixture.h"

namespace orv::testing {
namespace {

using DatasetPostTest = DatasetTest;

TEST_F(DatasetPostTest, InsertedRecordFailingTheFilterStaysOutOfTheList) {
  auto dataset = NewDataset();
  dataset->Open();
  AddPeople(*dataset, {{"old", 70}});
  dataset->SetFilter("AGE > 10");
  dataset->SetFiltered(true);
  AddPeople(*dataset, {{"young", 5}, {"adult", 30}});
  EXPECT_EQ(dataset->RecordCount(), 2);
  EXPECT_EQ(dataset->DataManager()->RecordCount(), 3);
  EXPECT_EQ(dataset->FieldByName("NAME")->AsString(), "adult");
  dataset->SetFiltered(false);
  EXPECT_EQ(dataset->RecordCount(), 3);
}

TEST_F(DatasetPostTest, EditMovesTheRecordInItsIndex) {
  auto dataset = NewDataset();
  dataset->Open();
  dataset->UseIndex("ByAge");
  AddPeople(*dataset, {{"a", 10}, {"b", 20}, {"c", 30}});
  dataset->First();
  dataset->Edit();
  dataset->FieldByName("AGE")->SetAsInteger(25);
  dataset->Post();
  EXPECT_EQ(dataset->FieldByName("NAME")->AsString(), "a");
  EXPECT_EQ(dataset->RecNo(), 2);
  EXPECT_EQ(Names(*dataset), (std::vector<std::string>{"b", "a", "c"}));
}

TEST_F(DatasetPostTest, EditUnderFilterDropsARecordThatNoLongerPasses) {
  auto dataset = NewDataset();
  dataset->Open();
  AddPeople(*dataset, {{"a", 10}, {"b", 20}, {"c", 30}});
  dataset->SetFilter("AGE >= 20");
  dataset->SetFiltered(true);
  ASSERT_EQ(dataset->FieldByName("NAME")->AsString(), "b");
  dataset->Edit();
  dataset->FieldByName("AGE")->SetAsInteger(1);
  dataset->Post();
  EXPECT_EQ(Names(*dataset), (std::vector<std::string>{"c"}));
}

TEST_F(DatasetPostTest, DateSetToZeroReadsNull) {
  auto dataset = NewDataset();
  dataset->Open();
  dataset->Append();
  dataset->FieldByName("NAME")->SetAsString("x");
  const int32_t zero = 0;
  dataset->FieldByName("BORN")->SetData(&zero);
  EXPECT_TRUE(dataset->FieldByName("BORN")->IsNull());
  dataset->FieldByName("NAME")->SetAsString("");
  EXPECT_TRUE(dataset->FieldByName("NAME")->IsNull());
  dataset->Post();
  EXPECT_TRUE(dataset->FieldByName("BORN")->IsNull());
  dataset->Edit();
  dataset->FieldByName("BORN")->SetAsDateTime(45000.0);
  dataset->Post();
  EXPECT_DOUBLE_EQ(dataset->FieldByName("BORN")->AsDateTime(), 45000.0);
}

TEST_F(DatasetPostTest, RequiredFieldRaisesAndLeavesTheInsertOpen) {
  CreateStandardTable("R", false, true);
  auto dataset = NewDataset("R");
  dataset->Open();
  dataset->Append();
  dataset->FieldByName("NAME")->SetAsString("x");
  EXPECT_EQ(MessageOf([&] { dataset->Post(); }), "Field 'AGE' must have a value");
  EXPECT_EQ(dataset->State(), dsInsert);
  EXPECT_EQ(dataset->FieldByName("NAME")->AsString(), "x");
  dataset->FieldByName("AGE")->SetAsInteger(3);
  dataset->Post();
  EXPECT_EQ(dataset->RecordCount(), 1);
}

TEST_F(DatasetPostTest, KeyViolationNamesTableAndIndex) {
  CreateStandardTable("U", true);
  auto dataset = NewDataset("U");
  dataset->Open();
  AddPeople(*dataset, {{"same", 1}, {"other", 2}});
  dataset->Append();
  dataset->FieldByName("NAME")->SetAsString("same");
  EXPECT_EQ(MessageOf([&] { dataset->Post(); }),
            "TOrvelDataSet.InternalPost - key violation.\r\nTable name = \"U\".\r\nUnique index "
            "name = \"ByName\".");
  dataset->Cancel();
  // Editing a record without changing its key is no violation; taking another's key is.
  dataset->First();
  dataset->Edit();
  dataset->FieldByName("AGE")->SetAsInteger(9);
  EXPECT_NO_THROW(dataset->Post());
  dataset->Edit();
  dataset->FieldByName("NAME")->SetAsString("other");
  EXPECT_NE(MessageOf([&] { dataset->Post(); }).find("key violation"), std::string::npos);
  dataset->Cancel();
  EXPECT_EQ(dataset->RecordCount(), 2);
}

TEST_F(DatasetPostTest, DeleteKeepsThePositionInsideTheList) {
  auto dataset = NewDataset();
  dataset->Open();
  AddPeople(*dataset, {{"a", 1}, {"b", 2}});
  dataset->Last();
  dataset->Delete();
  EXPECT_EQ(dataset->FieldByName("NAME")->AsString(), "a");
  dataset->Delete();
  EXPECT_TRUE(dataset->IsEmpty());
  EXPECT_EQ(dataset->CurrentPosition(), -1);
}

TEST_F(DatasetPostTest, ReadOnlyDatasetRefusesChanges) {
  {
    auto writer = NewDataset();
    writer->Open();
    AddPeople(*writer, {{"a", 1}});
  }
  auto dataset = NewDataset();
  dataset->SetReadOnly(true);
  dataset->Open();
  EXPECT_FALSE(dataset->CanModify());
  EXPECT_EQ(MessageOf([&] { dataset->RawDelete(); }),
            "Error in TOrvelDataSet.InternalDelete - table is read only.");
}

}  // namespace
}  // namespace orv::testing
