#include <cstring>
#include <memory>

#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_dataset.h"
#include "engine/components/orvel_dataset_internal.h"
#include "engine/storage/engine_arrays.h"
#include "engine/storage/search_parser.h"
#include "engine/storage/search_records.h"
#include "platform/value_text.h"

namespace orv {

using namespace dataset_internal;

void TOrvelDataset::Refilter() {
  TSessionScope lock(*this);
  CheckBrowseMode();
  filter_parsed_ = false;
  RebuildVisibleList();
  First();
}

void TOrvelDataset::SetFiltered(bool filtered) {
  TDataSet::SetFiltered(filtered);
  if (Active()) Refilter();
}

void TOrvelDataset::SetFilterOptions(TFilterOptions options) {
  TDataSet::SetFilterOptions(options);
  if (Active() && Filtered()) Refilter();
}

void TOrvelDataset::SetFilterText(std::string text) {
  TDataSet::SetFilterText(std::move(text));
  found_records_.clear();
  found_cursor_ = -1;
  if (Active() && Filtered()) Refilter();
}

TLocateScope TOrvelDataset::MakeLocateScope() {
  TLocateScope scope;
  scope.Visible = visible_.Items();
  scope.CurrentIndex = current_index_;
  // Under a condition the locate may meet records that are not in the list; one pass over the
  // list marks the ones that are, so each candidate is tested in constant time.
  if (ConditionInForce() && dm_ != nullptr) {
    auto visible = std::make_shared<TBitsArray>(dm_->RecordCount());
    for (int32_t record : visible_)
      if (record >= 0 && record < visible->Count()) visible->Set(record, 1);
    scope.IsVisible = [visible](int32_t record_no) {
      return record_no >= 0 && record_no < visible->Count() && visible->IsSet(record_no);
    };
  }
  return scope;
}

bool TOrvelDataset::CollectFound(bool restart, bool go_forward) {
  if (restart) {
    std::string text = Filter();
    uint8_t options = FilterOptions();
    const bool wildcard = text.size() >= 2 && text[text.size() - 2] == '*';
    if (!(options & foNoPartialCompare) && !wildcard) options |= foNoPartialCompare;
    find_parser_->SetExpression(text, options);
  }
  if (restart || found_stale_) {
    const TBitsArray& bits = find_parser_->Parse();
    const int32_t previous =
        found_cursor_ >= 0 && static_cast<size_t>(found_cursor_) < found_records_.size()
            ? found_records_[static_cast<size_t>(found_cursor_)]
            : -1;
    found_records_.clear();
    for (int32_t record : visible_)
      if (bits.IsSet(record)) found_records_.push_back(record);
    found_stale_ = false;
    found_cursor_ = -1;
    // Keep the cursor on the same record, else within the array.
    for (size_t i = 0; previous >= 0 && i < found_records_.size(); ++i)
      if (found_records_[i] == previous) found_cursor_ = static_cast<int32_t>(i);
  }
  const auto count = static_cast<int32_t>(found_records_.size());
  if (restart) {
    found_cursor_ = go_forward ? 0 : count - 1;
  } else {
    if (found_cursor_ < 0 && !go_forward) return false;
    found_cursor_ += go_forward ? 1 : -1;
  }
  while (found_cursor_ >= 0 && found_cursor_ < count &&
         VisiblePositionOf(found_records_[static_cast<size_t>(found_cursor_)]) < 0)
    found_cursor_ += go_forward ? 1 : -1;
  if (found_cursor_ < 0 || found_cursor_ >= count) {
    found_cursor_ = std::clamp(found_cursor_, -1, count);
    return false;
  }
  return true;
}

bool TOrvelDataset::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  CheckActive();
  TSessionScope lock(*this);
  RebuildIfStale();
  bool found = false;
  if (Trim(Filter()).empty() || (bde_like_filter_ && !Filtered())) {
    if (restart) {
      go_forward ? First() : Last();
    } else {
      go_forward ? Next() : Prior();
    }
    found = go_forward ? !Eof() : !Bof();
    SetFound(found);
    return found;
  }
  found = CollectFound(restart, go_forward);
  SetFound(found);
  if (found) SetTablePositionByPhysRecNo(found_records_[static_cast<size_t>(found_cursor_)]);
  return found;
}

bool TOrvelDataset::Locate(std::string_view key_fields, const Variant& key_values,
                           TLocateOptions options) {
  CheckBrowseMode();
  CheckActive();
  TSessionScope lock(*this);
  RebuildIfStale();
  uint8_t mode = 0;
  if (options & loCaseInsensitive) mode |= kSearchCaseInsensitive;
  if (!(options & loPartialKey)) mode |= kSearchNoPartial;
  const TLocateScope scope = MakeLocateScope();
  const int32_t record = search_->PrepareAndLocate(key_fields, key_values, mode, soEqual, scope);
  SetFound(record >= 0);
  if (record < 0) return false;
  SetTablePositionByPhysRecNo(record);
  return true;
}

Variant TOrvelDataset::Lookup(std::string_view key_fields, const Variant& key_values,
                              std::string_view result_fields) {
  CheckBrowseMode();
  CheckActive();
  TSessionScope lock(*this);
  RebuildIfStale();
  const TLocateScope scope = MakeLocateScope();
  const int32_t record =
      search_->PrepareAndLocate(key_fields, key_values, kSearchNoPartial, soEqual, scope);
  if (record < 0) return Variant::Null();
  const std::vector<std::string> names = SplitFieldList(result_fields);
  std::vector<TField*> fields;
  for (const std::string& name : names) fields.push_back(FieldByName(name));
  // The found record is read in a scratch buffer, so the cursor and the controls stay where
  // they were.
  std::vector<uint8_t> buffer(static_cast<size_t>(GetRecordSize()), 0);
  std::memcpy(buffer.data(), dm_->GetRecordPtr(record), static_cast<size_t>(RecordImageSize()));
  GetCalcFields(buffer.data());
  Variant result;
  WithFilterBuffer(buffer.data(), [&] {
    if (fields.size() == 1) {
      result = fields[0]->Value();
      return;
    }
    std::vector<Variant> values;
    for (TField* field : fields) values.push_back(field->Value());
    result = Variant::ArrayOf(std::move(values));
  });
  return result;
}

}  // namespace orv
