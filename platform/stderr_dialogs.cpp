#include "platform/stderr_dialogs.h"

#include <cstdio>

namespace corvale::platform {

MessageAnswer StderrDialogs::showMessage(const MessageRequest& request) {
    const std::string line = request.caption + ": " + request.text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
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

std::string StderrDialogs::chooseFolder(const std::string&, const std::string&) {
    return {};
}

} // namespace corvale::platform
