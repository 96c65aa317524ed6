#include "platform/stderr_dialogs.h"

#include <iostream>

namespace corvale::platform {

MessageAnswer StderrDialogs::showMessage(const MessageRequest& request) {
    std::cerr << request.caption << ": " << request.text << std::endl;
    switch (request.buttons) {
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

std::string StderrDialogs::openFile(const OpenFileRequest&) {
    return {};
}

std::string StderrDialogs::chooseFolder(const std::string&) {
    return {};
}

} // namespace corvale::platform
