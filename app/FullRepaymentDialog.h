// The modeless dialog "Bis zur Volltilgung": the extra inputs (rate after the
// fixed period, yearly extra with month and first year, the yearly cap, the
// one-off extras), the results, the initial repayment that clears the loan
// within the fixed period (with a button that puts it into the main window),
// and a grid of the plan.
//
// Every change of its own inputs and of the main window's six inputs runs
// one calculation (while hidden, one when it is shown again) into the table "Volltilgungsplan",
// which the grid shows through the dialog's own table component. An input that is not valid is
// marked, and the results panel shows the message with the typed text; the
// table is then empty, so no plan of earlier inputs is shown as current.
//
// Ownership: the dialog owns its table component, data source and sink; its
// widgets (the grid among them) are freed before them. It borrows the main
// window, whose child it is. GUI thread only.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>

#include "app/FullRepaymentPlan.h"

class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TABSTable;

namespace platform {
class TDataSource;
class TDBGrid;
}  // namespace platform

namespace tilgung {

class TForm1;
class TFullRepaymentTableSink;
class TPlanActions;

class TFullRepaymentDialog : public QDialog {
  Q_OBJECT

 public:
  // REQUIRES: `form` outlives the dialog (it is the form's child).
  explicit TFullRepaymentDialog(TForm1& form);
  ~TFullRepaymentDialog() override;

  // The extra inputs.
  QLineEdit* FollowRateEdit() const { return followRate_; }
  QLineEdit* YearlyAmountEdit() const { return yearlyAmount_; }
  QLineEdit* YearlyMonthEdit() const { return yearlyMonth_; }
  QLineEdit* YearlyFromEdit() const { return yearlyFrom_; }
  QLineEdit* CapEdit() const { return cap_; }
  // One one-off extra per line: a date and an amount, e.g. "01.06.2030 5000".
  QPlainTextEdit* OneOffsEdit() const { return oneOffs_; }

  QLabel* ResultsLabel() const { return results_; }
  QLabel* SolverLabel() const { return solver_; }
  QPushButton* ApplyButton() const { return apply_; }
  platform::TDBGrid* Grid() const { return grid_; }
  TABSTable& Table() const { return *table_; }
  // Copy, print, CSV, yearly summary and chart of the grid's plan.
  TPlanActions* Actions() const { return actions_; }

  // The inputs as the calculation reads them; a one-off line that is not a
  // date and an amount makes `lineError` the 1-based line number.
  TFullRepaymentInputs ReadInputs(int* lineError) const;
  const TFullRepaymentResult& LastResult() const { return lastResult_; }

  // --- for tests ---
  // Number of recalculations run so far.
  int RecalculationCount() const { return recalculations_; }

 public slots:
  void Recalculate();
  // Puts the solver's answer into the main window's initial repayment.
  void ApplyClearingRepayment();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void MarkInvalid(QWidget* input);
  void ShowResults();

  TForm1& form_;
  std::unique_ptr<TABSTable> table_;
  std::unique_ptr<platform::TDataSource> source_;
  std::unique_ptr<TFullRepaymentTableSink> sink_;
  QLineEdit* followRate_ = nullptr;
  QLineEdit* yearlyAmount_ = nullptr;
  QLineEdit* yearlyMonth_ = nullptr;
  QLineEdit* yearlyFrom_ = nullptr;
  QLineEdit* cap_ = nullptr;
  QPlainTextEdit* oneOffs_ = nullptr;
  QLabel* results_ = nullptr;
  QLabel* solver_ = nullptr;
  QPushButton* apply_ = nullptr;
  platform::TDBGrid* grid_ = nullptr;
  TPlanActions* actions_ = nullptr;  // the grid's child
  TFullRepaymentResult lastResult_;
  TClearingRepayment lastAnswer_;
  // The inputs lastAnswer_ was solved for, when it is valid for them.
  std::optional<TFullRepaymentInputs> solvedFor_;
  int recalculations_ = 0;
  bool stale_ = false;  // inputs changed while the dialog was hidden
};

// Adds "Bis zur Volltilgung…" (Ctrl+T, anywhere in the window) to the
// context menu of the form's plan grid; it shows the form's one dialog,
// creating it on first use. The action is the grid's child.
QAction* InstallFullRepaymentAction(TForm1& form);

// The form's dialog, or nullptr before its first use.
TFullRepaymentDialog* FindFullRepaymentDialog(TForm1& form);

}  // namespace tilgung
