// A small program for the tests: sets COUNT options "PREFIX<i>" in section
// "Stress" and flushes after every EVERY of them, with its settings below
// CONFIG_DIR. Several of these run at once to check that concurrent saves
// keep every process's values. With EVERY 0 it never flushes itself and
// leaves that to the end of the process.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "options/AppOptions.h"
#include "platform/registry/Registry.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: options_writer CONFIG_DIR PREFIX COUNT EVERY\n");
        return 2;
    }
    setenv("XDG_CONFIG_HOME", argv[1], 1);
    const std::string prefix = argv[2];
    const int count = std::atoi(argv[3]);
    const int every = std::atoi(argv[4]);
    CAppOptions& options = GetAppOptions();
    for (int i = 0; i < count; ++i) {
        options.SetOption("Stress", prefix + std::to_string(i), CAppOpt(int32_t(i)));
        if (every > 0 && (i + 1) % every == 0)
            options.Flush();
    }
    if (every <= 0)
        return 0;
    options.Flush();
    return RegFlushKey(HKEY_CURRENT_USER) == ERROR_SUCCESS ? 0 : 1;
}
