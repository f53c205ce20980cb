// The plan until the loan is repaid in the engine: the table
// "Volltilgungsplan" of "MEMORY" with a unique primary index on Nr, and the
// row sink that fills it through a table component.
//
// The sink runs the steps of the main plan's sink (TPlanTableSink): close
// the component (cancelling a pending append), name the table, empty it when
// it exists or create it otherwise, open it, then one Append/Post per row.
// Everything that shows or prints this plan reads it back from the table.
//
// Ownership: the sink borrows its table component; the table lives in the
// engine's database for the rest of the process. Threads: the thread of the
// table component.
#pragma once

#include <string>
#include <vector>

#include "app/FullRepaymentPlan.h"

class TABSTable;

namespace platform {
class TDataSet;
class TField;
}  // namespace platform

namespace tilgung {

inline constexpr const char* kFullRepaymentTableName = "Volltilgungsplan";
inline constexpr const char* kFullRepaymentIndexName = "ByNr";

// Field names in column order: four integers, then five money values.
inline constexpr int kFullRepaymentColumnCount = 9;
inline constexpr int kFullRepaymentIntegerColumns = 4;
inline constexpr const char* kFullRepaymentFieldNames[kFullRepaymentColumnCount] = {
    "Nr", "Jahr", "Monat", "Tag", "Darlehen", "Tilgung", "Sondertilgung", "Zins", "Rate"};

// Creates `tableName` in "MEMORY" with the nine fields and the unique primary
// index on Nr, through a table component of its own that is freed before the
// function returns. The engine's errors propagate.
void CreateFullRepaymentTable(const std::string& tableName);

class TFullRepaymentTableSink : public TFullRepaymentRowSink {
 public:
  // REQUIRES: `table` is set up by ConfigurePlanComponent and outlives the sink.
  explicit TFullRepaymentTableSink(TABSTable& table);

  // Throws what the engine throws; the component stays closed then.
  void PrepareTable() override;
  // REQUIRES: PrepareTable succeeded since the last failure.
  void PostRow(const TFullRepaymentRow& row) override;

  TABSTable& Table() const { return table_; }

 private:
  TABSTable& table_;
  platform::TField* fields_[kFullRepaymentColumnCount] = {};  // looked up once per open
};

// The rows an open plan dataset holds, in the order of its records; none
// when it is closed. The current record stays where it was. With `cells`,
// the same walk also gives each row's fields as a grid shows them.
std::vector<TFullRepaymentRow> ReadFullRepaymentRows(
    platform::TDataSet& plan, std::vector<std::vector<std::string>>* cells = nullptr);

}  // namespace tilgung
