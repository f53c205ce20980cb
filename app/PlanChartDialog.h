// The dialog "Diagramm": the remaining debt over the due dates as a line,
// and interest and repayment per calendar year as bars. The axes use the
// user's number and date conventions. A plan without rows has nothing to
// draw: the dialog then shows a short text (kEmptyChartText) and no charts.
#pragma once

#include <QDialog>

#include "app/PlanSheet.h"
#include "app/YearSummary.h"

QT_BEGIN_NAMESPACE
class QChart;
class QLabel;
class QLayout;
QT_END_NAMESPACE

namespace tilgung {

inline constexpr const char* kEmptyChartText = "Der Tilgungsplan hat keine Zeilen.";

class TPlanChartDialog : public QDialog {
  Q_OBJECT

 public:
  TPlanChartDialog(const TPlanSheet& sheet, QWidget* parent = nullptr);

  // Null for a plan without rows; EmptyText() is null for any other.
  QChart* DebtChart() const { return debt_; }
  QChart* YearChart() const { return years_; }
  QLabel* EmptyText() const { return empty_; }

 private:
  void AddCharts(const TPlanSheet& sheet, QLayout* layout);

  QChart* debt_ = nullptr;   // owned by its view
  QChart* years_ = nullptr;  // owned by its view
  QLabel* empty_ = nullptr;  // owned by the dialog
};

}  // namespace tilgung
