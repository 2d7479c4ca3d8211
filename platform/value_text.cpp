#include "platform/value_text.h"

#include <fmt/format.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/list_index.h"
#include "platform/time_stamp.h"

namespace orv {
namespace {

std::atomic<char> g_decimal_separator{'.'};

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

[[noreturn]] void NotValid(std::string_view text, const char* what) {
  throw EConvertError(fmt::format("'{}' is not a valid {}", text, what));
}

// Reads an unsigned decimal number of at most max_digits digits at text[*pos].
bool ReadNumber(std::string_view text, size_t* pos, int max_digits, int* out) {
  size_t start = *pos;
  int value = 0;
  while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') {
    if (static_cast<int>(*pos - start) == max_digits) return false;
    value = value * 10 + (text[*pos] - '0');
    ++*pos;
  }
  *out = value;
  return *pos > start;
}

bool ParseDate(std::string_view text, size_t* pos, TDateTime* out) {
  int day, month, year;
  auto separator = [&] {
    if (*pos < text.size() && (text[*pos] == '.' || text[*pos] == '/')) {
      ++*pos;
      return true;
    }
    return false;
  };
  if (!ReadNumber(text, pos, 2, &day) || !separator() || !ReadNumber(text, pos, 2, &month) ||
      !separator() || !ReadNumber(text, pos, 4, &year))
    return false;
  return TryEncodeDate(year, month, day, out);
}

bool ParseTime(std::string_view text, size_t* pos, TDateTime* out) {
  int hour, minute, second = 0, msec = 0;
  if (!ReadNumber(text, pos, 2, &hour) || *pos >= text.size() || text[*pos] != ':') return false;
  ++*pos;
  if (!ReadNumber(text, pos, 2, &minute)) return false;
  if (*pos < text.size() && text[*pos] == ':') {
    ++*pos;
    if (!ReadNumber(text, pos, 2, &second)) return false;
    if (*pos < text.size() && text[*pos] == '.') {
      ++*pos;
      if (!ReadNumber(text, pos, 3, &msec)) return false;
    }
  }
  return TryEncodeTime(hour, minute, second, msec, out);
}

void SkipBlanks(std::string_view text, size_t* pos) {
  while (*pos < text.size() && IsBlank(text[*pos])) ++*pos;
}

}  // namespace

void CheckListIndex(int index, size_t count) {
  if (index < 0 || static_cast<size_t>(index) >= count)
    throw Exception(fmt::format("List index out of bounds ({})", index));
}

char DecimalSeparator() {
  return g_decimal_separator.load(std::memory_order_relaxed);
}

void SetDecimalSeparator(char separator) {
  g_decimal_separator.store(separator, std::memory_order_relaxed);
}

std::string IntToStr(int64_t value) {
  return fmt::format("{}", value);
}

bool TryStrToInt64(std::string_view text, int64_t* out) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
  int base = 10;
  if (pos < text.size() && text[pos] == '$') {
    base = 16;
    ++pos;
  } else if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] | 0x20) == 'x') {
    base = 16;
    pos += 2;
  }
  if (pos >= text.size()) return false;
  uint64_t magnitude = 0;
  auto [end, error] =
      std::from_chars(text.data() + pos, text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + negative;
  if (magnitude > limit) return false;
  *out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

int64_t StrToInt64(std::string_view text) {
  int64_t value;
  if (!TryStrToInt64(text, &value)) NotValid(text, "integer value");
  return value;
}

int32_t StrToInt(std::string_view text) {
  int64_t value;
  if (!TryStrToInt64(text, &value) || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max())
    NotValid(text, "integer value");
  return static_cast<int32_t>(value);
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  // 15 significant digits, then the decimal exponent of the first one.
  std::string e = fmt::format("{:.14e}", value);
  size_t e_pos = e.find('e');
  int exponent = std::stoi(e.substr(e_pos + 1));
  std::string digits;
  for (size_t i = 0; i < e_pos; ++i)
    if (e[i] >= '0' && e[i] <= '9') digits += e[i];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = value < 0 ? "-" : "";
  const char separator = DecimalSeparator();
  if (exponent >= 15 || exponent < -4) {
    out += digits[0];
    if (digits.size() > 1) {
      out += separator;
      out += digits.substr(1);
    }
    out += 'E';
    out += fmt::format("{}", exponent);
    return out;
  }
  if (exponent < 0) {
    out += '0';
    out += separator;
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  auto int_digits = static_cast<size_t>(exponent) + 1;
  if (digits.size() <= int_digits) {
    out += digits;
    out.append(int_digits - digits.size(), '0');
  } else {
    out += digits.substr(0, int_digits);
    out += separator;
    out += digits.substr(int_digits);
  }
  return out;
}

bool TryStrToFloat(std::string_view text, double* out) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  // Rewritten in the C form so that from_chars sees '.' whatever the separator is.
  std::string plain;
  const char separator = DecimalSeparator();
  size_t pos = begin;
  if (pos < end && (text[pos] == '+' || text[pos] == '-')) {
    if (text[pos] == '-') plain += '-';
    ++pos;
  }
  bool mantissa_digit = false, point = false;
  for (; pos < end; ++pos) {
    char c = text[pos];
    if (c >= '0' && c <= '9') {
      mantissa_digit = true;
      plain += c;
    } else if (c == separator && !point) {
      point = true;
      plain += '.';
    } else {
      break;
    }
  }
  if (!mantissa_digit) return false;
  if (pos < end && (text[pos] == 'e' || text[pos] == 'E')) {
    plain += 'e';
    ++pos;
    if (pos < end && (text[pos] == '+' || text[pos] == '-')) plain += text[pos++];
    bool exponent_digit = false;
    for (; pos < end && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
      exponent_digit = true;
      plain += text[pos];
    }
    if (!exponent_digit) return false;
  }
  if (pos != end) return false;
  double value = 0;
  auto [last, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (error != std::errc() || last != plain.data() + plain.size()) return false;
  *out = value;
  return true;
}

double StrToFloat(std::string_view text) {
  double value;
  if (!TryStrToFloat(text, &value)) NotValid(text, "floating point value");
  return value;
}

std::string DateToStr(TDateTime value) {
  TTimeStamp stamp = DateTimeToTimeStamp(value);
  int year, month, day;
  DecodeDate(static_cast<double>(stamp.date - kDateDelta), &year, &month, &day);
  return fmt::format("{:02}.{:02}.{:04}", day, month, year);
}

std::string TimeToStr(TDateTime value) {
  TTimeStamp stamp = DateTimeToTimeStamp(value);
  int seconds = stamp.time / 1000;
  return fmt::format("{}:{:02}:{:02}", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string DateTimeToStr(TDateTime value) {
  TTimeStamp stamp = DateTimeToTimeStamp(value);
  std::string text = DateToStr(value);
  if (stamp.time != 0) text += " " + TimeToStr(value);
  return text;
}

TDateTime StrToDate(std::string_view text) {
  size_t pos = 0;
  TDateTime value;
  SkipBlanks(text, &pos);
  if (!ParseDate(text, &pos, &value)) NotValid(text, "date");
  SkipBlanks(text, &pos);
  if (pos != text.size()) NotValid(text, "date");
  return value;
}

TDateTime StrToTime(std::string_view text) {
  size_t pos = 0;
  TDateTime value;
  SkipBlanks(text, &pos);
  if (!ParseTime(text, &pos, &value)) NotValid(text, "time");
  SkipBlanks(text, &pos);
  if (pos != text.size()) NotValid(text, "time");
  return value;
}

bool TryStrToDateTime(std::string_view text, TDateTime* out) {
  size_t pos = 0;
  SkipBlanks(text, &pos);
  TDateTime date = 0, time = 0;
  size_t start = pos;
  if (!ParseDate(text, &pos, &date)) {
    pos = start;
    date = 0;
    if (!ParseTime(text, &pos, &time)) return false;
  } else {
    SkipBlanks(text, &pos);
    if (pos < text.size() && !ParseTime(text, &pos, &time)) return false;
  }
  SkipBlanks(text, &pos);
  if (pos != text.size()) return false;
  // Times of days before 1899-12-30 count backwards with the date, as TDateTime has it.
  *out = date < 0 ? date - time : date + time;
  return true;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime value;
  if (!TryStrToDateTime(text, &value)) NotValid(text, "date and time");
  return value;
}

std::string BoolToStr(bool value) {
  return value ? "True" : "False";
}

bool StrToBool(std::string_view text) {
  if (SameText(text, "True")) return true;
  if (SameText(text, "False")) return false;
  double number;
  if (TryStrToFloat(text, &number)) return number != 0;
  NotValid(text, "boolean value");
}

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

char UpperCaseChar(char c) {
  auto u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
  if (u >= 0xE0) return static_cast<char>(u - 32);  // а..я
  switch (u) {
    case 0xB8:
      return static_cast<char>(0xA8);  // ё
    case 0x90:
      return static_cast<char>(0x80);  // ђ
    case 0x83:
      return static_cast<char>(0x81);  // ѓ
    case 0x9A:
      return static_cast<char>(0x8A);  // љ
    case 0x9C:
      return static_cast<char>(0x8C);  // њ
    case 0x9D:
      return static_cast<char>(0x8D);  // ќ
    case 0x9E:
      return static_cast<char>(0x8E);  // ћ
    case 0x9F:
      return static_cast<char>(0x8F);  // џ
    case 0xA2:
      return static_cast<char>(0xA1);  // ў
    case 0xBC:
      return static_cast<char>(0xA3);  // ј
    case 0xB4:
      return static_cast<char>(0xA5);  // ґ
    case 0xBA:
      return static_cast<char>(0xAA);  // є
    case 0xBF:
      return static_cast<char>(0xAF);  // ї
    case 0xB3:
      return static_cast<char>(0xB2);  // і
    case 0xBE:
      return static_cast<char>(0xBD);  // ѕ
    default:
      return c;
  }
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperCaseChar(a[i]) != UpperCaseChar(b[i])) return false;
  return true;
}

}  // namespace orv
