#include "tests/support/test_support.h"

#include "platform/network.h"
#include "shared/network_choice.h"
#include "shared/schema.h"
#include "shared/statements.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sqlite3.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvale-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void writeFile(const std::string& path, const std::string& content, bool executable) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) {
            throw std::runtime_error("cannot write " + path);
        }
    }
    using std::filesystem::perms;
    std::filesystem::permissions(path, executable
                                           ? perms::owner_all | perms::group_read | perms::group_exec
                                           : perms::owner_read | perms::owner_write | perms::group_read);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

namespace {
std::string created(const std::string& path) {
    corvale::createEmptyDatabase(path);
    return path;
}
} // namespace

DatabaseFile::DatabaseFile(const std::string& path) : m_path(created(path)), m_database(path) {}

std::int64_t DatabaseFile::addAddress(const std::string& address) {
    m_database.execute(corvale::statements::insertAddress(address));
    return m_database.lastInsertId();
}

void DatabaseFile::addAddressTo(const std::string& path, const std::string& address) {
    corvale::Database(path).execute(corvale::statements::insertAddress(address));
}

std::int64_t DatabaseFile::addConnectedItem(std::int64_t ipid, const std::string& target,
                                            const std::string& startIn, std::int64_t listOrder) {
    m_database.execute(corvale::statements::insertConnectedItem(ipid, target, startIn, listOrder));
    return m_database.lastInsertId();
}

std::int64_t DatabaseFile::addDisconnectedItem(const std::string& target, const std::string& startIn,
                                               std::int64_t listOrder) {
    m_database.execute(corvale::statements::insertDisconnectedItem(target, startIn, listOrder));
    return m_database.lastInsertId();
}

ApplicableList::ApplicableList(DatabaseFile& db) : m_db(db) {
    corvale::platform::NetlinkNetwork network;
    FakeDialogs dialogs;
    const corvale::DiscoveredAddress discovered =
        corvale::NetworkDiscovery(network, dialogs, "Brisken").discoverIP();
    if (discovered.connected()) {
        m_ipid = m_db.addAddress(discovered.address);
    }
}

void ApplicableList::add(const std::string& target, const std::string& startIn, std::int64_t listOrder) {
    if (m_ipid != 0) {
        m_db.addConnectedItem(m_ipid, target, startIn, listOrder);
    } else {
        m_db.addDisconnectedItem(target, startIn, listOrder);
    }
}

std::vector<RunRecord> readRecords(const std::string& file) {
    std::vector<RunRecord> records;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        RunRecord record;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) {
            const auto equals = field.find('=');
            record[field.substr(0, equals)] = equals == std::string::npos ? "" : field.substr(equals + 1);
        }
        records.push_back(record);
    }
    return records;
}

std::vector<RunRecord> waitForRecords(const std::string& file, std::size_t count,
                                      std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<RunRecord> records = readRecords(file);
    while (records.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        records = readRecords(file);
    }
    return records;
}

std::vector<std::string> startedPrograms(const std::vector<RunRecord>& records) {
    std::vector<std::string> programs;
    for (const RunRecord& record : records) {
        programs.push_back(record.at("argv0"));
    }
    return programs;
}

int startProcess(const std::vector<std::string>& argvTexts, const std::vector<std::string>& environment,
                 const std::string& folder, const std::string& errorFile, int descriptor3) {
    auto pointers = [](const std::vector<std::string>& texts) {
        std::vector<char*> list;
        for (const std::string& text : texts) {
            list.push_back(const_cast<char*>(text.c_str()));
        }
        list.push_back(nullptr);
        return list;
    };
    std::vector<char*> argv = pointers(argvTexts);
    std::vector<char*> envp = pointers(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    if (!errorFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (descriptor3 >= 0) {
        posix_spawn_file_actions_adddup2(&actions, descriptor3, 3);
    }
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int waitForExit(int pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void reapChildren() {
    while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
}

std::vector<int> zombieChildren() {
    std::vector<int> zombies;
    const std::string self = std::to_string(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string content;
        std::getline(stat, content);
        // pid (comm) state ppid ...; comm may hold blanks, so read after ')'.
        const auto close = content.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(content.substr(close + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == self && state == "Z") {
            zombies.push_back(std::stoi(name));
        }
    }
    return zombies;
}

void leaveHotJournal(const std::string& database) {
    const pid_t child = fork();
    if (child == 0) {
        // Without syncs the journal is complete as soon as a page is in it.
        try {
            corvale::platform::SqliteConnection writer(
                database, corvale::platform::SqliteConnection::Mode::OpenExisting);
            writer.execScript("PRAGMA synchronous=OFF; BEGIN; DELETE FROM ConnectedList; "
                              "DELETE FROM DisConnectedList; DELETE FROM IPs;");
            _exit(0); // the transaction is neither committed nor rolled back
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "%s\n", failure.what());
            _exit(1);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !std::filesystem::exists(database + "-journal")) {
        throw std::runtime_error("no journal was left beside " + database);
    }
}

void plantAnotherUsersLog(const std::string& database, const std::string& changes) {
    TempDir theirs;
    std::filesystem::copy_file(database, theirs / "corvale.mdb");
    corvale::platform::SqliteConnection his(theirs / "corvale.mdb",
                                            corvale::platform::SqliteConnection::Mode::OpenExisting);
    his.execScript("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;" + changes);
    for (const std::string suffix : {"-wal", "-shm"}) {
        std::filesystem::copy_file(theirs / ("corvale.mdb" + suffix), database + suffix);
        if (chown((database + suffix).c_str(), 65534, 65534) != 0) {
            throw std::runtime_error("cannot give " + database + suffix + " to nobody");
        }
    }
}

namespace {
using StatCall = int (*)(const char*, struct stat*);
StatCall sqlitesStat = nullptr;
std::string plantAt;
std::function<void()> planting;

// SQLite asks whether a journal or log is there with stat().
int statThatPlants(const char* path, struct stat* info) {
    if (planting && path == plantAt) {
        std::exchange(planting, nullptr)();
    }
    return sqlitesStat(path, info);
}
} // namespace

PlantWhenSqliteLooks::PlantWhenSqliteLooks(std::string path, std::function<void()> plant) {
    sqlite3_vfs* unix = sqlite3_vfs_find("unix");
    sqlitesStat = reinterpret_cast<StatCall>(unix->xGetSystemCall(unix, "stat"));
    plantAt = std::move(path);
    planting = std::move(plant);
    unix->xSetSystemCall(unix, "stat", reinterpret_cast<sqlite3_syscall_ptr>(statThatPlants));
}

PlantWhenSqliteLooks::~PlantWhenSqliteLooks() {
    sqlite3_vfs* unix = sqlite3_vfs_find("unix");
    unix->xSetSystemCall(unix, "stat", reinterpret_cast<sqlite3_syscall_ptr>(sqlitesStat));
    planting = nullptr;
}

SilentMount::SilentMount() {
    if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) {
        return;
    }
    int said[2];
    if (pipe2(said, O_CLOEXEC) != 0) {
        return;
    }
    const pid_t server = fork();
    if (server == 0) {
        dup2(said[1], STDOUT_FILENO);
        execl(SILENT_MOUNT_PATH, SILENT_MOUNT_PATH, m_folder.path().c_str(), nullptr);
        _exit(127);
    }
    close(said[1]);
    char line[16] = {};
    const ssize_t got = server > 0 ? read(said[0], line, sizeof line - 1) : -1;
    close(said[0]);
    if (got > 0 && std::string(line) == "mounted\n") {
        m_server = server;
    } else if (server > 0) {
        waitpid(server, nullptr, 0);
    }
}

SilentMount::~SilentMount() {
    if (m_server > 0) {
        kill(m_server, SIGTERM);
        waitpid(m_server, nullptr, 0);
        umount2(m_folder.path().c_str(), MNT_DETACH);
    }
}

void letAnotherUsersGroupWrite(const std::string& path) {
    if (geteuid() == 0 && chown(path.c_str(), static_cast<uid_t>(-1), 65534) != 0) {
        throw std::runtime_error("cannot give " + path + " to nobody's group");
    }
    std::filesystem::permissions(path, std::filesystem::perms::group_write,
                                 std::filesystem::perm_options::add);
}

std::pair<int, std::string> runCapturing(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = pipe ? pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string sqliteOutput(const std::string& database, const std::string& query) {
    return runCapturing("sqlite3 '" + database + "' \"" + query + "\"").second;
}

std::vector<std::string> recordedEnvironment(const std::string& file) {
    std::vector<std::string> variables;
    std::istringstream content(readFile(file));
    for (std::string variable; std::getline(content, variable, '\0');) {
        variables.push_back(variable);
    }
    return variables;
}

OwnDesktop::OwnDesktop() {
    namespace fs = std::filesystem;
    fs::create_directories(m_dir / "data/applications");
    fs::create_directories(m_dir / "system/applications");
    fs::create_directories(m_dir / "config");
    fs::create_directories(m_dir / "system-config");
    fs::create_directory_symlink("/usr/share/mime", m_dir / "system/mime");
}

void OwnDesktop::addRecorder(const std::string& name, const std::string& mimeTypes,
                             const std::string& field) {
    writeFile(m_dir / ("data/applications/" + name + ".desktop"),
              "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + recordRunPath() + " " + field +
                  "\nMimeType=" + mimeTypes + "\n");
    std::istringstream types(mimeTypes);
    for (std::string type; std::getline(types, type, ';');) {
        if (!type.empty()) {
            m_defaults += type + "=" + name + ".desktop\n";
        }
    }
    writeFile(m_dir / "config/mimeapps.list", "[Default Applications]\n" + m_defaults);
}

std::vector<std::string> OwnDesktop::environment() const {
    return {"XDG_DATA_HOME=" + (m_dir / "data"), "XDG_DATA_DIRS=" + (m_dir / "system"),
            "XDG_CONFIG_HOME=" + (m_dir / "config"), "XDG_CONFIG_DIRS=" + (m_dir / "system-config")};
}

void OwnDesktop::apply() const {
    for (const std::string& variable : environment()) {
        const auto equals = variable.find('=');
        setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
    }
}

std::string recordRunPath() {
    return RECORD_RUN_PATH;
}

std::string notificationServerPath() {
    return NOTIFICATION_SERVER_PATH;
}

std::string systemdStandInPath() {
    return SYSTEMD_STAND_IN_PATH;
}

std::string watcherStandInPath() {
    return WATCHER_STAND_IN_PATH;
}

SessionBus::SessionBus(bool othersMayConnect) {
    const std::string socket = m_dir / "bus";
    m_address = "unix:path=" + socket;
    writeFile(m_dir / "bus.conf",
              "<busconfig><type>session</type><listen>" + m_address +
                  "</listen><auth>EXTERNAL</auth><policy context=\"default\">" +
                  (othersMayConnect ? "<allow user=\"*\"/>" : "") +
                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                  "<allow own=\"*\"/></policy></busconfig>\n");
    // It forks once it listens, and is no child of this process: a test that
    // waits for all its children does not wait for it.
    const auto [status, pid] = runCapturing(
        "/usr/bin/dbus-daemon --fork --print-pid --config-file=" + (m_dir / "bus.conf") + " 2>/dev/null");
    m_daemon = status == 0 ? std::atoi(pid.c_str()) : -1;
    if (othersMayConnect && m_daemon > 0) {
        std::filesystem::permissions(m_dir.path(), std::filesystem::perms::all);
        std::filesystem::permissions(socket, std::filesystem::perms::all);
    }
}

SessionBus::~SessionBus() {
    if (m_daemon <= 0) {
        return;
    }
    kill(m_daemon, SIGTERM);
    // A subreaper's test has it as a child again, to reap.
    for (int i = 0; i < 1000; ++i) {
        if (waitpid(m_daemon, nullptr, WNOHANG) == m_daemon || kill(m_daemon, 0) != 0) {
            break;
        }
        usleep(10'000);
    }
}

std::string installPrograms(const std::string& folder) {
    for (const char* file :
         {"brisken", "corvale", "libcorvale_dialogs.so", "libcorvale_gio.so", "Help.htm"}) {
        std::filesystem::copy_file(std::filesystem::path(PROGRAM_DIR) / file,
                                   std::filesystem::path(folder) / file);
    }
    return folder + "/brisken";
}

corvale::MessageAnswer FakeDialogs::showMessage(const corvale::MessageRequest& request) {
    messages.push_back(request);
    if (answers.empty()) {
        return request.buttons == corvale::MessageButtons::YesNo ? corvale::MessageAnswer::No
                                                                 : corvale::MessageAnswer::Ok;
    }
    const corvale::MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
}

std::string FakeDialogs::openFile(const corvale::OpenFileRequest& request) {
    fileRequests.push_back(request);
    if (files.empty()) {
        return {};
    }
    std::string file = files.front();
    files.pop_front();
    return file;
}

std::optional<std::string> FakeDialogs::askText(const corvale::TextRequest& request) {
    textRequests.push_back(request);
    if (texts.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> text = texts.front();
    texts.pop_front();
    return text;
}

std::string FakeDialogs::chooseFolder(const std::string& title, const std::string& startAt) {
    folderTitles.push_back(title);
    folderStarts.push_back(startAt);
    if (folders.empty()) {
        return {};
    }
    std::string folder = folders.front();
    folders.pop_front();
    return folder;
}

} // namespace testsupport
