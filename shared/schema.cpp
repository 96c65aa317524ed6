#include "shared/schema.h"

#include "platform/failure.h"
#include "platform/sqlite_connection.h"

#include <algorithm>
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

const OptionalTable& entryNamesTable() {
    static const OptionalTable table{{"EntryNames", {"IPID", "Name"}},
                                     "CREATE TABLE IF NOT EXISTS EntryNames (IPID INTEGER PRIMARY KEY, "
                                     "Name TEXT NOT NULL)"};
    return table;
}

const OptionalTable& itemOptionsTable() {
    static const OptionalTable table{
        {"ItemOptions", {"List", "ListID", "StopOnLeave"}},
        "CREATE TABLE IF NOT EXISTS ItemOptions (List TEXT NOT NULL CHECK (List IN "
        "('ConnectedList','DisConnectedList')), ListID INTEGER NOT NULL, StopOnLeave INTEGER NOT NULL "
        "DEFAULT 0, PRIMARY KEY (List, ListID))"};
    return table;
}

const OptionalTable& connectedLeavingTable() {
    static const OptionalTable table{
        {"ConnectedLeavingList", {"ListID", "IPID", "TargetPath", "StartinPath", "ListOrder"}},
        "CREATE TABLE IF NOT EXISTS ConnectedLeavingList (ListID INTEGER PRIMARY KEY "
        "AUTOINCREMENT, IPID INTEGER, TargetPath TEXT, StartinPath TEXT, ListOrder "
        "INTEGER)"};
    return table;
}

const OptionalTable& disconnectedLeavingTable() {
    static const OptionalTable table{
        {"DisConnectedLeavingList", {"ListID", "TargetPath", "StartinPath", "ListOrder"}},
        "CREATE TABLE IF NOT EXISTS DisConnectedLeavingList (ListID INTEGER PRIMARY "
        "KEY AUTOINCREMENT, TargetPath TEXT, StartinPath TEXT, ListOrder INTEGER)"};
    return table;
}

const std::vector<const OptionalTable*>& optionalTables() {
    static const std::vector<const OptionalTable*> tables = {
        &entryNamesTable(), &itemOptionsTable(), &connectedLeavingTable(), &disconnectedLeavingTable()};
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

namespace {

// One statement answers the whole check: a row with the empty name and the
// format number, then one row per column of each expected table (a table
// that is missing gives a single row without a column).
const std::string& schemaCheckQuery() {
    static const std::string query = [] {
        std::string tables;
        for (const TableShape& table : expectedTables()) {
            tables += (tables.empty() ? "('" : ",('") + table.name + "')";
        }
        return "SELECT '', user_version FROM pragma_user_version UNION ALL "
               "SELECT t.column1, p.name FROM (VALUES " +
               tables + ") AS t LEFT JOIN pragma_table_info(t.column1) AS p";
    }();
    return query;
}

} // namespace

namespace {

// What each format adds to the one before it; the step to format N is at
// index N - 1.
const std::vector<std::string>& upgradeSteps() {
    static const std::vector<std::string> steps = {
        // 1: the three tables, as this program makes them.
        "",
        // 2: names and marks beside the three tables (their shape is the
        // one earlier releases made on first write), and indexes for the
        // lookups by entry and by address.
        entryNamesTable().create + ";\n" + itemOptionsTable().create + ";\n" +
            "CREATE INDEX IF NOT EXISTS ConnectedListOfAddress ON ConnectedList (IPID, ListOrder);\n"
            "CREATE INDEX IF NOT EXISTS IPsByText ON IPs (IPaddress);\n",
        // 3: the items that run on leaving.
        connectedLeavingTable().create + ";\n" + disconnectedLeavingTable().create + ";\n" +
            "CREATE INDEX IF NOT EXISTS ConnectedLeavingListOfAddress ON ConnectedLeavingList (IPID, "
            "ListOrder);\n",
    };
    return steps;
}

} // namespace

std::string newerFormatText(const std::string& path, int fileVersion) {
    return "The database " + path + " was written by a newer version of Corvale (format " +
           std::to_string(fileVersion) + "; this program knows formats up to " +
           std::to_string(kSchemaVersion) +
           "), so this program does not change it. Please install the newer version.";
}

void upgradeSchema(platform::SqliteConnection& connection, int fileVersion) {
    for (int version = std::max(fileVersion, 0) + 1; version <= kSchemaVersion; ++version) {
        connection.execScript("BEGIN IMMEDIATE;\n" +
                              upgradeSteps().at(static_cast<std::size_t>(version - 1)) +
                              "PRAGMA user_version = " + std::to_string(version) + ";\nCOMMIT;");
    }
}

std::string selectingColumns(const TableShape& table) {
    // In brackets: a name in double quotes that names no column would be
    // read as a string instead.
    std::string columns;
    for (const std::string& column : table.columns) {
        columns += (columns.empty() ? "[" : ", [") + column + "]";
    }
    return "SELECT " + columns + " FROM [" + table.name + "]";
}

namespace {

// One statement that SQLite prepares only where every table named has
// every column named (its names are resolved whether or not a row is read),
// at the cost of a statement of the schema SQLite has read once already.
std::string allColumnsQuery(const std::vector<TableShape>& tables) {
    std::string exists;
    for (const TableShape& table : tables) {
        exists += " OR EXISTS (" + selectingColumns(table) + ")";
    }
    return "SELECT 1 WHERE 1" + exists;
}

bool hasAllColumns(platform::SqliteConnection& connection, const std::string& query) {
    try {
        connection.query(query);
        return true;
    } catch (const std::exception&) {
        // A table or column is missing, or the file is no database.
        return false;
    }
}

int formatOf(platform::SqliteConnection& connection) {
    const platform::SqlRows rows = connection.query("PRAGMA user_version");
    return rows.rows.size() == 1 && std::holds_alternative<std::int64_t>(rows.rows[0].at(0))
               ? static_cast<int>(std::get<std::int64_t>(rows.rows[0].at(0)))
               : 0;
}

// Whether each table is a table of the file with each of its columns.
bool tablesHaveColumns(platform::SqliteConnection& connection, const std::vector<TableShape>& tables) {
    return std::all_of(tables.begin(), tables.end(), [&](const TableShape& table) {
        return std::all_of(table.columns.begin(), table.columns.end(), [&](const std::string& column) {
            return connection.hasTableColumn(table.name, column);
        });
    });
}

std::vector<TableShape> everyTableShape() {
    std::vector<TableShape> tables = expectedTables();
    for (const OptionalTable* optional : optionalTables()) {
        tables.push_back(optional->shape);
    }
    return tables;
}

} // namespace

SchemaFound verifySchema(platform::SqliteConnection& connection) {
    // The usual file first, every table a table with every column: asked
    // of the schema as read, which is cheaper than preparing a statement
    // over them all.
    static const std::vector<TableShape> everyShape = everyTableShape();
    if (tablesHaveColumns(connection, everyShape)) {
        return {formatOf(connection), true};
    }
    // Otherwise by statements, which also take a view for a table.
    static const std::string everyTable = allColumnsQuery(everyShape);
    static const std::string threeTables = allColumnsQuery(expectedTables());
    if (hasAllColumns(connection, everyTable)) {
        return {formatOf(connection), true};
    }
    if (hasAllColumns(connection, threeTables)) {
        return {formatOf(connection), false};
    }
    // The first read also tells a file that is not a database at all.
    const platform::SqlRows rows = connection.query(schemaCheckQuery());
    std::int64_t fileVersion = 0;
    for (const auto& row : rows.rows) {
        if (std::get<std::string>(row.at(0)).empty()) {
            fileVersion = std::get<std::int64_t>(row.at(1));
        }
    }
    for (const TableShape& table : expectedTables()) {
        std::vector<std::string> present;
        for (const auto& row : rows.rows) {
            const auto* column = std::get_if<std::string>(&row.at(1));
            if (std::get<std::string>(row.at(0)) == table.name && column) {
                present.push_back(*column);
            }
        }
        if (present.empty()) {
            throw Failure("The file " + connection.path() + " is not a Corvale database: it has no table " +
                          table.name + ".");
        }
        for (const std::string& column : table.columns) {
            if (!containsIgnoringCase(present, column)) {
                throw Failure("The file " + connection.path() + " is not a Corvale database: its table " +
                              table.name + " has no column " + column + ".");
            }
        }
    }
    return {static_cast<int>(fileVersion), false};
}

std::vector<std::string> settleOptionalTables(platform::SqliteConnection& connection) {
    const auto columnsOf = [&](const std::string& table) {
        std::vector<std::string> present;
        for (const auto& row :
             connection.query("select name from pragma_table_info(?) where typeof(name) = 'text'", {table})
                 .rows) {
            present.push_back(std::get<std::string>(row.at(0)));
        }
        return present;
    };
    const auto freeName = [&](const std::string& table) {
        for (int number = 1;; ++number) {
            std::string name = table + "_set_aside" + (number == 1 ? "" : "_" + std::to_string(number));
            if (connection.query("select 1 from sqlite_master where lower(name) = lower(?)", {name})
                    .rows.empty()) {
                return name;
            }
        }
    };
    std::vector<std::string> notices;
    std::string script;
    for (const OptionalTable* table : optionalTables()) {
        const std::vector<std::string> present = columnsOf(table->shape.name);
        const bool known =
            std::all_of(table->shape.columns.begin(), table->shape.columns.end(),
                        [&](const std::string& column) { return containsIgnoringCase(present, column); });
        if (!present.empty() && known) {
            continue;
        }
        if (!present.empty()) {
            const std::string aside = freeName(table->shape.name);
            script += "ALTER TABLE \"" + table->shape.name + "\" RENAME TO \"" + aside + "\";\n";
            notices.push_back("The table " + table->shape.name + " in " + connection.path() +
                              " was not as this program knows it. It is kept, whole, as " + aside +
                              ", and a new, empty " + table->shape.name + " is made.");
        }
        script += table->create + ";\n";
    }
    if (script.empty()) {
        return notices;
    }
    connection.execScript("BEGIN IMMEDIATE");
    try {
        connection.execScript(script + "COMMIT;");
    } catch (const std::exception&) {
        connection.execScript("ROLLBACK");
        throw;
    }
    return notices;
}

void createEmptyDatabase(const std::string& path) {
    if (std::filesystem::exists(path)) {
        throw Failure("Will not make a new database over the existing file " + path + ".");
    }
    platform::SqliteConnection connection(path, platform::SqliteConnection::Mode::Create);
    connection.execScript("BEGIN;\n" + schemaScript() + "PRAGMA user_version = 1;\nCOMMIT;");
    upgradeSchema(connection, 1);
}

} // namespace corvale
