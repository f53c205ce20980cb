// The plan as the grid shows it, read in one pass from the dataset behind the
// grid: the column titles, every row's cell texts and the row's values. Copy,
// print, CSV, the yearly summary and the chart all start from a sheet read at
// the moment the user asks, so they show the table's rows as they are then.
//
// Rows computed outside a dataset give the same sheet with the texts the grid
// would show (PlanCellText), so the report writer sees one interface whichever
// way the rows came.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/PlanCalculation.h"
#include "app/PlanTexts.h"

namespace platform {
class TDataSet;
}

namespace tilgung {

using TPlanCells = std::array<std::string, kPlanColumnCount>;

// A plan's columns as copy, CSV and the printed report give them: the
// titles, their relative widths on the page, how many of the first columns
// hold whole numbers (the others are money), and per row the cells as the
// grid shows them and the same cells as numbers. Every row has one entry per
// title; `cells` or `numbers` is empty where its user does not need it.
struct TPlanColumns {
  std::vector<std::string> titles;
  std::vector<int> widths;
  int integerColumns = 0;
  std::vector<std::vector<std::string>> cells;
  std::vector<std::vector<double>> numbers;
};

struct TPlanSheet {
  TPlanCells titles;              // column titles as the grid heads them
  std::vector<TPlanCells> cells;  // per row: the cells' display texts
  std::vector<TPlanRow> values;   // per row: the same cells as values
  // A plan with extra repayments: per row the extra paid (Sondertilgung),
  // and the same loan's rows without any extra, for comparison. Both empty
  // for a plan that has no such column.
  std::vector<double> extras;
  std::vector<TPlanRow> withoutExtras;
  // A plan with columns of its own: what copy, CSV and the report give
  // instead of the six columns above. Without titles for the main plan.
  TPlanColumns own;
  bool HasExtras() const { return !extras.empty() || !withoutExtras.empty(); }
  int RowCount() const { return static_cast<int>(values.size()); }
};

// Reads every record of `plan` from the first to the last. The dataset's
// position is restored afterwards and its controls see no scrolling (the
// walk runs between DisableControls and EnableControls). An inactive dataset
// gives a sheet with titles and no rows.
// REQUIRES: `plan` has the fields Jahr, Monat, Tag, Darlehen, Tilgung, Zins.
// Errors of the dataset propagate after the position is restored.
TPlanSheet ReadPlanSheet(platform::TDataSet& plan);

// The sheet of rows computed outside a dataset.
TPlanSheet PlanSheetFromRows(const std::vector<TPlanRow>& rows);

// The main plan's six columns of `rows` with their numbers and no cells.
TPlanColumns PlanColumns(const std::vector<TPlanRow>& rows);

// The columns copy, CSV and the report give for `sheet`: its own, or the
// main plan's six with the sheet's titles and cells.
TPlanColumns SheetColumns(const TPlanSheet& sheet);

}  // namespace tilgung
