#include "shared/file_safety.h"

#include "platform/failure.h"

#include <cerrno>
#include <filesystem>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvale {

namespace {

constexpr const char* kWhoDecides = " Whoever can change it decides what starts at logon, so it is not used.";

struct stat statOf(const std::string& path, bool followLinks) {
    struct stat info {};
    if ((followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) != 0) {
        throw Failure(systemDescription("Cannot check " + path, errno));
    }
    return info;
}

bool ownedByUsOrRoot(const struct stat& info) {
    return info.st_uid == ::geteuid() || info.st_uid == 0;
}

std::string anotherUser(const struct stat& info) {
    return "belongs to another user (uid " + std::to_string(info.st_uid) + ")";
}

// Whether gid is this user's private group: this user is its one member,
// as every group entry of that number lists them and as anyone's primary
// group. Where each user has a group of his own (umask 002), writing for the
// group lets nobody else in. A group without members is no private group: a
// program that runs with it (setgid) could write. Nothing when it is
// private; otherwise the account that could act through it too (empty where
// none is known by name).
std::optional<std::string> otherThanUsIn(gid_t gid) {
    const uid_t us = ::geteuid();
    const struct passwd* own = ::getpwuid(us);
    if (!own) {
        return std::string();
    }
    const std::string ourName = own->pw_name;
    const bool ourPrimary = own->pw_gid == gid;
    // An administrator may give a second group the same number (groupadd -o):
    // each entry of it counts.
    bool known = false;
    bool listed = false;
    std::optional<std::string> other;
    ::setgrent();
    while (const struct group* group = ::getgrent()) {
        if (group->gr_gid != gid) {
            continue;
        }
        known = true;
        for (char** member = group->gr_mem; member && *member && !other; ++member) {
            if (ourName != *member) {
                other = *member;
            }
            listed = true;
        }
    }
    ::endgrent();
    if (other) {
        return other;
    }
    if (!known || (!ourPrimary && !listed)) {
        return std::string();
    }
    ::setpwent();
    while (const struct passwd* account = ::getpwent()) {
        if (account->pw_gid == gid && account->pw_uid != us) {
            other = account->pw_name;
            break;
        }
    }
    ::endpwent();
    return other;
}

// Why others could change the file or folder described by info, or empty
// when they could not.
std::string looseness(const struct stat& info, bool isFolder) {
    if (!ownedByUsOrRoot(info)) {
        return anotherUser(info);
    }
    if (info.st_mode & S_IWOTH) {
        return isFolder ? "can be written by every user" : "can be changed by every user";
    }
    if (info.st_mode & S_IWGRP) {
        if (const std::optional<std::string> other = otherThanUsIn(info.st_gid)) {
            return (isFolder ? "can be written by its group" : "can be changed by its group") +
                   (other->empty() ? std::string() : ", to which " + *other + " belongs too");
        }
    }
    return {};
}

std::string accountName(uid_t uid) {
    const struct passwd* account = ::getpwuid(uid);
    return account ? std::string(account->pw_name) : "uid " + std::to_string(uid);
}

// Who other than this user and root could change the file or folder that
// info describes, and by what right; nothing when nobody could. Writing for
// a group counts where an account other than ours is known in it.
struct Writer {
    enum class By { Owner, AnyUser, Group };
    By by = By::Owner;
    std::string who;
};
std::optional<Writer> otherWriterIn(const struct stat& info) {
    if (!ownedByUsOrRoot(info)) {
        return Writer{Writer::By::Owner, accountName(info.st_uid)};
    }
    if (S_ISLNK(info.st_mode)) {
        return std::nullopt; // a link's own mode means nothing: only who owns it
    }
    if (info.st_mode & S_IWOTH) {
        return Writer{Writer::By::AnyUser, "any user"};
    }
    if (info.st_mode & S_IWGRP) {
        if (std::optional<std::string> other = otherThanUsIn(info.st_gid); other && !other->empty()) {
            return Writer{Writer::By::Group, std::move(*other)};
        }
    }
    return std::nullopt;
}

// The first file or folder on the way to path (no link left in its folders)
// that another user could change.
std::optional<OtherWriter> otherWriterOnTheWay(const std::filesystem::path& path) {
    std::vector<std::filesystem::path> way;
    for (std::filesystem::path at = path; !at.empty(); at = at.parent_path()) {
        way.insert(way.begin(), at);
        if (at == at.root_path()) {
            break;
        }
    }
    std::optional<struct stat> below;
    for (auto at = way.rbegin(); at != way.rend(); ++at) {
        struct stat info {};
        if (::lstat(at->c_str(), &info) != 0) {
            return std::nullopt;
        }
        const std::optional<Writer> writer = otherWriterIn(info);
        // Sticky, and this user's or root's: nobody else may rename what is
        // this user's or root's in it.
        const bool keepsEachToHisOwn = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) &&
                                       ownedByUsOrRoot(info) && below && ownedByUsOrRoot(*below);
        if (writer && !(keepsEachToHisOwn && writer->by == Writer::By::AnyUser)) {
            return OtherWriter{writer->who, at->string()};
        }
        below = info;
    }
    return std::nullopt;
}

} // namespace

std::optional<OtherWriter> otherWriterOf(const std::string& path) {
    std::error_code error;
    const std::filesystem::path written = std::filesystem::absolute(path, error).lexically_normal();
    const std::filesystem::path real = std::filesystem::canonical(written, error);
    if (error) {
        return std::nullopt;
    }
    if (auto found = otherWriterOnTheWay(real)) {
        return found;
    }
    // A link to it lives in a folder of its own, where another user could
    // lay another link.
    const std::filesystem::path linkFolder = std::filesystem::canonical(written.parent_path(), error);
    if (error || linkFolder / written.filename() == real) {
        return std::nullopt;
    }
    return otherWriterOnTheWay(linkFolder / written.filename());
}

std::string otherWriterReason(const OtherWriter& writer) {
    return "another user (" + writer.who + ") can change it";
}

namespace {

void requireSafeFoldersAbove(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> above;
    for (std::filesystem::path at = folder.parent_path(); !at.empty(); at = at.parent_path()) {
        above.insert(above.begin(), at);
        if (at == at.root_path()) {
            break;
        }
    }
    for (const std::filesystem::path& at : above) {
        const struct stat info = statOf(at.string(), true);
        // Where every user may write, the sticky bit keeps each to his own
        // entries, and only root's folders count.
        const bool rootsSticky = info.st_uid == 0 && (info.st_mode & S_ISVTX);
        const std::string why = rootsSticky ? std::string() : looseness(info, true);
        if (!why.empty()) {
            throw Failure("The folder " + at.string() + " above the database " + why +
                          ": another user could put a folder of his own, and a database in it, in the place "
                          "of " +
                          folder.string() + "." + kWhoDecides +
                          " Make it writable by you alone (chmod go-w " + at.string() +
                          "), or move the database to a folder of your own.");
        }
    }
}

} // namespace

std::string requirePrivateFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    if (error) {
        throw Failure(systemDescription("Cannot check " + path, error.value()));
    }
    if (const std::string why = looseness(statOf(real.string(), true), false); !why.empty()) {
        throw Failure("The database " + real.string() + " " + why + "." + kWhoDecides +
                      " Make it yours and writable by you alone (chmod go-w " + real.string() + ").");
    }
    const std::string folder = real.parent_path().string();
    if (const std::string why = looseness(statOf(folder, true), true); !why.empty()) {
        throw Failure("The folder " + folder + " that holds the database " + why + "." + kWhoDecides +
                      " Make it writable by you alone (chmod go-w " + folder +
                      "), or move the database to a folder of your own.");
    }
    requireSafeFoldersAbove(real.parent_path());
    requireOwnCompanions(real.string());
    return real.string();
}

void requirePrivateFolder(const std::string& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        throw Failure(systemDescription("Cannot use the folder " + folder, errno));
    }
    std::string why;
    if (!S_ISDIR(info.st_mode)) {
        why = S_ISLNK(info.st_mode) ? "is a link" : "is not a folder";
    } else if (info.st_uid != ::geteuid()) {
        why = anotherUser(info);
    } else {
        why = looseness(info, true);
    }
    if (!why.empty()) {
        throw Failure("The folder " + folder + " " + why + ", so it is not used.");
    }
}

std::string companionRefusal(const std::string& companion, const struct stat& info) {
    std::string why;
    if (S_ISLNK(info.st_mode)) {
        why = "is a link";
    } else if (!S_ISREG(info.st_mode)) {
        why = "is not a regular file";
    } else if (info.st_nlink > 1) {
        // Another name of the same file may lie where its owner can change it.
        why = "has another name (a hard link)";
    } else {
        why = looseness(info, false);
    }
    if (why.empty()) {
        return {};
    }
    return "The file " + companion + " beside the database " + why +
           ". SQLite would read it as part of the database, so the database is not used. "
           "If you did not make it, remove it (rm " +
           companion + ").";
}

void requireOwnCompanions(const std::string& databasePath) {
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const std::string companion = databasePath + suffix;
        struct stat info {};
        if (::lstat(companion.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                continue;
            }
            throw Failure(systemDescription("Cannot check " + companion, errno));
        }
        if (std::string refusal = companionRefusal(companion, info); !refusal.empty()) {
            throw Failure(refusal);
        }
    }
}

} // namespace corvale
