// The plan table: the engine table "Tilgungsplan" of the in-memory database
// "MEMORY" that holds the rows of the repayment plan, and the row sink that
// fills it through a table component.
//
// The window and the command line run the same steps on their table
// component, so both show what the engine holds: every recalculation closes
// the component (a record still being appended by a failed run is cancelled),
// names the table, empties it when it exists or creates it otherwise, opens it
// and then appends and posts one record per plan row.
//
// Ownership: the sink borrows its table component and its table creator; the
// table itself lives in the engine's database for the rest of the process.
// Threads: the thread of the table component.
#pragma once

#include <functional>
#include <string>

#include "app/PlanCalculation.h"

class TABSTable;

namespace platform {
class TField;
}

namespace tilgung {

inline constexpr const char* kPlanDatabaseName = "MEMORY";
inline constexpr const char* kPlanTableName = "Tilgungsplan";

// Sets up `table` as the window's plan component: "MEMORY" (in memory),
// neither read-only nor exclusive, no table name, closed.
// REQUIRES: `table` is closed.
void ConfigurePlanComponent(TABSTable& table);

// Creates the plan table `tableName` in "MEMORY" with its six fields through
// a table component of its own, which is freed before the function returns,
// on failure too. Returns true; the engine's errors propagate.
bool CreatePlanTable(const std::string& tableName);

// Fills the plan table through one table component.
class TPlanTableSink : public TPlanRowSink {
 public:
  // Creates the named table when it does not exist (the window's
  // DarlehenDatenbank); returns true.
  using TCreator = std::function<bool(const std::string&)>;

  // REQUIRES: `table` outlives the sink.
  explicit TPlanTableSink(TABSTable& table, TCreator creator = CreatePlanTable);

  // Close (cancelling a pending append), TableName, ClearTable or create,
  // open. Throws what the engine throws; the component stays closed then.
  void PrepareTable() override;
  // Append, the three integers, the three money values, Post.
  // REQUIRES: PrepareTable succeeded since the last failure.
  void PostRow(const TPlanRow& row) override;

  TABSTable& Table() const { return table_; }

 private:
  TABSTable& table_;
  TCreator creator_;
  // The six fields in column order, looked up once per open.
  platform::TField* fields_[6] = {};
};

}  // namespace tilgung
