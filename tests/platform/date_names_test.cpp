#include "platform/date_names.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/locale.h"
#include "tests/support/scoped_env.h"

namespace orv {
namespace {

using DateNames = testing::LocaleFixture<&ReloadLocale>;

TEST_F(DateNames, RussianNamesAreCp1251WithBothMonthForms) {
  TDateNames names = LoadDateNames("ru_RU");
  EXPECT_EQ(names.LongMonthNames[2], Utf8ToCp1251("март"));
  EXPECT_EQ(names.GenitiveMonthNames[2], Utf8ToCp1251("марта"));
  EXPECT_EQ(names.GenitiveMonthNames[4], Utf8ToCp1251("мая"));
  EXPECT_EQ(names.ShortMonthNames[1], Utf8ToCp1251("фев"));  // ICU's "февр." cut to fit
  EXPECT_EQ(names.ShortMonthNames[8], Utf8ToCp1251("сен"));
  EXPECT_EQ(names.LongDayNames[0], Utf8ToCp1251("воскресенье"));
  EXPECT_EQ(names.ShortDayNames[1], Utf8ToCp1251("пн"));
  EXPECT_FALSE(names.TimeAMString.empty());
  EXPECT_FALSE(names.TimePMString.empty());
}

TEST_F(DateNames, AbbreviationsFitTheirWidthsInEveryLocale) {
  for (const char* locale : {"ru_RU", "en_US", "de_DE", "en_GB", "sv_SE", "uk_UA", "xx_YY"}) {
    TDateNames names = LoadDateNames(locale);
    for (int m = 0; m < 12; ++m) {
      EXPECT_FALSE(names.LongMonthNames[m].empty()) << locale;
      EXPECT_LE(names.ShortMonthNames[m].size(), 3u) << locale;
      EXPECT_EQ(names.ShortMonthNames[m].find('.'), std::string::npos) << locale;
    }
    for (int d = 0; d < 7; ++d) {
      EXPECT_FALSE(names.LongDayNames[d].empty()) << locale;
      EXPECT_LE(names.ShortDayNames[d].size(), 2u) << locale;
    }
  }
  EXPECT_EQ(LoadDateNames("en_US").LongDayNames[1], "Monday");
}

TEST_F(DateNames, UserNamesFollowTheLocaleInForce) {
  Use("ru_RU.UTF-8");
  EXPECT_EQ(UserDateNames()->LongMonthNames[0], Utf8ToCp1251("январь"));
  Use("en_US.UTF-8");
  EXPECT_EQ(UserDateNames()->LongMonthNames[0], "January");
  Use("C");
  EXPECT_EQ(UserDateNames()->LongMonthNames[0], "January");
}

}  // namespace
}  // namespace orv
