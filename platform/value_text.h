#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/exception.h"

namespace orv {

// A text that does not convert to the requested number, date or time.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// The runtime's decimal separator for number text, process-wide like the date formats below.
// It starts as '.'; start-up code sets it from the user locale, and callers that need a fixed
// separator switch it for the call and put it back.
char DecimalSeparator();
void SetDecimalSeparator(char separator);

std::string IntToStr(int64_t value);
// "'abc' is not a valid integer value" for anything but optional blanks, a sign and decimal
// digits (or "$" and hex digits) that fit the type.
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
bool TryStrToInt64(std::string_view text, int64_t* out);

// Shortest text of up to 15 significant digits: fixed notation from 0.0001 up to 15 integer
// digits, else "1.5E-5" / "1E20". NaN and infinities give "NAN", "INF", "-INF".
std::string FloatToStr(double value);
// Blanks around the number are allowed; "'x' is not a valid floating point value" otherwise.
double StrToFloat(std::string_view text);
bool TryStrToFloat(std::string_view text, double* out);

// Dates are written day.month.year ("05.03.2024"), times hour:minute:second without a leading
// zero in the hour ("9:05:03"). DateTimeToStr leaves out a zero time part.
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);
// Parse the forms above ("/" may stand for "."); a time may omit its seconds and carry
// milliseconds ("9:05:03.250"); years are taken as written. StrToDateTime also takes a time
// alone (day 0).
TDateTime StrToDate(std::string_view text);
TDateTime StrToTime(std::string_view text);
TDateTime StrToDateTime(std::string_view text);
bool TryStrToDateTime(std::string_view text, TDateTime* out);

// "True" / "False"; parsing accepts those words in any case and numbers (0 is false).
std::string BoolToStr(bool value);
bool StrToBool(std::string_view text);

// Blanks and control characters removed at both ends.
std::string Trim(std::string_view text);
// Case-insensitive equality over the letters of code page 1251 (Latin and Cyrillic), as names
// of fields, parameters and indexes compare.
bool SameText(std::string_view a, std::string_view b);
char UpperCaseChar(char c);

}  // namespace orv
