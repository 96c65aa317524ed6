#include "platform/network.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <linux/fib_rules.h>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <map>
#include <memory>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

namespace corvale::platform {

namespace {

struct Interface {
    int index = 0;
    std::string name;
    bool up = false;
    bool tunnel = false;
    std::string address;
    std::string gateway;
    unsigned gatewayMetric = 0;
    bool defaultRoute = false;
    bool multipath = false;
    std::string routeGateway;
    unsigned routeGatewayMetric = 0;
    int prefixLength = 0;
    std::string address6;
    bool address6Stable = false;
    int prefixLength6 = 0;
    std::string gateway6;
    unsigned gateway6Metric = 0;
    RouteAnswer routed = RouteAnswer::None;
    RouteAnswer routed6 = RouteAnswer::None;
};

// The bytes of an attribute's value.
struct Payload {
    const char* data = nullptr;
    std::size_t size = 0;
};
using Attributes = std::map<unsigned short, Payload>;

std::string addressText(int family, const void* bytes, std::size_t size) {
    if (size != (family == AF_INET6 ? 16U : 4U)) {
        return {};
    }
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family, bytes, text, sizeof text);
    return text;
}

// Hands each attribute laid out in bytes to each: its type and its value.
template <typename Each> void forEachAttribute(Payload bytes, const Each& each) {
    while (bytes.size >= sizeof(rtattr)) {
        rtattr header{};
        std::memcpy(&header, bytes.data, sizeof header);
        if (header.rta_len < sizeof(rtattr) || header.rta_len > bytes.size) {
            return;
        }
        each(header.rta_type, Payload{bytes.data + RTA_LENGTH(0), header.rta_len - RTA_LENGTH(0)});
        const std::size_t step = std::min<std::size_t>(RTA_ALIGN(header.rta_len), bytes.size);
        bytes = {bytes.data + step, bytes.size - step};
    }
}

// The fixed body of a message, which holds at least one.
template <typename Body> Body bodyOf(const nlmsghdr& message) {
    Body body{};
    std::memcpy(&body, reinterpret_cast<const char*>(&message) + NLMSG_LENGTH(0), sizeof body);
    return body;
}

// The attributes of a message whose fixed body is of type Body.
template <typename Body> Attributes attributesOf(const nlmsghdr& message) {
    Attributes found;
    if (message.nlmsg_len >= NLMSG_SPACE(sizeof(Body))) {
        forEachAttribute(Payload{reinterpret_cast<const char*>(&message) + NLMSG_SPACE(sizeof(Body)),
                                 message.nlmsg_len - NLMSG_SPACE(sizeof(Body))},
                         [&](unsigned short type, Payload value) { found.emplace(type, value); });
    }
    return found;
}

template <typename Value>
Value attributeValue(const Attributes& attributes, unsigned short type, Value otherwise) {
    const auto found = attributes.find(type);
    if (found == attributes.end() || found->second.size < sizeof(Value)) {
        return otherwise;
    }
    Value value{};
    std::memcpy(&value, found->second.data, sizeof value);
    return value;
}

std::string attributeAddress(const Attributes& attributes, unsigned short type, int family) {
    const auto found = attributes.find(type);
    return found == attributes.end() ? std::string()
                                     : addressText(family, found->second.data, found->second.size);
}

// An attribute of a request: its type and a value of up to 16 bytes.
class RequestAttribute {
public:
    RequestAttribute(unsigned short type, const void* value, std::size_t size) {
        rtattr header{};
        header.rta_type = type;
        header.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
        std::memcpy(m_bytes.data(), &header, sizeof header);
        std::memcpy(m_bytes.data() + RTA_LENGTH(0), value, size);
    }
    const unsigned char* data() const { return m_bytes.data(); }
    std::size_t size() const {
        rtattr header{};
        std::memcpy(&header, m_bytes.data(), sizeof header);
        return header.rta_len;
    }

private:
    alignas(rtattr) std::array<unsigned char, RTA_LENGTH(16)> m_bytes{};
};

// One rtnetlink socket, asked one question at a time.
class RouteSocket {
public:
    RouteSocket() : m_socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
        // The kernel filters a dump by the table asked for (Linux 4.20 and
        // later); an older one ignores it, and the rows are filtered here.
        const int on = 1;
        if (m_socket) {
            ::setsockopt(m_socket.get(), SOL_NETLINK, NETLINK_GET_STRICT_CHK, &on, sizeof on);
        }
    }
    bool opened() const { return static_cast<bool>(m_socket); }

    // Sends a request of type (its flags, its fixed body and attributes)
    // and hands each message of the answer to each. Returns 0 or the
    // system's error number: EINTR for a dump that a change interrupted.
    template <typename Body>
    int ask(unsigned short type, unsigned short flags, const Body& body,
            const std::vector<const RequestAttribute*>& attributes,
            const std::function<void(const nlmsghdr&)>& each) {
        alignas(nlmsghdr) std::array<char, 256> request{};
        nlmsghdr header{};
        header.nlmsg_len = NLMSG_LENGTH(sizeof(Body));
        header.nlmsg_type = type;
        header.nlmsg_flags = static_cast<unsigned short>(NLM_F_REQUEST | flags);
        header.nlmsg_seq = ++m_sequence;
        std::memcpy(request.data() + NLMSG_LENGTH(0), &body, sizeof body);
        for (const RequestAttribute* attribute : attributes) {
            const unsigned at = NLMSG_ALIGN(header.nlmsg_len);
            std::memcpy(request.data() + at, attribute->data(), attribute->size());
            header.nlmsg_len = at + RTA_ALIGN(static_cast<unsigned>(attribute->size()));
        }
        std::memcpy(request.data(), &header, sizeof header);
        if (::send(m_socket.get(), request.data(), header.nlmsg_len, 0) < 0) {
            return errno;
        }
        int error = 0;
        for (;;) {
            const ssize_t got = ::recv(m_socket.get(), m_buffer.get(), kBufferSize, 0);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                return errno;
            }
            int left = static_cast<int>(got);
            for (auto* message = reinterpret_cast<const nlmsghdr*>(m_buffer.get()); NLMSG_OK(message, left);
                 message = NLMSG_NEXT(message, left)) {
                if (message->nlmsg_seq != m_sequence) {
                    continue;
                }
                if (message->nlmsg_flags & NLM_F_DUMP_INTR) {
                    error = EINTR;
                }
                if (message->nlmsg_type == NLMSG_DONE) {
                    return error;
                }
                if (message->nlmsg_type == NLMSG_ERROR) {
                    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
                        return EIO;
                    }
                    return -bodyOf<nlmsgerr>(*message).error;
                }
                each(*message);
                if (!(message->nlmsg_flags & NLM_F_MULTI)) {
                    return error;
                }
            }
        }
    }

private:
    FileDescriptor m_socket;
    unsigned m_sequence = 0;
    // Room for the largest answer the kernel sends in one piece; left as
    // it comes (not cleared), so that only what an answer fills is touched.
    static constexpr std::size_t kBufferSize = 65536;
    std::unique_ptr<char[]> m_buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
};

// A global address of each family, as `ip route get` is asked: the kernel's
// answer for it is where a packet towards the outside world goes.
constexpr std::array<unsigned char, 4> kOutside4 = {8, 8, 8, 8};
constexpr std::array<unsigned char, 16> kOutside6 = {0x20, 0x01, 0x48, 0x60, 0x48, 0x60, 0,    0,
                                                     0,    0,    0,    0,    0,    0,    0x88, 0x88};

// The kernel's answer for such a packet: the interface it leaves by and its
// next hop.
struct Lookup {
    int index = 0;
    std::string gateway;
};
std::optional<Lookup> lookUpRoute(RouteSocket& socket, int family, std::optional<std::uint32_t> mark) {
    rtmsg question{};
    question.rtm_family = static_cast<unsigned char>(family);
    question.rtm_dst_len = family == AF_INET6 ? 128 : 32;
    const RequestAttribute destination(RTA_DST, family == AF_INET6 ? kOutside6.data() : kOutside4.data(),
                                       family == AF_INET6 ? kOutside6.size() : kOutside4.size());
    const std::uint32_t markValue = mark.value_or(0);
    const RequestAttribute markAttribute(RTA_MARK, &markValue, sizeof markValue);
    std::vector<const RequestAttribute*> attributes = {&destination};
    if (mark) {
        attributes.push_back(&markAttribute);
    }
    std::optional<Lookup> found;
    socket.ask(RTM_GETROUTE, 0, question, attributes, [&](const nlmsghdr& message) {
        if (message.nlmsg_type == RTM_NEWROUTE && message.nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg)) &&
            bodyOf<rtmsg>(message).rtm_type == RTN_UNICAST) {
            const Attributes answer = attributesOf<rtmsg>(message);
            found = Lookup{attributeValue<int>(answer, RTA_OIF, 0),
                           attributeAddress(answer, RTA_GATEWAY, family)};
        }
    });
    return found;
}

// The firewall marks that the policy rules of family test: a VPN that
// routes by policy sends its own packets with one of them.
std::vector<std::uint32_t> ruleMarks(RouteSocket& socket, int family) {
    std::vector<std::uint32_t> marks;
    fib_rule_hdr question{};
    question.family = static_cast<unsigned char>(family);
    socket.ask(RTM_GETRULE, NLM_F_DUMP, question, {}, [&](const nlmsghdr& message) {
        const Attributes attributes = attributesOf<fib_rule_hdr>(message);
        if (const auto mark = attributeValue<std::uint32_t>(attributes, FRA_FWMARK, 0);
            mark != 0 && std::find(marks.begin(), marks.end(), mark) == marks.end()) {
            marks.push_back(mark);
        }
    });
    return marks;
}

void readLink(const nlmsghdr& message, std::map<int, Interface>& interfaces) {
    if (message.nlmsg_type != RTM_NEWLINK || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return;
    }
    const auto link = bodyOf<ifinfomsg>(message);
    const unsigned flags = link.ifi_flags;
    if (flags & IFF_LOOPBACK) {
        return;
    }
    Interface& interface = interfaces[link.ifi_index];
    interface.index = link.ifi_index;
    interface.up = (flags & IFF_UP) && (flags & IFF_RUNNING);
    interface.tunnel = (flags & (IFF_POINTOPOINT | IFF_NOARP)) != 0;
    const Attributes attributes = attributesOf<ifinfomsg>(message);
    if (const auto name = attributes.find(IFLA_IFNAME); name != attributes.end()) {
        interface.name.assign(name->second.data, strnlen(name->second.data, name->second.size));
    }
}

void readAddress(const nlmsghdr& message, std::map<int, Interface>& interfaces) {
    if (message.nlmsg_type != RTM_NEWADDR || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) {
        return;
    }
    const auto header = bodyOf<ifaddrmsg>(message);
    auto found = interfaces.find(static_cast<int>(header.ifa_index));
    if (found == interfaces.end()) {
        return;
    }
    Interface& interface = found->second;
    const Attributes attributes = attributesOf<ifaddrmsg>(message);
    const unsigned flags = attributeValue<std::uint32_t>(attributes, IFA_FLAGS, header.ifa_flags);
    if (header.ifa_family == AF_INET6) {
        // A global or unique-local address that the interface can use now:
        // not one still being checked for duplicates, nor one that failed
        // the check, nor one that is deprecated.
        if (header.ifa_scope != RT_SCOPE_UNIVERSE ||
            (flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED | IFA_F_DEPRECATED))) {
            return;
        }
        // A temporary (privacy) address changes from day to day; a stable
        // one is shown where there is one.
        const bool stable = !(flags & IFA_F_TEMPORARY);
        if (interface.address6.empty() || (stable && !interface.address6Stable)) {
            interface.address6 =
                attributeAddress(attributes, attributes.count(IFA_LOCAL) ? IFA_LOCAL : IFA_ADDRESS, AF_INET6);
            interface.address6Stable = stable;
            interface.prefixLength6 = header.ifa_prefixlen;
        }
        return;
    }
    if (header.ifa_family != AF_INET || (flags & IFA_F_SECONDARY) || !interface.address.empty()) {
        return;
    }
    interface.address = attributeAddress(attributes, IFA_LOCAL, AF_INET);
    interface.prefixLength = header.ifa_prefixlen;
}

// A route's next hop through interface: of a default route or another, one
// of paths hops.
struct Hop {
    std::string gateway;
    bool isDefault = false;
    unsigned metric = 0;
    bool v6 = false;
    std::size_t paths = 1;
};

void readHop(Interface& interface, const Hop& hop) {
    interface.defaultRoute = interface.defaultRoute || hop.isDefault;
    if (hop.gateway.empty()) {
        return;
    }
    if (hop.v6) {
        if (hop.isDefault && (interface.gateway6.empty() || hop.metric < interface.gateway6Metric)) {
            interface.gateway6 = hop.gateway;
            interface.gateway6Metric = hop.metric;
        }
        return;
    }
    if (!hop.isDefault) {
        if (interface.routeGateway.empty() || hop.metric < interface.routeGatewayMetric) {
            interface.routeGateway = hop.gateway;
            interface.routeGatewayMetric = hop.metric;
        }
        return;
    }
    if (interface.gateway.empty() || hop.metric < interface.gatewayMetric) {
        interface.gateway = hop.gateway;
        interface.gatewayMetric = hop.metric;
        interface.multipath = hop.paths > 1;
    }
}

// The next hops of a multipath route: each one's interface, flags and
// gateway.
std::vector<std::tuple<int, unsigned, std::string>> pathsOf(Payload multipath, int family) {
    std::vector<std::tuple<int, unsigned, std::string>> paths;
    while (multipath.size >= sizeof(rtnexthop)) {
        rtnexthop next{};
        std::memcpy(&next, multipath.data, sizeof next);
        if (next.rtnh_len < sizeof(rtnexthop) || next.rtnh_len > multipath.size) {
            break;
        }
        std::string gateway;
        forEachAttribute(Payload{multipath.data + RTNH_LENGTH(0), next.rtnh_len - RTNH_LENGTH(0)},
                         [&](unsigned short type, Payload value) {
                             if (type == RTA_GATEWAY) {
                                 gateway = addressText(family, value.data, value.size);
                             }
                         });
        paths.emplace_back(next.rtnh_ifindex, next.rtnh_flags, gateway);
        const std::size_t step = std::min<std::size_t>(RTNH_ALIGN(next.rtnh_len), multipath.size);
        multipath = {multipath.data + step, multipath.size - step};
    }
    return paths;
}

void readRoute(const nlmsghdr& message, std::map<int, Interface>& interfaces) {
    if (message.nlmsg_type != RTM_NEWROUTE || message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
        return;
    }
    const auto route = bodyOf<rtmsg>(message);
    const Attributes attributes = attributesOf<rtmsg>(message);
    const auto table = attributeValue<std::uint32_t>(attributes, RTA_TABLE, route.rtm_table);
    if (table != RT_TABLE_MAIN || route.rtm_type != RTN_UNICAST) {
        return;
    }
    const int family = route.rtm_family;
    Hop hop{{},
            route.rtm_dst_len == 0,
            attributeValue<std::uint32_t>(attributes, RTA_PRIORITY, 0),
            family == AF_INET6};
    std::vector<std::tuple<int, unsigned, std::string>> paths;
    if (const auto multipath = attributes.find(RTA_MULTIPATH); multipath != attributes.end()) {
        paths = pathsOf(multipath->second, family);
    } else {
        paths.emplace_back(attributeValue<int>(attributes, RTA_OIF, 0), route.rtm_flags,
                           attributeAddress(attributes, RTA_GATEWAY, family));
    }
    hop.paths = paths.size();
    for (const auto& [index, flags, gateway] : paths) {
        // The kernel keeps the route of a link that lost its carrier but
        // marks it linkdown: it leads nowhere.
        auto found = interfaces.find(index);
        if (found != interfaces.end() && !(flags & RTNH_F_LINKDOWN)) {
            hop.gateway = gateway;
            readHop(found->second, hop);
        }
    }
}

// Where the kernel sends a packet of family towards the outside world, and,
// when that is a tunnel, where the tunnel's own packets go: by the mark of a
// policy rule, as a VPN that routes by policy sends them.
void readRoutedInterface(RouteSocket& socket, int family, std::map<int, Interface>& interfaces) {
    const bool v6 = family == AF_INET6;
    auto mark = [&](Interface& interface, RouteAnswer answer, const std::string& gateway) {
        (v6 ? interface.routed6 : interface.routed) = answer;
        if (!gateway.empty()) {
            (v6 ? interface.gateway6 : interface.gateway) = gateway;
        }
    };
    const std::optional<Lookup> routed = lookUpRoute(socket, family, std::nullopt);
    const auto found = routed ? interfaces.find(routed->index) : interfaces.end();
    if (found == interfaces.end()) {
        return;
    }
    mark(found->second, RouteAnswer::Routed, routed->gateway);
    if (!found->second.tunnel) {
        return;
    }
    for (const std::uint32_t each : ruleMarks(socket, family)) {
        const std::optional<Lookup> beneath = lookUpRoute(socket, family, each);
        const auto under = beneath ? interfaces.find(beneath->index) : interfaces.end();
        if (under != interfaces.end() && !under->second.tunnel) {
            mark(under->second, RouteAnswer::BeneathTheTunnel, beneath->gateway);
            return;
        }
    }
}

// Whether the kernel's IPv4 lookup alone decides the choice: it answers an
// interface that is no tunnel and has an address and a gateway, and no
// tunnel is up (whose default route, or own address, could count).
bool lookupDecides(RouteSocket& socket, std::map<int, Interface>& interfaces) {
    for (const auto& [index, interface] : interfaces) {
        if (interface.tunnel) {
            return false;
        }
    }
    readRoutedInterface(socket, AF_INET, interfaces);
    for (const auto& [index, interface] : interfaces) {
        if (interface.routed == RouteAnswer::Routed) {
            return !interface.address.empty() && !interface.gateway.empty();
        }
    }
    return false;
}

// Reads interfaces, addresses and routes; fills interfaces by index, or
// returns a system error number.
int readInterfacesOnce(std::map<int, Interface>& interfaces, NetlinkNetwork::Detail detail) {
    RouteSocket socket;
    if (!socket.opened()) {
        return errno;
    }
    int error = socket.ask(RTM_GETLINK, NLM_F_DUMP, ifinfomsg{}, {},
                           [&](const nlmsghdr& message) { readLink(message, interfaces); });
    if (error == 0) {
        error = socket.ask(RTM_GETADDR, NLM_F_DUMP, ifaddrmsg{}, {},
                           [&](const nlmsghdr& message) { readAddress(message, interfaces); });
    }
    // Otherwise everything is read as below, the lookup again after the
    // main table, as for every caller.
    if (error == 0 && detail == NetlinkNetwork::Detail::ChoiceOnly && lookupDecides(socket, interfaces)) {
        return 0;
    }
    for (const int family : {AF_INET, AF_INET6}) {
        rtmsg mainTable{};
        mainTable.rtm_family = static_cast<unsigned char>(family);
        mainTable.rtm_table = RT_TABLE_MAIN;
        if (error == 0) {
            error = socket.ask(RTM_GETROUTE, NLM_F_DUMP, mainTable, {},
                               [&](const nlmsghdr& message) { readRoute(message, interfaces); });
            // A kernel built without the family has no routes of it.
            error = error == EAFNOSUPPORT ? 0 : error;
        }
        if (error == 0) {
            readRoutedInterface(socket, family, interfaces);
        }
    }
    return error;
}

// A table that changed while the kernel listed it comes marked as
// interrupted: the list is not to be trusted, and another read usually
// gives a whole one.
int readInterfaces(std::map<int, Interface>& interfaces, NetlinkNetwork::Detail detail) {
    constexpr int kReads = 3;
    int error = 0;
    for (int read = 0; read < kReads; ++read) {
        interfaces.clear();
        errno = 0;
        error = readInterfacesOnce(interfaces, detail);
        if (error != EINTR) {
            break;
        }
    }
    return error;
}

// One pass over the kernel's tables answers both questions.
AdapterList readAdapters(bool& alive, NetlinkNetwork::Detail detail) {
    AdapterList list;
    std::map<int, Interface> interfaces;
    alive = false;
    list.error = readInterfaces(interfaces, detail);
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
        list.adapters.push_back(
            {interface.address.empty() ? "0.0.0.0" : interface.address,
             interface.gateway.empty() ? "0.0.0.0" : interface.gateway, interface.name, interface.index,
             interface.tunnel, interface.defaultRoute, interface.routeGateway, interface.gatewayMetric,
             interface.address6, interface.gateway6, interface.gateway6Metric, interface.prefixLength,
             interface.prefixLength6, interface.routed, interface.routed6, interface.multipath});
    }
    return list;
}

} // namespace

bool NetlinkNetwork::alive() {
    if (!m_primed) {
        m_answered = readAdapters(m_alive, m_detail);
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
    return readAdapters(alive, m_detail);
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
    // The policy rules too: a VPN may come up by a rule alone. (The IPv6
    // rules' group has no RTMGRP_ name: its bit is the group's number less
    // one.)
    constexpr unsigned kIpv6Rules = 1U << (RTNLGRP_IPV6_RULE - 1);
    return openNetlinkNotices(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR |
                              RTMGRP_IPV6_ROUTE | RTMGRP_IPV4_RULE | kIpv6Rules);
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
        m_answered = readAdapters(m_alive, m_detail);
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
