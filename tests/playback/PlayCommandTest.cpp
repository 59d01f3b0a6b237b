// The headless commands on the generated clips: velotrax info, velotrax
// play --headless and velotrax playlist --probe.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/TestSupport.h"
#include "tests/media/TestMedia.h"

namespace {

std::map<std::string, std::string> KeyValues(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

long long Number(const std::map<std::string, std::string>& values, const std::string& key) {
    auto it = values.find(key);
    return it == values.end() ? -999 : std::stoll(it->second);
}

TEST(PlayCommandTest, InfoReportsEachClip) {
    struct Expect {
        std::string path;
        long long durationMs, frame, width, height, interlaced, video, audio;
    };
    for (const Expect& e :
         std::vector<Expect>{{testmedia::VideoAudio(), 2000, 400000, 320, 240, 0, 1, 1},
                             {testmedia::Video25(), 3000, 400000, 320, 240, 0, 1, 0},
                             {testmedia::Video30(), 2000, 333333, 320, 240, 0, 1, 0},
                             {testmedia::AudioOnly(), 2000, -1, 0, 0, 0, 0, 1},
                             {testmedia::Interlaced(), 1000, 400000, 320, 240, 1, 1, 0}}) {
        SCOPED_TRACE(e.path);
        auto result = vtest::RunVelotrax({"info", e.path});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        auto values = KeyValues(result.out);
        EXPECT_NEAR(Number(values, "duration") / 10000, e.durationMs, 100);
        EXPECT_NEAR(Number(values, "frame_duration"), e.frame, 1);
        EXPECT_EQ(Number(values, "width"), e.width);
        EXPECT_EQ(Number(values, "height"), e.height);
        EXPECT_EQ(Number(values, "interlaced"), e.interlaced);
        EXPECT_EQ(Number(values, "has_video"), e.video);
        EXPECT_EQ(Number(values, "has_audio"), e.audio);
        EXPECT_EQ(Number(values, "seekable"), 1);
    }
    vtest::TempDir dir;
    auto missing = vtest::RunVelotrax({"info", dir.File("none.webm")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("could not be found"), std::string::npos) << missing.err;
    EXPECT_TRUE(missing.out.empty());
}

TEST(PlayCommandTest, PlayHeadlessPlaysEachClipToTheEnd) {
    for (const std::string& clip :
         {testmedia::VideoAudio(), testmedia::Video25(), testmedia::Video30(),
          testmedia::AudioOnly(), testmedia::Interlaced()}) {
        auto result = vtest::RunVelotrax({"play", "--headless", clip});
        EXPECT_EQ(result.exitCode, 0) << clip << "\n" << result.err;
        EXPECT_EQ(result.out, "open-begin\nopen-done\nplay-end\n") << clip;
    }
}

TEST(PlayCommandTest, PlayRepeatsTheSelectionAtAnotherRate) {
    auto result = vtest::RunVelotrax({"play", "--headless", "--rate", "2", "--from", "500", "--to",
                                      "1500", "--repeat", "2", testmedia::Video25()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "open-begin\nopen-done\nplay-end\nplay-end\n");
    EXPECT_NE(result.err.find("rate 2.00"), std::string::npos);
}

TEST(PlayCommandTest, PlayAPlaylistClipByClip) {
    vtest::TempDir dir;
    std::string asx = dir.File("show.wvx");
    vtest::WriteFile(asx, "<asx version=\"3.0\"><entry><ref href=\"" + testmedia::Video25() +
                              "\"/><duration value=\"0:0:1\"/></entry><entry><ref href=\"" +
                              testmedia::Video25() +
                              "\"/><starttime value=\"0:0:2\"/></entry><entry><ref href=\"" +
                              testmedia::Video30() + "\"/></entry></asx>");
    auto result = vtest::RunVelotrax({"play", "--headless", asx});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    auto has = [&](const std::string& line) {
        return result.out.find(line + "\n") != std::string::npos;
    };
    EXPECT_TRUE(has("clip 0"));
    EXPECT_TRUE(has("clip 1"));
    EXPECT_TRUE(has("clip 2"));
    EXPECT_TRUE(has("playlist-changed"));
    EXPECT_LT(result.out.find("clip 1"), result.out.find("clip 2"));
    EXPECT_EQ(result.out.substr(result.out.size() - 9), "play-end\n");

    auto probe = vtest::RunVelotrax({"playlist", "--probe", asx});
    EXPECT_EQ(probe.exitCode, 0) << probe.err;
    EXPECT_NE(probe.out.find("2\t20000000\t40000000\t0\t20000000\t"), std::string::npos)
        << probe.out;
}

// In a window (offscreen here) the same events; sound only opens no window
// and still plays; a broken file is an open error.
TEST(PlayCommandTest, PlayInAWindowReportsTheSameEvents) {
    for (const std::string& clip : {testmedia::Video25(), testmedia::AudioOnly()}) {
        auto result = vtest::RunVelotrax(
            {"play", "--size", "320x200", "--scale", "2", "--aspect", "on", clip});
        EXPECT_EQ(result.exitCode, 0) << clip << "\n" << result.err;
        EXPECT_EQ(result.out, "open-begin\nopen-done\nplay-end\n") << clip;
    }
    vtest::TempDir dir;
    std::string broken = dir.File("broken.webm");
    vtest::WriteFile(broken, "not a media file");
    auto result = vtest::RunVelotrax({"play", broken});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("0x80040"), std::string::npos) << result.err;
}

TEST(PlayCommandTest, PlayFailuresAndUsage) {
    vtest::TempDir dir;
    auto missing = vtest::RunVelotrax({"play", "--headless", dir.File("none.webm")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("could not be found"), std::string::npos);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--scale", "3"},
                                         {"--size", "640"},
                                         {"--size", "0x10"},
                                         {"--aspect", "yes"}}) {
        bad.insert(bad.begin(), "play");
        bad.push_back(testmedia::Video25());
        EXPECT_EQ(vtest::RunVelotrax(bad).exitCode, 2) << bad[1] << " " << bad[2];
    }
    EXPECT_EQ(vtest::RunVelotrax({"play", "--headless", "--rate", "x", "f"}).exitCode, 2);
    EXPECT_EQ(vtest::RunVelotrax({"info"}).exitCode, 2);
}

}  // namespace
