#include "engine/storage/stored_types.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "platform/exception.h"

namespace orv {

namespace {

// Bytes of the fixed-size types; 0 for the others.
int32_t FixedSize(int type) {
  switch (type) {
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftAutoInc:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftLargeint:
      return 8;
    default:
      return 0;
  }
}

constexpr int32_t kMaxDataSize = std::numeric_limits<uint16_t>::max();
// Eight bytes of null bitmap in formats before the bitmap was sized by the field count.
constexpr int32_t kOldNullBytes = 8;
constexpr int32_t kMinHeaderSize = 32;
// Identifier (4) and CRC slot (13) besides the null bitmap.
constexpr int32_t kHeaderFixedPart = 17;

}  // namespace

bool IsBlobFieldType(int type) {
  return type >= ftBlob && type <= ftFmtMemo;
}

bool IsIndexableFieldType(int type) {
  return (type >= ftString && type <= ftDateTime) || type == ftWideString || type == ftLargeint;
}

bool IsStoredFieldType(int type) {
  return (type >= ftString && type <= ftBytes) || IsBlobFieldType(type) || type == ftWideString ||
         type == ftLargeint;
}

int32_t StoredFieldSize(TFieldType type, int32_t declared_size) {
  // 64-bit so that a huge declared size cannot wrap into a plausible one.
  const int64_t declared = declared_size;
  switch (type) {
    case ftString:
      if (declared + 1 <= 0 || declared + 1 > kMaxDataSize)
        throw Exception("Error in TOrvelDataManager.CreateTable - illegal string size !");
      return static_cast<int32_t>(declared + 1);
    case ftBytes:
      if (declared <= 0 || declared > kMaxDataSize)
        throw Exception("Error in TOrvelDataManager.CreateTable - illegal ftBytes size !");
      return declared_size;
    case ftWideString:
      // Below 2 bytes not even the terminating 16-bit character would fit.
      if (declared + 2 < 2 || declared + 2 > kMaxDataSize)
        throw Exception("Error in TOrvelDataManager.CreateTable - illegal wide string size !");
      return static_cast<int32_t>(declared + 2);
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
      return 0;
    default:
      if (int32_t size = FixedSize(type); size > 0) return size;
      throw Exception("Error in TOrvelDataManager.CreateTable - Unsupported DB type!");
  }
}

bool IsValidStoredSize(TFieldType type, int32_t size) {
  switch (type) {
    case ftString:
    case ftBytes:
      return size >= 1 && size <= kMaxDataSize;
    case ftWideString:
      return size >= 2 && size <= kMaxDataSize;
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
      return size == 0;
    case ftAutoInc:
      return false;
    default:
      return size > 0 && size == FixedSize(type);
  }
}

bool ComputeRecordGeometry(std::span<const FieldHeaderType> fields, double version,
                           TRecordGeometry& geometry, std::string& problem) {
  const auto count = static_cast<int64_t>(fields.size());
  const bool old_bitmap = version < kSizedNullBitmapVersion;
  if (old_bitmap && count > 8 * kOldNullBytes) {
    problem = fmt::format("{} fields do not fit the null bitmap of format {}", count, version);
    return false;
  }
  TRecordGeometry g;
  g.FieldOffsets.reserve(fields.size());
  int64_t data_size = 0;
  for (const FieldHeaderType& field : fields) {
    g.FieldOffsets.push_back(static_cast<int32_t>(data_size));
    data_size += field.Size;
    if (IsBlobFieldType(field.Type)) ++g.BlobFields;
    if (field.Size < 0 || data_size > kMaxDataSize) {
      problem = fmt::format("the record data size exceeds {} bytes", kMaxDataSize);
      return false;
    }
  }
  g.DataSize = static_cast<uint16_t>(data_size);
  g.NullBytes = old_bitmap ? kOldNullBytes : static_cast<int32_t>((count + 7) / 8);
  g.HeaderSize = std::max(g.NullBytes + kHeaderFixedPart, kMinHeaderSize);
  g.RecordSize = g.DataSize + g.HeaderSize;
  geometry = std::move(g);
  return true;
}

}  // namespace orv
