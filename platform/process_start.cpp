#include "platform/process_start.h"
#include "platform/owned.h"

#include "platform/file_answer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace corvale::platform {

namespace {

// Reads up to size bytes once fd has something to say or is closed, waiting
// limit at most; -1 when it said nothing in time.
ssize_t readWithin(int fd, void* into, std::size_t size, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        const int got = ::poll(&ready, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (got == 0) {
            return -1;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        ssize_t read;
        do {
            read = ::read(fd, into, size);
        } while (read < 0 && errno == EINTR);
        return read < 0 ? 0 : read;
    }
}

// posix_spawn with the settings every started program gets; returns 0 or an
// errno value. The caller waits until the child has made its exec.
int spawnAtOnce(const std::string& path, pid_t& pid, char* const* environment) {
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
    const int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environment);

    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

// Starts path in a child of its own with the settings every started program
// gets, and waits for the kernel's answer to its exec for limit at most: an
// exec from a file system that no longer answers blocks the child, never
// the caller. Returns 0, an errno value, or ETIMEDOUT with pid set to the
// child that still waits. Between fork and exec the child calls only what
// is safe in a copy of a process with threads.
int spawnDetached(const std::string& path, pid_t& pid, std::chrono::milliseconds limit,
                  char* const* environment) {
    // posix_spawn is the cheapest, but waits for the exec: only for a file
    // on a file system that cannot stall.
    if (!mayStall(path)) {
        return spawnAtOnce(path, pid, environment);
    }
    Pipe report = openPipe();
    if (!report.read) {
        return errno;
    }
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const pid_t child = ::fork();
    if (child < 0) {
        return errno;
    }
    if (child == 0) {
        ::setsid();
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal) {
            ::sigaction(signal, &standard, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const int input = ::open("/dev/null", O_RDONLY);
        if (input >= 0 && input != STDIN_FILENO) {
            ::dup2(input, STDIN_FILENO);
            ::close(input);
        }
        ::execve(path.c_str(), argv, environment);
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(report.write.get(), &error, sizeof error);
        ::_exit(127);
    }
    report.write.reset();
    int error = 0;
    const ssize_t got = readWithin(report.read.get(), &error, sizeof error, limit);
    pid = child;
    if (got < 0) {
        return ETIMEDOUT;
    }
    return got == static_cast<ssize_t>(sizeof error) ? error : 0; // closed unwritten: it runs
}

struct SpawnReport {
    int error;
    pid_t pid;
};

// Starts the program from a child that exits straight away; the program is
// then adopted by init (or the session's subreaper) and never becomes our
// zombie.
int spawnThroughIntermediate(const std::string& path, pid_t& pid, char* const* environment) {
    Pipe answer = openPipe();
    if (!answer.read) {
        return errno;
    }
    const pid_t intermediate = ::fork();
    if (intermediate < 0) {
        return errno;
    }
    if (intermediate == 0) {
        SpawnReport report{0, 0};
        report.error = spawnDetached(path, report.pid, kFileAnswerLimit, environment);
        [[maybe_unused]] ssize_t written = ::write(answer.write.get(), &report, sizeof report);
        ::_exit(0);
    }
    answer.write.reset();
    SpawnReport report{EIO, 0};
    // The intermediate gives its answer within the limit; a little more is
    // allowed for it to come across.
    const ssize_t got =
        readWithin(answer.read.get(), &report, sizeof report, kFileAnswerLimit + std::chrono::seconds(1));
    answer.read.reset();
    if (got < 0) {
        // It waits in the system still: it is reaped whenever it ends.
        std::thread([intermediate] { ::waitpid(intermediate, nullptr, 0); }).detach();
        return ETIMEDOUT;
    }
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

std::vector<std::string> ChildEnvironment::whole() const {
    std::vector<std::string> all;
    for (char** variable = environ; variable && *variable; ++variable) {
        if (std::strncmp(*variable, "BRISKEN_", 8) != 0) {
            all.emplace_back(*variable);
        }
    }
    all.insert(all.end(), variables.begin(), variables.end());
    return all;
}

pid_t startProgram(const std::string& path, ChildHandling handling, const ChildEnvironment& environment) {
    if (path.empty()) {
        throw Failure("Cannot start the program: no such file.");
    }
    if (path.find('\0') != std::string::npos) {
        throw Failure("Cannot start a program whose path holds a NUL byte.");
    }
    // Made before any fork: a child of a process with threads may only
    // call what is safe there.
    const std::vector<std::string> whole = environment.whole();
    std::vector<char*> pointers;
    pointers.reserve(whole.size() + 1);
    for (const std::string& variable : whole) {
        pointers.push_back(const_cast<char*>(variable.c_str()));
    }
    pointers.push_back(nullptr);
    pid_t pid = 0;
    const int rc = handling == ChildHandling::StarterEndsSoon
                       ? spawnDetached(path, pid, kFileAnswerLimit, pointers.data())
                       : spawnThroughIntermediate(path, pid, pointers.data());
    if (rc == ETIMEDOUT) {
        throw NoAnswer("Cannot start " + path + ": it " + noAnswerReason() + ".");
    }
    if (rc == EAGAIN || rc == ENOMEM) {
        throw OutOfResources(systemDescription("Cannot start " + path, rc));
    }
    if (rc != 0) {
        throw Failure(systemDescription("Cannot start " + path, rc));
    }
    return pid;
}

} // namespace corvale::platform
