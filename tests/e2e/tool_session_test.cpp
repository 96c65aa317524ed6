// A whole session with the built configuration tool on a real X display, with
// real keys: an address and its list made, an item moved, refused, tried and
// deleted, a disconnected item added. Afterwards the database holds what was
// made, and the built engine on a machine without network starts the
// disconnected item.
#include "tests/support/test_support.h"
#include "tests/support/x_display.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Waits until the condition holds, as long as a person would.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

int shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ToolSession : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(x.display().empty()) << "cannot start Xvfb";
        testsupport::installPrograms(program.path());
        { testsupport::DatabaseFile db(program / "corvale.mdb"); }
        for (const char* name : {"first", "second", "third", "offline"}) {
            fs::create_symlink(testsupport::recordRunPath(), items / name);
        }
        fs::create_directory(items / "start");
    }
    void TearDown() override {
        if (HasFailure()) {
            testsupport::screenshotOfFailure(x, SCREENSHOT_DIR);
        }
        if (HasFailure()) {
            std::printf("the tool wrote:\n%s\n", testsupport::readFile(elsewhere / "stderr").c_str());
        }
        if (m_tool > 0 && testsupport::waitForExit(m_tool, 0ms) < 0) {
            kill(m_tool, SIGKILL);
            waitpid(m_tool, nullptr, 0);
        }
    }

    std::string rows(const std::string& query) {
        return testsupport::sqliteOutput(program / "corvale.mdb", query);
    }
    bool rowsBecome(const std::string& query, const std::string& expected) {
        return eventually([&] { return rows(query) == expected; });
    }
    // Picks a file in the tool's file dialog by typing its path.
    void pickFile(const std::string& path) {
        ASSERT_TRUE(x.press("alt+t"));
        ASSERT_TRUE(x.focus("Open")) << "no file dialog";
        ASSERT_TRUE(x.type(path));
        ASSERT_TRUE(x.press("Return"));
        ASSERT_TRUE(x.windowCountBecomes("Open", 0));
        ASSERT_TRUE(x.focus("Corvale"));
    }
    // A message box of the tool (titled as its main window) comes and is
    // answered with keys.
    void answerMessage(const std::string& keys) {
        ASSERT_TRUE(x.windowCountBecomes("Corvale", 2)) << "no message before " << keys;
        ASSERT_TRUE(x.press(keys));
        if (!x.windowCountBecomes("Corvale", 1)) {
            std::printf("screenshot: %s\n", x.screenshot(SCREENSHOT_DIR, "unanswered").c_str());
            FAIL() << keys << " left the message";
        }
        // The closed box took the input focus with it.
        ASSERT_TRUE(x.focus("Corvale"));
    }

    testsupport::XDisplay x;
    testsupport::TempDir program;
    testsupport::TempDir items;
    testsupport::TempDir elsewhere;
    int m_tool = -1;
};

TEST_F(ToolSession, ListsMadeWithKeysAreInTheDatabaseAndTheEngineRunsThem) {
    m_tool = testsupport::startProcess(
        {program / "corvale"}, {"PATH=/usr/bin:/bin", "DISPLAY=" + x.display(), "HOME=" + elsewhere.path()},
        elsewhere.path(), elsewhere / "stderr");
    ASSERT_GT(m_tool, 0);
    ASSERT_TRUE(x.focus("Corvale")) << "the tool's window did not appear";
    const std::string connected = "select TargetPath,StartinPath from ConnectedList order by ListOrder";

    // An address, typed over the offered text.
    ASSERT_TRUE(x.type("192.168.44"));
    ASSERT_TRUE(x.press("Return"));
    ASSERT_TRUE(rowsBecome("select IPaddress from IPs", "192.168.44\n"));

    // A first item picked by dialog, its folder derived; a second one typed.
    ASSERT_NO_FATAL_FAILURE(pickFile(items / "first"));
    ASSERT_TRUE(x.press("alt+p"));
    ASSERT_TRUE(rowsBecome(connected, items / "first" + "|" + items.path() + "/\n"));
    ASSERT_TRUE(x.type(items / "second")); // the target box has the focus, its text selected
    ASSERT_TRUE(x.press("Tab"));
    ASSERT_TRUE(x.type(items / "start"));
    ASSERT_TRUE(x.press("alt+p"));
    ASSERT_TRUE(rowsBecome(connected, items / "first" + "|" + items.path() + "/\n" + items / "second" + "|" +
                                          items / "start" + "\n"));

    // The second moves up.
    ASSERT_TRUE(x.press("alt+o"));
    ASSERT_TRUE(rowsBecome("select TargetPath from ConnectedList order by ListOrder",
                           items / "second" + "\n" + items / "first" + "\n"));

    // A network folder is refused; Escape dismisses the message, not the form.
    // (Access keys press a button without moving the focus, which stays in
    // the target box after an add.)
    ASSERT_TRUE(x.press("ctrl+a"));
    ASSERT_TRUE(x.type(items / "third"));
    ASSERT_TRUE(x.press("Tab")); // the start-in box, its text selected
    ASSERT_TRUE(x.type("//server/share"));
    ASSERT_TRUE(x.press("alt+p"));
    ASSERT_NO_FATAL_FAILURE(answerMessage("Escape"));
    EXPECT_EQ(rows("select count(*) from ConnectedList"), "2\n");

    // A missing program cannot be started, and says so.
    ASSERT_TRUE(x.press("shift+Tab")); // back to the target box
    ASSERT_TRUE(x.type(items / "missing"));
    ASSERT_TRUE(x.press("alt+e"));
    ASSERT_NO_FATAL_FAILURE(answerMessage("Return"));

    // The first item of the list is deleted.
    ASSERT_TRUE(x.press("shift+Tab shift+Tab shift+Tab shift+Tab Home")); // into the list, its first entry
    ASSERT_TRUE(x.press("Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab"));      // on to Delete
    ASSERT_TRUE(x.press("Return"));
    ASSERT_NO_FATAL_FAILURE(answerMessage("alt+y"));
    ASSERT_TRUE(rowsBecome(connected, items / "first" + "|" + items.path() + "/\n"));

    // An item for when there is no network.
    // A click on Disconnected List: its access key would tick it only 100 ms
    // later, after the keys that follow. The form stands where its design
    // puts it, the box at 200, 184 in the main window.
    ASSERT_TRUE(x.clickIn("Corvale", 200, 184));
    ASSERT_NO_FATAL_FAILURE(pickFile(items / "offline"));
    ASSERT_TRUE(x.press("alt+p"));
    ASSERT_TRUE(rowsBecome("select TargetPath,StartinPath,ListOrder from DisConnectedList",
                           items / "offline" + "|" + items.path() + "/|1\n"));

    ASSERT_TRUE(x.press("alt+f"));
    ASSERT_TRUE(x.press("x"));
    EXPECT_EQ(testsupport::waitForExit(m_tool, 10s), 0);
    EXPECT_EQ(rows("select IPaddress from IPs"), "192.168.44\n");
    EXPECT_EQ(rows(connected), items / "first" + "|" + items.path() + "/\n");

    // The engine, on a machine whose only interface is loopback.
    const std::string machine = "cvs-" + std::to_string(getpid());
    if (shell("ip netns add " + machine) != 0) {
        GTEST_SKIP() << "the kernel refuses network namespaces here (ip netns add failed)";
    }
    const int status =
        shell("ip netns exec " + machine + " env -i PATH=/usr/bin:/bin CORVALE_RECORD=" + (items / "record") +
              " " + (program / "brisken"));
    shell("ip netns del " + machine);
    EXPECT_EQ(status, 0);
    const auto started = testsupport::startedPrograms(testsupport::waitForRecords(items / "record", 1));
    EXPECT_EQ(started, std::vector<std::string>{items / "offline"});
}

} // namespace
