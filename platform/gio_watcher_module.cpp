// The watcher's object on the session bus, served by the watcher's bus
// process, and the questions others put to it.
#include "platform/gio_session_bus.h"
#include "platform/module_interface.h"
#include "platform/watcher_bus.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <glib-unix.h>
#include <map>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace corvale::platform {

namespace {

constexpr const char* kIntrospection = R"(<node><interface name="example.corvale.Watcher">
  <method name="RunPlace"><arg name="place" type="s" direction="in"/></method>
  <method name="Rerun"/>
  <method name="Pause"/>
  <method name="Resume"/>
  <property name="Place" type="s" access="read"/>
  <property name="Entry" type="s" access="read"/>
  <property name="Address" type="s" access="read"/>
  <property name="Interface" type="s" access="read"/>
  <property name="Tunnel" type="b" access="read"/>
  <property name="Connected" type="b" access="read"/>
  <property name="Paused" type="b" access="read"/>
</interface></node>)";

// The properties in the order of the state record's fields.
constexpr std::array<const char*, 7> kProperties{"Place",  "Entry",     "Address", "Interface",
                                                 "Tunnel", "Connected", "Paused"};
constexpr std::size_t kFirstTruth = 4; // Tunnel, Connected and Paused are booleans
constexpr const char* kRefusedError = "example.corvale.Watcher.Error.Refused";
// A request must fit the watcher's packet whole; no entry's text or name is
// near this long.
constexpr std::size_t kLongestPlace = 4096;

GVariant* propertyValue(std::size_t index, const std::string& value) {
    return index < kFirstTruth ? g_variant_new_string(value.c_str()) : g_variant_new_boolean(value == "1");
}

// The service's state: what the watcher last told, the calls waiting for its
// answer, and the place's target that runs.
struct Service {
    GDBusConnection* bus = nullptr;
    GMainLoop* loop = nullptr;
    int watcher = -1;
    std::vector<std::string> state = std::vector<std::string>(kProperties.size());
    std::map<unsigned, GDBusMethodInvocation*> waiting;
    unsigned serial = 0;
    std::string target;
    int status = 0;
};
Service service;

bool sendToWatcher(BusRecord kind, const std::vector<std::string>& fields) {
    const std::string record = busRecord(kind, fields);
    return ::send(service.watcher, record.data(), record.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(record.size());
}

// Whether sender runs as this session's user. The bus's own policy lets
// no other user connect; a bus set up to let others in meets this too.
bool ofThisUser(const gchar* sender) {
    GVariant* user = g_dbus_connection_call_sync(service.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                 "org.freedesktop.DBus", "GetConnectionUnixUser",
                                                 g_variant_new("(s)", sender), G_VARIANT_TYPE("(u)"),
                                                 G_DBUS_CALL_FLAGS_NONE, kBusAnswerMs, nullptr, nullptr);
    if (!user) {
        return false;
    }
    guint32 uid = 0;
    g_variant_get(user, "(u)", &uid);
    g_variant_unref(user);
    return uid == ::getuid();
}

constexpr const char* kOtherUser = "Only the user of this session may ask its watcher.";

void onCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
            GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    if (!ofThisUser(sender)) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied",
                                                   kOtherUser);
        return;
    }
    const std::string name = method;
    BusRecord kind = name == "RunPlace" ? BusRecord::RunPlace
                     : name == "Rerun"  ? BusRecord::Rerun
                     : name == "Pause"  ? BusRecord::Pause
                                        : BusRecord::Resume;
    std::vector<std::string> fields{std::to_string(++service.serial)};
    if (kind == BusRecord::RunPlace) {
        const gchar* place = nullptr;
        g_variant_get(parameters, "(&s)", &place);
        if (std::strlen(place) > kLongestPlace) {
            g_dbus_method_invocation_return_dbus_error(invocation, kRefusedError,
                                                       "No place has a name that long.");
            return;
        }
        fields.emplace_back(place);
    }
    if (!sendToWatcher(kind, fields)) {
        g_dbus_method_invocation_return_dbus_error(invocation, kRefusedError, "The watcher is ending.");
        return;
    }
    service.waiting[service.serial] = invocation;
}

GVariant* onGet(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* property,
                GError** error, gpointer) {
    if (!ofThisUser(sender)) {
        g_set_error_literal(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED, kOtherUser);
        return nullptr;
    }
    for (std::size_t i = 0; i < kProperties.size(); ++i) {
        if (std::strcmp(property, kProperties[i]) == 0) {
            return propertyValue(i, service.state[i]);
        }
    }
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", property);
    return nullptr;
}

// systemd's user instance, asked to start or stop a place's target; its
// answer comes when it comes. What it could not do is said once an arrival.
struct UnitCall {
    std::string unit;
    bool start = false;
    unsigned arrival = 0;
};
unsigned arrivals = 0;
unsigned saidForArrival = 0;

void onUnitAnswer(GObject* source, GAsyncResult* result, gpointer data) {
    auto* call = static_cast<UnitCall*>(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply) {
        g_variant_unref(reply);
    } else {
        if (saidForArrival != call->arrival) {
            saidForArrival = call->arrival;
            const bool absent = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                                g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
            g_dbus_error_strip_remote_error(error);
            const std::string why =
                absent ? "no systemd user instance answers on the session bus" : error->message;
            std::fprintf(stderr,
                         "brisken: %s %s: %s; nothing more is asked of systemd before the next arrival\n",
                         call->start ? "cannot start" : "cannot stop", call->unit.c_str(), why.c_str());
            std::fflush(stderr);
        }
        g_error_free(error);
    }
    delete call;
}

void askSystemd(const std::string& unit, bool start) {
    auto* call = new UnitCall{unit, start, arrivals};
    g_dbus_connection_call(service.bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                           "org.freedesktop.systemd1.Manager", start ? "StartUnit" : "StopUnit",
                           g_variant_new("(ss)", unit.c_str(), "replace"), G_VARIANT_TYPE("(o)"),
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, kBusAnswerMs, nullptr, onUnitAnswer, call);
}

// The place's target instead of the last one: stopped first, so that units
// of both places do not run together.
void switchTarget(const std::string& target) {
    ++arrivals;
    if (target == service.target) {
        return;
    }
    if (!service.target.empty()) {
        askSystemd(service.target, false);
    }
    service.target = target;
    if (!target.empty()) {
        askSystemd(target, true);
    }
}

void takeState(const std::vector<std::string>& fields) {
    if (fields.size() < kProperties.size() + 2) {
        return;
    }
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    bool any = false;
    for (std::size_t i = 0; i < kProperties.size(); ++i) {
        if (fields[i] != service.state[i]) {
            service.state[i] = fields[i];
            g_variant_builder_add(&changed, "{sv}", kProperties[i], propertyValue(i, fields[i]));
            any = true;
        }
    }
    if (any) {
        g_dbus_connection_emit_signal(
            service.bus, nullptr, kWatcherObjectPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
            g_variant_new("(sa{sv}as)", kWatcherInterface, &changed, nullptr), nullptr);
    } else {
        g_variant_builder_clear(&changed);
    }
    if (fields[kProperties.size() + 1] == "1") {
        switchTarget(fields[kProperties.size()]);
    }
}

void takeAnswer(const std::vector<std::string>& fields) {
    if (fields.size() < 2) {
        return;
    }
    const auto waiting =
        service.waiting.find(static_cast<unsigned>(std::strtoul(fields[0].c_str(), nullptr, 10)));
    if (waiting == service.waiting.end()) {
        return;
    }
    if (fields[1].empty()) {
        g_dbus_method_invocation_return_value(waiting->second, nullptr);
    } else {
        g_dbus_method_invocation_return_dbus_error(waiting->second, kRefusedError, fields[1].c_str());
    }
    service.waiting.erase(waiting);
}

// The watcher has gone: so has the place, and its target with it.
void watcherGone() {
    if (!service.target.empty()) {
        GVariant* reply = g_dbus_connection_call_sync(
            service.bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
            "org.freedesktop.systemd1.Manager", "StopUnit",
            g_variant_new("(ss)", service.target.c_str(), "replace"), G_VARIANT_TYPE("(o)"),
            G_DBUS_CALL_FLAGS_NO_AUTO_START, kBusAnswerMs, nullptr, nullptr);
        if (reply) {
            g_variant_unref(reply);
        }
    }
    g_main_loop_quit(service.loop);
}

gboolean onWatcher(gint fd, GIOCondition, gpointer) {
    // The watcher's state holds names as stored, which may be long.
    static std::vector<char> buffer(65536);
    const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return G_SOURCE_CONTINUE;
    }
    if (got <= 0) {
        watcherGone();
        return G_SOURCE_REMOVE;
    }
    BusRecord kind{};
    std::vector<std::string> fields;
    if (readBusRecord(std::string(buffer.data(), static_cast<std::size_t>(got)), kind, fields)) {
        if (kind == BusRecord::State) {
            takeState(fields);
        } else if (kind == BusRecord::Answer) {
            takeAnswer(fields);
        }
    }
    return G_SOURCE_CONTINUE;
}

void onNameLost(GDBusConnection*, const gchar* name, gpointer) {
    std::fprintf(stderr,
                 "brisken: the session bus gives the name %s to another: this watcher is not on the bus\n",
                 name);
    std::fflush(stderr);
    service.status = 1;
    g_main_loop_quit(service.loop);
}

int serve(int socket) {
    service.watcher = socket;
    service.bus = sessionBusInTime();
    if (!service.bus) {
        std::fprintf(stderr, "brisken: no session bus answers: this watcher runs without one (nobody can ask "
                             "it where the laptop is, and no place's target is started)\n");
        std::fflush(stderr);
        return 1;
    }
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    const GDBusInterfaceVTable table{onCall, onGet, nullptr, {}};
    g_dbus_connection_register_object(service.bus, kWatcherObjectPath, node->interfaces[0], &table, nullptr,
                                      nullptr, nullptr);
    g_dbus_node_info_unref(node);
    service.loop = g_main_loop_new(nullptr, FALSE);
    g_unix_fd_add(socket, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onWatcher, nullptr);
    g_bus_own_name_on_connection(service.bus, kWatcherBusName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, nullptr,
                                 onNameLost, nullptr, nullptr);
    g_main_loop_run(service.loop);
    return service.status;
}

// Another process's question to the watcher.
GVariant* ask(const char* interface, const char* method, GVariant* parameters, const char* replyType,
              std::string& why, int& outcome) {
    GDBusConnection* bus = sessionBusInTime();
    if (!bus) {
        why = "no session bus answers, so no watcher can be asked";
        outcome = 1;
        if (parameters) {
            g_variant_unref(g_variant_ref_sink(parameters));
        }
        return nullptr;
    }
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, kWatcherBusName, kWatcherObjectPath, interface, method,
                                                  parameters, G_VARIANT_TYPE(replyType),
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, &error);
    if (reply) {
        outcome = 0;
        return reply;
    }
    const bool absent = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
    g_dbus_error_strip_remote_error(error);
    why = absent ? std::string("no watcher runs in this session (nothing owns ") + kWatcherBusName +
                       " on the session bus)"
                 : error->message;
    outcome = absent ? 1 : 2;
    g_error_free(error);
    return nullptr;
}

char* copied(const std::string& text) {
    return strdup(text.c_str());
}

} // namespace
} // namespace corvale::platform

extern "C" int corvale_serve_watcher(int socket) {
    try {
        return corvale::platform::serve(socket);
    } catch (...) {
        return 1;
    }
}

extern "C" int corvale_ask_watcher(const char* method, const char* argument, char** said) {
    using namespace corvale::platform;
    try {
        std::string why;
        int outcome = 1;
        GVariant* reply = ask(kWatcherInterface, method, argument ? g_variant_new("(s)", argument) : nullptr,
                              "()", why, outcome);
        if (reply) {
            g_variant_unref(reply);
        }
        *said = copied(why);
        return outcome;
    } catch (...) {
        return 1;
    }
}

extern "C" int corvale_watcher_state(char** state, char** said) {
    using namespace corvale::platform;
    try {
        std::string why;
        int outcome = 1;
        GVariant* reply = ask("org.freedesktop.DBus.Properties", "GetAll",
                              g_variant_new("(s)", kWatcherInterface), "(a{sv})", why, outcome);
        std::string lines;
        if (reply) {
            GVariantIter* properties = nullptr;
            g_variant_get(reply, "(a{sv})", &properties);
            const gchar* name = nullptr;
            GVariant* value = nullptr;
            while (g_variant_iter_loop(properties, "{&sv}", &name, &value)) {
                lines += std::string(name) + "=" +
                         (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)
                              ? (g_variant_get_boolean(value) ? "yes" : "no")
                              : (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)
                                     ? g_variant_get_string(value, nullptr)
                                     : "")) +
                         "\n";
            }
            g_variant_iter_free(properties);
            g_variant_unref(reply);
        }
        *state = copied(lines);
        *said = copied(why);
        return outcome;
    } catch (...) {
        return 1;
    }
}

extern "C" int corvale_follow_watcher(void (*changed)(void*), void* data) {
    using namespace corvale::platform;
    try {
        GDBusConnection* bus = sessionBusInTime();
        if (!bus) {
            return 0;
        }
        struct Told {
            void (*changed)(void*);
            void* data;
        };
        auto* told = new Told{changed, data}; // for the process's life
        const GDBusSignalCallback onChange = [](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                                const gchar*, GVariant*, gpointer user) {
            auto* to = static_cast<Told*>(user);
            to->changed(to->data);
        };
        g_dbus_connection_signal_subscribe(bus, kWatcherBusName, "org.freedesktop.DBus.Properties",
                                           "PropertiesChanged", kWatcherObjectPath, kWatcherInterface,
                                           G_DBUS_SIGNAL_FLAGS_NONE, onChange, told, nullptr);
        const GBusNameAppearedCallback appeared = [](GDBusConnection*, const gchar*, const gchar*,
                                                     gpointer user) {
            auto* to = static_cast<Told*>(user);
            to->changed(to->data);
        };
        const GBusNameVanishedCallback vanished = [](GDBusConnection*, const gchar*, gpointer user) {
            auto* to = static_cast<Told*>(user);
            to->changed(to->data);
        };
        g_bus_watch_name_on_connection(bus, kWatcherBusName, G_BUS_NAME_WATCHER_FLAGS_NONE, appeared,
                                       vanished, told, nullptr);
        return 1;
    } catch (...) {
        return 0;
    }
}
