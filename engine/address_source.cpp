#include "engine/address_source.h"

#include <arpa/inet.h>
#include <climits>
#include <fstream>
#include <ifaddrs.h>
#include <map>
#include <net/if.h>
#include <netinet/in.h>
#include <sstream>
#include <vector>

namespace brisken {

namespace {

struct Interface {
    unsigned index = 0;
    std::string name;
    std::string address = "0.0.0.0";
    std::string gateway = "0.0.0.0";
};

// Default gateways by interface name, the lowest metric of each.
std::map<std::string, std::string> defaultGateways() {
    std::map<std::string, std::pair<long, std::string>> best;
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line); // header
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refs, use, metric, mask;
        fields >> name >> destination >> gateway >> flags >> refs >> use >> metric >> mask;
        if (destination != "00000000" || mask != "00000000") {
            continue;
        }
        const long metricValue = std::stol(metric);
        in_addr address{};
        address.s_addr = static_cast<in_addr_t>(std::stoul(gateway, nullptr, 16));
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address, text, sizeof text);
        auto found = best.find(name);
        if (found == best.end() || metricValue < found->second.first) {
            best[name] = {metricValue, text};
        }
    }
    std::map<std::string, std::string> gateways;
    for (const auto& [name, entry] : best) {
        gateways[name] = entry.second;
    }
    return gateways;
}

} // namespace

std::string ProcAddressDiscovery::discoverIP() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    std::map<unsigned, Interface> interfaces;
    bool alive = false;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if ((entry->ifa_flags & IFF_LOOPBACK) || !entry->ifa_name) {
            continue;
        }
        const unsigned index = if_nametoindex(entry->ifa_name);
        Interface& interface = interfaces[index];
        interface.index = index;
        interface.name = entry->ifa_name;
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET && interface.address == "0.0.0.0") {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof text);
            interface.address = text;
            alive = alive || ((entry->ifa_flags & IFF_UP) && (entry->ifa_flags & IFF_RUNNING));
        }
    }
    freeifaddrs(list);
    if (!alive) {
        return "Disconnected";
    }
    if (interfaces.empty()) {
        return {};
    }
    const auto gateways = defaultGateways();
    const Interface* chosen = nullptr;
    for (auto& [index, interface] : interfaces) {
        if (auto found = gateways.find(interface.name); found != gateways.end()) {
            interface.gateway = found->second;
        }
        chosen = &interface;
        if (interface.gateway != "0.0.0.0") {
            break;
        }
    }
    return "IP Address:" + chosen->address;
}

} // namespace brisken
