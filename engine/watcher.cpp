#include "engine/watcher.h"

#include "engine/bus_process.h"
#include "engine/engine.h"
#include "engine/watch_decisions.h"
#include "platform/failure.h"
#include "platform/network.h"
#include "platform/process_start.h"
#include "shared/file_safety.h"
#include "shared/network_choice.h"
#include "shared/watch_lock.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brisken {

namespace {

using Clock = std::chrono::steady_clock;
// The least time between two looks at the network while its notices pour in.
constexpr std::chrono::milliseconds kLookGap{50};

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
    std::string chooseFolder(const std::string&, const std::string&) override { return {}; }
};

// The choice for the network now, as a run would make it, and the network
// it is for; gatewayEntries tells whether it asked for the gateway's
// hardware address, gateway is the gateway's address. The kernel is made to
// resolve the gateway only where resolve says; where is the place as the
// bus shows it. Without a database to read, the network alone, so that a
// change still brings a run that says what is wrong.
ChoiceKey choiceNow(const std::string& databasePath, bool resolve, bool& gatewayEntries, std::string& gateway,
                    PlaceState& where) {
    corvale::platform::NetlinkNetwork network;
    Silent silent;
    corvale::NetworkDiscovery discovery(network, silent, kCaption);
    const corvale::DiscoveredAddress discovered = discovery.discoverIP();
    gateway = discovery.lastGateway();
    corvale::ListChoice choice;
    bool read = false;
    try {
        corvale::Database database(corvale::requirePrivateFile(databasePath),
                                   corvale::Database::Access::ReadOnly);
        choice = corvale::chooseList(database, discovered, discovery.identity(),
                                     corvale::IdentityLookups::asARun(resolve));
        gatewayEntries = choice.gatewayHardwareAddress.has_value();
        read = true;
    } catch (const std::exception&) {
        choice.match = discovered.connected() ? corvale::ListChoice::Match::Nothing
                                              : corvale::ListChoice::Match::Disconnected;
    }
    std::string wifi;
    if (choice.wifiName) {
        wifi = choice.wifiName->value;
    } else if (corvale::NetworkIdentity* identity = discovery.identity()) {
        wifi = identity->wifiName().value;
    }
    where.place = corvale::placeOf(choice, discovery.lastInterface(), gateway);
    where.connected = discovered.connected();
    where.tunnel = choice.throughTunnel.has_value();
    where.target = corvale::placeTarget(where.place, where.connected);
    NetworkKey key = NetworkKey::of(discovery.lastAdapter(), choice, wifi);
    return read ? ChoiceKey::of(choice, std::move(key))
                : ChoiceKey{ChoiceKey::List::Unread, {}, std::move(key)};
}

// A run in a process of its own, and the end of a pipe on which it says
// that it only waits for a person to read its last message.
struct RunApart {
    pid_t pid = -1;
    corvale::platform::FileDescriptor waitsOnMessage;
    // On which it tells of each process it starts for an item, read as it
    // writes; closed once the run has closed its end.
    corvale::platform::FileDescriptor startedReport;
    StartedRecords records;
};

// Reads what the runs told of the processes they started so far, and
// forgets those that ended since.
void collectStarted(std::vector<RunApart>& runs, std::vector<StartedProcess>& started) {
    for (RunApart& apart : runs) {
        char buffer[4096];
        ssize_t got = 0;
        while (apart.startedReport && (got = ::read(apart.startedReport.get(), buffer, sizeof buffer)) > 0) {
            apart.records.append(buffer, static_cast<std::size_t>(got));
        }
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            apart.startedReport.reset(); // the run has told all it will
        }
        for (StartedProcess& process : apart.records.take()) {
            keepLatest(started, std::move(process));
        }
    }
    std::erase_if(started, [](const StartedProcess& process) { return !stillRuns(process); });
}

// Starts run in a process of its own, which closes first what only the
// watcher may hold.
RunApart runApart(const Run& run, RunSettings settings, std::initializer_list<int> watcherOnly) {
    corvale::platform::Pipe told = corvale::platform::openPipe();
    corvale::platform::Pipe report = corvale::platform::openPipe();
    // The watcher reads whatever is there; the run waits while the pipe is
    // full, which the watcher empties as it comes, so nothing is lost.
    if (report.read) {
        ::fcntl(report.read.get(), F_SETFL, ::fcntl(report.read.get(), F_GETFL) | O_NONBLOCK);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        // The run's own copies of what the watcher holds.
        for (const int fd : watcherOnly) {
            ::close(fd);
        }
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        if (told.write) {
            told.read.reset();
            settings.beforeLastMessage = [fd = told.write.get()] {
                [[maybe_unused]] const ssize_t written = ::write(fd, "m", 1);
            };
        }
        if (report.write) {
            report.read.reset();
            settings.started = [fd = report.write.get()](const StartedProcess& process) {
                const std::string record = process.record();
                for (std::size_t done = 0; done < record.size();) {
                    const ssize_t written = ::write(fd, record.data() + done, record.size() - done);
                    if (written < 0 && errno != EINTR) {
                        break; // the watcher is gone
                    }
                    done += written > 0 ? static_cast<std::size_t>(written) : 0;
                }
            };
        }
        ::_exit(run(settings));
    }
    told.write.reset();
    report.write.reset();
    if (child < 0) {
        std::perror("brisken: cannot start a run");
        return {};
    }
    return {child, std::move(told.read), std::move(report.read), {}};
}

// Ends the runs that only wait for a person to read their message, and
// forgets those that ended: one message at most stands, the newest run's.
void endRunsWaitingOnTheirMessage(std::vector<RunApart>& runs) {
    std::erase_if(runs, [](const RunApart& apart) {
        pollfd said{apart.waitsOnMessage.get(), POLLIN, 0};
        if (::poll(&said, 1, 0) <= 0) {
            return false; // still starting its items
        }
        char byte = 0;
        const bool waiting = ::read(apart.waitsOnMessage.get(), &byte, 1) == 1;
        pollfd ended{apart.waitsOnMessage.get(), POLLIN, 0};
        // A run that ended after it said so is gone already, and its
        // number may be another process's by now.
        if (waiting && !(::poll(&ended, 1, 0) > 0 && (ended.revents & POLLHUP))) {
            ::kill(apart.pid, SIGTERM);
        }
        return true;
    });
}

// The holder's process number as its lock file gives it, when it is one.
std::string holderNumber(const std::string& holder) {
    const bool number =
        !holder.empty() && holder.size() <= 10 &&
        std::all_of(holder.begin(), holder.end(), [](char c) { return c >= '0' && c <= '9'; });
    return number ? "process " + holder + ", " : std::string();
}

// The logon run, apart; returns once it has chosen its list (or ended
// without one), with the database it used and its choice.
RunApart logonRun(const Run& run, std::optional<int> waitForNetworkSeconds, int lock, int notices, int bus,
                  std::string& databasePath, std::string& ran) {
    corvale::platform::Pipe report = corvale::platform::openPipe();
    if (!report.read) {
        std::perror("brisken: cannot start the logon run");
        return {};
    }
    RunSettings settings;
    settings.waitForNetworkSeconds = waitForNetworkSeconds;
    // A watcher started again (a new login, a crash) starts nothing that
    // still runs from before.
    settings.passOverRunning = true;
    // The run closes its end once it has told, and goes on.
    const int writer = report.write.get();
    settings.chosen = [writer](const std::string& path, const corvale::ListChoice& choice) {
        const std::string said = path + '\0' + ChoiceKey::of(choice).told();
        [[maybe_unused]] const ssize_t written = ::write(writer, said.data(), said.size());
        ::close(writer);
    };
    RunApart logon = runApart(run, settings, {lock, notices, bus, report.read.get()});
    report.write.reset();
    std::string said;
    char buffer[4096];
    for (ssize_t got; (got = ::read(report.read.get(), buffer, sizeof buffer)) != 0;) {
        if (got > 0) {
            said.append(buffer, static_cast<std::size_t>(got));
        } else if (errno != EINTR) {
            break;
        }
    }
    if (const auto separator = said.find('\0'); separator != std::string::npos) {
        databasePath = said.substr(0, separator);
        ran = said.substr(separator + 1);
    }
    return logon;
}

void listenToNeighbours(int notices) {
    const int group = RTNLGRP_NEIGH;
    ::setsockopt(notices, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group);
}

// What the watcher keeps between the kernel's notices, and what it does
// with them: looks at the network once the notices allow, and runs the list
// of a network that has settled.
class Watching {
public:
    Watching(const Run& run, std::string databasePath, int lock, int notices, BusProcess bus,
             std::chrono::seconds settle, const ChoiceKey& logonRan)
        : m_run(run), m_databasePath(std::move(databasePath)), m_lock(lock), m_notices(notices),
          m_bus(std::move(bus)), m_throttle(kLookGap, Clock::now()),
          // The logon run's list on the network as the watcher first sees
          // it; this look also listens to the neighbour table from the start
          // where an entry asks for it.
          m_settling(settle, ChoiceKey{logonRan.list, logonRan.entry, look(false).network}) {
        m_settled = m_place;
        m_bus.tell(m_settled, true);
    }

    // How long poll may wait: until the choice that waits settles or the
    // look that waits is due; -1 when only a notice can bring anything.
    int timeout() const {
        std::optional<Clock::time_point> first = m_settling.settlesAt();
        if (const auto lookAt = m_throttle.lookAt(); lookAt && (!first || *lookAt < *first)) {
            first = lookAt;
        }
        if (!first) {
            return -1;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*first - Clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    }

    // What poll waits on: the kernel's notices first, the bus process's
    // requests second (-1, which poll passes over, once it has gone), then
    // each run's reports of its processes.
    std::vector<pollfd> watched() const {
        std::vector<pollfd> fds{{m_notices, POLLIN, 0}, {m_bus.socket(), POLLIN, 0}};
        for (const RunApart& apart : runs) {
            if (apart.startedReport) {
                fds.push_back({apart.startedReport.get(), POLLIN, 0});
            }
        }
        return fds;
    }

    // What poll found (ready descriptors of watched, or none when its time
    // ran out): the runs' reports are read, the bus's requests answered; a
    // notice, or a choice that settles, may bring a look and a run.
    void dispatch(const std::vector<pollfd>& watched, int ready) {
        if (ready > 0 && std::any_of(watched.begin() + 2, watched.end(),
                                     [](const pollfd& told) { return told.revents != 0; })) {
            collectStarted(runs, started);
        }
        if (ready > 0 && watched[1].revents != 0) {
            for (const BusRequest& request : m_bus.take()) {
                m_bus.answer(request.serial, answer(request));
            }
        }
        if (ready > 0 && watched[0].revents == 0) {
            return; // a run or the bus spoke; the network is as it was
        }
        if (ready > 0) {
            readNotices();
        }
        lookAndRun();
    }

private:
    // Of the neighbour table only the gateway's entry matters: another
    // host's (an ARP flood on the LAN) wakes nothing.
    void readNotices() {
        const corvale::platform::RouteNotices read = corvale::platform::readRouteNotices(m_notices);
        const bool gatewaysEntry =
            std::find(read.neighbours.begin(), read.neighbours.end(), m_gateway) != read.neighbours.end();
        if (read.network || gatewaysEntry) {
            m_throttle.noticed(read.network);
        }
    }

    // Looks where a look is due, and starts the list of a choice that has
    // settled, in a run of its own; paused, says what it did not run.
    void lookAndRun() {
        const bool settled = m_settling.settlesAt() && Clock::now() >= *m_settling.settlesAt();
        const LookThrottle::Look due = m_throttle.take(Clock::now(), settled);
        // The list run last is the one the laptop leaves, if this look
        // settles on another network.
        const ChoiceKey ranLast = m_settling.lastRun();
        if (!due.now || !m_settling.looked(look(due.resolve), Clock::now())) {
            return;
        }
        const PlaceState left = std::exchange(m_settled, m_place);
        const std::optional<ChoiceKey> leaves = m_pausing.leaves(ranLast);
        m_pausing.arrived(!m_pausing.paused());
        if (m_pausing.paused()) {
            sayPassedOver(left, leaves.has_value());
            m_bus.tell(m_settled, false);
            return;
        }
        RunSettings settings = watchersRun(corvale::RunKind::Arrival);
        settings.left = listLeft(leaves);
        startRun(settings);
        m_bus.tell(m_settled, true);
    }

    static std::optional<ListLeft> listLeft(const std::optional<ChoiceKey>& left) {
        if (!left) {
            return std::nullopt;
        }
        return ListLeft{left->list == ChoiceKey::List::Disconnected, left->entry};
    }

    // The summary of an arrival while paused: what did not run.
    void sayPassedOver(const PlaceState& left, bool leaves) const {
        const auto listOf = [](const PlaceState& at) {
            return !at.connected            ? std::string("the disconnected list")
                   : at.place.place.empty() ? std::string("no list")
                                            : "the list of " + corvale::printablePath(at.place.place);
        };
        std::string line = "brisken: paused: " + listOf(m_settled) + " is not run";
        if (leaves && (!left.connected || !left.place.place.empty())) {
            line += ", nor what runs on leaving " + listOf(left);
        }
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }

    // The settings of every run the watcher starts.
    RunSettings watchersRun(corvale::RunKind kind) {
        RunSettings settings;
        settings.databaseFound = m_databasePath;
        settings.passOverRunning = true;
        settings.runKind = kind;
        collectStarted(runs, started);
        settings.startedBefore = started;
        return settings;
    }

    void startRun(const RunSettings& settings) {
        endRunsWaitingOnTheirMessage(runs);
        if (RunApart apart = runApart(m_run, settings, {m_lock, m_notices, m_bus.socket()}); apart.pid > 0) {
            runs.push_back(std::move(apart));
        }
    }

    // Does what the bus asks; returns why not, or nothing when done.
    std::string answer(const BusRequest& request) {
        using corvale::platform::BusRecord;
        switch (request.kind) {
        case BusRecord::Pause:
        case BusRecord::Resume:
            m_pausing.pause(request.kind == BusRecord::Pause);
            m_settled.paused = m_pausing.paused();
            m_place.paused = m_pausing.paused();
            m_bus.tell(m_settled, false);
            return {};
        case BusRecord::Rerun:
            // The place's target too, which an arrival while paused left.
            startRun(watchersRun(corvale::RunKind::ByHand));
            m_pausing.arrived(true);
            m_bus.tell(m_settled, true);
            return {};
        case BusRecord::RunPlace:
            return runPlace(request.argument);
        default:
            return "The watcher does not know this request.";
        }
    }

    // The list of place, by hand. The list that ran last is left, as on
    // arrival, where it is another.
    std::string runPlace(const std::string& place) {
        std::optional<corvale::ListChoice> choice;
        try {
            corvale::Database database(corvale::requirePrivateFile(m_databasePath),
                                       corvale::Database::Access::ReadOnly);
            choice = corvale::listOfPlace(database, place);
        } catch (const std::exception& failure) {
            return failure.what();
        }
        if (!choice) {
            return "No entry is named or written " + corvale::printablePath(place) + ".";
        }
        RunSettings settings = watchersRun(corvale::RunKind::ByHand);
        settings.place = place;
        settings.left = listLeft(m_pausing.leavesByHand(m_settling.lastRun(), choice->key));
        startRun(settings);
        return {};
    }

public:
    std::vector<RunApart> runs;
    // What the runs started for their items and still runs.
    std::vector<StartedProcess> started;

private:
    // The kernel is asked for the gateway once per change of link, address
    // or route, not again for the notices its own question brings.
    ChoiceKey look(bool resolve) {
        bool gatewayEntries = false;
        ChoiceKey choice = choiceNow(m_databasePath, resolve, gatewayEntries, m_gateway, m_place);
        m_place.paused = m_pausing.paused();
        if (gatewayEntries && !m_neighbours) {
            listenToNeighbours(m_notices);
            m_neighbours = true;
        }
        return choice;
    }

    const Run& m_run;
    std::string m_databasePath;
    int m_lock;
    int m_notices;
    BusProcess m_bus;
    bool m_neighbours = false;
    std::string m_gateway;
    // The place of the last look, and of the last that settled.
    PlaceState m_place;
    PlaceState m_settled;
    Pausing m_pausing;
    LookThrottle m_throttle;
    Settling m_settling;
};

} // namespace

int watch(const std::string& programFolder, std::chrono::seconds settle,
          std::optional<int> waitForNetworkSeconds, const Run& run) {
    const std::string lockPath = corvale::watchLockPath(programFolder);
    std::string holder;
    corvale::platform::FileDescriptor lock;
    try {
        lock = corvale::takeWatchLock(lockPath, holder);
    } catch (const corvale::Failure& failure) {
        // Without a lock two watchers could run: this one runs the list once,
        // as the logon run, and stays no longer.
        std::fprintf(stderr,
                     "brisken: no watcher stays for this session: %s; this network's list runs once\n",
                     failure.what());
        std::fflush(stderr);
        RunSettings once;
        once.waitForNetworkSeconds = waitForNetworkSeconds;
        return run(once);
    }
    if (!lock) {
        std::fprintf(stderr, "brisken: a watcher runs already for this session (%s%s); this one ends\n",
                     holderNumber(holder).c_str(), lockPath.c_str());
        return kExitNormal;
    }
    std::signal(SIGTERM, endAtOnce);
    std::signal(SIGINT, endAtOnce);
    corvale::platform::reapChildrenAsTheyEnd();
    // Listen before the logon run looks: a change meanwhile is not missed.
    const corvale::platform::FileDescriptor notices = corvale::platform::openRouteNotices();
    if (!notices) {
        std::perror("brisken: cannot follow the network's changes");
        return kExitTrapped;
    }

    // On the session bus before the logon run chooses, in a process of its
    // own.
    BusProcess bus = BusProcess::start({lock.get(), notices.get()});
    std::string databasePath = programFolder + "/corvale.mdb";
    std::string ran;
    RunApart logon =
        logonRun(run, waitForNetworkSeconds, lock.get(), notices.get(), bus.socket(), databasePath, ran);
    Watching watching(run, databasePath, lock.get(), notices.get(), std::move(bus), settle,
                      ChoiceKey::fromTold(ran));
    if (logon.pid > 0) {
        watching.runs.push_back(std::move(logon));
    }
    for (;;) {
        // The kernel's notices, and what the runs tell of their processes.
        std::vector<pollfd> watched = watching.watched();
        const int ready = ::poll(watched.data(), watched.size(), watching.timeout());
        if (ready < 0 && errno != EINTR) {
            std::perror("brisken: cannot follow the network's changes");
            return kExitTrapped;
        }
        if (ready >= 0) {
            watching.dispatch(watched, ready);
        }
    }
}

} // namespace brisken
