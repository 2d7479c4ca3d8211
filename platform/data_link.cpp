#include "platform/data_link.h"

#include <algorithm>

#include "platform/data_source.h"

namespace orv {

TDataLink::~TDataLink() {
  SetDataSource(nullptr);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  if (source_) source_->RemoveDataLink(this);
  if (source) source->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const {
  return source_ ? source_->DataSet() : nullptr;
}

int TDataLink::ActiveRecord() const {
  TDataSet* dataset = DataSet();
  if (!dataset || source_->State() == dsSetKey) return 0;
  return dataset->active_record_ - first_record_;
}

void TDataLink::SetActiveRecord(int record) {
  TDataSet* dataset = DataSet();
  if (!dataset || source_->State() == dsSetKey) return;
  int active = record + first_record_;
  // Only records inside the filled part of the buffer ring can be made active.
  if (active < 0 || active >= std::max(dataset->record_count_, 1)) return;
  dataset->active_record_ = active;
}

void TDataLink::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (count == buffer_count_) return;
  buffer_count_ = count;
  if (active_) {
    UpdateRange();
    DataSet()->UpdateBufferCount();
    UpdateRange();
  }
}

int TDataLink::RecordCount() const {
  TDataSet* dataset = DataSet();
  if (!dataset) return 0;
  if (source_->State() == dsSetKey) return 1;
  return std::min(dataset->record_count_, buffer_count_);
}

void TDataLink::SetReadOnly(bool read_only) {
  if (read_only_ == read_only) return;
  read_only_ = read_only;
  UpdateState();
}

bool TDataLink::Edit() {
  if (!read_only_ && source_) source_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::UpdateState() {
  SetActive(source_ && source_->State() != dsInactive);
  SetEditing(
      source_ && !read_only_ &&
      (source_->State() == dsEdit || source_->State() == dsInsert || source_->State() == dsSetKey));
}

void TDataLink::SetActive(bool active) {
  if (active_ == active) return;
  active_ = active;
  if (active)
    UpdateRange();
  else
    first_record_ = 0;
  ActiveChanged();
}

void TDataLink::SetEditing(bool editing) {
  if (editing_ == editing) return;
  editing_ = editing;
  EditingChanged();
}

void TDataLink::UpdateRange() {
  TDataSet* dataset = DataSet();
  if (!dataset) return;
  int min = std::max(dataset->active_record_ - buffer_count_ + 1, 0);
  int max = std::max(dataset->buffer_count_ - buffer_count_, 0);
  max = std::min(max, dataset->active_record_);
  if (first_record_ < min) first_record_ = min;
  if (first_record_ > max) first_record_ = max;
  if (first_record_ != 0 && dataset->active_record_ - first_record_ < buffer_count_ - 1)
    --first_record_;
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  // Heard even while inactive, so that a dataset reopened with its controls disabled gets them
  // back.
  if (event == deDisabledStateChange) {
    if (info)
      UpdateState();
    else
      SetActive(false);
    return;
  }
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      int count = 0;
      TDataSet* dataset = DataSet();
      if (source_->State() != dsSetKey && dataset) {
        int active = dataset->active_record_;
        int first = first_record_ + static_cast<int>(info);
        int last = first + buffer_count_ - 1;
        if (active > last)
          count = active - last;
        else if (active < first)
          count = active - first;
        first_record_ = first + count;
      }
      if (event == deDataSetChange)
        DataSetChanged();
      else if (event == deDataSetScroll)
        DataSetScrolled(count);
      else
        LayoutChanged();
      break;
    }
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    default:
      break;
  }
}

}  // namespace orv
