#include "platform/qt_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

using namespace corvale;

namespace {

// Looks at the modal window once it is up, then lets the check answer it.
void whenModalAppears(std::function<void(QWidget*)> check) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, check] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            check(modal);
        }
    });
    timer->start(5);
}

class QtDialogsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setenv("QT_QPA_PLATFORM", "offscreen", 1); }

    int argc = 1;
    char name[16] = "qt_dialogs_test";
    char* argv[2] = {name, nullptr};
    // The application is there first, as in the configuration tool; the
    // dialogs use it rather than make one.
    QApplication app{argc, argv};
    platform::QtDialogs dialogs{argc, argv};
};

TEST_F(QtDialogsTest, MessageBoxShowsExactlyWhatWasAskedAndReportsTheButton) {
    QStringList seen;
    whenModalAppears([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        seen << box->windowTitle() << box->text();
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
        box->button(QMessageBox::Cancel)->click();
    });
    const MessageAnswer answer =
        dialogs.showMessage({"Please find  it\n- /a<b>", "Corvale - It's your choice...",
                             MessageButtons::OkCancel, MessageIcon::Information, MessageAnswer::Ok});
    EXPECT_EQ(answer, MessageAnswer::Cancel);
    EXPECT_EQ(seen, (QStringList{"Corvale - It's your choice...", "Please find  it\n- /a<b>"}));
    EXPECT_EQ(QCoreApplication::instance(), &app) << "the application that was there is used";
}

TEST_F(QtDialogsTest, QuestionBoxDefaultsToNo) {
    whenModalAppears([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(dialogs.showMessage(
                  {"Delete?", "Corvale", MessageButtons::YesNo, MessageIcon::Question, MessageAnswer::No}),
              MessageAnswer::Yes);
}

TEST_F(QtDialogsTest, FileDialogKeepsTheFilterLabelsButAllFilesMatchesFilesWithoutADot) {
    QStringList filters;
    whenModalAppears([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        auto* combo = dialog->findChild<QComboBox*>("fileTypeCombo");
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(combo->itemText(0), "Microsoft Access Databases (*.mdb)");
        EXPECT_EQ(combo->itemText(1), "All Files (*.*)");
        dialog->reject();
    });
    const std::string chosen =
        dialogs.openFile({"Microsoft Access Databases (*.mdb)|*.mdb|All Files (*.*)|*.*", "", ""});
    EXPECT_EQ(chosen, "");
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters[1].endsWith("(*)")) << filters[1].toStdString();
}

} // namespace
