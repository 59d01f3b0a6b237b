// The settings command as users and scripts use it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/TestSupport.h"

namespace {

class OptionsCommand : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = getenv("XDG_CONFIG_HOME");
        m_oldConfig = old ? old : "";
        setenv("XDG_CONFIG_HOME", m_dir.Path().c_str(), 1);
    }
    void TearDown() override { setenv("XDG_CONFIG_HOME", m_oldConfig.c_str(), 1); }

    vtest::ProcessResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), "options");
        return vtest::RunVelotrax(args);
    }
    std::string File() const { return m_dir.File("velotrax/user.reg"); }

    vtest::TempDir m_dir;
    std::string m_oldConfig;
};

TEST_F(OptionsCommand, GetPrintsTheCatalogueDefaultAndFailsWhenNothingIsStored) {
    auto r = Run({"get", "", "VideoScale"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "1\n");
    r = Run({"get", "--as", "bool", "Settings", "FlatLook"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "1\n");
    r = Run({"get", "Settings", "Unknown"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(File()));  // reading creates nothing
}

TEST_F(OptionsCommand, SetThenGetThroughTheConversions) {
    EXPECT_EQ(Run({"set", "--string", "", "Tooltips", "True"}).exitCode, 0);
    EXPECT_EQ(Run({"get", "", "Tooltips"}).out, "True\n");
    EXPECT_EQ(Run({"get", "--as", "bool", "Settings", "tooltips"}).out, "1\n");
    EXPECT_EQ(Run({"set", "--string", "", "Tooltips", "true"}).exitCode, 0);
    EXPECT_EQ(Run({"get", "--as", "bool", "", "Tooltips"}).out, "0\n");

    EXPECT_EQ(Run({"set", "--dword", "DeInterlace", "Method", "0x10"}).exitCode, 0);
    auto r = Run({"get", "DeInterlace", "Method"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "16\n");
    EXPECT_EQ(Run({"set", "A\\B", "Octal", "010"}).exitCode, 0);
    EXPECT_EQ(Run({"get", "--as", "int", "A\\B", "Octal"}).out, "8\n");
    EXPECT_EQ(Run({"get", "--as", "double", "A\\B", "Octal"}).out, "10\n");

    std::string text = vtest::ReadFile(File());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\software\\Korvani\\orbalis veloTrax "
                        "ActiveX\\A\\B]\n\"Octal\"=\"010\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"Method\"=dword:00000010"), std::string::npos);
    EXPECT_EQ(Run({"export"}).out, text);
    EXPECT_EQ(Run({"path"}).out, File() + "\n");
}

TEST_F(OptionsCommand, KnownSettingsAreStoredWithTheCataloguesType) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* stored;  // the line in the file, or null
    } cases[] = {
        {{"", "VideoScale", "2"}, 0, "\"VideoScale\"=dword:00000002"},
        {{"", "flatlook", "off"}, 0, "\"flatlook\"=dword:00000000"},
        {{"DeInterlace", "Method", "0x4"}, 0, "\"Method\"=dword:00000004"},
        {{"", "Dir", "42"}, 0, "\"Dir\"=\"42\""},
        {{"", "Unknown", "7"}, 0, "\"Unknown\"=\"7\""},
        {{"--string", "", "WindOffset", "500"}, 0, "\"WindOffset\"=\"500\""},
        {{"", "MaxMRU", "many"}, 2, nullptr},
        {{"", "PlayCont", "sometimes"}, 2, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "set");
        auto r = Run(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << args[2] << r.err;
        if (c.stored) {
            EXPECT_NE(vtest::ReadFile(File()).find(c.stored), std::string::npos) << c.stored;
        }
    }
}

TEST_F(OptionsCommand, ListAndDelete) {
    Run({"set", "", "One", "1"});
    Run({"set", "Settings", "Two", "2"});
    Run({"set", "Files\\Sub", "x", "y"});
    EXPECT_EQ(Run({"list", ""}).out, "One\nTwo\n");
    EXPECT_EQ(Run({"delete", "", "One"}).exitCode, 0);
    EXPECT_EQ(Run({"list", "Settings"}).out, "Two\n");
    auto r = Run({"get", "", "One"});
    EXPECT_EQ(r.exitCode, 1);

    // A section with sub-keys stays; without them it goes.
    Run({"set", "Files", "File1", "/a.mpg"});
    EXPECT_EQ(Run({"delete", "Files"}).exitCode, 0);
    EXPECT_EQ(Run({"list", "Files"}).out, "File1\n");
    EXPECT_EQ(Run({"delete", "Files\\Sub"}).exitCode, 0);
    EXPECT_EQ(Run({"delete", "Files"}).exitCode, 0);
    EXPECT_EQ(Run({"list", "Files"}).out, "");
}

TEST_F(OptionsCommand, BadUseAndOversizedValuesAreRefused) {
    EXPECT_EQ(Run({}).exitCode, 2);
    EXPECT_EQ(Run({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(Run({"get", "onlysection"}).exitCode, 2);
    EXPECT_EQ(Run({"get", "--as", "float", "", "x"}).exitCode, 2);
    EXPECT_EQ(Run({"set", "--dword", "", "x", "12abc"}).exitCode, 2);
    EXPECT_EQ(Run({"set", "--dword", "", "x", "0x100000000"}).exitCode, 2);

    auto r = Run({"set", "", std::string(300, 'n'), "v"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("longer than 255"), std::string::npos) << r.err;
    std::string deep;
    for (int i = 0; i < 62; ++i)
        deep += "d\\";
    r = Run({"set", deep, "x", "v"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("deeper than 64"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST_F(OptionsCommand, ADamagedFileIsReportedOnceAndTheCommandKeepsWorking) {
    std::filesystem::create_directories(m_dir.File("velotrax"));
    vtest::WriteFile(
        File(),
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\software\\Korvani\\orbalis veloTrax ActiveX\\Settings]\n"
        "\"WindOffset\"=dword:000001f4\n\"Broken\"=\"no end");
    auto r = Run({"get", "", "WindOffset"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "500\n");
    EXPECT_NE(r.err.find("damaged"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(File() + ".damaged"));
    r = Run({"set", "", "PlayCont", "1"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Run({"get", "", "WindOffset"}).out, "500\n");
}

}  // namespace
