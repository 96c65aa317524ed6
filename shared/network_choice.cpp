#include "shared/network_choice.h"

#include <algorithm>

#include "platform/failure.h"
#include "shared/statements.h"

#include <cctype>
#include <cstring>

namespace corvale {

// The adapter query's answers, worded after the system call they stand for.
namespace {
constexpr const char* kSizingFailed = "GetAdaptersInfo sizing failed with error ";
constexpr const char* kQueryFailed = "GetAdaptersInfo failed with error ";
// The system's number for "no data": a live network that lists no interface.
constexpr int kNoData = 232;

bool isRealGateway(const std::string& gateway) {
    return !gateway.empty() && gateway != "0.0.0.0";
}
} // namespace

std::string addressChars(const std::string& text) {
    std::string kept;
    for (const char c : text) {
        if ((c >= '0' && c <= '9') || c == '.') {
            kept += c;
        }
    }
    return kept;
}

NetworkDiscovery::NetworkDiscovery(platform::Network& network, Dialogs& dialogs, std::string caption,
                                   std::function<void()> letEventsRun)
    : m_network(network), m_dialogs(dialogs), m_caption(std::move(caption)),
      m_letEventsRun(std::move(letEventsRun)) {}

std::string NetworkDiscovery::networkAlive() {
    return m_network.alive() ? "The system is connected to a network" : kNoConnection;
}

std::string NetworkDiscovery::lastGateway() const {
    return m_adapter && isRealGateway(m_adapter->gateway) ? m_adapter->gateway : std::string();
}

DiscoveredAddress NetworkDiscovery::discoverIP() {
    m_adapter.reset();
    if (networkAlive() == kNoConnection) {
        m_finding = "disconnected: no network interface is up and running with an IPv4 address";
        return {};
    }
    const platform::AdapterList list = m_network.adapters();
    if (list.error != 0) {
        m_finding = "disconnected: the network could not be read: " + std::string(std::strerror(list.error)) +
                    " (error " + std::to_string(list.error) + ")";
        show(kQueryFailed + std::to_string(list.error));
        return {};
    }
    if (list.adapters.empty()) {
        m_finding = "disconnected: no interface is listed";
        show(kSizingFailed + std::to_string(kNoData));
        return {};
    }
    if (auto place = placeBehindTunnels(list.adapters)) {
        return *place;
    }
    std::size_t chosen = 0;
    std::string gateway = addressChars(list.adapters[0].gateway);
    while (!isRealGateway(gateway) && chosen + 1 < list.adapters.size()) {
        if (m_letEventsRun) {
            m_letEventsRun();
        }
        ++chosen;
        gateway = addressChars(list.adapters[chosen].gateway);
    }
    // Without a real gateway anywhere the last interface is taken all the same.
    const platform::Adapter& adapter = list.adapters[chosen];
    const std::string address = addressChars(adapter.address);
    m_finding = "adapter " + adapter.name + ": address " + adapter.address +
                (isRealGateway(gateway) ? ", gateway " + gateway
                                        : ", no default gateway (no adapter has one; the last is taken)") +
                (adapter.tunnel ? "; a tunnel, taken since no other adapter has a gateway" : "");
    if (gateway.empty() || address.empty()) {
        m_finding = "disconnected: adapter " + adapter.name + " gives no usable address";
        return {};
    }
    m_adapter = adapter;
    return {address};
}

std::optional<DiscoveredAddress>
NetworkDiscovery::placeBehindTunnels(const std::vector<platform::Adapter>& adapters) {
    const platform::Adapter* tunnel = nullptr;
    for (const platform::Adapter& adapter : adapters) {
        if (adapter.tunnel && adapter.defaultRoute && !tunnel) {
            tunnel = &adapter;
        }
    }
    auto take = [&](platform::Adapter adapter, const std::string& how) -> std::optional<DiscoveredAddress> {
        const std::string address = addressChars(adapter.address);
        if (address.empty()) {
            return std::nullopt;
        }
        m_finding =
            "adapter " + adapter.name + ": address " + adapter.address + ", gateway " + adapter.gateway + how;
        DiscoveredAddress found{address, {}};
        if (tunnel) {
            m_finding += "; the tunnel " + tunnel->name + " (" + tunnel->address + ") is passed over";
            found.passedOverTunnel = DiscoveredAddress::Tunnel{tunnel->name, addressChars(tunnel->address)};
        }
        m_adapter = std::move(adapter);
        return found;
    };
    for (const platform::Adapter& adapter : adapters) {
        if (!adapter.tunnel && isRealGateway(addressChars(adapter.gateway))) {
            return tunnel ? take(adapter, "") : std::nullopt; // as it always was, without a tunnel
        }
    }
    if (!tunnel) {
        return std::nullopt;
    }
    // The tunnel holds the default route: the place is where the route to
    // its server goes.
    for (platform::Adapter adapter : adapters) {
        if (!adapter.tunnel && isRealGateway(addressChars(adapter.routeGateway))) {
            adapter.gateway = adapter.routeGateway;
            return take(adapter, " (its route through the gateway the tunnel runs over)");
        }
    }
    return std::nullopt;
}

platform::Identity NetworkDiscovery::gatewayHardwareAddress(bool resolve) {
    const std::string gateway = m_adapter ? addressChars(m_adapter->gateway) : std::string();
    if (!isRealGateway(gateway)) {
        return {{}, "the adapter has no default gateway"};
    }
    return m_network.gatewayHardwareAddress(m_adapter->index, gateway, resolve);
}

platform::Identity NetworkDiscovery::wifiName() {
    if (!m_adapter) {
        return {{}, "no adapter was chosen"};
    }
    return m_network.wifiName(m_adapter->index);
}

void NetworkDiscovery::show(const std::string& text) {
    m_dialogs.showMessage({text, m_caption, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
}

namespace {

bool startsWithWord(const std::string& text, const char* word) {
    const std::size_t length = std::strlen(word);
    if (text.size() < length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) {
            return false;
        }
    }
    return true;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The hardware address in lower case, or empty when text is not six
// two-digit hex numbers joined by colons.
std::string hardwareAddress(const std::string& text) {
    if (text.size() != 17) {
        return {};
    }
    std::string lower;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (i % 3 == 2 ? c != ':' : !std::isxdigit(c)) {
            return {};
        }
        lower += static_cast<char>(std::tolower(c));
    }
    return lower;
}

} // namespace

std::optional<IdentityEntry> identityEntry(const std::string& text) {
    IdentityEntry entry;
    entry.text = text;
    if (startsWithWord(text, "gateway:")) {
        entry.kind = IdentityEntry::Kind::GatewayHardwareAddress;
        entry.value = hardwareAddress(trimmed(text.substr(8)));
        if (entry.value.empty()) {
            entry.problem = "not a hardware address: six two-digit hex numbers joined by colons, such as "
                            "gateway:00:1a:2b:3c:4d:5e";
        }
        return entry;
    }
    if (startsWithWord(text, "wifi:")) {
        entry.kind = IdentityEntry::Kind::WifiName;
        entry.value = text.substr(5);
        if (entry.value.empty()) {
            entry.problem = "no Wi-Fi name after wifi:";
        }
        return entry;
    }
    return std::nullopt;
}

bool sameNetwork(const std::string& one, const std::string& other) {
    if (one == other) {
        return true;
    }
    const std::optional<IdentityEntry> first = identityEntry(one);
    const std::optional<IdentityEntry> second = identityEntry(other);
    return first && second && first->problem.empty() && second->problem.empty() &&
           first->kind == second->kind && first->value == second->value;
}

std::optional<std::string> reachedInsteadOf(const std::string& entry,
                                            const std::vector<std::string>& entries) {
    const std::optional<IdentityEntry> own = identityEntry(entry);
    if (!own || !own->problem.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> first;
    for (const std::string& other : entries) {
        if (other < entry && sameNetwork(entry, other) && (!first || other < *first)) {
            first = other;
        }
    }
    return first;
}

std::optional<std::string> sameNetworkOnFile(Database& database, const std::string& text,
                                             std::optional<std::int64_t> except) {
    const std::optional<IdentityEntry> own = identityEntry(text);
    if (!own || !own->problem.empty()) {
        return std::nullopt;
    }
    for (Recordset rows = database.openRecordset(statements::identityAddresses()); !rows.eof();
         rows.moveNext()) {
        const Field entry = rows.field("IPaddress");
        if (!entry.isNull() && (!except || rows.field("IPID").number() != *except) &&
            sameNetwork(text, entry.text())) {
            return entry.text();
        }
    }
    return std::nullopt;
}

bool gatewayEntryOnFile(Database& database) {
    for (Recordset rows = database.openRecordset(statements::identityAddresses()); !rows.eof();
         rows.moveNext()) {
        const Field entry = rows.field("IPaddress");
        if (const auto identity = entry.isNull() ? std::nullopt : identityEntry(entry.text());
            identity && identity->kind == IdentityEntry::Kind::GatewayHardwareAddress) {
            return true;
        }
    }
    return false;
}

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return pieces;
        }
        start = end + 1;
    }
}

} // namespace

std::string whyEntryNeverMatches(const std::string& entry) {
    if (const std::optional<IdentityEntry> identity = identityEntry(entry)) {
        return identity->problem;
    }
    if (entry == kAnyOtherNetwork) {
        return {};
    }
    if (entry.empty()) {
        return "it is empty";
    }
    const std::vector<std::string> numbers = split(entry, '.');
    const std::string form = "it is not an address nor its leading one to three numbers (numbers from 0 to "
                             "255 joined by dots, such as 192.168.1 or 10.20.0.5)";
    if (numbers.size() > 4) {
        return form;
    }
    for (const std::string& number : numbers) {
        if (number.empty() || number.size() > 3 ||
            number.find_first_not_of("0123456789") != std::string::npos) {
            return form;
        }
        if (number.size() > 1 && number[0] == '0') {
            return number + " begins with a zero, which no number of an address does";
        }
        if (std::stoi(number) > 255) {
            return number + " is larger than 255, which no number of an address is";
        }
    }
    return {};
}

namespace {

// The leading count numbers of a dotted address, joined by dots.
std::string leadingNumbers(const std::string& address, std::size_t count) {
    const std::vector<std::string> numbers = split(address, '.');
    if (numbers.size() < count) {
        throw Failure("The address " + address + " has fewer than " + std::to_string(count) +
                      " numbers, so its network cannot be looked up.");
    }
    std::string key = numbers[0];
    for (std::size_t i = 1; i < count; ++i) {
        key += "." + numbers[i];
    }
    return key;
}

// The identity entries on file that are well formed; the others go into the
// choice's list of entries that match nothing.
std::vector<IdentityEntry> identityEntriesOnFile(Database& database, ListChoice& choice) {
    std::vector<IdentityEntry> entries;
    for (Recordset rows = database.openRecordset(statements::identityAddresses()); !rows.eof();
         rows.moveNext()) {
        if (rows.field("IPaddress").isNull()) {
            continue;
        }
        const std::optional<IdentityEntry> entry = identityEntry(rows.field("IPaddress").text());
        if (!entry) {
            continue;
        }
        if (entry->problem.empty()) {
            // In the order of the statement: the first of one network is
            // the one whose list runs.
            const auto first =
                std::find_if(entries.begin(), entries.end(), [&](const IdentityEntry& earlier) {
                    return earlier.kind == entry->kind && earlier.value == entry->value;
                });
            if (first != entries.end()) {
                choice.unreached.push_back(entry->text + ": the same network as " + first->text);
            } else {
                entries.push_back(*entry);
            }
        } else {
            choice.malformed.push_back(entry->text + ": " + entry->problem);
        }
    }
    return entries;
}

// The first entry of kind whose value is the one found, if any.
const IdentityEntry* matching(const std::vector<IdentityEntry>& entries, IdentityEntry::Kind kind,
                              const std::optional<platform::Identity>& found) {
    if (!found || found->value.empty()) {
        return nullptr;
    }
    for (const IdentityEntry& entry : entries) {
        if (entry.kind == kind && entry.value == found->value) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

std::string choiceKey(const ListChoice& choice) {
    return choice.disconnected ? "the disconnected list" : "the list of " + choice.key;
}

namespace {

// The most specific key of address on file: the whole address, then its
// leading three, two and one numbers; with how it matched.
std::optional<std::pair<std::string, std::string>>
addressKeyOnFile(const std::string& address, const std::function<bool(const std::string&)>& onFile) {
    static constexpr std::pair<std::size_t, const char*> kKeys[] = {{4, "the whole address"},
                                                                    {3, "its leading three numbers"},
                                                                    {2, "its leading two numbers"},
                                                                    {1, "its first number"}};
    for (const auto& [numbers, how] : kKeys) {
        const std::string key = numbers == 4 ? address : leadingNumbers(address, numbers);
        if (onFile(key)) {
            return std::make_pair(key, std::string(how));
        }
    }
    return std::nullopt;
}

} // namespace

std::size_t charactersIn(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

std::string shownName(const std::string& name, std::size_t longest) {
    std::size_t characters = 0;
    for (std::size_t at = 0; at < name.size(); ++at) {
        if ((static_cast<unsigned char>(name[at]) & 0xc0) != 0x80 && ++characters > longest) {
            return name.substr(0, at) + "...";
        }
    }
    return name;
}

std::string entryShown(const ListChoice& choice) {
    if (!choice.name.empty()) {
        return choice.name;
    }
    return choice.anyOther ? "any other network" : choice.key;
}

namespace {

ListChoice chooseEntry(Database& database, const DiscoveredAddress& discovered, NetworkIdentity* identity,
                       IdentityLookups lookups) {
    ListChoice choice;
    if (!discovered.connected()) {
        return choice;
    }
    choice.disconnected = false;
    choice.address = discovered.address;
    auto onFile = [&](const std::string& key) {
        return database.openRecordset(statements::addressCheck(key)).recordCount() > 0;
    };
    // A user who put a VPN's addresses on file wants its list when it runs.
    if (const auto& tunnel = discovered.passedOverTunnel) {
        if (const auto key = addressKeyOnFile(tunnel->address, onFile)) {
            choice.address = tunnel->address;
            choice.key = key->first;
            choice.how = key->second;
            choice.onFile = true;
            choice.throughTunnel = tunnel->name;
            return choice;
        }
    }
    const std::string& address = discovered.address;

    // The network's identity is more specific than any address: its
    // gateway's hardware address first, then its Wi-Fi name. Each is looked
    // up only when an entry could match it (or to be shown).
    const std::vector<IdentityEntry> entries = identityEntriesOnFile(database, choice);
    auto wanted = [&](IdentityEntry::Kind kind) {
        for (const IdentityEntry& entry : entries) {
            if (entry.kind == kind) {
                return true;
            }
        }
        return false;
    };
    const bool gatewayOnFile = wanted(IdentityEntry::Kind::GatewayHardwareAddress);
    const bool wifiOnFile = wanted(IdentityEntry::Kind::WifiName);
    if (identity && (gatewayOnFile || lookups.always)) {
        choice.gatewayHardwareAddress = identity->gatewayHardwareAddress(gatewayOnFile && lookups.resolve);
    }
    const IdentityEntry* found =
        matching(entries, IdentityEntry::Kind::GatewayHardwareAddress, choice.gatewayHardwareAddress);
    if (identity && (wifiOnFile || lookups.always) && (!found || lookups.always)) {
        choice.wifiName = identity->wifiName();
    }
    if (!found) {
        found = matching(entries, IdentityEntry::Kind::WifiName, choice.wifiName);
    }
    for (const IdentityEntry& entry : entries) {
        const auto& known = entry.kind == IdentityEntry::Kind::GatewayHardwareAddress
                                ? choice.gatewayHardwareAddress
                                : choice.wifiName;
        if (!known || known->value.empty()) {
            choice.notConsidered.push_back(entry.text);
        }
    }
    if (found) {
        choice.key = found->text;
        choice.how = found->kind == IdentityEntry::Kind::WifiName ? "the Wi-Fi name"
                                                                  : "the gateway's hardware address";
        choice.onFile = true;
        choice.identity = true;
        return choice;
    }

    if (const auto key = addressKeyOnFile(address, onFile)) {
        choice.key = key->first;
        choice.how = key->second;
        choice.onFile = true;
        return choice;
    }
    // The first number is run unchecked, so an address that matches
    // nothing starts nothing, unless any other network has a list.
    choice.key = leadingNumbers(address, 1);
    choice.how = "its first number, which is not on file either";
    if (onFile(kAnyOtherNetwork)) {
        choice.key = kAnyOtherNetwork;
        choice.how = "any other network";
        choice.onFile = true;
        choice.anyOther = true;
    }
    return choice;
}

} // namespace

ListChoice chooseList(Database& database, const DiscoveredAddress& discovered, NetworkIdentity* identity,
                      IdentityLookups lookups) {
    ListChoice choice = chooseEntry(database, discovered, identity, lookups);
    // Names live in a table of their own, which a file of an earlier format
    // lacks.
    if (choice.onFile && database.extraTables().entryNames == Database::Table::Usable) {
        if (const Recordset named = database.openRecordset(statements::nameOfEntry(choice.key));
            !named.eof() && !named.field("Name").isNull()) {
            choice.name = shownName(named.field("Name").text(), kLongestEntryName);
        }
    }
    return choice;
}

} // namespace corvale
