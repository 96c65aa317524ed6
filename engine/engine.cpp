#include "engine/engine.h"

#include "engine/watch_decisions.h"
#include "platform/shell_open.h"

#include "platform/failure.h"
#include "platform/file_answer.h"
#include "platform/folders.h"
#include "shared/database_search.h"
#include "shared/error_text.h"
#include "shared/file_safety.h"
#include "shared/launcher.h"
#include "shared/statements.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brisken {

bool stillRuns(const StartedProcess& process) {
    const auto now = corvale::platform::processStartTime(process.pid);
    return now && *now == process.startTime;
}

bool startedFor(const StartedProcess& process, const std::string& target,
                const std::optional<corvale::platform::FileId>& file) {
    return process.file && file ? *process.file == *file : process.target == target;
}

namespace {
constexpr std::size_t kRecordFields = 9;

template <typename Number> std::optional<Number> numberIn(const std::string& field) {
    Number number{};
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), number);
    if (error != std::errc() || end != field.data() + field.size() || field.empty()) {
        return std::nullopt;
    }
    return number;
}

std::optional<StartedProcess> decoded(const std::vector<std::string>& fields) {
    StartedProcess process;
    process.target = fields[0];
    const auto pid = numberIn<pid_t>(fields[1]);
    const auto startTime = numberIn<unsigned long long>(fields[2]);
    if (!pid || *pid <= 0 || !startTime || (fields[3] != "0" && fields[3] != "1")) {
        return std::nullopt;
    }
    process.pid = *pid;
    process.startTime = *startTime;
    process.stopOnLeave = fields[3] == "1";
    const auto listId = numberIn<std::int64_t>(fields[7]);
    if ((fields[6] != "c" && fields[6] != "d") || !listId || (fields[8] != "0" && fields[8] != "1")) {
        return std::nullopt;
    }
    process.table = fields[6] == "d" ? corvale::statements::ListTable::Disconnected
                                     : corvale::statements::ListTable::Connected;
    process.listId = *listId;
    process.asked = fields[8] == "1";
    if (!fields[4].empty() || !fields[5].empty()) {
        const auto device = numberIn<dev_t>(fields[4]);
        const auto inode = numberIn<ino_t>(fields[5]);
        if (!device || !inode) {
            return std::nullopt;
        }
        process.file = corvale::platform::FileId{*device, *inode};
    }
    return process;
}
} // namespace

std::string StartedProcess::record() const {
    return target + '\0' + std::to_string(pid) + '\0' + std::to_string(startTime) + '\0' +
           (stopOnLeave ? "1" : "0") + '\0' + (file ? std::to_string(file->first) : "") + '\0' +
           (file ? std::to_string(file->second) : "") + '\0' +
           (table == corvale::statements::ListTable::Disconnected ? "d" : "c") + '\0' +
           std::to_string(listId) + '\0' + (asked ? "1" : "0") + '\0';
}

void StartedRecords::append(const char* bytes, std::size_t size) {
    m_unread.append(bytes, size);
}

std::vector<StartedProcess> StartedRecords::take() {
    std::vector<StartedProcess> taken;
    std::vector<std::string> fields;
    std::size_t used = 0;
    for (std::size_t at = 0, end; (end = m_unread.find('\0', at)) != std::string::npos; at = end + 1) {
        fields.push_back(m_unread.substr(at, end - at));
        if (fields.size() == kRecordFields) {
            if (std::optional<StartedProcess> process = decoded(fields)) {
                taken.push_back(std::move(*process));
            }
            fields.clear();
            used = end + 1;
        }
    }
    m_unread.erase(0, used);
    return taken;
}

using corvale::Failure;
namespace statements = corvale::statements;

Engine::Engine(corvale::Dialogs& dialogs, corvale::AddressDiscovery& discovery, std::string programFolder,
               RunSettings settings)
    : m_dialogs(dialogs), m_discovery(discovery), m_programFolder(std::move(programFolder)),
      m_settings(std::move(settings)) {}

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
        if (dryRun()) {
            m_settings.report("Database: " + m_connection.dbPath);
        }
    } catch (const std::exception& failure) {
        trap(failure);
        return kExitTrapped;
    }
    startPrograms();
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
        // A dry run shows the network's identities even where no entry asks
        // for them; it resolves the gateway only where a run would.
        m_stored.reset(); // read afresh for this run
        m_notes = stored().notes();
        if (m_settings.place) {
            m_choice = corvale::listOfPlace(*m_connection.dbase, *m_settings.place);
            if (!m_choice) {
                m_settings.report("Nothing will start: no entry is named or written " +
                                  corvale::printablePath(*m_settings.place));
                reportEntriesOnFile();
                return;
            }
        } else {
            m_choice = corvale::chooseList(*m_connection.dbase, result, m_discovery.identity(),
                                           dryRun() ? corvale::IdentityLookups::toShow(true)
                                                    : corvale::IdentityLookups::asARun());
        }
        const corvale::ListChoice choice = *m_choice;
        if (dryRun()) {
            for (const std::string& note : m_notes) {
                m_settings.report("Note: " + note);
            }
            reportChoice(choice);
        }
        if (m_settings.chosen) {
            m_settings.chosen(m_connection.dbPath, corvale::choiceKey(choice));
        }
        if (choice.disconnected()) {
            runList(statements::disconnectedList(), statements::ListTable::Disconnected);
        } else {
            runConnectedList(choice.key);
        }
    } catch (const std::exception& failure) {
        trap(failure);
    }
}

namespace {
// A named entry by its name, with its text beside it.
std::string listAndEntry(const corvale::ListChoice& choice) {
    const std::string key = corvale::printablePath(choice.key);
    return choice.name.empty()
               ? key
               : corvale::printablePath(corvale::shownName(choice.name, corvale::kLongestEntryName)) +
                     ", entry " + key;
}
} // namespace

void Engine::reportChoice(const corvale::ListChoice& choice) {
    const auto& say = m_settings.report;
    say("Network: " + m_discovery.lastFinding());
    if (choice.throughTunnel) {
        say("Tunnel: " + *choice.throughTunnel + " taken after all: an entry on file matches its address " +
            choice.address + ", and none the network's own");
    }
    if (const auto& found = choice.gatewayHardwareAddress) {
        // The kernel is made to find it only for an entry that asks.
        say("Gateway's hardware address: " +
            (!found->value.empty() ? found->value
             : corvale::gatewayEntryOnFile(*m_connection.dbase)
                 ? "not known: " + found->why
                 : std::string("not looked up: no gateway: entry is on file")));
    }
    if (choice.wifiName) {
        say("Wi-Fi: " + (choice.wifiName->value.empty()
                             ? choice.wifiName->why
                             : "\"" + corvale::printablePath(choice.wifiName->value) + "\""));
    }
    for (const std::string& entry : choice.malformed) {
        say("Entry " + corvale::printablePath(entry) + "; it matches nothing");
    }
    if (!choice.notConsidered.empty()) {
        std::string entries;
        for (const std::string& entry : choice.notConsidered) {
            entries += (entries.empty() ? "" : ", ") + corvale::printablePath(entry);
        }
        say("Not considered, their network's identity not being known: " + entries);
    }
    for (const std::string& entry : choice.unreached) {
        say("Entry " + corvale::printablePath(entry) + ", whose list runs in its place; its own never runs");
    }
    if (m_settings.place) {
        say("List: " + listAndEntry(choice) + " (the place given)");
    } else if (choice.disconnected()) {
        say("List: the disconnected list");
    } else if (choice.identity() || choice.anyOther()) {
        say("List: " + listAndEntry(choice) + " (" + corvale::howMatched(choice.match) + ")");
    } else if (!choice.onFile()) {
        std::string keys = choice.address;
        for (std::string key = choice.address; key.find('.') != std::string::npos;) {
            key.erase(key.rfind('.'));
            keys += (key.find('.') == std::string::npos ? " or " : ", ") + key;
        }
        say("List: none: no entry matches " + keys);
    } else if (choice.match == corvale::ListChoice::Match::Ipv4Prefix ||
               choice.match == corvale::ListChoice::Match::Ipv6Prefix) {
        say("List: " + listAndEntry(choice) + " (the prefix that holds " + choice.address + ")");
    } else {
        say("List: " + listAndEntry(choice) + " (" + corvale::howMatched(choice.match) + " of " +
            choice.address + ")");
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

void Engine::runList(const corvale::Query& query, corvale::statements::ListTable table) {
    try {
        corvale::Recordset items = m_connection.dbase->openRecordset(query);
        const std::vector<ItemPlan> plans = plan(items, table);
        if (dryRun()) {
            report(plans);
            if (plans.empty()) {
                reportNothingStarts();
            }
            return;
        }
        const std::vector<std::string> stopped = stopWhatIsLeft(plans);
        // Each program learns where it was started.
        const corvale::platform::ChildEnvironment here = corvale::placeEnvironment(
            m_choice ? corvale::placeOf(*m_choice, m_discovery.lastInterface(), m_discovery.lastGateway())
                     : corvale::RunPlace{},
            m_settings.runKind);
        Outcome outcome = start(plans, here);
        outcome.stopped = stopped;
        // Written before any message, which may wait for a person a long time.
        writeSummary(plans.size(), outcome);
        if (!outcome.failedPrograms.empty()) {
            showFailedPrograms(outcome);
        }
    } catch (const std::exception& failure) {
        trap(failure);
    }
}

std::vector<ItemPlan> Engine::plan(corvale::Recordset& items, corvale::statements::ListTable table) {
    // The marks matter to a watcher and are shown by the dry run.
    const std::unordered_set<std::int64_t> marked =
        m_settings.passOverRunning || dryRun() ? stored().marked(table) : std::unordered_set<std::int64_t>();
    std::vector<ItemPlan> plans;
    for (; !items.eof(); items.moveNext()) {
        plans.push_back(planItem(items.field("targetPath"), items.field("startInPath")));
        ItemPlan& item = plans.back();
        item.table = table;
        item.listId = items.field("ListID").isNull() ? 0 : items.field("ListID").number();
        item.stopOnLeave = !marked.empty() && marked.count(item.listId) > 0;
    }
    return plans;
}

std::vector<std::string> Engine::stopWhatIsLeft(const std::vector<ItemPlan>& plans) {
    std::vector<std::string> stopped;
    if (m_settings.startedBefore.empty()) {
        return stopped;
    }
    // The marks as they stand now: a box unticked while the program ran
    // keeps it running.
    EarlierProcesses::Marks marked;
    for (const auto table : {statements::ListTable::Connected, statements::ListTable::Disconnected}) {
        for (const std::int64_t listId : stored().marked(table)) {
            marked.insert({table, listId});
        }
    }
    for (StartedProcess process : EarlierProcesses(m_settings.startedBefore).toEndOnLeaving(plans, marked)) {
        // A process group the watcher made for the item: a SIGTERM, and
        // nothing more (it may take its time, or stay), ever.
        if (::kill(-process.pid, SIGTERM) == 0) {
            stopped.push_back(corvale::printablePath(process.target));
        }
        process.asked = true;
        if (m_settings.started) {
            m_settings.started(process);
        }
    }
    return stopped;
}

ItemPlan Engine::planItem(const corvale::Field& target, const corvale::Field& startIn) {
    ItemPlan item;
    item.startIn = startIn.isNull() ? std::string() : startIn.text();
    // A row written by hand may hold no value; it is a failed start of its
    // own and the list goes on.
    if (target.isNull()) {
        item.action = ItemPlan::Action::Fail;
        item.why = ItemPlan::Why::NoTarget;
        return item;
    }
    item.target = target.text();
    // The item's files are looked at only where they answer: a mount whose
    // server has gone holds up no list.
    if (!corvale::platform::filesAnswerWithin(m_programFolder, item.startIn, item.target)) {
        item.action = ItemPlan::Action::Fail;
        item.why = ItemPlan::Why::NoAnswer;
        return item;
    }
    // Started as an item, the engine would run this list again, and so on
    // for ever.
    if (corvale::isTheEngineItself(item.target, m_programFolder)) {
        item.action = ItemPlan::Action::PassOver;
        item.why = ItemPlan::Why::EngineItself;
        return item;
    }
    // Whoever else can change the file decides what it runs: it is not
    // started as this user.
    if (auto other =
            corvale::otherWriterOf(corvale::itemTargetFile(item.target, item.startIn, m_programFolder))) {
        item.action = ItemPlan::Action::Fail;
        item.why = ItemPlan::Why::OtherWriter;
        item.otherWriter = std::move(other);
        return item;
    }
    if (m_settings.passOverRunning) {
        item.file = corvale::platform::fileIdOf(item.target);
    }
    item.running = alreadyRunning(item.target);
    // What this watcher started for the item still runs, whatever it runs
    // by now (a script that handed over to its program, say).
    item.earlier = EarlierProcesses(m_settings.startedBefore).startedFor(item.target, item.file);
    if (!item.running && item.earlier) {
        item.running = item.earlier->pid;
    }
    if (dryRun()) {
        item.launch = corvale::planLaunch(item.startIn, item.target, m_programFolder);
    } else if (m_settings.passOverRunning && item.running) {
        // A watcher runs lists again and again: what still runs from an
        // earlier list is not started twice.
        item.action = ItemPlan::Action::PassOver;
        item.why = ItemPlan::Why::AlreadyRunning;
    }
    return item;
}

void Engine::report(const std::vector<ItemPlan>& plans) {
    for (const ItemPlan& item : plans) {
        if (item.why == ItemPlan::Why::NoTarget) {
            m_settings.report(std::string("Item: ") + kNoTarget + "\n  cannot start: no target");
            continue;
        }
        std::string line = "Item: " + corvale::printablePath(item.target) +
                           "\n  start in: " + corvale::printablePath(item.startIn) + "\n  ";
        if (item.why == ItemPlan::Why::NoAnswer) {
            line += "cannot start: " + corvale::platform::noAnswerReason();
        } else if (item.why == ItemPlan::Why::EngineItself) {
            line += std::string("passed over: ") + corvale::kEngineItself;
        } else if (item.why == ItemPlan::Why::OtherWriter) {
            line += "cannot start: " + corvale::otherWriterReason(*item.otherWriter) + " (" +
                    corvale::printablePath(item.otherWriter->what) + ")";
        } else if (item.launch) {
            line += corvale::describeLaunch(*item.launch);
            if (item.stopOnLeave) {
                line += "\n  marked to stop on leaving: a watcher asks what it started to end when it leaves";
            }
            if (item.running && item.launch->how == corvale::LaunchPlan::How::Program) {
                line += "\n  already running: process " + std::to_string(*item.running) +
                        "; a watcher's run passes it over";
            }
        }
        m_settings.report(line);
    }
}

Engine::Outcome Engine::start(const std::vector<ItemPlan>& plans,
                              const corvale::platform::ChildEnvironment& environment) {
    Outcome outcome;
    for (const ItemPlan& item : plans) {
        const std::string shown = item.why == ItemPlan::Why::NoTarget ? std::string(kNoTarget)
                                                                      : corvale::printablePath(item.target);
        auto fail = [&](const std::string& why) {
            outcome.failedPrograms.push_back(shown);
            outcome.failureReasons.push_back(shown + ": " + why);
        };
        switch (item.why) {
        case ItemPlan::Why::NoTarget:
            fail("no target");
            continue;
        case ItemPlan::Why::NoAnswer:
            fail(corvale::platform::noAnswerReason());
            continue;
        case ItemPlan::Why::OtherWriter:
            fail(corvale::otherWriterReason(*item.otherWriter));
            continue;
        case ItemPlan::Why::EngineItself: {
            const std::string line =
                std::string(kCaption) + ": " + shown + ": passed over: " + corvale::kEngineItself + "\n";
            std::fwrite(line.data(), 1, line.size(), stderr);
            continue;
        }
        case ItemPlan::Why::AlreadyRunning:
            ++outcome.passedOver;
            // This list holds it now: its item governs what happens to the
            // process on leaving.
            if (item.earlier && m_settings.started) {
                StartedProcess held = *item.earlier;
                held.table = item.table;
                held.listId = item.listId;
                held.stopOnLeave = item.stopOnLeave;
                m_settings.started(held);
            }
            continue;
        case ItemPlan::Why::None:
            break;
        }
        const corvale::LaunchResult result =
            corvale::execIt(item.startIn, item.target, 1, corvale::platform::ChildHandling::StarterEndsSoon,
                            m_programFolder, corvale::FilesAnswered::Already, environment);
        if (!corvale::launchSucceeded(result)) {
            fail(corvale::launchFailureReason(result));
            continue;
        }
        ++outcome.started;
        const std::int64_t process =
            result.kind == corvale::LaunchResult::Kind::ProcessId ? result.number : result.launchedProcess;
        if (m_settings.started && process > 0) {
            const auto pid = static_cast<pid_t>(process);
            m_settings.started({item.target, pid, corvale::platform::processStartTime(pid).value_or(0),
                                item.stopOnLeave, item.file, item.table, item.listId});
        }
        if (result.startInMissing) {
            const std::string note = std::string(kCaption) + ": " + shown + ": " +
                                     corvale::missingStartInNote(item.startIn, m_programFolder) + "\n";
            std::fwrite(note.data(), 1, note.size(), stderr);
        }
    }
    return outcome;
}

namespace {

// Where the run found itself and which list it took, in words: "on ADDRESS
// (gateway GATEWAY): the list of KEY".
std::string networkAndList(const corvale::ListChoice& choice, const std::string& gateway) {
    if (choice.disconnected()) {
        return "with no usable address: the disconnected list";
    }
    const std::string where = "on " + choice.address +
                              (choice.throughTunnel ? " (the tunnel " + *choice.throughTunnel + ")"
                               : gateway.empty()    ? " (no default gateway)"
                                                    : " (gateway " + gateway + ")");
    return where + (choice.onFile() ? ": the list of " + corvale::printablePath(corvale::entryShown(choice))
                                    : ": no entry matches");
}

} // namespace

void Engine::writeSummary(std::size_t items, const Outcome& outcome) {
    if (!m_choice) {
        return;
    }
    std::string line = std::string("brisken: ") + networkAndList(*m_choice, m_discovery.lastGateway());
    const auto askedToEnd = [&] {
        if (!outcome.stopped.empty()) {
            line += ", asked to end on leaving: ";
            for (std::size_t i = 0; i < outcome.stopped.size(); ++i) {
                line += (i == 0 ? "" : ", ") + outcome.stopped[i];
            }
        }
    };
    if (items == 0) {
        line += m_choice->onFile() || m_choice->disconnected() ? " is empty: nothing started"
                                                               : ": nothing started";
        askedToEnd();
    } else {
        line += ": " + std::to_string(outcome.started) + " started";
        if (outcome.passedOver > 0) {
            line += ", " + std::to_string(outcome.passedOver) + " passed over (already running)";
        }
        askedToEnd();
        if (!outcome.failureReasons.empty()) {
            line += ", " + std::to_string(outcome.failureReasons.size()) + " failed: ";
            for (std::size_t i = 0; i < outcome.failureReasons.size(); ++i) {
                line += (i == 0 ? "" : "; ") + outcome.failureReasons[i];
            }
        }
    }
    for (const std::string& note : m_notes) {
        line += "; " + note;
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
    const auto& say = m_settings.report;
    if (choice.disconnected()) {
        say("Nothing will start: the disconnected list is empty");
    } else if (choice.onFile()) {
        say("Nothing will start: the list of " + listAndEntry(choice) + " is empty");
    } else {
        say("Nothing will start: no entry matches " + choice.address);
    }
    reportEntriesOnFile();
}

void Engine::reportEntriesOnFile() {
    const auto& say = m_settings.report;
    corvale::Recordset entries = m_connection.dbase->openRecordset(statements::allAddresses());
    if (entries.recordCount() == 0) {
        say("Entries on file: none");
        return;
    }
    const std::unordered_map<std::int64_t, std::string> names = stored().names();
    say("Entries on file:");
    for (; !entries.eof(); entries.moveNext()) {
        const corvale::Field entry = entries.field("IPaddress");
        std::string line =
            "  " + (entry.isNull() ? std::string("(empty)") : corvale::printablePath(entry.text()));
        const corvale::Field key = entries.field("IPID");
        if (const auto name = key.isNull() ? names.end() : names.find(key.number()); name != names.end()) {
            line += ", named " +
                    corvale::printablePath(corvale::shownName(name->second, corvale::kLongestEntryName));
        }
        say(line);
    }
}

std::optional<pid_t> Engine::alreadyRunning(const std::string& path) {
    if (!m_settings.passOverRunning && !dryRun()) {
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
        m_running = corvale::platform::runningForThisUser();
    }
    if (const auto found = m_running->programs.find(*program); found != m_running->programs.end()) {
        return found->second;
    }
    // A script runs as its interpreter: the one its first line names (env's
    // found as env finds it), given the script; another program that only
    // names the file (tail -f, an editor) does not run it. Matched by the
    // file, not by its name.
    if (!corvale::platform::isScript(file)) {
        return std::nullopt;
    }
    const std::optional<corvale::platform::FileId> interpreter = corvale::platform::interpreterOf(file);
    const auto [first, last] = m_running->scripts.equal_range(*program);
    for (auto found = first; found != last; ++found) {
        if (interpreter && found->second.second == *interpreter) {
            return found->second.first;
        }
    }
    return std::nullopt;
}

void Engine::showFailedPrograms(const Outcome& outcome) {
    // Each with its reason, as the notification and the summary give it.
    const std::vector<std::string>& failed = outcome.failureReasons;
    std::string shown = kFailedHeader;
    for (std::size_t i = 0; i < failed.size() && i < kFailuresShown; ++i) {
        shown += "\n- " + failed[i];
    }
    if (failed.size() > kFailuresShown) {
        shown += "\n- and " + std::to_string(failed.size() - kFailuresShown) + " more";
    }
    // A run reports through the desktop's notifications where a server
    // answers, which keep the report in their list: a later run closes
    // nothing unread. Without one, the box stays until it is answered.
    if (m_choice && notifyFailures(outcome)) {
        return;
    }
    if (m_settings.beforeLastMessage) {
        m_settings.beforeLastMessage();
    }
    show(shown);
}

bool Engine::notifyFailures(const Outcome& outcome) {
    const std::size_t tried = outcome.started + outcome.failureReasons.size();
    const std::string where = m_choice->disconnected()
                                  ? "with no network"
                                  : "at " + corvale::printablePath(corvale::entryShown(*m_choice));
    const std::string summary = std::to_string(outcome.failureReasons.size()) + " of " +
                                std::to_string(tried) + " did not start " + where;
    std::string body;
    for (const std::string& reason : outcome.failureReasons) {
        body += (body.empty() ? "" : "\n") + reason;
    }
    const corvale::platform::Notification shown = corvale::platform::notify(summary, body, "Open Corvale");
    if (shown.outcome == corvale::platform::Notified::NoServer) {
        return false;
    }
    if (shown.outcome == corvale::platform::Notified::ShownWithAction) {
        // From here the run only waits for a person, as with a message.
        if (m_settings.beforeLastMessage) {
            m_settings.beforeLastMessage();
        }
        if (corvale::platform::actionChosen(shown.id)) {
            corvale::execIt(m_programFolder, m_programFolder + "/corvale", 1,
                            corvale::platform::ChildHandling::StarterEndsSoon, m_programFolder);
        }
    }
    return true;
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
