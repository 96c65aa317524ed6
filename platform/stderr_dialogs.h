#pragma once

#include "platform/dialogs.h"

namespace corvale::platform {

// Dialogs where there is no screen: messages go to standard error as
// "caption: text", and every question is answered as cancelled.
class StderrDialogs : public Dialogs {
public:
    MessageAnswer showMessage(const MessageRequest& request) override;
    std::string openFile(const OpenFileRequest& request) override;
    std::string chooseFolder(const std::string& title, const std::string& folder) override;
};

} // namespace corvale::platform
