// Opening an editing timeline of 200 clips, cut from three source files of
// 4, 8 and 12 s (320x240, 25 fps, made on first use), until the paused
// graph shows its first frame; beside opening the longest source file the
// same way. Both go through the play context, as the player opens them.
// The editing services keep what they learned about a file for the
// process, so the first timeline open (cold) is reported on its own.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "playback/PlayCtx.h"
#include "support/Exception.h"

extern char** environ;

namespace {

constexpr int kClips = 200;
constexpr int kSourceSeconds[] = {4, 8, 12};

std::string MediaDir() {
    return VELOTRAX_BENCH_MEDIA_DIR;
}

std::string Source(int i) {
    return MediaDir() + "/source" + std::to_string(kSourceSeconds[i]) + ".webm";
}

bool MakeSource(int i) {
    std::string clip = Source(i);
    struct stat info {};
    if (stat(clip.c_str(), &info) == 0 && info.st_size > 0)
        return true;
    mkdir(MediaDir().c_str(), 0755);
    std::string temp = clip + ".part";
    std::vector<std::string> args = {VELOTRAX_GST_LAUNCH,
                                     "-q",
                                     "videotestsrc",
                                     "pattern=bar",
                                     "horizontal-speed=2",
                                     "num-buffers=" + std::to_string(kSourceSeconds[i] * 25),
                                     "!",
                                     "video/x-raw,format=I420,width=320,height=240,framerate=25/1",
                                     "!",
                                     "vp8enc",
                                     "deadline=1",
                                     "cpu-used=8",
                                     "keyframe-max-dist=25",
                                     "!",
                                     "webmmux",
                                     "!",
                                     "filesink",
                                     "location=" + temp};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0)
        waitpid(pid, &status, 0);
    return status == 0 && std::rename(temp.c_str(), clip.c_str()) == 0;
}

// 200 clips of 0.2 s each, taken in turn from the three sources at in-points
// spread over each source.
const std::string& Timeline() {
    static const std::string path = [] {
        for (int i = 0; i < 3; ++i)
            if (!MakeSource(i))
                return std::string();
        std::string xtl = MediaDir() + "/clips200.xtl";
        std::ofstream out(xtl);
        out << "<timeline><group type=\"video\" framerate=\"25\"><track>\n";
        for (int c = 0; c < kClips; ++c) {
            int s = c % 3;
            double start = c * 0.2;
            double mstart =
                (c * 0.36) - int(c * 0.36 / (kSourceSeconds[s] - 0.2)) * (kSourceSeconds[s] - 0.2);
            char line[512];
            std::snprintf(line, sizeof line,
                          "<clip src=\"%s\" start=\"%.1f\" stop=\"%.1f\" mstart=\"%.2f\"/>\n",
                          Source(s).c_str(), start, start + 0.2, mstart);
            out << line;
        }
        out << "</track></group></timeline>\n";
        return out ? xtl : std::string();
    }();
    return path;
}

class CSilentNotify : public IPlayNotify {
public:
    void OnPlayEnd(CPlayCtx*) override {}
    void OnPlayListChanged(CPlayCtx*) override {}
    void OnPlayNotify(CPlayCtx*, int32_t, int32_t) override {}
};

void App() {
    static int argc = 1;
    static char name[] = "timeline_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

// Opens the name and waits for the first frame; false when none is shown.
bool OpenToFirstFrame(CPlayCtx& ctx, const std::string& name) {
    ctx.Open(name);
    ctx.GetGraph()->WaitForState();
    std::vector<BYTE> dib;
    return ctx.GetGraph()->GetCurrentImage(dib);
}

void Run(benchmark::State& state, const std::string& name) {
    App();
    if (Timeline().empty())
        return state.SkipWithError("no media");
    CSilentNotify notify;
    CPlayCtx ctx;
    ctx.Create(&notify);
    for (auto _ : state) {
        try {
            if (!OpenToFirstFrame(ctx, name))
                state.SkipWithError("no frame");
            state.PauseTiming();
            ctx.Close();
            state.ResumeTiming();
        } catch (const CException& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
    ctx.Shutdown();
}

void OpenTimelineCold(benchmark::State& state) {
    Run(state, Timeline());
}
BENCHMARK(OpenTimelineCold)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void OpenTimeline200Clips(benchmark::State& state) {
    Run(state, Timeline());
}
BENCHMARK(OpenTimeline200Clips)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void OpenLongestSource(benchmark::State& state) {
    Run(state, Source(2));
}
BENCHMARK(OpenLongestSource)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
