#include "shared/command_line.h"

#include <charconv>
#include <cstring>

namespace corvale {

CommandLine readCommandLine(int argc, char** argv, bool engine) {
    CommandLine line;
    const std::string waitOption = "--wait-for-network=";
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
            int seconds = -1;
            const auto [end, failed] = std::from_chars(number.data(), number.data() + number.size(), seconds);
            if (failed != std::errc() || end != number.data() + number.size() || number.empty() ||
                seconds < 0 || seconds > 3600) {
                line.error =
                    "--wait-for-network takes a number of seconds from 0 to 3600, not '" + number + "'";
            } else {
                line.waitForNetworkSeconds = seconds;
            }
        } else if (engine || argument.rfind("--", 0) == 0) {
            line.error = "unknown option '" + argument + "'";
        }
    }
    return line;
}

} // namespace corvale
