#include <fmt/format.h>

#include <cctype>
#include <string>
#include <vector>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/files/plain_file_system.h"
#include "engine/protect/compression.h"
#include "engine/storage/blob_store.h"
#include "engine/storage/buffer_log.h"
#include "engine/storage/index_list.h"
#include "engine/storage/record_reader.h"
#include "engine/storage/records_array.h"
#include "engine/storage/stored_types.h"
#include "platform/exception.h"
#include "platform/field_defs.h"
#include "platform/index_defs.h"
#include "platform/random.h"
#include "platform/streams.h"
#include "platform/value_text.h"

namespace orv {

namespace {

constexpr size_t kMaxNameLength = 253;
// Older formats are converted when they open.
constexpr double kConvertBelowVersion = 2.199;
// Below it the string fields lack their automatic case-insensitive indexes and date and time
// keys sorted differently.
constexpr double kAutoIndexVersion = 2.099;
// Below it BLOB values are stored in a way this engine cannot read.
constexpr double kOldestBlobVersion = 1.249;
// A converted table keeps the short header layout, which its records are placed behind, in the
// newest format that layout has.
constexpr double kConvertedVersion = 4.49;
constexpr uint32_t kRandomNameRange = 2147483647;

bool IsValidName(const std::string& name) {
  return name.find_first_of(".[]") == std::string::npos && Trim(name) == name;
}

[[noreturn]] void RaiseInvalidName(const char* what, const std::string& name) {
  throw Exception(std::string("Invalid ") + what + " name \"" + name + "\". " +
                  "Make sure that the name doen't contain a period (.)," +
                  "bracket ([]) leading or trailing space, or non-printable " +
                  "character such as a carriage return");
}

// kind: "field" or "index".
void CheckNameLength(const std::string& kind, const std::string& name) {
  if (name.size() > kMaxNameLength)
    throw Exception(fmt::format("{}{} name must have <= {} chars. Please shorten {} name \"{}\"",
                                char(std::toupper(kind[0])), kind.substr(1), kMaxNameLength, kind,
                                name));
}

void CheckDefinitionNames(const TFieldDefs& field_defs, const TIndexDefs& index_defs) {
  for (int i = 0; i < field_defs.Count(); ++i) CheckNameLength("field", field_defs[i]->Name());
  for (int i = 0; i < index_defs.Count(); ++i) {
    CheckNameLength("index", index_defs[i]->Name());
    if (index_defs[i]->Name().empty())
      throw Exception("Index name cannot be not blank. Please set non-blank index name.");
  }
  for (int i = 0; i < field_defs.Count(); ++i)
    if (!IsValidName(field_defs[i]->Name())) RaiseInvalidName("field", field_defs[i]->Name());
  for (int i = 0; i < index_defs.Count(); ++i)
    if (!IsValidName(index_defs[i]->Name())) RaiseInvalidName("index", index_defs[i]->Name());
}

}  // namespace

void TOrvelDataManager::InitTableHeader() {
  TableHeaderType header;
  header.Encrypted = requested_encrypted_;
  header.BlobCompression = requested_compression_;
  table_.Header() = header;
  table_.SetFields({});
  indexes_->Clear();
  headers_loaded_ = false;
  if (requested_block_size_ <= 0) requested_block_size_ = 512;
}

void TOrvelDataManager::HandFilesOver() {
  if (log_) log_->SetFiles(table_.File(tfkData), table_.File(tfkBlobData));
  if (reader_) reader_->SetFile(table_.File(tfkData));
}

bool TOrvelDataManager::OpenFiles(bool create) {
  TLockScope lock(*this);
  if (!create && store_mode_ != kStoreModeMemory && !table_.FileExists(tfkData)) return false;
  auto refuse = [&](TTableFileKind kind) {
    throw Exception(fmt::format(
        "TOrvelDataManager.OpenFiles - can not open file \"{}\", bCreated = {}, ReadOnly = {}",
        table_.FileName(kind), create ? 1 : 0, read_only_ ? 1 : 0));
  };
  auto open = [&](TTableFileKind kind, bool create_it) {
    try {
      table_.OpenFile(kind, create_it);
    } catch (const std::exception&) {
      refuse(kind);
    }
  };
  open(tfkData, create);
  try {
    table_.OpenFile(tfkIndex, create);
  } catch (const std::exception&) {
    // A lost .idx is made again and its indexes rebuilt, unless nothing may be written.
    if (read_only_) refuse(tfkIndex);
    open(tfkIndex, true);
  }
  if (!create && !headers_loaded_) {
    table_.OpenTable();
    headers_loaded_ = true;
    requested_encrypted_ = table_.Header().Encrypted;
    requested_compression_ = table_.Header().BlobCompression;
  }
  if (create || table_.HasBlobs()) {
    open(tfkBlobIndex, create);
    open(tfkBlobData, create);
  }
  HandFilesOver();
  return true;
}

void TOrvelDataManager::CloseFiles() {
  TLockScope lock(*this);
  CloseJournal();
  journal_failed_ = false;
  table_.ReleaseFiles();
  HandFilesOver();
}

void TOrvelDataManager::CreateRecordsArray() {
  const int32_t record_size = table_.Geometry().RecordSize;
  records_ = std::make_unique<TmvRecordsArray>(*this, record_size, capacity_hint_, cache_disabled_);
  if (!reader_) reader_ = std::make_unique<TRecordFileReader>(table_.DataOffset(), record_size);
  reader_->SetFile(table_.File(tfkData));
  reader_->SetLog(log_.get());
}

void TOrvelDataManager::ReleaseAll() {
  blobs_.reset();
  blobs_changed_ = false;
  converting_ = false;
  log_.reset();
  reader_.reset();
  records_.reset();
  indexes_->Clear();
  CloseFiles();
  InitTableHeader();
  opened_ = false;
  fully_opened_ = false;
}

int TOrvelDataManager::LoadTable() {
  TLockScope lock(*this);
  if (opened_) return kLoadTableOpened;
  fully_opened_ = false;
  files_opened_read_only_ = false;
  InitTableHeader();
  needs_journal_ = false;
  if (!RecoverJournal()) return kLoadTableFilesUnusable;
  try {
    if (!OpenFiles(false)) {
      CloseFiles();
      return kLoadTableMissing;
    }
  } catch (const std::exception&) {
    CloseFiles();
    InitTableHeader();
    return kLoadTableFilesUnusable;
  }
  try {
    CreateRecordsArray();
    try {
      if (table_.HasBlobs()) LoadBlobHeaders();
    } catch (const std::exception&) {
      ReleaseAll();
      return kLoadTableBlobHeadersUnreadable;
    }
    if (const int result = PasswordResult(); result != kLoadTableOpened) {
      ReleaseAll();
      return result;
    }
    opened_ = true;
    log_ = std::make_unique<TmvBufferLogArray>(table_.File(tfkData), table_.DataOffset(),
                                               table_.Geometry().RecordSize,
                                               table_.File(tfkBlobData), requested_block_size_);
    reader_->SetLog(log_.get());
    indexes_->LoadIndexFile(read_only_ || files_opened_read_only_);
    if (records_->CacheDisabled() != cache_disabled_) CreateRecordsArray();
    TableHeaderType& header = table_.Header();
    if (header.IdVisibility != kIdentifierVisible && header.IdVisibility != kIdentifierHidden)
      header.IdVisibility = kIdentifierVisible;
    if (header.Version < kConvertBelowVersion) {
      converting_ = header.BlobCompression == clFastest;
      ConvertToCurrentTable();
      converting_ = false;
    }
    if (IsDesignTime()) design_change_counter_ = header.ChangeCounter;
    flushed_record_count_ = RecordCount();
    MatchBlobRecords();
    // At design time the files are held only for the length of each operation.
    if (IsDesignTime() && database_manager_ != nullptr) {
      CloseFiles();
      database_manager_->ReleaseStore();
    }
  } catch (...) {
    ReleaseAll();
    throw;
  }
  fully_opened_ = true;
  return kLoadTableOpened;
}

int TOrvelDataManager::PasswordResult() {
  if (!table_.Header().Encrypted || CheckPassword()) return kLoadTableOpened;
  if (!IsDesignTime()) return kLoadTableWrongPassword;
  const TOrvelPasswordQuestion& ask = TablePasswordQuestion();
  do {
    std::string answer = password_;
    if (!ask || !ask(TableName(), answer)) return kLoadTableNoPassword;
    SetPassword(std::move(answer));
  } while (!CheckPassword());
  return kLoadTableOpened;
}

void TOrvelDataManager::CloseTable() {
  TLockScope lock(*this);
  const bool needs_flush =
      !read_only_ && !files_opened_read_only_ && fully_opened_ &&
      (!IsDesignTime() || table_.Header().ChangeCounter != design_change_counter_);
  // Flushing headers that disagree would lose or misplace values on disk; LoadTable repairs
  // the counts of what was flushed before.
  const bool blobs_disagree = needs_flush && blobs_ && blobs_->RecordCount() != RecordCount();
  if (needs_flush && !blobs_disagree) {
    bool acquired = false;
    try {
      AcquireFiles();
      acquired = true;
      FlushBuffers();
      indexes_->CheckIndexFile();
      CutDataFile(true);
    } catch (const std::exception&) {
      ReportCloseError(
          "TOrvelDataManager.CloseTable - Cannot flush changes. Probably the table is opened by "
          "other application.");
    }
    if (acquired) ReleaseFiles();
  }
  ReleaseAll();
  if (blobs_disagree)
    throw Exception(
        "TOrvelDataManager.CloseTable - tableHeader.RecordCount <> blobFileHeader.RecordCount");
}

void TOrvelDataManager::CreateTable(const TFieldDefs& field_defs, const TIndexDefs& index_defs,
                                    int32_t capacity_hint, bool auto_indexes) {
  TLockScope lock(*this);
  if (opened_) throw Exception("TOrvelDataManager.CreateTable - table is opened.");
  CheckDefinitionNames(field_defs, index_defs);
  capacity_hint_ = capacity_hint;
  InitTableHeader();
  TableHeaderType& header = table_.Header();

  int identifier_def = -1;
  for (int i = 0; i < field_defs.Count() && identifier_def < 0; ++i)
    if (field_defs[i]->DataType() == ftAutoInc) identifier_def = i;
  if (identifier_def >= 0) {
    header.IdFieldName = field_defs[identifier_def]->Name();
    header.IdVisibility = kIdentifierVisible;
  } else {
    do {
      header.IdFieldName = "id" + std::to_string(Random(kRandomNameRange));
    } while (field_defs.IndexOf(header.IdFieldName) >= 0);
    header.IdVisibility = kIdentifierHidden;
  }

  std::vector<FieldHeaderType> fields;
  for (int i = 0; i < field_defs.Count(); ++i) {
    if (i == identifier_def) continue;
    const TFieldDef& def = *field_defs[i];
    if (def.Name().empty()) throw Exception("TOrvelDataManager.CreateTable - field name is empty.");
    FieldHeaderType field;
    field.Name = def.Name();
    field.Type = def.DataType() == ftAutoInc ? ftInteger : def.DataType();
    field.Size = StoredFieldSize(field.Type, def.Size());
    field.Required = def.Required();
    fields.push_back(std::move(field));
  }
  table_.SetFields(std::move(fields));

  try {
    if (table_.HasBlobs()) CreateBlobStore();
    OpenFiles(true);
    headers_loaded_ = true;
    table_.SaveTableHeaders();
    if (!table_.HasBlobs()) {
      for (TTableFileKind kind : {tfkBlobData, tfkBlobIndex}) {
        table_.ReleaseFile(kind);
        database_manager_->DeleteFile(table_.FileName(kind), store_mode_);
      }
    } else {
      blobs_->SaveBLOBHeaders(true);
    }
    indexes_->CreateAutoIndexes(auto_indexes);
    for (int i = 0; i < index_defs.Count(); ++i) {
      const TIndexDef& def = *index_defs[i];
      if (def.Name()[0] == '@') continue;
      indexes_->AddIndex(def.Name(), def.Fields(), true, def.CaseInsFields(), def.DescFields(),
                         def.Options());
    }
    indexes_->SaveIndexFile();
  } catch (...) {
    ReleaseAll();
    throw;
  }
  ReleaseAll();
}

void TOrvelDataManager::CheckClosed(const char* operation) const {
  if (opened_)
    throw Exception(fmt::format("Error in TOrvelDataManager.{} - table \"{}\" is opened.",
                                operation, TableName()));
  if (database_manager_ == nullptr)
    throw Exception(
        fmt::format("TOrvelDataManager.{} - nil pointer to DatabaseManager.", operation));
}

namespace {

// The order in which a table's files are deleted and renamed: the .dat, which makes the table
// exist, goes last.
constexpr TTableFileKind kRemovalOrder[] = {tfkBlobData, tfkBlobIndex, tfkIndex, tfkData};

}  // namespace

std::vector<std::string> TOrvelDataManager::TableFileNames(const TOrvelTableFiles& table) const {
  std::vector<std::string> names{table.TableName() + kJournalExtension};
  for (TTableFileKind kind : kRemovalOrder) names.push_back(table.FileName(kind));
  return names;
}

bool TOrvelDataManager::RecoverJournal() {
  if (store_mode_ == kStoreModeMemory || database_manager_ == nullptr) return true;
  const std::string name = JournalFileName();
  if (!database_manager_->FileExists(name, store_mode_)) return true;
  std::string journal_table;
  std::vector<TJournalChange> changes;
  bool complete = false;
  try {
    TAbstractFile* journal = database_manager_->OpenFile(name, store_mode_, false, false, false);
    if (journal == nullptr) return false;
    try {
      complete = ReadFlushJournal(*journal, journal_table, changes);
    } catch (...) {
      database_manager_->CloseFile(journal);
      throw;
    }
    database_manager_->CloseFile(journal);
  } catch (const std::exception&) {
    return false;
  }
  if (complete && read_only_)
    throw Exception(fmt::format(
        "TOrvelDataManager.LoadTable - table \"{}\" has an unfinished flush in \"{}\"; open it "
        "writable once to complete it.",
        TableName(), name));
  if (complete) {
    TAbstractFile* files[kTableFileKindCount] = {};
    bool applied = false;
    try {
      for (const TJournalChange& change : changes)
        if (files[change.kind] == nullptr)
          files[change.kind] = database_manager_->OpenFile(table_.FileName(change.kind),
                                                           store_mode_, false, false, false);
      ApplyJournalChanges(changes, files);
      applied = true;
    } catch (const std::exception&) {
    }
    for (TAbstractFile* file : files)
      if (file != nullptr) database_manager_->CloseFile(file);
    if (!applied) return false;
  }
  // Nothing of an incomplete journal was applied: the files are as before its flush.
  return database_manager_->DeleteFile(name, store_mode_);
}

void TOrvelDataManager::DeleteTable() {
  TLockScope lock(*this);
  CheckClosed("DeleteTable");
  for (const std::string& name : TableFileNames(table_)) {
    if (database_manager_->FileExists(name, store_mode_) &&
        !database_manager_->DeleteFile(name, store_mode_))
      throw Exception("Error in TOrvelDataManager.DeleteTable - " + name +
                      " file cannot be deleted.");
  }
}

void TOrvelDataManager::RenameTable(const std::string& new_name) {
  TLockScope lock(*this);
  CheckClosed("RenameTable");
  TOrvelTableFiles renamed(new_name, *this);
  const std::vector<std::string> old_files = TableFileNames(table_);
  const std::vector<std::string> new_files = TableFileNames(renamed);
  for (size_t i = 0; i < old_files.size(); ++i) {
    const std::string& old_file = old_files[i];
    const std::string& new_file = new_files[i];
    if (!database_manager_->FileExists(old_file, store_mode_)) {
      // A journal left under the new name would be replayed onto this table's files.
      if (i == 0 && !SameText(old_file, new_file) &&
          database_manager_->FileExists(new_file, store_mode_) &&
          !database_manager_->DeleteFile(new_file, store_mode_))
        throw Exception("Error in TOrvelDataManager.RenameTable - " + new_file +
                        " file cannot be deleted");
      continue;
    }
    if (!SameText(old_file, new_file) && database_manager_->FileExists(new_file, store_mode_) &&
        !database_manager_->DeleteFile(new_file, store_mode_))
      throw Exception("Error in TOrvelDataManager.RenameTable - " + old_file +
                      " file cannot be overwritten");
    if (!database_manager_->RenameFile(old_file, new_file, store_mode_))
      throw Exception("Error in TOrvelDataManager.RenameTable - " + old_file +
                      " file cannot be renamed.");
  }
  table_.SetTableName(new_name);
}

void TOrvelDataManager::SaveTable() {
  TLockScope lock(*this);
  if (!opened_) throw Exception("TOrvelDataManager.SaveTable - table is not opened.");
  FlushBuffers();
  indexes_->CheckIndexFile();
  // Flushed files only: the copies are taken from the store's own file objects.
  for (TTableFileKind kind : kRemovalOrder) {
    if ((kind == tfkBlobData || kind == tfkBlobIndex) && !HasBlobs()) continue;
    if (TAbstractFile* file = table_.File(kind)) file->Flush();
    database_manager_->SaveToStore(table_.FileName(kind));
  }
}

void TOrvelDataManager::ConvertToCurrentTable() {
  TLockScope lock(*this);
  static constexpr const char* kOp = "Error in TOrvelDataManager.ConvertToCurrentTable - ";
  if (read_only_ || files_opened_read_only_)
    throw Exception(std::string(kOp) + "table is in ReadOnly mode!");
  TableHeaderType& header = table_.Header();
  const double version = header.Version;
  TRecordGeometry converted;
  std::string problem;
  // The records stay where and as they are, so the new format must lay them out the same way.
  const bool same_records =
      ComputeRecordGeometry(table_.Fields(), kConvertedVersion, converted, problem) &&
      converted.RecordSize == table_.Geometry().RecordSize &&
      converted.FieldOffsets == table_.Geometry().FieldOffsets &&
      converted.NullBytes == table_.Geometry().NullBytes;
  if ((version < kOldestBlobVersion && HasBlobs()) || !same_records)
    throw Exception(fmt::format(
        "{}this table format is not supported, version = {:.2f}\r\nPlease contact the Orvabase "
        "support team to convert this table to the current format.",
        kOp, version));

  if (version < kAutoIndexVersion) {
    for (const FieldHeaderType& field : table_.Fields()) {
      if (field.Type != ftString && field.Type != ftWideString) continue;
      const std::string name = "@@" + field.Name;
      if (indexes_->IndexExists(name) || name.size() > size_t(kShortNameCapacity)) continue;
      indexes_->AddIndex(name, field.Name, true, "", "", kIxCaseInsensitive);
    }
    // Date and time keys are ordered as this format compares them; rebuilding every index is
    // simpler than picking those with such a field and costs one sort each.
    indexes_->InvalidateAll();
    indexes_->BuildAllIndexes();
  }

  if (converting_ && blobs_) {
    TMemoryStream value;
    for (int32_t r = 0; r < RecordCount(); ++r)
      for (int32_t f = 0; f < table_.Geometry().BlobFields; ++f) {
        ReadBLOBValue(value, f, r);
        WriteBLOBValue(value, f, r);
      }
  }

  header.Version = kConvertedVersion;
  ++header.ChangeCounter;
  FlushBuffers();
  indexes_->SaveIndexFile();
  if (blobs_) blobs_->SaveBLOBHeaders(false);
}

}  // namespace orv
