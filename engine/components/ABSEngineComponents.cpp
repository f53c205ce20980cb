#include "engine/components/ABSEngineComponents.h"

#include "engine/components/ABSSessionComponent.h"

TABSEngine::TABSEngine(const TABSEngineOptions& options) {
  EngineStartUp(options);
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
