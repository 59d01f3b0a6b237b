// velotrax find: one path a line in the order found; status 0 with results,
// 1 without, 2 for bad use.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/TestSupport.h"

TEST(FindCommand, ListsMatchesInOrder) {
    vtest::TempDir dir;
    std::filesystem::create_directories(dir.File("sub"));
    for (const char* f : {"b.AVI", "a.mp4", "sub/c.avi", "notes.txt"})
        vtest::WriteFile(dir.File(f), "x");
    struct {
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        {{"find", dir.Path()}, 0, dir.File("b.AVI") + "\n"},
        {{"find", "--recursive", dir.Path()},
         0,
         dir.File("b.AVI") + "\n" + dir.File("sub/c.avi") + "\n"},
        {{"find", "-r", "--patterns", "*.mp4;*.txt", "--limit", "1", dir.Path()},
         0,
         dir.File("a.mp4") + "\n"},
        {{"find", "--patterns", "*.mkv", dir.Path()}, 1, ""},
        {{"find", dir.File("missing")}, 1, ""},
        {{"find", "--limit", "x", dir.Path()}, 2, ""},
        {{"find"}, 2, ""},
    };
    for (const auto& c : cases) {
        auto r = vtest::RunVelotrax(c.args);
        EXPECT_EQ(r.exitCode, c.status) << c.args.back() << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << c.args.back();
    }
}
