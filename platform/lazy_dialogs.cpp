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
} // namespace

LazyQtDialogs::LazyQtDialogs(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

LazyQtDialogs::~LazyQtDialogs() = default;

Dialogs& LazyQtDialogs::dialogs() {
    if (!m_tried) {
        m_tried = true;
        if (hasScreen()) {
            std::string error;
            using MakeFunction = Dialogs* (*)(int*, char**);
            const auto choosePlatform = reinterpret_cast<const char* (*)()>(
                moduleSymbol(kDialogsModule, "corvale_choose_platform", error));
            const auto make =
                reinterpret_cast<MakeFunction>(moduleSymbol(kDialogsModule, "corvale_make_dialogs", error));
            m_processEvents =
                reinterpret_cast<void (*)()>(moduleSymbol(kDialogsModule, "corvale_process_events", error));
            m_resetPointer =
                reinterpret_cast<void (*)()>(moduleSymbol(kDialogsModule, "corvale_reset_pointer", error));
            const char* unusable = choosePlatform ? choosePlatform() : nullptr;
            if (unusable) {
                error = unusable;
            }
            if (choosePlatform && !unusable && make && m_processEvents && m_resetPointer) {
                m_loaded.reset(make(&m_argc, m_argv));
            } else {
                std::fprintf(stderr, "Cannot show windows: %s\n", error.c_str());
                m_processEvents = nullptr;
                m_resetPointer = nullptr;
            }
        }
    }
    return m_loaded ? *m_loaded : static_cast<Dialogs&>(m_fallback);
}

MessageAnswer LazyQtDialogs::showMessage(const MessageRequest& request) {
    return dialogs().showMessage(request);
}

std::string LazyQtDialogs::openFile(const OpenFileRequest& request) {
    return dialogs().openFile(request);
}

std::string LazyQtDialogs::chooseFolder(const std::string& title) {
    return dialogs().chooseFolder(title);
}

void LazyQtDialogs::resetPointer() {
    if (m_loaded && m_resetPointer) {
        m_resetPointer();
    }
}

void LazyQtDialogs::processPendingEvents() {
    if (m_processEvents) {
        m_processEvents();
    }
}

} // namespace corvale::platform
