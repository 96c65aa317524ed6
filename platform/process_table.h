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

// What processes of this user are running now, each with one process that
// runs it.
struct RunningNow {
    // The files of their /proc/PID/exe.
    std::map<FileId, pid_t> programs;
    // The scripts their interpreters were given: the file that the first or
    // second word after the program's name on its command line names (the
    // kernel starts "INTERPRETER [ARGUMENT] SCRIPT"), each with the
    // interpreter that runs it.
    std::multimap<FileId, std::pair<pid_t, FileId>> scripts;
};
RunningNow runningForThisUser();

// When the process began (in clock ticks after boot, /proc/PID/stat), which
// tells it apart from a later process given the same number; nothing when no
// such process runs (one that ended and waits to be reaped runs no more).
std::optional<unsigned long long> processStartTime(pid_t pid);

// The interpreter that the first line of the script at path names ("#!"
// followed by its path; for "/usr/bin/env", the program it names, found on
// PATH as env finds it); nothing for a file that is not such a script, or
// whose interpreter is not there.
std::optional<FileId> interpreterOf(const std::string& path);
// Whether the script at path starts with "#!".
bool isScript(const std::string& path);

} // namespace corvale::platform
