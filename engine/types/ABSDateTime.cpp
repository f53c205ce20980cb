#include "engine/types/ABSDateTime.h"

#include <cmath>
#include <limits>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "platform/os/DateTime.h"

TABSFrameworkDateTime DateToDateTime(std::int32_t dayNumber) {
  return static_cast<double>(dayNumber) - DaysOffset;
}

std::int32_t DateTimeToDate(TABSFrameworkDateTime dateTime) {
  const double day = std::trunc(dateTime) + DaysOffset;
  // NaN fails both comparisons.
  if (!(day >= std::numeric_limits<std::int32_t>::min() &&
        day <= std::numeric_limits<std::int32_t>::max())) {
    throw EABSException(native_code::kDateOutOfRange, "Invalid date-time value");
  }
  return static_cast<std::int32_t>(day);
}

namespace {

constexpr auto MSecsPerDay = static_cast<std::int32_t>(platform::MSecsPerDay);

// The time of day of a date-time, rounded to whole milliseconds; may be
// MSecsPerDay when it rounds up to the next midnight.
std::int32_t RoundedTimeOfDay(TABSFrameworkDateTime dateTime) {
  if (!std::isfinite(dateTime)) {
    throw EABSException(native_code::kTimeNotFinite, "Invalid date-time value");
  }
  double whole = 0;
  // Before 1899-12-30 the fraction is negative; its magnitude is the time.
  const double fraction = std::fabs(std::modf(dateTime, &whole));
  // nearbyint rounds halves to even in the default rounding mode.
  return static_cast<std::int32_t>(std::nearbyint(fraction * MSecsPerDay));
}

}  // namespace

TABSFrameworkDateTime TimeToDateTime(std::int32_t milliseconds) {
  double whole = 0;
  return std::modf(static_cast<double>(milliseconds) / MSecsPerDay, &whole);
}

std::int32_t DateTimeToTime(TABSFrameworkDateTime dateTime) {
  const std::int32_t ms = RoundedTimeOfDay(dateTime);
  return ms == MSecsPerDay ? 0 : ms;
}

TABSFrameworkDateTime StampToDateTime(std::int32_t dayNumber, std::int32_t milliseconds) {
  const double date = DateToDateTime(dayNumber);
  const double time = TimeToDateTime(milliseconds);
  return platform::ComposeDateTime(date, time);
}

TABSFrameworkDateTime StampToDateTime(const TABSTimeStamp& stamp) {
  return StampToDateTime(stamp.Date, stamp.Time);
}

TABSTimeStamp DateTimeToStamp(TABSFrameworkDateTime dateTime) {
  TABSTimeStamp stamp;
  stamp.Time = RoundedTimeOfDay(dateTime);
  stamp.Date = DateTimeToDate(dateTime);
  if (stamp.Time == MSecsPerDay) {
    // 23:59:59.9995 and later round to the next midnight. A double that
    // close to a whole day exists only for days far below the largest day
    // number, so the increment cannot overflow.
    stamp.Time = 0;
    ++stamp.Date;
  }
  return stamp;
}

namespace {

// Reads one group of decimal digits starting at the 1-based `position`: digits
// are collected up to the first non-digit or the end of the text, then the
// position moves one character further (past the separator). Succeeds when
// exactly `digits` digits were read.
bool ReadDigitGroup(std::string_view text, std::size_t& position, int digits, int& value) {
  int count = 0;
  int result = 0;
  while (position <= text.size() && text[position - 1] >= '0' && text[position - 1] <= '9') {
    // Stop accumulating past the expected width; the count already fails.
    if (count < digits) result = result * 10 + (text[position - 1] - '0');
    ++count;
    ++position;
  }
  ++position;
  if (count != digits) return false;
  value = result;
  return true;
}

// Reads consecutive digit groups of the given widths; the text must end
// after the last group (one separator character may follow it).
template <std::size_t N>
bool ReadDigitGroups(std::string_view text, const int (&widths)[N], int (&values)[N]) {
  std::size_t position = 1;
  for (std::size_t i = 0; i < N; ++i) {
    if (!ReadDigitGroup(text, position, widths[i], values[i])) return false;
  }
  return position > text.size();
}

}  // namespace

bool ParseDateText(std::string_view text, TABSFrameworkDateTime& result) {
  int v[3];
  if (!ReadDigitGroups(text, {4, 2, 2}, v)) return false;
  // The right shape with a day that does not exist is no other kind of text:
  // the encoder's conversion error tells the caller so.
  result = platform::EncodeDate(v[0], v[1], v[2]);
  return true;
}

bool ParseTimeText(std::string_view text, TABSFrameworkDateTime& result) {
  int v[3];
  if (!ReadDigitGroups(text, {2, 2, 2}, v)) return false;
  result = platform::EncodeTime(v[0], v[1], v[2], 0);
  return true;
}

bool ParseDateTimeText(std::string_view text, TABSFrameworkDateTime& result) {
  int v[6];
  if (!ReadDigitGroups(text, {4, 2, 2, 2, 2, 2}, v)) return false;
  const platform::TDateTime date = platform::EncodeDate(v[0], v[1], v[2]);
  const platform::TDateTime time = platform::EncodeTime(v[3], v[4], v[5], 0);
  result = platform::ComposeDateTime(date, time);
  return true;
}
