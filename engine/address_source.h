#pragma once

#include <string>

namespace brisken {

// Where the engine learns the machine's address. The answer is one text:
// "IP Address:" followed by the dotted address, "Disconnected", or empty.
class AddressDiscovery {
public:
    virtual ~AddressDiscovery() = default;
    virtual std::string discoverIP() = 0;
};

// Reads the interfaces with getifaddrs and the default routes from
// /proc/net/route: the first interface (in index order) with a default gateway
// decides, else the last one listed.
class ProcAddressDiscovery : public AddressDiscovery {
public:
    std::string discoverIP() override;
};

} // namespace brisken
