#pragma once
// The graph's control, seeking and event interfaces and the renderers'
// interfaces (video window, basic video and audio, frame stepping, mixing
// renderer presence, network reader state).
#include <cstdint>

#include "platform/com/Unknown.h"
#include "platform/dshow/Clock.h"
#include "platform/dshow/EventCodes.h"
#include "platform/dshow/Filters.h"

class QObject;

// A window handle is a QObject on the user-interface thread: the graph
// posts its notification events to it; a video window's owner is a QWidget.
using OAHWND = QObject*;
// The event handle of a graph: a manual-reset event, set while events are queued.
using OAEVENT = CEvent*;
using OAFilterState = LONG;
using REFTIME = double;  // seconds
constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;

struct IMediaControl : IUnknown {
    VA_INTERFACE_ID("56A868B1-0AD4-11CE-B03A-0020AF0BA770");
    // Runs the graph (pausing first when stopped); S_FALSE while the change completes.
    virtual HRESULT Run() = 0;
    // Pauses: the first frame is shown once data arrives; S_FALSE while in progress.
    virtual HRESULT Pause() = 0;
    // Stops; connections and the current position are kept.
    virtual HRESULT Stop() = 0;
    // Pauses, waits (bounded) until the frame is shown, then stops.
    virtual HRESULT StopWhenReady() = 0;
    // The state (FILTER_STATE); VFW_S_STATE_INTERMEDIATE when a change is
    // still running after msTimeout (0 = answer at once, INFINITE = wait).
    virtual HRESULT GetState(LONG msTimeout, OAFilterState* pfs) = 0;
    // RenderFile on the graph.
    virtual HRESULT RenderFile(const char* fileName) = 0;
};

// Seeking capabilities.
constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
constexpr DWORD AM_SEEKING_CanGetStopPos = 0x10;
constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
constexpr DWORD AM_SEEKING_CanPlayBackwards = 0x40;
constexpr DWORD AM_SEEKING_CanDoSegments = 0x80;
constexpr DWORD AM_SEEKING_Source = 0x100;
// SetPositions flags.
constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
constexpr DWORD AM_SEEKING_IncrementalPositioning = 0x3;
constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;
constexpr DWORD AM_SEEKING_SeekToKeyFrame = 0x4;
constexpr DWORD AM_SEEKING_ReturnTime = 0x8;
constexpr DWORD AM_SEEKING_Segment = 0x10;
constexpr DWORD AM_SEEKING_NoFlush = 0x20;

inline constexpr GUID TIME_FORMAT_NONE = GUID_NULL;
inline constexpr GUID TIME_FORMAT_FRAME = MakeGuid("7B785570-8C82-11CF-BC0C-00AA00AC74F6");
inline constexpr GUID TIME_FORMAT_BYTE = MakeGuid("7B785571-8C82-11CF-BC0C-00AA00AC74F6");
inline constexpr GUID TIME_FORMAT_SAMPLE = MakeGuid("7B785572-8C82-11CF-BC0C-00AA00AC74F6");
inline constexpr GUID TIME_FORMAT_FIELD = MakeGuid("7B785573-8C82-11CF-BC0C-00AA00AC74F6");
inline constexpr GUID TIME_FORMAT_MEDIA_TIME = MakeGuid("7B785574-8C82-11CF-BC0C-00AA00AC74F6");

struct IMediaSeeking : IUnknown {
    VA_INTERFACE_ID("36B73880-C2C8-11CF-8B46-00805F6CEF60");
    virtual HRESULT GetCapabilities(DWORD* pCapabilities) = 0;
    // S_OK when all asked capabilities exist, S_FALSE when some, E_FAIL when none.
    virtual HRESULT CheckCapabilities(DWORD* pCapabilities) = 0;
    // S_OK for TIME_FORMAT_MEDIA_TIME (the only format), S_FALSE otherwise.
    virtual HRESULT IsFormatSupported(const GUID* pFormat) = 0;
    virtual HRESULT QueryPreferredFormat(GUID* pFormat) = 0;
    virtual HRESULT GetTimeFormat(GUID* pFormat) = 0;
    virtual HRESULT IsUsingTimeFormat(const GUID* pFormat) = 0;
    // Only TIME_FORMAT_MEDIA_TIME is accepted; VFW_E_WRONG_STATE while running.
    virtual HRESULT SetTimeFormat(const GUID* pFormat) = 0;
    // Length of the media in 100 ns.
    virtual HRESULT GetDuration(LONGLONG* pDuration) = 0;
    // Where playback stops (the duration unless a stop position was set).
    virtual HRESULT GetStopPosition(LONGLONG* pStop) = 0;
    // The position shown now, in 100 ns from the start of the media.
    virtual HRESULT GetCurrentPosition(LONGLONG* pCurrent) = 0;
    virtual HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                      const GUID* pSourceFormat) = 0;
    // Moves the current and/or stop position (AM_SEEKING_* flags each).
    // An absolute current position shows the frame at that time.
    virtual HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                 DWORD dwStopFlags) = 0;
    virtual HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) = 0;
    virtual HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) = 0;
    // Playback rate (1.0 normal); E_INVALIDARG / E_NOTIMPL when refused.
    virtual HRESULT SetRate(double dRate) = 0;
    virtual HRESULT GetRate(double* pdRate) = 0;
    virtual HRESULT GetPreroll(LONGLONG* pllPreroll) = 0;
};

struct IMediaEvent : IUnknown {
    VA_INTERFACE_ID("56A868B6-0AD4-11CE-B03A-0020AF0BA770");
    // The event to wait on (not owned by the caller; lives as long as the graph).
    virtual HRESULT GetEventHandle(OAEVENT* hEvent) = 0;
    // Takes the next event; E_ABORT when none arrived within msTimeout.
    virtual HRESULT GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                             LONG msTimeout) = 0;
    // Waits for EC_COMPLETE, EC_ERRORABORT or EC_USERABORT while running;
    // E_ABORT on time-out, VFW_E_WRONG_STATE when not running.
    virtual HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) = 0;
    virtual HRESULT CancelDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT RestoreDefaultHandling(LONG lEvCode) = 0;
    // Frees what GetEvent handed out with the event.
    virtual HRESULT FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) = 0;
};

constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

struct IMediaEventEx : IMediaEvent {
    VA_INTERFACE_ID("56A868C0-0AD4-11CE-B03A-0020AF0BA770");
    // While events are queued, posts a CGraphNotifyEvent of type lMsg with
    // lParam = lInstanceData to hwnd (null target or lMsg 0: no posting).
    virtual HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) = 0;
    // AM_MEDIAEVENT_NONOTIFY stops setting the event handle.
    virtual HRESULT SetNotifyFlags(LONG lNoNotifyFlags) = 0;
    virtual HRESULT GetNotifyFlags(LONG* lplNoNotifyFlags) = 0;
};

// Window styles the video window knows.
constexpr LONG WS_POPUP = LONG(0x80000000u);
constexpr LONG WS_CHILD = 0x40000000;
constexpr LONG WS_VISIBLE = 0x10000000;
constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
constexpr LONG WS_CLIPCHILDREN = 0x02000000;

struct IVideoWindow : IUnknown {
    VA_INTERFACE_ID("56A868B4-0AD4-11CE-B03A-0020AF0BA770");
    virtual HRESULT put_Caption(const char* caption) = 0;
    virtual HRESULT get_Caption(std::string* caption) = 0;
    virtual HRESULT put_WindowStyle(LONG style) = 0;
    virtual HRESULT get_WindowStyle(LONG* style) = 0;
    virtual HRESULT put_WindowStyleEx(LONG style) = 0;
    virtual HRESULT get_WindowStyleEx(LONG* style) = 0;
    // Whether the window shows itself when the graph changes state.
    virtual HRESULT put_AutoShow(LONG autoShow) = 0;
    virtual HRESULT get_AutoShow(LONG* autoShow) = 0;
    virtual HRESULT put_WindowState(LONG state) = 0;
    virtual HRESULT get_WindowState(LONG* state) = 0;
    virtual HRESULT put_Visible(LONG visible) = 0;
    virtual HRESULT get_Visible(LONG* visible) = 0;
    virtual HRESULT put_Left(LONG left) = 0;
    virtual HRESULT get_Left(LONG* left) = 0;
    virtual HRESULT put_Width(LONG width) = 0;
    virtual HRESULT get_Width(LONG* width) = 0;
    virtual HRESULT put_Top(LONG top) = 0;
    virtual HRESULT get_Top(LONG* top) = 0;
    virtual HRESULT put_Height(LONG height) = 0;
    virtual HRESULT get_Height(LONG* height) = 0;
    // The host widget (a QWidget passed as QObject*); null: no host.
    virtual HRESULT put_Owner(OAHWND owner) = 0;
    virtual HRESULT get_Owner(OAHWND* owner) = 0;
    // Where the video window forwards mouse and key input.
    virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
    virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
    virtual HRESULT get_BorderColor(LONG* color) = 0;
    virtual HRESULT put_BorderColor(LONG color) = 0;
    virtual HRESULT get_FullScreenMode(LONG* fullScreenMode) = 0;
    // The renderer's own full-screen mode (OATRUE / OAFALSE).
    virtual HRESULT put_FullScreenMode(LONG fullScreenMode) = 0;
    virtual HRESULT SetWindowForeground(LONG focus) = 0;
    // Forwards a message of the owner's top-level window.
    virtual HRESULT NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wParam, LONG_PTR lParam) = 0;
    // Position of the video in the owner's client area.
    virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetWindowPosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT GetMinIdealImageSize(LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT GetMaxIdealImageSize(LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT GetRestorePosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT HideCursor(LONG hideCursor) = 0;
    virtual HRESULT IsCursorHidden(LONG* cursorHidden) = 0;
};

struct IBasicVideo : IUnknown {
    VA_INTERFACE_ID("56A868B5-0AD4-11CE-B03A-0020AF0BA770");
    // Seconds per frame of the stream.
    virtual HRESULT get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) = 0;
    virtual HRESULT get_BitRate(LONG* pBitRate) = 0;
    virtual HRESULT get_BitErrorRate(LONG* pBitErrorRate) = 0;
    // Native size of the video in pixels.
    virtual HRESULT get_VideoWidth(LONG* pVideoWidth) = 0;
    virtual HRESULT get_VideoHeight(LONG* pVideoHeight) = 0;
    virtual HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetSourcePosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT SetDefaultSourcePosition() = 0;
    virtual HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetDestinationPosition(LONG* pLeft, LONG* pTop, LONG* pWidth,
                                           LONG* pHeight) = 0;
    virtual HRESULT SetDefaultDestinationPosition() = 0;
    // Native width and height together.
    virtual HRESULT GetVideoSize(LONG* pWidth, LONG* pHeight) = 0;
    // The frame shown now as a packed DIB (BITMAPINFOHEADER, then bottom-up
    // pixels). With pDIBImage null, *pBufferSize receives the size needed;
    // E_OUTOFMEMORY when the buffer is too small, E_UNEXPECTED without a frame.
    virtual HRESULT GetCurrentImage(LONG* pBufferSize, LONG* pDIBImage) = 0;
    virtual HRESULT IsUsingDefaultSource() = 0;
    virtual HRESULT IsUsingDefaultDestination() = 0;
};

struct IBasicVideo2 : IBasicVideo {
    VA_INTERFACE_ID("329BB360-F6EA-11D1-9038-00A0C9697298");
    // Picture aspect ratio (x:y) from the size and the pixel aspect ratio.
    virtual HRESULT GetPreferredAspectRatio(LONG* plAspectX, LONG* plAspectY) = 0;
};

struct IBasicAudio : IUnknown {
    VA_INTERFACE_ID("56A868B3-0AD4-11CE-B03A-0020AF0BA770");
    // Volume in 1/100 dB: -10000 (silence) to 0 (full); E_INVALIDARG outside.
    virtual HRESULT put_Volume(LONG lVolume) = 0;
    virtual HRESULT get_Volume(LONG* plVolume) = 0;
    // Balance -10000 (left) to 10000 (right).
    virtual HRESULT put_Balance(LONG lBalance) = 0;
    virtual HRESULT get_Balance(LONG* plBalance) = 0;
};

struct IVideoFrameStep : IUnknown {
    VA_INTERFACE_ID("E46A9787-2B71-444D-A4B5-1FAB7B708D6A");
    // Shows the next dwFrames frames and pauses (EC_STEP_COMPLETE follows).
    virtual HRESULT Step(DWORD dwFrames, IUnknown* pStepObject) = 0;
    // S_OK when stepping (bMultiple: several frames at once) is possible.
    virtual HRESULT CanStep(LONG bMultiple, IUnknown* pStepObject) = 0;
    virtual HRESULT CancelStep() = 0;
};

// Mixing renderer configuration; a renderer that answers IVMRMixerControl
// is in mixing mode.
struct IVMRFilterConfig : IUnknown {
    VA_INTERFACE_ID("9E5530C5-7034-48B4-BB46-0B8A6EFC8E36");
    virtual HRESULT SetNumberOfStreams(DWORD dwMaxStreams) = 0;
    virtual HRESULT GetNumberOfStreams(DWORD* pdwMaxStreams) = 0;
    virtual HRESULT SetRenderingPrefs(DWORD dwRenderFlags) = 0;
    virtual HRESULT GetRenderingPrefs(DWORD* pdwRenderFlags) = 0;
    virtual HRESULT SetRenderingMode(DWORD mode) = 0;
    virtual HRESULT GetRenderingMode(DWORD* pMode) = 0;
};

struct IVMRMixerControl : IUnknown {
    VA_INTERFACE_ID("1C1A17B0-BED0-415D-974B-DC6696131599");
    virtual HRESULT SetAlpha(DWORD dwStreamID, float alpha) = 0;
    virtual HRESULT GetAlpha(DWORD dwStreamID, float* pAlpha) = 0;
};

// An external (tape) device control; only its presence is ever tested.
struct IAMExtDevice : IUnknown {
    VA_INTERFACE_ID("B5730A90-1A2C-11CF-8C23-00AA006B6814");
    virtual HRESULT GetCapability(LONG capability, LONG* pValue, double* pdblValue) = 0;
};

enum WMT_PLAY_MODE {
    WMT_PLAY_MODE_AUTOSELECT = 0,
    WMT_PLAY_MODE_LOCAL = 1,
    WMT_PLAY_MODE_DOWNLOAD = 2,
    WMT_PLAY_MODE_STREAMING = 3,
};

// State of a network source.
struct IWMReaderAdvanced2 : IUnknown {
    VA_INTERFACE_ID("AE14A945-B90C-4D0D-9127-80D665F7D73E");
    // Local file, download or streaming.
    virtual HRESULT GetPlayMode(WMT_PLAY_MODE* pMode) = 0;
    // Percentage downloaded, bytes so far and remaining download time (100 ns).
    virtual HRESULT GetDownloadProgress(DWORD* pdwPercent, uint64_t* pqwBytesDownloaded,
                                        uint64_t* pcnsDownload) = 0;
};
