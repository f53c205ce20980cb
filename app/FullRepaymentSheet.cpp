#include "app/FullRepaymentSheet.h"

#include "app/FullRepaymentCommandLine.h"
#include "app/FullRepaymentTable.h"

namespace tilgung {

namespace {

TPlanRow MainColumns(const TFullRepaymentRow& r) {
  TPlanRow row;
  row.Jahr = r.Jahr;
  row.Monat = r.Monat;
  row.Tag = r.Tag;
  row.Darlehen = r.Darlehen;
  row.Tilgung = r.Tilgung;
  row.Zins = r.Zins;
  return row;
}

class TCollectingSink : public TFullRepaymentRowSink {
 public:
  void PrepareTable() override { rows.clear(); }
  void PostRow(const TFullRepaymentRow& row) override { rows.push_back(MainColumns(row)); }
  std::vector<TPlanRow> rows;
};

}  // namespace

TPlanSheet ReadFullRepaymentSheet(platform::TDataSet& plan, const TFullRepaymentInputs& inputs) {
  std::vector<TPlanRow> rows;
  std::vector<double> extras;
  std::vector<std::vector<std::string>> cells;
  const std::vector<TFullRepaymentRow> full = ReadFullRepaymentRows(plan, &cells);
  for (const TFullRepaymentRow& r : full) {
    rows.push_back(MainColumns(r));
    extras.push_back(r.Sondertilgung);
  }
  TPlanSheet sheet = PlanSheetFromRows(rows);
  sheet.extras = std::move(extras);
  // Copy and CSV give all nine columns: the cells as the dialog's grid shows
  // them, and the CSV the command line writes for this plan.
  sheet.ownTitles.assign(std::begin(kFullRepaymentFieldNames), std::end(kFullRepaymentFieldNames));
  sheet.ownCells = std::move(cells);
  sheet.ownCsv = FullRepaymentCsvText(full);
  TFullRepaymentInputs plain = inputs;
  plain.yearlyAmountText.clear();
  plain.oneOffs.clear();
  TCollectingSink sink;
  if (CalculateFullRepayment(plain, sink).ok) sheet.withoutExtras = std::move(sink.rows);
  return sheet;
}

}  // namespace tilgung
