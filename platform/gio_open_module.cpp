// The part of opening a file that needs GIO, loaded only when a list item is
// not a program.
#include "platform/gio_session_bus.h"
#include "platform/module_interface.h"
#include "platform/owned.h"
#include "platform/shell_open.h"

#include <cstring>
#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvale::platform {

namespace {

template <typename T> using GPtr = Owned<T, g_object_unref>;

// Runs in the started application before it executes: cut it loose from our
// session and our terminal.
void childSetup(gpointer) {
    ::setsid();
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
        ::dup2(devNull, STDIN_FILENO);
        if (devNull != STDIN_FILENO) {
            ::close(devNull);
        }
    }
}

// Every launch through GIO first gets the session bus (to announce the
// launch, or to start an application that the bus activates). A bus that
// accepts the connection and never answers would keep it waiting for ever,
// so the bus is asked once, without blocking, and given a few seconds. The
// connection it gives is kept: GIO's launches then take that one.
enum class Bus { NotAsked, Answers, Silent };
Bus sessionBus = Bus::NotAsked;
GDBusConnection* keptBus = nullptr;

struct BusQuestion {
    bool answered = false;
};

void onBusAnswer(GObject*, GAsyncResult* result, gpointer data) {
    static_cast<BusQuestion*>(data)->answered = true;
    // No bus at all (nothing set, nothing to start one) is an answer too:
    // GIO then launches without one.
    keptBus = g_bus_get_finish(result, nullptr);
}

bool sessionBusAnswersInTime() {
    if (sessionBus != Bus::NotAsked) {
        return sessionBus == Bus::Answers;
    }
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    // Left behind when the bus never answers: its answer may still come.
    auto* question = new BusQuestion;
    GCancellable* cancel = g_cancellable_new();
    g_bus_get(G_BUS_TYPE_SESSION, cancel, onBusAnswer, question);
    const gint64 deadline = g_get_monotonic_time() + gint64{kBusAnswerMs} * 1000;
    for (gint64 left; !question->answered && (left = deadline - g_get_monotonic_time()) > 0;) {
        GSource* timer = g_timeout_source_new(static_cast<guint>(left / 1000 + 1));
        g_source_set_callback(
            timer, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(timer, context);
        g_main_context_iteration(context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
    }
    g_main_context_pop_thread_default(context);
    if (question->answered) {
        sessionBus = Bus::Answers;
        delete question;
    } else {
        sessionBus = Bus::Silent;
        g_cancellable_cancel(cancel);
    }
    return sessionBus == Bus::Answers;
}

// The process the last launch started, as GLib reports it.
long lastLaunched = 0;

// GLib reaps the processes it starts this way itself (an intermediate
// process), so none is left to us.
bool launch(GAppInfo* app, GList* uris, const char* const* environment) {
    GError* error = nullptr;
    gboolean launched = FALSE;
    lastLaunched = 0;
    // The program's environment, but what says where an item was started:
    // only the values given (BRISKEN_*) say that.
    GPtr<GAppLaunchContext> context(g_app_launch_context_new());
    gchar** names = g_listenv();
    for (gchar** name = names; *name; ++name) {
        if (g_str_has_prefix(*name, "BRISKEN_")) {
            g_app_launch_context_unsetenv(context.get(), *name);
        }
    }
    g_strfreev(names);
    for (const char* const* variable = environment; variable && *variable; ++variable) {
        if (const char* equals = std::strchr(*variable, '=')) {
            const std::string name(*variable, static_cast<std::size_t>(equals - *variable));
            g_app_launch_context_setenv(context.get(), name.c_str(), equals + 1);
        }
    }
    if (G_IS_DESKTOP_APP_INFO(app)) {
        const GDesktopAppLaunchCallback started = [](GDesktopAppInfo*, GPid pid, gpointer) {
            lastLaunched = pid;
        };
        launched = g_desktop_app_info_launch_uris_as_manager(G_DESKTOP_APP_INFO(app), uris, context.get(),
                                                             G_SPAWN_SEARCH_PATH, childSetup, nullptr,
                                                             started, nullptr, &error);
    } else {
        launched = g_app_info_launch_uris(app, uris, context.get(), &error);
    }
    if (error) {
        g_error_free(error);
    }
    return launched;
}

int openDesktopLauncher(const std::string& path, const char* const* environment) {
    GPtr<GDesktopAppInfo> app(g_desktop_app_info_new_from_filename(path.c_str()));
    if (!app) {
        return shell_code::kBadFormat;
    }
    if (!sessionBusAnswersInTime()) {
        return shell_code::kTimedOut;
    }
    return launch(G_APP_INFO(app.get()), nullptr, environment) ? shell_code::kSuccess
                                                               : shell_code::kLaunchFailed;
}

int openWithDefaultApplication(const std::string& path, const char* const* environment) {
    GPtr<GFile> file(g_file_new_for_path(path.c_str()));
    GError* error = nullptr;
    GPtr<GFileInfo> info(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                           G_FILE_QUERY_INFO_NONE, nullptr, &error));
    if (!info) {
        g_error_free(error);
        return shell_code::kAccessDenied;
    }
    const char* contentType = g_file_info_get_content_type(info.get());
    if (!contentType) {
        return shell_code::kNoAssociation;
    }
    GPtr<GAppInfo> app(g_app_info_get_default_for_type(contentType, FALSE));
    if (!app) {
        return shell_code::kNoAssociation;
    }
    if (!sessionBusAnswersInTime()) {
        return shell_code::kTimedOut;
    }
    char* uri = g_file_get_uri(file.get());
    GList uris{uri, nullptr, nullptr};
    const bool launched = launch(app.get(), &uris, environment);
    g_free(uri);
    return launched ? shell_code::kSuccess : shell_code::kLaunchFailed;
}

// The notification server that answered, by its unique name.
std::string notificationServer;

// The desktop's notification server, asked as the bus's other questions
// are: within the bus's bound.
GVariant* askNotifications(const char* method, GVariant* parameters, const char* replyType) {
    if (!sessionBusAnswersInTime() || !keptBus) {
        if (parameters) {
            g_variant_unref(g_variant_ref_sink(parameters));
        }
        return nullptr;
    }
    return g_dbus_connection_call_sync(
        keptBus, notificationServer.empty() ? "org.freedesktop.Notifications" : notificationServer.c_str(),
        "/org/freedesktop/Notifications", "org.freedesktop.Notifications", method, parameters,
        G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, kBusAnswerMs, nullptr, nullptr);
}

// The server's own name on the bus (":1.42"): the notification is shown by
// it, and only its signals say what became of it. Any other client of the
// bus may send a signal of the same name and number.
bool findNotificationServer() {
    if (!sessionBusAnswersInTime() || !keptBus) {
        return false;
    }
    GVariant* owner = g_dbus_connection_call_sync(
        keptBus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
        g_variant_new("(s)", "org.freedesktop.Notifications"), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
        kBusAnswerMs, nullptr, nullptr);
    if (!owner) {
        return false;
    }
    const gchar* name = nullptr;
    g_variant_get(owner, "(&s)", &name);
    notificationServer = name;
    g_variant_unref(owner);
    return true;
}

// What the server said of its notifications, heard from before the first
// is shown: a click may come at once. Each is (number, chosen).
struct Heard {
    GMainContext* context = nullptr;
    guint subscription = 0;
    std::vector<std::pair<guint32, bool>> ends;
};
Heard heard;

// Listens to the server that owns the name now, and to it alone: any other
// client of the bus may send a signal of the same name and number.
void listenToTheServer() {
    if (heard.context) {
        return;
    }
    heard.context = g_main_context_new();
    g_main_context_push_thread_default(heard.context);
    const GDBusSignalCallback told = [](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                        const gchar* signal, GVariant* parameters, gpointer) {
        guint32 number = 0;
        if (std::strcmp(signal, "ActionInvoked") == 0 &&
            g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
            const gchar* action = nullptr;
            g_variant_get(parameters, "(u&s)", &number, &action);
            heard.ends.emplace_back(number, std::strcmp(action, "corvale") == 0);
        } else if (std::strcmp(signal, "NotificationClosed") == 0 &&
                   g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
            guint32 reason = 0;
            g_variant_get(parameters, "(uu)", &number, &reason);
            heard.ends.emplace_back(number, false);
        }
    };
    heard.subscription = g_dbus_connection_signal_subscribe(
        keptBus, notificationServer.c_str(), "org.freedesktop.Notifications", nullptr,
        "/org/freedesktop/Notifications", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, told, nullptr, nullptr);
    g_main_context_pop_thread_default(heard.context);
}

int showNotification(const char* summary, const char* body, const char* actionLabel, unsigned* id) {
    if (!findNotificationServer()) {
        return -1;
    }
    GVariant* capabilities = askNotifications("GetCapabilities", nullptr, "(as)");
    if (!capabilities) {
        return -1;
    }
    bool actions = false;
    bool markup = false;
    GVariantIter* names = nullptr;
    g_variant_get(capabilities, "(as)", &names);
    for (const gchar* name; g_variant_iter_next(names, "&s", &name);) {
        actions = actions || std::strcmp(name, "actions") == 0;
        markup = markup || std::strcmp(name, "body-markup") == 0;
    }
    g_variant_iter_free(names);
    g_variant_unref(capabilities);

    GVariantBuilder offered;
    g_variant_builder_init(&offered, G_VARIANT_TYPE("as"));
    if (actions) {
        g_variant_builder_add(&offered, "s", "corvale");
        g_variant_builder_add(&offered, "s", actionLabel);
        listenToTheServer();
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("corvale"));
    // A server that reads markup would take a path's "<" or "&" for it.
    gchar* text = markup ? g_markup_escape_text(body, -1) : g_strdup(body);
    GVariant* reply = askNotifications(
        "Notify",
        g_variant_new("(susssasa{sv}i)", "Brisken", 0u, "corvale", summary, text, &offered, &hints, -1),
        "(u)");
    g_free(text);
    if (!reply) {
        return -1;
    }
    g_variant_get(reply, "(u)", id);
    g_variant_unref(reply);
    return actions ? 1 : 0;
}

int waitForNotification(unsigned id) {
    if (!keptBus || !heard.context) {
        return 0;
    }
    for (;;) {
        for (const auto& [number, chosen] : heard.ends) {
            if (number == id) {
                return chosen ? 1 : 0;
            }
        }
        if (g_dbus_connection_is_closed(keptBus)) {
            return 0;
        }
        g_main_context_iteration(heard.context, TRUE);
    }
}

} // namespace

GDBusConnection* sessionBusInTime() {
    return sessionBusAnswersInTime() ? keptBus : nullptr;
}

} // namespace corvale::platform

namespace {

// Nothing may leave the module as an exception.
template <typename Result, typename Work> Result caught(Result onFailure, Work&& work) {
    try {
        return work();
    } catch (...) {
        return onFailure;
    }
}

bool isLauncher(const std::string& path) {
    return path.size() > 8 && path.compare(path.size() - 8, 8, ".desktop") == 0;
}

} // namespace

extern "C" int corvale_open_with_application(const char* path, const char* const* environment) {
    using namespace corvale::platform;
    return caught(shell_code::kLaunchFailed, [path, environment] {
        const std::string target = path;
        return isLauncher(target) ? openDesktopLauncher(target, environment)
                                  : openWithDefaultApplication(target, environment);
    });
}

extern "C" char* corvale_application_for(const char* path) {
    using namespace corvale::platform;
    return caught(static_cast<char*>(nullptr), [path]() -> char* {
        GAppInfo* app = nullptr;
        if (isLauncher(path)) {
            app = G_APP_INFO(g_desktop_app_info_new_from_filename(path));
        } else {
            GPtr<GFile> file(g_file_new_for_path(path));
            GPtr<GFileInfo> info(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                   G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
            const char* type = info ? g_file_info_get_content_type(info.get()) : nullptr;
            app = type ? g_app_info_get_default_for_type(type, FALSE) : nullptr;
        }
        if (!app) {
            return nullptr;
        }
        char* name = strdup(g_app_info_get_name(app));
        g_object_unref(app);
        return name;
    });
}

extern "C" int corvale_notify(const char* summary, const char* body, const char* action_label, unsigned* id) {
    return caught(-1, [&] { return corvale::platform::showNotification(summary, body, action_label, id); });
}

extern "C" int corvale_wait_for_notification(unsigned id) {
    return caught(0, [id] { return corvale::platform::waitForNotification(id); });
}

extern "C" long corvale_last_launched_process(void) {
    return corvale::platform::lastLaunched;
}

extern "C" int corvale_open_uri(const char* uri) {
    using namespace corvale::platform;
    return caught(shell_code::kLaunchFailed, [uri] {
        char* scheme = g_uri_parse_scheme(uri);
        if (!scheme) {
            return shell_code::kFileNotFound;
        }
        const std::string type = std::string("x-scheme-handler/") + scheme;
        g_free(scheme);
        GPtr<GAppInfo> app(g_app_info_get_default_for_type(type.c_str(), FALSE));
        if (!app) {
            return shell_code::kNoAssociation;
        }
        if (!sessionBusAnswersInTime()) {
            return shell_code::kTimedOut;
        }
        GList uris{const_cast<char*>(uri), nullptr, nullptr};
        return launch(app.get(), &uris, nullptr) ? shell_code::kSuccess : shell_code::kLaunchFailed;
    });
}
