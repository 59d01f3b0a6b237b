// The main of every test program: a private configuration folder, English
// texts and the console reporter, so tests never touch the user's settings
// and read the same on every machine.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/com/Language.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("VELOTRAX_TEST", "1", 1);
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
