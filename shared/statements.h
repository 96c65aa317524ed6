#pragma once

#include "shared/database.h"

#include <cstdint>
#include <string>

// Every statement the two programs issue, each with its values bound.
namespace corvale::statements {

// The two lists, and beside each the table of its items that run on
// leaving (an entry's, or the disconnected list's).
enum class ListTable { Connected, Disconnected, ConnectedLeaving, DisconnectedLeaving };
const char* tableName(ListTable table);
bool onLeaving(ListTable table);
// The table of list's items that run on arrival, or on leaving.
ListTable tableFor(ListTable list, bool leaving);

// Lists are read in ascending ListOrder; rows that share one (made outside
// the tool) come in the order they were added, the same in both programs.

// The engine's list (the entries it weighs are allAddresses()).
Query addressCheck(const std::string& address);
Query connectedListForAddress(const std::string& address, ListTable table = ListTable::Connected);
Query disconnectedList(ListTable table = ListTable::Disconnected);
// The items of table marked to be stopped when the laptop leaves the
// network (ItemOptions).
Query itemsToStopOnLeave(ListTable table);
// The name given to the entry with the text (EntryNames), if any.
Query nameOfEntry(const std::string& address);
// The name of the entry in the row with this key (IPID).
Query nameOfRow(std::int64_t ipid);

// Entry names and item options (format 2 and later).
Query entryNames();
Query otherEntryNamed(std::int64_t ipid, const std::string& name);
Query setEntryName(std::int64_t ipid, const std::string& name);
Query deleteEntryName(std::int64_t ipid);
Query setStopOnLeave(ListTable table, std::int64_t listId, bool stop);
Query stopOnLeaveOf(ListTable table, std::int64_t listId);
Query deleteItemOptions(ListTable table, std::int64_t listId);
// The options of an address's items, of all or of those with the target.
Query deleteAddressItemOptions(std::int64_t ipid);
Query deleteItemOptionsOfAddress(std::int64_t ipid, const platform::SqlValue& targetPath);

// Addresses.
Query allAddresses();
// Whether the entry one comes before other in the order of allAddresses():
// by text as stored (bytes), "*" last.
bool listedBefore(const std::string& one, const std::string& other);
Query addressId(const std::string& address);
Query addressById(std::int64_t ipid);
Query otherAddressId(std::int64_t ipid, const std::string& address);
Query insertAddress(const std::string& address);
Query renameAddress(std::int64_t ipid, const std::string& address);
Query deleteAddress(std::int64_t ipid);
Query deleteAddressItems(std::int64_t ipid, ListTable table = ListTable::Connected);

// List display.
Query connectedItems(std::int64_t ipid, ListTable table = ListTable::Connected);
Query disconnectedItems(ListTable table = ListTable::Disconnected);
Query startInOfItem(ListTable table, std::int64_t listId);

// Items: duplicate checks, order numbers, insert, update.
// The addresses whose lists hold the target.
Query addressesHoldingTarget(const std::string& targetPath, ListTable table = ListTable::Connected);
Query connectedDuplicateOther(std::int64_t listId, std::int64_t ipid, const std::string& targetPath,
                              ListTable table = ListTable::Connected);
Query disconnectedDuplicate(const std::string& targetPath, ListTable table = ListTable::Disconnected);
Query disconnectedDuplicateOther(std::int64_t listId, const std::string& targetPath,
                                 ListTable table = ListTable::Disconnected);
// Over the whole numbers only.
Query maxListOrder(ListTable table);
Query insertConnectedItem(std::int64_t ipid, const std::string& targetPath, const std::string& startInPath,
                          std::int64_t listOrder, ListTable table = ListTable::Connected);
Query insertDisconnectedItem(const std::string& targetPath, const std::string& startInPath,
                             std::int64_t listOrder, ListTable table = ListTable::Disconnected);
// The key of an address's item with the target.
Query connectedItemId(std::int64_t ipid, const std::string& targetPath,
                      ListTable table = ListTable::Connected);
Query addressOfItem(std::int64_t listId, ListTable table = ListTable::Connected);
Query updateItem(ListTable table, std::int64_t listId, const platform::SqlValue& targetPath,
                 const platform::SqlValue& startInPath);

// Ordering and deleting items.
Query listOrderOf(ListTable table, std::int64_t listId);
Query setListOrder(ListTable table, std::int64_t listId, const platform::SqlValue& listOrder);
Query pathsOfItem(ListTable table, std::int64_t listId);
Query deleteItem(ListTable table, std::int64_t listId);
// Matches a target that holds no value as well.
Query deleteItemOfAddress(std::int64_t ipid, const platform::SqlValue& targetPath,
                          ListTable table = ListTable::Connected);

} // namespace corvale::statements
