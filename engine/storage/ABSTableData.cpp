#include "engine/storage/ABSTableData.h"

#include "engine/types/ABSNames.h"

TABSTableData::TABSTableData(TABSDatabaseData& database, std::string_view tableName)
    : database_(database), tableName_(tableName), tableNameKey_(EngineNameKey(tableName)) {}

TABSTableData::~TABSTableData() = default;

void TABSTableData::SetTableName(std::string_view tableName) {
  if (tableName == tableName_) return;
  std::string key = EngineNameKey(tableName);  // the step that can fail comes first
  tableName_.assign(tableName);
  tableNameKey_ = std::move(key);
}

void TABSTableData::EndSessionBatch(std::int32_t /*sessionId*/) {}

TABSMemoryTableData::TABSMemoryTableData(TABSDatabaseData& database, std::string_view tableName,
                                         std::int32_t recordGrowthStep)
    : TABSTableData(database, tableName), recordGrowthStep_(recordGrowthStep) {}

TABSMemoryTableData::~TABSMemoryTableData() = default;
