#pragma once

#include "shared/database.h"
#include "shared/statements.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace corvale {

// The names of entries and the marks of items, which live in tables of their
// own beside the original three. A file that is only read (by the engine, or
// one of another format) may lack either, or hold one of another shape: such a
// table is read as absent, and notes() says so. This is the one place that
// knows; whether each table can be read is decided once, when it is made.
class NamesAndMarks {
public:
    explicit NamesAndMarks(Database& database);

    // Every entry's name, by the entry's key (IPID); a row without a whole
    // number for its key or without a name is passed over.
    std::unordered_map<std::int64_t, std::string> names();
    // The name of the entry with this text, if it has one.
    std::optional<std::string> nameOfEntry(const std::string& entry);
    // The same, where the entry's text is in the row with this key alone.
    std::optional<std::string> nameOfRow(std::int64_t ipid);
    // The items of table marked to stop on leaving, by their key (ListID).
    std::unordered_set<std::int64_t> marked(statements::ListTable table);
    // The query of the items that run on leaving the disconnected list or
    // entry's list (as stored), and their table; nothing where the file
    // has no such table in the shape known.
    struct LeavingItems {
        Query query;
        statements::ListTable table;
    };
    std::optional<LeavingItems> leavingItems(bool disconnected, const std::string& entry) const;

    // "the table T is not as this program knows it and is read as absent",
    // for each such table.
    const std::vector<std::string>& notes() const { return m_notes; }

private:
    // The one name query reads, if any.
    std::optional<std::string> nameIn(const Query& query);

    Database& m_db;
    bool m_names = false;
    bool m_marks = false;
    bool m_connectedLeaving = false;
    bool m_disconnectedLeaving = false;
    std::vector<std::string> m_notes;
};

} // namespace corvale
