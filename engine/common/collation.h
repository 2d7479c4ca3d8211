#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orv {

// Ordering of 8-bit engine text (code page 1251) by the user locale's collation, and the LIKE
// matchers. Built once by InitCollation() at engine start-up; read-only afterwards. A comparison
// made before anyone called InitCollation() builds the tables itself, once.
//
// Null pointers are allowed: null equals null and equals the empty string, and sorts before
// any non-empty string.
int CollateCompare(const char* a, const char* b);
int CollateCompareN(const char* a, const char* b, size_t n);
int CollateCompareI(const char* a, const char* b);
int CollateCompareNI(const char* a, const char* b, size_t n);

// '%' matches any run of characters, '_' any one character; there is no escape character.
// A pattern ending in two or more '%' needs at least one character where they stand: "a%%"
// does not match "a", and "%%" does not match the empty value. A null value or pattern is the
// empty string.
bool LikeMatch(const char* value, const char* pattern, bool ignore_case);
// Same on UTF-16 code units; characters compare by the system locale's wide comparison.
bool LikeMatchWide(const char16_t* value, const char16_t* pattern, bool ignore_case);

// Builds the tables for the user locale (LC_ALL, LC_COLLATE or LANG). Called by the engine's
// start-up; calling it again re-reads the locale and switches to its tables, built the first
// time each locale is seen (tests switch locales this way). Also reloads the platform's locale
// services (platform/locale.h ReloadLocale).
void InitCollation();

// The tables in force. rank maps a byte to its collation rank (0 sorts first) and unrank back;
// upperRank and lowerRank map a rank to the rank of its upper- and lower-case form. With
// fastCollation false (rank is not a permutation) the tables are unused and the comparisons go
// to the platform's locale comparison.
struct CollationTables {
  std::array<uint8_t, 256> rank{};
  std::array<uint8_t, 256> unrank{};
  std::array<uint8_t, 256> upperRank{};
  std::array<uint8_t, 256> lowerRank{};
  bool fastCollation = false;
  uint32_t localeId = 0;
};
const CollationTables& CurrentCollation();

// Rebuilds the tables from the given ranks with the current locale's case maps; lets tests
// reach the slow path, which no real locale takes.
void InitCollationWithRanks(const std::array<uint8_t, 256>& rank);

}  // namespace orv
