#pragma once

#include <memory>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/socket.h>

namespace corvale::platform {

// libnl's sockets and caches, freed when they go out of scope.
struct NetlinkSocketDeleter {
    void operator()(nl_sock* socket) const { nl_socket_free(socket); }
};
struct NetlinkCacheDeleter {
    void operator()(nl_cache* cache) const { nl_cache_free(cache); }
};
using NetlinkSocket = std::unique_ptr<nl_sock, NetlinkSocketDeleter>;
using NetlinkCache = std::unique_ptr<nl_cache, NetlinkCacheDeleter>;

} // namespace corvale::platform
