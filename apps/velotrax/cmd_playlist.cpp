// velotrax playlist: reads an ASX/WVX playlist and lists its clips.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <QCoreApplication>

#include "apps/velotrax/Command.h"
#include "platform/xml/XmlDom.h"
#include "playback/PlayCtx.h"
#include "playlist/PlayList.h"
#include "support/Exception.h"

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

void PrintClips(const CPlayList& list, bool json) {
    const int count = list.GetCount();
    if (json)
        std::printf("[");
    for (int i = 0; i < count; ++i) {
        REFERENCE_TIME listStart = -1, listEnd = -1, fileStart = -1, fileEnd = -1;
        if (!list.GetClipListRange(i, listStart, listEnd))
            listStart = listEnd = -1;
        list.GetClipFileRange(i, fileStart, fileEnd);
        if (json) {
            std::printf(
                "%s\n  {\"index\": %d, \"listStart\": %lld, \"listEnd\": %lld, "
                "\"fileStart\": %lld, \"fileEnd\": %lld, \"path\": %s, \"title\": %s, "
                "\"abstract\": %s}",
                i ? "," : "", i, static_cast<long long>(listStart), static_cast<long long>(listEnd),
                static_cast<long long>(fileStart), static_cast<long long>(fileEnd),
                JsonString(list.GetClipFile(i)).c_str(), JsonString(list.GetClipTitle(i)).c_str(),
                JsonString(list.GetClipAbstract(i)).c_str());
        } else {
            std::printf("%d\t%lld\t%lld\t%lld\t%lld\t%s\t%s\t%s\n", i,
                        static_cast<long long>(listStart), static_cast<long long>(listEnd),
                        static_cast<long long>(fileStart), static_cast<long long>(fileEnd),
                        OneLine(list.GetClipFile(i)).c_str(), OneLine(list.GetClipTitle(i)).c_str(),
                        OneLine(list.GetClipAbstract(i)).c_str());
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
    CCommandLine cl("playlist", {"[OPTIONS] FILE|-"},
                    "Lists the clips of an ASX/WVX playlist (a file, a URL, or - for standard\n"
                    "input): index, list start, list end, file start, file end (100-ns units,\n"
                    "-1 when unset), path, title and abstract, separated by tabs.");
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
    PrintClips(list, json);
    return kExitOk;
}

CCommandRegistrar reg({"playlist", "list a playlist's clips", &RunPlaylist});

}  // namespace
