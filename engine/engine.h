#pragma once

#include "engine/dry_run.h"
#include "engine/item_start.h"
#include "engine/started_records.h"
#include "platform/dialogs.h"
#include "shared/database.h"
#include "shared/names_and_marks.h"
#include "shared/network_choice.h"
#include "shared/run_place.h"
#include "shared/statements.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brisken {

inline constexpr const char* kCaption = "Brisken";

// Exit statuses of a run.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitTrapped = 1; // a failure was shown
inline constexpr int kExitRefused = 2; // no database was given

// The list a watcher's run before ran, which the laptop has left: the
// disconnected list, or the list of an entry (as stored).
struct ListLeft {
    bool disconnected = false;
    std::string entry;
};

// How one run goes, given when the engine is made.
struct RunSettings {
    // How long to wait for a network with a default gateway, once the
    // database is open, before the address is looked for.
    std::optional<int> waitForNetworkSeconds;
    // The watcher's runs: the database found at logon is opened at this path,
    // without searching or asking again; and an item that still runs (see
    // ItemPlan) is passed over.
    std::optional<std::string> databaseFound;
    bool passOverRunning = false;
    // A dry run for the entry of this name (or text), wherever the machine is.
    std::optional<std::string> place;
    // Which run this is, for the programs it starts (BRISKEN_RUN).
    corvale::RunKind runKind = corvale::RunKind::Logon;
    // Told the database's path and the choice once the list is chosen,
    // before any item starts.
    std::function<void(const std::string&, const corvale::ListChoice&)> chosen;
    // Called right before the run's last message (what failed, or why it
    // could not run): from then on the run only waits for a person.
    std::function<void()> beforeLastMessage;
    // A dry run: every step up to the start as usual, but each finding is
    // handed to report (one or more lines) and nothing is started.
    std::function<void(const std::string&)> report;
    // A watcher's runs: what its earlier runs started. An item whose process
    // still runs is passed over; a marked item's process is asked to end
    // (SIGTERM to its group, nothing more) before this list starts, unless
    // this list holds the same target.
    std::vector<StartedProcess> startedBefore;
    // Told of each process this run starts for an item, in a watcher's runs.
    std::function<void(const StartedProcess&)> started;
    // A watcher's run after the laptop left the network of the list it ran
    // last: that list's items that run on leaving run first, each waited for
    // up to leavingBound.
    std::optional<ListLeft> left;
    std::chrono::milliseconds leavingBound = kLeavingBound;
};

// One run of the startup engine: find and open the database, choose the list
// for the machine's address, plan every item of it, then start them (or, in
// a dry run, report the plan) and report what failed.
class Engine {
public:
    Engine(corvale::Dialogs& dialogs, corvale::AddressDiscovery& discovery, std::string programFolder,
           RunSettings settings = {});

    // The whole run; returns the exit status.
    int Main();

    // Chooses the list for the discovered address and runs it.
    void startPrograms();
    // Runs the list the query yields: plans it, then starts every item in
    // order (or reports them), and shows one message naming those that failed.
    void runList(const corvale::Query& query,
                 corvale::statements::ListTable table = corvale::statements::ListTable::Connected);

    corvale::ConnectionState& connection() { return m_connection; }

private:
    void enterProgramFolder();
    corvale::NamesAndMarks& stored();
    void runConnectedList(const std::string& key);
    // Plans the items that run on leaving the list left (none where the
    // file has no such table); a dry run reports those of the list chosen.
    void planLeaving(const ListLeft& left);
    void reportLeaving(const corvale::ListChoice& choice);
    // Runs them: the summary says what they came to.
    LeavingOutcome runLeaving();
    void show(const std::string& text);
    void trap(const std::exception& failure);

    corvale::Dialogs& m_dialogs;
    corvale::AddressDiscovery& m_discovery;
    std::string m_programFolder;
    const RunSettings m_settings;
    corvale::ConnectionState m_connection;
    std::optional<corvale::ListChoice> m_choice;
    bool m_trapped = false;
    // The names and marks on file, and what the summary says of tables it
    // could not read.
    std::optional<corvale::NamesAndMarks> m_stored;
    std::vector<std::string> m_notes;
    // Held from the choice until the list is planned.
    std::optional<corvale::Database::ReadSnapshot> m_snapshot;
    // A dry run reports each step instead of starting anything.
    std::optional<DryRunReport> m_dryRun;
    // The items of the list left, planned with the list chosen, and where
    // the laptop left.
    std::vector<ItemPlan> m_leavingPlans;
    corvale::RunPlace m_placeLeft;
};

} // namespace brisken
