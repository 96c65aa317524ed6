#include "engine/item_plan.h"

#include "platform/file_answer.h"

#include <sys/stat.h>
#include <unistd.h>

namespace brisken {

std::vector<ItemPlan> ItemPlanner::planList(corvale::Recordset& items, corvale::statements::ListTable table,
                                            const std::unordered_set<std::int64_t>& marked) {
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

ItemPlan ItemPlanner::planItem(const corvale::Field& target, const corvale::Field& startIn) {
    ItemPlan item;
    item.startIn = startIn.isNull() ? std::string() : startIn.text();
    // A row written by hand may hold no value; it is a failed start of its
    // own and the list goes on.
    if (target.isNull()) {
        item.why = ItemPlan::Why::NoTarget;
        return item;
    }
    item.target = target.text();
    // The item's files are looked at only where they answer: a mount whose
    // server has gone holds up no list.
    if (!corvale::platform::filesAnswerWithin(m_rules.programFolder, item.startIn, item.target)) {
        item.why = ItemPlan::Why::NoAnswer;
        return item;
    }
    // Started as an item, the engine would run this list again, and so on
    // for ever.
    if (corvale::isTheEngineItself(item.target, m_rules.programFolder)) {
        item.why = ItemPlan::Why::EngineItself;
        return item;
    }
    // Whoever else can change the file decides what it runs: it is not
    // started as this user.
    if (auto other = corvale::otherWriterOf(
            corvale::itemTargetFile(item.target, item.startIn, m_rules.programFolder))) {
        item.why = ItemPlan::Why::OtherWriter;
        item.otherWriter = std::move(other);
        return item;
    }
    if (m_rules.passOverRunning) {
        item.file = corvale::platform::fileIdOf(item.target);
    }
    item.running = alreadyRunning(item.target);
    // What this watcher started for the item still runs, whatever it runs
    // by now (a script that handed over to its program, say).
    item.earlier = stillRunningFor(m_rules.startedBefore, item.target, item.file);
    if (!item.running && item.earlier) {
        item.running = item.earlier->pid;
    }
    if (m_rules.describeLaunch) {
        item.launch = corvale::planLaunch(item.startIn, item.target, m_rules.programFolder);
    } else if (m_rules.passOverRunning && item.running) {
        // A watcher runs lists again and again: what still runs from an
        // earlier list is not started twice.
        item.why = ItemPlan::Why::AlreadyRunning;
    }
    return item;
}

std::optional<pid_t> ItemPlanner::alreadyRunning(const std::string& path) {
    if (!m_rules.lookForRunning) {
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

} // namespace brisken
