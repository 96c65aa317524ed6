#include "shared/names_and_marks.h"

#include "shared/schema.h"

namespace corvale {

namespace st = statements;

NamesAndMarks::NamesAndMarks(Database& database) : m_db(database) {
    const Database::ExtraTables tables = database.extraTables();
    m_names = tables.entryNames == Database::Table::Usable;
    m_marks = tables.itemOptions == Database::Table::Usable;
    m_connectedLeaving = tables.connectedLeaving == Database::Table::Usable;
    m_disconnectedLeaving = tables.disconnectedLeaving == Database::Table::Usable;
    for (const auto& [table, shape] : {std::pair{tables.entryNames, &entryNamesTable().shape},
                                       {tables.itemOptions, &itemOptionsTable().shape},
                                       {tables.connectedLeaving, &connectedLeavingTable().shape},
                                       {tables.disconnectedLeaving, &disconnectedLeavingTable().shape}}) {
        if (table == Database::Table::Misshapen) {
            m_notes.push_back("the table " + shape->name +
                              " is not as this program knows it and is read as absent");
        }
    }
}

std::unordered_map<std::int64_t, std::string> NamesAndMarks::names() {
    std::unordered_map<std::int64_t, std::string> found;
    if (!m_names) {
        return found;
    }
    for (Recordset rows = m_db.openRecordset(st::entryNames()); !rows.eof(); rows.moveNext()) {
        const Field key = rows.field("IPID");
        if (!key.isNull() && std::holds_alternative<std::int64_t>(key.value()) &&
            !rows.field("Name").isNull()) {
            found[key.number()] = rows.field("Name").text();
        }
    }
    return found;
}

std::optional<std::string> NamesAndMarks::nameOfEntry(const std::string& entry) {
    if (!m_names) {
        return std::nullopt;
    }
    return nameIn(st::nameOfEntry(entry));
}

std::optional<std::string> NamesAndMarks::nameOfRow(std::int64_t ipid) {
    if (!m_names) {
        return std::nullopt;
    }
    return nameIn(st::nameOfRow(ipid));
}

std::optional<std::string> NamesAndMarks::nameIn(const Query& query) {
    const Recordset row = m_db.openRecordset(query);
    if (row.eof() || row.field("Name").isNull()) {
        return std::nullopt;
    }
    return row.field("Name").text();
}

std::unordered_set<std::int64_t> NamesAndMarks::marked(statements::ListTable table) {
    std::unordered_set<std::int64_t> found;
    if (!m_marks) {
        return found;
    }
    for (Recordset rows = m_db.openRecordset(st::itemsToStopOnLeave(table)); !rows.eof(); rows.moveNext()) {
        if (!rows.field("ListID").isNull()) {
            found.insert(rows.field("ListID").number());
        }
    }
    return found;
}

std::optional<NamesAndMarks::LeavingItems> NamesAndMarks::leavingItems(bool disconnected,
                                                                       const std::string& entry) const {
    if (disconnected) {
        return m_disconnectedLeaving
                   ? std::optional<LeavingItems>({st::disconnectedList(st::ListTable::DisconnectedLeaving),
                                                  st::ListTable::DisconnectedLeaving})
                   : std::nullopt;
    }
    return m_connectedLeaving ? std::optional<LeavingItems>(
                                    {st::connectedListForAddress(entry, st::ListTable::ConnectedLeaving),
                                     st::ListTable::ConnectedLeaving})
                              : std::nullopt;
}

} // namespace corvale
