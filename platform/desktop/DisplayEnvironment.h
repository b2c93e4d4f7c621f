#pragma once

#include <string>

namespace desktop {

// Whether Qt will find a display to open: DISPLAY or WAYLAND_DISPLAY is set, or a platform is
// named explicitly (QT_QPA_PLATFORM, or -platform on the command line, e.g. offscreen).
// Checked before the application object is made, which would abort without one.
bool hasDisplay(int argc, char** argv);

// Empty when the display Qt will use can be opened; otherwise the one line that says which display
// could not be opened (Qt would abort on it). A platform named explicitly other than xcb is
// trusted. Checked before the application object is made.
std::string displayProblem(int argc, char** argv);

// A short name of the display this process opens, usable in a file name: DISPLAY without its
// screen number (":1.0" and ":1" are one display), else WAYLAND_DISPLAY, else the named platform.
std::string displayKey();

}  // namespace desktop
