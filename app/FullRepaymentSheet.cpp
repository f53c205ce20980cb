#include "app/FullRepaymentSheet.h"

#include <iterator>
#include <utility>

namespace tilgung {

namespace {

// The main plan's six columns of each row.
std::vector<TPlanRow> MainColumns(const std::vector<TFullRepaymentRow>& rows) {
  std::vector<TPlanRow> main;
  main.reserve(rows.size());
  for (const TFullRepaymentRow& r : rows) {
    main.push_back(TPlanRow{r.Jahr, r.Monat, r.Tag, r.Darlehen, r.Tilgung, r.Zins});
  }
  return main;
}

}  // namespace

TPlanColumns FullRepaymentColumns(const std::vector<TFullRepaymentRow>& rows,
                                  std::vector<std::vector<std::string>> cells) {
  TPlanColumns columns;
  columns.titles.assign(std::begin(kFullRepaymentFieldNames), std::end(kFullRepaymentFieldNames));
  columns.widths.assign(std::begin(kFullRepaymentColumnWidths),
                        std::end(kFullRepaymentColumnWidths));
  columns.integerColumns = kFullRepaymentIntegerColumns;
  columns.cells = std::move(cells);
  columns.numbers.reserve(rows.size());
  for (const TFullRepaymentRow& r : rows) {
    columns.numbers.push_back({static_cast<double>(r.Nr), static_cast<double>(r.Jahr),
                               static_cast<double>(r.Monat), static_cast<double>(r.Tag), r.Darlehen,
                               r.Tilgung, r.Sondertilgung, r.Zins, r.Rate});
  }
  return columns;
}

TPlanSheet ReadFullRepaymentSheet(platform::TDataSet& plan, const TFullRepaymentInputs& inputs) {
  std::vector<std::vector<std::string>> cells;
  const std::vector<TFullRepaymentRow> rows = ReadFullRepaymentRows(plan, &cells);
  TPlanSheet sheet = PlanSheetFromRows(MainColumns(rows));
  sheet.extras.reserve(rows.size());
  for (const TFullRepaymentRow& r : rows) sheet.extras.push_back(r.Sondertilgung);
  sheet.own = FullRepaymentColumns(rows, std::move(cells));
  TFullRepaymentInputs plain = inputs;
  plain.yearlyAmountText.clear();
  plain.oneOffs.clear();
  TFullRepaymentRowVector without;
  if (CalculateFullRepayment(plain, without).ok) sheet.withoutExtras = MainColumns(without.rows);
  return sheet;
}

}  // namespace tilgung
