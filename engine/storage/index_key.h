#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/field_header.h"
#include "engine/storage/index_file.h"
#include "engine/storage/stored_types.h"

namespace orv {

// Only key searches set these, never the sort.
struct TKeySearchSwitches {
  // String prefix: compare only as many characters as B's string has (B is the search value).
  bool Partial = false;
  // Every string field compares without case.
  bool CaseInsensitiveAll = false;
  // Dates are equal when their days are; date-times when day and millisecond are. Keys of
  // whole days and whole milliseconds always compare that way, so the switch changes no result;
  // searches set it where the match has to be exact.
  bool ExactDate = false;
};

// Compares record images A and B under an index header (field numbers, ascending and case
// bits, the two all-flags) with the table's field headers and geometry. Sign convention:
// < 0 when A comes first in the index order, > 0 when B does, 0 for equal keys.
//
// Per field, in index order, the first that differs decides:
// - the record identifier (field -1) as an unsigned number, smallest first whatever the order;
// - nulls before every value in an ascending field, after them in a descending one;
// - ftString by the collation (collation.h), ftWideString by the user locale's string sort,
//   case-insensitive when the field's case bit, the case-insensitive-all flag or the search
//   switch says so;
// - integers signed (ftWord unsigned), ftBoolean false before true, ftFloat/ftCurrency as
//   doubles (NaN after every number), ftDate by day (days below 1 taken as 1), ftTime by
//   millisecond, ftDateTime by its value rounded to whole milliseconds (which is the
//   date-time comparison within 1e-8 of a day);
// - ftBCD, ftBytes and other types always equal.
//
// The layout of each field is worked out once here, so a comparison does no allocation. The
// comparer keeps scratch space for wide strings and strings without a terminator, so one
// comparer must not be used by two threads at once.
class TIndexKeyComparer {
 public:
  // Raises orv::Exception for a header that names a field the table does not have or whose
  // bits do not cover its fields.
  TIndexKeyComparer(const IndexHeaderType& index, const std::vector<FieldHeaderType>& fields,
                    const TRecordGeometry& geometry, TKeySearchSwitches switches = {});
  TIndexKeyComparer(const TIndexKeyComparer&) = default;
  TIndexKeyComparer& operator=(const TIndexKeyComparer&) = default;

  int Compare(const uint8_t* a, const uint8_t* b) const;
  // Compare, with equal keys ordered by record identifier (unsigned, smaller first): the total
  // order that sorts and maintenance keep, so that a binary search lands on the one entry of a
  // record. The key order alone leaves equal keys in no defined order, so this one is among its
  // orders.
  int CompareExact(const uint8_t* a, const uint8_t* b) const {
    const int c = Compare(a, b);
    return c != 0 ? c : CompareIdentifiers(a, b);
  }
  int CompareIdentifiers(const uint8_t* a, const uint8_t* b) const;
  uint32_t Identifier(const uint8_t* image) const;

  const TKeySearchSwitches& Switches() const { return switches_; }

  // One index field as the comparison reads it; the sort uses it to extract key prefixes.
  struct TKeyField {
    int32_t field_no;  // kIdentifierFieldNo for the identifier
    int32_t offset;
    int32_t size;
    TFieldType type;
    bool ascending;
    bool case_insensitive;
  };
  const std::vector<TKeyField>& KeyFields() const { return fields_; }
  bool IsNull(const uint8_t* image, const TKeyField& field) const {
    return (image[null_bitmap_offset_ + field.field_no / 8] >> (field.field_no % 8)) & 1;
  }

 private:
  using KeyField = TKeyField;

  int CompareValues(const KeyField& field, const uint8_t* a, const uint8_t* b) const;
  int CompareStrings(const KeyField& field, const uint8_t* a, const uint8_t* b) const;
  int CompareWideStrings(const KeyField& field, const uint8_t* a, const uint8_t* b) const;

  std::vector<KeyField> fields_;
  int32_t null_bitmap_offset_;
  int32_t identifier_offset_;
  TKeySearchSwitches switches_;
  mutable std::vector<char> text_a_, text_b_;
  mutable std::vector<char16_t> wide_a_, wide_b_;
};

}  // namespace orv
