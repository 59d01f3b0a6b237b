#include "platform/dshow/FilterGraph.h"

#include <chrono>

#include "platform/dshow/ClockAdapter.h"
#include "platform/dshow/FilterGraphInternal.h"
#include "platform/dshow/Renderers.h"
#include "support/RaceCheck.h"

// The graph's construction, interfaces and site; building, connections,
// state, seeking, stepping, events and clocks live in FilterGraph*.cpp.

namespace vagraph {

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

CPadPin* GraphPin(IPin* pin) {
    if (!pin)
        return nullptr;
    CComPtr<IGstPadAccess> access;
    if (FAILED(pin->QueryInterface(IGstPadAccess::iid, access.ReleaseAndGetVoidAddress())))
        return nullptr;
    return static_cast<CPadPin*>(access.Get());
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

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace vagraph

using namespace vagraph;

// --- construction ---

CFilterGraph::CFilterGraph() {
    vagst::EnsureInit();
    m_pipeline = gst_pipeline_new(nullptr);
    gst_object_ref_sink(m_pipeline);
    m_bus = gst_pipeline_get_bus(GST_PIPELINE(m_pipeline));
    gst_bus_set_sync_handler(m_bus, BusSyncHandler, this, nullptr);
    // The bus hands the graph to the streaming threads that post to it.
    racecheck::Published(this);
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
HRESULT CFilterGraph::GetClassID(CLSID* pClassID) {
    if (!pClassID)
        return E_POINTER;
    *pClassID = CLSID_FilterGraph;
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
