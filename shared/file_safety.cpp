#include "shared/file_safety.h"

#include "platform/failure.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace corvale {

namespace {

// Why the file or folder at path could have been changed by another user, or
// empty when it could not.
std::string looseness(const std::string& path, bool isFolder) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw Failure(systemDescription("Cannot check " + path, errno));
    }
    if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        return "belongs to another user (uid " + std::to_string(info.st_uid) + ")";
    }
    // A sticky folder keeps others from replacing the file, not from putting
    // a journal or a log beside it, which SQLite would read as part of it.
    if (info.st_mode & S_IWOTH) {
        return isFolder ? "can be written by every user" : "can be changed by every user";
    }
    if (info.st_mode & S_IWGRP) {
        return isFolder ? "can be written by its group" : "can be changed by its group";
    }
    return {};
}

} // namespace

void requirePrivateFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    if (error) {
        throw Failure(systemDescription("Cannot check " + path, error.value()));
    }
    const std::string advice = " Whoever can change it decides what starts at logon, so it is not used.";
    if (const std::string why = looseness(real.string(), false); !why.empty()) {
        throw Failure("The database " + real.string() + " " + why + "." + advice +
                      " Make it yours and writable by you alone (chmod go-w " + real.string() + ").");
    }
    const std::string folder = real.parent_path().string();
    if (const std::string why = looseness(folder, true); !why.empty()) {
        throw Failure("The folder " + folder + " that holds the database " + why + "." + advice +
                      " Make it writable by you alone (chmod go-w " + folder +
                      "), or move the database to a folder of your own.");
    }
}

} // namespace corvale
