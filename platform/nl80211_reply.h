#pragma once

#include "platform/network.h"

struct nl_msg;

namespace corvale::platform {

// The Wi-Fi name that the kernel's answer to NL80211_CMD_GET_INTERFACE gives:
// the SSID of an interface that is a station associated with a network; for
// an interface in another mode, or a station that is not associated, no
// name and why.
Identity wifiNameInReply(nl_msg* reply);

} // namespace corvale::platform
