// The dialog "Jahresübersicht": one row per calendar year of the plan
// (repayment, interest, instalments, remaining debt at the year's last due
// date), a totals row, and the effective annual rate of the nominal rate for
// the chosen payment frequency. Amounts in the user's currency format.
#pragma once

#include <QDialog>

#include "app/YearSummary.h"

class QLabel;
class QTableWidget;

namespace tilgung {

class TYearSummaryDialog : public QDialog {
  Q_OBJECT

 public:
  // `rateKnown` false shows no effective rate (the rate input is no number).
  TYearSummaryDialog(const TYearSummary& summary, bool rateKnown, double nominalRate,
                     int periodsPerYear, QWidget* parent = nullptr);

  QTableWidget* Table() const { return table_; }
  QLabel* EffectiveRateLabel() const { return rate_; }

 private:
  QTableWidget* table_ = nullptr;
  QLabel* rate_ = nullptr;
};

// The text the dialog shows for the effective rate, e.g. "4,07 %".
QString EffectiveRateText(double nominalRate, int periodsPerYear);

}  // namespace tilgung
