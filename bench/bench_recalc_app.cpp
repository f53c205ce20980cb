// One recalculation of the largest plan (monthly, term "99", 1189 rows):
// through the window, from the change event of Edit1 to the last label with
// the grid's model told of every row, against the bare calculation that
// collects the rows in a vector.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#include "app/AppStartup.h"
#include "app/MainForm.h"
#include "app/PlanCalculation.h"
#include "platform/DateTime.h"

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
    benchmark::DoNotOptimize(form.Label22->text().size());
  }
  if (form.PlanRows()->rowCount() != tilgung::kMaxPlanRows) {
    state.SkipWithError("unexpected row count");
  }
  state.counters["rows"] = form.PlanRows()->rowCount();
}
BENCHMARK(BM_WindowRecalculation)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  tilgung::InitLocale();
  QApplication app(argc, argv);
  tilgung::InitApplication(app);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
