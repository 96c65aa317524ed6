#include "engine/run_summary.h"

#include "platform/shell_open.h"
#include "shared/launcher.h"

namespace brisken {

namespace {

// Where the run found itself and which list it took, in words: "on ADDRESS
// (gateway GATEWAY): the list of KEY", or "by hand: the list of KEY" for
// a place given by hand, wherever the laptop is.
std::string networkAndList(const corvale::ListChoice& choice, const std::string& gateway, bool byHand) {
    if (byHand) {
        return "by hand: the list of " + corvale::printablePath(corvale::entryShown(choice));
    }
    if (choice.disconnected()) {
        return "with no usable address: the disconnected list";
    }
    const std::string where = "on " + choice.address +
                              (choice.throughTunnel ? " (the tunnel " + *choice.throughTunnel + ")"
                               : gateway.empty()    ? " (no default gateway)"
                                                    : " (gateway " + gateway + ")");
    return where + (choice.onFile() ? ": the list of " + corvale::printablePath(corvale::entryShown(choice))
                                    : ": no entry matches");
}

} // namespace

std::string summaryLine(const corvale::ListChoice& choice, const std::string& gateway, bool byHand,
                        std::size_t items, const StartOutcome& outcome,
                        const std::vector<std::string>& notes) {
    std::string line = std::string("brisken: ") + networkAndList(choice, gateway, byHand);
    const auto askedToEnd = [&] {
        if (!outcome.stopped.empty()) {
            line += ", asked to end on leaving: ";
            for (std::size_t i = 0; i < outcome.stopped.size(); ++i) {
                line += (i == 0 ? "" : ", ") + outcome.stopped[i];
            }
        }
    };
    if (items == 0) {
        line += choice.onFile() || choice.disconnected() ? " is empty: nothing started" : ": nothing started";
        askedToEnd();
    } else {
        line += ": " + std::to_string(outcome.started) + " started";
        if (outcome.passedOver > 0) {
            line += ", " + std::to_string(outcome.passedOver) + " passed over (already running)";
        }
        askedToEnd();
        if (!outcome.failureReasons.empty()) {
            line += ", " + std::to_string(outcome.failureReasons.size()) + " failed: ";
            for (std::size_t i = 0; i < outcome.failureReasons.size(); ++i) {
                line += (i == 0 ? "" : "; ") + outcome.failureReasons[i];
            }
        }
    }
    if (const LeavingOutcome& left = outcome.leaving; left.ran > 0 || !left.failureReasons.empty()) {
        line += "; on leaving: " + std::to_string(left.ran) + " ran";
        if (!left.stillRunning.empty()) {
            line += ", " + std::to_string(left.stillRunning.size()) + " still running after " +
                    std::to_string(kLeavingBound.count()) + " s, left running: ";
            for (std::size_t i = 0; i < left.stillRunning.size(); ++i) {
                line += (i == 0 ? "" : ", ") + left.stillRunning[i];
            }
        }
        if (!left.failureReasons.empty()) {
            line += ", " + std::to_string(left.failureReasons.size()) + " failed: ";
            for (std::size_t i = 0; i < left.failureReasons.size(); ++i) {
                line += (i == 0 ? "" : "; ") + left.failureReasons[i];
            }
        }
    }
    for (const std::string& note : notes) {
        line += "; " + note;
    }
    return line + "\n";
}

std::string failureMessage(const StartOutcome& outcome) {
    // Each with its reason, as the notification and the summary give it.
    const std::vector<std::string>& failed = outcome.failureReasons;
    std::string shown = kFailedHeader;
    for (std::size_t i = 0; i < failed.size() && i < kFailuresShown; ++i) {
        shown += "\n- " + failed[i];
    }
    if (failed.size() > kFailuresShown) {
        shown += "\n- and " + std::to_string(failed.size() - kFailuresShown) + " more";
    }
    return shown;
}

bool notifyFailures(const StartOutcome& outcome, const corvale::ListChoice& choice,
                    const std::string& programFolder, const std::function<void()>& beforeWaiting) {
    const std::size_t tried = outcome.started + outcome.failureReasons.size();
    const std::string where = choice.disconnected()
                                  ? "with no network"
                                  : "at " + corvale::printablePath(corvale::entryShown(choice));
    const std::string summary = std::to_string(outcome.failureReasons.size()) + " of " +
                                std::to_string(tried) + " did not start " + where;
    std::string body;
    for (const std::string& reason : outcome.failureReasons) {
        body += (body.empty() ? "" : "\n") + reason;
    }
    const corvale::platform::Notification shown = corvale::platform::notify(summary, body, "Open Corvale");
    if (shown.outcome == corvale::platform::Notified::NoServer) {
        return false;
    }
    if (shown.outcome == corvale::platform::Notified::ShownWithAction) {
        // From here the run only waits for a person, as with a message.
        if (beforeWaiting) {
            beforeWaiting();
        }
        if (corvale::platform::actionChosen(shown.id)) {
            corvale::execIt(programFolder, programFolder + "/corvale", 1,
                            corvale::platform::ChildHandling::StarterEndsSoon, programFolder);
        }
    }
    return true;
}

} // namespace brisken
