#include <fmt/format.h>

#include <cmath>
#include <cstring>

#include "engine/common/orv_exception.h"
#include "engine/components/orvel_blob_stream.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_dataset.h"
#include "engine/files/little_endian.h"
#include "engine/sql/orv_value.h"
#include "engine/storage/stored_types.h"

namespace orv {

namespace {

constexpr double kMsPerDay = 86400000.0;

bool DatePartIsZero(double date_time) {
  return std::trunc(date_time / kMsPerDay) == 0;
}

// Whether a value in the native format stands for "no value" in a stored field.
bool IsEmptyValue(TFieldType type, const uint8_t* data) {
  switch (type) {
    case ftString:
    case ftFixedChar:
      return data[0] == 0;
    case ftWideString:
      return data[0] == 0 && data[1] == 0;
    case ftDate:
      return LoadI32(data) == 0;
    case ftDateTime: {
      double value;
      std::memcpy(&value, data, sizeof value);
      return DatePartIsZero(value);
    }
    default:
      return false;
  }
}

}  // namespace

TRecordBuffer TOrvelDataset::CurrentFieldBuffer() const {
  if (direct_insert_ && !direct_buffer_.empty()) return const_cast<uint8_t*>(direct_buffer_.data());
  switch (State()) {
    case dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsNewValue:
    case dsOldValue:
    case dsCurValue:
      return ActiveBuffer();
    case dsSetKey:
      return KeyBuffer(current_key_);
    case dsCalcFields:
    case dsInternalCalc:
      return CalcBuffer();
    case dsFilter:
      return filter_buffer_;
    default:
      return nullptr;
  }
}

bool TOrvelDataset::GetFieldData(TField* field, void* buffer) {
  if (field == nullptr || dm_ == nullptr) return false;
  const uint8_t* record = CurrentFieldBuffer();
  if (record == nullptr) return false;
  auto* out = static_cast<uint8_t*>(buffer);
  if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
    const uint8_t* slot = record + RecordImageSize() + 8 + field->Offset();
    if (slot[0] != 1) return false;
    if (out != nullptr) std::memcpy(out, slot + 1, static_cast<size_t>(field->DataSize()));
    return true;
  }
  const int32_t field_no = TableFieldOf(field);
  const TOrvelTableFiles& table = dm_->Table();
  const TRecordGeometry& geometry = table.Geometry();
  if (field_no == kIdentifierFieldNo) {
    if (out != nullptr) std::memcpy(out, record + geometry.IdentifierOffset(), 4);
    return true;
  }
  if (field_no < 0) return false;
  if (geometry.IsNull(record, field_no)) return false;
  const FieldHeaderType& header = table.Fields()[static_cast<size_t>(field_no)];
  if (IsBlobFieldType(header.Type)) return true;
  const uint8_t* slot = record + geometry.FieldOffsets[static_cast<size_t>(field_no)];
  if (header.Type == ftDate && LoadI32(slot) <= 0) return false;
  if (header.Type == ftDateTime) {
    double value;
    std::memcpy(&value, slot, sizeof value);
    if (DatePartIsZero(value)) return false;
  }
  if (out == nullptr) return true;
  const size_t size = std::min<size_t>(static_cast<size_t>(header.Size),
                                       static_cast<size_t>(std::max(field->DataSize(), 0)));
  std::memcpy(out, slot, size);
  // A stored text always ends inside its slot, however the bytes were written.
  if (header.Type == ftString && size > 0) out[size - 1] = 0;
  if (header.Type == ftWideString && size > 1) out[size - 1] = out[size - 2] = 0;
  return true;
}

void TOrvelDataset::CopyFieldToBuffer(int32_t field_no, const void* data, uint8_t* image) {
  const TOrvelTableFiles& table = dm_->Table();
  const TRecordGeometry& geometry = table.Geometry();
  const FieldHeaderType& header = table.Fields()[static_cast<size_t>(field_no)];
  uint8_t* slot = image + geometry.FieldOffsets[static_cast<size_t>(field_no)];
  const auto* in = static_cast<const uint8_t*>(data);
  if (in == nullptr || IsEmptyValue(header.Type, in)) {
    std::memset(slot, 0, static_cast<size_t>(header.Size));
    geometry.SetNull(image, field_no, true);
    return;
  }
  geometry.SetNull(image, field_no, false);
  std::memset(slot, 0, static_cast<size_t>(header.Size));
  switch (header.Type) {
    case ftString:
    case ftFixedChar:
      std::memcpy(slot, in, strnlen(reinterpret_cast<const char*>(in), header.Size - 1));
      break;
    case ftWideString: {
      size_t units = 0;
      const auto limit = static_cast<size_t>(header.Size - 2) / 2;
      while (units < limit && (in[2 * units] != 0 || in[2 * units + 1] != 0)) ++units;
      std::memcpy(slot, in, units * 2);
      break;
    }
    default: {
      TField* field = nullptr;
      for (int f = 0; f < FieldCount() && field == nullptr; ++f)
        if (TableFieldOf(Fields()[f]) == field_no) field = Fields()[f];
      const int size = field != nullptr ? std::min(field->DataSize(), header.Size) : header.Size;
      std::memcpy(slot, in, static_cast<size_t>(size));
      break;
    }
  }
}

void TOrvelDataset::SetFieldData(TField* field, const void* buffer) {
  if (field == nullptr || dm_ == nullptr) return;
  const TDataSetState state = State();
  const bool allowed = direct_insert_ || state == dsEdit || state == dsInsert ||
                       state == dsSetKey || state == dsCalcFields || state == dsFilter ||
                       state == dsNewValue || state == dsInternalCalc;
  if (!allowed) throw EOrvException(1085, Name());
  const bool calculated = field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup;
  if (state == dsSetKey && !direct_insert_ &&
      (calculated || (IndexFieldCount() > 0 && !GetIsIndexField(field))))
    throw EOrvException::Fmt(1086, Name(), field->FieldName());
  uint8_t* record = CurrentFieldBuffer();
  if (record == nullptr) throw EOrvException::Fmt(18, Name(), table_name_);
  if (calculated) {
    uint8_t* slot = record + RecordImageSize() + 8 + field->Offset();
    slot[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) std::memcpy(slot + 1, buffer, static_cast<size_t>(field->DataSize()));
  } else {
    field->Validate(buffer);
    const int32_t field_no = TableFieldOf(field);
    const auto field_count = static_cast<int32_t>(dm_->Table().Fields().size());
    if (field_no == kIdentifierFieldNo) {
      if (state == dsSetKey || identifier_write_) {
        int32_t identifier = 0;
        if (buffer != nullptr) std::memcpy(&identifier, buffer, 4);
        StoreI32(record + dm_->Table().Geometry().IdentifierOffset(), identifier);
      }
    } else if (field_no < 0) {
      if (field->FieldNo() > field_count + 1)
        throw Exception("Error in TOrvelDataSet.SetFieldData - FieldNo > fieldCount.");
      return;
    } else {
      CopyFieldToBuffer(field_no, buffer, record);
    }
  }
  if (state == dsSetKey) key_headers_[static_cast<size_t>(current_key_)].modified = true;
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue)
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
}

void TOrvelDataset::SetSqlRecord(int32_t record_no) {
  if (record_no < 0 || dm_ == nullptr) {
    sql_record_ = nullptr;
    return;
  }
  if (record_no >= dm_->RecordCount())
    throw Exception(
        fmt::format("TOrvelDataSet.SetSqlRecord - invalid record number {}", record_no));
  sql_record_copy_.assign(dm_->GetRecordPtr(record_no),
                          dm_->GetRecordPtr(record_no) + RecordImageSize());
  sql_record_ = sql_record_copy_.data();
}

void TOrvelDataset::GetFieldValue(TOrvValue& value, int32_t field_no, bool copy) {
  if (dm_ == nullptr) throw Exception("TOrvelDataSet.GetFieldValue - DMHandle = nil");
  if (!cursor_open_) throw EOrvException::Fmt(7, Name(), table_name_);
  const uint8_t* record = testing_image_ != nullptr ? testing_image_
                          : sql_record_ != nullptr  ? sql_record_
                                                    : CurrentFieldBuffer();
  if (record == nullptr) throw EOrvException::Fmt(8, Name(), table_name_);
  const TOrvelTableFiles& table = dm_->Table();
  const auto field_count = static_cast<int32_t>(table.Fields().size());
  if (field_no < kIdentifierFieldNo || field_no >= field_count)
    throw EOrvException::Fmt(9, Name(), table_name_, field_no);
  const TRecordGeometry& geometry = table.Geometry();
  if (field_no == kIdentifierFieldNo) {
    value.SetAutoInc(IdentifierOf(record));
    return;
  }
  const FieldHeaderType& header = table.Fields()[static_cast<size_t>(field_no)];
  if (geometry.IsNull(record, field_no)) {
    value.SetNull(static_cast<uint8_t>(header.Type));
    return;
  }
  if (IsBlobFieldType(header.Type)) {
    TMemoryStream stream;
    const int32_t record_no = PhysicalOfIdentifier(IdentifierOf(record));
    if (record_no >= 0 && dm_->Table().HasBlobs())
      dm_->ReadBLOBValue(stream, BlobFieldNumber(field_no), record_no);
    value.SetData(static_cast<uint8_t>(header.Type), stream.Memory(),
                  static_cast<int32_t>(stream.Size()));
    return;
  }
  // Payloads are always copied: a view into a record buffer would outlive the buffer's content.
  (void)copy;
  value.SetData(static_cast<uint8_t>(header.Type),
                record + geometry.FieldOffsets[static_cast<size_t>(field_no)], header.Size);
}

void TOrvelDataset::SetFieldValue(const TOrvValue& value, int32_t field_no) {
  if (dm_ == nullptr) throw Exception("TOrvelDataSet.GetFieldValue - DMHandle = nil");
  uint8_t* record = CurrentFieldBuffer();
  if (record == nullptr) throw EOrvException::Fmt(18, Name(), table_name_);
  const TOrvelTableFiles& table = dm_->Table();
  const auto field_count = static_cast<int32_t>(table.Fields().size());
  if (field_no < kIdentifierFieldNo || field_no >= field_count)
    throw EOrvException::Fmt(9, Name(), table_name_, field_no);
  TField* field = nullptr;
  for (int f = 0; f < FieldCount() && field == nullptr; ++f)
    if (Fields()[f]->FieldKind() == fkData && TableFieldOf(Fields()[f]) == field_no)
      field = Fields()[f];
  if (field_no == kIdentifierFieldNo) {
    if (value.IsNull()) return;
    TOrvValue converted = value;
    converted.ConvertTo(ftInteger);
    const int32_t identifier = converted.AsInteger();
    StoreI32(record + table.Geometry().IdentifierOffset(), identifier);
    if (identifier > dm_->Table().Header().LastRecordId) SetLastAutoIncValue(identifier);
  } else {
    const FieldHeaderType& header = table.Fields()[static_cast<size_t>(field_no)];
    const auto type = static_cast<uint8_t>(header.Type);
    if (IsBlobFieldType(header.Type)) {
      if (field == nullptr) throw EOrvException::Fmt(9, Name(), table_name_, field_no);
      TMemoryStream* stream = OpenBlobSlot(field, bmWrite);
      stream->SetSize(0);
      if (!value.IsNull() && value.DataSize() > 0)
        stream->WriteBuffer(value.Data(), value.DataSize());
      table.Geometry().SetNull(record, field_no, stream->Size() == 0);
    } else if (value.IsNull()) {
      if (field != nullptr) field->Validate(nullptr);
      CopyFieldToBuffer(field_no, nullptr, record);
    } else {
      TOrvValue converted = value;
      if (converted.DataType() != type) converted.ConvertTo(type);
      std::vector<uint8_t> native(static_cast<size_t>(std::max(header.Size, 8)) + 2, 0);
      std::memcpy(native.data(), converted.Data(),
                  std::min<size_t>(native.size() - 2, static_cast<size_t>(converted.DataSize())));
      if (header.Type == ftBoolean) {
        const uint16_t flag = converted.Data()[0] != 0 ? 1 : 0;
        std::memcpy(native.data(), &flag, 2);
      }
      if (field != nullptr) field->Validate(native.data());
      CopyFieldToBuffer(field_no, native.data(), record);
    }
  }
  const TDataSetState state = State();
  if (field != nullptr && state != dsCalcFields && state != dsFilter && state != dsNewValue)
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
}

void TOrvelDataset::SetLastAutoIncValue(int32_t value) {
  if (dm_ == nullptr) throw Exception("TOrvelDataSet.SetLastAutoIncValue - table is not opened.");
  TSessionScope lock(*this);
  dm_->Lock();
  dm_->Table().Header().LastRecordId = value - 1;
  ++dm_->Table().Header().ChangeCounter;
  dm_->Unlock();
}

int32_t TOrvelDataset::BlobFieldNumber(int32_t table_field) const {
  int32_t number = 0;
  const auto& fields = dm_->Table().Fields();
  for (int32_t f = 0; f < table_field; ++f)
    if (IsBlobFieldType(fields[static_cast<size_t>(f)].Type)) ++number;
  return number;
}

TMemoryStream* TOrvelDataset::OpenBlobSlot(TField* field, TBlobStreamMode mode) {
  const int32_t field_no = TableFieldOf(field);
  if (dm_ == nullptr || field_no < 0 || static_cast<size_t>(field_no) >= blob_slots_.size() ||
      !IsBlobFieldType(dm_->Table().Fields()[static_cast<size_t>(field_no)].Type))
    throw Exception(
        fmt::format("Error in TOrvelDataset.CreateBlobStream - field {} is not a BLOB field",
                    field != nullptr ? field->FieldName() : std::string()));
  TSessionScope lock(*this);
  TBlobSlot& slot = blob_slots_[static_cast<size_t>(field_no)];
  const bool editing = direct_insert_ || State() == dsEdit || State() == dsInsert;
  if (!editing || !slot.stream) {
    slot.stream = std::make_unique<TMemoryStream>();
    slot.mode = bmRead;
    const uint8_t* record = CurrentFieldBuffer();
    const bool inserting = direct_insert_ || State() == dsInsert;
    if (mode != bmWrite && !inserting && record != nullptr &&
        !dm_->Table().Geometry().IsNull(record, field_no)) {
      const int32_t record_no = PhysicalOfIdentifier(IdentifierOf(record));
      if (record_no >= 0) dm_->ReadBLOBValue(*slot.stream, BlobFieldNumber(field_no), record_no);
    }
  }
  // A reader of a value written in this edit must not make the post skip it.
  if (slot.mode == bmRead || !editing) slot.mode = mode;
  slot.stream->SetPosition(0);
  return slot.stream.get();
}

std::unique_ptr<TStream> TOrvelDataset::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  if (mode != bmRead && read_only_)
    throw Exception("Error in TOrvelDataset.CreateBlobStream - Dataset is read only!");
  return std::make_unique<TOrvelBlobStream>(field, mode);
}

void TOrvelDataset::CloseBlob(TField* field) {
  const int32_t field_no = TableFieldOf(field);
  if (dm_ == nullptr || field_no < 0 || static_cast<size_t>(field_no) >= blob_slots_.size()) return;
  const TBlobSlot& slot = blob_slots_[static_cast<size_t>(field_no)];
  const bool editing = direct_insert_ || State() == dsEdit || State() == dsInsert;
  if (!slot.stream || !editing) return;
  uint8_t* record = CurrentFieldBuffer();
  if (record != nullptr)
    dm_->Table().Geometry().SetNull(record, field_no, slot.stream->Size() == 0);
}

void TOrvelDataset::WriteBlobSlots(int32_t record_no) {
  for (size_t f = 0; f < blob_slots_.size(); ++f) {
    TBlobSlot& slot = blob_slots_[f];
    if (!slot.stream || slot.mode == bmRead) continue;
    if (record_no < 0)
      throw Exception(fmt::format(
          "Error in TOrvelDataSet.mvWriteBLOBValue - error while detecting physical position, "
          "tPos = {}",
          record_no));
    slot.stream->SetPosition(0);
    dm_->WriteBLOBValue(*slot.stream, BlobFieldNumber(static_cast<int32_t>(f)), record_no);
  }
}

void TOrvelDataset::FreeBlobStreams() {
  for (TBlobSlot& slot : blob_slots_) {
    slot.stream.reset();
    slot.mode = bmRead;
  }
}

}  // namespace orv
