#include "shared/command_line.h"

#include "shared/network_choice.h"

#include <arpa/inet.h>
#include <charconv>
#include <cstring>

namespace corvale {

namespace {

// A number of seconds from 0 to 3600, or nothing.
std::optional<int> seconds(const std::string& number) {
    int value = -1;
    const auto [end, failed] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (failed != std::errc() || end != number.data() + number.size() || number.empty() || value < 0 ||
        value > 3600) {
        return std::nullopt;
    }
    return value;
}

} // namespace

CommandLine readCommandLine(int argc, char** argv, bool engine) {
    CommandLine line;
    const std::string waitOption = "--wait-for-network=";
    const std::string settleOption = "--settle=";
    const std::string addressOption = "--address=";
    const std::string gatewayOption = "--gateway-mac=";
    const std::string wifiOption = "--wifi=";
    for (int i = 1; i < argc && line.error.empty(); ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version") {
            line.version = true;
        } else if (engine && argument == "--dry-run") {
            line.dryRun = true;
        } else if (engine && argument.rfind(waitOption, 0) == 0) {
            const std::string number = argument.substr(waitOption.size());
            line.waitForNetworkSeconds = seconds(number);
            if (!line.waitForNetworkSeconds) {
                line.error =
                    "--wait-for-network takes a number of seconds from 0 to 3600, not '" + number + "'";
            }
        } else if (engine && (argument == "--pause" || argument == "--resume" || argument == "--status")) {
            (argument == "--pause" ? line.pause : argument == "--resume" ? line.resume : line.status) = true;
        } else if (engine && argument == "--watch") {
            line.watch = true;
        } else if (engine && argument.rfind(settleOption, 0) == 0) {
            const std::string number = argument.substr(settleOption.size());
            const std::optional<int> settle = seconds(number);
            if (!settle) {
                line.error = "--settle takes a number of seconds from 0 to 3600, not '" + number + "'";
            } else {
                line.settleSeconds = *settle;
            }
        } else if (engine && argument.rfind(addressOption, 0) == 0) {
            const std::string address = argument.substr(addressOption.size());
            in6_addr parsed{};
            if (inet_pton(AF_INET, address.c_str(), &parsed) != 1 &&
                inet_pton(AF_INET6, address.c_str(), &parsed) != 1) {
                line.error =
                    "--address takes an IPv4 or IPv6 address such as 10.20.0.5 or 2001:db8:7::5, not '" +
                    address + "'";
            } else {
                line.address = address;
            }
        } else if (engine && argument.rfind(gatewayOption, 0) == 0) {
            const std::string mac = argument.substr(gatewayOption.size());
            const std::optional<IdentityEntry> entry = identityEntry("gateway:" + mac);
            if (!entry || !entry->problem.empty()) {
                line.error = "--gateway-mac takes six two-digit hex numbers joined by colons, such as "
                             "00:1a:2b:3c:4d:5e, not '" +
                             mac + "'";
            } else {
                line.gatewayMac = entry->value;
            }
        } else if (!engine && (argument == "--export" || argument == "--import")) {
            if (i + 1 >= argc) {
                line.error = argument + " takes the name of a file";
            } else {
                (argument == "--export" ? line.exportFile : line.importFile) = argv[++i];
            }
        } else if (engine && argument.rfind("--place=", 0) == 0) {
            line.place = argument.substr(8);
            if (line.place->empty()) {
                line.error = "--place takes the name of an entry, or the entry itself";
            }
        } else if (engine && argument.rfind(wifiOption, 0) == 0) {
            line.wifiName = argument.substr(wifiOption.size());
            if (line.wifiName->empty()) {
                line.error = "--wifi takes the name of a Wi-Fi network";
            }
        } else if (engine || argument.rfind("--", 0) == 0) {
            line.error = "unknown option '" + argument + "'";
        }
    }
    if (line.error.empty() && engine && !line.watch) {
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]).rfind(settleOption, 0) == 0) {
                line.error = "--settle is for --watch";
            }
        }
    }
    if (line.error.empty() && line.address && !line.dryRun) {
        line.error = "--address is for --dry-run: a run starts the list of the network the machine is on";
    }
    if (line.error.empty() && line.place && (line.address || line.watch)) {
        line.error = "--place names one place, so it goes without --address and --watch";
    }
    if (line.error.empty() &&
        int{line.pause} + int{line.resume} + int{line.status} + int{line.place && !line.dryRun} > 1) {
        line.error = "--pause, --resume, --status and --place (without --dry-run) go one at a time";
    }
    if (line.error.empty() && (line.pause || line.resume || line.status) &&
        (line.dryRun || line.watch || line.waitForNetworkSeconds)) {
        line.error = "--pause, --resume and --status ask the watcher, so they go alone";
    }
    if (line.error.empty() && (line.gatewayMac || line.wifiName) && !line.address) {
        line.error = "--gateway-mac and --wifi are for --dry-run --address: they describe another network";
    }
    if (line.error.empty() && line.exportFile && line.importFile) {
        line.error = "--export and --import go one at a time";
    }
    if (line.error.empty() && line.watch && line.dryRun) {
        line.error = "--dry-run starts nothing, so there is nothing to watch for: leave out --watch";
    }
    return line;
}

} // namespace corvale
