#include <algorithm>
#include <cstring>

#include "engine/common/orv_exception.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_dataset.h"
#include "engine/components/orvel_dataset_internal.h"
#include "engine/files/little_endian.h"
#include "engine/sql/orv_value.h"
#include "engine/storage/index_key.h"
#include "engine/storage/index_list.h"
#include "engine/storage/search_parser.h"
#include "engine/storage/search_records.h"
#include "platform/value_text.h"

namespace orv {

using namespace dataset_internal;

namespace {

bool IsQuotedType(TFieldType type) {
  return type == ftString || type == ftFixedChar || type == ftWideString || type == ftDate ||
         type == ftTime || type == ftDateTime;
}

std::string QuoteText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// The first count fields of an index, compared as the index compares them.
IndexHeaderType PrefixHeader(const IndexHeaderType& header, int32_t count) {
  IndexHeaderType prefix = header;
  count = std::clamp(count, 0, header.FieldCount());
  prefix.FieldNumbers.resize(static_cast<size_t>(count));
  return prefix;
}

}  // namespace

bool TOrvelDataset::IsStale() const {
  if (!cursor_open_ || dm_ == nullptr) return false;
  return !list_built_ || dm_->Table().Header().ChangeCounter != seen_change_counter_;
}

void TOrvelDataset::RebuildIfStale() {
  if (IsStale()) RebuildVisibleList();
}

void TOrvelDataset::ReleaseRebuild(bool rebuild) {
  if (hold_count_ > 0) --hold_count_;
  if (hold_count_ == 0 && rebuild) RebuildVisibleList();
}

bool TOrvelDataset::ConditionInForce() {
  return MasterConditionUsable() || (Filtered() && !Trim(Filter()).empty()) || range_active_ ||
         static_cast<bool>(expression_filter_) || max_count_ >= 0 || first_ordinal_ >= 0 ||
         !distinct_fields_.empty();
}

bool TOrvelDataset::MasterConditionUsable() {
  TDataSet* master = MasterDataSet();
  if (master == nullptr || !master->Active() || dm_ == nullptr) return false;
  const std::vector<TField*> fields = MasterFields();
  if (fields.empty() || static_cast<int32_t>(fields.size()) > IndexFieldCount()) return false;
  const IndexHeaderType& header = dm_->Indexes().Header(current_index_);
  for (size_t i = 0; i < fields.size(); ++i) {
    const int32_t field_no = header.FieldNumbers[i];
    const TFieldType type = field_no == kIdentifierFieldNo
                                ? ftAutoInc
                                : dm_->Table().Fields()[static_cast<size_t>(field_no)].Type;
    const TFieldType master_type = fields[i]->DataType();
    if (master_type != type && CommonType(master_type, type) == 0) return false;
  }
  return true;
}

std::string TOrvelDataset::BuildMasterCondition() {
  const std::vector<TField*> fields = MasterFields();
  const IndexHeaderType& header = dm_->Indexes().Header(current_index_);
  const TOrvelTableFiles& table = dm_->Table();
  std::string condition;
  for (size_t i = 0; i < fields.size(); ++i) {
    const int32_t field_no = header.FieldNumbers[i];
    const std::string& name = field_no == kIdentifierFieldNo
                                  ? table.Header().IdFieldName
                                  : table.Fields()[static_cast<size_t>(field_no)].Name;
    TField* master = fields[i];
    const std::string text = master->IsNull() ? std::string() : master->AsString();
    if (text.empty()) {
      condition += i == 0 ? "([" + name + "] IS NULL )" : " and ([" + name + "] IS NULL)";
      continue;
    }
    condition += i == 0 ? "([" : " and ([";
    condition += name + "] = ";
    condition += IsQuotedType(master->DataType()) ? QuoteText(text) : text;
    condition += ")";
  }
  return condition;
}

void TOrvelDataset::ApplyMasterCondition() {
  if (!Active()) return;
  RebuildVisibleList();
}

void TOrvelDataset::EnsureFilterParsed() {
  if (filter_parsed_ && parsed_filter_ == Filter() && parsed_filter_options_ == FilterOptions())
    return;
  filter_parsed_ = false;
  filter_parser_->SetExpression(Filter(), FilterOptions());
  parsed_filter_ = Filter();
  parsed_filter_options_ = FilterOptions();
  filter_parsed_ = true;
}

void TOrvelDataset::BuildConditionBits(TBitsArray& bits) {
  const int32_t count = dm_->RecordCount();
  bool have = false;
  master_condition_.clear();
  if (MasterConditionUsable()) {
    master_condition_ = BuildMasterCondition();
    master_parser_->SetExpression(master_condition_, 0);
    bits = master_parser_->Parse();
    have = true;
  }
  if (Filtered() && !Trim(Filter()).empty()) {
    EnsureFilterParsed();
    const TBitsArray& filter_bits = filter_parser_->Parse();
    if (have)
      bits.And(filter_bits);
    else
      bits = filter_bits;
    have = true;
  }
  if (!have) {
    bits.SetCount(count);
    bits.Fill(1);
  }
}

void TOrvelDataset::ApplyRangeBits(TBitsArray& bits) {
  if (!range_active_ || IndexFieldCount() == 0) return;
  TOrvelIndexList& indexes = dm_->Indexes();
  if (!indexes.IsValid(current_index_)) indexes.BuildIndex(current_index_, false);
  const TmvIntArray& order = indexes.Array(current_index_);
  const IndexHeaderType& header = indexes.Header(current_index_);
  const auto& table = dm_->Table();
  int32_t low = 0;
  int32_t high = order.Count();
  if (KeyModified(kiRangeStart)) {
    TIndexKeyComparer comparer(PrefixHeader(header, KeyFieldCount(kiRangeStart)), table.Fields(),
                               table.Geometry());
    const uint8_t* key = KeyBuffer(kiRangeStart);
    low = static_cast<int32_t>(
        std::partition_point(
            order.begin(), order.end(),
            [&](int32_t record) { return comparer.Compare(dm_->GetRecordPtr(record), key) < 0; }) -
        order.begin());
  }
  if (KeyModified(kiRangeEnd)) {
    TIndexKeyComparer comparer(PrefixHeader(header, KeyFieldCount(kiRangeEnd)), table.Fields(),
                               table.Geometry());
    const uint8_t* key = KeyBuffer(kiRangeEnd);
    high = static_cast<int32_t>(
        std::partition_point(
            order.begin(), order.end(),
            [&](int32_t record) { return comparer.Compare(dm_->GetRecordPtr(record), key) <= 0; }) -
        order.begin());
  }
  for (int32_t p = 0; p < order.Count(); ++p)
    if (p < low || p >= high) bits.Set(order[p], 0);
}

bool TOrvelDataset::InRange(const uint8_t* image) {
  if (!range_active_ || IndexFieldCount() == 0) return true;
  const IndexHeaderType& header = dm_->Indexes().Header(current_index_);
  const auto& table = dm_->Table();
  if (KeyModified(kiRangeStart)) {
    TIndexKeyComparer comparer(PrefixHeader(header, KeyFieldCount(kiRangeStart)), table.Fields(),
                               table.Geometry());
    if (comparer.Compare(image, KeyBuffer(kiRangeStart)) < 0) return false;
  }
  if (KeyModified(kiRangeEnd)) {
    TIndexKeyComparer comparer(PrefixHeader(header, KeyFieldCount(kiRangeEnd)), table.Fields(),
                               table.Geometry());
    if (comparer.Compare(image, KeyBuffer(kiRangeEnd)) > 0) return false;
  }
  return true;
}

bool TOrvelDataset::ExpressionAccepts(const uint8_t* image) {
  if (!expression_filter_) return true;
  sql_record_copy_.assign(image, image + RecordImageSize());
  const uint8_t* saved = testing_image_;
  testing_image_ = sql_record_copy_.data();
  TOrvValue result;
  try {
    expression_filter_(result);
  } catch (...) {
    testing_image_ = saved;
    throw;
  }
  testing_image_ = saved;
  if (result.IsNull()) return false;
  if (result.DataType() != ftBoolean)
    throw EOrvException::Fmt(1071, Name(), static_cast<int>(result.DataType()));
  return result.AsBoolean();
}

void TOrvelDataset::ApplyExpressionBits(TBitsArray& bits) {
  if (!expression_filter_) return;
  for (int32_t r = 0; r < bits.Count(); ++r)
    if (bits.IsSet(r) && !ExpressionAccepts(dm_->GetRecordPtr(r))) bits.Set(r, 0);
}

int32_t TOrvelDataset::FindDistinctIndex() {
  const std::vector<std::string> wanted = SplitFieldList(distinct_fields_);
  const TOrvelTableFiles& table = dm_->Table();
  std::vector<int32_t> numbers;
  for (const std::string& name : wanted) numbers.push_back(table.InternalGetFieldNo(name, true));
  TOrvelIndexList& indexes = dm_->Indexes();
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    const IndexHeaderType& header = indexes.Header(i);
    if (header.FieldNumbers != numbers || header.CaseInsensitiveAll || header.DescendingAll)
      continue;
    bool plain = true;
    for (int32_t j = 0; j < header.FieldCount(); ++j)
      plain = plain && header.Ascending(j) && !header.CaseInsensitive(j);
    if (plain) return i;
  }
  return -1;
}

void TOrvelDataset::ApplyDistinctBits(TBitsArray& bits) {
  if (distinct_fields_.empty()) return;
  if (distinct_index_ < 0 || distinct_index_ >= dm_->Indexes().Count()) {
    distinct_index_ = FindDistinctIndex();
    if (distinct_index_ < 0) {
      dm_->Indexes().AddTemporaryIndex(distinct_fields_, "", "");
      distinct_index_ = FindDistinctIndex();
    }
    if (distinct_index_ < 0) throw EOrvException::Fmt(32, Name(), table_name_, distinct_fields_);
  }
  TOrvelIndexList& indexes = dm_->Indexes();
  if (!indexes.IsValid(distinct_index_)) indexes.BuildIndex(distinct_index_, false);
  const auto& table = dm_->Table();
  TIndexKeyComparer comparer(indexes.Header(distinct_index_), table.Fields(), table.Geometry());
  std::vector<uint8_t> last;
  bool have_last = false;
  for (int32_t record : indexes.Array(distinct_index_)) {
    if (!bits.IsSet(record)) continue;
    const uint8_t* image = dm_->GetRecordPtr(record);
    if (have_last && comparer.Compare(image, last.data()) == 0) {
      bits.Set(record, 0);
      continue;
    }
    last.assign(image, image + RecordImageSize());
    have_last = true;
  }
}

void TOrvelDataset::RebuildVisibleList() {
  if (hold_count_ > 0 || !cursor_open_ || dm_ == nullptr) return;
  const int32_t remembered = position_ >= 0 && position_ < visible_.Count() ? position_id_ : -1;
  visible_.Clear();
  position_ = -1;
  TBitsArray bits;
  BuildConditionBits(bits);
  ApplyRangeBits(bits);
  ApplyExpressionBits(bits);
  ApplyDistinctBits(bits);
  TOrvelIndexList& indexes = dm_->Indexes();
  auto take = [&](int32_t record, int32_t& ordinal) {
    if (max_count_ >= 0 && visible_.Count() >= max_count_) return false;
    if (!bits.IsSet(record)) return true;
    ++ordinal;
    if (first_ordinal_ < 0 || ordinal >= first_ordinal_) visible_.Append(record);
    return true;
  };
  int32_t ordinal = 0;
  if (current_index_ >= 0 && current_index_ < indexes.Count()) {
    if (!indexes.IsValid(current_index_)) indexes.BuildIndex(current_index_, false);
    for (int32_t record : indexes.Array(current_index_))
      if (!take(record, ordinal)) break;
  } else {
    for (int32_t record = 0; record < bits.Count(); ++record)
      if (!take(record, ordinal)) break;
  }
  if (remembered >= 0) {
    const int32_t record = PhysicalOfIdentifier(remembered);
    position_ = record >= 0 ? visible_.IndexOf(record) : -1;
  }
  position_id_ = position_ >= 0 ? remembered : -1;
  seen_change_counter_ = dm_->Table().Header().ChangeCounter;
  list_built_ = true;
  found_stale_ = true;
}

void TOrvelDataset::WithFilterBuffer(TRecordBuffer buffer, const std::function<void()>& work) {
  TRecordBuffer saved = filter_buffer_;
  filter_buffer_ = buffer;
  const TDataSetState state = SetTempState(dsFilter);
  try {
    work();
  } catch (...) {
    RestoreState(state);
    filter_buffer_ = saved;
    throw;
  }
  RestoreState(state);
  filter_buffer_ = saved;
}

bool TOrvelDataset::PassesFilterEvent(TRecordBuffer buffer) {
  if (!Filtered() || !OnFilterRecord()) return true;
  bool accept = true;
  WithFilterBuffer(buffer, [&] { OnFilterRecord()(this, accept); });
  return accept;
}

bool TOrvelDataset::IsRecordVisible(const uint8_t* image, bool use_filter_event) {
  if (MasterConditionUsable()) {
    const std::string condition = BuildMasterCondition();
    if (condition != master_parser_->Expression()) master_parser_->SetExpression(condition, 0);
    if (!master_parser_->MatchesRecord(image)) return false;
  }
  if (!InRange(image)) return false;
  if (Filtered() && !Trim(Filter()).empty()) {
    EnsureFilterParsed();
    if (!filter_parser_->MatchesRecord(image)) return false;
  }
  if (!ExpressionAccepts(image)) return false;
  if (use_filter_event && Filtered() && OnFilterRecord()) {
    std::vector<uint8_t> buffer(static_cast<size_t>(GetRecordSize()), 0);
    std::memcpy(buffer.data(), image, static_cast<size_t>(RecordImageSize()));
    return PassesFilterEvent(buffer.data());
  }
  return true;
}

int32_t TOrvelDataset::VisiblePositionOf(int32_t record_no) const {
  return record_no < 0 ? -1 : visible_.IndexOf(record_no);
}

int32_t TOrvelDataset::PhysicalOfIdentifier(int32_t identifier) {
  if (dm_ == nullptr) return -1;
  TOrvelIndexList& indexes = dm_->Indexes();
  const auto& table = dm_->Table();
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    const IndexHeaderType& header = indexes.Header(i);
    if (header.FieldCount() != 1 || header.FieldNumbers[0] != kIdentifierFieldNo) continue;
    if (!indexes.IsValid(i)) indexes.BuildIndex(i, false);
    std::vector<uint8_t> key(static_cast<size_t>(RecordImageSize()), 0);
    StoreI32(key.data() + table.Geometry().IdentifierOffset(), identifier);
    const TmvIntArray& order = indexes.Array(i);
    const int32_t position = indexes.FindInsertPosition(i, key.data(), order.Count());
    for (int32_t p = std::max(position - 1, 0); p <= position + 1 && p < order.Count(); ++p)
      if (IdentifierOf(dm_->GetRecordPtr(order[p])) == identifier) return order[p];
    return -1;
  }
  for (int32_t record = 0; record < dm_->RecordCount(); ++record)
    if (IdentifierOf(dm_->GetRecordPtr(record)) == identifier) return record;
  return -1;
}

int32_t TOrvelDataset::SortedVisiblePosition(const uint8_t* image, int32_t skip_record) {
  if (IndexFieldCount() == 0) return visible_.Count();
  const auto& table = dm_->Table();
  TIndexKeyComparer comparer(dm_->Indexes().Header(current_index_), table.Fields(),
                             table.Geometry());
  const auto id = static_cast<uint32_t>(IdentifierOf(image));
  std::vector<int32_t> others;
  others.reserve(static_cast<size_t>(visible_.Count()));
  for (int32_t record : visible_)
    if (record != skip_record) others.push_back(record);
  auto before = [&](int32_t record) {
    const uint8_t* other = dm_->GetRecordPtr(record);
    const int c = comparer.Compare(other, image);
    if (c != 0) return c < 0;
    return static_cast<uint32_t>(IdentifierOf(other)) < id;
  };
  return static_cast<int32_t>(std::partition_point(others.begin(), others.end(), before) -
                              others.begin());
}

void TOrvelDataset::PlaceAfterChange(const uint8_t* image, int32_t record_no,
                                     int32_t index_position, bool inserted) {
  const int32_t old_position = inserted ? -1 : VisiblePositionOf(record_no);
  if (!ConditionInForce()) {
    if (inserted) {
      // An index that was not kept in step answers no position; search for it instead.
      const int32_t at = index_position < 0 ? SortedVisiblePosition(image, record_no)
                                            : std::min(index_position, visible_.Count());
      visible_.Insert(at, record_no);
      position_ = at;
    } else if (old_position >= 0) {
      int32_t to = index_position < 0              ? SortedVisiblePosition(image, record_no)
                   : index_position > old_position ? index_position - 1
                                                   : index_position;
      to = std::clamp(to, 0, visible_.Count() - 1);
      visible_.Move(old_position, to);
      position_ = to;
    }
  } else if (IsRecordVisible(image, false)) {
    if (old_position >= 0) visible_.Delete(old_position);
    const int32_t at = SortedVisiblePosition(image, record_no);
    visible_.Insert(at, record_no);
    position_ = at;
  } else if (old_position >= 0) {
    visible_.Delete(old_position);
    position_ = std::min(old_position, visible_.Count() - 1);
  }
  position_id_ = position_ >= 0 && position_ < visible_.Count()
                     ? IdentifierOf(dm_->GetRecordPtr(visible_[position_]))
                     : -1;
  found_stale_ = true;
}

}  // namespace orv
