// The table component against SQLite doing the same table work.
//
// Append: per row Append, three integer and three currency field sets and
// Post through a TABSTable with no data source (the window holds one
// record), on the plan table of the application, emptied with ClearTable
// before each round. Peer: SQLite ":memory:", one prepared INSERT of six
// values per row inside one transaction, the table emptied with DELETE FROM
// before each round.
// Scan: First ... Next over the filled table reading the six fields as
// integers and doubles; peer: one SELECT stepped through reading six columns.
//
// Rows: 1 189 (the longest plan) and 10^5. Compare CPU time per row (the
// items_per_second counter) between the pairs.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/components/ABSEngineComponents.h"
#include "engine/components/ABSTable.h"

namespace {

constexpr const char* kTable = "Tilgungsplan";
constexpr std::array<const char*, 6> kFields = {"Jahr",     "Monat",   "Tag",
                                                "Darlehen", "Tilgung", "Zins"};

void CreatePlanTable() {
  TABSTable creator(nullptr);
  creator.SetDatabaseName("MEMORY");
  creator.SetTableName(kTable);
  creator.SetExclusive(true);
  for (int i = 0; i < 3; ++i) creator.FieldDefs().Add(kFields[i], platform::ftInteger);
  for (int i = 3; i < 6; ++i) creator.FieldDefs().Add(kFields[i], platform::ftCurrency);
  creator.CreateTable();
}

struct PlanValues {
  std::int32_t jahr, monat, tag;
  double darlehen, tilgung, zins;
  explicit PlanValues(std::int64_t i)
      : jahr(static_cast<std::int32_t>(2024 + i / 12)),
        monat(static_cast<std::int32_t>(1 + i % 12)),
        tag(28),
        darlehen(100000.0 - static_cast<double>(i) / 3.0),
        tilgung(250.0 + static_cast<double>(i % 7) / 3.0),
        zins(125.0 - static_cast<double>(i % 5) / 7.0) {}
};

// The window's table component, opened on the plan table, with its six
// fields looked up once as the application's row loop does.
class PlanTable {
 public:
  PlanTable() {
    table_.SetDatabaseName("MEMORY");
    table_.SetTableName(kTable);
    if (!table_.Exists()) CreatePlanTable();
  }
  void Open() {
    table_.Open();
    for (std::size_t i = 0; i < kFields.size(); ++i) fields_[i] = &table_.FieldByName(kFields[i]);
  }
  void Append(std::int64_t rows) {
    for (std::int64_t i = 0; i < rows; ++i) {
      const PlanValues v(i);
      table_.Append();
      fields_[0]->SetAsInteger(v.jahr);
      fields_[1]->SetAsInteger(v.monat);
      fields_[2]->SetAsInteger(v.tag);
      fields_[3]->SetAsFloat(v.darlehen);
      fields_[4]->SetAsFloat(v.tilgung);
      fields_[5]->SetAsFloat(v.zins);
      table_.Post();
    }
  }
  double Scan() {
    double sum = 0;
    table_.First();
    while (!table_.Eof()) {
      sum += fields_[0]->AsInteger() + fields_[1]->AsInteger() + fields_[2]->AsInteger();
      sum += fields_[3]->AsFloat() + fields_[4]->AsFloat() + fields_[5]->AsFloat();
      table_.Next();
    }
    return sum;
  }
  TABSTable& Table() { return table_; }

 private:
  TABSTable table_{nullptr};
  std::array<platform::TField*, 6> fields_{};
};

void BM_TableAppend(benchmark::State& state) {
  const std::int64_t rows = state.range(0);
  PlanTable plan;
  for (auto _ : state) {
    state.PauseTiming();
    plan.Table().Close();
    plan.Table().ClearTable();
    plan.Open();
    state.ResumeTiming();
    plan.Append(rows);
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_TableScan(benchmark::State& state) {
  const std::int64_t rows = state.range(0);
  PlanTable plan;
  plan.Table().ClearTable();
  plan.Open();
  plan.Append(rows);
  for (auto _ : state) benchmark::DoNotOptimize(plan.Scan());
  state.SetItemsProcessed(state.iterations() * rows);
}

class Sqlite {
 public:
  Sqlite() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("sqlite open");
    Exec(
        "CREATE TABLE Tilgungsplan (Jahr INTEGER, Monat INTEGER, Tag INTEGER, Darlehen REAL, "
        "Tilgung REAL, Zins REAL)");
  }
  ~Sqlite() { sqlite3_close(db_); }
  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db_));
    }
  }
  void Insert(std::int64_t rows) {
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO Tilgungsplan VALUES (?, ?, ?, ?, ?, ?)", -1, &insert,
                       nullptr);
    Exec("BEGIN");
    for (std::int64_t i = 0; i < rows; ++i) {
      const PlanValues v(i);
      sqlite3_bind_int(insert, 1, v.jahr);
      sqlite3_bind_int(insert, 2, v.monat);
      sqlite3_bind_int(insert, 3, v.tag);
      sqlite3_bind_double(insert, 4, v.darlehen);
      sqlite3_bind_double(insert, 5, v.tilgung);
      sqlite3_bind_double(insert, 6, v.zins);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    Exec("COMMIT");
    sqlite3_finalize(insert);
  }
  double Scan() {
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db_, "SELECT Jahr, Monat, Tag, Darlehen, Tilgung, Zins FROM Tilgungsplan",
                       -1, &select, nullptr);
    double sum = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      sum += sqlite3_column_int(select, 0) + sqlite3_column_int(select, 1) +
             sqlite3_column_int(select, 2);
      sum += sqlite3_column_double(select, 3) + sqlite3_column_double(select, 4) +
             sqlite3_column_double(select, 5);
    }
    sqlite3_finalize(select);
    return sum;
  }

 private:
  sqlite3* db_ = nullptr;
};

void BM_SqliteInsert(benchmark::State& state) {
  const std::int64_t rows = state.range(0);
  Sqlite db;
  for (auto _ : state) {
    state.PauseTiming();
    db.Exec("DELETE FROM Tilgungsplan");
    state.ResumeTiming();
    db.Insert(rows);
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_SqliteScan(benchmark::State& state) {
  const std::int64_t rows = state.range(0);
  Sqlite db;
  db.Insert(rows);
  for (auto _ : state) benchmark::DoNotOptimize(db.Scan());
  state.SetItemsProcessed(state.iterations() * rows);
}

// The dialog's plan table until the loan is repaid: Nr and three more
// integers, five currency fields, with (or, for the index's share, without)
// the unique primary index on Nr; one Append, nine field sets and Post per
// row, Nr ascending.
constexpr const char* kFullTable = "Volltilgungsplan";
constexpr std::array<const char*, 9> kFullFields = {
    "Nr", "Jahr", "Monat", "Tag", "Darlehen", "Tilgung", "Sondertilgung", "Zins", "Rate"};

void BM_FullRepaymentAppend(benchmark::State& state, bool indexed) {
  const std::int64_t rows = state.range(0);
  {
    TABSTable creator(nullptr);
    creator.SetDatabaseName("MEMORY");
    creator.SetTableName(kFullTable);
    creator.SetExclusive(true);
    if (creator.Exists()) creator.DeleteTable();
    for (int i = 0; i < 9; ++i) {
      creator.FieldDefs().Add(kFullFields[i], i < 4 ? platform::ftInteger : platform::ftCurrency);
    }
    if (indexed) creator.IndexDefs().Add("ByNr", "Nr", platform::ixPrimary | platform::ixUnique);
    creator.CreateTable();
  }
  TABSTable table(nullptr);
  table.SetDatabaseName("MEMORY");
  table.SetTableName(kFullTable);
  std::array<platform::TField*, 9> fields{};
  for (auto _ : state) {
    state.PauseTiming();
    table.Close();
    table.ClearTable();
    table.Open();
    for (std::size_t i = 0; i < fields.size(); ++i) fields[i] = &table.FieldByName(kFullFields[i]);
    state.ResumeTiming();
    for (std::int64_t i = 0; i < rows; ++i) {
      const PlanValues v(i);
      table.Append();
      fields[0]->SetAsInteger(static_cast<std::int32_t>(i + 1));
      fields[1]->SetAsInteger(v.jahr);
      fields[2]->SetAsInteger(v.monat);
      fields[3]->SetAsInteger(v.tag);
      fields[4]->SetAsFloat(v.darlehen);
      fields[5]->SetAsFloat(v.tilgung);
      fields[6]->SetAsFloat(0.0);
      fields[7]->SetAsFloat(v.zins);
      fields[8]->SetAsFloat(v.tilgung + v.zins);
      table.Post();
    }
  }
  if (table.RecordCount() != rows) state.SkipWithError("rows missing");
  table.Close();
  table.DeleteTable();
  state.SetItemsProcessed(state.iterations() * rows);
}

BENCHMARK(BM_TableAppend)->Arg(1189)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FullRepaymentAppend, unique_nr, true)
    ->Arg(1200)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FullRepaymentAppend, no_index, false)
    ->Arg(1200)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteInsert)->Arg(1189)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TableScan)->Arg(1189)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteScan)->Arg(1189)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // The engine runs around every benchmark, as it does for the application.
  TABSEngine engine;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  {
    TABSTable remover(nullptr);
    remover.SetDatabaseName("MEMORY");
    remover.SetTableName(kTable);
    if (remover.Exists()) remover.DeleteTable();
  }
  return 0;
}
