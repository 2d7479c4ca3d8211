#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/storage/table_files.h"
#include "platform/exception.h"
#include "tests/storage/memory_table_store.h"

namespace orv {
namespace {

using ::testing::AllOf;
using testing::Bytes;
using ::testing::ElementsAre;
using testing::GetI32;
using ::testing::HasSubstr;
using testing::MemoryTableStore;
using testing::PutF64;
using testing::PutI32;
using testing::PutName;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

struct Field {
  std::string name;
  int type;
  int32_t size;
  bool required = false;
};

// Where the layouts keep things, written out here from the layout tables rather than taken
// from the code under test.
struct DatLayout {
  size_t header, field_header, field_count, record_count, version, visibility, counter;
  size_t type, size, required;  // inside a field header
};
constexpr DatLayout kShortLayout{56, 32, 28, 32, 40, 48, 52, 21, 24, 28};
constexpr DatLayout kLongLayout{284, 267, 260, 264, 268, 276, 280, 256, 259, 263};

// Identifier "RECNO", last identifier 41, change counter 9; records filled with 0x5A. The short
// layout's reserved bytes 36..39 hold 0xAA so that a rewrite shows whether it kept them.
Bytes DatBytes(const DatLayout& at, double version, const std::vector<Field>& fields,
               int32_t record_count, int32_t record_size, uint8_t visibility) {
  Bytes dat(at.header + at.field_header * fields.size(), 0);
  PutI32(dat, 0, 41);
  PutName(dat, 4, "RECNO");
  PutI32(dat, at.field_count, static_cast<int32_t>(fields.size()));
  PutI32(dat, at.record_count, record_count);
  if (&at == &kShortLayout)
    for (int i = 36; i < 40; ++i) dat[i] = 0xAA;
  PutF64(dat, at.version, version);
  dat[at.visibility] = visibility;
  dat[at.visibility + 3] = 9;
  PutI32(dat, at.counter, 9);
  for (size_t i = 0; i < fields.size(); ++i) {
    const size_t field = at.header + at.field_header * i;
    PutName(dat, field, fields[i].name);
    dat[field + at.type] = static_cast<uint8_t>(fields[i].type);
    PutI32(dat, field + at.size, fields[i].size);
    dat[field + at.required] = fields[i].required;
  }
  dat.resize(dat.size() + static_cast<size_t>(record_count) * record_size, 0x5A);
  return dat;
}

Bytes ShortDat(double version, const std::vector<Field>& fields, int32_t record_count = 0,
               int32_t record_size = 0) {
  return DatBytes(kShortLayout, version, fields, record_count, record_size, 0xFC);
}

Bytes LongDat(const std::vector<Field>& fields, int32_t record_count = 0, int32_t record_size = 0,
              double version = 4.5) {
  return DatBytes(kLongLayout, version, fields, record_count, record_size, 0xF0);
}

class TableFilesTest : public ::testing::Test {
 protected:
  // Puts the bytes as T.dat and opens it for the table.
  void Load(const Bytes& dat) {
    store_.Put("T.dat", dat);
    table_.OpenFile(tfkData, false);
  }
  Bytes Dat() { return testing::ReadAllBytes(*table_.File(tfkData)); }

  // A table that had read one .dat keeps it when the next cannot be read.
  void ExpectRefused(const Bytes& dat, const std::string& problem) {
    TOrvelTableFiles table("T", store_);
    store_.Put("T.dat", ShortDat(2.5, {{"KEPT", ftInteger, 4}}));
    table.OpenFile(tfkData, false);
    table.OpenTable();
    store_.Put("T.dat", dat);
    EXPECT_THAT([&] { table.OpenTable(); },
                ThrowsMessage<Exception>(
                    AllOf(StartsWith("Error in TOrvelDataManager.OpenTable - table file T.dat is "
                                     "damaged: "),
                          HasSubstr(problem))));
    EXPECT_EQ(store_.Get("T.dat"), dat);
    ASSERT_EQ(table.Fields().size(), 1u);
    EXPECT_EQ(table.Fields()[0].Name, "KEPT");
    EXPECT_EQ(table.Header().Version, 2.5);
  }

  MemoryTableStore store_;
  TOrvelTableFiles table_{"T", store_};
};

// Every byte of a 4.5 table's headers as SaveTableHeaders writes them, against the offsets of
// the long layout; all bytes not listed must be zero.
TEST_F(TableFilesTest, SaveTableHeadersWritesTheLongLayout) {
  TableHeaderType& h = table_.Header();
  h.LastRecordId = 0x11223344;
  h.IdFieldName = "ID";
  h.RecordCount = 0;
  h.IdVisibility = kIdentifierVisible;
  h.BlobCompression = 1;
  h.Encrypted = true;
  h.ChangeCounter = 0x01020304;
  table_.SetFields({{"NAME", ftString, 21, true},
                    {"PRICE", ftCurrency, 8, false},
                    {"FOTO", ftGraphic, 0, false}});
  table_.OpenFile(tfkData, true);
  table_.SaveTableHeaders();

  struct Expected {
    size_t offset;
    std::vector<uint8_t> bytes;
  };
  const Expected expected[] = {
      {0, {0x44, 0x33, 0x22, 0x11}},          // last record identifier
      {4, {2, 'I', 'D'}},                     // identifier name ShortString[255]
      {260, {3, 0, 0, 0}},                    // field count
      {264, {0, 0, 0, 0}},                    // record count
      {268, {0, 0, 0, 0, 0, 0, 0x12, 0x40}},  // 4.5 as a double
      {276, {0xF0}},                          // identifier shown
      {277, {1}},                             // clFastest
      {278, {1}},                             // encrypted
      {279, {0x04}},                          // low byte of the change counter
      {280, {0x04, 0x03, 0x02, 0x01}},        // change counter
      {284, {4, 'N', 'A', 'M', 'E'}},         // field 0 name
      {284 + 256, {1}},                       // ftString
      {284 + 259, {21, 0, 0, 0}},             // stored size
      {284 + 263, {1}},                       // required
      {551, {5, 'P', 'R', 'I', 'C', 'E'}},    // field 1 at 284 + 267
      {551 + 256, {7}},                       // ftCurrency
      {551 + 259, {8, 0, 0, 0}},
      {818, {4, 'F', 'O', 'T', 'O'}},  // field 2 at 284 + 2 x 267
      {818 + 256, {17}},               // ftGraphic, size 0
  };
  const Bytes dat = Dat();
  ASSERT_EQ(dat.size(), 284u + 3 * 267);
  Bytes want(dat.size(), 0);
  for (const Expected& e : expected)
    std::copy(e.bytes.begin(), e.bytes.end(), want.begin() + e.offset);
  for (size_t i = 0; i < dat.size(); ++i) ASSERT_EQ(dat[i], want[i]) << "offset " << i;
  EXPECT_EQ(table_.DataOffset(), 284 + 3 * 267);
  EXPECT_TRUE(table_.HasBlobs());
}

TEST_F(TableFilesTest, OpenTableReadsTheLongLayout) {
  const std::vector<Field> fields = {
      {"NAME", ftString, 21, true}, {"N", ftInteger, 4}, {"MEMO", ftMemo, 0}};
  // R = 25 + H, H = 32 for 3 fields.
  Load(LongDat(fields, 2, 57));
  table_.OpenTable();
  const TableHeaderType& h = table_.Header();
  EXPECT_EQ(h.LastRecordId, 41);
  EXPECT_EQ(h.IdFieldName, "RECNO");
  EXPECT_EQ(h.FieldCount, 3);
  EXPECT_EQ(h.RecordCount, 2);
  EXPECT_EQ(h.Version, 4.5);
  EXPECT_EQ(h.IdVisibility, kIdentifierVisible);
  EXPECT_EQ(h.ChangeCounter, 9);
  ASSERT_EQ(table_.Fields().size(), 3u);
  EXPECT_EQ(table_.Fields()[0].Name, "NAME");
  EXPECT_TRUE(table_.Fields()[0].Required);
  EXPECT_EQ(table_.Fields()[2].Type, ftMemo);
  EXPECT_EQ(table_.Geometry().RecordSize, 57);
  EXPECT_EQ(table_.DataOffset(), 284 + 3 * 267);
  EXPECT_TRUE(table_.HasBlobs());
  // A save of what was read gives the same bytes.
  const Bytes before = Dat();
  table_.SaveTableHeaders();
  EXPECT_EQ(Dat(), before);
}

TEST_F(TableFilesTest, Version105OpensInTheShortLayoutWithAnEightByteBitmap) {
  Load(ShortDat(1.05, {{"NAME", ftString, 11}, {"N", ftInteger, 4}}, 1, 15 + 32));
  table_.OpenTable();
  EXPECT_EQ(table_.Header().Version, 1.05);
  EXPECT_EQ(table_.Header().IdFieldName, "RECNO");
  EXPECT_EQ(table_.Header().RecordCount, 1);
  EXPECT_EQ(table_.Geometry().NullBytes, 8);
  EXPECT_EQ(table_.Geometry().RecordSize, 47);
  EXPECT_EQ(table_.DataOffset(), 56 + 2 * 32);
  EXPECT_THAT(table_.Geometry().FieldOffsets, ElementsAre(0, 11));
  EXPECT_FALSE(table_.HasBlobs());

  // Saved again in the short layout, reserved bytes untouched.
  const Bytes before = Dat();
  table_.Header().ChangeCounter = 10;
  table_.SaveTableHeaders();
  Bytes want = before;
  PutI32(want, 52, 10);
  want[51] = 10;
  EXPECT_EQ(Dat(), want);
}

TEST_F(TableFilesTest, ShortLayoutVersionsBetween111And4501) {
  Load(ShortDat(3.0, {{"A", ftSmallint, 2}}));
  table_.OpenTable();
  EXPECT_EQ(table_.Header().Version, 3.0);
  EXPECT_EQ(table_.Geometry().NullBytes, 1);
  EXPECT_EQ(table_.DataOffset(), 88);
}

TEST_F(TableFilesTest, RefusesVersionsTheEngineCannotRead) {
  struct {
    const char* name;
    Bytes dat;
    std::string message;
  } cases[] = {
      {"5.0 at 40", ShortDat(5.0, {}),
       "Error in TOrvelDataManager.OpenTable - Invalid db engine version in file T.dat (version = "
       "5.00, internalCurrentVersion = 4.50) !"},
      {"0.5 at 40", ShortDat(0.5, {}), "Error opening table - invalid version = 0.5"},
      {"4.5005 at 268", LongDat({}, 0, 0, 4.5005),
       "Error in TOrvelDataManager.OpenTable - Invalid db engine version in file T.dat (version = "
       "4.50, internalCurrentVersion = 4.50) !"},
      {"NaN at 40", ShortDat(std::numeric_limits<double>::quiet_NaN(), {}),
       "Error opening table - invalid version = nan"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Long enough that the double at 268 is read too; it is zero there.
    c.dat.resize(400, 0);
    Load(c.dat);
    EXPECT_THAT([&] { table_.OpenTable(); }, ThrowsMessage<Exception>(c.message));
    EXPECT_EQ(Dat(), c.dat);
  }
}

TEST_F(TableFilesTest, CutsADatLongerThanItsRecords) {
  const Bytes dat = LongDat({{"N", ftInteger, 4}}, 3, 36);
  Bytes longer = dat;
  longer.resize(dat.size() + 100, 0x77);
  Load(longer);
  table_.OpenTable();
  EXPECT_EQ(Dat(), dat);
}

TEST_F(TableFilesTest, KeepsTheTailOfAReadOnlyDat) {
  Bytes longer = LongDat({{"N", ftInteger, 4}}, 1, 36);
  longer.resize(longer.size() + 10, 0x77);
  Load(longer);
  table_.File(tfkData)->SetReadOnly(true);
  table_.OpenTable();
  EXPECT_EQ(Dat().size(), longer.size());
  EXPECT_EQ(table_.Header().RecordCount, 1);
}

// Each damaged .dat is refused with a message that names the problem, the table keeps what it
// had, and the file is not written.
TEST_F(TableFilesTest, RefusesDamagedHeaders) {
  const Bytes good = LongDat({{"NAME", ftString, 21}, {"N", ftInteger, 4}}, 1, 57);
  const size_t f0 = 284, f1 = 284 + 267;
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    std::string message;
  };
  const Case cases[] = {
      {"empty file", [](Bytes& b) { b.clear(); }, "too short for a table header"},
      {"long header cut", [](Bytes& b) { b.resize(280); }, "too short for a table header"},
      {"field count past the file", [](Bytes& b) { PutI32(b, 260, 1000); },
       "field count 1000 does not fit"},
      {"field count 2^31 - 1", [](Bytes& b) { PutI32(b, 260, 0x7FFFFFFF); },
       "field count 2147483647 does not fit"},
      {"negative field count", [](Bytes& b) { PutI32(b, 260, -1); }, "field count -1"},
      {"record count past the file", [](Bytes& b) { PutI32(b, 264, 2); }, "record count 2"},
      {"huge record count", [](Bytes& b) { PutI32(b, 264, 0x7FFFFFFF); },
       "record count 2147483647"},
      {"negative record count", [](Bytes& b) { PutI32(b, 264, -1); }, "record count -1"},
      {"auto-increment field header", [&](Bytes& b) { b[f1 + 256] = ftAutoInc; },
       "type 14, which is not a stored type"},
      {"unknown type", [&](Bytes& b) { b[f1 + 256] = 99; }, "type 99"},
      {"integer of 2 bytes", [&](Bytes& b) { PutI32(b, f1 + 259, 2); }, "stored size 2"},
      {"string of 0 bytes", [&](Bytes& b) { PutI32(b, f0 + 259, 0); }, "stored size 0"},
      {"compression level 4", [](Bytes& b) { b[277] = 4; }, "compression level 4"},
      {"encrypted flag 2", [](Bytes& b) { b[278] = 2; }, "encrypted flag 2"},
      // 4.4995 at 40 picks the long layout, whose version slot then says 2.0.
      {"version against its layout",
       [](Bytes& b) {
         b[4] = 60;
         PutF64(b, 40, 4.4995);
         PutF64(b, 268, 2.0);
       },
       "version 2 does not match"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes dat = good;
    c.damage(dat);
    ExpectRefused(dat, c.message);
  }
  // Only the short layout's slots can be overrun by their length byte.
  const Bytes short_good = ShortDat(2.5, {{"NAME", ftString, 21}});
  Bytes dat = short_good;
  dat[4] = 24;
  ExpectRefused(dat, "identifier name length 24 exceeds its slot of 23");
  dat = short_good;
  dat[56] = 21;
  ExpectRefused(dat, "name length 21 exceeds its slot of 20");
}

TEST_F(TableFilesTest, RefusesRecordsTooLargeForTheirSizeField) {
  Load(LongDat({{"A", ftString, 40000}, {"B", ftString, 40000}}));
  EXPECT_THAT([&] { table_.OpenTable(); },
              ThrowsMessage<Exception>(HasSubstr("record data size exceeds 65535")));
}

TEST_F(TableFilesTest, EmptyIdentifierNameBecomesId) {
  Bytes dat = LongDat({{"N", ftInteger, 4}});
  dat[4] = 0;
  Load(dat);
  table_.OpenTable();
  EXPECT_EQ(table_.Header().IdFieldName, "id");
  EXPECT_EQ(table_.InternalGetFieldNo("ID", false), kIdentifierFieldNo);
}

TEST_F(TableFilesTest, FieldNumbersAndTypesByName) {
  Load(LongDat({{"Name", ftString, 21}, {"Price", ftCurrency, 8}}));
  table_.OpenTable();
  struct {
    const char* name;
    int32_t field_no;
  } cases[] = {{"RECNO", -1}, {"recno", -1}, {"NAME", 0}, {"price", 1}, {"Pric", -2}, {"", -2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(table_.InternalGetFieldNo(c.name, false), c.field_no);
  }
  EXPECT_THAT([&] { table_.InternalGetFieldNo("Colour", true); },
              ThrowsMessage<Exception>(
                  "Error in TOrvelDataManager.InternalGetFieldNo - field \"Colour\" not found!"));

  EXPECT_EQ(table_.GetFieldType(-1), ftAutoInc);
  EXPECT_EQ(table_.GetFieldType(2), ftAutoInc);
  EXPECT_EQ(table_.GetFieldType(0), ftString);
  EXPECT_EQ(table_.GetFieldType(1), ftCurrency);
  for (int32_t bad : {-2, 3}) {
    SCOPED_TRACE(bad);
    EXPECT_THAT([&] { table_.GetFieldType(bad); },
                ThrowsMessage<Exception>(HasSubstr("TOrvelDataManager.GetFieldType - invalid")));
  }
}

TEST_F(TableFilesTest, ReadTableHeaderSeesTheStoredCounter) {
  Load(ShortDat(2.5, {{"N", ftInteger, 4}}));
  table_.OpenTable();
  Bytes dat = Dat();
  PutI32(dat, 52, 77);
  testing::WriteAllBytes(*table_.File(tfkData), dat);
  TableHeaderType stored;
  table_.ReadTableHeader(stored);
  EXPECT_EQ(stored.ChangeCounter, 77);
  EXPECT_EQ(stored.Version, 2.5);
  EXPECT_EQ(table_.Header().ChangeCounter, 9);

  testing::WriteAllBytes(*table_.File(tfkData), Bytes(20, 0));
  EXPECT_THAT([&] { table_.ReadTableHeader(stored); },
              ThrowsMessage<Exception>(HasSubstr("TOrvelDataManager.ReadTableHeader - ")));
}

// A format change that would make the headers overrun record 0 is refused, not written.
TEST_F(TableFilesTest, SaveRefusesHeadersThatWouldOverrunTheRecords) {
  const Bytes dat = ShortDat(2.1, {{"N", ftInteger, 4}}, 1, 36);
  Load(dat);
  table_.OpenTable();
  table_.Header().Version = internalCurrentVersion;
  EXPECT_THAT([&] { table_.SaveTableHeaders(); },
              ThrowsMessage<Exception>(HasSubstr("TOrvelDataManager.SaveTableHeaders - the headers "
                                                 "of format 4.50 take 551 bytes")));
  EXPECT_EQ(Dat(), dat);
}

TEST_F(TableFilesTest, OperationsNeedAnOpenDatAndFittingNames) {
  EXPECT_THAT([&] { table_.OpenTable(); },
              ThrowsMessage<Exception>(
                  "Error in TOrvelDataManager.OpenTable - table file T.dat is not open"));
  EXPECT_THAT(
      [&] {
        table_.SetFields({{std::string(256, 'x'), ftInteger, 4, false}});
      },
      ThrowsMessage<Exception>(HasSubstr("is longer than 255 characters")));
  table_.Header().IdFieldName = std::string(256, 'y');
  table_.OpenFile(tfkData, true);
  EXPECT_THAT([&] { table_.SaveTableHeaders(); },
              ThrowsMessage<Exception>(HasSubstr("a name is too long")));
  EXPECT_EQ(Dat().size(), 0u);
}

TEST_F(TableFilesTest, FilesByKindThroughTheStore) {
  EXPECT_EQ(table_.FileName(tfkData), "T.dat");
  EXPECT_EQ(table_.FileName(tfkIndex), "T.idx");
  EXPECT_EQ(table_.FileName(tfkBlobIndex), "T.bif");
  EXPECT_EQ(table_.FileName(tfkBlobData), "T.bdf");
  EXPECT_FALSE(table_.FileExists(tfkIndex));
  TAbstractFile* idx = table_.OpenFile(tfkIndex, true);
  EXPECT_EQ(table_.File(tfkIndex), idx);
  EXPECT_TRUE(table_.FileExists(tfkIndex));
  table_.ReleaseFiles();
  EXPECT_EQ(table_.File(tfkIndex), nullptr);
}

}  // namespace
}  // namespace orv
