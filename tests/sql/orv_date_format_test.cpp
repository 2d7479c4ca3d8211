#include "engine/sql/orv_date_format.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/common/orv_exception.h"
#include "platform/codepage.h"
#include "platform/locale.h"
#include "platform/time_stamp.h"
#include "platform/value_text.h"
#include "tests/support/scoped_env.h"

namespace orv {
namespace {

TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  TDateTime date = 0, time = 0;
  if (y != 0) EXPECT_TRUE(TryEncodeDate(y, m, d, &date));
  EXPECT_TRUE(TryEncodeTime(h, n, s, 0, &time));
  return date < 0 ? date - time : date + time;
}

std::string Show(TDateTime value) {
  TTimeStamp stamp = DateTimeToTimeStamp(value);
  int y, m, d;
  DecodeDate(static_cast<double>(stamp.date - kDateDelta), &y, &m, &d);
  int t = stamp.time / 1000;
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", y, m, d, t / 3600, t / 60 % 60, t % 60);
}

std::string Compiled(std::string_view format) {
  std::string out;
  TDateFormater formater(format);
  for (const TDateFormatToken& token : formater.Tokens()) {
    if (!out.empty()) out += ' ';
    out += token.Kind == dfkLiteral ? "'" + token.Text + "'" : token.Text;
  }
  return out;
}

class DateFormat : public testing::LocaleFixture<&ReloadLocale> {
 protected:
  void SetUp() override { Use("en_US.UTF-8"); }
};

TEST_F(DateFormat, CompilesLongestNamesFirstAndQuotedTextAsLiterals) {
  struct Case {
    std::string format, tokens;
  };
  const std::vector<Case> cases = {
      {"DD.MM.YYYY", "DD '.' MM '.' YYYY"},
      {"MONTH MON M", "MONTH ' ' MON ' ' M"},
      {"DDDDD", "DDD DD"},
      {"hh24:nn AmPm", "hh24 ':' nn ' ' AmPm"},
      {"Monday", "Mon day"},
      {"'Monday'", "'Monday'"},
      {"YYYY\"-Q\"Q", "YYYY '-Q' Q"},
      {"'it\"s' \"it's\"", "'it\"s' ' ' 'it's'"},
      {"'a''b'", "'a' 'b'"},
      {"''", "''"},
      {"YYYY 'open", "YYYY ' ' 'open'"},
      {"#!", "'#!'"},
      {"RMDWDYH12H", "RM DW DY H12 H"},
  };
  for (const Case& c : cases) EXPECT_EQ(Compiled(c.format), c.tokens) << c.format;
  EXPECT_EQ(TDateFormater::Lookup("hh12"), dfkHH12);
  EXPECT_EQ(TDateFormater::Lookup("HH13"), dfkLiteral);
}

TEST_F(DateFormat, PrintsEveryTokenKind) {
  TDateTime tuesday = At(2024, 3, 5, 13, 7, 9);
  struct Case {
    std::string format, text;
  };
  const std::vector<Case> cases = {
      {"DD.MM.YYYY", "05.03.2024"},
      {"YEAR YY Q", "2024 24 1"},
      {"RM DW DDD", "III 2 65"},
      {"MONTH MON DAY DY", "March Mar Tuesday Tu"},
      {"D.M HH HH12 HH24 H H12 H24", "5.3 01 01 13 1 1 13"},
      {"NN N SS S AMPM", "07 7 09 9 PM"},
      {"YYYY\"-Q\"Q", "2024-Q1"},
      {"'Monday'", "Monday"},
  };
  for (const Case& c : cases) EXPECT_EQ(TDateFormater(c.format).Format(tuesday), c.text);
  // Noon and midnight print as hour 00 on the 12-hour clock.
  EXPECT_EQ(TDateFormater("HH12 H AMPM").Format(At(2024, 3, 5, 12)), "00 0 PM");
  EXPECT_EQ(TDateFormater("HH12 AMPM").Format(At(2024, 3, 5, 0, 30)), "00 AM");
  EXPECT_EQ(TDateFormater("YYYY-MM-DD DDD").Format(At(1, 1, 1)), "0001-01-01 1");
  EXPECT_EQ(TDateFormater("DDD DW").Format(At(2024, 12, 31)), "366 2");
  EXPECT_EQ(TDateFormater("DD.MM.YYYY HH24:NN").Format(At(1800, 6, 1, 18, 15)), "01.06.1800 18:15");
  EXPECT_THROW(TDateFormater("YYYY").Format(1e12), EConvertError);
  EXPECT_THROW(TDateFormater("YYYY").Format(std::nan("")), EConvertError);
}

TEST_F(DateFormat, NamesFollowTheUserLocale) {
  Use("ru_RU.UTF-8");
  TDateTime tuesday = At(2024, 3, 5, 13);
  EXPECT_EQ(TDateFormater("MONTH|MON|DAY|DY|AMPM").Format(tuesday),
            Utf8ToCp1251("март|мар|вторник|вт|PM"));
  TDateTime may = At(2024, 5, 1);
  EXPECT_EQ(TDateFormater("DD MONTH YYYY").Parse(Utf8ToCp1251("01 мая 2024")), may);
  EXPECT_EQ(TDateFormater("DD MONTH YYYY").Parse(Utf8ToCp1251("01 МАЙ 2024")), may);
  EXPECT_EQ(TDateFormater("DD MON YYYY").Parse(Utf8ToCp1251("01 май 2024")), may);
}

TEST_F(DateFormat, ParsesWhatTheFieldsSay) {
  struct Case {
    std::string format, text, expected;
  };
  const std::vector<Case> cases = {
      {"DD.MM.YYYY", "05.03.2024", "2024-03-05 00:00:00"},
      {"HH:NN AMPM", "11:30 PM", "1899-12-30 23:30:00"},
      {"HH:NN AMPM", "11:30 am", "1899-12-30 11:30:00"},
      {"HH:NN AMPM", "12:30 AM", "1899-12-30 00:30:00"},
      {"HH:NN AMPM", "12:30 PM", "1899-12-30 12:30:00"},
      {"AMPM HH:NN", "PM 02:15", "1899-12-30 14:15:00"},
      {"D.M.YYYY", "5.3.2024", "2024-03-05 00:00:00"},
      {"D.M.YYYY", "15.12.2024", "2024-12-15 00:00:00"},
      {"YYYY Q DD", "2024 2 15", "2024-04-15 00:00:00"},
      {"DD.MM.YY", "05.03.24", "0024-03-05 00:00:00"},
      {"H24:N:S", "7:5:3", "1899-12-30 07:05:03"},
      // HH reads two characters but takes the hour only when the second is a digit.
      {"HHNN", "5:30", "1899-12-30 00:30:00"},
      // A date without its year, month or day is day zero.
      {"MM.DD HH24", "03.05 10", "1899-12-30 10:00:00"},
      {"DAY, DD MONTH YYYY", "Tuesday, 05 March 2024", "2024-03-05 00:00:00"},
      {"DY DD MON YYYY", "Tu 05 Mar 2024", "2024-03-05 00:00:00"},
      {"DD.RM.YYYY", "05.xii.2024", "2024-12-05 00:00:00"},
      // Text that is not a name is skipped by the length of the token.
      {"MON DD.MM.YYYY", "xxx 05.03.2024", "2024-03-05 00:00:00"},
      {"DDD YYYY-MM-DD", "65 2024-03-05", "2024-03-05 00:00:00"},
      {"'at' YYYY", "at 2024", "1899-12-30 00:00:00"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Show(TDateFormater(c.format).Parse(c.text)), c.expected) << c.format;
}

TEST_F(DateFormat, ParseFailures) {
  try {
    TDateFormater("HH:NN AMPM").Parse("11:30 XX");
    FAIL() << "XX read as AM or PM";
  } catch (const EOrvException& e) {
    EXPECT_EQ(e.NativeError(), 2146);
    EXPECT_EQ(e.Message(), "AM/PM word expected, but 'XX' found - Native error: 02146");
  }
  struct Case {
    std::string format, text;
  };
  const std::vector<Case> cases = {
      {"DD.MM.YYYY", "31.02.2024"}, {"DD.MM.YYYY", "ab.03.2024"}, {"DD.MM.YYYY", "05.03"},
      {"HH24:NN", "25:00"},         {"HH24:NN:SS", "10:61:00"},   {"YYYY Q DD", "2024 5 01"},
  };
  for (const Case& c : cases)
    EXPECT_THROW(TDateFormater(c.format).Parse(c.text), EConvertError) << c.text;
}

TEST_F(DateFormat, MaxLengthAddsTheWidthOfEachToken) {
  struct Case {
    std::string format;
    int length;
  };
  const std::vector<Case> cases = {
      {"DD.MM.YYYY", 10},      {"RM", 4}, {"'Year: 'YYYY", 10}, {"MONTH DAY", 22}, {"Q DDD MON", 9},
      {"HH24:NN:SS AMPM", 11}, {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TDateFormater(c.format).MaxLength(), c.length) << c.format;
}

// Print then parse gives back every field the format holds, over the whole calendar.
TEST_F(DateFormat, PrintThenParseRoundTripsEveryTokenKind) {
  struct Fields {
    int y, m, d, h, n, s;
  };
  using Expect = std::function<std::optional<Fields>(Fields)>;
  auto all = [](Fields f) { return std::optional<Fields>(f); };
  auto date_only = [](Fields f) { return std::optional<Fields>(Fields{f.y, f.m, f.d, 0, 0, 0}); };
  struct Case {
    std::string format;
    Expect expect;
  };
  const std::vector<Case> cases = {
      {"YYYY-MM-DD HH24:NN:SS", all},
      {"YEAR.M.D H24:N:S", all},
      {"DD/MM/YYYY HH12:NN:SS AMPM", all},
      {"DD/MM/YYYY HH:NN:SS AMPM", all},
      {"AMPM H12.N.S D-M-YYYY", all},
      {"H AMPM NN SS YYYYMMDD", all},
      {"YYYY MONTH DD HH24:NN:SS", all},
      {"DD MON YYYY", date_only},
      {"RM/DD/YYYY", date_only},
      {"DAY, DD.MM.YYYY", date_only},
      {"DY DD.MM.YYYY", date_only},
      {"DDD YYYY-MM-DD", date_only},
      {"DW YYYY-MM-DD", date_only},
      {"YY-MM-DD",
       [](Fields f) {
         // Two-digit years are taken as written; year 0 leaves the date out.
         return std::optional<Fields>(f.y % 100 == 0 ? Fields{1899, 12, 30, 0, 0, 0}
                                                     : Fields{f.y % 100, f.m, f.d, 0, 0, 0});
       }},
      {"YYYY Q DD",
       [](Fields f) -> std::optional<Fields> {
         int month = (f.m - 1) / 3 * 3 + 1;
         if (f.d > DaysInMonth(f.y, month)) return std::nullopt;
         return Fields{f.y, month, f.d, 0, 0, 0};
       }},
  };
  for (const char* locale : {"en_US.UTF-8", "ru_RU.UTF-8"}) {
    Use(locale);
    std::mt19937 random(20240305);
    std::uniform_int_distribution<int> day_number(1, 3652059);  // 0001-01-01 .. 9999-12-31
    std::uniform_int_distribution<int> second_of_day(0, 86399);
    for (int i = 0; i < 400; ++i) {
      TTimeStamp stamp;
      stamp.date = day_number(random);
      stamp.time = second_of_day(random) * 1000;
      TDateTime value = TimeStampToDateTime(stamp);
      Fields f;
      DecodeDate(static_cast<double>(stamp.date - kDateDelta), &f.y, &f.m, &f.d);
      f.h = stamp.time / 3600000, f.n = stamp.time / 60000 % 60, f.s = stamp.time / 1000 % 60;
      for (const Case& c : cases) {
        TDateFormater formater(c.format);
        std::string text = formater.Format(value);
        ASSERT_LE(static_cast<int>(text.size()), formater.MaxLength()) << c.format << ": " << text;
        std::optional<Fields> e = c.expect(f);
        if (!e) {
          EXPECT_THROW(formater.Parse(text), EConvertError) << text;
          continue;
        }
        TDateTime parsed;
        ASSERT_NO_THROW(parsed = formater.Parse(text)) << locale << " " << c.format << ": " << text;
        ASSERT_EQ(Show(parsed), Show(At(e->y, e->m, e->d, e->h, e->n, e->s)))
            << locale << " " << c.format << ": " << text;
      }
    }
  }
}

}  // namespace
}  // namespace orv
