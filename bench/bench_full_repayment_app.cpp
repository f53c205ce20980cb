// One recalculation of the longest plan until the loan is repaid (monthly,
// 1 200 rows, the 100-year limit) from a keystroke in the dialog to its
// repainted grid, against the main window's recalculation of its longest
// plan (1 189 rows) in the same process; the table work of both alone; and
// the solver. The counter "per_row" of each is the CPU time of one run
// divided by its rows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>

#include "app/FullRepaymentDialog.h"
#include "app/FullRepaymentTable.h"
#include "app/MainForm.h"
#include "app/PlanTable.h"
#include "bench/bench_window.h"
#include "engine/components/ABSTable.h"
#include "platform/qt/TDBGrid.h"

namespace {

void BM_MainWindowRecalculation(benchmark::State& state) {
  tilgung::TForm1 form;
  bench::SetUpWindow(form, "0", "99");
  bench::TAlternatingTexts amounts = bench::Amounts();
  for (auto _ : state) {
    form.Edit1->setText(amounts.Next());
    form.DBGrid1->viewport()->repaint();
  }
  const int rows = form.ABSTable1->RecordCount();
  state.counters["rows"] = rows;
  state.counters["per_row"] = bench::PerRow(rows);
}
BENCHMARK(BM_MainWindowRecalculation)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

void BM_DialogRecalculation(benchmark::State& state) {
  tilgung::TForm1 form;
  bench::SetUpWindow(form, "0,01", "10 Jahre");
  tilgung::TFullRepaymentDialog dialog(form);
  dialog.show();
  QApplication::processEvents();
  // The same rate typed two ways: every setText is a change, the plan stays.
  bench::TAlternatingTexts rates("4", "4,0");
  for (auto _ : state) {
    dialog.FollowRateEdit()->setText(rates.Next());
    dialog.Grid()->viewport()->repaint();
  }
  const int rows = dialog.Table().RecordCount();
  if (rows != 1200) state.SkipWithError("unexpected row count");
  state.counters["rows"] = rows;
  state.counters["per_row"] = bench::PerRow(rows);
}
BENCHMARK(BM_DialogRecalculation)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

// The table work alone, without widgets: the main plan's sink and this one.
void BM_MainTableOnly(benchmark::State& state) {
  const tilgung::TPlanInputs in = bench::LargestPlanInputs();
  TABSTable table(nullptr);
  tilgung::ConfigurePlanComponent(table);
  tilgung::TPlanTableSink sink(table);
  for (auto _ : state) benchmark::DoNotOptimize(tilgung::RecalculatePlan(in, sink).rowCount);
  state.counters["per_row"] = bench::PerRow(table.RecordCount());
}
BENCHMARK(BM_MainTableOnly)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

void BM_FullRepaymentTableOnly(benchmark::State& state) {
  tilgung::TFullRepaymentInputs in;
  in.plan.repaymentText = "0,01";
  in.plan.startDate = platform::EncodeDate(2027, 1, 15);
  TABSTable table(nullptr);
  tilgung::ConfigurePlanComponent(table);
  tilgung::TFullRepaymentTableSink sink(table);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tilgung::CalculateFullRepayment(in, sink).rowCount);
  }
  state.counters["per_row"] = bench::PerRow(table.RecordCount());
}
BENCHMARK(BM_FullRepaymentTableOnly)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

void BM_Solver(benchmark::State& state) {
  tilgung::TFullRepaymentInputs in;
  in.plan.startDate = platform::EncodeDate(2027, 1, 15);
  in.plan.termText = "10 Jahre";
  in.capText = "5";
  in.oneOffs = {{platform::EncodeDate(2030, 6, 1), "5000"}};
  int calculations = 0;
  for (auto _ : state) calculations = tilgung::SolveClearingRepayment(in).calculations;
  state.counters["calculations"] = calculations;
}
BENCHMARK(BM_Solver)->Unit(benchmark::kMicrosecond)->Apply(bench::FixedIterations);

}  // namespace

int main(int argc, char** argv) {
  return bench::RunWindowBenchmarks(argc, argv);
}
