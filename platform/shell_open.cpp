#include "platform/shell_open.h"

#include "platform/module_loader.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace corvale::platform {

namespace {
// Says why, when the module cannot be had.
template <typename Function> Function said(Function function, const std::string& loadError) {
    if (!function) {
        std::fprintf(stderr, "Cannot open files with the desktop's applications: %s\n", loadError.c_str());
    }
    return function;
}
} // namespace

int openUri(const std::string& uri) {
    std::string loadError;
    const auto open = said(CORVALE_MODULE_LOOKUP(kGioModule, corvale_open_uri, loadError), loadError);
    return open ? open(uri.c_str()) : shell_code::kLaunchFailed;
}

std::string applicationFor(const std::string& path) {
    std::string loadError;
    const auto find = CORVALE_MODULE_LOOKUP(kGioModule, corvale_application_for, loadError);
    char* name = find ? find(path.c_str()) : nullptr;
    std::string found = name ? name : "";
    std::free(name);
    return found;
}

long lastLaunchedProcess() {
    std::string loadError;
    const auto last = CORVALE_MODULE_LOOKUP(kGioModule, corvale_last_launched_process, loadError);
    return last ? last() : 0;
}

Notification notify(const std::string& summary, const std::string& body, const std::string& actionLabel) {
    std::string loadError;
    const auto show = said(CORVALE_MODULE_LOOKUP(kGioModule, corvale_notify, loadError), loadError);
    Notification notification;
    const int shown = show ? show(summary.c_str(), body.c_str(), actionLabel.c_str(), &notification.id) : -1;
    notification.outcome = shown < 0    ? Notified::NoServer
                           : shown == 0 ? Notified::Shown
                                        : Notified::ShownWithAction;
    return notification;
}

bool actionChosen(unsigned id) {
    std::string loadError;
    const auto wait = CORVALE_MODULE_LOOKUP(kGioModule, corvale_wait_for_notification, loadError);
    return wait && wait(id) == 1;
}

int shellOpenRefusal(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path target = fs::absolute(path, error);
    if (error || path.empty() || path.find('\0') != std::string::npos) {
        return shell_code::kFileNotFound;
    }
    const fs::file_type type = fs::status(target, error).type();
    if (type == fs::file_type::not_found) {
        return fs::is_directory(target.parent_path(), error) ? shell_code::kFileNotFound
                                                             : shell_code::kPathNotFound;
    }
    // Reading a FIFO, a socket or a device to learn its type could wait for
    // ever; none of them is a document.
    if (type != fs::file_type::regular && type != fs::file_type::directory) {
        return shell_code::kBadFormat;
    }
    if (type == fs::file_type::regular && target.extension() == ".desktop" &&
        fs::file_size(target, error) > kLargestLauncher && !error) {
        return shell_code::kTooLarge;
    }
    return 0;
}

int shellOpen(const std::string& path, const ChildEnvironment& environment) {
    if (const int refusal = shellOpenRefusal(path); refusal != 0) {
        return refusal;
    }
    std::error_code error;
    const std::string target = std::filesystem::absolute(path, error).string();
    std::string loadError;
    const auto open =
        said(CORVALE_MODULE_LOOKUP(kGioModule, corvale_open_with_application, loadError), loadError);
    std::vector<const char*> variables;
    for (const std::string& variable : environment.variables) {
        variables.push_back(variable.c_str());
    }
    variables.push_back(nullptr);
    return open ? open(target.c_str(), variables.data()) : shell_code::kLaunchFailed;
}

} // namespace corvale::platform
