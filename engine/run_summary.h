#pragma once

#include "engine/item_start.h"
#include "shared/network_choice.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What a run says when it is done: one line on standard error, and, where
// items failed, one notification or one message.
namespace brisken {

inline constexpr const char* kFailedHeader = "This program failed to start correctly: ";
// How many failed items the message names; the rest are counted, so that the
// box fits on a screen. The run's summary on standard error names them all.
inline constexpr std::size_t kFailuresShown = 20;

// The one line that says what the run did, ended by a newline: where it was,
// the list it took, what started, passed over, was asked to end and failed,
// and the notes (tables it could not read). byHand: the list is a place's
// given by hand, not the network's.
std::string summaryLine(const corvale::ListChoice& choice, const std::string& gateway, bool byHand,
                        std::size_t items, const StartOutcome& outcome,
                        const std::vector<std::string>& notes);

// The message that names the failed items, each with its reason.
std::string failureMessage(const StartOutcome& outcome);

// Reports the failures as one notification of the desktop's notification
// server; false when none answered (the message shows them then). Where
// the person chooses "Open Corvale", programFolder's corvale starts, told of
// no place. beforeWaiting is called once the run only waits for a person.
bool notifyFailures(const StartOutcome& outcome, const corvale::ListChoice& choice,
                    const std::string& programFolder, const std::function<void()>& beforeWaiting);

} // namespace brisken
