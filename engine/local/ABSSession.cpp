#include "engine/local/ABSSession.h"

#include <algorithm>
#include <mutex>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSDatabaseDataList.h"
#include "engine/types/ABSNames.h"

namespace {

using Guard = platform::RankedLockGuard;

constexpr std::size_t kMaxNamedObjectNameLength = 255;

}  // namespace

TABSSessionNamedObject::TABSSessionNamedObject(std::int32_t objectId, std::string_view name)
    : objectId_(objectId),
      name_(name.substr(0, std::min(name.size(), kMaxNamedObjectNameLength))) {}

TABSBaseSession::TABSBaseSession() = default;
TABSBaseSession::~TABSBaseSession() = default;

void TABSBaseSession::RegisterNamedObject(std::unique_ptr<TABSSessionNamedObject> object) {
  if (!object) return;
  TABSSessionNamedObject* previous = object->ObjectId() == -1
                                         ? FindNamedObjectByName(object->Name())
                                         : FindNamedObjectById(object->ObjectId());
  if (previous == object.get()) return;             // already held: nothing to replace
  namedObjects_.reserve(namedObjects_.size() + 1);  // the step that can fail comes first
  if (previous != nullptr) {
    auto it = std::find_if(namedObjects_.begin(), namedObjects_.end(),
                           [&](const auto& held) { return held.get() == previous; });
    namedObjects_.erase(it);
  }
  namedObjects_.push_back(std::move(object));
}

TABSSessionNamedObject* TABSBaseSession::FindNamedObjectByName(std::string_view name) const {
  if (name.empty()) return nullptr;
  const std::string key = EngineNameKey(name);
  for (const auto& object : namedObjects_) {
    if (!object->Name().empty() && EngineNameKey(object->Name()) == key) return object.get();
  }
  return nullptr;
}

TABSSessionNamedObject* TABSBaseSession::FindNamedObjectById(std::int32_t objectId) const {
  for (const auto& object : namedObjects_) {
    if (object->ObjectId() == objectId) return object.get();
  }
  return nullptr;
}

void TABSBaseSession::RemoveNamedObject(std::int32_t objectId) {
  auto it = std::find_if(namedObjects_.begin(), namedObjects_.end(),
                         [&](const auto& held) { return held->ObjectId() == objectId; });
  if (it != namedObjects_.end()) namedObjects_.erase(it);
}

void TABSBaseSession::RegisterSequenceValue(std::int32_t objectId, std::int64_t value) {
  // Replacing the held value in place is what replace-and-append amounts to
  // for the one object a field has, without an allocation per generated value.
  if (auto* held =
          dynamic_cast<TABSSessionNamedObjectSequenceValue*>(FindNamedObjectById(objectId))) {
    held->SequenceValue = value;
    return;
  }
  RegisterNamedObject(std::make_unique<TABSSessionNamedObjectSequenceValue>(objectId, value));
}

bool TABSBaseSession::FindSequenceValue(std::int32_t objectId, std::int64_t& value) const {
  const auto* held =
      dynamic_cast<const TABSSessionNamedObjectSequenceValue*>(FindNamedObjectById(objectId));
  if (held == nullptr) return false;
  value = held->SequenceValue;
  return true;
}

TABSStorageSession* StorageSessionOf(TABSLocalSession* session) noexcept {
  return session;
}

TABSLocalSession::~TABSLocalSession() {
  if (registered_ && databaseData_ != nullptr) {
    try {
      databaseData_->RemoveSession(*this);
    } catch (...) {
      // Unregistering only takes the database lock; nothing to report here.
    }
  }
}

bool TABSLocalSession::MatchesDatabaseData(const TABSDatabaseData& data) const {
  if (DatabaseName == "MEMORY" || DatabaseName == "TEMP") {
    return EngineNameKey(data.Name()) == DatabaseName;
  }
  // A file database: its file name and, for multi-user access, the session
  // name must agree. No file database is ever in the list in this system,
  // but the memory databases must not match a file name either.
  if (data.Name() == "MEMORY" || data.Name() == "TEMP") return false;
  return EngineNamesEqual(data.Name(), DatabaseFileName) && SessionName.empty();
}

TABSDatabaseData* TABSLocalSession::FindDatabaseData() const {
  return DatabaseDataList().FindFirst(
      [this](const TABSDatabaseData& data) { return MatchesDatabaseData(data); });
}

TABSDatabaseData& TABSLocalSession::NewDiskDatabaseData() const {
  const std::string& shown = DatabaseFileName.empty() ? DatabaseName : DatabaseFileName;
  throw EABSException(native_code::kNoDiskDatabases,
                      "Cannot open database '%s'. Only the databases MEMORY and TEMP are available",
                      {shown});
}

TABSDatabaseData& TABSLocalSession::FindOrCreateDatabaseData() const {
  TABSDatabaseDataList& list = DatabaseDataList();
  Guard hold(list.Lock());
  if (TABSDatabaseData* found = FindDatabaseData()) return *found;
  return NewDiskDatabaseData();
}

void TABSLocalSession::SetAttached(bool on) {
  // Decided by registration rather than by IsAttached(): a session that was
  // detached from "MEMORY" still refers to it, and attaching it again must
  // register it again instead of doing nothing.
  if (on == registered_) return;
  TABSDatabaseDataList& list = DatabaseDataList();
  Guard hold(list.Lock());
  if (on) {
    TABSDatabaseData& data = FindOrCreateDatabaseData();
    data.AddSession(*this);
    databaseData_ = &data;
    registered_ = true;
    ReadOnly = data.ReadOnly();
  } else if (registered_) {
    databaseData_->RemoveSession(*this);
    registered_ = false;
    // "MEMORY" and "TEMP" live until the engine shuts down: the session
    // keeps referring to its database until it is freed.
  }
}

void TABSLocalSession::CreateNewDatabase() {
  TABSDatabaseDataList& list = DatabaseDataList();
  Guard hold(list.Lock());
  if (FindDatabaseData() != nullptr) {
    throw EABSException(20092, "Cannot create database. Database is already open");
  }
  NewDiskDatabaseData();
}

void TABSLocalSession::ListTableNames(std::vector<std::string>& names) {
  TABSDatabaseData& data = databaseData_ != nullptr ? *databaseData_ : FindOrCreateDatabaseData();
  data.CollectTableNames(names);
}

bool TABSLocalSession::HasTable(std::string_view tableName) {
  TABSDatabaseData& data = databaseData_ != nullptr ? *databaseData_ : FindOrCreateDatabaseData();
  return data.TableExists(tableName);
}

void TABSLocalSession::CommitWork(bool flag) {
  if (!InTransaction()) {
    throw EABSException(20229, "Database is not within a transaction. Cannot perform operation");
  }
  if (databaseData_ != nullptr) databaseData_->CommitSessionChanges(SessionId(), flag);
  SetInTransaction(false);
}

void TABSLocalSession::RollbackWork() {
  if (!InTransaction()) {
    throw EABSException(20229, "Database is not within a transaction. Cannot perform operation");
  }
  if (databaseData_ != nullptr) databaseData_->RollbackSessionChanges(SessionId());
  SetInTransaction(false);
}

void TABSLocalSession::FlushDatabase() {
  if (databaseData_ != nullptr) databaseData_->FlushDatabaseStorage();
}
