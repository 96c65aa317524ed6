#pragma once

#include "shared/database.h"
#include "shared/statements.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace corvale {

using statements::ListTable;

// One row as a list shows it: its key and its text as stored (an address, or
// an item's target). A row written by hand may hold no text at all.
struct ListRow {
    std::int64_t id = 0;
    platform::SqlValue text;
    std::string name;         // an address's name, where one is on file
    bool stopOnLeave = false; // an item that is asked to end on leaving
    bool onLeaving = false;   // an item that runs when the laptop leaves
};

// An item by its table and key.
struct ItemKey {
    ListTable table = ListTable::Connected;
    std::int64_t listId = 0;
};

// What a change of one row came to.
enum class RowChange {
    Done,
    // Another row already holds what the change would write.
    Duplicate,
    // The row was deleted meanwhile (by another tool on the same file).
    Gone,
    // A name longer than kLongestEntryName characters.
    TooLong,
    // A name that reads as an entry (an address, a prefix, a key, "*"),
    // which the address list could not tell from one.
    ReadsAsAnEntry,
};

struct AddedRow {
    RowChange outcome = RowChange::Done;
    std::int64_t id = 0; // the new row's key, when it was added
    // For an entry refused as a duplicate: the entry on file of its network,
    // as stored, and that entry's name (empty for none).
    std::string onFile{};
    std::string onFileName{};
};

// An item as the user gives it.
struct ItemPaths {
    std::string target;
    std::string startIn;
    // When the laptop leaves the list's network, a watcher asks what the
    // item started to end (an item that runs on arrival).
    bool stopOnLeave = false;
    // The item runs when the laptop leaves the list's network, not when it
    // arrives.
    bool onLeaving = false;
};

// An item added to the lists of several addresses at once.
struct AddedToAddresses {
    // One of the addresses was deleted meanwhile: nothing was written.
    bool addressGone = false;
    // How many of the addresses already held the target (they are left as
    // they were; the others get the new item).
    std::size_t duplicates = 0;
    // The new items: (address, new item's key), in the order given.
    std::vector<std::pair<std::int64_t, std::int64_t>> added;
};

// The rules of editing the address list and the startup lists. Each change
// runs as one transaction, so that two tools working on one file never both
// find a text new or give two rows one order number, and a failure leaves
// every row as it was.
class StartupLists {
public:
    explicit StartupLists(Database& database) : m_db(database) {}

    // Addresses, in the order the address list shows them.
    std::vector<ListRow> addresses();
    bool anyAddress();
    // An entry is refused when another holds the same text, or names the
    // same network (sameNetwork: identity entries that differ only in the
    // case of letters or in blanks, address entries of one set of addresses
    // in any form); the refusal names that entry.
    AddedRow addAddress(const std::string& text);
    AddedRow renameAddress(std::int64_t ipid, const std::string& text);
    // Gives the address a name the lists show in place of its text; an
    // empty name (or blanks) takes it away. A name another entry carries is
    // refused.
    RowChange nameAddress(std::int64_t ipid, const std::string& name);
    // Removes names and marks left (by hand, or by another program) for
    // entries and items that are gone: a row of them would otherwise
    // attach to the next entry or item given that key. Writes only where
    // there is such a row.
    void removeStaleRows();
    // Each address goes with its startup list and its name.
    void deleteAddresses(const std::vector<std::int64_t>& ipids);

    // A list's items in the order they start: those that run on arrival,
    // then those that run on leaving.
    std::vector<ListRow> connectedItems(std::int64_t ipid);
    std::vector<ListRow> disconnectedItems();
    // The start-in folder of one item as stored; null when it holds none or
    // the item is gone.
    platform::SqlValue startInOf(ListTable table, std::int64_t listId);

    // One address may not hold one target twice, nor the disconnected list
    // (among the items of one time: arrival or leaving). A new item comes
    // after every item of its table.
    AddedToAddresses addItem(const std::vector<std::int64_t>& ipids, const ItemPaths& paths);
    AddedRow addDisconnectedItem(const ItemPaths& paths);
    // An item whose time changes moves to the end of its list's other
    // table, under a new key (id of the result).
    AddedRow updateItem(ListTable table, std::int64_t listId, const ItemPaths& paths);
    // Exchanges the places of two items of one list.
    void exchangeItems(ListTable table, std::int64_t moving, std::int64_t other);
    void deleteItems(ListTable table, const std::vector<std::int64_t>& listIds);
    // Deletes, from each address given, its items with the targets of the
    // items given (the way one deletes the same paths from several lists).
    void deleteTargetsFromAddresses(const std::vector<ItemKey>& items,
                                    const std::vector<std::int64_t>& ipids);

private:
    // Whether an entry other than the row except holds text or names its
    // network; fills result's refusal when one does.
    bool duplicateOf(const std::string& text, std::optional<std::int64_t> except, AddedRow& result);
    // Writes the item's option where it differs from the default or a row
    // of the table could be stale (left by a tool that knows only the lists).
    void writeOptions(ListTable table, std::int64_t listId, bool stopOnLeave);
    std::int64_t nextListOrder(ListTable table);
    std::vector<ListRow> rows(const Query& query, const char* keyColumn, const char* textColumn);
    std::vector<ListRow> items(ListTable table, const Query& query);
    std::vector<ListRow> itemsOnBoth(ListTable list, const Query& arrival, const Query& leaving);

    Database& m_db;
};

} // namespace corvale
