#pragma once

#include "shared/lists_transfer.h"

#include <string>
#include <vector>

// The lists as a text file, for a user's settings and for a new laptop: a
// JSON document of this shape (the version is that of the format):
//
//   {"corvale-lists": 2,
//    "entries": [{"entry": "10.20", "name": "Office",
//                 "items": [{"target": "/usr/bin/thunderbird", "startIn": "/usr/bin/",
//                            "stopOnLeaving": false}]}],
//    "disconnected": [{"target": "...", "startIn": "...", "stopOnLeaving": false}]}
//
// "name" may be left out or empty; "stopOnLeaving" may be left out (false).
// A path under the user's home is written "~/...", and read as under the
// home of whoever imports it (version 2; version 1 holds whole paths alone).
namespace corvale::tool {

inline constexpr int kListsFileVersion = 2;

// The document for lists, its paths under home as "~/..."; fails naming the
// first entry that is not UTF-8, which JSON cannot carry. An item whose path
// it cannot carry is left out and said in passedOver.
std::string listsDocument(const ListsOnFile& lists, const std::string& home,
                          std::vector<std::string>& passedOver);
// The lists a document holds, "~/" read as home; fails naming the place of
// the first fault, an entry the tool would not take among them.
ListsOnFile readListsDocument(const std::string& document, const std::string& home);
// This user's home folder.
std::string homeFolder();

// corvale --export FILE and --import FILE: the database beside the program,
// without a window. Each writes what it did to standard output, or why it
// could not to standard error; returns the exit status.
int exportLists(const std::string& programFolder, const std::string& file);
int importLists(const std::string& programFolder, const std::string& file);

} // namespace corvale::tool
