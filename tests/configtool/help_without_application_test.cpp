// Help on a desktop where no application opens HTML files: the test's own
// desktop, which knows none of the machine's applications.
#include "configtool/mdi_form1.h"
#include "tests/support/test_support.h"

#include <QTest>

class HelpWithoutApplicationTest : public QObject {
    Q_OBJECT
    testsupport::OwnDesktop desktop;

private slots:
    void initTestCase() { desktop.apply(); }

    void helpThatIsThereButHasNoApplicationSaysSo() {
        testsupport::TempDir program;
        testsupport::writeFile(program / "Help.htm", "<html></html>");
        testsupport::FakeDialogs dialogs;
        corvale::tool::MDIForm1 window(dialogs, program.path(), "shop.test");
        window.menuHelpView_Click();
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].text, std::string(corvale::tool::kHelpNoApplicationText));
        QCOMPARE(dialogs.messages[0].caption, std::string("Corvale"));
    }
};

QTEST_MAIN(HelpWithoutApplicationTest)
#include "help_without_application_test.moc"
