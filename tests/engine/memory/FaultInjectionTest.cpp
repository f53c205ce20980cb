// The allocation failure seam of the memory manager, the helper built on it,
// and the owned block holder.
#include "tests/engine/FaultInjection.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "engine/memory/ABSMemBlock.h"
#include "engine/memory/ABSMemory.h"
#include "tests/engine/RaisedError.h"

namespace {

struct Disarmed {
  ~Disarmed() { EngineMemoryManager.FailAllocationForTesting(0); }
};

TEST(AllocationSeamTest, EachKindOfAllocationFailsWhenItsTurnComes) {
  struct Case {
    const char* name;
    std::int32_t code;
    std::function<void(TABSMemBlock&)> allocate;
  };
  const Case cases[] = {
      {"GetMem", 30015, [](TABSMemBlock& b) { b = TABSMemBlock(24); }},
      {"GetMemZeroed", 30015, [](TABSMemBlock& b) { b = TABSMemBlock::Zeroed(24); }},
      {"growing ReallocMem", 30014, [](TABSMemBlock& b) { b.Resize(b.Size() + 100); }},
  };
  Disarmed disarmed;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TABSMemBlock held(16);
    const std::int64_t before = EngineMemoryManager.AllocatedSize();
    EngineMemoryManager.FailAllocationForTesting(2);
    c.allocate(held);  // the first allocation goes through
    EngineMemoryManager.FailAllocationForTesting(1);
    const std::int64_t sizeBefore = held.Size();
    const std::int64_t afterFirst = EngineMemoryManager.AllocatedSize();
    const EABSException e = RaisedBy([&] { c.allocate(held); });
    EXPECT_EQ(e.NativeError(), c.code);
    EXPECT_NE(std::string(e.what()).find("Out of memory"), std::string::npos) << e.what();
    EXPECT_EQ(EngineMemoryManager.AllocatedSize(), afterFirst);
    EXPECT_EQ(held.Size(), sizeBefore);
    EXPECT_EQ(EngineMemoryManager.PendingFailureForTesting(), 0) << "fires once";
    c.allocate(held);  // off again after it fired
    EXPECT_GT(EngineMemoryManager.AllocatedSize(), before);
  }
}

TEST(AllocationSeamTest, FreeingShrinkingAndRefusedRequestsDoNotCount) {
  Disarmed disarmed;
  TABSMemBlock a(64);
  TABSMemBlock b(64);
  EngineMemoryManager.FailAllocationForTesting(1);
  a.Resize(32);  // shrinking
  b.Reset();
  EXPECT_EQ(NativeErrorOf([] { EngineMemoryManager.GetMem(0); }), 30286);
  EXPECT_EQ(EngineMemoryManager.PendingFailureForTesting(), 1);
  EXPECT_EQ(NativeErrorOf([] { TABSMemBlock c(8); }), 30015);
  EngineMemoryManager.FailAllocationForTesting(5);
  EngineMemoryManager.FailAllocationForTesting(0);
  TABSMemBlock d(8);  // turned off before it fired
  EXPECT_TRUE(d);
}

TEST(FaultInjectionHelperTest, CountsAllocationsAndChecksEveryFailure) {
  // An operation that makes three allocations and cleans up on failure.
  int failures = 0;
  const int allocations = InjectAllocationFailures(
      [] {
        TABSMemBlock a(10), b(20), c(30);
        return true;
      },
      {.AfterFailure = [&] { ++failures; }});
  EXPECT_EQ(allocations, 3);
  EXPECT_EQ(failures, 3);
  EXPECT_EQ(EngineMemoryManager.PendingFailureForTesting(), 0);
}

TEST(FaultInjectionHelperTest, ReportsALeakingFailurePath) {
  void* leaked = nullptr;
  EXPECT_NONFATAL_FAILURE(InjectAllocationFailures([&] {
                            if (leaked != nullptr) return;  // the second pass succeeds
                            leaked = EngineMemoryManager.GetMem(8);
                            TABSMemBlock more(8);
                          }),
                          "engine memory changed by a failed run");
  EngineMemoryManager.FreeAndNillMem(leaked);
}

TEST(FaultInjectionHelperTest, ReportsASwallowedFailure) {
  EXPECT_NONFATAL_FAILURE(InjectAllocationFailures([] {
                            try {
                              TABSMemBlock a(8);
                            } catch (const EABSException&) {
                            }
                          }),
                          "reported success although an allocation failed");
}

TEST(MemBlockTest, OwnsMovesReleasesAndAdopts) {
  const std::int64_t base = EngineMemoryManager.AllocatedSize();
  {
    TABSMemBlock a = TABSMemBlock::Zeroed(40);
    EXPECT_EQ(a.Size(), 40);
    EXPECT_EQ(a.as<unsigned char>()[39], 0);
    TABSMemBlock b = std::move(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(a.Size(), 0);
    EXPECT_EQ(EngineMemoryManager.AllocatedSize(), base + 40);
    b = TABSMemBlock(8);  // the old block is freed on assignment
    EXPECT_EQ(EngineMemoryManager.AllocatedSize(), base + 8);
    void* raw = b.Release();
    EXPECT_FALSE(b);
    TABSMemBlock c = TABSMemBlock::Adopt(raw);
    c.Resize(100, true);
    EXPECT_EQ(c.Size(), 100);
    EXPECT_EQ(c.as<unsigned char>()[99], 0);
    c.Swap(b);
    EXPECT_TRUE(b);
    EXPECT_FALSE(c);
  }
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), base);
}

TEST(MemBlockTest, AnOverrunBlockIsReleasedQuietlyByResetAndLoudlyByFree) {
  const std::int64_t base = EngineMemoryManager.AllocatedSize();
  for (const bool loud : {false, true}) {
    TABSMemBlock a(4);
    std::memset(a.get(), 0, 5);  // one byte into the trailer
    if (loud) {
      EXPECT_EQ(NativeErrorOf([&] { a.Free(); }), 30137);
    } else {
      a.Reset();
    }
    EXPECT_FALSE(a);
    EXPECT_EQ(EngineMemoryManager.AllocatedSize(), base);
  }
}

}  // namespace
