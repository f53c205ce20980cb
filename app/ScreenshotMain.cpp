// Screenshot helper: opens the window, types into the loan amount once as a
// user would (one backspace and the digit back) so that the plan is computed,
// and saves a picture of the window as PNG; with a second file also one of
// the yearly summary of that plan, and with a third one of the dialog "Bis zur
// Volltilgung" with a yearly extra repayment. Usage: tilgungsplan_screenshot
// FILE [SUMMARY_FILE [FULL_REPAYMENT_FILE]] (scripts/screenshot runs it on a
// virtual display).
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>
#include <QWindow>
#include <iostream>

#include "app/AppStartup.h"
#include "app/FullRepaymentDialog.h"
#include "app/MainForm.h"
#include "app/PlanReportTexts.h"
#include "app/PlanSheet.h"
#include "app/YearSummaryDialog.h"
#include "engine/components/ABSEngineComponents.h"

namespace {

void SendKey(QWidget* target, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}

bool SaveAfterTyping(tilgung::TForm1& form, const QString& file) {
  form.Edit1->setFocus();
  SendKey(form.Edit1, Qt::Key_End, QString());
  SendKey(form.Edit1, Qt::Key_Backspace, QString());
  SendKey(form.Edit1, Qt::Key_0, QStringLiteral("0"));
  QCoreApplication::processEvents();
  return form.grab().save(file, "PNG");
}

// The yearly summary of the plan the window shows, as its dialog draws it.
bool SaveSummary(tilgung::TForm1& form, const QString& file) {
  const tilgung::TPlanWindowTexts texts = tilgung::FormWindowTexts(form);
  const tilgung::TPlanSheet sheet = tilgung::ReadPlanSheet(*form.ABSTable1);
  tilgung::TYearSummaryDialog dialog(tilgung::SummarizeByYear(sheet), texts.rateKnown,
                                     texts.nominalRate, texts.periodsPerYear, &form);
  dialog.show();
  QCoreApplication::processEvents();
  return dialog.grab().save(file, "PNG");
}

// The dialog "Bis zur Volltilgung" for the window's inputs with 2,000 a
// year extra in March and the usual cap of 5 %.
bool SaveFullRepayment(tilgung::TForm1& form, const QString& file) {
  tilgung::TFullRepaymentDialog dialog(form);
  dialog.YearlyAmountEdit()->setText(QStringLiteral("2000"));
  dialog.YearlyMonthEdit()->setText(QStringLiteral("3"));
  dialog.CapEdit()->setText(QStringLiteral("5"));
  dialog.show();
  QCoreApplication::processEvents();
  return dialog.grab().save(file, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  // The engine starts first and stops after the window and its table
  // component are gone.
  TABSEngine engine;
  tilgung::InitLocale();
  if (!tilgung::DisplayAvailable()) {
    std::cerr << "tilgungsplan_screenshot: Kein Bildschirm gefunden.\n";
    return 1;
  }
  QApplication app(argc, argv);
  if (argc < 2 || argc > 4) {
    std::cerr << "Aufruf: tilgungsplan_screenshot DATEI [DATEI_JAHRESÜBERSICHT "
                 "[DATEI_VOLLTILGUNG]]\n";
    return 2;
  }
  const QString file = QString::fromLocal8Bit(argv[1]);
  const QString summaryFile = argc >= 3 ? QString::fromLocal8Bit(argv[2]) : QString();
  const QString fullFile = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString();
  tilgung::InitApplication(app);

  tilgung::TForm1 form;
  form.show();
  // Wait until the window is on screen (at most ten seconds), then type,
  // let it repaint and save the picture.
  int status = 0;
  int waited = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &form, [&] {
    waited += 50;
    const bool exposed = form.windowHandle() && form.windowHandle()->isExposed();
    if (!exposed && waited < 10000) return;
    poll.stop();
    if (!SaveAfterTyping(form, file)) {
      std::cerr << "tilgungsplan_screenshot: " << file.toStdString()
                << " konnte nicht geschrieben werden.\n";
      status = 1;
    } else if (!summaryFile.isEmpty() && !SaveSummary(form, summaryFile)) {
      std::cerr << "tilgungsplan_screenshot: " << summaryFile.toStdString()
                << " konnte nicht geschrieben werden.\n";
      status = 1;
    } else if (!fullFile.isEmpty() && !SaveFullRepayment(form, fullFile)) {
      std::cerr << "tilgungsplan_screenshot: " << fullFile.toStdString()
                << " konnte nicht geschrieben werden.\n";
      status = 1;
    }
    app.exit(status);
  });
  poll.start(50);
  return app.exec();
}
