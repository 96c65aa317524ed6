// Editing the startup lists on the configuration form, as a person would:
// adding, changing, moving and deleting items and addresses, choosing paths
// and trying an item out. Each test checks what the form shows and what the
// database holds afterwards.
#include "form_harness.h"

#include "shared/statements.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using corvale::MessageAnswer;
using corvale::MessageButtons;
using corvale::MessageIcon;
using toolsupport::FormHarness;
namespace st = corvale::statements;
namespace fs = std::filesystem;

namespace {

std::string messageOf(const FormHarness& h, std::size_t i) {
    return i < h.dialogs.messages.size() ? h.dialogs.messages[i].text : std::string("(no message)");
}

QString id(std::int64_t key) {
    return QString::number(key);
}

void typeInto(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
}

void press(FormHarness& h, const char* button) {
    QTest::mouseClick(h.button(button), Qt::LeftButton);
}

constexpr const char* kOnFile = "The Startup List item is already on file.";

} // namespace

class Form3EditingTest : public QObject {
    Q_OBJECT

private slots:
    void addingAnItemDerivesItsFolderAndComesAfterEveryRowOfTheTable() {
        FormHarness h;
        const auto home = h.file.addAddress("10.1");
        h.file.addConnectedItem(h.file.addAddress("20.2"), "/opt/elsewhere", "/opt", 7);
        h.open();
        QCOMPARE(h.text("Text1")->text(), QString("10.1"));

        typeInto(h.text("Text2"), "/opt/tools/app");
        QTest::keyClick(h.text("Text2"), Qt::Key_Return); // Enter adds
        QVERIFY(h.dialogs.messages.empty());
        QCOMPARE(h.text("Text3")->text(), QString("/opt/tools/"));
        const QString where = " from ConnectedList where IPID = " + id(home) + " order by ListOrder";
        QCOMPARE(h.rows(("select TargetPath,StartinPath,ListOrder" + where).toStdString()),
                 QStringList{"/opt/tools/app|/opt/tools/|8"});
        QCOMPARE(h.entries(h.list("List2")), QStringList{"/opt/tools/app"});
        QCOMPARE(h.selectedRows(h.list("List2")), QList<int>{0});
        QCOMPARE(id(h.list("List2")->itemData(0)), h.rows(("select ListID" + where).toStdString())[0]);
        QCOMPARE(h.text("Text2")->selectedText(), QString("/opt/tools/app"));
        QTRY_COMPARE(QApplication::focusWidget(), h.text("Text2"));
        QVERIFY(h.enabled("cmdUpdateList") && h.enabled("cmdDelListItem") && h.enabled("cmdTestStart"));
        QVERIFY(!h.enabled("cmdUp") && !h.enabled("cmdDown"));

        // The same target again is refused and nothing is written.
        press(h, "cmdAddPath");
        QCOMPARE(messageOf(h, 0), std::string(kOnFile));
        QCOMPARE(h.dialogs.messages[0].caption, std::string("Corvale"));
        QCOMPARE(h.dialogs.messages[0].icon, MessageIcon::None);
        QCOMPARE(h.rows(("select ListID" + where).toStdString()).size(), 1);
        QCOMPARE(h.text("Text2")->selectedText(), QString("/opt/tools/app"));

        // A new target takes its own folder while the box holds only the one
        // filled in for the item before; a folder typed stays for the next.
        typeInto(h.text("Text2"), "/srv/tool/x");
        press(h, "cmdAddPath");
        typeInto(h.text("Text2"), "/usr/bin/second");
        typeInto(h.text("Text3"), "/home");
        press(h, "cmdAddPath");
        typeInto(h.text("Text2"), "/usr/bin/third");
        press(h, "cmdAddPath");
        QCOMPARE(h.rows(("select TargetPath,StartinPath,ListOrder" + where).toStdString()),
                 (QStringList{"/opt/tools/app|/opt/tools/|8", "/srv/tool/x|/srv/tool/|9",
                              "/usr/bin/second|/home|10", "/usr/bin/third|/home|11"}));
        QCOMPARE(h.selectedRows(h.list("List2")), QList<int>{3});
        QVERIFY(h.enabled("cmdUp") && !h.enabled("cmdDown"));
    }

    void itemsThatCannotBeStartedAreRefusedAndNothingIsStored() {
        struct Case {
            const char* target;
            const char* startIn;
            const char* message;
            const char* focus;
        };
        const char* network =
            "The start-in path cannot be a network path.  Please map the network path to your "
            "machine, then use the mapped path (or mapped drive letter) as the Start-in path.";
        const char* noStartIn = "Please enter or select a start-in path, then click the Add Path button.";
        const Case cases[] = {
            {"", "/tmp", "Please enter or select a target path, then click the Add Path button.", "Text2"},
            {"app", "", noStartIn, "Text3"},
            {"smb://server/share/app", "", noStartIn, "Text3"},
            {"/opt/app", "//server/share", network, "Text3"},
            {"/opt/app", "\\\\server\\share", network, "Text3"},
            {"/opt/app", "smb://server/share", network, "Text3"},
            {"/opt/app", "sftp://host/home", network, "Text3"},
        };
        for (const Case& c : cases) {
            FormHarness h;
            h.file.addAddress("10.1");
            h.open();
            h.text("Text2")->setText(c.target);
            h.text("Text3")->setText(c.startIn);
            h.form->cmdAddPath_Click();
            QCOMPARE(messageOf(h, 0), std::string(c.message));
            QTRY_COMPARE(QApplication::focusWidget()->objectName(), QString(c.focus));
            QVERIFY(h.rows("select * from ConnectedList").isEmpty());
        }

        // A target on a network path is taken when a folder is typed.
        FormHarness h;
        const auto ip = h.file.addAddress("10.1");
        h.open();
        typeInto(h.text("Text2"), "//server/share/app");
        typeInto(h.text("Text3"), "/tmp");
        press(h, "cmdAddPath");
        QVERIFY(h.dialogs.messages.empty());
        QCOMPARE(h.rows("select IPID,TargetPath from ConnectedList"),
                 QStringList{id(ip) + "|//server/share/app"});

        // With no address selected there is no list to add to.
        QTest::mouseClick(h.button("Check1"), Qt::LeftButton);
        QTest::mouseClick(h.button("Check1"), Qt::LeftButton);
        typeInto(h.text("Text2"), "/opt/other");
        press(h, "cmdAddPath");
        QCOMPARE(messageOf(h, 0),
                 std::string("Please select an IP address to associate the startup path with."));
        QTRY_COMPARE(QApplication::focusWidget(), h.list("List1"));
        QCOMPARE(h.rows("select count(*) from ConnectedList"), QStringList{"1"});
    }

    void addingForSeveralAddressesSkipsThoseThatHaveIt() {
        FormHarness h;
        const auto a = h.file.addAddress("1.1");
        const auto b = h.file.addAddress("2.2");
        h.file.addConnectedItem(a, "/opt/app", "/opt", 1);
        h.file.addConnectedItem(h.file.addAddress("3.3"), "/opt/third", "/opt", 7);
        h.open();
        h.click(h.list("List1"), 1, Qt::ControlModifier); // 1.1 and 2.2; 2.2's list shown
        QCOMPARE(h.entries(h.list("List2")), QStringList());

        typeInto(h.text("Text2"), "/opt/app");
        typeInto(h.text("Text3"), "/opt");
        press(h, "cmdAddPath");
        QVERIFY2(h.dialogs.messages.empty(), "a duplicate is named only with one address selected");
        QCOMPARE(
            h.rows("select IPID,ListOrder from ConnectedList where TargetPath = '/opt/app' order by IPID"),
            (QStringList{id(a) + "|1", id(b) + "|8"}));
        // The new row of the shown list is listed, carrying its own key; as
        // one address had it already, nothing is selected anew.
        QCOMPARE(h.entries(h.list("List2")), QStringList{"/opt/app"});
        QCOMPARE(id(h.list("List2")->itemData(0)),
                 h.rows("select ListID from ConnectedList where IPID = " + std::to_string(b))[0]);
        QVERIFY(h.selectedRows(h.list("List2")).isEmpty());

        typeInto(h.text("Text2"), "/opt/both");
        press(h, "cmdAddPath");
        QCOMPARE(h.rows("select count(*) from ConnectedList where TargetPath = '/opt/both'"),
                 QStringList{"2"});
        QCOMPARE(h.selectedRows(h.list("List2")), QList<int>{1});
    }

    void aFailedSaveLeavesNothingHalfWrittenAndIsShown() {
        FormHarness h;
        h.file.addAddress("1.1");
        const auto b = h.file.addAddress("2.2");
        h.file.database().execute(
            {"CREATE TRIGGER refuse BEFORE INSERT ON ConnectedList WHEN NEW.IPID = " + std::to_string(b) +
                 " BEGIN SELECT RAISE(ABORT, 'the disk is full'); END",
             {}});
        h.open();
        h.click(h.list("List1"), 1, Qt::ControlModifier);
        typeInto(h.text("Text2"), "/opt/new");
        typeInto(h.text("Text3"), "/opt");
        press(h, "cmdAddPath");
        QCOMPARE(h.dialogs.messages.size(), std::size_t{1});
        QVERIFY(messageOf(h, 0).find("the disk is full") != std::string::npos);
        QCOMPARE(h.dialogs.messages[0].caption, std::string("Corvale"));
        QVERIFY2(h.rows("select * from ConnectedList").isEmpty(), "the row of 1.1 went back too");
        QCOMPARE(h.list("List2")->count(), 0);

        // The form goes on working, and the store is not left locked.
        h.click(h.list("List1"), 0);
        typeInto(h.text("Text2"), "/opt/new");
        typeInto(h.text("Text3"), "/opt");
        press(h, "cmdAddPath");
        QCOMPARE(h.rows("select TargetPath from ConnectedList"), QStringList{"/opt/new"});
    }

    // Another tool deleted the address, or the item, while this one showed
    // it: nothing is written for a row nobody would see again.
    void rowsDeletedByAnotherToolAreNotWrittenToAndTheListsAreShownAnew() {
        FormHarness h;
        const auto gone = h.file.addAddress("1.1");
        const auto kept = h.file.addAddress("2.2");
        const auto item = h.file.addConnectedItem(kept, "/opt/item", "/opt", 1);
        h.open();
        h.file.database().execute(st::deleteAddress(gone)); // the other tool
        typeInto(h.text("Text2"), "/opt/new");
        typeInto(h.text("Text3"), "/opt");
        press(h, "cmdAddPath");
        QCOMPARE(h.messageTexts(), std::vector<std::string>{corvale::tool::kChangedElsewhere});
        QCOMPARE(h.rows("select TargetPath from ConnectedList"), QStringList{"/opt/item"});
        QCOMPARE(h.entries(h.list("List1")), QStringList{"2.2"});
        QCOMPARE(h.entries(h.list("List2")), QStringList{"/opt/item"});

        h.click(h.list("List2"), 0);
        h.file.database().execute(st::deleteItem(st::ListTable::Connected, item));
        typeInto(h.text("Text2"), "/opt/changed");
        press(h, "cmdUpdateList");
        QCOMPARE(h.dialogs.messages.size(), std::size_t{2});
        QVERIFY(h.rows("select * from ConnectedList").isEmpty());
        QCOMPARE(h.list("List2")->count(), 0);
    }

    // A journal or log that another user lays beside the file while the
    // form is open, even in the moment between the tool's check and SQLite's
    // open: the next click reads and writes nothing, says which file and how
    // to put it right, and nothing of it reaches the file, not even when the
    // tool closes.
    void filesPlantedBesideTheDatabaseWhileTheFormIsOpenAreNeverPlayedBack() {
        if (geteuid() != 0) {
            QSKIP("only root can give a file to another user");
        }
        FormHarness h;
        h.file.addConnectedItem(h.file.addAddress("1.1"), "/opt/mine", "/opt", 1);
        h.open();
        const std::string path = h.file.path();
        const std::string before = testsupport::readFile(path);
        // Made on a copy, laid beside the file when SQLite looks for it.
        testsupport::TempDir theirs;
        fs::copy_file(path, theirs / "corvale.mdb");
        testsupport::leaveHotJournal(theirs / "corvale.mdb");
        testsupport::plantAnotherUsersLog(theirs / "corvale.mdb",
                                          "UPDATE ConnectedList SET TargetPath='/opt/theirs';");
        const auto layTheirs = [&](const std::string& suffix) {
            return [&, suffix] {
                fs::copy_file(theirs / ("corvale.mdb" + suffix), path + suffix);
                QCOMPARE(chown((path + suffix).c_str(), 65534, 65534), 0);
            };
        };
        {
            const testsupport::PlantWhenSqliteLooks plant(path + "-journal", layTheirs("-journal"));
            typeInto(h.text("Text1"), "2.2");
            press(h, "cmdAddIP");
        }
        QCOMPARE(h.dialogs.messages.size(), std::size_t{1});
        QVERIFY2(h.dialogs.messages[0].text.find("The file " + path +
                                                 "-journal beside the database belongs to "
                                                 "another user") != std::string::npos &&
                     h.dialogs.messages[0].text.find("(rm " + path + "-journal)") != std::string::npos,
                 h.dialogs.messages[0].text.c_str());
        QVERIFY2(testsupport::readFile(path) == before, "the journal was played back");
        QVERIFY(fs::exists(path + "-journal"));
        fs::remove(path + "-journal");

        {
            const testsupport::PlantWhenSqliteLooks plant(path + "-wal", [&] {
                layTheirs("-shm")();
                layTheirs("-wal")();
            });
            h.find<QCheckBox>("Check1")->click(); // shows the disconnected list
        }
        QCOMPARE(h.dialogs.messages.size(), std::size_t{2});
        QVERIFY2(h.dialogs.messages[1].text.find("The file " + path + "-wal beside") != std::string::npos,
                 h.dialogs.messages[1].text.c_str());
        QVERIFY(!h.entries(h.list("List2")).contains("/opt/theirs"));
        h.connection.dbase.reset();
        QVERIFY2(testsupport::readFile(path) == before, "the log was merged into the file");
    }

    // A path is any bytes: one that is not UTF-8 goes back as it came, and
    // deleting it from several addresses finds it in each.
    void pathsKeepTheirBytesThroughTheForm() {
        FormHarness h;
        const auto home = h.file.addAddress("1.1");
        const auto office = h.file.addAddress("2.2");
        for (const auto ipid : {home, office}) {
            h.file.database().execute(
                {"insert into ConnectedList (IPID,TargetPath,StartinPath,ListOrder) values "
                 "(?, cast(x'2f6f70742f636166e9' as text), cast(x'2f6f7074ff' as text), 1)",
                 {ipid}});
        }
        const std::string bytes =
            "select hex(TargetPath),hex(StartinPath) from ConnectedList order by ListID";
        const QStringList stored = h.rows(bytes);
        QCOMPARE(stored, (QStringList{"2F6F70742F636166E9|2F6F7074FF", "2F6F70742F636166E9|2F6F7074FF"}));
        h.open();
        h.click(h.list("List2"), 0);
        press(h, "cmdUpdateList");
        QVERIFY(h.dialogs.messages.empty());
        QCOMPARE(h.rows(bytes), stored);

        h.click(h.list("List1"), 1, Qt::ControlModifier);
        h.click(h.list("List2"), 0);
        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelListItem");
        QVERIFY(h.rows("select * from ConnectedList").isEmpty());

        // A target written by hand as long as a book: the list shows its
        // ends, the box holds it whole, and Update writes it back whole.
        const std::string book = "/opt/" + std::string(1 << 20, 'x');
        h.file.addConnectedItem(home, book, "/opt", 1);
        h.click(h.list("List1"), 1);
        h.click(h.list("List1"), 0);
        QVERIFY(h.list("List2")->item(0)->text().size() < 1000);
        h.click(h.list("List2"), 0);
        const std::size_t said = h.dialogs.messages.size();
        press(h, "cmdUpdateList");
        QCOMPARE(h.dialogs.messages.size(), said);
        QCOMPARE(h.rows("select length(TargetPath) from ConnectedList"),
                 QStringList{QString::number(book.size())});
    }

    // Another tool writes the same address at the same moment: it holds the
    // write lock with its row not yet committed, and commits once this tool
    // waits for the lock. The check and the insert are one transaction, so
    // this tool sees the row and adds none.
    void twoToolsAddingOneAddressAtOnceMakeOneRow() {
        FormHarness h;
        h.open();
        const std::string path = h.file.path();
        FILE* other = popen(("sqlite3 '" + path + "'").c_str(), "w");
        QVERIFY(other);
        // Its commit waits out the moment in which this tool, trying for the
        // lock, holds a read lock, as a tool's own commit would.
        std::fputs(".timeout 10000\nBEGIN IMMEDIATE; INSERT INTO IPs (IPaddress) VALUES ('10.9.9.9');\n",
                   other);
        std::fflush(other);
        QTRY_VERIFY(fs::exists(path + "-journal")); // it has begun to write
        std::thread commitWhenWaitedFor([other] {
            // This tool's thread sleeps between its tries for the lock.
            const std::string syscall = "/proc/self/task/" + std::to_string(getpid()) + "/syscall";
            for (;;) {
                const long number = std::atol(testsupport::readFile(syscall).c_str());
                if (number == SYS_clock_nanosleep || number == SYS_nanosleep) {
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            std::fputs("COMMIT;\n", other);
            std::fflush(other);
        });
        typeInto(h.text("Text1"), "10.9.9.9");
        press(h, "cmdAddIP");
        commitWhenWaitedFor.join();
        pclose(other);
        QCOMPARE(h.rows("select IPaddress from IPs"), QStringList{"10.9.9.9"});
        QCOMPARE(h.messageTexts(), std::vector<std::string>{"The IP is already on file."});
    }

    // Order numbers written by hand: a text is no number to count on from,
    // and at the largest number the new row takes it too and still comes last.
    void updatingAnItemKeepsItsPlaceOrSaysItIsOnFile() {
        FormHarness h;
        const auto ip = h.file.addAddress("10.1");
        h.file.addConnectedItem(ip, "/opt/a", "/start-a", 1);
        const auto b = h.file.addConnectedItem(ip, "/opt/b", "/start-b", 2);
        h.file.addDisconnectedItem("/opt/offline", "/tmp", 1);
        h.open();
        h.click(h.list("List2"), 1);

        // Only the folder changes: its own row is no duplicate.
        typeInto(h.text("Text3"), "/elsewhere");
        press(h, "cmdUpdateList");
        QVERIFY(h.dialogs.messages.empty());
        QCOMPARE(
            h.rows("select TargetPath,StartinPath from ConnectedList where ListID = " + std::to_string(b)),
            QStringList{"/opt/b|/elsewhere"});
        QCOMPARE(h.selectedRows(h.list("List2")), QList<int>{1});
        QCOMPARE(h.text("Text3")->text(), QString("/elsewhere"));
        QTRY_COMPARE(QApplication::focusWidget(), h.text("Text2"));

        typeInto(h.text("Text2"), "/opt/a");
        press(h, "cmdUpdateList");
        QCOMPARE(messageOf(h, 0), std::string(kOnFile));
        QCOMPARE(h.rows("select TargetPath from ConnectedList where ListID = " + std::to_string(b)),
                 QStringList{"/opt/b"});

        // Once the list is emptied without a reload there is nothing to update.
        QTest::mouseClick(h.button("Check1"), Qt::LeftButton);
        h.click(h.list("List2"), 0);
        QVERIFY(h.enabled("cmdUpdateList"));
        QTest::mouseClick(h.button("Check1"), Qt::LeftButton);
        QCOMPARE(h.list("List2")->count(), 0);
        QCOMPARE(h.text("Text2")->text(), QString("/opt/offline"));
        QVERIFY(!h.enabled("cmdUpdateList"));
        h.form->cmdUpdateList_Click();
        QCOMPARE(h.dialogs.messages.size(), std::size_t{1});
        QCOMPARE(h.rows("select TargetPath from DisConnectedList"), QStringList{"/opt/offline"});
    }

    void disconnectedListTakesItsItemsAndRefusesOnesItHolds() {
        FormHarness h;
        h.file.addConnectedItem(h.file.addAddress("10.1"), "/opt/connected", "/opt", 20);
        h.file.addDisconnectedItem("/opt/first", "/opt", 4);
        h.open();
        QTest::mouseClick(h.button("Check1"), Qt::LeftButton);
        typeInto(h.text("Text2"), "/usr/bin/offline");
        typeInto(h.text("Text3"), "/tmp");
        press(h, "cmdAddPath");
        QVERIFY(h.dialogs.messages.empty());
        QCOMPARE(h.rows("select TargetPath,StartinPath from DisConnectedList order by ListOrder"),
                 (QStringList{"/opt/first|/opt", "/usr/bin/offline|/tmp"}));
        QCOMPARE(h.selectedRows(h.list("List2")), QList<int>{1});

        press(h, "cmdAddPath");
        QCOMPARE(messageOf(h, 0), std::string(kOnFile));
        typeInto(h.text("Text2"), "/opt/first");
        press(h, "cmdUpdateList");
        QCOMPARE(messageOf(h, 1), std::string(kOnFile));
        typeInto(h.text("Text2"), "/usr/bin/renamed");
        press(h, "cmdUpdateList");
        QCOMPARE(h.dialogs.messages.size(), std::size_t{2});
        QCOMPARE(h.entries(h.list("List2")), (QStringList{"/opt/first", "/usr/bin/renamed"}));
        QCOMPARE(h.selectedRows(h.list("List2")), QList<int>{1});
    }

    void movingAnItemShowsAndStoresTheNewOrder() {
        FormHarness h;
        const auto ip = h.file.addAddress("10.1");
        h.file.addConnectedItem(ip, "/opt/a", "/opt", 2);
        h.file.addConnectedItem(ip, "/opt/b", "/opt", 5);
        h.file.addConnectedItem(ip, "/opt/c", "/opt", 9);
        h.open();
        auto* list2 = h.list("List2");
        h.click(list2, 1);
        press(h, "cmdUp");
        QCOMPARE(h.entries(list2), (QStringList{"/opt/b", "/opt/a", "/opt/c"}));
        QCOMPARE(h.selectedRows(list2), QList<int>{0});
        QCOMPARE(h.text("Text2")->text(), QString("/opt/b"));
        QVERIFY(!h.enabled("cmdUp") && h.enabled("cmdDown"));

        press(h, "cmdDown");
        press(h, "cmdDown");
        QCOMPARE(h.entries(list2), (QStringList{"/opt/a", "/opt/c", "/opt/b"}));
        QVERIFY(h.enabled("cmdUp") && !h.enabled("cmdDown"));

        // With the list emptied there is nothing to move, and nothing moves.
        h.click(h.list("List1"), 0, Qt::ControlModifier);
        QVERIFY(!h.enabled("cmdUp") && !h.enabled("cmdDown"));
        h.form->cmdUp_Click();
        QCOMPARE(h.rows("select TargetPath from ConnectedList where IPID = " + std::to_string(ip) +
                        " order by ListOrder"),
                 (QStringList{"/opt/a", "/opt/c", "/opt/b"}));
    }

    void deletingAddressesTakesTheirListsAndShowsTheOneAbove() {
        FormHarness h;
        const auto first = h.file.addAddress("1.1");
        const auto quoted = h.file.addAddress("2.2 it's");
        const auto third = h.file.addAddress("3.3");
        for (auto ip : {first, quoted, third}) {
            h.file.addConnectedItem(ip, "/opt/of" + std::to_string(ip), "/opt", ip);
        }
        h.open();
        auto* list1 = h.list("List1");
        h.click(list1, 0, Qt::ControlModifier); // nothing selected
        press(h, "cmdDelIP");
        QCOMPARE(messageOf(h, 0), std::string("Please select an IP to delete."));

        h.click(list1, 0);
        h.click(list1, 2, Qt::ControlModifier);
        press(h, "cmdDelIP"); // answered No
        QCOMPARE(messageOf(h, 1), std::string("Are you sure you want to delete the selected IPs?"));
        QCOMPARE(h.dialogs.messages[1].buttons, MessageButtons::YesNo);
        QCOMPARE(h.dialogs.messages[1].icon, MessageIcon::Question);
        QCOMPARE(h.dialogs.messages[1].defaultButton, MessageAnswer::No);
        QCOMPARE(h.rows("select count(*) from IPs"), QStringList{"3"});

        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelIP");
        QCOMPARE(h.rows("select IPaddress from IPs"), QStringList{"2.2 it's"});
        QCOMPARE(h.rows("select IPID from ConnectedList"), QStringList{id(quoted)});
        QCOMPARE(h.entries(list1), QStringList{"2.2 it's"});
        QCOMPARE(h.selectedRows(list1), QList<int>{0});
        QCOMPARE(h.text("Text1")->text(), QString("2.2 it's"));
        QCOMPARE(h.entries(h.list("List2")), QStringList{"/opt/of" + id(quoted)});

        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelIP");
        QCOMPARE(messageOf(h, 3), std::string("Are you sure you want to delete the selected IP?"));
        QVERIFY(h.rows("select * from IPs").isEmpty() && h.rows("select * from ConnectedList").isEmpty());
        QCOMPARE(list1->count(), 0);
        QCOMPARE(h.list("List2")->count(), 0);
        QCOMPARE(h.text("Text1")->text(), QString("Enter new IP here"));
        QCOMPARE(h.text("Text1")->selectedText(), QString("Enter new IP here"));
        QTRY_COMPARE(QApplication::focusWidget(), h.text("Text1"));
        QVERIFY(!h.enabled("cmdUpdate") && !h.enabled("cmdDelIP") && h.enabled("cmdAddIP"));
    }

    void deletingItemsRemovesExactlyTheSelectedRows() {
        FormHarness h;
        const auto ip = h.file.addAddress("10.1");
        h.file.addConnectedItem(ip, "/opt/a", "/opt", 1);
        h.file.addConnectedItem(ip, "/opt/b", "/opt", 2);
        h.file.addConnectedItem(ip, "/opt/c", "/opt", 3);
        h.file.addDisconnectedItem("/opt/a", "/opt", 1);
        h.open();
        auto* list2 = h.list("List2");
        h.click(list2, 1);
        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelListItem");
        QCOMPARE(messageOf(h, 0), std::string("Are you sure you want to delete the selected path?"));
        QCOMPARE(h.rows("select TargetPath,ListOrder from ConnectedList order by ListOrder"),
                 (QStringList{"/opt/a|1", "/opt/c|3"}));
        QCOMPARE(h.entries(list2), (QStringList{"/opt/a", "/opt/c"}));
        QCOMPARE(h.selectedRows(list2), QList<int>{0});
        QCOMPARE(h.text("Text2")->text(), QString("/opt/a"));

        h.click(list2, 1, Qt::ControlModifier);
        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelListItem");
        QCOMPARE(messageOf(h, 1), std::string("Are you sure you want to delete the selected paths?"));
        QVERIFY(h.rows("select * from ConnectedList").isEmpty());
        QCOMPARE(h.rows("select TargetPath from DisConnectedList"), QStringList{"/opt/a"});
        QCOMPARE(list2->count(), 0);
        QVERIFY(h.text("Text2")->text().isEmpty() && h.text("Text3")->text().isEmpty());
        QTRY_COMPARE(QApplication::focusWidget(), h.text("Text2"));
        QVERIFY(!h.enabled("cmdDelListItem"));
        press(h, "cmdDelListItem"); // disabled: nothing happens
        h.form->cmdDelListItem_Click();
        QCOMPARE(messageOf(h, 2), std::string("Please select a path to delete."));
    }

    void deletingWithSeveralAddressesSelectedTakesThePathFromEach() {
        FormHarness h;
        const auto a = h.file.addAddress("1.1 o'clock");
        const auto b = h.file.addAddress("2.2");
        const auto c = h.file.addAddress("3.3");
        for (auto ip : {a, b, c}) {
            h.file.addConnectedItem(ip, "/opt/it's", "/opt", ip);
        }
        h.file.addConnectedItem(a, "/opt/keep", "/opt", 10);
        h.open();
        h.click(h.list("List1"), 1);
        h.click(h.list("List1"), 0, Qt::ControlModifier); // 1.1 o'clock shown, 2.2 selected too
        h.click(h.list("List2"), 0);
        QCOMPARE(h.text("Text2")->text(), QString("/opt/it's"));
        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelListItem");
        QCOMPARE(h.rows("select IPID,TargetPath from ConnectedList order by ListID"),
                 (QStringList{id(c) + "|/opt/it's", id(a) + "|/opt/keep"}));
        QCOMPARE(h.entries(h.list("List2")), QStringList{"/opt/keep"});
        QVERIFY(h.selectedRows(h.list("List2")).isEmpty());
    }

    // Keys made outside the tool can be as large as SQLite's: one above 2^32
    // must not be taken for the key it has in its low 32 bits.
    void keysAbove32BitsDesignateExactlyTheirRows() {
        FormHarness h;
        auto sql = [&](const std::string& statement) { h.file.database().execute({statement, {}}); };
        const std::string big = "4294967297"; // 2^32 + 1: 1 in its low 32 bits
        sql("insert into IPs (IPID,IPaddress) values (1,'10.1'),(" + big + ",'10.2')");
        sql("insert into ConnectedList (ListID,IPID,TargetPath,StartinPath,ListOrder) values "
            "(1,1,'/opt/one','/opt',1),(4294967298," +
            big + ",'/opt/two-a','/opt',2),(8589934593," + big + ",'/opt/two-b','/opt',3)");
        h.open();
        h.click(h.list("List1"), 1);
        QCOMPARE(h.entries(h.list("List2")), (QStringList{"/opt/two-a", "/opt/two-b"}));

        h.click(h.list("List2"), 1);
        typeInto(h.text("Text2"), "/opt/two-c");
        press(h, "cmdUpdateList");
        press(h, "cmdUp");
        QCOMPARE(h.rows("select ListID,TargetPath,ListOrder from ConnectedList order by ListID"),
                 (QStringList{"1|/opt/one|1", "4294967298|/opt/two-a|3", "8589934593|/opt/two-c|2"}));

        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelListItem");
        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelIP");
        QCOMPARE(h.rows("select IPID,IPaddress from IPs"), QStringList{"1|10.1"});
        QCOMPARE(h.rows("select ListID from ConnectedList"), QStringList{"1"});
    }

    // A value left empty outside the tool (NULL) is shown as the empty text;
    // its entry still stands for its row, which can be mended or deleted.
    void rowsWithoutValuesCanBeShownMendedAndDeleted() {
        FormHarness h;
        h.file.database().execute({"insert into IPs (IPID,IPaddress) values (7,NULL),(8,'10.1')", {}});
        h.file.database().execute({"insert into ConnectedList (ListID,IPID,TargetPath,StartinPath,ListOrder) "
                                   "values (9,7,NULL,NULL,1),(10,7,'/opt/kept','/opt',2)",
                                   {}});
        h.open();
        QCOMPARE(h.entries(h.list("List1")), (QStringList{"", "10.1"}));
        QCOMPARE(h.entries(h.list("List2")), (QStringList{"", "/opt/kept"}));
        QVERIFY(h.messageTexts().empty());

        h.click(h.list("List2"), 0);
        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelListItem");
        QCOMPARE(h.rows("select ListID from ConnectedList"), QStringList{"10"});

        h.click(h.list("List1"), 0);
        typeInto(h.text("Text1"), "10.9");
        press(h, "cmdUpdate");
        QCOMPARE(h.rows("select IPID,IPaddress from IPs order by IPID"), (QStringList{"7|10.9", "8|10.1"}));
        QCOMPARE(h.messageTexts(),
                 std::vector<std::string>{"Are you sure you want to delete the selected path?"});
    }

    void choosingPathsByDialogFillsTheFields() {
        FormHarness h;
        h.file.addAddress("10.1");
        h.open();
        h.dialogs.files = {"/opt/tools/app"};
        press(h, "cmdTargetPath");
        QCOMPARE(h.dialogs.fileRequests.at(0).filter, std::string("All Files (*.*)|*.*"));
        QCOMPARE(h.dialogs.fileRequests.at(0).folder, QDir::homePath().toStdString()); // no target yet
        QCOMPARE(h.text("Text2")->text(), QString("/opt/tools/app"));
        QCOMPARE(h.text("Text3")->text(), QString("/opt/tools/"));
        QVERIFY(h.enabled("cmdAddPath") && h.enabled("cmdTestStart"));

        typeInto(h.text("Text3"), "/keep");
        h.dialogs.files = {"/usr/bin/other"};
        press(h, "cmdTargetPath");
        QCOMPARE(h.text("Text2")->text(), QString("/usr/bin/other"));
        QCOMPARE(h.text("Text3")->text(), QString("/keep"));
        press(h, "cmdTargetPath"); // cancelled
        QCOMPARE(h.text("Text2")->text(), QString("/usr/bin/other"));

        h.dialogs.folders = {"/srv/work"};
        press(h, "cmdStartIn");
        QCOMPARE(h.dialogs.folderTitles.at(0), std::string("Please select the Start In folder:"));
        QCOMPARE(h.text("Text3")->text(), QString("/srv/work"));
        press(h, "cmdStartIn"); // cancelled
        QCOMPARE(h.text("Text3")->text(), QString("/srv/work"));
        QCOMPARE(h.text("Text2")->text(), QString("/usr/bin/other"));
        // The pickers open where the fields point, where that is a folder.
        QCOMPARE(h.dialogs.fileRequests.at(1).folder, QDir::homePath().toStdString()); // no folder /opt/tools
        QCOMPARE(h.dialogs.folderStarts.at(1), QDir::homePath().toStdString());        // no folder /srv/work
        h.text("Text2")->setText(QString::fromStdString(h.dir / "app"));
        h.text("Text3")->setText(QString::fromStdString(h.dir.path()));
        press(h, "cmdTargetPath");
        press(h, "cmdStartIn");
        QCOMPARE(h.dialogs.fileRequests.back().folder, h.dir.path() + "/");
        QCOMPARE(h.dialogs.folderStarts.back(), h.dir.path());
        // A folder on a mount that no longer answers: the pickers open at
        // home once the bound is over, and the window draws meanwhile.
        if (testsupport::SilentMount gone; gone.available()) {
            h.text("Text2")->setText(QString::fromStdString(gone / "work/app"));
            h.text("Text3")->setText(QString::fromStdString(gone / "work"));
            int drawn = 0;
            QTimer ticks;
            connect(&ticks, &QTimer::timeout, [&] { ++drawn; });
            ticks.start(100);
            press(h, "cmdTargetPath");
            press(h, "cmdStartIn");
            QCOMPARE(h.dialogs.fileRequests.back().folder, QDir::homePath().toStdString());
            QCOMPARE(h.dialogs.folderStarts.back(), QDir::homePath().toStdString());
            QVERIFY2(drawn > 0, "the window's events waited for the mount");
        }

        const std::pair<const char*, const char*> folders[] = {
            {"/opt/tools/app", "/opt/tools/"}, {"/app", "/"},
            {"/opt/tools/", "/opt/tools/"},    {"app", ""},
            {"//server/share/app", ""},        {"smb://server/share/app", ""},
        };
        for (const auto& [target, folder] : folders) {
            h.text("Text2")->setText(target);
            QCOMPARE(h.form->defaultStartIn(), QString(folder));
        }
    }

    // Names are given with F2 or the list's menu, shown in place of the
    // entry, and go with it; marked items are saved, shown and deleted with
    // their rows, on either list.
    void namesAndStopMarksAreSavedShownAndGoWithTheirRows() {
        FormHarness h;
        const auto gateway = h.file.addAddress("gateway:02:00:00:aa:00:01");
        h.file.addAddress("10.1");
        h.open();
        auto* list1 = h.list("List1");
        h.click(list1, 1);
        list1->setFocus();
        h.dialogs.texts = {"Home"};
        QTest::keyClick(list1, Qt::Key_F2);
        QCOMPARE(h.dialogs.textRequests.at(0).text, std::string()); // none yet
        QCOMPARE(h.entries(list1), (QStringList{"10.1", "Home"}));
        QCOMPARE(list1->item(1)->toolTip(), QString("gateway:02:00:00:aa:00:01"));
        QVERIFY(list1->item(1)->isSelected());
        QCOMPARE(h.text("Text1")->text(), QString("gateway:02:00:00:aa:00:01"));
        QCOMPARE(h.rows("select IPID, Name from EntryNames"), QStringList{id(gateway) + "|Home"});

        // Renamed from the context menu; a name another entry has is refused.
        auto* name = list1->findChild<QAction*>("menuNameIP");
        QCOMPARE(name->text(), QString("&Name..."));
        h.dialogs.texts = {" Office "};
        name->trigger();
        QCOMPARE(h.dialogs.textRequests.at(1).text, std::string("Home"));
        QCOMPARE(h.entries(list1), (QStringList{"10.1", "Office"}));
        h.click(list1, 0);
        h.dialogs.texts = {"Office"};
        name->trigger();
        QCOMPARE(h.messageTexts().back(), std::string("Another entry is called Office already."));
        h.dialogs.texts = {""}; // nothing to take away
        name->trigger();
        QCOMPARE(h.entries(list1), (QStringList{"10.1", "Office"}));

        // A marked item on the named entry's list, changed, and one on the
        // disconnected list.
        h.click(list1, 1);
        typeInto(h.text("Text2"), "/usr/bin/music");
        typeInto(h.text("Text3"), "/");
        QVERIFY(h.button("chkStopOnLeave")->toolTip().contains(corvale::tool::kStopOnLeaveMeaning));
        h.button("chkStopOnLeave")->click();
        press(h, "cmdAddPath");
        auto* list2 = h.list("List2");
        QCOMPARE(h.entries(list2), QStringList{"(stops on leaving)  /usr/bin/music"});
        const QString music = h.rows("select ListID from ConnectedList").at(0);
        QCOMPARE(h.rows("select List, ListID, StopOnLeave from ItemOptions"),
                 QStringList{"ConnectedList|" + music + "|1"});
        h.click(list2, 0);
        QCOMPARE(h.text("Text2")->text(), QString("/usr/bin/music"));
        QVERIFY(h.button("chkStopOnLeave")->isChecked());
        h.button("chkStopOnLeave")->click();
        press(h, "cmdUpdateList");
        QCOMPARE(h.entries(list2), QStringList{"/usr/bin/music"});
        QCOMPARE(h.rows("select StopOnLeave from ItemOptions"), QStringList{"0"});
        h.button("Check1")->click();
        typeInto(h.text("Text2"), "/usr/bin/offline");
        typeInto(h.text("Text3"), "/");
        h.button("chkStopOnLeave")->click();
        press(h, "cmdAddPath");
        QCOMPARE(h.entries(list2), QStringList{"(stops on leaving)  /usr/bin/offline"});
        // The mark went with that item: the next one typed and added with
        // Enter is unmarked, and selecting an item shows its own mark.
        QVERIFY(h.button("chkStopOnLeave")->isChecked());
        typeInto(h.text("Text2"), "/usr/bin/backup");
        QVERIFY(!h.button("chkStopOnLeave")->isChecked());
        QTest::keyClick(h.text("Text2"), Qt::Key_Return);
        QCOMPARE(h.entries(list2), (QStringList{"(stops on leaving)  /usr/bin/offline", "/usr/bin/backup"}));
        h.click(list2, 0);
        QVERIFY(h.button("chkStopOnLeave")->isChecked());
        typeInto(h.text("Text2"), "/usr/bin/offline2");
        QVERIFY2(h.button("chkStopOnLeave")->isChecked(),
                 "an item's own mark stays while its target is changed");
        h.click(list2, 1);
        QVERIFY(!h.button("chkStopOnLeave")->isChecked());
        h.click(list2, 0);
        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelListItem");
        QCOMPARE(h.rows("select List, StopOnLeave from ItemOptions order by List"),
                 (QStringList{"ConnectedList|0", "DisConnectedList|0"}));

        // The entry goes with its name, its list and the list's options.
        h.button("Check1")->click();
        h.click(list1, 1);
        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelIP");
        QCOMPARE(h.entries(list1), QStringList{"10.1"});
        QCOMPARE(
            h.rows(
                "select (select count(*) from EntryNames) + (select count(*) from ItemOptions where List = "
                "'ConnectedList')"),
            QStringList{"0"});
    }

    void itemsOnLeavingAreChosenByKeyAndShownApart() {
        FormHarness h;
        h.file.addAddress("10.1");
        h.open();
        h.click(h.list("List1"), 0);
        auto* list2 = h.list("List2");
        auto* onLeaving = h.button("chkOnLeaving");
        typeInto(h.text("Text2"), "/usr/bin/music");
        typeInto(h.text("Text3"), "/");
        press(h, "cmdAddPath");
        // Its access key ticks it (as a click, shown pressed for a moment),
        // and Stop on leaving is then no choice.
        typeInto(h.text("Text2"), "/usr/bin/bye");
        QTest::keyClick(h.text("Text2"), Qt::Key_G, Qt::AltModifier);
        QTRY_VERIFY(onLeaving->isChecked());
        QVERIFY(!h.button("chkStopOnLeave")->isEnabled());
        QTest::keyClick(h.text("Text2"), Qt::Key_Return);
        typeInto(h.text("Text2"), "/usr/bin/mail");
        QTest::keyClick(h.text("Text2"), Qt::Key_G, Qt::AltModifier);
        QTRY_VERIFY(!onLeaving->isChecked());
        QTest::keyClick(h.text("Text2"), Qt::Key_Return);
        QCOMPARE(h.entries(list2),
                 (QStringList{"/usr/bin/music", "/usr/bin/mail", "(on leaving)  /usr/bin/bye"}));
        QCOMPARE(h.rows("select TargetPath from ConnectedLeavingList"), QStringList{"/usr/bin/bye"});
        // An item keeps among those of its time; changed to leaving, it goes
        // after them.
        h.click(list2, 2);
        QVERIFY(onLeaving->isChecked());
        QVERIFY(!h.button("cmdUp")->isEnabled());
        h.click(list2, 0);
        QVERIFY(h.button("cmdDown")->isEnabled());
        QTest::keyClick(h.text("Text2"), Qt::Key_G, Qt::AltModifier);
        QTRY_VERIFY(onLeaving->isChecked());
        press(h, "cmdUpdateList");
        QCOMPARE(h.entries(list2), (QStringList{"/usr/bin/mail", "(on leaving)  /usr/bin/bye",
                                                "(on leaving)  /usr/bin/music"}));
        QCOMPARE(h.rows("select TargetPath from ConnectedLeavingList order by ListOrder"),
                 (QStringList{"/usr/bin/bye", "/usr/bin/music"}));
        QVERIFY(list2->item(2)->isSelected());
        // Test Start runs a leaving item now, as any other.
        const std::string record = h.dir / "record";
        qputenv("CORVALE_RECORD", QByteArray::fromStdString(record));
        h.text("Text2")->setText(QString::fromStdString(testsupport::recordRunPath()));
        press(h, "cmdTestStart");
        QCOMPARE(testsupport::waitForRecords(record, 1).size(), std::size_t{1});
        // Both kinds go with their entry.
        h.dialogs.answers = {MessageAnswer::Yes};
        press(h, "cmdDelIP");
        QCOMPARE(h.rows("select count(*) from ConnectedLeavingList"), QStringList{"0"});
    }

    void testStartRunsTheItemOrSaysItCouldNot() {
        FormHarness h;
        h.file.addAddress("10.1");
        h.open();
        const std::string record = h.dir / "record";
        qputenv("CORVALE_RECORD", QByteArray::fromStdString(record));
        fs::create_directory(h.dir / "work");
        h.text("Text2")->setText(QString::fromStdString(testsupport::recordRunPath()));
        h.text("Text3")->setText(QString::fromStdString(h.dir / "work"));
        QSignalSpy started(h.form, &corvale::tool::Form3::said);
        press(h, "cmdTestStart");
        QCOMPARE(started.count(), 1);
        QCOMPARE(started[0][0].toString(), QString::fromStdString("Started " + testsupport::recordRunPath() +
                                                                  " in " + (h.dir / "work")));
        const auto records = testsupport::waitForRecords(record, 1);
        QCOMPARE(records.size(), std::size_t{1});
        QCOMPARE(records[0].at("cwd"), h.dir / "work");
        QVERIFY(h.dialogs.messages.empty());
        QVERIFY(h.rows("select * from ConnectedList").isEmpty());
        QVERIFY2(testsupport::zombieChildren().empty(), "the tool keeps no finished child");

        // The next try starts from the program folder, not from work: a
        // relative target is found there, and a missing folder leaves it there.
        fs::create_symlink(testsupport::recordRunPath(), h.dir / "tool");
        h.text("Text2")->setText("tool");
        h.text("Text3")->setText("gone");
        QSignalSpy said(h.form, &corvale::tool::Form3::said);
        press(h, "cmdTestStart");
        QCOMPARE(said.count(), 1); // where it started instead
        QCOMPARE(said[0][0].toString(),
                 QString::fromStdString("tool: its start-in folder gone is missing; it starts in " +
                                        h.dir.path()));
        const auto second = testsupport::waitForRecords(record, 2);
        QCOMPARE(second.size(), std::size_t{2});
        QCOMPARE(second[1].at("argv0"), h.dir / "tool");
        QCOMPARE(second[1].at("cwd"), h.dir.path());
        QVERIFY(h.dialogs.messages.empty());

        const std::string failed =
            "There was a problem starting the application.  Please verify the path and try again.";
        h.text("Text2")->setText(QString::fromStdString(h.dir / "missing"));
        press(h, "cmdTestStart");
        QCOMPARE(messageOf(h, 0), failed);
        testsupport::writeFile(h.dir / "notes.txt", "text");
        h.text("Text2")->setText(QString::fromStdString(h.dir / "notes.txt"));
        h.text("Text3")->setText(QString::fromStdString(h.dir / "no-such-folder"));
        press(h, "cmdTestStart");
        QCOMPARE(messageOf(h, 1), failed);
        QCOMPARE(h.dialogs.messages[1].caption, std::string("Corvale"));
    }

    void formBehavesAsADesktopFormDoes() {
        FormHarness h;
        const auto ip = h.file.addAddress("10.1");
        h.file.addConnectedItem(ip, "/opt/a", "/opt", 1);
        h.open();
        // The address list shows where its focus is, however it got it (no
        // key has been pressed yet).
        auto* list1 = h.list("List1");
        const QRect current = list1->visualItemRect(list1->item(0));
        h.text("Text1")->setFocus(Qt::OtherFocusReason);
        const QImage unfocused = list1->viewport()->grab(current).toImage();
        list1->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(list1->hasFocus());
        // A frame in the selected entry's text colour, at its very edge.
        const QImage focused = list1->viewport()->grab(current).toImage();
        const QPoint edge(0, current.height() / 2);
        QCOMPARE(focused.pixelColor(edge), list1->palette().color(QPalette::HighlightedText));
        QVERIFY(unfocused.pixelColor(edge) != focused.pixelColor(edge));
        auto* list2 = h.list("List2");
        h.click(list2, 0);
        // A stray click below the entries keeps what is being edited.
        QTest::mouseClick(list2->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(10, list2->viewport()->height() - 5));
        QCOMPARE(h.selectedRows(list2), QList<int>{0});
        QCOMPARE(h.text("Text2")->text(), QString("/opt/a"));

        // Enter presses the focused button, a picture button too.
        h.button("cmdDelListItem")->setFocus();
        QTest::keyClick(h.button("cmdDelListItem"), Qt::Key_Return);
        QCOMPARE(messageOf(h, 0), std::string("Are you sure you want to delete the selected path?"));
        h.button("cmdTargetPath")->setFocus();
        QTest::keyClick(h.button("cmdTargetPath"), Qt::Key_Return);
        QCOMPARE(h.dialogs.fileRequests.size(), std::size_t{1});

        // Focus in a path box selects its text, so typing replaces it.
        h.text("Text3")->setFocus();
        QTRY_COMPARE(h.text("Text3")->selectedText(), QString("/opt"));

        // Under a style sheet's larger font the captions still end at their
        // fields and are drawn whole.
        const int right = h.find<QLabel>("Label3")->geometry().right();
        h.form->setStyleSheet("QLabel { font-size: 15pt; }");
        for (const char* name : {"Label1", "Label2", "Label3", "Label5"}) {
            const QLabel* label = h.find<QLabel>(name);
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width(),
                     name);
        }
        QCOMPARE(h.find<QLabel>("Label3")->geometry().right(), right);
    }

    void entriesTheEngineCannotUseAreMarkedAndKeepTheirText() {
        testsupport::SilentMount gone; // a network mount whose server has gone
        FormHarness h;
        const QStringList stored = {"010.1", "10.20", "10.20.0.0/16", "10.20.0.1/16", "192.168.1.300",
                                    "gateway:zz", "wifi:Home", "10.20.16.0/20", "fd00:6::/64", "fd00:6::1",
                                    // one network twice: the engine takes the first by text
                                    "gateway:02:aa:bb:cc:dd:01", "gateway:02:AA:bb:cc:dd:01"};
        for (const QString& entry : stored) {
            h.file.addAddress(entry.toStdString());
        }
        // Two names alike but for case, laid by hand: the tool refuses to make them.
        for (const auto& [entry, name] : {std::pair{"10.30", "Cafe"}, {"10.31", "CAFE"}}) {
            h.file.database().execute(
                {"insert into EntryNames values (?, ?)", {h.file.addAddress(entry), name}});
        }
        const auto ipid = h.file.addAddress("10.1");
        testsupport::writeFile(h.dir / "tool", "#!/bin/sh\n");
        fs::permissions(h.dir / "tool", fs::perms::owner_exec, fs::perm_options::add);
        testsupport::writeFile(h.dir / "notes.sh", "#!/bin/sh\n");
        h.file.addConnectedItem(ipid, h.dir / "notes.sh", "", 5);
        fs::create_directory(h.dir / "shared");
        fs::permissions(h.dir / "shared", fs::perms::all);
        testsupport::writeFile(h.dir / "shared/tool", "#!/bin/sh\n");
        h.file.addConnectedItem(ipid, h.dir / "shared/tool", "", 6);
        h.file.addConnectedItem(ipid, "/opt/missing/app", "/opt", 1);
        h.file.addConnectedItem(ipid, "tool", "", 2); // found in the program folder
        testsupport::writeFile(h.dir / "brisken", "#!/bin/sh\n");
        h.file.addConnectedItem(ipid, h.dir / "brisken", "", 4); // the engine itself
        if (gone.available()) {
            h.file.addConnectedItem(ipid, gone / "app", "", 3);
        }
        h.open();
        auto* list1 = h.list("List1");
        QMap<QString, QString> warnings;
        for (int row = 0; row < list1->count(); ++row) {
            // An entry wider than the list has its whole text as its tooltip,
            // after any warning.
            const QString text = list1->item(row)->text();
            QString warning = list1->item(row)->toolTip();
            if (warning == text || warning.endsWith("\n" + text)) {
                warning.chop(std::min(warning.size(), text.size() + 1));
            }
            QCOMPARE(list1->item(row)->icon().isNull(), warning.isEmpty());
            warnings[text] = warning;
        }
        QCOMPARE(list1->findItems("gateway:02:AA:bb:cc:dd:01", Qt::MatchExactly)[0]->toolTip(),
                 QString("gateway:02:AA:bb:cc:dd:01"));
        QCOMPARE(list1->findItems("10.1", Qt::MatchExactly)[0]->toolTip(), QString());
        QCOMPARE(QStringList(warnings.keys()),
                 (QStringList{"010.1", "10.1", "10.20", "10.20.0.0/16", "10.20.0.1/16", "10.20.16.0/20",
                              "192.168.1.300", "CAFE", "Cafe", "fd00:6::/64", "fd00:6::1",
                              "gateway:02:AA:bb:cc:dd:01", "gateway:02:aa:bb:cc:dd:01", "gateway:zz",
                              "wifi:Home"}));
        QVERIFY(warnings["10.1"].isEmpty() && warnings["10.20"].isEmpty() && warnings["wifi:Home"].isEmpty());
        QVERIFY(warnings["10.20.16.0/20"].isEmpty() && warnings["fd00:6::/64"].isEmpty());
        QVERIFY(warnings["gateway:02:AA:bb:cc:dd:01"].isEmpty());
        QVERIFY2(
            warnings["gateway:02:aa:bb:cc:dd:01"].contains("The same network as gateway:02:AA:bb:cc:dd:01"),
            qPrintable(warnings["gateway:02:aa:bb:cc:dd:01"]));

        QCOMPARE(warnings["10.20.0.0/16"], QString("The same network as 10.20: this one never runs."));

        // The same network typed another way is on file already, for Add IP
        // and Update IP alike, and the message says which entry holds it.
        for (const auto& [button, typed, onFile] :
             {std::tuple{"cmdAddIP", "10.30.000.0/16", "10.30 (Cafe)"},
              {"cmdUpdate", "GATEWAY: 02:aa:BB:cc:dd:01 ", "gateway:02:AA:bb:cc:dd:01"}}) {
            h.click(list1, list1->row(list1->findItems("wifi:Home", Qt::MatchExactly)[0]));
            typeInto(h.text("Text1"), typed);
            press(h, button);
            QCOMPARE(h.messageTexts().back(),
                     "The IP is already on file: " + std::string(onFile) + " is the same network.");
        }
        QCOMPARE(h.dialogs.messages.size(), std::size_t{2});
        QCOMPARE(h.rows("select count(*) from IPs where IPaddress like 'gateway:02%'"), QStringList{"2"});
        QVERIFY2(warnings["010.1"].contains("010 begins with a zero"), qPrintable(warnings["010.1"]));
        QVERIFY2(warnings["Cafe"].startsWith("Another entry is called Cafe too"),
                 qPrintable(warnings["Cafe"]));
        QVERIFY2(warnings["10.20.0.1/16"].contains("bits set past its length; the network is 10.20.0.0/16"),
                 qPrintable(warnings["10.20.0.1/16"]));
        QVERIFY2(warnings["fd00:6::1"].contains("a prefix with its length"),
                 qPrintable(warnings["fd00:6::1"]));
        QVERIFY2(warnings["192.168.1.300"].contains("300 is larger than 255"),
                 qPrintable(warnings["192.168.1.300"]));
        QVERIFY2(warnings["gateway:zz"].contains("not a hardware address"),
                 qPrintable(warnings["gateway:zz"]));

        // The list of 10.1: the missing target is marked, the one beside the
        // program is not. The files are looked at off the main thread: the
        // list shows at once, even with an item on a mount that never answers.
        h.click(list1, list1->row(list1->findItems("10.1", Qt::MatchExactly)[0]));
        auto* list2 = h.list("List2");
        QCOMPARE(h.entries(list2).mid(0, 2), (QStringList{"/opt/missing/app", "tool"}));
        QCOMPARE(list2->count(), gone.available() ? 6 : 5);
        const auto tipOf = [&](const std::string& target) {
            return list2->findItems(QString::fromStdString(target), Qt::MatchExactly).at(0)->toolTip();
        };
        QTRY_VERIFY(tipOf(h.dir / "brisken").contains("it is Brisken itself"));
        QTRY_COMPARE(tipOf(h.dir / "shared/tool"),
                     QString::fromStdString("Brisken does not start this item: another user (any user) can "
                                            "change it (" +
                                            (h.dir / "shared") + ")."));
        QTRY_COMPARE(tipOf(h.dir / "notes.sh"),
                     QString("Opens as a document: it is not executable; chmod +x makes it a program."));
        QTRY_VERIFY(list2->item(0)->toolTip().contains("no such file"));
        QVERIFY(!list2->item(0)->icon().isNull());
        QVERIFY(list2->item(1)->toolTip().isEmpty() && list2->item(1)->icon().isNull());

        // Mended through the form, the mark goes.
        const int wrong = list1->row(list1->findItems("192.168.1.300", Qt::MatchExactly)[0]);
        h.click(list1, wrong);
        typeInto(h.text("Text1"), "192.168.1.30");
        press(h, "cmdUpdate");
        QCOMPARE(list1->item(wrong)->text(), QString("192.168.1.30"));
        QVERIFY(list1->item(wrong)->toolTip().isEmpty() && list1->item(wrong)->icon().isNull());
        QCOMPARE(h.rows("select count(*) from IPs where IPaddress = '192.168.1.30'"), QStringList{"1"});
    }

    void aScreenReaderNamesEachControlAndDeleteKeysAsk() {
        FormHarness h;
        const auto home = h.file.addAddress("10.1");
        h.file.addAddress("10.2");
        h.file.addConnectedItem(home, "/opt/a", "/opt", 1);
        h.open();
        const QList<std::pair<const char*, QString>> named = {
            {"List1", "IP Address"},        {"Text1", "IP Address"},         {"List2", "Startup List"},
            {"Text2", "Target Path"},       {"Text3", "Start-in Path"},      {"cmdDelIP", "Delete IP"},
            {"cmdTestStart", "Test Start"}, {"Check1", "Disconnected List"},
        };
        for (const auto& [name, spoken] : named) {
            QAccessibleInterface* control = QAccessible::queryAccessibleInterface(h.find<QWidget>(name));
            QVERIFY2(control, name);
            QCOMPARE(control->text(QAccessible::Name), spoken);
        }

        // Delete in the startup list asks first; No keeps the item.
        h.click(h.list("List2"), 0);
        QTest::keyClick(h.list("List2"), Qt::Key_Delete);
        QCOMPARE(messageOf(h, 0), std::string("Are you sure you want to delete the selected path?"));
        QCOMPARE(h.dialogs.messages[0].defaultButton, MessageAnswer::No);
        QCOMPARE(h.rows("select TargetPath from ConnectedList"), QStringList{"/opt/a"});
        h.dialogs.answers = {MessageAnswer::Yes};
        h.click(h.list("List2"), 0);
        QTest::keyClick(h.list("List2"), Qt::Key_Delete);
        QCOMPARE(h.rows("select TargetPath from ConnectedList"), QStringList{});

        // Delete in the address list deletes the address after the same question.
        h.click(h.list("List1"), 0);
        QTest::keyClick(h.list("List1"), Qt::Key_Delete);
        QCOMPARE(h.dialogs.messages.size(), std::size_t{3});
        QCOMPARE(h.dialogs.messages[2].defaultButton, MessageAnswer::No);
        QCOMPARE(h.rows("select IPaddress from IPs order by IPaddress"), (QStringList{"10.1", "10.2"}));
        h.dialogs.answers = {MessageAnswer::Yes};
        h.click(h.list("List1"), 0);
        QTest::keyClick(h.list("List1"), Qt::Key_Delete);
        QCOMPARE(h.rows("select IPaddress from IPs"), QStringList{"10.2"});
    }
};

QTEST_MAIN(Form3EditingTest)
#include "form3_editing_test.moc"
