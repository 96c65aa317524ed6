#include "platform/folders.h"
#include "platform/shell_open.h"
#include "shared/launcher.h"
#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace corvale;
using platform::ChildHandling;
using testsupport::RunRecord;
using testsupport::TempDir;
using testsupport::waitForRecords;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

// Every test runs with its own desktop: an application "Recorder" that is the
// default for plain text and records how it was started.
class Launcher : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        desktop = std::make_unique<testsupport::OwnDesktop>();
        desktop->addRecorder("Recorder", "text/plain;");
        desktop->apply();
    }
    static void TearDownTestSuite() { desktop.reset(); }

    void SetUp() override {
        record = dir / "record";
        setenv("CORVALE_RECORD", record.c_str(), 1);
        fs::create_directory(dir / "work");
        fs::create_symlink(testsupport::recordRunPath(), dir / "work/program");
    }
    void TearDown() override {
        testsupport::reapChildren();
        platform::changeFolder("/");
    }

    RunRecord onlyRecord() {
        auto records = waitForRecords(record, 1);
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? RunRecord{} : records.front();
    }

    static inline std::unique_ptr<testsupport::OwnDesktop> desktop;
    TempDir dir;
    std::string record;
};

TEST_F(Launcher, ProgramStartsDirectlyInItsStartInFolderCutLooseFromUs) {
    const LaunchResult result =
        execIt(dir / "work", dir / "work/program", 1, ChildHandling::StarterEndsSoon, dir.path());

    ASSERT_EQ(result.kind, LaunchResult::Kind::ProcessId);
    EXPECT_TRUE(launchSucceeded(result));
    const RunRecord run = onlyRecord();
    EXPECT_EQ(run.at("pid"), std::to_string(result.number));
    EXPECT_EQ(run.at("argv0"), dir / "work/program");
    EXPECT_EQ(run.at("args"), "");
    EXPECT_EQ(run.at("cwd"), dir / "work");
    EXPECT_EQ(run.at("sid"), run.at("pid")) << "the program must lead a session of its own";
    EXPECT_EQ(run.at("stdin"), "/dev/null");
    EXPECT_EQ(platform::currentFolder(), dir / "work") << "the start-in folder stays current";
}

TEST_F(Launcher, MissingStartInFolderStillStartsAProgram) {
    platform::changeFolder(dir.path());
    const LaunchResult result =
        execIt(dir / "gone", dir / "work/program", 1, ChildHandling::StarterEndsSoon, dir.path());
    ASSERT_EQ(result.kind, LaunchResult::Kind::ProcessId);
    EXPECT_EQ(onlyRecord().at("cwd"), dir.path());
}

TEST_F(Launcher, MissingStartInFolderAndADocumentGiveTheSecondFailuresDescription) {
    writeFile(dir / "work/notes.txt", "hello\n");
    const LaunchResult result =
        execIt(dir / "gone", dir / "work/notes.txt", 1, ChildHandling::StarterEndsSoon, dir.path());
    ASSERT_EQ(result.kind, LaunchResult::Kind::Text);
    EXPECT_NE(result.text, kTryAgain);
    EXPECT_NE(result.text.find(dir / "work/notes.txt"), std::string::npos) << result.text;
    EXPECT_FALSE(launchSucceeded(result));
}

TEST_F(Launcher, DocumentOpensWithTheDefaultApplicationInTheStartInFolder) {
    writeFile(dir / "work/notes.txt", "hello\n");
    const LaunchResult result =
        execIt(dir / "work", dir / "work/notes.txt", 1, ChildHandling::StarterKeepsRunning, dir.path());

    ASSERT_EQ(result.kind, LaunchResult::Kind::ShellCode);
    EXPECT_EQ(result.number, platform::shell_code::kSuccess);
    const RunRecord run = onlyRecord();
    EXPECT_EQ(run.at("argv0"), testsupport::recordRunPath());
    EXPECT_EQ(run.at("args"), dir / "work/notes.txt");
    EXPECT_EQ(run.at("cwd"), dir / "work");
    EXPECT_EQ(run.at("sid"), run.at("pid"));
    // The process opened for it is known, to be followed and stopped by its group.
    EXPECT_EQ(std::to_string(result.launchedProcess), run.at("pid"));
    EXPECT_EQ(run.at("stdin"), "/dev/null");
    EXPECT_TRUE(testsupport::zombieChildren().empty());
}

TEST_F(Launcher, MissingFileOrFolderIsAFailedStartNotASuccess) {
    const LaunchResult missingFile =
        execIt(dir / "work", dir / "work/absent", 1, ChildHandling::StarterEndsSoon, dir.path());
    ASSERT_EQ(missingFile.kind, LaunchResult::Kind::ShellCode);
    EXPECT_EQ(missingFile.number, platform::shell_code::kFileNotFound);
    EXPECT_FALSE(launchSucceeded(missingFile));

    const LaunchResult missingFolder =
        execIt(dir / "work", dir / "nowhere/app", 1, ChildHandling::StarterEndsSoon, dir.path());
    ASSERT_EQ(missingFolder.kind, LaunchResult::Kind::ShellCode);
    EXPECT_EQ(missingFolder.number, platform::shell_code::kPathNotFound);
    EXPECT_FALSE(launchSucceeded(missingFolder));

    for (const std::string& tooLong : {dir / std::string(300, 'a'), "/" + std::string(1 << 20, 'b')}) {
        const LaunchResult result =
            execIt(dir / "work", tooLong, 1, ChildHandling::StarterEndsSoon, dir.path());
        EXPECT_FALSE(launchSucceeded(result));
        EXPECT_EQ(launchFailureReason(result), "its name is too long");
    }
}

TEST_F(Launcher, NonExecutableFileWithoutAnApplicationFails) {
    writeFile(dir / "work/blob.bin", std::string("\x7f\x01\x02\x03\x00\xff\xfe", 7) + std::string(64, '\0'));
    const LaunchResult result =
        execIt(dir / "work", dir / "work/blob.bin", 1, ChildHandling::StarterEndsSoon, dir.path());
    ASSERT_EQ(result.kind, LaunchResult::Kind::ShellCode);
    EXPECT_EQ(result.number, platform::shell_code::kNoAssociation);
    EXPECT_FALSE(launchSucceeded(result));
}

TEST_F(Launcher, ScriptWithAnInterpreterLineRunsDirectly) {
    writeFile(dir / "work/script", "#!/bin/sh\nexec \"" + testsupport::recordRunPath() + "\" from-script\n",
              true);
    const LaunchResult result =
        execIt(dir / "work", dir / "work/script", 1, ChildHandling::StarterEndsSoon, dir.path());
    ASSERT_EQ(result.kind, LaunchResult::Kind::ProcessId);
    const RunRecord run = onlyRecord();
    EXPECT_EQ(run.at("args"), "from-script");
    EXPECT_EQ(run.at("pid"), std::to_string(result.number));
}

TEST_F(Launcher, ExecutableTextWithoutInterpreterLineIsNeverRunThroughAShell) {
    const std::string marker = dir / "shell-ran";
    writeFile(dir / "work/commands", "touch '" + marker + "'\n", true);
    const LaunchResult result =
        execIt(dir / "work", dir / "work/commands", 1, ChildHandling::StarterEndsSoon, dir.path());

    // The kernel refuses it, so it is opened as the text it is.
    ASSERT_EQ(result.kind, LaunchResult::Kind::ShellCode);
    EXPECT_EQ(onlyRecord().at("args"), dir / "work/commands");
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(Launcher, DesktopLauncherStartsTheApplicationItDescribes) {
    writeFile(dir / "work/tool.desktop", "[Desktop Entry]\nType=Application\nName=Tool\nExec=" +
                                             testsupport::recordRunPath() + " from-launcher\n");
    const LaunchResult result =
        execIt(dir / "work", dir / "work/tool.desktop", 1, ChildHandling::StarterEndsSoon, dir.path());
    ASSERT_EQ(result.kind, LaunchResult::Kind::ShellCode);
    EXPECT_EQ(result.number, platform::shell_code::kSuccess);
    const RunRecord run = onlyRecord();
    EXPECT_EQ(run.at("args"), "from-launcher");
    EXPECT_EQ(run.at("cwd"), dir / "work");

    writeFile(dir / "work/broken.desktop", "not a launcher\n");
    const LaunchResult broken =
        execIt(dir / "work", dir / "work/broken.desktop", 1, ChildHandling::StarterEndsSoon, dir.path());
    EXPECT_FALSE(launchSucceeded(broken));

    // One of 600 MB is no launcher, and is not read whole to find that out.
    writeFile(dir / "work/huge.desktop", "");
    std::filesystem::resize_file(dir / "work/huge.desktop", 600u << 20);
    const LaunchResult huge =
        execIt(dir / "work", dir / "work/huge.desktop", 1, ChildHandling::StarterEndsSoon, dir.path());
    EXPECT_EQ(launchFailureReason(huge), "not a launcher (too large)");
    EXPECT_EQ(describeLaunch(dir / "work", dir / "work/huge.desktop", dir.path()),
              "cannot start: not a launcher (too large)");
}

TEST_F(Launcher, LongRunningStarterIsLeftWithoutZombies) {
    for (int i = 0; i < 3; ++i) {
        const LaunchResult result =
            execIt(dir / "work", dir / "work/program", 1, ChildHandling::StarterKeepsRunning, dir.path());
        ASSERT_EQ(result.kind, LaunchResult::Kind::ProcessId);
    }
    const auto records = waitForRecords(record, 3);
    ASSERT_EQ(records.size(), 3u);
    for (const RunRecord& run : records) {
        EXPECT_NE(run.at("ppid"), std::to_string(getpid())) << "the program is still our child";
        EXPECT_EQ(run.at("sid"), run.at("pid"));
    }
    EXPECT_TRUE(testsupport::zombieChildren().empty());
}

TEST(LaunchJudgement, ProcessIdentifiersCountWhateverTheirSizeShellCodesOnlyAbove32) {
    EXPECT_TRUE(launchSucceeded(LaunchResult::processId(2)));
    EXPECT_TRUE(launchSucceeded(LaunchResult::processId(31)));
    EXPECT_FALSE(launchSucceeded(LaunchResult::shellCode(2)));
    EXPECT_FALSE(launchSucceeded(LaunchResult::shellCode(32)));
    EXPECT_TRUE(launchSucceeded(LaunchResult::shellCode(33)));
    EXPECT_FALSE(launchSucceeded(LaunchResult::message(kTryAgain)));
}

TEST(ShortPath, ExistingFilesGiveAnAbsolutePathMissingOnesNothing) {
    TempDir dir;
    writeFile(dir / "file", "x");
    platform::changeFolder(dir.path());
    EXPECT_EQ(getShortPath("file"), dir / "file");
    EXPECT_EQ(getShortPath(dir / "missing"), "");
    EXPECT_EQ(getShortPath(""), "");
    platform::changeFolder("/");
}

} // namespace
