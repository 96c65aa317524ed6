// The status bar line of the main window, in a network namespace of the
// test's own: it follows the network as interfaces and routes come, and the
// database as another program changes it.
#include "configtool/mdi_form1.h"
#include "tests/support/test_support.h"

#include <QLabel>
#include <QTest>
#include <cstdlib>
#include <sched.h>

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

        testsupport::sqliteOutput(program / "corvale.mdb", "delete from IPs");
        QTRY_COMPARE_WITH_TIMEOUT(line->text(),
                                  QString("On 192.168.1.20 (gateway 192.168.1.1): no list matches"), 10000);
        QVERIFY(dialogs.messages.empty());
    }
};

QTEST_MAIN(NetworkStatusTest)
#include "network_status_test.moc"
