// The program: the window by default, the command line with --print/--help.
// The command line runs without a display, so it never creates the
// application object of the window toolkit.
#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/AppStartup.h"
#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "app/UserText.h"
#include "engine/components/ABSEngineComponents.h"

namespace {

int UnknownArgument(const std::string& arg) {
  std::cerr << "tilgungsplan: Unbekanntes Argument: " << tilgung::QuoteUserText(arg) << "\n\n"
            << tilgung::UsageText();
  return tilgung::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // The engine starts before anything else and stops after the window and
  // every table component are gone.
  TABSEngine engine;
  tilgung::InitLocale();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (tilgung::WantsCommandLine(args)) {
    return tilgung::RunCommandLine(args, std::cout, std::cerr);
  }

  if (!tilgung::DisplayAvailable()) {
    // The toolkit would abort without a display. A word the program does not
    // know is still a wrong call (words with a dash may be the toolkit's own
    // options); otherwise say how to get the plan.
    for (const std::string& arg : args) {
      if (arg.empty() || arg[0] != '-') return UnknownArgument(arg);
    }
    std::cerr << "tilgungsplan: Kein Bildschirm gefunden, das Fenster kann nicht geöffnet "
                 "werden. Den Plan ohne Fenster zeigt: tilgungsplan --print\n";
    return 1;
  }

  if (!tilgung::DisplayReachable()) {
    // A display is named but nobody answers there: the toolkit would abort.
    std::cerr << "tilgungsplan: Der Bildschirm ist nicht erreichbar, das Fenster kann nicht "
                 "geöffnet werden. Den Plan ohne Fenster zeigt: tilgungsplan --print\n";
    return 1;
  }

  // The toolkit takes its own options out of argc/argv; the window has none,
  // so whatever it leaves is a wrong call.
  QApplication app(argc, argv);
  if (argc > 1) return UnknownArgument(argv[1]);
  tilgung::InitApplication(app);

  tilgung::TForm1 form;
  form.show();
  return app.exec();
}
