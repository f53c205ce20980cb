// The whole engine's start-up and shut-down, for `main` and test mains.
//
// Start-up runs the storage and session steps (EngineStartUp: the database
// list with "MEMORY" and "TEMP", the design-mode flag cleared), then creates
// the session list with the session "Default". Shut-down frees the session
// list (every session and database component) and then the databases. Hold
// one TABSEngine for the life of the program, created first and destroyed
// last, so that the window and its table components are gone before it.
#pragma once

#include "engine/local/ABSEngine.h"

class TABSEngine {
 public:
  // "TEMP" is the temporary database (MakeTemporaryDatabaseData) unless
  // `options` names another factory.
  explicit TABSEngine(const TABSEngineOptions& options = {});
  ~TABSEngine();
  TABSEngine(const TABSEngine&) = delete;
  TABSEngine& operator=(const TABSEngine&) = delete;
};
