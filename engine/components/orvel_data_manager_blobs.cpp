#include <fmt/format.h>

#include "engine/components/orvel_data_manager.h"
#include "engine/storage/blob_store.h"
#include "engine/storage/stored_types.h"
#include "platform/exception.h"

namespace orv {

void TOrvelDataManager::CreateBlobStore() {
  blobs_ = std::make_unique<TOrvelBlobStore>(table_, blob_context_);
  blobs_->Reset(requested_block_size_);
}

void TOrvelDataManager::LoadBlobHeaders() {
  CreateBlobStore();
  blobs_->LoadBLOBHeaders();
  // The buffer log must cut BLOB blocks as the .bif says they are.
  requested_block_size_ = blobs_->BlockSize();
  blobs_changed_ = false;
}

void TOrvelDataManager::SaveBlobHeaders() {
  if (!blobs_) return;
  blobs_->SaveBLOBHeaders(false);
  blobs_changed_ = false;
}

void TOrvelDataManager::FlushBlobFiles() {
  for (TTableFileKind kind : {tfkBlobData, tfkBlobIndex})
    if (TAbstractFile* file = table_.File(kind)) file->Flush();
}

void TOrvelDataManager::MatchBlobRecords() {
  if (!blobs_ || blobs_->RecordCount() == RecordCount()) return;
  needs_journal_ = true;
  while (blobs_->RecordCount() > RecordCount())
    blobs_->mvDeleteBLOBRecord(blobs_->RecordCount() - 1);
  while (blobs_->RecordCount() < RecordCount()) blobs_->mvAddBLOBRecord();
  blobs_changed_ = true;
  ++table_.Header().ChangeCounter;
  FlushBuffers();
}

int32_t TOrvelDataManager::BlobField(const char* operation, int32_t field_no,
                                     int32_t record_no) const {
  if (!opened_)
    throw Exception(fmt::format("TOrvelDataManager.{} - table is not opened.", operation));
  if (!blobs_)
    throw Exception(fmt::format("TOrvelDataManager.{} - table \"{}\" has no BLOB fields.",
                                operation, TableName()));
  CheckRecordNo(operation, record_no);
  const std::vector<FieldHeaderType>& fields = table_.Fields();
  int32_t ordinal = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!IsBlobFieldType(fields[i].Type)) continue;
    if (ordinal++ == field_no) return static_cast<int32_t>(i);
  }
  throw Exception(fmt::format("TOrvelDataManager.{} - invalid BLOB field number {}, {} BLOB fields",
                              operation, field_no, ordinal));
}

// Blocks freed from a value the stored .bif may still describe can be reused before the next
// flush, and that flush must then not tear. A value without blocks frees nothing.
bool TOrvelDataManager::FreesStoredBlocks(int32_t field, int32_t record_no) const {
  return record_no < flushed_record_count_ && !blobs_->Header(field, record_no).Parts.empty();
}

void TOrvelDataManager::ReadBLOBValue(TStream& stream, int32_t field_no, int32_t record_no) {
  TLockScope lock(*this);
  const int32_t field = BlobField("mvReadBLOBValue", field_no, record_no);
  blobs_->ReadBLOBValue(stream, field, record_no);
}

void TOrvelDataManager::WriteBLOBValue(TStream& stream, int32_t field_no, int32_t record_no) {
  TLockScope lock(*this);
  static constexpr const char* kOp = "mvWriteBLOBValue";
  CheckWritable(kOp);
  const int32_t field = BlobField(kOp, field_no, record_no);
  blobs_changed_ = true;
  if (FreesStoredBlocks(field, record_no)) needs_journal_ = true;
  blobs_->WriteBLOBValue(stream, field, record_no);
}

void TOrvelDataManager::DeleteBLOBValue(int32_t field_no, int32_t record_no) {
  TLockScope lock(*this);
  static constexpr const char* kOp = "DeleteBLOBValue";
  CheckWritable(kOp);
  const int32_t field = BlobField(kOp, field_no, record_no);
  blobs_changed_ = true;
  if (FreesStoredBlocks(field, record_no)) needs_journal_ = true;
  blobs_->DeleteBLOBValue(field, record_no);
}

}  // namespace orv
