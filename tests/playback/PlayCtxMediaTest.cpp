// The play context on the real graph with the generated clips: opening,
// the first frame, playing to the end, the selection stop, a playlist of
// three clips played through, and a missing file.
#include <gtest/gtest.h>

#include <vector>

#include "playback/PlayCtx.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"
#include "tests/media/TestMedia.h"
#include "tests/platform/xml/LoopbackHttpServer.h"
#include "tests/playback/PlaybackTestUtil.h"

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;

class CRecordingNotify : public IPlayNotify {
public:
    void OnPlayEnd(CPlayCtx*) override { ++m_ends; }
    void OnPlayListChanged(CPlayCtx*) override { ++m_changes; }
    void OnPlayNotify(CPlayCtx* ctx, int32_t code, int32_t param) override {
        m_codes.emplace_back(code, param);
        if (code == PN_OPEN_DONE)
            m_openedClips.push_back(ctx->GetCurrentClip());
    }
    int m_ends = 0;
    int m_changes = 0;
    std::vector<std::pair<int32_t, int32_t>> m_codes;
    std::vector<int> m_openedClips;
};

using Codes = std::vector<std::pair<int32_t, int32_t>>;

class PlayCtxMediaTest : public testing::Test {
protected:
    void SetUp() override {
        vtest::EnsureApplication();
        m_ctx.Create(&m_notify);
    }
    void TearDown() override {
        m_ctx.Close();
        m_ctx.Shutdown();
    }
    CRecordingNotify m_notify;
    CPlayCtx m_ctx;
};

struct Clip {
    std::string path;
    REFERENCE_TIME duration;
    REFERENCE_TIME frame;  // 0: no video
};

TEST_F(PlayCtxMediaTest, EveryClipOpensPausedAndPlaysToItsEnd) {
    std::vector<Clip> clips = {{testmedia::VideoAudio(), 2 * kSecond, 400000},
                               {testmedia::Video25(), 3 * kSecond, 400000},
                               {testmedia::Video30(), 2 * kSecond, 333333},
                               {testmedia::AudioOnly(), 2 * kSecond, 0},
                               {testmedia::Interlaced(), 1 * kSecond, 400000}};
    for (const Clip& clip : clips) {
        SCOPED_TRACE(clip.path);
        m_notify = CRecordingNotify();
        m_ctx.Open(clip.path);
        EXPECT_EQ(m_notify.m_codes, (Codes{{PN_OPEN_BEGIN, 0}, {PN_OPEN_DONE, 0}}));
        EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayPaused);
        EXPECT_NEAR(double(m_ctx.GetDuration()), double(clip.duration), 0.1 * kSecond);
        EXPECT_EQ(m_ctx.HasVideo(), clip.frame != 0);
        if (clip.frame != 0) {
            EXPECT_NEAR(double(m_ctx.GetFrameDuration()), double(clip.frame), 2.0);
        }
        EXPECT_EQ(m_ctx.GetPollInterval(), -1);
        m_ctx.Run();
        EXPECT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }, 30000));
        EXPECT_TRUE(m_ctx.IsAtEnd());
        m_ctx.Close();
    }
}

// A media file over plain HTTP: from a server without range requests it is
// read from start to end and never sent a seek (pause and stop keep the
// place, the seek commands are off); from one with ranges it plays and seeks.
TEST_F(PlayCtxMediaTest, HttpSourcesSeekOnlyWhenTheServerTakesRanges) {
    for (bool ranges : {false, true}) {
        SCOPED_TRACE(ranges ? "ranges" : "no ranges");
        vtest::CLoopbackHttpServer server;
        server.ServeMedia("/clip", vtest::ReadFile(testmedia::Video25()), "video/webm", ranges);
        const std::string url = server.BaseUrl() + "/clip";
        auto info = vtest::RunVelotrax({"info", url});
        EXPECT_NE(info.out.find(ranges ? "seekable=1" : "seekable=0"), std::string::npos)
            << info.out << info.err;
        m_notify = CRecordingNotify();
        m_ctx.Open(url);
        EXPECT_EQ(m_ctx.CanSeek(), ranges);
        EXPECT_EQ(m_ctx.CanChangeRate(), ranges);
        m_ctx.Run();
        ASSERT_TRUE(vtest::PumpUntil([&] { return m_ctx.GetPosition() > kSecond / 2; }, 30000));
        m_ctx.Pause();
        const REFERENCE_TIME paused = m_ctx.GetPosition();
        m_ctx.Stop();
        EXPECT_NEAR(double(m_ctx.GetPosition()), double(paused), 0.1 * kSecond);
        if (ranges) {
            m_ctx.Seek(2 * kSecond, false);
            EXPECT_NEAR(double(m_ctx.GetPosition()), 2.0 * kSecond, 0.1 * kSecond);
        }
        m_ctx.Run();
        EXPECT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }, 30000));
        EXPECT_EQ(server.RangeRequests() > 0, ranges);
        m_ctx.Close();
    }
}

TEST_F(PlayCtxMediaTest, SelectionStopEndsThePlayEarly) {
    m_ctx.Open(testmedia::Video25());
    ASSERT_TRUE(m_ctx.SetSelection(kSecond / 2, kSecond));
    EXPECT_EQ(m_ctx.Seek(0, true), kSecond / 2);
    m_ctx.Run();
    ASSERT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }, 30000));
    REFERENCE_TIME pos = m_ctx.GetPosition();
    EXPECT_GE(pos, kSecond - 400000);
    EXPECT_LT(pos, 2 * kSecond);
    EXPECT_TRUE(m_ctx.IsAtSelectionStop());
}

TEST_F(PlayCtxMediaTest, PlaylistOfThreeClipsPlaysThrough) {
    vtest::TempDir dir;
    std::string asx = dir.File("show.asx");
    vtest::WriteFile(asx,
                     "<asx version=\"3.0\">"
                     "<entry><ref href=\"" +
                         testmedia::Video25() +
                         "\"/><duration value=\"0:0:1\"/></entry>"
                         "<entry><ref href=\"" +
                         testmedia::Video25() +
                         "\"/><starttime value=\"0:0:2\"/></entry>"
                         "<entry><ref href=\"" +
                         testmedia::Video30() +
                         "\"/></entry>"
                         "</asx>");
    m_ctx.Open(asx);
    ASSERT_EQ(m_ctx.GetCurrentClip(), 0);
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayPaused);
    // Seeking across clips on the playlist time line: 1.5 s lies in clip 1.
    m_ctx.Seek(kSecond + kSecond / 2, false);
    EXPECT_EQ(m_ctx.GetCurrentClip(), 1);
    m_ctx.Seek(0, false);
    EXPECT_EQ(m_ctx.GetCurrentClip(), 0);

    m_ctx.Run();
    ASSERT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }, 40000));
    EXPECT_EQ(m_ctx.GetCurrentClip(), 2);
    // The second file was opened once, for clip 2, while running.
    ASSERT_EQ(m_notify.m_openedClips.size(), 2u);
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayRunning);
    EXPECT_NEAR(double(m_ctx.GetDuration()), 4.0 * kSecond, 0.2 * kSecond);
}

TEST_F(PlayCtxMediaTest, MissingFileIsReportedByName) {
    vtest::TempDir dir;
    std::string missing = dir.File("nothing.webm");
    try {
        m_ctx.Open(missing);
        FAIL() << "opened a missing file";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetErrorMessage(), "The file \"" + missing + "\" could not be found.");
    }
    EXPECT_EQ(m_notify.m_codes, (Codes{{PN_OPEN_BEGIN, 0}, {PN_OPEN_FAILED, 0}}));
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayNone);
}

}  // namespace

namespace {

bool GraphHasReader(CPlayCtx& ctx) {
    IGraphBuilder* graph = ctx.GetGraph()->GetGraph();
    CComPtr<IBaseFilter> reader;
    return graph && SUCCEEDED(graph->FindFilterByName("WM ASF Reader", &reader)) && reader;
}

TEST_F(PlayCtxMediaTest, WindowsMediaUrlsGoThroughTheNetworkReader) {
    vtest::TempDir dir;
    std::string copy = dir.File("clip.wmv");
    vtest::WriteFile(copy, vtest::ReadFile(testmedia::VideoAudio()));
    std::string url = "file://" + copy;
    ASSERT_TRUE(CPlayCtx::UsesNetworkReader(url));
    m_ctx.Open(url);
    EXPECT_TRUE(GraphHasReader(m_ctx));
    // Buffering states are reported for reader sources only.
    EXPECT_EQ(
        m_notify.m_codes,
        (Codes{{PN_OPEN_BEGIN, 1}, {PN_OPEN_DONE, 0}, {PN_STATE_BEGIN, 0}, {PN_STATE_DONE, 0}}));
    EXPECT_FALSE(m_ctx.IsSeekRestricted());
    EXPECT_TRUE(m_ctx.CanSeek());
    // Opening answered after the first frame: the renderer exists.
    EXPECT_TRUE(m_ctx.HasVideo());
    EXPECT_GT(m_ctx.GetDuration(), 0);
    EXPECT_NEAR(double(m_ctx.GetDuration()), 2.0 * kSecond, 0.1 * kSecond);
    m_ctx.RunOrPause(true);
    EXPECT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }, 30000));
}

// Bytes no demultiplexer knows fail through the reader as they do plainly.
TEST_F(PlayCtxMediaTest, UnplayableBytesThroughTheReaderFailLikeThePlainPath) {
    vtest::TempDir dir;
    std::string junk = dir.File("junk.wmv");
    std::string bytes(64 * 1024, '\0');
    uint32_t x = 12345;
    for (char& c : bytes)
        c = char((x = x * 1103515245u + 12345u) >> 24);
    vtest::WriteFile(junk, bytes);
    auto errorOf = [&](const std::string& name) {
        try {
            m_ctx.Open(name);
        } catch (const CComException& e) {
            return e.Error();
        }
        return S_OK;
    };
    HRESULT plain = errorOf(junk);
    EXPECT_TRUE(FAILED(plain));
    EXPECT_EQ(errorOf("file://" + junk), plain);
    EXPECT_FALSE(GraphHasReader(m_ctx));
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayNone);
}

TEST_F(PlayCtxMediaTest, AFailingReaderLeavesNoTraceAndTheNameIsRenderedPlainly) {
    vtest::TempDir dir;
    std::string url = "file://" + dir.File("missing.wmv");
    EXPECT_THROW(m_ctx.Open(url), CException);
    EXPECT_FALSE(GraphHasReader(m_ctx));
    EXPECT_EQ(m_notify.m_codes.back(), (std::pair<int32_t, int32_t>(PN_OPEN_FAILED, 0)));
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayNone);

    // A name the reader cannot take at all is still played by the graph.
    m_notify.m_codes.clear();
    std::string local = dir.File("clip.wmv");
    vtest::WriteFile(local, vtest::ReadFile(testmedia::Video25()));
    m_ctx.Open(local);
    EXPECT_FALSE(GraphHasReader(m_ctx));
    EXPECT_EQ(m_notify.m_codes, (Codes{{PN_OPEN_BEGIN, 0}, {PN_OPEN_DONE, 0}}));
}

}  // namespace

namespace {

TEST_F(PlayCtxMediaTest, SavedGraphsAreLoadedAndPlayed) {
    vtest::TempDir dir;
    std::string saved = dir.File("saved.GRF");
    vtest::WriteFile(
        saved, "filesrc location=\"" + testmedia::Video25() + "\" ! matroskademux ! vp8dec\n");
    m_ctx.Open(saved);
    EXPECT_EQ(m_notify.m_codes, (Codes{{PN_OPEN_BEGIN, 0}, {PN_OPEN_DONE, 0}}));
    EXPECT_TRUE(m_ctx.HasVideo());
    EXPECT_EQ(m_ctx.GetMediaName(), saved);
    m_ctx.Run();
    EXPECT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }, 30000));
}

}  // namespace
