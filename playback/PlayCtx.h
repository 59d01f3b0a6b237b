#pragma once
// CPlayCtx: the playback state of one video window. It owns the filter
// graph, the renderer front, the playlist or the editing timeline (with its
// render engine) while one is open, the selection
// (the Begin and End marks), the pending-seek logic for network streams
// and the deinterlace settings. It is driven from the user-interface
// thread; its worker thread watches the graph's events and, while playing,
// the position, and hands what it finds back through the sync object.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <QImage>
#include <QPointer>

#include "platform/com/ComPtr.h"
#include "platform/dshow/DShow.h"
#include "platform/sync/Sync.h"
#include "playback/PlayCtxSyncWnd.h"
#include "playback/PlayCtxThread.h"
#include "playback/PlayNotify.h"
#include "playback/VaCheckEvent.h"
#include "playback/VaFilterGraph.h"
#include "playback/VaGraphBuilderCallback.h"
#include "playlist/PlayList.h"
#include "render/VaRenderer.h"
#include "support/RefTime.h"
#include "timeline/VaDES.h"

class CPlayCtx : public IVaGraphBuilderCallback, private CPlayCtxThread::IClient {
public:
    enum PlayState : int32_t { PlayNone = 0, PlayStopped = 1, PlayPaused = 2, PlayRunning = 3 };

    // The graph-event sink of one pump on the worker thread.
    class CCheckEvent : public CVaCheckEvent {
    public:
        explicit CCheckEvent(CPlayCtx* ctx) : m_ctx(ctx) {}
        ~CCheckEvent() override = default;
        // EC_COMPLETE posts the end of media; every other code is ignored.
        void OnEvent(long eventCode, LONG_PTR param1, LONG_PTR param2) override;

    private:
        CPlayCtx* m_ctx;
    };

    // The playlist's handler. The play context's own position, duration and
    // seek operations differ from the handler's of the same names, so the
    // handler is an embedded object that calls back into the play context.
    class CPlayListHandler : public IPlayListHandler {
    public:
        explicit CPlayListHandler(CPlayCtx* ctx) : m_ctx(ctx) {}
        void OpenClip(const std::string& file) override { m_ctx->OpenClip(file); }
        void OnPlayListChanged() override { m_ctx->OnPlayListChanged(); }
        REFERENCE_TIME GetPosition() override { return m_ctx->HandlerGetPosition(); }
        REFERENCE_TIME GetDuration() override { return m_ctx->HandlerGetDuration(); }
        bool Seek(REFERENCE_TIME pos, bool allowRun) override {
            return m_ctx->HandlerSeek(pos, allowRun);
        }

    private:
        CPlayCtx* m_ctx;
    };

    // Lock time-outs in ms.
    static constexpr DWORD kOpenLockTimeout = 5000;
    static constexpr DWORD kShutdownLockTimeout = 3000;
    // Frame duration assumed when the graph reports none (25 frames per second).
    static constexpr REFERENCE_TIME kDefaultFrameDuration = 400000;
    // The name the deinterlace filter has in the graph.
    static constexpr char kDeinterlaceFilterName[] = "DeInterlace";
    static constexpr int kDeinterlaceAttempts = 3;
    static constexpr int32_t kMinPollInterval = 20;

    CPlayCtx();
    ~CPlayCtx() override;
    CPlayCtx(const CPlayCtx&) = delete;
    CPlayCtx& operator=(const CPlayCtx&) = delete;

    // ---- life cycle
    // Stores the sink, creates the sync object and starts the worker.
    void Create(IPlayNotify* sink);
    // Ends the worker and destroys the sync object.
    void Shutdown();

    // ---- opening and closing
    // Opens a media file, URL, playlist (asx, wvx), saved graph (grf) or
    // editing timeline (xtl); ends paused on the first frame. Throws after notifying
    // PN_OPEN_FAILED.
    void Open(const std::string& name);
    // Loads a playlist given as text.
    void LoadPlayLists(const std::string& text);
    void Close();
    std::string GetMediaName() const;
    void ClearMediaName() { m_mediaName.clear(); }
    void SetSearchDirectory(const std::string& directory) { m_searchDirectory = directory; }
    IPlayListInfo* GetPlayListInfo() const;
    int GetCurrentClip() const;
    // The editing timeline while one is open (an empty wrapper otherwise).
    const CVaAMTimeline& GetTimeline() const { return m_timeline; }
    bool HasTimeline() const { return m_renderEngine.IsValid(); }

    // ---- transport
    PlayState GetState() const { return m_state.load(); }
    void Run();
    void Pause();
    void Stop();
    void RunOrPause(bool run);
    // The graph itself does not step here; the caller seeks one frame on.
    bool StepOneFrame() { return false; }
    bool StopAndRewind();
    double GetRate();
    void SetRate(double rate);

    // ---- positions
    REFERENCE_TIME GetDuration();
    REFERENCE_TIME GetPosition();
    void SetPosition(REFERENCE_TIME pos);
    // Clamps pos into the media (and with 'clamp' into the selection) and
    // moves there; returns the position used.
    REFERENCE_TIME Seek(REFERENCE_TIME pos, bool clamp);
    REFERENCE_TIME GetFrameDuration();
    void ResetFrameDuration() { m_frameDuration = -1; }
    bool IsAtEnd();

    // ---- selection
    bool SetSelection(REFERENCE_TIME start, REFERENCE_TIME stop);
    bool SetSelectionStart(REFERENCE_TIME start);
    bool SetSelectionStop(REFERENCE_TIME stop);
    void ClearSelection();
    bool GetSelection(REFERENCE_TIME& start, REFERENCE_TIME& stop) const;
    bool HasSelection() const;
    REFERENCE_TIME GetSelectionStop() const { return m_selectionStop.load(); }
    bool IsInSelection();
    bool IsAtSelectionStart();
    bool IsAtSelectionStop();

    // ---- network streams
    bool IsSeekRestricted();
    bool CanSeek();
    bool CanChangeRate() { return CanSeek(); }

    // ---- deinterlacing
    bool IsDeinterlaceOn() const { return m_deinterlace; }
    bool IsDoubleRateMethod() const { return m_deinterlaceMethod > 2; }
    bool CanDeinterlace();
    bool SetDeinterlace(bool on);
    void SetDeinterlaceSettings(int32_t method, int32_t interpolate, int32_t sharpen);

    // ---- pass-through operations
    void SetVideoWindow(QObject* window);
    void SetMessageDrain(QObject* window);
    void ShowVideo(bool show);
    int SetScaleMode(int mode);
    bool SetFullScreen(bool on);
    bool IsFullScreen();
    void SetAudioClockFix(bool on);
    void SetPreserveAspectRatio(bool on);
    bool GetVideoRect(RECT& rect);
    bool GetVideoSize(SIZE& size);
    // The frame shown, as the graph delivers it.
    QImage GetRawImageBitmap();
    // The frame shown, prepared as a still picture for snapshots: fields
    // averaged when the video is interlaced, stretched to the picture
    // aspect. Null without a frame.
    QImage GetCurrentImageBitmap();
    bool HasVideo();
    bool SetVolume(int percent);
    CVaRenderer GetRenderer();

    // ---- IVaGraphBuilderCallback
    bool SelectedFilter(IMoniker* moniker) override;
    void CreatedFilter(IBaseFilter* filter) override;

    // True when the name is opened through the network reader first.
    static bool UsesNetworkReader(const std::string& name);

    // ---- for the owner and tests
    int32_t GetPollInterval() const { return m_thread.GetPollInterval(); }
    bool IsStopUsable() const { return m_stopUsable; }
    REFERENCE_TIME GetPendingSeek() const { return m_pendingSeek.load(); }
    CVaFilterGraph& GetGraph() { return m_graph; }
    bool HasPlayList() const { return m_playList != nullptr; }
    bool IsWorkerAttached() const { return m_thread.IsAttached(); }
    QObject* GetSyncWindow() const { return m_syncWnd.get(); }

    // Sends the sync message to the user-interface thread (any thread).
    void PostSync(int32_t code, intptr_t param);
    // Handles a sync message on the user-interface thread.
    void OnSyncMessage(int32_t code, intptr_t param);

    // ---- what the playlist's handler does
    void OpenClip(const std::string& file);
    void OnPlayListChanged();
    REFERENCE_TIME HandlerGetPosition();
    REFERENCE_TIME HandlerGetDuration();
    bool HandlerSeek(REFERENCE_TIME pos, bool allowRun);
    IPlayListHandler* GetPlayListHandler() { return &m_handler; }

private:
    // ---- worker
    CEvent* AttachGraphEvents() override;
    void PumpGraphEvents() override;
    void Poll() override;
    void UnblockWorker() override;
    // Makes a due pending seek; true when it is done (worker, under the lock).
    bool CompletePendingSeek();

    void Notify(int32_t code, int32_t param);
    void Unrender();
    void AfterRender();
    void RenderMediaSource(const std::string& name);
    void RenderTimeline(const std::string& name);
    void RebuildRenderEngine();
    // The group whose rate is the timeline's frame rate: the first video group.
    CVaAMTimelineGroup TimelineVideoGroup() const;
    // Makes the timeline's output rate match the deinterlace setting: doubled
    // while a double-rate method is being switched on.
    void AdjustTimelineFrameRate(bool deinterlaceOn);
    bool RenderThroughReader(const std::string& name);
    void CreatePlayList();
    void RemovePlayList();
    void ApplySelectionStop(REFERENCE_TIME stop);
    void UpdatePollInterval();
    void OnPlayEnd(bool fromGraph);
    // Moves the playlist on (the clip-end check, or the next clip) under the
    // lock; a clip that cannot be opened is reported and passed over.
    // Returns the playlist's answer.
    int StepPlayList(bool clipEnd);
    // Opens the first clip after `failed` that opens; 3 when none is left.
    int PassOverFailedClip(int failed);
    // Moves the playlist to `pos`, passing over a clip there that fails to open.
    void SetPlayListPosition(REFERENCE_TIME pos);
    [[noreturn]] void ThrowOpenError(const std::string& name);
    // Throws a failure whose text says why `name` did not open (a folder, a
    // server that cannot be reached or did not answer); returns otherwise.
    void ExplainOpenError(const std::string& name, HRESULT hr);
    void SetState(PlayState state) { m_state.store(state); }
    void ConfigureDeinterlace(IBaseFilter* filter, bool refresh);
    bool InsertDeinterlaceFilter();
    void RemoveDeinterlaceFilter(IBaseFilter* filter);
    // Takes the lock within the time-out or throws HRESULT_TIMEOUT: nothing
    // the lock guards is touched without it.
    static void LockFor(CSingleLock<CMutex>& lock, DWORD timeoutMs);

    IPlayNotify* m_notify = nullptr;
    CVaFilterGraph m_graph;
    CComPtr<IWMReaderAdvanced2> m_readerControl;
    CVaAMTimeline m_timeline;
    std::unique_ptr<CPlayList> m_playList;
    double m_timelineFrameRate = 0.0;
    CVaRenderEngine m_renderEngine;
    CVaRenderer m_renderer;
    std::string m_mediaName;
    std::chrono::steady_clock::time_point m_openStarted;
    std::string m_searchDirectory;
    REFERENCE_TIME m_frameDuration = -1;
    std::atomic<REFERENCE_TIME> m_pendingSeek{0};
    bool m_pauseAfterSeek = false;
    std::atomic<REFERENCE_TIME> m_selectionStart{-1};
    std::atomic<REFERENCE_TIME> m_selectionStop{-1};
    bool m_stopUsable = true;
    QPointer<QObject> m_videoWindow;
    std::atomic<PlayState> m_state{PlayNone};
    std::unique_ptr<CPlayCtxSyncWnd> m_syncWnd;
    CMutex m_lock;
    bool m_deinterlace = false;
    int32_t m_deinterlaceMethod = 0;
    int32_t m_deinterlaceInterpolate = 0;
    int32_t m_deinterlaceSharpen = 0;
    CPlayListHandler m_handler{this};
    // How the play went before a playlist clip failed to open.
    struct CClipFailure {
        bool active = false;
        bool running = false;
        double rate = 1.0;
    };
    CClipFailure m_clipFailed;
    int m_failedOpens = 0;  // tells a failed clip open from other failures
    // Last: the worker goes before the members it reads.
    CPlayCtxThread m_thread;
};
