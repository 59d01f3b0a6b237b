// velotrax play --headless: plays a media file, URL or playlist through the
// play context without a window, reporting each notification on standard
// output and the progress on standard error.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "apps/velotrax/Command.h"
#include "apps/velotrax/TimelineNotes.h"
#include "playback/PlayCtx.h"
#include "support/Exception.h"
#include "support/Strings.h"

namespace {

struct Options {
    double rate = 1.0;
    bool rateGiven = false;
    long long from = -1;
    long long to = -1;
    long long repeat = 1;
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
    CCommandLine cl("play", {"--headless [OPTIONS] FILE"},
                    "Plays FILE (a media file, URL, ASX/WVX playlist or XTL editing timeline)\n"
                    "without a window.\n"
                    "Standard output gets one line per event: open-begin, open-done, open-failed,\n"
                    "state-begin, state-done, state-failed, seek-wait-begin, seek-wait-done,\n"
                    "playlist-changed, clip N, play-end. Standard error shows the progress.");
    cl.AddOption({"headless"}, "play without a window (the only way offered here)");
    cl.AddOption({"rate"}, "play at rate R (1.0 is normal speed)", "R");
    cl.AddOption({"from"}, "start of the selection in milliseconds", "MS");
    cl.AddOption({"to"}, "end of the selection in milliseconds", "MS");
    cl.AddOption({"repeat"}, "play N times (continuous play), default 1", "N");
    cl.AddOption({"search"}, "look for a timeline's moved source files in DIR", "DIR");
    if (auto status = cl.Parse(argc, argv))
        return status;
    options.search = cl.Value("search");
    // Playing in a window needs the player window; only headless play is offered here.
    if (!cl.IsSet("headless"))
        return cl.UsageError("--headless is missing");
    if (cl.Positional().size() != 1 || cl.Positional()[0].empty())
        return cl.UsageError("give one FILE");
    options.file = cl.Positional()[0];
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
        // Continuous play: back to the start (of the selection) and on.
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
    double pos = double(ctx.GetPosition()) / double(UNITS);
    REFERENCE_TIME duration = ctx.GetDuration();
    if (duration >= 0)
        std::fprintf(stderr, "%.2f / %.2f s, rate %.2f\n", pos, double(duration) / double(UNITS),
                     ctx.GetRate());
    else
        std::fprintf(stderr, "%.2f s, rate %.2f\n", pos, ctx.GetRate());
}

int RunPlay(int argc, char** argv) {
    Options options;
    if (auto status = ParseOptions(argc, argv, options))
        return *status;
    int qargc = 1;
    QCoreApplication app(qargc, argv);
    CHeadlessPlayer player(options);
    CPlayCtx ctx;
    int status = kExitFailure;
    try {
        ctx.Create(&player);
        ctx.SetSearchDirectory(options.search);
        if (va::HasExtension(options.file, "xtl"))
            PrintTimelineNotes(options.file);
        ctx.Open(options.file);
        player.CheckClip(&ctx);
        if (options.from >= 0 || options.to >= 0) {
            REFERENCE_TIME from = options.from >= 0 ? MsToRefTime(options.from) : 0;
            REFERENCE_TIME to = options.to >= 0 ? MsToRefTime(options.to) : ctx.GetDuration();
            if (!ctx.SetSelection(from, to))
                ThrowHResult(E_INVALIDARG);
        }
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
            ReportExceptions([&] {
                PrintProgress(ctx);
                REFERENCE_TIME position = ctx.GetPosition();
                if (position != lastPosition) {
                    lastPosition = position;
                    sinceProgress.restart();
                } else if (sinceProgress.elapsed() > kStallMs) {
                    std::fprintf(stderr, "velotrax: playback stopped making progress\n");
                    QCoreApplication::exit(kExitFailure);
                }
            });
        });
        progress.start(500);
        QTimer clipWatch;
        QObject::connect(&clipWatch, &QTimer::timeout, [&] { player.CheckClip(&ctx); });
        clipWatch.start(50);
        status = app.exec();
        if (!player.IsFinished())
            status = kExitFailure;
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

CCommandRegistrar reg({"play", "play a media file or playlist without a window", &RunPlay});

}  // namespace
