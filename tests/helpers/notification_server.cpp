// A stand-in for the desktop's notification server: owns
// org.freedesktop.Notifications on the session bus, offers no actions, and
// appends each notification to the file named by its argument, as
// "SUMMARY\tBODY\n" (body lines joined by "|"). Once it owns the name it
// writes "ready" to the file named by its second argument.
#include <gio/gio.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kInterface = R"(<node><interface name="org.freedesktop.Notifications">
  <method name="GetCapabilities"><arg direction="out" type="as"/></method>
  <method name="Notify">
    <arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/><arg type="s"/>
    <arg type="as"/><arg type="a{sv}"/><arg type="i"/><arg direction="out" type="u"/>
  </method>
  <method name="GetServerInformation">
    <arg direction="out" type="s"/><arg direction="out" type="s"/><arg direction="out" type="s"/>
    <arg direction="out" type="s"/>
  </method>
</interface></node>)";

const char* record = nullptr;
const char* ready = nullptr;
guint32 shown = 0;

void call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
          GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    const std::string name = method;
    if (name == "GetCapabilities") {
        const gchar* capabilities[] = {"body", nullptr};
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(^as)", const_cast<gchar**>(capabilities)));
    } else if (name == "Notify") {
        const gchar* summary = nullptr;
        const gchar* body = nullptr;
        g_variant_get_child(parameters, 3, "&s", &summary);
        g_variant_get_child(parameters, 4, "&s", &body);
        std::string line = std::string(summary) + "\t" + body;
        for (char& c : line) {
            c = c == '\n' ? '|' : c;
        }
        if (FILE* file = std::fopen(record, "a")) {
            std::fprintf(file, "%s\n", line.c_str());
            std::fclose(file);
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++shown));
    } else {
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(ssss)", "stand-in", "corvale", "1", "1.2"));
    }
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
    g_dbus_connection_register_object(bus, "/org/freedesktop/Notifications", node->interfaces[0], &table,
                                      nullptr, nullptr, nullptr);
    g_bus_own_name_on_connection(
        bus, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer) {
            if (FILE* file = std::fopen(ready, "w")) {
                std::fputs("ready\n", file);
                std::fclose(file);
            }
        },
        nullptr, nullptr, nullptr);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
