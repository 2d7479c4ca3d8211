#include "engine/components/orvel_dataset.h"

#include <fmt/format.h>

#include <cstring>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_data_manager_list.h"
#include "engine/components/orvel_dataset_internal.h"
#include "engine/components/orvel_session.h"
#include "engine/files/little_endian.h"
#include "engine/storage/index_list.h"
#include "engine/storage/search_parser.h"
#include "engine/storage/search_records.h"
#include "platform/value_text.h"

namespace orv {

namespace dataset_internal {

void FreeDataManager(TOrvelDataManager* dm) {
  if (dm == nullptr) return;
  TOrvelLockGuard list_lock(DataManagers().Lock());
  delete dm;
}

std::vector<std::string> SplitFieldList(std::string_view list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(",;", start);
    if (end == std::string_view::npos) end = list.size();
    std::string name = Trim(list.substr(start, end - start));
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) {
    if (!out.empty()) out += ';';
    out += name;
  }
  return out;
}

}  // namespace dataset_internal

using namespace dataset_internal;

TOrvelDataset::TSessionScope::TSessionScope(const TOrvelDataset& dataset)
    : session_(&dataset.DatasetSession()) {
  session_->LockSession();
}

TOrvelDataset::TSessionScope::~TSessionScope() {
  session_->UnlockSession();
}

TOrvelDataset::TOrvelDataset(TComponent* owner) : TDataSet(owner) {
  AdoptOwnerSession();
}

TOrvelDataset::~TOrvelDataset() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; the table is released by DetachTable's own clean-up.
  }
  DetachTable();
}

void TOrvelDataset::SetSessionName(std::string name) {
  CheckInactive();
  session_name_ = std::move(name);
}

void TOrvelDataset::SetDatabaseName(std::string name) {
  CheckInactive();
  database_name_ = std::move(name);
}

void TOrvelDataset::SetDatabaseFileName(std::string name) {
  CheckInactive();
  database_file_name_ = std::move(name);
}

void TOrvelDataset::SetReadOnly(bool read_only) {
  if (read_only == read_only_) return;
  if (Active()) Close();
  read_only_ = read_only;
}

void TOrvelDataset::SetInMemory(bool in_memory) {
  CheckInactive();
  in_memory_ = in_memory;
}

void TOrvelDataset::SetTemporaryFilesMode(bool on) {
  CheckInactive();
  temporary_files_mode_ = on;
}

bool TOrvelDataset::DatasetEncrypted() const {
  if (dm_ != nullptr && dm_->IsOpen()) return dm_->Table().Header().Encrypted;
  return encrypted_;
}

uint8_t TOrvelDataset::StoreMode() const {
  if (temporary_files_mode_) return 4;
  if (in_memory_) return 3;
  return 0;
}

void TOrvelDataset::ApplyDataManagerSettings(TOrvelDataManager& dm) const {
  dm.SetStoreMode(StoreMode());
  dm.SetPassword(password_);
  dm.SetReadOnly(read_only_);
  dm.SetCacheDisabled(!cache_enabled_);
  dm.SetRecordCapacityHint(temporary_capacity_);
  dm.SetRequestedEncrypted(encrypted_);
  dm.SetRequestedBlobCompression(blob_compression_);
  dm.SetRequestedBlobBlockSize(blob_block_size_);
}

void TOrvelDataset::OpenCursor(bool info_query) {
  SetDatabaseUse(0);
  try {
    TDataSet::OpenCursor(info_query);
  } catch (...) {
    ClearDatabaseUse(0);
    throw;
  }
}

void TOrvelDataset::CloseCursor() {
  try {
    TDataSet::CloseCursor();
  } catch (...) {
    ClearDatabaseUse(0);
    throw;
  }
  ClearDatabaseUse(0);
}

void TOrvelDataset::OpenTable() {
  TSessionScope lock(*this);
  const bool own_use = !HasDatabaseUse(0);
  if (own_use) SetDatabaseUse(0);
  try {
    TOrvelDataManager* dm = mvGetDataManager(table_name_, DatabaseManager());
    if (dm->DatasetCount() == 0) ApplyDataManagerSettings(*dm);
    int code = 0;
    try {
      code = dm->ConnectDataset(this);
    } catch (...) {
      if (dm->DatasetCount() == 0)
        FreeDataManager(dm);
      else
        dm->DisconnectDataset(this);
      throw;
    }
    if (code != kLoadTableOpened) {
      FreeDataManager(dm);
      const std::string quoted = "\"" + table_name_ + "\"";
      switch (code) {
        case kLoadTableMissing:
          throw Exception("TOrvelDataset.OpenTable - table " + quoted + " does not exist.");
        case kLoadTableNoPassword:
          throw Exception("TOrvelDataset.OpenTable - no password specified.");
        case kLoadTableWrongPassword:
          throw Exception("TOrvelDataset.OpenTable - invalid password.");
        case kLoadTableFilesUnusable:
          throw Exception("TOrvelDataset.OpenTable - table " + quoted +
                          " does not exist or some files of table are missed or locked.");
        case kLoadTableBlobHeadersUnreadable:
          throw Exception("TOrvelDataset.OpenTable - table " + quoted +
                          " has a corrupted blob headers.");
        default:
          throw Exception("TOrvelDataset.OpenTable - error.");
      }
    }
    dm_ = dm;
    search_ = std::make_unique<TOrvelRecordSearch>(dm_->Table(), *dm_, dm_->Indexes());
    filter_parser_ = std::make_unique<TSearchParser>(*search_);
    master_parser_ = std::make_unique<TSearchParser>(*search_);
    find_parser_ = std::make_unique<TSearchParser>(*search_);
    filter_parsed_ = false;
    cursor_open_ = true;
  } catch (...) {
    if (own_use) ClearDatabaseUse(0);
    throw;
  }
  if (own_use) ClearDatabaseUse(0);
  SetBookmarkSize(8);
  visible_.Clear();
  position_ = -1;
  position_id_ = -1;
  pending_id_ = -1;
  list_built_ = false;
  ReadIndexDefs();
  blob_slots_.clear();
  if (dm_->Table().HasBlobs()) blob_slots_.resize(dm_->Table().Fields().size());
}

void TOrvelDataset::DetachTable() {
  FreeBlobStreams();
  blob_slots_.clear();
  filter_parser_.reset();
  master_parser_.reset();
  find_parser_.reset();
  search_.reset();
  found_records_.clear();
  found_cursor_ = -1;
  cursor_open_ = false;
  visible_.Clear();
  position_ = -1;
  position_id_ = -1;
  list_built_ = false;
  TOrvelDataManager* dm = dm_;
  dm_ = nullptr;
  if (dm != nullptr) dm->DisconnectDataset(this);
}

void TOrvelDataset::InternalOpen() {
  HoldRebuild();
  try {
    OpenTable();
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SelectIndexOnOpen();
    InitKeyBuffers();
    range_active_ = false;
  } catch (...) {
    hold_count_ = 0;
    FreeKeyBuffers();
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    DetachTable();
    throw;
  }
  ReleaseRebuild(true);
}

void TOrvelDataset::InternalClose() {
  FreeKeyBuffers();
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  DetachTable();
  ClearProjection();
  direct_insert_ = false;
  direct_buffer_.clear();
  sql_record_ = nullptr;
}

void TOrvelDataset::SelectIndexOnOpen() {
  TOrvelIndexList& indexes = dm_->Indexes();
  current_index_ = 0;
  if (!index_name_.empty()) {
    const int32_t found = index_defs_.IndexOf(index_name_) >= 0 ? indexes.IndexNo(index_name_) : -1;
    if (found < 0)
      throw Exception("TOrvelDataSet.InternalOpen - Invalid index name '" + index_name_ + "'");
    current_index_ = found;
  } else if (!index_field_names_.empty()) {
    const int32_t found = search_->FindIndexForFields(index_field_names_, "*", true);
    if (found < 0)
      throw Exception("TOrvelDataSet.InternalOpen - Invalid index field names '" +
                      index_field_names_ + "'");
    current_index_ = found;
  }
}

void TOrvelDataset::SetCurrentIndex(int32_t index_no) {
  if (dm_ == nullptr || index_no < 0 || index_no >= dm_->Indexes().Count())
    throw Exception(
        fmt::format("Error in TOrvelDataSet.OpenIndex - index number \"{}\" not found!", index_no));
  current_index_ = index_no;
  if (Active()) {
    for (auto& header : key_headers_) header.field_count = IndexFieldCount();
    RebuildVisibleList();
  }
}

void TOrvelDataset::ReadFieldDefsFromTable() {
  const TOrvelTableFiles& table = dm_->Table();
  TFieldDefs& defs = FieldDefs();
  defs.Clear();
  if (!projection_names_.empty()) {
    projection_map_.clear();
    for (size_t i = 0; i < projection_names_.size(); ++i) {
      const int32_t field_no = table.InternalGetFieldNo(projection_names_[i], true);
      projection_map_.push_back(field_no);
      const std::string& output =
          i < projection_output_.size() ? projection_output_[i] : projection_names_[i];
      if (field_no == kIdentifierFieldNo) {
        defs.Add(output, ftAutoInc, 0, false);
        continue;
      }
      const FieldHeaderType& header = table.Fields()[static_cast<size_t>(field_no)];
      defs.Add(output, header.Type, DefinitionSize(header), header.Required);
    }
  } else {
    for (const FieldHeaderType& header : table.Fields())
      defs.Add(header.Name, header.Type, DefinitionSize(header), header.Required);
    if (table.Header().IdVisibility == kIdentifierVisible)
      defs.Add(table.Header().IdFieldName, ftAutoInc, 0, false);
  }
  stored_field_defs_.Assign(defs);
  defs.SetUpdated(true);
}

void TOrvelDataset::InternalInitFieldDefs() {
  if (dm_ != nullptr && cursor_open_) {
    ReadFieldDefsFromTable();
    return;
  }
  OpenTable();
  try {
    ReadFieldDefsFromTable();
  } catch (...) {
    DetachTable();
    throw;
  }
  DetachTable();
}

void TOrvelDataset::ReadIndexDefs() {
  index_defs_.Clear();
  stored_index_defs_.Clear();
  const TOrvelTableFiles& table = dm_->Table();
  TOrvelIndexList& indexes = dm_->Indexes();
  const bool id_visible = table.Header().IdVisibility == kIdentifierVisible;
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    const IndexHeaderType& header = indexes.Header(i);
    std::vector<std::string> names, ci_names, desc_names;
    for (int32_t j = 0; j < header.FieldCount(); ++j) {
      const int32_t field_no = header.FieldNumbers[static_cast<size_t>(j)];
      std::string name = field_no == kIdentifierFieldNo
                             ? table.Header().IdFieldName
                             : table.Fields()[static_cast<size_t>(field_no)].Name;
      if (header.CaseInsensitiveAll || header.CaseInsensitive(j)) ci_names.push_back(name);
      if (header.DescendingAll || !header.Ascending(j)) desc_names.push_back(name);
      names.push_back(std::move(name));
    }
    TIndexOptions options = 0;
    if (header.Options & ixPrimary) options |= ixPrimary;
    const bool starts_with_id =
        !header.FieldNumbers.empty() && header.FieldNumbers[0] == kIdentifierFieldNo;
    if ((header.Options & ixUnique) && (id_visible || !starts_with_id)) options |= ixUnique;
    if (header.DescendingAll || (header.Options & ixDescending)) options |= ixDescending;
    if (header.CaseInsensitiveAll || (header.Options & ixCaseInsensitive))
      options |= ixCaseInsensitive;
    for (TIndexDefs* defs : {&index_defs_, &stored_index_defs_}) {
      if (defs == &stored_index_defs_ && (header.IsAutomatic() || header.IsTemporary())) continue;
      TIndexDef* def = defs->Add(header.Name, JoinNames(names), options);
      def->SetCaseInsFields(JoinNames(ci_names));
      def->SetDescFields(JoinNames(desc_names));
    }
  }
  index_defs_.SetUpdated(true);
}

void TOrvelDataset::UpdateIndexDefs() {
  if (dm_ != nullptr && cursor_open_) ReadIndexDefs();
}

void TOrvelDataset::InternalCreateTable() {
  if (Active())
    throw Exception(
        "TOrvelDataSet.InternalCreateTable - Cannot perform this operation on an open DataSet.");
  if (blob_block_size_ < 1)
    throw Exception("TOrvelDataSet.InternalCreateTable - BlobBlockSize must be > 0");
  if (in_memory_ && database_name_.empty() && database_file_name_.empty())
    database_name_ = "MEMORY";
  TSessionScope lock(*this);
  SetDatabaseUse(3);
  try {
    TOrvelDataManager* dm = mvGetDataManager(table_name_, DatabaseManager());
    if (dm->DatasetCount() > 0)
      throw Exception("TOrvelDataSet.InternalCreateTable - Table is busy, table " + table_name_);
    try {
      ApplyDataManagerSettings(*dm);
      dm->CreateTable(FieldDefs(), index_defs_, temporary_capacity_, auto_indexes_);
    } catch (...) {
      FreeDataManager(dm);
      throw;
    }
    FreeDataManager(dm);
  } catch (...) {
    ClearDatabaseUse(3);
    throw;
  }
  ClearDatabaseUse(3);
}

void TOrvelDataset::InternalDeleteTable() {
  if (Active()) throw Exception("Error in TOrvelDataset.InternalDeleteTable - table is opened.");
  TSessionScope lock(*this);
  SetDatabaseUse(12);
  try {
    TOrvelDataManager* dm = mvGetDataManager(table_name_, DatabaseManager());
    if (!temporary_files_mode_ && dm->DatasetCount() > 0)
      throw Exception("TOrvelDataSet.InternalDeleteTable - Table is busy, table " + table_name_);
    try {
      dm->SetStoreMode(StoreMode());
      dm->DeleteTable();
    } catch (...) {
      FreeDataManager(dm);
      throw;
    }
    FreeDataManager(dm);
  } catch (...) {
    ClearDatabaseUse(12);
    throw;
  }
  ClearDatabaseUse(12);
}

int32_t TOrvelDataset::TableFieldOf(const TField* field) const {
  if (field == nullptr || dm_ == nullptr) return kFieldNotFound;
  const int no = field->FieldNo();
  if (no < 1) return kFieldNotFound;
  if (!projection_map_.empty()) {
    if (static_cast<size_t>(no) > projection_map_.size()) return kFieldNotFound;
    return projection_map_[static_cast<size_t>(no - 1)];
  }
  const auto count = static_cast<int>(dm_->Table().Fields().size());
  if (no <= count) return no - 1;
  if (no == count + 1 && dm_->Table().Header().IdVisibility == kIdentifierVisible)
    return kIdentifierFieldNo;
  return kFieldNotFound;
}

int32_t TOrvelDataset::RecordImageSize() const {
  return dm_ != nullptr ? dm_->Table().Geometry().RecordSize : 0;
}

int32_t TOrvelDataset::IdentifierOf(const uint8_t* image) const {
  return LoadI32(image + dm_->Table().Geometry().IdentifierOffset());
}

int32_t TOrvelDataset::IndexFieldCount() const {
  if (dm_ == nullptr || current_index_ < 0 || current_index_ >= dm_->Indexes().Count()) return 0;
  return dm_->Indexes().Header(current_index_).FieldCount();
}

TField* TOrvelDataset::GetIndexField(int i) {
  if (i < 0 || i >= IndexFieldCount())
    throw Exception(
        fmt::format("Error in TOrvelDataSet.GetIndexField - invalid index, index = {}.", i));
  const int32_t field_no =
      dm_->Indexes().Header(current_index_).FieldNumbers[static_cast<size_t>(i)];
  for (int f = 0; f < FieldCount(); ++f) {
    TField* field = Fields()[f];
    if (field->FieldKind() == fkData && TableFieldOf(field) == field_no) return field;
  }
  throw Exception(
      fmt::format("Error in TOrvelDataSet.GetIndexField - no such field, FieldNo = {}.", field_no));
}

bool TOrvelDataset::GetIsIndexField(const TField* field) {
  if (dm_ == nullptr || field == nullptr || field->FieldKind() != fkData || IndexFieldCount() == 0)
    return false;
  const int32_t field_no = TableFieldOf(field);
  if (field_no == kFieldNotFound) return false;
  const IndexHeaderType& header = dm_->Indexes().Header(current_index_);
  for (int32_t number : header.FieldNumbers)
    if (number == field_no) return true;
  return false;
}

}  // namespace orv
