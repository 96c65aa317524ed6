#pragma once

#include "platform/dialogs.h"
#include "platform/process_table.h"
#include "shared/database.h"
#include "shared/file_safety.h"
#include "shared/launcher.h"
#include "shared/names_and_marks.h"
#include "shared/network_choice.h"
#include "shared/run_place.h"
#include "shared/statements.h"

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

// A process that a watcher's run started for an item, in a process group of
// its own (its number the process's), told apart from a later process of
// the same number by its start time.
struct StartedProcess {
    std::string target; // the item's target as stored
    pid_t pid = 0;
    unsigned long long startTime = 0;
    bool stopOnLeave = false; // the item is marked so (ItemOptions)
    // The target's file when it started, where it was looked at: another
    // spelling of it, or a link to it, is the same item.
    std::optional<corvale::platform::FileId> file;
    // The item of the list that ran last and holds the target: the one that
    // started the process, or a later one that passed over it. Its mark, as
    // the database holds it when the laptop leaves, decides.
    corvale::statements::ListTable table = corvale::statements::ListTable::Connected;
    std::int64_t listId = 0;
    // It was asked to end once (a SIGTERM), and is never asked again.
    bool asked = false;

    // As a run hands it to its watcher: fields each ended by a NUL (a path
    // holds none).
    std::string record() const;
};
// Whether the process was started for the item whose target is target
// (stored text) and file (where known): the same file, or, where either's
// file is not known, the same text.
bool startedFor(const StartedProcess& process, const std::string& target,
                const std::optional<corvale::platform::FileId>& file);

// The records a run writes, read as they come: whole records are taken, the
// rest waits for its end; a record that does not parse is passed over.
class StartedRecords {
public:
    void append(const char* bytes, std::size_t size);
    std::vector<StartedProcess> take();

private:
    std::string m_unread;
};
// Whether the process still runs, and is the one that was started.
bool stillRuns(const StartedProcess& process);

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
    // Told the database's path and the choice (choiceKey) once the list is
    // chosen, before any item starts.
    std::function<void(const std::string&, const std::string&)> chosen;
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
};

// What a run means to do with one item of its list, decided before any item
// starts.
struct ItemPlan {
    enum class Action { Start, PassOver, Fail };
    enum class Why {
        None,
        NoTarget,       // the row holds no target (Fail)
        NoAnswer,       // its files did not answer in time (Fail)
        EngineItself,   // it would start this list again (PassOver)
        AlreadyRunning, // a process of this user runs the program (PassOver in a watcher's run)
        OtherWriter,    // another user could change its file, or a folder above it (Fail)
    };
    Action action = Action::Start;
    Why why = Why::None;
    std::string target; // as stored; empty for NoTarget
    std::string startIn;
    // The target's file, looked at in a watcher's runs.
    std::optional<corvale::platform::FileId> file;
    // The process that runs the program already, where the run looked.
    std::optional<pid_t> running;
    // Marked to be stopped when the laptop leaves (read in a watcher's runs).
    bool stopOnLeave = false;
    // The item's row, and what an earlier run of the watcher started for it
    // and still runs.
    corvale::statements::ListTable table = corvale::statements::ListTable::Connected;
    std::int64_t listId = 0;
    std::optional<StartedProcess> earlier;
    // Who else could change it (OtherWriter).
    std::optional<corvale::OtherWriter> otherWriter;
    // How it would start: made for the dry run only.
    std::optional<corvale::LaunchPlan> launch;
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
    // What the start of a planned list came to.
    struct Outcome {
        std::size_t started = 0;
        std::size_t passedOver = 0;
        std::vector<std::string> failedPrograms; // as the message names them
        std::vector<std::string> failureReasons; // "PATH: why", in the list's order
        std::vector<std::string> stopped;        // targets asked to end on leaving
    };

    void enterProgramFolder();
    corvale::NamesAndMarks& stored();
    void runConnectedList(const std::string& key);
    void reportChoice(const corvale::ListChoice& choice);
    std::vector<ItemPlan> plan(corvale::Recordset& items, corvale::statements::ListTable table);
    ItemPlan planItem(const corvale::Field& target, const corvale::Field& startIn);
    // Asks what earlier runs started for items marked now to end, where
    // this list does not hold their targets, once each; returns their
    // targets.
    std::vector<std::string> stopWhatIsLeft(const std::vector<ItemPlan>& plans);
    Outcome start(const std::vector<ItemPlan>& plans, const corvale::platform::ChildEnvironment& environment);
    void report(const std::vector<ItemPlan>& plans);
    void showFailedPrograms(const Outcome& outcome);
    // Reports an arrival run's failures as one notification; false when no
    // notification server answered (the message box shows them then).
    bool notifyFailures(const Outcome& outcome);
    // The one line on standard error that says what the run did.
    void writeSummary(std::size_t items, const Outcome& outcome);
    // For a dry run whose list starts nothing: why, and the entries on file.
    void reportNothingStarts();
    // The entries on file with their names, for a dry run that starts nothing.
    void reportEntriesOnFile();
    // The process that already runs the program at path, if one of this
    // user's does: the program itself, or an interpreter given the script
    // at path.
    std::optional<pid_t> alreadyRunning(const std::string& path);
    void show(const std::string& text);
    void trap(const std::exception& failure);
    bool dryRun() const { return m_settings.report != nullptr; }

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
    std::optional<corvale::platform::RunningNow> m_running;
};

} // namespace brisken
