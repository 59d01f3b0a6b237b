// Editing timelines end to end: XTL files over the generated clips, opened
// by the play context and rendered through GES into the graph. Frames carry
// their number, so a frame on the timeline tells which source frame it is.
#include <gtest/gtest.h>

#include <filesystem>

#include "playback/PlayCtx.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"
#include "tests/media/TestMedia.h"
#include "tests/playback/PlaybackTestUtil.h"

namespace {

constexpr REFERENCE_TIME kFrame = 400000;  // 25 fps

class CEndNotify : public IPlayNotify {
public:
    void OnPlayEnd(CPlayCtx*) override { ++m_ends; }
    void OnPlayListChanged(CPlayCtx*) override {}
    void OnPlayNotify(CPlayCtx*, int32_t, int32_t) override {}
    int m_ends = 0;
};

// Three clips of the 25 fps clip: source frames 10..19, 50..69 and 0..9.
std::string ThreeClips(const std::string& src) {
    return "<timeline><group type=\"video\" framerate=\"25\">"
           "<track>"
           "<clip src=\"" +
           src +
           "\" start=\"0\" stop=\"0.4\" mstart=\"0.4\"/>"
           "<clip src=\"" +
           src +
           "\" start=\"00:00:00.400\" stop=\"00:00:01.200\" mstart=\"2\"/>"
           "<clip src=\"" +
           src +
           "\" start=\"1.2\" stop=\"1.6\"/>"
           "</track></group></timeline>";
}

class TimelineMediaTest : public testing::Test {
protected:
    void SetUp() override {
        vtest::EnsureApplication();
        m_ctx.Create(&m_notify);
    }
    void TearDown() override {
        m_ctx.Close();
        m_ctx.Shutdown();
    }
    std::string Write(const std::string& name, const std::string& xtl) {
        std::string path = m_dir.File(name);
        vtest::WriteFile(path, xtl);
        return path;
    }
    int FrameAt(REFERENCE_TIME t) {
        m_ctx.Seek(t, false);
        m_ctx.GetGraph()->WaitForState();
        std::vector<BYTE> dib;
        if (!m_ctx.GetGraph()->GetCurrentImage(dib))
            return -2;
        return testmedia::FrameNumberFromDib(dib.data());
    }
    std::string OpenError(const std::string& path) {
        try {
            m_ctx.Open(path);
        } catch (const CException& e) {
            return e.GetErrorMessage();
        }
        return "(opened)";
    }

    vtest::TempDir m_dir;
    CEndNotify m_notify;
    CPlayCtx m_ctx;
};

TEST_F(TimelineMediaTest, ThreeClipsShowTheSourceFramesTheTimelineNamesAndPlayToTheEnd) {
    m_ctx.Open(Write("three.xtl", ThreeClips(testmedia::Video25())));
    EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayPaused);
    EXPECT_TRUE(m_ctx.HasTimeline());
    EXPECT_EQ(m_ctx.GetDuration(), 40 * kFrame);
    EXPECT_EQ(m_ctx.GetFrameDuration(), kFrame);
    struct {
        int timelineFrame, sourceFrame;
    } cases[] = {{0, 10}, {5, 15}, {9, 19}, {10, 50}, {25, 65}, {29, 69}, {30, 0}, {39, 9}};
    for (auto c : cases)
        EXPECT_EQ(FrameAt(c.timelineFrame * kFrame), c.sourceFrame) << "frame " << c.timelineFrame;

    m_ctx.Seek(0, false);
    m_ctx.Run();
    EXPECT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }, 30000));
    EXPECT_TRUE(m_ctx.IsAtEnd());
}

TEST_F(TimelineMediaTest, AVideoGroupBeforeAnAudioGroupRendersBoth) {
    // Each output of the timeline is rendered on its own; the first must
    // not be lost while the graph waits for its first frame.
    std::string src = testmedia::VideoAudio();
    m_ctx.Open(Write("av.xtl", "<timeline><group type='video' framerate='25'><track><clip src='" +
                                   src +
                                   "' start='0' stop='1' mstart='0.4'/></track></group>"
                                   "<group type='audio'><track><clip src='" +
                                   src + "' start='0' stop='1'/></track></group></timeline>"));
    EXPECT_TRUE(m_ctx.HasVideo());
    EXPECT_TRUE(m_ctx.GetGraph()->FindAudioFilter() != nullptr);
    EXPECT_EQ(FrameAt(5 * kFrame), 15);
    m_ctx.Seek(0, false);
    m_ctx.Run();
    EXPECT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }, 30000));
}

class CNotes : public CUnknownImpl<CNotes, IAMErrorLog> {
public:
    HRESULT LogError(long, const std::string& text, long, HRESULT hr, const DES_VARIANT*) override {
        m_all += text + "\n";
        return hr;
    }
    std::string m_all;
};

TEST_F(TimelineMediaTest, WhatTheRenderEngineLeavesOutIsLogged) {
    CVaAMTimeline timeline;
    timeline.Create();
    CComPtr<CNotes> notes;
    notes.Attach(new CNotes());
    notes->AddRef();
    timeline.SetErrorLog(notes);
    CVaXml2Dex reader;
    reader.Create();
    std::string src = testmedia::Video25();  // 3 s
    reader.ReadXML(timeline, "<timeline><group type='video'><track><clip src='" + src +
                                 "' start='0' stop='4' mstart='1'/></track></group>"
                                 "<group type='video'><track><clip src='" +
                                 src + "' start='0' stop='1'/></track></group></timeline>");
    m_ctx.GetGraph()->EnsureGraph();
    CVaRenderEngine engine;
    engine.Create();
    engine.SetTimelineObject(timeline);
    engine.SetFilterGraph(m_ctx.GetGraph()->GetGraph());
    engine.ConnectFrontEnd();
    for (const char* note : {"runs past the end of its source", "Only the first video group"})
        EXPECT_NE(notes->m_all.find(note), std::string::npos) << note << " in\n" << notes->m_all;
}

TEST_F(TimelineMediaTest, MovedSourcesAreFoundInTheSearchFolder) {
    // The timeline names the clip where it was made; the clip now lies
    // beside the timeline file, then in a separate search folder.
    std::filesystem::copy_file(testmedia::Video25(), m_dir.File("clip.webm"));
    std::string xtl = Write("moved.xtl", ThreeClips("C:\\Media\\Show\\clip.webm"));
    m_ctx.Open(xtl);
    EXPECT_EQ(FrameAt(10 * kFrame), 50);
    m_ctx.Close();

    vtest::TempDir other;
    std::string elsewhere = other.File("moved.xtl");
    std::filesystem::copy_file(xtl, elsewhere);
    EXPECT_NE(OpenError(elsewhere).find("clip.webm"), std::string::npos);
    m_ctx.SetSearchDirectory(m_dir.Path());
    m_ctx.Open(elsewhere);
    EXPECT_EQ(m_ctx.GetDuration(), 40 * kFrame);
}

TEST_F(TimelineMediaTest, UnplayableSourcesAreRefusedNamingThem) {
    struct {
        const char* src;
        const char* named;
    } cases[] = {
        {"/no/such/folder/lost.webm", "lost.webm"}, {"/dev/zero", "/dev/zero"}, {"/tmp", "/tmp"}};
    for (auto c : cases) {
        std::string message = OpenError(Write("bad.xtl", ThreeClips(c.src)));
        EXPECT_NE(message.find(c.named), std::string::npos) << message;
        EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayNone);
    }
}

TEST_F(TimelineMediaTest, DoubleRateDeinterlacingDoublesTheOutputRate) {
    m_ctx.Open(Write("three.xtl", ThreeClips(testmedia::Video25())));
    m_ctx.SetDeinterlaceSettings(3, 0, 0);
    m_ctx.SetDeinterlace(true);
    EXPECT_EQ(m_ctx.GetFrameDuration(), kFrame / 2);
    EXPECT_EQ(m_ctx.GetDuration(), 40 * kFrame);
    m_ctx.SetDeinterlace(false);
    EXPECT_EQ(m_ctx.GetFrameDuration(), kFrame);
}

TEST_F(TimelineMediaTest, CommandsListPlayAndDescribeATimeline) {
    std::filesystem::copy_file(testmedia::Video25(), m_dir.File("clip.webm"));
    vtest::TempDir other;
    std::string xtl = other.File("show.xtl");
    vtest::WriteFile(xtl, ThreeClips("C:\\Media\\clip.webm"));
    auto info = vtest::RunVelotrax({"info", "--search", m_dir.Path(), xtl});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("duration=16000000\n"), std::string::npos) << info.out;
    auto missing = vtest::RunVelotrax({"info", xtl});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("C:\\Media\\clip.webm"), std::string::npos) << missing.err;
    auto list = vtest::RunVelotrax({"playlist", xtl});
    EXPECT_EQ(list.out,
              "0\t0\t4000000\t4000000\t8000000\tC:\\Media\\clip.webm\t\t\n"
              "1\t4000000\t12000000\t20000000\t28000000\tC:\\Media\\clip.webm\t\t\n"
              "2\t12000000\t16000000\t0\t4000000\tC:\\Media\\clip.webm\t\t\n");
    auto play = vtest::RunVelotrax({"play", "--headless", "--search", m_dir.Path(), xtl});
    EXPECT_EQ(play.exitCode, 0) << play.err;
    EXPECT_NE(play.out.find("play-end"), std::string::npos) << play.out;
}

}  // namespace
