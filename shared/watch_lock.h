#pragma once

#include "platform/owned.h"

#include <string>

namespace corvale {

// One watcher per user and session: it holds a lock (flock, which the kernel
// releases when the process ends) on a file in $XDG_RUNTIME_DIR, or in the
// program folder when that is not set. The file names the holder's process.
std::string watchLockPath(const std::string& programFolder);

// Takes the lock and writes this process's identifier into its file.
// Returns the descriptor that holds it, or -1 when another process holds it;
// holder is then that process's identifier as the file gives it. Fails with
// a description when the file cannot be made.
platform::FileDescriptor takeWatchLock(const std::string& path, std::string& holder);

// Whether a watcher holds the lock now.
bool watcherRunning(const std::string& path);

} // namespace corvale
