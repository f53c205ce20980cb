// The temporary database "TEMP": one per process from engine start-up to
// shut-down; sessions whose database name is exactly "TEMP" attach to it.
// Its tables are TABSTemporaryTableData objects (append only, in memory up
// to a limit and in private temporary files beyond it).
//
// Object IDs start at 0. Destruction frees every table (popping each off
// the list before it dies) and never raises.
//
// Locks: the database lock of TABSDatabaseData.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/tables/ABSDatabaseData.h"

class TABSTemporaryDatabaseData final : public TABSDatabaseData {
 public:
  static constexpr std::string_view kName = "TEMP";

  TABSTemporaryDatabaseData();
  ~TABSTemporaryDatabaseData() override;

  // A new temporary table named `tableName` (growth step 1000, block size
  // 10); 10485 when the name is taken.
  TABSTableData& CreateTableData(std::string_view tableName) override;
  // 1, 2, 3, ... (as in "MEMORY"); 10484 once the 32-bit range is used up.
  std::int32_t NextObjectId() override;

 private:
  // Guarded by the database lock. IDs start at 1.
  std::int32_t nextObjectId_ = 1;
};

// The factory that engine start-up takes as TABSEngineOptions::
// MakeTemporaryDatabase, so that "TEMP" is this database.
std::unique_ptr<TABSDatabaseData> MakeTemporaryDatabaseData();
