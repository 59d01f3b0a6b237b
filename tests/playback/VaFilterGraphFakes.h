#pragma once
// An in-memory filter graph for fast unit tests of the wrapper's logic:
// filters with pins and media types, direct connections, a graph that
// records control calls, refuses rates on demand, keeps its clock and
// queues events. It does not stream anything.
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "platform/com/ClassTable.h"
#include "platform/dshow/DShow.h"
#include "platform/dshow/GraphNotifyEvent.h"
#include "platform/sync/Sync.h"

namespace fake {

#define FAKE_NOTIMPL(decl)  \
    HRESULT decl override { \
        return E_NOTIMPL;   \
    }

template <class I, class T>
class CEnum : public CUnknownImpl<CEnum<I, T>, I> {
public:
    explicit CEnum(std::vector<T> items) : m_items(std::move(items)) {}
    HRESULT Reset() override {
        m_pos = 0;
        return S_OK;
    }
    HRESULT Skip(ULONG c) override {
        m_pos += c;
        return m_pos <= m_items.size() ? S_OK : S_FALSE;
    }
    HRESULT Clone(I**) override { return E_NOTIMPL; }

protected:
    std::vector<T> m_items;
    size_t m_pos = 0;
};

class CEnumPins : public CEnum<IEnumPins, CComPtr<IPin>> {
public:
    using CEnum::CEnum;
    HRESULT Next(ULONG c, IPin** out, ULONG* fetched) override {
        ULONG n = 0;
        while (n < c && m_pos < m_items.size()) {
            out[n] = m_items[m_pos++];
            out[n++]->AddRef();
        }
        if (fetched)
            *fetched = n;
        return n == c ? S_OK : S_FALSE;
    }
};

class CEnumFilters : public CEnum<IEnumFilters, CComPtr<IBaseFilter>> {
public:
    using CEnum::CEnum;
    HRESULT Next(ULONG c, IBaseFilter** out, ULONG* fetched) override {
        ULONG n = 0;
        while (n < c && m_pos < m_items.size()) {
            out[n] = m_items[m_pos++];
            out[n++]->AddRef();
        }
        if (fetched)
            *fetched = n;
        return n == c ? S_OK : S_FALSE;
    }
};

class CEnumTypes : public CEnum<IEnumMediaTypes, CMediaType> {
public:
    using CEnum::CEnum;
    HRESULT Next(ULONG c, AM_MEDIA_TYPE** out, ULONG* fetched) override {
        ULONG n = 0;
        while (n < c && m_pos < m_items.size())
            out[n++] = CreateMediaType(&m_items[m_pos++]);
        if (fetched)
            *fetched = n;
        return n == c ? S_OK : S_FALSE;
    }
};

inline CMediaType MakeType(const GUID& major, const GUID& sub = GUID_NULL,
                           const GUID& format = GUID_NULL) {
    CMediaType mt;
    mt.majortype = major;
    mt.subtype = sub;
    mt.formattype = format;
    return mt;
}

class CFilter;

class CPin : public CUnknownImpl<CPin, IPin> {
public:
    CPin(CFilter* owner, PIN_DIRECTION dir, std::string name, std::vector<CMediaType> types)
        : m_owner(owner), m_dir(dir), m_name(std::move(name)), m_types(std::move(types)) {}

    HRESULT Connect(IPin* receive, const AM_MEDIA_TYPE* pmt) override {
        if (m_peer)
            return VFW_E_ALREADY_CONNECTED;
        auto* other = static_cast<CPin*>(receive);
        if (other->m_peer)
            return VFW_E_ALREADY_CONNECTED;
        if (m_refuse || other->m_refuse)
            return VFW_E_CANNOT_CONNECT;
        m_peer = other;
        other->m_peer = this;
        CMediaType type =
            pmt ? CMediaType(*pmt) : (m_types.empty() ? MakeType(GUID_NULL) : m_types.front());
        m_connected = type;
        other->m_connected = type;
        return S_OK;
    }
    HRESULT ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Disconnect() override {
        if (!m_peer)
            return S_FALSE;
        m_peer = nullptr;
        return S_OK;
    }
    HRESULT ConnectedTo(IPin** pin) override {
        *pin = m_peer;
        if (!m_peer)
            return VFW_E_NOT_CONNECTED;
        m_peer->AddRef();
        return S_OK;
    }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) override {
        if (!m_peer)
            return VFW_E_NOT_CONNECTED;
        return CopyMediaType(pmt, &m_connected);
    }
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* dir) override {
        *dir = m_dir;
        return S_OK;
    }
    HRESULT QueryId(std::string* id) override {
        *id = m_name;
        return S_OK;
    }
    HRESULT QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT EnumMediaTypes(IEnumMediaTypes** out) override {
        CComPtr<IEnumMediaTypes> e(new CEnumTypes(m_types));
        *out = e.Detach();
        return S_OK;
    }

    CPin* Peer() const { return m_peer; }
    bool m_refuse = false;
    CMediaType m_connected;

private:
    CFilter* m_owner;
    PIN_DIRECTION m_dir;
    std::string m_name;
    std::vector<CMediaType> m_types;
    CPin* m_peer = nullptr;
};

// A filter with pins; optionally an audio renderer (IBasicAudio) or a
// filter that answers any extra interface ids given.
class CFilter : public CUnknownImpl<CFilter, IBaseFilter, IBasicAudio> {
public:
    explicit CFilter(std::string name, CLSID clsid = GUID_NULL)
        : m_name(std::move(name)), m_clsid(clsid) {}

    CPin* AddPin(PIN_DIRECTION dir, std::vector<CMediaType> types = {}) {
        auto* pin = new CPin(
            this, dir,
            m_name + (dir == PINDIR_INPUT ? ".in" : ".out") + std::to_string(m_pins.size()),
            std::move(types));
        m_pins.emplace_back(pin);
        return pin;
    }
    CPin* Pin(size_t i) const { return static_cast<CPin*>(m_pins.at(i).Get()); }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IBasicAudio::iid && !m_audio) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        for (const IID& extra : m_extra) {
            if (riid == extra) {
                // Any extra interface is answered by the filter's IUnknown:
                // only its presence is ever tested.
                *ppv = static_cast<IBaseFilter*>(this);
                AddRef();
                return S_OK;
            }
        }
        return CUnknownImpl::QueryInterface(riid, ppv);
    }

    // IBaseFilter
    HRESULT GetClassID(CLSID* id) override {
        *id = m_clsid;
        return S_OK;
    }
    HRESULT Stop() override { return S_OK; }
    HRESULT Pause() override { return S_OK; }
    HRESULT Run(REFERENCE_TIME) override { return S_OK; }
    HRESULT GetState(DWORD, FILTER_STATE* s) override {
        *s = State_Stopped;
        return S_OK;
    }
    HRESULT SetSyncSource(IReferenceClock* clock) override {
        m_clock = clock;
        return S_OK;
    }
    HRESULT GetSyncSource(IReferenceClock** clock) override {
        *clock = m_clock;
        if (m_clock)
            m_clock->AddRef();
        return m_clock ? S_OK : S_FALSE;
    }
    HRESULT EnumPins(IEnumPins** out) override {
        CComPtr<IEnumPins> e(new CEnumPins(m_pins));
        *out = e.Detach();
        return S_OK;
    }
    HRESULT FindPin(const char*, IPin**) override { return E_NOTIMPL; }
    HRESULT QueryFilterInfo(FILTER_INFO* info) override {
        info->achName = m_name;
        info->pGraph = nullptr;
        return S_OK;
    }
    HRESULT JoinFilterGraph(IFilterGraph*, const char*) override { return S_OK; }
    HRESULT QueryVendorInfo(std::string*) override { return E_NOTIMPL; }

    // IBasicAudio
    HRESULT put_Volume(LONG v) override {
        if (v < -10000 || v > 0)
            return E_INVALIDARG;
        m_volume = v;
        return S_OK;
    }
    HRESULT get_Volume(LONG* v) override {
        *v = m_volume;
        return S_OK;
    }
    FAKE_NOTIMPL(put_Balance(LONG))
    FAKE_NOTIMPL(get_Balance(LONG*))

    std::string m_name;
    CLSID m_clsid;
    bool m_audio = false;
    LONG m_volume = 0;
    std::vector<IID> m_extra;
    CComPtr<IReferenceClock> m_clock;

private:
    std::vector<CComPtr<IPin>> m_pins;
};

inline HRESULT CPin::QueryPinInfo(PIN_INFO* info) {
    info->pFilter = m_owner;
    m_owner->AddRef();
    info->dir = m_dir;
    info->achName = m_name;
    return S_OK;
}

// The graph: filters, direct connections, a state, seeking with a rate it
// may refuse, a sync source and an event queue.
class CGraph : public CUnknownImpl<CGraph, IGraphBuilder, IMediaControl, IMediaSeeking,
                                   IMediaEventEx, IMediaFilter, IObjectWithSite, IBasicVideo> {
public:
    // The graphs made through the class table, newest last.
    static std::vector<CGraph*>& Made() {
        static std::vector<CGraph*> made;
        return made;
    }
    static void Install() {
        RegisterClassFactory(CLSID_FilterGraph, [](IUnknown*, REFIID riid, void** ppv) {
            auto* graph = new CGraph();
            graph->AddRef();
            HRESULT hr = graph->QueryInterface(riid, ppv);
            Made().push_back(graph);
            graph->Release();
            return hr;
        });
    }
    ~CGraph() override {
        auto& made = Made();
        for (auto& g : made)
            if (g == this)
                g = nullptr;
    }

    // Answers IBasicVideo only once it has a frame source.
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IBasicVideo::iid && !m_hasBasicVideo) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return CUnknownImpl::QueryInterface(riid, ppv);
    }
    void Add(CFilter* filter) { m_filters.emplace_back(static_cast<IBaseFilter*>(filter)); }
    void Post(LONG code, LONG_PTR p1 = 0, LONG_PTR p2 = 0) {
        m_events.push_back({code, p1, p2});
        m_handle.Set();
        // Delivered by the test's event loop.
        if (m_notify && m_msg)
            QCoreApplication::postEvent(m_notify, new CGraphNotifyEvent(m_msg, 0, 0));
    }

    // IFilterGraph / IGraphBuilder
    HRESULT AddFilter(IBaseFilter* f, const char* name) override {
        m_filters.emplace_back(f);
        m_log.push_back(std::string("AddFilter:") + (name ? name : "(null)"));
        return S_OK;
    }
    HRESULT RemoveFilter(IBaseFilter* f) override {
        // Rebuilt rather than erased: CComPtr is copied, never moved over.
        std::vector<CComPtr<IBaseFilter>> kept;
        for (const auto& filter : m_filters)
            if (filter.Get() != f)
                kept.push_back(filter);
        if (kept.size() == m_filters.size())
            return VFW_E_NOT_FOUND;
        m_filters.swap(kept);
        return S_OK;
    }
    HRESULT EnumFilters(IEnumFilters** out) override {
        CComPtr<IEnumFilters> e(new CEnumFilters(m_filters));
        *out = e.Detach();
        return S_OK;
    }
    FAKE_NOTIMPL(FindFilterByName(const char*, IBaseFilter**))
    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt) override {
        return out->Connect(in, pmt);
    }
    FAKE_NOTIMPL(Reconnect(IPin*))
    HRESULT Disconnect(IPin* pin) override {
        m_log.push_back("Disconnect");
        return pin->Disconnect();
    }
    HRESULT SetDefaultSyncSource() override {
        m_clock = nullptr;
        m_defaultClock = true;
        m_log.push_back("SetDefaultSyncSource");
        return S_OK;
    }
    HRESULT Connect(IPin* out, IPin* in) override {
        m_log.push_back("Connect");
        return out->Connect(in, nullptr);
    }
    HRESULT Render(IPin* out) override {
        m_log.push_back("Render");
        if (FAILED(m_renderResult))
            return m_renderResult;
        auto* renderer = new CFilter("renderer" + std::to_string(m_filters.size()));
        CPin* in = renderer->AddPin(PINDIR_INPUT);
        Add(renderer);
        out->Connect(in, nullptr);
        return m_renderResult;
    }
    HRESULT RenderFile(const char* file, const char*) override {
        m_log.push_back(std::string("RenderFile:") + file);
        return m_renderResult;
    }
    FAKE_NOTIMPL(AddSourceFilter(const char*, const char*, IBaseFilter**))
    FAKE_NOTIMPL(Abort())
    FAKE_NOTIMPL(ShouldOperationContinue())

    // IMediaControl and IMediaFilter
    HRESULT Run() override {
        m_log.push_back("Run");
        m_state = State_Running;
        return S_OK;
    }
    HRESULT Pause() override {
        m_log.push_back("Pause");
        m_state = State_Paused;
        return S_OK;
    }
    HRESULT Stop() override {
        m_log.push_back("Stop");
        m_state = State_Stopped;
        return S_OK;
    }
    HRESULT StopWhenReady() override {
        m_log.push_back("StopWhenReady");
        m_state = State_Stopped;
        return S_OK;
    }
    HRESULT GetState(LONG timeout, OAFilterState* fs) override {
        *fs = m_state;
        if (m_neverSettles)
            return VFW_S_STATE_INTERMEDIATE;
        if (m_intermediate > 0 && timeout == 0) {
            --m_intermediate;
            return VFW_S_STATE_INTERMEDIATE;
        }
        return S_OK;
    }
    FAKE_NOTIMPL(RenderFile(const char*))
    HRESULT GetClassID(CLSID* id) override {
        *id = CLSID_FilterGraph;
        return S_OK;
    }
    HRESULT Run(REFERENCE_TIME) override { return Run(); }
    HRESULT GetState(DWORD, FILTER_STATE* s) override {
        *s = static_cast<FILTER_STATE>(m_state);
        return S_OK;
    }
    HRESULT SetSyncSource(IReferenceClock* clock) override {
        m_clock = clock;
        m_defaultClock = false;
        m_log.push_back("SetSyncSource");
        return S_OK;
    }
    HRESULT GetSyncSource(IReferenceClock** clock) override {
        *clock = m_clock;
        if (m_clock)
            m_clock->AddRef();
        return m_clock ? S_OK : S_FALSE;
    }

    // IMediaSeeking
    FAKE_NOTIMPL(GetCapabilities(DWORD*))
    FAKE_NOTIMPL(CheckCapabilities(DWORD*))
    FAKE_NOTIMPL(IsFormatSupported(const GUID*))
    FAKE_NOTIMPL(QueryPreferredFormat(GUID*))
    FAKE_NOTIMPL(GetTimeFormat(GUID*))
    FAKE_NOTIMPL(IsUsingTimeFormat(const GUID*))
    HRESULT SetTimeFormat(const GUID* format) override {
        m_timeFormat = *format;
        return S_OK;
    }
    HRESULT GetDuration(LONGLONG* d) override {
        *d = 20'000'000;
        return S_OK;
    }
    FAKE_NOTIMPL(GetStopPosition(LONGLONG*))
    HRESULT GetCurrentPosition(LONGLONG* p) override {
        *p = m_position;
        return S_OK;
    }
    FAKE_NOTIMPL(ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*))
    HRESULT SetPositions(LONGLONG* cur, DWORD curFlags, LONGLONG* stop, DWORD stopFlags) override {
        if (cur && (curFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning)
            m_position = *cur;
        if (stop && (stopFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning)
            m_stop = *stop;
        return S_OK;
    }
    FAKE_NOTIMPL(GetPositions(LONGLONG*, LONGLONG*))
    FAKE_NOTIMPL(GetAvailable(LONGLONG*, LONGLONG*))
    HRESULT SetRate(double rate) override {
        m_log.push_back("SetRate");
        if (FAILED(m_rateResult))
            return m_rateResult;
        m_rate = rate;
        return S_OK;
    }
    HRESULT GetRate(double* rate) override {
        *rate = m_rate;
        return S_OK;
    }
    FAKE_NOTIMPL(GetPreroll(LONGLONG*))

    // IMediaEventEx
    HRESULT GetEventHandle(OAEVENT* h) override {
        *h = &m_handle;
        return S_OK;
    }
    HRESULT GetEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG) override {
        if (m_events.empty()) {
            m_handle.Reset();
            return E_ABORT;
        }
        auto e = m_events.front();
        m_events.pop_front();
        *code = e.code;
        *p1 = e.p1;
        *p2 = e.p2;
        return S_OK;
    }
    FAKE_NOTIMPL(WaitForCompletion(LONG, LONG*))
    FAKE_NOTIMPL(CancelDefaultHandling(LONG))
    FAKE_NOTIMPL(RestoreDefaultHandling(LONG))
    HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override {
        ++m_freed;
        return S_OK;
    }
    HRESULT SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR) override {
        m_notify = hwnd;
        m_msg = msg;
        return S_OK;
    }
    FAKE_NOTIMPL(SetNotifyFlags(LONG))
    FAKE_NOTIMPL(GetNotifyFlags(LONG*))

    // IObjectWithSite
    HRESULT SetSite(IUnknown* site) override {
        m_site = site;
        return S_OK;
    }
    FAKE_NOTIMPL(GetSite(REFIID, void**))

    // IBasicVideo: hands out the DIB it was given.
    FAKE_NOTIMPL(get_AvgTimePerFrame(REFTIME*))
    FAKE_NOTIMPL(get_BitRate(LONG*))
    FAKE_NOTIMPL(get_BitErrorRate(LONG*))
    FAKE_NOTIMPL(get_VideoWidth(LONG*))
    FAKE_NOTIMPL(get_VideoHeight(LONG*))
    FAKE_NOTIMPL(SetSourcePosition(LONG, LONG, LONG, LONG))
    FAKE_NOTIMPL(GetSourcePosition(LONG*, LONG*, LONG*, LONG*))
    FAKE_NOTIMPL(SetDefaultSourcePosition())
    FAKE_NOTIMPL(SetDestinationPosition(LONG, LONG, LONG, LONG))
    FAKE_NOTIMPL(GetDestinationPosition(LONG*, LONG*, LONG*, LONG*))
    FAKE_NOTIMPL(SetDefaultDestinationPosition())
    FAKE_NOTIMPL(GetVideoSize(LONG*, LONG*))
    FAKE_NOTIMPL(IsUsingDefaultSource())
    FAKE_NOTIMPL(IsUsingDefaultDestination())
    HRESULT GetCurrentImage(LONG* size, LONG* image) override {
        if (m_dib.empty())
            return E_UNEXPECTED;
        if (!image) {
            *size = static_cast<LONG>(m_dib.size());
            return S_OK;
        }
        if (*size < static_cast<LONG>(m_dib.size()))
            return E_OUTOFMEMORY;
        std::memcpy(image, m_dib.data(), m_dib.size());
        return S_OK;
    }

    struct CQueued {
        LONG code;
        LONG_PTR p1, p2;
    };
    std::vector<CComPtr<IBaseFilter>> m_filters;
    std::vector<std::string> m_log;
    bool m_neverSettles = false;
    OAFilterState m_state = State_Stopped;
    int m_intermediate = 0;
    HRESULT m_rateResult = S_OK;
    HRESULT m_renderResult = S_OK;
    double m_rate = 1.0;
    LONGLONG m_position = 0;
    LONGLONG m_stop = -1;
    GUID m_timeFormat{};
    CComPtr<IReferenceClock> m_clock;
    bool m_defaultClock = true;
    std::deque<CQueued> m_events;
    CEvent m_handle{true};
    int m_freed = 0;
    OAHWND m_notify = nullptr;
    LONG m_msg = 0;
    IUnknown* m_site = nullptr;
    bool m_hasBasicVideo = false;
    std::vector<BYTE> m_dib;
};

}  // namespace fake
