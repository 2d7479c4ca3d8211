#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/component.h"
#include "platform/field_types.h"
#include "platform/variant.h"

namespace orv {

class TDataSet;
class TStream;

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

// One field of a dataset. The value lives in the dataset's record buffers; a field reads and
// writes it through TDataSet::GetFieldData / SetFieldData in the dataset's native format:
//   strings       Size + 1 bytes, zero-terminated cp1251 text
//   wide strings  Size + 2 bytes, zero-terminated UTF-16 (Size counts bytes)
//   Smallint, Word, Boolean 2 bytes; Integer, AutoInc 4; Largeint, Float, Currency 8
//   BCD           8 bytes: a currency (value * 10000 as a signed 64-bit integer)
//   Date          signed 32-bit days, 0001-01-01 being day 1
//   Time          signed 32-bit milliseconds since midnight
//   DateTime      double: days (as Date) * 86400000 + milliseconds
//   Bytes         Size bytes
//   BLOB types    no buffer; the value goes through TDataSet::CreateBlobStream
// The buffers handed to GetFieldData are never null and hold max(DataSize, 8) bytes; a null
// buffer given to SetFieldData means "no value".
// Calculated and lookup fields get an Offset into the calculated area of each record buffer
// (BindFields); the dataset keeps a flag byte and DataSize bytes for them there.
class TField : public TComponent {
 public:
  TField(TComponent* owner, TFieldType type);
  ~TField() override;

  TDataSet* DataSet() const { return dataset_; }
  // Only while both the old and the new dataset are closed.
  void SetDataSet(TDataSet* dataset);
  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(std::string name);
  TFieldType DataType() const { return data_type_; }
  TFieldKind FieldKind() const { return kind_; }
  void SetFieldKind(TFieldKind kind);
  bool Calculated() const { return kind_ == fkCalculated; }
  void SetCalculated(bool calculated) { SetFieldKind(calculated ? fkCalculated : fkData); }
  bool Lookup() const { return kind_ == fkLookup; }
  // The FieldDefs position (from 1) of a bound data field; -1 for calculated fields, 0 unbound.
  int FieldNo() const { return field_no_; }
  int Offset() const { return offset_; }
  int Size() const { return size_; }
  // Raises "Invalid field size" for a size the type cannot take; only while closed.
  void SetSize(int size);
  virtual int DataSize() const = 0;
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  virtual bool IsBlob() const { return false; }
  bool IsIndexField() const;
  // Position in the dataset's field list; -1 without a dataset.
  int Index() const;

  bool IsNull() const { return GetIsNull(); }
  virtual void Clear() { SetData(nullptr); }

  std::string AsString() const { return GetAsString(); }
  void SetAsString(std::string_view value) { SetAsStringImpl(value); }
  std::u16string AsWideString() const { return GetAsWideString(); }
  void SetAsWideString(std::u16string_view value) { SetAsWideStringImpl(value); }
  int32_t AsInteger() const { return GetAsInteger(); }
  void SetAsInteger(int32_t value) { SetAsIntegerImpl(value); }
  int64_t AsLargeInt() const { return GetAsLargeInt(); }
  void SetAsLargeInt(int64_t value) { SetAsLargeIntImpl(value); }
  double AsFloat() const { return GetAsFloat(); }
  void SetAsFloat(double value) { SetAsFloatImpl(value); }
  TDateTime AsDateTime() const { return GetAsDateTime(); }
  void SetAsDateTime(TDateTime value) { SetAsDateTimeImpl(value); }
  bool AsBoolean() const { return GetAsBoolean(); }
  void SetAsBoolean(bool value) { SetAsBooleanImpl(value); }
  // Null for no value; Null and Empty clear the field.
  Variant Value() const { return IsNull() ? Variant::Null() : GetAsVariant(); }
  void SetValue(const Variant& value);
  Variant AsVariant() const { return Value(); }
  void SetAsVariant(const Variant& value) { SetValue(value); }

  // Raw access in the native format (native) or the framework's (dates as TDateTime, wide
  // strings as a std::u16string object). GetData answers whether the field has a value.
  bool GetData(void* buffer, bool native = true) const;
  void SetData(const void* buffer, bool native = true);
  // Runs OnValidate for a new value in the native format; while it runs, the field reads that
  // value. Datasets call it from SetFieldData before they store the value.
  void Validate(const void* buffer);
  std::function<void(TField*)> OnValidate;

  // Lookup fields: the value is LookupResultField of the LookupDataSet record whose
  // LookupKeyFields equal this dataset's KeyFields.
  TDataSet* LookupDataSet() const { return lookup_dataset_; }
  void SetLookupDataSet(TDataSet* dataset);
  const std::string& KeyFields() const { return key_fields_; }
  void SetKeyFields(std::string fields) { key_fields_ = std::move(fields); }
  const std::string& LookupKeyFields() const { return lookup_key_fields_; }
  void SetLookupKeyFields(std::string fields) { lookup_key_fields_ = std::move(fields); }
  const std::string& LookupResultField() const { return lookup_result_field_; }
  void SetLookupResultField(std::string field) { lookup_result_field_ = std::move(field); }

  // Called once the record buffers are done with (post, cancel).
  virtual void FreeBuffers() {}

 protected:
  void Notification(TComponent* component, TOperation operation) override;

  virtual bool GetIsNull() const;
  virtual std::string GetAsString() const;
  virtual void SetAsStringImpl(std::string_view value);
  virtual std::u16string GetAsWideString() const;
  virtual void SetAsWideStringImpl(std::u16string_view value);
  virtual int32_t GetAsInteger() const;
  virtual void SetAsIntegerImpl(int32_t value);
  virtual int64_t GetAsLargeInt() const;
  virtual void SetAsLargeIntImpl(int64_t value);
  virtual double GetAsFloat() const;
  virtual void SetAsFloatImpl(double value);
  virtual TDateTime GetAsDateTime() const;
  virtual void SetAsDateTimeImpl(TDateTime value);
  virtual bool GetAsBoolean() const;
  virtual void SetAsBooleanImpl(bool value);
  virtual Variant GetAsVariant() const = 0;
  virtual void SetVarValue(const Variant& value) = 0;
  // Whether size suits this field type.
  virtual bool ValidSize(int size) const { return size == 0; }

  // "Cannot access field 'X' as type Integer".
  [[noreturn]] void AccessError(const char* type_name) const;
  // "5 is not a valid value for field 'X'. The allowed range is 0 to 3".
  [[noreturn]] void RangeError(double value, double min, double max) const;
  // Room for a native value; the usual field sizes need no allocation, as every getter reads
  // through one.
  class TNativeBuffer {
   public:
    TNativeBuffer() = default;
    TNativeBuffer(const TNativeBuffer&) = delete;
    TNativeBuffer& operator=(const TNativeBuffer&) = delete;
    // size zeroed bytes.
    uint8_t* Reserve(size_t size);
    const uint8_t* data() const { return data_; }

   private:
    alignas(8) uint8_t inline_[256];
    std::vector<uint8_t> heap_;
    uint8_t* data_ = inline_;
  };
  // Reads the native value into a scratch buffer of at least max(DataSize, 8) bytes.
  bool ReadNative(TNativeBuffer* buffer) const;
  void CheckInactive() const;

 private:
  friend class TDataSet;
  friend class TFields;

  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  TFieldType data_type_;
  TFieldKind kind_ = fkData;
  int field_no_ = 0;
  int offset_ = 0;
  int size_ = 0;
  bool required_ = false;
  bool read_only_ = false;
  const void* validating_buffer_ = nullptr;
  bool validating_ = false;
  TDataSet* lookup_dataset_ = nullptr;
  std::string key_fields_;
  std::string lookup_key_fields_;
  std::string lookup_result_field_;
};

// The fields of a dataset, in order. Field names compare without case.
class TFields {
 public:
  explicit TFields(TDataSet* dataset) : dataset_(dataset) {}

  int Count() const { return static_cast<int>(list_.size()); }
  TField* operator[](int index) const;
  TField* FindField(std::string_view name) const;
  // Raises "Field 'X' not found" (prefixed with the dataset's name).
  TField* FieldByName(std::string_view name) const;
  int IndexOf(const TField* field) const;
  // Frees every field.
  void Clear();

 private:
  friend class TField;
  friend class TDataSet;

  void Add(TField* field);
  void Remove(TField* field);
  void CheckFieldName(std::string_view name) const;

  TDataSet* dataset_;
  std::vector<TField*> list_;
};

class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner = nullptr);
  // ftFixedChar, and the wide strings below.
  TStringField(TComponent* owner, TFieldType type);
  int DataSize() const override { return Size() + 1; }

 protected:
  std::string GetAsString() const override;
  void SetAsStringImpl(std::string_view value) override;
  int32_t GetAsInteger() const override;
  void SetAsIntegerImpl(int32_t value) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntImpl(int64_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatImpl(double value) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeImpl(TDateTime value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanImpl(bool value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  bool ValidSize(int size) const override;
};

// Size counts bytes: a field of Size 40 holds 20 UTF-16 code units.
class TWideStringField : public TStringField {
 public:
  explicit TWideStringField(TComponent* owner = nullptr);
  int DataSize() const override { return Size() + 2; }

 protected:
  std::string GetAsString() const override;
  void SetAsStringImpl(std::string_view value) override;
  std::u16string GetAsWideString() const override;
  void SetAsWideStringImpl(std::u16string_view value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  bool ValidSize(int size) const override;
};

// The integer types up to 32 bits; values outside the type's range raise RangeError.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TComponent* owner = nullptr);
  int DataSize() const override { return 4; }

 protected:
  TIntegerField(TComponent* owner, TFieldType type, int64_t min, int64_t max);
  // The stored value, widened; false when the field has none.
  bool ReadValue(int64_t* value) const;
  void WriteValue(int64_t value);
  std::string GetAsString() const override;
  void SetAsStringImpl(std::string_view value) override;
  int32_t GetAsInteger() const override;
  void SetAsIntegerImpl(int32_t value) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntImpl(int64_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatImpl(double value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;

 private:
  void SetChecked(double value);

  int64_t min_;
  int64_t max_;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner = nullptr);
  int DataSize() const override { return 2; }
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner = nullptr);
  int DataSize() const override { return 2; }
};

class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner = nullptr);
};

class TLargeintField : public TIntegerField {
 public:
  explicit TLargeintField(TComponent* owner = nullptr);
  int DataSize() const override { return 8; }

 protected:
  Variant GetAsVariant() const override;
};

class TFloatField : public TField {
 public:
  explicit TFloatField(TComponent* owner = nullptr);
  int DataSize() const override { return 8; }

 protected:
  TFloatField(TComponent* owner, TFieldType type);
  virtual bool ReadFloat(double* value) const;
  virtual void WriteFloat(double value);
  std::string GetAsString() const override;
  void SetAsStringImpl(std::string_view value) override;
  int32_t GetAsInteger() const override;
  void SetAsIntegerImpl(int32_t value) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntImpl(int64_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatImpl(double value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner = nullptr);
};

// Kept as a currency: four decimal places, values within +-922337203685477.5807.
class TBCDField : public TFloatField {
 public:
  explicit TBCDField(TComponent* owner = nullptr);

 protected:
  bool ReadFloat(double* value) const override;
  void WriteFloat(double value) override;
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner = nullptr);
  int DataSize() const override { return 2; }

 protected:
  std::string GetAsString() const override;
  void SetAsStringImpl(std::string_view value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanImpl(bool value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
};

class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner = nullptr);
  int DataSize() const override { return 8; }

 protected:
  TDateTimeField(TComponent* owner, TFieldType type);
  bool ReadDateTime(TDateTime* value) const;
  std::string GetAsString() const override;
  void SetAsStringImpl(std::string_view value) override;
  double GetAsFloat() const override;
  void SetAsFloatImpl(double value) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeImpl(TDateTime value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner = nullptr);
  int DataSize() const override { return 4; }
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner = nullptr);
  int DataSize() const override { return 4; }
};

// Fixed-size binary values; the text of the value is its bytes.
class TBytesField : public TField {
 public:
  explicit TBytesField(TComponent* owner = nullptr);
  int DataSize() const override { return Size(); }

 protected:
  std::string GetAsString() const override;
  void SetAsStringImpl(std::string_view value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  bool ValidSize(int size) const override;
};

// BLOB values (ftBlob, ftMemo, ftGraphic, ftFmtMemo) travel through the dataset's BLOB
// streams. Writing marks the field Modified; the dataset's CloseBlob runs for a modified field
// when the record is posted or cancelled.
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner = nullptr, TFieldType type = ftBlob);
  int DataSize() const override { return 0; }
  bool IsBlob() const override { return true; }
  TFieldType BlobType() const { return DataType(); }

  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  int64_t BlobSize() const;
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path) const;
  // Empties the value through a write stream.
  void Clear() override;
  void FreeBuffers() override;

 protected:
  bool GetIsNull() const override;
  std::string GetAsString() const override;
  void SetAsStringImpl(std::string_view value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  bool ValidSize(int size) const override { return size >= 0; }

 private:
  bool modified_ = false;
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner = nullptr) : TBlobField(owner, ftMemo) {}
};

class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* owner = nullptr) : TBlobField(owner, ftGraphic) {}
};

// The field class for a field type (ftFmtMemo and the OLE types become TBlobField); nullptr
// for types that have none.
TField* CreateFieldOfType(TFieldType type, TComponent* owner);
// "String", "Integer", "Memo" ...
const char* FieldTypeName(TFieldType type);

}  // namespace orv
