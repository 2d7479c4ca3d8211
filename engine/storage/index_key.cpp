#include "engine/storage/index_key.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "engine/common/collation.h"
#include "engine/files/little_endian.h"
#include "platform/exception.h"
#include "platform/locale.h"

namespace orv {

namespace {

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Bytes a comparison reads from the slot; 0 for types that always compare equal.
int32_t BytesRead(TFieldType type, int32_t size) {
  switch (type) {
    case ftString:
    case ftWideString:
      return size;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftDate:
    case ftTime:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
    case ftLargeint:
      return 8;
    default:
      return 0;
  }
}

double LoadDouble(const uint8_t* p) {
  double v;
  const uint64_t bits = LoadU64(p);
  std::memcpy(&v, &bits, 8);
  return v;
}

// NaN, which no stored value should be, sorts after every number so that the order stays
// total.
int CompareDoubles(double a, double b) {
  const bool nan_a = std::isnan(a), nan_b = std::isnan(b);
  if (nan_a || nan_b) return Sign(nan_a, nan_b);
  return Sign(a, b);
}

// A date-time field holds day number x 86400000 + milliseconds, day 1 = 0001-01-01. As
// date-times (days since 1899-12-30, the time of day added to the day from then on and
// subtracted before it) two values are equal within 1e-8 of a day and otherwise ordered by
// value, or by absolute value within one day. Rounded to whole milliseconds, values of years 1 to
// 9999 never lie within 1e-8 of each other unless equal, and both rules follow the time, so
// comparing the rounded milliseconds gives the same answers, and a total order for any bytes.
int CompareDateTimeFields(const uint8_t* a, const uint8_t* b) {
  return CompareDoubles(std::round(LoadDouble(a)), std::round(LoadDouble(b)));
}

int CompareDateFields(const uint8_t* a, const uint8_t* b) {
  // Day numbers are whole, so the 1e-8 tolerance of date-times and the exact whole-day match
  // both come down to comparing the days.
  return Sign(std::max(LoadI32(a), 1), std::max(LoadI32(b), 1));
}

}  // namespace

TIndexKeyComparer::TIndexKeyComparer(const IndexHeaderType& index,
                                     const std::vector<FieldHeaderType>& fields,
                                     const TRecordGeometry& geometry, TKeySearchSwitches switches)
    : null_bitmap_offset_(geometry.NullBitmapOffset()),
      identifier_offset_(geometry.IdentifierOffset()),
      switches_(switches) {
  const int32_t k = index.FieldCount();
  const size_t bit_bytes = static_cast<size_t>(k + 7) / 8;
  if (index.AscendingBits.size() < bit_bytes || index.CaseInsensitiveBits.size() < bit_bytes)
    throw Exception(fmt::format("TIndexKeyComparer - index \"{}\" has fewer order bits than fields",
                                index.Name));
  if (geometry.FieldOffsets.size() < fields.size())
    throw Exception("TIndexKeyComparer - the record geometry does not cover the fields");
  size_t text_size = 0, wide_units = 0;
  fields_.reserve(static_cast<size_t>(k));
  for (int32_t j = 0; j < k; ++j) {
    const int32_t field_no = index.FieldNumbers[j];
    if (field_no == kIdentifierFieldNo) {
      fields_.push_back({field_no, geometry.IdentifierOffset(), 4, ftAutoInc, true, false});
      continue;
    }
    if (field_no < 0 || static_cast<size_t>(field_no) >= fields.size() ||
        field_no >= geometry.NullBytes * 8)
      throw Exception(fmt::format("TIndexKeyComparer - index \"{}\" names field {} of {}",
                                  index.Name, field_no, fields.size()));
    const FieldHeaderType& field = fields[field_no];
    const int32_t offset = geometry.FieldOffsets[field_no];
    const int32_t read = BytesRead(field.Type, field.Size);
    if (offset < 0 || read > field.Size || int64_t(offset) + read > geometry.DataSize ||
        ((field.Type == ftString || field.Type == ftWideString) && field.Size < 1))
      throw Exception(
          fmt::format("TIndexKeyComparer - field \"{}\" of index \"{}\" does not fit the record",
                      field.Name, index.Name));
    const bool text = field.Type == ftString || field.Type == ftWideString;
    const bool ascending = index.Ascending(j) && !index.DescendingAll;
    const bool case_insensitive = text && (index.CaseInsensitive(j) || index.CaseInsensitiveAll ||
                                           switches.CaseInsensitiveAll);
    fields_.push_back({field_no, offset, field.Size, field.Type, ascending, case_insensitive});
    if (field.Type == ftString) text_size = std::max(text_size, size_t(field.Size) + 1);
    if (field.Type == ftWideString) wide_units = std::max(wide_units, size_t(field.Size) / 2);
  }
  text_a_.resize(text_size);
  text_b_.resize(text_size);
  // Never empty, so the views handed to the locale comparison always have storage.
  wide_a_.resize(std::max<size_t>(wide_units, 1));
  wide_b_.resize(std::max<size_t>(wide_units, 1));
}

int TIndexKeyComparer::Compare(const uint8_t* a, const uint8_t* b) const {
  for (const KeyField& field : fields_) {
    if (field.field_no == kIdentifierFieldNo) {
      const int c = Sign(LoadU32(a + field.offset), LoadU32(b + field.offset));
      if (c != 0) return c;
      continue;
    }
    const int byte = null_bitmap_offset_ + field.field_no / 8;
    const int bit = field.field_no % 8;
    const bool null_a = (a[byte] >> bit) & 1, null_b = (b[byte] >> bit) & 1;
    int c;
    if (null_a || null_b)
      c = Sign(!null_a, !null_b);
    else
      c = CompareValues(field, a + field.offset, b + field.offset);
    if (c != 0) return field.ascending ? c : -c;
  }
  return 0;
}

uint32_t TIndexKeyComparer::Identifier(const uint8_t* image) const {
  return LoadU32(image + identifier_offset_);
}

int TIndexKeyComparer::CompareIdentifiers(const uint8_t* a, const uint8_t* b) const {
  return Sign(Identifier(a), Identifier(b));
}

int TIndexKeyComparer::CompareValues(const KeyField& field, const uint8_t* a,
                                     const uint8_t* b) const {
  switch (field.type) {
    case ftString:
      return CompareStrings(field, a, b);
    case ftWideString:
      return CompareWideStrings(field, a, b);
    case ftSmallint:
      return Sign(static_cast<int16_t>(a[0] | a[1] << 8), static_cast<int16_t>(b[0] | b[1] << 8));
    case ftWord:
      return Sign(a[0] | a[1] << 8, b[0] | b[1] << 8);
    case ftInteger:
    case ftTime:
      return Sign(LoadI32(a), LoadI32(b));
    case ftLargeint:
      return Sign(LoadI64(a), LoadI64(b));
    case ftBoolean:
      return Sign(a[0] != 0, b[0] != 0);
    case ftFloat:
    case ftCurrency:
      return CompareDoubles(LoadDouble(a), LoadDouble(b));
    case ftDate:
      return CompareDateFields(a, b);
    case ftDateTime:
      return CompareDateTimeFields(a, b);
    default:
      return 0;
  }
}

int TIndexKeyComparer::CompareStrings(const KeyField& field, const uint8_t* a,
                                      const uint8_t* b) const {
  const size_t size = static_cast<size_t>(field.size);
  // A slot without its terminator, which only damage leaves, is compared as a copy that has
  // one so that the collation never reads past the slot.
  auto text = [size](const uint8_t* slot, std::vector<char>& scratch) {
    const char* s = reinterpret_cast<const char*>(slot);
    if (slot[size - 1] == 0 || std::memchr(slot, 0, size) != nullptr) return s;
    std::memcpy(scratch.data(), slot, size);
    scratch[size] = 0;
    return static_cast<const char*>(scratch.data());
  };
  const char* sa = text(a, text_a_);
  const char* sb = text(b, text_b_);
  if (switches_.Partial) {
    const size_t n = std::strlen(sb);
    return field.case_insensitive ? CollateCompareNI(sa, sb, n) : CollateCompareN(sa, sb, n);
  }
  return field.case_insensitive ? CollateCompareI(sa, sb) : CollateCompare(sa, sb);
}

int TIndexKeyComparer::CompareWideStrings(const KeyField& field, const uint8_t* a,
                                          const uint8_t* b) const {
  const size_t units = static_cast<size_t>(field.size) / 2;
  // Copied out: the slot need not be aligned for 16-bit reads, and may lack its terminator.
  auto text = [units](const uint8_t* slot, std::vector<char16_t>& scratch) {
    size_t length = 0;
    while (length < units) {
      const char16_t unit = static_cast<char16_t>(slot[2 * length] | slot[2 * length + 1] << 8);
      if (unit == 0) break;
      scratch[length++] = unit;
    }
    return std::u16string_view(scratch.data(), length);
  };
  std::u16string_view wa = text(a, wide_a_);
  const std::u16string_view wb = text(b, wide_b_);
  if (switches_.Partial && wa.size() > wb.size()) wa = wa.substr(0, wb.size());
  return CompareWide(wa, wb, field.case_insensitive);
}

}  // namespace orv
