// Cursor-level inserts and scans of plan rows against SQLite in memory.
//
// Insert: PrepareInsert, six field writes, WriteRecord per row, the table
// emptied before every iteration; SQLite inserts the same rows with one
// prepared statement inside one transaction. Scan: FetchRecord(next) and
// reading the six values back; SQLite steps a SELECT of the six columns.
// With a unique index on Jahr: indexed inserts against SQLite's indexed
// inserts, and a scan in index order against record order on the same table.
// Sizes: 1 189 rows (the largest plan), 10^5 and 10^6.
//
// Counters: heap_allocs_per_row counts calls of the global operator new and
// engine_allocs_per_row the engine memory manager's allocations, both over
// the timed rows (the record store's growth steps included), so a per-row
// allocation shows as a value near 1.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "engine/local/ABSEngine.h"
#include "engine/local/ABSLocalCursor.h"
#include "engine/local/ABSSession.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/memory/ABSMemory.h"

namespace {
std::atomic<std::int64_t> heapAllocations{0};
}  // namespace

// Counting replacements of the global allocation functions; the compiler
// cannot see that they pair malloc with free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  heapAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace {

// Counts engine allocations through the fault seam: armed far away, it
// counts down once per allocation.
class EngineAllocationCounter {
 public:
  static constexpr std::int64_t kFar = std::int64_t{1} << 60;
  EngineAllocationCounter() { EngineMemoryManager.FailAllocationForTesting(kFar); }
  ~EngineAllocationCounter() { EngineMemoryManager.FailAllocationForTesting(0); }
  std::int64_t Count() const { return kFar - EngineMemoryManager.PendingFailureForTesting(); }
};

struct Row {
  std::int32_t jahr, monat, tag;
  double darlehen, tilgung, zins;
};

// `uniqueYears`: Jahr is the row number, so a unique index on it takes every row.
Row MakeRow(std::int64_t i, bool uniqueYears = false) {
  return {uniqueYears ? static_cast<std::int32_t>(i) : static_cast<std::int32_t>(2024 + i / 12),
          static_cast<std::int32_t>(1 + i % 12),
          15,
          100000.0 - static_cast<double>(i),
          250.0 + static_cast<double>(i % 7),
          125.0 - static_cast<double>(i % 5)};
}

// A table "Bench" in MEMORY with one attached cursor and its record buffer;
// `indexed`: with a unique index on Jahr, and rows with unique years.
class PlanTable {
 public:
  explicit PlanTable(bool indexed = false) : indexed_(indexed) {
    session_.DatabaseName = "MEMORY";
    session_.SetAttached(true);
    TABSFieldDefs fields;
    fields.AddFieldDef("Jahr", dtInteger);
    fields.AddFieldDef("Monat", dtInteger);
    fields.AddFieldDef("Tag", dtInteger);
    fields.AddFieldDef("Darlehen", dtCurrency);
    fields.AddFieldDef("Tilgung", dtCurrency);
    fields.AddFieldDef("Zins", dtCurrency);
    TABSIndexDefs indexes;
    TABSConstraintDefs constraints;
    TABSLocalCursor maker;
    maker.Session = &session_;
    maker.TableName = "Bench";
    maker.MakeTable(fields, indexes, constraints);
    cursor_.Session = &session_;
    cursor_.TableName = "Bench";
    cursor_.AttachTable(fields, indexes, constraints);
    cursor_.LoadFieldLayout();
    if (indexed) {
      TABSIndexDef def;
      def.SetName("ByJahr");
      def.Unique = true;
      def.SetColumnsFromLists({"Jahr"}, {""}, {""});
      cursor_.AddIndexToTable(def);
    }
    buffer_ = TABSMemBlock::Adopt(cursor_.AllocRecordBuffer());
    cursor_.CurrentBuffer = buffer_.as<std::byte>();
  }
  ~PlanTable() {
    cursor_.DetachTable();
    TABSLocalCursor remover;
    remover.Session = &session_;
    remover.TableName = "Bench";
    remover.RemoveTable();
    session_.SetAttached(false);
  }

  void Wipe() {
    TABSLocalCursor wiper;
    wiper.Session = &session_;
    wiper.TableName = "Bench";
    wiper.WipeTable();
  }

  void Insert(std::int64_t rows) {
    std::byte* buffer = buffer_.as<std::byte>();
    for (std::int64_t i = 0; i < rows; ++i) {
      const Row row = MakeRow(i, indexed_);
      cursor_.InitRecordBuffer(buffer, true);
      cursor_.PrepareInsert();
      cursor_.WriteFieldData(0, &row.jahr, buffer);
      cursor_.WriteFieldData(1, &row.monat, buffer);
      cursor_.WriteFieldData(2, &row.tag, buffer);
      cursor_.WriteFieldData(3, &row.darlehen, buffer);
      cursor_.WriteFieldData(4, &row.tilgung, buffer);
      cursor_.WriteFieldData(5, &row.zins, buffer);
      cursor_.WriteRecord(true);
      if (cursor_.LastResultCode != 0) throw std::runtime_error("insert refused");
    }
  }

  // Walks in the order of the index (true) or in record order.
  void UseIndex(bool on) { cursor_.SetCurrentIndex(on ? "ByJahr" : ""); }

  double Scan() {
    std::byte* buffer = buffer_.as<std::byte>();
    double sum = 0;
    Row row{};
    cursor_.MoveToStart();
    while (cursor_.FetchRecord(FetchMode::Next) == FetchResult::Found) {
      cursor_.ReadFieldData(0, &row.jahr, buffer);
      cursor_.ReadFieldData(1, &row.monat, buffer);
      cursor_.ReadFieldData(2, &row.tag, buffer);
      cursor_.ReadFieldData(3, &row.darlehen, buffer);
      cursor_.ReadFieldData(4, &row.tilgung, buffer);
      cursor_.ReadFieldData(5, &row.zins, buffer);
      sum += row.jahr + row.monat + row.tag + row.darlehen + row.tilgung + row.zins;
    }
    return sum;
  }

 private:
  TABSLocalSession session_;
  TABSLocalCursor cursor_;
  TABSMemBlock buffer_;
  bool indexed_;
};

void CursorInsertWith(benchmark::State& state, bool indexed) {
  const std::int64_t n = state.range(0);
  PlanTable table(indexed);
  std::int64_t heap = 0, engine = 0;
  for (auto _ : state) {
    state.PauseTiming();
    table.Wipe();
    const std::int64_t heapBefore = heapAllocations.load();
    EngineAllocationCounter counter;
    state.ResumeTiming();
    table.Insert(n);
    state.PauseTiming();
    heap += heapAllocations.load() - heapBefore;
    engine += counter.Count();
    state.ResumeTiming();
  }
  const double rows = static_cast<double>(state.iterations() * n);
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["heap_allocs_per_row"] = static_cast<double>(heap) / rows;
  state.counters["engine_allocs_per_row"] = static_cast<double>(engine) / rows;
}

void CursorInsert(benchmark::State& state) {
  CursorInsertWith(state, false);
}
void CursorIndexedInsert(benchmark::State& state) {
  CursorInsertWith(state, true);
}

void CursorScanWith(benchmark::State& state, bool indexed) {
  const std::int64_t n = state.range(0);
  PlanTable table(indexed);
  table.Insert(n);
  table.UseIndex(indexed);
  std::int64_t heap = 0, engine = 0;
  for (auto _ : state) {
    const std::int64_t heapBefore = heapAllocations.load();
    EngineAllocationCounter counter;
    benchmark::DoNotOptimize(table.Scan());
    heap += heapAllocations.load() - heapBefore;
    engine += counter.Count();
  }
  const double rows = static_cast<double>(state.iterations() * n);
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["heap_allocs_per_row"] = static_cast<double>(heap) / rows;
  state.counters["engine_allocs_per_row"] = static_cast<double>(engine) / rows;
}

// Record order on the indexed table (the same table as the index scan).
void CursorScan(benchmark::State& state) {
  CursorScanWith(state, false);
}
void CursorIndexedTableScan(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  PlanTable table(true);
  table.Insert(n);
  for (auto _ : state) benchmark::DoNotOptimize(table.Scan());
  state.SetItemsProcessed(state.iterations() * n);
}
void CursorIndexScan(benchmark::State& state) {
  CursorScanWith(state, true);
}

struct Sqlite {
  sqlite3* db = nullptr;
  bool indexed;
  explicit Sqlite(bool withIndex = false) : indexed(withIndex) {
    sqlite3_open(":memory:", &db);
    Exec(
        "CREATE TABLE plan(jahr INTEGER, monat INTEGER, tag INTEGER, darlehen REAL, tilgung "
        "REAL, zins REAL)");
    if (indexed) Exec("CREATE UNIQUE INDEX ix_jahr ON plan(jahr)");
  }
  ~Sqlite() { sqlite3_close(db); }
  void Exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db));
    }
  }
  void Insert(std::int64_t n) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO plan VALUES(?,?,?,?,?,?)", -1, &stmt, nullptr);
    Exec("BEGIN");
    for (std::int64_t i = 0; i < n; ++i) {
      const Row row = MakeRow(i, indexed);
      sqlite3_bind_int(stmt, 1, row.jahr);
      sqlite3_bind_int(stmt, 2, row.monat);
      sqlite3_bind_int(stmt, 3, row.tag);
      sqlite3_bind_double(stmt, 4, row.darlehen);
      sqlite3_bind_double(stmt, 5, row.tilgung);
      sqlite3_bind_double(stmt, 6, row.zins);
      if (sqlite3_step(stmt) != SQLITE_DONE) throw std::runtime_error("insert");
      sqlite3_reset(stmt);
    }
    Exec("COMMIT");
    sqlite3_finalize(stmt);
  }
  double Scan() {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT jahr, monat, tag, darlehen, tilgung, zins FROM plan", -1, &stmt,
                       nullptr);
    double sum = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      sum += sqlite3_column_int(stmt, 0) + sqlite3_column_int(stmt, 1) +
             sqlite3_column_int(stmt, 2) + sqlite3_column_double(stmt, 3) +
             sqlite3_column_double(stmt, 4) + sqlite3_column_double(stmt, 5);
    }
    sqlite3_finalize(stmt);
    return sum;
  }
};

void SqliteInsertWith(benchmark::State& state, bool indexed) {
  const std::int64_t n = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto s = std::make_unique<Sqlite>(indexed);
    state.ResumeTiming();
    s->Insert(n);
    state.PauseTiming();
    s.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void SqliteInsert(benchmark::State& state) {
  SqliteInsertWith(state, false);
}
void SqliteIndexedInsert(benchmark::State& state) {
  SqliteInsertWith(state, true);
}

void SqliteScan(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  Sqlite s;
  s.Insert(n);
  for (auto _ : state) benchmark::DoNotOptimize(s.Scan());
  state.SetItemsProcessed(state.iterations() * n);
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1189)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(CursorInsert)->Apply(Sizes);
BENCHMARK(SqliteInsert)->Apply(Sizes);
BENCHMARK(CursorScan)->Apply(Sizes);
BENCHMARK(SqliteScan)->Apply(Sizes);
BENCHMARK(CursorIndexedInsert)->Apply(Sizes);
BENCHMARK(SqliteIndexedInsert)->Apply(Sizes);
BENCHMARK(CursorIndexedTableScan)->Apply(Sizes);
BENCHMARK(CursorIndexScan)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
  TABSEngineScope engine;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
