#include "platform/qt_platform_choice.h"

#include <QLibraryInfo>
#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <thread>
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

enum class Answer { Yes, No, Silent };

// A server that accepts the connection and then says nothing would keep Qt
// waiting for ever: the question is asked on a thread of its own, and
// whoever has not answered within the limit counts as not there. A probe
// still waiting then is left to itself; it holds nothing of ours.
constexpr std::chrono::seconds kAnswerLimit{3};

Answer withinTime(std::function<bool()> probe) {
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> answered = answer->get_future();
    std::thread([answer, probe = std::move(probe)] { answer->set_value(probe()); }).detach();
    if (answered.wait_for(kAnswerLimit) != std::future_status::ready) {
        return Answer::Silent;
    }
    return answered.get() ? Answer::Yes : Answer::No;
}

Answer xServerAnswers() {
    const auto connect = symbol<void* (*)(const char*, int*)>("libxcb.so.1", "xcb_connect");
    const auto hasError = symbol<int (*)(void*)>("libxcb.so.1", "xcb_connection_has_error");
    const auto disconnect = symbol<void (*)(void*)>("libxcb.so.1", "xcb_disconnect");
    if (!connect || !hasError || !disconnect) {
        return Answer::No;
    }
    return withinTime([=] {
        void* connection = connect(nullptr, nullptr); // never null: a failed one carries its error
        const bool answers = connection && hasError(connection) == 0;
        if (connection) {
            disconnect(connection);
        }
        return answers;
    });
}

Answer waylandServerAnswers() {
    const auto connect = symbol<void* (*)(const char*)>("libwayland-client.so.0", "wl_display_connect");
    const auto roundtrip = symbol<int (*)(void*)>("libwayland-client.so.0", "wl_display_roundtrip");
    const auto disconnect = symbol<void (*)(void*)>("libwayland-client.so.0", "wl_display_disconnect");
    const std::string socket = environment("WAYLAND_DISPLAY");
    const bool socketFound = !environment("WAYLAND_SOCKET").empty() ||
                             (!socket.empty() && socket[0] == '/') || !environment("XDG_RUNTIME_DIR").empty();
    if (!connect || !roundtrip || !disconnect || !socketFound) { // the library would complain on stderr
        return Answer::No;
    }
    // Connecting only reaches the socket; a round trip shows that a
    // compositor serves it.
    return withinTime([=] {
        void* display = connect(nullptr);
        const bool answers = display && roundtrip(display) >= 0;
        if (display) {
            disconnect(display);
        }
        return answers;
    });
}

std::string silence(Answer answer) {
    return answer == Answer::Silent ? " (it accepts connections but did not answer within " +
                                          std::to_string(kAnswerLimit.count()) + " seconds)"
                                    : "";
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
    if (name == "xcb") {
        const std::string display = environment("DISPLAY");
        if (display.empty()) {
            return name + ": DISPLAY is not set";
        }
        if (const Answer answer = xServerAnswers(); answer != Answer::Yes) {
            return name + ": no X server answers at DISPLAY=" + display + silence(answer);
        }
    }
    if (name.rfind("wayland", 0) == 0) {
        if (const Answer answer = waylandServerAnswers(); answer != Answer::Yes) {
            const std::string socket = environment("WAYLAND_DISPLAY");
            return name + ": no Wayland server answers at WAYLAND_DISPLAY=" +
                   (socket.empty() ? "wayland-0" : socket) + silence(answer);
        }
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
