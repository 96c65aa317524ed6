// brisken: starts the programs listed for the network the machine is on.
#include "engine/engine.h"
#include "platform/folders.h"
#include "platform/lazy_dialogs.h"
#include "platform/process_start.h"
#include "shared/command_line.h"
#include "shared/error_text.h"

#include <cstdio>
#include <exception>

namespace {

constexpr const char* kUsage =
    "Usage: brisken [--dry-run] [--wait-for-network=SECONDS]\n"
    "Starts the programs and documents listed, in Corvale, for the network this machine is on.\n"
    "\n"
    "  --dry-run                   print the database, the network, the list that matches and\n"
    "                              whether each item could start now; start nothing\n"
    "  --wait-for-network=SECONDS  when no adapter has a default gateway yet, wait up to SECONDS\n"
    "                              for one before choosing the list\n"
    "  --help                      print this text\n"
    "  --version                   print the version\n";

void print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
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

    corvale::platform::reapChildrenAsTheyEnd();
    corvale::platform::LazyQtDialogs windows(argc, argv);
    corvale::platform::StderrDialogs terminal;
    // A dry run shows no window: what it has to say goes to the terminal.
    corvale::Dialogs& dialogs = options.dryRun ? static_cast<corvale::Dialogs&>(terminal) : windows;
    // The window module's pointer, set back by the engine's one error text.
    corvale::setPointerReset([&windows] { windows.resetPointer(); });
    std::string programFolder;
    try {
        programFolder = corvale::platform::programFolder();
    } catch (const std::exception& failure) {
        dialogs.showMessage({corvale::he(failure), brisken::kCaption});
        return brisken::kExitTrapped;
    }
    corvale::platform::NetlinkNetwork network;
    corvale::NetworkDiscovery discovery(network, dialogs, brisken::kCaption,
                                        [&windows] { windows.processPendingEvents(); });
    brisken::Engine engine(dialogs, discovery, programFolder);
    if (options.waitForNetworkSeconds) {
        engine.waitForNetworkFirst([&network, seconds = *options.waitForNetworkSeconds] {
            network.waitForGateway(std::chrono::seconds(seconds));
        });
    }
    if (options.dryRun) {
        engine.reportInsteadOfStarting(print);
    }
    return engine.Main();
}
