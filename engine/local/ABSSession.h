// Engine sessions: the connection of one database component to one database.
//
// A session finds its database data object in the process-wide list
// (engine/tables/ABSDatabaseDataList.h), registers itself with it, and
// carries the per-connection state that cursors and the field manager need:
// the session ID, the transaction flag, the read-only and multi-user flags,
// and its named objects, where the last generated value of each
// auto-increment sequence is kept.
//
// TABSBaseSession is the abstract session; TABSLocalSession serves the
// databases held by this process: "MEMORY" and "TEMP". A database name
// other than exactly "MEMORY" or "TEMP" (letter case counts) would name a
// database file; this system has none, so attaching to one raises 10482.
//
// Ownership: the session owns its named objects. It borrows its database
// data (the process-wide list owns it).
//
// Threads: a session has no lock of its own; it is used by the thread of its
// database component. Attaching and detaching take the database list's lock
// and then the database lock, in that order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/tables/ABSStorageSession.h"

class TABSDatabaseData;

// An object of a session known by identifier and optionally by name.
class TABSSessionNamedObject {
 public:
  TABSSessionNamedObject(std::int32_t objectId, std::string_view name);
  virtual ~TABSSessionNamedObject() = default;

  std::int32_t ObjectId() const { return objectId_; }
  // At most 255 characters; empty for an object known by identifier only.
  const std::string& Name() const { return name_; }

 private:
  std::int32_t objectId_;
  std::string name_;
};

// The last value a session generated for an auto-increment field; the
// object ID is the field definition's.
class TABSSessionNamedObjectSequenceValue : public TABSSessionNamedObject {
 public:
  TABSSessionNamedObjectSequenceValue(std::int32_t objectId, std::int64_t value)
      : TABSSessionNamedObject(objectId, {}), SequenceValue(value) {}
  std::int64_t SequenceValue;
};

class TABSBaseSession : public TABSStorageSession {
 public:
  TABSBaseSession();
  ~TABSBaseSession() override;
  TABSBaseSession(const TABSBaseSession&) = delete;
  TABSBaseSession& operator=(const TABSBaseSession&) = delete;

  // Settings the database component fills in before it attaches.
  std::string DatabaseName;
  std::string DatabaseFileName;  // empty for "MEMORY"
  bool ReadOnly = false;         // replaced by the database's flag on attach
  bool Exclusive = false;
  std::int32_t MaxConnections = 0;
  bool MultiUser = false;
  std::string SessionName;  // set only with MultiUser

  // TABSStorageSession.
  std::int32_t SessionId() const override { return sessionId_; }
  void SetSessionId(std::int32_t sessionId) override { sessionId_ = sessionId; }
  bool InTransaction() const override { return inTransaction_; }
  // TABSSequenceSession, kept in the named objects.
  void RegisterSequenceValue(std::int32_t objectId, std::int64_t value) override;
  bool FindSequenceValue(std::int32_t objectId, std::int64_t& value) const override;
  bool IsMultiUser() const override { return MultiUser; }

  // Slots 0 to 16, in order.
  virtual bool IsAttached() const = 0;
  virtual void SetAttached(bool on) = 0;
  virtual bool DiskStateFlag() const = 0;
  virtual void SetDiskStateFlag(bool on) = 0;
  virtual void CreateNewDatabase() = 0;
  virtual void NoOperation() = 0;
  virtual void NoOperationWithText(std::string_view text) = 0;
  virtual void ListTableNames(std::vector<std::string>& names) = 0;
  virtual bool HasTable(std::string_view tableName) = 0;
  // Takes ownership of `object`. An object ID of -1 replaces the object of
  // the same name (engine name rule), any other ID the object of that ID;
  // then the object is appended. So at most one object per identifier.
  virtual void RegisterNamedObject(std::unique_ptr<TABSSessionNamedObject> object);
  // The first object of that name by the engine name rule (empty names never
  // match), or nil.
  virtual TABSSessionNamedObject* FindNamedObjectByName(std::string_view name) const;
  virtual TABSSessionNamedObject* FindNamedObjectById(std::int32_t objectId) const;
  // Frees the object with that ID, if any.
  virtual void RemoveNamedObject(std::int32_t objectId);
  virtual void EnterTransaction() = 0;
  virtual void CommitWork(bool flag) = 0;
  virtual void RollbackWork() = 0;
  virtual void FlushDatabase() = 0;

  std::size_t NamedObjectCount() const { return namedObjects_.size(); }

 protected:
  void SetInTransaction(bool on) { inTransaction_ = on; }

 private:
  std::int32_t sessionId_ = -1;
  bool inTransaction_ = false;
  std::vector<std::unique_ptr<TABSSessionNamedObject>> namedObjects_;
};

class TABSLocalSession : public TABSBaseSession {
 public:
  TABSLocalSession() = default;
  // Detaches when still registered with a database (never raises).
  ~TABSLocalSession() override;

  // The database data this session works with; nil until attached. Stays
  // set after detaching from "MEMORY" or "TEMP", which are never freed.
  TABSDatabaseData* DatabaseData() const { return databaseData_; }
  // True while the session is in its database's session list.
  bool IsRegistered() const { return registered_; }

  bool IsAttached() const override { return databaseData_ != nullptr; }
  // On: finds the database (10482 for a database that is not held in this
  // process), registers with it (which gives the session ID) and takes its
  // read-only flag. Off: unregisters. Nothing when already registered (on)
  // or unregistered (off); a detached session can be attached again.
  void SetAttached(bool on) override;
  bool DiskStateFlag() const override { return false; }
  void SetDiskStateFlag(bool /*on*/) override {}
  // 20092 for a database that exists (always "MEMORY" and "TEMP"), else
  // 10482: this system creates no database files.
  void CreateNewDatabase() override;
  void NoOperation() override {}
  void NoOperationWithText(std::string_view /*text*/) override {}
  // Appends the database's table names in creation order. An unattached
  // session looks the database up without attaching.
  void ListTableNames(std::vector<std::string>& names) override;
  // Whether the database has the table (engine name rule); like
  // ListTableNames it leaves an unattached session unattached.
  bool HasTable(std::string_view tableName) override;
  void EnterTransaction() override { SetInTransaction(true); }
  // 20229 outside a transaction; else the database's commit and the
  // transaction ends.
  void CommitWork(bool flag) override;
  // 20229 outside a transaction; else the database's rollback (record
  // changes of in-memory tables stay) and the transaction ends.
  void RollbackWork() override;
  void FlushDatabase() override;

  // Whether `data` is this session's database: for "MEMORY" and "TEMP"
  // (exact spelling) by the data's upper-cased name; for any other name by
  // the file name and the session name.
  bool MatchesDatabaseData(const TABSDatabaseData& data) const;
  // The first matching entry of the database list, or nil.
  TABSDatabaseData* FindDatabaseData() const;
  // Raises 10482: file databases are not part of this system.
  [[noreturn]] TABSDatabaseData& NewDiskDatabaseData() const;
  TABSDatabaseData& FindOrCreateDatabaseData() const;

 private:
  TABSDatabaseData* databaseData_ = nullptr;  // borrowed
  bool registered_ = false;
};
