#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace orv {
namespace {

TEST(Codepage, EveryByteSurvivesBothRoundTrips) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  std::u16string wide = Cp1251ToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(Utf16ToCp1251(wide), all);
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
  for (int c = 0; c < 256; ++c) {
    char back = 0;
    ASSERT_TRUE(UnicodeToCp1251Char(wide[c], &back)) << c;
    EXPECT_EQ(static_cast<unsigned char>(back), c);
  }
}

TEST(Codepage, KnownCharacters) {
  struct Case {
    unsigned char byte;
    char16_t unit;
  };
  const Case cases[] = {
      {0x00, 0x0000}, {0x41, u'A'}, {0x7F, 0x007F}, {0xC0, u'А'},   {0xDF, u'Я'},
      {0xE0, u'а'},   {0xFF, u'я'}, {0xA8, u'Ё'},   {0xB8, u'ё'},   {0x80, u'Ђ'},
      {0x88, u'€'},   {0xB9, u'№'}, {0xA1, u'Ў'},   {0xB3, u'і'},   {0xA5, u'Ґ'},
      {0x96, u'–'},   {0xAB, u'«'}, {0xA0, 0x00A0}, {0x98, 0x0098},
  };
  for (const Case& c : cases) EXPECT_EQ(Cp1251CharToUtf16(c.byte), c.unit) << int(c.byte);
}

TEST(Codepage, Utf8TextConvertsBothWays) {
  const std::string utf8 = "Каталог моделей: Ёлка №5, «Волга» – 1:43 €";
  const std::string cp1251 =
      "\xCA\xE0\xF2\xE0\xEB\xEE\xE3 \xEC\xEE\xE4\xE5\xEB\xE5\xE9: \xA8\xEB\xEA\xE0 \xB9"
      "5, \xAB\xC2\xEE\xEB\xE3\xE0\xBB \x96 1:43 \x88";
  EXPECT_EQ(Utf8ToCp1251(utf8), cp1251);
  EXPECT_EQ(Cp1251ToUtf8(cp1251), utf8);
  EXPECT_EQ(Cp1251ToUtf16(cp1251), u"Каталог моделей: Ёлка №5, «Волга» – 1:43 €");
}

TEST(Codepage, WhatTheCodePageCannotHoldBecomesAQuestionMark) {
  struct Case {
    std::u16string wide;
    std::string expected;
  };
  const Case cases[] = {
      {u"café", "caf?"},
      {u"日本", "??"},
      {u"a\U0001F600b", "a?b"},                         // one mark for a surrogate pair
      {std::u16string(u"x") + char16_t(0xD800), "x?"},  // unpaired lead at the end
      {std::u16string(1, char16_t(0xDC00)) + u"y", "?y"},
      {u"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf16ToCp1251(c.wide), c.expected);

  char out = 'x';
  EXPECT_FALSE(UnicodeToCp1251Char(U'é', &out));
  EXPECT_FALSE(UnicodeToCp1251Char(0x1F600, &out));
  EXPECT_EQ(out, 'x');
}

TEST(Codepage, IllFormedUtf8BecomesQuestionMarks) {
  struct Case {
    std::string utf8;
    std::string expected;
  };
  const Case cases[] = {
      {"ok\xFF", "ok?"},
      {"\xD0", "?"},  // truncated at the end
      {"\xD0"
       "A",
       "?A"},                     // lead byte without its trail
      {"\xE2\x82", "?"},          // truncated three-byte sequence: one maximal subpart
      {"\xC0\xAF", "??"},         // overlong form
      {"\xED\xA0\x80", "???"},    // encoded surrogate
      {"\xF0\x9F\x98\x80", "?"},  // valid, but outside the code page
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToCp1251(c.utf8), c.expected) << c.utf8;
}

}  // namespace
}  // namespace orv
