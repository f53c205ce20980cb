// FormatSettings: numbers and amounts, formatted and parsed, and the
// locale-independent number texts.
#include "platform/locale/Locale.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>
#include <type_traits>

#include "platform/locale/LocaleInternal.h"

namespace platform {

using namespace locale_detail;

std::string_view locale_detail::TrimCurrencySpacing(std::string_view s) {
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

namespace {

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

constexpr std::string_view NotAFloat = "is not a valid floating point value";
constexpr std::string_view NotAnInteger = "is not a valid integer value";

}  // namespace

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

bool TryParseFloatInvariant(std::string_view text, double& out) {
  return ParseDecimal(TrimBlanks(text), ".", out);
}

std::string FormatFloatInvariant(double v) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

}  // namespace platform
