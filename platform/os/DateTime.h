// Calendar date and time of day as one double, plus the composing and
// decomposing routines.
//
// A TDateTime counts days since 1899-12-30 (day 0); the fraction is the time
// of day. Dates before 1899-12-30 are negative, and their fraction still means
// the time of day: -1.25 is 1899-12-29 06:00 (the time is the absolute value
// of the fraction). The calendar is the proleptic Gregorian one, years 1..9999.
// All functions are pure and thread-safe.
#pragma once

#include <cstdint>

namespace platform {

using TDateTime = double;

// Day number of 1899-12-30 when 0001-01-01 is day 1: the offset between such
// day numbers and TDateTime.
constexpr std::int32_t DateDelta = 693594;

constexpr double HoursPerDay = 24;
constexpr double MinsPerDay = 24 * 60;
constexpr double SecsPerDay = 24 * 60 * 60;
constexpr std::int64_t MSecsPerDay = 24LL * 60 * 60 * 1000;

bool IsLeapYear(int year);
// Days of `month` (1..12) in `year`; 0 for a month outside 1..12.
int DaysInMonth(int year, int month);

// False (and `out` untouched) when the date does not exist or the year is
// outside 1..9999.
bool TryEncodeDate(int y, int m, int d, TDateTime& out);
// Throws EConvertError("Invalid argument to date encode").
TDateTime EncodeDate(int y, int m, int d);
// Date part of `dt`. Values outside years 1..9999 (and NaN/inf) give 0/0/0.
void DecodeDate(TDateTime dt, int& y, int& m, int& d);

// h 0..23, mi 0..59, s 0..59, ms 0..999; false (out untouched) otherwise.
bool TryEncodeTime(int h, int mi, int s, int ms, TDateTime& out);
// Throws EConvertError("Invalid argument to time encode").
TDateTime EncodeTime(int h, int mi, int s, int ms);
// Time of day of `dt`, rounded to the nearest millisecond (never 24:00:00.000).
// NaN/inf give 0:00:00.000.
void DecodeTime(TDateTime dt, int& h, int& mi, int& s, int& ms);

// Combines a date part and a time fraction the way the sign convention above
// requires (for negative dates the time is subtracted).
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

// The native forms of dates and times: what a date, time or date-time field
// holds in its record buffer, and what the engine converts to and from its
// stored form. The one set of these conversions for the framework and the
// engine.
//   date       int32   day number, 0001-01-01 is day 1 (the TDateTime's
//                      whole days, truncated toward zero, + DateDelta)
//   time       int32   the time of day in milliseconds, 0..MSecsPerDay-1
//   date-time  double  (TDateTime + DateDelta) * MSecsPerDay: milliseconds
//                      since 0000-12-31 00:00 for dates from 1899-12-30 on
// Throws EConvertError("Invalid date-time value") for NaN, infinity and a
// value whose day number is no 32-bit integer.
std::int32_t DateTimeToNativeDate(TDateTime dt);
TDateTime NativeDateToDateTime(std::int32_t dayNumber);
// The magnitude of the fraction (the time of day by the sign convention
// above), rounded to the nearest millisecond, halves to even; a time that
// rounds up to midnight gives the last millisecond of the day. Throws
// EConvertError("Invalid date-time value") for NaN and infinity.
std::int32_t DateTimeToNativeTime(TDateTime dt);
// The fraction of a day `milliseconds` gives.
TDateTime NativeTimeToDateTime(std::int32_t milliseconds);
double DateTimeToNativeDateTime(TDateTime dt);
TDateTime NativeDateTimeToDateTime(double milliseconds);

// The local date (no time) and the local date and time of the system clock.
TDateTime Today();
TDateTime Now();

}  // namespace platform
