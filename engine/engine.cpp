#include "engine/engine.h"

#include "platform/failure.h"
#include "platform/folders.h"
#include "shared/database_search.h"
#include "shared/error_text.h"
#include "shared/file_safety.h"
#include "shared/launcher.h"
#include "shared/statements.h"

#include <cstdio>
#include <vector>

namespace brisken {

using corvale::Failure;
namespace statements = corvale::statements;

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return pieces;
        }
        start = end + 1;
    }
}

// The leading count numbers of a dotted address, joined by dots.
std::string leadingNumbers(const std::string& address, std::size_t count) {
    const std::vector<std::string> numbers = split(address, '.');
    if (numbers.size() < count) {
        throw Failure("The address " + address + " has fewer than " + std::to_string(count) +
                      " numbers, so its network cannot be looked up.");
    }
    std::string key = numbers[0];
    for (std::size_t i = 1; i < count; ++i) {
        key += "." + numbers[i];
    }
    return key;
}

} // namespace

Engine::Engine(corvale::Dialogs& dialogs, AddressDiscovery& discovery, std::string programFolder)
    : m_dialogs(dialogs), m_discovery(discovery), m_programFolder(std::move(programFolder)) {}

int Engine::Main() {
    try {
        m_connection.openWorkspace();
        enterProgramFolder();
        const auto found = corvale::checkDbase(m_dialogs, {kCaption, false});
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

ListChoice chooseList(corvale::Database& database, const std::string& discovered) {
    ListChoice choice;
    if (discovered.find("IP Address") == std::string::npos) {
        return choice;
    }
    const std::vector<std::string> pieces = split(discovered, ':');
    if (pieces.size() < 2) {
        throw Failure("The address discovery gave '" + discovered + "', which holds no address.");
    }
    const std::string& address = pieces[1];
    if (address == "0.0.0.0") {
        return choice;
    }
    choice.disconnected = false;
    choice.address = address;
    auto onFile = [&](const std::string& key) {
        return database.openRecordset(statements::addressCheck(key)).recordCount() > 0;
    };
    // The most specific key that is on file: the whole address, then its
    // first three and two numbers; the first number is run unchecked, so an
    // address that matches nothing starts nothing.
    if (onFile(address)) {
        choice.key = address;
        choice.how = "the whole address";
    } else if (const std::string three = leadingNumbers(address, 3); onFile(three)) {
        choice.key = three;
        choice.how = "its leading three numbers";
    } else if (const std::string two = leadingNumbers(address, 2); onFile(two)) {
        choice.key = two;
        choice.how = "its leading two numbers";
    } else {
        choice.key = leadingNumbers(address, 1);
        choice.onFile = onFile(choice.key);
        choice.how = choice.onFile ? "its first number" : "its first number, which is not on file either";
        return choice;
    }
    choice.onFile = true;
    return choice;
}

void Engine::startPrograms() {
    try {
        // The network as it is once the database is open: the search for it
        // may have kept a person busy for a while.
        if (m_waitForNetwork) {
            m_waitForNetwork();
        }
        const std::string result = m_discovery.discoverIP();
        const ListChoice choice = chooseList(*m_connection.dbase, result);
        if (m_report) {
            m_report("Network: " + m_discovery.lastFinding());
            m_report(choice.disconnected
                         ? "List: the disconnected list"
                         : "List: " + choice.key + " (" + choice.how + " of " + choice.address + ")");
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
                    }
                    continue;
                }
                const std::string targetPath = target.text();
                if (m_report) {
                    m_report("Item: " + corvale::printablePath(targetPath) +
                             "\n  start in: " + corvale::printablePath(startInPath) + "\n  " +
                             corvale::describeLaunch(startInPath, targetPath, m_programFolder));
                    continue;
                }
                const corvale::LaunchResult result =
                    corvale::execIt(startInPath, targetPath, 1,
                                    corvale::platform::ChildHandling::StarterEndsSoon, m_programFolder);
                if (!corvale::launchSucceeded(result)) {
                    m_failedPrograms.push_back(corvale::printablePath(targetPath));
                } else if (!result.missingStartIn.empty()) {
                    const std::string note = std::string(kCaption) + ": " +
                                             corvale::printablePath(targetPath) + ": " +
                                             corvale::missingStartInNote(startInPath, m_programFolder) + "\n";
                    std::fwrite(note.data(), 1, note.size(), stderr);
                }
            }
        }
        if (!m_failedPrograms.empty()) {
            showFailedPrograms();
        }
    } catch (const std::exception& failure) {
        trap(failure);
    }
}

void Engine::showFailedPrograms() {
    std::string whole = kFailedHeader;
    std::string shown = kFailedHeader;
    for (std::size_t i = 0; i < m_failedPrograms.size(); ++i) {
        whole += "\n- " + m_failedPrograms[i];
        if (i < kFailuresShown) {
            shown += "\n- " + m_failedPrograms[i];
        }
    }
    if (m_failedPrograms.size() > kFailuresShown) {
        shown += "\n- and " + std::to_string(m_failedPrograms.size() - kFailuresShown) + " more";
        const std::string log = std::string(kCaption) + ": " + whole + "\n";
        std::fwrite(log.data(), 1, log.size(), stderr);
    }
    show(shown);
}

void Engine::show(const std::string& text) {
    m_dialogs.showMessage({text, kCaption, corvale::MessageButtons::Ok, corvale::MessageIcon::None,
                           corvale::MessageAnswer::Ok});
}

void Engine::trap(const std::exception& failure) {
    m_trapped = true;
    show(corvale::he(failure));
}

} // namespace brisken
