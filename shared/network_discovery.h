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
    // A tunnel that held the default route and was passed over for the
    // adapter it runs through: its name and its own address.
    struct Tunnel {
        std::string name;
        std::string address;
    };
    std::optional<Tunnel> passedOverTunnel = std::nullopt;
    // An adapter whose address is all zeros has none to go by.
    bool connected() const { return !address.empty() && address != "0.0.0.0"; }
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
    // The identity of the adapter the last discoverIP() chose; none when it
    // chose none or cannot tell.
    virtual NetworkIdentity* identity() { return nullptr; }
};

inline constexpr const char* kNoConnection = "The system has no connection or an error occurred";

// The characters of text that are digits or dots, in their order.
std::string addressChars(const std::string& text);

// The address of the first interface with a real default gateway, or of the
// last interface when none has one. A tunnel (a VPN) is no place: the first
// other interface with a real default gateway is taken before it, and, when
// a tunnel holds the default route, the first other interface with a route
// through a gateway (the one the tunnel runs through); a tunnel counts only
// when no other interface has a gateway.
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
    NetworkIdentity* identity() override { return m_adapter ? this : nullptr; }
    // The adapter the last discoverIP() took, if it took one.
    const std::optional<platform::Adapter>& lastAdapter() const { return m_adapter; }

private:
    platform::Identity gatewayHardwareAddress(bool resolve) override;
    platform::Identity wifiName() override;
    void show(const std::string& text);
    // The place when a tunnel holds a default route and another adapter is
    // taken instead; nothing when no tunnel does (or no other adapter has a
    // gateway), and the choice goes as it always did.
    std::optional<DiscoveredAddress> placeBehindTunnels(const std::vector<platform::Adapter>& adapters);

    platform::Network& m_network;
    Dialogs& m_dialogs;
    std::string m_caption;
    std::function<void()> m_letEventsRun;
    std::string m_finding;
    std::optional<platform::Adapter> m_adapter;
};

} // namespace corvale
