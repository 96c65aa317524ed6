#pragma once

#include <string>

namespace corvale::platform {

// Qt ends the whole process when its window platform cannot start: no X
// server at DISPLAY, a stale Wayland socket, a platform name it does not
// know. Before the window application is made, this keeps, of the platforms
// asked for in QT_QPA_PLATFORM (or else of Wayland and X, in the session's
// order), those whose plugin is installed and whose display answers, and
// leaves only them in QT_QPA_PLATFORM. Returns the empty text when one is
// left, or else why none can be used.
std::string chooseUsablePlatform();

} // namespace corvale::platform
