#pragma once

#include <string>
#include <string_view>

namespace orv {

// Conversions between the engine's 8-bit text (Windows code page 1251) and Unicode.
//
// Every byte decodes to exactly one UTF-16 unit, so decoding and encoding back gives the same
// bytes. The one byte the code page leaves undefined (0x98) decodes to U+0098, like the
// platform's own converter does, so it survives the round trip too.
//
// Characters the code page cannot hold, unpaired surrogates and ill-formed UTF-8 sequences are
// written as kCp1251Replacement: one per code point (a surrogate pair gives one '?') and one per
// maximal ill-formed UTF-8 subsequence.
inline constexpr char kCp1251Replacement = '?';

char16_t Cp1251CharToUtf16(unsigned char c);
// The code page's byte for a code point; false when the code page has none.
bool UnicodeToCp1251Char(char32_t code_point, char* out);

std::u16string Cp1251ToUtf16(std::string_view text);
std::string Utf16ToCp1251(std::u16string_view text);
std::string Cp1251ToUtf8(std::string_view text);
std::string Utf8ToCp1251(std::string_view text);

}  // namespace orv
