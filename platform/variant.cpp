#include "platform/variant.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>

#include "platform/codepage.h"
#include "platform/value_text.h"

namespace orv {
namespace {

bool IsIntegerType(uint16_t type) {
  switch (type) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string VarTypeAsText(uint16_t var_type) {
  std::string name;
  switch (var_type & varTypeMask) {
    case varEmpty:
      name = "Empty";
      break;
    case varNull:
      name = "Null";
      break;
    case varSmallint:
      name = "Smallint";
      break;
    case varInteger:
      name = "Integer";
      break;
    case varDouble:
      name = "Double";
      break;
    case varDate:
      name = "Date";
      break;
    case varOleStr:
      name = "OleStr";
      break;
    case varBoolean:
      name = "Boolean";
      break;
    case varVariant:
      name = "Variant";
      break;
    case varShortInt:
      name = "ShortInt";
      break;
    case varByte:
      name = "Byte";
      break;
    case varWord:
      name = "Word";
      break;
    case varLongWord:
      name = "LongWord";
      break;
    case varInt64:
      name = "Int64";
      break;
    case varString:
      name = "String";
      break;
    default:
      name = fmt::format("${:04X}", var_type & varTypeMask);
      break;
  }
  return (var_type & varArray) ? "Array " + name : name;
}

Variant Variant::Null() {
  Variant v;
  v.type_ = varNull;
  return v;
}

Variant Variant::FromDate(TDateTime value) {
  Variant v(value);
  v.type_ = varDate;
  return v;
}

Variant Variant::Tagged(uint16_t type, int64_t value) {
  Variant v(value);
  v.type_ = type;
  return v;
}

Variant Variant::FromSmallint(int16_t value) {
  return Tagged(varSmallint, value);
}
Variant Variant::FromShortInt(int8_t value) {
  return Tagged(varShortInt, value);
}
Variant Variant::FromByte(uint8_t value) {
  return Tagged(varByte, value);
}
Variant Variant::FromWord(uint16_t value) {
  return Tagged(varWord, value);
}
Variant Variant::FromLongWord(uint32_t value) {
  return Tagged(varLongWord, value);
}

Variant Variant::ArrayOf(std::vector<Variant> items) {
  Variant v;
  v.type_ = varArray | varVariant;
  v.items_ = std::move(items);
  return v;
}

Variant Variant::ArrayOf(std::initializer_list<Variant> items) {
  return ArrayOf(std::vector<Variant>(items));
}

Variant Variant::ByteArray(std::string_view bytes) {
  Variant v;
  v.type_ = varArray | varByte;
  v.string_ = bytes;
  return v;
}

bool Variant::IsNumeric() const {
  return IsIntegerType(type_) || type_ == varDouble || type_ == varDate;
}

void Variant::CastError(uint16_t target) const {
  throw EVariantError(fmt::format("Could not convert variant of type ({}) into type ({})",
                                  VarTypeAsText(type_), VarTypeAsText(target)));
}

double Variant::NumberValue(uint16_t target) const {
  if (IsIntegerType(type_)) return static_cast<double>(int_);
  switch (type_) {
    case varEmpty:
      return 0;
    case varDouble:
    case varDate:
      return double_;
    case varBoolean:
      return int_ ? -1 : 0;
    case varString:
    case varOleStr: {
      std::string text = type_ == varString ? string_ : Utf16ToCp1251(wide_);
      double value;
      if (TryStrToFloat(text, &value)) return value;
      if (target == varDate && TryStrToDateTime(text, &value)) return value;
      break;
    }
    default:
      break;
  }
  CastError(target);
}

int64_t Variant::IntegerValue(uint16_t target, int64_t min, int64_t max) const {
  int64_t value;
  if (IsIntegerType(type_)) {
    value = int_;
  } else if ((type_ == varString || type_ == varOleStr) &&
             TryStrToInt64(type_ == varString ? string_ : Utf16ToCp1251(wide_), &value)) {
  } else {
    double d = std::nearbyint(NumberValue(target));
    // 2^63 is the first double past the range; NaN fails both tests.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
      throw EVariantError("Variant overflow");
    value = static_cast<int64_t>(d);
  }
  if (value < min || value > max) throw EVariantError("Variant overflow");
  return value;
}

int64_t Variant::AsInt64() const {
  return IntegerValue(varInt64, std::numeric_limits<int64_t>::min(),
                      std::numeric_limits<int64_t>::max());
}

int32_t Variant::AsInteger() const {
  return static_cast<int32_t>(IntegerValue(varInteger, std::numeric_limits<int32_t>::min(),
                                           std::numeric_limits<int32_t>::max()));
}

double Variant::AsDouble() const {
  return NumberValue(varDouble);
}

TDateTime Variant::AsDateTime() const {
  return NumberValue(varDate);
}

bool Variant::AsBoolean() const {
  switch (type_) {
    case varBoolean:
      return int_ != 0;
    case varString:
    case varOleStr:
      try {
        return StrToBool(type_ == varString ? string_ : Utf16ToCp1251(wide_));
      } catch (const EConvertError&) {
        CastError(varBoolean);
      }
    default:
      return NumberValue(varBoolean) != 0;
  }
}

std::string Variant::AsString() const {
  if (IsIntegerType(type_)) return IntToStr(int_);
  switch (type_) {
    case varEmpty:
      return std::string();
    case varString:
      return string_;
    case varOleStr:
      return Utf16ToCp1251(wide_);
    case varDouble:
      return FloatToStr(double_);
    case varDate:
      return DateTimeToStr(double_);
    case varBoolean:
      return BoolToStr(int_ != 0);
    default:
      CastError(varString);
  }
}

std::u16string Variant::AsWideString() const {
  if (type_ == varOleStr) return wide_;
  if (IsArray()) CastError(varOleStr);
  return Cp1251ToUtf16(AsString());
}

int Variant::ArrayCount() const {
  if (!IsArray()) throw EVariantError("Variant is not an array");
  return static_cast<int>((type_ & varTypeMask) == varByte ? string_.size() : items_.size());
}

void Variant::CheckArrayIndex(int index) const {
  if (index < 0 || index >= ArrayCount()) throw EVariantError("Variant array index out of bounds");
}

Variant Variant::ArrayItem(int index) const {
  CheckArrayIndex(index);
  if ((type_ & varTypeMask) == varByte)
    return FromByte(static_cast<uint8_t>(string_[static_cast<size_t>(index)]));
  return items_[static_cast<size_t>(index)];
}

std::string Variant::AsBytes() const {
  if (type_ == (varArray | varByte) || type_ == varString) return string_;
  CastError(varArray | varByte);
}

bool Variant::operator==(const Variant& other) const {
  if (type_ != other.type_) return false;
  if (IsIntegerType(type_) || type_ == varBoolean) return int_ == other.int_;
  switch (type_) {
    case varDouble:
    case varDate:
      return double_ == other.double_;
    case varString:
    case varArray | varByte:
      return string_ == other.string_;
    case varOleStr:
      return wide_ == other.wide_;
    case varArray | varVariant:
      return items_ == other.items_;
    default:
      return true;
  }
}

std::string VarToStr(const Variant& value) {
  return value.IsNull() ? std::string() : value.AsString();
}

}  // namespace orv
