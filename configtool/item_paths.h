#pragma once

#include <QString>

namespace corvale::tool {

// A path that lies on another machine: it begins with two slashes or two
// backslashes, or it is an address with a scheme (smb://, sftp://). A program
// cannot be started in such a folder.
bool isNetworkPath(const QString& path);

// The folder part of a target path with its trailing slash: /opt/tools/app
// gives /opt/tools/. Empty when the path names no folder or is a network path.
QString folderOfTarget(const QString& target);

} // namespace corvale::tool
