#include "platform/params.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/database_error.h"
#include "platform/streams.h"
#include "tests/platform/memory_dataset.h"

namespace orv {
namespace {

std::vector<std::string> Names(const TParams& params) {
  std::vector<std::string> names;
  for (int i = 0; i < params.Count(); ++i) names.push_back(params[i]->Name());
  return names;
}

TEST(ParseSQL, CollectsEachNamedMarkerOnceInOrderOfFirstAppearance) {
  struct Case {
    const char* sql;
    const char* text;
    std::vector<std::string> names;
  } cases[] = {
      {"Delete from Main\r\nWhere ID = :ID", "Delete from Main\r\nWhere ID = ?", {"ID"}},
      {"values (:CarTypeId, :ProducerModelId,\r\n  :Foto)",
       "values (?, ?,\r\n  ?)",
       {"CarTypeId", "ProducerModelId", "Foto"}},
      {"where a=:x and b=:X or c=:y", "where a=? and b=? or c=?", {"x", "y"}},
      {"x+:a-:b*:c/:d", "x+?-?*?/?", {"a", "b", "c", "d"}},
      {"name = ':notme' and \"col:x\" = [a:b]", "name = ':notme' and \"col:x\" = [a:b]", {}},
      {"'it''s :not' || :p", "'it''s :not' || ?", {"p"}},
      {"time = '12::30' and t = 12::30", "time = '12::30' and t = 12:30", {}},
      {"x = :\"order no\" + 1", "x = ? + 1", {"order no"}},
      {"a : b and :", "a : b and :", {}},
      {"v = :\xC8\xEC\xFF;", "v = ?;", {"\xC8\xEC\xFF"}},
      {":first", "?", {"first"}},
      {"unterminated 'literal :x", "unterminated 'literal :x", {}},
  };
  for (const auto& c : cases) {
    TParams params;
    EXPECT_EQ(params.ParseSQL(c.sql, true), c.text) << c.sql;
    EXPECT_EQ(Names(params), c.names) << c.sql;
  }
}

TEST(ParseSQL, WithoutCreatingItKeepsTheListAndItsValues) {
  TParams params;
  params.ParseSQL("select :a, :b", true);
  params.ParamByName("a")->SetAsInteger(5);
  EXPECT_EQ(params.ParseSQL("select :c", false), "select ?");
  EXPECT_EQ(Names(params), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(params.ParamByName("A")->AsInteger(), 5);
}

TEST(ParseSQL, SurvivesArbitraryBytes) {
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string sql(random() % 40, '\0');
    for (char& c : sql) c = "a:'\"[]`: \xC0\x01"[random() % 11];
    TParams params;
    std::string text = params.ParseSQL(sql, true);
    EXPECT_LE(text.size(), sql.size());
    for (int i = 0; i < params.Count(); ++i) EXPECT_FALSE(params[i]->Name().empty());
  }
}

TEST(Params, ValuesAreCopiedByNameAndMissingNamesAreReported) {
  TParams old_params, new_params;
  old_params.ParseSQL("where a = :Keep and b = :Gone", true);
  old_params.ParamByName("keep")->SetAsString("kept");
  old_params.ParamByName("gone")->SetAsInteger(1);
  new_params.ParseSQL("where a = :KEEP and c = :New", true);
  new_params.AssignValues(old_params);
  EXPECT_EQ(new_params.ParamByName("keep")->AsString(), "kept");
  EXPECT_EQ(new_params.ParamByName("keep")->DataType(), ftString);
  EXPECT_TRUE(new_params.ParamByName("new")->IsNull());
  EXPECT_FALSE(new_params.ParamByName("new")->Bound());
  EXPECT_EQ(new_params.FindParam("gone"), nullptr);
  try {
    new_params.ParamByName("Gone");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Parameter 'Gone' not found");
  }
  TComponent query;
  query.SetName("qrTemp");
  TParams owned(&query);
  try {
    owned.ParamByName("ID");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "qrTemp: Parameter 'ID' not found");
  }

  TParams copy;
  copy.Assign(new_params);
  EXPECT_EQ(Names(copy), (std::vector<std::string>{"KEEP", "New"}));
  EXPECT_EQ(copy[0]->AsString(), "kept");
}

TEST(Params, TypedSettersAndVariantsDecideTheDataTypeAndSize) {
  struct Case {
    const char* name;
    std::function<void(TParam&)> set;
    TFieldType type;
    int size;
  } cases[] = {
      {"string", [](TParam& p) { p.SetAsString("abc"); }, ftString, 4},
      {"integer", [](TParam& p) { p.SetAsInteger(1); }, ftInteger, 4},
      {"smallint", [](TParam& p) { p.SetAsSmallInt(1); }, ftSmallint, 2},
      {"largeint", [](TParam& p) { p.SetAsLargeInt(1); }, ftLargeint, 8},
      {"float", [](TParam& p) { p.SetAsFloat(1); }, ftFloat, 8},
      {"boolean", [](TParam& p) { p.SetAsBoolean(true); }, ftBoolean, 2},
      {"date", [](TParam& p) { p.SetAsDate(45000); }, ftDate, 4},
      {"date-time", [](TParam& p) { p.SetAsDateTime(45000.5); }, ftDateTime, 8},
      {"wide", [](TParam& p) { p.SetAsWideString(u"ab"); }, ftWideString, 6},
      {"blob", [](TParam& p) { p.SetAsBlob(std::string("\0\1\2", 3)); }, ftBlob, 3},
      {"empty blob", [](TParam& p) { p.SetAsBlob(""); }, ftBlob, 0},
      {"variant int", [](TParam& p) { p.SetValue(Variant(5)); }, ftInteger, 4},
      {"variant word", [](TParam& p) { p.SetValue(Variant::FromWord(5)); }, ftInteger, 4},
      {"variant byte", [](TParam& p) { p.SetValue(Variant::FromByte(5)); }, ftSmallint, 2},
      {"variant int64", [](TParam& p) { p.SetValue(Variant(int64_t{5})); }, ftLargeint, 8},
      {"variant date", [](TParam& p) { p.SetValue(Variant::FromDate(1)); }, ftDateTime, 8},
      {"variant text", [](TParam& p) { p.SetValue(Variant("xy")); }, ftString, 3},
      {"variant wide", [](TParam& p) { p.SetValue(Variant(std::u16string(u"x"))); }, ftWideString,
       4},
      {"variant null", [](TParam& p) { p.SetValue(Variant::Null()); }, ftUnknown, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TParam param("P");
    c.set(param);
    EXPECT_EQ(param.DataType(), c.type);
    if (c.size >= 0) {
      EXPECT_EQ(param.DataSize(), c.size);
      EXPECT_TRUE(param.Bound());
    } else {
      EXPECT_THROW(param.DataSize(), EDatabaseError);  // an untyped parameter has no size
    }
  }
  TParam typed("T");
  typed.SetAsInteger(3);
  typed.SetValue(Variant("12"));  // a typed parameter keeps its type
  EXPECT_EQ(typed.DataType(), ftInteger);
  EXPECT_EQ(typed.AsInteger(), 12);
  typed.SetDataType(ftFloat);
  EXPECT_TRUE(typed.IsNull());
  EXPECT_EQ(typed.AsInteger(), 0);
  EXPECT_EQ(typed.AsString(), "");
}

TEST(Params, BlobsComeFromStreamsAndValuesFromFields) {
  TMemoryStream photo;
  photo.WriteBuffer("\xFF\xD8\xFF\xE0", 4);
  photo.SetPosition(2);
  TParam foto("Foto");
  foto.LoadFromStream(photo, ftGraphic);
  EXPECT_EQ(foto.DataType(), ftGraphic);
  EXPECT_EQ(foto.DataSize(), 4);
  EXPECT_EQ(foto.AsBlob(), "\xFF\xD8\xFF\xE0");

  testing::MemoryDataset ds;
  ds.FieldDefs().Add("ModelYear", ftInteger);
  ds.FieldDefs().Add("Docum", ftString, 60);
  ds.Open();
  ds.Append();
  ds.FieldByName("ModelYear")->SetAsInteger(1998);
  ds.Post();
  TParam year, docum;
  year.AssignField(ds.FieldByName("ModelYear"));
  docum.AssignField(ds.FieldByName("Docum"));
  EXPECT_EQ(year.Name(), "ModelYear");
  EXPECT_EQ(year.DataType(), ftInteger);
  EXPECT_EQ(year.AsInteger(), 1998);
  EXPECT_EQ(docum.DataType(), ftString);
  EXPECT_TRUE(docum.IsNull());
  EXPECT_TRUE(docum.Bound());
}

TEST(DataSetLoading, OpeningWaitsForTheEndOfLoadingAndDesignTimeFailuresStayQuiet) {
  testing::MemoryDataset ds;
  ds.FieldDefs().Add("ID", ftInteger);
  ds.Loading();
  ds.SetActive(true);
  EXPECT_FALSE(ds.Active());
  ds.Loaded();
  EXPECT_TRUE(ds.Active());
  ds.Close();

  ds.FieldDefs().Add("BAD", ftCursor);
  ds.Loading();
  ds.SetActive(true);
  EXPECT_THROW(ds.Loaded(), EDatabaseError);
  ds.SetDesigning(true);
  ds.Loading();
  ds.SetActive(true);
  EXPECT_NO_THROW(ds.Loaded());
  EXPECT_FALSE(ds.Active());
}

}  // namespace
}  // namespace orv
