#pragma once

#include <string>
#include <vector>

namespace corvale::platform {
class SqliteConnection;
}

namespace corvale {

inline constexpr const char* kDatabaseFileName = "corvale.mdb";

// The file format this program writes into PRAGMA user_version:
//  0  the three tables alone (a file made by hand from them);
//  1  the same, made by this program;
//  2  the names of entries (EntryNames), the marks of items (ItemOptions),
//     and the indexes that the editing rules' queries need;
//  3  the items that run on leaving, in tables of their own beside the two
//     lists (ConnectedLeavingList, DisConnectedLeavingList), where a program
//     that knows only the lists never starts them.
// A larger number than this comes from a newer program.
inline constexpr int kSchemaVersion = 3;

struct TableShape {
    std::string name;
    std::vector<std::string> columns;
};

// The three tables and the columns every reader relies on.
const std::vector<TableShape>& expectedTables();

// The tables of format 2 beside the three: the names of entries and the
// marks of items. Each is read only where it has these columns.
struct OptionalTable {
    TableShape shape;
    std::string create; // the statement that makes it
};
const OptionalTable& entryNamesTable();
const OptionalTable& itemOptionsTable();
// Format 3: the items of an entry's list, and of the disconnected list,
// that run when the laptop leaves its network; of the shape of their list.
const OptionalTable& connectedLeavingTable();
const OptionalTable& disconnectedLeavingTable();
// Every optional table, in the order above.
const std::vector<const OptionalTable*>& optionalTables();

// The statements that make an empty database.
const std::string& schemaScript();

// What the check of a file found: its format, which may be a newer
// program's (with more tables or columns, which are not read), and whether
// every optional table is there with its columns (false where that is not
// known yet).
struct SchemaFound {
    int format = 0;
    bool optionalTablesUsable = false;
};
// Fails with a description naming the file when it is not a database of ours
// (a missing table or a missing column).
SchemaFound verifySchema(platform::SqliteConnection& connection);
// A statement that reads the columns of table (and can be prepared only
// where it has them all).
std::string selectingColumns(const TableShape& table);

// Why a file of a newer format is not written by this program.
std::string newerFormatText(const std::string& path, int fileVersion);

// Brings a file of format fileVersion to kSchemaVersion, one step a version,
// each step one transaction that takes the write lock at once (what is there
// already, made by an earlier release on first write, is kept).
void upgradeSchema(platform::SqliteConnection& connection, int fileVersion);

// Makes sure a file of this program's format holds both optional tables in
// the shape it knows: one that is missing is made; one of another shape
// (made by hand, or by a broken release) is renamed aside, kept whole, and
// made afresh. One transaction; returns a notice for each table set aside,
// naming it and its new name.
std::vector<std::string> settleOptionalTables(platform::SqliteConnection& connection);

// Creates an empty database at path; fails when a file is already there.
void createEmptyDatabase(const std::string& path);

} // namespace corvale
