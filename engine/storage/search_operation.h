#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv {

// Search options byte, from a dataset's FilterOptions or built by Locate.
inline constexpr uint8_t kSearchCaseInsensitive = 1;
// Without it strings compare as prefixes: only the length of the search value counts.
inline constexpr uint8_t kSearchNoPartial = 2;

enum TSearchItemKind : uint8_t {
  sikComparison = 0,
  sikNot = 1,
  sikAnd = 2,
  sikOr = 3,
  sikOpenBracket = 4,
  sikCloseBracket = 5,
};

enum TSearchOperator : uint8_t {
  soEqual = 0,
  soNotEqual = 1,
  soLessOrEqual = 2,
  soGreaterOrEqual = 3,
  soLess = 4,
  soGreater = 5,
  soLike = 6,
  soNotLike = 7,
  soIsNull = 8,
  soIsNotNull = 9,
};

// One item of a parsed condition. Only comparisons use the fields after Kind. PrepareValueBuffer
// (search_records.h) turns "is null" / "is not null" into "=" / "<>" against a buffer whose null
// bits are all set, so a prepared comparison carries operators 0 to 7 only.
struct TSearchOperation {
  TSearchItemKind Kind = sikComparison;
  int32_t FieldNo = 0;  // -1: the record identifier
  std::string FieldName;
  TSearchOperator Operator = soEqual;
  bool Partial = false;  // strings compare as prefixes of the value
  // A record image of the table holding the value at the field's offset.
  std::vector<uint8_t> ValueBuffer;
};

using TSearchOperations = std::vector<TSearchOperation>;

}  // namespace orv
