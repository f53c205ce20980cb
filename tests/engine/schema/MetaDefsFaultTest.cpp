// Copying definition lists under failing allocations. A failed copy keeps
// the definitions copied before the failure, each one whole, and holds no
// memory beyond them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/memory/ABSMemory.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/FaultInjection.h"

namespace {

std::vector<std::string> Names(const TABSMetaObjectDefs& defs) {
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < defs.DefCount(); ++i) names.push_back(defs.DefAt(i)->Name());
  return names;
}

// Runs `copy` (into the empty list `target`) through every failing
// allocation; after each failure the list must be a whole prefix of the
// source, checked by `itemWhole`, and clearing it must give back everything.
void CheckCopy(const TABSMetaObjectDefs& source, TABSMetaObjectDefs& target,
               const std::function<void(std::int32_t)>& itemWhole) {
  const std::vector<std::string> all = Names(source);
  const std::int64_t memory = EngineMemoryManager.AllocatedSize();
  const int allocations = InjectAllocationFailures(
      [&] { target.CopyListFrom(source); },
      {.AfterFailure =
           [&] {
             const std::vector<std::string> names = Names(target);
             ASSERT_LT(names.size(), all.size());
             EXPECT_EQ(names, std::vector<std::string>(all.begin(), all.begin() + names.size()));
             for (std::int32_t i = 0; i < target.DefCount(); ++i) itemWhole(i);
             target.ClearDefs();
             EXPECT_EQ(EngineMemoryManager.AllocatedSize(), memory);
           },
       .MemoryUnchanged = false});
  EXPECT_GT(allocations, 0);
  EXPECT_EQ(Names(target), all);
  for (std::int32_t i = 0; i < target.DefCount(); ++i) itemWhole(i);
}

TEST(MetaDefsFaultTest, FieldListCopyKeepsWholeDefinitionsOnly) {
  TABSFieldDefs source;
  for (const char* name : {"Jahr", "Monat", "Text", "Betrag"}) {
    source.AddFieldDef(name, dtString, 12)->DefaultValue->SetAsString(std::string(name) + "!");
  }
  TABSFieldDefs target;
  CheckCopy(source, target, [&](std::int32_t i) {
    EXPECT_EQ(target[i]->DefaultValue->GetAsString(), source[i]->DefaultValue->GetAsString());
    EXPECT_EQ(target[i]->ValueSize, source[i]->ValueSize);
  });
}

TEST(MetaDefsFaultTest, CheckConstraintCopyKeepsWholeDefinitionsOnly) {
  TABSConstraintDefs source;
  for (const char* name : {"A", "B", "C"}) {
    TABSConstraintDefCheck* check = source.AddCheckConstraint();
    check->SetName(name);
    check->MinValue->SetAsString(std::string("low ") + name);
    check->MaxValue->SetAsString(std::string("high ") + name);
  }
  TABSConstraintDefs target;
  CheckCopy(source, target, [&](std::int32_t i) {
    const auto* copy = dynamic_cast<const TABSConstraintDefCheck*>(target.DefAt(i));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->MinValue->GetAsString(), std::string("low ") + Names(source)[i]);
    EXPECT_EQ(copy->MaxValue->GetAsString(), std::string("high ") + Names(source)[i]);
  });
}

}  // namespace
