// The watcher on the session bus: its name and object, the records that pass
// between the watcher and its bus process, and how others ask it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace corvale::platform {

inline constexpr const char* kWatcherBusName = "example.corvale.Watcher";
inline constexpr const char* kWatcherObjectPath = "/example/corvale/Watcher";
inline constexpr const char* kWatcherInterface = "example.corvale.Watcher";

// What passes on the socket between the watcher and its bus process, one
// record a packet: a kind, then texts each ended by a null byte.
enum class BusRecord : char {
    // To the bus process.
    State = 'S',  // place, entry, address, interface, tunnel, connected, paused ("1"/"0"),
                  // target, arrival ("1" where the target is to be switched now)
    Answer = 'A', // serial, why the request was refused (empty: done)
    // To the watcher: serial, then the request's argument.
    RunPlace = 'R',
    Rerun = 'E',
    Pause = 'P',
    Resume = 'U',
};
inline std::string busRecord(BusRecord kind, const std::vector<std::string>& fields) {
    std::string record(1, static_cast<char>(kind));
    for (const std::string& field : fields) {
        record.append(field.c_str()).push_back('\0'); // a text ends at its first null byte
    }
    return record;
}
// The kind and fields of a record; false for one that is not whole.
inline bool readBusRecord(const std::string& record, BusRecord& kind, std::vector<std::string>& fields) {
    if (record.empty() || (record.size() > 1 && record.back() != '\0')) {
        return false;
    }
    kind = static_cast<BusRecord>(record[0]);
    fields.clear();
    for (std::size_t at = 1; at < record.size();) {
        const std::size_t end = record.find('\0', at);
        fields.push_back(record.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

// Where the watcher says the laptop is (its properties of these names).
struct WatcherState {
    std::string place; // the entry's name, or the entry; empty where none matches
    std::string entry;
    std::string address;
    std::string interface;
    bool tunnel = false;
    bool connected = false;
    bool paused = false;
};

enum class Asked { Done, NoWatcher, Refused };
struct WatcherAnswer {
    Asked outcome = Asked::NoWatcher;
    std::string why; // where not done
    WatcherState state;
};
// Asks the watcher of this session: RunPlace (with argument), Rerun, Pause
// or Resume.
WatcherAnswer askWatcher(const std::string& method, const std::string& argument = {});
// The watcher's state, where one answers.
WatcherAnswer watcherState();
// Calls changed on this thread's default main context whenever the
// watcher's state changes, it starts or it ends; false where no session bus
// answers. changed must live as long as the process.
bool followWatcher(std::function<void()>* changed);

// Serves the watcher on the session bus for the watcher at the other end of
// socket, in this process, until that end closes; returns the exit status.
int serveWatcher(int socket);

} // namespace corvale::platform
