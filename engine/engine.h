#pragma once

#include "platform/dialogs.h"
#include "platform/process_table.h"
#include "shared/database.h"
#include "shared/network_choice.h"

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

inline constexpr const char* kFailedHeader = "This program failed to start correctly: ";
// How many failed items the message names; the rest are counted, so that the
// box fits on a screen. The run's summary on standard error names them all.
inline constexpr std::size_t kFailuresShown = 20;

// One run of the startup engine: find and open the database, choose the list
// for the machine's address, start every item of it, report what failed.
class Engine {
public:
    Engine(corvale::Dialogs& dialogs, corvale::AddressDiscovery& discovery, std::string programFolder);

    // The whole run; returns the exit status.
    int Main();

    // Chooses the list for the discovered address and runs it.
    void startPrograms();
    // Starts every item of the list the query yields, in order, and shows one
    // message naming those that failed.
    void runList(const corvale::Query& query);

    corvale::ConnectionState& connection() { return m_connection; }

    // A dry run: every step up to the run loop as usual, but each finding is
    // handed to report (one or more lines) and nothing is started.
    void reportInsteadOfStarting(std::function<void(const std::string&)> report) {
        m_report = std::move(report);
    }
    // Called once the database is open, right before the address is looked
    // for: where the run is asked to wait for the network.
    void waitForNetworkFirst(std::function<void()> wait) { m_waitForNetwork = std::move(wait); }

    // The watcher's runs: the database found at logon is opened at path,
    // without searching or asking again; a program that a process of this
    // user runs already is passed over.
    void useDatabaseAt(std::string path) { m_databaseFound = std::move(path); }
    void passOverRunningPrograms() { m_passOverRunning = true; }
    // Called once the list is chosen, before any item starts, with the
    // database's path and the choice (choiceKey).
    void whenChosen(std::function<void(const std::string&, const std::string&)> chosen) {
        m_chosen = std::move(chosen);
    }
    // Called right before the run's last message: what failed, or why it
    // cannot go on.
    void beforeLastMessage(std::function<void()> told) { m_beforeLastMessage = std::move(told); }

private:
    void enterProgramFolder();
    void runConnectedList(const std::string& key);
    void reportChoice(const corvale::ListChoice& choice);
    void showFailedPrograms();
    // The one line on standard error that says what the run did.
    void writeSummary(std::size_t items);
    // For a dry run whose list starts nothing: why, and the entries on file.
    void reportNothingStarts();
    // The process that already runs the program at path, if one of this
    // user's does.
    std::optional<pid_t> alreadyRunning(const std::string& path);
    void show(const std::string& text);
    void trap(const std::exception& failure);

    corvale::Dialogs& m_dialogs;
    corvale::AddressDiscovery& m_discovery;
    std::string m_programFolder;
    corvale::ConnectionState m_connection;
    std::vector<std::string> m_failedPrograms;
    std::optional<corvale::ListChoice> m_choice;
    std::size_t m_started = 0;
    std::size_t m_passedOver = 0;
    std::vector<std::string> m_failureReasons; // "PATH: why", in the list's order
    bool m_trapped = false;
    std::function<void(const std::string&)> m_report;
    std::function<void()> m_waitForNetwork;
    std::optional<std::string> m_databaseFound;
    bool m_passOverRunning = false;
    std::optional<std::map<corvale::platform::FileId, pid_t>> m_running;
    std::function<void(const std::string&, const std::string&)> m_chosen;
    std::function<void()> m_beforeLastMessage;
};

} // namespace brisken
