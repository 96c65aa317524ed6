#pragma once

#include "platform/process_start.h"

#include <cstdint>
#include <string>

namespace corvale::platform {

// Return codes of opening a file with the desktop's default application, in
// the convention of the old shell call: above 32 is success, 32 and below a
// failure.
namespace shell_code {
inline constexpr int kFileNotFound = 2;
inline constexpr int kPathNotFound = 3;
inline constexpr int kAccessDenied = 5;
// The old call's "out of memory": here a launcher far larger than any is,
// which would be read whole.
inline constexpr int kTooLarge = 8;
inline constexpr int kBadFormat = 11;
inline constexpr int kLaunchFailed = 27;
// The old call's "request timed out": here the session bus, through which
// the desktop's applications are launched, did not answer in time.
inline constexpr int kTimedOut = 28;
inline constexpr int kNoAssociation = 31;
inline constexpr int kLastFailure = 32;
inline constexpr int kSuccess = 42;
} // namespace shell_code

// Opens path with the desktop's default application for its type (GIO), or,
// for a .desktop launcher, starts the application it describes. Only regular
// files and folders are opened; anything else is kBadFormat. A relative
// path is taken from the current folder. The application runs in a session of
// its own with stdin from /dev/null, and no process of it is left for the
// caller to reap, with environment (as a started program's). Never fails: the
// outcome is the return code.
int shellOpen(const std::string& path, const ChildEnvironment& environment = {});

// The code shellOpen gives path without asking the desktop (a missing file
// or folder, a path with a NUL byte, a FIFO or device, a launcher larger
// than kLargestLauncher), or 0 when the
// desktop's applications decide.
int shellOpenRefusal(const std::string& path);
inline constexpr std::uintmax_t kLargestLauncher = std::uintmax_t{1024} * 1024;

// The name of the application that shellOpen would start for path (an
// existing regular file), or the empty text when there is none.
std::string applicationFor(const std::string& path);

// Opens a web address with the desktop's default application for its scheme;
// returns a code as shellOpen does.
int openUri(const std::string& uri);
// The process that the last shellOpen started for its application (in a
// process group of its own), or 0 when it cannot tell: an application that
// the desktop activated, or one that handed the file to its running instance
// and ended.
long lastLaunchedProcess();

// A notification of the desktop's notification server: not shown (no
// server answered in time), shown, or shown with an action a person may
// choose.
enum class Notified { NoServer, Shown, ShownWithAction };
struct Notification {
    Notified outcome = Notified::NoServer;
    unsigned id = 0;
};
Notification notify(const std::string& summary, const std::string& body, const std::string& actionLabel);
// Waits until the notification is closed or its action chosen; true when
// the action was chosen.
bool actionChosen(unsigned id);

} // namespace corvale::platform
