#include "engine/bus_process.h"

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace brisken {

using corvale::platform::BusRecord;

BusProcess BusProcess::start(std::initializer_list<int> watcherOnly) {
    int ends[2] = {-1, -1};
    // Closed in whatever a run starts; the runs close it themselves.
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        for (const int fd : watcherOnly) {
            ::close(fd);
        }
        ::close(ends[0]);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        ::_exit(corvale::platform::serveWatcher(ends[1]));
    }
    ::close(ends[1]);
    BusProcess process;
    if (child > 0) {
        process.m_socket = corvale::platform::FileDescriptor(ends[0]);
    } else {
        ::close(ends[0]);
    }
    return process;
}

void BusProcess::tell(const PlaceState& state, bool arrival) {
    if (!m_socket) {
        return;
    }
    const auto truth = [](bool value) { return std::string(value ? "1" : "0"); };
    const std::string record =
        busRecord(BusRecord::State, {state.place.place, state.place.entry, state.place.address,
                                     state.place.interface, truth(state.tunnel), truth(state.connected),
                                     truth(state.paused), state.target, truth(arrival)});
    if (::send(m_socket.get(), record.data(), record.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
        errno != EAGAIN) {
        m_socket.reset();
    }
}

std::vector<BusRequest> BusProcess::take() {
    std::vector<BusRequest> requests;
    char buffer[8192];
    for (;;) {
        const ssize_t got = m_socket ? ::recv(m_socket.get(), buffer, sizeof buffer, MSG_DONTWAIT) : 0;
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            break;
        }
        if (got <= 0) {
            m_socket.reset(); // the bus process has gone, and said why
            break;
        }
        BusRecord kind{};
        std::vector<std::string> fields;
        if (readBusRecord(std::string(buffer, static_cast<std::size_t>(got)), kind, fields) &&
            !fields.empty()) {
            requests.push_back({kind, fields[0], fields.size() > 1 ? fields[1] : std::string()});
        }
    }
    return requests;
}

void BusProcess::answer(const std::string& serial, const std::string& refusal) {
    if (!m_socket) {
        return;
    }
    const std::string record = busRecord(BusRecord::Answer, {serial, refusal});
    ::send(m_socket.get(), record.data(), record.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace brisken
