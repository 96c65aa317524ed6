// The tool on a real X display (a server of the test's own) at the font
// size or scale that ctest gives it (QT_FONT_DPI, QT_SCALE_FACTOR), or
// under a dark palette (DARK_PALETTE): every label and button text is drawn
// whole and readable, a disabled button looks disabled, and the main window
// fits the screen.
// A screenshot of each setting lands in the screenshots folder.
#include "configtool/form2.h"
#include "configtool/form3.h"
#include "configtool/mdi_form1.h"
#include "configtool/network_status.h"
#include "configtool/palette_contrast.h"
#include "shared/startup_lists.h"
#include "tests/support/test_support.h"
#include "tests/support/x_display.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMdiArea>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>

namespace {

QString setting() {
    for (const char* name : {"QT_FONT_DPI", "QT_SCALE_FACTOR", "DARK_PALETTE"}) {
        if (const char* value = std::getenv(name)) {
            return QString(name) + "=" + value;
        }
    }
    return "default";
}

// A dark style's palette, as themes such as Adwaita-dark give it, with
// disabled text left the colour of enabled text.
QPalette darkPalette() {
    QPalette dark;
    const auto both = [&dark](QPalette::ColorRole role, QColor colour) {
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            dark.setColor(group, role, colour);
        }
    };
    both(QPalette::Window, QColor(0x35, 0x35, 0x35));
    both(QPalette::WindowText, QColor(0xee, 0xee, 0xec));
    both(QPalette::Base, QColor(0x2d, 0x2d, 0x2d));
    both(QPalette::Text, QColor(0xee, 0xee, 0xec));
    both(QPalette::Button, QColor(0x3c, 0x3c, 0x3c));
    both(QPalette::ButtonText, QColor(0xee, 0xee, 0xec));
    both(QPalette::Highlight, QColor(0x15, 0x53, 0x9e));
    both(QPalette::HighlightedText, Qt::white);
    return dark;
}

// Why a control's text is hard to read, or looks enabled while it is not.
QString unreadable(const QWidget* control) {
    const bool isButton = qobject_cast<const QAbstractButton*>(control) != nullptr;
    const bool isText = qobject_cast<const QLabel*>(control) || qobject_cast<const QCheckBox*>(control);
    if (!isButton && !isText) {
        return {};
    }
    const QPalette& palette = control->palette();
    const auto text =
        isButton && !qobject_cast<const QCheckBox*>(control) ? QPalette::ButtonText : QPalette::WindowText;
    const auto ground = text == QPalette::ButtonText ? QPalette::Button : QPalette::Window;
    const double enabled = corvale::tool::contrastRatio(palette.color(QPalette::Active, text),
                                                        palette.color(QPalette::Active, ground));
    // Large text is readable at less contrast. The version line is the
    // design's own green on teal, whatever the palette.
    const QFont font = control->font();
    const bool large = font.pointSizeF() >= 18 || (font.bold() && font.pointSizeF() >= 14);
    const double needed = control->objectName() == "Label6" ? 2.0 : large ? 3.0 : 4.5;
    if (control->isEnabled()) {
        return enabled >= needed
                   ? QString()
                   : QString("%1 has a contrast of only %2").arg(control->objectName()).arg(enabled);
    }
    const double disabled = corvale::tool::contrastRatio(palette.color(QPalette::Disabled, text),
                                                         palette.color(QPalette::Disabled, ground));
    return disabled < 0.75 * enabled && disabled >= 1.5
               ? QString()
               : QString("disabled %1 has a contrast of %2 against %3 when enabled")
                     .arg(control->objectName())
                     .arg(disabled)
                     .arg(enabled);
}

// Why a control's text is not drawn whole, or empty.
QString cut(const QWidget* control) {
    const QFontMetrics metrics = control->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        const int needed = metrics.horizontalAdvance(label->text());
        return needed <= label->contentsRect().width() ? QString()
                                                       : QString("%1 \"%2\" needs %3 px, has %4")
                                                             .arg(label->objectName(), label->text())
                                                             .arg(needed)
                                                             .arg(label->contentsRect().width());
    }
    if (const auto* box = qobject_cast<const QCheckBox*>(control)) {
        return box->sizeHint().width() <= box->width() ? QString()
                                                       : QString("%1 needs %2 px, has %3")
                                                             .arg(box->objectName())
                                                             .arg(box->sizeHint().width())
                                                             .arg(box->width());
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
        QString text = button->text();
        text.remove(u'&');
        // A little room for the button's frame on each side.
        const int needed = metrics.horizontalAdvance(text) + 6;
        return needed <= button->width() ? QString()
                                         : QString("%1 \"%2\" needs %3 px, has %4")
                                               .arg(button->objectName(), text)
                                               .arg(needed)
                                               .arg(button->width());
    }
    return {};
}

} // namespace

class ScalingTest : public QObject {
    Q_OBJECT

private slots:
    void everyTextIsWholeAndTheWindowFitsTheScreen() {
        testsupport::TempDir program;
        {
            testsupport::DatabaseFile db(program / "corvale.mdb");
            corvale::StartupLists(db.database()).nameAddress(db.addAddress("192.168.1.20"), "Home");
        }
        // A typical line: a named place, found by its address behind a gateway.
        testsupport::FakeNetwork network;
        network.list.adapters = {{"192.168.1.20", "192.168.1.1", "eth0", 2}};
        testsupport::FakeDialogs dialogs;
        corvale::tool::MDIForm1 window(dialogs, program.path(), "shop.test");
        window.useNetwork(network);
        QCOMPARE(window.startUp(), corvale::tool::MDIForm1::StartUp::Ready);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.menuAbout_Click();
        corvale::tool::Form2* about = window.form2();
        QVERIFY(QTest::qWaitForWindowExposed(about));

        QStringList problems;
        for (const QWidget* form :
             {static_cast<const QWidget*>(window.form3()), static_cast<const QWidget*>(about)}) {
            for (const QWidget* control : form->findChildren<QWidget*>()) {
                if (const QString why = cut(control); !why.isEmpty()) {
                    problems << why;
                }
                if (const QString why = unreadable(control); !why.isEmpty()) {
                    problems << why;
                }
            }
        }
        const auto* status = window.findChild<corvale::tool::NetworkStatus*>("networkStatus");
        if (status->shownLine() != status->text() ||
            status->text() != "On 192.168.1.20 (gateway 192.168.1.1): the list of Home") {
            problems
                << QString("the status line shows \"%1\" of \"%2\"").arg(status->shownLine(), status->text());
        }
        // The work area is the design's teal under a light palette, the
        // palette's base under a dark one.
        const QColor area = window.mdiArea()->background().color();
        const QColor expected =
            std::getenv("DARK_PALETTE") ? darkPalette().color(QPalette::Base) : QColor(0, 192, 192);
        if (area != expected) {
            problems << QString("the work area is %1, not %2").arg(area.name(), expected.name());
        }
        const QWidget* formFrame = window.form3()->parentWidget();
        if (formFrame->x() < 0 || formFrame->y() < 0) {
            problems << QString("the form's caption is out of reach at (%1, %2)")
                            .arg(formFrame->x())
                            .arg(formFrame->y());
        }
        const QRect screen = window.screen()->availableGeometry();
        if (!screen.contains(window.frameGeometry())) {
            problems << QString("the main window (%1x%2) is larger than the screen (%3x%4)")
                            .arg(window.frameGeometry().width())
                            .arg(window.frameGeometry().height())
                            .arg(screen.width())
                            .arg(screen.height());
        }
        std::filesystem::create_directories(SCREENSHOT_DIR);
        const QString shot = QString(SCREENSHOT_DIR) + "/scaling-" + setting() + ".png";
        QVERIFY(window.screen()->grabWindow(0).save(shot));
        qInfo("screenshot: %s", qPrintable(shot));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
    }
};

int main(int argc, char** argv) {
    testsupport::XDisplay display;
    if (display.display().empty()) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    setenv("DISPLAY", display.display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    if (std::getenv("DARK_PALETTE")) {
        QApplication::setPalette(darkPalette());
    }
    ScalingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "scaling_test.moc"
