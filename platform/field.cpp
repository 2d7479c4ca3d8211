#include "platform/field.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "platform/dataset.h"
#include "platform/list_index.h"
#include "platform/streams.h"
#include "platform/value_text.h"

namespace orv {
namespace {

constexpr int kMaxStringSize = 8192;

template <typename T>
T Load(const uint8_t* buffer) {
  T value;
  std::memcpy(&value, buffer, sizeof value);
  return value;
}

template <typename T>
void Store(uint8_t* buffer, T value) {
  std::memcpy(buffer, &value, sizeof value);
}

}  // namespace

TField::TField(TComponent* owner, TFieldType type) : TComponent(owner), data_type_(type) {}

TField::~TField() {
  if (dataset_) dataset_->fields_.Remove(this);
}

void TField::CheckInactive() const {
  if (dataset_) dataset_->CheckInactive();
}

void TField::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  CheckInactive();
  if (dataset) {
    dataset->CheckInactive();
    dataset->fields_.CheckFieldName(field_name_);
  }
  if (dataset_) dataset_->fields_.Remove(this);
  if (dataset) dataset->fields_.Add(this);
}

void TField::SetFieldName(std::string name) {
  if (dataset_) {
    dataset_->CheckInactive();
    if (!SameText(name, field_name_)) dataset_->fields_.CheckFieldName(name);
  }
  field_name_ = std::move(name);
}

void TField::SetFieldKind(TFieldKind kind) {
  CheckInactive();
  kind_ = kind;
}

void TField::SetSize(int size) {
  CheckInactive();
  if (!ValidSize(size)) DatabaseError("Invalid field size");
  size_ = size;
}

bool TField::IsIndexField() const {
  return dataset_ && dataset_->GetIsIndexField(this);
}

int TField::Index() const {
  return dataset_ ? dataset_->fields_.IndexOf(this) : -1;
}

bool TField::GetIsNull() const {
  TNativeBuffer scratch;
  return !ReadNative(&scratch);
}

uint8_t* TField::TNativeBuffer::Reserve(size_t size) {
  if (size <= sizeof inline_) {
    data_ = inline_;
  } else {
    heap_.resize(size);
    data_ = heap_.data();
  }
  std::memset(data_, 0, size);
  return data_;
}

bool TField::ReadNative(TNativeBuffer* buffer) const {
  return GetData(buffer->Reserve(static_cast<size_t>(std::max(DataSize(), 8))), true);
}

bool TField::GetData(void* buffer, bool native) const {
  if (!dataset_) DatabaseError(fmt::format("Field '{}' has no dataset", field_name_));
  if (validating_) {
    if (!validating_buffer_) return false;
    if (native)
      std::memcpy(buffer, validating_buffer_, static_cast<size_t>(DataSize()));
    else
      dataset_->DataConvert(const_cast<TField*>(this), validating_buffer_, buffer, false);
    return true;
  }
  auto* self = const_cast<TField*>(this);
  if (native) return dataset_->GetFieldData(self, buffer);
  std::vector<uint8_t> scratch(static_cast<size_t>(std::max(DataSize(), 8)), 0);
  if (!dataset_->GetFieldData(self, scratch.data())) return false;
  dataset_->DataConvert(self, scratch.data(), buffer, false);
  return true;
}

void TField::SetData(const void* buffer, bool native) {
  if (!dataset_) DatabaseError(fmt::format("Field '{}' has no dataset", field_name_));
  if (native || !buffer) {
    dataset_->SetFieldData(this, buffer);
    return;
  }
  std::vector<uint8_t> scratch(static_cast<size_t>(std::max(DataSize(), 8)), 0);
  dataset_->DataConvert(this, buffer, scratch.data(), true);
  dataset_->SetFieldData(this, scratch.data());
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  const void* saved_buffer = validating_buffer_;
  bool saved = validating_;
  validating_buffer_ = buffer;
  validating_ = true;
  try {
    OnValidate(this);
  } catch (...) {
    validating_buffer_ = saved_buffer;
    validating_ = saved;
    throw;
  }
  validating_buffer_ = saved_buffer;
  validating_ = saved;
}

void TField::SetValue(const Variant& value) {
  if (value.IsNull() || value.IsEmpty())
    Clear();
  else
    SetVarValue(value);
}

void TField::SetLookupDataSet(TDataSet* dataset) {
  CheckInactive();
  if (lookup_dataset_) RemoveFreeNotification(lookup_dataset_);
  lookup_dataset_ = dataset;
  if (dataset) FreeNotification(dataset);
}

void TField::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == lookup_dataset_) lookup_dataset_ = nullptr;
}

void TField::AccessError(const char* type_name) const {
  DatabaseError(fmt::format("Cannot access field '{}' as type {}", field_name_, type_name));
}

void TField::RangeError(double value, double min, double max) const {
  DatabaseError(fmt::format("{} is not a valid value for field '{}'. The allowed range is {} to {}",
                            FloatToStr(value), field_name_, FloatToStr(min), FloatToStr(max)));
}

std::string TField::GetAsString() const {
  AccessError("String");
}
void TField::SetAsStringImpl(std::string_view) {
  AccessError("String");
}
std::u16string TField::GetAsWideString() const {
  return Cp1251ToUtf16(GetAsString());
}
void TField::SetAsWideStringImpl(std::u16string_view value) {
  SetAsString(Utf16ToCp1251(value));
}
int32_t TField::GetAsInteger() const {
  AccessError("Integer");
}
void TField::SetAsIntegerImpl(int32_t) {
  AccessError("Integer");
}
int64_t TField::GetAsLargeInt() const {
  AccessError("LargeInt");
}
void TField::SetAsLargeIntImpl(int64_t) {
  AccessError("LargeInt");
}
double TField::GetAsFloat() const {
  AccessError("Float");
}
void TField::SetAsFloatImpl(double) {
  AccessError("Float");
}
TDateTime TField::GetAsDateTime() const {
  AccessError("DateTime");
}
void TField::SetAsDateTimeImpl(TDateTime) {
  AccessError("DateTime");
}
bool TField::GetAsBoolean() const {
  AccessError("Boolean");
}
void TField::SetAsBooleanImpl(bool) {
  AccessError("Boolean");
}

TField* TFields::operator[](int index) const {
  CheckListIndex(index, list_.size());
  return list_[static_cast<size_t>(index)];
}

TField* TFields::FindField(std::string_view name) const {
  for (TField* field : list_)
    if (SameText(field->FieldName(), name)) return field;
  return nullptr;
}

TField* TFields::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (!field) DatabaseError(fmt::format("Field '{}' not found", name), dataset_);
  return field;
}

int TFields::IndexOf(const TField* field) const {
  auto it = std::find(list_.begin(), list_.end(), field);
  return it == list_.end() ? -1 : static_cast<int>(it - list_.begin());
}

void TFields::Clear() {
  while (!list_.empty()) delete list_.back();  // the field leaves the list as it goes
}

void TFields::Add(TField* field) {
  list_.push_back(field);
  field->dataset_ = dataset_;
}

void TFields::Remove(TField* field) {
  list_.erase(std::remove(list_.begin(), list_.end(), field), list_.end());
  field->dataset_ = nullptr;
}

void TFields::CheckFieldName(std::string_view name) const {
  if (name.empty()) DatabaseError("Field name missing", dataset_);
  if (FindField(name)) DatabaseError(fmt::format("Duplicate field name '{}'", name), dataset_);
}

TStringField::TStringField(TComponent* owner) : TStringField(owner, ftString) {}

TStringField::TStringField(TComponent* owner, TFieldType type) : TField(owner, type) {
  SetSize(type == ftWideString ? 40 : 20);
}

bool TStringField::ValidSize(int size) const {
  return size >= 0 && size <= kMaxStringSize;
}

std::string TStringField::GetAsString() const {
  TNativeBuffer buffer;
  if (!ReadNative(&buffer)) return std::string();
  auto* text = reinterpret_cast<const char*>(buffer.data());
  // A stored value without its terminator still ends at the field size.
  return std::string(text, strnlen(text, static_cast<size_t>(Size())));
}

void TStringField::SetAsStringImpl(std::string_view value) {
  std::vector<char> buffer(static_cast<size_t>(Size()) + 1, '\0');
  std::memcpy(buffer.data(), value.data(), std::min(value.size(), static_cast<size_t>(Size())));
  SetData(buffer.data());
}

int32_t TStringField::GetAsInteger() const {
  return StrToInt(GetAsString());
}
void TStringField::SetAsIntegerImpl(int32_t value) {
  SetAsString(IntToStr(value));
}
int64_t TStringField::GetAsLargeInt() const {
  return StrToInt64(GetAsString());
}
void TStringField::SetAsLargeIntImpl(int64_t value) {
  SetAsString(IntToStr(value));
}
double TStringField::GetAsFloat() const {
  return StrToFloat(GetAsString());
}
void TStringField::SetAsFloatImpl(double value) {
  SetAsString(FloatToStr(value));
}
TDateTime TStringField::GetAsDateTime() const {
  return StrToDateTime(GetAsString());
}
void TStringField::SetAsDateTimeImpl(TDateTime value) {
  SetAsString(DateTimeToStr(value));
}

bool TStringField::GetAsBoolean() const {
  std::string text = GetAsString();
  return !text.empty() && std::strchr("TtYy", text[0]) != nullptr;
}

void TStringField::SetAsBooleanImpl(bool value) {
  SetAsString(value ? "T" : "F");
}
Variant TStringField::GetAsVariant() const {
  return Variant(GetAsString());
}
void TStringField::SetVarValue(const Variant& value) {
  SetAsString(value.AsString());
}

TWideStringField::TWideStringField(TComponent* owner) : TStringField(owner, ftWideString) {}

bool TWideStringField::ValidSize(int size) const {
  return size >= 0 && size <= 2 * kMaxStringSize;
}

std::u16string TWideStringField::GetAsWideString() const {
  std::u16string value;
  if (!GetData(&value, false)) return std::u16string();
  return value;
}

void TWideStringField::SetAsWideStringImpl(std::u16string_view value) {
  std::u16string copy(value);
  SetData(&copy, false);
}

std::string TWideStringField::GetAsString() const {
  return Utf16ToCp1251(GetAsWideString());
}
void TWideStringField::SetAsStringImpl(std::string_view value) {
  SetAsWideString(Cp1251ToUtf16(value));
}
Variant TWideStringField::GetAsVariant() const {
  return Variant(GetAsWideString());
}
void TWideStringField::SetVarValue(const Variant& value) {
  SetAsWideString(value.AsWideString());
}

TIntegerField::TIntegerField(TComponent* owner)
    : TIntegerField(owner, ftInteger, std::numeric_limits<int32_t>::min(),
                    std::numeric_limits<int32_t>::max()) {}

TIntegerField::TIntegerField(TComponent* owner, TFieldType type, int64_t min, int64_t max)
    : TField(owner, type), min_(min), max_(max) {}

bool TIntegerField::ReadValue(int64_t* value) const {
  TNativeBuffer buffer;
  if (!ReadNative(&buffer)) return false;
  switch (DataType()) {
    case ftSmallint:
      *value = Load<int16_t>(buffer.data());
      break;
    case ftWord:
      *value = Load<uint16_t>(buffer.data());
      break;
    case ftLargeint:
      *value = Load<int64_t>(buffer.data());
      break;
    default:
      *value = Load<int32_t>(buffer.data());
      break;
  }
  return true;
}

void TIntegerField::WriteValue(int64_t value) {
  // The value is in range (SetChecked); each type stores its own width.
  uint8_t stored[8];
  switch (DataType()) {
    case ftSmallint:
      Store(stored, static_cast<int16_t>(value));
      break;
    case ftWord:
      Store(stored, static_cast<uint16_t>(value));
      break;
    case ftLargeint:
      Store(stored, value);
      break;
    default:
      Store(stored, static_cast<int32_t>(value));
      break;
  }
  SetData(stored);
}

void TIntegerField::SetChecked(double value) {
  if (!(value >= static_cast<double>(min_) && value <= static_cast<double>(max_)))
    RangeError(value, static_cast<double>(min_), static_cast<double>(max_));
  WriteValue(static_cast<int64_t>(value));
}

std::string TIntegerField::GetAsString() const {
  int64_t value;
  return ReadValue(&value) ? IntToStr(value) : std::string();
}

void TIntegerField::SetAsStringImpl(std::string_view value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  int64_t number;
  if (!TryStrToInt64(value, &number))
    DatabaseError(
        fmt::format("'{}' is not a valid integer value for field '{}'", value, FieldName()));
  SetAsLargeInt(number);
}

int32_t TIntegerField::GetAsInteger() const {
  int64_t value;
  if (!ReadValue(&value)) return 0;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    RangeError(static_cast<double>(value), std::numeric_limits<int32_t>::min(),
               std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(value);
}

void TIntegerField::SetAsIntegerImpl(int32_t value) {
  SetAsLargeInt(value);
}

int64_t TIntegerField::GetAsLargeInt() const {
  int64_t value;
  return ReadValue(&value) ? value : 0;
}

void TIntegerField::SetAsLargeIntImpl(int64_t value) {
  if (value < min_ || value > max_)
    RangeError(static_cast<double>(value), static_cast<double>(min_), static_cast<double>(max_));
  WriteValue(value);
}

double TIntegerField::GetAsFloat() const {
  int64_t value;
  return ReadValue(&value) ? static_cast<double>(value) : 0;
}

void TIntegerField::SetAsFloatImpl(double value) {
  SetChecked(std::nearbyint(value));
}
Variant TIntegerField::GetAsVariant() const {
  return Variant(GetAsInteger());
}
void TIntegerField::SetVarValue(const Variant& value) {
  SetAsLargeInt(value.AsInt64());
}

TSmallintField::TSmallintField(TComponent* owner)
    : TIntegerField(owner, ftSmallint, std::numeric_limits<int16_t>::min(),
                    std::numeric_limits<int16_t>::max()) {}

TWordField::TWordField(TComponent* owner)
    : TIntegerField(owner, ftWord, 0, std::numeric_limits<uint16_t>::max()) {}

TAutoIncField::TAutoIncField(TComponent* owner)
    : TIntegerField(owner, ftAutoInc, std::numeric_limits<int32_t>::min(),
                    std::numeric_limits<int32_t>::max()) {}

TLargeintField::TLargeintField(TComponent* owner)
    : TIntegerField(owner, ftLargeint, std::numeric_limits<int64_t>::min(),
                    std::numeric_limits<int64_t>::max()) {}

Variant TLargeintField::GetAsVariant() const {
  return Variant(GetAsLargeInt());
}

TFloatField::TFloatField(TComponent* owner) : TFloatField(owner, ftFloat) {}
TFloatField::TFloatField(TComponent* owner, TFieldType type) : TField(owner, type) {}

bool TFloatField::ReadFloat(double* value) const {
  TNativeBuffer buffer;
  if (!ReadNative(&buffer)) return false;
  *value = Load<double>(buffer.data());
  return true;
}

void TFloatField::WriteFloat(double value) {
  SetData(&value);
}

std::string TFloatField::GetAsString() const {
  double value;
  return ReadFloat(&value) ? FloatToStr(value) : std::string();
}

void TFloatField::SetAsStringImpl(std::string_view value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  double number;
  if (!TryStrToFloat(value, &number))
    DatabaseError(
        fmt::format("'{}' is not a valid floating point value for field '{}'", value, FieldName()));
  WriteFloat(number);
}

int32_t TFloatField::GetAsInteger() const {
  double value = std::nearbyint(GetAsFloat());
  if (!(value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max()))
    RangeError(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(value);
}

void TFloatField::SetAsIntegerImpl(int32_t value) {
  WriteFloat(value);
}

int64_t TFloatField::GetAsLargeInt() const {
  double value = std::nearbyint(GetAsFloat());
  if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
    RangeError(value, -9223372036854775808.0, 9223372036854775807.0);
  return static_cast<int64_t>(value);
}

void TFloatField::SetAsLargeIntImpl(int64_t value) {
  WriteFloat(static_cast<double>(value));
}

double TFloatField::GetAsFloat() const {
  double value;
  return ReadFloat(&value) ? value : 0;
}

void TFloatField::SetAsFloatImpl(double value) {
  WriteFloat(value);
}
Variant TFloatField::GetAsVariant() const {
  return Variant(GetAsFloat());
}
void TFloatField::SetVarValue(const Variant& value) {
  WriteFloat(value.AsDouble());
}

TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner, ftCurrency) {}

TBCDField::TBCDField(TComponent* owner) : TFloatField(owner, ftBCD) {}

bool TBCDField::ReadFloat(double* value) const {
  TNativeBuffer buffer;
  if (!ReadNative(&buffer)) return false;
  *value = static_cast<double>(Load<int64_t>(buffer.data())) / 10000.0;
  return true;
}

void TBCDField::WriteFloat(double value) {
  double scaled = std::nearbyint(value * 10000.0);
  if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0))
    RangeError(value, -922337203685477.5807, 922337203685477.5807);
  auto stored = static_cast<int64_t>(scaled);
  SetData(&stored);
}

TBooleanField::TBooleanField(TComponent* owner) : TField(owner, ftBoolean) {}

bool TBooleanField::GetAsBoolean() const {
  TNativeBuffer buffer;
  return ReadNative(&buffer) && Load<int16_t>(buffer.data()) != 0;
}

void TBooleanField::SetAsBooleanImpl(bool value) {
  int16_t stored = value ? -1 : 0;  // a 16-bit Boolean is all ones when true
  SetData(&stored);
}

std::string TBooleanField::GetAsString() const {
  if (IsNull()) return std::string();
  return BoolToStr(GetAsBoolean());
}

void TBooleanField::SetAsStringImpl(std::string_view value) {
  if (value.empty()) {
    Clear();
    return;
  }
  // A leading part of the word is enough ("t", "FAL").
  auto prefix_of = [&](std::string_view word) {
    return value.size() <= word.size() && SameText(word.substr(0, value.size()), value);
  };
  if (prefix_of("False"))
    SetAsBoolean(false);
  else if (prefix_of("True"))
    SetAsBoolean(true);
  else
    DatabaseError(
        fmt::format("'{}' is not a valid boolean value for field '{}'", value, FieldName()));
}

Variant TBooleanField::GetAsVariant() const {
  return Variant(GetAsBoolean());
}
void TBooleanField::SetVarValue(const Variant& value) {
  SetAsBoolean(value.AsBoolean());
}

TDateTimeField::TDateTimeField(TComponent* owner) : TDateTimeField(owner, ftDateTime) {}
TDateTimeField::TDateTimeField(TComponent* owner, TFieldType type) : TField(owner, type) {}
TDateField::TDateField(TComponent* owner) : TDateTimeField(owner, ftDate) {}
TTimeField::TTimeField(TComponent* owner) : TDateTimeField(owner, ftTime) {}

bool TDateTimeField::ReadDateTime(TDateTime* value) const {
  return GetData(value, false);
}

std::string TDateTimeField::GetAsString() const {
  TDateTime value;
  if (!ReadDateTime(&value)) return std::string();
  switch (DataType()) {
    case ftDate:
      return DateToStr(value);
    case ftTime:
      return TimeToStr(value);
    default:
      return DateTimeToStr(value);
  }
}

void TDateTimeField::SetAsStringImpl(std::string_view value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate:
      SetAsDateTime(StrToDate(value));
      break;
    case ftTime:
      SetAsDateTime(StrToTime(value));
      break;
    default:
      SetAsDateTime(StrToDateTime(value));
      break;
  }
}

TDateTime TDateTimeField::GetAsDateTime() const {
  TDateTime value;
  return ReadDateTime(&value) ? value : 0;
}

double TDateTimeField::GetAsFloat() const {
  return GetAsDateTime();
}
void TDateTimeField::SetAsFloatImpl(double value) {
  SetAsDateTime(value);
}
void TDateTimeField::SetAsDateTimeImpl(TDateTime value) {
  SetData(&value, false);
}
Variant TDateTimeField::GetAsVariant() const {
  return Variant::FromDate(GetAsDateTime());
}
void TDateTimeField::SetVarValue(const Variant& value) {
  SetAsDateTime(value.AsDateTime());
}

TBytesField::TBytesField(TComponent* owner) : TField(owner, ftBytes) {
  SetSize(16);
}

bool TBytesField::ValidSize(int size) const {
  return size >= 1 && size <= 65535;
}

std::string TBytesField::GetAsString() const {
  TNativeBuffer buffer;
  if (!ReadNative(&buffer)) return std::string();
  return std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(Size()));
}

void TBytesField::SetAsStringImpl(std::string_view value) {
  std::vector<uint8_t> buffer(static_cast<size_t>(Size()), 0);
  std::memcpy(buffer.data(), value.data(), std::min(value.size(), buffer.size()));
  SetData(buffer.data());
}

Variant TBytesField::GetAsVariant() const {
  return Variant::ByteArray(GetAsString());
}

void TBytesField::SetVarValue(const Variant& value) {
  if (value.VarType() == (varArray | varVariant)) {
    std::string bytes;
    for (int i = 0; i < value.ArrayCount(); ++i)
      bytes += static_cast<char>(value.ArrayItem(i).AsInteger());
    SetAsString(bytes);
  } else if (value.IsArray()) {
    SetAsString(value.AsBytes());
  } else {
    SetAsString(value.AsString());
  }
}

TBlobField::TBlobField(TComponent* owner, TFieldType type) : TField(owner, type) {}

int64_t TBlobField::BlobSize() const {
  if (!DataSet()) return 0;
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return stream ? stream->Size() : 0;
}

bool TBlobField::GetIsNull() const {
  // Written values are not in the record's null flags until the dataset closes the BLOB.
  if (modified_) return BlobSize() == 0;
  return TField::GetIsNull();
}

std::string TBlobField::GetAsString() const {
  if (!DataSet()) DatabaseError(fmt::format("Field '{}' has no dataset", FieldName()));
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  if (!stream) return std::string();
  stream->SetPosition(0);
  int64_t size = stream->Size();
  std::string value(static_cast<size_t>(size), '\0');
  if (size) stream->ReadBuffer(value.data(), size);
  return value;
}

void TBlobField::SetAsStringImpl(std::string_view value) {
  if (!DataSet()) DatabaseError(fmt::format("Field '{}' has no dataset", FieldName()));
  auto stream = DataSet()->CreateBlobStream(this, bmWrite);
  if (!stream) DatabaseError(fmt::format("Field '{}' cannot be modified", FieldName()));
  stream->WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
  modified_ = true;
}

void TBlobField::LoadFromStream(TStream& source) {
  if (!DataSet()) DatabaseError(fmt::format("Field '{}' has no dataset", FieldName()));
  auto stream = DataSet()->CreateBlobStream(this, bmWrite);
  if (!stream) DatabaseError(fmt::format("Field '{}' cannot be modified", FieldName()));
  stream->CopyFrom(source, 0);
  modified_ = true;
}

void TBlobField::SaveToStream(TStream& target) const {
  std::string value = GetAsString();
  target.WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
}

void TBlobField::LoadFromFile(const std::string& path) {
  TFileStream file(path, fmOpenRead);
  LoadFromStream(file);
}

void TBlobField::SaveToFile(const std::string& path) const {
  TFileStream file(path, fmCreate);
  SaveToStream(file);
}

void TBlobField::Clear() {
  SetAsString(std::string_view());
}

void TBlobField::FreeBuffers() {
  if (!modified_) return;
  modified_ = false;
  if (DataSet()) DataSet()->CloseBlob(this);
}

Variant TBlobField::GetAsVariant() const {
  return Variant(GetAsString());
}

void TBlobField::SetVarValue(const Variant& value) {
  SetAsString(value.IsArray() ? value.AsBytes() : value.AsString());
}

TField* CreateFieldOfType(TFieldType type, TComponent* owner) {
  switch (type) {
    case ftString:
    case ftFixedChar:
      return new TStringField(owner, type);
    case ftWideString:
      return new TWideStringField(owner);
    case ftSmallint:
      return new TSmallintField(owner);
    case ftInteger:
      return new TIntegerField(owner);
    case ftWord:
      return new TWordField(owner);
    case ftAutoInc:
      return new TAutoIncField(owner);
    case ftLargeint:
      return new TLargeintField(owner);
    case ftBoolean:
      return new TBooleanField(owner);
    case ftFloat:
      return new TFloatField(owner);
    case ftCurrency:
      return new TCurrencyField(owner);
    case ftBCD:
      return new TBCDField(owner);
    case ftDate:
      return new TDateField(owner);
    case ftTime:
      return new TTimeField(owner);
    case ftDateTime:
      return new TDateTimeField(owner);
    case ftBytes:
      return new TBytesField(owner);
    case ftMemo:
      return new TMemoField(owner);
    case ftGraphic:
      return new TGraphicField(owner);
    case ftBlob:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
      return new TBlobField(owner, type);
    default:
      return nullptr;
  }
}

const char* FieldTypeName(TFieldType type) {
  static const char* const kNames[] = {
      "Unknown",     "String", "SmallInt",  "Integer",    "Word",     "Boolean",    "Float",
      "Currency",    "BCD",    "Date",      "Time",       "DateTime", "Bytes",      "VarBytes",
      "AutoInc",     "Blob",   "Memo",      "Graphic",    "FmtMemo",  "ParadoxOle", "DBaseOle",
      "TypedBinary", "Cursor", "FixedChar", "WideString", "Largeint"};
  auto index = static_cast<size_t>(type);
  return index < std::size(kNames) ? kNames[index] : "Unknown";
}

}  // namespace orv
