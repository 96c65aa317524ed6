#pragma once

#include "platform/dialogs.h"
#include "platform/network.h"
#include "shared/database.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The network the machine is on and the startup list that goes with it: one
// judgement for the engine's run, its dry run, its watcher and the tool's
// status line.
namespace corvale {

// What tells the chosen adapter's network apart beyond its address, looked
// up only when asked.
class NetworkIdentity {
public:
    virtual ~NetworkIdentity() = default;
    // resolve: the kernel may be made to find it when its table lacks it.
    virtual platform::Identity gatewayHardwareAddress(bool resolve) = 0;
    virtual platform::Identity wifiName() = 0;
};

// What the engine learns of the machine's address: the dotted address of
// the adapter it chose, or none when the machine counts as disconnected (no
// live network, no adapter listed or none with a usable address).
struct DiscoveredAddress {
    std::string address;
    // A tunnel that held the default route and was passed over for the
    // adapter it runs through: its name and its own address.
    struct Tunnel {
        std::string name;
        std::string address;
    };
    std::optional<Tunnel> passedOverTunnel = std::nullopt;
    // An adapter whose address is all zeros has none to go by.
    bool connected() const { return !address.empty() && address != "0.0.0.0"; }
};

// Where the engine learns the machine's address.
class AddressDiscovery {
public:
    virtual ~AddressDiscovery() = default;
    // The address of the first adapter with a real default gateway.
    virtual DiscoveredAddress discoverIP() = 0;
    // Waits up to limit for an adapter with a real default gateway; nothing
    // where the address is not the system's to find.
    virtual void waitForNetwork(std::chrono::seconds /*limit*/) {}
    // What the last discoverIP() found, in words: the adapter chosen with its
    // address and gateway, or why the machine counts as disconnected.
    virtual std::string lastFinding() const { return {}; }
    // The default gateway of the adapter the last discoverIP() chose; empty
    // when it chose none or that adapter has none.
    virtual std::string lastGateway() const { return {}; }
    // The identity of the adapter the last discoverIP() chose; none when it
    // chose none or cannot tell.
    virtual NetworkIdentity* identity() { return nullptr; }
};

inline constexpr const char* kNoConnection = "The system has no connection or an error occurred";

// The characters of text that are digits or dots, in their order.
std::string addressChars(const std::string& text);

// The address of the first interface with a real default gateway, or of the
// last interface when none has one. A tunnel (a VPN) is no place: the first
// other interface with a real default gateway is taken before it, and, when
// a tunnel holds the default route, the first other interface with a route
// through a gateway (the one the tunnel runs through); a tunnel counts only
// when no other interface has a gateway.
class NetworkDiscovery : public AddressDiscovery, private NetworkIdentity {
public:
    // caption: of the messages about a failed adapter query. letEventsRun is
    // called between interfaces, to keep windows responsive.
    NetworkDiscovery(platform::Network& network, Dialogs& dialogs, std::string caption,
                     std::function<void()> letEventsRun = {});

    // kNoConnection, or a description of the connection.
    std::string networkAlive();
    DiscoveredAddress discoverIP() override;
    void waitForNetwork(std::chrono::seconds limit) override { m_network.waitForGateway(limit); }
    std::string lastFinding() const override { return m_finding; }
    std::string lastGateway() const override;
    NetworkIdentity* identity() override { return m_adapter ? this : nullptr; }
    // The adapter the last discoverIP() took, if it took one.
    const std::optional<platform::Adapter>& lastAdapter() const { return m_adapter; }

private:
    platform::Identity gatewayHardwareAddress(bool resolve) override;
    platform::Identity wifiName() override;
    void show(const std::string& text);
    // The place when a tunnel holds a default route and another adapter is
    // taken instead; nothing when no tunnel does (or no other adapter has a
    // gateway), and the choice goes as it always did.
    std::optional<DiscoveredAddress> placeBehindTunnels(const std::vector<platform::Adapter>& adapters);

    platform::Network& m_network;
    Dialogs& m_dialogs;
    std::string m_caption;
    std::function<void()> m_letEventsRun;
    std::string m_finding;
    std::optional<platform::Adapter> m_adapter;
};

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

// Whether two entries name one network as the engine reads them: identity
// entries of one kind and one value ("gateway:02:AA:..." and
// "GATEWAY: 02:aa:..."); address entries only when their texts are equal.
bool sameNetwork(const std::string& one, const std::string& other);

// Of the entries that name one network, the engine runs the list of the one
// first in its order (by text, as stored). The entry among entries that
// entry gives way to, or nothing when the engine reaches entry itself.
std::optional<std::string> reachedInsteadOf(const std::string& entry,
                                            const std::vector<std::string>& entries);

// The identity entry on file, other than the row except, that names the same
// network as text (a well-formed identity entry); nothing otherwise.
std::optional<std::string> sameNetworkOnFile(Database& database, const std::string& text,
                                             std::optional<std::int64_t> except = std::nullopt);

// Whether a gateway: entry is on file, well formed or not.
bool gatewayEntryOnFile(Database& database);

// Why the engine can never choose the list of an entry of IPs, in words;
// empty when it can: a dotted address or its leading one to three numbers
// (each 0 to 255, written without leading zeros, as addresses are), or a
// well-formed identity entry.
std::string whyEntryNeverMatches(const std::string& entry);

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

// The list the engine runs for a discovery result: the disconnected list, or
// the list of key, which is an identity entry, or the address or its leading
// numbers (how says which).
struct ListChoice {
    bool disconnected = true;
    std::string address;
    std::string key;
    std::string how;
    bool onFile = false;   // key is on file (the first number alone is run unchecked)
    bool identity = false; // key is an identity entry
    bool anyOther = false; // key is kAnyOtherNetwork: no other entry matches
    std::string name;      // the name the user gave key's entry, if any
    // The list of the tunnel's address: an entry matches it (address is the
    // tunnel's then).
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
// The entry whose list runs on a network with a usable address that no
// other entry matches; it comes after every other key.
inline constexpr const char* kAnyOtherNetwork = "*";

// The choice in words, the same for the same list: "the disconnected list"
// or "the list of KEY".
std::string choiceKey(const ListChoice& choice);
// The list's entry as people know it: its name where one is on file, else
// its text.
std::string entryShown(const ListChoice& choice);

// How many characters an entry's name may have.
inline constexpr std::size_t kLongestEntryName = 64;
// How many characters (UTF-8 code points) text has.
std::size_t charactersIn(const std::string& text);
// A name as the lines of a run show it: one written by hand past the tool's
// length is cut there, and "..." says so.
std::string shownName(const std::string& name, std::size_t longest);

ListChoice chooseList(Database& database, const DiscoveredAddress& discovered,
                      NetworkIdentity* identity = nullptr, IdentityLookups lookups = {});

} // namespace corvale
