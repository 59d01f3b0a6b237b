// Reading ASX playlists: names in any case, entries, times and references.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <thread>

#include "FakeHandler.h"
#include "platform/com/ErrorText.h"
#include "platform/xml/XmlDom.h"
#include "playlist/AsxReader.h"
#include "playlist/XMLException.h"
#include "tests/TestSupport.h"

namespace {

constexpr REFERENCE_TIME S = UNITS;
constexpr REFERENCE_TIME kUnset = -1;
constexpr REFERENCE_TIME kZero = 0;

struct Loaded {
    CFakeHandler handler;
    CPlayList list;
    explicit Loaded(const std::string& text, const std::string& base = "/media/lists") {
        list.SetHandler(&handler);
        list.LoadXml(text, base);
    }
};

HRESULT LoadError(CPlayList& list, const std::string& text) {
    try {
        list.LoadXml(text, "/base");
    } catch (const CComException& e) {
        return e.Error();
    }
    return S_OK;
}

TEST(ParseClipTime, FormsAndOddities) {
    EXPECT_EQ(CAsxReader::ParseClipTime(""), 0);
    EXPECT_EQ(CAsxReader::ParseClipTime("00:01:30.5"), 905 * S / 10);
    EXPECT_EQ(CAsxReader::ParseClipTime("1:30"), 90 * S);
    EXPECT_EQ(CAsxReader::ParseClipTime("45"), 45 * S);
    EXPECT_EQ(CAsxReader::ParseClipTime("1:02:03:04"), (2 * 3600 + 3 * 60 + 4) * S);
    EXPECT_EQ(CAsxReader::ParseClipTime("0.0004"), 0);      // rounds to whole ms
    EXPECT_EQ(CAsxReader::ParseClipTime("0.0005"), 10000);  // 1 ms
    EXPECT_EQ(CAsxReader::ParseClipTime("abc"), 0);
    EXPECT_EQ(CAsxReader::ParseClipTime("12abc"), 12 * S);
    EXPECT_EQ(CAsxReader::ParseClipTime("x:y:7"), 7 * S);
    EXPECT_EQ(CAsxReader::ParseClipTime("-5"), -4999 * MILLISECONDS);  // +0.5 then toward zero
}

TEST(ParseClipTime, LongTimesDoNotWrap) {
    // 600 hours: past what 32-bit milliseconds hold.
    EXPECT_EQ(CAsxReader::ParseClipTime("600:00:00"), 600LL * 3600 * S);
    EXPECT_EQ(CAsxReader::ParseClipTime("2147483.648"), 2147483648LL * MILLISECONDS);
    // Absurd values saturate instead of overflowing.
    EXPECT_GT(CAsxReader::ParseClipTime("1e300"), 0);
    EXPECT_GT(CAsxReader::ParseClipTime("99999999999999999999999:00:00"), 0);
    EXPECT_LT(CAsxReader::ParseClipTime("-1e300"), 0);
    EXPECT_EQ(CAsxReader::ParseClipTime("nan"), 0);
}

TEST(ParseClipTime, FractionsReadUnderAnyLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no German locale";
    EXPECT_EQ(CAsxReader::ParseClipTime("1:30.25"), 9025 * S / 100);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ResolveReference, WindowsBase) {
    const std::string base = "C:\\media\\lists";
    EXPECT_EQ(CAsxReader::ResolveReference(base, "clip.wmv"), "C:\\media\\lists\\clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "..\\clip.wmv"), "C:\\media\\clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "\\other\\clip.wmv"), "C:\\other\\clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "D:\\clip.wmv"), "D:\\clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "mms://host/clip.wmv"), "mms://host/clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, ".\\a\\.\\b\\..\\clip.wmv"),
              "C:\\media\\lists\\a\\clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "..\\..\\..\\..\\clip.wmv"), "C:\\clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference("\\\\server\\share\\lists", "\\x\\clip.wmv"),
              "\\\\server\\share\\x\\clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "\\\\server\\share\\clip.wmv"),
              "\\\\server\\share\\clip.wmv");
}

TEST(ResolveReference, PosixBaseAcceptsBothSeparators) {
    const std::string base = "/media/lists";
    EXPECT_EQ(CAsxReader::ResolveReference(base, "clip.wmv"), "/media/lists/clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "../clip.wmv"), "/media/clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "..\\clip.wmv"), "/media/clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "sub\\dir\\clip.wmv"),
              "/media/lists/sub/dir/clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "\\other\\clip.wmv"), "/other/clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "/abs/clip.wmv"), "/abs/clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base, "D:\\clip.wmv"), "D:\\clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference(base + "/", "clip.wmv"), "/media/lists/clip.wmv");
    // Without a base folder '\\' still separates folders; full paths and URLs stay.
    EXPECT_EQ(CAsxReader::ResolveReference("", "..\\clip.wmv"), "../clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference("", "sub\\dir\\clip.wmv"), "sub/dir/clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference("", "\\\\srv\\share\\a.wmv"), "\\\\srv\\share\\a.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference("", "C:\\a.wmv"), "C:\\a.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference("", "http://h/a\\b.wmv"), "http://h/a\\b.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference("http://host/dir", "sub\\clip.wmv"),
              "http://host/dir/sub/clip.wmv");
    EXPECT_EQ(CAsxReader::ResolveReference("lists", "../x/clip.wmv"), "x/clip.wmv");
}

TEST(AsxReader, MixedCaseNamesReadLikeLowerCase) {
    Loaded l(
        "<!-- made by hand --><ASX Version=\"3.0\"><Title>list</Title>"
        "<Entry><TITLE>One</TITLE><Abstract>About one</Abstract>"
        "<REF HREF=\"One.WMV\"><STARTTIME VALUE=\"5\"/><DURATION value=\"10\"/></REF></Entry>"
        "<ENTRY><Ref hRef=\"two.wmv\"/></ENTRY></ASX>");
    ASSERT_EQ(l.list.GetCount(), 2);
    EXPECT_EQ(l.list.GetClipFile(0), "/media/lists/One.WMV");  // values keep their case
    EXPECT_EQ(l.list.GetClipTitle(0), "One");
    EXPECT_EQ(l.list.GetClipAbstract(0), "About one");
    REFERENCE_TIME start, end;
    EXPECT_TRUE(l.list.GetClipFileRange(0, start, end));
    EXPECT_EQ(start, 5 * S);
    EXPECT_EQ(end, 15 * S);
    EXPECT_EQ(l.list.GetClipFile(1), "/media/lists/two.wmv");
    EXPECT_EQ(l.list.GetClipTitle(1), "");
    // Loading opened the first clip and sought to its start.
    EXPECT_EQ(l.handler.opened, std::vector<std::string>{"/media/lists/One.WMV"});
    EXPECT_EQ(l.handler.seeks, (std::vector<CFakeHandler::SeekCall>{{5 * S, true}}));
    EXPECT_EQ(l.list.GetCurrentClip(), 0);
}

TEST(AsxReader, RepeatEntryRefAndRefChoice) {
    Loaded l(
        "<asx><repeat count=\"3\"><entry><ref href=\"a.wmv\"/></entry>"
        "<entry><ref href=\"b.wmv\"/></entry></repeat>"
        "<entryref href=\"other.asx\"/>"
        "<entry><ref/><ref href=\"second.wmv\"/></entry>"
        "<entry><ref href=\"\"/><ref href=\"never.wmv\"/></entry>"
        "<entry><title>no ref</title></entry></asx>",
        "");
    ASSERT_EQ(l.list.GetCount(), 3);
    EXPECT_EQ(l.list.GetClipFile(0), "a.wmv");
    EXPECT_EQ(l.list.GetClipFile(1), "b.wmv");
    EXPECT_EQ(l.list.GetClipFile(2), "second.wmv");  // the first ref with an href
}

TEST(AsxReader, ListStartsFollowTheDurations) {
    Loaded l(
        "<asx><entry><ref href=\"a.wmv\"/><duration value=\"10\"/></entry>"
        "<entry><ref href=\"skipped.wmv\" /><ref href=\"x\"/></entry>"
        "<entry><ref href=\"\"/></entry>"
        "<entry><ref href=\"b.wmv\"/><starttime value=\"5\"/><duration value=\"20\"/></entry>"
        "<entry><ref href=\"c.wmv\"/><duration/></entry>"
        "<entry><ref href=\"d.wmv\"/><duration value=\"-1\"/></entry>"
        "<entry><ref href=\"e.wmv\"/></entry></asx>");
    ASSERT_EQ(l.list.GetCount(), 6);
    REFERENCE_TIME start, end;
    auto listRange = [&](int i) {
        bool known = l.list.GetClipListRange(i, start, end);
        return std::make_tuple(known, start, end);
    };
    auto fileRange = [&](int i) {
        l.list.GetClipFileRange(i, start, end);
        return std::make_pair(start, end);
    };
    EXPECT_EQ(listRange(0), std::make_tuple(true, kZero, 10 * S));
    EXPECT_EQ(listRange(1),
              std::make_tuple(true, 10 * S, kUnset));  // "skipped.wmv" plays to its end
    // Unknown length: every later clip's list start stays unset.
    EXPECT_EQ(listRange(2), std::make_tuple(false, kUnset, kUnset));
    EXPECT_EQ(fileRange(2), std::make_pair(5 * S, 25 * S));
    EXPECT_EQ(fileRange(3), std::make_pair(kZero, kZero));   // a duration without value
    EXPECT_EQ(fileRange(4), std::make_pair(kZero, kUnset));  // a negative duration
    EXPECT_EQ(listRange(5), std::make_tuple(false, kUnset, kUnset));
    EXPECT_EQ(l.list.FindClip(100 * S), 1);
}

// Absurd times stop at the end of the range: no sum wraps to a negative time.
TEST(AsxReader, HugeTimesSaturate) {
    const std::string huge = "<duration value=\"99999999999999999:00:00\"/>";
    Loaded l("<asx><entry><ref href=\"a\"/><starttime value=\"99999999999999999:00:00\"/>" + huge +
             "</entry><entry><ref href=\"b\"/>" + huge + "</entry><entry><ref href=\"c\"/>" + huge +
             "</entry></asx>");
    REFERENCE_TIME start, end;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(l.list.GetClipListRange(i, start, end)) << i;
        EXPECT_GE(start, 0) << i;
        EXPECT_GE(end, start) << i;
        l.list.GetClipFileRange(i, start, end);
        EXPECT_GE(end, start) << i;
    }
    EXPECT_GT(l.list.GetDuration(), 0);
    l.handler.position = INT64_MAX - 1;
    EXPECT_GE(l.list.GetPosition(), 0);
    l.list.SetPosition(INT64_MAX - 1);
    for (const auto& seek : l.handler.seeks)
        EXPECT_GE(seek.position, 0);
}

TEST(AsxReader, StartAndDurationInsideRefWin) {
    Loaded l(
        "<asx><entry><starttime value=\"1\"/><duration value=\"2\"/>"
        "<ref href=\"a.wmv\"><starttime value=\"3\"/><duration value=\"4\"/></ref></entry></asx>");
    REFERENCE_TIME start, end;
    l.list.GetClipFileRange(0, start, end);
    EXPECT_EQ(start, 3 * S);
    EXPECT_EQ(end, 7 * S);
}

TEST(AsxReader, FailuresKeepOrClearTheList) {
    Loaded l("<asx><entry><ref href=\"a.wmv\"/></entry></asx>");
    ASSERT_EQ(l.list.GetCount(), 1);
    // Not XML at all: the old clips remain.
    EXPECT_EQ(LoadError(l.list, "<asx><entry>"), HRESULT_BAD_FORMAT);
    EXPECT_EQ(l.list.GetCount(), 1);
    EXPECT_EQ(l.list.GetBaseFolder(), "/media/lists");
    // A document without usable entries: cleared.
    EXPECT_EQ(LoadError(l.list, "<asx><entry><ref/></entry></asx>"), HRESULT_BAD_FORMAT);
    EXPECT_EQ(l.list.GetCount(), 0);
    EXPECT_EQ(l.list.GetCurrentClip(), -1);
    l.list.LoadXml("<asx><entry><ref href=\"a.wmv\"/></entry></asx>", "");
    EXPECT_EQ(LoadError(l.list, "<playlist><entry><ref href=\"a.wmv\"/></entry></playlist>"),
              HRESULT_BAD_FORMAT);
    EXPECT_EQ(l.list.GetCount(), 0);
}

TEST(AsxReader, ParseErrorsExplainThemselves) {
    CFakeHandler handler;
    CPlayList list;
    list.SetHandler(&handler);
    try {
        list.LoadXml("<asx><entry></asx>", "");
        FAIL();
    } catch (const CComException& e) {
        std::string text = BuildErrorText(e, 0);
        // Our own words for the playlist code (in both languages), then the reason.
        EXPECT_EQ(text.rfind("The playlist could not be read.\r\n", 0), 0u) << text;
        EXPECT_NE(text.find("line 1"), std::string::npos) << text;
    }
    EXPECT_EQ(FormatSystemMessage(HRESULT_BAD_FORMAT, 0x0407),
              "Die Playlist konnte nicht gelesen werden.\r\n");
}

TEST(AsxReader, FailingFirstOpenKeepsTheClips) {
    CFakeHandler handler;
    handler.failOn = "a.wmv";
    CPlayList list;
    list.SetHandler(&handler);
    EXPECT_THROW(list.LoadXml("<asx><entry><ref href=\"a.wmv\"/></entry></asx>", ""),
                 std::runtime_error);
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetCurrentClip(), -1);
}

TEST(AsxReader, LoadFileTakesThePlaylistsFolder) {
    vtest::TempDir dir;
    vtest::WriteFile(dir.File("list.wvx"),
                     "<asx><entry><ref href=\"..\\clip.wmv\"/></entry></asx>");
    CFakeHandler handler;
    CPlayList list;
    list.SetHandler(&handler);
    list.LoadFile(dir.File("list.wvx"), "");
    EXPECT_EQ(list.GetBaseFolder(), dir.Path());
    std::string parent = CAsxReader::FolderOf(dir.Path());
    EXPECT_EQ(list.GetClipFile(0), parent + "/clip.wmv");
    list.LoadFile(dir.File("list.wvx"), "/elsewhere/x");
    EXPECT_EQ(list.GetClipFile(0), "/elsewhere/clip.wmv");
    try {
        list.LoadFile(dir.File("missing.asx"), "");
        FAIL();
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), HRESULT_BAD_FORMAT);
    }
    EXPECT_EQ(list.GetCount(), 1);
}

TEST(AsxReader, HostileDocumentsEndInAClearError) {
    CFakeHandler handler;
    CPlayList list;
    list.SetHandler(&handler);
    std::string laughs = "<!DOCTYPE asx [<!ENTITY a \"aaaaaaaaaa\">";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY " + std::string(1, 'a' + i) + " \"" + [&] {
            std::string s;
            for (int j = 0; j < 10; ++j)
                s += std::string("&") + char('a' + i - 1) + ";";
            return s;
        }() + "\">";
    laughs += "]><asx><entry><ref href=\"&j;\"/></entry></asx>";
    EXPECT_EQ(LoadError(list, laughs), HRESULT_BAD_FORMAT);
    EXPECT_EQ(LoadError(list, std::string("\x89PNG\r\n\x1a\n\0\0", 10)), HRESULT_BAD_FORMAT);
    EXPECT_EQ(LoadError(list, "<asx><entry><ref href=\"a.wmv\"/></entry><entry><ref hr"),
              HRESULT_BAD_FORMAT);
    EXPECT_TRUE(handler.opened.empty());
}

// Files as old tools and radio stations write them: read as other players
// read them, one "file|title" per clip.
TEST(AsxReader, SloppyFilesReadAsOtherPlayersReadThem) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> clips;
    };
    const Case cases[] = {
        {"windows-1252 without declaration",
         "<ASX><Entry><Title>Gr\xFC\xDF"
         "e \x80</Title><Ref href=\"a.wmv\"/></Entry></ASX>",
         {"a.wmv|Gr\u00FC\u00DF"
          "e \u20AC"}},
        {"bare ampersands",
         "<asx><entry><title>Tom & Jerry &amp; &#65;</title>"
         "<ref href=\"http://host/a.wmv?x=1&y=2\"/></entry></asx>",
         {"http://host/a.wmv?x=1&y=2|Tom & Jerry & A"}},
        {"cut before the end",
         "<asx><entry><ref href=\"a.wmv\"/></entry><entry><ref href=\"b.wmv\"/></entry>\r\n",
         {"a.wmv|", "b.wmv|"}},
        {"cut inside an entry",
         "<asx><entry><ref href=\"a.wmv\"/></entry><entry><title>b",
         {"a.wmv|"}},
        {"entries never closed",
         "<asx><entry><ref href=\"a.wmv\"/><entry><title>B</title><ref href=\"b.wmv\"/></asx>",
         {"a.wmv|", "b.wmv|B"}},
        {"all at once",
         "\xEF\xBB\xBF<ASX version=\"3.0\"><Entry><Title>\xC3\xA9t\xC3\xA9 & co</Title>"
         "<Ref HREF=\"mms://h/s?a=1&b=2\"/>",
         {"mms://h/s?a=1&b=2|\u00E9t\u00E9 & co"}},
        {"cdata keeps its text",
         "<asx><entry><title><![CDATA[a &amp b]]></title><ref href=\"a.wmv?&\"/></entry></asx>",
         {"a.wmv?&|a &amp b"}},
    };
    for (const Case& c : cases) {
        Loaded l(c.text, "");
        std::vector<std::string> clips;
        for (int i = 0; i < l.list.GetCount(); ++i)
            clips.push_back(l.list.GetClipFile(i) + "|" + l.list.GetClipTitle(i));
        EXPECT_EQ(clips, c.clips) << c.name;
    }

    // Files: the declared encoding is read; without one, Windows-1252.
    vtest::TempDir dir;
    vtest::WriteFile(dir.File("latin.asx"),
                     "<asx><entry><title>\xC4rger</title><ref href=\"a.wmv\"/></entry>");
    vtest::WriteFile(dir.File("declared.asx"),
                     "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><asx><entry><title>\xC4"
                     "</title><ref href=\"a?b&c\"/></entry></asx>");
    CFakeHandler handler;
    CPlayList list;
    list.SetHandler(&handler);
    list.LoadFile(dir.File("latin.asx"), "");
    EXPECT_EQ(list.GetClipTitle(0), "\u00C4rger");
    list.LoadFile(dir.File("declared.asx"), "");
    EXPECT_EQ(list.GetClipTitle(0), "\u00C4");
    EXPECT_EQ(list.GetClipFile(0), dir.File("a?b&c"));
}

// The second reading never loosens a limit and, when it gives nothing,
// reports what the parser said about the file as it stands.
TEST(AsxReader, SecondReadingKeepsTheLimits) {
    CFakeHandler handler;
    CPlayList list;
    list.SetHandler(&handler);
    std::string laughs = "<!DOCTYPE asx [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">";
    for (char e = 'b'; e <= 'k'; ++e)
        laughs += std::string("<!ENTITY ") + e + " \"" + [&] {
            std::string s;
            for (int j = 0; j < 16; ++j)
                s += std::string("&") + char(e - 1) + ";";
            return s;
        }() + "\">";
    std::string deep = "<asx><entry><ref href=\"a.wmv\"/></entry>";
    for (int i = 0; i < 300; ++i)
        deep += "<x>";
    std::string big = "<asx><entry><ref href=\"a.wmv?&\"/></entry>" +
                      std::string(kMaxXmlDocumentSize, ' ') + "</asx>";
    const std::string refused[] = {
        laughs + "]><asx><entry><title>&k;</title><ref href=\"a.wmv?&\"/></entry>",
        laughs + "]><asx><entry><ref href=\"&k;\"/></entry>",
        deep,
        big,
        "<asx><entry><ref href=\"a.wmv\"/></entry><entry><ref hr",
        "<asx><entry><ref href=\"a.wmv\"/></entry>garbage</asx></asx>",
    };
    for (const std::string& text : refused) {
        EXPECT_EQ(LoadError(list, text), HRESULT_BAD_FORMAT) << text.substr(0, 80);
        EXPECT_EQ(list.GetCount(), 0);
    }
    // An external entity is never read, by either reading.
    vtest::TempDir dir;
    vtest::WriteFile(dir.File("secret.txt"), "secret");
    list.LoadXml("<!DOCTYPE asx [<!ENTITY x SYSTEM \"" + dir.File("secret.txt") +
                     "\">]><asx><entry><title>&x;&</title><ref href=\"a.wmv\"/>",
                 "");
    EXPECT_EQ(list.GetClipTitle(0), "&");
    try {
        list.LoadXml("<asx><entry><title>A & B</title></entry></asx>", "");
        FAIL();
    } catch (const CComException& e) {
        EXPECT_NE(BuildErrorText(e, 0).find("EntityRef"), std::string::npos)
            << BuildErrorText(e, 0);
    }
    EXPECT_EQ(list.GetCount(), 1);
}

// Names folded while walking the tree read exactly as the stylesheet that
// folded them before: odd shapes and the seed playlists of the fuzz corpus.
TEST(AsxReader, NativeFoldMatchesTheStylesheet) {
    std::vector<std::string> documents = {
        "<ASX><Entry A=\"1\" xml:base=\"q\" HREF=\"b\">t1<!--c--><X>in</X>t2<![CDATA[cd]]>"
        "<?pi x?></Entry></ASX>",
        "<asx xmlns=\"urn:x\"><entry/></asx>",
        "<asx xmlns:p=\"urn:p\"><p:entry><ref href=\"a\"/></p:entry></asx>",
        "<asx xmlns:p=\"urn:p\"><entry p:x=\"1\"/></asx>",
        "<asx><p:entry/></asx>",
        "<asx XMLNS=\"x\"/>",
        "<asx><entry XML:BASE=\"x\" href=\"1\" HREF=\"2\"/></asx>",
        "<!DOCTYPE a [<!ENTITY e \"E\">]><a><b c=\"x&e;y\">1&e;2</b></a>",
        "<\xC3\x84SX \xC3\x96=\"1\">\xC3\x9C</\xC3\x84SX>",
    };
    for (const auto& file :
         std::filesystem::directory_iterator(VELOTRAX_SOURCE_DIR "/fuzz/playlist/corpus"))
        documents.push_back(vtest::ReadFile(file.path().string()));
    for (const std::string& text : documents) {
        CXMLDOMDocument native, stylesheet;
        for (CXMLDOMDocument* document : {&native, &stylesheet}) {
            document->Create(true);
            document->SetAsync(false);
        }
        if (!native.LoadXML(text) || !stylesheet.LoadXML(text))
            continue;
        CAsxReader::FoldNames(native);
        EXPECT_EQ(native.GetXml(), CAsxReader::FoldNamesWithStylesheet(stylesheet).GetXml())
            << text;
    }
}

}  // namespace

namespace {

// Playlists read on several threads at once, each with its own documents.
TEST(AsxReader, ThreadsReadIndependently) {
    std::string text = "<ASX>";
    for (int i = 0; i < 200; ++i)
        text +=
            "<Entry><Ref HREF=\"c" + std::to_string(i) + ".wmv\"/><Duration VALUE=\"1\"/></Entry>";
    text += "</ASX>";
    std::vector<int> counts(4, 0);
    std::vector<REFERENCE_TIME> durations(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                CFakeHandler handler;
                CPlayList list;
                list.SetHandler(&handler);
                try {
                    list.LoadXml(text, "");
                    list.LoadXml("<asx><entry>", "");  // fails, keeps the clips
                } catch (const CComException&) {
                }
                counts[t] = list.GetCount();
                durations[t] = list.GetDuration();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(counts[t], 200);
        EXPECT_EQ(durations[t], 200 * S);
    }
}

}  // namespace
