#include "platform/locale.h"

#include <unicode/coll.h>
#include <unicode/dcfmtsym.h>
#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/codepage.h"
#include "platform/exception.h"

namespace orv {
namespace {

struct LocaleData {
  std::string name;
  uint32_t id = kInvariantLocaleId;
  char decimal_separator = '.';
  icu::Locale icu_locale = icu::Locale::getRoot();
  // Null for byte order, or when ICU cannot collate the locale at all.
  std::unique_ptr<icu::Collator> sensitive;
  std::unique_ptr<icu::Collator> insensitive;
  // Identical-strength sort keys of the 256 one-character strings; empty for byte order.
  std::array<std::string, 256> char_keys;
  std::array<char, 256> upper{};
  std::array<char, 256> lower{};
};

struct LocaleSet {
  LocaleData user;
  LocaleData system;
};

const char* FirstSet(std::initializer_list<const char*> variables) {
  for (const char* variable : variables) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "";
}

std::unique_ptr<icu::Collator> OpenCollator(const icu::Locale& locale,
                                            icu::Collator::ECollationStrength strength) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status) || !collator) return nullptr;
  collator->setStrength(strength);
  // Canonically equivalent spellings must compare equal whatever their normalisation.
  collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
  if (U_FAILURE(status)) return nullptr;
  return collator;
}

char SingleCharOrSelf(const icu::UnicodeString& mapped, char self) {
  char out;
  if (mapped.length() == 1 && UnicodeToCp1251Char(mapped.charAt(0), &out)) return out;
  return self;
}

void BuildLocale(const std::string& name, LocaleData* data) {
  data->name = name;
  if (!name.empty()) {
    data->icu_locale = icu::Locale(name.c_str());
    uint32_t lcid = uloc_getLCID(name.c_str());
    data->id = lcid;

    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols symbols(data->icu_locale, status);
    if (U_SUCCESS(status)) {
      icu::UnicodeString separator =
          symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
      data->decimal_separator = SingleCharOrSelf(separator, '.');
    }

    data->sensitive = OpenCollator(data->icu_locale, icu::Collator::TERTIARY);
    data->insensitive = OpenCollator(data->icu_locale, icu::Collator::SECONDARY);
    std::unique_ptr<icu::Collator> identical =
        OpenCollator(data->icu_locale, icu::Collator::IDENTICAL);
    if (!data->sensitive || !data->insensitive || !identical) {
      data->sensitive.reset();
      data->insensitive.reset();
    } else {
      for (int c = 0; c < 256; ++c) {
        icu::UnicodeString one(static_cast<UChar>(Cp1251CharToUtf16(static_cast<uint8_t>(c))));
        uint8_t key[64];
        int32_t length = identical->getSortKey(one, key, sizeof key);
        std::string& stored = data->char_keys[c];
        if (length <= static_cast<int32_t>(sizeof key)) {
          stored.assign(reinterpret_cast<const char*>(key), length);
        } else {
          stored.resize(length);
          identical->getSortKey(one, reinterpret_cast<uint8_t*>(stored.data()), length);
        }
      }
    }
  }
  const icu::Locale& case_locale = data->icu_locale;
  for (int c = 0; c < 256; ++c) {
    char self = static_cast<char>(c);
    icu::UnicodeString one(static_cast<UChar>(Cp1251CharToUtf16(static_cast<uint8_t>(c))));
    icu::UnicodeString up(one), low(one);
    data->upper[c] = SingleCharOrSelf(up.toUpper(case_locale), self);
    data->lower[c] = SingleCharOrSelf(low.toLower(case_locale), self);
  }
}

// Sets are never freed: a caller may still be comparing under one while a test reloads. Each
// pair of locale names is built once and reused, so reloading costs nothing when the locale is
// unchanged and memory stays bounded by the number of locales a process visits.
std::mutex g_mutex;
std::vector<std::unique_ptr<LocaleSet>> g_sets;
std::atomic<const LocaleSet*> g_current{nullptr};

void LoadLocked() {
  std::string user = LocaleFromPosixName(FirstSet({"LC_ALL", "LC_COLLATE", "LANG"}));
  std::string system = LocaleFromPosixName(FirstSet({"LANG"}));
  for (const auto& set : g_sets)
    if (set->user.name == user && set->system.name == system) {
      g_current.store(set.get(), std::memory_order_release);
      return;
    }
  auto set = std::make_unique<LocaleSet>();
  BuildLocale(user, &set->user);
  BuildLocale(system, &set->system);
  g_current.store(set.get(), std::memory_order_release);
  g_sets.push_back(std::move(set));
}

const LocaleSet& Current() {
  const LocaleSet* set = g_current.load(std::memory_order_acquire);
  if (set != nullptr) return *set;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_current.load(std::memory_order_acquire) == nullptr) LoadLocked();
  return *g_current.load(std::memory_order_acquire);
}

const LocaleData& Scope(LocaleScope scope) {
  const LocaleSet& set = Current();
  return scope == LocaleScope::kSystem ? set.system : set.user;
}

int Sign(int value) {
  return (value > 0) - (value < 0);
}

int32_t CheckedLength(size_t length) {
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw Exception("Wide text too long: more than 2147483647 units");
  return static_cast<int32_t>(length);
}

int FromCollation(UCollationResult result) {
  return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
}

int CompareMappedBytes(std::string_view a, std::string_view b, const std::array<char, 256>* map) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (map != nullptr) {
      x = static_cast<uint8_t>((*map)[x]);
      y = static_cast<uint8_t>((*map)[y]);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::u16string FromUnicodeString(const icu::UnicodeString& text) {
  return std::u16string(text.getBuffer(), static_cast<size_t>(text.length()));
}

}  // namespace

std::string LocaleFromPosixName(std::string_view posix_name) {
  std::string_view base = posix_name.substr(0, posix_name.find_first_of(".@"));
  if (base.empty() || base == "C" || base == "POSIX" || base.size() > 32) return {};
  for (char c : base)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return {};
  if (!std::isalpha(static_cast<unsigned char>(base[0]))) return {};
  return std::string(base);
}

void ReloadLocale() {
  std::lock_guard<std::mutex> lock(g_mutex);
  LoadLocked();
}

std::string LocaleName(LocaleScope scope) {
  return Scope(scope).name;
}

uint32_t LocaleId(LocaleScope scope) {
  return Scope(scope).id;
}

char LocaleDecimalSeparator() {
  return Current().user.decimal_separator;
}

int CompareAnsiChar(unsigned char a, unsigned char b) {
  if (a == b) return 0;
  if (a == 0 || b == 0) return a == 0 ? -1 : 1;
  const LocaleData& data = Scope(LocaleScope::kUser);
  if (data.sensitive) {
    int order = data.char_keys[a].compare(data.char_keys[b]);
    if (order != 0) return Sign(order);
  }
  return a < b ? -1 : 1;
}

char AnsiUpperChar(char c) {
  return Scope(LocaleScope::kUser).upper[static_cast<uint8_t>(c)];
}

char AnsiLowerChar(char c) {
  return Scope(LocaleScope::kUser).lower[static_cast<uint8_t>(c)];
}

std::string AnsiUpperCase(std::string_view text) {
  const LocaleData& data = Scope(LocaleScope::kUser);
  std::string result(text);
  for (char& c : result) c = data.upper[static_cast<uint8_t>(c)];
  return result;
}

std::string AnsiLowerCase(std::string_view text) {
  const LocaleData& data = Scope(LocaleScope::kUser);
  std::string result(text);
  for (char& c : result) c = data.lower[static_cast<uint8_t>(c)];
  return result;
}

int CompareAnsi(std::string_view a, std::string_view b, bool ignore_case) {
  const LocaleData& data = Scope(LocaleScope::kUser);
  if (!data.sensitive) return CompareMappedBytes(a, b, ignore_case ? &data.upper : nullptr);
  return CompareWide(Cp1251ToUtf16(a), Cp1251ToUtf16(b), ignore_case, LocaleScope::kUser);
}

int CompareWide(std::u16string_view a, std::u16string_view b, bool ignore_case, LocaleScope scope) {
  const LocaleData& data = Scope(scope);
  int32_t a_length = CheckedLength(a.size()), b_length = CheckedLength(b.size());
  UErrorCode status = U_ZERO_ERROR;
  if (data.sensitive) {
    const icu::Collator& collator = ignore_case ? *data.insensitive : *data.sensitive;
    UCollationResult result = collator.compare(a.data(), a_length, b.data(), b_length, status);
    if (U_SUCCESS(status)) return FromCollation(result);
    status = U_ZERO_ERROR;
  }
  if (ignore_case) {
    int order = u_strCaseCompare(a.data(), a_length, b.data(), b_length,
                                 U_FOLD_CASE_DEFAULT | U_COMPARE_CODE_POINT_ORDER, &status);
    return Sign(order);
  }
  return Sign(u_strCompare(a.data(), a_length, b.data(), b_length, true));
}

std::u16string WideUpperCase(std::u16string_view text) {
  icu::UnicodeString value(text.data(), CheckedLength(text.size()));
  return FromUnicodeString(value.toUpper(Scope(LocaleScope::kUser).icu_locale));
}

std::u16string WideLowerCase(std::u16string_view text) {
  icu::UnicodeString value(text.data(), CheckedLength(text.size()));
  return FromUnicodeString(value.toLower(Scope(LocaleScope::kUser).icu_locale));
}

}  // namespace orv
