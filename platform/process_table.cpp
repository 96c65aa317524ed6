#include "platform/process_table.h"

#include "platform/file_answer.h"
#include "platform/owned.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvale::platform {

std::optional<FileId> fileIdOf(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileId{info.st_dev, info.st_ino};
}

namespace {

// The words of the process's command line (NUL-separated), the first few.
std::vector<std::string> commandLine(const std::string& folder, std::size_t words) {
    std::ifstream file(folder + "/cmdline", std::ios::binary);
    std::vector<std::string> found;
    for (std::string word; found.size() < words && std::getline(file, word, '\0');) {
        found.push_back(word);
    }
    return found;
}

// The first line of the file at path, up to a length no "#!" line exceeds.
std::string firstLine(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    char c = 0;
    while (line.size() < 256 && file.get(c) && c != '\n') {
        line.push_back(c);
    }
    return line;
}

// The text of the link at path ("/proc/PID/exe", "/proc/PID/cwd"), which
// the kernel gives without looking at the file it leads to.
std::string linkText(const std::string& path) {
    char text[4096];
    const ssize_t length = ::readlink(path.c_str(), text, sizeof text);
    return length > 0 && static_cast<std::size_t>(length) < sizeof text
               ? std::string(text, static_cast<std::size_t>(length))
               : std::string();
}

} // namespace

RunningNow runningForThisUser() {
    RunningNow running;
    const Owned<DIR, ::closedir> processes(::opendir("/proc"));
    if (!processes) {
        return running;
    }
    const uid_t self = ::geteuid();
    while (const dirent* entry = ::readdir(processes.get())) {
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
        // renamed or deleted); a process of a kernel thread has none. A file
        // on a mount that may not answer (sshfs, NFS), in this namespace or
        // the process's own, is not looked at: one process stuck there
        // would hold up the whole list.
        const std::string exe = linkText(folder + "/exe");
        if (exe.empty() || mayStallFor(static_cast<pid_t>(pid), exe)) {
            continue;
        }
        const std::optional<FileId> program = fileIdOf(folder + "/exe");
        if (!program) {
            continue;
        }
        running.programs.emplace(*program, static_cast<pid_t>(pid));
        const std::vector<std::string> words = commandLine(folder, 3);
        std::optional<std::string> cwd;
        for (std::size_t i = 1; i < words.size(); ++i) {
            // A relative name is the process's own folder's.
            const bool relative = !words[i].empty() && words[i].front() != '/';
            if (relative && !cwd) {
                cwd = linkText(folder + "/cwd");
            }
            const std::string path = relative ? folder + "/cwd/" + words[i] : words[i];
            if (path.empty() || (relative && cwd->empty()) ||
                mayStallFor(static_cast<pid_t>(pid), relative ? *cwd + "/" + words[i] : words[i])) {
                continue;
            }
            struct stat info {};
            if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
                running.scripts.emplace(FileId{info.st_dev, info.st_ino},
                                        std::make_pair(static_cast<pid_t>(pid), *program));
            }
        }
    }
    return running;
}

std::optional<unsigned long long> processStartTime(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(file, stat);
    // The name in parentheses may hold blanks and parentheses: the fields
    // are counted after its last one. The start time is field 22.
    const std::size_t name = stat.rfind(')');
    if (name == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(name + 1));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number) {
        // A process that ended and waits to be reaped runs no more.
        if (number == 3 && (field == "Z" || field == "X")) {
            return std::nullopt;
        }
        if (number == 22) {
            return std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    return std::nullopt;
}

bool isScript(const std::string& path) {
    return firstLine(path).rfind("#!", 0) == 0;
}

namespace {

// The program that env runs for the name, found as env finds it: a name
// with a slash as it stands, any other in the folders of PATH.
std::optional<FileId> foundAsEnvFindsIt(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return fileIdOf(name);
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/local/bin:/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return FileId{info.st_dev, info.st_ino};
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<FileId> interpreterOf(const std::string& path) {
    const std::string line = firstLine(path);
    if (line.rfind("#!", 0) != 0) {
        return std::nullopt;
    }
    std::istringstream words(line.substr(2));
    std::string interpreter;
    if (!(words >> interpreter)) {
        return std::nullopt;
    }
    if (interpreter != "/usr/bin/env" && interpreter != "/bin/env") {
        return fileIdOf(interpreter);
    }
    // "#!/usr/bin/env [-S] [NAME=VALUE...] PROGRAM": the program it names.
    for (std::string word; words >> word;) {
        if (word.front() != '-' && word.find('=') == std::string::npos) {
            return foundAsEnvFindsIt(word);
        }
    }
    return std::nullopt;
}

} // namespace corvale::platform
