#include "engine/item_start.h"

#include "platform/file_answer.h"
#include "shared/launcher.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace brisken {

namespace {
constexpr const char* kCaption = "Brisken";
} // namespace

std::vector<std::string> askToEndOnLeaving(const std::vector<StartedProcess>& startedBefore,
                                           const std::vector<ItemPlan>& plans,
                                           const EarlierProcesses::Marks& marked,
                                           const StartedTold& started) {
    std::vector<std::string> stopped;
    for (StartedProcess process : EarlierProcesses(startedBefore).toEndOnLeaving(plans, marked)) {
        // A process group the watcher made for the item: a SIGTERM, and
        // nothing more (it may take its time, or stay), ever.
        if (::kill(-process.pid, SIGTERM) == 0) {
            stopped.push_back(corvale::printablePath(process.target));
        }
        process.asked = true;
        if (started) {
            started(process);
        }
    }
    return stopped;
}

namespace {

// Waits for the process to end, up to until; whether it ended. A process
// that is gone already (ended, and reaped) has ended.
bool endsBy(pid_t pid, std::chrono::steady_clock::time_point until) {
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (handle < 0) {
        return errno == ESRCH;
    }
    bool ended = false;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd exited{handle, POLLIN, 0};
        const int ready = ::poll(&exited, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        ended = ready > 0;
        break;
    }
    ::close(handle);
    return ended;
}

} // namespace

LeavingOutcome runLeavingItems(const std::vector<ItemPlan>& plans,
                               const corvale::platform::ChildEnvironment& environment,
                               const std::string& programFolder, std::chrono::milliseconds bound) {
    LeavingOutcome outcome;
    for (const ItemPlan& item : plans) {
        // Started as the list's items are, and told of nowhere: the watcher
        // has nothing to pass over or stop of them.
        const StartOutcome one = startItems({item}, environment, programFolder, {});
        outcome.failedPrograms.insert(outcome.failedPrograms.end(), one.failedPrograms.begin(),
                                      one.failedPrograms.end());
        outcome.failureReasons.insert(outcome.failureReasons.end(), one.failureReasons.begin(),
                                      one.failureReasons.end());
        if (one.started == 0) {
            continue;
        }
        ++outcome.ran;
        // A document handed to an application that was running already has
        // no process of its own to wait for.
        if (!one.processes.empty() &&
            !endsBy(one.processes.front(), std::chrono::steady_clock::now() + bound)) {
            outcome.stillRunning.push_back(corvale::printablePath(item.target));
        }
    }
    return outcome;
}

StartOutcome startItems(const std::vector<ItemPlan>& plans,
                        const corvale::platform::ChildEnvironment& environment,
                        const std::string& programFolder, const StartedTold& started) {
    StartOutcome outcome;
    for (const ItemPlan& item : plans) {
        const std::string shown = item.why == ItemPlan::Why::NoTarget ? std::string(kNoTarget)
                                                                      : corvale::printablePath(item.target);
        auto fail = [&](const std::string& why) {
            outcome.failedPrograms.push_back(shown);
            outcome.failureReasons.push_back(shown);
            outcome.failureReasons.back() += ": " + why;
        };
        switch (item.why) {
        case ItemPlan::Why::NoTarget:
            fail("no target");
            continue;
        case ItemPlan::Why::NoAnswer:
            fail(corvale::platform::noAnswerReason());
            continue;
        case ItemPlan::Why::OtherWriter:
            fail(corvale::otherWriterReason(*item.otherWriter));
            continue;
        case ItemPlan::Why::EngineItself: {
            const std::string line =
                std::string(kCaption) + ": " + shown + ": passed over: " + corvale::kEngineItself + "\n";
            std::fwrite(line.data(), 1, line.size(), stderr);
            continue;
        }
        case ItemPlan::Why::AlreadyRunning:
            ++outcome.passedOver;
            // This list holds it now: its item governs what happens to the
            // process on leaving.
            if (item.earlier && started) {
                StartedProcess held = *item.earlier;
                held.table = item.table;
                held.listId = item.listId;
                held.stopOnLeave = item.stopOnLeave;
                started(held);
            }
            continue;
        case ItemPlan::Why::None:
            break;
        }
        const corvale::LaunchResult result =
            corvale::execIt(item.startIn, item.target, 1, corvale::platform::ChildHandling::StarterEndsSoon,
                            programFolder, corvale::FilesAnswered::Already, environment);
        if (!corvale::launchSucceeded(result)) {
            fail(corvale::launchFailureReason(result));
            continue;
        }
        ++outcome.started;
        const std::int64_t process =
            result.kind == corvale::LaunchResult::Kind::ProcessId ? result.number : result.launchedProcess;
        if (process > 0) {
            outcome.processes.push_back(static_cast<pid_t>(process));
        }
        if (started && process > 0) {
            const auto pid = static_cast<pid_t>(process);
            started({item.target, pid, corvale::platform::processStartTime(pid).value_or(0), item.stopOnLeave,
                     item.file, item.table, item.listId});
        }
        if (result.startInMissing) {
            const std::string note = std::string(kCaption) + ": " + shown + ": " +
                                     corvale::missingStartInNote(item.startIn, programFolder) + "\n";
            std::fwrite(note.data(), 1, note.size(), stderr);
        }
    }
    return outcome;
}

} // namespace brisken
