#include "shared/run_place.h"

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

} // namespace corvale
