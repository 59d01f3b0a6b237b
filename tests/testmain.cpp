// The main of every test program: a private configuration folder, English
// texts and the console reporter, so tests never touch the user's settings
// and read the same on every machine.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/com/Language.h"

// GLib allocates a buffer in its library constructor and keeps it for the
// life of the process; the leak checker would report it in every program
// that loads GLib. Allocations made while shared libraries initialise are
// let through, and so are the libraries tests/lsan.supp names, with its
// reasons. Full stacks (GLib has no frame pointers) show where an allocation
// came from. Weak, so a test program may bring its own.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
    return "leak:_dl_init\nleak:libpython3\nleak:libfontconfig\nleak:libsoup-3.0\n";
}
extern "C" __attribute__((weak)) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
// Race checking: GLib, GStreamer and Qt are built without it, so their own
// atomics and futex locks are invisible to it. What those libraries read and
// write themselves (through the C library) is not checked; what our code
// reads and writes always is. The rules file names the remaining reports
// that lie inside those libraries.
#define VELOTRAX_TSAN_OPTIONS \
    "ignore_noninstrumented_modules=1:suppressions=" VELOTRAX_SOURCE_DIR "/tests/tsan.supp"
extern "C" __attribute__((weak)) const char* __tsan_default_options() {
    return VELOTRAX_TSAN_OPTIONS;
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("VELOTRAX_TEST", "1", 1);
    setenv("VELOTRAX_AUDIO_SINK", "fakesink", 0);
    // Programs the tests start (velotrax) inherit the leak-check rules.
    // The list of suppressions used would end up in what the tests read
    // from those programs' standard error.
    setenv("LSAN_OPTIONS",
           "print_suppressions=0:suppressions=" VELOTRAX_SOURCE_DIR "/tests/lsan.supp", 0);
    setenv("ASAN_OPTIONS", "fast_unwind_on_malloc=0", 0);
    // They inherit the race-check rules too, next to any options given.
    std::string tsan = getenv("TSAN_OPTIONS") ? getenv("TSAN_OPTIONS") : "";
    if (tsan.find("suppressions=") == std::string::npos) {
        tsan = VELOTRAX_TSAN_OPTIONS + (tsan.empty() ? "" : ":" + tsan);
        setenv("TSAN_OPTIONS", tsan.c_str(), 1);
    }
    signal(SIGPIPE, SIG_IGN);
    std::string config =
        (std::filesystem::temp_directory_path() / "velotrax-config-XXXXXX").string();
    if (mkdtemp(config.data()))
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    SetUILanguage(LANG_ENGLISH_US);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(config, ec);
    return result;
}
