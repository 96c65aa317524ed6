#include "platform/failure.h"
#include "platform/qt_dialogs.h"
#include "shared/error_text.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

TEST(ErrorText, GivesTheDescriptionUnchanged) {
    const std::string text = "Cannot change to the folder '/x':  No such file or directory";
    EXPECT_EQ(corvale::he(corvale::Failure(text)), text);
}

TEST(ErrorText, TakesOffTheBusyPointerOfTheFailedOperation) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "error_text_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    corvale::setPointerReset(corvale::platform::resetQtPointer);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::setOverrideCursor(Qt::BusyCursor);

    EXPECT_EQ(corvale::he(corvale::Failure("disk full")), "disk full");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
