#pragma once

#include "engine/item_plan.h"
#include "engine/started_records.h"
#include "shared/network_choice.h"

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

// The network a look found, as the watcher tells one network from another:
// the interface the system routes through, its gateway, the network part of
// its address (its prefix), its Wi-Fi name, and the gateway's hardware
// address where that was looked up. A new address on the same network (a
// DHCP renewal, an IPv6 privacy address) is the same network; a hardware
// address that one look knows and the other does not tells nothing.
struct NetworkKey {
    std::string interface;
    std::string gateway;
    std::string prefix;
    std::string wifiName;
    std::string gatewayHardwareAddress;

    // The network of adapter (none: no network), as choice and wifiName
    // tell the rest.
    static NetworkKey of(const std::optional<corvale::platform::Adapter>& adapter,
                         const corvale::ListChoice& choice, const std::string& wifiName);
    bool operator==(const NetworkKey& other) const;
};

// What a look at the network would run: the disconnected list, the list of
// an entry (as stored; for an address that matches none, its first number,
// whose list is empty), or nothing known where the database could not be
// read; and the network it would run it on. Another network is an arrival
// even where it runs the same list.
struct ChoiceKey {
    enum class List { Disconnected, Entry, Unread };
    List list = List::Unread;
    std::string entry{};
    NetworkKey network{};

    static ChoiceKey of(const corvale::ListChoice& choice, NetworkKey network = {});
    // As the logon run tells it to the watcher, and back; the network is not
    // told (the watcher looks at it itself).
    std::string told() const;
    static ChoiceKey fromTold(const std::string& told);
    bool operator==(const ChoiceKey&) const = default;
};

// While notices pour in (a link that a hostile network makes flap), the
// network is looked at once per gap at most, after the last of them.
class LookThrottle {
public:
    LookThrottle(std::chrono::milliseconds gap, WatchClock::time_point lastLook)
        : m_gap(gap), m_last(lastLook) {}

    // A notice that may change the choice; networkChanged: of a link, an
    // address or a route (the kernel may then be made to resolve the
    // gateway again), not only of the gateway's neighbour entry.
    void noticed(bool networkChanged);
    // When the look that waits is due; nothing while none waits.
    std::optional<WatchClock::time_point> lookAt() const;
    // Whether to look now: a notice waits and the gap is over, or the choice
    // that waits has settled. The look is then taken as made; resolve says
    // whether a change of the network came since the last.
    struct Look {
        bool now = false;
        bool resolve = false;
    };
    Look take(WatchClock::time_point now, bool settled);

private:
    std::chrono::milliseconds m_gap;
    WatchClock::time_point m_last;
    bool m_due = false;
    bool m_resolveDue = false;
};

// A list runs once a choice other than the one run last (another list, or
// another network) has held for the settle time: a network passed through, a
// Wi-Fi reconnect or a DHCP renewal starts nothing.
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

// The watcher's pause, and which list a run leaves: the one that ran last,
// unless an arrival while paused ran nothing since (nothing of a list that
// never ran runs on leaving it).
class Pausing {
public:
    void pause(bool paused) { m_paused = paused; }
    bool paused() const { return m_paused; }
    // The list a run that starts now leaves, of ranLast (Settling's); a
    // list run by hand (byHand: its entry, or nothing for the disconnected
    // list) leaves it only where it is another.
    std::optional<ChoiceKey> leaves(const ChoiceKey& ranLast) const;
    std::optional<ChoiceKey> leavesByHand(const ChoiceKey& ranLast,
                                          const std::optional<std::string>& byHand) const;
    // A settled arrival ran its list (or, paused, nothing); a run by hand of
    // the place's list ran it too.
    void arrived(bool ran) { m_nothingRan = !ran; }

private:
    bool m_paused = false;
    bool m_nothingRan = false;
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
