#pragma once

#include "platform/owned.h"
#include "platform/watcher_bus.h"
#include "shared/run_place.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace brisken {

// Where the watcher says the laptop is: the place whose list ran last (or
// would have, while paused) and how the watcher stands.
struct PlaceState {
    corvale::RunPlace place;
    bool connected = false;
    bool tunnel = false;
    bool paused = false;
    std::string target; // the place's systemd user target, where it has one
};

// A request that came over the bus.
struct BusRequest {
    corvale::platform::BusRecord kind{};
    std::string serial;
    std::string argument; // RunPlace's place
};

// The watcher's end of the process that serves it on the session bus. GIO,
// and the bus's threads, live in that process alone: the watcher forks its
// runs, and a run forked from a process with GIO's threads could not use
// GIO itself.
class BusProcess {
public:
    BusProcess() = default;
    // Starts the process; it closes first what only the watcher may hold.
    static BusProcess start(std::initializer_list<int> watcherOnly);

    // What poll waits on; -1 once the process has gone (or never came).
    int socket() const { return m_socket ? m_socket.get() : -1; }
    // The state to show; arrival: the place's target is switched now.
    void tell(const PlaceState& state, bool arrival);
    // The requests that came; where the process has gone, none, and the
    // watcher goes on without it.
    std::vector<BusRequest> take();
    // Answers a request: done where refusal is empty.
    void answer(const std::string& serial, const std::string& refusal);

private:
    corvale::platform::FileDescriptor m_socket;
};

} // namespace brisken
