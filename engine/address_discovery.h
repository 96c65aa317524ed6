#pragma once

#include "platform/dialogs.h"
#include "platform/network.h"

#include <functional>
#include <optional>
#include <string>

namespace brisken {

// Where the engine learns the machine's address. The answer is one text:
// "IP Address:" followed by the dotted address, "Disconnected", or empty.
class AddressDiscovery {
public:
    virtual ~AddressDiscovery() = default;
    virtual std::string discoverIP() = 0;
    // What the last discoverIP() found, in words: the adapter chosen with its
    // address and gateway, or why the machine counts as disconnected.
    virtual std::string lastFinding() const { return {}; }
};

inline constexpr const char* kNoConnection = "The system has no connection or an error occurred";

// The characters of text that are digits or dots, in their order.
std::string addressChars(const std::string& text);

// The address of the first interface with a real default gateway, or of the
// last interface when none has one.
class NetworkDiscovery : public AddressDiscovery {
public:
    // letEventsRun is called between interfaces, to keep windows responsive.
    NetworkDiscovery(corvale::platform::Network& network, corvale::Dialogs& dialogs,
                     std::function<void()> letEventsRun = {});

    // kNoConnection, or a description of the connection.
    std::string networkAlive();
    std::string discoverIP() override;
    std::string lastFinding() const override { return m_finding; }
    // The adapter the last discoverIP() took, if it took one.
    const std::optional<corvale::platform::Adapter>& lastAdapter() const { return m_adapter; }

private:
    void show(const std::string& text);

    corvale::platform::Network& m_network;
    corvale::Dialogs& m_dialogs;
    std::function<void()> m_letEventsRun;
    std::string m_finding;
    std::optional<corvale::platform::Adapter> m_adapter;
};

} // namespace brisken
