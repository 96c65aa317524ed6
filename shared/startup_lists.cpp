#include "shared/startup_lists.h"

#include "platform/failure.h"
#include "shared/names_and_marks.h"
#include "shared/network_choice.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace corvale {

namespace st = statements;

std::vector<ListRow> StartupLists::rows(const Query& query, const char* keyColumn, const char* textColumn) {
    std::vector<ListRow> found;
    for (Recordset rows = m_db.openRecordset(query); !rows.eof(); rows.moveNext()) {
        found.push_back({rows.field(keyColumn).number(), rows.field(textColumn).value(), {}, false});
    }
    return found;
}

// The file this service writes was settled as it was opened (both optional
// tables there, in the shape known); one it only shows (a newer program's)
// is read through NamesAndMarks, like any file that is only read.

std::vector<ListRow> StartupLists::addresses() {
    std::vector<ListRow> found = rows(st::allAddresses(), "IPID", "IPaddress");
    const std::unordered_map<std::int64_t, std::string> names = NamesAndMarks(m_db).names();
    for (ListRow& row : found) {
        if (const auto name = names.find(row.id); name != names.end()) {
            row.name = name->second;
        }
    }
    return found;
}

bool StartupLists::anyAddress() {
    return m_db.openRecordset(st::allAddresses()).recordCount() > 0;
}

AddedRow StartupLists::addAddress(const std::string& text) {
    AddedRow result;
    m_db.transaction([&] {
        if (duplicateOf(text, std::nullopt, result)) {
            return;
        }
        m_db.execute(st::insertAddress(text));
        result.id = m_db.lastInsertId();
        // A key used before, by an entry deleted outside this tool.
        m_db.execute(st::deleteEntryName(result.id));
    });
    return result;
}

namespace {
std::string withoutOuterBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whether a name would be taken for an entry of the address list: "*", an
// identity key, or an address or prefix (digits, dots, colons, hex letters
// and a length).
bool readsAsAnEntry(const std::string& name) {
    if (name == "*" || identityEntry(name)) {
        return true;
    }
    const bool addressChars = std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isxdigit(c) || c == '.' || c == ':' || c == '/';
    });
    return addressChars &&
           std::any_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); }) &&
           name.find_first_of(".:") != std::string::npos;
}
} // namespace

RowChange StartupLists::nameAddress(std::int64_t ipid, const std::string& name) {
    const std::string given = withoutOuterBlanks(name);
    if (charactersIn(given) > kLongestEntryName) {
        return RowChange::TooLong;
    }
    if (readsAsAnEntry(given)) {
        return RowChange::ReadsAsAnEntry;
    }
    RowChange result = RowChange::Done;
    m_db.transaction([&] {
        if (m_db.openRecordset(st::addressById(ipid)).eof()) {
            result = RowChange::Gone;
            return;
        }
        if (given.empty()) {
            m_db.execute(st::deleteEntryName(ipid));
            return;
        }
        if (!m_db.openRecordset(st::otherEntryNamed(ipid, given)).eof()) {
            result = RowChange::Duplicate;
            return;
        }
        m_db.execute(st::setEntryName(ipid, given));
    });
    return result;
}

void StartupLists::removeStaleRows() {
    if (!m_db.readOnlyReason().empty()) {
        return; // a newer program's file is shown as it is
    }
    // Rows that describe what is not there: the table and which rows. An
    // item of an entry that is gone would join the next entry given its key;
    // the options of the items removed first are stale once those are.
    struct Stale {
        const char* table;
        const char* rows;
    };
    const std::vector<Stale> removals = {
        {"ConnectedList", "IPID not in (select IPID from IPs where IPID is not null)"},
        {"EntryNames", "IPID not in (select IPID from IPs where IPID is not null)"},
        {"ItemOptions", "(List = 'ConnectedList' and ListID not in "
                        "(select ListID from ConnectedList where ListID is not null)) or "
                        "(List = 'DisConnectedList' and ListID not in "
                        "(select ListID from DisConnectedList where ListID is not null))"}};
    const bool any = std::any_of(removals.begin(), removals.end(), [&](const Stale& stale) {
        return !m_db.openRecordset(
                        {std::string("select 1 from ") + stale.table + " where " + stale.rows + " limit 1",
                         {}})
                    .eof();
    });
    if (!any) {
        return;
    }
    m_db.transaction([&] {
        for (const Stale& stale : removals) {
            m_db.execute({std::string("delete from ") + stale.table + " where " + stale.rows, {}});
        }
    });
}

bool StartupLists::duplicateOf(const std::string& text, std::optional<std::int64_t> except,
                               AddedRow& result) {
    std::optional<EntryOnFile> same;
    if (Recordset exact =
            m_db.openRecordset(except ? st::otherAddressId(*except, text) : st::addressId(text));
        !exact.eof()) {
        same = EntryOnFile{exact.field("IPID").number(), text};
    } else {
        same = sameNetworkOnFile(m_db, text, except);
    }
    if (!same) {
        return false;
    }
    result.outcome = RowChange::Duplicate;
    result.onFile = same->text;
    const auto names = NamesAndMarks(m_db).names();
    if (const auto name = names.find(same->id); name != names.end()) {
        result.onFileName = name->second;
    }
    return true;
}

AddedRow StartupLists::renameAddress(std::int64_t ipid, const std::string& text) {
    AddedRow result;
    m_db.transaction([&] {
        if (!duplicateOf(text, ipid, result) && m_db.execute(st::renameAddress(ipid, text)) == 0) {
            result.outcome = RowChange::Gone;
        }
    });
    return result;
}

void StartupLists::deleteAddresses(const std::vector<std::int64_t>& ipids) {
    m_db.transaction([&] {
        for (const std::int64_t ipid : ipids) {
            m_db.execute(st::deleteAddress(ipid));
            m_db.execute(st::deleteEntryName(ipid));
            m_db.execute(st::deleteAddressItemOptions(ipid));
            m_db.execute(st::deleteAddressItems(ipid));
            m_db.execute(st::deleteAddressItems(ipid, ListTable::ConnectedLeaving));
        }
    });
}

std::vector<ListRow> StartupLists::items(ListTable table, const Query& query) {
    std::vector<ListRow> found = rows(query, "ListID", "TargetPath");
    if (found.empty()) {
        return found;
    }
    const std::unordered_set<std::int64_t> marked = NamesAndMarks(m_db).marked(table);
    for (ListRow& row : found) {
        row.stopOnLeave = marked.count(row.id) > 0;
    }
    return found;
}

std::vector<ListRow> StartupLists::itemsOnBoth(ListTable list, const Query& arrival, const Query& leaving) {
    std::vector<ListRow> found = items(list, arrival);
    for (ListRow& row : rows(leaving, "ListID", "TargetPath")) {
        row.onLeaving = true;
        found.push_back(std::move(row));
    }
    return found;
}

std::vector<ListRow> StartupLists::connectedItems(std::int64_t ipid) {
    return itemsOnBoth(ListTable::Connected, st::connectedItems(ipid),
                       st::connectedItems(ipid, ListTable::ConnectedLeaving));
}

std::vector<ListRow> StartupLists::disconnectedItems() {
    return itemsOnBoth(ListTable::Disconnected, st::disconnectedItems(),
                       st::disconnectedItems(ListTable::DisconnectedLeaving));
}

void StartupLists::writeOptions(ListTable table, std::int64_t listId, bool stopOnLeave) {
    // A leaving item is waited for: it has nothing to be stopped.
    if (!st::onLeaving(table)) {
        m_db.execute(st::setStopOnLeave(table, listId, stopOnLeave));
    }
}

platform::SqlValue StartupLists::startInOf(ListTable table, std::int64_t listId) {
    const Recordset row = m_db.openRecordset(st::startInOfItem(table, listId));
    return row.eof() ? platform::SqlValue() : row.field("StartinPath").value();
}

// Only whole numbers count (a text written by hand is no number to go on
// from); at the very top the new row takes the top number too, and still
// comes last, since rows with one number stand in the order they were added.
std::int64_t StartupLists::nextListOrder(ListTable table) {
    const Recordset rows = m_db.openRecordset(st::maxListOrder(table));
    if (rows.field("maxOrder").isNull()) {
        return 1;
    }
    const std::int64_t largest = rows.field("maxOrder").number();
    return largest == std::numeric_limits<std::int64_t>::max() ? largest : largest + 1;
}

AddedToAddresses StartupLists::addItem(const std::vector<std::int64_t>& ipids, const ItemPaths& paths) {
    AddedToAddresses result;
    m_db.transaction([&] {
        // A row for an address that is no longer there would be seen by
        // nobody: nothing is written then.
        for (const std::int64_t ipid : ipids) {
            if (m_db.openRecordset(st::addressById(ipid)).eof()) {
                result.addressGone = true;
                return;
            }
        }
        // The addresses that hold the target already, read once: a look-up
        // per address would read the whole table for each.
        const ListTable table = st::tableFor(ListTable::Connected, paths.onLeaving);
        std::unordered_set<std::int64_t> holders;
        for (Recordset rows = m_db.openRecordset(st::addressesHoldingTarget(paths.target, table));
             !rows.eof(); rows.moveNext()) {
            holders.insert(rows.field("IPID").number());
        }
        std::int64_t order = nextListOrder(table);
        for (const std::int64_t ipid : ipids) {
            if (!holders.insert(ipid).second) {
                ++result.duplicates;
                continue;
            }
            m_db.execute(st::insertConnectedItem(ipid, paths.target, paths.startIn, order, table));
            result.added.emplace_back(ipid, m_db.lastInsertId());
            writeOptions(table, result.added.back().second, paths.stopOnLeave);
            if (order != std::numeric_limits<std::int64_t>::max()) {
                ++order;
            }
        }
    });
    return result;
}

AddedRow StartupLists::addDisconnectedItem(const ItemPaths& paths) {
    AddedRow result;
    m_db.transaction([&] {
        const ListTable table = st::tableFor(ListTable::Disconnected, paths.onLeaving);
        if (m_db.openRecordset(st::disconnectedDuplicate(paths.target, table)).recordCount() > 0) {
            result.outcome = RowChange::Duplicate;
            return;
        }
        m_db.execute(st::insertDisconnectedItem(paths.target, paths.startIn, nextListOrder(table), table));
        result.id = m_db.lastInsertId();
        writeOptions(table, result.id, paths.stopOnLeave);
    });
    return result;
}

AddedRow StartupLists::updateItem(ListTable table, std::int64_t listId, const ItemPaths& paths) {
    AddedRow result{RowChange::Done, listId};
    // An item whose time changes moves to the other table of its list, to
    // its end; the rule of duplicates is about the table it goes to.
    const ListTable goesTo = st::tableFor(table, paths.onLeaving);
    const bool moves = goesTo != table;
    const bool disconnected = st::tableFor(table, false) == ListTable::Disconnected;
    m_db.transaction([&] {
        std::optional<std::int64_t> ipid;
        if (!disconnected) {
            // The rule is about the list the item is on.
            const Recordset owner = m_db.openRecordset(st::addressOfItem(listId, table));
            if (owner.eof()) {
                result.outcome = RowChange::Gone;
                return;
            }
            if (!owner.field("IPID").isNull()) {
                ipid = owner.field("IPID").number();
            }
            if (ipid && m_db.openRecordset(
                                st::connectedDuplicateOther(moves ? 0 : listId, *ipid, paths.target, goesTo))
                                .recordCount() > 0) {
                result.outcome = RowChange::Duplicate;
                return;
            }
        } else if (m_db.openRecordset(
                           st::disconnectedDuplicateOther(moves ? 0 : listId, paths.target, goesTo))
                       .recordCount() > 0) {
            result.outcome = RowChange::Duplicate;
            return;
        }
        if (!moves) {
            if (m_db.execute(st::updateItem(table, listId, paths.target, paths.startIn)) == 0) {
                result.outcome = RowChange::Gone;
                return;
            }
            writeOptions(table, listId, paths.stopOnLeave);
            return;
        }
        if (m_db.openRecordset(st::pathsOfItem(table, listId)).eof()) {
            result.outcome = RowChange::Gone;
            return;
        }
        m_db.execute(disconnected ? st::insertDisconnectedItem(paths.target, paths.startIn,
                                                               nextListOrder(goesTo), goesTo)
                                  : st::insertConnectedItem(ipid.value_or(0), paths.target, paths.startIn,
                                                            nextListOrder(goesTo), goesTo));
        result.id = m_db.lastInsertId();
        m_db.execute(st::deleteItem(table, listId));
        if (!st::onLeaving(table)) {
            m_db.execute(st::deleteItemOptions(table, listId));
        }
        writeOptions(goesTo, result.id, paths.stopOnLeave);
    });
    return result;
}

void StartupLists::exchangeItems(ListTable table, std::int64_t moving, std::int64_t other) {
    m_db.transaction([&] {
        const Recordset movingOrder = m_db.openRecordset(st::listOrderOf(table, moving));
        const Recordset otherOrder = m_db.openRecordset(st::listOrderOf(table, other));
        if (movingOrder.eof() || otherOrder.eof()) {
            return; // a row that is gone: the list shown again tells
        }
        const platform::SqlValue a = movingOrder.field("listOrder").value();
        const platform::SqlValue b = otherOrder.field("listOrder").value();
        if (a != b) {
            m_db.execute(st::setListOrder(table, moving, b));
            m_db.execute(st::setListOrder(table, other, a));
            return;
        }
        // Two rows with one order number (made outside the tool) stand in the
        // order they were added, which no exchange of numbers can change: the
        // two rows exchange what they start instead.
        const Recordset movingPaths = m_db.openRecordset(st::pathsOfItem(table, moving));
        const Recordset otherPaths = m_db.openRecordset(st::pathsOfItem(table, other));
        m_db.execute(st::updateItem(table, moving, otherPaths.field("TargetPath").value(),
                                    otherPaths.field("StartinPath").value()));
        m_db.execute(st::updateItem(table, other, movingPaths.field("TargetPath").value(),
                                    movingPaths.field("StartinPath").value()));
        if (st::onLeaving(table)) {
            return;
        }
        // The option goes with what the item starts.
        const bool movingStops = !m_db.openRecordset(st::stopOnLeaveOf(table, moving)).eof();
        const bool otherStops = !m_db.openRecordset(st::stopOnLeaveOf(table, other)).eof();
        m_db.execute(st::setStopOnLeave(table, moving, otherStops));
        m_db.execute(st::setStopOnLeave(table, other, movingStops));
    });
}

void StartupLists::deleteItems(ListTable table, const std::vector<std::int64_t>& listIds) {
    m_db.transaction([&] {
        for (const std::int64_t listId : listIds) {
            m_db.execute(st::deleteItem(table, listId));
            if (!st::onLeaving(table)) {
                m_db.execute(st::deleteItemOptions(table, listId));
            }
        }
    });
}

void StartupLists::deleteTargetsFromAddresses(const std::vector<ItemKey>& items,
                                              const std::vector<std::int64_t>& ipids) {
    m_db.transaction([&] {
        // The targets as stored, taken from the items by their keys, each
        // deleted from the table of its item.
        std::vector<std::pair<ListTable, platform::SqlValue>> targets;
        for (const ItemKey& item : items) {
            if (const Recordset row = m_db.openRecordset(st::pathsOfItem(item.table, item.listId));
                !row.eof()) {
                targets.emplace_back(item.table, row.field("TargetPath").value());
            }
        }
        for (const auto& [table, target] : targets) {
            for (const std::int64_t ipid : ipids) {
                if (!st::onLeaving(table)) {
                    m_db.execute(st::deleteItemOptionsOfAddress(ipid, target));
                }
                m_db.execute(st::deleteItemOfAddress(ipid, target, table));
            }
        }
    });
}

} // namespace corvale
