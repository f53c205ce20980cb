#include "app/AppStartup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPixmap>
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

namespace {

void SendKey(QWidget* target, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}

}  // namespace

bool SaveScreenshotAfterTyping(TForm1& form, const QString& file) {
  form.Edit1->setFocus();
  SendKey(form.Edit1, Qt::Key_End, QString());
  SendKey(form.Edit1, Qt::Key_Backspace, QString());
  SendKey(form.Edit1, Qt::Key_0, QStringLiteral("0"));
  QCoreApplication::processEvents();
  return form.grab().save(file, "PNG");
}

}  // namespace tilgung
