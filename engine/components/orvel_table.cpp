#include "engine/components/orvel_table.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/common/collation.h"
#include "engine/components/orvel_callbacks.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/components/orvel_dataset_internal.h"
#include "engine/storage/blob_store.h"
#include "engine/storage/index_list.h"
#include "engine/storage/search_records.h"
#include "platform/exception.h"
#include "platform/field.h"

namespace orv {

using dataset_internal::FreeDataManager;
using dataset_internal::SplitFieldList;

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return CollateCompareI(a.c_str(), b.c_str()) == 0;
}

// Holds a database-use flag for one operation.
class TDatabaseUseScope {
 public:
  TDatabaseUseScope(TOrvelEngineDataset& dataset, int flag) : dataset_(dataset), flag_(flag) {
    owned_ = !dataset_.HasDatabaseUse(flag_);
    if (owned_) dataset_.SetDatabaseUse(flag_);
  }
  ~TDatabaseUseScope() {
    if (owned_) dataset_.ClearDatabaseUse(flag_);
  }
  TDatabaseUseScope(const TDatabaseUseScope&) = delete;
  TDatabaseUseScope& operator=(const TDatabaseUseScope&) = delete;

 private:
  TOrvelEngineDataset& dataset_;
  int flag_;
  bool owned_;
};

class TDataManagerLock {
 public:
  explicit TDataManagerLock(TOrvelDataManager& dm) : dm_(dm) { dm_.Lock(); }
  ~TDataManagerLock() { dm_.Unlock(); }
  TDataManagerLock(const TDataManagerLock&) = delete;
  TDataManagerLock& operator=(const TDataManagerLock&) = delete;

 private:
  TOrvelDataManager& dm_;
};

// The index builds of one operation report to the table's OnBuildIndexesProgress when it is
// assigned, else to the process's progress window unless the table suppresses it.
class TIndexProgressScope {
 public:
  TIndexProgressScope(TOrvelTable& table, TOrvelIndexList& indexes,
                      const TBuildIndexesProgressEvent& event, bool suppress_window)
      : indexes_(indexes), was_suppressed_(indexes.ProgressSuppressed()) {
    indexes_.SetProgressSuppressed(!event && suppress_window);
    if (!event) return;
    saved_ = IndexProgressFactory();
    replaced_ = true;
    SetIndexProgressFactory([&table, event](const std::string&, TOrvelSetControlsEnabled) {
      return [&table, event](bool starting, bool finished, double percent) {
        event(&table, percent, starting, finished);
      };
    });
  }
  ~TIndexProgressScope() {
    indexes_.SetProgressSuppressed(was_suppressed_);
    if (replaced_) SetIndexProgressFactory(saved_);
  }
  TIndexProgressScope(const TIndexProgressScope&) = delete;
  TIndexProgressScope& operator=(const TIndexProgressScope&) = delete;

 private:
  TOrvelIndexList& indexes_;
  bool was_suppressed_;
  TOrvelIndexProgressFactory saved_;
  bool replaced_ = false;
};

// The field types an imported field takes; ftUnknown for a type that is skipped.
TFieldType ImportedType(TFieldType type) {
  switch (type) {
    case ftBCD:
      return ftFloat;
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
      return ftBlob;
    default:
      return IsStoredFieldType(type) || type == ftAutoInc ? type : ftUnknown;
  }
}

bool HasGraphicHeader(TStream& stream) {
  uint8_t head[10] = {};
  stream.Seek(0, soBeginning);
  if (stream.Read(head, sizeof head) != sizeof head) return false;
  return head[0] == 1 && head[1] == 0 && head[2] == 0 && head[3] == 1 && head[8] == 'B' &&
         head[9] == 'M';
}

}  // namespace

void TOrvelMasterDataLink::SetFieldNames(std::string names) {
  field_names_ = std::move(names);
  UpdateFields();
}

TDataSet* TOrvelMasterDataLink::DetailDataSet() {
  return &table_;
}

void TOrvelMasterDataLink::UpdateFields() {
  fields_.clear();
  TDataSet* master = DataSet();
  if (Active() && master != nullptr && !field_names_.empty())
    fields_ = master->GetFieldList(field_names_);
  if (table_.Active() && !table_.IsDestroying()) table_.MasterChanged();
}

void TOrvelMasterDataLink::ActiveChanged() {
  UpdateFields();
}

void TOrvelMasterDataLink::LayoutChanged() {
  UpdateFields();
}

void TOrvelMasterDataLink::RecordChanged(TField* field) {
  TDataSet* master = DataSet();
  if (master == nullptr || master->State() == dsSetKey || !table_.Active() || fields_.empty())
    return;
  if (field != nullptr && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
  table_.MasterChanged();
}

void TOrvelMasterDataLink::CheckBrowseMode() {
  if (table_.Active()) table_.CheckBrowseMode();
}

TOrvelTable::TOrvelTable(TComponent* owner) : TOrvelDataset(owner) {}

TOrvelTable::~TOrvelTable() {
  Close();
  master_link_.SetDataSource(nullptr);
}

void TOrvelTable::SetTableName(std::string name) {
  CheckInactive();
  table_name_ = std::move(name);
  DataEvent(dePropertyChange, 0);
}

bool TOrvelTable::Encrypted() const {
  return dm_ != nullptr && dm_->IsOpen() ? dm_->Table().Header().Encrypted : encrypted_;
}

uint8_t TOrvelTable::BLOBCompression() const {
  return dm_ != nullptr && dm_->IsOpen() ? dm_->Table().Header().BlobCompression
                                         : blob_compression_;
}

int32_t TOrvelTable::BLOBBlockSize() const {
  if (dm_ != nullptr && dm_->IsOpen() && dm_->BlobStore() != nullptr)
    return dm_->BlobStore()->BlockSize();
  return blob_block_size_;
}

void TOrvelTable::SetBLOBBlockSize(int32_t size) {
  if (!Active()) blob_block_size_ = size;
}

void TOrvelTable::SetPassword(std::string password) {
  if (password.size() > 255) password.resize(255);
  password_ = std::move(password);
}

void TOrvelTable::SetExclusive(bool on) {
  CheckInactive();
  exclusive_ = on;
}

bool TOrvelTable::AutoIndexes() const {
  if (dm_ == nullptr || !dm_->IsOpen()) return auto_indexes_;
  TOrvelIndexList& indexes = dm_->Indexes();
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    const IndexHeaderType& header = indexes.Header(i);
    if (header.IsAutomatic() && !header.FieldNumbers.empty() &&
        header.FieldNumbers[0] != kIdentifierFieldNo)
      return true;
  }
  return false;
}

void TOrvelTable::SetInMemory(bool in_memory) {
  if (in_memory == in_memory_) return;
  if (!Active()) {
    TOrvelDataset::SetInMemory(in_memory);
    return;
  }
  if (in_memory) {
    Close();
    in_memory_ = true;
    Open();
    return;
  }
  SaveTable();
  Close();
  InternalDeleteTable();
  in_memory_ = false;
  Open();
}

void TOrvelTable::SetMasterFields(std::string names) {
  master_link_.SetFieldNames(std::move(names));
}

void TOrvelTable::SetMasterSource(TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source))
    throw Exception("TOrvelDataSet.SetDataSource - Invalid DataSource");
  master_link_.SetDataSource(source);
}

TDataSet* TOrvelTable::MasterDataSet() const {
  return master_link_.Active() ? master_link_.DataSet() : nullptr;
}

std::vector<TField*> TOrvelTable::MasterFields() const {
  return master_link_.Fields();
}

void TOrvelTable::MasterChanged() {
  CheckBrowseMode();
  TSessionScope lock(*this);
  DoBeforeScroll();
  ApplyMasterCondition();
  First();
  DoAfterScroll();
}

void TOrvelTable::DoOnNewRecord() {
  if (MasterConditionUsable()) {
    const std::vector<TField*> masters = MasterFields();
    for (size_t i = 0; i < masters.size(); ++i) {
      TField* detail = GetIndexField(static_cast<int>(i));
      TField* master = masters[i];
      if (master->IsNull())
        detail->Clear();
      else if (master->DataType() == ftLargeint)
        detail->SetAsLargeInt(master->AsLargeInt());
      else
        detail->SetValue(master->Value());
    }
  }
  TDataSet::DoOnNewRecord();
}

bool TOrvelTable::TableExistsInStore() {
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 3);
  TOrvelDatabaseManager* manager = DatabaseManager();
  return manager != nullptr && manager->FileExists(table_name_ + ".dat", StoreMode());
}

int TOrvelTable::OpenDatasetCount() {
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 3);
  TOrvelDataManager* dm = mvGetDataManager(table_name_, DatabaseManager());
  const int count = dm->DatasetCount();
  if (count == 0) FreeDataManager(dm);
  return count;
}

bool TOrvelTable::Exists() {
  if (Active()) return true;
  try {
    return TableExistsInStore();
  } catch (const std::exception&) {
    return false;
  }
}

void TOrvelTable::InternalCreateTable() {
  if (Active())
    throw Exception(
        "TOrvelDataSet.InternalCreateTable - Cannot perform this operation on an open DataSet.");
  if (in_memory_ && database_name_.empty() && database_file_name_.empty())
    database_name_ = "MEMORY";
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 3);
  if (OpenDatasetCount() > 0)
    throw Exception("TOrvelDataSet.InternalCreateTable - Table is busy, table " + table_name_);
  if (blob_block_size_ < 1)
    throw Exception("TOrvelDataSet.InternalCreateTable - BlobBlockSize must be > 0");
  for (int i = 0; i < FieldCount(); ++i) {
    TField* field = Fields()[i];
    if (field->FieldKind() != fkData || FieldDefs().IndexOf(field->FieldName()) >= 0) continue;
    FieldDefs().Add(field->FieldName(), field->DataType(), field->Size(), field->Required());
  }
  if (TableExistsInStore()) InternalDeleteTable();
  TOrvelDataset::InternalCreateTable();
}

void TOrvelTable::InternalDeleteTable() {
  TOrvelDataset::InternalDeleteTable();
}

void TOrvelTable::CreateTable() {
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 3);
  InternalCreateTable();
}

void TOrvelTable::DeleteTable() {
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 12);
  InternalDeleteTable();
}

void TOrvelTable::RenameTable(const std::string& new_name) {
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 3);
  InternalRenameTable(new_name, false);
}

void TOrvelTable::InternalRenameTable(const std::string& new_name, bool skip_busy_check) {
  if (Active()) throw Exception("Error in TOrvelDataset.InternalRenameTable - table is opened.");
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 3);
  TOrvelDataManager* dm = mvGetDataManager(table_name_, DatabaseManager());
  if (dm->DatasetCount() > 0) {
    if (!skip_busy_check)
      throw Exception("TOrvelDataSet.InternalRenameTable - Table is busy, table " + table_name_);
  }
  try {
    dm->SetStoreMode(StoreMode());
    dm->RenameTable(new_name);
  } catch (...) {
    if (dm->DatasetCount() == 0) FreeDataManager(dm);
    throw;
  }
  if (dm->DatasetCount() == 0) FreeDataManager(dm);
  table_name_ = new_name;
}

void TOrvelTable::SaveTable() {
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 3);
  if (!Active() || dm_ == nullptr)
    throw Exception("TOrvelDataset.InternalSaveTable - table is not opened.");
  if (!in_memory_)
    throw Exception("TOrvelDataset.InternalSaveTable - table is not in in-memory mode.");
  CheckBrowseMode();
  dm_->SaveTable();
}

void TOrvelTable::ResetIndex() {
  CancelRange();
  SetCurrentIndex(0);
  Resync(0);
}

void TOrvelTable::OpenIndex(const std::string& name) {
  if (dm_ == nullptr) throw Exception("Error in TOrvelDataSet.OpenIndex - table is not opened.");
  TOrvelIndexList& indexes = dm_->Indexes();
  if (indexes.Count() == 0)
    throw Exception("Error in TOrvelDataSet.OpenIndex - empty index header list.");
  const int32_t index_no = indexes.IndexNo(name);
  if (index_no < 0)
    throw Exception("Error in TOrvelDataSet.OpenIndex - index \"" + name + "\" not found!");
  OpenIndex(index_no);
}

void TOrvelTable::OpenIndex(int32_t index_no) {
  if (dm_ == nullptr) throw Exception("Error in TOrvelDataSet.OpenIndex - table is not opened.");
  if (dm_->Indexes().Count() == 0)
    throw Exception("Error in TOrvelDataSet.OpenIndex - empty index header list.");
  SetCurrentIndex(index_no);
  if (Active()) Resync(0);
}

void TOrvelTable::SetIndexName(std::string name) {
  if (!Active()) {
    index_name_ = std::move(name);
    index_field_names_.clear();
    return;
  }
  TSessionScope lock(*this);
  CheckBrowseMode();
  const std::string previous_name = index_name_;
  const std::string previous_fields = index_field_names_;
  const TOrvelIndexList& indexes = dm_->Indexes();
  index_name_ = name;
  index_field_names_.clear();
  if (!name.empty() && SameName(name, indexes.Header(current_index_).Name)) return;
  if (name.empty()) {
    ResetIndex();
    return;
  }
  HoldRebuild();
  try {
    CancelRange();
    OpenIndex(name);
  } catch (...) {
    index_name_ = previous_name;
    index_field_names_ = previous_fields;
    ReleaseRebuild(false);
    throw;
  }
  ReleaseRebuild(true);
  Resync(0);
}

void TOrvelTable::SetIndexFieldNames(std::string names) {
  index_field_names_ = std::move(names);
  index_name_.clear();
  if (!Active()) return;
  TSessionScope lock(*this);
  CheckBrowseMode();
  if (index_field_names_.empty()) {
    ResetIndex();
    return;
  }
  HoldRebuild();
  int32_t found = -1;
  try {
    CancelRange();
    SetCurrentIndex(0);
    found = search_->FindIndexForFields(index_field_names_, "*", true);
    if (found < 0)
      throw Exception("Index for fields \"" + index_field_names_ + "\" does not exist.");
    SetCurrentIndex(found);
  } catch (...) {
    ReleaseRebuild(true);
    Resync(0);
    throw;
  }
  ReleaseRebuild(true);
  Resync(0);
}

void TOrvelTable::WithTableOpen(const std::function<void()>& work) {
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 3);
  const bool was_active = Active();
  if (!was_active) Open();
  try {
    work();
  } catch (...) {
    if (!was_active) Close();
    throw;
  }
  if (!was_active) Close();
}

void TOrvelTable::AddIndex(const std::string& name, const std::string& fields,
                           const std::string& case_ins_fields, const std::string& desc_fields,
                           TIndexOptions options) {
  WithTableOpen([&] { InternalAddIndex(name, fields, case_ins_fields, desc_fields, options); });
}

void TOrvelTable::InternalAddIndex(const std::string& name, const std::string& fields,
                                   const std::string& case_ins_fields,
                                   const std::string& desc_fields, TIndexOptions options) {
  if (dm_ == nullptr || !Active())
    throw Exception("Error in TOrvelDataset.InternalAddIndex - table is not opened.");
  CheckBrowseMode();
  {
    TDataManagerLock table_lock(*dm_);
    TIndexProgressScope progress(*this, dm_->Indexes(), OnBuildIndexesProgress,
                                 suppress_index_window_);
    dm_->Indexes().AddIndex(name, fields, false, case_ins_fields, desc_fields, options);
  }
  ReadIndexDefs();
}

void TOrvelTable::CreateTemporaryIndex(const std::string& fields, std::string& out_name,
                                       const std::string& desc_fields) {
  TSessionScope lock(*this);
  if (dm_ == nullptr || !Active())
    throw Exception("Error in TOrvelDataset.CreateTemporaryIndex - table is not opened.");
  {
    TDataManagerLock table_lock(*dm_);
    TIndexProgressScope progress(*this, dm_->Indexes(), OnBuildIndexesProgress,
                                 suppress_index_window_);
    out_name = dm_->Indexes().AddTemporaryIndex(fields, "", desc_fields);
  }
  ReadIndexDefs();
}

void TOrvelTable::DeleteIndex(const std::string& name) {
  WithTableOpen([&] { InternalDeleteIndex(name); });
}

void TOrvelTable::InternalDeleteIndex(const std::string& name) {
  if (dm_ == nullptr || !Active())
    throw Exception("Error in TOrvelDataset.InternalDeleteIndex - table is not opened.");
  if (dm_->DatasetCount() > 1)
    throw Exception("TOrvelDataSet.InternalDeleteTable - Table is busy, table " + table_name_);
  CheckBrowseMode();
  int32_t deleted = -1;
  {
    TDataManagerLock table_lock(*dm_);
    deleted = dm_->Indexes().DeleteIndex(name, false);
  }
  int32_t current = current_index_;
  if (current == deleted)
    current = 0;
  else if (current > deleted)
    --current;
  ReadIndexDefs();
  SetCurrentIndex(current);
  Resync(0);
}

void TOrvelTable::CopyValues(TDataSet& source, bool by_position_too, int32_t& last_autoinc) {
  for (int i = 0; i < source.FieldCount(); ++i) {
    TField* from = source.Fields()[i];
    if (from->FieldKind() != fkData) continue;
    TField* to = FindField(from->FieldName());
    if (to == nullptr && by_position_too && i < FieldCount()) {
      TField* candidate = Fields()[i];
      if (source.FindField(candidate->FieldName()) == nullptr &&
          candidate->DataType() == from->DataType())
        to = candidate;
    }
    if (to == nullptr || to->FieldKind() != fkData || from->IsNull()) continue;
    switch (to->DataType()) {
      case ftString:
      case ftFixedChar:
      case ftWideString:
        to->SetAsString(from->AsString());
        break;
      case ftSmallint:
      case ftInteger:
      case ftWord:
        to->SetAsInteger(from->AsInteger());
        break;
      case ftLargeint:
        to->SetAsLargeInt(from->AsLargeInt());
        break;
      case ftAutoInc:
        last_autoinc = std::max(last_autoinc, from->AsInteger());
        SetIdentifierWriteAllowed(true);
        try {
          to->SetAsInteger(from->AsInteger());
        } catch (...) {
          SetIdentifierWriteAllowed(false);
          throw;
        }
        SetIdentifierWriteAllowed(false);
        break;
      case ftBoolean:
        to->SetAsBoolean(from->AsBoolean());
        break;
      case ftFloat:
      case ftCurrency:
      case ftBCD:
        to->SetAsFloat(from->AsFloat());
        break;
      case ftDate:
      case ftTime:
      case ftDateTime:
        to->SetAsDateTime(from->AsDateTime());
        break;
      case ftBlob:
      case ftMemo:
      case ftGraphic:
      case ftFmtMemo: {
        std::unique_ptr<TStream> in = source.CreateBlobStream(from, bmRead);
        std::unique_ptr<TStream> out = CreateBlobStream(to, bmWrite);
        std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(0, in->Size())));
        in->Seek(0, soBeginning);
        if (!bytes.empty()) in->Read(bytes.data(), static_cast<int64_t>(bytes.size()));
        out->Write(bytes.data(), static_cast<int64_t>(bytes.size()));
        break;
      }
      default:
        to->SetValue(from->Value());
        break;
    }
  }
}

bool TOrvelTable::ImportTable(TDataSource* source, const TIndexDefs* index_defs, std::string& log) {
  TSessionScope lock(*this);
  TDatabaseUseScope use(*this, 3);
  if (Active()) throw Exception("Error in TOrvelDataset.InternalImportTable - table is opened.");
  if (OpenDatasetCount() > 0)
    throw Exception("TOrvelDataSet.InternalImportTable - Table is busy, table " + table_name_);
  log.clear();
  bool result = true;
  if (source == nullptr)
    throw Exception("Error in TOrvelDataset.ImportTable - dataSource 0 pointer.");
  TDataSet* from = source->DataSet();
  if (from == nullptr) throw Exception("Error in TOrvelDataset.ImportTable - dataSet 0 pointer.");
  if (from->FieldDefs().Count() == 0) from->FieldDefs().Update();
  if (from->FieldDefs().Count() == 0)
    throw Exception("Error in TOrvelDataset.ImportTable - dataSet.FieldDefs 0 pointer.");

  Close();
  FieldDefs().Clear();
  IndexDefs().Clear();
  std::vector<std::string> skipped;
  for (int i = 0; i < from->FieldDefs().Count(); ++i) {
    const TFieldDef* def = from->FieldDefs()[i];
    std::string name = def->Name();
    if (name.size() > 253) {
      name.resize(253);
      log += "Field name longer than 253 chars is not supported! FieldName = " + name +
             " is truncated.\r\n";
    }
    const TFieldType type = ImportedType(def->DataType());
    if (type == ftUnknown) {
      result = false;
      skipped.push_back(def->Name());
      log += "Field type not supported! FieldName = " + def->Name() + ". Field skipped.\r\n";
      continue;
    }
    const bool sized =
        type == ftString || type == ftFixedChar || type == ftWideString || type == ftBytes;
    FieldDefs().Add(name, type == ftFixedChar ? ftString : type, sized ? def->Size() : 0,
                    def->Required());
  }
  if (FieldDefs().Count() == 0) {
    log += "All fields in table were skipped, so table is also skipped.\r\n";
    throw Exception("Cannot create table without fields");
  }
  if (index_defs != nullptr) {
    for (int i = 0; i < index_defs->Count(); ++i) {
      const TIndexDef* def = (*index_defs)[i];
      bool uses_skipped = false;
      for (const std::string& field : SplitFieldList(def->Fields()))
        for (const std::string& name : skipped)
          uses_skipped = uses_skipped || SameName(field, name);
      if (uses_skipped) {
        log += "Index contains skipped field! IndexName = " + def->Name() + ". Index skipped.\r\n";
        continue;
      }
      TIndexDef* copy = IndexDefs().Add(
          def->Name(), def->Fields(),
          def->Options() & (ixPrimary | ixUnique | ixDescending | ixCaseInsensitive));
      copy->SetDescFields(def->DescFields());
      copy->SetCaseInsFields(def->CaseInsFields());
    }
  }
  try {
    InternalCreateTable();
  } catch (const std::exception&) {
    log += "\r\nTable cannot be created!";
    return false;
  }
  try {
    Open();
  } catch (const std::exception&) {
    log += "\r\nTable cannot be opened!";
    return false;
  }

  from->First();
  bool graphic_changed = false;
  for (int i = 0; i < from->FieldCount(); ++i) {
    TField* field = from->Fields()[i];
    if (!field->IsBlob() || field->IsNull() || from->Eof()) continue;
    TFieldDef* def = FieldDefs().Find(field->FieldName());
    if (def == nullptr || def->DataType() == ftGraphic) continue;
    std::unique_ptr<TStream> stream = from->CreateBlobStream(field, bmRead);
    if (HasGraphicHeader(*stream)) {
      def->SetDataType(ftGraphic);
      graphic_changed = true;
    }
  }
  if (graphic_changed) {
    // The field types live in the .dat headers; an empty table is simply made again.
    TFieldDefs defs(nullptr);
    defs.Assign(FieldDefs());
    TIndexDefs indexes(nullptr);
    indexes.Assign(IndexDefs());
    Close();
    FieldDefs().Assign(defs);
    IndexDefs().Assign(indexes);
    InternalCreateTable();
    Open();
  }

  const int count = from->RecordCount();
  const double step = 100.0 / (count > 0 ? count : 0.000001);
  double done = 0;
  int32_t last_autoinc = 0;
  int record_no = 0;
  for (from->First(); !from->Eof(); from->Next()) {
    ++record_no;
    if (OnProgress) OnProgress(this, done, mvppImport);
    done += step;
    try {
      Append();
      CopyValues(*from, false, last_autoinc);
      if (last_autoinc > 0) SetLastAutoIncValue(last_autoinc + 1);
      Post();
    } catch (const std::exception&) {
      result = false;
      log += fmt::format("Insert records error, record number = !{}\r\n", record_no);
      try {
        Post();
      } catch (const std::exception&) {
        Cancel();
      }
    }
  }
  if (OnProgress) OnProgress(this, 100, mvppImport);
  return result;
}

void TOrvelTable::RestructureTable(bool encrypted, const std::string& password, uint8_t compression,
                                   int32_t block_size) {
  TSessionScope lock(*this);
  if (Active())
    throw Exception("Error in TOrvelDataset.InternalRestructureTable - table is opened.");
  TDatabaseUseScope use(*this, 3);
  if (OpenDatasetCount() > 0)
    throw Exception("TOrvelDataSet.InternalRestructureTable - Table is busy, table " + table_name_);
  const std::string own_name = table_name_;
  // The stored copies are read when the table opens.
  Open();
  TFieldDefs field_defs(nullptr);
  field_defs.Assign(StoredFieldDefs());
  TIndexDefs index_defs(nullptr);
  index_defs.Assign(StoredIndexDefs());
  Close();

  auto helper = std::make_unique<TOrvelTable>();
  helper->SetSessionName(SessionName());
  helper->SetDatabaseName(DatabaseName());
  helper->SetDatabaseFileName(DatabaseFileName());
  helper->in_memory_ = in_memory_;
  helper->SetCacheEnabled(CacheEnabled());
  std::string backup = own_name + "_backup";
  for (int n = 0;; ++n) {
    helper->SetTableName(backup);
    if (!helper->TableExistsInStore()) break;
    backup = own_name + "_backup" + std::to_string(n);
  }

  FieldDefs().Clear();
  IndexDefs().Clear();
  InternalRenameTable(backup, true);
  helper->SetPassword(password_);
  try {
    helper->Open();
  } catch (...) {
    InternalRenameTable(own_name, true);
    throw;
  }
  FieldDefs().Assign(field_defs);
  for (int i = 0; i < index_defs.Count(); ++i) {
    const TIndexDef* def = index_defs[i];
    if (!def->Name().empty() && def->Name()[0] == '@') continue;
    TIndexDef* copy = IndexDefs().Add(def->Name(), def->Fields(), def->Options());
    copy->SetDescFields(def->DescFields());
    copy->SetCaseInsFields(def->CaseInsFields());
  }

  const auto restore = [&]() {
    Close();
    helper->Close();
    table_name_ = backup;
    InternalRenameTable(own_name, true);
    helper.reset();
  };
  table_name_ = own_name;
  SetBLOBBlockSize(block_size);
  SetEncryptedRequested(encrypted);
  SetPassword(password);
  SetBLOBCompression(compression);
  try {
    InternalCreateTable();
    Open();
  } catch (const std::exception& e) {
    const std::string message = e.what();
    restore();
    throw Exception("Error in TOrvelDataset.RestructureTable - " + message);
  }

  try {
    const int count = helper->RecordCount();
    const double step = 100.0 / (count > 0 ? count : 1);
    double done = 0;
    int32_t last_autoinc = 0;
    for (helper->First(); !helper->Eof(); helper->Next()) {
      if (OnProgress) OnProgress(this, done, mvppRestructure);
      Append();
      CopyValues(*helper, true, last_autoinc);
      if (last_autoinc > 0) SetLastAutoIncValue(last_autoinc + 1);
      Post();
      done += step;
    }
  } catch (const std::exception& e) {
    const std::string message = e.what();
    Cancel();
    restore();
    throw Exception(
        "Error in TOrvelDataset.RestructureTable - error while saving data. Restructure aborted. " +
        message);
  }
  Close();
  helper->Close();
  helper->DeleteTable();
  helper.reset();
  if (OnProgress) OnProgress(this, 100, mvppRestructure);
}

}  // namespace orv
