#include <gtest/gtest.h>

#include "engine/sql/orv_value.h"
#include "tests/components/dataset_fixture.h"

namespace orv::testing {
namespace {

class DatasetSqlTest : public DatasetTest {
 protected:
  void SetUp() override {
    DatasetTest::SetUp();
    dataset_ = NewDataset();
    dataset_->Open();
    dataset_->UseIndex("ByAge");
    AddPeople(*dataset_, {{"a", 10}, {"b", 20}, {"c", 20}, {"d", 30}, {"e", 30}});
  }
  void TearDown() override {
    dataset_.reset();
    DatasetTest::TearDown();
  }
  std::unique_ptr<TestDataset> dataset_;
};

TEST_F(DatasetSqlTest, TemporaryTableTakesDirectInsertsAndIsDeleted) {
  TestDataset temp;
  temp.FieldDefs().Add("K", ftInteger);
  temp.FieldDefs().Add("S", ftString, 8);
  temp.CreateTemporaryTable(100);
  EXPECT_TRUE(temp.IsTemporaryTable());
  EXPECT_TRUE(temp.InMemory());
  EXPECT_EQ(temp.TableName().rfind("@TABLE", 0), 0u);
  temp.Open();
  temp.BeginDirectInsert();
  for (int i = 0; i < 3; ++i) {
    TOrvValue value;
    value.SetInteger(i * 10);
    temp.SetFieldValue(value, 0);
    value.SetString("row" + std::to_string(i));
    temp.SetFieldValue(value, 1);
    temp.Post();
  }
  temp.EndDirectInsert();
  EXPECT_EQ(temp.State(), dsBrowse);
  EXPECT_EQ(temp.RecordCount(), 3);
  temp.Last();
  TOrvValue read;
  temp.GetFieldValue(read, 1, true);
  EXPECT_EQ(read.AsString(), "row2");
  temp.GetFieldValue(read, -1, true);
  EXPECT_EQ(read.DataType(), ftAutoInc);
  EXPECT_EQ(read.AsInteger(), 3);
  EXPECT_EQ(NativeErrorOf([&] { temp.GetFieldValue(read, 2, true); }), 9);
  temp.DeleteTemporaryTable();
  EXPECT_FALSE(temp.Active());
  EXPECT_THROW(temp.Open(), std::exception);
}

TEST_F(DatasetSqlTest, RecordLimitsCountOrdinalsInIndexOrder) {
  dataset_->SetRecordLimits(2, 3);
  EXPECT_EQ(Names(*dataset_), (std::vector<std::string>{"b", "c", "d"}));
  dataset_->SetRecordLimits(-1, 1);
  EXPECT_EQ(Names(*dataset_), (std::vector<std::string>{"a"}));
  dataset_->SetRecordLimits(-1, -1);
  EXPECT_EQ(dataset_->RecordCount(), 5);
}

TEST_F(DatasetSqlTest, DistinctKeepsTheFirstOfEachKey) {
  dataset_->SetDistinctFields("AGE");
  EXPECT_EQ(Names(*dataset_), (std::vector<std::string>{"a", "b", "d"}));
  dataset_->SetDistinctFields("");
  EXPECT_EQ(dataset_->RecordCount(), 5);
}

TEST_F(DatasetSqlTest, ExpressionFilterSeesEachRecordAndMustBeBoolean) {
  TestDataset* dataset = dataset_.get();
  dataset_->SetFilterExpression([dataset](TOrvValue& result) {
    TOrvValue age;
    dataset->GetFieldValue(age, 1, true);
    if (age.AsInteger() == 20)
      result.SetNull(ftBoolean);
    else
      result.SetBoolean(age.AsInteger() > 15);
  });
  EXPECT_EQ(Names(*dataset_), (std::vector<std::string>{"d", "e"}));
  EXPECT_EQ(NativeErrorOf([&] {
              dataset_->SetFilterExpression([](TOrvValue& result) { result.SetInteger(1); });
            }),
            1071);
  dataset_->SetFilterExpression({});
  EXPECT_EQ(dataset_->RecordCount(), 5);
}

TEST_F(DatasetSqlTest, ProjectionRenamesAndMapsFields) {
  dataset_->Close();
  dataset_->SetFieldProjection("AGE;ID", "YEARS;RID");
  dataset_->Open();
  ASSERT_EQ(dataset_->FieldCount(), 2);
  EXPECT_EQ(dataset_->Fields()[0]->FieldName(), "YEARS");
  dataset_->First();
  EXPECT_EQ(dataset_->FieldByName("YEARS")->AsInteger(), 10);
  EXPECT_EQ(dataset_->FieldByName("RID")->AsInteger(), 1);
  dataset_->Close();
  dataset_->Open();
  EXPECT_EQ(dataset_->FieldCount(), 5);
}

TEST_F(DatasetSqlTest, GetFieldValueNeedsAnOpenTableAndARecord) {
  TestDataset closed;
  TOrvValue value;
  EXPECT_EQ(MessageOf([&] { closed.GetFieldValue(value, 0, true); }),
            "TOrvelDataSet.GetFieldValue - DMHandle = nil");
  dataset_->SetRecordLimits(-1, 0);
  EXPECT_TRUE(dataset_->IsEmpty());
  EXPECT_EQ(NativeErrorOf([&] { dataset_->GetFieldValue(value, 0, true); }), 8);
  dataset_->SetSqlRecord(0);
  dataset_->GetFieldValue(value, 0, true);
  EXPECT_EQ(value.AsString(), "a");
  dataset_->SetSqlRecord(-1);
  EXPECT_THROW(dataset_->SetSqlRecord(99), std::exception);
}

}  // namespace
}  // namespace orv::testing
