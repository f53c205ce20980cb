// Four threads on the one "MEMORY" database: each with a table of its own,
// and all on one shared table through cursor states of their own,
// inserting, reading, counting and emptying. The counts must add up, the
// database lock must serialise every table operation (run under the thread
// sanitizer in CI), and a watchdog ends the process when a thread hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/MemoryTables.h"
#include "tests/engine/Watchdog.h"
#include "tests/engine/tables/TableDataTestSupport.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 12;
constexpr int kPerRound = 150;

class TableDataThreadTest : public MemoryTablesTest {};

TEST_F(TableDataThreadTest, OwnTablesAndOneSharedTableCountUp) {
  TABSFieldDefs fields;
  AddPlanFields(fields);
  TABSTableData& shared = CreateTestTable(Memory(), "Shared", fields);
  std::barrier sync(kThreads);
  std::atomic<int> failures{0};
  auto check = [&](bool ok, const char* what) {
    if (!ok) {
      failures.fetch_add(1);
      std::fprintf(stderr, "check failed: %s\n", what);
    }
  };

  auto work = [&](int self) {
    TABSTableData& own = CreateTestTable(Memory(), "Own" + std::to_string(self), fields);
    TableCursor ownCursor(own, "Own" + std::to_string(self));
    TableCursor cursor(shared, "Shared");
    TableCursor reader(shared, "Shared");
    for (int round = 0; round < kRounds; ++round) {
      // Phase 1: everybody inserts into the shared table and its own one.
      for (int i = 0; i < kPerRound; ++i) {
        cursor.SetInt(0, self);
        cursor.SetInt(1, i);
        check(shared.InsertCursorRecord(cursor.state), "shared insert");
        ownCursor.SetInt(0, round);
        check(own.InsertCursorRecord(ownCursor.state), "own insert");
        if (i % 50 == 0) {
          const std::int64_t seen = shared.CountAllRecords(reader.state);
          check(seen <= kThreads * kPerRound, "count while inserting");
        }
      }
      sync.arrive_and_wait();
      // Phase 2: reading; every thread finds its own records and the total.
      check(shared.CountAllRecords(reader.state) == kThreads * kPerRound, "total after inserts");
      int mine = 0;
      int all = 0;
      reader.state.AtStart = true;
      reader.state.AtEnd = false;
      while (shared.FetchCursorRecord(reader.state, FetchMode::Next) == FetchResult::Found) {
        ++all;
        if (reader.GetInt(0) == self) ++mine;
      }
      check(mine == kPerRound, "own records in the shared table");
      check(all == kThreads * kPerRound, "records walked");
      check(own.GetTableRecordCount(0) == static_cast<std::int64_t>(round + 1) * kPerRound,
            "own table count");
      sync.arrive_and_wait();
      // Phase 3: one thread empties the shared table while the others read
      // and count; afterwards it is empty for everybody.
      if (self == round % kThreads) {
        shared.EmptyTableData(&cursor.state);
      } else {
        for (int i = 0; i < 20; ++i) {
          const std::int64_t n = shared.CountAllRecords(reader.state);
          check(n == 0 || n == kThreads * kPerRound, "count while emptying");
          shared.SeekCursorRecordNumber(reader.state, 1 + i);
          (void)shared.FetchCursorRecord(reader.state, FetchMode::Current);
        }
      }
      sync.arrive_and_wait();
      check(shared.CountAllRecords(reader.state) == 0, "empty after emptying");
      sync.arrive_and_wait();
    }
  };

  {
    Watchdog watchdog(std::chrono::seconds(240));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
    for (std::thread& thread : threads) thread.join();
  }
  EXPECT_EQ(failures.load(), 0);
  std::int64_t ownTotal = 0;
  for (int t = 0; t < kThreads; ++t) {
    TABSTableData* own = Memory().FindTableData("own" + std::to_string(t));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->AttachedCursorCount(), 0u);
    ownTotal += own->GetTableRecordCount(0);
  }
  EXPECT_EQ(ownTotal, static_cast<std::int64_t>(kThreads) * kRounds * kPerRound);
  EXPECT_EQ(shared.AttachedCursorCount(), 0u);
}

}  // namespace
