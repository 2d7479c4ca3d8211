#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/files/memory_file.h"
#include "engine/storage/index_file.h"
#include "platform/exception.h"
#include "tests/storage/memory_table_store.h"

namespace orv {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::GetI32;
using ::testing::HasSubstr;
using testing::PutI32;
using ::testing::ThrowsMessage;

constexpr int32_t kFields = 3;

class IndexFileTest : public ::testing::Test {
 protected:
  IndexFileTest() { file_.Open(true); }

  // The identifier index, a case-insensitive one on field 0, one on fields 0 and 1 with the
  // second descending, and a temporary one.
  static std::vector<IndexHeaderType> Indexes() {
    std::vector<IndexHeaderType> indexes;
    indexes.emplace_back("@RECNO", std::vector<int32_t>{-1});
    indexes.back().Options = kIxUnique;
    indexes.emplace_back("@@NAME", std::vector<int32_t>{0});
    indexes.back().SetCaseInsensitive(0, true);
    indexes.back().CaseInsensitiveAll = true;
    indexes.back().Options = kIxCaseInsensitive;
    indexes.emplace_back("BYNAMEPRICE", std::vector<int32_t>{0, 1});
    indexes.back().SetAscending(1, false);
    indexes.emplace_back("$_IDX_7", std::vector<int32_t>{2});
    return indexes;
  }

  void Write(double version, const std::vector<IndexHeaderType>& indexes, int32_t record_count,
             int32_t change_counter = 5) {
    arrays_.assign(indexes.size(), {});
    for (size_t i = 0; i < indexes.size(); ++i)
      for (int32_t r = 0; r < record_count; ++r)
        arrays_[i].push_back(static_cast<int32_t>((r + i) % record_count));
    WriteIndexFile(file_, change_counter, version, indexes, record_count,
                   [this](size_t i) { return std::span<const int32_t>(arrays_[i]); });
  }

  TIndexFileContents Read(double version, int32_t record_count, int32_t change_counter = 5) {
    return ReadIndexFile(file_, version, kFields, record_count, change_counter);
  }

  TMemoryFile file_{nullptr, "T.idx"};
  std::vector<std::vector<int32_t>> arrays_;
};

TEST_F(IndexFileTest, RoundTripSkipsTemporaryIndexes) {
  for (double version : {4.5, 3.0, 2.0}) {
    SCOPED_TRACE(version);
    Write(version, Indexes(), 3);
    const TIndexFileContents read = Read(version, 3);
    ASSERT_TRUE(read.HasHeader);
    EXPECT_EQ(read.Header.ChangeCounter, 5);
    EXPECT_EQ(read.Header.IndexCount, 3);
    EXPECT_EQ(read.Header.Version, version);
    ASSERT_TRUE(read.AllHeadersRead);
    ASSERT_EQ(read.Indexes.size(), 3u);
    const IndexHeaderType& both = read.Indexes[2];
    EXPECT_EQ(both.Name, "BYNAMEPRICE");
    EXPECT_THAT(both.FieldNumbers, ElementsAre(0, 1));
    EXPECT_TRUE(both.Ascending(0));
    EXPECT_FALSE(both.Ascending(1));
    EXPECT_TRUE(read.Indexes[1].CaseInsensitive(0));
    EXPECT_TRUE(read.Indexes[1].CaseInsensitiveAll);
    EXPECT_FALSE(read.Indexes[1].DescendingAll);
    EXPECT_THAT(read.Indexes[0].FieldNumbers, ElementsAre(-1));
    // Up to 2.199 the options byte is not stored.
    EXPECT_EQ(read.Indexes[1].Options, version > 2.199 ? kIxCaseInsensitive : 0);
    ASSERT_TRUE(read.ArraysRead);
    EXPECT_THAT(read.Arrays, ElementsAre(arrays_[0], arrays_[1], arrays_[2]));
  }
}

// Byte offsets of a 4.5 file with one index of two fields and two records.
TEST_F(IndexFileTest, LongLayoutBytes) {
  std::vector<IndexHeaderType> indexes;
  indexes.emplace_back("IX", std::vector<int32_t>{2, -1});
  indexes.back().SetAscending(0, false);
  indexes.back().SetCaseInsensitive(0, true);
  indexes.back().DescendingAll = true;
  indexes.back().Options = kIxDescending | kIxUnique;
  Write(4.5, indexes, 2, 0x0A0B0C0D);
  const Bytes bytes = testing::ReadAllBytes(file_);
  // 16 + name 256 + k 4 + fields 8 + bits 1 + 1 + flags 3 = 289, then 2 x 4 bytes of array.
  ASSERT_EQ(bytes.size(), 297u);
  EXPECT_EQ(GetI32(bytes, 0), 0x0A0B0C0D);
  EXPECT_EQ(GetI32(bytes, 4), 1);
  EXPECT_EQ(Bytes(bytes.begin() + 8, bytes.begin() + 16), (Bytes{0, 0, 0, 0, 0, 0, 0x12, 0x40}));
  EXPECT_EQ(bytes[16], 2);
  EXPECT_EQ(bytes[17], 'I');
  EXPECT_EQ(bytes[18], 'X');
  EXPECT_EQ(GetI32(bytes, 272), 2);
  EXPECT_EQ(GetI32(bytes, 276), 2);
  EXPECT_EQ(GetI32(bytes, 280), -1);
  EXPECT_EQ(bytes[284] & 0x03, 0x02);  // field 0 descending, field 1 ascending
  EXPECT_EQ(bytes[285], 0x01);         // field 0 without case
  EXPECT_EQ(bytes[286], 0);            // case-insensitive-all
  EXPECT_EQ(bytes[287], 1);            // descending-all
  EXPECT_EQ(bytes[288], kIxDescending | kIxUnique);
  EXPECT_EQ(GetI32(bytes, 289), 0);
  EXPECT_EQ(GetI32(bytes, 293), 1);
}

TEST_F(IndexFileTest, ShortLayoutUsesATwentyOneByteName) {
  std::vector<IndexHeaderType> indexes;
  indexes.emplace_back("IX", std::vector<int32_t>{1});
  Write(2.0, indexes, 0);
  const Bytes bytes = testing::ReadAllBytes(file_);
  // 16 + 21 + 4 + 4 + 1 + 1 + 2, no options byte, no arrays.
  ASSERT_EQ(bytes.size(), 49u);
  EXPECT_EQ(GetI32(bytes, 37), 1);
  EXPECT_EQ(GetI32(bytes, 41), 1);

  indexes[0].Name = std::string(21, 'N');
  EXPECT_THAT([&] { Write(4.4, indexes, 0); },
              ThrowsMessage<Exception>(HasSubstr("TOrvelDataManager.SaveIndexFile - index")));
  EXPECT_EQ(testing::ReadAllBytes(file_), bytes);
}

TEST_F(IndexFileTest, CutsTheFileAtTheWrittenLength) {
  Write(4.5, Indexes(), 50);
  Write(4.5, Indexes(), 1);
  EXPECT_EQ(file_.GetSize(),
            16 + (256 + 4 + 4 + 5) + (256 + 4 + 4 + 5) + (256 + 4 + 8 + 5) + 3 * 4);
}

TEST_F(IndexFileTest, StaleOrDamagedArraysAreNotUsed) {
  const size_t arrays_at = 16 + (256 + 4 + 4 + 5) * 2 + (256 + 4 + 8 + 5);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    int32_t change_counter;
  };
  const Case cases[] = {
      {"other change counter", [](Bytes&) {}, 6},
      {"array cut short", [](Bytes& b) { b.resize(b.size() - 1); }, 5},
      {"record number past the count", [&](Bytes& b) { PutI32(b, arrays_at, 3); }, 5},
      {"negative record number", [&](Bytes& b) { PutI32(b, arrays_at + 4, -1); }, 5},
      {"record number twice", [&](Bytes& b) { PutI32(b, arrays_at + 8, GetI32(b, arrays_at)); }, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(4.5, Indexes(), 3);
    Bytes bytes = testing::ReadAllBytes(file_);
    c.damage(bytes);
    testing::WriteAllBytes(file_, bytes);
    const TIndexFileContents read = Read(4.5, 3, c.change_counter);
    EXPECT_TRUE(read.AllHeadersRead);
    EXPECT_EQ(read.Indexes.size(), 3u);
    EXPECT_FALSE(read.ArraysRead);
    EXPECT_TRUE(read.Arrays.empty());
  }
}

// A header that cannot be read ends the reading; the ones before it are handed back so that
// the caller can count the automatic ones among them.
TEST_F(IndexFileTest, DamagedHeadersStopTheReading) {
  const size_t second = 16 + 256 + 4 + 4 + 5;  // "@@NAME"
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    size_t headers_read;
  };
  const Case cases[] = {
      {"no field", [&](Bytes& b) { PutI32(b, second + 256, 0); }, 1},
      // 10 x (3 + 1)^2 = 160 fields at most.
      {"too many fields", [&](Bytes& b) { PutI32(b, second + 256, 161); }, 1},
      {"field count 2^31 - 1", [&](Bytes& b) { PutI32(b, second + 256, 0x7FFFFFFF); }, 1},
      {"field number past the table", [&](Bytes& b) { PutI32(b, second + 260, kFields); }, 1},
      {"field number -2", [&](Bytes& b) { PutI32(b, second + 260, -2); }, 1},
      {"cut inside the first header", [](Bytes& b) { b.resize(100); }, 0},
      {"more indexes announced", [](Bytes& b) { PutI32(b, 4, 4); }, 3},
      {"index count 0", [](Bytes& b) { PutI32(b, 4, 0); }, 0},
      {"negative index count", [](Bytes& b) { PutI32(b, 4, -3); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(4.5, Indexes(), 0);
    Bytes bytes = testing::ReadAllBytes(file_);
    c.damage(bytes);
    testing::WriteAllBytes(file_, bytes);
    const TIndexFileContents read = Read(4.5, 0);
    EXPECT_TRUE(read.HasHeader);
    EXPECT_FALSE(read.AllHeadersRead);
    EXPECT_FALSE(read.ArraysRead);
    EXPECT_EQ(read.Indexes.size(), c.headers_read);
  }
}

TEST_F(IndexFileTest, NameOverTheShortSlotIsNotRead) {
  Write(3.0, Indexes(), 0);
  Bytes bytes = testing::ReadAllBytes(file_);
  bytes[16] = 21;
  testing::WriteAllBytes(file_, bytes);
  const TIndexFileContents read = Read(3.0, 0);
  EXPECT_FALSE(read.AllHeadersRead);
  EXPECT_TRUE(read.Indexes.empty());
}

TEST_F(IndexFileTest, ShortFileHasNoHeader) {
  testing::WriteAllBytes(file_, Bytes(15, 1));
  const TIndexFileContents read = Read(4.5, 0);
  EXPECT_FALSE(read.HasHeader);
  EXPECT_FALSE(read.AllHeadersRead);
  EXPECT_EQ(ReadIndexFileChangeCounter(file_), -1);
  Write(4.5, Indexes(), 0, 1234);
  EXPECT_EQ(ReadIndexFileChangeCounter(file_), 1234);
}

TEST_F(IndexFileTest, RefusesArraysOfTheWrongLength) {
  Write(4.5, Indexes(), 2);
  const Bytes before = testing::ReadAllBytes(file_);
  const std::vector<int32_t> short_array = {0};
  EXPECT_THAT(
      [&] {
        WriteIndexFile(file_, 1, 4.5, Indexes(), 2,
                       [&](size_t) { return std::span<const int32_t>(short_array); });
      },
      ThrowsMessage<Exception>(
          "Error in TOrvelDataManager.SaveIndexFile - index \"@RECNO\" holds 1 records of 2"));
  EXPECT_EQ(testing::ReadAllBytes(file_), before);
}

}  // namespace
}  // namespace orv
