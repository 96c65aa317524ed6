#pragma once

namespace corvale::tool {

// Registers the pictures built into the tool's library; safe to call often.
void loadResources();

} // namespace corvale::tool
