#pragma once
// The graph's renderers. The video renderer is a sink element of our own
// that takes the decoder's frames as they are and keeps the last one by
// reference; its video window (a widget made on the user-interface thread
// once something asks for it) shows that frame, and GetCurrentImage
// converts it on request. Without a window it shows nothing and keeps time. The audio renderer
// resamples, applies the volume and plays on the audio device, or silently where there is none (and
// in tests: VELOTRAX_AUDIO_SINK=fakesink or VELOTRAX_TEST=1).
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/dshow/Control.h"
#include "platform/dshow/ElementFilter.h"

class CVideoFrameStore;
class CVideoWindow;

class CVideoRendererFilter
    : public CElementFilterT<CVideoRendererFilter, IBasicVideo2, IVideoWindow, IVideoFrameStep> {
public:
    CVideoRendererFilter();
    ~CVideoRendererFilter() override;

    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv);

    // Called on a streaming thread when the native size changes.
    void SetSizeChangedCallback(std::function<void(int width, int height)> callback);
    // Called on the streaming thread after each frame the sink has shown.
    void SetFrameShownCallback(std::function<void()> callback);
    // Frames shown since the renderer was made (previews included).
    uint64_t FramesShown() const;
    // Whether a frame is held.
    bool HasFrame() const;
    // The renderer's video window, once made (user-interface thread only).
    CVideoWindow* Window() const;

    // IBasicVideo / IBasicVideo2
    HRESULT get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) override;
    HRESULT get_BitRate(LONG* pBitRate) override;
    HRESULT get_BitErrorRate(LONG* pBitErrorRate) override;
    HRESULT get_VideoWidth(LONG* pVideoWidth) override;
    HRESULT get_VideoHeight(LONG* pVideoHeight) override;
    HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetSourcePosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) override;
    HRESULT SetDefaultSourcePosition() override;
    HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetDestinationPosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) override;
    HRESULT SetDefaultDestinationPosition() override;
    HRESULT GetVideoSize(LONG* pWidth, LONG* pHeight) override;
    HRESULT GetCurrentImage(LONG* pBufferSize, LONG* pDIBImage) override;
    HRESULT IsUsingDefaultSource() override;
    HRESULT IsUsingDefaultDestination() override;
    HRESULT GetPreferredAspectRatio(LONG* plAspectX, LONG* plAspectY) override;

    // IVideoWindow: the state is kept here and may be set from any thread;
    // the widget follows it on the user-interface thread.
    HRESULT put_Caption(const char* caption) override;
    HRESULT get_Caption(std::string* caption) override;
    HRESULT put_WindowStyle(LONG style) override;
    HRESULT get_WindowStyle(LONG* style) override;
    HRESULT put_WindowStyleEx(LONG style) override;
    HRESULT get_WindowStyleEx(LONG* style) override;
    HRESULT put_AutoShow(LONG autoShow) override;
    HRESULT get_AutoShow(LONG* autoShow) override;
    HRESULT put_WindowState(LONG state) override;
    HRESULT get_WindowState(LONG* state) override;
    HRESULT put_Visible(LONG visible) override;
    HRESULT get_Visible(LONG* visible) override;
    HRESULT put_Left(LONG left) override;
    HRESULT get_Left(LONG* left) override;
    HRESULT put_Width(LONG width) override;
    HRESULT get_Width(LONG* width) override;
    HRESULT put_Top(LONG top) override;
    HRESULT get_Top(LONG* top) override;
    HRESULT put_Height(LONG height) override;
    HRESULT get_Height(LONG* height) override;
    HRESULT put_Owner(OAHWND owner) override;
    HRESULT get_Owner(OAHWND* owner) override;
    HRESULT put_MessageDrain(OAHWND drain) override;
    HRESULT get_MessageDrain(OAHWND* drain) override;
    HRESULT get_BorderColor(LONG* color) override;
    HRESULT put_BorderColor(LONG color) override;
    HRESULT get_FullScreenMode(LONG* fullScreenMode) override;
    HRESULT put_FullScreenMode(LONG fullScreenMode) override;
    HRESULT SetWindowForeground(LONG focus) override;
    HRESULT NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wParam, LONG_PTR lParam) override;
    HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetWindowPosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) override;
    // One part (0 left, 1 top, 2 width, 3 height) of the window rectangle.
    HRESULT GetWindowPart(int part, LONG* value);
    HRESULT PutWindowPart(int part, LONG value);
    HRESULT GetMinIdealImageSize(LONG* pWidth, LONG* pHeight) override;
    HRESULT GetMaxIdealImageSize(LONG* pWidth, LONG* pHeight) override;
    HRESULT GetRestorePosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) override;
    HRESULT HideCursor(LONG hideCursor) override;
    HRESULT IsCursorHidden(LONG* cursorHidden) override;

    // IVideoFrameStep
    HRESULT Step(DWORD dwFrames, IUnknown* pStepObject) override;
    HRESULT CanStep(LONG bMultiple, IUnknown* pStepObject) override;
    HRESULT CancelStep() override;

private:
    bool NativeSize(LONG& width, LONG& height) const;
    // Brings the widget in line with the state: at once on the user-
    // interface thread, else posted there. Nothing without a QApplication.
    void SyncWindow();
    void ApplyWindowState();
    void OnFullScreenLost();
    void OnFirstFrame();

    // Lets the window's callbacks find the filter while it lives.
    struct CAlive {
        std::recursive_mutex lock;
        CVideoRendererFilter* filter = nullptr;
    };
    std::shared_ptr<CAlive> m_alive;
    std::shared_ptr<CVideoFrameStore> m_store;
    QPointer<CVideoWindow> m_widget;  // user-interface thread only
    std::atomic<bool> m_syncPosted{false};

    mutable std::mutex m_lock;
    std::string m_caption = "ActiveMovie Window";
    LONG m_style = LONG(0x16CF0000);  // overlapped window, clipping children and siblings
    LONG m_styleEx = 0;
    LONG m_autoShow = OATRUE;
    LONG m_windowState = 0;
    LONG m_visible = OAFALSE;
    RECT m_window{0, 0, 0, 0};
    bool m_windowPlaced = false;
    QPointer<QObject> m_owner;
    QPointer<QObject> m_drain;
    LONG m_borderColor = 0;
    LONG m_fullScreen = OAFALSE;
    LONG m_cursorHidden = OAFALSE;
    int m_foreground = 0;  // 1 raise, 2 raise and activate, once
    RECT m_source{0, 0, 0, 0};
    RECT m_destination{0, 0, 0, 0};
    bool m_defaultSource = true;
    bool m_defaultDestination = true;
};

class CAudioRendererFilter : public CElementFilterT<CAudioRendererFilter, IBasicAudio> {
public:
    CAudioRendererFilter();

    // -10000..0 in 1/100 dB; -10000 is silence.
    HRESULT put_Volume(LONG lVolume) override;
    HRESULT get_Volume(LONG* plVolume) override;
    HRESULT put_Balance(LONG lBalance) override;
    HRESULT get_Balance(LONG* plBalance) override;

    // The linear factor the volume element gets for a volume (for tests).
    static double VolumeFactor(LONG volume);
    // The sink that plays the audio ("fakesink" when silent).
    std::string SinkFactory() const;

private:
    std::mutex m_lock;
    LONG m_volume = 0;
    LONG m_balance = 0;
    GstElement* m_volumeElement = nullptr;  // owned by the bin
};
