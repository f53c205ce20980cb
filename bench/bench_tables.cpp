// Table data of the memory database against its own record manager and
// against SQLite.
//
// Pairs to compare (CPU time, same run):
//   InsertCursorRecord/N     vs StoreNewRecord/N     (plan rows, no index,
//                                                     no constraint; each
//                                                     iteration empties first)
//   EmptyAndRefillTable      vs SqliteDeleteAndRefill (1 189 plan rows)
//   FetchCursorRecordWalk/N  vs RecordManagerWalk/N
//   FetchNextCursorRecordsWalk/N vs RecordManagerWalk/N (batches of 32)
// TableExistsAndFind reports the heap and engine allocations per call
// (allocs_per_call, engine_bytes_per_call); both must be 0.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "engine/local/ABSEngine.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/memory/ABSMemory.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSDatabaseDataList.h"
#include "engine/tables/ABSTableData.h"

namespace {
std::atomic<std::int64_t> heapAllocations{0};
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
  heapAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

constexpr std::int32_t kRowSize = 37;
constexpr std::int64_t kPlanRows = 1189;

void FillPlanRow(std::byte* row, std::int64_t i) {
  const auto year = static_cast<std::int32_t>(2024 + i / 12);
  const auto month = static_cast<std::int32_t>(1 + i % 12);
  const std::int32_t day = 15;
  const double debt = 100000.0 - static_cast<double>(i);
  const double repayment = 250.0 + static_cast<double>(i % 7);
  const double interest = 125.0 - static_cast<double>(i % 5);
  row[0] = std::byte{0};
  std::memcpy(row + 1, &year, 4);
  std::memcpy(row + 5, &month, 4);
  std::memcpy(row + 9, &day, 4);
  std::memcpy(row + 13, &debt, 8);
  std::memcpy(row + 21, &repayment, 8);
  std::memcpy(row + 29, &interest, 8);
}

// The plan table "Tilgungsplan" in MEMORY with one attached cursor state.
class PlanTable {
 public:
  PlanTable() : table_(MemoryDatabase().CreateTableData("Tilgungsplan")) {
    TABSFieldDefs fields;
    for (const char* name : {"Jahr", "Monat", "Tag"}) fields.AddFieldDef(name, dtInteger);
    for (const char* name : {"Darlehen", "Tilgung", "Zins"}) fields.AddFieldDef(name, dtCurrency);
    TABSIndexDefs indexes;
    TABSConstraintDefs constraints;
    cursor.TableName = "Tilgungsplan";
    table_.CreateTableFromDefs(cursor, fields, indexes, constraints);
    buffer_ = TABSMemBlock::Zeroed(cursor.RecordBufferSize);
    cursor.CurrentBuffer = buffer_.as<std::byte>();
    table_.AttachCursor(cursor);
  }
  ~PlanTable() {
    table_.DetachCursor(cursor);
    MemoryDatabase().FreeTableData(table_);
  }
  TABSTableData& Table() { return table_; }
  void Fill(std::int64_t rows) {
    for (std::int64_t i = 0; i < rows; ++i) {
      FillPlanRow(cursor.CurrentBuffer, i);
      if (!table_.InsertCursorRecord(cursor)) std::abort();
    }
  }

  TABSCursorState cursor;

 private:
  TABSTableData& table_;
  TABSMemBlock buffer_;
};

void StoreNewRecord(benchmark::State& state) {
  const std::int64_t rows = state.range(0);
  TABSMemoryRecordManager records(kRowSize, 1000);
  std::byte row[kRowSize];
  for (auto _ : state) {
    records.ClearAllRecords(0);
    for (std::int64_t i = 0; i < rows; ++i) {
      FillPlanRow(row, i);
      RecordPosition position;
      if (!records.StoreNewRecord(0, row, position)) std::abort();
    }
    benchmark::DoNotOptimize(records.RecordCount());
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

// `held`: as for the walk, the cursor holds the lock around the inserts.
void InsertCursorRecord(benchmark::State& state, bool held) {
  const std::int64_t rows = state.range(0);
  PlanTable plan;
  if (held) plan.Table().LockTable();
  for (auto _ : state) {
    plan.Table().EmptyTableData(&plan.cursor);
    plan.Fill(rows);
    benchmark::DoNotOptimize(plan.Table().GetTableRecordCount(0));
  }
  if (held) plan.Table().UnlockTable();
  state.SetItemsProcessed(state.iterations() * rows);
}

void EmptyAndRefillTable(benchmark::State& state) {
  PlanTable plan;
  plan.Fill(kPlanRows);
  for (auto _ : state) {
    plan.Table().EmptyTableData(&plan.cursor);
    plan.Fill(kPlanRows);
  }
}

void SqliteDeleteAndRefill(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db,
               "CREATE TABLE Tilgungsplan (Jahr INTEGER, Monat INTEGER, Tag INTEGER, "
               "Darlehen REAL, Tilgung REAL, Zins REAL)",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO Tilgungsplan VALUES (?, ?, ?, ?, ?, ?)", -1, &insert,
                     nullptr);
  auto refill = [&] {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "DELETE FROM Tilgungsplan", nullptr, nullptr, nullptr);
    for (std::int64_t i = 0; i < kPlanRows; ++i) {
      sqlite3_bind_int(insert, 1, static_cast<int>(2024 + i / 12));
      sqlite3_bind_int(insert, 2, static_cast<int>(1 + i % 12));
      sqlite3_bind_int(insert, 3, 15);
      sqlite3_bind_double(insert, 4, 100000.0 - static_cast<double>(i));
      sqlite3_bind_double(insert, 5, 250.0 + static_cast<double>(i % 7));
      sqlite3_bind_double(insert, 6, 125.0 - static_cast<double>(i % 5));
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  };
  refill();
  for (auto _ : state) refill();
  sqlite3_finalize(insert);
  sqlite3_close(db);
}

void RecordManagerWalk(benchmark::State& state) {
  const std::int64_t rows = state.range(0);
  TABSMemoryRecordManager records(kRowSize, 1000);
  std::byte row[kRowSize];
  for (std::int64_t i = 0; i < rows; ++i) {
    FillPlanRow(row, i);
    RecordPosition position;
    records.StoreNewRecord(0, row, position);
  }
  for (auto _ : state) {
    NavigationRequest request;
    request.Direction = FetchMode::Next;
    request.BeforeFirst = true;
    request.RecordBuffer = row;
    std::int64_t seen = 0;
    for (;;) {
      records.NavigateRecord(0, request);
      if (request.Result != FetchResult::Found) break;
      request.BeforeFirst = false;
      ++seen;
    }
    if (seen != rows) std::abort();
    benchmark::DoNotOptimize(row[1]);
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

// `held`: the cursor holds the table's lock around the walk, as a reader of
// many rows may (each fetch then only tests that the lock is held).
void FetchCursorRecordWalk(benchmark::State& state, bool held) {
  const std::int64_t rows = state.range(0);
  PlanTable plan;
  plan.Fill(rows);
  if (held) plan.Table().LockTable();
  for (auto _ : state) {
    plan.cursor.AtStart = true;
    plan.cursor.AtEnd = false;
    std::int64_t seen = 0;
    while (plan.Table().FetchCursorRecord(plan.cursor, FetchMode::Next) == FetchResult::Found) {
      ++seen;
    }
    if (seen != rows) std::abort();
    benchmark::DoNotOptimize(plan.cursor.CurrentBuffer[1]);
  }
  if (held) plan.Table().UnlockTable();
  state.SetItemsProcessed(state.iterations() * rows);
}

// The same walk in batches of 32 steps, each into a buffer of its own (a
// window of rows), one lock and one call per batch.
void FetchNextCursorRecordsWalk(benchmark::State& state) {
  constexpr std::int32_t kBatch = 32;
  const std::int64_t rows = state.range(0);
  PlanTable plan;
  plan.Fill(rows);
  std::vector<TABSMemBlock> blocks;
  std::vector<std::byte*> buffers;
  for (std::int32_t i = 0; i < kBatch; ++i) {
    blocks.push_back(TABSMemBlock::Zeroed(plan.cursor.RecordBufferSize));
    buffers.push_back(blocks.back().as<std::byte>());
  }
  for (auto _ : state) {
    plan.cursor.AtStart = true;
    plan.cursor.AtEnd = false;
    std::int64_t seen = 0;
    for (;;) {
      const std::int32_t n =
          plan.Table().FetchNextCursorRecords(plan.cursor, buffers.data(), kBatch);
      seen += n;
      if (n < kBatch) break;
    }
    if (seen != rows) std::abort();
    benchmark::DoNotOptimize(buffers[0][1]);
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void TableExistsAndFind(benchmark::State& state) {
  PlanTable plan;
  TABSDatabaseData& memory = MemoryDatabase();
  const std::int64_t heapBefore = heapAllocations.load();
  const std::int64_t engineBefore = EngineMemoryManager.AllocatedSize();
  std::int64_t calls = 0;
  for (auto _ : state) {
    const bool exists = memory.TableExists("Tilgungsplan");
    TABSTableData* table = memory.FindTableData("Tilgungsplan");
    if (!exists || table != &plan.Table()) std::abort();
    ++calls;
  }
  state.counters["allocs_per_call"] =
      static_cast<double>(heapAllocations.load() - heapBefore) / static_cast<double>(calls);
  state.counters["engine_bytes_per_call"] =
      static_cast<double>(EngineMemoryManager.AllocatedSize() - engineBefore) /
      static_cast<double>(calls);
}

}  // namespace

BENCHMARK(StoreNewRecord)->Arg(kPlanRows)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(InsertCursorRecord, locked_per_call, false)
    ->Arg(kPlanRows)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(InsertCursorRecord, lock_held, true)
    ->Arg(kPlanRows)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(EmptyAndRefillTable)->Unit(benchmark::kMicrosecond);
BENCHMARK(SqliteDeleteAndRefill)->Unit(benchmark::kMicrosecond);
BENCHMARK(RecordManagerWalk)->Arg(kPlanRows)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FetchCursorRecordWalk, locked_per_call, false)
    ->Arg(kPlanRows)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FetchCursorRecordWalk, lock_held, true)
    ->Arg(kPlanRows)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(FetchNextCursorRecordsWalk)->Arg(kPlanRows)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(TableExistsAndFind);

int main(int argc, char** argv) {
  TABSEngineScope engine;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
