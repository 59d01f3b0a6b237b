#include "platform/dshow/TransformFilter.h"

#include <algorithm>
#include <atomic>

#include "platform/dshow/MediaTypeCaps.h"
#include "support/RaceCheck.h"

// --- the element ---

G_BEGIN_DECLS
#define VA_TYPE_TRANSFORM (va_transform_get_type())
G_DECLARE_FINAL_TYPE(VaTransform, va_transform, VA, TRANSFORM, GstElement)
struct _VaTransform {
    GstElement parent;
    CTransformFilter* filter;  // cleared when the filter goes
};
G_DEFINE_TYPE(VaTransform, va_transform, GST_TYPE_ELEMENT)
G_END_DECLS

namespace {

// Set on the thread that makes the filter, cleared when it goes; read on the
// streaming threads, which get the element through GStreamer's locks.
CTransformFilter* FilterOf(GstObject* parent) {
    if (!parent)
        return nullptr;
    racecheck::Received(parent);
    return std::atomic_ref(VA_TRANSFORM(parent)->filter).load(std::memory_order_acquire);
}

// Nothing may escape into GStreamer's threads: a failure becomes an error
// message on the bus and a failing result.
template <class F, class R>
R Guarded(GstObject* parent, R failed, F&& f) {
    try {
        return f();
    } catch (...) {
        if (parent)
            GST_ELEMENT_ERROR(parent, CORE, FAILED, ("The filter failed."), (nullptr));
        return failed;
    }
}

GstFlowReturn Chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
    CTransformFilter* f = FilterOf(parent);
    if (!f) {
        gst_buffer_unref(buffer);
        return GST_FLOW_FLUSHING;
    }
    return Guarded(parent, GST_FLOW_ERROR, [&] { return f->OnChain(buffer); });
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    CTransformFilter* f = FilterOf(parent);
    if (!f)
        return gst_pad_event_default(pad, parent, event);
    return Guarded(parent, FALSE, [&] { return gboolean(f->OnSinkEvent(event)); });
}

gboolean SinkQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    CTransformFilter* f = FilterOf(parent);
    if (f && Guarded(parent, false, [&] { return f->OnSinkQuery(query); }))
        return TRUE;
    // Our output is not our input: upstream allocates for itself, and may
    // hand over the frames it decoded into, read through their video meta.
    if (GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION) {
        gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
        return TRUE;
    }
    if (GST_QUERY_TYPE(query) == GST_QUERY_CAPS || GST_QUERY_TYPE(query) == GST_QUERY_ACCEPT_CAPS)
        return FALSE;
    return gst_pad_query_default(pad, parent, query);
}

gboolean SrcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    CTransformFilter* f = FilterOf(parent);
    if (f && Guarded(parent, false, [&] { return f->OnSrcQuery(query); }))
        return TRUE;
    if (GST_QUERY_TYPE(query) == GST_QUERY_CAPS || GST_QUERY_TYPE(query) == GST_QUERY_ACCEPT_CAPS)
        return FALSE;
    return gst_pad_query_default(pad, parent, query);
}

void Unlinked(GstPad* pad, GstObject* parent) {
    CTransformFilter* f = FilterOf(parent);
    if (!f)
        return;
    Guarded(parent, 0, [&] {
        bool input = GST_PAD_DIRECTION(pad) == GST_PAD_SINK;
        CTransformPin* pin = f->GetPin(input ? 0 : 1);
        pin->ClearMediaType();
        f->BreakConnect(input ? PINDIR_INPUT : PINDIR_OUTPUT);
        return 0;
    });
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
    CTransformFilter* f = VA_TRANSFORM(element)->filter;
    if (f && transition == GST_STATE_CHANGE_READY_TO_PAUSED)
        Guarded(GST_OBJECT(element), 0, [&] {
            f->OnStateChange(transition);
            return 0;
        });
    GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(va_transform_parent_class)->change_state(element, transition);
    if (f && transition == GST_STATE_CHANGE_PAUSED_TO_READY)
        Guarded(GST_OBJECT(element), 0, [&] {
            f->OnStateChange(transition);
            return 0;
        });
    return ret;
}

GstElement* MakeTransformElement(const char* templateCaps) {
    vagst::EnsureInit();
    GstElement* element = GST_ELEMENT(g_object_new(VA_TYPE_TRANSFORM, nullptr));
    GstCaps* caps = gst_caps_from_string(templateCaps);
    GstPadTemplate* sinkTemplate = gst_pad_template_new("In", GST_PAD_SINK, GST_PAD_ALWAYS, caps);
    GstPadTemplate* srcTemplate = gst_pad_template_new("Out", GST_PAD_SRC, GST_PAD_ALWAYS, caps);
    gst_caps_unref(caps);
    GstPad* sink = gst_pad_new_from_template(sinkTemplate, "In");
    GstPad* src = gst_pad_new_from_template(srcTemplate, "Out");
    gst_object_unref(sinkTemplate);
    gst_object_unref(srcTemplate);
    gst_pad_set_chain_function(sink, Chain);
    gst_pad_set_event_function(sink, SinkEvent);
    gst_pad_set_query_function(sink, SinkQuery);
    gst_pad_set_unlink_function(sink, Unlinked);
    gst_pad_set_query_function(src, SrcQuery);
    gst_pad_set_unlink_function(src, Unlinked);
    gst_element_add_pad(element, sink);
    gst_element_add_pad(element, src);
    return element;
}

// The format names a caps structure allows.
std::vector<std::string> FormatsOf(const GstStructure* s) {
    std::vector<std::string> formats;
    const GValue* v = gst_structure_get_value(s, "format");
    if (v && G_VALUE_HOLDS_STRING(v)) {
        formats.emplace_back(g_value_get_string(v));
    } else if (v && GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            const GValue* item = gst_value_list_get_value(v, i);
            if (G_VALUE_HOLDS_STRING(item))
                formats.emplace_back(g_value_get_string(item));
        }
    }
    return formats;
}

// Fields a video transform may change between its input and its output.
void FreeTransformedFields(GstCaps* caps) {
    for (guint i = 0; i < gst_caps_get_size(caps); ++i)
        gst_structure_remove_fields(gst_caps_get_structure(caps, i), "framerate", "interlace-mode",
                                    "field-order", nullptr);
}

class CPoolAllocator : public CUnknownImpl<CPoolAllocator, IMemAllocator> {
public:
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override {
        if (!pRequest || !pActual)
            return E_POINTER;
        if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0)
            return E_INVALIDARG;
        m_props = *pRequest;
        m_props.cBuffers = std::max<LONG>(1, m_props.cBuffers);
        m_props.cbAlign = std::max<LONG>(1, m_props.cbAlign);
        *pActual = m_props;
        m_set = true;
        return S_OK;
    }
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) override {
        if (!pProps)
            return E_POINTER;
        *pProps = m_props;
        return S_OK;
    }
    const ALLOCATOR_PROPERTIES& Props() const { return m_props; }
    bool IsSet() const { return m_set; }

private:
    ALLOCATOR_PROPERTIES m_props;
    bool m_set = false;
};

}  // namespace

static void va_transform_class_init(VaTransformClass* klass) {
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(elementClass, "Transform Filter", "Filter/Video",
                                          "A filter of the player's own", "Velotrax");
    elementClass->change_state = ChangeState;
}

static void va_transform_init(VaTransform* self) {
    self->filter = nullptr;
}

// --- pins ---

CTransformPin::CTransformPin(CTransformFilter* filter, GstPad* pad, const char* name)
    : CPadPin(filter->FilterCore(), pad), m_pTransformFilter(filter), m_name(name) {}

HRESULT CTransformPin::QueryPinInfo(PIN_INFO* pInfo) {
    HRESULT hr = CPadPin::QueryPinInfo(pInfo);
    if (SUCCEEDED(hr))
        pInfo->achName = m_name;
    return hr;
}

HRESULT CTransformPin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return E_POINTER;
    CMediaType mt(*pmt);
    return CheckMediaType(&mt) == S_OK ? S_OK : S_FALSE;
}

bool CTransformPin::IsConnected() const {
    std::lock_guard guard(m_typeLock);
    return m_hasType && gst_pad_is_linked(const_cast<CTransformPin*>(this)->Pad());
}

CMediaType CTransformPin::CurrentMediaTypeCopy() const {
    std::lock_guard guard(m_typeLock);
    return m_mt;
}

CComPtr<IPin> CTransformPin::GetConnected() const {
    CComPtr<IPin> peer;
    const_cast<CTransformPin*>(this)->ConnectedTo(&peer);
    return peer;
}

void CTransformPin::SetCurrentMediaType(const CMediaType& mt) {
    std::lock_guard guard(m_typeLock);
    m_mt = mt;
    m_hasType = true;
}

void CTransformPin::ClearMediaType() {
    std::lock_guard guard(m_typeLock);
    m_mt = CMediaType();
    m_hasType = false;
}

CTransformInputPin::CTransformInputPin(CTransformFilter* filter, GstPad* pad, const char* name)
    : CTransformPin(filter, pad, name) {}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* pmt) {
    return m_pTransformFilter->CheckInputType(pmt);
}

CTransformOutputPin::CTransformOutputPin(CTransformFilter* filter, GstPad* pad, const char* name)
    : CTransformPin(filter, pad, name) {}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* pmt) {
    CTransformInputPin* in = m_pTransformFilter->InputPin();
    if (!in || !in->IsConnected())
        return E_INVALIDARG;
    CMediaType input = in->CurrentMediaTypeCopy();
    return m_pTransformFilter->CheckTransform(&input, pmt);
}

HRESULT CTransformOutputPin::DownstreamAccepts(const CMediaType& mt) {
    GstCaps* caps = m_pTransformFilter->OutputCapsFor(mt);
    if (!caps)
        return S_FALSE;
    bool ok = !gst_pad_is_linked(Pad()) || gst_pad_peer_query_accept_caps(Pad(), caps);
    gst_caps_unref(caps);
    return ok ? S_OK : S_FALSE;
}

// --- the filter ---

CTransformFilter::CTransformFilter(const CLSID& clsid, const char* templateCaps)
    : CElementFilterT(MakeTransformElement(templateCaps), clsid), m_element(m_core.Element()) {
    gst_video_info_init(&m_inputInfo);
    gst_video_info_init(&m_outputInfo);
    std::atomic_ref(VA_TRANSFORM(m_element)->filter).store(this, std::memory_order_release);
}

CTransformFilter::~CTransformFilter() {
    std::atomic_ref(VA_TRANSFORM(m_element)->filter).store(nullptr, std::memory_order_release);
    ReleasePool();
    if (m_inputCaps)
        gst_caps_unref(m_inputCaps);
}

void CTransformFilter::SetPins(CTransformInputPin* input, CTransformOutputPin* output) {
    if (!input)
        input = new CTransformInputPin(this, PadOf(0));
    if (!output)
        output = new CTransformOutputPin(this, PadOf(1));
    m_pInput = input;
    m_pOutput = output;
    m_core.AdoptPin(std::unique_ptr<CPadPin>(input));
    m_core.AdoptPin(std::unique_ptr<CPadPin>(output));
}

GstPad* CTransformFilter::PadOf(int n) const {
    GstPad* pad = gst_element_get_static_pad(m_element, n == 0 ? "In" : "Out");
    if (pad)
        gst_object_unref(pad);  // the element keeps it
    return pad;
}

CTransformPin* CTransformFilter::GetPin(int n) {
    if (n == 0)
        return m_pInput;
    if (n == 1)
        return m_pOutput;
    return nullptr;
}

HRESULT CTransformFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    return CElementFilterT::QueryInterfaceExtra(riid, ppv);
}

bool CTransformFilter::IsStopped() const {
    return GST_STATE(m_element) <= GST_STATE_READY;
}

HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType*) {
    return S_OK;
}

HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION, IPin*) {
    return S_OK;
}

HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) {
    return S_OK;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) {
    return E_UNEXPECTED;
}

HRESULT CTransformFilter::Receive(IMediaSample* pSample) {
    if (!pSample)
        return E_POINTER;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT timed = pSample->GetTime(&start, &stop);
    DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
    if (pSample->IsSyncPoint() != S_OK)
        flags |= AM_GBF_NOTASYNCPOINT;
    CComPtr<IMediaSample> out;
    HRESULT hr = GetDeliveryBuffer(&out, SUCCEEDED(timed) ? &start : nullptr,
                                   timed == S_OK ? &stop : nullptr, flags);
    if (FAILED(hr))
        return hr;
    out->SetSyncPoint(pSample->IsSyncPoint() == S_OK);
    out->SetDiscontinuity(pSample->IsDiscontinuity() == S_OK);
    out->SetPreroll(pSample->IsPreroll() == S_OK);
    LONGLONG mediaStart, mediaStop;
    if (pSample->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
        out->SetMediaTime(&mediaStart, &mediaStop);
    hr = Transform(pSample, out);
    if (hr == S_FALSE) {
        m_bSampleSkipped = true;
        return S_OK;
    }
    if (FAILED(hr))
        return hr;
    m_bSampleSkipped = false;
    return Deliver(out);
}

bool CTransformFilter::Forward(GstEvent* event) {
    if (!event)
        return true;
    return gst_pad_push_event(PadOf(1), event);
}

HRESULT CTransformFilter::EndOfStream() {
    return Forward(std::exchange(m_forwardEvent, nullptr)) ? S_OK : S_FALSE;
}

HRESULT CTransformFilter::BeginFlush() {
    return Forward(m_forwardFlushStart.exchange(nullptr)) ? S_OK : E_FAIL;
}

HRESULT CTransformFilter::EndFlush() {
    return Forward(std::exchange(m_forwardEvent, nullptr)) ? S_OK : E_FAIL;
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    return Forward(std::exchange(m_forwardEvent, nullptr)) ? S_OK : S_FALSE;
}

HRESULT CTransformFilter::GetDeliveryBuffer(IMediaSample** ppOut, REFERENCE_TIME* pStart,
                                            REFERENCE_TIME* pStop, DWORD dwFlags) {
    if (!ppOut)
        return E_POINTER;
    *ppOut = nullptr;
    GstBufferPool* pool;
    {
        std::lock_guard guard(m_poolLock);
        pool = m_pool ? GST_BUFFER_POOL(gst_object_ref(m_pool)) : nullptr;
    }
    if (!pool)
        return VFW_E_NOT_COMMITTED;
    GstBuffer* buffer = nullptr;
    GstFlowReturn flow = gst_buffer_pool_acquire_buffer(pool, &buffer, nullptr);
    gst_object_unref(pool);
    if (flow != GST_FLOW_OK || !buffer) {
        m_lastFlow = flow == GST_FLOW_OK ? GST_FLOW_ERROR : flow;
        return VFW_E_NOT_COMMITTED;
    }
    auto* sample = new CGstMediaSample(buffer, true);
    sample->AddRef();
    if (!sample->IsMapped()) {
        sample->Release();
        return E_OUTOFMEMORY;
    }
    sample->SetTime(pStart, pStop);
    sample->SetStride(m_outputStride);
    if (dwFlags & AM_GBF_NOTASYNCPOINT)
        sample->SetSyncPoint(FALSE);
    *ppOut = sample;
    return S_OK;
}

HRESULT CTransformFilter::Deliver(IMediaSample* pSample) {
    auto* sample = dynamic_cast<CGstMediaSample*>(pSample);
    if (!sample)
        return E_INVALIDARG;
    if (const CMediaType* type = sample->AttachedType()) {
        CMediaType mt = *type;
        if (!SetOutputCaps(mt))
            return VFW_E_TYPE_NOT_ACCEPTED;
    }
    GstBuffer* buffer = sample->TakeBuffer();
    if (!buffer)
        return E_UNEXPECTED;
    m_lastFlow = gst_pad_push(PadOf(1), buffer);
    if (m_lastFlow == GST_FLOW_OK)
        return S_OK;
    if (m_lastFlow == GST_FLOW_FLUSHING || m_lastFlow == GST_FLOW_EOS)
        return S_FALSE;
    return E_FAIL;
}

HRESULT CTransformFilter::ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE* pmt) {
    if (!pPin)
        return E_POINTER;
    if (pPin == static_cast<IPin*>(m_pOutput)) {
        if (!m_pOutput->IsConnected() && !gst_pad_is_linked(PadOf(1)))
            return VFW_E_NOT_CONNECTED;
        if (pmt) {
            CMediaType mt(*pmt);
            return SetOutputCaps(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        gst_pad_push_event(PadOf(1), gst_event_new_reconfigure());
        return S_OK;
    }
    if (pPin == static_cast<IPin*>(m_pInput)) {
        if (!gst_pad_is_linked(PadOf(0)))
            return VFW_E_NOT_CONNECTED;
        // Upstream asks our caps again and sends the type it settles on.
        gst_pad_push_event(PadOf(0), gst_event_new_reconfigure());
        return S_OK;
    }
    return E_INVALIDARG;
}

// ---- caps and types

GstCaps* CTransformFilter::OutputCapsFor(const CMediaType& mt) {
    GstCaps* caps = vagst::CapsFromMediaType(mt);
    if (!caps || gst_caps_is_empty(caps))
        return caps;
    GstCaps* input = nullptr;
    {
        std::lock_guard guard(m_poolLock);
        if (m_inputCaps)
            input = gst_caps_copy(m_inputCaps);
    }
    if (!input)
        return caps;
    // What the type says replaces the input's fields; the rest (colorimetry,
    // chroma siting) stays as it came in.
    GstStructure* out = gst_caps_get_structure(input, 0);
    const GstStructure* typed = gst_caps_get_structure(caps, 0);
    gst_structure_remove_fields(out, "interlace-mode", "field-order", nullptr);
    for (int i = 0; i < gst_structure_n_fields(typed); ++i) {
        const char* field = gst_structure_nth_field_name(typed, guint(i));
        gst_structure_set_value(out, field, gst_structure_get_value(typed, field));
    }
    gst_caps_unref(caps);
    return input;
}

bool CTransformFilter::SetOutputCaps(const CMediaType& mt) {
    GstCaps* caps = OutputCapsFor(mt);
    if (!caps)
        return false;
    GstVideoInfo info;
    bool ok = gst_caps_is_fixed(caps) && gst_video_info_from_caps(&info, caps) &&
              gst_pad_push_event(PadOf(1), gst_event_new_caps(caps));
    gst_caps_unref(caps);
    if (!ok)
        return false;
    m_outputInfo = info;
    m_outputStride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    m_pOutput->SetCurrentMediaType(mt);
    if (FAILED(SetMediaType(PINDIR_OUTPUT, &mt)))
        return false;
    CComPtr<IPin> peer = m_pOutput->GetConnected();
    if (FAILED(CompleteConnect(PINDIR_OUTPUT, peer)))
        return false;
    return ConfigurePool(mt);
}

bool CTransformFilter::ConfigurePool(const CMediaType& mt) {
    CComPtr<CPoolAllocator> allocator(new CPoolAllocator());
    ALLOCATOR_PROPERTIES props;
    if (FAILED(DecideBufferSize(allocator, &props)) || !allocator->IsSet())
        return false;
    // A frame as laid out in memory always fits, whatever the type says.
    guint size = guint(
        std::max<gsize>(gsize(allocator->Props().cbBuffer), GST_VIDEO_INFO_SIZE(&m_outputInfo)));
    guint count = guint(allocator->Props().cBuffers);
    std::lock_guard guard(m_poolLock);
    if (m_pool) {
        GstStructure* config = gst_buffer_pool_get_config(m_pool);
        guint oldSize = 0, oldMin = 0, oldMax = 0;
        gst_buffer_pool_config_get_params(config, nullptr, &oldSize, &oldMin, &oldMax);
        gst_structure_free(config);
        if (oldSize == size && oldMin == count)
            return true;
        gst_buffer_pool_set_active(m_pool, FALSE);
        gst_object_unref(m_pool);
        m_pool = nullptr;
    }
    GstBufferPool* pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    GstCaps* caps = vagst::CapsFromMediaType(mt);
    gst_buffer_pool_config_set_params(config, caps, size, count, 0);
    if (caps)
        gst_caps_unref(caps);
    if (!gst_buffer_pool_set_config(pool, config) || !gst_buffer_pool_set_active(pool, TRUE)) {
        gst_object_unref(pool);
        return false;
    }
    m_pool = pool;
    return true;
}

void CTransformFilter::ReleasePool() {
    std::lock_guard guard(m_poolLock);
    if (m_pool) {
        gst_buffer_pool_set_active(m_pool, FALSE);
        gst_object_unref(m_pool);
        m_pool = nullptr;
    }
}

bool CTransformFilter::OnInputCaps(GstCaps* caps) {
    CMediaType mt;
    GstVideoInfo info;
    if (!vagst::MediaTypeFromCaps(caps, mt) || !gst_video_info_from_caps(&info, caps))
        return false;
    if (m_pInput->CheckMediaType(&mt) != S_OK)
        return false;
    {
        std::lock_guard guard(m_poolLock);
        if (m_inputCaps)
            gst_caps_unref(m_inputCaps);
        m_inputCaps = gst_caps_ref(caps);
    }
    m_inputInfo = info;
    m_haveInputInfo = true;
    m_inputStride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    m_pInput->SetCurrentMediaType(mt);
    if (FAILED(SetMediaType(PINDIR_INPUT, &mt)))
        return false;
    CComPtr<IPin> upstream = m_pInput->GetConnected();
    if (FAILED(CompleteConnect(PINDIR_INPUT, upstream)))
        return false;
    // The output follows: the first proposal downstream takes.
    for (int i = 0; i < 64; ++i) {
        CMediaType out;
        if (GetMediaType(i, &out) != S_OK)
            break;
        if (CheckTransform(&mt, &out) != S_OK || m_pOutput->DownstreamAccepts(out) != S_OK)
            continue;
        if (SetOutputCaps(out))
            return true;
    }
    return false;
}

GstCaps* CTransformFilter::InputCaps(GstCaps* filter) {
    GstPad* sink = PadOf(0);
    GstCaps* candidates = gst_pad_get_pad_template_caps(sink);
    GstCaps* downstream = gst_pad_peer_query_caps(PadOf(1), nullptr);
    if (downstream && !gst_caps_is_any(downstream)) {
        downstream = gst_caps_make_writable(downstream);
        FreeTransformedFields(downstream);
        GstCaps* both = gst_caps_intersect(downstream, candidates);
        gst_caps_unref(candidates);
        candidates = both;
    }
    if (downstream)
        gst_caps_unref(downstream);
    if (filter) {
        GstCaps* both = gst_caps_intersect_full(filter, candidates, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(candidates);
        candidates = both;
    }
    // Keep each format and interlace mode CheckInputType takes, tried on a
    // fixed example of it.
    GstCaps* result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(candidates); ++i) {
        const GstStructure* s = gst_caps_get_structure(candidates, i);
        for (const std::string& format : FormatsOf(s)) {
            for (const char* mode : {"progressive", "interleaved", "mixed"}) {
                GstCaps* one = gst_caps_new_full(gst_structure_copy(s), nullptr);
                GstCaps* wanted =
                    gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format.c_str(),
                                        "interlace-mode", G_TYPE_STRING, mode, nullptr);
                GstCaps* narrowed = gst_caps_intersect(one, wanted);
                gst_caps_unref(one);
                gst_caps_unref(wanted);
                if (gst_caps_is_empty(narrowed)) {
                    gst_caps_unref(narrowed);
                    continue;
                }
                GstCaps* probe = gst_caps_fixate(gst_caps_copy(narrowed));
                CMediaType mt;
                bool ok = vagst::MediaTypeFromCaps(probe, mt) && CheckInputType(&mt) == S_OK;
                gst_caps_unref(probe);
                if (ok)
                    result = gst_caps_merge(result, narrowed);
                else
                    gst_caps_unref(narrowed);
            }
        }
    }
    gst_caps_unref(candidates);
    return result;
}

GstCaps* CTransformFilter::OutputCaps(GstCaps* filter) {
    GstCaps* result = nullptr;
    if (m_pInput->IsConnected()) {
        result = gst_caps_new_empty();
        for (int i = 0; i < 64; ++i) {
            CMediaType mt;
            if (GetMediaType(i, &mt) != S_OK)
                break;
            if (GstCaps* caps = OutputCapsFor(mt))
                result = gst_caps_merge(result, caps);
        }
    } else {
        result = gst_pad_get_pad_template_caps(PadOf(1));
    }
    if (filter) {
        GstCaps* both = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = both;
    }
    return result;
}

bool CTransformFilter::OnSinkQuery(GstQuery* query) {
    switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_CAPS: {
            GstCaps* filter = nullptr;
            gst_query_parse_caps(query, &filter);
            GstCaps* caps = InputCaps(filter);
            gst_query_set_caps_result(query, caps);
            gst_caps_unref(caps);
            return true;
        }
        case GST_QUERY_ACCEPT_CAPS: {
            GstCaps* caps = nullptr;
            gst_query_parse_accept_caps(query, &caps);
            CMediaType mt;
            bool ok = caps && gst_caps_is_fixed(caps) && vagst::MediaTypeFromCaps(caps, mt) &&
                      m_pInput->CheckMediaType(&mt) == S_OK;
            gst_query_set_accept_caps_result(query, ok);
            return true;
        }
        default:
            return false;
    }
}

bool CTransformFilter::OnSrcQuery(GstQuery* query) {
    switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_CAPS: {
            GstCaps* filter = nullptr;
            gst_query_parse_caps(query, &filter);
            GstCaps* caps = OutputCaps(filter);
            gst_query_set_caps_result(query, caps);
            gst_caps_unref(caps);
            return true;
        }
        case GST_QUERY_ACCEPT_CAPS: {
            GstCaps* caps = nullptr;
            gst_query_parse_accept_caps(query, &caps);
            CMediaType mt;
            bool ok = caps && gst_caps_is_fixed(caps) && vagst::MediaTypeFromCaps(caps, mt) &&
                      m_pOutput->CheckMediaType(&mt) == S_OK;
            gst_query_set_accept_caps_result(query, ok);
            return true;
        }
        default:
            return false;
    }
}

bool CTransformFilter::OnSinkEvent(GstEvent* event) {
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_CAPS: {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            bool ok = OnInputCaps(caps);
            gst_event_unref(event);
            return ok;
        }
        case GST_EVENT_SEGMENT: {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            REFERENCE_TIME start = 0, stop = -1;
            double rate = 1.0;
            if (segment->format == GST_FORMAT_TIME) {
                start = vagst::ToRefTime(segment->start);
                stop = vagst::ToRefTime(segment->stop);
                rate = segment->rate;
            }
            m_forwardEvent = event;
            HRESULT hr = NewSegment(start, stop, rate);
            if (m_forwardEvent)
                Forward(std::exchange(m_forwardEvent, nullptr));
            return SUCCEEDED(hr);
        }
        case GST_EVENT_FLUSH_START: {
            m_forwardFlushStart = event;
            HRESULT hr = BeginFlush();
            if (GstEvent* left = m_forwardFlushStart.exchange(nullptr))
                Forward(left);
            return SUCCEEDED(hr);
        }
        case GST_EVENT_FLUSH_STOP:
        case GST_EVENT_EOS: {
            m_forwardEvent = event;
            HRESULT hr = GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP ? EndFlush() : EndOfStream();
            if (m_forwardEvent)
                Forward(std::exchange(m_forwardEvent, nullptr));
            return SUCCEEDED(hr);
        }
        default:
            return gst_pad_event_default(PadOf(0), GST_OBJECT(m_element), event);
    }
}

void CTransformFilter::UpdateFieldFlags(CGstMediaSample& sample, GstBuffer* buffer) {
    DWORD flags = 0;
    if (m_haveInputInfo && GST_VIDEO_INFO_IS_INTERLACED(&m_inputInfo)) {
        bool interlacedFrame =
            GST_VIDEO_INFO_INTERLACE_MODE(&m_inputInfo) != GST_VIDEO_INTERLACE_MODE_MIXED ||
            GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_INTERLACED);
        bool tff =
            GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_TFF) ||
            (GST_VIDEO_INFO_INTERLACE_MODE(&m_inputInfo) != GST_VIDEO_INTERLACE_MODE_MIXED &&
             GST_VIDEO_INFO_FIELD_ORDER(&m_inputInfo) == GST_VIDEO_FIELD_ORDER_TOP_FIELD_FIRST);
        if (interlacedFrame && tff)
            flags |= AM_VIDEO_FLAG_FIELD1FIRST;
        if (!interlacedFrame)
            flags |= AM_VIDEO_FLAG_WEAVE;
    }
    sample.SetTypeSpecificFlags(flags);
}

int CTransformFilter::InputPlanes(size_t offset[4], LONG stride[4]) const {
    for (int i = 0; i < 4; ++i) {
        offset[i] = m_inputOffsets[i];
        stride[i] = m_inputStrides[i];
    }
    return m_inputPlanes;
}

int CTransformFilter::OutputPlanes(size_t offset[4], LONG stride[4]) const {
    // Output buffers come from our own pool in the caps' default layout.
    for (int i = 0; i < 4; ++i) {
        offset[i] = GST_VIDEO_INFO_PLANE_OFFSET(&m_outputInfo, i);
        stride[i] = GST_VIDEO_INFO_PLANE_STRIDE(&m_outputInfo, i);
    }
    return m_outputInfo.finfo ? int(GST_VIDEO_INFO_N_PLANES(&m_outputInfo)) : 0;
}

GstFlowReturn CTransformFilter::OnChain(GstBuffer* buffer) {
    if (!m_pInput->IsConnected()) {
        gst_buffer_unref(buffer);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    const GstVideoMeta* meta = gst_buffer_get_video_meta(buffer);
    m_inputStride = meta ? meta->stride[0] : GST_VIDEO_INFO_PLANE_STRIDE(&m_inputInfo, 0);
    m_inputPlanes = int(meta ? meta->n_planes : GST_VIDEO_INFO_N_PLANES(&m_inputInfo));
    for (int i = 0; i < 4; ++i) {
        m_inputOffsets[i] = meta ? meta->offset[i] : GST_VIDEO_INFO_PLANE_OFFSET(&m_inputInfo, i);
        m_inputStrides[i] = meta ? meta->stride[i] : GST_VIDEO_INFO_PLANE_STRIDE(&m_inputInfo, i);
    }
    CComPtr<CGstMediaSample> sample(new CGstMediaSample(buffer, false));
    UpdateFieldFlags(*sample, buffer);
    sample->SetStride(m_inputStride);
    if (!sample->IsMapped())
        return GST_FLOW_ERROR;
    m_lastFlow = GST_FLOW_OK;
    HRESULT hr = Receive(sample);
    if (m_lastFlow != GST_FLOW_OK)
        return m_lastFlow;
    if (FAILED(hr)) {
        GST_ELEMENT_ERROR(m_element, STREAM, FAILED, ("The filter could not process a frame."),
                          ("HRESULT 0x%08x", unsigned(hr)));
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

void CTransformFilter::OnStateChange(GstStateChange transition) {
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        m_bFlushing = false;
        m_bSampleSkipped = false;
    } else if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        ReleasePool();
    }
}
