#include "shared/database.h"

#include "platform/failure.h"
#include "shared/schema.h"

namespace corvale {

Database::Database(const std::string& path, Access access)
    : m_connection(path, access == Access::ReadOnly ? platform::SqliteConnection::Mode::ReadOnly
                                                    : platform::SqliteConnection::Mode::OpenExisting) {
    verifySchema(m_connection);
}

Recordset Database::openRecordset(const Query& query) {
    return Recordset(m_connection.query(query.sql, query.params));
}

int Database::execute(const Query& query) {
    return m_connection.execute(query.sql, query.params);
}

void Database::transaction(const std::function<void()>& work) {
    m_connection.execScript("BEGIN IMMEDIATE");
    try {
        work();
        m_connection.execScript("COMMIT");
    } catch (...) {
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
