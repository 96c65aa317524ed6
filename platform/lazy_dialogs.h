#pragma once

#include "platform/module_interface.h"
#include "platform/stderr_dialogs.h"

namespace corvale::platform {

// The Qt dialogs, loaded with Qt itself only when the first one is shown, so
// that a run with nothing to show neither loads Qt nor connects to a display.
// Without a screen (no display and no Qt platform named, or none that can be
// used) or without the module, messages go to standard error instead.
class LazyQtDialogs : public Dialogs {
public:
    LazyQtDialogs(int& argc, char** argv);
    ~LazyQtDialogs() override;
    LazyQtDialogs(const LazyQtDialogs&) = delete;
    LazyQtDialogs& operator=(const LazyQtDialogs&) = delete;

    MessageAnswer showMessage(const MessageRequest& request) override;
    std::string openFile(const OpenFileRequest& request) override;
    std::string chooseFolder(const std::string& title, const std::string& folder) override;

    // Lets pending window events run, once windows exist.
    void processPendingEvents();
    // Sets the mouse pointer back, once windows exist.
    void resetPointer();

private:
    // The module's plain C functions, all set once windows can be shown.
    struct Module {
        decltype(&corvale_show_message) showMessage = nullptr;
        decltype(&corvale_open_file) openFile = nullptr;
        decltype(&corvale_choose_folder) chooseFolder = nullptr;
        decltype(&corvale_process_events) processEvents = nullptr;
        decltype(&corvale_reset_pointer) resetPointer = nullptr;
        decltype(&corvale_stop_dialogs) stop = nullptr;
    };

    // Whether the module is loaded and its windows can be shown.
    bool windows();

    int& m_argc;
    char** m_argv;
    Module m_module;
    bool m_loaded = false;
    bool m_tried = false;
    StderrDialogs m_fallback;
};

} // namespace corvale::platform
