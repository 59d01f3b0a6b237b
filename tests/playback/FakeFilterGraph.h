#pragma once
// An in-memory filter graph for fast unit tests of the play context's
// logic: it "renders" any file that exists, keeps a position, a duration
// and a stop position that tests set, and queues the events tests post.
// Registered in place of the real graph class while a CFakeGraphScope lives.
#include <atomic>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/dshow/DShow.h"
#include "platform/sync/Sync.h"

namespace vtest {

#define VT_NOTIMPL \
    { return E_NOTIMPL; }

// An unconnected output pin.
class CFakeOutputPin : public CUnknownImpl<CFakeOutputPin, IPin> {
public:
    HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override VT_NOTIMPL;
    HRESULT ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override VT_NOTIMPL;
    HRESULT Disconnect() override { return S_FALSE; }
    HRESULT ConnectedTo(IPin** out) override {
        *out = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE*) override { return VFW_E_NOT_CONNECTED; }
    HRESULT QueryPinInfo(PIN_INFO*) override VT_NOTIMPL;
    HRESULT QueryDirection(PIN_DIRECTION* d) override {
        *d = PINDIR_OUTPUT;
        return S_OK;
    }
    HRESULT QueryId(std::string*) override VT_NOTIMPL;
    HRESULT QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT EnumMediaTypes(IEnumMediaTypes**) override VT_NOTIMPL;
};

class CFakeEnumPins : public CUnknownImpl<CFakeEnumPins, IEnumPins> {
public:
    HRESULT Next(ULONG, IPin** out, ULONG* fetched) override {
        if (m_done) {
            if (fetched)
                *fetched = 0;
            return S_FALSE;
        }
        m_done = true;
        auto* pin = new CFakeOutputPin();
        pin->AddRef();
        *out = pin;
        if (fetched)
            *fetched = 1;
        return S_OK;
    }
    HRESULT Skip(ULONG) override VT_NOTIMPL;
    HRESULT Reset() override {
        m_done = false;
        return S_OK;
    }
    HRESULT Clone(IEnumPins**) override VT_NOTIMPL;

private:
    bool m_done = false;
};

// A filter that only has a name; as a network reader it has one output pin,
// a Load that fails unless told otherwise, and a play mode tests set.
class CFakeFilter
    : public CUnknownImpl<CFakeFilter, IBaseFilter, IFileSourceFilter, IWMReaderAdvanced2> {
public:
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv) {
        *ppv = nullptr;
        if (riid == IMediaFilter::iid || riid == IPersist::iid) {
            *ppv = static_cast<IBaseFilter*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT GetClassID(CLSID*) override VT_NOTIMPL;
    HRESULT Stop() override { return S_OK; }
    HRESULT Pause() override { return S_OK; }
    HRESULT Run(REFERENCE_TIME) override { return S_OK; }
    HRESULT GetState(DWORD, FILTER_STATE*) override VT_NOTIMPL;
    HRESULT SetSyncSource(IReferenceClock*) override { return S_OK; }
    HRESULT GetSyncSource(IReferenceClock**) override VT_NOTIMPL;
    HRESULT EnumPins(IEnumPins** out) override {
        auto* e = new CFakeEnumPins();
        e->AddRef();
        *out = e;
        return S_OK;
    }
    HRESULT FindPin(const char*, IPin**) override { return VFW_E_NOT_FOUND; }
    HRESULT QueryFilterInfo(FILTER_INFO* info) override {
        info->achName = m_name;
        info->pGraph = nullptr;
        return S_OK;
    }
    HRESULT JoinFilterGraph(IFilterGraph*, const char* name) override {
        m_name = name ? name : "";
        return S_OK;
    }
    HRESULT QueryVendorInfo(std::string*) override VT_NOTIMPL;
    HRESULT Load(const char* name, const AM_MEDIA_TYPE*) override {
        m_loaded = name;
        return m_loadResult;
    }
    HRESULT GetCurFile(std::string*, AM_MEDIA_TYPE*) override VT_NOTIMPL;
    HRESULT GetPlayMode(WMT_PLAY_MODE* mode) override {
        *mode = m_mode.load();
        return S_OK;
    }
    HRESULT GetDownloadProgress(DWORD* percent, uint64_t* bytes, uint64_t* left) override {
        *percent = m_percent.load();
        *bytes = 0;
        *left = 0;
        return S_OK;
    }

    std::atomic<WMT_PLAY_MODE> m_mode{WMT_PLAY_MODE_LOCAL};
    std::atomic<DWORD> m_percent{100};
    std::string m_name;
    std::string m_loaded;
    HRESULT m_loadResult = E_FAIL;
};

class CFakeEnumFilters : public CUnknownImpl<CFakeEnumFilters, IEnumFilters> {
public:
    explicit CFakeEnumFilters(const std::vector<IBaseFilter*>& filters) : m_filters(filters) {
        for (IBaseFilter* f : m_filters)
            f->AddRef();
    }
    ~CFakeEnumFilters() override {
        for (IBaseFilter* f : m_filters)
            f->Release();
    }
    HRESULT Next(ULONG c, IBaseFilter** out, ULONG* fetched) override {
        ULONG n = 0;
        while (n < c && m_pos < m_filters.size()) {
            out[n] = m_filters[m_pos++];
            out[n]->AddRef();
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == c ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG c) override {
        m_pos += c;
        return S_OK;
    }
    HRESULT Reset() override {
        m_pos = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumFilters**) override VT_NOTIMPL;

private:
    std::vector<IBaseFilter*> m_filters;
    size_t m_pos = 0;
};

class CFakeFilterGraph : public CUnknownImpl<CFakeFilterGraph, IGraphBuilder, IMediaControl,
                                             IMediaSeeking, IMediaEventEx, IObjectWithSite> {
public:
    ~CFakeFilterGraph() override {
        for (IBaseFilter* f : m_filters)
            f->Release();
    }
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv) {
        *ppv = nullptr;
        if (riid == IFilterGraph::iid)
            *ppv = static_cast<IGraphBuilder*>(this);
        else if (riid == IMediaEvent::iid)
            *ppv = static_cast<IMediaEventEx*>(this);
        if (!*ppv)
            return E_NOINTERFACE;
        return S_OK;
    }

    // ---- the graph
    HRESULT AddFilter(IBaseFilter* filter, const char* name) override {
        std::lock_guard lock(m_mutex);
        filter->AddRef();
        m_filters.push_back(filter);
        filter->JoinFilterGraph(this, name);
        return S_OK;
    }
    HRESULT RemoveFilter(IBaseFilter* filter) override {
        std::lock_guard lock(m_mutex);
        for (auto it = m_filters.begin(); it != m_filters.end(); ++it) {
            if (*it == filter) {
                filter->JoinFilterGraph(nullptr, nullptr);
                m_filters.erase(it);
                filter->Release();
                return S_OK;
            }
        }
        return VFW_E_NOT_FOUND;
    }
    HRESULT EnumFilters(IEnumFilters** out) override {
        std::lock_guard lock(m_mutex);
        auto* e = new CFakeEnumFilters(m_filters);
        e->AddRef();
        *out = e;
        return S_OK;
    }
    HRESULT FindFilterByName(const char* name, IBaseFilter** out) override {
        std::lock_guard lock(m_mutex);
        for (IBaseFilter* f : m_filters) {
            FILTER_INFO info;
            f->QueryFilterInfo(&info);
            if (info.achName == name) {
                *out = f;
                f->AddRef();
                return S_OK;
            }
        }
        return VFW_E_NOT_FOUND;
    }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override VT_NOTIMPL;
    HRESULT Reconnect(IPin*) override VT_NOTIMPL;
    HRESULT Disconnect(IPin*) override VT_NOTIMPL;
    HRESULT SetDefaultSyncSource() override { return S_OK; }
    HRESULT Connect(IPin*, IPin*) override VT_NOTIMPL;
    HRESULT Render(IPin*) override { return m_renderPinsResult; }
    HRESULT RenderFile(const char* file, const char*) override {
        m_renderedFiles.push_back(file);
        if (!std::filesystem::exists(file))
            return s_missingFileResult;
        auto* source = new CFakeFilter();
        AddFilter(source, file);
        return S_OK;
    }
    HRESULT AddSourceFilter(const char*, const char*, IBaseFilter**) override VT_NOTIMPL;
    HRESULT Abort() override {
        ++m_aborts;
        if (CEvent* gate = m_positionGate.load())
            gate->Set();
        return S_OK;
    }
    HRESULT ShouldOperationContinue() override { return S_OK; }

    // ---- control
    HRESULT Run() override {
        m_state = State_Running;
        return S_OK;
    }
    HRESULT Pause() override {
        m_state = State_Paused;
        return S_OK;
    }
    HRESULT Stop() override {
        m_state = State_Stopped;
        return S_OK;
    }
    HRESULT StopWhenReady() override { return Stop(); }
    HRESULT GetState(LONG, OAFilterState* fs) override {
        *fs = m_state.load();
        return S_OK;
    }
    HRESULT RenderFile(const char* file) override { return RenderFile(file, nullptr); }

    // ---- seeking
    HRESULT GetCapabilities(DWORD* caps) override {
        *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration;
        return S_OK;
    }
    HRESULT CheckCapabilities(DWORD*) override { return S_OK; }
    HRESULT IsFormatSupported(const GUID* f) override {
        return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
    }
    HRESULT QueryPreferredFormat(GUID* f) override {
        *f = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    HRESULT GetTimeFormat(GUID* f) override { return QueryPreferredFormat(f); }
    HRESULT IsUsingTimeFormat(const GUID* f) override { return IsFormatSupported(f); }
    HRESULT SetTimeFormat(const GUID*) override { return S_OK; }
    HRESULT GetDuration(LONGLONG* d) override {
        if (m_duration.load() < 0)
            return E_NOTIMPL;
        *d = m_duration;
        return S_OK;
    }
    HRESULT GetStopPosition(LONGLONG* s) override {
        *s = m_stop.load() >= 0 ? m_stop.load() : m_duration.load();
        return S_OK;
    }
    HRESULT GetCurrentPosition(LONGLONG* p) override {
        if (CEvent* gate = m_positionGate.load()) {
            m_positionEntered.Set();
            gate->Wait(INFINITE);
        }
        *p = m_position;
        return S_OK;
    }
    HRESULT ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override VT_NOTIMPL;
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                         DWORD stopFlags) override {
        if ((stopFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning) {
            if (m_refuseStop)
                return E_NOTIMPL;
            m_stop = *stop;
        }
        if ((currentFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning) {
            m_position = *current;
            ++m_seeks;
        }
        return S_OK;
    }
    HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override {
        GetCurrentPosition(c);
        return GetStopPosition(s);
    }
    HRESULT GetAvailable(LONGLONG*, LONGLONG*) override VT_NOTIMPL;
    HRESULT SetRate(double rate) override {
        m_rate = rate;
        return S_OK;
    }
    HRESULT GetRate(double* rate) override {
        *rate = m_rate;
        return S_OK;
    }
    HRESULT GetPreroll(LONGLONG*) override VT_NOTIMPL;

    // ---- events
    HRESULT GetEventHandle(OAEVENT* handle) override {
        *handle = &m_eventHandle;
        return S_OK;
    }
    HRESULT GetEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG) override {
        std::lock_guard lock(m_mutex);
        if (m_events.empty()) {
            m_eventHandle.Reset();
            return E_ABORT;
        }
        *code = m_events.front();
        *p1 = 0;
        *p2 = 0;
        m_events.pop_front();
        if (m_events.empty())
            m_eventHandle.Reset();
        return S_OK;
    }
    HRESULT WaitForCompletion(LONG, LONG*) override VT_NOTIMPL;
    HRESULT CancelDefaultHandling(LONG) override { return S_OK; }
    HRESULT RestoreDefaultHandling(LONG) override { return S_OK; }
    HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
    HRESULT SetNotifyWindow(OAHWND, LONG, LONG_PTR) override { return S_OK; }
    HRESULT SetNotifyFlags(LONG) override { return S_OK; }
    HRESULT GetNotifyFlags(LONG* f) override {
        *f = 0;
        return S_OK;
    }

    // ---- site
    HRESULT SetSite(IUnknown*) override { return S_OK; }
    HRESULT GetSite(REFIID, void**) override VT_NOTIMPL;

    // ---- for tests
    void PostGraphEvent(LONG code) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(code);
        m_eventHandle.Set();
    }
    bool HasFilterNamed(const std::string& name) {
        CComPtr<IBaseFilter> f;
        return SUCCEEDED(FindFilterByName(name.c_str(), &f));
    }

    std::atomic<OAFilterState> m_state{State_Stopped};
    std::atomic<LONGLONG> m_position{0};
    std::atomic<LONGLONG> m_duration{10 * 10'000'000LL};
    std::atomic<LONGLONG> m_stop{-1};
    std::atomic<int> m_seeks{0};
    std::atomic<bool> m_refuseStop{false};
    double m_rate = 1.0;
    static inline HRESULT s_missingFileResult = VFW_E_NOT_FOUND;
    HRESULT m_renderPinsResult = S_OK;
    // While set, position queries block until it is set (a stuck graph call).
    std::atomic<CEvent*> m_positionGate{nullptr};
    CEvent m_positionEntered{true, false};
    std::atomic<int> m_aborts{0};
    std::vector<std::string> m_renderedFiles;

private:
    std::mutex m_mutex;
    std::vector<IBaseFilter*> m_filters;
    std::deque<LONG> m_events;
    CEvent m_eventHandle{true, false};
};

// Registers the fake graph class while it lives; Last() is the graph made last.
class CFakeGraphScope {
public:
    CFakeGraphScope() {
        s_last = nullptr;
        RegisterClassFactory(CLSID_FilterGraph, [](IUnknown*, REFIID riid, void** ppv) {
            auto* graph = new CFakeFilterGraph();
            graph->AddRef();
            s_last = graph;
            HRESULT hr = graph->QueryInterface(riid, ppv);
            graph->Release();
            return hr;
        });
    }
    ~CFakeGraphScope() {
        UnregisterClassFactory(CLSID_FilterGraph);
        CFakeFilterGraph::s_missingFileResult = VFW_E_NOT_FOUND;
        s_last = nullptr;
    }
    static CFakeFilterGraph* Last() { return s_last.Get(); }

private:
    static inline CComPtr<CFakeFilterGraph> s_last;
};

#undef VT_NOTIMPL

}  // namespace vtest
