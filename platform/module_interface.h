/* The plain C interface of the programs' two modules, declared once for both
 * sides: the module defines these functions, the program finds them by name
 * (moduleSymbol) and calls them through pointers of these very types, so the
 * compiler checks that the two agree. The program may carry its own copy of
 * the C++ runtime, so no C++ object, allocation or exception crosses this
 * interface: every function catches everything, and texts handed back are
 * allocated with malloc for the caller to free. */
#pragma once

#define CORVALE_MODULE_FUNCTION __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* libcorvale_dialogs.so: the Qt dialogs. */

/* Chooses a window platform that can be used and prepares the dialogs.
 * Returns null when windows can be shown; otherwise why not. */
CORVALE_MODULE_FUNCTION const char* corvale_start_dialogs(int* argc, char** argv);
/* Returns the answer's number (corvale::MessageAnswer). */
CORVALE_MODULE_FUNCTION int corvale_show_message(const char* text, const char* caption, int buttons, int icon,
                                                 int defaultButton);
/* The chosen file's full path, or null when the dialog was cancelled. */
CORVALE_MODULE_FUNCTION char* corvale_open_file(const char* filter, const char* title, const char* folder);
/* The chosen folder, or null. */
CORVALE_MODULE_FUNCTION char* corvale_choose_folder(const char* title, const char* folder);
/* Closes the window application before the program ends. */
CORVALE_MODULE_FUNCTION void corvale_stop_dialogs(void);
CORVALE_MODULE_FUNCTION void corvale_process_events(void);
CORVALE_MODULE_FUNCTION void corvale_reset_pointer(void);

/* libcorvale_gio.so: opening files with the desktop's applications. */

/* Opens path (which exists) with its default application, or starts the
 * launcher it is; returns a shell code. The application's environment is
 * the program's, less every BRISKEN_ variable, plus environment: texts
 * "NAME=VALUE" up to a null pointer (null: none). */
CORVALE_MODULE_FUNCTION int corvale_open_with_application(const char* path, const char* const* environment);
/* The name of the application that would open path, or null when there is
 * none. */
CORVALE_MODULE_FUNCTION char* corvale_application_for(const char* path);
/* Opens a web address with the default application for its scheme; returns
 * a shell code. */
CORVALE_MODULE_FUNCTION int corvale_open_uri(const char* uri);
/* The process that the last open started (in a process group of its own),
 * or 0 when it started none that GIO could tell of. */
CORVALE_MODULE_FUNCTION long corvale_last_launched_process(void);

/* Shows a notification through the desktop's notification server
 * (org.freedesktop.Notifications on the session bus): summary, body, and,
 * where the server offers actions, one labelled action_label. Returns -1
 * when no server answered within the bus's bound (nothing was shown), 0 when
 * it was shown without an action, 1 with one; *id is its number. */
CORVALE_MODULE_FUNCTION int corvale_notify(const char* summary, const char* body, const char* action_label,
                                           unsigned* id);
/* Waits until the notification id is closed or its action chosen; returns
 * 1 when the action was chosen. */
CORVALE_MODULE_FUNCTION int corvale_wait_for_notification(unsigned id);

/* The watcher on the session bus (platform/watcher_bus.h). */

/* Owns the watcher's name and serves its object, for the watcher at the
 * other end of socket, until that end closes. Returns 0 then, 1 when no
 * session bus answered or the name is another's (said on standard error). */
CORVALE_MODULE_FUNCTION int corvale_serve_watcher(int socket);
/* Asks the watcher: method with argument (null: none). Returns 0 when done,
 * 1 when no watcher answers, 2 when it refused; *said: why (malloc). */
CORVALE_MODULE_FUNCTION int corvale_ask_watcher(const char* method, const char* argument, char** said);
/* *state: the watcher's properties as lines "Name=value" (malloc); returns as
 * corvale_ask_watcher. */
CORVALE_MODULE_FUNCTION int corvale_watcher_state(char** state, char** said);
/* Calls changed(data) on the default main context whenever the watcher's
 * properties change, it starts or it ends. Returns 0 where no bus answers. */
CORVALE_MODULE_FUNCTION int corvale_follow_watcher(void (*changed)(void*), void* data);

#ifdef __cplusplus
}
#endif
