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

} // namespace corvale
