// The wrapper's logic on the in-memory graph: building, search, rates and
// clocks, volume, events and the notification object.
#include "playback/VaFilterGraph.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "playback/VaAMGraphBuilderCallback.h"
#include "playback/VaGraphUtil.h"
#include "playback/VaScaledReferenceClock.h"
#include "playback/VaWindowHook.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"
#include "tests/playback/VaFilterGraphFakes.h"

namespace {

using fake::CFilter;
using fake::CGraph;
using fake::CPin;
using fake::MakeType;

QCoreApplication* App() {
    static int argc = 1;
    static char name[] = "playback_unit_tests";
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

long Count(const std::vector<std::string>& log, const std::string& entry) {
    return std::count(log.begin(), log.end(), entry);
}

struct FilterGraph : testing::Test {
    void SetUp() override {
        App();
        CGraph::Install();
        CGraph::Made().clear();
    }
    // Creates the graph and answers the fake behind it.
    CGraph* Create() {
        graph->Reset(true);
        return CGraph::Made().back();
    }
    CFilter* AddAudio(CGraph* g, LONG volume = 0) {
        auto* audio = new CFilter("audio", CLSID_DSoundRender);
        audio->m_audio = true;
        audio->m_volume = volume;
        audio->AddPin(PINDIR_INPUT, {MakeType(MEDIATYPE_Audio)});
        g->Add(audio);
        return audio;
    }
    CVaFilterGraph graph;
};

TEST_F(FilterGraph, CreationWiresNotificationSeekingAndCallback) {
    struct COwner : IVaGraphBuilderCallback {
        bool SelectedFilter(IMoniker*) override { return true; }
        void CreatedFilter(IBaseFilter* f) override { f->Release(); }
    } owner;
    graph->SetBuilderCallbackOwner(&owner);
    CGraph* g = Create();
    ASSERT_NE(graph->GetNotifyWindow(), nullptr);
    EXPECT_EQ(graph->GetNotifyWindow()->objectName(), QString("VaFilterGraphNfyWnd"));
    EXPECT_EQ(g->m_notify, graph->GetNotifyWindow());
    EXPECT_EQ(g->m_msg, 0x590);
    EXPECT_EQ(g->m_timeFormat, TIME_FORMAT_MEDIA_TIME);
    EXPECT_EQ(CVaWindowHook::HookedBy(graph->GetNotifyWindow()), graph.GetRep());
    ASSERT_NE(g->m_site, nullptr);

    // The callback forwards to the owner; the site goes when the owner does.
    CComPtr<IAMGraphBuilderCallback> callback(g->m_site);
    ASSERT_TRUE(callback);
    CComPtr<CFilter> filter(new CFilter("f"));
    ULONG before = filter->RefCount();
    EXPECT_EQ(callback->CreatedFilter(filter), S_OK);
    EXPECT_EQ(filter->RefCount(), before);
    callback = nullptr;
    graph->SetBuilderCallbackOwner(nullptr);
    EXPECT_EQ(g->m_site, nullptr);
}

TEST_F(FilterGraph, BuilderCallbackTurnsRefusalsAndThrowsIntoFailure) {
    struct COwner : IVaGraphBuilderCallback {
        bool SelectedFilter(IMoniker*) override {
            if (m_throw)
                ThrowHResult(E_OUTOFMEMORY);
            return m_accept;
        }
        void CreatedFilter(IBaseFilter*) override { ThrowHResult(E_FAIL); }
        bool m_accept = true;
        bool m_throw = false;
    } owner;
    CVaAMGraphBuilderCallback callback(&owner);
    EXPECT_EQ(callback.SelectedFilter(nullptr), S_OK);
    owner.m_accept = false;
    EXPECT_EQ(callback.SelectedFilter(nullptr), E_FAIL);
    owner.m_throw = true;
    EXPECT_EQ(callback.SelectedFilter(nullptr), E_FAIL);
    EXPECT_EQ(callback.CreatedFilter(nullptr), E_FAIL);
    void* out = nullptr;
    EXPECT_EQ(callback.QueryInterface(IAMGraphBuilderCallback::iid, &out), S_OK);
    EXPECT_EQ(callback.QueryInterface(IPin::iid, &out), E_NOINTERFACE);
    EXPECT_EQ(callback.AddRef(), 1u);
}

TEST_F(FilterGraph, ResetKeepsAnEmptyGraphUnlessForced) {
    CGraph* first = Create();
    QObject* nfy = graph->GetNotifyWindow();
    EXPECT_FALSE(graph->Reset(false));
    EXPECT_EQ(CGraph::Made().back(), first);
    EXPECT_EQ(Count(first->m_log, "Stop"), 0);

    first->Add(new CFilter("source"));
    CComPtr<IGraphBuilder> keep(static_cast<IGraphBuilder*>(first));
    EXPECT_TRUE(graph->Reset(false));
    EXPECT_NE(CGraph::Made().back(), first);
    EXPECT_EQ(Count(first->m_log, "Stop"), 1);
    EXPECT_EQ(first->m_notify, nullptr);
    EXPECT_EQ(graph->GetNotifyWindow(), nfy);
    EXPECT_TRUE(graph->Reset(true));
}

TEST_F(FilterGraph, OperationsWithoutGraphThrowNoInterface) {
    EXPECT_EQ(ErrorOf([&] { graph->Run(); }), E_NOINTERFACE);
    EXPECT_EQ(ErrorOf([&] { graph->RenderFile("x"); }), E_NOINTERFACE);
    EXPECT_EQ(ErrorOf([&] { graph->GetDuration(); }), E_NOINTERFACE);
    EXPECT_EQ(graph->GetVolume(), -1);
    EXPECT_FALSE(graph->StepFrame());
    EXPECT_FALSE(graph->HasVideo());
    EXPECT_EQ(graph->FindAudioFilter(), nullptr);
    std::vector<BYTE> dib;
    EXPECT_FALSE(graph->GetCurrentImage(dib));
}

TEST_F(FilterGraph, StateMapsFilterStatesAndSkipsRedundantChanges) {
    CGraph* g = Create();
    EXPECT_EQ(graph->GetState(), 1);
    graph->Pause();
    EXPECT_EQ(graph->GetState(), 2);
    g->m_intermediate = 1;
    EXPECT_EQ(graph->GetState(), 0);
    graph->SetState(2);
    EXPECT_EQ(Count(g->m_log, "Pause"), 1);
    graph->SetState(3);
    EXPECT_EQ(graph->GetState(), 3);
    graph->SetState(7);
    EXPECT_EQ(graph->GetState(), 1);
    graph->SetCurrentPosition(1234);
    graph->SetStopPosition(5678);
    EXPECT_EQ(g->m_position, 1234);
    EXPECT_EQ(g->m_stop, 5678);
    EXPECT_EQ(graph->GetCurrentPosition(), 1234);
}

TEST_F(FilterGraph, VolumeMapsPercentOntoHundredthsOfDecibels) {
    CGraph* g = Create();
    EXPECT_EQ(graph->GetVolume(), -1);
    EXPECT_FALSE(graph->SetVolume(50));
    CFilter* audio = AddAudio(g, -10000);
    EXPECT_EQ(graph->GetVolume(), 0);
    audio->m_volume = -5000;
    EXPECT_EQ(graph->GetVolume(), 50);
    audio->m_volume = 0;
    EXPECT_EQ(graph->GetVolume(), 100);
    EXPECT_FALSE(graph->SetVolume(101));
    EXPECT_FALSE(graph->SetVolume(-1));
    EXPECT_EQ(audio->m_volume, 0);
    EXPECT_TRUE(graph->SetVolume(25));
    EXPECT_EQ(audio->m_volume, -7500);
}

// ---- rates and clocks

TEST_F(FilterGraph, NearlyNormalRateIsNormal) {
    CGraph* g = Create();
    EXPECT_FALSE(graph->SetRate(1.005));
    EXPECT_EQ(g->m_rate, 1.005);
    EXPECT_EQ(graph->GetScaledClock(), nullptr);
}

TEST_F(FilterGraph, RefusedRateFallsBackToScaledClockAndBack) {
    CGraph* g = Create();
    CFilter* audio = AddAudio(g, -2000);
    graph->Run();
    g->m_rateResult = E_NOTIMPL;

    EXPECT_TRUE(graph->SetRate(0.5));
    CVaScaledReferenceClock* scaled = graph->GetScaledClock();
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(g->m_clock.Get(), static_cast<IReferenceClock*>(scaled));
    EXPECT_DOUBLE_EQ(graph->GetRate(), 0.5);
    EXPECT_EQ(audio->m_volume, -10000);  // muted while not at normal rate
    EXPECT_EQ(graph->GetState(), 3);     // put back to running

    // A second rate only changes the clock, around a stop and restart.
    g->m_log.clear();
    EXPECT_TRUE(graph->SetRate(2.0));
    EXPECT_EQ(graph->GetScaledClock(), scaled);
    EXPECT_EQ(scaled->GetRatePercent(), 200);
    EXPECT_EQ(Count(g->m_log, "SetRate"), 0);
    EXPECT_EQ(Count(g->m_log, "Stop"), 1);
    EXPECT_EQ(Count(g->m_log, "Run"), 1);

    // Normal rate: volume back, system clock instead of the scaled one.
    g->m_rateResult = S_OK;
    EXPECT_FALSE(graph->SetRate(1.0));
    EXPECT_EQ(graph->GetScaledClock(), nullptr);
    EXPECT_EQ(audio->m_volume, -2000);
    ASSERT_TRUE(g->m_clock);
    EXPECT_EQ(graph->GetState(), 3);
    EXPECT_DOUBLE_EQ(graph->GetRate(), 1.0);
}

TEST_F(FilterGraph, BackToNormalFromVerySlowKeepsSystemClock) {
    CGraph* g = Create();
    AddAudio(g);
    EXPECT_FALSE(graph->SetRate(0.1));  // seeking accepts it
    ASSERT_TRUE(g->m_clock);
    IReferenceClock* system = g->m_clock.Get();
    EXPECT_FALSE(graph->SetRate(1.0));
    EXPECT_EQ(g->m_clock.Get(), system);
    EXPECT_FALSE(g->m_defaultClock);
}

TEST_F(FilterGraph, BackToNormalFromHalfRestoresDefaultClock) {
    CGraph* g = Create();
    AddAudio(g);
    EXPECT_FALSE(graph->SetRate(0.5));
    EXPECT_TRUE(g->m_clock);
    EXPECT_FALSE(graph->SetRate(1.0));
    EXPECT_TRUE(g->m_defaultClock);
    EXPECT_FALSE(g->m_clock);
}

TEST_F(FilterGraph, WithoutAudioAcceptedRatesLeaveTheClockAlone) {
    CGraph* g = Create();
    EXPECT_FALSE(graph->SetRate(0.5));
    EXPECT_FALSE(graph->SetRate(2.0));
    EXPECT_EQ(Count(g->m_log, "SetSyncSource"), 0);
    EXPECT_EQ(Count(g->m_log, "SetDefaultSyncSource"), 0);
}

TEST_F(FilterGraph, ScaledClockLeavesTheGraphBeforeItIsDeletedEvenWithoutAudio) {
    CGraph* g = Create();
    g->m_rateResult = E_INVALIDARG;
    EXPECT_TRUE(graph->SetRate(0.5));
    IReferenceClock* scaled = graph->GetScaledClock();
    EXPECT_EQ(g->m_clock.Get(), scaled);
    g->m_rateResult = S_OK;
    graph->SetRate(1.0);
    EXPECT_EQ(graph->GetScaledClock(), nullptr);
    EXPECT_TRUE(g->m_clock);
    EXPECT_NE(g->m_clock.Get(), scaled);

    // Reset takes the clock out of a graph that someone else still holds.
    g->m_rateResult = E_NOTIMPL;
    graph->SetRate(0.25);
    ASSERT_NE(graph->GetScaledClock(), nullptr);
    CComPtr<IGraphBuilder> keep(static_cast<IGraphBuilder*>(g));
    graph->Reset(true);
    EXPECT_FALSE(g->m_clock);
}

TEST_F(FilterGraph, OtherRateFailuresAreIgnored) {
    CGraph* g = Create();
    g->m_rateResult = E_FAIL;
    EXPECT_FALSE(graph->SetRate(0.5));
    EXPECT_EQ(graph->GetScaledClock(), nullptr);
    g->m_rateResult = E_NOTIMPL;
    EXPECT_FALSE(graph->SetRate(1.0));  // normal rates never get a scaled clock
    EXPECT_EQ(graph->GetScaledClock(), nullptr);
}

TEST_F(FilterGraph, RateChangeDuringTransitionRestoresTheStateAskedFor) {
    CGraph* g = Create();
    graph->Pause();
    g->m_intermediate = 1;  // the pause is still completing
    g->m_rateResult = E_NOTIMPL;
    EXPECT_TRUE(graph->SetRate(0.5));
    EXPECT_EQ(graph->GetState(), 2);
}

// A change that never completes within the graph's longest wait: the state
// put back after the clock change is the one asked for, not "stopped".
TEST_F(FilterGraph, RateChangeWhileAChangeNeverSettlesKeepsTheStateAskedFor) {
    CGraph* g = Create();
    graph->Run();
    g->m_neverSettles = true;
    g->m_rateResult = E_NOTIMPL;
    EXPECT_TRUE(graph->SetRate(0.5));
    EXPECT_EQ(g->m_state, State_Running);
    EXPECT_EQ(graph->WaitForState(), VFW_S_STATE_INTERMEDIATE);
}

TEST_F(FilterGraph, AudioClockCheckChoosesSystemClockForSoundRendererClock) {
    CGraph* g = Create();
    CFilter* audio = AddAudio(g);
    CComPtr<IReferenceClock> clock;
    clock.CreateInstance(CLSID_SystemClock);
    g->m_clock = clock;
    audio->m_clock = clock;
    graph->CheckAudioClock();
    EXPECT_FALSE(graph->IsSystemClockChosen());  // only with the fix switched on

    graph->SetFixAudioClock(true);
    graph->CheckAudioClock();
    EXPECT_TRUE(graph->IsSystemClockChosen());
    EXPECT_NE(g->m_clock.Get(), clock.Get());

    // An external device in the graph keeps the audio clock.
    g->m_clock = clock;
    auto* device = new CFilter("deck");
    device->m_extra.push_back(IAMExtDevice::iid);
    g->Add(device);
    graph->CheckAudioClock();
    EXPECT_FALSE(graph->IsSystemClockChosen());
    graph->UseDefaultClock();
    EXPECT_TRUE(g->m_defaultClock);
}

// ---- building and search

TEST_F(FilterGraph, RenderOutputPinsReportsFirstSuccessOrLastFailure) {
    CGraph* g = Create();
    CComPtr<CFilter> source(new CFilter("source"));
    g->Add(source);
    CPin* out = source->AddPin(PINDIR_OUTPUT);
    CComPtr<CFilter> sink(new CFilter("sink"));
    out->Connect(sink->AddPin(PINDIR_INPUT), nullptr);
    EXPECT_EQ(ErrorOf([&] { graph->RenderOutputPins(source); }), VFW_E_ALREADY_CONNECTED);

    source->AddPin(PINDIR_OUTPUT);
    source->AddPin(PINDIR_OUTPUT);
    g->m_renderResult = VFW_E_CANNOT_RENDER;
    EXPECT_EQ(ErrorOf([&] { graph->RenderOutputPins(source); }), VFW_E_CANNOT_RENDER);
    EXPECT_EQ(Count(g->m_log, "Render"), 2);
    g->m_renderResult = VFW_S_PARTIAL_RENDER;
    EXPECT_EQ(graph->RenderOutputPins(source), VFW_S_PARTIAL_RENDER);
    EXPECT_TRUE(va::IsConnected(source->Pin(2)));
}

TEST_F(FilterGraph, ConnectThroughAMiddleFilterAndUndoOnFailure) {
    Create();
    CComPtr<CFilter> source(new CFilter("source"));
    CComPtr<CFilter> middle(new CFilter("middle"));
    CComPtr<CFilter> target(new CFilter("target"));
    CPin* out = source->AddPin(PINDIR_OUTPUT);
    CPin* midIn = middle->AddPin(PINDIR_INPUT);
    CPin* midOut = middle->AddPin(PINDIR_OUTPUT);
    CPin* in = target->AddPin(PINDIR_INPUT);

    in->m_refuse = true;
    EXPECT_EQ(
        ErrorOf([&] { graph->ConnectThrough(static_cast<IBaseFilter*>(source), middle, target); }),
        VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(out->Peer(), nullptr);
    EXPECT_EQ(midIn->Peer(), nullptr);

    in->m_refuse = false;
    graph->ConnectThrough(static_cast<IBaseFilter*>(source), middle, target);
    EXPECT_EQ(out->Peer(), midIn);
    EXPECT_EQ(midOut->Peer(), in);

    // No free pin left on the target.
    CComPtr<CFilter> other(new CFilter("other"));
    other->AddPin(PINDIR_OUTPUT);
    EXPECT_EQ(
        ErrorOf([&] { graph->ConnectThrough(static_cast<IBaseFilter*>(other), nullptr, target); }),
        E_NOINTERFACE);
    EXPECT_EQ(ErrorOf([&] { graph->ConnectThrough(nullptr, nullptr, target); }), E_NOINTERFACE);

    // A pin as the source.
    CComPtr<CFilter> second(new CFilter("second"));
    CPin* secondIn = second->AddPin(PINDIR_INPUT);
    graph->ConnectThrough(static_cast<IPin*>(other->Pin(0)), nullptr, second);
    EXPECT_EQ(other->Pin(0)->Peer(), secondIn);
}

TEST_F(FilterGraph, DisconnectAndRemoveBreakBothEnds) {
    CGraph* g = Create();
    CComPtr<CFilter> a(new CFilter("a"));
    CComPtr<CFilter> b(new CFilter("b"));
    g->Add(a);
    g->Add(b);
    CPin* out = a->AddPin(PINDIR_OUTPUT);
    CPin* in = b->AddPin(PINDIR_INPUT);
    CPin* bout = b->AddPin(PINDIR_OUTPUT);
    CComPtr<CFilter> c(new CFilter("c"));
    CPin* cin = c->AddPin(PINDIR_INPUT);
    out->Connect(in, nullptr);
    bout->Connect(cin, nullptr);

    graph->DisconnectPins(b, PINDIR_INPUT);
    EXPECT_EQ(out->Peer(), nullptr);
    EXPECT_EQ(in->Peer(), nullptr);
    EXPECT_EQ(bout->Peer(), cin);
    graph->DisconnectFilter(b);
    EXPECT_EQ(cin->Peer(), nullptr);
    graph->RemoveFilter(b);
    EXPECT_EQ(g->m_filters.size(), 1u);
    EXPECT_EQ(ErrorOf([&] { graph->RemoveFilter(b); }), VFW_E_NOT_FOUND);
    graph->AddFilter(b, "");
    graph->AddFilter(c, "named");
    EXPECT_EQ(Count(g->m_log, "AddFilter:(null)"), 1);
    EXPECT_EQ(Count(g->m_log, "AddFilter:named"), 1);
}

TEST_F(FilterGraph, SearchFollowsConnectionsAndMatchesTypes) {
    CGraph* g = Create();
    CComPtr<CFilter> source(new CFilter("source"));
    CComPtr<CFilter> decoder(new CFilter("decoder"));
    CComPtr<CFilter> renderer(new CFilter("renderer"));
    g->Add(source);
    g->Add(decoder);
    g->Add(renderer);
    CPin* srcOut = source->AddPin(PINDIR_OUTPUT, {MakeType(MEDIATYPE_Stream)});
    CPin* decIn = decoder->AddPin(PINDIR_INPUT, {MakeType(MEDIATYPE_Stream)});
    CPin* decVideo = decoder->AddPin(
        PINDIR_OUTPUT, {MakeType(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2)});
    CPin* decAudio = decoder->AddPin(PINDIR_OUTPUT, {MakeType(MEDIATYPE_Audio)});
    CPin* renIn = renderer->AddPin(PINDIR_INPUT);
    srcOut->Connect(decIn, nullptr);
    decVideo->Connect(renIn, nullptr);

    using Rep = CVaFilterGraphRep;
    EXPECT_TRUE(Rep::PinSupportsType(decAudio, GUID_NULL, MEDIASUBTYPE_RGB24, GUID_NULL));
    EXPECT_TRUE(Rep::PinSupportsType(decVideo, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, GUID_NULL));
    EXPECT_FALSE(Rep::PinSupportsType(decVideo, MEDIATYPE_Video, MEDIASUBTYPE_RGB24, GUID_NULL));
    EXPECT_FALSE(Rep::PinSupportsType(decAudio, MEDIATYPE_Video, GUID_NULL, GUID_NULL));

    // The first output pin of the source is connected: following it finds
    // the decoder's free audio pin.
    EXPECT_EQ(Rep::FindFreePin(source, PINDIR_OUTPUT).Get(), nullptr);
    EXPECT_EQ(
        Rep::FindPin(source, PINDIR_OUTPUT, GUID_NULL, GUID_NULL, GUID_NULL, true, true).Get(),
        decAudio);
    EXPECT_EQ(
        Rep::FindPin(decoder, PINDIR_OUTPUT, MEDIATYPE_Audio, GUID_NULL, GUID_NULL, false, false)
            .Get(),
        decAudio);

    CComPtr<IPin> pin, peer;
    CComPtr<IBaseFilter> peerFilter;
    EXPECT_TRUE(Rep::FindConnectedPin(source, PINDIR_OUTPUT, true, MEDIATYPE_Video, GUID_NULL,
                                      GUID_NULL, std::addressof(pin), std::addressof(peer),
                                      std::addressof(peerFilter)));
    EXPECT_EQ(pin.Get(), decVideo);
    EXPECT_EQ(peer.Get(), renIn);
    EXPECT_EQ(peerFilter.Get(), static_cast<IBaseFilter*>(renderer.Get()));
    EXPECT_FALSE(Rep::FindConnectedPin(source, PINDIR_OUTPUT, false, MEDIATYPE_Video, GUID_NULL,
                                       GUID_NULL, nullptr, nullptr, nullptr));
    EXPECT_EQ(Rep::GetConnectedFilter(renderer, PINDIR_INPUT).Get(),
              static_cast<IBaseFilter*>(decoder.Get()));

    decoder->m_extra.push_back(IVMRMixerControl::iid);
    EXPECT_EQ(graph->FindFilterByInterface(IVMRMixerControl::iid).Get(),
              static_cast<IBaseFilter*>(decoder.Get()));
    EXPECT_EQ(graph->FindFilterByInterface(IAMExtDevice::iid).Get(), nullptr);
}

TEST_F(FilterGraph, VmrTrackingHoldsTheMixingRendererUntilTheNextStateChange) {
    CGraph* g = Create();
    auto* vmr = new CFilter("vmr");
    vmr->m_extra.push_back(IVMRFilterConfig::iid);
    g->Add(vmr);
    graph->ReleaseVideoWindow();
    EXPECT_EQ(graph->GetVmrFilterConfig(), nullptr);  // tracking is off
    graph->SetVmrTracking(true);
    graph->ReleaseVideoWindow();
    EXPECT_NE(graph->GetVmrFilterConfig(), nullptr);
    graph->Pause();
    EXPECT_EQ(graph->GetVmrFilterConfig(), nullptr);
    graph->ReleaseVideoWindow();
    graph->SetVmrTracking(false);
    EXPECT_EQ(graph->GetVmrFilterConfig(), nullptr);
}

// ---- events

struct CRecordingSink : CVaCheckEvent {
    void OnEvent(long code, LONG_PTR p1, LONG_PTR p2) override { events.push_back({code, p1, p2}); }
    struct CEventRecord {
        long code;
        LONG_PTR p1, p2;
        bool operator==(const CEventRecord&) const = default;
    };
    std::vector<CEventRecord> events;
};

void PumpUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

TEST_F(FilterGraph, CompletionSeenByWindowIsDeliveredFirstToTheWorker) {
    CGraph* g = Create();
    g->Post(EC_PAUSED);
    g->Post(EC_COMPLETE, 0);
    PumpUntil([&] { return g->m_events.empty(); });
    EXPECT_EQ(graph->GetRememberedEvent(), EC_COMPLETE);
    EXPECT_EQ(g->m_freed, 2);

    OAEVENT handle = graph->GetEventHandle();
    EXPECT_EQ(handle, &g->m_handle);
    EXPECT_EQ(g->m_notify, nullptr);
    g->m_events.push_back({EC_VIDEO_SIZE_CHANGED, (240 << 16) | 320, 0});
    CRecordingSink sink;
    EXPECT_EQ(graph->ProcessEvents(&sink), E_ABORT);
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[0], (CRecordingSink::CEventRecord{EC_COMPLETE, 0, 0}));
    EXPECT_EQ(sink.events[1].code, EC_VIDEO_SIZE_CHANGED);
    EXPECT_EQ(g->m_freed, 3);
    EXPECT_EQ(graph->GetRememberedEvent(), 0);
    // The size of the stream was taken from the event.
    SIZE size;
    EXPECT_TRUE(graph->GetVideoSize(size));
    EXPECT_EQ(size, (SIZE{320, 240}));
    sink.events.clear();
    EXPECT_EQ(graph->ProcessEvents(&sink), E_ABORT);
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(FilterGraph, LateWindowNotificationDoesNotStealTheWorkersEvents) {
    CGraph* g = Create();
    g->Post(EC_COMPLETE);  // notification queued, not yet delivered
    graph->GetEventHandle();
    PumpUntil([] { return true; });
    QCoreApplication::processEvents();
    ASSERT_EQ(g->m_events.size(), 1u);
    CRecordingSink sink;
    graph->ProcessEvents(&sink);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].code, EC_COMPLETE);
}

// In handle mode the worker's event pump writes the video size and the
// full-screen flag while the other thread reads them (run under the thread
// checker: a plain field is a data race).
TEST_F(FilterGraph, VideoEventsHandledOnOneThreadWhileAnotherReads) {
    CGraph* g = Create();
    graph->GetEventHandle();
    std::atomic<bool> done{false};
    std::thread reader([&] {
        SIZE size;
        while (!done) {
            graph->GetVideoSize(size);
            (void)graph->IsFullScreen();
        }
    });
    for (LONG i = 1; i <= 200; ++i) {
        g->m_events.push_back({EC_VIDEO_SIZE_CHANGED, (i << 16) | (2 * i), 0});
        g->m_events.push_back({EC_FULLSCREEN_LOST, 0, 0});
        graph->ProcessEvents(nullptr);
    }
    done = true;
    reader.join();
    SIZE size;
    EXPECT_TRUE(graph->GetVideoSize(size));
    EXPECT_EQ(size, (SIZE{400, 200}));
}

TEST_F(FilterGraph, LoadGraphFileRefusesCompoundFilesAndMissingFiles) {
    Create();
    vtest::TempDir dir;
    std::string compound = dir.File("old.grf");
    vtest::WriteFile(compound, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1rest", 12));
    // The in-memory graph cannot restore anything.
    EXPECT_EQ(ErrorOf([&] { graph->LoadGraphFile(compound); }), E_NOINTERFACE);
}

// A packed DIB: header, 'palette' colour entries, then rows of 'bits' per pixel.
std::vector<BYTE> MakeDib(LONG width, LONG height, WORD bits, DWORD clrUsed, size_t palette) {
    BITMAPINFOHEADER header;
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = bits;
    header.biClrUsed = clrUsed;
    size_t stride = ((size_t(width) * bits + 31) / 32) * 4;
    std::vector<BYTE> dib(sizeof(header) + palette * 4 +
                          stride * size_t(height < 0 ? -height : height));
    std::memcpy(dib.data(), &header, sizeof(header));
    return dib;
}

TEST_F(FilterGraph, CurrentImageFindsThePixelsAndRefusesHeadersPointingPastTheBuffer) {
    CGraph* g = Create();
    g->m_hasBasicVideo = true;
    std::vector<BYTE> dib;
    BYTE* bits = nullptr;
    EXPECT_FALSE(graph->GetCurrentImage(dib, &bits));  // no frame yet

    // 24 bits, bottom-up: the last row in the buffer is the top of the picture.
    g->m_dib = MakeDib(2, 2, 24, 0, 0);
    std::vector<BYTE>& frame = g->m_dib;
    frame[40 + 8 + 0] = 0x30;  // top-left pixel, blue
    frame[40 + 8 + 1] = 0x20;  // green
    frame[40 + 8 + 2] = 0x10;  // red
    ASSERT_TRUE(graph->GetCurrentImage(dib, &bits));
    EXPECT_EQ(bits - dib.data(), 40);
    QImage image = graph->GetCurrentBitmap();
    ASSERT_EQ(image.size(), QSize(2, 2));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0x10, 0x20, 0x30));
    EXPECT_EQ(image.pixel(0, 1), qRgb(0, 0, 0));

    // 8 bits with a full palette, and a palette size taken from biClrUsed.
    g->m_dib = MakeDib(4, 1, 8, 0, 256);
    ASSERT_TRUE(graph->GetCurrentImage(dib, &bits));
    EXPECT_EQ(bits - dib.data(), 40 + 1024);
    g->m_dib = MakeDib(4, 1, 8, 16, 16);
    ASSERT_TRUE(graph->GetCurrentImage(dib, &bits));
    EXPECT_EQ(bits - dib.data(), 40 + 64);
    EXPECT_TRUE(graph->GetCurrentBitmap().isNull());  // only 24 and 32 bits become images

    // A colour count that points the pixels past the end of the buffer.
    g->m_dib = MakeDib(4, 1, 8, 100000, 0);
    EXPECT_FALSE(graph->GetCurrentImage(dib, &bits));
    EXPECT_EQ(bits, nullptr);
}

// ---- video window layout

TEST(VideoRect, BestFitKeepsSmallVideoAndShrinksLargeOne) {
    EXPECT_EQ(va::ComputeVideoRect({0, 0, 640, 480}, {320, 240}, 2), (RECT{160, 120, 480, 360}));
    EXPECT_EQ(va::ComputeVideoRect({0, 0, 300, 300}, {320, 240}, 2), (RECT{0, 37, 300, 262}));
    EXPECT_EQ(va::ComputeVideoRect({0, 0, 640, 480}, {320, 240}, 1), (RECT{0, 0, 640, 480}));
    EXPECT_EQ(va::ComputeVideoRect({0, 0, 200, 100}, {320, 240}, 0), (RECT{0, 0, 320, 240}));
    EXPECT_EQ(va::MulDiv(576, 16, 9), 1024);
    EXPECT_EQ(va::MulDiv(5, 1, 2), 3);
    EXPECT_EQ(va::MulDiv(1, 1, 0), -1);
}

TEST_F(FilterGraph, VideoWindowStateIsKeptWithoutWindow) {
    Create();
    EXPECT_FALSE(graph->SetScaleMode(1));
    EXPECT_TRUE(graph->SetScaleMode(2));
    EXPECT_EQ(graph->GetScaleMode(), 2);
    graph->SetAspectCorrection(true);
    EXPECT_TRUE(graph->GetAspectCorrection());
    EXPECT_FALSE(graph->SetFullScreen(true));  // no video window to switch
    EXPECT_TRUE(graph->IsFullScreen());
    EXPECT_EQ(graph->SetMessageDrain(nullptr), S_OK);
    EXPECT_EQ(ErrorOf([&] { graph->ConnectVideoWindow(false); }), E_NOINTERFACE);
    RECT rect{1, 1, 1, 1};
    EXPECT_FALSE(graph->GetVideoWindowRect(rect));
    EXPECT_EQ(rect, RECT{});
}

}  // namespace
