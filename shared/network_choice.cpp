#include "shared/network_choice.h"

#include "shared/names_and_marks.h"

#include "platform/failure.h"
#include "shared/statements.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

namespace corvale {

namespace {

// The entries on file, each read once into its key: of the entries that
// name one network only the one whose list runs; the others go into the
// choice's list of entries never reached, and malformed identity entries
// into its list of those that match nothing.
struct EntriesOnFile {
    std::vector<EntryKey> identities;
    std::vector<EntryKey> addresses;
    bool anyOther = false;
    // The key (IPID) of the one row that holds each text; none where
    // several rows hold it, or its key is no whole number.
    std::unordered_map<std::string, std::optional<std::int64_t>> rowOfText;
};

EntriesOnFile entriesOnFile(Database& database, ListChoice& choice) {
    EntriesOnFile entries;
    // Where each network's entry is kept, by networkOf.
    std::unordered_map<std::string, std::size_t> keptAt;
    for (Recordset rows = database.openRecordset(statements::allAddresses()); !rows.eof(); rows.moveNext()) {
        if (rows.field("IPaddress").isNull()) {
            continue;
        }
        const Field ipid = rows.field("IPID");
        const auto [row, first] = entries.rowOfText.try_emplace(
            rows.field("IPaddress").text(),
            std::holds_alternative<std::int64_t>(ipid.value()) ? std::optional(ipid.number()) : std::nullopt);
        if (!first) {
            row->second.reset();
        }
        EntryKey key = entryKey(row->first);
        if (key.kind == EntryKey::Kind::AnyOther) {
            entries.anyOther = true;
            continue;
        }
        if (key.kind == EntryKey::Kind::NeverMatches) {
            if (identityEntry(key.text)) {
                choice.malformed.push_back(key.text + ": " + key.why);
            }
            continue;
        }
        auto& kept = key.kind == EntryKey::Kind::Identity ? entries.identities : entries.addresses;
        const auto [index, added] = keptAt.try_emplace(networkOf(key), kept.size());
        if (added) {
            kept.push_back(std::move(key));
            continue;
        }
        EntryKey& same = kept[index->second];
        if (runsBefore(key, same)) {
            choice.unreached.push_back(same.text + ": the same network as " + key.text);
            same = std::move(key);
        } else {
            choice.unreached.push_back(key.text + ": the same network as " + same.text);
        }
    }
    return entries;
}

// The first identity entry of kind whose value is the one found, if any.
const EntryKey* matching(const std::vector<EntryKey>& entries, IdentityEntry::Kind kind,
                         const std::optional<platform::Identity>& found) {
    if (!found || found->value.empty()) {
        return nullptr;
    }
    for (const EntryKey& entry : entries) {
        if (entry.identity.kind == kind && entry.identity.value == found->value) {
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
};

// How an address entry matches an address it holds: dotted numbers by how
// many of them, a prefix as a prefix.
ListChoice::Match matchOf(const EntryKey& entry) {
    using Match = ListChoice::Match;
    if (entry.network.family == Prefix::Family::V6) {
        return Match::Ipv6Prefix;
    }
    if (!entry.dotted) {
        return Match::Ipv4Prefix;
    }
    static constexpr Match kByNumbers[] = {Match::FirstNumber, Match::LeadingTwo, Match::LeadingThree,
                                           Match::WholeAddress};
    return kByNumbers[std::clamp(entry.network.length / 8, 1, 4) - 1];
}

// The most specific address entry on file that holds an address: the
// longest IPv4 one that holds address, or, where none does, the longest
// IPv6 prefix that holds address6. (Of one network only one entry is kept,
// so that two of one length never both hold an address.)
std::optional<KeyOnFile> addressKeyOnFile(const std::optional<Prefix>& address,
                                          const std::optional<Prefix>& address6,
                                          const std::vector<EntryKey>& entries) {
    for (const auto& whole : {address, address6}) {
        const EntryKey* best = nullptr;
        for (const EntryKey& entry : entries) {
            if (whole && entry.network.holds(*whole) &&
                (!best || entry.network.length > best->network.length)) {
                best = &entry;
            }
        }
        if (best) {
            return KeyOnFile{best->text, matchOf(*best)};
        }
    }
    return std::nullopt;
}

// An address as found, read once: nothing where it is not one of family.
std::optional<Prefix> addressOf(const std::string& text, Prefix::Family family) {
    std::optional<Prefix> address = text.empty() ? std::nullopt : parseAddress(text);
    return address && address->family == family ? address : std::nullopt;
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

// The choice, and the rows of the entries read for it.
ListChoice chooseEntry(Database& database, const DiscoveredAddress& discovered, NetworkIdentity* identity,
                       IdentityLookups lookups, EntriesOnFile& entries) {
    ListChoice choice;
    if (!discovered.connected()) {
        return choice;
    }
    choice.match = ListChoice::Match::Nothing;
    choice.address = discovered.shown();
    const std::optional<Prefix> address =
        discovered.hasIpv4() ? addressOf(discovered.address, Prefix::Family::V4) : std::nullopt;
    if (discovered.hasIpv4() && !address) {
        throw Failure("The address " + discovered.address +
                      " is not four numbers joined by dots, so its network cannot be looked up.");
    }
    const std::optional<Prefix> address6 = addressOf(discovered.address6, Prefix::Family::V6);
    entries = entriesOnFile(database, choice);

    // The network's identity is more specific than any address: its
    // gateway's hardware address first, then its Wi-Fi name. Each is looked
    // up only when an entry could match it (or to be shown).
    auto wanted = [&](IdentityEntry::Kind kind) {
        return std::any_of(entries.identities.begin(), entries.identities.end(),
                           [&](const EntryKey& entry) { return entry.identity.kind == kind; });
    };
    const bool gatewayOnFile = wanted(IdentityEntry::Kind::GatewayHardwareAddress);
    const bool wifiOnFile = wanted(IdentityEntry::Kind::WifiName);
    if (identity && (gatewayOnFile || lookups.always)) {
        choice.gatewayHardwareAddress = identity->gatewayHardwareAddress(gatewayOnFile && lookups.resolve);
    }
    const EntryKey* found = matching(entries.identities, IdentityEntry::Kind::GatewayHardwareAddress,
                                     choice.gatewayHardwareAddress);
    if (identity && (wifiOnFile || lookups.always) && (!found || lookups.always)) {
        choice.wifiName = identity->wifiName();
    }
    if (!found) {
        found = matching(entries.identities, IdentityEntry::Kind::WifiName, choice.wifiName);
    }
    for (const EntryKey& entry : entries.identities) {
        const auto& known = entry.identity.kind == IdentityEntry::Kind::GatewayHardwareAddress
                                ? choice.gatewayHardwareAddress
                                : choice.wifiName;
        if (!known || known->value.empty()) {
            choice.notConsidered.push_back(entry.text);
        }
    }
    if (found) {
        choice.key = found->text;
        choice.match = found->identity.kind == IdentityEntry::Kind::WifiName
                           ? ListChoice::Match::WifiName
                           : ListChoice::Match::GatewayHardwareAddress;
        return choice;
    }

    auto take = [&](const KeyOnFile& key) {
        choice.key = key.key;
        choice.match = key.match;
        return choice;
    };
    if (const auto key = addressKeyOnFile(address, address6, entries.addresses)) {
        return take(*key);
    }
    // A VPN's tunnel is no place: its own address counts only where the
    // network beneath it matches nothing of its own (a user who put the
    // VPN's addresses on file, at a place not on file).
    if (const auto& tunnel = discovered.passedOverTunnel) {
        if (const auto key =
                addressKeyOnFile(addressOf(tunnel->address, Prefix::Family::V4),
                                 addressOf(tunnel->address6, Prefix::Family::V6), entries.addresses)) {
            choice.address = tunnel->address.empty() ? tunnel->address6 : tunnel->address;
            choice.throughTunnel = tunnel->name;
            return take(*key);
        }
    }
    // The first number is run unchecked, so an address that matches
    // nothing starts nothing, unless any other network has a list.
    if (entries.anyOther) {
        choice.key = std::string(kAnyOtherNetwork);
        choice.match = ListChoice::Match::AnyOther;
    } else {
        choice.key = address ? std::to_string(address->bytes[0]) : discovered.address6;
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
    const EntryKey entry = entryKey(key);
    switch (entry.kind) {
    case EntryKey::Kind::Identity:
        choice.match = entry.identity.kind == IdentityEntry::Kind::WifiName ? Match::WifiName
                                                                            : Match::GatewayHardwareAddress;
        break;
    case EntryKey::Kind::AnyOther:
        choice.match = Match::AnyOther;
        break;
    case EntryKey::Kind::Address:
        choice.match = matchOf(entry);
        break;
    case EntryKey::Kind::NeverMatches:
        // Given by hand all the same: it is what it looks like.
        choice.match = key.find(':') != std::string::npos ? Match::Ipv6Prefix : Match::Ipv4Prefix;
        break;
    }
    if (choice.name.empty()) {
        choice.name = stored.nameOfEntry(key).value_or(std::string());
    }
    return choice;
}

ListChoice chooseList(Database& database, const DiscoveredAddress& discovered, NetworkIdentity* identity,
                      IdentityLookups lookups) {
    EntriesOnFile entries;
    ListChoice choice = chooseEntry(database, discovered, identity, lookups, entries);
    if (choice.onFile()) {
        // The usual file holds each text in one row: its name is asked by
        // the row's key, the cheaper question.
        NamesAndMarks stored(database);
        const auto row = entries.rowOfText.find(choice.key);
        const bool oneRow = row != entries.rowOfText.end() && row->second;
        choice.name = (oneRow ? stored.nameOfRow(*row->second) : stored.nameOfEntry(choice.key))
                          .value_or(std::string());
    }
    return choice;
}

} // namespace corvale
