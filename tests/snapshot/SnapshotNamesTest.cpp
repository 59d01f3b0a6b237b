// Snapshot file names: numbered names, sanitizing, file types and names
// made unique against a real folder.
#include <gtest/gtest.h>

#include "snapshot/VaSnapshot.h"
#include "tests/TestSupport.h"

namespace {

TEST(SnapshotNames, IncrementAndStrip) {
    struct {
        const char* name;
        int flags;
        const char* incremented;
        const char* stripped;
    } cases[] = {
        {"Clip", 0x21, "Clip (002)", "Clip"},
        {"Clip", 0x01, "Clip (2)", "Clip"},
        {"Clip", 0x00, "Clip (2)", "Clip"},
        {"Clip (002)", 0x21, "Clip (003)", "Clip"},
        {"Clip [9]", 0x21, "Clip [010]", "Clip"},
        {"Take [09]", 0x00, "Take [10]", "Take"},
        {"Name(99)", 0x00, "Name(100)", "Name"},
        {"Name (x)", 0x00, "Name (x) (2)", "Name (x)"},
        {"Clip7", 0x00, "Clip8", "Clip"},
        {"Clip7", 0x21, "Clip7 (002)", "Clip7"},           // bare numbers do not count
        {"Clip (7]", 0x21, "Clip (7] (002)", "Clip (7]"},  // brackets must match
        {"Snapshot", 0x10, "Snapshot (02)", "Snapshot"},
        {"A {99999999999999999999}", 0x21, "A {100000000000000000000}", "A"},
        {"(5)", 0x21, "(006)", ""},
        {"", 0x21, " (002)", ""},
        {"Clip", 0x30, "Clip (2)", "Clip"},  // only 0x10 and 0x20 ask for more digits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CVaSnapshot::IncrementNumberedName(c.name, c.flags), c.incremented) << c.name;
        EXPECT_EQ(CVaSnapshot::StripNumberedName(c.name, c.flags), c.stripped) << c.name;
    }
}

TEST(SnapshotNames, ValidFileNamesAndTypes) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"  My: Clip?* ", "My Clip"},
        {"a\\b/c\"d<e>f|g", "abcdefg"},
        {"x\r\ny\b", "xy"},
        {" ?*: ", ""},
    };
    for (const auto& c : cases) {
        std::string name = c.in;
        EXPECT_EQ(CVaSnapshot::MakeValidFileName(name), *c.out != '\0') << c.in;
        EXPECT_EQ(name, c.out);
    }
    EXPECT_EQ(CVaSnapshot::FileTypeFromExtension("..JPG"), CVaSnapshot::typeJpg);
    EXPECT_EQ(CVaSnapshot::FileTypeFromExtension("bmp"), CVaSnapshot::typeBmp);
    EXPECT_EQ(CVaSnapshot::FileTypeFromExtension("png"), CVaSnapshot::typeNone);
    EXPECT_EQ(CVaSnapshot::ExtensionFromFileType(CVaSnapshot::typeJpg), "jpg");
    EXPECT_EQ(CVaSnapshot::ExtensionFromFileType(7), "");
    EXPECT_EQ(CVaSnapshot::SourceNameForMedia("mms://host/media/My%20Clip.wmv?x=1"), "My Clip.wmv");
    EXPECT_EQ(CVaSnapshot::SourceNameForMedia("/v/a%20b.mkv"), "/v/a%20b.mkv");
}

TEST(SnapshotNames, UniqueAgainstTheFolder) {
    vtest::TempDir dir;
    for (const char* f : {"Clip.jpg", "clip (002).JPG", "Clip (003).bmp", "Other.jpg"})
        vtest::WriteFile(dir.File(f), "x");
    // Titles of files with the same extension count, whatever their case.
    EXPECT_EQ(CVaSnapshot::MakeUniqueFileName(dir.File("Clip.jpg"), 0x21),
              dir.File("Clip (003).jpg"));
    EXPECT_EQ(CVaSnapshot::MakeUniqueFileName(dir.File("Clip.bmp"), 0x21), dir.File("Clip.bmp"));
    EXPECT_EQ(CVaSnapshot::MakeUniqueFileName(dir.File("Clip (003).bmp"), 0x21),
              dir.File("Clip (004).bmp"));
    EXPECT_EQ(CVaSnapshot::MakeUniqueFileName(dir.File("missing/Clip.jpg"), 0x21),
              dir.File("missing/Clip.jpg"));
}

}  // namespace
