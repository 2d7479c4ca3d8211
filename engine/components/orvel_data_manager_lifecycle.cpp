#include <fmt/format.h>

#include <cctype>
#include <string>
#include <vector>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/storage/blob_index_image.h"
#include "engine/storage/buffer_log.h"
#include "engine/storage/index_list.h"
#include "engine/storage/record_reader.h"
#include "engine/storage/records_array.h"
#include "platform/exception.h"
#include "platform/field_defs.h"
#include "platform/index_defs.h"
#include "platform/random.h"
#include "platform/value_text.h"

namespace orv {

namespace {

constexpr size_t kMaxNameLength = 253;
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
    // At design time the password dialog asks again here until the password fits; the
    // application never runs there, so a wrong password is final.
    if (table_.Header().Encrypted && !CheckPassword()) {
      ReleaseAll();
      return kLoadTableWrongPassword;
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
    // Formats below 2.199 are converted by ConvertToCurrentTable here; until then they open as
    // they are stored. A table with BLOB fields brings its BLOB record count to the record
    // count here as well, through the BLOB store.
    if (IsDesignTime()) {
      design_change_counter_ = header.ChangeCounter;
      ReleaseFiles();
    }
  } catch (...) {
    ReleaseAll();
    throw;
  }
  fully_opened_ = true;
  return kLoadTableOpened;
}

void TOrvelDataManager::CloseTable() {
  TLockScope lock(*this);
  const bool needs_flush =
      !read_only_ && !files_opened_read_only_ && fully_opened_ &&
      (!IsDesignTime() || table_.Header().ChangeCounter != design_change_counter_);
  if (needs_flush) {
    try {
      AcquireFiles();
      // With the BLOB store plugged in, a BLOB record count other than the record count
      // refuses the flush here.
      FlushBuffers();
      indexes_->CheckIndexFile();
      CutDataFile(true);
    } catch (const std::exception&) {
      ReportCloseError(
          "TOrvelDataManager.CloseTable - Cannot flush changes. Probably the table is opened by "
          "other application.");
    }
  }
  ReleaseAll();
  if (IsDesignTime() && database_manager_ != nullptr) database_manager_->ReleaseStore();
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
    OpenFiles(true);
    headers_loaded_ = true;
    table_.SaveTableHeaders();
    if (!table_.HasBlobs()) {
      for (TTableFileKind kind : {tfkBlobData, tfkBlobIndex}) {
        table_.ReleaseFile(kind);
        database_manager_->DeleteFile(table_.FileName(kind), store_mode_);
      }
    } else {
      WriteEmptyBlobIndex();
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

void TOrvelDataManager::WriteEmptyBlobIndex() {
  TBlobIndexImage image;
  image.Header.BlockSize = requested_block_size_;
  image.Header.BlobFieldsPerRecord = table_.Geometry().BlobFields;
  const std::vector<uint8_t> bytes = EncodeBlobIndexImage(image);
  WriteBlobIndexFile(*table_.File(tfkBlobIndex), bytes);
}

void TOrvelDataManager::LoadBlobHeaders() {
  // TOrvelBlobStore::LoadBLOBHeaders plugs in here; until then BLOB values are not read.
}

void TOrvelDataManager::SaveBlobHeaders() {
  // TOrvelBlobStore::SaveBLOBHeaders plugs in here; until then no BLOB header changes.
}

void TOrvelDataManager::FlushBlobFiles() {
  for (TTableFileKind kind : {tfkBlobData, tfkBlobIndex})
    if (TAbstractFile* file = table_.File(kind)) file->Flush();
}

}  // namespace orv
