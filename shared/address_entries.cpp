#include "shared/address_entries.h"

#include "platform/failure.h"
#include "shared/statements.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstring>

namespace corvale {

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

namespace {

constexpr const char* kEntryForm =
    "it is not an address nor its leading one to three numbers (numbers from 0 to 255 joined by dots, "
    "such as 192.168.1 or 10.20.0.5), nor a prefix with its length (such as 10.20.16.0/20 or fd00:6::/64)";

// Why dotted numbers are no address or leading numbers of one; empty when
// they are (at most, or with whole, exactly, four).
std::string whyNotDotted(const std::string& text, bool whole) {
    const std::vector<std::string> numbers = split(text, '.');
    if (numbers.size() > 4 || (whole && numbers.size() != 4)) {
        return kEntryForm;
    }
    for (const std::string& number : numbers) {
        if (number.empty() || number.size() > 3 ||
            number.find_first_not_of("0123456789") != std::string::npos) {
            return kEntryForm;
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

// The IPv4 address an IPv4-mapped one holds.
Prefix ipv4Of(const Prefix& mapped) {
    Prefix address;
    std::copy(mapped.bytes.begin() + 12, mapped.bytes.end(), address.bytes.begin());
    address.length = 32;
    return address;
}

// Why no network a laptop joins is in an IPv6 prefix; empty when one can be.
std::string whyNoLaptopsNetwork(const Prefix& network) {
    const auto& bytes = network.bytes;
    if (network.family != Prefix::Family::V6) {
        return {};
    }
    if (network.length >= 10 && bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80) {
        return "it is a link-local prefix, and a link-local address is on every IPv6 link: use the router's "
               "gateway: entry instead";
    }
    if (network.length >= 96 &&
        std::all_of(bytes.begin(), bytes.begin() + 10, [](unsigned char byte) { return byte == 0; }) &&
        bytes[10] == 0xff && bytes[11] == 0xff) {
        return "it is an IPv4-mapped prefix, which no network gives an address of: write the IPv4 network "
               "instead, such as " +
               Prefix::of(ipv4Of(network), std::max(network.length - 96, 0)).text();
    }
    return {};
}

// The prefix an entry stands for, or why it stands for none.
std::pair<std::optional<Prefix>, std::string> readPrefix(const std::string& entry) {
    const std::size_t slash = entry.find('/');
    const std::string address = entry.substr(0, slash);
    const bool v6 = address.find(':') != std::string::npos;
    if (slash == std::string::npos) {
        if (v6) {
            if (!parseAddress(entry)) {
                return {std::nullopt, kEntryForm};
            }
            return {std::nullopt, "an IPv6 entry is a prefix with its length, such as fd00:6::/64 (its "
                                  "addresses change from day to day)"};
        }
        if (std::string why = whyNotDotted(entry, false); !why.empty()) {
            return {std::nullopt, why};
        }
        Prefix prefix;
        const std::vector<std::string> numbers = split(entry, '.');
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            prefix.bytes[i] = static_cast<unsigned char>(std::stoi(numbers[i]));
        }
        prefix.length = static_cast<int>(numbers.size()) * 8;
        return {prefix, {}};
    }
    const std::string lengthText = entry.substr(slash + 1);
    const int longest = v6 ? 128 : 32;
    if (lengthText.empty() || lengthText.size() > 3 ||
        lengthText.find_first_not_of("0123456789") != std::string::npos ||
        (lengthText.size() > 1 && lengthText[0] == '0') || std::stoi(lengthText) > longest) {
        return {std::nullopt, "the length after / is " + (lengthText.empty() ? "missing" : lengthText) +
                                  ": it is a number from 0 to " + std::to_string(longest)};
    }
    if (!v6) {
        if (std::string why = whyNotDotted(address, true); !why.empty()) {
            return {std::nullopt, why};
        }
    }
    std::optional<Prefix> whole = parseAddress(address);
    if (!whole) {
        return {std::nullopt, kEntryForm};
    }
    const Prefix network = Prefix::of(*whole, std::stoi(lengthText));
    if (network.bytes != whole->bytes) {
        return {std::nullopt, "it has bits set past its length; the network is " + network.text()};
    }
    if (std::string why = whyNoLaptopsNetwork(network); !why.empty()) {
        return {std::nullopt, why};
    }
    return {network, {}};
}

} // namespace

bool Prefix::holds(const Prefix& address) const {
    return address.family == family && of(address, length).bytes == bytes;
}

Prefix Prefix::of(const Prefix& address, int length) {
    Prefix network = address;
    network.length = length;
    for (int bit = length; bit < 128; ++bit) {
        network.bytes[static_cast<std::size_t>(bit / 8)] &= static_cast<unsigned char>(~(0x80 >> (bit % 8)));
    }
    return network;
}

std::string Prefix::text() const {
    char shown[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family == Family::V6 ? AF_INET6 : AF_INET, bytes.data(), shown, sizeof shown);
    return shown + ("/" + std::to_string(length));
}

std::optional<Prefix> parseAddress(const std::string& text) {
    Prefix address;
    address.family = text.find(':') != std::string::npos ? Prefix::Family::V6 : Prefix::Family::V4;
    const bool v6 = address.family == Prefix::Family::V6;
    if (::inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), address.bytes.data()) != 1) {
        return std::nullopt;
    }
    address.length = v6 ? 128 : 32;
    return address;
}

std::optional<Prefix> entryPrefix(const std::string& entry) {
    if (identityEntry(entry) || entry == kAnyOtherNetwork || entry.empty()) {
        return std::nullopt;
    }
    return readPrefix(entry).first;
}

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
    return readPrefix(entry).second;
}

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

namespace {

// The network an entry names when numbers written with leading zeros are
// read as people mean them: "192.168.001.0/24" is 192.168.1.0/24. Only to
// tell that two entries name one network; such an entry itself never
// matches.
std::optional<Prefix> networkAsMeant(const std::string& entry) {
    if (auto network = entryPrefix(entry)) {
        return network;
    }
    const std::size_t slash = entry.find('/');
    const std::string address = entry.substr(0, slash);
    if (address.find(':') != std::string::npos ||
        address.find_first_not_of("0123456789.") != std::string::npos) {
        return std::nullopt;
    }
    std::string plain;
    for (const std::string& number : split(address, '.')) {
        const auto first = number.find_first_not_of('0');
        plain += (plain.empty() ? "" : ".") + (first == std::string::npos ? "0" : number.substr(first));
    }
    return entryPrefix(plain + (slash == std::string::npos ? "" : entry.substr(slash)));
}

} // namespace

bool sameNetwork(const EntryKey& one, const EntryKey& other) {
    if (one.kind != other.kind) {
        return false;
    }
    if (one.kind == EntryKey::Kind::Identity) {
        return one.identity.kind == other.identity.kind && one.identity.value == other.identity.value;
    }
    return one.kind == EntryKey::Kind::Address && one.network.family == other.network.family &&
           one.network.length == other.network.length && one.network.bytes == other.network.bytes;
}

EntryKey entryKey(const std::string& text) {
    EntryKey key;
    key.text = text;
    if (const std::optional<IdentityEntry> identity = identityEntry(text)) {
        key.kind = identity->problem.empty() ? EntryKey::Kind::Identity : EntryKey::Kind::NeverMatches;
        key.identity = *identity;
        key.why = identity->problem;
        return key;
    }
    if (text == kAnyOtherNetwork) {
        key.kind = EntryKey::Kind::AnyOther;
        return key;
    }
    if (text.empty()) {
        key.why = "it is empty";
        return key;
    }
    auto [network, why] = readPrefix(text);
    if (!network) {
        key.why = std::move(why);
        return key;
    }
    key.kind = EntryKey::Kind::Address;
    key.network = *network;
    key.dotted = text.find('/') == std::string::npos;
    return key;
}

bool sameNetwork(const std::string& one, const std::string& other) {
    if (one == other) {
        return true;
    }
    if (sameNetwork(entryKey(one), entryKey(other))) {
        return true;
    }
    const std::optional<Prefix> first = networkAsMeant(one);
    const std::optional<Prefix> second = networkAsMeant(other);
    return first && second && first->family == second->family && first->length == second->length &&
           first->bytes == second->bytes;
}

bool runsBefore(const EntryKey& one, const EntryKey& other) {
    if (one.dotted != other.dotted) {
        return one.dotted;
    }
    return statements::listedBefore(one.text, other.text);
}

std::string networkOf(const EntryKey& key) {
    if (key.kind == EntryKey::Kind::Identity) {
        return std::string(1, key.identity.kind == IdentityEntry::Kind::WifiName ? 'w' : 'g') +
               key.identity.value;
    }
    if (key.kind != EntryKey::Kind::Address) {
        return {};
    }
    std::string network = {key.network.family == Prefix::Family::V6 ? '6' : '4',
                           static_cast<char>(key.network.length)};
    network.append(key.network.bytes.begin(), key.network.bytes.end());
    return network;
}

SameNetworks::SameNetworks(const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
        EntryKey key = entryKey(entry);
        std::string network = networkOf(key);
        if (network.empty()) {
            continue;
        }
        const auto [first, added] = m_first.try_emplace(std::move(network), key);
        if (!added && runsBefore(key, first->second)) {
            first->second = std::move(key);
        }
    }
}

std::optional<std::string> SameNetworks::reachedInsteadOf(const std::string& entry) const {
    const auto first = m_first.find(networkOf(entryKey(entry)));
    if (first == m_first.end() || first->second.text == entry) {
        return std::nullopt;
    }
    return first->second.text;
}

std::optional<EntryOnFile> sameNetworkOnFile(Database& database, const std::string& text,
                                             std::optional<std::int64_t> except) {
    for (Recordset rows = database.openRecordset(statements::allAddresses()); !rows.eof(); rows.moveNext()) {
        const Field entry = rows.field("IPaddress");
        const Field id = rows.field("IPID");
        if (!entry.isNull() && !id.isNull() && (!except || id.number() != *except) &&
            sameNetwork(text, entry.text())) {
            return EntryOnFile{id.number(), entry.text()};
        }
    }
    return std::nullopt;
}

bool gatewayEntryOnFile(Database& database) {
    for (Recordset rows = database.openRecordset(statements::allAddresses()); !rows.eof(); rows.moveNext()) {
        const Field entry = rows.field("IPaddress");
        if (const auto identity = entry.isNull() ? std::nullopt : identityEntry(entry.text());
            identity && identity->kind == IdentityEntry::Kind::GatewayHardwareAddress) {
            return true;
        }
    }
    return false;
}

} // namespace corvale
