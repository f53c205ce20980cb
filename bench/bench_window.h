// What the window benchmarks share: the inputs of the largest plan, the main
// window set up for a plan, the two texts typed in turn so that every
// keystroke is a change event, the counter of CPU time per plan row, and a
// fixed iteration count for instruction counting (scripts/bench-callgrind),
// and their main.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDate>
#include <QString>
#include <cstdlib>

#include "app/AppStartup.h"
#include "app/MainForm.h"
#include "app/PlanCalculation.h"
#include "engine/components/ABSEngineComponents.h"
#include "platform/os/DateTime.h"

namespace bench {

// The inputs of the window's largest plan: monthly, interest only, term
// "99", from 15.01.2027 (1189 rows).
inline tilgung::TPlanInputs LargestPlanInputs() {
  tilgung::TPlanInputs in;
  in.repaymentText = "0";  // interest only: the debt lasts the whole term
  in.termText = "99";
  in.startDate = platform::EncodeDate(2027, 1, 15);
  return in;
}

// Shows `form` with the given initial repayment (Edit4) and term (ComboBox4)
// and the start date 15.01.2027, and lets it settle.
inline void SetUpWindow(tilgung::TForm1& form, const char* repayment, const char* term) {
  form.show();
  form.Edit4->setText(QString::fromLatin1(repayment));
  form.ComboBox4->setEditText(QString::fromLatin1(term));
  form.DateTimePicker1->setDate(QDate(2027, 1, 15));
  QApplication::processEvents();
}

// Two texts that give the same kind of run; Next() alternates between them,
// so that each setText of a widget is a change.
class TAlternatingTexts {
 public:
  TAlternatingTexts(const char* a, const char* b)
      : texts_{QString::fromUtf8(a), QString::fromUtf8(b)} {}
  const QString& Next() { return texts_[index_ ^= 1]; }
  // The text Next() returned last (the second one before the first call).
  const QString& Last() const { return texts_[index_]; }

 private:
  QString texts_[2];
  int index_ = 1;
};

// The loan amounts typed into the main window's Edit1.
inline TAlternatingTexts Amounts() {
  return TAlternatingTexts("10000", "10001");
}

// CPU time of one iteration divided by `rows`.
inline benchmark::Counter PerRow(int rows) {
  return benchmark::Counter(
      static_cast<double>(rows),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Applied to a benchmark: with ABS_BENCH_ITERATIONS=N in the environment it
// runs exactly N iterations once (no calibration runs), so that two runs of
// different N differ by a known number of iterations.
inline void FixedIterations(benchmark::internal::Benchmark* b) {
  if (const char* n = std::getenv("ABS_BENCH_ITERATIONS")) {
    const long count = std::strtol(n, nullptr, 10);
    if (count > 0) b->Iterations(count);
  }
}

// The main of a window benchmark: the engine, the German user locale (the
// grid's texts), the offscreen platform unless another is set, the
// application, then the benchmarks named on the command line.
inline int RunWindowBenchmarks(int argc, char** argv) {
  TABSEngine engine;
  setenv("LANG", "de_DE.UTF-8", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  tilgung::InitLocale();
  QApplication app(argc, argv);
  tilgung::InitApplication(app);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
