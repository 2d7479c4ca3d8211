#include "engine/components/orvel_data_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/components/orvel_data_manager_list.h"
#include "engine/storage/buffer_log.h"
#include "engine/storage/index_list.h"
#include "engine/storage/records_array.h"
#include "platform/exception.h"
#include "tests/components/data_manager_fixture.h"
#include "tests/components/engine_fixture.h"

namespace orv {
namespace {

using testing::DataManagerTest;
using ::testing::HasSubstr;
using testing::IdOf;
using testing::ImageBuilder;
using testing::IntOf;
using testing::MessageOf;
using testing::TableDefinition;
using ::testing::ThrowsMessage;

constexpr int32_t kName = 0;
constexpr int32_t kN = 1;

void SimpleFields(TableDefinition& definition) {
  definition.fields.Add("Name", ftString, 20);
  definition.fields.Add("N", ftInteger);
}

// Appends records with identifiers 1.. and N = the given values.
void AppendValues(TOrvelDataManager& manager, const std::vector<int32_t>& values) {
  ImageBuilder image(manager.Table());
  for (int32_t value : values) {
    const int32_t id = manager.Table().Header().LastRecordId + 1;
    image.Clear(id).Int(kN, value).Text(kName, "n" + std::to_string(value));
    manager.mvAppendRecord(image.data(), 0);
  }
}

std::vector<int32_t> ValuesOf(TOrvelDataManager& manager) {
  std::vector<int32_t> values;
  for (int32_t r = 0; r < manager.RecordCount(); ++r)
    values.push_back(IntOf(manager.Table(), manager.GetRecordPtr(r), kN));
  return values;
}

TEST_F(DataManagerTest, CreatesOnlyTheFilesATableWithoutBlobsNeeds) {
  TableDefinition definition;
  definition.fields.Add("ID", ftAutoInc);
  SimpleFields(definition);
  definition.fields.Add("Other", ftAutoInc);
  NewManager()->CreateTable(definition.fields, definition.indexes, 1000, false);
  EXPECT_TRUE(env_.FileExists(dir_.File("T.dat")));
  EXPECT_TRUE(env_.FileExists(dir_.File("T.idx")));
  EXPECT_FALSE(env_.FileExists(dir_.File("T.bif")));
  EXPECT_FALSE(env_.FileExists(dir_.File("T.bdf")));

  auto manager = NewManager();
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(manager->LoadTable(), kLoadTableOpened);  // already open
  const TOrvelTableFiles& table = manager->Table();
  EXPECT_EQ(table.Header().IdFieldName, "ID");
  EXPECT_EQ(table.Header().IdVisibility, kIdentifierVisible);
  ASSERT_EQ(table.Fields().size(), 3u);
  EXPECT_EQ(table.Fields()[2].Type, ftInteger);
  EXPECT_EQ(table.Fields()[2].Size, 4);
  EXPECT_EQ(manager->Indexes().Count(), 1);
  EXPECT_EQ(manager->Indexes().Header(0).Name, "@ID");

  TableDefinition hidden;
  SimpleFields(hidden);
  hidden.indexes.Add("ByN", "N", 0);
  auto other = CreateAndOpen(hidden, "U");
  const std::string& id = other->Table().Header().IdFieldName;
  EXPECT_EQ(id.rfind("id", 0), 0u);
  EXPECT_GT(id.size(), 2u);
  EXPECT_EQ(other->Table().Header().IdVisibility, kIdentifierHidden);
  EXPECT_EQ(other->Indexes().IndexNo("ByN"), 1);
}

TEST_F(DataManagerTest, ATableWithBlobFieldsKeepsItsBlobFiles) {
  TableDefinition definition;
  SimpleFields(definition);
  definition.fields.Add("Notes", ftMemo);
  auto manager = CreateAndOpen(definition);
  EXPECT_TRUE(env_.FileExists(dir_.File("T.bif")));
  EXPECT_TRUE(env_.FileExists(dir_.File("T.bdf")));
  EXPECT_TRUE(manager->Table().HasBlobs());
  AppendValues(*manager, {4, 5});
  manager->CloseTable();
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(ValuesOf(*manager), (std::vector<int32_t>{4, 5}));
}

TEST_F(DataManagerTest, CreateTableRefusesBadNamesBeforeTouchingFiles) {
  const std::string invalid_end =
      "\". Make sure that the name doen't contain a period (.),bracket ([]) leading or trailing "
      "space, or non-printable character such as a carriage return";
  struct Case {
    std::string field;
    std::string index;
    std::string message;
  };
  const std::string long_name(254, 'a');
  const Case cases[] = {
      {long_name, "",
       "Field name must have <= 253 chars. Please shorten field name \"" + long_name + "\""},
      {" lead", "", "Invalid field name \" lead" + invalid_end},
      {"a.b", "", "Invalid field name \"a.b" + invalid_end},
      {"a[1]", "", "Invalid field name \"a[1]" + invalid_end},
      {"ok", "bad\r", "Invalid index name \"bad\r" + invalid_end},
      {"ok", long_name,
       "Index name must have <= 253 chars. Please shorten index name \"" + long_name + "\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TableDefinition definition;
    definition.fields.Add(c.field, ftInteger);
    if (!c.index.empty()) definition.indexes.Add(c.index, "ok", 0);
    EXPECT_EQ(MessageOf([&] {
                NewManager()->CreateTable(definition.fields, definition.indexes, 1000, false);
              }),
              c.message);
    EXPECT_FALSE(env_.FileExists(dir_.File("T.dat")));
  }
  TableDefinition longest;
  longest.fields.Add(std::string(253, 'b'), ftInteger);
  EXPECT_NO_THROW(NewManager()->CreateTable(longest.fields, longest.indexes, 1000, false));
  TableDefinition unsupported;
  unsupported.fields.Add("V", ftVarBytes, 4);
  EXPECT_EQ(MessageOf([&] {
              NewManager("V")->CreateTable(unsupported.fields, unsupported.indexes, 1000, false);
            }),
            "Error in TOrvelDataManager.CreateTable - Unsupported DB type!");
}

TEST_F(DataManagerTest, LoadTableReportsMissingAndDamagedTables) {
  EXPECT_EQ(NewManager("Nothing")->LoadTable(), kLoadTableMissing);
  TableDefinition definition;
  SimpleFields(definition);
  NewManager()->CreateTable(definition.fields, definition.indexes, 1000, false);
  {
    auto file = env_.Open(dir_.File("T.dat"), {});
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->Truncate(30));
  }
  auto manager = NewManager();
  EXPECT_EQ(manager->LoadTable(), kLoadTableFilesUnusable);
  EXPECT_FALSE(manager->IsOpen());
  EXPECT_EQ(manager->RecordCount(), 0);
}

TEST_F(DataManagerTest, RecordsSurviveCloseAndReopen) {
  TableDefinition definition;
  SimpleFields(definition);
  auto manager = CreateAndOpen(definition);
  AppendValues(*manager, {10, 20, 30});
  ImageBuilder image(manager->Table());
  image.Clear(2).Int(kN, 25).Text(kName, "changed");
  manager->mvUpdateRecord(image.data(), 0, 1);
  manager->CloseTable();

  auto reopened = NewManager();
  ASSERT_EQ(reopened->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(ValuesOf(*reopened), (std::vector<int32_t>{10, 25, 30}));
  EXPECT_STREQ(reinterpret_cast<const char*>(reopened->GetRecordPtr(1)), "changed");
  EXPECT_EQ(reopened->Table().Header().LastRecordId, 3);
  EXPECT_EQ(reopened->Table().Header().ChangeCounter, 4);
  EXPECT_EQ(env_.Counts("T.dat").writes > 0, true);
}

TEST_F(DataManagerTest, DeletesMoveTheLastRecordIntoTheHole) {
  TableDefinition definition;
  SimpleFields(definition);
  auto manager = CreateAndOpen(definition);
  AppendValues(*manager, {0, 1, 2});
  EXPECT_EQ(manager->mvDeleteRecord(0, 2), 0);  // the last: nothing moves
  EXPECT_EQ(ValuesOf(*manager), (std::vector<int32_t>{0, 1}));
  AppendValues(*manager, {2});
  manager->mvDeleteRecord(0, 0);  // record 2 takes number 0
  EXPECT_EQ(ValuesOf(*manager), (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(IdOf(manager->Table(), manager->GetRecordPtr(0)), 4);
  manager->CloseTable();
  auto reopened = NewManager();
  ASSERT_EQ(reopened->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(ValuesOf(*reopened), (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(reopened->Indexes().Array(0).Count(), 2);
  EXPECT_EQ(reopened->Indexes().Array(0)[0], 1);  // identifier 2 first, then 4
}

TEST_F(DataManagerTest, FreeingTheOnlyRecordOfALaterPageMakesThePageBeforeItTheLast) {
  TableDefinition definition;
  SimpleFields(definition);
  auto manager = CreateAndOpen(definition);
  manager->SetRecordCapacityHint(3);  // pages of 2 records
  manager->CloseTable();
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  ASSERT_EQ(manager->RecordsArray()->RecordsPerPage(), 2);
  AppendValues(*manager, {0, 1, 2, 3, 4});
  EXPECT_EQ(manager->RecordsArray()->CachedPageCount(), 3);
  manager->mvDeleteRecord(0, 4);
  EXPECT_EQ(manager->RecordsArray()->CachedPageCount(), 2);
  AppendValues(*manager, {5});
  manager->mvDeleteRecord(0, 1);
  EXPECT_EQ(ValuesOf(*manager), (std::vector<int32_t>{0, 5, 2, 3}));
}

TEST_F(DataManagerTest, UnflushedChangesAreReadBackAfterTheirPageLeftTheCache) {
  TableDefinition definition;
  SimpleFields(definition);
  auto manager = CreateAndOpen(definition);
  std::vector<int32_t> values(40);
  for (int32_t i = 0; i < 40; ++i) values[static_cast<size_t>(i)] = i;
  AppendValues(*manager, values);
  manager->FlushBuffers();
  manager->SetCacheDisabled(true);  // 25 single-record pages
  uint32_t now = 1000;
  manager->RecordsArray()->SetTickSource([&] { return now; });
  manager->SetAutoFlush(false);
  env_.ResetCounts();

  ImageBuilder image(manager->Table());
  manager->mvUpdateRecord(image.Clear(1).Int(kN, 100).data(), 0, 0);
  manager->mvDeleteRecord(0, 5);  // record 39 moves into 5
  now += 500;                     // the changed pages are now the ones idle longest
  for (int32_t r = 10; r < 39; ++r) manager->GetRecordPtr(r);
  ASSERT_FALSE(manager->RecordsArray()->IsCached(0));
  ASSERT_FALSE(manager->RecordsArray()->IsCached(5));
  EXPECT_EQ(IntOf(manager->Table(), manager->GetRecordPtr(0), kN), 100);
  EXPECT_EQ(IntOf(manager->Table(), manager->GetRecordPtr(5), kN), 39);
  EXPECT_EQ(env_.Counts("T.dat").writes, 0);
}

TEST_F(DataManagerTest, NothingIsWrittenWhileAutomaticFlushingIsOff) {
  TableDefinition definition;
  SimpleFields(definition);
  auto manager = CreateAndOpen(definition);
  manager->SetAutoFlush(false);
  env_.ResetCounts();
  std::vector<int32_t> values(TmvBufferLogArray::kEntryLimit + 1, 7);
  AppendValues(*manager, values);
  EXPECT_EQ(env_.Counts("T.dat").writes, 0);
  EXPECT_EQ(manager->BufferLog()->EntryCount(), TmvBufferLogArray::kEntryLimit + 1);

  manager->SetAutoFlush(true);  // the check runs at once: past the entry limit
  EXPECT_EQ(manager->BufferLog()->EntryCount(), 0);
  const int64_t writes = env_.Counts("T.dat").writes;
  EXPECT_GT(writes, 0);
  EXPECT_LE(writes, 4);  // headers and one run of images

  // The automatic flush keeps the stored header in step: the record count at 264.
  auto file = env_.Open(dir_.File("T.dat"), {});
  uint8_t count[4];
  ASSERT_EQ(file->ReadAt(264, count, 4), 4);
  EXPECT_EQ(LoadI32(count), TmvBufferLogArray::kEntryLimit + 1);
}

TEST_F(DataManagerTest, FlushAndCloseWriteWhatAutomaticFlushingHeldBack) {
  TableDefinition definition;
  SimpleFields(definition);
  auto manager = CreateAndOpen(definition);
  manager->SetAutoFlush(false);
  AppendValues(*manager, {1, 2});
  env_.ResetCounts();
  manager->FlushBuffers();
  EXPECT_GT(env_.Counts("T.dat").writes, 0);
  EXPECT_GT(env_.Counts("T.dat").flushes, 0);
  env_.ResetCounts();
  manager->FlushBuffers();  // nothing changed since
  EXPECT_EQ(env_.Counts("T.dat").writes, 0);
  AppendValues(*manager, {3});
  manager->CloseTable();
  auto reopened = NewManager();
  ASSERT_EQ(reopened->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(ValuesOf(*reopened), (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(DataManagerTest, AFailedFlushAtCloseIsReportedNotRaised) {
  TableDefinition definition;
  SimpleFields(definition);
  auto manager = CreateAndOpen(definition);
  AppendValues(*manager, {1});
  std::vector<std::string> reported;
  TOrvelDataManager::SetCloseErrorHandler([&](const std::string& m) { reported.push_back(m); });
  env_.FailWrite(1, "T.dat");
  EXPECT_NO_THROW(manager->CloseTable());
  TOrvelDataManager::SetCloseErrorHandler(nullptr);
  EXPECT_THAT(reported, ::testing::ElementsAre(
                            "TOrvelDataManager.CloseTable - Cannot flush changes. Probably the "
                            "table is opened by other application."));
  EXPECT_FALSE(manager->IsOpen());
}

TEST_F(DataManagerTest, PasswordsOfEncryptedTables) {
  TableDefinition definition;
  SimpleFields(definition);
  auto creator = NewManager();
  creator->SetRequestedEncrypted(true);
  creator->CreateTable(definition.fields, definition.indexes, 1000, false);
  struct Case {
    const char* password;
    int result;
  };
  // No records: any password but the empty one.
  for (const Case& c : {Case{"anything", kLoadTableOpened}, Case{"", kLoadTableWrongPassword}}) {
    auto manager = NewManager();
    manager->SetPassword(c.password);
    EXPECT_EQ(manager->LoadTable(), c.result) << c.password;
  }
  {
    auto manager = NewManager();
    manager->SetPassword("pw");
    ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
    AppendValues(*manager, {11, 22});
    manager->CloseTable();
  }
  for (const Case& c : {Case{"pw", kLoadTableOpened}, Case{"PW", kLoadTableWrongPassword},
                        Case{"", kLoadTableWrongPassword}}) {
    auto manager = NewManager();
    manager->SetPassword(c.password);
    EXPECT_EQ(manager->LoadTable(), c.result) << c.password;
    if (c.result == kLoadTableOpened) {
      EXPECT_TRUE(manager->Table().Header().Encrypted);
      EXPECT_EQ(ValuesOf(*manager), (std::vector<int32_t>{11, 22}));
    }
  }
  // The field data is enciphered on disk: the text of record 0 is not there in the clear.
  std::string dat(4096, '\0');
  {
    auto file = env_.Open(dir_.File("T.dat"), {});
    dat.resize(static_cast<size_t>(file->ReadAt(0, dat.data(), static_cast<int64_t>(dat.size()))));
  }
  EXPECT_EQ(dat.find("n11"), std::string::npos);
}

TEST_F(DataManagerTest, ADamagedEncipheredRecordFailsItsCrcWhenLoaded) {
  TableDefinition definition;
  SimpleFields(definition);
  auto creator = NewManager();
  creator->SetRequestedEncrypted(true);
  creator->CreateTable(definition.fields, definition.indexes, 1000, false);
  int32_t offset, record_size;
  {
    auto manager = NewManager();
    manager->SetPassword("pw");
    ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
    AppendValues(*manager, {1, 2, 3});
    offset = manager->Table().DataOffset();
    record_size = manager->Table().Geometry().RecordSize;
    manager->CloseTable();
  }
  env_.FlipByteOnRead("T.dat", offset + record_size + 3, 0x01);
  auto manager = NewManager();
  manager->SetPassword("pw");
  manager->SetCacheDisabled(true);
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(IntOf(manager->Table(), manager->GetRecordPtr(0), kN), 1);
  EXPECT_THAT([&] { manager->GetRecordPtr(1); },
              ThrowsMessage<Exception>(
                  "Error in TOrvelDataManager.ChangeBufferEncryption - crc error, decoding"));
}

TEST_F(DataManagerTest, ACleanlyClosedTableOpensWithoutSorting) {
  TableDefinition definition;
  SimpleFields(definition);
  definition.indexes.Add("ByN", "N", 0);
  definition.indexes.Add("ByName", "Name", ixDescending);
  auto manager = CreateAndOpen(definition);
  AppendValues(*manager, {5, 3, 9, 1, 7, 2, 8, 4, 6, 0, 11, 10});
  manager->mvDeleteRecord(0, 3);
  manager->CloseTable();
  auto reopened = NewManager();
  ASSERT_EQ(reopened->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(reopened->Indexes().SortCount(), 0);
  const int32_t by_n = reopened->Indexes().IndexNo("ByN");
  std::vector<int32_t> ordered;
  for (int32_t p = 0; p < reopened->Indexes().Array(by_n).Count(); ++p)
    ordered.push_back(
        IntOf(reopened->Table(), reopened->GetRecordPtr(reopened->Indexes().Array(by_n)[p]), kN));
  EXPECT_EQ(ordered, (std::vector<int32_t>{0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST_F(DataManagerTest, ChangesAreRefusedWhereTheyCouldNotBeKept) {
  TableDefinition definition;
  SimpleFields(definition);
  auto manager = CreateAndOpen(definition);
  AppendValues(*manager, {1});
  ImageBuilder image(manager->Table());
  EXPECT_THAT([&] { manager->mvUpdateRecord(image.data(), 0, 1); },
              ThrowsMessage<Exception>(HasSubstr("invalid record number 1")));
  EXPECT_THROW(manager->mvDeleteRecord(0, -1), Exception);
  EXPECT_THROW(manager->mvAppendRecord(nullptr, 0), Exception);
  EXPECT_THAT([&] { manager->GetRecordPtr(1); },
              ThrowsMessage<Exception>("TRecordsPage.GetRecordPtr - Cannot find record"));
  manager->CloseTable();

  auto read_only = NewManager();
  read_only->SetReadOnly(true);
  ASSERT_EQ(read_only->LoadTable(), kLoadTableOpened);
  EXPECT_THAT([&] { read_only->mvAppendRecord(image.data(), 0); },
              ThrowsMessage<Exception>(HasSubstr("is read-only")));
  EXPECT_EQ(read_only->RecordCount(), 1);
  EXPECT_THAT([&] { NewManager()->mvAppendRecord(image.data(), 0); },
              ThrowsMessage<Exception>(HasSubstr("table is not opened")));
}

TEST_F(DataManagerTest, OneSharedManagerPerTableAndDatabase) {
  TOrvelDataManager* first = mvGetDataManager("Cars", database_.get());
  EXPECT_EQ(mvGetDataManager("CARS", database_.get()), first);
  EXPECT_NE(mvGetDataManager("Other", database_.get()), first);
  EXPECT_TRUE(DataManagers().Contains(first));
  EXPECT_EQ(MessageOf([] { mvGetDataManager("Cars", nullptr); }),
            "mvGetDataManager - nil pointer to DatabaseManager.");
  delete first;
  EXPECT_FALSE(DataManagers().Contains(first));
  EXPECT_EQ(DataManagers().Count(), 1);  // the shut-down frees the other
}

}  // namespace
}  // namespace orv
