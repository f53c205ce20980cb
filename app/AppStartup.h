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

// Whether the window toolkit can open a window here: a display is named
// (DISPLAY, WAYLAND_DISPLAY) or a toolkit platform other than the two that
// need one is chosen (QT_QPA_PLATFORM=offscreen, for example).
bool DisplayAvailable();

// Types into Edit1 as a user would (one backspace and the digit back), lets
// the window recalculate and paint, and saves a picture of the window to
// `file`. Returns false when the picture could not be written.
bool SaveScreenshotAfterTyping(TForm1& form, const QString& file);

}  // namespace tilgung
