#include "engine/storage/search_records.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "engine/common/collation.h"
#include "engine/files/little_endian.h"
#include "engine/storage/engine_arrays.h"
#include "engine/storage/index_key.h"
#include "engine/storage/index_list.h"
#include "engine/storage/record_source.h"
#include "engine/storage/stored_bytes.h"
#include "engine/storage/table_files.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/time_stamp.h"
#include "platform/value_text.h"
#include "platform/variant.h"

namespace orv {

namespace {

constexpr const char* kLikeOnNonString =
    "Error in TOrvelDataSet.PrepareValueBuffer - 'like / not like' operation call with not "
    "string field!";

// Above this many survivors a locate takes the first one in visible order instead of sorting
// them by the current index.
constexpr size_t kFewSurvivors = 9;

bool IsStringType(TFieldType type) {
  return type == ftString || type == ftWideString;
}

bool IsLike(TSearchOperator op) {
  return op == soLike || op == soNotLike;
}

// Names separated by "," or ";", blanks around them dropped; an empty text is one empty name.
std::vector<std::string> SplitFieldList(std::string_view list) {
  std::vector<std::string> names;
  size_t start = 0;
  for (;;) {
    const size_t end = list.find_first_of(",;", start);
    names.push_back(Trim(list.substr(start, end == std::string_view::npos ? end : end - start)));
    if (end == std::string_view::npos) return names;
    start = end + 1;
  }
}

std::string StoredText(const uint8_t* slot, int32_t size) {
  const auto* text = reinterpret_cast<const char*>(slot);
  return std::string(text, strnlen(text, static_cast<size_t>(size)));
}

std::u16string StoredWideText(const uint8_t* slot, int32_t size) {
  std::u16string text;
  for (int32_t i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<char16_t>(slot[i] | slot[i + 1] << 8);
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

// Cut to the slot less its 2-byte terminator.
void StoreWideText(uint8_t* slot, int32_t size, std::u16string_view text) {
  const size_t n = std::min(text.size(), static_cast<size_t>(size - 2) / 2);
  for (size_t i = 0; i < n; ++i) {
    slot[2 * i] = static_cast<uint8_t>(text[i]);
    slot[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  slot[2 * n] = slot[2 * n + 1] = 0;
}

int64_t IntegerIn(std::string_view text, int64_t min, int64_t max) {
  const int64_t value = StrToInt64(text);
  if (value < min || value > max)
    throw EConvertError(fmt::format("'{}' is not a valid integer value", text));
  return value;
}

// The shortest text that reads back as the same double, with the current decimal separator.
std::string FloatSearchText(double value) {
  std::string text = fmt::format("{}", value);
  std::replace(text.begin(), text.end(), '.', DecimalSeparator());
  return text;
}

// Date-time text that keeps milliseconds, which DateTimeToStr drops.
std::string DateTimeSearchText(TDateTime value) {
  const TTimeStamp stamp = DateTimeToTimeStamp(value);
  std::string text = DateToStr(value);
  if (stamp.time != 0) {
    text += ' ';
    text += TimeToStr(value);
    if (stamp.time % 1000 != 0) text += fmt::format(".{:03}", stamp.time % 1000);
  }
  return text;
}

// The value text of a locate value; nothing for Null.
std::optional<std::string> VariantSearchText(const Variant& value) {
  switch (value.VarType()) {
    case varNull:
      return std::nullopt;
    case varSmallint:
    case varInteger:
    case varByte:
    case varWord:
      return IntToStr(value.AsInt64());
    case 0x0004:  // single
    case varDouble:
    case 0x0006:  // currency
      return FloatSearchText(value.AsDouble());
    case varDate:
      return DateTimeSearchText(value.AsDateTime());
    case varOleStr:
    case varString:
    case varShortInt:
    case varInt64:
      return value.AsString();
    case varBoolean:
      return std::string(value.AsBoolean() ? "true" : "false");
    default:
      throw Exception(fmt::format("TOrvelDataset.PrepareAndLocate - Unsupported variant type {}",
                                  value.VarType()));
  }
}

// Keeps a record's page, and so its image, in the cache while another record is read.
class TPageLock {
 public:
  explicit TPageLock(TRecordSource& records) : records_(records) {}
  ~TPageLock() { Release(); }
  TPageLock(const TPageLock&) = delete;
  TPageLock& operator=(const TPageLock&) = delete;

  void Hold(int32_t record_no) {
    Release();
    records_.LockRecordPage(record_no);
    record_no_ = record_no;
  }
  void Release() {
    if (record_no_ >= 0) records_.UnlockRecordPage(record_no_);
    record_no_ = -1;
  }

 private:
  TRecordSource& records_;
  int32_t record_no_ = -1;
};

}  // namespace

// One prepared comparison made ready for many records: the one-field key comparer, or the
// pattern of a like.
class TOrvelRecordSearch::Matcher {
 public:
  Matcher(TOrvelRecordSearch& search, const TSearchOperation& item, uint8_t options)
      : search_(search), item_(item), ignore_case_((options & kSearchCaseInsensitive) != 0) {
    const TOrvelTableFiles& table = search.table_;
    if (IsLike(item.Operator)) {
      type_ = table.GetFieldType(item.FieldNo);
      if (!IsStringType(type_)) throw Exception(kLikeOnNonString);
      offset_ = table.Geometry().FieldOffsets[static_cast<size_t>(item.FieldNo)];
      size_ = table.Fields()[static_cast<size_t>(item.FieldNo)].Size;
      if (type_ == ftString)
        pattern_ = StoredText(item.ValueBuffer.data() + offset_, size_);
      else
        wide_pattern_ = StoredWideText(item.ValueBuffer.data() + offset_, size_);
      return;
    }
    IndexHeaderType key(std::string(), {item.FieldNo});
    TKeySearchSwitches switches;
    switches.Partial = item.Partial;
    switches.CaseInsensitiveAll = ignore_case_;
    comparer_.emplace(key, table.Fields(), table.Geometry(), switches);
  }

  // Record (A) against the value (B): < 0 when the record comes first in ascending order.
  int Compare(const uint8_t* record) const {
    return comparer_->Compare(record, item_.ValueBuffer.data());
  }

  bool Matches(const uint8_t* record) {
    ++search_.match_tests_;
    if (IsLike(item_.Operator)) {
      if (search_.table_.Geometry().IsNull(record, item_.FieldNo)) return false;
      bool like;
      if (type_ == ftString)
        like =
            LikeMatch(StoredText(record + offset_, size_).c_str(), pattern_.c_str(), ignore_case_);
      else
        like = LikeMatchWide(StoredWideText(record + offset_, size_).c_str(), wide_pattern_.c_str(),
                             ignore_case_);
      return item_.Operator == soLike ? like : !like;
    }
    const int r = Compare(record);
    switch (item_.Operator) {
      case soEqual:
        return r == 0;
      case soNotEqual:
        return r != 0;
      case soLessOrEqual:
        return r <= 0;
      case soGreaterOrEqual:
        return r >= 0;
      case soLess:
        return r < 0;
      case soGreater:
        return r > 0;
      default:
        throw Exception(
            "TOrvelDataSet.IsRecordMatches - Unsupported search operation in "
            "TOrvelDataSet.IsRecordMatches");
    }
  }

 private:
  TOrvelRecordSearch& search_;
  const TSearchOperation& item_;
  bool ignore_case_;
  std::optional<TIndexKeyComparer> comparer_;
  TFieldType type_ = ftUnknown;
  int32_t offset_ = 0;
  int32_t size_ = 0;
  std::string pattern_;
  std::u16string wide_pattern_;
};

TOrvelRecordSearch::TOrvelRecordSearch(TOrvelTableFiles& table, TRecordSource& records,
                                       TOrvelIndexList& indexes)
    : table_(table), records_(records), indexes_(indexes) {}

void TOrvelRecordSearch::PrepareValueBuffer(int32_t field_no, TSearchOperator& op,
                                            std::vector<uint8_t>& buffer, std::string_view text) {
  const std::vector<FieldHeaderType>& fields = table_.Fields();
  const TRecordGeometry& geometry = table_.Geometry();
  const auto field_count = static_cast<int32_t>(fields.size());
  if (field_no != kIdentifierFieldNo && (field_no < 0 || field_no >= field_count))
    throw Exception(fmt::format(
        "Error in TOrvelDataSet.PrepareValueBuffer - invalid field number {}", field_no));
  const TFieldType type = table_.GetFieldType(field_no);
  if (IsLike(op) && !IsStringType(type)) throw Exception(kLikeOnNonString);

  // Always a fresh new-record image, so that nothing of an earlier value survives.
  try {
    buffer.assign(static_cast<size_t>(geometry.BufferSize()), 0);
  } catch (const std::bad_alloc&) {
    throw Exception("Error in TOrvelDataSet.PrepareValueBuffer - valueBuffer 0 pointer!");
  }
  StoreU32(buffer.data() + geometry.IdentifierOffset(),
           static_cast<uint32_t>(table_.Header().LastRecordId) + 1);

  bool null = true;
  if (op == soIsNull || (op == soEqual && text.empty()))
    op = soEqual;
  else if (op == soIsNotNull || (op == soNotEqual && text.empty()))
    op = soNotEqual;
  else
    null = false;
  for (int32_t f = 0; f < field_count; ++f) geometry.SetNull(buffer.data(), f, null);
  if (text.empty()) return;

  if (field_no == kIdentifierFieldNo) {
    StoreI32(buffer.data() + geometry.IdentifierOffset(), StrToInt(text));
    return;
  }
  uint8_t* slot = buffer.data() + geometry.FieldOffsets[static_cast<size_t>(field_no)];
  const int32_t size = fields[static_cast<size_t>(field_no)].Size;
  if (!IsValidStoredSize(type, size))
    throw Exception(
        fmt::format("Error in TOrvelDataSet.PrepareValueBuffer - invalid size of field \"{}\"!",
                    fields[static_cast<size_t>(field_no)].Name));
  switch (type) {
    case ftString: {
      const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
      std::memcpy(slot, text.data(), n);
      slot[n] = 0;
      break;
    }
    case ftSmallint: {
      const auto value = static_cast<uint16_t>(IntegerIn(text, INT16_MIN, INT16_MAX));
      slot[0] = static_cast<uint8_t>(value);
      slot[1] = static_cast<uint8_t>(value >> 8);
      break;
    }
    case ftWord: {
      const auto value = static_cast<uint16_t>(IntegerIn(text, 0, UINT16_MAX));
      slot[0] = static_cast<uint8_t>(value);
      slot[1] = static_cast<uint8_t>(value >> 8);
      break;
    }
    case ftInteger:
      StoreI32(slot, StrToInt(text));
      break;
    case ftBoolean:
      slot[0] = SameText(text, "true") ? 1 : 0;
      slot[1] = 0;
      break;
    case ftFloat:
    case ftCurrency:
      StoreF64(slot, StrToFloat(text));
      break;
    case ftDate:
      StoreI32(slot, DateTimeToTimeStamp(StrToDateTime(text)).date);
      break;
    case ftTime:
      StoreI32(slot, DateTimeToTimeStamp(StrToDateTime(text)).time);
      break;
    case ftDateTime:
      StoreF64(slot, TimeStampToMSecs(DateTimeToTimeStamp(StrToDateTime(text))));
      break;
    case ftWideString:
      StoreWideText(slot, size, Cp1251ToUtf16(text));
      break;
    case ftLargeint:
      StoreI64(slot, StrToInt64(text));
      break;
    default:
      throw Exception("Error in TOrvelDataSet.PrepareValueBuffer - unsupported field type!");
  }
}

void TOrvelRecordSearch::CheckItem(const TSearchOperation& item, const char* operation) const {
  const auto field_count = static_cast<int32_t>(table_.Fields().size());
  const bool field_ok =
      item.FieldNo == kIdentifierFieldNo || (item.FieldNo >= 0 && item.FieldNo < field_count);
  if (item.Kind != sikComparison || !field_ok ||
      item.ValueBuffer.size() < static_cast<size_t>(table_.Geometry().RecordSize))
    throw Exception(
        fmt::format("Error in TOrvelDataSet.{} - search operation is not prepared.", operation));
}

const uint8_t* TOrvelRecordSearch::Record(int32_t record_no, const char* operation) {
  const uint8_t* record = nullptr;
  if (record_no >= 0 && record_no < records_.RecordCount())
    record = records_.GetRecordPtr(record_no);
  if (record == nullptr)
    throw Exception(
        fmt::format("Error in TOrvelDataSet.{} - no record {} in table.", operation, record_no));
  return record;
}

bool TOrvelRecordSearch::IsRecordMatches(const TSearchOperation& item, uint8_t options,
                                         const uint8_t* record) {
  CheckItem(item, "IsRecordMatches");
  if (record == nullptr)
    throw Exception("Error in TOrvelDataSet.IsRecordMatches - 0 pointer to record.");
  return Matcher(*this, item, options).Matches(record);
}

void TOrvelRecordSearch::EvaluateSearchOperation(const TSearchOperation& item, uint8_t options,
                                                 TBitsArray& result) {
  CheckItem(item, "EvaluateSearchOperation");
  const int32_t count = records_.RecordCount();
  if (result.Count() != count)
    throw Exception(fmt::format(
        "Error in TOrvelDataSet.EvaluateSearchOperation - result holds {} records, table {}.",
        result.Count(), count));
  if (count == 0) return;
  if (IsLike(item.Operator)) {
    Matcher matcher(*this, item, options);
    for (int32_t r = 0; r < count; ++r)
      if (matcher.Matches(Record(r, "EvaluateSearchOperation"))) result.Set(r, 1);
    return;
  }
  std::vector<int32_t> matches;
  GetMatchedRecordsArray(item, options, &matches, TMatchMode::kAll);
  for (int32_t r : matches) result.Set(r, 1);
}

int32_t TOrvelRecordSearch::GetMatchedRecordsArray(const TSearchOperation& item, uint8_t options,
                                                   std::vector<int32_t>* records, TMatchMode mode) {
  CheckItem(item, "GetMatchedRecordsArray");
  if (records != nullptr) records->clear();
  const int32_t count = records_.RecordCount();
  if (count <= 0) return 0;
  const int32_t index_no = FitIndex(item, options);
  if (index_no >= 0) {
    if (IsLike(item.Operator))
      throw Exception(
          "TOrvelDataSet.GetMatchedRecordsArray - Like operator is not supported in "
          "GetMatchedRecordsArray procedure.");
    return MatchesThroughIndex(index_no, item, options, records, mode);
  }
  Matcher matcher(*this, item, options);
  int32_t matched = 0;
  for (int32_t r = 0; r < count; ++r) {
    if (!matcher.Matches(Record(r, "GetMatchedRecordsArray"))) continue;
    ++matched;
    if (records != nullptr && mode != TMatchMode::kCount) records->push_back(r);
    if (mode == TMatchMode::kFirst) break;
  }
  return matched;
}

int32_t TOrvelRecordSearch::MatchesThroughIndex(int32_t index_no, const TSearchOperation& item,
                                                uint8_t options, std::vector<int32_t>* records,
                                                TMatchMode mode) {
  indexes_.BuildIndex(index_no, false);
  const TmvIntArray& array = indexes_.Array(index_no);
  const int32_t n = array.Count();
  if (n != records_.RecordCount())
    throw Exception(fmt::format(
        "Error in TOrvelDataSet.GetMatchedRecordsArray - index \"{}\" holds {} of {} records.",
        indexes_.Header(index_no).Name, n, records_.RecordCount()));
  const Matcher matcher(*this, item, options);
  auto compare_at = [&](int32_t position) {
    return matcher.Compare(Record(array[position], "GetMatchedRecordsArray"));
  };
  // [first, after) are the positions whose key equals the value.
  int32_t low = 0, high = n;
  while (low < high) {
    const int32_t mid = low + (high - low) / 2;
    if (compare_at(mid) < 0)
      low = mid + 1;
    else
      high = mid;
  }
  const int32_t first = low;
  high = n;
  while (low < high) {
    const int32_t mid = low + (high - low) / 2;
    if (compare_at(mid) <= 0)
      low = mid + 1;
    else
      high = mid;
  }
  const int32_t after = low;

  struct Range {
    int32_t begin, end;
  };
  Range ranges[2] = {{0, 0}, {0, 0}};
  switch (item.Operator) {
    case soEqual:
      ranges[0] = {first, after};
      break;
    case soNotEqual:
      ranges[0] = {0, first};
      ranges[1] = {after, n};
      break;
    case soLess:
      ranges[0] = {0, first};
      break;
    case soGreater:
      ranges[0] = {after, n};
      break;
    case soLessOrEqual:
      ranges[0] = {0, after};
      break;
    case soGreaterOrEqual:
      ranges[0] = {first, n};
      break;
    default:
      throw Exception(
          "TOrvelDataSet.IsRecordMatches - Unsupported search operation in "
          "TOrvelDataSet.IsRecordMatches");
  }
  int32_t matched = 0;
  for (const Range& range : ranges) {
    for (int32_t p = range.begin; p < range.end; ++p) {
      if (mode == TMatchMode::kCount) {
        matched += range.end - range.begin;
        break;
      }
      ++matched;
      if (records != nullptr) records->push_back(array[p]);
      if (mode == TMatchMode::kFirst) return matched;
    }
  }
  return matched;
}

int32_t TOrvelRecordSearch::FitIndex(const TSearchOperation& item, uint8_t options) const {
  // A string prefix bounds a contiguous stretch of the index only when the order is byte-wise
  // by rank; the locale's full-string orders (wide strings, and 8-bit text without fast
  // collation) can place "abz" after strings that do not start with "ab".
  const TFieldType type = table_.GetFieldType(item.FieldNo);
  if (item.Partial &&
      (type == ftWideString || (type == ftString && !CurrentCollation().fastCollation)))
    return -1;
  const std::vector<std::string> no_descending;
  return FindIndexForFieldNumbers({item.FieldNo}, &no_descending,
                                  (options & kSearchCaseInsensitive) == 0);
}

int32_t TOrvelRecordSearch::FindIndexForFields(std::string_view fields,
                                               std::string_view descending_fields,
                                               bool case_sensitive) const {
  std::vector<int32_t> numbers;
  for (const std::string& name : SplitFieldList(fields)) {
    const int32_t field_no = table_.InternalGetFieldNo(name, false);
    if (field_no == kFieldNotFound) return -1;
    numbers.push_back(field_no);
  }
  if (Trim(descending_fields) == "*")
    return FindIndexForFieldNumbers(numbers, nullptr, case_sensitive);
  std::vector<std::string> descending;
  if (!Trim(descending_fields).empty()) descending = SplitFieldList(descending_fields);
  return FindIndexForFieldNumbers(numbers, &descending, case_sensitive);
}

int32_t TOrvelRecordSearch::FindIndexForFieldNumbers(const std::vector<int32_t>& field_numbers,
                                                     const std::vector<std::string>* descending,
                                                     bool case_sensitive) const {
  if (field_numbers.empty()) return -1;
  auto fits = [&](const IndexHeaderType& index) {
    if (index.FieldCount() < static_cast<int32_t>(field_numbers.size())) return false;
    for (size_t j = 0; j < field_numbers.size(); ++j) {
      const auto jj = static_cast<int32_t>(j);
      if (index.FieldNumbers[j] != field_numbers[j]) return false;
      // Checked field by field: the order of a string field is what a search relies on,
      // whatever the other fields are.
      if (IsStringType(table_.GetFieldType(field_numbers[j])) &&
          (index.CaseInsensitive(jj) || index.CaseInsensitiveAll) == case_sensitive)
        return false;
    }
    if (descending == nullptr) return true;
    // The identifier sorts ascending whatever the bits say.
    std::vector<std::string> index_descending;
    for (int32_t j = 0; j < index.FieldCount(); ++j) {
      const int32_t field_no = index.FieldNumbers[static_cast<size_t>(j)];
      if (field_no != kIdentifierFieldNo && (!index.Ascending(j) || index.DescendingAll))
        index_descending.push_back(table_.Fields()[static_cast<size_t>(field_no)].Name);
    }
    return std::equal(index_descending.begin(), index_descending.end(), descending->begin(),
                      descending->end(),
                      [](const std::string& a, const std::string& b) { return SameText(a, b); });
  };
  for (int32_t i = 0; i < indexes_.Count(); ++i)
    if (fits(indexes_.Header(i))) return i;
  return -1;
}

int32_t TOrvelRecordSearch::PrepareAndLocate(std::string_view fields, const Variant& values,
                                             uint8_t options, TSearchOperator op,
                                             const TLocateScope& scope) {
  const std::vector<std::string> names = SplitFieldList(fields);
  TSearchOperations items(names.size());
  std::vector<std::string> texts;
  for (size_t i = 0; i < names.size(); ++i) {
    TSearchOperation& item = items[i];
    item.FieldName = names[i];
    item.FieldNo = table_.InternalGetFieldNo(names[i], true);
    item.Operator = op;
    item.Partial = (options & kSearchNoPartial) == 0;
    const Variant value = values.IsArray() ? values.ArrayItem(static_cast<int>(i)) : values;
    std::optional<std::string> text = VariantSearchText(value);
    if (!text) return -1;
    texts.push_back(std::move(*text));
  }
  for (size_t i = 0; i < items.size(); ++i) {
    TSearchOperation& item = items[i];
    PrepareValueBuffer(item.FieldNo, item.Operator, item.ValueBuffer, texts[i]);
    // Wide text straight from the variant, so characters code page 1251 lacks survive.
    const Variant value = values.IsArray() ? values.ArrayItem(static_cast<int>(i)) : values;
    if (value.VarType() == varOleStr && !texts[i].empty() &&
        table_.GetFieldType(item.FieldNo) == ftWideString) {
      const size_t at = static_cast<size_t>(item.FieldNo);
      StoreWideText(item.ValueBuffer.data() + table_.Geometry().FieldOffsets[at],
                    table_.Fields()[at].Size, value.AsWideString());
    }
  }
  return LocateRecord(items, options, scope);
}

int32_t TOrvelRecordSearch::LocateRecord(const TSearchOperations& items, uint8_t options,
                                         const TLocateScope& scope) {
  if (scope.Visible.empty() || items.empty()) return -1;
  for (const TSearchOperation& item : items) CheckItem(item, "LocateRecord");
  const int32_t count = records_.RecordCount();

  if (items.size() == 1 && FitIndex(items[0], options) < 0) {
    Matcher matcher(*this, items[0], options);
    for (int32_t r : scope.Visible)
      if (matcher.Matches(Record(r, "LocateRecord"))) return r;
    return -1;
  }

  // Lead with the most selective item, stopping at the first that keeps 5 percent or less.
  size_t lead = 0;
  if (items.size() > 1) {
    int32_t fewest = std::numeric_limits<int32_t>::max();
    for (size_t i = 0; i < items.size(); ++i) {
      const int32_t matched =
          GetMatchedRecordsArray(items[i], options, nullptr, TMatchMode::kCount);
      if (matched <= count / 20) {
        lead = i;
        break;
      }
      if (matched < fewest) {
        fewest = matched;
        lead = i;
      }
    }
  }
  std::vector<int32_t> candidates;
  GetMatchedRecordsArray(items[lead], options, &candidates, TMatchMode::kAll);
  std::vector<Matcher> others;
  others.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i)
    if (i != lead) others.emplace_back(*this, items[i], options);
  std::vector<int32_t> survivors;
  for (int32_t r : candidates) {
    const uint8_t* record = Record(r, "LocateRecord");
    const bool all = std::all_of(others.begin(), others.end(),
                                 [record](Matcher& m) { return m.Matches(record); });
    if (all && (!scope.IsVisible || scope.IsVisible(r))) survivors.push_back(r);
  }
  if (survivors.empty()) return -1;

  if (survivors.size() > kFewSurvivors || scope.CurrentIndex < 0 ||
      scope.CurrentIndex >= indexes_.Count()) {
    std::vector<uint8_t> survived(static_cast<size_t>(count), 0);
    for (int32_t r : survivors) survived[static_cast<size_t>(r)] = 1;
    for (int32_t r : scope.Visible)
      if (r >= 0 && r < count && survived[static_cast<size_t>(r)]) return r;
    return -1;
  }
  const TIndexKeyComparer& order = indexes_.Comparer(scope.CurrentIndex);
  TPageLock lock(records_);
  int32_t best = survivors[0];
  lock.Hold(best);
  const uint8_t* best_record = Record(best, "LocateRecord");
  for (size_t i = 1; i < survivors.size(); ++i) {
    if (order.Compare(Record(survivors[i], "LocateRecord"), best_record) >= 0) continue;
    best = survivors[i];
    lock.Hold(best);
    best_record = Record(best, "LocateRecord");
  }
  return best;
}

}  // namespace orv
