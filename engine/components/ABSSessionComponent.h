// Session components and the process-wide session list.
//
// TABSSessionList holds every session component of the process, in creation
// order; the first one added is the default session "Default", which engine
// start-up creates (StartSessions) and which datasets without a session name
// use. TABSSession keeps the database components of one session
// (TABSDatabase, ABSDatabaseComponent.h) and hands them out by name: a
// dataset acquires the database it names, and the session creates a
// temporary database component for a name it does not know yet.
//
// Locks. SessionLock() is the one process-wide re-entrant session lock (rank
// Session, the outermost of the engine): it serialises the session and
// database components; lookups, acquiring and releasing, activation and the
// automatic-name numbers run under it. The session list has its own lock
// (rank SessionList) for adding, looking up, naming and removing sessions:
// a listed session's name is written only under it.
//
// Ownership. The session list owns the sessions it creates (the default
// session); a session placed on a form belongs to its owner component. Every
// session leaves the list when it is destroyed. A session owns the temporary
// database components it creates (temporaries_, not as a component owner);
// they die only in FreeTemporary, under the session lock. Its database list
// only refers to its database components.
//
// Errors. 20002 (an engine error) for a session name no session has; the
// other failures are the dataset framework's database error with the
// component's name in front.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/data/Component.h"
#include "platform/os/RankedMutex.h"

class TABSDatabase;
class TABSSession;

// The engine token a session holds while it is active. It has no behaviour
// of its own: holding one marks the session as active.
class TABSSessionComponentManager {};

// What a session needs of the datasets and database components on its
// owner when it hands its automatically made name on to them.
class TABSSessionNamed {
 public:
  virtual ~TABSSessionNamed() = default;
  virtual const std::string& SessionName() const = 0;
  virtual void SetSessionName(const std::string& name) = 0;
};

class TABSSessionList {
 public:
  TABSSessionList();
  ~TABSSessionList();  // frees every session, the last first
  TABSSessionList(const TABSSessionList&) = delete;
  TABSSessionList& operator=(const TABSSessionList&) = delete;

  // Appends `session`; the first session ever added is the default session.
  void AddSessionToList(TABSSession& session);
  // Removes `session` (its destructor calls this).
  void RemoveSessionFromList(TABSSession& session);
  // "" gives the default session; otherwise the first session whose
  // SessionName is `name` ignoring case, or nil.
  TABSSession* LookupSession(std::string_view name);
  // Gives `session` the name `name` unless another session has it already
  // (ignoring case; then false and nothing changes). The one place a listed
  // session's name is written, so lookups on other threads read it safely.
  bool NameSession(TABSSession& session, const std::string& name);
  // As LookupSession, raising 20002 "Invalid session name '%s'" for none.
  TABSSession& RequireSession(std::string_view name);
  // Frees every session, from the last to the first.
  void FreeAllSessions() noexcept;
  TABSSession* DefaultSession() {
    platform::RankedLockGuard hold(listLock_);
    return default_;
  }
  std::size_t Count();

  // The lowest automatic-name number not yet taken, now taken (under the
  // session lock); and giving one back.
  int TakeAutoNameNumber();
  void ReleaseAutoNameNumber(int number);

  // The one session lock of the process (see the header comment).
  platform::RankedMutex& SessionLock() { return sessionLock_; }
  // The process-wide engine token of the default session (created when first
  // needed, freed when the default session deactivates).
  std::unique_ptr<TABSSessionComponentManager>& DefaultToken() { return defaultToken_; }

 private:
  platform::RankedMutex sessionLock_{platform::LockRank::Session};
  platform::RankedMutex listLock_{platform::LockRank::SessionList};
  // Guarded by listLock_.
  std::vector<TABSSession*> sessions_;
  TABSSession* default_ = nullptr;
  // Guarded by sessionLock_.
  std::vector<bool> autoNumbers_;
  std::unique_ptr<TABSSessionComponentManager> defaultToken_;
  // Sessions the list created and owns (the default session).
  std::vector<std::unique_ptr<TABSSession>> owned_;
  friend void StartSessions();
};

// Creates the session list with the default session "Default". Raises
// 10440 when it exists already.
void StartSessions();
// Frees the session list and every session. Never raises.
void StopSessions() noexcept;
// The session list; raises 10441 without one.
TABSSessionList& Sessions();
bool SessionsStarted() noexcept;
// `format` with its first "%s" replaced by `value`, for the database errors of
// the session and database components (the value is never read as a format).
std::string ComponentErrorText(std::string_view format, std::string_view value);

class TABSSession : public platform::TComponent {
 public:
  // Refuses to join an owner that has a session with automatic naming.
  explicit TABSSession(platform::TComponent* owner = nullptr);
  ~TABSSession() override;

  // --- published properties ---
  bool Active() const { return token_ != nullptr || usesDefaultToken_; }
  void SetActive(bool active);
  bool AutoSessionName() const { return autoSessionName_; }
  void SetAutoSessionName(bool on);
  bool KeepConnections() const { return keepConnections_; }
  void SetKeepConnections(bool on) { keepConnections_ = on; }
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& name);
  std::function<void(TABSSession&)> OnStartup;

  bool IsDefaultSession() const { return isDefault_; }
  const std::vector<TABSDatabase*>& DatabaseList() const { return databases_; }

  // Makes sure the session is active, activating it when it is not.
  // REQUIRES: the session lock (Sessions().SessionLock()).
  void EnsureActive();

  // The first database component named `name` (ignoring case; an unnamed one
  // only when temporary), or nil.
  TABSDatabase* LookupDatabase(std::string_view name);
  // A shared-handle database component of `owner` with that name first,
  // else LookupDatabase.
  TABSDatabase* LookupDatabaseForOwner(std::string_view name, const platform::TComponent* owner);
  // The database component for `name`, made (temporary, owned by this
  // session) and connected when needed; its open count goes up by one. A
  // failure leaves no new component behind.
  TABSDatabase& AcquireDatabase(std::string_view name, const platform::TComponent* owner);
  // The open count goes down; an unused database without KeepConnection is
  // freed (temporary) or disconnected.
  void ReleaseDatabase(TABSDatabase& database);
  void RegisterDatabase(TABSDatabase& database);
  void UnregisterDatabase(TABSDatabase& database);
  // The engine session of a connected shared-handle database component of
  // that name, or nil.
  class TABSLocalSession* FindSharedEngineSession(std::string_view name);

  // Renaming the component re-derives an automatic session name.
  void SetName(const std::string& name) override;

 protected:
  void Loaded() override;
  void Notification(platform::TComponent* component, platform::TOperation operation) override;

 private:
  friend class TABSSessionList;
  friend class TABSDatabase;  // an idle temporary gives way to a named component
  void ActivateSession(bool on);
  // Frees temporary component `database` of this session; nothing when it is
  // not one (anymore: freeing it closes its datasets, which release it
  // again). Never raises. REQUIRES: the session lock.
  void FreeTemporary(TABSDatabase& database) noexcept;
  void CheckSessionInactive() const;
  void CheckSiblingSessions(bool automatic) const;
  void MakeAutoSessionName();
  void PropagateSessionName();

  std::string sessionName_;
  bool autoSessionName_ = false;
  bool keepConnections_ = true;
  bool isDefault_ = false;
  bool activeFromForm_ = false;
  bool settingAutoName_ = false;
  int autoNumber_ = -1;
  // Own token of a session other than the default one; the default session
  // uses the list's token (usesDefaultToken_).
  std::unique_ptr<TABSSessionComponentManager> token_;
  bool usesDefaultToken_ = false;
  // Borrowed; guarded by the session lock.
  std::vector<TABSDatabase*> databases_;
  // The temporary components this session made (AcquireDatabase); guarded by
  // the session lock. Each is also in databases_.
  std::vector<std::unique_ptr<TABSDatabase>> temporaries_;
};
