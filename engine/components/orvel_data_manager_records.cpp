#include <fmt/format.h>

#include <cstring>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/files/little_endian.h"
#include "engine/files/plain_file_system.h"
#include "engine/storage/blob_store.h"
#include "engine/storage/buffer_log.h"
#include "engine/storage/index_list.h"
#include "engine/storage/record_reader.h"
#include "engine/storage/records_array.h"
#include "platform/exception.h"

namespace orv {

void TOrvelDataManager::CheckWritable(const char* operation) const {
  if (!opened_ || !records_ || !log_)
    throw Exception(fmt::format("TOrvelDataManager.{} - table is not opened.", operation));
  // Changes to a read-only table would never be written, yet look done.
  if (read_only_ || files_opened_read_only_)
    throw Exception(
        fmt::format("TOrvelDataManager.{} - table \"{}\" is read-only.", operation, TableName()));
}

void TOrvelDataManager::CheckRecordNo(const char* operation, int32_t record_no) const {
  if (record_no < 0 || record_no >= RecordCount())
    throw Exception(fmt::format("TOrvelDataManager.{} - invalid record number {}, record count {}",
                                operation, record_no, RecordCount()));
}

void TOrvelDataManager::CheckImage(const char* operation, const uint8_t* image) const {
  if (image == nullptr)
    throw Exception(fmt::format("TOrvelDataManager.{} - record buffer is nil.", operation));
}

const uint8_t* TOrvelDataManager::StoredImage(const uint8_t* image) {
  if (!table_.Header().Encrypted) return image;
  const auto size = static_cast<size_t>(table_.Geometry().RecordSize);
  scratch_.resize(size);
  std::memmove(scratch_.data(), image, size);
  ChangeBufferEncryption(scratch_.data(), true);
  return scratch_.data();
}

void TOrvelDataManager::RaiseLastRecordId(const uint8_t* image) {
  const auto id = static_cast<int32_t>(LoadU32(image + table_.Geometry().IdentifierOffset()));
  TableHeaderType& header = table_.Header();
  if (id > header.LastRecordId) header.LastRecordId = id;
}

const uint8_t* TOrvelDataManager::GetRecordPtr(int32_t record_no) {
  if (HeldByThisThread() && records_) return records_->GetRecordPtr(record_no);
  TLockScope lock(*this);
  if (!records_) throw Exception("TOrvelDataManager.GetRecordPtr - table is not opened.");
  return records_->GetRecordPtr(record_no);
}

void TOrvelDataManager::LockRecordPage(int32_t record_no) {
  if (HeldByThisThread() && records_) return records_->LockRecordPage(record_no);
  TLockScope lock(*this);
  if (!records_) throw Exception("TOrvelDataManager.LockRecordPage - table is not opened.");
  records_->LockRecordPage(record_no);
}

void TOrvelDataManager::UnlockRecordPage(int32_t record_no) {
  if (HeldByThisThread() && records_) return records_->UnlockRecordPage(record_no);
  TLockScope lock(*this);
  if (!records_) throw Exception("TOrvelDataManager.UnlockRecordPage - table is not opened.");
  records_->UnlockRecordPage(record_no);
}

void TOrvelDataManager::ReadRecordImages(int32_t first, int32_t count, uint8_t* destination) {
  AcquireFiles();
  try {
    reader_->Read(first, count, destination);
    if (table_.Header().Encrypted) {
      const auto size = static_cast<size_t>(table_.Geometry().RecordSize);
      for (int32_t i = 0; i < count; ++i)
        ChangeBufferEncryption(destination + static_cast<size_t>(i) * size, false);
    }
  } catch (...) {
    ReleaseFiles();
    throw;
  }
  ReleaseFiles();
}

int32_t TOrvelDataManager::mvAppendRecord(const uint8_t* image, int32_t current_index) {
  TLockScope lock(*this);
  static constexpr const char* kOp = "mvAppendRecord";
  CheckWritable(kOp);
  CheckImage(kOp, image);
  indexes_->PrepareForChange();
  const uint8_t* stored = StoredImage(image);
  RaiseLastRecordId(image);
  TableHeaderType& header = table_.Header();
  ++header.ChangeCounter;
  const int32_t record_no = header.RecordCount;
  if (blobs_ && blobs_->RecordCount() == record_no) {
    blobs_->mvAddBLOBRecord();
    blobs_changed_ = true;
  }
  records_->AppendRecord(image);
  header.RecordCount = record_no + 1;
  // Logged before the indexes are told, so that a failing index step cannot leave a cached
  // record that no page load would find again.
  log_->AddToLog(record_no, stored);
  const int32_t position = indexes_->RecordAppended(record_no, current_index);
  FlushIfNeeded();
  return position;
}

int32_t TOrvelDataManager::mvUpdateRecord(const uint8_t* image, int32_t current_index,
                                          int32_t record_no) {
  TLockScope lock(*this);
  static constexpr const char* kOp = "mvUpdateRecord";
  CheckWritable(kOp);
  CheckImage(kOp, image);
  CheckRecordNo(kOp, record_no);
  indexes_->PrepareForChange();
  const uint8_t* stored = StoredImage(image);
  RaiseLastRecordId(image);
  ++table_.Header().ChangeCounter;
  records_->LockRecordPage(record_no);
  int32_t position;
  try {
    uint8_t* cached = records_->GetRecordPtr(record_no);
    position = indexes_->RecordUpdating(record_no, cached, image, current_index);
    std::memmove(cached, image, static_cast<size_t>(table_.Geometry().RecordSize));
    log_->AddToLog(record_no, stored);
  } catch (...) {
    records_->UnlockRecordPage(record_no);
    throw;
  }
  records_->UnlockRecordPage(record_no);
  FlushIfNeeded();
  return position;
}

int32_t TOrvelDataManager::mvDeleteRecord(int32_t current_index, int32_t record_no) {
  TLockScope lock(*this);
  static constexpr const char* kOp = "mvDeleteRecord";
  CheckWritable(kOp);
  CheckRecordNo(kOp, record_no);
  indexes_->PrepareForChange();
  TableHeaderType& header = table_.Header();
  const int32_t last = header.RecordCount - 1;
  const bool moves = record_no < last;
  const uint8_t* stored = nullptr;
  if (moves) {
    const auto size = static_cast<size_t>(table_.Geometry().RecordSize);
    moved_image_.resize(size);
    std::memcpy(moved_image_.data(), records_->GetRecordPtr(last), size);
    stored = StoredImage(moved_image_.data());
  }
  ++header.ChangeCounter;
  const int32_t position = indexes_->RecordDeleting(record_no, current_index);
  if (blobs_) {
    blobs_->mvDeleteBLOBRecord(record_no);
    blobs_changed_ = true;
  }
  header.RecordCount = last;
  // Overwriting a flushed record (or freeing the BLOB blocks of one) before the header shrinks
  // would tear the table at a crash in between.
  if (record_no < flushed_record_count_ && (moves || blobs_)) needs_journal_ = true;
  if (moves) log_->AddToLog(record_no, stored);
  // The last number holds no record now; what the log has for it would only be cut off again.
  log_->DropRecord(last);
  records_->DeleteRecord(record_no, moves ? moved_image_.data() : nullptr);
  FlushIfNeeded();
  return position;
}

void TOrvelDataManager::CutDataFile(bool only_when_longer) {
  TAbstractFile* dat = table_.File(tfkData);
  if (dat == nullptr) return;
  const int64_t size =
      int64_t(table_.DataOffset()) + int64_t(RecordCount()) * table_.Geometry().RecordSize;
  if (size > TAbstractFile::kMaxSize)
    throw Exception(
        fmt::format("TOrvelDataManager.FlushBuffers - table {} is too large", TableName()));
  const int32_t current = dat->GetSize();
  if (current == size || (only_when_longer && current < size)) return;
  dat->SetSize(static_cast<int32_t>(size));
  if (reader_) reader_->Invalidate();
}

void TOrvelDataManager::SaveHeadersAndSize() {
  table_.SaveTableHeaders();
  CutDataFile(false);
}

template <typename Step>
void TOrvelDataManager::RunFlushStep(Step&& step) {
  // A flush that needs no journal must not go to the files while the journal still holds
  // earlier flushes, which a crash would replay over it.
  if (!needs_journal_) RetireJournal();
  if (!needs_journal_ || store_mode_ == kStoreModeMemory) {
    step();
    flushed_record_count_ = RecordCount();
    return;
  }
  journal_bytes_.Reset();
  std::vector<TJournalChange> changes;
  std::vector<std::unique_ptr<TJournalOverlayFile>> overlays;
  TAbstractFile* real[kTableFileKindCount] = {};
  for (TTableFileKind kind : {tfkData, tfkBlobIndex, tfkBlobData}) {
    real[kind] = table_.File(kind);
    if (real[kind] == nullptr) continue;
    overlays.push_back(
        std::make_unique<TJournalOverlayFile>(*real[kind], kind, changes, &journal_bytes_));
    table_.SwapFile(kind, overlays.back().get());
  }
  auto restore = [&] {
    for (TTableFileKind kind : {tfkData, tfkBlobIndex, tfkBlobData})
      if (real[kind] != nullptr) table_.SwapFile(kind, real[kind]);
    HandFilesOver();
    if (reader_) reader_->Invalidate();
  };
  HandFilesOver();
  if (log_) log_->SetStretchPatching(false);
  try {
    step();
  } catch (...) {
    if (log_) log_->SetStretchPatching(true);
    restore();
    throw;
  }
  if (log_) log_->SetStretchPatching(true);
  restore();
  if (changes.empty()) return;
  ApplyThroughJournal(changes);
  needs_journal_ = false;
  flushed_record_count_ = RecordCount();
}

void TOrvelDataManager::ApplyThroughJournal(std::vector<TJournalChange>& changes) {
  if (journal_failed_) RetireJournal();
  const std::string name = JournalFileName();
  const bool fresh = journal_ == nullptr;
  if (fresh) {
    journal_ = database_manager_->OpenFile(name, store_mode_, true, false, false);
    if (journal_ == nullptr)
      throw Exception(fmt::format("TOrvelDataManager.FlushBuffers - cannot create \"{}\"", name));
  }
  const int32_t journaled = fresh ? 0 : journal_->GetSize();
  try {
    if (fresh)
      WriteFlushJournal(*journal_, TableName(), changes, &journal_scratch_);
    else
      AppendFlushJournal(*journal_, TableName(), changes, &journal_scratch_);
  } catch (...) {
    // A torn segment would hide every later one from the replay: it is cut off again, or the
    // journal goes once the flushes before it are safe in the files.
    bool cut = false;
    try {
      journal_->SetSize(journaled);
      cut = true;
    } catch (const std::exception&) {
    }
    if (fresh || !cut) {
      try {
        RetireJournal();
      } catch (const std::exception&) {
        journal_failed_ = true;
      }
    }
    throw;
  }
  TAbstractFile* files[kTableFileKindCount] = {};
  for (TTableFileKind kind : {tfkData, tfkBlobIndex, tfkBlobData}) files[kind] = table_.File(kind);
  // The files are flushed when the journal goes; until then a crash replays it. A failure
  // here leaves the complete journal too.
  ApplyJournalChanges(changes, files, false, &journal_scratch_);
  if (reader_) reader_->Invalidate();
  if (journal_->GetSize() > kJournalRetireSize || IsDesignTime()) RetireJournal();
}

void TOrvelDataManager::RetireJournal() {
  if (journal_ == nullptr) return;
  // What the journal replays must be on the device before the journal is gone.
  for (TTableFileKind kind : {tfkData, tfkBlobIndex, tfkBlobData})
    if (TAbstractFile* file = table_.File(kind)) file->Flush();
  // A journal whose first segment lost its magic replays nothing, should its removal not
  // survive a crash; much cheaper than cutting it.
  static constexpr uint8_t kNoMagic[8] = {};
  journal_->SetPosition(0);
  journal_->WriteBuffer(kNoMagic, sizeof(kNoMagic));
  journal_->Flush();
  CloseJournal();
  database_manager_->DeleteFile(JournalFileName(), store_mode_);
  journal_failed_ = false;
}

void TOrvelDataManager::CloseJournal() {
  if (journal_ == nullptr) return;
  database_manager_->CloseFile(journal_);
  journal_ = nullptr;
}

void TOrvelDataManager::FlushLog() {
  RunFlushStep([&] {
    log_->FlushBuffers();
    SaveBlobHeaders();
    SaveHeadersAndSize();
  });
}

bool TOrvelDataManager::FlushIfNeeded() {
  TLockScope lock(*this);
  if (!auto_flush_ || read_only_ || files_opened_read_only_ || IsDesignTime() || !log_)
    return false;
  // Asked after every change: only a log that is due sets up a (journaled) flush.
  if (!log_->NeedsFlush()) return false;
  FlushLog();
  return true;
}

void TOrvelDataManager::FlushBuffers() {
  TLockScope lock(*this);
  if (read_only_ || files_opened_read_only_ || !opened_) return;
  TableHeaderType stored;
  table_.ReadTableHeader(stored);
  if (IsDesignTime() && stored.ChangeCounter != design_change_counter_)
    throw Exception(
        "TOrvelDataManager.FlushBuffers - Cannot write changes in table, as it was modified "
        "outside IDE.");
  const bool logged = log_ && log_->EntryCount() > 0;
  if (stored.ChangeCounter == table_.Header().ChangeCounter && !logged && !blobs_changed_) {
    RetireJournal();
    return;
  }
  // In the order a crash can stop at any write: records and BLOB blocks, then the .bif that
  // points at the blocks, then the header, whose record count takes appended records (and
  // their BLOB records) into the table. Before it, they lie past the end and are dropped when
  // the table opens. A flush that would overwrite what the stored headers still describe goes
  // through the journal instead.
  RunFlushStep([&] {
    if (log_) log_->FlushBuffers();
    if (table_.HasBlobs()) SaveBlobHeaders();
    SaveHeadersAndSize();
  });
  table_.File(tfkData)->Flush();
  if (table_.HasBlobs()) FlushBlobFiles();
  RetireJournal();
}

void TOrvelDataManager::SetAutoFlush(bool on) {
  TLockScope lock(*this);
  auto_flush_ = on;
  if (on) FlushIfNeeded();
}

}  // namespace orv
