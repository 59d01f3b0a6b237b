// The play context's logic over an in-memory graph: opening and its
// notifications, the error mapping, seeking and the selection, the poll
// interval, the worker's end-of-media reports and the network reader path.
#include <gtest/gtest.h>

#include <vector>

#include "playback/DecoderConfig.h"
#include "playback/PlayCtx.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"
#include "tests/playback/FakeFilterGraph.h"
#include "tests/playback/PlaybackTestUtil.h"

namespace {

using vtest::CFakeFilterGraph;
using vtest::CFakeGraphScope;

constexpr REFERENCE_TIME kSecond = 10'000'000;

class CRecordingNotify : public IPlayNotify {
public:
    void OnPlayEnd(CPlayCtx*) override { ++m_ends; }
    void OnPlayListChanged(CPlayCtx*) override { ++m_changes; }
    void OnPlayNotify(CPlayCtx*, int32_t code, int32_t param) override {
        m_codes.emplace_back(code, param);
    }
    int m_ends = 0;
    int m_changes = 0;
    std::vector<std::pair<int32_t, int32_t>> m_codes;
};

using Codes = std::vector<std::pair<int32_t, int32_t>>;

class PlayCtxTest : public testing::Test {
protected:
    void SetUp() override {
        vtest::EnsureApplication();
        m_file = m_dir.File("clip.webm");
        vtest::WriteFile(m_file, "not really a video");
        m_ctx.Create(&m_notify);
    }
    void TearDown() override {
        m_ctx.Close();
        m_ctx.Shutdown();
    }
    CFakeFilterGraph& Graph() { return *CFakeGraphScope::Last(); }
    void OpenClip(REFERENCE_TIME duration = 10 * kSecond) {
        m_ctx.Open(m_file);
        Graph().m_duration = duration;
        m_ctx.ClearSelection();
    }

    CFakeGraphScope m_scope;
    vtest::TempDir m_dir;
    std::string m_file;
    CRecordingNotify m_notify;
    CPlayCtx m_ctx;
};

TEST_F(PlayCtxTest, OpenNotifiesBeginAndDoneAndEndsPausedOnTheFirstFrame) {
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayNone);
    EXPECT_EQ(m_ctx.GetDuration(), -1);
    m_ctx.Open(m_file);
    EXPECT_EQ(m_notify.m_codes, (Codes{{PN_OPEN_BEGIN, 0}, {PN_OPEN_DONE, 0}}));
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayPaused);
    EXPECT_EQ(Graph().m_state.load(), State_Paused);
    EXPECT_EQ(m_ctx.GetMediaName(), m_file);
    EXPECT_TRUE(m_ctx.IsWorkerAttached());
    EXPECT_EQ(m_ctx.GetDuration(), 10 * kSecond);

    m_ctx.Close();
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayNone);
    EXPECT_EQ(m_ctx.GetMediaName(), "");
    EXPECT_FALSE(m_ctx.IsWorkerAttached());
}

TEST_F(PlayCtxTest, MissingFilesAreReportedByNameForEveryNotFoundCode) {
    for (HRESULT hr : {VFW_E_NOT_FOUND, INET_E_RESOURCE_NOT_FOUND, NS_E_FILE_NOT_FOUND,
                       NS_E_MEDIA_FILE_NOT_FOUND}) {
        CFakeFilterGraph::s_missingFileResult = hr;
        m_notify.m_codes.clear();
        std::string missing = m_dir.File("missing.avi");
        try {
            m_ctx.Open(missing);
            FAIL() << "opened a missing file";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.GetErrorMessage(), "The file \"" + missing + "\" could not be found.");
        }
        EXPECT_EQ(m_notify.m_codes, (Codes{{PN_OPEN_BEGIN, 0}, {PN_OPEN_FAILED, 0}}));
        EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayNone);
    }
    // Any other failure keeps its own code.
    CFakeFilterGraph::s_missingFileResult = E_FAIL;
    try {
        m_ctx.Open(m_dir.File("missing.avi"));
        FAIL();
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), E_FAIL);
    }
}

TEST_F(PlayCtxTest, EmptyTimelinesFailWithAClearMessage) {
    std::string xtl = m_dir.File("edit.XTL");
    vtest::WriteFile(xtl, "<timeline/>");
    try {
        m_ctx.Open(xtl);
        FAIL();
    } catch (const CComException& e) {
        EXPECT_NE(e.Description().find("no clip"), std::string::npos);
    }
    EXPECT_FALSE(m_ctx.HasTimeline());
    EXPECT_EQ(m_notify.m_codes.back(), (std::pair<int32_t, int32_t>(PN_OPEN_FAILED, 0)));
}

TEST_F(PlayCtxTest, SeekClampsIntoTheMediaAndTheSelection) {
    OpenClip(30 * kSecond);
    EXPECT_EQ(m_ctx.Seek(-5, false), 0);
    EXPECT_EQ(Graph().m_position.load(), 0);
    EXPECT_EQ(m_ctx.Seek(40 * kSecond, false), 30 * kSecond);
    EXPECT_EQ(m_ctx.Seek(30 * kSecond, false), 30 * kSecond);
    ASSERT_TRUE(m_ctx.SetSelection(10 * kSecond, 20 * kSecond));
    EXPECT_EQ(m_ctx.Seek(5 * kSecond, true), 10 * kSecond);
    EXPECT_EQ(m_ctx.Seek(25 * kSecond, true), 20 * kSecond);
    EXPECT_EQ(Graph().m_position.load(), 20 * kSecond);
    EXPECT_EQ(m_ctx.Seek(25 * kSecond, false), 25 * kSecond);
    // Rewinding lands on the selection start.
    EXPECT_TRUE(m_ctx.StopAndRewind());
    EXPECT_EQ(Graph().m_position.load(), 10 * kSecond);
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayStopped);
}

TEST_F(PlayCtxTest, SelectionRules) {
    EXPECT_FALSE(m_ctx.SetSelection(0, kSecond));  // nothing rendered
    OpenClip(30 * kSecond);
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    EXPECT_FALSE(m_ctx.SetSelection(20 * kSecond, 10 * kSecond));
    EXPECT_FALSE(m_ctx.GetSelection(start, stop));
    EXPECT_EQ(start, -1);
    EXPECT_EQ(stop, -1);
    // Without a selection the graph stops at the duration.
    EXPECT_EQ(Graph().m_stop.load(), 30 * kSecond);

    EXPECT_TRUE(m_ctx.SetSelectionStop(15 * kSecond));
    EXPECT_TRUE(m_ctx.GetSelection(start, stop));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(stop, 15 * kSecond);
    EXPECT_EQ(Graph().m_stop.load(), 15 * kSecond);

    // A start after the stop moves the stop to the duration.
    EXPECT_TRUE(m_ctx.SetSelectionStart(20 * kSecond));
    EXPECT_TRUE(m_ctx.GetSelection(start, stop));
    EXPECT_EQ(start, 20 * kSecond);
    EXPECT_EQ(stop, 30 * kSecond);

    Graph().m_position = 20 * kSecond + 300000;
    EXPECT_TRUE(m_ctx.IsInSelection());
    EXPECT_TRUE(m_ctx.IsAtSelectionStart());
    EXPECT_FALSE(m_ctx.IsAtSelectionStop());
    Graph().m_position = 20 * kSecond + 400000;
    EXPECT_FALSE(m_ctx.IsAtSelectionStart());

    m_ctx.Close();
    EXPECT_FALSE(m_ctx.HasSelection());
    EXPECT_TRUE(m_ctx.IsStopUsable());
}

TEST_F(PlayCtxTest, IsAtEndOneFrameBeforeTheEnd) {
    OpenClip(10 * kSecond);
    EXPECT_EQ(m_ctx.GetFrameDuration(), 400000);  // no frame rate reported: 25 per second
    Graph().m_position = 10 * kSecond - 400000;
    EXPECT_FALSE(m_ctx.IsAtEnd());
    Graph().m_position = 10 * kSecond - 400000 + 1;
    EXPECT_TRUE(m_ctx.IsAtEnd());
    m_ctx.SetSelection(0, 5 * kSecond);
    EXPECT_FALSE(m_ctx.IsAtEnd() && Graph().m_position.load() < 5 * kSecond - 400000);
    Graph().m_position = 5 * kSecond;
    EXPECT_TRUE(m_ctx.IsAtEnd());
}

TEST_F(PlayCtxTest, PollIntervalFollowsWhoWatchesTheSelectionStop) {
    OpenClip(10 * kSecond);
    EXPECT_EQ(m_ctx.GetPollInterval(), -1);
    // The graph took the stop: nothing to poll.
    ASSERT_TRUE(m_ctx.SetSelection(0, 5 * kSecond));
    EXPECT_TRUE(m_ctx.IsStopUsable());
    EXPECT_EQ(m_ctx.GetPollInterval(), -1);

    // A graph that refuses the stop leaves it to the worker, one poll a frame.
    Graph().m_refuseStop = true;
    ASSERT_TRUE(m_ctx.SetSelection(0, 4 * kSecond));
    EXPECT_FALSE(m_ctx.IsStopUsable());
    EXPECT_EQ(m_ctx.GetPollInterval(), 40);
    // Once refused, later stops are not offered again until Close.
    Graph().m_refuseStop = false;
    ASSERT_TRUE(m_ctx.SetSelection(0, 3 * kSecond));
    EXPECT_FALSE(m_ctx.IsStopUsable());
    EXPECT_EQ(Graph().m_stop.load(), 5 * kSecond);
    // A stop within the last frame needs no polling.
    ASSERT_TRUE(m_ctx.SetSelection(0, 10 * kSecond - 100000));
    EXPECT_EQ(m_ctx.GetPollInterval(), -1);
    m_ctx.Close();
    EXPECT_TRUE(m_ctx.IsStopUsable());
}

TEST_F(PlayCtxTest, WorkerReportsTheSelectionStopWhilePlaying) {
    OpenClip(10 * kSecond);
    Graph().m_refuseStop = true;
    ASSERT_TRUE(m_ctx.SetSelection(0, 5 * kSecond));
    ASSERT_EQ(m_ctx.GetPollInterval(), 40);
    m_ctx.Run();
    Graph().m_position = 4 * kSecond;
    QCoreApplication::processEvents();
    EXPECT_EQ(m_notify.m_ends, 0);
    Graph().m_position = 5 * kSecond;
    EXPECT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends > 0; }));
    // Paused, the worker stays quiet.
    m_ctx.Pause();
    vtest::PumpUntil([] { return false; }, 50);
    int ends = m_notify.m_ends;
    vtest::PumpUntil([] { return false; }, 200);
    EXPECT_EQ(m_notify.m_ends, ends);
}

TEST_F(PlayCtxTest, GraphCompletionEndsPlayWithoutAPlaylist) {
    OpenClip();
    m_ctx.Run();
    Graph().PostGraphEvent(EC_PAUSED);
    Graph().PostGraphEvent(EC_COMPLETE);
    EXPECT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }));
}

TEST_F(PlayCtxTest, ReaderPathFallsBackToPlainRenderingWhenLoadFails) {
    EXPECT_TRUE(CPlayCtx::UsesNetworkReader("MMS://host/stream"));
    EXPECT_TRUE(CPlayCtx::UsesNetworkReader("http://host/clip.WMV"));
    EXPECT_TRUE(CPlayCtx::UsesNetworkReader("https://host/a.asf"));
    EXPECT_FALSE(CPlayCtx::UsesNetworkReader("http://host/clip.mpg"));
    EXPECT_FALSE(CPlayCtx::UsesNetworkReader("/videos/clip.wmv"));
    EXPECT_FALSE(CPlayCtx::UsesNetworkReader("mms://ab"));
    EXPECT_FALSE(CPlayCtx::UsesNetworkReader("://host/a.wmv"));

    std::vector<std::string> loaded;
    RegisterClassFactory(CLSID_WMAsfReader, [&](IUnknown*, REFIID riid, void** ppv) {
        auto* reader = new vtest::CFakeFilter();
        reader->m_loadResult = E_FAIL;
        reader->AddRef();
        HRESULT hr = reader->QueryInterface(riid, ppv);
        reader->Release();
        loaded.push_back("created");
        return hr;
    });
    std::string url = "http://example.invalid/video.wmv";
    EXPECT_THROW(m_ctx.Open(url), CFileException);
    UnregisterClassFactory(CLSID_WMAsfReader);
    EXPECT_EQ(loaded.size(), 1u);
    EXPECT_FALSE(Graph().HasFilterNamed("WM ASF Reader"));
    ASSERT_FALSE(Graph().m_renderedFiles.empty());
    EXPECT_EQ(Graph().m_renderedFiles.back(), url);
    EXPECT_EQ(m_notify.m_codes.front(), (std::pair<int32_t, int32_t>(PN_OPEN_BEGIN, 1)));
}

// A decoder with the configuration interface, recording what it is told.
class CFakeDecoder : public CUnknownImpl<CFakeDecoder, IDecoderConfig> {
public:
    HRESULT IsSupported(const GUID* p) override {
        return *p == DECODER_PARAM_DISABLE && !m_disableSupported ? E_NOTIMPL : S_OK;
    }
    HRESULT GetValue(const GUID* p, DECODER_VARIANT* v) override {
        if (*p == DECODER_PARAM_ENABLE) {
            v->vt = VT_R8;
            v->dblVal = 1.0;  // already 1 once converted
            return S_OK;
        }
        return E_FAIL;
    }
    HRESULT SetValue(const GUID* p, const DECODER_VARIANT* v) override {
        m_set.emplace_back(*p, v->vt == VT_I4 ? v->lVal : -99);
        return S_OK;
    }
    HRESULT CommitChanges(DECODER_VARIANT*) override {
        ++m_commits;
        return S_OK;
    }
    bool m_disableSupported = true;
    std::vector<std::pair<GUID, int32_t>> m_set;
    int m_commits = 0;
};

TEST_F(PlayCtxTest, CreatedDecodersAreConfigured) {
    CComPtr<CFakeDecoder> decoder(new CFakeDecoder());
    CComPtr<IBaseFilter> filter(new vtest::CFakeFilter());
    // A filter without the interface is left alone (its reference is released).
    filter.Get()->AddRef();
    m_ctx.CreatedFilter(filter.Get());
    decoder->AddRef();
    m_ctx.CreatedFilter(reinterpret_cast<IBaseFilter*>(static_cast<IUnknown*>(decoder.Get())));
    ASSERT_EQ(decoder->m_set.size(), 2u);
    EXPECT_EQ(decoder->m_set[0], (std::pair<GUID, int32_t>(DECODER_PARAM_OUTPUT_MODE, 3)));
    EXPECT_EQ(decoder->m_set[1], (std::pair<GUID, int32_t>(DECODER_PARAM_DISABLE, 0)));
    EXPECT_EQ(decoder->m_commits, 1);
}

TEST_F(PlayCtxTest, DeinterlaceIsRememberedButNoFilterIsInserted) {
    EXPECT_TRUE(m_ctx.SetDeinterlace(true));  // no graph yet: only stored
    EXPECT_TRUE(m_ctx.IsDeinterlaceOn());
    OpenClip();
    EXPECT_FALSE(m_ctx.SetDeinterlace(true));
    EXPECT_TRUE(m_ctx.IsDeinterlaceOn());
    EXPECT_TRUE(m_ctx.SetDeinterlace(false));
    m_ctx.SetDeinterlaceSettings(3, 1, 0);
    EXPECT_TRUE(m_ctx.IsDoubleRateMethod());
}

}  // namespace

namespace {

// Three clips: two ranges of one file and a second file of unknown length.
TEST_F(PlayCtxTest, PlaylistPlaysClipByClipToTheEnd) {
    std::string second = m_dir.File("second.webm");
    vtest::WriteFile(second, "another video");
    std::string asx = m_dir.File("show.ASX");
    vtest::WriteFile(asx,
                     "<asx version=\"3.0\">"
                     "<entry><ref href=\"clip.webm\"/><starttime value=\"0:0:0\"/>"
                     "<duration value=\"0:0:3\"/></entry>"
                     "<entry><ref href=\"clip.webm\"/><starttime value=\"0:0:5\"/>"
                     "<duration value=\"0:0:3\"/></entry>"
                     "<entry><ref href=\"second.webm\"/></entry>"
                     "</asx>");
    m_ctx.Open(asx);
    ASSERT_TRUE(m_ctx.HasPlayList());
    EXPECT_EQ(m_ctx.GetCurrentClip(), 0);
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayPaused);
    EXPECT_FALSE(m_ctx.IsStopUsable());
    EXPECT_EQ(m_ctx.GetPollInterval(), 40);
    EXPECT_EQ(m_ctx.GetPlayListInfo()->GetCount(), 3);
    CFakeFilterGraph* first = &Graph();

    // Seeking on the playlist time line across clips: 4 s lies in clip 1,
    // 1 s into its range, which begins at 5 s in the file.
    m_ctx.Seek(4 * kSecond, false);
    EXPECT_EQ(m_ctx.GetCurrentClip(), 1);
    EXPECT_EQ(first->m_position.load(), 6 * kSecond);
    m_ctx.Seek(kSecond, false);
    EXPECT_EQ(m_ctx.GetCurrentClip(), 0);
    EXPECT_EQ(first->m_position.load(), kSecond);

    m_ctx.Run();
    // The end of clip 0 moves on to clip 1 in the same file by seeking.
    first->m_position = 3 * kSecond;
    ASSERT_TRUE(vtest::PumpUntil([&] { return m_ctx.GetCurrentClip() == 1; }));
    EXPECT_EQ(&Graph(), first);
    EXPECT_EQ(first->m_position.load(), 5 * kSecond);
    // The end of clip 1 opens the second file and keeps running.
    first->m_position = 8 * kSecond;
    ASSERT_TRUE(vtest::PumpUntil([&] { return m_ctx.GetCurrentClip() == 2; }));
    EXPECT_NE(&Graph(), first);
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayRunning);
    EXPECT_EQ(m_notify.m_ends, 0);
    EXPECT_GE(m_notify.m_changes, 1);  // the second file's length became known
    EXPECT_EQ(m_ctx.GetDuration(), 16 * kSecond);
    // The graph completing the last clip ends the play.
    Graph().PostGraphEvent(EC_COMPLETE);
    EXPECT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }));
    EXPECT_EQ(m_ctx.GetCurrentClip(), 2);
}

// The worker holds the lock inside a graph call that does not return:
// closing gives up without touching the playlist, and shutting down frees
// the worker by aborting the graph instead of waiting for ever.
TEST_F(PlayCtxTest, AWorkerStuckInTheGraphNeitherLosesThePlaylistNorHangsShutdown) {
    std::string asx = m_dir.File("one.asx");
    vtest::WriteFile(asx, "<asx version=\"3.0\"><entry><ref href=\"clip.webm\"/></entry></asx>");
    m_ctx.Open(asx);
    Graph().m_duration = 10 * kSecond;
    m_ctx.Run();
    CEvent gate(true, false);
    Graph().m_positionGate = &gate;
    ASSERT_TRUE(Graph().m_positionEntered.Wait(10000));
    try {
        m_ctx.Close();
        ADD_FAILURE() << "closed without the lock";
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), HRESULT_TIMEOUT);
    }
    EXPECT_TRUE(m_ctx.HasPlayList());
    m_ctx.Shutdown();
    EXPECT_EQ(Graph().m_aborts.load(), 1);
    Graph().m_positionGate = nullptr;
}

TEST_F(PlayCtxTest, GraphCompletionMovesToTheNextClip) {
    std::string asx = m_dir.File("two.wvx");
    vtest::WriteFile(asx,
                     "<asx version=\"3.0\"><entry><ref href=\"clip.webm\"/></entry>"
                     "<entry><ref href=\"clip.webm\"/><starttime value=\"0:0:2\"/></entry>"
                     "</asx>");
    m_ctx.Open(asx);
    ASSERT_EQ(m_ctx.GetCurrentClip(), 0);
    m_ctx.Run();
    Graph().PostGraphEvent(EC_COMPLETE);
    ASSERT_TRUE(vtest::PumpUntil([&] { return m_ctx.GetCurrentClip() == 1; }));
    EXPECT_EQ(m_notify.m_ends, 0);
}

}  // namespace

namespace {

// A clip of a network source that cannot seek yet: the play context runs
// the graph, keeps the seek pending, and makes it once the download allows.
TEST_F(PlayCtxTest, PendingSeekWaitsUntilTheStreamCanSeek) {
    CComPtr<vtest::CFakeFilter> reader(new vtest::CFakeFilter());
    reader->m_loadResult = S_OK;
    reader->m_mode = WMT_PLAY_MODE_DOWNLOAD;
    reader->m_percent = 40;
    RegisterClassFactory(CLSID_WMAsfReader, [&](IUnknown*, REFIID riid, void** ppv) {
        return reader->QueryInterface(riid, ppv);
    });
    std::string asx = m_dir.File("net.asx");
    vtest::WriteFile(asx,
                     "<asx version=\"3.0\"><entry><ref href=\"http://example.invalid/a.wmv\"/>"
                     "<starttime value=\"0:0:5\"/><duration value=\"0:0:3\"/></entry></asx>");
    m_ctx.Open(asx);
    UnregisterClassFactory(CLSID_WMAsfReader);

    EXPECT_EQ(reader->m_name, "WM ASF Reader");
    EXPECT_TRUE(m_ctx.IsSeekRestricted());
    EXPECT_FALSE(m_ctx.CanSeek());
    // Reader sources report their state changes, and the waiting seek.
    EXPECT_EQ(m_notify.m_codes, (Codes{{PN_OPEN_BEGIN, 1},
                                       {PN_OPEN_DONE, 0},
                                       {PN_STATE_BEGIN, 0},
                                       {PN_STATE_DONE, 0},
                                       {PN_SEEK_WAIT_BEGIN, 0}}));
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayRunning);
    EXPECT_EQ(m_ctx.GetPendingSeek(), 5 * kSecond);
    EXPECT_EQ(Graph().m_position.load(), 0);
    // The playlist's position is the pending target, that is the clip's start.
    EXPECT_EQ(m_ctx.GetPosition(), 0);

    // While the download is incomplete, the worker keeps waiting.
    vtest::PumpUntil([] { return false; }, 200);
    EXPECT_EQ(m_ctx.GetPendingSeek(), 5 * kSecond);
    EXPECT_EQ(m_notify.m_codes.size(), 5u);

    reader->m_percent = 100;
    ASSERT_TRUE(vtest::PumpUntil([&] {
        return m_notify.m_codes.back() == std::pair<int32_t, int32_t>(PN_SEEK_WAIT_DONE, 0);
    }));
    EXPECT_EQ(Graph().m_position.load(), 5 * kSecond);
    EXPECT_EQ(m_ctx.GetPendingSeek(), 0);
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayPaused);
    EXPECT_EQ(Graph().m_state.load(), State_Paused);
}

}  // namespace
