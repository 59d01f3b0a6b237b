// velotrax play: plays a media file, URL or playlist through the play
// context, in a plain window that holds the video only or, with --headless,
// without any window; each notification is reported on standard output and
// the progress on standard error.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "apps/velotrax/Command.h"
#include "apps/velotrax/TimelineNotes.h"
#include "apps/velotrax/VideoOnlyWindow.h"
#include "platform/dshow/VideoWindow.h"
#include "playback/PlayCtx.h"
#include "support/Exception.h"
#include "support/Strings.h"

namespace {

struct Options {
    bool headless = false;
    bool stats = false;  // print the frames painted at the end
    int width = 0;       // client size of the window; 0: the video's own
    int height = 0;
    int scale = 1;
    bool aspect = false;
    double rate = 1.0;
    bool rateGiven = false;
    long long from = -1;
    long long to = -1;
    long long repeat = 1;
    bool deinterlace = false;
    CDeinterlaceSpec deinterlaceSpec;
    std::string file;
    std::string search;  // where a timeline's moved sources are looked for
};

bool ParseInteger(const char* text, long long& value) {
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

// Reads the command line into 'options'; returns the exit status when the
// command is done (help shown or bad use reported).
std::optional<int> ParseOptions(int argc, char** argv, Options& options) {
    CCommandLine cl("play", {"[OPTIONS] FILE", "--headless [OPTIONS] FILE"},
                    "Plays FILE (a media file, URL, ASX/WVX playlist or XTL editing timeline)\n"
                    "in a window that shows the video only, or with --headless without one.\n"
                    "Keys: Space play/pause, F or Alt+Enter full screen, Escape leaves it,\n"
                    "1/2/3 Original Size/Maximum Size/Best Fit, A aspect correction.\n"
                    "Standard output gets one line per event: open-begin, open-done, open-failed,\n"
                    "state-begin, state-done, state-failed, seek-wait-begin, seek-wait-done,\n"
                    "playlist-changed, clip N, play-end. Standard error shows the progress.");
    cl.AddOption({"headless"}, "play without a window");
    cl.AddOption({"stats"}, "at the end, print the frames the window painted and their rate");
    cl.AddOption({"size"}, "client size of the window, default the video's size", "WxH");
    cl.AddOption({"scale"}, "scaling: 0 Original Size, 1 Maximum Size (default), 2 Best Fit", "N");
    cl.AddOption({"aspect"}, "aspect correction on or off (default off)", "on|off");
    cl.AddOption({"rate"}, "play at rate R (1.0 is normal speed)", "R");
    cl.AddOption({"from"}, "start of the selection in milliseconds", "MS");
    cl.AddOption({"to"}, "end of the selection in milliseconds", "MS");
    cl.AddOption({"repeat"}, "play N times (continuous play), default 1", "N");
    cl.AddOption({"search"}, "look for a timeline's moved source files in DIR", "DIR");
    cl.AddOption({"deinterlace"},
                 "deinterlace with method M (0..4), interpolation I (0..2)\n"
                 "and sharpen level S (0..5; needs I = 2)",
                 "M[,I[,S]]");
    if (auto status = cl.Parse(argc, argv))
        return status;
    options.search = cl.Value("search");
    options.headless = cl.IsSet("headless");
    options.stats = cl.IsSet("stats");
    if (cl.IsSet("size")) {
        const std::string text = cl.Value("size");
        long long w = 0, h = 0;
        const size_t x = text.find('x');
        if (x == std::string::npos || !ParseInteger(text.substr(0, x).c_str(), w) ||
            !ParseInteger(text.substr(x + 1).c_str(), h) || w < 1 || h < 1 || w > 16384 ||
            h > 16384)
            return cl.UsageError("--size takes WIDTHxHEIGHT, not '" + text + "'");
        options.width = int(w);
        options.height = int(h);
    }
    if (cl.IsSet("scale")) {
        const std::string text = cl.Value("scale");
        long long mode = 0;
        if (!ParseInteger(text.c_str(), mode) || mode < 0 || mode > 2)
            return cl.UsageError("--scale takes 0, 1 or 2, not '" + text + "'");
        options.scale = int(mode);
    }
    if (cl.IsSet("aspect")) {
        const std::string text = cl.Value("aspect");
        if (text != "on" && text != "off")
            return cl.UsageError("--aspect takes on or off, not '" + text + "'");
        options.aspect = text == "on";
    }
    if (cl.Positional().size() != 1 || cl.Positional()[0].empty())
        return cl.UsageError("give one FILE");
    options.file = cl.Positional()[0];
    if (cl.IsSet("deinterlace")) {
        std::string error;
        if (!ParseDeinterlaceSpec(cl.Value("deinterlace"), options.deinterlaceSpec, error))
            return cl.UsageError(error);
        options.deinterlace = true;
    }
    if (cl.IsSet("rate")) {
        std::string text = cl.Value("rate");
        char* end = nullptr;
        options.rate = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(options.rate > 0.0) || options.rate > 100.0)
            return cl.UsageError("--rate takes a number above 0 and up to 100, not '" + text + "'");
        options.rateGiven = true;
    }
    for (auto [name, value] : {std::pair<const char*, long long*>{"from", &options.from},
                               {"to", &options.to},
                               {"repeat", &options.repeat}}) {
        if (!cl.IsSet(name))
            continue;
        std::string text = cl.Value(name);
        const long long low = value == &options.repeat ? 1 : 0;
        if (!ParseInteger(text.c_str(), *value) || *value < low || *value > INT32_MAX)
            return cl.UsageError("--" + std::string(name) + " takes a number from " +
                                 std::to_string(low) + " to " + std::to_string(INT32_MAX) +
                                 ", not '" + text + "'");
    }
    return std::nullopt;
}

// Prints the notifications and drives continuous play.
class CHeadlessPlayer : public IPlayNotify {
public:
    explicit CHeadlessPlayer(const Options& options) : m_options(options) {}

    void OnPlayEnd(CPlayCtx* ctx) override {
        CheckClip(ctx);
        Print("play-end");
        if (++m_plays >= m_options.repeat) {
            m_finished = true;
            QCoreApplication::exit(kExitOk);
            return;
        }
        // Continuous play: back to the start (of the selection) and on; a
        // source read from start to end plays once (a playlist opens its
        // first clip again).
        if (ctx->GetCurrentClip() < 0 && !ctx->CanSeek()) {
            std::fprintf(stderr, "velotrax: the source cannot seek and is not repeated\n");
            m_finished = true;
            QCoreApplication::exit(kExitOk);
            return;
        }
        ctx->Seek(0, true);
        ctx->Run();
    }
    void OnPlayListChanged(CPlayCtx* ctx) override {
        Print("playlist-changed");
        CheckClip(ctx);
    }
    void OnPlayNotify(CPlayCtx* ctx, int32_t code, int32_t param) override {
        static const char* const names[] = {"open-begin",      "open-done",     "open-failed",
                                            "state-begin",     "state-done",    "state-failed",
                                            "seek-wait-begin", "seek-wait-done"};
        if (code < PN_OPEN_BEGIN || code > PN_SEEK_WAIT_DONE)
            return;
        Print(names[code - 1]);
        CheckClip(ctx);
    }
    // A playlist may move to another clip of the same file without opening it.
    void CheckClip(CPlayCtx* ctx) {
        int clip = ctx->GetCurrentClip();
        if (clip >= 0 && clip != m_clip) {
            m_clip = clip;
            std::printf("clip %d\n", clip);
            std::fflush(stdout);
        }
    }
    bool IsFinished() const { return m_finished; }
    void Finish() { m_finished = true; }

private:
    static void Print(const char* line) {
        std::printf("%s\n", line);
        std::fflush(stdout);
    }
    const Options& m_options;
    long long m_plays = 0;
    int m_clip = -1;
    bool m_finished = false;
};

void PrintProgress(CPlayCtx& ctx) {
    REFERENCE_TIME position = ctx.GetPosition();
    double pos = double(position) / double(UNITS);
    REFERENCE_TIME duration = ctx.GetDuration();
    if (duration >= 0)
        // A playlist's clips after one that failed have no place in the list
        // (its length is unknown), so the position is the clip file's own
        // and may lie past the known total: the progress stops at the end.
        std::fprintf(stderr, "%.2f / %.2f s, rate %.2f\n",
                     double(std::min(position, duration)) / double(UNITS),
                     double(duration) / double(UNITS), ctx.GetRate());
    else
        std::fprintf(stderr, "%.2f s, rate %.2f\n", pos, ctx.GetRate());
}

int RunPlay(int argc, char** argv) {
    Options options;
    if (auto status = ParseOptions(argc, argv, options))
        return *status;
    static int qargc = 1;
    std::unique_ptr<QCoreApplication> app;
    if (options.headless)
        app = std::make_unique<QCoreApplication>(qargc, argv);
    else
        app = std::make_unique<QApplication>(qargc, argv);
    CHeadlessPlayer player(options);
    CPlayCtx ctx;
    std::unique_ptr<CVideoOnlyWindow> window;
    int status = kExitFailure;
    try {
        ctx.Create(&player);
        if (!options.headless) {
            // The window is given to the play context before the file opens;
            // it shows once the file turns out to have video.
            window = std::make_unique<CVideoOnlyWindow>(
                ctx, QFileInfo(QString::fromStdString(options.file)).fileName());
            ctx.SetScaleMode(options.scale);
            ctx.SetPreserveAspectRatio(options.aspect);
            window->Attach();
            // Closing the window ends playback.
            QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&player] {
                player.Finish();
                QCoreApplication::exit(kExitOk);
            });
        }
        ctx.SetSearchDirectory(options.search);
        if (va::HasExtension(options.file, "xtl"))
            PrintTimelineNotes(options.file);
        if (options.deinterlace) {
            const CDeinterlaceSpec& d = options.deinterlaceSpec;
            ctx.SetDeinterlaceSettings(d.method, d.interpolation, d.sharpen);
            ctx.SetDeinterlace(true);
        }
        ctx.Open(options.file);
        player.CheckClip(&ctx);
        if (window && ctx.HasVideo()) {
            SIZE video;
            if (options.width > 0)
                window->resize(options.width, options.height);
            else if (ctx.GetVideoSize(video))
                window->resize(int(video.cx), int(video.cy));
            else
                window->resize(640, 360);
            window->show();
        }
        if (options.from >= 0 || options.to >= 0) {
            REFERENCE_TIME from = options.from >= 0 ? MsToRefTime(options.from) : 0;
            REFERENCE_TIME to = options.to >= 0 ? MsToRefTime(options.to) : ctx.GetDuration();
            if (!ctx.SetSelection(from, to))
                ThrowHResult(E_INVALIDARG);
        }
        // Only a selection moves the start: a seek to where the play already
        // is would open a playlist's first clip again after it failed, and
        // a source read from start to end takes no seek at all.
        if (options.from > 0 && ctx.CanSeek())
            ctx.Seek(0, true);
        if (options.rateGiven && ctx.CanChangeRate())
            ctx.SetRate(options.rate);
        ctx.Run();
        // A graph that aborts while running stops moving without an end: after
        // kStallMs without progress the command gives up instead of waiting forever.
        constexpr qint64 kStallMs = 30000;
        REFERENCE_TIME lastPosition = -1;
        QElapsedTimer sinceProgress;
        sinceProgress.start();
        QTimer progress;
        QObject::connect(&progress, &QTimer::timeout, [&] {
            // A position that cannot be read is no progress either.
            REFERENCE_TIME position = lastPosition;
            ReportExceptions([&] {
                PrintProgress(ctx);
                position = ctx.GetPosition();
            });
            if (position != lastPosition) {
                lastPosition = position;
                sinceProgress.restart();
            } else if (sinceProgress.elapsed() > kStallMs) {
                std::fprintf(stderr, "velotrax: playback stopped making progress\n");
                QCoreApplication::exit(kExitFailure);
            }
        });
        progress.start(500);
        QTimer clipWatch;
        QObject::connect(&clipWatch, &QTimer::timeout, [&] { player.CheckClip(&ctx); });
        clipWatch.start(50);
        QElapsedTimer playing;
        playing.start();
        status = app->exec();
        if (!player.IsFinished())
            status = kExitFailure;
        if (options.stats && window) {
            // The renderer's window lives in the host once the file has video.
            uint64_t painted = 0;
            for (QWidget* child : window->Host()->findChildren<QWidget*>())
                if (auto* video = dynamic_cast<CVideoWindow*>(child))
                    painted = video->FramesPainted();
            const double seconds = double(playing.elapsed()) / 1000.0;
            std::printf("painted %llu frames in %.2f s: %.1f per second\n",
                        static_cast<unsigned long long>(painted), seconds,
                        seconds > 0 ? double(painted) / seconds : 0.0);
        }
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

CCommandRegistrar reg({"play", "play a media file or playlist in a window, or headless", &RunPlay});

}  // namespace
