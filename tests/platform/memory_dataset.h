#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/data_link.h"
#include "platform/data_source.h"
#include "platform/dataset.h"
#include "platform/streams.h"
#include "platform/value_text.h"

namespace orv::testing {

// A dataset over rows kept in memory, written against the framework's cursor contract the way
// a storage engine's dataset is: it supplies the cursor (a position in a list of visible rows),
// the record buffers, bookmarks (the 4-byte row id) and field data, and the framework does the
// rest. Rows survive Close/Open. It filters through OnFilterRecord inside GetRecord and follows
// a master dataset through a TDetailDataLink (DetailFields equal to the master's MasterFields).
//
// Record buffer: per FieldDefs entry a null flag byte and the native value, then the row id
// (4 bytes), the bookmark flag (1 byte), 3 spare bytes, then the calculated fields.
class MemoryDataset : public TDataSet {
 public:
  explicit MemoryDataset(TComponent* owner = nullptr) : TDataSet(owner), master_link_(this) {}
  ~MemoryDataset() override {
    Destroying();
    Close();
  }

  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  int StoredRowCount() const { return static_cast<int>(rows_.size()); }
  int GetRecordCalls() const { return get_record_calls_; }

  // Adds a row behind the cursor's back, as another user of the same table would; the values
  // go through the fields, so the dataset must be open.
  void AddStoredRow(const std::vector<Variant>& values) {
    CheckActive();
    Row row;
    row.id = next_id_++;
    row.image.assign(static_cast<size_t>(ImageSize()), 0);
    row.blobs.resize(static_cast<size_t>(FieldDefs().Count()));
    for (int i = 0; i < FieldDefs().Count(); ++i) row.image[Offsets()[i]] = 1;
    rows_.push_back(std::move(row));
    for (size_t i = 0; i < values.size(); ++i)
      WriteStored(rows_.back(), static_cast<int>(i), values[i]);
    dirty_ = true;
  }

  // Master/detail.
  void SetMasterSource(TDataSource* source) {
    if (source && IsLinkedTo(source)) DatabaseError("Circular datalinks are not allowed", this);
    master_link_.SetDataSource(source);
  }
  void SetMasterFields(std::string master, std::string detail) {
    master_fields_ = std::move(master);
    detail_fields_ = std::move(detail);
  }

  bool Locate(std::string_view key_fields, const Variant& key_values,
              TLocateOptions options) override {
    CheckBrowseMode();
    int found = Search(key_fields, key_values, options);
    if (found < 0) return false;
    DoBeforeScroll();
    pos_ = found;
    Resync(rmExact | rmCenter);
    DoAfterScroll();
    return true;
  }

  Variant Lookup(std::string_view key_fields, const Variant& key_values,
                 std::string_view result_fields) override {
    CheckBrowseMode();
    int found = Search(key_fields, key_values, 0);
    if (found < 0) return Variant::Null();
    Variant result;
    WithRowBuffer(found, [&] { result = FieldValues(result_fields); });
    return result;
  }

  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override {
    int index = field->FieldNo() - 1;
    if (index < 0) return nullptr;
    if (State() == dsEdit || State() == dsInsert) {
      auto& slot = slots_[static_cast<size_t>(index)];
      if (!slot) slot = mode == bmWrite ? std::string() : StoredBlob(index);
      if (mode == bmWrite) slot->clear();
      return std::make_unique<SlotStream>(&*slot, field);
    }
    auto copy = std::make_unique<TMemoryStream>();
    std::string value = StoredBlob(index);
    if (!value.empty()) copy->WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
    copy->SetPosition(0);
    return copy;
  }

  void CloseBlob(TField* field) override {
    int index = field->FieldNo() - 1;
    TRecordBuffer buffer = ActiveBuffer();
    if (index < 0 || !buffer || !slots_[static_cast<size_t>(index)]) return;
    buffer[Offsets()[index]] = slots_[static_cast<size_t>(index)]->empty() ? 1 : 0;
  }

  bool GetFieldData(TField* field, void* out) override {
    TRecordBuffer buffer = CurrentBuffer();
    if (!buffer) return false;
    if (field->FieldNo() < 0) {
      const uint8_t* area = buffer + ImageSize() + 8 + field->Offset();
      if (!area[0]) return false;
      std::memcpy(out, area + 1, static_cast<size_t>(field->DataSize()));
      return true;
    }
    int index = field->FieldNo() - 1;
    if (index < 0 || index >= FieldDefs().Count()) return false;
    const uint8_t* value = buffer + Offsets()[index];
    if (value[0]) return false;
    if (!field->IsBlob()) std::memcpy(out, value + 1, static_cast<size_t>(field->DataSize()));
    return true;
  }

  void SetFieldData(TField* field, const void* in) override {
    TDataSetState state = State();
    if (state != dsEdit && state != dsInsert && state != dsCalcFields && state != dsFilter)
      DatabaseError("Dataset not in edit or insert mode", this);
    TRecordBuffer buffer = CurrentBuffer();
    if (!buffer) DatabaseError("Dataset not in edit or insert mode", this);
    if (field->FieldNo() < 0) {
      uint8_t* area = buffer + ImageSize() + 8 + field->Offset();
      area[0] = in ? 1 : 0;
      if (in) std::memcpy(area + 1, in, static_cast<size_t>(field->DataSize()));
    } else {
      field->Validate(in);
      uint8_t* value = buffer + Offsets()[field->FieldNo() - 1];
      value[0] = in ? 0 : 1;
      if (in) std::memcpy(value + 1, in, static_cast<size_t>(field->DataSize()));
    }
    if (state != dsCalcFields && state != dsFilter)
      DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
  }

  void SetFiltered(bool filtered) override {
    if (filtered == Filtered()) return;
    if (Active()) CheckBrowseMode();
    TDataSet::SetFiltered(filtered);
    if (Active()) First();
  }

  void SetRecNo(int rec_no) override {
    CheckBrowseMode();
    Rebuild();
    if (rec_no < 1 || rec_no > static_cast<int>(visible_.size()) || rec_no == RecNo()) return;
    DoBeforeScroll();
    pos_ = rec_no - 1;
    Resync(rmCenter);
    DoAfterScroll();
  }

 protected:
  void InternalOpen() override {
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(4);
    offsets_.clear();
    slots_.assign(static_cast<size_t>(FieldDefs().Count()), std::nullopt);
    for (Row& row : rows_) row.blobs.resize(static_cast<size_t>(FieldDefs().Count()));
    pos_ = -1;
    dirty_ = true;
    open_ = true;
  }

  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    open_ = false;
  }

  bool IsCursorOpen() const override { return open_; }
  void InternalInitFieldDefs() override {}

  TRecordBuffer AllocRecordBuffer() override {
    return new uint8_t[static_cast<size_t>(GetRecordSize())]();
  }
  void FreeRecordBuffer(TRecordBuffer& buffer) override {
    delete[] buffer;
    buffer = nullptr;
  }
  int GetRecordSize() const override { return ImageSize() + 8 + CalcFieldsSize(); }

  void InternalInitRecord(TRecordBuffer buffer) override {
    std::memset(buffer, 0, static_cast<size_t>(ImageSize()));
    for (int i = 0; i < FieldDefs().Count(); ++i) buffer[Offsets()[i]] = 1;
    std::memcpy(buffer + ImageSize(), &next_id_, 4);
  }

  void ClearCalcFields(TRecordBuffer buffer) override {
    std::memset(buffer + ImageSize() + 8, 0, static_cast<size_t>(CalcFieldsSize()));
  }

  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override {
    ++get_record_calls_;
    Rebuild();
    const int count = static_cast<int>(visible_.size());
    for (;;) {
      if (count == 0) return grEOF;
      switch (mode) {
        case gmCurrent:
          if (pos_ < 0 || pos_ >= count) return grError;
          break;
        case gmNext:
          if (pos_ >= count - 1) {
            pos_ = count;
            return grEOF;
          }
          ++pos_;
          break;
        case gmPrior:
          if (pos_ <= 0) {
            pos_ = -1;
            return grBOF;
          }
          --pos_;
          break;
      }
      const Row& row = rows_[static_cast<size_t>(visible_[static_cast<size_t>(pos_)])];
      std::memcpy(buffer, row.image.data(), row.image.size());
      std::memcpy(buffer + ImageSize(), &row.id, 4);
      buffer[ImageSize() + 4] = bfCurrent;
      GetCalcFields(buffer);
      if (Accepted(buffer)) return grOK;
      if (mode == gmCurrent) return grError;
    }
  }

  void InternalFirst() override { pos_ = -1; }
  void InternalLast() override {
    Rebuild();
    pos_ = static_cast<int>(visible_.size());
  }
  void InternalSetToRecord(TRecordBuffer buffer) override {
    InternalGotoBookmark(buffer + ImageSize());
  }
  int GetRecordCount() override {
    Rebuild();
    return static_cast<int>(visible_.size());
  }
  int GetRecNo() override {
    TRecordBuffer buffer = ActiveBuffer();
    if (!buffer || IsEmpty()) return 0;
    int32_t id;
    std::memcpy(&id, buffer + ImageSize(), 4);
    return VisiblePosition(id) + 1;
  }

  void GetBookmarkData(TRecordBuffer buffer, void* data) override {
    std::memcpy(data, buffer + ImageSize(), 4);
  }
  void SetBookmarkData(TRecordBuffer buffer, const void* data) override {
    std::memcpy(buffer + ImageSize(), data, 4);
  }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override {
    return static_cast<TBookmarkFlag>(buffer[ImageSize() + 4]);
  }
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override {
    buffer[ImageSize() + 4] = static_cast<uint8_t>(flag);
  }
  void InternalGotoBookmark(const void* bookmark) override {
    int32_t id;
    std::memcpy(&id, bookmark, 4);
    Rebuild();
    pos_ = VisiblePosition(id);
  }
  int InternalCompareBookmarks(const void* a, const void* b) override {
    int32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return x == y ? 0 : (VisiblePosition(x) < VisiblePosition(y) ? -1 : 1);
  }
  bool InternalBookmarkValid(const void* bookmark) override {
    int32_t id;
    std::memcpy(&id, bookmark, 4);
    Rebuild();
    return VisiblePosition(id) >= 0;
  }

  void InternalPost() override {
    TDataSet::InternalPost();
    if (read_only_) DatabaseError("Cannot modify a read-only dataset", this);
    TRecordBuffer buffer = ActiveBuffer();
    int32_t id;
    std::memcpy(&id, buffer + ImageSize(), 4);
    Row* row = nullptr;
    if (State() == dsInsert) {
      rows_.push_back(Row{next_id_++, {}, std::vector<std::string>(FieldDefs().Count())});
      row = &rows_.back();
      id = row->id;
    } else {
      for (Row& r : rows_)
        if (r.id == id) row = &r;
      if (!row) DatabaseError("Record not found", this);
    }
    row->image.assign(buffer, buffer + ImageSize());
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (!slots_[i]) continue;
      row->blobs[i] = *slots_[i];
      row->image[Offsets()[static_cast<int>(i)]] = row->blobs[i].empty() ? 1 : 0;
    }
    slots_.assign(slots_.size(), std::nullopt);
    dirty_ = true;
    Rebuild();
    int position = VisiblePosition(id);
    pos_ = position >= 0 ? position : std::min(pos_, static_cast<int>(visible_.size()) - 1);
  }

  void InternalCancel() override { slots_.assign(slots_.size(), std::nullopt); }

  void InternalDelete() override {
    if (read_only_) DatabaseError("Cannot modify a read-only dataset", this);
    Rebuild();
    if (pos_ < 0 || pos_ >= static_cast<int>(visible_.size())) DatabaseError("No record", this);
    rows_.erase(rows_.begin() + visible_[static_cast<size_t>(pos_)]);
    dirty_ = true;
    Rebuild();
    pos_ = std::min(pos_, static_cast<int>(visible_.size()) - 1);
  }

  bool GetCanModify() override { return !read_only_; }
  TDataSource* GetDataSource() override { return master_link_.DataSource(); }

  void DoOnNewRecord() override {
    // A new detail record starts with its master's key.
    if (master_link_.Active() && !master_fields_.empty()) {
      std::vector<TField*> master = master_link_.DataSet()->GetFieldList(master_fields_);
      std::vector<TField*> detail = GetFieldList(detail_fields_);
      for (size_t i = 0; i < master.size() && i < detail.size(); ++i)
        detail[i]->SetValue(master[i]->Value());
    }
    TDataSet::DoOnNewRecord();
  }

 private:
  struct Row {
    int32_t id;
    std::vector<uint8_t> image;
    std::vector<std::string> blobs;
  };

  class SlotStream : public TStream {
   public:
    SlotStream(std::string* slot, TField* field) : slot_(slot), field_(field) {}
    int64_t Read(void* buffer, int64_t count) override {
      int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, Size() - position_));
      if (n > 0) std::memcpy(buffer, slot_->data() + position_, static_cast<size_t>(n));
      position_ += n;
      return n;
    }
    int64_t Write(const void* buffer, int64_t count) override {
      if (count <= 0) return 0;
      if (position_ + count > Size()) slot_->resize(static_cast<size_t>(position_ + count));
      std::memcpy(slot_->data() + position_, buffer, static_cast<size_t>(count));
      position_ += count;
      if (auto* blob = dynamic_cast<TBlobField*>(field_)) blob->SetModified(true);
      return count;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
      int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
      if (base + offset < 0) throw EStreamError("Invalid stream position");
      return position_ = base + offset;
    }
    int64_t Size() override { return static_cast<int64_t>(slot_->size()); }

   private:
    std::string* slot_;
    TField* field_;
    int64_t position_ = 0;
  };

  class MasterLink : public TDetailDataLink {
   public:
    explicit MasterLink(MemoryDataset* detail) : detail_(detail) {}
    TDataSet* DetailDataSet() override { return detail_; }

   protected:
    void ActiveChanged() override { detail_->MasterChanged(); }
    void RecordChanged(TField* field) override {
      if (DataSource()->State() != dsSetKey) detail_->MasterChanged();
    }
    void CheckBrowseMode() override {
      if (detail_->Active()) detail_->CheckBrowseMode();
    }

   private:
    MemoryDataset* detail_;
  };

  static int NativeSize(const TFieldDef* def) {
    switch (def->DataType()) {
      case ftString:
      case ftFixedChar:
        return def->Size() + 1;
      case ftWideString:
        return def->Size() + 2;
      case ftBytes:
        return def->Size();
      case ftSmallint:
      case ftWord:
      case ftBoolean:
        return 2;
      case ftInteger:
      case ftAutoInc:
      case ftDate:
      case ftTime:
        return 4;
      case ftBlob:
      case ftMemo:
      case ftGraphic:
      case ftFmtMemo:
        return 0;
      default:
        return 8;
    }
  }

  const std::vector<int>& Offsets() const {
    if (offsets_.empty()) {
      int offset = 0;
      for (int i = 0; i < const_cast<MemoryDataset*>(this)->FieldDefs().Count(); ++i) {
        offsets_.push_back(offset);
        offset += 1 + NativeSize(const_cast<MemoryDataset*>(this)->FieldDefs()[i]);
      }
      offsets_.push_back(offset);
    }
    return offsets_;
  }
  int ImageSize() const { return Offsets().back(); }

  std::string StoredBlob(int index) const {
    TRecordBuffer buffer = const_cast<MemoryDataset*>(this)->CurrentBuffer();
    if (!buffer || State() == dsInsert) return std::string();
    int32_t id;
    std::memcpy(&id, buffer + ImageSize(), 4);
    for (const Row& row : rows_)
      if (row.id == id) return row.blobs[static_cast<size_t>(index)];
    return std::string();
  }

  void WriteStored(Row& row, int index, const Variant& value) {
    // Goes through a field so that values take the native format.
    TDataSetState saved = SetTempState(dsFilter);
    std::vector<uint8_t> buffer(static_cast<size_t>(GetRecordSize()), 0);
    std::memcpy(buffer.data(), row.image.data(), row.image.size());
    filter_buffer_ = buffer.data();
    try {
      FindField(FieldDefs()[index]->Name())->SetValue(value);
    } catch (...) {
      RestoreState(saved);
      throw;
    }
    RestoreState(saved);
    std::memcpy(row.image.data(), buffer.data(), row.image.size());
    filter_buffer_ = nullptr;
  }

  TRecordBuffer CurrentBuffer() {
    switch (State()) {
      case dsBrowse:
        return IsEmpty() ? nullptr : ActiveBuffer();
      case dsEdit:
      case dsInsert:
        return ActiveBuffer();
      case dsCalcFields:
        return CalcBuffer();
      case dsFilter:
        return filter_buffer_;
      default:
        return nullptr;
    }
  }

  bool Accepted(TRecordBuffer buffer) {
    if (!Filtered() || !OnFilterRecord()) return true;
    bool accept = true;
    TDataSetState saved = SetTempState(dsFilter);
    filter_buffer_ = buffer;
    try {
      OnFilterRecord()(this, accept);
    } catch (...) {
      RestoreState(saved);
      throw;
    }
    RestoreState(saved);
    return accept;
  }

  // Runs body with the fields reading the visible row at position.
  template <typename Body>
  void WithRowBuffer(int position, Body body) {
    std::vector<uint8_t> buffer(static_cast<size_t>(GetRecordSize()), 0);
    const Row& row = rows_[static_cast<size_t>(visible_[static_cast<size_t>(position)])];
    std::memcpy(buffer.data(), row.image.data(), row.image.size());
    std::memcpy(buffer.data() + ImageSize(), &row.id, 4);
    TDataSetState saved = SetTempState(dsFilter);
    filter_buffer_ = buffer.data();
    try {
      body();
    } catch (...) {
      RestoreState(saved);
      throw;
    }
    RestoreState(saved);
  }

  int Search(std::string_view key_fields, const Variant& key_values, TLocateOptions options) {
    Rebuild();
    std::vector<TField*> fields = GetFieldList(key_fields);
    for (int position = 0; position < static_cast<int>(visible_.size()); ++position) {
      bool match = true;
      WithRowBuffer(position, [&] {
        for (size_t i = 0; i < fields.size() && match; ++i) {
          Variant key =
              key_values.IsArray() ? key_values.ArrayItem(static_cast<int>(i)) : key_values;
          match = Matches(fields[i], key, options);
        }
      });
      if (match) return position;
    }
    return -1;
  }

  static bool Matches(TField* field, const Variant& key, TLocateOptions options) {
    if (field->IsNull() || key.IsNull()) return field->IsNull() && key.IsNull();
    if (field->DataType() == ftString || key.VarType() == varString) {
      std::string value = field->AsString(), wanted = key.AsString();
      if (options & loPartialKey) value = value.substr(0, wanted.size());
      return (options & loCaseInsensitive) ? SameText(value, wanted) : value == wanted;
    }
    return field->AsFloat() == key.AsDouble();
  }

  void MasterChanged() {
    dirty_ = true;
    if (Active()) First();
  }

  bool PassesMaster(const Row& row) {
    if (!master_link_.Active() || master_fields_.empty()) return true;
    std::vector<TField*> master = master_link_.DataSet()->GetFieldList(master_fields_);
    std::vector<TField*> detail = GetFieldList(detail_fields_);
    std::vector<uint8_t> buffer(static_cast<size_t>(GetRecordSize()), 0);
    std::memcpy(buffer.data(), row.image.data(), row.image.size());
    bool pass = true;
    TDataSetState saved = SetTempState(dsFilter);
    filter_buffer_ = buffer.data();
    for (size_t i = 0; i < master.size() && i < detail.size() && pass; ++i)
      pass = Matches(detail[i], master[i]->Value(), 0);
    RestoreState(saved);
    return pass;
  }

  void Rebuild() {
    if (!dirty_) return;
    visible_.clear();
    for (size_t i = 0; i < rows_.size(); ++i)
      if (PassesMaster(rows_[i])) visible_.push_back(static_cast<int>(i));
    dirty_ = false;
  }

  int VisiblePosition(int32_t id) const {
    for (size_t i = 0; i < visible_.size(); ++i)
      if (rows_[static_cast<size_t>(visible_[i])].id == id) return static_cast<int>(i);
    return -1;
  }

  MasterLink master_link_;
  std::string master_fields_;
  std::string detail_fields_;
  std::vector<Row> rows_;
  std::vector<int> visible_;
  mutable std::vector<int> offsets_;
  std::vector<std::optional<std::string>> slots_;
  TRecordBuffer filter_buffer_ = nullptr;
  int32_t next_id_ = 1;
  int pos_ = -1;
  int get_record_calls_ = 0;
  bool dirty_ = true;
  bool open_ = false;
  bool read_only_ = false;
};

// A control's view of a data source that counts what it hears.
class CountingLink : public TDataLink {
 public:
  int active_changed = 0, editing_changed = 0, dataset_changed = 0, scrolled = 0,
      record_changed = 0, layout_changed = 0, update_data = 0;
  int last_scroll = 0;

  void Reset() {
    active_changed = editing_changed = dataset_changed = scrolled = record_changed =
        layout_changed = update_data = 0;
  }
  int Total() const {
    return active_changed + editing_changed + dataset_changed + scrolled + record_changed +
           layout_changed;
  }

 protected:
  void ActiveChanged() override { ++active_changed; }
  void EditingChanged() override { ++editing_changed; }
  void DataSetChanged() override { ++dataset_changed; }
  void DataSetScrolled(int distance) override {
    ++scrolled;
    last_scroll = distance;
  }
  void RecordChanged(TField*) override { ++record_changed; }
  void LayoutChanged() override { ++layout_changed; }
  void UpdateData() override { ++update_data; }
};

// "cars": ID (integer) and NAME (string 20, required when asked), rows 1..count named
// "car1".., open on the first record.
inline void FillCars(MemoryDataset& ds, int count = 7, bool name_required = false) {
  ds.SetName("cars");
  ds.FieldDefs().Add("ID", ftInteger);
  ds.FieldDefs().Add("NAME", ftString, 20, name_required);
  ds.Open();
  for (int i = 1; i <= count; ++i) {
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(i);
    ds.FieldByName("NAME")->SetAsString("car" + std::to_string(i));
    ds.Post();
  }
  ds.First();
}

inline int Id(const TDataSet& ds) {
  return ds.FieldByName("ID")->AsInteger();
}

// The message of what action raises, or "no error".
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no error";
}

}  // namespace orv::testing
