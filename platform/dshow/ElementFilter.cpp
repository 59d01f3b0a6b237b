#include "platform/dshow/ElementFilter.h"

#include "platform/dshow/Enumerators.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/MediaTypeCaps.h"
#include "support/RaceCheck.h"

namespace {
GQuark FilterQuark() {
    static GQuark quark = g_quark_from_static_string("velotrax-filter-core");
    return quark;
}
}  // namespace

// --- CFilterCore ---

CFilterCore::CFilterCore(IBaseFilter* owner, GstElement* element, const CLSID& clsid)
    : m_owner(owner), m_clsid(clsid) {
    gst_object_ref_sink(element);
    m_element = vagst::CGstRef<GstElement>(element);
    g_object_set_qdata(G_OBJECT(element), FilterQuark(), this);
    const char* name = GST_OBJECT_NAME(element);
    m_name = name ? name : "";
}

CFilterCore::~CFilterCore() {
    g_object_set_qdata(G_OBJECT(m_element.get()), FilterQuark(), nullptr);
    m_pins.clear();
}

CFilterGraph* CFilterCore::Graph() const {
    std::lock_guard guard(m_lock);
    return m_graph;
}

CFilterCore* CFilterCore::FromElement(GstElement* element) {
    while (element) {
        auto* core =
            static_cast<CFilterCore*>(g_object_get_qdata(G_OBJECT(element), FilterQuark()));
        if (core)
            return core;
        GstObject* parent = GST_OBJECT_PARENT(element);
        element = parent && GST_IS_ELEMENT(parent) ? GST_ELEMENT(parent) : nullptr;
    }
    return nullptr;
}

CPadPin* CFilterCore::PinOfPad(GstPad* pad) {
    if (!pad)
        return nullptr;
    vagst::CGstRef<GstElement> parent(gst_pad_get_parent_element(pad));
    if (!parent) {
        // A ghost pad's internal proxy: its parent is the ghost pad.
        vagst::CGstRef<GstObject> owner(gst_pad_get_parent(pad));
        if (owner && GST_IS_PAD(owner.get()))
            return PinOfPad(GST_PAD(owner.get()));
        return nullptr;
    }
    CFilterCore* core =
        static_cast<CFilterCore*>(g_object_get_qdata(G_OBJECT(parent.get()), FilterQuark()));
    return core ? core->PinFor(pad) : nullptr;
}

CPadPin* CFilterCore::PinFor(GstPad* pad) {
    std::lock_guard guard(m_lock);
    auto it = m_pins.find(pad);
    if (it != m_pins.end())
        return it->second.get();
    auto pin = std::make_unique<CPadPin>(this, pad);
    CPadPin* raw = pin.get();
    m_pins[pad] = std::move(pin);
    return raw;
}

void CFilterCore::AdoptPin(std::unique_ptr<CPadPin> pin) {
    std::lock_guard guard(m_lock);
    GstPad* pad = pin->Pad();
    m_pins[pad] = std::move(pin);
}

HRESULT CFilterCore::EnumPins(IEnumPins** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    std::vector<CComPtr<IPin>> pins;
    GstIterator* it = gst_element_iterate_pads(m_element.get());
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done) {
        switch (gst_iterator_next(it, &item)) {
            case GST_ITERATOR_OK:
                pins.emplace_back(static_cast<IPin*>(PinFor(GST_PAD(g_value_get_object(&item)))));
                g_value_reset(&item);
                break;
            case GST_ITERATOR_RESYNC:
                pins.clear();
                gst_iterator_resync(it);
                break;
            default:
                done = true;
                break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    // Inputs first, then outputs, each in the element's order.
    std::stable_partition(pins.begin(), pins.end(), [](const CComPtr<IPin>& p) {
        return static_cast<CPadPin*>(p.Get())->Direction() == PINDIR_INPUT;
    });
    auto* e = new CEnumPins(std::move(pins));
    e->AddRef();
    *ppEnum = e;
    return S_OK;
}

HRESULT CFilterCore::FindPin(const char* id, IPin** ppPin) {
    if (!ppPin)
        return E_POINTER;
    *ppPin = nullptr;
    if (!id)
        return E_POINTER;
    GstPad* pad = gst_element_get_static_pad(m_element.get(), id);
    if (!pad)
        return VFW_E_NOT_FOUND;
    CPadPin* pin = PinFor(pad);
    gst_object_unref(pad);
    *ppPin = pin;
    pin->AddRef();
    return S_OK;
}

HRESULT CFilterCore::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (!pInfo)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    pInfo->achName = m_name;
    pInfo->pGraph = m_graphItf;
    if (m_graphItf)
        m_graphItf->AddRef();
    return S_OK;
}

HRESULT CFilterCore::JoinFilterGraph(CFilterGraph* graph, IFilterGraph* graphItf,
                                     const char* name) {
    std::lock_guard guard(m_lock);
    m_graph = graph;
    m_graphItf = graphItf;
    if (name)
        m_name = name;
    // The graph hands the element to its streaming threads.
    racecheck::Published(m_element.get());
    return S_OK;
}

HRESULT CFilterCore::GetClassID(CLSID* pClassID) {
    if (!pClassID)
        return E_POINTER;
    *pClassID = m_clsid;
    return S_OK;
}

HRESULT CFilterCore::GetState(FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    CFilterGraph* graph = Graph();
    if (!graph) {
        *state = State_Stopped;
        return S_OK;
    }
    *state = graph->LogicalState();
    return S_OK;
}

HRESULT CFilterCore::GetSyncSource(IReferenceClock** ppClock) {
    if (!ppClock)
        return E_POINTER;
    *ppClock = nullptr;
    CFilterGraph* graph = Graph();
    if (!graph)
        return S_FALSE;
    return graph->GetSyncSource(ppClock);
}

CComPtr<IBaseFilter> CreateElementFilter(const char* factory, const char* name) {
    vagst::EnsureInit();
    GstElement* element = gst_element_factory_make(factory, name);
    if (!element)
        return nullptr;
    return CComPtr<IBaseFilter>(static_cast<IBaseFilter*>(new CElementFilter(element)));
}

// --- CPadPin ---

CPadPin::CPadPin(CFilterCore* core, GstPad* pad)
    : m_core(core), m_pad(vagst::CGstRef<GstPad>::Borrow(pad)) {}

CPadPin::~CPadPin() = default;

HRESULT CPadPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IUnknown::iid || riid == IPin::iid) {
        *ppv = static_cast<IPin*>(this);
    } else if (riid == IGstPadAccess::iid) {
        *ppv = static_cast<IGstPadAccess*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

PIN_DIRECTION CPadPin::Direction() const {
    return GST_PAD_DIRECTION(m_pad.get()) == GST_PAD_SRC ? PINDIR_OUTPUT : PINDIR_INPUT;
}

namespace {
CPadPin* OurPin(IPin* pin) {
    if (!pin)
        return nullptr;
    CComPtr<IGstPadAccess> access;
    if (FAILED(pin->QueryInterface(IGstPadAccess::iid, access.ReleaseAndGetVoidAddress())))
        return nullptr;
    return static_cast<CPadPin*>(access.Get());
}
}  // namespace

HRESULT CPadPin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (!pReceivePin)
        return E_POINTER;
    CPadPin* in = OurPin(pReceivePin);
    if (!in)
        return VFW_E_NO_TRANSPORT;
    if (Direction() != PINDIR_OUTPUT || in->Direction() != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    CFilterGraph* graph = m_core->Graph();
    if (!graph)
        return VFW_E_NOT_IN_GRAPH;
    return graph->ConnectPins(this, in, pmt, false);
}

HRESULT CPadPin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (!pConnector)
        return E_POINTER;
    CPadPin* out = OurPin(pConnector);
    if (!out)
        return VFW_E_NO_TRANSPORT;
    if (out->Direction() != PINDIR_OUTPUT || Direction() != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    CFilterGraph* graph = m_core->Graph();
    if (!graph)
        return VFW_E_NOT_IN_GRAPH;
    return graph->ConnectPins(out, this, pmt, false);
}

HRESULT CPadPin::Disconnect() {
    CFilterGraph* graph = m_core->Graph();
    if (graph)
        return graph->DisconnectPin(this);
    GstPad* peer = gst_pad_get_peer(m_pad.get());
    if (!peer)
        return S_FALSE;
    if (Direction() == PINDIR_OUTPUT)
        gst_pad_unlink(m_pad.get(), peer);
    else
        gst_pad_unlink(peer, m_pad.get());
    gst_object_unref(peer);
    return S_OK;
}

HRESULT CPadPin::ConnectedTo(IPin** ppPin) {
    if (!ppPin)
        return E_POINTER;
    *ppPin = nullptr;
    GstPad* peer = gst_pad_get_peer(m_pad.get());
    if (!peer)
        return VFW_E_NOT_CONNECTED;
    CPadPin* pin = CFilterCore::PinOfPad(peer);
    gst_object_unref(peer);
    if (!pin)
        return VFW_E_NOT_CONNECTED;
    *ppPin = pin;
    pin->AddRef();
    return S_OK;
}

HRESULT CPadPin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return E_POINTER;
    *pmt = AM_MEDIA_TYPE();
    if (!gst_pad_is_linked(m_pad.get()))
        return VFW_E_NOT_CONNECTED;
    GstCaps* caps = gst_pad_get_current_caps(m_pad.get());
    if (!caps) {
        // Not negotiated yet: the fixed form of what both sides allow.
        GstCaps* allowed = gst_pad_get_allowed_caps(m_pad.get());
        if (allowed && !gst_caps_is_empty(allowed) && !gst_caps_is_any(allowed))
            caps = gst_caps_fixate(allowed);
        else if (allowed)
            gst_caps_unref(allowed);
    }
    CMediaType mt;
    bool ok = caps && vagst::MediaTypeFromCaps(caps, mt);
    if (caps)
        gst_caps_unref(caps);
    if (!ok) {
        mt.SetType(MEDIATYPE_Stream);
        mt.SetSubtype(GUID_NULL);
        mt.SetFormatType(FORMAT_None);
    }
    return CopyMediaType(pmt, &mt);
}

HRESULT CPadPin::QueryPinInfo(PIN_INFO* pInfo) {
    if (!pInfo)
        return E_POINTER;
    pInfo->pFilter = m_core->Owner();
    pInfo->pFilter->AddRef();
    pInfo->dir = Direction();
    const char* name = GST_OBJECT_NAME(m_pad.get());
    pInfo->achName = name ? name : "";
    return S_OK;
}

HRESULT CPadPin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (!pPinDir)
        return E_POINTER;
    *pPinDir = Direction();
    return S_OK;
}

HRESULT CPadPin::QueryId(std::string* id) {
    if (!id)
        return E_POINTER;
    const char* name = GST_OBJECT_NAME(m_pad.get());
    *id = name ? name : "";
    return S_OK;
}

HRESULT CPadPin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return E_POINTER;
    GstCaps* caps = vagst::CapsFromMediaType(*pmt);
    if (!caps)
        return S_FALSE;
    bool ok;
    if (Direction() == PINDIR_INPUT && gst_caps_is_fixed(caps)) {
        ok = gst_pad_query_accept_caps(m_pad.get(), caps);
    } else {
        GstCaps* possible = gst_pad_query_caps(m_pad.get(), nullptr);
        ok = possible && gst_caps_can_intersect(possible, caps);
        if (possible)
            gst_caps_unref(possible);
    }
    gst_caps_unref(caps);
    return ok ? S_OK : S_FALSE;
}

HRESULT CPadPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    std::vector<CMediaType> types;
    GstCaps* caps = gst_pad_get_current_caps(m_pad.get());
    if (!caps)
        caps = gst_pad_query_caps(m_pad.get(), nullptr);
    if (caps && !gst_caps_is_any(caps)) {
        guint n = gst_caps_get_size(caps);
        for (guint i = 0; i < n && types.size() < 64; ++i) {
            GstCaps* one = gst_caps_copy_nth(caps, i);
            GstStructure* s = gst_caps_get_structure(one, 0);
            const GValue* formats = gst_structure_get_value(s, "format");
            if (formats && GST_VALUE_HOLDS_LIST(formats)) {
                // One type per format, in the pad's order of preference.
                for (guint k = 0; k < gst_value_list_get_size(formats) && types.size() < 64; ++k) {
                    GstCaps* single = gst_caps_copy(one);
                    gst_caps_set_value(single, "format", gst_value_list_get_value(formats, k));
                    CMediaType mt;
                    if (vagst::MediaTypeFromCaps(single, mt))
                        types.push_back(mt);
                    gst_caps_unref(single);
                }
            } else {
                CMediaType mt;
                if (vagst::MediaTypeFromCaps(one, mt))
                    types.push_back(mt);
            }
            gst_caps_unref(one);
        }
    }
    if (caps)
        gst_caps_unref(caps);
    auto* e = new CEnumMediaTypes(std::move(types));
    e->AddRef();
    *ppEnum = e;
    return S_OK;
}
