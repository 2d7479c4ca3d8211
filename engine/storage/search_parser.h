#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/engine_arrays.h"
#include "engine/storage/search_operation.h"

namespace orv {

class TOrvelRecordSearch;

// A dataset's condition text (Filter, master condition, find) parsed into items and evaluated
// over the table, whole or one record at a time.
//
//   condition  := term { "or" term }
//   term       := factor { "and" factor }
//   factor     := "not" factor | "(" condition ")" | comparison
//   comparison := field operator [value]      (no value after "is null" / "is not null")
//   field      := "[" any text "]" | letters, digits and "_"
//   operator   := = <> <= >= < > like, not like, is null, is not null
//   value      := 'text' | "text" | true | false | number (digits, + - and the decimal separator)
//
// Keywords are matched without case by their letters alone, blanks between words optional:
// "isnull" is "is null", and the field notes must be written [notes] or it reads as "not" es.
// Items are kept in text order, operators between their operands; a bracket holding a single
// comparison is stored as that comparison alone.
class TSearchParser {
 public:
  // search must outlive the parser.
  explicit TSearchParser(TOrvelRecordSearch& search);

  // Parses text with the search options (search_operation.h). A blank text gives no items. On
  // an error the items read so far are kept, but Parse and MatchesRecord refuse them until the
  // next successful call.
  void SetExpression(std::string_view text, uint8_t options);

  const std::string& Expression() const { return text_; }
  uint8_t Options() const { return options_; }
  const TSearchOperations& Items() const { return items_; }
  int32_t ItemCount() const { return static_cast<int32_t>(items_.size()); }

  // Evaluates the condition over every record of the table: byte r of the result (one per
  // physical record) is non-zero when record r matches. Valid until the next Parse. Raises
  // "TSearchParser.Parse - Expression is blank." without a parsed condition.
  const TBitsArray& Parse();

  // Evaluates the condition for one record image, short-circuiting "and" and "or".
  bool MatchesRecord(const uint8_t* record);

 private:
  class Reader;

  void CheckParsed(const char* operation) const;
  size_t EvaluateChain(size_t at, size_t level, TSearchItemKind joint);
  size_t EvaluateFactor(size_t at, size_t level);
  bool MatchChain(size_t& at, const uint8_t* record, bool active, TSearchItemKind joint);
  bool MatchFactor(size_t& at, const uint8_t* record, bool active);
  TBitsArray& Level(size_t level);

  TOrvelRecordSearch& search_;
  std::string text_;
  uint8_t options_ = 0;
  TSearchOperations items_;
  bool parsed_ = false;
  // One result array per nesting level of "and" / "or" operands; the bottom one is the result.
  std::vector<TBitsArray> stack_;
};

}  // namespace orv
