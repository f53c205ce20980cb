// Database data: the shared, process-wide state of one database.
//
// TABSDatabaseData keeps the engine sessions attached to the database (not
// owned), the database's tables (owned: destroying the database data
// destroys them), its name, and the one lock of table storage.
// TABSMemoryDatabaseData is the in-memory database "MEMORY": exactly one
// exists from engine start-up to shut-down, so its tables outlive every
// session, cursor and component.
//
// Locks. The database lock (rank Database in platform/os/RankedMutex.h) is
// re-entrant and guards everything below "guarded by the database lock":
// the session and table lists, the object-ID counter and all state of all
// tables of the database (their managers, records, cursor lists, names).
// Cursor record operations and table operations take it; a cursor may hold
// it across several table data calls. The process-wide list of database
// data objects (TABSDatabaseDataList) has its own lock, taken before any
// database lock, never after one. A thread never holds two database locks.
//
// Names. Tables are found by the one engine name rule (engine/types/
// ABSNames.h): "does it exist" and "find it" always agree. A table keeps the
// spelling of the name it was created or last attached with.
//
// Destruction never raises: every table is destroyed, also one that still
// has attached cursors (callers must detach every cursor before the engine
// shuts down; a debug build reports such a table on stderr).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/RankedMutex.h"

class TABSPageManager;
class TABSStorageSession;
class TABSTableData;

class TABSDatabaseData {
 public:
  explicit TABSDatabaseData(std::string_view name);
  virtual ~TABSDatabaseData();
  TABSDatabaseData(const TABSDatabaseData&) = delete;
  TABSDatabaseData& operator=(const TABSDatabaseData&) = delete;

  // Constant after construction.
  const std::string& Name() const { return name_; }
  // The read-only flag a session copies when it attaches (false in memory).
  bool ReadOnly() const { return readOnly_; }
  // The database-wide page manager of a file database; nil in memory, where
  // every table owns its own.
  TABSPageManager* PageManager() const { return pageManager_; }

  // Slot 0. Appends `session` to the session list and gives it its session
  // ID (0 in the base and in memory). REQUIRES: not yet attached here.
  virtual void AddSession(TABSStorageSession& session);
  // Slot 1. Removes `session` from the list; nothing when it is not there.
  virtual void RemoveSession(TABSStorageSession& session);
  // Slot 2. True when no session is attached, so that the owner of a file
  // database may free it. The memory and temporary databases are never freed
  // this way.
  virtual bool FreeIfUnused() const;
  // Slot 3. Appends every table's name, in table list order.
  virtual void CollectTableNames(std::vector<std::string>& names) const;
  // Slot 4. Creates the database's storage; nothing for memory databases.
  virtual void CreateDatabaseStorage() {}
  // Slot 5. A new table data object named `tableName`, appended to the table
  // list and owned by it. A name that an existing table has by the engine
  // name rule raises 10485: no two tables of a database share a name.
  virtual TABSTableData& CreateTableData(std::string_view tableName) = 0;
  // Slot 6. The first table whose name is `tableName` by the engine name
  // rule, or nil. Allocates nothing for names of up to 15 bytes.
  virtual TABSTableData* FindTableData(std::string_view tableName) const;
  // Slot 7. FindTableData, else CreateTableData, as one step under the lock.
  virtual TABSTableData& FindOrCreateTableData(std::string_view tableName);
  // Slot 8. The next object ID of the database: 1, 2, 3, ... never reused
  // (10484 once the 32-bit range is used up).
  virtual std::int32_t NextObjectId() = 0;
  // Slot 9. A session's commit: commits its pending pages of the database
  // page manager (none in memory, where this does nothing).
  virtual void CommitSessionChanges(std::int32_t sessionId, bool flag);
  // Slot 10. A session's rollback: discards its pages of the database page
  // manager (if any) and ends the session's batch on every table, which
  // brings its temporary indexes up to date. Record changes stay.
  virtual void RollbackSessionChanges(std::int32_t sessionId);
  // Slot 11. Writes pending storage out; nothing for memory databases.
  virtual void FlushDatabaseStorage() {}

  // Enter and leave the database lock; may be nested.
  void LockDatabase() { lock_.lock(); }
  void UnlockDatabase() { lock_.unlock(); }
  platform::RankedMutex& Lock() const { return lock_; }
  // True when a table named `tableName` exists (the rule of FindTableData).
  bool TableExists(std::string_view tableName) const;

  std::size_t SessionCount() const;
  std::size_t TableCount() const;
  // Destroys `table`, which must belong to this database, and removes it
  // from the table list. The caller holds no pointer to it afterwards.
  void FreeTableData(TABSTableData& table) noexcept;

 protected:
  // Appends a table built by a derived class; returns it.
  TABSTableData& AdoptTableData(std::unique_ptr<TABSTableData> table);
  // Hands out `next` and advances it, under the lock; raises 10484 instead
  // of wrapping past the 32-bit range.
  std::int32_t DrawObjectId(std::int32_t& next);
  // Destroys every table (destructors of derived classes call it first, so
  // that tables die while the derived part still exists). Never raises.
  void FreeAllTables() noexcept;

  // Constant after construction (set by derived constructors).
  bool readOnly_ = false;
  TABSPageManager* pageManager_ = nullptr;

 private:
  const std::string name_;
  mutable platform::RankedMutex lock_{platform::LockRank::Database};

  // Guarded by lock_.
  std::vector<TABSStorageSession*> sessions_;
  std::vector<std::unique_ptr<TABSTableData>> tables_;
};

// The in-memory database "MEMORY". Every session gets session ID 0; commit
// does nothing and rollback keeps every record change, since in-memory
// tables apply changes at once and keep no undo information.
class TABSMemoryDatabaseData : public TABSDatabaseData {
 public:
  static constexpr std::string_view kName = "MEMORY";
  // Record slots an in-memory table adds at a time.
  static constexpr std::int32_t kRecordGrowthStep = 1000;

  TABSMemoryDatabaseData();
  ~TABSMemoryDatabaseData() override;

  void AddSession(TABSStorageSession& session) override;
  TABSTableData& CreateTableData(std::string_view tableName) override;
  // Raises 10484 once the 32-bit ID range is used up (never reuses or wraps).
  std::int32_t NextObjectId() override;

 private:
  // Guarded by the database lock. IDs start at 1.
  std::int32_t nextObjectId_ = 1;
};
