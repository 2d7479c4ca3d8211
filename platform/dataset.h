#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/blob_stream.h"
#include "platform/component.h"
#include "platform/database_error.h"
#include "platform/field.h"
#include "platform/field_defs.h"
#include "platform/variant.h"

namespace orv {

class TDataSource;
class TStream;

enum TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening,
};

// What data sources and data links hear from their dataset. deFieldChange carries the field,
// deDataSetScroll the distance the buffer window moved, deDisabledStateChange whether the
// dataset is open.
enum TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
  deParentScroll,
  deConnectChange,
  deDisabledStateChange,
};

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TResyncModeFlag : uint8_t { rmExact = 1, rmCenter = 2 };
using TResyncMode = uint8_t;
enum TFilterOption : uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = uint8_t;
enum TLocateOption : uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = uint8_t;

// A record position saved by Bookmark(); empty when none.
using TBookmark = std::vector<uint8_t>;
using TRecordBuffer = uint8_t*;

// Splits a ";"-separated field list at *pos: the next name, trimmed; *pos moves past it.
std::string ExtractFieldName(std::string_view fields, size_t* pos);

// The generic dataset. The framework keeps the state, a ring of record buffers (one window of
// BufferCount records around the active one, plus one spare that GetRecord fills before it is
// taken in), BOF/EOF, the fields and the notification of data sources; a subclass supplies the
// cursor through the protected virtual operations below.
//
// A subclass's destructor must call Close(): the buffers are freed through FreeRecordBuffer,
// which a base destructor can no longer reach.
class TDataSet : public TComponent {
 public:
  using TDataSetNotifyEvent = std::function<void(TDataSet*)>;
  using TFilterRecordEvent = std::function<void(TDataSet*, bool& accept)>;

  explicit TDataSet(TComponent* owner = nullptr);
  ~TDataSet() override;

  // Opening and closing.
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool active);
  TDataSetState State() const { return state_; }
  bool Modified() const { return modified_; }
  // "Cannot perform this operation on a closed dataset".
  void CheckActive() const;
  // "Cannot perform this operation on an open dataset".
  void CheckInactive() const;

  // Navigation. Every move first leaves edit or insert state (CheckBrowseMode).
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Answers the distance moved.
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return active_record_ >= record_count_; }
  int RecordCount() { return GetRecordCount(); }
  int RecNo() { return GetRecNo(); }
  // Subclasses that number their records move to the 1-based rec_no.
  virtual void SetRecNo(int rec_no) {}
  void Refresh();
  // Refills the buffers around the cursor's record; rmExact raises "Record not found" when it
  // is gone, rmCenter puts the record in the middle of the window.
  virtual void Resync(TResyncMode mode);

  // Editing.
  void Edit();
  void Insert();
  void Append();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  // Posts a modified record, cancels an unmodified one, ends set-key state.
  void CheckBrowseMode();
  // "Dataset not in edit or insert mode" outside dsEdit, dsInsert and dsSetKey; tells the
  // controls to write their pending values.
  void UpdateRecord();
  bool CanModify() { return GetCanModify(); }

  // Controls.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ != 0; }

  // Bookmarks.
  TBookmark Bookmark();
  void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
  void GotoBookmark(const TBookmark& bookmark);
  // Bookmarks of the wrong size count as missing; the subclass answers for the others through
  // InternalBookmarkValid and InternalCompareBookmarks.
  bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0, 1 in record order; a missing bookmark sorts after every other one.
  int CompareBookmarks(const TBookmark& a, const TBookmark& b);
  int BookmarkSize() const { return bookmark_size_; }

  // Fields.
  TFields& Fields() { return fields_; }
  const TFields& Fields() const { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TFieldDefs& FieldDefs() { return field_defs_; }
  TField* FindField(std::string_view name) const { return fields_.FindField(name); }
  TField* FieldByName(std::string_view name) const { return fields_.FieldByName(name); }
  // The fields of a ";"-separated list, each looked up with FieldByName.
  std::vector<TField*> GetFieldList(std::string_view field_names) const;
  // The value of one field, or an array of values for a list of fields.
  Variant FieldValues(std::string_view field_names) const;
  void SetFieldValues(std::string_view field_names, const Variant& values);
  bool DefaultFields() const { return default_fields_; }
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool value) { auto_calc_fields_ = value; }
  // Reads the field definitions, opening the cursor for it when the dataset is closed.
  void InitFieldDefs();

  // Field data in the native format (see TField); buffer is never null.
  virtual bool GetFieldData(TField* field, void* buffer) = 0;
  virtual void SetFieldData(TField* field, const void* buffer) = 0;
  // Between the native format of dates, times and wide strings and the framework's
  // (TDateTime, std::u16string); other types are copied as they are.
  virtual void DataConvert(TField* field, const void* source, void* dest, bool to_native);
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  virtual void CloseBlob(TField* field) {}
  virtual bool GetIsIndexField(const TField* field) { return false; }

  // Filtering and searching; the base class has no search and answers false / Null.
  const std::string& Filter() const { return filter_text_; }
  void SetFilter(std::string text) { SetFilterText(std::move(text)); }
  bool Filtered() const { return filtered_; }
  // The base setters only store; subclasses that filter re-read their records.
  virtual void SetFiltered(bool filtered) { filtered_ = filtered; }
  TFilterOptions FilterOptions() const { return filter_options_; }
  virtual void SetFilterOptions(TFilterOptions options) { filter_options_ = options; }
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  virtual void SetOnFilterRecord(TFilterRecordEvent handler) {
    on_filter_record_ = std::move(handler);
  }
  virtual bool Locate(std::string_view key_fields, const Variant& key_values,
                      TLocateOptions options);
  virtual Variant Lookup(std::string_view key_fields, const Variant& key_values,
                         std::string_view result_fields);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return found_; }

  // Master/detail: the data source this dataset takes its master records from; nullptr here.
  TDataSource* DataSource() { return GetDataSource(); }
  // Whether data_source leads back to this dataset through the chain of masters.
  bool IsLinkedTo(TDataSource* data_source);
  // Reads the index definitions of the open cursor into the subclass's TIndexDefs.
  virtual void UpdateIndexDefs() {}

  // Cursor and buffer services that subclasses and data links use.
  TRecordBuffer ActiveBuffer() const;
  // The buffer calculated fields are being computed for.
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  int ActiveRecord() const { return active_record_; }
  int BufferCount() const { return buffer_count_; }
  int BufferRecordCount() const { return record_count_; }
  TRecordBuffer Buffer(int index) const;
  // Brings the subclass's cursor to the active record.
  void UpdateCursorPos();
  // Forgets which buffer the subclass's cursor is on.
  void CursorPosChanged() { current_record_ = -1; }
  void DataEvent(TDataEvent event, intptr_t info);

  // Events, in the order the framework fires them.
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;

  void Loaded() override;

 protected:
  // Cursor.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();
  virtual void InternalRefresh() {}
  // Receives an exception that cannot be raised to a caller (opening a loaded form at design
  // time).
  virtual void InternalHandleException() {}

  // Record buffers.
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual int GetRecordSize() const { return 0; }
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) = 0;
  virtual void ClearCalcFields(TRecordBuffer buffer) {}

  // Navigation.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }

  // Bookmarks; bookmark pointers hold BookmarkSize bytes, nullptr is "no bookmark".
  virtual void GetBookmarkData(TRecordBuffer buffer, void* data) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const void* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void InternalGotoBookmark(const void* bookmark) = 0;
  // Both see only bookmarks of BookmarkSize bytes; the framework sorts missing ones itself.
  virtual int InternalCompareBookmarks(const void* a, const void* b) { return 0; }
  virtual bool InternalBookmarkValid(const void* bookmark) { return false; }

  // Editing. InternalPost checks required fields; subclasses call it before they store.
  virtual void InternalInsert() {}
  virtual void InternalEdit() {}
  virtual void InternalCancel() {}
  virtual void InternalPost();
  virtual void InternalDelete() = 0;
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append) {}
  virtual bool GetCanModify() { return true; }
  virtual void DoOnNewRecord();

  // Searching and filtering.
  virtual bool FindRecord(bool restart, bool go_forward) { return false; }
  virtual void SetFilterText(std::string text) { filter_text_ = std::move(text); }
  void SetFound(bool found) { found_ = found; }
  virtual TDataSource* GetDataSource() { return nullptr; }

  // Fields.
  // The field object for a field type; the default creates the framework's classes.
  virtual TField* CreateFieldOfType(TFieldType type, TComponent* owner);
  void CreateFields();
  void DestroyFields();
  // Binding gives data fields their FieldNo from FieldDefs ("Field 'X' not found", "Type
  // mismatch for field 'X', expecting: Integer actual: String") and calculated and lookup
  // fields their offsets in the calculated area.
  void BindFields(bool binding);
  int CalcFieldsSize() const { return calc_fields_size_; }
  void SetBookmarkSize(int size) { bookmark_size_ = size; }
  // Computes the calculated and lookup fields of buffer (subclasses call it from GetRecord).
  void GetCalcFields(TRecordBuffer buffer);
  virtual void CalculateFields(TRecordBuffer buffer);

  // State.
  void SetState(TDataSetState state);
  // A passing state (calculating, filtering) without notifying anyone.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  void SetModified(bool modified) { modified_ = modified; }
  void CheckCanModify();

  virtual void DoBeforeScroll() { Fire(BeforeScroll); }
  virtual void DoAfterScroll() { Fire(AfterScroll); }

 private:
  friend class TDataSource;
  friend class TDataLink;
  friend class TField;
  friend class TFieldDef;

  void Fire(const TDataSetNotifyEvent& handler) {
    if (handler) handler(this);
  }
  void DoInternalOpen();
  void OpenCursorComplete();
  void UpdateBufferCount();
  void SetBufferCount(int count);
  void SetBufListSize(int size);
  void ClearBuffers();
  void ActivateBuffers();
  void MoveBuffer(int from, int to);
  void SetCurrentRecord(int index);
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void InitRecord(TRecordBuffer buffer);
  void BeginInsertAppend();
  void EndInsertAppend();
  void FreeFieldBuffers();
  bool BookmarkAvailable();
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  void CalcLookupValue(TField* field);

  TFields fields_;
  TFieldDefs field_defs_;
  std::vector<TDataSource*> data_sources_;
  std::vector<TRecordBuffer> buffers_;  // buffer_count_ + 1 while open
  int buffer_count_ = 0;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;
  bool bof_ = true;
  bool eof_ = true;
  TRecordBuffer calc_buffer_ = nullptr;
  int calc_fields_size_ = 0;
  int bookmark_size_ = 0;
  TDataSetState state_ = dsInactive;
  bool modified_ = false;
  int disable_count_ = 0;
  TDataSetState disable_state_ = dsInactive;
  TDataEvent enable_event_ = deDataSetChange;
  bool default_fields_ = false;
  bool internal_open_complete_ = false;
  bool streamed_active_ = false;
  bool auto_calc_fields_ = true;
  bool found_ = false;
  std::string filter_text_;
  bool filtered_ = false;
  TFilterOptions filter_options_ = 0;
  TFilterRecordEvent on_filter_record_;
};

}  // namespace orv
