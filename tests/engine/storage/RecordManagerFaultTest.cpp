// The record store under failing allocations: every operation either
// happens or reports failure and leaves the records as they were.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "engine/storage/ABSRecordManager.h"
#include "tests/engine/FaultInjection.h"

namespace {

constexpr std::int32_t kSize = 37;

std::vector<unsigned char> Image(std::int32_t tag) {
  std::vector<unsigned char> image(kSize, 0xA5);
  std::memcpy(image.data(), &tag, 4);
  return image;
}

// The tags of the live records in record order, read by a forward walk.
std::vector<std::int32_t> Tags(TABSMemoryRecordManager& m) {
  std::vector<std::int32_t> tags;
  std::vector<unsigned char> buffer(kSize);
  NavigationRequest req;
  req.Direction = FetchMode::Next;
  req.BeforeFirst = true;
  req.RecordBuffer = buffer.data();
  for (m.NavigateRecord(0, req); req.Result == FetchResult::Found; m.NavigateRecord(0, req)) {
    std::int32_t tag;
    std::memcpy(&tag, buffer.data(), 4);
    tags.push_back(tag);
    if (tags.size() > 1000) break;
  }
  return tags;
}

TEST(RecordManagerFaultTest, EveryOperationHappensOrLeavesTheRecordsAsTheyWere) {
  struct Case {
    const char* name;
    int stored;      // records stored before the operation, tagged 0 .. stored-1
    int removed;     // of which this one is removed (-1 none)
    bool allocates;  // whether the operation has to take memory
    std::function<bool(TABSMemoryRecordManager&)> operation;
  };
  auto store = [](TABSMemoryRecordManager& m) {
    RecordPosition pos;
    return m.StoreNewRecord(0, Image(99).data(), pos);
  };
  const Case cases[] = {
      {"first store takes both buffers", 0, -1, true, store},
      {"store into a full store grows it", 4, -1, true, store},
      {"store into a full store with deletions", 8, 2, true, store},
      {"store with room left", 3, -1, false, store},
      {"overwrite", 4, 1, false,
       [](TABSMemoryRecordManager& m) {
         return m.OverwriteRecord(0, Image(77).data(), {3, 0});
       }},
      {"remove", 4, -1, false,
       [](TABSMemoryRecordManager& m) {
         RecordPosition pos{2, 0};
         return m.RemoveRecord(0, pos);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TABSMemoryRecordManager m(kSize, 4);
    for (int i = 0; i < c.stored; ++i) {
      RecordPosition pos;
      ASSERT_TRUE(m.StoreNewRecord(0, Image(i).data(), pos));
    }
    if (c.removed >= 0) {
      RecordPosition pos{c.removed, 0};
      ASSERT_TRUE(m.RemoveRecord(0, pos));
    }
    const std::vector<std::int32_t> before = Tags(m);
    const std::int32_t counter = m.ChangeCounter();
    const int allocations = InjectAllocationFailures(
        [&] { return c.operation(m); }, {.AfterFailure = [&] {
          EXPECT_EQ(Tags(m), before);
          EXPECT_EQ(m.RecordCount(), static_cast<std::int64_t>(before.size()));
          EXPECT_EQ(m.ChangeCounter(), counter);
        }});
    EXPECT_EQ(allocations > 0, c.allocates) << allocations;
    EXPECT_NE(m.ChangeCounter(), counter) << "the operation happened in the end";
  }
}

TEST(RecordManagerFaultTest, AStoreThatCouldNotGrowLeavesTheStoreUsable) {
  TABSMemoryRecordManager m(kSize, 2);
  for (int i = 0; i < 2; ++i) {
    RecordPosition pos;
    ASSERT_TRUE(m.StoreNewRecord(0, Image(i).data(), pos));
  }
  EngineMemoryManager.FailAllocationForTesting(1);
  RecordPosition pos{-5, 0};
  EXPECT_FALSE(m.StoreNewRecord(0, Image(2).data(), pos));
  EngineMemoryManager.FailAllocationForTesting(0);
  ASSERT_TRUE(m.StoreNewRecord(0, Image(3).data(), pos));
  EXPECT_EQ(pos.RecordId, 2);
  EXPECT_EQ(Tags(m), (std::vector<std::int32_t>{0, 1, 3}));
}

}  // namespace
