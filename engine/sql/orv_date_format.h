#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace orv {

// Kinds of date format tokens; the numbers index the token table.
enum TDateFormatKind : uint8_t {
  dfkYYYY,
  dfkYY,
  dfkYEAR,
  dfkQ,
  dfkMONTH,
  dfkMON,
  dfkMM,
  dfkM,
  dfkRM,
  dfkDDD,
  dfkDD,
  dfkDAY,
  dfkDY,
  dfkDW,
  dfkD,
  dfkHH12,
  dfkHH24,
  dfkHH,
  dfkH12,
  dfkH24,
  dfkH,
  dfkNN,
  dfkN,
  dfkSS,
  dfkS,
  dfkAMPM,
  dfkLiteral,
};

struct TDateFormatToken {
  uint8_t Kind = dfkLiteral;
  std::string Text;  // as written in the format, or the literal text
};

// The format engine of TODATE and TOSTRING: a format string compiled once into tokens, used to
// print date-times, to read them back and to tell the longest text it prints. Names of months
// and days and the AM/PM words are the user locale's (platform/date_names.h).
class TDateFormater {
 public:
  explicit TDateFormater(std::string_view format);

  // Raises 2146 for a missing AM/PM word, the platform's conversion error for a number that
  // is not one and its encoding error for an impossible date or time.
  TDateTime Parse(std::string_view text) const;
  // Raises the platform's conversion error for a value outside years 1..9999.
  std::string Format(TDateTime value) const;
  int MaxLength() const;

  // The table index of a token name in any case; dfkLiteral when there is none.
  static uint8_t Lookup(std::string_view text);

  const std::vector<TDateFormatToken>& Tokens() const { return tokens_; }

 private:
  std::vector<TDateFormatToken> tokens_;
};

}  // namespace orv
