#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/components/orvel_callbacks.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_data_manager_list.h"
#include "engine/components/orvel_engine_dataset.h"
#include "engine/storage/index_list.h"
#include "platform/exception.h"
#include "platform/streams.h"
#include "tests/components/data_manager_fixture.h"
#include "tests/components/engine_fixture.h"

namespace orv {
namespace {

using testing::DataManagerTest;
using testing::ImageBuilder;
using testing::IntOf;
using testing::MessageOf;
using testing::TableDefinition;

constexpr int32_t kN = 0;
const char* const kExtensions[] = {".dat", ".idx", ".bif", ".bdf"};

// A dataset as the data manager sees it: only its settings.
class SettingsDataset : public TOrvelEngineDataset {
 public:
  bool in_memory = false;
  bool temporary = false;
  bool read_only = false;
  bool encrypted = false;
  std::string password;

  TComponent* DatasetComponent() override { return nullptr; }
  bool DatasetActive() const override { return false; }
  void CloseDataset() override {}
  std::string DatasetSessionName() const override { return {}; }
  void SetDatasetSessionName(const std::string&) override {}
  std::string DatasetDatabaseName() const override { return {}; }
  std::string DatasetDatabaseFileName() const override { return {}; }
  bool DatasetReadOnly() const override { return read_only; }
  void SetDatasetReadOnly(bool value) override { read_only = value; }
  bool DatasetInMemory() const override { return in_memory; }
  bool DatasetTemporaryMode() const override { return temporary; }
  std::string DatasetPassword() const override { return password; }
  bool DatasetEncrypted() const override { return encrypted; }
};

class LifecycleTest : public DataManagerTest {
 protected:
  // N (integer) and Memo (ftMemo) in table "T", with one record per value.
  void CreateTable(const std::vector<int32_t>& values, const std::string& password = {},
                   uint8_t store_mode = 0) {
    TableDefinition definition;
    definition.fields.Add("N", ftInteger);
    definition.fields.Add("Memo", ftMemo);
    auto manager = NewManager();
    manager->SetStoreMode(store_mode);
    manager->SetRequestedEncrypted(!password.empty());
    manager->CreateTable(definition.fields, definition.indexes, 1000, false);
    manager->SetPassword(password);
    ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
    for (int32_t value : values) Append(*manager, value);
    manager->CloseTable();
  }

  static void Append(TOrvelDataManager& manager, int32_t value) {
    ImageBuilder image(manager.Table());
    image.Clear(manager.Table().Header().LastRecordId + 1).Int(kN, value);
    manager.mvAppendRecord(image.data(), 0);
    TMemoryStream memo;
    const std::string text = "memo " + std::to_string(value);
    memo.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    manager.WriteBLOBValue(memo, 0, manager.RecordCount() - 1);
  }

  static std::vector<std::string> Rows(TOrvelDataManager& manager) {
    std::vector<std::string> rows;
    for (int32_t r = 0; r < manager.RecordCount(); ++r) {
      TMemoryStream memo;
      manager.ReadBLOBValue(memo, 0, r);
      rows.push_back(std::to_string(IntOf(manager.Table(), manager.GetRecordPtr(r), kN)) + ":" +
                     std::string(reinterpret_cast<const char*>(memo.Memory()),
                                 static_cast<size_t>(memo.Size())));
    }
    return rows;
  }

  std::vector<std::string> FilesOf(const std::string& table) {
    std::vector<std::string> present;
    for (const char* extension : kExtensions)
      if (env_.FileExists(dir_.File(table + extension))) present.push_back(table + extension);
    return present;
  }

  TOrvelDataManager* Shared(const std::string& table = "T") {
    return mvGetDataManager(table, database_.get());
  }
};

TEST_F(LifecycleTest, DeleteTableRemovesEveryFileOfAClosedTable) {
  CreateTable({1, 2});
  ASSERT_EQ(FilesOf("T").size(), 4u);
  auto manager = NewManager();
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(MessageOf([&] { manager->DeleteTable(); }),
            "Error in TOrvelDataManager.DeleteTable - table \"T\" is opened.");
  manager->CloseTable();
  manager->DeleteTable();
  EXPECT_TRUE(FilesOf("T").empty());
  EXPECT_EQ(manager->LoadTable(), kLoadTableMissing);
  EXPECT_NO_THROW(manager->DeleteTable());  // nothing left to delete
}

TEST_F(LifecycleTest, RenameTableMovesEveryFileAndReplacesAnOldTableOfTheNewName) {
  CreateTable({1, 2});
  auto other = NewManager("U");
  TableDefinition plain;
  plain.fields.Add("X", ftInteger);
  other->CreateTable(plain.fields, plain.indexes, 1000, false);

  auto manager = NewManager();
  manager->RenameTable("U");
  EXPECT_EQ(manager->TableName(), "U");
  EXPECT_TRUE(FilesOf("T").empty());
  EXPECT_EQ(FilesOf("U").size(), 4u);
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(Rows(*manager), (std::vector<std::string>{"1:memo 1", "2:memo 2"}));
  manager->CloseTable();

  // Another case of the same name renames the files and replaces nothing.
  manager->RenameTable("u");
  EXPECT_EQ(FilesOf("u").size(), 4u);
  EXPECT_TRUE(FilesOf("U").empty());
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(manager->RecordCount(), 2);
  manager->CloseTable();

  // A folder in the way of the .idx: the files moved so far stay moved, the name stays.
  ASSERT_TRUE(env_.CreateDirectory(dir_.File("V.idx")));
  EXPECT_EQ(MessageOf([&] { manager->RenameTable("V"); }),
            "Error in TOrvelDataManager.RenameTable - u.idx file cannot be renamed.");
  EXPECT_EQ(FilesOf("V"), (std::vector<std::string>{"V.bif", "V.bdf"}));
  EXPECT_EQ(manager->TableName(), "u");
}

TEST_F(LifecycleTest, SaveTableCopiesAnInMemoryTableToTheDatabaseStore) {
  CreateTable({1});
  auto memory = NewManager();
  memory->SetStoreMode(kStoreModeMemory);
  ASSERT_EQ(memory->LoadTable(), kLoadTableOpened);  // a copy of the table on disk
  Append(*memory, 2);
  {
    auto disk = NewManager();
    ASSERT_EQ(disk->LoadTable(), kLoadTableOpened);
    EXPECT_EQ(disk->RecordCount(), 1);
  }
  memory->SaveTable();
  auto disk = NewManager();
  ASSERT_EQ(disk->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(Rows(*disk), (std::vector<std::string>{"1:memo 1", "2:memo 2"}));
  EXPECT_EQ(Rows(*memory), Rows(*disk));
}

TEST_F(LifecycleTest, AMissingTableLeavesNoStateAndASecondLoadReturnsAtOnce) {
  SettingsDataset dataset;
  TOrvelDataManager* manager = Shared("Missing");
  EXPECT_EQ(manager->ConnectDataset(&dataset), kLoadTableMissing);
  EXPECT_EQ(manager->DatasetCount(), 0);
  EXPECT_FALSE(manager->IsOpen());
  EXPECT_EQ(manager->RecordsArray(), nullptr);
  EXPECT_EQ(manager->Table().File(tfkData), nullptr);
  EXPECT_EQ(manager->Table().File(tfkIndex), nullptr);
  EXPECT_TRUE(manager->Table().Fields().empty());
  delete manager;
  EXPECT_TRUE(FilesOf("Missing").empty());
}

TEST_F(LifecycleTest, DatasetsShareOneManagerUntilTheLastLeaves) {
  CreateTable({1, 2, 3});
  SettingsDataset first;
  SettingsDataset second;
  TOrvelDataManager* manager = Shared();
  ASSERT_EQ(manager->ConnectDataset(&first), kLoadTableOpened);
  ASSERT_EQ(Shared("t"), manager);
  ASSERT_EQ(manager->ConnectDataset(&second), kLoadTableOpened);
  EXPECT_EQ(manager->DatasetCount(), 2);
  manager->DisconnectDataset(&first);
  EXPECT_TRUE(manager->IsOpen());
  EXPECT_EQ(manager->DatasetCount(), 1);
  EXPECT_EQ(manager->RecordCount(), 3);
  Append(*manager, 4);
  manager->DisconnectDataset(&second);
  EXPECT_FALSE(DataManagers().Contains(manager));
  auto reopened = NewManager();
  ASSERT_EQ(reopened->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(reopened->RecordCount(), 4);
}

TEST_F(LifecycleTest, ConnectRefusesMixedModesAndWrongPasswords) {
  CreateTable({1}, "pw");
  struct Case {
    bool first_in_memory;
    bool in_memory;
    bool temporary;
    bool encrypted;
    std::string password;
    std::string message;  // empty: accepted
  };
  const std::string prefix = "TOrvelDataManager.ConnectDataset - ";
  const Case cases[] = {
      {false, true, false, false, "pw",
       prefix + "Cannot open dataset in both InMemory and other modes."},
      {true, false, false, false, "pw",
       prefix + "Cannot open dataset in both InMemory and other modes."},
      {false, false, true, false, "pw",
       prefix + "Cannot open dataset in both Temporary and other modes."},
      {false, false, false, true, "PW", prefix + "Inavlid password for table \"T\""},
      {false, false, false, false, "PW", ""},
      {false, false, false, true, "pw", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    SettingsDataset first;
    first.in_memory = c.first_in_memory;
    first.password = "pw";
    SettingsDataset second;
    second.in_memory = c.in_memory;
    second.temporary = c.temporary;
    second.encrypted = c.encrypted;
    second.password = c.password;
    TOrvelDataManager* manager = Shared();
    ASSERT_EQ(manager->ConnectDataset(&first), kLoadTableOpened);
    EXPECT_EQ(manager->StoreMode(), c.first_in_memory ? kStoreModeMemory : 0);
    EXPECT_EQ(MessageOf([&] { manager->ConnectDataset(&second); }), c.message);
    // A refused dataset is not kept, so closing it later cannot take the table away.
    EXPECT_EQ(manager->DatasetCount(), c.message.empty() ? 2 : 1);
    manager->DisconnectDataset(&second);
    EXPECT_TRUE(DataManagers().Contains(manager));
    manager->DisconnectDataset(&first);
  }
}

TEST_F(LifecycleTest, ReadOnlySettingsOfDatasetsAndFiles) {
  CreateTable({1});
  {
    SettingsDataset reader;
    reader.read_only = true;
    SettingsDataset writer;
    TOrvelDataManager* manager = Shared();
    ASSERT_EQ(manager->ConnectDataset(&reader), kLoadTableOpened);
    EXPECT_TRUE(manager->ReadOnly());
    EXPECT_THROW(Append(*manager, 2), Exception);
    ASSERT_EQ(manager->ConnectDataset(&writer), kLoadTableOpened);
    EXPECT_FALSE(manager->ReadOnly());
    EXPECT_FALSE(writer.read_only);
    Append(*manager, 2);
    manager->DisconnectDataset(&reader);
    manager->DisconnectDataset(&writer);
  }
  ASSERT_TRUE(env_.SetReadOnly(dir_.File("T.dat"), true));
  SettingsDataset first;
  SettingsDataset second;
  TOrvelDataManager* manager = Shared();
  ASSERT_EQ(manager->ConnectDataset(&first), kLoadTableOpened);
  EXPECT_TRUE(manager->FilesOpenedReadOnly());
  EXPECT_TRUE(manager->ReadOnly());
  EXPECT_TRUE(first.read_only);
  ASSERT_EQ(manager->ConnectDataset(&second), kLoadTableOpened);
  EXPECT_TRUE(second.read_only);
  EXPECT_TRUE(manager->ReadOnly());
  EXPECT_EQ(Rows(*manager), (std::vector<std::string>{"1:memo 1", "2:memo 2"}));
  EXPECT_THROW(Append(*manager, 3), Exception);
  manager->DisconnectDataset(&first);
  manager->DisconnectDataset(&second);
  ASSERT_TRUE(env_.SetReadOnly(dir_.File("T.dat"), false));
}

TEST_F(LifecycleTest, DetectFileStoreModeFollowsTheDatasets) {
  TOrvelDataManager manager("T", database_.get());
  EXPECT_EQ(MessageOf([&] { manager.DetectFileStoreMode(); }),
            "TOrvelDataManager.DetectFileStoreMode - there is no datasets, datasetList.count = 0");
  CreateTable({});
  SettingsDataset memory;
  memory.in_memory = true;
  SettingsDataset other_memory;
  other_memory.in_memory = true;
  TOrvelDataManager* shared = Shared();
  ASSERT_EQ(shared->ConnectDataset(&memory), kLoadTableOpened);
  ASSERT_EQ(shared->ConnectDataset(&other_memory), kLoadTableOpened);
  shared->DisconnectDataset(&memory);
  EXPECT_EQ(shared->StoreMode(), kStoreModeMemory);
  shared->DisconnectDataset(&other_memory);
}

TEST_F(LifecycleTest, AtDesignTimeTheUserIsAskedForThePasswordUntilItFits) {
  CreateTable({7}, "pw");
  SetDesignTime();
  std::vector<std::string> answers;
  SetTablePasswordQuestion([&](const std::string& table, std::string& password) {
    EXPECT_EQ(table, "T");
    if (answers.empty()) return false;
    password = answers.front();
    answers.erase(answers.begin());
    return true;
  });
  {
    auto manager = NewManager();
    manager->SetPassword("wrong");
    EXPECT_EQ(manager->LoadTable(), kLoadTableNoPassword);
  }
  answers = {"still wrong", "pw"};
  auto manager = NewManager();
  manager->SetPassword("wrong");
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_TRUE(answers.empty());
  EXPECT_EQ(manager->Password(), "pw");
  // Design time keeps the files released between operations.
  EXPECT_EQ(manager->Table().File(tfkData), nullptr);
  EXPECT_EQ(Rows(*manager), (std::vector<std::string>{"7:memo 7"}));
  Append(*manager, 8);
  manager->CloseTable();
  SetTablePasswordQuestion({});
  ResetDesignTimeForTesting();
  manager->SetPassword("pw");
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(Rows(*manager), (std::vector<std::string>{"7:memo 7", "8:memo 8"}));
}

TEST_F(LifecycleTest, IndexBuildsReportThroughTheProgressFactory) {
  CreateTable({3, 1, 2});
  std::vector<std::string> events;
  SetIndexProgressFactory([&](const std::string& table, TOrvelSetControlsEnabled) {
    events.push_back("new " + table);
    return [&](bool starting, bool finished, double percent) {
      if (starting || finished) events.push_back(starting ? "start" : "finish");
    };
  });
  auto manager = NewManager();
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  manager->Indexes().SetProgressSuppressed(false);
  manager->Indexes().AddIndex("ByN", "N", false, "", "", 0);
  SetIndexProgressFactory({});
  EXPECT_EQ(events, (std::vector<std::string>{"new T", "start", "finish"}));
}

// A table of an old format: short headers at the given version, records N = 1, 2 and no .idx.
void WriteOldTable(TOrvelDataManager& manager, double version) {
  TOrvelTableFiles& table = manager.Table();
  table.Header().Version = version;
  table.Header().IdFieldName = "id";
  FieldHeaderType name;
  name.Name = "Name";
  name.Type = ftString;
  name.Size = 11;
  FieldHeaderType n;
  n.Name = "N";
  n.Type = ftInteger;
  n.Size = 4;
  table.SetFields({name, n});
  table.Header().RecordCount = 2;
  table.Header().LastRecordId = 2;
  TAbstractFile* dat = table.OpenFile(tfkData, true);
  table.SaveTableHeaders();
  ImageBuilder image(table);
  for (int32_t id = 1; id <= 2; ++id) {
    image.Clear(id).Text(0, "row" + std::to_string(id)).Int(1, id);
    dat->SetPosition(table.DataOffset() + (id - 1) * table.Geometry().RecordSize);
    dat->WriteBuffer(image.data(), table.Geometry().RecordSize);
  }
  table.ReleaseFiles();
}

TEST_F(LifecycleTest, OldFormatsAreConvertedWhenTheyOpen) {
  {
    auto writer = NewManager();
    WriteOldTable(*writer, 2.0);
  }
  auto manager = NewManager();
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_DOUBLE_EQ(manager->Table().Header().Version, 4.49);
  EXPECT_GE(manager->Indexes().IndexNo("@@Name"), 0);
  manager->CloseTable();
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_DOUBLE_EQ(manager->Table().Header().Version, 4.49);
  ASSERT_EQ(manager->RecordCount(), 2);
  EXPECT_EQ(IntOf(manager->Table(), manager->GetRecordPtr(1), 1), 2);
  EXPECT_STREQ(reinterpret_cast<const char*>(manager->GetRecordPtr(1)), "row2");
  const int32_t by_name = manager->Indexes().IndexNo("@@Name");
  EXPECT_EQ(manager->Indexes().Array(by_name).Count(), 2);
  manager->CloseTable();

  // A read-only table cannot be converted; a format whose records would change is refused.
  auto old = NewManager("Old");
  WriteOldTable(*old, 2.0);
  env_.Open(dir_.File("Old.idx"), {.create = true});  // a read-only table makes no .idx
  old->SetReadOnly(true);
  EXPECT_EQ(MessageOf([&] { old->LoadTable(); }),
            "Error in TOrvelDataManager.ConvertToCurrentTable - table is in ReadOnly mode!");
  EXPECT_FALSE(old->IsOpen());
  auto older = NewManager("Older");
  WriteOldTable(*older, 1.2);
  EXPECT_THAT(MessageOf([&] { older->LoadTable(); }),
              ::testing::StartsWith("Error in TOrvelDataManager.ConvertToCurrentTable - this table "
                                    "format is not supported, version = 1.20\r\n"));
}

}  // namespace
}  // namespace orv
