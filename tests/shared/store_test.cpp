#include "platform/failure.h"
#include "platform/sqlite_connection.h"
#include "shared/database.h"
#include "shared/schema.h"
#include "shared/statements.h"
#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace corvale;
using testsupport::DatabaseFile;
using testsupport::TempDir;
namespace st = corvale::statements;

namespace {

std::string openFailure(const std::string& path) {
    try {
        Database database(path);
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "(opened)";
}

std::vector<std::string> addressesInOrder(Database& database) {
    std::vector<std::string> addresses;
    for (Recordset rs = database.openRecordset(st::allAddresses()); !rs.eof(); rs.moveNext()) {
        addresses.push_back(rs.field("ipaddress").text());
    }
    return addresses;
}

} // namespace

TEST(Store, NewDatabaseHasTheThreeTablesAndIsMarkedWithItsFormat) {
    TempDir dir;
    createEmptyDatabase(dir / "corvale.mdb");
    platform::SqliteConnection raw(dir / "corvale.mdb", platform::SqliteConnection::Mode::OpenExisting);
    EXPECT_EQ(std::get<std::int64_t>(raw.query("PRAGMA user_version").rows.at(0).at(0)), kSchemaVersion);
    for (const TableShape& table : expectedTables()) {
        const auto columns = raw.query("SELECT name FROM pragma_table_info(?)", {table.name});
        ASSERT_EQ(columns.rows.size(), table.columns.size()) << table.name;
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            EXPECT_EQ(std::get<std::string>(columns.rows[i][0]), table.columns[i]);
        }
    }
    EXPECT_THROW(createEmptyDatabase(dir / "corvale.mdb"), Failure)
        << "an existing file must never be replaced";
}

TEST(Store, KeysAreGivenByTheStoreAndNeverReused) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    const auto first = file.addAddress("192.168.1.20");
    const auto second = file.addAddress("192.168");
    EXPECT_NE(first, second);
    file.database().execute(st::deleteAddress(second));
    const auto third = file.addAddress("10");
    EXPECT_GT(third, second) << "a deleted row's key came back";

    const auto item = file.addDisconnectedItem("/bin/a", "/bin", 1);
    file.database().execute(st::deleteItem(st::ListTable::Disconnected, item));
    EXPECT_GT(file.addDisconnectedItem("/bin/b", "/bin", 2), item);
}

TEST(Store, RecordsetReadsRowsInOrderAndFindsFieldsInAnyCase) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    file.addDisconnectedItem("/opt/second", "/opt", 20);
    file.addDisconnectedItem("/opt/first", "/tmp", 10);

    Recordset rs = file.database().openRecordset(st::disconnectedList());
    ASSERT_GT(rs.recordCount(), 0u);
    EXPECT_EQ(rs.field("targetPath").text(), "/opt/first");
    EXPECT_EQ(rs.field("TARGETPATH").text(), "/opt/first");
    EXPECT_EQ(rs.field("startinpath").text(), "/tmp");
    rs.moveNext();
    EXPECT_EQ(rs.field("TargetPath").text(), "/opt/second");
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    EXPECT_THROW(rs.field("TargetPath"), Failure);
    EXPECT_THROW(rs.moveNext(), Failure);

    Recordset max = file.database().openRecordset(st::maxListOrder(st::ListTable::Disconnected));
    EXPECT_EQ(max.field("MAXORDER").number(), 20);

    Recordset empty = file.database().openRecordset(st::connectedItems(1));
    EXPECT_EQ(empty.recordCount(), 0u);
    EXPECT_TRUE(empty.eof());
}

TEST(Store, UnknownFieldAndNullTextFailWithADescription) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    file.database().execute({"Insert into DisConnectedList (TargetPath,ListOrder) values ('/bin/x', 1)", {}});
    Recordset rs = file.database().openRecordset(st::disconnectedList());
    EXPECT_TRUE(rs.field("StartinPath").isNull());
    EXPECT_THROW(rs.field("StartinPath").text(), Failure);
    try {
        rs.field("NoSuchColumn");
        FAIL() << "an unknown field was found";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("NoSuchColumn"), std::string::npos);
    }
}

TEST(Store, ValuesWithQuotesSemicolonsAndDashesAreKeptAsTyped) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    const std::string tricky = "192.168' OR '1'='1; DROP TABLE IPs; --";
    const auto ipid = file.addAddress(tricky);
    file.addAddress("192.168");

    EXPECT_EQ(file.database().openRecordset(st::addressCheck(tricky)).field("IPID").number(), ipid);
    EXPECT_EQ(file.database().openRecordset(st::addressCheck("192.168' OR '1'='1")).recordCount(), 0u);
    EXPECT_EQ(addressesInOrder(file.database()), (std::vector<std::string>{"192.168", tricky}));

    const std::string target = "/home/o'brien/my -- tool;.sh";
    file.addConnectedItem(ipid, target, "/home/o'brien", 1);
    Recordset items = file.database().openRecordset(st::connectedListForAddress(tricky));
    ASSERT_GT(items.recordCount(), 0u);
    EXPECT_EQ(items.field("TargetPath").text(), target);
    EXPECT_EQ(items.field("StartinPath").text(), "/home/o'brien");

    EXPECT_EQ(file.database().execute(st::deleteItemOfAddress(ipid, target)), 1);
    EXPECT_EQ(file.database().execute(st::renameAddress(ipid, "it's")), 1);
    EXPECT_EQ(file.database().openRecordset(st::otherAddressId(0, "it's")).recordCount(), 1u);
    EXPECT_EQ(file.database().execute(st::deleteAddress(ipid)), 1);
    EXPECT_EQ(addressesInOrder(file.database()), (std::vector<std::string>{"192.168"}));
}

TEST(Store, PrefixesAreStoredAndMatchedAsWholeTexts) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    file.addAddress("192.168");
    EXPECT_EQ(addressesInOrder(file.database()), (std::vector<std::string>{"192.168"}));
    EXPECT_EQ(file.database().openRecordset(st::addressCheck("192.16")).recordCount(), 0u);
    EXPECT_EQ(file.database().openRecordset(st::addressCheck("192.168.1")).recordCount(), 0u);
}

TEST(Store, OpenRefusesFilesThatAreNotOurs) {
    TempDir dir;
    const std::string missing = dir / "missing.mdb";
    EXPECT_NE(openFailure(missing).find("unable to open database file"), std::string::npos);
    EXPECT_NE(openFailure(missing).find(missing), std::string::npos) << "the description names the file";

    testsupport::writeFile(dir / "garbage.mdb", std::string(4096, 'x'));
    EXPECT_NE(openFailure(dir / "garbage.mdb").find("file is not a database"), std::string::npos);

    {
        platform::SqliteConnection other(dir / "other.mdb", platform::SqliteConnection::Mode::Create);
        other.execScript("CREATE TABLE IPs (IPID INTEGER PRIMARY KEY, IPaddress TEXT);"
                         "CREATE TABLE ConnectedList (ListID INTEGER, IPID INTEGER, TargetPath TEXT,"
                         " StartinPath TEXT, ListOrder INTEGER);");
    }
    EXPECT_NE(openFailure(dir / "other.mdb").find("no table DisConnectedList"), std::string::npos);

    {
        platform::SqliteConnection partial(dir / "partial.mdb", platform::SqliteConnection::Mode::Create);
        partial.execScript("CREATE TABLE IPs (IPID INTEGER PRIMARY KEY, IPaddress TEXT);"
                           "CREATE TABLE ConnectedList (ListID INTEGER, IPID INTEGER, TargetPath TEXT,"
                           " StartinPath TEXT);"
                           "CREATE TABLE DisConnectedList (ListID INTEGER, TargetPath TEXT, StartinPath TEXT,"
                           " ListOrder INTEGER);");
    }
    EXPECT_NE(openFailure(dir / "partial.mdb").find("ConnectedList has no column ListOrder"),
              std::string::npos);
}

// A file of the three tables alone (format 0), and one of the last release
// (format 1, with the names' table it made on first write): the engine
// reads either without changing a byte; the tool brings each to this
// format, keeping every row, and the engine reads the result.
TEST(Store, EarlierFormatsAreBroughtUpByTheToolAndReadUnchangedByTheEngine) {
    TempDir dir;
    // Format 2 is the last release's: its engine reads ConnectedList alone.
    for (const int format : {0, 1, 2}) {
        const std::string path = dir / ("format" + std::to_string(format) + ".mdb");
        {
            platform::SqliteConnection raw(path, platform::SqliteConnection::Mode::Create);
            raw.execScript(schemaScript() + "PRAGMA user_version = " + std::to_string(format) +
                           "; insert into IPs (IPaddress) values ('10.1');"
                           "insert into ConnectedList (IPID,TargetPath,StartinPath,ListOrder) values "
                           "(1,'/bin/a','/',1);");
            if (format >= 1) {
                raw.execScript("create table EntryNames (IPID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
                               "insert into EntryNames values (1, 'Home');"
                               "create table ItemOptions (List TEXT NOT NULL, ListID INTEGER NOT NULL, "
                               "StopOnLeave INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (List, ListID));"
                               "insert into ItemOptions values ('ConnectedList', 1, 1)");
            }
            if (format == 2) {
                raw.execScript("CREATE INDEX ConnectedListOfAddress ON ConnectedList (IPID, ListOrder);"
                               "CREATE INDEX IPsByText ON IPs (IPaddress);");
            }
        }
        const std::string before = testsupport::readFile(path);
        {
            Database engine(path, Database::Access::ReadOnly);
            EXPECT_EQ(
                engine.openRecordset({"select TargetPath from ConnectedList", {}}).field("TargetPath").text(),
                "/bin/a");
            EXPECT_EQ(engine.extraTables().itemOptions,
                      format >= 1 ? Database::Table::Usable : Database::Table::Absent);
        }
        EXPECT_EQ(testsupport::readFile(path), before) << "the engine changed a file of format " << format;
        { Database tool(path); }
        EXPECT_EQ(
            testsupport::sqliteOutput(
                path, "pragma user_version; select name from sqlite_master where type "
                      "in ('table','index') and name not like 'sqlite%' order by name; "
                      "select count(*) from ConnectedList; select count(*) from EntryNames, ItemOptions"),
            std::to_string(kSchemaVersion) +
                "\nConnectedLeavingList\nConnectedLeavingListOfAddress\nConnectedList\nConnectedListOfAddress"
                "\n"
                "DisConnectedLeavingList\nDisConnectedList\nEntryNames\nIPs\nIPsByText\nItemOptions\n1\n" +
                (format >= 1 ? "1\n" : "0\n"));
        // An item that runs on leaving is where the last release's engine,
        // which reads the list by this very statement, never starts it.
        testsupport::sqliteOutput(path,
                                  "insert into ConnectedLeavingList (IPID,TargetPath,StartinPath,ListOrder) "
                                  "values (1,'/bin/bye','/',1)");
        Database engine(path, Database::Access::ReadOnly);
        EXPECT_EQ(engine.extraTables().entryNames, Database::Table::Usable);
        EXPECT_EQ(engine.extraTables().itemOptions, Database::Table::Usable);
        EXPECT_EQ(engine.extraTables().connectedLeaving, Database::Table::Usable);
        EXPECT_EQ(engine.openRecordset(st::connectedListForAddress("10.1")).recordCount(), 1u);
    }
    // A table of another shape (made by hand) is settled when the tool opens
    // the file: kept whole under a new name, said once, and made afresh.
    const std::string path = dir / "format1.mdb";
    testsupport::sqliteOutput(path, "drop table ItemOptions; create table ItemOptions (Item TEXT); "
                                    "insert into ItemOptions values ('mine'); "
                                    "create table ItemOptions_set_aside (x)");
    {
        Database tool(path);
        ASSERT_EQ(tool.settleNotices().size(), 1u);
        EXPECT_EQ(tool.settleNotices()[0],
                  "The table ItemOptions in " + path +
                      " was not as this program knows it. It is kept, whole, as "
                      "ItemOptions_set_aside_2, and a new, empty ItemOptions is made.");
    }
    EXPECT_EQ(testsupport::sqliteOutput(path, "select Item from ItemOptions_set_aside_2; "
                                              "select count(*) from pragma_table_info('ItemOptions')"),
              "mine\n3\n");
    EXPECT_TRUE(Database(path).settleNotices().empty()) << "settled once";
}

// A newer program's file: the engine reads it as far as it knows it; the
// tool shows it and writes nothing, saying why.
TEST(Store, NewerFormatIsReadButNeverWritten) {
    TempDir dir;
    createEmptyDatabase(dir / "corvale.mdb");
    {
        platform::SqliteConnection raw(dir / "corvale.mdb", platform::SqliteConnection::Mode::OpenExisting);
        raw.execScript("PRAGMA user_version = " + std::to_string(kSchemaVersion + 1) +
                       "; insert into IPs (IPaddress) values ('10.1')");
    }
    const std::string before = testsupport::readFile(dir / "corvale.mdb");
    {
        Database engine(dir / "corvale.mdb", Database::Access::ReadOnly);
        EXPECT_EQ(engine.format(), kSchemaVersion + 1);
        EXPECT_EQ(engine.openRecordset({"select IPaddress from IPs", {}}).field("IPaddress").text(), "10.1");
    }
    Database tool(dir / "corvale.mdb");
    EXPECT_EQ(tool.openRecordset({"select IPaddress from IPs", {}}).field("IPaddress").text(), "10.1");
    try {
        tool.execute({"insert into IPs (IPaddress) values ('10.2')", {}});
        ADD_FAILURE() << "a newer program's file was written";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("does not change it"), std::string::npos);
    }
    EXPECT_EQ(testsupport::readFile(dir / "corvale.mdb"), before);
}

TEST(Store, DatabaseMadeByHandWithTheSqliteToolIsAccepted) {
    TempDir dir;
    const std::string path = dir / "corvale.mdb";
    testsupport::writeFile(
        dir / "schema.sql",
        "create table ips (ipid integer primary key autoincrement, ipaddress text);\n"
        "create table connectedlist (listid integer primary key autoincrement, ipid integer,"
        " targetpath text, startinpath text, listorder integer);\n"
        "create table disconnectedlist (listid integer primary key autoincrement,"
        " targetpath text, startinpath text, listorder integer);\n"
        "insert into ips (ipaddress) values ('10.0.0.5');\n");
    const std::string command = "sqlite3 '" + path + "' < '" + (dir / "schema.sql") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);

    Database database(path);
    EXPECT_EQ(database.openRecordset(st::addressCheck("10.0.0.5")).recordCount(), 1u);
}

TEST(Store, ReaderWaitsForAnotherProcessesWriteInsteadOfFailing) {
    TempDir dir;
    DatabaseFile file(dir / "corvale.mdb");
    file.addDisconnectedItem("/bin/before", "/bin", 1);

    // A second connection holds the file exclusively for a moment, as the
    // configuration tool does while it writes.
    platform::SqliteConnection writer(file.path(), platform::SqliteConnection::Mode::OpenExisting);
    writer.execScript("BEGIN EXCLUSIVE");
    writer.execute(
        "Insert into DisConnectedList (TargetPath,StartinPath,ListOrder) values ('/bin/during','/bin',2)");
    std::atomic<bool> committed{false};
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        committed = true;
        writer.execScript("COMMIT");
    });

    Database reader(file.path());
    Recordset rs = reader.openRecordset(st::disconnectedList());
    const bool readAfterCommit = committed;
    release.join();

    EXPECT_TRUE(readAfterCommit) << "the read did not wait for the lock";
    std::vector<std::string> targets;
    for (; !rs.eof(); rs.moveNext()) {
        targets.push_back(rs.field("TargetPath").text());
    }
    EXPECT_EQ(targets, (std::vector<std::string>{"/bin/before", "/bin/during"}));
}

TEST(Store, ReadOnlyOpenNeverPlaysBackAJournalNorChangesAWriteAheadLog) {
    TempDir dir;
    const std::string path = dir / "corvale.mdb";
    DatabaseFile(path).addDisconnectedItem("/bin/mine", "/bin", 1);
    testsupport::leaveHotJournal(path);
    const std::string file = testsupport::readFile(path);
    const std::string journal = testsupport::readFile(path + "-journal");
    try {
        Database database(path, Database::Access::ReadOnly);
        ADD_FAILURE() << "a database with a hot journal was opened read-only";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("The database " + path + " was left half-changed"),
                  std::string::npos)
            << failure.what();
    }
    EXPECT_EQ(testsupport::readFile(path), file);
    EXPECT_EQ(testsupport::readFile(path + "-journal"), journal);
    // The tool may write: it plays the journal back and nothing is lost.
    Database repaired(path);
    EXPECT_EQ(repaired.openRecordset(st::disconnectedList()).recordCount(), 1u);
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));

    // A log still open in another program holds the newest rows.
    platform::SqliteConnection writer(path, platform::SqliteConnection::Mode::OpenExisting);
    writer.execScript(
        "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
        "INSERT INTO DisConnectedList (TargetPath,StartinPath,ListOrder) VALUES ('/bin/new','/',2)");
    const std::string walFile = testsupport::readFile(path);
    const std::string log = testsupport::readFile(path + "-wal");
    {
        Database reader(path, Database::Access::ReadOnly);
        EXPECT_EQ(reader.openRecordset(st::disconnectedList()).recordCount(), 2u);
    }
    EXPECT_EQ(testsupport::readFile(path), walFile);
    EXPECT_EQ(testsupport::readFile(path + "-wal"), log);
}

// A FIFO laid as the journal in the moment SQLite looks for one, or in the
// database's own place: an open that waited for its other end would hold
// the window (or the run) for good. Both opens refuse it at once.
TEST(Store, AFifoBesideOrInPlaceOfTheDatabaseIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string path = dir / "corvale.mdb";
    DatabaseFile(path).addDisconnectedItem("/bin/mine", "/bin", 1);
    for (const auto access : {Database::Access::ReadWrite, Database::Access::ReadOnly}) {
        const testsupport::PlantWhenSqliteLooks plant(
            path + "-journal", [&] { ASSERT_EQ(mkfifo((path + "-journal").c_str(), 0600), 0); });
        try {
            Database database(path, access);
            database.openRecordset(st::disconnectedList());
            ADD_FAILURE() << "a FIFO was read as the journal";
        } catch (const Failure& failure) {
            EXPECT_NE(std::string(failure.what()).find("-journal beside the database is not a regular file"),
                      std::string::npos)
                << failure.what();
        }
        std::filesystem::remove(path + "-journal");
    }
    const std::string fifo = dir / "fifo.mdb";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_NE(openFailure(fifo).find(fifo + " is not a regular file"), std::string::npos)
        << openFailure(fifo);
    try {
        Database database(fifo, Database::Access::ReadOnly);
        ADD_FAILURE() << "a FIFO was opened as the database";
    } catch (const Failure& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "The database " + fifo + " is not a regular file, so it is not used.");
    }
}

TEST(Store, DatabaseTheUserMayNotReadSaysSo) {
    TempDir dir;
    const std::string path = dir / "corvale.mdb";
    createEmptyDatabase(path);
    std::filesystem::permissions(path, std::filesystem::perms::none);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    if (child == 0) {
        // Root reads everything: the open is tried as nobody.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(1);
        }
        const std::string text = openFailure(path);
        _exit(write(channel[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(text, "Cannot open " + path + ": Permission denied");
}

TEST(Store, WorkspaceMustExistBeforeTheOpen) {
    TempDir dir;
    createEmptyDatabase(dir / "corvale.mdb");
    ConnectionState state;
    state.dbPath = dir / "corvale.mdb";
    EXPECT_THROW(state.openDatabase(), Failure);
    state.openWorkspace();
    EXPECT_EQ(state.wrkSpace->name, "lgnWrkSpace");
    state.openDatabase();
    ASSERT_NE(state.dbase, nullptr);
    EXPECT_EQ(state.dbase->path(), dir / "corvale.mdb");
}
