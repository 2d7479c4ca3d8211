#include "platform/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/time_stamp.h"

namespace orv {
namespace {

TEST(ValueText, FloatToStrUsesFifteenDigitsAndSwitchesToExponentAtTheLimits) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {1, "1"},
      {-2.5, "-2.5"},
      {0.1, "0.1"},
      {1.0 / 3, "0.333333333333333"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {1.5e-7, "1.5E-7"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {-1.25e20, "-1.25E20"},
      {100, "100"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const auto& c : cases) EXPECT_EQ(FloatToStr(c.value), c.text) << c.text;
}

TEST(ValueText, NumberParsingAcceptsTheRuntimeFormsOnly) {
  struct IntCase {
    const char* text;
    bool ok;
    int64_t value;
  } ints[] = {
      {"42", true, 42},
      {"  -7", true, -7},
      {"+3", true, 3},
      {"$FF", true, 255},
      {"0x10", true, 16},
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
      {"", false, 0},
      {"12 ", false, 0},
      {"1.5", false, 0},
      {"abc", false, 0},
      {"-", false, 0},
      {"$", false, 0},
  };
  for (const auto& c : ints) {
    int64_t value = 0;
    EXPECT_EQ(TryStrToInt64(c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  try {
    StrToInt("x1");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'x1' is not a valid integer value");
  }

  struct FloatCase {
    const char* text;
    bool ok;
    double value;
  } floats[] = {
      {" 2.5 ", true, 2.5}, {"-1e3", true, -1000}, {"7", true, 7},    {".5", true, 0.5},
      {"1E+2", true, 100},  {"1e", false, 0},      {"", false, 0},    {"2,5", false, 0},
      {"1.2.3", false, 0},  {"e5", false, 0},      {"1 2", false, 0},
  };
  for (const auto& c : floats) {
    double value = 0;
    EXPECT_EQ(TryStrToFloat(c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    }
  }
  EXPECT_THROW(StrToFloat("abc"), EConvertError);
}

TEST(ValueText, DecimalSeparatorGovernsBothDirections) {
  SetDecimalSeparator(',');
  EXPECT_EQ(FloatToStr(2.5), "2,5");
  EXPECT_EQ(StrToFloat("2,5"), 2.5);
  EXPECT_THROW(StrToFloat("2.5"), EConvertError);
  SetDecimalSeparator('.');
  EXPECT_EQ(FloatToStr(2.5), "2.5");
}

TEST(ValueText, DatesAndTimesRoundTripThroughText) {
  TDateTime date, time;
  ASSERT_TRUE(TryEncodeDate(2024, 3, 5, &date));
  ASSERT_TRUE(TryEncodeTime(9, 5, 3, 0, &time));
  EXPECT_EQ(DateToStr(date), "05.03.2024");
  EXPECT_EQ(TimeToStr(time), "9:05:03");
  EXPECT_EQ(DateTimeToStr(date + time), "05.03.2024 9:05:03");
  EXPECT_EQ(DateTimeToStr(date), "05.03.2024");
  EXPECT_DOUBLE_EQ(StrToDateTime("05.03.2024 9:05:03"), date + time);
  EXPECT_DOUBLE_EQ(StrToDateTime("5/3/2024"), date);
  EXPECT_DOUBLE_EQ(StrToDateTime("9:05"), std::floor(time * 1440) / 1440);
  EXPECT_DOUBLE_EQ(StrToTime("9:05:03.250"), time + 0.25 / 86400);
  EXPECT_DOUBLE_EQ(StrToDate(" 01.01.0001 "), -693593);
  // A day before 1899-12-30 keeps its time of day as a positive fraction.
  EXPECT_EQ(DateTimeToStr(-1.25), "29.12.1899 6:00:00");
  EXPECT_DOUBLE_EQ(StrToDateTime("29.12.1899 6:00:00"), -1.25);

  for (const char* bad : {"31.02.2024", "1.13.2024", "05.03", "05.03.2024 25:00", "9:60",
                          "05.03.2024x", "", "05.03.12345"}) {
    TDateTime value;
    EXPECT_FALSE(TryStrToDateTime(bad, &value)) << bad;
  }
  try {
    StrToDate("32.01.2024");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'32.01.2024' is not a valid date");
  }
}

TEST(ValueText, TimeStampsSplitDaysAndMillisecondsAndRejectWhatIsNoDate) {
  TTimeStamp stamp = DateTimeToTimeStamp(0.5);
  EXPECT_EQ(stamp.date, kDateDelta);
  EXPECT_EQ(stamp.time, 43200000);
  stamp = DateTimeToTimeStamp(-1.25);
  EXPECT_EQ(stamp.date, kDateDelta - 1);
  EXPECT_EQ(stamp.time, 21600000);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(stamp), -1.25);
  for (double value : {-693593.0, 0.0, 45000.75, 2958465.999}) {
    TTimeStamp s = DateTimeToTimeStamp(value);
    EXPECT_NEAR(TimeStampToDateTime(MSecsToTimeStamp(TimeStampToMSecs(s))), value, 1e-8);
  }
  for (double bad : {std::nan(""), 1e300, -693594.5, 2958466.0})
    EXPECT_THROW(DateTimeToTimeStamp(bad), EConvertError) << bad;
  try {
    TimeStampToDateTime(TTimeStamp{5, 0});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'0.5' is not a valid timestamp");
  }
  EXPECT_THROW(TimeStampToDateTime(TTimeStamp{86400000, 1}), EConvertError);
  EXPECT_THROW(MSecsToTimeStamp(-1), EConvertError);
  EXPECT_THROW(MSecsToTimeStamp(1e30), EConvertError);
}

TEST(ValueText, NamesCompareWithoutCaseOverCyrillicToo) {
  EXPECT_TRUE(SameText("CarTypeId", "CARTYPEID"));
  EXPECT_TRUE(SameText("\xC8\xEC\xFF", "\xE8\xCC\xDF"));  // Имя / иМЯ
  EXPECT_TRUE(SameText("\xA8", "\xB8"));                  // Ё / ё
  EXPECT_FALSE(SameText("abc", "abd"));
  EXPECT_FALSE(SameText("ab", "abc"));
  EXPECT_EQ(Trim("\t  x y \r\n"), "x y");
  EXPECT_TRUE(StrToBool("tRUE"));
  EXPECT_FALSE(StrToBool("0"));
  EXPECT_THROW(StrToBool("maybe"), EConvertError);
}

}  // namespace
}  // namespace orv
