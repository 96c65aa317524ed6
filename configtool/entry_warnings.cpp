#include "configtool/entry_warnings.h"

#include "configtool/stored_text.h"
#include "platform/process_table.h"
#include "shared/file_safety.h"
#include "shared/launcher.h"
#include "shared/network_choice.h"

#include <cerrno>
#include <filesystem>
#include <unistd.h>

namespace corvale::tool {

QString addressEntryWarning(const QString& entry, const QString& name,
                            const std::function<ShownEntries()>& shown,
                            const corvale::SameNetworks& networks) {
    const std::string why = whyEntryNeverMatches(storedText(entry));
    if (!why.empty()) {
        return "Brisken never chooses this entry: " + shownText(why) + ".";
    }
    if (!name.isEmpty()) {
        const ShownEntries all = shown();
        for (qsizetype i = 0; i < all.entries.size(); ++i) {
            const bool sameName =
                i < all.names.size() && all.names[i].compare(name, Qt::CaseInsensitive) == 0;
            if (all.entries[i] != entry &&
                (sameName || all.entries[i].compare(name, Qt::CaseInsensitive) == 0)) {
                return "Another entry is called " + name + " too: brisken --place=" + name +
                       " takes only one of them. Give each a name of its own.";
            }
        }
    }
    if (const auto first = networks.reachedInsteadOf(storedText(entry))) {
        return "The same network as " + shownText(*first) + ": this one never runs.";
    }
    return {};
}

QString targetWarning(const QString& target, const std::string& programFolder) {
    namespace fs = std::filesystem;
    const fs::path path(storedText(target));
    std::error_code error;
    const bool found = !path.empty() && fs::exists(path.is_absolute() ? path : programFolder / path, error);
    if (found && isTheEngineItself(path.string(), programFolder)) {
        return QString("Brisken passes this item over: ") + kEngineItself + ", and so on for ever.";
    }
    if (found) {
        const std::string file = itemTargetFile(path.string(), {}, programFolder);
        if (const auto other = otherWriterOf(file)) {
            return "Brisken does not start this item: " + shownText(otherWriterReason(*other)) + " (" +
                   shownText(other->what) + ").";
        }
        if (platform::isScript(file) && ::access(file.c_str(), X_OK) != 0) {
            return "Opens as a document: it is not executable; chmod +x makes it a program.";
        }
        return {};
    }
    if (error.value() == EACCES) { // a folder Corvale may not look into
        return {};
    }
    return QString("Corvale finds no such file: Brisken cannot start it until it is there.");
}

} // namespace corvale::tool
