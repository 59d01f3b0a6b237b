// velotrax playlist: reads an ASX/WVX playlist or an XTL editing timeline and lists its clips.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "apps/velotrax/Command.h"
#include "apps/velotrax/TimelineNotes.h"
#include "platform/xml/XmlDom.h"
#include "playback/PlayCtx.h"
#include "playlist/PlayList.h"
#include "support/Exception.h"
#include "support/Strings.h"
#include "timeline/VaDES.h"

namespace {

// Plays nothing: every clip "opens", and no file tells its length, so the
// listing shows the playlist as written.
class CListingHandler : public IPlayListHandler {
public:
    void OpenClip(const std::string&) override {}
    void OnPlayListChanged() override {}
    REFERENCE_TIME GetPosition() override { return 0; }
    REFERENCE_TIME GetDuration() override { return -1; }
    bool Seek(REFERENCE_TIME, bool) override { return true; }
};

// Opens each clip's file through a play context, so that the playlist
// learns the file lengths. A file that cannot be opened is reported and
// keeps its length unknown.
class CProbingHandler : public IPlayListHandler {
public:
    void OpenClip(const std::string& path) override {
        try {
            m_ctx.Open(path);
        } catch (const CException& e) {
            std::fprintf(stderr, "%s\n", BuildErrorText(e, 0).c_str());
        }
    }
    void OnPlayListChanged() override {}
    REFERENCE_TIME GetPosition() override { return 0; }
    REFERENCE_TIME GetDuration() override { return m_ctx.GetDuration(); }
    bool Seek(REFERENCE_TIME, bool) override { return true; }
    ~CProbingHandler() { m_ctx.Close(); }

private:
    CPlayCtx m_ctx;
};

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return text;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

// Standard input, read no further than a document may be long (the loader
// refuses what is longer).
std::string ReadStandardInput() {
    std::string text;
    char buffer[65536];
    while (text.size() <= kMaxXmlDocumentSize) {
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// One line of the listing.
struct CClipLine {
    REFERENCE_TIME listStart = -1, listEnd = -1, fileStart = -1, fileEnd = -1;
    std::string path, title, abstract;
};

std::vector<CClipLine> PlayListLines(const CPlayList& list) {
    std::vector<CClipLine> lines;
    for (int i = 0; i < list.GetCount(); ++i) {
        CClipLine line;
        if (!list.GetClipListRange(i, line.listStart, line.listEnd))
            line.listStart = line.listEnd = -1;
        list.GetClipFileRange(i, line.fileStart, line.fileEnd);
        line.path = list.GetClipFile(i);
        line.title = list.GetClipTitle(i);
        line.abstract = list.GetClipAbstract(i);
        lines.push_back(line);
    }
    return lines;
}

// The clips of a track or composition, depth first.
void CollectClips(const CVaAMTimelineObj& obj, std::vector<CClipLine>& lines) {
    CVaAMTimelineTrack track(obj);
    if (track.IsValid()) {
        for (CVaAMTimelineSrc src = track.GetNextSource(nullptr); src.IsValid();
             src = track.GetNextSource(&src)) {
            CClipLine line;
            src.GetStartStop(line.listStart, line.listEnd);
            src.GetMediaTimes(line.fileStart, line.fileEnd);
            line.path = src.GetMediaName();
            line.title = src.GetUserName();
            lines.push_back(line);
        }
        return;
    }
    CVaAMTimelineComp comp(obj);
    if (comp.IsValid())
        for (int i = 0; i < comp.GetTrackCount(); ++i)
            CollectClips(comp.GetTrack(i), lines);
}

// A timeline's clips as the clip list shows them: those of the first video
// group (or the first group), ordered by their start on the timeline.
std::vector<CClipLine> TimelineLines(const std::string& path) {
    CVaAMTimeline timeline;
    timeline.Create();
    CComPtr<IAMErrorLog> log(static_cast<IAMErrorLog*>(new CNoteErrorLog()));
    timeline.SetErrorLog(log);
    timeline.LoadXtl(path);
    std::vector<CClipLine> lines;
    int groups = timeline.GetGroupCount();
    int chosen = -1;
    for (int i = 0; i < groups && chosen < 0; ++i)
        if (timeline.GetGroup(i).IsVideo())
            chosen = i;
    if (chosen < 0 && groups > 0)
        chosen = 0;
    if (chosen >= 0)
        CollectClips(timeline.GetGroup(chosen), lines);
    std::stable_sort(lines.begin(), lines.end(), [](const CClipLine& a, const CClipLine& b) {
        return a.listStart < b.listStart;
    });
    return lines;
}

void PrintClips(const std::vector<CClipLine>& lines, bool json) {
    const int count = int(lines.size());
    if (json)
        std::printf("[");
    for (int i = 0; i < count; ++i) {
        const CClipLine& line = lines[size_t(i)];
        REFERENCE_TIME listStart = line.listStart, listEnd = line.listEnd,
                       fileStart = line.fileStart, fileEnd = line.fileEnd;
        if (json) {
            std::printf(
                "%s\n  {\"index\": %d, \"listStart\": %lld, \"listEnd\": %lld, "
                "\"fileStart\": %lld, \"fileEnd\": %lld, \"path\": %s, \"title\": %s, "
                "\"abstract\": %s}",
                i ? "," : "", i, static_cast<long long>(listStart), static_cast<long long>(listEnd),
                static_cast<long long>(fileStart), static_cast<long long>(fileEnd),
                JsonString(line.path).c_str(), JsonString(line.title).c_str(),
                JsonString(line.abstract).c_str());
        } else {
            std::printf("%d\t%lld\t%lld\t%lld\t%lld\t%s\t%s\t%s\n", i,
                        static_cast<long long>(listStart), static_cast<long long>(listEnd),
                        static_cast<long long>(fileStart), static_cast<long long>(fileEnd),
                        OneLine(line.path).c_str(), OneLine(line.title).c_str(),
                        OneLine(line.abstract).c_str());
        }
    }
    if (json)
        std::printf("%s]\n", count ? "\n" : "");
}

std::string ConsoleText(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '\r')
            out += c;
    return out;
}

int RunPlaylist(int argc, char** argv) {
    CCommandLine cl(
        "playlist", {"[OPTIONS] FILE|-"},
        "Lists the clips of an ASX/WVX, M3U/M3U8, PLS or XSPF playlist (a file, a URL,\n"
        "or - for ASX on standard input): index, list start, list end, file start, file end "
        "(100-ns units,\n"
        "-1 when unset), path, title and abstract, separated by tabs. For an XTL\n"
        "editing timeline: each clip's start and end on the timeline, its in-point\n"
        "and out-point in the source, the source and the clip's name.");
    cl.AddOption({"base"}, "resolve relative references against DIR", "DIR");
    cl.AddOption({"json"}, "print a JSON array instead");
    cl.AddOption({"probe"}, "open each clip's file to learn its length");
    if (auto status = cl.Parse(argc, argv))
        return *status;
    if (cl.Positional().size() != 1)
        return cl.UsageError("give one FILE, or - for standard input");
    const std::string source = cl.Positional()[0];
    const std::string base = cl.Value("base");
    const bool json = cl.IsSet("json");
    const bool probe = cl.IsSet("probe");
    if (source != "-" && va::HasExtension(source, "xtl")) {
        try {
            PrintClips(TimelineLines(source), json);
        } catch (const CException& e) {
            std::fprintf(stderr, "%s\n", ConsoleText(BuildErrorText(e, 0)).c_str());
            return kExitFailure;
        }
        return kExitOk;
    }

    int qargc = 1;
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<CProbingHandler> probing;
    if (probe) {
        app = std::make_unique<QCoreApplication>(qargc, argv);
        probing = std::make_unique<CProbingHandler>();
    }
    CListingHandler handler;
    CPlayList list;
    list.SetHandler(probing ? static_cast<IPlayListHandler*>(probing.get()) : &handler);
    try {
        if (source == "-")
            list.LoadXml(ReadStandardInput(), base);
        else
            list.LoadFile(source, base);
        // Visiting every clip opens every file once.
        while (probing && list.NextClip() != 3) {
        }
    } catch (const CException& e) {
        std::string text = BuildErrorText(e, 0);
        std::fprintf(stderr, "%s\n", ConsoleText(text).c_str());
        return kExitFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kExitFailure;
    }
    PrintClips(PlayListLines(list), json);
    return kExitOk;
}

CCommandRegistrar reg({"playlist", "list a playlist's clips", &RunPlaylist});

}  // namespace
