#pragma once

#include <QString>
#include <string>

namespace corvale::tool {

// What a list entry is marked with when the engine cannot act on it; the
// empty text when it can. The entry's own text stays as stored.

// An entry of the address list that no network can ever match.
QString addressEntryWarning(const QString& entry);

// A startup list item whose target does not exist, as far as the tool can
// see (a relative target is looked for from the program folder, where the
// engine starts each item).
QString targetWarning(const QString& target, const std::string& programFolder);

} // namespace corvale::tool
