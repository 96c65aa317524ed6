#include "platform/watcher_bus.h"

#include "platform/module_loader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace corvale::platform {

namespace {

// A text the module allocated, taken over.
std::string taken(char* text) {
    std::string kept = text ? text : "";
    std::free(text);
    return kept;
}

Asked outcomeOf(int code) {
    return code == 0 ? Asked::Done : code == 2 ? Asked::Refused : Asked::NoWatcher;
}

} // namespace

WatcherAnswer askWatcher(const std::string& method, const std::string& argument) {
    std::string loadError;
    const auto ask = CORVALE_MODULE_LOOKUP(kGioModule, corvale_ask_watcher, loadError);
    if (!ask) {
        return {Asked::NoWatcher, "the session bus cannot be reached: " + loadError, {}};
    }
    char* said = nullptr;
    const int code = ask(method.c_str(), method == "RunPlace" ? argument.c_str() : nullptr, &said);
    return {outcomeOf(code), taken(said), {}};
}

WatcherAnswer watcherState() {
    std::string loadError;
    const auto read = CORVALE_MODULE_LOOKUP(kGioModule, corvale_watcher_state, loadError);
    if (!read) {
        return {Asked::NoWatcher, "the session bus cannot be reached: " + loadError, {}};
    }
    char* lines = nullptr;
    char* said = nullptr;
    const int code = read(&lines, &said);
    WatcherAnswer answer{outcomeOf(code), taken(said), {}};
    const std::string state = taken(lines);
    WatcherState& told = answer.state;
    for (std::size_t at = 0; at < state.size();) {
        const std::size_t end = std::min(state.find('\n', at), state.size());
        const std::string line = state.substr(at, end - at);
        at = end + 1;
        const auto equals = line.find('=');
        const std::string name = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
        for (auto [property, text] :
             {std::pair{"Place", &told.place}, std::pair{"Entry", &told.entry},
              std::pair{"Address", &told.address}, std::pair{"Interface", &told.interface}}) {
            if (name == property) {
                *text = value;
            }
        }
        for (auto [property, truth] :
             {std::pair{"Tunnel", &told.tunnel}, std::pair{"Connected", &told.connected},
              std::pair{"Paused", &told.paused}}) {
            if (name == property) {
                *truth = value == "yes";
            }
        }
    }
    return answer;
}

bool followWatcher(std::function<void()>* changed) {
    std::string loadError;
    const auto follow = CORVALE_MODULE_LOOKUP(kGioModule, corvale_follow_watcher, loadError);
    return follow && follow([](void* told) { (*static_cast<std::function<void()>*>(told))(); }, changed) != 0;
}

int serveWatcher(int socket) {
    std::string loadError;
    const auto serve = CORVALE_MODULE_LOOKUP(kGioModule, corvale_serve_watcher, loadError);
    if (!serve) {
        std::fprintf(stderr, "brisken: this watcher runs without the session bus: %s\n", loadError.c_str());
        return 1;
    }
    return serve(socket);
}

} // namespace corvale::platform
