#include "platform/dshow/FilterGraph.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/dshow/Enumerators.h"
#include "platform/dshow/FilterGraphInternal.h"
#include "platform/dshow/MediaTypeCaps.h"
#include "platform/dshow/Renderers.h"

// Filters in the graph and the connections between their pins.

using namespace vagraph;

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
    bool empty;
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
        empty = m_filters.empty();
    }
    // An empty graph holds nothing: the next build starts from scratch
    // (a pipeline left paused would not start the elements it adds).
    if (empty)
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
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
