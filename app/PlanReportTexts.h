// The texts above the plan in the printed report and the summary dialog: the
// six inputs and the result panel, taken from the window's controls or, on
// the command line, from the inputs and the result of the run.
#pragma once

#include "app/PlanCalculation.h"
#include "app/PlanReport.h"

namespace tilgung {

class TForm1;

// What the window's dialogs need besides the plan rows.
struct TPlanWindowTexts {
  TPlanReportTexts report;
  bool rateKnown = false;  // the nominal rate parses under the user's locale
  double nominalRate = 0;  // percent per year
  int periodsPerYear = 12;
};

// The inputs as the window shows them and the results its panel shows,
// captioned as in the window.
TPlanWindowTexts FormWindowTexts(const TForm1& form);

// The same for a command-line run: the inputs as given, the start date in
// the short date format, the result panel's texts of `result`.
TPlanReportTexts CommandLineReportTexts(const TPlanInputs& inputs, const TPlanResult& result);

}  // namespace tilgung
