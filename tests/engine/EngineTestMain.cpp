// Entry point of the engine tests. Every test runs under the leak guard: a
// test that leaves engine memory allocated fails.
#include <gtest/gtest.h>

#include "tests/engine/LeakGuard.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Appended after the default printer, so its end-of-test check runs before
  // the printer reports the test's outcome.
  ::testing::UnitTest::GetInstance()->listeners().Append(new TABSLeakGuard);
  return RUN_ALL_TESTS();
}
