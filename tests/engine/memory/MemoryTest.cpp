#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "tests/engine/LeakGuard.h"
#include "tests/engine/RaisedError.h"

namespace {

using Byte = unsigned char;
using ::testing::HasSubstr;

constexpr Byte kHeaderGuard[4] = {0xAC, 0xCC, 0xCA, 0xAC};
constexpr Byte kTrailerGuard[4] = {0xCE, 0xAC, 0xCE, 0xAC};

std::array<Byte, 9> HeaderOf(const void* p) {
  std::array<Byte, 9> h{};
  std::memcpy(h.data(), static_cast<const Byte*>(p) - 9, h.size());
  return h;
}

std::array<Byte, 4> TrailerOf(const void* p, std::int64_t size) {
  std::array<Byte, 4> t{};
  std::memcpy(t.data(), static_cast<const Byte*>(p) + size, t.size());
  return t;
}

void Fill(void* p, std::int64_t n, int seed) {
  auto* b = static_cast<Byte*>(p);
  for (std::int64_t i = 0; i < n; ++i) b[i] = static_cast<Byte>(i * 7 + seed);
}

bool HasPattern(const void* p, std::int64_t n, int seed) {
  const auto* b = static_cast<const Byte*>(p);
  for (std::int64_t i = 0; i < n; ++i)
    if (b[i] != static_cast<Byte>(i * 7 + seed)) return false;
  return true;
}

// A buffer we own laid out like a block, for pointers GetMem never returned.
struct FakeBlock {
  std::array<Byte, 64> bytes{};
  FakeBlock(std::uint32_t size, Byte method, bool goodGuard) {
    std::memcpy(bytes.data(), &size, 4);  // test host is little-endian
    bytes[4] = method;
    if (goodGuard) std::memcpy(bytes.data() + 5, kHeaderGuard, 4);
    if (size + 13 <= bytes.size()) std::memcpy(bytes.data() + 9 + size, kTrailerGuard, 4);
  }
  void* User() { return bytes.data() + 9; }
};

class MemoryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EngineMemoryManager.SetMemoryLimit(0);
    EngineMemoryManager.SetMethodTableForTesting({});
  }
  TABSMemoryManager& mm = EngineMemoryManager;
};

TEST_F(MemoryTest, BlockLayoutAndCounting) {
  const std::int64_t before = mm.AllocatedSize();
  void* p = mm.GetMem(300);
  EXPECT_EQ(mm.AllocatedSize(), before + 300);
  EXPECT_EQ(mm.GetMemSize(p), 300);
  EXPECT_EQ(HeaderOf(p), (std::array<Byte, 9>{0x2C, 0x01, 0, 0, 0, 0xAC, 0xCC, 0xCA, 0xAC}));
  EXPECT_EQ(TrailerOf(p, 300), (std::array<Byte, 4>{0xCE, 0xAC, 0xCE, 0xAC}));
  mm.FreeAndNillMem(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.AllocatedSize(), before);

  void* nil = nullptr;
  mm.FreeAndNillMem(nil);  // nil does nothing
  EXPECT_EQ(mm.GetMemSize(nullptr), 0);
  EXPECT_EQ(mm.AllocatedSize(), before);
}

TEST_F(MemoryTest, GetMemZeroedClearsReusedMemory) {
  for (std::int64_t size : {1, 37, 5000}) {
    void* dirty = mm.GetMem(size);
    std::memset(dirty, 0xFF, static_cast<std::size_t>(size));
    mm.FreeAndNillMem(dirty);
    void* p = mm.GetMemZeroed(size);
    const std::vector<Byte> zeros(static_cast<std::size_t>(size), 0);
    EXPECT_EQ(std::memcmp(p, zeros.data(), zeros.size()), 0) << size;
    mm.FreeAndNillMem(p);
  }
}

TEST_F(MemoryTest, RefusesBadSizesWithoutCounting) {
  const std::int64_t before = mm.AllocatedSize();
  EXPECT_STREQ(RaisedBy([&] { mm.GetMem(0); }).what(),
               "Cannot allocate 0 bytes - Native error: 30286");
  auto negative = RaisedBy([&] { mm.GetMemZeroed(-1); });
  EXPECT_EQ(negative.NativeError(), 30464);
  EXPECT_STREQ(negative.what(), "Cannot allocate -1 bytes - Native error: 30464");
  for (std::int64_t size : {TABSMemoryManager::MaxBlockSize + 1, std::int64_t{1} << 32,
                            std::int64_t{0x7FFFFFFFFFFFFFFF}})
    EXPECT_EQ(RaisedBy([&] { mm.GetMem(size); }).NativeError(), 30464) << size;
  // The largest size passes the range check (and then meets the limit).
  mm.SetMemoryLimit(100);
  EXPECT_EQ(RaisedBy([&] { mm.GetMem(TABSMemoryManager::MaxBlockSize); }).NativeError(), 30004);
  EXPECT_EQ(mm.AllocatedSize(), before);
}

TEST_F(MemoryTest, LimitAllowsReachingItExactly) {
  TABSMemoryManager own;  // counts from 0 whatever else the process holds
  for (TABSMemoryManager* m : {&own, &EngineMemoryManager}) {
    const std::int64_t limit = m->AllocatedSize() + 1000;
    m->SetMemoryLimit(limit);
    EXPECT_EQ(m->MemoryLimit(), limit);
    void* p = m->GetMem(1000);
    auto e = RaisedBy([&] { m->GetMem(1); });
    EXPECT_EQ(e.NativeError(), 30004);
    EXPECT_EQ(std::string(e.what()), "Memory limit exceeded (Limit = " + std::to_string(limit) +
                                         " bytes) - Native error: 30004");
    // Growing needs the new size on top of what is held; the block survives.
    auto r = RaisedBy([&] { m->ReallocMem(p, 1001); });
    EXPECT_EQ(r.NativeError(), 30014);
    EXPECT_THAT(r.what(), HasSubstr("ReallocMem error: Memory limit exceeded"));
    EXPECT_EQ(m->GetMemSize(p), 1000);
    m->FreeAndNillMem(p);
    m->SetMemoryLimit(0);
    p = m->GetMem(1001);
    m->FreeAndNillMem(p);
  }
  EXPECT_EQ(own.AllocatedSize(), 0);
}

TEST_F(MemoryTest, AvailableMemoryHonoursTheLimit) {
  const std::int64_t available = mm.GetAvailableMemory();
  EXPECT_GT(available, 0);
  EXPECT_LE(available, std::int64_t{sysconf(_SC_PHYS_PAGES)} * sysconf(_SC_PAGESIZE));
  mm.SetMemoryLimit(4096);
  EXPECT_EQ(mm.GetAvailableMemory(), 4096);
  mm.SetMemoryLimit(std::int64_t{1} << 62);
  EXPECT_LT(mm.GetAvailableMemory(), std::int64_t{1} << 62);
}

TEST_F(MemoryTest, ForeignPointersAreRefused) {
  FakeBlock noGuard(4, 0, false);
  FakeBlock negativeSize(0xFFFFFFF0u, 0, true);
  for (FakeBlock* fake : {&noGuard, &negativeSize}) {
    void* p = fake->User();
    EXPECT_STREQ(RaisedBy([&] { mm.FreeAndNillMem(p); }).what(),
                 "Invalid pointer - Native error: 30001");
    EXPECT_EQ(p, fake->User());
    EXPECT_STREQ(RaisedBy([&] { mm.GetMemSize(p); }).what(),
                 "Invalid pointer - Native error: 30005");
    EXPECT_STREQ(RaisedBy([&] { mm.ReallocMem(p, 8); }).what(),
                 "ReallocMem error: Invalid pointer - Native error: 30002 - Native error: 30014");
    EXPECT_EQ(p, fake->User());
  }
  void* nil = nullptr;
  EXPECT_EQ(RaisedBy([&] { mm.ReallocMem(nil, 8); }).NativeError(), 30014);
  EXPECT_EQ(nil, nullptr);

  // A damaged header guard of a real block (an underrun) is refused too.
  void* p = mm.GetMem(16);
  auto* guard = static_cast<Byte*>(p) - 1;
  *guard ^= 0xFF;
  EXPECT_EQ(RaisedBy([&] { mm.FreeAndNillMem(p); }).NativeError(), 30001);
  *guard ^= 0xFF;
  mm.FreeAndNillMem(p);
}

TEST_F(MemoryTest, OverrunIsReportedAfterRelease) {
  const std::int64_t before = mm.AllocatedSize();
  void* p = mm.GetMem(8);
  static_cast<Byte*>(p)[8] = 0;
  EXPECT_STREQ(RaisedBy([&] { mm.FreeAndNillMem(p); }).what(),
               "Memory overrun detected - Native error: 30137");
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.AllocatedSize(), before);

  // Resizing an overrun block releases it and hands out nothing new.
  p = mm.GetMem(8);
  static_cast<Byte*>(p)[11] ^= 1;
  EXPECT_STREQ(RaisedBy([&] { mm.ReallocMem(p, 100); }).what(),
               "ReallocMem error: Memory overrun detected - Native error: 30137 - "
               "Native error: 30014");
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.AllocatedSize(), before);
}

TEST_F(MemoryTest, ResizedBlocksCarryTheirTrailer) {
  for (std::int64_t to : {3, 5000}) {
    void* p = mm.GetMem(40);
    mm.ReallocMem(p, to);
    EXPECT_EQ(mm.GetMemSize(p), to);
    EXPECT_EQ(TrailerOf(p, to), (std::array<Byte, 4>{0xCE, 0xAC, 0xCE, 0xAC}));
    static_cast<Byte*>(p)[to] = 0x11;
    EXPECT_EQ(RaisedBy([&] { mm.FreeAndNillMem(p); }).NativeError(), 30137) << to;
    EXPECT_EQ(p, nullptr);
  }
}

TEST_F(MemoryTest, ReallocKeepsPrefixAndClearsTail) {
  const std::int64_t before = mm.AllocatedSize();
  void* p = mm.GetMem(10);
  Fill(p, 10, 1);
  mm.ReallocMem(p, 4);
  EXPECT_TRUE(HasPattern(p, 4, 1));
  EXPECT_EQ(mm.AllocatedSize(), before + 4);
  // The bytes behind a shrunk block are stale; clear-tail must zero them.
  mm.ReallocMem(p, 10, true);
  EXPECT_TRUE(HasPattern(p, 4, 1));
  const Byte zeros[6] = {};
  EXPECT_EQ(std::memcmp(static_cast<Byte*>(p) + 4, zeros, 6), 0);
  // Large growth steps keep every byte.
  Fill(p, 10, 3);
  std::int64_t size = 10;
  for (std::int64_t next : {37000, 74000, 1000000, 17}) {
    mm.ReallocMemZeroed(p, next);
    const std::int64_t kept = std::min(size, next);
    EXPECT_TRUE(HasPattern(p, kept, 3)) << next;
    Fill(p, next, 3);
    size = next;
  }
  EXPECT_EQ(mm.AllocatedSize(), before + 17);
  mm.FreeAndNillMem(p);
}

// A large block that grows by small steps (as a table's record array does)
// may keep spare room behind it; sizes, counts, contents and the overrun
// check must still see exactly the requested size.
TEST_F(MemoryTest, SmallStepsOnALargeBlockKeepExactSizes) {
  const std::int64_t before = mm.AllocatedSize();
  void* p = mm.GetMem(37000);
  Fill(p, 37000, 7);
  std::int64_t size = 37000;
  for (int step = 0; step < 120; ++step) {
    const std::int64_t next = size + 37000;
    mm.ReallocMem(p, next, step % 2 == 0);
    ASSERT_EQ(mm.GetMemSize(p), next);
    ASSERT_EQ(TrailerOf(p, next), (std::array<Byte, 4>{0xCE, 0xAC, 0xCE, 0xAC}));
    ASSERT_TRUE(HasPattern(p, size, 7)) << next;
    Fill(p, next, 7);
    size = next;
  }
  EXPECT_EQ(mm.AllocatedSize(), before + size);
  // A write into the spare room just past the block is an overrun.
  static_cast<Byte*>(p)[size] = 0;
  EXPECT_EQ(RaisedBy([&] { mm.ReallocMem(p, size + 37000); }).NativeError(), 30014);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.AllocatedSize(), before);
}

TEST_F(MemoryTest, FailedReallocLeavesTheBlockIntact) {
  void* p = mm.GetMem(12);
  Fill(p, 12, 5);
  void* const old = p;
  EXPECT_STREQ(RaisedBy([&] { mm.ReallocMem(p, 0); }).what(),
               "ReallocMem error: Cannot allocate 0 bytes - Native error: 30286 - "
               "Native error: 30014");
  EXPECT_EQ(RaisedBy([&] { mm.ReallocMemZeroed(p, -5); }).NativeError(), 30014);
  EXPECT_EQ(RaisedBy([&] { mm.ReallocMem(p, TABSMemoryManager::MaxBlockSize + 1); }).NativeError(),
            30014);
  EXPECT_EQ(p, old);
  EXPECT_EQ(mm.GetMemSize(p), 12);
  EXPECT_TRUE(HasPattern(p, 12, 5));
  mm.FreeAndNillMem(p);
}

TEST_F(MemoryTest, TypedPointerConveniences) {
  char* text = static_cast<char*>(mm.GetMem(3));
  std::memcpy(text, "abc", 3);
  mm.ReallocMem(text, 6, true);
  EXPECT_EQ(std::memcmp(text, "abc\0\0\0", 6), 0);
  mm.FreeAndNillMem(text);
  EXPECT_EQ(text, nullptr);

  auto* rec = static_cast<Byte*>(mm.GetMem(2));
  rec[2] = 0;  // overrun: the typed pointer is cleared even though it throws
  EXPECT_EQ(RaisedBy([&] { mm.FreeAndNillMem(rec); }).NativeError(), 30137);
  EXPECT_EQ(rec, nullptr);
}

TEST_F(MemoryTest, PageAndFixedBlockMethods) {
  for (Byte method : {1, 2}) {
    const TABSMemoryMethodRow rows[] = {{2147483647, method}};
    mm.SetMethodTableForTesting(rows);
    const std::int64_t before = mm.AllocatedSize();
    void* p = mm.GetMemZeroed(100);
    EXPECT_EQ(HeaderOf(p)[4], method);
    Fill(p, 100, 9);
    mm.ReallocMem(p, 9000);  // another method never resizes in place
    EXPECT_EQ(HeaderOf(p)[4], method);
    EXPECT_TRUE(HasPattern(p, 100, 9));
    mm.SetMethodTableForTesting({});
    mm.ReallocMem(p, 50);  // moves to the heap, releasing by the old method
    EXPECT_EQ(HeaderOf(p)[4], 0);
    EXPECT_TRUE(HasPattern(p, 50, 9));
    mm.SetMethodTableForTesting(rows);
    mm.FreeAndNillMem(p);
    p = mm.GetMem(70000);
    static_cast<Byte*>(p)[70000] = 0;
    EXPECT_EQ(RaisedBy([&] { mm.FreeAndNillMem(p); }).NativeError(), 30137) << int{method};
    EXPECT_EQ(mm.AllocatedSize(), before);
  }
}

TEST_F(MemoryTest, MethodTableIsWalkedFromTheLastRow) {
  const TABSMemoryMethodRow rows[] = {{200, 1}, {64, 2}};
  mm.SetMethodTableForTesting(rows);
  for (auto [size, method] : {std::pair{10, 2}, {100, 1}, {500, 2}}) {
    void* p = mm.GetMem(size);
    EXPECT_EQ(HeaderOf(p)[4], method) << size;
    mm.FreeAndNillMem(p);
  }
}

TEST_F(MemoryTest, UnknownMethods) {
  void* p = mm.GetMem(20);
  const std::int64_t before = mm.AllocatedSize();
  const TABSMemoryMethodRow rows[] = {{2147483647, 7}};
  mm.SetMethodTableForTesting(rows);
  EXPECT_STREQ(RaisedBy([&] { mm.GetMem(5); }).what(),
               "GetMem error: Unknown GetMem method type: 7 - Native error: 30340 - "
               "Native error: 30015");
  void* const old = p;
  auto e = RaisedBy([&] { mm.ReallocMem(p, 30); });
  EXPECT_EQ(e.NativeError(), 30014);
  EXPECT_THAT(e.what(), HasSubstr("GetMem error: Unknown GetMem method type: 7"));
  EXPECT_EQ(p, old);
  EXPECT_EQ(mm.AllocatedSize(), before);
  mm.SetMethodTableForTesting({});
  mm.FreeAndNillMem(p);

  // A header naming an unknown method is released by nobody but still
  // uncounted (a local manager, so the engine count is untouched).
  TABSMemoryManager own;
  FakeBlock fake(4, 9, true);
  void* f = fake.User();
  own.FreeAndNillMem(f);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(own.AllocatedSize(), -4);
}

TEST_F(MemoryTest, ConcurrentThreadsKeepTheCountExact) {
  const std::int64_t before = mm.AllocatedSize();
  constexpr int kThreads = 4;
  constexpr int kKept = 50;
  std::vector<std::vector<void*>> kept(kThreads);
  std::int64_t keptBytes = 0;
  for (int round = 0; round < 3; ++round) {  // later rounds reuse released slots
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 5000; ++i) {
          void* p = mm.GetMem(1 + (i * 31 + t) % 700);
          if (i % 3 == 0) mm.ReallocMem(p, 1 + (i * 17) % 900);
          mm.FreeAndNillMem(p);
        }
        for (int i = 0; i < kKept; ++i) kept[t].push_back(mm.GetMem(100 + t));
      });
    }
    for (auto& th : threads) th.join();
    keptBytes += kKept * (100 + 101 + 102 + 103);
    EXPECT_EQ(mm.AllocatedSize(), before + keptBytes);
  }
  // Blocks freed by another thread than the one that took them.
  std::thread releaser([&] {
    for (auto& list : kept)
      for (void*& p : list) mm.FreeAndNillMem(p);
  });
  releaser.join();
  EXPECT_EQ(mm.AllocatedSize(), before);
}

TEST(MoveBytesTest, MatchesAnOverlapSafeMove) {
  for (int distance = -6; distance <= 6; ++distance) {
    for (std::int64_t count : {1, 3, 4, 17}) {
      std::vector<Byte> moved(40), expected(40);
      for (int i = 0; i < 40; ++i) moved[i] = expected[i] = static_cast<Byte>(i + 1);
      const int from = 10;
      const int to = from + distance;
      MoveBytes(moved.data() + from, moved.data() + to, count);
      std::memmove(expected.data() + to, expected.data() + from, static_cast<std::size_t>(count));
      EXPECT_EQ(moved, expected) << "distance " << distance << ", count " << count;
    }
  }
  Byte a[4] = {1, 2, 3, 4};
  MoveBytes(a, a + 1, 0);
  MoveBytes(a, a + 1, -3);
  MoveBytes(nullptr, nullptr, 0);
  EXPECT_EQ(a[1], 2);
  EXPECT_EQ(RaisedBy([&] { MoveBytes(nullptr, a, 2); }).NativeError(), 30465);
  EXPECT_EQ(RaisedBy([&] { MoveBytes(a, nullptr, 2); }).NativeError(), 30465);
}

// Drives the leak guard by hand with its failures intercepted.
std::vector<std::string> LeakGuardFailures(bool leak) {
  ::testing::TestPartResultArray results;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
    const ::testing::TestInfo& info = *::testing::UnitTest::GetInstance()->current_test_info();
    TABSLeakGuard guard;
    guard.OnTestStart(info);
    void* p = EngineMemoryManager.GetMem(37);
    if (!leak) EngineMemoryManager.FreeAndNillMem(p);
    guard.OnTestEnd(info);
    EngineMemoryManager.FreeAndNillMem(p);
  }
  std::vector<std::string> messages;
  for (int i = 0; i < results.size(); ++i)
    messages.emplace_back(results.GetTestPartResult(i).message());
  return messages;
}

TEST(LeakGuardTest, FailsATestThatLeavesEngineMemory) {
  const auto leaked = LeakGuardFailures(true);
  ASSERT_EQ(leaked.size(), 1u);
  EXPECT_THAT(leaked[0], HasSubstr("LeakGuardTest.FailsATestThatLeavesEngineMemory: 37 bytes"));
  EXPECT_TRUE(LeakGuardFailures(false).empty());
}

// Kept reachable from a global, so that only the leak guard (not the
// sanitizer's own leak check) notices the block the probe leaves behind.
void* gLeakProbeBlock = nullptr;

// Run only by LeakGuardTest.IsInstalledInTheTestProgram, in a child process.
TEST(LeakGuardProbe, DISABLED_LeavesEngineMemory) {
  gLeakProbeBlock = EngineMemoryManager.GetMem(41);
}

// The guard must be part of the test program itself, not just a class that
// works when driven by hand: a leaking test run by this very binary fails.
TEST(LeakGuardTest, IsInstalledInTheTestProgram) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  // Sharding or report settings of the outer run must not reach the child.
  const std::string command = "env -u GTEST_TOTAL_SHARDS -u GTEST_SHARD_INDEX -u GTEST_OUTPUT '" +
                              self +
                              "' --gtest_filter=LeakGuardProbe.DISABLED_LeavesEngineMemory"
                              " --gtest_also_run_disabled_tests 2>&1";
  std::FILE* child = popen(command.c_str(), "r");
  ASSERT_NE(child, nullptr);
  std::string output;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, child)) > 0;) output.append(chunk, n);
  const int status = pclose(child);
  ASSERT_TRUE(WIFEXITED(status)) << output;
  EXPECT_NE(WEXITSTATUS(status), 0) << output;
  EXPECT_THAT(output, HasSubstr("Engine memory leak in LeakGuardProbe.DISABLED_LeavesEngineMemory: "
                                "41 bytes still allocated"));
  EXPECT_THAT(output, HasSubstr("[  FAILED  ] LeakGuardProbe.DISABLED_LeavesEngineMemory"));
}

}  // namespace
