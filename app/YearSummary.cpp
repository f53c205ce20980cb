#include "app/YearSummary.h"

#include <cmath>

namespace tilgung {

TYearSummary SummarizeByYear(const TPlanSheet& sheet) {
  TYearSummary summary;
  for (const TPlanRow& row : sheet.values) {
    if (summary.years.empty() || summary.years.back().year != row.Jahr) {
      summary.years.push_back(TYearSummaryRow{row.Jahr, 0, 0, 0, 0});
    }
    TYearSummaryRow& year = summary.years.back();
    year.repayment += row.Tilgung;
    year.interest += row.Zins;
    ++year.instalments;
    year.remainingDebt = row.Darlehen;
    summary.total.repayment += row.Tilgung;
    summary.total.interest += row.Zins;
    ++summary.total.instalments;
    summary.total.remainingDebt = row.Darlehen;
  }
  return summary;
}

double EffectiveAnnualRate(double nominalPercent, int periodsPerYear) {
  const double m = periodsPerYear;
  return (std::pow(1.0 + nominalPercent / 100.0 / m, m) - 1.0) * 100.0;
}

}  // namespace tilgung
