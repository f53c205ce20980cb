// Helpers for tests that expect an engine error.
#pragma once

#include <gtest/gtest.h>

#include "engine/types/ABSException.h"

// Runs `f` and returns the engine error it raised; fails the test when it
// raised none.
template <class F>
EABSException RaisedBy(F&& f) {
  try {
    f();
  } catch (const EABSException& e) {
    return e;
  }
  ADD_FAILURE() << "no engine error raised";
  return EABSException(0, "none");
}

// The native code of the engine error `f` raised, 0 when it raised none.
template <class F>
std::int32_t NativeErrorOf(F&& f) {
  try {
    f();
  } catch (const EABSException& e) {
    return e.NativeError();
  }
  return 0;
}
