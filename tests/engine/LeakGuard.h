// Test listener that fails every engine test which ends with a different
// number of engine bytes allocated than it started with.
//
// It reads EngineMemoryManager.AllocatedSize() when a test starts (before its
// fixture is built) and again when it ends (after the fixture is destroyed).
// GoogleTest's own allocations do not go through the engine manager, so they
// never disturb it. Threads a test starts must be joined before it ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "engine/memory/ABSMemory.h"

class TABSLeakGuard : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo& /*info*/) override {
    baseline_ = EngineMemoryManager.AllocatedSize();
  }

  void OnTestEnd(const ::testing::TestInfo& info) override {
    const std::int64_t now = EngineMemoryManager.AllocatedSize();
    if (now != baseline_) {
      ADD_FAILURE() << "Engine memory leak in " << info.test_suite_name() << "." << info.name()
                    << ": " << (now - baseline_) << " bytes still allocated (" << baseline_
                    << " at the start of the test, " << now << " at its end)";
    }
  }

 private:
  std::int64_t baseline_ = 0;
};
