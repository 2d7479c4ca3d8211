#include "engine/storage/index_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/common/orv_exception.h"
#include "platform/exception.h"
#include "tests/storage/index_table.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::Field;
using testing::IndexTable;

enum : int32_t { kModel, kYear, kPhoto, kCode };

std::vector<FieldHeaderType> ModelYear() {
  return {Field("Model", ftString, 30), Field("Year", ftInteger), Field("Photo", ftBlob),
          Field("Code", ftBytes, 4)};
}

std::vector<std::string> Names(const TOrvelIndexList& list) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list.Header(i).Name);
  return names;
}

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no exception";
}

void AddCars(IndexTable& t) {
  const std::pair<const char*, int> cars[] = {
      {"Volga", 1970}, {"moskvich", 1986}, {"Chaika", 1959}, {"Zhiguli", 1970}};
  for (const auto& [model, year] : cars) {
    Bytes image = t.NewImage();
    t.SetString(image, kModel, model);
    t.SetI32(image, kYear, year);
    t.Put(std::move(image));
  }
}

TEST(IndexList, AutomaticIndexesOfModelAndYear) {
  IndexTable t(ModelYear());
  AddCars(t);
  TOrvelIndexList& list = t.Indexes();
  list.CreateAutoIndexes(true);
  ASSERT_EQ(Names(list), (std::vector<std::string>{"@ID", "@@Model", "@Model", "@Year"}));
  EXPECT_EQ(list.Header(0).FieldNumbers, std::vector<int32_t>{kIdentifierFieldNo});
  EXPECT_EQ(list.Header(0).Options, kIxUnique);
  EXPECT_EQ(list.Header(1).Options, kIxCaseInsensitive);
  EXPECT_TRUE(list.Header(1).CaseInsensitiveAll);
  EXPECT_TRUE(list.Header(1).CaseInsensitive(0));
  EXPECT_FALSE(list.Header(2).CaseInsensitive(0));
  EXPECT_EQ(list.Header(3).FieldNumbers, std::vector<int32_t>{kYear});
  for (int32_t i = 0; i < list.Count(); ++i) EXPECT_TRUE(list.IsValid(i));
  // Case-insensitive: moskvich among the capitals; with case the collation decides.
  const TmvIntArray& by_name = list.Array(1);
  EXPECT_EQ(std::vector<int32_t>(by_name.begin(), by_name.end()),
            (std::vector<int32_t>{2, 1, 0, 3}));
  t.ExpectIndexesInOrder();
  EXPECT_EQ(t.LockedPages(), 0u);

  IndexTable only_id(ModelYear());
  only_id.Indexes().CreateAutoIndexes(false);
  EXPECT_EQ(Names(only_id.Indexes()), std::vector<std::string>{"@ID"});
}

TEST(IndexList, AutomaticNamesTheIndexFileCannotHoldAreLeftOut) {
  IndexTable t({Field("ABCDEFGHIJKLMNOPQRST", ftString, 5), Field("Year", ftInteger)}, 4.3);
  t.Indexes().CreateAutoIndexes(true);
  EXPECT_EQ(Names(t.Indexes()), (std::vector<std::string>{"@ID", "@Year"}));
}

TEST(IndexList, AddIndexTakesFieldListsOrdersAndCases) {
  IndexTable t(ModelYear());
  AddCars(t);
  TOrvelIndexList& list = t.Indexes();
  list.CreateAutoIndexes(false);
  list.AddIndex("ByYearModel", " Year ; Model ", false, "model", "YEAR", kIxPrimary);
  const IndexHeaderType& h = list.Header(list.IndexNo("BYYEARMODEL"));
  EXPECT_EQ(h.FieldNumbers, (std::vector<int32_t>{kYear, kModel}));
  EXPECT_FALSE(h.Ascending(0));
  EXPECT_TRUE(h.Ascending(1));
  EXPECT_FALSE(h.CaseInsensitive(0));
  EXPECT_TRUE(h.CaseInsensitive(1));
  EXPECT_FALSE(h.DescendingAll);
  EXPECT_EQ(h.Options, kIxPrimary);

  list.AddIndex("AllDown", "Model,Year,ID", true, "", "", kIxDescending | kIxCaseInsensitive);
  const IndexHeaderType& all = list.Header(list.IndexNo("alldown"));
  EXPECT_EQ(all.FieldNumbers, (std::vector<int32_t>{kModel, kYear, kIdentifierFieldNo}));
  EXPECT_TRUE(all.DescendingAll);
  EXPECT_TRUE(all.CaseInsensitiveAll);
  EXPECT_FALSE(all.Ascending(0));
  EXPECT_TRUE(all.CaseInsensitive(0));
  EXPECT_FALSE(all.CaseInsensitive(1));  // only string fields carry the case bit
  EXPECT_TRUE(all.Ascending(2));         // the identifier sorts one way only
  t.ExpectIndexesInOrder();
}

TEST(IndexList, AddIndexRefusals) {
  IndexTable t(ModelYear());
  IndexTable old_table(ModelYear(), 4.3);
  t.Indexes().CreateAutoIndexes(false);
  t.Indexes().AddIndex("Name", "Model", true, "", "", 0);
  const std::string add = "Error in TOrvelDataManager.InternalAddIndex - ";
  struct Refusal {
    IndexTable* table;
    std::string name, fields, message;
  } refusals[] = {
      {&t, "", "Model", add + "name is empty."},
      {&t, std::string(256, 'n'), "Model", add + "name length > .253"},
      {&old_table, std::string(21, 'n'), "Model", add + "name length > .253"},
      {&t, "X", "", add + "empty field name list"},
      {&t, "X", " , ", add + "empty field name list"},
      {&t, "X", "Photo", add + "unsupported field type!"},
      {&t, "X", "Year;Code", add + "unsupported field type!"},
      {&t, "name", "Year", add + "index \"name\" already exists!"},
      {&t, "X", "Year,Nope", "Cannot add index. Field 'Nope' not found - Native error: 01067"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.message);
    const int32_t before = r.table->Indexes().Count();
    EXPECT_EQ(MessageOf([&] { r.table->Indexes().AddIndex(r.name, r.fields, true, "", "", 0); }),
              r.message);
    EXPECT_EQ(r.table->Indexes().Count(), before);
  }
  try {
    t.Indexes().AddIndex("X", "Nope", true, "", "", 0);
    ADD_FAILURE() << "no exception";
  } catch (const EOrvException& e) {
    EXPECT_EQ(e.NativeError(), 1067);
  }
  old_table.Indexes().AddIndex(std::string(20, 'n'), "Model", true, "", "", 0);
  EXPECT_TRUE(t.Indexes().IndexExists("NAME"));
  EXPECT_TRUE(t.Indexes().IndexExists("name"));
  EXPECT_EQ(
      MessageOf([&] { t.Indexes().InternalAddIndex("X", {"Year"}, false, false, 0, {false}, {}); }),
      add + "empty sort orders list");
}

TEST(IndexList, DeleteIndexKeepsTheLastOne) {
  IndexTable t(ModelYear());
  AddCars(t);
  TOrvelIndexList& list = t.Indexes();
  const std::string del = "Error in TOrvelDataManager.DeleteIndex - ";
  EXPECT_EQ(MessageOf([&] { list.DeleteIndex("@ID", true); }), del + "table is not opened.");
  list.CreateAutoIndexes(true);
  EXPECT_EQ(MessageOf([&] { list.DeleteIndex("", true); }), del + "name is empty.");
  EXPECT_EQ(MessageOf([&] { list.DeleteIndex("Nope", true); }),
            del + "index \"Nope\" doesn't exist!");
  EXPECT_EQ(list.DeleteIndex("@model", false), 2);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"@ID", "@@Model", "@Year"}));
  t.ExpectIndexesInOrder();
  list.DeleteIndex("@ID", true);
  list.DeleteIndex("@Year", true);
  EXPECT_EQ(MessageOf([&] { list.DeleteIndex("@@model", true); }),
            "TOrvelDataManager.DeleteIndex - last index deleted!");
  EXPECT_EQ(Names(list), std::vector<std::string>{"@@Model"});
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.TableOpen());
}

TEST(IndexList, TemporaryIndexesGetFreshNamesAndAreNeverSaved) {
  IndexTable t(ModelYear());
  AddCars(t);
  TOrvelIndexList& list = t.Indexes();
  list.CreateAutoIndexes(false);
  const std::string first = list.AddTemporaryIndex("Year;Model", "Model", "Year");
  const std::string second = list.AddTemporaryIndex("Year", "", "");
  for (const std::string& name : {first, second}) {
    EXPECT_EQ(name.rfind("$_IDX_", 0), 0u) << name;
    EXPECT_GT(name.size(), 6u) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789", 6), std::string::npos) << name;
  }
  EXPECT_NE(first, second);
  const IndexHeaderType& h = list.Header(list.IndexNo(first));
  EXPECT_FALSE(h.Ascending(0));
  EXPECT_TRUE(h.CaseInsensitive(1));
  EXPECT_EQ(Names(list)[1], first);
  t.ExpectIndexesInOrder();

  list.SaveIndexFile();
  TOrvelIndexList reopened(t.Files(), t);
  reopened.LoadIndexFile(false);
  EXPECT_EQ(Names(reopened), std::vector<std::string>{"@ID"});
}

}  // namespace
}  // namespace orv
