#include "platform/sqlite_connection.h"

#include "platform/failure.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvale::platform {

namespace {

std::atomic<CompanionJudge> companionJudge{nullptr};
using OpenCall = int (*)(const char*, int, int);
OpenCall sqlitesOpen = nullptr;
// Why this thread's last companion was refused, for the failure that follows.
thread_local std::string companionRefused;

bool isCompanion(const std::string& path) {
    for (const std::string suffix : {"-journal", "-wal", "-shm"}) {
        if (path.size() > suffix.size() &&
            path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return true;
        }
    }
    return false;
}

// Opens path as SQLite asked, without waiting: a FIFO laid in its place
// would hold the open until someone opens its other end, which may be never.
// The descriptor waits again as usual once it is judged.
int openWithoutWaiting(const char* path, int flags, int mode) {
    return sqlitesOpen(path, flags | O_NONBLOCK, mode);
}

int waitingAgain(int descriptor, int flags) {
    if (!(flags & O_NONBLOCK)) {
        ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    }
    return descriptor;
}

int refused(int descriptor, std::string why) {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
    companionRefused = std::move(why);
    errno = EPERM;
    return -1;
}

// SQLite's open(), for every file it opens: none may wait, a companion is
// opened without following a link and judged on its descriptor before SQLite
// sees it, and the database itself must be a file, not a FIFO or a socket.
int judgedOpen(const char* path, int flags, int mode) {
    const CompanionJudge judge = companionJudge.load();
    if (!path) {
        return sqlitesOpen(path, flags, mode);
    }
    struct stat opened {};
    if (!judge || !isCompanion(path)) {
        const int descriptor = openWithoutWaiting(path, flags, mode);
        if (descriptor < 0 || ::fstat(descriptor, &opened) != 0) {
            return descriptor;
        }
        if (S_ISFIFO(opened.st_mode) || S_ISSOCK(opened.st_mode)) {
            return refused(descriptor, std::string(path) + " is not a regular file, so it is not opened.");
        }
        return waitingAgain(descriptor, flags);
    }
    const int descriptor = openWithoutWaiting(path, flags | O_NOFOLLOW, mode);
    if (descriptor < 0) {
        if (errno != ELOOP) {
            return descriptor;
        }
        // A link: judged as what it is, a link.
        if (::lstat(path, &opened) != 0) {
            return descriptor;
        }
    } else if (::fstat(descriptor, &opened) != 0) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
        return -1;
    }
    std::string why = judge(path, opened);
    if (why.empty() && descriptor >= 0) {
        return waitingAgain(descriptor, flags);
    }
    return refused(descriptor, std::move(why));
}

} // namespace

void judgeCompanionsAtOpen(CompanionJudge judge) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        sqlite3_vfs* unix = sqlite3_vfs_find("unix");
        if (!unix || !unix->xGetSystemCall || !unix->xSetSystemCall) {
            return;
        }
        sqlitesOpen = reinterpret_cast<OpenCall>(unix->xGetSystemCall(unix, "open"));
        if (sqlitesOpen) {
            unix->xSetSystemCall(unix, "open", reinterpret_cast<sqlite3_syscall_ptr>(judgedOpen));
        }
    });
    companionJudge.store(judge);
}

namespace {

// SQLite's texts for these name a code, not what the user can do about it.
std::string openFailureText(sqlite3* db, int rc, const std::string& path) {
    if (!companionRefused.empty()) {
        return std::exchange(companionRefused, std::string());
    }
    const int extended = db ? sqlite3_extended_errcode(db) : rc;
    switch (extended) {
    case SQLITE_READONLY_ROLLBACK:
        return "The database " + path +
               " was left half-changed by a program that stopped while writing it (its -journal file is "
               "still there). It is read without being changed, so it is not used. Open it once with "
               "Corvale, which completes the repair.";
    case SQLITE_READONLY_RECOVERY:
    case SQLITE_READONLY_CANTINIT:
    case SQLITE_READONLY_DIRECTORY:
    case SQLITE_READONLY_CANTLOCK:
        return "The database " + path +
               " cannot be read without being changed (its write-ahead log needs repair or its folder "
               "cannot be written), so it is not used. Open it once with Corvale.";
    default:
        break;
    }
    if (db && (rc & 0xff) == SQLITE_CANTOPEN && sqlite3_system_errno(db) == EACCES) {
        return "Cannot open " + path + ": Permission denied";
    }
    const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    return message + ": " + path;
}

// A database in write-ahead-log mode, or any with a -wal file beside it
// (SQLite reads one whatever the file says), is read through its -wal and
// -shm files, which SQLite makes when they are not there, also for a reader.
// A reader that must not write refuses it then.
void requireReadableWithoutWriting(const std::string& path) {
    unsigned char header[20] = {};
    // Opened without waiting, as SQLite's own opens are: a FIFO in its place
    // would hold the run for good.
    ssize_t got = 0;
    if (const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); file >= 0) {
        struct stat info {};
        const bool regular = ::fstat(file, &info) == 0 && S_ISREG(info.st_mode);
        got = regular ? ::read(file, header, sizeof header) : 0;
        ::close(file);
        if (!regular) {
            throw Failure("The database " + path + " is not a regular file, so it is not used.");
        }
    }
    std::error_code error;
    const bool writeAheadLog =
        (got == static_cast<ssize_t>(sizeof header) && (header[18] == 2 || header[19] == 2)) ||
        std::filesystem::exists(path + "-wal", error);
    if (writeAheadLog &&
        (!std::filesystem::exists(path + "-wal", error) || !std::filesystem::exists(path + "-shm", error))) {
        throw Failure(
            "The database " + path +
            " is kept with a write-ahead log, which cannot be read without making files beside it, "
            "so it is not used. Open it once with Corvale, which keeps it in the ordinary way again.");
    }
}

} // namespace

bool setSqliteAsideNothing() {
    return sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0) == SQLITE_OK &&
           sqlite3_config(SQLITE_CONFIG_LOOKASIDE, 0, 0) == SQLITE_OK &&
           sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
}

SqliteConnection::SqliteConnection(const std::string& path, Mode mode) : m_path(path) {
    if (mode == Mode::ReadOnly) {
        requireReadableWithoutWriting(path);
    }
    int flags = SQLITE_OPEN_NOMUTEX;
    flags |= mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (mode == Mode::Create) {
        flags |= SQLITE_OPEN_CREATE;
    }
    companionRefused.clear();
    int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        if (mode == Mode::ReadOnly) {
            rc = sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        }
    }
    if (rc != SQLITE_OK) {
        const std::string message = openFailureText(m_db, rc, path);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw Failure(message);
    }
}

SqliteConnection::~SqliteConnection() {
    m_prepared.clear();
    sqlite3_close_v2(m_db);
}

void SqliteConnection::Finalize::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

bool SqliteConnection::hasTableColumn(const std::string& table, const std::string& column) {
    return sqlite3_table_column_metadata(m_db, "main", table.c_str(), column.c_str(), nullptr, nullptr,
                                         nullptr, nullptr, nullptr) == SQLITE_OK;
}

void SqliteConnection::fail(int code) const {
    throw Failure(openFailureText(m_db, code, m_path));
}

void SqliteConnection::execScript(const std::string& sql) {
    const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        fail(rc);
    }
}

namespace {

int bind(sqlite3_stmt* statement, const std::vector<SqlValue>& params) {
    int rc = SQLITE_OK;
    for (std::size_t i = 0; i < params.size() && rc == SQLITE_OK; ++i) {
        const int index = static_cast<int>(i) + 1;
        const SqlValue& value = params[i];
        if (const auto* number = std::get_if<std::int64_t>(&value)) {
            rc = sqlite3_bind_int64(statement, index, *number);
        } else if (const auto* real = std::get_if<double>(&value)) {
            rc = sqlite3_bind_double(statement, index, *real);
        } else if (const auto* text = std::get_if<std::string>(&value)) {
            rc = sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()),
                                   SQLITE_TRANSIENT);
        } else {
            rc = sqlite3_bind_null(statement, index);
        }
    }
    return rc;
}

SqlValue columnValue(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return std::int64_t{sqlite3_column_int64(statement, column)};
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_NULL:
        return std::monostate{};
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
    }
    }
}

} // namespace

// One use of a kept statement, with its values bound; the statement is reset
// and its values cleared afterwards, whatever happened, so that it holds no
// lock and no value between uses.
class SqliteConnection::Use {
public:
    Use(SqliteConnection& connection, const std::string& sql, const std::vector<SqlValue>& params) {
        companionRefused.clear();
        auto& kept = connection.m_prepared[sql];
        if (!kept) {
            sqlite3_stmt* raw = nullptr;
            const int rc =
                sqlite3_prepare_v2(connection.m_db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
            if (rc != SQLITE_OK) {
                sqlite3_finalize(raw);
                connection.m_prepared.erase(sql);
                connection.fail(rc);
            }
            kept.reset(raw);
        }
        m_statement = kept.get();
        if (const int rc = bind(m_statement, params); rc != SQLITE_OK) {
            sqlite3_clear_bindings(m_statement);
            connection.fail(rc);
        }
    }
    ~Use() {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    sqlite3_stmt* get() const { return m_statement; }

private:
    sqlite3_stmt* m_statement = nullptr;
};

SqlRows SqliteConnection::query(const std::string& sql, const std::vector<SqlValue>& params) {
    const Use statement(*this, sql, params);
    SqlRows result;
    const int columns = sqlite3_column_count(statement.get());
    for (int c = 0; c < columns; ++c) {
        result.columns.emplace_back(sqlite3_column_name(statement.get(), c));
    }
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        std::vector<SqlValue>& row = result.rows.emplace_back();
        row.reserve(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            row.push_back(columnValue(statement.get(), c));
        }
    }
    if (rc != SQLITE_DONE) {
        fail(rc);
    }
    return result;
}

int SqliteConnection::execute(const std::string& sql, const std::vector<SqlValue>& params) {
    const Use statement(*this, sql, params);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        fail(rc);
    }
    return sqlite3_changes(m_db);
}

std::int64_t SqliteConnection::lastInsertId() const {
    return sqlite3_last_insert_rowid(m_db);
}

} // namespace corvale::platform
