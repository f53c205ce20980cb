// Engine start-up and shut-down.
//
// EngineStartUp runs once per process before any other engine work:
//   1. the process-wide list of database data objects is created;
//   2. the in-memory database "MEMORY" is created and added to it;
//   3. the temporary database "TEMP" is created and added to it;
//   4. the design-mode flag is cleared.
// The dataset layer adds its own steps after these (the session list with the
// session "Default"). EngineShutDown frees every database data object (the
// in-memory tables die with it) and the list; by then every cursor, session
// and component must be gone. Both may run again afterwards (tests restart
// the engine); neither is for concurrent use.
//
// TABSEngineScope starts the engine in its constructor and shuts it down in
// its destructor, so `main` and test mains hold one for their whole run.
#pragma once

#include <functional>
#include <memory>

class TABSDatabaseData;

struct TABSEngineOptions {
  // Makes the database "TEMP"; without one, a "TEMP" database is registered
  // whose tables cannot be created (10486).
  std::function<std::unique_ptr<TABSDatabaseData>()> MakeTemporaryDatabase;
};

// Raises 10483 when the engine is running already.
void EngineStartUp(const TABSEngineOptions& options = {});
// Never raises; nothing when the engine is not running.
void EngineShutDown() noexcept;
bool EngineStarted() noexcept;

class TABSEngineScope {
 public:
  explicit TABSEngineScope(const TABSEngineOptions& options = {}) { EngineStartUp(options); }
  ~TABSEngineScope() { EngineShutDown(); }
  TABSEngineScope(const TABSEngineScope&) = delete;
  TABSEngineScope& operator=(const TABSEngineScope&) = delete;
};
