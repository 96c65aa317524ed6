#include "shared/launcher.h"

#include "platform/failure.h"
#include "platform/folders.h"
#include "platform/shell_open.h"
#include "shared/error_text.h"

#include <cerrno>

#include <filesystem>

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

} // namespace corvale
