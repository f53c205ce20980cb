// The process-wide list of database data objects.
//
// The list owns every database data object of the process, in the order they
// were added: first "MEMORY", then "TEMP" (created at engine start-up), then
// any others. It exists between StartDatabases and StopDatabases.
//
// Lock: the list has its own re-entrant lock (rank DatabaseList), which every
// operation takes and which callers may hold across several calls (a session
// attaching holds it while it finds and registers). It is taken before any
// database lock, never while one is held.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/os/RankedMutex.h"

class TABSDatabaseData;

class TABSDatabaseDataList {
 public:
  TABSDatabaseDataList() = default;
  ~TABSDatabaseDataList();
  TABSDatabaseDataList(const TABSDatabaseDataList&) = delete;
  TABSDatabaseDataList& operator=(const TABSDatabaseDataList&) = delete;

  platform::RankedMutex& Lock() { return lock_; }

  // Appends `database`; the list owns it from now on.
  TABSDatabaseData& Add(std::unique_ptr<TABSDatabaseData> database);
  // Takes `database` out of the list and hands it back (nil when absent).
  std::unique_ptr<TABSDatabaseData> Remove(TABSDatabaseData& database);
  std::size_t Count() const;
  // The first entry for which `matches` is true, or nil; under the lock.
  template <class Pred>
  TABSDatabaseData* FindFirst(Pred matches) {
    platform::RankedLockGuard hold(lock_);
    for (const auto& entry : entries_) {
      if (matches(*entry)) return entry.get();
    }
    return nullptr;
  }
  // The entry named exactly `name` (case-sensitive), or nil.
  TABSDatabaseData* FindByName(std::string_view name);
  // Destroys the entries, the first first, each taken out of the list
  // before it dies. Never raises.
  void Clear() noexcept;

 private:
  platform::RankedMutex lock_{platform::LockRank::DatabaseList};
  // Guarded by lock_.
  std::vector<std::unique_ptr<TABSDatabaseData>> entries_;
};

// Creates the list with the in-memory database "MEMORY" and `temporary` (the
// database "TEMP") as its first two entries. Raises 10483 when the list
// exists already.
void StartDatabases(std::unique_ptr<TABSDatabaseData> temporary);
// Destroys every database data object and the list; nothing when there is
// none. Every cursor and session must be gone. Never raises.
void StopDatabases() noexcept;
// The list; raises 10483 "The engine is not started" outside
// StartDatabases ... StopDatabases.
TABSDatabaseDataList& DatabaseDataList();
bool DatabasesStarted() noexcept;
// The database "MEMORY" (raises 10483 when the engine is not started).
TABSDatabaseData& MemoryDatabase();
