// The built engine run as a whole process, the way a logon entry starts it.
#include "engine/address_discovery.h"
#include "tests/support/test_support.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
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
    const auto begun = std::chrono::steady_clock::now();
    // A display that does not exist: a run with nothing to show must not even
    // try to connect to one.
    const int status = runIn(
        elsewhere.path(), program / "brisken",
        {"PATH=/usr/bin:/bin", "DISPLAY=:31999", "CORVALE_RECORD=" + record, "CORVALE_RECORD_DELAY_MS=400"});
    const auto ended = std::chrono::steady_clock::now();
    EXPECT_EQ(status, 0);
    EXPECT_LT(ended - begun, std::chrono::milliseconds(400)) << "the engine waited for what it started";
    EXPECT_FALSE(fs::exists(record)) << "the items ran before their delay";

    const auto records = testsupport::waitForRecords(record, 2);
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
