// brisken: starts the programs listed for the network the machine is on.
#include "engine/engine.h"
#include "engine/watcher.h"
#include "platform/folders.h"
#include "platform/lazy_dialogs.h"
#include "platform/process_start.h"
#include "platform/sqlite_connection.h"
#include "platform/watcher_bus.h"
#include "shared/command_line.h"
#include "shared/error_text.h"

#include <cstdio>
#include <exception>

namespace {

constexpr const char* kUsage =
    "Usage: brisken [--dry-run [--address=ADDRESS [--gateway-mac=MAC] [--wifi=NAME] | --place=NAME]]\n"
    "               [--wait-for-network=SECONDS]\n"
    "               [--watch [--settle=SECONDS]]\n"
    "       brisken --place=NAME | --pause | --resume | --status\n"
    "Starts the programs and documents listed, in Corvale, for the network this machine is on.\n"
    "\n"
    "  --dry-run                   print the database, the network, the list that matches and\n"
    "                              whether each item could start now; start nothing\n"
    "  --address=ADDRESS           with --dry-run: answer for that address (IPv4, such as\n"
    "                              10.20.7.9, or IPv6), without looking at the network\n"
    "  --gateway-mac=MAC           with --address: the gateway's hardware address there\n"
    "  --wifi=NAME                 with --address: the Wi-Fi network's name there\n"
    "  --place=NAME                with --dry-run: answer for the entry of that name (or that\n"
    "                              entry as written), wherever the machine is; without it: have\n"
    "                              the watcher run that entry's list now (with no watcher, it\n"
    "                              runs once here)\n"
    "  --wait-for-network=SECONDS  when no adapter has a default gateway yet, wait up to SECONDS\n"
    "                              for one before choosing the list\n"
    "  --watch                     after that run, stay and run the list of each network the\n"
    "                              machine arrives on (a program still running is not started\n"
    "                              again); one watcher per session, ended by SIGTERM\n"
    "  --settle=SECONDS            with --watch: how long a new network must stay before its\n"
    "                              list runs (default 10)\n"
    "  --pause, --resume           have the watcher run nothing on arrival, or run again\n"
    "  --status                    print where the watcher is and whether it is paused\n"
    "  --help                      print this text\n"
    "  --version                   print the version\n";

void print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

// An address, and the identities of its network, given on the command line
// in place of the network's.
class GivenAddress : public corvale::AddressDiscovery, private corvale::NetworkIdentity {
public:
    explicit GivenAddress(const corvale::CommandLine& options)
        : m_address(options.address.value_or("")), m_gatewayMac(options.gatewayMac),
          m_wifiName(options.wifiName) {}
    corvale::DiscoveredAddress discoverIP() override {
        // An IPv6 address is one of an IPv6-only network.
        if (m_address.find(':') != std::string::npos) {
            return {{}, m_address};
        }
        return {m_address};
    }
    std::string lastFinding() const override {
        return "address " + m_address + ", as given (the network is not looked at)";
    }
    corvale::NetworkIdentity* identity() override { return this; }

private:
    corvale::platform::Identity gatewayHardwareAddress(bool) override {
        return m_gatewayMac ? corvale::platform::Identity{*m_gatewayMac, {}}
                            : corvale::platform::Identity{{}, "not given (--gateway-mac=MAC)"};
    }
    corvale::platform::Identity wifiName() override {
        return m_wifiName ? corvale::platform::Identity{*m_wifiName, {}}
                          : corvale::platform::Identity{{}, "not given (--wifi=NAME)"};
    }

    std::string m_address;
    std::optional<std::string> m_gatewayMac;
    std::optional<std::string> m_wifiName;
};

// A place given by its name: the network is not looked at.
class GivenPlace : public corvale::AddressDiscovery {
public:
    explicit GivenPlace(std::string place) : m_place(std::move(place)) {}
    corvale::DiscoveredAddress discoverIP() override { return {}; }
    std::string lastFinding() const override {
        return "the place " + corvale::printablePath(m_place) + ", as given (the network is not looked at)";
    }

private:
    std::string m_place;
};

// One run of the engine, as at logon.
int runOnce(int& argc, char** argv, const std::string& programFolder, bool dryRun,
            const corvale::CommandLine& options, const brisken::RunSettings& settings) {
    const std::optional<std::string>& address = options.address;
    corvale::platform::reapChildrenAsTheyEnd();
    corvale::platform::LazyQtDialogs windows(argc, argv);
    corvale::platform::StderrDialogs terminal;
    // A dry run shows no window: what it has to say goes to the terminal.
    corvale::Dialogs& dialogs = dryRun ? static_cast<corvale::Dialogs&>(terminal) : windows;
    // The window module's pointer, set back by the engine's one error text.
    corvale::setPointerReset([&windows] { windows.resetPointer(); });
    // A dry run says every route it weighs; a run only chooses.
    corvale::platform::NetlinkNetwork network(dryRun ? corvale::platform::NetlinkNetwork::Detail::Everything
                                                     : corvale::platform::NetlinkNetwork::Detail::ChoiceOnly);
    corvale::NetworkDiscovery discovery(network, dialogs, brisken::kCaption,
                                        [&windows] { windows.processPendingEvents(); });
    GivenAddress given(options);
    brisken::RunSettings these = settings;
    if (dryRun) {
        these.report = print;
    }
    if (!these.place) {
        these.place = options.place;
    }
    GivenPlace place(these.place.value_or(""));
    brisken::Engine engine(dialogs,
                           address       ? static_cast<corvale::AddressDiscovery&>(given)
                           : these.place ? static_cast<corvale::AddressDiscovery&>(place)
                                         : discovery,
                           programFolder, std::move(these));
    const int status = engine.Main();
    corvale::setPointerReset({});
    return status;
}

// Exit status where no watcher answers (sysexits' EX_UNAVAILABLE).
constexpr int kExitNoWatcher = 69;

// --pause, --resume and --status: the watcher's answer, as text.
int askTheWatcher(const corvale::CommandLine& options) {
    using corvale::platform::Asked;
    const corvale::platform::WatcherAnswer answer =
        options.status ? corvale::platform::watcherState()
                       : corvale::platform::askWatcher(options.pause ? "Pause" : "Resume");
    if (answer.outcome != Asked::Done) {
        std::fprintf(stderr, "brisken: %s\n", answer.why.c_str());
        return answer.outcome == Asked::NoWatcher ? kExitNoWatcher : brisken::kExitTrapped;
    }
    if (!options.status) {
        print(options.pause ? "The watcher is paused: arrivals run nothing until brisken --resume."
                            : "The watcher runs each arrival's list again.");
        return brisken::kExitNormal;
    }
    // One "Name: value" line each, in the order of the bus's properties.
    const corvale::platform::WatcherState& at = answer.state;
    const auto yes = [](bool truth) { return std::string(truth ? "yes" : "no"); };
    print("Place: " + at.place);
    print("Entry: " + at.entry);
    print("Address: " + at.address);
    print("Interface: " + at.interface);
    print("Tunnel: " + yes(at.tunnel));
    print("Connected: " + yes(at.connected));
    print("Paused: " + yes(at.paused));
    return brisken::kExitNormal;
}

} // namespace

int main(int argc, char** argv) {
    const corvale::CommandLine options = corvale::readCommandLine(argc, argv, true);
    if (!options.error.empty()) {
        std::fprintf(stderr, "brisken: %s\n%s", options.error.c_str(), kUsage);
        return corvale::kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("brisken %s\n", CORVALE_VERSION);
        return 0;
    }

    if (options.pause || options.resume || options.status) {
        return askTheWatcher(options);
    }
    corvale::platform::setSqliteAsideNothing();
    std::string programFolder;
    try {
        programFolder = corvale::platform::programFolder();
    } catch (const std::exception& failure) {
        corvale::platform::LazyQtDialogs windows(argc, argv);
        corvale::platform::StderrDialogs terminal;
        (options.dryRun ? static_cast<corvale::Dialogs&>(terminal) : windows)
            .showMessage({corvale::he(failure), brisken::kCaption});
        return brisken::kExitTrapped;
    }
    const brisken::Run run = [&](const brisken::RunSettings& settings) {
        return runOnce(argc, argv, programFolder, options.dryRun, options, settings);
    };
    if (options.watch) {
        return brisken::watch(programFolder, std::chrono::seconds(options.settleSeconds),
                              options.waitForNetworkSeconds, run);
    }
    brisken::RunSettings settings;
    settings.waitForNetworkSeconds = options.waitForNetworkSeconds;
    if (options.place && !options.dryRun) {
        // The watcher runs it, told what still runs; without one, it runs
        // here, as the logon run would.
        const corvale::platform::WatcherAnswer asked =
            corvale::platform::askWatcher("RunPlace", *options.place);
        if (asked.outcome == corvale::platform::Asked::Done) {
            print("The watcher runs the list of " + corvale::printablePath(*options.place) + " now.");
            return brisken::kExitNormal;
        }
        if (asked.outcome == corvale::platform::Asked::Refused) {
            std::fprintf(stderr, "brisken: %s\n", asked.why.c_str());
            return brisken::kExitTrapped;
        }
        std::fprintf(stderr, "brisken: %s: the list of %s runs once here\n", asked.why.c_str(),
                     corvale::printablePath(*options.place).c_str());
        std::fflush(stderr);
        settings.runKind = corvale::RunKind::ByHand;
    }
    return run(settings);
}
