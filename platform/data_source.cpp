#include "platform/data_source.h"

#include <algorithm>

#include "platform/data_link.h"

namespace orv {

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  OnStateChange = nullptr;
  OnDataChange = nullptr;
  SetDataSet(nullptr);
  while (!links_.empty()) RemoveDataLink(links_.back());
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (IsLinkedTo(dataset)) DatabaseError("Circular datalinks are not allowed", this);
  if (dataset_) dataset_->RemoveDataSource(this);
  if (dataset) dataset->AddDataSource(this);
}

void TDataSource::SetEnabled(bool enabled) {
  enabled_ = enabled;
  UpdateState();
}

void TDataSource::Edit() {
  if (auto_edit_ && state_ == dsBrowse && dataset_) dataset_->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* dataset) const {
  // Bounded so that a loop among other datasets cannot hang the check.
  for (int hops = 0; dataset && hops < 1000; ++hops) {
    TDataSource* source = dataset->GetDataSource();
    if (!source) break;
    if (source == this) return true;
    dataset = source->DataSet();
  }
  return false;
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == dsInactive) return;
  NotifyDataLinks(event, info);
  switch (event) {
    case deFieldChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(info));
      break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

void TDataSource::UpdateState() {
  SetState(enabled_ && dataset_ ? dataset_->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState state) {
  if (state == state_) return;
  TDataSetState prior = state_;
  state_ = state;
  NotifyDataLinks(deUpdateState, 0);
  if (IsDestroying()) return;
  if (OnStateChange) OnStateChange(this);
  if (prior == dsInactive && OnDataChange) OnDataChange(this, nullptr);
}

void TDataSource::NotifyDataLinks(TDataEvent event, intptr_t info) {
  // Single-record links (editors) first, then multi-record ones (grids); a link may leave the
  // list while it hears the event, so each index is checked again.
  for (bool multi : {false, true}) {
    for (size_t i = links_.size(); i-- > 0;) {
      if (i >= links_.size()) continue;
      TDataLink* link = links_[i];
      if ((link->BufferCount() > 1) == multi) link->DataEvent(event, info);
    }
  }
}

void TDataSource::AddDataLink(TDataLink* link) {
  links_.push_back(link);
  link->source_ = this;
  if (dataset_) dataset_->UpdateBufferCount();
  link->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* link) {
  link->source_ = nullptr;
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  link->UpdateState();
  if (dataset_) dataset_->UpdateBufferCount();
}

}  // namespace orv
