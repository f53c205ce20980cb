// Internals shared by the implementation files of FormatSettings: the state
// taken from ICU (Impl), the parts of a date or time pattern, and the small
// text helpers that numbers, dates and the locale selection all use. Only the
// Locale*.cpp files include this header.
#pragma once

#include <unicode/coll.h>
#include <unicode/unistr.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locale/Locale.h"
#include "platform/os/Exception.h"

namespace platform {

namespace locale_detail {

inline std::string ToUtf8(const icu::UnicodeString& s) {
  std::string out;
  s.toUTF8String(out);
  return out;
}

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

inline std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Cuts blanks and the locale's no-break spaces (U+00A0, U+202F) that separate
// a currency symbol from the amount.
std::string_view TrimCurrencySpacing(std::string_view s);

// Appends `value` in decimal, padded with leading zeros to `width` digits.
void AppendNumber(std::string& out, int value, int width);

// Text of a pattern of the locale's date or time format: runs of one field
// letter, or literal text.
struct PatternToken {
  char letter = 0;  // 0 for a literal
  int count = 0;
  std::string literal;
};

// The throwing form of a parser: EConvertError "'<text>' <what>".
template <typename T>
T ParseOrThrow(const FormatSettings& settings,
               bool (FormatSettings::*tryParse)(std::string_view, T&) const, std::string_view text,
               std::string_view what) {
  T value{};
  if (!(settings.*tryParse)(text, value)) {
    std::string message = "'";
    message += text;
    message += "' ";
    message += what;
    throw EConvertError(message);
  }
  return value;
}

}  // namespace locale_detail

struct FormatSettings::Names {
  std::string numeric, monetary, time, text;
};

// Everything the formatters need, taken from ICU once at construction and
// immutable afterwards; the collators are ICU objects whose const compare is
// safe for concurrent use.
struct FormatSettings::Impl {
  std::string name;
  std::string decimalSeparator, thousandSeparator;

  // Currency: the affixes as the locale's currency format gives them, with
  // the symbol and the minus sign already in place.
  std::string currencySymbol, currencyDecimal, currencyGroup;
  std::string positivePrefix, positiveSuffix, negativePrefix, negativeSuffix;
  int primaryGrouping = 3, secondaryGrouping = 3, minimumGrouping = 1;
  int currencyDigits = 2;

  // Dates and times.
  std::vector<locale_detail::PatternToken> shortDate, longTime;
  std::string monthNames[12], shortMonthNames[12];
  std::string am = "AM", pm = "PM";
  char dateOrder[3] = {'d', 'M', 'y'};
  std::string dateSeparator = ".", timeSeparator = ":";

  // Texts.
  std::string textLocaleId;
  std::unique_ptr<icu::Collator> caseSensitive, caseInsensitive;
};

}  // namespace platform
