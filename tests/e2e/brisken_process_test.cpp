// The built engine run as a whole process, the way a logon entry starts it.
#include "shared/network_choice.h"
#include "tests/support/test_support.h"

#include "platform/failure.h"
#include "platform/file_answer.h"
#include "platform/sqlite_connection.h"
#include "shared/command_line.h"
#include "shared/database.h"
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::DatabaseFile;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

// Runs program in folder with the environment given, waits for its end and
// returns its exit status.
int runIn(const std::string& folder, const std::string& program, const std::vector<std::string>& environment,
          const std::string& errorFile = "/dev/null") {
    return testsupport::waitForExit(testsupport::startProcess({program}, environment, folder, errorFile));
}

TEST(BriskenProcess, StartedFromElsewhereFindsItsDatabaseAndStartsItsListWithoutADisplay) {
    TempDir program;
    TempDir elsewhere;
    testsupport::installPrograms(program.path());
    fs::create_symlink(testsupport::recordRunPath(), program / "first");
    fs::create_symlink(testsupport::recordRunPath(), program / "second");
    fs::create_directory(program / "work");

    // Whatever network this machine is on, the list that applies holds the
    // two items.
    {
        DatabaseFile db(program / "corvale.mdb");
        testsupport::ApplicableList list(db);
        list.add(program / "first", program / "work", 1);
        list.add(program / "second", program / "work", 2);
    }

    const std::string record = program / "record";
    // The items run until the test closes this pipe: an engine that waited
    // for them would never end.
    int hold[2];
    ASSERT_EQ(pipe2(hold, O_CLOEXEC), 0);
    // A display that does not exist: a run with nothing to show must not even
    // try to connect to one.
    const int engine = testsupport::startProcess(
        {program / "brisken"},
        {"PATH=/usr/bin:/bin", "DISPLAY=:31999", "CORVALE_RECORD=" + record, "CORVALE_RECORD_HOLD_FD=3"},
        elsewhere.path(), "/dev/null", hold[0]);
    close(hold[0]);
    const int status = testsupport::waitForExit(engine);
    const auto records = testsupport::waitForRecords(record, 2);
    const bool itemsStillRunning = std::all_of(records.begin(), records.end(), [](const auto& run) {
        return kill(std::stoi(run.at("pid")), 0) == 0;
    });
    close(hold[1]);
    EXPECT_EQ(status, 0) << "the engine waited for what it started";
    EXPECT_TRUE(itemsStillRunning);

    ASSERT_EQ(records.size(), 2u);
    std::vector<std::string> names;
    for (const auto& run : records) {
        names.push_back(fs::path(run.at("argv0")).filename().string());
        EXPECT_EQ(run.at("cwd"), program / "work");
        EXPECT_EQ(run.at("sid"), run.at("pid"));
        EXPECT_EQ(run.at("stdin"), "/dev/null");
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"first", "second"}));
}

TEST(BriskenProcess, WithoutAScreenThePromptIsCancelledAndTheRefusalGoesToStandardError) {
    TempDir program;
    testsupport::installPrograms(program.path());
    const int status = runIn(program.path(), program / "brisken", {"PATH=/usr/bin:/bin"}, program / "errors");
    EXPECT_EQ(status, 2);
    EXPECT_EQ(testsupport::readFile(program / "errors"),
              "Corvale - It's your choice...: Please find and open the database: corvale.mdb\n"
              "Brisken: This application cannot execute properly without the database corvale.mdb.  Please "
              "install this database on your system, and run the program again.\n");
}

} // namespace

namespace {

TEST(BriskenProcess, WithoutItsWindowModuleTheEngineStillSaysWhatIsWrong) {
    TempDir installed;
    TempDir program;
    fs::copy_file(testsupport::installPrograms(installed.path()), program / "brisken"); // the engine alone
    const int status = runIn(program.path(), program / "brisken", {"PATH=/usr/bin:/bin", "DISPLAY=:31999"},
                             program / "errors");
    EXPECT_EQ(status, 2);
    const std::string errors = testsupport::readFile(program / "errors");
    EXPECT_EQ(errors.rfind("Cannot show windows: ", 0), 0u) << errors;
    EXPECT_NE(errors.find("libcorvale_dialogs.so"), std::string::npos);
    EXPECT_NE(errors.find("Brisken: This application cannot execute properly"), std::string::npos);
}

} // namespace

// What an attacker, a broken session or a hostile target can do to a run.
namespace {

struct Outcome {
    int status = -1;
    std::string errors;
};

// Standard error with the network and the list taken out of each run's
// summary, since they are the machine's: "brisken: " and the counts.
std::string onAnyNetwork(std::string errors) {
    const std::string head = "brisken: ";
    for (std::size_t at = errors.find(head); at != std::string::npos; at = errors.find(head, at + 1)) {
        if (at != 0 && errors[at - 1] != '\n') {
            continue;
        }
        const std::size_t list = errors.find(" list", at);
        const std::size_t colon = list == std::string::npos ? list : errors.find(": ", list);
        if (colon == std::string::npos) {
            break;
        }
        errors.erase(at + head.size(), colon + 2 - (at + head.size()));
    }
    return errors;
}
const std::string kOnTheTestNetwork = "brisken: ";

class BriskenUnderAttack : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::installPrograms(program.path());
        db = std::make_unique<DatabaseFile>(program / "corvale.mdb");
        list = std::make_unique<testsupport::ApplicableList>(*db);
    }

    std::string item(const std::string& name) {
        fs::create_symlink(testsupport::recordRunPath(), program / name);
        return program / name;
    }
    // Runs argv (the engine unless told) without a screen; waits for its end.
    Outcome run(std::vector<std::string> environment, std::vector<std::string> argv = {}) {
        if (argv.empty()) {
            argv = {program / "brisken"};
        }
        environment.push_back("PATH=/usr/bin:/bin");
        environment.push_back("CORVALE_RECORD=" + (program / "record"));
        const int pid = testsupport::startProcess(argv, environment, program.path(), program / "errors");
        Outcome result;
        result.status = testsupport::waitForExit(pid);
        if (result.status < 0) {
            kill(pid, SIGKILL);
            testsupport::waitForExit(pid);
        }
        result.errors = testsupport::readFile(program / "errors");
        return result;
    }
    std::vector<std::string> started() {
        std::vector<std::string> names;
        for (const auto& path : testsupport::startedPrograms(testsupport::readRecords(program / "record"))) {
            names.push_back(fs::path(path).filename().string());
        }
        return names;
    }

    TempDir program;
    std::unique_ptr<DatabaseFile> db;
    std::unique_ptr<testsupport::ApplicableList> list;
};

TEST_F(BriskenUnderAttack, JournalPlantedBesideTheDatabaseNeverChangesIt) {
    list->add(item("mine"), program.path(), 1);
    // Another user's database with the same name, left half-written.
    TempDir elsewhere;
    {
        DatabaseFile theirs(elsewhere / "corvale.mdb");
        theirs.addDisconnectedItem("/tmp/theirs", "/tmp", 1);
    }
    testsupport::leaveHotJournal(elsewhere / "corvale.mdb");
    const std::string path = program / "corvale.mdb";
    db.reset();
    const std::string before = testsupport::readFile(path);

    // A folder like /tmp: every user may write in it, the sticky bit set.
    fs::permissions(program.path(), fs::perms::all | fs::perms::sticky_bit);
    fs::copy_file(elsewhere / "corvale.mdb-journal", path + "-journal");
    const Outcome sticky = run({});
    EXPECT_EQ(sticky.status, 1);
    EXPECT_NE(sticky.errors.find("chmod go-w " + program.path() + ")"), std::string::npos) << sticky.errors;

    // In a private folder the journal is not played back either.
    fs::permissions(program.path(), fs::perms::owner_all);
    const Outcome private_ = run({});
    EXPECT_EQ(private_.status, 1);
    EXPECT_NE(private_.errors.find("was left half-changed"), std::string::npos) << private_.errors;

    EXPECT_EQ(testsupport::readFile(path), before);
    EXPECT_TRUE(fs::exists(path + "-journal"));
    EXPECT_TRUE(started().empty());
}

// Another user's write-ahead log laid beside the database while its folder
// was loose: SQLite reads a -wal whatever the file says, so it would bring his
// rows in. Neither program takes it, nor changes whose it is.
TEST_F(BriskenUnderAttack, LogPlantedByAnotherUserIsUsedByNeitherProgram) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    list->add(item("mine"), program.path(), 1);
    const std::string path = program / "corvale.mdb";
    db.reset();
    // His log: the same database with his items in place of the owner's.
    const std::string before = testsupport::readFile(path);
    testsupport::plantAnotherUsersLog(path, "UPDATE DisConnectedList SET TargetPath='" + item("theirs") +
                                                "'; UPDATE ConnectedList SET TargetPath='" +
                                                (program / "theirs") + "';");

    const Outcome result = run({});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("The file " + path +
                                 "-wal beside the database belongs to another user (uid "
                                 "65534)"),
              std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("(rm " + path + "-wal)"), std::string::npos) << result.errors;
    EXPECT_THROW(corvale::Database tool(path), corvale::Failure) << "the tool must not take it either";
    EXPECT_TRUE(started().empty());
    EXPECT_TRUE(testsupport::readFile(path) == before) << "the database was changed";
    struct stat log {};
    ASSERT_EQ(stat((path + "-wal").c_str(), &log), 0);
    EXPECT_EQ(log.st_uid, 65534u) << "the log was given to another owner";

    // Once it is removed, the owner's own list runs.
    fs::remove(path + "-wal");
    fs::remove(path + "-shm");
    EXPECT_EQ(run({}).status, 0);
    testsupport::waitForRecords(program / "record", 1);
    EXPECT_EQ(started(), std::vector<std::string>{"mine"});
}

// A database the owner keeps with a write-ahead log (set with the sqlite3
// tool): the engine cannot read it without making its -wal and -shm, so it
// refuses it and makes nothing; the tool brings it back to the ordinary way.
TEST_F(BriskenUnderAttack, DatabaseKeptWithAWriteAheadLogIsReadWithoutMakingFiles) {
    list->add(item("mine"), program.path(), 1);
    const std::string path = program / "corvale.mdb";
    db.reset();
    testsupport::sqliteOutput(path, "PRAGMA journal_mode=WAL");
    ASSERT_FALSE(fs::exists(path + "-wal"));
    const std::string before = testsupport::readFile(path);

    const Outcome refused = run({});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.errors.find("is kept with a write-ahead log"), std::string::npos) << refused.errors;
    EXPECT_FALSE(fs::exists(path + "-wal"));
    EXPECT_FALSE(fs::exists(path + "-shm"));
    EXPECT_TRUE(testsupport::readFile(path) == before) << "the database was changed";

    { corvale::Database tool(path); }
    EXPECT_EQ(testsupport::sqliteOutput(path, "PRAGMA journal_mode"), "delete\n");
    EXPECT_EQ(run({}).status, 0);
    testsupport::waitForRecords(program / "record", 1);
    EXPECT_EQ(started(), std::vector<std::string>{"mine"});
}

// The database's folder inside a folder that another user may write: he can
// swap the program folder for one of his own between the engine's check and
// its open. Every folder on the way must be safe, so the engine refuses to
// run there at all, however the race falls.
TEST_F(BriskenUnderAttack, FolderSwappedByAnotherUserNeverRunsHisList) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "the other user is nobody, which needs root";
    }
    TempDir base;
    fs::permissions(base.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    TempDir records;
    fs::permissions(records.path(), fs::perms::all | fs::perms::sticky_bit);
    const std::string loose = base / "loose";
    fs::create_directory(loose);
    fs::permissions(loose, fs::perms::all);
    for (const std::string name : {"real", "fake"}) {
        const std::string folder = loose + "/" + name;
        fs::create_directory(folder);
        testsupport::installPrograms(folder);
        const std::string target = folder + "/" + (name == "real" ? "mine" : "theirs");
        fs::create_symlink(testsupport::recordRunPath(), target);
        DatabaseFile file(folder + "/corvale.mdb");
        testsupport::ApplicableList(file).add(target, folder, 1);
    }
    ASSERT_EQ(std::system(("chown -R 65534:65534 " + loose + "/fake").c_str()), 0);
    const int swapper = testsupport::startProcess(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh", "-c",
         "while :; do mv real x; mv fake real; mv real fake; mv x real; done"},
        {"PATH=/usr/bin:/bin"}, loose, "/dev/null");
    ASSERT_GT(swapper, 0);
    int refusals = 0;
    for (int i = 0; i < 40; ++i) {
        const int engine = testsupport::startProcess(
            {loose + "/real/brisken"}, {"PATH=/usr/bin:/bin", "CORVALE_RECORD=" + (records / "record")}, "/",
            program / "errors");
        if (engine > 0 && testsupport::waitForExit(engine) == 1 &&
            testsupport::readFile(program / "errors").find("The folder " + loose + " above the database") !=
                std::string::npos) {
            ++refusals;
        }
    }
    kill(swapper, SIGKILL);
    testsupport::waitForExit(swapper);
    EXPECT_GT(refusals, 0);
    EXPECT_TRUE(testsupport::readRecords(records / "record").empty())
        << "a list ran from a folder others can swap";

    // Once nobody else can write on the way, the owner's list runs.
    // The loop stopped with ours aside as x, his as real or as fake.
    if (fs::exists(loose + "/x")) {
        if (fs::exists(loose + "/real")) {
            fs::rename(loose + "/real", loose + "/fake");
        }
        fs::rename(loose + "/x", loose + "/real");
    }
    fs::permissions(loose, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const int engine = testsupport::startProcess(
        {loose + "/real/brisken"}, {"PATH=/usr/bin:/bin", "CORVALE_RECORD=" + (records / "record")}, "/",
        program / "errors");
    EXPECT_EQ(testsupport::waitForExit(engine), 0) << testsupport::readFile(program / "errors");
    const auto ran = testsupport::waitForRecords(records / "record", 1);
    ASSERT_EQ(ran.size(), 1u);
    EXPECT_EQ(fs::path(ran[0].at("argv0")).filename(), "mine");
}

// An item before may start in a folder where others put files (such as
// /tmp); the next item, whose start-in folder is missing or relative, must not
// start there nor take a relative path from there.
TEST_F(BriskenUnderAttack, EachItemStartsFromTheProgramFolderNotFromThePreviousItemsFolder) {
    const std::string shared = program / "shared";
    fs::create_directories(shared + "/work");
    fs::create_directory(program / "work");
    fs::create_symlink(testsupport::recordRunPath(), shared + "/tool");
    list->add(item("first"), shared, 1);
    item("tool");
    list->add("tool", program / "gone", 2); // relative, its folder missing
    list->add(item("third"), "work", 3);    // a relative start-in folder
    list->add("brisken", "", 4);            // the engine itself would run the list for ever
    const Outcome result = run({});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(onAnyNetwork(result.errors),
              "Brisken: tool: its start-in folder " + (program / "gone") + " is missing; it starts in " +
                  program.path() +
                  "\nBrisken: brisken: passed over: it is Brisken itself, which would run the "
                  "list again\n" +
                  kOnTheTestNetwork + "3 started\n");
    std::map<std::string, std::string> folders;
    for (const auto& run : testsupport::waitForRecords(program / "record", 3)) {
        folders[run.at("argv0")] = run.at("cwd");
    }
    EXPECT_EQ(folders, (std::map<std::string, std::string>{{program / "first", shared},
                                                           {program / "tool", program.path()},
                                                           {program / "third", program / "work"}}));
}

// A socket that takes connections and never says a word: a session bus, an X
// server or a compositor that hangs.
class SilentServer {
public:
    explicit SilentServer(const std::string& path) : m_path(path) {
        m_socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        m_listening = m_socket >= 0 &&
                      bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      listen(m_socket, 16) == 0;
    }
    ~SilentServer() {
        close(m_socket);
        unlink(m_path.c_str());
    }
    bool listening() const { return m_listening; }

private:
    std::string m_path;
    int m_socket = -1;
    bool m_listening = false;
};

TEST_F(BriskenUnderAttack, BusDisplayAndCompositorThatNeverAnswerAreWaitedForAFewSecondsOnly) {
    testsupport::writeFile(program / "app.desktop", "[Desktop Entry]\nType=Application\nName=App\nExec=" +
                                                        testsupport::recordRunPath() + "\n");
    list->add(program / "app.desktop", program.path(), 1);
    list->add(item("after"), program.path(), 2);
    const std::string failed =
        "Brisken: This program failed to start correctly: \n- " + (program / "app.desktop");
    SilentServer bus(program / "bus");
    const std::string display = ":" + std::to_string(47000 + getpid() % 1000);
    if (fs::create_directories("/tmp/.X11-unix")) {
        fs::permissions("/tmp/.X11-unix", fs::perms::all | fs::perms::sticky_bit);
    }
    SilentServer x("/tmp/.X11-unix/X" + display.substr(1));
    SilentServer compositor(program / "wayland");
    ASSERT_TRUE(bus.listening() && x.listening() && compositor.listening());

    for (const std::vector<std::string>& session : std::vector<std::vector<std::string>>{
             {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (program / "bus"), "DISPLAY=" + display},
             {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (program / "bus"),
              "WAYLAND_DISPLAY=" + (program / "wayland"), "XDG_RUNTIME_DIR=" + program.path()}}) {
        fs::remove(program / "record");
        const Outcome result = run(session);
        EXPECT_EQ(result.status, 0) << session[1];
        EXPECT_NE(result.errors.find("did not answer within 3 seconds"), std::string::npos) << result.errors;
        EXPECT_NE(result.errors.find(failed), std::string::npos) << result.errors;
        EXPECT_EQ(testsupport::startedPrograms(testsupport::waitForRecords(program / "record", 1)),
                  std::vector<std::string>{program / "after"});
    }
}

// A network mount whose server has gone, after leaving the office: its
// items fail after a few seconds each, and the rest of the list starts.
TEST_F(BriskenUnderAttack, ItemsOnAMountThatNeverAnswersHoldUpNothingElse) {
    testsupport::SilentMount gone;
    if (!gone.available()) {
        GTEST_SKIP() << "mounting needs root and /dev/fuse";
    }
    list->add(gone / "app", program.path(), 1);
    list->add(item("in-gone"), gone / "work", 2);
    list->add(item("after"), program.path(), 3);
    const Outcome result = run({});
    EXPECT_EQ(result.status, 0);
    for (const std::string& stalled : {gone / "app", program / "in-gone"}) {
        EXPECT_NE(result.errors.find(stalled + ": did not answer within 3 seconds"), std::string::npos)
            << result.errors;
    }
    EXPECT_EQ(testsupport::startedPrograms(testsupport::waitForRecords(program / "record", 1)),
              std::vector<std::string>{program / "after"});
    // Its look-ups left waiting hold nothing of the run: a pipe that reads
    // its output sees the end (otherwise this would wait for the mount).
    const auto [status, said] = testsupport::runCapturing((program / "brisken") + " --dry-run 2>&1");
    EXPECT_NE(said.find("cannot start: did not answer within 3 seconds"), std::string::npos) << said;
    // A mount that did not answer is not asked again while the look-up
    // waits there: the next item on it fails at once, whatever its bound.
    EXPECT_FALSE(
        corvale::platform::filesAnswerWithin(program.path(), gone / "a", "x", std::chrono::milliseconds(50)));
    EXPECT_FALSE(
        corvale::platform::filesAnswerWithin(program.path(), gone / "b", "y", std::chrono::hours(1)));
}

TEST_F(BriskenUnderAttack, DisplayThatCannotBeReachedLeavesTheMessageOnStandardError) {
    list->add("/nonexistent/first", "/", 1);
    for (const std::vector<std::string>& session : std::vector<std::vector<std::string>>{
             {"DISPLAY=:99"},
             {"QT_QPA_PLATFORM=nonsense"},
             // Platforms that exist but show nobody anything: a question there
             // would wait for ever.
             {"QT_QPA_PLATFORM=offscreen"},
             {"QT_QPA_PLATFORM=minimal"},
             {"WAYLAND_DISPLAY=gone", "XDG_RUNTIME_DIR=" + program.path()}}) {
        if (session[0] == "DISPLAY=:99" && fs::exists("/tmp/.X11-unix/X99")) {
            continue; // a real server answers there
        }
        const Outcome result = run(session);
        EXPECT_LT(result.status, 128) << session[0];
        EXPECT_GE(result.status, 0) << session[0];
        EXPECT_NE(
            result.errors.find("Brisken: This program failed to start correctly: \n- /nonexistent/first"),
            std::string::npos)
            << session[0] << ": " << result.errors;
    }
}

TEST_F(BriskenUnderAttack, FourHundredItemsUnderAProcessLimitOfThreeHundredAllStart) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "the run is made as nobody, which needs root";
    }
    // nobody must reach the program, the database and the record.
    fs::permissions(program.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    fs::copy_file(testsupport::recordRunPath(), program / "item");
    TempDir records;
    fs::permissions(records.path(), fs::perms::all | fs::perms::sticky_bit);
    db->database().transaction([&] {
        for (int i = 1; i <= 400; ++i) {
            list->add(program / "item", program.path(), i);
        }
    });
    db.reset();

    const int pid = testsupport::startProcess(
        {"/usr/bin/prlimit", "--nproc=300", "/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
         "--clear-groups", program / "brisken"},
        {"PATH=/usr/bin:/bin", "CORVALE_RECORD=" + (records / "record")}, program.path(), program / "errors");
    EXPECT_EQ(testsupport::waitForExit(pid), 0);
    EXPECT_EQ(testsupport::waitForRecords(records / "record", 400).size(), 400u);
    EXPECT_EQ(onAnyNetwork(testsupport::readFile(program / "errors")), kOnTheTestNetwork + "400 started\n");
}

TEST_F(BriskenUnderAttack, FifoAsALauncherIsAFailedStartAndTheNextItemStarts) {
    list->add(item("first"), program.path(), 1);
    ASSERT_EQ(mkfifo((program / "x.desktop").c_str(), 0600), 0);
    list->add(program / "x.desktop", program.path(), 2);
    list->add(item("second"), program.path(), 3);
    const Outcome result = run({});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(onAnyNetwork(result.errors),
              kOnTheTestNetwork + "2 started, 1 failed: " + (program / "x.desktop") +
                  ": not a regular file\nBrisken: This program failed to start correctly: \n- " +
                  (program / "x.desktop") + ": not a regular file\n");
    testsupport::waitForRecords(program / "record", 2);
    std::vector<std::string> names = started();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"first", "second"}));
}

TEST_F(BriskenUnderAttack, StartedFromAFolderThatWasDeletedRunsItsList) {
    list->add(item("first"), program.path(), 1);
    TempDir parent;
    const std::string gone = parent / "gone";
    const Outcome result = run(
        {}, {"/bin/sh", "-c",
             "mkdir " + gone + " && cd " + gone + " && rmdir " + gone + " && exec " + (program / "brisken")});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(testsupport::waitForRecords(program / "record", 1).size(), 1u);
}

TEST_F(BriskenUnderAttack, ManyFailuresAreCountedInTheMessageAndListedWholeOnStandardError) {
    std::string summary = kOnTheTestNetwork + "0 started, 25 failed: ";
    for (int i = 1; i <= 25; ++i) {
        list->add("/nonexistent/item" + std::to_string(i), "/", i);
        summary +=
            (i == 1 ? "" : "; ") + std::string("/nonexistent/item") + std::to_string(i) + ": no such file";
    }
    const Outcome result = run({});
    std::string shown = "Brisken: This program failed to start correctly: ";
    for (int i = 1; i <= 20; ++i) {
        shown += "\n- /nonexistent/item" + std::to_string(i) + ": no such file";
    }
    EXPECT_EQ(onAnyNetwork(result.errors), summary + "\n" + shown + "\n- and 5 more\n");
}

} // namespace

namespace {

TEST(CommandLine, BothProgramsAnswerHelpAndVersionAndRefuseUnknownOptions) {
    TempDir program;
    testsupport::installPrograms(program.path());
    auto run = [](const std::string& command) { return testsupport::runCapturing(command + " 2>&1"); };
    for (const std::string name : {"brisken", "corvale"}) {
        const std::string path = program / name;
        const auto help = run(path + " --help");
        EXPECT_EQ(help.first, 0);
        EXPECT_EQ(help.second.rfind("Usage: " + name + " [", 0), 0u) << help.second;
        EXPECT_EQ(run(path + " --version"), std::make_pair(0, name + " " + CORVALE_VERSION + "\n"));
        const auto unknown = run("env -u DISPLAY " + path + " --frobnicate");
        EXPECT_EQ(unknown.first, 64);
        EXPECT_EQ(unknown.second.rfind(name + ": unknown option '--frobnicate'\nUsage: " + name, 0), 0u)
            << unknown.second;
    }
    const auto badWait = run(program / "brisken" + std::string(" --wait-for-network=soon"));
    EXPECT_EQ(badWait.first, 64);
}

// The dry run answers for an address given, whatever the network: the list
// it would take, or that nothing would start and what is on file.
TEST(CommandLine, DryRunForAnotherAddressSaysWhatWouldStartThere) {
    TempDir program;
    testsupport::installPrograms(program.path());
    {
        DatabaseFile db(program / "corvale.mdb");
        const auto office = db.addAddress("10.20");
        db.addConnectedItem(office, "/usr/bin/true", "/", 1);
        db.addConnectedItem(office, program / "tunnel", "/", 2);
        db.addAddress("10.40.0.5");
        db.addAddress("wifi:Office WLAN");
        db.addConnectedItem(db.addAddress("gateway:00:1a:2b:3c:4d:5e"), "/usr/bin/env", "/", 1);
    }
    const auto dryRun = [&](const std::string& address) {
        return testsupport::runCapturing("env -u DISPLAY -u WAYLAND_DISPLAY " + (program / "brisken") +
                                         " --dry-run --address=" + address + " 2>&1");
    };
    // Entry names are not there yet: the engine reads the file as it is and
    // never makes their table.
    const std::string file = testsupport::readFile(program / "corvale.mdb");
    const auto unnamed = dryRun("10.20.7.9 --gateway-mac=00:1A:2B:3C:4D:5E");
    EXPECT_NE(unnamed.second.find("List: gateway:00:1a:2b:3c:4d:5e (the gateway's hardware address)\n"),
              std::string::npos)
        << unnamed.second;
    EXPECT_EQ(testsupport::readFile(program / "corvale.mdb"), file) << "the engine changed the file";
    testsupport::sqliteOutput(
        program / "corvale.mdb",
        "insert into EntryNames select IPID, 'Home' from IPs where IPaddress like 'gateway:%'");
    // The network's identities are not looked at either: they are given, or
    // the entries that name them are said not to be considered.
    EXPECT_NE(dryRun("10.20.7.9")
                  .second.find("Not considered, their network's identity not being known: "
                               "gateway:00:1a:2b:3c:4d:5e, wifi:Office WLAN\n"),
              std::string::npos)
        << dryRun("10.20.7.9").second;
    const auto atHome = dryRun("10.20.7.9 --gateway-mac=00:1A:2B:3C:4D:5E '--wifi=Office WLAN'");
    EXPECT_NE(
        atHome.second.find("List: Home, entry gateway:00:1a:2b:3c:4d:5e (the gateway's hardware address)\n"
                           "Item: /usr/bin/env\n"),
        std::string::npos)
        << atHome.second;
    EXPECT_EQ(atHome.second.find("Not considered"), std::string::npos) << atHome.second;
    EXPECT_NE(
        dryRun("10.20.7.9 '--wifi=Office WLAN'").second.find("List: wifi:Office WLAN (the Wi-Fi name)\n"),
        std::string::npos);
    EXPECT_EQ(dryRun("10.20.7.9 --gateway-mac=00:1a").first, corvale::kExitUsage);
    const auto office = dryRun("10.20.7.9");
    EXPECT_EQ(office.first, 0);
    EXPECT_NE(office.second.find("Network: address 10.20.7.9, as given (the network is not looked at)\n"),
              std::string::npos)
        << office.second;
    EXPECT_NE(
        office.second.find("\nList: 10.20 (its leading two numbers of 10.20.7.9)\nItem: /usr/bin/true\n"),
        std::string::npos)
        << office.second;
    testsupport::sqliteOutput(program / "corvale.mdb",
                              "insert into ItemOptions select 'ConnectedList', ListID, 1 from ConnectedList "
                              "where TargetPath = '/usr/bin/true'");
    EXPECT_NE(dryRun("10.20.7.9")
                  .second.find("Item: /usr/bin/true\n  start in: /\n  starts as a program\n  marked to "
                               "stop on leaving"),
              std::string::npos)
        << dryRun("10.20.7.9").second;
    // A script that env runs is running only where its interpreter runs it,
    // not where a program merely names it.
    testsupport::writeFile(program / "tunnel", "#!/usr/bin/env sh\nwhile :; do sleep 1; done\n", true);
    const std::string tunnel = "Item: " + (program / "tunnel") + "\n  start in: /\n  starts as a program\n";
    const int named = testsupport::startProcess({"/usr/bin/tail", "-f", program / "tunnel"});
    const auto namedOnly = dryRun("10.20.7.9").second;
    EXPECT_NE(namedOnly.find(tunnel), std::string::npos) << namedOnly;
    EXPECT_EQ(namedOnly.find(tunnel + "  already running"), std::string::npos) << namedOnly;
    const int running = testsupport::startProcess({program / "tunnel"});
    const std::string runs = tunnel + "  already running: process " + std::to_string(running);
    std::string seen;
    for (int i = 0; i < 500 && seen.find(runs) == std::string::npos; ++i) {
        usleep(10'000); // until env has handed over to sh
        seen = dryRun("10.20.7.9").second;
    }
    EXPECT_NE(seen.find(runs), std::string::npos) << seen;
    kill(named, SIGTERM);
    kill(-running, SIGTERM);
    kill(running, SIGTERM);

    const std::string onFile = "Entries on file:\n  10.20\n  10.40.0.5\n  gateway:00:1a:2b:3c:4d:5e, named "
                               "Home\n  wifi:Office WLAN\n";
    const auto nowhere = dryRun("10.30.0.5");
    EXPECT_NE(nowhere.second.find("List: none: no entry matches 10.30.0.5, 10.30.0, 10.30 or 10\n"),
              std::string::npos)
        << nowhere.second;
    EXPECT_NE(nowhere.second.find("Nothing will start: no entry matches 10.30.0.5\n" + onFile),
              std::string::npos)
        << nowhere.second;
    const auto empty = dryRun("10.40.0.5");
    EXPECT_NE(empty.second.find("Nothing will start: the list of 10.40.0.5 is empty\n" + onFile),
              std::string::npos)
        << empty.second;

    // A place by its name (any case), identity entries included, or as
    // written; an unknown one lists the entries on file.
    const auto place = [&](const std::string& name) {
        return testsupport::runCapturing("env -u DISPLAY -u WAYLAND_DISPLAY " + (program / "brisken") +
                                         " --dry-run '--place=" + name + "' 2>&1")
            .second;
    };
    EXPECT_NE(place("home").find("List: Home, entry gateway:00:1a:2b:3c:4d:5e (the place given)\nItem: "
                                 "/usr/bin/env\n"),
              std::string::npos)
        << place("home");
    EXPECT_NE(place("10.20").find("\nList: 10.20 (the place given)\nItem: /usr/bin/true\n"),
              std::string::npos);
    EXPECT_NE(place("Cafe").find("Nothing will start: no entry is named or written Cafe\n" + onFile),
              std::string::npos)
        << place("Cafe");

    EXPECT_EQ(dryRun("10.30.0.300").first, corvale::kExitUsage);
    const auto notDry = testsupport::runCapturing((program / "brisken") + " --address=10.30.0.5 2>&1");
    EXPECT_EQ(notDry.first, corvale::kExitUsage) << notDry.second;
    EXPECT_EQ(testsupport::runCapturing((program / "brisken") + " --dry-run --wifi=Home 2>&1").first,
              corvale::kExitUsage);
}

// The lists go to a text file and come back, without a window or a display:
// into an empty database whole, into one that holds some of them by the
// tool's rules; a malformed file is refused, naming the place, and nothing
// is written.
TEST(CommandLine, ListsGoToAFileAndComeBackUnderTheToolsRules) {
    TempDir laptop, newLaptop;
    testsupport::installPrograms(laptop.path());
    testsupport::installPrograms(newLaptop.path());
    {
        DatabaseFile db(laptop / "corvale.mdb");
        const auto office = db.addAddress("10.20");
        db.database().execute({"insert into EntryNames values (?, 'Office')", {office}});
        db.addConnectedItem(office, "/usr/bin/mail", "/home/u", 1);
        const auto vpn = db.addConnectedItem(office, "/opt/vpn it's.sh", "/opt", 2);
        db.addConnectedItem(office, "/home/u/bin/sync", "/home/u/bin/", 3);
        db.database().execute({"insert into ConnectedLeavingList (IPID,TargetPath,StartinPath,ListOrder) "
                               "values (?, '/usr/bin/away', '/', 1)",
                               {office}});
        // A path JSON cannot carry is left out, and the rest exported.
        db.database().execute({"insert into DisConnectedList (TargetPath,StartinPath,ListOrder) values "
                               "(cast('/usr/bin/x' || x'00' || 'y' as text), '/', 2)",
                               {}});
        db.database().execute({"insert into ItemOptions values ('ConnectedList', ?, 1)", {vpn}});
        db.addAddress("gateway:00:1a:2b:3c:4d:5e");
        db.addDisconnectedItem("/usr/bin/notes", "/", 1);
        DatabaseFile fresh(newLaptop / "corvale.mdb");
        fresh.addConnectedItem(fresh.addAddress("10.20"), "/usr/bin/mail", "/elsewhere", 1);
    }
    // Each laptop's user has a home of his own.
    const auto corvale = [](const TempDir& folder, const std::string& arguments,
                            const std::string& home = "/home/v") {
        return testsupport::runCapturing("env -u DISPLAY -u WAYLAND_DISPLAY HOME=" + home + " " +
                                         (folder / "corvale") + " " + arguments + " 2>&1");
    };
    const std::string file = laptop / "lists.json";
    const auto exported = corvale(laptop, "--export " + file, "/home/u");
    ASSERT_EQ(exported.first, 0) << exported.second;
    EXPECT_NE(exported.second.find("passed over item /usr/bin/x\\0y of the disconnected list: "),
              std::string::npos)
        << exported.second;
    EXPECT_NE(testsupport::readFile(file).find("\"~/bin/sync\""), std::string::npos);
    EXPECT_NE(testsupport::readFile(file).find(
                  "\"target\": \"/usr/bin/away\",\n                    \"when\": \"leaving\""),
              std::string::npos)
        << testsupport::readFile(file);
    const std::string lists = "select coalesce(n.Name,''), i.IPaddress, c.TargetPath, c.StartinPath, "
                              "coalesce(o.StopOnLeave,0) from IPs i left join EntryNames n using (IPID) "
                              "left join ConnectedList c using (IPID) left join ItemOptions o on "
                              "o.ListID = c.ListID order by i.IPaddress, c.ListOrder; "
                              "select TargetPath, StartinPath from DisConnectedList; "
                              "select TargetPath, StartinPath from ConnectedLeavingList";
    const auto imported = corvale(newLaptop, "--import " + file);
    EXPECT_EQ(imported.first, 0) << imported.second;
    EXPECT_NE(imported.second.find("passed over item /usr/bin/mail of 10.20: on file already\n"),
              std::string::npos)
        << imported.second;
    EXPECT_EQ(
        testsupport::sqliteOutput(newLaptop / "corvale.mdb", lists),
        "Office|10.20|/usr/bin/mail|/elsewhere|0\nOffice|10.20|/opt/vpn it's.sh|/opt|1\n"
        "Office|10.20|/home/v/bin/sync|/home/v/bin/|0\n|gateway:00:1a:2b:3c:4d:5e|||0\n/usr/bin/notes|/\n"
        "/usr/bin/away|/\n");
    // Into an empty database the lists come whole.
    testsupport::sqliteOutput(newLaptop / "corvale.mdb",
                              "delete from IPs; delete from ConnectedList; "
                              "delete from DisConnectedList; delete from EntryNames; "
                              "delete from ItemOptions; delete from ConnectedLeavingList");
    EXPECT_EQ(corvale(newLaptop, "--import " + file, "/home/u").first, 0);
    testsupport::sqliteOutput(laptop / "corvale.mdb", "delete from DisConnectedList where ListOrder = 2");
    EXPECT_EQ(testsupport::sqliteOutput(newLaptop / "corvale.mdb", lists),
              testsupport::sqliteOutput(laptop / "corvale.mdb", lists));
    // The file of the last release, its paths whole, reads as it is.
    testsupport::writeFile(laptop / "old.json", R"({"corvale-lists": 1, "entries": [{"entry": "10.40",
        "items": [{"target": "/home/u/old", "startIn": "/home/u/"}]}]})");
    EXPECT_EQ(corvale(newLaptop, "--import " + (laptop / "old.json")).first, 0);
    EXPECT_EQ(testsupport::sqliteOutput(newLaptop / "corvale.mdb",
                                        "select TargetPath from ConnectedList where TargetPath like '%old'"),
              "/home/u/old\n");
    // An export never writes through a link, nor cuts the file it replaces.
    testsupport::writeFile(laptop / "notes.txt", "mine");
    fs::create_symlink(laptop / "notes.txt", laptop / "linked.json");
    EXPECT_EQ(corvale(laptop, "--export " + (laptop / "linked.json")).first, 1);
    EXPECT_EQ(testsupport::readFile(laptop / "notes.txt"), "mine");

    const std::string before = testsupport::readFile(newLaptop / "corvale.mdb");
    testsupport::writeFile(laptop / "bad.json",
                           R"({"corvale-lists": 1, "entries": [{"entry": "10.9", "items": []},
                               {"entry": "10.30", "items": [{"target": 7}]}]})");
    const auto refused = corvale(newLaptop, "--import " + (laptop / "bad.json"));
    EXPECT_EQ(refused.first, 1);
    EXPECT_NE(refused.second.find("nothing imported: " + (laptop / "bad.json") +
                                  ": entries[1].items[0].target: a text is needed here"),
              std::string::npos)
        << refused.second;
    testsupport::writeFile(laptop / "bad.json", "{\"corvale-lists\": 1, \"entries\": [");
    EXPECT_NE(corvale(newLaptop, "--import " + (laptop / "bad.json")).second.find(": at character "),
              std::string::npos);
    // Only entries the tool itself would take, and only a file of a lists
    // file's size: what is not is named with its place.
    for (const auto& [entry, fault] :
         {std::pair{R"(10.54\nx)", "entries[0].entry: it holds a line break"},
          {"999.1.2.3.4/99", "entries[0].entry: 999.1.2.3.4/99 is no entry Brisken can choose"},
          {R"(10.\u0000)", "entries[0].entry: it holds a line break or another control character"}}) {
        testsupport::writeFile(laptop / "bad.json",
                               std::string(R"({"corvale-lists": 2, "entries": [{"entry": ")") + entry +
                                   R"(", "items": []}]})");
        const std::string said = corvale(newLaptop, "--import " + (laptop / "bad.json")).second;
        EXPECT_NE(said.find(fault), std::string::npos) << said;
    }
    testsupport::writeFile(laptop / "bad.json", R"({"corvale-lists": 2, "entries": [{"entry": "10.9",
        "items": [{"target": "/x", "when": "later"}]}]})");
    EXPECT_NE(corvale(newLaptop, "--import " + (laptop / "bad.json"))
                  .second.find("entries[0].items[0].when: \"arrival\" or \"leaving\" is needed here"),
              std::string::npos);
    EXPECT_NE(corvale(newLaptop, "--import /dev/zero").second.find("/dev/zero is not a regular file"),
              std::string::npos);
    EXPECT_EQ(testsupport::readFile(newLaptop / "corvale.mdb"), before);
}

// Without a display that answers, the tool says so in one line and ends,
// instead of Qt's abort: a Wayland socket left behind by a compositor that
// is gone, a platform that shows nobody anything, an X display nobody serves.
TEST(CommandLine, ToolWithoutAUsableDisplaySaysSoAndEnds) {
    TempDir program;
    testsupport::installPrograms(program.path());
    const std::string stale = program / "wayland-stale";
    const int socketFd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", stale.c_str());
    ASSERT_EQ(bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(socketFd); // the file stays; nobody listens
    for (const std::string& session :
         {"WAYLAND_DISPLAY=" + stale + " XDG_RUNTIME_DIR=" + program.path(),
          std::string("QT_QPA_PLATFORM=offscreen"), std::string("DISPLAY=:98")}) {
        if (session == "DISPLAY=:98" && fs::exists("/tmp/.X11-unix/X98")) {
            continue;
        }
        const auto result =
            testsupport::runCapturing("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + session +
                                      " " + (program / "corvale") + " 2>&1");
        EXPECT_EQ(result.first, 1) << session << ": " << result.second;
        EXPECT_EQ(result.second.rfind("Cannot show windows: no window platform can be used (", 0), 0u)
            << result.second;
        EXPECT_EQ(std::count(result.second.begin(), result.second.end(), '\n'), 1) << result.second;
    }
}

} // namespace
