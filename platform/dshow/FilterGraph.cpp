#include "platform/dshow/FilterGraph.h"

#include <fcntl.h>
#include <gst/pbutils/missing-plugins.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/dshow/ClockAdapter.h"
#include "platform/dshow/Enumerators.h"
#include "platform/dshow/GraphNotifyEvent.h"
#include "platform/dshow/MediaTypeCaps.h"
#include "platform/dshow/Renderers.h"

using vagst::CGstRef;

namespace {

constexpr size_t kMaxQueuedEvents = 4096;
constexpr size_t kMaxGraphFileSize = 1 << 20;

// A moniker naming an element factory the graph is about to use.
class CFactoryMoniker : public CUnknownImpl<CFactoryMoniker, IMoniker> {
public:
    explicit CFactoryMoniker(std::string factory) : m_factory(std::move(factory)) {}
    HRESULT GetDisplayName(std::string* name) override {
        if (!name)
            return E_POINTER;
        *name = m_factory;
        return S_OK;
    }
    HRESULT BindToObject(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        CComPtr<IBaseFilter> filter = CreateElementFilter(m_factory.c_str());
        if (!filter)
            return VFW_E_NOT_FOUND;
        return filter->QueryInterface(riid, ppv);
    }

private:
    std::string m_factory;
};

CPadPin* PinOf(GstPad* pad) {
    return CFilterCore::PinOfPad(pad);
}

CFilterCore* CoreOf(IBaseFilter* filter) {
    if (!filter)
        return nullptr;
    CComPtr<IGstElementAccess> access;
    if (FAILED(filter->QueryInterface(IGstElementAccess::iid, access.ReleaseAndGetVoidAddress())))
        return nullptr;
    return access->FilterCore();
}

std::string CapsName(GstPad* pad) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    std::string name;
    if (caps && !gst_caps_is_empty(caps) && !gst_caps_is_any(caps))
        name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    if (caps)
        gst_caps_unref(caps);
    return name;
}

bool HasSometimesSrcPads(GstElement* element) {
    GList* templates = gst_element_class_get_pad_template_list(GST_ELEMENT_GET_CLASS(element));
    for (GList* l = templates; l; l = l->next) {
        auto* t = static_cast<GstPadTemplate*>(l->data);
        if (GST_PAD_TEMPLATE_DIRECTION(t) == GST_PAD_SRC &&
            GST_PAD_TEMPLATE_PRESENCE(t) == GST_PAD_SOMETIMES)
            return true;
    }
    return false;
}

std::vector<GstPad*> PadsOf(GstElement* element, GstPadDirection direction) {
    std::vector<GstPad*> pads;
    GST_OBJECT_LOCK(element);
    GList* list = direction == GST_PAD_SRC ? element->srcpads : element->sinkpads;
    for (GList* l = list; l; l = l->next)
        pads.push_back(GST_PAD(gst_object_ref(l->data)));
    GST_OBJECT_UNLOCK(element);
    return pads;
}

void UnrefPads(std::vector<GstPad*>& pads) {
    for (GstPad* p : pads)
        gst_object_unref(p);
    pads.clear();
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Saved graphs are untrusted: only elements that read, split, parse, decode,
// convert or filter may be loaded from them; nothing that renders, writes,
// encodes, multiplexes or talks to the network.
bool AllowedInGraphFile(GstElement* element) {
    std::string factory = Lower(vagst::FactoryName(element));
    if (factory.empty())
        return false;  // plain bins and the like
    std::string klass = Lower(vagst::FactoryKlass(element));
    std::vector<std::string> tokens;
    size_t start = 0;
    while (start <= klass.size()) {
        size_t end = klass.find('/', start);
        if (end == std::string::npos)
            end = klass.size();
        tokens.push_back(klass.substr(start, end - start));
        start = end + 1;
    }
    auto has = [&](const char* t) {
        return std::find(tokens.begin(), tokens.end(), t) != tokens.end();
    };
    for (const char* denied :
         {"sink", "muxer", "encoder", "network", "device", "payloader", "server"})
        if (has(denied))
            return false;
    for (const char* denied : {"sink", "server", "fdsrc", "shm", "appsrc", "tcp", "udp", "rtsp"})
        if (factory.find(denied) != std::string::npos)
            return false;
    bool allowed = false;
    for (const char* ok : {"source", "demuxer", "parser", "decoder", "converter", "filter"})
        if (has(ok))
            allowed = true;
    // Plumbing that only passes data on.
    for (const char* ok : {"queue", "capsfilter", "typefind", "multiqueue"})
        if (factory == ok)
            allowed = true;
    if (!allowed)
        return false;
    // Only sources may name a location, and they only read it.
    if (!has("source") &&
        g_object_class_find_property(G_OBJECT_GET_CLASS(element), "location") != nullptr)
        return false;
    return true;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

GstPadProbeReturn CFilterGraph::SourceReadProbe(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<CFilterGraph*>(data);
    uint64_t end = 0;
    if (info->type & GST_PAD_PROBE_TYPE_PULL) {
        end = info->offset + info->size;
    } else if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info)) {
        if (GST_BUFFER_OFFSET_IS_VALID(buffer))
            end = GST_BUFFER_OFFSET(buffer) + gst_buffer_get_size(buffer);
    }
    self->m_lastSourceRead = NowMs();
    if (self->m_sourceSize && end >= self->m_sourceSize) {
        self->m_sourceReachedEnd = true;
        self->m_sourceReadToEnd = true;
    }
    return GST_PAD_PROBE_OK;
}

// --- construction ---

CFilterGraph::CFilterGraph() {
    vagst::EnsureInit();
    m_pipeline = gst_pipeline_new(nullptr);
    gst_object_ref_sink(m_pipeline);
    m_bus = gst_pipeline_get_bus(GST_PIPELINE(m_pipeline));
    gst_bus_set_sync_handler(m_bus, BusSyncHandler, this, nullptr);
}

CFilterGraph::~CFilterGraph() {
    m_abort = true;
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_bus_set_sync_handler(m_bus, nullptr, nullptr, nullptr);
    std::vector<CComPtr<IBaseFilter>> filters;
    {
        std::lock_guard guard(m_filtersLock);
        filters.swap(m_filters);
        for (auto& [element, pad] : m_pendingTargets)
            gst_object_unref(pad);
        m_pendingTargets.clear();
    }
    for (auto& filter : filters) {
        CFilterCore* core = CoreOf(filter);
        if (!core)
            continue;
        g_signal_handlers_disconnect_by_data(core->Element(), this);
        if (auto* video = dynamic_cast<CVideoRendererFilter*>(filter.Get())) {
            video->SetSizeChangedCallback(nullptr);
            video->SetFrameShownCallback(nullptr);
        }
        gst_bin_remove(GST_BIN(m_pipeline), core->Element());
        core->JoinFilterGraph(nullptr, nullptr, nullptr);
    }
    filters.clear();
    {
        std::lock_guard guard(m_clockLock);
        if (m_adapter) {
            vagst::DetachClockAdapter(m_adapter);
            gst_object_unref(m_adapter);
            m_adapter = nullptr;
        }
        m_syncSource = nullptr;
    }
    {
        std::lock_guard guard(m_build.lock);
        if (m_build.error)
            g_error_free(m_build.error);
        m_build.error = nullptr;
    }
    gst_object_unref(m_bus);
    gst_object_unref(m_pipeline);
}

HRESULT CFilterGraph::QueryInterface(REFIID riid, void** ppv) {
    // The renderers' interfaces are answered by the renderers themselves.
    bool video = riid == IBasicVideo::iid || riid == IBasicVideo2::iid ||
                 riid == IVideoWindow::iid || riid == IVideoFrameStep::iid;
    if (video || riid == IBasicAudio::iid) {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        for (auto& f : Filters()) {
            CComPtr<IUnknown> probe;
            if (FAILED(f->QueryInterface(video ? IVideoWindow::iid : IBasicAudio::iid,
                                         probe.ReleaseAndGetVoidAddress())))
                continue;
            return f->QueryInterface(riid, ppv);
        }
        return E_NOINTERFACE;
    }
    return CUnknownImpl::QueryInterface(riid, ppv);
}

HRESULT CFilterGraph::QueryInterfaceExtra(REFIID riid, void** ppv) {
    if (riid == IFilterGraph::iid) {
        *ppv = static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this));
        return S_OK;
    }
    if (riid == IMediaEvent::iid) {
        *ppv = static_cast<IMediaEvent*>(static_cast<IMediaEventEx*>(this));
        return S_OK;
    }
    if (riid == IPersist::iid) {
        *ppv = static_cast<IPersist*>(static_cast<IMediaFilter*>(this));
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// --- filters ---

std::vector<CComPtr<IBaseFilter>> CFilterGraph::Filters() const {
    std::lock_guard guard(m_filtersLock);
    return m_filters;
}

bool CFilterGraph::HasFilters() const {
    std::lock_guard guard(m_filtersLock);
    return !m_filters.empty();
}

HRESULT CFilterGraph::AddFilterInternal(IBaseFilter* filter, const char* name) {
    CFilterCore* core = CoreOf(filter);
    if (!core)
        return E_NOINTERFACE;
    GstElement* element = core->Element();
    std::lock_guard guard(m_filtersLock);
    for (auto& f : m_filters)
        if (IsSameObject(f, filter))
            return VFW_E_DUPLICATE_NAME;
    if (GST_OBJECT_PARENT(element))
        return E_INVALIDARG;  // in another graph
    std::string wanted =
        name && *name ? name : (GST_OBJECT_NAME(element) ? GST_OBJECT_NAME(element) : "");
    if (wanted.empty())
        wanted = "Filter";
    auto taken = [&](const std::string& candidate) {
        for (auto& f : m_filters) {
            FILTER_INFO info;
            if (SUCCEEDED(f->QueryFilterInfo(&info))) {
                if (info.pGraph)
                    info.pGraph->Release();
                if (info.achName == candidate)
                    return true;
            }
        }
        return false;
    };
    HRESULT hr = S_OK;
    std::string unique = wanted;
    if (taken(unique)) {
        hr = VFW_S_DUPLICATE_NAME;
        do {
            char suffix[16];
            std::snprintf(suffix, sizeof(suffix), " %04d", ++m_nameCounter % 10000);
            unique = wanted + suffix;
        } while (taken(unique));
    }
    // Element names are unique in the pipeline too; a failing rename keeps
    // the element's own name, which GStreamer made unique.
    gst_object_set_name(GST_OBJECT(element), unique.c_str());
    if (!gst_bin_add(GST_BIN(m_pipeline), element))
        return E_FAIL;
    core->JoinFilterGraph(this, static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this)),
                          unique.c_str());
    m_filters.emplace_back(filter);
    if (auto* video = dynamic_cast<CVideoRendererFilter*>(filter)) {
        video->SetSizeChangedCallback([this](int w, int h) {
            NotifyEvent(EC_VIDEO_SIZE_CHANGED, LONG_PTR((DWORD(h) << 16) | (DWORD(w) & 0xFFFF)), 0);
        });
        video->SetFrameShownCallback([this] {
            ++m_framesShown;
            if (m_stepCompletePending.exchange(false))
                NotifyEvent(EC_STEP_COMPLETE, 0, 0);
        });
    }
    return hr;
}

HRESULT CFilterGraph::AddFilter(IBaseFilter* pFilter, const char* name) {
    if (!pFilter)
        return E_POINTER;
    if (LogicalState() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    HRESULT hr = AddFilterInternal(pFilter, name);
    if (SUCCEEDED(hr)) {
        CFilterCore* core = CoreOf(pFilter);
        if (core && HasSometimesSrcPads(core->Element()))
            WatchDynamicPads(core->Element());
    }
    return hr;
}

HRESULT CFilterGraph::RemoveFilter(IBaseFilter* pFilter) {
    if (!pFilter)
        return E_POINTER;
    CComPtr<IBaseFilter> keep;
    {
        std::lock_guard guard(m_filtersLock);
        auto it =
            std::find_if(m_filters.begin(), m_filters.end(),
                         [&](const CComPtr<IBaseFilter>& f) { return IsSameObject(f, pFilter); });
        if (it == m_filters.end())
            return VFW_E_NOT_FOUND;
        keep = *it;
    }
    if (LogicalState() == State_Running)
        return VFW_E_NOT_STOPPED;
    CFilterCore* core = CoreOf(keep);
    GstElement* element = core->Element();
    MarkEdited();
    for (GstPadDirection dir : {GST_PAD_SINK, GST_PAD_SRC}) {
        auto pads = PadsOf(element, dir);
        for (GstPad* pad : pads)
            if (CPadPin* pin = core->PinFor(pad))
                DisconnectPin(pin);
        UnrefPads(pads);
    }
    g_signal_handlers_disconnect_by_data(element, this);
    if (auto* video = dynamic_cast<CVideoRendererFilter*>(keep.Get())) {
        video->SetSizeChangedCallback(nullptr);
        video->SetFrameShownCallback(nullptr);
    }
    gst_element_set_state(element, GST_STATE_NULL);
    {
        std::lock_guard guard(m_filtersLock);
        auto pending = m_pendingTargets.find(element);
        if (pending != m_pendingTargets.end()) {
            gst_object_unref(pending->second);
            m_pendingTargets.erase(pending);
        }
        gst_bin_remove(GST_BIN(m_pipeline), element);
        m_filters.erase(
            std::remove_if(m_filters.begin(), m_filters.end(),
                           [&](const CComPtr<IBaseFilter>& f) { return f.Get() == keep.Get(); }),
            m_filters.end());
    }
    core->JoinFilterGraph(nullptr, nullptr, nullptr);
    return S_OK;
}

HRESULT CFilterGraph::EnumFilters(IEnumFilters** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    auto* e = new CEnumFilters(Filters());
    e->AddRef();
    *ppEnum = e;
    return S_OK;
}

HRESULT CFilterGraph::FindFilterByName(const char* name, IBaseFilter** ppFilter) {
    if (!ppFilter)
        return E_POINTER;
    *ppFilter = nullptr;
    if (!name)
        return E_POINTER;
    for (auto& f : Filters()) {
        FILTER_INFO info;
        if (FAILED(f->QueryFilterInfo(&info)))
            continue;
        if (info.pGraph)
            info.pGraph->Release();
        if (info.achName == name) {
            *ppFilter = f.Get();
            f->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

// --- connections ---

namespace {
CPadPin* GraphPin(IPin* pin) {
    if (!pin)
        return nullptr;
    CComPtr<IGstPadAccess> access;
    if (FAILED(pin->QueryInterface(IGstPadAccess::iid, access.ReleaseAndGetVoidAddress())))
        return nullptr;
    return static_cast<CPadPin*>(access.Get());
}
}  // namespace

HRESULT CFilterGraph::ConnectPins(CPadPin* out, CPadPin* in, const AM_MEDIA_TYPE* pmt,
                                  bool converters) {
    if (!out || !in)
        return E_POINTER;
    if (out->Direction() != PINDIR_OUTPUT || in->Direction() != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    if (out->Core()->Graph() != this || in->Core()->Graph() != this)
        return VFW_E_NOT_IN_GRAPH;
    GstPad* o = out->Pad();
    GstPad* i = in->Pad();
    if (gst_pad_is_linked(o) || gst_pad_is_linked(i))
        return VFW_E_ALREADY_CONNECTED;
    if (pmt) {
        GstCaps* wanted = vagst::CapsFromMediaType(*pmt);
        if (!wanted)
            return VFW_E_TYPE_NOT_ACCEPTED;
        GstCaps* oc = gst_pad_query_caps(o, nullptr);
        GstCaps* ic = gst_pad_query_caps(i, nullptr);
        bool ok = gst_caps_can_intersect(oc, wanted) && gst_caps_can_intersect(ic, wanted);
        gst_caps_unref(oc);
        gst_caps_unref(ic);
        gst_caps_unref(wanted);
        if (!ok)
            return VFW_E_TYPE_NOT_ACCEPTED;
    }
    GstElement* downstream = in->Core()->Element();
    GstCaps* oc = gst_pad_query_caps(o, nullptr);
    GstCaps* ic = gst_pad_query_caps(i, nullptr);
    bool direct = gst_caps_can_intersect(oc, ic);
    gst_caps_unref(ic);
    if (direct && gst_pad_link(o, i) == GST_PAD_LINK_OK) {
        gst_caps_unref(oc);
        gst_element_sync_state_with_parent(downstream);
        return S_OK;
    }
    if (!converters) {
        gst_caps_unref(oc);
        return direct ? VFW_E_CANNOT_CONNECT : VFW_E_NO_ACCEPTABLE_TYPES;
    }
    std::string kind;
    GstCaps* current = gst_pad_get_current_caps(o);
    GstCaps* probe = current ? current : oc;
    if (!gst_caps_is_empty(probe) && !gst_caps_is_any(probe))
        kind = gst_structure_get_name(gst_caps_get_structure(probe, 0));
    if (current)
        gst_caps_unref(current);
    gst_caps_unref(oc);

    if (kind == "video/x-raw" || kind == "audio/x-raw") {
        bool video = kind == "video/x-raw";
        CComPtr<IBaseFilter> conv = MakeFilter(video ? "videoconvert" : "audioconvert",
                                               video ? "Color Space Converter" : "Audio Converter");
        if (!conv)
            return VFW_E_CANNOT_CONNECT;
        GstElement* c = CoreOf(conv)->Element();
        GstPad* cin = gst_element_get_static_pad(c, "sink");
        GstPad* cout = gst_element_get_static_pad(c, "src");
        bool ok = gst_pad_link(cout, i) == GST_PAD_LINK_OK;
        if (ok) {
            gst_element_sync_state_with_parent(downstream);
            gst_element_sync_state_with_parent(c);
            ok = gst_pad_link(o, cin) == GST_PAD_LINK_OK;
        }
        gst_object_unref(cin);
        gst_object_unref(cout);
        if (!ok) {
            RemoveFilter(conv);
            return VFW_E_CANNOT_CONNECT;
        }
        return S_OK;
    }
    // Compressed or unknown data: a decoder, whose output is connected when
    // it appears.
    CComPtr<IBaseFilter> decoder = MakeFilter("decodebin", "Decoder");
    if (!decoder)
        return VFW_E_CANNOT_CONNECT;
    GstElement* d = CoreOf(decoder)->Element();
    {
        std::lock_guard guard(m_filtersLock);
        m_pendingTargets[d] = GST_PAD(gst_object_ref(i));
    }
    WatchDynamicPads(d);
    GstPad* din = gst_element_get_static_pad(d, "sink");
    gst_element_sync_state_with_parent(d);
    bool ok = gst_pad_link(o, din) == GST_PAD_LINK_OK;
    gst_object_unref(din);
    if (!ok) {
        RemoveFilter(decoder);
        return VFW_E_CANNOT_CONNECT;
    }
    return S_OK;
}

HRESULT CFilterGraph::DisconnectPin(CPadPin* pin) {
    if (!pin)
        return E_POINTER;
    GstPad* pad = pin->Pad();
    GstPad* peer = gst_pad_get_peer(pad);
    if (!peer)
        return S_FALSE;
    GstPad* src = GST_PAD_DIRECTION(pad) == GST_PAD_SRC ? pad : peer;
    GstPad* sink = src == pad ? peer : pad;
    // Data may be waiting in the downstream element: flush it out first so
    // the upstream thread lets go, then cut the link.
    bool flush = PipelineActive();
    if (flush)
        gst_pad_send_event(sink, gst_event_new_flush_start());
    gst_pad_unlink(src, sink);
    if (flush)
        gst_pad_send_event(sink, gst_event_new_flush_stop(TRUE));
    gst_object_unref(peer);
    return S_OK;
}

HRESULT CFilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
    if (!ppinOut || !ppinIn)
        return E_POINTER;
    CPadPin* out = GraphPin(ppinOut);
    CPadPin* in = GraphPin(ppinIn);
    if (!out || !in)
        return VFW_E_NOT_IN_GRAPH;
    if (LogicalState() == State_Running)
        return VFW_E_NOT_STOPPED;
    MarkEdited();
    return ConnectPins(out, in, pmt, false);
}

HRESULT CFilterGraph::Connect(IPin* ppinOut, IPin* ppinIn) {
    if (!ppinOut || !ppinIn)
        return E_POINTER;
    CPadPin* out = GraphPin(ppinOut);
    CPadPin* in = GraphPin(ppinIn);
    if (!out || !in)
        return VFW_E_NOT_IN_GRAPH;
    if (LogicalState() == State_Running)
        return VFW_E_NOT_STOPPED;
    MarkEdited();
    return ConnectPins(out, in, nullptr, true);
}

HRESULT CFilterGraph::Reconnect(IPin* ppin) {
    if (!ppin)
        return E_POINTER;
    // Links renegotiate by themselves; a reconfigure event asks for it.
    CPadPin* pin = GraphPin(ppin);
    if (!pin)
        return VFW_E_NOT_IN_GRAPH;
    if (!gst_pad_is_linked(pin->Pad()))
        return VFW_E_NOT_CONNECTED;
    if (GST_PAD_DIRECTION(pin->Pad()) == GST_PAD_SINK)
        gst_pad_push_event(pin->Pad(), gst_event_new_reconfigure());  // travels upstream
    else
        gst_pad_send_event(pin->Pad(), gst_event_new_reconfigure());
    return S_OK;
}

HRESULT CFilterGraph::Disconnect(IPin* ppin) {
    if (!ppin)
        return E_POINTER;
    CPadPin* pin = GraphPin(ppin);
    if (!pin || pin->Core()->Graph() != this)
        return VFW_E_NOT_IN_GRAPH;
    if (LogicalState() == State_Running)
        return VFW_E_NOT_STOPPED;
    if (!gst_pad_is_linked(pin->Pad()))
        return S_FALSE;
    MarkEdited();
    return DisconnectPin(pin);
}

// --- building ---

bool CFilterGraph::SelectFactory(const char* factory) {
    CComPtr<IAMGraphBuilderCallback> callback;
    {
        std::lock_guard guard(m_clockLock);
        callback = m_callback;
    }
    if (!callback)
        return true;
    CComPtr<IMoniker> moniker(static_cast<IMoniker*>(new CFactoryMoniker(factory)));
    return SUCCEEDED(callback->SelectedFilter(moniker));
}

CComPtr<IBaseFilter> CFilterGraph::AdoptFilter(CComPtr<IBaseFilter> filter, const char* name) {
    if (!filter || FAILED(AddFilterInternal(filter, name)))
        return nullptr;
    CComPtr<IAMGraphBuilderCallback> callback;
    {
        std::lock_guard guard(m_clockLock);
        callback = m_callback;
    }
    if (callback)
        callback->CreatedFilter(filter);
    return filter;
}

CComPtr<IBaseFilter> CFilterGraph::MakeFilter(const char* factory, const char* name) {
    if (!SelectFactory(factory))
        return nullptr;
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (!element)
        return nullptr;
    const CLSID& clsid =
        std::strcmp(factory, "videoconvert") == 0 ? CLSID_Colour : CLSID_VaGstElement;
    return AdoptFilter(
        CComPtr<IBaseFilter>(static_cast<IBaseFilter*>(new CElementFilter(element, clsid))), name);
}

void CFilterGraph::WatchDynamicPads(GstElement* element) {
    g_signal_handlers_disconnect_by_data(element, this);
    g_signal_connect(element, "pad-added", G_CALLBACK(OnPadAdded), this);
    if (g_signal_lookup("autoplug-select", G_OBJECT_TYPE(element)))
        g_signal_connect(element, "autoplug-select", G_CALLBACK(OnAutoplugSelect), this);
}

int CFilterGraph::OnAutoplugSelect(GstElement*, GstPad*, GstCaps*, GstElementFactory* factory,
                                   gpointer data) {
    constexpr int kTry = 0, kSkip = 2;
    try {
        auto* self = static_cast<CFilterGraph*>(data);
        // Reads from here on belong to the demultiplexer, not to type finding.
        self->m_sourceReachedEnd = false;
        return self->SelectFactory(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)))
                   ? kTry
                   : kSkip;
    } catch (...) {
        return kTry;
    }
}

void CFilterGraph::OnPadAdded(GstElement* element, GstPad* pad, gpointer data) {
    try {
        auto* self = static_cast<CFilterGraph*>(data);
        if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC || gst_pad_is_linked(pad) || self->m_abort)
            return;
        GstPad* target = nullptr;
        {
            std::lock_guard guard(self->m_filtersLock);
            auto it = self->m_pendingTargets.find(element);
            if (it != self->m_pendingTargets.end() && !gst_pad_is_linked(it->second))
                target = GST_PAD(gst_object_ref(it->second));
        }
        if (target) {
            CPadPin* out = PinOf(pad);
            CPadPin* in = PinOf(target);
            HRESULT hr = out && in ? self->ConnectPins(out, in, nullptr, true) : E_FAIL;
            gst_object_unref(target);
            if (SUCCEEDED(hr))
                return;
        }
        self->RenderPad(pad);
    } catch (...) {
    }
}

HRESULT CFilterGraph::LinkThrough(GstPad* pad, const std::vector<GstElement*>& chain) {
    for (size_t k = 0; k + 1 < chain.size(); ++k)
        if (!gst_element_link(chain[k], chain[k + 1]))
            return VFW_E_CANNOT_CONNECT;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        gst_element_sync_state_with_parent(*it);
    GstPad* sink = gst_element_get_static_pad(chain.front(), "sink");
    if (!sink)
        return VFW_E_CANNOT_CONNECT;
    GstPadLinkReturn r = gst_pad_link(pad, sink);
    gst_object_unref(sink);
    return r == GST_PAD_LINK_OK ? S_OK : VFW_E_CANNOT_CONNECT;
}

// A raw stream gets a converter and one of our renderers; when either cannot
// be made, the build remembers which kind of stream went unrendered.
HRESULT CFilterGraph::RenderRawPad(GstPad* pad, const char* converterFactory,
                                   const char* converterName, const char* sinkKind,
                                   IBaseFilter* rendererObject, const char* rendererName,
                                   bool CBuildState::*missing) {
    CComPtr<IBaseFilter> own(rendererObject);
    auto notRendered = [&] {
        std::lock_guard guard(m_build.lock);
        m_build.*missing = true;
        return VFW_E_CANNOT_RENDER;
    };
    CComPtr<IBaseFilter> conv = MakeFilter(converterFactory, converterName);
    if (!conv || !SelectFactory(sinkKind))
        return notRendered();
    CComPtr<IBaseFilter> renderer = AdoptFilter(own, rendererName);
    if (!renderer)
        return notRendered();
    HRESULT hr = LinkThrough(pad, {CoreOf(conv)->Element(), CoreOf(renderer)->Element()});
    if (SUCCEEDED(hr)) {
        std::lock_guard guard(m_build.lock);
        ++m_build.renderersMade;
    }
    return hr;
}

HRESULT CFilterGraph::RenderPad(GstPad* pad) {
    std::string kind = CapsName(pad);
    if (kind == "video/x-raw")
        return RenderRawPad(pad, "videoconvert", "Color Space Converter", "videosink",
                            new CVideoRendererFilter(), "Video Renderer",
                            &CBuildState::missingVideo);
    if (kind == "audio/x-raw")
        return RenderRawPad(pad, "audioconvert", "Audio Converter", "audiosink",
                            new CAudioRendererFilter(), "Audio Renderer",
                            &CBuildState::missingAudio);
    if (kind.rfind("text/", 0) == 0 || kind.rfind("subpicture/", 0) == 0 ||
        kind.rfind("application/x-subtitle", 0) == 0)
        return S_FALSE;  // subtitles stay unconnected
    // Anything else is decoded first; the decoder's outputs are rendered when they appear.
    CComPtr<IBaseFilter> decoder = MakeFilter("decodebin", "Decoder");
    if (!decoder)
        return VFW_E_CANNOT_RENDER;
    GstElement* d = CoreOf(decoder)->Element();
    WatchDynamicPads(d);
    return LinkThrough(pad, {d});
}

HRESULT CFilterGraph::Render(IPin* ppinOut) {
    if (!ppinOut)
        return E_POINTER;
    CPadPin* pin = GraphPin(ppinOut);
    if (!pin || pin->Core()->Graph() != this)
        return VFW_E_NOT_IN_GRAPH;
    if (pin->Direction() != PINDIR_OUTPUT)
        return VFW_E_INVALID_DIRECTION;
    if (gst_pad_is_linked(pin->Pad()))
        return VFW_E_ALREADY_CONNECTED;
    if (LogicalState() == State_Running)
        return VFW_E_NOT_STOPPED;
    MarkEdited();
    return RenderPad(pin->Pad());
}

HRESULT CFilterGraph::CheckSourceFile(const std::string& file, GstElement** source) {
    *source = nullptr;
    m_sourceSize = 0;
    std::string path = file;
    if (file.find("://") != std::string::npos) {
        if (g_str_has_prefix(file.c_str(), "file://")) {
            gchar* local = g_filename_from_uri(file.c_str(), nullptr, nullptr);
            if (!local)
                return VFW_E_NOT_FOUND;
            path = local;
            g_free(local);
        } else {
            if (!gst_uri_is_valid(file.c_str()))
                return INET_E_INVALID_URL;
            GError* error = nullptr;
            GstElement* src = gst_element_make_from_uri(GST_URI_SRC, file.c_str(), nullptr, &error);
            if (error)
                g_error_free(error);
            if (!src)
                return NS_E_PROTOCOL_NOT_SUPPORTED;
            *source = src;
            return S_OK;
        }
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ? VFW_E_NOT_FOUND
                                                                            : E_ACCESSDENIED;
    if (S_ISDIR(st.st_mode))
        return E_ACCESSDENIED;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? VFW_E_NOT_FOUND : E_ACCESSDENIED;
    char probe;
    ssize_t got = ::read(fd, &probe, 1);
    ::close(fd);
    if (got < 0)
        return E_ACCESSDENIED;
    if (st.st_size == 0 || got == 0)
        return VFW_E_FILE_TOO_SHORT;
    GstElement* src = gst_element_factory_make("filesrc", nullptr);
    if (!src)
        return VFW_E_CANNOT_LOAD_SOURCE_FILTER;
    g_object_set(src, "location", path.c_str(), nullptr);
    m_sourceSize = uint64_t(st.st_size);
    *source = src;
    return S_OK;
}

HRESULT CFilterGraph::BeginBuild() {
    if (LogicalState() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    m_abort = false;
    m_sourceReachedEnd = false;
    m_sourceReadToEnd = false;
    std::lock_guard guard(m_build.lock);
    if (m_build.active)
        return VFW_E_WRONG_STATE;
    m_build.active = true;
    m_build.done = false;
    if (m_build.error)
        g_error_free(m_build.error);
    m_build.error = nullptr;
    m_build.missingAudio = m_build.missingVideo = false;
    m_build.renderersMade = 0;
    m_asyncDone.Reset();
    return S_OK;
}

void CFilterGraph::RemoveFiltersNotIn(const std::vector<CComPtr<IBaseFilter>>& keep) {
    for (auto& f : Filters()) {
        bool kept = std::any_of(keep.begin(), keep.end(),
                                [&](const CComPtr<IBaseFilter>& k) { return k.Get() == f.Get(); });
        if (!kept)
            RemoveFilter(f);
    }
}

HRESULT CFilterGraph::FinishBuild(const std::vector<CComPtr<IBaseFilter>>& before) {
    GstStateChangeReturn ret = gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPrerollTimeoutMs);
    bool timedOut = false, stalled = false;
    m_lastSourceRead = NowMs();
    if (ret == GST_STATE_CHANGE_ASYNC) {
        for (;;) {
            {
                std::lock_guard guard(m_build.lock);
                if (m_build.done)
                    break;
            }
            if (m_abort)
                break;
            if (std::chrono::steady_clock::now() >= deadline) {
                timedOut = true;
                break;
            }
            // The whole file was read and nothing came of it: the stream
            // ended before it could show anything (a demultiplexer may fail
            // so while the decoder that tried it keeps the error to itself).
            if (m_sourceReadToEnd && NowMs() - m_lastSourceRead > kSourceIdleMs) {
                stalled = true;
                break;
            }
            m_asyncDone.Wait(50);
        }
    }
    GError* error = nullptr;
    bool missingAudio, missingVideo;
    int renderers;
    {
        std::lock_guard guard(m_build.lock);
        m_build.active = false;
        error = m_build.error;
        m_build.error = nullptr;
        missingAudio = m_build.missingAudio;
        missingVideo = m_build.missingVideo;
        renderers = m_build.renderersMade;
    }
    HRESULT hr = S_OK;
    if (error) {
        hr = vagst::HResultFromError(error, m_sourceReachedEnd);
        if (hr == VFW_E_NO_DECOMPRESSOR && missingAudio && !missingVideo)
            hr = VFW_E_UNSUPPORTED_AUDIO;
        g_error_free(error);
    } else if (ret == GST_STATE_CHANGE_FAILURE) {
        hr = VFW_E_CANNOT_RENDER;
    } else if (m_abort) {
        hr = E_ABORT;
    } else if (stalled) {
        hr = VFW_E_FILE_TOO_SHORT;
    } else if (timedOut) {
        hr = VFW_E_TIMEOUT;
    } else if (renderers == 0) {
        hr = missingVideo   ? VFW_E_NO_DECOMPRESSOR
             : missingAudio ? VFW_E_UNSUPPORTED_AUDIO
                            : VFW_E_CANNOT_RENDER;
    }
    if (FAILED(hr)) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        RemoveFiltersNotIn(before);
        if (!before.empty())
            gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
        m_sourceReachedEnd = false;
        return hr;
    }
    {
        std::lock_guard guard(m_posLock);
        m_needRestart = false;
        m_seekPending = false;
        m_seekTarget = 0;
        m_lastPosition = 0;
        m_atEnd = false;
        m_duration = -1;
    }
    m_state = State_Stopped;
    m_sourceReachedEnd = false;
    if (missingVideo)
        return VFW_S_VIDEO_NOT_RENDERED;
    if (missingAudio)
        return VFW_S_AUDIO_NOT_RENDERED;
    return S_OK;
}

HRESULT CFilterGraph::RenderFile(const char* file, const char*) {
    if (!file)
        return E_POINTER;
    if (!*file)
        return VFW_E_NOT_FOUND;
    HRESULT hr = BeginBuild();
    if (FAILED(hr))
        return hr;
    auto before = Filters();
    GstElement* src = nullptr;
    hr = CheckSourceFile(file, &src);
    if (SUCCEEDED(hr) && !SelectFactory(vagst::FactoryName(src).c_str())) {
        gst_object_unref(gst_object_ref_sink(src));
        src = nullptr;
        hr = VFW_E_CANNOT_LOAD_SOURCE_FILTER;
    }
    if (FAILED(hr)) {
        std::lock_guard guard(m_build.lock);
        m_build.active = false;
        return hr;
    }
    CComPtr<IBaseFilter> source = AdoptFilter(
        CComPtr<IBaseFilter>(static_cast<IBaseFilter*>(new CElementFilter(src, CLSID_AsyncReader))),
        file);
    if (!source) {
        std::lock_guard guard(m_build.lock);
        m_build.active = false;
        return VFW_E_CANNOT_LOAD_SOURCE_FILTER;
    }
    GstPad* pad = gst_element_get_static_pad(src, "src");
    if (pad) {
        gst_pad_add_probe(pad, GstPadProbeType(GST_PAD_PROBE_TYPE_PULL | GST_PAD_PROBE_TYPE_BUFFER),
                          SourceReadProbe, this, nullptr);
        hr = RenderPad(pad);
        gst_object_unref(pad);
    } else if (HasSometimesSrcPads(src)) {
        WatchDynamicPads(src);
        hr = S_OK;
    } else {
        hr = VFW_E_CANNOT_RENDER;
    }
    if (FAILED(hr)) {
        {
            std::lock_guard guard(m_build.lock);
            m_build.active = false;
        }
        gst_element_set_state(m_pipeline, before.empty() ? GST_STATE_NULL : GST_STATE_PAUSED);
        RemoveFiltersNotIn(before);
        return hr;
    }
    return FinishBuild(before);
}

HRESULT CFilterGraph::RenderFile(const char* fileName) {
    return RenderFile(fileName, nullptr);
}

HRESULT CFilterGraph::AddSourceFilter(const char* fileName, const char* filterName,
                                      IBaseFilter** ppFilter) {
    if (!fileName || !ppFilter)
        return E_POINTER;
    *ppFilter = nullptr;
    GstElement* src = nullptr;
    HRESULT hr = CheckSourceFile(fileName, &src);
    if (FAILED(hr))
        return hr;
    if (!SelectFactory(vagst::FactoryName(src).c_str())) {
        gst_object_unref(gst_object_ref_sink(src));
        return VFW_E_CANNOT_LOAD_SOURCE_FILTER;
    }
    CComPtr<IBaseFilter> source = AdoptFilter(
        CComPtr<IBaseFilter>(static_cast<IBaseFilter*>(new CElementFilter(src, CLSID_AsyncReader))),
        filterName && *filterName ? filterName : fileName);
    if (!source)
        return VFW_E_CANNOT_LOAD_SOURCE_FILTER;
    if (HasSometimesSrcPads(src))
        WatchDynamicPads(src);
    *ppFilter = source.Get();
    source->AddRef();
    return S_OK;
}

HRESULT CFilterGraph::Abort() {
    m_abort = true;
    m_asyncDone.Set();
    return S_OK;
}

HRESULT CFilterGraph::ShouldOperationContinue() {
    return m_abort ? S_FALSE : S_OK;
}

// --- graph files ---

HRESULT CFilterGraph::IsDirty() {
    return S_FALSE;
}
HRESULT CFilterGraph::Save(IStream*, BOOL) {
    return E_NOTIMPL;
}
HRESULT CFilterGraph::GetSizeMax(uint64_t*) {
    return E_NOTIMPL;
}

HRESULT CFilterGraph::Load(IStream* pStm) {
    if (!pStm)
        return E_POINTER;
    std::string text;
    char buffer[4096];
    for (;;) {
        ULONG got = 0;
        HRESULT hr = pStm->Read(buffer, sizeof(buffer), &got);
        if (FAILED(hr))
            return hr;
        text.append(buffer, got);
        if (text.size() > kMaxGraphFileSize)
            return VFW_E_INVALID_FILE_FORMAT;
        if (got < sizeof(buffer))
            break;
    }
    static const unsigned char kCompoundFile[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (text.size() >= 8 && std::memcmp(text.data(), kCompoundFile, 8) == 0)
        return VFW_E_INVALID_FILE_FORMAT;  // a Windows structured-storage graph
    if (text.find('\0') != std::string::npos || !g_utf8_validate(text.c_str(), -1, nullptr))
        return VFW_E_INVALID_FILE_FORMAT;
    // Lines starting with '#' are comments.
    std::string description;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line[first] != '#')
            description += line + " ";
        pos = end + 1;
    }
    if (description.find_first_not_of(" \t\r\n") == std::string::npos)
        return VFW_E_INVALID_FILE_FORMAT;

    HRESULT hr = BeginBuild();
    if (FAILED(hr))
        return hr;
    auto endBuild = [this] {
        std::lock_guard guard(m_build.lock);
        m_build.active = false;
    };
    GError* error = nullptr;
    GstElement* parsed = gst_parse_launch_full(
        description.c_str(), nullptr,
        GstParseFlags(GST_PARSE_FLAG_FATAL_ERRORS | GST_PARSE_FLAG_NO_SINGLE_ELEMENT_BINS |
                      GST_PARSE_FLAG_PLACE_IN_BIN),
        &error);
    if (error)
        g_error_free(error);
    if (!parsed) {
        endBuild();
        return VFW_E_INVALID_FILE_FORMAT;
    }
    gst_object_ref_sink(parsed);
    // Every element, nested ones included, must be of an allowed kind.
    bool allowed = GST_IS_BIN(parsed);
    if (allowed) {
        GstIterator* it = gst_bin_iterate_recurse(GST_BIN(parsed));
        GValue item = G_VALUE_INIT;
        bool done = false;
        while (!done && allowed) {
            switch (gst_iterator_next(it, &item)) {
                case GST_ITERATOR_OK:
                    if (!AllowedInGraphFile(GST_ELEMENT(g_value_get_object(&item))))
                        allowed = false;
                    g_value_reset(&item);
                    break;
                case GST_ITERATOR_RESYNC:
                    gst_iterator_resync(it);
                    break;
                default:
                    done = true;
                    break;
            }
        }
        g_value_unset(&item);
        gst_iterator_free(it);
    }
    if (!allowed) {
        gst_object_unref(parsed);
        endBuild();
        return E_ACCESSDENIED;
    }
    // Move the elements into the graph, keeping their links.
    struct CLink {
        GstElement* src;
        std::string srcPad;
        GstElement* sink;
        std::string sinkPad;
    };
    std::vector<GstElement*> elements;
    std::vector<CLink> links;
    GST_OBJECT_LOCK(parsed);
    for (GList* l = GST_BIN_CHILDREN(parsed); l; l = l->next)
        elements.push_back(GST_ELEMENT(gst_object_ref(l->data)));
    GST_OBJECT_UNLOCK(parsed);
    std::reverse(elements.begin(), elements.end());  // the order they were written in
    for (GstElement* e : elements) {
        auto pads = PadsOf(e, GST_PAD_SRC);
        for (GstPad* p : pads) {
            GstPad* peer = gst_pad_get_peer(p);
            if (!peer)
                continue;
            GstElement* sink = gst_pad_get_parent_element(peer);
            if (sink) {
                links.push_back({e, GST_OBJECT_NAME(p), sink, GST_OBJECT_NAME(peer)});
                gst_object_unref(sink);
            }
            gst_object_unref(peer);
        }
        UnrefPads(pads);
    }
    auto before = Filters();
    for (GstElement* e : elements)
        gst_bin_remove(GST_BIN(parsed), e);
    gst_object_unref(parsed);
    bool ok = true;
    for (GstElement* e : elements) {
        CLSID clsid = std::string(vagst::FactoryKlass(e)).find("Source") != std::string::npos
                          ? CLSID_AsyncReader
                          : CLSID_VaGstElement;
        CComPtr<IBaseFilter> filter = AdoptFilter(
            CComPtr<IBaseFilter>(static_cast<IBaseFilter*>(new CElementFilter(e, clsid))),
            GST_OBJECT_NAME(e));
        gst_object_unref(e);
        if (!filter)
            ok = false;
    }
    for (auto& link : links)
        if (!gst_element_link_pads(link.src, link.srcPad.c_str(), link.sink, link.sinkPad.c_str()))
            ok = false;
    if (!ok) {
        endBuild();
        RemoveFiltersNotIn(before);
        return VFW_E_CANNOT_CONNECT;
    }
    // Render what is left open: free outputs now, dynamic ones when they appear.
    for (auto& f : Filters()) {
        bool isNew = std::none_of(before.begin(), before.end(), [&](const CComPtr<IBaseFilter>& b) {
            return b.Get() == f.Get();
        });
        if (!isNew)
            continue;
        GstElement* e = CoreOf(f)->Element();
        if (HasSometimesSrcPads(e))
            WatchDynamicPads(e);
        auto pads = PadsOf(e, GST_PAD_SRC);
        for (GstPad* p : pads)
            if (!gst_pad_is_linked(p))
                RenderPad(p);
        UnrefPads(pads);
    }
    return FinishBuild(before);
}

// --- state ---

bool CFilterGraph::PipelineActive() const {
    GST_OBJECT_LOCK(m_pipeline);
    bool active = GST_STATE_TARGET(m_pipeline) >= GST_STATE_PAUSED;
    GST_OBJECT_UNLOCK(m_pipeline);
    return active;
}

void CFilterGraph::MarkEdited() {
    if (!PipelineActive())
        return;
    {
        std::lock_guard guard(m_posLock);
        if (m_needRestart)
            return;  // already being edited: the flow is stopped
    }
    // Let a preroll in progress finish first: then every streaming thread
    // waits in a renderer, and the flush of a disconnected pin stops it
    // there instead of it running into a pad that is no longer linked.
    gst_element_get_state(m_pipeline, nullptr, nullptr, kEditWaitMs * GST_MSECOND);
    REFERENCE_TIME pos = PositionNow();
    std::lock_guard guard(m_posLock);
    if (!m_needRestart) {
        m_needRestart = true;
        m_restartPos = pos;
    }
}

void CFilterGraph::PrepareForFlow() {
    REFERENCE_TIME pos;
    {
        std::lock_guard guard(m_posLock);
        if (!m_needRestart)
            return;
        m_needRestart = false;
        pos = m_restartPos;
    }
    for (auto& f : Filters())
        if (CFilterCore* core = CoreOf(f))
            gst_element_sync_state_with_parent(core->Element());
    if (PipelineActive()) {
        REFERENCE_TIME stop;
        double rate;
        {
            std::lock_guard guard(m_posLock);
            stop = m_stop;
            rate = m_rate;
        }
        Seek(pos, stop, rate);
    }
}

HRESULT CFilterGraph::StateChangeResult(GstStateChangeReturn ret) {
    if (ret == GST_STATE_CHANGE_FAILURE)
        return E_FAIL;
    return ret == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
}

HRESULT CFilterGraph::Run() {
    PrepareForFlow();
    m_pausePending = false;
    m_state = State_Running;
    if (!HasFilters())
        return S_OK;
    return StateChangeResult(gst_element_set_state(m_pipeline, GST_STATE_PLAYING));
}

HRESULT CFilterGraph::Run(REFERENCE_TIME) {
    return Run();
}

HRESULT CFilterGraph::Pause() {
    PrepareForFlow();
    m_state = State_Paused;
    if (!HasFilters()) {
        NotifyEvent(EC_PAUSED, S_OK, 0);
        return S_OK;
    }
    m_pausePending = true;
    GstStateChangeReturn ret = gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    if (ret == GST_STATE_CHANGE_FAILURE) {
        m_pausePending = false;
        return E_FAIL;
    }
    if (ret != GST_STATE_CHANGE_ASYNC) {
        if (m_pausePending.exchange(false))
            NotifyEvent(EC_PAUSED, S_OK, 0);
        return S_OK;
    }
    return S_FALSE;
}

HRESULT CFilterGraph::Stop() {
    m_pausePending = false;
    m_state = State_Stopped;
    if (!HasFilters() || !PipelineActive())
        return S_OK;
    REFERENCE_TIME pos = PositionNow();
    gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    bool restart;
    REFERENCE_TIME stop;
    double rate;
    {
        std::lock_guard guard(m_posLock);
        restart = m_needRestart;
        stop = m_stop;
        rate = m_rate;
    }
    // A flushing seek to where we are clears an end of stream and keeps the
    // position; the next Pause shows the frame there.
    if (!restart)
        Seek(pos, stop, rate);
    return S_OK;
}

HRESULT CFilterGraph::StopWhenReady() {
    HRESULT hr = Pause();
    if (FAILED(hr))
        return hr;
    if (HasFilters())
        gst_element_get_state(m_pipeline, nullptr, nullptr, kLongestStateWaitMs * GST_MSECOND);
    m_pausePending = false;
    m_state = State_Stopped;
    return S_OK;
}

HRESULT CFilterGraph::GetState(LONG msTimeout, OAFilterState* pfs) {
    if (!pfs)
        return E_POINTER;
    *pfs = m_state.load();
    if (!HasFilters())
        return S_OK;
    GstClockTime timeout = msTimeout == 0 ? 0
                           : (msTimeout < 0 || DWORD(msTimeout) > kLongestStateWaitMs)
                               ? kLongestStateWaitMs * GST_MSECOND
                               : GstClockTime(msTimeout) * GST_MSECOND;
    GstStateChangeReturn ret = gst_element_get_state(m_pipeline, nullptr, nullptr, timeout);
    // A failed change is reported through EC_ERRORABORT; the state stays readable.
    return ret == GST_STATE_CHANGE_ASYNC ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

HRESULT CFilterGraph::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    OAFilterState s;
    HRESULT hr = GetState(LONG(dwMilliSecsTimeout), &s);
    *state = FILTER_STATE(s);
    return hr;
}

HRESULT CFilterGraph::GetClassID(CLSID* pClassID) {
    if (!pClassID)
        return E_POINTER;
    *pClassID = CLSID_FilterGraph;
    return S_OK;
}

HRESULT CFilterGraph::StepFrames(GstElement* sink, DWORD frames) {
    if (!HasFilters())
        return VFW_E_WRONG_STATE;
    PrepareForFlow();
    if (LogicalState() == State_Running || !PipelineActive()) {
        gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
        gst_element_get_state(m_pipeline, nullptr, nullptr, kLongestStateWaitMs * GST_MSECOND);
    }
    m_state = State_Paused;
    {
        std::lock_guard guard(m_posLock);
        m_seekPending = false;
        m_atEnd = false;
    }
    m_stepStartFrames = m_framesShown.load();
    m_stepCompletePending = false;
    if (!gst_element_send_event(sink,
                                gst_event_new_step(GST_FORMAT_BUFFERS, frames, 1.0, TRUE, FALSE)))
        return E_FAIL;
    return S_OK;
}

HRESULT CFilterGraph::CancelStepFrames(GstElement*) {
    return S_OK;
}

// --- positions ---

REFERENCE_TIME CFilterGraph::DurationNow() {
    {
        std::lock_guard guard(m_posLock);
        if (m_duration >= 0)
            return m_duration;
    }
    gint64 d = 0;
    if (!gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &d) || d < 0)
        return -1;
    std::lock_guard guard(m_posLock);
    m_duration = REFERENCE_TIME(d / 100);
    return m_duration;
}

REFERENCE_TIME CFilterGraph::PositionNow() {
    REFERENCE_TIME duration = DurationNow();
    {
        std::lock_guard guard(m_posLock);
        if (m_atEnd)
            return m_stop >= 0 ? m_stop : std::max<REFERENCE_TIME>(duration, 0);
        if (m_needRestart)
            return m_restartPos;
        if (m_seekPending)
            return m_seekTarget;
    }
    gint64 p = 0;
    REFERENCE_TIME pos;
    if (gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &p) && p >= 0) {
        pos = REFERENCE_TIME(p / 100);
        if (duration >= 0 && pos > duration)
            pos = duration;
        std::lock_guard guard(m_posLock);
        m_lastPosition = pos;
    } else {
        std::lock_guard guard(m_posLock);
        pos = m_lastPosition;
    }
    return pos;
}

bool CFilterGraph::Seek(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (start < 0)
        start = 0;
    {
        std::lock_guard guard(m_posLock);
        if (m_needRestart || !PipelineActive()) {
            // Applied when the flow restarts.
            m_restartPos = start;
            m_needRestart = m_needRestart || PipelineActive();
            m_lastPosition = start;
            m_atEnd = false;
            return true;
        }
        m_seekPending = true;
        m_seekTarget = start;
        m_lastPosition = start;
        m_atEnd = false;
    }
    m_asyncDone.Reset();
    gboolean ok = gst_element_seek(m_pipeline, rate, GST_FORMAT_TIME,
                                   GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                   GST_SEEK_TYPE_SET, vagst::ToGstTime(start), GST_SEEK_TYPE_SET,
                                   stop >= 0 ? vagst::ToGstTime(stop) : GST_CLOCK_TIME_NONE);
    if (!ok) {
        std::lock_guard guard(m_posLock);
        m_seekPending = false;
    }
    return ok;
}

HRESULT CFilterGraph::GetCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities)
        return E_POINTER;
    *pCapabilities = HasFilters() ? AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                        AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                                        AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration
                                  : 0;
    return S_OK;
}

HRESULT CFilterGraph::CheckCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities)
        return E_POINTER;
    DWORD have = 0;
    GetCapabilities(&have);
    DWORD asked = *pCapabilities;
    *pCapabilities = asked & have;
    if (*pCapabilities == asked)
        return S_OK;
    return *pCapabilities ? S_FALSE : E_FAIL;
}

HRESULT CFilterGraph::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat)
        return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CFilterGraph::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat)
        return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CFilterGraph::GetTimeFormat(GUID* pFormat) {
    return QueryPreferredFormat(pFormat);
}

HRESULT CFilterGraph::IsUsingTimeFormat(const GUID* pFormat) {
    return IsFormatSupported(pFormat);
}

HRESULT CFilterGraph::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat)
        return E_POINTER;
    if (LogicalState() == State_Running)
        return VFW_E_WRONG_STATE;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT CFilterGraph::GetDuration(LONGLONG* pDuration) {
    if (!pDuration)
        return E_POINTER;
    if (!HasFilters())
        return E_NOTIMPL;
    REFERENCE_TIME d = DurationNow();
    if (d < 0)
        return E_FAIL;
    *pDuration = d;
    return S_OK;
}

HRESULT CFilterGraph::GetStopPosition(LONGLONG* pStop) {
    if (!pStop)
        return E_POINTER;
    if (!HasFilters())
        return E_NOTIMPL;
    {
        std::lock_guard guard(m_posLock);
        if (m_stop >= 0) {
            *pStop = m_stop;
            return S_OK;
        }
    }
    return GetDuration(pStop);
}

HRESULT CFilterGraph::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent)
        return E_POINTER;
    if (!HasFilters())
        return E_NOTIMPL;
    *pCurrent = PositionNow();
    return S_OK;
}

HRESULT CFilterGraph::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                        LONGLONG Source, const GUID* pSourceFormat) {
    if (!pTarget)
        return E_POINTER;
    auto media = [](const GUID* f) { return !f || *f == TIME_FORMAT_MEDIA_TIME; };
    if (!media(pTargetFormat) || !media(pSourceFormat))
        return E_INVALIDARG;
    *pTarget = Source;
    return S_OK;
}

HRESULT CFilterGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                   DWORD dwStopFlags) {
    DWORD curMode = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    DWORD stopMode = dwStopFlags & AM_SEEKING_PositioningBitsMask;
    if ((curMode && !pCurrent) || (stopMode && !pStop))
        return E_POINTER;
    if (!HasFilters())
        return E_NOTIMPL;
    REFERENCE_TIME now = PositionNow();
    REFERENCE_TIME duration = DurationNow();
    REFERENCE_TIME oldStop, cur = now, stop;
    double rate;
    {
        std::lock_guard guard(m_posLock);
        oldStop = m_stop;
        rate = m_rate;
    }
    stop = oldStop;
    if (curMode == AM_SEEKING_AbsolutePositioning)
        cur = *pCurrent;
    else if (curMode != AM_SEEKING_NoPositioning)
        cur = now + *pCurrent;
    REFERENCE_TIME effectiveStop = oldStop >= 0 ? oldStop : duration;
    if (stopMode == AM_SEEKING_AbsolutePositioning)
        stop = *pStop;
    else if (stopMode == AM_SEEKING_RelativePositioning)
        stop = effectiveStop + *pStop;
    else if (stopMode == AM_SEEKING_IncrementalPositioning)
        stop = cur + *pStop;
    if (cur < 0)
        cur = 0;
    if (duration >= 0 && cur > duration)
        cur = duration;
    if (stop >= 0 && duration >= 0 && stop > duration)
        stop = duration;
    if (curMode == AM_SEEKING_NoPositioning && stopMode == AM_SEEKING_NoPositioning)
        return S_OK;
    if (stop >= 0 && stop < cur)
        return E_INVALIDARG;
    if (!Seek(cur, stop, rate))
        return E_FAIL;
    {
        std::lock_guard guard(m_posLock);
        m_stop = stop;
    }
    if ((dwCurrentFlags & AM_SEEKING_ReturnTime) && pCurrent)
        *pCurrent = cur;
    if ((dwStopFlags & AM_SEEKING_ReturnTime) && pStop)
        *pStop = stop >= 0 ? stop : duration;
    return S_OK;
}

HRESULT CFilterGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    if (pCurrent) {
        HRESULT hr = GetCurrentPosition(pCurrent);
        if (FAILED(hr))
            return hr;
    }
    if (pStop)
        return GetStopPosition(pStop);
    return S_OK;
}

HRESULT CFilterGraph::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    if (pEarliest)
        *pEarliest = 0;
    if (pLatest)
        return GetDuration(pLatest);
    return S_OK;
}

HRESULT CFilterGraph::SetRate(double dRate) {
    if (dRate == 0.0 || !std::isfinite(dRate))
        return E_INVALIDARG;
    if (dRate < 0)
        return E_NOTIMPL;  // no reverse playback
    const char* fixed = std::getenv("VELOTRAX_GRAPH_RATES");
    if (fixed && std::strcmp(fixed, "fixed") == 0 && dRate != 1.0)
        return E_NOTIMPL;
    {
        std::lock_guard guard(m_posLock);
        if (dRate == m_rate)
            return S_OK;
    }
    if (HasFilters() && PipelineActive()) {
        REFERENCE_TIME stop;
        {
            std::lock_guard guard(m_posLock);
            stop = m_stop;
        }
        if (!Seek(PositionNow(), stop, dRate))
            return E_NOTIMPL;
    }
    std::lock_guard guard(m_posLock);
    m_rate = dRate;
    return S_OK;
}

HRESULT CFilterGraph::GetRate(double* pdRate) {
    if (!pdRate)
        return E_POINTER;
    std::lock_guard guard(m_posLock);
    *pdRate = m_rate;
    return S_OK;
}

HRESULT CFilterGraph::GetPreroll(LONGLONG* pllPreroll) {
    if (!pllPreroll)
        return E_POINTER;
    *pllPreroll = 0;
    return S_OK;
}

// --- events ---

GstBusSyncReply CFilterGraph::BusSyncHandler(GstBus*, GstMessage* message, gpointer data) {
    try {
        static_cast<CFilterGraph*>(data)->OnBusMessage(message);
    } catch (...) {
    }
    // A sync handler that drops a message owns it. Each message holds its
    // source element, so one kept by mistake keeps the whole pipeline alive.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void CFilterGraph::OnBusMessage(GstMessage* message) {
    bool fromPipeline = GST_MESSAGE_SRC(message) == GST_OBJECT(m_pipeline);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            g_free(debug);
            bool building;
            {
                std::lock_guard guard(m_build.lock);
                building = m_build.active;
                if (building) {
                    if (!m_build.error)
                        m_build.error = g_error_copy(error);
                    m_build.done = true;
                }
            }
            m_asyncDone.Set();
            if (!building)
                NotifyEvent(EC_ERRORABORT, vagst::HResultFromError(error, m_sourceReachedEnd), 0);
            g_error_free(error);
            break;
        }
        case GST_MESSAGE_EOS:
            if (fromPipeline) {
                {
                    std::lock_guard guard(m_posLock);
                    m_atEnd = true;
                }
                if (m_stepCompletePending.exchange(false))
                    NotifyEvent(EC_STEP_COMPLETE, 0, 0);
                NotifyEvent(EC_COMPLETE, S_OK, 0);
            }
            break;
        case GST_MESSAGE_ASYNC_DONE:
            if (fromPipeline) {
                {
                    std::lock_guard guard(m_posLock);
                    m_seekPending = false;
                }
                {
                    std::lock_guard guard(m_build.lock);
                    if (m_build.active)
                        m_build.done = true;
                }
                m_asyncDone.Set();
                if (m_pausePending.exchange(false))
                    NotifyEvent(EC_PAUSED, S_OK, 0);
            }
            break;
        case GST_MESSAGE_STEP_DONE:
            // The sink shows the next frame after it reports the step.
            if (m_framesShown.load() > m_stepStartFrames.load())
                NotifyEvent(EC_STEP_COMPLETE, 0, 0);
            else
                m_stepCompletePending = true;
            break;
        case GST_MESSAGE_DURATION_CHANGED: {
            std::lock_guard guard(m_posLock);
            m_duration = -1;
            break;
        }
        case GST_MESSAGE_ELEMENT:
            if (gst_is_missing_plugin_message(message)) {
                gchar* detail = gst_missing_plugin_message_get_installer_detail(message);
                std::string d = detail ? detail : "";
                g_free(detail);
                std::lock_guard guard(m_build.lock);
                if (d.find("decoder-audio") != std::string::npos)
                    m_build.missingAudio = true;
                else
                    m_build.missingVideo = true;
            }
            break;
        default:
            break;
    }
}

void CFilterGraph::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    {
        std::lock_guard guard(m_build.lock);
        // Building is silent: its outcome is RenderFile's result.
        if (m_build.active)
            return;
    }
    QObject* target = nullptr;
    LONG message = 0;
    LONG_PTR data = 0;
    {
        std::lock_guard guard(m_eventLock);
        if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT)
            m_completion = code;
        if (m_events.size() >= kMaxQueuedEvents)
            m_events.pop_front();
        m_events.push_back({code, param1, param2});
        if (!(m_notifyFlags & AM_MEDIAEVENT_NONOTIFY))
            m_eventHandle.Set();
        target = m_notifyTarget.data();
        message = m_notifyMessage;
        data = m_notifyData;
    }
    m_eventCond.notify_all();
    if (target && message)
        QCoreApplication::postEvent(target, new CGraphNotifyEvent(message, 0, data));
}

HRESULT CFilterGraph::GetEventHandle(OAEVENT* hEvent) {
    if (!hEvent)
        return E_POINTER;
    *hEvent = &m_eventHandle;
    return S_OK;
}

HRESULT CFilterGraph::GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                               LONG msTimeout) {
    if (!lEventCode || !lParam1 || !lParam2)
        return E_POINTER;
    std::unique_lock guard(m_eventLock);
    if (m_events.empty()) {
        if (msTimeout == 0)
            return E_ABORT;
        auto ready = [this] { return !m_events.empty(); };
        if (msTimeout < 0)
            m_eventCond.wait(guard, ready);
        else if (!m_eventCond.wait_for(guard, std::chrono::milliseconds(msTimeout), ready))
            return E_ABORT;
    }
    CEventRecord e = m_events.front();
    m_events.pop_front();
    if (m_events.empty())
        m_eventHandle.Reset();
    *lEventCode = e.code;
    *lParam1 = e.param1;
    *lParam2 = e.param2;
    return S_OK;
}

HRESULT CFilterGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
    if (!pEvCode)
        return E_POINTER;
    *pEvCode = 0;
    if (LogicalState() != State_Running)
        return VFW_E_WRONG_STATE;
    std::unique_lock guard(m_eventLock);
    auto done = [this] { return m_completion != 0; };
    if (msTimeout < 0)
        m_eventCond.wait(guard, done);
    else if (!m_eventCond.wait_for(guard, std::chrono::milliseconds(msTimeout), done))
        return E_ABORT;
    *pEvCode = m_completion;
    return S_OK;
}

HRESULT CFilterGraph::CancelDefaultHandling(LONG lEvCode) {
    std::lock_guard guard(m_eventLock);
    m_noDefault.insert(lEvCode);
    return S_OK;
}

HRESULT CFilterGraph::RestoreDefaultHandling(LONG lEvCode) {
    std::lock_guard guard(m_eventLock);
    m_noDefault.erase(lEvCode);
    return S_OK;
}

HRESULT CFilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) {
    return S_OK;
}

HRESULT CFilterGraph::SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) {
    QObject* target = nullptr;
    size_t queued;
    {
        std::lock_guard guard(m_eventLock);
        m_notifyTarget = hwnd;
        m_notifyMessage = lMsg;
        m_notifyData = lInstanceData;
        target = hwnd;
        queued = m_events.size();
    }
    // Events already waiting are announced to the new target.
    if (target && lMsg && queued)
        QCoreApplication::postEvent(target, new CGraphNotifyEvent(lMsg, 0, lInstanceData));
    return S_OK;
}

HRESULT CFilterGraph::SetNotifyFlags(LONG lNoNotifyFlags) {
    if (lNoNotifyFlags & ~AM_MEDIAEVENT_NONOTIFY)
        return E_INVALIDARG;
    std::lock_guard guard(m_eventLock);
    m_notifyFlags = lNoNotifyFlags;
    if (m_notifyFlags & AM_MEDIAEVENT_NONOTIFY)
        m_eventHandle.Reset();
    else if (!m_events.empty())
        m_eventHandle.Set();
    return S_OK;
}

HRESULT CFilterGraph::GetNotifyFlags(LONG* lplNoNotifyFlags) {
    if (!lplNoNotifyFlags)
        return E_POINTER;
    std::lock_guard guard(m_eventLock);
    *lplNoNotifyFlags = m_notifyFlags;
    return S_OK;
}

// --- clocks ---

HRESULT CFilterGraph::SetSyncSource(IReferenceClock* pClock) {
    if (LogicalState() == State_Running)
        return VFW_E_NOT_STOPPED;
    InstallClock(pClock);
    std::lock_guard guard(m_clockLock);
    m_defaultClock = false;
    m_noClock = pClock == nullptr;
    return S_OK;
}

void CFilterGraph::InstallClock(IReferenceClock* clock) {
    GstClock* adapter = clock ? vagst::CreateClockAdapter(clock) : nullptr;
    GstClock* old;
    {
        std::lock_guard guard(m_clockLock);
        old = m_adapter;
        m_adapter = adapter;
        m_syncSource = clock;
    }
    gst_pipeline_use_clock(GST_PIPELINE(m_pipeline), adapter);
    if (old) {
        vagst::DetachClockAdapter(old);
        gst_object_unref(old);
    }
}

HRESULT CFilterGraph::SetDefaultSyncSource() {
    if (LogicalState() == State_Running)
        return VFW_E_NOT_STOPPED;
    GstClock* old;
    {
        std::lock_guard guard(m_clockLock);
        old = m_adapter;
        m_adapter = nullptr;
        m_syncSource = nullptr;
        m_defaultClock = true;
        m_noClock = false;
    }
    gst_pipeline_auto_clock(GST_PIPELINE(m_pipeline));
    if (old) {
        vagst::DetachClockAdapter(old);
        gst_object_unref(old);
    }
    return S_OK;
}

HRESULT CFilterGraph::GetSyncSource(IReferenceClock** pClock) {
    if (!pClock)
        return E_POINTER;
    *pClock = nullptr;
    std::lock_guard guard(m_clockLock);
    if (m_noClock)
        return S_FALSE;
    if (m_defaultClock) {
        // The clock the pipeline chooses itself (an audio device's, or the system's).
        GstClock* clock = gst_pipeline_get_clock(GST_PIPELINE(m_pipeline));
        if (!clock)
            return S_FALSE;
        CGstReferenceClock* current =
            m_syncSource ? dynamic_cast<CGstReferenceClock*>(m_syncSource.Get()) : nullptr;
        if (!current || current->Clock() != clock)
            m_syncSource = static_cast<IReferenceClock*>(new CGstReferenceClock(clock));
        gst_object_unref(clock);
    }
    if (!m_syncSource)
        return S_FALSE;
    *pClock = m_syncSource;
    (*pClock)->AddRef();
    return S_OK;
}

// --- site ---

HRESULT CFilterGraph::SetSite(IUnknown* pUnkSite) {
    CComPtr<IAMGraphBuilderCallback> callback;
    if (pUnkSite)
        pUnkSite->QueryInterface(IAMGraphBuilderCallback::iid, callback.ReleaseAndGetVoidAddress());
    std::lock_guard guard(m_clockLock);
    m_site = pUnkSite;
    m_callback = callback;
    return S_OK;
}

HRESULT CFilterGraph::GetSite(REFIID riid, void** ppvSite) {
    if (!ppvSite)
        return E_POINTER;
    *ppvSite = nullptr;
    CComPtr<IUnknown> site;
    {
        std::lock_guard guard(m_clockLock);
        site = m_site;
    }
    if (!site)
        return E_FAIL;
    return site->QueryInterface(riid, ppvSite);
}
