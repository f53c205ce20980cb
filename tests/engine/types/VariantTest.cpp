// The typed engine value: state, setters and getters, casts, arithmetic,
// comparison and the exchange with the platform's variant.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/memory/ABSMemory.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/types/ValueTestSupport.h"

using platform::PlatformVariant;
using platform::VariantKind;

class VariantTest : public GermanLocaleTest {};

TEST_F(VariantTest, FreshVariantIsNullAndOnlyTextGettersAnswer) {
  TABSVariant v(stInteger);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), stInteger);
  EXPECT_EQ(v.NullMark(), 255);
  EXPECT_EQ(v.DataSize(), 0);
  EXPECT_EQ(v.Data(), nullptr);
  EXPECT_ENGINE_ERROR(v.GetAsInteger(), 30016, "Value is Null - Native error: 30016");
  EXPECT_ENGINE_ERROR(v.GetAsDateTime(), 30016, "Value is Null - Native error: 30016");
  EXPECT_ENGINE_ERROR(v.CheckNotNull(), 30016, "Value is Null - Native error: 30016");
  EXPECT_EQ(v.GetAsString(), "");
  EXPECT_EQ(v.GetAsWideString(), u"");
  EXPECT_EQ(v.TextLength(), -1);
  EXPECT_ENGINE_ERROR(TABSVariant bad(ST(25)), 30468,
                      "Unknown DataType: '25' - Native error: 30468");
}

TEST_F(VariantTest, FirstSetterGivesTheTypeLaterSettersConvertIntoIt) {
  TABSVariant v;
  v.SetAsInteger(42);
  EXPECT_EQ(v.DataType(), stInteger);
  EXPECT_EQ(v.DataSize(), 4);
  EXPECT_EQ(v.NullMark(), 0);
  EXPECT_EQ(v.GetAsString(), "42");
  EXPECT_EQ(v.GetAsDouble(), 42.0);
  EXPECT_EQ(v.GetAsWideString(), u"42");

  TABSVariant d(stDouble);
  d.SetAsInteger(5);
  EXPECT_EQ(d.DataType(), stDouble);
  EXPECT_EQ(d.DataSize(), 8);
  double raw;
  std::memcpy(&raw, d.Data(), 8);
  EXPECT_EQ(raw, 5.0);

  TABSVariant s(stString);
  s.SetAsInteger(5);
  EXPECT_EQ(s.DataType(), stString);
  EXPECT_EQ(s.DataSize(), 2);
  EXPECT_STREQ(static_cast<const char*>(s.Data()), "5");

  TABSVariant c;
  c.SetAsCurrency(1234.5);
  std::memcpy(&raw, c.Data(), 8);
  EXPECT_EQ(raw, 1234.5);
  EXPECT_EQ(c.GetAsString(), "1234,5");
  EXPECT_EQ(c.GetAsVariant(), PlatformVariant::FromDouble(1234.5));
}

TEST_F(VariantTest, EmptyTextLeavesTheVariantNull) {
  TABSVariant v;
  v.SetAsString("");
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), stString);
  v.SetAsWideString(u"");
  EXPECT_TRUE(v.IsNull());
  TABSVariant i(stInteger);
  i.SetAsInteger(3);
  i.SetAsString("");
  EXPECT_TRUE(i.IsNull());
  EXPECT_EQ(i.DataType(), stInteger);
  v.SetValue(nullptr, stString);
  EXPECT_TRUE(v.IsNull());
}

TEST_F(VariantTest, FailedConversionLeavesNullOfTheOwnType) {
  TABSVariant v(stInteger);
  v.SetAsInteger(7);
  EXPECT_ENGINE_ERROR(v.SetAsString("seven"), 30051,
                      "Cannot cast from 'STRING' to 'INTEGER' - Native error: 30051");
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), stInteger);
}

TEST_F(VariantTest, CopyToChecksTheLimitAndSkipsEmptyText) {
  TABSVariant v;
  v.SetAsString("abc");
  EXPECT_EQ(v.DataSize(), 4);
  EXPECT_EQ(v.TextLength(), 3);
  char out[8] = "zzzzzzz";
  EXPECT_ENGINE_ERROR(v.CopyTo(out, 3), 20056, "Buffer size exceeded - Native error: 20056");
  EXPECT_STREQ(out, "zzzzzzz");
  EXPECT_TRUE(v.CopyTo(out, 4));
  EXPECT_STREQ(out, "abc");
  EXPECT_TRUE(v.CopyTo(out, -1));
  EXPECT_ENGINE_ERROR(v.CopyTo(nullptr, -1), 30466, "Nil pointer occured - Native error: 30466");

  TABSVariant empty;
  const char terminator = '\0';
  empty.SetBuffer(&terminator, 1, true, stString);
  EXPECT_FALSE(empty.CopyTo(out, -1));
  TABSVariant null(stInteger);
  EXPECT_FALSE(null.CopyTo(out, -1));
}

TEST_F(VariantTest, SetBufferCopiesIntoTheSameBufferOrReferences) {
  TABSVariant v;
  std::int32_t a = 11, b = 22;
  v.SetBuffer(&a, 4, true, stInteger);
  const void* first = v.Data();
  v.SetBuffer(&b, 4, true, stInteger);
  EXPECT_EQ(v.Data(), first);  // same size: no new allocation
  EXPECT_EQ(v.GetAsInteger(), 22);
  v.SetBuffer(&a, 4, false, stInteger);
  EXPECT_TRUE(v.IsReference());
  EXPECT_EQ(v.Data(), &a);
  a = 33;
  EXPECT_EQ(v.GetAsInteger(), 33);
  // Changing a referenced value never writes the caller's bytes.
  v.SetAsInteger(44);
  EXPECT_FALSE(v.IsReference());
  EXPECT_EQ(a, 33);
  v.Negate();
  EXPECT_EQ(v.GetAsInteger(), -44);

  // Copying a variant's own bytes into itself is safe, resized or not.
  TABSVariant s;
  s.SetAsString("hello");
  s.SetBuffer(s.Data(), 3, true, stString);
  EXPECT_EQ(std::memcmp(s.Data(), "hel", 3), 0);
  // Referencing its own bytes makes a copy instead of a dangling reference.
  s.SetBuffer(static_cast<const char*>(s.Data()) + 1, 2, false, stString);
  EXPECT_FALSE(s.IsReference());
  EXPECT_EQ(std::memcmp(s.Data(), "el", 2), 0);
}

TEST_F(VariantTest, SetBufferRefusesBadArguments) {
  TABSVariant v;
  const std::int32_t x = 1;
  EXPECT_ENGINE_ERROR(v.SetBuffer(nullptr, 4, true, stInteger), 30466,
                      "Nil pointer occured - Native error: 30466");
  EXPECT_ENGINE_ERROR(v.SetBuffer(&x, 0, true, stInteger), 30467,
                      "Invalid buffer size = 0 for type 'INTEGER' - Native error: 30467");
  EXPECT_ENGINE_ERROR(v.SetBuffer(&x, 2, true, stInteger), 30467,
                      "Invalid buffer size = 2 for type 'INTEGER' - Native error: 30467");
  EXPECT_ENGINE_ERROR(v.SetBuffer(&x, 4, true, ST(0)), 30468,
                      "Unknown DataType: '0' - Native error: 30468");
  EXPECT_ENGINE_ERROR(v.SetBuffer(&x, 4, false, ST(200)), 30468,
                      "Unknown DataType: '200' - Native error: 30468");
  EXPECT_TRUE(v.IsNull());
}

TEST_F(VariantTest, AssignCopiesOrReferences) {
  TABSVariant src;
  src.SetAsLargeint(-5);
  TABSVariant copy;
  copy.Assign(src, true);
  TABSVariant ref;
  ref.Assign(src, false);
  EXPECT_FALSE(copy.IsReference());
  EXPECT_NE(copy.Data(), src.Data());
  EXPECT_TRUE(ref.IsReference());
  EXPECT_EQ(ref.Data(), src.Data());
  src.SetAsLargeint(9);
  EXPECT_EQ(copy.GetAsLargeint(), -5);
  EXPECT_EQ(ref.GetAsLargeint(), 9);
  ref.Clear();  // must not free src's buffer

  TABSVariant null(stDate);
  copy.Assign(null, true);
  EXPECT_TRUE(copy.IsNull());
  EXPECT_EQ(copy.DataType(), stDate);
  copy.Assign(copy, true);
  EXPECT_TRUE(copy.IsNull());
}

TEST_F(VariantTest, TypedGettersConvertAndDatesGoThroughDayNumbers) {
  TABSVariant v;
  v.SetAsDate(41807.0);  // 2014-06-17
  EXPECT_EQ(v.DataType(), stDate);
  EXPECT_EQ(v.GetAsDayNumber(), 735401);
  EXPECT_EQ(v.GetAsString(), "17.06.2014");
  v.Clear();
  v.SetAsDateTime(41807.5);
  EXPECT_EQ(v.GetAsStamp().Date, 735401);
  EXPECT_EQ(v.GetAsStamp().Time, 43200000);
  EXPECT_EQ(v.GetAsDateTime(), 41807.5);
  EXPECT_EQ(v.GetAsDouble(), 735401.5);
  v.Clear();
  v.SetAsTime(0.25);
  EXPECT_EQ(v.GetAsMilliseconds(), 21600000);
  EXPECT_EQ(v.GetAsTime(), 0.25);
  // A time read as a date-time is the time of day without a date.
  EXPECT_EQ(v.GetAsDateTime(), 0.25);
  EXPECT_EQ(v.GetAsStamp().Date, EmptyDayNumber);
  v.Clear();
  v.SetAsExtended(1.0L / 3);
  EXPECT_EQ(v.DataSize(), 10);
  EXPECT_EQ(v.GetAsExtended(), 1.0L / 3);
  EXPECT_EQ(v.GetAsInteger(), 0);
  v.Clear();
  v.SetAsLogical(true);
  std::int16_t raw;
  std::memcpy(&raw, v.Data(), 2);
  EXPECT_EQ(raw, -1);
  EXPECT_TRUE(v.GetAsLogical());
  EXPECT_EQ(v.GetAsString(), "True");
  v.Clear();
  v.SetAsCardinal(4000000000u);
  EXPECT_EQ(v.GetAsLargeint(), 4000000000LL);
  EXPECT_EQ(v.GetAsByte(), static_cast<std::uint8_t>(4000000000u));
  EXPECT_EQ(v.GetAsWord(), static_cast<std::uint16_t>(4000000000u));
  EXPECT_EQ(v.GetAsSmallint(), static_cast<std::int16_t>(4000000000u));
  EXPECT_EQ(v.GetAsShortint(), static_cast<std::int8_t>(4000000000u));
  std::uint16_t word = 0;
  v.GetValue(&word, stWord);
  EXPECT_EQ(word, static_cast<std::uint16_t>(4000000000u));
  char text[16];
  EXPECT_ENGINE_ERROR(v.GetValue(text, stString), 30475,
                      "Cannot read a value of type 'STRING' into a fixed-size buffer - Native "
                      "error: 30475");
  EXPECT_ENGINE_ERROR(v.GetValue(nullptr, stWord), 30466,
                      "Nil pointer occured - Native error: 30466");
}

TEST_F(VariantTest, CastToConvertsOrLeavesTheValueAlone) {
  TABSVariant v;
  v.SetAsString("12");
  v.CastTo(stSmallint);
  EXPECT_EQ(v.DataType(), stSmallint);
  EXPECT_EQ(v.DataSize(), 2);
  EXPECT_EQ(v.GetAsSmallint(), 12);

  TABSVariant bad;
  bad.SetAsString("12x");
  EXPECT_ENGINE_ERROR(bad.CastTo(stInteger), 30051,
                      "Cannot cast from 'STRING' to 'INTEGER' - Native error: 30051");
  EXPECT_EQ(bad.DataType(), stString);
  EXPECT_EQ(bad.GetAsString(), "12x");

  TABSVariant null(stInteger);
  null.CastTo(stString);
  EXPECT_TRUE(null.IsNull());
  EXPECT_EQ(null.DataType(), stString);

  // A memo keeps its bytes and gains a terminator.
  TABSVariant memo;
  memo.SetBuffer("abc", 3, true, stMemo);
  memo.CastTo(stString);
  EXPECT_EQ(memo.DataSize(), 4);
  EXPECT_EQ(memo.GetAsString(), "abc");

  TABSVariant blob;
  blob.SetBuffer("xyz", 4, true, stBlob);
  EXPECT_ENGINE_ERROR(blob.CastTo(stString), 30052,
                      "Cannot cast from 'BLOB' to 'STRING' - Native error: 30052");
  EXPECT_EQ(blob.DataType(), stBlob);
}

TEST_F(VariantTest, ChangeTypeSwallowsFailures) {
  TABSVariant v;
  v.SetAsString("abc");
  v.ChangeType(stInteger);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), stInteger);
  EXPECT_EQ(v.Data(), nullptr);
  v.SetAsInteger(8);
  v.ChangeType(stDouble);
  EXPECT_EQ(v.GetAsDouble(), 8.0);
  TABSVariant null(stDate);
  null.ChangeType(stTime);
  EXPECT_EQ(null.DataType(), stTime);
}

TEST_F(VariantTest, NarrowWideStringOnlyWhenNothingIsLost) {
  TABSVariant v;
  v.SetAsWideString(u"Grüße €");
  v.NarrowWideString();
  EXPECT_EQ(v.DataType(), stString);
  EXPECT_EQ(v.GetAsString(),
            "Gr\xfc\xdf"
            "e \x80");
  EXPECT_EQ(v.TextLength(), 7);
  TABSVariant w(stWideChar);
  w.SetAsWideString(u"Ωmega");
  w.NarrowWideString();
  EXPECT_EQ(w.DataType(), stWideChar);
  EXPECT_EQ(w.TextLength(), 5);
  EXPECT_EQ(w.DataSize(), 12);
  // An empty wide field value (all terminators) narrows to an empty value.
  const char16_t field[4] = {};
  TABSVariant e;
  e.SetBuffer(field, sizeof field, true, stWideChar);
  e.NarrowWideString();
  EXPECT_FALSE(e.IsNull());
  EXPECT_EQ(e.DataType(), stString);
  EXPECT_EQ(e.DataSize(), 1);
  EXPECT_EQ(e.TextLength(), 0);
}

TEST_F(VariantTest, NegateWrapsAndInvertsAndRefusesTimes) {
  TABSVariant v;
  v.SetAsInteger(std::numeric_limits<std::int32_t>::min());
  v.Negate();
  EXPECT_EQ(v.GetAsInteger(), std::numeric_limits<std::int32_t>::min());
  v.Clear();
  v.SetAsLargeint(std::numeric_limits<std::int64_t>::min());
  v.Negate();
  EXPECT_EQ(v.GetAsLargeint(), std::numeric_limits<std::int64_t>::min());
  v.Clear();
  v.SetAsByte(1);
  v.Negate();
  EXPECT_EQ(v.GetAsByte(), 255);
  v.Clear();
  v.SetAsWord(2);
  v.Negate();
  EXPECT_EQ(v.GetAsWord(), 65534);
  v.Clear();
  v.SetAsCurrency(2.5);
  v.Negate();
  EXPECT_EQ(v.GetAsCurrency(), -2.5);
  v.Clear();
  v.SetAsExtended(1.5L);
  v.Negate();
  EXPECT_EQ(v.GetAsExtended(), -1.5L);
  v.Clear();
  v.SetAsDayNumber(10);
  v.Negate();
  EXPECT_EQ(v.GetAsDayNumber(), -10);
  v.Clear();
  v.SetAsLogical(false);
  v.Negate();
  EXPECT_TRUE(v.GetAsLogical());
  v.Negate();
  EXPECT_FALSE(v.GetAsLogical());
  v.Clear();
  v.SetAsMilliseconds(5);
  EXPECT_ENGINE_ERROR(v.Negate(), 30123,
                      "Cannot invert value with not numeric type 'TIME' - Native error: 30123");
  v.Clear();
  v.SetAsString("x");
  EXPECT_ENGINE_ERROR(v.Negate(), 30123,
                      "Cannot invert value with not numeric type 'STRING' - Native error: 30123");
  TABSVariant null(stInteger);
  null.Negate();
  EXPECT_TRUE(null.IsNull());
}

namespace {

TABSVariant Int(std::int32_t v) {
  TABSVariant r;
  r.SetAsInteger(v);
  return r;
}

TABSVariant Text(const char* s) {
  TABSVariant r;
  r.SetAsString(s);
  return r;
}

}  // namespace

TEST_F(VariantTest, AddWorksInTheCommonTypeAndWraps) {
  TABSVariant v = Int(std::numeric_limits<std::int32_t>::max());
  v.Add(Int(1));
  EXPECT_EQ(v.GetAsInteger(), std::numeric_limits<std::int32_t>::min());

  TABSVariant d = Int(2);
  TABSVariant half;
  half.SetAsDouble(0.5);
  d.Add(half);
  EXPECT_EQ(d.DataType(), stDouble);
  EXPECT_EQ(d.GetAsDouble(), 2.5);

  TABSVariant w;
  w.SetAsWord(65535);
  TABSVariant one;
  one.SetAsByte(1);
  w.Add(one);
  EXPECT_EQ(w.DataType(), stWord);
  EXPECT_EQ(w.GetAsWord(), 0);

  TABSVariant t = Text("ab");
  t.Add(Int(12));
  EXPECT_EQ(t.GetAsString(), "ab12");
  TABSVariant wide;
  wide.SetAsWideString(u"Ω");
  TABSVariant tail = Text("x");
  wide.Add(tail);
  EXPECT_EQ(wide.GetAsWideString(), u"Ωx");

  TABSVariant a, b;
  a.SetAsStamp({10, 86000000});
  b.SetAsStamp({0, 800000});
  a.Add(b);
  EXPECT_EQ(a.GetAsStamp().Date, 11);
  EXPECT_EQ(a.GetAsStamp().Time, 400000);

  // A date plus a time (either order) is that date at that time, carried
  // into the next day past midnight.
  TABSVariant date, time;
  date.SetAsDayNumber(735401);
  time.SetAsMilliseconds(1000);
  date.Add(time);
  EXPECT_EQ(date.DataType(), stDateTime);
  EXPECT_EQ(date.GetAsStamp().Date, 735401);
  EXPECT_EQ(date.GetAsStamp().Time, 1000);
  TABSVariant late, day;
  late.SetAsMilliseconds(86399000);
  day.SetAsStamp({735401, 2000});
  late.Add(day);
  EXPECT_EQ(late.GetAsStamp().Date, 735402);
  EXPECT_EQ(late.GetAsStamp().Time, 1000);

  TABSVariant f, tr;
  f.SetAsLogical(false);
  tr.SetAsLogical(true);
  f.Add(tr);
  EXPECT_TRUE(f.GetAsLogical());
}

TEST_F(VariantTest, AddFollowsTheNullRules) {
  TABSVariant text = Text("keep");
  TABSVariant null(stInteger);
  text.Add(null);
  EXPECT_EQ(text.GetAsString(), "keep");
  TABSVariant number = Int(3);
  number.Add(null);
  EXPECT_TRUE(number.IsNull());
  TABSVariant nullText(stString);
  nullText.Add(Int(4));
  EXPECT_EQ(nullText.DataType(), stInteger);
  EXPECT_EQ(nullText.GetAsInteger(), 4);
  TABSVariant nullNumber(stInteger);
  nullNumber.Add(Int(4));
  EXPECT_TRUE(nullNumber.IsNull());
  TABSVariant m = Int(2);
  m.Multiply(null);
  EXPECT_TRUE(m.IsNull());
  TABSVariant q = Int(2);
  q.Divide(null);
  EXPECT_TRUE(q.IsNull());
}

TEST_F(VariantTest, MultiplyAndDivideWrapTruncateAndReportErrors) {
  TABSVariant v = Int(65536);
  v.Multiply(Int(65536));
  EXPECT_EQ(v.GetAsInteger(), 0);
  TABSVariant s;
  s.SetAsShortint(-128);
  TABSVariant m1;
  m1.SetAsShortint(-1);
  s.Divide(m1);
  EXPECT_EQ(s.GetAsShortint(), -128);
  TABSVariant l;
  l.SetAsLargeint(std::numeric_limits<std::int64_t>::min());
  TABSVariant lm1;
  lm1.SetAsLargeint(-1);
  l.Divide(lm1);
  EXPECT_EQ(l.GetAsLargeint(), std::numeric_limits<std::int64_t>::min());
  l.Multiply(lm1);
  EXPECT_EQ(l.GetAsLargeint(), std::numeric_limits<std::int64_t>::min());
  TABSVariant q = Int(-7);
  q.Divide(Int(2));
  EXPECT_EQ(q.GetAsInteger(), -3);

  TABSVariant z = Int(7);
  EXPECT_ENGINE_ERROR(z.Divide(Int(0)), 30128,
                      "Division error: Division by zero - Native error: 30128");
  EXPECT_EQ(z.GetAsInteger(), 7);
  TABSVariant f;
  f.SetAsDouble(1);
  TABSVariant zero;
  zero.SetAsDouble(0);
  EXPECT_ENGINE_ERROR(f.Divide(zero), 30128,
                      "Division error: Floating point division by zero - Native error: 30128");
  f.SetAsDouble(0);
  EXPECT_ENGINE_ERROR(f.Divide(zero), 30128,
                      "Division error: Invalid floating point operation - Native error: 30128");
  TABSVariant dt, dt2;
  dt.SetAsStamp({10, 0});
  dt2.SetAsStamp({2, 0});
  EXPECT_ENGINE_ERROR(dt.Divide(dt2), 30128,
                      "Division error: Division by zero - Native error: 30128");

  TABSVariant t = Text("a");
  EXPECT_ENGINE_ERROR(t.Multiply(Text("b")), 30126,
                      "Not numeric argument in numeric operator '*' - Native error: 30126");
  EXPECT_ENGINE_ERROR(t.Divide(Text("b")), 30127,
                      "Not numeric argument in numeric operator '/' - Native error: 30127");
  TABSVariant blob;
  blob.SetBuffer("x", 2, true, stBlob);
  EXPECT_ENGINE_ERROR(blob.Add(Int(1)), 30052,
                      "Cannot cast from 'BLOB' to 'Unknown' - Native error: 30052");
  TABSVariant lg;
  lg.SetAsLogical(true);
  lg.Multiply(Int(0));
  EXPECT_EQ(lg.DataType(), stInteger);
  EXPECT_EQ(lg.GetAsInteger(), 0);
}

TEST_F(VariantTest, CompareFoldsNullsUnlessRawIsAsked) {
  TABSVariant null(stInteger), null2(stString);
  TABSVariant five = Int(5);
  EXPECT_EQ(null.Compare(five), 1);
  EXPECT_EQ(five.Compare(null), 2);
  EXPECT_EQ(null.Compare(null2), 0);
  EXPECT_EQ(null.Compare(five, true), 3);
  EXPECT_EQ(five.Compare(null, true), 4);
  EXPECT_EQ(null.Compare(null2, true), 5);
  EXPECT_EQ(five.Compare(Text("10")), 2);
  EXPECT_EQ(five.Compare(Int(6)), 1);
  EXPECT_EQ(Text("Apfelbaum").Compare(Text("apfel"), false, true, true), 0);
  EXPECT_EQ(Text("Apfelbaum").Compare(Text("apfel"), false, true, false), 2);
  EXPECT_EQ(Text("Apfelbaum").Compare(Text("apfel"), false, false, true), 2);
}

TEST_F(VariantTest, PlatformVariantsMapToTheirEngineTypes) {
  struct Case {
    PlatformVariant in;
    TABSStorageType type;
  };
  const Case cases[] = {
      {PlatformVariant::FromSmallint(-3), stSmallint},
      {PlatformVariant::FromInteger(-70000), stInteger},
      {PlatformVariant::FromSingle(1.5f), stSingle},
      {PlatformVariant::FromDouble(2.25), stDouble},
      {PlatformVariant::FromCurrency(12.3456), stCurrency},
      {PlatformVariant::FromDate(41807.5), stDateTime},
      {PlatformVariant::FromOleStr(u"wide"), stWideString},
      {PlatformVariant::FromUString(u"unicode"), stWideString},
      {PlatformVariant::FromAnsiString("ansi"), stString},
      {PlatformVariant::FromBoolean(true), stLogical},
      {PlatformVariant::FromShortInt(-8), stShortint},
      {PlatformVariant::FromByte(200), stByte},
      {PlatformVariant::FromWord(60000), stWord},
      {PlatformVariant::FromLongWord(4000000000u), stCardinal},
      {PlatformVariant::FromInt64(-5000000000LL), stLargeint},
  };
  for (const Case& c : cases) {
    TABSVariant v;
    v.SetAsVariant(c.in);
    EXPECT_EQ(v.DataType(), c.type) << c.in.KindCode();
    EXPECT_FALSE(v.IsNull());
  }
  TABSVariant cur;
  cur.SetAsVariant(PlatformVariant::FromCurrency(12.3456));
  EXPECT_EQ(cur.GetAsCurrency(), 12.3456);
  TABSVariant date;
  date.SetAsVariant(PlatformVariant::FromDate(41807.5));
  EXPECT_EQ(date.GetAsStamp().Date, 735401);

  TABSVariant v;
  v.SetAsInteger(1);
  v.SetAsVariant(PlatformVariant::Null());
  EXPECT_TRUE(v.IsNull());
  v.SetAsVariant(PlatformVariant());
  EXPECT_TRUE(v.IsNull());
  EXPECT_ENGINE_ERROR(v.SetAsVariant(PlatformVariant::FromUInt64(1)), 30113,
                      "Unsupported Variant Type 21 - Native error: 30113");
  EXPECT_ENGINE_ERROR(v.SetAsVariant(PlatformVariant::FromError(5)), 30113,
                      "Unsupported Variant Type 10 - Native error: 30113");
}

TEST_F(VariantTest, GetAsVariantGivesTheMatchingKind) {
  struct Case {
    void (*set)(TABSVariant&);
    PlatformVariant expected;
  };
  const Case cases[] = {
      {[](TABSVariant& v) { v.SetAsShortint(-1); }, PlatformVariant::FromShortInt(-1)},
      {[](TABSVariant& v) { v.SetAsWord(7); }, PlatformVariant::FromWord(7)},
      {[](TABSVariant& v) { v.SetAsCardinal(4000000000u); },
       PlatformVariant::FromLongWord(4000000000u)},
      {[](TABSVariant& v) { v.SetAsLargeint(-1); }, PlatformVariant::FromInt64(-1)},
      {[](TABSVariant& v) { v.SetAsSingle(0.5f); }, PlatformVariant::FromDouble(0.5)},
      {[](TABSVariant& v) { v.SetAsExtended(0.25L); }, PlatformVariant::FromDouble(0.25)},
      {[](TABSVariant& v) { v.SetAsMilliseconds(43200000); }, PlatformVariant::FromDate(0.5)},
      {[](TABSVariant& v) { v.SetAsDayNumber(735401); }, PlatformVariant::FromDate(41807)},
      {[](TABSVariant& v) { v.SetAsLogical(true); }, PlatformVariant::FromBoolean(true)},
      {[](TABSVariant& v) { v.SetAsWideString(u"ü"); }, PlatformVariant::FromOleStr(u"ü")},
      {[](TABSVariant& v) { v.SetAsString("x"); }, PlatformVariant::FromAnsiString("x")},
      {[](TABSVariant& v) { v.SetBuffer("bytes", 6, true, stBlob); },
       PlatformVariant::FromAnsiString("bytes")},
  };
  for (const Case& c : cases) {
    TABSVariant v;
    c.set(v);
    EXPECT_EQ(v.GetAsVariant(), c.expected) << c.expected.KindCode();
  }
  TABSVariant v;
  EXPECT_EQ(v.GetAsVariant().Kind(), VariantKind::Null);
  v.SetBuffer("memo", 4, true, stMemo);
  EXPECT_ENGINE_ERROR(v.GetAsVariant(), 30114,
                      "Unsupported Variant Type MEMO - Native error: 30114");
  v.SetBuffer("by", 3, true, stVarBytes);
  EXPECT_ENGINE_ERROR(v.GetAsVariant(), 30114,
                      "Unsupported Variant Type VARBYTES - Native error: 30114");
}

TEST_F(VariantTest, NoEngineMemoryOutlivesAVariant) {
  const std::int64_t before = EngineMemoryManager.AllocatedSize();
  {
    TABSVariant v;
    v.SetAsString("some text");
    TABSVariant moved(std::move(v));
    EXPECT_TRUE(v.IsNull());
    EXPECT_EQ(moved.GetAsString(), "some text");
    v = std::move(moved);
    EXPECT_EQ(v.GetAsString(), "some text");
    EXPECT_GT(EngineMemoryManager.AllocatedSize(), before);
  }
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), before);
}
