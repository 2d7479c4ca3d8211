#include "platform/date_names.h"

#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <mutex>
#include <string_view>

#include "platform/codepage.h"
#include "platform/locale.h"

namespace orv {
namespace {

std::string ToCp1251(const icu::UnicodeString& text) {
  return Utf16ToCp1251(std::u16string_view(reinterpret_cast<const char16_t*>(text.getBuffer()),
                                           static_cast<size_t>(text.length())));
}

// Abbreviations lose their dot and are cut to the width the formatter reserves.
std::string Abbreviate(icu::UnicodeString text, int32_t width) {
  text.trim();
  while (text.length() > 0 && text.charAt(text.length() - 1) == u'.')
    text.truncate(text.length() - 1);
  if (text.length() > width) text.truncate(width);
  return ToCp1251(text);
}

}  // namespace

TDateNames LoadDateNames(const std::string& icu_locale) {
  TDateNames names;
  icu::Locale locale(icu_locale.c_str());
  names.LocaleName = locale.getName();
  UErrorCode status = U_ZERO_ERROR;
  icu::DateFormatSymbols symbols(locale, status);
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    symbols = icu::DateFormatSymbols(icu::Locale::getRoot(), status);
  }
  if (U_SUCCESS(status)) {
    using Symbols = icu::DateFormatSymbols;
    int32_t count = 0;
    const icu::UnicodeString* months = symbols.getMonths(count, Symbols::STANDALONE, Symbols::WIDE);
    for (int32_t i = 0; i < 12 && i < count; ++i) names.LongMonthNames[i] = ToCp1251(months[i]);
    months = symbols.getMonths(count, Symbols::FORMAT, Symbols::WIDE);
    for (int32_t i = 0; i < 12 && i < count; ++i) names.GenitiveMonthNames[i] = ToCp1251(months[i]);
    months = symbols.getMonths(count, Symbols::STANDALONE, Symbols::ABBREVIATED);
    for (int32_t i = 0; i < 12 && i < count; ++i)
      names.ShortMonthNames[i] = Abbreviate(months[i], 3);
    // ICU's weekday arrays start with an empty entry at index 0; Sunday is 1.
    const icu::UnicodeString* days = symbols.getWeekdays(count, Symbols::STANDALONE, Symbols::WIDE);
    for (int32_t i = 0; i < 7 && i + 1 < count; ++i) names.LongDayNames[i] = ToCp1251(days[i + 1]);
    days = symbols.getWeekdays(count, Symbols::STANDALONE, Symbols::SHORT);
    for (int32_t i = 0; i < 7 && i + 1 < count; ++i)
      names.ShortDayNames[i] = Abbreviate(days[i + 1], 2);
    const icu::UnicodeString* am_pm = symbols.getAmPmStrings(count);
    if (count >= 2) {
      names.TimeAMString = ToCp1251(am_pm[0]);
      names.TimePMString = ToCp1251(am_pm[1]);
    }
  }
  if (names.TimeAMString.empty()) names.TimeAMString = "AM";
  if (names.TimePMString.empty()) names.TimePMString = "PM";
  return names;
}

std::shared_ptr<const TDateNames> UserDateNames() {
  static std::mutex mutex;
  static std::string cached_locale;
  static std::shared_ptr<const TDateNames> cached;
  std::string locale = LocaleName();
  if (locale.empty()) locale = "en_US_POSIX";
  std::lock_guard<std::mutex> lock(mutex);
  if (!cached || locale != cached_locale) {
    cached = std::make_shared<const TDateNames>(LoadDateNames(locale));
    cached_locale = locale;
  }
  return cached;
}

}  // namespace orv
