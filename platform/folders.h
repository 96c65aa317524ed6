#pragma once

#include <string>

namespace corvale::platform {

// The folder that holds the running executable, without a trailing slash
// (except for "/").
std::string programFolder();
// The process's current folder.
std::string currentFolder();
// Makes folder the current folder; fails with the system's description.
void changeFolder(const std::string& folder);

} // namespace corvale::platform
