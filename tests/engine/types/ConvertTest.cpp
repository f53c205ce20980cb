// Conversion between storage types, comparison of bare values and the
// common-type table.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <thread>

#include "engine/memory/ABSMemory.h"
#include "engine/types/ABSConvert.h"
#include "tests/engine/types/ValueTestSupport.h"

namespace {

template <typename R, typename T>
R ConvertFixed(T value, int from, int to) {
  TABSConvertedValue out;
  ConvertValueInto(&value, sizeof value, ST(from), ST(to), out);
  EXPECT_EQ(out.Size(), static_cast<std::int32_t>(sizeof(R)));
  R r{};
  std::memcpy(&r, out.Data(), sizeof r);
  return r;
}

// Text of an ANSI result, checking its terminator.
std::string AnsiOf(const TABSConvertedValue& v) {
  const char* p = static_cast<const char*>(v.Data());
  EXPECT_GE(v.Size(), 1);
  EXPECT_EQ(p[v.Size() - 1], '\0');
  return std::string(p, static_cast<std::size_t>(v.Size() - 1));
}

std::u16string WideOf(const TABSConvertedValue& v) {
  EXPECT_EQ(v.Size() % 2, 0);
  std::u16string r(static_cast<std::size_t>(v.Size() / 2), u'\0');
  std::memcpy(r.data(), v.Data(), static_cast<std::size_t>(v.Size()));
  EXPECT_EQ(r.back(), u'\0');
  r.pop_back();
  return r;
}

TABSConvertedValue FromAnsi(const std::string& text, int to, int from = stString) {
  TABSConvertedValue out;
  ConvertValueInto(text.c_str(), -1, ST(from), ST(to), out);
  return out;
}

TABSConvertedValue FromWide(const std::u16string& text, int to) {
  TABSConvertedValue out;
  ConvertValueInto(text.c_str(), -1, stWideString, ST(to), out);
  return out;
}

template <typename R>
R Fixed(const TABSConvertedValue& v) {
  EXPECT_EQ(v.Size(), static_cast<std::int32_t>(sizeof(R)));
  R r{};
  std::memcpy(&r, v.Data(), sizeof r);
  return r;
}

struct Stamp {
  std::int32_t day;
  std::int32_t ms;
};

TABSConvertedValue FromStamp(std::int32_t day, std::int32_t ms, int to) {
  const Stamp s{day, ms};
  TABSConvertedValue out;
  ConvertValueInto(&s, 8, stDateTime, ST(to), out);
  return out;
}

bool ExpectedSupported(int s, int t) {
  auto in = [](int x, std::set<int> values) { return values.count(x) != 0; };
  auto range = [](int x, int lo, int hi) { return x >= lo && x <= hi; };
  if (in(s, {1, 2, 3, 4, 19, 20})) return range(t, 1, 18) || t == 21 || t == 22;
  if (range(s, 5, 17)) return range(t, 1, 17) || t == 21 || t == 22;
  if (s == 21) return range(t, 1, 14) || t == 21;
  if (s == 22) return range(t, 1, 14) || t == 21 || t == 22;
  return false;
}

// A valid source value of every type, large enough for each (text "1").
struct SampleSource {
  unsigned char bytes[32] = {};
  explicit SampleSource(int type) {
    if (type == stWideChar || type == stWideString || type == stWideMemo) {
      const char16_t text[] = u"1";
      std::memcpy(bytes, text, sizeof text);
    } else if (type >= 1 && type <= 4) {
      bytes[0] = '1';
    } else if (type == stMemo) {
      bytes[0] = '1';
    } else if (type == stDate || type == stDateTime) {
      const std::int32_t day = 735401;
      std::memcpy(bytes, &day, 4);
    } else if (type == stExtended) {
      StoreExtended(bytes, 1.0L);
    } else if (type == stSingle) {
      const float one = 1;
      std::memcpy(bytes, &one, 4);
    } else if (type == stDouble || type == stCurrency) {
      const double one = 1;
      std::memcpy(bytes, &one, 8);
    } else {
      bytes[0] = 1;
    }
  }
};

}  // namespace

// --- which pairs convert ---

TEST(ConvertValue, UnsupportedPairsRaise30052AndSupportedPairsNever) {
  for (int s = 0; s <= 25; ++s) {
    for (int t = 0; t <= 25; ++t) {
      SampleSource src(s);
      TABSConvertedValue out;
      const std::int32_t size = s == stMemo ? 1 : (s == stWideMemo ? 2 : -1);
      try {
        ConvertValueInto(src.bytes, size, ST(s), ST(t), out);
        EXPECT_TRUE(ExpectedSupported(s, t)) << s << " -> " << t << " converted";
      } catch (const EABSException& e) {
        if (ExpectedSupported(s, t)) {
          // Only failures of the value itself (a date from "1") may occur.
          EXPECT_EQ(e.NativeError(), 30051) << s << " -> " << t << ": " << e.Message();
        } else {
          EXPECT_EQ(e.NativeError(), 30052) << s << " -> " << t;
          EXPECT_EQ(e.Message(), "Cannot cast from '" + StorageTypeName(ST(s)) + "' to '" +
                                     StorageTypeName(ST(t)) + "' - Native error: 30052");
        }
      }
    }
  }
}

TEST(ConvertValue, ResultBufferComesFromEngineMemory) {
  const std::int32_t v = -42;
  const std::int64_t before = EngineMemoryManager.AllocatedSize();
  TABSValueBuffer r = ConvertValue(&v, 4, stInteger, stString);
  EXPECT_EQ(r.Size, 4);
  EXPECT_EQ(EngineMemoryManager.GetMemSize(r.Buffer), 4);
  EXPECT_STREQ(static_cast<const char*>(r.Buffer), "-42");
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), before + 4);
  EngineMemoryManager.FreeAndNillMem(r.Buffer);
}

TEST(ConvertValue, BadBuffersRaiseInsteadOfReading) {
  TABSConvertedValue out;
  EXPECT_ENGINE_ERROR(ConvertValueInto(nullptr, -1, stInteger, stDouble, out), 30476,
                      "Nil pointer occured - Native error: 30476");
  EXPECT_ENGINE_ERROR(ConvertValue(nullptr, -1, stString, stInteger), 30476,
                      "Nil pointer occured - Native error: 30476");
}

// --- from text ---

class ConvertText : public GermanLocaleTest {};

TEST_F(ConvertText, TextThatDoesNotParseRaises30051WithBothNames) {
  EXPECT_ENGINE_ERROR(FromAnsi("12x", stInteger), 30051,
                      "Cannot cast from 'STRING' to 'INTEGER' - Native error: 30051");
  EXPECT_ENGINE_ERROR(FromWide(u"abc", stDouble), 30051,
                      "Cannot cast from 'WIDESTRING' to 'FLOAT' - Native error: 30051");
  EXPECT_ENGINE_ERROR(FromAnsi("2014-02-30", stDate, stChar), 30051,
                      "Cannot cast from 'CHAR' to 'DATE' - Native error: 30051");
}

TEST_F(ConvertText, IntegersUseThe32BitParserAndKeepTheTargetWidth) {
  EXPECT_EQ(Fixed<std::int32_t>(FromAnsi("-17", stInteger)), -17);
  EXPECT_EQ(Fixed<std::uint8_t>(FromAnsi("300", stByte)), 44);
  EXPECT_EQ(Fixed<std::int64_t>(FromAnsi("5000000000", stLargeint)), 5000000000LL);
  EXPECT_EQ(Fixed<std::int64_t>(FromWide(u"-5000000000", stLargeint)), -5000000000LL);
  // Memo text goes through the 32-bit parser even for a 64-bit target.
  const std::string memo = "5000000000";
  TABSConvertedValue out;
  EXPECT_ENGINE_ERROR(ConvertValueInto(memo.data(), 10, stMemo, stLargeint, out), 30051,
                      "Cannot cast from 'MEMO' to 'LARGEINT' - Native error: 30051");
  ConvertValueInto("123", 3, stMemo, stLargeint, out);
  EXPECT_EQ(Fixed<std::int64_t>(out), 123);
  EXPECT_ENGINE_ERROR(FromAnsi("5000000000", stInteger), 30051,
                      "Cannot cast from 'STRING' to 'INTEGER' - Native error: 30051");
}

TEST_F(ConvertText, FloatsAlwaysReadAPointWhateverTheLocale) {
  EXPECT_EQ(Fixed<double>(FromAnsi("1.5", stDouble)), 1.5);
  EXPECT_EQ(Fixed<float>(FromAnsi("-2.25", stSingle)), -2.25f);
  TABSConvertedValue ext = FromWide(u"0.5", stExtended);
  EXPECT_EQ(LoadExtended(ext.Data()), 0.5L);
  // Extended targets keep the digits an extended can hold, not a double's.
  EXPECT_EQ(LoadExtended(FromAnsi("0.1", stExtended).Data()), 0.1L);
  EXPECT_EQ(LoadExtended(FromAnsi(" +12.345e-1 ", stExtended).Data()), 1.2345L);
  EXPECT_EQ(LoadExtended(FromAnsi("-.1", stExtended).Data()), -0.1L);
  EXPECT_ENGINE_ERROR(FromAnsi("1,5", stDouble), 30051,
                      "Cannot cast from 'STRING' to 'FLOAT' - Native error: 30051");
  {
    ScopedUserLocale english("en_US.UTF-8");
    EXPECT_EQ(Fixed<double>(FromAnsi("1.5", stDouble)), 1.5);
  }
  // Too large for a single: infinity, not an undefined conversion.
  EXPECT_TRUE(std::isinf(Fixed<float>(FromAnsi("1e300", stSingle))));
  // Currency text follows the locale.
  EXPECT_EQ(Fixed<double>(FromAnsi("1234,5", stCurrency)), 1234.5);
}

// Parsing a float must not switch any process-wide separator: threads that
// format numbers meanwhile keep seeing the locale's comma.
TEST_F(ConvertText, ParsingFloatsNeverDisturbsOtherThreadsFormatting) {
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::thread formatter([&] {
    while (!stop.load()) {
      const double v = 1.5;
      TABSConvertedValue out;
      ConvertValueInto(&v, 8, stDouble, stString, out);
      if (AnsiOf(out) != "1,5") ++wrong;
    }
  });
  for (int i = 0; i < 20000; ++i) {
    ASSERT_EQ(Fixed<double>(FromAnsi("2.5", stDouble)), 2.5);
  }
  stop = true;
  formatter.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(platform::FormatSettings::User().DecimalSeparator(), ",");
}

TEST_F(ConvertText, LogicalIsTrueOnlyForOneOrTrueInAnyCase) {
  for (const char* t : {"TRUE", "true", "True", "1"}) {
    EXPECT_EQ(Fixed<std::int16_t>(FromAnsi(t, stLogical)), -1) << t;
  }
  for (const char* t : {"yes", "0", "2", " true", "wahr"}) {
    EXPECT_EQ(Fixed<std::int16_t>(FromAnsi(t, stLogical)), 0) << t;
  }
  EXPECT_EQ(Fixed<std::int16_t>(FromWide(u"tRuE", stLogical)), -1);
}

TEST_F(ConvertText, AnsiDatesTakeTheFixedShapesFirstOtherTextTheLocale) {
  EXPECT_EQ(Fixed<std::int32_t>(FromAnsi("2014-06-17", stDate)), 735401);
  EXPECT_EQ(Fixed<std::int32_t>(FromAnsi("2014 06 17", stDate, stChar)), 735401);
  EXPECT_EQ(Fixed<std::int32_t>(FromAnsi("17.06.2014", stDate)), 735401);
  EXPECT_EQ(Fixed<std::int32_t>(FromWide(u"17.06.2014", stDate)), 735401);
  // Wide text knows only the locale's shape.
  EXPECT_ENGINE_ERROR(FromWide(u"2014-06-17", stDate), 30051,
                      "Cannot cast from 'WIDESTRING' to 'DATE' - Native error: 30051");
  EXPECT_EQ(Fixed<std::int32_t>(FromAnsi("08:15:42", stTime)), 29742000);
  const Stamp s = Fixed<Stamp>(FromAnsi("2014-06-17 08:15:42", stDateTime));
  EXPECT_EQ(s.day, 735401);
  EXPECT_EQ(s.ms, 29742000);
  const Stamp d = Fixed<Stamp>(FromAnsi("2014-06-17", stDateTime));
  EXPECT_EQ(d.day, 735401);
  EXPECT_EQ(d.ms, 0);
  EXPECT_ENGINE_ERROR(FromAnsi("2014-6-17", stDate), 30051,
                      "Cannot cast from 'STRING' to 'DATE' - Native error: 30051");
}

TEST_F(ConvertText, TextToTextAndBlobKeepsTheCharactersAndATerminator) {
  EXPECT_EQ(WideOf(FromAnsi("Gr\xfc\xdf\x80", stWideString)), u"Grüß€");
  EXPECT_EQ(AnsiOf(FromWide(u"Grüß€Ω", stChar)), "Gr\xfc\xdf\x80?");
  TABSConvertedValue blob = FromAnsi("abc", stBlob);
  EXPECT_EQ(blob.Size(), 4);
  EXPECT_EQ(WideOf(FromWide(u"ab", stBlob)), u"ab");
  // A memo of known size keeps all its bytes and gains a terminator.
  TABSConvertedValue out;
  ConvertValueInto("abcdef", 3, stMemo, stString, out);
  EXPECT_EQ(AnsiOf(out), "abc");
  const char16_t wideMemo[] = u"xyz";
  ConvertValueInto(wideMemo, 4, stWideMemo, stChar, out);
  EXPECT_EQ(AnsiOf(out), "xy");
  // A text buffer of known size is never read past its end.
  const char unterminated[3] = {'1', '2', '3'};
  ConvertValueInto(unterminated, 2, stString, stInteger, out);
  EXPECT_EQ(Fixed<std::int32_t>(out), 12);
}

TEST_F(ConvertText, AMillionCharactersConvertSafely) {
  const std::string big(1000000, '7');
  EXPECT_EQ(WideOf(FromAnsi(big, stWideString)).size(), 1000000u);
  EXPECT_ENGINE_ERROR(FromAnsi(big, stInteger), 30051,
                      "Cannot cast from 'STRING' to 'INTEGER' - Native error: 30051");
  EXPECT_ENGINE_ERROR(FromAnsi(big, stDouble), 30051,
                      "Cannot cast from 'STRING' to 'FLOAT' - Native error: 30051");
  EXPECT_EQ(Fixed<std::int16_t>(FromAnsi(big, stLogical)), 0);
}

// --- from numbers, dates and logical values ---

class ConvertNumber : public GermanLocaleTest {};

TEST_F(ConvertNumber, IntegersSignOrZeroExtendAndDropHighBits) {
  EXPECT_EQ((ConvertFixed<std::uint8_t, std::int32_t>(300, stInteger, stByte)), 44);
  EXPECT_EQ((ConvertFixed<std::uint32_t, std::int32_t>(-1, stInteger, stCardinal)), 4294967295u);
  EXPECT_EQ((ConvertFixed<std::int64_t, std::uint32_t>(4294967295u, stCardinal, stLargeint)),
            4294967295LL);
  EXPECT_EQ((ConvertFixed<std::int64_t, std::int8_t>(-1, stShortint, stLargeint)), -1);
  EXPECT_EQ((ConvertFixed<std::int16_t, std::uint16_t>(65535, stWord, stSmallint)), -1);
  EXPECT_EQ((ConvertFixed<double, std::int64_t>(-3, stLargeint, stCurrency)), -3.0);
  EXPECT_EQ((ConvertFixed<std::int16_t, std::int32_t>(7, stInteger, stLogical)), -1);
  EXPECT_EQ((ConvertFixed<std::int16_t, std::int32_t>(0, stInteger, stLogical)), 0);
  EXPECT_EQ(AnsiOf([] {
              const std::int64_t v = std::numeric_limits<std::int64_t>::min();
              TABSConvertedValue o;
              ConvertValueInto(&v, 8, stLargeint, stString, o);
              return o;
            }()),
            "-9223372036854775808");
}

TEST_F(ConvertNumber, FloatsTruncateTowardZeroAndRefuseWhatDoesNotFit) {
  EXPECT_EQ((ConvertFixed<std::int32_t, double>(-2.7, stDouble, stInteger)), -2);
  EXPECT_EQ((ConvertFixed<std::uint8_t, double>(257.9, stDouble, stByte)), 1);
  EXPECT_EQ((ConvertFixed<std::int32_t, double>(86400001.9, stDouble, stTime)), 1);
  EXPECT_EQ((ConvertFixed<std::int32_t, float>(735401.75f, stSingle, stDate)), 735401);
  const Stamp s = ConvertFixed<Stamp, double>(735401.25, stDouble, stDateTime);
  EXPECT_EQ(s.day, 735401);
  EXPECT_EQ(s.ms, 21600000);
  for (double bad : {1e30, std::nan(""), std::numeric_limits<double>::infinity()}) {
    EXPECT_ENGINE_ERROR((ConvertFixed<std::int32_t, double>(bad, stDouble, stInteger)), 30051,
                        "Cannot cast from 'FLOAT' to 'INTEGER' - Native error: 30051");
  }
  EXPECT_ENGINE_ERROR((ConvertFixed<std::int32_t, double>(3e9, stDouble, stDate)), 30051,
                      "Cannot cast from 'FLOAT' to 'DATE' - Native error: 30051");
  EXPECT_TRUE(std::isinf((ConvertFixed<float, double>(1e300, stDouble, stSingle))));
  // Currency and double exchange their 8 bytes.
  EXPECT_EQ((ConvertFixed<double, double>(1234.56, stCurrency, stDouble)), 1234.56);
  // NaN is not zero.
  EXPECT_EQ((ConvertFixed<std::int16_t, double>(std::nan(""), stDouble, stLogical)), -1);
}

TEST_F(ConvertNumber, NumbersBecomeLocaleTexts) {
  EXPECT_EQ(AnsiOf([] {
              const double v = 1.5;
              TABSConvertedValue o;
              ConvertValueInto(&v, 8, stDouble, stString, o);
              return o;
            }()),
            "1,5");
  TABSConvertedValue o;
  const double c = 1234.56789;
  ConvertValueInto(&c, 8, stCurrency, stWideString, o);
  EXPECT_EQ(WideOf(o), u"1234,5679");
  const double nan = std::nan("");
  ConvertValueInto(&nan, 8, stDouble, stString, o);
  EXPECT_EQ(AnsiOf(o), "NAN");
  // Extended values beyond a double's range keep their own digits.
  unsigned char ext[ExtendedSize];
  StoreExtended(ext, 1.5e4000L);
  ConvertValueInto(ext, ExtendedSize, stExtended, stString, o);
  EXPECT_EQ(AnsiOf(o), "1,5E4000");
  StoreExtended(ext, -1e-4000L);
  ConvertValueInto(ext, ExtendedSize, stExtended, stWideString, o);
  EXPECT_EQ(WideOf(o), u"-1E-4000");
  StoreExtended(ext, 0.25L);
  ConvertValueInto(ext, ExtendedSize, stExtended, stString, o);
  EXPECT_EQ(AnsiOf(o), "0,25");
  const std::int16_t t = -1;
  ConvertValueInto(&t, 2, stLogical, stString, o);
  EXPECT_EQ(AnsiOf(o), "True");
  const std::int16_t f = 0;
  ConvertValueInto(&f, 2, stLogical, stWideChar, o);
  EXPECT_EQ(WideOf(o), u"False");
  EXPECT_EQ((ConvertFixed<std::int32_t, std::int16_t>(-1, stLogical, stInteger)), 1);
  EXPECT_EQ((ConvertFixed<double, std::int16_t>(-1, stLogical, stDouble)), 1.0);
}

TEST_F(ConvertNumber, DatesAndTimesBecomeNumbersTextsAndEachOther) {
  EXPECT_EQ(Fixed<double>(FromStamp(735401, 43200000, stDouble)), 735401.5);
  EXPECT_EQ(Fixed<float>(FromStamp(735401, 43200000, stSingle)), 735401.5f);
  EXPECT_EQ(LoadExtended(FromStamp(735401, 43200000, stExtended).Data()), 735401.5L);
  EXPECT_EQ(Fixed<double>(FromStamp(735401, 1, stCurrency)), 735401.0);
  EXPECT_EQ(Fixed<std::int32_t>(FromStamp(735401, 43200000, stInteger)), 735401);
  EXPECT_EQ(Fixed<std::int32_t>(FromStamp(735401, 43200000, stTime)), 43200000);
  EXPECT_EQ((ConvertFixed<std::int32_t, std::int32_t>(86400005, stDate, stTime)), 5);
  const Stamp fromTime = ConvertFixed<Stamp, std::int32_t>(1000, stTime, stDateTime);
  EXPECT_EQ(fromTime.day, EmptyDayNumber);
  EXPECT_EQ(fromTime.ms, 1000);
  EXPECT_EQ((ConvertFixed<std::int16_t, std::int32_t>(EmptyDayNumber, stDate, stLogical)), 0);
  EXPECT_EQ((ConvertFixed<std::int16_t, std::int32_t>(0, stTime, stLogical)), 0);
  EXPECT_EQ(Fixed<std::int16_t>(FromStamp(EmptyDayNumber, 1, stLogical)), -1);

  EXPECT_EQ(AnsiOf(FromStamp(735401, 43200000, stString)), "17.06.2014 12:00:00");
  EXPECT_EQ(AnsiOf(FromStamp(735401, 0, stString)), "17.06.2014");
  EXPECT_EQ(AnsiOf(FromStamp(EmptyDayNumber, 0, stString)), "");
  // A time carried in a date-time shows just the time, not a bogus date.
  EXPECT_EQ(AnsiOf(FromStamp(EmptyDayNumber, 43200000, stString)), "12:00:00");
  TABSConvertedValue o;
  const std::int32_t empty = EmptyDayNumber;
  ConvertValueInto(&empty, 4, stDate, stString, o);
  EXPECT_EQ(AnsiOf(o), "");
  const std::int32_t midnight = 0;
  ConvertValueInto(&midnight, 4, stTime, stWideString, o);
  EXPECT_EQ(WideOf(o), u"");
  const std::int32_t day = 735401;
  ConvertValueInto(&day, 4, stDate, stWideString, o);
  EXPECT_EQ(WideOf(o), u"17.06.2014");
}

TEST(ConvertValue, ShortFixedSizeSourcesAreRefused) {
  const std::int16_t small = 1;
  TABSConvertedValue o;
  EXPECT_ENGINE_ERROR(ConvertValueInto(&small, 2, stInteger, stDouble, o), 30477,
                      "Invalid buffer size = 2 for type 'INTEGER' - Native error: 30477");
}

// --- the common-type table ---

TEST(ResultStorageType, IsAsymmetricWhereTheLeftOperandDecides) {
  EXPECT_EQ(ResultStorageType(stShortint, stWord, false), stWord);
  EXPECT_EQ(ResultStorageType(stWord, stShortint, false), stInteger);
  EXPECT_EQ(ResultStorageType(stByte, stShortint, false), stSmallint);
  EXPECT_EQ(ResultStorageType(stInteger, stCardinal, false), stLargeint);
  EXPECT_EQ(ResultStorageType(stInteger, stWord, false), stInteger);
  EXPECT_EQ(ResultStorageType(stCurrency, stSingle, false), stSingle);
  EXPECT_EQ(ResultStorageType(stSingle, stCurrency, false), stCurrency);
  EXPECT_EQ(ResultStorageType(stString, stWideMemo, false), stWideString);
  EXPECT_EQ(ResultStorageType(stChar, stWideMemo, false), stWideChar);
  EXPECT_EQ(ResultStorageType(stWideMemo, stString, false), stWideString);
  EXPECT_EQ(ResultStorageType(stDate, stTime, false), stDateTime);
  EXPECT_EQ(ResultStorageType(stLogical, stDate, false), stNone);
  EXPECT_EQ(ResultStorageType(stMemo, stMemo, false), stChar);
  EXPECT_EQ(ResultStorageType(stBlob, stBlob, false), stNone);
}

TEST(ResultStorageType, ComparisonTurnsTextMeetingDatesIntoTheDateType) {
  for (int text = 1; text <= 4; ++text) {
    for (int date = 15; date <= 17; ++date) {
      EXPECT_EQ(ResultStorageType(ST(text), ST(date), true), date);
      EXPECT_EQ(ResultStorageType(ST(date), ST(text), true), date);
      EXPECT_EQ(ResultStorageType(ST(text), ST(date), false), text);
      EXPECT_EQ(ResultStorageType(ST(date), ST(text), false), text);
    }
  }
  EXPECT_EQ(ResultStorageType(stMemo, stDate, true), stNone);
  EXPECT_EQ(ResultStorageType(stInteger, stString, true), stString);
}

TEST(ResultStorageType, OutOfRangeTypesMeetNothing) {
  for (int t = 0; t <= 26; ++t) {
    for (int flag = 0; flag <= 1; ++flag) {
      EXPECT_EQ(ResultStorageType(stNone, ST(t), flag), stNone);
      EXPECT_EQ(ResultStorageType(ST(t), ST(25), flag), stNone);
      EXPECT_EQ(ResultStorageType(ST(255), ST(t), flag), stNone);
    }
  }
}

// Every common type must be one both operands can be converted into, or the
// arithmetic and comparisons built on it would fail.
TEST(ResultStorageType, EveryCommonTypeIsReachableFromBothOperands) {
  for (int a = 1; a <= 24; ++a) {
    for (int b = 1; b <= 24; ++b) {
      for (int flag = 0; flag <= 1; ++flag) {
        const int t = ResultStorageType(ST(a), ST(b), flag);
        if (t == 0) continue;
        EXPECT_TRUE(a == t || ExpectedSupported(a, t)) << a << "," << b << " -> " << t;
        EXPECT_TRUE(b == t || ExpectedSupported(b, t)) << a << "," << b << " -> " << t;
      }
    }
  }
}

// --- comparison of bare values ---

namespace {

std::uint8_t Cmp(const void* a, int ta, const void* b, int tb, std::int32_t length = -1,
                 bool ignoreCase = false) {
  return CompareValues(a, b, ST(ta), UserDefaultLocale, ignoreCase, length, false, false, ST(tb));
}

}  // namespace

class CompareValuesTest : public GermanLocaleTest {};

TEST_F(CompareValuesTest, NullsAreReportedBeforeAnythingElse) {
  const std::int32_t one = 1;
  EXPECT_EQ(CompareValues(nullptr, &one, stBlob, 0, false, -1, false, true, stInteger),
            cvFirstNull);
  EXPECT_EQ(CompareValues(&one, nullptr, stInteger, 0, false, -1, true, false, stBlob),
            cvSecondNull);
  EXPECT_EQ(CompareValues(nullptr, nullptr, ST(99), 0, false, -1, true, true, ST(98)), cvBothNull);
  EXPECT_EQ(CompareValuesSigned(nullptr, &one, stInteger, 0, false, -1, false, true, stInteger),
            -1);
  EXPECT_EQ(CompareValuesSigned(&one, nullptr, stInteger, 0, false, -1, true, false, stInteger), 1);
  EXPECT_EQ(CompareValuesSigned(nullptr, nullptr, stInteger, 0, false, -1, true, true, stInteger),
            0);
  EXPECT_ENGINE_ERROR(Cmp(nullptr, stInteger, &one, stInteger), 30140,
                      "Value is Null - Native error: 30140");
  EXPECT_ENGINE_ERROR(Cmp(&one, stInteger, nullptr, stString), 30140,
                      "Value is Null - Native error: 30140");
}

TEST_F(CompareValuesTest, NumbersCompareBySignednessOfTheirType) {
  const std::int32_t a = -1, b = 2;
  EXPECT_EQ(Cmp(&a, stInteger, &b, stInteger), cvLess);
  EXPECT_EQ(Cmp(&b, stInteger, &a, stInteger), cvGreater);
  const std::uint32_t big = 4000000000u, small = 1;
  EXPECT_EQ(Cmp(&big, stCardinal, &small, stCardinal), cvGreater);
  const std::int64_t l1 = std::numeric_limits<std::int64_t>::min(), l2 = 0;
  EXPECT_EQ(Cmp(&l1, stLargeint, &l2, stLargeint), cvLess);
  EXPECT_EQ(CompareValuesSigned(&l2, &l1, stLargeint, 0, false, -1, false, false, stLargeint), 1);
  const std::uint8_t byte = 200;
  const std::int8_t neg = -1;
  EXPECT_EQ(Cmp(&byte, stByte, &neg, stShortint), cvGreater);
  const double nan = std::nan(""), x = 1;
  EXPECT_EQ(Cmp(&nan, stDouble, &x, stDouble), cvEqual);
  EXPECT_EQ(Cmp(&x, stCurrency, &nan, stCurrency), cvEqual);
  const double half = 0.5;
  const std::int32_t zero = 0;
  EXPECT_EQ(Cmp(&half, stDouble, &zero, stInteger), cvGreater);
  const std::int16_t t = -1, t2 = 5, f = 0;
  EXPECT_EQ(Cmp(&t, stLogical, &t2, stLogical), cvEqual);
  EXPECT_EQ(Cmp(&f, stLogical, &t, stLogical), cvLess);
}

TEST_F(CompareValuesTest, DateTimesOrderByDayThenTime) {
  const Stamp a{10, 5}, b{10, 6}, c{9, 80000000};
  EXPECT_EQ(Cmp(&a, stDateTime, &b, stDateTime), cvLess);
  EXPECT_EQ(Cmp(&a, stDateTime, &c, stDateTime), cvGreater);
  // Text meeting a date is read as a date.
  const std::int32_t day = 735401;
  EXPECT_EQ(Cmp("2014-06-17", stString, &day, stDate), cvEqual);
  EXPECT_EQ(Cmp(&day, stDate, "2014-06-18", stString), cvLess);
}

TEST_F(CompareValuesTest, MixedIntegerAndTextCompareAsText) {
  const std::int32_t five = 5;
  EXPECT_EQ(Cmp(&five, stInteger, "10", stString), cvGreater);
  EXPECT_EQ(Cmp("10", stString, &five, stInteger), cvLess);
}

TEST_F(CompareValuesTest, TextUsesTheCollatorPrefixesAndIgnoreCase) {
  EXPECT_EQ(Cmp("abc", stString, "abd", stString), cvLess);
  EXPECT_EQ(Cmp("abc", stString, "ABC", stString), cvLess);
  EXPECT_EQ(Cmp("abc", stString, "ABC", stString, -1, true), cvEqual);
  EXPECT_EQ(Cmp("abcdef", stString, "abc", stString, 3), cvEqual);
  EXPECT_EQ(Cmp("abcdef", stString, "abd", stString, 3), cvLess);
  EXPECT_EQ(Cmp("ab", stString, "abc", stString, 3), cvLess);
  // The collator, not the byte order: ä sorts next to a, before b.
  EXPECT_EQ(Cmp("\xe4", stChar, "b", stChar), cvLess);
  const char16_t w1[] = u"Straße", w2[] = u"STRASSE";
  EXPECT_NE(Cmp(w1, stWideString, w2, stWideString), cvEqual);
  EXPECT_EQ(Cmp(u"Äpfel", stWideString, u"äPFEL", stWideString, -1, true), cvEqual);
  EXPECT_EQ(Cmp(u"Äpfelbaum", stWideString, "\xc4pfel", stString, 5), cvEqual);
  // Two memos meet as text; their sizes bound the bytes.
  EXPECT_EQ(CompareValues("abX", "abY", stMemo, 0, false, -1, false, false, stMemo, 2, 2), cvEqual);
}

TEST_F(CompareValuesTest, TypesWithoutOrderOrCommonTypeRaise) {
  const std::int32_t one = 1;
  EXPECT_ENGINE_ERROR(
      Cmp("x", stBlob, &one, stInteger), 30044,
      "Cannot compare Incompatible DataTypes: 'BLOB' and 'INTEGER' - Native error: 30044");
  EXPECT_ENGINE_ERROR(Cmp("x", stBlob, "y", stBlob), 30047,
                      "Unknown DataType: 'BLOB' - Native error: 30047");
  EXPECT_ENGINE_ERROR(Cmp("x", stVarBytes, "y", stVarBytes), 30047,
                      "Unknown DataType: 'VARBYTES' - Native error: 30047");
  EXPECT_ENGINE_ERROR(Cmp(&one, ST(0), &one, ST(0)), 30047,
                      "Unknown DataType: 'Unknown' - Native error: 30047");
  EXPECT_ENGINE_ERROR(
      Cmp(&one, ST(30), &one, stInteger), 30044,
      "Cannot compare Incompatible DataTypes: 'Unknown' and 'INTEGER' - Native error: 30044");
  // Bytes compare as text up to their terminator.
  EXPECT_EQ(Cmp("a\0b", stBytes, "a\0c", stBytes), cvEqual);
}

TEST_F(CompareValuesTest, ShortBuffersAreRefusedOnBothPaths) {
  const std::int16_t small = 1;
  EXPECT_ENGINE_ERROR(
      CompareValues(&small, &small, stInteger, 0, false, -1, false, false, stInteger, 2, 2), 30478,
      "Invalid buffer size = 2 for type 'INTEGER' - Native error: 30478");
  // Of mixed types, the side already of the common type is read unconverted.
  EXPECT_ENGINE_ERROR(
      CompareValues(&small, &small, stInteger, 0, false, -1, false, false, stSmallint, 2, 2), 30478,
      "Invalid buffer size = 2 for type 'INTEGER' - Native error: 30478");
  EXPECT_ENGINE_ERROR(
      CompareValues(&small, &small, stSmallint, 0, false, -1, false, false, stInteger, 2, 2), 30478,
      "Invalid buffer size = 2 for type 'INTEGER' - Native error: 30478");
  const std::int32_t whole = 1;
  EXPECT_EQ(CompareValues(&small, &whole, stSmallint, 0, false, -1, false, false, stInteger, 2, 4),
            cvEqual);
}
