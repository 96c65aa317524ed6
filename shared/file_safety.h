#pragma once

#include <string>

namespace corvale {

// The engine starts whatever its database names, in the user's session. Like
// OpenSSH with key files, it refuses a database that another user could have
// changed: the file, and the folder that holds it, must belong to this user
// or to root and must not be writable by group or others (a folder with the
// sticky bit, such as /tmp, may be: nobody else can replace a file in it).
// Fails with a description that names the file and what is wrong.
void requirePrivateFile(const std::string& path);

} // namespace corvale
