#pragma once

#include "platform/failure.h"

#include <string>
#include <sys/types.h>
#include <vector>

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

// From now on every child this process started is released as soon as it
// ends, so that a long list never fills the process table with zombies (they
// count against the user's process limit). For a program that starts with
// StarterEndsSoon and never waits for a child of its own.
void reapChildrenAsTheyEnd();

// What a started program finds in its environment: this process's own, less
// every BRISKEN_ variable (which only the values given may set), plus
// variables, "NAME=VALUE" each. This process's environment never changes.
struct ChildEnvironment {
    std::vector<std::string> variables;

    // The whole environment, as the program gets it.
    std::vector<std::string> whole() const;
};

// Starts the file at path itself as a program (never through a shell: a file
// the kernel cannot execute fails), with argv[0] = path, in a session of its
// own, with stdin from /dev/null, in the current folder, with environment.
// Nothing waits for it. Returns its process identifier; fails with the
// system's description, as OutOfResources when the system has no room for
// another process now.
pid_t startProgram(const std::string& path, ChildHandling handling, const ChildEnvironment& environment = {});

// The system could not make a process: the user's process limit, or memory.
// Nothing else should be tried for this start; every other way needs a
// process too.
class OutOfResources : public Failure {
public:
    using Failure::Failure;
};

} // namespace corvale::platform
