#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/components/orvel_data_manager.h"
#include "engine/protect/compression.h"
#include "engine/storage/blob_store.h"
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
// BLOB field numbers as the data manager counts them.
constexpr int32_t kPicture = 0;
constexpr int32_t kNotes = 1;
constexpr int32_t kBlockSize = 512;

enum class Store { kFolder, kContainer, kMemory };

std::string StoreName(const ::testing::TestParamInfo<Store>& info) {
  switch (info.param) {
    case Store::kFolder:
      return "Folder";
    case Store::kContainer:
      return "Container";
    case Store::kMemory:
      return "Memory";
  }
  return "?";
}

// Compressible, but not trivially: runs of a few letters.
std::vector<uint8_t> Value(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>('a' + random() % 4);
  return bytes;
}

std::vector<uint8_t> Bytes(TMemoryStream& stream) {
  return {stream.Memory(), stream.Memory() + stream.Size()};
}

// The table "T" with fields N (integer), Picture (ftBlob) and Notes (ftMemo), in a folder of
// table files, a single-file container, or in memory over the folder.
class BlobTest : public DataManagerTest {
 protected:
  void UseStore(Store store) {
    store_ = store;
    OpenDatabase();
    if (store_ == Store::kContainer) database_->CreateDatabase();
  }

  std::unique_ptr<TOrvelDataManager> Manager(const std::string& password = {}) {
    auto manager = NewManager();
    if (store_ == Store::kMemory) manager->SetStoreMode(kStoreModeMemory);
    manager->SetPassword(password);
    return manager;
  }

  std::unique_ptr<TOrvelDataManager> Create(uint8_t level, const std::string& password) {
    TableDefinition definition;
    definition.fields.Add("N", ftInteger);
    definition.fields.Add("Picture", ftBlob);
    definition.fields.Add("Notes", ftMemo);
    auto creator = Manager(password);
    creator->SetRequestedBlobCompression(level);
    creator->SetRequestedEncrypted(!password.empty());
    creator->CreateTable(definition.fields, definition.indexes, 1000, false);
    return Open(password);
  }

  std::unique_ptr<TOrvelDataManager> Open(const std::string& password = {}) {
    auto manager = Manager(password);
    EXPECT_EQ(manager->LoadTable(), kLoadTableOpened);
    return manager;
  }

  // Closes the table and, unless it lives in memory, the store too, then opens it again.
  std::unique_ptr<TOrvelDataManager> Reopen(std::unique_ptr<TOrvelDataManager> manager,
                                            const std::string& password = {}) {
    manager->CloseTable();
    manager.reset();
    if (store_ != Store::kMemory) OpenDatabase();
    return Open(password);
  }

  void Append(TOrvelDataManager& manager, int32_t n) {
    ImageBuilder image(manager.Table());
    image.Clear(manager.Table().Header().LastRecordId + 1).Int(kN, n);
    manager.mvAppendRecord(image.data(), 0);
  }

  static void Write(TOrvelDataManager& manager, int32_t field, int32_t record,
                    const std::vector<uint8_t>& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    manager.WriteBLOBValue(stream, field, record);
  }

  static std::vector<uint8_t> Read(TOrvelDataManager& manager, int32_t field, int32_t record) {
    TMemoryStream stream;
    stream.WriteBuffer("stale", 5);
    manager.ReadBLOBValue(stream, field, record);
    EXPECT_EQ(stream.Position(), 0);
    return Bytes(stream);
  }

  int64_t BlobDataSize() {
    if (store_ != Store::kFolder) return -1;
    auto file = env_.Open(dir_.File("T.bdf"), {});
    return file ? file->Size() : -1;
  }

 private:
  void OpenDatabase() {
    database_.reset();
    if (store_ == Store::kContainer)
      database_ = std::make_unique<TOrvelDatabaseManager>(dir_.File("db.ovb"), kStoreModeContainer,
                                                          dfmNormal, false, false, 0);
    else
      database_ = std::make_unique<TOrvelDatabaseManager>(dir_.path(), kStoreModeDisk, dfmNormal,
                                                          false, false, 0);
  }

  Store store_ = Store::kFolder;
};

class BlobStoreModeTest : public BlobTest, public ::testing::WithParamInterface<Store> {
 protected:
  void SetUp() override {
    BlobTest::SetUp();
    UseStore(GetParam());
  }
};

TEST_P(BlobStoreModeTest, ValuesOfEverySizeLevelAndPasswordReadBackAfterReopening) {
  const std::vector<size_t> small = {0, 1, kBlockSize, kBlockSize + 1};
  std::vector<size_t> with_large = small;
  with_large.push_back(5u << 20);
  struct Case {
    uint8_t level;
    std::string password;
    const std::vector<size_t>* sizes;
  };
  // One 5 MiB value, deflated and enciphered: each costs a second in a sanitizer build, and the
  // higher levels, which model every byte, several.
  const Case cases[] = {
      {clNone, "", &small},    {clNone, "secret", &small},
      {clFastest, "", &small}, {clFastest, "secret", &with_large},
      {clDefault, "", &small}, {clDefault, "secret", &small},
      {clMax, "", &small},     {clMax, "secret", &small},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "level " << int(c.level) << ", password \"" << c.password << "\"");
    NewManager()->DeleteTable();
    if (GetParam() == Store::kMemory) Manager()->DeleteTable();
    auto manager = Create(c.level, c.password);
    std::map<int32_t, std::vector<uint8_t>> expected;
    for (size_t size : *c.sizes) {
      const int32_t record = manager->RecordCount();
      Append(*manager, static_cast<int32_t>(size));
      expected[record] = Value(size, static_cast<uint32_t>(size));
      Write(*manager, kPicture, record, expected[record]);
    }
    const std::vector<uint8_t> note = {'n', 'o', 't', 'e'};
    Write(*manager, kNotes, 1, note);
    // Before the log reached the files, and after reopening.
    EXPECT_EQ(Read(*manager, kPicture, 1), expected[1]);
    manager = Reopen(std::move(manager), c.password);
    ASSERT_EQ(manager->RecordCount(), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(manager->Table().Header().BlobCompression, c.level);
    for (const auto& [record, bytes] : expected)
      EXPECT_EQ(Read(*manager, kPicture, record), bytes) << "record " << record;
    EXPECT_EQ(Read(*manager, kNotes, 1), note);
    EXPECT_TRUE(Read(*manager, kNotes, 0).empty());
    manager->CloseTable();
  }
}

TEST_P(BlobStoreModeTest, DeletingARecordMovesTheLastRecordsValuesIntoItsPlace) {
  auto manager = Create(clNone, "");
  for (int32_t r = 0; r < 3; ++r) {
    Append(*manager, r);
    Write(*manager, kPicture, r, Value(700, uint32_t(r)));
  }
  manager->mvDeleteRecord(0, 0);
  ASSERT_EQ(manager->BlobStore()->RecordCount(), 2);
  EXPECT_EQ(IntOf(manager->Table(), manager->GetRecordPtr(0), kN), 2);
  EXPECT_EQ(Read(*manager, kPicture, 0), Value(700, 2));
  manager->mvDeleteRecord(0, 1);
  manager = Reopen(std::move(manager));
  ASSERT_EQ(manager->RecordCount(), 1);
  EXPECT_EQ(Read(*manager, kPicture, 0), Value(700, 2));
  // The freed blocks are used again before the file grows.
  Append(*manager, 3);
  Write(*manager, kPicture, 1, Value(1400, 3));
  EXPECT_EQ(manager->BlobStore()->TotalBlockCount(), 6);
}

INSTANTIATE_TEST_SUITE_P(Stores, BlobStoreModeTest,
                         ::testing::Values(Store::kFolder, Store::kContainer, Store::kMemory),
                         StoreName);

TEST_F(BlobTest, RewritingSameSizeValuesAfterDeletingThemDoesNotGrowTheDataFile) {
  auto manager = Create(clNone, "");
  std::mt19937 random(7);
  constexpr int32_t kRecords = 12;
  std::map<std::pair<int32_t, int32_t>, std::vector<uint8_t>> expected;
  for (int32_t r = 0; r < kRecords; ++r) {
    Append(*manager, r);
    for (int32_t f : {kPicture, kNotes}) {
      expected[{r, f}] = Value(100 + random() % 3000, random());
      Write(*manager, f, r, expected[{r, f}]);
    }
  }
  manager->FlushBuffers();
  const int32_t blocks = manager->BlobStore()->TotalBlockCount();
  const int64_t bdf_size = BlobDataSize();
  EXPECT_EQ(bdf_size, int64_t(blocks) * kBlockSize);
  for (int round = 0; round < 200; ++round) {
    const auto r = static_cast<int32_t>(random() % kRecords);
    const int32_t f = random() % 2 == 0 ? kPicture : kNotes;
    std::vector<uint8_t>& value = expected[{r, f}];
    const size_t size = value.size();
    if (random() % 2 == 0) {
      manager->DeleteBLOBValue(f, r);
      EXPECT_TRUE(Read(*manager, f, r).empty());
    } else {
      Write(*manager, f, r, {});
    }
    value = Value(size, random());
    Write(*manager, f, r, value);
    if (round % 50 == 0) manager = Reopen(std::move(manager));
  }
  manager->FlushBuffers();
  EXPECT_EQ(manager->BlobStore()->TotalBlockCount(), blocks);
  EXPECT_EQ(BlobDataSize(), bdf_size);
  manager = Reopen(std::move(manager));
  for (const auto& [key, bytes] : expected) EXPECT_EQ(Read(*manager, key.second, key.first), bytes);
}

TEST_F(BlobTest, RecordsAndBlobRecordsStayInStep) {
  auto manager = Create(clNone, "");
  Append(*manager, 1);
  // The dataset may add the BLOB record itself before it appends the record.
  manager->BlobStore()->mvAddBLOBRecord();
  Append(*manager, 2);
  EXPECT_EQ(manager->BlobStore()->RecordCount(), 2);
  Write(*manager, kNotes, 1, Value(10, 1));
  manager->CloseTable();

  // A .bif that lost its last BLOB record (or kept one too many) is brought to the records.
  for (int32_t change : {-1, +1}) {
    SCOPED_TRACE(change);
    manager = Open();
    if (change < 0)
      manager->BlobStore()->mvDeleteBLOBRecord(1);
    else
      manager->BlobStore()->mvAddBLOBRecord();
    manager->BlobStore()->SaveBLOBHeaders(true);
    EXPECT_EQ(MessageOf([&] { manager->CloseTable(); }),
              "TOrvelDataManager.CloseTable - tableHeader.RecordCount <> "
              "blobFileHeader.RecordCount");
    EXPECT_FALSE(manager->IsOpen());
    manager = Open();
    EXPECT_EQ(manager->BlobStore()->RecordCount(), 2);
    EXPECT_EQ(Read(*manager, kNotes, 1), change < 0 ? std::vector<uint8_t>{} : Value(10, 1));
    Write(*manager, kNotes, 1, Value(10, 1));
    manager->CloseTable();
  }
}

TEST_F(BlobTest, BlobAccessIsCheckedAndReadOnlyTablesRefuseWrites) {
  auto manager = Create(clNone, "");
  Append(*manager, 1);
  TMemoryStream stream;
  const std::string prefix = "TOrvelDataManager.mvReadBLOBValue - ";
  EXPECT_EQ(MessageOf([&] { manager->ReadBLOBValue(stream, 2, 0); }),
            prefix + "invalid BLOB field number 2, 2 BLOB fields");
  EXPECT_EQ(MessageOf([&] { manager->ReadBLOBValue(stream, -1, 0); }),
            prefix + "invalid BLOB field number -1, 2 BLOB fields");
  EXPECT_EQ(MessageOf([&] { manager->ReadBLOBValue(stream, 0, 1); }),
            prefix + "invalid record number 1, record count 1");
  manager->CloseTable();
  EXPECT_EQ(MessageOf([&] { manager->ReadBLOBValue(stream, 0, 0); }),
            prefix + "table is not opened.");

  manager->SetReadOnly(true);
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(MessageOf([&] { Write(*manager, kPicture, 0, {1}); }),
            "TOrvelDataManager.mvWriteBLOBValue - table \"T\" is read-only.");
  EXPECT_EQ(MessageOf([&] { manager->DeleteBLOBValue(kPicture, 0); }),
            "TOrvelDataManager.DeleteBLOBValue - table \"T\" is read-only.");
  EXPECT_TRUE(Read(*manager, kPicture, 0).empty());

  TableDefinition plain;
  plain.fields.Add("N", ftInteger);
  auto without = CreateAndOpen(plain, "U");
  EXPECT_FALSE(without->HasBlobs());
  EXPECT_EQ(without->BlobStore(), nullptr);
  EXPECT_EQ(MessageOf([&] { without->ReadBLOBValue(stream, 0, 0); }),
            "TOrvelDataManager.mvReadBLOBValue - table \"U\" has no BLOB fields.");
}

TEST_F(BlobTest, AnEncryptedTableKeepsItsValuesEnciphered) {
  auto manager = Create(clNone, "pw");
  Append(*manager, 1);
  const std::string text = "plain words in a memo";
  Write(*manager, kNotes, 0, {text.begin(), text.end()});
  manager->CloseTable();
  std::string bdf(4096, '\0');
  {
    auto file = env_.Open(dir_.File("T.bdf"), {});
    bdf.resize(static_cast<size_t>(file->ReadAt(0, bdf.data(), static_cast<int64_t>(bdf.size()))));
  }
  EXPECT_EQ(bdf.size(), size_t(kBlockSize));
  EXPECT_EQ(bdf.find("plain"), std::string::npos);
  EXPECT_EQ(Manager("wrong")->LoadTable(), kLoadTableWrongPassword);
  manager = Open("pw");
  EXPECT_EQ(Read(*manager, kNotes, 0), std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace
}  // namespace orv
