#include "app/FullRepaymentTable.h"

#include <memory>

#include "app/PlanTable.h"
#include "engine/components/ABSTable.h"
#include "platform/data/DataSet.h"
#include "platform/data/Field.h"

namespace tilgung {

void CreateFullRepaymentTable(const std::string& tableName) {
  const auto creator = std::make_unique<TABSTable>(nullptr);
  creator->SetDatabaseName(kPlanDatabaseName);
  creator->SetTableName(tableName);
  creator->SetExclusive(true);
  creator->FieldDefs().Clear();
  for (int c = 0; c < kFullRepaymentColumnCount; ++c) {
    creator->FieldDefs().Add(
        kFullRepaymentFieldNames[c],
        c < kFullRepaymentIntegerColumns ? platform::ftInteger : platform::ftCurrency, 0, false);
  }
  creator->IndexDefs().Clear();
  creator->IndexDefs().Add(kFullRepaymentIndexName, kFullRepaymentFieldNames[0],
                           platform::ixPrimary | platform::ixUnique);
  creator->CreateTable();
}

TFullRepaymentTableSink::TFullRepaymentTableSink(TABSTable& table) : table_(table) {}

void TFullRepaymentTableSink::PrepareTable() {
  for (platform::TField*& field : fields_) field = nullptr;
  if (table_.State() == platform::TDataSetState::dsInsert ||
      table_.State() == platform::TDataSetState::dsEdit) {
    table_.Cancel();
  }
  table_.Close();
  table_.SetTableName(kFullRepaymentTableName);
  if (table_.Exists()) {
    table_.ClearTable();
  } else {
    CreateFullRepaymentTable(kFullRepaymentTableName);
  }
  table_.Open();
  for (int c = 0; c < kFullRepaymentColumnCount; ++c) {
    fields_[c] = &table_.FieldByName(kFullRepaymentFieldNames[c]);
  }
}

void TFullRepaymentTableSink::PostRow(const TFullRepaymentRow& row) {
  table_.Append();
  fields_[0]->SetAsInteger(row.Nr);
  fields_[1]->SetAsInteger(row.Jahr);
  fields_[2]->SetAsInteger(row.Monat);
  fields_[3]->SetAsInteger(row.Tag);
  fields_[4]->SetAsFloat(row.Darlehen);
  fields_[5]->SetAsFloat(row.Tilgung);
  fields_[6]->SetAsFloat(row.Sondertilgung);
  fields_[7]->SetAsFloat(row.Zins);
  fields_[8]->SetAsFloat(row.Rate);
  table_.Post();
}

std::vector<TFullRepaymentRow> ReadFullRepaymentRows(platform::TDataSet& plan,
                                                     std::vector<std::vector<std::string>>* cells) {
  std::vector<TFullRepaymentRow> rows;
  if (cells) cells->clear();
  if (!plan.Active()) return rows;
  platform::TField* f[kFullRepaymentColumnCount];
  for (int c = 0; c < kFullRepaymentColumnCount; ++c) {
    f[c] = &plan.FieldByName(kFullRepaymentFieldNames[c]);
  }
  // The walk leaves the current record and the controls as they were.
  plan.DisableControls();
  const platform::TBookmark bookmark = plan.GetBookmark();
  try {
    for (plan.First(); !plan.Eof(); plan.Next()) {
      TFullRepaymentRow row;
      row.Nr = f[0]->AsInteger();
      row.Jahr = f[1]->AsInteger();
      row.Monat = f[2]->AsInteger();
      row.Tag = f[3]->AsInteger();
      row.Darlehen = f[4]->AsFloat();
      row.Tilgung = f[5]->AsFloat();
      row.Sondertilgung = f[6]->AsFloat();
      row.Zins = f[7]->AsFloat();
      row.Rate = f[8]->AsFloat();
      rows.push_back(row);
      if (cells) {
        auto& line = cells->emplace_back();
        for (platform::TField* field : f) line.push_back(field->DisplayText());
      }
    }
    if (!bookmark.empty() && plan.BookmarkValid(bookmark)) plan.GotoBookmark(bookmark);
  } catch (...) {
    plan.EnableControls();
    throw;
  }
  plan.EnableControls();
  return rows;
}

}  // namespace tilgung
