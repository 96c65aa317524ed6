#pragma once

#include "engine/item_plan.h"
#include "shared/database.h"
#include "shared/network_choice.h"

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace brisken {

// What a dry run says of each step, one or more lines at a time, instead of
// starting anything: the database, the network and the list it would take,
// and what each item would do now.
class DryRunReport {
public:
    explicit DryRunReport(std::function<void(const std::string&)> say) : m_say(std::move(say)) {}

    void database(const std::string& path) { m_say("Database: " + path); }
    // The notes of the tables it could not read, the network as the
    // discovery found it (finding), and the list chosen and why.
    void choice(const corvale::ListChoice& choice, const std::string& finding,
                const std::vector<std::string>& notes, bool placeGiven, corvale::Database& database);
    // No entry is named or written place.
    void placeUnknown(const std::string& place, corvale::Database& database);
    void items(const std::vector<ItemPlan>& plans);
    // The list's items that run when the laptop leaves its network, apart,
    // with how long a watcher waits for each.
    void onLeaving(const std::vector<ItemPlan>& plans, std::chrono::seconds bound);
    // The list starts nothing: why, and the entries on file.
    void nothingStarts(const corvale::ListChoice& choice, corvale::Database& database);

private:
    // The entries on file with their names.
    void entriesOnFile(corvale::Database& database);

    std::function<void(const std::string&)> m_say;
};

} // namespace brisken
