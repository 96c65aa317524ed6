// A stand-in for systemd's user instance on the session bus: owns
// org.freedesktop.systemd1 and appends each StartUnit and StopUnit it is
// asked to the file named by its argument, as "StartUnit NAME\n". Once it
// owns the name it writes "ready" to the file named by its second argument.
#include <gio/gio.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kInterface = R"(<node><interface name="org.freedesktop.systemd1.Manager">
  <method name="StartUnit"><arg type="s"/><arg type="s"/><arg direction="out" type="o"/></method>
  <method name="StopUnit"><arg type="s"/><arg type="s"/><arg direction="out" type="o"/></method>
</interface></node>)";

const char* record = nullptr;
const char* ready = nullptr;

void call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
          GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    const gchar* unit = nullptr;
    const gchar* mode = nullptr;
    g_variant_get(parameters, "(&s&s)", &unit, &mode);
    if (FILE* file = std::fopen(record, "a")) {
        std::fprintf(file, "%s %s\n", method, unit);
        std::fclose(file);
    }
    g_dbus_method_invocation_return_value(invocation,
                                          g_variant_new("(o)", "/org/freedesktop/systemd1/job/1"));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    record = argv[1];
    ready = argv[2];
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!node || !bus) {
        return 1;
    }
    static const GDBusInterfaceVTable table = {call, nullptr, nullptr, {}};
    g_dbus_connection_register_object(bus, "/org/freedesktop/systemd1", node->interfaces[0], &table, nullptr,
                                      nullptr, nullptr);
    g_bus_own_name_on_connection(
        bus, "org.freedesktop.systemd1", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer) {
            if (FILE* file = std::fopen(ready, "w")) {
                std::fputs("ready\n", file);
                std::fclose(file);
            }
        },
        nullptr, nullptr, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
    return 0;
}
