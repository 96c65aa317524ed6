// What tells one network from another that hands out the same addresses:
// the hardware address of its gateway (the kernel's neighbour table, over
// rtnetlink) and the name of its Wi-Fi network (nl80211, over generic
// netlink).
#include "platform/netlink_handles.h"
#include "platform/network.h"
#include "platform/nl80211_reply.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>
#include <linux/rtnetlink.h>
#include <memory>
#include <netinet/in.h>
#include <netlink/addr.h>
#include <netlink/attr.h>
#include <netlink/cache.h>
#include <netlink/errno.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/route/neighbour.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvale::platform {

namespace {

using Socket = NetlinkSocket;
using Cache = NetlinkCache;
using Address = Owned<nl_addr, nl_addr_put>;
using Message = Owned<nl_msg, nlmsg_free>;

// What the neighbour table says of the gateway: its hardware address, or
// that it has none (yet), or that the kernel gave up asking.
struct Neighbour {
    std::string hardware;
    bool failed = false;
    int error = 0;
};

std::string hexPairs(const unsigned char* bytes, std::size_t count) {
    std::string text;
    char pair[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, i + 1 < count ? "%02x:" : "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

// What an entry says: its hardware address when it holds one to trust (an
// entry still being resolved, or given up, holds none).
Neighbour readEntry(rtnl_neigh* neighbour) {
    Neighbour found;
    const int state = rtnl_neigh_get_state(neighbour);
    nl_addr* link = rtnl_neigh_get_lladdr(neighbour);
    found.failed = state & NUD_FAILED;
    if (!(state & (NUD_INCOMPLETE | NUD_FAILED | NUD_NONE)) && link && nl_addr_get_len(link) == 6) {
        found.hardware = hexPairs(static_cast<const unsigned char*>(nl_addr_get_binary_addr(link)), 6);
    }
    return found;
}

// The gateway's entry on the interface at index or, where the kernel reaches
// the same gateway through another interface (Wi-Fi and a dongle on one
// router) and learnt it there, on that one.
Neighbour lookUpNeighbour(int index, const std::string& gateway) {
    Neighbour found;
    Socket socket(nl_socket_alloc());
    nl_cache* raw = nullptr;
    nl_addr* parsed = nullptr;
    if (!socket || nl_connect(socket.get(), NETLINK_ROUTE) < 0 ||
        rtnl_neigh_alloc_cache(socket.get(), &raw) < 0) {
        found.error = errno != 0 ? errno : EIO;
        return found;
    }
    Cache table(raw);
    // An IPv6 router is its link-local next hop, known by its neighbour
    // entry as an IPv4 gateway is by its ARP entry.
    const int family = gateway.find(':') != std::string::npos ? AF_INET6 : AF_INET;
    if (nl_addr_parse(gateway.c_str(), family, &parsed) < 0) {
        found.error = EINVAL;
        return found;
    }
    Address address(parsed);
    if (rtnl_neigh* own = rtnl_neigh_get(table.get(), index, address.get())) {
        found = readEntry(own);
        rtnl_neigh_put(own);
        if (!found.hardware.empty()) {
            return found;
        }
    }
    for (nl_object* object = nl_cache_get_first(table.get()); object; object = nl_cache_get_next(object)) {
        auto* neighbour = reinterpret_cast<rtnl_neigh*>(object);
        nl_addr* destination = rtnl_neigh_get_dst(neighbour);
        if (rtnl_neigh_get_ifindex(neighbour) == index || !destination ||
            nl_addr_cmp(destination, address.get()) != 0) {
            continue;
        }
        Neighbour elsewhere = readEntry(neighbour);
        if (!elsewhere.hardware.empty()) {
            return elsewhere;
        }
        found.failed = found.failed || elsewhere.failed;
    }
    return found;
}

// Makes the kernel resolve the gateway's hardware address: one empty
// datagram to its discard port. Nothing answers it; the kernel asks for the
// hardware address before it can send it.
bool sendResolvingDatagram(int index, const std::string& gateway) {
    const bool v6 = gateway.find(':') != std::string::npos;
    const FileDescriptor datagram(::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!datagram) {
        return false;
    }
    if (v6) {
        // A link-local address means something only on its link.
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        to.sin6_port = htons(9);
        to.sin6_scope_id = static_cast<std::uint32_t>(index);
        return ::inet_pton(AF_INET6, gateway.c_str(), &to.sin6_addr) == 1 &&
               ::sendto(datagram.get(), "", 0, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
                   0;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    const bool sent =
        ::inet_pton(AF_INET, gateway.c_str(), &to.sin_addr) == 1 &&
        ::sendto(datagram.get(), "", 0, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    return sent;
}

constexpr std::chrono::milliseconds kResolveLimit{1000};

} // namespace

Identity NetlinkNetwork::gatewayHardwareAddress(int index, const std::string& gateway, bool resolve) {
    // Listen first, then look: an answer between the two is not missed.
    const FileDescriptor notices = resolve ? openNetlinkNotices(RTMGRP_NEIGH) : FileDescriptor();
    Neighbour found = lookUpNeighbour(index, gateway);
    if (found.hardware.empty() && found.error == 0 && notices && sendResolvingDatagram(index, gateway)) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + kResolveLimit;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd wait{notices.get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            drainRouteNotices(notices.get());
            found = lookUpNeighbour(index, gateway);
            if (!found.hardware.empty() || found.failed || found.error != 0) {
                break;
            }
        }
        if (found.hardware.empty() && found.error == 0) {
            return {{},
                    "the gateway " + gateway +
                        " did not answer the kernel's question for it within a second"};
        }
    }
    if (found.error != 0) {
        return {{}, "the neighbour table could not be read (error " + std::to_string(found.error) + ")"};
    }
    if (found.hardware.empty()) {
        return {{}, "the kernel's neighbour table holds none for " + gateway};
    }
    return {found.hardware, {}};
}

namespace {

int keepReply(nl_msg* message, void* answer) {
    *static_cast<Identity*>(answer) = wifiNameInReply(message);
    return NL_OK;
}

const char* modeName(std::uint32_t mode) {
    switch (mode) {
    case NL80211_IFTYPE_ADHOC:
        return "ad-hoc";
    case NL80211_IFTYPE_AP:
    case NL80211_IFTYPE_AP_VLAN:
        return "access point";
    case NL80211_IFTYPE_MONITOR:
        return "monitor";
    case NL80211_IFTYPE_MESH_POINT:
        return "mesh";
    case NL80211_IFTYPE_P2P_GO:
        return "peer-to-peer group owner";
    default:
        return "another";
    }
}

} // namespace

Identity wifiNameInReply(nl_msg* reply) {
    nlattr* attributes[NL80211_ATTR_MAX + 1] = {};
    if (genlmsg_parse(nlmsg_hdr(reply), 0, attributes, NL80211_ATTR_MAX, nullptr) < 0) {
        return {{}, "the kernel's answer about the interface could not be read"};
    }
    if (!attributes[NL80211_ATTR_IFTYPE]) {
        return {{}, "no Wi-Fi"};
    }
    const std::uint32_t mode = nla_get_u32(attributes[NL80211_ATTR_IFTYPE]);
    if (mode != NL80211_IFTYPE_STATION && mode != NL80211_IFTYPE_P2P_CLIENT) {
        return {{}, std::string("not a station: the interface is in ") + modeName(mode) + " mode"};
    }
    const nlattr* ssid = attributes[NL80211_ATTR_SSID];
    if (!ssid || nla_len(ssid) == 0) {
        return {{}, "not associated"};
    }
    return {std::string(static_cast<const char*>(nla_data(ssid)), static_cast<std::size_t>(nla_len(ssid))),
            {}};
}

Identity NetlinkNetwork::wifiName(int index) {
    Socket socket(nl_socket_alloc());
    if (!socket || genl_connect(socket.get()) < 0) {
        return {{}, "no Wi-Fi: generic netlink cannot be reached"};
    }
    // A kernel without wireless support knows no nl80211.
    const int family = genl_ctrl_resolve(socket.get(), NL80211_GENL_NAME);
    if (family < 0) {
        return {{}, "no Wi-Fi"};
    }
    Message request(nlmsg_alloc());
    if (!request ||
        !genlmsg_put(request.get(), NL_AUTO_PORT, NL_AUTO_SEQ, family, 0, 0, NL80211_CMD_GET_INTERFACE, 0) ||
        nla_put_u32(request.get(), NL80211_ATTR_IFINDEX, static_cast<std::uint32_t>(index)) < 0) {
        return {{}, "no Wi-Fi: the question could not be made"};
    }
    Identity answer{{}, "no Wi-Fi"};
    nl_socket_modify_cb(socket.get(), NL_CB_VALID, NL_CB_CUSTOM, keepReply, &answer);
    if (nl_send_auto(socket.get(), request.get()) < 0) {
        return {{}, "no Wi-Fi: the question could not be sent"};
    }
    // An interface that is not wireless is answered with ENODEV.
    if (nl_recvmsgs_default(socket.get()) < 0) {
        return {{}, "no Wi-Fi"};
    }
    return answer;
}

} // namespace corvale::platform
