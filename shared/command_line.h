#pragma once

#include <optional>
#include <string>

namespace corvale {

// Exit status for a command line that cannot be understood (sysexits' EX_USAGE).
inline constexpr int kExitUsage = 64;

struct CommandLine {
    bool help = false;
    bool version = false;
    bool dryRun = false;
    std::optional<int> waitForNetworkSeconds;
    bool watch = false;
    int settleSeconds = 10;
    // With --dry-run: the address to answer for, instead of the network's.
    std::optional<std::string> address;
    // With --address: the network's identities to answer for, as the
    // kernel would give them (the hardware address in lower case).
    std::optional<std::string> gatewayMac;
    std::optional<std::string> wifiName;
    // The entry to answer for (with --dry-run) or whose list to run now, by
    // its name or as written.
    std::optional<std::string> place;
    // Questions for the session's watcher: pause it, resume it, or say
    // where it is.
    bool pause = false;
    bool resume = false;
    bool status = false;
    // The tool's lists to write to a file, or to read from one.
    std::optional<std::string> exportFile;
    std::optional<std::string> importFile;
    // The first argument that was not understood, with why; empty when all were.
    std::string error;
};

// Reads the options of both programs. The engine takes every argument as its
// own; the tool only those that begin with "--" (Qt takes its own "-style"
// arguments), and none of --dry-run, --wait-for-network, --watch and
// --settle (nor --address, which goes with --dry-run).
CommandLine readCommandLine(int argc, char** argv, bool engine);

} // namespace corvale
