#pragma once

#include "shared/database.h"
#include "shared/startup_lists.h"

#include <cstddef>
#include <string>
#include <vector>

// The lists moved as a whole, out of a database and into one: for the lists
// file (an export, to be imported on another laptop). What they did comes as
// types; the caller makes the words.
namespace corvale {

// The lists as a file holds them: each entry with its name and its items in
// order, and the disconnected list.
struct ListsOnFile {
    struct Entry {
        std::string entry;
        std::string name;
        std::vector<ItemPaths> items;
    };
    std::vector<Entry> entries;
    std::vector<ItemPaths> disconnected;
};

// One thing an import did, in the file's order.
struct ImportStep {
    enum class Kind { Entry, Name, Item };
    enum class Result {
        Added,
        OnFile,   // an item its list holds already
        Refused,  // an entry or name the rules refuse (why)
        NameKept, // the entry has another name on file (nameOnFile), which stays
        // The entry names a network on file under another text (entryOnFile,
        // named nameOnFile): refused, its items go to that entry's list.
        SameNetwork,
    };
    Kind kind = Kind::Entry;
    Result result = Result::Added;
    std::string entry{};      // as the file writes it; empty for the disconnected list
    std::string name{};       // Name: the file's name
    std::string nameOnFile{}; // NameKept, SameNetwork
    std::string target{};     // Item
    RowChange why = RowChange::Done;
    std::string entryOnFile{}; // SameNetwork

    bool added() const { return result == Result::Added; }
};

struct ImportOutcome {
    std::vector<ImportStep> steps;
    std::vector<ItemPaths> addedItems; // the items added, in the file's order
};

// Every entry with its name and items, and the disconnected list, as
// stored; fails naming the row whose text is no text.
ListsOnFile exportLists(Database& database);

// Everything of lists, in one transaction, under the editing rules: an entry
// on file (the same network, the entries this import adds included) keeps
// its items and name and gains the items it lacks; a new entry comes with
// its name where the name may be given; a target a list holds already is
// passed over.
ImportOutcome importLists(Database& database, const ListsOnFile& lists);

} // namespace corvale
