// GLib allocates a buffer in its library constructor and keeps it for the
// life of the process; the leak checker would report it in every program
// that loads GLib. Only allocations made while shared libraries initialise
// are let through; full stacks (GLib has no frame pointers) let the checker
// see where an allocation came from.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:_dl_init\nleak:libpython3\nleak:libfontconfig\nleak:libsoup-3.0\n";
}
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
