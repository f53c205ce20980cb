// The plan grid's context menu and its keyboard shortcuts:
//   Kopieren                Ctrl+C   the plan as text and HTML on the clipboard
//   Drucken…                Ctrl+P   print preview of the report
//   Als CSV speichern…      Ctrl+S   the plan as CSV file
//   Jahresübersicht…        Ctrl+J   the yearly summary dialog
//   Diagramm…               Ctrl+D   the chart dialog
// Every action reads the plan from the dataset at the moment it runs
// (ReadPlanSheet), so it always sees the rows the grid shows.
//
// While the plan is not current (the window's last recalculation failed and
// the grid still shows the plan of earlier inputs), every action, from the
// menu or its shortcut, only says so in a message (kPlanNotCurrentText) and
// does nothing else; it works again as soon as a recalculation succeeds.
//
// Ownership: the actions object is a child of the grid (Qt frees it with the
// grid); the dataset, the texts provider and the current check are borrowed
// and must outlive the grid. GUI thread only.
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

// The message of an action refused while the plan belongs to earlier inputs.
inline constexpr const char* kPlanNotCurrentText =
    "Die Eingaben sind nicht gültig. Die Tabelle zeigt noch den Plan früherer Eingaben; "
    "er wird erst nach einer Korrektur wieder ausgegeben.";

class TPlanActions : public QObject {
  Q_OBJECT

 public:
  using TTextsProvider = std::function<TPlanWindowTexts()>;
  // True while the dataset's plan belongs to the inputs shown; an empty
  // function counts as always true.
  using TCurrentCheck = std::function<bool()>;
  // Reads the sheet the actions work on; an empty function reads the main
  // plan's columns from the dataset (ReadPlanSheet).
  using TSheetReader = std::function<TPlanSheet()>;

  // REQUIRES: `grid` and `plan` outlive this object (it is `grid`'s child).
  TPlanActions(QWidget* grid, platform::TDataSet& plan, TTextsProvider texts,
               TCurrentCheck isCurrent = {}, TSheetReader reader = {});

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
  bool RefuseStalePlan(const QAction* action);
  QAction* Add(const char* text, const QKeySequence& keys, void (TPlanActions::*slot)());

  QWidget* grid_;
  platform::TDataSet& plan_;
  TTextsProvider texts_;
  TCurrentCheck isCurrent_;
  TSheetReader reader_;
  QAction* copy_ = nullptr;
  QAction* print_ = nullptr;
  QAction* csv_ = nullptr;
  QAction* summary_ = nullptr;
  QAction* chart_ = nullptr;
};

// Installs the context menu and the shortcuts on `grid`; the result is owned
// by `grid`.
TPlanActions* InstallPlanActions(QWidget* grid, platform::TDataSet& plan,
                                 TPlanActions::TTextsProvider texts,
                                 TPlanActions::TCurrentCheck isCurrent = {},
                                 TPlanActions::TSheetReader reader = {});

}  // namespace tilgung
