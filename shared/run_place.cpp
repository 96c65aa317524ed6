#include "shared/run_place.h"

#include <cstdlib>

namespace corvale {

RunPlace placeOf(const ListChoice& choice, const std::string& interface, const std::string& gateway) {
    if (!choice.onFile()) {
        return {};
    }
    return {choice.name.empty() ? choice.key : choice.name, choice.key, choice.address,
            choice.throughTunnel.value_or(interface), choice.throughTunnel ? std::string() : gateway};
}

PlaceEnvironment::PlaceEnvironment(const RunPlace& place, RunKind kind) {
    const char* run = kind == RunKind::Logon ? "logon" : kind == RunKind::Arrival ? "arrival" : "test";
    const std::pair<const char*, std::string> values[] = {
        {"BRISKEN_PLACE", place.place},     {"BRISKEN_ENTRY", place.entry},
        {"BRISKEN_ADDRESS", place.address}, {"BRISKEN_INTERFACE", place.interface},
        {"BRISKEN_GATEWAY", place.gateway}, {"BRISKEN_RUN", run},
    };
    for (const auto& [name, value] : values) {
        const char* was = std::getenv(name);
        m_before.emplace_back(name, was ? std::optional<std::string>(was) : std::nullopt);
        ::setenv(name, value.c_str(), 1);
    }
}

PlaceEnvironment::~PlaceEnvironment() {
    for (const auto& [name, value] : m_before) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
}

} // namespace corvale
