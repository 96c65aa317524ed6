#pragma once

#include <string>

namespace corvale::platform {

// Qt ends the whole process when its window platform cannot start: no X
// server at DISPLAY, a stale Wayland socket, a platform name it does not
// know. Before the window application is made, this keeps, of the platforms
// asked for in QT_QPA_PLATFORM (or else of Wayland and X, in the session's
// order), those that show windows to a person (X and Wayland: a platform
// such as offscreen or vnc would leave a question nobody sees, waiting for
// ever) whose plugin is installed and whose display answers. Returns the
// empty text and sets usable to them, in Qt's ";" form, for the
// application's -platform argument (the environment is left as it was, for
// the programs started later); or else returns why none can be used.
std::string chooseUsablePlatform(std::string& usable);

} // namespace corvale::platform
