// Closing the modal windows that the plan actions open, in offscreen tests:
// the step that opens one runs while a timer waits for the window, notes
// what it shows and closes it again.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <functional>

namespace tilgung::test {

// What a modal window showed: its class, its title and a message box's text.
struct TModalSeen {
  QString className, title, text;
};

// Runs `step`, which opens a modal window, and closes that window (a dialog
// is rejected) as soon as it is up; `look`, when given, sees it just before.
inline TModalSeen CloseModalOf(const std::function<void()>& step,
                               const std::function<void(QWidget*)>& look = {}) {
  TModalSeen seen;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) seen.text = box->text();
    if (look) look(modal);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    closer.stop();
  });
  closer.start(20);
  step();
  return seen;
}

}  // namespace tilgung::test
