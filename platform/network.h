#pragma once

#include "platform/owned.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace corvale::platform {

// What the kernel answered for a packet towards the outside world: it
// leaves by this interface, or, where that is a tunnel, the tunnel's own
// packets do (a VPN that routes by policy marks them).
enum class RouteAnswer { None, Routed, BeneathTheTunnel };

// One network interface as the engine sees it: its first IPv4 address and the
// gateway of its default route, as dotted text ("0.0.0.0" when it has none).
struct Adapter {
    std::string address;
    std::string gateway;
    std::string name{}; // the interface's name, for people
    int index = 0;      // the kernel's number for the interface
    // A point-to-point or ARP-less link (tun, WireGuard, PPP, GRE): a VPN's
    // tunnel, or a dial-up or mobile-broadband link.
    bool tunnel = false;
    // It holds a default route, with a gateway or without one.
    bool defaultRoute = false;
    // The gateway of its lowest-metric route through a gateway that is not
    // a default route (the host route a VPN keeps to its server); empty when
    // it has none.
    std::string routeGateway{};
    // The metric of the default route through gateway: of several, the
    // kernel sends by the lowest.
    unsigned metric = 0;
    // Its global (or unique-local) IPv6 address, a stable one before a
    // temporary one, and the next hop of its IPv6 default route (a
    // link-local address) with that route's metric; empty when it has none.
    std::string address6{};
    std::string gateway6{};
    unsigned metric6 = 0;
    // How many leading bits of address and address6 name their network.
    int prefixLength = 0;
    int prefixLength6 = 0;
    // The kernel's route lookup, for IPv4 and IPv6; the gateway (or next
    // hop) above is then the one it answered.
    RouteAnswer routed = RouteAnswer::None;
    RouteAnswer routed6 = RouteAnswer::None;
    // Its default route is one path of a route with several.
    bool multipath = false;
};

// One thing that tells a network apart (its gateway's hardware address, its
// Wi-Fi name): the value, or, when there is none, why in words.
struct Identity {
    std::string value;
    std::string why;
};

// The answer to the adapter query: error is 0, or the system's error number
// when the query failed.
struct AdapterList {
    int error = 0;
    std::vector<Adapter> adapters;
};

// What the engine asks of the machine's network.
class Network {
public:
    virtual ~Network() = default;
    // Whether any connection is alive. A question that fails is not a "no":
    // it answers true, and adapters() then gives the failure.
    virtual bool alive() = 0;
    // The interfaces in the system's order.
    virtual AdapterList adapters() = 0;

    // The hardware address of gateway on the interface with index, as six
    // lower-case two-digit hex numbers joined by colons, from the kernel's
    // neighbour table. When the table holds none that can be used and
    // resolve is set, the kernel is made to find it (one datagram to the
    // gateway) and its answer is waited for, a second at most.
    virtual Identity gatewayHardwareAddress(int index, const std::string& gateway, bool resolve);
    // The name (SSID) of the Wi-Fi network that the interface with index is
    // associated with as a station.
    virtual Identity wifiName(int index);
    // Waits up to limit until an interface has a real default gateway;
    // returns whether one has.
    virtual bool waitForGateway(std::chrono::milliseconds limit);
};

// The kernel's answer over rtnetlink: the interfaces other than loopback that
// are up and running, in index order, each with its primary IPv4 address and the gateway of its
// lowest-metric default route in the main table that is not marked linkdown,
// and the same for IPv6; and, for each family, the interface the kernel's
// route lookup towards the outside world answers (policy rules, other tables
// and more specific routes included). A connection is alive when such an interface is up
// and running and has an IPv4 address, or a global IPv6 address and an IPv6
// default route.
class NetlinkNetwork : public Network {
public:
    // What a caller reads: everything above (the default, for whatever
    // shows the routes), or, for a run that only chooses its list, the
    // routed interface alone where the kernel's IPv4 lookup answers one that
    // is no tunnel, with its address and gateway, and no tunnel is up: the
    // main table's routes and the IPv6 answer would decide nothing then.
    enum class Detail { Everything, ChoiceOnly };
    explicit NetlinkNetwork(Detail detail = Detail::Everything) : m_detail(detail) {}

    bool alive() override;
    Identity gatewayHardwareAddress(int index, const std::string& gateway, bool resolve) override;
    Identity wifiName(int index) override;
    // Right after alive(), the interfaces that answer read (one pass over the
    // kernel's tables for both, its error included); otherwise a fresh read.
    AdapterList adapters() override;

    // Waits up to limit until an interface has a real default gateway, woken
    // by the kernel's notices of link, address and route changes (no
    // polling). Returns whether one has; the interfaces read last answer the
    // next alive() and adapters(), so a machine already on a network pays
    // nothing for the wait.
    bool waitForGateway(std::chrono::milliseconds limit) override;

private:
    Detail m_detail;
    std::optional<AdapterList> m_answered;
    bool m_alive = false;
    bool m_primed = false; // m_answered also answers the next alive()
};

// A socket that becomes readable when the kernel reports a change of link,
// address or route (IPv4 or IPv6); none when it cannot be had.
FileDescriptor openRouteNotices();
// The same for the rtnetlink multicast groups given (RTMGRP_...).
FileDescriptor openNetlinkNotices(unsigned groups);
// Reads away what the socket holds, so that it waits for the next change.
void drainRouteNotices(int socket);

// What the notices read away were about: a change of link, address or route,
// and the addresses (IPv4 or IPv6) whose neighbour entries changed (for a
// socket that also listens to the neighbour table).
struct RouteNotices {
    bool network = false;
    std::vector<std::string> neighbours;
};
RouteNotices readRouteNotices(int socket);

} // namespace corvale::platform
