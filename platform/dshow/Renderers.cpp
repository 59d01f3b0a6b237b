#include "platform/dshow/Renderers.h"

#include <gst/video/gstvideosink.h>
#include <gst/video/video.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include <QApplication>
#include <QThread>

#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/VideoFrame.h"
#include "platform/dshow/VideoWindow.h"
#include "support/RaceCheck.h"

// --- the sink element ---

namespace {

struct CSinkState {
    std::mutex lock;
    std::shared_ptr<CVideoFrameStore> store = std::make_shared<CVideoFrameStore>();
    GstVideoInfo info;
    bool haveInfo = false;
    int width = 0;
    int height = 0;
    bool firstSeen = false;
    std::function<void(int, int)> sizeChanged;
    std::function<void()> frameShown;
    std::function<void()> firstFrame;
};

}  // namespace

G_BEGIN_DECLS
#define VA_TYPE_VIDEO_SINK (va_video_sink_get_type())
G_DECLARE_FINAL_TYPE(VaVideoSink, va_video_sink, VA, VIDEO_SINK, GstVideoSink)
struct _VaVideoSink {
    GstVideoSink parent;
    CSinkState* state;
};
G_DEFINE_TYPE(VaVideoSink, va_video_sink, GST_TYPE_VIDEO_SINK)
G_END_DECLS

namespace {

// The sink's state is made on the thread that creates the element and used
// on the streaming threads it is handed to (through GStreamer's locks).
CSinkState* SinkStateOf(gpointer sink) {
    racecheck::Received(sink);
    return VA_VIDEO_SINK(sink)->state;
}

gboolean SinkSetCaps(GstBaseSink* sink, GstCaps* caps) {
    try {
        CSinkState* s = SinkStateOf(sink);
        GstVideoInfo info;
        if (!gst_video_info_from_caps(&info, caps))
            return FALSE;
        std::function<void(int, int)> notify;
        int w = GST_VIDEO_INFO_WIDTH(&info), h = GST_VIDEO_INFO_HEIGHT(&info);
        {
            std::lock_guard guard(s->lock);
            bool changed = w != s->width || h != s->height;
            s->info = info;
            s->haveInfo = true;
            s->width = w;
            s->height = h;
            if (changed)
                notify = s->sizeChanged;
        }
        GST_VIDEO_SINK_WIDTH(sink) = w;
        GST_VIDEO_SINK_HEIGHT(sink) = h;
        if (notify)
            notify(w, h);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

// The frame is kept as it came: no conversion, no copy.
GstFlowReturn SinkShowFrame(GstVideoSink* sink, GstBuffer* buffer) {
    try {
        CSinkState* s = SinkStateOf(sink);
        GstCaps* caps = gst_pad_get_current_caps(GST_BASE_SINK_PAD(sink));
        GstSample* sample = gst_sample_new(buffer, caps, nullptr, nullptr);
        if (caps)
            gst_caps_unref(caps);
        s->store->Put(sample);
        std::function<void()> shown, first;
        {
            std::lock_guard guard(s->lock);
            shown = s->frameShown;
            if (!s->firstSeen) {
                s->firstSeen = true;
                first = s->firstFrame;
            }
        }
        if (first)
            first();
        if (shown)
            shown();
        return GST_FLOW_OK;
    } catch (...) {
        return GST_FLOW_ERROR;
    }
}

// Frames are read through their video meta (strides and plane offsets of
// the decoder's own buffers), so decoders may hand over the frames they
// decoded into instead of copying them into buffers of the default layout.
gboolean SinkProposeAllocation(GstBaseSink*, GstQuery* query) {
    gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    return TRUE;
}

GstStateChangeReturn SinkChangeState(GstElement* element, GstStateChange transition) {
    GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(va_video_sink_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_READY_TO_NULL)
        SinkStateOf(element)->store->Clear();
    return ret;
}

void SinkFinalize(GObject* object) {
    auto* self = VA_VIDEO_SINK(object);
    delete SinkStateOf(self);
    self->state = nullptr;
    G_OBJECT_CLASS(va_video_sink_parent_class)->finalize(object);
}

}  // namespace

static void va_video_sink_class_init(VaVideoSinkClass* klass) {
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    GstCaps* caps = gst_caps_from_string(vavideo::SinkCapsString());
    gst_element_class_add_pad_template(
        elementClass, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
    gst_element_class_set_static_metadata(elementClass, "Video Renderer", "Sink/Video",
                                          "Keeps the last frame for the player's video window",
                                          "Velotrax");
    elementClass->change_state = SinkChangeState;
    GST_BASE_SINK_CLASS(klass)->set_caps = SinkSetCaps;
    GST_BASE_SINK_CLASS(klass)->propose_allocation = SinkProposeAllocation;
    GST_VIDEO_SINK_CLASS(klass)->show_frame = SinkShowFrame;
    G_OBJECT_CLASS(klass)->finalize = SinkFinalize;
}

static void va_video_sink_init(VaVideoSink* self) {
    self->state = new CSinkState();
    gst_video_info_init(&self->state->info);
    gst_base_sink_set_sync(GST_BASE_SINK(self), TRUE);
    gst_base_sink_set_qos_enabled(GST_BASE_SINK(self), TRUE);
    racecheck::Published(self);
}

namespace {

GstElement* MakeVideoSink() {
    vagst::EnsureInit();
    return GST_ELEMENT(g_object_new(VA_TYPE_VIDEO_SINK, "name", "Video Renderer", nullptr));
}

CSinkState* StateOf(GstElement* element) {
    return SinkStateOf(element);
}

HRESULT PutLong(LONG* out, LONG value) {
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

// Widgets exist only in a widget application, on its thread.
bool WidgetsAvailable() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}
bool OnUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && app->thread() == QThread::currentThread();
}

}  // namespace

// --- CVideoRendererFilter ---

CVideoRendererFilter::CVideoRendererFilter()
    : CElementFilterT(MakeVideoSink(), CLSID_VideoRenderer),
      m_alive(std::make_shared<CAlive>()),
      m_store(StateOf(m_core.Element())->store) {
    m_alive->filter = this;
    CSinkState* s = StateOf(m_core.Element());
    std::lock_guard guard(s->lock);
    s->firstFrame = [alive = m_alive] {
        std::lock_guard lock(alive->lock);
        if (alive->filter)
            alive->filter->OnFirstFrame();
    };
}

CVideoRendererFilter::~CVideoRendererFilter() {
    SetSizeChangedCallback(nullptr);
    {
        CSinkState* s = StateOf(m_core.Element());
        std::lock_guard guard(s->lock);
        s->firstFrame = nullptr;
    }
    {
        std::lock_guard lock(m_alive->lock);
        m_alive->filter = nullptr;
    }
    if (CVideoWindow* window = m_widget.data()) {
        if (OnUiThread())
            delete window;
        else
            window->deleteLater();
    }
}

HRESULT CVideoRendererFilter::QueryInterfaceExtra(REFIID riid, void** ppv) {
    if (riid == IBasicVideo::iid) {
        *ppv = static_cast<IBasicVideo*>(static_cast<IBasicVideo2*>(this));
        return S_OK;
    }
    return CElementFilterT::QueryInterfaceExtra(riid, ppv);
}

void CVideoRendererFilter::SetSizeChangedCallback(std::function<void(int, int)> callback) {
    CSinkState* s = StateOf(m_core.Element());
    std::lock_guard guard(s->lock);
    s->sizeChanged = std::move(callback);
}

void CVideoRendererFilter::SetFrameShownCallback(std::function<void()> callback) {
    CSinkState* s = StateOf(m_core.Element());
    std::lock_guard guard(s->lock);
    s->frameShown = std::move(callback);
}

uint64_t CVideoRendererFilter::FramesShown() const {
    return m_store->Frames();
}

bool CVideoRendererFilter::HasFrame() const {
    return m_store->HasFrame();
}

CVideoWindow* CVideoRendererFilter::Window() const {
    return m_widget.data();
}

bool CVideoRendererFilter::NativeSize(LONG& width, LONG& height) const {
    CSinkState* s = StateOf(m_core.Element());
    std::lock_guard guard(s->lock);
    width = s->width;
    height = s->height;
    return s->haveInfo && width > 0 && height > 0;
}

HRESULT CVideoRendererFilter::get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) {
    if (!pAvgTimePerFrame)
        return E_POINTER;
    CSinkState* s = StateOf(m_core.Element());
    std::lock_guard guard(s->lock);
    if (!s->haveInfo)
        return VFW_E_NOT_CONNECTED;
    int n = GST_VIDEO_INFO_FPS_N(&s->info), d = GST_VIDEO_INFO_FPS_D(&s->info);
    *pAvgTimePerFrame = n > 0 && d > 0 ? double(d) / double(n) : 0.0;
    return S_OK;
}

HRESULT CVideoRendererFilter::get_BitRate(LONG* pBitRate) {
    return PutLong(pBitRate, 0);
}
HRESULT CVideoRendererFilter::get_BitErrorRate(LONG* p) {
    return PutLong(p, 0);
}

HRESULT CVideoRendererFilter::get_VideoWidth(LONG* pVideoWidth) {
    LONG w, h;
    if (!pVideoWidth)
        return E_POINTER;
    if (!NativeSize(w, h))
        return VFW_E_NOT_CONNECTED;
    *pVideoWidth = w;
    return S_OK;
}

HRESULT CVideoRendererFilter::get_VideoHeight(LONG* pVideoHeight) {
    LONG w, h;
    if (!pVideoHeight)
        return E_POINTER;
    if (!NativeSize(w, h))
        return VFW_E_NOT_CONNECTED;
    *pVideoHeight = h;
    return S_OK;
}

HRESULT CVideoRendererFilter::GetVideoSize(LONG* pWidth, LONG* pHeight) {
    if (!pWidth || !pHeight)
        return E_POINTER;
    LONG w, h;
    if (!NativeSize(w, h))
        return VFW_E_NOT_CONNECTED;
    *pWidth = w;
    *pHeight = h;
    return S_OK;
}

// Writes a rectangle as left, top, width and height.
static void PutRect(const RECT& r, LONG* left, LONG* top, LONG* width, LONG* height) {
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
}

HRESULT CVideoRendererFilter::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
    if (width <= 0 || height <= 0 || left < 0 || top < 0)
        return E_INVALIDARG;
    // The part shown lies inside the video once its size is known.
    LONG w = 0, h = 0;
    if (NativeSize(w, h) && (left > w - width || top > h - height))
        return E_INVALIDARG;
    {
        std::lock_guard guard(m_lock);
        m_source = RECT{left, top, left + width, top + height};
        m_defaultSource = false;
    }
    SyncWindow();
    return S_OK;
}

HRESULT CVideoRendererFilter::GetSourcePosition(LONG* pLeft, LONG* pTop, LONG* pWidth,
                                                LONG* pHeight) {
    if (!pLeft || !pTop || !pWidth || !pHeight)
        return E_POINTER;
    LONG w = 0, h = 0;
    NativeSize(w, h);
    std::lock_guard guard(m_lock);
    PutRect(m_defaultSource ? RECT{0, 0, w, h} : m_source, pLeft, pTop, pWidth, pHeight);
    return S_OK;
}

HRESULT CVideoRendererFilter::SetDefaultSourcePosition() {
    {
        std::lock_guard guard(m_lock);
        m_defaultSource = true;
    }
    SyncWindow();
    return S_OK;
}

HRESULT CVideoRendererFilter::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
    if (width <= 0 || height <= 0)
        return E_INVALIDARG;
    {
        std::lock_guard guard(m_lock);
        m_destination = RECT{left, top, left + width, top + height};
        m_defaultDestination = false;
    }
    SyncWindow();
    return S_OK;
}

HRESULT CVideoRendererFilter::GetDestinationPosition(LONG* pLeft, LONG* pTop, LONG* pWidth,
                                                     LONG* pHeight) {
    if (!pLeft || !pTop || !pWidth || !pHeight)
        return E_POINTER;
    LONG w = 0, h = 0;
    NativeSize(w, h);
    std::lock_guard guard(m_lock);
    PutRect(m_defaultDestination ? RECT{0, 0, w, h} : m_destination, pLeft, pTop, pWidth, pHeight);
    return S_OK;
}

HRESULT CVideoRendererFilter::SetDefaultDestinationPosition() {
    {
        std::lock_guard guard(m_lock);
        m_defaultDestination = true;
    }
    SyncWindow();
    return S_OK;
}

HRESULT CVideoRendererFilter::IsUsingDefaultSource() {
    std::lock_guard guard(m_lock);
    return m_defaultSource ? S_OK : S_FALSE;
}

HRESULT CVideoRendererFilter::IsUsingDefaultDestination() {
    std::lock_guard guard(m_lock);
    return m_defaultDestination ? S_OK : S_FALSE;
}

// The frame is converted here, once, into a packed bottom-up DIB: 24 bits
// for RGB sources, 32 bits (BGRx) for everything else.
HRESULT CVideoRendererFilter::GetCurrentImage(LONG* pBufferSize, LONG* pDIBImage) {
    if (!pBufferSize)
        return E_POINTER;
    GstSample* sample = m_store->Get();
    if (!sample)
        return E_UNEXPECTED;
    HRESULT hr = S_OK;
    GstVideoInfo info;
    if (!vavideo::SampleInfo(sample, info) || !gst_sample_get_buffer(sample)) {
        gst_sample_unref(sample);
        return E_UNEXPECTED;
    }
    const GstVideoFormat in = GST_VIDEO_INFO_FORMAT(&info);
    const bool packed24 = in == GST_VIDEO_FORMAT_BGR || in == GST_VIDEO_FORMAT_RGB;
    const int width = GST_VIDEO_INFO_WIDTH(&info), height = GST_VIDEO_INFO_HEIGHT(&info);
    const int bytesPerPixel = packed24 ? 3 : 4;
    const size_t stride = (size_t(width) * bytesPerPixel + 3) & ~size_t(3);
    const size_t size = sizeof(BITMAPINFOHEADER) + stride * size_t(height);
    if (size > size_t(INT32_MAX)) {
        gst_sample_unref(sample);
        return E_OUTOFMEMORY;
    }
    if (!pDIBImage) {
        *pBufferSize = LONG(size);
    } else if (*pBufferSize < LONG(size)) {
        hr = E_OUTOFMEMORY;
    } else {
        auto* out = reinterpret_cast<uint8_t*>(pDIBImage);
        uint8_t* bits = out + sizeof(BITMAPINFOHEADER);
        CVideoFrameConverter converter;
        // A DIB with a positive height is bottom-up: the lines are written so.
        if (!converter.Convert(sample, packed24 ? GST_VIDEO_FORMAT_BGR : GST_VIDEO_FORMAT_BGRx,
                               width, height, bits, int(stride), true, true)) {
            hr = E_UNEXPECTED;
        } else {
            const size_t rowBytes = size_t(width) * bytesPerPixel;
            if (stride > rowBytes)
                for (int y = 0; y < height; ++y)
                    std::memset(bits + size_t(y) * stride + rowBytes, 0, stride - rowBytes);
            BITMAPINFOHEADER bmi;
            bmi.biWidth = width;
            bmi.biHeight = height;
            bmi.biBitCount = WORD(bytesPerPixel * 8);
            bmi.biCompression = BI_RGB;
            bmi.biSizeImage = DWORD(stride * size_t(height));
            std::memcpy(out, &bmi, sizeof(bmi));
            *pBufferSize = LONG(size);
        }
    }
    gst_sample_unref(sample);
    return hr;
}

HRESULT CVideoRendererFilter::GetPreferredAspectRatio(LONG* plAspectX, LONG* plAspectY) {
    if (!plAspectX || !plAspectY)
        return E_POINTER;
    CSinkState* s = StateOf(m_core.Element());
    std::lock_guard guard(s->lock);
    if (!s->haveInfo)
        return VFW_E_NOT_CONNECTED;
    int parN = GST_VIDEO_INFO_PAR_N(&s->info), parD = GST_VIDEO_INFO_PAR_D(&s->info);
    if (parN <= 0 || parD <= 0)
        parN = parD = 1;
    uint64_t x = uint64_t(s->width) * parN, y = uint64_t(s->height) * parD;
    uint64_t g = std::gcd(x, y);
    if (g == 0)
        return E_FAIL;
    *plAspectX = LONG(x / g);
    *plAspectY = LONG(y / g);
    return S_OK;
}

// IVideoWindow: the values are kept so the host can place the video; the
// window that shows them comes with the video window host.

HRESULT CVideoRendererFilter::put_Caption(const char* caption) {
    {
        std::lock_guard guard(m_lock);
        m_caption = caption ? caption : "";
    }
    SyncWindow();
    return S_OK;
}
HRESULT CVideoRendererFilter::get_Caption(std::string* caption) {
    if (!caption)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *caption = m_caption;
    return S_OK;
}
HRESULT CVideoRendererFilter::put_WindowStyle(LONG style) {
    std::lock_guard guard(m_lock);
    m_style = style;
    return S_OK;
}
HRESULT CVideoRendererFilter::get_WindowStyle(LONG* style) {
    std::lock_guard guard(m_lock);
    return PutLong(style, m_style);
}
HRESULT CVideoRendererFilter::put_WindowStyleEx(LONG style) {
    std::lock_guard guard(m_lock);
    m_styleEx = style;
    return S_OK;
}
HRESULT CVideoRendererFilter::get_WindowStyleEx(LONG* style) {
    std::lock_guard guard(m_lock);
    return PutLong(style, m_styleEx);
}
HRESULT CVideoRendererFilter::put_AutoShow(LONG autoShow) {
    std::lock_guard guard(m_lock);
    m_autoShow = autoShow ? OATRUE : OAFALSE;
    return S_OK;
}
HRESULT CVideoRendererFilter::get_AutoShow(LONG* autoShow) {
    std::lock_guard guard(m_lock);
    return PutLong(autoShow, m_autoShow);
}
HRESULT CVideoRendererFilter::put_WindowState(LONG state) {
    std::lock_guard guard(m_lock);
    m_windowState = state;
    return S_OK;
}
HRESULT CVideoRendererFilter::get_WindowState(LONG* state) {
    std::lock_guard guard(m_lock);
    return PutLong(state, m_windowState);
}
HRESULT CVideoRendererFilter::put_Visible(LONG visible) {
    {
        std::lock_guard guard(m_lock);
        m_visible = visible ? OATRUE : OAFALSE;
    }
    SyncWindow();
    return S_OK;
}
HRESULT CVideoRendererFilter::get_Visible(LONG* visible) {
    std::lock_guard guard(m_lock);
    return PutLong(visible, m_visible);
}

HRESULT CVideoRendererFilter::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
    if (width < 0 || height < 0)
        return E_INVALIDARG;
    {
        std::lock_guard guard(m_lock);
        m_window = RECT{left, top, left + width, top + height};
        m_windowPlaced = true;
    }
    SyncWindow();
    return S_OK;
}

HRESULT CVideoRendererFilter::GetWindowPosition(LONG* pLeft, LONG* pTop, LONG* pWidth,
                                                LONG* pHeight) {
    if (!pLeft || !pTop || !pWidth || !pHeight)
        return E_POINTER;
    LONG w = 0, h = 0;
    NativeSize(w, h);
    std::lock_guard guard(m_lock);
    // Until placed, the window has the video's own size.
    PutRect(m_windowPlaced ? m_window : RECT{0, 0, w, h}, pLeft, pTop, pWidth, pHeight);
    return S_OK;
}

// The single-edge accessors read the window rectangle as left, top, width
// and height, and write it back with one part changed.
HRESULT CVideoRendererFilter::GetWindowPart(int part, LONG* value) {
    LONG p[4];
    GetWindowPosition(&p[0], &p[1], &p[2], &p[3]);
    return PutLong(value, p[part]);
}
HRESULT CVideoRendererFilter::PutWindowPart(int part, LONG value) {
    LONG p[4];
    GetWindowPosition(&p[0], &p[1], &p[2], &p[3]);
    p[part] = value;
    return SetWindowPosition(p[0], p[1], p[2], p[3]);
}
HRESULT CVideoRendererFilter::put_Left(LONG left) {
    return PutWindowPart(0, left);
}
HRESULT CVideoRendererFilter::get_Left(LONG* left) {
    return GetWindowPart(0, left);
}
HRESULT CVideoRendererFilter::put_Top(LONG top) {
    return PutWindowPart(1, top);
}
HRESULT CVideoRendererFilter::get_Top(LONG* top) {
    return GetWindowPart(1, top);
}
HRESULT CVideoRendererFilter::put_Width(LONG width) {
    return PutWindowPart(2, width);
}
HRESULT CVideoRendererFilter::get_Width(LONG* width) {
    return GetWindowPart(2, width);
}
HRESULT CVideoRendererFilter::put_Height(LONG height) {
    return PutWindowPart(3, height);
}
HRESULT CVideoRendererFilter::get_Height(LONG* height) {
    return GetWindowPart(3, height);
}

HRESULT CVideoRendererFilter::put_Owner(OAHWND owner) {
    bool lost = false;
    {
        std::lock_guard guard(m_lock);
        if (m_owner.data() != owner && m_fullScreen == OATRUE) {
            m_fullScreen = OAFALSE;
            lost = true;
        }
        m_owner = owner;
    }
    SyncWindow();
    if (lost) {
        if (CFilterGraph* graph = m_core.Graph())
            graph->NotifyEvent(EC_FULLSCREEN_LOST, 0, 0);
    }
    return S_OK;
}
HRESULT CVideoRendererFilter::get_Owner(OAHWND* owner) {
    if (!owner)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *owner = m_owner.data();
    return S_OK;
}
HRESULT CVideoRendererFilter::put_MessageDrain(OAHWND drain) {
    {
        std::lock_guard guard(m_lock);
        m_drain = drain;
    }
    SyncWindow();
    return S_OK;
}
HRESULT CVideoRendererFilter::get_MessageDrain(OAHWND* drain) {
    if (!drain)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *drain = m_drain.data();
    return S_OK;
}
HRESULT CVideoRendererFilter::get_BorderColor(LONG* color) {
    std::lock_guard guard(m_lock);
    return PutLong(color, m_borderColor);
}
HRESULT CVideoRendererFilter::put_BorderColor(LONG color) {
    std::lock_guard guard(m_lock);
    m_borderColor = color;
    return S_OK;
}
HRESULT CVideoRendererFilter::get_FullScreenMode(LONG* fullScreenMode) {
    std::lock_guard guard(m_lock);
    return PutLong(fullScreenMode, m_fullScreen);
}
HRESULT CVideoRendererFilter::put_FullScreenMode(LONG fullScreenMode) {
    {
        std::lock_guard guard(m_lock);
        // Without widgets (headless) the mode is kept as state only.
        m_fullScreen = fullScreenMode ? OATRUE : OAFALSE;
    }
    SyncWindow();
    return S_OK;
}
HRESULT CVideoRendererFilter::SetWindowForeground(LONG focus) {
    {
        std::lock_guard guard(m_lock);
        m_foreground = focus ? 2 : 1;
    }
    SyncWindow();
    return S_OK;
}
HRESULT CVideoRendererFilter::NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) {
    return S_OK;
}
HRESULT CVideoRendererFilter::GetMinIdealImageSize(LONG* pWidth, LONG* pHeight) {
    return GetVideoSize(pWidth, pHeight);
}
HRESULT CVideoRendererFilter::GetMaxIdealImageSize(LONG* pWidth, LONG* pHeight) {
    return GetVideoSize(pWidth, pHeight);
}
HRESULT CVideoRendererFilter::GetRestorePosition(LONG* pLeft, LONG* pTop, LONG* pWidth,
                                                 LONG* pHeight) {
    return GetWindowPosition(pLeft, pTop, pWidth, pHeight);
}
HRESULT CVideoRendererFilter::HideCursor(LONG hideCursor) {
    {
        std::lock_guard guard(m_lock);
        m_cursorHidden = hideCursor ? OATRUE : OAFALSE;
    }
    SyncWindow();
    return S_OK;
}
HRESULT CVideoRendererFilter::IsCursorHidden(LONG* cursorHidden) {
    std::lock_guard guard(m_lock);
    return PutLong(cursorHidden, m_cursorHidden);
}

// ---- the widget

// Called without m_lock; the widget is touched on the user-interface thread only.
void CVideoRendererFilter::SyncWindow() {
    if (!WidgetsAvailable())
        return;
    if (OnUiThread()) {
        ApplyWindowState();
        return;
    }
    if (m_syncPosted.exchange(true))
        return;
    std::shared_ptr<CAlive> alive = m_alive;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alive] {
            std::lock_guard lock(alive->lock);
            if (CVideoRendererFilter* filter = alive->filter) {
                filter->m_syncPosted = false;
                try {
                    filter->ApplyWindowState();
                } catch (...) {
                }
            }
        },
        Qt::QueuedConnection);
}

void CVideoRendererFilter::ApplyWindowState() {
    LONG w = 0, h = 0;
    NativeSize(w, h);
    QPointer<QObject> owner, drain;
    bool visible, fullScreen, cursorHidden;
    int foreground;
    RECT r;
    std::string caption;
    QRect source, destination;
    {
        std::lock_guard guard(m_lock);
        owner = m_owner;
        drain = m_drain;
        visible = m_visible == OATRUE;
        fullScreen = m_fullScreen == OATRUE;
        cursorHidden = m_cursorHidden == OATRUE;
        foreground = std::exchange(m_foreground, 0);
        r = m_windowPlaced ? m_window : RECT{0, 0, w, h};
        caption = m_caption;
        // Empty rectangles: the whole frame, the whole window.
        if (!m_defaultSource)
            source = QRect(m_source.left, m_source.top, m_source.right - m_source.left,
                           m_source.bottom - m_source.top);
        if (!m_defaultDestination)
            destination = QRect(m_destination.left, m_destination.top,
                                m_destination.right - m_destination.left,
                                m_destination.bottom - m_destination.top);
    }
    QWidget* ownerWidget = qobject_cast<QWidget*>(owner.data());
    CVideoWindow* window = m_widget.data();
    if (!window) {
        // Made once something wants to see it.
        if (!ownerWidget && !visible && !fullScreen)
            return;
        window = new CVideoWindow(m_store, ownerWidget);
        m_widget = window;
        std::shared_ptr<CAlive> alive = m_alive;
        window->SetFullScreenLostCallback([alive] {
            std::lock_guard lock(alive->lock);
            if (alive->filter)
                alive->filter->OnFullScreenLost();
        });
    }
    if (window->IsFullScreen() && !fullScreen)
        window->SetFullScreen(false);
    if (!window->IsFullScreen()) {
        if (window->parentWidget() != ownerWidget)
            window->setParent(ownerWidget, ownerWidget ? Qt::Widget : Qt::Window);
        window->setGeometry(QRect(r.left, r.top, std::max<LONG>(r.right - r.left, 0),
                                  std::max<LONG>(r.bottom - r.top, 0)));
        window->setVisible(visible);
    }
    window->SetDrain(drain.data());
    window->SetPlacement(source, destination);
    window->setWindowTitle(QString::fromStdString(caption));
    if (cursorHidden)
        window->setCursor(Qt::BlankCursor);
    else
        window->unsetCursor();
    if (fullScreen && !window->IsFullScreen())
        window->SetFullScreen(true);
    if (foreground && window->isVisible()) {
        window->raise();
        if (foreground == 2)
            window->activateWindow();
    }
}

// The window left full screen by itself (user-interface thread).
void CVideoRendererFilter::OnFullScreenLost() {
    {
        std::lock_guard guard(m_lock);
        m_fullScreen = OAFALSE;
    }
    if (CFilterGraph* graph = m_core.Graph())
        graph->NotifyEvent(EC_FULLSCREEN_LOST, 0, 0);
}

// AutoShow: the window shows itself with the first frame it gets.
void CVideoRendererFilter::OnFirstFrame() {
    if (!WidgetsAvailable())
        return;
    {
        std::lock_guard guard(m_lock);
        if (m_autoShow != OATRUE || m_visible == OATRUE)
            return;
        m_visible = OATRUE;
    }
    SyncWindow();
}

HRESULT CVideoRendererFilter::Step(DWORD dwFrames, IUnknown* pStepObject) {
    if (pStepObject)
        return E_INVALIDARG;
    if (dwFrames == 0)
        return E_INVALIDARG;
    CFilterGraph* graph = m_core.Graph();
    if (!graph)
        return VFW_E_NOT_IN_GRAPH;
    return graph->StepFrames(m_core.Element(), dwFrames);
}

HRESULT CVideoRendererFilter::CanStep(LONG, IUnknown* pStepObject) {
    if (pStepObject)
        return S_FALSE;
    return m_core.Graph() ? S_OK : S_FALSE;
}

HRESULT CVideoRendererFilter::CancelStep() {
    CFilterGraph* graph = m_core.Graph();
    if (!graph)
        return VFW_E_NOT_IN_GRAPH;
    return graph->CancelStepFrames(m_core.Element());
}

// --- the audio renderer ---

namespace {

bool SilentAudio() {
    const char* sink = std::getenv("VELOTRAX_AUDIO_SINK");
    if (sink && std::strcmp(sink, "fakesink") == 0)
        return true;
    const char* test = std::getenv("VELOTRAX_TEST");
    return test && std::strcmp(test, "1") == 0;
}

// The device sinks in the order autoaudiosink tries them, without the
// OpenAL sink: its library writes its own complaints to the terminal when
// there is no device. The first sink whose device opens is taken.
GstElement* MakeDeviceAudioSink() {
    GList* factories = gst_element_factory_list_get_elements(
        GST_ELEMENT_FACTORY_TYPE_SINK | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL);
    factories = g_list_sort(factories, gst_plugin_feature_rank_compare_func);
    GstElement* sink = nullptr;
    for (GList* f = factories; f && !sink; f = f->next) {
        auto* factory = GST_ELEMENT_FACTORY(f->data);
        const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
        const std::string name = gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
        if (!klass || !std::strstr(klass, "Sink") || !std::strstr(klass, "Audio") ||
            name == "openalsink" || name == "autoaudiosink")
            continue;
        GstElement* candidate = gst_element_factory_create(factory, "audiosink");
        if (!candidate)
            continue;
        // Still floating: the renderer's bin takes it over.
        const bool opens =
            gst_element_set_state(candidate, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS;
        gst_element_set_state(candidate, GST_STATE_NULL);
        if (opens)
            sink = candidate;
        else
            gst_object_unref(gst_object_ref_sink(candidate));
    }
    gst_plugin_feature_list_free(factories);
    return sink;
}

GstElement* MakeAudioSink() {
    GstElement* sink = nullptr;
    if (!SilentAudio()) {
        const char* name = std::getenv("VELOTRAX_AUDIO_SINK");
        sink = name && *name ? gst_element_factory_make(name, "audiosink") : MakeDeviceAudioSink();
    }
    if (!sink) {
        // No device (or a test): a sink that plays nothing but keeps time.
        sink = gst_element_factory_make("fakesink", "audiosink");
        if (sink)
            g_object_set(sink, "sync", TRUE, nullptr);
    }
    return sink;
}

// resample ! convert ! volume ! sink, behind one input pad.
GstElement* MakeAudioRendererBin() {
    vagst::EnsureInit();
    GstElement* bin = gst_bin_new("Audio Renderer");
    GstElement* resample = gst_element_factory_make("audioresample", nullptr);
    GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
    GstElement* volume = gst_element_factory_make("volume", "volume");
    GstElement* sink = MakeAudioSink();
    if (!resample || !convert || !volume || !sink) {
        // Without its parts the renderer has no input and cannot be connected.
        for (GstElement* e : {resample, convert, volume, sink})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return bin;
    }
    gst_bin_add_many(GST_BIN(bin), resample, convert, volume, sink, nullptr);
    gst_element_link_many(resample, convert, volume, sink, nullptr);
    GstPad* target = gst_element_get_static_pad(resample, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", target));
    gst_object_unref(target);
    return bin;
}

}  // namespace

CAudioRendererFilter::CAudioRendererFilter()
    : CElementFilterT(MakeAudioRendererBin(), CLSID_DSoundRender) {
    m_volumeElement = gst_bin_get_by_name(GST_BIN(m_core.Element()), "volume");
    if (m_volumeElement)
        gst_object_unref(m_volumeElement);  // the bin keeps it alive
}

double CAudioRendererFilter::VolumeFactor(LONG volume) {
    if (volume <= -10000)
        return 0.0;
    if (volume >= 0)
        return 1.0;
    // 1/100 dB to a linear amplitude factor.
    return std::pow(10.0, double(volume) / 2000.0);
}

std::string CAudioRendererFilter::SinkFactory() const {
    GstElement* sink = gst_bin_get_by_name(GST_BIN(m_core.Element()), "audiosink");
    if (!sink)
        return {};
    std::string name = vagst::FactoryName(sink);
    gst_object_unref(sink);
    return name;
}

HRESULT CAudioRendererFilter::put_Volume(LONG lVolume) {
    if (lVolume < -10000 || lVolume > 0)
        return E_INVALIDARG;
    std::lock_guard guard(m_lock);
    if (!m_volumeElement)
        return E_FAIL;
    m_volume = lVolume;
    g_object_set(m_volumeElement, "volume", VolumeFactor(lVolume), nullptr);
    return S_OK;
}

HRESULT CAudioRendererFilter::get_Volume(LONG* plVolume) {
    if (!plVolume)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *plVolume = m_volume;
    return S_OK;
}

HRESULT CAudioRendererFilter::put_Balance(LONG lBalance) {
    if (lBalance < -10000 || lBalance > 10000)
        return E_INVALIDARG;
    std::lock_guard guard(m_lock);
    m_balance = lBalance;
    return S_OK;
}

HRESULT CAudioRendererFilter::get_Balance(LONG* plBalance) {
    if (!plBalance)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *plBalance = m_balance;
    return S_OK;
}
