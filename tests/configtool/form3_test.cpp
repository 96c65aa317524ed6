// The configuration form, driven through its controls as a person would.
#include "form_harness.h"

#include "shared/statements.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>

using corvale::MessageButtons;
using toolsupport::FormHarness;
namespace st = corvale::statements;

namespace {
std::string messageOf(const FormHarness& h, std::size_t i) {
    return i < h.dialogs.messages.size() ? h.dialogs.messages[i].text : std::string("(no message)");
}
} // namespace

class Form3Test : public QObject {
    Q_OBJECT

private slots:
    void designHasEveryControlWhereItBelongs() {
        FormHarness h;
        auto* form = h.open();
        QCOMPARE(form->windowTitle(), QString("Startup Configuration"));
        QCOMPARE(h.window->size(), QSize(394, 451));
        QCOMPARE(h.list("List1")->geometry(), QRect(88, 8, 129, 95));
        QCOMPARE(h.text("Text1")->geometry(), QRect(240, 8, 129, 19));
        QCOMPARE(h.button("cmdTestStart")->geometry(), QRect(296, 292, 73, 44));
        QCOMPARE(h.button("cmdClose")->geometry(), QRect(304, 392, 65, 20));
        QCOMPARE(h.button("cmdAddIP")->text(), QString("&Add IP"));
        QCOMPARE(h.button("cmdUpdate")->text(), QString("&Update IP"));
        QCOMPARE(h.button("Check1")->text(), QString("D&isconnected List"));
        QCOMPARE(h.button("Check1")->toolTip(), QString("Startup list if no IP is detected."));
        QCOMPARE(h.button("cmdStartIn")->toolTip(),
                 QString("Optional; required only if different from the Target Path."));
        QCOMPARE(h.find<QLabel>("Label5")->text(), QString("Start-in Path:"));
        QCOMPARE(h.list("List1")->selectionMode(), QAbstractItemView::ExtendedSelection);

        // Tab order as designed.
        const QStringList order = {"List1",      "Text1",         "cmdAddIP",       "cmdUpdate",
                                   "cmdDelIP",   "Check1",        "cmdUp",          "cmdDown",
                                   "List2",      "cmdTargetPath", "cmdStartIn",     "cmdTestStart",
                                   "Text2",      "Text3",         "chkOnLeaving",   "chkStopOnLeave",
                                   "cmdAddPath", "cmdUpdateList", "cmdDelListItem", "cmdClose"};
        QWidget* at = h.find<QWidget>("List1");
        for (int i = 1; i < order.size(); ++i) {
            at = at->nextInFocusChain();
            while (qobject_cast<QLabel*>(at) || at->objectName().isEmpty() ||
                   at->objectName().startsWith("qt_")) {
                at = at->nextInFocusChain();
            }
            QCOMPARE(at->objectName(), order[i]);
        }
    }

    void emptyAddressTableOffersToTypeANewOne() {
        FormHarness h;
        h.open();
        QCOMPARE(h.list("List1")->count(), 0);
        QCOMPARE(h.form->currentIPIndex(), -1);
        QVERIFY(!h.enabled("cmdUpdate"));
        QVERIFY(!h.enabled("cmdDelIP"));
        QCOMPARE(h.text("Text1")->text(), QString("Enter new IP here"));
        QCOMPARE(h.text("Text1")->selectedText(), QString("Enter new IP here"));
        QTRY_VERIFY(h.text("Text1")->hasFocus());
        QVERIFY(h.enabled("cmdAddIP"));

        // Enter adds that very text.
        QTest::keyClick(h.text("Text1"), Qt::Key_Return);
        QCOMPARE(h.entries(h.list("List1")), QStringList{"Enter new IP here"});
        QCOMPARE(h.file.database().openRecordset(st::addressId("Enter new IP here")).recordCount(), 1u);
    }

    void openingSelectsTheFirstAddressInTextOrderAndShowsItsList() {
        FormHarness h;
        const auto nine = h.file.addAddress("9.1.1.1");
        const auto ten = h.file.addAddress("10.0.0.1");
        h.file.addConnectedItem(ten, "/opt/b", "/opt", 2);
        h.file.addConnectedItem(ten, "/opt/a", "/opt", 1);
        h.file.addConnectedItem(nine, "/opt/nine", "/opt", 3);
        h.open();
        QCOMPARE(h.entries(h.list("List1")), (QStringList{"10.0.0.1", "9.1.1.1"}));
        QCOMPARE(h.selectedRows(h.list("List1")), QList<int>{0});
        QCOMPARE(h.text("Text1")->text(), QString("10.0.0.1"));
        QCOMPARE(h.entries(h.list("List2")), (QStringList{"/opt/a", "/opt/b"}));
        QCOMPARE(h.list("List2")->itemData(0),
                 static_cast<qint32>(h.file.database()
                                         .openRecordset(st::connectedItemId(ten, "/opt/a"))
                                         .field("ListID")
                                         .number()));
        QVERIFY(h.enabled("cmdUpdate"));
        QVERIFY(h.enabled("cmdDelIP"));
        QCOMPARE(h.form->currentIPIndex(), 0);
        QVERIFY(!h.enabled("cmdUp") && !h.enabled("cmdDown") && !h.enabled("cmdUpdateList") &&
                !h.enabled("cmdDelListItem") && !h.enabled("cmdTestStart"));
    }

    void escapeOnAnyControlClosesTheFormButNotOneThatClosedABox() {
        for (const char* control : {"Text1", "List1", "cmdClose", "Text3"}) {
            FormHarness h;
            h.file.addAddress("10");
            h.open();
            QPointer<QMdiSubWindow> window = h.window;
            // A release whose press closed a message box or dialog.
            QTest::keyRelease(h.find<QWidget>(control), Qt::Key_Escape);
            QVERIFY2(!window.isNull(), control);
            QTest::keyClick(h.find<QWidget>(control), Qt::Key_Escape);
            QTRY_VERIFY2(window.isNull(), control);
        }
    }

    void widthOfTheListsFollowsTheFormAndNeverFails() {
        FormHarness h;
        h.open();
        const int before = h.list("List2")->width();
        const int height = h.list("List2")->height();
        h.window->resize(h.window->width() + 20, h.window->height());
        QCOMPARE(h.list("List2")->width(), before + 20);
        QCOMPARE(h.text("Text2")->width(), before + 20);
        QCOMPARE(h.text("Text3")->width(), before + 20);
        h.window->resize(h.window->width(), h.window->height() + 50);
        QCOMPARE(h.list("List2")->width(), before + 20);
        QCOMPARE(h.list("List2")->height(), height);
        h.window->resize(60, h.window->height());
        QVERIFY(h.list("List2")->width() > 0);

        // The user widens the form by its frame's right edge.
        h.window->resize(h.window->width() + 400, h.window->height());
        const int wide = h.list("List2")->width();
        const QPoint edge(h.window->width() - 2, h.window->height() / 2);
        QTest::mouseMove(h.window, edge);
        QTest::mousePress(h.window, Qt::LeftButton, Qt::NoModifier, edge);
        QTest::mouseMove(h.window, edge + QPoint(40, 0));
        QTest::mouseRelease(h.window, Qt::LeftButton, Qt::NoModifier, edge + QPoint(40, 0));
        QCOMPARE(h.list("List2")->width(), wide + 40);
    }

    void disconnectedListSwitchesTheFormsMode() {
        FormHarness h;
        h.file.addConnectedItem(h.file.addAddress("10.1.1.1"), "/opt/connected", "/opt", 1);
        h.file.addDisconnectedItem("/opt/offline", "/opt", 1);
        h.open();
        QTest::mouseClick(h.button("Check1"), Qt::LeftButton);
        QVERIFY(h.selectedRows(h.list("List1")).isEmpty());
        QCOMPARE(h.text("Text1")->text(), QString());
        QVERIFY(!h.list("List1")->isEnabled() && !h.text("Text1")->isEnabled());
        QVERIFY(!h.enabled("cmdAddIP") && !h.enabled("cmdUpdate") && !h.enabled("cmdDelIP"));
        QCOMPARE(h.entries(h.list("List2")), QStringList{"/opt/offline"});

        QTest::mouseClick(h.button("Check1"), Qt::LeftButton);
        QCOMPARE(h.list("List2")->count(), 0);
        QVERIFY(h.list("List1")->isEnabled() && h.text("Text1")->isEnabled());
        QVERIFY(h.enabled("cmdAddIP") && h.enabled("cmdUpdate") && h.enabled("cmdDelIP"));
        QTest::mouseClick(h.button("cmdUpdate"), Qt::LeftButton);
        QCOMPARE(messageOf(h, 0), std::string("Please select an IP to update."));
        QCOMPARE(h.dialogs.messages[0].caption, std::string("Corvale"));
        QCOMPARE(h.dialogs.messages[0].buttons, MessageButtons::Ok);
    }

    void selectIPWithAnUnknownTextLeavesNothingSelected() {
        FormHarness h;
        h.file.addAddress("10");
        h.file.addAddress("11");
        h.open();
        h.form->selectIP("12");
        QVERIFY(h.selectedRows(h.list("List1")).isEmpty());
        h.form->selectIP("11");
        QCOMPARE(h.selectedRows(h.list("List1")), QList<int>{1});
        QCOMPARE(h.text("Text1")->text(), QString("11"));
    }

    // An address added takes its place in the list's order (by text, "*"
    // last), where the list shows it when the form opens again.
    void addingAnAddressPutsItInItsPlaceAndSelectsIt() {
        FormHarness h;
        h.file.addAddress("20");
        h.open();
        QLineEdit* text1 = h.text("Text1");
        text1->setFocus();
        text1->selectAll();
        QTest::keyClicks(text1, "10.1 it's mine");
        QTest::keyClick(text1, Qt::Key_Return);
        QCOMPARE(h.entries(h.list("List1")), (QStringList{"10.1 it's mine", "20"}));
        QCOMPARE(h.selectedRows(h.list("List1")), QList<int>{0});
        QCOMPARE(h.list("List1")->currentRow(), 0);
        QCOMPARE(
            h.list("List1")->itemData(0),
            static_cast<qint32>(
                h.file.database().openRecordset(st::addressId("10.1 it's mine")).field("IPID").number()));
        QCOMPARE(h.list("List2")->count(), 0);
        QTRY_COMPARE(QApplication::focusWidget(), text1);
        QVERIFY(h.dialogs.messages.empty());
        // The added text stays selected: the next address typed replaces it.
        for (const char* typed : {"10.9.9.9", "*", "30"}) {
            QTest::keyClicks(text1, typed);
            QTest::keyClick(text1, Qt::Key_Return);
        }
        QCOMPARE(h.entries(h.list("List1")), (QStringList{"10.1 it's mine", "10.9.9.9", "20", "30", "*"}));
        const QStringList shown = h.entries(h.list("List1"));
        h.form->Form_Load(); // as when the form opens again
        QCOMPARE(h.entries(h.list("List1")), shown);

        // The same text again is refused, and the IP buttons end up enabled.
        h.form->unselectIPs();
        text1->setText("20");
        QTest::mouseClick(h.button("cmdAddIP"), Qt::LeftButton);
        QCOMPARE(messageOf(h, 0), std::string("The IP is already on file."));
        QCOMPARE(text1->selectedText(), QString("20"));
        QVERIFY(h.enabled("cmdUpdate") && h.enabled("cmdDelIP"));
        QCOMPARE(h.list("List1")->count(), 5);
    }

    void addingNothingAsksForAnAddress() {
        FormHarness h;
        h.file.addAddress("20");
        h.open();
        h.text("Text1")->clear();
        QVERIFY(!h.enabled("cmdAddIP") && !h.enabled("cmdUpdate"));
        QTest::keyClick(h.text("Text1"), Qt::Key_Return);
        QCOMPARE(messageOf(h, 0), std::string("Please enter an IP, then click the Add IP button."));
        QCOMPARE(h.list("List1")->count(), 1);

        h.text("Text1")->setText("   ");
        QTest::keyClick(h.text("Text1"), Qt::Key_Return);
        QCOMPARE(h.entries(h.list("List1")), (QStringList{"   ", "20"})); // blanks are text
    }

    void updatingAnAddressMovesItToItsPlaceAndKeepsItsList() {
        FormHarness h;
        const auto a = h.file.addAddress("1.1");
        h.file.addAddress("5.5");
        h.file.addConnectedItem(a, "/opt/tool", "/opt", 1);
        h.open();
        QCOMPARE(h.text("Text1")->text(), QString("1.1"));
        h.text("Text1")->setText("9.9");
        QTest::mouseClick(h.button("cmdUpdate"), Qt::LeftButton);
        QVERIFY(h.dialogs.messages.empty());
        QCOMPARE(h.entries(h.list("List1")), (QStringList{"5.5", "9.9"}));
        QCOMPARE(h.selectedRows(h.list("List1")), QList<int>{1});
        QCOMPARE(h.list("List1")->currentRow(), 1);
        QCOMPARE(h.entries(h.list("List2")), QStringList{"/opt/tool"});
        QTRY_VERIFY(h.list("List1")->hasFocus());

        // Its own unchanged text is no duplicate; another entry's text is.
        QTest::mouseClick(h.button("cmdUpdate"), Qt::LeftButton);
        QVERIFY(h.dialogs.messages.empty());
        h.text("Text1")->setText("5.5");
        QTest::mouseClick(h.button("cmdUpdate"), Qt::LeftButton);
        QCOMPARE(messageOf(h, 0), std::string("The IP is already on file."));
        QCOMPARE(h.file.database().openRecordset(st::addressId("9.9")).recordCount(), 1u);
    }

    void severalSelectedAddressesAndCtrlClicks() {
        FormHarness h;
        const auto a = h.file.addAddress("1.1");
        const auto b = h.file.addAddress("2.2");
        h.file.addConnectedItem(a, "/opt/a", "/opt", 1);
        h.file.addConnectedItem(b, "/opt/b", "/opt", 2);
        h.open();
        auto* list1 = h.list("List1");
        h.click(list1, 1, Qt::ControlModifier);
        QCOMPARE(h.selectedRows(list1), (QList<int>{0, 1}));
        QCOMPARE(h.text("Text1")->text(), QString());
        QVERIFY(!h.enabled("cmdUpdate"));
        QCOMPARE(h.entries(h.list("List2")), QStringList{"/opt/b"}); // the list of the last clicked

        QTest::mouseClick(h.button("cmdUpdate"), Qt::LeftButton); // disabled: nothing happens
        h.form->cmdUpdate_Click();
        QCOMPARE(messageOf(h, 0), std::string("Only one IP (at a time) can be updated."));

        h.click(list1, 1, Qt::ControlModifier); // off again
        QCOMPARE(h.selectedRows(list1), QList<int>{0});
        QCOMPARE(list1->currentRow(), 0);
        QCOMPARE(h.text("Text1")->text(), QString("1.1"));
        QCOMPARE(h.entries(h.list("List2")), QStringList{"/opt/a"});
        QVERIFY(h.enabled("cmdUpdate"));
    }

    void eachUserChangeOfAListRunsItsHandlerOnce() {
        FormHarness h;
        for (const char* address : {"1", "2", "3"}) {
            h.file.addAddress(address);
        }
        h.open();
        auto* list1 = h.list("List1");
        QSignalSpy clicks(list1, &corvale::tool::VbListBox::userChanged);
        h.click(list1, 1);
        QCOMPARE(clicks.count(), 1);
        h.click(list1, 2, Qt::ShiftModifier);
        QCOMPARE(clicks.count(), 2);
        h.click(list1, 2, Qt::ShiftModifier); // nothing changes
        QCOMPARE(clicks.count(), 2);
        QTest::keyClick(list1, Qt::Key_Up);
        QCOMPARE(clicks.count(), 3);
        QCOMPARE(h.selectedRows(list1), QList<int>{1});
        QCOMPARE(h.text("Text1")->text(), QString("2"));
        // Changes made by code notify nothing by themselves.
        h.form->selectIP("3");
        QCOMPARE(clicks.count(), 3);
        QCOMPARE(h.text("Text1")->text(), QString("3"));
    }

    void startupListButtonsFollowTheSelection() {
        FormHarness h;
        const auto ip = h.file.addAddress("10");
        for (int i = 1; i <= 3; ++i) {
            h.file.addConnectedItem(ip, "/opt/item" + std::to_string(i), "/start" + std::to_string(i), i);
        }
        h.open();
        auto* list2 = h.list("List2");
        auto state = [&] {
            return QList<bool>{h.enabled("cmdAddPath"),     h.enabled("cmdUpdateList"),
                               h.enabled("cmdDelListItem"), h.enabled("cmdUp"),
                               h.enabled("cmdDown"),        h.enabled("cmdTestStart")};
        };
        h.click(list2, 0);
        QCOMPARE(h.text("Text2")->text(), QString("/opt/item1"));
        QCOMPARE(h.text("Text3")->text(), QString("/start1"));
        QCOMPARE(state(), (QList<bool>{true, true, true, false, true, true}));
        h.click(list2, 2);
        QCOMPARE(state(), (QList<bool>{true, true, true, true, false, true}));
        h.click(list2, 1);
        QCOMPARE(state(), (QList<bool>{true, true, true, true, true, true}));

        h.click(list2, 2, Qt::ControlModifier);
        QCOMPARE(h.text("Text2")->text(), QString());
        QCOMPARE(h.text("Text3")->text(), QString());
        QCOMPARE(state(), (QList<bool>{false, false, true, false, false, false}));

        h.click(list2, 2, Qt::ControlModifier);
        QCOMPARE(h.text("Text2")->text(), QString("/opt/item2"));
        h.click(list2, 1, Qt::ControlModifier);
        QVERIFY(h.selectedRows(list2).isEmpty());
        QCOMPARE(h.text("Text2")->text(), QString());
        QVERIFY(!h.enabled("cmdUpdateList") && !h.enabled("cmdDelListItem") && !h.enabled("cmdUp") &&
                !h.enabled("cmdDown"));
    }

    void onlyEntryHasNeitherUpNorDownAndLeavingTheListWithoutSelection() {
        FormHarness h;
        h.file.addConnectedItem(h.file.addAddress("10"), "/opt/only", "/opt", 1);
        h.open();
        auto* list2 = h.list("List2");
        h.click(list2, 0);
        QVERIFY(!h.enabled("cmdUp") && !h.enabled("cmdDown"));
        QVERIFY(h.enabled("cmdUpdateList") && h.enabled("cmdDelListItem"));

        h.form->cmdUp->setEnabled(true); // as a stale state might leave it
        list2->setSelectedFromCode(0, false);
        list2->setFocus();
        h.text("Text3")->setFocus();
        QTRY_VERIFY(!h.enabled("cmdUp"));
    }

    void startInFolderIsThatOfTheRowItselfNotOfAnotherWithTheSameTarget() {
        FormHarness h;
        const auto first = h.file.addAddress("1.1");
        const auto second = h.file.addAddress("2.2");
        h.file.addConnectedItem(first, "/opt/same", "/first", 1);
        h.file.addConnectedItem(second, "/opt/same", "/second", 2);
        h.file.addDisconnectedItem("/opt/same", "/offline", 1);
        h.open();
        h.click(h.list("List1"), 1);
        h.click(h.list("List2"), 0);
        QCOMPARE(h.text("Text3")->text(), QString("/second"));
        h.click(h.list("List1"), 0);
        h.click(h.list("List2"), 0);
        QCOMPARE(h.text("Text3")->text(), QString("/first"));
        QTest::mouseClick(h.button("Check1"), Qt::LeftButton);
        h.click(h.list("List2"), 0);
        QCOMPARE(h.text("Text3")->text(), QString("/offline"));
    }

    void nullStartInLeavesTheStartInBoxAsItWas() {
        FormHarness h;
        const auto ip = h.file.addAddress("10");
        h.file.addConnectedItem(ip, "/opt/with", "/with", 1);
        h.file.database().execute(
            {"Insert into ConnectedList (IPID,TargetPath,ListOrder) values (?, '/opt/without', 2)", {ip}});
        h.open();
        h.click(h.list("List2"), 0);
        QCOMPARE(h.text("Text3")->text(), QString("/with"));
        h.click(h.list("List2"), 1);
        QCOMPARE(h.text("Text2")->text(), QString("/opt/without"));
        QCOMPARE(h.text("Text3")->text(), QString("/with"));
    }

    void targetTextRuleSetsTheItemButtons() {
        FormHarness h;
        const auto ip = h.file.addAddress("10");
        h.file.addConnectedItem(ip, "/opt/a", "/opt", 1);
        h.open();
        h.text("Text2")->setText("/typed");
        QVERIFY(h.enabled("cmdAddPath") && h.enabled("cmdTestStart"));
        QVERIFY2(!h.enabled("cmdUpdateList") && !h.enabled("cmdDelListItem"), "nothing is selected");
        h.text("Text2")->clear();
        QVERIFY(!h.enabled("cmdAddPath") && !h.enabled("cmdTestStart") && !h.enabled("cmdUpdateList"));
        h.click(h.list("List2"), 0);
        h.text("Text2")->setText("/changed");
        QVERIFY(h.enabled("cmdUpdateList") && h.enabled("cmdDelListItem"));
    }

    void databaseFailureIsShownAndTheFormStaysUsable() {
        FormHarness h;
        h.file.addAddress("1.1");
        h.file.addAddress("2.2");
        h.open();
        h.file.database().execute({"DROP TABLE ConnectedList", {}});
        h.click(h.list("List1"), 1);
        QCOMPARE(h.dialogs.messages.size(), std::size_t{1});
        QVERIFY(messageOf(h, 0).find("no such table: ConnectedList") != std::string::npos);
        QCOMPARE(h.dialogs.messages[0].caption, std::string("Corvale"));
        h.text("Text1")->setText("3.3");
        QTest::mouseClick(h.button("cmdAddIP"), Qt::LeftButton);
        QCOMPARE(h.file.database().openRecordset(st::addressId("3.3")).recordCount(), 1u);
    }
};

QTEST_MAIN(Form3Test)
#include "form3_test.moc"
