#include "platform/module_loader.h"

#include <cstddef>
#include <dlfcn.h>
#include <filesystem>
#include <link.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace corvale::platform {

namespace {

// The module in the folders the program's own run path names, looked up
// here: where dlopen is wrapped by a library of its own (a sanitizer's), the
// loader searches that library's run path instead of the program's.
void* openFromTheProgramsRunPath(const char* module) {
    void* program = ::dlopen(nullptr, RTLD_NOW);
    Dl_serinfo size{};
    if (!program || ::dlinfo(program, RTLD_DI_SERINFOSIZE, &size) != 0) {
        return nullptr;
    }
    std::vector<std::max_align_t> storage(size.dls_size / sizeof(std::max_align_t) + 1);
    auto* paths = reinterpret_cast<Dl_serinfo*>(storage.data());
    *paths = size;
    if (::dlinfo(program, RTLD_DI_SERINFO, paths) != 0) {
        return nullptr;
    }
    for (unsigned i = 0; i < paths->dls_cnt; ++i) {
        const std::string candidate = std::string(paths->dls_serpath[i].dls_name) + "/" + module;
        if (::access(candidate.c_str(), R_OK) == 0) {
            return ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    }
    return nullptr;
}

// The module in the program's own folder, where the programs and their
// modules are laid together: found by its path, without a search.
void* openFromTheProgramsFolder(const char* module) {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return nullptr;
    }
    const std::filesystem::path candidate = program.parent_path() / module;
    return ::access(candidate.c_str(), R_OK) == 0 ? ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)
                                                  : nullptr;
}

} // namespace

void* moduleSymbol(const char* module, const char* symbol, std::string& error) {
    // A module once loaded stays: dlopen hands back the same handle. The
    // program's folder first; then its run path (a test's, whose modules
    // lie in the folder of the programs built beside it).
    void* handle = openFromTheProgramsFolder(module);
    if (!handle) {
        handle = ::dlopen(module, RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) {
        const std::string why = ::dlerror();
        handle = openFromTheProgramsRunPath(module);
        if (!handle) {
            error = why;
            return nullptr;
        }
    }
    void* found = ::dlsym(handle, symbol);
    if (!found) {
        error = "The module " + std::string(module) + " lacks " + symbol + ".";
    }
    return found;
}

} // namespace corvale::platform
