#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/storage/stored_types.h"
#include "platform/exception.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::ThrowsMessage;

std::vector<FieldHeaderType> Fields(int count, TFieldType type, int32_t size) {
  std::vector<FieldHeaderType> fields(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) fields[i] = {"F" + std::to_string(i), type, size, false};
  return fields;
}

TRecordGeometry Geometry(const std::vector<FieldHeaderType>& fields, double version) {
  TRecordGeometry geometry;
  std::string problem;
  EXPECT_TRUE(ComputeRecordGeometry(fields, version, geometry, problem)) << problem;
  return geometry;
}

struct GeometryCase {
  const char* name;
  int field_count;
  TFieldType type;
  int32_t size;
  double version;
  int32_t data_size, null_bytes, header_size, record_size;
};

TEST(RecordGeometry, NullBitmapHeaderAndRecordSizes) {
  const GeometryCase cases[] = {
      {"one integer", 1, ftInteger, 4, 4.5, 4, 1, 32, 36},
      {"nine fields", 9, ftSmallint, 2, 4.5, 18, 2, 32, 50},
      {"130 fields", 130, ftBoolean, 2, 4.5, 260, 17, 34, 294},
      {"no fields", 0, ftInteger, 4, 4.5, 0, 0, 32, 32},
      {"format 1.05 keeps 8 null bytes", 1, ftInteger, 4, 1.05, 4, 8, 32, 36},
      {"format 1.24 sizes the bitmap", 1, ftInteger, 4, 1.24, 4, 1, 32, 36},
  };
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TRecordGeometry g = Geometry(Fields(c.field_count, c.type, c.size), c.version);
    EXPECT_EQ(g.DataSize, c.data_size);
    EXPECT_EQ(g.NullBytes, c.null_bytes);
    EXPECT_EQ(g.HeaderSize, c.header_size);
    EXPECT_EQ(g.RecordSize, c.record_size);
    EXPECT_EQ(g.BufferSize(), c.record_size + 8);
    EXPECT_EQ(g.IdentifierOffset(), c.data_size);
    EXPECT_EQ(g.NullBitmapOffset(), c.data_size + 4);
    EXPECT_EQ(g.CrcOffset(), c.data_size + 4 + c.null_bytes);
    // The CRC slot (13 bytes) ends inside the record header.
    EXPECT_LE(g.CrcOffset() + 1 + kRecordCrcCapacity, g.RecordSize);
  }
}

TEST(RecordGeometry, FieldOffsetsFollowStoredSizes) {
  const std::vector<FieldHeaderType> fields = {
      {"NAME", ftString, StoredFieldSize(ftString, 20), true},
      {"N", ftInteger, 4, false},
      {"FOTO", ftGraphic, 0, false},
      {"W", ftWideString, StoredFieldSize(ftWideString, 10), false},
      {"X", ftFloat, 8, false},
  };
  const TRecordGeometry g = Geometry(fields, 4.5);
  EXPECT_THAT(g.FieldOffsets, ElementsAre(0, 21, 25, 25, 37));
  EXPECT_EQ(g.DataSize, 45);
  EXPECT_EQ(g.BlobFields, 1);
}

TEST(RecordGeometry, NullBitsFromTheLeastSignificantBit) {
  const TRecordGeometry g = Geometry(Fields(10, ftSmallint, 2), 4.5);
  std::vector<uint8_t> image(static_cast<size_t>(g.RecordSize), 0);
  g.SetNull(image.data(), 0, true);
  g.SetNull(image.data(), 9, true);
  EXPECT_EQ(image[g.NullBitmapOffset()], 0x01);
  EXPECT_EQ(image[g.NullBitmapOffset() + 1], 0x02);
  EXPECT_TRUE(g.IsNull(image.data(), 9));
  g.SetNull(image.data(), 9, false);
  EXPECT_FALSE(g.IsNull(image.data(), 9));
  EXPECT_TRUE(g.IsNull(image.data(), 0));
}

TEST(RecordGeometry, RefusesRecordsTheLayoutCannotHold) {
  struct {
    const char* name;
    std::vector<FieldHeaderType> fields;
    double version;
  } cases[] = {
      // S is held in 16 bits: 4 x 20000 bytes would wrap to a small size.
      {"data past 65535 bytes", Fields(4, ftString, 20000), 4.5},
      {"65 fields in an 8-byte bitmap", Fields(65, ftSmallint, 2), 1.05},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRecordGeometry g;
    std::string problem;
    EXPECT_FALSE(ComputeRecordGeometry(c.fields, c.version, g, problem));
    EXPECT_FALSE(problem.empty());
  }
  TRecordGeometry g;
  std::string problem;
  EXPECT_TRUE(ComputeRecordGeometry(Fields(64, ftSmallint, 2), 1.05, g, problem));
}

TEST(StoredFieldSize, ByTypeAndDeclaredSize) {
  struct {
    TFieldType type;
    int32_t declared, stored;
  } cases[] = {
      {ftString, 20, 21}, {ftString, 0, 1},   {ftBytes, 5, 5},    {ftWideString, 10, 12},
      {ftSmallint, 0, 2}, {ftInteger, 99, 4}, {ftWord, 0, 2},     {ftBoolean, 0, 2},
      {ftFloat, 0, 8},    {ftCurrency, 0, 8}, {ftBCD, 0, 8},      {ftDate, 0, 8},
      {ftTime, 0, 8},     {ftDateTime, 0, 8}, {ftLargeint, 0, 8}, {ftAutoInc, 0, 4},
      {ftBlob, 100, 0},   {ftMemo, 0, 0},     {ftGraphic, 0, 0},  {ftFmtMemo, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(StoredFieldSize(c.type, c.declared), c.stored);
  }
}

TEST(StoredFieldSize, RefusesSizesWithoutRoomAndUnstoredTypes) {
  const std::string prefix = "Error in TOrvelDataManager.CreateTable - ";
  struct {
    TFieldType type;
    int32_t declared;
    std::string message;
  } cases[] = {
      {ftString, -1, "illegal string size !"},
      {ftString, 0x7FFFFFFF, "illegal string size !"},
      {ftBytes, 0, "illegal ftBytes size !"},
      {ftWideString, -2, "illegal wide string size !"},
      // One byte cannot hold the 16-bit terminator.
      {ftWideString, -1, "illegal wide string size !"},
      {ftVarBytes, 10, "Unsupported DB type!"},
      {ftUnknown, 0, "Unsupported DB type!"},
      {ftCursor, 0, "Unsupported DB type!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_THAT([&] { StoredFieldSize(c.type, c.declared); },
                ThrowsMessage<Exception>(prefix + c.message));
  }
}

TEST(StoredTypes, Classification) {
  for (int type = 0; type <= 26; ++type) {
    SCOPED_TRACE(type);
    const bool blob = type >= 15 && type <= 18;
    EXPECT_EQ(IsBlobFieldType(type), blob);
    EXPECT_EQ(IsIndexableFieldType(type), (type >= 1 && type <= 11) || type == 24 || type == 25);
    EXPECT_EQ(IsStoredFieldType(type),
              (type >= 1 && type <= 12) || blob || type == 24 || type == 25);
  }
}

}  // namespace
}  // namespace orv
