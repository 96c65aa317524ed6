#include "shared/network_discovery.h"

#include "platform/failure.h"

#include <algorithm>
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
    if (!m_adapter) {
        return {};
    }
    return isRealGateway(m_adapter->gateway) ? m_adapter->gateway : m_adapter->gateway6;
}

namespace {

bool hasIpv6Route(const platform::Adapter& adapter) {
    return !adapter.address6.empty() && !adapter.gateway6.empty();
}

// The adapter the kernel sends by among those that pass: the lowest metric,
// the first in interface order among equals.
const platform::Adapter* lowestMetric(const std::vector<platform::Adapter>& adapters,
                                      const std::function<bool(const platform::Adapter&)>& passes,
                                      unsigned platform::Adapter::*metric) {
    const platform::Adapter* best = nullptr;
    for (const platform::Adapter& adapter : adapters) {
        if (passes(adapter) && (!best || adapter.*metric < best->*metric)) {
            best = &adapter;
        }
    }
    return best;
}

std::string addressesOf(const platform::Adapter& adapter) {
    const std::string v4 = addressChars(adapter.address);
    if (v4.empty() || v4 == "0.0.0.0") {
        return adapter.address6;
    }
    return adapter.address6.empty() ? v4 : v4 + ", " + adapter.address6;
}

} // namespace

DiscoveredAddress NetworkDiscovery::take(platform::Adapter adapter, const std::string& how,
                                         const platform::Adapter* tunnel) {
    const std::string address = addressChars(adapter.address);
    const std::string gateway = isRealGateway(adapter.gateway) ? adapter.gateway : adapter.gateway6;
    m_finding = "adapter " + adapter.name + ": address " + addressesOf(adapter) +
                (gateway.empty() ? "" : ", gateway " + gateway) + how;
    DiscoveredAddress found{address, adapter.address6};
    if (tunnel) {
        m_finding += "; the tunnel " + tunnel->name + " (" + addressesOf(*tunnel) + ") is passed over";
        found.passedOverTunnel =
            DiscoveredAddress::Tunnel{tunnel->name, addressChars(tunnel->address), tunnel->address6};
    }
    m_adapter = std::move(adapter);
    return found;
}

std::optional<DiscoveredAddress>
NetworkDiscovery::routedAdapter(const std::vector<platform::Adapter>& adapters,
                                const platform::Adapter* tunnel, const KernelsAnswer& answer) {
    const bool anyIpv4 = answer.adapter
                             ? !answer.ipv6
                             : std::any_of(adapters.begin(), adapters.end(), [](const platform::Adapter& a) {
                                   return !a.tunnel && isRealGateway(addressChars(a.gateway));
                               });
    // The kernel routes IPv4 by the lowest metric; an IPv6-only network is
    // weighed only where no adapter has an IPv4 gateway.
    auto passes = [&](const platform::Adapter& adapter) {
        return !adapter.tunnel &&
               (anyIpv4 ? isRealGateway(addressChars(adapter.gateway)) : hasIpv6Route(adapter));
    };
    const auto metric = anyIpv4 ? &platform::Adapter::metric : &platform::Adapter::metric6;
    const platform::Adapter* chosen =
        answer.adapter ? answer.adapter : lowestMetric(adapters, passes, metric);
    if (!chosen) {
        return std::nullopt;
    }
    // Events run once per step from one adapter to the next, up to the
    // first that has a way out.
    for (const platform::Adapter& adapter : adapters) {
        if (passes(adapter) || &adapter == chosen) {
            break;
        }
        if (m_letEventsRun && &adapter != &adapters.back()) {
            m_letEventsRun();
        }
    }
    std::string how;
    for (const platform::Adapter& other : adapters) {
        if (&other == chosen || !passes(other)) {
            continue;
        }
        // The hops of one multipath route are one route: the kernel
        // spreads connections over them.
        const bool samePath =
            anyIpv4 && other.multipath && chosen->multipath && other.metric == chosen->metric;
        how +=
            "; " + other.name + " (" + (anyIpv4 ? addressChars(other.address) : other.address6) +
            (samePath ? ") is another path of the same route"
                      : ", metric " + std::to_string(other.*metric) + ") is not the route the system uses");
    }
    return take(*chosen, how, tunnel);
}

NetworkDiscovery::KernelsAnswer
NetworkDiscovery::kernelsAnswer(const std::vector<platform::Adapter>& adapters) {
    const auto answered = [&](platform::RouteAnswer platform::Adapter::*family, platform::RouteAnswer kind,
                              bool v6) -> const platform::Adapter* {
        for (const platform::Adapter& adapter : adapters) {
            const bool usable = v6 ? !adapter.address6.empty() : isRealGateway(addressChars(adapter.address));
            if (adapter.*family == kind && (usable || adapter.tunnel)) {
                return &adapter;
            }
        }
        return nullptr;
    };
    KernelsAnswer answer;
    for (const bool v6 : {false, true}) {
        const auto family = v6 ? &platform::Adapter::routed6 : &platform::Adapter::routed;
        if (const platform::Adapter* routed = answered(family, platform::RouteAnswer::Routed, v6)) {
            answer.ipv6 = v6;
            if (!routed->tunnel) {
                answer.adapter = routed;
                return answer;
            }
            answer.tunnel = routed;
            answer.adapter = answered(family, platform::RouteAnswer::BeneathTheTunnel, v6);
            return answer;
        }
    }
    return answer;
}

DiscoveredAddress NetworkDiscovery::discoverIP() {
    m_adapter.reset();
    if (networkAlive() == kNoConnection) {
        m_finding = "disconnected: no network interface is up and running with an IPv4 address or an IPv6 "
                    "network";
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
    // Where the kernel answered the route lookup, its answer decides;
    // otherwise the main table's default routes do.
    const KernelsAnswer answer = kernelsAnswer(list.adapters);
    const platform::Adapter* tunnel = answer.tunnel;
    for (const platform::Adapter& adapter : list.adapters) {
        if (adapter.tunnel && adapter.defaultRoute && !tunnel) {
            tunnel = &adapter;
        }
    }
    if (auto routed = routedAdapter(list.adapters, tunnel, answer)) {
        return *routed;
    }
    if (tunnel) {
        if (auto place = placeBehindTunnel(list.adapters, *tunnel)) {
            return *place;
        }
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
    const platform::Adapter& adapter = list.adapters[chosen];
    if (!isRealGateway(gateway) && tunnel && hasIpv6Route(*tunnel)) {
        // A tunnel with an IPv6 route alone, and nothing else with a gateway.
        return take(*tunnel, "; a tunnel, taken since no other adapter has a gateway", nullptr);
    }
    // Without a real gateway anywhere the last interface is taken all the same.
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
NetworkDiscovery::placeBehindTunnel(const std::vector<platform::Adapter>& adapters,
                                    const platform::Adapter& tunnel) {
    // The tunnel holds the default route: the place is where the route to
    // its server goes.
    for (platform::Adapter adapter : adapters) {
        if (!adapter.tunnel && isRealGateway(addressChars(adapter.routeGateway)) &&
            !addressChars(adapter.address).empty()) {
            adapter.gateway = adapter.routeGateway;
            return take(adapter, " (its route through the gateway the tunnel runs over)", &tunnel);
        }
    }
    return std::nullopt;
}

platform::Identity NetworkDiscovery::gatewayHardwareAddress(bool resolve) {
    std::string gateway = m_adapter ? addressChars(m_adapter->gateway) : std::string();
    if (!isRealGateway(gateway)) {
        // On an IPv6 network the router is the next hop of its default route.
        if (!m_adapter || m_adapter->gateway6.empty()) {
            return {{}, "the adapter has no default gateway"};
        }
        gateway = m_adapter->gateway6;
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

} // namespace corvale
