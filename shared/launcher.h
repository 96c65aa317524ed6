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
    // Whether the item was started all the same in the program folder, its
    // start-in folder (missingStartIn, which may be empty) not entered.
    bool startInMissing = false;
    std::string missingStartIn{};
    // Why a start failed, in a few words, where execIt knows it better than
    // the text or the code tell (launchFailureReason).
    std::string reason{};
    // For a file opened with an application: the process started for it,
    // where it is known (0 otherwise).
    std::int64_t launchedProcess = 0;

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

// A path (or any stored text) as people can read it, on one line: a NUL
// byte is written \0, a newline \n, a tab \t and any other control character
// \xNN, so that nothing after a NUL is lost from sight and no text can
// forge a line of its own or send a terminal escape sequence.
std::string printablePath(const std::string& path);

// Whether target (a relative one from the program folder) is the engine of
// programFolder itself: started as an item, it would run the list again,
// and so on for ever. Looks at the file, so only where the files answer.
bool isTheEngineItself(const std::string& target, const std::string& programFolder);
// The file an item's target names: itself when absolute, else within its
// start-in folder (where an absolute one is given) or the program folder;
// empty for a path with a NUL byte.
std::string itemTargetFile(const std::string& target, const std::string& startIn,
                           const std::string& programFolder);
inline constexpr const char* kEngineItself = "it is Brisken itself, which would run the list again";

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
    // The process the last shellOpen started, or 0 when it cannot tell.
    virtual std::int64_t lastLaunchedProcess() { return 0; }
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
// started program is cut loose from this process. Already: the caller has
// just found that the item's files answer (filesAnswerWithin), and they are
// not asked again.
enum class FilesAnswered { NotAsked, Already };
// environment: what the started program is told (placeEnvironment); none
// of this process's BRISKEN_ variables reach it.
LaunchResult execIt(const std::string& startInPath, const std::string& targetPath, int ncmdshow,
                    platform::ChildHandling handling, const std::string& programFolder,
                    FilesAnswered answered = FilesAnswered::NotAsked,
                    const platform::ChildEnvironment& environment = {});

// Where an item whose start-in folder is missing starts, in words: "its
// start-in folder FOLDER is missing; it starts in PROGRAMFOLDER", or for
// none at all "it has no start-in folder; it starts in PROGRAMFOLDER".
std::string missingStartInNote(const std::string& startIn, const std::string& programFolder);

// What execIt would do with target from startIn now, judged by execIt itself
// on a system that starts nothing.
struct LaunchPlan {
    enum class How { Program, Launcher, Document, Fails };
    How how = How::Fails;
    std::string application; // what opens a launcher or a document
    std::string failure;     // why it fails: "cannot start: ..."
    // Where a program or an application starts when the item's start-in
    // folder is missing (missingStartInNote); empty otherwise.
    std::string startsIn;
};
LaunchPlan planLaunch(const std::string& startIn, const std::string& target,
                      const std::string& programFolder);
// The plan in words: "starts as a program", "opens as a launcher of
// APPLICATION", "opens as a document with APPLICATION", or "cannot start: "
// and why; followed by "; " and where it starts when its folder is missing.
std::string describeLaunch(const LaunchPlan& plan);
inline std::string describeLaunch(const std::string& startIn, const std::string& target,
                                  const std::string& programFolder) {
    return describeLaunch(planLaunch(startIn, target, programFolder));
}

} // namespace corvale
