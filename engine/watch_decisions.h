#pragma once

#include "engine/engine.h"

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The watcher's decisions, apart from the system that brings their facts:
// when a new network's list is due, and what of the processes earlier runs
// started a new run passes over or asks to end.
namespace brisken {

using WatchClock = std::chrono::steady_clock;

// The list a look at the network would run, as the watcher compares looks:
// "the disconnected list" or "the list of KEY" (corvale::choiceKey), or the
// network alone where the database could not be read.
struct ChoiceKey {
    std::string text;
    bool operator==(const ChoiceKey&) const = default;
};

// A list runs once a choice other than the list run last has held for the
// settle time: a network passed through, a Wi-Fi reconnect or a DHCP
// renewal starts nothing.
class Settling {
public:
    Settling(std::chrono::milliseconds settle, ChoiceKey ran) : m_settle(settle), m_ran(std::move(ran)) {}

    // What a look found at now; true when its list is to run now (the run
    // is then taken as made).
    bool looked(const ChoiceKey& choice, WatchClock::time_point now);
    // When the choice that waits settles; nothing when none waits.
    std::optional<WatchClock::time_point> settlesAt() const;
    const ChoiceKey& lastRun() const { return m_ran; }

private:
    std::chrono::milliseconds m_settle;
    ChoiceKey m_ran;
    std::optional<ChoiceKey> m_pending;
    WatchClock::time_point m_pendingSince;
};

// What the watcher's earlier runs started and a new run weighs. runs tells
// whether such a process still runs (stillRuns, unless a test says).
class EarlierProcesses {
public:
    explicit EarlierProcesses(std::vector<StartedProcess> started,
                              std::function<bool(const StartedProcess&)> runs = stillRuns)
        : m_started(std::move(started)), m_runs(std::move(runs)) {}

    // The process started for the item with this target and file (another
    // spelling of it included) that still runs, whatever it runs by now.
    std::optional<StartedProcess> startedFor(const std::string& target,
                                             const std::optional<corvale::platform::FileId>& file) const;
    // The items marked to stop on leaving, as the database holds them now.
    using Marks = std::set<std::pair<corvale::statements::ListTable, std::int64_t>>;
    // Those to ask to end on leaving: the item of the list that ran last and
    // held it is marked now, it still runs, it was never asked before, and
    // none of the new list's items holds it.
    std::vector<StartedProcess> toEndOnLeaving(const std::vector<ItemPlan>& plans, const Marks& marked) const;

private:
    std::vector<StartedProcess> m_started;
    std::function<bool(const StartedProcess&)> m_runs;
};

// A run's later record of a process the watcher knows (a later list held
// it, or it was asked to end) takes the place of the earlier one; a
// process asked once stays asked.
void keepLatest(std::vector<StartedProcess>& started, StartedProcess record);

} // namespace brisken
