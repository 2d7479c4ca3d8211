#include "engine/storage/search_parser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/common/collation.h"
#include "platform/exception.h"
#include "platform/locale.h"
#include "platform/value_text.h"
#include "tests/storage/search_table.h"
#include "tests/support/scoped_env.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using testing::SearchTable;

std::vector<FieldHeaderType> CatalogueFields() {
  using testing::Field;
  return {Field("Name", ftString, 20),  Field("Year", ftInteger), Field("Price", ftFloat),
          Field("notes", ftString, 10), Field("Flag", ftBoolean), Field("Wide", ftWideString, 20),
          Field("Born", ftDate)};
}

// Physical record r has identifier r + 1.
void AddCatalogue(SearchTable& t) {
  t.Add({{"Name", "Abc"}, {"Year", 1990}, {"Price", 5.0}, {"notes", "n1"}, {"Flag", 1}});
  t.Add({{"Name", "Ab"}, {"Year", 1991}, {"Price", 12.5}, {"Flag", 0}, {"Wide", "Abz"}});
  t.Add({{"Name", "abd"}, {"Year", 1990}, {"Wide", "ab"}, {"Born", "05.03.2024"}});
  t.Add({{"Price", 1.5}, {"Born", "06.03.2024"}});
  t.Add({{"Name", "Xyz"}, {"Year", 2000}, {"Price", 10.0}, {"notes", "x"}, {"Wide", "Ab"}});
  t.Add({{"Name", "O'Brien"}, {"Year", 1985}, {"Price", 20.0}});
  t.Add({{"Name", "say \"hi\""}, {"Year", 1990}, {"Price", 30.0}});
}

std::set<int32_t> Selected(const TBitsArray& bits) {
  std::set<int32_t> selected;
  for (int32_t r = 0; r < bits.Count(); ++r)
    if (bits.IsSet(r)) selected.insert(r);
  return selected;
}

std::set<int32_t> MatchedOneByOne(TSearchParser& parser, testing::VectorRecords& records) {
  std::set<int32_t> selected;
  for (int32_t r = 0; r < records.RecordCount(); ++r)
    if (parser.MatchesRecord(records.GetRecordPtr(r))) selected.insert(r);
  return selected;
}

std::string ParseError(TSearchParser& parser, const std::string& text, uint8_t options = 0) {
  try {
    parser.SetExpression(text, options);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(parsed)";
}

struct ConditionCase {
  const char* text;
  uint8_t options;
  std::set<int32_t> expected;
};

const ConditionCase kConditions[] = {
    {"Name = 'Ab'", 0, {0, 1}},
    {"Name = 'Ab'", kSearchNoPartial, {1}},
    {"Name = 'Ab*'", 0, {0, 1}},
    {"Name = 'Ab*'", kSearchNoPartial, {}},
    {"Name = 'ab'", kSearchCaseInsensitive, {0, 1, 2}},
    {"Name = ''", 0, {3}},
    {"Name = ''", kSearchNoPartial, {3}},
    {"Name <> ''", 0, {0, 1, 2, 4, 5, 6}},
    {"Name isnull", 0, {3}},
    {"NAME IS NOT NULL", 0, {0, 1, 2, 4, 5, 6}},
    {"Name > 'Ab'", kSearchNoPartial, {0, 2, 4, 5, 6}},
    {"Name < 'Ab'", 0, {3}},
    {"Name <= 'Ab'", 0, {0, 1, 3}},
    {"Name >= 'X'", 0, {2, 4, 6}},
    {"not (Year = 1990)", 0, {1, 3, 4, 5}},
    {"not not Year = 1990", 0, {0, 2, 6}},
    {"Price < 10", 0, {0, 2, 3}},
    {"Year = 1990 or Year = 1991 and Name = 'X'", 0, {0, 2, 6}},
    {"(Year = 1990 or Year = 1991) and Price > 10", 0, {1, 6}},
    {"Year>=1990and Year<=1991", 0, {0, 1, 2, 6}},
    {"Name like 'a%'", kSearchCaseInsensitive, {0, 1, 2}},
    {"Name like 'a%'", 0, {2}},
    {"Name not like 'a%'", 0, {0, 1, 4, 5, 6}},
    {"[notes] = 'x'", 0, {4}},
    {"[ notes ] <> 'x'", 0, {0, 1, 2, 3, 5, 6}},
    {"id = 3", 0, {2}},
    {"ID >= 6", 0, {5, 6}},
    {"Flag = true", 0, {0}},
    {"Flag = FALSE", 0, {1}},
    {"Name = 'O''Brien'", 0, {5}},
    {"Name = \"say \"\"hi\"\"\"", 0, {6}},
    {"Born = '05.03.2024'", 0, {2}},
    {"Born > '05.03.2024'", 0, {3}},
    {"Wide = 'Ab'", 0, {1, 4}},
    {"Wide = 'ab'", kSearchCaseInsensitive, {1, 2, 4}},
    {"Wide like '%z'", 0, {1}},
    {"Price = 1.5", 0, {3}},
    {"Price = +12.5", 0, {1}},
    {"Year = -5 or Year = 2000", 0, {4}},
    {"((Year = 1985)) or (Name = 'Xyz' and (Price = 10))", 0, {4, 5}},
    {"  Year = 1985  ", 0, {5}},
};

using SearchParserLocale = testing::LocaleFixture<InitCollation>;

// Restores the process-wide decimal separator.
class SeparatorGuard {
 public:
  SeparatorGuard() : saved_(DecimalSeparator()) {}
  ~SeparatorGuard() { SetDecimalSeparator(saved_); }

 private:
  char saved_;
};

// Every condition gives the same records through Parse and through MatchesRecord, scanning
// the table and through the automatic indexes. Byte order keeps the expected order of mixed
// case plain.
TEST_F(SearchParserLocale, ConditionsSelectTheSameRecordsEveryWay) {
  Use("C");
  SeparatorGuard separator;
  SetDecimalSeparator('.');
  SearchTable plain(CatalogueFields()), indexed(CatalogueFields());
  AddCatalogue(plain);
  AddCatalogue(indexed);
  indexed.Indexes().CreateAutoIndexes(true);
  TSearchParser plain_parser(plain.Search()), indexed_parser(indexed.Search());
  for (const ConditionCase& c : kConditions) {
    SCOPED_TRACE(c.text);
    SCOPED_TRACE(int(c.options));
    plain_parser.SetExpression(c.text, c.options);
    indexed_parser.SetExpression(c.text, c.options);
    EXPECT_EQ(Selected(plain_parser.Parse()), c.expected);
    EXPECT_EQ(MatchedOneByOne(plain_parser, plain.Records()), c.expected);
    EXPECT_EQ(Selected(indexed_parser.Parse()), c.expected);
    EXPECT_EQ(MatchedOneByOne(indexed_parser, indexed.Records()), c.expected);
  }
}

TEST(SearchParser, ItemsStandInTextOrderAndLoneComparisonsLoseTheirBrackets) {
  SearchTable t(CatalogueFields());
  TSearchParser parser(t.Search());
  auto kinds = [&](const char* text) {
    parser.SetExpression(text, 0);
    std::vector<int> result;
    for (const TSearchOperation& item : parser.Items()) result.push_back(item.Kind);
    return result;
  };
  EXPECT_THAT(kinds("Name = 'Ab' and not (Year = 1990 or Year = 1991)"),
              ElementsAre(sikComparison, sikAnd, sikNot, sikOpenBracket, sikComparison, sikOr,
                          sikComparison, sikCloseBracket));
  EXPECT_THAT(kinds("((Year = 1))"), ElementsAre(sikComparison));
  EXPECT_THAT(kinds("(not Year = 1)"),
              ElementsAre(sikOpenBracket, sikNot, sikComparison, sikCloseBracket));
  EXPECT_THAT(kinds("   "), ElementsAre());

  parser.SetExpression("Name = 'Ab*'", 0);
  const TSearchOperation& item = parser.Items()[0];
  EXPECT_EQ(item.FieldNo, 0);
  EXPECT_EQ(item.FieldName, "Name");
  EXPECT_EQ(item.Operator, soEqual);
  EXPECT_TRUE(item.Partial);
  parser.SetExpression("Name = 'Ab*'", kSearchNoPartial);
  EXPECT_FALSE(parser.Items()[0].Partial);
  parser.SetExpression("Name IS NOT NULL", 0);
  EXPECT_EQ(parser.Items()[0].Operator, soNotEqual);
  parser.SetExpression("Name NOTLIKE 'a%'", 0);
  EXPECT_EQ(parser.Items()[0].Operator, soNotLike);
}

TEST(SearchParser, EveryErrorHasItsMessage) {
  SearchTable t(CatalogueFields());
  TSearchParser parser(t.Search());
  struct {
    const char* text;
    const char* message;
  } const cases[] = {
      {"[  ] = 1", "Invalid field name \"  \""},
      {"[Name = 1", "Closing square bracket \"]\" expected, but not found in \"[Name = 1\""},
      {"Name ! 'a'", "Operator expected, but \"! 'a'\"  found"},
      {"Name = 'abc", "Unterminated string abc"},
      {"Flag = tru", "Unexpected meet of \"tru\"  found"},
      {"Year = abc", "Number expected, but \"abc\"  found"},
      {"Year =", "Number expected, but \"\"  found"},
      {"Year = 1 Name = 'x'", "End of line expected, but \"Name = 'x'\" found"},
      {"Price = 1.5 x", "End of line expected, but \"x\" found"},
      {"Year = 1)", "End of line expected, but \")\" found"},
      {"(Year = 1", "Closing bracket \")\" expected, but \"\"  found"},
      {"notes = 'x'", "Error in TOrvelDataManager.InternalGetFieldNo - field \"es\" not found!"},
      {"Bogus = 1", "Error in TOrvelDataManager.InternalGetFieldNo - field \"Bogus\" not found!"},
      {"Year like '19%'",
       "Error in TOrvelDataSet.PrepareValueBuffer - 'like / not like' operation call with not "
       "string field!"},
      {"Year = 1.5", "'1.5' is not a valid integer value"},
      {"Year = 1-2", "'1-2' is not a valid integer value"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseError(parser, c.text), c.message) << c.text;

  const std::string deep = std::string(200, '(') + "Year = 1" + std::string(200, ')');
  EXPECT_THAT(ParseError(parser, deep), ::testing::StartsWith("Condition nested too deeply"));
  std::string nots;
  for (int i = 0; i < 200; ++i) nots += "not ";
  EXPECT_THAT(ParseError(parser, nots + "Year = 1"),
              ::testing::StartsWith("Condition nested too deeply"));
}

TEST(SearchParser, NothingIsEvaluatedWithoutASuccessfulParse) {
  SearchTable t(CatalogueFields());
  AddCatalogue(t);
  TSearchParser parser(t.Search());
  const uint8_t* record = t.Records().GetRecordPtr(0);
  EXPECT_THROW(
      {
        try {
          parser.Parse();
        } catch (const Exception& e) {
          EXPECT_EQ(e.Message(), "TSearchParser.Parse - Expression is blank.");
          throw;
        }
      },
      Exception);
  parser.SetExpression(" ", 0);
  EXPECT_THROW(parser.Parse(), Exception);
  EXPECT_THROW(parser.MatchesRecord(record), Exception);

  EXPECT_THROW(parser.SetExpression("Year = 1990 and Bogus = 1", 0), Exception);
  EXPECT_EQ(parser.ItemCount(), 2);  // the comparison and the "and" read before the error
  EXPECT_THROW(parser.Parse(), Exception);
  EXPECT_THROW(parser.MatchesRecord(record), Exception);

  parser.SetExpression("Year = 1990", 0);
  EXPECT_EQ(Selected(parser.Parse()), (std::set<int32_t>{0, 2, 6}));
}

TEST(SearchParser, ResultFollowsTheRecordCount) {
  SearchTable t(CatalogueFields());
  TSearchParser parser(t.Search());
  parser.SetExpression("Year = 1990 or Name = 'X' and Price > 1", 0);
  EXPECT_EQ(parser.Parse().Count(), 0);
  AddCatalogue(t);
  EXPECT_EQ(Selected(parser.Parse()), (std::set<int32_t>{0, 2, 4, 6}));
  t.Add({{"Year", 1990}});
  EXPECT_EQ(Selected(parser.Parse()), (std::set<int32_t>{0, 2, 4, 6, 7}));
}

// "and" and "or" skip the right operand once the left one decides.
TEST(SearchParser, MatchesRecordShortCircuits) {
  SearchTable t(CatalogueFields());
  AddCatalogue(t);
  TSearchParser parser(t.Search());
  const uint8_t* record = t.Records().GetRecordPtr(0);  // Year 1990
  const uint64_t before = t.Search().MatchTestCount();
  parser.SetExpression("Year = 1990 or Name = 'x' or Price = 1", 0);
  EXPECT_TRUE(parser.MatchesRecord(record));
  parser.SetExpression("Year = 1991 and (Name = 'x' or Price = 1)", 0);
  EXPECT_FALSE(parser.MatchesRecord(record));
  EXPECT_EQ(t.Search().MatchTestCount() - before, 2u);
}

// A filter on an indexed field reads the index range by binary search instead of testing
// every record.
TEST(SearchParser, IndexedFieldIsEvaluatedThroughTheIndexRange) {
  SearchTable t({testing::Field("Year", ftInteger), testing::Field("Name", ftString, 10)});
  for (int i = 0; i < 2000; ++i) t.Add({{"Year", 1900 + i % 100}, {"Name", "n"}});
  TSearchParser parser(t.Search());

  parser.SetExpression("Year = 1950", 0);
  uint64_t tests = t.Search().MatchTestCount();
  EXPECT_EQ(Selected(parser.Parse()).size(), 20u);
  EXPECT_EQ(t.Search().MatchTestCount() - tests, 2000u);  // no index: every record

  t.Indexes().CreateAutoIndexes(true);
  t.Indexes().BuildAllIndexes();
  for (const char* text : {"Year = 1950", "Year < 1950", "Year >= 1999", "Year <> 1950"}) {
    SCOPED_TRACE(text);
    parser.SetExpression(text, 0);
    tests = t.Search().MatchTestCount();
    const uint64_t reads = t.Records().reads;
    const TBitsArray& result = parser.Parse();
    EXPECT_EQ(t.Search().MatchTestCount(), tests);
    EXPECT_LT(t.Records().reads - reads, 50u);
    parser.SetExpression(text, 0);
    EXPECT_EQ(Selected(result), MatchedOneByOne(parser, t.Records()));
  }
}

TEST_F(SearchParserLocale, NumbersUseTheLocaleDecimalSeparator) {
  SeparatorGuard separator;
  Use("ru_RU.UTF-8");
  SetDecimalSeparator(LocaleDecimalSeparator());
  ASSERT_EQ(DecimalSeparator(), ',');
  SearchTable t(CatalogueFields());
  AddCatalogue(t);
  TSearchParser parser(t.Search());
  parser.SetExpression("Price = 1,5 or Price = 12,5", 0);
  EXPECT_EQ(Selected(parser.Parse()), (std::set<int32_t>{1, 3}));
  EXPECT_EQ(ParseError(parser, "Price = 1.5"), "End of line expected, but \".5\" found");
}

}  // namespace
}  // namespace orv
