#include "platform/module_loader.h"

#include <dlfcn.h>

namespace corvale::platform {

void* moduleSymbol(const char* module, const char* symbol, std::string& error) {
    // A module once loaded stays: dlopen hands back the same handle.
    void* handle = ::dlopen(module, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = ::dlerror();
        return nullptr;
    }
    void* found = ::dlsym(handle, symbol);
    if (!found) {
        error = "The module " + std::string(module) + " lacks " + symbol + ".";
    }
    return found;
}

} // namespace corvale::platform
