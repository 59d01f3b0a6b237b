// The control's hand-off driven by `velotrax host` scripts: an installed
// stand-in is started by the control and its log shows what was forwarded.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "tests/media/TestMedia.h"

namespace {

struct HostRun {
    std::vector<std::string> out;       // the script's answers
    std::vector<std::string> messages;  // what the stand-in received
    bool started = false;               // it logged its start with -nosplash
};

// Installs the stand-in (kind 1, 4.0.7.1) in a folder with spaces, runs the
// script in a host with the given extra environment and collects the log.
HostRun RunHost(const std::vector<std::string>& lines, std::vector<std::string> env) {
    vtest::TempDir dir;
    const std::string install = dir.File("Program Files/orbalis veloTRAX");
    std::filesystem::create_directories(install);
    std::filesystem::create_symlink(STANDIN_DIR "/velotrax_standin_4071",
                                    install + "/veloTRAX.exe");
    std::filesystem::create_directories(dir.File("velotrax"));
    vtest::WriteFile(dir.File("velotrax/user.reg"),
                     "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Korvani\\orbalis veloTRAX]\n"
                     "\"InstallDir\"=\"" +
                         install + "\"\n");
    const std::string log = dir.File("standin.log");
    std::vector<std::string> argv = {"env", "XDG_CONFIG_HOME=" + dir.Path(),
                                     "VELOTRAX_STANDIN_LOG=" + log};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.insert(argv.end(), {VELOTRAX_PROGRAM, "host", "--script", "-"});
    std::string script;
    for (const std::string& line : lines)
        script += line + "\n";
    vtest::ProcessResult r = vtest::RunProcess(argv, script);
    EXPECT_EQ(r.exitCode, 0) << r.err;

    HostRun run;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);)
        run.out.push_back(line);
    std::istringstream in(std::filesystem::exists(log) ? vtest::ReadFile(log) : "");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("pid ", 0) == 0)
            kill(pid_t(std::stol(line.substr(4))), SIGTERM);
        else if (line == "start -nosplash")
            run.started = true;
        else if (line.rfind("ready", 0) != 0)
            run.messages.push_back(line);
    }
    return run;
}

TEST(HandOffScript, ForwardedMessages) {
    const std::string kWait = "VELOTRAX_EXTERNAL_WAIT=100,200,300";
    struct Case {
        const char* name;
        std::vector<std::string> env;
        std::vector<std::string> script;
        std::vector<std::string> out;
        std::vector<std::string> messages;
    } cases[] = {
        {"started with -nosplash, media location first, then the media codes",
         {},
         {"set PreferLocalApp true", "set FileName 0123456789", "set Rate 1.5", "call Play"},
         {"ok", "ok", "ok", "ok"},
         {"activate", "copydata 30 2 0000", "activate", "copydata 30 2 0000",
          "copydata 11 22 30003100320033003400350036003700380039000000", "copydata 51 4 96000000",
          "activate", "copydata 40 0 "}},
        {"a modal application receives nothing",
         {"VELOTRAX_STANDIN_MODAL=1"},
         {"set PreferLocalApp true", "call Play"},
         {"ok", "ok"},
         {"activate", "activate"}},
        {"an application that never appears leaves the control playing itself",
         {"VELOTRAX_STANDIN_NONAME=1", kWait},
         {"set PreferLocalApp true", "external", "set FileName " + testmedia::Video25(),
          "get FileName"},
         {"ok", "none", "ok", testmedia::Video25()},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostRun run = RunHost(c.script, c.env);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.messages, c.messages);
        // An application that appeared was started by the control.
        if (!c.messages.empty()) {
            EXPECT_TRUE(run.started);
        }
    }
}

}  // namespace
