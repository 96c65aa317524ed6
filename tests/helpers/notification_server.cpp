// A stand-in for the desktop's notification server: owns
// org.freedesktop.Notifications on the session bus, offers no actions, and
// appends each notification to the file named by its argument, as
// "SUMMARY\tBODY\n" (body lines joined by "|"). Once it owns the name it
// writes "ready" to the file named by its second argument.
//
// With a third argument "act" it offers actions, and answers its first
// notification as an attacker and a person would: another client of the bus
// sends ActionInvoked for it (action "corvale"), then the server says it was
// closed; the second it answers with the action chosen, once it is sent
// SIGUSR1.
#include <csignal>
#include <gio/gio.h>
#include <glib-unix.h>

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
bool acts = false;
GDBusConnection* server = nullptr;

void emitFrom(GDBusConnection* connection, const char* signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(connection, nullptr, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", signal, parameters, nullptr);
    // A round trip: the bus has passed the signal on before anything else
    // is sent.
    GVariant* id = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                               "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (id) {
        g_variant_unref(id);
    }
}

// After the reply to Notify number has gone.
gboolean answer(gpointer data) {
    const auto number = static_cast<guint32>(GPOINTER_TO_UINT(data));
    if (number == 1) {
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        GDBusConnection* other = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_free(address);
        if (other) {
            emitFrom(other, "ActionInvoked", g_variant_new("(us)", number, "corvale"));
            g_object_unref(other);
        }
        emitFrom(server, "NotificationClosed", g_variant_new("(uu)", number, 2u));
    } else {
        emitFrom(server, "ActionInvoked", g_variant_new("(us)", number, "corvale"));
    }
    return G_SOURCE_REMOVE;
}

void call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
          GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    const std::string name = method;
    if (name == "GetCapabilities") {
        const gchar* capabilities[] = {"body", acts ? "actions" : nullptr, nullptr};
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
        // Answered once the reply has gone: the first at once, the second
        // on SIGUSR1, which is heard before the notification is said shown.
        ++shown;
        if (acts) {
            shown == 1 ? g_idle_add(answer, GUINT_TO_POINTER(shown))
                       : g_unix_signal_add(SIGUSR1, answer, GUINT_TO_POINTER(shown));
        }
        if (FILE* file = std::fopen(record, "a")) {
            std::fprintf(file, "%s\n", line.c_str());
            std::fclose(file);
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", shown));
    } else {
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(ssss)", "stand-in", "corvale", "1", "1.2"));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        return 2;
    }
    record = argv[1];
    ready = argv[2];
    acts = argc == 4 && std::string(argv[3]) == "act";
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    server = bus;
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
