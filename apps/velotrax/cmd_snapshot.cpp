// velotrax snapshot: opens a media file, shows the frame at a position and
// saves it as a picture with an automatic name, through the same writer,
// still-picture preparation and options as a user's Save Snapshot.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <optional>
#include <string>

#include "apps/velotrax/Command.h"
#include "options/AppOptStgRegDb.h"
#include "options/AppOptions.h"
#include "options/OptionCatalogue.h"
#include "playback/PlayCtx.h"
#include "snapshot/VaSnapshot.h"
#include "support/Exception.h"

namespace {

// The graph gets this long to show a frame after opening or seeking.
constexpr LONG kFrameTimeoutMs = 20000;

class CQuietNotify : public IPlayNotify {
public:
    void OnPlayEnd(CPlayCtx*) override {}
    void OnPlayListChanged(CPlayCtx*) override {}
    void OnPlayNotify(CPlayCtx*, int32_t, int32_t) override {}
};

// The user's settings, read as they are; what the command line sets stays
// in this run and is never saved.
class CReadOnlyStorage : public CAppOptStgRegDb {
public:
    void WriteInt(const std::string&, const std::string&, int32_t) override {}
    void WriteString(const std::string&, const std::string&, const std::string&) override {}
    void WriteStream(const std::string&, const std::string&, IStream*) override {}
    void DeleteValue(const std::string&, const std::string&) override {}
    void DeleteKey(const std::string&) override {}
    void Commit() override {}
};

// The writer of the video panel, without a dialog to fall back on.
class CCommandSnapshot : public CVaSnapshotExt {
public:
    CCommandSnapshot(CAppOptions* options, bool raw) : CVaSnapshotExt(options), m_raw(raw) {}

protected:
    QImage GetCurrentImageBitmap(CPlayCtx* ctx) override {
        if (!m_raw)
            return CVaSnapshotExt::GetCurrentImageBitmap(ctx);
        // The frame as the graph delivers it.
        std::vector<BYTE> dib;
        if (!ctx->GetGraph()->GetCurrentImage(dib))
            return QImage();
        return DibToImage(dib.data(), dib.size());
    }
    bool ShowFileDialog(const std::string&, int, const std::string&, CChoice&) override {
        throw CMessageException(
            "No file name can be made from the media's name; rename the media or give --dir.", 0);
    }

private:
    bool m_raw;
};

struct COptions {
    long long at = 0;
    std::string format;
    int quality = -1;
    std::string dir;
    int deinterlace = -1;
    bool raw = false;
    std::string media;
};

// Reads the command line into 'o'; returns the exit status when the command
// is done (help shown or bad use reported).
std::optional<int> ParseOptions(int argc, char** argv, COptions& o) {
    CCommandLine cl(
        "snapshot", {"[OPTIONS] MEDIA"},
        "Opens MEDIA, shows the frame at --at (rounded to a frame) and saves it as a\n"
        "picture named after MEDIA and numbered on (Clip.jpg, Clip (002).jpg, ...), as\n"
        "Save Snapshot does with automatic naming. Prints the path written.");
    cl.AddOption({"at"}, "position in milliseconds, default 0", "MS");
    cl.AddOption({"format"}, "picture type bmp or jpg, default the type last chosen", "TYPE");
    cl.AddOption({"quality"}, "JPEG quality 0 to 100, default the ImgQuality setting (30)", "Q");
    cl.AddOption({"dir"}, "folder for the picture, default the media's folder", "DIR");
    cl.AddOption({"deinterlace"}, "deinterlace with method M (0 to 4) while showing the frame",
                 "M");
    cl.AddOption({"raw"}, "save the frame as delivered, without still-picture preparation");
    if (auto status = cl.Parse(argc, argv))
        return status;
    auto number = [&](const char* name, long long low, long long high) -> std::optional<long long> {
        const std::string text = cl.Value(name);
        bool ok = false;
        long long value = QString::fromStdString(text).toLongLong(&ok);
        if (!ok || value < low || value > high)
            return std::nullopt;
        return value;
    };
    auto range = [](const char* name, long long low, long long high, const std::string& text) {
        return std::string("--") + name + " takes a number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not '" + text + "'";
    };
    if (cl.IsSet("at")) {
        auto v = number("at", 0, INT32_MAX);
        if (!v)
            return cl.UsageError(range("at", 0, INT32_MAX, cl.Value("at")));
        o.at = *v;
    }
    if (cl.IsSet("quality")) {
        auto v = number("quality", 0, 100);
        if (!v)
            return cl.UsageError(range("quality", 0, 100, cl.Value("quality")));
        o.quality = int(*v);
    }
    if (cl.IsSet("deinterlace")) {
        auto v = number("deinterlace", 0, 4);
        if (!v)
            return cl.UsageError(range("deinterlace", 0, 4, cl.Value("deinterlace")));
        o.deinterlace = int(*v);
    }
    if (cl.IsSet("format")) {
        o.format = QString::fromStdString(cl.Value("format")).toLower().toStdString();
        if (CVaSnapshot::FileTypeFromExtension(o.format) == CVaSnapshot::typeNone ||
            o.format.find('.') != std::string::npos)
            return cl.UsageError("--format takes bmp or jpg, not '" + cl.Value("format") + "'");
    }
    o.dir = cl.Value("dir");
    o.raw = cl.IsSet("raw");
    if (cl.Positional().size() != 1 || cl.Positional()[0].empty())
        return cl.UsageError("give one MEDIA");
    o.media = cl.Positional()[0];
    return std::nullopt;
}

// A setting of the player window as the user left it, else its default.
CAppOpt Setting(CAppOptions& options, int id) {
    const COptionInfo* info = FindOptionInfoById(id);
    return info ? options.GetOption(info->section, info->name, info->Default()) : CAppOpt();
}

// Waits until the graph shows its frame (the pause or the seek has completed).
void WaitForFrame(CPlayCtx& ctx) {
    IMediaControl* control = ctx.GetGraph()->GetMediaControl();
    OAFilterState state = State_Stopped;
    if (!control || CheckHResult(control->GetState(kFrameTimeoutMs, &state)) != S_OK)
        ThrowHResult(VFW_E_TIMEOUT);
}

// Where the picture's name comes from: MEDIA, or its file name in DIR.
std::string SourceName(const COptions& o) {
    std::string source = CVaSnapshot::SourceNameForMedia(o.media);
    const bool url = source != o.media;
    std::string dir = o.dir;
    if (dir.empty() && url)
        dir = QDir::currentPath().toStdString();
    if (dir.empty())
        return QFileInfo(QString::fromStdString(source)).absoluteFilePath().toStdString();
    QString absolute = QDir(QString::fromStdString(dir)).absolutePath();
    return (absolute + "/" + QFileInfo(QString::fromStdString(source)).fileName()).toStdString();
}

int RunSnapshot(int argc, char** argv) {
    COptions o;
    if (auto status = ParseOptions(argc, argv, o))
        return *status;
    int qargc = 1;
    QCoreApplication app(qargc, argv);
    if (!o.dir.empty() && !QFileInfo(QString::fromStdString(o.dir)).isDir()) {
        std::fprintf(stderr, "velotrax snapshot: the folder \"%s\" does not exist\n",
                     o.dir.c_str());
        return kExitFailure;
    }

    CAppOptions options(std::make_unique<CReadOnlyStorage>());
    CQuietNotify notify;
    CPlayCtx ctx;
    int status = kExitFailure;
    try {
        ctx.Create(&notify);
        // The picture aspect is applied as in the player window: the
        // still picture is stretched to it when aspect correction is on.
        ctx.SetPreserveAspectRatio(Setting(options, optIdVMRAspectRatio).GetBool());
        if (o.deinterlace >= 0) {
            ctx.SetDeinterlaceSettings(o.deinterlace,
                                       Setting(options, optIdDeIntInterpolate).GetInt(),
                                       Setting(options, optIdDeIntSharpen).GetInt());
            ctx.SetDeinterlace(true);
        }
        ctx.Open(o.media);
        WaitForFrame(ctx);
        if (!ctx.HasVideo())
            ThrowMessage(1001);
        // The frame that starts nearest the position, at most the last one.
        REFERENCE_TIME t = MsToRefTime(o.at);
        const REFERENCE_TIME d = ctx.GetFrameDuration();
        if (t > 0 && d > 0)
            t = (t + d / 2) - ((t + d / 2) % d);
        const REFERENCE_TIME duration = ctx.GetDuration();
        if (duration > 0 && d > 0 && t > duration - d)
            t = std::max<REFERENCE_TIME>(0, duration - d);
        if (t > 0) {
            ctx.Seek(t, false);
            WaitForFrame(ctx);
        }

        // The options the video panel hands its snapshot object.
        CCommandSnapshot snap(&options, o.raw);
        snap.SetOptionName(CVaSnapshot::optAutoFile, "", "AutoFile");
        snap.SetOptionName(CVaSnapshot::optFileExt, "", "FileExt");
        snap.SetOptionName(CVaSnapshot::optFileExtImg, "", "FileExtImg");
        snap.SetOptionName(CVaSnapshot::optImgQuality, "", "ImgQuality");
        options.SetOption("", "AutoFile", true);
        if (!o.format.empty())
            options.SetOption("", "FileExt", o.format);
        if (o.quality >= 0)
            options.SetOption("", "ImgQuality", int32_t(o.quality));
        if (snap.SaveSnapshot(&ctx, SourceName(o)) != CVaSnapshot::typeNone) {
            std::printf("%s\n", snap.GetLastImagePath().c_str());
            status = kExitOk;
        }
    } catch (const CException& e) {
        std::fprintf(stderr, "velotrax snapshot: %s\n", BuildErrorText(e, 0).c_str());
        status = kExitFailure;
    }
    try {
        ctx.Close();
    } catch (const CException&) {
    }
    ctx.Shutdown();
    return status;
}

CCommandRegistrar reg({"snapshot", "save the frame at a position of a media file as a picture",
                       &RunSnapshot});

}  // namespace
