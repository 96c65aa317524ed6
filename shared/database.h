#pragma once

#include "platform/sqlite_connection.h"
#include "shared/recordset.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvale {

// One statement with its values; the values are always bound, never pasted
// into the text, so a quote or a semicolon in a value is only data.
struct Query {
    std::string sql;
    std::vector<platform::SqlValue> params;
};

// The open database: every statement of a program goes through it.
class Database {
public:
    enum class Access { ReadWrite, ReadOnly };

    // Opens an existing file and checks that it is one of ours; fails with a
    // description naming the file otherwise. ReadOnly leaves the file and
    // its journal or log exactly as they are. ReadWrite first refuses
    // companions that are not this user's (they would be played back) and
    // brings a file kept with a write-ahead log back to the ordinary journal.
    // SQLite looks for a journal or log to play back at the start of every
    // transaction, not only at the open: a ReadWrite database refuses such
    // companions before every statement outside a transaction and before
    // every transaction, so that one planted while it is open is neither
    // played back nor read. ReadWrite brings a file of an earlier format to
    // this program's (schema.h). Both read one of a newer format without
    // writing anything: every change fails, saying why.
    explicit Database(const std::string& path, Access access = Access::ReadWrite);

    const std::string& path() const { return m_connection.path(); }
    // Why no change is written (a file of a newer format); empty when they are.
    const std::string& readOnlyReason() const { return m_newerFormat; }
    // What the open did to a table of another shape (settleOptionalTables),
    // for the person to be told once.
    const std::vector<std::string>& settleNotices() const { return m_settleNotices; }

    Recordset openRecordset(const Query& query);
    // Runs a change at once; returns the number of rows it touched.
    int execute(const Query& query);
    // Runs work as one transaction that takes the write lock at once, so that
    // what it reads stays true until it commits. A failure inside rolls back
    // everything work did and is thrown on. Called inside another, work is
    // part of that one.
    void transaction(const std::function<void()>& work);
    // Reads as one snapshot while the object lives: the file is locked for
    // reading once, and what the statements read is of one moment, instead
    // of a lock, and a look for a journal, at every statement. Ends before
    // anything waits (a message, a process), so that the tool can write.
    class ReadSnapshot {
    public:
        explicit ReadSnapshot(Database& database);
        ~ReadSnapshot();
        ReadSnapshot(const ReadSnapshot&) = delete;
        ReadSnapshot& operator=(const ReadSnapshot&) = delete;

    private:
        Database& m_database;
        bool m_begun = false;
    };
    // The file's format (its PRAGMA user_version): larger than this
    // program's for a file of a newer release, which is read as far as this
    // program knows it and never written.
    int format() const { return m_format; }

    // The tables the tool adds beside the original three (formats 2 and 3):
    // each is read only where it has the columns this program knows. Asked
    // only by NamesAndMarks (names_and_marks.h), the one reader of those
    // tables.
    enum class Table { Absent, Usable, Misshapen };
    struct ExtraTables {
        Table entryNames = Table::Absent;
        Table itemOptions = Table::Absent;
        Table connectedLeaving = Table::Absent;
        Table disconnectedLeaving = Table::Absent;
    };
    // Read once per connection: the tool settles them as it opens the file.
    ExtraTables extraTables();

    // The key the store gave the row inserted last.
    std::int64_t lastInsertId() const { return m_connection.lastInsertId(); }

private:
    void keepOrdinaryJournal();
    ExtraTables readExtraTables();
    void refuseNewerFormat() const;
    // Before SQLite begins a transaction of its own accord.
    void refuseForeignCompanions() const;

    platform::SqliteConnection m_connection;
    bool m_writer = false;
    bool m_inTransaction = false;
    // Why the file is not written: it comes from a newer program.
    std::string m_newerFormat;
    int m_format = 0;
    std::vector<std::string> m_settleNotices;
    std::optional<ExtraTables> m_extraTables;
};

// Where databases are opened from. It holds no connection of its own; it is
// kept so that the open follows the programs' connection sequence step by step.
struct Workspace {
    std::string name;
    std::string user;

    std::unique_ptr<Database> openDatabase(const std::string& path, Database::Access access) const;
};

// The connection state a program keeps for its whole run.
struct ConnectionState {
    std::optional<Workspace> wrkSpace;
    std::string dbPath;
    Database::Access access = Database::Access::ReadWrite;
    std::unique_ptr<Database> dbase;

    // Creates the workspace. Nothing in it can fail on this store, but a
    // failure would leave wrkSpace unset and the open would report it.
    void openWorkspace();
    // Opens dbase at dbPath through the workspace.
    void openDatabase();
};

} // namespace corvale
