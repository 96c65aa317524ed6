#include "shared/schema.h"

#include "platform/failure.h"
#include "platform/sqlite_connection.h"

#include <filesystem>
#include <strings.h>

namespace corvale {

const std::vector<TableShape>& expectedTables() {
    static const std::vector<TableShape> tables = {
        {"IPs", {"IPID", "IPaddress"}},
        {"ConnectedList", {"ListID", "IPID", "TargetPath", "StartinPath", "ListOrder"}},
        {"DisConnectedList", {"ListID", "TargetPath", "StartinPath", "ListOrder"}},
    };
    return tables;
}

const std::string& schemaScript() {
    // AUTOINCREMENT: a key, once given, is never given again, even after its
    // row is deleted.
    static const std::string script = "CREATE TABLE IPs (\n"
                                      "    IPID INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                                      "    IPaddress TEXT\n"
                                      ");\n"
                                      "CREATE TABLE ConnectedList (\n"
                                      "    ListID INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                                      "    IPID INTEGER,\n"
                                      "    TargetPath TEXT,\n"
                                      "    StartinPath TEXT,\n"
                                      "    ListOrder INTEGER\n"
                                      ");\n"
                                      "CREATE TABLE DisConnectedList (\n"
                                      "    ListID INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                                      "    TargetPath TEXT,\n"
                                      "    StartinPath TEXT,\n"
                                      "    ListOrder INTEGER\n"
                                      ");\n";
    return script;
}

namespace {

bool containsIgnoringCase(const std::vector<std::string>& names, const std::string& wanted) {
    for (const std::string& name : names) {
        if (strcasecmp(name.c_str(), wanted.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

void verifySchema(platform::SqliteConnection& connection) {
    // The first read also tells a file that is not a database at all.
    const platform::SqlRows version = connection.query("PRAGMA user_version");
    const auto fileVersion = std::get<std::int64_t>(version.rows.at(0).at(0));
    if (fileVersion > kSchemaVersion) {
        throw Failure("The database " + connection.path() +
                      " was written by a newer version of Corvale (format " + std::to_string(fileVersion) +
                      "; this program reads formats up to " + std::to_string(kSchemaVersion) +
                      "). Please install the newer version.");
    }
    for (const TableShape& table : expectedTables()) {
        const platform::SqlRows info =
            connection.query("SELECT name FROM pragma_table_info(?)", {table.name});
        if (info.rows.empty()) {
            throw Failure("The file " + connection.path() + " is not a Corvale database: it has no table " +
                          table.name + ".");
        }
        std::vector<std::string> present;
        for (const auto& row : info.rows) {
            present.push_back(std::get<std::string>(row.at(0)));
        }
        for (const std::string& column : table.columns) {
            if (!containsIgnoringCase(present, column)) {
                throw Failure("The file " + connection.path() + " is not a Corvale database: its table " +
                              table.name + " has no column " + column + ".");
            }
        }
    }
}

void createEmptyDatabase(const std::string& path) {
    if (std::filesystem::exists(path)) {
        throw Failure("Will not make a new database over the existing file " + path + ".");
    }
    platform::SqliteConnection connection(path, platform::SqliteConnection::Mode::Create);
    connection.execScript("BEGIN;\n" + schemaScript() +
                          "PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";\nCOMMIT;");
}

} // namespace corvale
