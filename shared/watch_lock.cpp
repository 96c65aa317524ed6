#include "shared/watch_lock.h"

#include "platform/failure.h"
#include "shared/file_safety.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvale {

std::string watchLockPath(const std::string& programFolder) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return (runtime && *runtime ? std::string(runtime) : programFolder) + "/brisken-watch.lock";
}

namespace {

int openLockFile(const std::string& path, int flags) {
    return ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
}

std::string contentOf(int fd) {
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    std::string holder = got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string();
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) {
        holder.pop_back();
    }
    return holder;
}

} // namespace

platform::FileDescriptor takeWatchLock(const std::string& path, std::string& holder) {
    // Where another user could lay the file, or take it away, the lock
    // would keep nobody out.
    requirePrivateFolder(std::filesystem::path(path).parent_path().string());
    platform::FileDescriptor lock(openLockFile(path, O_RDWR | O_CREAT));
    if (!lock) {
        throw Failure(systemDescription("Cannot make the watcher's lock " + path, errno));
    }
    struct stat info {};
    if (::fstat(lock.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        throw Failure("The watcher's lock " + path + " is not a file of yours, so it is not used.");
    }
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        holder = contentOf(lock.get());
        return {};
    }
    const std::string self = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lock.get(), 0) != 0 ||
        ::pwrite(lock.get(), self.data(), self.size(), 0) != static_cast<ssize_t>(self.size())) {
        throw Failure(systemDescription("Cannot write the watcher's lock " + path, errno));
    }
    return lock;
}

bool watcherRunning(const std::string& path) {
    const platform::FileDescriptor lock(openLockFile(path, O_RDONLY));
    return lock && ::flock(lock.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

} // namespace corvale
