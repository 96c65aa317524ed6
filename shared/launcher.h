#pragma once

#include "platform/process_start.h"

#include <cstdint>
#include <string>

namespace corvale {

// What one start of a list item came to.
struct LaunchResult {
    enum class Kind {
        ProcessId, // the program was started directly; number is its process identifier
        ShellCode, // the desktop's default application was asked; number is its return code
        Text,      // text is "try again" or the description of a second failure
    };
    Kind kind = Kind::Text;
    std::int64_t number = 0;
    std::string text;

    static LaunchResult processId(std::int64_t pid) { return {Kind::ProcessId, pid, {}}; }
    static LaunchResult shellCode(int code) { return {Kind::ShellCode, code, {}}; }
    static LaunchResult message(std::string text) { return {Kind::Text, 0, std::move(text)}; }
};

inline constexpr const char* kTryAgain = "try again";

// The one judgement of a launch for every caller: a process identifier always
// means started, a return code only above 32, a text never.
bool launchSucceeded(const LaunchResult& result);

// An existing file's absolute path; empty when the file does not exist.
std::string getShortPath(const std::string& path);

// Starts one list item: enters startInPath, starts targetPath directly as a
// program and, when that does not work, opens it with the desktop's default
// application. The first failure makes the result "try again" and the steps go
// on; a second one ends the call with that failure's description. Never
// throws. ncmdshow is the window state asked for by the callers; the desktop
// has no counterpart, so it is carried but not used. handling tells how the
// started program is cut loose from this process.
LaunchResult execIt(const std::string& startInPath, const std::string& targetPath, int ncmdshow,
                    platform::ChildHandling handling);

// Whether execIt could start target from startIn now, in words, without
// starting anything: "missing folder", "missing file", "not a regular file",
// "starts as a program", "opens as a launcher of APPLICATION", "opens as a
// document with APPLICATION", or "not executable and no application for its
// type".
std::string describeLaunch(const std::string& startIn, const std::string& target);

} // namespace corvale
