// velotrax playlist: listing, JSON, standard input and failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "tests/TestSupport.h"

namespace {

const char* kList =
    "<ASX><Entry><Title>First\tclip\nhere</Title><Abstract>About \"it\"</Abstract>"
    "<Ref href=\"sub\\a.wmv\"/><Duration value=\"1:30\"/></Entry>"
    "<Entry><Ref href=\"http://host/b.wmv\"/><StartTime value=\"2\"/></Entry></ASX>";

TEST(PlaylistCommand, ListsClipsTabSeparated) {
    vtest::TempDir dir;
    vtest::WriteFile(dir.File("list.asx"), kList);
    vtest::ProcessResult r = vtest::RunVelotrax({"playlist", dir.File("list.asx")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "0\t0\t900000000\t0\t900000000\t" + dir.Path() +
                         "/sub/a.wmv\tFirst clip here\tAbout \"it\"\n"
                         "1\t900000000\t-1\t20000000\t-1\thttp://host/b.wmv\t\t\n");
}

TEST(PlaylistCommand, ListsOtherFormatsInTheSameColumns) {
    vtest::TempDir dir;
    vtest::WriteFile(dir.File("list.m3u"), "#EXTM3U\n#EXTINF:90,First\nsub\\a.wmv\n");
    vtest::WriteFile(dir.File("list.pls"),
                     "[playlist]\nFile1=sub/a.wmv\nTitle1=First\nLength1=90\n");
    for (const char* name : {"list.m3u", "list.pls"}) {
        vtest::ProcessResult r = vtest::RunVelotrax({"playlist", dir.File(name)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "0\t0\t900000000\t0\t900000000\t" + dir.Path() + "/sub/a.wmv\tFirst\t\n");
    }
}

TEST(PlaylistCommand, ReadsStandardInputWithABaseAsJson) {
    vtest::ProcessResult r =
        vtest::RunVelotrax({"playlist", "--json", "--base", "/media", "-"}, kList);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "[\n"
              "  {\"index\": 0, \"listStart\": 0, \"listEnd\": 900000000, \"fileStart\": 0, "
              "\"fileEnd\": 900000000, \"path\": \"/media/sub/a.wmv\", "
              "\"title\": \"First\\tclip\\nhere\", \"abstract\": \"About \\\"it\\\"\"},\n"
              "  {\"index\": 1, \"listStart\": 900000000, \"listEnd\": -1, "
              "\"fileStart\": 20000000, \"fileEnd\": -1, \"path\": \"http://host/b.wmv\", "
              "\"title\": \"\", \"abstract\": \"\"}\n"
              "]\n");
    // Without a base folder, standard input keeps references in place ('\\'
    // separating folders as '/').
    r = vtest::RunVelotrax({"playlist", "-"}, kList);
    EXPECT_NE(r.out.find("\tsub/a.wmv\t"), std::string::npos) << r.out;
}

TEST(PlaylistCommand, FailuresPrintTheErrorText) {
    vtest::ProcessResult r = vtest::RunVelotrax({"playlist", "-"}, "<asx><entry>");
    EXPECT_EQ(r.exitCode, 1);
    // Our own text for the playlist code, then the reason.
    EXPECT_EQ(r.err.rfind("The playlist could not be read.\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Premature end"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("0x8007000B"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());

    r = vtest::RunVelotrax({"playlist", "-"}, "<asx><entry><title>x</title></entry></asx>");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no entry"), std::string::npos) << r.err;

    r = vtest::RunVelotrax({"playlist", "/nonexistent/list.asx"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("/nonexistent/list.asx"), std::string::npos) << r.err;

    // A pipe without a writer is refused at once instead of waited on.
    vtest::TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    r = vtest::RunVelotrax({"playlist", dir.File("fifo")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;

    EXPECT_EQ(vtest::RunVelotrax({"playlist"}).exitCode, 2);
    EXPECT_EQ(vtest::RunVelotrax({"playlist", "--bogus", "x"}).exitCode, 2);
}

// An HLS stream playlist opens as media through the graph, not as a list.
TEST(PlaylistCommand, PlaysAnHlsStreamAsMedia) {
    vtest::TempDir dir;
    vtest::ProcessResult made = vtest::RunProcess(
        {"gst-launch-1.0", "-q", "videotestsrc", "num-buffers=50", "!",
         "video/x-raw,width=320,height=240,framerate=25/1", "!", "openh264enc", "!", "h264parse",
         "!", "mpegtsmux", "!", "hlssink", "location=" + dir.File("seg%05d.ts"),
         "playlist-location=" + dir.File("live.m3u8"), "target-duration=1", "max-files=0",
         "playlist-length=0"});
    if (!std::filesystem::exists(dir.File("live.m3u8")))
        GTEST_SKIP() << "no HLS stream could be made: " << made.err;
    vtest::ProcessResult r = vtest::RunVelotrax({"play", "--headless", dir.File("live.m3u8")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("open-done\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("play-end\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("playlist-changed"), std::string::npos) << r.out;
}

}  // namespace
