// The database component: names a database, connects to it through one
// engine session, and keeps the list of the datasets that use it.
//
// A database component belongs to one session component (the default
// session unless its owner is a session or its SessionName names another).
// Connecting creates a TABSLocalSession with the component's settings and
// attaches it; disconnecting closes the datasets, then detaches and frees the
// engine session (unless it was borrowed from a shared-handle component).
// A component that frees its engine session disconnects the components of
// its session that borrowed it first, so no component keeps a freed one.
// OpenCount counts the datasets that acquired the database.
//
// A temporary database component is one a session made for a dataset that
// named a database no component had; it is owned by that session (not as a
// component owner) and freed only by it (TABSSession::FreeTemporary).
//
// Locks: connecting holds the session lock around creating and attaching the
// engine session (session lock, then the database list, then the database).
// The dataset list and OpenCount are guarded by the session lock: datasets
// on different threads may share one component (the default session's).
// Errors: the dataset framework's database error with the component's name;
// engine errors of the engine session pass through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/ABSSessionComponent.h"
#include "platform/data/Component.h"

class TABSLocalSession;
namespace platform {
class TDataSet;
}

class TABSDatabase : public platform::TComponent, public TABSSessionNamed {
 public:
  // The version the engine reports, with its trailing blank.
  static constexpr const char* kCurrentVersion = "6.07 ";

  explicit TABSDatabase(platform::TComponent* owner = nullptr);
  // Disconnects and leaves the session's database list. Never raises.
  ~TABSDatabase() override;

  // --- published properties ---
  bool Connected() const { return engineSession_ != nullptr; }
  void SetConnected(bool on);
  std::string CurrentVersion() const { return kCurrentVersion; }
  void SetCurrentVersion(const std::string&) {}  // read only: a written value is ignored
  const std::string& DatabaseFileName() const { return databaseFileName_; }
  void SetDatabaseFileName(const std::string& name);
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& name);
  bool Exclusive = false;
  std::string Password;
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on) { readOnly_ = on; }
  bool HandleShared = false;
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool on);
  std::int32_t MaxConnections = 500;
  bool MultiUser = false;
  const std::string& SessionName() const override { return sessionName_; }
  void SetSessionName(const std::string& name) override;
  bool SilentMode = false;
  bool DisableTempFiles = false;

  // --- state ---
  TABSLocalSession* EngineSession() const { return engineSession_; }
  TABSSession* Session() const { return session_; }
  std::int32_t OpenCount() const { return openCount_; }
  bool IsTemporary() const { return isTemporary_; }
  bool HandleBorrowed() const { return handleBorrowed_; }
  const std::vector<platform::TDataSet*>& DatasetList() const { return datasets_; }

  // --- operations ---
  void ConnectDatabase();
  void DisconnectDatabase() noexcept(false);
  void CheckInactive();
  void CheckConnected() const;
  void CheckDatabaseName() const;
  // The database's table names; connects for the call and disconnects again
  // when it was not connected. Errors are swallowed (the list keeps what it got).
  void ListTables(std::vector<std::string>& names);
  // Connects when needed (and stays connected), then asks the engine session.
  bool TableExistsInDatabase(const std::string& tableName);
  // Refused for a connected component; 20092 from the engine for the
  // databases of this process.
  void CreateDatabaseFile();
  void StartDatabaseTransaction();
  void CommitDatabaseTransaction(bool flag = true);
  void RollbackDatabaseTransaction();
  bool IsInTransaction() const;

  // Datasets enter and leave the list while they use the database.
  void AddDataset(platform::TDataSet& dataset);
  void RemoveDataset(platform::TDataSet& dataset);
  // Binds the component to the session its SessionName names (activating
  // it when `activate`); refuses a name already used in that session.
  void AttachToSession(bool activate);
  void CheckDuplicateName(const std::string& name);

 protected:
  void Loaded() override;
  void Notification(platform::TComponent* component, platform::TOperation operation) override;

 private:
  friend class TABSSession;
  // A temporary component of `session`, with no component owner.
  explicit TABSDatabase(TABSSession& session);
  // Makes and adopts a new engine session with the component's settings.
  // REQUIRES: the session lock.
  void CreateEngineSession();
  void FreeEngineSession() noexcept;
  void CloseDatasets();

  std::string databaseName_;
  std::string databaseFileName_;
  std::string sessionName_;
  bool readOnly_ = false;
  bool keepConnection_ = true;
  bool connectedFromForm_ = false;
  bool isTemporary_ = false;
  bool handleBorrowed_ = false;
  // Closing its datasets while disconnecting: a release on the way must not
  // free or disconnect the component in the middle of its own disconnect.
  bool closingDatasets_ = false;
  std::int32_t openCount_ = 0;
  // File-database settings handed to and read back from the engine session.
  std::int32_t pageSize_ = 4096;
  std::int32_t pageCountInExtent_ = 8;
  std::int32_t encryption_ = 0;
  TABSSession* session_ = nullptr;  // borrowed
  // The engine session in use: ownedSession_, or one borrowed from a
  // shared-handle component (handleBorrowed_).
  TABSLocalSession* engineSession_ = nullptr;
  std::unique_ptr<TABSLocalSession> ownedSession_;
  std::vector<platform::TDataSet*> datasets_;  // borrowed
};
