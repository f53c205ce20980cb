#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>

#include "platform/locale/Locale.h"
#include "platform/os/Exception.h"
#include "tests/platform/locale/LocaleTestSupport.h"

namespace platform {
namespace {

using test::American;
using test::German;

TEST(LocaleParseTest, FloatShapes) {
  const struct {
    const char* text;
    double value;
  } good[] = {
      {"1,5", 1.5},  {" 1,5 ", 1.5},   {"\t-1,5e3\t", -1500}, {"1,5e3", 1500}, {"+2", 2},
      {",5", 0.5},   {"5,", 5},        {"1,5E-3", 0.0015},    {"1e+2", 100},   {"007", 7},
      {"1e-400", 0}, {"10000", 10000},
  };
  for (const auto& c : good) {
    double v = -99;
    EXPECT_TRUE(German().TryParseFloat(c.text, v)) << c.text;
    EXPECT_DOUBLE_EQ(v, c.value) << c.text;
  }
  const char* bad[] = {"1.5", "10.000", "1,5,0", "",    " ",   "-",     ",",    "e5",
                       "1e",  "1e+",    "NaN",   "nan", "inf", "INF",   "-INF", "1e400",
                       "1 5", "1,5 €",  "0x10",  "--1", "+-1", "1e5e5", "1,e",  "1\xC2\xA0"};
  for (const char* text : bad) {
    double v = -99;
    EXPECT_FALSE(German().TryParseFloat(text, v)) << text;
    EXPECT_EQ(v, -99) << text;
  }
  double v = 0;
  EXPECT_FALSE(German().TryParseFloat(std::string_view("1\0", 2), v));
  EXPECT_FALSE(German().TryParseFloat("1\n", v));
  EXPECT_TRUE(German().TryParseFloat("-0", v));
  EXPECT_TRUE(std::signbit(v));
  EXPECT_EQ(v, 0.0);

  EXPECT_TRUE(American().TryParseFloat("1.5", v));
  EXPECT_EQ(v, 1.5);
  EXPECT_FALSE(American().TryParseFloat("1,5", v));
  EXPECT_FALSE(American().TryParseFloat("10,000", v));
}

TEST(LocaleParseTest, InvariantFloat) {
  double v = 0;
  EXPECT_TRUE(TryParseFloatInvariant(" 2.5e-1 ", v));
  EXPECT_EQ(v, 0.25);
  EXPECT_FALSE(TryParseFloatInvariant("2,5", v));
  EXPECT_FALSE(TryParseFloatInvariant("nan", v));
  EXPECT_FALSE(TryParseFloatInvariant("1e999", v));
  EXPECT_EQ(FormatFloatInvariant(0.1), "0.1");
  EXPECT_EQ(FormatFloatInvariant(-1500), "-1500");
  // Every finite double comes back bit for bit.
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = random();
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    double back = 0;
    ASSERT_TRUE(TryParseFloatInvariant(FormatFloatInvariant(d), back)) << FormatFloatInvariant(d);
    ASSERT_EQ(std::memcmp(&d, &back, sizeof d), 0) << FormatFloatInvariant(d);
  }
}

// The general text keeps 15 significant digits and reads back in its locale.
TEST(LocaleParseTest, GeneralTextReadsBack) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> exponent(-300, 300);
  for (int i = 0; i < 5000; ++i) {
    const double v = std::pow(10.0, exponent(random)) * (i % 2 ? -1 : 1);
    for (const FormatSettings* s : {&German(), &American()}) {
      double back = 0;
      const std::string text = s->FormatFloat(v);
      ASSERT_TRUE(s->TryParseFloat(text, back)) << text;
      ASSERT_NEAR(back / v, 1.0, 1e-14) << text;
    }
  }
}

TEST(LocaleParseTest, LongTextsAreLinear) {
  const std::string ones(1000000, '1');
  std::string tiny = "0,";
  tiny += std::string(1000000, '0');
  tiny += '1';
  std::string longExponent = "1e-";
  longExponent += ones;
  std::string blanks = "1.1.2027";
  for (int i = 0; i < 300000; ++i) blanks += " 1";
  const auto start = std::chrono::steady_clock::now();
  double v = -1;
  TDateTime t = 0;
  std::int64_t n = 0;
  EXPECT_FALSE(German().TryParseFloat(ones, v));
  EXPECT_TRUE(German().TryParseFloat(tiny, v));
  EXPECT_EQ(v, 0.0);
  EXPECT_TRUE(German().TryParseFloat(longExponent, v));
  EXPECT_EQ(v, 0.0);
  EXPECT_FALSE(German().TryParseInt64(ones, n));
  EXPECT_FALSE(German().TryParseCurrency(ones + " x", v));
  EXPECT_FALSE(German().TryParseDate(ones, t));
  EXPECT_FALSE(German().TryParseDateTime(blanks, t));
  EXPECT_FALSE(German().TryParseTime(blanks, t));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 3000);
}

TEST(LocaleParseTest, Integers) {
  std::int32_t i = 0;
  std::int64_t l = 0;
  EXPECT_TRUE(German().TryParseInt32(" -42 ", i));
  EXPECT_EQ(i, -42);
  EXPECT_TRUE(German().TryParseInt32("$fF", i));
  EXPECT_EQ(i, 255);
  EXPECT_TRUE(German().TryParseInt32("-$10", i));
  EXPECT_EQ(i, -16);
  EXPECT_TRUE(German().TryParseInt32("2147483647", i));
  EXPECT_EQ(i, 2147483647);
  EXPECT_TRUE(German().TryParseInt32("-2147483648", i));
  EXPECT_EQ(i, INT32_MIN);
  EXPECT_TRUE(German().TryParseInt32("$7FFFFFFF", i));
  EXPECT_EQ(i, INT32_MAX);
  i = 5;
  for (const char* text :
       {"2147483648", "-2147483649", "$80000000", "", " ", "$", "-", "+", "1,0", "1.0", "1e3",
        "0x10", "12a", "$G", "1 2", "--1", "99999999999999999999"}) {
    EXPECT_FALSE(German().TryParseInt32(text, i)) << text;
  }
  EXPECT_EQ(i, 5);
  EXPECT_TRUE(German().TryParseInt64("2147483648", l));
  EXPECT_EQ(l, 2147483648LL);
  EXPECT_TRUE(German().TryParseInt64("-9223372036854775808", l));
  EXPECT_EQ(l, INT64_MIN);
  EXPECT_TRUE(German().TryParseInt64("$7FFFFFFFFFFFFFFF", l));
  EXPECT_EQ(l, INT64_MAX);
  EXPECT_FALSE(German().TryParseInt64("9223372036854775808", l));
  EXPECT_FALSE(German().TryParseInt64("$10000000000000000", l));
}

TEST(LocaleParseTest, Currency) {
  const std::string euro = "\xC2\xA0\xE2\x82\xAC";
  double v = 0;
  for (const std::string& text :
       {"75,00" + euro, std::string("75,00 \xE2\x82\xAC"), std::string("75"),
        std::string("\xE2\x82\xAC 75"), std::string(" 75,0 ")}) {
    v = 0;
    EXPECT_TRUE(German().TryParseCurrency(text, v)) << text;
    EXPECT_EQ(v, 75) << text;
  }
  EXPECT_TRUE(German().TryParseCurrency("-75,5" + euro, v));
  EXPECT_EQ(v, -75.5);
  for (const char* text : {"75.00 \xE2\x82\xAC", "1.234,50 \xE2\x82\xAC", "\xE2\x82\xAC", "$75",
                           "75 \xE2\x82\xAC \xE2\x82\xAC", "NaN \xE2\x82\xAC"}) {
    EXPECT_FALSE(German().TryParseCurrency(text, v)) << text;
  }
  EXPECT_TRUE(American().TryParseCurrency("$75.25", v));
  EXPECT_EQ(v, 75.25);
  EXPECT_TRUE(American().TryParseCurrency("-$75.25", v));
  EXPECT_EQ(v, -75.25);
  EXPECT_FALSE(American().TryParseCurrency("-$-75", v));
  EXPECT_FALSE(American().TryParseCurrency("75,25", v));
  // Amounts below the grouping size read back from the currency text.
  for (double amount : {0.0, 1.25, -999.99, 75.0}) {
    for (const FormatSettings* s : {&German(), &American()}) {
      ASSERT_TRUE(s->TryParseCurrency(s->FormatCurrency(amount, 10, 2), v));
      EXPECT_EQ(v, amount);
      ASSERT_TRUE(s->TryParseCurrency(s->FormatCurr(amount), v));
      EXPECT_EQ(v, amount);
    }
  }
}

TEST(LocaleParseTest, Dates) {
  const TDateTime expected = EncodeDate(2027, 1, 15);
  TDateTime t = 0;
  for (const char* text : {"15.01.2027", "15.1.2027", " 15.1.2027\t", "15. 1. 2027", "15.01.27"}) {
    t = 0;
    EXPECT_TRUE(German().TryParseDate(text, t)) << text;
    EXPECT_EQ(t, expected) << text;
  }
  EXPECT_TRUE(American().TryParseDate("1/15/2027", t));
  EXPECT_EQ(t, expected);
  EXPECT_TRUE(German().TryParseDate("1.1.1", t));  // a one-digit year is windowed too
  EXPECT_EQ(t, EncodeDate(2001, 1, 1));
  EXPECT_TRUE(German().TryParseDate("1.1.0001", t));
  EXPECT_EQ(t, EncodeDate(1, 1, 1));
  t = 3;
  for (const char* text :
       {"29.02.2027", "15/01/2027", "2027-01-15", "15.01.", "15.01", "15.01.2027x", "15.01.20270",
        "115.01.2027", "1.1.0000", "0.1.2027", "15.13.2027", "", ".."}) {
    EXPECT_FALSE(German().TryParseDate(text, t)) << text;
  }
  EXPECT_FALSE(American().TryParseDate("15/1/2027", t));
  EXPECT_FALSE(American().TryParseDate("1.15.2027", t));
  EXPECT_EQ(t, 3);

  // Two-digit years fall within the 100 years from 50 years ago.
  int year = 0, m = 0, d = 0;
  DecodeDate(Today(), year, m, d);
  const auto twoDigits = [](int y) {
    std::string text = "1.6.";
    text += static_cast<char>('0' + y % 100 / 10);
    text += static_cast<char>('0' + y % 10);
    return text;
  };
  EXPECT_TRUE(German().TryParseDate(twoDigits(year - 50), t));
  EXPECT_EQ(t, EncodeDate(year - 50, 6, 1));
  EXPECT_TRUE(German().TryParseDate(twoDigits(year + 49), t));
  EXPECT_EQ(t, EncodeDate(year + 49, 6, 1));
}

TEST(LocaleParseTest, TimesAndDateTimes) {
  TDateTime t = 0;
  EXPECT_TRUE(German().TryParseTime("13:05", t));
  EXPECT_EQ(t, EncodeTime(13, 5, 0, 0));
  EXPECT_TRUE(German().TryParseTime(" 13:05:09 ", t));
  EXPECT_EQ(t, EncodeTime(13, 5, 9, 0));
  EXPECT_TRUE(American().TryParseTime("1:05:09 PM", t));
  EXPECT_EQ(t, EncodeTime(13, 5, 9, 0));
  EXPECT_TRUE(American().TryParseTime("12:00 am", t));
  EXPECT_EQ(t, 0.0);
  EXPECT_TRUE(American().TryParseTime("12:30\xE2\x80\xAFPM", t));
  EXPECT_EQ(t, EncodeTime(12, 30, 0, 0));
  EXPECT_TRUE(American().TryParseTime(American().FormatLongTime(EncodeTime(23, 59, 58, 0)), t));
  EXPECT_EQ(t, EncodeTime(23, 59, 58, 0));
  t = 9;
  for (const char* text : {"24:00", "13:60", "1:2:3:4", "13", "13:", ":05", "13:05:60", "13 PM",
                           "0:30 PM", "13:05 XM", "", "13:05:09,5"}) {
    EXPECT_FALSE(American().TryParseTime(text, t)) << text;
  }
  EXPECT_EQ(t, 9);

  EXPECT_TRUE(German().TryParseDateTime("15.01.2027 13:05:09", t));
  EXPECT_EQ(t, EncodeDate(2027, 1, 15) + EncodeTime(13, 5, 9, 0));
  EXPECT_TRUE(German().TryParseDateTime("15. 1. 2027  13:05", t));
  EXPECT_EQ(t, EncodeDate(2027, 1, 15) + EncodeTime(13, 5, 0, 0));
  EXPECT_TRUE(German().TryParseDateTime("15.01.2027", t));
  EXPECT_EQ(t, EncodeDate(2027, 1, 15));
  EXPECT_TRUE(German().TryParseDateTime("29.12.1899 06:00", t));
  EXPECT_EQ(t, -1.25);
  EXPECT_TRUE(American().TryParseDateTime("1/15/2027 1:05:09 PM", t));
  EXPECT_EQ(t, EncodeDate(2027, 1, 15) + EncodeTime(13, 5, 9, 0));
  EXPECT_FALSE(German().TryParseDateTime("13:05 15.01.2027", t));
  EXPECT_FALSE(German().TryParseDateTime("15.01.2027 25:00", t));
  // What the formatter writes, the parser reads.
  const TDateTime when = EncodeDate(1987, 12, 3) + EncodeTime(8, 9, 10, 0);
  for (const FormatSettings* s : {&German(), &American()}) {
    ASSERT_TRUE(s->TryParseDateTime(s->FormatDateTime(when), t)) << s->FormatDateTime(when);
    EXPECT_EQ(s->FormatDateTime(t), s->FormatDateTime(when));
  }
}

template <typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "no EConvertError";
}

TEST(LocaleParseTest, ThrowingForms) {
  const FormatSettings& de = German();
  EXPECT_EQ(de.ParseFloat("1,5"), 1.5);
  EXPECT_EQ(de.ParseInt32("7"), 7);
  EXPECT_EQ(de.ParseInt64("-7"), -7);
  EXPECT_EQ(de.ParseCurrency("7,25"), 7.25);
  EXPECT_EQ(de.ParseDate("15.01.2027"), EncodeDate(2027, 1, 15));
  EXPECT_EQ(de.ParseTime("06:00"), 0.25);
  EXPECT_EQ(de.ParseDateTime("30.12.1899 06:00"), 0.25);
  EXPECT_EQ(MessageOf([&] { de.ParseFloat("10.000"); }),
            "'10.000' is not a valid floating point value");
  EXPECT_EQ(MessageOf([&] { de.ParseCurrency("x"); }), "'x' is not a valid floating point value");
  EXPECT_EQ(MessageOf([&] { de.ParseInt32("x"); }), "'x' is not a valid integer value");
  EXPECT_EQ(MessageOf([&] { de.ParseInt64(""); }), "'' is not a valid integer value");
  EXPECT_EQ(MessageOf([&] { de.ParseDate("31.02.2027"); }), "'31.02.2027' is not a valid date");
  EXPECT_EQ(MessageOf([&] { de.ParseTime("25:00"); }), "'25:00' is not a valid time");
  EXPECT_EQ(MessageOf([&] { de.ParseDateTime("x 1:00"); }),
            "'x 1:00' is not a valid date and time");
}

// Odd texts through every parser: none may crash, and whatever is accepted
// must be a finite value.
TEST(LocaleParseTest, OddTextsNeverCrash) {
  std::vector<std::string> texts = {"",
                                    " ",
                                    "\t",
                                    std::string(1, '\0'),
                                    std::string("1\0"
                                                "5",
                                                3),
                                    "\x01",
                                    "\x7F",
                                    "\xFF\xFE",
                                    "\xC3",
                                    "1,5\xE2\x82",
                                    "-",
                                    "+",
                                    "e",
                                    "E-",
                                    "$",
                                    "-$",
                                    "$-1",
                                    "1e",
                                    "1e-",
                                    "1e+9999999999999999999999",
                                    "0e-99999999999999999999",
                                    "1,5e3,5",
                                    "::",
                                    "1:",
                                    "..",
                                    "//",
                                    "1.1.",
                                    "1/1/",
                                    "31.12.9999 23:59:59",
                                    "1.1.1 0:0:0",
                                    "99.99.9999",
                                    "12:00 PM PM",
                                    "\xE2\x82\xAC\xE2\x82\xAC",
                                    "-\xE2\x82\xAC",
                                    "AM",
                                    "PM 1:00",
                                    "1:00 \xC2\xA0 AM"};
  std::mt19937 random(3);
  const std::string alphabet =
      "0123456789,.:/-+eE$ \t\xE2\x82\xAC\xC2\xA0"
      "AMPamp\x01";
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int length = static_cast<int>(random() % 24);
    for (int k = 0; k < length; ++k) {
      text += (random() % 8 == 0) ? static_cast<char>(random() % 256)
                                  : alphabet[random() % alphabet.size()];
    }
    texts.push_back(std::move(text));
  }
  for (const FormatSettings* s : {&German(), &American()}) {
    for (const std::string& text : texts) {
      double v = 0;
      std::int32_t i = 0;
      std::int64_t l = 0;
      TDateTime t = 0;
      ASSERT_TRUE(!s->TryParseFloat(text, v) || std::isfinite(v)) << text;
      ASSERT_TRUE(!s->TryParseCurrency(text, v) || std::isfinite(v)) << text;
      ASSERT_TRUE(!TryParseFloatInvariant(text, v) || std::isfinite(v)) << text;
      s->TryParseInt32(text, i);
      s->TryParseInt64(text, l);
      ASSERT_TRUE(!s->TryParseDate(text, t) || !s->FormatShortDate(t).empty()) << text;
      ASSERT_TRUE(!s->TryParseTime(text, t) || (t >= 0 && t < 1)) << text;
      ASSERT_TRUE(!s->TryParseDateTime(text, t) || !s->FormatDateTime(t).empty()) << text;
      s->UpperCase(std::string_view(text));
    }
  }
}

}  // namespace
}  // namespace platform
