// The wrapper on the real graph with generated clips: rendering, pausing,
// running to the end in both delivery modes, seeking, stop positions,
// rates through seeking and through the scaled clock, volume, building
// operations and bad files.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <algorithm>
#include <functional>

#include "platform/dshow/DShow.h"
#include "platform/dshow/ElementFilter.h"
#include "platform/sync/Sync.h"
#include "playback/VaFilterGraph.h"
#include "playback/VaScaledReferenceClock.h"
#include "support/Exception.h"
#include "support/RefTime.h"
#include "tests/TestSupport.h"
#include "tests/media/TestMedia.h"

namespace {

constexpr REFERENCE_TIME kFrame25 = UNITS / 25;

QCoreApplication* App() {
    static int argc = 1;
    static char name[] = "playback_media_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                                : new QCoreApplication(argc, argv);
    return app;
}

HRESULT ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CComException& e) {
        return e.Error();
    }
    return S_OK;
}

// Runs the event loop until done() holds, at most timeoutMs.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

struct CRecordingSink : CVaCheckEvent {
    void OnEvent(long code, LONG_PTR p1, LONG_PTR p2) override {
        codes.push_back(code);
        params.push_back(p1);
        (void)p2;
    }
    bool Saw(long code) const { return std::find(codes.begin(), codes.end(), code) != codes.end(); }
    std::vector<long> codes;
    std::vector<LONG_PTR> params;
};

REFERENCE_TIME Now() {
    static CComPtr<IReferenceClock> clock = [] {
        CComPtr<IReferenceClock> c;
        c.CreateInstance(CLSID_SystemClock);
        return c;
    }();
    REFERENCE_TIME t = 0;
    clock->GetTime(&t);
    return t;
}

struct GraphMedia : testing::Test {
    void SetUp() override { App(); }

    void Open(const std::string& path) {
        graph->Reset(true);
        graph->RenderFile(path);
    }
    // Pauses and waits until the first frame is shown.
    void PauseAndWait() {
        graph->Pause();
        graph->WaitForState();
        ASSERT_EQ(graph->GetState(), 2);
    }
    int ShownFrame() {
        std::vector<BYTE> dib;
        BYTE* bits = nullptr;
        if (!graph->GetCurrentImage(dib, &bits))
            return -2;
        return testmedia::FrameNumberFromDib(dib.data());
    }
    // Waits in handle mode until the sink has seen 'code'.
    bool WaitForEvent(CEvent* handle, CRecordingSink& sink, long code, int timeoutMs = 15000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!sink.Saw(code)) {
            if (deadline.hasExpired())
                return false;
            WaitForSingleObject(*handle, 100);
            graph->ProcessEvents(&sink);
        }
        return true;
    }
    CVaFilterGraph graph;
};

TEST_F(GraphMedia, RenderAndPauseShowsTheFirstFrame) {
    Open(testmedia::Video25());
    EXPECT_TRUE(graph->HasVideo());
    EXPECT_FALSE(graph->FindAudioFilter());
    EXPECT_EQ(graph->GetState(), 1);
    EXPECT_NEAR(graph->GetDuration(), 3 * UNITS, kFrame25);
    PauseAndWait();
    EXPECT_EQ(ShownFrame(), 0);
    QImage image = graph->GetCurrentBitmap();
    EXPECT_EQ(image.width(), testmedia::kWidth);
    EXPECT_EQ(image.height(), testmedia::kHeight);
    EXPECT_FALSE(graph->IsInterlaced());
}

TEST_F(GraphMedia, CompletionArrivesThroughTheNotificationObject) {
    Open(testmedia::Video25());
    graph->SetStopPosition(8 * kFrame25);
    graph->Run();
    EXPECT_TRUE(PumpUntil([&] { return graph->GetRememberedEvent() == EC_COMPLETE; }));
}

TEST_F(GraphMedia, CompletionArrivesThroughTheEventHandle) {
    Open(testmedia::VideoAudio());
    CEvent* handle = graph->GetEventHandle();
    ASSERT_NE(handle, nullptr);
    graph->Run();
    CRecordingSink sink;
    EXPECT_TRUE(WaitForEvent(handle, sink, EC_COMPLETE));
    EXPECT_FALSE(sink.Saw(EC_ERRORABORT));
    // The end of the media is where playback ended.
    EXPECT_NEAR(graph->GetCurrentPosition(), 2 * UNITS, 2 * kFrame25);
}

TEST_F(GraphMedia, CompletionBeforeTheWorkerAttachedIsDeliveredFirst) {
    Open(testmedia::Video25());
    graph->SetStopPosition(4 * kFrame25);
    graph->Run();
    ASSERT_TRUE(PumpUntil([&] { return graph->GetRememberedEvent() == EC_COMPLETE; }));
    CEvent* handle = graph->GetEventHandle();
    ASSERT_NE(handle, nullptr);
    CRecordingSink sink;
    EXPECT_EQ(graph->ProcessEvents(&sink), E_ABORT);
    ASSERT_FALSE(sink.codes.empty());
    EXPECT_EQ(sink.codes[0], EC_COMPLETE);
    EXPECT_EQ(sink.params[0], 0);
}

TEST_F(GraphMedia, SeekToAFrameShowsThatFrameAndStopKeepsThePosition) {
    Open(testmedia::Video25());
    PauseAndWait();
    for (int n : {17, 3, 60, 42}) {
        graph->SetCurrentPosition(n * kFrame25);
        graph->WaitForState();
        EXPECT_EQ(ShownFrame(), n) << "seek to frame " << n;
        EXPECT_EQ(graph->GetCurrentPosition(), n * kFrame25);
    }
    graph->Stop();
    graph->WaitForState();
    EXPECT_EQ(graph->GetState(), 1);
    EXPECT_EQ(graph->GetCurrentPosition(), 42 * kFrame25);
    PauseAndWait();
    EXPECT_EQ(ShownFrame(), 42);
}

TEST_F(GraphMedia, StopPositionEndsPlaybackThere) {
    Open(testmedia::Video25());
    CEvent* handle = graph->GetEventHandle();
    graph->SetCurrentPosition(10 * kFrame25);
    graph->SetStopPosition(20 * kFrame25);
    graph->Run();
    CRecordingSink sink;
    ASSERT_TRUE(WaitForEvent(handle, sink, EC_COMPLETE));
    REFERENCE_TIME end = graph->GetCurrentPosition();
    EXPECT_GE(end, 19 * kFrame25);
    EXPECT_LE(end, 20 * kFrame25);
    int frame = ShownFrame();
    EXPECT_GE(frame, 18);
    EXPECT_LE(frame, 19);
}

// Plays from 'from' until the position passes 'to' and answers how much
// real time that took.
REFERENCE_TIME TimeToPlay(CVaFilterGraph& graph, REFERENCE_TIME to) {
    REFERENCE_TIME start = Now();
    graph->Run();
    QDeadlineTimer deadline(15000);
    while (graph->GetCurrentPosition() < to && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    REFERENCE_TIME elapsed = Now() - start;
    graph->Pause();
    return elapsed;
}

// Plays until the position passes 'to' and answers how fast the media
// advanced against real time between 'from' and 'to'. A running graph takes
// its position from its clock, so the answer does not depend on how fast the
// machine decodes.
double RateOfPlay(CVaFilterGraph& graph, REFERENCE_TIME from, REFERENCE_TIME to) {
    graph->Run();
    QDeadlineTimer deadline(15000);
    auto waitFor = [&](REFERENCE_TIME target, REFERENCE_TIME& position, REFERENCE_TIME& when) {
        while (!deadline.hasExpired()) {
            when = Now();
            position = graph->GetCurrentPosition();
            if (position >= target)
                return;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    };
    REFERENCE_TIME p1 = 0, t1 = 0, p2 = 0, t2 = 0;
    waitFor(from, p1, t1);
    waitFor(to, p2, t2);
    graph->Pause();
    return t2 > t1 ? double(p2 - p1) / double(t2 - t1) : 0.0;
}

TEST_F(GraphMedia, RatesThroughSeeking) {
    Open(testmedia::Video25());
    PauseAndWait();
    EXPECT_FALSE(graph->SetRate(2.0));
    EXPECT_DOUBLE_EQ(graph->GetRate(), 2.0);
    EXPECT_EQ(graph->GetScaledClock(), nullptr);
    graph->WaitForState();
    EXPECT_EQ(graph->GetState(), 2);
    // The media advances twice as fast as real time.
    double rate = RateOfPlay(graph, 5 * kFrame25, 30 * kFrame25);
    EXPECT_GT(rate, 1.6);
    EXPECT_LT(rate, 2.4);

    graph->SetCurrentPosition(0);
    graph->WaitForState();
    EXPECT_FALSE(graph->SetRate(0.5));
    EXPECT_DOUBLE_EQ(graph->GetRate(), 0.5);
    // 0.4 s of media cannot take less than 0.8 s at half speed.
    EXPECT_GE(TimeToPlay(graph, 10 * kFrame25), 19 * kFrame25);
    EXPECT_FALSE(graph->SetRate(1.0));
    EXPECT_DOUBLE_EQ(graph->GetRate(), 1.0);
}

// Seeking that refuses every rate, as some sources do.
class CRefusingSeeking : public CUnknownImpl<CRefusingSeeking, IMediaSeeking> {
public:
    explicit CRefusingSeeking(IMediaSeeking* inner) : m_inner(inner) {}
    HRESULT GetCapabilities(DWORD* c) override { return m_inner->GetCapabilities(c); }
    HRESULT CheckCapabilities(DWORD* c) override { return m_inner->CheckCapabilities(c); }
    HRESULT IsFormatSupported(const GUID* f) override { return m_inner->IsFormatSupported(f); }
    HRESULT QueryPreferredFormat(GUID* f) override { return m_inner->QueryPreferredFormat(f); }
    HRESULT GetTimeFormat(GUID* f) override { return m_inner->GetTimeFormat(f); }
    HRESULT IsUsingTimeFormat(const GUID* f) override { return m_inner->IsUsingTimeFormat(f); }
    HRESULT SetTimeFormat(const GUID* f) override { return m_inner->SetTimeFormat(f); }
    HRESULT GetDuration(LONGLONG* d) override { return m_inner->GetDuration(d); }
    HRESULT GetStopPosition(LONGLONG* s) override { return m_inner->GetStopPosition(s); }
    HRESULT GetCurrentPosition(LONGLONG* p) override { return m_inner->GetCurrentPosition(p); }
    HRESULT ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG s, const GUID* sf) override {
        return m_inner->ConvertTimeFormat(t, tf, s, sf);
    }
    HRESULT SetPositions(LONGLONG* c, DWORD cf, LONGLONG* s, DWORD sf) override {
        return m_inner->SetPositions(c, cf, s, sf);
    }
    HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override { return m_inner->GetPositions(c, s); }
    HRESULT GetAvailable(LONGLONG* e, LONGLONG* l) override { return m_inner->GetAvailable(e, l); }
    HRESULT SetRate(double) override { return E_NOTIMPL; }
    HRESULT GetRate(double* r) override { return m_inner->GetRate(r); }
    HRESULT GetPreroll(LONGLONG* p) override { return m_inner->GetPreroll(p); }

private:
    CComPtr<IMediaSeeking> m_inner;
};

TEST_F(GraphMedia, RefusedRatePlaysOnTheScaledClock) {
    Open(testmedia::Video25());
    graph->SetSeeking(new CRefusingSeeking(graph->GetMediaSeeking()));
    PauseAndWait();

    EXPECT_TRUE(graph->SetRate(0.5));
    CVaScaledReferenceClock* scaled = graph->GetScaledClock();
    ASSERT_NE(scaled, nullptr);
    graph->WaitForState();
    EXPECT_EQ(graph->GetState(), 2);  // paused again after the clock change
    CComPtr<IMediaFilter> mediaFilter(graph->GetGraph());
    CComPtr<IReferenceClock> source;
    mediaFilter->GetSyncSource(&source);
    EXPECT_EQ(source.Get(), static_cast<IReferenceClock*>(scaled));
    source.Detach();  // the wrapper owns the scaled clock

    // The media advances with the scaled clock: half as fast as real time.
    REFERENCE_TIME scaledStart = 0;
    scaled->GetTime(&scaledStart);
    REFERENCE_TIME positionStart = graph->GetCurrentPosition();
    REFERENCE_TIME real = TimeToPlay(graph, positionStart + 10 * kFrame25);
    REFERENCE_TIME scaledEnd = 0;
    scaled->GetTime(&scaledEnd);
    REFERENCE_TIME advanced = graph->GetCurrentPosition() - positionStart;
    EXPECT_GE(real, 19 * kFrame25);
    EXPECT_LE(advanced, scaledEnd - scaledStart + 2 * kFrame25);

    // A second rate only retunes the clock; normal rate removes it.
    EXPECT_TRUE(graph->SetRate(2.0));
    EXPECT_EQ(graph->GetScaledClock(), scaled);
    EXPECT_DOUBLE_EQ(graph->GetRate(), 2.0);
    REFERENCE_TIME here = graph->GetCurrentPosition();
    double rate = RateOfPlay(graph, here + 5 * kFrame25, here + 25 * kFrame25);
    EXPECT_GT(rate, 1.6);
    EXPECT_LT(rate, 2.4);
    EXPECT_FALSE(graph->SetRate(1.0));
    EXPECT_EQ(graph->GetScaledClock(), nullptr);
    mediaFilter->GetSyncSource(&source);
    EXPECT_NE(source.Get(), static_cast<IReferenceClock*>(scaled));
    graph->WaitForState();
    EXPECT_EQ(graph->GetState(), 2);
}

// Lowering the scaled clock's rate while playing keeps its time running
// (it once fell back, and the pipeline clock stood still for hours).
TEST_F(GraphMedia, LoweringTheScaledRateWhilePlayingKeepsThePositionMoving) {
    Open(testmedia::Video25());
    graph->SetSeeking(new CRefusingSeeking(graph->GetMediaSeeking()));
    PauseAndWait();
    ASSERT_TRUE(graph->SetRate(2.0));
    graph->Run();
    REFERENCE_TIME start = graph->GetCurrentPosition();
    ASSERT_TRUE(PumpUntil([&] { return graph->GetCurrentPosition() > start + 5 * kFrame25; }));
    ASSERT_TRUE(graph->SetRate(0.5));
    graph->WaitForState();
    REFERENCE_TIME here = graph->GetCurrentPosition();
    EXPECT_TRUE(PumpUntil([&] { return graph->GetCurrentPosition() > here + kFrame25; }));
}

TEST_F(GraphMedia, VolumeMapsOntoTheAudioRenderer) {
    Open(testmedia::VideoAudio());
    CComPtr<IBaseFilter> audioFilter = graph->FindAudioFilter();
    ASSERT_TRUE(audioFilter);
    CComPtr<IBasicAudio> audio(audioFilter.Get());
    ASSERT_TRUE(audio);
    ASSERT_EQ(audio->put_Volume(-10000), S_OK);
    EXPECT_EQ(graph->GetVolume(), 0);
    ASSERT_EQ(audio->put_Volume(-5000), S_OK);
    EXPECT_EQ(graph->GetVolume(), 50);
    EXPECT_FALSE(graph->SetVolume(101));
    EXPECT_EQ(graph->GetVolume(), 50);
    EXPECT_TRUE(graph->SetVolume(80));
    LONG volume = 0;
    audio->get_Volume(&volume);
    EXPECT_EQ(volume, -2000);
}

TEST_F(GraphMedia, ResetKeepsAnEmptyGraph) {
    graph->Reset(true);
    IGraphBuilder* empty = graph->GetGraph();
    EXPECT_FALSE(graph->Reset(false));
    EXPECT_EQ(graph->GetGraph(), empty);
    graph->RenderFile(testmedia::Video25());
    EXPECT_TRUE(graph->Reset(false));
    EXPECT_FALSE(graph->FindVideoWindowFilter());
}

TEST_F(GraphMedia, SearchFindsRenderersAndTheirUpstreamFilters) {
    Open(testmedia::VideoAudio());
    CComPtr<IBaseFilter> video = graph->FindVideoWindowFilter();
    CComPtr<IBaseFilter> audio = graph->FindAudioFilter();
    ASSERT_TRUE(video);
    ASSERT_TRUE(audio);
    EXPECT_EQ(graph->FindFilterByInterface(IBasicVideo::iid).Get(), video.Get());
    EXPECT_FALSE(graph->FindFilterByInterface(IAMExtDevice::iid));
    CLSID audioClass{};
    audio->GetClassID(&audioClass);
    EXPECT_EQ(audioClass, CLSID_DSoundRender);

    CComPtr<IBaseFilter> upstream = CVaFilterGraphRep::GetConnectedFilter(video, PINDIR_INPUT);
    ASSERT_TRUE(upstream);
    EXPECT_NE(upstream.Get(), video.Get());
    // Every output pin of the filter in front of the renderer is in use.
    EXPECT_EQ(ErrorOf([&] { graph->RenderOutputPins(upstream); }), VFW_E_ALREADY_CONNECTED);
}

TEST_F(GraphMedia, ConnectThroughSplicesAMiddleFilterInFrontOfTheRenderer) {
    Open(testmedia::Video25());
    CComPtr<IBaseFilter> renderer = graph->FindVideoWindowFilter();
    ASSERT_TRUE(renderer);
    CComPtr<IBaseFilter> upstream = CVaFilterGraphRep::GetConnectedFilter(renderer, PINDIR_INPUT);
    ASSERT_TRUE(upstream);
    graph->DisconnectPins(renderer, PINDIR_INPUT);
    EXPECT_FALSE(CVaFilterGraphRep::GetConnectedFilter(renderer, PINDIR_INPUT));

    CComPtr<IBaseFilter> middle = CreateElementFilter("identity", "middle");
    ASSERT_TRUE(middle);
    graph->AddFilter(middle, "middle");
    graph->ConnectThrough(upstream, middle, renderer);
    EXPECT_EQ(CVaFilterGraphRep::GetConnectedFilter(renderer, PINDIR_INPUT).Get(), middle.Get());
    PauseAndWait();
    EXPECT_EQ(ShownFrame(), 0);
    graph->SetCurrentPosition(12 * kFrame25);
    graph->WaitForState();
    EXPECT_EQ(ShownFrame(), 12);
}

TEST_F(GraphMedia, InterlacedClipIsReportedInterlaced) {
    Open(testmedia::Interlaced());
    PauseAndWait();
    EXPECT_TRUE(graph->IsInterlaced());
}

TEST_F(GraphMedia, FrameStepShowsTheNextFrame) {
    Open(testmedia::Video25());
    PauseAndWait();
    graph->SetCurrentPosition(5 * kFrame25);
    graph->WaitForState();
    ASSERT_EQ(ShownFrame(), 5);
    CEvent* handle = graph->GetEventHandle();
    ASSERT_TRUE(graph->StepFrame());
    CRecordingSink sink;
    ASSERT_TRUE(WaitForEvent(handle, sink, EC_STEP_COMPLETE));
    EXPECT_EQ(ShownFrame(), 6);
}

TEST_F(GraphMedia, BadFilesFailWithDistinctResults) {
    vtest::TempDir dir;
    graph->Reset(true);
    EXPECT_EQ(ErrorOf([&] { graph->RenderFile(dir.File("missing.webm")); }), VFW_E_NOT_FOUND);

    std::string text = dir.File("notes.webm");
    vtest::WriteFile(text, "This is not a media file at all.\n");
    graph->Reset(true);
    HRESULT notMedia = ErrorOf([&] { graph->RenderFile(text); });
    EXPECT_TRUE(FAILED(notMedia));

    std::string clip = vtest::ReadFile(testmedia::Video25());
    std::string truncated = dir.File("truncated.webm");
    vtest::WriteFile(truncated, clip.substr(0, 200));
    graph->Reset(true);
    HRESULT cut = ErrorOf([&] { graph->RenderFile(truncated); });
    EXPECT_TRUE(FAILED(cut));
    EXPECT_NE(cut, VFW_E_NOT_FOUND);
    EXPECT_NE(notMedia, VFW_E_NOT_FOUND);
}

TEST_F(GraphMedia, SavedGraphsAreLoadedFromTextAndCompoundFilesAreRefused) {
    vtest::TempDir dir;
    std::string compound = dir.File("old.grf");
    vtest::WriteFile(compound,
                     std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0'));
    graph->Reset(true);
    EXPECT_EQ(ErrorOf([&] { graph->LoadGraphFile(compound); }), VFW_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(ErrorOf([&] { graph->LoadGraphFile(dir.File("none.grf")); }), STG_E_FILENOTFOUND);

    std::string saved = dir.File("test.grf");
    vtest::WriteFile(
        saved, "filesrc location=\"" + testmedia::Video25() + "\" ! matroskademux ! vp8dec\n");
    graph->Reset(true);
    graph->LoadGraphFile(saved);
    EXPECT_TRUE(graph->HasVideo());
    PauseAndWait();
    EXPECT_EQ(ShownFrame(), 0);

    // A saved graph may not write files.
    std::string hostile = dir.File("hostile.grf");
    vtest::WriteFile(hostile, "videotestsrc ! filesink location=" + dir.File("written") + "\n");
    graph->Reset(true);
    EXPECT_TRUE(FAILED(ErrorOf([&] { graph->LoadGraphFile(hostile); })));
}

}  // namespace
