#pragma once

#include <exception>
#include <functional>
#include <string>

namespace corvale {

// Returns the description of the failure being handled, to be shown
// unchanged. It first sets the mouse pointer back to normal, so that a busy
// pointer set by the failed operation is gone when the message appears.
std::string he(const std::exception& failure);

// The windowing layer registers how the pointer is set back; without one
// (a program that has shown no window) there is nothing to restore.
void setPointerReset(std::function<void()> reset);

} // namespace corvale
