#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>

#include "platform/com/ErrorText.h"
#include "platform/dshow/GraphNotifyEvent.h"
#include "platform/dshow/Renderers.h"
#include "tests/TestSupport.h"
#include "tests/platform/dshow/GraphTestSupport.h"

using namespace graphtest;

namespace {

constexpr LONGLONG kFrame25 = 400000;

TEST(GraphRender, EachClipRendersStoppedWithItsRenderers) {
    struct Clip {
        std::string path;
        bool video, audio;
        LONGLONG duration;
    };
    for (const Clip& clip : {Clip{testmedia::VideoAudio(), true, true, 20'000'000},
                             Clip{testmedia::Video25(), true, false, 30'000'000},
                             Clip{testmedia::Video30(), true, false, 20'000'000},
                             Clip{testmedia::AudioOnly(), false, true, 20'000'000},
                             Clip{testmedia::Interlaced(), true, false, 10'000'000}}) {
        SCOPED_TRACE(clip.path);
        CGraph g;
        ASSERT_EQ(S_OK, g.builder->RenderFile(clip.path.c_str(), nullptr));
        OAFilterState state = -1;
        EXPECT_TRUE(SUCCEEDED(g.control->GetState(0, &state)));
        EXPECT_EQ(State_Stopped, state);
        auto names = g.FilterNames();
        auto has = [&](const char* n) {
            return std::find(names.begin(), names.end(), n) != names.end();
        };
        EXPECT_EQ(clip.video, has("Video Renderer"));
        EXPECT_EQ(clip.audio, has("Audio Renderer"));
        EXPECT_TRUE(has(clip.path.c_str()));  // the source is named after the file
        LONGLONG duration = 0;
        ASSERT_EQ(S_OK, g.seeking->GetDuration(&duration));
        EXPECT_NEAR(double(clip.duration), double(duration), 500000.0);
        EXPECT_EQ(0, g.Position());
        CComPtr<IBasicVideo> video = g.builder;
        EXPECT_EQ(clip.video, bool(video));
        CComPtr<IBasicAudio> audio = g.builder;
        EXPECT_EQ(clip.audio, bool(audio));
    }
}

TEST(GraphRender, PauseShowsTheFirstFrameAndReportsPaused) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    HRESULT hr = g.control->Pause();
    ASSERT_TRUE(SUCCEEDED(hr));
    OAFilterState state;
    hr = g.control->GetState(0, &state);
    EXPECT_TRUE(hr == S_OK || hr == VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(State_Paused, state);
    ASSERT_TRUE(g.WaitEvent(EC_PAUSED));
    ASSERT_TRUE(g.Settle());
    EXPECT_EQ(0, g.Frame());
    EXPECT_EQ(0, g.Position());
    CComPtr<IBasicVideo2> video = g.builder;
    ASSERT_TRUE(video);
    LONG w = 0, h = 0, ax = 0, ay = 0;
    EXPECT_EQ(S_OK, video->GetVideoSize(&w, &h));
    EXPECT_EQ(testmedia::kWidth, w);
    EXPECT_EQ(testmedia::kHeight, h);
    EXPECT_EQ(S_OK, video->GetPreferredAspectRatio(&ax, &ay));
    EXPECT_EQ(4, ax);
    EXPECT_EQ(3, ay);
    REFTIME perFrame = 0;
    EXPECT_EQ(S_OK, video->get_AvgTimePerFrame(&perFrame));
    EXPECT_DOUBLE_EQ(0.04, perFrame);
}

TEST(GraphRender, CurrentImageIsABottomUpPackedDib) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    CComPtr<IBasicVideo> video = g.builder;
    LONG size = 0;
    ASSERT_EQ(S_OK, video->GetCurrentImage(&size, nullptr));
    EXPECT_EQ(LONG(sizeof(BITMAPINFOHEADER) + 320 * 240 * 4), size);
    std::vector<LONG> buffer(size / 4);
    LONG small = size - 4;
    EXPECT_EQ(E_OUTOFMEMORY, video->GetCurrentImage(&small, buffer.data()));
    ASSERT_EQ(S_OK, video->GetCurrentImage(&size, buffer.data()));
    BITMAPINFOHEADER bmi;
    std::memcpy(static_cast<void*>(&bmi), buffer.data(), sizeof(bmi));
    EXPECT_EQ(40u, bmi.biSize);
    EXPECT_EQ(320, bmi.biWidth);
    EXPECT_EQ(240, bmi.biHeight);  // positive: bottom-up
    EXPECT_EQ(32, bmi.biBitCount);
    EXPECT_EQ(BI_RGB, bmi.biCompression);
    // Frame 0: the bar starts at the left edge, on every row.
    const uint8_t* bits = reinterpret_cast<const uint8_t*>(buffer.data()) + 40;
    EXPECT_GT(bits[1], 128);                  // bottom row, first pixel (green)
    EXPECT_GT(bits[239 * 320 * 4 + 1], 128);  // top row
    EXPECT_LT(bits[100 * 4 + 1], 128);        // far from the bar
}

TEST(GraphPlay, RunsToCompletionThroughTheEventHandle) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::VideoAudio().c_str(), nullptr));
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    LONG_PTR result = -1;
    ASSERT_TRUE(g.WaitEvent(EC_COMPLETE, &result));
    EXPECT_EQ(S_OK, result);
    LONGLONG duration = 0;
    g.seeking->GetDuration(&duration);
    EXPECT_EQ(duration, g.Position());
    LONG code = 0;
    EXPECT_EQ(S_OK, g.events->WaitForCompletion(0, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    // The handle is set while events wait and cleared when the queue is empty.
    OAEVENT handle;
    g.events->GetEventHandle(&handle);
    LONG c;
    LONG_PTR p1, p2;
    while (g.events->GetEvent(&c, &p1, &p2, 0) == S_OK) {
    }
    EXPECT_FALSE(handle->IsSet());
    EXPECT_EQ(E_ABORT, g.events->GetEvent(&c, &p1, &p2, 0));
}

class CNotifyTarget : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::Type(0x590)) {
            ++m_count;
            m_lParam = static_cast<CGraphNotifyEvent*>(e)->LParam();
            return true;
        }
        return QObject::event(e);
    }
    int m_count = 0;
    LONG_PTR m_lParam = 0;
};

TEST(GraphPlay, RunsToCompletionThroughTheNotifyTarget) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
    CNotifyTarget target;
    CGraph g;
    ASSERT_EQ(S_OK, g.events->SetNotifyWindow(&target, 0x590, 77));
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video30().c_str(), nullptr));
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    bool complete = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!complete && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (target.m_count == 0)
            continue;
        // Each notification asks us to empty the queue.
        LONG c;
        LONG_PTR p1, p2;
        while (g.events->GetEvent(&c, &p1, &p2, 0) == S_OK) {
            if (c == EC_COMPLETE)
                complete = true;
            g.events->FreeEventParams(c, p1, p2);
        }
    }
    EXPECT_TRUE(complete);
    EXPECT_GT(target.m_count, 0);
    EXPECT_EQ(77, target.m_lParam);
    g.events->SetNotifyWindow(nullptr, 0, 0);
}

TEST(GraphSeek, SeekingToAFrameStartShowsThatFrame) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    for (int n : {37, 1, 13, 50, 74, 24, 25, 0}) {
        SCOPED_TRACE(n);
        g.SeekTo(n * kFrame25);
        ASSERT_TRUE(g.Settle());
        EXPECT_EQ(n, g.Frame());
        EXPECT_EQ(n * kFrame25, g.Position());
    }
}

TEST(GraphSeek, ThirtyFramesPerSecond) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video30().c_str(), nullptr));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    CComPtr<IBasicVideo> video = g.builder;
    REFTIME perFrame = 0;
    video->get_AvgTimePerFrame(&perFrame);
    EXPECT_NEAR(1.0 / 30, perFrame, 1e-9);
    for (int n : {1, 29, 44, 59}) {
        SCOPED_TRACE(n);
        g.SeekTo((LONGLONG(n) * 10'000'000 + 29) / 30);  // the frame's start, rounded up
        ASSERT_TRUE(g.Settle());
        EXPECT_EQ(n, g.Frame());
    }
}

TEST(GraphSeek, StopKeepsThePositionAndPauseShowsItsFrame) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    g.SeekTo(30 * kFrame25);
    ASSERT_TRUE(g.Settle());
    ASSERT_EQ(S_OK, g.control->Stop());
    OAFilterState state;
    g.control->GetState(0, &state);
    EXPECT_EQ(State_Stopped, state);
    EXPECT_EQ(30 * kFrame25, g.Position());
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    EXPECT_EQ(30, g.Frame());
    EXPECT_EQ(30 * kFrame25, g.Position());
}

TEST(GraphSeek, StopAfterTheEndAllowsAnotherCompletion) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    g.SeekTo(70 * kFrame25);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(g.WaitEvent(EC_COMPLETE));
    g.control->Stop();
    g.SeekTo(72 * kFrame25);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(g.WaitEvent(EC_COMPLETE));
    EXPECT_EQ(74, g.Frame());
}

TEST(GraphSeek, PlaybackEndsAtTheStopPosition) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    LONGLONG start = 10 * kFrame25, stop = 20 * kFrame25;
    ASSERT_EQ(S_OK, g.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                            AM_SEEKING_AbsolutePositioning));
    LONGLONG readStop = 0;
    EXPECT_EQ(S_OK, g.seeking->GetStopPosition(&readStop));
    EXPECT_EQ(stop, readStop);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(g.WaitEvent(EC_COMPLETE));
    EXPECT_EQ(stop, g.Position());
    EXPECT_EQ(19, g.Frame());
    // A stop before the current position is refused.
    LONGLONG cur = 15 * kFrame25, early = 5 * kFrame25;
    EXPECT_EQ(E_INVALIDARG, g.seeking->SetPositions(&cur, AM_SEEKING_AbsolutePositioning, &early,
                                                    AM_SEEKING_AbsolutePositioning));
}

TEST(GraphSeek, StepShowsTheNextFrame) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    g.SeekTo(10 * kFrame25);
    ASSERT_TRUE(g.Settle());
    CComPtr<IVideoFrameStep> step = g.builder;
    ASSERT_TRUE(step);
    EXPECT_EQ(S_OK, step->CanStep(0, nullptr));
    ASSERT_EQ(S_OK, step->Step(1, nullptr));
    ASSERT_TRUE(g.WaitEvent(EC_STEP_COMPLETE));
    ASSERT_TRUE(g.Settle());
    EXPECT_EQ(11, g.Frame());
    EXPECT_EQ(E_INVALIDARG, step->Step(0, nullptr));
}

// The pipeline runs on the clock it is given: with a clock that moves only
// when the test moves it, the frame shown follows that clock times the rate.
TEST(GraphClock, PlaybackFollowsTheGivenClockAndRate) {
    for (double rate : {1.0, 2.0, 0.5}) {
        SCOPED_TRACE(rate);
        CGraph g;
        ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
        CComPtr<CManualClock> clock(new CManualClock());
        ASSERT_EQ(S_OK, g.filter->SetSyncSource(clock));
        CComPtr<IReferenceClock> back;
        EXPECT_EQ(S_OK, g.filter->GetSyncSource(&back));
        EXPECT_TRUE(IsSameObject(back, clock));
        ASSERT_EQ(S_OK, g.seeking->SetRate(rate));
        double read = 0;
        g.seeking->GetRate(&read);
        EXPECT_EQ(rate, read);
        ASSERT_TRUE(SUCCEEDED(g.control->Run()));
        ASSERT_TRUE(g.Settle());
        EXPECT_EQ(0, g.Frame());
        // One frame's worth of clock time at a time, so no frame is late.
        REFERENCE_TIME step = REFERENCE_TIME(kFrame25 / rate);
        for (int k = 1; k <= 10; ++k) {
            clock->Advance(step);
            auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
            while (g.Frame() < k && std::chrono::steady_clock::now() < deadline) {
                OAEVENT h;
                g.events->GetEventHandle(&h);
                h->Wait(5);
            }
            ASSERT_EQ(k, g.Frame());
        }
        // The position is stream time: ten frames in, whatever the rate.
        EXPECT_NEAR(double(10 * kFrame25), double(g.Position()), double(kFrame25));
        g.control->Stop();
    }
}

TEST(GraphClock, RatesThePipelineRefuses) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    EXPECT_EQ(E_INVALIDARG, g.seeking->SetRate(0.0));
    EXPECT_EQ(E_NOTIMPL, g.seeking->SetRate(-1.0));
    double rate = 0;
    g.seeking->GetRate(&rate);
    EXPECT_EQ(1.0, rate);
    // A graph set up like a source that cannot change its rate.
    setenv("VELOTRAX_GRAPH_RATES", "fixed", 1);
    EXPECT_EQ(E_NOTIMPL, g.seeking->SetRate(2.0));
    EXPECT_EQ(S_OK, g.seeking->SetRate(1.0));
    unsetenv("VELOTRAX_GRAPH_RATES");
    EXPECT_EQ(S_OK, g.seeking->SetRate(2.0));
}

TEST(GraphClock, DefaultAndSystemClocks) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::VideoAudio().c_str(), nullptr));
    CComPtr<IReferenceClock> graphClock;
    ASSERT_EQ(S_OK, g.filter->GetSyncSource(&graphClock));
    // The audio renderer runs on the graph's clock.
    CComPtr<IBaseFilter> audio;
    ASSERT_EQ(S_OK, g.builder->FindFilterByName("Audio Renderer", &audio));
    CComPtr<IReferenceClock> audioClock;
    ASSERT_EQ(S_OK, audio->GetSyncSource(&audioClock));
    EXPECT_TRUE(IsSameObject(graphClock, audioClock));
    CLSID clsid;
    audio->GetClassID(&clsid);
    EXPECT_EQ(CLSID_DSoundRender, clsid);

    CComPtr<IReferenceClock> system;
    ASSERT_EQ(S_OK, system.CreateInstance(CLSID_SystemClock));
    ASSERT_EQ(S_OK, g.filter->SetSyncSource(system));
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(g.WaitEvent(EC_COMPLETE));
    g.control->Stop();
    EXPECT_EQ(S_OK, g.builder->SetDefaultSyncSource());
    CComPtr<IReferenceClock> again;
    EXPECT_EQ(S_OK, g.filter->GetSyncSource(&again));
    EXPECT_FALSE(IsSameObject(again, system));
    // Running, the clock cannot change.
    g.control->Run();
    EXPECT_EQ(VFW_E_NOT_STOPPED, g.filter->SetSyncSource(system));
    g.control->Stop();
}

TEST(GraphAudio, VolumeMapsOntoTheVolumeElement) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::VideoAudio().c_str(), nullptr));
    CComPtr<IBasicAudio> audio = g.builder;
    ASSERT_TRUE(audio);
    GstElement* volume = gst_bin_get_by_name(GST_BIN(g.Impl()->Pipeline()), "volume");
    ASSERT_TRUE(volume);
    auto factor = [&] {
        double v = -1;
        g_object_get(volume, "volume", &v, nullptr);
        return v;
    };
    LONG v = 1;
    EXPECT_EQ(S_OK, audio->get_Volume(&v));
    EXPECT_EQ(0, v);
    EXPECT_DOUBLE_EQ(1.0, factor());
    EXPECT_EQ(S_OK, audio->put_Volume(-10000));
    audio->get_Volume(&v);
    EXPECT_EQ(-10000, v);
    EXPECT_DOUBLE_EQ(0.0, factor());
    EXPECT_EQ(S_OK, audio->put_Volume(-5000));
    audio->get_Volume(&v);
    EXPECT_EQ(-5000, v);
    EXPECT_NEAR(0.0031623, factor(), 1e-6);  // -50 dB
    EXPECT_EQ(S_OK, audio->put_Volume(-600));
    EXPECT_NEAR(0.5012, factor(), 1e-4);  // -6 dB
    EXPECT_EQ(E_INVALIDARG, audio->put_Volume(1));
    EXPECT_EQ(E_INVALIDARG, audio->put_Volume(-10001));
    audio->get_Volume(&v);
    EXPECT_EQ(-600, v);
    gst_object_unref(volume);
    // Tests play silently.
    CComPtr<IBaseFilter> renderer;
    g.builder->FindFilterByName("Audio Renderer", &renderer);
    EXPECT_EQ("fakesink", static_cast<CAudioRendererFilter*>(renderer.Get())->SinkFactory());
}

TEST(GraphMediaType, InterlacedClipReportsInterlacedVideoInfo2) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Interlaced().c_str(), nullptr));
    CComPtr<IBaseFilter> renderer;
    ASSERT_EQ(S_OK, g.builder->FindFilterByName("Video Renderer", &renderer));
    CComPtr<IPin> in;
    ASSERT_EQ(S_OK, renderer->FindPin("sink", &in));
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(S_OK, in->ConnectionMediaType(&mt));
    EXPECT_EQ(MEDIATYPE_Video, mt.majortype);
    EXPECT_EQ(MEDIASUBTYPE_YUY2, mt.subtype);  // the clip's own format, unconverted
    ASSERT_EQ(FORMAT_VideoInfo2, mt.formattype);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(mt.pbFormat);
    EXPECT_TRUE(vih->dwInterlaceFlags & AMINTERLACE_IsInterlaced);
    EXPECT_EQ(400000, vih->AvgTimePerFrame);
    EXPECT_EQ(4u, vih->dwPictAspectRatioX);
    EXPECT_EQ(3u, vih->dwPictAspectRatioY);
    FreeMediaType(mt);
    // Upstream of the renderer the raw YUY2 stream keeps its type.
    CComPtr<IPin> peer;
    ASSERT_EQ(S_OK, in->ConnectedTo(&peer));
    PIN_INFO info;
    peer->QueryPinInfo(&info);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    CComPtr<IBaseFilter> converter;
    converter.Attach(info.pFilter);
    CLSID clsid;
    converter->GetClassID(&clsid);
    EXPECT_EQ(CLSID_Colour, clsid);
    CComPtr<IPin> convIn;
    ASSERT_EQ(S_OK, converter->FindPin("sink", &convIn));
    ASSERT_EQ(S_OK, convIn->ConnectionMediaType(&mt));
    EXPECT_EQ(MEDIASUBTYPE_YUY2, mt.subtype);
    FreeMediaType(mt);
}

}  // namespace
