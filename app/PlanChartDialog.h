// The dialog "Diagramm": the remaining debt over the due dates as a line,
// and interest and repayment per calendar year as bars. The axes use the
// user's number and date conventions.
#pragma once

#include <QDialog>

#include "app/PlanSheet.h"
#include "app/YearSummary.h"

QT_BEGIN_NAMESPACE
class QChart;
QT_END_NAMESPACE

namespace tilgung {

class TPlanChartDialog : public QDialog {
  Q_OBJECT

 public:
  TPlanChartDialog(const TPlanSheet& sheet, QWidget* parent = nullptr);

  QChart* DebtChart() const { return debt_; }
  QChart* YearChart() const { return years_; }

 private:
  QChart* debt_ = nullptr;   // owned by its view
  QChart* years_ = nullptr;  // owned by its view
};

}  // namespace tilgung
