// The plan grid's context menu and its keyboard shortcuts:
//   Kopieren                Ctrl+C   the plan as text and HTML on the clipboard
//   Drucken…                Ctrl+P   print preview of the report
//   Als CSV speichern…      Ctrl+S   the plan as CSV file
//   Jahresübersicht…        Ctrl+J   the yearly summary dialog
//   Diagramm…               Ctrl+D   the chart dialog
// Every action reads the plan from the dataset at the moment it runs
// (ReadPlanSheet), so it always sees the rows the grid shows.
//
// Ownership: the actions object is a child of the grid (Qt frees it with the
// grid); the dataset and the texts provider are borrowed and must outlive
// the grid. GUI thread only.
#pragma once

#include <QObject>
#include <functional>

#include "app/PlanReportTexts.h"

class QAction;
class QWidget;

namespace platform {
class TDataSet;
}

namespace tilgung {

class TPlanActions : public QObject {
  Q_OBJECT

 public:
  using TTextsProvider = std::function<TPlanWindowTexts()>;

  // REQUIRES: `grid` and `plan` outlive this object (it is `grid`'s child).
  TPlanActions(QWidget* grid, platform::TDataSet& plan, TTextsProvider texts);

  QAction* CopyAction() const { return copy_; }
  QAction* PrintAction() const { return print_; }
  QAction* CsvAction() const { return csv_; }
  QAction* SummaryAction() const { return summary_; }
  QAction* ChartAction() const { return chart_; }

  // The steps behind the actions, for callers that already know the answer
  // a dialog would ask for. SaveCsv: false with a German message in `error`
  // when the file cannot be written.
  void CopyToClipboard();
  bool SaveCsv(const QString& file, QString* error);

 private:
  void ShowContextMenu(const QPoint& pos);
  void PrintPreview();
  void AskAndSaveCsv();
  void ShowYearSummary();
  void ShowChart();
  TPlanSheet Sheet();
  QAction* Add(const char* text, const QKeySequence& keys, void (TPlanActions::*slot)());

  QWidget* grid_;
  platform::TDataSet& plan_;
  TTextsProvider texts_;
  QAction* copy_ = nullptr;
  QAction* print_ = nullptr;
  QAction* csv_ = nullptr;
  QAction* summary_ = nullptr;
  QAction* chart_ = nullptr;
};

// Installs the context menu and the shortcuts on `grid`; the result is owned
// by `grid`.
TPlanActions* InstallPlanActions(QWidget* grid, platform::TDataSet& plan,
                                 TPlanActions::TTextsProvider texts);

}  // namespace tilgung
