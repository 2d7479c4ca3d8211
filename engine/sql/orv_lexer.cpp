#include "engine/sql/orv_lexer.h"

#include <fmt/format.h>

#include <array>
#include <cstring>
#include <unordered_map>

#include "engine/common/orv_exception.h"
#include "platform/codepage.h"
#include "platform/value_text.h"

namespace orv {
namespace {

constexpr std::array<std::string_view, kReservedWordCount> kReservedWords = {
    "ABSOLUTE",
    "ACTION",
    "ADD",
    "ALL",
    "ALLOCATE",
    "ALTER",
    "AND",
    "ANY",
    "ARE",
    "AS",
    "ASC",
    "ASSERTION",
    "AT",
    "AUTHORIZATION",
    "AVG",
    "BEGIN",
    "BETWEEN",
    "BIT",
    "BIT_LENGTH",
    "BOTH",
    "BY",
    "CASCADE",
    "CASCADED",
    "CASE",
    "CAST",
    "CATALOG",
    "CHAR",
    "CHARACTER",
    "CHAR_LENGTH",
    "CHARACTER_LENGTH",
    "CHECK",
    "CLOSE",
    "COALESCE",
    "COLLATE",
    "COLLATION",
    "COLUMN",
    "COMMIT",
    "CONNECT",
    "CONNECTION",
    "CONSTRAINT",
    "CONSTRAINTS",
    "CONTINUE",
    "CONVERT",
    "CORRESPONDING",
    "COUNT",
    "CREATE",
    "CROSS",
    "CURRENT",
    "CURRENT_DATE",
    "CURRENT_TIME",
    "CURRENT_TIMESTAMP",
    "CURRENT_USER",
    "CURSOR",
    "DATE",
    "DAY",
    "DEALLOCATE",
    "DEC",
    "DECIMAL",
    "DECLARE",
    "DEFAULT",
    "DEFERRABLE",
    "DEFERRED",
    "DELETE",
    "DESC",
    "DESCRIBE",
    "DESCRIPTOR",
    "DIAGNOSTICS",
    "DISCONNECT",
    "DISTINCT",
    "DOMAIN",
    "DOUBLE",
    "DROP",
    "ELSE",
    "END",
    "END-EXEC",
    "ESCAPE",
    "EXCEPT",
    "EXCEPTION",
    "EXEC",
    "EXECUTE",
    "EXISTS",
    "EXTERNAL",
    "EXTRACT",
    "FALSE",
    "FETCH",
    "FIRST",
    "FLOAT",
    "FOR",
    "FOREIGN",
    "FOUND",
    "FROM",
    "FULL",
    "GET",
    "GLOBAL",
    "GO",
    "GOTO",
    "GRANT",
    "GROUP",
    "HAVING",
    "HOUR",
    "IDENTITY",
    "IMMEDIATE",
    "IN",
    "INDICATOR",
    "INITIALLY",
    "INNER",
    "INPUT",
    "INSENSITIVE",
    "INSERT",
    "INT",
    "INTEGER",
    "INTERSECT",
    "INTERVAL",
    "INTO",
    "IS",
    "ISOLATION",
    "JOIN",
    "KEY",
    "LANGUAGE",
    "LAST",
    "LEADING",
    "LEFT",
    "LEVEL",
    "LIKE",
    "LOCAL",
    "LOWER",
    "MATCH",
    "MAX",
    "MEMORY",
    "MIN",
    "MINUS",
    "MINUTE",
    "MODULE",
    "MONTH",
    "NAMES",
    "NATIONAL",
    "NATURAL",
    "NCHAR",
    "NEXT",
    "NO",
    "NOT",
    "NULL",
    "NULLIF",
    "NUMERIC",
    "OCTET_LENGTH",
    "OF",
    "ON",
    "ONLY",
    "OPEN",
    "OPTION",
    "OR",
    "ORDER",
    "OUTER",
    "OUTPUT",
    "OVERLAPS",
    "PAD",
    "PARTIAL",
    "POSITION",
    "PRECISION",
    "PREPARE",
    "PRESERVE",
    "PRIMARY",
    "PRIOR",
    "PRIVILEGES",
    "PROCEDURE",
    "PUBLIC",
    "READ",
    "REAL",
    "REFERENCES",
    "RELATIVE",
    "RESTRICT",
    "REVOKE",
    "RIGHT",
    "ROLLBACK",
    "ROWS",
    "SCHEMA",
    "SCROLL",
    "SECOND",
    "SECTION",
    "SELECT",
    "SESSION",
    "SESSION_USER",
    "SET",
    "SIZE",
    "SMALLINT",
    "SOME",
    "SPACE",
    "SQL",
    "SQLCODE",
    "SQLERROR",
    "SQLSTATE",
    "SUBSTRING",
    "SUM",
    "SYSTEM_USER",
    "TABLE",
    "TEMPORARY",
    "THEN",
    "TIME",
    "TIMESTAMP",
    "TIMEZONE_HOUR",
    "TIMEZONE_MINUTE",
    "TO",
    "TOP",
    "TRAILING",
    "TRANSACTION",
    "TRANSLATE",
    "TRANSLATION",
    "TRIM",
    "TRUE",
    "UNION",
    "UNIQUE",
    "UNKNOWN",
    "UPDATE",
    "UPPER",
    "USAGE",
    "USER",
    "USING",
    "VALUE",
    "VALUES",
    "VARCHAR",
    "VARYING",
    "VIEW",
    "WHEN",
    "WHENEVER",
    "WHERE",
    "WITH",
    "WORK",
    "WRITE",
    "YEAR",
    "ZONE",
    "PASSWORD",
    "BLOBCOMPRESSIONLEVEL",
    "BLOBBLOCKSIZE",
    "LASTAUTOINC",
    "MODIFY",
    "NEW",
    "INDEX",
    "NOCASE",
    "LTRIM",
    "RTRIM",
    "POS",
    "LENGTH",
    "SYSDATE",
    "NOW",
    "TODATE",
    "TOSTRING",
    "AUTOINDEXES",
    "NOAUTOINDEXES",
};

// Switches the runtime's decimal separator for one conversion and puts it back, also when the
// conversion throws.
class DecimalSeparatorSwitch {
 public:
  explicit DecimalSeparatorSwitch(char separator) : saved_(DecimalSeparator()) {
    SetDecimalSeparator(separator);
  }
  ~DecimalSeparatorSwitch() { SetDecimalSeparator(saved_); }
  DecimalSeparatorSwitch(const DecimalSeparatorSwitch&) = delete;
  DecimalSeparatorSwitch& operator=(const DecimalSeparatorSwitch&) = delete;

 private:
  char saved_;
};

bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

bool IsSeparator(unsigned char c) {
  return c == '\t' || c == '\r' || c == '\n' || c == ' ';
}

// The text a parameter's value takes in the SQL text.
std::string ParamText(const TOrvValue& value, std::string_view name) {
  switch (value.DataType()) {
    case ftString:
      return value.AsString();
    case ftDate:
      return DateToStr(value.AsDateTime());
    case ftTime:
      return TimeToStr(value.AsDateTime());
    case ftDateTime:
      return DateTimeToStr(value.AsDateTime());
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
      return std::string(kBlobMarkerPrefix) + std::string(name);
    case ftSmallint:
      return IntToStr(value.AsSmallint());
    case ftWord:
      return IntToStr(value.AsWord());
    case ftInteger:
    case ftAutoInc:
      return IntToStr(value.AsInteger());
    case ftLargeint:
      return IntToStr(value.AsLargeint());
    case ftFloat:
    case ftCurrency:
    case ftBCD: {
      double number = 0;
      if (value.DataSize() >= 8) std::memcpy(&number, value.Data(), 8);
      // The SQL text always reads "." as the decimal separator.
      DecimalSeparatorSwitch point('.');
      return FloatToStr(number);
    }
    case ftBoolean:
      return BoolToStr(value.AsBoolean());
    default: {
      const char* bytes = reinterpret_cast<const char*>(value.Data());
      return bytes == nullptr ? std::string()
                              : std::string(bytes, strnlen(bytes, value.DataSize()));
    }
  }
}

TTokenType ParamTokenType(uint8_t type) {
  switch (type) {
    case ftString:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftWideString:
      return tktQuotedString;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return tktInt;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      return tktFloat;
    default:
      return tktString;
  }
}

}  // namespace

std::string_view ReservedWordText(uint8_t index) {
  return index < kReservedWordCount ? kReservedWords[index] : std::string_view();
}

uint8_t LookupReservedWord(std::string_view word) {
  static const auto* const table = [] {
    auto* map = new std::unordered_map<std::string_view, uint8_t>();
    for (size_t i = 0; i < kReservedWords.size(); ++i)
      map->emplace(kReservedWords[i], static_cast<uint8_t>(i));
    return map;
  }();
  if (word.size() > 32) return kAnyReservedWord;
  char upper[32];
  for (size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    upper[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  auto found = table->find(std::string_view(upper, word.size()));
  return found == table->end() ? kAnyReservedWord : found->second;
}

bool IsBlobMarker(std::string_view text, std::string_view* name) {
  if (text.substr(0, kBlobMarkerPrefix.size()) != kBlobMarkerPrefix) return false;
  if (name != nullptr) *name = text.substr(kBlobMarkerPrefix.size());
  return true;
}

void TOrvValueParams::Set(std::string_view name, TOrvValue value) {
  for (auto& [existing, stored] : params_)
    if (SameText(existing, name)) {
      stored = std::move(value);
      return;
    }
  params_.emplace_back(std::string(name), std::move(value));
}

const TOrvValue* TOrvValueParams::FindParam(std::string_view name) const {
  for (const auto& [existing, stored] : params_)
    if (SameText(existing, name)) return &stored;
  return nullptr;
}

// One pass over the text; see TOrvelLexer.
class TOrvelLexer::Tokenizer {
 public:
  explicit Tokenizer(TOrvelLexer& lexer) : lexer_(lexer), text_(lexer.sql_) {}

  void Run() {
    while (pos_ < text_.size()) {
      unsigned char c = Char(pos_);
      if (c == ';') {
        EndCommand();
        Step();
        continue;
      }
      if (c == '-' && Char(pos_ + 1) == '-') {
        LineComment();
        continue;
      }
      if (c == '/' && Char(pos_ + 1) == '*') {
        BlockComment();
        continue;
      }
      bool separator = IsSeparator(c);
      bool delimiter = IsDelimiter(c, separator);
      if (open_ && (separator || delimiter)) CloseToken();
      if (delimiter) {
        StartToken(c);
        continue;
      }
      if (open_ && !separator) Append(c);
      Step();
    }
    EndCommand();
  }

 private:
  struct Place {
    int32_t line = 0;
    int32_t column = 0;
  };

  unsigned char Char(size_t pos) const {
    return pos < text_.size() ? static_cast<unsigned char>(text_[pos]) : 0;
  }

  // Moves past the character at pos_, counting lines and columns.
  void Step() {
    unsigned char c = Char(pos_);
    ++pos_;
    if (c == '\n') {
      if (line_ < INT32_MAX) ++line_;
      column_ = 1;
    } else if (c != '\r' && column_ < INT32_MAX) {
      ++column_;
    }
  }

  bool IsNumber() const { return token_.TokenType == tktInt || token_.TokenType == tktFloat; }

  bool IsDelimiter(unsigned char c, bool separator) const {
    if (!open_) return !separator;
    if (c != 0 && std::strchr("><=(),/*:|", c) != nullptr) return true;
    if (c == '.' && !IsNumber()) return true;
    if (token_.TokenType == tktDot && !IsDigit(c)) return true;
    if (c == '+' || c == '-') {
      if (token_.TokenType == tktString) return true;
      unsigned char previous = pos_ > 0 ? Char(pos_ - 1) : 0;
      if (IsNumber() && previous != 'e' && previous != 'E') return true;
    }
    return false;
  }

  void Append(unsigned char c) {
    if (IsNumber() && !(IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
      throw EOrvException::Fmt(44, {}, std::string(1, static_cast<char>(c)), line_, column_);
    if (token_.TokenType == tktDot && IsDigit(c)) token_.TokenType = tktInt;
    token_.Text += static_cast<char>(c);
  }

  void LineComment() {
    // The line break that ends the comment separates tokens like any other line break.
    if (open_) CloseToken();
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) {
      pos_ = text_.size();
      return;
    }
    pos_ = end + 1;
    if (line_ < INT32_MAX) ++line_;
    column_ = 1;
  }

  // An open token goes on after the comment; an unterminated comment runs to the end.
  void BlockComment() {
    Step();
    Step();
    while (pos_ < text_.size()) {
      if (Char(pos_) == '*' && Char(pos_ + 1) == '/') {
        Step();
        Step();
        return;
      }
      Step();
    }
  }

  void OpenCommand() {
    if (command_open_) return;
    lexer_.commands_.emplace_back();
    command_open_ = true;
    depth_ = 0;
    last_left_ = last_right_ = unterminated_ = Place{};
    has_unterminated_ = false;
  }

  void EndCommand() {
    if (open_) CloseToken();
    if (!command_open_) return;
    if (depth_ > 0) throw EOrvException::Fmt(1, {}, last_left_.line, last_left_.column);
    if (depth_ < 0) throw EOrvException::Fmt(2, {}, last_right_.line, last_right_.column);
    if (has_unterminated_)
      throw EOrvException::Fmt(3, {}, unterminated_.line, unterminated_.column);
    TSQLCommand& command = lexer_.commands_.back();
    command.TokenCount = static_cast<int32_t>(command.Tokens.size());
    command.Position = 0;
    command_open_ = false;
  }

  void StartToken(unsigned char c) {
    OpenCommand();
    token_ = TToken{};
    token_.Line = line_;
    token_.Column = column_;
    if (c == '\'' || c == '"' || c == '[') {
      QuotedToken(c);
      return;
    }
    switch (c) {
      case '(':
        ++depth_;
        last_left_ = {line_, column_};
        Operator(tktLeftParenthesis, 1);
        return;
      case ')':
        --depth_;
        last_right_ = {line_, column_};
        Operator(tktRightParenthesis, 1);
        return;
      case ',':
        Operator(tktComma, 1);
        return;
      case '.':
        Begin(tktDot, c);
        return;
      case '-':
      case '+':
      case '*':
      case '/':
      case '=':
        Operator(tktString, 1);
        return;
      case '|':
        if (Char(pos_ + 1) == '|') {
          Operator(tktString, 2);
          return;
        }
        break;
      case '<':
        Operator(tktString, Char(pos_ + 1) == '=' || Char(pos_ + 1) == '>' ? 2 : 1);
        return;
      case '>':
        Operator(tktString, Char(pos_ + 1) == '=' ? 2 : 1);
        return;
      default:
        break;
    }
    Begin(IsDigit(c) ? tktInt : tktString, c);
  }

  // Opens a token that further characters extend.
  void Begin(TTokenType kind, unsigned char c) {
    token_.TokenType = kind;
    token_.Text.assign(1, static_cast<char>(c));
    open_ = true;
    Step();
  }

  // A token of `length` characters, complete at once.
  void Operator(TTokenType kind, size_t length) {
    token_.TokenType = kind;
    token_.Text.assign(text_.substr(pos_, length));
    for (size_t i = 0; i < length; ++i) Step();
    open_ = true;
    CloseToken();
  }

  void QuotedToken(unsigned char quote) {
    unsigned char closing = quote == '[' ? ']' : quote;
    token_.TokenType = quote == '[' ? tktBracketedString : tktQuotedString;
    Place start{line_, column_};
    Step();
    bool terminated = false;
    while (pos_ < text_.size()) {
      unsigned char c = Char(pos_);
      if (c == closing) {
        Step();
        if (Char(pos_) != closing || pos_ >= text_.size()) {
          terminated = true;
          break;
        }
      }
      token_.Text += static_cast<char>(c);
      Step();
    }
    if (!terminated) {
      has_unterminated_ = true;
      unterminated_ = start;
    }
    lexer_.commands_.back().Tokens.push_back(std::move(token_));
    token_ = TToken{};
  }

  void CloseToken() {
    open_ = false;
    if (token_.TokenType == tktInt) {
      if (token_.Text.find_first_of(".eE") != std::string::npos) token_.TokenType = tktFloat;
    } else if (token_.TokenType == tktString && !token_.Text.empty() && token_.Text[0] == ':') {
      SubstituteParam();
    } else if (token_.TokenType == tktString) {
      uint8_t index = LookupReservedWord(token_.Text);
      if (index != kAnyReservedWord) {
        token_.TokenType = tktReservedWord;
        token_.ReservedWord = index;
      }
    }
    lexer_.commands_.back().Tokens.push_back(std::move(token_));
    token_ = TToken{};
  }

  void SubstituteParam() {
    std::string name = token_.Text.substr(1);
    token_.TokenType = tktParam;
    token_.Text = name;
    if (lexer_.params_ == nullptr) return;
    const TOrvValue* value = lexer_.params_->FindParam(name);
    if (value == nullptr) throw Exception(fmt::format("Parameter '{}' not found", name));
    token_.TokenType = ParamTokenType(value->DataType());
    token_.Text.clear();
    if (value->IsNull()) return;
    if (value->DataType() == ftWideString) {
      token_.WideText = value->AsWideString();
      token_.Text = Utf16ToCp1251(token_.WideText);
    } else {
      token_.Text = ParamText(*value, name);
    }
  }

  TOrvelLexer& lexer_;
  std::string_view text_;
  size_t pos_ = 0;
  int32_t line_ = 1;
  int32_t column_ = 1;
  bool open_ = false;
  TToken token_;
  bool command_open_ = false;
  int64_t depth_ = 0;
  Place last_left_, last_right_, unterminated_;
  bool has_unterminated_ = false;
};

TOrvelLexer::TOrvelLexer(std::string sql, const TOrvParams* params)
    : sql_(std::move(sql)), params_(params) {
  Tokenizer(*this).Run();
}

bool TOrvelLexer::NextCommand() {
  if (current_command_ < CommandCount()) ++current_command_;
  return current_command_ < CommandCount();
}

bool TOrvelLexer::TokenAt(int64_t index, TToken& token) const {
  if (current_command_ < 0 || current_command_ >= CommandCount()) {
    token.TokenType = tktNone;
    return false;
  }
  const TSQLCommand& command = commands_[current_command_];
  if (index < 0 || index >= command.TokenCount) {
    token.TokenType = tktNone;
    return false;
  }
  token = command.Tokens[static_cast<size_t>(index)];
  return true;
}

bool TOrvelLexer::GetCurrentToken(TToken& token) const {
  return TokenAt(GetPosition(), token);
}

bool TOrvelLexer::PeekNextToken(TToken& token) const {
  return TokenAt(static_cast<int64_t>(GetPosition()) + 1, token);
}

bool TOrvelLexer::GetNextToken(TToken& token) {
  bool found = PeekNextToken(token);
  if (current_command_ >= 0 && current_command_ < CommandCount()) {
    int32_t& position = commands_[current_command_].Position;
    if (position < INT32_MAX) ++position;
  }
  return found;
}

int32_t TOrvelLexer::GetPosition() const {
  if (current_command_ < 0 || current_command_ >= CommandCount()) return 0;
  return commands_[current_command_].Position;
}

bool TOrvelLexer::SetPosition(int32_t index, TToken& token) {
  if (current_command_ >= 0 && current_command_ < CommandCount())
    commands_[current_command_].Position = index;
  return GetCurrentToken(token);
}

bool TOrvelLexer::IsReservedWord(const TToken& token, uint8_t index) {
  return token.TokenType == tktReservedWord &&
         (token.ReservedWord == index || index == kAnyReservedWord);
}

bool TOrvelParser::NextToken() {
  return Lexer->GetNextToken(Token);
}

bool TOrvelParser::NextTokenChecked(TTokenTypes allowed, int error_code, bool raise_at_end) {
  if (!NextToken()) {
    if (raise_at_end) throw EOrvException::Fmt(1008, {}, Token.Line);
    return false;
  }
  if (!allowed.Empty() && error_code != -1 && !allowed.Contains(Token.TokenType)) {
    if (raise_at_end)
      throw EOrvException::Fmt(error_code, {}, Token.Text, Token.Line, Token.Column);
    return false;
  }
  return true;
}

bool TOrvelParser::RequireNextToken(int error_code) {
  if (!NextToken()) throw EOrvException::Fmt(error_code, {}, Token.Text, Token.Line, Token.Column);
  return true;
}

}  // namespace orv
