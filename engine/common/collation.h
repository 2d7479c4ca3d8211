#pragma once

#include <cstddef>

namespace orv {

// Ordering of 8-bit engine text (code page 1251) by the user locale's collation, and the LIKE
// matchers. Built once by InitCollation() at engine start-up; read-only afterwards.
//
// Null pointers are allowed: null equals null and equals the empty string, and sorts before
// any non-empty string.
int CollateCompare(const char* a, const char* b);
int CollateCompareN(const char* a, const char* b, size_t n);
int CollateCompareI(const char* a, const char* b);
int CollateCompareNI(const char* a, const char* b, size_t n);

// '%' matches any run of characters, '_' any one character; there is no escape character.
bool LikeMatch(const char* value, const char* pattern, bool ignore_case);
bool LikeMatchWide(const char16_t* value, const char16_t* pattern, bool ignore_case);

// Builds the tables for the user locale (LC_ALL, LC_COLLATE or LANG). Called by the engine's
// start-up; calling it again rebuilds them (tests switch locales this way).
void InitCollation();

}  // namespace orv
