#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/components/orvel_dataset.h"
#include "platform/data_link.h"
#include "platform/data_source.h"

namespace orv {

class TOrvelTable;

// The link through which a detail table follows its master: MasterFields names the master's
// fields, paired in order with the fields of the detail's current index.
class TOrvelMasterDataLink : public TDetailDataLink {
 public:
  explicit TOrvelMasterDataLink(TOrvelTable& table) : table_(table) {}

  const std::string& FieldNames() const { return field_names_; }
  void SetFieldNames(std::string names);
  // The master fields found when the link became active or its layout changed.
  const std::vector<TField*>& Fields() const { return fields_; }
  TDataSet* DetailDataSet() override;

 protected:
  void ActiveChanged() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;
  void CheckBrowseMode() override;

 private:
  void UpdateFields();

  TOrvelTable& table_;
  std::string field_names_;
  std::vector<TField*> fields_;
};

// The dataset that opens one stored table by name, with the table's maintenance: creation,
// deletion, renaming, import, restructuring and indexes, index selection and master/detail.
class TOrvelTable : public TOrvelDataset {
 public:
  explicit TOrvelTable(TComponent* owner = nullptr);
  ~TOrvelTable() override;

  // Only while closed.
  void SetTableName(std::string name);
  // Whether the table's data file exists (true while open).
  bool Exists();
  std::string CurrentVersion() const { return "6.00 "; }
  void SetCurrentVersion(const std::string&) {}

  void SetIndexName(std::string name);
  void SetIndexFieldNames(std::string names);

  // The open table's values while open, the requested ones otherwise.
  bool Encrypted() const;
  void SetEncrypted(bool on) { SetEncryptedRequested(on); }
  uint8_t BLOBCompression() const;
  int32_t BLOBBlockSize() const;
  // Ignored while the table is open.
  void SetBLOBBlockSize(int32_t size);
  // At most 255 characters are kept.
  void SetPassword(std::string password);
  void SetExclusive(bool on);
  // While open: whether the table has automatic field indexes.
  bool AutoIndexes() const;
  // On an open table, turning it off saves the memory copy and reopens on the store; turning
  // it on reopens in memory.
  void SetInMemory(bool in_memory);

  const std::string& MasterFieldNames() const { return master_link_.FieldNames(); }
  void SetMasterFields(std::string names);
  TDataSource* MasterSource() const { return master_link_.DataSource(); }
  void SetMasterSource(TDataSource* source);

  void CreateTable();
  void DeleteTable();
  void RenameTable(const std::string& new_name);
  void SaveTable();
  // Replaces this table by one with the source's fields (unsupported ones skipped and logged)
  // and records; false when anything was skipped or failed (see log).
  bool ImportTable(TDataSource* source, const TIndexDefs* index_defs, std::string& log);
  void RestructureTable(bool encrypted, const std::string& password, uint8_t compression,
                        int32_t block_size);
  void AddIndex(const std::string& name, const std::string& fields,
                const std::string& case_ins_fields, const std::string& desc_fields,
                TIndexOptions options);
  void DeleteIndex(const std::string& name);
  // An index that lives while the table is open; its generated name goes to out_name.
  void CreateTemporaryIndex(const std::string& fields, std::string& out_name,
                            const std::string& desc_fields = "");
  // Makes the index current by name or by number (the table's index list).
  void OpenIndex(const std::string& name);
  void OpenIndex(int32_t index_no);

 protected:
  void InternalCreateTable() override;
  void InternalDeleteTable() override;
  void InternalRenameTable(const std::string& new_name, bool skip_busy_check);
  void InternalAddIndex(const std::string& name, const std::string& fields,
                        const std::string& case_ins_fields, const std::string& desc_fields,
                        TIndexOptions options);
  void InternalDeleteIndex(const std::string& name);

  TDataSet* MasterDataSet() const override;
  std::vector<TField*> MasterFields() const override;
  TDataSource* GetDataSource() override { return MasterSource(); }
  void DoOnNewRecord() override;

 private:
  friend class TOrvelMasterDataLink;

  // The master's record moved or changed: the detail shows the matching records from the first.
  void MasterChanged();
  void ResetIndex();
  // Runs work on the open table, opening it for the call when it is closed.
  void WithTableOpen(const std::function<void()>& work);
  // The table of this name exists in the store this dataset works on.
  bool TableExistsInStore();
  // The number of datasets open on the table, through its shared data manager.
  int OpenDatasetCount();
  // Copies the current record of source into the record being inserted, field by name (and,
  // with by_position_too, by position where a name is new); the highest auto-increment value
  // copied goes to last_autoinc.
  void CopyValues(TDataSet& source, bool by_position_too, int32_t& last_autoinc);

  TOrvelMasterDataLink master_link_{*this};
};

}  // namespace orv
