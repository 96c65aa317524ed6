// The least a launcher could do: start PROGRAM COUNT times, wait for none.
#include <cstdlib>
#include <spawn.h>

extern char** environ;

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const int count = std::atoi(argv[2]);
    char* args[] = {argv[1], nullptr};
    for (int i = 0; i < count; ++i) {
        pid_t pid;
        if (posix_spawn(&pid, argv[1], nullptr, nullptr, args, environ) != 0) {
            return 1;
        }
    }
    return 0;
}
