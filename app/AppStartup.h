// Start-up of the window program, shared by main and the tests: the locale,
// the application title and the main window, plus the screenshot mode.
#pragma once

#include <QString>

class QApplication;

namespace tilgung {

class TForm1;

// Reloads the user's number and date conventions from the environment.
void InitLocale();

// Sets the application title (and anything else the application object needs
// before the window exists).
void InitApplication(QApplication& app);

// Types into Edit1 as a user would (one backspace and the digit back), lets
// the window recalculate and paint, and saves a picture of the window to
// `file`. Returns false when the picture could not be written.
bool SaveScreenshotAfterTyping(TForm1& form, const QString& file);

}  // namespace tilgung
