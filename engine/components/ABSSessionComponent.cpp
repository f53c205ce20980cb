#include "engine/components/ABSSessionComponent.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <mutex>

#include "engine/components/ABSDatabaseComponent.h"
#include "engine/local/ABSSession.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/types/ABSNames.h"
#include "platform/data/DataSet.h"
#include "platform/data/DatabaseError.h"

namespace {

using Guard = platform::RankedLockGuard;

// Written only by StartSessions and StopSessions (engine start-up and
// shut-down, on one thread before and after all other engine work).
std::atomic<TABSSessionList*> theSessions{nullptr};

}  // namespace

// --- the session list -------------------------------------------------------

TABSSessionList::TABSSessionList() = default;

TABSSessionList::~TABSSessionList() {
  FreeAllSessions();
}

void TABSSessionList::AddSessionToList(TABSSession& session) {
  Guard hold(listLock_);
  if (sessions_.empty() && default_ == nullptr) {
    session.isDefault_ = true;
    default_ = &session;
  }
  sessions_.push_back(&session);
}

void TABSSessionList::RemoveSessionFromList(TABSSession& session) {
  Guard hold(listLock_);
  auto it = std::find(sessions_.begin(), sessions_.end(), &session);
  if (it != sessions_.end()) sessions_.erase(it);
  if (default_ == &session) default_ = nullptr;
}

TABSSession* TABSSessionList::LookupSession(std::string_view name) {
  Guard hold(listLock_);
  if (name.empty()) return default_;
  for (TABSSession* session : sessions_) {
    if (EngineNamesEqual(session->SessionName(), name)) return session;
  }
  return nullptr;
}

TABSSession& TABSSessionList::RequireSession(std::string_view name) {
  TABSSession* session = LookupSession(name);
  if (session == nullptr) throw EABSException(20002, "Invalid session name '%s'", {name});
  return *session;
}

bool TABSSessionList::NameSession(TABSSession& session, const std::string& name) {
  Guard hold(listLock_);
  if (!name.empty()) {
    for (TABSSession* other : sessions_) {
      if (other != &session && EngineNamesEqual(other->SessionName(), name)) return false;
    }
  }
  session.sessionName_ = name;
  return true;
}

void TABSSessionList::FreeAllSessions() noexcept {
  // A session deactivates as it dies, which takes the session lock; that lock
  // ranks before the list's own, so it is taken first.
  Guard session(sessionLock_);
  Guard hold(listLock_);
  while (!sessions_.empty()) {
    TABSSession* last = sessions_.back();
    auto owned = std::find_if(owned_.begin(), owned_.end(),
                              [&](const auto& held) { return held.get() == last; });
    if (owned != owned_.end()) {
      std::unique_ptr<TABSSession> doomed = std::move(*owned);
      owned_.erase(owned);
      doomed.reset();  // leaves sessions_ in its destructor
    } else {
      delete last;  // a session of a form still alive at shut-down
    }
  }
  owned_.clear();
}

std::size_t TABSSessionList::Count() {
  Guard hold(listLock_);
  return sessions_.size();
}

int TABSSessionList::TakeAutoNameNumber() {
  Guard hold(sessionLock_);
  auto free = std::find(autoNumbers_.begin(), autoNumbers_.end(), false);
  const int number = static_cast<int>(free - autoNumbers_.begin());
  if (free == autoNumbers_.end()) {
    autoNumbers_.push_back(true);
  } else {
    *free = true;
  }
  return number;
}

void TABSSessionList::ReleaseAutoNameNumber(int number) {
  Guard hold(sessionLock_);
  if (number >= 0 && static_cast<std::size_t>(number) < autoNumbers_.size()) {
    autoNumbers_[static_cast<std::size_t>(number)] = false;
  }
}

void StartSessions() {
  if (theSessions.load() != nullptr) {
    throw EABSException(native_code::kSessionsStartedTwice, "The session list exists already");
  }
  auto list = std::make_unique<TABSSessionList>();
  theSessions.store(list.get());
  try {
    auto session = std::make_unique<TABSSession>();
    session->SetSessionName("Default");
    list->owned_.push_back(std::move(session));
  } catch (...) {
    theSessions.store(nullptr);
    throw;
  }
  list.release();
}

void StopSessions() noexcept {
  TABSSessionList* list = theSessions.load();
  if (list == nullptr) return;
  list->FreeAllSessions();  // sessions still find the list while they die
  theSessions.store(nullptr);
  delete list;
}

TABSSessionList& Sessions() {
  TABSSessionList* list = theSessions.load();
  if (list == nullptr) {
    throw EABSException(native_code::kSessionsNotStarted, "The session list does not exist");
  }
  return *list;
}

std::string ComponentErrorText(std::string_view format, std::string_view value) {
  std::string text(format);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

bool SessionsStarted() noexcept {
  return theSessions.load() != nullptr;
}

// --- the session component --------------------------------------------------

TABSSession::TABSSession(platform::TComponent* owner) : platform::TComponent(owner) {
  try {
    CheckSiblingSessions(false);
    Sessions().AddSessionToList(*this);
  } catch (...) {
    // The base destructor runs; make sure nothing refers to this session.
    if (SessionsStarted()) Sessions().RemoveSessionFromList(*this);
    throw;
  }
  NotifyInserted();
}

TABSSession::~TABSSession() {
  try {
    SetActive(false);
  } catch (...) {
    // Deactivation only frees and disconnects; nothing to report here.
  }
  if (SessionsStarted()) {
    // Deactivating freed the temporary components unless it failed on the way.
    Guard hold(Sessions().SessionLock());
    while (!temporaries_.empty()) FreeTemporary(*temporaries_.back());
  }
  if (autoNumber_ >= 0 && SessionsStarted()) Sessions().ReleaseAutoNameNumber(autoNumber_);
  if (SessionsStarted()) Sessions().RemoveSessionFromList(*this);
  // Database components owned by this session die with the component base;
  // those owned elsewhere are disconnected and lose their session now (a
  // component of the default session keeps its name: the default session
  // goes only at shut-down).
  for (TABSDatabase* database : std::vector<TABSDatabase*>(databases_)) {
    if (database->session_ != this) continue;
    database->session_ = nullptr;
    if (database->Owner() == this) continue;
    try {
      database->DisconnectDatabase();
    } catch (...) {
      database->FreeEngineSession();
    }
    if (!isDefault_) database->sessionName_.clear();
  }
}

void TABSSession::SetActive(bool active) {
  if (IsReading()) {
    activeFromForm_ = active;
    return;
  }
  if (active != Active()) ActivateSession(active);
}

void TABSSession::CheckSessionInactive() const {
  if (Active()) platform::DatabaseError("Cannot perform this operation on an active session", this);
}

void TABSSession::SetSessionName(const std::string& name) {
  if (autoSessionName_ && !settingAutoName_) {
    platform::DatabaseError("Cannot modify SessionName while AutoSessionName is enabled", this);
  }
  CheckSessionInactive();
  // The check and the change are one step under the list lock: sessions on
  // other threads look names up while this one is renamed.
  if (!SessionsStarted()) {
    sessionName_ = name;
    return;
  }
  if (!Sessions().NameSession(*this, name)) {
    platform::DatabaseError(ComponentErrorText("Duplicate session name '%s'", name), this);
  }
}

void TABSSession::CheckSiblingSessions(bool automatic) const {
  const platform::TComponent* owner = Owner();
  if (owner == nullptr) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* other = dynamic_cast<TABSSession*>(owner->Components(i));
    if (other == nullptr || other == this) continue;
    if (automatic) {
      platform::DatabaseError(
          "Cannot enable AutoSessionName property with more than one session on a form or "
          "data-module",
          this);
    }
    if (other->autoSessionName_) {
      platform::DatabaseError(
          ComponentErrorText(
              "Cannot add a session to the form or data-module while session '%s' has "
              "AutoSessionName enabled",
              other->Name()),
          this);
    }
  }
}

void TABSSession::SetAutoSessionName(bool on) {
  if (on == autoSessionName_) return;
  if (on) {
    CheckSessionInactive();
    CheckSiblingSessions(true);
    autoNumber_ = Sessions().TakeAutoNameNumber();
    autoSessionName_ = true;
    try {
      MakeAutoSessionName();
    } catch (...) {
      autoSessionName_ = false;
      Sessions().ReleaseAutoNameNumber(autoNumber_);
      autoNumber_ = -1;
      throw;
    }
    return;
  }
  if (autoNumber_ >= 0) {
    Sessions().ReleaseAutoNameNumber(autoNumber_);
    autoNumber_ = -1;
  }
  autoSessionName_ = false;
}

void TABSSession::MakeAutoSessionName() {
  settingAutoName_ = true;
  try {
    SetSessionName(Name() + "_" + std::to_string(autoNumber_ + 1));
  } catch (...) {
    settingAutoName_ = false;
    throw;
  }
  settingAutoName_ = false;
  PropagateSessionName();
}

void TABSSession::PropagateSessionName() {
  const platform::TComponent* owner = Owner();
  if (owner == nullptr) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* named = dynamic_cast<TABSSessionNamed*>(owner->Components(i));
    if (named != nullptr && !EngineNamesEqual(named->SessionName(), sessionName_)) {
      named->SetSessionName(sessionName_);
    }
  }
}

void TABSSession::SetName(const std::string& name) {
  platform::TComponent::SetName(name);
  if (autoSessionName_ && !IsReading()) MakeAutoSessionName();
}

void TABSSession::Loaded() {
  platform::TComponent::Loaded();
  if (autoSessionName_) PropagateSessionName();
  if (activeFromForm_) SetActive(true);
}

void TABSSession::Notification(platform::TComponent* component, platform::TOperation operation) {
  platform::TComponent::Notification(component, operation);
  if (operation != platform::TOperation::opInsert || !autoSessionName_ || component == this) return;
  if (auto* named = dynamic_cast<TABSSessionNamed*>(component)) {
    named->SetSessionName(sessionName_);
  }
}

void TABSSession::EnsureActive() {
  assert(Sessions().SessionLock().HeldByThisThread());
  if (!Active()) SetActive(true);
}

void TABSSession::ActivateSession(bool on) {
  TABSSessionList& list = Sessions();
  Guard hold(list.SessionLock());
  if (on) {
    if (OnStartup) OnStartup(*this);
    if (sessionName_.empty()) platform::DatabaseError("Session name missing", this);
    if (!isDefault_) {
      TABSSession* defaultSession = list.DefaultSession();
      if (defaultSession != nullptr && !defaultSession->Active()) defaultSession->SetActive(true);
      token_ = std::make_unique<TABSSessionComponentManager>();
    } else {
      if (!list.DefaultToken())
        list.DefaultToken() = std::make_unique<TABSSessionComponentManager>();
      usesDefaultToken_ = true;
    }
    return;
  }
  for (auto it = databases_.size(); it-- > 0;) {
    if (it >= databases_.size()) continue;  // the list shrank while freeing
    TABSDatabase* database = databases_[it];
    if (database->IsTemporary()) {
      FreeTemporary(*database);
    } else {
      database->DisconnectDatabase();
    }
  }
  if (isDefault_) {
    list.DefaultToken().reset();
    usesDefaultToken_ = false;
  } else {
    token_.reset();
  }
}

// --- databases of the session ---------------------------------------------------

TABSDatabase* TABSSession::LookupDatabase(std::string_view name) {
  Guard hold(Sessions().SessionLock());
  EnsureActive();
  for (TABSDatabase* database : databases_) {
    if (database->DatabaseName().empty() && !database->IsTemporary()) continue;
    if (EngineNamesEqual(database->DatabaseName(), name)) return database;
  }
  return nullptr;
}

TABSDatabase* TABSSession::LookupDatabaseForOwner(std::string_view name,
                                                  const platform::TComponent* owner) {
  Guard hold(Sessions().SessionLock());
  EnsureActive();
  for (TABSDatabase* database : databases_) {
    if (database->Owner() == owner && database->HandleShared &&
        EngineNamesEqual(database->DatabaseName(), name)) {
      return database;
    }
  }
  return LookupDatabase(name);
}

TABSDatabase& TABSSession::AcquireDatabase(std::string_view name,
                                           const platform::TComponent* owner) {
  Guard hold(Sessions().SessionLock());
  EnsureActive();
  TABSDatabase* database = LookupDatabaseForOwner(name, owner);
  const bool created = database == nullptr;
  if (created) {
    temporaries_.push_back(std::unique_ptr<TABSDatabase>(new TABSDatabase(*this)));
    database = temporaries_.back().get();
  }
  try {
    if (created) {
      database->SetDatabaseName(std::string(name));
      database->SetKeepConnection(keepConnections_);
      database->SilentMode = true;
    }
    database->ConnectDatabase();
  } catch (...) {
    if (created) FreeTemporary(*database);  // a failure leaves no new component
    throw;
  }
  ++database->openCount_;
  return *database;
}

void TABSSession::FreeTemporary(TABSDatabase& database) noexcept {
  assert(Sessions().SessionLock().HeldByThisThread());
  auto it = std::find_if(temporaries_.begin(), temporaries_.end(),
                         [&](const auto& held) { return held.get() == &database; });
  if (it == temporaries_.end()) return;
  // Out of the list first: the component's destructor closes its datasets,
  // whose releases must find it gone.
  std::unique_ptr<TABSDatabase> doomed = std::move(*it);
  temporaries_.erase(it);
  doomed.reset();  // leaves databases_ in its destructor
}

void TABSSession::ReleaseDatabase(TABSDatabase& database) {
  Guard hold(Sessions().SessionLock());
  if (database.openCount_ > 0) --database.openCount_;
  if (database.openCount_ != 0 || database.KeepConnection()) return;
  if (database.closingDatasets_) return;  // its own disconnect is under way
  if (database.IsTemporary()) {
    FreeTemporary(database);
  } else {
    database.DisconnectDatabase();
  }
}

void TABSSession::RegisterDatabase(TABSDatabase& database) {
  Guard hold(Sessions().SessionLock());
  if (std::find(databases_.begin(), databases_.end(), &database) == databases_.end()) {
    databases_.push_back(&database);
  }
}

void TABSSession::UnregisterDatabase(TABSDatabase& database) {
  Guard hold(Sessions().SessionLock());
  auto it = std::find(databases_.begin(), databases_.end(), &database);
  if (it != databases_.end()) databases_.erase(it);
}

TABSLocalSession* TABSSession::FindSharedEngineSession(std::string_view name) {
  Guard hold(Sessions().SessionLock());
  for (TABSDatabase* database : databases_) {
    if (database->Connected() && database->HandleShared &&
        EngineNamesEqual(database->DatabaseName(), name)) {
      return database->EngineSession();
    }
  }
  return nullptr;
}
