#include <cstring>

#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_dataset.h"

namespace orv {

void TOrvelDataset::InitKeyBuffers() {
  const auto size = static_cast<size_t>(GetRecordSize());
  key_buffers_.assign(kKeyBufferCount, std::vector<uint8_t>(size, 0));
  key_headers_.assign(kKeyBufferCount, TKeyBufferHeader{});
  for (int k = 0; k < kKeyBufferCount; ++k) InitKeyBuffer(k);
  current_key_ = kiLookup;
}

void TOrvelDataset::FreeKeyBuffers() {
  key_buffers_.clear();
  key_headers_.clear();
  current_key_ = kiLookup;
}

TRecordBuffer TOrvelDataset::KeyBuffer(int key_index) const {
  if (key_index < 0 || static_cast<size_t>(key_index) >= key_buffers_.size()) return nullptr;
  return const_cast<uint8_t*>(key_buffers_[static_cast<size_t>(key_index)].data());
}

void TOrvelDataset::InitKeyBuffer(int key_index) {
  TRecordBuffer buffer = KeyBuffer(key_index);
  if (buffer == nullptr) return;
  std::memset(buffer, 0, key_buffers_[static_cast<size_t>(key_index)].size());
  InternalInitRecord(buffer);
  TKeyBufferHeader& header = key_headers_[static_cast<size_t>(key_index)];
  header = TKeyBufferHeader{};
  header.field_count = IndexFieldCount();
}

int TOrvelDataset::KeyFieldCount(int key_index) const {
  if (key_index < 0 || static_cast<size_t>(key_index) >= key_headers_.size()) return 0;
  return key_headers_[static_cast<size_t>(key_index)].field_count;
}

bool TOrvelDataset::KeyModified(int key_index) const {
  if (key_index < 0 || static_cast<size_t>(key_index) >= key_headers_.size()) return false;
  return key_headers_[static_cast<size_t>(key_index)].modified;
}

void TOrvelDataset::BeginKeyEdit(int key_index, bool clear) {
  CheckBrowseMode();
  CheckActive();
  if (KeyBuffer(key_index) == nullptr) return;
  current_key_ = key_index;
  key_buffers_[kiSave] = key_buffers_[static_cast<size_t>(key_index)];
  key_headers_[kiSave] = key_headers_[static_cast<size_t>(key_index)];
  if (clear) InitKeyBuffer(key_index);
  SetState(dsSetKey);
  SetModified(false);
  DataEvent(deDataSetChange, 0);
}

void TOrvelDataset::SetKey() {
  BeginKeyEdit(kiLookup, true);
}

void TOrvelDataset::EditKey() {
  BeginKeyEdit(kiLookup, false);
}

void TOrvelDataset::SetRangeStart() {
  BeginKeyEdit(kiRangeStart, true);
}

void TOrvelDataset::SetRangeEnd() {
  BeginKeyEdit(kiRangeEnd, true);
}

void TOrvelDataset::EditRangeStart() {
  BeginKeyEdit(kiRangeStart, false);
}

void TOrvelDataset::EditRangeEnd() {
  BeginKeyEdit(kiRangeEnd, false);
}

void TOrvelDataset::ApplyRange() {
  CheckBrowseMode();
  CheckActive();
  TSessionScope lock(*this);
  range_active_ = true;
  RebuildVisibleList();
  First();
}

void TOrvelDataset::CancelRange() {
  CheckBrowseMode();
  if (!range_active_) return;
  TSessionScope lock(*this);
  range_active_ = false;
  if (!Active()) return;
  RebuildVisibleList();
  Resync(0);
}

void TOrvelDataset::Post() {
  if (direct_insert_) {
    InternalPost();
    InternalInitRecord(direct_buffer_.data());
    SetModified(false);
    return;
  }
  if (State() == dsSetKey) {
    UpdateRecord();
    if (Modified()) key_headers_[static_cast<size_t>(current_key_)].modified = true;
    SetState(dsBrowse);
    DataEvent(deDataSetChange, 0);
    return;
  }
  TDataSet::Post();
}

void TOrvelDataset::Cancel() {
  if (State() == dsSetKey) {
    key_buffers_[static_cast<size_t>(current_key_)] = key_buffers_[kiSave];
    key_headers_[static_cast<size_t>(current_key_)] = key_headers_[kiSave];
    SetState(dsBrowse);
    DataEvent(deDataSetChange, 0);
    return;
  }
  TDataSet::Cancel();
}

}  // namespace orv
