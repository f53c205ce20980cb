#include "engine/types/ABSDateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "engine/memory/ABSException.h"
#include "platform/os/DateTime.h"
#include "platform/os/Exception.h"

namespace {

using platform::EncodeDate;
using platform::EncodeTime;

template <typename F>
std::string RaisedMessage(F f) {
  try {
    f();
  } catch (const EABSException& e) {
    return e.Message();
  }
  return "nothing raised";
}

TEST(DayNumbers, CountFromTheFirstDayOfYearOne) {
  EXPECT_EQ(DateTimeToDate(EncodeDate(1, 1, 1)), 1);
  EXPECT_EQ(DateTimeToDate(EncodeDate(1899, 12, 30)), DaysOffset);
  EXPECT_EQ(DateTimeToDate(EncodeDate(1899, 12, 29)), DaysOffset - 1);
  EXPECT_EQ(DateTimeToDate(EncodeDate(2014, 6, 17)), 735401);
  EXPECT_EQ(DateTimeToDate(EncodeDate(9999, 12, 31)), 3652059);
  EXPECT_EQ(DateToDateTime(1), EncodeDate(1, 1, 1));
  EXPECT_EQ(DateToDateTime(735401), EncodeDate(2014, 6, 17));
  // The time of day does not move the day, on either side of 1899-12-30.
  EXPECT_EQ(DateTimeToDate(EncodeDate(2014, 6, 17) + 0.999), 735401);
  EXPECT_EQ(DateTimeToDate(-1.75), DaysOffset - 1);
  EXPECT_EQ(DateTimeToDate(-0.5), DaysOffset);
}

TEST(DayNumbers, EmptyDayNumberSurvivesTheRoundTrip) {
  EXPECT_EQ(EmptyDayNumber, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(DateTimeToDate(DateToDateTime(EmptyDayNumber)), EmptyDayNumber);
  const TABSTimeStamp s = DateTimeToStamp(StampToDateTime(EmptyDayNumber, 0));
  EXPECT_EQ(s.Date, EmptyDayNumber);
  EXPECT_EQ(s.Time, 0);
  EXPECT_EQ(DateTimeToDate(DateToDateTime(std::numeric_limits<std::int32_t>::max())),
            std::numeric_limits<std::int32_t>::max());
}

TEST(DayNumbers, ValuesWithoutADayNumberAreRefused) {
  const std::string msg = "Invalid date-time value - Native error: 30491";
  EXPECT_EQ(RaisedMessage([] { DateTimeToDate(std::nan("")); }), msg);
  EXPECT_EQ(RaisedMessage([] { DateTimeToDate(std::numeric_limits<double>::infinity()); }), msg);
  EXPECT_EQ(RaisedMessage([] { DateTimeToDate(1e300); }), msg);
  EXPECT_EQ(RaisedMessage([] { DateTimeToDate(-1e300); }), msg);
  EXPECT_EQ(RaisedMessage([] { DateTimeToDate(2147483647.0); }), msg);  // + DaysOffset
  EXPECT_EQ(RaisedMessage([] { DateTimeToTime(std::nan("")); }),
            "Invalid date-time value - Native error: 30492");
  EXPECT_EQ(RaisedMessage([] { DateTimeToStamp(-std::numeric_limits<double>::infinity()); }),
            "Invalid date-time value - Native error: 30492");
}

TEST(TimesOfDay, AreWholeMillisecondsSinceMidnight) {
  EXPECT_EQ(DateTimeToTime(EncodeTime(12, 0, 0, 0)), 43200000);
  EXPECT_EQ(DateTimeToTime(EncodeDate(2014, 6, 17) + EncodeTime(23, 59, 59, 999)), 86399999);
  EXPECT_EQ(DateTimeToTime(EncodeDate(2014, 6, 17)), 0);
  EXPECT_EQ(TimeToDateTime(43200000), 0.5);
  EXPECT_EQ(TimeToDateTime(0), 0.0);
  // Whole days drop out.
  EXPECT_EQ(TimeToDateTime(86400000 + 21600000), 0.25);
  // Before 1899-12-30 the time is the magnitude of the fraction.
  EXPECT_EQ(DateTimeToTime(-1.25), 21600000);
}

TEST(TimesOfDay, RoundToTheNearestMillisecondWithHalvesToEven) {
  // 2^-11 of a day is exactly 42187.5 ms, 3 * 2^-11 exactly 126562.5 ms.
  EXPECT_EQ(DateTimeToTime(std::ldexp(1.0, -11)), 42188);
  EXPECT_EQ(DateTimeToTime(3 * std::ldexp(1.0, -11)), 126562);
  EXPECT_EQ(DateTimeToTime(10 + 0.4 / 86400000.0), 0);
  EXPECT_EQ(DateTimeToTime(10 + 1.6 / 86400000.0), 2);
}

TEST(TimesOfDay, RoundingUpToMidnightMovesToTheNextDay) {
  const double lastMoment = EncodeDate(2014, 6, 17) + 0.9999999999;  // 23:59:59.99999
  EXPECT_EQ(DateTimeToTime(lastMoment), 0);
  const TABSTimeStamp s = DateTimeToStamp(lastMoment);
  EXPECT_EQ(s.Date, 735402);
  EXPECT_EQ(s.Time, 0);
  // The same before 1899-12-30: 1899-12-28 23:59:59.99999 is 1899-12-29 00:00.
  const TABSTimeStamp n = DateTimeToStamp(-2.9999999999);
  EXPECT_EQ(n.Date, DaysOffset - 1);
  EXPECT_EQ(n.Time, 0);
}

TEST(TimeStamps, RoundTripAcrossTheWholeCalendar) {
  const std::int32_t days[] = {1, 2, 366, 693593, DaysOffset, 693595, 735401, 3652059};
  const std::int32_t times[] = {0, 1, 999, 21600000, 43200000, 43200001, 86399999};
  for (std::int32_t d : days) {
    for (std::int32_t t : times) {
      SCOPED_TRACE(std::to_string(d) + " " + std::to_string(t));
      const double dt = StampToDateTime(d, t);
      const TABSTimeStamp s = DateTimeToStamp(dt);
      EXPECT_EQ(s.Date, d);
      EXPECT_EQ(s.Time, t);
      // The framework reads the same calendar moment.
      int y, m, dd, h, mi, sec, ms;
      platform::DecodeDate(dt, y, m, dd);
      platform::DecodeTime(dt, h, mi, sec, ms);
      EXPECT_EQ(DateTimeToDate(EncodeDate(y, m, dd)), d);
      EXPECT_EQ(((h * 60 + mi) * 60 + sec) * 1000 + ms, t);
    }
  }
  const double noonBefore = StampToDateTime(TABSTimeStamp{DaysOffset - 1, 43200000});
  EXPECT_EQ(noonBefore, -1.5);
}

TEST(DateTextParsers, AcceptTheFixedShapes) {
  double v = 0;
  ASSERT_TRUE(ParseDateText("2014-06-17", v));
  EXPECT_EQ(v, EncodeDate(2014, 6, 17));
  for (const char* text : {"2014 06 17", "2014:06:17", "2014/06/17", "2014-06-17 ", "2014-06-17Z",
                           "2014\xE4"
                           "06\xE4"
                           "17"}) {
    v = 0;
    EXPECT_TRUE(ParseDateText(text, v)) << text;
    EXPECT_EQ(v, EncodeDate(2014, 6, 17)) << text;
  }
  ASSERT_TRUE(ParseDateText("0001-01-01", v));
  EXPECT_EQ(DateTimeToDate(v), 1);
  ASSERT_TRUE(ParseTimeText("08:15:42", v));
  EXPECT_EQ(v, EncodeTime(8, 15, 42, 0));
  ASSERT_TRUE(ParseTimeText("23 59 59", v));
  EXPECT_EQ(DateTimeToTime(v), 86399000);
  ASSERT_TRUE(ParseDateTimeText("2014-06-17 08:15:42", v));
  EXPECT_EQ(DateTimeToStamp(v).Date, 735401);
  EXPECT_EQ(DateTimeToStamp(v).Time, (8 * 3600 + 15 * 60 + 42) * 1000);
  // Before 1899-12-30 the time still lies within its own day.
  ASSERT_TRUE(ParseDateTimeText("1899-12-29T06:00:00", v));
  EXPECT_EQ(DateTimeToStamp(v).Date, DaysOffset - 1);
  EXPECT_EQ(DateTimeToStamp(v).Time, 21600000);
}

TEST(DateTextParsers, RefuseOtherShapesAndLeaveTheResultAlone) {
  const char* badDates[] = {
      "",          "2014-6-17",    "14-06-17",    "02014-06-17", "2014-06-170",
      "2014-06",   "2014-06-17xy", " 2014-06-17", "2014--06-17", "2014-06-17 08:15:42",
      "abcd-ef-gh"};
  for (const char* text : badDates) {
    double v = 42;
    EXPECT_FALSE(ParseDateText(text, v)) << text;
    EXPECT_EQ(v, 42) << text;
  }
  for (const char* text : {"8:15:42", "08:15", "08:15:42:00", "081542", "08:15:42.5"}) {
    double v = 42;
    EXPECT_FALSE(ParseTimeText(text, v)) << text;
    EXPECT_EQ(v, 42) << text;
  }
  for (const char* text :
       {"2014-06-17", "2014-06-17 08:15", "2014-06-17 08:15:42 +1", "2014-06-17 8:15:42"}) {
    double v = 42;
    EXPECT_FALSE(ParseDateTimeText(text, v)) << text;
    EXPECT_EQ(v, 42) << text;
  }
}

TEST(DateTextParsers, DatesAndTimesThatDoNotExistRaiseTheConversionError) {
  // The right shape naming no real day or time is an error, not another shape:
  // the caller must not go on and try other readings of the text.
  const auto raises = [](auto parse, const char* text) {
    double v = 42;
    try {
      parse(text, v);
    } catch (const platform::EConvertError&) {
      return v == 42;
    }
    return false;
  };
  const auto date = [](const char* t, double& v) { return ParseDateText(t, v); };
  const auto time = [](const char* t, double& v) { return ParseTimeText(t, v); };
  const auto stamp = [](const char* t, double& v) { return ParseDateTimeText(t, v); };
  for (const char* text :
       {"2014-02-29", "2014-13-01", "2014-00-10", "2014-06-00", "0000-01-01", "2014-04-31"}) {
    EXPECT_TRUE(raises(date, text)) << text;
  }
  double v = 0;
  EXPECT_TRUE(ParseDateText("2016-02-29", v));
  for (const char* text : {"24:00:00", "12:60:00", "12:00:60"}) {
    EXPECT_TRUE(raises(time, text)) << text;
  }
  for (const char* text : {"2014-02-30 08:15:42", "2014-06-17 25:15:42", "2014-06-17 23:61:00"}) {
    EXPECT_TRUE(raises(stamp, text)) << text;
  }
  // The shape is checked first: a wrong shape with impossible numbers is false.
  EXPECT_FALSE(ParseDateText("2014-13-1", v));
  EXPECT_FALSE(ParseTimeText("99:99", v));
}

}  // namespace
