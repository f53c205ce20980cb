// The plan summed up per calendar year of its due dates: repayment, interest,
// the number of instalments and the debt left after the year's last
// instalment, plus the totals over the whole plan. Also the effective annual
// rate of a nominal rate paid in m periods a year.
#pragma once

#include <vector>

#include "app/PlanSheet.h"

namespace tilgung {

struct TYearSummaryRow {
  int year = 0;
  double repayment = 0;      // sum of Tilgung of the year's rows
  double interest = 0;       // sum of Zins of the year's rows
  int instalments = 0;       // rows of the year
  double remainingDebt = 0;  // Darlehen of the year's last row (date order)
  double extras = 0;         // sum of the sheet's extras of the year's rows
};

struct TYearSummary {
  std::vector<TYearSummaryRow> years;  // ascending by year
  TYearSummaryRow total;               // year 0; remainingDebt of the plan's last row
  bool hasExtras = false;              // the sheet has an extras column
};

// Sums the sheet's rows by their Jahr. Rows are taken in the sheet's order,
// which is the plan's date order; an empty sheet gives no years and zero
// totals.
TYearSummary SummarizeByYear(const TPlanSheet& sheet);

// (1 + i/m)^m - 1 for the nominal rate i (percent per year) and m periods
// per year, in percent. REQUIRES: periodsPerYear >= 1.
double EffectiveAnnualRate(double nominalPercent, int periodsPerYear);

}  // namespace tilgung
