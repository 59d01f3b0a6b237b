// velotrax [MEDIA] and velotrax player [--script FILE|-] [MEDIA]: the player
// window. Without a display the player runs on Qt's offscreen platform and,
// without a script, plays the media to its end and exits.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "apps/velotrax/Command.h"
#include "apps/velotrax/PlayerScript.h"
#include "apps/velotrax/PlayerWindow.h"
#include "playlist/WaitCursor.h"
#include "support/Exception.h"
#include "support/MessageBox.h"
#include "ui/PlayerIds.h"
#include "ui/VideoPanel.h"
#include "ui/VideoPlayerCtrl.h"

namespace {

// A graph that stops moving without an end is given up after this long.
constexpr qint64 kStallMs = 30000;

int PlayHeadless(CPlayerWindow& window) {
    CVideoPanel* video = window.GetPlayer()->GetVideoPanel(0);
    bool ended = false;
    video->SetPlayEndObserver([&] {
        ended = true;
        QCoreApplication::exit(kExitOk);
    });
    window.GetPlayer()->OnCmdMsg(ID_PLAY, 0, nullptr);
    REFERENCE_TIME last = -1;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        ReportExceptions([&] {
            REFERENCE_TIME position = video->GetPosition();
            if (position != last) {
                last = position;
                sinceProgress.restart();
            } else if (sinceProgress.elapsed() > kStallMs) {
                std::fprintf(stderr, "velotrax: playback stopped making progress\n");
                QCoreApplication::exit(kExitFailure);
            }
        });
    });
    watch.start(500);
    int status = QApplication::exec();
    video->SetPlayEndObserver(nullptr);
    if (ended)
        std::printf("played %s to its end\n", video->GetPlayCtx().GetMediaName().c_str());
    return ended ? status : kExitFailure;
}

}  // namespace

int RunPlayer(const char* program, const std::string& media, const std::string* script) {
    if (IsHeadless() && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qargc = 1;
    char* qargv[] = {const_cast<char*>(program), nullptr};
    QApplication app(qargc, qargv);
    InstallQtTranslations(app);
    QApplication::setApplicationName("velotrax");
    QApplication::setApplicationDisplayName("Velotrax");
    QGuiApplication::setDesktopFileName("velotrax");
    const bool offscreen = QGuiApplication::platformName() == "offscreen";

    std::function<bool(std::string&)> source;
    if (script) {
        std::string error;
        source = OpenScriptSource(*script, error);
        if (!source) {
            std::fprintf(stderr, "velotrax: %s\n", error.c_str());
            return kExitUsage;
        }
        // A script is never stopped by a message box: messages go to stderr.
        SetMessageBoxHandler([](const std::string& text, unsigned, unsigned) {
            std::fprintf(stderr, "velotrax: %s\n", text.c_str());
            std::fflush(stderr);
            return IDOK;
        });
    }
    SetWaitCursorHook([](bool waiting) {
        if (waiting)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else if (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    });

    int status = kExitOk;
    {
        CPlayerWindow window;
        window.ShowPlaced();
        std::string name = media;
        if (name.empty() && !script) {
            name = FindDemoClip();
            if (name.empty())
                std::fprintf(stderr, "velotrax: the demo clip is not installed\n");
        }
        bool opened = !name.empty() && window.GetPlayer()->OpenFile(0, name);
        if (script) {
            CPlayerScript runner(window, stdout);
            status = runner.Run(source);
        } else if (offscreen) {
            status = opened ? PlayHeadless(window) : kExitFailure;
        } else {
            if (opened)
                window.GetPlayer()->OnCmdMsg(ID_PLAY, 0, nullptr);
            status = QApplication::exec();
        }
        window.SavePlacement();
    }
    SetWaitCursorHook(nullptr);
    if (script)
        SetMessageBoxHandler(nullptr);
    return status;
}

namespace {

int RunPlayerCommand(int argc, char** argv) {
    CCommandLine cl(
        "player", {"[--script FILE|-] [MEDIA]"},
        "Opens the player window on MEDIA (a media file, URL or ASX/WVX playlist).\n"
        "With a script, runs the window (offscreen without a display) and executes\n"
        "the script, one command a line, printing one result line each:\n"
        "  open PATH | command ID | state ID | key SEQ | text NAME | pos | rate\n"
        "  wait-state stopped|paused|running [MS] | wait-end [MS] | sleep MS\n"
        "  screenshot FILE | image FILE | drop PATH | mouse left|right|middle [DX DY] | cursor DX "
        "DY\n"
        "  wheel DELTA | lock 0|1 | option SECTION NAME [VALUE] | answer PATH|cancel\n"
        "  focus file|time|video|rate | edit TEXT | time LINE (result and ms)\n"
        "  time-shown LINE (... until a new frame is shown) | quit\n"
        "File and folder dialogs are not shown: each takes the next 'answer' (none: Cancel).\n"
        "ID is a number (1500 Play, ...) or a name (play, pause, step-forward, ...);\n"
        "NAME is time, rate, file, status, clip, recent, speed, title, selection or\n"
        "fullscreen;\n"
        "DX DY are offsets from the centre of the video.\n"
        "Unknown lines print 'error: ...'; the exit status is 1 when any line failed.");
    cl.AddOption({"script"}, "execute FILE (- reads standard input)", "FILE");
    if (auto status = cl.Parse(argc, argv))
        return *status;
    if (cl.Positional().size() > 1)
        return cl.UsageError("give at most one MEDIA");
    std::string media = cl.Positional().empty() ? std::string() : cl.Positional()[0];
    std::string script = cl.Value("script");
    return RunPlayer(argv[0], media, cl.IsSet("script") ? &script : nullptr);
}

CCommandRegistrar reg({"player", "the player window, driven by a script or by hand",
                       &RunPlayerCommand});

}  // namespace
