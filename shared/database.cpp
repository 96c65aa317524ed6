#include "shared/database.h"

#include "platform/failure.h"
#include "platform/sqlite_connection.h"
#include "shared/file_safety.h"
#include "shared/schema.h"

#include <algorithm>
#include <strings.h>

namespace corvale {

namespace {

// A writer plays back whatever journal lies beside the file: one that
// another user left there would put his rows into the database. This is
// asked before SQLite so much as looks at the file.
const std::string& checkedForWriting(const std::string& path, Database::Access access) {
    platform::judgeCompanionsAtOpen(&companionRefusal);
    if (access == Database::Access::ReadWrite) {
        requireOwnCompanions(path);
    }
    return path;
}

} // namespace

Database::Database(const std::string& path, Access access)
    : m_connection(checkedForWriting(path, access), access == Access::ReadOnly
                                                        ? platform::SqliteConnection::Mode::ReadOnly
                                                        : platform::SqliteConnection::Mode::OpenExisting) {
    m_writer = access == Access::ReadWrite;
    const SchemaFound found = verifySchema(m_connection);
    const int version = found.format;
    m_format = version;
    if (found.optionalTablesUsable) {
        m_extraTables = ExtraTables{Table::Usable, Table::Usable, Table::Usable, Table::Usable};
    }
    if (version > kSchemaVersion) {
        m_newerFormat = newerFormatText(m_connection.path(), version);
    } else if (m_writer) {
        keepOrdinaryJournal();
        upgradeSchema(m_connection, version);
        // From here on both optional tables are there, in the shape known.
        m_settleNotices = settleOptionalTables(m_connection);
    }
}

void Database::refuseForeignCompanions() const {
    if (m_writer && !m_inTransaction) {
        requireOwnCompanions(path());
    }
}

void Database::keepOrdinaryJournal() {
    const platform::SqlRows mode = m_connection.query("PRAGMA journal_mode");
    const auto* name = mode.rows.empty() ? nullptr : std::get_if<std::string>(&mode.rows[0].at(0));
    if (!name || *name != "wal") {
        return;
    }
    // The engine reads without writing, which a write-ahead log does not
    // allow once its files are gone: the file goes back to the ordinary
    // rollback journal. That needs the file to itself; while another
    // program has it open, it stays as it is for now (and the engine can
    // still read it, its log being there), without waiting for that program.
    try {
        m_connection.execScript("PRAGMA busy_timeout=0; PRAGMA journal_mode=DELETE");
    } catch (const Failure&) {
    }
    m_connection.execScript("PRAGMA busy_timeout=" + std::to_string(platform::kBusyTimeoutMs));
}

Database::ExtraTables Database::extraTables() {
    if (!m_extraTables) {
        m_extraTables = readExtraTables();
    }
    return *m_extraTables;
}

Database::ExtraTables Database::readExtraTables() {
    const auto shapeOf = [this](const std::string& table, const std::vector<std::string>& columns) {
        // The usual answer first, with a statement SQLite prepares only where
        // the table has every column.
        try {
            m_connection.query(selectingColumns({table, columns}) + " LIMIT 0");
            return Table::Usable;
        } catch (const std::exception&) {
            // Absent, or of another shape: which, below.
        }
        Recordset present =
            openRecordset({"select name from pragma_table_info(?) where typeof(name) = 'text'", {table}});
        if (present.eof()) {
            return Table::Absent;
        }
        std::size_t known = 0;
        for (; !present.eof(); present.moveNext()) {
            const std::string name = present.field("name").text();
            known +=
                static_cast<std::size_t>(std::count_if(columns.begin(), columns.end(), [&](const auto& c) {
                    return strcasecmp(c.c_str(), name.c_str()) == 0;
                }));
        }
        return known == columns.size() ? Table::Usable : Table::Misshapen;
    };
    const auto shape = [&](const OptionalTable& table) {
        return shapeOf(table.shape.name, table.shape.columns);
    };
    return {shape(entryNamesTable()), shape(itemOptionsTable()), shape(connectedLeavingTable()),
            shape(disconnectedLeavingTable())};
}

Recordset Database::openRecordset(const Query& query) {
    refuseForeignCompanions();
    return Recordset(m_connection.query(query.sql, query.params));
}

void Database::refuseNewerFormat() const {
    if (!m_newerFormat.empty()) {
        throw Failure(m_newerFormat);
    }
}

int Database::execute(const Query& query) {
    refuseNewerFormat();
    refuseForeignCompanions();
    return m_connection.execute(query.sql, query.params);
}

void Database::transaction(const std::function<void()>& work) {
    // A transaction inside another is part of it: the outer one commits or
    // rolls back the whole.
    if (m_inTransaction) {
        work();
        return;
    }
    refuseNewerFormat();
    refuseForeignCompanions();
    m_connection.execScript("BEGIN IMMEDIATE");
    m_inTransaction = true;
    try {
        work();
        m_connection.execScript("COMMIT");
        m_inTransaction = false;
    } catch (...) {
        m_inTransaction = false;
        // The work's failure is the one to report. A rollback fails mainly
        // when SQLite has already rolled back by itself (after a full disk or
        // an I/O error), which leaves nothing to undo.
        try {
            m_connection.execScript("ROLLBACK");
        } catch (const std::exception&) {
        }
        throw;
    }
}

Database::ReadSnapshot::ReadSnapshot(Database& database) : m_database(database) {
    if (!database.m_inTransaction) {
        database.refuseForeignCompanions();
        database.m_connection.execScript("BEGIN DEFERRED");
        database.m_inTransaction = true;
        m_begun = true;
    }
}

Database::ReadSnapshot::~ReadSnapshot() {
    if (!m_begun) {
        return;
    }
    m_database.m_inTransaction = false;
    // Nothing was written: the end of a read can fail only where SQLite
    // ended the transaction itself, which leaves nothing to end.
    try {
        m_database.m_connection.execScript("COMMIT");
    } catch (const std::exception&) {
    }
}

std::unique_ptr<Database> Workspace::openDatabase(const std::string& path, Database::Access access) const {
    return std::make_unique<Database>(path, access);
}

void ConnectionState::openWorkspace() {
    wrkSpace = Workspace{"lgnWrkSpace", "admin"};
}

void ConnectionState::openDatabase() {
    if (!wrkSpace) {
        throw Failure("The database workspace could not be created, so " + dbPath + " cannot be opened.");
    }
    dbase = wrkSpace->openDatabase(dbPath, access);
}

} // namespace corvale
