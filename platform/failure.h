#pragma once

#include <cstring>
#include <stdexcept>
#include <string>

namespace corvale {

// A failure of the system's own operations. It carries the description that
// the user is shown, unchanged, by the layer that shows things.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& description) : std::runtime_error(description) {}
};

// Describes a failed system call: "<what>: <strerror(code)>".
inline std::string systemDescription(const std::string& what, int code) {
    return what + ": " + std::strerror(code);
}

} // namespace corvale
