// Allocation fault injection for engine tests.
//
// InjectAllocationFailures(operation, options) runs `operation` again and
// again, the first time with the 1st allocation of engine memory failing,
// then with the 2nd failing, and so on, until one run makes fewer
// allocations than the armed number and so runs through untouched. Every
// run in which the armed allocation failed must end in the engine's error
// (an EABSException, or `false` from an operation that reports failure by
// its result), and after it:
//   - engine memory is back where it was before the run (switch this off
//     with MemoryUnchanged = false when a failure may legitimately keep
//     memory, and check your own invariant in AfterFailure instead);
//   - options.AfterFailure() holds: the caller checks that the object is
//     exactly as it was and still usable (use EXPECT_/ASSERT_ inside it).
// A run that reports success although its armed allocation failed is a test
// failure too: the error was swallowed. The result is the number of
// allocations the successful run made (0 when it made none); a test that
// means to exercise failure paths asserts it is above 0.
//
// The operation runs on the same object every time, so it must be
// repeatable after a failure (which it is when the failure leaves the object
// as it was). Work that must be redone for every run goes inside it.
//
// Example:
//   TABSFieldDefs copy;
//   const int allocations = InjectAllocationFailures(
//       [&] { copy.CopyListFrom(source); },
//       {.AfterFailure = [&] { EXPECT_EQ(copy.DefCount(), 0); }});
//   EXPECT_GT(allocations, 0);
//
// The seam is EngineMemoryManager.FailAllocationForTesting; the helper
// disarms it however it returns. Not for tests that allocate from other
// threads while it runs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <type_traits>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"

struct TFaultInjectionOptions {
  // Runs after every failed run; checks the object is as it was and usable.
  std::function<void()> AfterFailure;
  // Whether a failed run must leave EngineMemoryManager.AllocatedSize() as
  // it found it.
  bool MemoryUnchanged = true;
  // The most allocations the operation may make before the test fails.
  int MaxAllocations = 1000;
};

namespace fault_injection_detail {

// Turns the seam off however the helper is left.
struct Disarm {
  ~Disarm() { EngineMemoryManager.FailAllocationForTesting(0); }
};

// Runs the operation once; true when it reported success.
template <typename Operation>
bool RunOnce(Operation& operation) {
  if constexpr (std::is_same_v<std::invoke_result_t<Operation&>, bool>) {
    return operation();
  } else {
    operation();
    return true;
  }
}

}  // namespace fault_injection_detail

template <typename Operation>
int InjectAllocationFailures(Operation&& operation, const TFaultInjectionOptions& options = {}) {
  fault_injection_detail::Disarm disarm;
  for (int n = 1; n <= options.MaxAllocations; ++n) {
    SCOPED_TRACE(::testing::Message() << "allocation " << n << " failing");
    const std::int64_t memoryBefore = EngineMemoryManager.AllocatedSize();
    EngineMemoryManager.FailAllocationForTesting(n);
    bool succeeded = false;
    try {
      succeeded = fault_injection_detail::RunOnce(operation);
    } catch (const EABSException&) {
      succeeded = false;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "a failed allocation raised a non-engine exception: " << e.what();
      return -1;
    }
    const bool fired = EngineMemoryManager.PendingFailureForTesting() == 0;
    EngineMemoryManager.FailAllocationForTesting(0);
    if (!fired) {
      if (!succeeded) ADD_FAILURE() << "the operation failed without a failing allocation";
      return n - 1;
    }
    if (succeeded) {
      ADD_FAILURE() << "the operation reported success although an allocation failed";
      return -1;
    }
    if (options.MemoryUnchanged) {
      EXPECT_EQ(EngineMemoryManager.AllocatedSize(), memoryBefore)
          << "engine memory changed by a failed run";
    }
    if (options.AfterFailure) options.AfterFailure();
    if (::testing::Test::HasFatalFailure()) return -1;
  }
  ADD_FAILURE() << "the operation still allocates after " << options.MaxAllocations
                << " allocations";
  return -1;
}
