// Helpers shared by the files of TABSLocalCursor; not part of its interface.
#pragma once

#include <cstdint>

#include "engine/memory/ABSException.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSTableData.h"

namespace local_cursor_detail {

// Holds the table's lock (its database's lock) for a scope.
class TableLock {
 public:
  explicit TableLock(TABSTableData& table) : table_(table) { table_.LockTable(); }
  ~TableLock() { table_.UnlockTable(); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  TABSTableData& table_;
};

// Holds a database's lock for a scope.
class DatabaseLock {
 public:
  explicit DatabaseLock(TABSDatabaseData& database) : database_(database) {
    database_.LockDatabase();
  }
  ~DatabaseLock() { database_.UnlockDatabase(); }
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

 private:
  TABSDatabaseData& database_;
};

// The attached table; 10009 when the cursor has none.
inline TABSTableData& TableOf(TABSTableData* table) {
  if (table == nullptr) throw EABSException(10009, "Nil pointer occured");
  return *table;
}

// Searches by field values answered through the current index since the
// process started (the others scan); lets tests see which way was taken.
std::int64_t IndexedLocateCount();

}  // namespace local_cursor_detail
