#pragma once

#include "platform/dialogs.h"
#include "platform/failure.h"

#include <optional>
#include <string>

namespace corvale {

inline constexpr const char* kMissingDatabaseText = "This application cannot execute properly without the "
                                                    "database corvale.mdb.  Please install this database on "
                                                    "your system, and run the program again.";
inline constexpr const char* kFindDatabaseText = "Please find and open the database: corvale.mdb";
inline constexpr const char* kFindDatabaseCaption = "Corvale - It's your choice...";
inline constexpr const char* kDatabaseFilter = "Microsoft Access Databases (*.mdb)|*.mdb|All Files (*.*)|*.*";

// How one program wants the search to behave.
struct DatabaseSearchSettings {
    // The caption of the refusal message: the program's own title.
    std::string programCaption;
    // The configuration tool treats Cancel in its file dialog as a failure
    // (DatabaseSearchCancelled) instead of as giving up.
    bool cancelInDialogIsFailure = false;
};

class DatabaseSearchCancelled : public Failure {
public:
    DatabaseSearchCancelled() : Failure("Cancel was selected.") {}
};

// Looks for corvale.mdb in the current folder (the exact name first, then any
// name that differs only in case) and otherwise asks the person to find it, as
// often as they are willing to. Returns the file's path; returns nothing when
// they gave up, after the refusal message has been shown: the caller then
// ends. Only the file's name is checked here, not its content.
std::optional<std::string> checkDbase(Dialogs& dialogs, const DatabaseSearchSettings& settings);

} // namespace corvale
