#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// The user locale is named by LC_ALL, LC_COLLATE or LANG, the first one set and not empty; the
// system locale by LANG alone. "C", "POSIX" or no name at all means byte (code point) order.
// Both are read on first use and again by ReloadLocale(), never behind the caller's back.
enum class LocaleScope { kUser, kSystem };

inline constexpr uint32_t kInvariantLocaleId = 0x007F;  // byte order
inline constexpr uint32_t kRussianLocaleId = 0x0419;
inline constexpr uint32_t kTurkishLocaleId = 0x041F;

// A POSIX locale name as ICU knows it: "ru_RU.UTF-8" and "ru_RU.CP1251" give "ru_RU". Empty for
// byte order and for names that cannot be a locale.
std::string LocaleFromPosixName(std::string_view posix_name);

// Re-reads the locale variables and rebuilds every locale service. For start-up and for tests.
void ReloadLocale();

std::string LocaleName(LocaleScope scope = LocaleScope::kUser);  // ICU id, "" for byte order
// The Windows-style identifier of the locale (ru_RU 0x0419), kInvariantLocaleId for byte order,
// 0 for a locale that has none.
uint32_t LocaleId(LocaleScope scope = LocaleScope::kUser);
// The user locale's decimal separator from its number symbols ("," under ru_RU); '.' when the
// locale's separator is not a single code page 1251 character. The runtime's current separator
// (platform/value_text.h) starts from it at start-up.
char LocaleDecimalSeparator();

// 8-bit text (code page 1251) under the user locale.
//
// Orders two one-character strings: the locale's collation at identical strength, remaining
// ties broken by byte value, so distinct bytes never compare equal. NUL sorts first.
int CompareAnsiChar(unsigned char a, unsigned char b);
// Single-character case mapping; a character whose case form the code page lacks maps to
// itself. The byte-order locale maps case like the root locale, so Cyrillic still folds.
char AnsiUpperChar(char c);
char AnsiLowerChar(char c);
std::string AnsiUpperCase(std::string_view text);  // character by character, same length
std::string AnsiLowerCase(std::string_view text);
// Whole strings by the locale's collation (case-insensitive: case ignored, accents not);
// negative, zero or positive.
int CompareAnsi(std::string_view a, std::string_view b, bool ignore_case);

// UTF-16 text: the locale's collation with punctuation and symbols significant (string sort);
// ignoring case keeps accents significant. Byte-order locales compare code points, folding case
// when asked. Throws orv::Exception for texts longer than 2^31 - 1 units.
int CompareWide(std::u16string_view a, std::u16string_view b, bool ignore_case,
                LocaleScope scope = LocaleScope::kUser);
std::u16string WideUpperCase(std::u16string_view text);  // may change the length
std::u16string WideLowerCase(std::u16string_view text);

}  // namespace orv
