#include "shared/run_place.h"

#include <cctype>

namespace corvale {

RunPlace placeOf(const ListChoice& choice, const std::string& interface, const std::string& gateway) {
    if (!choice.onFile()) {
        return {};
    }
    return {choice.name.empty() ? choice.key : choice.name, choice.key, choice.address,
            choice.throughTunnel.value_or(interface), choice.throughTunnel ? std::string() : gateway};
}

platform::ChildEnvironment placeEnvironment(const RunPlace& place, RunKind kind) {
    const char* run = kind == RunKind::Logon     ? "logon"
                      : kind == RunKind::Arrival ? "arrival"
                      : kind == RunKind::Leaving ? "leaving"
                      : kind == RunKind::ByHand  ? "by-hand"
                                                 : "test";
    return {{"BRISKEN_PLACE=" + place.place, "BRISKEN_ENTRY=" + place.entry,
             "BRISKEN_ADDRESS=" + place.address, "BRISKEN_INTERFACE=" + place.interface,
             "BRISKEN_GATEWAY=" + place.gateway, std::string("BRISKEN_RUN=") + run}};
}

platform::ChildEnvironment leavingEnvironment(const RunPlace& left, const RunPlace& next) {
    platform::ChildEnvironment environment = placeEnvironment(left, RunKind::Leaving);
    environment.variables.push_back("BRISKEN_NEXT_PLACE=" + next.place);
    environment.variables.push_back("BRISKEN_NEXT_ENTRY=" + next.entry);
    return environment;
}

std::string systemdEscape(const std::string& text) {
    std::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool kept =
            (std::isalnum(byte) != 0 && byte < 0x80) || byte == ':' || byte == '_' || (byte == '.' && i > 0);
        if (kept) {
            escaped += text[i];
        } else if (byte == '/') {
            escaped += '-';
        } else {
            constexpr const char* kDigits = "0123456789abcdef";
            escaped += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xf]};
        }
    }
    return escaped;
}

std::string placeTarget(const RunPlace& place, bool connected) {
    // systemd takes unit names of up to 255 bytes.
    constexpr std::size_t kLongestUnitName = 255;
    if (connected && place.place.empty()) {
        return {};
    }
    const std::string unit = "corvale-place@" + (connected ? systemdEscape(place.place) : "none") + ".target";
    return unit.size() <= kLongestUnitName ? unit : std::string();
}

} // namespace corvale
