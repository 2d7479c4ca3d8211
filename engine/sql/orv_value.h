#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/field_types.h"
#include "platform/variant.h"

namespace orv {

// Result of the NULL-aware three-way comparison of two values.
enum TOrvCompareResult : uint8_t {
  crEqual = 0,
  crGreater = 1,  // a > b
  crLess = 2,
  crLeftNull = 3,   // a NULL, b not
  crRightNull = 4,  // b NULL, a not
  crBothNull = 5,
};

// The SQL engine's tagged value. Payloads by type, all little-endian as in a record buffer:
//   ftString      8-bit text and a terminating zero; DataSize = length + 1, or a field's stored
//                 size when the value came from a record (the text ends at the first zero)
//   ftSmallint 2, ftInteger 4, ftWord 2, ftAutoInc 4, ftLargeint 8: integers
//   ftBoolean     1 byte, 0 or 1
//   ftFloat, ftCurrency  8-byte double
//   ftDate        signed 32-bit day number (0001-01-01 = 1) in 8 zero-filled bytes
//   ftTime        signed 32-bit milliseconds since midnight in 8 zero-filled bytes
//   ftDateTime    double: day number * 86400000 + milliseconds since midnight
//   ftWideString  16-bit characters and a terminating zero character
//   BLOB types    the content's bytes
// An empty string is never stored: setting one gives a NULL of that type.
//
// The value owns its payload, except a view (NotOwned), which shares another value's payload
// so an expression node can hand out its result without a copy; a view must not outlive the
// value it shows. Copies are deep. Operations never write through a view: every change
// allocates a fresh payload.
class TOrvValue {
 public:
  TOrvValue() = default;
  TOrvValue(const TOrvValue& other);
  TOrvValue(TOrvValue&& other) noexcept;
  TOrvValue& operator=(const TOrvValue& other);
  TOrvValue& operator=(TOrvValue&& other) noexcept;
  ~TOrvValue() { Clear(); }

  static TOrvValue View(const TOrvValue& source);

  uint8_t DataType() const { return data_type_; }
  int32_t DataSize() const { return data_size_; }
  bool IsNull() const { return is_null_; }
  const uint8_t* Data() const { return data_; }
  bool NotOwned() const { return not_owned_; }

  void Init() { Clear(); }
  void Clear();
  void SetNull(uint8_t type);

  void SetString(std::string_view text);
  void SetWideString(std::u16string_view text);
  void SetSmallint(int16_t value);
  void SetInteger(int32_t value);
  void SetAutoInc(int32_t value);
  void SetWord(uint16_t value);
  void SetBoolean(bool value);
  void SetFloat(double value);
  void SetCurrency(double value);
  void SetLargeint(int64_t value);
  // The date part, the time of day, or both; an invalid date-time raises the platform error.
  void SetDate(TDateTime value);
  void SetTime(TDateTime value);
  void SetDateTime(TDateTime value);
  // A payload as a record buffer or a BLOB holds it. Fixed-size types need at least their
  // payload size (a stored Boolean's two bytes are read as one flag); strings are cut at their
  // first zero, and an empty one gives NULL. Unknown types are refused.
  void SetData(uint8_t type, const void* data, int32_t size);

  // Typed reads; each raises the engine error of its type unless the value has that type.
  int32_t AsInteger() const;   // ftInteger, ftAutoInc: 2107
  double AsFloat() const;      // ftFloat, ftCurrency: 60
  int16_t AsSmallint() const;  // 61
  uint16_t AsWord() const;     // 63
  int64_t AsLargeint() const;  // 62
  bool AsBoolean() const;      // 2113
  // ftDate, ftTime, ftDateTime, NULL (0) or not: 2140.
  TDateTime AsDateTime() const;
  // ftString's text, ftInteger/ftAutoInc and ftFloat as text; every other type gives "".
  std::string AsString() const;
  // ftWideString's characters, ftString widened; every other type gives u"".
  std::u16string AsWideString() const;

  // NULL gives the Null variant, the date types a date variant, other types the variant of
  // their width; BLOB types give Null.
  Variant ToVariant() const;

  // In place; see Assign for copies. Failures: code 2093 for a failed or impossible
  // conversion, 2092 for a pair that has no conversion (the value is then left as it was).
  void ConvertTo(uint8_t type);

 private:
  void Adopt(uint8_t type, int32_t size, const void* bytes, size_t count);
  template <typename T>
  T Load() const;
  template <typename T>
  void Store(uint8_t type, T value, int32_t size = sizeof(T));
  void ConvertFromText(std::string_view text, uint8_t type);
  void ConvertFromInteger(int64_t value, uint8_t type);
  void ConvertFromFloat(double value, uint8_t type, bool currency);
  void ConvertFromDate(uint8_t type);
  void SetIntegerOfType(uint8_t type, int64_t value);

  uint8_t data_type_ = ftUnknown;
  int32_t data_size_ = 0;
  bool is_null_ = true;
  uint8_t* data_ = nullptr;
  bool not_owned_ = false;
};

void Assign(const TOrvValue& source, TOrvValue& target);

// Three-way comparison in the operands' common type (strings by the locale's collation; with
// partial, a equals b when it starts with b). The operands are left unchanged.
TOrvCompareResult Compare(const TOrvValue& a, const TOrvValue& b, bool partial,
                          bool case_insensitive);

// "+" and "||": numbers add, strings concatenate, date-times add. A NULL operand gives NULL,
// except that a NULL string is the empty text in a concatenation. With null_takes_operand (SUM
// and AVG), a NULL target takes a copy of the operand.
void Add(TOrvValue& target, const TOrvValue& operand, bool null_takes_operand);
void Negate(TOrvValue& target);
void Multiply(TOrvValue& target, const TOrvValue& operand);
// Always a Float; division by zero raises the platform's floating-point error.
void Divide(TOrvValue& target, const TOrvValue& operand);

// The type two operands meet in; 0 when they cannot meet.
uint8_t CommonType(uint8_t left, uint8_t right);

// "String", "SmallInt" ...; "unknown" for codes without a name.
std::string_view TypeName(uint8_t type);
// An SQL type name (case-insensitive; BOOLEAN, CHAR, VARCHAR, VARCHAR2 are aliases) to its type
// code; 0 when unknown.
uint8_t SqlTypeByName(std::string_view name);
bool IsNumericType(uint8_t type);

// The engine's field type table: type code, SQL name, description.
struct TOrvFieldTypeInfo {
  uint8_t Type;
  std::string_view SqlName;
  std::string_view Description;
};
std::span<const TOrvFieldTypeInfo> FieldTypeTable();

// prefix + a pseudo-random number in 0 .. 2147483646, for throw-away names.
std::string UniqueName(std::string_view prefix);

}  // namespace orv
