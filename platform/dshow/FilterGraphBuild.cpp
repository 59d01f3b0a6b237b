#include "platform/dshow/FilterGraph.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/dshow/FilterGraphInternal.h"
#include "platform/dshow/Renderers.h"

// Building: sources, autoplugging of decoders and renderers, and the preroll
// that decides whether a build succeeded.

using namespace vagraph;

namespace {

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
    self->m_lastProgress = NowMs();
    if (self->m_sourceSize && end >= self->m_sourceSize) {
        self->m_sourceReachedEnd = true;
        self->m_sourceReadToEnd = true;
    }
    return GST_PAD_PROBE_OK;
}
// --- building ---

bool CFilterGraph::SelectFactory(const char* factory) {
    // Each choice is a step of the build, as is its answer (FinishBuild
    // takes a file read to its end as stalled only while no step is made).
    m_lastProgress = NowMs();
    CComPtr<IAMGraphBuilderCallback> callback;
    {
        std::lock_guard guard(m_clockLock);
        callback = m_callback;
    }
    if (!callback)
        return true;
    CComPtr<IMoniker> moniker(static_cast<IMoniker*>(new CFactoryMoniker(factory)));
    const bool selected = SUCCEEDED(callback->SelectedFilter(moniker));
    m_lastProgress = NowMs();
    return selected;
}

CComPtr<IBaseFilter> CFilterGraph::AdoptFilter(CComPtr<IBaseFilter> filter, const char* name) {
    if (!filter || FAILED(AddFilterInternal(filter, name)))
        return nullptr;
    m_lastProgress = NowMs();
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
        self->m_lastProgress = NowMs();
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
    if (PipelineActive()) {
        // An edit of a graph that already holds data: the flow restarts
        // with the next Pause or Run.
        MarkEdited();
        return RenderPad(pin->Pad());
    }
    // A new graph: the answer waits for the first frame (bounded), so that
    // a source that cannot play fails here, and a success means the
    // renderers exist and are connected.
    HRESULT hr = BeginBuild();
    if (FAILED(hr))
        return hr;
    auto before = Filters();
    hr = RenderPad(pin->Pad());
    if (FAILED(hr)) {
        {
            std::lock_guard guard(m_build.lock);
            m_build.active = false;
        }
        RemoveFiltersNotIn(before);
        return hr;
    }
    return FinishBuild(before);
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
            if (g_object_class_find_property(G_OBJECT_GET_CLASS(src), "timeout"))
                g_object_set(src, "timeout", guint(kNetworkTimeoutS), nullptr);
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
    if (!HasFilters())
        m_seekable = true;
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
    m_lastProgress = NowMs();
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
            if (m_sourceReadToEnd && NowMs() - m_lastProgress > kSourceIdleMs) {
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

// Halts whatever the graph does: a build in progress ends, and the flow is
// flushed and the pipeline emptied, so that queries and waits blocked in
// the streaming threads return. Another build starts afresh.
HRESULT CFilterGraph::Abort() {
    m_abort = true;
    m_asyncDone.Set();
    m_pausePending = false;
    m_state = State_Stopped;
    gst_element_send_event(m_pipeline, gst_event_new_flush_start());
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    m_eventCond.notify_all();
    return S_OK;
}

HRESULT CFilterGraph::ShouldOperationContinue() {
    return m_abort ? S_FALSE : S_OK;
}
