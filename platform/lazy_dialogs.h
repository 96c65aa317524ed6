#pragma once

#include "platform/stderr_dialogs.h"

#include <memory>

namespace corvale::platform {

// The Qt dialogs, loaded with Qt itself only when the first one is shown, so
// that a run with nothing to show neither loads Qt nor connects to a display.
// Without a screen (no display and no Qt platform named) or without the
// module, messages go to standard error instead.
class LazyQtDialogs : public Dialogs {
public:
    LazyQtDialogs(int& argc, char** argv);
    ~LazyQtDialogs() override;

    MessageAnswer showMessage(const MessageRequest& request) override;
    std::string openFile(const OpenFileRequest& request) override;
    std::string chooseFolder(const std::string& title) override;

    // Lets pending window events run, once windows exist.
    void processPendingEvents();
    // Sets the mouse pointer back, once windows exist.
    void resetPointer();

private:
    Dialogs& dialogs();

    int& m_argc;
    char** m_argv;
    std::unique_ptr<Dialogs> m_loaded;
    void (*m_processEvents)() = nullptr;
    void (*m_resetPointer)() = nullptr;
    StderrDialogs m_fallback;
    bool m_tried = false;
};

} // namespace corvale::platform
