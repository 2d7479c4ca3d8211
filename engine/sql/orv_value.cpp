#include "engine/sql/orv_value.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/common/collation.h"
#include "engine/common/orv_exception.h"
#include "engine/storage/stored_types.h"
#include "platform/codepage.h"
#include "platform/locale.h"
#include "platform/random.h"
#include "platform/time_stamp.h"
#include "platform/value_text.h"

namespace orv {

static_assert(std::endian::native == std::endian::little,
              "payloads are copied to and from little-endian record buffers as they are");

namespace {

// Zero bytes behind every payload, so that reading text never runs past the buffer even when
// a payload taken from a record lacks its terminator.
constexpr int32_t kTail = 2;

bool IsIntegerType(uint8_t type) {
  return type == ftSmallint || type == ftInteger || type == ftWord || type == ftAutoInc ||
         type == ftLargeint;
}

bool IsDateType(uint8_t type) {
  return type == ftDate || type == ftTime || type == ftDateTime;
}

bool IsTextType(uint8_t type) {
  return type == ftString || type == ftWideString;
}

// Payload size of the fixed-size types; 0 for the others.
int32_t FixedSize(uint8_t type) {
  switch (type) {
    case ftSmallint:
    case ftWord:
      return 2;
    case ftBoolean:
      return 1;
    case ftInteger:
    case ftAutoInc:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftLargeint:
      return 8;
    default:
      return 0;
  }
}

bool IsRawType(uint8_t type) {
  return type == ftBytes || IsBlobFieldType(type);
}

[[noreturn]] void RaiseConversion(int native_error, uint8_t from, uint8_t to) {
  throw EOrvException::Fmt(native_error, {}, std::string(TypeName(from)),
                           std::string(TypeName(to)));
}

[[noreturn]] void RaiseNotNumeric(const char* operation) {
  throw EOrvException::Fmt(2091, {}, operation);
}

// Rounds half to even, as the runtime's Round does; false when the result has no 64-bit form.
bool RoundToInt64(double value, int64_t* out) {
  double rounded = std::nearbyint(value);
  if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) return false;
  *out = static_cast<int64_t>(rounded);
  return true;
}

// NaN sorts first and equals NaN, so that every pair of doubles has an order.
int CompareDoubles(double a, double b) {
  bool a_nan = std::isnan(a), b_nan = std::isnan(b);
  if (a_nan || b_nan) return a_nan == b_nan ? 0 : (a_nan ? -1 : 1);
  return a < b ? -1 : (a > b ? 1 : 0);
}

template <typename T>
int CompareNumbers(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// Common types in the order of kTypeColumns; a zero is incompatible.
constexpr std::array<uint8_t, 13> kTypeColumns = {
    ftString, ftSmallint, ftInteger,  ftWord,    ftBoolean,    ftFloat,   ftCurrency,
    ftDate,   ftTime,     ftDateTime, ftAutoInc, ftWideString, ftLargeint};

int TypeColumn(uint8_t type) {
  for (size_t i = 0; i < kTypeColumns.size(); ++i)
    if (kTypeColumns[i] == type) return static_cast<int>(i);
  return -1;
}

constexpr uint8_t S = ftString, SI = ftSmallint, I = ftInteger, W = ftWord, B = ftBoolean,
                  F = ftFloat, C = ftCurrency, D = ftDate, T = ftTime, DT = ftDateTime,
                  WS = ftWideString, LI = ftLargeint;

// Rows are the left type. A Word meets SmallInt, Integer and AutoInc in Integer, which holds
// both ranges (a 16-bit meeting point would cut the Integer).
constexpr uint8_t kCommonTypes[13][13] = {
    /* String   */ {S, S, S, S, S, S, S, S, S, S, S, WS, S},
    /* SmallInt */ {S, SI, I, I, SI, F, C, DT, DT, DT, I, WS, LI},
    /* Integer  */ {S, I, I, I, I, F, C, DT, DT, DT, I, WS, LI},
    /* Word     */ {S, I, I, W, W, F, C, DT, DT, DT, I, WS, LI},
    /* Boolean  */ {S, SI, I, W, B, F, 0, 0, 0, 0, I, WS, LI},
    /* Float    */ {S, F, F, F, F, F, C, DT, DT, DT, F, WS, F},
    /* Currency */ {S, C, C, C, C, C, C, 0, 0, 0, C, WS, C},
    /* Date     */ {S, DT, DT, DT, DT, DT, 0, D, DT, DT, DT, WS, DT},
    /* Time     */ {S, DT, DT, DT, DT, DT, 0, DT, T, DT, DT, WS, DT},
    /* DateTime */ {S, DT, DT, DT, DT, DT, 0, DT, DT, DT, DT, WS, DT},
    /* AutoInc  */ {S, I, I, I, I, F, C, DT, DT, DT, I, WS, LI},
    /* WideStr  */ {WS, WS, WS, WS, WS, WS, WS, WS, WS, WS, WS, WS, WS},
    /* LargeInt */ {S, LI, LI, LI, LI, F, C, DT, DT, DT, LI, WS, LI},
};

constexpr std::array<TOrvFieldTypeInfo, 19> kFieldTypes = {{
    {ftAutoInc, "AUTOINC", "AutoInc"},
    {ftInteger, "INTEGER", "Integer"},
    {ftString, "STRING", "String"},
    {ftWideString, "WIDESTRING", "Wide String"},
    {ftDate, "DATE", "Date"},
    {ftTime, "TIME", "Time"},
    {ftDateTime, "DATETIME", "DateTime"},
    {ftCurrency, "CURRENCY", "Currency"},
    {ftBoolean, "LOGICAL", "Logical"},
    {ftMemo, "MEMO", "Memo"},
    {ftFmtMemo, "FMTMEMO", "Formatted Memo"},
    {ftGraphic, "GRAPHIC", "Graphic"},
    {ftBlob, "BLOB", "BLOB"},
    {ftSmallint, "SMALLINT", "Small Integer"},
    {ftWord, "WORD", "Word"},
    {ftFloat, "FLOAT", "Float"},
    {ftBCD, "BCD", "BCD"},
    {ftBytes, "BYTES", "Bytes"},
    {ftLargeint, "LARGEINT", "Large Integer"},
}};

}  // namespace

TOrvValue::TOrvValue(const TOrvValue& other)
    : data_type_(other.data_type_), data_size_(other.data_size_), is_null_(other.is_null_) {
  if (other.data_ != nullptr) {
    data_ = new uint8_t[static_cast<size_t>(other.data_size_) + kTail]();
    std::memcpy(data_, other.data_, static_cast<size_t>(other.data_size_));
  }
}

TOrvValue::TOrvValue(TOrvValue&& other) noexcept
    : data_type_(other.data_type_),
      data_size_(other.data_size_),
      is_null_(other.is_null_),
      data_(other.data_),
      not_owned_(other.not_owned_) {
  other.data_ = nullptr;
  other.not_owned_ = false;
  other.Clear();
}

TOrvValue& TOrvValue::operator=(const TOrvValue& other) {
  if (this != &other) {
    TOrvValue copy(other);
    *this = std::move(copy);
  }
  return *this;
}

TOrvValue& TOrvValue::operator=(TOrvValue&& other) noexcept {
  if (this != &other) {
    Clear();
    data_type_ = other.data_type_;
    data_size_ = other.data_size_;
    is_null_ = other.is_null_;
    data_ = other.data_;
    not_owned_ = other.not_owned_;
    other.data_ = nullptr;
    other.not_owned_ = false;
    other.Clear();
  }
  return *this;
}

TOrvValue TOrvValue::View(const TOrvValue& source) {
  TOrvValue view;
  view.data_type_ = source.data_type_;
  view.data_size_ = source.data_size_;
  view.is_null_ = source.is_null_;
  view.data_ = source.data_;
  view.not_owned_ = source.data_ != nullptr;
  return view;
}

void TOrvValue::Clear() {
  if (!not_owned_) delete[] data_;
  data_ = nullptr;
  data_type_ = ftUnknown;
  data_size_ = 0;
  is_null_ = true;
  not_owned_ = false;
}

void TOrvValue::SetNull(uint8_t type) {
  Clear();
  data_type_ = type;
}

void TOrvValue::Adopt(uint8_t type, int32_t size, const void* bytes, size_t count) {
  // Copied before the old payload goes: bytes may point into it.
  auto* fresh = new uint8_t[static_cast<size_t>(size) + kTail]();
  if (count > 0) std::memcpy(fresh, bytes, count);
  Clear();
  data_ = fresh;
  data_type_ = type;
  data_size_ = size;
  is_null_ = false;
}

template <typename T>
T TOrvValue::Load() const {
  T value;
  std::memcpy(&value, data_, sizeof(T));
  return value;
}

template <typename T>
void TOrvValue::Store(uint8_t type, T value, int32_t size) {
  Adopt(type, size, &value, sizeof(T));
}

void TOrvValue::SetString(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  if (text.empty()) {
    SetNull(ftString);
    return;
  }
  if (text.size() >= INT32_MAX) throw Exception("TOrvValue.SetString - text too long");
  Adopt(ftString, static_cast<int32_t>(text.size() + 1), text.data(), text.size());
}

void TOrvValue::SetWideString(std::u16string_view text) {
  text = text.substr(0, text.find(u'\0'));
  if (text.empty()) {
    SetNull(ftWideString);
    return;
  }
  if (text.size() >= INT32_MAX / 2) throw Exception("TOrvValue.SetWideString - text too long");
  Adopt(ftWideString, static_cast<int32_t>(2 * (text.size() + 1)), text.data(), 2 * text.size());
}

void TOrvValue::SetSmallint(int16_t value) {
  Store(ftSmallint, value);
}
void TOrvValue::SetInteger(int32_t value) {
  Store(ftInteger, value);
}
void TOrvValue::SetAutoInc(int32_t value) {
  Store(ftAutoInc, value);
}
void TOrvValue::SetWord(uint16_t value) {
  Store(ftWord, value);
}
void TOrvValue::SetBoolean(bool value) {
  Store(ftBoolean, static_cast<uint8_t>(value ? 1 : 0));
}
void TOrvValue::SetFloat(double value) {
  Store(ftFloat, value);
}
void TOrvValue::SetCurrency(double value) {
  Store(ftCurrency, value);
}
void TOrvValue::SetLargeint(int64_t value) {
  Store(ftLargeint, value);
}

void TOrvValue::SetDate(TDateTime value) {
  Store(ftDate, DateTimeToTimeStamp(value).date, 8);
}

void TOrvValue::SetTime(TDateTime value) {
  Store(ftTime, DateTimeToTimeStamp(value).time, 8);
}

void TOrvValue::SetDateTime(TDateTime value) {
  Store(ftDateTime, TimeStampToMSecs(DateTimeToTimeStamp(value)));
}

void TOrvValue::SetData(uint8_t type, const void* data, int32_t size) {
  if (size < 0 || (size > 0 && data == nullptr))
    throw Exception(fmt::format("TOrvValue.SetData - invalid payload of {} bytes", size));
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (type == ftString) {
    size_t length = size == 0 ? 0 : strnlen(reinterpret_cast<const char*>(bytes), size);
    if (length == 0) {
      SetNull(ftString);
      return;
    }
    Adopt(ftString, size, bytes, static_cast<size_t>(size));
    return;
  }
  if (type == ftWideString) {
    bool empty = size < 2 || (bytes[0] == 0 && bytes[1] == 0);
    if (empty) {
      SetNull(ftWideString);
      return;
    }
    Adopt(ftWideString, size, bytes, static_cast<size_t>(size));
    return;
  }
  if (type == ftBoolean) {
    // A record stores a Boolean in 16 bits; any non-zero value is true.
    if (size < 1) throw Exception("TOrvValue.SetData - Boolean payload is empty");
    bool value = bytes[0] != 0 || (size >= 2 && bytes[1] != 0);
    SetBoolean(value);
    return;
  }
  if (IsRawType(type)) {
    Adopt(type, size, bytes, static_cast<size_t>(size));
    return;
  }
  int32_t fixed = FixedSize(type);
  if (fixed == 0)
    throw Exception(fmt::format("TOrvValue.SetData - unsupported data type {}", type));
  if (size < fixed)
    throw Exception(
        fmt::format("TOrvValue.SetData - {} bytes are too few for {}", size, TypeName(type)));
  // Dates and times keep only their 32-bit number; the rest of the 8 bytes is zero.
  int32_t meaningful = (type == ftDate || type == ftTime) ? 4 : fixed;
  Adopt(type, fixed, bytes, static_cast<size_t>(meaningful));
}

int32_t TOrvValue::AsInteger() const {
  if (is_null_ || (data_type_ != ftInteger && data_type_ != ftAutoInc)) throw EOrvException(2107);
  return Load<int32_t>();
}

double TOrvValue::AsFloat() const {
  if (is_null_ || (data_type_ != ftFloat && data_type_ != ftCurrency)) throw EOrvException(60);
  return Load<double>();
}

int16_t TOrvValue::AsSmallint() const {
  if (is_null_ || data_type_ != ftSmallint) throw EOrvException(61);
  return Load<int16_t>();
}

uint16_t TOrvValue::AsWord() const {
  if (is_null_ || data_type_ != ftWord) throw EOrvException(63);
  return Load<uint16_t>();
}

int64_t TOrvValue::AsLargeint() const {
  if (is_null_ || data_type_ != ftLargeint) throw EOrvException(62);
  return Load<int64_t>();
}

bool TOrvValue::AsBoolean() const {
  if (is_null_ || data_type_ != ftBoolean) throw EOrvException(2113);
  return data_[0] != 0;
}

TDateTime TOrvValue::AsDateTime() const {
  if (!IsDateType(data_type_)) throw EOrvException(2140);
  if (is_null_) return 0;
  TTimeStamp stamp;
  switch (data_type_) {
    case ftDate:
      stamp.date = Load<int32_t>();
      break;
    case ftTime:
      stamp.date = kDateDelta;
      stamp.time = Load<int32_t>();
      break;
    default:
      stamp = MSecsToTimeStamp(std::nearbyint(Load<double>()));
      break;
  }
  return TimeStampToDateTime(stamp);
}

std::string TOrvValue::AsString() const {
  if (is_null_) return {};
  switch (data_type_) {
    case ftString:
      return std::string(reinterpret_cast<const char*>(data_),
                         strnlen(reinterpret_cast<const char*>(data_), data_size_));
    case ftInteger:
    case ftAutoInc:
      return IntToStr(Load<int32_t>());
    case ftFloat:
      return FloatToStr(Load<double>());
    default:
      return {};
  }
}

std::u16string TOrvValue::AsWideString() const {
  if (is_null_) return {};
  if (data_type_ == ftString) return Cp1251ToUtf16(AsString());
  if (data_type_ != ftWideString) return {};
  std::u16string text;
  for (int32_t i = 0; i + 1 < data_size_; i += 2) {
    char16_t unit;
    std::memcpy(&unit, data_ + i, 2);
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

Variant TOrvValue::ToVariant() const {
  if (is_null_) return Variant::Null();
  switch (data_type_) {
    case ftString:
      return Variant(AsString());
    case ftSmallint:
      return Variant::FromSmallint(AsSmallint());
    case ftInteger:
    case ftAutoInc:
      return Variant(AsInteger());
    case ftWord:
      return Variant::FromWord(AsWord());
    case ftBoolean:
      return Variant(AsBoolean());
    case ftFloat:
    case ftCurrency:
      return Variant(AsFloat());
    case ftDate:
    case ftTime:
    case ftDateTime:
      return Variant::FromDate(AsDateTime());
    case ftWideString:
      return Variant(AsWideString());
    case ftLargeint:
      return Variant(AsLargeint());
    default:
      return Variant::Null();
  }
}

void TOrvValue::SetIntegerOfType(uint8_t type, int64_t value) {
  switch (type) {
    case ftSmallint:
      SetSmallint(static_cast<int16_t>(value));
      break;
    case ftWord:
      SetWord(static_cast<uint16_t>(value));
      break;
    case ftInteger:
      SetInteger(static_cast<int32_t>(value));
      break;
    case ftAutoInc:
      SetAutoInc(static_cast<int32_t>(value));
      break;
    default:
      SetLargeint(value);
      break;
  }
}

void TOrvValue::ConvertFromText(std::string_view text, uint8_t type) {
  const uint8_t from = data_type_;
  std::string copy(text);
  switch (type) {
    case ftString:
      SetString(copy);
      break;
    case ftWideString:
      SetWideString(Cp1251ToUtf16(copy));
      break;
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftWord:
      SetIntegerOfType(type, StrToInt(copy));
      break;
    case ftLargeint:
      // Read in 64 bits: a 32-bit reading would refuse most of the type's range.
      SetLargeint(StrToInt64(copy));
      break;
    case ftBoolean:
      SetBoolean(SameText(copy, "true"));
      break;
    case ftFloat:
      SetFloat(StrToFloat(copy));
      break;
    case ftCurrency:
      SetCurrency(StrToFloat(copy));
      break;
    case ftDate:
      SetDate(StrToDate(copy));
      break;
    case ftTime:
      SetTime(StrToTime(copy));
      break;
    case ftDateTime:
      SetDateTime(StrToDateTime(copy));
      break;
    default:
      RaiseConversion(2092, from, type);
  }
}

void TOrvValue::ConvertFromInteger(int64_t value, uint8_t type) {
  switch (type) {
    case ftString:
    case ftWideString:
      ConvertFromText(IntToStr(value), type);
      break;
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftWord:
    case ftLargeint:
      SetIntegerOfType(type, value);
      break;
    case ftBoolean:
      SetBoolean(value != 0);
      break;
    case ftFloat:
      SetFloat(static_cast<double>(value));
      break;
    case ftCurrency:
      SetCurrency(static_cast<double>(value));
      break;
    case ftDate:
      SetDate(static_cast<double>(value));
      break;
    case ftTime:
      SetTime(static_cast<double>(value));
      break;
    case ftDateTime:
      SetDateTime(static_cast<double>(value));
      break;
    default:
      RaiseConversion(2092, data_type_, type);
  }
}

void TOrvValue::ConvertFromFloat(double value, uint8_t type, bool currency) {
  const uint8_t from = data_type_;
  switch (type) {
    case ftString:
    case ftWideString:
      ConvertFromText(FloatToStr(value), type);
      break;
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftWord:
    case ftLargeint: {
      int64_t rounded;
      if (!RoundToInt64(value, &rounded)) RaiseConversion(2093, from, type);
      SetIntegerOfType(type, rounded);
      break;
    }
    case ftBoolean:
      SetBoolean(value != 0);
      break;
    case ftFloat:
      SetFloat(value);
      break;
    case ftCurrency:
      SetCurrency(value);
      break;
    case ftDate:
    case ftTime:
    case ftDateTime:
      if (currency) RaiseConversion(2093, from, type);
      if (type == ftDate) SetDate(value);
      if (type == ftTime) SetTime(value);
      if (type == ftDateTime) SetDateTime(value);
      break;
    default:
      RaiseConversion(2092, from, type);
  }
}

void TOrvValue::ConvertFromDate(uint8_t type) {
  const uint8_t from = data_type_;
  switch (type) {
    case ftString:
    case ftWideString:
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftWord:
    case ftLargeint:
    case ftBoolean:
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime:
      break;
    default:
      RaiseConversion(2092, from, type);
  }
  TDateTime value = AsDateTime();
  if (type == ftString || type == ftWideString) {
    ConvertFromText(from == ftTime ? TimeToStr(value) : DateTimeToStr(value), type);
  } else if (IsIntegerType(type)) {
    int64_t rounded = 0;
    if (from != ftTime && !RoundToInt64(value, &rounded)) RaiseConversion(2093, from, type);
    SetIntegerOfType(type, rounded);
  } else if (type == ftBoolean) {
    SetBoolean(value != 0);
  } else if (type == ftFloat) {
    SetFloat(value);
  } else if (type == ftCurrency) {
    SetCurrency(value);
  } else if (type == ftDate) {
    SetDate(value);
  } else if (type == ftTime) {
    SetTime(value);
  } else {
    SetDateTime(value);
  }
}

void TOrvValue::ConvertTo(uint8_t type) {
  if (is_null_) {
    data_type_ = type;
    return;
  }
  if (type == data_type_) return;
  const uint8_t from = data_type_;
  try {
    switch (from) {
      case ftString:
        ConvertFromText(AsString(), type);
        break;
      case ftWideString:
        ConvertFromText(Utf16ToCp1251(AsWideString()), type);
        break;
      case ftSmallint:
        ConvertFromInteger(Load<int16_t>(), type);
        break;
      case ftWord:
        ConvertFromInteger(Load<uint16_t>(), type);
        break;
      case ftInteger:
      case ftAutoInc:
        ConvertFromInteger(Load<int32_t>(), type);
        break;
      case ftLargeint:
        ConvertFromInteger(Load<int64_t>(), type);
        break;
      case ftBoolean: {
        bool value = data_[0] != 0;
        if (type == ftString || type == ftWideString)
          ConvertFromText(value ? "true" : "false", type);
        else if (IsIntegerType(type) || type == ftFloat)
          ConvertFromInteger(value ? 1 : 0, type);
        else if (type == ftCurrency || IsDateType(type))
          RaiseConversion(2093, from, type);
        else
          RaiseConversion(2092, from, type);
        break;
      }
      case ftFloat:
        ConvertFromFloat(Load<double>(), type, false);
        break;
      case ftCurrency:
        ConvertFromFloat(Load<double>(), type, true);
        break;
      case ftDate:
      case ftTime:
      case ftDateTime:
        ConvertFromDate(type);
        break;
      default:
        RaiseConversion(2092, from, type);
    }
  } catch (const EOrvException&) {
    throw;
  } catch (const Exception&) {
    RaiseConversion(2093, from, type);
  }
}

void Assign(const TOrvValue& source, TOrvValue& target) {
  target = source;
}

TOrvCompareResult Compare(const TOrvValue& a, const TOrvValue& b, bool partial,
                          bool case_insensitive) {
  if (a.IsNull() && b.IsNull()) return crBothNull;
  if (a.IsNull()) return crLeftNull;
  if (b.IsNull()) return crRightNull;
  uint8_t type = CommonType(a.DataType(), b.DataType());
  // A string against a date is read as a date, so literals compare with date fields.
  if (a.DataType() == ftString && IsDateType(b.DataType())) type = b.DataType();
  if (b.DataType() == ftString && IsDateType(a.DataType())) type = a.DataType();
  if (type == 0) throw EOrvException(25);
  if (TypeColumn(type) < 0) throw EOrvException(28);

  TOrvValue converted_a, converted_b;
  const TOrvValue* x = &a;
  const TOrvValue* y = &b;
  if (a.DataType() != type) {
    converted_a = a;
    converted_a.ConvertTo(type);
    x = &converted_a;
  }
  if (b.DataType() != type) {
    converted_b = b;
    converted_b.ConvertTo(type);
    y = &converted_b;
  }

  int sign = 0;
  switch (type) {
    case ftString: {
      const char* left = reinterpret_cast<const char*>(x->Data());
      const char* right = reinterpret_cast<const char*>(y->Data());
      if (partial) {
        size_t limit = strnlen(right, y->DataSize());
        sign = case_insensitive ? CollateCompareNI(left, right, limit)
                                : CollateCompareN(left, right, limit);
      } else {
        sign = case_insensitive ? CollateCompareI(left, right) : CollateCompare(left, right);
      }
      break;
    }
    case ftWideString: {
      std::u16string left = x->AsWideString(), right = y->AsWideString();
      if (partial) left.resize(std::min(left.size(), right.size()));
      sign = CompareWide(left, right, case_insensitive);
      break;
    }
    case ftSmallint:
      sign = CompareNumbers(x->AsSmallint(), y->AsSmallint());
      break;
    case ftWord:
      sign = CompareNumbers(x->AsWord(), y->AsWord());
      break;
    case ftInteger:
    case ftAutoInc:
      sign = CompareNumbers(x->AsInteger(), y->AsInteger());
      break;
    case ftLargeint:
      sign = CompareNumbers(x->AsLargeint(), y->AsLargeint());
      break;
    case ftBoolean:
      sign = CompareNumbers(x->AsBoolean(), y->AsBoolean());
      break;
    case ftFloat:
    case ftCurrency:
      sign = CompareDoubles(x->AsFloat(), y->AsFloat());
      break;
    case ftDate:
    case ftTime: {
      int32_t left, right;
      std::memcpy(&left, x->Data(), 4);
      std::memcpy(&right, y->Data(), 4);
      if (type == ftDate) {
        left = std::max(left, 1);
        right = std::max(right, 1);
      }
      sign = CompareNumbers(left, right);
      break;
    }
    case ftDateTime: {
      double left, right;
      std::memcpy(&left, x->Data(), 8);
      std::memcpy(&right, y->Data(), 8);
      sign = CompareDoubles(std::nearbyint(left), std::nearbyint(right));
      break;
    }
    default:
      throw EOrvException(28);
  }
  return sign == 0 ? crEqual : (sign > 0 ? crGreater : crLess);
}

namespace {

// Converted copies of both operands in their common type.
struct Operands {
  TOrvValue left, right;
  uint8_t type = 0;
};

Operands InCommonType(const TOrvValue& target, const TOrvValue& operand, const char* operation) {
  Operands result;
  result.type = CommonType(target.DataType(), operand.DataType());
  if (result.type == 0) RaiseNotNumeric(operation);
  result.left = target;
  result.right = operand;
  result.left.ConvertTo(result.type);
  result.right.ConvertTo(result.type);
  return result;
}

uint8_t NullResultType(const TOrvValue& target, const TOrvValue& operand) {
  uint8_t type = CommonType(target.DataType(), operand.DataType());
  return type != 0 ? type : target.DataType();
}

bool CanBeText(const TOrvValue& value) {
  return !value.IsNull() || IsTextType(value.DataType());
}

}  // namespace

void Add(TOrvValue& target, const TOrvValue& operand, bool null_takes_operand) {
  if (target.IsNull() || operand.IsNull()) {
    if (null_takes_operand) {
      if (target.IsNull())
        target = operand;
      else
        target.SetNull(target.DataType());
      return;
    }
    uint8_t type = NullResultType(target, operand);
    // A NULL string is the empty text, so concatenating it gives the other side.
    if (IsTextType(type) && CanBeText(target) && CanBeText(operand) &&
        !(target.IsNull() && operand.IsNull())) {
      TOrvValue other = target.IsNull() ? operand : target;
      other.ConvertTo(type);
      target = std::move(other);
      return;
    }
    target.SetNull(type);
    return;
  }
  Operands values = InCommonType(target, operand, "+");
  const TOrvValue& a = values.left;
  const TOrvValue& b = values.right;
  switch (values.type) {
    case ftString:
      target.SetString(a.AsString() + b.AsString());
      break;
    case ftWideString:
      target.SetWideString(a.AsWideString() + b.AsWideString());
      break;
    case ftSmallint:
      target.SetSmallint(static_cast<int16_t>(static_cast<uint16_t>(a.AsSmallint()) +
                                              static_cast<uint16_t>(b.AsSmallint())));
      break;
    case ftWord:
      target.SetWord(static_cast<uint16_t>(a.AsWord() + b.AsWord()));
      break;
    case ftInteger:
      target.SetInteger(static_cast<int32_t>(static_cast<uint32_t>(a.AsInteger()) +
                                             static_cast<uint32_t>(b.AsInteger())));
      break;
    case ftLargeint:
      target.SetLargeint(static_cast<int64_t>(static_cast<uint64_t>(a.AsLargeint()) +
                                              static_cast<uint64_t>(b.AsLargeint())));
      break;
    case ftFloat:
      target.SetFloat(a.AsFloat() + b.AsFloat());
      break;
    case ftCurrency:
      target.SetCurrency(a.AsFloat() + b.AsFloat());
      break;
    case ftDate:
      target.SetDate(a.AsDateTime() + b.AsDateTime());
      break;
    case ftTime:
      target.SetTime(a.AsDateTime() + b.AsDateTime());
      break;
    case ftDateTime:
      target.SetDateTime(a.AsDateTime() + b.AsDateTime());
      break;
    default:
      RaiseNotNumeric("+");
  }
}

void Negate(TOrvValue& target) {
  if (target.IsNull()) return;
  switch (target.DataType()) {
    case ftSmallint:
      target.SetSmallint(static_cast<int16_t>(0u - static_cast<uint16_t>(target.AsSmallint())));
      break;
    case ftWord:
      target.SetWord(static_cast<uint16_t>(0u - target.AsWord()));
      break;
    case ftInteger:
      target.SetInteger(static_cast<int32_t>(0u - static_cast<uint32_t>(target.AsInteger())));
      break;
    case ftFloat:
      target.SetFloat(-target.AsFloat());
      break;
    case ftLargeint:
      target.SetLargeint(
          static_cast<int64_t>(uint64_t{0} - static_cast<uint64_t>(target.AsLargeint())));
      break;
    default:
      throw EOrvException::Fmt(2089, {}, "-");
  }
}

void Multiply(TOrvValue& target, const TOrvValue& operand) {
  if (target.IsNull() || operand.IsNull()) {
    target.SetNull(NullResultType(target, operand));
    return;
  }
  Operands values = InCommonType(target, operand, "*");
  const TOrvValue& a = values.left;
  const TOrvValue& b = values.right;
  switch (values.type) {
    case ftSmallint:
      target.SetSmallint(static_cast<int16_t>(static_cast<uint32_t>(a.AsSmallint()) *
                                              static_cast<uint32_t>(b.AsSmallint())));
      break;
    case ftWord:
      target.SetWord(static_cast<uint16_t>(static_cast<uint32_t>(a.AsWord()) * b.AsWord()));
      break;
    case ftInteger:
      target.SetInteger(static_cast<int32_t>(static_cast<uint32_t>(a.AsInteger()) *
                                             static_cast<uint32_t>(b.AsInteger())));
      break;
    case ftLargeint:
      target.SetLargeint(static_cast<int64_t>(static_cast<uint64_t>(a.AsLargeint()) *
                                              static_cast<uint64_t>(b.AsLargeint())));
      break;
    case ftFloat:
      target.SetFloat(a.AsFloat() * b.AsFloat());
      break;
    case ftCurrency:
      target.SetCurrency(a.AsFloat() * b.AsFloat());
      break;
    default:
      RaiseNotNumeric("*");
  }
}

void Divide(TOrvValue& target, const TOrvValue& operand) {
  if (target.IsNull() || operand.IsNull()) {
    target.SetNull(ftFloat);
    return;
  }
  TOrvValue a = target, b = operand;
  a.ConvertTo(ftFloat);
  b.ConvertTo(ftFloat);
  double dividend = a.AsFloat(), divisor = b.AsFloat();
  if (divisor == 0) {
    if (dividend == 0 || std::isnan(dividend)) throw Exception("Invalid floating point operation");
    throw Exception("Floating point division by zero");
  }
  target.SetFloat(dividend / divisor);
}

uint8_t CommonType(uint8_t left, uint8_t right) {
  int row = TypeColumn(left), column = TypeColumn(right);
  if (row < 0 || column < 0) return 0;
  return kCommonTypes[row][column];
}

std::string_view TypeName(uint8_t type) {
  switch (type) {
    case ftString:
      return "String";
    case ftSmallint:
      return "SmallInt";
    case ftInteger:
      return "Integer";
    case ftWord:
      return "Word";
    case ftBoolean:
      return "Boolean";
    case ftFloat:
      return "Float";
    case ftCurrency:
      return "Currency";
    case ftDate:
      return "Date";
    case ftTime:
      return "Time";
    case ftDateTime:
      return "DateTime";
    case ftAutoInc:
      return "AutoInc";
    case ftWideString:
      return "WideString";
    case ftLargeint:
      return "LargeInt";
    default:
      return "unknown";
  }
}

uint8_t SqlTypeByName(std::string_view name) {
  std::string upper;
  for (char c : name) upper += UpperCaseChar(c);
  if (upper == "BOOLEAN") upper = "LOGICAL";
  if (upper == "CHAR" || upper == "VARCHAR" || upper == "VARCHAR2") upper = "STRING";
  for (const TOrvFieldTypeInfo& info : kFieldTypes)
    if (info.SqlName == upper) return info.Type;
  return 0;
}

bool IsNumericType(uint8_t type) {
  return type == ftSmallint || type == ftInteger || type == ftWord || type == ftFloat ||
         type == ftCurrency || type == ftAutoInc || type == ftLargeint;
}

std::span<const TOrvFieldTypeInfo> FieldTypeTable() {
  return kFieldTypes;
}

std::string UniqueName(std::string_view prefix) {
  return fmt::format("{}{}", prefix, Random(2147483647u));
}

}  // namespace orv
