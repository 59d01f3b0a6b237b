// The control hosted by `velotrax host` (offscreen): automation members,
// persistence, frame modes and keys, one script line at a time; and the
// module's registration round trip.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "tests/media/TestMedia.h"

namespace {

using Steps = std::vector<std::pair<std::string, std::string>>;

vtest::ProcessResult Velotrax(const std::string& config, std::vector<std::string> args,
                              const std::string& input = {}) {
    args.insert(args.begin(), {"env", "XDG_CONFIG_HOME=" + config, VELOTRAX_PROGRAM});
    return vtest::RunProcess(args, input);
}

// Runs the steps' lines in a host of their own (extra host arguments in
// 'args'); each line must print its pattern ("*" for any text).
void Expect(const Steps& steps, int exitCode = 0, std::vector<std::string> args = {},
            const std::string& config = {}) {
    vtest::TempDir fresh;
    std::string script;
    for (const auto& step : steps)
        script += step.first + "\n";
    args.insert(args.begin(), {"host", "--script", "-"});
    vtest::ProcessResult r = Velotrax(config.empty() ? fresh.Path() : config, args, script);
    std::vector<std::string> lines;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), steps.size()) << r.out << r.err;
    for (size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(fnmatch(steps[i].second.c_str(), lines[i].c_str(), 0), 0)
            << "line " << i + 1 << ": " << steps[i].first.substr(0, 80) << " printed " << lines[i];
    EXPECT_EQ(r.exitCode, exitCode) << r.err;
}

const std::string kVideo = testmedia::Video25();  // 3 s, 25 fps

TEST(HostScript, MediaPropertiesAndRender) {
    Expect({
        {"get CurrentPos", "0"},
        {"get StartTime", "0"},
        {"set StartTime 1500", "ok"},
        {"get StartTime", "0"},
        {"set PlayList <ASX version=\"3.0\"></ASX>", "ok"},
        {"set XTL <timeline/>", "ok"},
        {"set FileName " + kVideo, "ok"},
        {"stored XTL", ""},
        {"stored PlayList", ""},
        {"get FileName", kVideo},
        {"call Unrender", "ok"},
        {"get FileName", ""},
        {"call Render", "ok"},
        {"get FileName", kVideo},
        {"set StartTime 1500", "ok"},
        {"units", "15000000 30000000"},
        {"get StartTime", "1500"},
        {"get StopTime", "3000"},
        {"set CurrentPos 1010", "ok"},
        {"get CurrentPos", "1000"},
        {"set Rate 0.5", "ok"},
        {"get Rate", "0.5000"},
        {"get CurrentImage", "picture 320x240"},
        {"call Play", "ok"},
        {"wait-state running", "ok"},
        {"call Stop", "ok"},
        {"wait-state stopped", "ok"},
    });
}

TEST(HostScript, ScenePlayListsAndModifiedMark) {
    Expect({
        {"modified", "0"},
        {"call SetPlayLists <a/> <b/>", "ok"},
        {"stored PlayList", "<PlayLists SyncVideoMode=\"SceneList\"><a/><b/></PlayLists>"},
        {"modified", "1"},
        {"set UseTwoVideoWindowsExternal false", "ok"},
        {"modified", "1"},
        {"set UseTwoVideoWindowsExternal 0", "ok"},
        {"modified", "0"},
        {"call SetPlayLists <a/> <b/>", "ok"},
        {"stored PlayList", "<a/>"},
        {"set UseTwoVideoWindowsExternal -1", "ok"},
        {"get UseTwoVideoWindowsExternal", "true"},
        {"external", "none*"},
    });
}

TEST(HostScript, BadInputLeavesTheControlWorking) {
    const std::string big(10 * 1024 * 1024, 'x');
    Expect(
        {
            {"get XTL", "error: 0x800A018A"},
            {"get PlayList", "error: 0x800A018A"},
            {"set Version 9", "error: 0x800A017F"},
            {"set CurrentImage 1", "error: 0x800A017F"},
            {"dispid 999 get", "error: 0x80020003"},
            {"get Nonsense", "error: 0x80020003"},
            {"set Rate abc", "error: 0x80020005"},
            {"set Rate -2", "error: 0x80070057"},
            {"set CurrentPos -5", "error: 0x80070057"},
            {"call SetPlayLists one", "error: 0x8002000E"},
            {"set PlayList " + big, "ok"},
            {"stored PlayList", "length 65535"},
            {"dispid 13 get", "1.0.0.0"},
            {"set FileName " + kVideo, "ok"},
            {"get CurrentPos", "0"},
            {"get Rate", "1.0000"},
        },
        1);
}

TEST(HostScript, BagWithoutPreferLocalAppAndStreamRoundTrip) {
    vtest::TempDir dir;
    vtest::WriteFile(dir.File("in.bag"), "Locked=True\nAutoSize=0\nFileName=" + kVideo + "\n");
    Expect({{"get PreferLocalApp", "false"},
            {"get Locked", "true"},
            {"get FileName", kVideo},
            {"set PreferLocalApp true", "ok"},
            {"save-stream " + dir.File("s.bin"), "ok"},
            {"modified", "0"},
            {"set PreferLocalApp false", "ok"},
            {"load-stream " + dir.File("s.bin"), "ok"},
            {"get PreferLocalApp", "true"},
            {"save-bag " + dir.File("out.bag"), "ok"}},
           0, {"--bag", dir.File("in.bag")});
    EXPECT_EQ(vtest::ReadFile(dir.File("out.bag")),
              "Locked=True\nShowExternal=False\nPreferLocalApp=True\nAutoSize=False\nFileName=" +
                  kVideo + "\n");
}

TEST(HostScript, FreeFloatingFrameKeepsThePlayerAndItsPlacement) {
    vtest::TempDir config;
    Expect({{"link", "shown 640x44"},
            {"frame", "floating frame=1 player=1"},
            {"set FileName " + kVideo, "ok"},
            {"set ShowExternal false", "ok"},
            {"frame", "embedded frame=2 player=1"},
            {"set ShowExternal true", "ok"},
            {"frame", "floating frame=3 player=1"},
            {"get FileName", kVideo},
            {"frame-state max", "ok"},
            {"close-frame", "ok"},
            {"frame", "none"},
            {"get Rate", "1.0000"},
            {"get CurrentPos", "0"}},
           0, {"--prop", "ShowExternal=true", "--prop", "AutoSize=-1"}, config.Path());
    // Closed maximised, it opens maximised again; closed minimised, it
    // leaves the placement as it was.
    Expect({{"frame", "floating maximized frame=1 player=1"},
            {"frame-state min", "ok"},
            {"close-frame", "ok"}},
           0, {"--prop", "ShowExternal=true"}, config.Path());
    Expect({{"frame", "floating maximized frame=1 player=1"}}, 0, {"--prop", "ShowExternal=true"},
           config.Path());
}

TEST(HostScript, ArrowKeysStayInTheFileBoxEnterOpens) {
    const std::string other = testmedia::Video30();
    Expect({
        {"set FileName " + kVideo, "ok"},
        {"focus file", "ok"},
        {"file-cursor", std::to_string(kVideo.size())},
        {"key Left", "ok"},
        {"file-cursor", std::to_string(kVideo.size() - 1)},
        {"pos", "0 paused"},
        {"focus video", "ok"},
        {"key Right", "ok"},
        {"pos", "40 paused"},
        {"focus file", "ok"},
        {"edit " + other, "ok"},
        {"key Return", "ok"},
        {"get FileName", other},
    });
}

TEST(HostScript, RegistrationRoundTrip) {
    vtest::TempDir config, moved;
    auto create = [&] {
        return Velotrax(config.Path(), {"host", "--no-register", "--script", "-"}, "get Version\n");
    };
    EXPECT_EQ(create().exitCode, 1);
    vtest::ProcessResult reg = Velotrax(config.Path(), {"register", VELOTRAX_MODULE});
    ASSERT_EQ(reg.exitCode, 0) << reg.err;
    EXPECT_NE(reg.out.find("[HKEY_CLASSES_ROOT\\Velotrax.VelotraxCtrl.1\\CLSID]\n"
                           "@=\"{6BA242CC-B9A8-4255-AC01-D88F6B7F483B}\""),
              std::string::npos)
        << reg.out;
    EXPECT_NE(reg.out.find("\"ThreadingModel\"=\"Apartment\""), std::string::npos);
    vtest::ProcessResult created = create();
    EXPECT_EQ(created.exitCode, 0) << created.err;
    EXPECT_EQ(created.out, "1.0.0.0\n");
    ASSERT_EQ(Velotrax(config.Path(), {"register", "--unregister", VELOTRAX_MODULE}).exitCode, 0);
    vtest::ProcessResult gone = create();
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_NE(gone.err.find("(0x80040154)"), std::string::npos) << gone.err;
    // A registered module that moved away is named in the error.
    std::string copy = moved.File("libvelotrax.so");
    std::filesystem::copy_file(VELOTRAX_MODULE, copy);
    ASSERT_EQ(Velotrax(config.Path(), {"register", copy}).exitCode, 0);
    std::filesystem::remove(copy);
    vtest::ProcessResult missing = create();
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find(copy + " does not exist"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("(0x8007007E)"), std::string::npos) << missing.err;
}

}  // namespace
