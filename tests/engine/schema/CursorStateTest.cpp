#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/schema/ABSNullBits.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/local/TestCursor.h"

namespace {

// Lays `cursor` out for the plan table.
void LayOutPlan(TABSCursorState& cursor) {
  TABSFieldDefs defs;
  for (const char* name : {"Jahr", "Monat", "Tag"}) defs.AddFieldDef(name, dtInteger);
  for (const char* name : {"Darlehen", "Tilgung", "Zins"}) defs.AddFieldDef(name, dtCurrency);
  LayOutState(cursor, defs);
}

// The state stands without the cursor operations: the storage layer works on
// a TABSCursorState alone.
TEST(CursorStateTest, SizesOfThePlanTable) {
  TABSCursorState cursor;
  ASSERT_NE(cursor.PositionCache, nullptr);
  EXPECT_TRUE(cursor.PositionCache->IsEmpty());
  LayOutPlan(cursor);
  EXPECT_EQ(cursor.FirstFieldOffset, 1);
  EXPECT_EQ(cursor.DataSize(), 37);
  EXPECT_EQ(cursor.PositionOffset, 37);
  EXPECT_EQ(cursor.KeyInfoOffset, 37);
  EXPECT_EQ(cursor.KeyBufferSize, 43);
  EXPECT_EQ(cursor.BaseBufferSize, 44);
  EXPECT_EQ(cursor.CalcAreaOffset, 44);
  EXPECT_EQ(cursor.RecordBufferSize, 44);
  EXPECT_EQ((*cursor.PhysicalFieldDefs)[5]->MemoryOffset, 29);

  // Laying out again resets an enlarged record buffer size.
  cursor.RecordBufferSize = 60;
  cursor.ComputeBufferLayout();
  EXPECT_EQ(cursor.RecordBufferSize, 44);

  TABSCursorState empty;
  LayOutState(empty, TABSFieldDefs());
  EXPECT_EQ(empty.FirstFieldOffset, 0);
  EXPECT_EQ(empty.DataSize(), 0);
  EXPECT_EQ(empty.KeyBufferSize, 6);
  EXPECT_EQ(empty.BaseBufferSize, 7);

  // A data area that fits a signed 32-bit size while the whole buffer
  // would not is refused.
  TABSFieldDefs huge;
  huge.AddFieldDef("Text", dtString, INT32_MAX - 5);
  TABSCursorState tooLarge;
  EXPECT_EQ(NativeErrorOf([&] { LayOutState(tooLarge, huge); }), 30489);
}

TEST(CursorStateTest, BuffersComeFromTheEngineMemoryManager) {
  TestCursor cursor;
  LayOutPlan(cursor);
  cursor.RecordBufferSize = 50;  // with a calculated-field area
  std::byte* record = cursor.AllocRecordBuffer();
  EXPECT_EQ(EngineMemoryManager.GetMemSize(record), 50);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(record[i], std::byte{0}) << i;
  std::byte* key = cursor.AllocKeyBuffer();
  EXPECT_EQ(EngineMemoryManager.GetMemSize(key), 43);
  cursor.ReleaseRecordBuffer(record);
  EXPECT_EQ(record, nullptr);
  EngineMemoryManager.FreeAndNillMem(key);
}

TEST(CursorStateTest, SetCurrentIndex) {
  TABSCursorState cursor;
  EXPECT_FALSE(cursor.HasCurrentIndex());
  cursor.SetCurrentIndex("ByYear");  // no index definitions yet
  EXPECT_EQ(cursor.IndexId, -1);
  cursor.IndexDefs = std::make_unique<TABSIndexDefs>();
  cursor.IndexDefs->AddIndexDef("ByYear")->ObjectId = 17;
  cursor.SetCurrentIndex("BYYEAR");
  EXPECT_EQ(cursor.IndexName, "BYYEAR");
  EXPECT_EQ(cursor.IndexId, 17);
  EXPECT_TRUE(cursor.HasCurrentIndex());
  cursor.SetCurrentIndex("Missing");
  EXPECT_EQ(cursor.IndexName, "Missing");
  EXPECT_EQ(cursor.IndexId, -1);
  cursor.SetCurrentIndex("");
  EXPECT_FALSE(cursor.HasCurrentIndex());
}

TEST(CursorStateTest, SnapshotsRestoreThePosition) {
  TABSCursorState cursor;
  cursor.Position = {12, 3};
  cursor.AtStart = true;
  PositionSnapshot* snapshot = cursor.SavePosition();
  EXPECT_EQ(EngineMemoryManager.GetMemSize(snapshot), 8);
  cursor.Position = {99, 0};
  cursor.AtStart = false;
  cursor.AtEnd = true;
  cursor.RestorePosition(snapshot);
  EXPECT_EQ(cursor.Position, (RecordPosition{12, 3}));
  EXPECT_TRUE(cursor.AtStart);
  EXPECT_FALSE(cursor.AtEnd);
  cursor.FreePositionSnapshot(snapshot);
  EXPECT_EQ(snapshot, nullptr);
  EXPECT_EQ(NativeErrorOf([&] { cursor.RestorePosition(nullptr); }), 30481);

  // The guard restores also when the operation fails.
  try {
    TABSPositionGuard guard(cursor);
    cursor.Position = {5, 0};
    cursor.AtStart = false;
    throw std::runtime_error("failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(cursor.Position, (RecordPosition{12, 3}));
  EXPECT_TRUE(cursor.AtStart);
}

TEST(CursorStateTest, RestrictedViewAndInvalidation) {
  TestCursor cursor;
  EXPECT_FALSE(cursor.HasRestrictedView());

  cursor.RecordBitmapStale = false;
  std::byte start[8]{}, end[8]{};
  cursor.SetKeyRange(start, end, 1, 2, 3, 4);
  EXPECT_TRUE(cursor.RecordBitmapStale);
  EXPECT_TRUE(cursor.HasRestrictedView());
  EXPECT_EQ(cursor.RangeStartKey, start);
  EXPECT_EQ(cursor.RangeEndFlag, 2);
  EXPECT_EQ(cursor.RangeStartFieldCount, 3);
  EXPECT_EQ(cursor.RangeEndFieldCount, 4);
  cursor.RecordBitmapStale = false;
  cursor.ClearKeyRange();
  EXPECT_TRUE(cursor.RecordBitmapStale);
  EXPECT_EQ(cursor.RangeEndKey, nullptr);
  EXPECT_FALSE(cursor.HasRestrictedView());

  cursor.SetKeyRange(nullptr, end, 0, 0, 0, 1);  // an open start still restricts
  EXPECT_TRUE(cursor.HasRestrictedView());
  cursor.ClearKeyRange();

  cursor.DistinctFieldCount = 2;
  EXPECT_TRUE(cursor.HasRestrictedView());
  cursor.DistinctFieldCount = 0;

  cursor.FilterCallback = [](void*, const std::byte*) { return true; };
  EXPECT_TRUE(cursor.HasRestrictedView());
  cursor.FilterCallback = nullptr;

  auto* condition = reinterpret_cast<TABSExpression*>(start);  // never dereferenced
  cursor.RecordBitmapStale = false;
  cursor.SetQueryExpression(condition, nullptr, nullptr);
  EXPECT_TRUE(cursor.RecordBitmapStale);
  EXPECT_TRUE(cursor.HasRestrictedView());
  cursor.SetQueryExpression(nullptr, nullptr, nullptr);
  EXPECT_FALSE(cursor.HasRestrictedView());
}

TEST(CursorStateTest, NormalizeStringTails) {
  TABSFieldDefs fields;
  fields.AddFieldDef("Code", dtString, 5);    // 6 bytes at 1
  fields.AddFieldDef("Wide", dtWideChar, 3);  // 8 bytes at 7
  fields.AddFieldDef("Gone", dtChar, 2);      // 3 bytes at 15, NULL
  fields.AddFieldDef("Num", dtInteger);       // 4 bytes at 18, NULL
  TABSCursorState cursor;
  LayOutState(cursor, fields);
  ASSERT_EQ(cursor.DataSize(), 22);

  unsigned char buffer[22];
  std::memset(buffer, 0xAB, sizeof buffer);
  buffer[0] = 0;
  SetNullBit(buffer, 2, true);
  SetNullBit(buffer, 3, true);
  std::memcpy(buffer + 1, "ab\0", 3);     // tail garbage after the terminator
  std::memcpy(buffer + 7, "x\0\0\0", 4);  // 'x', terminator unit, garbage after
  cursor.NormalizeStringTails(reinterpret_cast<std::byte*>(buffer));

  const unsigned char code[6] = {'a', 'b', 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(buffer + 1, code, 6), 0);
  const unsigned char wide[8] = {'x', 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(buffer + 7, wide, 8), 0);
  for (int i = 15; i < 18; ++i) EXPECT_EQ(buffer[i], 0) << i;     // NULL text zeroed
  for (int i = 18; i < 22; ++i) EXPECT_EQ(buffer[i], 0xAB) << i;  // other types untouched
  EXPECT_EQ(buffer[0], 0x0C);

  // A value without a terminator is left alone rather than overrun.
  std::memset(buffer + 1, 'z', 6);
  cursor.NormalizeStringTails(reinterpret_cast<std::byte*>(buffer));
  EXPECT_EQ(buffer[6], 'z');
  EXPECT_EQ(buffer[7], 'x');
  EXPECT_EQ(NativeErrorOf([&] { cursor.NormalizeStringTails(nullptr); }), 30463);
}

TEST(CursorStateTest, RenameFieldWithinPhysicalFields) {
  TestCursor cursor;
  LayOutPlan(cursor);
  cursor.RenameFieldInTable("zins", "Zinsen");
  EXPECT_EQ((*cursor.PhysicalFieldDefs)[5]->Name(), "Zinsen");
  cursor.RenameFieldInTable("Jahr", "JAHR");  // a change of letter case only
  EXPECT_EQ((*cursor.PhysicalFieldDefs)[0]->Name(), "JAHR");
  EXPECT_EQ(NativeErrorOf([&] { cursor.RenameFieldInTable("Rate", "X"); }), 30345);
  EXPECT_EQ(NativeErrorOf([&] { cursor.RenameFieldInTable("Tag", "monat"); }), 30346);
  EXPECT_EQ((*cursor.PhysicalFieldDefs)[2]->Name(), "Tag");
  EXPECT_EQ(cursor.FetchIndexDefs(), nullptr);
}

}  // namespace
