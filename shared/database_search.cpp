#include "shared/database_search.h"

#include "platform/folders.h"
#include "shared/schema.h"

#include <algorithm>
#include <filesystem>
#include <strings.h>

namespace corvale {

namespace fs = std::filesystem;

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The bare name of the file at path in lower case, or empty when there is no
// such file.
std::string existingName(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        return {};
    }
    return lowerCase(path.filename().string());
}

// The database file of folder: the exact name, else a name that differs only
// in case (this file system tells them apart).
fs::path databaseInFolder(const fs::path& folder) {
    fs::path exact = folder / kDatabaseFileName;
    if (!existingName(exact).empty()) {
        return exact;
    }
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (strcasecmp(name.c_str(), kDatabaseFileName) == 0 && !existingName(entry.path()).empty()) {
            return entry.path();
        }
    }
    return exact;
}

} // namespace

std::optional<std::string> checkDbase(Dialogs& dialogs, const DatabaseSearchSettings& settings) {
    fs::path dbPath = databaseInFolder(platform::currentFolder());
    std::string found = existingName(dbPath);
    MessageAnswer answer = MessageAnswer::Ok;

    while (found != kDatabaseFileName && answer != MessageAnswer::Cancel) {
        answer = dialogs.showMessage({kFindDatabaseText, kFindDatabaseCaption, MessageButtons::OkCancel,
                                      MessageIcon::Information, MessageAnswer::Ok});
        std::string fileName;
        if (answer == MessageAnswer::Ok) {
            fileName = dialogs.openFile({kDatabaseFilter, "", ""});
            if (fileName.empty() && settings.cancelInDialogIsFailure) {
                throw DatabaseSearchCancelled();
            }
        }
        if (!fileName.empty()) {
            dbPath = fileName;
            found = existingName(dbPath);
        } else {
            answer = MessageAnswer::Cancel;
        }
    }
    if (found == kDatabaseFileName && answer != MessageAnswer::Cancel) {
        return dbPath.string();
    }
    dialogs.showMessage({kMissingDatabaseText, settings.programCaption, MessageButtons::Ok, MessageIcon::None,
                         MessageAnswer::Ok});
    return std::nullopt;
}

} // namespace corvale
