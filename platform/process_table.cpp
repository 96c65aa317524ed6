#include "platform/process_table.h"

#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvale::platform {

std::optional<FileId> fileIdOf(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileId{info.st_dev, info.st_ino};
}

std::map<FileId, pid_t> programsRunningForThisUser() {
    std::map<FileId, pid_t> running;
    DIR* processes = ::opendir("/proc");
    if (!processes) {
        return running;
    }
    const uid_t self = ::geteuid();
    while (const dirent* entry = ::readdir(processes)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0) {
            continue;
        }
        const std::string folder = std::string("/proc/") + entry->d_name;
        struct stat owner {};
        if (::stat(folder.c_str(), &owner) != 0 || owner.st_uid != self) {
            continue;
        }
        // The link leads to the file the process runs (also one since
        // renamed or deleted); a process of a kernel thread has none.
        if (const std::optional<FileId> program = fileIdOf(folder + "/exe")) {
            running.emplace(*program, static_cast<pid_t>(pid));
        }
    }
    ::closedir(processes);
    return running;
}

} // namespace corvale::platform
