#include "tools/orvdb_csv.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "platform/codepage.h"
#include "tools/orvdb_values.h"

namespace orv {

namespace {

struct TTypeName {
  const char* name;
  TFieldType type;
};

constexpr TTypeName kTypeNames[] = {
    {"string", ftString},     {"smallint", ftSmallint}, {"integer", ftInteger},
    {"word", ftWord},         {"boolean", ftBoolean},   {"float", ftFloat},
    {"currency", ftCurrency}, {"bcd", ftBCD},           {"date", ftDate},
    {"time", ftTime},         {"datetime", ftDateTime}, {"bytes", ftBytes},
    {"autoinc", ftAutoInc},   {"blob", ftBlob},         {"memo", ftMemo},
    {"graphic", ftGraphic},   {"fmtmemo", ftFmtMemo},   {"widestring", ftWideString},
    {"largeint", ftLargeint},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

class TCsvParser {
 public:
  explicit TCsvParser(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  TCsvTable Parse() {
    TCsvTable table;
    std::vector<std::string> row;
    int64_t row_line = line_;
    bool first = true;
    while (ReadRow(row, row_line)) {
      if (first) {
        if (row.size() == 1 && row[0].empty()) throw TCsvError{"the header line is empty"};
        table.Header = std::move(row);
        first = false;
        continue;
      }
      if (row.size() != table.Header.size())
        throw TCsvError{fmt::format("line {}: {} cells where the header has {}", row_line,
                                    row.size(), table.Header.size())};
      table.Rows.push_back(std::move(row));
      table.RowLines.push_back(row_line);
    }
    if (first) throw TCsvError{"the file has no header line"};
    return table;
  }

 private:
  // False at the end of the text. An empty line within the text is a row of one empty cell,
  // which RFC 4180 allows and the cell count check then judges.
  bool ReadRow(std::vector<std::string>& row, int64_t& row_line) {
    row.clear();
    if (pos_ >= text_.size()) return false;
    row_line = line_;
    while (true) {
      std::string cell;
      const bool row_ends = ReadCell(cell);
      row.push_back(std::move(cell));
      if (row_ends) return true;
    }
  }

  // True when the cell ended its row (a line break or the end of the text).
  bool ReadCell(std::string& cell) {
    if (pos_ < text_.size() && text_[pos_] == '"') {
      const int64_t start_line = line_;
      ++pos_;
      while (true) {
        if (pos_ >= text_.size())
          throw TCsvError{fmt::format("line {}: a quoted cell is never closed", start_line)};
        const char c = text_[pos_++];
        if (c == '"') {
          if (pos_ < text_.size() && text_[pos_] == '"') {
            cell += '"';
            ++pos_;
            continue;
          }
          break;
        }
        if (c == '\n') ++line_;
        cell += c;
      }
      if (pos_ >= text_.size()) return true;
      if (text_[pos_] == ',') {
        ++pos_;
        return false;
      }
      if (LineBreak()) return true;
      throw TCsvError{fmt::format("line {}: text after the closing quote of a cell", line_)};
    }
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ',') {
        ++pos_;
        return false;
      }
      if (LineBreak()) return true;
      if (c == '"')
        throw TCsvError{fmt::format("line {}: a quote inside a cell that is not quoted", line_)};
      if (c == '\r')
        throw TCsvError{fmt::format("line {}: a carriage return without a line feed", line_)};
      cell += c;
      ++pos_;
    }
    return true;
  }

  bool LineBreak() {
    if (text_.substr(pos_, 2) == "\r\n") {
      pos_ += 2;
    } else if (text_[pos_] == '\n') {
      ++pos_;
    } else {
      return false;
    }
    ++line_;
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  int64_t line_ = 1;
};

}  // namespace

TCsvTable ParseCsv(std::string_view text) {
  return TCsvParser(text).Parse();
}

void WriteCsvCell(std::ostream& out, std::string_view cell) {
  const bool quote = cell.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!cell.empty() && (cell.front() == ' ' || cell.back() == ' '));
  if (!quote) {
    out << cell;
    return;
  }
  out << '"';
  for (char c : cell) {
    if (c == '"') out << '"';
    out << c;
  }
  out << '"';
}

void WriteCsvRow(std::ostream& out, const std::vector<std::string>& cells) {
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) out << ',';
    WriteCsvCell(out, cells[i]);
  }
  out << "\r\n";
}

std::optional<TFieldType> OrvdbTypeFromName(std::string_view name) {
  for (const TTypeName& entry : kTypeNames)
    if (EqualNoCase(name, entry.name)) return entry.type;
  return std::nullopt;
}

const char* OrvdbTypeName(TFieldType type) {
  for (const TTypeName& entry : kTypeNames)
    if (entry.type == type) return entry.name;
  return "unknown";
}

bool FieldTypeTakesSize(TFieldType type) {
  return type == ftString || type == ftBytes || type == ftWideString;
}

TColumnSpec ParseColumnSpec(const std::string& cell) {
  TColumnSpec spec;
  const size_t colon = cell.find(':');
  spec.Name = cell.substr(0, colon);
  if (colon == std::string::npos) return spec;
  const std::string rest = cell.substr(colon + 1);
  const size_t second = rest.find(':');
  const std::string type_name = rest.substr(0, second);
  spec.Type = OrvdbTypeFromName(type_name);
  if (!spec.Type)
    throw TCsvError{fmt::format("column \"{}\": unknown type \"{}\"", spec.Name, type_name)};
  if (second == std::string::npos) return spec;
  const std::string size_text = rest.substr(second + 1);
  int64_t size = 0;
  if (!FieldTypeTakesSize(*spec.Type))
    throw TCsvError{fmt::format("column \"{}\": type {} takes no size", spec.Name, type_name)};
  if (!ParseInt64(size_text, size) || size < 1 || size > 65000)
    throw TCsvError{fmt::format("column \"{}\": size \"{}\" is not a number in 1 .. 65000",
                                spec.Name, size_text)};
  spec.Size = static_cast<int32_t>(size);
  return spec;
}

TInferredType InferFieldType(const std::vector<const std::string*>& values) {
  bool int32 = true, int64 = true, number = true, date = true, any = false;
  size_t longest = 1;
  for (const std::string* value : values) {
    if (value->empty()) continue;
    any = true;
    longest = std::max(longest, Utf8ToCp1251(*value).size());
    int64_t integer = 0;
    double real = 0;
    int32_t day = 0;
    const bool is_int64 = ParseInt64(*value, integer);
    int64 = int64 && is_int64;
    int32 = int32 && is_int64 && integer >= std::numeric_limits<int32_t>::min() &&
            integer <= std::numeric_limits<int32_t>::max();
    number = number && ParseDouble(*value, real);
    date = date && ParseDate(*value, day);
  }
  TInferredType inferred;
  if (any && int32)
    inferred.Type = ftInteger;
  else if (any && int64)
    inferred.Type = ftLargeint;
  else if (any && number)
    inferred.Type = ftFloat;
  else if (any && date)
    inferred.Type = ftDate;
  else
    inferred.Size = static_cast<int32_t>(longest);
  return inferred;
}

}  // namespace orv
