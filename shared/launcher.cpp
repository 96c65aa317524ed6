#include "shared/launcher.h"

#include "platform/failure.h"
#include "platform/folders.h"
#include "platform/shell_open.h"
#include "shared/error_text.h"

#include <cerrno>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace corvale {

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
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error || !std::filesystem::exists(absolute, error)) {
        return {};
    }
    return absolute.string();
}

LaunchResult execIt(const std::string& startInPath, const std::string& targetPath,
                    [[maybe_unused]] int ncmdshow, platform::ChildHandling handling) {
    int failures = 0;
    LaunchResult result = LaunchResult::message({});

    // Each step that fails is counted; the second ends the call.
    auto step = [&](auto&& action) {
        try {
            action();
            return true;
        } catch (const platform::OutOfResources& failure) {
            // Opening it as a document would need a process just the same.
            result = LaunchResult::message(he(failure));
            return false;
        } catch (const std::exception& failure) {
            ++failures;
            result = LaunchResult::message(failures == 1 ? kTryAgain : he(failure));
            return failures == 1;
        }
    };

    // There are no drives to switch to here; the folder change is the first step.
    if (!step([&] { platform::changeFolder(startInPath); })) {
        return result;
    }
    if (!step([&] {
            const std::string shortPath = getShortPath(targetPath);
            if (shortPath.empty()) {
                throw Failure(systemDescription("Cannot start " + targetPath, ENOENT));
            }
            result = LaunchResult::processId(platform::startProgram(shortPath, handling));
        })) {
        return result;
    }
    if (result.kind == LaunchResult::Kind::Text || result.number == 0) {
        result = LaunchResult::shellCode(platform::shellOpen(targetPath));
    }
    return result;
}

namespace {
// A program the kernel runs begins as an ELF file or a "#!" script; any other
// file with an execute bit fails to start and is opened as a document.
bool kernelCanExecute(const std::filesystem::path& path) {
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
} // namespace

std::string describeLaunch(const std::string& startIn, const std::string& target) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_directory(startIn, error)) {
        return "cannot start: missing start-in folder";
    }
    const fs::path path = fs::path(startIn) / target; // an absolute target stays as it is
    const fs::file_type type = fs::status(path, error).type();
    if (target.empty() || type == fs::file_type::not_found) {
        return "cannot start: missing file";
    }
    if (type != fs::file_type::regular && type != fs::file_type::directory) {
        return "cannot start: not a regular file";
    }
    if (type == fs::file_type::regular && ::access(path.c_str(), X_OK) == 0 && kernelCanExecute(path)) {
        return "starts as a program";
    }
    const std::string application = platform::applicationFor(fs::absolute(path, error).string());
    if (application.empty()) {
        return "cannot start: not executable and no application for its type";
    }
    const bool launcher = path.extension() == ".desktop";
    return (launcher ? "opens as a launcher of " : "opens as a document with ") + application;
}

} // namespace corvale
