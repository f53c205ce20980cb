// Helpers shared by the typed-value, conversion and stream tests: catching
// an engine error, and running under a fixed user locale.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "engine/memory/ABSException.h"
#include "engine/types/ABSTypes.h"
#include "platform/locale/Locale.h"
#include "tests/engine/RaisedError.h"

#define EXPECT_ENGINE_ERROR(statement, code, text)              \
  do {                                                          \
    const EABSException raised_ = RaisedBy([&] { statement; }); \
    EXPECT_EQ(raised_.NativeError(), code);                     \
    EXPECT_EQ(raised_.Message(), std::string(text));            \
  } while (0)

inline TABSStorageType ST(int v) {
  return static_cast<TABSStorageType>(v);
}

// Puts the user's locale to `name` for the life of the object and restores
// the environment afterwards.
class ScopedUserLocale {
 public:
  explicit ScopedUserLocale(const char* name) {
    if (const char* old = std::getenv("LC_ALL")) saved_ = old;
    setenv("LC_ALL", name, 1);
    platform::FormatSettings::ReloadUser();
  }
  ~ScopedUserLocale() {
    if (saved_) {
      setenv("LC_ALL", saved_->c_str(), 1);
    } else {
      unsetenv("LC_ALL");
    }
    platform::FormatSettings::ReloadUser();
  }
  ScopedUserLocale(const ScopedUserLocale&) = delete;
  ScopedUserLocale& operator=(const ScopedUserLocale&) = delete;

 private:
  std::optional<std::string> saved_;
};

// Fixture: every test runs with German conventions.
class GermanLocaleTest : public ::testing::Test {
 protected:
  ScopedUserLocale locale_{"de_DE.UTF-8"};
};
