#include "engine/common/collation.h"

#include <gtest/gtest.h>
#include <unicode/coll.h>

#include <memory>
#include <random>
#include <string>

#include "platform/codepage.h"
#include "platform/locale.h"
#include "tests/support/scoped_env.h"

namespace orv {
namespace {

using CollationTest = orv::testing::LocaleFixture<InitCollation>;

struct LikeCase {
  const char* value;
  const char* pattern;
  bool ignore_case;
  bool expected;
};

std::string Cp(const std::string& utf8) {
  return Utf8ToCp1251(utf8);
}

int Sign(int v) {
  return (v > 0) - (v < 0);
}

// The matcher as a literal recursive definition, for comparison with the real one.
template <typename CharT, typename Equal>
bool ReferenceLike(const CharT* v, const CharT* p, Equal equal) {
  if (p[0] == '%' && p[1] == 0) return true;
  if (*v == 0) return *p == 0;
  if (*p == '%') {
    for (const CharT* start = v; *start != 0; ++start)
      if (ReferenceLike(start, p + 1, equal)) return true;
    return false;
  }
  if (*p != '_' && !equal(v, p)) return false;
  return ReferenceLike(v + 1, p + 1, equal);
}

bool ReferenceLike8(const std::string& v, const std::string& p, bool ignore_case) {
  return ReferenceLike(v.c_str(), p.c_str(), [ignore_case](const char* a, const char* b) {
    return (ignore_case ? CollateCompareNI(a, b, 1) : CollateCompareN(a, b, 1)) == 0;
  });
}

bool ReferenceLikeWide(const std::u16string& v, const std::u16string& p, bool ignore_case) {
  return ReferenceLike(v.c_str(), p.c_str(), [ignore_case](const char16_t* a, const char16_t* b) {
    return CompareWide(std::u16string_view(a, 1), std::u16string_view(b, 1), ignore_case,
                       LocaleScope::kSystem) == 0;
  });
}

TEST_F(CollationTest, LikePatterns) {
  const LikeCase cases[] = {
      {"abc", "a%", false, true},      {"abc", "%c", false, true},
      {"abc", "_b_", false, true},     {"", "%", false, true},
      {"", "a%", false, false},        {"ab", "a", false, false},
      {"a", "ab", false, false},       {"a", "a%%", false, false},
      {"ab", "a%%", false, true},      {"ab", "ab%", false, true},
      {"ab", "ab%%", false, false},    {"", "%%", false, false},
      {"x", "%%", false, true},        {"", "", false, true},
      {"a", "", false, false},         {"ABC", "a%", true, true},
      {"ABC", "a%", false, false},     {"abc", "%B%", true, true},
      {"abc", "a%b%c", false, true},   {"abc", "a%c%", false, true},
      {"abc", "a%c%%", false, false},  {"abcbc", "%bc", false, true},
      {"abcbd", "a%bc", false, false}, {"a_c", "a\\_c", false, false},
      {"100%", "100%", false, true},   {"ab", "%_", false, true},
      {"", "_", false, false},         {"aXbXc", "a%b%c", false, true},
      {"abc", "___", false, true},     {"abc", "____", false, false},
  };
  for (const char* locale : {"C", "ru_RU.UTF-8"}) {
    Use(locale);
    for (const LikeCase& c : cases) {
      EXPECT_EQ(LikeMatch(c.value, c.pattern, c.ignore_case), c.expected)
          << locale << " '" << c.value << "' like '" << c.pattern << "'";
      std::u16string value = Cp1251ToUtf16(c.value), pattern = Cp1251ToUtf16(c.pattern);
      EXPECT_EQ(LikeMatchWide(value.c_str(), pattern.c_str(), c.ignore_case), c.expected)
          << locale << " wide '" << c.value << "' like '" << c.pattern << "'";
    }
  }
  EXPECT_TRUE(LikeMatch(nullptr, "%", false));
  EXPECT_FALSE(LikeMatch(nullptr, "a", false));
  EXPECT_TRUE(LikeMatch(nullptr, nullptr, false));
  EXPECT_TRUE(LikeMatchWide(nullptr, u"%", false));
}

TEST_F(CollationTest, LikeMatchesItsRecursiveDefinition) {
  const std::string alphabet = Cp("aAb%_яЯ");
  std::mt19937 random(20240517);
  auto make = [&](size_t max_length) {
    std::string s(random() % (max_length + 1), ' ');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  };
  for (const char* locale : {"C", "ru_RU.UTF-8"}) {
    Use(locale);
    for (int i = 0; i < 4000; ++i) {
      std::string value = make(7), pattern = make(6);
      bool ignore_case = i % 2 == 1;
      ASSERT_EQ(LikeMatch(value.c_str(), pattern.c_str(), ignore_case),
                ReferenceLike8(value, pattern, ignore_case))
          << locale << " " << Cp1251ToUtf8(value) << " like " << Cp1251ToUtf8(pattern);
      std::u16string wide_value = Cp1251ToUtf16(value), wide_pattern = Cp1251ToUtf16(pattern);
      ASSERT_EQ(LikeMatchWide(wide_value.c_str(), wide_pattern.c_str(), ignore_case),
                ReferenceLikeWide(wide_value, wide_pattern, ignore_case))
          << locale << " wide " << Cp1251ToUtf8(value) << " like " << Cp1251ToUtf8(pattern);
    }
  }
}

// Backtracking over every '%' would take exponential time here.
TEST_F(CollationTest, LikeStaysPolynomialOnHostilePatterns) {
  Use("C");
  std::string value(3000, 'a');
  std::string pattern;
  for (int i = 0; i < 40; ++i) pattern += "%a";
  EXPECT_FALSE(LikeMatch(value.c_str(), (pattern + "%b").c_str(), false));
  EXPECT_TRUE(LikeMatch((value + "b").c_str(), (pattern + "%b").c_str(), false));
  std::u16string wide_value(3000, u'a'), wide_pattern = Cp1251ToUtf16(pattern) + u"%b";
  EXPECT_FALSE(LikeMatchWide(wide_value.c_str(), wide_pattern.c_str(), false));
}

TEST_F(CollationTest, CyrillicLikeFoldsCaseOnlyWhenAsked) {
  Use("ru_RU.UTF-8");
  const LikeCase cases[] = {
      {"ЁЛКА", "ёл%", true, true}, {"ЁЛКА", "ёл%", false, false}, {"ёлка", "е%", true, false},
      {"Жук", "_УК", true, true},  {"Жук", "_УК", false, false},  {"ўі", "ЎІ", true, true},
  };
  for (const LikeCase& c : cases) {
    EXPECT_EQ(LikeMatch(Cp(c.value).c_str(), Cp(c.pattern).c_str(), c.ignore_case), c.expected)
        << c.value << " like " << c.pattern;
    std::u16string value = Cp1251ToUtf16(Cp(c.value)), pattern = Cp1251ToUtf16(Cp(c.pattern));
    // The wide matcher follows the system locale, byte order here, which folds case by Unicode.
    EXPECT_EQ(LikeMatchWide(value.c_str(), pattern.c_str(), c.ignore_case), c.expected)
        << "wide " << c.value << " like " << c.pattern;
  }
}

TEST_F(CollationTest, ComparisonsOfPlainText) {
  struct Case {
    const char* a;
    const char* b;
    int sensitive;    // sign of CollateCompare
    int insensitive;  // sign of CollateCompareI
  };
  // Upper and lower case order differently by locale; only that they differ is fixed.
  constexpr int kCaseOrder = 2;
  const Case cases[] = {
      {"a", "ab", -1, -1},
      {"ab", "a", 1, 1},
      {"abc", "ABC", kCaseOrder, 0},
      {"abc", "abc", 0, 0},
      {"", "", 0, 0},
      {"", "a", -1, -1},
      {"b", "a", 1, 1},
      {"ABD", "abc", kCaseOrder, 1},
      {nullptr, nullptr, 0, 0},
      {nullptr, "", 0, 0},
      {"", nullptr, 0, 0},
      {nullptr, "a", -1, -1},
      {"a", nullptr, 1, 1},
  };
  for (const char* locale : {"C", "ru_RU.UTF-8", "tr_TR.UTF-8"}) {
    Use(locale);
    ASSERT_TRUE(CurrentCollation().fastCollation) << locale;
    for (const Case& c : cases) {
      std::string label =
          std::string(locale) + " " + (c.a ? c.a : "null") + " / " + (c.b ? c.b : "null");
      if (c.sensitive == kCaseOrder)
        EXPECT_NE(CollateCompare(c.a, c.b), 0) << label;
      else
        EXPECT_EQ(Sign(CollateCompare(c.a, c.b)), c.sensitive) << label;
      EXPECT_EQ(Sign(CollateCompareI(c.a, c.b)), c.insensitive) << label;
      EXPECT_EQ(Sign(CollateCompareN(c.a, c.b, 100)), Sign(CollateCompare(c.a, c.b))) << label;
      EXPECT_EQ(Sign(CollateCompareNI(c.a, c.b, 100)), c.insensitive) << label;
      EXPECT_EQ(CollateCompareN(c.a, c.b, 0), 0) << label;
      EXPECT_EQ(CollateCompareNI(c.a, c.b, 0), 0) << label;
    }
  }
}

TEST_F(CollationTest, LimitedComparisons) {
  Use("C");
  EXPECT_EQ(CollateCompareN("abc", "abd", 2), 0);
  EXPECT_LT(CollateCompareN("abc", "abd", 3), 0);
  EXPECT_LT(CollateCompareN("ab", "abc", 10), 0);  // the terminator counts within the limit
  EXPECT_EQ(CollateCompareN("ab", "abc", 2), 0);   // prefix search
  EXPECT_EQ(CollateCompareNI("ABc", "abD", 2), 0);
  EXPECT_NE(CollateCompareNI("ABc", "abD", 3), 0);
  EXPECT_EQ(CollateCompareN("zzz", "aaa", 0), 0);
  // Case folding may make the characters equal; the walk still stops at the terminator.
  EXPECT_LT(CollateCompareNI("A", "ab", 5), 0);
}

TEST_F(CollationTest, ByteOrderLocaleComparesUnsignedBytes) {
  Use("C");
  const CollationTables& t = CurrentCollation();
  EXPECT_EQ(t.localeId, kInvariantLocaleId);
  for (int c = 0; c < 256; ++c) ASSERT_EQ(t.rank[c], c);
  EXPECT_GT(CollateCompare("\xC0", "a"), 0);
  EXPECT_LT(CollateCompare("B", "a"), 0);
  EXPECT_EQ(CollateCompareI(Cp("ЁЛКА").c_str(), Cp("ёлка").c_str()), 0);
}

TEST_F(CollationTest, TurkishUsesTheFixedTable) {
  Use("tr_TR.UTF-8");
  const CollationTables& t = CurrentCollation();
  EXPECT_EQ(t.localeId, kTurkishLocaleId);
  EXPECT_TRUE(t.fastCollation);
  EXPECT_EQ(t.rank[0], 0);
  EXPECT_EQ(t.rank[' '], 1);
  EXPECT_EQ(t.rank[0x01], 2);
  EXPECT_EQ(t.rank['a'], 65);
  EXPECT_EQ(t.rank['A'], 72);
  EXPECT_LT(CollateCompare(" ", "\x01"), 0);
  EXPECT_LT(CollateCompare("a", "A"), 0);
  EXPECT_LT(CollateCompare("A", "b"), 0);
  // Dotless i (0xFD) pairs with I, dotted capital I (0xDD) with i.
  EXPECT_EQ(CollateCompareI("\xFD", "I"), 0);
  EXPECT_EQ(CollateCompareI("i", "\xDD"), 0);
  EXPECT_NE(CollateCompareI("i", "I"), 0);
  EXPECT_EQ(t.lowerRank[t.rank['I']], t.rank[0xFD]);
  EXPECT_EQ(t.upperRank[t.rank[0xFE]], t.rank[0xDE]);
  for (int r = 0; r < 256; ++r) ASSERT_EQ(t.rank[t.unrank[r]], r);
}

TEST_F(CollationTest, RussianOrderFollowsIcu) {
  Use("ru_RU.UTF-8");
  const CollationTables& t = CurrentCollation();
  EXPECT_EQ(t.localeId, kRussianLocaleId);
  ASSERT_TRUE(t.fastCollation);
  auto cmp = [](const char* a, const char* b) {
    return CollateCompare(Cp(a).c_str(), Cp(b).c_str());
  };
  EXPECT_LT(cmp("Е", "Ё"), 0);
  EXPECT_LT(cmp("Ё", "Ж"), 0);
  EXPECT_LT(cmp("е", "ё"), 0);
  EXPECT_LT(cmp("ё", "ж"), 0);
  EXPECT_LT(cmp("ёж", "жук"), 0);
  // Characters compare one by one: ё beats е at the first letter, whatever follows.
  EXPECT_GT(cmp("ёлка", "ель"), 0);

  // Every Cyrillic letter folds onto its capital.
  for (int c = 0xC0; c <= 0xDF; ++c) {
    char upper[2] = {static_cast<char>(c), 0}, lower[2] = {static_cast<char>(c + 0x20), 0};
    EXPECT_EQ(CollateCompareI(upper, lower), 0) << c;
    EXPECT_NE(CollateCompare(upper, lower), 0) << c;
  }
  EXPECT_EQ(CollateCompareI(Cp("Ёлка ПРИВЕТ").c_str(), Cp("ёЛКА привет").c_str()), 0);
  EXPECT_LT(CollateCompareI(Cp("ёлка").c_str(), Cp("ЖУК").c_str()), 0);

  // Single characters in the same order as ICU's Russian collation (Cyrillic before Latin).
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> icu(icu::Collator::createInstance(icu::Locale("ru_RU"), status));
  ASSERT_TRUE(U_SUCCESS(status));
  icu->setStrength(icu::Collator::IDENTICAL);
  const std::string sample = Cp("aAbBzZ09.-а А бБёЁеЕжЖяЯ№");
  for (char x : sample)
    for (char y : sample) {
      char a[2] = {x, 0}, b[2] = {y, 0};
      icu::UnicodeString ua(static_cast<UChar>(Cp1251CharToUtf16(x))),
          ub(static_cast<UChar>(Cp1251CharToUtf16(y)));
      EXPECT_EQ(Sign(CollateCompare(a, b)), Sign(icu->compare(ua, ub)))
          << Cp1251ToUtf8(a) << " / " << Cp1251ToUtf8(b);
    }
  EXPECT_LT(cmp("я", "a"), 0);

  // Building again from the same locale gives the same tables.
  std::array<uint8_t, 256> before = t.rank;
  InitCollation();
  EXPECT_EQ(CurrentCollation().rank, before);
}

// No real locale leaves ties, so the platform-comparison path is reached through made-up ranks.
TEST_F(CollationTest, TiedRanksFallBackToTheLocaleComparison) {
  Use("ru_RU.UTF-8");
  std::array<uint8_t, 256> tied{};
  InitCollationWithRanks(tied);
  ASSERT_FALSE(CurrentCollation().fastCollation);
  auto cp = [](const char* s) { return Cp(s); };
  // Whole strings by ICU now: ё and е differ only at the second level.
  EXPECT_LT(CollateCompare(cp("ёлка").c_str(), cp("ель").c_str()), 0);
  EXPECT_EQ(CollateCompareI(cp("ЁЛКА").c_str(), cp("ёлка").c_str()), 0);
  EXPECT_NE(CollateCompare(cp("ЁЛКА").c_str(), cp("ёлка").c_str()), 0);
  EXPECT_EQ(CollateCompareN(cp("ёлка").c_str(), cp("ёлкин").c_str(), 3), 0);
  EXPECT_NE(CollateCompareN(cp("ёлка").c_str(), cp("ёлкин").c_str(), 4), 0);
  EXPECT_EQ(CollateCompareNI(cp("ЁЛКА").c_str(), cp("ёлкин").c_str(), 3), 0);
  EXPECT_EQ(CollateCompareN("x", "y", 0), 0);
  EXPECT_LT(CollateCompare(nullptr, "a"), 0);
  EXPECT_TRUE(LikeMatch(cp("ЁЛКА").c_str(), cp("ёл%").c_str(), true));
  EXPECT_FALSE(LikeMatch(cp("ЁЛКА").c_str(), cp("ёл%").c_str(), false));
  EXPECT_FALSE(LikeMatch("a", "a%%", false));
}

}  // namespace
}  // namespace orv
