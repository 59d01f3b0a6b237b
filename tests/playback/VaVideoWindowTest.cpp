// The wrapper's video-window half with real widgets (offscreen): placement
// of the renderer's window in the host, aspect correction, re-hooking, the
// two kinds of full screen and the worker thread's events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBoxLayout>
#include <QScreen>
#include <QThread>
#include <atomic>
#include <thread>

#include "platform/dshow/Renderers.h"
#include "platform/dshow/VideoWindow.h"
#include "playback/VaFilterGraph.h"
#include "playback/VaWindowHook.h"
#include "tests/playback/VaFilterGraphFakes.h"

namespace {

QApplication* App() {
    static int argc = 1;
    static char name[] = "playback_video_window_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

// The real renderer with a stream size and aspect ratio set by the test;
// it notes each placement and the thread that made it.
class CTestRenderer : public CVideoRendererFilter {
public:
    HRESULT GetVideoSize(LONG* w, LONG* h) override {
        *w = m_size.cx;
        *h = m_size.cy;
        return S_OK;
    }
    HRESULT GetPreferredAspectRatio(LONG* x, LONG* y) override {
        *x = m_aspect.cx;
        *y = m_aspect.cy;
        return S_OK;
    }
    HRESULT SetWindowPosition(LONG l, LONG t, LONG w, LONG h) override {
        ++m_placed;
        if (QThread::currentThread() != qApp->thread())
            ++m_offThread;
        return CVideoRendererFilter::SetWindowPosition(l, t, w, h);
    }
    SIZE m_size{320, 240};
    SIZE m_aspect{4, 3};
    std::atomic<int> m_placed{0};
    std::atomic<int> m_offThread{0};
};

// Counts events that reach widgets from a thread other than theirs.
struct CThreadWatch : QObject {
    bool eventFilter(QObject* o, QEvent*) override {
        if (o->isWidgetType() && QThread::currentThread() != o->thread())
            ++m_foreign;
        return false;
    }
    std::atomic<int> m_foreign{0};
};

// The application exists before the fixture's widgets.
struct CWithApp {
    CWithApp() { App(); }
};

struct VideoWindow : testing::Test, CWithApp {
    void SetUp() override {
        fake::CGraph::Install();
        fake::CGraph::Made().clear();
        graph->Reset(true);
        g = fake::CGraph::Made().back();
        renderer = new CTestRenderer();
        g->m_filters.emplace_back(static_cast<IBaseFilter*>(renderer));
        top.resize(640, 480);
        auto* layout = new QVBoxLayout(&top);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto* strip = new QWidget(&top);
        strip->setFixedHeight(0);
        layout->addWidget(strip);
        host = new QWidget(&top);
        layout->addWidget(host);
        top.show();
        Pump();
    }
    RECT Placed() {
        RECT r{};
        graph->GetVideoWindowRect(r);
        return r;
    }
    void Pump() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    CVaFilterGraph graph;
    fake::CGraph* g = nullptr;
    CTestRenderer* renderer = nullptr;
    QWidget top;
    QWidget* host = nullptr;
};

TEST(VideoRect, EveryModePlacesTheVideoInTheClientArea) {
    struct Case {
        RECT client;
        SIZE video;
        int mode;
        RECT expected;
    };
    const Case cases[] = {
        {{0, 0, 640, 480}, {320, 240}, 2, {160, 120, 480, 360}},  // fits: own size, centred
        {{0, 0, 300, 300}, {320, 240}, 2, {0, 37, 300, 262}},     // too wide: fitted
        {{0, 0, 640, 480}, {320, 240}, 1, {0, 0, 640, 480}},
        {{0, 0, 200, 100}, {320, 240}, 0, {0, 0, 320, 240}},    // origin clamp
        {{0, 0, 640, 360}, {320, 240}, 1, {80, 0, 560, 360}},   // host wider than the video
        {{0, 0, 400, 600}, {320, 240}, 1, {0, 150, 400, 450}},  // host taller
        {{0, 0, 100, 400}, {320, 240}, 2, {0, 162, 100, 237}},  // video wider than the host
        {{0, 0, 640, 100}, {320, 240}, 2, {253, 0, 386, 100}},  // video taller than the host
        {{0, 0, 640, 360}, {320, 240}, 0, {160, 60, 480, 300}},
        {{0, 0, 0, 0}, {320, 240}, 0, {0, 0, 320, 240}},  // empty client area
        {{0, 0, 0, 0}, {320, 240}, 1, {0, 0, 0, 0}},
        {{0, 0, 640, 480}, {320, 240}, 7, {0, 0, 640, 480}},  // unknown modes maximise
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " client " << c.client.right << "x"
                                        << c.client.bottom);
        EXPECT_EQ(va::ComputeVideoRect(c.client, c.video, c.mode), c.expected);
    }
}

TEST_F(VideoWindow, PlacesTheRendererWindowInTheHostForEachMode) {
    graph->SetVideoWindow(host);
    ASSERT_TRUE(graph->ConnectVideoWindow(false));
    CVideoWindow* window = renderer->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->parentWidget(), host);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(Placed(), (RECT{0, 0, 640, 480}));  // Maximum Size by default
    EXPECT_TRUE(graph->SetScaleMode(0));
    EXPECT_EQ(Placed(), (RECT{160, 120, 480, 360}));
    EXPECT_EQ(window->geometry(), QRect(160, 120, 320, 240));
    // The current mode again: nothing to do, nothing placed.
    int placed = renderer->m_placed;
    EXPECT_FALSE(graph->SetScaleMode(0));
    EXPECT_EQ(renderer->m_placed, placed);
    // The host grows: its hook lays out again.
    top.resize(800, 600);
    Pump();
    EXPECT_EQ(Placed(), (RECT{240, 180, 560, 420}));
    // Hidden and shown again.
    graph->SetVisible(false);
    EXPECT_FALSE(window->isVisible());
    graph->SetVisible(true);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(VideoWindow, AspectCorrectionWidensAnamorphicVideo) {
    renderer->m_size = SIZE{720, 576};
    renderer->m_aspect = SIZE{16, 9};
    graph->SetVideoWindow(host);
    graph->SetAspectCorrection(true);
    graph->ConnectVideoWindow(false);
    SIZE size;
    ASSERT_TRUE(graph->GetVideoSize(size));
    EXPECT_EQ(size, (SIZE{1024, 576}));
    EXPECT_EQ(Placed(), (RECT{0, 60, 640, 420}));
    graph->SetAspectCorrection(false);
    ASSERT_TRUE(graph->GetVideoSize(size));
    EXPECT_EQ(size, (SIZE{720, 576}));
    // A size change from the stream is corrected too.
    graph->SetAspectCorrection(true);
    renderer->m_aspect = SIZE{4, 3};
    g->Post(EC_VIDEO_SIZE_CHANGED, (288 << 16) | 352);
    Pump();
    ASSERT_TRUE(graph->GetVideoSize(size));
    EXPECT_EQ(size, (SIZE{384, 288}));
}

TEST_F(VideoWindow, SameHostKeepsItsHooksAndANewTopLevelIsHookedAgain) {
    graph->SetVideoWindow(host);
    graph->ConnectVideoWindow(false);
    EXPECT_NE(CVaWindowHook::HookedBy(&top), nullptr);
    EXPECT_EQ(CVaWindowHook::HookedBy(host), CVaWindowHook::HookedBy(&top));
    graph->SetVideoWindow(host);
    EXPECT_FALSE(graph->NeedsReconnect());
    // The host moves into another top-level window.
    QWidget other;
    host->setParent(&other);
    graph->SetVideoWindow(host);
    EXPECT_TRUE(graph->NeedsReconnect());
    EXPECT_EQ(CVaWindowHook::HookedBy(&top), nullptr);
    EXPECT_EQ(CVaWindowHook::HookedBy(host), nullptr);
    graph->ConnectVideoWindow(false);
    EXPECT_NE(CVaWindowHook::HookedBy(&other), nullptr);
    EXPECT_NE(CVaWindowHook::HookedBy(host), nullptr);
    host->setParent(&top);
}

TEST_F(VideoWindow, StaticHostsAndNoHostUseTheRenderersFullScreen) {
    for (const char* cls : {"Static", "sTaTiC", ""}) {
        SCOPED_TRACE(cls);
        CVaFilterGraph other;
        EXPECT_FALSE(other->SetFullScreen(true));  // no video window: cannot switch
        graph->ReleaseVideoWindow();
        graph->SetFullScreen(false);
        host->setProperty(va::kWindowClassProperty, QString::fromLatin1(cls));
        graph->SetVideoWindow(*cls ? host : nullptr);
        graph->ConnectVideoWindow(false);
        EXPECT_EQ(graph->HostIsStatic(), *cls != 0);
        ASSERT_TRUE(graph->SetFullScreen(true));
        EXPECT_FALSE(graph->IsOwnFullScreen());
        LONG mode = OAFALSE;
        renderer->get_FullScreenMode(&mode);
        EXPECT_EQ(mode, OATRUE);
        ASSERT_NE(renderer->Window(), nullptr);
        EXPECT_TRUE(renderer->Window()->isWindow());
        EXPECT_EQ(renderer->Window()->geometry(), top.screen()->geometry());
        EXPECT_TRUE(graph->SetFullScreen(false));
        EXPECT_FALSE(renderer->Window()->IsFullScreen());
        EXPECT_EQ(renderer->Window()->parentWidget(), *cls ? host : nullptr);
    }
    host->setProperty(va::kWindowClassProperty, QVariant());
}

TEST_F(VideoWindow, OtherHostsCoverTheScreenThemselvesUntilDeactivated) {
    graph->SetVideoWindow(host);
    graph->ConnectVideoWindow(false);
    EXPECT_FALSE(graph->HostIsStatic());
    for (QEvent::Type deactivation : {QEvent::WindowDeactivate, QEvent::ApplicationDeactivate}) {
        ASSERT_TRUE(graph->SetFullScreen(true));
        EXPECT_TRUE(graph->IsOwnFullScreen());
        EXPECT_TRUE(host->isWindow());
        EXPECT_EQ(host->geometry(), top.screen()->geometry());
        EXPECT_EQ(Placed(),
                  va::ComputeVideoRect({0, 0, host->width(), host->height()}, {320, 240}, 1));
        QEvent activated(QEvent::WindowActivate);
        QCoreApplication::sendEvent(host, &activated);
        EXPECT_TRUE(graph->IsFullScreen());
        QEvent event(deactivation);
        QCoreApplication::sendEvent(host, &event);
        EXPECT_FALSE(graph->IsFullScreen());
        // Back in its place: the same parent and the same slot of the layout.
        EXPECT_EQ(host->parentWidget(), &top);
        EXPECT_EQ(top.layout()->indexOf(host), 1);
        Pump();
        EXPECT_EQ(host->size(), QSize(640, 480));
    }
    // A child host only sees its window go inactive (here behind the
    // renderer's own full screen): that does not end full screen.
    host->setProperty(va::kWindowClassProperty, QStringLiteral("Static"));
    graph->ReleaseVideoWindow();
    graph->ConnectVideoWindow(false);
    ASSERT_TRUE(graph->SetFullScreen(true));
    QEvent event(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(host, &event);
    EXPECT_TRUE(graph->IsFullScreen());
    EXPECT_TRUE(graph->SetFullScreen(false));
    host->setProperty(va::kWindowClassProperty, QVariant());
}

TEST_F(VideoWindow, WorkerEventsTouchWidgetsOnlyOnTheUserInterfaceThread) {
    graph->SetVideoWindow(host);
    graph->SetAspectCorrection(true);
    graph->ConnectVideoWindow(false);
    graph->GetEventHandle();
    CThreadWatch watch;
    qApp->installEventFilter(&watch);
    const int placedBefore = renderer->m_placed;
    // The pause finds another size than the size change said: it is placed
    // at once (on the user-interface thread).
    renderer->m_size = SIZE{200, 150};
    g->Post(EC_VIDEO_SIZE_CHANGED, (120 << 16) | 160);
    g->Post(EC_PAUSED);
    std::thread worker([&] { graph->ProcessEvents(nullptr); });
    worker.join();
    EXPECT_EQ(renderer->m_placed, placedBefore);  // nothing placed by the worker
    for (int i = 0; i < 20 && renderer->m_placed == placedBefore; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    qApp->removeEventFilter(&watch);
    EXPECT_GT(renderer->m_placed, placedBefore);
    EXPECT_EQ(renderer->m_offThread, 0);
    EXPECT_EQ(watch.m_foreign, 0);
    SIZE size;
    ASSERT_TRUE(graph->GetVideoSize(size));
    EXPECT_EQ(size, (SIZE{200, 150}));
}

}  // namespace
