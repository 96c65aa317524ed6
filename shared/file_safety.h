#pragma once

#include <optional>
#include <string>

struct stat;

namespace corvale {

// The engine starts whatever its database names, in the user's session. Like
// OpenSSH with key files (its StrictModes), it refuses a database that
// another user could have changed or put in its place:
//  - the file must belong to this user or to root and be writable by nobody
//    else;
//  - its folder likewise, sticky bit or not (in /tmp another user can still
//    add a journal beside the file);
//  - every folder above it must belong to this user or to root and be
//    writable by nobody else, unless it is root's and sticky (as /tmp is),
//    where nobody can move another's entry away;
//  - the files that SQLite reads as part of it (-journal, -wal, -shm) are
//    checked as companions are, below.
// Writing for the group counts as nobody else's when the group is this
// user's private one (its only member, as Debian's OpenSSH allows).
// Links are resolved first; the path returned, with no link left in it, is
// the one to open, so that the check and the open see the same file. Fails
// with a description that names what is wrong and how to put it right.
std::string requirePrivateFile(const std::string& path);

// A folder that belongs to this user and that nobody else can write (as a
// private group's member alone may), not a link; otherwise fails with a
// description that names it.
void requirePrivateFolder(const std::string& folder);

// The files beside the database that SQLite reads as part of it: a rollback
// journal it plays back, a write-ahead log and its index. Each that is
// there must be a regular file (not a link) that belongs to this user or to
// root and that nobody else can write; otherwise fails, naming the file and
// saying to remove it. The configuration tool asks this before every open
// (it plays back journals); the engine as part of the whole check.
void requireOwnCompanions(const std::string& databasePath);
// The same judgement of one such file as the system describes it (info,
// not following a link): empty when it may be read, otherwise the refusal.
// Both programs also have SQLite ask it at the moment it opens the file
// (platform::judgeCompanionsAtOpen), so that one laid there after the check
// above is refused as well. The file must moreover have one name only.
std::string companionRefusal(const std::string& companion, const struct stat& info);

// Who other than this user (and root) could change what an item of a list
// starts: the account that owns the file, or a folder above it, or that may
// write one of them (through its group, or as any user). A folder that
// everyone may write but that is sticky and this user's or root's (as /tmp
// is) lets nobody else rename a file of this user's in it, and counts as
// safe for it. The path as written and the file it leads to are both
// looked at. Nothing when only this user and root can, or when the file is
// not there.
struct OtherWriter {
    std::string who;  // the account's name ("uid N" where it has none), or "any user"
    std::string what; // the file or folder that they could change
};
std::optional<OtherWriter> otherWriterOf(const std::string& path);
// The words of a failed start for it: "another user (NAME) can change it".
std::string otherWriterReason(const OtherWriter& writer);

} // namespace corvale
