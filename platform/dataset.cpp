#include "platform/dataset.h"

#include <fmt/format.h>

#include <algorithm>
#include <cassert>
#include <cstring>

#include "platform/data_link.h"
#include "platform/data_source.h"
#include "platform/list_index.h"
#include "platform/streams.h"
#include "platform/time_stamp.h"
#include "platform/value_text.h"

namespace orv {
namespace {

// Runs body, then final, also when body raises.
template <typename Body, typename Final>
void TryFinally(Body body, Final final) {
  try {
    body();
  } catch (...) {
    final();
    throw;
  }
  final();
}

bool IsEditing(TDataSetState state) {
  return state == dsEdit || state == dsInsert;
}

}  // namespace

std::string ExtractFieldName(std::string_view fields, size_t* pos) {
  size_t start = std::min(*pos, fields.size());
  size_t end = fields.find(';', start);
  if (end == std::string_view::npos) end = fields.size();
  *pos = end < fields.size() ? end + 1 : end;
  return Trim(fields.substr(start, end - start));
}

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), fields_(this), field_defs_(this) {}

TDataSet::~TDataSet() {
  Destroying();
  // A subclass closes in its own destructor; the buffers need its FreeRecordBuffer.
  assert(!Active() && buffers_.empty());
  while (!data_sources_.empty()) RemoveDataSource(data_sources_.back());
  fields_.Clear();
}

void TDataSet::CheckActive() const {
  if (state_ == dsInactive)
    DatabaseError("Cannot perform this operation on a closed dataset", this);
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) DatabaseError("Cannot perform this operation on an open dataset", this);
}

void TDataSet::SetActive(bool active) {
  if (ComponentState() & csReading) {
    streamed_active_ = active;
    return;
  }
  if (Active() == active) return;
  if (active) {
    Fire(BeforeOpen);
    try {
      OpenCursor(false);
    } catch (...) {
      internal_open_complete_ = false;
      OpenCursorComplete();
      throw;
    }
    OpenCursorComplete();
  } else {
    if (!IsDestroying()) Fire(BeforeClose);
    SetState(dsInactive);
    CloseCursor();
    if (!IsDestroying()) Fire(AfterClose);
  }
}

void TDataSet::OpenCursorComplete() {
  if (internal_open_complete_) {
    SetState(dsBrowse);
    Fire(AfterOpen);
    if (!IsEmpty()) DoAfterScroll();
    return;
  }
  // A half-opened cursor is closed again; the error that stopped the open is the one to report.
  SetState(dsInactive);
  try {
    CloseCursor();
  } catch (...) {
  }
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query)
    InternalInitFieldDefs();
  else
    DoInternalOpen();
}

void TDataSet::DoInternalOpen() {
  default_fields_ = FieldCount() == 0;
  InternalOpen();
  internal_open_complete_ = true;
  UpdateBufferCount();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  internal_open_complete_ = false;
  FreeFieldBuffers();
  ClearBuffers();
  SetBufListSize(0);
  buffer_count_ = 0;
  TryFinally([&] { InternalClose(); }, [&] { default_fields_ = false; });
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  TryFinally([&] { OpenCursor(true); }, [&] { CloseCursor(); });
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (!streamed_active_) return;
  try {
    SetActive(true);
  } catch (...) {
    if (!IsDesigning()) throw;
    InternalHandleException();
  }
}

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen()) return;
  int count = 1;
  for (TDataSource* source : data_sources_)
    for (TDataLink* link : source->links_) count = std::max(count, link->BufferCount());
  SetBufferCount(count);
}

void TDataSet::SetBufferCount(int count) {
  if (count == buffer_count_) return;
  auto adjust_first_records = [&](int delta) {
    if (delta == 0) return;
    for (TDataSource* source : data_sources_)
      for (TDataLink* link : source->links_)
        if (link->Active()) link->first_record_ += delta;
  };
  if (buffer_count_ > count && record_count_ > 0) {
    // Keep the records the links still show: drop from the front as few as possible.
    int delta = active_record_;
    for (TDataSource* source : data_sources_)
      for (TDataLink* link : source->links_)
        if (link->Active() && link->first_record_ < delta) delta = link->first_record_;
    for (int i = 0; i < count; ++i) MoveBuffer(i + delta, i);
    active_record_ -= delta;
    if (current_record_ != -1) current_record_ -= delta;
    record_count_ = std::min(record_count_, count);
    active_record_ = std::min(active_record_, record_count_ - 1);
    adjust_first_records(-delta);
  }
  SetBufListSize(count + 1);
  buffer_count_ = count;
  GetNextRecords();
  adjust_first_records(GetPriorRecords());
}

void TDataSet::SetBufListSize(int size) {
  auto target = static_cast<size_t>(size);
  if (buffers_.size() > target) {
    for (size_t i = target; i < buffers_.size(); ++i) FreeRecordBuffer(buffers_[i]);
    buffers_.resize(target);
    return;
  }
  buffers_.reserve(target);
  while (buffers_.size() < target) buffers_.push_back(AllocRecordBuffer());
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  auto begin = buffers_.begin();
  if (from < to)
    std::rotate(begin + from, begin + from + 1, begin + to + 1);
  else
    std::rotate(begin + to, begin + from, begin + from + 1);
}

void TDataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  TRecordBuffer buffer = buffers_[static_cast<size_t>(index)];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  current_record_ = index;
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (record_count_ > 0) {
    SetCurrentRecord(record_count_ - 1);
    if (state_ == dsInsert && current_record_ == active_record_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  bool ok = GetRecord(buffers_[static_cast<size_t>(record_count_)], mode, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0)
    ActivateBuffers();
  else if (record_count_ < buffer_count_)
    ++record_count_;
  else
    MoveBuffer(0, record_count_);
  current_record_ = record_count_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  bool ok = GetRecord(buffers_[static_cast<size_t>(record_count_)], gmPrior, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(record_count_, 0);
    if (record_count_ < buffer_count_) {
      ++record_count_;
      ++active_record_;
    }
  }
  current_record_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int count = 0;
  while (record_count_ < buffer_count_ && GetNextRecord()) ++count;
  return count;
}

int TDataSet::GetPriorRecords() {
  int count = 0;
  while (record_count_ < buffer_count_ && GetPriorRecord()) ++count;
  return count;
}

TRecordBuffer TDataSet::ActiveBuffer() const {
  if (static_cast<size_t>(active_record_) >= buffers_.size()) return nullptr;
  return buffers_[static_cast<size_t>(active_record_)];
}

TRecordBuffer TDataSet::Buffer(int index) const {
  CheckListIndex(index, buffers_.size());
  return buffers_[static_cast<size_t>(index)];
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  TryFinally(
      [&] {
        InternalFirst();
        GetNextRecord();
        GetNextRecords();
      },
      [&] {
        bof_ = true;
        DataEvent(deDataSetChange, 0);
        DoAfterScroll();
      });
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  TryFinally(
      [&] {
        InternalLast();
        GetPriorRecord();
        GetPriorRecords();
      },
      [&] {
        eof_ = true;
        DataEvent(deDataSetChange, 0);
        DoAfterScroll();
      });
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    int scroll = 0;
    TryFinally(
        [&] {
          for (; distance > 0; --distance, ++moved) {
            if (active_record_ < record_count_ - 1) {
              ++active_record_;
              continue;
            }
            int shift = record_count_ < buffer_count_ ? 0 : 1;
            if (!GetNextRecord()) {
              eof_ = true;
              break;
            }
            scroll -= shift;
          }
          for (; distance < 0; ++distance, --moved) {
            if (active_record_ > 0) {
              --active_record_;
              continue;
            }
            int shift = record_count_ < buffer_count_ ? 0 : 1;
            if (!GetPriorRecord()) {
              bof_ = true;
              break;
            }
            scroll += shift;
          }
        },
        [&] {
          DataEvent(deDataSetScroll, scroll);
          DoAfterScroll();
        });
  }
  return moved;
}

void TDataSet::Resync(TResyncMode mode) {
  if (buffers_.empty()) return;  // no cursor yet
  TRecordBuffer spare = buffers_[static_cast<size_t>(record_count_)];
  if (mode & rmExact) {
    CursorPosChanged();
    if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError("Record not found", this);
  } else if (GetRecord(spare, gmCurrent, false) != grOK &&
             GetRecord(spare, gmNext, false) != grOK && GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int count = (mode & rmCenter) ? (buffer_count_ - 1) / 2 : active_record_;
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  TryFinally(
      [&] {
        while (count > 0 && GetPriorRecord()) --count;
        GetNextRecords();
        GetPriorRecords();
      },
      [&] { DataEvent(deDataSetChange, 0); });
}

void TDataSet::Refresh() {
  Fire(BeforeRefresh);
  CheckBrowseMode();
  UpdateCursorPos();
  TryFinally([&] { InternalRefresh(); }, [&] { Resync(0); });
  Fire(AfterRefresh);
}

void TDataSet::CheckCanModify() {
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset", this);
}

void TDataSet::Edit() {
  if (IsEditing(state_)) return;
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit);
  UpdateCursorPos();
  InternalEdit();
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  Fire(AfterEdit);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert);
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(0);
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  Fire(AfterInsert);
  DoAfterScroll();
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmark current = Bookmark();
  MoveBuffer(record_count_, active_record_);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (record_count_ == 0)
    SetBookmarkFlag(buffer, bfBOF);
  else if (!current.empty())
    SetBookmarkData(buffer, current.data());
  if (record_count_ < buffer_count_) ++record_count_;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  record_count_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::UpdateRecord() {
  if (!IsEditing(state_) && state_ != dsSetKey)
    DatabaseError("Dataset not in edit or insert mode", this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::Post() {
  UpdateRecord();
  if (!IsEditing(state_)) return;
  DataEvent(deCheckBrowseMode, 0);
  Fire(BeforePost);
  UpdateCursorPos();
  InternalPost();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterPost);
}

void TDataSet::InternalPost() {
  for (int i = 0; i < fields_.Count(); ++i) {
    TField* field = fields_[i];
    if (field->Required() && !field->ReadOnly() && field->FieldKind() == fkData && field->IsNull())
      DatabaseError(fmt::format("Field '{}' must have a value", field->FieldName()));
  }
}

void TDataSet::Cancel() {
  if (!IsEditing(state_)) return;
  DataEvent(deCheckBrowseMode, 0);
  Fire(BeforeCancel);
  bool scroll_events = state_ == dsInsert;
  if (scroll_events) DoBeforeScroll();
  UpdateCursorPos();
  InternalCancel();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterCancel);
  if (scroll_events) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (record_count_ == 0) DatabaseError("Cannot perform this operation on an empty dataset", this);
  DataEvent(deCheckBrowseMode, 0);
  Fire(BeforeDelete);
  DoBeforeScroll();
  UpdateCursorPos();
  InternalDelete();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterDelete);
  DoAfterScroll();
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  if (IsEditing(state_)) {
    UpdateRecord();
    if (modified_)
      Post();
    else
      Cancel();
  } else if (state_ == dsSetKey) {
    Post();
  }
}

void TDataSet::DoOnNewRecord() {
  Fire(OnNewRecord);
}

void TDataSet::FreeFieldBuffers() {
  for (int i = 0; i < fields_.Count(); ++i) fields_[i]->FreeBuffers();
}

void TDataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    enable_event_ = deDataSetChange;
  }
  ++disable_count_;
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ != 0) return;
  if (disable_state_ != state_) DataEvent(deUpdateState, 0);
  if (disable_state_ != dsInactive && state_ != dsInactive) DataEvent(enable_event_, 0);
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  bool notify = !(ControlsDisabled() || state_ == dsBlockRead);
  switch (event) {
    case deFieldChange: {
      auto* field = reinterpret_cast<TField*>(info);
      if (field && (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc))
        modified_ = true;
      if (state_ != dsSetKey && calc_fields_size_ > 0 && auto_calc_fields_ && field &&
          field->FieldKind() == fkData)
        CalculateFields(ActiveBuffer());
      break;
    }
    case deLayoutChange:
      if (ControlsDisabled()) enable_event_ = deLayoutChange;
      break;
    case deUpdateState:
      if (ControlsDisabled()) {
        event = deDisabledStateChange;
        info = state_ != dsInactive;
        notify = true;
        enable_event_ = deLayoutChange;
      }
      break;
    default:
      break;
  }
  if (!notify) return;
  // A source may leave while it passes the event on.
  for (size_t i = 0; i < data_sources_.size(); ++i) data_sources_[i]->DataEvent(event, info);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  TDataSetState saved = state_;
  state_ = state;
  ++disable_count_;
  return saved;
}

void TDataSet::RestoreState(TDataSetState state) {
  state_ = state;
  --disable_count_;
}

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(deUpdateState, 0);
}

bool TDataSet::BookmarkAvailable() {
  return (state_ == dsBrowse || IsEditing(state_)) && !IsEmpty() && bookmark_size_ > 0 &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::Bookmark() {
  if (!BookmarkAvailable()) return {};
  TBookmark bookmark(static_cast<size_t>(bookmark_size_));
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  if (bookmark.size() != static_cast<size_t>(bookmark_size_))
    DatabaseError("Record not found", this);
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (!Active() || bookmark_size_ <= 0 || bookmark.size() != static_cast<size_t>(bookmark_size_))
    return false;
  return InternalBookmarkValid(bookmark.data());
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  auto usable = [&](const TBookmark& bookmark) {
    return bookmark_size_ > 0 && bookmark.size() == static_cast<size_t>(bookmark_size_);
  };
  bool has_a = usable(a), has_b = usable(b);
  if (!has_a || !has_b) return has_a == has_b ? 0 : (has_a ? -1 : 1);
  int result = InternalCompareBookmarks(a.data(), b.data());
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

std::vector<TField*> TDataSet::GetFieldList(std::string_view field_names) const {
  std::vector<TField*> list;
  size_t pos = 0;
  while (pos < field_names.size()) list.push_back(FieldByName(ExtractFieldName(field_names, &pos)));
  return list;
}

Variant TDataSet::FieldValues(std::string_view field_names) const {
  std::vector<TField*> list = GetFieldList(field_names);
  if (list.size() == 1 && field_names.find(';') == std::string_view::npos) return list[0]->Value();
  std::vector<Variant> values;
  values.reserve(list.size());
  for (TField* field : list) values.push_back(field->Value());
  return Variant::ArrayOf(std::move(values));
}

void TDataSet::SetFieldValues(std::string_view field_names, const Variant& values) {
  std::vector<TField*> list = GetFieldList(field_names);
  if (list.size() == 1 && !values.IsArray()) {
    list[0]->SetValue(values);
    return;
  }
  if (!values.IsArray() || values.ArrayCount() != static_cast<int>(list.size()))
    throw EVariantError("Variant array index out of bounds");
  for (size_t i = 0; i < list.size(); ++i) list[i]->SetValue(values.ArrayItem(static_cast<int>(i)));
}

TField* TDataSet::CreateFieldOfType(TFieldType type, TComponent* owner) {
  return orv::CreateFieldOfType(type, owner);
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i)
    if (field_defs_[i]->DataType() != ftUnknown) field_defs_[i]->CreateField(this);
}

void TDataSet::DestroyFields() {
  fields_.Clear();
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  int blob_count = 0;
  for (int i = 0; i < fields_.Count(); ++i) {
    TField* field = fields_[i];
    if (!binding) {
      field->field_no_ = 0;
      continue;
    }
    if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
      field->field_no_ = -1;
      field->offset_ = calc_fields_size_;
      calc_fields_size_ += field->DataSize() + 1;
      if (field->FieldKind() == fkLookup) {
        if (!field->LookupDataSet() || field->KeyFields().empty() ||
            field->LookupKeyFields().empty() || field->LookupResultField().empty())
          DatabaseError(
              fmt::format("Lookup information for field '{}' is incomplete", field->FieldName()),
              this);
        GetFieldList(field->KeyFields());
      }
      continue;
    }
    int index = field_defs_.IndexOf(field->FieldName());
    if (index < 0) DatabaseError(fmt::format("Field '{}' not found", field->FieldName()), this);
    const TFieldDef* def = field_defs_[index];
    auto same_kind = [](TFieldType a, TFieldType b) {
      auto norm = [](TFieldType t) {
        return t == ftFixedChar ? ftString : (t == ftAutoInc ? ftInteger : t);
      };
      return norm(a) == norm(b);
    };
    if (!same_kind(field->DataType(), def->DataType()))
      DatabaseError(
          fmt::format("Type mismatch for field '{}', expecting: {} actual: {}", field->FieldName(),
                      FieldTypeName(field->DataType()), FieldTypeName(def->DataType())),
          this);
    TFieldType type = def->DataType();
    // The record layout follows FieldDefs; a field that expects another size would read or
    // write past its value.
    if ((type == ftString || type == ftFixedChar || type == ftWideString || type == ftBytes) &&
        field->Size() != def->Size())
      DatabaseError(fmt::format("Size mismatch for field '{}', expecting: {} actual: {}",
                                field->FieldName(), field->Size(), def->Size()),
                    this);
    field->field_no_ = index + 1;
    if (field->IsBlob()) {
      field->size_ = def->Size();
      field->offset_ = blob_count++;
    }
  }
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_fields_size_ > 0) CalculateFields(buffer);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  calc_buffer_ = buffer;
  if (state_ == dsInternalCalc) return;
  TDataSetState saved = SetTempState(dsCalcFields);
  TryFinally(
      [&] {
        ClearCalcFields(buffer);
        for (int i = 0; i < fields_.Count(); ++i)
          if (fields_[i]->FieldKind() == fkLookup) CalcLookupValue(fields_[i]);
        Fire(OnCalcFields);
      },
      [&] { RestoreState(saved); });
}

void TDataSet::CalcLookupValue(TField* field) {
  TDataSet* lookup = field->LookupDataSet();
  if (!lookup || !lookup->Active()) return;
  field->SetValue(lookup->Lookup(field->LookupKeyFields(), FieldValues(field->KeyFields()),
                                 field->LookupResultField()));
}

void TDataSet::DataConvert(TField* field, const void* source, void* dest, bool to_native) {
  auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(dest);
  switch (field->DataType()) {
    case ftDate:
    case ftTime:
    case ftDateTime: {
      if (to_native) {
        TDateTime value;
        std::memcpy(&value, in, sizeof value);
        TTimeStamp stamp = DateTimeToTimeStamp(value);
        if (field->DataType() == ftDateTime) {
          double msecs = TimeStampToMSecs(stamp);
          std::memcpy(out, &msecs, sizeof msecs);
        } else {
          int32_t part = field->DataType() == ftDate ? stamp.date : stamp.time;
          std::memcpy(out, &part, sizeof part);
        }
        return;
      }
      TTimeStamp stamp;
      if (field->DataType() == ftDateTime) {
        double msecs;
        std::memcpy(&msecs, in, sizeof msecs);
        stamp = MSecsToTimeStamp(msecs);
      } else if (field->DataType() == ftDate) {
        std::memcpy(&stamp.date, in, sizeof stamp.date);
      } else {
        std::memcpy(&stamp.time, in, sizeof stamp.time);
        stamp.date = kDateDelta;
      }
      TDateTime value = TimeStampToDateTime(stamp);
      std::memcpy(out, &value, sizeof value);
      return;
    }
    case ftWideString: {
      const size_t max_units = static_cast<size_t>(field->Size()) / 2;
      if (to_native) {
        const auto& text = *static_cast<const std::u16string*>(source);
        size_t units = std::min(text.size(), max_units);
        std::memcpy(out, text.data(), units * 2);
        std::memset(out + units * 2, 0, 2);
        return;
      }
      auto& text = *static_cast<std::u16string*>(dest);
      text.clear();
      for (size_t i = 0; i < max_units; ++i) {
        char16_t unit;
        std::memcpy(&unit, in + i * 2, 2);
        if (unit == 0) break;
        text += unit;
      }
      return;
    }
    default:
      std::memcpy(out, in, static_cast<size_t>(field->DataSize()));
      return;
  }
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) {
  return nullptr;
}

bool TDataSet::Locate(std::string_view, const Variant&, TLocateOptions) {
  return false;
}

Variant TDataSet::Lookup(std::string_view, const Variant&, std::string_view) {
  return Variant::Null();
}

bool TDataSet::IsLinkedTo(TDataSource* data_source) {
  // Bounded so that a loop among other datasets cannot hang the check.
  for (int hops = 0; data_source && hops < 1000; ++hops) {
    TDataSet* dataset = data_source->DataSet();
    if (!dataset) break;
    if (dataset == this) return true;
    data_source = dataset->GetDataSource();
  }
  return false;
}

void TDataSet::AddDataSource(TDataSource* source) {
  data_sources_.push_back(source);
  source->dataset_ = this;
  UpdateBufferCount();
  source->UpdateState();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  source->dataset_ = nullptr;
  data_sources_.erase(std::remove(data_sources_.begin(), data_sources_.end(), source),
                      data_sources_.end());
  source->UpdateState();
  // The subclass is gone once the base destructor runs; closed datasets need no buffers anyway.
  if (!IsDestroying()) UpdateBufferCount();
}

}  // namespace orv
