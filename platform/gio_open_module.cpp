// The part of opening a file that needs GIO, loaded only when a list item is
// not a program.
#include "platform/shell_open.h"

#include <cstring>
#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <memory>
#include <unistd.h>

namespace corvale::platform {

namespace {

template <typename T> struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectDeleter<T>>;

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

// GLib reaps the processes it starts this way itself (an intermediate
// process), so none is left to us.
bool launch(GAppInfo* app, GList* uris) {
    GError* error = nullptr;
    gboolean launched = FALSE;
    if (G_IS_DESKTOP_APP_INFO(app)) {
        launched = g_desktop_app_info_launch_uris_as_manager(G_DESKTOP_APP_INFO(app), uris, nullptr,
                                                             G_SPAWN_SEARCH_PATH, childSetup, nullptr,
                                                             nullptr, nullptr, &error);
    } else {
        launched = g_app_info_launch_uris(app, uris, nullptr, &error);
    }
    if (error) {
        g_error_free(error);
    }
    return launched;
}

int openDesktopLauncher(const std::string& path) {
    GPtr<GDesktopAppInfo> app(g_desktop_app_info_new_from_filename(path.c_str()));
    if (!app) {
        return shell_code::kBadFormat;
    }
    return launch(G_APP_INFO(app.get()), nullptr) ? shell_code::kSuccess : shell_code::kLaunchFailed;
}

int openWithDefaultApplication(const std::string& path) {
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
    char* uri = g_file_get_uri(file.get());
    GList uris{uri, nullptr, nullptr};
    const bool launched = launch(app.get(), &uris);
    g_free(uri);
    return launched ? shell_code::kSuccess : shell_code::kLaunchFailed;
}

} // namespace
} // namespace corvale::platform

// path exists; returns a shell code.
extern "C" __attribute__((visibility("default"))) int corvale_open_with_application(const char* path) {
    using namespace corvale::platform;
    const std::string target = path;
    if (target.size() > 8 && target.compare(target.size() - 8, 8, ".desktop") == 0) {
        return openDesktopLauncher(target);
    }
    return openWithDefaultApplication(target);
}

// The name of the application that would open path (a launcher: the one it
// describes), malloc'd for the caller, or null when there is none.
extern "C" __attribute__((visibility("default"))) char* corvale_application_for(const char* path) {
    using namespace corvale::platform;
    const std::string target = path;
    GAppInfo* app = nullptr;
    if (target.size() > 8 && target.compare(target.size() - 8, 8, ".desktop") == 0) {
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
}

// Opens a web address with the desktop's default application for its scheme.
extern "C" __attribute__((visibility("default"))) int corvale_open_uri(const char* uri) {
    using namespace corvale::platform;
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
    GList uris{const_cast<char*>(uri), nullptr, nullptr};
    const bool launched = launch(app.get(), &uris);
    return launched ? shell_code::kSuccess : shell_code::kLaunchFailed;
}
