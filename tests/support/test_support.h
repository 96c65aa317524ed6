#pragma once

#include "platform/dialogs.h"
#include "platform/network.h"
#include "shared/database.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A folder of its own for one test, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& content, bool executable = false);
std::string readFile(const std::string& path);

// Fills a real database file the way the configuration tool would.
class DatabaseFile {
public:
    explicit DatabaseFile(const std::string& path);

    const std::string& path() const { return m_path; }
    std::int64_t addAddress(const std::string& address);
    std::int64_t addConnectedItem(std::int64_t ipid, const std::string& target, const std::string& startIn,
                                  std::int64_t listOrder);
    std::int64_t addDisconnectedItem(const std::string& target, const std::string& startIn,
                                     std::int64_t listOrder);
    corvale::Database& database() { return m_database; }
    // Adds an address to an existing file, as the other program would.
    static void addAddressTo(const std::string& path, const std::string& address);

private:
    std::string m_path;
    corvale::Database m_database;
};

// Adds items to the list that the engine would run on this machine now,
// whatever network it is on.
class ApplicableList {
public:
    explicit ApplicableList(DatabaseFile& db);
    void add(const std::string& target, const std::string& startIn, std::int64_t listOrder);

private:
    DatabaseFile& m_db;
    std::int64_t m_ipid = 0; // 0: the disconnected list
};

// One line written by the record_run helper, split into its fields.
using RunRecord = std::map<std::string, std::string>;

// Reads the record file; waits (up to timeout) until it holds at least count
// lines.
std::vector<RunRecord> waitForRecords(const std::string& file, std::size_t count,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
std::vector<RunRecord> readRecords(const std::string& file);
// argv0 of each record, in the order they were written.
std::vector<std::string> startedPrograms(const std::vector<RunRecord>& records);

// Starts argv[0] with argv, the whole environment given and folder as its
// current folder; its standard error goes to errorFile when one is named, and
// our descriptor3, when given, becomes its descriptor 3. Returns its process
// identifier, or -1.
int startProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
                 const std::string& folder = "/", const std::string& errorFile = "", int descriptor3 = -1);
// Waits for it to end; its exit status, 128 + the signal that ended it, or -1
// when it is still running after timeout.
int waitForExit(int pid, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Waits for every child of this process to end.
void reapChildren();
// The process identifiers of this process's zombie children.
std::vector<int> zombieChildren();

// Lays the built programs with their modules and help into folder, as an
// install would; returns the engine's path there.
std::string installPrograms(const std::string& folder);

// Runs command with the shell; its exit status and what it wrote to stdout.
std::pair<int, std::string> runCapturing(const std::string& command);

// What the sqlite3 tool prints for query on database, as a person would see it.
std::string sqliteOutput(const std::string& database, const std::string& query);

// Leaves beside database the rollback journal of a writer that stopped in
// the middle of emptying every table: a hot journal, which SQLite plays back
// at the next open that may write. The file itself is left as it was.
void leaveHotJournal(const std::string& database);

// Lays beside database the write-ahead log (-wal and -shm) of another
// user's copy of it to which changes were applied: SQLite would read his rows
// as the database's own. Needs root, to give the files to nobody.
void plantAnotherUsersLog(const std::string& database, const std::string& changes);

// Calls plant once, the moment SQLite in this process first asks whether
// path is there (as it does before it opens a journal or a log): after the
// program's own checks, right before SQLite's open. Taken back when it goes.
class PlantWhenSqliteLooks {
public:
    PlantWhenSqliteLooks(std::string path, std::function<void()> plant);
    ~PlantWhenSqliteLooks();
    PlantWhenSqliteLooks(const PlantWhenSqliteLooks&) = delete;
    PlantWhenSqliteLooks& operator=(const PlantWhenSqliteLooks&) = delete;
};

// A mounted folder whose file system never answers a look-up inside it, as
// a network mount whose server has gone; the connection is aborted, and the
// mount taken away, when it goes. Needs root and /dev/fuse: available() says.
class SilentMount {
public:
    SilentMount();
    ~SilentMount();
    SilentMount(const SilentMount&) = delete;
    SilentMount& operator=(const SilentMount&) = delete;
    bool available() const { return m_server > 0; }
    const std::string& path() const { return m_folder.path(); }
    // A path inside, whose look-up never comes back.
    std::string operator/(const std::string& name) const { return m_folder.path() + "/" + name; }

private:
    TempDir m_folder;
    pid_t m_server = -1;
};

// Makes path writable by a group with a member other than this user (as
// root: nobody's group). Writing for this user's private group would be
// harmless, and is accepted.
void letAnotherUsersGroupWrite(const std::string& path);

// The environment record_run wrote with CORVALE_RECORD_ENV: file is that
// name followed by "." and the process identifier.
std::vector<std::string> recordedEnvironment(const std::string& file);

// A desktop of the test's own: XDG folders that know the system's file types
// (its MIME database) but none of the applications installed on the
// machine, only those the test adds.
class OwnDesktop {
public:
    OwnDesktop();
    // An application that records how it was started (record_run, given the
    // file as field asks: %f a path, %u an address), the default for each of
    // the types given (as a launcher's MimeType line: "text/plain;").
    void addRecorder(const std::string& name, const std::string& mimeTypes, const std::string& field = "%f");
    // XDG_DATA_HOME, XDG_DATA_DIRS, XDG_CONFIG_HOME and XDG_CONFIG_DIRS.
    std::vector<std::string> environment() const;
    // Sets them in this process.
    void apply() const;

private:
    TempDir m_dir;
    std::string m_defaults;
};

// Paths of the test helpers, built beside the test programs.
std::string recordRunPath();
// The stand-in notification server (tests/helpers/notification_server.cpp).
std::string notificationServerPath();
// The stand-in of systemd's user instance (tests/helpers/systemd_stand_in.cpp).
std::string systemdStandInPath();
// The watcher's bus side for a test that plays the watcher (its descriptor 3).
std::string watcherStandInPath();

// A session bus of the test's own (dbus-daemon), ended with it. Where
// othersMayConnect, every user may connect and call on it: only a service's
// own check keeps them out.
class SessionBus {
public:
    explicit SessionBus(bool othersMayConnect = false);
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool running() const { return m_daemon > 0; }
    // "DBUS_SESSION_BUS_ADDRESS=unix:path=...", for a program's environment.
    std::string variable() const { return "DBUS_SESSION_BUS_ADDRESS=" + m_address; }
    const std::string& address() const { return m_address; }

private:
    TempDir m_dir;
    std::string m_address;
    int m_daemon = -1;
};

// A network as a test sets it: alive or not, the adapters listed, the
// identities of the chosen one; it remembers what was asked of them.
class FakeNetwork : public corvale::platform::Network {
public:
    bool isAlive = true;
    corvale::platform::AdapterList list;
    int queries = 0;
    corvale::platform::Identity hardware{{}, "none"};
    corvale::platform::Identity wifi{{}, "no Wi-Fi"};
    std::vector<std::string> asked;

    bool alive() override { return isAlive; }
    corvale::platform::AdapterList adapters() override {
        ++queries;
        return list;
    }
    corvale::platform::Identity gatewayHardwareAddress(int index, const std::string& gateway,
                                                       bool resolve) override {
        asked.push_back("gateway " + gateway + " on " + std::to_string(index) +
                        (resolve ? ", resolving" : ""));
        return hardware;
    }
    corvale::platform::Identity wifiName(int index) override {
        asked.push_back("wifi on " + std::to_string(index));
        return wifi;
    }
};

// Answers dialogs in a person's place and remembers every message.
class FakeDialogs : public corvale::Dialogs {
public:
    std::vector<corvale::MessageRequest> messages;
    std::deque<corvale::MessageAnswer> answers;
    std::deque<std::string> files;
    std::vector<corvale::OpenFileRequest> fileRequests;
    std::deque<std::string> folders;
    std::vector<std::string> folderTitles;
    std::vector<std::string> folderStarts;
    // Answers to askText; none left answers as cancelled.
    std::deque<std::optional<std::string>> texts;
    std::vector<corvale::TextRequest> textRequests;

    corvale::MessageAnswer showMessage(const corvale::MessageRequest& request) override;
    std::string openFile(const corvale::OpenFileRequest& request) override;
    std::string chooseFolder(const std::string& title, const std::string& folder) override;
    std::optional<std::string> askText(const corvale::TextRequest& request) override;
};

} // namespace testsupport
