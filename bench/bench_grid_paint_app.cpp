// One synchronous repaint of the window's grid (7 visible rows, 6 columns of
// German integer and currency texts) over the largest plan, offscreen:
//  - variant 0: nothing changed since the last paint (scroll bar, texts and
//    the label panel as they were);
//  - variant 1: right after a keystroke's recalculation (Edit1 alternates
//    between two amounts, so that the visible amounts change every time);
//    the repaint also paints the result labels the recalculation set;
//  - variant 2: as 1, but with a repayment (each visible row has amounts of
//    its own) and a new amount every time, so that no amount shown was shown
//    before.
// The recalculation itself is not timed. Under callgrind (with
// ABS_BENCH_ITERATIONS=N for N repaints per variant), the instructions per
// repaint are the inclusive cost of QWidget::repaint divided by the
// "repaints" figure this program prints at its end.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/AppStartup.h"
#include "app/MainForm.h"
#include "app/PlanCalculation.h"
#include "engine/components/ABSEngineComponents.h"
#include "engine/components/ABSTable.h"

namespace {

long long g_repaints = 0;

void BM_GridRepaint(benchmark::State& state) {
  const int variant = static_cast<int>(state.range(0));
  tilgung::TForm1 form;
  form.show();
  form.Edit4->setText(variant == 2 ? QStringLiteral("1") : QStringLiteral("0"));
  form.ComboBox4->setEditText(QStringLiteral("99"));
  form.DateTimePicker1->setDate(QDate(2027, 1, 15));
  QApplication::processEvents();
  const QString amounts[2] = {QStringLiteral("10000"), QStringLiteral("10001")};
  int i = 0;
  for (auto _ : state) {
    if (variant != 0) {
      state.PauseTiming();
      form.Edit1->setText(variant == 1 ? amounts[i ^= 1] : QString::number(20000 + ++i));
      state.ResumeTiming();
    }
    form.DBGrid1->viewport()->repaint();
    ++g_repaints;
  }
  const QString last = form.DBGrid1->VisibleCellTexts().back().at(3);
  if ((variant != 2 && form.ABSTable1->RecordCount() != tilgung::kMaxPlanRows) || last.isEmpty()) {
    state.SkipWithError("unexpected plan");
  }
  state.counters["visible"] = form.DBGrid1->VisibleRowCount();
  state.counters["rows"] = form.ABSTable1->RecordCount();
}

}  // namespace

int main(int argc, char** argv) {
  TABSEngine engine;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  tilgung::InitLocale();
  QApplication app(argc, argv);
  tilgung::InitApplication(app);
  benchmark::Initialize(&argc, argv);
  // A fixed number of repaints per variant (for callgrind, where the
  // library's timing would stop after the first, much dearer one).
  const char* fixed = std::getenv("ABS_BENCH_ITERATIONS");
  auto* bm = benchmark::RegisterBenchmark("BM_GridRepaint", BM_GridRepaint);
  bm->Arg(0)->Arg(1)->Arg(2)->ArgName("changed")->Unit(benchmark::kMicrosecond);
  if (fixed != nullptr) bm->Iterations(std::atoi(fixed));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::fprintf(stderr, "repaints: %lld\n", g_repaints);
  return 0;
}
