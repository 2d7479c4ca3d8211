#include "platform/variant.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "platform/value_text.h"

namespace orv {
namespace {

// Runs a conversion and answers its result as text, or the error message.
std::string Convert(const std::function<std::string()>& conversion) {
  try {
    return conversion();
  } catch (const EVariantError& e) {
    return "error: " + e.Message();
  }
}

TEST(Variant, ConversionsFollowTheRuntimeRules) {
  TDateTime noon = 45000.5;
  struct Case {
    const char* name;
    Variant value;
    std::string as_integer, as_double, as_string, as_boolean;
  } cases[] = {
      {"empty", Variant(), "0", "0", "", "0"},
      {"null", Variant::Null(),
       "error: Could not convert variant of type (Null) into type (Integer)",
       "error: Could not convert variant of type (Null) into type (Double)",
       "error: Could not convert variant of type (Null) into type (String)",
       "error: Could not convert variant of type (Null) into type (Boolean)"},
      {"integer", Variant(42), "42", "42", "42", "1"},
      {"int64", Variant(int64_t{1} << 40), "error: Variant overflow", "1099511627776",
       "1099511627776", "1"},
      {"double", Variant(2.5), "2", "2.5", "2.5", "1"},
      {"double 3.5", Variant(3.5), "4", "3.5", "3.5", "1"},
      {"huge double", Variant(1e300), "error: Variant overflow", "1E300", "1E300", "1"},
      {"true", Variant(true), "-1", "-1", "True", "1"},
      {"false", Variant(false), "0", "0", "False", "0"},
      {"date", Variant::FromDate(noon), "45000", "45000.5", "15.03.2023 12:00:00", "1"},
      {"numeric text", Variant("12"), "12", "12", "12", "1"},
      {"float text", Variant(" 1.5"), "2", "1.5", " 1.5", "1"},
      {"word text", Variant("true"),
       "error: Could not convert variant of type (String) into type (Integer)",
       "error: Could not convert variant of type (String) into type (Double)", "true", "1"},
      {"wide", Variant(std::u16string(u"\u0410\u0431")),
       "error: Could not convert variant of type (OleStr) into type (Integer)",
       "error: Could not convert variant of type (OleStr) into type (Double)", "\xC0\xE1",
       "error: Could not convert variant of type (OleStr) into type (Boolean)"},
      {"array", Variant::ArrayOf({1, 2}),
       "error: Could not convert variant of type (Array Variant) into type (Integer)",
       "error: Could not convert variant of type (Array Variant) into type (Double)",
       "error: Could not convert variant of type (Array Variant) into type (String)",
       "error: Could not convert variant of type (Array Variant) into type (Boolean)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Convert([&] { return std::to_string(c.value.AsInteger()); }), c.as_integer);
    EXPECT_EQ(Convert([&] { return FloatToStr(c.value.AsDouble()); }), c.as_double);
    EXPECT_EQ(Convert([&] { return c.value.AsString(); }), c.as_string);
    EXPECT_EQ(Convert([&] { return std::string(c.value.AsBoolean() ? "1" : "0"); }), c.as_boolean);
  }
}

TEST(Variant, NullIsTheEmptyTextForVarToStrOnly) {
  EXPECT_EQ(VarToStr(Variant::Null()), "");
  EXPECT_EQ(VarToStr(Variant(7)), "7");
  EXPECT_THROW(Variant::Null().AsString(), EVariantError);
  EXPECT_TRUE(Variant::Null().IsNull());
  EXPECT_FALSE(Variant().IsNull());
  EXPECT_TRUE(Variant().IsEmpty());
}

TEST(Variant, ArraysHoldVariantsOrBytesAndCheckTheirBounds) {
  Variant pair = Variant::ArrayOf({Variant(1), Variant("two")});
  EXPECT_TRUE(pair.IsArray());
  EXPECT_EQ(pair.VarType(), varArray | varVariant);
  EXPECT_EQ(pair.ArrayCount(), 2);
  EXPECT_EQ(pair.ArrayHighBound(), 1);
  EXPECT_EQ(pair.ArrayItem(1).AsString(), "two");
  for (int bad : {-1, 2}) {
    try {
      pair.ArrayItem(bad);
      FAIL() << bad;
    } catch (const EVariantError& e) {
      EXPECT_EQ(e.Message(), "Variant array index out of bounds");
    }
  }
  EXPECT_THROW(Variant(1).ArrayCount(), EVariantError);

  Variant bytes = Variant::ByteArray(std::string("\x00\xFF", 2));
  EXPECT_EQ(bytes.ArrayCount(), 2);
  EXPECT_EQ(bytes.ArrayItem(1).VarType(), varByte);
  EXPECT_EQ(bytes.ArrayItem(1).AsInteger(), 255);
  EXPECT_EQ(bytes.AsBytes(), std::string("\x00\xFF", 2));
}

TEST(Variant, EqualityNeedsTheSameTypeAndValue) {
  EXPECT_EQ(Variant(3), Variant(3));
  EXPECT_NE(Variant(3), Variant(int64_t{3}));
  EXPECT_NE(Variant(3), Variant(3.0));
  EXPECT_EQ(Variant::ArrayOf({1, "a"}), Variant::ArrayOf({1, "a"}));
  EXPECT_NE(Variant::ArrayOf({1, "a"}), Variant::ArrayOf({1, "b"}));
  EXPECT_EQ(Variant::Null(), Variant::Null());
  EXPECT_NE(Variant::Null(), Variant());
}

TEST(Variant, TypeNamesAndCodesAreTheRuntimeOnes) {
  struct Case {
    Variant value;
    uint16_t code;
    const char* name;
  } cases[] = {
      {Variant(), 0, "Empty"},
      {Variant::Null(), 1, "Null"},
      {Variant::FromSmallint(1), 2, "Smallint"},
      {Variant(1), 3, "Integer"},
      {Variant(1.0), 5, "Double"},
      {Variant::FromDate(1), 7, "Date"},
      {Variant(std::u16string(u"x")), 8, "OleStr"},
      {Variant(true), 11, "Boolean"},
      {Variant::FromShortInt(1), 16, "ShortInt"},
      {Variant::FromByte(1), 17, "Byte"},
      {Variant::FromWord(1), 18, "Word"},
      {Variant::FromLongWord(1), 19, "LongWord"},
      {Variant(int64_t{1}), 20, "Int64"},
      {Variant("x"), 0x100, "String"},
      {Variant::ByteArray("x"), 0x2011, "Array Byte"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value.VarType(), c.code) << c.name;
    EXPECT_EQ(VarTypeAsText(c.value.VarType()), c.name);
  }
  EXPECT_EQ(Variant::FromLongWord(4000000000u).AsInt64(), 4000000000);
  EXPECT_THROW(Variant::FromLongWord(4000000000u).AsInteger(), EVariantError);
  EXPECT_EQ(Variant(int64_t{-5}).AsInteger(), -5);
}

}  // namespace
}  // namespace orv
