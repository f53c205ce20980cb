#include "app/PlanTable.h"

#include <memory>

#include "app/PlanTexts.h"
#include "engine/components/ABSTable.h"
#include "platform/data/Field.h"

namespace tilgung {

void ConfigurePlanComponent(TABSTable& table) {
  table.SetCurrentVersion(TABSTable::kCurrentVersion);
  table.SetDatabaseName(kPlanDatabaseName);
  table.SetInMemory(true);
  table.SetReadOnly(false);
  table.SetExclusive(false);
}

bool CreatePlanTable(const std::string& tableName) {
  // A component of its own, never opened, used for this one creation only.
  const auto creator = std::make_unique<TABSTable>(nullptr);
  creator->SetDatabaseName(kPlanDatabaseName);
  creator->SetTableName(tableName);
  creator->SetExclusive(true);
  creator->FieldDefs().Clear();
  for (int c = 0; c < kPlanColumnCount; ++c) {
    creator->FieldDefs().Add(kPlanFieldNames[c], c < 3 ? platform::ftInteger : platform::ftCurrency,
                             0, false);
  }
  creator->CreateTable();
  return true;
}

TPlanTableSink::TPlanTableSink(TABSTable& table, TCreator creator)
    : table_(table), creator_(std::move(creator)) {}

void TPlanTableSink::PrepareTable() {
  for (platform::TField*& field : fields_) field = nullptr;
  // A record a failed run left in the middle of its append is dropped, not
  // posted by the close.
  if (table_.State() == platform::TDataSetState::dsInsert ||
      table_.State() == platform::TDataSetState::dsEdit) {
    table_.Cancel();
  }
  table_.Close();
  table_.SetTableName(kPlanTableName);
  if (table_.Exists()) {
    table_.ClearTable();
  } else {
    creator_(kPlanTableName);
  }
  table_.Open();
  for (int c = 0; c < kPlanColumnCount; ++c) fields_[c] = &table_.FieldByName(kPlanFieldNames[c]);
}

void TPlanTableSink::PostRow(const TPlanRow& row) {
  table_.Append();
  fields_[0]->SetAsInteger(row.Jahr);
  fields_[1]->SetAsInteger(row.Monat);
  fields_[2]->SetAsInteger(row.Tag);
  fields_[3]->SetAsFloat(row.Darlehen);
  fields_[4]->SetAsFloat(row.Tilgung);
  fields_[5]->SetAsFloat(row.Zins);
  table_.Post();
}

}  // namespace tilgung
