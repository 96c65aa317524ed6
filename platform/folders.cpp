#include "platform/folders.h"

#include "platform/failure.h"

#include <cerrno>
#include <filesystem>
#include <unistd.h>

namespace corvale::platform {

std::string programFolder() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        throw Failure(systemDescription("Cannot find the program's own folder", error.value()));
    }
    return exe.parent_path().string();
}

std::string currentFolder() {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    if (error) {
        throw Failure(systemDescription("Cannot read the current folder", error.value()));
    }
    return here.string();
}

void changeFolder(const std::string& folder) {
    // The system would take the name only up to the byte.
    if (folder.find('\0') != std::string::npos) {
        throw Failure("Cannot change to a folder whose name holds a NUL byte.");
    }
    if (::chdir(folder.c_str()) != 0) {
        throw Failure(systemDescription("Cannot change to the folder '" + folder + "'", errno));
    }
}

} // namespace corvale::platform
