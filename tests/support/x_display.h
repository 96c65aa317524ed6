#pragma once

#include <chrono>
#include <string>

namespace testsupport {

// A real X display of the test's own (Xvfb), with xdotool to find windows by
// title and to type, press and click as a person would.
class XDisplay {
public:
    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // Empty when the server could not be started.
    const std::string& display() const { return m_display; }

    // Whether a window whose whole title is title appears within timeout.
    bool windowAppears(const std::string& title,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // How many windows have title as their whole title now.
    int windowCount(const std::string& title) const;
    // Whether that number becomes count within timeout.
    bool windowCountBecomes(const std::string& title, int count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Gives the first window titled title the input focus, once it is there.
    // With no window manager nobody else does, and without it Qt sees no
    // active window and access keys do nothing.
    bool focus(const std::string& title) const;
    bool press(const std::string& keys) const;
    bool type(const std::string& text) const;
    // A left click at x, y inside the first window titled title.
    bool clickIn(const std::string& title, int x, int y) const;
    // Saves the screen as name.xwd (and name.png where ImageMagick is) into
    // folder; returns the path of the .xwd file.
    std::string screenshot(const std::string& folder, const std::string& name) const;

private:
    bool xdotool(const std::string& arguments) const;

    std::string m_display;
    int m_server = -1;
};

// Answers the engine's question for its database as a person would: OK in
// the prompt, then the file's path typed into the file dialog.
bool chooseDatabaseWhenAsked(const XDisplay& display, const std::string& path);

// For a failed test: a screenshot named after it, its path printed.
void screenshotOfFailure(const XDisplay& display, const std::string& folder);

} // namespace testsupport
