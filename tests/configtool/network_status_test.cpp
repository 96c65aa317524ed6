// The status bar line of the main window, in a network namespace of the
// test's own: it follows the network as interfaces and routes come, and the
// database as another program changes it.
#include "configtool/mdi_form1.h"
#include "shared/watch_lock.h"
#include "tests/support/test_support.h"

#include <QLabel>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <sched.h>
#include <unistd.h>

namespace {
bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}
} // namespace

class NetworkStatusTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (unshare(CLONE_NEWNET) != 0 || !run("ip link set lo up")) {
            QSKIP("no network namespace of our own here (needs root)");
        }
    }

    void lineFollowsTheNetworkAndTheDatabase() {
        testsupport::TempDir program;
        {
            testsupport::DatabaseFile db(program / "corvale.mdb");
            db.addConnectedItem(db.addAddress("192.168"), "/usr/bin/true", "/", 1);
        }
        testsupport::FakeDialogs dialogs;
        corvale::tool::MDIForm1 window(dialogs, program.path(), "shop.test");
        QCOMPARE(window.startUp(), corvale::tool::MDIForm1::StartUp::Ready);
        auto* line = window.findChild<QLabel*>("networkStatus");
        QVERIFY(line);
        QCOMPARE(line->text(), QString("No network: the disconnected list"));

        QVERIFY(run("ip link add eth0 type veth peer name peth0"));
        QVERIFY(run("ip link set peth0 up"));
        QVERIFY(run("ip addr add 192.168.1.20/24 dev eth0"));
        QVERIFY(run("ip link set eth0 up"));
        QTRY_COMPARE_WITH_TIMEOUT(line->text(), QString("On 192.168.1.20: the list of 192.168"), 10000);
        QVERIFY(run("ip route add default via 192.168.1.1 dev eth0"));
        QTRY_COMPARE_WITH_TIMEOUT(
            line->text(), QString("On 192.168.1.20 (gateway 192.168.1.1): the list of 192.168"), 10000);
        // A list with items that run on leaving counts both.
        testsupport::sqliteOutput(program / "corvale.mdb",
                                  "insert into ConnectedLeavingList (IPID,TargetPath,StartinPath,ListOrder) "
                                  "values (1, '/usr/bin/false', '/', 1)");
        QTRY_COMPARE_WITH_TIMEOUT(line->text(),
                                  QString("On 192.168.1.20 (gateway 192.168.1.1): the list of 192.168 (1 on "
                                          "arrival, 1 on leaving)"),
                                  10000);
        testsupport::sqliteOutput(program / "corvale.mdb", "delete from ConnectedLeavingList");

        // With a gateway: entry on file the line resolves the gateway as a
        // run would, and follows the kernel's neighbour table.
        const std::string router = "cvs-router-" + std::to_string(getpid());
        QVERIFY(run("ip netns add " + router));
        QVERIFY(run("ip link set peth0 netns " + router));
        QVERIFY(run("ip -n " + router + " link set dev peth0 address 02:00:00:aa:00:01"));
        QVERIFY(run("ip -n " + router + " addr add 192.168.1.1/24 dev peth0"));
        QVERIFY(run("ip -n " + router + " link set dev peth0 up"));
        testsupport::sqliteOutput(program / "corvale.mdb",
                                  "insert into IPs (IPaddress) values ('gateway:02:00:00:aa:00:01')");
        QTRY_COMPARE_WITH_TIMEOUT(
            line->text(),
            QString("On 192.168.1.20 (gateway 192.168.1.1, 02:00:00:aa:00:01): the list of "
                    "gateway:02:00:00:aa:00:01"),
            10000);
        QVERIFY(run("ip neigh replace 192.168.1.1 lladdr 02:00:00:bb:00:01 dev eth0 nud reachable"));
        QTRY_COMPARE_WITH_TIMEOUT(
            line->text(),
            QString("On 192.168.1.20 (gateway 192.168.1.1, 02:00:00:bb:00:01): the list of 192.168"), 10000);

        // A watcher that starts and ends, a folder made loose: no notice
        // tells, and the line follows all the same.
        testsupport::TempDir runtime;
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
        std::string holder;
        corvale::platform::FileDescriptor lock =
            corvale::takeWatchLock(corvale::watchLockPath(program.path()), holder);
        QVERIFY(lock);
        QTRY_VERIFY_WITH_TIMEOUT(line->text().endsWith(" (runs on arrival)"), 10000);
        lock.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!line->text().endsWith(" (runs on arrival)"), 10000);
        std::filesystem::permissions(program.path(),
                                     std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
        QTRY_VERIFY_WITH_TIMEOUT(line->text().startsWith("Brisken will refuse this database: The folder"),
                                 10000);
        std::filesystem::permissions(program.path(), std::filesystem::perms::owner_all);
        QTRY_VERIFY_WITH_TIMEOUT(line->text().startsWith("On 192.168.1.20"), 10000);

        testsupport::sqliteOutput(program / "corvale.mdb", "delete from IPs");
        QTRY_VERIFY_WITH_TIMEOUT(line->text().startsWith("On 192.168.1.20 (gateway 192.168.1.1") &&
                                     line->text().endsWith("): no list matches"),
                                 10000);
        // Docked: the Ethernet's route has the lower metric, and the line
        // follows the route the kernel sends by, then an IPv6-only network.
        QVERIFY(run("ip link add eth1 type veth peer name peth1") && run("ip link set peth1 up"));
        QVERIFY(run("ip addr add 10.60.7.5/24 dev eth1") && run("ip link set eth1 up"));
        QVERIFY(run("ip route del default dev eth0") &&
                run("ip route add default via 192.168.1.1 dev eth0 metric 600"));
        QVERIFY(run("ip route add default via 10.60.7.1 dev eth1 metric 100"));
        QTRY_COMPARE_WITH_TIMEOUT(line->text(), QString("On 10.60.7.5 (gateway 10.60.7.1): no list matches"),
                                  10000);
        testsupport::sqliteOutput(program / "corvale.mdb",
                                  "insert into IPs (IPaddress) values ('fd00:6::/64')");
        QVERIFY(run("ip link del eth0") && run("ip -4 addr flush dev eth1"));
        QVERIFY(run("ip addr add fd00:6::5/64 dev eth1 nodad"));
        QVERIFY(run("ip -6 route add default via fe80::1 dev eth1"));
        QTRY_COMPARE_WITH_TIMEOUT(line->text(),
                                  QString("On fd00:6::5 (gateway fe80::1): the list of fd00:6::/64"), 10000);
        QVERIFY(dialogs.messages.empty());
        run("ip netns del " + router);
    }
};

QTEST_MAIN(NetworkStatusTest)
#include "network_status_test.moc"
