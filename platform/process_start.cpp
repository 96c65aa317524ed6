#include "platform/process_start.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvale::platform {

namespace {

// posix_spawn with the settings every started program gets; returns 0 or an
// errno value.
int spawnDetached(const std::string& path, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);

    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

struct SpawnReport {
    int error;
    pid_t pid;
};

// Starts the program from a child that exits straight away; the program is
// then adopted by init (or the session's subreaper) and never becomes our
// zombie.
int spawnThroughIntermediate(const std::string& path, pid_t& pid) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return errno;
    }
    const pid_t intermediate = ::fork();
    if (intermediate < 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return error;
    }
    if (intermediate == 0) {
        SpawnReport report{0, 0};
        report.error = spawnDetached(path, report.pid);
        [[maybe_unused]] ssize_t written = ::write(fds[1], &report, sizeof report);
        ::_exit(0);
    }
    ::close(fds[1]);
    SpawnReport report{EIO, 0};
    ssize_t got;
    do {
        got = ::read(fds[0], &report, sizeof report);
    } while (got < 0 && errno == EINTR);
    ::close(fds[0]);
    while (::waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (got != static_cast<ssize_t>(sizeof report)) {
        return EIO;
    }
    pid = report.pid;
    return report.error;
}

} // namespace

namespace {
void reapEnded(int) {
    const int saved = errno;
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = saved;
}
} // namespace

void reapChildrenAsTheyEnd() {
    struct sigaction action {};
    action.sa_handler = reapEnded;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    ::sigaction(SIGCHLD, &action, nullptr);
}

pid_t startProgram(const std::string& path, ChildHandling handling) {
    if (path.empty()) {
        throw Failure("Cannot start the program: no such file.");
    }
    if (path.find('\0') != std::string::npos) {
        throw Failure("Cannot start a program whose path holds a NUL byte.");
    }
    pid_t pid = 0;
    const int rc = handling == ChildHandling::StarterEndsSoon ? spawnDetached(path, pid)
                                                              : spawnThroughIntermediate(path, pid);
    if (rc == EAGAIN || rc == ENOMEM) {
        throw OutOfResources(systemDescription("Cannot start " + path, rc));
    }
    if (rc != 0) {
        throw Failure(systemDescription("Cannot start " + path, rc));
    }
    return pid;
}

} // namespace corvale::platform
