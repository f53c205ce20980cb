// One keystroke in the window on the largest plan (monthly, term "99", 1189
// rows): from the change event of Edit1 to the repainted grid (the rows go
// into the engine table "Tilgungsplan" and the grid reads the visible ones
// back), that keystroke without its repaint, and the grid's repaint alone.
// Against it, in the same process: the same keystroke as a Qt developer would
// build it without our engine and grid (the rows in a vector behind a table
// model, or in SQLite's in-memory database through QtSql behind a query
// model, each shown by a QTableView laid out as the grid, repainted at once;
// each checks after its loop that it shows the grid's texts), the bare
// calculation into a vector, the same table work on a table component
// without a window, and on SQLite directly (DELETE FROM, one prepared insert
// per row in one transaction, the visible rows read back).
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "app/MainForm.h"
#include "app/PlanCalculation.h"
#include "app/PlanTable.h"
#include "app/PlanTexts.h"
#include "bench/bench_window.h"
#include "engine/components/ABSTable.h"
#include "platform/data/Field.h"
#include "platform/qt/TDBGrid.h"

namespace {

void BM_BareCalculation(benchmark::State& state) {
  const tilgung::TPlanInputs in = bench::LargestPlanInputs();
  tilgung::TPlanRowVector rows;
  for (auto _ : state) {
    const tilgung::TPlanResult r = tilgung::RecalculatePlan(in, rows);
    benchmark::DoNotOptimize(r.balance);
  }
  if (rows.rows.size() != tilgung::kMaxPlanRows) state.SkipWithError("unexpected row count");
  state.counters["rows"] = static_cast<double>(rows.rows.size());
}
BENCHMARK(BM_BareCalculation)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

// Rows the window's grid shows at its design size (read back by the peers).
constexpr int kVisibleRows = 7;

// One keystroke in the window: Edit1's change event recalculates the plan
// into ABSTable1 (the grid attached), then the grid is repainted at once.
void BM_WindowRecalculation(benchmark::State& state) {
  tilgung::TForm1 form;
  bench::SetUpWindow(form, "0", "99");
  bench::TAlternatingTexts amounts = bench::Amounts();
  for (auto _ : state) {
    form.Edit1->setText(amounts.Next());
    form.DBGrid1->viewport()->repaint();
    benchmark::DoNotOptimize(form.Label22->text().size());
  }
  const int rows = form.ABSTable1->RecordCount();
  if (rows != tilgung::kMaxPlanRows) state.SkipWithError("unexpected row count");
  state.counters["rows"] = rows;
  state.counters["visible"] = form.DBGrid1->VisibleRowCount();
}
BENCHMARK(BM_WindowRecalculation)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

// The same keystroke without the repaint: the calculation, the table work
// through ABSTable1 with the grid attached, and the result panel's texts.
void BM_WindowTableWork(benchmark::State& state) {
  tilgung::TForm1 form;
  bench::SetUpWindow(form, "0", "99");
  bench::TAlternatingTexts amounts = bench::Amounts();
  for (auto _ : state) {
    form.Edit1->setText(amounts.Next());
    benchmark::DoNotOptimize(form.Label22->text().size());
  }
  const int rows = form.ABSTable1->RecordCount();
  if (rows != tilgung::kMaxPlanRows) state.SkipWithError("unexpected row count");
  state.counters["per_row"] = bench::PerRow(rows);
}
BENCHMARK(BM_WindowTableWork)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

// One repaint of the window's grid alone, nothing else in the window changed.
void BM_WindowGridRepaint(benchmark::State& state) {
  tilgung::TForm1 form;
  bench::SetUpWindow(form, "0", "99");
  form.Edit1->setText(bench::Amounts().Next());
  form.DBGrid1->viewport()->repaint();
  for (auto _ : state) form.DBGrid1->viewport()->repaint();
  if (form.DBGrid1->VisibleCellTexts().size() != kVisibleRows) {
    state.SkipWithError("unexpected visible rows");
  }
}
BENCHMARK(BM_WindowGridRepaint)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

// --- The same keystroke as a Qt developer would build it without our engine
// and grid: the rows behind a model, shown by a QTableView laid out as the
// window's grid (size, fonts, column titles and widths, row heights, the
// same rows in view), the cells' texts formatted by the grid's own function.

// What a peer view copies from the window's grid.
struct TGridLook {
  QSize size;
  QFont font;
  QFont titleFont;
  int titleHeight = 0;
  int rowHeight = 0;
  int visibleRows = 0;
  std::vector<Qt::Alignment> alignments;
};

TGridLook LookOf(const platform::TDBGrid& grid) {
  TGridLook look;
  look.size = grid.size();
  look.font = grid.font();
  look.titleFont = grid.TitleFont();
  look.titleHeight = grid.TitleHeight();
  look.rowHeight = grid.RowHeight();
  look.visibleRows = grid.VisibleRowCount();
  look.alignments = grid.CellsToPaint().alignments;
  return look;
}

// The text of `column` of a row holding `value` in that column, as the
// window's grid shows it.
QString CellText(int column, const QVariant& value) {
  tilgung::TPlanRow row;
  std::int32_t* ints[] = {&row.Jahr, &row.Monat, &row.Tag};
  double* money[] = {&row.Darlehen, &row.Tilgung, &row.Zins};
  if (column < 3) {
    *ints[column] = value.toInt();
  } else {
    *money[column - 3] = value.toDouble();
  }
  return QString::fromStdString(tilgung::PlanCellText(row, column));
}

QVariant PlanHeader(int section, Qt::Orientation orientation, int role) {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= tilgung::kPlanColumnCount) return {};
  return QString::fromLatin1(tilgung::kPlanFieldNames[section]);
}

// Lays `view` out as the grid described by `look` and shows it.
void LayOutPeerView(QTableView& view, const TGridLook& look) {
  view.setFont(look.font);
  view.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  view.setSelectionMode(QAbstractItemView::NoSelection);
  view.setEditTriggers(QAbstractItemView::NoEditTriggers);
  QHeaderView* titles = view.horizontalHeader();
  titles->setFont(look.titleFont);
  titles->setFixedHeight(look.titleHeight);
  titles->setMinimumSectionSize(1);
  for (int c = 0; c < tilgung::kPlanColumnCount; ++c) {
    titles->resizeSection(c, tilgung::kPlanColumnWidths[c] + platform::TDBGrid::kLineWidth);
  }
  // The indicator column: the vertical header, as wide as the grid's.
  QHeaderView* indicator = view.verticalHeader();
  indicator->setMinimumSectionSize(1);
  indicator->setSectionResizeMode(QHeaderView::Fixed);
  indicator->setDefaultSectionSize(look.rowHeight);
  indicator->setFixedWidth(platform::TDBGrid::kIndicatorWidth + platform::TDBGrid::kLineWidth);
  view.resize(look.size);
  view.show();
  QApplication::processEvents();
}

// Brings the last `look.visibleRows` rows into view with the first of them at
// the top, as the window's grid shows them after a recalculation.
void ShowLastRows(QTableView& view, const TGridLook& look) {
  view.scrollToBottom();  // lays out the rows and the scroll range first
  const int first = std::max(0, view.model()->rowCount() - look.visibleRows);
  view.verticalScrollBar()->setValue(view.verticalHeader()->sectionPosition(first));
}

// The texts of the rows the view shows, in its model's display role.
std::vector<std::vector<QString>> VisibleTexts(const QTableView& view) {
  std::vector<std::vector<QString>> texts;
  const QAbstractItemModel& model = *view.model();
  const int top = view.rowAt(0);
  int bottom = view.rowAt(view.viewport()->height() - 1);
  if (bottom < 0) bottom = model.rowCount() - 1;
  for (int r = top; r >= 0 && r <= bottom; ++r) {
    std::vector<QString>& row = texts.emplace_back();
    for (int c = 0; c < model.columnCount(); ++c)
      row.push_back(model.index(r, c).data().toString());
  }
  return texts;
}

// The peer's own check, after its loop: all rows there, and the rows in view
// show the texts the window's grid shows for the same amount.
void CheckPeer(benchmark::State& state, const QTableView& view, tilgung::TForm1& form,
               const QString& amount) {
  if (view.model()->rowCount() != tilgung::kMaxPlanRows) {
    state.SkipWithError("peer: unexpected row count");
    return;
  }
  form.Edit1->setText(amount);
  form.DBGrid1->viewport()->repaint();
  const std::vector<std::vector<QString>> expected = form.DBGrid1->VisibleCellTexts();
  if (expected.size() != kVisibleRows || VisibleTexts(view) != expected) {
    state.SkipWithError("peer: visible texts differ from the window's grid");
  }
  const std::vector<QString> titles = form.DBGrid1->CellsToPaint().titles;
  for (int c = 0; c < tilgung::kPlanColumnCount; ++c) {
    if (view.columnWidth(c) != tilgung::kPlanColumnWidths[c] + platform::TDBGrid::kLineWidth ||
        view.model()->headerData(c, Qt::Horizontal).toString() != titles.at(c)) {
      state.SkipWithError("peer: column titles or widths differ from the window's grid");
    }
  }
  state.counters["rows"] = view.model()->rowCount();
  state.counters["visible"] = static_cast<double>(expected.size());
}

// The plan rows in a vector behind a table model; a recalculation resets it.
class TPlanRowsModel : public QAbstractTableModel {
 public:
  explicit TPlanRowsModel(const TGridLook& look) : alignments_(look.alignments) {}

  void Recalculate(const tilgung::TPlanInputs& in) {
    beginResetModel();
    tilgung::RecalculatePlan(in, rows_);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.rows.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : tilgung::kPlanColumnCount;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::TextAlignmentRole) {
      return QVariant::fromValue(alignments_[index.column()] | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) return {};
    return QString::fromStdString(
        tilgung::PlanCellText(rows_.rows[static_cast<std::size_t>(index.row())], index.column()));
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    return PlanHeader(section, orientation, role);
  }

 private:
  std::vector<Qt::Alignment> alignments_;
  tilgung::TPlanRowVector rows_;
};

void BM_VectorTableViewRecalculation(benchmark::State& state) {
  tilgung::TForm1 form;  // the reference: its grid's look and texts
  bench::SetUpWindow(form, "0", "99");
  const TGridLook look = LookOf(*form.DBGrid1);
  TPlanRowsModel model(look);
  QTableView view;
  view.setModel(&model);
  LayOutPeerView(view, look);
  tilgung::TPlanInputs in = bench::LargestPlanInputs();
  bench::TAlternatingTexts amounts = bench::Amounts();
  for (auto _ : state) {
    in.amountText = amounts.Next().toStdString();
    model.Recalculate(in);
    ShowLastRows(view, look);
    view.viewport()->repaint();
  }
  CheckPeer(state, view, form, amounts.Last());
}
BENCHMARK(BM_VectorTableViewRecalculation)
    ->Unit(benchmark::kMicrosecond)
    ->Apply(bench::FixedIterations);

// SQLite's in-memory database through QtSql: the sink empties the table and
// inserts every row with one prepared query in one transaction; the
// recalculation ends by re-querying the model and fetching all its rows.
class TQtSqlPlan : public tilgung::TPlanRowSink {
 public:
  explicit TQtSqlPlan(const QString& connection)
      : db_(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection)) {
    db_.setDatabaseName(QStringLiteral(":memory:"));
    if (!db_.open()) throw std::runtime_error(db_.lastError().text().toStdString());
    Exec(QStringLiteral(
        "CREATE TABLE Tilgungsplan (Jahr INTEGER, Monat INTEGER, Tag INTEGER, Darlehen REAL, "
        "Tilgung REAL, Zins REAL)"));
    insert_ = QSqlQuery(db_);
    insert_.prepare(QStringLiteral("INSERT INTO Tilgungsplan VALUES (?, ?, ?, ?, ?, ?)"));
  }
  void PrepareTable() override {
    Exec(QStringLiteral("DELETE FROM Tilgungsplan"));
    if (!db_.transaction()) throw std::runtime_error("transaction");
  }
  void PostRow(const tilgung::TPlanRow& row) override {
    insert_.bindValue(0, row.Jahr);
    insert_.bindValue(1, row.Monat);
    insert_.bindValue(2, row.Tag);
    insert_.bindValue(3, row.Darlehen);
    insert_.bindValue(4, row.Tilgung);
    insert_.bindValue(5, row.Zins);
    if (!insert_.exec()) throw std::runtime_error(insert_.lastError().text().toStdString());
  }
  // Ends a recalculation: commits and re-queries `model`.
  void Finish(QSqlQueryModel& model) {
    if (!db_.commit()) throw std::runtime_error("commit");
    model.setQuery(QStringLiteral("SELECT Jahr, Monat, Tag, Darlehen, Tilgung, Zins FROM "
                                  "Tilgungsplan ORDER BY rowid"),
                   db_);
    while (model.canFetchMore()) model.fetchMore();
  }

 private:
  void Exec(const QString& sql) {
    QSqlQuery q(db_);
    if (!q.exec(sql)) throw std::runtime_error(q.lastError().text().toStdString());
  }
  QSqlDatabase db_;
  QSqlQuery insert_;
};

// The query's values shown as the window's grid shows them.
class TPlanQueryModel : public QSqlQueryModel {
 public:
  explicit TPlanQueryModel(const TGridLook& look) : alignments_(look.alignments) {}
  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::TextAlignmentRole) {
      return QVariant::fromValue(alignments_[index.column()] | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) return QSqlQueryModel::data(index, role);
    return CellText(index.column(), QSqlQueryModel::data(index, Qt::DisplayRole));
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    return PlanHeader(section, orientation, role);
  }

 private:
  std::vector<Qt::Alignment> alignments_;
};

void BM_QtSqlRecalculation(benchmark::State& state) {
  const QString connection = QStringLiteral("bench_qtsql_peer");
  {
    tilgung::TForm1 form;
    bench::SetUpWindow(form, "0", "99");
    const TGridLook look = LookOf(*form.DBGrid1);
    TQtSqlPlan plan(connection);
    TPlanQueryModel model(look);
    tilgung::TPlanInputs in = bench::LargestPlanInputs();
    // The columns exist once the model holds a query.
    tilgung::RecalculatePlan(in, plan);
    plan.Finish(model);
    QTableView view;
    view.setModel(&model);
    LayOutPeerView(view, look);
    bench::TAlternatingTexts amounts = bench::Amounts();
    for (auto _ : state) {
      in.amountText = amounts.Next().toStdString();
      if (!tilgung::RecalculatePlan(in, plan).ok) state.SkipWithError("run failed");
      plan.Finish(model);
      ShowLastRows(view, look);
      view.viewport()->repaint();
    }
    CheckPeer(state, view, form, amounts.Last());
  }
  QSqlDatabase::removeDatabase(connection);
}
BENCHMARK(BM_QtSqlRecalculation)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

// The window's table work without widgets: the same sink on a table
// component with no data source, then the visible rows read back.
void BM_EngineTableRecalculation(benchmark::State& state) {
  const tilgung::TPlanInputs in = bench::LargestPlanInputs();
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
  const tilgung::TPlanInputs in = bench::LargestPlanInputs();
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
  return bench::RunWindowBenchmarks(argc, argv);
}
