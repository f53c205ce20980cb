// Helpers for engine tests that expect an engine error.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>

#include "engine/memory/ABSException.h"

// Runs `f` and returns the engine error it raised; fails the test when it
// raised nothing or something else.
template <typename F>
EABSException RaisedBy(F&& f) {
  try {
    f();
  } catch (const EABSException& e) {
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "other exception raised: " << e.what();
    return EABSException(0, "other");
  }
  ADD_FAILURE() << "no engine error raised";
  return EABSException(0, "none");
}

// The native code of the engine error `f` raised, 0 when it raised none.
template <typename F>
std::int32_t NativeErrorOf(F&& f) {
  try {
    f();
  } catch (const EABSException& e) {
    return e.NativeError();
  }
  return 0;
}
