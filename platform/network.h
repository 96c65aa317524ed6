#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace corvale::platform {

// One network interface as the engine sees it: its first IPv4 address and the
// gateway of its default route, as dotted text ("0.0.0.0" when it has none).
struct Adapter {
    std::string address;
    std::string gateway;
    std::string name{}; // the interface's name, for people
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
};

// The kernel's answer over rtnetlink: the interfaces other than loopback that
// are up and running, in index order, each with its primary IPv4 address and the gateway of its
// lowest-metric default route in the main table that is not marked linkdown.
// A connection is alive when
// such an interface is up and running and has an IPv4 address.
class NetlinkNetwork : public Network {
public:
    bool alive() override;
    // Right after alive(), the interfaces that answer read (one pass over the
    // kernel's tables for both, its error included); otherwise a fresh read.
    AdapterList adapters() override;

    // Waits up to limit until an interface has a real default gateway, woken
    // by the kernel's notices of link, address and route changes (no
    // polling). Returns whether one has; the interfaces read last answer the
    // next alive() and adapters(), so a machine already on a network pays
    // nothing for the wait.
    bool waitForGateway(std::chrono::milliseconds limit);

private:
    std::optional<AdapterList> m_answered;
    bool m_alive = false;
    bool m_primed = false; // m_answered also answers the next alive()
};

// A socket that becomes readable when the kernel reports a change of link,
// IPv4 address or IPv4 route; -1 when it cannot be had. The caller closes it.
int openRouteNotices();
// Reads away what the socket holds, so that it waits for the next change.
void drainRouteNotices(int socket);

} // namespace corvale::platform
