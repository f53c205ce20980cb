// The program: the window by default, the command line with --print/--help.
// The command line runs without a display, so it never creates the
// application object of the window toolkit.
#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <iostream>
#include <string>
#include <vector>

#include "app/AppStartup.h"
#include "app/CommandLine.h"
#include "app/MainForm.h"

int main(int argc, char** argv) {
  tilgung::InitLocale();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (tilgung::WantsCommandLine(args)) {
    return tilgung::RunCommandLine(args, std::cout, std::cerr);
  }

  if (!tilgung::DisplayAvailable()) {
    // The toolkit would abort without a display. A word the program does not
    // know is still a wrong call; otherwise say how to get the plan.
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--screenshot") {
        ++i;
      } else if (args[i].empty() || args[i][0] != '-') {
        std::cerr << "tilgungsplan: Unbekanntes Argument: " << args[i] << "\n\n"
                  << tilgung::UsageText();
        return tilgung::kExitUsage;
      }
    }
    std::cerr << "tilgungsplan: Kein Bildschirm gefunden, das Fenster kann nicht geöffnet "
                 "werden. Den Plan ohne Fenster zeigt: tilgungsplan --print\n";
    return 1;
  }

  QApplication app(argc, argv);
  tilgung::InitApplication(app);

  // What is left after the toolkit took its own options.
  QString screenshotFile;
  const QStringList rest = app.arguments().mid(1);
  for (int i = 0; i < rest.size(); ++i) {
    if (rest[i] == QLatin1String("--screenshot") && i + 1 < rest.size()) {
      screenshotFile = rest[++i];
    } else {
      std::cerr << "tilgungsplan: Unbekanntes Argument: " << rest[i].toStdString() << "\n\n"
                << tilgung::UsageText();
      return tilgung::kExitUsage;
    }
  }

  tilgung::TForm1 form;
  form.show();
  if (!screenshotFile.isEmpty()) {
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
      if (!tilgung::SaveScreenshotAfterTyping(form, screenshotFile)) {
        std::cerr << "tilgungsplan: " << screenshotFile.toStdString()
                  << " konnte nicht geschrieben werden.\n";
        status = 1;
      }
      app.exit(status);
    });
    poll.start(50);
    return app.exec();
  }
  return app.exec();
}
