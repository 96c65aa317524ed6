#include "platform/qt_platform_choice.h"

#include <QLibraryInfo>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <map>
#include <vector>

namespace corvale::platform {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
        pieces.push_back(text.substr(start, end - start));
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// The platform's name without the arguments Qt allows after a colon.
std::string platformName(const std::string& entry) {
    return entry.substr(0, entry.find(':'));
}

bool pluginInstalled(const std::string& name) {
    static const std::map<std::string, std::string> files = {
        {"xcb", "libqxcb.so"},
        {"wayland", "libqwayland-generic.so"},
        {"wayland-egl", "libqwayland-egl.so"},
        {"offscreen", "libqoffscreen.so"},
        {"minimal", "libqminimal.so"},
        {"minimalegl", "libqminimalegl.so"},
        {"vnc", "libqvnc.so"},
        {"eglfs", "libqeglfs.so"},
        {"linuxfb", "libqlinuxfb.so"},
        {"vkkhrdisplay", "libqvkkhrdisplay.so"},
    };
    const auto file = files.find(name);
    if (file == files.end()) {
        return false;
    }
    std::vector<std::string> folders;
    if (const std::string own = environment("QT_QPA_PLATFORM_PLUGIN_PATH"); !own.empty()) {
        folders.push_back(own);
    }
    for (const std::string& folder : split(environment("QT_PLUGIN_PATH"), ':')) {
        if (!folder.empty()) {
            folders.push_back(folder + "/platforms");
        }
    }
    folders.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms");
    std::error_code error;
    for (const std::string& folder : folders) {
        if (std::filesystem::exists(folder + "/" + file->second, error)) {
            return true;
        }
    }
    return false;
}

// The client libraries are asked directly, as Qt's plugins would ask them,
// and stay loaded for Qt. They are looked up at run time so that a machine
// without one of them simply lacks that platform.
template <typename Function> Function symbol(const char* library, const char* name) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    return handle ? reinterpret_cast<Function>(dlsym(handle, name)) : nullptr;
}

bool xServerAnswers() {
    const auto connect = symbol<void* (*)(const char*, int*)>("libxcb.so.1", "xcb_connect");
    const auto hasError = symbol<int (*)(void*)>("libxcb.so.1", "xcb_connection_has_error");
    const auto disconnect = symbol<void (*)(void*)>("libxcb.so.1", "xcb_disconnect");
    if (!connect || !hasError || !disconnect) {
        return false;
    }
    void* connection = connect(nullptr, nullptr); // never null: a failed one carries its error
    const bool answers = connection && hasError(connection) == 0;
    if (connection) {
        disconnect(connection);
    }
    return answers;
}

bool waylandServerAnswers() {
    const auto connect = symbol<void* (*)(const char*)>("libwayland-client.so.0", "wl_display_connect");
    const auto disconnect = symbol<void (*)(void*)>("libwayland-client.so.0", "wl_display_disconnect");
    const std::string socket = environment("WAYLAND_DISPLAY");
    const bool socketFound = !environment("WAYLAND_SOCKET").empty() ||
                             (!socket.empty() && socket[0] == '/') || !environment("XDG_RUNTIME_DIR").empty();
    if (!connect || !disconnect || !socketFound) { // the library would complain on stderr
        return false;
    }
    void* display = connect(nullptr);
    if (display) {
        disconnect(display);
    }
    return display != nullptr;
}

bool showsWindowsToAPerson(const std::string& name) {
    return name == "xcb" || name.rfind("wayland", 0) == 0;
}

// Why the platform cannot be used, or the empty text.
std::string unusable(const std::string& name) {
    if (!showsWindowsToAPerson(name)) {
        return name + ": shows no window to a person";
    }
    if (!pluginInstalled(name)) {
        return name + ": no such window platform is installed";
    }
    if (name == "xcb" && !xServerAnswers()) {
        const std::string display = environment("DISPLAY");
        return name +
               (display.empty() ? ": DISPLAY is not set" : ": no X server answers at DISPLAY=" + display);
    }
    if (name.rfind("wayland", 0) == 0 && !waylandServerAnswers()) {
        const std::string socket = environment("WAYLAND_DISPLAY");
        return name +
               ": no Wayland server answers at WAYLAND_DISPLAY=" + (socket.empty() ? "wayland-0" : socket);
    }
    return {};
}

} // namespace

std::string chooseUsablePlatform(std::string& usable) {
    std::vector<std::string> asked = split(environment("QT_QPA_PLATFORM"), ';');
    if (environment("QT_QPA_PLATFORM").empty()) {
        asked = environment("XDG_SESSION_TYPE") == "wayland" ? std::vector<std::string>{"wayland", "xcb"}
                                                             : std::vector<std::string>{"xcb", "wayland"};
    }
    usable.clear();
    std::string reasons;
    for (const std::string& entry : asked) {
        if (entry.empty()) {
            continue;
        }
        if (const std::string why = unusable(platformName(entry)); !why.empty()) {
            reasons += (reasons.empty() ? "" : "; ") + why;
        } else {
            usable += (usable.empty() ? "" : ";") + entry;
        }
    }
    if (usable.empty()) {
        return "no window platform can be used (" + reasons + ")";
    }
    return {};
}

} // namespace corvale::platform
