// The tool on a real X display (a server of the test's own) at the font
// size or scale that ctest gives it (QT_FONT_DPI, QT_SCALE_FACTOR): every
// label and button text is drawn whole, and the main window fits the screen.
// A screenshot of each setting lands in the screenshots folder.
#include "configtool/form2.h"
#include "configtool/form3.h"
#include "configtool/mdi_form1.h"
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
    for (const char* name : {"QT_FONT_DPI", "QT_SCALE_FACTOR"}) {
        if (const char* value = std::getenv(name)) {
            return QString(name) + "=" + value;
        }
    }
    return "default";
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
        testsupport::DatabaseFile(program / "corvale.mdb").addAddress("192.168.1.20");
        testsupport::FakeDialogs dialogs;
        corvale::tool::MDIForm1 window(dialogs, program.path(), "shop.test");
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
            }
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
    ScalingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "scaling_test.moc"
