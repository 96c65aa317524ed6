// The Qt dialogs as a module that a program without windows loads only when
// it has something to show (its interface: module_interface.h).
#include "platform/module_interface.h"
#include "platform/qt_dialogs.h"
#include "platform/qt_platform_choice.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::unique_ptr<corvale::platform::QtDialogs> dialogs;
// The window application's command line: the program's name and the
// platform chosen. Qt keeps referring to it while the application lives.
std::vector<std::string> arguments;
std::vector<char*> argumentPointers;
int argumentCount = 0;

// Whether a message is on the screen now.
bool showing = false;

// Qt ends the process with exit() when the display goes away (the session
// ends while a message is open). The application would then be destroyed
// under the open message, which crashes: the process ends at once instead,
// with Qt's status; what the run had to say is written already.
void endWithoutTearingDown(int status, void*) {
    if (showing) {
        ::_exit(status);
    }
}

char* copyForCaller(const std::string& text) {
    return text.empty() ? nullptr : strdup(text.c_str());
}

} // namespace

extern "C" const char* corvale_start_dialogs(int* argc, char** argv) {
    static std::string why;
    try {
        std::string platforms;
        why = corvale::platform::chooseUsablePlatform(platforms);
        if (why.empty()) {
            arguments = {*argc > 0 ? argv[0] : "brisken", "-platform", platforms};
            argumentPointers.clear();
            for (std::string& argument : arguments) {
                argumentPointers.push_back(argument.data());
            }
            argumentPointers.push_back(nullptr);
            argumentCount = static_cast<int>(arguments.size());
            dialogs = std::make_unique<corvale::platform::QtDialogs>(argumentCount, argumentPointers.data());
        }
    } catch (const std::exception& failure) {
        why = failure.what();
    } catch (...) {
        why = "the window module failed to start";
    }
    return why.empty() ? nullptr : why.c_str();
}

extern "C" int corvale_show_message(const char* text, const char* caption, int buttons, int icon,
                                    int defaultButton) {
    static const bool registered = ::on_exit(endWithoutTearingDown, nullptr) == 0;
    (void)registered;
    try {
        showing = true;
        const struct Shown {
            ~Shown() { showing = false; }
        } shown;
        return static_cast<int>(dialogs->showMessage(
            {text, caption, static_cast<corvale::MessageButtons>(buttons),
             static_cast<corvale::MessageIcon>(icon), static_cast<corvale::MessageAnswer>(defaultButton)}));
    } catch (...) {
        return static_cast<int>(corvale::MessageAnswer::Cancel);
    }
}

extern "C" char* corvale_open_file(const char* filter, const char* title, const char* folder) {
    try {
        return copyForCaller(dialogs->openFile({filter, title, folder}));
    } catch (...) {
        return nullptr;
    }
}

extern "C" char* corvale_choose_folder(const char* title, const char* folder) {
    try {
        return copyForCaller(dialogs->chooseFolder(title, folder));
    } catch (...) {
        return nullptr;
    }
}

extern "C" void corvale_stop_dialogs(void) {
    try {
        dialogs.reset();
    } catch (...) {
        // Nothing to tell: the program goes on without.
    }
}

extern "C" void corvale_process_events(void) {
    try {
        corvale::platform::QtDialogs::processPendingEvents();
    } catch (...) {
        // Nothing to tell: the program goes on without.
    }
}

extern "C" void corvale_reset_pointer(void) {
    try {
        corvale::platform::resetQtPointer();
    } catch (...) {
        // Nothing to tell: the program goes on without.
    }
}
