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
    // The start-in folder that could not be entered, when the item was
    // started all the same (in the program folder).
    std::string missingStartIn{};
    // Why a start failed, in a few words, where execIt knows it better than
    // the text or the code tell (launchFailureReason).
    std::string reason{};

    static LaunchResult processId(std::int64_t pid) { return {Kind::ProcessId, pid, {}}; }
    static LaunchResult shellCode(int code) { return {Kind::ShellCode, code, {}}; }
    static LaunchResult message(std::string text) { return {Kind::Text, 0, std::move(text)}; }
};

inline constexpr const char* kTryAgain = "try again";

// The one judgement of a launch for every caller: a process identifier always
// means started, a return code only above 32, a text never.
bool launchSucceeded(const LaunchResult& result);

// Why a start that did not succeed failed, in a few words: "no such file",
// "missing folder F", "no application for its type", "not a regular file",
// "no room for a process", or the system's description.
std::string launchFailureReason(const LaunchResult& result);

// An existing file's absolute path; empty when the file does not exist.
std::string getShortPath(const std::string& path);

// A path as people can read it: a NUL byte (only a value written by hand
// holds one) is written \0, so that nothing after it is lost from sight.
std::string printablePath(const std::string& path);

// What starting an item asks of the system. A run does it; a dry run answers
// each step as the system would, without starting anything.
class LaunchSystem {
public:
    virtual ~LaunchSystem() = default;
    // Whether the files the item names answer in time (a file system whose
    // server has gone never does); asked before any other step.
    virtual bool filesAnswer(const std::string& startIn, const std::string& target) = 0;
    // Makes the program folder the current folder, before each item, so that
    // no item starts in, or resolves a relative path against, the folder of
    // the item before it.
    virtual void enterProgramFolder() = 0;
    // Makes folder the current folder; fails with the system's description.
    virtual void enterFolder(const std::string& folder) = 0;
    // Starts the file at path as a program and returns its process
    // identifier; fails when the system cannot execute it.
    virtual std::int64_t startProgram(const std::string& path) = 0;
    // Opens path with the desktop's default application; a shell code.
    virtual int shellOpen(const std::string& path) = 0;
};

// Starts one list item: from the program folder, enters startInPath (a
// relative one is taken from the program folder), starts targetPath directly
// as a program and, when that does not work, opens it with the desktop's
// default application. A start-in folder that cannot be entered leaves the
// program folder current. When not even that can be entered, nothing starts. When the item's files, or the
// start of its program, do not answer in time, nothing else is tried and the reason says so. The first
// failure makes the result "try again" and the steps go on; a second one ends the call with that failure's
// description. A target holding a NUL byte is refused at once (the system would start the path cut there).
// Never throws. ncmdshow is the window state asked for by the callers; the desktop has no counterpart, so it
// is carried but not used.
LaunchResult execIt(const std::string& startInPath, const std::string& targetPath, int ncmdshow,
                    LaunchSystem& system);
// The same on the real system, from programFolder; handling tells how the
// started program is cut loose from this process.
LaunchResult execIt(const std::string& startInPath, const std::string& targetPath, int ncmdshow,
                    platform::ChildHandling handling, const std::string& programFolder);

// Where an item whose start-in folder is missing starts, in words: "its
// start-in folder FOLDER is missing; it starts in PROGRAMFOLDER".
std::string missingStartInNote(const std::string& startIn, const std::string& programFolder);

// What execIt would do with target from startIn now, in words, judged by
// execIt itself on a system that starts nothing: "starts as a program",
// "opens as a launcher of APPLICATION", "opens as a document with
// APPLICATION", or "cannot start: " and why. A program whose start-in folder
// is missing still starts, and the words say where (missingStartInNote).
std::string describeLaunch(const std::string& startIn, const std::string& target,
                           const std::string& programFolder);

} // namespace corvale
