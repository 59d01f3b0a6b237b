// The video renderer's window on the generated clips (offscreen, so frames
// are converted on the CPU): the decoder's frames reach the sink
// unconverted, the window shows them where its owner puts it, input goes to
// the drain, and frames that arrive faster than painting are dropped.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>

#include "platform/dshow/GstSupport.h"
#include "platform/dshow/Renderers.h"
#include "platform/dshow/VideoFrame.h"
#include "platform/dshow/VideoWindow.h"
#include "tests/media/TestMedia.h"
#include "tests/platform/dshow/GraphTestSupport.h"

namespace {

using graphtest::CGraph;

QApplication* App() {
    static int argc = 1;
    static char name[] = "velotrax_dshow_window_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

void Pump() {
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
}

struct CKeyDrain : QWidget {
    void keyPressEvent(QKeyEvent* e) override { keys.push_back(e->key()); }
    std::vector<int> keys;
};

TEST(VideoWindow, ShowsTheDecodersFrameUnconvertedInItsOwner) {
    App();
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    CComPtr<IBaseFilter> renderer;
    ASSERT_EQ(S_OK, g.builder->FindFilterByName("Video Renderer", &renderer));
    CComPtr<IVideoWindow> window(renderer.Get());
    ASSERT_TRUE(window);
    CKeyDrain host;
    host.resize(640, 480);
    host.show();
    ASSERT_EQ(S_OK, window->put_Owner(&host));
    ASSERT_EQ(S_OK, window->put_MessageDrain(&host));
    ASSERT_EQ(S_OK, window->SetWindowPosition(0, 0, 640, 480));
    ASSERT_EQ(S_OK, window->put_Visible(OATRUE));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    // The sink holds the decoder's own planar frame: nothing was converted.
    CComPtr<IPin> in;
    ASSERT_EQ(S_OK, renderer->FindPin("sink", &in));
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(S_OK, in->ConnectionMediaType(&mt));
    EXPECT_EQ(MEDIASUBTYPE_I420, mt.subtype);
    FreeMediaType(mt);

    auto* video = static_cast<CVideoRendererFilter*>(renderer.Get());
    CVideoWindow* widget = video->Window();
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), &host);
    EXPECT_FALSE(widget->UsesOpenGL());
    Pump();
    QImage shot = widget->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(640, 480));
    EXPECT_GE(widget->FramesPainted(), 1u);
    // Frame 0 at twice its size: the bar is at the left edge, black beyond it.
    EXPECT_GT(qGreen(shot.pixel(1, 240)), 200);
    EXPECT_LT(qGreen(shot.pixel(200, 240)), 50);
    EXPECT_EQ(testmedia::FrameNumberFromRow(shot.constScanLine(240), 640, 4), 0);

    // Input on the video goes to the drain.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_F, Qt::NoModifier, QStringLiteral("f"));
    QCoreApplication::sendEvent(widget, &key);
    EXPECT_EQ(host.keys, std::vector<int>{Qt::Key_F});

    // Without owner the window is a top-level window of its own.
    ASSERT_EQ(S_OK, window->put_Owner(nullptr));
    EXPECT_TRUE(widget->isWindow());
    g.control->Stop();
}

// Frames that arrive before the window painted the last one replace it: the
// window hears of them once.
TEST(VideoWindow, FramesSupersededBeforePaintingAreDropped) {
    App();
    struct CCounter : QObject {
        bool event(QEvent* e) override {
            if (int(e->type()) == CVideoFrameStore::FrameEventType())
                ++count;
            return QObject::event(e);
        }
        int count = 0;
    } listener;
    vagst::EnsureInit();  // run alone, no graph has started GStreamer yet
    CVideoFrameStore store;
    store.SetListener(&listener);
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=I420,width=16,height=16");
    auto put = [&] {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 16 * 16 * 3 / 2, nullptr);
        store.Put(gst_sample_new(buffer, caps, nullptr, nullptr));
        gst_buffer_unref(buffer);
    };
    for (int i = 0; i < 5; ++i)
        put();
    Pump();
    EXPECT_EQ(listener.count, 1);
    EXPECT_EQ(store.Frames(), 5u);
    store.FrameEventTaken();
    put();
    Pump();
    EXPECT_EQ(listener.count, 2);
    store.SetListener(nullptr);
    gst_caps_unref(caps);
}

}  // namespace
