// Laying out a record and filling in its defaults under failing allocations.
#include <gtest/gtest.h>

#include <vector>

#include "engine/storage/ABSFieldManager.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/FaultInjection.h"

namespace {

// A text default written as it is, then defaults that must be converted to
// their field's type first (which takes memory), then a field without one.
void AddFields(TABSFieldDefs& defs) {
  defs.AddFieldDef("T", dtString, 8)->DefaultValue->SetAsString("abc");
  defs.AddFieldDef("N", dtInteger)->DefaultValue->SetAsString("42");
  defs.AddFieldDef("C", dtCurrency)->DefaultValue->SetAsString("12");
  defs.AddFieldDef("X", dtInteger);
}

TEST(FieldManagerFaultTest, ApplyDefaultsWritesEveryDefaultOrNone) {
  TABSBaseFieldManager m(nullptr);
  AddFields(m.FieldDefs());
  m.ComputeLayout();
  std::vector<unsigned char> image(static_cast<std::size_t>(m.GetRecordSize()), 0x5A);
  image[0] = 0xFF;
  const std::vector<unsigned char> before = image;
  const int allocations = InjectAllocationFailures(
      [&] { m.ApplyDefaults(nullptr, image.data()); },
      {.AfterFailure = [&] { EXPECT_EQ(image, before) << "a failed run changed the image"; }});
  EXPECT_GT(allocations, 0);
  EXPECT_EQ(image[0], 0xFF & ~0x07);
  EXPECT_EQ(image[m.FieldDefs()[3]->MemoryOffset], 0x5A);
}

TEST(FieldManagerFaultTest, LayingOutARecordTakesNoEngineMemory) {
  TABSBaseFieldManager m(nullptr);
  AddFields(m.FieldDefs());
  std::int32_t size = 0;
  EXPECT_EQ(InjectAllocationFailures([&] {
              m.ComputeLayout();
              m.ResetAutoincCounters();
              size = m.GetRecordSize();
            }),
            0);
  EXPECT_EQ(size, 1 + 9 + 4 + 8 + 4);  // the text keeps room for its terminator
}

}  // namespace
