// The Qt dialogs as a module that a program without windows loads only when
// it has something to show.
#include "platform/qt_dialogs.h"
#include "platform/qt_platform_choice.h"

#include <string>

// Null when windows can be shown; otherwise why not.
extern "C" __attribute__((visibility("default"))) const char* corvale_choose_platform() {
    static std::string why;
    why = corvale::platform::chooseUsablePlatform();
    return why.empty() ? nullptr : why.c_str();
}

extern "C" __attribute__((visibility("default"))) corvale::Dialogs* corvale_make_dialogs(int* argc,
                                                                                         char** argv) {
    return new corvale::platform::QtDialogs(*argc, argv);
}

extern "C" __attribute__((visibility("default"))) void corvale_process_events() {
    corvale::platform::QtDialogs::processPendingEvents();
}

extern "C" __attribute__((visibility("default"))) void corvale_reset_pointer() {
    corvale::platform::resetQtPointer();
}
