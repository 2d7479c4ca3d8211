#include "engine/storage/search_parser.h"

#include <fmt/format.h>

#include <initializer_list>

#include "engine/storage/record_source.h"
#include "engine/storage/search_records.h"
#include "engine/storage/table_files.h"
#include "platform/exception.h"
#include "platform/value_text.h"

namespace orv {

namespace {

// Brackets and "not"s inside each other; deeper text would only exhaust the stack.
constexpr int kMaxNesting = 64;
constexpr size_t kStackStep = 5;

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

// Reads one condition text into items, left to right.
class TSearchParser::Reader {
 public:
  Reader(std::string_view text, uint8_t options, TOrvelRecordSearch& search,
         TSearchOperations& items)
      : text_(text), options_(options), search_(search), items_(items) {}

  void Read() {
    Condition(0);
    SkipBlanks();
    if (pos_ < text_.size())
      throw Exception(fmt::format("End of line expected, but \"{}\" found", Rest()));
  }

 private:
  void Condition(int depth) {
    Term(depth);
    while (Words({"or"})) {
      Push(sikOr);
      Term(depth);
    }
  }

  void Term(int depth) {
    Factor(depth);
    while (Words({"and"})) {
      Push(sikAnd);
      Factor(depth);
    }
  }

  void Factor(int depth) {
    if (depth >= kMaxNesting)
      throw Exception(fmt::format("Condition nested too deeply at \"{}\"", Rest()));
    if (Words({"not"})) {
      Push(sikNot);
      Factor(depth + 1);
      return;
    }
    SkipBlanks();
    if (Peek() != '(') {
      Comparison();
      return;
    }
    ++pos_;
    const size_t open = items_.size();
    Push(sikOpenBracket);
    Condition(depth + 1);
    SkipBlanks();
    if (Peek() != ')')
      throw Exception(fmt::format("Closing bracket \")\" expected, but \"{}\"  found", Rest()));
    ++pos_;
    if (items_.size() == open + 2 && items_[open + 1].Kind == sikComparison)
      items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(open));
    else
      Push(sikCloseBracket);
  }

  void Comparison() {
    TSearchOperation item;
    item.FieldName = FieldName();
    item.FieldNo = search_.Table().InternalGetFieldNo(item.FieldName, true);
    item.Operator = Operator();
    std::string value;
    if (item.Operator != soIsNull && item.Operator != soIsNotNull) value = Value(item);
    search_.PrepareValueBuffer(item.FieldNo, item.Operator, item.ValueBuffer, value);
    items_.push_back(std::move(item));
  }

  std::string FieldName() {
    SkipBlanks();
    if (Peek() == '[') {
      const size_t close = text_.find(']', pos_ + 1);
      if (close == std::string_view::npos)
        throw Exception(
            fmt::format("Closing square bracket \"]\" expected, but not found in \"{}\"", Rest()));
      const std::string_view written = text_.substr(pos_ + 1, close - pos_ - 1);
      std::string name = Trim(written);
      if (name.empty()) throw Exception(fmt::format("Invalid field name \"{}\"", written));
      pos_ = close + 1;
      return name;
    }
    const size_t start = pos_;
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  TSearchOperator Operator() {
    SkipBlanks();
    static constexpr std::pair<std::string_view, TSearchOperator> kSymbols[] = {
        {"=", soEqual},           {"<>", soNotEqual}, {"<=", soLessOrEqual},
        {">=", soGreaterOrEqual}, {"<", soLess},      {">", soGreater},
    };
    for (const auto& [symbol, op] : kSymbols) {
      if (text_.substr(pos_).starts_with(symbol)) {
        pos_ += symbol.size();
        return op;
      }
    }
    if (Words({"like"})) return soLike;
    if (Words({"not", "like"})) return soNotLike;
    if (Words({"is", "null"})) return soIsNull;
    if (Words({"is", "not", "null"})) return soIsNotNull;
    throw Exception(fmt::format("Operator expected, but \"{}\"  found", Rest()));
  }

  std::string Value(TSearchOperation& item) {
    SkipBlanks();
    const char c = Peek();
    if (c == '\'' || c == '"') {
      std::string value = QuotedString();
      if ((options_ & kSearchNoPartial) == 0) {
        item.Partial = true;
        if (value.empty()) {
          if (item.Operator == soEqual) item.Operator = soIsNull;
          if (item.Operator == soNotEqual) item.Operator = soIsNotNull;
        } else if (value.back() == '*') {
          value.pop_back();
        }
      }
      return value;
    }
    const size_t start = pos_;
    if (LowerAscii(c) == 't' || LowerAscii(c) == 'f') {
      if (!Words({"true"}) && !Words({"false"}))
        throw Exception(fmt::format("Unexpected meet of \"{}\"  found", Rest()));
      return std::string(text_.substr(start, pos_ - start));
    }
    const char separator = DecimalSeparator();
    while (pos_ < text_.size() &&
           ((text_[pos_] >= '0' && text_[pos_] <= '9') || text_[pos_] == '+' ||
            text_[pos_] == '-' || text_[pos_] == separator))
      ++pos_;
    if (pos_ == start) throw Exception(fmt::format("Number expected, but \"{}\"  found", Rest()));
    return std::string(text_.substr(start, pos_ - start));
  }

  // From the opening quote to the next one not doubled; a doubled quote stands for one.
  std::string QuotedString() {
    const char quote = text_[pos_++];
    std::string value;
    for (;;) {
      if (pos_ >= text_.size())
        throw Exception(fmt::format("Unterminated string {}{}", value, Rest()));
      const char c = text_[pos_++];
      if (c != quote) {
        value += c;
      } else if (Peek() == quote) {
        value += quote;
        ++pos_;
      } else {
        return value;
      }
    }
  }

  // Each word after optional blanks, its letters without case; nothing is consumed unless all
  // of them are there.
  bool Words(std::initializer_list<std::string_view> words) {
    const size_t saved = pos_;
    for (std::string_view word : words) {
      SkipBlanks();
      for (char letter : word) {
        if (pos_ >= text_.size() || LowerAscii(text_[pos_]) != letter) {
          pos_ = saved;
          return false;
        }
        ++pos_;
      }
    }
    return true;
  }

  void Push(TSearchItemKind kind) {
    TSearchOperation item;
    item.Kind = kind;
    items_.push_back(std::move(item));
  }

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  std::string_view Rest() const { return text_.substr(pos_); }

  std::string_view text_;
  size_t pos_ = 0;
  uint8_t options_;
  TOrvelRecordSearch& search_;
  TSearchOperations& items_;
};

TSearchParser::TSearchParser(TOrvelRecordSearch& search) : search_(search) {
  stack_.resize(kStackStep);
}

void TSearchParser::SetExpression(std::string_view text, uint8_t options) {
  parsed_ = false;
  text_ = std::string(text);
  options_ = options;
  items_.clear();
  if (!Trim(text_).empty()) Reader(text_, options_, search_, items_).Read();
  parsed_ = true;
}

void TSearchParser::CheckParsed(const char* operation) const {
  if (!parsed_ || items_.empty())
    throw Exception(fmt::format("TSearchParser.{} - Expression is blank.", operation));
}

TBitsArray& TSearchParser::Level(size_t level) {
  if (level >= stack_.size()) stack_.resize((level / kStackStep + 1) * kStackStep);
  TBitsArray& bits = stack_[level];
  const int32_t count = search_.Records().RecordCount();
  if (bits.Count() != count) bits.SetCount(count);
  return bits;
}

const TBitsArray& TSearchParser::Parse() {
  CheckParsed("Parse");
  const size_t end = EvaluateChain(0, 0, sikOr);
  if (end != items_.size()) throw Exception("TSearchParser.Parse - misplaced item in expression.");
  return stack_[0];
}

// "or" joins terms and "and" joins factors, left to right; the right operand of each goes one
// level up the stack.
size_t TSearchParser::EvaluateChain(size_t at, size_t level, TSearchItemKind joint) {
  auto operand = [&](size_t from, size_t on_level) {
    return joint == sikOr ? EvaluateChain(from, on_level, sikAnd) : EvaluateFactor(from, on_level);
  };
  at = operand(at, level);
  while (at < items_.size() && items_[at].Kind == joint) {
    at = operand(at + 1, level + 1);
    TBitsArray& right = Level(level + 1);
    if (joint == sikOr)
      Level(level).Or(right);
    else
      Level(level).And(right);
  }
  return at;
}

size_t TSearchParser::EvaluateFactor(size_t at, size_t level) {
  if (at >= items_.size()) throw Exception("TSearchParser.Parse - misplaced item in expression.");
  const TSearchOperation& item = items_[at];
  switch (item.Kind) {
    case sikNot:
      at = EvaluateFactor(at + 1, level);
      Level(level).Invert();
      return at;
    case sikOpenBracket:
      at = EvaluateChain(at + 1, level, sikOr);
      if (at >= items_.size() || items_[at].Kind != sikCloseBracket)
        throw Exception("TSearchParser.Parse - misplaced item in expression.");
      return at + 1;
    case sikComparison: {
      TBitsArray& bits = Level(level);
      bits.Fill(0);
      search_.EvaluateSearchOperation(item, options_, bits);
      return at + 1;
    }
    default:
      throw Exception("TSearchParser.Parse - misplaced item in expression.");
  }
}

bool TSearchParser::MatchesRecord(const uint8_t* record) {
  CheckParsed("MatchesRecord");
  if (record == nullptr) throw Exception("TSearchParser.MatchesRecord - 0 pointer to record.");
  size_t at = 0;
  const bool matches = MatchChain(at, record, true, sikOr);
  if (at != items_.size())
    throw Exception("TSearchParser.MatchesRecord - misplaced item in expression.");
  return matches;
}

// The Match functions walk every item whatever the outcome, so that at always lands behind
// the operand; active is false where short-circuiting leaves the operand untested.
bool TSearchParser::MatchChain(size_t& at, const uint8_t* record, bool active,
                               TSearchItemKind joint) {
  auto operand = [&](bool operand_active) {
    return joint == sikOr ? MatchChain(at, record, operand_active, sikAnd)
                          : MatchFactor(at, record, operand_active);
  };
  bool matches = operand(active);
  while (at < items_.size() && items_[at].Kind == joint) {
    ++at;
    // The right operand decides only while the left one has not: false for "or", true for
    // "and".
    const bool right = operand(active && matches == (joint == sikAnd));
    matches = joint == sikOr ? matches || right : matches && right;
  }
  return matches;
}

bool TSearchParser::MatchFactor(size_t& at, const uint8_t* record, bool active) {
  if (at >= items_.size())
    throw Exception("TSearchParser.MatchesRecord - misplaced item in expression.");
  const TSearchOperation& item = items_[at++];
  switch (item.Kind) {
    case sikNot:
      return !MatchFactor(at, record, active);
    case sikOpenBracket: {
      const bool matches = MatchChain(at, record, active, sikOr);
      if (at >= items_.size() || items_[at].Kind != sikCloseBracket)
        throw Exception("TSearchParser.MatchesRecord - misplaced item in expression.");
      ++at;
      return matches;
    }
    case sikComparison:
      return active && search_.IsRecordMatches(item, options_, record);
    default:
      throw Exception("TSearchParser.MatchesRecord - misplaced item in expression.");
  }
}

}  // namespace orv
