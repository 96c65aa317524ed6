#include "configtool/resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must stand outside any namespace.
static void initToolResources() {
    Q_INIT_RESOURCE(resources);
}

namespace corvale::tool {

void loadResources() {
    static const bool loaded = (initToolResources(), true);
    (void)loaded;
}

} // namespace corvale::tool
