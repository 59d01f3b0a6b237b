#include <gtest/gtest.h>

#include "support/VersionInfo.h"
#include "tests/TestSupport.h"

namespace {

TEST(VersionInfo, ReadsTheNoteOfABuiltBinary) {
    CFileVersionInfo info(VELOTRAX_PROGRAM);
    ASSERT_TRUE(info.Load());
    DWORD pms, pls, fms, fls;
    ASSERT_TRUE(info.GetVersionParts(&pms, &pls, &fms, &fls));
    EXPECT_EQ(pms, 0x00010000u);
    EXPECT_EQ(pls, 0u);
    EXPECT_EQ(info.GetVersion64(), uint64_t(0x00010000) << 32);
    EXPECT_EQ(info.FormatVersion(3), "1.0.0.0");
    EXPECT_EQ(info.FormatVersion(1), "1.0");
    EXPECT_EQ(info.FormatVersion(0), "1");
    EXPECT_EQ(info.GetStringValue("ProductName"), "Velotrax");
    EXPECT_EQ(info.GetStringValue("CompanyName"), "Korvani");
    EXPECT_EQ(info.GetStringValue("FileDescription"), "Velotrax video player");
    EXPECT_EQ(info.GetStringValue("NoSuchValue"), "");
    EXPECT_EQ(GetFileVersion64(VELOTRAX_PROGRAM, true), uint64_t(0x00010000) << 32);
}

TEST(VersionInfo, FilesWithoutANoteHaveNoInformation) {
    vtest::TempDir dir;
    vtest::WriteFile(dir.File("text.txt"), "not a binary");
    vtest::WriteFile(dir.File("fake.elf"), std::string("\x7f"
                                                       "ELF\x02\x01\x01",
                                                       7) +
                                               std::string(100, '\xff'));
    for (std::string path : {std::string("/bin/sh"), dir.File("text.txt"), dir.File("missing"),
                             dir.File("fake.elf")}) {
        CFileVersionInfo info(path);
        EXPECT_FALSE(info.Load()) << path;
        DWORD pms = 1, pls = 1, fms = 1, fls = 1;
        EXPECT_FALSE(info.GetVersionParts(&pms, &pls, &fms, &fls));
        EXPECT_EQ(pms | pls | fms | fls, 0u);
        EXPECT_EQ(info.GetVersion64(), 0u);
        EXPECT_EQ(info.FormatVersion(3), "");
        EXPECT_EQ(info.GetStringValue("ProductName"), "");
    }
}

TEST(VersionInfo, TheTestProgramItselfCarriesNoNote) {
    // Only the shipped binaries carry a note; the module reader of a test
    // program therefore reports nothing.
    CFileVersionInfo self;
    EXPECT_FALSE(self.Load());
}

TEST(VersionInfo, OperatingSystemPredicates) {
    COsVersion xp{VER_PLATFORM_WIN32_NT, 5, 1}, w2k{VER_PLATFORM_WIN32_NT, 5, 0},
        vista{VER_PLATFORM_WIN32_NT, 6, 0}, nine{1, 6, 0};
    EXPECT_TRUE(IsWinXPOrLater(xp));
    EXPECT_FALSE(IsWinXPOrLater(w2k));
    EXPECT_TRUE(IsWin2000OrLater(w2k));
    EXPECT_TRUE(IsVistaOrLater(vista));
    EXPECT_FALSE(IsVistaOrLater(xp));
    EXPECT_FALSE(IsWin2000OrLater(nine));
    EXPECT_FALSE(IsWin2000OrLater());
    EXPECT_FALSE(IsWinXPOrLater());
    EXPECT_FALSE(IsVistaOrLater());
}

}  // namespace

TEST(VersionInfo, VersionStringValuesMatchTheFixedVersion) {
    CFileVersionInfo info(VELOTRAX_PROGRAM);
    EXPECT_EQ(info.GetStringValue("ProductVersion"), info.FormatVersion(3));
    EXPECT_EQ(info.GetStringValue("FileVersion"), info.FormatVersion(3));
    EXPECT_EQ(info.GetStringValue("OriginalFilename"), "velotrax");
}
