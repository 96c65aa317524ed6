#include "engine/address_discovery.h"

#include "engine/engine.h"

#include <cstring>

namespace brisken {

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

NetworkDiscovery::NetworkDiscovery(corvale::platform::Network& network, corvale::Dialogs& dialogs,
                                   std::function<void()> letEventsRun)
    : m_network(network), m_dialogs(dialogs), m_letEventsRun(std::move(letEventsRun)) {}

std::string NetworkDiscovery::networkAlive() {
    return m_network.alive() ? "The system is connected to a network" : kNoConnection;
}

std::string NetworkDiscovery::discoverIP() {
    m_adapter.reset();
    if (networkAlive() == kNoConnection) {
        m_finding = "disconnected: no network interface is up and running with an IPv4 address";
        return "Disconnected";
    }
    const corvale::platform::AdapterList list = m_network.adapters();
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
    const corvale::platform::Adapter& adapter = list.adapters[chosen];
    const std::string address = addressChars(adapter.address);
    m_finding = "adapter " + adapter.name + ": address " + adapter.address +
                (isRealGateway(gateway) ? ", gateway " + gateway
                                        : ", no default gateway (no adapter has one; the last is taken)");
    if (gateway.empty() || address.empty()) {
        m_finding = "disconnected: adapter " + adapter.name + " gives no usable address";
        return {};
    }
    m_adapter = adapter;
    return "IP Address:" + address;
}

void NetworkDiscovery::show(const std::string& text) {
    m_dialogs.showMessage({text, kCaption, corvale::MessageButtons::Ok, corvale::MessageIcon::None,
                           corvale::MessageAnswer::Ok});
}

} // namespace brisken
