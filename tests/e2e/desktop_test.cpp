// The built engine on a real X display (Xvfb), its windows found by title and
// answered with xdotool as a person would. A failed test leaves a screenshot
// in the screenshots folder beside the test program.
#include "tests/support/test_support.h"
#include "tests/support/x_display.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testsupport::DatabaseFile;
using testsupport::TempDir;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class EngineOnADesktop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(x.display().empty()) << "cannot start Xvfb";

        testsupport::installPrograms(program.path());
        fs::create_directory(program / "work");
    }

    void TearDown() override {
        if (HasFailure()) {
            testsupport::screenshotOfFailure(x, SCREENSHOT_DIR);
        }
        if (m_engine > 0 && testsupport::waitForExit(m_engine, 0ms) < 0) {
            kill(m_engine, SIGKILL);
            waitpid(m_engine, nullptr, 0);
        }
    }

    void startEngine(const std::string& folder, std::vector<std::string> environment = {}) {
        environment.push_back("PATH=/usr/bin:/bin");
        environment.push_back("DISPLAY=" + x.display());
        environment.push_back("CORVALE_RECORD=" + (program / "record"));
        m_engine = testsupport::startProcess({program / "brisken"}, environment, folder);
        ASSERT_GT(m_engine, 0);
    }

    std::size_t started() { return testsupport::readRecords(program / "record").size(); }

    std::string item(const std::string& name) {
        fs::create_symlink(testsupport::recordRunPath(), program / name);
        return program / name;
    }

    TempDir program;
    TempDir elsewhere;
    testsupport::XDisplay x;
    pid_t m_engine = -1;
};

TEST_F(EngineOnADesktop, DatabaseBesideTheEngineIsFoundWithoutAnyWindow) {
    {
        DatabaseFile db(program / "corvale.mdb");
        testsupport::ApplicableList(db).add(item("tool"), program / "work", 1);
    }
    startEngine(elsewhere.path());
    EXPECT_EQ(testsupport::waitForExit(m_engine, 10s), 0) << "the engine waited for an answer";
    EXPECT_EQ(testsupport::waitForRecords(program / "record", 1).size(), 1u);
}

TEST_F(EngineOnADesktop, NoDatabasePromptCancelledBringsTheRefusalThenTheEnd) {
    startEngine(elsewhere.path());
    ASSERT_TRUE(x.windowAppears("Corvale - It's your choice..."));
    x.press("Escape");
    ASSERT_TRUE(x.windowAppears("Brisken"));
    EXPECT_EQ(testsupport::waitForExit(m_engine, 300ms), -1)
        << "the engine ended before its message was answered";
    x.press("Return");
    EXPECT_EQ(testsupport::waitForExit(m_engine, 10s), 2);
}

TEST_F(EngineOnADesktop, FailedItemIsShownOnceAfterTheOthersStarted) {
    {
        DatabaseFile db(program / "corvale.mdb");
        testsupport::ApplicableList list(db);
        list.add(item("first"), program / "work", 1);
        list.add(program / "missing", program / "work", 2);
        list.add(item("third"), program / "work", 3);
    }
    startEngine(elsewhere.path());
    ASSERT_TRUE(x.windowAppears("Brisken"));
    EXPECT_EQ(testsupport::waitForRecords(program / "record", 2).size(), 2u);
    EXPECT_EQ(testsupport::waitForExit(m_engine, 300ms), -1);
    x.press("Return");
    EXPECT_EQ(testsupport::waitForExit(m_engine, 10s), 0);
}

// The session ends while the message is open: the display goes away under
// it, and the run ends by exit, not by a crash (its summary is written).
TEST_F(EngineOnADesktop, MessageOpenWhenTheDisplayGoesAwayEndsWithoutACrash) {
    {
        DatabaseFile db(program / "corvale.mdb");
        testsupport::ApplicableList(db).add(program / "missing", program / "work", 1);
    }
    auto session = std::make_unique<testsupport::XDisplay>();
    m_engine = testsupport::startProcess(
        {program / "brisken"}, {"PATH=/usr/bin:/bin", "DISPLAY=" + session->display()}, elsewhere.path());
    ASSERT_TRUE(session->windowAppears("Brisken"));
    session.reset();
    EXPECT_EQ(testsupport::waitForExit(m_engine, 10s), 1) << "a status above 128 is the signal that ended it";
}

// The engine carries its own C++ runtime; both modules (GIO to open the
// document, Qt for the message) bring the system's. One run uses all three.
TEST_F(EngineOnADesktop, DocumentIsOpenedAndTheFailureShownThroughBothModules) {
    testsupport::OwnDesktop desktop;
    desktop.addRecorder("Recorder", "text/plain;");
    testsupport::writeFile(program / "work/notes.txt", "a document\n");
    {
        DatabaseFile db(program / "corvale.mdb");
        testsupport::ApplicableList list(db);
        list.add(program / "work/notes.txt", program / "work", 1);
        list.add(program / "missing", program / "work", 2);
    }
    startEngine(elsewhere.path(), desktop.environment());
    ASSERT_TRUE(x.windowAppears("Brisken"));
    const auto records = testsupport::waitForRecords(program / "record", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].at("args"), program / "work/notes.txt");
    x.press("Return");
    EXPECT_EQ(testsupport::waitForExit(m_engine, 10s), 0);
}

TEST_F(EngineOnADesktop, DatabaseThatCannotBeOpenedIsShownAndNothingStarts) {
    testsupport::writeFile(program / "corvale.mdb", std::string(4096, 'q'));
    startEngine(elsewhere.path());
    ASSERT_TRUE(x.windowAppears("Brisken"));
    x.press("Return");
    EXPECT_EQ(testsupport::waitForExit(m_engine, 10s), 1);
    EXPECT_EQ(started(), 0u);
}

// Showing a window (here the question for the database) must not change what
// the programs started afterwards are given: a program and a document opened
// by an application both see the engine's own environment.
TEST_F(EngineOnADesktop, ProgramsStartedAfterAWindowGetTheEnvironmentTheEngineWasGiven) {
    testsupport::OwnDesktop desktop;
    desktop.addRecorder("Recorder", "text/plain;");
    testsupport::writeFile(program / "work/notes.txt", "a document\n");
    {
        DatabaseFile db(elsewhere / "corvale.mdb");
        testsupport::ApplicableList list(db);
        list.add(item("first"), program / "work", 1);
        list.add(program / "work/notes.txt", program / "work", 2);
    }
    std::vector<std::string> given = desktop.environment();
    given.push_back("CORVALE_RECORD_ENV=" + (program / "env"));
    given.push_back("LANG=C.UTF-8");
    startEngine(elsewhere.path(), given);
    ASSERT_TRUE(testsupport::chooseDatabaseWhenAsked(x, elsewhere / "corvale.mdb"));
    EXPECT_EQ(testsupport::waitForExit(m_engine, 10s), 0);
    const auto records = testsupport::waitForRecords(program / "record", 2);
    ASSERT_EQ(records.size(), 2u);

    given.push_back("PATH=/usr/bin:/bin");
    given.push_back("DISPLAY=" + x.display());
    given.push_back("CORVALE_RECORD=" + (program / "record"));
    // And where they were started: the program, and the document through
    // GIO's launch context.
    for (const char* place :
         {"BRISKEN_ADDRESS=192.0.2.2", "BRISKEN_ENTRY=192.0.2.2", "BRISKEN_GATEWAY=192.0.2.1",
          "BRISKEN_INTERFACE=eth0", "BRISKEN_PLACE=192.0.2.2", "BRISKEN_RUN=logon"}) {
        given.push_back(place);
    }
    std::sort(given.begin(), given.end());
    for (const auto& run : records) {
        std::vector<std::string> seen;
        for (const std::string& variable :
             testsupport::recordedEnvironment(program / ("env." + run.at("pid")))) {
            // What the application launcher tells the application about itself.
            if (variable.rfind("GIO_LAUNCHED_DESKTOP_FILE", 0) != 0) {
                seen.push_back(variable);
            }
        }
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, given) << run.at("argv0");
    }
}

} // namespace
