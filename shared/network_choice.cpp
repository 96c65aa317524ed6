#include "shared/network_choice.h"

#include "shared/names_and_marks.h"

#include "platform/failure.h"
#include "shared/statements.h"

#include <algorithm>
#include <cctype>

namespace corvale {

namespace {

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
    return choice.disconnected() ? "the disconnected list" : "the list of " + choice.key;
}

namespace {

struct KeyOnFile {
    std::string key;
    ListChoice::Match match;
    int length = 0;
};

// The prefix entries on file that are well formed, in the order of the
// statement.
std::vector<std::pair<std::string, Prefix>> prefixEntriesOnFile(Database& database) {
    std::vector<std::pair<std::string, Prefix>> entries;
    for (Recordset rows = database.openRecordset(statements::prefixEntries()); !rows.eof(); rows.moveNext()) {
        if (rows.field("IPaddress").isNull()) {
            continue;
        }
        const std::string text = rows.field("IPaddress").text();
        if (const std::optional<Prefix> prefix = entryPrefix(text)) {
            entries.emplace_back(text, *prefix);
        }
    }
    return entries;
}

// The most specific key on file of an address: for IPv4 the whole address,
// its leading three, two and one numbers and the prefixes written with a
// length, the longest winning; then, where no IPv4 key is on file, the
// longest IPv6 prefix that holds address6.
std::optional<KeyOnFile> addressKeyOnFile(const std::string& address, const std::string& address6,
                                          const std::function<bool(const std::string&)>& onFile,
                                          const std::vector<std::pair<std::string, Prefix>>& prefixes) {
    using Match = ListChoice::Match;
    std::optional<KeyOnFile> best;
    auto longestPrefix = [&](const std::optional<Prefix>& whole, Match match) {
        for (const auto& [text, prefix] : prefixes) {
            if (whole && prefix.holds(*whole) && (!best || prefix.length > best->length)) {
                best = KeyOnFile{text, match, prefix.length};
            }
        }
    };
    if (!address.empty()) {
        static constexpr std::pair<std::size_t, Match> kKeys[] = {{4, Match::WholeAddress},
                                                                  {3, Match::LeadingThree},
                                                                  {2, Match::LeadingTwo},
                                                                  {1, Match::FirstNumber}};
        for (const auto& [numbers, match] : kKeys) {
            const std::string key = numbers == 4 ? address : leadingNumbers(address, numbers);
            if (onFile(key)) {
                best = KeyOnFile{key, match, static_cast<int>(numbers) * 8};
                break;
            }
        }
        const std::optional<Prefix> whole = parseAddress(address);
        longestPrefix(whole && whole->family == Prefix::Family::V4 ? whole : std::nullopt, Match::Ipv4Prefix);
        if (best) {
            return best;
        }
    }
    if (!address6.empty()) {
        const std::optional<Prefix> whole = parseAddress(address6);
        longestPrefix(whole && whole->family == Prefix::Family::V6 ? whole : std::nullopt, Match::Ipv6Prefix);
    }
    return best;
}

} // namespace

std::string howMatched(ListChoice::Match match) {
    switch (match) {
    case ListChoice::Match::Disconnected:
        return "no usable address";
    case ListChoice::Match::GatewayHardwareAddress:
        return "the gateway's hardware address";
    case ListChoice::Match::WifiName:
        return "the Wi-Fi name";
    case ListChoice::Match::WholeAddress:
        return "the whole address";
    case ListChoice::Match::LeadingThree:
        return "its leading three numbers";
    case ListChoice::Match::LeadingTwo:
        return "its leading two numbers";
    case ListChoice::Match::FirstNumber:
        return "its first number";
    case ListChoice::Match::Ipv4Prefix:
    case ListChoice::Match::Ipv6Prefix:
        return "the prefix that holds it";
    case ListChoice::Match::AnyOther:
        return "any other network";
    case ListChoice::Match::Nothing:
        return "its first number, which is not on file either";
    }
    return {};
}

std::string entryShown(const ListChoice& choice) {
    if (!choice.name.empty()) {
        return shownName(choice.name, kLongestEntryName);
    }
    return choice.anyOther() ? howMatched(choice.match) : choice.key;
}

namespace {

ListChoice chooseEntry(Database& database, const DiscoveredAddress& discovered, NetworkIdentity* identity,
                       IdentityLookups lookups) {
    ListChoice choice;
    if (!discovered.connected()) {
        return choice;
    }
    choice.match = ListChoice::Match::Nothing;
    choice.address = discovered.shown();
    auto onFile = [&](const std::string& key) {
        return database.openRecordset(statements::addressCheck(key)).recordCount() > 0;
    };
    const std::string address = discovered.hasIpv4() ? discovered.address : std::string();

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
        choice.match = found->kind == IdentityEntry::Kind::WifiName
                           ? ListChoice::Match::WifiName
                           : ListChoice::Match::GatewayHardwareAddress;
        return choice;
    }

    const auto prefixes = prefixEntriesOnFile(database);
    auto take = [&](const KeyOnFile& key) {
        choice.key = key.key;
        choice.match = key.match;
        return choice;
    };
    if (const auto key = addressKeyOnFile(address, discovered.address6, onFile, prefixes)) {
        return take(*key);
    }
    // A VPN's tunnel is no place: its own address counts only where the
    // network beneath it matches nothing of its own (a user who put the
    // VPN's addresses on file, at a place not on file).
    if (const auto& tunnel = discovered.passedOverTunnel) {
        if (const auto key = addressKeyOnFile(tunnel->address, tunnel->address6, onFile, prefixes)) {
            choice.address = tunnel->address.empty() ? tunnel->address6 : tunnel->address;
            choice.throughTunnel = tunnel->name;
            return take(*key);
        }
    }
    // The first number is run unchecked, so an address that matches
    // nothing starts nothing, unless any other network has a list.
    std::string firstNumber = address.empty() ? discovered.address6 : leadingNumbers(address, 1);
    if (onFile(kAnyOtherNetwork)) {
        choice.key = std::string(kAnyOtherNetwork);
        choice.match = ListChoice::Match::AnyOther;
    } else {
        choice.key = std::move(firstNumber);
    }
    return choice;
}

} // namespace

std::optional<ListChoice> listOfPlace(Database& database, const std::string& nameOrEntry) {
    using Match = ListChoice::Match;
    ListChoice choice;
    const auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        return text;
    };
    NamesAndMarks stored(database);
    std::optional<std::int64_t> named;
    for (const auto& [ipid, name] : stored.names()) {
        if (lower(name) == lower(nameOrEntry) && (!named || ipid < *named)) {
            named = ipid;
            choice.name = name;
        }
    }
    bool found = false;
    for (Recordset rows = database.openRecordset(statements::allAddresses()); !rows.eof(); rows.moveNext()) {
        if (rows.field("IPaddress").isNull()) {
            continue;
        }
        const std::string text = rows.field("IPaddress").text();
        if ((named && !rows.field("IPID").isNull() && rows.field("IPID").number() == *named) ||
            (!named && text == nameOrEntry)) {
            choice.key = text;
            found = true;
            break;
        }
    }
    if (!found) {
        return std::nullopt;
    }
    const std::string& key = choice.key;
    if (const auto identity = identityEntry(key)) {
        choice.match =
            identity->kind == IdentityEntry::Kind::WifiName ? Match::WifiName : Match::GatewayHardwareAddress;
    } else if (key == kAnyOtherNetwork) {
        choice.match = Match::AnyOther;
    } else if (key.find('/') != std::string::npos) {
        choice.match = key.find(':') != std::string::npos ? Match::Ipv6Prefix : Match::Ipv4Prefix;
    } else {
        static constexpr Match kByNumbers[] = {Match::FirstNumber, Match::LeadingTwo, Match::LeadingThree,
                                               Match::WholeAddress};
        const auto dots = static_cast<std::size_t>(std::count(key.begin(), key.end(), '.'));
        choice.match = kByNumbers[std::min<std::size_t>(dots, 3)];
    }
    if (choice.name.empty()) {
        choice.name = stored.nameOfEntry(key).value_or(std::string());
    }
    return choice;
}

ListChoice chooseList(Database& database, const DiscoveredAddress& discovered, NetworkIdentity* identity,
                      IdentityLookups lookups) {
    ListChoice choice = chooseEntry(database, discovered, identity, lookups);
    if (choice.onFile()) {
        choice.name = NamesAndMarks(database).nameOfEntry(choice.key).value_or(std::string());
    }
    return choice;
}

} // namespace corvale
