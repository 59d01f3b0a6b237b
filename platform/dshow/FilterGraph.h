#pragma once
// The filter graph manager over a GstPipeline. Filters are the pipeline's
// top-level elements, pins their pads. Stopped keeps the pipeline paused
// (connections and position stay; the next Pause shows the frame at the
// position), Paused and Running are the pipeline's PAUSED and PLAYING.
// Graph edits while data is prerolled flush the pads they touch; the next
// Pause or Run restarts the flow at the position with a flushing seek.
// Rates go to the pipeline as seeks; VELOTRAX_GRAPH_RATES=fixed makes the
// graph refuse every rate but 1.0 (E_NOTIMPL), as many Windows sources do.
#include <gst/gst.h>

#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/Control.h"
#include "platform/dshow/ElementFilter.h"
#include "platform/sync/Sync.h"

class CFilterGraph
    : public CUnknownImpl<CFilterGraph, IGraphBuilder, IMediaControl, IMediaSeeking, IMediaEventEx,
                          IMediaFilter, IObjectWithSite, IPersistStream> {
public:
    CFilterGraph();
    ~CFilterGraph() override;
    CFilterGraph(const CFilterGraph&) = delete;
    CFilterGraph& operator=(const CFilterGraph&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv);

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* pFilter, const char* name) override;
    HRESULT RemoveFilter(IBaseFilter* pFilter) override;
    HRESULT EnumFilters(IEnumFilters** ppEnum) override;
    HRESULT FindFilterByName(const char* name, IBaseFilter** ppFilter) override;
    HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Reconnect(IPin* ppin) override;
    HRESULT Disconnect(IPin* ppin) override;
    HRESULT SetDefaultSyncSource() override;
    // IGraphBuilder
    HRESULT Connect(IPin* ppinOut, IPin* ppinIn) override;
    HRESULT Render(IPin* ppinOut) override;
    HRESULT RenderFile(const char* file, const char* playList) override;
    HRESULT AddSourceFilter(const char* fileName, const char* filterName,
                            IBaseFilter** ppFilter) override;
    HRESULT Abort() override;
    HRESULT ShouldOperationContinue() override;
    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT StopWhenReady() override;
    HRESULT GetState(LONG msTimeout, OAFilterState* pfs) override;
    HRESULT RenderFile(const char* fileName) override;
    // IMediaSeeking
    HRESULT GetCapabilities(DWORD* pCapabilities) override;
    HRESULT CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID* pFormat) override;
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double* pdRate) override;
    HRESULT GetPreroll(LONGLONG* pllPreroll) override;
    // IMediaEvent / IMediaEventEx
    HRESULT GetEventHandle(OAEVENT* hEvent) override;
    HRESULT GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                     LONG msTimeout) override;
    HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) override;
    HRESULT CancelDefaultHandling(LONG lEvCode) override;
    HRESULT RestoreDefaultHandling(LONG lEvCode) override;
    HRESULT FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) override;
    HRESULT SetNotifyFlags(LONG lNoNotifyFlags) override;
    HRESULT GetNotifyFlags(LONG* lplNoNotifyFlags) override;
    // IPersist / IMediaFilter
    HRESULT GetClassID(CLSID* pClassID) override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;
    // IObjectWithSite
    HRESULT SetSite(IUnknown* pUnkSite) override;
    HRESULT GetSite(REFIID riid, void** ppvSite) override;
    // IPersistStream: a saved graph is a pipeline description in text.
    HRESULT IsDirty() override;
    HRESULT Load(IStream* pStm) override;
    HRESULT Save(IStream* pStm, BOOL fClearDirty) override;
    HRESULT GetSizeMax(uint64_t* pcbSize) override;

    // --- for the graph's own filters and pins ---
    FILTER_STATE LogicalState() const { return FILTER_STATE(m_state.load()); }
    HRESULT ConnectPins(CPadPin* out, CPadPin* in, const AM_MEDIA_TYPE* pmt, bool converters);
    HRESULT DisconnectPin(CPadPin* pin);
    // Queues an event (and notifies the target / sets the handle).
    void NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
    HRESULT StepFrames(GstElement* sink, DWORD frames);
    HRESULT CancelStepFrames(GstElement* sink);
    // The pipeline (for tests and diagnostics).
    GstElement* Pipeline() const { return m_pipeline; }

    // How long building waits for the first frame, and the longest wait of
    // GetState and StopWhenReady, in ms.
    static constexpr DWORD kPrerollTimeoutMs = 20000;
    static constexpr DWORD kLongestStateWaitMs = 10000;
    // How long a network source waits for a server's answer, in seconds.
    static constexpr unsigned kNetworkTimeoutS = 15;
    // How long the first edit of a prerolling graph waits for the preroll.
    static constexpr DWORD kEditWaitMs = 3000;
    // How long a file read to its end may stay without a first frame while
    // building makes no progress either.
    static constexpr int64_t kSourceIdleMs = 2000;

private:
    struct CEventRecord {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };
    struct CBuildState {
        std::mutex lock;
        bool active = false;
        bool done = false;
        GError* error = nullptr;
        bool missingVideo = false;
        bool missingAudio = false;
        int renderersMade = 0;
    };

    static GstPadProbeReturn SourceReadProbe(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    static GstBusSyncReply BusSyncHandler(GstBus* bus, GstMessage* message, gpointer data);
    void OnBusMessage(GstMessage* message);
    void OnHttpHeaders(GstMessage* message);
    static GstPadProbeReturn NoRangesQueryProbe(GstPad* pad, GstPadProbeInfo* info, gpointer);
    static void OnPadAdded(GstElement* element, GstPad* pad, gpointer data);
    static int OnAutoplugSelect(GstElement* bin, GstPad* pad, GstCaps* caps,
                                GstElementFactory* factory, gpointer data);

    HRESULT AddFilterInternal(IBaseFilter* filter, const char* name);
    CComPtr<IBaseFilter> MakeFilter(const char* factory, const char* name);
    CComPtr<IBaseFilter> AdoptFilter(CComPtr<IBaseFilter> filter, const char* name);
    HRESULT RenderRawPad(GstPad* pad, const char* converterFactory, const char* converterName,
                         const char* sinkKind, IBaseFilter* rendererObject,
                         const char* rendererName, bool CBuildState::*missing);
    bool SelectFactory(const char* factory);
    HRESULT RenderPad(GstPad* pad);
    HRESULT LinkThrough(GstPad* pad, const std::vector<GstElement*>& chain);
    void WatchDynamicPads(GstElement* element);
    HRESULT CheckSourceFile(const std::string& file, GstElement** source);
    HRESULT BeginBuild();
    HRESULT FinishBuild(const std::vector<CComPtr<IBaseFilter>>& before);
    void RemoveFiltersNotIn(const std::vector<CComPtr<IBaseFilter>>& keep);
    std::vector<CComPtr<IBaseFilter>> Filters() const;
    bool HasFilters() const;

    void MarkEdited();
    void PrepareForFlow();
    bool Seek(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    REFERENCE_TIME PositionNow();
    REFERENCE_TIME DurationNow();
    bool PipelineActive() const;
    HRESULT StateChangeResult(GstStateChangeReturn ret);
    void InstallClock(IReferenceClock* clock);

    GstElement* m_pipeline = nullptr;
    GstBus* m_bus = nullptr;

    mutable std::recursive_mutex m_filtersLock;
    std::vector<CComPtr<IBaseFilter>> m_filters;
    std::map<GstElement*, GstPad*> m_pendingTargets;  // decoder -> the input it must feed
    int m_nameCounter = 0;

    std::atomic<int> m_state{State_Stopped};
    std::atomic<bool> m_pausePending{false};
    // A step completes once the frame after it is shown (or the stream ends),
    // so EC_STEP_COMPLETE always finds the new frame in the renderer.
    std::atomic<uint64_t> m_framesShown{0};
    std::atomic<uint64_t> m_stepStartFrames{0};
    std::atomic<bool> m_stepCompletePending{false};
    std::atomic<bool> m_abort{false};
    CBuildState m_build;
    CEvent m_asyncDone{true};

    std::mutex m_posLock;
    bool m_needRestart = false;
    REFERENCE_TIME m_restartPos = 0;
    bool m_seekPending = false;
    REFERENCE_TIME m_seekTarget = 0;
    REFERENCE_TIME m_stop = -1;
    REFERENCE_TIME m_duration = -1;
    REFERENCE_TIME m_lastPosition = 0;
    bool m_atEnd = false;
    double m_rate = 1.0;
    std::atomic<bool> m_sourceReachedEnd{false};
    std::atomic<int64_t> m_lastProgress{0};      // a read, a choice, a new element or pad
    std::atomic<bool> m_sourceReadToEnd{false};  // not reset when type finding ends
    uint64_t m_sourceSize = 0;
    // False for a source that can only be read from start to end (a server
    // without range requests): it is never sent a seek.
    std::atomic<bool> m_seekable{true};

    std::mutex m_eventLock;
    std::condition_variable m_eventCond;
    std::deque<CEventRecord> m_events;
    CEvent m_eventHandle{true};
    QPointer<QObject> m_notifyTarget;
    LONG m_notifyMessage = 0;
    LONG_PTR m_notifyData = 0;
    LONG m_notifyFlags = 0;
    LONG m_completion = 0;
    std::set<LONG> m_noDefault;

    std::mutex m_clockLock;
    CComPtr<IReferenceClock> m_syncSource;
    GstClock* m_adapter = nullptr;
    bool m_defaultClock = true;
    bool m_noClock = false;

    CComPtr<IUnknown> m_site;
    CComPtr<IAMGraphBuilderCallback> m_callback;
};
