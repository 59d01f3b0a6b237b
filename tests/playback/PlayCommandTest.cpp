// The headless commands on the generated clips: velotrax info, velotrax
// play --headless and velotrax playlist --probe.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QImage>
#include <cstdio>
#include <filesystem>
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
        // Libraries keep quiet, also without a sound device.
        EXPECT_EQ(result.err, "");
    }
    vtest::TempDir dir;
    auto missing = vtest::RunVelotrax({"info", dir.File("none.webm")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("could not be found"), std::string::npos) << missing.err;
    EXPECT_TRUE(missing.out.empty());
}

// Outside the test environment the audio renderer opens a device sink;
// where none opens (no sound device) it falls back without any library
// writing to the terminal.
TEST(PlayCommandTest, AudioDeviceChoiceKeepsLibrariesQuiet) {
    auto result =
        vtest::RunProcess({"/usr/bin/env", "-u", "VELOTRAX_TEST", "-u", "VELOTRAX_AUDIO_SINK",
                           VELOTRAX_PROGRAM, "info", testmedia::VideoAudio()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
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

// A real window under Xvfb (white root): a clip red on the left, blue on the
// right, at Maximum Size filling a 640x360 window and at Original Size
// centred on the host's black. Screenshots are taken until one shows the
// video (up to 20 times).
TEST(PlayCommandTest, WindowUnderXvfbShowsTheVideoWhereTheModePutsIt) {
    if (!std::filesystem::exists("/usr/bin/xvfb-run"))
        GTEST_SKIP() << "xvfb-run is missing (tools/install-deps installs xvfb)";
    vtest::TempDir dir;
    const std::string clip = dir.File("halves.webm");
    auto made = vtest::RunProcess({"gst-launch-1.0",
                                   "-q",
                                   "compositor",
                                   "name=c",
                                   "sink_1::xpos=160",
                                   "!",
                                   "video/x-raw,width=320,height=180",
                                   "!",
                                   "videoconvert",
                                   "!",
                                   "vp8enc",
                                   "!",
                                   "webmmux",
                                   "!",
                                   "filesink",
                                   "location=" + clip,
                                   "videotestsrc",
                                   "pattern=solid-color",
                                   "foreground-color=0xffff0000",
                                   "num-buffers=50",
                                   "!",
                                   "video/x-raw,width=160,height=180",
                                   "!",
                                   "c.",
                                   "videotestsrc",
                                   "pattern=solid-color",
                                   "foreground-color=0xff0000ff",
                                   "num-buffers=50",
                                   "!",
                                   "video/x-raw,width=160,height=180",
                                   "!",
                                   "c."});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    struct Case {
        const char* scale;
        std::vector<std::pair<QPoint, QRgb>> pixels;
    };
    const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), black = qRgb(0, 0, 0),
               white = qRgb(255, 255, 255);
    for (const Case& c : {Case{"1", {{{80, 180}, red}, {{560, 180}, blue}, {{700, 180}, white}}},
                          Case{"0",
                               {{{200, 180}, red},
                                {{440, 180}, blue},
                                {{80, 180}, black},
                                {{320, 40}, black},
                                {{700, 180}, white}}}}) {
        SCOPED_TRACE(c.scale);
        const std::string script = dir.File("shoot.sh");
        vtest::WriteFile(script, "QT_QPA_PLATFORM=xcb '" + std::string(VELOTRAX_PROGRAM) +
                                     "' play --size 640x360 --scale " + c.scale + " --repeat 50 '" +
                                     clip +
                                     "' >/dev/null 2>&1 &\n"
                                     "for i in $(seq 1 20); do sleep 0.25; gst-launch-1.0 -q "
                                     "ximagesrc num-buffers=1 ! videoconvert ! pngenc ! filesink "
                                     "location='" +
                                     dir.Path() + "/shot'$i.png; done\nkill $!\n");
        auto run =
            vtest::RunProcess({"xvfb-run", "-a", "-s", "-screen 0 800x600x24 -wr", "sh", script});
        bool shown = false;
        for (int i = 1; i <= 20 && !shown; ++i) {
            QImage shot(QString::fromStdString(dir.File("shot" + std::to_string(i) + ".png")));
            if (shot.isNull())
                continue;
            shown = true;
            for (const auto& [at, colour] : c.pixels) {
                QRgb p = shot.pixel(at);
                shown = shown && std::abs(qRed(p) - qRed(colour)) < 40 &&
                        std::abs(qGreen(p) - qGreen(colour)) < 40 &&
                        std::abs(qBlue(p) - qBlue(colour)) < 40;
            }
        }
        EXPECT_TRUE(shown) << run.err;
    }
}

TEST(PlayCommandTest, PlayAThreeClipM3uToItsEnd) {
    vtest::TempDir dir;
    std::string m3u = dir.File("show.m3u");
    vtest::WriteFile(m3u, "#EXTM3U\r\n#EXTINF:-1,One\r\n" + testmedia::Video25() + "\r\n" +
                              testmedia::AudioOnly() + "\r\n" + testmedia::Video30() + "\r\n");
    auto result = vtest::RunVelotrax({"play", "--headless", m3u});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_LT(result.out.find("clip 1\n"), result.out.find("clip 2\n")) << result.out;
    EXPECT_NE(result.out.find("clip 2\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.substr(result.out.size() - 9), "play-end\n");
}

// Clips that cannot be opened are reported and passed over, first, in the
// middle and at the end of the list; the play still ends, and starts again.
TEST(PlayCommandTest, PlayAPlaylistWithMissingClipsGoesOnAndEnds) {
    vtest::TempDir dir;
    auto entry = [](const std::string& file, const char* extra = "") {
        return "<entry><ref href=\"" + file + "\"/>" + extra + "</entry>";
    };
    const std::string gone = entry(dir.File("gone.webm"));
    const std::string first = entry(testmedia::Video25(), "<duration value=\"0:0:1\"/>");
    const std::string later = entry(testmedia::Video25(), "<starttime value=\"0:0:2\"/>");
    struct Case {
        std::string entries;
        int repeat;
        const char* clip;
    };
    // The second list moves on to a clip of the file that played before the failure.
    for (const Case& c : {Case{first + gone + entry(testmedia::Video30()) + gone, 1, "clip 2\n"},
                          Case{gone + first + gone + later + gone, 2, "clip 3\n"}}) {
        std::string asx = dir.File("gaps.asx");
        vtest::WriteFile(asx, "<asx version=\"3.0\">" + c.entries + "</asx>");
        auto result =
            vtest::RunVelotrax({"play", "--headless", "--repeat", std::to_string(c.repeat), asx});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find("open-failed\n"), std::string::npos);
        EXPECT_NE(result.out.find(c.clip), std::string::npos) << result.out;
        auto count = [](const std::string& text, const std::string& what) {
            int n = 0;
            for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(count(result.out, "play-end\n"), c.repeat) << result.out;
        // Each missing clip fails once per play, a missing first one too.
        EXPECT_EQ(count(result.out, "open-failed\n"), count(c.entries, "gone.webm") * c.repeat)
            << result.out;
        EXPECT_EQ(result.out.substr(result.out.size() - 9), "play-end\n");
        EXPECT_NE(result.err.find("gone.webm"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("Not implemented"), std::string::npos) << result.err;
        // Clips after a missing one have no place in the list: the progress
        // still never passes the known total.
        std::istringstream progress(result.err);
        for (std::string line; std::getline(progress, line);) {
            double position = 0, total = 0;
            if (std::sscanf(line.c_str(), "%lf / %lf s", &position, &total) == 2) {
                EXPECT_LE(position, total) << line;
            }
        }
    }
}

// A loopback port that takes connections (listening, never answering) or
// refuses them (closed again).
struct CLoopbackPort {
    explicit CLoopbackPort(bool listen) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
        if (listen)
            ::listen(fd, 4);
        else
            ::close(fd), fd = -1;
    }
    ~CLoopbackPort() {
        if (fd >= 0)
            ::close(fd);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/clip.webm"; }
    int fd;
    int port = 0;
};

// Open failures say what happened, keeping their codes.
TEST(PlayCommandTest, OpenFailuresSayWhatHappened) {
    vtest::TempDir dir;
    CLoopbackPort refusing(false), silent(true);
    for (auto [name, text, code] :
         {std::tuple{dir.Path(), std::string("\"" + dir.Path() + "\" is a folder"), "0x80070005"},
          {refusing.Url(), "Could not connect to 127.0.0.1:" + std::to_string(refusing.port), ""},
          {silent.Url(), "127.0.0.1 did not answer within 15 seconds", ""}}) {
        auto result = vtest::RunVelotrax({"info", name});
        EXPECT_EQ(result.exitCode, 1) << name;
        EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(std::string("Code: ") + code), std::string::npos) << result.err;
    }
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
    for (const char* bad : {"5", "1,3", "2,2,6", "1,1,1,1", "x", ""}) {
        auto result = vtest::RunVelotrax({"play", "--headless", "--deinterlace", bad, "f"});
        EXPECT_EQ(result.exitCode, 2) << bad;
        EXPECT_NE(result.err.find("--deinterlace takes"), std::string::npos) << result.err;
    }
}

TEST(PlayCommandTest, DeinterlaceOptions) {
    for (auto [choice, frame] : {std::pair{"1", 400000}, {"3,1", 200000}, {"4,2,3", 200000}}) {
        auto info =
            vtest::RunVelotrax({"info", "--deinterlace", choice, testmedia::InterlacedFields()});
        ASSERT_EQ(info.exitCode, 0) << info.err;
        auto values = KeyValues(info.out);
        EXPECT_EQ(Number(values, "frame_duration"), frame) << choice;
        EXPECT_EQ(Number(values, "interlaced"), 0) << choice;  // the renderer gets whole frames
    }
    auto play = vtest::RunVelotrax(
        {"play", "--headless", "--deinterlace", "3,2,2", testmedia::InterlacedFields()});
    EXPECT_EQ(play.exitCode, 0) << play.err;
    EXPECT_EQ(play.out, "open-begin\nopen-done\nplay-end\n");
}

}  // namespace
