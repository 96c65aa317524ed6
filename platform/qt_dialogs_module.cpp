// The Qt dialogs as a module that a program without windows loads only when
// it has something to show.
#include "platform/qt_dialogs.h"

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
