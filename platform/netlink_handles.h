#pragma once

#include "platform/owned.h"

#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/socket.h>

namespace corvale::platform {

// libnl's sockets and caches, freed when they go out of scope.
using NetlinkSocket = Owned<nl_sock, nl_socket_free>;
using NetlinkCache = Owned<nl_cache, nl_cache_free>;

} // namespace corvale::platform
