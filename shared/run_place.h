#pragma once

#include "shared/network_choice.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Where a started program is: handed to every item the engine starts (and to
// Test Start) in its environment, so that a script can tell home from the
// office.
namespace corvale {

enum class RunKind { Logon, Arrival, Test };

struct RunPlace {
    std::string place;   // the entry's name, or the entry itself
    std::string entry;   // the entry as stored
    std::string address; // the address the entry matched
    std::string interface;
    std::string gateway;
};

// The place of a choice; all empty for the disconnected list (and for an
// address that matches no entry, whose list is empty).
RunPlace placeOf(const ListChoice& choice, const std::string& interface, const std::string& gateway);

// BRISKEN_PLACE, BRISKEN_ENTRY, BRISKEN_ADDRESS, BRISKEN_INTERFACE,
// BRISKEN_GATEWAY and BRISKEN_RUN ("logon", "arrival" or "test") in this
// process's environment while it lives, for what it starts; the values
// before come back when it goes.
class PlaceEnvironment {
public:
    PlaceEnvironment(const RunPlace& place, RunKind kind);
    ~PlaceEnvironment();
    PlaceEnvironment(const PlaceEnvironment&) = delete;
    PlaceEnvironment& operator=(const PlaceEnvironment&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_before;
};

} // namespace corvale
