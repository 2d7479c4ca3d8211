#pragma once

#include <array>
#include <memory>
#include <string>

namespace orv {

// The user locale's month and day names and its morning/afternoon words, for date formats that
// spell them. All text is code page 1251; a character the code page lacks becomes '?'.
struct TDateNames {
  std::string LocaleName;  // the ICU locale the names were taken from
  // Index 0 = January. Long names are nominative (stand-alone); the genitive forms are the ones
  // a date like "5 марта" uses and are accepted when parsing.
  std::array<std::string, 12> LongMonthNames;
  std::array<std::string, 12> GenitiveMonthNames;
  // At most 3 characters, without the abbreviation dot, so they fit the width the SQL engine
  // reserves for them.
  std::array<std::string, 12> ShortMonthNames;
  // Index 0 = Sunday, matching DayOfWeek() - 1. Short names have at most 2 characters.
  std::array<std::string, 7> LongDayNames;
  std::array<std::string, 7> ShortDayNames;
  std::string TimeAMString;
  std::string TimePMString;
};

// The names of an ICU locale id such as "ru_RU" or "en_US"; an unknown id gives ICU's fallback.
TDateNames LoadDateNames(const std::string& icu_locale);

// The names of the user locale (platform/locale.h LocaleName(); byte order gives en_US_POSIX).
// Cached, and reloaded when the locale in force changes.
std::shared_ptr<const TDateNames> UserDateNames();

}  // namespace orv
