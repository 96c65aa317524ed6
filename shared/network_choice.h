#pragma once

#include "shared/address_entries.h"
#include "shared/database.h"
#include "shared/network_discovery.h"

#include <optional>
#include <string>
#include <vector>

// The startup list that goes with the network the machine is on: one
// judgement for the engine's run, its dry run, its watcher and the tool's
// status line.
namespace corvale {

// When the choice looks the identities up: a run asks only for those that
// entries on file could match; the dry run and the tool's status line ask
// for both, to show them. The kernel is made to resolve the gateway only for
// a gateway entry on file, and never where resolve is off.
struct IdentityLookups {
    bool always = false;
    bool resolve = true;

    // What a run needs: only the identities that an entry could match.
    static IdentityLookups asARun(bool resolve = true) { return {false, resolve}; }
    // Both identities, to be shown.
    static IdentityLookups toShow(bool resolve) { return {true, resolve}; }
};

// How the list the engine runs for a discovery result was found: the
// disconnected list, or the list of key, which is an identity entry, the
// address, its leading numbers or a prefix that holds it, or any other
// network's entry. The most specific key on file wins: identity entries,
// then the IPv4 keys (the longest prefix; "192.168.1" is 192.168.1.0/24 and
// wins over a prefix of that length), then the IPv6 prefixes (the longest),
// then a tunnel's own address, then "*".
struct ListChoice {
    enum class Match {
        Disconnected,           // no usable address
        GatewayHardwareAddress, // key is a gateway: entry
        WifiName,               // key is a wifi: entry
        WholeAddress,           // key is the address
        LeadingThree,           // key is its leading three numbers
        LeadingTwo,             // its leading two
        FirstNumber,            // its first number
        Ipv4Prefix,             // key is an IPv4 prefix with its length that holds the address
        Ipv6Prefix,             // key is an IPv6 prefix that holds the IPv6 address
        AnyOther,               // key is kAnyOtherNetwork: no other entry matches
        Nothing,                // nothing on file matches; key is the first number, run unchecked
    };
    Match match = Match::Disconnected;
    std::string address; // the IPv4 address, or the IPv6 one where it has none
    std::string key;

    bool disconnected() const { return match == Match::Disconnected; }
    // key is on file (the first number alone is run unchecked).
    bool onFile() const { return !disconnected() && match != Match::Nothing; }
    bool identity() const { return match == Match::GatewayHardwareAddress || match == Match::WifiName; }
    bool anyOther() const { return match == Match::AnyOther; }
    std::string name; // the name the user gave key's entry, if any, as stored
    // The list of the tunnel's address: an entry matches it and none the
    // network's own (address is the tunnel's then).
    std::optional<std::string> throughTunnel;
    std::optional<platform::Identity> gatewayHardwareAddress; // when it was looked up
    std::optional<platform::Identity> wifiName;               // when it was looked up
    std::vector<std::string> malformed; // "ENTRY: why", for identity entries that match nothing
    // "ENTRY: the same network as FIRST", for identity entries whose list
    // never runs: FIRST's runs in their place.
    std::vector<std::string> unreached;
    // Well-formed identity entries that could not be weighed: the identity
    // they name was not known (not given, or not found).
    std::vector<std::string> notConsidered;
};
// How the entry matched, in words: "the Wi-Fi name", "its leading two
// numbers", "any other network".
std::string howMatched(ListChoice::Match match);

// The choice in words, the same for the same list: "the disconnected list"
// or "the list of KEY".
std::string choiceKey(const ListChoice& choice);
// The list's entry as people know it: its name where one is on file (one
// written by hand past the tool's length cut there), else its text.
std::string entryShown(const ListChoice& choice);

// The list of an entry given by its name (in any case of letters) or as
// written, wherever the machine is: how it matched is the kind of entry it
// is. Nothing when no entry has that name or text.
std::optional<ListChoice> listOfPlace(Database& database, const std::string& nameOrEntry);

ListChoice chooseList(Database& database, const DiscoveredAddress& discovered,
                      NetworkIdentity* identity = nullptr, IdentityLookups lookups = {});

} // namespace corvale
