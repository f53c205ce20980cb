#include "app/YearSummary.h"

#include <cmath>

namespace tilgung {

TYearSummary SummarizeByYear(const TPlanSheet& sheet) {
  TYearSummary summary;
  summary.hasExtras = sheet.HasExtras();
  for (std::size_t i = 0; i < sheet.values.size(); ++i) {
    const TPlanRow& row = sheet.values[i];
    if (summary.years.empty() || summary.years.back().year != row.Jahr) {
      summary.years.push_back(TYearSummaryRow{row.Jahr, 0, 0, 0, 0, 0});
    }
    const double extra = i < sheet.extras.size() ? sheet.extras[i] : 0.0;
    TYearSummaryRow& year = summary.years.back();
    year.repayment += row.Tilgung;
    year.interest += row.Zins;
    ++year.instalments;
    year.remainingDebt = row.Darlehen;
    year.extras += extra;
    summary.total.extras += extra;
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
