#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/components/orvel_engine_dataset.h"
#include "engine/components/orvel_progress.h"
#include "engine/storage/engine_arrays.h"
#include "platform/dataset.h"
#include "platform/index_defs.h"
#include "platform/streams.h"

namespace orv {

class TOrvelDataManager;
class TOrvelRecordSearch;
class TOrvValue;
class TSearchParser;
struct TLocateScope;

using TmvProgressEvent =
    std::function<void(TComponent* sender, double percent_done, TmvProgressProcess process)>;
using TBuildIndexesProgressEvent =
    std::function<void(TComponent* sender, double percent_done, bool start, bool finish)>;

// Evaluates the SQL engine's filter expression for the record the dataset shows it through
// GetFieldValue (the record being tested); the result must be a Boolean value or NULL.
using TOrvelExpressionFilter = std::function<void(TOrvValue& result)>;

// The cursor beneath the table and query components: an ordered list of the physical numbers of
// the records that pass the master condition, range, filter, expression filter and DISTINCT, in
// the order of the current index, over one table of a shared TOrvelDataManager.
//
// Record buffer handed to the framework (GetRecordSize bytes):
//   0 .. R-1        the table's record image (identifier at DataSize, null bitmap behind it)
//   R .. R+3        bookmark: the record identifier
//   R+4             bookmark flag
//   R+5 .. R+7      spare
//   R+8 ..          calculated fields: per field at its Offset a has-value byte, then the value
//
// Every public operation runs under the session lock and first rebuilds a visible list whose
// table has changed since it was built (another dataset posted).
//
// A subclass provides the table's name through the storage members (table_name_ and the
// database settings), may override the master link hooks (MasterDataSet, MasterFields), the
// open-time index selection (SelectIndexOnOpen) and the table maintenance (InternalCreateTable,
// InternalDeleteTable), and must call Close() in its destructor.
class TOrvelDataset : public TDataSet, public TOrvelEngineDataset {
 public:
  // Key buffers: the key for searches, the two range bounds, the copy set-key state restores.
  enum TKeyIndex { kiLookup = 0, kiRangeStart = 1, kiRangeEnd = 2, kiSave = 3 };
  static constexpr int kKeyBufferCount = 4;

  explicit TOrvelDataset(TComponent* owner = nullptr);
  ~TOrvelDataset() override;

  // Published here; the subclasses publish the rest.
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(std::string name);
  TDataSetNotifyEvent OnUpdateRecord;

  const std::string& TableName() const { return table_name_; }
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(std::string name);
  const std::string& DatabaseFileName() const { return database_file_name_; }
  void SetDatabaseFileName(std::string name);
  const std::string& Password() const { return password_; }
  void SetPassword(std::string password) { password_ = std::move(password); }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only);
  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool in_memory);
  bool TemporaryFilesMode() const { return temporary_files_mode_; }
  void SetTemporaryFilesMode(bool on);
  bool IsTemporaryTable() const { return temporary_table_; }
  bool CacheEnabled() const { return cache_enabled_; }
  void SetCacheEnabled(bool enabled) { cache_enabled_ = enabled; }
  bool BDELikeFilter() const { return bde_like_filter_; }
  void SetBDELikeFilter(bool on) { bde_like_filter_ = on; }
  bool AutoIndexes() const { return auto_indexes_; }
  void SetAutoIndexes(bool on) { auto_indexes_ = on; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool on) { exclusive_ = on; }
  bool EncryptedRequested() const { return encrypted_; }
  void SetEncryptedRequested(bool on) { encrypted_ = on; }
  int32_t BLOBBlockSize() const { return blob_block_size_; }
  void SetBLOBBlockSize(int32_t size) { blob_block_size_ = size; }
  uint8_t BLOBCompression() const { return blob_compression_; }
  void SetBLOBCompression(uint8_t level) { blob_compression_ = level; }
  int32_t TemporaryTableCapacity() const { return temporary_capacity_; }
  TmvProgressEvent OnProgress;
  TBuildIndexesProgressEvent OnBuildIndexesProgress;

  TIndexDefs& IndexDefs() { return index_defs_; }
  // The definitions last read from the table, without the internal ("@", "$") indexes.
  const TFieldDefs& StoredFieldDefs() const { return stored_field_defs_; }
  const TIndexDefs& StoredIndexDefs() const { return stored_index_defs_; }
  bool StoreDefs() const { return store_defs_; }
  void SetStoreDefs(bool on) { store_defs_ = on; }
  const std::string& IndexName() const { return index_name_; }
  const std::string& IndexFieldNames() const { return index_field_names_; }
  // The current index's number in the table's index list (0 = the first).
  int32_t CurrentIndex() const { return current_index_; }

  // Nil while the table is not attached.
  TOrvelDataManager* DataManager() const { return dm_; }
  bool TableOpen() const { return cursor_open_; }
  // Physical record numbers of the visible records, in visible order.
  const TmvIntArray& VisibleRecords() const { return visible_; }
  int32_t VisibleCount() const { return visible_.Count(); }
  int32_t CurrentPosition() const { return position_; }

  // Ranges over the current index: key buffers 1 and 2 (SetRange* clear them, EditRange* keep
  // them), filled in set-key state and stored by Post.
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  void ApplyRange();
  void CancelRange();
  bool RangeActive() const { return range_active_; }
  // Key buffer 0.
  void SetKey();
  void EditKey();

  // Services for the SQL engine.
  void CreateTemporaryTable(int32_t capacity);
  // Closes and deletes a table CreateTemporaryTable made.
  void DeleteTemporaryTable();
  void BeginDirectInsert();
  void EndDirectInsert();
  bool DirectInsertActive() const { return direct_insert_; }
  void SetFilterExpression(TOrvelExpressionFilter expression);
  // first_ordinal -1: from the first; max_count -1: no limit.
  void SetRecordLimits(int32_t first_ordinal, int32_t max_count);
  void SetDistinctFields(std::string fields);
  // Field definitions become names (table fields, or the identifier's name) shown as
  // output_names; both lists separated by ";" or ",". Empty lists drop the projection.
  void SetFieldProjection(std::string names, std::string output_names);
  // Table field number -> value; -1 is the record identifier. With copy the payload is copied,
  // else the value is a view of the record buffer.
  void GetFieldValue(TOrvValue& value, int32_t field_no, bool copy);
  void SetFieldValue(const TOrvValue& value, int32_t field_no);
  // While set, GetFieldValue reads the image of this physical record (-1: back to the buffer).
  void SetSqlRecord(int32_t record_no);
  // Lets SetFieldData and SetFieldValue write the record identifier field.
  void SetIdentifierWriteAllowed(bool allowed) { identifier_write_ = allowed; }
  // Raises the table's last identifier to value - 1 and moves the change counter.
  void SetLastAutoIncValue(int32_t value);

  // Framework operations with engine behaviour.
  bool Locate(std::string_view key_fields, const Variant& key_values,
              TLocateOptions options) override;
  Variant Lookup(std::string_view key_fields, const Variant& key_values,
                 std::string_view result_fields) override;
  void SetFiltered(bool filtered) override;
  void SetFilterOptions(TFilterOptions options) override;
  void SetRecNo(int rec_no) override;
  void Post() override;
  void Cancel() override;
  bool GetFieldData(TField* field, void* buffer) override;
  void SetFieldData(TField* field, const void* buffer) override;
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  void CloseBlob(TField* field) override;
  bool GetIsIndexField(const TField* field) override;
  void UpdateIndexDefs() override;

  // The memory stream of a BLOB field's slot opened for mode (TOrvelBlobStream's source).
  TMemoryStream* OpenBlobSlot(TField* field, TBlobStreamMode mode);
  // Whether the active record exists in the dataset (browse on a record, edit, insert).
  bool HasCurrentRecord();

  // TOrvelEngineDataset.
  TComponent* DatasetComponent() override { return this; }
  bool DatasetActive() const override { return Active(); }
  void CloseDataset() override { Close(); }
  std::string DatasetSessionName() const override { return session_name_; }
  void SetDatasetSessionName(const std::string& name) override { session_name_ = name; }
  std::string DatasetDatabaseName() const override { return database_name_; }
  std::string DatasetDatabaseFileName() const override { return database_file_name_; }
  bool DatasetReadOnly() const override { return read_only_; }
  void SetDatasetReadOnly(bool read_only) override { SetReadOnly(read_only); }
  bool DatasetInMemory() const override { return in_memory_; }
  bool DatasetTemporaryMode() const override { return temporary_files_mode_; }
  std::string DatasetPassword() const override { return password_; }
  bool DatasetEncrypted() const override;
  bool DatasetCacheEnabled() const override { return cache_enabled_; }
  int32_t DatasetRecordCapacityHint() const override { return temporary_capacity_; }

  // Store mode of the table files: 4 temporary files, 3 memory, 0 the database's own.
  uint8_t StoreMode() const;

 protected:
  // Cursor.
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return cursor_open_; }
  void InternalInitFieldDefs() override;
  void InternalRefresh() override;
  void InternalHandleException() override {}

  // Buffers and navigation.
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  int GetRecordSize() const override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  int GetRecordCount() override;
  int GetRecNo() override;

  // Bookmarks: the 4-byte record identifier in 8 bytes.
  void GetBookmarkData(TRecordBuffer buffer, void* data) override;
  void SetBookmarkData(TRecordBuffer buffer, const void* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void InternalGotoBookmark(const void* bookmark) override;
  int InternalCompareBookmarks(const void* a, const void* b) override;
  bool InternalBookmarkValid(const void* bookmark) override;

  // Editing.
  void InternalPost() override;
  void InternalDelete() override;
  void InternalAddRecord(TRecordBuffer buffer, bool append) override;
  void InternalCancel() override;
  bool GetCanModify() override { return !read_only_; }
  bool FindRecord(bool restart, bool go_forward) override;
  void SetFilterText(std::string text) override;

  // Attaching to the table: ConnectDataset, the shared data manager, LoadTable; the LoadTable
  // codes become the OpenTable messages. DetachTable undoes it.
  void OpenTable();
  void DetachTable();
  // Picks the current index while opening (IndexName, else IndexFieldNames, else index 0).
  virtual void SelectIndexOnOpen();
  // Makes index_no current and rebuilds (held while the hold counter is up).
  void SetCurrentIndex(int32_t index_no);
  // Reads IndexDefs and the stored copy from the open table.
  void ReadIndexDefs();
  // Creates the table from FieldDefs and IndexDefs in this dataset's store mode; deletes it.
  // The table component overrides both with its full behaviour.
  virtual void InternalCreateTable();
  virtual void InternalDeleteTable();
  // Settings the table's data manager takes before it loads or creates the table.
  void ApplyDataManagerSettings(TOrvelDataManager& dm) const;

  // Master link: the master dataset and its fields, paired in order with the current index's
  // fields; none by default.
  virtual TDataSet* MasterDataSet() const { return nullptr; }
  virtual std::vector<TField*> MasterFields() const { return {}; }
  // Whether the master condition takes part in the visible list.
  bool MasterConditionUsable();
  // Re-reads the master's values into the master condition and rebuilds.
  void ApplyMasterCondition();

  // Visible list.
  void HoldRebuild() { ++hold_count_; }
  // Lowers the hold counter; at 0 with rebuild the list is built.
  void ReleaseRebuild(bool rebuild);
  void RebuildVisibleList();
  // Rebuilds when the table's change counter moved since the last build.
  void RebuildIfStale();
  bool IsStale() const;
  // Whether a condition (master, filter, range, expression filter, limits) is in force.
  bool ConditionInForce();
  // Whether the record image passes master condition, range, Filter and expression filter
  // (and OnFilterRecord with use_filter_event).
  bool IsRecordVisible(const uint8_t* image, bool use_filter_event);
  // Position of a physical record in the visible list, or -1.
  int32_t VisiblePositionOf(int32_t record_no) const;
  // Physical record number of a record identifier, or -1.
  int32_t PhysicalOfIdentifier(int32_t identifier);
  // Makes a visible physical record current (with scroll events and resync).
  void SetTablePositionByPhysRecNo(int32_t record_no);

  // Key buffers.
  TRecordBuffer KeyBuffer(int key_index) const;
  void InitKeyBuffer(int key_index);
  // Enters set-key state on key buffer key_index (cleared unless edit).
  void BeginKeyEdit(int key_index, bool clear);
  int KeyFieldCount(int key_index) const;
  bool KeyModified(int key_index) const;
  // The current index's field number i: the dataset field of that table field.
  TField* GetIndexField(int i);
  int32_t IndexFieldCount() const;

  // The table field number a dataset field stands for (-1 the identifier, -2 none).
  int32_t TableFieldOf(const TField* field) const;
  // The buffer GetFieldData and SetFieldData work on in the current state.
  TRecordBuffer CurrentFieldBuffer() const;
  // The record identifier of a record image or buffer.
  int32_t IdentifierOf(const uint8_t* image) const;
  int32_t RecordImageSize() const;

  // The session lock held for the length of a public operation.
  class TSessionScope {
   public:
    explicit TSessionScope(const TOrvelDataset& dataset);
    ~TSessionScope();
    TSessionScope(const TSessionScope&) = delete;
    TSessionScope& operator=(const TSessionScope&) = delete;

   private:
    TOrvelSession* session_;
  };

  // Storage.
  std::string session_name_;
  std::string table_name_;
  std::string database_name_;
  std::string database_file_name_;
  std::string password_;
  TOrvelDataManager* dm_ = nullptr;
  std::unique_ptr<TOrvelRecordSearch> search_;
  bool cursor_open_ = false;

  // Indexes.
  std::string index_name_;
  std::string index_field_names_;
  int32_t current_index_ = 0;
  TIndexDefs index_defs_{this};
  TIndexDefs stored_index_defs_{nullptr};
  TFieldDefs stored_field_defs_{nullptr};
  bool store_defs_ = false;

  // Table options.
  bool in_memory_ = false;
  bool temporary_files_mode_ = false;
  bool temporary_table_ = false;
  bool auto_indexes_ = false;
  bool read_only_ = false;
  bool exclusive_ = false;
  bool encrypted_ = false;
  int32_t blob_block_size_ = 512;
  uint8_t blob_compression_ = 0;
  bool cache_enabled_ = true;
  bool bde_like_filter_ = false;
  bool suppress_index_window_ = false;
  int32_t temporary_capacity_ = 1000;

 private:
  struct TBlobSlot {
    std::unique_ptr<TMemoryStream> stream;
    TBlobStreamMode mode = bmRead;
  };
  struct TKeyBufferHeader {
    bool modified = false;
    bool exclusive = false;
    int32_t field_count = 0;
  };

  // Building blocks of the visible list.
  void BuildConditionBits(TBitsArray& bits);
  void ApplyRangeBits(TBitsArray& bits);
  void ApplyExpressionBits(TBitsArray& bits);
  void ApplyDistinctBits(TBitsArray& bits);
  bool ExpressionAccepts(const uint8_t* image);
  bool InRange(const uint8_t* image);
  bool PassesFilterEvent(TRecordBuffer buffer);
  // Runs work in dsFilter state with buffer as the record fields read and write.
  void WithFilterBuffer(TRecordBuffer buffer, const std::function<void()>& work);
  void EnsureFilterParsed();
  // Parses the filter again, rebuilds and goes to the first record.
  void Refilter();
  std::string BuildMasterCondition();
  int32_t FindDistinctIndex();
  // Sorted position for a visible record (binary search on the current index).
  int32_t SortedVisiblePosition(const uint8_t* image, int32_t skip_record);
  void PlaceAfterChange(const uint8_t* image, int32_t record_no, int32_t index_position,
                        bool inserted);
  void CheckUniqueKeys(uint8_t* image, bool inserting, bool unique_only, const char* operation);
  // Adds (inserting) or updates record_no with its BLOB slots; places it in the visible list.
  int32_t StoreRecord(uint8_t* image, bool inserting, int32_t record_no);
  void CheckRequiredFields(const uint8_t* image);
  void WriteBlobSlots(int32_t record_no);
  void FreeBlobStreams();
  int32_t BlobFieldNumber(int32_t table_field) const;
  TLocateScope MakeLocateScope();
  void RestorePosition(int32_t record_no);
  void ReadFieldDefsFromTable();
  void ClearProjection();
  void CopyFieldToBuffer(int32_t table_field, const void* data, uint8_t* image);
  bool CollectFound(bool restart, bool go_forward);
  void InitKeyBuffers();
  void FreeKeyBuffers();

  // Visible list.
  TmvIntArray visible_{0, 1000, 1000};
  int32_t position_ = -1;
  // Identifier of the record at position_ (-1 unknown), so rebuilds find it again after
  // other datasets renumbered the records.
  int32_t position_id_ = -1;
  int32_t pending_id_ = -1;
  int32_t seen_change_counter_ = 0;
  bool list_built_ = false;
  int hold_count_ = 0;

  std::vector<TBlobSlot> blob_slots_;

  // Key buffers: header + record buffer each.
  std::vector<std::vector<uint8_t>> key_buffers_;
  std::vector<TKeyBufferHeader> key_headers_;
  int current_key_ = kiLookup;
  bool range_active_ = false;

  // Condition parsers: Filter, master condition, FindFirst/FindNext.
  std::unique_ptr<TSearchParser> filter_parser_;
  std::unique_ptr<TSearchParser> master_parser_;
  std::unique_ptr<TSearchParser> find_parser_;
  std::string parsed_filter_;
  TFilterOptions parsed_filter_options_ = 0;
  bool filter_parsed_ = false;
  std::string master_condition_;

  // FindFirst / FindNext.
  std::vector<int32_t> found_records_;
  int32_t found_cursor_ = -1;
  bool found_stale_ = false;

  // SQL services.
  std::string distinct_fields_;
  int32_t distinct_index_ = -1;
  TOrvelExpressionFilter expression_filter_;
  int32_t first_ordinal_ = -1;
  int32_t max_count_ = -1;
  std::vector<uint8_t> direct_buffer_;
  bool direct_insert_ = false;
  bool identifier_write_ = false;
  std::vector<std::string> projection_names_;
  std::vector<std::string> projection_output_;
  std::vector<int32_t> projection_map_;
  const uint8_t* sql_record_ = nullptr;
  std::vector<uint8_t> sql_record_copy_;
  // The image a record being tested for visibility is read from (expression filter).
  const uint8_t* testing_image_ = nullptr;
  TRecordBuffer filter_buffer_ = nullptr;
};

}  // namespace orv
