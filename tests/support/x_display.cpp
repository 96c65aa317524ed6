#include "tests/support/x_display.h"

#include "tests/support/test_support.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

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

} // namespace

XDisplay::XDisplay() {
    // Servers started at the same moment (tests run side by side) can take
    // the same display number, and one of them then serves nothing: they are
    // started one at a time, and a display is taken once it answers.
    const int startLock = open("/tmp/corvale-test-xvfb.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (startLock >= 0) {
        flock(startLock, LOCK_EX);
    }
    for (int attempt = 0; attempt < 3 && m_display.empty(); ++attempt) {
        int fds[2];
        if (pipe(fds) != 0) {
            break;
        }
        m_server = startProcess({"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp", "-noreset"},
                                {}, "/", "/dev/null", fds[1]);
        close(fds[1]);
        // Xvfb writes the display number it took, then a newline.
        std::string number;
        char c = 0;
        while (m_server > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        close(fds[0]);
        if (!number.empty() &&
            std::system(("DISPLAY=:" + number + " xdotool getdisplaygeometry >/dev/null 2>&1").c_str()) ==
                0) {
            m_display = ":" + number;
        } else if (m_server > 0) {
            kill(m_server, SIGTERM);
            waitpid(m_server, nullptr, 0);
            m_server = -1;
        }
    }
    if (startLock >= 0) {
        close(startLock);
    }
}

XDisplay::~XDisplay() {
    if (m_server > 0) {
        kill(m_server, SIGTERM);
        waitpid(m_server, nullptr, 0);
    }
}

bool XDisplay::xdotool(const std::string& arguments) const {
    return std::system(("DISPLAY=" + m_display + " xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

bool XDisplay::windowAppears(const std::string& title, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (windowCount(title) > 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int XDisplay::windowCount(const std::string& title) const {
    const std::string found = output("DISPLAY=" + m_display + " xdotool search --onlyvisible --name " +
                                     quoted("^" + title + "$") + " 2>/dev/null");
    int lines = 0;
    for (const char c : found) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

bool XDisplay::windowCountBecomes(const std::string& title, int count,
                                  std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (windowCount(title) == count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool XDisplay::focus(const std::string& title) const {
    return windowAppears(title) &&
           xdotool("search --onlyvisible --limit 1 --name " + quoted("^" + title + "$") + " windowfocus %1");
}

bool XDisplay::press(const std::string& keys) const {
    return xdotool("key " + keys);
}

bool XDisplay::type(const std::string& text) const {
    return xdotool("type --delay 20 " + quoted(text));
}

bool XDisplay::clickIn(const std::string& title, int x, int y) const {
    return xdotool("search --onlyvisible --limit 1 --name " + quoted("^" + title + "$") +
                   " mousemove --window %1 " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

std::string XDisplay::screenshot(const std::string& folder, const std::string& name) const {
    std::filesystem::create_directories(folder);
    const std::string shot = folder + "/" + name + ".xwd";
    std::system(("xwd -root -silent -display " + m_display + " -out " + quoted(shot)).c_str());
    if (std::filesystem::exists("/usr/bin/convert")) {
        std::system(("/usr/bin/convert " + quoted("xwd:" + shot) + " " + quoted(folder + "/" + name + ".png"))
                        .c_str());
    }
    return shot;
}

bool chooseDatabaseWhenAsked(const XDisplay& display, const std::string& path) {
    return display.focus("Corvale - It's your choice...") && display.press("Return") &&
           display.focus("Open") && display.type(path) && display.press("Return") &&
           display.windowCountBecomes("Open", 0);
}

void screenshotOfFailure(const XDisplay& display, const std::string& folder) {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::printf("screenshot: %s\n", display.screenshot(folder, name).c_str());
}

} // namespace testsupport
