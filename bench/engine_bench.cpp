// Times the built engine against minimal programs doing the same job and
// prints the ratios. Each engine run is paired with a run of its baseline
// right after it (A B A B ...), so that whatever the machine does meanwhile
// weighs on both; the figure is the median of the pairwise ratios.
//  - The fixed cost: a run with an empty list and nothing to show against a
//    process that only opens the same database file and reads one list
//    (bench/open_database), on the disconnected path (a network namespace
//    with only loopback) and on the connected path (a namespace with an
//    address and a default route).
//  - The cost per item: a list of N items (a program that exits at once)
//    against a loop that spawns the same N programs.
#include "tests/support/test_support.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A display that does not exist: an engine that tried to make its GUI
// application would fail on it.
const std::vector<std::string> kEnvironment = {"PATH=/usr/bin:/bin", "DISPLAY=:31999"};

// Runs argv, waits for it and for every process it left behind (we are their
// subreaper), and returns how long the program itself took.
double timeRun(const std::vector<std::string>& argv) {
    const auto begun = Clock::now();
    // Standard error goes nowhere, as good as the journal: the engine's
    // summary line is part of its cost, a terminal's drawing is not.
    const int pid = testsupport::startProcess(argv, kEnvironment, "/", "/dev/null");
    if (pid < 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0].c_str());
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0); // blocking: a polling wait would round the times
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    while (waitpid(-1, nullptr, 0) > 0) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s ended with status %d\n", argv[0].c_str(), status);
        std::exit(1);
    }
    return seconds;
}

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(std::lround(q * static_cast<double>(values.size() - 1)))];
}

struct Pairs {
    std::vector<double> a;
    std::vector<double> b;
    std::vector<double> ratios;
};

// Runs a then b, pairs times over, after two unmeasured rounds.
Pairs interleave(const std::vector<std::string>& a, const std::vector<std::string>& b, int pairs) {
    for (int warm = 0; warm < 2; ++warm) {
        timeRun(a);
        timeRun(b);
    }
    Pairs result;
    for (int i = 0; i < pairs; ++i) {
        result.a.push_back(timeRun(a));
        result.b.push_back(timeRun(b));
        result.ratios.push_back(result.a.back() / result.b.back());
    }
    return result;
}

// A program folder with the engine and a database whose applicable list (in
// the network namespace we are in) holds count items.
struct ProgramFolder {
    testsupport::TempDir dir;
    std::string engine;
    std::string database;

    explicit ProgramFolder(int count) {
        engine = dir / "brisken";
        database = dir / "corvale.mdb";
        testsupport::installPrograms(dir.path());
        testsupport::DatabaseFile db(database);
        testsupport::ApplicableList list(db);
        db.database().transaction([&] {
            for (int i = 0; i < count; ++i) {
                list.add(EXIT_AT_ONCE_PATH, dir.path(), i + 1);
            }
        });
    }
};

int shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// A network namespace that this process (and so every run it starts) enters
// for one path of the engine, and leaves again.
class NetworkPath {
public:
    // connected: a veth with an address and a default route; otherwise only
    // loopback.
    explicit NetworkPath(bool connected) {
        const std::string id = std::to_string(getpid());
        m_name = "cvb-" + id + (connected ? "-c" : "-d");
        m_peer = m_name + "-p";
        bool made = shell("ip netns add " + m_name) == 0 && shell("ip netns add " + m_peer) == 0 &&
                    shell("ip -n " + m_name + " link set lo up") == 0;
        if (made && connected) {
            made = shell("ip link add eth0 netns " + m_name + " type veth peer name peth0 netns " + m_peer) ==
                       0 &&
                   shell("ip -n " + m_peer + " link set peth0 up") == 0 &&
                   shell("ip -n " + m_name + " addr add 192.168.1.20/24 dev eth0") == 0 &&
                   shell("ip -n " + m_name + " link set eth0 up") == 0;
            const std::string running =
                "ip -n " + m_name + " -o link show dev eth0 | grep -q 'LOWER_UP.*state UP'";
            for (int i = 0; made && i < 500 && shell(running) != 0; ++i) {
                usleep(10'000);
            }
            made = made && shell("ip -n " + m_name + " route add default via 192.168.1.1 dev eth0") == 0;
        }
        m_home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target = made ? open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC) : -1;
        m_entered = target >= 0 && m_home >= 0 && setns(target, CLONE_NEWNET) == 0;
        if (target >= 0) {
            close(target);
        }
    }
    ~NetworkPath() {
        if (m_entered) {
            setns(m_home, CLONE_NEWNET);
        }
        if (m_home >= 0) {
            close(m_home);
        }
        shell("ip netns del " + m_name);
        shell("ip netns del " + m_peer);
    }
    bool entered() const { return m_entered; }
    const std::string& name() const { return m_name; }
    // The far end of the link becomes the gateway, with this hardware
    // address, answering ARP; or stops answering.
    void gatewayAnswers(bool answers) {
        shell("ip -n " + m_peer + " link set peth0 address " + kGatewayHardware);
        shell("ip -n " + m_peer +
              (answers ? " addr replace 192.168.1.1/24 dev peth0" : " addr flush dev peth0"));
        shell("ip -n " + m_name + " neigh flush all");
    }
    static constexpr const char* kGatewayHardware = "00:1a:2b:3c:4d:5e";

private:
    std::string m_name;
    std::string m_peer;
    int m_home = -1;
    bool m_entered = false;
};

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

// The engine started with --wait-for-network on an interface without a
// gateway; the route is added once it listens. Returns the time from just
// before `ip route add` to the first item's start, and the time `ip` itself
// took, in ms.
std::pair<double, double> timeWaitForRoute(const std::string& name) {
    shell("ip -n " + name + " route del default");
    testsupport::TempDir dir;
    testsupport::installPrograms(dir.path());
    {
        testsupport::DatabaseFile db(dir / "corvale.mdb");
        db.addConnectedItem(db.addAddress("192.168.1.20"), RECORD_RUN_PATH, dir.path(), 1);
    }
    const int engine = testsupport::startProcess({dir / "brisken", "--wait-for-network=10"},
                                                 {"PATH=/usr/bin:/bin", "CORVALE_RECORD=" + (dir / "record")},
                                                 "/", "/dev/null");
    const std::string listening = "grep -q ' 000405d1 ' /proc/" + std::to_string(engine) + "/net/netlink";
    while (shell(listening) != 0) {
        usleep(1000);
    }
    const std::int64_t before = monotonicNs();
    shell("ip -n " + name + " route add default via 192.168.1.1 dev eth0");
    const std::int64_t after = monotonicNs();
    const auto records = testsupport::waitForRecords(dir / "record", 1);
    while (waitpid(-1, nullptr, 0) > 0) {
    }
    if (records.empty()) {
        std::fprintf(stderr, "the engine never started its item\n");
        std::exit(1);
    }
    const double started = static_cast<double>(std::stoll(records[0].at("monotonic_ns")) - before) / 1e6;
    return {started, static_cast<double>(after - before) / 1e6};
}

// Ticks of CPU time (user and system) the process has used, and its
// resident memory in kB.
std::pair<long, long> cpuTicksAndResidentKb(int pid) {
    const std::string stat = testsupport::readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) {
            ticks += std::stol(field);
        }
    }
    const std::string status = testsupport::readFile("/proc/" + std::to_string(pid) + "/status");
    const auto rss = status.find("VmRSS:");
    return {ticks, rss == std::string::npos ? -1 : std::stol(status.substr(rss + 6))};
}

// The watcher's children that are alive: its bus side, once its runs ended.
std::vector<int> childrenOf(int pid) {
    std::istringstream listed(
        testsupport::readFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
    std::vector<int> children;
    for (int child = 0; listed >> child;) {
        if (testsupport::readFile("/proc/" + std::to_string(child) + "/stat").find(") Z") ==
            std::string::npos) {
            children.push_back(child);
        }
    }
    return children;
}

// brisken --watch on the connected path, on a session bus of its own: idle
// for a minute (the watcher and its bus side), then carried between two
// networks; times from the change that settles a new choice to the first
// item's start.
void printWatcher(const std::string& name) {
    constexpr int kSettle = 2;
    testsupport::SessionBus bus;
    testsupport::TempDir dir;
    testsupport::TempDir runtime;
    testsupport::installPrograms(dir.path());
    {
        testsupport::DatabaseFile db(dir / "corvale.mdb");
        db.addConnectedItem(db.addAddress("192.168.1"), RECORD_RUN_PATH, dir.path(), 1);
        db.addConnectedItem(db.addAddress("192.168.2"), RECORD_RUN_PATH, dir.path(), 2);
    }
    const std::string record = dir / "record";
    const int watcher =
        testsupport::startProcess({dir / "brisken", "--watch", "--settle=" + std::to_string(kSettle)},
                                  {"PATH=/usr/bin:/bin", "CORVALE_RECORD=" + record,
                                   "XDG_RUNTIME_DIR=" + runtime.path(), bus.variable()},
                                  "/", "/dev/null");
    testsupport::waitForRecords(record, 1);
    // On the bus once it answers there.
    while (testsupport::runCapturing("env " + bus.variable() + " " + (dir / "brisken") +
                                     " --status >/dev/null 2>&1")
               .first != 0) {
        usleep(10'000);
    }
    std::vector<int> side = childrenOf(watcher);
    if (side.size() != 1) {
        std::fprintf(stderr, "the watcher has %zu processes beside it, not its bus side alone\n",
                     side.size());
        std::exit(1);
    }
    const int busSide = side[0];
    const auto [ticksBefore, rssBefore] = cpuTicksAndResidentKb(watcher);
    const auto [busTicksBefore, busRssBefore] = cpuTicksAndResidentKb(busSide);
    sleep(60);
    const auto [ticksAfter, rssAfter] = cpuTicksAndResidentKb(watcher);
    const auto [busTicksAfter, busRssAfter] = cpuTicksAndResidentKb(busSide);
    std::printf("\nbrisken --watch (connected path, on a session bus):\n"
                "  idle for 60 s without network changes: %ld ticks of CPU time (user+system), resident "
                "memory %ld kB;\n  its bus side: %ld ticks, resident memory %ld kB\n",
                ticksAfter - ticksBefore, rssAfter, busTicksAfter - busTicksBefore, busRssAfter);
    std::vector<double> delays;
    // From each network to the other: the new address added, then (timed)
    // the old one taken away and the default route through the new gateway.
    const std::string ip = "ip -n " + name;
    const std::pair<std::string, std::string> moveCommands[] = {
        {ip + " addr add 192.168.2.20/24 dev eth0", ip + " addr del 192.168.1.20/24 dev eth0 && " + ip +
                                                        " route replace default via 192.168.2.1 dev eth0"},
        {ip + " addr add 192.168.1.20/24 dev eth0", ip + " addr del 192.168.2.20/24 dev eth0 && " + ip +
                                                        " route replace default via 192.168.1.1 dev eth0"},
    };
    for (int i = 0; i < 6; ++i) {
        shell(moveCommands[i % 2].first);
        const std::int64_t before = monotonicNs();
        shell(moveCommands[i % 2].second);
        const auto records = testsupport::waitForRecords(record, static_cast<std::size_t>(i) + 2,
                                                         std::chrono::seconds(kSettle + 10));
        if (records.size() < static_cast<std::size_t>(i) + 2) {
            std::fprintf(stderr, "the watcher did not run the new network's list\n");
            std::exit(1);
        }
        delays.push_back(static_cast<double>(std::stoll(records.back().at("monotonic_ns")) - before) / 1e6);
    }
    kill(watcher, SIGTERM);
    waitpid(watcher, nullptr, 0);
    std::printf(
        "  network changed -> first item of its list started, settle %d s: median %.1f ms, max %.1f ms "
        "over 6 moves,\n  that is the settle time plus %.1f ms (max %.1f ms), measured from just "
        "before the change\n",
        kSettle, quantile(delays, 0.5), quantile(delays, 1.0), quantile(delays, 0.5) - kSettle * 1e3,
        quantile(delays, 1.0) - kSettle * 1e3);
}

void printFixedCost(const char* path, int pairs) {
    ProgramFolder empty(0);
    const Pairs open = interleave({empty.engine}, {OPEN_DATABASE_PATH, empty.database}, pairs);
    const Pairs bare = interleave({empty.engine}, {"/bin/true"}, pairs);
    std::printf("%-14s %10.3f %10.3f %8.2f %7.2f-%-7.2f %10.3f %8.2f\n", path, quantile(open.a, 0.5) * 1e3,
                quantile(open.b, 0.5) * 1e3, quantile(open.ratios, 0.5), quantile(open.ratios, 0.25),
                quantile(open.ratios, 0.75), quantile(bare.b, 0.5) * 1e3, quantile(bare.ratios, 0.5));
}

} // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    const int pairs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 40;
    // "fixed" after the pairs: only the first table, for comparing builds.
    const bool fixedCostOnly = argc > 2 && std::string(argv[2]) == "fixed";

    std::printf("Fixed cost: the engine with an empty list and nothing to show, against bench/open_database\n"
                "and /bin/true; %d interleaved pairs each, medians, ratio spread as quartiles.\n\n",
                pairs);
    std::printf("%-14s %10s %10s %8s %15s %10s %8s\n", "path", "engine ms", "open ms", "ratio", "spread",
                "true ms", "ratio");
    for (const bool connected : {false, true}) {
        const char* path = connected ? "connected" : "disconnected";
        NetworkPath network(connected);
        if (network.entered()) {
            printFixedCost(path, pairs);
        } else {
            std::printf("%-14s (no network namespace could be made here; run as root)\n", path);
        }
    }
    {
        // Whatever this machine's own network is, for comparison.
        printFixedCost("this machine", pairs);
    }
    if (fixedCostOnly) {
        return 0;
    }

    {
        NetworkPath network(true);
        if (network.entered()) {
            ProgramFolder empty(0);
            const Pairs option = interleave({empty.engine, "--wait-for-network=20"}, {empty.engine}, pairs);
            std::printf("\nWaiting for the network (connected path):\n"
                        "  --wait-for-network=20 with the network already up, against no option: ratio %.2f "
                        "(quartiles %.2f-%.2f)\n",
                        quantile(option.ratios, 0.5), quantile(option.ratios, 0.25),
                        quantile(option.ratios, 0.75));
            std::vector<double> delays;
            std::vector<double> ipTimes;
            for (int i = 0; i < 15; ++i) {
                const auto [delay, ipTime] = timeWaitForRoute(network.name());
                delays.push_back(delay);
                ipTimes.push_back(ipTime);
            }
            std::printf(
                "  default route added while the engine waits -> first item started: median %.2f ms\n"
                "  (max %.2f ms over 15 runs; measured from just before `ip route add`, which itself\n"
                "  takes %.2f ms)\n",
                quantile(delays, 0.5), quantile(delays, 1.0), quantile(ipTimes, 0.5));
        }
    }

    {
        // The identity keys, on the connected path: an entry of each kind on
        // file (with nothing listed for it, so the runs start nothing),
        // against the same database without it.
        NetworkPath network(true);
        if (network.entered()) {
            network.gatewayAnswers(true);
            ProgramFolder plain(0);
            ProgramFolder gateway(0);
            testsupport::DatabaseFile::addAddressTo(gateway.database,
                                                    std::string("gateway:") + NetworkPath::kGatewayHardware);
            ProgramFolder wifi(0);
            testsupport::DatabaseFile::addAddressTo(wifi.database, "wifi:Office WLAN");
            const Pairs known = interleave({gateway.engine}, {plain.engine}, pairs);
            const Pairs named = interleave({wifi.engine}, {plain.engine}, pairs);
            std::printf(
                "\nIdentity keys (connected path), against the same run without the entry:\n"
                "  a gateway: entry, the gateway's hardware address in the kernel's table: ratio %.2f "
                "(quartiles %.2f-%.2f)\n"
                "  a wifi: entry (this machine has no wireless: one nl80211 question): ratio %.2f "
                "(quartiles %.2f-%.2f)\n",
                quantile(known.ratios, 0.5), quantile(known.ratios, 0.25), quantile(known.ratios, 0.75),
                quantile(named.ratios, 0.5), quantile(named.ratios, 0.25), quantile(named.ratios, 0.75));
            // The kernel has to ask the gateway first: one datagram, its answer.
            std::vector<double> learning;
            std::vector<double> silent;
            for (int i = 0; i < 9; ++i) {
                network.gatewayAnswers(true);
                learning.push_back(timeRun({gateway.engine}) * 1e3);
                network.gatewayAnswers(false);
                silent.push_back(timeRun({gateway.engine}) * 1e3);
            }
            std::printf(
                "  a gateway: entry, the address not yet in the table, the gateway answering: median "
                "%.2f ms a run\n"
                "  the same, the gateway silent (the wait for its answer is one second at most): median "
                "%.2f ms a run\n",
                quantile(learning, 0.5), quantile(silent, 0.5));
        }
    }

    {
        NetworkPath network(true);
        if (network.entered()) {
            printWatcher(network.name());
        }
    }

    std::printf("\nPer item: a list of N programs that exit at once, against a loop that spawns them;\n"
                "interleaved pairs, medians, on this machine's network.\n\n");
    std::printf("%-24s %12s %12s %8s\n", "case", "engine ms", "loop ms", "ratio");
    for (const int count : {1, 100, 1000}) {
        ProgramFolder folder(count);
        const Pairs run =
            interleave({folder.engine}, {SPAWN_LOOP_PATH, EXIT_AT_ONCE_PATH, std::to_string(count)},
                       count == 1     ? pairs
                       : count == 100 ? 11
                                      : 5);
        char label[64];
        std::snprintf(label, sizeof label, count == 1 ? "1 item (fixed cost)" : "%d items, per item", count);
        std::printf("%-24s %12.4f %12.4f %8.2f\n", label, quantile(run.a, 0.5) * 1e3 / count,
                    quantile(run.b, 0.5) * 1e3 / count, quantile(run.ratios, 0.5));
    }
    std::printf("\n'per item': the whole run divided by N; the fixed cost is the table above. The engine\n"
                "runs with DISPLAY set to a display that does not exist, so a run that made its GUI\n"
                "application would fail; every run above ended with status 0.\n");
    return 0;
}
