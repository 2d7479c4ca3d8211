#include "engine/storage/index_key.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "engine/common/collation.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "tests/storage/index_table.h"
#include "tests/support/scoped_env.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::Field;
using testing::IndexTable;

enum : int32_t { S, W, SI, I, WD, B, F, C, BCD, D, T, DT, BY, L };

std::vector<FieldHeaderType> AllTypes() {
  return {Field("S", ftString, 10), Field("W", ftWideString, 10), Field("SI", ftSmallint),
          Field("I", ftInteger),    Field("WD", ftWord),          Field("B", ftBoolean),
          Field("F", ftFloat),      Field("C", ftCurrency),       Field("BCD", ftBCD),
          Field("D", ftDate),       Field("T", ftTime),           Field("DT", ftDateTime),
          Field("BY", ftBytes, 4),  Field("L", ftLargeint)};
}

using Setter = std::function<void(IndexTable&, Bytes&, int32_t)>;

Setter Str(std::string utf8) {
  return [utf8](IndexTable& t, Bytes& image, int32_t f) { t.SetString(image, f, utf8); };
}
Setter Wide(std::u16string text) {
  return [text](IndexTable& t, Bytes& image, int32_t f) { t.SetWide(image, f, text); };
}
Setter I16(int v) {
  return [v](IndexTable& t, Bytes& image, int32_t f) { t.SetI16(image, f, v); };
}
Setter I32(int32_t v) {
  return [v](IndexTable& t, Bytes& image, int32_t f) { t.SetI32(image, f, v); };
}
Setter I64(int64_t v) {
  return [v](IndexTable& t, Bytes& image, int32_t f) { t.SetI64(image, f, v); };
}
Setter F64(double v) {
  return [v](IndexTable& t, Bytes& image, int32_t f) { t.SetF64(image, f, v); };
}
Setter Raw(uint8_t fill) {
  return [fill](IndexTable& t, Bytes& image, int32_t f) {
    std::memset(t.Slot(image, f), fill, static_cast<size_t>(t.Files().Fields()[f].Size));
  };
}
Setter Null() {
  return [](IndexTable& t, Bytes& image, int32_t f) { t.SetNull(image, f); };
}

// Milliseconds of a date-time field: day 693594 is 1899-12-30.
double At(int32_t day, double msecs_of_day) {
  return day * kMSecsPerDay + msecs_of_day;
}
constexpr double kHour = 3600000.0;
constexpr int kNonZero = 2;

int Sign(int v) {
  return (v > 0) - (v < 0);
}

struct KeyCase {
  const char* name;
  int32_t field;
  Setter a, b;
  int expected;  // sign of Compare(a, b); kNonZero: any but 0
  bool descending = false;
  bool case_insensitive = false;
  TKeySearchSwitches switches = {};
};

class IndexKey : public testing::LocaleFixture<&InitCollation> {};

TEST_F(IndexKey, ComparesEveryTypeInIndexOrder) {
  Use("ru_RU.UTF-8");
  const TKeySearchSwitches partial{.Partial = true};
  const TKeySearchSwitches exact{.ExactDate = true};
  const KeyCase cases[] = {
      {"int null first", I, Null(), I32(7), -1},
      {"int null last descending", I, Null(), I32(7), 1, true},
      {"int both null", I, Null(), Null(), 0},
      {"int signed", I, I32(-5), I32(3), -1},
      {"int descending", I, I32(7), I32(3), -1, true},
      {"string null before empty", S, Null(), Str(""), -1},
      {"smallint signed", SI, I16(-1), I16(1), -1},
      {"word unsigned", WD, I16(0xFFFF), I16(1), 1},
      {"largeint", L, I64(-(int64_t(1) << 40)), I64(int64_t(1) << 40), -1},
      {"boolean false first", B, I16(0), I16(1), -1},
      {"boolean true equals true", B, I16(1), I16(2), 0},
      {"float", F, F64(-1.5), F64(2.25), -1},
      {"float NaN after numbers", F, F64(std::nan("")), F64(1e308), 1},
      {"float NaN equals NaN", F, F64(std::nan("")), F64(std::nan("")), 0},
      {"currency", C, F64(10.5), F64(10.25), 1},
      {"bcd always equal", BCD, Raw(1), Raw(9), 0},
      {"bytes always equal", BY, Raw(0), Raw(0xFF), 0},
      {"date below 1 is 1", D, I32(0), I32(1), 0},
      {"date negative is 1", D, I32(-5), I32(1), 0},
      {"date by day", D, I32(5), I32(6), -1},
      {"date exact", D, I32(6), I32(6), 0, false, false, exact},
      {"time", T, I32(1000), I32(999), 1},
      {"datetime rounds to ms", DT, F64(At(700000, 1000.4)), F64(At(700000, 1000)), 0},
      {"datetime 1 ms apart", DT, F64(At(700000, 1000)), F64(At(700000, 1001)), -1},
      {"datetime exact", DT, F64(At(700000, 1000.4)), F64(At(700000, 1000)), 0, false, false,
       exact},
      {"datetime day decides", DT, F64(At(700000, 23 * kHour)), F64(At(700001, 0)), -1},
      {"datetime before 1899-12-30 by time", DT, F64(At(693593, 6 * kHour)),
       F64(At(693593, 18 * kHour)), -1},
      {"datetime across 1899-12-30", DT, F64(At(693593, 18 * kHour)), F64(At(693594, 6 * kHour)),
       -1},
      {"string", S, Str("abc"), Str("abd"), -1},
      {"string case counts", S, Str("Name"), Str("name"), kNonZero},
      {"string case ignored", S, Str("Name"), Str("name"), 0, false, true},
      {"cyrillic order", S, Str("Арбуз"), Str("Яблоко"), -1},
      {"cyrillic descending", S, Str("Арбуз"), Str("Яблоко"), 1, true},
      {"cyrillic case ignored", S, Str("Москва"), Str("МОСКВА"), 0, false, true},
      {"yo case ignored", S, Str("ёж"), Str("Ёж"), 0, false, true},
      {"whole string longer", S, Str("Москва"), Str("Мос"), 1},
      {"partial prefix", S, Str("Москва"), Str("Мос"), 0, false, false, partial},
      {"partial prefix without case", S, Str("москва"), Str("МОС"), 0, false, true, partial},
      {"partial shorter value", S, Str("Мо"), Str("Мос"), -1, false, false, partial},
      {"search ignores case",
       S,
       Str("Name"),
       Str("nAME"),
       0,
       false,
       false,
       {.CaseInsensitiveAll = true}},
      {"wide cyrillic order", W, Wide(u"Арбуз"), Wide(u"Яблоко"), -1},
      {"wide case counts", W, Wide(u"ABC"), Wide(u"abc"), kNonZero},
      {"wide case ignored", W, Wide(u"ABC"), Wide(u"abc"), 0, false, true},
      {"wide partial", W, Wide(u"Москва"), Wide(u"Мос"), 0, false, false, partial},
      {"wide partial differs", W, Wide(u"Милан"), Wide(u"Мос"), -1, false, false, partial},
  };
  IndexTable t(AllTypes());
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    IndexHeaderType header("X", {c.field});
    header.SetAscending(0, !c.descending);
    header.SetCaseInsensitive(0, c.case_insensitive);
    TIndexKeyComparer comparer(header, t.Files().Fields(), t.Geometry(), c.switches);
    Bytes a = t.NewImage(), b = t.NewImage();
    c.a(t, a, c.field);
    c.b(t, b, c.field);
    const int forward = Sign(comparer.Compare(a.data(), b.data()));
    const int backward = Sign(comparer.Compare(b.data(), a.data()));
    if (c.expected == kNonZero) {
      EXPECT_NE(forward, 0);
    } else {
      EXPECT_EQ(forward, c.expected);
    }
    // A prefix search is one-sided; every other comparison is antisymmetric.
    if (!c.switches.Partial) {
      EXPECT_EQ(backward, -forward);
    }
  }
}

TEST_F(IndexKey, IdentifierIsUnsignedAndIgnoresOrder) {
  IndexTable t(AllTypes());
  IndexHeaderType header("ID", {kIdentifierFieldNo});
  header.SetAscending(0, false);
  header.DescendingAll = true;
  TIndexKeyComparer comparer(header, t.Files().Fields(), t.Geometry());
  Bytes a = t.NewImage(), b = t.NewImage();
  t.SetId(a, 5);
  t.SetId(b, 0xFFFFFFF0u);
  EXPECT_LT(comparer.Compare(a.data(), b.data()), 0);
  EXPECT_GT(comparer.Compare(b.data(), a.data()), 0);
  EXPECT_EQ(comparer.Compare(a.data(), a.data()), 0);
}

TEST_F(IndexKey, FieldsDecideInTurnUnderTheAllFlags) {
  IndexTable t(AllTypes());
  Bytes a = t.NewImage(), b = t.NewImage();
  t.SetI32(a, I, 1);
  t.SetI32(b, I, 1);
  t.SetString(a, S, "abc");
  t.SetString(b, S, "ABD");
  IndexHeaderType header("X", {I, S});
  TIndexKeyComparer plain(header, t.Files().Fields(), t.Geometry());
  EXPECT_NE(plain.Compare(a.data(), b.data()), 0);
  header.CaseInsensitiveAll = true;
  TIndexKeyComparer no_case(header, t.Files().Fields(), t.Geometry());
  EXPECT_LT(no_case.Compare(a.data(), b.data()), 0);
  header.DescendingAll = true;
  TIndexKeyComparer descending(header, t.Files().Fields(), t.Geometry());
  EXPECT_GT(descending.Compare(a.data(), b.data()), 0);
  t.SetI32(b, I, 0);
  EXPECT_LT(descending.Compare(a.data(), b.data()), 0);
}

TEST_F(IndexKey, StringSlotWithoutTerminatorStaysInsideTheSlot) {
  IndexTable t(AllTypes());
  Bytes a = t.NewImage(), b = t.NewImage();
  Raw('z')(t, a, S);
  t.SetString(b, S, "zzz");
  Raw('z')(t, a, W);
  t.SetWide(b, W, u"zzz");
  for (int32_t field : {S, W}) {
    TIndexKeyComparer comparer(IndexHeaderType("X", {field}), t.Files().Fields(), t.Geometry());
    EXPECT_GT(comparer.Compare(a.data(), b.data()), 0);
    EXPECT_EQ(comparer.Compare(a.data(), a.data()), 0);
  }
}

TEST_F(IndexKey, RefusesHeadersThatDoNotFitTheTable) {
  IndexTable t(AllTypes());
  EXPECT_THROW(TIndexKeyComparer(IndexHeaderType("X", {14}), t.Files().Fields(), t.Geometry()),
               Exception);
  EXPECT_THROW(TIndexKeyComparer(IndexHeaderType("X", {-2}), t.Files().Fields(), t.Geometry()),
               Exception);
  IndexHeaderType short_bits("X", {I});
  short_bits.AscendingBits.clear();
  EXPECT_THROW(TIndexKeyComparer(short_bits, t.Files().Fields(), t.Geometry()), Exception);
}

}  // namespace
}  // namespace orv
