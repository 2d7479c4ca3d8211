#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/exception.h"

namespace orv {

// A variant that cannot be converted as asked, or an array access out of bounds.
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

// Variant type codes; callers report them as numbers, so the values are fixed.
enum TVarType : uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varDouble = 0x0005,
  varDate = 0x0007,
  varOleStr = 0x0008,
  varBoolean = 0x000B,
  varVariant = 0x000C,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varString = 0x0100,
  varTypeMask = 0x0FFF,
  varArray = 0x2000,
};

// "Integer", "String", "Array Variant" ...
std::string VarTypeAsText(uint16_t var_type);

// The value type of Locate, Lookup, field values and parameters: Empty (unassigned), Null,
// integers of several widths, double, date-time, Boolean, 8-bit (cp1251) and wide strings, and
// one-dimensional arrays from index 0 of variants or of bytes. Conversions follow the runtime's
// rules: Empty converts to 0 / "" / false, Null to nothing ("Could not convert variant of type
// (Null) into type (Integer)"), true is -1 as a number, text parses as a number or date.
class Variant {
 public:
  Variant() = default;
  Variant(int32_t value) : type_(varInteger), int_(value) {}
  Variant(int64_t value) : type_(varInt64), int_(value) {}
  Variant(double value) : type_(varDouble), double_(value) {}
  Variant(bool value) : type_(varBoolean), int_(value ? 1 : 0) {}
  Variant(const char* value) : type_(varString), string_(value) {}
  Variant(std::string value) : type_(varString), string_(std::move(value)) {}
  Variant(std::string_view value) : type_(varString), string_(value) {}
  Variant(std::u16string value) : type_(varOleStr), wide_(std::move(value)) {}

  static Variant Null();
  static Variant FromDate(TDateTime value);
  static Variant FromSmallint(int16_t value);
  static Variant FromShortInt(int8_t value);
  static Variant FromByte(uint8_t value);
  static Variant FromWord(uint16_t value);
  static Variant FromLongWord(uint32_t value);
  // An array of variants (VarArrayOf).
  static Variant ArrayOf(std::vector<Variant> items);
  static Variant ArrayOf(std::initializer_list<Variant> items);
  // An array of bytes, as binary field values travel.
  static Variant ByteArray(std::string_view bytes);

  uint16_t VarType() const { return type_; }
  bool IsEmpty() const { return type_ == varEmpty; }
  bool IsNull() const { return type_ == varNull; }
  bool IsArray() const { return (type_ & varArray) != 0; }
  // Integer types of any width, double and date.
  bool IsNumeric() const;

  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  TDateTime AsDateTime() const;
  bool AsBoolean() const;
  std::string AsString() const;
  std::u16string AsWideString() const;

  // Arrays: element count, and element i (0-based; "Variant array index out of bounds" else).
  // A byte array hands out each byte as a varByte.
  int ArrayCount() const;
  int ArrayHighBound() const { return ArrayCount() - 1; }
  Variant ArrayItem(int index) const;
  // The bytes of a byte array, or of a string.
  std::string AsBytes() const;

  // Same type and same value (arrays item by item).
  bool operator==(const Variant& other) const;

 private:
  static Variant Tagged(uint16_t type, int64_t value);
  [[noreturn]] void CastError(uint16_t target) const;
  double NumberValue(uint16_t target) const;
  int64_t IntegerValue(uint16_t target, int64_t min, int64_t max) const;
  void CheckArrayIndex(int index) const;

  uint16_t type_ = varEmpty;
  int64_t int_ = 0;     // integers and Boolean
  double double_ = 0;   // double and date
  std::string string_;  // 8-bit text; the bytes of a byte array
  std::u16string wide_;
  std::vector<Variant> items_;
};

// The text of a variant, with Null as the empty text.
std::string VarToStr(const Variant& value);

}  // namespace orv
