#include "platform/os/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/os/Exception.h"

namespace platform {
namespace {

TEST(DateTimeTest, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2027));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2027, 2), 28);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2027, 4), 30);
  EXPECT_EQ(DaysInMonth(2027, 12), 31);
  EXPECT_EQ(DaysInMonth(2027, 0), 0);
  EXPECT_EQ(DaysInMonth(2027, 13), 0);
}

TEST(DateTimeTest, EncodeDateAnchors) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), 1.0 - DateDelta);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
  EXPECT_EQ(EncodeDate(2024, 3, 1) - EncodeDate(2024, 2, 28), 2.0);
}

TEST(DateTimeTest, EncodeDateRejectsMissingDays) {
  TDateTime out = 42;
  EXPECT_FALSE(TryEncodeDate(2027, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(2027, 4, 31, out));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, out));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, out));
  EXPECT_FALSE(TryEncodeDate(2027, 0, 1, out));
  EXPECT_FALSE(TryEncodeDate(2027, 1, 0, out));
  EXPECT_EQ(out, 42);
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, out));
  try {
    EncodeDate(2027, 2, 29);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Invalid argument to date encode");
  }
}

// Every day of years 1..9999 decodes to a valid date that encodes back to
// the same day, and consecutive days advance by exactly one calendar day.
TEST(DateTimeTest, EveryDayRoundTrips) {
  int py = 0, pm = 12, pd = 31;
  for (std::int64_t n = 1 - DateDelta; n <= 2958465; ++n) {
    int y = 0, m = 0, d = 0;
    DecodeDate(static_cast<double>(n), y, m, d);
    const bool nextDay = (y == py && m == pm && d == pd + 1) ||
                         (y == py && m == pm + 1 && d == 1 && pd == DaysInMonth(py, pm)) ||
                         (y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31);
    ASSERT_TRUE(nextDay) << n << ": " << y << "-" << m << "-" << d;
    TDateTime back = 0;
    ASSERT_TRUE(TryEncodeDate(y, m, d, back));
    ASSERT_EQ(back, static_cast<double>(n));
    py = y;
    pm = m;
    pd = d;
  }
  EXPECT_EQ(py, 9999);
}

TEST(DateTimeTest, DecodeOutsideRangeGivesZeros) {
  for (double v : {-693594.0, 2958466.0, 1e300, -1e300, double(NAN), double(INFINITY)}) {
    int y = 1, m = 1, d = 1;
    DecodeDate(v, y, m, d);
    EXPECT_EQ(y + m + d, 0) << v;
  }
}

TEST(DateTimeTest, TimeOfDay) {
  const TDateTime t = EncodeTime(13, 5, 9, 250);
  int h = 0, mi = 0, s = 0, ms = 0;
  DecodeTime(t, h, mi, s, ms);
  EXPECT_EQ(h, 13);
  EXPECT_EQ(mi, 5);
  EXPECT_EQ(s, 9);
  EXPECT_EQ(ms, 250);
  EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0, 0), 0.25);

  // Just below midnight stays on the same day.
  DecodeTime(0.99999999999, h, mi, s, ms);
  EXPECT_EQ(h * 10000000 + mi * 100000 + s * 1000 + ms, 235959999);

  // Before 1899-12-30 the fraction still counts forward from midnight.
  const TDateTime before = ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0));
  EXPECT_DOUBLE_EQ(before, -1.25);
  int y = 0, m = 0, d = 0;
  DecodeDate(before, y, m, d);
  DecodeTime(before, h, mi, s, ms);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  EXPECT_EQ(h, 6);

  TDateTime out = 7;
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, out));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, out));
  EXPECT_EQ(out, 7);
  EXPECT_THROW(
      {
        try {
          EncodeTime(25, 0, 0, 0);
        } catch (const EConvertError& e) {
          EXPECT_STREQ(e.what(), "Invalid argument to time encode");
          throw;
        }
      },
      EConvertError);
}

TEST(DateTimeTest, TodayIsTheDateOfNow) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const TDateTime today = Today();
    const TDateTime now = Now();
    EXPECT_EQ(today, std::trunc(today));
    if (std::trunc(now) == today) return;  // else midnight passed between the calls
  }
  FAIL() << "Today() and Now() disagree";
}

}  // namespace
}  // namespace platform
