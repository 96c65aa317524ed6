#pragma once

#include "platform/dialogs.h"

#include <memory>

class QApplication;

namespace corvale::platform {

// Takes off every override cursor of the running Qt application, so that a
// busy pointer set by a failed operation is gone when its message appears.
// Programs hand it to the error text.
void resetQtPointer();

// Dialogs as Qt message boxes and file dialogs. The GUI application is made on
// first use, so a program that never shows anything never connects to a
// display; a program that already has one uses it.
class QtDialogs : public Dialogs {
public:
    QtDialogs(int& argc, char** argv);
    ~QtDialogs() override;

    MessageAnswer showMessage(const MessageRequest& request) override;
    std::string openFile(const OpenFileRequest& request) override;
    std::string chooseFolder(const std::string& title, const std::string& folder) override;
    std::optional<std::string> askText(const TextRequest& request) override;

    // Lets pending window events run, when there are windows at all.
    static void processPendingEvents();

private:
    void ensureApplication();

    int& m_argc;
    char** m_argv;
    std::unique_ptr<QApplication> m_app;
};

} // namespace corvale::platform
