#include "engine/engine.h"

#include "engine/run_summary.h"
#include "platform/failure.h"
#include "platform/folders.h"
#include "shared/database_search.h"
#include "shared/error_text.h"
#include "shared/file_safety.h"
#include "shared/schema.h"
#include "shared/statements.h"

#include <chrono>
#include <cstdio>
#include <unordered_set>
#include <vector>

namespace brisken {

using corvale::Failure;
namespace statements = corvale::statements;

Engine::Engine(corvale::Dialogs& dialogs, corvale::AddressDiscovery& discovery, std::string programFolder,
               RunSettings settings)
    : m_dialogs(dialogs), m_discovery(discovery), m_programFolder(std::move(programFolder)),
      m_settings(std::move(settings)) {
    if (m_settings.report) {
        m_dryRun.emplace(m_settings.report);
    }
}

int Engine::Main() {
    try {
        m_connection.openWorkspace();
        enterProgramFolder();
        const auto found = m_settings.databaseFound ? m_settings.databaseFound
                                                    : corvale::checkDbase(m_dialogs, {kCaption, false});
        if (!found) {
            return kExitRefused;
        }
        // The path checked, with no link left in it, is the one opened.
        m_connection.dbPath = corvale::requirePrivateFile(*found);
        m_connection.access = corvale::Database::Access::ReadOnly;
        m_connection.openDatabase();
        if (m_dryRun) {
            m_dryRun->database(m_connection.dbPath);
        }
    } catch (const std::exception& failure) {
        trap(failure);
        return kExitTrapped;
    }
    startPrograms();
    m_snapshot.reset(); // also where the run ended early
    return m_trapped ? kExitTrapped : kExitNormal;
}

corvale::NamesAndMarks& Engine::stored() {
    if (!m_stored) {
        m_stored.emplace(*m_connection.dbase);
    }
    return *m_stored;
}

void Engine::enterProgramFolder() {
    std::string here;
    try {
        here = corvale::platform::currentFolder();
    } catch (const Failure&) {
        // Started from a folder that was deleted since: it has no name, and
        // the program folder is where to go all the same.
    }
    if (here != m_programFolder) {
        corvale::platform::changeFolder(m_programFolder);
    }
}

void Engine::startPrograms() {
    try {
        // The network as it is once the database is open: the search for it
        // may have kept a person busy for a while.
        if (m_settings.waitForNetworkSeconds) {
            m_discovery.waitForNetwork(std::chrono::seconds(*m_settings.waitForNetworkSeconds));
        }
        const corvale::DiscoveredAddress result = m_discovery.discoverIP();
        // Everything the run reads is of one moment, read under one lock
        // that ends before anything starts.
        m_snapshot.emplace(*m_connection.dbase);
        // A dry run shows the network's identities even where no entry asks
        // for them; it resolves the gateway only where a run would.
        m_stored.reset(); // read afresh for this run
        m_notes = stored().notes();
        if (m_connection.dbase->format() > corvale::kSchemaVersion) {
            m_notes.push_back("the database is of a newer format (" +
                              std::to_string(m_connection.dbase->format()) + ") than this program's (" +
                              std::to_string(corvale::kSchemaVersion) +
                              "): it is read as far as this program knows it");
        }
        if (m_settings.place) {
            m_choice = corvale::listOfPlace(*m_connection.dbase, *m_settings.place);
            if (!m_choice && m_dryRun) {
                m_dryRun->placeUnknown(*m_settings.place, *m_connection.dbase);
                return;
            }
            if (!m_choice) {
                throw Failure("No entry is named or written " + corvale::printablePath(*m_settings.place) +
                              ": nothing was started.");
            }
        } else {
            m_choice = corvale::chooseList(*m_connection.dbase, result, m_discovery.identity(),
                                           m_dryRun ? corvale::IdentityLookups::toShow(true)
                                                    : corvale::IdentityLookups::asARun());
        }
        const corvale::ListChoice choice = *m_choice;
        if (m_dryRun) {
            m_dryRun->choice(choice, m_discovery.lastFinding(), m_notes, m_settings.place.has_value(),
                             *m_connection.dbase);
        }
        if (m_settings.chosen) {
            m_settings.chosen(m_connection.dbPath, choice);
        }
        if (m_settings.left && !m_dryRun) {
            planLeaving(*m_settings.left);
        }
        if (m_dryRun) {
            reportLeaving(choice);
        }
        if (choice.disconnected()) {
            runList(statements::disconnectedList(), statements::ListTable::Disconnected);
        } else {
            runConnectedList(choice.key);
        }
    } catch (const std::exception& failure) {
        m_snapshot.reset();
        trap(failure);
    }
    m_snapshot.reset();
}

void Engine::planLeaving(const ListLeft& left) {
    const auto leaving = stored().leavingItems(left.disconnected, left.entry);
    if (!leaving) {
        return;
    }
    corvale::Recordset items = m_connection.dbase->openRecordset(leaving->query);
    // Each is started and waited for; nothing of it is passed over.
    ItemPlanner planner({m_programFolder, false, false, false, {}});
    m_leavingPlans = planner.planList(items, leaving->table, {});
    if (!left.disconnected) {
        m_placeLeft.entry = left.entry;
        m_placeLeft.place = stored().nameOfEntry(left.entry).value_or(left.entry);
    }
}

void Engine::reportLeaving(const corvale::ListChoice& choice) {
    const auto leaving = stored().leavingItems(choice.disconnected(), choice.key);
    if (!leaving || (!choice.disconnected() && !choice.onFile())) {
        return;
    }
    corvale::Recordset items = m_connection.dbase->openRecordset(leaving->query);
    ItemPlanner planner({m_programFolder, false, false, true, {}});
    m_leavingPlans = planner.planList(items, leaving->table, {});
}

LeavingOutcome Engine::runLeaving() {
    if (m_leavingPlans.empty()) {
        return {};
    }
    const corvale::RunPlace next =
        m_choice ? corvale::placeOf(*m_choice, m_discovery.lastInterface(), m_discovery.lastGateway())
                 : corvale::RunPlace{};
    return runLeavingItems(m_leavingPlans, corvale::leavingEnvironment(m_placeLeft, next), m_programFolder,
                           m_settings.leavingBound);
}

void Engine::runConnectedList(const std::string& key) {
    runList(statements::connectedListForAddress(key));
}

void Engine::runList(const corvale::Query& query, corvale::statements::ListTable table) {
    try {
        corvale::Recordset items = m_connection.dbase->openRecordset(query);
        // The marks matter to a watcher and are shown by the dry run.
        const bool watching = m_settings.passOverRunning;
        ItemPlanner planner({m_programFolder, watching, watching || m_dryRun.has_value(),
                             m_dryRun.has_value(), m_settings.startedBefore});
        const std::vector<ItemPlan> plans = planner.planList(
            items, table, watching || m_dryRun ? stored().marked(table) : std::unordered_set<std::int64_t>());
        if (m_dryRun) {
            m_dryRun->items(plans);
            if (plans.empty() && m_choice) {
                m_dryRun->nothingStarts(*m_choice, *m_connection.dbase);
            }
            m_dryRun->onLeaving(m_leavingPlans, kLeavingBound);
            return;
        }
        // The marks as they stand now: a box unticked while the program ran
        // keeps it running.
        EarlierProcesses::Marks marked;
        if (!m_settings.startedBefore.empty()) {
            for (const auto list : {statements::ListTable::Connected, statements::ListTable::Disconnected}) {
                for (const std::int64_t listId : stored().marked(list)) {
                    marked.insert({list, listId});
                }
            }
        }
        m_snapshot.reset();
        // The list left first: its items that run on leaving, each waited
        // for, before anything of the new list is asked to end or starts.
        const LeavingOutcome leaving = runLeaving();
        const std::vector<std::string> stopped =
            askToEndOnLeaving(m_settings.startedBefore, plans, marked, m_settings.started);
        // Each program learns where it was started.
        const corvale::platform::ChildEnvironment here = corvale::placeEnvironment(
            m_choice ? corvale::placeOf(*m_choice, m_discovery.lastInterface(), m_discovery.lastGateway())
                     : corvale::RunPlace{},
            m_settings.runKind);
        StartOutcome outcome = startItems(plans, here, m_programFolder, m_settings.started);
        outcome.stopped = stopped;
        outcome.leaving = leaving;
        // Written before any message, which may wait for a person a long time.
        if (m_choice) {
            const std::string line =
                summaryLine(*m_choice, m_discovery.lastGateway(), m_settings.place.has_value(), plans.size(),
                            outcome, m_notes);
            std::fwrite(line.data(), 1, line.size(), stderr);
            std::fflush(stderr);
        }
        // What failed on leaving is told as the list's own failures are.
        outcome.failedPrograms.insert(outcome.failedPrograms.begin(), leaving.failedPrograms.begin(),
                                      leaving.failedPrograms.end());
        outcome.failureReasons.insert(outcome.failureReasons.begin(), leaving.failureReasons.begin(),
                                      leaving.failureReasons.end());
        if (outcome.failedPrograms.empty()) {
            return;
        }
        // Where a notification server answers, the failures go there, and
        // stay in its list: a later run closes nothing unread.
        if (m_choice && notifyFailures(outcome, *m_choice, m_programFolder, m_settings.beforeLastMessage)) {
            return;
        }
        if (m_settings.beforeLastMessage) {
            m_settings.beforeLastMessage();
        }
        show(failureMessage(outcome));
    } catch (const std::exception& failure) {
        m_snapshot.reset();
        trap(failure);
    }
}

void Engine::show(const std::string& text) {
    m_dialogs.showMessage({text, kCaption, corvale::MessageButtons::Ok, corvale::MessageIcon::None,
                           corvale::MessageAnswer::Ok});
}

void Engine::trap(const std::exception& failure) {
    m_trapped = true;
    // Nothing more is started after a trapped failure.
    if (m_settings.beforeLastMessage) {
        m_settings.beforeLastMessage();
    }
    show(corvale::he(failure));
}

} // namespace brisken
