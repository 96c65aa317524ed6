#pragma once

#include "platform/failure.h"

#include <chrono>
#include <string>
#include <sys/types.h>

namespace corvale::platform {

// How long a look-up of an item's files, or the start of its program, may
// take before the item counts as failed: as long as the waits for the
// session bus and the display. A file system whose server has gone (sshfs
// or NFS after leaving the office) never answers.
inline constexpr std::chrono::seconds kFileAnswerLimit{3};

// "did not answer within N seconds"
std::string noAnswerReason();

// The file system did not answer in time, or a program's start did not
// come back from the system. Nothing else should be tried for this item:
// every other way would wait on the same files.
class NoAnswer : public Failure {
public:
    using Failure::Failure;
};

// Whether path (absolute, links followed) may lie on a file system that can
// stop answering: FUSE (sshfs and the like), NFS, SMB and other network file
// systems, after the kernel's table of mounts (read again whenever it
// changes). Looks up only what lies outside such mounts.
bool mayStall(const std::string& path);
// The same for a path of the process with pid: one of another mount
// namespace (a rootless container, a sandboxed app) looks its paths up
// through its own table of mounts, whose file systems that can stop
// answering count too. Each namespace's table is read once per process.
bool mayStallFor(pid_t pid, const std::string& path);

// Whether the files an item names answer within limit: the program folder,
// startIn (a relative one from there), and target from the folder the item
// would start in, with the first bytes of a regular target read as its type
// is judged. Where none of them may stall (mayStall) nothing is asked and
// the answer is yes. Otherwise the look-ups run in a child process; one that
// does not answer in time is left to itself (the child waits, not the
// caller), and what it looked up is cached by the system for the caller's
// own steps. A mount that did not answer in time is not asked again by this
// process: later items on it fail at once.
bool filesAnswerWithin(const std::string& programFolder, const std::string& startIn,
                       const std::string& target, std::chrono::milliseconds limit = kFileAnswerLimit);

} // namespace corvale::platform
