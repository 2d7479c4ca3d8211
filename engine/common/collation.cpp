#include "engine/common/collation.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locale.h"

namespace orv {
namespace {

// Ranks of the Turkish ANSI code page: ICU's one-character Turkish ordering has ties (dotted
// and dotless i), so the order is fixed instead.
constexpr std::array<uint8_t, 256> kTurkishRank = {
    0,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  14,  15,  16,  17,  18,  19,
    20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,  1,   33,  34,  35,  36,  37,
    38,  39,  40,  41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51,  52,  53,  54,  55,  56,
    57,  58,  59,  60,  61,  62,  63,  64,  72,  82,  84,  88,  94,  100, 102, 106, 112, 120, 122,
    124, 126, 129, 136, 144, 146, 148, 150, 155, 160, 167, 169, 171, 174, 176, 177, 178, 179, 180,
    181, 182, 65,  81,  83,  87,  89,  99,  101, 105, 117, 119, 121, 123, 125, 127, 131, 143, 145,
    147, 149, 154, 156, 166, 168, 170, 172, 175, 183, 184, 185, 186, 187, 248, 249, 188, 189, 190,
    191, 192, 193, 194, 195, 196, 197, 198, 250, 251, 252, 253, 199, 200, 201, 202, 203, 204, 205,
    206, 207, 208, 209, 210, 254, 255, 211, 212, 213, 214, 215, 216, 217, 218, 219, 220, 221, 222,
    223, 224, 225, 226, 227, 228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 238, 239, 240, 241,
    242, 243, 74,  76,  75,  77,  80,  73,  78,  86,  98,  95,  96,  97,  116, 113, 114, 115, 104,
    130, 139, 137, 138, 140, 142, 244, 245, 163, 161, 162, 165, 118, 153, 151, 67,  69,  68,  70,
    79,  66,  71,  85,  93,  90,  91,  92,  111, 110, 109, 108, 103, 128, 133, 132, 134, 135, 141,
    246, 247, 158, 159, 157, 164, 107, 152, 173,
};

uint8_t TurkishUpper(uint8_t c) {
  if (c == 0x69) return 0xDD;
  if (c >= 0x61 && c <= 0x7A) return c - 0x20;
  if ((c >= 0xE0 && c <= 0xF6) || (c >= 0xF9 && c <= 0xFC)) return c - 0x20;
  if (c == 0xFD) return 0x49;
  if (c == 0xFE) return 0xDE;
  return c;
}

uint8_t TurkishLower(uint8_t c) {
  if (c == 0x49) return 0xFD;
  if (c >= 0x41 && c <= 0x5A) return c + 0x20;
  if ((c >= 0xC0 && c <= 0xD6) || (c >= 0xD9 && c <= 0xDC)) return c + 0x20;
  if (c == 0xDD) return 0x69;
  if (c == 0xDE) return 0xFE;
  return c;
}

std::unique_ptr<CollationTables> BuildFromRanks(const std::array<uint8_t, 256>& rank,
                                                uint32_t locale_id) {
  auto t = std::make_unique<CollationTables>();
  t->localeId = locale_id;
  t->rank = rank;
  std::array<bool, 256> taken{};
  for (int c = 0; c < 256; ++c) {
    t->unrank[rank[c]] = static_cast<uint8_t>(c);
    taken[rank[c]] = true;
  }
  t->fastCollation = true;
  for (bool used : taken) t->fastCollation = t->fastCollation && used;
  for (int r = 0; r < 256; ++r) t->upperRank[r] = t->lowerRank[r] = static_cast<uint8_t>(r);
  if (!t->fastCollation) return t;
  bool turkish = locale_id == kTurkishLocaleId;
  for (int c = 0; c < 256; ++c) {
    uint8_t byte = static_cast<uint8_t>(c);
    uint8_t upper = turkish ? TurkishUpper(byte) : static_cast<uint8_t>(AnsiUpperChar(byte));
    uint8_t lower = turkish ? TurkishLower(byte) : static_cast<uint8_t>(AnsiLowerChar(byte));
    t->upperRank[rank[c]] = rank[upper];
    t->lowerRank[rank[c]] = rank[lower];
  }
  return t;
}

std::unique_ptr<CollationTables> BuildForLocale() {
  uint32_t locale_id = LocaleId();
  if (locale_id == kTurkishLocaleId) return BuildFromRanks(kTurkishRank, locale_id);
  std::array<uint8_t, 256> rank{};
  for (int c = 0; c < 256; ++c) {
    int before = 0;
    for (int x = 0; x < 256; ++x)
      if (CompareAnsiChar(static_cast<uint8_t>(x), static_cast<uint8_t>(c)) < 0) ++before;
    // A byte tied with others shares their rank, which leaves a rank unused below 256.
    rank[c] = static_cast<uint8_t>(before);
  }
  return BuildFromRanks(rank, locale_id);
}

// Tables are never freed, for the same reason as the platform's locale data: a comparison may
// still be running under the old tables while a test installs new ones. Tables built for a
// locale are kept by its name and reused when the process comes back to it.
struct Built {
  std::string locale;  // empty for tables made from given ranks
  std::unique_ptr<CollationTables> tables;
};
std::mutex g_mutex;
std::vector<Built> g_built;
std::atomic<const CollationTables*> g_current{nullptr};

void PublishForLocaleLocked() {
  std::string locale = LocaleName();
  // "" is the byte-order locale's name, so locale tables carry a prefix to tell them apart.
  std::string key = "locale:" + locale;
  for (const Built& built : g_built)
    if (built.locale == key) {
      g_current.store(built.tables.get(), std::memory_order_release);
      return;
    }
  g_built.push_back({key, BuildForLocale()});
  g_current.store(g_built.back().tables.get(), std::memory_order_release);
}

const CollationTables& Tables() {
  const CollationTables* t = g_current.load(std::memory_order_acquire);
  if (t != nullptr) return *t;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_current.load(std::memory_order_acquire) == nullptr) PublishForLocaleLocked();
  return *g_current.load(std::memory_order_acquire);
}

constexpr size_t kNoLimit = static_cast<size_t>(-1);

// Null and empty are equal; either sorts before a non-empty string. Returns true when it
// decided the result.
bool CompareNulls(const char* a, const char* b, int* result) {
  if (a != nullptr && b != nullptr) return false;
  const char* other = a != nullptr ? a : b;
  if (other == nullptr || *other == '\0')
    *result = 0;
  else
    *result = a == nullptr ? -1 : 1;
  return true;
}

int CompareRanks(const CollationTables& t, const uint8_t* a, const uint8_t* b, size_t n,
                 bool ignore_case) {
  for (size_t i = 0; i < n; ++i) {
    int ra = t.rank[a[i]], rb = t.rank[b[i]];
    if (ra != rb) {
      if (!ignore_case) return ra - rb;
      int ua = t.upperRank[ra], ub = t.upperRank[rb];
      if (ua != ub) return ua - ub;
    }
    // Only one terminator may have been reached when case folding made the two equal.
    if (a[i] == 0 || b[i] == 0) return a[i] == b[i] ? 0 : ra - rb;
  }
  return 0;
}

size_t LimitedLength(const char* s, size_t n) {
  return n == kNoLimit ? std::strlen(s) : strnlen(s, n);
}

int Compare(const char* a, const char* b, size_t n, bool ignore_case) {
  if (n == 0) return 0;
  int result;
  if (CompareNulls(a, b, &result)) return result;
  const CollationTables& t = Tables();
  if (t.fastCollation)
    return CompareRanks(t, reinterpret_cast<const uint8_t*>(a), reinterpret_cast<const uint8_t*>(b),
                        n, ignore_case);
  return CompareAnsi(std::string_view(a, LimitedLength(a, n)),
                     std::string_view(b, LimitedLength(b, n)), ignore_case);
}

// A '%' run at the end of the pattern is tried only against a non-empty rest of the value,
// except when it is a single '%', which also matches nothing. Dropping the value's last
// character and the run's extra '%' turns that into plain wildcard matching, which runs in
// O(value x pattern) with no recursion; an exponential backtracking matcher would hang on
// patterns like %a%a%a%a%b.
template <typename CharT, typename Equal>
bool Match(const CharT* value, size_t vn, const CharT* pattern, size_t pn, Equal equal) {
  size_t trailing = 0;
  while (trailing < pn && pattern[pn - 1 - trailing] == CharT('%')) ++trailing;
  if (trailing >= 2) {
    if (vn == 0) return false;
    --vn;
    pn -= trailing - 1;
  }
  size_t i = 0, j = 0;
  size_t star = kNoLimit, resume = 0;
  while (i < vn) {
    if (j < pn && pattern[j] == CharT('%')) {
      star = j++;
      resume = i;
    } else if (j < pn && (pattern[j] == CharT('_') || equal(value[i], pattern[j]))) {
      ++i;
      ++j;
    } else if (star != kNoLimit) {
      j = star + 1;
      i = ++resume;
    } else {
      return false;
    }
  }
  while (j < pn && pattern[j] == CharT('%')) ++j;
  return j == pn;
}

template <typename CharT>
size_t Length(const CharT* s) {
  size_t n = 0;
  if (s != nullptr)
    while (s[n] != 0) ++n;
  return n;
}

}  // namespace

int CollateCompare(const char* a, const char* b) {
  return Compare(a, b, kNoLimit, false);
}

int CollateCompareN(const char* a, const char* b, size_t n) {
  return Compare(a, b, n, false);
}

int CollateCompareI(const char* a, const char* b) {
  return Compare(a, b, kNoLimit, true);
}

int CollateCompareNI(const char* a, const char* b, size_t n) {
  return Compare(a, b, n, true);
}

bool LikeMatch(const char* value, const char* pattern, bool ignore_case) {
  const CollationTables& t = Tables();
  auto equal = [&t, ignore_case](char x, char y) {
    if (x == y) return true;
    if (t.fastCollation)
      return ignore_case && t.upperRank[t.rank[static_cast<uint8_t>(x)]] ==
                                t.upperRank[t.rank[static_cast<uint8_t>(y)]];
    return CompareAnsi(std::string_view(&x, 1), std::string_view(&y, 1), ignore_case) == 0;
  };
  return Match(value, Length(value), pattern, Length(pattern), equal);
}

bool LikeMatchWide(const char16_t* value, const char16_t* pattern, bool ignore_case) {
  auto equal = [ignore_case](char16_t x, char16_t y) {
    return x == y || CompareWide(std::u16string_view(&x, 1), std::u16string_view(&y, 1),
                                 ignore_case, LocaleScope::kSystem) == 0;
  };
  return Match(value, Length(value), pattern, Length(pattern), equal);
}

void InitCollation() {
  ReloadLocale();
  std::lock_guard<std::mutex> lock(g_mutex);
  PublishForLocaleLocked();
}

const CollationTables& CurrentCollation() {
  return Tables();
}

void InitCollationWithRanks(const std::array<uint8_t, 256>& rank) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_built.push_back({std::string(), BuildFromRanks(rank, LocaleId())});
  g_current.store(g_built.back().tables.get(), std::memory_order_release);
}

}  // namespace orv
