#include "platform/os/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

#include "platform/os/Exception.h"

namespace platform {

namespace {

// Day number (0001-01-01 = 1) of 9999-12-31; the upper bound of valid dates.
constexpr std::int64_t MaxDayNumber = 3652059;

std::int64_t DaysBeforeYear(std::int64_t y) {
  const std::int64_t i = y - 1;
  return i * 365 + i / 4 - i / 100 + i / 400;
}

constexpr int CumulativeDays[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  const int leap = IsLeapYear(year) ? 1 : 0;
  return CumulativeDays[leap][month] - CumulativeDays[leap][month - 1];
}

bool TryEncodeDate(int y, int m, int d, TDateTime& out) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
  const int leap = IsLeapYear(y) ? 1 : 0;
  const std::int64_t dayNumber = DaysBeforeYear(y) + CumulativeDays[leap][m - 1] + d;
  out = static_cast<double>(dayNumber - DateDelta);
  return true;
}

TDateTime EncodeDate(int y, int m, int d) {
  TDateTime result = 0;
  if (!TryEncodeDate(y, m, d, result)) throw EConvertError("Invalid argument to date encode");
  return result;
}

void DecodeDate(TDateTime dt, int& y, int& m, int& d) {
  y = m = d = 0;
  if (!std::isfinite(dt)) return;
  const double whole = std::trunc(dt);
  if (whole < 1.0 - DateDelta || whole > static_cast<double>(MaxDayNumber - DateDelta)) return;
  // Zero-based day count since 0001-01-01, split into 400-, 100-, 4- and
  // 1-year cycles of the Gregorian calendar.
  std::int64_t t = static_cast<std::int64_t>(whole) + DateDelta - 1;
  constexpr std::int64_t D1 = 365, D4 = D1 * 4 + 1, D100 = D4 * 25 - 1, D400 = D100 * 4 + 1;
  std::int64_t year = 1 + (t / D400) * 400;
  t %= D400;
  std::int64_t i = t / D100;
  t %= D100;
  if (i == 4) {  // last day of a 400-year cycle
    i = 3;
    t += D100;
  }
  year += i * 100;
  i = t / D4;
  t %= D4;
  year += i * 4;
  i = t / D1;
  t %= D1;
  if (i == 4) {  // last day of a leap year
    i = 3;
    t += D1;
  }
  year += i;
  y = static_cast<int>(year);
  const int leap = IsLeapYear(y) ? 1 : 0;
  int month = 1;
  while (t >= CumulativeDays[leap][month]) ++month;
  m = month;
  d = static_cast<int>(t - CumulativeDays[leap][month - 1]) + 1;
}

bool TryEncodeTime(int h, int mi, int s, int ms, TDateTime& out) {
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59 || ms < 0 || ms > 999) return false;
  const std::int64_t total = ((h * 60LL + mi) * 60 + s) * 1000 + ms;
  out = static_cast<double>(total) / static_cast<double>(MSecsPerDay);
  return true;
}

TDateTime EncodeTime(int h, int mi, int s, int ms) {
  TDateTime result = 0;
  if (!TryEncodeTime(h, mi, s, ms, result)) throw EConvertError("Invalid argument to time encode");
  return result;
}

void DecodeTime(TDateTime dt, int& h, int& mi, int& s, int& ms) {
  h = mi = s = ms = 0;
  if (!std::isfinite(dt)) return;
  const double fraction = std::fabs(dt - std::trunc(dt));
  auto total = static_cast<std::int64_t>(std::llround(fraction * static_cast<double>(MSecsPerDay)));
  // A fraction just below 1 rounds up to a whole day; keep it on the same day.
  if (total >= MSecsPerDay) total = MSecsPerDay - 1;
  ms = static_cast<int>(total % 1000);
  total /= 1000;
  s = static_cast<int>(total % 60);
  total /= 60;
  mi = static_cast<int>(total % 60);
  h = static_cast<int>(total / 60);
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

std::int32_t DateTimeToNativeDate(TDateTime dt) {
  // Summed as a double: a day number near the 32-bit bounds has a TDateTime
  // beyond them. NaN fails both comparisons.
  const double day = std::trunc(dt) + DateDelta;
  if (!(day >= std::numeric_limits<std::int32_t>::min() &&
        day <= std::numeric_limits<std::int32_t>::max())) {
    throw EConvertError("Invalid date-time value");
  }
  return static_cast<std::int32_t>(day);
}

TDateTime NativeDateToDateTime(std::int32_t dayNumber) {
  return static_cast<double>(dayNumber) - DateDelta;
}

std::int32_t DateTimeToNativeTime(TDateTime dt) {
  if (!std::isfinite(dt)) throw EConvertError("Invalid date-time value");
  const double fraction = std::fabs(dt - std::trunc(dt));
  auto ms = static_cast<std::int32_t>(std::nearbyint(fraction * static_cast<double>(MSecsPerDay)));
  if (ms >= MSecsPerDay) ms = static_cast<std::int32_t>(MSecsPerDay - 1);
  return ms;
}

TDateTime NativeTimeToDateTime(std::int32_t milliseconds) {
  return static_cast<double>(milliseconds) / static_cast<double>(MSecsPerDay);
}

double DateTimeToNativeDateTime(TDateTime dt) {
  return (dt + DateDelta) * static_cast<double>(MSecsPerDay);
}

TDateTime NativeDateTimeToDateTime(double milliseconds) {
  return milliseconds / static_cast<double>(MSecsPerDay) - DateDelta;
}

namespace {

std::tm LocalNow(std::int64_t& millis) {
  const auto now = std::chrono::system_clock::now();
  const auto sinceEpoch = now.time_since_epoch();
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - secs).count();
  const std::time_t t = static_cast<std::time_t>(secs.count());
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr && gmtime_r(&t, &local) == nullptr) {
    // A clock beyond what the C library can split: report the epoch rather
    // than compose a date from an empty structure.
    local = std::tm{};
    local.tm_year = 70;
    local.tm_mday = 1;
    millis = 0;
  }
  return local;
}

}  // namespace

TDateTime Today() {
  std::int64_t millis = 0;
  const std::tm local = LocalNow(millis);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

TDateTime Now() {
  std::int64_t millis = 0;
  const std::tm local = LocalNow(millis);
  // A leap second (tm_sec 60) is shown as the last second of the minute.
  const int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
  return ComposeDateTime(EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                         EncodeTime(local.tm_hour, local.tm_min, sec, static_cast<int>(millis)));
}

}  // namespace platform
