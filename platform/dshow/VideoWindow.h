#pragma once
// The video renderer's own window: a widget that shows the renderer's last
// frame. It lives in its owner widget (or on its own as a top-level window),
// forwards mouse and keyboard input to the message-drain object, and can
// cover a whole screen. It is made and touched on the user-interface
// thread only; frames reach it as posted events.
//
// Painting converts the frame once: on the GPU (a YUV to RGB shader) where
// OpenGL works, else on the CPU straight into the image that is drawn
// (offscreen platforms, no GL, or VELOTRAX_VIDEO_GL=0). A software OpenGL
// rasteriser is passed over unless VELOTRAX_VIDEO_GL=1.
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

class CVideoFrameStore;

class CVideoWindow : public QWidget {
public:
    explicit CVideoWindow(std::shared_ptr<CVideoFrameStore> store, QWidget* parent = nullptr);
    ~CVideoWindow() override;

    // Where input on the video goes (null: nowhere).
    void SetDrain(QObject* drain) { m_drain = drain; }
    QObject* Drain() const { return m_drain.data(); }

    // The renderer's full-screen mode: the window leaves its owner and
    // covers the owner's screen, the picture keeping the shape it had there;
    // leaving puts it back where it was.
    void SetFullScreen(bool on);
    bool IsFullScreen() const { return m_fullScreen; }
    // Called when full screen ends without being asked (deactivation).
    void SetFullScreenLostCallback(std::function<void()> callback) {
        m_fullScreenLost = std::move(callback);
    }

    // The part of the frame shown (in frame pixels) and where in the window
    // it goes (in window pixels), scaled from one to the other; an empty
    // rectangle stands for the whole frame or the whole window. The window
    // around the destination stays black.
    void SetPlacement(const QRect& source, const QRect& destination);
    // The placement for a frame and surface of these sizes: the source
    // inside the frame, the destination cut to the surface with the source
    // cut alike. False when nothing of the frame is to be seen.
    bool Place(const QSize& frame, const QSize& surface, QRect& source, QRect& destination) const;

    // Frames painted since the window was made.
    uint64_t FramesPainted() const { return m_painted.load(); }
    void CountPainted() { ++m_painted; }
    // Whether the frames are converted by a shader.
    bool UsesOpenGL() const { return m_openGL; }
    // Whether OpenGL painting can be used in this process.
    static bool OpenGLUsable();

    const std::shared_ptr<CVideoFrameStore>& Store() const { return m_store; }

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool ForwardInput(QEvent* event);
    // The whole surface, or in full screen the owner's picture shape fitted
    // into it.
    QRect DefaultDestination(const QSize& surface) const;

    std::shared_ptr<CVideoFrameStore> m_store;
    QWidget* m_surface = nullptr;
    bool m_openGL = false;
    QRect m_source;
    QRect m_destination;
    QPointer<QObject> m_drain;
    std::atomic<uint64_t> m_painted{0};
    bool m_fullScreen = false;
    QPointer<QWidget> m_savedParent;
    QRect m_savedGeometry;
    bool m_savedVisible = false;
    std::function<void()> m_fullScreenLost;
};
