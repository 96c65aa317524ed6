#include "platform/shell_open.h"

#include "platform/module_loader.h"

#include <filesystem>
#include <iostream>

namespace corvale::platform {

namespace {
using OpenFunction = int (*)(const char*);

OpenFunction gioFunction(const char* name) {
    std::string loadError;
    const auto function = reinterpret_cast<OpenFunction>(moduleSymbol(kGioModule, name, loadError));
    if (!function) {
        std::cerr << "Cannot open files with the desktop's applications: " << loadError << std::endl;
    }
    return function;
}
} // namespace

int openUri(const std::string& uri) {
    const OpenFunction open = gioFunction("corvale_open_uri");
    return open ? open(uri.c_str()) : shell_code::kLaunchFailed;
}

int shellOpen(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path target = fs::absolute(path, error);
    if (error || path.empty()) {
        return shell_code::kFileNotFound;
    }
    if (!fs::exists(target, error)) {
        return fs::is_directory(target.parent_path(), error) ? shell_code::kFileNotFound
                                                             : shell_code::kPathNotFound;
    }
    const OpenFunction open = gioFunction("corvale_open_with_application");
    return open ? open(target.c_str()) : shell_code::kLaunchFailed;
}

} // namespace corvale::platform
