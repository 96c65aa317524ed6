// The Qt dialogs as a module that a program without windows loads only when
// it has something to show. Its interface is plain C: the program may carry
// its own copy of the C++ runtime, so no C++ object, allocation or exception
// crosses it. Texts handed back are allocated with malloc for the caller to
// free.
#include "platform/qt_dialogs.h"
#include "platform/qt_platform_choice.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#define CORVALE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::unique_ptr<corvale::platform::QtDialogs> dialogs;
// The window application's command line: the program's name and the
// platform chosen. Qt keeps referring to it while the application lives.
std::vector<std::string> arguments;
std::vector<char*> argumentPointers;
int argumentCount = 0;

char* copyForCaller(const std::string& text) {
    return text.empty() ? nullptr : strdup(text.c_str());
}

} // namespace

// Chooses a window platform that can be used and prepares the dialogs.
// Returns null when windows can be shown; otherwise why not.
CORVALE_EXPORT const char* corvale_start_dialogs(int* argc, char** argv) {
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
    }
    return why.empty() ? nullptr : why.c_str();
}

// Returns the answer's number (corvale::MessageAnswer).
CORVALE_EXPORT int corvale_show_message(const char* text, const char* caption, int buttons, int icon,
                                        int defaultButton) {
    try {
        return static_cast<int>(dialogs->showMessage(
            {text, caption, static_cast<corvale::MessageButtons>(buttons),
             static_cast<corvale::MessageIcon>(icon), static_cast<corvale::MessageAnswer>(defaultButton)}));
    } catch (const std::exception&) {
        return static_cast<int>(corvale::MessageAnswer::Cancel);
    }
}

// The chosen file's full path, or null when the dialog was cancelled.
CORVALE_EXPORT char* corvale_open_file(const char* filter, const char* title) {
    try {
        return copyForCaller(dialogs->openFile({filter, title}));
    } catch (const std::exception&) {
        return nullptr;
    }
}

// The chosen folder, or null.
CORVALE_EXPORT char* corvale_choose_folder(const char* title) {
    try {
        return copyForCaller(dialogs->chooseFolder(title));
    } catch (const std::exception&) {
        return nullptr;
    }
}

// Closes the window application before the program ends.
CORVALE_EXPORT void corvale_stop_dialogs() {
    dialogs.reset();
}

CORVALE_EXPORT void corvale_process_events() {
    corvale::platform::QtDialogs::processPendingEvents();
}

CORVALE_EXPORT void corvale_reset_pointer() {
    corvale::platform::resetQtPointer();
}
