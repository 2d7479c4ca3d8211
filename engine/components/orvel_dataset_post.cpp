#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_dataset.h"
#include "engine/files/little_endian.h"
#include "engine/storage/index_key.h"
#include "engine/storage/index_list.h"
#include "platform/index_defs.h"

namespace orv {

namespace {

// The data manager's update bracket: its lock, with automatic flushing held back until the
// record and its BLOB values are all stored.
class TUpdateBracket {
 public:
  explicit TUpdateBracket(TOrvelDataManager& dm) : dm_(dm) {
    dm_.Lock();
    was_on_ = dm_.AutoFlush();
    dm_.SetAutoFlush(false);
  }
  ~TUpdateBracket() {
    try {
      dm_.SetAutoFlush(was_on_);
    } catch (...) {
      // The next flush writes what this one could not.
    }
    dm_.Unlock();
  }
  TUpdateBracket(const TUpdateBracket&) = delete;
  TUpdateBracket& operator=(const TUpdateBracket&) = delete;

 private:
  TOrvelDataManager& dm_;
  bool was_on_ = true;
};

}  // namespace

void TOrvelDataset::CheckRequiredFields(const uint8_t* image) {
  const TOrvelTableFiles& table = dm_->Table();
  for (size_t f = 0; f < table.Fields().size(); ++f) {
    const FieldHeaderType& header = table.Fields()[f];
    if (header.Required && table.Geometry().IsNull(image, static_cast<int32_t>(f)))
      DatabaseError("Field '" + header.Name + "' must have a value");
  }
}

void TOrvelDataset::CheckUniqueKeys(uint8_t* image, bool inserting, bool unique_only,
                                    const char* operation) {
  TOrvelIndexList& indexes = dm_->Indexes();
  const TOrvelTableFiles& table = dm_->Table();
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    const IndexHeaderType& header = indexes.Header(i);
    const bool unique = (header.Options & ixUnique) != 0;
    const bool primary = (header.Options & ixPrimary) != 0;
    if (!(unique || (!unique_only && primary))) continue;
    if (!indexes.IsValid(i)) indexes.BuildIndex(i, false);
    const TmvIntArray& order = indexes.Array(i);
    if (order.Count() == 0) continue;
    TIndexKeyComparer comparer(header, table.Fields(), table.Geometry());
    const int32_t at = indexes.FindInsertPosition(i, image, order.Count());
    const int32_t identifier = IdentifierOf(image);
    const bool identifier_index =
        header.FieldCount() == 1 && header.FieldNumbers[0] == kIdentifierFieldNo;
    // Equal keys lie together; look at the whole run around the insertion point.
    int32_t first = std::min(at, order.Count() - 1);
    while (first > 0 && comparer.Compare(dm_->GetRecordPtr(order[first - 1]), image) == 0) --first;
    for (int32_t p = first; p < order.Count(); ++p) {
      const uint8_t* other = dm_->GetRecordPtr(order[p]);
      if (comparer.Compare(other, image) != 0) {
        if (p >= at) break;
        continue;
      }
      if (identifier_index && inserting) {
        StoreI32(image + table.Geometry().IdentifierOffset(), table.Header().LastRecordId + 1);
        break;
      }
      if (IdentifierOf(other) != identifier)
        DatabaseError(fmt::format(
            "TOrvelDataSet.{} - key violation.\r\nTable name = \"{}\".\r\nUnique index name = "
            "\"{}\".",
            operation, table_name_, header.Name));
    }
  }
}

int32_t TOrvelDataset::StoreRecord(uint8_t* image, bool inserting, int32_t record_no) {
  int32_t index_position = -1;
  {
    TUpdateBracket bracket(*dm_);
    if (inserting) {
      index_position = dm_->mvAppendRecord(image, current_index_);
      record_no = dm_->RecordCount() - 1;
      WriteBlobSlots(record_no);
    } else {
      WriteBlobSlots(record_no);
      index_position = dm_->mvUpdateRecord(image, current_index_, record_no);
    }
  }
  FreeBlobStreams();
  PlaceAfterChange(image, record_no, index_position, inserting);
  pending_id_ = IdentifierOf(image);
  seen_change_counter_ = dm_->Table().Header().ChangeCounter;
  return record_no;
}

void TOrvelDataset::InternalPost() {
  TSessionScope lock(*this);
  if (!direct_insert_) TDataSet::InternalPost();
  if (read_only_) throw Exception("Error in TOrvelDataSet.InternalPost - table is read only.");
  if (!cursor_open_ || dm_ == nullptr)
    throw Exception("Error in TOrvelDataSet.InternalPost - table is not open.");
  const bool inserting = direct_insert_ || State() == dsInsert;
  if (!inserting && State() != dsEdit)
    throw Exception("Error in TOrvelDataSet.InternalPost - invalid state.");
  uint8_t* buffer = direct_insert_ ? direct_buffer_.data() : ActiveBuffer();
  if (buffer == nullptr)
    throw Exception("Error in TOrvelDataSet.InternalPost - 0 pointer to buffer.");
  RebuildIfStale();
  position_ = std::clamp(position_, -1, visible_.Count() - 1);
  std::vector<uint8_t> image(buffer, buffer + RecordImageSize());
  CheckRequiredFields(image.data());
  CheckUniqueKeys(image.data(), inserting, false, "InternalPost");
  int32_t record_no = -1;
  if (!inserting) {
    record_no = PhysicalOfIdentifier(IdentifierOf(buffer));
    if (record_no < 0) throw Exception("Error in TOrvelDataSet.InternalPost - record not found.");
  }
  StoreRecord(image.data(), inserting, record_no);
  std::memcpy(buffer, image.data(), image.size());
}

void TOrvelDataset::InternalAddRecord(TRecordBuffer buffer, bool append) {
  (void)append;
  TSessionScope lock(*this);
  if (buffer == nullptr)
    throw Exception("Error in TOrvelDataSet.InternalAddRecord - 0 pointer to Buffer.");
  if (read_only_) throw Exception("Error in TOrvelDataSet.InternalAddRecord - table is read only.");
  if (!cursor_open_ || dm_ == nullptr)
    throw Exception("Error in TOrvelDataSet.InternalAddRecord - table is not open.");
  RebuildIfStale();
  std::vector<uint8_t> image(buffer, buffer + RecordImageSize());
  CheckUniqueKeys(image.data(), true, true, "InternalAddRecord");
  StoreRecord(image.data(), true, -1);
}

void TOrvelDataset::InternalCancel() {
  FreeBlobStreams();
}

void TOrvelDataset::InternalDelete() {
  TSessionScope lock(*this);
  if (read_only_) throw Exception("Error in TOrvelDataSet.InternalDelete - table is read only.");
  if (!cursor_open_ || dm_ == nullptr)
    throw Exception("Error in TOrvelDataSet.InternalDelete - table is not open.");
  RebuildIfStale();
  if (visible_.Count() == 0)
    throw Exception("Error in TOrvelDataSet.InternalDelete - no records in table.");
  position_ = std::clamp(position_, 0, visible_.Count() - 1);
  const int32_t record_no = visible_[position_];
  const int32_t last = dm_->RecordCount() - 1;
  {
    // The data manager frees the record's BLOB values with the record.
    TUpdateBracket bracket(*dm_);
    dm_->mvDeleteRecord(current_index_, record_no);
  }
  visible_.Delete(position_);
  // The last record took the deleted one's number.
  if (last != record_no) {
    const int32_t moved = visible_.IndexOf(last);
    if (moved >= 0) visible_[moved] = record_no;
  }
  position_ = visible_.Count() == 0 ? -1 : std::min(position_, visible_.Count() - 1);
  position_id_ = position_ >= 0 ? IdentifierOf(dm_->GetRecordPtr(visible_[position_])) : -1;
  found_stale_ = true;
  seen_change_counter_ = dm_->Table().Header().ChangeCounter;
}

void TOrvelDataset::BeginDirectInsert() {
  CheckActive();
  if (read_only_) throw Exception("Error in TOrvelDataSet.InternalPost - table is read only.");
  direct_buffer_.assign(static_cast<size_t>(GetRecordSize()), 0);
  InternalInitRecord(direct_buffer_.data());
  direct_insert_ = true;
  SetState(dsInsert);
}

void TOrvelDataset::EndDirectInsert() {
  if (!direct_insert_) return;
  try {
    if (Modified()) InternalPost();
  } catch (...) {
    direct_insert_ = false;
    direct_buffer_.clear();
    SetState(dsBrowse);
    throw;
  }
  direct_insert_ = false;
  direct_buffer_.clear();
  SetState(dsBrowse);
}

}  // namespace orv
