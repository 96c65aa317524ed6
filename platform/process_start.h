#pragma once

#include <string>
#include <sys/types.h>

namespace corvale::platform {

// How a started program is cut loose from the program that starts it.
enum class ChildHandling {
    // The starter ends right after its list: the program stays its child until
    // then, and init adopts it afterwards. One fork per start, the cheapest.
    StarterEndsSoon,
    // The starter keeps running (the configuration tool): a short-lived
    // intermediate process starts the program and exits at once, so the
    // starter is never left with a child to reap.
    StarterKeepsRunning,
};

// Starts the file at path itself as a program (never through a shell: a file
// the kernel cannot execute fails), with argv[0] = path, in a session of its
// own, with stdin from /dev/null, in the current folder. Nothing waits for it.
// Returns its process identifier; fails with the system's description.
pid_t startProgram(const std::string& path, ChildHandling handling);

} // namespace corvale::platform
