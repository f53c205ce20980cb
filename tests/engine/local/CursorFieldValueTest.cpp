#include <gtest/gtest.h>

#include <cstring>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/schema/ABSNullBits.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/local/TestCursor.h"

#include "engine/types/ABSVariant.h"

namespace {

// A cursor on (Jahr integer, Name string(4), Zins currency) whose logical
// list shows Zins first and Jahr second.
class CursorFieldValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TABSFieldDefs fields;
    fields.AddFieldDef("Jahr", dtInteger);
    fields.AddFieldDef("Name", dtString, 4);
    fields.AddFieldDef("Zins", dtCurrency);
    cursor.LayOut(fields);
    cursor.LogicalFieldDefs->MoveDef(2, 0);  // Zins, Jahr, Name
    (*cursor.LogicalFieldDefs)[0]->PhysicalFieldNo = 2;
    (*cursor.LogicalFieldDefs)[1]->PhysicalFieldNo = 0;
    (*cursor.LogicalFieldDefs)[2]->PhysicalFieldNo = 1;
    buffer = cursor.AllocRecordBuffer();
    buffer[0] = std::byte{0x07};  // every field NULL
    cursor.CurrentBuffer = buffer;
  }
  void TearDown() override { cursor.ReleaseRecordBuffer(buffer); }

  TestCursor cursor;
  std::byte* buffer = nullptr;
};

TEST_F(CursorFieldValueTest, WritesAndReadsThroughBothNumberings) {
  TABSVariant value;
  value.SetAsCurrency(1234.56);
  cursor.WriteFieldValue(nullptr, value, 0, false);  // logical 0 = Zins
  EXPECT_FALSE(IsNullBitSet(buffer, 2));
  double stored = 0;
  std::memcpy(&stored, buffer + 10, 8);  // 1 + 4 + 5
  EXPECT_EQ(stored, 1234.56);

  // An integer written into the currency field is converted; the caller's
  // value keeps its own type.
  TABSVariant whole;
  whole.SetAsInteger(7);
  cursor.WriteFieldValue(nullptr, whole, 2, true);
  std::memcpy(&stored, buffer + 10, 8);
  EXPECT_EQ(stored, 7.0);
  EXPECT_EQ(whole.DataType(), stInteger);

  TABSVariant read;
  cursor.ReadFieldValue(read, 0, false);
  EXPECT_EQ(read.DataType(), stCurrency);
  EXPECT_EQ(read.GetAsCurrency(), 7.0);
  cursor.ReadFieldValue(read, 1, false);  // Jahr is still NULL
  EXPECT_TRUE(read.IsNull());

  TABSVariant text;
  text.SetAsString("abc");
  cursor.WriteFieldValue(nullptr, text, 1, true);
  cursor.ReadFieldValue(read, 2, false);
  EXPECT_EQ(read.GetAsString(), "abc");

  TABSVariant null;
  cursor.WriteFieldValue(nullptr, null, 1, true);
  EXPECT_TRUE(IsNullBitSet(buffer, 1));
  EXPECT_FALSE(IsNullBitSet(buffer, 2));
}

TEST_F(CursorFieldValueTest, RefusedWritesLeaveTheFieldAsItWas) {
  TABSVariant text;
  text.SetAsString("abcd");
  cursor.WriteFieldValue(nullptr, text, 1, true);
  TABSVariant tooLong;
  tooLong.SetAsString("abcde");
  EXPECT_EQ(NativeErrorOf([&] { cursor.WriteFieldValue(nullptr, tooLong, 1, true); }), 20056);
  TABSVariant notANumber;
  notANumber.SetAsString("12x");
  EXPECT_EQ(NativeErrorOf([&] { cursor.WriteFieldValue(nullptr, notANumber, 0, true); }), 30051);
  EXPECT_TRUE(IsNullBitSet(buffer, 0));  // still NULL, not a stale value
  TABSVariant read;
  cursor.ReadFieldValue(read, 1, true);
  EXPECT_EQ(read.GetAsString(), "abcd");
}

TEST_F(CursorFieldValueTest, AnEmptyTextBecomesNullNotTheOldValue) {
  TABSVariant text;
  text.SetAsString("abcd");
  cursor.WriteFieldValue(nullptr, text, 1, true);
  TABSVariant empty;
  empty.SetBuffer("", 1, true, stString);  // a text value with no characters
  ASSERT_FALSE(empty.IsNull());
  cursor.WriteFieldValue(nullptr, empty, 1, true);
  EXPECT_TRUE(IsNullBitSet(buffer, 1));
  TABSVariant read;
  cursor.ReadFieldValue(read, 1, true);
  EXPECT_TRUE(read.IsNull());
}

TEST(CursorTextValueTest, ATextReadFromAWideFieldFitsANarrowerOne) {
  TABSFieldDefs fields;
  fields.AddFieldDef("Long", dtString, 30);
  fields.AddFieldDef("Short", dtString, 5);
  fields.AddFieldDef("WideLong", dtWideString, 30);
  fields.AddFieldDef("WideShort", dtWideString, 5);
  TestCursor cursor;
  cursor.LayOut(fields);
  std::byte* buffer = cursor.AllocRecordBuffer();
  cursor.CurrentBuffer = buffer;
  // Stale bytes after the terminator must not count as part of the text.
  std::memset(buffer + 1, 'x', 31);
  TABSVariant text;
  text.SetAsString("abc");
  cursor.WriteFieldValue(nullptr, text, 0, true);
  TABSVariant wide;
  wide.SetAsWideString(u"abc");
  cursor.WriteFieldValue(nullptr, wide, 2, true);

  for (std::int32_t from : {0, 2}) {
    TABSVariant read;
    cursor.ReadFieldValue(read, from, true);
    cursor.WriteFieldValue(nullptr, read, from + 1, true);
    TABSVariant copied;
    cursor.ReadFieldValue(copied, from + 1, true);
    EXPECT_EQ(copied.GetAsString(), "abc") << from;
  }
  // A text that does not fit is still refused.
  text.SetAsString("abcdef");
  cursor.WriteFieldValue(nullptr, text, 0, true);
  TABSVariant read;
  cursor.ReadFieldValue(read, 0, true);
  EXPECT_EQ(NativeErrorOf([&] { cursor.WriteFieldValue(nullptr, read, 1, true); }), 20056);
  cursor.ReleaseRecordBuffer(buffer);
}

TEST_F(CursorFieldValueTest, WritesIntoAGivenBuffer) {
  std::byte* other = cursor.AllocRecordBuffer();
  TABSVariant value;
  value.SetAsInteger(2027);
  cursor.WriteFieldValue(other, value, 0, true);
  std::int32_t year = 0;
  std::memcpy(&year, other + 1, 4);
  EXPECT_EQ(year, 2027);
  EXPECT_TRUE(IsNullBitSet(buffer, 0));  // CurrentBuffer untouched
  cursor.ReleaseRecordBuffer(other);
}

TEST_F(CursorFieldValueTest, FieldNumbersAndBuffersAreChecked) {
  TABSVariant value;
  value.SetAsInteger(1);
  EXPECT_EQ(NativeErrorOf([&] { cursor.ReadFieldValue(value, 3, true); }), 20191);
  EXPECT_EQ(NativeErrorOf([&] { cursor.ReadFieldValue(value, -1, false); }), 10317);
  EXPECT_EQ(NativeErrorOf([&] { cursor.WriteFieldValue(nullptr, value, 3, true); }), 20192);
  EXPECT_EQ(NativeErrorOf([&] { cursor.WriteFieldValue(nullptr, value, 3, false); }), 20193);
  try {
    cursor.ReadFieldValue(value, 5, true);
  } catch (const EABSException& e) {
    EXPECT_STREQ(e.what(),
                 "Invalid field number - FieldNo = 5, FieldCount = 3 - Native error: 20191");
  }
  // A logical entry mapped outside the physical fields is refused too.
  (*cursor.LogicalFieldDefs)[0]->PhysicalFieldNo = 9;
  EXPECT_EQ(NativeErrorOf([&] { cursor.ReadFieldValue(value, 0, false); }), 10317);
  cursor.CurrentBuffer = nullptr;
  EXPECT_EQ(NativeErrorOf([&] { cursor.ReadFieldValue(value, 1, true); }), 30480);
  EXPECT_EQ(NativeErrorOf([&] { cursor.WriteFieldValue(nullptr, value, 1, true); }), 30483);
}

}  // namespace
