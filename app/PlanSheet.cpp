#include "app/PlanSheet.h"

#include <iterator>

#include "platform/data/DataSet.h"
#include "platform/data/Field.h"

namespace tilgung {

namespace {

// Puts the dataset back where the user left it and lets its controls repaint
// once, also when reading failed half-way.
class TPositionGuard {
 public:
  explicit TPositionGuard(platform::TDataSet& plan) : plan_(plan) {
    plan_.DisableControls();
    bookmark_ = plan_.GetBookmark();
  }
  ~TPositionGuard() {
    try {
      if (!bookmark_.empty() && plan_.BookmarkValid(bookmark_)) {
        plan_.GotoBookmark(bookmark_);
      } else if (plan_.Active()) {
        plan_.First();
      }
    } catch (...) {
      // The walk's own error, if any, is the one the caller hears of.
    }
    plan_.EnableControls();
  }
  TPositionGuard(const TPositionGuard&) = delete;
  TPositionGuard& operator=(const TPositionGuard&) = delete;

 private:
  platform::TDataSet& plan_;
  platform::TBookmark bookmark_;
};

}  // namespace

TPlanSheet ReadPlanSheet(platform::TDataSet& plan) {
  TPlanSheet sheet;
  for (int c = 0; c < kPlanColumnCount; ++c) sheet.titles[c] = kPlanFieldNames[c];
  if (!plan.Active()) return sheet;

  platform::TField* fields[kPlanColumnCount];
  for (int c = 0; c < kPlanColumnCount; ++c) {
    fields[c] = &plan.FieldByName(kPlanFieldNames[c]);
    sheet.titles[c] = fields[c]->DisplayLabel();
  }
  const TPositionGuard guard(plan);
  for (plan.First(); !plan.Eof(); plan.Next()) {
    TPlanCells line;
    for (int c = 0; c < kPlanColumnCount; ++c) line[c] = fields[c]->DisplayText();
    TPlanRow row;
    row.Jahr = fields[0]->AsInteger();
    row.Monat = fields[1]->AsInteger();
    row.Tag = fields[2]->AsInteger();
    row.Darlehen = fields[3]->AsFloat();
    row.Tilgung = fields[4]->AsFloat();
    row.Zins = fields[5]->AsFloat();
    sheet.cells.push_back(std::move(line));
    sheet.values.push_back(row);
  }
  return sheet;
}

TPlanSheet PlanSheetFromRows(const std::vector<TPlanRow>& rows) {
  TPlanSheet sheet;
  for (int c = 0; c < kPlanColumnCount; ++c) sheet.titles[c] = kPlanFieldNames[c];
  sheet.values = rows;
  sheet.cells.reserve(rows.size());
  for (const TPlanRow& row : rows) {
    TPlanCells line;
    for (int c = 0; c < kPlanColumnCount; ++c) line[c] = PlanCellText(row, c);
    sheet.cells.push_back(std::move(line));
  }
  return sheet;
}

TPlanColumns PlanColumns(const std::vector<TPlanRow>& rows) {
  TPlanColumns columns;
  columns.titles.assign(std::begin(kPlanFieldNames), std::end(kPlanFieldNames));
  columns.widths.assign(std::begin(kPlanColumnWidths), std::end(kPlanColumnWidths));
  columns.integerColumns = 3;
  columns.numbers.reserve(rows.size());
  for (const TPlanRow& r : rows) {
    columns.numbers.push_back({static_cast<double>(r.Jahr), static_cast<double>(r.Monat),
                               static_cast<double>(r.Tag), r.Darlehen, r.Tilgung, r.Zins});
  }
  return columns;
}

TPlanColumns SheetColumns(const TPlanSheet& sheet) {
  if (!sheet.own.titles.empty()) return sheet.own;
  TPlanColumns columns = PlanColumns(sheet.values);
  columns.titles.assign(sheet.titles.begin(), sheet.titles.end());
  columns.cells.reserve(sheet.cells.size());
  for (const TPlanCells& line : sheet.cells) columns.cells.emplace_back(line.begin(), line.end());
  return columns;
}

}  // namespace tilgung
