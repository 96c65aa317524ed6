#include "engine/address_discovery.h"
#include "tests/support/test_support.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace brisken;
using corvale::platform::Adapter;
using corvale::platform::AdapterList;

namespace {

class FakeNetwork : public corvale::platform::Network {
public:
    bool isAlive = true;
    AdapterList list;
    int queries = 0;

    bool alive() override { return isAlive; }
    AdapterList adapters() override {
        ++queries;
        return list;
    }
};

class Discovery : public ::testing::Test {
protected:
    std::string discover(std::vector<Adapter> adapters) {
        network.list.adapters = std::move(adapters);
        return discovery.discoverIP();
    }

    FakeNetwork network;
    testsupport::FakeDialogs dialogs;
    int eventRounds = 0;
    NetworkDiscovery discovery{network, dialogs, [this] { ++eventRounds; }};
};

TEST_F(Discovery, NoLiveConnectionMeansDisconnectedWithoutAskingForAdapters) {
    network.isAlive = false;
    EXPECT_EQ(discovery.networkAlive(), "The system has no connection or an error occurred");
    EXPECT_EQ(discover({{"192.168.1.20", "192.168.1.1"}}), "Disconnected");
    EXPECT_EQ(network.queries, 0);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Discovery, FirstAdapterWithARealGatewayDecides) {
    EXPECT_EQ(discover({{"10.9.9.9", ""},
                        {"172.16.0.2", "0.0.0.0"},
                        {"192.168.1.20", "192.168.1.1"},
                        {"10.0.0.7", "10.0.0.1"}}),
              "IP Address:192.168.1.20");
    EXPECT_EQ(eventRounds, 2) << "events run once per step to the next adapter";
    EXPECT_EQ(discover({{"10.0.0.7", "10.0.0.1"}, {"192.168.1.20", "192.168.1.1"}}), "IP Address:10.0.0.7");
    EXPECT_EQ(eventRounds, 2);
}

TEST_F(Discovery, WithoutARealGatewayTheLastAdapterIsUsed) {
    EXPECT_EQ(discover({{"10.1.2.3", "0.0.0.0"}}), "IP Address:10.1.2.3");
    EXPECT_EQ(discover({{"172.16.0.2", ""}, {"10.1.2.3", "0.0.0.0"}}), "IP Address:10.1.2.3");
    EXPECT_EQ(discover({{"10.1.2.3", "0.0.0.0"}, {"172.16.0.2", ""}}), "")
        << "an empty last gateway gives nothing";
    EXPECT_EQ(discover({{"10.1.2.3", ""}}), "");
}

TEST_F(Discovery, AnAdapterWithoutAddressIsReportedAsZeros) {
    EXPECT_EQ(discover({{"0.0.0.0", "192.168.1.1"}}), "IP Address:0.0.0.0");
    EXPECT_EQ(discover({{"", "192.168.1.1"}}), "");
}

TEST_F(Discovery, AddressTextsAreCleanedOfEverythingButDigitsAndDots) {
    EXPECT_EQ(addressChars(std::string("192.168.1.20\0\0\0", 15)), "192.168.1.20");
    EXPECT_EQ(addressChars(" 10 .0.0.1x\t"), "10.0.0.1");
    EXPECT_EQ(addressChars(std::string(16, '\0')), "");
    EXPECT_EQ(discover({{std::string("10.1.2.3\0\0", 10), std::string("\0 \0", 3)},
                        {std::string("192.168.1.20\0\0\0\0", 16), std::string(" 192.168.1.1\0", 13)}}),
              "IP Address:192.168.1.20");
}

TEST_F(Discovery, QueryFailuresAreShownOnceAndGiveNoAddress) {
    EXPECT_EQ(discover({}), "");
    network.list.error = 13;
    EXPECT_EQ(discover({{"10.1.2.3", "10.1.2.1"}}), "");

    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "GetAdaptersInfo sizing failed with error 232");
    EXPECT_EQ(dialogs.messages[1].text, "GetAdaptersInfo failed with error 13");
    for (const auto& message : dialogs.messages) {
        EXPECT_EQ(message.caption, "Brisken");
        EXPECT_EQ(message.buttons, corvale::MessageButtons::Ok);
    }
}

// The kernel's tables cannot be read at all (here: no descriptor left for the
// netlink socket): that is a failure to report, not a machine without network.
TEST(KernelNetwork, SocketThatCannotBeMadeIsReportedNotTakenForDisconnected) {
    corvale::platform::NetlinkNetwork network;
    testsupport::FakeDialogs dialogs;
    NetworkDiscovery discovery(network, dialogs);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int highest = dup(0);
    ASSERT_GE(highest, 0);
    close(highest);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(highest); // the lowest free one: no new one can be made
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const std::string result = discovery.discoverIP();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_EQ(result, "");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "GetAdaptersInfo failed with error " + std::to_string(EMFILE));
    EXPECT_EQ(discovery.lastFinding(),
              "disconnected: the network could not be read: " + std::string(strerror(EMFILE)) + " (error " +
                  std::to_string(EMFILE) + ")");
}

} // namespace
