#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <sstream>

#include "tests/TestSupport.h"

namespace {

TEST(VelotraxProgram, VersionComesFromTheBinarysNote) {
    auto r = vtest::RunVelotrax({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Velotrax 1.0.0.0\n");

    // Patch the product version inside a copy of the binary: the program
    // must report the patched value, so it reads the note, not a constant.
    std::string binary = vtest::ReadFile(VELOTRAX_PROGRAM);
    const char signature[] = {'\xBD', '\x04', '\xEF', '\xFE'};
    size_t pos = binary.find(std::string(signature, 4));
    ASSERT_NE(pos, std::string::npos);
    const uint32_t product[2] = {(7u << 16) | 8u, (9u << 16) | 10u};
    std::memcpy(&binary[pos + 16], product, sizeof product);
    vtest::TempDir dir;
    std::string copy = dir.File("velotrax");
    vtest::WriteFile(copy, binary);
    chmod(copy.c_str(), 0755);
    auto patched = vtest::RunProcess({copy, "--version"});
    EXPECT_EQ(patched.exitCode, 0);
    EXPECT_EQ(patched.out, "Velotrax 7.8.9.10\n");
}

TEST(VelotraxProgram, HelpAndUnknownCommands) {
    // Without arguments the program is the player (see PlayerScriptTest).
    auto help = vtest::RunVelotrax({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage:"), std::string::npos);
    auto explicitHelp = vtest::RunVelotrax({"-h"});
    EXPECT_EQ(explicitHelp.out, help.out);
    auto bad = vtest::RunVelotrax({"--frobnicate"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("unknown command or option '--frobnicate'"), std::string::npos);
}

// Every command (and every settings action) takes -h/--help with the same
// layout, and names itself when an option is unknown.
TEST(VelotraxProgram, EveryCommandTakesHelpInOneLayout) {
    const std::vector<std::vector<std::string>> commands = {
        {"deinterlace"}, {"find"},           {"info"},           {"options"},         {"play"},
        {"playlist"},    {"options", "get"}, {"options", "set"}, {"options", "path"}, {"player"}};
    const std::string mainHelp = vtest::RunVelotrax({"--help"}).out;
    for (const auto& command : commands) {
        std::string name = command[0] + (command.size() > 1 ? " " + command[1] : "");
        if (command.size() == 1) {
            EXPECT_NE(mainHelp.find("\n  " + name + " "), std::string::npos) << name;
        }
        for (const char* flag : {"--help", "-h"}) {
            auto args = command;
            args.push_back(flag);
            auto r = vtest::RunVelotrax(args);
            EXPECT_EQ(r.exitCode, 0) << name << " " << flag << "\n" << r.err;
            EXPECT_EQ(r.err, "") << name;
            EXPECT_EQ(r.out.rfind("Usage: velotrax " + name, 0), 0u) << r.out;
            // Further usage lines line up under the first; option help texts
            // start in one column.
            size_t column = 0;
            bool inOptions = false;
            std::istringstream lines(r.out);
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind("       velotrax", 0) == 0) {
                    EXPECT_EQ(line.rfind("       velotrax " + name, 0), 0u) << line;
                }
                inOptions = inOptions || line == "Options:";
                if (!inOptions || line.rfind("  -", 0) != 0)
                    continue;
                size_t gap = line.find("  ", 2);
                ASSERT_NE(gap, std::string::npos) << line;
                size_t help = line.find_first_not_of(' ', gap);
                if (column == 0)
                    column = help;
                EXPECT_EQ(help, column) << name << ": " << line;
            }
            EXPECT_TRUE(inOptions) << name;
        }
        auto args = command;
        args.push_back("--bogus");
        args.push_back("x");
        auto bad = vtest::RunVelotrax(args);
        EXPECT_EQ(bad.exitCode, 2) << name;
        EXPECT_EQ(bad.err.rfind("velotrax " + name + ": unknown option '--bogus'", 0), 0u)
            << bad.err;
    }
}

}  // namespace
