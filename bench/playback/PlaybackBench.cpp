// Playback benchmarks on a 1080p clip (made on first use):
//  - first frame: from RenderFile until the paused graph shows its first
//    frame, beside a playbin pipeline prerolling the same file;
//  - playing: process CPU time to play the clip at rate 1, beside
//    "filesrc ! decodebin ! fakesink sync=true": the decoder's frames
//    shown nowhere, which is what the renderer costs when nobody looks.
//  - deinterlacing: the same graph with the deinterlace filter (method 3,
//    interpolation 1: twice the frames) in front of the renderer, beside the
//    same graph with GStreamer's "deinterlace method=linear fields=all" in
//    that place; both get the frames the renderer takes. The inserted
//    element runs on a thread of its own between two queues, and
//    filter_cpu_ms is that thread's processor time per run: the element's
//    own cost, apart from the decoder's and the renderer's, which vary
//    more from run to run than the element costs on this clip. PlayIdentity
//    puts an identity element there: what the queue alone costs.
// The GStreamer pipelines run in this process, so start-up costs of a
// separate program do not enter the comparison.
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "deinterlace/DeInterlaceFilter.h"
#include "platform/dshow/DShow.h"
#include "platform/dshow/ElementFilter.h"
#include "platform/sync/Sync.h"
#include "playback/VaFilterGraph.h"
#include "support/Exception.h"

extern char** environ;

namespace {

const std::string& Clip() {
    static const std::string path = [] {
        std::string dir = VELOTRAX_BENCH_MEDIA_DIR;
        std::string clip = dir + "/clip1080.webm";
        struct stat info {};
        if (stat(clip.c_str(), &info) == 0 && info.st_size > 0)
            return clip;
        mkdir(dir.c_str(), 0755);
        std::string temp = dir + "/.clip1080.webm";
        std::vector<std::string> args = {
            VELOTRAX_GST_LAUNCH,
            "-q",
            "videotestsrc",
            "num-buffers=100",
            "pattern=zone-plate",
            "kx2=20",
            "ky2=20",
            "kt=1",
            "!",
            "video/x-raw,format=I420,width=1920,height=1080,framerate=25/1",
            "!",
            "vp8enc",
            "deadline=1",
            "cpu-used=16",
            "threads=2",
            "target-bitrate=8000000",
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
        if (status != 0 || std::rename(temp.c_str(), clip.c_str()) != 0) {
            std::fprintf(stderr, "could not make %s\n", clip.c_str());
            return std::string();
        }
        return clip;
    }();
    return path;
}

QCoreApplication* App() {
    static int argc = 1;
    static char name[] = "playback_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return app;
}

// Sets the pipeline's state and waits until the change is complete.
bool SetStateAndWait(GstElement* pipeline, GstState state) {
    if (gst_element_set_state(pipeline, state) == GST_STATE_CHANGE_FAILURE)
        return false;
    return gst_element_get_state(pipeline, nullptr, nullptr, 30 * GST_SECOND) ==
           GST_STATE_CHANGE_SUCCESS;
}

bool WaitForEos(GstElement* pipeline) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    bool eos = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message)
        gst_message_unref(message);
    gst_object_unref(bus);
    return eos;
}

void FirstFrameWrapper(benchmark::State& state) {
    App();
    if (Clip().empty())
        return state.SkipWithError("no clip");
    for (auto _ : state)
        try {
            CVaFilterGraph graph;
            graph->Reset(true);
            graph->RenderFile(Clip());
            graph->Pause();
            graph->WaitForState();
            // The check that the renderer holds the frame is not timed: it
            // converts the frame into a picture, which playbin's preroll does not.
            state.PauseTiming();
            std::vector<BYTE> dib;
            if (!graph->GetCurrentImage(dib))
                state.SkipWithError("no frame");
            graph->Reset(true);
            state.ResumeTiming();
        } catch (const CException& e) {
            state.SkipWithError(e.what());
            break;
        }
}
BENCHMARK(FirstFrameWrapper)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void FirstFramePlaybin(benchmark::State& state) {
    if (Clip().empty())
        return state.SkipWithError("no clip");
    gst_init(nullptr, nullptr);
    std::string description =
        "playbin uri=file://" + Clip() + " video-sink=fakesink audio-sink=fakesink";
    for (auto _ : state) {
        GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
        if (!SetStateAndWait(pipeline, GST_STATE_PAUSED))
            state.SkipWithError("no preroll");
        state.PauseTiming();
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        state.ResumeTiming();
    }
}
BENCHMARK(FirstFramePlaybin)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

struct CCompletion : CVaCheckEvent {
    void OnEvent(long code, LONG_PTR, LONG_PTR) override {
        if (code == EC_COMPLETE || code == EC_ERRORABORT)
            last = code;
    }
    long last = 0;
};

// What goes in front of the renderer.
enum class EInsert { None, DeInterlace, GstDeinterlace, Identity };

// The processor time of the thread that pushes buffers out of a pad, from
// its first buffer to the end of the stream, read by the thread itself.
struct CThreadClock {
    int64_t start = -1;
    std::atomic<int64_t> total{0};
};

int64_t ThreadNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

GstPadProbeReturn TimeProbe(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* clock = static_cast<CThreadClock*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        if (clock->start < 0)
            clock->start = ThreadNs();
    } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS &&
               clock->start >= 0) {
        clock->total = ThreadNs() - clock->start;
    }
    return GST_PAD_PROBE_OK;
}

// Where the inserted filter's own processor time is read: it runs on the
// thread of a queue in front of it, with a queue behind it taking the
// renderer's work to a thread of its own, so that the decoder's and the
// renderer's time stay out of it.
void Insert(CVaFilterGraph& graph, EInsert what, CThreadClock& clock) {
    if (what == EInsert::None)
        return;
    CComPtr<IBaseFilter> filter;
    if (what == EInsert::Identity) {
        filter = CreateElementFilter("identity");
    } else if (what == EInsert::DeInterlace) {
        auto* deinterlace = new CDeInterlace();
        filter = static_cast<IBaseFilter*>(deinterlace);
        deinterlace->SetMethod(3);
        deinterlace->SetInterpolation(1, 0);
    } else {
        filter = CreateElementFilter("deinterlace");
        g_object_set(CComPtr<IGstElementAccess>(filter.Get())->Element(), "method", 4 /* linear */,
                     "fields", 0 /* all */, "mode", 1 /* interlaced */, nullptr);
    }
    CComPtr<IBaseFilter> renderer = graph->FindVideoWindowFilter();
    CComPtr<IPin> source, input;
    CVaFilterGraphRep::FindConnectedPin(renderer, PINDIR_INPUT, false, GUID_NULL, GUID_NULL,
                                        GUID_NULL, std::addressof(input), std::addressof(source),
                                        nullptr);
    graph->DisconnectPins(renderer, PINDIR_INPUT);
    graph->AddFilter(filter, "Deinterlace");
    CComPtr<IBaseFilter> before = CreateElementFilter("queue", "benchin");
    CComPtr<IBaseFilter> after = CreateElementFilter("queue", "benchout");
    graph->AddFilter(before, "benchin");
    graph->AddFilter(after, "benchout");
    graph->ConnectThrough(source, before, filter);
    graph->ConnectThrough(filter, after, renderer);
    GstPad* pad =
        gst_element_get_static_pad(CComPtr<IGstElementAccess>(before.Get())->Element(), "src");
    gst_pad_add_probe(
        pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        TimeProbe, &clock, nullptr);
    gst_object_unref(pad);
}

void Play(benchmark::State& state, EInsert insert) {
    App();
    if (Clip().empty())
        return state.SkipWithError("no clip");
    double filterNs = 0;
    for (auto _ : state)
        try {
            CThreadClock clock;  // outlives the graph and its probe
            CVaFilterGraph graph;
            graph->Reset(true);
            graph->RenderFile(Clip());
            Insert(graph, insert, clock);
            CEvent* handle = graph->GetEventHandle();
            graph->Run();
            CCompletion sink;
            for (int i = 0; i < 600 && !sink.last; ++i) {
                WaitForSingleObject(*handle, 100);
                graph->ProcessEvents(&sink);
            }
            if (sink.last != EC_COMPLETE)
                state.SkipWithError("did not complete");
            filterNs += double(clock.total.load());
        } catch (const CException& e) {
            state.SkipWithError(e.what());
            break;
        }
    // The inserted element's own processor time per run (with the queue's
    // small share, which the identity run shows).
    if (insert != EInsert::None && state.iterations() > 0)
        state.counters["filter_cpu_ms"] = filterNs / 1e6 / double(state.iterations());
}
void PlayWrapper(benchmark::State& state) {
    Play(state, EInsert::None);
}
BENCHMARK(PlayWrapper)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void PlayDeInterlaceFilter(benchmark::State& state) {
    Play(state, EInsert::DeInterlace);
}
BENCHMARK(PlayDeInterlaceFilter)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void PlayGstDeinterlace(benchmark::State& state) {
    Play(state, EInsert::GstDeinterlace);
}
BENCHMARK(PlayGstDeinterlace)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void PlayIdentity(benchmark::State& state) {
    Play(state, EInsert::Identity);
}
BENCHMARK(PlayIdentity)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void PlayGstPipeline(benchmark::State& state) {
    if (Clip().empty())
        return state.SkipWithError("no clip");
    gst_init(nullptr, nullptr);
    std::string description = "filesrc location=" + Clip() + " ! decodebin ! fakesink sync=true";
    for (auto _ : state) {
        GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        if (!WaitForEos(pipeline))
            state.SkipWithError("did not complete");
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
}
BENCHMARK(PlayGstPipeline)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
