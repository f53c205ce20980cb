// Table data: the shared state of one table, owned by its database data.
//
// One table data object exists per table of a database and is shared by
// every cursor that has the table open. It knows its name and its database,
// and keeps the list of attached cursors (referenced, never owned).
//
// Locks: all state is guarded by the owning database's lock (see
// ABSDatabaseData.h); the table has no lock of its own.
//
// This header holds the part of the table data that the database data and
// the sessions rely on; the record, index and constraint services are built
// on top of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TABSCursorState;
class TABSDatabaseData;

class TABSTableData {
 public:
  TABSTableData(TABSDatabaseData& database, std::string_view tableName);
  virtual ~TABSTableData();
  TABSTableData(const TABSTableData&) = delete;
  TABSTableData& operator=(const TABSTableData&) = delete;

  TABSDatabaseData& DatabaseData() const { return database_; }

  // The name as last given by a cursor, and its comparison key under the
  // engine name rule (kept so that lookups need not upper-case it again).
  const std::string& TableName() const { return tableName_; }
  const std::string& TableNameKey() const { return tableNameKey_; }
  // REQUIRES: the database lock.
  void SetTableName(std::string_view tableName);

  // The attached cursors, in attaching order; borrowed.
  const std::vector<TABSCursorState*>& Cursors() const { return cursors_; }
  std::size_t AttachedCursorCount() const { return cursors_.size(); }

  // Slot 39. Runs when session `sessionId` rolls back a transaction: brings
  // the temporary indexes of that session's attached cursors up to date.
  virtual void EndSessionBatch(std::int32_t sessionId);

 protected:
  // Guarded by the database lock.
  std::vector<TABSCursorState*> cursors_;

 private:
  TABSDatabaseData& database_;
  // Guarded by the database lock.
  std::string tableName_;
  std::string tableNameKey_;
};

// A table of the in-memory database: records, index pages and BLOBs live in
// process memory only.
class TABSMemoryTableData : public TABSTableData {
 public:
  // `recordGrowthStep`: record slots the record store adds at a time.
  TABSMemoryTableData(TABSDatabaseData& database, std::string_view tableName,
                      std::int32_t recordGrowthStep);
  ~TABSMemoryTableData() override;

  std::int32_t RecordGrowthStep() const { return recordGrowthStep_; }

 private:
  const std::int32_t recordGrowthStep_;
};
