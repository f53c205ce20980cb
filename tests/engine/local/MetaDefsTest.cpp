#include "engine/local/ABSMetaDefs.h"

#include <gtest/gtest.h>

#include "engine/types/ABSException.h"

namespace {

// Runs `f` and returns the native code of the engine error it raised, or 0.
template <class F>
std::int32_t NativeErrorOf(F&& f) {
  try {
    f();
  } catch (const EABSException& e) {
    return e.NativeError();
  }
  return 0;
}

void AddPlanFields(TABSFieldDefs& defs) {
  for (const char* name : {"Jahr", "Monat", "Tag"}) defs.AddFieldDef(name, dtInteger);
  for (const char* name : {"Darlehen", "Tilgung", "Zins"}) defs.AddFieldDef(name, dtCurrency);
}

TEST(FieldDefsTest, PlanTableLayout) {
  TABSFieldDefs defs;
  AddPlanFields(defs);
  defs.CalculateOffsets();
  const std::int32_t expected[] = {1, 5, 9, 13, 21, 29};
  for (std::int32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(defs[i]->MemoryOffset, expected[i]) << i;
    EXPECT_EQ(defs[i]->RecordOffset, expected[i]) << i;
  }
  EXPECT_EQ(defs[0]->StorageType, stInteger);
  EXPECT_EQ(defs[3]->StorageType, stCurrency);
  EXPECT_EQ(defs[3]->ValueSize, 8);
  EXPECT_EQ(defs.MemoryRecordSize(), 37);
  EXPECT_EQ(defs.StoredRecordSize(), 37);
}

}  // namespace
