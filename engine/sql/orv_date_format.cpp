#include "engine/sql/orv_date_format.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "engine/common/orv_exception.h"
#include "platform/date_names.h"
#include "platform/time_stamp.h"
#include "platform/value_text.h"

namespace orv {
namespace {

constexpr std::array<std::string_view, dfkLiteral> kTokenNames = {
    "YYYY", "YY", "YEAR", "Q",    "MONTH", "MON", "MM",  "M", "RM", "DDD", "DD", "DAY", "DY",
    "DW",   "D",  "HH12", "HH24", "HH",    "H12", "H24", "H", "NN", "N",   "SS", "S",   "AMPM"};

constexpr size_t kMaxNameLength = [] {
  size_t longest = 0;
  for (std::string_view name : kTokenNames) longest = std::max(longest, name.size());
  return longest;
}();

constexpr std::array<std::string_view, 12> kRomanMonths = {"I",   "II",   "III", "IV", "V",  "VI",
                                                           "VII", "VIII", "IX",  "X",  "XI", "XII"};

[[noreturn]] void RaiseUnknownKind() {
  throw Exception("Unknown DateFormatType");
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string Padded(int value) {
  return fmt::format("{:02d}", value);
}

// Reads text from left to right for Parse.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::string_view Take(size_t count) {
    std::string_view piece = text_.substr(std::min(pos_, text_.size()), count);
    pos_ += count;
    return piece;
  }
  bool DigitAt(size_t offset) const {
    return pos_ + offset < text_.size() && IsDigit(text_[pos_ + offset]);
  }
  // One character when the next one is no digit, else two.
  std::string_view TakeOneOrTwo() { return Take(DigitAt(1) ? 2 : 1); }
  void Skip(size_t count) { pos_ += count; }

  // The longest of the names that the text continues with, in any case; -1 for none.
  template <size_t N>
  int MatchName(const std::array<std::string, N>& names) {
    int best = -1;
    size_t best_length = 0;
    for (size_t i = 0; i < N; ++i) {
      const std::string& name = names[i];
      if (name.empty() || name.size() <= best_length || pos_ >= text_.size()) continue;
      if (SameText(text_.substr(pos_, name.size()), name)) {
        best = static_cast<int>(i);
        best_length = name.size();
      }
    }
    pos_ += best_length;
    return best;
  }
  size_t Digits(size_t most) {
    size_t count = 0;
    while (count < most && DigitAt(count)) ++count;
    pos_ += count;
    return count;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

template <size_t N>
std::array<std::string, N> ToStrings(const std::array<std::string_view, N>& views) {
  std::array<std::string, N> strings;
  for (size_t i = 0; i < N; ++i) strings[i] = std::string(views[i]);
  return strings;
}

}  // namespace

uint8_t TDateFormater::Lookup(std::string_view text) {
  std::string upper;
  for (char c : text) upper += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  for (size_t i = 0; i < kTokenNames.size(); ++i)
    if (kTokenNames[i] == upper) return static_cast<uint8_t>(i);
  return dfkLiteral;
}

TDateFormater::TDateFormater(std::string_view format) {
  std::string pending;
  auto flush = [&] {
    if (!pending.empty()) tokens_.push_back({dfkLiteral, pending});
    pending.clear();
  };
  char quote = 0;
  size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (quote != 0) {
      if (c == quote) {
        tokens_.push_back({dfkLiteral, pending});
        pending.clear();
        quote = 0;
      } else {
        pending += c;
      }
      ++i;
      continue;
    }
    if (c == '\'' || c == '"') {
      flush();
      quote = c;
      ++i;
      continue;
    }
    bool matched = false;
    for (size_t length = std::min(kMaxNameLength, format.size() - i); length >= 1; --length) {
      uint8_t kind = Lookup(format.substr(i, length));
      if (kind == dfkLiteral) continue;
      flush();
      tokens_.push_back({kind, std::string(format.substr(i, length))});
      i += length;
      matched = true;
      break;
    }
    if (!matched) pending += format[i++];
  }
  flush();
}

std::string TDateFormater::Format(TDateTime value) const {
  TTimeStamp stamp = DateTimeToTimeStamp(value);
  TDateTime day_value = static_cast<double>(stamp.date - kDateDelta);
  int year, month, day;
  DecodeDate(day_value, &year, &month, &day);
  TDateTime first_of_year = 0;
  TryEncodeDate(year, 1, 1, &first_of_year);
  int day_of_year = static_cast<int>(day_value - first_of_year) + 1;
  int day_of_week = DayOfWeek(day_value);  // 1 = Sunday
  int hour = stamp.time / 3600000, minute = stamp.time / 60000 % 60;
  int second = stamp.time / 1000 % 60;
  auto names = UserDateNames();

  std::string out;
  for (const TDateFormatToken& token : tokens_) {
    switch (token.Kind) {
      case dfkYYYY:
      case dfkYEAR:
        out += fmt::format("{:04d}", year);
        break;
      case dfkYY:
        out += Padded(year % 100);
        break;
      case dfkQ:
        out += fmt::format("{}", (month - 1) / 3 + 1);
        break;
      case dfkMONTH:
        out += names->LongMonthNames[month - 1];
        break;
      case dfkMON:
        out += names->ShortMonthNames[month - 1];
        break;
      case dfkMM:
        out += Padded(month);
        break;
      case dfkM:
        out += fmt::format("{}", month);
        break;
      case dfkRM:
        out += kRomanMonths[month - 1];
        break;
      case dfkDDD:
        out += fmt::format("{}", day_of_year);
        break;
      case dfkDD:
        out += Padded(day);
        break;
      case dfkDAY:
        out += names->LongDayNames[day_of_week - 1];
        break;
      case dfkDY:
        out += names->ShortDayNames[day_of_week - 1];
        break;
      case dfkDW:
        out += fmt::format("{}", (day_of_week + 5) % 7 + 1);
        break;
      case dfkD:
        out += fmt::format("{}", day);
        break;
      case dfkHH12:
      case dfkHH:
        out += Padded(hour % 12);
        break;
      case dfkHH24:
        out += Padded(hour);
        break;
      case dfkH12:
      case dfkH:
        out += fmt::format("{}", hour % 12);
        break;
      case dfkH24:
        out += fmt::format("{}", hour);
        break;
      case dfkNN:
        out += Padded(minute);
        break;
      case dfkN:
        out += fmt::format("{}", minute);
        break;
      case dfkSS:
        out += Padded(second);
        break;
      case dfkS:
        out += fmt::format("{}", second);
        break;
      case dfkAMPM:
        out += hour < 12 ? names->TimeAMString : names->TimePMString;
        break;
      case dfkLiteral:
        out += token.Text;
        break;
      default:
        RaiseUnknownKind();
    }
  }
  return out;
}

TDateTime TDateFormater::Parse(std::string_view text) const {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  enum { kNoMark, kAM, kPM } mark = kNoMark;
  auto names = UserDateNames();
  static const std::array<std::string, 12> roman = ToStrings(kRomanMonths);
  Reader in(text);
  for (const TDateFormatToken& token : tokens_) {
    switch (token.Kind) {
      case dfkYYYY:
      case dfkYEAR:
        year = StrToInt(in.Take(4));
        break;
      case dfkYY:
        year = StrToInt(in.Take(2));
        break;
      case dfkQ:
        month = 3 * StrToInt(in.Take(1)) - 2;
        break;
      case dfkMM:
        month = StrToInt(in.Take(2));
        break;
      case dfkM:
        month = StrToInt(in.TakeOneOrTwo());
        break;
      case dfkDD:
        day = StrToInt(in.Take(2));
        break;
      case dfkD:
        day = StrToInt(in.TakeOneOrTwo());
        break;
      case dfkHH12:
      case dfkHH24:
      case dfkHH: {
        bool digit = in.DigitAt(1);
        std::string_view piece = in.Take(2);
        if (digit) hour = StrToInt(piece);
        break;
      }
      case dfkH12:
      case dfkH24:
      case dfkH:
        hour = StrToInt(in.TakeOneOrTwo());
        break;
      case dfkNN:
        minute = StrToInt(in.Take(2));
        break;
      case dfkN:
        minute = StrToInt(in.TakeOneOrTwo());
        break;
      case dfkSS:
        second = StrToInt(in.Take(2));
        break;
      case dfkS:
        second = StrToInt(in.TakeOneOrTwo());
        break;
      case dfkAMPM: {
        std::array<std::string, 2> words = {names->TimeAMString, names->TimePMString};
        int word = in.MatchName(words);
        if (word < 0) {
          std::string_view piece = in.Take(2);
          if (SameText(piece, "AM"))
            word = 0;
          else if (SameText(piece, "PM"))
            word = 1;
          else
            throw EOrvException::Fmt(2146, {}, std::string(piece));
        }
        mark = word == 0 ? kAM : kPM;
        break;
      }
      // Names and numbers that carry no field of their own are read as printed; text that is
      // not one of them is skipped by the length of the token.
      case dfkMONTH: {
        std::array<std::string, 24> both;
        std::copy(names->LongMonthNames.begin(), names->LongMonthNames.end(), both.begin());
        std::copy(names->GenitiveMonthNames.begin(), names->GenitiveMonthNames.end(),
                  both.begin() + 12);
        int found = in.MatchName(both);
        if (found >= 0)
          month = found % 12 + 1;
        else
          in.Skip(token.Text.size());
        break;
      }
      case dfkMON:
      case dfkRM: {
        int found = in.MatchName(token.Kind == dfkMON ? names->ShortMonthNames : roman);
        if (found >= 0)
          month = found + 1;
        else
          in.Skip(token.Text.size());
        break;
      }
      case dfkDAY:
      case dfkDY:
        if (in.MatchName(token.Kind == dfkDAY ? names->LongDayNames : names->ShortDayNames) < 0)
          in.Skip(token.Text.size());
        break;
      case dfkDDD:
      case dfkDW:
        if (in.Digits(token.Kind == dfkDDD ? 3 : 1) == 0) in.Skip(token.Text.size());
        break;
      case dfkLiteral:
        in.Skip(token.Text.size());
        break;
      default:
        RaiseUnknownKind();
    }
  }
  // Applied at the end, so the word may stand before the hour; 12 AM is midnight, 12 PM noon.
  if (mark == kPM && hour < 12) hour += 12;
  if (mark == kAM && hour == 12) hour = 0;

  TDateTime date = 0, time = 0;
  if (year != 0 && month != 0 && day != 0 && !TryEncodeDate(year, month, day, &date))
    throw EConvertError("Invalid argument to date encode");
  if (!TryEncodeTime(hour, minute, second, 0, &time))
    throw EConvertError("Invalid argument to time encode");
  return date < 0 ? date - time : date + time;
}

int TDateFormater::MaxLength() const {
  int length = 0;
  for (const TDateFormatToken& token : tokens_) {
    switch (token.Kind) {
      case dfkYYYY:
      case dfkYEAR:
        length += 4;
        break;
      case dfkQ:
        length += 1;
        break;
      case dfkMONTH:
        length += 9;
        break;
      case dfkMON:
        length += 3;
        break;
      case dfkRM:
        length += 4;
        break;
      case dfkDDD:
        length += 3;
        break;
      case dfkDAY:
        length += 12;
        break;
      case dfkLiteral:
        length += static_cast<int>(token.Text.size());
        break;
      default:
        if (token.Kind > dfkLiteral) RaiseUnknownKind();
        length += 2;
        break;
    }
  }
  return length;
}

}  // namespace orv
