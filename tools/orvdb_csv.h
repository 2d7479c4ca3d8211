#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/field_types.h"

namespace orv {

// A CSV text as RFC 4180 has it: records end in CRLF (a lone LF is taken too), cells are
// separated by commas, and a cell in double quotes may hold commas, line breaks and quotes
// written twice. A UTF-8 byte order mark at the start is skipped.
struct TCsvTable {
  std::vector<std::string> Header;
  std::vector<std::vector<std::string>> Rows;
  // The line each row starts on (1 = the header's), for messages.
  std::vector<int64_t> RowLines;
};

// Raises TCsvError for a quote inside an unquoted cell, text after a closing quote, a quote that
// is never closed, an empty header, or a row whose cell count is not the header's.
TCsvTable ParseCsv(std::string_view text);

struct TCsvError {
  std::string text;
};

// One cell as RFC 4180 writes it: quoted when it holds a comma, a quote, CR or LF, or starts or
// ends with a blank.
void WriteCsvCell(std::ostream& out, std::string_view cell);
void WriteCsvRow(std::ostream& out, const std::vector<std::string>& cells);

// A header cell: NAME, or NAME:TYPE or NAME:TYPE:SIZE that fixes the field's type.
struct TColumnSpec {
  std::string Name;
  std::optional<TFieldType> Type;
  std::optional<int32_t> Size;
};
// Raises TCsvError for an unknown type, a size that is not a positive number, or a size given to
// a type that has none.
TColumnSpec ParseColumnSpec(const std::string& cell);

// The command-line and header names of the field types ("integer", "string", ...); nullopt for
// an unknown name (compared without case).
std::optional<TFieldType> OrvdbTypeFromName(std::string_view name);
// "unknown" for a type without a name.
const char* OrvdbTypeName(TFieldType type);
// Whether the header may give the type a size (string, bytes, widestring).
bool FieldTypeTakesSize(TFieldType type);

// The type a new field gets from its non-empty values: integer when every value is a 32-bit
// integer, largeint when every one is a 64-bit integer, float when every one is a number, date
// when every one is a YYYY-MM-DD date, else string. size is then the string's length in bytes of
// code page 1251 (at least 1). No values at all give a string of size 1.
struct TInferredType {
  TFieldType Type = ftString;
  int32_t Size = 0;
};
TInferredType InferFieldType(const std::vector<const std::string*>& values);

}  // namespace orv
