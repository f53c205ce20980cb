// One recalculation of the largest plan (monthly, term "99", 1189 rows):
// through the window, from the change event of Edit1 to the repainted grid
// (the rows go into the engine table "Tilgungsplan" and the grid reads the
// visible ones back), against the bare calculation that collects the rows in
// a vector, the same table work on a table component without a window, and
// the same table work on SQLite's in-memory database (DELETE FROM, one
// prepared insert per row in one transaction, the visible rows read back).
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <QApplication>
#include <cstdlib>
#include <stdexcept>

#include "app/AppStartup.h"
#include "app/MainForm.h"
#include "app/PlanCalculation.h"
#include "app/PlanTable.h"
#include "app/PlanTexts.h"
#include "engine/components/ABSEngineComponents.h"
#include "engine/components/ABSTable.h"
#include "platform/data/Field.h"
#include "platform/os/DateTime.h"

namespace {

tilgung::TPlanInputs LargestPlanInputs() {
  tilgung::TPlanInputs in;
  in.repaymentText = "0";  // interest only: the debt lasts the whole term
  in.termText = "99";
  in.startDate = platform::EncodeDate(2027, 1, 15);
  return in;
}

void BM_BareCalculation(benchmark::State& state) {
  const tilgung::TPlanInputs in = LargestPlanInputs();
  tilgung::TPlanRowVector rows;
  for (auto _ : state) {
    const tilgung::TPlanResult r = tilgung::RecalculatePlan(in, rows);
    benchmark::DoNotOptimize(r.balance);
  }
  if (rows.rows.size() != tilgung::kMaxPlanRows) state.SkipWithError("unexpected row count");
  state.counters["rows"] = static_cast<double>(rows.rows.size());
}
BENCHMARK(BM_BareCalculation)->Unit(benchmark::kMicrosecond);

// Rows the window's grid shows at its design size (read back by the peers).
constexpr int kVisibleRows = 7;

void BM_WindowRecalculation(benchmark::State& state) {
  tilgung::TForm1 form;
  form.show();
  form.Edit4->setText(QStringLiteral("0"));
  form.ComboBox4->setEditText(QStringLiteral("99"));
  form.DateTimePicker1->setDate(QDate(2027, 1, 15));
  QApplication::processEvents();
  // Alternate between two amounts so that every setText is a change event.
  const QString amounts[2] = {QStringLiteral("10000"), QStringLiteral("10001")};
  int i = 0;
  for (auto _ : state) {
    form.Edit1->setText(amounts[i ^= 1]);
    form.DBGrid1->viewport()->repaint();
    benchmark::DoNotOptimize(form.Label22->text().size());
  }
  const int rows = form.ABSTable1->RecordCount();
  if (rows != tilgung::kMaxPlanRows) state.SkipWithError("unexpected row count");
  state.counters["rows"] = rows;
  state.counters["visible"] = form.DBGrid1->VisibleRowCount();
}
BENCHMARK(BM_WindowRecalculation)->Unit(benchmark::kMicrosecond);

// The window's table work without widgets: the same sink on a table
// component with no data source, then the visible rows read back.
void BM_EngineTableRecalculation(benchmark::State& state) {
  const tilgung::TPlanInputs in = LargestPlanInputs();
  TABSTable table(nullptr);
  tilgung::ConfigurePlanComponent(table);
  tilgung::TPlanTableSink sink(table);
  double sum = 0;
  for (auto _ : state) {
    if (!tilgung::RecalculatePlan(in, sink).ok) state.SkipWithError("run failed");
    table.Last();
    for (int r = 0; r < kVisibleRows && !table.Bof(); ++r, table.Prior()) {
      for (int c = 0; c < tilgung::kPlanColumnCount; ++c) {
        sum += table.FieldByName(tilgung::kPlanFieldNames[c]).AsFloat();
      }
    }
  }
  benchmark::DoNotOptimize(sum);
  if (table.RecordCount() != tilgung::kMaxPlanRows) state.SkipWithError("unexpected row count");
}
BENCHMARK(BM_EngineTableRecalculation)->Unit(benchmark::kMicrosecond);

// The same table work on SQLite: the table made once, each run empties it
// and inserts every row with one prepared statement in one transaction, then
// reads the visible rows back.
class TSqliteSink : public tilgung::TPlanRowSink {
 public:
  TSqliteSink() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("sqlite open");
    Exec(
        "CREATE TABLE Tilgungsplan (Jahr INTEGER, Monat INTEGER, Tag INTEGER, Darlehen REAL, "
        "Tilgung REAL, Zins REAL)");
    sqlite3_prepare_v2(db_, "INSERT INTO Tilgungsplan VALUES (?, ?, ?, ?, ?, ?)", -1, &insert_,
                       nullptr);
    sqlite3_prepare_v2(db_,
                       "SELECT Jahr, Monat, Tag, Darlehen, Tilgung, Zins FROM Tilgungsplan "
                       "ORDER BY rowid DESC LIMIT ?",
                       -1, &select_, nullptr);
  }
  ~TSqliteSink() override {
    sqlite3_finalize(insert_);
    sqlite3_finalize(select_);
    sqlite3_close(db_);
  }
  void PrepareTable() override {
    Exec("DELETE FROM Tilgungsplan");
    Exec("BEGIN");
  }
  void PostRow(const tilgung::TPlanRow& row) override {
    sqlite3_bind_int(insert_, 1, row.Jahr);
    sqlite3_bind_int(insert_, 2, row.Monat);
    sqlite3_bind_int(insert_, 3, row.Tag);
    sqlite3_bind_double(insert_, 4, row.Darlehen);
    sqlite3_bind_double(insert_, 5, row.Tilgung);
    sqlite3_bind_double(insert_, 6, row.Zins);
    if (sqlite3_step(insert_) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_reset(insert_);
  }
  // Ends the run: commits and reads the visible rows back.
  double Finish() {
    Exec("COMMIT");
    double sum = 0;
    sqlite3_bind_int(select_, 1, kVisibleRows);
    while (sqlite3_step(select_) == SQLITE_ROW) {
      for (int c = 0; c < 3; ++c) sum += sqlite3_column_int(select_, c);
      for (int c = 3; c < 6; ++c) sum += sqlite3_column_double(select_, c);
    }
    sqlite3_reset(select_);
    return sum;
  }
  int Count() {
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db_, "SELECT COUNT(*) FROM Tilgungsplan", -1, &count, nullptr);
    sqlite3_step(count);
    const int n = sqlite3_column_int(count, 0);
    sqlite3_finalize(count);
    return n;
  }

 private:
  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db_));
    }
  }
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
};

void BM_SqliteRecalculation(benchmark::State& state) {
  const tilgung::TPlanInputs in = LargestPlanInputs();
  TSqliteSink sink;
  double sum = 0;
  for (auto _ : state) {
    if (!tilgung::RecalculatePlan(in, sink).ok) state.SkipWithError("run failed");
    sum += sink.Finish();
  }
  benchmark::DoNotOptimize(sum);
  if (sink.Count() != tilgung::kMaxPlanRows) state.SkipWithError("unexpected row count");
}
BENCHMARK(BM_SqliteRecalculation)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  TABSEngine engine;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  tilgung::InitLocale();
  QApplication app(argc, argv);
  tilgung::InitApplication(app);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
