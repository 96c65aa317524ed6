// brisken: starts the programs listed for the network the machine is on.
#include "engine/address_discovery.h"
#include "engine/engine.h"
#include "platform/folders.h"
#include "platform/lazy_dialogs.h"
#include "platform/process_start.h"
#include "shared/error_text.h"

#include <exception>

int main(int argc, char** argv) {
    corvale::platform::reapChildrenAsTheyEnd();
    corvale::platform::LazyQtDialogs dialogs(argc, argv);
    // The window module's pointer, set back by the engine's one error text.
    corvale::setPointerReset([&dialogs] { dialogs.resetPointer(); });
    std::string programFolder;
    try {
        programFolder = corvale::platform::programFolder();
    } catch (const std::exception& failure) {
        dialogs.showMessage({corvale::he(failure), brisken::kCaption});
        return brisken::kExitTrapped;
    }
    corvale::platform::NetlinkNetwork network;
    brisken::NetworkDiscovery discovery(network, dialogs, [&dialogs] { dialogs.processPendingEvents(); });
    brisken::Engine engine(dialogs, discovery, programFolder);
    return engine.Main();
}
