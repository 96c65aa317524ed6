#include "engine/engine.h"

#include "platform/failure.h"
#include "platform/file_answer.h"
#include "platform/folders.h"
#include "shared/database_search.h"
#include "shared/error_text.h"
#include "shared/file_safety.h"
#include "shared/launcher.h"
#include "shared/statements.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brisken {

using corvale::Failure;
namespace statements = corvale::statements;

Engine::Engine(corvale::Dialogs& dialogs, corvale::AddressDiscovery& discovery, std::string programFolder)
    : m_dialogs(dialogs), m_discovery(discovery), m_programFolder(std::move(programFolder)) {}

int Engine::Main() {
    try {
        m_connection.openWorkspace();
        enterProgramFolder();
        const auto found =
            m_databaseFound ? m_databaseFound : corvale::checkDbase(m_dialogs, {kCaption, false});
        if (!found) {
            return kExitRefused;
        }
        // The path checked, with no link left in it, is the one opened.
        m_connection.dbPath = corvale::requirePrivateFile(*found);
        m_connection.access = corvale::Database::Access::ReadOnly;
        m_connection.openDatabase();
        if (m_report) {
            m_report("Database: " + m_connection.dbPath);
        }
    } catch (const std::exception& failure) {
        trap(failure);
        return kExitTrapped;
    }
    startPrograms();
    return m_trapped ? kExitTrapped : kExitNormal;
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
        if (m_waitForNetwork) {
            m_waitForNetwork();
        }
        const std::string result = m_discovery.discoverIP();
        // A dry run shows the network's identities even where no entry asks
        // for them; it resolves the gateway only where a run would.
        const corvale::ListChoice choice = corvale::chooseList(
            *m_connection.dbase, result, m_discovery.identity(), {m_report != nullptr, true});
        m_choice = choice;
        if (m_report) {
            reportChoice(choice);
        }
        if (m_chosen) {
            m_chosen(m_connection.dbPath, corvale::choiceKey(choice));
        }
        if (choice.disconnected) {
            runList(statements::disconnectedList());
        } else {
            runConnectedList(choice.key);
        }
    } catch (const std::exception& failure) {
        trap(failure);
    }
}

void Engine::reportChoice(const corvale::ListChoice& choice) {
    m_report("Network: " + m_discovery.lastFinding());
    if (const auto& found = choice.gatewayHardwareAddress) {
        m_report("Gateway's hardware address: " +
                 (found->value.empty() ? "not known: " + found->why : found->value));
    }
    if (choice.wifiName) {
        m_report("Wi-Fi: " + (choice.wifiName->value.empty()
                                  ? choice.wifiName->why
                                  : "\"" + corvale::printablePath(choice.wifiName->value) + "\""));
    }
    for (const std::string& entry : choice.malformed) {
        m_report("Entry " + corvale::printablePath(entry) + "; it matches nothing");
    }
    if (!choice.notConsidered.empty()) {
        std::string entries;
        for (const std::string& entry : choice.notConsidered) {
            entries += (entries.empty() ? "" : ", ") + corvale::printablePath(entry);
        }
        m_report("Not considered, their network's identity not being known: " + entries);
    }
    for (const std::string& entry : choice.unreached) {
        m_report("Entry " + corvale::printablePath(entry) +
                 ", whose list runs in its place; its own never runs");
    }
    if (choice.disconnected) {
        m_report("List: the disconnected list");
    } else if (choice.identity) {
        m_report("List: " + corvale::printablePath(choice.key) + " (" + choice.how + ")");
    } else if (!choice.onFile) {
        std::string keys = choice.address;
        for (std::string key = choice.address; key.find('.') != std::string::npos;) {
            key.erase(key.rfind('.'));
            keys += (key.find('.') == std::string::npos ? " or " : ", ") + key;
        }
        m_report("List: none: no entry matches " + keys);
    } else {
        m_report("List: " + corvale::printablePath(choice.key) + " (" + choice.how + " of " + choice.address +
                 ")");
    }
}

void Engine::runConnectedList(const std::string& key) {
    runList(statements::connectedListForAddress(key));
}

namespace {
// How a failed item is named: its path as people can read it, or "(empty)"
// for a row that holds no target at all.
constexpr const char* kNoTarget = "(empty)";
} // namespace

void Engine::runList(const corvale::Query& query) {
    try {
        corvale::Recordset items = m_connection.dbase->openRecordset(query);
        if (items.recordCount() > 0) {
            for (; !items.eof(); items.moveNext()) {
                // A row written by hand may hold no value; it is a failed
                // start of its own and the list goes on.
                const corvale::Field target = items.field("targetPath");
                const corvale::Field startIn = items.field("startInPath");
                const std::string startInPath = startIn.isNull() ? std::string() : startIn.text();
                if (target.isNull()) {
                    if (m_report) {
                        m_report(std::string("Item: ") + kNoTarget + "\n  cannot start: no target");
                    } else {
                        m_failedPrograms.push_back(kNoTarget);
                        m_failureReasons.push_back(std::string(kNoTarget) + ": no target");
                    }
                    continue;
                }
                const std::string targetPath = target.text();
                // The item's files are looked at only where they answer: a
                // mount whose server has gone holds up no list.
                if (!corvale::platform::filesAnswerWithin(m_programFolder, startInPath, targetPath)) {
                    const std::string reason = corvale::platform::noAnswerReason();
                    if (m_report) {
                        m_report("Item: " + corvale::printablePath(targetPath) + "\n  start in: " +
                                 corvale::printablePath(startInPath) + "\n  cannot start: " + reason);
                    } else {
                        m_failedPrograms.push_back(corvale::printablePath(targetPath));
                        m_failureReasons.push_back(corvale::printablePath(targetPath) + ": " + reason);
                    }
                    continue;
                }
                // Started as an item, the engine would run this list again, and
                // so on for ever.
                if (corvale::isTheEngineItself(targetPath, m_programFolder)) {
                    const std::string note =
                        corvale::printablePath(targetPath) + ": passed over: " + corvale::kEngineItself;
                    if (m_report) {
                        m_report("Item: " + corvale::printablePath(targetPath) +
                                 "\n  start in: " + corvale::printablePath(startInPath) +
                                 "\n  passed over: " + corvale::kEngineItself);
                    } else {
                        const std::string line = std::string(kCaption) + ": " + note + "\n";
                        std::fwrite(line.data(), 1, line.size(), stderr);
                    }
                    continue;
                }
                const std::optional<pid_t> running = alreadyRunning(targetPath);
                if (m_report) {
                    const std::string how = corvale::describeLaunch(startInPath, targetPath, m_programFolder);
                    const std::string passedOver = running && how.rfind("starts as a program", 0) == 0
                                                       ? "\n  already running (process " +
                                                             std::to_string(*running) +
                                                             "): a watcher's run passes it over"
                                                       : "";
                    m_report("Item: " + corvale::printablePath(targetPath) + "\n  start in: " +
                             corvale::printablePath(startInPath) + "\n  " + how + passedOver);
                    continue;
                }
                // A watcher runs lists again and again: a program still
                // running from an earlier list is not started twice.
                if (m_passOverRunning && running) {
                    ++m_passedOver;
                    continue;
                }
                const corvale::LaunchResult result = corvale::execIt(
                    startInPath, targetPath, 1, corvale::platform::ChildHandling::StarterEndsSoon,
                    m_programFolder, corvale::FilesAnswered::Already);
                if (!corvale::launchSucceeded(result)) {
                    m_failedPrograms.push_back(corvale::printablePath(targetPath));
                    m_failureReasons.push_back(corvale::printablePath(targetPath) + ": " +
                                               corvale::launchFailureReason(result));
                    continue;
                }
                ++m_started;
                if (result.startInMissing) {
                    const std::string note = std::string(kCaption) + ": " +
                                             corvale::printablePath(targetPath) + ": " +
                                             corvale::missingStartInNote(startInPath, m_programFolder) + "\n";
                    std::fwrite(note.data(), 1, note.size(), stderr);
                }
            }
        }
        if (m_report) {
            if (items.recordCount() == 0) {
                reportNothingStarts();
            }
            return;
        }
        // Written before any message, which may wait for a person a long time.
        writeSummary(static_cast<std::size_t>(items.recordCount()));
        if (!m_failedPrograms.empty()) {
            showFailedPrograms();
        }
    } catch (const std::exception& failure) {
        trap(failure);
    }
}

namespace {

// Where the run found itself and which list it took, in words: "on ADDRESS
// (gateway GATEWAY): the list of KEY".
std::string networkAndList(const corvale::ListChoice& choice, const std::string& gateway) {
    if (choice.disconnected) {
        return "with no usable address: the disconnected list";
    }
    const std::string where =
        "on " + choice.address + (gateway.empty() ? " (no default gateway)" : " (gateway " + gateway + ")");
    return where +
           (choice.onFile ? ": the list of " + corvale::printablePath(choice.key) : ": no entry matches");
}

} // namespace

void Engine::writeSummary(std::size_t items) {
    if (!m_choice) {
        return;
    }
    std::string line = std::string("brisken: ") + networkAndList(*m_choice, m_discovery.lastGateway());
    if (items == 0) {
        line +=
            m_choice->onFile || m_choice->disconnected ? " is empty: nothing started" : ": nothing started";
    } else {
        line += ": " + std::to_string(m_started) + " started";
        if (m_passedOver > 0) {
            line += ", " + std::to_string(m_passedOver) + " passed over (already running)";
        }
        if (!m_failureReasons.empty()) {
            line += ", " + std::to_string(m_failureReasons.size()) + " failed: ";
            for (std::size_t i = 0; i < m_failureReasons.size(); ++i) {
                line += (i == 0 ? "" : "; ") + m_failureReasons[i];
            }
        }
    }
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void Engine::reportNothingStarts() {
    if (!m_choice) {
        return;
    }
    const corvale::ListChoice& choice = *m_choice;
    if (choice.disconnected) {
        m_report("Nothing will start: the disconnected list is empty");
    } else if (choice.onFile) {
        m_report("Nothing will start: the list of " + corvale::printablePath(choice.key) + " is empty");
    } else {
        m_report("Nothing will start: no entry matches " + choice.address);
    }
    corvale::Recordset entries = m_connection.dbase->openRecordset(statements::allAddresses());
    if (entries.recordCount() == 0) {
        m_report("Entries on file: none");
        return;
    }
    m_report("Entries on file:");
    for (; !entries.eof(); entries.moveNext()) {
        const corvale::Field entry = entries.field("IPaddress");
        m_report("  " + (entry.isNull() ? std::string("(empty)") : corvale::printablePath(entry.text())));
    }
}

std::optional<pid_t> Engine::alreadyRunning(const std::string& path) {
    if (!m_passOverRunning && !m_report) {
        return std::nullopt;
    }
    const std::string file = corvale::getShortPath(path);
    if (file.empty() || ::access(file.c_str(), X_OK) != 0) {
        return std::nullopt; // only executable files are programs that run
    }
    const std::optional<corvale::platform::FileId> program = corvale::platform::fileIdOf(file);
    struct stat info {};
    if (!program || ::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    if (!m_running) {
        m_running = corvale::platform::programsRunningForThisUser();
    }
    const auto found = m_running->find(*program);
    return found == m_running->end() ? std::nullopt : std::optional<pid_t>(found->second);
}

void Engine::showFailedPrograms() {
    std::string shown = kFailedHeader;
    for (std::size_t i = 0; i < m_failedPrograms.size() && i < kFailuresShown; ++i) {
        shown += "\n- " + m_failedPrograms[i];
    }
    if (m_failedPrograms.size() > kFailuresShown) {
        shown += "\n- and " + std::to_string(m_failedPrograms.size() - kFailuresShown) + " more";
    }
    if (m_beforeLastMessage) {
        m_beforeLastMessage();
    }
    show(shown);
}

void Engine::show(const std::string& text) {
    m_dialogs.showMessage({text, kCaption, corvale::MessageButtons::Ok, corvale::MessageIcon::None,
                           corvale::MessageAnswer::Ok});
}

void Engine::trap(const std::exception& failure) {
    m_trapped = true;
    // Nothing more is started after a trapped failure.
    if (m_beforeLastMessage) {
        m_beforeLastMessage();
    }
    show(corvale::he(failure));
}

} // namespace brisken
