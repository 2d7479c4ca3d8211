#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_dataset.h"
#include "engine/files/little_endian.h"

namespace orv {

int TOrvelDataset::GetRecordSize() const {
  if (dm_ == nullptr)
    throw Exception("Error in TOrvelDataSet.GetRecordCount - no table was opened.");
  return RecordImageSize() + 8 + CalcFieldsSize();
}

TRecordBuffer TOrvelDataset::AllocRecordBuffer() {
  const int size = GetRecordSize();
  auto* buffer = new (std::nothrow) uint8_t[static_cast<size_t>(size)]();
  if (buffer == nullptr)
    throw Exception("Error in TOrvelDataSet.AllocRecordBuffer - AllocMem returns 0 pointer.");
  return buffer;
}

void TOrvelDataset::FreeRecordBuffer(TRecordBuffer& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

void TOrvelDataset::InternalInitRecord(TRecordBuffer buffer) {
  if (buffer == nullptr || dm_ == nullptr) return;
  std::memset(buffer, 0, static_cast<size_t>(RecordImageSize()));
  const TOrvelTableFiles& table = dm_->Table();
  const auto field_count = static_cast<int32_t>(table.Fields().size());
  for (int32_t f = 0; f < field_count; ++f) table.Geometry().SetNull(buffer, f, true);
  StoreI32(buffer + table.Geometry().IdentifierOffset(), table.Header().LastRecordId + 1);
}

void TOrvelDataset::ClearCalcFields(TRecordBuffer buffer) {
  if (buffer == nullptr || CalcFieldsSize() == 0) return;
  std::memset(buffer + RecordImageSize() + 8, 0, static_cast<size_t>(CalcFieldsSize()));
}

bool TOrvelDataset::HasCurrentRecord() {
  if (direct_insert_) return true;
  switch (State()) {
    case dsEdit:
    case dsInsert:
      return true;
    case dsBrowse:
      return !IsEmpty();
    default:
      return CurrentFieldBuffer() != nullptr;
  }
}

TGetResult TOrvelDataset::GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) {
  if (!cursor_open_ || dm_ == nullptr)
    throw Exception("Error in TOrvelDataSet.GetRecord - no table was opened.");
  TSessionScope lock(*this);
  RebuildIfStale();
  TGetResult result = grOK;
  if (visible_.Count() == 0) {
    result = grEOF;
  } else {
    if (pending_id_ >= 0) {
      const int32_t identifier = pending_id_;
      pending_id_ = -1;
      if (identifier > dm_->Table().Header().LastRecordId) {
        position_ = visible_.Count();
      } else {
        const int32_t at = VisiblePositionOf(PhysicalOfIdentifier(identifier));
        if (at >= 0) position_ = at;
      }
    }
    bool accepted = false;
    while (!accepted) {
      switch (mode) {
        case gmCurrent:
          if (position_ < 0 || position_ >= visible_.Count()) result = grError;
          break;
        case gmNext:
          if (position_ >= visible_.Count() - 1) {
            position_ = visible_.Count();
            result = grEOF;
          } else {
            ++position_;
          }
          break;
        case gmPrior:
          if (position_ <= 0) {
            position_ = -1;
            result = grBOF;
          } else {
            position_ = std::min(position_, visible_.Count()) - 1;
          }
          break;
      }
      if (result != grOK) break;
      const uint8_t* image = dm_->GetRecordPtr(visible_[position_]);
      std::memset(buffer, 0, static_cast<size_t>(GetRecordSize()));
      std::memcpy(buffer, image, static_cast<size_t>(RecordImageSize()));
      const int32_t identifier = IdentifierOf(buffer);
      position_id_ = identifier;
      StoreI32(buffer + RecordImageSize(), identifier);
      buffer[RecordImageSize() + 4] = bfCurrent;
      ClearCalcFields(buffer);
      GetCalcFields(buffer);
      accepted = PassesFilterEvent(buffer);
      if (!accepted && mode == gmCurrent) result = grError;
      if (result != grOK) break;
    }
  }
  if (result == grError && do_check) throw Exception("TOrvelDataSet.GetRecord - No records");
  return result;
}

void TOrvelDataset::InternalFirst() {
  pending_id_ = -1;
  position_ = -1;
  position_id_ = -1;
}

void TOrvelDataset::InternalLast() {
  pending_id_ = -1;
  position_ = visible_.Count();
  position_id_ = -1;
}

void TOrvelDataset::InternalSetToRecord(TRecordBuffer buffer) {
  if (buffer == nullptr) return;
  InternalGotoBookmark(buffer + RecordImageSize());
}

void TOrvelDataset::InternalRefresh() {
  TSessionScope lock(*this);
  filter_parsed_ = false;
  RebuildVisibleList();
}

int TOrvelDataset::GetRecordCount() {
  if (dm_ == nullptr || !cursor_open_)
    throw Exception("Error in TOrvelDataSet.GetRecordCount - no table was opened.");
  TSessionScope lock(*this);
  RebuildIfStale();
  return visible_.Count();
}

int TOrvelDataset::GetRecNo() {
  if (dm_ == nullptr || !cursor_open_)
    throw Exception("Error in TOrvelDataSet.GetRecNo - no table was opened.");
  TSessionScope lock(*this);
  RebuildIfStale();
  if (visible_.Count() == 0) return 0;
  TRecordBuffer buffer = ActiveBuffer();
  if (buffer == nullptr) return 0;
  const int32_t at = VisiblePositionOf(PhysicalOfIdentifier(IdentifierOf(buffer)));
  if (at >= 0) return at + 1;
  return State() == dsInsert ? dm_->RecordCount() + 1 : 0;
}

void TOrvelDataset::SetRecNo(int rec_no) {
  if (dm_ == nullptr || !cursor_open_)
    throw Exception("Error in TOrvelDataSet.SetRecNo - no table was opened.");
  TSessionScope lock(*this);
  CheckBrowseMode();
  RebuildIfStale();
  // Only numbers of visible records can be reached.
  if (rec_no < 1 || rec_no > visible_.Count() || !Active() || rec_no == GetRecNo()) return;
  DoBeforeScroll();
  pending_id_ = -1;
  position_ = rec_no - 1;
  position_id_ = IdentifierOf(dm_->GetRecordPtr(visible_[position_]));
  if (Filtered() && OnFilterRecord()) {
    std::vector<uint8_t> probe(static_cast<size_t>(GetRecordSize()), 0);
    std::memcpy(probe.data(), dm_->GetRecordPtr(visible_[position_]),
                static_cast<size_t>(RecordImageSize()));
    if (!PassesFilterEvent(probe.data())) {
      First();
      MoveBy(rec_no - 1);
      DoAfterScroll();
      return;
    }
  }
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

void TOrvelDataset::SetTablePositionByPhysRecNo(int32_t record_no) {
  const int32_t at = VisiblePositionOf(record_no);
  if (at < 0)
    throw Exception(fmt::format(
        "TOrvelDataSet.SetTablePositionByPhysRecNo - record not found, physRecNo = {}", record_no));
  DoBeforeScroll();
  pending_id_ = -1;
  position_ = at;
  position_id_ = IdentifierOf(dm_->GetRecordPtr(record_no));
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

void TOrvelDataset::GetBookmarkData(TRecordBuffer buffer, void* data) {
  if (data == nullptr) throw Exception("Error in TOrvelDataSet.GetBookmarkData - 0 pointer Data");
  if (buffer == nullptr)
    throw Exception("Error in TOrvelDataSet.GetBookmarkData - 0 pointer Buffer");
  std::memset(data, 0, 8);
  std::memcpy(data, buffer + RecordImageSize(), 4);
}

void TOrvelDataset::SetBookmarkData(TRecordBuffer buffer, const void* data) {
  if (buffer == nullptr)
    throw Exception("Error in TOrvelDataSet.SetBookmarkData - 0 pointer to Buffer.");
  if (data == nullptr) return;
  std::memcpy(buffer + RecordImageSize(), data, 4);
}

TBookmarkFlag TOrvelDataset::GetBookmarkFlag(TRecordBuffer buffer) {
  if (buffer == nullptr)
    throw Exception("Error in TOrvelDataSet.GetBookmarkFlag - 0 pointer Buffer");
  const uint8_t flag = buffer[RecordImageSize() + 4];
  return flag <= bfInserted ? static_cast<TBookmarkFlag>(flag) : bfCurrent;
}

void TOrvelDataset::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  if (buffer == nullptr)
    throw Exception("Error in TOrvelDataSet.SetBookmarkFlag - 0 pointer Buffer");
  buffer[RecordImageSize() + 4] = static_cast<uint8_t>(flag);
}

void TOrvelDataset::InternalGotoBookmark(const void* bookmark) {
  if (bookmark == nullptr)
    throw Exception("Error in TOrvelDataSet.InternalGoToBookmark - 0 pointer Bookmark");
  TSessionScope lock(*this);
  RebuildIfStale();
  const int32_t identifier = LoadI32(static_cast<const uint8_t*>(bookmark));
  pending_id_ = identifier;
  const int32_t at = VisiblePositionOf(PhysicalOfIdentifier(identifier));
  if (at >= 0) {
    position_ = at;
    position_id_ = identifier;
  } else {
    position_ = std::clamp(position_, -1, visible_.Count() - 1);
  }
}

int TOrvelDataset::InternalCompareBookmarks(const void* a, const void* b) {
  const int32_t id_a = LoadI32(static_cast<const uint8_t*>(a));
  const int32_t id_b = LoadI32(static_cast<const uint8_t*>(b));
  if (id_a == id_b) return 0;
  TSessionScope lock(*this);
  RebuildIfStale();
  auto position = [&](int32_t identifier) {
    const int32_t at = VisiblePositionOf(PhysicalOfIdentifier(identifier));
    return at < 0 ? visible_.Count() : at;
  };
  const int32_t pa = position(id_a);
  const int32_t pb = position(id_b);
  return pa < pb ? -1 : (pa > pb ? 1 : 0);
}

bool TOrvelDataset::InternalBookmarkValid(const void* bookmark) {
  if (bookmark == nullptr || dm_ == nullptr) return false;
  TSessionScope lock(*this);
  RebuildIfStale();
  return VisiblePositionOf(PhysicalOfIdentifier(LoadI32(static_cast<const uint8_t*>(bookmark)))) >=
         0;
}

}  // namespace orv
