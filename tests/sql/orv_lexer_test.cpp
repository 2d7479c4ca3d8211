#include "engine/sql/orv_lexer.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/orv_exception.h"
#include "platform/codepage.h"
#include "platform/value_text.h"

namespace orv {
namespace {

// "kind:text" for each token of each command, commands separated by "|".
std::string Tokens(const TOrvelLexer& lexer) {
  static const char* const kKinds[] = {"none", "word",  "quoted", "bracketed", "int", "float",
                                       "rw",   "param", "(",      ")",         ",",   "."};
  std::string out;
  for (const TSQLCommand& command : lexer.Commands()) {
    if (!out.empty()) out += " | ";
    std::string line;
    for (const TToken& token : command.Tokens) {
      if (!line.empty()) line += ' ';
      line += kKinds[token.TokenType];
      if (token.TokenType == tktReservedWord)
        line += fmt::format("{}", token.ReservedWord);
      else if (token.TokenType != tktLeftParenthesis && token.TokenType != tktRightParenthesis &&
               token.TokenType != tktComma && token.TokenType != tktDot)
        line += ":" + token.Text;
    }
    out += line;
  }
  return out;
}

std::string Lex(const std::string& sql, const TOrvParams* params = nullptr) {
  return Tokens(TOrvelLexer(sql, params));
}

TEST(OrvLexer, SplitsTextIntoTokensOfTheirKinds) {
  struct Case {
    std::string sql, tokens;
  };
  const std::vector<Case> cases = {
      {"a.b", "word:a . word:b"},
      {"1.5 .5 2e10 1.5e-3 1E+5", "float:1.5 float:.5 float:2e10 float:1.5e-3 float:1E+5"},
      {"12", "int:12"},
      {"1-2 a-b a+1", "int:1 word:- int:2 word:a word:- word:b word:a word:+ int:1"},
      {"x>=1", "word:x word:>= int:1"},
      {"a<>b a<b a>b a<=b",
       "word:a word:<> word:b word:a word:< word:b word:a word:> word:b "
       "word:a word:<= word:b"},
      {"!=", "word:! word:="},
      {"a||b", "word:a word:|| word:b"},
      {"f(x, y)", "word:f ( word:x , word:y )"},
      {"t.*", "word:t . word:*"},
      {"a/b*c", "word:a word:/ word:b word:* word:c"},
      {"'It''s'", "quoted:It's"},
      {"\"say \"\"hi\"\"\" 'a\"b'", "quoted:say \"hi\" quoted:a\"b"},
      {"[Order Date] [a]]b]", "bracketed:Order Date bracketed:a]b"},
      {"[SELECT] SELECT select Absolute", "bracketed:SELECT rw179 rw179 rw0"},
      {"END-EXEC", "rw73 word:- rw78"},
      {"ab/*c*/cd", "word:abcd"},
      {"ab--c\ncd", "word:ab word:cd"},
      {"select /* open", "rw179"},
      {"a:p :q.x", "word:a param:p param:q . word:x"},
      {"\xCF\xF0\xE8\xE2\xE5\xF2 = '\xC6'", "word:\xCF\xF0\xE8\xE2\xE5\xF2 word:= quoted:\xC6"},
      {"'' x", "quoted: word:x"},
      {"select * from t; select * from u", "rw179 word:* rw90 word:t | rw179 word:* rw90 word:u"},
      {"select ';' ;; ; x", "rw179 quoted:; | word:x"},
      {"(a)) (", "( word:a ) ) ("},  // the depth is only checked at the end of a command
  };
  for (const Case& c : cases) EXPECT_EQ(Lex(c.sql), c.tokens) << c.sql;
}

TEST(OrvLexer, EmptyAndCommentOnlyTextsHaveNoCommands) {
  for (const char* sql : {"", "  \r\n\t", "-- nothing", "/* nothing */ ; ;", "/* open"})
    EXPECT_EQ(TOrvelLexer(sql, nullptr).CommandCount(), 0) << sql;
}

TEST(OrvLexer, TokensCarryTheirLineAndColumn) {
  TOrvelLexer lexer("select a,\r\n  b -- note\n'x\ny' c /* \n */ d", nullptr);
  ASSERT_EQ(lexer.CommandCount(), 1);
  struct Place {
    std::string text;
    int line, column;
  };
  const std::vector<Place> expected = {{"select", 1, 1}, {"a", 1, 8}, {",", 1, 9}, {"b", 2, 3},
                                       {"x\ny", 3, 1},   {"c", 4, 4}, {"d", 5, 5}};
  const auto& tokens = lexer.Commands()[0].Tokens;
  ASSERT_EQ(tokens.size(), expected.size());
  for (size_t i = 0; i < tokens.size(); ++i) {
    EXPECT_EQ(tokens[i].Text, expected[i].text);
    EXPECT_EQ(tokens[i].Line, expected[i].line) << expected[i].text;
    EXPECT_EQ(tokens[i].Column, expected[i].column) << expected[i].text;
    EXPECT_EQ(tokens[i].ReservedWord, i == 0 ? rwSELECT : kAnyReservedWord);
  }
}

TEST(OrvLexer, UnbalancedAndUnterminatedConstructsFailWhereTheyStart) {
  struct Case {
    std::string sql;
    int native_error;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"(a", 1, "Missing right parenthesis at line 1, column 1"},
      {"a)", 2, "Unexpected symbol ')' found at line 1, column 2"},
      {"x = 1\n  and ((y) or (z", 1, "Missing right parenthesis at line 2, column 15"},
      {"select 'abc", 3, "Unterminated string at line 1, column 8"},
      {"select\n  [abc]] def", 3, "Unterminated string at line 2, column 3"},
      {"select \"a;\nb", 3, "Unterminated string at line 1, column 8"},
      {"select 1; select (2; select 3", 1, "Missing right parenthesis at line 1, column 18"},
      {"(a 'b", 1, "Missing right parenthesis at line 1, column 1"},
      {"12ab", 44, "Invalid numeric symbol 'a' at line 1, column 3"},
      {"x =\n 1.5x", 44, "Invalid numeric symbol 'x' at line 2, column 5"},
  };
  for (const Case& c : cases) {
    try {
      TOrvelLexer lexer(c.sql, nullptr);
      ADD_FAILURE() << c.sql << " was accepted";
    } catch (const EOrvException& e) {
      EXPECT_EQ(e.NativeError(), c.native_error) << c.sql;
      EXPECT_EQ(e.Message(), fmt::format("{} - Native error: {:05}", c.message, c.native_error))
          << c.sql;
    }
  }
}

class OrvLexerParams : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_separator_ = DecimalSeparator();
    TOrvValue v;
    v.SetFloat(2.5);
    params_.Set("p", v);
    v.SetCurrency(-0.125);
    params_.Set("price", v);
    v.SetData(ftBlob, "\x01\x02", 2);
    params_.Set("Photo", v);
    v.SetBoolean(true);
    params_.Set("flag", v);
    v.SetInteger(5);
    params_.Set("ID", v);
    v.SetWord(40000);
    params_.Set("w", v);
    v.SetLargeint(-5000000000);
    params_.Set("big", v);
    v.SetString("O'Neil");
    params_.Set("name", v);
    TDateTime day, time;
    TryEncodeDate(2024, 3, 5, &day);
    TryEncodeTime(10, 30, 15, 0, &time);
    v.SetDate(day);
    params_.Set("d", v);
    v.SetTime(time);
    params_.Set("t", v);
    v.SetDateTime(day + time);
    params_.Set("dt", v);
    v.SetNull(ftInteger);
    params_.Set("none", v);
    v.SetNull(ftString);
    params_.Set("blank", v);
    v.SetNull(ftUnknown);
    params_.Set("untyped", v);
    v.SetWideString(u"\u0416\u0443\u043A \u4E2D");
    params_.Set("ws", v);
  }
  void TearDown() override { SetDecimalSeparator(saved_separator_); }

  TOrvValueParams params_;

 private:
  char saved_separator_ = '.';
};

TEST_F(OrvLexerParams, ParametersBecomeLiteralTokensOfTheirValues) {
  SetDecimalSeparator(',');
  struct Case {
    std::string sql, tokens;
  };
  const std::vector<Case> cases = {
      {"x = :p", "word:x word:= float:2.5"},
      {":price", "float:-0.125"},
      {":Photo", "quoted:$Blob$Marker$Photo"},
      {":flag", "word:True"},  // a bare word, never looked up as TRUE
      {":id :ID", "int:5 int:5"},
      {":w :big", "int:40000 int:-5000000000"},
      {":name", "quoted:O'Neil"},
      {":d :t :dt", "quoted:05.03.2024 quoted:10:30:15 quoted:05.03.2024 10:30:15"},
      {":none :blank :untyped", "int: quoted: word:"},
      {"(:id,:p)", "( int:5 , float:2.5 )"},
      {"':p'", "quoted::p"},
  };
  for (const Case& c : cases) EXPECT_EQ(Lex(c.sql, &params_), c.tokens) << c.sql;
  EXPECT_EQ(DecimalSeparator(), ',');

  TOrvelLexer lexer("values (\n  :ws)", &params_);
  const TToken& token = lexer.Commands()[0].Tokens[2];
  EXPECT_EQ(token.TokenType, tktQuotedString);
  EXPECT_EQ(token.WideText, u"\u0416\u0443\u043A \u4E2D");
  EXPECT_EQ(token.Text, Utf16ToCp1251(u"\u0416\u0443\u043A ?"));
  EXPECT_EQ(token.Line, 2);
  EXPECT_EQ(token.Column, 3);

  std::string_view name;
  EXPECT_TRUE(IsBlobMarker("$Blob$Marker$Photo", &name));
  EXPECT_EQ(name, "Photo");
  EXPECT_FALSE(IsBlobMarker("$Blob$Mark", &name));
}

TEST_F(OrvLexerParams, UnknownParametersFailAndNoListKeepsThemAsParameters) {
  try {
    TOrvelLexer lexer("select * from t where a = :missing", &params_);
    FAIL() << "an unknown parameter was accepted";
  } catch (const EOrvException&) {
    FAIL() << "an unknown parameter is the platform's error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Parameter 'missing' not found");
  }
  EXPECT_EQ(Lex("a = :missing", nullptr), "word:a word:= param:missing");
}

TEST(OrvLexer, WalksTheTokensOfEachCommand) {
  TOrvelLexer lexer("a b; c", nullptr);
  TToken token;
  EXPECT_FALSE(lexer.GetCurrentToken(token));  // no command yet
  ASSERT_TRUE(lexer.NextCommand());
  ASSERT_TRUE(lexer.GetCurrentToken(token));
  EXPECT_EQ(token.Text, "a");
  ASSERT_TRUE(lexer.PeekNextToken(token));
  EXPECT_EQ(token.Text, "b");
  EXPECT_EQ(lexer.GetPosition(), 0);
  ASSERT_TRUE(lexer.GetNextToken(token));
  EXPECT_EQ(token.Text, "b");
  EXPECT_EQ(lexer.GetPosition(), 1);
  // Past the end the kind is cleared and the rest is kept, so errors can name the last token.
  EXPECT_FALSE(lexer.GetNextToken(token));
  EXPECT_EQ(token.TokenType, tktNone);
  EXPECT_EQ(token.Text, "b");
  EXPECT_EQ(lexer.GetPosition(), 2);
  EXPECT_FALSE(lexer.GetNextToken(token));
  ASSERT_TRUE(lexer.SetPosition(0, token));
  EXPECT_EQ(token.Text, "a");
  EXPECT_FALSE(lexer.SetPosition(-3, token));
  ASSERT_TRUE(lexer.NextCommand());
  ASSERT_TRUE(lexer.GetCurrentToken(token));
  EXPECT_EQ(token.Text, "c");
  EXPECT_FALSE(lexer.NextCommand());
  EXPECT_FALSE(lexer.NextCommand());
  EXPECT_FALSE(lexer.GetCurrentToken(token));

  TToken keyword;
  keyword.TokenType = tktReservedWord;
  keyword.ReservedWord = rwFROM;
  EXPECT_TRUE(TOrvelLexer::IsReservedWord(keyword, rwFROM));
  EXPECT_TRUE(TOrvelLexer::IsReservedWord(keyword, kAnyReservedWord));
  EXPECT_FALSE(TOrvelLexer::IsReservedWord(keyword, rwSELECT));
  keyword.TokenType = tktString;
  EXPECT_FALSE(TOrvelLexer::IsReservedWord(keyword, kAnyReservedWord));
}

TEST(OrvLexer, KeywordTable) {
  EXPECT_EQ(ReservedWordText(0), "ABSOLUTE");
  EXPECT_EQ(ReservedWordText(rwSELECT), "SELECT");
  EXPECT_EQ(ReservedWordText(247), "NOAUTOINDEXES");
  EXPECT_EQ(ReservedWordText(kAnyReservedWord), "");
  for (int i = 0; i < kReservedWordCount; ++i)
    EXPECT_EQ(LookupReservedWord(ReservedWordText(static_cast<uint8_t>(i))), i);
  EXPECT_EQ(LookupReservedWord("noAutoIndexes"), rwNOAUTOINDEXES);
  EXPECT_EQ(LookupReservedWord("SELECTS"), kAnyReservedWord);
  EXPECT_EQ(LookupReservedWord(std::string(100, 'A')), kAnyReservedWord);
}

class TestParser : public TOrvelParser {
 public:
  using TOrvelParser::TOrvelParser;
  void Parse() override {}
};

TEST(OrvParser, CheckedStepsRaiseTheGivenCodeWithTheToken) {
  TOrvelLexer lexer("select\n  a, 5", nullptr);
  ASSERT_TRUE(lexer.NextCommand());
  TestParser parser(&lexer);
  ASSERT_TRUE(lexer.GetCurrentToken(parser.Token));
  EXPECT_TRUE(parser.NextTokenChecked({tktString}, 1023, true));
  EXPECT_EQ(parser.Token.Text, "a");
  // Outside the set: false without raising, and the position has moved on.
  EXPECT_FALSE(parser.NextTokenChecked({tktString}, 1023, false));
  EXPECT_EQ(parser.Token.TokenType, tktComma);
  try {
    parser.NextTokenChecked({tktString, tktQuotedString}, 1010, true);
    FAIL() << "an integer passed as a name";
  } catch (const EOrvException& e) {
    EXPECT_EQ(e.Message(),
              "Field pseudonym expected, but '5' found at line 2, column 6 - Native error: 01010");
  }
  try {
    parser.NextTokenChecked({}, -1, true);
    FAIL() << "read past the end";
  } catch (const EOrvException& e) {
    EXPECT_EQ(e.Message(), "Unexpected end of SQL command found at line 2 - Native error: 01008");
  }
  EXPECT_FALSE(parser.NextTokenChecked({}, -1, false));
  try {
    parser.RequireNextToken(2003);
    FAIL() << "read past the end";
  } catch (const EOrvException& e) {
    EXPECT_EQ(e.NativeError(), 2003);
    EXPECT_EQ(e.Message(),
              "Table name expected, but '5' found at line 2, column 6 - Native error: 02003");
  }
  // An error code of -1 takes any kind.
  lexer.SetPosition(0, parser.Token);
  EXPECT_TRUE(parser.NextTokenChecked({tktInt}, -1, true));
  EXPECT_TRUE(parser.RequireNextToken(2003));
  EXPECT_EQ(parser.Token.TokenType, tktComma);
}

}  // namespace
}  // namespace orv
