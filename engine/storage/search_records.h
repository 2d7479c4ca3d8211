#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/search_operation.h"

namespace orv {

class TBitsArray;
class TOrvelIndexList;
class TOrvelTableFiles;
class TRecordSource;
class Variant;

// What GetMatchedRecordsArray hands back.
enum class TMatchMode {
  kAll = 0,    // every match
  kCount = 1,  // only the count
  kFirst = 2,  // at most one match
};

// The dataset's side of a locate: where its records stand and which of them it shows.
struct TLocateScope {
  // Physical record numbers of the visible records, in visible order.
  std::span<const int32_t> Visible;
  // Whether a record passes the dataset's master condition, range and filters; unset means
  // every record does.
  std::function<bool(int32_t record_no)> IsVisible;
  // The dataset's current index (its number in the index list); -1 for physical order.
  int32_t CurrentIndex = -1;
};

// Record-level search services of a dataset over one open table: value buffers, the test of a
// record against one comparison, a comparison over the whole table (through an index when one
// fits) and the multi-field locate. Comparisons use the one-field key comparison of the
// indexes, so conditions and index order always agree. The table, its records and its index
// list must outlive this object.
class TOrvelRecordSearch {
 public:
  TOrvelRecordSearch(TOrvelTableFiles& table, TRecordSource& records, TOrvelIndexList& indexes);

  TOrvelTableFiles& Table() const { return table_; }
  TRecordSource& Records() const { return records_; }

  // Sizes buffer as a record buffer of the table and writes the value text for field field_no
  // into it, the way the field stores it. "is null" and "=" with an empty text become "=", and
  // "is not null" and "<>" with an empty text become "<>", against a buffer with every null bit
  // set; for other operators every null bit is cleared. Raises for like on a field that is not
  // a string, for a text that is not a value of the field's type (EConvertError, also for a
  // number out of the field's range) and for types a search cannot compare.
  void PrepareValueBuffer(int32_t field_no, TSearchOperator& op, std::vector<uint8_t>& buffer,
                          std::string_view text);

  // Whether record (an image of the table) satisfies the prepared comparison item. A null field
  // is smaller than every value; it never matches like nor not like.
  bool IsRecordMatches(const TSearchOperation& item, uint8_t options, const uint8_t* record);

  // Sets the byte of every record that matches item to 1; result must hold one byte per record.
  void EvaluateSearchOperation(const TSearchOperation& item, uint8_t options, TBitsArray& result);

  // The records matching item, in index order when an index fits its field, else in physical
  // order; returns how many there are (at most 1 in kFirst). records may be null for kCount.
  int32_t GetMatchedRecordsArray(const TSearchOperation& item, uint8_t options,
                                 std::vector<int32_t>* records, TMatchMode mode);

  // The first index (list order) whose fields begin with the given ones (names separated by
  // "," or ";"), whose descending fields are exactly descending_fields ("*": any), and whose
  // string fields among the given ones compare with case when case_sensitive and without it
  // otherwise; -1 when none fits or a name is unknown.
  int32_t FindIndexForFields(std::string_view fields, std::string_view descending_fields,
                             bool case_sensitive) const;

  // Locate: the physical number of a visible record whose fields (names separated by "," or
  // ";") satisfy op against values (a variant array with one element per field, or one variant
  // for all), or -1. A Null value finds nothing.
  int32_t PrepareAndLocate(std::string_view fields, const Variant& values, uint8_t options,
                           TSearchOperator op, const TLocateScope& scope);
  // A visible record matching every prepared item, or -1: the first in visible order when many
  // match, else the first in the current index's order.
  int32_t LocateRecord(const TSearchOperations& items, uint8_t options, const TLocateScope& scope);

  // Records tested one by one against a comparison since construction; evaluation through an
  // index range tests none.
  uint64_t MatchTestCount() const { return match_tests_; }

 private:
  class Matcher;

  int32_t FindIndexForFieldNumbers(const std::vector<int32_t>& field_numbers,
                                   const std::vector<std::string>* descending,
                                   bool case_sensitive) const;
  int32_t FitIndex(const TSearchOperation& item, uint8_t options) const;
  int32_t MatchesThroughIndex(int32_t index_no, const TSearchOperation& item, uint8_t options,
                              std::vector<int32_t>* records, TMatchMode mode);
  void CheckItem(const TSearchOperation& item, const char* operation) const;
  const uint8_t* Record(int32_t record_no, const char* operation);

  TOrvelTableFiles& table_;
  TRecordSource& records_;
  TOrvelIndexList& indexes_;
  uint64_t match_tests_ = 0;
};

}  // namespace orv
