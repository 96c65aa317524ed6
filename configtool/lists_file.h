#pragma once

#include "shared/startup_lists.h"

#include <string>

// The lists as a text file, for a user's settings and for a new laptop: a
// JSON document of this shape (the version is that of the format):
//
//   {"corvale-lists": 1,
//    "entries": [{"entry": "10.20", "name": "Office",
//                 "items": [{"target": "/usr/bin/thunderbird", "startIn": "/usr/bin/",
//                            "stopOnLeaving": false}]}],
//    "disconnected": [{"target": "...", "startIn": "...", "stopOnLeaving": false}]}
//
// "name" may be left out or empty; "stopOnLeaving" may be left out (false).
namespace corvale::tool {

inline constexpr int kListsFileVersion = 1;

// The document for lists; fails naming the first text that is not UTF-8,
// which JSON cannot carry.
std::string listsDocument(const ListsOnFile& lists);
// The lists a document holds; fails naming the place of the first fault.
ListsOnFile readListsDocument(const std::string& document);

// corvale --export FILE and --import FILE: the database beside the program,
// without a window. Each writes what it did to standard output, or why it
// could not to standard error; returns the exit status.
int exportLists(const std::string& programFolder, const std::string& file);
int importLists(const std::string& programFolder, const std::string& file);

} // namespace corvale::tool
