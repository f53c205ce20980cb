#include "platform/Locale.h"

#include <unicode/coll.h>
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/Exception.h"
#include "platform/TextCodec.h"

namespace platform {

namespace {

constexpr const char* DefaultLocale = "de_DE";

std::string ToUtf8(const icu::UnicodeString& s) {
  std::string out;
  s.toUTF8String(out);
  return out;
}

// "de_DE.UTF-8" and "de_DE@euro" become "de_DE"; unset, empty, "C", "C.UTF-8"
// and "POSIX" become the default.
std::string MapPosixName(std::string_view name) {
  const std::size_t cut = name.find_first_of(".@");
  if (cut != std::string_view::npos) name = name.substr(0, cut);
  if (name.empty() || name == "C" || name == "POSIX") return DefaultLocale;
  // Anything but letters, digits, '_' and '-' is no locale name; such text
  // must not reach ICU's resource lookup.
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
    if (!ok) return DefaultLocale;
  }
  return std::string(name);
}

std::string FromEnvironment(const char* categoryVariable) {
  for (const char* variable : {"LC_ALL", categoryVariable, "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return MapPosixName(value);
  }
  return DefaultLocale;
}

icu::Locale MakeLocale(const std::string& name) {
  icu::Locale locale(name.c_str());
  if (locale.isBogus()) return icu::Locale(DefaultLocale);
  return locale;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Cuts blanks and the locale's no-break spaces (U+00A0, U+202F) that separate
// a currency symbol from the amount.
std::string_view TrimCurrencySpacing(std::string_view s) {
  for (bool changed = true; changed;) {
    changed = false;
    s = TrimBlanks(s);
    for (std::string_view space : {"\xC2\xA0", "\xE2\x80\xAF"}) {
      if (s.substr(0, space.size()) == space) {
        s.remove_prefix(space.size());
        changed = true;
      }
      if (s.size() >= space.size() && s.substr(s.size() - space.size()) == space) {
        s.remove_suffix(space.size());
        changed = true;
      }
    }
  }
  return s;
}

// Parses a decimal number: optional sign, digits with `decimalSeparator`, an
// optional exponent. `text` must already be trimmed. Runs in linear time for
// any length; no locale state of the C library is involved.
bool ParseDecimal(std::string_view text, std::string_view decimalSeparator, double& out) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  std::string normal;  // the same number in the "." form from_chars reads
  normal.reserve(n + 2);
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (negative) normal += '-';
  std::size_t digits = 0;
  // Decimal exponent of the leading digit, used to tell overflow from
  // underflow when the value is out of range.
  long long magnitude = 0;
  bool seenNonZero = false;
  while (i < n && IsDigit(text[i])) {
    if (seenNonZero || text[i] != '0') {
      seenNonZero = true;
      if (magnitude < LLONG_MAX / 4) ++magnitude;
    }
    normal += text[i++];
    ++digits;
  }
  if (!decimalSeparator.empty() && text.substr(i, decimalSeparator.size()) == decimalSeparator) {
    i += decimalSeparator.size();
    normal += '.';
    while (i < n && IsDigit(text[i])) {
      if (!seenNonZero) {
        if (text[i] != '0')
          seenNonZero = true;
        else if (magnitude > LLONG_MIN / 4)
          --magnitude;
      }
      normal += text[i++];
      ++digits;
    }
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    normal += 'e';
    bool negativeExponent = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      normal += text[i++];
    }
    std::size_t exponentDigits = 0;
    long long exponent = 0;
    while (i < n && IsDigit(text[i])) {
      if (exponent < LLONG_MAX / 20) exponent = exponent * 10 + (text[i] - '0');
      normal += text[i++];
      ++exponentDigits;
    }
    if (exponentDigits == 0) return false;
    magnitude += negativeExponent ? -exponent : exponent;
  }
  if (i != n) return false;
  double value = 0;
  const char* first = normal.data();
  const char* last = first + normal.size();
  const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ptr != last) return false;
  if (ec == std::errc::result_out_of_range) {
    // Too small to represent is zero; too large is no number.
    if (!seenNonZero || magnitude <= 0) {
      out = negative ? -0.0 : 0.0;
      return true;
    }
    return false;
  }
  if (ec != std::errc() || !std::isfinite(value)) return false;
  out = value;
  return true;
}

template <typename Int>
bool ParseInteger(std::string_view text, Int& out) {
  text = TrimBlanks(text);
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const bool hex = i < text.size() && text[i] == '$';
  if (hex) ++i;
  if (i == text.size()) return false;
  using U = std::make_unsigned_t<Int>;
  const U limit = negative ? static_cast<U>(std::numeric_limits<Int>::max()) + 1
                           : static_cast<U>(std::numeric_limits<Int>::max());
  const U base = hex ? 16 : 10;
  U value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    U digit = 0;
    if (IsDigit(c)) {
      digit = static_cast<U>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<U>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<U>(c - 'A' + 10);
    } else {
      return false;
    }
    if (value > (limit - digit) / base) return false;
    value = value * base + digit;
  }
  out = negative ? static_cast<Int>(U{0} - value) : static_cast<Int>(value);
  return true;
}

// Decimal digits and exponent of a finite nonzero |v| rounded to `precision`
// significant digits: v = 0.d1d2d3... * 10^(exponent + 1).
struct DecimalDigits {
  std::string digits;  // at least one digit, no sign
  int exponent = 0;    // exponent of the first digit
};

DecimalDigits ToDecimalDigits(double v, int precision) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(v),
                                    std::chars_format::scientific, precision - 1);
  DecimalDigits d;
  const char* p = buffer;
  for (; p != result.ptr && *p != 'e'; ++p) {
    if (IsDigit(*p)) d.digits += *p;
  }
  if (p != result.ptr) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), result.ptr, d.exponent);
  return d;
}

void StripTrailingZeros(std::string& digits) {
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

std::string SpecialText(double v) {
  if (std::isnan(v)) return "NAN";
  return v > 0 ? "INF" : "-INF";
}

// Text of a pattern of the locale's date or time format: runs of one field
// letter, or literal text.
struct PatternToken {
  char letter = 0;  // 0 for a literal
  int count = 0;
  std::string literal;
};

std::vector<PatternToken> Tokenize(const icu::UnicodeString& pattern) {
  std::vector<PatternToken> tokens;
  auto appendLiteral = [&tokens](const icu::UnicodeString& text) {
    if (tokens.empty() || tokens.back().letter != 0) tokens.push_back({});
    tokens.back().literal += ToUtf8(text);
  };
  const int32_t n = pattern.length();
  for (int32_t i = 0; i < n;) {
    const char16_t c = pattern.charAt(i);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      int32_t j = i;
      while (j < n && pattern.charAt(j) == c) ++j;
      tokens.push_back({static_cast<char>(c), static_cast<int>(j - i), {}});
      i = j;
    } else if (c == '\'') {
      if (i + 1 < n && pattern.charAt(i + 1) == '\'') {
        appendLiteral(u"'");
        i += 2;
        continue;
      }
      int32_t j = i + 1;
      icu::UnicodeString quoted;
      while (j < n) {
        if (pattern.charAt(j) == '\'') {
          if (j + 1 < n && pattern.charAt(j + 1) == '\'') {
            quoted += u'\'';
            j += 2;
            continue;
          }
          break;
        }
        quoted += pattern.charAt(j++);
      }
      appendLiteral(quoted);
      i = j + 1;
    } else if (c == 0x202F) {
      // A narrow no-break space before the day period is shown as a plain
      // blank so that times stay readable and parseable everywhere.
      appendLiteral(u" ");
      ++i;
    } else {
      appendLiteral(icu::UnicodeString(c));
      ++i;
    }
  }
  return tokens;
}

void AppendNumber(std::string& out, int value, int width) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  for (int pad = width - static_cast<int>(result.ptr - buffer); pad > 0; --pad) out += '0';
  out.append(buffer, result.ptr);
}

// Separator of a date or time pattern: the literal after the first field,
// without blanks; `fallback` when the pattern has none.
std::string FieldSeparator(const std::vector<PatternToken>& tokens, const std::string& fallback) {
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (tokens[i].letter != 0 && tokens[i + 1].letter == 0) {
      std::string_view sep = TrimBlanks(tokens[i + 1].literal);
      // Direction marks around the separator (right-to-left locales) are no
      // part of what users type.
      std::string cleaned;
      for (std::size_t k = 0; k < sep.size();) {
        if (sep.substr(k, 3) == "\xE2\x80\x8F" || sep.substr(k, 3) == "\xE2\x80\x8E") {
          k += 3;
        } else {
          cleaned += sep[k++];
        }
      }
      if (!cleaned.empty()) return cleaned;
    }
  }
  return fallback;
}

// Reads 1..maxDigits decimal digits at `i` (blanks before them allowed).
bool ReadNumber(std::string_view s, std::size_t& i, int maxDigits, int& value, int& count) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  value = 0;
  count = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (++count > maxDigits) return false;
    value = value * 10 + (s[i++] - '0');
  }
  return count > 0;
}

bool ReadLiteral(std::string_view s, std::size_t& i, std::string_view literal) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (s.substr(i, literal.size()) != literal) return false;
  i += literal.size();
  return true;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

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
  std::vector<PatternToken> shortDate, longTime;
  std::string monthNames[12], shortMonthNames[12];
  std::string am = "AM", pm = "PM";
  char dateOrder[3] = {'d', 'M', 'y'};
  std::string dateSeparator = ".", timeSeparator = ":";

  // Texts.
  std::string textLocaleId;
  std::unique_ptr<icu::Collator> caseSensitive, caseInsensitive;
};

FormatSettings::FormatSettings(const std::string& localeName)
    : FormatSettings(Names{MapPosixName(localeName), MapPosixName(localeName),
                           MapPosixName(localeName), MapPosixName(localeName)}) {}

FormatSettings::FormatSettings(const Names& names) : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  UErrorCode status = U_ZERO_ERROR;

  const icu::Locale numeric = MakeLocale(names.numeric);
  m.name = numeric.getName();
  {
    icu::DecimalFormatSymbols symbols(numeric, status);
    if (U_SUCCESS(status)) {
      m.decimalSeparator =
          ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
      m.thousandSeparator =
          ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));
    }
    if (m.decimalSeparator.empty()) m.decimalSeparator.assign(1, ',');
    status = U_ZERO_ERROR;
  }

  const icu::Locale monetary = MakeLocale(names.monetary);
  {
    icu::DecimalFormatSymbols symbols(monetary, status);
    if (U_SUCCESS(status)) {
      m.currencySymbol = ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol));
      m.currencyDecimal =
          ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kMonetarySeparatorSymbol));
      m.currencyGroup =
          ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kMonetaryGroupingSeparatorSymbol));
    }
    if (m.currencyDecimal.empty()) m.currencyDecimal = m.decimalSeparator;
    status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> format(
        icu::NumberFormat::createCurrencyInstance(monetary, status));
    auto* decimal = dynamic_cast<icu::DecimalFormat*>(format.get());
    if (U_SUCCESS(status) && decimal != nullptr) {
      icu::UnicodeString text;
      m.positivePrefix = ToUtf8(decimal->getPositivePrefix(text));
      m.positiveSuffix = ToUtf8(decimal->getPositiveSuffix(text));
      m.negativePrefix = ToUtf8(decimal->getNegativePrefix(text));
      m.negativeSuffix = ToUtf8(decimal->getNegativeSuffix(text));
      m.primaryGrouping = decimal->isGroupingUsed() ? decimal->getGroupingSize() : 0;
      m.secondaryGrouping = decimal->getSecondaryGroupingSize();
      if (m.secondaryGrouping <= 0) m.secondaryGrouping = m.primaryGrouping;
      m.minimumGrouping = decimal->getMinimumGroupingDigits();
      if (m.minimumGrouping < 1) m.minimumGrouping = 1;
      m.currencyDigits = decimal->getMaximumFractionDigits();
    } else {
      m.positiveSuffix.assign(1, ' ');
      m.positiveSuffix += m.currencySymbol;
      m.negativeSuffix = m.positiveSuffix;
      m.negativePrefix.assign(1, '-');
    }
    status = U_ZERO_ERROR;
  }

  const icu::Locale time = MakeLocale(names.time);
  {
    icu::UnicodeString pattern;
    std::unique_ptr<icu::DateFormat> date(
        icu::DateFormat::createDateInstance(icu::DateFormat::kShort, time));
    if (auto* simple = dynamic_cast<icu::SimpleDateFormat*>(date.get())) simple->toPattern(pattern);
    m.shortDate = Tokenize(pattern.isEmpty() ? icu::UnicodeString(u"dd.MM.yyyy") : pattern);
    pattern.remove();
    std::unique_ptr<icu::DateFormat> clock(
        icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, time));
    if (auto* simple = dynamic_cast<icu::SimpleDateFormat*>(clock.get()))
      simple->toPattern(pattern);
    m.longTime = Tokenize(pattern.isEmpty() ? icu::UnicodeString(u"HH:mm:ss") : pattern);

    icu::DateFormatSymbols symbols(time, status);
    if (U_SUCCESS(status)) {
      int32_t count = 0;
      const icu::UnicodeString* ampm = symbols.getAmPmStrings(count);
      if (count >= 2) {
        m.am = ToUtf8(ampm[0]);
        m.pm = ToUtf8(ampm[1]);
      }
      const icu::UnicodeString* months = symbols.getMonths(count);
      for (int32_t i = 0; i < 12 && i < count; ++i) m.monthNames[i] = ToUtf8(months[i]);
      months = symbols.getShortMonths(count);
      for (int32_t i = 0; i < 12 && i < count; ++i) m.shortMonthNames[i] = ToUtf8(months[i]);
    }
    status = U_ZERO_ERROR;

    int found = 0;
    char order[3] = {};
    for (const PatternToken& token : m.shortDate) {
      char field = 0;
      if (token.letter == 'd') field = 'd';
      if (token.letter == 'M' || token.letter == 'L') field = 'M';
      if (token.letter == 'y' || token.letter == 'u' || token.letter == 'Y') field = 'y';
      if (field != 0 && found < 3) order[found++] = field;
    }
    if (found == 3 && order[0] != order[1] && order[0] != order[2] && order[1] != order[2]) {
      std::copy(order, order + 3, m.dateOrder);
    }
    m.dateSeparator = FieldSeparator(m.shortDate, "/");
    m.timeSeparator = FieldSeparator(m.longTime, ":");
  }

  const icu::Locale text = MakeLocale(names.text);
  m.textLocaleId = text.getName();
  m.caseSensitive.reset(icu::Collator::createInstance(text, status));
  if (U_SUCCESS(status)) {
    m.caseSensitive->setStrength(icu::Collator::TERTIARY);
    m.caseInsensitive.reset(m.caseSensitive->clone());
    if (m.caseInsensitive) m.caseInsensitive->setStrength(icu::Collator::SECONDARY);
  } else {
    m.caseSensitive.reset();
  }
}

FormatSettings::~FormatSettings() = default;

namespace {

std::atomic<FormatSettings*> userSettings{nullptr};
std::mutex userMutex;

// Every instance User() has handed out, the replaced ones included: none is
// ever destroyed, so a reference obtained earlier never dangles, not even in
// the destructors of other static objects at exit.
std::vector<std::unique_ptr<FormatSettings>>& UserInstances() {
  static auto* instances = new std::vector<std::unique_ptr<FormatSettings>>();
  return *instances;
}

}  // namespace

const FormatSettings& FormatSettings::User() {
  FormatSettings* current = userSettings.load(std::memory_order_acquire);
  if (current != nullptr) return *current;
  std::lock_guard<std::mutex> lock(userMutex);
  current = userSettings.load(std::memory_order_relaxed);
  if (current == nullptr) {
    ReloadUserLocked();
    current = userSettings.load(std::memory_order_relaxed);
  }
  return *current;
}

void FormatSettings::ReloadUser() {
  std::lock_guard<std::mutex> lock(userMutex);
  ReloadUserLocked();
}

void FormatSettings::ReloadUserLocked() {
  const char* collate = std::getenv("LC_COLLATE");
  const char* textVariable = (collate != nullptr && *collate != '\0') ? "LC_COLLATE" : "LC_CTYPE";
  Names names{FromEnvironment("LC_NUMERIC"), FromEnvironment("LC_MONETARY"),
              FromEnvironment("LC_TIME"), FromEnvironment(textVariable)};
  std::unique_ptr<FormatSettings> fresh(new FormatSettings(names));
  userSettings.store(fresh.get(), std::memory_order_release);
  UserInstances().push_back(std::move(fresh));
}

const std::string& FormatSettings::LocaleName() const {
  return impl_->name;
}
const std::string& FormatSettings::DecimalSeparator() const {
  return impl_->decimalSeparator;
}
const std::string& FormatSettings::ThousandSeparator() const {
  return impl_->thousandSeparator;
}
const std::string& FormatSettings::CurrencySymbol() const {
  return impl_->currencySymbol;
}
int FormatSettings::CurrencyDigits() const {
  return impl_->currencyDigits;
}

std::string FormatSettings::FormatFloat(double v) const {
  if (!std::isfinite(v)) return SpecialText(v);
  if (v == 0) return "0";
  constexpr int Precision = 15;
  DecimalDigits d = ToDecimalDigits(v, Precision);
  StripTrailingZeros(d.digits);
  std::string out;
  if (v < 0) out += '-';
  const int count = static_cast<int>(d.digits.size());
  if (d.exponent >= Precision || d.exponent < -4) {
    out += d.digits[0];
    if (count > 1) {
      out += impl_->decimalSeparator;
      out.append(d.digits, 1);
    }
    out += 'E';
    AppendNumber(out, d.exponent, 0);
  } else if (d.exponent >= 0) {
    const int whole = d.exponent + 1;
    if (count <= whole) {
      out += d.digits;
      out.append(static_cast<std::size_t>(whole - count), '0');
    } else {
      out.append(d.digits, 0, static_cast<std::size_t>(whole));
      out += impl_->decimalSeparator;
      out.append(d.digits, static_cast<std::size_t>(whole));
    }
  } else {
    out += '0';
    out += impl_->decimalSeparator;
    out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
    out += d.digits;
  }
  return out;
}

std::string FormatSettings::FormatCurrency(double v, int precision, int digits) const {
  if (!std::isfinite(v)) return SpecialText(v);
  precision = std::clamp(precision, 1, 17);
  digits = std::clamp(digits, 0, 18);
  // Integer and fraction digits after rounding to `precision` significant
  // digits and then half away from zero to `digits` decimals.
  std::string whole = "0", fraction(static_cast<std::size_t>(digits), '0');
  bool negative = false;
  if (v != 0) {
    DecimalDigits d = ToDecimalDigits(v, precision);
    const int keep = d.exponent + 1 + digits;  // digits left of the cut
    std::string kept;
    int exponent = d.exponent;
    if (keep >= 0) {
      if (keep < static_cast<int>(d.digits.size())) {
        kept = d.digits.substr(0, static_cast<std::size_t>(keep));
        if (d.digits[static_cast<std::size_t>(keep)] >= '5') {
          int k = keep - 1;
          for (; k >= 0 && kept[static_cast<std::size_t>(k)] == '9'; --k)
            kept[static_cast<std::size_t>(k)] = '0';
          if (k >= 0) {
            ++kept[static_cast<std::size_t>(k)];
          } else {
            kept.insert(kept.begin(), '1');
            ++exponent;
          }
        }
      } else {
        kept = d.digits;
        kept.append(static_cast<std::size_t>(keep) - d.digits.size(), '0');
      }
    }
    // `kept` now holds the digits down to 10^-digits, the first one at
    // 10^exponent (when it is not empty).
    if (kept.find_first_not_of('0') != std::string::npos) {
      negative = v < 0;
      const int wholeCount = exponent + 1;
      if (wholeCount > 0) {
        whole = kept.substr(0, static_cast<std::size_t>(wholeCount));
        fraction = kept.substr(static_cast<std::size_t>(wholeCount));
      } else {
        fraction = std::string(static_cast<std::size_t>(-wholeCount), '0') + kept;
      }
    }
  }
  const Impl& m = *impl_;
  std::string out = negative ? m.negativePrefix : m.positivePrefix;
  const int wholeCount = static_cast<int>(whole.size());
  if (m.primaryGrouping > 0 && wholeCount >= m.primaryGrouping + m.minimumGrouping) {
    // Group sizes counted from the decimal separator: the primary one first,
    // then the secondary one.
    std::vector<int> cuts;
    int pos = wholeCount - m.primaryGrouping;
    while (pos > 0) {
      cuts.push_back(pos);
      pos -= m.secondaryGrouping;
    }
    std::size_t next = cuts.size();
    for (int i = 0; i < wholeCount; ++i) {
      if (next > 0 && cuts[next - 1] == i) {
        out += m.currencyGroup;
        --next;
      }
      out += whole[static_cast<std::size_t>(i)];
    }
  } else {
    out += whole;
  }
  if (digits > 0) {
    out += m.currencyDecimal;
    out += fraction;
  }
  out += negative ? m.negativeSuffix : m.positiveSuffix;
  return out;
}

std::string FormatSettings::FormatCurr(double v) const {
  if (!std::isfinite(v)) return SpecialText(v);
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 4);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  while (text.back() == '0') text.remove_suffix(1);
  if (text.back() == '.') text.remove_suffix(1);
  if (text == "-0") text = "0";
  std::string out;
  out.reserve(text.size() + 2);
  for (const char c : text) {
    if (c == '.') {
      out += impl_->currencyDecimal;
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

void AppendDateField(std::string& out, const PatternToken& token, int y, int m, int d,
                     const std::string (&monthNames)[12],
                     const std::string (&shortMonthNames)[12]) {
  switch (token.letter) {
    case 'd':
      AppendNumber(out, d, token.count >= 2 ? 2 : 1);
      break;
    case 'M':
    case 'L':
      if (token.count >= 4 && !monthNames[m - 1].empty()) {
        out += monthNames[m - 1];
      } else if (token.count == 3 && !shortMonthNames[m - 1].empty()) {
        out += shortMonthNames[m - 1];
      } else {
        AppendNumber(out, m, token.count >= 2 ? 2 : 1);
      }
      break;
    case 'y':
    case 'u':
    case 'Y':
      AppendNumber(out, y, 4);  // always the full year
      break;
    default:
      break;  // era, weekday and other fields are not shown
  }
}

}  // namespace

std::string FormatSettings::FormatShortDate(TDateTime dt) const {
  int y = 0, m = 0, d = 0;
  DecodeDate(dt, y, m, d);
  if (y == 0) return {};
  std::string out;
  for (const PatternToken& token : impl_->shortDate) {
    if (token.letter == 0) {
      out += token.literal;
    } else {
      AppendDateField(out, token, y, m, d, impl_->monthNames, impl_->shortMonthNames);
    }
  }
  return out;
}

std::string FormatSettings::FormatLongTime(TDateTime dt) const {
  int h = 0, mi = 0, s = 0, ms = 0;
  DecodeTime(dt, h, mi, s, ms);
  std::string out;
  for (const PatternToken& token : impl_->longTime) {
    const int width = token.count >= 2 ? 2 : 1;
    switch (token.letter) {
      case 0:
        out += token.literal;
        break;
      case 'H':
        AppendNumber(out, h, width);
        break;
      case 'k':
        AppendNumber(out, h == 0 ? 24 : h, width);
        break;
      case 'h':
        AppendNumber(out, h % 12 == 0 ? 12 : h % 12, width);
        break;
      case 'K':
        AppendNumber(out, h % 12, width);
        break;
      case 'm':
        AppendNumber(out, mi, width);
        break;
      case 's':
        AppendNumber(out, s, width);
        break;
      case 'a':
      case 'b':
      case 'B':
        out += h < 12 ? impl_->am : impl_->pm;
        break;
      default:
        break;  // time zones and other fields are not shown
    }
  }
  return out;
}

std::string FormatSettings::FormatDateTime(TDateTime dt) const {
  std::string out = FormatShortDate(dt);
  if (out.empty()) return out;
  if (std::isfinite(dt) && dt != std::trunc(dt)) {
    out += ' ';
    out += FormatLongTime(dt);
  }
  return out;
}

namespace {

bool HasControlCharacters(std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\t') || b == 0x7F) return true;
  }
  return false;
}

int CurrentYear() {
  int y = 0, m = 0, d = 0;
  DecodeDate(Today(), y, m, d);
  return y;
}

}  // namespace

bool FormatSettings::TryParseFloat(std::string_view text, double& out) const {
  return ParseDecimal(TrimBlanks(text), impl_->decimalSeparator, out);
}

bool FormatSettings::TryParseInt32(std::string_view text, std::int32_t& out) const {
  return ParseInteger(text, out);
}

bool FormatSettings::TryParseInt64(std::string_view text, std::int64_t& out) const {
  return ParseInteger(text, out);
}

bool FormatSettings::TryParseCurrency(std::string_view text, double& out) const {
  std::string_view t = TrimBlanks(text);
  const std::string& symbol = impl_->currencySymbol;
  if (!symbol.empty()) {
    if (t.size() >= symbol.size() && t.substr(t.size() - symbol.size()) == symbol) {
      t = TrimCurrencySpacing(t.substr(0, t.size() - symbol.size()));
    } else if (t.substr(0, symbol.size()) == symbol) {
      t = TrimCurrencySpacing(t.substr(symbol.size()));
    } else if (!t.empty() && (t[0] == '-' || t[0] == '+') && t.substr(1, symbol.size()) == symbol) {
      // "-$75.00": the sign stands before the symbol.
      std::string_view rest = TrimCurrencySpacing(t.substr(1 + symbol.size()));
      if (rest.empty() || rest[0] == '-' || rest[0] == '+') return false;
      std::string joined(1, t[0]);
      joined += rest;
      return ParseDecimal(joined, impl_->currencyDecimal, out);
    }
  }
  return ParseDecimal(t, impl_->currencyDecimal, out);
}

bool FormatSettings::TryParseDate(std::string_view text, TDateTime& out) const {
  const std::string_view t = TrimBlanks(text);
  if (HasControlCharacters(t)) return false;
  const Impl& m = *impl_;
  int y = 0, mo = 0, d = 0, yearDigits = 0;
  std::size_t i = 0;
  for (int field = 0; field < 3; ++field) {
    if (field > 0 && !ReadLiteral(t, i, m.dateSeparator)) return false;
    int value = 0, count = 0;
    const char kind = m.dateOrder[field];
    if (!ReadNumber(t, i, kind == 'y' ? 4 : 2, value, count)) return false;
    if (kind == 'd') d = value;
    if (kind == 'M') mo = value;
    if (kind == 'y') {
      y = value;
      yearDigits = count;
    }
  }
  // A separator may also close the date ("26. 1. 15." in some locales).
  std::size_t end = i;
  if (ReadLiteral(t, end, m.dateSeparator)) i = end;
  if (i != t.size()) return false;
  if (yearDigits <= 2) {
    // Two-digit years fall into the hundred years from 50 years before the
    // current year.
    const int earliest = CurrentYear() - 50;
    y += earliest / 100 * 100;
    if (y < earliest) y += 100;
  }
  return TryEncodeDate(y, mo, d, out);
}

bool FormatSettings::TryParseTime(std::string_view text, TDateTime& out) const {
  std::string_view t = TrimBlanks(text);
  if (HasControlCharacters(t)) return false;
  const Impl& m = *impl_;
  // An AM/PM marker at the end selects the 12-hour reading.
  int dayPeriod = 0;  // 0 none, 1 AM, 2 PM
  for (const auto& [marker, period] :
       {std::pair<std::string_view, int>{m.am, 1}, {m.pm, 2}, {"AM", 1}, {"PM", 2}}) {
    if (marker.empty() || t.size() < marker.size()) continue;
    if (EqualsIgnoreAsciiCase(t.substr(t.size() - marker.size()), marker)) {
      dayPeriod = period;
      t = TrimCurrencySpacing(t.substr(0, t.size() - marker.size()));
      break;
    }
  }
  int parts[3] = {0, 0, 0};
  std::size_t i = 0;
  int fields = 0;
  for (; fields < 3; ++fields) {
    if (fields > 0) {
      std::size_t at = i;
      if (!ReadLiteral(t, at, m.timeSeparator)) {
        at = i;
        if (!ReadLiteral(t, at, ":")) break;
      }
      i = at;
    }
    int count = 0;
    if (!ReadNumber(t, i, 2, parts[fields], count)) return false;
  }
  if (fields < 2 || i != t.size()) return false;
  int h = parts[0];
  if (dayPeriod != 0) {
    if (h < 1 || h > 12) return false;
    h = h % 12 + (dayPeriod == 2 ? 12 : 0);
  }
  return TryEncodeTime(h, parts[1], parts[2], 0, out);
}

bool FormatSettings::TryParseDateTime(std::string_view text, TDateTime& out) const {
  const std::string_view t = TrimBlanks(text);
  TDateTime date = 0;
  if (TryParseDate(t, date)) {
    out = date;
    return true;
  }
  // The time starts after a blank that leaves a valid date before it. A date
  // is short, so only the first blanks are tried; this keeps the parse linear
  // for long texts.
  constexpr std::size_t LongestDate = 64;
  for (std::size_t cut = t.find_first_of(" \t"); cut != std::string_view::npos && cut < LongestDate;
       cut = t.find_first_of(" \t", cut + 1)) {
    TDateTime time = 0;
    if (TryParseDate(t.substr(0, cut), date) && TryParseTime(t.substr(cut + 1), time)) {
      out = ComposeDateTime(date, time);
      return true;
    }
  }
  return false;
}

namespace {

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

constexpr std::string_view NotAFloat = "is not a valid floating point value";
constexpr std::string_view NotAnInteger = "is not a valid integer value";

}  // namespace

double FormatSettings::ParseFloat(std::string_view text) const {
  return ParseOrThrow(*this, &FormatSettings::TryParseFloat, text, NotAFloat);
}

std::int32_t FormatSettings::ParseInt32(std::string_view text) const {
  return ParseOrThrow(*this, &FormatSettings::TryParseInt32, text, NotAnInteger);
}

std::int64_t FormatSettings::ParseInt64(std::string_view text) const {
  return ParseOrThrow(*this, &FormatSettings::TryParseInt64, text, NotAnInteger);
}

double FormatSettings::ParseCurrency(std::string_view text) const {
  return ParseOrThrow(*this, &FormatSettings::TryParseCurrency, text, NotAFloat);
}

TDateTime FormatSettings::ParseDate(std::string_view text) const {
  return ParseOrThrow(*this, &FormatSettings::TryParseDate, text, "is not a valid date");
}

TDateTime FormatSettings::ParseTime(std::string_view text) const {
  return ParseOrThrow(*this, &FormatSettings::TryParseTime, text, "is not a valid time");
}

TDateTime FormatSettings::ParseDateTime(std::string_view text) const {
  return ParseOrThrow(*this, &FormatSettings::TryParseDateTime, text,
                      "is not a valid date and time");
}

std::u16string FormatSettings::UpperCase(std::u16string_view text) const {
  if (text.empty()) return {};
  const auto length = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX / 4));
  std::u16string out(static_cast<std::size_t>(length) + 8, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t needed = u_strToUpper(out.data(), static_cast<int32_t>(out.size()), text.data(),
                                        length, impl_->textLocaleId.c_str(), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<std::size_t>(needed), u'\0');
      continue;
    }
    if (U_FAILURE(status)) return std::u16string(text);
    out.resize(static_cast<std::size_t>(needed));
    return out;
  }
  return std::u16string(text);
}

std::string FormatSettings::UpperCase(std::string_view utf8) const {
  return WideToUtf8(UpperCase(std::u16string_view(Utf8ToWide(utf8))));
}

int FormatSettings::Compare(std::u16string_view a, std::u16string_view b, bool ignoreCase) const {
  const icu::Collator* collator =
      ignoreCase ? impl_->caseInsensitive.get() : impl_->caseSensitive.get();
  if (collator == nullptr) {
    // Without a collator the code units decide.
    const int r = a.compare(b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  UErrorCode status = U_ZERO_ERROR;
  const auto clamp = [](std::size_t n) {
    return static_cast<int32_t>(std::min<std::size_t>(n, INT32_MAX));
  };
  const UCollationResult r =
      collator->compare(a.data(), clamp(a.size()), b.data(), clamp(b.size()), status);
  if (U_FAILURE(status)) return 0;
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

bool TryParseFloatInvariant(std::string_view text, double& out) {
  return ParseDecimal(TrimBlanks(text), ".", out);
}

std::string FormatFloatInvariant(double v) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

}  // namespace platform
