// Four threads, each with a cursor of its own on one shared table:
// inserting, updating its own rows, reading and counting. The counts must
// add up and every row must hold what its thread last wrote; run under the
// thread sanitizer in CI. A watchdog ends the process when a thread hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/engine/Watchdog.h"
#include "tests/engine/local/CursorTestSupport.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRows = 400;

using LocalCursorThread = CursorTest;

TEST_F(LocalCursorThread, FourCursorsOnOneTable) {
  MakePlanTable("Shared");
  std::vector<std::unique_ptr<TABSLocalCursor>> cursors;
  for (int t = 0; t < kThreads; ++t) cursors.push_back(Open("Shared"));
  std::atomic<int> failures{0};
  std::barrier start(kThreads);
  {
    Watchdog watchdog(std::chrono::seconds(120));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        TABSLocalCursor& cursor = *cursors[static_cast<std::size_t>(t)];
        RecordBuffer buffer(cursor), original(cursor), reader(cursor);
        start.arrive_and_wait();
        std::vector<RecordPosition> mine;
        for (int i = 0; i < kRows; ++i) {
          PlanRow row = Row(i);
          row.Jahr = t * 100000 + i;
          if (InsertRow(cursor, buffer.get(), row) != 0) ++failures;
          mine.push_back(cursor.Position);
          // Update the row inserted before: no other thread touches it.
          if (i > 0) {
            cursor.CurrentBuffer = buffer.get();
            cursor.Position = mine[static_cast<std::size_t>(i - 1)];
            cursor.AtStart = cursor.AtEnd = false;
            if (cursor.FetchRecord(FetchMode::Current) != FetchResult::Found) ++failures;
            cursor.Position.Store(buffer.get() + cursor.PositionOffset);
            std::memcpy(original.get(), buffer.get(),
                        static_cast<std::size_t>(cursor.RecordBufferSize));
            cursor.OriginalBuffer = original.get();
            PlanRow updated = ReadRow(cursor, buffer.get());
            updated.Zins = -1.0 * t;
            WriteRow(cursor, buffer.get(), updated);
            cursor.WriteRecord(false);
            if (cursor.LastResultCode != 0) ++failures;
          }
          // Read a few rows from the start and count.
          cursor.CurrentBuffer = reader.get();
          cursor.MoveToStart();
          for (int k = 0; k < 3 && cursor.FetchRecord(FetchMode::Next) == FetchResult::Found; ++k) {
          }
          if (cursor.CountRecords() < i + 1) ++failures;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  EXPECT_EQ(failures.load(), 0);
  auto check = Open("Shared");
  EXPECT_EQ(check->CountRecords(), kThreads * kRows);
  RecordBuffer buffer(*check);
  check->CurrentBuffer = buffer.get();
  check->MoveToStart();
  std::vector<int> seen(kThreads, 0);
  while (check->FetchRecord(FetchMode::Next) == FetchResult::Found) {
    const PlanRow row = ReadRow(*check, buffer.get());
    const int t = row.Jahr / 100000;
    const int i = row.Jahr % 100000;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    ++seen[static_cast<std::size_t>(t)];
    // Every row but the thread's last was updated by its own thread.
    EXPECT_EQ(row.Zins, i + 1 < kRows ? -1.0 * t : Row(i).Zins) << row.Jahr;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[static_cast<std::size_t>(t)], kRows);
}

}  // namespace
