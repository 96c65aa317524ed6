#include "engine/watch_decisions.h"

#include <algorithm>

namespace brisken {

bool Settling::looked(const ChoiceKey& choice, WatchClock::time_point now) {
    if (choice == m_ran) {
        m_pending.reset();
        return false;
    }
    if (!m_pending || *m_pending != choice) {
        m_pending = choice;
        m_pendingSince = now;
        return false;
    }
    if (now < m_pendingSince + m_settle) {
        return false;
    }
    m_ran = choice;
    m_pending.reset();
    return true;
}

std::optional<WatchClock::time_point> Settling::settlesAt() const {
    return m_pending ? std::optional(m_pendingSince + m_settle) : std::nullopt;
}

std::optional<pid_t>
EarlierProcesses::runningFor(const std::string& target,
                             const std::optional<corvale::platform::FileId>& file) const {
    for (const StartedProcess& process : m_started) {
        if (startedFor(process, target, file) && m_runs(process)) {
            return process.pid;
        }
    }
    return std::nullopt;
}

std::vector<StartedProcess> EarlierProcesses::toEndOnLeaving(const std::vector<ItemPlan>& plans) const {
    std::vector<StartedProcess> leaving;
    for (const StartedProcess& process : m_started) {
        const bool heldHere = std::any_of(plans.begin(), plans.end(), [&](const ItemPlan& item) {
            return item.why != ItemPlan::Why::NoTarget && startedFor(process, item.target, item.file);
        });
        if (process.stopOnLeave && !heldHere && m_runs(process)) {
            leaving.push_back(process);
        }
    }
    return leaving;
}

} // namespace brisken
