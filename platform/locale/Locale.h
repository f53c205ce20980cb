// The user's number, currency and date conventions and the locale-aware text
// services (upper-casing, collation), built on ICU.
//
// FormatSettings never touches process-wide locale state: it neither calls
// setlocale nor changes ICU's default locale. The locale of each category is
// taken from the environment (see User()) or given by name.
//
// Thread safety: all const methods may be called from several threads at
// once. Everything taken from ICU (symbols, affixes, patterns, collators) is
// set up in the constructor and not changed afterwards; ICU collators are safe
// for concurrent comparisons.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/os/DateTime.h"

namespace platform {

class FormatSettings {
 public:
  // The process-wide settings from the environment, created on first use.
  // Each category takes LC_ALL, else its own variable (LC_NUMERIC for
  // numbers, LC_MONETARY for currency, LC_TIME for dates and times), else
  // LANG. POSIX names map to locale names ("de_DE.UTF-8" and "de_DE@euro"
  // are "de_DE"). Unset, empty, "C", "C.UTF-8" and "POSIX" mean de_DE.
  // The texts (UpperCase, Compare) take LC_ALL, else LC_COLLATE (or, when
  // that is unset, LC_CTYPE), else LANG.
  static const FormatSettings& User();
  // Re-reads the environment and replaces the instance User() returns. For
  // start-up and tests only: it must not race with other threads calling
  // User() (they may still get the previous instance) or changing the
  // environment. Replaced instances are kept until exit, so references
  // obtained earlier stay valid.
  static void ReloadUser();

  // One locale ("de_DE", "en_US", or a POSIX name as above) for every
  // category. Text that cannot be a locale name (other characters than
  // letters, digits, '_' and '-') gives de_DE; a well-formed name ICU does not
  // know gets ICU's fallback conventions.
  explicit FormatSettings(const std::string& localeName);
  ~FormatSettings();
  FormatSettings(const FormatSettings&) = delete;
  FormatSettings& operator=(const FormatSettings&) = delete;

  // Name of the numbers' locale, e.g. "de_DE".
  const std::string& LocaleName() const;
  // UTF-8 texts of the locale's symbols.
  const std::string& DecimalSeparator() const;
  const std::string& ThousandSeparator() const;
  const std::string& CurrencySymbol() const;
  // Decimals of the locale's currency (2 for the euro and the dollar).
  int CurrencyDigits() const;

  // General text with up to 15 significant digits (trailing zeros dropped),
  // the locale's decimal separator and no grouping. The exponent form
  // ("1E20", "1,5E-7", "1E-5") is used when the rounded value has a decimal
  // exponent of 15 or more, or of -5 or less (below 0.0001, which is still
  // "0,0001"). NaN is "NAN", infinities "INF" and "-INF"; -0 is "0".
  std::string FormatFloat(double v) const;
  // `v` rounded to `precision` significant digits, then shown with exactly
  // `digits` decimals, the locale's grouping, decimal separator and currency
  // symbol in the locale's placement ("75,00 €" with a no-break space under
  // de_DE, "$75.00" under en_US). An amount that rounds to zero has no
  // minus sign. `precision` is taken within 1..17 and `digits` within 0..18.
  // NaN/inf give "NAN"/"INF"/"-INF".
  std::string FormatCurrency(double v, int precision = 10, int digits = 2) const;
  // The amount rounded to 4 decimals as plain text with the currency's
  // decimal separator: no symbol, no grouping, no exponent, trailing zeros
  // dropped ("75", "0,1235", "-1,5").
  std::string FormatCurr(double v) const;
  // The locale's short date with a four-digit year ("15.01.2027",
  // "1/15/2027"). A value outside years 1..9999 or NaN gives an empty text.
  std::string FormatShortDate(TDateTime dt) const;
  // The locale's medium time ("13:05:09", "1:05:09 PM"); seconds are not
  // rounded up from the milliseconds. A narrow no-break space that the
  // locale's pattern puts before the day period is written as a blank.
  std::string FormatLongTime(TDateTime dt) const;
  // Short date, and when the time of day is not 0 a blank and the long time;
  // empty when the date is outside years 1..9999.
  std::string FormatDateTime(TDateTime dt) const;

  // Parsers: the whole text must match; blanks (spaces, tabs) around it are
  // allowed. They return false on a wrong shape and never throw.
  // Optional sign, digits with the locale's decimal separator (no group
  // separators), optional exponent "e"/"E" with optional sign, at least one
  // digit. NaN/inf texts and values that overflow are rejected; a value too
  // small for a double reads as (signed) zero.
  bool TryParseFloat(std::string_view text, double& out) const;
  // Optional sign, then decimal digits or '$' and hexadecimal digits; the
  // value must fit the type.
  bool TryParseInt32(std::string_view text, std::int32_t& out) const;
  bool TryParseInt64(std::string_view text, std::int64_t& out) const;
  // Like TryParseFloat with the currency's decimal separator; the currency
  // symbol may stand before or after the amount ("75,00 €", "$75.00",
  // "-$75.00").
  bool TryParseCurrency(std::string_view text, double& out) const;
  // The locale's short date order and separator (d.m.y under de_DE, m/d/y
  // under en_US), day and month of one or two digits, a year of one to four
  // digits. A year written with one or two digits falls into the hundred
  // years that begin 50 years before the current year (in 2026: "76" is
  // 1976, "75" is 2075, "27" is 2027); three- and four-digit years are taken
  // as they stand. Blanks may stand before each number, and a separator may
  // close the date.
  bool TryParseDate(std::string_view text, TDateTime& out) const;
  // "h:m" or "h:m:s" with ':' or the locale's time separator, 24-hour; an
  // "AM"/"PM" suffix (any case, or the locale's own day period texts)
  // selects the 12-hour reading with h in 1..12.
  bool TryParseTime(std::string_view text, TDateTime& out) const;
  // A date, blanks, a time; or a date alone.
  bool TryParseDateTime(std::string_view text, TDateTime& out) const;

  // Throwing forms: EConvertError with the messages
  // "'%s' is not a valid floating point value", "'%s' is not a valid integer
  // value", "'%s' is not a valid date", "'%s' is not a valid time",
  // "'%s' is not a valid date and time".
  double ParseFloat(std::string_view text) const;
  std::int32_t ParseInt32(std::string_view text) const;
  std::int64_t ParseInt64(std::string_view text) const;
  double ParseCurrency(std::string_view text) const;
  TDateTime ParseDate(std::string_view text) const;
  TDateTime ParseTime(std::string_view text) const;
  TDateTime ParseDateTime(std::string_view text) const;

  // Full upper-case mapping for the text locale (UTF-8 and UTF-16 forms); the
  // length may change ("ß" becomes "SS"). Invalid UTF-8 becomes U+FFFD;
  // unpaired surrogates of UTF-16 text are kept as they are.
  std::string UpperCase(std::string_view utf8) const;
  std::u16string UpperCase(std::u16string_view text) const;
  // Collation order of the text locale (not code unit order): -1, 0 or 1.
  // With ignoreCase, accents still count but case does not.
  int Compare(std::u16string_view a, std::u16string_view b, bool ignoreCase) const;

 private:
  struct Names;
  struct Impl;
  explicit FormatSettings(const Names& names);
  static void ReloadUserLocked();
  std::unique_ptr<Impl> impl_;
};

// "." as decimal separator, independent of any locale; same shape rules as
// FormatSettings::TryParseFloat.
bool TryParseFloatInvariant(std::string_view text, double& out);
// Shortest text that reads back as the same double, "." as separator;
// "nan", "inf", "-inf" for the special values.
std::string FormatFloatInvariant(double v);

}  // namespace platform
