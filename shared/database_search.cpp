#include "shared/database_search.h"

#include "shared/schema.h"

#include <filesystem>

namespace corvale {

std::optional<std::string> databaseInFolder(const std::string& folder) {
    const std::filesystem::path candidate = std::filesystem::path(folder) / kDatabaseFileName;
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) {
        return candidate.string();
    }
    return std::nullopt;
}

} // namespace corvale
