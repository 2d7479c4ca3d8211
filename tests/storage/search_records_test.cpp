#include "engine/storage/search_records.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/common/collation.h"
#include "engine/files/little_endian.h"
#include "engine/storage/search_parser.h"
#include "engine/storage/stored_bytes.h"
#include "platform/exception.h"
#include "platform/value_text.h"
#include "platform/variant.h"
#include "tests/storage/search_table.h"
#include "tests/support/scoped_env.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using testing::Field;
using testing::SearchTable;

std::string Message(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no exception)";
}

TSearchOperation Comparison(TOrvelRecordSearch& search, const std::string& field,
                            TSearchOperator op, const std::string& text, bool partial = false) {
  TSearchOperation item;
  item.FieldName = field;
  item.FieldNo = search.Table().InternalGetFieldNo(field, true);
  item.Operator = op;
  item.Partial = partial;
  search.PrepareValueBuffer(item.FieldNo, item.Operator, item.ValueBuffer, text);
  return item;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> bytes) {
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
std::vector<uint8_t> F64Bytes(double value) {
  std::vector<uint8_t> bytes(8);
  StoreF64(bytes.data(), value);
  return bytes;
}
std::vector<uint8_t> I32Bytes(int32_t value, size_t size = 4) {
  std::vector<uint8_t> bytes(size, 0);
  StoreI32(bytes.data(), value);
  return bytes;
}

class SearchValueBuffer : public ::testing::Test {
 protected:
  SearchTable t_{{Field("S", ftString, 5), Field("Sm", ftSmallint), Field("I", ftInteger),
                  Field("W", ftWord), Field("B", ftBoolean), Field("F", ftFloat),
                  Field("C", ftCurrency), Field("D", ftDate), Field("T", ftTime),
                  Field("DT", ftDateTime), Field("WS", ftWideString, 6), Field("L", ftLargeint),
                  Field("Bcd", ftBCD), Field("By", ftBytes, 4)}};

  std::vector<uint8_t> Slot(const TSearchOperation& item) const {
    const auto f = static_cast<size_t>(item.FieldNo);
    const uint8_t* slot = item.ValueBuffer.data() + t_.Table().Geometry().FieldOffsets[f];
    return std::vector<uint8_t>(slot, slot + t_.Table().Fields()[f].Size);
  }
  bool AllNull(const TSearchOperation& item, bool null) const {
    for (size_t f = 0; f < t_.Table().Fields().size(); ++f)
      if (t_.Table().Geometry().IsNull(item.ValueBuffer.data(), int32_t(f)) != null) return false;
    return true;
  }
};

TEST_F(SearchValueBuffer, StoresTheTextAsTheFieldStoresItsValue) {
  TDateTime day, time;
  ASSERT_TRUE(TryEncodeDate(2024, 3, 5, &day));
  ASSERT_TRUE(TryEncodeTime(9, 5, 3, 250, &time));
  const int32_t day_number = int32_t(day) + kDateDelta;
  const int32_t msecs = ((9 * 60 + 5) * 60 + 3) * 1000 + 250;
  std::vector<uint8_t> wide = Bytes({'a', 0, 0x34, 0x04, 'c', 0, 0, 0});  // "aдc", cut to 3
  std::vector<uint8_t> large(8);
  StoreI64(large.data(), -9000000000);
  struct {
    const char* field;
    std::string text;
    std::vector<uint8_t> slot;
  } const cases[] = {
      {"S", "abcdefg", Bytes({'a', 'b', 'c', 'd', 'e', 0})},
      {"S", "ab", Bytes({'a', 'b', 0, 0, 0, 0})},
      {"Sm", "-2", Bytes({0xFE, 0xFF})},
      {"Sm", "32767", Bytes({0xFF, 0x7F})},
      {"I", "70000", I32Bytes(70000)},
      {"W", "65535", Bytes({0xFF, 0xFF})},
      {"B", "TRUE", Bytes({1, 0})},
      {"B", "yes", Bytes({0, 0})},
      {"F", "1.5", F64Bytes(1.5)},
      {"C", "-12.25", F64Bytes(-12.25)},
      {"D", "05.03.2024", I32Bytes(day_number, 8)},
      {"T", "9:05:03.250", I32Bytes(msecs, 8)},
      {"DT", "05.03.2024 9:05:03.250", F64Bytes(double(day_number) * 86400000.0 + msecs)},
      {"WS",
       "a\xE4"
       "cdef",
       wide},
      {"L", "-9000000000", large},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + c.text);
    const TSearchOperation item = Comparison(t_.Search(), c.field, soEqual, c.text);
    EXPECT_EQ(item.ValueBuffer.size(), size_t(t_.Table().Geometry().BufferSize()));
    EXPECT_EQ(Slot(item), c.slot);
    EXPECT_TRUE(AllNull(item, false));
  }
}

TEST_F(SearchValueBuffer, IdentifierTakesTheNumberAndOthersTheNextIdentifier) {
  t_.Table().Header().LastRecordId = 41;
  const TRecordGeometry& g = t_.Table().Geometry();
  TSearchOperation id = Comparison(t_.Search(), "id", soEqual, "7");
  EXPECT_EQ(id.FieldNo, kIdentifierFieldNo);
  EXPECT_EQ(LoadI32(id.ValueBuffer.data() + g.IdentifierOffset()), 7);
  TSearchOperation other = Comparison(t_.Search(), "I", soEqual, "1");
  EXPECT_EQ(LoadI32(other.ValueBuffer.data() + g.IdentifierOffset()), 42);
}

TEST_F(SearchValueBuffer, NullSearchesBecomeComparisonsWithANullBuffer) {
  struct {
    TSearchOperator op;
    const char* text;
    TSearchOperator becomes;
    bool null;
  } const cases[] = {
      {soIsNull, "", soEqual, true},       {soEqual, "", soEqual, true},
      {soIsNotNull, "", soNotEqual, true}, {soNotEqual, "", soNotEqual, true},
      {soLess, "1", soLess, false},        {soEqual, "1", soEqual, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.op));
    const TSearchOperation item = Comparison(t_.Search(), "I", c.op, c.text);
    EXPECT_EQ(item.Operator, c.becomes);
    EXPECT_TRUE(AllNull(item, c.null));
  }
}

TEST_F(SearchValueBuffer, RefusesWhatTheFieldCannotHold) {
  constexpr const char* kLike =
      "Error in TOrvelDataSet.PrepareValueBuffer - 'like / not like' operation call with not "
      "string field!";
  constexpr const char* kUnsupported =
      "Error in TOrvelDataSet.PrepareValueBuffer - unsupported field type!";
  struct {
    const char* field;
    TSearchOperator op;
    const char* text;
    std::string message;
  } const cases[] = {
      {"I", soLike, "1%", kLike},
      {"I", soNotLike, "", kLike},
      {"id", soLike, "1%", kLike},
      {"Bcd", soEqual, "1", kUnsupported},
      {"By", soEqual, "ab", kUnsupported},
      {"Sm", soEqual, "40000", "'40000' is not a valid integer value"},
      {"W", soEqual, "-1", "'-1' is not a valid integer value"},
      {"I", soEqual, "3000000000", "'3000000000' is not a valid integer value"},
      {"F", soEqual, "x", "'x' is not a valid floating point value"},
      {"D", soEqual, "31.02.2024", "'31.02.2024' is not a valid date and time"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + c.text);
    EXPECT_EQ(Message([&] { Comparison(t_.Search(), c.field, c.op, c.text); }), c.message);
  }
  TSearchOperator op = soEqual;
  std::vector<uint8_t> buffer;
  EXPECT_THROW(t_.Search().PrepareValueBuffer(14, op, buffer, "1"), Exception);
  EXPECT_THROW(t_.Search().PrepareValueBuffer(-2, op, buffer, "1"), Exception);
}

TEST(SearchRecordMatch, NullIsSmallerThanEveryValue) {
  SearchTable t({Field("I", ftInteger), Field("S", ftString, 10)});
  const uint8_t* five = t.Records().images[t.Add({{"I", 5}, {"S", "x"}})].data();
  const uint8_t* null = t.Records().images[t.Add({})].data();
  TOrvelRecordSearch& search = t.Search();
  struct {
    TSearchOperator op;
    const char* text;
    bool five, null;
  } const cases[] = {
      {soEqual, "10", false, false},   {soNotEqual, "10", true, true},
      {soLess, "10", true, true},      {soLessOrEqual, "10", true, true},
      {soGreater, "10", false, false}, {soGreaterOrEqual, "10", false, false},
      {soEqual, "5", true, false},     {soGreaterOrEqual, "5", true, false},
      {soIsNull, "", false, true},     {soIsNotNull, "", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.op));
    const TSearchOperation item = Comparison(search, "I", c.op, c.text);
    EXPECT_EQ(search.IsRecordMatches(item, 0, five), c.five);
    EXPECT_EQ(search.IsRecordMatches(item, 0, null), c.null);
  }
  // A null string matches neither like nor not like.
  for (TSearchOperator op : {soLike, soNotLike}) {
    const TSearchOperation item = Comparison(search, "S", op, "%");
    EXPECT_FALSE(search.IsRecordMatches(item, 0, null));
  }
  TSearchOperation raw = Comparison(search, "I", soEqual, "5");
  raw.Operator = soIsNull;
  EXPECT_EQ(Message([&] { search.IsRecordMatches(raw, 0, five); }),
            "TOrvelDataSet.IsRecordMatches - Unsupported search operation in "
            "TOrvelDataSet.IsRecordMatches");
  TSearchOperation unprepared;
  EXPECT_THROW(search.IsRecordMatches(unprepared, 0, five), Exception);
}

// Random values over a small alphabet, so that prefixes, case and nulls all meet.
void AddRandomRecords(SearchTable& t, int count, uint32_t seed) {
  std::mt19937 random(seed);
  const char alphabet[] = "abAB";
  auto text = [&] {
    std::string s(random() % 4, ' ');
    for (char& c : s) c = alphabet[random() % 4];
    return s;
  };
  for (int i = 0; i < count; ++i) {
    const std::string name = text(), wide = text();
    const int64_t year = int64_t(random() % 12);
    if (random() % 7 == 0)
      t.Add({{"Wide", wide}});
    else if (name.empty())
      t.Add({{"Year", year}, {"Wide", wide}});
    else
      t.Add({{"Name", name}, {"Year", year}, {"Wide", wide}});
  }
}

std::vector<FieldHeaderType> RandomFields() {
  return {Field("Name", ftString, 5), Field("Year", ftInteger), Field("Wide", ftWideString, 5)};
}

using SearchIndexRange = testing::LocaleFixture<InitCollation>;

// Evaluation through an index gives what testing every record gives, for every operator,
// value, option and mode, in index order.
TEST_F(SearchIndexRange, AgreesWithTestingEveryRecord) {
  for (const char* locale : {"C", "ru_RU.UTF-8"}) {
    SCOPED_TRACE(locale);
    Use(locale);
    SearchTable plain(RandomFields()), indexed(RandomFields());
    AddRandomRecords(plain, 300, 7);
    AddRandomRecords(indexed, 300, 7);
    indexed.Indexes().CreateAutoIndexes(true);
    const std::vector<std::pair<const char*, std::vector<const char*>>> values = {
        {"Name", {"a", "ab", "B", "aBa", "bbbb"}},
        {"Year", {"0", "5", "11", "20"}},
        {"Wide", {"a", "ab", "B", "aBa"}},
    };
    for (const auto& [field, texts] : values) {
      for (const char* text : texts) {
        for (int op = soEqual; op <= soGreater; ++op) {
          for (uint8_t options = 0; options < 4; ++options) {
            SCOPED_TRACE(fmt::format("{} {} {} options {}", field, op, text, options));
            const bool partial = (options & kSearchNoPartial) == 0;
            auto item = [&](SearchTable& t) {
              return Comparison(t.Search(), field, TSearchOperator(op), text, partial);
            };
            std::vector<int32_t> expected, got;
            const int32_t count = plain.Search().GetMatchedRecordsArray(
                item(plain), options, &expected, TMatchMode::kAll);
            const uint64_t tests = indexed.Search().MatchTestCount();
            const TSearchOperation indexed_item = item(indexed);
            EXPECT_EQ(indexed.Search().GetMatchedRecordsArray(indexed_item, options, &got,
                                                              TMatchMode::kAll),
                      count);
            if (std::string(field) != "Wide" || !partial) {
              EXPECT_EQ(indexed.Search().MatchTestCount(), tests);
            }
            EXPECT_EQ(std::set<int32_t>(got.begin(), got.end()),
                      std::set<int32_t>(expected.begin(), expected.end()));
            EXPECT_EQ(indexed.Search().GetMatchedRecordsArray(indexed_item, options, nullptr,
                                                              TMatchMode::kCount),
                      count);
            std::vector<int32_t> first;
            indexed.Search().GetMatchedRecordsArray(indexed_item, options, &first,
                                                    TMatchMode::kFirst);
            EXPECT_EQ(first,
                      count == 0 ? std::vector<int32_t>{} : std::vector<int32_t>{got.front()});
          }
        }
      }
    }
  }
}

TEST(SearchIndexRangeOrder, MatchesComeInIndexOrder) {
  SearchTable t({Field("Year", ftInteger)});
  for (int year : {5, 3, 9, 3, 7}) t.Add({{"Year", year}});
  t.Add({});
  std::vector<int32_t> records;
  TOrvelRecordSearch& search = t.Search();
  search.GetMatchedRecordsArray(Comparison(search, "Year", soLess, "8"), 0, &records,
                                TMatchMode::kAll);
  EXPECT_THAT(records, ElementsAre(0, 1, 3, 4, 5));  // physical order without an index
  t.Indexes().CreateAutoIndexes(true);
  search.GetMatchedRecordsArray(Comparison(search, "Year", soLess, "8"), 0, &records,
                                TMatchMode::kAll);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0], 5);  // null first
  EXPECT_EQ(std::set<int32_t>(records.begin() + 1, records.begin() + 3), (std::set<int32_t>{1, 3}));
  EXPECT_THAT(std::vector<int32_t>(records.begin() + 3, records.end()), ElementsAre(0, 4));

  EXPECT_EQ(Message([&] {
              search.GetMatchedRecordsArray(Comparison(search, "Year", soLike, ""), 0, &records,
                                            TMatchMode::kAll);
            }),
            "Error in TOrvelDataSet.PrepareValueBuffer - 'like / not like' operation call with "
            "not string field!");
}

TEST(SearchIndexRangeOrder, LikeIsRefusedWhereAnIndexFits) {
  SearchTable t({Field("Name", ftString, 10)});
  t.Add({{"Name", "abc"}});
  TOrvelRecordSearch& search = t.Search();
  const TSearchOperation like = Comparison(search, "Name", soLike, "a%");
  EXPECT_EQ(search.GetMatchedRecordsArray(like, 0, nullptr, TMatchMode::kCount), 1);
  t.Indexes().CreateAutoIndexes(true);
  EXPECT_EQ(Message([&] { search.GetMatchedRecordsArray(like, 0, nullptr, TMatchMode::kAll); }),
            "TOrvelDataSet.GetMatchedRecordsArray - Like operator is not supported in "
            "GetMatchedRecordsArray procedure.");
  TBitsArray bits(1);
  search.EvaluateSearchOperation(like, 0, bits);  // evaluates like by itself
  EXPECT_TRUE(bits.IsSet(0));
  TBitsArray wrong(2);
  EXPECT_THROW(search.EvaluateSearchOperation(like, 0, wrong), Exception);
}

TEST(SearchFindIndex, PicksTheFirstIndexWhoseOrderServesTheSearch) {
  SearchTable t({Field("Name", ftString, 10), Field("Year", ftInteger), Field("Tag", ftString, 5)});
  t.Add({{"Name", "a"}, {"Year", 1}});
  TOrvelIndexList& indexes = t.Indexes();
  indexes.CreateAutoIndexes(false);                                             // 0 @id
  indexes.AddIndex("ByName", "Name", true, "", "", 0);                          // 1
  indexes.AddIndex("ByYearName", "Year;Name", true, "", "Name", 0);             // 2
  indexes.AddIndex("ByNameCi", "Name", true, "Name", "", 0);                    // 3: case bit only
  indexes.AddIndex("ByYearDesc", "Year", true, "", "", kIxDescending);          // 4
  indexes.AddIndex("ByTagYear", "Tag;Year", true, "", "", kIxCaseInsensitive);  // 5
  struct {
    const char* fields;
    const char* descending;
    bool case_sensitive;
    int32_t index;
  } const cases[] = {
      {"id", "", true, 0},
      {"name", "", true, 1},
      {"Name", "", false, 3},
      {"Year;Name", "", true, -1},
      {"Year ; name", "NAME", true, 2},
      {"Year", "", true, -1},  // both Year indexes have descending fields
      {"Year", "Year", true, 4},
      {"Year", "*", true, 2},
      {"Tag", "", true, -1},
      {"Tag,Year", "", false, 5},
      {"Tag;Year;Name", "", false, -1},
      {"Bogus", "", true, -1},
      {"", "", true, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fields) + " / " + c.descending);
    EXPECT_EQ(t.Search().FindIndexForFields(c.fields, c.descending, c.case_sensitive), c.index);
  }
}

class SearchLocate : public ::testing::Test {
 protected:
  SearchLocate() {
    for (int i = 0; i < 2000; ++i) t_.Add({{"Year", 1900 + i % 100}, {"Name", "n"}});
    t_.Indexes().CreateAutoIndexes(false);
    t_.Indexes().AddIndex("ByYear", "Year", true, "", "", 0);
    t_.Indexes().AddIndex("ByPriceDesc", "Price", true, "", "", kIxDescending);
    for (int32_t r = 0; r < t_.Records().RecordCount(); ++r) all_.push_back(r);
    scope_.Visible = all_;
  }

  int32_t Locate(const char* fields, const Variant& values, uint8_t options = kSearchNoPartial) {
    return t_.Search().PrepareAndLocate(fields, values, options, soEqual, scope_);
  }

  SearchTable t_{{Field("Year", ftInteger), Field("Name", ftString, 10), Field("Price", ftFloat),
                  Field("Wide", ftWideString, 10), Field("When", ftDateTime)}};
  std::vector<int32_t> all_;
  TLocateScope scope_;
};

TEST_F(SearchLocate, NullFindsNothingAndTestsNothing) {
  const uint64_t tests = t_.Search().MatchTestCount();
  EXPECT_EQ(Locate("Name", Variant::Null()), -1);
  EXPECT_EQ(Locate("Year;Name", Variant::ArrayOf({Variant(1950), Variant::Null()})), -1);
  EXPECT_EQ(t_.Search().MatchTestCount(), tests);
}

TEST_F(SearchLocate, ValuesOfEveryVariantTypeFindTheirRecord) {
  const int32_t third = t_.Add({{"Price", 1.0 / 3}, {"Name", "Third"}});
  const int32_t stamp = t_.Add({{"When", "05.03.2024 9:05:03.250"}});
  const int32_t wide = t_.Add({});
  const TRecordGeometry& g = t_.Table().Geometry();
  uint8_t* slot = t_.Records().images[wide].data() + g.FieldOffsets[3];
  const std::u16string kanji = u"\u65E5\u672C";
  for (size_t i = 0; i < kanji.size(); ++i) {
    slot[2 * i] = uint8_t(kanji[i]);
    slot[2 * i + 1] = uint8_t(kanji[i] >> 8);
  }
  g.SetNull(t_.Records().images[wide].data(), 3, false);
  all_.assign({third, stamp, wide, 5, 6, 1950});
  scope_.Visible = all_;
  TDateTime when, time;
  ASSERT_TRUE(TryEncodeDate(2024, 3, 5, &when));
  ASSERT_TRUE(TryEncodeTime(9, 5, 3, 250, &time));

  EXPECT_EQ(Locate("Price", Variant(1.0 / 3)), third);
  EXPECT_EQ(Locate("When", Variant::FromDate(when + time)), stamp);
  EXPECT_EQ(Locate("Wide", Variant(kanji)), wide);
  EXPECT_EQ(Locate("Year", Variant::FromSmallint(1905)), 5);
  EXPECT_EQ(Locate("Year", Variant::FromWord(1906)), 6);
  EXPECT_EQ(Locate("Year", Variant(int64_t(1950))), 1950);
  EXPECT_EQ(Locate("Year", Variant("1950")), 1950);
  EXPECT_EQ(Locate("name", Variant("thi"), kSearchCaseInsensitive), third);
  EXPECT_EQ(Locate("Name", Variant("Thi")), -1);  // whole value
  EXPECT_EQ(Locate("Name", Variant("Thi"), 0), third);

  EXPECT_EQ(Message([&] { Locate("Year", Variant()); }),
            "TOrvelDataset.PrepareAndLocate - Unsupported variant type 0");
  EXPECT_EQ(Message([&] { Locate("Year", Variant::FromLongWord(1)); }),
            "TOrvelDataset.PrepareAndLocate - Unsupported variant type 19");
  EXPECT_EQ(Message([&] { Locate("Bogus", Variant(1)); }),
            "Error in TOrvelDataManager.InternalGetFieldNo - field \"Bogus\" not found!");
  EXPECT_THROW(Locate("Year;Name", Variant::ArrayOf({Variant(1)})), Exception);
}

TEST_F(SearchLocate, OnlyVisibleRecordsAreFound) {
  std::vector<int32_t> visible = {10, 11, 12};
  scope_.Visible = visible;
  EXPECT_EQ(Locate("Year", Variant(1950)), -1);
  EXPECT_EQ(Locate("Year", Variant(1911)), 11);
  scope_.Visible = {};
  EXPECT_EQ(Locate("Year", Variant(1911)), -1);

  scope_.Visible = all_;
  scope_.IsVisible = [](int32_t r) { return r >= 1000; };
  EXPECT_EQ(Locate("Year;Name", Variant::ArrayOf({Variant(1950), Variant("n")})), 1050);
  scope_.IsVisible = [](int32_t) { return false; };
  EXPECT_EQ(Locate("Year;Name", Variant::ArrayOf({Variant(1950), Variant("n")})), -1);

  std::vector<int32_t> stale = {5000};
  scope_.Visible = stale;
  scope_.IsVisible = nullptr;
  EXPECT_THROW(Locate("Name", Variant("n")), Exception);
}

TEST_F(SearchLocate, ManySurvivorsGiveTheFirstVisibleOneFewTheFirstInIndexOrder) {
  std::reverse(all_.begin(), all_.end());
  scope_.Visible = all_;
  // 20 survivors: the first met in the (reversed) visible list.
  EXPECT_EQ(Locate("Year;Name", Variant::ArrayOf({Variant(1950), Variant("n")})), 1950);

  // 3 survivors: the one first in the current index, Price descending.
  const int32_t low = t_.Add({{"Year", 3000}, {"Price", 1.0}});
  const int32_t high = t_.Add({{"Year", 3000}, {"Price", 9.0}});
  const int32_t mid = t_.Add({{"Year", 3000}, {"Price", 5.0}});
  all_.assign({low, mid, high});
  scope_.Visible = all_;
  scope_.CurrentIndex = t_.Indexes().IndexNo("ByPriceDesc");
  EXPECT_EQ(Locate("Year", Variant(3000)), high);
  scope_.CurrentIndex = -1;
  EXPECT_EQ(Locate("Year", Variant(3000)), low);
  EXPECT_TRUE(t_.Records().AllUnlocked());
}

// The leading item is the first whose count stays within 5 percent; the others are only
// tested on its matches.
TEST_F(SearchLocate, LeadsWithTheFirstSelectiveItem) {
  TOrvelRecordSearch& search = t_.Search();
  const std::vector<TSearchOperation> year_first = {Comparison(search, "Year", soEqual, "1950"),
                                                    Comparison(search, "Name", soEqual, "n")};
  const std::vector<TSearchOperation> name_first = {year_first[1], year_first[0]};
  uint64_t tests = search.MatchTestCount();
  EXPECT_EQ(search.LocateRecord(year_first, kSearchNoPartial, scope_), 50);
  EXPECT_EQ(search.MatchTestCount() - tests, 20u);
  tests = search.MatchTestCount();
  EXPECT_EQ(search.LocateRecord(name_first, kSearchNoPartial, scope_), 50);
  EXPECT_EQ(search.MatchTestCount() - tests, 2000u + 20u);
  EXPECT_EQ(search.LocateRecord({}, 0, scope_), -1);
}

// The parser's find evaluates "not" over the whole table too.
TEST_F(SearchLocate, NotInAFind) {
  TSearchParser parser(t_.Search());
  parser.SetExpression("not (Year = 1990) and not Year < 1998", kSearchNoPartial);
  const TBitsArray& found = parser.Parse();
  int32_t count = 0;
  for (int32_t r = 0; r < found.Count(); ++r) count += found.IsSet(r) ? 1 : 0;
  EXPECT_EQ(count, 40);
  EXPECT_TRUE(found.IsSet(98) && found.IsSet(99) && !found.IsSet(90));
}

}  // namespace
}  // namespace orv
