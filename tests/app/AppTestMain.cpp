// Test main of the window and calculation tests: fixes the locale to German
// conventions, uses the offscreen platform unless one is chosen, and creates
// the application object the widget tests need, after starting the engine.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "app/AppStartup.h"
#include "engine/components/ABSEngineComponents.h"

int main(int argc, char** argv) {
  // The window and the command line keep their plan in the engine, which
  // runs for the whole test program.
  TABSEngine engine;
  // German settings whatever the caller's locale: the expected texts are
  // German, and child processes inherit the same environment.
  for (const char* name : {"LC_ALL", "LC_NUMERIC", "LC_MONETARY", "LC_TIME"}) unsetenv(name);
  setenv("LANG", "de_DE.UTF-8", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  tilgung::InitLocale();
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  tilgung::InitApplication(app);
  return RUN_ALL_TESTS();
}
