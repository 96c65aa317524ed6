#pragma once

#include <string>
#include <vector>

namespace corvale::platform {
class SqliteConnection;
}

namespace corvale {

inline constexpr const char* kDatabaseFileName = "corvale.mdb";

// The file format this program writes into PRAGMA user_version. A file made by
// hand from the schema alone has 0 and is accepted; a larger number than this
// comes from a newer program and is refused.
inline constexpr int kSchemaVersion = 1;

struct TableShape {
    std::string name;
    std::vector<std::string> columns;
};

// The three tables and the columns every reader relies on.
const std::vector<TableShape>& expectedTables();

// The statements that make an empty database.
const std::string& schemaScript();

// Fails with a description naming the file when it is not a database of ours:
// a newer format, a missing table or a missing column.
void verifySchema(platform::SqliteConnection& connection);

// Creates an empty database at path; fails when a file is already there.
void createEmptyDatabase(const std::string& path);

} // namespace corvale
