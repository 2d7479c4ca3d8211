// The redo journal of a flush that could tear a table: its reader refuses anything incomplete
// or hostile, LoadTable replays a complete one and drops the rest, and plain appends and
// updates flush without it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/files/memory_plain_file_system.h"
#include "engine/protect/checksum.h"
#include "engine/storage/flush_journal.h"
#include "tests/components/data_manager_fixture.h"

namespace orv {
namespace {

using testing::ImageBuilder;
using testing::IntOf;
using testing::TableDefinition;

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

std::vector<uint8_t> Contents(TAbstractFile& file) {
  std::vector<uint8_t> bytes(static_cast<size_t>(file.GetSize()));
  file.SetPosition(0);
  if (!bytes.empty()) file.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

void Fill(TAbstractFile& file, const std::vector<uint8_t>& bytes) {
  file.SetSize(0);
  file.SetPosition(0);
  if (!bytes.empty()) file.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// Puts a right CRC back after a field was changed on purpose.
void Reseal(std::vector<uint8_t>& journal) {
  const size_t crc_at = journal.size() - 8;
  const uint32_t crc = Crc32(journal.data(), crc_at);
  for (int i = 0; i < 4; ++i) journal[crc_at + size_t(i)] = uint8_t(crc >> (8 * i));
}

class JournalFormatTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> Journal(const std::vector<TJournalChange>& changes) {
    TAbstractFile* file = fs_.OpenFile("T.jrn", true, false, false);
    WriteFlushJournal(*file, "T", changes);
    return Contents(*file);
  }
  bool Read(const std::vector<uint8_t>& bytes, std::vector<TJournalChange>& changes) {
    TAbstractFile* file = fs_.OpenFile("T.jrn", true, false, false);
    Fill(*file, bytes);
    std::string name;
    return ReadFlushJournal(*file, name, changes);
  }

  TMemoryPlainFileSystem fs_{"db"};
  const std::vector<TJournalChange> changes_{{tfkData, false, 100, Bytes("record")},
                                             {tfkBlobData, false, 0, Bytes("blocks")},
                                             {tfkData, true, 90, {}},
                                             {tfkBlobIndex, false, 4, Bytes("bif")}};
};

TEST_F(JournalFormatTest, ReadsBackWhatWasWritten) {
  std::vector<TJournalChange> read;
  ASSERT_TRUE(Read(Journal(changes_), read));
  ASSERT_EQ(read.size(), changes_.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].kind, changes_[i].kind);
    EXPECT_EQ(read[i].cut, changes_[i].cut);
    EXPECT_EQ(read[i].offset, changes_[i].offset);
    EXPECT_EQ(read[i].bytes, changes_[i].bytes);
  }
}

TEST_F(JournalFormatTest, RefusesEveryCutAndEveryFlippedByte) {
  const std::vector<uint8_t> journal = Journal(changes_);
  std::vector<TJournalChange> read;
  for (size_t size = 0; size < journal.size(); ++size)
    EXPECT_FALSE(Read({journal.begin(), journal.begin() + long(size)}, read)) << size;
  for (size_t at = 0; at < journal.size(); ++at) {
    std::vector<uint8_t> flipped = journal;
    flipped[at] ^= 0x41;
    EXPECT_FALSE(Read(flipped, read)) << at;
    EXPECT_TRUE(read.empty());
  }
}

// Each journaled flush of a burst appends a segment; a crash can only tear the last one.
TEST_F(JournalFormatTest, ReadsTheCompleteSegmentsBeforeATornOne) {
  TAbstractFile* file = fs_.OpenFile("T.jrn", true, false, false);
  WriteFlushJournal(*file, "T", changes_);
  const std::vector<TJournalChange> second{{tfkData, false, 7, Bytes("later")}};
  AppendFlushJournal(*file, "T", second);
  const std::vector<uint8_t> both = Contents(*file);
  const size_t first_size = Journal(changes_).size();
  std::vector<TJournalChange> read;
  ASSERT_TRUE(Read(both, read));
  ASSERT_EQ(read.size(), changes_.size() + 1);
  EXPECT_EQ(read.back().bytes, Bytes("later"));
  for (size_t size = first_size; size < both.size(); ++size) {
    ASSERT_TRUE(Read({both.begin(), both.begin() + long(size)}, read)) << size;
    EXPECT_EQ(read.size(), changes_.size()) << size;
  }
  std::vector<uint8_t> flipped = both;
  flipped[first_size + 20] ^= 1;
  ASSERT_TRUE(Read(flipped, read));
  EXPECT_EQ(read.size(), changes_.size());
}

// Journals of the first layout: one segment, no entries length, the trailer at the end.
TEST_F(JournalFormatTest, ReadsASingleSegmentJournalOfVersion1) {
  std::vector<uint8_t> v1 = Journal(changes_);
  v1[8] = 1;
  v1.erase(v1.begin() + 15, v1.begin() + 19);
  Reseal(v1);
  std::vector<TJournalChange> read;
  ASSERT_TRUE(Read(v1, read));
  ASSERT_EQ(read.size(), changes_.size());
  EXPECT_EQ(read[3].bytes, Bytes("bif"));
}

TEST_F(JournalFormatTest, RefusesHostileFieldsEvenWithARightCrc) {
  // The first entry's head starts after the 14-byte head, the one-byte name and the 4-byte
  // length of the entries.
  constexpr size_t kEntry = 19;
  struct Case {
    const char* what;
    size_t at;
    std::vector<uint8_t> value;
  } cases[] = {
      {"the .idx kind", kEntry, {1}},
      {"an unknown kind", kEntry, {9}},
      {"an unknown operation", kEntry + 1, {7}},
      {"a negative offset", kEntry + 2, {0, 0, 0, 0x80}},
      {"an offset past the largest file", kEntry + 2, {0xFF, 0xFF, 0xFF, 0x7F}},
      {"a length past the journal", kEntry + 6, {0xFF, 0xFF, 0xFF, 0x7F}},
      {"a length of 4 GiB", kEntry + 6, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"a name longer than 255", 12, {0x00, 0x01}},
      {"another version", 8, {3}},
      {"entries past the journal", 15, {0xFF, 0xFF, 0, 0}},
      {"entries shorter than the first", 15, {12, 0, 0, 0}},
      {"version 1 with the entries length", 8, {1}},
  };
  const std::vector<uint8_t> journal = Journal(changes_);
  for (const Case& c : cases) {
    std::vector<uint8_t> hostile = journal;
    std::memcpy(hostile.data() + c.at, c.value.data(), c.value.size());
    Reseal(hostile);
    std::vector<TJournalChange> read;
    EXPECT_FALSE(Read(hostile, read)) << c.what;
  }
  std::vector<uint8_t> miscounted = journal;
  miscounted[miscounted.size() - 12] += 1;
  Reseal(miscounted);
  std::vector<TJournalChange> read;
  EXPECT_FALSE(Read(miscounted, read)) << "entry count";
}

TEST(JournalOverlayTest, ReadsItsOwnWritesAndCutsOverTheFile) {
  TMemoryPlainFileSystem fs("db");
  TAbstractFile* base = fs.OpenFile("T.dat", true, false, false);
  Fill(*base, Bytes("0123456789"));
  std::vector<TJournalChange> changes;
  TJournalOverlayFile overlay(*base, tfkData, changes);
  overlay.SetPosition(2);
  overlay.WriteBuffer("ab", 2);
  overlay.WriteBuffer("cd", 2);
  overlay.SetSize(8);
  overlay.SetPosition(12);
  overlay.WriteBuffer("x", 1);
  EXPECT_EQ(Contents(overlay), Bytes(std::string("01abcd67\0\0\0\0x", 13)));
  EXPECT_EQ(Contents(*base), Bytes("0123456789")) << "the real file waits for the journal";
  ASSERT_EQ(changes.size(), 3u) << "a run of writes stays one change";

  TAbstractFile* files[kTableFileKindCount] = {base};
  ApplyJournalChanges(changes, files);
  EXPECT_EQ(Contents(*base), Contents(overlay));
}

// With a byte store, as the data manager runs it: runs that continue across its blocks stay one
// change, scattered ones get their own, and a second flush reuses the blocks.
TEST(JournalOverlayTest, KeepsWrittenBytesInAByteStore) {
  TMemoryPlainFileSystem fs("db");
  TAbstractFile* base = fs.OpenFile("T.dat", true, false, false);
  TJournalByteStore store;
  for (int flush = 0; flush < 2; ++flush) {
    SCOPED_TRACE(flush);
    store.Reset();
    std::vector<TJournalChange> changes;
    TJournalOverlayFile overlay(*base, tfkData, changes, &store);
    std::vector<uint8_t> expected = Contents(*base);
    auto write = [&](int32_t at, size_t count, int seed) {
      std::vector<uint8_t> bytes(count);
      for (size_t i = 0; i < count; ++i) bytes[i] = uint8_t(i * 13 + size_t(seed));
      overlay.SetPosition(at);
      overlay.WriteBuffer(bytes.data(), static_cast<int32_t>(count));
      if (expected.size() < at + count) expected.resize(at + count, 0);
      std::copy(bytes.begin(), bytes.end(), expected.begin() + at);
    };
    for (int k = 0; k < 3000; ++k) write(5000 + k * 300, 150, k + flush);
    const size_t scattered = changes.size();
    // One run of 700 KiB pieces, twice over a block of the store.
    for (int32_t k = 0; k < 4; ++k) write(2000000 + k * (700 << 10), 700 << 10, k);
    EXPECT_EQ(changes.size(), scattered + 1);
    EXPECT_EQ(Contents(overlay), expected);
    TAbstractFile* files[kTableFileKindCount] = {base};
    ApplyJournalChanges(changes, files);
    EXPECT_EQ(Contents(*base), expected);
  }
}

// Scattered writes (a flush of moved records) are applied as one stretch; overlapping ones,
// writes past the end and a cut between them must come out as one write each would.
TEST(JournalOverlayTest, ManyScatteredWritesApplyLikeOneWriteEach) {
  TMemoryPlainFileSystem fs("db");
  TAbstractFile* base = fs.OpenFile("T.dat", true, false, false);
  std::vector<uint8_t> expected(3000);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = uint8_t(i * 7);
  Fill(*base, expected);
  std::vector<TJournalChange> changes;
  auto write = [&](int32_t offset, size_t count, uint8_t value) {
    changes.push_back({tfkData, false, offset, std::vector<uint8_t>(count, value)});
    if (expected.size() < offset + count) expected.resize(offset + count, 0);
    std::fill_n(expected.begin() + offset, count, value);
  };
  for (int k = 0; k < 60; ++k) write((k * 397) % 2900, 40, uint8_t(k + 1));
  changes.push_back({tfkData, true, 2500, {}});
  expected.resize(2500);
  for (int k = 0; k < 40; ++k) write((k * 211) % 2600, 30, uint8_t(100 + k));
  write(3100, 10, 250);
  // Apart from the rest, past the end: the zeros between are stored, the gap is not read.
  for (int k = 0; k < 40; ++k) write(20000 + k * 300, 50, uint8_t(k));
  // Dense over more than one window of the stretch.
  for (int k = 0; k < 5000; ++k) write(40000 + k * 250, 100, uint8_t(k * 3));
  write(0, 16, 77);

  TAbstractFile* files[kTableFileKindCount] = {base};
  ApplyJournalChanges(changes, files);
  EXPECT_EQ(Contents(*base), expected);
}

class DataManagerJournalTest : public testing::DataManagerTest {
 protected:
  // Records with identifiers 1..count, N = 10 * identifier, a memo each; flushed and closed.
  void CreateTable(int32_t count) {
    TableDefinition definition;
    definition.fields.Add("N", ftInteger);
    definition.fields.Add("Memo", ftMemo);
    auto manager = CreateAndOpen(definition);
    for (int32_t id = 1; id <= count; ++id) Append(*manager, 10 * id);
    manager->CloseTable();
  }
  void Append(TOrvelDataManager& manager, int32_t n) {
    ImageBuilder image(manager.Table());
    image.Clear(manager.Table().Header().LastRecordId + 1).Int(0, n);
    manager.mvAppendRecord(image.data(), 0);
    TMemoryStream memo;
    memo.WriteBuffer("memo", 4);
    manager.WriteBLOBValue(memo, 0, manager.RecordCount() - 1);
  }
  // A journal that sets N of record 0 to n, as a flush would have left it.
  void LeaveJournal(int32_t n, bool complete = true) {
    std::vector<TJournalChange> changes;
    {
      auto manager = NewManager();
      ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
      ImageBuilder image(manager->Table());
      image.Clear(1).Int(0, n);
      const auto size = static_cast<size_t>(manager->Table().Geometry().RecordSize);
      changes.push_back({tfkData, false, manager->Table().DataOffset(),
                         std::vector<uint8_t>(image.data(), image.data() + size)});
      manager->CloseTable();
    }
    TAbstractFile* file = database_->OpenFile("T.jrn", kStoreModeDisk, true, false, false);
    WriteFlushJournal(*file, "T", changes);
    if (!complete) file->SetSize(file->GetSize() - 1);
    database_->CloseFile(file);
  }
  int32_t FirstN(bool read_only = false) {
    auto manager = NewManager();
    manager->SetReadOnly(read_only);
    EXPECT_EQ(manager->LoadTable(), kLoadTableOpened);
    const int32_t n = IntOf(manager->Table(), manager->GetRecordPtr(0), 0);
    manager->CloseTable();
    return n;
  }
  bool JournalThere() { return std::filesystem::exists(dir_.File("T.jrn")); }
};

TEST_F(DataManagerJournalTest, OpenReplaysACompleteJournalAndDropsAnIncompleteOne) {
  CreateTable(3);
  LeaveJournal(77);
  EXPECT_EQ(FirstN(), 77);
  EXPECT_FALSE(JournalThere());

  LeaveJournal(88, false);
  EXPECT_EQ(FirstN(), 77) << "nothing of an incomplete journal is applied";
  EXPECT_FALSE(JournalThere());
}

TEST_F(DataManagerJournalTest, ReadOnlyOpenRefusesAPendingJournal) {
  CreateTable(2);
  LeaveJournal(55);
  auto manager = NewManager();
  manager->SetReadOnly(true);
  EXPECT_THROW(manager->LoadTable(), Exception);
  EXPECT_TRUE(JournalThere());
  EXPECT_EQ(FirstN(), 55);
}

TEST_F(DataManagerJournalTest, DeleteAndRenameTakeTheJournalAlong) {
  CreateTable(2);
  LeaveJournal(33);
  NewManager()->RenameTable("U");
  EXPECT_FALSE(JournalThere());
  EXPECT_TRUE(std::filesystem::exists(dir_.File("U.jrn")));
  NewManager("U")->DeleteTable();
  EXPECT_FALSE(std::filesystem::exists(dir_.File("U.jrn")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("U.dat")));
}

TEST_F(DataManagerJournalTest, OnlyFlushesThatCouldTearUseTheJournal) {
  CreateTable(4);
  auto manager = NewManager();
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  manager->SetAutoFlush(false);
  struct Case {
    const char* what;
    std::function<void()> change;
    bool journaled;
  } cases[] = {
      {"append", [&] { Append(*manager, 50); }, false},
      {"update",
       [&] {
         ImageBuilder image(manager->Table());
         image.Clear(2).Int(0, 21);
         manager->mvUpdateRecord(image.data(), 0, 1);
       },
       false},
      {"delete of the last record", [&] { manager->mvDeleteRecord(0, 4); }, true},
      {"delete that moves a record", [&] { manager->mvDeleteRecord(0, 0); }, true},
      {"memo rewritten",
       [&] {
         TMemoryStream memo;
         memo.WriteBuffer("other", 5);
         manager->WriteBLOBValue(memo, 0, 0);
       },
       true},
  };
  for (const Case& c : cases) {
    env_.ResetCounts();
    c.change();
    const int64_t writes_before_flush = env_.Counts().writes;
    manager->FlushBuffers();
    EXPECT_EQ(env_.Counts("T.jrn").opens > 0, c.journaled) << c.what;
    EXPECT_GT(env_.Counts().writes, writes_before_flush) << c.what;
    EXPECT_FALSE(JournalThere()) << c.what;
  }
  manager->CloseTable();
  auto reopened = NewManager();
  ASSERT_EQ(reopened->LoadTable(), kLoadTableOpened);
  EXPECT_EQ(reopened->RecordCount(), 3);
}

}  // namespace
}  // namespace orv
