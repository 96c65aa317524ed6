#include "engine/engine.h"
#include "platform/folders.h"
#include "shared/database_search.h"
#include "shared/launcher.h"
#include "shared/schema.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace brisken;
using testsupport::DatabaseFile;
using testsupport::FakeDialogs;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

class FixedDiscovery : public corvale::AddressDiscovery {
public:
    std::string result; // the address; empty: disconnected
    int calls = 0;
    corvale::DiscoveredAddress discoverIP() override {
        ++calls;
        return {result};
    }
};

// A program folder with a database beside the engine, list items that record
// their start, a fake network and a person who answers every box with OK.
class EngineRun : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("CORVALE_RECORD", (dir / "record").c_str(), 1);
        db = std::make_unique<DatabaseFile>(dir / "corvale.mdb");
        engine = std::make_unique<Engine>(dialogs, discovery, dir.path());
        engine->connection().openWorkspace();
        engine->connection().dbPath = db->path();
        engine->connection().openDatabase();
    }
    void TearDown() override { testsupport::reapChildren(); }

    // A list item: a program named name in the program folder.
    std::string item(const std::string& name) {
        const std::string path = dir / name;
        if (!fs::exists(path)) {
            fs::create_symlink(testsupport::recordRunPath(), path);
        }
        return path;
    }

    // The items that were started, in the order they were started.
    std::vector<std::string> started() {
        testsupport::reapChildren();
        auto records = testsupport::readRecords(dir / "record");
        std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
            return std::stoi(a.at("pid")) < std::stoi(b.at("pid"));
        });
        std::vector<std::string> names;
        for (const std::string& path : testsupport::startedPrograms(records)) {
            names.push_back(fs::path(path).filename().string());
        }
        return names;
    }

    void runFor(const std::string& discovered) {
        discovery.result = discovered;
        engine->startPrograms();
    }

    using Names = std::vector<std::string>;
    TempDir dir;
    FakeDialogs dialogs;
    FixedDiscovery discovery;
    std::unique_ptr<DatabaseFile> db;
    std::unique_ptr<Engine> engine;
};

// The item is told its place through the environment it is started with;
// the engine's own environment never changes, and a BRISKEN_ variable the
// engine inherited reaches no item.
TEST_F(EngineRun, WholeAddressWinsOverItsNetwork) {
    db->addConnectedItem(db->addAddress("192.168.1"), item("network"), dir.path(), 1);
    db->addConnectedItem(db->addAddress("192.168.1.20"), item("exact"), dir.path(), 2);
    setenv("BRISKEN_PLACE", "inherited", 1);
    setenv("BRISKEN_STALE", "inherited", 1);
    setenv("CORVALE_RECORD_ENV", (dir / "env").c_str(), 1);
    runFor("192.168.1.20");
    EXPECT_EQ(started(), Names{"exact"});
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_STREQ(getenv("BRISKEN_PLACE"), "inherited");
    EXPECT_EQ(getenv("BRISKEN_RUN"), nullptr);
    const std::string pid = testsupport::readRecords(dir / "record").at(0).at("pid");
    std::vector<std::string> told;
    for (const std::string& variable : testsupport::recordedEnvironment(dir / ("env." + pid))) {
        if (variable.rfind("BRISKEN_", 0) == 0) {
            told.push_back(variable);
        }
    }
    std::sort(told.begin(), told.end());
    EXPECT_EQ(told, (Names{"BRISKEN_ADDRESS=192.168.1.20", "BRISKEN_ENTRY=192.168.1.20", "BRISKEN_GATEWAY=",
                           "BRISKEN_INTERFACE=", "BRISKEN_PLACE=192.168.1.20", "BRISKEN_RUN=logon"}));
    for (const char* name : {"BRISKEN_PLACE", "BRISKEN_STALE", "CORVALE_RECORD_ENV"}) {
        unsetenv(name);
    }
}

TEST_F(EngineRun, EachShorterPrefixIsTriedInTurn) {
    db->addConnectedItem(db->addAddress("192.168"), item("two"), dir.path(), 1);
    db->addConnectedItem(db->addAddress("192"), item("one"), dir.path(), 2);
    db->addConnectedItem(db->addAddress("192.16"), item("partial"), dir.path(), 3);
    runFor("192.168.1.20");
    EXPECT_EQ(started(), Names{"two"});

    runFor("192.169.1.20");
    EXPECT_EQ(started(), (Names{"two", "one"}));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(EngineRun, AddressThatMatchesNothingStartsNothingNotEvenTheDisconnectedList) {
    db->addConnectedItem(db->addAddress("192.168"), item("home"), dir.path(), 1);
    db->addDisconnectedItem(item("offline"), dir.path(), 1);
    runFor("10.0.0.5");
    EXPECT_EQ(started(), Names{});
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(EngineRun, NoUsableAddressRunsTheDisconnectedList) {
    db->addConnectedItem(db->addAddress("0.0.0.0"), item("zero-row"), dir.path(), 1);
    db->addDisconnectedItem(item("offline"), dir.path(), 1);
    for (const char* result : {"", "0.0.0.0"}) {
        runFor(result);
    }
    EXPECT_EQ(started(), Names(2, "offline"));
    EXPECT_EQ(discovery.calls, 2);
}

TEST_F(EngineRun, ItemsStartInListOrderAndSeveralRowsOfOneKeyAreJoined) {
    const auto first = db->addAddress("10.1.2.3");
    const auto second = db->addAddress("10.1.2.3");
    db->addConnectedItem(first, item("c"), dir.path(), 30);
    db->addConnectedItem(second, item("a"), dir.path(), 10);
    db->addConnectedItem(first, item("b"), dir.path(), 20);
    runFor("10.1.2.3");
    EXPECT_EQ(started(), (Names{"a", "b", "c"}));
}

TEST_F(EngineRun, EmptyListStartsNothingAndSaysNothing) {
    db->addAddress("10.1.2.3");
    runFor("10.1.2.3");
    runFor("");
    EXPECT_EQ(started(), Names{});
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(EngineRun, FailedItemsAreNamedInOneMessageAfterTheLastStart) {
    db->addDisconnectedItem(item("first"), dir.path(), 1);
    db->addDisconnectedItem(dir / "missing-program", dir.path(), 2);
    db->addDisconnectedItem(item("third"), dir.path(), 3);
    db->addDisconnectedItem(dir / "no-folder/tool", dir.path(), 4);
    runFor("");

    EXPECT_EQ(started(), (Names{"first", "third"}));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "This program failed to start correctly: \n- " +
                                            (dir / "missing-program") + ": no such file\n- " +
                                            (dir / "no-folder/tool") + ": no such file");
    EXPECT_EQ(dialogs.messages[0].caption, "Brisken");
    EXPECT_EQ(dialogs.messages[0].buttons, corvale::MessageButtons::Ok);
    EXPECT_EQ(dialogs.messages[0].icon, corvale::MessageIcon::None);
}

// Whoever else can change an item's file, or a folder above it, decides what
// it runs: such an item is a failed start, named with the account. A sticky
// folder, as /tmp is, keeps each to his own: a file of ours in it starts.
TEST_F(EngineRun, ItemsAnotherUserCanChangeAreFailedStarts) {
    fs::create_directory(dir / "shared");
    fs::create_directory(dir / "sticky");
    fs::permissions(dir / "shared", fs::perms::all);
    fs::permissions(dir / "sticky", fs::perms::all | fs::perms::sticky_bit);
    fs::create_symlink(testsupport::recordRunPath(), dir / "shared/tool");
    fs::create_symlink(testsupport::recordRunPath(), dir / "sticky/tool");
    db->addDisconnectedItem(dir / "shared/tool", dir.path(), 1);
    db->addDisconnectedItem(dir / "sticky/tool", dir.path(), 2);
    std::string expected = "This program failed to start correctly: \n- " + (dir / "shared/tool") +
                           ": another user (any user) can change it";
    if (geteuid() == 0) {
        fs::copy_file(testsupport::recordRunPath(), dir / "theirs");
        ASSERT_EQ(chown((dir / "theirs").c_str(), 65534, 65534), 0);
        db->addDisconnectedItem(dir / "theirs", dir.path(), 3);
        expected += "\n- " + (dir / "theirs") + ": another user (nobody) can change it";
    }
    testing::internal::CaptureStderr();
    runFor("");
    const std::string summary = testing::internal::GetCapturedStderr();
    EXPECT_EQ(started(), Names{"tool"});
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, expected);
    EXPECT_NE(summary.find("failed: " + (dir / "shared/tool") + ": another user (any user) can change it"),
              std::string::npos)
        << summary;
}

TEST_F(EngineRun, AddressTooShortForItsNetworkIsReportedAndNothingRuns) {
    db->addDisconnectedItem(item("offline"), dir.path(), 1);
    runFor("10.1");
    EXPECT_EQ(started(), Names{});
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("10.1"), std::string::npos) << dialogs.messages[0].text;
    EXPECT_EQ(dialogs.messages[0].caption, "Brisken");
}

TEST_F(EngineRun, RowsWithoutValuesAreFailedStartsAndTheListGoesOn) {
    db->addDisconnectedItem(item("first"), dir.path(), 1);
    db->database().execute(
        {"Insert into DisConnectedList (StartinPath,ListOrder) values (?, 2)", {dir.path()}});
    db->database().execute(
        {"Insert into DisConnectedList (TargetPath,ListOrder) values (?, 3)", {item("folderless")}});
    // A value written by hand with a NUL byte in it: the system would start
    // the path cut short there.
    db->database().execute({"Insert into DisConnectedList (TargetPath,StartinPath,ListOrder) values "
                            "(cast(? || x'00' || 'x' as text), ?, 4)",
                            {item("cut"), dir.path()}});
    // A name that would forge a summary line of its own in the journal and
    // clear a terminal: its control characters are written escaped.
    db->addDisconnectedItem("/nonexistent/x\nbrisken: on 1.2.3.4: the list of 1.2: 1 started\x1b[2J",
                            dir.path(), 5);
    db->addDisconnectedItem(item("after"), dir.path(), 6);
    testing::internal::CaptureStderr();
    runFor("");
    const std::string summary = testing::internal::GetCapturedStderr();

    EXPECT_EQ(started(), (Names{"first", "folderless", "after"}));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    const std::string forged = "/nonexistent/x\\nbrisken: on 1.2.3.4: the list of 1.2: 1 started\\x1b[2J";
    EXPECT_EQ(dialogs.messages[0].text, "This program failed to start correctly: \n- (empty): no target\n- " +
                                            (dir / "cut") + "\\0x: its path holds a NUL byte\n- " + forged +
                                            ": no such file");
    // The item without a start-in folder starts in the program folder, and
    // the run says so in the dry run's own words.
    const std::string note = "it has no start-in folder; it starts in " + dir.path();
    EXPECT_EQ(summary.rfind("Brisken: " + (dir / "folderless") + ": " + note + "\n", 0), 0u) << summary;
    EXPECT_NE(
        corvale::describeLaunch("", dir / "folderless", dir.path()).find("starts as a program; " + note),
        std::string::npos);
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 2) << summary;
    EXPECT_NE(summary.find(forged + ": no such file"), std::string::npos) << summary;
}

// Tables beside the three that someone made by hand in another shape, or
// filled with values of another type: the list starts all the same.
TEST_F(EngineRun, TablesOfAnotherShapeAreReadAsAbsentAndTheListStarts) {
    db->addConnectedItem(db->addAddress("10.1"), item("home"), dir.path(), 1);
    db->database().execute({"drop table ItemOptions", {}});
    db->database().execute({"drop table EntryNames", {}});
    db->database().execute({"create table ItemOptions (Item TEXT, Stop TEXT)", {}});
    db->database().execute({"create table EntryNames (IPID INTEGER, Label TEXT)", {}});
    // A watcher's run (or a logon run), on a connection of its own as each
    // run has.
    const auto watcherRun = [&](bool watching = true) {
        RunSettings settings;
        settings.passOverRunning = watching;
        engine = std::make_unique<Engine>(dialogs, discovery, dir.path(), settings);
        engine->connection().openWorkspace();
        engine->connection().dbPath = db->path();
        engine->connection().access = corvale::Database::Access::ReadOnly; // as the engine opens it
        engine->connection().openDatabase();
    };
    watcherRun();
    testing::internal::CaptureStderr();
    runFor("10.1.0.5");
    std::string summary = testing::internal::GetCapturedStderr();
    EXPECT_EQ(started(), Names{"home"});
    EXPECT_NE(summary.find(": 1 started; the table EntryNames is not as this program knows it and is read as "
                           "absent; the table ItemOptions is not"),
              std::string::npos)
        << summary;

    db->database().execute({"drop table ItemOptions", {}});
    db->database().execute({"create table ItemOptions (List TEXT, ListID INTEGER, StopOnLeave INTEGER, "
                            "PRIMARY KEY (List, ListID))",
                            {}});
    db->database().execute({"insert into ItemOptions values ('ConnectedList', 'one', 1)", {}});
    watcherRun();
    testing::internal::CaptureStderr();
    runFor("10.1.0.5");
    summary = testing::internal::GetCapturedStderr();
    EXPECT_NE(summary.find(": 1 started; the table EntryNames"), std::string::npos) << summary;
    EXPECT_EQ(summary.find("ItemOptions"), std::string::npos) << summary;

    // A newer release's file, after a downgrade: one more table, one more
    // column, a larger format. Its lists still start, names and all.
    db->database().execute({"drop table EntryNames", {}});
    db->database().execute({"create table EntryNames (IPID INTEGER PRIMARY KEY, Name TEXT, Icon TEXT)", {}});
    db->database().execute({"insert into EntryNames values (1, 'Home', 'house')", {}});
    db->database().execute({"create table LeavingList (ListID INTEGER PRIMARY KEY, IPID INTEGER)", {}});
    db->database().execute({"PRAGMA user_version = " + std::to_string(corvale::kSchemaVersion + 1), {}});
    watcherRun(false); // a logon run: the home started before may still run

    testing::internal::CaptureStderr();
    runFor("10.1.0.5");
    summary = testing::internal::GetCapturedStderr();
    EXPECT_EQ(started(), (Names{"home", "home", "home"}));
    EXPECT_NE(summary.find("the list of Home: 1 started; the database is of a newer format (" +
                           std::to_string(corvale::kSchemaVersion + 1) + ") than this program's"),
              std::string::npos)
        << summary;
}

TEST_F(EngineRun, ListQueryTheStoreRejectsIsReported) {
    engine->runList({"Select TargetPath,StartinPath from NoSuchTable", {}});
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("no such table: NoSuchTable"), std::string::npos);
}

// The whole run, as Main does it.
class EngineMain : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("CORVALE_RECORD", (program / "record").c_str(), 1);
        corvale::platform::changeFolder(elsewhere.path());
    }
    void TearDown() override { testsupport::reapChildren(); }

    int run() {
        Engine engine(dialogs, discovery, program.path());
        return engine.Main();
    }

    TempDir program;
    TempDir elsewhere;
    FakeDialogs dialogs;
    FixedDiscovery discovery;
};

TEST_F(EngineMain, FindsTheDatabaseBesideItFromAnotherFolderAndRuns) {
    {
        DatabaseFile db(program / "corvale.mdb");
        fs::create_symlink(testsupport::recordRunPath(), program / "tool");
        db.addDisconnectedItem(program / "tool", elsewhere.path(), 1);
    }
    discovery.result = "";
    EXPECT_EQ(run(), kExitNormal);
    EXPECT_TRUE(dialogs.messages.empty());
    testsupport::reapChildren();
    const auto records = testsupport::readRecords(program / "record");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].at("cwd"), elsewhere.path());
}

TEST_F(EngineMain, MissingDatabaseIsAskedForAndGivingUpEndsTheRun) {
    dialogs.answers = {corvale::MessageAnswer::Cancel};
    EXPECT_EQ(run(), kExitRefused);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].caption, "Corvale - It's your choice...");
    EXPECT_EQ(dialogs.messages[1].text,
              "This application cannot execute properly without the database "
              "corvale.mdb.  Please install this database on your system, and run the "
              "program again.");
    EXPECT_EQ(dialogs.messages[1].caption, "Brisken");
    EXPECT_EQ(corvale::platform::currentFolder(), program.path());
    EXPECT_EQ(discovery.calls, 0);
}

TEST_F(EngineMain, DatabaseThatCannotBeOpenedShowsTheStoresDescription) {
    testsupport::writeFile(program / "corvale.mdb", std::string(2048, 'z'));
    EXPECT_EQ(run(), kExitTrapped);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "file is not a database: " + (program / "corvale.mdb"));
    EXPECT_EQ(dialogs.messages[0].caption, "Brisken");
    EXPECT_EQ(dialogs.messages[0].buttons, corvale::MessageButtons::Ok);
    EXPECT_EQ(discovery.calls, 0) << "nothing may be started";
}

TEST_F(EngineMain, DatabaseFoundElsewhereThroughTheDialogIsUsed) {
    TempDir other;
    {
        DatabaseFile db(other / "CORVALE.MDB");
        fs::create_symlink(testsupport::recordRunPath(), program / "tool");
        db.addDisconnectedItem(program / "tool", program.path(), 1);
    }
    dialogs.files = {other / "CORVALE.MDB"};
    discovery.result = "";
    EXPECT_EQ(run(), kExitNormal);
    ASSERT_EQ(dialogs.messages.size(), 1u) << "only the prompt";
    testsupport::reapChildren();
    EXPECT_EQ(testsupport::readRecords(program / "record").size(), 1u);
}

TEST_F(EngineMain, DatabaseOthersCanChangeIsRefusedAndNothingStarts) {
    {
        DatabaseFile db(program / "corvale.mdb");
        fs::create_symlink(testsupport::recordRunPath(), program / "tool");
        db.addDisconnectedItem(program / "tool", program.path(), 1);
    }
    fs::permissions(program / "corvale.mdb", fs::perms::others_write, fs::perm_options::add);
    discovery.result = "";
    EXPECT_EQ(run(), kExitTrapped);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find(program / "corvale.mdb"), std::string::npos);
    EXPECT_NE(dialogs.messages[0].text.find("every user"), std::string::npos) << dialogs.messages[0].text;
    EXPECT_EQ(dialogs.messages[0].caption, "Brisken");
    EXPECT_EQ(discovery.calls, 0);
}

TEST_F(EngineMain, ProgramFolderThatCannotBeEnteredIsReported) {
    const std::string gone = program / "gone";
    Engine engine(dialogs, discovery, gone);
    EXPECT_EQ(engine.Main(), kExitTrapped);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find(gone), std::string::npos);
}

} // namespace

// A place's systemd target is named as systemd-escape writes the place.
TEST(PlaceTarget, IsThePlaceEscapedAsSystemdWritesItOrNoneWithoutANetwork) {
    const auto target = [](const std::string& place) {
        return corvale::placeTarget({place, place, {}, {}, {}}, true);
    };
    EXPECT_EQ(target("Home"), "corvale-place@Home.target");
    EXPECT_EQ(target("My Office"), "corvale-place@My\\x20Office.target");
    EXPECT_EQ(target(".hidden/x-y"), "corvale-place@\\x2ehidden-x\\x2dy.target");
    EXPECT_EQ(target("Caf\xc3\xa9"), "corvale-place@Caf\\xc3\\xa9.target");
    EXPECT_EQ(target("*"), "corvale-place@\\x2a.target");
    EXPECT_EQ(target("a:b_c.d"), "corvale-place@a:b_c.d.target");
    EXPECT_EQ(corvale::placeTarget({}, false), "corvale-place@none.target");
    // No entry matches, or a name too long for a unit: no target at all.
    EXPECT_EQ(corvale::placeTarget({}, true), "");
    EXPECT_EQ(target(std::string(240, 'a')), "");
}
