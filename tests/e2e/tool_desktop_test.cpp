// The built configuration tool on a real X display, used as a person would.
#include "tests/support/test_support.h"
#include "tests/support/x_display.h"

#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace {

TEST(ToolOnADesktop, AddressTypedIntoTheFormIsInTheDatabaseAfterExit) {
    testsupport::XDisplay x;
    ASSERT_FALSE(x.display().empty()) << "cannot start Xvfb";
    testsupport::TempDir program;
    testsupport::TempDir elsewhere;
    testsupport::installPrograms(program.path());
    { testsupport::DatabaseFile db(program / "corvale.mdb"); }

    const int tool = testsupport::startProcess(
        {program / "corvale"}, {"PATH=/usr/bin:/bin", "DISPLAY=" + x.display()}, elsewhere.path());
    ASSERT_GT(tool, 0);
    bool passed = false;
    if (x.windowAppears("Corvale")) {
        // With no address on file the form offers its entry box, text selected.
        EXPECT_TRUE(x.type("192.168.44"));
        EXPECT_TRUE(x.press("Return"));
        EXPECT_TRUE(x.clickIn("Corvale", 20, 8)); // the File menu
        EXPECT_TRUE(x.press("x"));                // Exit
        const int status = testsupport::waitForExit(tool, 10s);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(testsupport::sqliteOutput(program / "corvale.mdb", "select IPaddress from IPs"),
                  "192.168.44\n");
        passed = status == 0;
    } else {
        ADD_FAILURE() << "the tool's window did not appear";
    }
    if (!passed) {
        testsupport::screenshotOfFailure(x, SCREENSHOT_DIR);
        kill(tool, SIGKILL);
        waitpid(tool, nullptr, 0);
    }
}

} // namespace
