#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <string>

#include "shared/address_entries.h"

namespace corvale::tool {

// What a list entry is marked with when the engine cannot act on it; the
// empty text when it can. The entry's own text stays as stored.

// An entry of the address list that no network can ever match, one whose
// network another entry among entries names first, so that its list never
// runs, or one whose name (a name shown for it; empty for none) another
// entry has too, in any case of letters, or has as its text.
// entries is asked for only for a named one; names holds the name shown
// for each of entries, empty for none. networks holds the entries as stored.
struct ShownEntries {
    QStringList entries;
    QStringList names;
};
QString addressEntryWarning(const QString& entry, const QString& name,
                            const std::function<ShownEntries()>& shown,
                            const corvale::SameNetworks& networks);

// A startup list item whose target does not exist, as far as the tool can
// see (a relative target is looked for from the program folder, where the
// engine starts each item).
QString targetWarning(const QString& target, const std::string& programFolder);

} // namespace corvale::tool
