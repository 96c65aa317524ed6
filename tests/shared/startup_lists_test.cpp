#include "shared/lists_transfer.h"
#include "shared/network_choice.h"
#include "shared/run_place.h"
#include "shared/startup_lists.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <iterator>

using namespace corvale;
using testsupport::DatabaseFile;
using testsupport::TempDir;

namespace {

std::vector<std::string> texts(const std::vector<ListRow>& rows) {
    std::vector<std::string> shown;
    for (const ListRow& row : rows) {
        shown.push_back(std::get<std::string>(row.text));
    }
    return shown;
}

} // namespace

TEST(StartupLists, AddressesAreOneEachAsTheEngineReadsThem) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    StartupLists lists(file.database());
    const AddedRow home = lists.addAddress("gateway:02:00:00:aa:00:01");
    ASSERT_EQ(home.outcome, RowChange::Done);
    EXPECT_EQ(lists.addAddress("10.1").outcome, RowChange::Done);
    EXPECT_EQ(lists.addAddress("10.1").outcome, RowChange::Duplicate);
    // The engine reads an identity entry whatever the case of its letters.
    EXPECT_EQ(lists.addAddress("Gateway:02:00:00:AA:00:01").outcome, RowChange::Duplicate);
    EXPECT_EQ(lists.renameAddress(home.id, "GATEWAY:02:00:00:AA:00:01").outcome, RowChange::Done)
        << "an entry is not a duplicate of itself";
    EXPECT_EQ(lists.renameAddress(home.id, "10.1").outcome, RowChange::Duplicate);
    lists.deleteAddresses({home.id});
    EXPECT_EQ(lists.renameAddress(home.id, "10.2").outcome, RowChange::Gone);
    EXPECT_EQ(texts(lists.addresses()), std::vector<std::string>{"10.1"});
}

// A name is a word for people: one as long as a page, or one that the
// address list could not tell from an entry, is refused; one written by
// hand past the length is cut where a run shows it.
TEST(StartupLists, NamesHaveALengthAndNeverReadAsEntries) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    StartupLists lists(file.database());
    const std::int64_t office = lists.addAddress("10.7.0").id;
    EXPECT_EQ(lists.nameAddress(office, std::string(kLongestEntryName + 1, 'x')), RowChange::TooLong);
    std::string accented;
    for (std::size_t i = 0; i < kLongestEntryName; ++i) {
        accented += "\xc3\xa9";
    }
    EXPECT_EQ(lists.nameAddress(office, accented), RowChange::Done) << "characters are counted, not bytes";
    for (const std::string name : {"10.7", "fd00:6::/64", "wifi:Home", "*", "192.168.1.0/24"}) {
        EXPECT_EQ(lists.nameAddress(office, name), RowChange::ReadsAsAnEntry) << name;
    }
    for (const std::string name : {"Office 2.0", "cafe", "Home"}) {
        EXPECT_EQ(lists.nameAddress(office, name), RowChange::Done) << name;
    }
    // Another entry's name in any case, or its text, would show two lines alike.
    const std::int64_t typo = lists.addAddress("Cafe").id;
    EXPECT_EQ(lists.nameAddress(typo, "HOME"), RowChange::Duplicate);
    EXPECT_EQ(lists.nameAddress(office, "cafe"), RowChange::Duplicate);
    lists.deleteAddresses({typo});
    // Rows left by hand for an entry and an item that are not there go when
    // the tool opens the file; the rest stay.
    file.database().execute({"insert into EntryNames values (?, 'Ghost')", {office + 100}});
    file.database().execute({"insert into ItemOptions values ('DisConnectedList', 7, 1)", {}});
    const std::int64_t ghost = file.addConnectedItem(office + 1, "/opt/ghost", "/opt", 1);
    file.database().execute({"insert into ItemOptions values ('ConnectedList', ?, 1)", {ghost}});
    lists.removeStaleRows();
    EXPECT_EQ(testsupport::sqliteOutput(file.path(), "select IPID from EntryNames; select count(*) from "
                                                     "ItemOptions; select count(*) from ConnectedList"),
              std::to_string(office) + "\n0\n0\n");
    EXPECT_TRUE(lists.connectedItems(lists.addAddress("10.8").id).empty()) << "the next entry starts empty";
    file.database().execute({"update EntryNames set Name = ?", {std::string(1 << 20, 'n')}});
    const ListChoice choice = chooseList(file.database(), {"10.7.0.9"}, nullptr, IdentityLookups::asARun());
    EXPECT_EQ(entryShown(choice), std::string(kLongestEntryName, 'n') + "...");
    EXPECT_EQ(placeOf(choice, "eth0", "").place.size(), std::size_t{1} << 20) << "the name as stored";
}

TEST(StartupLists, AnItemAddedToManyAddressesSkipsThoseHoldingItAndComesLast) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    const std::int64_t a = file.addAddress("10.1");
    const std::int64_t b = file.addAddress("10.2");
    const std::int64_t c = file.addAddress("10.3");
    file.addConnectedItem(b, "/usr/bin/music", "/home", 7);
    file.addDisconnectedItem("/usr/bin/notes", "/home", 40);
    StartupLists lists(file.database());

    const AddedToAddresses added = lists.addItem({a, b, c}, {"/usr/bin/music", "/tmp"});
    EXPECT_FALSE(added.addressGone);
    EXPECT_EQ(added.duplicates, 1u);
    ASSERT_EQ(added.added.size(), 2u);
    EXPECT_EQ(added.added[0].first, a);
    EXPECT_EQ(added.added[1].first, c);
    // Each new row after every row of its table, each with a number of its own.
    EXPECT_EQ(
        testsupport::sqliteOutput(file.path(), "select IPID, ListOrder from ConnectedList order by ListID"),
        std::to_string(b) + "|7\n" + std::to_string(a) + "|8\n" + std::to_string(c) + "|9\n");

    // One address gone meanwhile: nothing is written for any.
    lists.deleteAddresses({c});
    EXPECT_TRUE(lists.addItem({a, c}, {"/usr/bin/mail", "/tmp"}).addressGone);
    EXPECT_EQ(texts(lists.connectedItems(a)), std::vector<std::string>{"/usr/bin/music"});
    EXPECT_TRUE(lists.connectedItems(c).empty()) << "an address goes with its list";

    // The rule is per list: a's item may become what b holds only on another address.
    const std::int64_t onA = added.added[0].second;
    EXPECT_EQ(lists.updateItem(ListTable::Connected, onA, {"/usr/bin/music", "/srv"}).outcome,
              RowChange::Done);
    EXPECT_EQ(std::get<std::string>(lists.startInOf(ListTable::Connected, onA)), "/srv");
    lists.addItem({a}, {"/usr/bin/mail", "/tmp"});
    EXPECT_EQ(lists.updateItem(ListTable::Connected, onA, {"/usr/bin/mail", "/srv"}).outcome,
              RowChange::Duplicate);
    EXPECT_EQ(lists.addDisconnectedItem({"/usr/bin/notes", "/"}).outcome, RowChange::Duplicate);
    const AddedRow mail = lists.addDisconnectedItem({"/usr/bin/mail", "/"});
    EXPECT_EQ(
        testsupport::sqliteOutput(file.path(), "select ListOrder from DisConnectedList where ListID = " +
                                                   std::to_string(mail.id)),
        "41\n");
    lists.deleteItems(ListTable::Connected, {onA});
    EXPECT_EQ(lists.updateItem(ListTable::Connected, onA, {"/x", "/"}).outcome, RowChange::Gone);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(lists.startInOf(ListTable::Connected, onA)));
}

// Numbers made outside the tool (text, the largest SQLite holds) never stop
// an item from being added; each table numbers its own items.
TEST(StartupLists, NewItemsAreNumberedAfterEveryRowOfTheirOwnTable) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    file.addConnectedItem(file.addAddress("10.1"), "/opt/connected", "/opt", 90);
    file.database().execute({"insert into DisConnectedList (TargetPath,StartinPath,ListOrder) values "
                             "('/opt/text','/opt','late'),('/opt/top','/opt',9223372036854775807)",
                             {}});
    StartupLists lists(file.database());
    EXPECT_EQ(lists.addDisconnectedItem({"/opt/new", "/opt"}).outcome, RowChange::Done);
    EXPECT_EQ(testsupport::sqliteOutput(file.path(), "select TargetPath, ListOrder from DisConnectedList "
                                                     "order by ListOrder, ListID"),
              "/opt/top|9223372036854775807\n/opt/new|9223372036854775807\n/opt/text|late\n");
    file.database().execute({"delete from DisConnectedList", {}});
    lists.addDisconnectedItem({"/opt/first", "/opt"});
    EXPECT_EQ(testsupport::sqliteOutput(file.path(), "select ListOrder from DisConnectedList"), "1\n");
}

// Moving exchanges two rows and touches no other; deleting takes exactly the
// rows given, with their marks, and leaves every other mark where it was.
TEST(StartupLists, MovingAndDeletingTouchOnlyTheirRowsAndTheMarksGoWithThem) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    const std::int64_t home = file.addAddress("10.1");
    const std::int64_t a = file.addConnectedItem(home, "/opt/a", "/a", 2);
    const std::int64_t b = file.addConnectedItem(home, "/opt/b", "/b", 5);
    file.addConnectedItem(file.addAddress("20.2"), "/opt/other", "/o", 3);
    StartupLists lists(file.database());
    lists.exchangeItems(ListTable::Connected, b, a);
    EXPECT_EQ(testsupport::sqliteOutput(file.path(), "select TargetPath, ListOrder from ConnectedList"),
              "/opt/a|5\n/opt/b|2\n/opt/other|3\n");

    // Two rows of one number stand in the order they were added: they
    // exchange what they start, and the mark goes with the target.
    const std::int64_t first = file.addDisconnectedItem("/usr/bin/one", "/1", 5);
    const std::int64_t second = file.addDisconnectedItem("/usr/bin/two", "/2", 5);
    lists.updateItem(ListTable::Disconnected, first, {"/usr/bin/one", "/1", true});
    lists.exchangeItems(ListTable::Disconnected, second, first);
    EXPECT_EQ(texts(lists.disconnectedItems()), (std::vector<std::string>{"/usr/bin/two", "/usr/bin/one"}));
    EXPECT_EQ(std::get<std::string>(lists.startInOf(ListTable::Disconnected, first)), "/2");
    EXPECT_EQ(testsupport::sqliteOutput(file.path(), "select ListID from ItemOptions where StopOnLeave"),
              std::to_string(second) + "\n");

    // Two rows of one target (made by hand): the one given goes.
    const std::int64_t again = file.addDisconnectedItem("/usr/bin/two", "/again", 6);
    lists.deleteItems(ListTable::Disconnected, {first});
    EXPECT_EQ(testsupport::sqliteOutput(file.path(), "select ListID from DisConnectedList"),
              std::to_string(second) + "\n" + std::to_string(again) + "\n");

    // The same targets leave several addresses at once, by the keys of one
    // list's items, their marks with them; the marks of what stays stay.
    const std::int64_t c = file.addAddress("10.3");
    const AddedToAddresses music = lists.addItem({home, c}, {"/usr/bin/music", "/", true});
    const AddedToAddresses mail = lists.addItem({home, c}, {"/usr/bin/mail", "/", true});
    lists.deleteTargetsFromAddresses({{ListTable::Connected, music.added[0].second}}, {home, c});
    EXPECT_EQ(texts(lists.connectedItems(c)), std::vector<std::string>{"/usr/bin/mail"});
    EXPECT_EQ(texts(lists.connectedItems(home)),
              (std::vector<std::string>{"/opt/b", "/opt/a", "/usr/bin/mail"}));
    EXPECT_EQ(testsupport::sqliteOutput(file.path(), "select ListID from ItemOptions where StopOnLeave "
                                                     "order by ListID"),
              std::to_string(second) + "\n" + std::to_string(mail.added[0].second) + "\n" +
                  std::to_string(mail.added[1].second) + "\n");

    // An item that runs on leaving lives in its list's table of those, after
    // the arrival items as the list shows it; the same target may run at
    // each time once. Changed to the other time, it moves to that table's
    // end under a new key, leaving its mark behind (a leaving item has none).
    const AddedToAddresses away = lists.addItem({c}, {"/usr/bin/mail", "/", true, true});
    ASSERT_EQ(away.added.size(), 1u);
    EXPECT_EQ(lists.addItem({c}, {"/usr/bin/mail", "/", false, true}).duplicates, 1u);
    const std::vector<ListRow> shown = lists.connectedItems(c);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(!shown[0].onLeaving && shown[1].onLeaving && !shown[1].stopOnLeave);
    EXPECT_EQ(lists.updateItem(ListTable::Connected, mail.added[1].second, {"/usr/bin/mail", "/", true, true})
                  .outcome,
              RowChange::Duplicate);
    const AddedRow moved =
        lists.updateItem(ListTable::Connected, mail.added[1].second, {"/usr/bin/post", "/p", true, true});
    EXPECT_EQ(moved.outcome, RowChange::Done);
    EXPECT_EQ(testsupport::sqliteOutput(
                  file.path(), "select TargetPath, ListOrder from ConnectedLeavingList order by ListOrder; "
                               "select count(*) from ConnectedList where IPID = " +
                                   std::to_string(c) + "; select count(*) from ItemOptions where ListID = " +
                                   std::to_string(mail.added[1].second)),
              "/usr/bin/mail|1\n/usr/bin/post|2\n0\n0\n");
    EXPECT_EQ(std::get<std::string>(lists.startInOf(ListTable::ConnectedLeaving, moved.id)), "/p");
    const AddedRow offline = lists.addDisconnectedItem({"/usr/bin/two", "/", false, true});
    EXPECT_EQ(
        lists.updateItem(ListTable::DisconnectedLeaving, offline.id, {"/usr/bin/three", "/", false, false})
            .outcome,
        RowChange::Done);
    EXPECT_EQ(texts(lists.disconnectedItems()).back(), "/usr/bin/three");
    lists.deleteAddresses({c});
    EXPECT_EQ(testsupport::sqliteOutput(file.path(), "select count(*) from ConnectedLeavingList"), "0\n");
}

// An import adds to what is there: two spellings of one network in the
// file join one entry, and a name the entry has already stays, said.
TEST(StartupLists, AnImportJoinsOneNetworksSpellingsAndKeepsTheNamesOnFile) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    StartupLists lists(file.database());
    const std::int64_t office = lists.addAddress("wifi:Office").id;
    ASSERT_EQ(lists.nameAddress(office, "Work"), RowChange::Done);
    const std::int64_t home = lists.addAddress("10.1").id;
    ASSERT_EQ(lists.nameAddress(home, "Home"), RowChange::Done);
    ListsOnFile imported;
    imported.entries = {{"wifi:Office", "Office", {{"/usr/bin/mail", "/"}}},
                        {"gateway:02:00:00:00:00:01", "", {{"/usr/bin/a", "/"}}},
                        {"GATEWAY:02:00:00:00:00:01", "", {{"/usr/bin/b", "/"}}},
                        {"10.1.0.0/16", "", {{"/usr/bin/c", "/"}}}};
    const ImportOutcome outcome = importLists(file.database(), imported);
    std::vector<ImportStep> passedOver;
    std::copy_if(outcome.steps.begin(), outcome.steps.end(), std::back_inserter(passedOver),
                 [](const ImportStep& step) { return !step.added(); });
    ASSERT_EQ(passedOver.size(), 3u);
    EXPECT_EQ(passedOver[0].result, ImportStep::Result::NameKept);
    EXPECT_EQ(passedOver[0].nameOnFile, "Work");
    // Another spelling of a network on file is refused, naming that entry.
    EXPECT_EQ(passedOver[1].result, ImportStep::Result::SameNetwork);
    EXPECT_EQ(passedOver[1].entryOnFile, "gateway:02:00:00:00:00:01");
    EXPECT_EQ(passedOver[2].result, ImportStep::Result::SameNetwork);
    EXPECT_EQ(passedOver[2].entryOnFile, "10.1");
    EXPECT_EQ(passedOver[2].nameOnFile, "Home");
    const std::vector<ListRow> entries = lists.addresses();
    ASSERT_EQ(texts(entries), (std::vector<std::string>{"10.1", "gateway:02:00:00:00:00:01", "wifi:Office"}));
    EXPECT_EQ(texts(lists.connectedItems(entries[1].id)),
              (std::vector<std::string>{"/usr/bin/a", "/usr/bin/b"}));
    EXPECT_EQ(texts(lists.connectedItems(entries[0].id)), std::vector<std::string>{"/usr/bin/c"});
    EXPECT_EQ(outcome.addedItems.size(), 4u);

    // In the tool the same: refused, with the entry on file and its name.
    const AddedRow again = lists.addAddress("10.001.0.0/16");
    EXPECT_EQ(std::tuple(again.outcome, again.onFile, again.onFileName),
              std::tuple(RowChange::Duplicate, std::string("10.1"), std::string("Home")));
}
