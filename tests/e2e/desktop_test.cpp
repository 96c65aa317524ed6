// The built engine on a real X display (Xvfb), its windows found by title and
// answered with xdotool as a person would. A failed test leaves a screenshot
// in the screenshots folder beside the test program.
#include "tests/support/test_support.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testsupport::DatabaseFile;
using testsupport::TempDir;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 256> buffer{};
        while (fgets(buffer.data(), buffer.size(), pipe)) {
            text += buffer.data();
        }
        pclose(pipe);
    }
    return text;
}

class EngineOnADesktop : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        m_xvfb = testsupport::startProcess(
            {"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {}, "/",
            "", fds[1]);
        close(fds[1]);
        ASSERT_GT(m_xvfb, 0) << "cannot start Xvfb";
        // Xvfb writes the display number it took, then a newline.
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not report its display";
        m_display = ":" + number;

        testsupport::copyEngine(program.path());
        fs::create_directory(program / "work");
    }

    void TearDown() override {
        if (HasFailure()) {
            const fs::path folder = SCREENSHOT_DIR;
            fs::create_directories(folder);
            const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
            const std::string shot = (folder / (name + ".xwd")).string();
            std::system(("xwd -root -silent -display " + m_display + " -out '" + shot + "'").c_str());
            if (fs::exists("/usr/bin/convert")) {
                std::system(
                    ("/usr/bin/convert 'xwd:" + shot + "' '" + (folder / (name + ".png")).string() + "'")
                        .c_str());
            }
            std::printf("screenshot: %s\n", shot.c_str());
        }
        if (m_engine > 0 && testsupport::waitForExit(m_engine, 0ms) < 0) {
            kill(m_engine, SIGKILL);
            waitpid(m_engine, nullptr, 0);
        }
        kill(m_xvfb, SIGTERM);
        waitpid(m_xvfb, nullptr, 0);
        testsupport::reapChildren();
    }

    void startEngine(const std::string& folder) {
        m_engine = testsupport::startProcess(
            {program / "brisken"},
            {"PATH=/usr/bin:/bin", "DISPLAY=" + m_display, "CORVALE_RECORD=" + (program / "record")}, folder);
        ASSERT_GT(m_engine, 0);
    }

    // Whether a window whose whole title is title appears within timeout.
    bool windowAppears(const std::string& title, std::chrono::milliseconds timeout = 10s) {
        std::string quoted;
        for (const char c : title) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        const std::string command =
            "DISPLAY=" + m_display + " xdotool search --name '^" + quoted + "$' 2>/dev/null";
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!output(command).empty()) {
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    void press(const std::string& key) {
        ASSERT_EQ(std::system(("DISPLAY=" + m_display + " xdotool key " + key).c_str()), 0);
    }

    std::size_t started() { return testsupport::readRecords(program / "record").size(); }

    std::string item(const std::string& name) {
        fs::create_symlink(testsupport::recordRunPath(), program / name);
        return program / name;
    }

    TempDir program;
    TempDir elsewhere;
    std::string m_display;
    pid_t m_xvfb = -1;
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
    ASSERT_TRUE(windowAppears("Corvale - It's your choice..."));
    press("Escape");
    ASSERT_TRUE(windowAppears("Brisken"));
    EXPECT_EQ(testsupport::waitForExit(m_engine, 300ms), -1)
        << "the engine ended before its message was answered";
    press("Return");
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
    ASSERT_TRUE(windowAppears("Brisken"));
    EXPECT_EQ(testsupport::waitForRecords(program / "record", 2).size(), 2u);
    EXPECT_EQ(testsupport::waitForExit(m_engine, 300ms), -1);
    press("Return");
    EXPECT_EQ(testsupport::waitForExit(m_engine, 10s), 0);
}

TEST_F(EngineOnADesktop, DatabaseThatCannotBeOpenedIsShownAndNothingStarts) {
    testsupport::writeFile(program / "corvale.mdb", std::string(4096, 'q'));
    startEngine(elsewhere.path());
    ASSERT_TRUE(windowAppears("Brisken"));
    press("Return");
    EXPECT_EQ(testsupport::waitForExit(m_engine, 10s), 1);
    EXPECT_EQ(started(), 0u);
}

} // namespace
