// Start-up of the window program, shared by main, the screenshot helper, the
// benchmark and the tests: the locale, the application title and whether a
// window can be opened at all.
#pragma once

class QApplication;

namespace tilgung {

// Reloads the user's number and date conventions from the environment.
void InitLocale();

// Sets the application title (and anything else the application object needs
// before the window exists).
void InitApplication(QApplication& app);

// Whether the window toolkit can open a window here: a display is named
// (DISPLAY, WAYLAND_DISPLAY) or a toolkit platform other than the two that
// need one is chosen (QT_QPA_PLATFORM=offscreen, for example).
bool DisplayAvailable();

}  // namespace tilgung
