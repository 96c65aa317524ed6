#pragma once

#include "engine/item_plan.h"
#include "engine/started_records.h"
#include "engine/watch_decisions.h"
#include "platform/process_start.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// The start of a planned list: what earlier runs left is asked to end, then
// each item starts in order, none waited for.
namespace brisken {

// How a failed item is named: its path as people can read it, or "(empty)"
// for a row that holds no target at all.
inline constexpr const char* kNoTarget = "(empty)";

// What the items of the list left came to, run on leaving.
struct LeavingOutcome {
    std::size_t ran = 0;
    std::vector<std::string> stillRunning;   // at the bound, left running
    std::vector<std::string> failedPrograms; // as the message names them
    std::vector<std::string> failureReasons; // "PATH: why"
};

// What the start of a planned list came to.
struct StartOutcome {
    std::size_t started = 0;
    std::size_t passedOver = 0;
    std::vector<std::string> failedPrograms; // as the message names them
    std::vector<std::string> failureReasons; // "PATH: why", in the list's order
    std::vector<std::string> stopped;        // targets asked to end on leaving
    std::vector<pid_t> processes;            // of the items started, where known
    LeavingOutcome leaving{};                // of the list left, run first
};

// How long the engine waits for each item that runs on leaving, as a
// dispatcher waits for its scripts, before it goes on.
inline constexpr std::chrono::seconds kLeavingBound{10};

// Told of each process a watcher's run starts for an item, or holds now
// (nothing in other runs).
using StartedTold = std::function<void(const StartedProcess&)>;

// Starts every item planned to start, from programFolder, each with
// environment; says on standard error what a person should know of an item
// passed over or started in the program folder.
StartOutcome startItems(const std::vector<ItemPlan>& plans,
                        const corvale::platform::ChildEnvironment& environment,
                        const std::string& programFolder, const StartedTold& started);

// Starts each item planned, in order, each with environment, and waits for
// each to end, up to bound; one still running then is left running.
LeavingOutcome runLeavingItems(const std::vector<ItemPlan>& plans,
                               const corvale::platform::ChildEnvironment& environment,
                               const std::string& programFolder, std::chrono::milliseconds bound);

// Asks what earlier runs started for items marked now to end (marked, as the
// database holds the marks now), where plans do not hold their targets, once
// each: one SIGTERM to the process group, nothing more. Returns their
// targets as people read them.
std::vector<std::string> askToEndOnLeaving(const std::vector<StartedProcess>& startedBefore,
                                           const std::vector<ItemPlan>& plans,
                                           const EarlierProcesses::Marks& marked, const StartedTold& started);

} // namespace brisken
