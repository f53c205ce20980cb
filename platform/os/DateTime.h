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

// The local date (no time) and the local date and time of the system clock.
TDateTime Today();
TDateTime Now();

}  // namespace platform
