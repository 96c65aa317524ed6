// The main window: start-up, menus, help, contact page, About box and exit.
#include "configtool/form3.h"
#include "configtool/mdi_form1.h"
#include "configtool/network_status.h"
#include "configtool/vb_list_box.h"
#include "platform/folders.h"
#include "platform/watcher_bus.h"
#include "shared/watch_lock.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using corvale::tool::MDIForm1;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

struct Tool {
    TempDir program;
    TempDir elsewhere;
    testsupport::FakeDialogs dialogs;
    std::unique_ptr<MDIForm1> window;

    Tool() { corvale::platform::changeFolder(elsewhere.path()); }
    MDIForm1& make() {
        window = std::make_unique<MDIForm1>(dialogs, program.path(), "shop.test");
        return *window;
    }
    void withDatabase() { testsupport::DatabaseFile(program / "corvale.mdb").addAddress("10.0.0.1"); }
};

QAction* action(MDIForm1& window, const char* name) {
    return window.findChild<QAction*>(name);
}

} // namespace

class MDIForm1Test : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::OwnDesktop> m_desktop;
    // The session's bus, where a watcher may answer.
    testsupport::SessionBus m_bus;
    TempDir m_records;
    std::string m_record;

private slots:
    // A desktop of the tests' own whose browser records what it was asked to open.
    void initTestCase() {
        m_desktop = std::make_unique<testsupport::OwnDesktop>();
        m_desktop->addRecorder("Browser", "text/html;x-scheme-handler/http;", "%u");
        m_desktop->apply();
        m_record = m_records / "record";
        qputenv("CORVALE_RECORD", QByteArray::fromStdString(m_record));
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(m_bus.address()));
    }
    void init() { fs::remove(m_record); }
    void cleanup() { testsupport::reapChildren(); }

    void windowAndMenusAreAsDesigned() {
        Tool tool;
        MDIForm1& window = tool.make();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QString("Corvale"));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.mdiArea()->size(), QSize(608, 512));
        QCOMPARE(window.mdiArea()->background().color(), QColor(0, 192, 192));

        const QList<QAction*> bar = window.menuBar()->actions();
        QCOMPARE(bar.size(), 2);
        QCOMPARE(bar[0]->text(), QString("&File"));
        QCOMPARE(bar[1]->text(), QString("&Help"));
        QStringList file;
        for (QAction* item : bar[0]->menu()->actions()) {
            file << item->objectName() + "=" + item->text();
        }
        QCOMPARE(file, (QStringList{"menuFileConfigure=&Configure", "menuFileRunList=&Run This List Now",
                                    "menuFileExit=E&xit"}));
        QStringList help;
        for (QAction* item : bar[1]->menu()->actions()) {
            help << item->objectName() + "=" + (item->isSeparator() ? "-" : item->text());
        }
        QCOMPARE(help,
                 (QStringList{"menuHelpView=&View Help", "menuHelpS1=-", "menuHelpContactUs=&Contact Us",
                              "menuHelpS2=-", "menuAbout=&About Corvale"}));
        QCOMPARE(action(window, "menuHelpView")->shortcut(), QKeySequence(Qt::Key_F1));
    }

    void startedElsewhereFindsTheDatabaseBesideItAndShowsTheForm() {
        Tool tool;
        tool.withDatabase();
        MDIForm1& window = tool.make();
        QCOMPARE(window.startUp(), MDIForm1::StartUp::Ready);
        QVERIFY(tool.dialogs.messages.empty());
        QCOMPARE(corvale::platform::currentFolder(), tool.program.path());
        QVERIFY(window.connection().dbase != nullptr);
        QVERIFY(window.form3() != nullptr);
        QCOMPARE(window.form3()->List1->count(), 1);
        QCOMPARE(window.mdiArea()->subWindowList().size(), 1);
    }

    void formIsActivatedOnceNotEachTimeTheToolComesBackToTheFront() {
        Tool tool;
        testsupport::DatabaseFile(tool.program / "corvale.mdb");
        MDIForm1& window = tool.make();
        QCOMPARE(window.startUp(), MDIForm1::StartUp::Ready);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.form3()->Text1->text(), QString("Enter new IP here"));
        window.form3()->Text1->setText("typed");
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        other.close();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.form3()->Text1->text(), QString("typed"));

        // Loaded again from the menu while the tool is on screen: activated once more.
        window.form3()->cmdClose_Click();
        QTRY_VERIFY(window.form3() == nullptr);
        action(window, "menuFileConfigure")->trigger();
        QVERIFY(window.form3() != nullptr);
        QCOMPARE(window.form3()->Text1->text(), QString("Enter new IP here"));
        QTRY_VERIFY(window.form3()->Text1->hasFocus());
    }

    void declinedSearchEndsTheToolWithItsRefusal() {
        Tool tool;
        tool.dialogs.answers = {corvale::MessageAnswer::Cancel};
        MDIForm1& window = tool.make();
        QCOMPARE(window.startUp(), MDIForm1::StartUp::End);
        QCOMPARE(tool.dialogs.messages.size(), std::size_t{2});
        QCOMPARE(tool.dialogs.messages[1].caption, std::string("Corvale"));
        QVERIFY(tool.dialogs.messages[1].text.find("cannot execute properly") != std::string::npos);
    }

    void cancelledFileDialogLeavesTheWindowWithoutDatabaseOrMessage() {
        Tool tool;
        MDIForm1& window = tool.make(); // OK at the prompt, then Cancel in the dialog
        QCOMPARE(window.startUp(), MDIForm1::StartUp::NoDatabase);
        QCOMPARE(tool.dialogs.messages.size(), std::size_t{1}); // only the prompt
        QVERIFY(window.form3() == nullptr);

        action(window, "menuFileConfigure")->trigger();
        QCOMPARE(tool.dialogs.messages.size(), std::size_t{2});
        QCOMPARE(tool.dialogs.messages[1].caption, std::string("Corvale"));
        QVERIFY(tool.dialogs.messages[1].text.find("No database is open") != std::string::npos);
        QVERIFY(window.form3() == nullptr);
    }

    // A file that is no database, an empty one, or one with another user's
    // journal beside it: the window stays without the form and says why.
    void databaseThatCannotBeOpenedLeavesAnEmptyWindowWithTheStoresDescription() {
        const std::vector<std::pair<std::string, std::string>> files = {
            {std::string(1024, 'x'), "file is not a database"},
            {"", "is not a Corvale database: it has no table IPs"}};
        for (const auto& [content, description] : files) {
            Tool tool;
            testsupport::writeFile(tool.program / "corvale.mdb", content);
            MDIForm1& window = tool.make();
            QCOMPARE(window.startUp(), MDIForm1::StartUp::NoDatabase);
            QCOMPARE(tool.dialogs.messages.size(), std::size_t{1});
            QVERIFY2(tool.dialogs.messages[0].text.find(description) != std::string::npos,
                     tool.dialogs.messages[0].text.c_str());
            QCOMPARE(tool.dialogs.messages[0].caption, std::string("Corvale"));
            QVERIFY(window.form3() == nullptr);
        }
        if (geteuid() != 0) {
            return;
        }
        Tool tool;
        tool.withDatabase();
        const std::string path = tool.program / "corvale.mdb";
        testsupport::leaveHotJournal(path);
        QCOMPARE(chown((path + "-journal").c_str(), 65534, 65534), 0);
        const std::string journal = testsupport::readFile(path + "-journal");
        const std::string before = testsupport::readFile(path);
        MDIForm1& window = tool.make();
        QCOMPARE(window.startUp(), MDIForm1::StartUp::NoDatabase);
        QCOMPARE(tool.dialogs.messages.size(), std::size_t{1});
        QVERIFY(tool.dialogs.messages[0].text.find("The file " + path +
                                                   "-journal beside the database belongs "
                                                   "to another user") != std::string::npos);
        QVERIFY2(testsupport::readFile(path) == before, "the journal was played back");
        QVERIFY(testsupport::readFile(path + "-journal") == journal);
    }

    // The engine's check, not a copy: the tool says once why the lists would
    // not run, its status line says it for as long as it holds, and the lists
    // can still be edited.
    void databaseTheEngineWouldRefuseIsEditableAndTheToolSaysWhy() {
        Tool tool;
        tool.withDatabase();
        testsupport::letAnotherUsersGroupWrite(tool.program.path());
        MDIForm1& window = tool.make();
        QCOMPARE(window.startUp(), MDIForm1::StartUp::Ready);
        QVERIFY(window.form3() != nullptr);
        QCOMPARE(window.form3()->List1->count(), 1);
        const std::string fix = "(chmod go-w " + tool.program.path() + ")";
        QCOMPARE(tool.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(tool.dialogs.messages[0].caption, std::string("Corvale"));
        QVERIFY2(tool.dialogs.messages[0].text.rfind(corvale::tool::kEngineWillRefuse, 0) == 0 &&
                     tool.dialogs.messages[0].text.find(fix) != std::string::npos,
                 tool.dialogs.messages[0].text.c_str());
        auto* line = window.findChild<QLabel*>("networkStatus");
        QVERIFY(line->text().startsWith("Brisken will refuse this database: The folder"));
        QVERIFY(line->text().contains(QString::fromStdString(fix)));

        fs::permissions(tool.program.path(), fs::perms::owner_all);
        window.findChild<corvale::tool::NetworkStatus*>("networkStatus")->refresh();
        QVERIFY(!line->text().startsWith("Brisken will refuse"));
        // What Test Start says stands beside the line, which stays in view.
        emit window.form3()->said("Started /usr/bin/true in /");
        QVERIFY(!line->isHidden());
        QCOMPARE(window.findChild<QLabel*>("statusNote")->text(), QString("Started /usr/bin/true in /"));
        QVERIFY(!window.findChild<QLabel*>("statusNote")->isHidden());
        QCOMPARE(tool.dialogs.messages.size(), std::size_t{1});
    }

    void aNewerProgramsFileIsShownAndTheToolSaysAtOnceThatNothingIsKept() {
        Tool tool;
        tool.withDatabase();
        testsupport::sqliteOutput(tool.program / "corvale.mdb", "pragma user_version = 99");
        MDIForm1& window = tool.make();
        QCOMPARE(window.startUp(), MDIForm1::StartUp::Ready);
        QCOMPARE(window.form3()->List1->count(), 1);
        QCOMPARE(tool.dialogs.messages.size(), std::size_t{1});
        QVERIFY2(tool.dialogs.messages[0].text.find("newer version") != std::string::npos,
                 tool.dialogs.messages[0].text.c_str());
    }

    // Where a watcher answers on the session bus, the status line is its
    // word and follows its signals, and Run This List Now asks it to run the
    // list shown; once it goes, the line is the tool's own look again.
    void statusLineFollowsTheWatcherWhichRunsTheListShownByHand() {
        using corvale::platform::BusRecord;
        QVERIFY(m_bus.running());
        int ends[2];
        QCOMPARE(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
        const int side = testsupport::startProcess({testsupport::watcherStandInPath()}, {m_bus.variable()},
                                                   "/", "", ends[1]);
        close(ends[1]);
        const auto tell = [&](const char* paused) {
            const std::string record = corvale::platform::busRecord(
                BusRecord::State, {"Office", "10.2", "10.2.0.5", "eth0", "0", "1", paused, "", "0"});
            QCOMPARE(send(ends[0], record.data(), record.size(), 0), static_cast<ssize_t>(record.size()));
        };
        tell("0");
        Tool tool;
        tool.withDatabase();
        testsupport::FakeNetwork network;
        network.list.adapters = {{"10.0.0.1", "10.0.0.254", "eth0", 2}};
        MDIForm1& window = tool.make();
        window.useNetwork(network);
        QCOMPARE(window.startUp(), MDIForm1::StartUp::Ready);
        auto* line = window.findChild<QLabel*>("networkStatus");
        QTRY_COMPARE(line->text(), QString("The watcher: on 10.2.0.5 (eth0): the list of Office"));
        tell("1");
        QTRY_COMPARE(
            line->text(),
            QString("The watcher: on 10.2.0.5 (eth0): the list of Office; paused, arrivals run nothing"));

        // The watcher runs the list shown (the entry's as stored) once, then
        // refuses one.
        std::vector<std::string> asked;
        std::thread watcher([&] {
            for (const char* refusal : {"", "The database is gone."}) {
                char buffer[512];
                const ssize_t got = recv(ends[0], buffer, sizeof buffer, 0);
                BusRecord kind{};
                std::vector<std::string> fields;
                if (got > 0 && corvale::platform::readBusRecord(std::string(buffer, got), kind, fields) &&
                    kind == BusRecord::RunPlace && fields.size() == 2) {
                    asked.push_back(fields[1]);
                    const std::string answer =
                        corvale::platform::busRecord(BusRecord::Answer, {fields[0], refusal});
                    send(ends[0], answer.data(), answer.size(), 0);
                }
            }
        });
        QVERIFY(window.form3() != nullptr);
        emit window.findChild<QMenu*>("menuFile")->aboutToShow();
        QVERIFY(action(window, "menuFileRunList")->isEnabled());
        action(window, "menuFileRunList")->trigger();
        QCOMPARE(window.findChild<QLabel*>("statusNote")->text(),
                 QString("The watcher runs the list of 10.0.0.1 now."));
        action(window, "menuFileRunList")->trigger();
        watcher.join();
        QCOMPARE(asked, (std::vector<std::string>{"10.0.0.1", "10.0.0.1"}));
        QCOMPARE(tool.dialogs.messages.back().text,
                 std::string("The watcher did not run the list: The database is gone."));
        // The disconnected list is no place to run by hand.
        window.form3()->Check1->click();
        emit window.findChild<QMenu*>("menuFile")->aboutToShow();
        QVERIFY(!action(window, "menuFileRunList")->isEnabled());

        close(ends[0]);
        QCOMPARE(testsupport::waitForExit(side), 0);
        QTRY_COMPARE(line->text(), QString("On 10.0.0.1 (gateway 10.0.0.254): the list of 10.0.0.1"));
    }

    // The status bar offers the entries for the network the machine is on;
    // one chosen is added as Add IP adds, in the form, opened for it.
    void addThisNetworkOffersItsEntriesAndAddsTheOneChosen() {
        Tool tool;
        tool.withDatabase();
        testsupport::FakeNetwork network;
        network.list.adapters = {{"192.168.1.20", "192.168.1.1", "wlan0", 3}};
        // Dual stack: an IPv6 address of the day is offered as its networks.
        network.list.adapters[0].address6 = "2001:db8:7:1:a8c3::5";
        network.list.adapters[0].gateway6 = "fe80::1";
        network.hardware = {"00:1a:2b:3c:4d:5e", {}};
        network.wifi = {"Office WLAN", {}};
        MDIForm1& window = tool.make();
        window.useNetwork(network);
        QCOMPARE(window.startUp(), MDIForm1::StartUp::Ready);
        auto* line = window.findChild<QLabel*>("networkStatus");
        QCOMPARE(line->text(),
                 QString("On 192.168.1.20 (gateway 192.168.1.1, 00:1a:2b:3c:4d:5e; Wi-Fi \"Office "
                         "WLAN\"): no list matches"));
        auto* button = window.findChild<QToolButton*>("addThisNetwork");
        QVERIFY(button->isEnabled());
        window.form3()->cmdClose_Click();
        QTRY_VERIFY(window.form3() == nullptr);

        emit button->menu()->aboutToShow();
        QStringList offered;
        for (QAction* entry : button->menu()->actions()) {
            offered << entry->data().toString();
        }
        QCOMPARE(offered, (QStringList{"gateway:00:1a:2b:3c:4d:5e", "wifi:Office WLAN", "192.168.1.20",
                                       "192.168.1", "192.168", "2001:db8:7:1::/64", "2001:db8:7::/48", "*"}));
        for (const char* asked : {"wifi on 3", "gateway 192.168.1.1 on 3, resolving"}) {
            QVERIFY2(std::find(network.asked.begin(), network.asked.end(), asked) != network.asked.end(),
                     asked);
        }

        // The entry for any other network runs where no other matches.
        button->menu()->actions().back()->trigger();
        QTRY_COMPARE(line->text(), QString("On 192.168.1.20 (gateway 192.168.1.1, 00:1a:2b:3c:4d:5e; Wi-Fi "
                                           "\"Office WLAN\"): the list of any other network"));
        // A new entry is offered the Wi-Fi name as its own; the lists say the
        // name given.
        tool.dialogs.texts.push_back("Office");
        button->menu()->actions()[1]->trigger();
        QVERIFY(window.form3() != nullptr);
        QCOMPARE(tool.dialogs.textRequests.size(),
                 std::size_t{2}); // the entry for any other network, unnamed
        QCOMPARE(tool.dialogs.textRequests.back().text, std::string("Office WLAN"));
        auto* list1 = window.form3()->List1;
        QCOMPARE(list1->currentItem()->text(), QString("Office"));
        QCOMPARE(list1->currentItem()->toolTip(), QString("wifi:Office WLAN"));
        QCOMPARE(window.form3()->Text1->text(), QString("wifi:Office WLAN"));
        QCOMPARE(list1->selectedItems().size(), 1);
        QVERIFY(list1->currentItem()->isSelected());
        QCOMPARE(testsupport::sqliteOutput(tool.program / "corvale.mdb",
                                           "select IPaddress from IPs order by IPID"),
                 std::string("10.0.0.1\n*\nwifi:Office WLAN\n"));
        const QString typical = "On 192.168.1.20 (gateway 192.168.1.1, 00:1a:2b:3c:4d:5e; Wi-Fi "
                                "\"Office WLAN\"): the list of Office";
        QTRY_COMPARE(line->text(), typical);

        // A line this long loses the gateway's details at the default size,
        // keeping the place and the list's name; its tooltip holds it whole.
        // Where it fits it is drawn whole.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* status = static_cast<corvale::tool::NetworkStatus*>(line);
        QVERIFY2(!status->shownLine().contains("00:1a:2b"), qPrintable(status->shownLine()));
        QVERIFY(status->shownLine().endsWith("\"Office WLAN\"): the list of Office"));
        QCOMPARE(line->toolTip(), typical);
        window.resize(1000, window.height());
        QTRY_COMPARE(status->shownLine(), typical);

        // The button is reached from the form's last control, and has an
        // access key.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.form3()->cmdClose->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(window.form3()->cmdClose, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), button);
        QTest::keyClick(button, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.form3()->List1);
        QTest::keyClick(window.form3()->List1, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), button);
        QTest::keyClick(button, Qt::Key_Tab);
        QCOMPARE(button->text(), QString("Add This &Network"));
        bool opened = false;
        QTimer::singleShot(0, [button, &opened] {
            opened = button->menu()->isVisible();
            button->menu()->close();
        });
        QTest::keyClick(&window, Qt::Key_N, Qt::AltModifier); // the menu runs until closed
        QVERIFY(opened);

        button->menu()->actions()[1]->trigger(); // once more: already on file, not named again
        QCOMPARE(tool.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(tool.dialogs.messages[0].text, std::string("The IP is already on file."));
        QCOMPARE(tool.dialogs.textRequests.size(), std::size_t{2});

        // A watcher of this session runs the list on arrival.
        testsupport::TempDir runtime;
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
        std::string holder;
        corvale::platform::FileDescriptor lock =
            corvale::takeWatchLock(corvale::watchLockPath(tool.program.path()), holder);
        QVERIFY(lock);
        status->refresh();
        QVERIFY2(line->text().endsWith(": the list of Office (runs on arrival)"), qPrintable(line->text()));
        lock.reset();
        status->refresh();
        QVERIFY(!line->text().contains("runs on arrival"));
        qunsetenv("XDG_RUNTIME_DIR");

        // An item added to the list of the network the laptop is on says
        // when it starts.
        window.form3()->Text2->setText("/usr/bin/true");
        window.form3()->Text3->setText("/");
        window.form3()->cmdAddPath_Click();
        QCOMPARE(window.findChild<QLabel*>("statusNote")->text(),
                 QString("It starts at the next logon or arrival here; Test Start starts it now."));

        // Without a network there is nothing to add, and the button says so.
        network.isAlive = false;
        window.findChild<corvale::tool::NetworkStatus*>("networkStatus")->refresh();
        QVERIFY(!button->isEnabled());
        QVERIFY(button->toolTip().contains("no network"));
    }

    void configureShowsTheOneFormOrLoadsItAgain() {
        Tool tool;
        tool.withDatabase();
        MDIForm1& window = tool.make();
        window.startUp();
        window.show();
        corvale::tool::Form3* first = window.form3();
        action(window, "menuFileConfigure")->trigger();
        QCOMPARE(window.form3(), first);
        QCOMPARE(window.mdiArea()->subWindowList().size(), 1);

        first->cmdClose_Click();
        QTRY_VERIFY(window.form3() == nullptr);
        testsupport::DatabaseFile::addAddressTo(tool.program / "corvale.mdb", "10.0.0.2");
        action(window, "menuFileConfigure")->trigger();
        QVERIFY(window.form3() != nullptr);
        QCOMPARE(window.form3()->List1->count(), 2); // loaded afresh
    }

    void exitClosesTheDatabase() {
        Tool tool;
        tool.withDatabase();
        MDIForm1& window = tool.make();
        window.startUp();
        window.show();
        QVERIFY(window.close());
        QVERIFY(window.connection().dbase == nullptr);

        Tool again;
        again.withDatabase();
        MDIForm1& other = again.make();
        other.startUp();
        other.show();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTest::keyClick(&other, Qt::Key_Q, Qt::ControlModifier); // File > Exit
        QVERIFY(other.connection().dbase == nullptr);
    }

    void helpIsOpenedFromTheProgramFolderWhateverIsCurrent() {
        Tool tool;
        tool.withDatabase();
        testsupport::writeFile(tool.program / "Help.htm", "<html></html>");
        MDIForm1& window = tool.make();
        window.startUp();
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        corvale::platform::changeFolder(tool.elsewhere.path()); // as a test start does
        QTest::keyClick(window.form3()->Text1, Qt::Key_F1);
        const auto records = testsupport::waitForRecords(m_record, 1);
        QCOMPARE(records.size(), std::size_t{1});
        QCOMPARE(records[0].at("args"), tool.program / "Help.htm");
        QVERIFY(tool.dialogs.messages.empty());
    }

    void missingHelpIsReportedByItsName() {
        Tool tool;
        MDIForm1& window = tool.make();
        window.menuHelpView_Click();
        QCOMPARE(tool.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(tool.dialogs.messages[0].text, std::string(corvale::tool::kHelpFailedText));
        QVERIFY(tool.dialogs.messages[0].text.find("'Help.htm'") != std::string::npos);
        QCOMPARE(tool.dialogs.messages[0].caption, std::string("Corvale"));
    }

    void contactUsOpensTheContactPage() {
        Tool tool;
        MDIForm1& window = tool.make();
        action(window, "menuHelpContactUs")->trigger();
        const auto records = testsupport::waitForRecords(m_record, 1);
        QCOMPARE(records.size(), std::size_t{1});
        QCOMPARE(records[0].at("args"),
                 std::string("http://shop.test/store/index.php?route=information/contact"));
        QVERIFY(tool.dialogs.messages.empty());
    }

    void aboutTwiceShowsOneBoxAndLeavesTheWindowUsable() {
        Tool tool;
        tool.withDatabase();
        MDIForm1& window = tool.make();
        window.startUp();
        window.show();
        action(window, "menuAbout")->trigger();
        QPointer<corvale::tool::Form2> box = window.form2();
        QVERIFY(box);
        action(window, "menuAbout")->trigger();
        QCOMPARE(window.form2(), box.data());
        QVERIFY(!box->isModal());
        QVERIFY(box->parentWidget() == nullptr);
        QCOMPARE(QApplication::topLevelWidgets().count(box.data()), 1);
        action(window, "menuFileConfigure")->trigger(); // still usable
        QVERIFY(window.form3() != nullptr);
        box->close();
        QTRY_VERIFY(box.isNull());
    }
};

QTEST_MAIN(MDIForm1Test)
#include "mdi_form1_test.moc"
