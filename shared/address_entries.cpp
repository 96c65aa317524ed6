#include "shared/address_entries.h"

#include "platform/failure.h"
#include "shared/statements.h"

#include <algorithm>
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

} // namespace corvale
