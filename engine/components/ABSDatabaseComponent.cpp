#include "engine/components/ABSDatabaseComponent.h"

#include <algorithm>
#include <cassert>
#include <filesystem>

#include "engine/local/ABSSession.h"
#include "engine/schema/ABSDesignMode.h"
#include "engine/types/ABSNames.h"
#include "platform/data/DataSet.h"
#include "platform/data/DatabaseError.h"

TABSDatabase::TABSDatabase(platform::TComponent* owner) : platform::TComponent(owner) {
  auto* ownerSession = dynamic_cast<TABSSession*>(owner);
  session_ = ownerSession != nullptr ? ownerSession : Sessions().DefaultSession();
  if (session_ != nullptr) {
    sessionName_ = session_->SessionName();
    session_->RegisterDatabase(*this);
  }
  if (owner != nullptr && owner->IsDesigning()) DesignMode.store(true);
  NotifyInserted();
}

TABSDatabase::TABSDatabase(TABSSession& session) : isTemporary_(true), session_(&session) {
  sessionName_ = session.SessionName();
  session.RegisterDatabase(*this);
  if (session.IsDesigning()) DesignMode.store(true);
}

TABSDatabase::~TABSDatabase() {
  try {
    DisconnectDatabase();
  } catch (...) {
    // Closing datasets and detaching the engine session only free; a failure
    // there must not escape a destructor.
    FreeEngineSession();
  }
  datasets_.clear();
  if (session_ != nullptr && SessionsStarted()) session_->UnregisterDatabase(*this);
}

void TABSDatabase::SetConnected(bool on) {
  if (IsReading()) {
    connectedFromForm_ = on;
    return;
  }
  if (on == Connected()) return;
  if (on) {
    ConnectDatabase();
  } else {
    DisconnectDatabase();
  }
}

void TABSDatabase::Loaded() {
  platform::TComponent::Loaded();
  if (connectedFromForm_) {
    SetConnected(true);
  } else {
    AttachToSession(false);
  }
}

void TABSDatabase::SetDatabaseName(const std::string& name) {
  if (IsReading()) {
    databaseName_ = name;
    return;
  }
  if (name == databaseName_) return;
  CheckInactive();
  CheckDuplicateName(name);
  databaseName_ = name;
}

void TABSDatabase::SetDatabaseFileName(const std::string& name) {
  if (IsReading()) {
    databaseFileName_ = name;
    return;
  }
  if (name == databaseFileName_) return;
  DisconnectDatabase();
  databaseFileName_ = name;
}

void TABSDatabase::SetSessionName(const std::string& name) {
  if (IsReading()) {
    sessionName_ = name;
    return;
  }
  CheckInactive();
  if (name == sessionName_) return;
  sessionName_ = name;
  if (!IsDestroying()) AttachToSession(false);
}

void TABSDatabase::SetKeepConnection(bool on) {
  keepConnection_ = on;
  if (!on && openCount_ == 0 && Connected()) DisconnectDatabase();
}

void TABSDatabase::Notification(platform::TComponent* component, platform::TOperation operation) {
  platform::TComponent::Notification(component, operation);
  if (operation == platform::TOperation::opRemove && component == session_ && session_ != nullptr) {
    const bool wasDefault = session_->IsDefaultSession();
    if (!wasDefault) {
      DisconnectDatabase();
      session_ = nullptr;
      sessionName_.clear();
    }
  }
}

void TABSDatabase::CheckInactive() {
  if (!Connected()) return;
  if (IsDesigning()) {
    DisconnectDatabase();
    return;
  }
  platform::DatabaseError("Cannot perform this operation on an open database", this);
}

void TABSDatabase::CheckConnected() const {
  if (!Connected())
    platform::DatabaseError("Cannot perform this operation on a closed database", this);
}

void TABSDatabase::CheckDatabaseName() const {
  if (databaseName_.empty() && !isTemporary_)
    platform::DatabaseError("Database name missing", this);
}

void TABSDatabase::AttachToSession(bool activate) {
  TABSSessionList& list = Sessions();
  TABSSession* session =
      activate ? &list.RequireSession(sessionName_) : list.LookupSession(sessionName_);
  if (session != nullptr && session != session_) {
    if (session_ != nullptr) session_->UnregisterDatabase(*this);
    session_ = session;
    FreeNotification(session);
    session->RegisterDatabase(*this);
    try {
      CheckDuplicateName(databaseName_);
    } catch (...) {
      databaseName_.clear();
      throw;
    }
  }
  if (activate && session_ != nullptr) session_->SetActive(true);
}

void TABSDatabase::CheckDuplicateName(const std::string& name) {
  if (name.empty() || session_ == nullptr) return;
  platform::RankedLockGuard hold(Sessions().SessionLock());
  session_->EnsureActive();
  TABSDatabase* other = session_->LookupDatabase(name);
  if (other == nullptr || other == this || (other->HandleShared && HandleShared)) return;
  if (!other->isTemporary_ || other->openCount_ > 0) {
    platform::DatabaseError(ComponentErrorText("Duplicate database name '%s'", name), this);
  }
  // An idle temporary database component gives way to this one.
  session_->FreeTemporary(*other);
}

void TABSDatabase::ConnectDatabase() {
  if (engineSession_ != nullptr) return;
  CheckDatabaseName();
  AttachToSession(true);
  if (HandleShared) {
    if (TABSLocalSession* shared = session_->FindSharedEngineSession(databaseName_)) {
      engineSession_ = shared;
      handleBorrowed_ = true;
      return;
    }
  }
  platform::RankedLockGuard hold(Sessions().SessionLock());
  session_->EnsureActive();
  if (!isTemporary_) {
    std::error_code error;
    if (databaseFileName_.empty() || !std::filesystem::exists(databaseFileName_, error)) {
      platform::DatabaseError(
          ComponentErrorText("Database file '%s' does not exist", databaseFileName_), this);
    }
  }
  CreateEngineSession();
  try {
    engineSession_->SetAttached(true);
  } catch (...) {
    FreeEngineSession();
    throw;
  }
  if (!DesignMode.load()) readOnly_ = engineSession_->ReadOnly;
}

void TABSDatabase::CreateEngineSession() {
  assert(Sessions().SessionLock().HeldByThisThread());
  auto session = std::make_unique<TABSLocalSession>();
  session->DatabaseName = databaseName_;
  session->DatabaseFileName = databaseFileName_;
  session->MaxConnections = MaxConnections;
  session->ReadOnly = readOnly_;
  session->Exclusive = Exclusive;
  session->MultiUser = MultiUser;
  if (MultiUser) session->SessionName = sessionName_;
  ownedSession_ = std::move(session);
  engineSession_ = ownedSession_.get();
  handleBorrowed_ = false;
}

void TABSDatabase::FreeEngineSession() noexcept {
  if (ownedSession_) {
    // Components of the session that borrowed this engine session let go of
    // it first: it is about to be freed.
    if (session_ != nullptr) {
      for (TABSDatabase* other : std::vector<TABSDatabase*>(session_->DatabaseList())) {
        if (other == this || !other->handleBorrowed_ ||
            other->engineSession_ != ownedSession_.get()) {
          continue;
        }
        try {
          other->DisconnectDatabase();
        } catch (...) {
          // Its datasets could not all be closed; it still must not keep the
          // pointer.
          other->handleBorrowed_ = false;
          other->engineSession_ = nullptr;
          other->openCount_ = 0;
        }
      }
    }
    try {
      ownedSession_->SetAttached(false);
    } catch (...) {
      // Detaching only takes locks; the session's destructor unregisters anyway.
    }
    ownedSession_.reset();
  }
  engineSession_ = nullptr;
}

void TABSDatabase::CloseDatasets() {
  // Closing a dataset takes it out of the list, so walk a copy, last first.
  const std::vector<platform::TDataSet*> open(datasets_);
  for (auto it = open.rbegin(); it != open.rend(); ++it) {
    if (std::find(datasets_.begin(), datasets_.end(), *it) != datasets_.end()) (*it)->Close();
  }
}

void TABSDatabase::DisconnectDatabase() noexcept(false) {
  if (engineSession_ == nullptr) return;
  closingDatasets_ = true;
  try {
    CloseDatasets();
  } catch (...) {
    closingDatasets_ = false;
    throw;
  }
  closingDatasets_ = false;
  if (handleBorrowed_) {
    handleBorrowed_ = false;
    engineSession_ = nullptr;
  } else {
    FreeEngineSession();
  }
  openCount_ = 0;
}

void TABSDatabase::ListTables(std::vector<std::string>& names) {
  const bool wasConnected = Connected();
  try {
    if (!wasConnected) ConnectDatabase();
    engineSession_->ListTableNames(names);
  } catch (...) {
    // The list keeps what it got.
  }
  if (!wasConnected) {
    try {
      DisconnectDatabase();
    } catch (...) {
    }
  }
}

bool TABSDatabase::TableExistsInDatabase(const std::string& tableName) {
  if (!Connected()) ConnectDatabase();
  return engineSession_->HasTable(tableName);
}

void TABSDatabase::CreateDatabaseFile() {
  CheckDatabaseName();
  AttachToSession(true);
  if (Connected())
    platform::DatabaseError("Cannot perform this operation on an open database", this);
  platform::RankedLockGuard hold(Sessions().SessionLock());
  session_->EnsureActive();
  CreateEngineSession();
  struct Free {
    TABSDatabase& database;
    ~Free() { database.FreeEngineSession(); }
  } free{*this};
  engineSession_->CreateNewDatabase();
}

void TABSDatabase::StartDatabaseTransaction() {
  CheckConnected();
  if (engineSession_->InTransaction()) {
    platform::DatabaseError("Database is already within a transaction", this);
  }
  engineSession_->EnterTransaction();
}

void TABSDatabase::CommitDatabaseTransaction(bool flag) {
  CheckConnected();
  engineSession_->CommitWork(flag);
}

void TABSDatabase::RollbackDatabaseTransaction() {
  CheckConnected();
  engineSession_->RollbackWork();
}

bool TABSDatabase::IsInTransaction() const {
  return engineSession_ != nullptr && engineSession_->InTransaction();
}

void TABSDatabase::AddDataset(platform::TDataSet& dataset) {
  platform::RankedLockGuard hold(Sessions().SessionLock());
  if (std::find(datasets_.begin(), datasets_.end(), &dataset) == datasets_.end()) {
    datasets_.push_back(&dataset);
  }
}

void TABSDatabase::RemoveDataset(platform::TDataSet& dataset) {
  platform::RankedLockGuard hold(Sessions().SessionLock());
  auto it = std::find(datasets_.begin(), datasets_.end(), &dataset);
  if (it != datasets_.end()) datasets_.erase(it);
}
