#include "engine/tables/ABSDatabaseDataList.h"

#include <algorithm>
#include <atomic>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/tables/ABSDatabaseData.h"

namespace {

using Guard = platform::RankedLockGuard;

// Written only by StartDatabases and StopDatabases, which the process runs
// once each on one thread before and after all other engine work.
std::atomic<TABSDatabaseDataList*> theList{nullptr};
std::atomic<TABSDatabaseData*> theMemoryDatabase{nullptr};

[[noreturn]] void RaiseNotStarted() {
  throw EABSException(native_code::kEngineNotStarted, "The engine is not started");
}

}  // namespace

TABSDatabaseDataList::~TABSDatabaseDataList() {
  Clear();
}

TABSDatabaseData& TABSDatabaseDataList::Add(std::unique_ptr<TABSDatabaseData> database) {
  Guard hold(lock_);
  entries_.push_back(std::move(database));
  return *entries_.back();
}

std::unique_ptr<TABSDatabaseData> TABSDatabaseDataList::Remove(TABSDatabaseData& database) {
  Guard hold(lock_);
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const auto& entry) { return entry.get() == &database; });
  if (it == entries_.end()) return nullptr;
  std::unique_ptr<TABSDatabaseData> taken = std::move(*it);
  entries_.erase(it);
  return taken;
}

std::size_t TABSDatabaseDataList::Count() const {
  Guard hold(const_cast<platform::RankedMutex&>(lock_));
  return entries_.size();
}

TABSDatabaseData* TABSDatabaseDataList::FindByName(std::string_view name) {
  return FindFirst([&](const TABSDatabaseData& d) { return d.Name() == name; });
}

void TABSDatabaseDataList::Clear() noexcept {
  Guard hold(lock_);
  while (!entries_.empty()) {
    std::unique_ptr<TABSDatabaseData> entry = std::move(entries_.front());
    entries_.erase(entries_.begin());
    entry.reset();
  }
}

void StartDatabases(std::unique_ptr<TABSDatabaseData> temporary) {
  if (theList.load() != nullptr) {
    throw EABSException(native_code::kEngineStartedTwice, "The engine is started already");
  }
  auto list = std::make_unique<TABSDatabaseDataList>();
  TABSDatabaseData& memory = list->Add(std::make_unique<TABSMemoryDatabaseData>());
  if (temporary) list->Add(std::move(temporary));
  theMemoryDatabase.store(&memory);
  theList.store(list.release());
}

void StopDatabases() noexcept {
  TABSDatabaseDataList* list = theList.exchange(nullptr);
  theMemoryDatabase.store(nullptr);
  delete list;  // ~TABSDatabaseDataList clears under the list's lock and never raises
}

TABSDatabaseDataList& DatabaseDataList() {
  TABSDatabaseDataList* list = theList.load();
  if (list == nullptr) RaiseNotStarted();
  return *list;
}

bool DatabasesStarted() noexcept {
  return theList.load() != nullptr;
}

TABSDatabaseData& MemoryDatabase() {
  TABSDatabaseData* memory = theMemoryDatabase.load();
  if (memory == nullptr) RaiseNotStarted();
  return *memory;
}
