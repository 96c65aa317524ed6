#pragma once

#include "shared/database.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// The entries of the address list: their grammar, when two name one
// network, and why one never matches.
namespace corvale {

// An entry of IPs that names a network by its identity: "gateway:" and a
// hardware address (six two-digit hex numbers joined by colons; letters in
// any case, blanks around it ignored), or "wifi:" and a Wi-Fi name (exact).
struct IdentityEntry {
    enum class Kind { GatewayHardwareAddress, WifiName };
    Kind kind = Kind::GatewayHardwareAddress;
    std::string text;    // as stored
    std::string value;   // the hardware address in lower case, or the name
    std::string problem; // why a malformed entry matches nothing; empty when it is well formed
};
// The entry's meaning when it begins with "gateway:" or "wifi:" (in any case
// of letters); nothing for any other text, which is an address entry.
std::optional<IdentityEntry> identityEntry(const std::string& text);

// Why the engine can never choose the list of an entry of IPs, in words;
// empty when it can: a dotted address or its leading one to three numbers
// (each 0 to 255, written without leading zeros, as addresses are), a
// prefix with its length (IPv4 or IPv6, no bit set past the length), or a
// well-formed identity entry.
std::string whyEntryNeverMatches(const std::string& entry);

// An address, or the network of a prefix: its family's bytes (4 or 16) and
// how many leading bits count.
struct Prefix {
    enum class Family { V4, V6 };
    Family family = Family::V4;
    std::array<unsigned char, 16> bytes{};
    int length = 0;

    // Whether address (a whole address of the same family) lies in it.
    bool holds(const Prefix& address) const;
    // The prefix of its first length bits, as written: "2001:db8:7::/48".
    static Prefix of(const Prefix& address, int length);
    std::string text() const;
};
// A whole IPv4 (dotted) or IPv6 address; nothing for any other text.
std::optional<Prefix> parseAddress(const std::string& text);
// The network an address entry stands for: "192.168.1" is 192.168.1.0/24,
// a whole address /32, "10.20.16.0/20" and "fd00:6::/64" what they say;
// nothing for an identity entry, "*", or an entry that never matches.
std::optional<Prefix> entryPrefix(const std::string& entry);

// The entry whose list runs on a network with a usable address that no
// other entry matches; it comes after every other key.
inline constexpr const char* kAnyOtherNetwork = "*";

// An entry of the address list as the choice weighs it, read once from its
// text: the network it names (an address entry), the identity it names, any
// other network, or why it never matches.
struct EntryKey {
    enum class Kind { Address, Identity, AnyOther, NeverMatches };
    Kind kind = Kind::NeverMatches;
    std::string text; // as stored
    Prefix network{};
    // Written as dotted numbers ("192.168.1" or a whole address) rather
    // than with a length: of one network, its list runs first.
    bool dotted = false;
    IdentityEntry identity{};
    std::string why{}; // for NeverMatches
};
EntryKey entryKey(const std::string& text);

// Whether two entries name one network: identity entries of one kind and
// one value ("gateway:02:AA:..." and "GATEWAY: 02:aa:..."), address entries
// that name one set of addresses in any form ("192.168.1", "192.168.1.0/24"
// and "192.168.001.0/24"; IPv6 prefixes by their value), or equal texts.
bool sameNetwork(const std::string& one, const std::string& other);
// The same for two keys read already, each of which can match (leading
// zeros, which never match, are not read).
bool sameNetwork(const EntryKey& one, const EntryKey& other);

// Of the entries that name one network, the one whose list the engine runs:
// dotted numbers before a prefix with a length, then the first in the order
// the list is read in (statements::listedBefore). Whether one runs before
// other, both of one network.
bool runsBefore(const EntryKey& one, const EntryKey& other);

// What two keys of one network have alike, as text: equal for keys that
// name one network, empty for a key that names none.
std::string networkOf(const EntryKey& key);

// The entries of one address list by the network each names, to tell
// which of those that name one network the engine reaches.
class SameNetworks {
public:
    explicit SameNetworks(const std::vector<std::string>& entries);
    // The entry that entry gives way to, being of its network, or nothing
    // when the engine reaches entry itself (or it never matches).
    std::optional<std::string> reachedInsteadOf(const std::string& entry) const;

private:
    std::unordered_map<std::string, EntryKey> m_first; // by network
};

// An entry on file: its key and text.
struct EntryOnFile {
    std::int64_t id = 0;
    std::string text;
};
// The entry on file, other than the row except, that names the same
// network as text; nothing otherwise.
std::optional<EntryOnFile> sameNetworkOnFile(Database& database, const std::string& text,
                                             std::optional<std::int64_t> except = std::nullopt);

// Whether a gateway: entry is on file, well formed or not.
bool gatewayEntryOnFile(Database& database);

// How many characters an entry's name may have.
inline constexpr std::size_t kLongestEntryName = 64;
// How many characters (UTF-8 code points) text has.
std::size_t charactersIn(const std::string& text);
// A name as the lines of a run show it: one written by hand past the tool's
// length is cut there, and "..." says so.
std::string shownName(const std::string& name, std::size_t longest);

} // namespace corvale
