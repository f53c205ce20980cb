// Entry point of the engine tests. Every test runs under the leak guard: a
// test that leaves engine memory allocated fails.
#include <gtest/gtest.h>

#include "engine/components/ABSEngineComponents.h"
#include "tests/engine/LeakGuard.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Appended after the default printer, so its end-of-test check runs before
  // the printer reports the test's outcome.
  ::testing::UnitTest::GetInstance()->listeners().Append(new TABSLeakGuard);
  // The engine runs for the whole test program, as it does for the
  // application; tests that create tables in "MEMORY" remove them again
  // (tests/engine/MemoryTables.h).
  TABSEngine engine;
  return RUN_ALL_TESTS();
}
