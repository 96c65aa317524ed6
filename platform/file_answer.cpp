#include "platform/file_answer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvale::platform {

std::string noAnswerReason() {
    return "did not answer within " + std::to_string(kFileAnswerLimit.count()) + " seconds";
}

namespace {

// The look-ups an item's start makes, in its order; what they find does
// not matter here, only that they come back. Run in a child of its own
// between fork and _exit, so only calls that are safe there.
void lookUp(const char* programFolder, const char* startIn, const char* target) {
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
    const int file = ::open(target, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file >= 0) {
        char start[512];
        [[maybe_unused]] const ssize_t got = ::read(file, start, sizeof start);
        ::close(file);
    }
}

} // namespace

bool filesAnswerWithin(const std::string& programFolder, const std::string& startIn,
                       const std::string& target, std::chrono::milliseconds limit) {
    // A NUL byte ends the name for the system; the caller refuses such a
    // path, and nothing is looked up for it here.
    for (const std::string* path : {&programFolder, &startIn, &target}) {
        if (path->find('\0') != std::string::npos) {
            return true;
        }
    }
    // A process, not a thread: a look-up that the file system has taken
    // and never answers cannot be interrupted, not even by SIGKILL, and a
    // thread of ours waiting there would keep this process from ending.
    int done[2];
    if (::pipe2(done, O_CLOEXEC) != 0) {
        return true; // the caller's own steps look, unbounded, as they would
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(done[0]);
        ::close(done[1]);
        return true;
    }
    if (child == 0) {
        lookUp(programFolder.c_str(), startIn.c_str(), target.c_str());
        ::_exit(0); // closes done[1]: the answer
    }
    ::close(done[1]);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int ready = 0;
    do {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd closed{done[0], POLLIN, 0};
        ready = ::poll(&closed, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    } while (ready < 0 && errno == EINTR);
    ::close(done[0]);
    if (ready > 0) {
        ::waitpid(child, nullptr, 0); // ended, or already reaped by a handler
        return true;
    }
    // It waits in the system still; whenever it ends, it is reaped.
    std::thread([child] { ::waitpid(child, nullptr, 0); }).detach();
    return false;
}

} // namespace corvale::platform
