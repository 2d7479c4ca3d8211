#include "engine/sql/orv_value.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/common/orv_exception.h"
#include "platform/time_stamp.h"
#include "platform/value_text.h"

namespace orv {
namespace {

TDateTime Date(int y, int m, int d) {
  TDateTime value;
  EXPECT_TRUE(TryEncodeDate(y, m, d, &value));
  return value;
}

TDateTime Time(int h, int n, int s) {
  TDateTime value;
  EXPECT_TRUE(TryEncodeTime(h, n, s, 0, &value));
  return value;
}

TOrvValue Make(const std::function<void(TOrvValue&)>& set) {
  TOrvValue value;
  set(value);
  return value;
}

TOrvValue Str(std::string_view text) {
  return Make([&](TOrvValue& v) { v.SetString(text); });
}
TOrvValue Int(int32_t x) {
  return Make([&](TOrvValue& v) { v.SetInteger(x); });
}
TOrvValue WordV(uint16_t x) {
  return Make([&](TOrvValue& v) { v.SetWord(x); });
}
TOrvValue Small(int16_t x) {
  return Make([&](TOrvValue& v) { v.SetSmallint(x); });
}
TOrvValue Flt(double x) {
  return Make([&](TOrvValue& v) { v.SetFloat(x); });
}
TOrvValue Null(uint8_t type) {
  return Make([&](TOrvValue& v) { v.SetNull(type); });
}

// "Type:payload", or "E<native code>" for an engine error.
std::string Show(const TOrvValue& v) {
  std::string type(TypeName(v.DataType()));
  if (v.DataType() >= ftBlob && v.DataType() <= ftFmtMemo) type = "Blob";
  if (v.IsNull()) return type + ":NULL";
  auto date_text = [](TDateTime dt) {
    TTimeStamp stamp = DateTimeToTimeStamp(dt);
    int y, m, d;
    DecodeDate(static_cast<double>(stamp.date - kDateDelta), &y, &m, &d);
    return fmt::format("{:04}-{:02}-{:02}", y, m, d);
  };
  auto time_text = [](TDateTime dt) {
    TTimeStamp stamp = DateTimeToTimeStamp(dt);
    int ms = stamp.time;
    return fmt::format("{:02}:{:02}:{:02}.{:03}", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                       ms % 1000);
  };
  std::string payload;
  switch (v.DataType()) {
    case ftString:
      payload = v.AsString();
      break;
    case ftWideString: {
      for (char16_t c : v.AsWideString()) payload += c < 0x80 ? static_cast<char>(c) : '?';
      break;
    }
    case ftSmallint:
      payload = fmt::format("{}", v.AsSmallint());
      break;
    case ftWord:
      payload = fmt::format("{}", v.AsWord());
      break;
    case ftInteger:
    case ftAutoInc:
      payload = fmt::format("{}", v.AsInteger());
      break;
    case ftLargeint:
      payload = fmt::format("{}", v.AsLargeint());
      break;
    case ftBoolean:
      payload = v.AsBoolean() ? "true" : "false";
      break;
    case ftFloat:
    case ftCurrency:
      payload = fmt::format("{}", v.AsFloat());
      break;
    case ftDate:
      payload = date_text(v.AsDateTime());
      break;
    case ftTime:
      payload = time_text(v.AsDateTime());
      break;
    case ftDateTime:
      payload = date_text(v.AsDateTime()) + " " + time_text(v.AsDateTime());
      break;
    default:
      payload = fmt::format("{} bytes", v.DataSize());
  }
  return type + ":" + payload;
}

std::string Converted(const TOrvValue& source, uint8_t type) {
  TOrvValue v = source;
  try {
    v.ConvertTo(type);
  } catch (const EOrvException& e) {
    EXPECT_EQ(v.DataType(), source.DataType()) << "a failed conversion changed the type";
    return fmt::format("E{}", e.NativeError());
  }
  return Show(v);
}

class OrvValue : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_separator_ = DecimalSeparator();
    SetDecimalSeparator('.');
  }
  void TearDown() override { SetDecimalSeparator(saved_separator_); }

 private:
  char saved_separator_ = '.';
};

TEST_F(OrvValue, ConvertsBetweenEveryPairOfTypes) {
  const std::vector<uint8_t> targets = {ftString,  ftSmallint,   ftInteger,  ftWord, ftBoolean,
                                        ftFloat,   ftCurrency,   ftDate,     ftTime, ftDateTime,
                                        ftAutoInc, ftWideString, ftLargeint, ftBlob};
  struct Row {
    TOrvValue source;
    std::vector<std::string> expected;  // in the order of targets
  };
  const std::string E93 = "E2093", E92 = "E2092";
  std::vector<Row> rows;
  rows.push_back(
      {Str("12"),
       {"String:12", "SmallInt:12", "Integer:12", "Word:12", "Boolean:false", "Float:12",
        "Currency:12", E93, E93, E93, "AutoInc:12", "WideString:12", "LargeInt:12", E92}});
  rows.push_back(
      {Str("05.03.2024"),
       {"String:05.03.2024", E93, E93, E93, "Boolean:false", E93, E93, "Date:2024-03-05", E93,
        "DateTime:2024-03-05 00:00:00.000", E93, "WideString:05.03.2024", E93, E92}});
  rows.push_back(
      {Str("10:30:15"),
       {"String:10:30:15", E93, E93, E93, "Boolean:false", E93, E93, E93, "Time:10:30:15.000",
        "DateTime:1899-12-30 10:30:15.000", E93, "WideString:10:30:15", E93, E92}});
  rows.push_back(
      {Str("05.03.2024 10:30:15"),
       {"String:05.03.2024 10:30:15", E93, E93, E93, "Boolean:false", E93, E93, E93, E93,
        "DateTime:2024-03-05 10:30:15.000", E93, "WideString:05.03.2024 10:30:15", E93, E92}});
  rows.push_back({Str("TRUE"),
                  {"String:TRUE", E93, E93, E93, "Boolean:true", E93, E93, E93, E93, E93, E93,
                   "WideString:TRUE", E93, E92}});
  rows.push_back({Str("-2.5"),
                  {"String:-2.5", E93, E93, E93, "Boolean:false", "Float:-2.5", "Currency:-2.5",
                   E93, E93, E93, E93, "WideString:-2.5", E93, E92}});
  // A LargeInt reads the text in 64 bits.
  rows.push_back({Str("5000000000"),
                  {"String:5000000000", E93, E93, E93, "Boolean:false", "Float:5000000000",
                   "Currency:5000000000", E93, E93, E93, E93, "WideString:5000000000",
                   "LargeInt:5000000000", E92}});
  rows.push_back(
      {Small(-5),
       {"String:-5", "SmallInt:-5", "Integer:-5", "Word:65531", "Boolean:true", "Float:-5",
        "Currency:-5", "Date:1899-12-25", "Time:00:00:00.000", "DateTime:1899-12-25 00:00:00.000",
        "AutoInc:-5", "WideString:-5", "LargeInt:-5", E92}});
  rows.push_back({Int(70000),
                  {"String:70000", "SmallInt:4464", "Integer:70000", "Word:4464", "Boolean:true",
                   "Float:70000", "Currency:70000", "Date:2091-08-25", "Time:00:00:00.000",
                   "DateTime:2091-08-25 00:00:00.000", "AutoInc:70000", "WideString:70000",
                   "LargeInt:70000", E92}});
  rows.push_back({WordV(40000),
                  {"String:40000", "SmallInt:-25536", "Integer:40000", "Word:40000", "Boolean:true",
                   "Float:40000", "Currency:40000", "Date:2009-07-06", "Time:00:00:00.000",
                   "DateTime:2009-07-06 00:00:00.000", "AutoInc:40000", "WideString:40000",
                   "LargeInt:40000", E92}});
  rows.push_back({Make([](TOrvValue& v) { v.SetBoolean(true); }),
                  {"String:true", "SmallInt:1", "Integer:1", "Word:1", "Boolean:true", "Float:1",
                   E93, E93, E93, E93, "AutoInc:1", "WideString:true", "LargeInt:1", E92}});
  // Floats round half to even.
  rows.push_back(
      {Flt(2.5),
       {"String:2.5", "SmallInt:2", "Integer:2", "Word:2", "Boolean:true", "Float:2.5",
        "Currency:2.5", "Date:1900-01-01", "Time:12:00:00.000", "DateTime:1900-01-01 12:00:00.000",
        "AutoInc:2", "WideString:2.5", "LargeInt:2", E92}});
  rows.push_back({Flt(1e300),
                  {"String:1E300", E93, E93, E93, "Boolean:true", "Float:1e+300", "Currency:1e+300",
                   E93, E93, E93, E93, "WideString:1E300", E93, E92}});
  rows.push_back(
      {Make([](TOrvValue& v) { v.SetCurrency(3.5); }),
       {"String:3.5", "SmallInt:4", "Integer:4", "Word:4", "Boolean:true", "Float:3.5",
        "Currency:3.5", E93, E93, E93, "AutoInc:4", "WideString:3.5", "LargeInt:4", E92}});
  rows.push_back({Make([](TOrvValue& v) { v.SetDate(Date(2024, 3, 5)); }),
                  {"String:05.03.2024", "SmallInt:-20180", "Integer:45356", "Word:45356",
                   "Boolean:true", "Float:45356", "Currency:45356", "Date:2024-03-05",
                   "Time:00:00:00.000", "DateTime:2024-03-05 00:00:00.000", "AutoInc:45356",
                   "WideString:05.03.2024", "LargeInt:45356", E92}});
  rows.push_back({Make([](TOrvValue& v) { v.SetTime(Time(10, 30, 15)); }),
                  {"String:10:30:15", "SmallInt:0", "Integer:0", "Word:0", "Boolean:true",
                   "Float:0.43767361111111114", "Currency:0.43767361111111114", "Date:1899-12-30",
                   "Time:10:30:15.000", "DateTime:1899-12-30 10:30:15.000", "AutoInc:0",
                   "WideString:10:30:15", "LargeInt:0", E92}});
  rows.push_back({Make([](TOrvValue& v) { v.SetDateTime(Date(2024, 3, 5) + Time(10, 30, 15)); }),
                  {"String:05.03.2024 10:30:15", "SmallInt:-20180", "Integer:45356", "Word:45356",
                   "Boolean:true", "Float:45356.43767361111", "Currency:45356.43767361111",
                   "Date:2024-03-05", "Time:10:30:15.000", "DateTime:2024-03-05 10:30:15.000",
                   "AutoInc:45356", "WideString:05.03.2024 10:30:15", "LargeInt:45356", E92}});
  rows.push_back(
      {Make([](TOrvValue& v) { v.SetAutoInc(7); }),
       {"String:7", "SmallInt:7", "Integer:7", "Word:7", "Boolean:true", "Float:7", "Currency:7",
        "Date:1900-01-06", "Time:00:00:00.000", "DateTime:1900-01-06 00:00:00.000", "AutoInc:7",
        "WideString:7", "LargeInt:7", E92}});
  rows.push_back(
      {Make([](TOrvValue& v) { v.SetWideString(u"42"); }),
       {"String:42", "SmallInt:42", "Integer:42", "Word:42", "Boolean:false", "Float:42",
        "Currency:42", E93, E93, E93, "AutoInc:42", "WideString:42", "LargeInt:42", E92}});
  rows.push_back({Make([](TOrvValue& v) { v.SetLargeint(5000000000); }),
                  {"String:5000000000", "SmallInt:-3584", "Integer:705032704", "Word:61952",
                   "Boolean:true", "Float:5000000000", "Currency:5000000000", E93, E93, E93,
                   "AutoInc:705032704", "WideString:5000000000", "LargeInt:5000000000", E92}});
  rows.push_back(
      {Make([](TOrvValue& v) { v.SetData(ftBlob, "xy", 2); }),
       {E92, E92, E92, E92, E92, E92, E92, E92, E92, E92, E92, E92, E92, "Blob:2 bytes"}});

  for (const Row& row : rows) {
    ASSERT_EQ(row.expected.size(), targets.size());
    for (size_t i = 0; i < targets.size(); ++i)
      EXPECT_EQ(Converted(row.source, targets[i]), row.expected[i])
          << Show(row.source) << " -> " << TypeName(targets[i]);
  }
}

TEST_F(OrvValue, ConversionErrorsNameBothTypesAndNullsOnlyChangeType) {
  TOrvValue flag = Make([](TOrvValue& v) { v.SetBoolean(true); });
  try {
    flag.ConvertTo(ftCurrency);
    FAIL() << "Boolean to Currency converted";
  } catch (const EOrvException& e) {
    EXPECT_EQ(e.NativeError(), 2093);
    EXPECT_EQ(e.Message(),
              "Can't convert data type from 'Boolean' to 'Currency' - Native error: 02093");
  }
  try {
    Int(1).ConvertTo(ftBytes);
    FAIL() << "Integer to Bytes converted";
  } catch (const EOrvException& e) {
    EXPECT_EQ(e.Message(),
              "Can't convert data type from 'Integer' to 'unknown' - Native error: 02092");
  }
  TOrvValue null = Null(ftString);
  null.ConvertTo(ftDate);
  EXPECT_EQ(Show(null), "Date:NULL");
}

TEST_F(OrvValue, EmptyStringsAreNullAndTextEndsAtItsZero) {
  EXPECT_EQ(Show(Str("")), "String:NULL");
  EXPECT_EQ(Show(Make([](TOrvValue& v) { v.SetWideString(u""); })), "WideString:NULL");
  EXPECT_EQ(Str(std::string_view("ab\0cd", 5)).AsString(), "ab");
  EXPECT_EQ(Null(ftString).AsString(), "");
  EXPECT_EQ(Str("abc").DataSize(), 4);
  EXPECT_EQ(Make([](TOrvValue& v) { v.SetWideString(u"abc"); }).DataSize(), 8);
}

TEST_F(OrvValue, SetDataTakesRecordPayloadsAndRefusesShortOnes) {
  // A string field stored in 21 bytes keeps its stored size.
  char field[21] = "abc";
  TOrvValue v;
  v.SetData(ftString, field, sizeof field);
  EXPECT_EQ(v.DataSize(), 21);
  EXPECT_EQ(v.AsString(), "abc");
  // A payload without its terminator still reads only its own bytes.
  v.SetData(ftString, "abc", 3);
  EXPECT_EQ(v.AsString(), "abc");
  v.SetData(ftString, "\0zz", 3);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), ftString);
  // A stored Boolean has 16 bits; any non-zero value is true.
  const uint8_t flag[2] = {0, 1};
  v.SetData(ftBoolean, flag, 2);
  EXPECT_TRUE(v.AsBoolean());
  // A date keeps its 32-bit day number in 8 zero-filled bytes.
  const uint8_t day[8] = {0x5C, 0x95, 0x0A, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};  // 693596
  v.SetData(ftDate, day, 8);
  EXPECT_EQ(std::memcmp(v.Data() + 4, "\0\0\0\0", 4), 0);
  EXPECT_EQ(Show(v), "Date:1900-01-01");
  // Taking a payload from the value itself works.
  TOrvValue self = Str("keep");
  self.SetData(ftString, self.Data(), self.DataSize());
  EXPECT_EQ(self.AsString(), "keep");

  int32_t four = 4;
  EXPECT_THROW(v.SetData(ftInteger, &four, 2), Exception);
  EXPECT_THROW(v.SetData(ftParadoxOle, &four, 4), Exception);
  EXPECT_THROW(v.SetData(ftInteger, nullptr, 4), Exception);
  EXPECT_THROW(v.SetData(ftBlob, &four, -1), Exception);
}

TEST_F(OrvValue, GettersRefuseOtherTypesAndNull) {
  struct Case {
    std::function<void()> read;
    int native_error;
  };
  const TOrvValue f = Flt(1), i = Int(1), null_int = Null(ftInteger);
  const std::vector<Case> cases = {
      {[&] { (void)f.AsInteger(); }, 2107}, {[&] { (void)null_int.AsInteger(); }, 2107},
      {[&] { (void)i.AsFloat(); }, 60},     {[&] { (void)i.AsSmallint(); }, 61},
      {[&] { (void)i.AsLargeint(); }, 62},  {[&] { (void)i.AsWord(); }, 63},
      {[&] { (void)i.AsBoolean(); }, 2113}, {[&] { (void)i.AsDateTime(); }, 2140},
  };
  for (size_t n = 0; n < cases.size(); ++n) {
    try {
      cases[n].read();
      ADD_FAILURE() << "case " << n << " read a value";
    } catch (const EOrvException& e) {
      EXPECT_EQ(e.NativeError(), cases[n].native_error) << "case " << n;
    }
  }
  EXPECT_EQ(Null(ftDate).AsDateTime(), 0);
  EXPECT_EQ(Make([](TOrvValue& v) { v.SetAutoInc(9); }).AsInteger(), 9);
  EXPECT_EQ(Make([](TOrvValue& v) { v.SetCurrency(1.5); }).AsFloat(), 1.5);
  EXPECT_EQ(Int(-12).AsString(), "-12");
  EXPECT_EQ(Flt(0.1).AsString(), "0.1");
  EXPECT_EQ(Small(3).AsString(), "");
  // A corrupt stored date raises instead of giving a date.
  const int32_t zero_day[2] = {0, 0};
  TOrvValue corrupt;
  corrupt.SetData(ftDate, zero_day, 8);
  EXPECT_THROW(corrupt.AsDateTime(), Exception);
}

TEST_F(OrvValue, ViewsShareThePayloadAndCopiesOwnTheirs) {
  TOrvValue source = Str("shared");
  TOrvValue view = TOrvValue::View(source);
  EXPECT_TRUE(view.NotOwned());
  EXPECT_EQ(view.Data(), source.Data());
  TOrvValue copy = view;
  EXPECT_FALSE(copy.NotOwned());
  EXPECT_NE(copy.Data(), source.Data());
  // Changing the view allocates anew; the source keeps its text.
  view.SetString("other");
  EXPECT_EQ(source.AsString(), "shared");
  source = Int(5);
  view = TOrvValue::View(source);
  Negate(view);
  EXPECT_EQ(source.AsInteger(), 5);
  EXPECT_EQ(view.AsInteger(), -5);
  view.Clear();
  EXPECT_EQ(source.AsInteger(), 5);
  TOrvValue moved = std::move(source);
  EXPECT_EQ(moved.AsInteger(), 5);
  EXPECT_TRUE(source.IsNull());  // NOLINT: a moved-from value is cleared
  Assign(moved, moved);
  EXPECT_EQ(moved.AsInteger(), 5);
}

TEST_F(OrvValue, CommonTypeFollowsTheTableAndWordMeetsIntegersInInteger) {
  struct Case {
    uint8_t left, right, common;
  };
  const std::vector<Case> cases = {
      {ftInteger, ftWord, ftInteger},      {ftWord, ftInteger, ftInteger},
      {ftWord, ftSmallint, ftInteger},     {ftWord, ftAutoInc, ftInteger},
      {ftSmallint, ftWord, ftInteger},     {ftWord, ftBoolean, ftWord},
      {ftBoolean, ftSmallint, ftSmallint}, {ftString, ftWideString, ftWideString},
      {ftLargeint, ftFloat, ftFloat},      {ftFloat, ftLargeint, ftFloat},
      {ftDate, ftTime, ftDateTime},        {ftDate, ftDate, ftDate},
      {ftBoolean, ftCurrency, 0},          {ftCurrency, ftDate, 0},
      {ftDateTime, ftCurrency, 0},         {ftBlob, ftBlob, 0},
      {ftAutoInc, ftAutoInc, ftInteger},   {ftString, ftDate, ftString},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CommonType(c.left, c.right), c.common)
        << TypeName(c.left) << " with " << TypeName(c.right);
}

TEST_F(OrvValue, CompareIsNullAwareAndMeetsInTheCommonType) {
  TDateTime day = Date(2024, 3, 5);
  auto date = [](TDateTime d) { return Make([&](TOrvValue& v) { v.SetDate(d); }); };
  auto wide = [](std::u16string_view s) { return Make([&](TOrvValue& v) { v.SetWideString(s); }); };
  auto boolean = [](bool b) { return Make([&](TOrvValue& v) { v.SetBoolean(b); }); };
  auto date_time = [](TDateTime d) { return Make([&](TOrvValue& v) { v.SetDateTime(d); }); };
  struct Case {
    TOrvValue a, b;
    bool partial, case_insensitive;
    TOrvCompareResult expected;
  };
  std::vector<Case> cases;
  cases.push_back({Null(ftInteger), Int(1), false, false, crLeftNull});
  cases.push_back({Int(1), Null(ftUnknown), false, false, crRightNull});
  cases.push_back({Null(ftString), Null(ftDate), false, false, crBothNull});
  cases.push_back({Str(""), Str("a"), false, false, crLeftNull});
  cases.push_back({Int(40000), WordV(40000), false, false, crEqual});
  cases.push_back({WordV(40000), Int(40000), false, false, crEqual});
  cases.push_back({WordV(40000), Int(105536), false, false, crLess});
  cases.push_back({WordV(40000), Small(-1), false, false, crGreater});
  cases.push_back({WordV(65535), WordV(1), false, false, crGreater});
  cases.push_back({Str("05.03.2024"), date(day), false, false, crEqual});
  cases.push_back({date(day), Str("06.03.2024"), false, false, crLess});
  cases.push_back({Str("abc"), Str("abd"), false, false, crLess});
  cases.push_back({Str("abc"), Str("ABC"), false, true, crEqual});
  cases.push_back({Str("abcdef"), Str("abc"), true, false, crEqual});
  cases.push_back({Str("abcdef"), Str("ABC"), true, true, crEqual});
  cases.push_back({Str("abcdef"), Str("abc"), false, false, crGreater});
  cases.push_back({Str("10"), Int(9), false, false, crLess});  // as text
  cases.push_back({wide(u"abcdef"), wide(u"abc"), true, false, crEqual});
  cases.push_back({wide(u"abc"), wide(u"ABC"), false, true, crEqual});
  cases.push_back({wide(u"abc"), Str("abd"), false, false, crLess});
  cases.push_back({boolean(true), boolean(false), false, false, crGreater});
  cases.push_back({Flt(2.5), Int(2), false, false, crGreater});
  cases.push_back({Flt(std::nan("")), Flt(-1e300), false, false, crLess});
  cases.push_back({date_time(day + 0.5), date(day), false, false, crGreater});
  cases.push_back({date_time(day + 0.5), date_time(day + 0.5), false, false, crEqual});
  cases.push_back({Make([](TOrvValue& v) { v.SetTime(0.25); }),
                   Make([](TOrvValue& v) { v.SetTime(0.5); }), false, false, crLess});
  // Stored day numbers below 1 count as day 1.
  const int32_t day0[2] = {0, 0}, day1[2] = {1, 0};
  TOrvValue stored0, stored1;
  stored0.SetData(ftDate, day0, 8);
  stored1.SetData(ftDate, day1, 8);
  cases.push_back({stored0, stored1, false, false, crEqual});

  for (size_t n = 0; n < cases.size(); ++n) {
    const Case& c = cases[n];
    EXPECT_EQ(Compare(c.a, c.b, c.partial, c.case_insensitive), c.expected)
        << "case " << n << ": " << Show(c.a) << " vs " << Show(c.b);
  }
  // The operands keep their types.
  TOrvValue text = Str("05.03.2024"), when = date(day);
  Compare(text, when, false, false);
  EXPECT_EQ(text.DataType(), ftString);
}

TEST_F(OrvValue, CompareRefusesTypesThatCannotMeet) {
  auto boolean = Make([](TOrvValue& v) { v.SetBoolean(true); });
  auto date = Make([](TOrvValue& v) { v.SetDate(1); });
  auto blob = Make([](TOrvValue& v) { v.SetData(ftBlob, "x", 1); });
  for (const auto& [a, b] : std::vector<std::pair<TOrvValue, TOrvValue>>{
           {boolean, date}, {blob, blob}, {Make([](TOrvValue& v) { v.SetCurrency(1); }), date}}) {
    try {
      Compare(a, b, false, false);
      ADD_FAILURE() << Show(a) << " compared with " << Show(b);
    } catch (const EOrvException& e) {
      EXPECT_EQ(e.NativeError(), 25);
    }
  }
  try {
    Compare(Str("not a date"), date, false, false);
    ADD_FAILURE() << "compared an unreadable date";
  } catch (const EOrvException& e) {
    EXPECT_EQ(e.NativeError(), 2093);
  }
}

TEST_F(OrvValue, AddGivesNullForANullOperandButKeepsTextAroundAnEmptyString) {
  struct Case {
    TOrvValue target, operand;
    std::string expected;
  };
  std::vector<Case> cases;
  cases.push_back({Int(5), Null(ftInteger), "Integer:NULL"});
  cases.push_back({Null(ftInteger), Int(5), "Integer:NULL"});
  cases.push_back({Int(5), Null(ftUnknown), "Integer:NULL"});
  cases.push_back({Str("abc"), Null(ftUnknown), "String:NULL"});
  cases.push_back({Str("abc"), Str(""), "String:abc"});
  cases.push_back({Str(""), Str("abc"), "String:abc"});
  cases.push_back({Str(""), Str(""), "String:NULL"});
  cases.push_back({Int(5), Str(""), "String:5"});
  cases.push_back({Make([](TOrvValue& v) { v.SetWideString(u"ab"); }), Str(""), "WideString:ab"});
  cases.push_back({Int(5), Int(7), "Integer:12"});
  cases.push_back({Small(32767), Small(1), "SmallInt:-32768"});
  cases.push_back({WordV(65535), WordV(1), "Word:0"});
  cases.push_back({WordV(40000), Int(1), "Integer:40001"});
  cases.push_back({Int(2147483647), Int(1), "Integer:-2147483648"});
  cases.push_back({Str("a"), Int(5), "String:a5"});
  cases.push_back({Str("a"), Make([](TOrvValue& v) { v.SetWideString(u"b"); }), "WideString:ab"});
  cases.push_back({Flt(0.5), Int(2), "Float:2.5"});
  cases.push_back({Make([](TOrvValue& v) { v.SetDate(Date(2024, 3, 5)); }), Int(1),
                   "DateTime:2024-03-06 00:00:00.000"});
  cases.push_back({Make([](TOrvValue& v) { v.SetTime(Time(23, 0, 0)); }),
                   Make([](TOrvValue& v) { v.SetTime(Time(2, 0, 0)); }), "Time:01:00:00.000"});
  for (Case& c : cases) {
    std::string before = Show(c.target) + " + " + Show(c.operand);
    Add(c.target, c.operand, false);
    EXPECT_EQ(Show(c.target), c.expected) << before;
  }

  // SUM and AVG: the first value initialises the sum.
  TOrvValue sum = Null(ftUnknown);
  Add(sum, Int(4), true);
  Add(sum, Int(6), true);
  EXPECT_EQ(Show(sum), "Integer:10");
  Add(sum, Null(ftInteger), true);
  EXPECT_TRUE(sum.IsNull());
}

TEST_F(OrvValue, ArithmeticRefusesWhatIsNotNumeric) {
  struct Case {
    std::function<void()> run;
    int native_error;
    std::string operation;
  };
  auto boolean = [] { return Make([](TOrvValue& v) { v.SetBoolean(true); }); };
  const std::vector<Case> cases = {
      {[&] {
         TOrvValue t = boolean();
         Add(t, boolean(), false);
       },
       2091, "+"},
      {[&] {
         TOrvValue t = Make([](TOrvValue& v) { v.SetCurrency(1); });
         Add(t, Make([](TOrvValue& v) { v.SetDate(1); }), false);
       },
       2091, "+"},
      {[&] {
         TOrvValue t = Make([](TOrvValue& v) { v.SetCurrency(1); });
         Negate(t);
       },
       2089, "-"},
      {[&] {
         TOrvValue t = Make([](TOrvValue& v) { v.SetAutoInc(1); });
         Negate(t);
       },
       2089, "-"},
      {[&] {
         TOrvValue t = Str("a");
         Multiply(t, Int(2));
       },
       2091, "*"},
      {[&] {
         TOrvValue t = boolean();
         Multiply(t, boolean());
       },
       2091, "*"},
  };
  for (size_t n = 0; n < cases.size(); ++n) {
    try {
      cases[n].run();
      ADD_FAILURE() << "case " << n << " computed";
    } catch (const EOrvException& e) {
      EXPECT_EQ(e.NativeError(), cases[n].native_error) << "case " << n;
      EXPECT_EQ(e.Message(), fmt::format("Not numeric argument in numeric operator '{}' - Native "
                                         "error: {:05}",
                                         cases[n].operation, cases[n].native_error));
    }
  }
}

TEST_F(OrvValue, NegateMultiplyAndDivideWrapAndPropagateNull) {
  auto negated = [](TOrvValue v) {
    Negate(v);
    return Show(v);
  };
  EXPECT_EQ(negated(Small(-32768)), "SmallInt:-32768");
  EXPECT_EQ(negated(WordV(5)), "Word:65531");
  EXPECT_EQ(negated(Int(-2147483647 - 1)), "Integer:-2147483648");
  EXPECT_EQ(negated(Flt(2.5)), "Float:-2.5");
  EXPECT_EQ(negated(Make([](TOrvValue& v) { v.SetLargeint(INT64_MIN); })),
            "LargeInt:-9223372036854775808");
  EXPECT_EQ(negated(Null(ftCurrency)), "Currency:NULL");

  auto product = [](TOrvValue a, const TOrvValue& b) {
    Multiply(a, b);
    return Show(a);
  };
  EXPECT_EQ(product(Int(5), Null(ftInteger)), "Integer:NULL");
  EXPECT_EQ(product(Null(ftInteger), Int(5)), "Integer:NULL");
  EXPECT_EQ(product(Int(70000), Int(70000)), "Integer:605032704");
  EXPECT_EQ(product(Small(300), Small(300)), "SmallInt:24464");
  EXPECT_EQ(product(WordV(300), Int(300)), "Integer:90000");
  EXPECT_EQ(product(Flt(1.5), Int(3)), "Float:4.5");

  auto quotient = [](TOrvValue a, const TOrvValue& b) {
    Divide(a, b);
    return Show(a);
  };
  EXPECT_EQ(quotient(Int(7), Int(2)), "Float:3.5");
  EXPECT_EQ(quotient(Int(7), Null(ftInteger)), "Float:NULL");
  TOrvValue seven = Int(7), zero = Int(0);
  try {
    Divide(seven, zero);
    FAIL() << "divided by zero";
  } catch (const EOrvException&) {
    FAIL() << "division by zero is the platform's floating-point error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Floating point division by zero");
  }
  EXPECT_EQ(Show(seven), "Integer:7");
  TOrvValue nothing = Int(0);
  EXPECT_THROW(Divide(nothing, zero), Exception);
}

TEST_F(OrvValue, TypeNamesAndSqlTypeNames) {
  EXPECT_EQ(TypeName(ftLargeint), "LargeInt");
  EXPECT_EQ(TypeName(ftBlob), "unknown");
  EXPECT_EQ(TypeName(200), "unknown");
  struct Case {
    const char* name;
    uint8_t type;
  };
  for (const Case& c : std::vector<Case>{{"varchar", ftString},
                                         {"Char", ftString},
                                         {"VARCHAR2", ftString},
                                         {"boolean", ftBoolean},
                                         {"LOGICAL", ftBoolean},
                                         {"LargeInt", ftLargeint},
                                         {"bytes", ftBytes},
                                         {"FmtMemo", ftFmtMemo},
                                         {"int", 0},
                                         {"DOUBLE", 0},
                                         {"", 0}})
    EXPECT_EQ(SqlTypeByName(c.name), c.type) << c.name;
  EXPECT_EQ(FieldTypeTable().size(), 19u);
  EXPECT_EQ(FieldTypeTable()[3].Description, "Wide String");
  EXPECT_TRUE(IsNumericType(ftWord));
  EXPECT_TRUE(IsNumericType(ftAutoInc));
  EXPECT_FALSE(IsNumericType(ftBoolean));
  EXPECT_FALSE(IsNumericType(ftDate));
}

TEST_F(OrvValue, UniqueNamesAndVariants) {
  std::string name = UniqueName("$_IDX_");
  ASSERT_GT(name.size(), 6u);
  EXPECT_EQ(name.substr(0, 6), "$_IDX_");
  EXPECT_LT(std::stoll(name.substr(6)), 2147483647LL);

  EXPECT_TRUE(Null(ftInteger).ToVariant().IsNull());
  EXPECT_EQ(Int(5).ToVariant().VarType(), varInteger);
  EXPECT_EQ(Small(5).ToVariant().VarType(), varSmallint);
  EXPECT_EQ(WordV(5).ToVariant().VarType(), varWord);
  EXPECT_EQ(Str("a").ToVariant().VarType(), varString);
  EXPECT_EQ(Make([](TOrvValue& v) { v.SetLargeint(5); }).ToVariant().VarType(), varInt64);
  EXPECT_EQ(Make([](TOrvValue& v) { v.SetTime(0.5); }).ToVariant().VarType(), varDate);
  EXPECT_TRUE(Make([](TOrvValue& v) { v.SetData(ftBlob, "x", 1); }).ToVariant().IsNull());
}

}  // namespace
}  // namespace orv
