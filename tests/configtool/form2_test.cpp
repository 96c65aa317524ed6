// The About box.
#include "configtool/form2.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using corvale::tool::Form2;

class Form2Test : public QObject {
    Q_OBJECT

private slots:
    void designAsGiven() {
        Form2 box({});
        QCOMPARE(box.windowTitle(), QString("About Corvale"));
        QCOMPARE(box.size(), QSize(390, 221));
        QCOMPARE(box.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(!box.windowIcon().isNull());

        QCOMPARE(box.Label1->text(), QString("Corvale"));
        QCOMPARE(box.Label1->geometry(), QRect(142, 40, 201, 41));
        // The design's sizes, unless the font standing in for the design's is
        // too wide for the label.
        QVERIFY(box.Label1->font().pointSizeF() <= 24.0 && box.Label1->font().pointSizeF() > 18.0);
        QVERIFY(box.Label1->font().bold());
        QCOMPARE(box.Label1->palette().color(QPalette::WindowText), QColor(255, 0, 0));

        QCOMPARE(box.Label6->text(), QString("Version 1.6"));
        QVERIFY(box.Label6->font().pointSizeF() <= 10.5 && box.Label6->font().pointSizeF() > 7.0);
        for (QLabel* label : {box.Label1, box.Label6, box.Label2, static_cast<QLabel*>(box.Label3)}) {
            QVERIFY2(QFontMetricsF(label->font()).horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(label->text()));
        }
        QVERIFY(box.Label6->font().bold() && box.Label6->font().italic());
        QCOMPARE(box.Label6->palette().color(QPalette::WindowText), QColor(0, 128, 0));
        QCOMPARE(box.Label6->palette().color(QPalette::Window), QColor(0, 192, 192));

        QCOMPARE(box.Label2->text(), QString("For support/feedback: "));
        QCOMPARE(box.Label3->text(), QString("Contact Us"));
        QVERIFY(box.Label3->font().underline());
        QCOMPARE(box.Label3->geometry(), QRect(216, 132, 89, 17));
        QCOMPARE(box.linkColour(), QColor(0, 128, 128));
        QCOMPARE(box.Command1->text(), QString("OK"));
        QCOMPARE(box.Command1->geometry(), QRect(152, 184, 89, 25));
    }

    void linkLooksHoveredInsideItsFixedBoundsOnly() {
        Form2 box({});
        const QColor teal(0, 128, 128);
        const QColor blue(0, 0, 255);
        box.Label3_MouseMove(600, 100);
        QCOMPARE(box.linkColour(), blue);
        box.Label3_MouseMove(600, 0); // top row
        QCOMPARE(box.linkColour(), teal);
        box.Label3_MouseMove(600, 100);
        box.Label3_MouseMove(0, 100); // left column
        QCOMPARE(box.linkColour(), teal);
        box.Label3_MouseMove(600, 100);
        box.Label3_MouseMove(600, 225); // bottom strip, still on the label
        QCOMPARE(box.linkColour(), teal);
        box.Label3_MouseMove(1300, 100); // last move before leaving to the right
        QCOMPARE(box.linkColour(), blue);

        // The real pointer, in pixels over the label.
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::mouseMove(box.Label3, QPoint(5, 14));
        QTRY_COMPARE(box.linkColour(), teal);
        QTest::mouseMove(box.Label3, QPoint(40, 6));
        QTRY_COMPARE(box.linkColour(), blue);
    }

    void leavingTheLinkResetsTheApplicationPointer() {
        Form2 box({});
        QGuiApplication::setOverrideCursor(Qt::PointingHandCursor);
        box.Label3_MouseMove(600, 100);
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        box.Label3_MouseMove(600, 0);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    void escapeOrEnterWithTheFocusOnOkClosesTheBox() {
        QPointer<Form2> box = new Form2({});
        box->show();
        QVERIFY(QTest::qWaitForWindowActive(box));
        box->Command1->setFocus();
        QTest::keyRelease(box->Command1, Qt::Key_Escape);
        QTRY_VERIFY(box.isNull());

        QPointer<Form2> again = new Form2({});
        again->show();
        QVERIFY(QTest::qWaitForWindowActive(again));
        again->Command1->setFocus();
        QTest::keyClick(again->Command1, Qt::Key_Return);
        QTRY_VERIFY2(again.isNull(), "Enter on OK closes the box");
    }

    void clickOnTheLinkOpensTheContactPageAndKeepsTheBox() {
        int opened = 0;
        Form2 box([&] { ++opened; });
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(box.Label3, Qt::LeftButton, Qt::NoModifier, QPoint(20, 8));
        QCOMPARE(opened, 1);
        QVERIFY(box.isVisible());
    }

    void boxIsCentredOnTheScreenWhenLoaded() {
        Form2 box({});
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QRect screen = box.screen()->geometry();
        const QRect outer = box.frameGeometry();
        QVERIFY(qAbs(outer.center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(outer.center().y() - screen.center().y()) <= 1);
    }
};

QTEST_MAIN(Form2Test)
#include "form2_test.moc"
