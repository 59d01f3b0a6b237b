// The player window driven through its script driver (offscreen): the
// panels' rules as a user meets them, one script line at a time.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "tests/media/TestMedia.h"

namespace {

struct CScriptRun {
    int exitCode = -1;
    std::vector<std::string> lines;
    std::string err;
};

// Runs 'script' in a player of its own, with settings in 'config' (a fresh
// folder when empty).
CScriptRun RunScript(const std::string& script, const std::string& config = {}) {
    vtest::TempDir fresh;
    std::string home = config.empty() ? fresh.Path() : config;
    vtest::ProcessResult r = vtest::RunProcess(
        {"env", "XDG_CONFIG_HOME=" + home, VELOTRAX_PROGRAM, "player", "--script", "-"}, script);
    CScriptRun run{r.exitCode, {}, r.err};
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);)
        run.lines.push_back(line);
    return run;
}

// Each script line with the output it must print (a pattern: "*" stands
// for any text).
void Expect(const std::vector<std::pair<std::string, std::string>>& steps, int exitCode = 0,
            const std::string& config = {}) {
    std::string script;
    for (const auto& step : steps)
        script += step.first + "\n";
    CScriptRun run = RunScript(script, config);
    ASSERT_EQ(run.lines.size(), steps.size()) << run.err;
    for (size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(fnmatch(steps[i].second.c_str(), run.lines[i].c_str(), 0), 0)
            << "line " << i + 1 << ": " << steps[i].first << " printed " << run.lines[i];
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
}

const std::string kVideo = testmedia::Video25();  // 3 s, 25 fps: 40 ms frames

TEST(PlayerScript, TransportStatesAndFrameSteps) {
    Expect(
        {
            {"state play", "play enabled=0 checked=0"},
            {"state step-forward", "step-forward enabled=0 checked=0"},
            {"state rate-100", "rate-100 enabled=1 checked=1"},
            {"state rate-50", "rate-50 enabled=0 checked=0"},
            {"command play", "disabled"},
            {"open " + kVideo, "ok"},
            {"pos", "0 paused"},
            {"state pause", "pause enabled=1 checked=1"},
            {"state play", "play enabled=1 checked=0"},
            {"command step-forward", "ok"},
            {"pos", "40 paused"},
            {"command step-forward", "ok"},
            {"command step-back", "ok"},
            {"pos", "40 paused"},
            {"command end", "ok"},
            {"pos", "2960 paused"},
            {"command play", "ok"},
            {"wait-state running", "ok"},
            {"state play", "play enabled=1 checked=1"},
            {"wait-end", "ok"},
            {"pos", "* paused"},
            {"command stop", "ok"},
            {"wait-state stopped", "ok"},
            {"state stop", "stop enabled=1 checked=1"},
            {"command 99", "error: no handler for 99"},
            {"frobnicate", "error: unknown command frobnicate"},
        },
        1);
}

TEST(PlayerScript, RatesSelectionAndKeys) {
    Expect({
        {"open " + kVideo, "ok"},
        {"command rate-90", "ok"},
        {"text rate", "90%"},
        {"rate", "0.9000"},
        {"state rate-90", "rate-90 enabled=1 checked=1"},
        {"state rate-100", "rate-100 enabled=1 checked=0"},
        {"key Ctrl+3", "ok"},
        {"text rate", "33%"},
        {"key Ctrl+0", "ok"},
        {"text rate", ""},
        {"rate", "1.0000"},
        // Right steps a frame, Page Down winds a second, Home goes back.
        {"key Right", "ok"},
        {"key Right", "ok"},
        {"key Right", "ok"},
        {"key Right", "ok"},
        {"key Right", "ok"},
        {"pos", "200 paused"},
        {"key Ctrl+B", "ok"},
        {"text selection", "200 3000"},
        {"key Page Down", "ok"},
        {"pos", "1200 paused"},
        {"key O", "ok"},
        {"text selection", "200 1200"},
        // Inside the selection Begin stops at its start; at the start it goes on.
        {"key Home", "ok"},
        {"pos", "200 paused"},
        {"key Home", "ok"},
        {"pos", "0 paused"},
        // Played to the selection's end, Play starts again at its beginning.
        {"key Space", "ok"},
        {"wait-end", "ok"},
        {"pos", "1200 paused"},
        {"state play", "play enabled=1 checked=0"},
        {"key Space", "ok"},
        {"state play", "play enabled=1 checked=1"},
        {"key Ctrl+T", "ok"},
        {"text selection", "none"},
        {"key Ctrl+L", "ok"},
        {"state continuous-play", "continuous-play enabled=1 checked=1"},
    });
}

TEST(PlayerScript, RecentFilesLockedModeAndBadInput) {
    vtest::TempDir config;
    vtest::TempDir files;
    vtest::WriteFile(files.File("notes.txt"), "not a video\n");
    const std::string a = testmedia::Video25(), b = testmedia::Video30(),
                      c = testmedia::VideoAudio(), d = testmedia::Interlaced();
    Expect(
        {
            {"option Settings MaxMRU 3", "ok"},
            {"open " + a, "ok"},
            {"open " + b, "ok"},
            {"open " + c, "ok"},
            {"open " + d, "ok"},
            {"text recent", d + "|" + c + "|" + b},
            {"open " + c, "ok"},
            {"text recent", c + "|" + d + "|" + b},
            {"text file", c},
            // Missing and broken files are reported; the list and the panel stay.
            {"open " + files.File("missing.webm"), "*"},
            {"open " + files.File("notes.txt"), "*"},
            {"text recent", c + "|" + d + "|" + b},
            {"drop " + files.Path(), "ok"},
            {"open " + testmedia::AudioOnly(), "ok"},
            {"drop " + a, "ok"},
            {"text title", "video25.webm \u2013 Velotrax"},
            {"text recent", a + "|" + testmedia::AudioOnly() + "|" + c},
            // Locked: the file cannot be changed from the panel.
            {"lock 1", "ok"},
            {"state open-file", "open-file enabled=0 checked=0"},
            {"state reload", "reload enabled=0 checked=0"},
            {"state play", "play enabled=1 checked=0"},
            {"lock 0", "ok"},
            {"state open-file", "open-file enabled=1 checked=0"},
        },
        1, config.Path());
    // The list comes back in the next session; the last file is selected.
    Expect({{"text recent", a + "|" + testmedia::AudioOnly() + "|" + c}, {"text file", a}}, 0,
           config.Path());
}

TEST(PlayerScript, DialogsFindFullScreenAndFileCombo) {
    vtest::TempDir folder;
    const std::string a = testmedia::Video25(), b = testmedia::Video30();
    const std::string found = folder.Path() + "/deeper/found.webm";
    std::filesystem::create_directories(folder.Path() + "/deeper");
    std::filesystem::copy_file(a, found);
    vtest::WriteFile(folder.File("notes.txt"), "not a video\n");
    Expect({
        {"open " + a, "ok"},
        {"open " + b, "ok"},
        // Dialogs are never shown to a script: no answer is Cancel.
        {"command open-file", "ok"},
        {"answer cancel", "ok"},
        {"command open-file", "ok"},
        {"text file", b},
        {"answer " + a, "ok"},
        {"command open-file", "ok"},
        {"text recent", a + "|" + b},
        // Ctrl+Delete in the combo drops the selected entry; an emptied
        // combo gets the current file back when it loses the focus.
        {"focus file", "ok"},
        {"key Ctrl+Delete", "ok"},
        {"text recent", b},
        {"edit", "ok"},
        {"focus video", "ok"},
        {"text file", a},
        {"key Alt+Return", "ok"},
        {"text fullscreen", "1"},
        {"key Escape", "ok"},
        {"text fullscreen", "0"},
        // Find replaces the list with what it found and opens the first.
        {"option Settings MRUReplace 1", "ok"},
        {"answer " + folder.Path(), "ok"},
        {"command find", "ok"},
        {"text recent", found},
        {"text title", "found.webm \u2013 Velotrax"},
    });
}

// The frame number an image written by "image" shows (long-GOP clip).
int FrameInImage(const std::string& file) {
    QImage image = QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return -1;
    return testmedia::FrameNumberFromRow(image.constScanLine(image.height() / 2), image.width(), 4,
                                         1, testmedia::kLongGopBarSpeed);
}

TEST(PlayerScript, StepBackShowsEachEarlierFrameOnce) {
    vtest::TempDir images;
    // From frame 240 (9.6 s): 100 steps back, then 3 forward again.
    std::string script =
        "open " + testmedia::LongGop() + "\noption Settings WindOffset 9600\ncommand forward\n";
    std::vector<int> expected;
    for (int i = 1; i <= 103; ++i) {
        script += std::string(i <= 100 ? "command step-back" : "command step-forward") +
                  "\npos\nimage " + images.File(std::to_string(i) + ".png") + "\n";
        expected.push_back(i <= 100 ? 240 - i : 140 + (i - 100));
    }
    CScriptRun run = RunScript(script);
    ASSERT_EQ(run.lines.size(), 3u + 3 * expected.size()) << run.err;
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(run.lines[3 + 3 * i + 1], std::to_string(expected[i] * 40) + " paused");
        ASSERT_EQ(FrameInImage(images.File(std::to_string(i + 1) + ".png")), expected[i]);
    }
    EXPECT_EQ(run.exitCode, 0) << run.err;
}

TEST(PlayerScript, ReversePlayShowsEarlierFramesFromTheCache) {
    vtest::TempDir images;
    CScriptRun run = RunScript("open " + testmedia::LongGop() +
                               "\noption Settings WindOffset 2000\ncommand forward\n"
                               "command reverse-100\ntext rate\nstate reverse-100\n"
                               "command pause\npos\nimage " +
                               images.File("r.png") +
                               "\ntext rate\nstate reverse-100\n"
                               // At the start there is nothing to play backwards.
                               "command begin\ncommand reverse-50\nstate reverse-50\npos\n");
    ASSERT_EQ(run.lines.size(), 15u) << run.err;
    EXPECT_EQ(run.lines[4], "-100%");
    EXPECT_EQ(run.lines[5], "reverse-100 enabled=1 checked=1");
    // The first frame comes at once; how many follow depends on the time.
    int ms = std::stoi(run.lines[7]);
    EXPECT_TRUE(ms <= 1960 && ms % 40 == 0) << run.lines[7];
    EXPECT_EQ(FrameInImage(images.File("r.png")), ms / 40);
    EXPECT_EQ(run.lines[9], "");
    EXPECT_EQ(run.lines[10], "reverse-100 enabled=1 checked=0");
    EXPECT_EQ(run.lines[13], "reverse-50 enabled=1 checked=0");
    EXPECT_EQ(run.lines[14], "0 paused");
    EXPECT_EQ(run.exitCode, 0) << run.err;
}

TEST(PlayerScript, PlayingMovesTheTimeFieldAndTheShuttleWinds) {
    CScriptRun run = RunScript("open " + kVideo +
                               "\ntext time\nkey Space\nsleep 1000\ntext time\nkey Space\n"
                               "key Home\nmouse right\ncursor 110 0\ntext speed\n"
                               "sleep 400\npos\nmouse left\ntext speed\nwait-state paused\n");
    ASSERT_EQ(run.lines.size(), 15u) << run.err;
    EXPECT_EQ(run.lines[1], "00:00:00.00");
    EXPECT_GT(run.lines[4], "00:00:00.20");
    // The wheel opened at the centre of the video; 110 pixels to the right
    // give 100 %.
    EXPECT_EQ(run.lines[9], "100");
    int ms = std::stoi(run.lines[11]);
    EXPECT_GT(ms, 0);
    EXPECT_EQ(run.lines[13], "0");
    EXPECT_EQ(run.exitCode, 0) << run.err;
}

TEST(PlayerScript, WithoutADisplayTheDemoClipPlaysToItsEnd) {
    vtest::TempDir config;
    vtest::ProcessResult r =
        vtest::RunProcess({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                           "XDG_CONFIG_HOME=" + config.Path(), VELOTRAX_PROGRAM});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("demo.webm to its end"), std::string::npos) << r.out;
}

}  // namespace
