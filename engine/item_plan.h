#pragma once

#include "engine/started_records.h"
#include "platform/process_table.h"
#include "shared/file_safety.h"
#include "shared/launcher.h"
#include "shared/recordset.h"
#include "shared/statements.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace brisken {

// What a run means to do with one item of its list, decided before any item
// starts.
struct ItemPlan {
    // Why it does not start as planned: None starts it; the others fail it,
    // or pass it over where they say so.
    enum class Why {
        None,
        NoTarget,       // the row holds no target (fails)
        NoAnswer,       // its files did not answer in time (fails)
        EngineItself,   // it would start this list again (passed over)
        AlreadyRunning, // a process of this user runs the program (passed over in a watcher's run)
        OtherWriter,    // another user could change its file, or a folder above it (fails)
    };
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

// How a run plans its items: where it starts from, what it looks at.
struct PlanRules {
    std::string programFolder;
    // A watcher's run: an item whose program still runs is passed over, and
    // the items' files are looked at to know them again.
    bool passOverRunning = false;
    // Whether to look for a process that runs the program already (a
    // watcher's run, and the dry run to show it).
    bool lookForRunning = false;
    // The dry run: how each item would start.
    bool describeLaunch = false;
    // What the watcher's earlier runs started and still runs.
    std::vector<StartedProcess> startedBefore;
};

// Plans each item of a list before any starts: what cannot start, what is
// passed over, what would start and how.
class ItemPlanner {
public:
    explicit ItemPlanner(PlanRules rules) : m_rules(std::move(rules)) {}

    // Every item the rows give (targetPath, startInPath, ListID), in order;
    // those whose ListID is in marked stop on leaving.
    std::vector<ItemPlan> planList(corvale::Recordset& items, corvale::statements::ListTable table,
                                   const std::unordered_set<std::int64_t>& marked);
    ItemPlan planItem(const corvale::Field& target, const corvale::Field& startIn);

private:
    // The process that already runs the program at path, if one of this
    // user's does: the program itself, or an interpreter given the script
    // at path.
    std::optional<pid_t> alreadyRunning(const std::string& path);

    PlanRules m_rules;
    std::optional<corvale::platform::RunningNow> m_running;
};

} // namespace brisken
