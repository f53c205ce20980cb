#include "engine/types/ABSDateTime.h"

#include <cmath>
#include <limits>

#include "engine/types/ABSException.h"

TABSFrameworkDateTime DateToDateTime(std::int32_t dayNumber) {
  return static_cast<double>(dayNumber) - DaysOffset;
}

std::int32_t DateTimeToDate(TABSFrameworkDateTime dateTime) {
  const double day = std::trunc(dateTime) + DaysOffset;
  // NaN fails both comparisons.
  if (!(day >= std::numeric_limits<std::int32_t>::min() &&
        day <= std::numeric_limits<std::int32_t>::max())) {
    throw EABSException(30542, "Invalid date-time value");
  }
  return static_cast<std::int32_t>(day);
}

TABSFrameworkDateTime TimeToDateTime(std::int32_t milliseconds) {
  double whole = 0;
  return std::modf(static_cast<double>(milliseconds) / MSecsPerDay, &whole);
}

namespace {

// The time of day of a date-time, rounded to whole milliseconds; may be
// MSecsPerDay when it rounds up to the next midnight.
std::int32_t RoundedTimeOfDay(TABSFrameworkDateTime dateTime) {
  if (!std::isfinite(dateTime)) {
    throw EABSException(30543, "Invalid date-time value");
  }
  double whole = 0;
  // Before 1899-12-30 the fraction is negative; its magnitude is the time.
  const double fraction = std::fabs(std::modf(dateTime, &whole));
  // nearbyint rounds halves to even in the default rounding mode.
  return static_cast<std::int32_t>(std::nearbyint(fraction * MSecsPerDay));
}

}  // namespace

std::int32_t DateTimeToTime(TABSFrameworkDateTime dateTime) {
  const std::int32_t ms = RoundedTimeOfDay(dateTime);
  return ms == MSecsPerDay ? 0 : ms;
}

TABSFrameworkDateTime StampToDateTime(std::int32_t dayNumber, std::int32_t milliseconds) {
  const double date = DateToDateTime(dayNumber);
  const double time = TimeToDateTime(milliseconds);
  // A negative date carries its time as the magnitude of the fraction.
  return date < 0 ? date - time : date + time;
}

TABSFrameworkDateTime StampToDateTime(const TABSTimeStamp& stamp) {
  return StampToDateTime(stamp.Date, stamp.Time);
}

TABSTimeStamp DateTimeToStamp(TABSFrameworkDateTime dateTime) {
  TABSTimeStamp stamp;
  stamp.Time = RoundedTimeOfDay(dateTime);
  stamp.Date = DateTimeToDate(dateTime);
  if (stamp.Time == MSecsPerDay) {
    // 23:59:59.9995 and later round to the next midnight.
    stamp.Time = 0;
    if (stamp.Date == std::numeric_limits<std::int32_t>::max()) {
      throw EABSException(30542, "Invalid date-time value");
    }
    ++stamp.Date;
  }
  return stamp;
}

bool ParseDateText(std::string_view, TABSFrameworkDateTime&) {
  return false;
}
bool ParseTimeText(std::string_view, TABSFrameworkDateTime&) {
  return false;
}
bool ParseDateTimeText(std::string_view, TABSFrameworkDateTime&) {
  return false;
}
