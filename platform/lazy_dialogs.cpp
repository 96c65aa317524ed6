#include "platform/lazy_dialogs.h"

#include "platform/module_loader.h"

#include <cstdio>
#include <cstdlib>

namespace corvale::platform {

namespace {

bool hasScreen() {
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            return true;
        }
    }
    return false;
}

std::string takeText(char* text) {
    std::string taken = text ? text : "";
    std::free(text);
    return taken;
}

} // namespace

LazyQtDialogs::LazyQtDialogs(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

LazyQtDialogs::~LazyQtDialogs() {
    if (m_loaded) {
        m_module.stop();
    }
}

bool LazyQtDialogs::windows() {
    if (m_tried) {
        return m_loaded;
    }
    m_tried = true;
    if (!hasScreen()) {
        return false;
    }
    std::string error;
    const auto start = CORVALE_MODULE_LOOKUP(kDialogsModule, corvale_start_dialogs, error);
    m_module.showMessage = CORVALE_MODULE_LOOKUP(kDialogsModule, corvale_show_message, error);
    m_module.openFile = CORVALE_MODULE_LOOKUP(kDialogsModule, corvale_open_file, error);
    m_module.chooseFolder = CORVALE_MODULE_LOOKUP(kDialogsModule, corvale_choose_folder, error);
    m_module.processEvents = CORVALE_MODULE_LOOKUP(kDialogsModule, corvale_process_events, error);
    m_module.resetPointer = CORVALE_MODULE_LOOKUP(kDialogsModule, corvale_reset_pointer, error);
    m_module.stop = CORVALE_MODULE_LOOKUP(kDialogsModule, corvale_stop_dialogs, error);
    const bool complete = start && m_module.showMessage && m_module.openFile && m_module.chooseFolder &&
                          m_module.processEvents && m_module.resetPointer && m_module.stop;
    if (complete) {
        if (const char* unusable = start(&m_argc, m_argv)) {
            error = unusable;
        } else {
            m_loaded = true;
        }
    }
    if (!m_loaded) {
        std::fprintf(stderr, "Cannot show windows: %s\n", error.c_str());
    }
    return m_loaded;
}

MessageAnswer LazyQtDialogs::showMessage(const MessageRequest& request) {
    if (!windows()) {
        return m_fallback.showMessage(request);
    }
    return static_cast<MessageAnswer>(
        m_module.showMessage(request.text.c_str(), request.caption.c_str(), static_cast<int>(request.buttons),
                             static_cast<int>(request.icon), static_cast<int>(request.defaultButton)));
}

std::string LazyQtDialogs::openFile(const OpenFileRequest& request) {
    if (!windows()) {
        return m_fallback.openFile(request);
    }
    return takeText(m_module.openFile(request.filter.c_str(), request.title.c_str(), request.folder.c_str()));
}

std::string LazyQtDialogs::chooseFolder(const std::string& title, const std::string& folder) {
    if (!windows()) {
        return m_fallback.chooseFolder(title, folder);
    }
    return takeText(m_module.chooseFolder(title.c_str(), folder.c_str()));
}

void LazyQtDialogs::resetPointer() {
    if (m_loaded) {
        m_module.resetPointer();
    }
}

void LazyQtDialogs::processPendingEvents() {
    if (m_loaded) {
        m_module.processEvents();
    }
}

} // namespace corvale::platform
