// The tagged stand-in for the platform's variant value.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/data/PlatformVariant.h"
#include "platform/os/Exception.h"

using platform::EConvertError;
using platform::PlatformVariant;
using platform::VariantKind;

TEST(PlatformVariant, KindsCarryTheirCodesAndValues) {
  EXPECT_EQ(PlatformVariant().KindCode(), 0);
  EXPECT_EQ(PlatformVariant::Null().KindCode(), 1);
  EXPECT_TRUE(PlatformVariant::Null().IsEmptyOrNull());
  EXPECT_EQ(PlatformVariant::FromAnsiString("a").KindCode(), 0x100);
  EXPECT_EQ(PlatformVariant::FromUString(u"a").KindCode(), 0x102);
  EXPECT_EQ(PlatformVariant::FromShortInt(-5).AsInt64(), -5);
  EXPECT_EQ(PlatformVariant::FromLongWord(4000000000u).AsInt64(), 4000000000LL);
  EXPECT_EQ(PlatformVariant::FromUInt64(std::numeric_limits<std::uint64_t>::max()).AsUInt64(),
            std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(PlatformVariant::FromSingle(0.5f).AsDouble(), 0.5);
  EXPECT_EQ(PlatformVariant::FromUString(u"ü").AsWide(), u"ü");
  EXPECT_NE(PlatformVariant::FromInteger(1), PlatformVariant::FromSmallint(1));
  EXPECT_NE(PlatformVariant::FromOleStr(u"a"), PlatformVariant::FromUString(u"a"));
}

TEST(PlatformVariant, CurrencyIsFixedPointWithFourDecimals) {
  EXPECT_EQ(PlatformVariant::FromCurrency(1.23456).CurrencyUnits(), 12346);
  EXPECT_EQ(PlatformVariant::FromCurrency(-0.00005).CurrencyUnits(), -1);
  EXPECT_EQ(PlatformVariant::FromCurrency(1234.5).AsDouble(), 1234.5);
  EXPECT_THROW(PlatformVariant::FromCurrency(1e300), EConvertError);
  EXPECT_THROW(PlatformVariant::FromCurrency(std::nan("")), EConvertError);
}

TEST(PlatformVariant, ReadingTheWrongKindIsAConversionError) {
  EXPECT_THROW(PlatformVariant::FromDouble(1).AsInt64(), EConvertError);
  EXPECT_THROW(PlatformVariant::FromInteger(-1).AsUInt64(), EConvertError);
  EXPECT_THROW(PlatformVariant::FromUInt64(std::numeric_limits<std::uint64_t>::max()).AsInt64(),
               EConvertError);
  EXPECT_THROW(PlatformVariant::FromAnsiString("x").AsWide(), EConvertError);
  EXPECT_THROW(PlatformVariant::FromOleStr(u"x").AsAnsi(), EConvertError);
  EXPECT_THROW(PlatformVariant().AsBoolean(), EConvertError);
  EXPECT_THROW(PlatformVariant::FromDouble(1).AsDate(), EConvertError);
}
