#pragma once

#include "platform/dialogs.h"
#include "platform/network.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The network the machine is on, as the engine finds it: the adapter chosen,
// its address, its gateway and what tells its network apart.
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
    // The adapter's global IPv6 address, where it has one and a way out by
    // IPv6; an IPv6-only network has this alone.
    std::string address6{};
    // A tunnel that held the default route and was passed over for the
    // adapter it runs through: its name and its own addresses.
    struct Tunnel {
        std::string name;
        std::string address;
        std::string address6{};
    };
    std::optional<Tunnel> passedOverTunnel = std::nullopt;
    // An adapter whose address is all zeros has none to go by.
    bool hasIpv4() const { return !address.empty() && address != "0.0.0.0"; }
    bool connected() const { return hasIpv4() || !address6.empty(); }
    // The address people are shown: the IPv4 one where there is one.
    const std::string& shown() const { return hasIpv4() ? address : address6; }
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
    // The name of the interface the last discoverIP() chose; empty when it
    // chose none or the address was given.
    virtual std::string lastInterface() const { return {}; }
    // The identity of the adapter the last discoverIP() chose; none when it
    // chose none or cannot tell.
    virtual NetworkIdentity* identity() { return nullptr; }
};

inline constexpr const char* kNoConnection = "The system has no connection or an error occurred";

// The characters of text that are digits or dots, in their order.
std::string addressChars(const std::string& text);

// The address of the interface a packet towards the outside world leaves by,
// as the kernel's route lookup answers (IPv4 first). Where it gives no
// answer, the interface whose default route the kernel uses: of those
// with a real IPv4 default gateway the one of the lowest metric (the first in
// interface order among equals); where none has one, the same among those
// with a global IPv6 address and an IPv6 default route; or the last
// interface when none has either. A tunnel (a VPN) is no place: another
// interface with a gateway is taken before it, and, when a tunnel holds the
// default route, the first other interface with a route through a gateway
// (the one the tunnel runs through); a tunnel counts only when no other
// interface has a gateway. Where the lookup answers a tunnel, the network
// beneath it is the interface its own packets leave by (as marked by a
// policy rule), or else the one the main table's default routes give.
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
    std::string lastInterface() const override { return m_adapter ? m_adapter->name : std::string(); }
    NetworkIdentity* identity() override { return m_adapter ? this : nullptr; }
    // The adapter the last discoverIP() took, if it took one.
    const std::optional<platform::Adapter>& lastAdapter() const { return m_adapter; }

private:
    platform::Identity gatewayHardwareAddress(bool resolve) override;
    platform::Identity wifiName() override;
    void show(const std::string& text);
    // The kernel's answer to its route lookup: the adapter a packet towards
    // the outside world leaves by (for a tunnel, the one beneath it, where
    // the kernel named one), and the tunnel it goes through.
    struct KernelsAnswer {
        const platform::Adapter* adapter = nullptr;
        const platform::Adapter* tunnel = nullptr;
        bool ipv6 = false;
    };
    static KernelsAnswer kernelsAnswer(const std::vector<platform::Adapter>& adapters);
    // The adapter the system routes by, other than tunnels: the kernel's
    // answer, or else the main table's lowest-metric default route; nothing
    // when no such adapter has a default gateway.
    std::optional<DiscoveredAddress> routedAdapter(const std::vector<platform::Adapter>& adapters,
                                                   const platform::Adapter* tunnel,
                                                   const KernelsAnswer& answer);
    // Where a tunnel holds the default route and no other adapter has one:
    // the adapter of the route to the tunnel's server.
    std::optional<DiscoveredAddress> placeBehindTunnel(const std::vector<platform::Adapter>& adapters,
                                                       const platform::Adapter& tunnel);
    DiscoveredAddress take(platform::Adapter adapter, const std::string& how,
                           const platform::Adapter* tunnel);

    platform::Network& m_network;
    Dialogs& m_dialogs;
    std::string m_caption;
    std::function<void()> m_letEventsRun;
    std::string m_finding;
    std::optional<platform::Adapter> m_adapter;
};

} // namespace corvale
