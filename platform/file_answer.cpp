#include "platform/file_answer.h"
#include "platform/owned.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvale::platform {

std::string noAnswerReason() {
    return "did not answer within " + std::to_string(kFileAnswerLimit.count()) + " seconds";
}

namespace {

// File systems whose server can go away while they stay mounted.
bool canStall(const std::string& type) {
    static const std::set<std::string> network = {"nfs",  "nfs4",      "cifs", "smb3",   "smbfs",   "9p",
                                                  "ceph", "glusterfs", "afs",  "lustre", "ncpfs",   "davfs",
                                                  "coda", "orangefs",  "gpfs", "sshfs",  "virtiofs"};
    // fusectl is the kernel's own view of the connections, and answers.
    return (type.rfind("fuse", 0) == 0 && type != "fusectl") || network.count(type) > 0;
}

// A field of mountinfo, whose blanks and backslashes are written in octal.
std::string unescaped(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            text += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// The mount points of file systems that can stall in the mount table open
// at descriptor (a mountinfo file).
std::set<std::string> stallingPointsIn(int descriptor) {
    std::set<std::string> points;
    std::string table;
    char buffer[8192];
    for (ssize_t got; (got = ::read(descriptor, buffer, sizeof buffer)) > 0;) {
        table.append(buffer, static_cast<std::size_t>(got));
    }
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        // ID PARENT MAJOR:MINOR ROOT POINT OPTIONS [FIELDS...] - TYPE SOURCE OPTIONS
        std::istringstream fields(line);
        std::string skip, point, field;
        fields >> skip >> skip >> skip >> skip >> point;
        while (fields >> field && field != "-") {
        }
        if (fields >> field && canStall(field)) {
            points.insert(unescaped(point));
        }
    }
    return points;
}

// The mount points of file systems that can stall, as the kernel's table
// has them now; read again when the table changes (mountinfo then polls as
// changed).
class StallingMounts {
public:
    const std::set<std::string>& now() {
        if (m_table < 0) {
            m_table = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
            read();
        } else {
            pollfd changed{m_table, POLLPRI, 0};
            if (::poll(&changed, 1, 0) > 0 && (changed.revents & (POLLPRI | POLLERR))) {
                read();
            }
        }
        return m_points;
    }

private:
    void read() {
        ::lseek(m_table, 0, SEEK_SET);
        m_points = stallingPointsIn(m_table);
    }

    int m_table = -1;
    std::set<std::string> m_points;
};

// The mount point of such a file system that the folder or file at path is,
// or that lies on its way; links are followed, and nothing inside such a
// mount is looked up. Empty when there is none.
std::string stallingMountOf(const std::string& path, const std::set<std::string>& points, int links = 0) {
    if (points.empty()) {
        return {};
    }
    std::string reached;
    std::istringstream parts(path);
    for (std::string part; std::getline(parts, part, '/');) {
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            reached = reached.substr(0, reached.rfind('/'));
            continue;
        }
        reached += "/" + part;
        if (points.count(reached) > 0) {
            return reached;
        }
        struct stat info {};
        if (::lstat(reached.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            continue;
        }
        if (links >= 40) {
            return {}; // the system gives up too (ELOOP)
        }
        char target[4096];
        const ssize_t length = ::readlink(reached.c_str(), target, sizeof target - 1);
        if (length <= 0) {
            continue;
        }
        std::string followed(target, static_cast<std::size_t>(length));
        if (followed.front() != '/') {
            followed.insert(0, reached.substr(0, reached.rfind('/') + 1));
        }
        std::string rest;
        std::getline(parts, rest, '\0');
        followed += '/';
        followed += rest;
        return stallingMountOf(followed, points, links + 1);
    }
    return points.count("/") > 0 ? "/" : "";
}

StallingMounts& stallingMounts() {
    static StallingMounts mounts;
    return mounts;
}

// The look-ups an item's start makes, in its order; what they find does
// not matter here, only that they come back. Run in a child of its own
// between fork and _exit, so only calls that are safe there.
void lookUp(const char* programFolder, const char* startIn, const char* target) {
    // Left waiting, it must hold nothing of the caller's open: a pipe that
    // reads the caller's output would never see its end.
    if (const int nowhere = ::open("/dev/null", O_RDWR | O_CLOEXEC); nowhere >= 0) {
        for (const int held : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            ::dup2(nowhere, held);
        }
    }
    if (::chdir(programFolder) != 0) {
        return;
    }
    if (*startIn != '\0' && ::chdir(startIn) != 0 && ::chdir(programFolder) != 0) {
        return;
    }
    struct stat info {};
    if (*target == '\0' || ::stat(target, &info) != 0 || !S_ISREG(info.st_mode)) {
        return;
    }
    // Only a regular file: opening a FIFO could wait for a writer.
    if (const FileDescriptor file(::open(target, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)); file) {
        char start[512];
        [[maybe_unused]] const ssize_t got = ::read(file.get(), start, sizeof start);
    }
}

// The mounts on which look-ups still wait, each with how many.
std::mutex silentGuard;
std::map<std::string, int> silentMounts;

void markSilent(const std::set<std::string>& mounts, int change) {
    const std::lock_guard<std::mutex> hold(silentGuard);
    for (const std::string& mount : mounts) {
        if ((silentMounts[mount] += change) <= 0) {
            silentMounts.erase(mount);
        }
    }
}

bool anyStillSilent(const std::set<std::string>& mounts) {
    const std::lock_guard<std::mutex> hold(silentGuard);
    return std::any_of(mounts.begin(), mounts.end(),
                       [](const std::string& mount) { return silentMounts.count(mount) > 0; });
}

} // namespace

bool mayStall(const std::string& path) {
    return !stallingMountOf(path, stallingMounts().now()).empty();
}

bool mayStallFor(pid_t pid, const std::string& path) {
    // The kernel names a namespace by a link's text ("mnt:[4026531841]"),
    // given without looking at any file.
    const auto namespaceOf = [](const std::string& process) {
        char text[64];
        const ssize_t length = ::readlink(("/proc/" + process + "/ns/mnt").c_str(), text, sizeof text);
        return length > 0 && static_cast<std::size_t>(length) < sizeof text
                   ? std::string(text, static_cast<std::size_t>(length))
                   : std::string();
    };
    static const std::string ours = namespaceOf("self");
    const std::string theirs = namespaceOf(std::to_string(pid));
    if (theirs.empty() || theirs == ours) {
        return mayStall(path);
    }
    static std::mutex guard;
    static std::map<std::string, std::set<std::string>> tables;
    const std::lock_guard<std::mutex> hold(guard);
    auto known = tables.find(theirs);
    if (known == tables.end()) {
        // Their table is the kernel's text, read without a look-up in it;
        // where it cannot be read, every path of theirs may stall.
        const FileDescriptor table(
            ::open(("/proc/" + std::to_string(pid) + "/mountinfo").c_str(), O_RDONLY | O_CLOEXEC));
        std::set<std::string> points = table ? stallingPointsIn(table.get()) : std::set<std::string>{"/"};
        const std::set<std::string>& here = stallingMounts().now();
        points.insert(here.begin(), here.end());
        known = tables.emplace(theirs, std::move(points)).first;
    }
    return !stallingMountOf(path, known->second).empty();
}

bool filesAnswerWithin(const std::string& programFolder, const std::string& startIn,
                       const std::string& target, std::chrono::milliseconds limit) {
    // A NUL byte ends the name for the system; the caller refuses such a
    // path, and nothing is looked up for it here.
    for (const std::string* path : {&programFolder, &startIn, &target}) {
        if (path->find('\0') != std::string::npos) {
            return true;
        }
    }
    // Where the item would start, and where its target may lie from there.
    const auto absolute = [](const std::string& base, const std::string& path) {
        return path.empty() || path.front() == '/' ? path : base + "/" + path;
    };
    const std::string folder = startIn.empty() ? programFolder : absolute(programFolder, startIn);
    std::set<std::string> mounts;
    for (const std::string& path :
         {programFolder, folder, absolute(folder, target), absolute(programFolder, target)}) {
        if (std::string mount = stallingMountOf(path, stallingMounts().now()); !mount.empty()) {
            mounts.insert(std::move(mount));
        }
    }
    if (mounts.empty()) {
        return true; // nothing there can keep the caller waiting
    }
    // A mount on which an earlier look-up still waits is not asked again:
    // ten items on it cost the bound once.
    if (anyStillSilent(mounts)) {
        return false;
    }
    // A process, not a thread: a look-up that the file system has taken
    // and never answers cannot be interrupted, not even by SIGKILL, and a
    // thread of ours waiting there would keep this process from ending.
    Pipe done = openPipe();
    if (!done.read) {
        return true; // the caller's own steps look, unbounded, as they would
    }
    const pid_t child = ::fork();
    if (child < 0) {
        return true;
    }
    if (child == 0) {
        lookUp(programFolder.c_str(), startIn.c_str(), target.c_str());
        ::_exit(0); // closes its write end: the answer
    }
    done.write.reset();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int ready = 0;
    do {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd closed{done.read.get(), POLLIN, 0};
        ready = ::poll(&closed, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    } while (ready < 0 && errno == EINTR);
    done.read.reset();
    if (ready > 0) {
        ::waitpid(child, nullptr, 0); // ended, or already reaped by a handler
        return true;
    }
    // It waits in the system still; whenever it ends, it is reaped, and its
    // mounts may be asked again.
    markSilent(mounts, +1);
    std::thread([child, mounts] {
        ::waitpid(child, nullptr, 0);
        markSilent(mounts, -1);
    }).detach();
    return false;
}

} // namespace corvale::platform
