#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/field_types.h"
#include "platform/variant.h"

namespace orv {

class TComponent;
class TField;
class TParams;
class TStream;

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// One parameter of an SQL text. Setting a value through a typed setter sets DataType as well;
// setting Value on an untyped parameter takes the type from the variant. BLOB parameters hold
// their bytes as an 8-bit string.
class TParam {
 public:
  explicit TParam(std::string name = {}, TFieldType type = ftUnknown,
                  TParamType param_type = ptUnknown);

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TFieldType DataType() const { return data_type_; }
  // A new type drops the value.
  void SetDataType(TFieldType type);
  TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType type) { param_type_ = type; }
  // Whether a value was given explicitly.
  bool Bound() const { return bound_; }
  void SetBound(bool bound) { bound_ = bound; }
  bool IsNull() const { return value_.IsNull() || value_.IsEmpty(); }
  void Clear() { value_ = Variant::Null(); }

  Variant Value() const { return value_; }
  void SetValue(const Variant& value);
  std::string AsString() const { return IsNull() ? std::string() : value_.AsString(); }
  void SetAsString(std::string_view value) { SetTyped(ftString, Variant(value)); }
  std::u16string AsWideString() const {
    return IsNull() ? std::u16string() : value_.AsWideString();
  }
  void SetAsWideString(std::u16string value) { SetTyped(ftWideString, Variant(std::move(value))); }
  int32_t AsInteger() const { return IsNull() ? 0 : value_.AsInteger(); }
  void SetAsInteger(int32_t value) { SetTyped(ftInteger, Variant(value)); }
  int16_t AsSmallInt() const { return static_cast<int16_t>(AsInteger()); }
  void SetAsSmallInt(int16_t value) { SetTyped(ftSmallint, Variant::FromSmallint(value)); }
  int64_t AsLargeInt() const { return IsNull() ? 0 : value_.AsInt64(); }
  void SetAsLargeInt(int64_t value) { SetTyped(ftLargeint, Variant(value)); }
  double AsFloat() const { return IsNull() ? 0 : value_.AsDouble(); }
  void SetAsFloat(double value) { SetTyped(ftFloat, Variant(value)); }
  bool AsBoolean() const { return !IsNull() && value_.AsBoolean(); }
  void SetAsBoolean(bool value) { SetTyped(ftBoolean, Variant(value)); }
  TDateTime AsDateTime() const { return IsNull() ? 0 : value_.AsDateTime(); }
  void SetAsDateTime(TDateTime value) { SetTyped(ftDateTime, Variant::FromDate(value)); }
  void SetAsDate(TDateTime value) { SetTyped(ftDate, Variant::FromDate(value)); }
  void SetAsTime(TDateTime value) { SetTyped(ftTime, Variant::FromDate(value)); }
  // The bytes of a BLOB parameter.
  std::string AsBlob() const { return AsString(); }
  void SetAsBlob(std::string_view bytes) { SetTyped(ftBlob, Variant(bytes)); }
  void SetAsMemo(std::string_view text) { SetTyped(ftMemo, Variant(text)); }
  // The whole stream, from its start, as a BLOB value of blob_type.
  void LoadFromStream(TStream& stream, TFieldType blob_type);
  // Bytes the value occupies: text length + 1 for strings, the byte count for BLOB and byte
  // values (0 when null), the storage size for other types. An untyped parameter raises.
  int DataSize() const;

  // Type and value of the field; AssignField also takes the field's name.
  void AssignField(const TField* field);
  void AssignFieldValue(const TField* field, const Variant& value);
  void Assign(const TParam& source);

 private:
  void SetTyped(TFieldType type, Variant value);

  std::string name_;
  TFieldType data_type_;
  TParamType param_type_;
  bool bound_ = false;
  Variant value_ = Variant::Null();
};

// The parameters of an SQL text, found by name without regard to case.
class TParams {
 public:
  // owner names the component in error messages.
  explicit TParams(const TComponent* owner = nullptr) : owner_(owner) {}
  TParams(const TParams&) = delete;
  TParams& operator=(const TParams&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TParam* operator[](int index) const { return Items(index); }
  TParam* Items(int index) const;
  TParam* CreateParam(TFieldType type, std::string name, TParamType param_type);
  void Delete(int index);
  void Clear();
  TParam* FindParam(std::string_view name) const;
  // Raises "Parameter 'X' not found".
  TParam* ParamByName(std::string_view name) const;
  // Copies every parameter.
  void Assign(const TParams& source);
  // Copies type and value of the parameters that source has under the same name.
  void AssignValues(const TParams& source);

  // Replaces each ":name" marker of sql by "?" and answers the text; with do_create the list is
  // rebuilt with one parameter per distinct name, in order of first appearance. A name is a
  // run of ASCII letters, digits, "_" and bytes from 0x80 (cp1251 letters), or a quoted name
  // (:"order no");
  // markers inside quotes (' " `) or brackets are text, "::" stands for one ":".
  std::string ParseSQL(std::string_view sql, bool do_create);

 private:
  const TComponent* owner_;
  std::vector<std::unique_ptr<TParam>> items_;
};

}  // namespace orv
