#pragma once

namespace corvale::tool {

// The title of the tool, and of its messages that give none of their own.
inline constexpr const char* kToolCaption = "Corvale";

} // namespace corvale::tool
