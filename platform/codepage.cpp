#include "platform/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "platform/exception.h"

namespace orv {
namespace {

struct Cp1251Tables {
  std::array<char16_t, 256> to_unicode{};
  // Indexed by BMP code unit; 0 means "not in the code page" except for U+0000 itself.
  std::unique_ptr<std::array<uint8_t, 0x10000>> from_unicode;
};

// The mapping comes from ICU's converter once; per-call conversion through the converter would
// need one converter object per thread and is far slower than a table look-up.
Cp1251Tables BuildTables() {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open("windows-1251", &status);
  if (U_FAILURE(status) || converter == nullptr)
    throw Exception(std::string("Cp1251 conversion - ICU has no windows-1251 converter: ") +
                    u_errorName(status));
  Cp1251Tables tables;
  tables.from_unicode = std::make_unique<std::array<uint8_t, 0x10000>>();
  tables.from_unicode->fill(0);
  for (int c = 0; c < 256; ++c) {
    char byte = static_cast<char>(c);
    UChar unit[2] = {0, 0};
    status = U_ZERO_ERROR;
    ucnv_reset(converter);
    int32_t length = ucnv_toUChars(converter, unit, 2, &byte, 1, &status);
    // An unassigned byte comes back as a substitution character: keep it as the code point of
    // the same value instead.
    bool substituted = unit[0] == 0xFFFD || (unit[0] == 0x1A && c != 0x1A);
    bool mapped = U_SUCCESS(status) && length == 1 && !substituted;
    tables.to_unicode[c] = mapped ? unit[0] : static_cast<char16_t>(c);
  }
  ucnv_close(converter);
  for (int c = 0; c < 256; ++c)
    (*tables.from_unicode)[tables.to_unicode[c]] = static_cast<uint8_t>(c);
  return tables;
}

const Cp1251Tables& Tables() {
  static const Cp1251Tables tables = BuildTables();
  return tables;
}

char EncodeOrReplace(const Cp1251Tables& tables, UChar32 code_point) {
  if (code_point < 0 || code_point > 0xFFFF) return kCp1251Replacement;
  uint8_t byte = (*tables.from_unicode)[code_point];
  if (byte == 0 && code_point != 0) return kCp1251Replacement;
  return static_cast<char>(byte);
}

}  // namespace

char16_t Cp1251CharToUtf16(unsigned char c) {
  return Tables().to_unicode[c];
}

bool UnicodeToCp1251Char(char32_t code_point, char* out) {
  const Cp1251Tables& tables = Tables();
  if (code_point > 0xFFFF) return false;
  uint8_t byte = (*tables.from_unicode)[code_point];
  if (byte == 0 && code_point != 0) return false;
  *out = static_cast<char>(byte);
  return true;
}

std::u16string Cp1251ToUtf16(std::string_view text) {
  const Cp1251Tables& tables = Tables();
  std::u16string result(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    result[i] = tables.to_unicode[static_cast<unsigned char>(text[i])];
  return result;
}

std::string Utf16ToCp1251(std::u16string_view text) {
  const Cp1251Tables& tables = Tables();
  std::string result;
  result.reserve(text.size());
  const UChar* units = text.data();
  size_t length = text.size();
  for (size_t i = 0; i < length;) {
    UChar32 code_point;
    U16_NEXT(units, i, length, code_point);
    // An unpaired surrogate comes back as itself; the table has no entry for it.
    result.push_back(EncodeOrReplace(tables, U16_IS_SURROGATE(code_point) ? -1 : code_point));
  }
  return result;
}

std::string Cp1251ToUtf8(std::string_view text) {
  const Cp1251Tables& tables = Tables();
  std::string result;
  result.reserve(text.size() * 2);
  for (char c : text) {
    // The code page holds no surrogates, so every unit is a whole code point.
    uint8_t bytes[U8_MAX_LENGTH];
    int32_t n = 0;
    U8_APPEND_UNSAFE(bytes, n, tables.to_unicode[static_cast<unsigned char>(c)]);
    result.append(reinterpret_cast<const char*>(bytes), n);
  }
  return result;
}

std::string Utf8ToCp1251(std::string_view text) {
  const Cp1251Tables& tables = Tables();
  std::string result;
  result.reserve(text.size());
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
  // ICU's decoder indexes with int32_t: longer texts are walked in slices that never end inside
  // a sequence.
  size_t offset = 0;
  while (offset < text.size()) {
    size_t slice = std::min<size_t>(text.size() - offset, 0x40000000);
    for (int back = 0;
         back < 3 && offset + slice < text.size() && U8_IS_TRAIL(bytes[offset + slice]); ++back)
      --slice;
    int32_t length = static_cast<int32_t>(slice);
    int32_t i = 0;
    while (i < length) {
      UChar32 code_point;
      U8_NEXT(bytes + offset, i, length, code_point);
      result.push_back(EncodeOrReplace(tables, code_point));
    }
    offset += slice;
  }
  return result;
}

}  // namespace orv
