// The session bus as the GIO module's parts share it.
#pragma once

#include <gio/gio.h>

namespace corvale::platform {

// The bound within which the bus, and whoever is asked on it, must answer.
inline constexpr int kBusAnswerMs = 3000;

// The session bus, asked once per process and given kBusAnswerMs to answer;
// null where none answered in time (or none is set). The connection is kept
// for the process's life.
GDBusConnection* sessionBusInTime();

} // namespace corvale::platform
