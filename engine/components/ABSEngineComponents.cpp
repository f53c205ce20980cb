#include "engine/components/ABSEngineComponents.h"

#include "engine/components/ABSSessionComponent.h"
#include "engine/temporary/ABSTemporaryDatabaseData.h"

namespace {
// The caller's options, with the real temporary database as "TEMP" unless
// the caller names its own.
TABSEngineOptions WithTemporaryDatabase(const TABSEngineOptions& options) {
  TABSEngineOptions completed = options;
  if (!completed.MakeTemporaryDatabase) completed.MakeTemporaryDatabase = MakeTemporaryDatabaseData;
  return completed;
}
}  // namespace

TABSEngine::TABSEngine(const TABSEngineOptions& options) {
  EngineStartUp(WithTemporaryDatabase(options));
  try {
    StartSessions();
  } catch (...) {
    EngineShutDown();
    throw;
  }
}

TABSEngine::~TABSEngine() {
  StopSessions();
  EngineShutDown();
}
