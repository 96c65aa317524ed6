#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct stat;

namespace corvale::platform {

// One value of a result row or of a bound parameter.
using SqlValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// A result read in full: the statement is finished before it is returned.
struct SqlRows {
    std::vector<std::string> columns;
    std::vector<std::vector<SqlValue>> rows;
};

// For a program that runs briefly and reads a few pages: SQLite sets no
// memory aside ahead of use (a page cache, slots for small allocations),
// which it would otherwise touch in full when a connection opens. Takes
// effect only before the first connection; returns whether it did.
bool setSqliteAsideNothing();

// A connection to one SQLite file. Every failure is thrown as a Failure whose
// description is SQLite's own message, followed by the file's path.
class SqliteConnection {
public:
    // ReadOnly never writes the file nor anything beside it that matters:
    // a hot journal is refused (at the first read: SQLite opens lazily)
    // rather than played back, and closing never
    // checkpoints a write-ahead log.
    enum class Mode { OpenExisting, ReadOnly, Create };

    SqliteConnection(const std::string& path, Mode mode);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    const std::string& path() const { return m_path; }

    // Runs one or more statements without parameters (schema work).
    void execScript(const std::string& sql);
    // Runs one statement with bound parameters and reads its whole result.
    SqlRows query(const std::string& sql, const std::vector<SqlValue>& params = {});
    // Runs one changing statement with bound parameters; returns the rows changed.
    int execute(const std::string& sql, const std::vector<SqlValue>& params = {});
    std::int64_t lastInsertId() const;
    // Whether the file has a table (not a view) of this name with this
    // column, in any case of their letters; asked of the schema SQLite has
    // read, without a statement. False also where the file cannot be read.
    bool hasTableColumn(const std::string& table, const std::string& column);

private:
    struct Finalize {
        void operator()(sqlite3_stmt* statement) const;
    };
    class Use;

    [[noreturn]] void fail(int code) const;

    std::string m_path;
    sqlite3* m_db = nullptr;
    // Each statement text is prepared once and kept: a change of many rows
    // binds and steps the same statement again and again.
    std::unordered_map<std::string, std::unique_ptr<sqlite3_stmt, Finalize>> m_prepared;
};

// Judges a file beside a database that SQLite has just opened as its
// journal, write-ahead log or log index (companion is its path, opened what
// the open descriptor is): empty when it may be read, otherwise why not.
using CompanionJudge = std::string (*)(const std::string& companion, const struct stat& opened);

// From now on, in this process, every journal, write-ahead log and log
// index that SQLite opens is shown to judge at the moment of the open, on
// the descriptor SQLite is about to use; one it refuses is closed unread,
// and the statement that wanted it fails with the judge's words. A check
// of the name before a transaction leaves a moment in which another user
// can lay his file there; the descriptor leaves none. (The unix VFS's
// table of system calls is where SQLite opens every file, the log index
// included, which a wrapping VFS does not see.)
void judgeCompanionsAtOpen(CompanionJudge judge);

// How long a statement waits for another process's lock before it fails.
inline constexpr int kBusyTimeoutMs = 8000;

} // namespace corvale::platform
