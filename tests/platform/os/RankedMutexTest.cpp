#include "platform/os/RankedMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using platform::LockRank;
using platform::RankedMutex;

struct Violation {
  LockRank held;
  LockRank requested;
};
thread_local std::vector<Violation> violations;

void Record(LockRank held, LockRank requested) {
  violations.push_back({held, requested});
}

class RankedMutexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    violations.clear();
    previous_ = RankedMutex::SetViolationHandler(&Record);
  }
  void TearDown() override { RankedMutex::SetViolationHandler(previous_); }
  RankedMutex::ViolationHandler previous_ = nullptr;
};

TEST_F(RankedMutexTest, ReentryAndOwnershipAreTracked) {
  RankedMutex m(LockRank::Database);
  EXPECT_FALSE(m.HeldByThisThread());
  m.lock();
  m.lock();
  EXPECT_TRUE(m.HeldByThisThread());
  bool seenByOther = true;
  std::thread([&] { seenByOther = m.HeldByThisThread(); }).join();
  EXPECT_FALSE(seenByOther);
  m.unlock();
  EXPECT_TRUE(m.HeldByThisThread());
  m.unlock();
  EXPECT_FALSE(m.HeldByThisThread());
  EXPECT_TRUE(violations.empty());
}

TEST_F(RankedMutexTest, LockGuardHoldsForItsScopeAndNestsWithoutDeepening) {
  RankedMutex m(LockRank::Database);
  {
    platform::RankedLockGuard outer(m);
    EXPECT_TRUE(m.HeldByThisThread());
    { platform::RankedLockGuard inner(m); }
    EXPECT_TRUE(m.HeldByThisThread());  // the inner guard left the outer hold alone
  }
  EXPECT_FALSE(m.HeldByThisThread());
  m.lock();
  { platform::RankedLockGuard entered(m); }
  EXPECT_TRUE(m.HeldByThisThread());  // a hold from before the guard stays
  m.unlock();
  EXPECT_FALSE(m.HeldByThisThread());
}

TEST_F(RankedMutexTest, OrderFromOuterToInnerIsAllowedAndReleaseMayBeOutOfOrder) {
  RankedMutex session(LockRank::Session), list(LockRank::DatabaseList), db(LockRank::Database);
  session.lock();
  list.lock();
  db.lock();
  list.unlock();  // out of order
  db.lock();      // re-entry while an outer lock was released
  db.unlock();
  db.unlock();
  session.unlock();
  EXPECT_TRUE(violations.empty());
}

#ifndef NDEBUG
TEST_F(RankedMutexTest, DebugBuildsReportInnerBeforeOuterAndTwoDatabases) {
  RankedMutex list(LockRank::DatabaseList), db1(LockRank::Database), db2(LockRank::Database);
  {
    std::lock_guard<RankedMutex> hold(db1);
    { std::lock_guard<RankedMutex> wrong(list); }
    { std::lock_guard<RankedMutex> second(db2); }
  }
  ASSERT_EQ(violations.size(), 2u);
  EXPECT_EQ(violations[0].held, LockRank::Database);
  EXPECT_EQ(violations[0].requested, LockRank::DatabaseList);
  EXPECT_EQ(violations[1].held, LockRank::Database);
  EXPECT_EQ(violations[1].requested, LockRank::Database);
  // Once released, the same locks in the right order are fine again.
  violations.clear();
  std::scoped_lock ok(list);
  std::lock_guard<RankedMutex> inner(db2);
  EXPECT_TRUE(violations.empty());
}

void LockInnerThenOuter() {
  RankedMutex inner(LockRank::Database), outer(LockRank::Session);
  inner.lock();
  outer.lock();
}

TEST(RankedMutexDeathTest, TheDefaultHandlerAborts) {
  EXPECT_DEATH(LockInnerThenOuter(),
               "lock order violated: session lock requested while holding the database lock");
}
#endif

TEST_F(RankedMutexTest, ExcludesOtherThreads) {
  RankedMutex m(LockRank::Database);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<RankedMutex> g(m);
        ++counter;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 40000);

  // A thread that finds the lock taken waits until the holder releases it;
  // try_lock fails meanwhile.
  m.lock();
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    std::lock_guard<RankedMutex> g(m);
    got = true;
  });
  std::thread([&] { EXPECT_FALSE(m.try_lock()); }).join();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(got);
  m.unlock();
  waiter.join();
  EXPECT_TRUE(got);
  EXPECT_TRUE(m.try_lock());
  m.unlock();
}

}  // namespace
