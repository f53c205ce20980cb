#include "app/AppStartup.h"

#include <QApplication>
#include <cstdlib>
#include <cstring>

#include "app/MainForm.h"
#include "platform/Locale.h"

namespace tilgung {

void InitLocale() {
  platform::FormatSettings::ReloadUser();
}

bool DisplayAvailable() {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0' && std::strncmp(platform, "xcb", 3) != 0 &&
      std::strncmp(platform, "wayland", 7) != 0) {
    return true;
  }
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

void InitApplication(QApplication& app) {
  // The application name is what the desktop shows for the program; the
  // window keeps its own caption.
  app.setApplicationName(QString::fromLatin1(kApplicationTitle));
}

}  // namespace tilgung
