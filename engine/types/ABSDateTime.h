// The engine's encoding of dates and times, and its conversions from and to
// the framework's date-time value.
//
// A day number counts days from 0001-01-01 (day 1); the framework's
// date-time zero, 1899-12-30, is day DaysOffset. A time is whole
// milliseconds since midnight, 0 to 86399999. A stored date-time is the pair
// (day number, milliseconds), so comparing the halves in that order orders
// date-times chronologically.
//
// The framework's date-time is a double: days since 1899-12-30 in the
// integer part and the time of day as the fraction. Before 1899-12-30 the
// value is negative and the time is the magnitude of the fraction
// (-1.25 is 1899-12-29 06:00).
//
// All routines are pure; any thread may call them.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/os/DateTime.h"

// The framework's date-time value.
using TABSFrameworkDateTime = platform::TDateTime;

// The framework's own day offset: one set of calendar constants for both.
constexpr std::int32_t DaysOffset = platform::DateDelta;
// The day number that marks an empty date (a time converted to a date-time
// has it as its day).
constexpr std::int32_t EmptyDayNumber = INT32_MIN;

struct TABSTimeStamp {
  std::int32_t Date = 0;  // day number
  std::int32_t Time = 0;  // milliseconds since midnight
};

// day number - DaysOffset.
TABSFrameworkDateTime DateToDateTime(std::int32_t dayNumber);
// The date-time truncated toward zero, + DaysOffset. Raises EABSException
// 30491 when the result is no 32-bit day number (NaN, infinity, too large).
std::int32_t DateTimeToDate(TABSFrameworkDateTime dateTime);
// The fraction of a day that `milliseconds` gives (whole days drop out).
TABSFrameworkDateTime TimeToDateTime(std::int32_t milliseconds);
// The time of day of a date-time in milliseconds, rounded to the nearest
// millisecond (halves to even); a time that rounds up to midnight gives 0.
// Raises EABSException 30492 for NaN or infinity.
std::int32_t DateTimeToTime(TABSFrameworkDateTime dateTime);
// The date-time of a day number and a time of day.
TABSFrameworkDateTime StampToDateTime(std::int32_t dayNumber, std::int32_t milliseconds);
TABSFrameworkDateTime StampToDateTime(const TABSTimeStamp& stamp);
// (DateTimeToDate, DateTimeToTime) of a date-time; a time that rounds up to
// midnight moves the stamp to the next day. Raises 30492 for NaN or
// infinity and 30491 like DateTimeToDate.
TABSTimeStamp DateTimeToStamp(TABSFrameworkDateTime dateTime);

// Text parsers for fixed-shape ANSI date and time texts. Digit groups are
// separated by one non-digit character each (blank, '-', ':' or any other);
// at most one character may follow the last group. Each returns false, and
// leaves `result` unchanged, for text of any other shape. Text of the right
// shape naming a date or time that does not exist ("2014-02-30", "24:00:00")
// raises the platform's EConvertError, `result` again unchanged.
// "yyyy-mm-dd"
bool ParseDateText(std::string_view text, TABSFrameworkDateTime& result);
// "hh:mm:ss" (milliseconds 0)
bool ParseTimeText(std::string_view text, TABSFrameworkDateTime& result);
// "yyyy-mm-dd hh:mm:ss"
bool ParseDateTimeText(std::string_view text, TABSFrameworkDateTime& result);
