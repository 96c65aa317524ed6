#include "platform/netlink_handles.h"
#include "platform/network.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <map>
#include <memory>
#include <net/if.h>
#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/errno.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvale::platform {

namespace {

using Socket = NetlinkSocket;
using Cache = NetlinkCache;

struct Interface {
    int index = 0;
    std::string name;
    bool up = false;
    bool tunnel = false;
    std::string address;
    std::string gateway;
    unsigned gatewayMetric = 0;
    bool defaultRoute = false;
    std::string routeGateway;
    unsigned routeGatewayMetric = 0;
    int prefixLength = 0;
    std::string address6;
    bool address6Stable = false;
    int prefixLength6 = 0;
    std::string gateway6;
    unsigned gateway6Metric = 0;
};

// libnl gives negative NLE_ codes; the message wants the system's number.
int systemError(int nlError) {
    switch (-nlError) {
    case NLE_NOMEM:
        return ENOMEM;
    case NLE_PERM:
        return EPERM;
    case NLE_NOACCESS:
        return EACCES;
    case NLE_AGAIN:
        return EAGAIN;
    case NLE_BAD_SOCK:
        return EBADF;
    case NLE_DUMP_INTR:
        return EINTR;
    default:
        return errno != 0 ? errno : EIO;
    }
}

std::string dotted(nl_addr* address) {
    if (!address || nl_addr_get_family(address) != AF_INET || nl_addr_get_len(address) != 4) {
        return {};
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, nl_addr_get_binary_addr(address), text, sizeof text);
    return text;
}

std::string ipv6Text(nl_addr* address) {
    if (!address || nl_addr_get_family(address) != AF_INET6 || nl_addr_get_len(address) != 16) {
        return {};
    }
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, nl_addr_get_binary_addr(address), text, sizeof text);
    return text;
}

// A global or unique-local IPv6 address that the interface can use now: not
// one still being checked for duplicates, nor one that failed the check, nor
// one that is deprecated.
bool usableIpv6(rtnl_addr* address) {
    const unsigned flags = rtnl_addr_get_flags(address);
    return rtnl_addr_get_scope(address) == RT_SCOPE_UNIVERSE &&
           !(flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED | IFA_F_DEPRECATED));
}

// Reads interfaces, addresses and routes; fills interfaces by index, or
// returns a system error number.
int readInterfacesOnce(std::map<int, Interface>& interfaces) {
    Socket socket(nl_socket_alloc());
    if (!socket) {
        return ENOMEM;
    }
    if (int rc = nl_connect(socket.get(), NETLINK_ROUTE); rc < 0) {
        return systemError(rc);
    }

    nl_cache* raw = nullptr;
    if (int rc = rtnl_link_alloc_cache(socket.get(), AF_UNSPEC, &raw); rc < 0) {
        return systemError(rc);
    }
    Cache links(raw);
    for (nl_object* object = nl_cache_get_first(links.get()); object; object = nl_cache_get_next(object)) {
        auto* link = reinterpret_cast<rtnl_link*>(object);
        const unsigned flags = rtnl_link_get_flags(link);
        if (flags & IFF_LOOPBACK) {
            continue;
        }
        Interface& interface = interfaces[rtnl_link_get_ifindex(link)];
        interface.index = rtnl_link_get_ifindex(link);
        interface.up = (flags & IFF_UP) && (flags & IFF_RUNNING);
        interface.tunnel = (flags & (IFF_POINTOPOINT | IFF_NOARP)) != 0;
        interface.name = rtnl_link_get_name(link) ? rtnl_link_get_name(link) : "";
    }

    if (int rc = rtnl_addr_alloc_cache(socket.get(), &raw); rc < 0) {
        return systemError(rc);
    }
    Cache addresses(raw);
    for (nl_object* object = nl_cache_get_first(addresses.get()); object;
         object = nl_cache_get_next(object)) {
        auto* address = reinterpret_cast<rtnl_addr*>(object);
        auto found = interfaces.find(rtnl_addr_get_ifindex(address));
        if (found != interfaces.end() && rtnl_addr_get_family(address) == AF_INET6 && usableIpv6(address)) {
            // A temporary (privacy) address changes from day to day; a
            // stable one is shown where there is one.
            const bool stable = !(rtnl_addr_get_flags(address) & IFA_F_TEMPORARY);
            if (found->second.address6.empty() || (stable && !found->second.address6Stable)) {
                found->second.address6 = ipv6Text(rtnl_addr_get_local(address));
                found->second.address6Stable = stable;
                found->second.prefixLength6 = rtnl_addr_get_prefixlen(address);
            }
            continue;
        }
        if (rtnl_addr_get_family(address) != AF_INET || found == interfaces.end() ||
            (rtnl_addr_get_flags(address) & IFA_F_SECONDARY) || !found->second.address.empty()) {
            continue;
        }
        found->second.address = dotted(rtnl_addr_get_local(address));
        found->second.prefixLength = rtnl_addr_get_prefixlen(address);
    }

    if (int rc = rtnl_route_alloc_cache(socket.get(), AF_UNSPEC, 0, &raw); rc < 0) {
        return systemError(rc);
    }
    Cache routes(raw);
    for (nl_object* object = nl_cache_get_first(routes.get()); object; object = nl_cache_get_next(object)) {
        auto* route = reinterpret_cast<rtnl_route*>(object);
        nl_addr* destination = rtnl_route_get_dst(route);
        if (rtnl_route_get_table(route) != RT_TABLE_MAIN || rtnl_route_get_type(route) != RTN_UNICAST) {
            continue;
        }
        const bool isDefault = !destination || nl_addr_get_prefixlen(destination) == 0;
        const unsigned metric = rtnl_route_get_priority(route);
        const bool v6 = rtnl_route_get_family(route) == AF_INET6;
        for (int i = 0; i < rtnl_route_get_nnexthops(route); ++i) {
            rtnl_nexthop* hop = rtnl_route_nexthop_n(route, i);
            const std::string gateway =
                v6 ? ipv6Text(rtnl_route_nh_get_gateway(hop)) : dotted(rtnl_route_nh_get_gateway(hop));
            auto found = interfaces.find(rtnl_route_nh_get_ifindex(hop));
            // The kernel keeps the route of a link that lost its carrier but
            // marks it linkdown: it leads nowhere.
            if (found == interfaces.end() || (rtnl_route_nh_get_flags(hop) & RTNH_F_LINKDOWN)) {
                continue;
            }
            Interface& interface = found->second;
            interface.defaultRoute = interface.defaultRoute || isDefault;
            if (gateway.empty()) {
                continue;
            }
            if (v6) {
                if (isDefault && (interface.gateway6.empty() || metric < interface.gateway6Metric)) {
                    interface.gateway6 = gateway;
                    interface.gateway6Metric = metric;
                }
                continue;
            }
            if (!isDefault) {
                if (interface.routeGateway.empty() || metric < interface.routeGatewayMetric) {
                    interface.routeGateway = gateway;
                    interface.routeGatewayMetric = metric;
                }
                continue;
            }
            if (interface.gateway.empty() || metric < interface.gatewayMetric) {
                interface.gateway = gateway;
                interface.gatewayMetric = metric;
            }
        }
    }
    return 0;
}

// A table that changed while the kernel listed it comes marked as
// interrupted: the list is not to be trusted, and another read usually
// gives a whole one.
int readInterfaces(std::map<int, Interface>& interfaces) {
    constexpr int kReads = 3;
    int error = 0;
    for (int read = 0; read < kReads; ++read) {
        interfaces.clear();
        errno = 0;
        error = readInterfacesOnce(interfaces);
        if (error != EINTR) {
            break;
        }
    }
    return error;
}

// One pass over the kernel's tables answers both questions.
AdapterList readAdapters(bool& alive) {
    AdapterList list;
    std::map<int, Interface> interfaces;
    alive = false;
    list.error = readInterfaces(interfaces);
    if (list.error != 0) {
        return list;
    }
    for (const auto& [index, interface] : interfaces) {
        // An interface that is down or has no carrier keeps its address and
        // routes, but is no network to be on.
        if (!interface.up) {
            continue;
        }
        // An IPv6 address counts where packets can leave by it: with a
        // default route (an IPv6-only network).
        const bool ipv6Network = !interface.address6.empty() && !interface.gateway6.empty();
        alive = alive || !interface.address.empty() || ipv6Network;
        list.adapters.push_back({interface.address.empty() ? "0.0.0.0" : interface.address,
                                 interface.gateway.empty() ? "0.0.0.0" : interface.gateway, interface.name,
                                 interface.index, interface.tunnel, interface.defaultRoute,
                                 interface.routeGateway, interface.gatewayMetric, interface.address6,
                                 interface.gateway6, interface.gateway6Metric, interface.prefixLength,
                                 interface.prefixLength6});
    }
    return list;
}

} // namespace

bool NetlinkNetwork::alive() {
    if (!m_primed) {
        m_answered = readAdapters(m_alive);
    }
    m_primed = false;
    // A question that could not be asked is no answer that the machine is
    // offline: the adapter query that follows reports the failure.
    return m_alive || m_answered->error != 0;
}

AdapterList NetlinkNetwork::adapters() {
    m_primed = false;
    if (m_answered) {
        AdapterList list = std::move(*m_answered);
        m_answered.reset();
        return list;
    }
    bool alive = false;
    return readAdapters(alive);
}

} // namespace corvale::platform

namespace corvale::platform {

Identity Network::gatewayHardwareAddress(int, const std::string&, bool) {
    return {{}, "not asked"};
}

Identity Network::wifiName(int) {
    return {{}, "not asked"};
}

bool Network::waitForGateway(std::chrono::milliseconds) {
    return false;
}

FileDescriptor openNetlinkNotices(unsigned groups) {
    FileDescriptor notices(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = groups;
    if (notices && ::bind(notices.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        notices.reset();
    }
    return notices;
}

FileDescriptor openRouteNotices() {
    return openNetlinkNotices(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR |
                              RTMGRP_IPV6_ROUTE);
}

void drainRouteNotices(int socket) {
    char buffer[8192];
    while (::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
}

RouteNotices readRouteNotices(int socket) {
    RouteNotices read;
    alignas(nlmsghdr) char buffer[16384];
    for (ssize_t got; (got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT)) != 0;) {
        if (got < 0) {
            if (errno == ENOBUFS) {
                read.network = true; // notices were lost: anything may have changed
                continue;
            }
            break;
        }
        int left = static_cast<int>(got);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_type != RTM_NEWNEIGH && message->nlmsg_type != RTM_DELNEIGH) {
                read.network = read.network || message->nlmsg_type >= RTM_BASE;
                continue;
            }
            const auto* entry =
                reinterpret_cast<const ndmsg*>(reinterpret_cast<const char*>(message) + NLMSG_LENGTH(0));
            if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)) ||
                (entry->ndm_family != AF_INET && entry->ndm_family != AF_INET6)) {
                continue;
            }
            int attributesLeft = static_cast<int>(message->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
            for (auto* attribute = reinterpret_cast<rtattr*>(const_cast<ndmsg*>(entry) + 1);
                 RTA_OK(attribute, attributesLeft); attribute = RTA_NEXT(attribute, attributesLeft)) {
                char text[INET6_ADDRSTRLEN] = {};
                const bool v6 = entry->ndm_family == AF_INET6;
                if (attribute->rta_type == NDA_DST && RTA_PAYLOAD(attribute) == (v6 ? 16u : 4u) &&
                    ::inet_ntop(entry->ndm_family, RTA_DATA(attribute), text, sizeof text)) {
                    read.neighbours.emplace_back(text);
                }
            }
        }
    }
    return read;
}

bool NetlinkNetwork::waitForGateway(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    // Listen first, then look: a change between the two is not missed.
    const FileDescriptor notices = openRouteNotices();
    const bool listening = static_cast<bool>(notices);
    bool found = false;
    for (;;) {
        m_answered = readAdapters(m_alive);
        m_primed = true;
        found =
            std::any_of(m_answered->adapters.begin(), m_answered->adapters.end(), [](const Adapter& adapter) {
                return adapter.gateway != "0.0.0.0" ||
                       (!adapter.gateway6.empty() && !adapter.address6.empty());
            });
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (found || !listening || left.count() <= 0) {
            break;
        }
        pollfd wait{notices.get(), POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
            continue; // the time is up (or a signal came): one last look
        }
        drainRouteNotices(notices.get());
    }
    return found;
}

} // namespace corvale::platform
