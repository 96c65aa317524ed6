#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>

namespace corvale::platform {

// A file as the kernel knows it, whatever name it is reached by.
using FileId = std::pair<dev_t, ino_t>;

// The file at path (links followed), if there is one.
std::optional<FileId> fileIdOf(const std::string& path);

// The programs that processes of this user are running now (the files of
// their /proc/PID/exe), each with one process that runs it.
std::map<FileId, pid_t> programsRunningForThisUser();

} // namespace corvale::platform
