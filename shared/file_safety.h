#pragma once

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

} // namespace corvale
