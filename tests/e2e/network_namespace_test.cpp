// The built engine on real networks: network namespaces made by the test, with
// veth pairs, addresses and routes. No traffic leaves them.
#include "tests/support/test_support.h"
#include "tests/support/x_display.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::DatabaseFile;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

int shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A namespace for the engine and one for the far ends of its links, so that
// the engine sees only the interfaces a test gives it.
class Machine {
public:
    Machine() {
        static int count = 0;
        const std::string id = std::to_string(getpid()) + "-" + std::to_string(++count);
        m_name = "cvt-" + id;
        m_peer = "cvp-" + id;
        m_made = shell("ip netns add " + m_name) == 0 && shell("ip netns add " + m_peer) == 0;
        // Quiet links: no IPv6 chatter, so that what crosses them is what
        // the engine sends.
        for (const std::string& space : {m_name, m_peer}) {
            shell("ip netns exec " + space + " sysctl -w net.ipv6.conf.default.disable_ipv6=1");
            shell("ip netns exec " + space + " sysctl -w net.ipv6.conf.all.disable_ipv6=1");
        }
    }
    ~Machine() {
        shell("ip netns del " + m_name);
        shell("ip netns del " + m_peer);
    }

    bool made() const { return m_made; }
    const std::string& name() const { return m_name; }

    // Adds an interface (up, its far end up) with an address and, when
    // gateway is given, a default route through it.
    void addInterface(const std::string& interface, const std::string& address,
                      const std::string& gateway = "") {
        run("ip link add " + interface + " netns " + m_name + " type veth peer name p" + interface +
            " netns " + m_peer);
        run("ip -n " + m_peer + " link set p" + interface + " up");
        run("ip -n " + m_name + " addr add " + address + " dev " + interface);
        run("ip -n " + m_name + " link set " + interface + " up");
        waitUntilRunning(interface);
        if (!gateway.empty()) {
            run("ip -n " + m_name + " route add default via " + gateway + " dev " + interface);
        }
    }
    // Adds an interface with IPv6 alone: a global address (with its prefix)
    // and a default route through router, a link-local address.
    void addIpv6Interface(const std::string& interface, const std::string& address,
                          const std::string& router) {
        run("ip link add " + interface + " netns " + m_name + " type veth peer name p" + interface +
            " netns " + m_peer);
        run("ip -n " + m_peer + " link set p" + interface + " up");
        run("ip netns exec " + m_name + " sysctl -qw net.ipv6.conf." + interface + ".disable_ipv6=0");
        run("ip -n " + m_name + " addr add " + address + " dev " + interface + " nodad");
        run("ip -n " + m_name + " link set " + interface + " up");
        waitUntilRunning(interface);
        run("ip -n " + m_name + " -6 route add default via " + router + " dev " + interface);
    }
    // Makes the far end of interface a router at address (with its prefix)
    // whose hardware address is hardware; it answers ARP over the link.
    void routerAt(const std::string& interface, const std::string& address, const std::string& hardware) {
        run("ip -n " + m_peer + " link set p" + interface + " address " + hardware);
        run("ip -n " + m_peer + " addr add " + address + " dev p" + interface);
    }
    // The same for an IPv6 router at fe80::1, which answers neighbour
    // solicitations.
    void ipv6RouterAt(const std::string& interface, const std::string& hardware) {
        run("ip -n " + m_peer + " link set p" + interface + " address " + hardware);
        run("ip netns exec " + m_peer + " sysctl -qw net.ipv6.conf.p" + interface + ".disable_ipv6=0");
        run("ip -n " + m_peer + " addr add fe80::1/64 dev p" + interface + " nodad");
    }
    void routerGone(const std::string& interface) {
        run("ip -n " + m_peer + " addr flush dev p" + interface);
    }
    // Forgets what the machine learnt of its neighbours.
    void forgetNeighbours() { run("ip -n " + m_name + " neigh flush all"); }
    // How many packets the router's end of interface has received.
    long receivedByRouter(const std::string& interface) const {
        return std::stol(testsupport::runCapturing("ip netns exec " + m_peer + " cat /sys/class/net/p" +
                                                   interface + "/statistics/rx_packets")
                             .second);
    }
    // Moves interface from one address (with its prefix) to another, with a
    // default route through gateway when one is given: the laptop carried to
    // another network.
    void moveTo(const std::string& interface, const std::string& from, const std::string& to,
                const std::string& gateway) {
        run("ip -n " + m_name + " addr del " + from + " dev " + interface);
        run("ip -n " + m_name + " addr add " + to + " dev " + interface);
        if (!gateway.empty()) {
            run("ip -n " + m_name + " route replace default via " + gateway + " dev " + interface);
        }
    }
    void setUp(const std::string& interface) {
        run("ip -n " + m_name + " link set " + interface + " up");
        waitUntilRunning(interface);
    }
    void setDown(const std::string& interface) {
        run("ip -n " + m_name + " link set " + interface + " down");
    }
    // Runs "ip ARGUMENTS" in the machine.
    void ip(const std::string& arguments) { run("ip -n " + m_name + " " + arguments); }
    // A tun device in the machine, held open by this process (so that it
    // has carrier, as under a VPN client), with address and the peer
    // address given. Returns the device's descriptor, or -1.
    int addTunnel(const std::string& interface, const std::string& address, const std::string& peer) {
        const int home = open("/proc/self/ns/net", O_RDONLY);
        const int space = open(("/var/run/netns/" + m_name).c_str(), O_RDONLY);
        int device = -1;
        if (home >= 0 && space >= 0 && setns(space, CLONE_NEWNET) == 0) {
            device = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
            ifreq request{};
            request.ifr_flags = IFF_TUN | IFF_NO_PI;
            interface.copy(request.ifr_name, IFNAMSIZ - 1);
            if (device >= 0 && ioctl(device, TUNSETIFF, &request) != 0) {
                close(device);
                device = -1;
            }
            setns(home, CLONE_NEWNET);
        }
        close(home);
        close(space);
        if (device >= 0) {
            run("ip -n " + m_name + " addr add " + address + " peer " + peer + " dev " + interface);
            run("ip -n " + m_name + " link set dev " + interface + " up");
            waitForLinkState(interface, "LOWER_UP"); // a tunnel has no operational state to show
        }
        return device;
    }
    // Unplugs the cable: the interface stays up but loses its carrier.
    void unplug(const std::string& interface) {
        run("ip -n " + m_peer + " link set p" + interface + " down");
        waitForLinkState(interface, "NO-CARRIER");
    }

private:
    // The kernel reports a change of carrier a moment after the link changes.
    void waitUntilRunning(const std::string& interface) { waitForLinkState(interface, "LOWER_UP.*state UP"); }
    void waitForLinkState(const std::string& interface, const std::string& pattern) {
        const std::string check =
            "ip -n " + m_name + " -o link show dev " + interface + " | grep -q '" + pattern + "'";
        for (int i = 0; i < 500 && shell(check) != 0; ++i) {
            usleep(10'000);
        }
        ASSERT_EQ(shell(check), 0) << interface << " never showed " << pattern;
    }

    static void run(const std::string& command) { ASSERT_EQ(shell(command), 0) << command; }

    std::string m_name;
    std::string m_peer;
    bool m_made = false;
};

class EngineOnANetwork : public ::testing::Test {
protected:
    void SetUp() override {
        if (!machine.made()) {
            GTEST_SKIP() << "the kernel refuses network namespaces here (ip netns add failed)";
        }
        // What the engine starts is adopted by us when it ends, so that we can
        // wait for all of it.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        testsupport::installPrograms(program.path());
        db = std::make_unique<DatabaseFile>(program / "corvale.mdb");
    }

    std::string item(const std::string& name) {
        const std::string path = program / name;
        fs::create_symlink(testsupport::recordRunPath(), path);
        return path;
    }
    void addressList(const std::string& address, const std::string& itemName) {
        db->addConnectedItem(db->addAddress(address), item(itemName), program.path(), 1);
    }
    void disconnectedList(const std::string& itemName) {
        db->addDisconnectedItem(item(itemName), program.path(), 1);
    }
    // Runs the engine with no record of an earlier run.
    std::vector<std::string> runAfresh() {
        fs::remove(program / "record");
        return runEngine();
    }

    // Runs the engine inside the machine and returns the names of the items
    // it started.
    std::vector<std::string> runEngine() {
        const std::string command = "ip netns exec " + machine.name() +
                                    " env -i PATH=/usr/bin:/bin DISPLAY=:31999 HOME=" + program.path() +
                                    " CORVALE_RECORD=" + (program / "record") + " " + (program / "brisken");
        EXPECT_EQ(shell(command), 0) << command;
        testsupport::reapChildren();
        std::vector<std::string> names;
        for (const auto& path : testsupport::startedPrograms(testsupport::readRecords(program / "record"))) {
            names.push_back(fs::path(path).filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    using Names = std::vector<std::string>;
    Machine machine;
    TempDir program;
    std::unique_ptr<DatabaseFile> db;
};

TEST_F(EngineOnANetwork, WholeAddressListRunsRatherThanItsNetworks) {
    machine.addInterface("eth0", "192.168.1.20/24", "192.168.1.1");
    addressList("192.168.1.20", "exact");
    addressList("192.168.1", "network");
    disconnectedList("offline");
    EXPECT_EQ(runEngine(), Names{"exact"});
}

TEST_F(EngineOnANetwork, ThreeNumberPrefixRunsRatherThanTheTwoNumberOne) {
    machine.addInterface("eth0", "192.168.1.20/24", "192.168.1.1");
    addressList("192.168", "two");
    addressList("192.168.1", "three");
    disconnectedList("offline");
    EXPECT_EQ(runEngine(), Names{"three"});
}

TEST_F(EngineOnANetwork, UnpluggedInterfaceWithALowerIndexAndAnOldDefaultRouteIsPassedOver) {
    machine.addInterface("eth0", "10.0.0.5/24", "10.0.0.1");
    machine.unplug("eth0");
    ASSERT_EQ(shell("ip -n " + machine.name() + " route show default | grep -q linkdown"), 0);
    machine.addInterface("eth1", "192.168.1.20/24");
    ASSERT_EQ(shell("ip -n " + machine.name() + " route add default via 192.168.1.1 dev eth1 metric 100"), 0);
    addressList("10.0.0.5", "unplugged");
    addressList("192.168.1.20", "live");
    disconnectedList("offline");
    EXPECT_EQ(runEngine(), Names{"live"});
}

TEST_F(EngineOnANetwork, TwoNumberPrefixMatchesTheAddress) {
    machine.addInterface("eth0", "192.168.1.20/24", "192.168.1.1");
    addressList("192.168", "two");
    addressList("192.16", "partial");
    disconnectedList("offline");
    EXPECT_EQ(runEngine(), Names{"two"});
}

TEST_F(EngineOnANetwork, InterfaceWithTheGatewayDecidesNotTheFirstOne) {
    machine.addInterface("eth0", "10.0.0.5/24");
    machine.addInterface("eth1", "192.168.1.20/24", "192.168.1.1");
    addressList("10.0.0.5", "first-interface");
    addressList("192.168.1.20", "gateway-interface");
    EXPECT_EQ(runEngine(), Names{"gateway-interface"});
}

TEST_F(EngineOnANetwork, EveryInterfaceDownRunsTheDisconnectedList) {
    machine.addInterface("eth0", "192.168.1.20/24", "192.168.1.1");
    machine.addInterface("eth1", "10.0.0.5/24");
    machine.setDown("eth0");
    machine.setDown("eth1");
    addressList("192.168.1.20", "connected");
    disconnectedList("offline");
    EXPECT_EQ(runEngine(), Names{"offline"});
}

TEST_F(EngineOnANetwork, OnlyInterfaceWithoutDefaultRouteStillGivesItsAddress) {
    machine.addInterface("eth0", "10.1.2.3/16");
    addressList("10.1.2.3", "lonely");
    disconnectedList("offline");
    EXPECT_EQ(runEngine(), Names{"lonely"});
}

// Docked at the desk, Ethernet and Wi-Fi are both up: the list is the one
// of the route the kernel sends by (the lowest metric), whichever interface
// was made first; undocked, the Wi-Fi's. Prefixes with a length match the
// addresses they hold.
TEST_F(EngineOnANetwork, TheRouteTheSystemUsesDecidesWhenDockedAndUndocked) {
    machine.addInterface("wlan0", "10.50.0.30/24");
    machine.ip("route add default via 10.50.0.1 dev wlan0 metric 600");
    machine.addInterface("eth0", "10.60.7.5/24");
    machine.ip("route add default via 10.60.7.1 dev eth0 metric 100");
    addressList("10.50.0.0/20", "wifi");
    addressList("10.60.0.0/16", "desk");
    addressList("10", "any-ten");
    EXPECT_EQ(runAfresh(), Names{"desk"});
    const std::string dryRun = testsupport::runCapturing("ip netns exec " + machine.name() + " " +
                                                         (program / "brisken") + " --dry-run")
                                   .second;
    EXPECT_NE(dryRun.find("\nNetwork: adapter eth0: address 10.60.7.5, gateway 10.60.7.1; wlan0 (10.50.0.30, "
                          "metric 600) is not the route the system uses\n"),
              std::string::npos)
        << dryRun;
    EXPECT_NE(dryRun.find("\nList: 10.60.0.0/16 (the prefix that holds 10.60.7.5)\n"), std::string::npos)
        << dryRun;
    machine.setDown("eth0");
    EXPECT_EQ(runAfresh(), Names{"wifi"});
}

// An IPv6-only network (a phone's hotspot) is a network: its prefix on file
// runs its list, any other network's list runs without one; never the
// disconnected list.
TEST_F(EngineOnANetwork, AnIpv6OnlyNetworkRunsItsPrefixOrAnyOtherNetwork) {
    machine.addIpv6Interface("eth0", "2001:db8:7:1::5/64", "fe80::1");
    addressList("2001:db8:7::/48", "site");
    disconnectedList("offline");
    EXPECT_EQ(runAfresh(), Names{"site"});
    const std::string dryRun =
        testsupport::runCapturing("ip netns exec " + machine.name() + " " + (program / "brisken") +
                                  " --dry-run --address=2001:db8:7:2::9")
            .second;
    EXPECT_NE(dryRun.find("\nList: 2001:db8:7::/48 (the prefix that holds 2001:db8:7:2::9)\n"),
              std::string::npos)
        << dryRun;
    // The router is known by its hardware address, as an IPv4 gateway is.
    machine.ipv6RouterAt("eth0", "02:00:00:66:00:01");
    addressList("gateway:02:00:00:66:00:01", "router");
    EXPECT_EQ(runAfresh(), Names{"router"});
    testsupport::sqliteOutput(program / "corvale.mdb", "delete from IPs");
    addressList("*", "elsewhere");
    EXPECT_EQ(runAfresh(), Names{"elsewhere"});
}

} // namespace

namespace {

TEST_F(EngineOnANetwork, DryRunSaysWhatWouldStartAndStartsNothing) {
    machine.addInterface("eth0", "192.168.1.20/24", "192.168.1.1");
    const auto ipid = db->addAddress("192.168");
    // A program of its own: a test beside this one may be running the helper.
    fs::copy_file(testsupport::recordRunPath(), program / "tool");
    db->addConnectedItem(ipid, program / "tool", program.path(), 1);
    db->addConnectedItem(ipid, program / "missing", program.path(), 2);
    db->addConnectedItem(ipid, item("elsewhere"), program / "no-folder", 3);
    testsupport::writeFile(program / "notes.unknown-type", std::string(64, '\x01'));
    db->addConnectedItem(ipid, program / "notes.unknown-type", program.path(), 4);
    db->database().execute({"Insert into ConnectedList (IPID,TargetPath,StartinPath,ListOrder) values "
                            "(?, cast(? || x'00' || '.sh' as text), ?, 5)",
                            {ipid, item("cut"), program.path()}});
    db->database().execute({"Insert into ConnectedLeavingList (IPID,TargetPath,StartinPath,ListOrder) values "
                            "(?, ?, ?, 1)",
                            {ipid, program / "tool", program.path()}});
    disconnectedList("offline");
    const testsupport::OwnDesktop desktop;
    std::string desktopVariables;
    for (const std::string& variable : desktop.environment()) {
        desktopVariables += " " + variable;
    }

    const auto [status, output] = testsupport::runCapturing(
        "ip netns exec " + machine.name() + " env -i PATH=/usr/bin:/bin HOME=" + program.path() + " " +
        desktopVariables + " " + (program / "brisken") + " --dry-run");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output,
              "Database: " + (program / "corvale.mdb") +
                  "\nNetwork: adapter eth0: address 192.168.1.20, gateway 192.168.1.1"
                  "\nGateway's hardware address: not looked up: no gateway: entry is on file"
                  "\nWi-Fi: no Wi-Fi"
                  "\nList: 192.168 (its leading two numbers of 192.168.1.20)"
                  "\nItem: " +
                  (program / "tool") + "\n  start in: " + program.path() +
                  "\n  starts as a program"
                  "\nItem: " +
                  (program / "missing") + "\n  start in: " + program.path() +
                  "\n  cannot start: missing file"
                  "\nItem: " +
                  (program / "elsewhere") + "\n  start in: " + (program / "no-folder") +
                  "\n  starts as a program; its start-in folder " + (program / "no-folder") +
                  " is missing; it starts in " + program.path() +
                  "\nItem: " + (program / "notes.unknown-type") + "\n  start in: " + program.path() +
                  "\n  cannot start: not executable and no application for its type"
                  "\nItem: " +
                  (program / "cut") + "\\0.sh\n  start in: " + program.path() +
                  "\n  cannot start: its path holds a NUL byte"
                  "\nOn leaving: 1 item that a watcher runs when the laptop leaves this network, each "
                  "waited for up to 10 s (none in a run without --watch)"
                  "\nOn leaving: Item: " +
                  (program / "tool") + "\n  start in: " + program.path() + "\n  starts as a program\n");
    EXPECT_FALSE(fs::exists(program / "record")) << "a dry run started something";
}

// A real run tells the session's journal, on standard error, where it was,
// which list it took and why each failed item did not start.
// A VPN's tunnel is no place: the network is the one the tunnel runs over,
// unless only an entry for the tunnel's addresses matches or no other link
// has a route.
TEST_F(EngineOnANetwork, ATunnelIsNoPlaceAndAnyOtherNetworkComesLast) {
    machine.addInterface("eth0", "192.168.1.20/24", "192.168.1.1");
    addressList("192.168.1", "office");
    addressList("*", "elsewhere");
    disconnectedList("offline");
    EXPECT_EQ(runAfresh(), Names{"office"});

    // The VPN takes the default route and keeps a host route to its server.
    const int vpn = machine.addTunnel("tun0", "10.200.0.5", "10.200.0.1");
    ASSERT_GE(vpn, 0) << "no tun device could be made";
    machine.ip("route add 203.0.113.7 via 192.168.1.1 dev eth0");
    machine.ip("route replace default via 10.200.0.1 dev tun0");
    EXPECT_EQ(runAfresh(), Names{"office"});
    const std::string dryRun = testsupport::runCapturing("ip netns exec " + machine.name() + " " +
                                                         (program / "brisken") + " --dry-run")
                                   .second;
    EXPECT_NE(dryRun.find("\nNetwork: adapter eth0: address 192.168.1.20, gateway 192.168.1.1 (its route "
                          "through the gateway the tunnel runs over); the tunnel tun0 (10.200.0.5) is "
                          "passed over\n"),
              std::string::npos)
        << dryRun;

    // An entry that holds the tunnel's address is no place: the network's
    // own entry comes first, and the tunnel's only at a place not on file.
    addressList("10", "vpn");
    EXPECT_EQ(runAfresh(), Names{"office"});
    testsupport::sqliteOutput(program / "corvale.mdb", "delete from IPs where IPaddress = '192.168.1'");
    EXPECT_EQ(runAfresh(), Names{"vpn"});
    testsupport::sqliteOutput(program / "corvale.mdb", "delete from IPs where IPaddress = '10'");

    // With only the tunnel left (mobile broadband, dial-up), it is the
    // network, and no entry but any other network's matches it.
    machine.ip("link del eth0");
    EXPECT_EQ(runAfresh(), Names{"elsewhere"});
    close(vpn);
}

// Where packets go is the kernel's answer: a VPN that routes by a policy
// rule and a table of its own, or by two half routes, is the tunnel they go
// through; the paths of a multipath route are one route.
TEST_F(EngineOnANetwork, TheNetworkIsWhereTheKernelSendsPackets) {
    machine.addInterface("eth0", "10.9.0.5/24", "10.9.0.1");
    addressList("10.1", "home");
    addressList("10.66.0.0/24", "vpn");
    addressList("*", "elsewhere");
    const auto dryRun = [&] {
        return testsupport::runCapturing("ip netns exec " + machine.name() + " " + (program / "brisken") +
                                         " --dry-run")
            .second;
    };
    const auto summary = [&] {
        return testsupport::runCapturing("ip netns exec " + machine.name() + " env -i PATH=/usr/bin:/bin " +
                                         (program / "brisken") + " 2>&1 >/dev/null")
            .second;
    };
    EXPECT_EQ(runAfresh(), Names{"elsewhere"});

    // As wg-quick brings a VPN up: its default route in a table of its own,
    // taken by every packet without the tunnel's own mark.
    const int wireguard = machine.addTunnel("wg0", "10.66.0.2", "10.66.0.1");
    ASSERT_GE(wireguard, 0) << "no tun device could be made";
    machine.ip("route add default dev wg0 table 51820");
    machine.ip("rule add not fwmark 0xca6c table 51820");
    machine.ip("rule add table main suppress_prefixlength 0");
    EXPECT_EQ(runAfresh(), Names{"vpn"});
    EXPECT_NE(summary().find("brisken: on 10.66.0.2 (the tunnel wg0): the list of 10.66.0.0/24"),
              std::string::npos)
        << summary();
    EXPECT_NE(dryRun().find("\nNetwork: adapter eth0: address 10.9.0.5, gateway 10.9.0.1; the tunnel wg0 "
                            "(10.66.0.2) is passed over\nTunnel: wg0 taken after all"),
              std::string::npos)
        << dryRun();
    // At home the place comes before the tunnel.
    machine.moveTo("eth0", "10.9.0.5/24", "10.1.0.5/16", "10.1.0.1");
    EXPECT_EQ(runAfresh(), Names{"home"});
    close(wireguard);
    machine.ip("rule del not fwmark 0xca6c table 51820");
    EXPECT_EQ(runAfresh(), Names{"home"});

    // As OpenVPN's def1 does: two half routes through the tunnel, the
    // default route left as it was.
    machine.moveTo("eth0", "10.1.0.5/16", "10.9.0.5/24", "10.9.0.1");
    const int openvpn = machine.addTunnel("tun0", "10.66.0.9", "10.66.0.1");
    ASSERT_GE(openvpn, 0) << "no tun device could be made";
    machine.ip("route add 0.0.0.0/1 via 10.66.0.1 dev tun0");
    machine.ip("route add 128.0.0.0/1 via 10.66.0.1 dev tun0");
    EXPECT_EQ(runAfresh(), Names{"vpn"});
    close(openvpn);

    // One default route over two links: the kernel picks the path, and the
    // other is no other route.
    machine.addInterface("eth1", "10.9.1.5/24");
    machine.ip("route replace default nexthop via 10.9.0.1 dev eth0 nexthop via 10.9.1.1 dev eth1");
    const std::string spread = dryRun();
    EXPECT_NE(spread.find("is another path of the same route\n"), std::string::npos) << spread;
    EXPECT_EQ(spread.find("is not the route the system uses"), std::string::npos) << spread;
    EXPECT_EQ(runAfresh(), Names{"elsewhere"});
}

TEST_F(EngineOnANetwork, RunSummarySaysTheNetworkTheListAndWhyEachItemFailed) {
    machine.addInterface("eth0", "10.20.0.5/16", "10.20.0.1");
    const auto ipid = db->addAddress("10.20");
    db->addConnectedItem(ipid, item("tool"), program.path(), 1);
    db->addConnectedItem(ipid, "/usr/bin/xclokc", program.path(), 2);
    testsupport::writeFile(program / "notes.txt", "a document\n");
    db->addConnectedItem(ipid, program / "notes.txt", program / "no-folder", 3);
    testsupport::writeFile(program / "notes.unknown-type", std::string(64, '\x01'));
    db->addConnectedItem(ipid, program / "notes.unknown-type", program.path(), 4);
    const testsupport::OwnDesktop desktop;
    std::string desktopVariables;
    for (const std::string& variable : desktop.environment()) {
        desktopVariables += " " + variable;
    }
    const auto [status, output] = testsupport::runCapturing(
        "ip netns exec " + machine.name() +
        " env -i PATH=/usr/bin:/bin DISPLAY=:31999 HOME=" + program.path() + desktopVariables +
        " CORVALE_RECORD=" + (program / "record") + " " + (program / "brisken") + " 2>&1");
    testsupport::reapChildren();
    EXPECT_EQ(status, 0);
    const std::string summary = "brisken: on 10.20.0.5 (gateway 10.20.0.1): the list of 10.20: 1 started, 3 "
                                "failed: /usr/bin/xclokc: no such file; " +
                                (program / "notes.txt") + ": missing folder " + (program / "no-folder") +
                                "; " + (program / "notes.unknown-type") + ": no application for its type\n";
    EXPECT_EQ(output.rfind(summary, 0), 0u) << output;
    // A named entry is called by its name.
    testsupport::sqliteOutput(program / "corvale.mdb",
                              "insert into EntryNames values (" + std::to_string(ipid) + ", 'Office')");
    // The same settings as before: the machine's own desktop would open the
    // document and write into what this test reads.
    const auto named = testsupport::runCapturing(
        "ip netns exec " + machine.name() +
        " env -i PATH=/usr/bin:/bin DISPLAY=:31999 HOME=" + program.path() + desktopVariables +
        " CORVALE_RECORD=" + (program / "record") + " " + (program / "brisken") + " 2>&1");
    testsupport::reapChildren();
    EXPECT_EQ(named.second.rfind("brisken: on 10.20.0.5 (gateway 10.20.0.1): the list of Office: ", 0), 0u)
        << named.second;
    // The message keeps its own words, after the summary, with each reason.
    EXPECT_NE(
        output.find("Brisken: This program failed to start correctly: \n- /usr/bin/xclokc: no such file\n- " +
                    (program / "notes.txt") + ": missing folder "),
        std::string::npos)
        << output;
}

TEST_F(EngineOnANetwork, WaitForNetworkRunsTheListOfTheGatewayThatComesAfterTheStart) {
    machine.addInterface("eth0", "192.168.1.20/24");
    addressList("192.168.1.20", "office");
    disconnectedList("offline");
    const int engine = testsupport::startProcess(
        {"/usr/bin/ip", "netns", "exec", machine.name(), program / "brisken", "--wait-for-network=20"},
        {"PATH=/usr/bin:/bin", "CORVALE_RECORD=" + (program / "record")}, program.path());
    // The engine listens for the kernel's notices before it looks (its
    // netlink socket joins the link, address, route and rule groups, IPv4 and
    // IPv6).
    const std::string listening = "grep -q ' 000405d1 ' /proc/" + std::to_string(engine) + "/net/netlink";
    for (int i = 0; i < 1000 && shell(listening) != 0; ++i) {
        usleep(10'000);
    }
    ASSERT_EQ(shell(listening), 0) << "the engine never listened";
    EXPECT_EQ(testsupport::waitForExit(engine, std::chrono::milliseconds(0)), -1) << "it did not wait";
    ASSERT_EQ(shell("ip -n " + machine.name() + " route add default via 192.168.1.1 dev eth0"), 0);
    EXPECT_EQ(testsupport::waitForExit(engine), 0);
    testsupport::reapChildren();
    EXPECT_EQ(testsupport::startedPrograms(testsupport::readRecords(program / "record")),
              std::vector<std::string>{program / "office"});
}

TEST_F(EngineOnANetwork, WaitForNetworkThatNeverComesRunsTheDisconnectedList) {
    machine.addInterface("eth0", "192.168.1.20/24", "192.168.1.1");
    machine.setDown("eth0");
    addressList("192.168.1.20", "office");
    disconnectedList("offline");
    EXPECT_EQ(shell("ip netns exec " + machine.name() + " env -i PATH=/usr/bin:/bin CORVALE_RECORD=" +
                    (program / "record") + " " + (program / "brisken") + " --wait-for-network=1"),
              0);
    testsupport::reapChildren();
    EXPECT_EQ(testsupport::startedPrograms(testsupport::readRecords(program / "record")),
              std::vector<std::string>{program / "offline"});
}

// The network is looked at once the database is found, not before: here the
// machine moves to another network while the person is still looking for
// the database.
TEST_F(EngineOnANetwork, WaitForNetworkRunsTheListOfTheAddressTheMachineHasOnceTheDatabaseIsFound) {
    testsupport::XDisplay x;
    ASSERT_FALSE(x.display().empty()) << "cannot start Xvfb";
    machine.addInterface("eth0", "10.1.2.3/8", "10.0.0.1");
    TempDir elsewhere;
    {
        DatabaseFile chosen(elsewhere / "corvale.mdb");
        chosen.addConnectedItem(chosen.addAddress("10.1.2.3"), item("before"), program.path(), 1);
        chosen.addConnectedItem(chosen.addAddress("11.2.3.4"), item("after"), program.path(), 2);
    }
    db.reset();
    fs::remove(program / "corvale.mdb");
    const int engine = testsupport::startProcess(
        {"/usr/bin/ip", "netns", "exec", machine.name(), program / "brisken", "--wait-for-network=30"},
        {"PATH=/usr/bin:/bin", "DISPLAY=" + x.display(), "CORVALE_RECORD=" + (program / "record")},
        program.path());
    ASSERT_TRUE(x.windowAppears("Corvale - It's your choice..."));
    ASSERT_EQ(shell("ip -n " + machine.name() + " addr del 10.1.2.3/8 dev eth0"), 0);
    ASSERT_EQ(shell("ip -n " + machine.name() + " addr add 11.2.3.4/8 dev eth0"), 0);
    ASSERT_EQ(shell("ip -n " + machine.name() + " route add default via 11.0.0.1 dev eth0"), 0);
    ASSERT_TRUE(testsupport::chooseDatabaseWhenAsked(x, elsewhere / "corvale.mdb"));
    EXPECT_EQ(testsupport::waitForExit(engine), 0);
    // (The display server is our child too: reaping every child would wait for it.)
    EXPECT_EQ(testsupport::startedPrograms(testsupport::waitForRecords(program / "record", 1)),
              std::vector<std::string>{program / "after"});
}

// Home and office hand out the same addresses; their routers differ. The
// router's hardware address is learnt over the link, as on a real network.
TEST_F(EngineOnANetwork, GatewaysHardwareAddressTellsNetworksWithTheSameAddressesApart) {
    machine.addInterface("eth0", "192.168.1.20/24", "192.168.1.1");
    machine.routerAt("eth0", "192.168.1.1/24", "00:1a:2b:3c:4d:5e");
    addressList("192.168.1.20", "address");
    addressList("gateway: 00:1A:2B:3C:4D:5E ", "home"); // capitals and blanks, as a person may type it
    addressList("gateway:00:1a:2b:3c:4d", "short");     // malformed: matches nothing
    addressList("gateway:00:1a:2b:3c:4d:5e", "never");  // the same network, after the first by text
    disconnectedList("offline");
    EXPECT_EQ(runEngine(), Names{"home"});
    fs::remove(program / "record");

    const auto [status, output] = testsupport::runCapturing("ip netns exec " + machine.name() + " env -i " +
                                                            (program / "brisken") + " --dry-run");
    EXPECT_NE(output.find("\nGateway's hardware address: 00:1a:2b:3c:4d:5e\n"), std::string::npos) << output;
    EXPECT_NE(output.find("\nEntry gateway:00:1a:2b:3c:4d: not a hardware address"), std::string::npos)
        << output;
    EXPECT_NE(
        output.find("\nEntry gateway:00:1a:2b:3c:4d:5e: the same network as gateway: 00:1A:2B:3C:4D:5E , "
                    "whose list runs in its place; its own never runs\n"),
        std::string::npos)
        << output;
    EXPECT_NE(output.find("\nList: gateway: 00:1A:2B:3C:4D:5E  (the gateway's hardware address)\n"),
              std::string::npos)
        << output;

    // The same addresses behind another router.
    machine.routerGone("eth0");
    machine.forgetNeighbours();
    machine.routerAt("eth0", "192.168.1.1/24", "00:1a:2b:3c:4d:99");
    EXPECT_EQ(runEngine(), Names{"address"});
    fs::remove(program / "record");

    // A router that does not answer: after a second the address keys decide.
    machine.routerGone("eth0");
    machine.forgetNeighbours();
    EXPECT_EQ(runEngine(), Names{"address"});
    fs::remove(program / "record");
}

// Wi-Fi and a dongle on one router: the first interface is chosen, while the
// kernel reaches the gateway, and learns its hardware address, through the
// other one, whose route costs less.
TEST_F(EngineOnANetwork, GatewayLearntThroughAnotherInterfaceIsFoundThere) {
    machine.addInterface("wlan0", "192.168.1.20/24");
    machine.addInterface("usb0", "192.168.1.21/24");
    machine.routerAt("usb0", "192.168.1.1/24", "00:1a:2b:3c:4d:5e");
    machine.ip("route del 192.168.1.0/24 dev wlan0");
    machine.ip("route add 192.168.1.0/24 dev wlan0 src 192.168.1.20 metric 600");
    machine.ip("route add default via 192.168.1.1 dev wlan0 metric 600");
    machine.ip("route add default via 192.168.1.1 dev usb0 metric 100");
    addressList("192.168.1.20", "address");
    addressList("gateway:00:1a:2b:3c:4d:5e", "home");
    EXPECT_EQ(runEngine(), Names{"home"});
    const std::string neighbours = testsupport::runCapturing("ip -n " + machine.name() + " neigh").second;
    EXPECT_NE(neighbours.find("192.168.1.1 dev usb0"), std::string::npos) << neighbours;
    EXPECT_EQ(neighbours.find("192.168.1.1 dev wlan0"), std::string::npos) << neighbours;
}

TEST_F(EngineOnANetwork, WithoutAGatewayEntryNothingIsSentToTheGateway) {
    machine.addInterface("eth0", "192.168.1.20/24", "192.168.1.1");
    machine.routerAt("eth0", "192.168.1.1/24", "00:1a:2b:3c:4d:5e");
    addressList("192.168.1.20", "address");
    addressList("wifi:Office WLAN", "office"); // an identity, but not the gateway's
    machine.forgetNeighbours();
    const long before = machine.receivedByRouter("eth0");
    EXPECT_EQ(runEngine(), Names{"address"});
    EXPECT_EQ(machine.receivedByRouter("eth0"), before);

    // With one on file, the kernel asks for the router's hardware address.
    fs::remove(program / "record");
    addressList("gateway:00:1a:2b:3c:4d:5e", "home");
    EXPECT_EQ(runEngine(), Names{"home"});
    EXPECT_GT(machine.receivedByRouter("eth0"), before);
}

// brisken --watch on a laptop carried from network to network.
class Watcher : public EngineOnANetwork {
protected:
    // Starts a watcher in the machine, settling for a second; its standard
    // error goes to the file errors.
    int startWatcher(const std::string& errors, int descriptor3 = -1, const std::string& display = "",
                     std::vector<std::string> environment = {}, const std::string& holdOnly = "mail") {
        environment.insert(environment.end(), {"PATH=/usr/bin:/bin", "CORVALE_RECORD=" + (program / "record"),
                                               "XDG_RUNTIME_DIR=" + runtime.path()});
        if (!display.empty()) {
            environment.push_back("DISPLAY=" + display);
        }
        if (descriptor3 >= 0) {
            environment.push_back("CORVALE_RECORD_HOLD_FD=3");
            environment.push_back("CORVALE_RECORD_HOLD_ONLY=" + holdOnly);
        }
        return testsupport::startProcess(
            {"/usr/bin/ip", "netns", "exec", machine.name(), program / "brisken", "--watch", "--settle=1"},
            environment, program.path(), errors, descriptor3);
    }
    // The items started so far, waiting until there are count.
    Names startedInOrder(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        Names names;
        for (const auto& path :
             testsupport::startedPrograms(testsupport::waitForRecords(program / "record", count, timeout))) {
            names.push_back(fs::path(path).filename().string());
        }
        return names;
    }
    // The value of the variable name that the item of the run-th record was
    // given (recorded where CORVALE_RECORD_ENV is set).
    std::string variableOf(std::size_t run, const std::string& name) {
        const std::string pid = testsupport::readRecords(program / "record").at(run).at("pid");
        for (const std::string& variable : testsupport::recordedEnvironment(program / ("env." + pid))) {
            if (variable.rfind(name + "=", 0) == 0) {
                return variable.substr(name.size() + 1);
            }
        }
        return "(not set)";
    }
    bool becomes(const std::string& file, const std::string& part) {
        for (int i = 0; i < 1000; ++i) {
            if (testsupport::readFile(file).find(part) != std::string::npos) {
                return true;
            }
            usleep(10'000);
        }
        return false;
    }

    TempDir runtime;
};

TEST_F(Watcher, RunsTheListOfEachNetworkItArrivesOnOnceItHasSettled) {
    machine.addInterface("eth0", "10.1.0.5/16", "10.1.0.1");
    const auto home = db->addAddress("10.1");
    db->addConnectedItem(home, item("home"), program.path(), 1);
    addressList("10.2", "passing");
    addressList("10.3", "office");
    disconnectedList("offline");
    db->database().execute({"insert into EntryNames values (?, 'Home')", {home}});
    const int watcher = startWatcher(program / "errors", -1, "", {"CORVALE_RECORD_ENV=" + (program / "env")});
    EXPECT_EQ(startedInOrder(1), Names{"home"}) << "the logon run";
    // Each program learns where it was started, and by which run.
    auto placeOf = [&](std::size_t run) {
        const std::string pid = testsupport::readRecords(program / "record").at(run).at("pid");
        std::vector<std::string> place;
        for (const std::string& variable : testsupport::recordedEnvironment(program / ("env." + pid))) {
            if (variable.rfind("BRISKEN_", 0) == 0) {
                place.push_back(variable);
            }
        }
        std::sort(place.begin(), place.end());
        return place;
    };
    EXPECT_EQ(placeOf(0), (Names{"BRISKEN_ADDRESS=10.1.0.5", "BRISKEN_ENTRY=10.1", "BRISKEN_GATEWAY=10.1.0.1",
                                 "BRISKEN_INTERFACE=eth0", "BRISKEN_PLACE=Home", "BRISKEN_RUN=logon"}));

    // A network passed through for less than the settle time starts nothing.
    machine.moveTo("eth0", "10.1.0.5/16", "10.2.0.5/16", "10.2.0.1");
    machine.moveTo("eth0", "10.2.0.5/16", "10.1.0.5/16", "10.1.0.1");
    machine.moveTo("eth0", "10.1.0.5/16", "10.3.0.5/16", "10.3.0.1");
    EXPECT_EQ(startedInOrder(2), (Names{"home", "office"}));

    // Away: no network is a network of its own.
    machine.setDown("eth0");
    EXPECT_EQ(startedInOrder(3), (Names{"home", "office", "offline"}));
    EXPECT_EQ(placeOf(1).at(1), "BRISKEN_ENTRY=10.3");
    EXPECT_EQ(placeOf(2), (Names{"BRISKEN_ADDRESS=", "BRISKEN_ENTRY=", "BRISKEN_GATEWAY=",
                                 "BRISKEN_INTERFACE=", "BRISKEN_PLACE=", "BRISKEN_RUN=arrival"}));

    // Back home, with the list edited meanwhile: it is read afresh.
    db->addConnectedItem(home, item("home-new"), program.path(), 2);
    machine.moveTo("eth0", "10.3.0.5/16", "10.1.0.5/16", "");
    machine.setUp("eth0");
    ASSERT_EQ(shell("ip -n " + machine.name() + " route replace default via 10.1.0.1 dev eth0"), 0);
    Names all = startedInOrder(5);
    std::sort(all.begin() + 3, all.end());
    EXPECT_EQ(all, (Names{"home", "office", "offline", "home", "home-new"}));

    // Each new network is an arrival, also where its list is the one that ran
    // last: another office under the entry 10.1, then two cafés of "*" one
    // after the other. A new address on the same network (a DHCP renewal)
    // is none: the next item to start is the first café's.
    addressList("*", "cafe");
    machine.moveTo("eth0", "10.1.0.5/16", "10.1.200.5/24", "10.1.200.1");
    all = startedInOrder(7);
    std::sort(all.begin() + 5, all.end());
    EXPECT_EQ(Names(all.begin() + 5, all.end()), (Names{"home", "home-new"})) << "the second office";
    machine.moveTo("eth0", "10.1.200.5/24", "10.1.200.6/24", "10.1.200.1");
    machine.moveTo("eth0", "10.1.200.6/24", "172.16.0.5/24", "172.16.0.1");
    EXPECT_EQ(startedInOrder(8).back(), "cafe");
    machine.moveTo("eth0", "172.16.0.5/24", "172.17.0.5/24", "172.17.0.1");
    all = startedInOrder(9);
    EXPECT_EQ(Names(all.begin() + 7, all.end()), (Names{"cafe", "cafe"})) << "two cafés, two arrivals";
    EXPECT_EQ(placeOf(8).at(4), "BRISKEN_PLACE=*") << "the entry as stored, as scripts test it";

    // A VPN whose table is there already comes up by its policy rule alone:
    // an arrival at the VPN's entry.
    addressList("10.66.0.0/24", "vpn");
    const int vpn = machine.addTunnel("wg0", "10.66.0.2", "10.66.0.1");
    ASSERT_GE(vpn, 0) << "no tun device could be made";
    machine.ip("route add default dev wg0 table 51820");
    machine.ip("rule add not fwmark 0xca6c table 51820");
    EXPECT_EQ(startedInOrder(10).back(), "vpn");
    close(vpn);

    kill(watcher, SIGTERM);
    EXPECT_EQ(testsupport::waitForExit(watcher), 0);
    // One summary for each run, and no failure in any; without a session
    // bus, the watcher says once that it runs without one.
    const std::string errors = testsupport::readFile(program / "errors");
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 9) << errors;
    const std::string noBus = "brisken: no session bus answers: this watcher runs without one";
    EXPECT_NE(errors.find(noBus), std::string::npos) << errors;
    EXPECT_EQ(errors.find(noBus), errors.rfind(noBus)) << errors;
    EXPECT_NE(errors.find("brisken: with no usable address: the disconnected list: 1 started\n"),
              std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("failed"), std::string::npos) << errors;
}

// An item that runs on leaving home, however the laptop leaves: it runs
// once for each leaving, never for a network that came back inside the
// settle time, and is waited for before the next list starts (up to the
// bound, after which it is left running and named).
TEST_F(Watcher, ItemsOnLeavingRunOnceForEachLeavingBeforeTheNextList) {
    machine.addInterface("eth0", "10.1.0.5/16", "10.1.0.1");
    const auto home = db->addAddress("10.1");
    db->addConnectedItem(home, item("home"), program.path(), 1);
    db->database().execute({"insert into EntryNames values (?, 'Home')", {home}});
    // A program of its own (not another name of the one the other items
    // are), so that while it runs the others are not taken for it.
    fs::copy_file(testsupport::recordRunPath(), program / "bye");
    db->database().execute({"insert into ConnectedLeavingList (IPID,TargetPath,StartinPath,ListOrder) "
                            "values (?,?,?,1)",
                            {home, program / "bye", program.path()}});
    addressList("10.3", "office");
    disconnectedList("offline");
    // "bye" runs until the test closes its end of this pipe.
    int hold[2];
    ASSERT_EQ(pipe2(hold, O_CLOEXEC), 0);
    const int watcher =
        startWatcher(program / "errors", hold[0], "", {"CORVALE_RECORD_ENV=" + (program / "env")}, "bye");
    close(hold[0]);
    EXPECT_EQ(startedInOrder(1), Names{"home"}) << "the logon run has nothing to leave";
    auto recorded = [&](std::size_t run, const std::string& field) {
        return testsupport::readRecords(program / "record").at(run).at(field);
    };

    // A flap shorter than the settle time leaves nothing; the move to the
    // office does: "bye" outlives the bound, is named and left running, and
    // the office's list starts all the same.
    machine.moveTo("eth0", "10.1.0.5/16", "10.2.0.5/16", "10.2.0.1");
    machine.moveTo("eth0", "10.2.0.5/16", "10.1.0.5/16", "10.1.0.1");
    machine.moveTo("eth0", "10.1.0.5/16", "10.3.0.5/16", "10.3.0.1");
    EXPECT_EQ(startedInOrder(3, std::chrono::seconds(30)), (Names{"home", "bye", "office"}));
    std::vector<std::string> place;
    for (const std::string& variable :
         testsupport::recordedEnvironment(program / ("env." + recorded(1, "pid")))) {
        if (variable.rfind("BRISKEN_RUN", 0) == 0 || variable.rfind("BRISKEN_PLACE", 0) == 0 ||
            variable.rfind("BRISKEN_ENTRY", 0) == 0 || variable.rfind("BRISKEN_NEXT", 0) == 0) {
            place.push_back(variable);
        }
    }
    std::sort(place.begin(), place.end());
    EXPECT_EQ(place, (Names{"BRISKEN_ENTRY=10.1", "BRISKEN_NEXT_ENTRY=10.3", "BRISKEN_NEXT_PLACE=10.3",
                            "BRISKEN_PLACE=Home", "BRISKEN_RUN=leaving"}));
    ASSERT_TRUE(becomes(program / "errors", ": the list of 10.3: 1 started; on leaving: 1 ran, 1 still "
                                            "running after 10 s, left running: " +
                                                (program / "bye") + "\n"));

    // Home again, then the cable pulled: "bye" runs, and the disconnected
    // list waits for it to end.
    machine.moveTo("eth0", "10.3.0.5/16", "10.1.0.5/16", "10.1.0.1");
    EXPECT_EQ(startedInOrder(4).back(), "home");
    machine.setDown("eth0");
    EXPECT_EQ(startedInOrder(5).back(), "bye");
    EXPECT_EQ(testsupport::readRecords(program / "record").size(), 5u) << "the next list waits";
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long released = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    close(hold[1]);
    EXPECT_EQ(startedInOrder(6).back(), "offline");
    EXPECT_GT(std::stoll(recorded(5, "monotonic_ns")), released);

    // Home once more, then its address taken away (a Wi-Fi that drops):
    // one more leaving, one more "bye".
    machine.setUp("eth0");
    machine.ip("route replace default via 10.1.0.1 dev eth0");
    EXPECT_EQ(startedInOrder(7).back(), "home");
    machine.ip("addr del 10.1.0.5/16 dev eth0");
    EXPECT_EQ(startedInOrder(9),
              (Names{"home", "bye", "office", "home", "bye", "offline", "home", "bye", "offline"}));

    kill(watcher, SIGTERM);
    EXPECT_EQ(testsupport::waitForExit(watcher), 0);
    const std::string errors = testsupport::readFile(program / "errors");
    EXPECT_EQ(errors.find("failed"), std::string::npos) << errors;
}

// The processes of runs that have not ended, the message's included.
std::size_t runsAlive(int watcher) {
    std::istringstream children(testsupport::readFile("/proc/" + std::to_string(watcher) + "/task/" +
                                                      std::to_string(watcher) + "/children"));
    return static_cast<std::size_t>(std::distance(std::istream_iterator<std::string>(children), {}));
}

// An arrival run's failures come as one notification of the desktop's
// notification server, naming the place and each item's reason; the
// watcher's own session bus, and a stand-in server on it.
TEST_F(Watcher, AnArrivalRunsFailuresComeAsOneNotification) {
    testsupport::SessionBus bus;
    ASSERT_TRUE(bus.running());
    const int server = testsupport::startProcess(
        {testsupport::notificationServerPath(), program / "shown", program / "ready", "act"},
        {bus.variable()});
    ASSERT_TRUE(becomes(program / "ready", "ready"));
    machine.addInterface("eth0", "10.1.0.5/16", "10.1.0.1");
    addressList("10.1", "home");
    const auto office = db->addAddress("10.2");
    db->database().execute({"insert into EntryNames values (?, 'Office')", {office}});
    db->addConnectedItem(office, item("office"), program.path(), 1);
    db->addConnectedItem(office, "/nonexistent/office-tool", program.path(), 2);
    db->addConnectedItem(db->addAddress("10.3"), "/nonexistent/lab-tool", program.path(), 1);
    // "Open Corvale" starts the program folder's corvale, here a recorder.
    fs::remove(program / "corvale");
    item("corvale");
    const int watcher =
        startWatcher(program / "errors", -1, "", {bus.variable(), "CORVALE_RECORD_ENV=" + (program / "env")});
    EXPECT_EQ(startedInOrder(1), Names{"home"});
    machine.moveTo("eth0", "10.1.0.5/16", "10.2.0.5/16", "10.2.0.1");
    EXPECT_TRUE(becomes(program / "shown",
                        "1 of 2 did not start at Office\t/nonexistent/office-tool: no such file\n"))
        << testsupport::readFile(program / "errors");
    // The first notification: another client's ActionInvoked opens nothing,
    // the server's closing ends it. The second: its action opens Corvale,
    // which is told of no place.
    machine.moveTo("eth0", "10.2.0.5/16", "10.3.0.5/16", "10.3.0.1");
    EXPECT_TRUE(
        becomes(program / "shown", "1 of 1 did not start at 10.3\t/nonexistent/lab-tool: no such file\n"));
    EXPECT_EQ(startedInOrder(2), (Names{"home", "office"})) << "opened by another client's signal";
    kill(server, SIGUSR1); // the person chooses "Open Corvale"
    EXPECT_EQ(startedInOrder(3), (Names{"home", "office", "corvale"}));
    const std::string opened = testsupport::readRecords(program / "record").at(2).at("pid");
    for (const std::string& variable : testsupport::recordedEnvironment(program / ("env." + opened))) {
        EXPECT_NE(variable.rfind("BRISKEN_", 0), 0u) << variable;
    }
    kill(watcher, SIGTERM);
    EXPECT_EQ(testsupport::waitForExit(watcher), 0);
    kill(server, SIGTERM);
    testsupport::waitForExit(server);
}

// The watcher on the session bus: where it is follows a move, a place's list
// runs by hand, a pause holds arrivals back, each place's systemd target is
// started and stopped, and only the session's own user may ask. Without a
// watcher, brisken says so, and runs a place's list itself.
TEST_F(Watcher, AnswersOnTheSessionBusAndKeepsEachPlacesTarget) {
    testsupport::SessionBus bus(true);
    ASSERT_TRUE(bus.running());
    machine.addInterface("eth0", "10.1.0.5/16", "10.1.0.1");
    const auto home = db->addAddress("10.1");
    db->addConnectedItem(home, item("home"), program.path(), 1);
    db->database().execute({"insert into EntryNames values (?, 'Home')", {home}});
    const auto office = db->addAddress("10.2");
    db->addConnectedItem(office, item("office"), program.path(), 1);
    db->database().execute({"insert into EntryNames values (?, 'My Office')", {office}});
    const int watcher =
        startWatcher(program / "errors", -1, "", {bus.variable(), "CORVALE_RECORD_ENV=" + (program / "env")});
    EXPECT_EQ(startedInOrder(1), Names{"home"});
    const auto brisken = [&](const std::string& options) {
        return testsupport::runCapturing("env -i PATH=/usr/bin:/bin " + bus.variable() + " CORVALE_RECORD=" +
                                         (program / "record") + " CORVALE_RECORD_ENV=" + (program / "env") +
                                         " " + (program / "brisken") + " " + options + " 2>&1");
    };
    const auto status = [&] { return brisken("--status").second; };
    // No systemd user instance at logon: said once; it is asked again at the
    // next arrival.
    ASSERT_TRUE(becomes(program / "errors",
                        "brisken: cannot start corvale-place@Home.target: no systemd user "
                        "instance answers on the session bus; nothing more is asked of "
                        "systemd before the next arrival\n"));
    const int systemd = testsupport::startProcess(
        {testsupport::systemdStandInPath(), program / "units", program / "ready"}, {bus.variable()});
    ASSERT_TRUE(becomes(program / "ready", "ready"));
    EXPECT_EQ(status(), "Place: Home\nEntry: 10.1\nAddress: 10.1.0.5\nInterface: eth0\nTunnel: no\n"
                        "Connected: yes\nPaused: no\n");

    // By hand, the list of a place the laptop is not at: once.
    EXPECT_EQ(brisken("'--place=my office'"),
              (std::pair<int, std::string>{0, "The watcher runs the list of my office now.\n"}));
    EXPECT_EQ(startedInOrder(2), (Names{"home", "office"}));
    EXPECT_EQ(variableOf(1, "BRISKEN_RUN"), "by-hand");
    EXPECT_EQ(variableOf(1, "BRISKEN_PLACE"), "My Office");
    EXPECT_EQ(brisken("--place=Lab"),
              (std::pair<int, std::string>{1, "brisken: No entry is named or written Lab.\n"}));

    // A move: the place and its target follow.
    machine.moveTo("eth0", "10.1.0.5/16", "10.2.0.5/16", "10.2.0.1");
    EXPECT_EQ(startedInOrder(3).back(), "office");
    EXPECT_TRUE(
        becomes(program / "units",
                "StopUnit corvale-place@Home.target\nStartUnit corvale-place@My\\x20Office.target\n"));
    EXPECT_EQ(status().substr(0, 46), "Place: My Office\nEntry: 10.2\nAddress: 10.2.0.5");

    // Paused, an arrival runs nothing and says so; another user cannot
    // resume it.
    EXPECT_EQ(brisken("--pause").first, 0);
    machine.moveTo("eth0", "10.2.0.5/16", "10.1.0.5/16", "10.1.0.1");
    EXPECT_TRUE(becomes(
        program / "errors",
        "brisken: paused: the list of Home is not run, nor what runs on leaving the list of My Office\n"));
    EXPECT_EQ(status(), "Place: Home\nEntry: 10.1\nAddress: 10.1.0.5\nInterface: eth0\nTunnel: no\n"
                        "Connected: yes\nPaused: yes\n");
    const auto [refused, said] = testsupport::runCapturing(
        "setpriv --reuid=65534 --regid=65534 --clear-groups env -i " + bus.variable() +
        " /usr/bin/gdbus call --session --dest example.corvale.Watcher --object-path /example/corvale/Watcher"
        " --method example.corvale.Watcher.Resume 2>&1");
    EXPECT_NE(refused, 0);
    EXPECT_NE(said.find("Only the user of this session may ask its watcher."), std::string::npos) << said;
    EXPECT_EQ(testsupport::readRecords(program / "record").size(), 3u);
    EXPECT_EQ(testsupport::readFile(program / "units"),
              "StopUnit corvale-place@Home.target\nStartUnit corvale-place@My\\x20Office.target\n")
        << "paused: the target stays";
    EXPECT_EQ(brisken("--resume").first, 0);
    EXPECT_EQ(status().substr(status().size() - 11), "Paused: no\n");
    // Run again by hand: the list of the place and its target.
    EXPECT_EQ(shell("env -i " + bus.variable() +
                    " /usr/bin/gdbus call --session --dest example.corvale.Watcher --object-path"
                    " /example/corvale/Watcher --method example.corvale.Watcher.Rerun"),
              0);
    EXPECT_EQ(startedInOrder(4).back(), "home");
    EXPECT_TRUE(becomes(program / "units", "StopUnit corvale-place@My\\x20Office.target\n"
                                           "StartUnit corvale-place@Home.target\n"));

    // No watcher: the questions say so; a place's list runs here, once.
    kill(watcher, SIGTERM);
    EXPECT_EQ(testsupport::waitForExit(watcher), 0);
    EXPECT_TRUE(becomes(program / "units",
                        "StartUnit corvale-place@Home.target\nStopUnit corvale-place@Home.target\n"));
    for (const char* question : {"--status", "--pause"}) {
        EXPECT_EQ(brisken(question),
                  (std::pair<int, std::string>{69, "brisken: no watcher runs in this session (nothing owns "
                                                   "example.corvale.Watcher on the session bus)\n"}));
    }
    const auto [ran, told] = brisken("--place=Home");
    EXPECT_EQ(ran, 0);
    EXPECT_NE(told.find("the list of Home runs once here\nbrisken: by hand: the list of Home: 1 started"),
              std::string::npos)
        << told;
    EXPECT_EQ(startedInOrder(5).back(), "home");
    EXPECT_EQ(variableOf(4, "BRISKEN_RUN"), "by-hand");
    EXPECT_EQ(testsupport::readFile(program / "errors").find("failed"), std::string::npos);
    kill(systemd, SIGTERM);
    testsupport::waitForExit(systemd);
}

// Nobody at the screen while the laptop moves: each run with a failure shows
// its message, and a run that only waits for its message ends when the next
// one begins.
TEST_F(Watcher, OneRunsMessageStandsAtATime) {
    testsupport::XDisplay screen;
    if (screen.display().empty()) {
        GTEST_SKIP() << "no X server for the messages";
    }
    machine.addInterface("eth0", "10.1.0.5/16", "10.1.0.1");
    db->addConnectedItem(db->addAddress("10.1"), "/nonexistent/home-tool", program.path(), 1);
    db->addConnectedItem(db->addAddress("10.2"), "/nonexistent/office-tool", program.path(), 1);
    const int watcher = startWatcher(program / "errors", -1, screen.display());
    EXPECT_TRUE(screen.windowCountBecomes("Brisken", 1)) << testsupport::readFile(program / "errors");
    machine.moveTo("eth0", "10.1.0.5/16", "10.2.0.5/16", "10.2.0.1");
    EXPECT_TRUE(becomes(program / "errors", "/nonexistent/office-tool: no such file"));
    EXPECT_TRUE(screen.windowCountBecomes("Brisken", 1));
    for (int i = 0; i < 1000 && runsAlive(watcher) != 1; ++i) {
        usleep(10'000);
    }
    EXPECT_EQ(runsAlive(watcher), 1u) << "the logon run's message still stands";
    kill(watcher, SIGTERM);
    EXPECT_EQ(testsupport::waitForExit(watcher), 0);
}

// Leaving a network, the watcher asks what it started for that network's
// marked items to end, and nothing else.
TEST_F(Watcher, MarkedItemsAreAskedToEndOnLeavingAndNothingElse) {
    machine.addInterface("eth0", "10.1.0.5/16", "10.1.0.1");
    // Programs that run until they are ended, each saying its process number.
    auto longRunning = [&](const std::string& name) {
        testsupport::writeFile(
            program / name,
            "#!/bin/sh\necho $$ > " + (program / (name + ".pid")) + "\nwhile :; do sleep 1; done\n", true);
        return program / name;
    };
    const auto home = db->addAddress("10.1");
    const auto office = db->addAddress("10.2");
    const auto music = db->addConnectedItem(home, longRunning("music.sh"), program.path(), 1);
    const auto notes = db->addConnectedItem(home, longRunning("notes.sh"), program.path(), 2);
    // A program that ignores SIGTERM is asked once, never again.
    testsupport::writeFile(program / "stubborn.sh",
                           "#!/bin/sh\ntrap '' TERM\necho $$ > " + (program / "stubborn.sh.pid") +
                               "\nwhile :; do sleep 1; done\n",
                           true);
    const auto stubborn = db->addConnectedItem(home, program / "stubborn.sh", program.path(), 100);
    const auto radio = db->addConnectedItem(home, longRunning("radio.sh"), program.path(), 3);
    // Kept at the office too, spelt otherwise there: it is not stopped.
    const auto keep = db->addConnectedItem(home, longRunning("keep.sh"), program.path(), 4);
    db->addConnectedItem(office, program.path() + "/./keep.sh", program.path(), 1);
    db->addConnectedItem(office, item("office"), program.path(), 2);
    std::vector<std::int64_t> marked{music, radio, keep, stubborn};
    // Many marked items with long names: each is asked to end all the same.
    testsupport::writeFile(
        program / "many.sh",
        "#!/bin/sh\necho $$ >> " + (program / "many.pids") + "\nwhile :; do sleep 1; done\n", true);
    constexpr int kMany = 30;
    for (int i = 0; i < kMany; ++i) {
        std::string spelt = program.path();
        for (int dots = 0; dots < 1200 + i; ++dots) {
            spelt += "/.";
        }
        marked.push_back(db->addConnectedItem(home, spelt + "/many.sh", program.path(), 5 + i));
    }
    for (const auto listId : marked) {
        db->database().execute({"insert into ItemOptions values ('ConnectedList', ?, 1)", {listId}});
    }
    // The radio runs already, started by the user: the watcher passes it over.
    const int radioByHand = testsupport::startProcess({program / "radio.sh"});
    ASSERT_TRUE(becomes(program / "radio.sh.pid", "\n"));
    const int watcher = startWatcher(program / "errors");
    ASSERT_TRUE(becomes(program / "music.sh.pid", "\n"));
    ASSERT_TRUE(becomes(program / "notes.sh.pid", "\n"));
    ASSERT_TRUE(becomes(program / "keep.sh.pid", "\n"));
    const int musicPid = std::stoi(testsupport::readFile(program / "music.sh.pid"));
    const int notesPid = std::stoi(testsupport::readFile(program / "notes.sh.pid"));
    const int keepPid = std::stoi(testsupport::readFile(program / "keep.sh.pid"));
    std::vector<int> many;
    for (int i = 0; i < 1000 && many.size() < kMany; ++i) {
        usleep(10'000);
        many.clear();
        std::istringstream pids(testsupport::readFile(program / "many.pids"));
        for (std::string pid; std::getline(pids, pid);) {
            many.push_back(std::stoi(pid));
        }
    }
    ASSERT_EQ(many.size(), std::size_t{kMany});
    ASSERT_TRUE(becomes(program / "stubborn.sh.pid", "\n"));
    const int stubbornPid = std::stoi(testsupport::readFile(program / "stubborn.sh.pid"));
    // The boxes as they stand when the laptop leaves count: music unticked
    // and notes ticked while they ran.
    db->database().execute({"update ItemOptions set StopOnLeave = 0 where ListID = ?", {music}});
    db->database().execute({"insert into ItemOptions values ('ConnectedList', ?, 1)", {notes}});

    // At the office the VPN comes up at once and takes the default route,
    // keeping a host route to its server: the office is where the laptop is.
    const int vpn = machine.addTunnel("tun0", "10.200.0.5", "10.200.0.1");
    ASSERT_GE(vpn, 0) << "no tun device could be made";
    machine.moveTo("eth0", "10.1.0.5/16", "10.2.0.5/16", "10.2.0.1");
    machine.ip("route add 203.0.113.7 via 10.2.0.1 dev eth0");
    machine.ip("route replace default via 10.200.0.1 dev tun0");
    EXPECT_EQ(startedInOrder(1), Names{"office"});
    EXPECT_TRUE(becomes(program / "errors", "1 passed over (already running), asked to end on leaving: " +
                                                (program / "notes.sh") + ", "))
        << testsupport::readFile(program / "errors");
    EXPECT_TRUE(becomes(program / "errors", (program / "stubborn.sh") + "\n"))
        << testsupport::readFile(program / "errors");
    // Orphans come to this test, which reaps them: the notes end, and so
    // does each of the many.
    many.push_back(notesPid);
    for (int i = 0; i < 1000 && !many.empty(); ++i) {
        std::erase_if(many, [](int pid) { return waitpid(pid, nullptr, WNOHANG) == pid; });
        usleep(10'000);
    }
    EXPECT_TRUE(many.empty()) << many.size() << " marked items' processes did not end";
    EXPECT_EQ(waitpid(musicPid, nullptr, WNOHANG), 0) << "an item unticked while it ran was stopped";
    EXPECT_EQ(waitpid(keepPid, nullptr, WNOHANG), 0) << "an item the office holds was stopped";
    EXPECT_EQ(waitpid(radioByHand, nullptr, WNOHANG), 0) << "a process the watcher did not start was stopped";

    // Leaving the office for a place not on file: the office's list ran
    // last and holds keep.sh unmarked, so it stays; the stubborn program
    // was asked once, and is not asked again.
    close(vpn);
    std::string runsBefore = testsupport::readFile(program / "errors");
    machine.moveTo("eth0", "10.2.0.5/16", "10.3.0.5/16", "10.3.0.1");
    EXPECT_TRUE(becomes(program / "errors", runsBefore + "brisken: on 10.3.0.5 (gateway 10.3.0.1): no entry "
                                                         "matches: nothing started\n"))
        << testsupport::readFile(program / "errors");
    EXPECT_EQ(waitpid(keepPid, nullptr, WNOHANG), 0) << "the list that ran last held it unmarked";
    EXPECT_EQ(kill(stubbornPid, 0), 0);

    // Home again: the next run is home's, and the stopped notes start anew.
    runsBefore = testsupport::readFile(program / "errors");
    machine.moveTo("eth0", "10.3.0.5/16", "10.1.0.5/16", "10.1.0.1");
    EXPECT_TRUE(becomes(program / "errors", runsBefore + "brisken: on 10.1.0.5"))
        << testsupport::readFile(program / "errors");
    kill(watcher, SIGTERM);
    EXPECT_EQ(testsupport::waitForExit(watcher), 0);
    // It is ended here, with the others.
    for (int i = 0;
         i < 1000 && testsupport::readFile(program / "notes.sh.pid") == std::to_string(notesPid) + "\n";
         ++i) {
        usleep(10'000);
    }
    const int notesAgain = std::stoi(testsupport::readFile(program / "notes.sh.pid"));
    EXPECT_NE(notesAgain, notesPid);
    kill(-notesAgain, SIGTERM);
    kill(-musicPid, SIGTERM);
    kill(-stubbornPid, SIGKILL);
    kill(-keepPid, SIGTERM);
    const auto manyStarted = [&] {
        const std::string pids = testsupport::readFile(program / "many.pids");
        return std::count(pids.begin(), pids.end(), '\n');
    };
    for (int i = 0; i < 1000 && manyStarted() < 2 * kMany; ++i) {
        usleep(10'000); // started anew at home
    }
    EXPECT_EQ(manyStarted(), 2 * kMany);
    std::istringstream manyPids(testsupport::readFile(program / "many.pids"));
    for (std::string pid; std::getline(manyPids, pid);) {
        kill(-std::stoi(pid), SIGTERM);
    }
    kill(radioByHand, SIGTERM);
}

// A document is followed by the application opened for it: not opened
// again while that runs, opened again once it has ended.
TEST_F(Watcher, ADocumentIsNotOpenedAgainWhileItsApplicationRuns) {
    machine.addInterface("eth0", "10.1.0.5/16", "10.1.0.1");
    testsupport::OwnDesktop desktop;
    desktop.addRecorder("Viewer", "text/plain;");
    testsupport::writeFile(program / "notes.txt", "a document\n");
    const auto office = db->addAddress("10.2");
    db->addConnectedItem(db->addAddress("10.1"), program / "notes.txt", program.path(), 1);
    db->addConnectedItem(office, program / "notes.txt", program.path(), 1);
    // A program of its own (a link to the viewer's file would be the viewer).
    fs::copy_file(testsupport::recordRunPath(), program / "office");
    db->addConnectedItem(office, program / "office", program.path(), 2);
    // The viewer holds until the test closes its end of the FIFO.
    ASSERT_EQ(mkfifo((program / "hold").c_str(), 0600), 0);
    const int hold = open((program / "hold").c_str(), O_RDWR | O_CLOEXEC);
    std::vector<std::string> environment = desktop.environment();
    environment.insert(environment.end(), {"CORVALE_RECORD_HOLD_FIFO=" + (program / "hold"),
                                           "CORVALE_RECORD_HOLD_ONLY=record_run"});
    const int watcher = startWatcher(program / "errors", -1, "", environment);
    EXPECT_EQ(startedInOrder(1), Names{"record_run"});

    machine.moveTo("eth0", "10.1.0.5/16", "10.2.0.5/16", "10.2.0.1");
    EXPECT_EQ(startedInOrder(2), (Names{"record_run", "office"}));
    EXPECT_TRUE(becomes(program / "errors", "1 passed over (already running)"))
        << testsupport::readFile(program / "errors");

    // The viewer is closed: home opens the document again.
    const int viewer = std::stoi(testsupport::readRecords(program / "record").front().at("pid"));
    close(hold);
    int ended = 0;
    for (int i = 0; i < 1000 && ended != viewer; ++i) {
        ended = waitpid(viewer, nullptr, WNOHANG);
        usleep(10'000);
    }
    ASSERT_EQ(ended, viewer) << "the viewer did not end";
    machine.moveTo("eth0", "10.2.0.5/16", "10.1.0.5/16", "10.1.0.1");
    EXPECT_EQ(startedInOrder(3), (Names{"record_run", "office", "record_run"}));
    kill(watcher, SIGTERM);
    EXPECT_EQ(testsupport::waitForExit(watcher), 0);
    // The viewer opened again waits for a FIFO writer that never comes.
    kill(std::stoi(testsupport::readRecords(program / "record").back().at("pid")), SIGTERM);
}

TEST_F(Watcher, StaysAloneStartsNoProgramTwiceAndOutlivesARunThatFailed) {
    machine.addInterface("eth0", "10.1.0.5/16", "10.1.0.1");
    // A mail client: a program of its own that runs until the test ends it.
    fs::copy_file(testsupport::recordRunPath(), program / "mail");
    const auto home = db->addAddress("10.1");
    const auto office = db->addAddress("10.2");
    db->addConnectedItem(home, program / "mail", program.path(), 1);
    db->addConnectedItem(office, program / "mail", program.path(), 2);
    db->addConnectedItem(office, item("office"), program.path(), 3);
    // A VPN script, run by its interpreter, on both lists.
    testsupport::writeFile(
        program / "vpn.sh",
        "#!/bin/sh\necho $$ >> " + (program / "vpn.started") + "\nwhile :; do sleep 1; done\n", true);
    db->addConnectedItem(home, program / "vpn.sh", program.path(), 4);
    db->addConnectedItem(office, program / "vpn.sh", program.path(), 5);
    auto scriptStarts = [&] {
        const std::string started = testsupport::readFile(program / "vpn.started");
        return std::count(started.begin(), started.end(), '\n');
    };
    // A shell left in a mount whose server has gone, its cat waiting there:
    // nothing that asks what runs looks into that mount.
    testsupport::SilentMount gone;
    const int stuck =
        gone.available()
            ? testsupport::startProcess(
                  {"/bin/sh", "-c", "cd " + gone.path() + " && exec cat notes " + (gone / "more")})
            : -1;
    // Another, in a mount that only its own mount namespace holds (a
    // rootless container's FUSE overlay): it is not looked at either.
    testsupport::SilentMount theirs;
    const int contained =
        theirs.available()
            ? testsupport::startProcess({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh",
                                         "-c", "cd " + theirs.path() + " && exec cat notes"})
            : -1;
    if (contained > 0) {
        const std::string cwd = "/proc/" + std::to_string(contained) + "/cwd";
        for (int i = 0; i < 1000 && (!fs::is_symlink(cwd) || fs::read_symlink(cwd) != theirs.path()); ++i) {
            usleep(10'000);
        }
        ASSERT_EQ(fs::read_symlink(cwd), theirs.path());
        ASSERT_EQ(shell("umount -l " + theirs.path()), 0) << "the mount stays in its own namespace alone";
    }
    int hold[2];
    ASSERT_EQ(pipe2(hold, O_CLOEXEC), 0);
    const int watcher = startWatcher(program / "errors", hold[0]);
    close(hold[0]);
    ASSERT_EQ(startedInOrder(1), Names{"mail"});
    ASSERT_TRUE(becomes(program / "vpn.started", "\n"));

    const std::string mailPid = testsupport::readRecords(program / "record").front().at("pid");
    if (stuck > 0) {
        EXPECT_EQ(waitpid(stuck, nullptr, WNOHANG), 0) << "the stuck process ended before the run";
    }
    const auto [dryStatus, dry] = testsupport::runCapturing("ip netns exec " + machine.name() + " env -i " +
                                                            (program / "brisken") + " --dry-run");
    EXPECT_NE(dry.find("\n  starts as a program\n  already running: process " + mailPid +
                       "; a watcher's run passes it over"),
              std::string::npos)
        << dry;
    const std::string scriptPid = testsupport::readFile(program / "vpn.started");
    EXPECT_NE(dry.find("vpn.sh\n  start in: " + program.path() +
                       "\n  starts as a program\n  already running: "
                       "process " +
                       scriptPid.substr(0, scriptPid.size() - 1) + ";"),
              std::string::npos)
        << dry;

    // A second watcher finds the first and ends at once.
    const int second = startWatcher(program / "second");
    EXPECT_EQ(testsupport::waitForExit(second), 0);
    const std::string said = testsupport::readFile(program / "second");
    EXPECT_NE(said.find("brisken: a watcher runs already for this session (process "), std::string::npos)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);

    // At the office the mail client and the script still run: only the
    // office's own item starts.
    machine.moveTo("eth0", "10.1.0.5/16", "10.2.0.5/16", "10.2.0.1");
    EXPECT_EQ(startedInOrder(2), (Names{"mail", "office"}));
    EXPECT_EQ(scriptStarts(), 1);

    // A run the engine refuses is reported, and the watcher goes on.
    testsupport::letAnotherUsersGroupWrite(program.path());
    machine.moveTo("eth0", "10.2.0.5/16", "10.1.0.5/16", "10.1.0.1");
    EXPECT_TRUE(
        becomes(program / "errors", "Brisken: The folder " + program.path() + " that holds the database"));
    fs::permissions(program.path(), fs::perms::group_write, fs::perm_options::remove);
    machine.moveTo("eth0", "10.1.0.5/16", "10.2.0.5/16", "10.2.0.1");
    EXPECT_EQ(startedInOrder(3), (Names{"mail", "office", "office"}));

    // The session ends: the watcher goes, the mail client stays.
    const auto mail = testsupport::readRecords(program / "record").front();
    kill(watcher, SIGTERM);
    EXPECT_EQ(testsupport::waitForExit(watcher), 0);
    EXPECT_EQ(kill(std::stoi(mail.at("pid")), 0), 0) << "the mail client ended with the watcher";
    EXPECT_EQ(testsupport::readRecords(program / "record").size(), 3u);

    // A watcher started again (a new login) starts nothing that still runs.
    const int again = startWatcher(program / "again");
    EXPECT_EQ(startedInOrder(4), (Names{"mail", "office", "office", "office"}));
    kill(again, SIGTERM);
    EXPECT_EQ(testsupport::waitForExit(again), 0);
    EXPECT_EQ(scriptStarts(), 1);

    // A runtime folder every user can write holds no lock worth having: the
    // list runs once all the same, and the reason is given.
    fs::permissions(runtime.path(), fs::perms::all);
    const int lockless = startWatcher(program / "lockless");
    EXPECT_EQ(testsupport::waitForExit(lockless), 0);
    EXPECT_NE(testsupport::readFile(program / "lockless")
                  .find("brisken: no watcher stays for this session: The folder " + runtime.path() +
                        " can be written by every user"),
              std::string::npos)
        << testsupport::readFile(program / "lockless");
    Names once = startedInOrder(6);
    once.erase(once.begin(), once.begin() + 4);
    std::sort(once.begin(), once.end()); // started one after the other, recorded as each comes
    EXPECT_EQ(once, (Names{"mail", "office"})) << "a run as at logon";
    close(hold[1]);
    // The scripts end with their process groups (each started in a session of its own).
    for (int i = 0; i < 1000 && scriptStarts() < 2; ++i) {
        usleep(10'000);
    }
    EXPECT_EQ(scriptStarts(), 2) << "the run as at logon starts every item";
    std::istringstream scripts(testsupport::readFile(program / "vpn.started"));
    for (std::string pid; std::getline(scripts, pid);) {
        kill(-std::stoi(pid), SIGTERM);
    }
}

} // namespace
