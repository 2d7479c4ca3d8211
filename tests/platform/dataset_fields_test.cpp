#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/index_defs.h"
#include "tests/platform/memory_dataset.h"

namespace orv {
namespace {

using testing::ErrorOf;

using testing::MemoryDataset;

// One record with a field of every type the framework stores, in edit state.
class TypedFieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds_.SetName("all");
    ds_.FieldDefs().Add("S", ftString, 5);
    ds_.FieldDefs().Add("W", ftWideString, 8);
    ds_.FieldDefs().Add("SI", ftSmallint);
    ds_.FieldDefs().Add("I", ftInteger);
    ds_.FieldDefs().Add("WO", ftWord);
    ds_.FieldDefs().Add("L", ftLargeint);
    ds_.FieldDefs().Add("B", ftBoolean);
    ds_.FieldDefs().Add("F", ftFloat);
    ds_.FieldDefs().Add("C", ftCurrency);
    ds_.FieldDefs().Add("BCD", ftBCD);
    ds_.FieldDefs().Add("D", ftDate);
    ds_.FieldDefs().Add("T", ftTime);
    ds_.FieldDefs().Add("DT", ftDateTime);
    ds_.FieldDefs().Add("BY", ftBytes, 3);
    ds_.FieldDefs().Add("M", ftMemo);
    ds_.Open();
    ds_.Append();
  }
  TField* F(const char* name) { return ds_.FieldByName(name); }
  MemoryDataset ds_;
};

TEST_F(TypedFieldsTest, EachTypeConvertsBetweenItsAccessors) {
  struct Case {
    const char* field;
    std::function<void(TField*)> set;
    std::string as_string;
    Variant value;
  } cases[] = {
      {"S", [](TField* f) { f->SetAsString("abcdefgh"); }, "abcde", Variant("abcde")},
      {"S", [](TField* f) { f->SetAsInteger(42); }, "42", Variant("42")},
      {"W", [](TField* f) { f->SetAsString("\xC0\xE1\xE2\xE3\xE4\xE5"); }, "\xC0\xE1\xE2\xE3",
       Variant(std::u16string(u"\u0410\u0431\u0432\u0433"))},
      {"SI", [](TField* f) { f->SetAsString(" -12"); }, "-12", Variant(-12)},
      {"I", [](TField* f) { f->SetAsFloat(2.5); }, "2", Variant(2)},
      {"I", [](TField* f) { f->SetValue(Variant("77")); }, "77", Variant(77)},
      {"WO", [](TField* f) { f->SetAsInteger(65535); }, "65535", Variant(65535)},
      {"L", [](TField* f) { f->SetAsLargeInt(int64_t{1} << 40); }, "1099511627776",
       Variant(int64_t{1} << 40)},
      {"B", [](TField* f) { f->SetAsString("t"); }, "True", Variant(true)},
      {"B", [](TField* f) { f->SetAsBoolean(false); }, "False", Variant(false)},
      {"F", [](TField* f) { f->SetAsString("0.125"); }, "0.125", Variant(0.125)},
      {"C", [](TField* f) { f->SetAsInteger(3); }, "3", Variant(3.0)},
      {"BCD", [](TField* f) { f->SetAsFloat(1.23456); }, "1.2346", Variant(1.2346)},
      {"D", [](TField* f) { f->SetAsDateTime(45000.75); }, "15.03.2023", Variant::FromDate(45000)},
      {"T", [](TField* f) { f->SetAsString("9:05:03"); }, "9:05:03",
       Variant::FromDate(32703.0 / 86400)},
      {"DT", [](TField* f) { f->SetAsString("15.03.2023 12:00:00"); }, "15.03.2023 12:00:00",
       Variant::FromDate(45000.5)},
      {"BY", [](TField* f) { f->SetAsString("ab"); }, std::string("ab\0", 3),
       Variant::ByteArray(std::string("ab\0", 3))},
      {"M", [](TField* f) { f->SetAsString("a long note"); }, "a long note",
       Variant("a long note")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    TField* field = F(c.field);
    c.set(field);
    EXPECT_FALSE(field->IsNull());
    EXPECT_EQ(field->AsString(), c.as_string);
    Variant value = field->Value();
    if (value.VarType() == varDate || value.VarType() == varDouble)
      EXPECT_NEAR(value.AsDouble(), c.value.AsDouble(), 1e-9);
    else
      EXPECT_EQ(value, c.value);
    field->Clear();
    EXPECT_TRUE(field->IsNull());
    EXPECT_TRUE(field->Value().IsNull());
  }
  // Values survive posting and reading back in browse state.
  F("DT")->SetAsDateTime(45000.5);
  F("M")->SetAsString("note");
  ds_.Post();
  EXPECT_NEAR(F("DT")->AsDateTime(), 45000.5, 1e-9);
  EXPECT_EQ(F("M")->AsString(), "note");
  EXPECT_EQ(F("I")->AsInteger(), 0);  // null reads as 0
}

TEST_F(TypedFieldsTest, ValuesOutsideTheTypeOrTheTextFormAreRefused) {
  struct Case {
    const char* field;
    std::function<void(TField*)> set;
    std::string error;
  } cases[] = {
      {"SI", [](TField* f) { f->SetAsInteger(40000); },
       "40000 is not a valid value for field 'SI'. The allowed range is -32768 to 32767"},
      {"WO", [](TField* f) { f->SetAsInteger(-1); },
       "-1 is not a valid value for field 'WO'. The allowed range is 0 to 65535"},
      {"I", [](TField* f) { f->SetAsFloat(3e9); },
       "3000000000 is not a valid value for field 'I'. The allowed range is -2147483648 to "
       "2147483647"},
      {"I", [](TField* f) { f->SetAsString("12x"); },
       "'12x' is not a valid integer value for field 'I'"},
      {"F", [](TField* f) { f->SetAsString("1..2"); },
       "'1..2' is not a valid floating point value for field 'F'"},
      {"B", [](TField* f) { f->SetAsString("yes"); },
       "'yes' is not a valid boolean value for field 'B'"},
      {"D", [](TField* f) { f->SetAsString("30.02.2023"); }, "'30.02.2023' is not a valid date"},
      {"DT", [](TField* f) { f->SetAsDateTime(1e12); }, "Invalid argument to date encode"},
      {"I", [](TField* f) { f->SetAsBoolean(true); }, "Cannot access field 'I' as type Boolean"},
      {"B", [](TField* f) { f->SetAsDateTime(1); }, "Cannot access field 'B' as type DateTime"},
  };
  for (const auto& c : cases) {
    TField* field = F(c.field);
    EXPECT_EQ(ErrorOf([&] { c.set(field); }), c.error);
    EXPECT_TRUE(field->IsNull()) << c.field;
  }
  F("L")->SetAsLargeInt(int64_t{1} << 40);
  EXPECT_EQ(ErrorOf([&] { F("L")->AsInteger(); }),
            "1099511627776 is not a valid value for field 'L'. The allowed range is -2147483648 "
            "to 2147483647");
  F("S")->SetAsString("abc");
  EXPECT_EQ(ErrorOf([&] { F("S")->AsInteger(); }), "'abc' is not a valid integer value");
}

TEST_F(TypedFieldsTest, OnValidateSeesTheNewValueAndCanRefuseIt) {
  TField* year = F("I");
  year->SetAsInteger(1990);
  std::vector<int> seen;
  year->OnValidate = [&](TField* f) {
    seen.push_back(f->AsInteger());
    if (f->AsInteger() < 1900) throw Exception("too old");
  };
  year->SetAsInteger(2001);
  EXPECT_EQ(ErrorOf([&] { year->SetAsInteger(1800); }), "too old");
  EXPECT_EQ(seen, (std::vector<int>{2001, 1800}));
  EXPECT_EQ(year->AsInteger(), 2001);
}

TEST_F(TypedFieldsTest, BlobFieldsGoThroughStreams) {
  auto* memo = static_cast<TBlobField*>(F("M"));
  TMemoryStream source;
  source.WriteBuffer("\xFF\xD8 jpeg", 7);
  memo->LoadFromStream(source);
  EXPECT_TRUE(memo->Modified());
  EXPECT_FALSE(memo->IsNull());
  EXPECT_EQ(memo->BlobSize(), 7);
  ds_.Post();
  EXPECT_FALSE(memo->Modified());
  TMemoryStream copy;
  memo->SaveToStream(copy);
  EXPECT_EQ(copy.Size(), 7);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.Memory()), 7), "\xFF\xD8 jpeg");

  ds_.Edit();
  memo->SetAsString("");
  EXPECT_TRUE(memo->IsNull());
  ds_.Post();
  EXPECT_TRUE(memo->IsNull());
  EXPECT_EQ(memo->AsString(), "");
}

TEST(DataSetFields, FieldsAreFoundByNameWithoutRegardToCase) {
  MemoryDataset ds;
  ds.SetName("tbColor");
  ds.FieldDefs().Add("ColorId", ftAutoInc);
  ds.FieldDefs().Add("ColorName", ftString, 20, true);
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 2);
  EXPECT_EQ(ds.FieldByName("COLORNAME")->FieldNo(), 2);
  EXPECT_EQ(ds.FindField("colorid")->DataType(), ftAutoInc);
  EXPECT_TRUE(ds.FieldByName("colorname")->Required());
  EXPECT_EQ(ds.FindField("missing"), nullptr);
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("missing"); }), "tbColor: Field 'missing' not found");
  EXPECT_EQ(ds.GetFieldList("ColorId; ColorName").size(), 2u);
  EXPECT_EQ(ErrorOf([&] { ds.GetFieldList("ColorId;Nope"); }), "tbColor: Field 'Nope' not found");
  EXPECT_TRUE(ds.DefaultFields());
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 0);  // default fields go with the cursor
}

TEST(DataSetFields, PersistentFieldsBindByNameAndMustMatchTypeAndSize) {
  TComponent form;
  MemoryDataset ds(&form);
  ds.SetName("qrMain");
  ds.FieldDefs().Add("ID", ftInteger);
  ds.FieldDefs().Add("NAME", ftString, 40);

  auto* name = new TStringField(&form);
  name->SetFieldName("NAME");
  name->SetSize(40);
  name->SetDataSet(&ds);
  ds.Open();
  EXPECT_FALSE(ds.DefaultFields());
  EXPECT_EQ(ds.FieldCount(), 1);  // only the persistent field exists
  EXPECT_EQ(name->FieldNo(), 2);
  EXPECT_EQ(ErrorOf([&] { name->SetSize(10); }),
            "qrMain: Cannot perform this operation on an open dataset");
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 1);

  name->SetSize(10);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }),
            "qrMain: Size mismatch for field 'NAME', expecting: 10 actual: 40");
  EXPECT_FALSE(ds.Active());
  name->SetSize(40);

  auto* id = new TStringField(&form);
  id->SetFieldName("ID");
  id->SetDataSet(&ds);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }),
            "qrMain: Type mismatch for field 'ID', expecting: String actual: Integer");
  delete id;  // a freed field leaves its dataset
  EXPECT_EQ(ds.FieldCount(), 1);

  auto* ghost = new TIntegerField(&form);
  ghost->SetFieldName("GHOST");
  ghost->SetDataSet(&ds);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "qrMain: Field 'GHOST' not found");
  ghost->SetDataSet(nullptr);
  EXPECT_EQ(ds.FieldCount(), 1);

  auto* twin = new TStringField(&form);
  twin->SetFieldName("name");
  EXPECT_EQ(ErrorOf([&] { twin->SetDataSet(&ds); }), "qrMain: Duplicate field name 'name'");
  ds.Open();
  EXPECT_TRUE(ds.Active());
}

// The catalogue's main query computes FullName from year, maker and model name.
TEST(DataSetFields, CalculatedFieldsAreComputedPerRecordAndAfterEachChange) {
  MemoryDataset ds;
  ds.FieldDefs().Add("CarYear", ftInteger);
  ds.FieldDefs().Add("ModelName", ftString, 40);
  for (const char* name : {"CarYear", "ModelName"}) ds.FieldDefs().Find(name)->CreateField(&ds);
  auto* full = new TStringField(&ds);
  full->SetFieldName("FullName");
  full->SetSize(60);
  full->SetFieldKind(fkCalculated);
  full->SetDataSet(&ds);
  int calls = 0;
  ds.OnCalcFields = [&](TDataSet* d) {
    ++calls;
    EXPECT_EQ(d->State(), dsCalcFields);
    if (d->FieldByName("CarYear")->IsNull()) return;
    d->FieldByName("FullName")
        ->SetAsString(fmt::format("{} {}", d->FieldByName("CarYear")->AsString(),
                                  d->FieldByName("ModelName")->AsString()));
  };
  ds.Open();
  EXPECT_EQ(full->FieldNo(), -1);
  ds.Append();
  EXPECT_TRUE(full->IsNull());
  ds.FieldByName("CarYear")->SetAsInteger(1965);
  ds.FieldByName("ModelName")->SetAsString("Mustang");
  EXPECT_EQ(full->AsString(), "1965 Mustang");  // recalculated in edit state
  ds.Post();
  ds.Append();
  ds.FieldByName("CarYear")->SetAsInteger(1970);
  ds.FieldByName("ModelName")->SetAsString("Chevelle");
  ds.Post();

  std::vector<std::string> names;
  for (ds.First(); !ds.Eof(); ds.Next()) names.push_back(full->AsString());
  EXPECT_EQ(names, (std::vector<std::string>{"1965 Mustang", "1970 Chevelle"}));
  EXPECT_GT(calls, 0);

  ds.SetAutoCalcFields(false);
  ds.Edit();
  ds.FieldByName("CarYear")->SetAsInteger(1971);
  EXPECT_EQ(full->AsString(), "1970 Chevelle");  // not until the record is read again
  ds.Post();
  EXPECT_EQ(full->AsString(), "1971 Chevelle");
}

TEST(DataSetFields, LookupFieldsTakeTheirValueFromAnotherDataset) {
  MemoryDataset colors;
  colors.FieldDefs().Add("ColorId", ftInteger);
  colors.FieldDefs().Add("ColorName", ftString, 20);
  colors.Open();
  for (auto [id, name] : {std::pair{1, "red"}, std::pair{2, "blue"}}) {
    colors.Append();
    colors.FieldByName("ColorId")->SetAsInteger(id);
    colors.FieldByName("ColorName")->SetAsString(name);
    colors.Post();
  }

  MemoryDataset models;
  models.SetName("models");
  models.FieldDefs().Add("ColorId", ftInteger);
  models.FieldDefs().Find("ColorId")->CreateField(&models);
  auto* color = new TStringField(&models);
  color->SetFieldName("Color");
  color->SetFieldKind(fkLookup);
  EXPECT_EQ(ErrorOf([&] { color->SetDataSet(&models), models.Open(); }),
            "models: Lookup information for field 'Color' is incomplete");
  color->SetLookupDataSet(&colors);
  color->SetKeyFields("ColorId");
  color->SetLookupKeyFields("ColorId");
  color->SetLookupResultField("ColorName");
  models.Open();
  for (int id : {2, 1, 7}) {
    models.Append();
    models.FieldByName("ColorId")->SetAsInteger(id);
    models.Post();
  }
  std::vector<std::string> shown;
  for (models.First(); !models.Eof(); models.Next())
    shown.push_back(color->IsNull() ? "(null)" : color->AsString());
  EXPECT_EQ(shown, (std::vector<std::string>{"blue", "red", "(null)"}));
  models.Close();
}

TEST(FieldDefs, NamesAreUniqueAndFoundWithoutCase) {
  MemoryDataset ds;
  ds.SetName("tb");
  ds.FieldDefs().Add("ID", ftInteger);
  EXPECT_EQ(ErrorOf([&] { ds.FieldDefs().Add("id", ftString, 5); }),
            "tb: Duplicate name 'id' in TFieldDefs");
  EXPECT_EQ(ErrorOf([&] { ds.FieldDefs().Add("", ftString, 5); }), "tb: Field name missing");
  EXPECT_EQ(ds.FieldDefs().Count(), 1);
  EXPECT_EQ(ErrorOf([&] { ds.FieldDefs().Find("x"); }), "tb: Field 'x' not found");
  ds.FieldDefs().Add("NAME", ftString, 30, true);
  EXPECT_EQ(ds.FieldDefs().Find("name")->FieldNo(), 2);

  TFieldDefs copy(nullptr);
  copy.Assign(ds.FieldDefs());
  EXPECT_EQ(copy[1]->Size(), 30);
  EXPECT_TRUE(copy[1]->Required());
  EXPECT_EQ(ErrorOf([&] { copy[2]; }), "List index out of bounds (2)");

  ds.FieldDefs().Add("BAD", ftString, 100000);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "Invalid field size");
  EXPECT_FALSE(ds.Active());
  ds.FieldDefs().Delete(2);
  ds.FieldDefs().Add("CUR", ftCursor);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "tb: Field 'CUR' is of an unknown type");
}

TEST(IndexDefs, AnIndexForFieldsIsFoundExactFirstThenByItsLeadingFields) {
  TIndexDefs defs(nullptr);
  defs.Add("byNameYear", "Name;Year", ixUnique);
  defs.Add("byName", "NAME", 0);
  defs.Add("byNameDesc", "Name", ixDescending);
  defs.Add("byNameCI", "Name", ixCaseInsensitive);
  defs.Add("byYearName", "Year;Name", 0);
  struct Case {
    const char* fields;
    bool case_insensitive;
    const char* found;
  } cases[] = {
      {"name", false, "byName"},     {"Name;Year", false, "byNameYear"},
      {"Year", false, "byYearName"}, {"Name", true, "byNameCI"},
      {"Nam", false, nullptr},       {"Year;Name;X", false, nullptr},
  };
  for (const auto& c : cases) {
    TIndexDef* def = defs.GetIndexForFields(c.fields, c.case_insensitive);
    EXPECT_EQ(def ? def->Name() : "(none)", c.found ? c.found : "(none)") << c.fields;
  }
  EXPECT_EQ(ErrorOf([&] { defs.FindIndexForFields("Nam"); }), "No index for fields 'Nam'");
  EXPECT_EQ(ErrorOf([&] { defs.Find("none"); }), "Index 'none' not found");
  EXPECT_EQ(ErrorOf([&] { defs.Add("BYNAME", "X", 0); }), "Duplicate name 'BYNAME' in TIndexDefs");
  EXPECT_EQ(defs.Find("byname")->Options(), 0);
}

}  // namespace
}  // namespace orv
