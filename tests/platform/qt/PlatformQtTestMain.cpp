// Test main of the platform's Qt widgets: German settings whatever the
// caller's locale, the offscreen platform unless one is chosen, and the
// application object the widgets need.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "platform/locale/Locale.h"

int main(int argc, char** argv) {
  for (const char* name : {"LC_ALL", "LC_NUMERIC", "LC_MONETARY", "LC_TIME"}) unsetenv(name);
  setenv("LANG", "de_DE.UTF-8", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  platform::FormatSettings::ReloadUser();
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
