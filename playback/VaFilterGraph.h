#pragma once
// CVaFilterGraph: one filter graph with everything the player needs around
// it: control, seeking and events, play rates (rates the graph refuses are
// emulated with a scaled reference clock), volume, frame stepping, the
// choice of reference clock, frame capture, the graph-builder callback,
// the delivery of graph events and the search operations used to splice
// filters in. The same object hosts the graph's video window.
//
// CVaFilterGraph is a cheap handle over a CVaFilterGraphRep; copies share
// one representation and the last handle destroys it. Operations are
// called through the handle: graph->Run(), graph->FindAudioFilter().
//
// Failures of operations the player cannot do without throw CComException
// (E_NOINTERFACE without a graph or a needed interface); optional queries
// (volume, frame step, images) answer false or -1 instead.
#include <QLayout>
#include <QPointer>
#include <QRect>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/DShow.h"
#include "playback/VaCheckEvent.h"
#include "playback/VaGraphBuilderCallback.h"
#include "support/RefCount.h"

class QEvent;
class QImage;
class QObject;
class QWidget;
class CVaAMGraphBuilderCallback;
class CVaScaledReferenceClock;
class CVaWindowHook;

// The message the graph posts to the notification object.
constexpr int WM_VA_GRAPHNOTIFY = 0x590;  // WM_USER + 400
// Asks a video host window to lay out and repaint.
constexpr int WM_VA_VIDEOLAYOUT = 0x591;  // WM_USER + 401
// Work another thread hands to the notification object's thread.
constexpr int WM_VA_UIWORK = 0x592;  // WM_USER + 402
// The object name of the hidden notification object.
inline constexpr char kVaFilterGraphNfyWndName[] = "VaFilterGraphNfyWnd";

struct SIZE {
    LONG cx = 0;
    LONG cy = 0;
    friend bool operator==(const SIZE&, const SIZE&) = default;
};

class CVaFilterGraphRep : public CRefCountRep {
public:
    CVaFilterGraphRep();
    ~CVaFilterGraphRep() override;

    // ---- lifetime and building
    // Makes a fresh graph; with force false a graph without filters is kept
    // and false returned.
    bool Reset(bool force);
    // Creates the graph when there is none yet.
    void EnsureGraph();
    bool HasGraph() const { return m_graph != nullptr; }
    // Takes 'seeking' (or the graph's own when null) as the seeking interface.
    void SetSeeking(IMediaSeeking* seeking = nullptr);
    void SetBuilderCallbackOwner(IVaGraphBuilderCallback* owner);
    void RenderFile(const std::string& path);
    // Loads a saved graph: a text file holding a pipeline description.
    void LoadGraphFile(const std::string& path);
    void AddFilter(IBaseFilter* filter, const std::string& name);
    void RemoveFilter(IBaseFilter* filter);
    void DisconnectFilter(IBaseFilter* filter);
    void DisconnectPins(IBaseFilter* filter, PIN_DIRECTION direction);
    HRESULT RenderOutputPins(IBaseFilter* filter);
    // source is an output pin or a filter; middle is optional.
    void ConnectThrough(IUnknown* source, IBaseFilter* middle, IBaseFilter* target);

    // ---- search operations (counted references or null)
    CComPtr<IBaseFilter> FindFilterByInterface(REFIID iid);
    CComPtr<IBaseFilter> FindVideoWindowFilter();
    CComPtr<IBaseFilter> FindAudioFilter();
    static bool PinSupportsType(IPin* pin, REFGUID major, REFGUID sub, REFGUID format);
    static CComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION direction, REFGUID major,
                                 REFGUID sub, REFGUID format, bool unconnectedOnly,
                                 bool followDownstream);
    static CComPtr<IPin> FindFreePin(IBaseFilter* filter, PIN_DIRECTION direction,
                                     REFGUID major = GUID_NULL, REFGUID sub = GUID_NULL,
                                     REFGUID format = GUID_NULL);
    // The first connected pin whose connection passes PinSupportsType, its
    // peer pin and the peer's filter; false when there is none.
    static bool FindConnectedPin(IBaseFilter* filter, PIN_DIRECTION direction, bool followPeers,
                                 REFGUID major, REFGUID sub, REFGUID format, CComPtr<IPin>* pin,
                                 CComPtr<IPin>* peer, CComPtr<IBaseFilter>* peerFilter);
    static CComPtr<IBaseFilter> GetConnectedFilter(IBaseFilter* filter, PIN_DIRECTION direction,
                                                   REFGUID major = GUID_NULL,
                                                   REFGUID sub = GUID_NULL,
                                                   REFGUID format = GUID_NULL);

    // ---- state, position and rate
    void Run();
    void Pause();
    void Stop();
    void StopWhenReady();
    // Halts the graph from any thread: calls blocked in it return, and the
    // graph is of no further use (for shutting down a stuck worker).
    void AbortGraph();
    // 1 stopped, 2 paused, 3 running; 0 while a change is still running.
    int GetState();
    HRESULT WaitForState();
    // The state the graph is in or changing to (1 to 3).
    int GetTargetState();
    // 3 runs, 2 pauses, anything else stops; nothing when already there.
    void SetState(int state);
    REFERENCE_TIME GetDuration();
    // False when the source can only be read from start to end (a server
    // without range requests): no position may be set then.
    bool CanSeek();
    REFERENCE_TIME GetCurrentPosition();
    void SetCurrentPosition(REFERENCE_TIME t);
    void SetStopPosition(REFERENCE_TIME t);
    double GetRate();
    // True when the rate is realised by the scaled clock.
    bool SetRate(double rate);
    // 0..100, or -1 without audio.
    int GetVolume();
    bool SetVolume(int percent);
    bool StepFrame();
    bool CancelStep();
    void UseSystemClock();
    void UseDefaultClock();
    void SetFixAudioClock(bool on) { m_fixAudioClock = on; }
    bool GetFixAudioClock() const { return m_fixAudioClock; }
    void CheckAudioClock();
    bool IsSystemClockChosen() const { return m_systemClockChosen; }
    static constexpr int kRateThreshold = 20;  // percent

    // ---- images and queries
    // The frame shown now as a packed DIB; 'bits' (optional) receives the
    // address of its pixels inside 'dib'.
    bool GetCurrentImage(std::vector<BYTE>& dib, BYTE** bits = nullptr);
    // The frame as an image; a null image on failure.
    QImage GetCurrentBitmap();
    bool HasVideo();
    bool IsInterlaced();

    // ---- events
    // From now on the caller waits on the handle; window notification stops.
    OAEVENT GetEventHandle();
    // Pumps the queued events into 'sink'; returns the failing GetEvent
    // result (E_ABORT when the queue is empty).
    HRESULT ProcessEvents(CVaCheckEvent* sink);
    // The hidden notification object (null before the first graph).
    QObject* GetNotifyWindow() const { return m_nfyWnd.data(); }
    // The terminal event remembered in window mode (0, EC_COMPLETE, EC_ERRORABORT).
    LONG GetRememberedEvent() const { return m_terminalEvent.load(); }

    // ---- VMR tracking
    void SetVmrTracking(bool on);
    bool GetVmrTracking() const { return m_vmrTracking; }
    IVMRFilterConfig* GetVmrFilterConfig() const { return m_vmrConfig.Get(); }

    // ---- the graph's interfaces (null without a graph)
    IGraphBuilder* GetGraph() const { return m_graph.Get(); }
    IMediaControl* GetMediaControl() const { return m_control.Get(); }
    IMediaSeeking* GetMediaSeeking() const { return m_seeking.Get(); }
    IMediaEventEx* GetMediaEvent() const { return m_event.Get(); }
    CVaScaledReferenceClock* GetScaledClock() const { return m_scaledClock.get(); }

    // ---- video window
    void SetVideoWindow(QObject* window);
    QObject* GetVideoWindow() const { return m_hostWnd.data(); }
    HRESULT SetMessageDrain(QObject* window);
    void SetVisible(bool visible);
    bool ConnectVideoWindow(bool force);
    void ReleaseVideoWindow();
    bool SetScaleMode(int mode);
    int GetScaleMode() const { return m_scaleMode; }
    void SetAspectCorrection(bool on);
    bool GetAspectCorrection() const { return m_aspectCorrection; }
    bool SetFullScreen(bool on);
    bool IsFullScreen() const { return m_fullScreen; }
    bool GetVideoSize(SIZE& size) const;
    bool GetVideoWindowRect(RECT& rect);
    void UpdateVideoPosition();
    void Repaint();
    bool IsVideoWindowConnected() const { return m_videoWindow != nullptr; }
    // Whether the host window is a plain static control (its window class,
    // see va::WindowClassName, is "Static" in any letter case).
    bool HostIsStatic();
    // Whether the wrapper runs its own full screen (the host covers the screen).
    bool IsOwnFullScreen() const { return m_ownFullScreen; }
    bool NeedsReconnect() const { return m_reconnect; }

    // Called by the window hook for each event of a hooked object; true
    // swallows the event.
    bool OnHookedEvent(QObject* window, QEvent* event);

private:
    void CreateGraph();
    void ReleaseGraph();
    IGraphBuilder* RequireGraph() const;
    IMediaControl* RequireControl() const;
    IMediaSeeking* RequireSeeking() const;
    CComPtr<IMediaEventEx> TakeMediaEvent() const;
    void DropVmrConfig() { m_vmrConfig = nullptr; }
    void PrepareDisconnect();
    void DeleteScaledClock();
    // The event loop of window mode.
    void OnGraphNotify();
    // The wrapper's own handling of one event.
    void HandleEvent(LONG code, LONG_PTR param1, LONG_PTR param2, bool updateNow);
    void OnVideoEvent(LONG code, LONG_PTR param1, bool updateNow);
    void OnPollTimer();
    bool ReadVideoSize(SIZE& size);
    void StartPollTimer(int ms);
    // Queues 'work' on the notification object's (user-interface) thread
    // when called from another thread; false when already there.
    bool PostToUiThread(std::function<void()> work);
    static void RunUiWork(QEvent* event);
    void EnterOwnFullScreen(QWidget* host);
    void LeaveOwnFullScreen(QWidget* host);
    void StopPollTimer();

    // The graph and its interfaces.
    CComPtr<IGraphBuilder> m_graph;
    CComPtr<IMediaControl> m_control;
    CComPtr<IMediaSeeking> m_seeking;
    CComPtr<IMediaEventEx> m_event;
    // Guards m_event against the worker thread taking a copy while the
    // user-interface thread replaces the graph.
    mutable std::mutex m_eventLock;
    // Set once the worker took the event handle: window notification is
    // over for this graph and a late notification must not steal events.
    std::atomic<bool> m_handleMode{false};

    // The hidden notification object and the hook on it and the video's windows.
    QPointer<QObject> m_nfyWnd;
    std::unique_ptr<CVaWindowHook> m_hook;

    bool m_vmrTracking = false;
    bool m_fixAudioClock = false;
    bool m_systemClockChosen = false;
    int m_hasVideo = -1;
    std::atomic<LONG> m_terminalEvent{0};
    int m_savedVolume = -1;
    CComPtr<IReferenceClock> m_systemClock;
    std::unique_ptr<CVaScaledReferenceClock> m_scaledClock;
    CComPtr<IVMRFilterConfig> m_vmrConfig;
    std::unique_ptr<CVaAMGraphBuilderCallback> m_builderCallback;

    // Video window.
    CComPtr<IVideoWindow> m_videoWindow;
    QPointer<QObject> m_hostWnd;
    QPointer<QObject> m_topWnd;
    QPointer<QObject> m_drainWnd;
    // Written where the graph's events are handled (the worker thread when
    // there is no notification window), read by the user-interface thread.
    std::atomic<SIZE> m_videoSize{SIZE{}};
    int m_scaleMode = 1;
    bool m_reconnect = true;
    std::atomic<bool> m_fullScreen{false};
    bool m_hidden = false;
    bool m_aspectCorrection = false;
    std::atomic<int> m_pollCounter{0};
    int m_pollTimerId = 0;
    int m_hostNotStatic = -1;
    // The wrapper's own full screen: where the host window was.
    bool m_ownFullScreen = false;
    QPointer<QWidget> m_savedParent;
    QRect m_savedRect;  // screen coordinates
    QPointer<QLayout> m_savedLayout;
    int m_savedLayoutIndex = -1;
    int m_savedStretch = 0;
    std::array<int, 4> m_savedGridCell{};
};

class CVaFilterGraph : public CRefCount<CVaFilterGraphRep, CRefCounterNonMT> {
public:
    // A handle with a new, empty representation (no graph until the first
    // Reset or use).
    CVaFilterGraph() : CRefCount(new CVaFilterGraphRep()) {}
    // A handle that shares nothing.
    struct Empty {};
    explicit CVaFilterGraph(Empty) {}
};

// Media-type helpers of the wrapper.
namespace va {
// Releases a media type's format block and pUnk.
void FreeMediaTypeBlock(AM_MEDIA_TYPE& mt);
// An empty media type: fixed-size samples, sample size 1.
void InitMediaType(AM_MEDIA_TYPE& mt);
// The VIDEOINFOHEADER2 of a VideoInfo2 or MPEG-2 video type, else null.
const VIDEOINFOHEADER2* GetVideoInfoHeader2(const AM_MEDIA_TYPE& mt);
// Where the video goes inside a client rectangle for a scaling mode (0
// original size, 1 maximum size, 2 best fit).
RECT ComputeVideoRect(const RECT& client, const SIZE& video, int mode);
// A window's class name: its "windowClass" property when it has one, else
// its C++ class name. A host whose class is "Static" (any case) switches
// full screen through the renderer.
inline constexpr char kWindowClassProperty[] = "windowClass";
std::string WindowClassName(QObject* window);
inline constexpr GUID kFormatMpeg2Video = MakeGuid("E06D80E3-DB46-11CF-B4D1-00805F6CBBEA");
}  // namespace va
