#include "tools/orvdb_values.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/files/little_endian.h"
#include "platform/codepage.h"

namespace orv {

namespace {

constexpr int64_t kMsPerDay = 86400000;

uint16_t LoadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

const int64_t kDayOneOffset = DaysFromCivil(1, 1, 1) - 1;
const int32_t kLastDayNumber = static_cast<int32_t>(DaysFromCivil(9999, 12, 31) - kDayOneOffset);

bool Digits(std::string_view text, size_t pos, size_t count, unsigned& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

bool DaysInMonthOk(unsigned y, unsigned m, unsigned d) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

// HH:MM:SS[.mmm] at pos up to the end of text.
bool ParseClock(std::string_view text, size_t pos, int32_t& milliseconds) {
  unsigned h = 0, mi = 0, s = 0, ms = 0;
  if (!Digits(text, pos, 2, h) || text.size() < pos + 8 || text[pos + 2] != ':' ||
      !Digits(text, pos + 3, 2, mi) || text[pos + 5] != ':' || !Digits(text, pos + 6, 2, s))
    return false;
  size_t end = pos + 8;
  if (end < text.size()) {
    if (text[end] != '.' || !Digits(text, end + 1, 3, ms)) return false;
    end += 4;
  }
  if (end != text.size() || h > 23 || mi > 59 || s > 59) return false;
  milliseconds = static_cast<int32_t>(((h * 60 + mi) * 60 + s) * 1000 + ms);
  return true;
}

std::string ClockText(int32_t milliseconds) {
  const int32_t ms = milliseconds % 1000;
  const int32_t s = milliseconds / 1000;
  std::string text = fmt::format("{:02}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60);
  if (ms != 0) text += fmt::format(".{:03}", ms);
  return text;
}

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// False for an unpaired surrogate.
bool Utf16ToUtf8(const std::u16string& wide, std::string& out) {
  out.clear();
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      return false;
    }
    AppendUtf8(cp, out);
  }
  return true;
}

// False for ill-formed UTF-8 (overlong forms, surrogates, truncated sequences).
bool Utf8ToUtf16(std::string_view text, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t cp = 0;
    if (lead < 0x80)
      cp = lead;
    else if ((lead & 0xE0) == 0xC0)
      extra = 1, cp = lead & 0x1F;
    else if ((lead & 0xF0) == 0xE0)
      extra = 2, cp = lead & 0x0F;
    else if ((lead & 0xF8) == 0xF0)
      extra = 3, cp = lead & 0x07;
    else
      return false;
    if (i + static_cast<size_t>(extra) >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      cp = cp << 6 | (next & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

std::string Invalid(const char* what) {
  return fmt::format("<invalid {}>", what);
}

// A stored string slot up to its terminator; false when the slot holds none.
bool SlotText(const uint8_t* slot, int32_t size, std::string& text) {
  const void* end = std::memchr(slot, 0, static_cast<size_t>(size));
  if (end == nullptr) return false;
  text.assign(reinterpret_cast<const char*>(slot),
              static_cast<size_t>(static_cast<const uint8_t*>(end) - slot));
  return true;
}

bool HexDigit(char c, uint8_t& value) {
  if (c >= '0' && c <= '9')
    value = static_cast<uint8_t>(c - '0');
  else if (c >= 'a' && c <= 'f')
    value = static_cast<uint8_t>(c - 'a' + 10);
  else if (c >= 'A' && c <= 'F')
    value = static_cast<uint8_t>(c - 'A' + 10);
  else
    return false;
  return true;
}

// UTF-8 as code page 1251; false when a character has no byte there.
bool ToCp1251(std::string_view utf8, std::string& text) {
  text = Utf8ToCp1251(utf8);
  return Cp1251ToUtf8(text) == utf8;
}

bool IntegerInRange(std::string_view text, int64_t low, int64_t high, int64_t& value,
                    std::string& problem) {
  if (!ParseInt64(text, value) || value < low || value > high) {
    problem = fmt::format("\"{}\" is not an integer in {} .. {}", text, low, high);
    return false;
  }
  return true;
}

}  // namespace

bool ParseInt64(std::string_view text, int64_t& value) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool ParseDouble(std::string_view text, double& value) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

bool ParseDate(std::string_view text, int32_t& day_number) {
  unsigned y = 0, m = 0, d = 0;
  if (text.size() != 10 || !Digits(text, 0, 4, y) || text[4] != '-' || !Digits(text, 5, 2, m) ||
      text[7] != '-' || !Digits(text, 8, 2, d) || y < 1 || !DaysInMonthOk(y, m, d))
    return false;
  day_number = static_cast<int32_t>(DaysFromCivil(y, m, d) - kDayOneOffset);
  return true;
}

bool ParseTime(std::string_view text, int32_t& milliseconds) {
  return ParseClock(text, 0, milliseconds);
}

bool ParseDateTime(std::string_view text, double& milliseconds) {
  int32_t day = 0, ms = 0;
  if (text.size() < 10 || !ParseDate(text.substr(0, 10), day)) return false;
  if (text.size() > 10) {
    if ((text[10] != ' ' && text[10] != 'T') || !ParseClock(text, 11, ms)) return false;
  }
  milliseconds = static_cast<double>(day) * kMsPerDay + ms;
  return true;
}

bool FormatDate(int32_t day_number, std::string& text) {
  if (day_number < 1 || day_number > kLastDayNumber) return false;
  int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(day_number + kDayOneOffset, y, m, d);
  text = fmt::format("{:04}-{:02}-{:02}", y, m, d);
  return true;
}

bool FormatTime(int32_t milliseconds, std::string& text) {
  if (milliseconds < 0 || milliseconds >= kMsPerDay) return false;
  text = ClockText(milliseconds);
  return true;
}

bool FormatDateTime(double milliseconds, std::string& text) {
  if (!std::isfinite(milliseconds) || milliseconds < 0 ||
      milliseconds >= static_cast<double>(kLastDayNumber + 1) * kMsPerDay)
    return false;
  const auto total = static_cast<int64_t>(std::llround(milliseconds));
  const auto day = static_cast<int32_t>(total / kMsPerDay);
  const auto ms = static_cast<int32_t>(total % kMsPerDay);
  if (!FormatDate(day, text)) return false;
  text += ' ';
  text += ClockText(ms);
  return true;
}

std::string FormatFieldValue(const FieldHeaderType& field, const uint8_t* slot) {
  std::string text;
  switch (field.Type) {
    case ftString:
      return SlotText(slot, field.Size, text) ? Cp1251ToUtf8(text) : Invalid("string");
    case ftSmallint:
      return fmt::format("{}", static_cast<int16_t>(LoadU16(slot)));
    case ftWord:
      return fmt::format("{}", LoadU16(slot));
    case ftInteger:
    case ftAutoInc:
      return fmt::format("{}", LoadI32(slot));
    case ftLargeint:
      return fmt::format("{}", static_cast<int64_t>(LoadU64(slot)));
    case ftBoolean:
      return LoadU16(slot) != 0 ? "true" : "false";
    case ftFloat:
    case ftCurrency:
    case ftBCD: {
      double value = 0;
      std::memcpy(&value, slot, sizeof value);
      return std::isfinite(value) ? fmt::format("{}", value) : Invalid("number");
    }
    case ftDate:
      return FormatDate(LoadI32(slot), text) ? text : Invalid("date");
    case ftTime:
      return FormatTime(LoadI32(slot), text) ? text : Invalid("time");
    case ftDateTime: {
      double value = 0;
      std::memcpy(&value, slot, sizeof value);
      return FormatDateTime(value, text) ? text : Invalid("date-time");
    }
    case ftBytes:
      for (int32_t i = 0; i < field.Size; ++i) text += fmt::format("{:02x}", slot[i]);
      return text;
    case ftWideString: {
      std::u16string wide;
      for (int32_t i = 0; i + 1 < field.Size; i += 2) {
        const auto unit = static_cast<char16_t>(slot[i] | slot[i + 1] << 8);
        if (unit == 0) return Utf16ToUtf8(wide, text) ? text : Invalid("wide string");
        wide += unit;
      }
      return Invalid("wide string");
    }
    default:
      return Invalid("field type");
  }
}

bool StoreFieldValue(const FieldHeaderType& field, std::string_view text, uint8_t* slot,
                     std::string& problem) {
  int64_t integer = 0;
  switch (field.Type) {
    case ftString: {
      std::string bytes;
      if (!ToCp1251(text, bytes)) {
        problem = "the text has characters that code page 1251 cannot hold";
        return false;
      }
      if (static_cast<int64_t>(bytes.size()) >= field.Size) {
        problem = fmt::format("the text is longer than the field's {} characters", field.Size - 1);
        return false;
      }
      std::memcpy(slot, bytes.data(), bytes.size());
      return true;
    }
    case ftSmallint:
      if (!IntegerInRange(text, INT16_MIN, INT16_MAX, integer, problem)) return false;
      StoreU16(slot, static_cast<uint16_t>(integer));
      return true;
    case ftWord:
      if (!IntegerInRange(text, 0, UINT16_MAX, integer, problem)) return false;
      StoreU16(slot, static_cast<uint16_t>(integer));
      return true;
    case ftInteger:
    case ftAutoInc:
      if (!IntegerInRange(text, INT32_MIN, INT32_MAX, integer, problem)) return false;
      StoreI32(slot, static_cast<int32_t>(integer));
      return true;
    case ftLargeint:
      if (!IntegerInRange(text, INT64_MIN, INT64_MAX, integer, problem)) return false;
      StoreU64(slot, static_cast<uint64_t>(integer));
      return true;
    case ftBoolean: {
      std::string lower(text);
      for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      if (lower != "true" && lower != "false" && lower != "1" && lower != "0") {
        problem = fmt::format("\"{}\" is not a Boolean (true or false)", text);
        return false;
      }
      StoreU16(slot, lower == "true" || lower == "1" ? 1 : 0);
      return true;
    }
    case ftFloat:
    case ftCurrency: {
      double value = 0;
      if (!ParseDouble(text, value)) {
        problem = fmt::format("\"{}\" is not a number", text);
        return false;
      }
      std::memcpy(slot, &value, sizeof value);
      return true;
    }
    case ftDate: {
      int32_t day = 0;
      if (!ParseDate(text, day)) {
        problem = fmt::format("\"{}\" is not a date (YYYY-MM-DD)", text);
        return false;
      }
      StoreI32(slot, day);
      return true;
    }
    case ftTime: {
      int32_t ms = 0;
      if (!ParseTime(text, ms)) {
        problem = fmt::format("\"{}\" is not a time (HH:MM:SS[.mmm])", text);
        return false;
      }
      StoreI32(slot, ms);
      return true;
    }
    case ftDateTime: {
      double ms = 0;
      if (!ParseDateTime(text, ms)) {
        problem = fmt::format("\"{}\" is not a date-time (YYYY-MM-DD HH:MM:SS[.mmm])", text);
        return false;
      }
      std::memcpy(slot, &ms, sizeof ms);
      return true;
    }
    case ftBytes: {
      if (text.size() != static_cast<size_t>(field.Size) * 2) {
        problem = fmt::format("bytes need exactly {} hex digits", field.Size * 2);
        return false;
      }
      for (int32_t i = 0; i < field.Size; ++i) {
        uint8_t high = 0, low = 0;
        if (!HexDigit(text[2 * i], high) || !HexDigit(text[2 * i + 1], low)) {
          problem = fmt::format("\"{}\" is not hex", text);
          return false;
        }
        slot[i] = static_cast<uint8_t>(high << 4 | low);
      }
      return true;
    }
    case ftWideString: {
      std::u16string wide;
      if (!Utf8ToUtf16(text, wide)) {
        problem = "the text is not UTF-8";
        return false;
      }
      if (static_cast<int64_t>(wide.size()) * 2 + 2 > field.Size) {
        problem =
            fmt::format("the text is longer than the field's {} characters", (field.Size - 2) / 2);
        return false;
      }
      for (size_t i = 0; i < wide.size(); ++i) {
        slot[2 * i] = static_cast<uint8_t>(wide[i] & 0xFF);
        slot[2 * i + 1] = static_cast<uint8_t>(wide[i] >> 8);
      }
      return true;
    }
    default:
      problem = "values of this field type cannot be written from text";
      return false;
  }
}

}  // namespace orv
