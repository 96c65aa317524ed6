#pragma once

#include "platform/process_start.h"
#include "shared/network_choice.h"

#include <string>

// Where a started program is: handed to every item the engine starts (and to
// Test Start) in its environment, so that a script can tell home from the
// office.
namespace corvale {

enum class RunKind { Logon, Arrival, Test, Leaving, ByHand };

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

// What a started program is told of where it was started: BRISKEN_PLACE,
// BRISKEN_ENTRY, BRISKEN_ADDRESS, BRISKEN_INTERFACE, BRISKEN_GATEWAY and
// BRISKEN_RUN ("logon", "arrival", "test", "leaving" or "by-hand"), for the environment
// given to the programs a run or Test Start starts.
platform::ChildEnvironment placeEnvironment(const RunPlace& place, RunKind kind);
// For an item that runs on leaving: the place left as above (what it knows
// of it: its place and entry), and the place arrived at as BRISKEN_NEXT_PLACE
// and BRISKEN_NEXT_ENTRY (empty for no network).
platform::ChildEnvironment leavingEnvironment(const RunPlace& left, const RunPlace& next);

// A name as systemd-escape makes it a unit's instance: letters, digits, ":",
// "_" and "." stay (but a leading "."), "/" becomes "-", any other byte
// "\xNN".
std::string systemdEscape(const std::string& text);
// The user target that stands for being at place: corvale-place@NAME.target
// for a place on file (its name, or its entry), corvale-place@none.target
// without a network; empty where no entry matches, or where the name would
// make a unit name longer than systemd takes.
std::string placeTarget(const RunPlace& place, bool connected);

} // namespace corvale
