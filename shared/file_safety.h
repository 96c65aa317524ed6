#pragma once

#include <string>

namespace corvale {

// The engine starts whatever its database names, in the user's session. Like
// OpenSSH with key files, it refuses a database that another user could have
// changed: the file, and the folder that holds it, must belong to this user
// or to root and must not be writable by group or others, sticky bit or not
// (in /tmp another user can still add a journal beside the file).
// Fails with a description that names the file and what is wrong.
void requirePrivateFile(const std::string& path);

} // namespace corvale
