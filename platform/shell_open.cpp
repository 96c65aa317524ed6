#include "platform/shell_open.h"

#include "platform/module_loader.h"

#include <filesystem>
#include <iostream>

namespace corvale::platform {

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
    std::string loadError;
    using OpenFunction = int (*)(const char*);
    const auto open =
        reinterpret_cast<OpenFunction>(moduleSymbol(kGioModule, "corvale_open_with_application", loadError));
    if (!open) {
        std::cerr << "Cannot open files with the desktop's applications: " << loadError << std::endl;
        return shell_code::kLaunchFailed;
    }
    return open(target.c_str());
}

} // namespace corvale::platform
