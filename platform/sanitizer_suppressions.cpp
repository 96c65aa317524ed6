// Built into every program and module of a sanitizer build only: the leaks
// of system libraries that the leak checker reports, not ours (the D-Bus
// connection that Qt and GLib keep for the life of the process). Compiled
// in, so that it also holds for programs started with an environment of
// their own.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libglib-2.0.so\nleak:libgio-2.0.so\nleak:libfontconfig.so\n";
}
