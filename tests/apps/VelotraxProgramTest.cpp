#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

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
    auto help = vtest::RunVelotrax({});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage:"), std::string::npos);
    auto explicitHelp = vtest::RunVelotrax({"--help"});
    EXPECT_EQ(explicitHelp.out, help.out);
    auto bad = vtest::RunVelotrax({"--frobnicate"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("unknown command or option '--frobnicate'"), std::string::npos);
}

}  // namespace
