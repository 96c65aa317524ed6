// The watcher's bus side as the watcher runs it, for a test that plays the
// watcher: serves it for the socket given as descriptor 3.
#include "platform/watcher_bus.h"

int main() {
    return corvale::platform::serveWatcher(3);
}
