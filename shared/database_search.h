#pragma once

#include <optional>
#include <string>

namespace corvale {

// The path of the database file in folder, when there is one.
std::optional<std::string> databaseInFolder(const std::string& folder);

inline constexpr const char* kMissingDatabaseText = "This application cannot execute properly without the "
                                                    "database corvale.mdb.  Please install this database on "
                                                    "your system, and run the program again.";

} // namespace corvale
