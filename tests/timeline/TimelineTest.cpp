// The timeline's parts on their own: the media locator's contract, the
// error log, the XTL reader (values, defaults, what it skips, hostile
// files) and the wrapper rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/com/ErrorInfo.h"
#include "platform/des/DesModel.h"
#include "platform/des/XtlReader.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"
#include "timeline/VaDES.h"
#include "timeline/VaErrorLogErrorInfo.h"
#include "timeline/VaMediaLocatorImpl.h"

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;

class CRecordingLog : public CUnknownImpl<CRecordingLog, IAMErrorLog> {
public:
    HRESULT LogError(long, const std::string& text, long, HRESULT hr, const DES_VARIANT*) override {
        m_texts.push_back(text);
        return hr;
    }
    std::string All() const {
        std::string all;
        for (const auto& t : m_texts)
            all += t + "\n";
        return all;
    }
    std::vector<std::string> m_texts;
};

// ---------------------------------------------------------------- locator

TEST(MediaLocatorTest, FindsFilesAsTheContractSays) {
    vtest::TempDir here, search, second;
    std::filesystem::create_directories(search.File("sub"));
    for (const std::string& f : {here.File("a.webm"), search.File("a.webm"), search.File("b.webm"),
                                 search.File("sub/c.webm"), second.File("b.webm")})
        vtest::WriteFile(f, "x");
    std::filesystem::create_directories(search.File("folder.webm"));

    CComPtr<IMediaLocator> locator;
    locator.Attach(new CVaMediaLocatorImpl());
    EXPECT_EQ(locator->AddFoundLocation(""), S_FALSE);
    EXPECT_EQ(locator->AddFoundLocation(search.Path()), S_OK);
    EXPECT_EQ(locator->AddFoundLocation(second.Path()), S_OK);
    EXPECT_EQ(static_cast<CVaMediaLocatorImpl*>(locator.Get())->SearchFolders().size(), 2u);

    constexpr long kCheck = SFN_VALIDATEF_CHECK;
    struct {
        std::string input;
        long flags;
        HRESULT result;
        std::string found;
    } cases[] = {
        {"", kCheck, E_INVALIDARG, ""},
        {"/x/a.webm", SFN_VALIDATEF_POPUP | kCheck, E_NOTIMPL, ""},
        {"/gone/a.webm", 0, S_OK, "/gone/a.webm"},
        // Where the timeline says, even though the search folder has one too.
        {here.File("a.webm"), kCheck, S_OK, here.File("a.webm")},
        {"/gone/b.webm", kCheck, S_FALSE, search.File("b.webm")},
        {"C:\\Media\\b.webm", kCheck, S_FALSE, search.File("b.webm")},
        {"sub/c.webm", kCheck, S_FALSE, search.File("sub/c.webm")},
        {"sub\\c.webm", kCheck, S_FALSE, search.File("sub/c.webm")},
        {"/gone/b.webm", kCheck | SFN_VALIDATEF_NOFIND, S_FALSE, search.File("b.webm")},  // cached
        {"/gone/c.webm", kCheck, E_FAIL, "/gone/c.webm"},
        {"/gone/folder.webm", kCheck, E_FAIL, "/gone/folder.webm"},
        {"/gone/a.webm", kCheck | SFN_VALIDATEF_NOFIND, E_FAIL, "/gone/a.webm"},
    };
    for (const auto& c : cases) {
        std::string found = "(unset)";
        EXPECT_EQ(locator->FindMediaFile(c.input, "*.webm", &found, c.flags), c.result) << c.input;
        if (c.result != E_INVALIDARG && c.result != E_NOTIMPL) {
            EXPECT_EQ(found, c.found) << c.input;
        }
    }
    EXPECT_EQ(locator->FindMediaFile("a", "", nullptr, kCheck), E_POINTER);
    // The second lookup is answered from the cache, even once the file is gone.
    std::filesystem::remove(search.File("b.webm"));
    std::string found;
    EXPECT_EQ(locator->FindMediaFile("/gone/b.webm", "", &found, kCheck), S_FALSE);
    EXPECT_EQ(found, search.File("b.webm"));
}

// ---------------------------------------------------------------- error log

TEST(ErrorLogTest, EntriesBecomeTheThreadsErrorWithTheExtraOnASecondLine) {
    CComPtr<IAMErrorLog> log(static_cast<IAMErrorLog*>(new CVaErrorLogErrorInfo()));
    CComPtr<IUnknown> unknown;
    EXPECT_EQ(log->QueryInterface(IUnknown::iid, unknown.ReleaseAndGetVoidAddress()), S_OK);
    EXPECT_EQ(log->QueryInterface(IMediaLocator::iid, unknown.ReleaseAndGetVoidAddress()),
              E_NOINTERFACE);
    struct {
        DES_VARIANT extra;
        std::string description;
    } cases[] = {{DES_VARIANT::FromString("clip.webm"), "Not found.\r\nclip.webm"},
                 {DES_VARIANT(), "Not found."}};
    for (const auto& c : cases) {
        EXPECT_EQ(log->LogError(2, "Not found.", 1403, E_FAIL, &c.extra), E_FAIL);
        try {
            ThrowHResult(E_FAIL);
        } catch (const CComException& e) {
            EXPECT_EQ(e.Description(), c.description);
        }
    }
}

// ---------------------------------------------------------------- reader

TEST(XtlReaderTest, TimesReadInSecondsAndAsClockTimes) {
    struct {
        const char* text;
        bool ok;
        REFERENCE_TIME value;
    } cases[] = {{"1.5", true, 15'000'000},
                 {" 00:00:01.500 ", true, 15'000'000},
                 {"01:02.5", true, 625'000'000},
                 {"1:00:00", true, 3600 * kSecond},
                 {".25", true, 2'500'000},
                 {"-1", true, -kSecond},
                 {"0.00000005", true, 1},
                 {"2.", true, 2 * kSecond},
                 {"", false, 0},
                 {"abc", false, 0},
                 {"1:60", false, 0},
                 {"1,5", false, 0},
                 {"1e3", false, 0},
                 {"99999999999999999", false, 0},
                 {"1:2:3:4", false, 0},
                 {":", false, 0}};
    for (const auto& c : cases) {
        REFERENCE_TIME value = 0;
        EXPECT_EQ(va::des::ParseXtlTime(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

class XtlReaderFileTest : public testing::Test {
protected:
    void SetUp() override {
        m_timeline.Create();
        m_log.Attach(new CRecordingLog());
        m_log->AddRef();
        m_timeline.SetErrorLog(m_log);
        m_reader.Create();
    }
    // The clips of every track as "name start stop mstart" lines, in tenths of a second.
    std::string Clips() {
        std::string out;
        for (int g = 0; g < m_timeline.GetGroupCount(); ++g) {
            CVaAMTimelineGroup group = m_timeline.GetGroup(g);
            for (int t = 0; t < group.GetTrackCount(); ++t) {
                CVaAMTimelineTrack track(group.GetTrack(t));
                if (!track.IsValid())
                    continue;  // a composition
                for (CVaAMTimelineSrc src = track.GetNextSource(nullptr); src.IsValid();
                     src = track.GetNextSource(&src)) {
                    REFERENCE_TIME start, stop, mstart, mstop;
                    src.GetStartStop(start, stop);
                    src.GetMediaTimes(mstart, mstop);
                    out += src.GetMediaName() + " " + std::to_string(start / 1000000) + " " +
                           std::to_string(stop / 1000000) + " " + std::to_string(mstart / 1000000) +
                           "\n";
                }
            }
        }
        return out;
    }
    CVaAMTimeline m_timeline;
    CComPtr<CRecordingLog> m_log;
    CVaXml2Dex m_reader;
    vtest::TempDir m_dir;
};

TEST_F(XtlReaderFileTest, ClipsGetDefaultsAndWhatCannotPlayIsReportedAndSkipped) {
    m_reader.ReadXML(m_timeline,
                     "<timeline><group type='video' framerate='29.97' width='640' height='480'>"
                     "<track><clip src='a' start='1' stop='2' mstart='0.5'/>"
                     "<clip src='b' mstop='3' mstart='2'/>"  // follows a, lasts 1 s
                     "<transition clsid='x'/>"
                     "<clip src='c' start='5' stop='4'/>"
                     "<clip src='d' start='5' stop='6' mstart='-1'/>"
                     "<clip src='e' start='x' stop='6'/>"
                     "<clip start='7' stop='8'/>"
                     "<clip src='f' start='6' stop='7' mstop='9'><param name='p'/></clip>"
                     "</track>"
                     "<composite><track><clip src='g' start='0' stop='1'/></track></composite>"
                     "<effect/></group>"
                     "<group type='audio'><track><clip src='h' start='0' stop='1'/></track></group>"
                     "<properties/></timeline>");
    EXPECT_EQ(Clips(), "a 10 20 5\nb 20 30 20\nf 60 70 0\nh 0 10 0\n");
    ASSERT_EQ(m_timeline.GetGroupCount(), 2);
    EXPECT_DOUBLE_EQ(m_timeline.GetGroup(0).GetOutputFPS(), 29.97);
    EXPECT_FALSE(m_timeline.GetGroup(1).IsVideo());
    EXPECT_EQ(m_timeline.GetDuration(), 7 * kSecond);
    std::string log = m_log->All();
    for (const char* reported :
         {"transition", "stops before it starts", "media start is negative", "\"x\" is not a time",
          "names no source", "<param>", "normal speed", "effect", "<properties>"})
        EXPECT_NE(log.find(reported), std::string::npos) << reported << " in\n" << log;
    // The nested composition is a track of the group, holding its own track.
    CVaAMTimelineComp composite(m_timeline.GetGroup(0).GetTrack(1));
    EXPECT_TRUE(composite.IsValid());
    EXPECT_EQ(composite.GetTrackCount(), 1);
}

TEST_F(XtlReaderFileTest, DocumentsThatAreNoTimelineFailWithTheReason) {
    struct {
        std::string text;
        std::string reason;
    } cases[] = {
        {"<timeline><group>", "not well-formed"},
        {"<asx version='3.0'/>", "root element is <asx>"},
        // Entities that expand without bound are stopped by the parser.
        {"<!DOCTYPE t [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
         "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>"
         "<!ENTITY e '&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;'><!ENTITY f '&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;'>"
         "<!ENTITY g '&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;'><!ENTITY h "
         "'&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;'>]>"
         "<timeline><group><track><clip src='&h;' start='0' stop='1'/></track></group></timeline>",
         "not well-formed"},
    };
    for (const auto& c : cases) {
        try {
            m_reader.ReadXML(m_timeline, c.text);
            ADD_FAILURE() << c.text;
        } catch (const CComException& e) {
            EXPECT_EQ(e.Error(), VFW_E_INVALID_FILE_FORMAT);
            EXPECT_NE(m_log->All().find(c.reason), std::string::npos) << m_log->All();
        }
    }
}

TEST_F(XtlReaderFileTest, HostileFilesReadNothingFromOutside) {
    // An external entity is never read: its reference stays empty.
    vtest::WriteFile(m_dir.File("secret.txt"), "secret");
    std::string xtl = m_dir.File("x.xtl");
    vtest::WriteFile(xtl, "<!DOCTYPE t [<!ENTITY s SYSTEM 'file://" + m_dir.File("secret.txt") +
                              "'>]><timeline><group><track><clip src='a&s;' start='0' stop='1'/>"
                              "</track></group></timeline>");
    try {
        m_timeline.LoadXtl(xtl);
    } catch (const CComException&) {
    }
    EXPECT_EQ(Clips().find("secret"), std::string::npos);
    // Files too large to be timelines, folders and devices are refused unread.
    std::string big = m_dir.File("big.xtl");
    vtest::WriteFile(big, "<timeline>");
    ASSERT_EQ(truncate(big.c_str(), 100 << 20), 0);
    for (const std::string& path : {big, m_dir.Path(), std::string("/dev/zero")})
        EXPECT_THROW(m_timeline.LoadXtl(path), CComException) << path;
}

// ---------------------------------------------------------------- wrappers

TEST(TimelineWrapperTest, EmptyAndMistypedWrappers) {
    CVaAMTimeline empty;
    try {
        empty.GetGroupCount();
        FAIL();
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
        EXPECT_EQ(e.Description(), "");
    }
    EXPECT_THROW(CVaAMTimelineSrc().GetMediaName(), CComException);
    EXPECT_THROW(CVaRenderEngine().ConnectFrontEnd(), CComException);

    CVaAMTimeline timeline;
    timeline.Create();
    CVaXml2Dex reader;
    reader.Create();
    reader.ReadXML(timeline,
                   "<timeline><group><track><clip src='a' start='0' stop='1'/></track>"
                   "</group></timeline>");
    CVaAMTimelineGroup group = timeline.GetGroup(0);
    EXPECT_TRUE(group.IsValid());
    CVaAMTimelineObj track = group.GetTrack(0);
    // A track is no group, composition or source: only the object is held.
    EXPECT_FALSE(CVaAMTimelineGroup(track).IsValid());
    EXPECT_FALSE(CVaAMTimelineSrc(track).IsValid());
    EXPECT_TRUE(CVaAMTimelineGroup(track).GetObj() != nullptr);
    EXPECT_TRUE(CVaAMTimelineTrack(track).IsValid());
}

// A timeline whose check of the source names never reports that it ended.
class CSilentTimeline : public va::des::CTimeline {
public:
    HRESULT ValidateSourceNames(long, IMediaLocator*, CEvent* done) override {
        s_done = done;
        return S_OK;
    }
    static inline CEvent* s_done = nullptr;
};

TEST(TimelineWrapperTest, AValidationThatNeverEndsTimesOut) {
    RegisterClassFactory(CLSID_AMTimeline, &CreateAndQuery<CSilentTimeline>);
    CVaAMTimeline timeline;
    timeline.Create();
    RegisterClassFactory(CLSID_AMTimeline, &CreateAndQuery<va::des::CTimeline>);
    try {
        timeline.ValidateSourceNames(SFN_VALIDATEF_CHECK, nullptr, 20);
        ADD_FAILURE();
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), HRESULT_TIMEOUT);
        EXPECT_NE(e.Description().find("did not finish"), std::string::npos);
    }
    // The event was left to the services, which could still signal it.
    CSilentTimeline::s_done->Set();
    delete CSilentTimeline::s_done;
}

// Counts ScrapIt calls of a stand-in engine.
class CCountingEngine : public CUnknownImpl<CCountingEngine, IRenderEngine> {
public:
    static inline int s_scraps = 0;
    HRESULT SetTimelineObject(IAMTimeline*) override { return S_OK; }
    HRESULT GetTimelineObject(IAMTimeline**) override { return E_NOTIMPL; }
    HRESULT SetFilterGraph(IGraphBuilder*) override { return S_OK; }
    HRESULT GetFilterGraph(IGraphBuilder**) override { return E_NOTIMPL; }
    HRESULT SetDynamicReconnectLevel(long) override { return S_OK; }
    HRESULT ConnectFrontEnd() override { return S_OK; }
    HRESULT RenderOutputPins() override { return S_OK; }
    HRESULT GetGroupOutputPin(long, IPin**) override { return E_NOTIMPL; }
    HRESULT ScrapIt() override {
        ++s_scraps;
        return S_OK;
    }
};

TEST(TimelineWrapperTest, CopiesOfARenderEngineShareItAndTheLastScrapsIt) {
    RegisterClassFactory(CLSID_RenderEngine, &CreateAndQuery<CCountingEngine>);
    {
        CVaRenderEngine unconnected;
        unconnected.Create();
        CVaRenderEngine engine;
        engine.Create();
        engine.ConnectFrontEnd();
        {
            CVaRenderEngine copy(engine);
            CVaRenderEngine assigned;
            assigned = copy;
            engine = CVaRenderEngine();
        }
        EXPECT_EQ(CCountingEngine::s_scraps, 1);
    }
    EXPECT_EQ(CCountingEngine::s_scraps, 1);  // an engine never connected is not scrapped
    UnregisterClassFactory(CLSID_RenderEngine);
    RegisterClassFactory(CLSID_RenderEngine, &va::des::CreateRenderEngine);
}

}  // namespace
