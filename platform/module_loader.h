#pragma once

#include "platform/module_interface.h"

#include <string>

namespace corvale::platform {

// Finds symbol in the program's own module (a shared library laid beside the
// programs, in the program's own folder or on its run path). Loaded once, kept for the
// life of the process. Returns null and sets error when it cannot.
void* moduleSymbol(const char* module, const char* symbol, std::string& error);

// The module's function declared as function in module_interface.h, by its
// own name, as a pointer of its declared type.
#define CORVALE_MODULE_LOOKUP(module, function, error)                                                       \
    reinterpret_cast<decltype(&(function))>(::corvale::platform::moduleSymbol((module), #function, (error)))

// The modules: what only some runs need is kept out of the programs'
// start-up. Opening files with the desktop's applications needs GIO; windows
// need Qt.
inline constexpr const char* kGioModule = "libcorvale_gio.so";
inline constexpr const char* kDialogsModule = "libcorvale_dialogs.so";

} // namespace corvale::platform
