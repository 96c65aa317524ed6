#include "engine/watch_decisions.h"

#include <gtest/gtest.h>

using namespace brisken;
using namespace std::chrono_literals;

namespace {

// A laptop's moves as the watcher's looks see them, at given times: only a
// choice that differs from the list run last and holds for the settle time
// brings a run.
TEST(WatchDecisions, AListRunsOnceANewChoiceHasHeldForTheSettleTime) {
    using List = ChoiceKey::List;
    const ChoiceKey home{List::Entry, "10.1"}, cafe{List::Entry, "*"}, office{List::Entry, "10.3"};
    const WatchClock::time_point t0;
    Settling settling(10s, home);
    EXPECT_FALSE(settling.looked(home, t0)) << "the logon run's list is not run again";
    EXPECT_FALSE(settling.settlesAt());
    // Passing through a café, back home within the settle time: nothing runs.
    EXPECT_FALSE(settling.looked(cafe, t0 + 1s));
    EXPECT_EQ(settling.settlesAt(), t0 + 11s);
    EXPECT_FALSE(settling.looked(home, t0 + 5s));
    EXPECT_FALSE(settling.settlesAt());
    // The office: its settle time starts anew with each other choice.
    EXPECT_FALSE(settling.looked(cafe, t0 + 20s));
    EXPECT_FALSE(settling.looked(office, t0 + 25s));
    EXPECT_FALSE(settling.looked(office, t0 + 34s));
    EXPECT_TRUE(settling.looked(office, t0 + 35s));
    EXPECT_EQ(settling.lastRun(), office);
    EXPECT_FALSE(settling.looked(office, t0 + 60s)) << "a list that ran does not run again while it holds";
}

// What a run leaves: the list that ran last, but nothing after an arrival
// while paused (that list never ran), and not the list a run by hand runs.
TEST(WatchDecisions, ARunLeavesTheListThatRanLastUnlessNothingRanThere) {
    using List = ChoiceKey::List;
    const ChoiceKey home{List::Entry, "10.1"}, offline{List::Disconnected, ""}, unread{};
    Pausing pausing;
    EXPECT_EQ(pausing.leaves(home), home);
    EXPECT_EQ(pausing.leaves(unread), std::nullopt);
    EXPECT_EQ(pausing.leavesByHand(home, std::string("10.1")), std::nullopt);
    EXPECT_EQ(pausing.leavesByHand(home, std::string("10.2")), home);
    EXPECT_EQ(pausing.leavesByHand(offline, std::nullopt), std::nullopt);
    EXPECT_EQ(pausing.leavesByHand(offline, std::string("10.1")), offline);
    pausing.pause(true);
    pausing.arrived(false);
    EXPECT_EQ(pausing.leaves(home), std::nullopt) << "arrived while paused: nothing ran there";
    EXPECT_EQ(pausing.leavesByHand(home, std::string("10.2")), std::nullopt);
    pausing.arrived(true); // run again by hand
    EXPECT_EQ(pausing.leaves(home), home);
}

// The network a look found: a DHCP renewal or a privacy address is the same
// network; another gateway, prefix, Wi-Fi or interface is another, which
// runs the same list again once it has settled.
TEST(WatchDecisions, AnotherNetworkIsAnArrivalEvenUnderTheSameList) {
    corvale::ListChoice any;
    any.match = corvale::ListChoice::Match::AnyOther;
    corvale::platform::Adapter cafe{"192.168.1.20", "192.168.1.1", "wlan0"};
    cafe.prefixLength = 24;
    cafe.address6 = "2001:db8:1::20";
    cafe.prefixLength6 = 64;
    auto keyOf = [&](const corvale::platform::Adapter& adapter, const std::string& wifi = "Cafe") {
        return NetworkKey::of(adapter, any, wifi);
    };
    const NetworkKey first = keyOf(cafe);
    EXPECT_EQ(first.prefix, "192.168.1.0/24");
    auto renewed = cafe;
    renewed.address = "192.168.1.77";
    renewed.address6 = "2001:db8:1::77";
    EXPECT_EQ(keyOf(renewed), first);
    auto otherGateway = cafe;
    otherGateway.gateway = "192.168.1.254";
    auto otherPrefix = cafe;
    otherPrefix.prefixLength = 25;
    otherPrefix.address = "192.168.1.200";
    auto wired = cafe;
    wired.name = "eth0";
    for (const NetworkKey& other :
         {keyOf(otherGateway), keyOf(otherPrefix), keyOf(wired), keyOf(cafe, "Bar")}) {
        EXPECT_FALSE(other == first) << other.interface << " " << other.gateway << " " << other.prefix;
    }
    // A hardware address one look knows and the other does not tells
    // nothing; two that differ tell two routers.
    any.gatewayHardwareAddress = corvale::platform::Identity{"02:00:00:00:00:01", {}};
    EXPECT_EQ(keyOf(cafe), first);
    const NetworkKey known = keyOf(cafe);
    any.gatewayHardwareAddress = corvale::platform::Identity{"02:00:00:00:00:02", {}};
    EXPECT_FALSE(keyOf(cafe) == known);
    // An IPv6-only network goes by its IPv6 prefix; no network has none.
    auto ipv6Only = cafe;
    ipv6Only.address = "0.0.0.0";
    EXPECT_EQ(keyOf(ipv6Only).prefix, "2001:db8:1::/64");
    EXPECT_EQ(NetworkKey::of(std::nullopt, corvale::ListChoice{}, "").interface, "");

    const WatchClock::time_point t0;
    const auto anyOther = [](NetworkKey network) { return ChoiceKey{ChoiceKey::List::Entry, "*", network}; };
    Settling settling(10s, anyOther(first));
    EXPECT_FALSE(settling.looked(anyOther(keyOf(renewed)), t0));
    EXPECT_FALSE(settling.settlesAt()) << "a renewal is no arrival";
    EXPECT_FALSE(settling.looked(anyOther(keyOf(otherGateway)), t0 + 1s));
    EXPECT_TRUE(settling.looked(anyOther(keyOf(otherGateway)), t0 + 11s)) << "the second café";
    // What the logon run tells its watcher comes back as it was.
    for (const ChoiceKey& told :
         {ChoiceKey::of(any), ChoiceKey{ChoiceKey::List::Disconnected}, ChoiceKey{}}) {
        EXPECT_EQ(ChoiceKey::fromTold(told.told()), told);
    }
}

// Notices that pour in bring one look per gap, after the last of them; a
// settled choice is looked at without a notice; a change of the network,
// not a neighbour's entry alone, makes the kernel resolve the gateway.
TEST(WatchDecisions, NoticesThatPourInBringOneLookPerGap) {
    const WatchClock::time_point t0;
    LookThrottle throttle(50ms, t0);
    EXPECT_FALSE(throttle.lookAt());
    EXPECT_FALSE(throttle.take(t0 + 1s, false).now) << "nothing to look at";
    throttle.noticed(false);
    EXPECT_EQ(throttle.lookAt(), t0 + 50ms);
    throttle.noticed(true);
    EXPECT_FALSE(throttle.take(t0 + 20ms, false).now) << "within the gap";
    const LookThrottle::Look look = throttle.take(t0 + 60ms, false);
    EXPECT_TRUE(look.now && look.resolve);
    throttle.noticed(false);
    EXPECT_FALSE(throttle.take(t0 + 100ms, true).now) << "the gap since the last look counts";
    EXPECT_TRUE(throttle.take(t0 + 110ms, false).now);
    EXPECT_FALSE(throttle.take(t0 + 110ms, false).now);
    EXPECT_TRUE(throttle.take(t0 + 110ms, true).now) << "a choice that settled";
}

// What earlier runs started: the one started for an item, by its file or
// its text, is passed over while it runs. On leaving, the item of the list
// that ran last decides by its mark as it stands now; a process is asked to
// end where the new list does not hold it, and once only.
TEST(WatchDecisions, EarlierProcessesArePassedOverOrAskedToEndByTheirItems) {
    using corvale::statements::ListTable;
    const corvale::platform::FileId keepFile{1, 100}, musicFile{1, 200};
    auto process = [](std::string target, pid_t pid, std::optional<corvale::platform::FileId> file,
                      std::int64_t listId) {
        return StartedProcess{std::move(target), pid, 5, true, file, ListTable::Connected, listId};
    };
    std::vector<StartedProcess> started = {
        process("/home/u/bin/keep.sh", 11, keepFile, 1), // held as another spelling
        process("/usr/bin/music", 12, musicFile, 2),     // not held: ends
        process("/usr/bin/notes", 13, std::nullopt, 3),  // its box unticked since: stays
        process("/usr/bin/radio", 14, std::nullopt, 4),  // ended meanwhile
        process("/usr/bin/mail", 15, std::nullopt, 5),   // asked once already
        process("/usr/bin/chat", 16, std::nullopt, 6),   // held unmarked by the list that ran last
    };
    keepLatest(started, {"/usr/bin/mail", 15, 5, true, std::nullopt, ListTable::Connected, 5, true});
    keepLatest(started, {"/usr/bin/mail", 15, 5, true, std::nullopt, ListTable::Connected, 5, false});
    keepLatest(started, {"/usr/bin/chat", 16, 5, false, std::nullopt, ListTable::Disconnected, 6});
    ASSERT_EQ(started.size(), 6u) << "a later record takes the place of the earlier one";
    const EarlierProcesses earlier(started, [](const StartedProcess& known) { return known.pid != 14; });
    EXPECT_EQ(earlier.startedFor("/home/u/bin/./keep.sh", keepFile)->pid, 11);
    EXPECT_EQ(earlier.startedFor("/usr/bin/notes", std::nullopt)->pid, 13)
        << "by its text, its file not known";
    EXPECT_FALSE(earlier.startedFor("/usr/bin/radio", std::nullopt)) << "it ended";
    EXPECT_FALSE(earlier.startedFor("/usr/bin/music", corvale::platform::FileId{1, 999})) << "another file";

    ItemPlan keep;
    keep.target = "/home/u/bin/./keep.sh";
    keep.file = keepFile;
    ItemPlan empty; // a row without a target holds nothing
    empty.why = ItemPlan::Why::NoTarget;
    const EarlierProcesses::Marks marked = {{ListTable::Connected, 1},
                                            {ListTable::Connected, 2},
                                            {ListTable::Connected, 4},
                                            {ListTable::Connected, 5},
                                            {ListTable::Connected, 6}};
    const std::vector<StartedProcess> ending = earlier.toEndOnLeaving({keep, empty}, marked);
    ASSERT_EQ(ending.size(), 1u);
    EXPECT_EQ(ending[0].pid, 12);
}

// The record a run hands its watcher survives the pipe whole, split
// anywhere; a record that does not parse is passed over.
TEST(WatchDecisions, StartedRecordsAreReadWholeAndBadOnesPassedOver) {
    const StartedProcess first{"/opt/a b\nc",
                               42,
                               7,
                               true,
                               corvale::platform::FileId{3, 4},
                               corvale::statements::ListTable::Disconnected,
                               9,
                               true};
    const StartedProcess second{"/opt/d", 43, 8, false, std::nullopt};
    const std::string bytes = first.record() + std::string("bad\0x\0y\0z\0\0\0c\0\0\0", 16) + second.record();
    StartedRecords records;
    std::vector<StartedProcess> read;
    for (std::size_t at = 0; at < bytes.size(); at += 5) {
        records.append(bytes.data() + at, std::min<std::size_t>(5, bytes.size() - at));
        for (StartedProcess& process : records.take()) {
            read.push_back(process);
        }
    }
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].target, first.target);
    EXPECT_EQ(read[0].file, first.file);
    EXPECT_TRUE(read[0].stopOnLeave && read[0].asked);
    EXPECT_EQ(read[0].table, corvale::statements::ListTable::Disconnected);
    EXPECT_EQ(read[0].listId, 9);
    EXPECT_EQ(read[1].pid, 43);
    EXPECT_FALSE(read[1].file);
}

} // namespace
