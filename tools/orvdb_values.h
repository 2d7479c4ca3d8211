#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/storage/field_header.h"

namespace orv {

// Field values as orvdb reads and writes them: integers in decimal, Booleans "true"/"false",
// floating-point numbers in their shortest round-trip form with "." (as fmt writes them), dates
// YYYY-MM-DD, times HH:MM:SS[.mmm], date-times "YYYY-MM-DD HH:MM:SS[.mmm]", bytes in hex, text
// in UTF-8. Day numbers count from 0001-01-01 = 1, as the table stores them.

bool ParseInt64(std::string_view text, int64_t& value);
bool ParseDouble(std::string_view text, double& value);
bool ParseDate(std::string_view text, int32_t& day_number);
bool ParseTime(std::string_view text, int32_t& milliseconds);
bool ParseDateTime(std::string_view text, double& milliseconds);

// False for a day number outside 0001-01-01 .. 9999-12-31.
bool FormatDate(int32_t day_number, std::string& text);
bool FormatTime(int32_t milliseconds, std::string& text);
bool FormatDateTime(double milliseconds, std::string& text);

// The value of a non-BLOB field from its slot in a record image (field.Size bytes). A slot
// whose bytes cannot be a value (a date out of range, a string without its terminator) gives
// "<invalid ...>" text rather than something that looks like data.
std::string FormatFieldValue(const FieldHeaderType& field, const uint8_t* slot);

// Writes the value of text (UTF-8, not empty) into a zero-filled slot of field.Size bytes.
// False with problem saying why when the text is not a value of the field's type, does not fit,
// or has characters code page 1251 cannot hold; BLOB types are not written here.
bool StoreFieldValue(const FieldHeaderType& field, std::string_view text, uint8_t* slot,
                     std::string& problem);

}  // namespace orv
