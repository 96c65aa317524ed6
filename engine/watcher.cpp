#include "engine/watcher.h"

#include "engine/engine.h"
#include "platform/failure.h"
#include "platform/network.h"
#include "platform/process_start.h"
#include "shared/file_safety.h"
#include "shared/network_choice.h"
#include "shared/watch_lock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brisken {

namespace {

using Clock = std::chrono::steady_clock;

// The session is ending: nothing is left to finish, and what was started
// goes on in sessions of its own.
void endAtOnce(int) {
    ::_exit(kExitNormal);
}

// Between runs the watcher shows nothing: what the adapter query would say
// is said by the run that follows.
class Silent : public corvale::Dialogs {
public:
    corvale::MessageAnswer showMessage(const corvale::MessageRequest&) override {
        return corvale::MessageAnswer::Ok;
    }
    std::string openFile(const corvale::OpenFileRequest&) override { return {}; }
    std::string chooseFolder(const std::string&) override { return {}; }
};

// The choice for the network now, as a run would make it; gatewayEntries
// tells whether it asked for the gateway's hardware address. Without a
// database to read, the network alone, so that a change still brings a run
// that says what is wrong.
std::string choiceNow(const std::string& databasePath, bool& gatewayEntries) {
    corvale::platform::NetlinkNetwork network;
    Silent silent;
    corvale::NetworkDiscovery discovery(network, silent, kCaption);
    const std::string discovered = discovery.discoverIP();
    try {
        corvale::Database database(corvale::requirePrivateFile(databasePath),
                                   corvale::Database::Access::ReadOnly);
        const corvale::ListChoice choice = corvale::chooseList(database, discovered, discovery.identity());
        gatewayEntries = choice.gatewayHardwareAddress.has_value();
        return corvale::choiceKey(choice);
    } catch (const std::exception&) {
        return "the network of " + discovered;
    }
}

// Starts run in a process of its own, which closes first what only the
// watcher may hold.
void runApart(const Run& run, const RunSettings& settings, std::initializer_list<int> watcherOnly) {
    const pid_t child = ::fork();
    if (child == 0) {
        for (const int fd : watcherOnly) {
            ::close(fd);
        }
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        ::_exit(run(settings));
    }
    if (child < 0) {
        std::perror("brisken: cannot start a run");
    }
}

// The logon run, apart; returns once it has chosen its list (or ended
// without one), with the database it used and its choice.
void logonRun(const Run& run, std::optional<int> waitForNetworkSeconds, int lock, int notices,
              std::string& databasePath, std::string& ran) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        std::perror("brisken: cannot start the logon run");
        return;
    }
    RunSettings settings;
    settings.waitForNetworkSeconds = waitForNetworkSeconds;
    const int writer = report[1];
    settings.chosen = [writer](const std::string& path, const std::string& choice) {
        const std::string said = path + '\0' + choice;
        [[maybe_unused]] const ssize_t written = ::write(writer, said.data(), said.size());
        ::close(writer);
    };
    runApart(run, settings, {lock, notices, report[0]});
    ::close(report[1]);
    std::string said;
    char buffer[4096];
    for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0) {
            said.append(buffer, static_cast<std::size_t>(got));
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(report[0]);
    if (const auto separator = said.find('\0'); separator != std::string::npos) {
        databasePath = said.substr(0, separator);
        ran = said.substr(separator + 1);
    }
}

void listenToNeighbours(int notices) {
    const int group = RTNLGRP_NEIGH;
    ::setsockopt(notices, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group);
}

} // namespace

int watch(const std::string& programFolder, std::chrono::seconds settle,
          std::optional<int> waitForNetworkSeconds, const Run& run) {
    const std::string lockPath = corvale::watchLockPath(programFolder);
    std::string holder;
    int lock = -1;
    try {
        lock = corvale::takeWatchLock(lockPath, holder);
    } catch (const corvale::Failure& failure) {
        std::fprintf(stderr, "brisken: %s\n", failure.what());
        return kExitTrapped;
    }
    if (lock < 0) {
        std::fprintf(stderr,
                     "brisken: a watcher runs already for this session (process %s, %s); this one ends\n",
                     holder.c_str(), lockPath.c_str());
        return kExitNormal;
    }
    std::signal(SIGTERM, endAtOnce);
    std::signal(SIGINT, endAtOnce);
    corvale::platform::reapChildrenAsTheyEnd();
    // Listen before the logon run looks: a change meanwhile is not missed.
    const int notices = corvale::platform::openRouteNotices();
    if (notices < 0) {
        std::perror("brisken: cannot follow the network's changes");
        return kExitTrapped;
    }

    std::string databasePath = programFolder + "/corvale.mdb";
    std::string ran;
    logonRun(run, waitForNetworkSeconds, lock, notices, databasePath, ran);

    std::optional<std::string> pending;
    Clock::time_point pendingSince;
    bool neighbours = false;
    auto look = [&] {
        bool gatewayEntries = false;
        const std::string choice = choiceNow(databasePath, gatewayEntries);
        if (gatewayEntries && !neighbours) {
            listenToNeighbours(notices);
            neighbours = true;
        }
        return choice;
    };
    for (;;) {
        int timeout = -1; // nothing to wait for but the kernel's next notice
        if (pending) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(pendingSince + settle - Clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
        }
        pollfd change{notices, POLLIN, 0};
        const int ready = ::poll(&change, 1, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue; // a program it started ended
            }
            std::perror("brisken: cannot follow the network's changes");
            return kExitTrapped;
        }
        if (ready > 0) {
            corvale::platform::drainRouteNotices(notices); // a notice after this wakes the next round
        }
        const std::string choice = look();
        if (choice == ran) {
            pending.reset();
            continue;
        }
        if (!pending || *pending != choice) {
            pending = choice;
            pendingSince = Clock::now();
            continue;
        }
        if (Clock::now() < pendingSince + settle) {
            continue;
        }
        RunSettings settings;
        settings.databaseFound = databasePath;
        settings.passOverRunning = true;
        runApart(run, settings, {lock, notices});
        ran = choice;
        pending.reset();
    }
}

} // namespace brisken
