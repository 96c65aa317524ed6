#include "shared/launcher.h"

#include "platform/failure.h"
#include "platform/file_answer.h"
#include "platform/folders.h"
#include "platform/process_table.h"
#include "platform/shell_open.h"
#include "shared/error_text.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace corvale {

namespace fs = std::filesystem;

bool launchSucceeded(const LaunchResult& result) {
    switch (result.kind) {
    case LaunchResult::Kind::ProcessId:
        return true;
    case LaunchResult::Kind::ShellCode:
        return result.number > platform::shell_code::kLastFailure;
    case LaunchResult::Kind::Text:
        return false;
    }
    return false;
}

std::string getShortPath(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error || !fs::exists(absolute, error)) {
        return {};
    }
    return absolute.string();
}

std::string printablePath(const std::string& path) {
    std::string shown;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            shown += c;
        } else if (c == '\0') {
            shown += "\\0";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        }
    }
    return shown;
}

bool isTheEngineItself(const std::string& target, const std::string& programFolder) {
    if (target.empty() || target.find('\0') != std::string::npos) {
        return false;
    }
    const fs::path path(target);
    const auto item =
        platform::fileIdOf(path.is_absolute() ? path.string() : (programFolder / path).string());
    return item && item == platform::fileIdOf(programFolder + "/brisken");
}

std::string itemTargetFile(const std::string& target, const std::string& startIn,
                           const std::string& programFolder) {
    if (target.empty() || target.find('\0') != std::string::npos || startIn.find('\0') != std::string::npos) {
        return {};
    }
    const fs::path path(target);
    if (path.is_absolute()) {
        return target;
    }
    const fs::path folder(startIn);
    return ((folder.is_absolute() ? folder : fs::path(programFolder)) / path).string();
}

namespace {

constexpr const char* kNulInPath = "holds a NUL byte";

class SystemLauncher : public LaunchSystem {
public:
    SystemLauncher(platform::ChildHandling handling, std::string programFolder, FilesAnswered answered,
                   const platform::ChildEnvironment& environment)
        : m_handling(handling), m_programFolder(std::move(programFolder)), m_answered(answered),
          m_environment(environment) {}
    bool filesAnswer(const std::string& startIn, const std::string& target) override {
        return m_answered == FilesAnswered::Already ||
               platform::filesAnswerWithin(m_programFolder, startIn, target);
    }
    void enterProgramFolder() override { platform::changeFolder(m_programFolder); }
    void enterFolder(const std::string& folder) override { platform::changeFolder(folder); }
    std::int64_t startProgram(const std::string& path) override {
        return platform::startProgram(path, m_handling, m_environment);
    }
    int shellOpen(const std::string& path) override { return platform::shellOpen(path, m_environment); }
    std::int64_t lastLaunchedProcess() override { return platform::lastLaunchedProcess(); }

private:
    platform::ChildHandling m_handling;
    std::string m_programFolder;
    FilesAnswered m_answered;
    const platform::ChildEnvironment& m_environment;
};

// Longer than the system takes a path, or one of its names: it cannot be
// looked up at all (ENAMETOOLONG).
bool nameTooLong(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return true;
    }
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        if (end - at > NAME_MAX) {
            return true;
        }
        at = end + 1;
    }
    return false;
}

} // namespace

LaunchResult execIt(const std::string& startInPath, const std::string& targetPath,
                    [[maybe_unused]] int ncmdshow, LaunchSystem& system) {
    const auto failed = [](std::string text, std::string reason) {
        LaunchResult result = LaunchResult::message(std::move(text));
        result.reason = std::move(reason);
        return result;
    };
    if (targetPath.find('\0') != std::string::npos) {
        return failed("Cannot start " + printablePath(targetPath) + ": its path " + kNulInPath + ".",
                      std::string("its path ") + kNulInPath);
    }
    if (nameTooLong(targetPath)) {
        return failed("Cannot start " + printablePath(targetPath.substr(0, 200)) +
                          "...: its name is too long.",
                      "its name is too long");
    }
    if (!system.filesAnswer(startInPath, targetPath)) {
        return failed("Cannot start " + targetPath + ": its files " + platform::noAnswerReason() + ".",
                      platform::noAnswerReason());
    }
    try {
        system.enterProgramFolder();
    } catch (const std::exception& failure) {
        return LaunchResult::message(he(failure));
    }
    int failures = 0;
    LaunchResult result = LaunchResult::message({});

    // Each step that fails is counted; the second ends the call.
    auto step = [&](auto&& action) {
        try {
            action();
            return true;
        } catch (const platform::OutOfResources& failure) {
            // Opening it as a document would need a process just the same.
            result = failed(he(failure), "no room for a process");
            return false;
        } catch (const platform::NoAnswer& failure) {
            // Opening it as a document would wait on the same files.
            result = failed(he(failure), platform::noAnswerReason());
            return false;
        } catch (const std::exception& failure) {
            ++failures;
            if (failures == 1) {
                result = LaunchResult::message(kTryAgain);
                return true;
            }
            // Only a start-in folder that is missing comes before a second
            // failure: the target is missing too, or is no program.
            result = failed(he(failure), getShortPath(targetPath).empty()
                                             ? std::string("no such file")
                                             : "missing folder " + printablePath(startInPath));
            return false;
        }
    };

    // There are no drives to switch to here; the folder change is the first step.
    if (!step([&] { system.enterFolder(startInPath); })) {
        return result;
    }
    const bool startInMissing = failures == 1;
    if (!step([&] {
            const std::string shortPath = getShortPath(targetPath);
            if (shortPath.empty()) {
                throw Failure(systemDescription("Cannot start " + targetPath, ENOENT));
            }
            result = LaunchResult::processId(system.startProgram(shortPath));
        })) {
        return result;
    }
    if (result.kind == LaunchResult::Kind::Text || result.number == 0) {
        result = LaunchResult::shellCode(system.shellOpen(targetPath));
        if (launchSucceeded(result)) {
            result.launchedProcess = system.lastLaunchedProcess();
        }
    }
    if (startInMissing) {
        result.startInMissing = true;
        result.missingStartIn = startInPath;
    }
    return result;
}

LaunchResult execIt(const std::string& startInPath, const std::string& targetPath, int ncmdshow,
                    platform::ChildHandling handling, const std::string& programFolder,
                    FilesAnswered answered, const platform::ChildEnvironment& environment) {
    SystemLauncher system(handling, programFolder, answered, environment);
    return execIt(startInPath, targetPath, ncmdshow, system);
}

std::string launchFailureReason(const LaunchResult& result) {
    if (!result.reason.empty()) {
        return result.reason;
    }
    if (result.kind != LaunchResult::Kind::ShellCode) {
        return result.text;
    }
    namespace sc = platform::shell_code;
    switch (result.number) {
    case sc::kFileNotFound:
    case sc::kPathNotFound:
        return "no such file";
    case sc::kBadFormat:
        return "not a regular file";
    case sc::kTooLarge:
        return "not a launcher (too large)";
    case sc::kNoAssociation:
        return "no application for its type";
    case sc::kTimedOut:
        return "the session bus did not answer";
    case sc::kAccessDenied:
        return "access denied";
    case sc::kLaunchFailed:
        return "its application failed to start";
    default:
        return "the desktop cannot open it (code " + std::to_string(result.number) + ")";
    }
}

std::string missingStartInNote(const std::string& startIn, const std::string& programFolder) {
    if (startIn.empty()) {
        return "it has no start-in folder; it starts in " + printablePath(programFolder);
    }
    return "its start-in folder " + printablePath(startIn) + " is missing; it starts in " +
           printablePath(programFolder);
}

namespace {

// A program the kernel runs begins as an ELF file or a "#!" script; any other
// file with an execute bit fails to start and is opened as a document.
bool kernelCanExecute(const fs::path& path) {
    char start[4] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    const std::size_t got = file ? std::fread(start, 1, sizeof start, file) : 0;
    if (file) {
        std::fclose(file);
    }
    return (got >= 2 && start[0] == '#' && start[1] == '!') || (got == 4 && std::memcmp(start,
                                                                                        "\x7f"
                                                                                        "ELF",
                                                                                        4) == 0);
}

// Answers each step as the system would, and remembers what it saw. Folders
// are entered for real, so that relative paths resolve as in a run: a dry
// run starts nothing, so its current folder matters to nobody.
class DryLauncher : public LaunchSystem {
public:
    explicit DryLauncher(std::string programFolder) : m_programFolder(std::move(programFolder)) {}
    bool filesAnswer(const std::string& startIn, const std::string& target) override {
        return platform::filesAnswerWithin(m_programFolder, startIn, target);
    }
    void enterProgramFolder() override { platform::changeFolder(m_programFolder); }
    void enterFolder(const std::string& folder) override {
        try {
            platform::changeFolder(folder);
        } catch (const Failure&) {
            folderMissing = true;
            throw;
        }
    }
    std::int64_t startProgram(const std::string& path) override {
        std::error_code error;
        if (!fs::is_regular_file(path, error) || ::access(path.c_str(), X_OK) != 0 ||
            !kernelCanExecute(path)) {
            throw Failure(systemDescription("Cannot start " + path, ENOEXEC));
        }
        return 1;
    }
    int shellOpen(const std::string& path) override {
        if (const int refusal = platform::shellOpenRefusal(path); refusal != 0) {
            return refusal;
        }
        std::error_code error;
        const fs::path absolute = fs::absolute(path, error);
        application = platform::applicationFor(absolute.string());
        launcher = absolute.extension() == ".desktop";
        return application.empty() ? platform::shell_code::kNoAssociation : platform::shell_code::kSuccess;
    }

    bool folderMissing = false;
    std::string application;
    bool launcher = false;

private:
    std::string m_programFolder;
};

// The run's reason, in the dry run's words where they say more.
std::string shellCodeWords(std::int64_t code) {
    namespace sc = platform::shell_code;
    switch (code) {
    case sc::kFileNotFound:
    case sc::kPathNotFound:
        return "cannot start: missing file";
    case sc::kNoAssociation:
        return "cannot start: not executable and no application for its type";
    default:
        return "cannot start: " + launchFailureReason(LaunchResult::shellCode(static_cast<int>(code)));
    }
}

} // namespace

LaunchPlan planLaunch(const std::string& startIn, const std::string& target,
                      const std::string& programFolder) {
    LaunchPlan plan;
    if (target.find('\0') != std::string::npos) {
        plan.failure = std::string("cannot start: its path ") + kNulInPath;
        return plan;
    }
    DryLauncher dry(programFolder);
    const LaunchResult result = execIt(startIn, target, 1, dry);
    if (result.startInMissing || dry.folderMissing) {
        plan.startsIn = missingStartInNote(startIn, programFolder);
    }
    switch (result.kind) {
    case LaunchResult::Kind::ProcessId:
        plan.how = LaunchPlan::How::Program;
        return plan;
    case LaunchResult::Kind::ShellCode:
        if (!launchSucceeded(result)) {
            plan.failure = shellCodeWords(result.number);
        } else {
            plan.how = dry.launcher ? LaunchPlan::How::Launcher : LaunchPlan::How::Document;
            plan.application = dry.application;
        }
        return plan;
    case LaunchResult::Kind::Text:
        // The run's own reason, in the run's words.
        if (!result.reason.empty()) {
            plan.failure = "cannot start: " + result.reason;
            return plan;
        }
        break;
    }
    plan.failure =
        dry.folderMissing ? "cannot start: missing start-in folder" : "cannot start: " + result.text;
    return plan;
}

std::string describeLaunch(const LaunchPlan& plan) {
    const std::string where = plan.startsIn.empty() ? std::string() : "; " + plan.startsIn;
    switch (plan.how) {
    case LaunchPlan::How::Program:
        return "starts as a program" + where;
    case LaunchPlan::How::Launcher:
        return "opens as a launcher of " + plan.application + where;
    case LaunchPlan::How::Document:
        return "opens as a document with " + plan.application + where;
    case LaunchPlan::How::Fails:
        break;
    }
    return plan.failure;
}

} // namespace corvale
