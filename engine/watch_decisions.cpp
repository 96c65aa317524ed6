#include "engine/watch_decisions.h"

#include "shared/address_entries.h"

#include <algorithm>

namespace brisken {

NetworkKey NetworkKey::of(const std::optional<corvale::platform::Adapter>& adapter,
                          const corvale::ListChoice& choice, const std::string& wifiName) {
    if (!adapter || choice.disconnected()) {
        return {};
    }
    // The family the choice went by: an IPv6 network's address when the
    // adapter has no IPv4 one.
    const bool ipv4 = corvale::parseAddress(adapter->address).has_value() && adapter->address != "0.0.0.0";
    const auto address = corvale::parseAddress(ipv4 ? adapter->address : adapter->address6);
    const int length = ipv4 ? adapter->prefixLength : adapter->prefixLength6;
    NetworkKey key;
    key.interface = adapter->name;
    key.gateway = ipv4 ? adapter->gateway : adapter->gateway6;
    key.prefix = address ? corvale::Prefix::of(*address, length).text() : std::string();
    key.wifiName = wifiName;
    if (choice.gatewayHardwareAddress) {
        key.gatewayHardwareAddress = choice.gatewayHardwareAddress->value;
    }
    return key;
}

ChoiceKey ChoiceKey::of(const corvale::ListChoice& choice, NetworkKey network) {
    if (choice.disconnected()) {
        return {List::Disconnected, {}, std::move(network)};
    }
    return {List::Entry, choice.key, std::move(network)};
}

std::string ChoiceKey::told() const {
    return list == List::Disconnected ? "d" : list == List::Entry ? "e" + entry : "u";
}

ChoiceKey ChoiceKey::fromTold(const std::string& told) {
    if (told == "d") {
        return {List::Disconnected};
    }
    if (!told.empty() && told.front() == 'e') {
        return {List::Entry, told.substr(1)};
    }
    return {};
}

void LookThrottle::noticed(bool networkChanged) {
    m_due = true;
    m_resolveDue = m_resolveDue || networkChanged;
}

std::optional<WatchClock::time_point> LookThrottle::lookAt() const {
    return m_due ? std::optional(m_last + m_gap) : std::nullopt;
}

LookThrottle::Look LookThrottle::take(WatchClock::time_point now, bool settled) {
    if ((m_due && now < m_last + m_gap) || (!m_due && !settled)) {
        return {};
    }
    const Look look{true, m_resolveDue};
    m_due = false;
    m_resolveDue = false;
    m_last = now;
    return look;
}

bool NetworkKey::operator==(const NetworkKey& other) const {
    const bool hardwareAgrees = gatewayHardwareAddress.empty() || other.gatewayHardwareAddress.empty() ||
                                gatewayHardwareAddress == other.gatewayHardwareAddress;
    return interface == other.interface && gateway == other.gateway && prefix == other.prefix &&
           wifiName == other.wifiName && hardwareAgrees;
}

bool Settling::looked(const ChoiceKey& choice, WatchClock::time_point now) {
    if (choice == m_ran) {
        m_pending.reset();
        return false;
    }
    if (!m_pending || *m_pending != choice) {
        m_pending = choice;
        m_pendingSince = now;
        return false;
    }
    if (now < m_pendingSince + m_settle) {
        return false;
    }
    m_ran = choice;
    m_pending.reset();
    return true;
}

std::optional<WatchClock::time_point> Settling::settlesAt() const {
    return m_pending ? std::optional(m_pendingSince + m_settle) : std::nullopt;
}

std::optional<StartedProcess>
EarlierProcesses::startedFor(const std::string& target,
                             const std::optional<corvale::platform::FileId>& file) const {
    return stillRunningFor(m_started, target, file, m_runs);
}

std::vector<StartedProcess> EarlierProcesses::toEndOnLeaving(const std::vector<ItemPlan>& plans,
                                                             const Marks& marked) const {
    std::vector<StartedProcess> leaving;
    for (const StartedProcess& process : m_started) {
        const bool heldHere = std::any_of(plans.begin(), plans.end(), [&](const ItemPlan& item) {
            return item.why != ItemPlan::Why::NoTarget &&
                   brisken::startedFor(process, item.target, item.file);
        });
        if (!process.asked && marked.count({process.table, process.listId}) > 0 && !heldHere &&
            m_runs(process)) {
            leaving.push_back(process);
        }
    }
    return leaving;
}

void keepLatest(std::vector<StartedProcess>& started, StartedProcess record) {
    const auto same = std::find_if(started.begin(), started.end(), [&](const StartedProcess& known) {
        return known.pid == record.pid && known.startTime == record.startTime;
    });
    if (same == started.end()) {
        started.push_back(std::move(record));
        return;
    }
    record.asked = record.asked || same->asked;
    *same = std::move(record);
}

std::optional<ChoiceKey> Pausing::leaves(const ChoiceKey& ranLast) const {
    if (ranLast.list == ChoiceKey::List::Unread || m_nothingRan) {
        return std::nullopt;
    }
    return ranLast;
}

std::optional<ChoiceKey> Pausing::leavesByHand(const ChoiceKey& ranLast,
                                               const std::optional<std::string>& byHand) const {
    const bool same = byHand ? ranLast.list == ChoiceKey::List::Entry && ranLast.entry == *byHand
                             : ranLast.list == ChoiceKey::List::Disconnected;
    return same ? std::nullopt : leaves(ranLast);
}

} // namespace brisken
