// M3U, PLS and XSPF lists read into the same clips as ASX, in the shapes
// people have them: BOMs, CRLF, Latin-1, '\' paths, URLs, missing fields.
#include <gtest/gtest.h>

#include "FakeHandler.h"
#include "playlist/ListFormats.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"
#include "tests/platform/xml/LoopbackHttpServer.h"

namespace {

constexpr REFERENCE_TIME S = UNITS;

struct CClipSeen {
    std::string file, title;
    REFERENCE_TIME end;
    bool operator==(const CClipSeen&) const = default;
};
std::ostream& operator<<(std::ostream& o, const CClipSeen& c) {
    return o << c.file << " | " << c.title << " | " << c.end;
}

TEST(ListFormats, EachFormatGivesTheSameClips) {
    vtest::TempDir dir;
    const std::string d = dir.Path();
    const std::string parent = d.substr(0, d.rfind('/'));
    const struct {
        const char* name;
        std::string text;
        std::vector<CClipSeen> clips;
    } cases[] = {
        {"a.m3u",
         "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:12,First\r\nsub\\a.mp3\r\n# note\r\n\r\n"
         "http://h/b.mp3?x=1&y=2\r\n/abs/c.mp3",
         {{d + "/sub/a.mp3", "First", 12 * S},
          {"http://h/b.mp3?x=1&y=2", "", -1},
          {"/abs/c.mp3", "", -1}}},
        {"latin.m3u",
         "#EXTINF:-1,Gr\xFC\xDF"
         "e \x80\nx.mp3\n",
         {{d + "/x.mp3", "Grüße €", -1}}},
        {"utf8.m3u8", "#EXTINF:1.5,Grüße\n../x.mp3\n", {{parent + "/x.mp3", "Grüße", 15 * S / 10}}},
        {"list.pls",
         "[playlist]\r\nFile2=b.ogg\r\nTitle1=One\r\nfile1=a.ogg\r\nLength1=30\r\nLength2=-1\r\n"
         "NumberOfEntries=2\r\nVersion=2\r\n",
         {{d + "/a.ogg", "One", 30 * S}, {d + "/b.ogg", "", -1}}},
        {"list.xspf",
         "<?xml version=\"1.0\"?><playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">"
         "<trackList><track><location>file:///m/a%20b.ogg</location><title>T</title>"
         "<duration>1500</duration></track><track><location>c%20d.ogg</location></track>"
         "<track xml:base=\"/other/\"><location>e.ogg</location></track>"
         "<track><title>no location</title></track></trackList></playlist>",
         {{"/m/a b.ogg", "T", 15 * S / 10}, {d + "/c d.ogg", "", -1}, {"/other/e.ogg", "", -1}}},
    };
    for (const auto& c : cases) {
        std::string path = dir.File(c.name);
        vtest::WriteFile(path, c.text);
        CFakeHandler handler;
        CPlayList list;
        list.SetHandler(&handler);
        list.LoadFile(path, "");
        std::vector<CClipSeen> seen;
        for (int i = 0; i < list.GetCount(); ++i) {
            REFERENCE_TIME start, end;
            list.GetClipFileRange(i, start, end);
            seen.push_back({list.GetClipFile(i), list.GetClipTitle(i), end});
        }
        EXPECT_EQ(seen, c.clips) << c.name;
        EXPECT_EQ(list.GetCurrentClip(), 0) << c.name;
    }
}

TEST(ListFormats, WhatIsNotAListIsRefused) {
    vtest::TempDir dir;
    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"live.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nseg1.ts\n"},
        {"empty.m3u", "#EXTM3U\n# nothing\n"},
        {"nosection.pls", "File1=a.ogg\n"},
        {"broken.xspf", "<playlist><trackList><track>"},
    };
    for (const auto& c : cases) {
        vtest::WriteFile(dir.File(c.name), c.text);
        CFakeHandler handler;
        CPlayList list;
        list.SetHandler(&handler);
        try {
            list.LoadFile(dir.File(c.name), "");
            ADD_FAILURE() << c.name;
        } catch (const CComException& e) {
            EXPECT_EQ(e.Error(), HRESULT_BAD_FORMAT) << c.name;
        }
    }
}

// A URL without a playlist extension is a list when the server says so;
// everything else (media, HLS streams) goes to the graph.
TEST(ListFormats, UrlsAreListsByTheirContentType) {
    vtest::CLoopbackHttpServer server;
    ASSERT_TRUE(server.Started());
    const std::string asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8);
    const struct {
        const char* path;
        const char* type;
        std::string body;
        std::vector<std::string> files;  // empty: opened as media
    } cases[] = {
        {"/radio",
         "audio/x-mpegurl; charset=utf-8",
         "#EXTM3U\n#EXTINF:5,One\nsub/one.mp3\n",
         {"/sub/one.mp3"}},
        {"/stations.php?id=3", "Audio/X-SCPLS", "[playlist]\nFile1=http://h/a\n", {"http://h/a"}},
        {"/list",
         "application/xspf+xml",
         "<playlist xmlns=\"http://xspf.org/ns/0/\"><trackList><track><location>t.ogg"
         "</location></track></trackList></playlist>",
         {"/t.ogg"}},
        {"/show", "video/x-ms-asf", "<ASX><Entry><Ref href=\"a.wmv\"/></Entry></ASX>", {"/a.wmv"}},
        {"/movie", "video/x-ms-asf", asf, {}},
        {"/song", "audio/mpeg", "ID3", {}},
        {"/live",
         "application/vnd.apple.mpegurl",
         "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\ns1.ts\n",
         {}},
    };
    for (const auto& c : cases)
        server.Serve(c.path, c.body, c.type);
    for (const auto& c : cases) {
        const std::string url = server.BaseUrl() + c.path;
        CListFormats::COpenProbe probe = CListFormats::Probe(url);
        EXPECT_EQ(probe.isPlayList, !c.files.empty()) << c.path;
        if (!probe.isPlayList)
            continue;
        CFakeHandler handler;
        CPlayList list;
        list.SetHandler(&handler);
        CListFormats::Load(list, probe, url, "");
        std::vector<std::string> files;
        for (int i = 0; i < list.GetCount(); ++i)
            files.push_back(list.GetClipFile(i));
        for (std::string& file : files)
            if (file.rfind(server.BaseUrl(), 0) == 0)
                file.erase(0, server.BaseUrl().size());
        EXPECT_EQ(files, c.files) << c.path;
        // The list model alone dispatches the same way.
        list.LoadFile(url, "");
        EXPECT_EQ(list.GetCount(), static_cast<int>(c.files.size())) << c.path;
    }
    // Not there at all: media (the graph reports the failure).
    EXPECT_FALSE(CListFormats::Probe(server.BaseUrl() + "/missing").isPlayList);
}

}  // namespace
