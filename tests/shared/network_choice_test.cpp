#include "platform/nl80211_reply.h"
#include "shared/network_choice.h"
#include "tests/support/test_support.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <linux/nl80211.h>
#include <linux/rtnetlink.h>
#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvale;
using corvale::platform::Adapter;
using corvale::platform::AdapterList;

namespace {

using testsupport::FakeNetwork;

class Discovery : public ::testing::Test {
protected:
    std::string discover(std::vector<Adapter> adapters) {
        network.list.adapters = std::move(adapters);
        return discovery.discoverIP().address;
    }

    FakeNetwork network;
    testsupport::FakeDialogs dialogs;
    int eventRounds = 0;
    NetworkDiscovery discovery{network, dialogs, "Brisken", [this] { ++eventRounds; }};
};

TEST_F(Discovery, NoLiveConnectionMeansDisconnectedWithoutAskingForAdapters) {
    network.isAlive = false;
    EXPECT_EQ(discovery.networkAlive(), "The system has no connection or an error occurred");
    EXPECT_EQ(discover({{"192.168.1.20", "192.168.1.1"}}), "");
    EXPECT_EQ(network.queries, 0);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Discovery, FirstAdapterWithARealGatewayDecides) {
    EXPECT_EQ(discover({{"10.9.9.9", ""},
                        {"172.16.0.2", "0.0.0.0"},
                        {"192.168.1.20", "192.168.1.1"},
                        {"10.0.0.7", "10.0.0.1"}}),
              "192.168.1.20");
    EXPECT_EQ(eventRounds, 2) << "events run once per step to the next adapter";
    EXPECT_EQ(discover({{"10.0.0.7", "10.0.0.1"}, {"192.168.1.20", "192.168.1.1"}}), "10.0.0.7");
    EXPECT_EQ(eventRounds, 2);
}

TEST_F(Discovery, WithoutARealGatewayTheLastAdapterIsUsed) {
    EXPECT_EQ(discover({{"10.1.2.3", "0.0.0.0"}}), "10.1.2.3");
    EXPECT_EQ(discover({{"172.16.0.2", ""}, {"10.1.2.3", "0.0.0.0"}}), "10.1.2.3");
    EXPECT_EQ(discover({{"10.1.2.3", "0.0.0.0"}, {"172.16.0.2", ""}}), "")
        << "an empty last gateway gives nothing";
    EXPECT_EQ(discover({{"10.1.2.3", ""}}), "");
}

TEST_F(Discovery, AnAdapterWithoutAddressIsReportedAsZeros) {
    EXPECT_EQ(discover({{"0.0.0.0", "192.168.1.1"}}), "0.0.0.0");
    EXPECT_EQ(discover({{"", "192.168.1.1"}}), "");
}

TEST_F(Discovery, AddressTextsAreCleanedOfEverythingButDigitsAndDots) {
    EXPECT_EQ(addressChars(std::string("192.168.1.20\0\0\0", 15)), "192.168.1.20");
    EXPECT_EQ(addressChars(" 10 .0.0.1x\t"), "10.0.0.1");
    EXPECT_EQ(addressChars(std::string(16, '\0')), "");
    EXPECT_EQ(discover({{std::string("10.1.2.3\0\0", 10), std::string("\0 \0", 3)},
                        {std::string("192.168.1.20\0\0\0\0", 16), std::string(" 192.168.1.1\0", 13)}}),
              "192.168.1.20");
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
    NetworkDiscovery discovery(network, dialogs, "Brisken");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int highest = dup(0);
    ASSERT_GE(highest, 0);
    close(highest);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(highest); // the lowest free one: no new one can be made
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const std::string result = discovery.discoverIP().address;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_EQ(result, "");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "GetAdaptersInfo failed with error " + std::to_string(EMFILE));
    EXPECT_EQ(discovery.lastFinding(),
              "disconnected: the network could not be read: " + std::string(strerror(EMFILE)) + " (error " +
                  std::to_string(EMFILE) + ")");
}

// The watcher wakes for a change of link, address or route, and for the
// gateway's own neighbour entry only: another host's entry (an ARP flood on
// the LAN) is told apart. In a network namespace of the test's own.
TEST(KernelNetwork, NoticesTellANeighboursAddressFromAChangeOfTheNetwork) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "a network namespace of its own needs root";
    }
    const pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0 || std::system("ip link add cva type veth peer name cvb") !=
                                              0) { // left down: no carrier notice comes later
            _exit(77);
        }
        const corvale::platform::FileDescriptor notices = corvale::platform::openRouteNotices();
        const int group = RTNLGRP_NEIGH;
        setsockopt(notices.get(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group);
        int failures = 0;
        std::system("ip neigh add 10.9.9.77 lladdr 02:00:00:00:00:01 dev cva");
        auto read = corvale::platform::readRouteNotices(notices.get());
        failures += read.network || read.neighbours != std::vector<std::string>{"10.9.9.77"};
        std::system("ip addr add 10.9.9.1/24 dev cva");
        read = corvale::platform::readRouteNotices(notices.get());
        failures += !read.network;
        _exit(failures == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no network namespace could be made";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "a neighbour's notice was taken for a change of the network, or the other way round";
}

// The network's identity decides before its address, the gateway's hardware
// address first; a database without such entries asks for neither.
TEST(IdentityChoice, MostSpecificIdentityOnFileWinsAndOnlyWhatEntriesNeedIsAsked) {
    testsupport::TempDir dir;
    testsupport::DatabaseFile db(dir / "corvale.mdb");
    FakeNetwork network;
    network.list.adapters = {{"192.168.1.20", "192.168.1.1", "wlan0", 3}};
    network.hardware = {"00:1a:2b:3c:4d:5e", {}};
    network.wifi = {"Office WLAN", {}};
    testsupport::FakeDialogs dialogs;
    NetworkDiscovery discovery(network, dialogs, "Brisken");
    auto choose = [&](IdentityLookups lookups = {}) {
        network.asked.clear();
        return chooseList(db.database(), discovery.discoverIP(), discovery.identity(), lookups);
    };

    // Any other network's entry comes after every other key, the first number
    // (run unchecked) included.
    db.addAddress("*");
    ListChoice choice = choose();
    EXPECT_EQ(choice.key, "*");
    EXPECT_EQ(choice.match, ListChoice::Match::AnyOther);
    db.addAddress("192");
    EXPECT_EQ(choose().key, "192");
    db.addAddress("192.168.1.20");
    EXPECT_EQ(choose().key, "192.168.1.20");
    EXPECT_TRUE(network.asked.empty());

    db.addAddress("wifi:office wlan"); // names are case-sensitive
    EXPECT_EQ(choose().key, "192.168.1.20");
    EXPECT_EQ(network.asked, std::vector<std::string>{"wifi on 3"});

    db.addAddress("wifi:Office WLAN");
    choice = choose();
    EXPECT_EQ(choice.key, "wifi:Office WLAN");
    EXPECT_EQ(choice.match, ListChoice::Match::WifiName);

    db.addAddress("GATEWAY:00:1A:2B:3C:4D:5E");
    db.addAddress("gateway:00-1a-2b-3c-4d-5e");
    db.addAddress("wifi:");
    choice = choose();
    EXPECT_EQ(choice.key, "GATEWAY:00:1A:2B:3C:4D:5E");
    EXPECT_EQ(choice.match, ListChoice::Match::GatewayHardwareAddress);
    EXPECT_EQ(network.asked, std::vector<std::string>{"gateway 192.168.1.1 on 3, resolving"})
        << "the Wi-Fi name is not needed once the gateway matched";
    EXPECT_EQ(choice.malformed, (std::vector<std::string>{
                                    "gateway:00-1a-2b-3c-4d-5e: not a hardware address: six two-digit hex "
                                    "numbers joined by colons, such as gateway:00:1a:2b:3c:4d:5e",
                                    "wifi:: no Wi-Fi name after wifi:"}));

    // Another router with the same addresses: the Wi-Fi name decides.
    network.hardware = {"00:1a:2b:3c:4d:99", {}};
    EXPECT_EQ(choose().key, "wifi:Office WLAN");
    // The status line asks for both, and never makes the kernel resolve.
    choose({true, false});
    EXPECT_EQ(network.asked, (std::vector<std::string>{"gateway 192.168.1.1 on 3", "wifi on 3"}));
    // Disconnected, nothing is asked.
    network.isAlive = false;
    EXPECT_TRUE(choose().disconnected());
    EXPECT_TRUE(network.asked.empty());
}

// The identities of a network, as given.
class GivenIdentity : public NetworkIdentity {
public:
    GivenIdentity(std::string gateway, std::string wifi)
        : m_gateway(std::move(gateway)), m_wifi(std::move(wifi)) {}
    platform::Identity gatewayHardwareAddress(bool) override {
        return {m_gateway, m_gateway.empty() ? "none" : ""};
    }
    platform::Identity wifiName() override { return {m_wifi, m_wifi.empty() ? "no Wi-Fi" : ""}; }

private:
    std::string m_gateway;
    std::string m_wifi;
};

// The order of precedence, one case a row: the entries on file, the network
// found, and the entry whose list runs with how it matched.
TEST(ListChoicePrecedence, TheMostSpecificEntryOnFileWins) {
    using Match = ListChoice::Match;
    const std::string home = "gateway:00:1a:2b:3c:4d:5e";
    struct Case {
        std::vector<std::string> entries;
        std::string address;
        std::string gateway, wifi; // the network's identities
        std::string tunnel;        // the address of a tunnel passed over for the network
        std::string key;
        Match match;
    };
    // clang-format off
    const Case cases[] = {
        {{"10.1.2.3", "10.1.2", "10.1", "10", "*"}, "10.1.2.3", "", "", "", "10.1.2.3", Match::WholeAddress},
        {{"10.1.2", "10.1", "10", "*"}, "10.1.2.3", "", "", "", "10.1.2", Match::LeadingThree},
        {{"10.1", "10", "*"}, "10.1.2.3", "", "", "", "10.1", Match::LeadingTwo},
        {{"10", "*"}, "10.1.2.3", "", "", "", "10", Match::FirstNumber},
        {{"*", "192.168"}, "10.1.2.3", "", "", "", "*", Match::AnyOther},
        {{"192.168"}, "10.1.2.3", "", "", "", "10", Match::Nothing},
        {{"10.1.2.3", "wifi:Office"}, "10.1.2.3", "", "Office", "", "wifi:Office", Match::WifiName},
        {{"wifi:Office", home, "10.1.2.3"}, "10.1.2.3", "00:1a:2b:3c:4d:5e", "Office", "", home, Match::GatewayHardwareAddress},
        {{home, "10.1"}, "10.1.2.3", "00:1a:2b:3c:4d:99", "Office", "", "10.1", Match::LeadingTwo},
        // Prefixes with a length: the longest that holds the address; the
        // leading numbers are the prefixes of their length and win a tie.
        {{"10.20.0.0/16", "10.20.16.0/20", "10", "*"}, "10.20.17.4", "", "", "", "10.20.16.0/20", Match::Ipv4Prefix},
        {{"10.20.0.0/16", "10", "10.20.32.0/20"}, "10.20.17.4", "", "", "", "10.20.0.0/16", Match::Ipv4Prefix},
        {{"192.168.1.0/24", "192.168.1"}, "192.168.1.7", "", "", "", "192.168.1", Match::LeadingThree},
        {{"10.20.0.1/16", "10.20.0.0/33", "*"}, "10.20.0.1", "", "", "", "*", Match::AnyOther},
        // Prefixes no laptop's network is in never match.
        {{"::ffff:10.1.2.0/120", "fe80::/64", "*"}, "10.1.2.5 2001:db8:7:1::5", "", "", "", "*", Match::AnyOther},
        // One network written two ways: the dotted numbers, else the first by text.
        {{"FD00:6::/64", "fd00:6:0::/64"}, "fd00:6::5", "", "", "", "FD00:6::/64", Match::Ipv6Prefix},
        {{"10.0.0.0/8", "10"}, "10.1.2.3", "", "", "", "10", Match::FirstNumber},
        // IPv6: the longest prefix; after every IPv4 key, before "*".
        {{"2001:db8:7::/48", "2001:db8:7:1::/64", "*"}, "2001:db8:7:1::5", "", "", "", "2001:db8:7:1::/64", Match::Ipv6Prefix},
        {{"2001:db8:7::/48", "10.1.2.0/24"}, "2001:db8:7:1::5", "", "", "", "2001:db8:7::/48", Match::Ipv6Prefix},
        {{"*", "fd00:6::/64"}, "2001:db8:7:1::5", "", "", "", "*", Match::AnyOther},
        {{"fd00:6::/64"}, "2001:db8:7:1::5", "", "", "", "2001:db8:7:1::5", Match::Nothing},
        {{"2001:db8:7::/48", "10.1", "*"}, "10.1.2.3 2001:db8:7:1::5", "", "", "", "10.1", Match::LeadingTwo},
        {{"2001:db8:7::/48", "192.168", "*"}, "10.1.2.3 2001:db8:7:1::5", "", "", "", "2001:db8:7::/48", Match::Ipv6Prefix},
        {{"2001:db8:7::/48", home}, "2001:db8:7:1::5", "00:1a:2b:3c:4d:5e", "", "", home, Match::GatewayHardwareAddress},
        // A tunnel's own address counts only where the place matches nothing.
        {{"10.200", "192.168", "*"}, "192.168.1.20", "", "", "10.200.0.5", "192.168", Match::LeadingTwo},
        {{"10", home}, "192.168.1.20", "00:1a:2b:3c:4d:5e", "", "10.200.0.5", home, Match::GatewayHardwareAddress},
        {{"10.200", "*"}, "192.168.1.20", "", "", "10.200.0.5", "10.200", Match::LeadingTwo},
        {{"10.1", "*"}, "", "", "", "", "", Match::Disconnected},
    };
    // clang-format on
    for (const Case& given : cases) {
        testsupport::TempDir dir;
        testsupport::DatabaseFile db(dir / "corvale.mdb");
        for (const std::string& entry : given.entries) {
            db.addAddress(entry);
        }
        // "IPv4 IPv6", or either alone.
        const std::size_t blank = given.address.find(' ');
        DiscoveredAddress found{given.address.substr(0, blank)};
        if (blank != std::string::npos || given.address.find(':') != std::string::npos) {
            found = {given.address.substr(0, blank == std::string::npos ? 0 : blank),
                     given.address.substr(blank == std::string::npos ? 0 : blank + 1)};
        }
        if (!given.tunnel.empty()) {
            found.passedOverTunnel = DiscoveredAddress::Tunnel{"tun0", given.tunnel};
        }
        GivenIdentity identity(given.gateway, given.wifi);
        const ListChoice choice = chooseList(db.database(), found, &identity);
        EXPECT_EQ(choice.key, given.key) << given.address << " with " << given.entries.size() << " entries";
        EXPECT_EQ(choice.match, given.match) << given.key;
        EXPECT_EQ(choice.throughTunnel.has_value(), given.key == "10.200") << given.key;
    }
}

// Entries that name one set of addresses are one network, whatever their
// form: only one list runs, and the others are said never to.
TEST(EntryGrammar, OneNetworkWrittenAnyWayIsOneEntry) {
    for (const auto& [one, other] : {std::pair{"192.168.1", "192.168.1.0/24"},
                                     {"192.168.1", "192.168.001.0/24"},
                                     {"FD00:6::/64", "fd00:0006:0:0::/64"},
                                     {"10.1.2.3", "10.1.2.3/32"},
                                     {"wifi:Home", "WIFI:Home"}}) {
        EXPECT_TRUE(sameNetwork(one, other)) << one << " " << other;
    }
    for (const auto& [one, other] : {std::pair{"192.168.1", "192.168.1.0/23"},
                                     {"10", "10.0.0.0/16"},
                                     {"fd00:6::/64", "fd00:6::/48"},
                                     {"wifi:Home", "wifi:home"}}) {
        EXPECT_FALSE(sameNetwork(one, other)) << one << " " << other;
    }
    EXPECT_NE(whyEntryNeverMatches("fe80::/64").find("use the router's gateway: entry instead"),
              std::string::npos);
    EXPECT_NE(whyEntryNeverMatches("fe80::/10").find("link-local"), std::string::npos);
    EXPECT_EQ(whyEntryNeverMatches("fe00::/7"), "") << "it holds more than the link-local addresses";
    EXPECT_NE(whyEntryNeverMatches("::ffff:10.1.2.0/120")
                  .find("IPv4-mapped prefix, which no network gives an "
                        "address of: write the IPv4 network instead, such "
                        "as 10.1.2.0/24"),
              std::string::npos)
        << whyEntryNeverMatches("::ffff:10.1.2.0/120");

    const SameNetworks networks({"192.168.1.0/24", "192.168.1", "fd00:6::/64", "FD00:6::/64", "10.1"});
    EXPECT_EQ(networks.reachedInsteadOf("192.168.1.0/24"), "192.168.1");
    EXPECT_EQ(networks.reachedInsteadOf("fd00:6::/64"), "FD00:6::/64");
    EXPECT_EQ(networks.reachedInsteadOf("192.168.1"), std::nullopt);
    EXPECT_EQ(networks.reachedInsteadOf("10.1"), std::nullopt);

    // The engine's choice says the same of the entries on file.
    testsupport::TempDir dir;
    testsupport::DatabaseFile db(dir / "corvale.mdb");
    for (const char* entry : {"192.168.1.0/24", "192.168.1", "fd00:6::/64", "FD00:6::/64"}) {
        db.addAddress(entry);
    }
    const ListChoice choice = chooseList(db.database(), DiscoveredAddress{"192.168.1.7"});
    EXPECT_EQ(choice.key, "192.168.1");
    EXPECT_EQ(choice.unreached, (std::vector<std::string>{"192.168.1.0/24: the same network as 192.168.1",
                                                          "fd00:6::/64: the same network as FD00:6::/64"}));
}

// The chosen entry's name, where its text is in one row and where an older
// file holds it twice: the first of those rows that has a name gives it.
TEST(EntryGrammar, TheChosenEntryIsShownByTheNameOfItsText) {
    testsupport::TempDir dir;
    testsupport::DatabaseFile db(dir / "corvale.mdb");
    auto name = [&](std::int64_t ipid, const char* text) {
        db.database().execute({"insert into EntryNames values (?, ?)", {ipid, std::string(text)}});
    };
    name(db.addAddress("10.1"), "Office");
    db.addAddress("10.2");
    name(db.addAddress("10.2"), "Lab");
    name(db.addAddress("10.2"), "Lab's second row");
    EXPECT_EQ(chooseList(db.database(), DiscoveredAddress{"10.1.0.5"}).name, "Office");
    EXPECT_EQ(chooseList(db.database(), DiscoveredAddress{"10.2.0.5"}).name, "Lab");
    EXPECT_EQ(chooseList(db.database(), DiscoveredAddress{"10.3.0.5"}).name, "") << "nothing matches";
}

// Replies of the kernel's nl80211, made with libnl's own constructors.
platform::Identity decoded(std::uint32_t mode, const char* ssid) {
    nl_msg* reply = nlmsg_alloc();
    genlmsg_put(reply, NL_AUTO_PORT, NL_AUTO_SEQ, 28, 0, 0, NL80211_CMD_NEW_INTERFACE, 0);
    nla_put_u32(reply, NL80211_ATTR_IFINDEX, 3);
    nla_put_string(reply, NL80211_ATTR_IFNAME, "wlan0");
    nla_put_u32(reply, NL80211_ATTR_IFTYPE, mode);
    if (ssid) {
        nla_put(reply, NL80211_ATTR_SSID, static_cast<int>(std::strlen(ssid)), ssid);
    }
    platform::Identity found = platform::wifiNameInReply(reply);
    nlmsg_free(reply);
    return found;
}

TEST(WifiReply, OnlyAnAssociatedStationHasAWifiName) {
    const platform::Identity station = decoded(NL80211_IFTYPE_STATION, "Caf\xe9 Office");
    EXPECT_EQ(station.value, "Caf\xe9 Office") << "the SSID's bytes, as they are";
    EXPECT_EQ(decoded(NL80211_IFTYPE_STATION, nullptr).why, "not associated");
    const platform::Identity accessPoint = decoded(NL80211_IFTYPE_AP, "Home");
    EXPECT_EQ(accessPoint.value, "");
    EXPECT_EQ(accessPoint.why, "not a station: the interface is in access point mode");

    nl_msg* wired = nlmsg_alloc(); // an answer without an interface type
    genlmsg_put(wired, NL_AUTO_PORT, NL_AUTO_SEQ, 28, 0, 0, NL80211_CMD_NEW_INTERFACE, 0);
    EXPECT_EQ(platform::wifiNameInReply(wired).why, "no Wi-Fi");
    nlmsg_free(wired);
}

// On this machine: an interface that is no radio has no Wi-Fi name.
TEST(WifiReply, LoopbackIsNoWifi) {
    platform::NetlinkNetwork network;
    const platform::Identity found = network.wifiName(1);
    EXPECT_EQ(found.value, "");
    EXPECT_EQ(found.why.rfind("no Wi-Fi", 0), 0u) << found.why;
}

} // namespace
