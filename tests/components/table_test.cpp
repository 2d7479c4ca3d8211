#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/components/orvel_data_manager.h"
#include "tests/components/table_fixture.h"

namespace orv::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Strings = std::vector<std::string>;

TEST_F(TableTest, CreateTableReplacesAnExistingTable) {
  auto table = CreatePeople();
  table->Open();
  Add(*table, {{"old", 1}});
  table->Close();
  EXPECT_TRUE(table->Exists());

  table->FieldDefs().Clear();
  table->IndexDefs().Clear();
  table->FieldDefs().Add("CODE", ftInteger);
  table->CreateTable();
  table->Open();
  EXPECT_EQ(table->RecordCount(), 0);
  EXPECT_EQ(table->FindField("NAME"), nullptr);
  EXPECT_NE(table->FindField("CODE"), nullptr);
}

TEST_F(TableTest, CreateTableRefusesBadBlockSizeOpenAndBusyTables) {
  auto table = NewTable();
  table->FieldDefs().Add("A", ftInteger);
  table->SetBLOBBlockSize(0);
  EXPECT_EQ(MessageOf([&] { table->CreateTable(); }),
            "TOrvelDataSet.InternalCreateTable - BlobBlockSize must be > 0");
  EXPECT_FALSE(table->Exists());

  table->SetBLOBBlockSize(512);
  table->CreateTable();
  table->Open();
  EXPECT_EQ(
      MessageOf([&] { table->CreateTable(); }),
      "TOrvelDataSet.InternalCreateTable - Cannot perform this operation on an open DataSet.");
  auto other = NewTable();
  other->FieldDefs().Add("A", ftInteger);
  EXPECT_EQ(MessageOf([&] { other->CreateTable(); }),
            "TOrvelDataSet.InternalCreateTable - Table is busy, table T");
  EXPECT_EQ(MessageOf([&] { other->DeleteTable(); }),
            "TOrvelDataSet.InternalDeleteTable - Table is busy, table T");
  EXPECT_EQ(MessageOf([&] { other->RenameTable("U"); }),
            "TOrvelDataSet.InternalRenameTable - Table is busy, table T");
  EXPECT_EQ(MessageOf([&] { table->DeleteTable(); }),
            "Error in TOrvelDataset.InternalDeleteTable - table is opened.");
  EXPECT_EQ(MessageOf([&] { table->RenameTable("U"); }),
            "Error in TOrvelDataset.InternalRenameTable - table is opened.");
}

TEST_F(TableTest, CreateTableMakesAMissingContainer) {
  auto table = std::make_unique<TOrvelTable>();
  table->SetDatabaseFileName(dir_.File("new.ovb"));
  table->SetTableName("T");
  table->FieldDefs().Add("A", ftInteger);
  table->CreateTable();
  EXPECT_TRUE(table->Exists());
  table->Open();
  table->Append();
  table->FieldByName("A")->SetAsInteger(7);
  table->Post();
  table->Close();
  table->Open();
  EXPECT_THAT(Column(*table, "A"), ElementsAre("7"));
}

TEST_F(TableTest, RenameAndDeleteMoveTheFiles) {
  auto table = CreatePeople();
  table->Open();
  Add(*table, {{"a", 1}});
  table->Close();
  table->RenameTable("U");
  EXPECT_EQ(table->TableName(), "U");
  EXPECT_FALSE(NewTable("T")->Exists());
  table->Open();
  EXPECT_THAT(Column(*table, "NAME"), ElementsAre("a"));
  table->Close();
  table->DeleteTable();
  EXPECT_FALSE(table->Exists());
}

TEST_F(TableTest, IndexFieldNamesTakesTheFirstIndexInIndexDefsOrder) {
  auto table = CreatePeople();
  table->Open();
  Add(*table, {{"b", 2}, {"a", 9}, {"a", 1}});
  table->SetIndexFieldNames("NAME");
  EXPECT_EQ(table->IndexDefs()[table->CurrentIndex()]->Name(), "ByNameAge");
  EXPECT_THAT(Column(*table, "AGE"), ElementsAre("1", "9", "2"));
  EXPECT_EQ(table->IndexName(), "");

  table->SetIndexFieldNames("age");
  EXPECT_EQ(table->IndexDefs()[table->CurrentIndex()]->Name(), "ByAge");
  EXPECT_EQ(MessageOf([&] { table->SetIndexFieldNames("NOPE"); }),
            "Index for fields \"NOPE\" does not exist.");
}

TEST_F(TableTest, IndexNameSelectsAndAFailedSelectionKeepsThePrevious) {
  auto table = CreatePeople();
  table->Open();
  Add(*table, {{"b", 2}, {"c", 1}, {"a", 3}});
  table->SetIndexName("byage");
  EXPECT_THAT(Column(*table, "NAME"), ElementsAre("c", "b", "a"));
  EXPECT_EQ(MessageOf([&] { table->SetIndexName("Missing"); }),
            "Error in TOrvelDataSet.OpenIndex - index \"Missing\" not found!");
  EXPECT_EQ(table->IndexName(), "byage");
  EXPECT_THAT(Column(*table, "NAME"), ElementsAre("c", "b", "a"));
  table->SetIndexName("");
  EXPECT_EQ(table->CurrentIndex(), 0);
  EXPECT_THAT(Column(*table, "NAME"), ElementsAre("b", "c", "a"));

  table->Close();
  table->SetIndexName("Missing");
  EXPECT_EQ(MessageOf([&] { table->Open(); }),
            "TOrvelDataSet.InternalOpen - Invalid index name 'Missing'");
}

TEST_F(TableTest, DeletingTheCurrentIndexLeavesIndexZeroCurrent) {
  auto table = CreatePeople();
  table->Open();
  Add(*table, {{"b", 2}, {"a", 1}});
  table->SetIndexName("ByName");
  table->DeleteIndex("ByName");
  EXPECT_EQ(table->CurrentIndex(), 0);
  EXPECT_LT(table->IndexDefs().IndexOf("ByName"), 0);
  EXPECT_THAT(Column(*table, "NAME"), ElementsAre("b", "a"));

  table->SetIndexName("ByAge");
  const int32_t by_age = table->CurrentIndex();
  table->DeleteIndex("ByNameAge");
  EXPECT_EQ(table->CurrentIndex(), by_age - 1);
  EXPECT_EQ(table->IndexDefs()[table->CurrentIndex()]->Name(), "ByAge");
}

TEST_F(TableTest, AddIndexOnAClosedTableOpensAndClosesIt) {
  auto table = CreatePeople();
  table->Open();
  Add(*table, {{"b", 2}, {"a", 1}});
  table->Close();
  std::vector<std::pair<bool, bool>> flags;
  table->OnBuildIndexesProgress = [&](TComponent* sender, double, bool start, bool finish) {
    EXPECT_EQ(sender, table.get());
    flags.emplace_back(start, finish);
  };
  table->AddIndex("ByAgeDown", "AGE", "", "AGE", ixDescending);
  ASSERT_FALSE(flags.empty());
  EXPECT_TRUE(flags.front().first);
  EXPECT_TRUE(flags.back().second);
  EXPECT_FALSE(table->Active());
  table->SetIndexName("ByAgeDown");
  table->Open();
  EXPECT_THAT(Column(*table, "NAME"), ElementsAre("b", "a"));

  std::string name;
  table->CreateTemporaryIndex("NAME", name);
  EXPECT_EQ(name.substr(0, 1), "$");
  EXPECT_GE(table->IndexDefs().IndexOf(name), 0);
  table->Close();
  table->Open();
  EXPECT_LT(table->IndexDefs().IndexOf(name), 0);
}

TEST_F(TableTest, SaveTableNeedsAnOpenInMemoryTable) {
  auto table = CreatePeople();
  EXPECT_EQ(MessageOf([&] { table->SaveTable(); }),
            "TOrvelDataset.InternalSaveTable - table is not opened.");
  table->Open();
  EXPECT_EQ(MessageOf([&] { table->SaveTable(); }),
            "TOrvelDataset.InternalSaveTable - table is not in in-memory mode.");
}

TEST_F(TableTest, LocateFindsOnlyVisibleRecords) {
  auto table = CreatePeople();
  table->Open();
  Add(*table, {{"a", 10}, {"b", 60}, {"a", 70}});
  table->SetFilter("AGE > 50");
  table->SetFiltered(true);
  ASSERT_TRUE(table->Locate("NAME", Variant("a"), 0));
  EXPECT_EQ(table->FieldByName("AGE")->AsInteger(), 70);
  table->SetFiltered(false);
  table->SetIndexName("ByAge");
  table->SetRangeStart();
  table->FieldByName("AGE")->SetAsInteger(50);
  table->SetRangeEnd();
  table->FieldByName("AGE")->SetAsInteger(65);
  table->ApplyRange();
  EXPECT_FALSE(table->Locate("NAME", Variant("a"), 0));
  EXPECT_TRUE(table->Locate("NAME", Variant("b"), 0));
}

TEST_F(TableTest, InMemoryTableIsSavedWhenInMemoryIsTurnedOff) {
  auto table = CreatePeople();
  table->SetInMemory(true);
  table->Open();
  Add(*table, {{"m", 1}});
  table->SetInMemory(false);
  EXPECT_TRUE(table->Active());
  EXPECT_FALSE(table->InMemory());
  EXPECT_THAT(Column(*table, "NAME"), ElementsAre("m"));
  table->Close();
  auto on_disk = NewTable();
  on_disk->Open();
  EXPECT_THAT(Column(*on_disk, "NAME"), ElementsAre("m"));
}

TEST_F(TableTest, SetLastAutoIncValueSetsTheNextIdentifier) {
  auto table = CreatePeople();
  table->Open();
  table->SetLastAutoIncValue(100);
  Add(*table, {{"a", 1}});
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 100);
}

TEST_F(TableTest, PublishedPropertiesAnswerTheOpenTable) {
  auto table = NewTable();
  EXPECT_EQ(table->CurrentVersion(), "6.00 ");
  table->SetCurrentVersion("1.0");
  EXPECT_EQ(table->CurrentVersion(), "6.00 ");
  EXPECT_EQ(table->BLOBBlockSize(), 512);
  table->SetPassword(std::string(300, 'p'));
  EXPECT_EQ(table->Password().size(), 255u);
  table->SetPassword("pw");
  table->SetEncrypted(true);
  table->SetBLOBBlockSize(1024);
  table->FieldDefs().Add("N", ftMemo);
  table->CreateTable();

  auto reader = NewTable();
  EXPECT_FALSE(reader->Encrypted());
  reader->SetPassword("pw");
  reader->Open();
  EXPECT_TRUE(reader->Encrypted());
  EXPECT_EQ(reader->BLOBBlockSize(), 1024);
  reader->SetBLOBBlockSize(64);
  EXPECT_EQ(reader->BLOBBlockSize(), 1024);
  EXPECT_FALSE(reader->AutoIndexes());
  EXPECT_THROW(reader->SetExclusive(true), std::exception) << "only while closed";
  reader->SetReadOnly(true);
  EXPECT_FALSE(reader->Active());
}

class MasterDetailTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    master_ = NewTable("CUST");
    master_->FieldDefs().Add("CID", ftInteger);
    master_->FieldDefs().Add("CNAME", ftString, 10);
    master_->CreateTable();
    master_->Open();
    for (const auto& [cid, name] :
         std::vector<std::pair<int, std::string>>{{1, "one"}, {2, "two"}, {3, "three"}}) {
      master_->Append();
      master_->FieldByName("CID")->SetAsInteger(cid);
      master_->FieldByName("CNAME")->SetAsString(name);
      master_->Post();
    }
    detail_ = NewTable("ORD");
    detail_->FieldDefs().Add("CUST", ftInteger);
    detail_->FieldDefs().Add("ITEM", ftString, 10);
    detail_->IndexDefs().Add("ByCust", "CUST", 0);
    detail_->CreateTable();
    detail_->Open();
    for (const auto& [cust, item] :
         std::vector<std::pair<int, std::string>>{{1, "a"}, {2, "b"}, {1, "c"}, {3, "d"}}) {
      detail_->Append();
      detail_->FieldByName("CUST")->SetAsInteger(cust);
      detail_->FieldByName("ITEM")->SetAsString(item);
      detail_->Post();
    }
    source_.SetDataSet(master_.get());
    detail_->SetIndexName("ByCust");
    detail_->SetMasterFields("CID");
    detail_->SetMasterSource(&source_);
  }
  void TearDown() override {
    detail_.reset();
    source_.SetDataSet(nullptr);
    master_.reset();
    TableTest::TearDown();
  }

  std::unique_ptr<TOrvelTable> master_;
  std::unique_ptr<TOrvelTable> detail_;
  TDataSource source_;
};

TEST_F(MasterDetailTest, DetailFollowsTheMasterRecord) {
  master_->First();
  EXPECT_THAT(Column(*detail_, "ITEM"), ElementsAre("a", "c"));
  master_->Next();
  EXPECT_THAT(Column(*detail_, "ITEM"), ElementsAre("b"));
  master_->Last();
  EXPECT_THAT(Column(*detail_, "ITEM"), ElementsAre("d"));

  detail_->Append();
  EXPECT_EQ(detail_->FieldByName("CUST")->AsInteger(), 3) << "a new detail takes the master key";
  detail_->FieldByName("ITEM")->SetAsString("e");
  detail_->Post();
  EXPECT_THAT(Column(*detail_, "ITEM"), ElementsAre("d", "e"));

  detail_->SetMasterSource(nullptr);
  EXPECT_EQ(detail_->RecordCount(), 5);
}

TEST_F(MasterDetailTest, MasterSourceLinkedToTheDetailIsRefused) {
  TDataSource own;
  own.SetDataSet(detail_.get());
  EXPECT_EQ(MessageOf([&] { detail_->SetMasterSource(&own); }),
            "TOrvelDataSet.SetDataSource - Invalid DataSource");
  own.SetDataSet(nullptr);
}

TEST_F(TableTest, RestructureEncryptsAndKeepsRecordsAndIndexes) {
  auto table = CreatePeople();
  table->Open();
  Add(*table, {{"b", 2}, {"a", 1}, {"c", 3}});
  table->Close();
  std::vector<double> progress;
  table->OnProgress = [&](TComponent*, double percent, TmvProgressProcess process) {
    EXPECT_EQ(process, mvppRestructure);
    progress.push_back(percent);
  };
  table->RestructureTable(true, "secret", 1, 256);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_FALSE(NewTable("T_backup")->Exists());

  auto reader = NewTable();
  EXPECT_THAT(MessageOf([&] { reader->Open(); }), HasSubstr("password"));
  reader->SetPassword("secret");
  reader->SetIndexName("ByName");
  reader->Open();
  EXPECT_TRUE(reader->Encrypted());
  EXPECT_EQ(reader->BLOBCompression(), 1);
  EXPECT_THAT(Column(*reader, "NAME"), ElementsAre("a", "b", "c"));
  EXPECT_THAT(Column(*reader, "ID"), ElementsAre("2", "1", "3"));
}

TEST_F(TableTest, RestructureRefusesOpenTables) {
  auto table = CreatePeople();
  table->Open();
  EXPECT_EQ(MessageOf([&] { table->RestructureTable(false, "", 0, 512); }),
            "Error in TOrvelDataset.InternalRestructureTable - table is opened.");
  auto other = NewTable();
  EXPECT_EQ(MessageOf([&] { other->RestructureTable(false, "", 0, 512); }),
            "TOrvelDataSet.InternalRestructureTable - Table is busy, table T");
}

TEST_F(TableTest, ImportSkipsAnUnsupportedFieldAndImportsTheRest) {
  auto source_table = CreatePeople("SRC");
  source_table->Open();
  Add(*source_table, {{"x", 5}, {"y", 6}});
  // A field of a type no table stores, as another kind of dataset may offer.
  source_table->FieldDefs().Add("CUR", ftCursor);
  TDataSource source;
  source.SetDataSet(source_table.get());

  auto table = NewTable("DST");
  std::string log;
  std::vector<double> progress;
  table->OnProgress = [&](TComponent*, double percent, TmvProgressProcess process) {
    EXPECT_EQ(process, mvppImport);
    progress.push_back(percent);
  };
  EXPECT_FALSE(table->ImportTable(&source, &source_table->StoredIndexDefs(), log));
  EXPECT_EQ(log, "Field type not supported! FieldName = CUR. Field skipped.\r\n");
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(table->Active());
  EXPECT_THAT(Column(*table, "NAME"), ElementsAre("x", "y"));
  EXPECT_THAT(Column(*table, "ID"), ElementsAre("1", "2"));
  EXPECT_GE(table->IndexDefs().IndexOf("ByName"), 0);
  source.SetDataSet(nullptr);
}

TEST_F(TableTest, ImportRefusesMissingSourcesAndAllSkippedFields) {
  auto table = NewTable("DST");
  std::string log;
  EXPECT_EQ(MessageOf([&] { table->ImportTable(nullptr, nullptr, log); }),
            "Error in TOrvelDataset.ImportTable - dataSource 0 pointer.");
  TDataSource source;
  EXPECT_EQ(MessageOf([&] { table->ImportTable(&source, nullptr, log); }),
            "Error in TOrvelDataset.ImportTable - dataSet 0 pointer.");
}

}  // namespace
}  // namespace orv::testing
