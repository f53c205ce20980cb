// FormatSettings: dates and times, formatted by the locale's patterns and
// parsed in the locale's field order.
#include "platform/locale/Locale.h"

#include <charconv>
#include <cmath>

#include "platform/locale/LocaleInternal.h"

namespace platform {

using namespace locale_detail;

void locale_detail::AppendNumber(std::string& out, int value, int width) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  for (int pad = width - static_cast<int>(result.ptr - buffer); pad > 0; --pad) out += '0';
  out.append(buffer, result.ptr);
}

namespace {

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

}  // namespace platform
