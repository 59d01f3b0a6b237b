// velotrax info: opens a media file through the play context and prints
// what the player knows about it as key=value lines.
#include <QCoreApplication>
#include <cstdio>
#include <string>

#include "apps/velotrax/Command.h"
#include "apps/velotrax/TimelineNotes.h"
#include "playback/PlayCtx.h"
#include "support/Exception.h"
#include "support/Strings.h"

namespace {

class CSilentNotify : public IPlayNotify {
public:
    void OnPlayEnd(CPlayCtx*) override {}
    void OnPlayListChanged(CPlayCtx*) override {}
    void OnPlayNotify(CPlayCtx*, int32_t, int32_t) override {}
};

long long FrameDuration(CPlayCtx& ctx) {
    return ctx.HasVideo() ? ctx.GetFrameDuration() : -1;
}

int RunInfo(int argc, char** argv) {
    CCommandLine cl("info", {"[--search DIR] [--deinterlace M[,I[,S]]] FILE"},
                    "Opens FILE (a media file, URL, playlist, saved graph or editing timeline)\n"
                    "and prints duration and frame_duration (100-ns units, -1 when unknown),\n"
                    "width, height, interlaced, has_video, has_audio and seekable as key=value\n"
                    "lines. A timeline's duration is its length; what it holds that is not\n"
                    "played is noted on standard error. With --deinterlace the deinterlace\n"
                    "filter is in the graph: the frame duration is then the one it delivers.");
    cl.AddOption({"search"}, "look for a timeline's moved source files in DIR", "DIR");
    cl.AddOption({"deinterlace"},
                 "deinterlace with method M (0..4), interpolation I (0..2)\n"
                 "and sharpen level S (0..5; needs I = 2)",
                 "M[,I[,S]]");
    if (auto status = cl.Parse(argc, argv))
        return *status;
    CDeinterlaceSpec deinterlace;
    if (cl.IsSet("deinterlace")) {
        std::string error;
        if (!ParseDeinterlaceSpec(cl.Value("deinterlace"), deinterlace, error))
            return cl.UsageError(error);
    }
    if (cl.Positional().size() != 1 || cl.Positional()[0].empty())
        return cl.UsageError("give one FILE");
    const std::string file = cl.Positional()[0];
    int qargc = 1;
    QCoreApplication app(qargc, argv);
    CSilentNotify notify;
    CPlayCtx ctx;
    int status = kExitOk;
    try {
        ctx.Create(&notify);
        ctx.SetSearchDirectory(cl.Value("search"));
        if (va::HasExtension(file, "xtl"))
            PrintTimelineNotes(file);
        if (cl.IsSet("deinterlace")) {
            ctx.SetDeinterlaceSettings(deinterlace.method, deinterlace.interpolation,
                                       deinterlace.sharpen);
            ctx.SetDeinterlace(true);
        }
        ctx.Open(file);
        // The filter knows its frame time once the first frame is there.
        if (cl.IsSet("deinterlace"))
            ctx.GetGraph()->WaitForState();
        // The renderer's native size (no aspect correction in this process).
        VASIZE size;
        bool video = ctx.HasVideo();
        if (!video || !ctx.GetRenderer().GetVideoSize(size))
            size = VASIZE{};
        bool audio = ctx.GetGraph()->FindAudioFilter() != nullptr;
        bool interlaced = video && ctx.GetGraph()->IsInterlaced();
        std::printf("duration=%lld\n", static_cast<long long>(ctx.GetDuration()));
        std::printf("frame_duration=%lld\n", FrameDuration(ctx));
        std::printf("width=%ld\n", static_cast<long>(size.cx));
        std::printf("height=%ld\n", static_cast<long>(size.cy));
        std::printf("interlaced=%d\n", interlaced ? 1 : 0);
        std::printf("has_video=%d\n", video ? 1 : 0);
        std::printf("has_audio=%d\n", audio ? 1 : 0);
        std::printf("seekable=%d\n", ctx.CanSeek() ? 1 : 0);
        std::fflush(stdout);
    } catch (const CException& e) {
        std::fprintf(stderr, "%s\n", BuildErrorText(e, 0).c_str());
        status = kExitFailure;
    }
    try {
        ctx.Close();
    } catch (const CException&) {
    }
    ctx.Shutdown();
    return status;
}

CCommandRegistrar reg({"info", "print duration, frame duration, size and streams of a media file",
                       &RunInfo});

}  // namespace
