#include "app/AppStartup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPixmap>

#include "app/MainForm.h"
#include "platform/Locale.h"

namespace tilgung {

void InitLocale() {
  platform::FormatSettings::ReloadUser();
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
