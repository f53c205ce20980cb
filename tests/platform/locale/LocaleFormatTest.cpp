#include <gtest/gtest.h>
#include <unicode/decimfmt.h>

#include <cmath>
#include <limits>
#include <memory>

#include "platform/locale/Locale.h"
#include "tests/platform/locale/LocaleTestSupport.h"

namespace platform {
namespace {

using test::American;
using test::German;

// The euro sign behind a no-break space, as ICU's German currency format has it.
const std::string Euro = "\xC2\xA0\xE2\x82\xAC";

TEST(LocaleFormatTest, SymbolsAndNames) {
  EXPECT_EQ(German().LocaleName(), "de_DE");
  EXPECT_EQ(German().DecimalSeparator(), ",");
  EXPECT_EQ(German().ThousandSeparator(), ".");
  EXPECT_EQ(German().CurrencySymbol(), "\xE2\x82\xAC");
  EXPECT_EQ(German().CurrencyDigits(), 2);
  EXPECT_EQ(American().DecimalSeparator(), ".");
  EXPECT_EQ(American().ThousandSeparator(), ",");
  EXPECT_EQ(American().CurrencySymbol(), "$");
  EXPECT_EQ(FormatSettings("de_DE.UTF-8").LocaleName(), "de_DE");
  EXPECT_EQ(FormatSettings("de_DE@euro").LocaleName(), "de_DE");
  EXPECT_EQ(FormatSettings("en_US.utf8").LocaleName(), "en_US");
  EXPECT_EQ(FormatSettings("C.UTF-8").LocaleName(), "de_DE");
  EXPECT_EQ(FormatSettings("POSIX").LocaleName(), "de_DE");
  EXPECT_EQ(FormatSettings("").LocaleName(), "de_DE");
  // Text that is no locale name never reaches ICU's resource lookup.
  EXPECT_EQ(FormatSettings("../../etc/x").LocaleName(), "de_DE");
  EXPECT_EQ(FormatSettings("en US").LocaleName(), "de_DE");
}

TEST(LocaleFormatTest, GeneralFloatText) {
  const struct {
    double v;
    const char* de;
    const char* en;
  } cases[] = {
      {0.0, "0", "0"},
      {-0.0, "0", "0"},
      {75, "75", "75"},
      {-1.5, "-1,5", "-1.5"},
      {0.1 + 0.2, "0,3", "0.3"},  // 15 significant digits hide the binary noise
      {1.0 / 3, "0,333333333333333", "0.333333333333333"},
      {123456789012345.0, "123456789012345", "123456789012345"},
      {999999999999999.9, "1E15", "1E15"},  // rounds up into the exponent form
      {1e15, "1E15", "1E15"},
      {1e20, "1E20", "1E20"},
      {-2.5e100, "-2,5E100", "-2.5E100"},
      {0.0001, "0,0001", "0.0001"},
      {0.00012, "0,00012", "0.00012"},
      {0.00001, "1E-5", "1E-5"},
      {1.5e-7, "1,5E-7", "1.5E-7"},
      {5e-324, "4,94065645841247E-324", "4.94065645841247E-324"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN", "NAN"},
      {std::numeric_limits<double>::infinity(), "INF", "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF", "-INF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(German().FormatFloat(c.v), c.de) << c.v;
    EXPECT_EQ(American().FormatFloat(c.v), c.en) << c.v;
  }
}

TEST(LocaleFormatTest, CurrencyText) {
  EXPECT_EQ(German().FormatCurrency(75, 10, 2), "75,00" + Euro);
  EXPECT_EQ(German().FormatCurrency(-75, 10, 2), "-75,00" + Euro);
  EXPECT_EQ(German().FormatCurrency(1234.5, 10, 2), "1.234,50" + Euro);
  EXPECT_EQ(German().FormatCurrency(-1234567.891, 10, 2), "-1.234.567,89" + Euro);
  EXPECT_EQ(German().FormatCurrency(0, 10, 2), "0,00" + Euro);
  EXPECT_EQ(American().FormatCurrency(75, 10, 2), "$75.00");
  EXPECT_EQ(American().FormatCurrency(-75, 10, 2), "-$75.00");
  EXPECT_EQ(American().FormatCurrency(1234567.891, 10, 2), "$1,234,567.89");

  // First the significant digits, then the decimals, half away from zero.
  EXPECT_EQ(German().FormatCurrency(1.005, 10, 2), "1,01" + Euro);
  EXPECT_EQ(German().FormatCurrency(0.125, 10, 2), "0,13" + Euro);
  EXPECT_EQ(German().FormatCurrency(-0.125, 10, 2), "-0,13" + Euro);
  EXPECT_EQ(German().FormatCurrency(999.995, 10, 2), "1.000,00" + Euro);
  EXPECT_EQ(German().FormatCurrency(1234.5, 2, 2), "1.200,00" + Euro);
  EXPECT_EQ(German().FormatCurrency(1234.5, 10, 0), "1.235" + Euro);
  EXPECT_EQ(German().FormatCurrency(0.004, 10, 2), "0,00" + Euro);
  EXPECT_EQ(German().FormatCurrency(0.005, 10, 2), "0,01" + Euro);
  // An amount that rounds to zero loses its sign.
  EXPECT_EQ(German().FormatCurrency(-0.001, 10, 2), "0,00" + Euro);
  EXPECT_EQ(German().FormatCurrency(12.3456, 15, 4), "12,3456" + Euro);

  EXPECT_EQ(German().FormatCurrency(std::nan(""), 10, 2), "NAN");
  EXPECT_EQ(German().FormatCurrency(INFINITY, 10, 2), "INF");
  EXPECT_EQ(German().FormatCurrency(-INFINITY, 10, 2), "-INF");
  EXPECT_EQ(German().FormatCurrency(1e300, 15, 2).size(), 301 + 100 + 3 + Euro.size());
}

// For amounts that are no rounding ties, the text must equal what ICU's own
// currency format gives, in locales with different affixes and groupings.
TEST(LocaleFormatTest, CurrencyTextMatchesIcu) {
  for (const char* name : {"de_DE", "en_US", "fr_FR", "de_CH", "hi_IN", "es_ES", "ja_JP"}) {
    const FormatSettings settings(name);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> icuFormat(
        icu::NumberFormat::createCurrencyInstance(icu::Locale(name), status));
    ASSERT_TRUE(U_SUCCESS(status));
    icuFormat->setRoundingMode(icu::NumberFormat::kRoundHalfUp);
    const int digits = icuFormat->getMaximumFractionDigits();
    for (double v : {0.0, 7.0, -7.25, 1234.5, 12345.678, -98765.4321, 1234567.891, 123456789.0}) {
      icu::UnicodeString expected;
      icuFormat->format(v, expected);
      std::string expectedUtf8;
      expected.toUTF8String(expectedUtf8);
      EXPECT_EQ(settings.FormatCurrency(v, 15, digits), expectedUtf8) << name << " " << v;
    }
  }
}

TEST(LocaleFormatTest, PlainCurrencyAmount) {
  EXPECT_EQ(German().FormatCurr(75), "75");
  EXPECT_EQ(German().FormatCurr(0.12345), "0,1235");
  EXPECT_EQ(German().FormatCurr(-1.5), "-1,5");
  EXPECT_EQ(German().FormatCurr(-0.00001), "0");
  EXPECT_EQ(German().FormatCurr(1234567.25), "1234567,25");
  EXPECT_EQ(German().FormatCurr(922337203685477.5807), "922337203685477,625");
  EXPECT_EQ(American().FormatCurr(0.12345), "0.1235");
  EXPECT_EQ(German().FormatCurr(-INFINITY), "-INF");
}

TEST(LocaleFormatTest, DatesAndTimes) {
  const TDateTime date = EncodeDate(2027, 1, 15);
  const TDateTime when = date + EncodeTime(13, 5, 9, 999);
  EXPECT_EQ(German().FormatShortDate(when), "15.01.2027");
  EXPECT_EQ(American().FormatShortDate(when), "1/15/2027");
  EXPECT_EQ(FormatSettings("fr_FR").FormatShortDate(when), "15/01/2027");
  EXPECT_EQ(German().FormatShortDate(EncodeDate(5, 3, 1)), "01.03.0005");
  EXPECT_EQ(German().FormatShortDate(EncodeDate(9999, 12, 31)), "31.12.9999");
  EXPECT_EQ(German().FormatShortDate(-700000.0), "");
  EXPECT_EQ(German().FormatShortDate(3e6), "");
  EXPECT_EQ(German().FormatShortDate(std::nan("")), "");

  // Milliseconds never round the seconds up.
  EXPECT_EQ(German().FormatLongTime(when), "13:05:09");
  EXPECT_EQ(American().FormatLongTime(when), "1:05:09 PM");
  EXPECT_EQ(American().FormatLongTime(date), "12:00:00 AM");
  EXPECT_EQ(German().FormatLongTime(EncodeTime(0, 0, 7, 0)), "00:00:07");

  EXPECT_EQ(German().FormatDateTime(date), "15.01.2027");
  EXPECT_EQ(German().FormatDateTime(when), "15.01.2027 13:05:09");
  EXPECT_EQ(American().FormatDateTime(when), "1/15/2027 1:05:09 PM");
  EXPECT_EQ(German().FormatDateTime(-1.25), "29.12.1899 06:00:00");
  EXPECT_EQ(German().FormatDateTime(-1e9), "");
}

TEST(LocaleFormatTest, UpperCase) {
  EXPECT_EQ(German().UpperCase(std::string_view("stra\xC3\x9F"
                                                "e \xC3\xA4\xC3\xB6\xC3\xBC")),
            "STRASSE \xC3\x84\xC3\x96\xC3\x9C");
  EXPECT_EQ(German().UpperCase(std::u16string_view(u"m\u00FCller")), u"M\u00DCLLER");
  EXPECT_EQ(German().UpperCase(std::u16string_view(u"a\U0001043Cz")), u"A\U00010414Z");
  EXPECT_EQ(FormatSettings("tr_TR").UpperCase(std::u16string_view(u"i")), u"\u0130");
  EXPECT_EQ(American().UpperCase(std::u16string_view(u"i")), u"I");
  EXPECT_EQ(German().UpperCase(std::string_view("")), "");
  EXPECT_EQ(German().UpperCase(std::string_view("a\0b", 3)), std::string("A\0B", 3));
}

TEST(LocaleFormatTest, Collation) {
  const FormatSettings& de = German();
  EXPECT_EQ(de.Compare(u"a", u"b", false), -1);
  EXPECT_EQ(de.Compare(u"b", u"a", false), 1);
  // Collation order, not code unit order.
  EXPECT_EQ(de.Compare(u"B", u"a", false), 1);
  EXPECT_EQ(de.Compare(u"\u00E4", u"b", false), -1);
  EXPECT_EQ(de.Compare(u"abc", u"ABC", true), 0);
  EXPECT_NE(de.Compare(u"abc", u"ABC", false), 0);
  // Ignoring case does not ignore accents.
  EXPECT_NE(de.Compare(u"a", u"\u00E4", true), 0);
  EXPECT_NE(de.Compare(u"M\u00FCller", u"MULLER", true), 0);
  EXPECT_EQ(de.Compare(u"", u"", false), 0);
  EXPECT_EQ(de.Compare(u"", u"a", true), -1);
  EXPECT_EQ(de.Compare(u"abc", u"abcd", false), -1);
}

}  // namespace
}  // namespace platform
