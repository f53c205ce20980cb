#include "engine/tables/ABSDatabaseData.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <mutex>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/tables/ABSStorageSession.h"
#include "engine/tables/ABSTableData.h"
#include "engine/types/ABSNames.h"

namespace {
using Guard = platform::RankedLockGuard;
}

TABSDatabaseData::TABSDatabaseData(std::string_view name) : name_(name) {}

TABSDatabaseData::~TABSDatabaseData() {
  FreeAllTables();
}

void TABSDatabaseData::FreeAllTables() noexcept {
  Guard hold(lock_);
  // Tables are popped off the list before they die, so a table's destructor
  // never sees a list that shrinks under it.
  while (!tables_.empty()) {
    std::unique_ptr<TABSTableData> table = std::move(tables_.back());
    tables_.pop_back();
#ifndef NDEBUG
    if (table && table->AttachedCursorCount() != 0) {
      std::fprintf(stderr, "database '%s': table '%s' destroyed with %zu attached cursor(s)\n",
                   name_.c_str(), table->TableName().c_str(), table->AttachedCursorCount());
    }
#endif
    table.reset();
  }
}

void TABSDatabaseData::AddSession(TABSStorageSession& session) {
  Guard hold(lock_);
  if (std::find(sessions_.begin(), sessions_.end(), &session) == sessions_.end()) {
    sessions_.push_back(&session);
  }
  session.SetSessionId(0);
}

void TABSDatabaseData::RemoveSession(TABSStorageSession& session) {
  Guard hold(lock_);
  auto it = std::find(sessions_.begin(), sessions_.end(), &session);
  if (it != sessions_.end()) sessions_.erase(it);
}

bool TABSDatabaseData::FreeIfUnused() const {
  Guard hold(lock_);
  return sessions_.empty();
}

void TABSDatabaseData::CollectTableNames(std::vector<std::string>& names) const {
  Guard hold(lock_);
  for (const auto& table : tables_) names.push_back(table->TableName());
}

TABSTableData* TABSDatabaseData::FindTableData(std::string_view tableName) const {
  Guard hold(lock_);
  // No two tables share a name key, so a table spelled exactly as asked is
  // the answer: the usual lookup upper-cases nothing.
  for (const auto& table : tables_) {
    if (table->TableName() == tableName) return table.get();
  }
  if (tables_.empty()) return nullptr;
  const std::string key = EngineNameKey(tableName);
  for (const auto& table : tables_) {
    if (table->TableNameKey() == key) return table.get();
  }
  return nullptr;
}

TABSTableData& TABSDatabaseData::FindOrCreateTableData(std::string_view tableName) {
  Guard hold(lock_);
  if (TABSTableData* found = FindTableData(tableName)) return *found;
  return CreateTableData(tableName);
}

void TABSDatabaseData::CommitSessionChanges(std::int32_t /*sessionId*/, bool /*flag*/) {
  // The database-wide page manager of a file database would commit here; a
  // memory database has none.
}

void TABSDatabaseData::RollbackSessionChanges(std::int32_t sessionId) {
  Guard hold(lock_);
  for (const auto& table : tables_) table->EndSessionBatch(sessionId);
}

bool TABSDatabaseData::TableExists(std::string_view tableName) const {
  return FindTableData(tableName) != nullptr;
}

std::size_t TABSDatabaseData::SessionCount() const {
  Guard hold(lock_);
  return sessions_.size();
}

std::size_t TABSDatabaseData::TableCount() const {
  Guard hold(lock_);
  return tables_.size();
}

TABSTableData& TABSDatabaseData::AdoptTableData(std::unique_ptr<TABSTableData> table) {
  Guard hold(lock_);
  if (FindTableData(table->TableName()) != nullptr) {
    throw EABSException(native_code::kTableNameTaken, "Table '%s' already exists in database '%s'",
                        {table->TableName(), name_});
  }
  tables_.push_back(std::move(table));
  return *tables_.back();
}

void TABSDatabaseData::FreeTableData(TABSTableData& table) noexcept {
  std::unique_ptr<TABSTableData> doomed;
  {
    Guard hold(lock_);
    auto it = std::find_if(tables_.begin(), tables_.end(),
                           [&](const auto& owned) { return owned.get() == &table; });
    if (it == tables_.end()) return;
    doomed = std::move(*it);
    tables_.erase(it);
    doomed.reset();  // destroyed under the lock: no other thread can find it half gone
  }
}

std::int32_t TABSDatabaseData::DrawObjectId(std::int32_t& next) {
  Guard hold(lock_);
  if (next == std::numeric_limits<std::int32_t>::max()) {
    throw EABSException(native_code::kObjectIdsExhausted,
                        "Cannot assign object ID. All object IDs of database '%s' are used",
                        {name_});
  }
  return next++;
}

TABSMemoryDatabaseData::TABSMemoryDatabaseData() : TABSDatabaseData(kName) {}

TABSMemoryDatabaseData::~TABSMemoryDatabaseData() {
  FreeAllTables();
}

void TABSMemoryDatabaseData::AddSession(TABSStorageSession& session) {
  session.SetSessionId(0);
  TABSDatabaseData::AddSession(session);
}

TABSTableData& TABSMemoryDatabaseData::CreateTableData(std::string_view tableName) {
  Guard hold(Lock());
  return AdoptTableData(std::make_unique<TABSMemoryTableData>(*this, tableName, kRecordGrowthStep));
}

std::int32_t TABSMemoryDatabaseData::NextObjectId() {
  return DrawObjectId(nextObjectId_);
}
