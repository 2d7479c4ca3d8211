#include "platform/locale.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "tests/support/scoped_env.h"

namespace orv {
namespace {

using LocaleTest = orv::testing::LocaleFixture<ReloadLocale>;

std::string Cp(const std::string& utf8) {
  return Utf8ToCp1251(utf8);
}

TEST(LocaleName, PosixNamesBecomeIcuIds) {
  struct Case {
    const char* posix;
    const char* icu;
  };
  const Case cases[] = {
      {"ru_RU.UTF-8", "ru_RU"},
      {"ru_RU.CP1251", "ru_RU"},
      {"de_DE@euro", "de_DE"},
      {"tr_TR", "tr_TR"},
      {"en", "en"},
      {"C", ""},
      {"POSIX", ""},
      {"C.UTF-8", ""},
      {"", ""},
      {"../../etc/passwd", ""},
      {"ru RU", ""},
      {"1ru", ""},
      {".UTF-8", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LocaleFromPosixName(c.posix), c.icu) << c.posix;
}

TEST_F(LocaleTest, UserLocaleTakesLcAllThenLcCollateThenLang) {
  Use(nullptr, "tr_TR.UTF-8", "ru_RU.UTF-8");
  EXPECT_EQ(LocaleName(), "tr_TR");
  EXPECT_EQ(LocaleName(LocaleScope::kSystem), "ru_RU");

  Use("", "", "ru_RU.UTF-8");  // empty variables count as unset
  EXPECT_EQ(LocaleName(), "ru_RU");

  Use("en_US.UTF-8", "tr_TR.UTF-8", "ru_RU.UTF-8");
  EXPECT_EQ(LocaleName(), "en_US");
  EXPECT_EQ(LocaleName(LocaleScope::kSystem), "ru_RU");

  Use(nullptr, nullptr, nullptr);
  EXPECT_EQ(LocaleName(), "");
  EXPECT_EQ(LocaleId(), kInvariantLocaleId);
}

TEST_F(LocaleTest, IdentifierAndDecimalSeparatorFollowTheLocale) {
  struct Case {
    const char* lc_all;
    uint32_t id;
    char separator;
  };
  const Case cases[] = {
      {"ru_RU.UTF-8", kRussianLocaleId, ','}, {"tr_TR.UTF-8", kTurkishLocaleId, ','},
      {"de_DE.UTF-8", 0x0407, ','},           {"en_US.UTF-8", 0x0409, '.'},
      {"C", kInvariantLocaleId, '.'},
  };
  for (const Case& c : cases) {
    Use(c.lc_all);
    EXPECT_EQ(LocaleId(), c.id) << c.lc_all;
    EXPECT_EQ(LocaleDecimalSeparator(), c.separator) << c.lc_all;
  }
}

TEST_F(LocaleTest, AnsiCaseMappingCoversCyrillic) {
  struct Case {
    const char* lower;
    const char* upper;
  };
  const Case pairs[] = {{"а", "А"}, {"я", "Я"}, {"ё", "Ё"}, {"ў", "Ў"}, {"і", "І"},
                        {"ї", "Ї"}, {"ґ", "Ґ"}, {"ѓ", "Ѓ"}, {"ђ", "Ђ"}, {"z", "Z"}};
  // The byte-order locale still folds Cyrillic: names in the engine compare without case
  // whatever locale the process runs in.
  for (const char* locale : {"ru_RU.UTF-8", "C"}) {
    Use(locale);
    for (const Case& c : pairs) {
      EXPECT_EQ(AnsiUpperChar(Cp(c.lower)[0]), Cp(c.upper)[0]) << locale << " " << c.lower;
      EXPECT_EQ(AnsiLowerChar(Cp(c.upper)[0]), Cp(c.lower)[0]) << locale << " " << c.upper;
    }
    // No upper case in the code page (Greek capital mu), or none at all: unchanged.
    for (const char* same : {"µ", "1", "№", "€", "-"}) {
      EXPECT_EQ(AnsiUpperChar(Cp(same)[0]), Cp(same)[0]) << same;
      EXPECT_EQ(AnsiLowerChar(Cp(same)[0]), Cp(same)[0]) << same;
    }
    EXPECT_EQ(AnsiUpperCase(Cp("Ёлка, world №5")), Cp("ЁЛКА, WORLD №5"));
    EXPECT_EQ(AnsiLowerCase(Cp("ЁЛКА, WORLD №5")), Cp("ёлка, world №5"));
  }
  // Turkish upper-cases i to a dotted capital the code page does not have.
  Use("tr_TR.UTF-8");
  EXPECT_EQ(AnsiUpperChar('i'), 'i');
  EXPECT_EQ(AnsiLowerChar('I'), 'I');
  EXPECT_EQ(AnsiUpperChar('a'), 'A');
}

TEST_F(LocaleTest, OneCharacterOrderIsTotalAndPutsNulFirst) {
  for (const char* locale : {"ru_RU.UTF-8", "en_US.UTF-8", "C"}) {
    Use(locale);
    for (int a = 0; a < 256; ++a)
      for (int b = 0; b < 256; ++b) {
        int ab = CompareAnsiChar(a, b), ba = CompareAnsiChar(b, a);
        if (a == b) {
          ASSERT_EQ(ab, 0);
        } else {
          ASSERT_NE(ab, 0) << locale << " " << a << " " << b;
          ASSERT_EQ(ab, -ba) << locale << " " << a << " " << b;
        }
        if (a == 0 && b != 0) {
          ASSERT_LT(ab, 0) << locale << " " << b;
        }
      }
  }
  Use("ru_RU.UTF-8");
  auto byte = [](const char* utf8) { return static_cast<unsigned char>(Cp(utf8)[0]); };
  EXPECT_LT(CompareAnsiChar(byte("е"), byte("ё")), 0);
  EXPECT_LT(CompareAnsiChar(byte("ё"), byte("ж")), 0);
  EXPECT_LT(CompareAnsiChar(byte("а"), byte("А")), 0);  // lower case first, as ICU orders
  Use("C");
  EXPECT_LT(CompareAnsiChar('B', 'a'), 0);
  EXPECT_LT(CompareAnsiChar('z', 0xC0), 0);
}

TEST_F(LocaleTest, AnsiStringComparison) {
  Use("ru_RU.UTF-8");
  // Ё is Е with a diaeresis: it differs from Е only where nothing else does.
  EXPECT_LT(CompareAnsi(Cp("ёлка"), Cp("ель"), false), 0);
  EXPECT_LT(CompareAnsi(Cp("елка"), Cp("ёлка"), false), 0);
  EXPECT_LT(CompareAnsi(Cp("ёлка"), Cp("жук"), false), 0);
  EXPECT_EQ(CompareAnsi(Cp("ЁЛКА"), Cp("ёлка"), true), 0);
  EXPECT_NE(CompareAnsi(Cp("ЁЛКА"), Cp("ёлка"), false), 0);
  EXPECT_NE(CompareAnsi(Cp("елка"), Cp("ёлка"), true), 0);  // accents still count
  Use("C");
  EXPECT_LT(CompareAnsi("B", "a", false), 0);
  EXPECT_EQ(CompareAnsi(Cp("ЁЛКА z"), Cp("ёлка Z"), true), 0);
  EXPECT_LT(CompareAnsi("ab", "abc", true), 0);
  EXPECT_GT(CompareAnsi(Cp("я"), "z", false), 0);
}

TEST_F(LocaleTest, WideComparison) {
  Use("ru_RU.UTF-8", nullptr, "C");
  EXPECT_LT(CompareWide(u"ёлка", u"ель", false), 0);
  EXPECT_LT(CompareWide(u"елка", u"ёлка", false), 0);
  EXPECT_LT(CompareWide(u"ёлка", u"жук", false), 0);
  EXPECT_EQ(CompareWide(u"ЁЛКА", u"ёлка", true), 0);
  EXPECT_GT(CompareWide(u"ЁЛКА", u"ёлка", false), 0);
  EXPECT_NE(CompareWide(u"елка", u"ёлка", true), 0);
  EXPECT_EQ(CompareWide(u"", u"", false), 0);
  EXPECT_LT(CompareWide(u"", u"a", false), 0);
  // String sort: a hyphen is not ignored.
  EXPECT_NE(CompareWide(u"co-op", u"coop", true), 0);

  // The system locale is LANG's: byte order here, upper case before lower case.
  EXPECT_LT(CompareWide(u"a", u"B", false), 0);
  EXPECT_GT(CompareWide(u"a", u"B", false, LocaleScope::kSystem), 0);
  EXPECT_EQ(CompareWide(u"ЁЛКА", u"ёлка", true, LocaleScope::kSystem), 0);
  // Code point order, not UTF-16 unit order.
  EXPECT_GT(CompareWide(u"\U00010000", u"\uFFFF", false, LocaleScope::kSystem), 0);
}

TEST_F(LocaleTest, WideCaseMapping) {
  Use("ru_RU.UTF-8");
  EXPECT_EQ(WideUpperCase(u"ёлка straße"), u"ЁЛКА STRASSE");
  EXPECT_EQ(WideLowerCase(u"ЁЛКА ÄÖ"), u"ёлка äö");
  Use("tr_TR.UTF-8");
  EXPECT_EQ(WideUpperCase(u"i"), u"İ");
}

}  // namespace
}  // namespace orv
