#pragma once

#include "engine/engine.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace brisken {

// Makes one run; returns its exit status.
using Run = std::function<int(const RunSettings&)>;

// brisken --watch: the logon run, then, whenever the network changes, the
// choice of list again; once a choice other than the list run last has
// held for settle, a run of it. Each run is a process of its own (what it
// shows, loads or waits for stays there), so the watcher itself stays small
// and idle between changes: it sleeps on the kernel's notices, with no timer
// but the settle time. One watcher per user and session; it ends on SIGTERM
// or SIGINT, leaving what it started running. When a run begins, an older
// one that only waits for a person to read its message ends, so that one
// message at most stands. Returns only when another watcher holds the lock
// (0), when no lock can be had (after one run, as at logon) or when the
// notices cannot be had (1).
int watch(const std::string& programFolder, std::chrono::seconds settle,
          std::optional<int> waitForNetworkSeconds, const Run& run);

} // namespace brisken
