// Start-up of the window program, shared by main, the screenshot helper, the
// benchmark and the tests: the locale, the application title and whether a
// window can be opened at all.
#pragma once

class QApplication;

namespace tilgung {

// Reloads the user's number and date conventions from the environment.
void InitLocale();

// Sets the application title and the desktop entry's name, and loads the
// toolkit's translations for the user's language (German without a chosen
// locale), before the window exists.
void InitApplication(QApplication& app);

// Whether the window toolkit can open a window here: a display is named
// (DISPLAY, WAYLAND_DISPLAY) or a toolkit platform other than the two that
// need one is chosen (QT_QPA_PLATFORM=offscreen, for example).
bool DisplayAvailable();

// Whether the display the toolkit would use answers: the X server named by
// DISPLAY or the Wayland compositor named by WAYLAND_DISPLAY accepts a
// connection (a platform without a display counts as reachable). The
// toolkit aborts the program when it cannot connect, so main asks first.
bool DisplayReachable();

}  // namespace tilgung
