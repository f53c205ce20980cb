#include "engine/temporary/ABSTemporaryDatabaseData.h"

#include <mutex>

#include "engine/temporary/ABSTemporaryTableData.h"

TABSTemporaryDatabaseData::TABSTemporaryDatabaseData() : TABSDatabaseData(kName) {}

TABSTemporaryDatabaseData::~TABSTemporaryDatabaseData() {
  // Tables die while this object is still whole; FreeAllTables takes each
  // off the list before destroying it and swallows nothing it could raise,
  // because table destructors never raise.
  FreeAllTables();
}

TABSTableData& TABSTemporaryDatabaseData::CreateTableData(std::string_view tableName) {
  platform::RankedLockGuard hold(Lock());
  return AdoptTableData(std::make_unique<TABSTemporaryTableData>(
      *this, tableName, TABSTemporaryTableData::kRecordGrowthStep,
      TABSTemporaryTableData::kRecordBlockSize));
}

std::int32_t TABSTemporaryDatabaseData::NextObjectId() {
  return DrawObjectId(nextObjectId_);
}

std::unique_ptr<TABSDatabaseData> MakeTemporaryDatabaseData() {
  return std::make_unique<TABSTemporaryDatabaseData>();
}
