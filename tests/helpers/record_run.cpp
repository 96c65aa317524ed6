// A program for the tests to start: it appends one line about itself to the
// file named by CORVALE_RECORD and exits. With CORVALE_RECORD_ENV it also
// writes its whole environment, each variable ended by a NUL byte, into the
// file of that name followed by "." and its process identifier. With CORVALE_RECORD_HOLD_FD it
// then reads that descriptor until its writer closes it, so that a test
// decides when it ends (to outlive whoever started it); CORVALE_RECORD_HOLD_FIFO
// names a FIFO read the same way, for a program started by a desktop that
// closes every descriptor it does not hand on.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
    const char* recordPath = std::getenv("CORVALE_RECORD");
    if (!recordPath) {
        return 3;
    }
    char cwd[PATH_MAX] = {};
    if (!getcwd(cwd, sizeof cwd)) {
        cwd[0] = '?';
    }
    char stdinTarget[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/fd/0", stdinTarget, sizeof stdinTarget - 1);
    stdinTarget[n > 0 ? n : 0] = '\0';

    std::string line = "argv0=" + std::string(argv[0]);
    line += "\targs=";
    for (int i = 1; i < argc; ++i) {
        line += (i > 1 ? "," : "") + std::string(argv[i]);
    }
    line += "\tcwd=" + std::string(cwd);
    line += "\tpid=" + std::to_string(getpid());
    line += "\tppid=" + std::to_string(getppid());
    line += "\tsid=" + std::to_string(getsid(0));
    line += "\tstdin=" + std::string(stdinTarget);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    line += "\tmonotonic_ns=" + std::to_string(now.tv_sec * 1'000'000'000LL + now.tv_nsec);
    line += "\n";

    if (const char* environmentPath = std::getenv("CORVALE_RECORD_ENV")) {
        std::string variables;
        for (char** variable = environ; *variable; ++variable) {
            variables += std::string(*variable) + '\0';
        }
        const std::string file = std::string(environmentPath) + "." + std::to_string(getpid());
        const int out = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 ||
            write(out, variables.data(), variables.size()) != static_cast<ssize_t>(variables.size())) {
            return 6;
        }
        close(out);
    }

    // One append of the whole line, so that lines of programs started
    // together never mix.
    const int fd = open(recordPath, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) {
        return 4;
    }
    const bool complete = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    // CORVALE_RECORD_HOLD_ONLY names the one program (by its file name) that
    // holds, where several are started with the same environment.
    const char* only = std::getenv("CORVALE_RECORD_HOLD_ONLY");
    const std::string name = std::string(argv[0]).substr(std::string(argv[0]).rfind('/') + 1);
    const char* hold = std::getenv("CORVALE_RECORD_HOLD_FD");
    const char* fifo = std::getenv("CORVALE_RECORD_HOLD_FIFO");
    if ((hold || fifo) && (!only || name == only)) {
        const int held = fifo ? open(fifo, O_RDONLY) : std::atoi(hold);
        char byte;
        ssize_t got;
        do {
            got = read(held, &byte, 1);
        } while (got > 0 || (got < 0 && errno == EINTR));
    }
    return complete ? 0 : 5;
}
