#include "shared/statements.h"

namespace corvale::statements {

const char* tableName(ListTable table) {
    switch (table) {
    case ListTable::Connected:
        return "ConnectedList";
    case ListTable::Disconnected:
        return "DisConnectedList";
    case ListTable::ConnectedLeaving:
        return "ConnectedLeavingList";
    case ListTable::DisconnectedLeaving:
        return "DisConnectedLeavingList";
    }
    return "ConnectedList";
}

bool onLeaving(ListTable table) {
    return table == ListTable::ConnectedLeaving || table == ListTable::DisconnectedLeaving;
}

ListTable tableFor(ListTable list, bool leaving) {
    const bool disconnected = list == ListTable::Disconnected || list == ListTable::DisconnectedLeaving;
    if (disconnected) {
        return leaving ? ListTable::DisconnectedLeaving : ListTable::Disconnected;
    }
    return leaving ? ListTable::ConnectedLeaving : ListTable::Connected;
}

namespace {
std::string inTable(const char* head, ListTable table, const char* tail) {
    return std::string(head) + tableName(table) + tail;
}
} // namespace

Query addressCheck(const std::string& address) {
    return {"select IPID from IPs where ipAddress = ?", {address}};
}

Query connectedListForAddress(const std::string& address, ListTable table) {
    return {inTable("Select ListID,TargetPath,StartinPath from ", table,
                    " where IPID in (select IPID from IPs where ipAddress = ?) order by ListOrder,ListID"),
            {address}};
}

Query disconnectedList(ListTable table) {
    return {inTable("Select ListID,TargetPath,StartinPath from ", table, " order by ListOrder,ListID"), {}};
}

Query itemsToStopOnLeave(ListTable table) {
    return {
        "select ListID from ItemOptions where List = ? and StopOnLeave <> 0 and typeof(ListID) = 'integer'",
        {std::string(tableName(table))}};
}

Query nameOfEntry(const std::string& address) {
    return {"select cast(Name as text) as Name from EntryNames where IPID in (select IPID from IPs where "
            "IPaddress = ?) "
            "order by IPID limit 1",
            {address}};
}

Query nameOfRow(std::int64_t ipid) {
    return {"select cast(Name as text) as Name from EntryNames where IPID = ?", {ipid}};
}

Query entryNames() {
    return {"select IPID,Name from EntryNames", {}};
}

Query otherEntryNamed(std::int64_t ipid, const std::string& name) {
    // Another entry's name or text, in any case of its letters: the address
    // list would show two lines alike.
    return {"select IPID from EntryNames where IPID <> ? and lower(Name) = lower(?) and IPID in "
            "(select IPID from IPs) union all select IPID from IPs where IPID <> ? and lower(IPaddress) = "
            "lower(?)",
            {ipid, name, ipid, name}};
}

Query setEntryName(std::int64_t ipid, const std::string& name) {
    return {"insert or replace into EntryNames (IPID,Name) values (?,?)", {ipid, name}};
}

Query deleteEntryName(std::int64_t ipid) {
    return {"delete from EntryNames where IPID = ?", {ipid}};
}

Query setStopOnLeave(ListTable table, std::int64_t listId, bool stop) {
    return {"insert or replace into ItemOptions (List,ListID,StopOnLeave) values (?,?,?)",
            {std::string(tableName(table)), listId, std::int64_t{stop ? 1 : 0}}};
}

Query stopOnLeaveOf(ListTable table, std::int64_t listId) {
    return {"select 1 from ItemOptions where List = ? and ListID = ? and StopOnLeave <> 0",
            {std::string(tableName(table)), listId}};
}

Query deleteItemOptions(ListTable table, std::int64_t listId) {
    return {"delete from ItemOptions where List = ? and ListID = ?", {std::string(tableName(table)), listId}};
}

Query deleteAddressItemOptions(std::int64_t ipid) {
    return {"delete from ItemOptions where List = 'ConnectedList' and ListID in "
            "(select ListID from ConnectedList where IPID = ?)",
            {ipid}};
}

Query deleteItemOptionsOfAddress(std::int64_t ipid, const platform::SqlValue& targetPath) {
    return {"delete from ItemOptions where List = 'ConnectedList' and ListID in "
            "(select ListID from ConnectedList where IPID = ? and TargetPath IS ?)",
            {ipid, targetPath}};
}

Query allAddresses() {
    // By text, any other network's entry last, as it comes last in the
    // choice (listedBefore says the same order).
    return {"select * from IPs order by IPaddress = '*', IPaddress", {}};
}

bool listedBefore(const std::string& one, const std::string& other) {
    const bool oneLast = one == "*";
    const bool otherLast = other == "*";
    return oneLast != otherLast ? otherLast : one < other;
}

Query addressById(std::int64_t ipid) {
    return {"Select IPID from IPs where IPID = ?", {ipid}};
}

Query addressId(const std::string& address) {
    return {"Select IPID from IPs where IPaddress = ?", {address}};
}

Query otherAddressId(std::int64_t ipid, const std::string& address) {
    return {"Select IPID from IPs where IPID <> ? and IPaddress = ?", {ipid, address}};
}

Query insertAddress(const std::string& address) {
    return {"Insert into IPs (IPaddress) values (?)", {address}};
}

Query renameAddress(std::int64_t ipid, const std::string& address) {
    return {"Update IPs set IPaddress = ? where IPID = ?", {address, ipid}};
}

Query deleteAddress(std::int64_t ipid) {
    return {"Delete from IPs where IPID = ?", {ipid}};
}

Query deleteAddressItems(std::int64_t ipid, ListTable table) {
    return {inTable("Delete from ", table, " where IPID = ?"), {ipid}};
}

Query connectedItems(std::int64_t ipid, ListTable table) {
    return {inTable("Select ListID,TargetPath from ", table, " where IPID = ? order by ListOrder,ListID"),
            {ipid}};
}

Query disconnectedItems(ListTable table) {
    return {inTable("Select ListID,TargetPath from ", table, " order by ListOrder,ListID"), {}};
}

Query startInOfItem(ListTable table, std::int64_t listId) {
    return {inTable("select StartinPath from ", table, " where ListID = ?"), {listId}};
}

Query addressesHoldingTarget(const std::string& targetPath, ListTable table) {
    return {inTable("Select IPID from ", table, " where TargetPath = ? and typeof(IPID) = 'integer'"),
            {targetPath}};
}

Query connectedDuplicateOther(std::int64_t listId, std::int64_t ipid, const std::string& targetPath,
                              ListTable table) {
    return {inTable("Select IPID from ", table, " where ListID <> ? and IPID = ? and TargetPath = ?"),
            {listId, ipid, targetPath}};
}

Query disconnectedDuplicate(const std::string& targetPath, ListTable table) {
    return {inTable("Select ListID from ", table, " where TargetPath = ?"), {targetPath}};
}

Query disconnectedDuplicateOther(std::int64_t listId, const std::string& targetPath, ListTable table) {
    return {inTable("Select ListID from ", table, " where ListID <> ? and TargetPath = ?"),
            {listId, targetPath}};
}

Query maxListOrder(ListTable table) {
    return {inTable("Select Max(listOrder) as maxOrder from ", table, " where typeof(listOrder) = 'integer'"),
            {}};
}

Query insertConnectedItem(std::int64_t ipid, const std::string& targetPath, const std::string& startInPath,
                          std::int64_t listOrder, ListTable table) {
    return {inTable("Insert into ", table, " (IPID,TargetPath,StartinPath,ListOrder) values (?,?,?,?)"),
            {ipid, targetPath, startInPath, listOrder}};
}

Query insertDisconnectedItem(const std::string& targetPath, const std::string& startInPath,
                             std::int64_t listOrder, ListTable table) {
    return {inTable("Insert into ", table, " (TargetPath,StartinPath,ListOrder) values (?,?,?)"),
            {targetPath, startInPath, listOrder}};
}

Query connectedItemId(std::int64_t ipid, const std::string& targetPath, ListTable table) {
    return {inTable("Select ListID from ", table, " where IPID = ? and TargetPath = ?"), {ipid, targetPath}};
}

Query addressOfItem(std::int64_t listId, ListTable table) {
    return {inTable("select IPID from ", table, " where ListID = ?"), {listId}};
}

Query updateItem(ListTable table, std::int64_t listId, const platform::SqlValue& targetPath,
                 const platform::SqlValue& startInPath) {
    return {inTable("Update ", table, " set TargetPath = ?,StartinPath = ? where ListID = ?"),
            {targetPath, startInPath, listId}};
}

Query listOrderOf(ListTable table, std::int64_t listId) {
    return {inTable("select listOrder from ", table, " where ListID = ?"), {listId}};
}

Query pathsOfItem(ListTable table, std::int64_t listId) {
    return {inTable("select TargetPath,StartinPath from ", table, " where ListID = ?"), {listId}};
}

Query setListOrder(ListTable table, std::int64_t listId, const platform::SqlValue& listOrder) {
    return {inTable("Update ", table, " set ListOrder = ? where ListID = ?"), {listOrder, listId}};
}

Query deleteItem(ListTable table, std::int64_t listId) {
    return {inTable("Delete from ", table, " where ListID = ?"), {listId}};
}

Query deleteItemOfAddress(std::int64_t ipid, const platform::SqlValue& targetPath, ListTable table) {
    return {inTable("Delete from ", table, " where IPID = ? and TargetPath IS ?"), {ipid, targetPath}};
}

} // namespace corvale::statements
