// The renderer front: choosing the implementation from the renderer
// filter's interfaces, sharing between copies, the video size with and
// without aspect correction, the feature test and the removal of the
// picture aspect ratio of a mixing renderer.
#include <gtest/gtest.h>

#include <vector>

#include "platform/dshow/DShow.h"
#include "render/VaRenderer.h"
#include "support/Exception.h"

namespace {

#define VT_NOTIMPL \
    { return E_NOTIMPL; }

class CFakeGraph;

// A pin of the fake renderer: connected to a peer with a VIDEOINFOHEADER2 type.
class CFakePin : public CUnknownImpl<CFakePin, IPin> {
public:
    HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override VT_NOTIMPL;
    HRESULT ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override VT_NOTIMPL;
    HRESULT Disconnect() override {
        m_peer = nullptr;
        return S_OK;
    }
    HRESULT ConnectedTo(IPin** out) override {
        *out = m_peer;
        if (!m_peer)
            return VFW_E_NOT_CONNECTED;
        m_peer->AddRef();
        return S_OK;
    }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override {
        if (!m_peer)
            return VFW_E_NOT_CONNECTED;
        return CopyMediaType(mt, &m_type);
    }
    HRESULT QueryPinInfo(PIN_INFO*) override VT_NOTIMPL;
    HRESULT QueryDirection(PIN_DIRECTION* d) override {
        *d = PINDIR_INPUT;
        return S_OK;
    }
    HRESULT QueryId(std::string*) override VT_NOTIMPL;
    HRESULT QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT EnumMediaTypes(IEnumMediaTypes**) override VT_NOTIMPL;

    CComPtr<IPin> m_peer;
    CMediaType m_type;
};

class CFakeEnumPins : public CUnknownImpl<CFakeEnumPins, IEnumPins> {
public:
    explicit CFakeEnumPins(IPin* pin) : m_pin(pin) {}
    HRESULT Next(ULONG, IPin** out, ULONG* fetched) override {
        if (m_done) {
            if (fetched)
                *fetched = 0;
            return S_FALSE;
        }
        m_done = true;
        *out = m_pin;
        m_pin->AddRef();
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
    CComPtr<IPin> m_pin;
    bool m_done = false;
};

// The graph the renderer sits in: records disconnections and reconnections.
class CFakeGraph : public CUnknownImpl<CFakeGraph, IGraphBuilder> {
public:
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv) {
        *ppv = nullptr;
        if (riid != IFilterGraph::iid)
            return E_NOINTERFACE;
        *ppv = static_cast<IGraphBuilder*>(this);
        return S_OK;
    }
    HRESULT AddFilter(IBaseFilter*, const char*) override VT_NOTIMPL;
    HRESULT RemoveFilter(IBaseFilter*) override VT_NOTIMPL;
    HRESULT EnumFilters(IEnumFilters**) override VT_NOTIMPL;
    HRESULT FindFilterByName(const char*, IBaseFilter**) override VT_NOTIMPL;
    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override {
        ++m_connectDirect;
        if (m_refuseDirect)
            return VFW_E_TYPE_NOT_ACCEPTED;
        auto* pin = static_cast<CFakePin*>(in);
        pin->m_peer = out;
        pin->m_type = *mt;
        return S_OK;
    }
    HRESULT Reconnect(IPin*) override VT_NOTIMPL;
    HRESULT Disconnect(IPin* pin) override {
        ++m_disconnects;
        return pin->Disconnect();
    }
    HRESULT SetDefaultSyncSource() override VT_NOTIMPL;
    HRESULT Connect(IPin* out, IPin* in) override {
        ++m_connect;
        static_cast<CFakePin*>(in)->m_peer = out;
        return S_OK;
    }
    HRESULT Render(IPin*) override VT_NOTIMPL;
    HRESULT RenderFile(const char*, const char*) override VT_NOTIMPL;
    HRESULT AddSourceFilter(const char*, const char*, IBaseFilter**) override VT_NOTIMPL;
    HRESULT Abort() override VT_NOTIMPL;
    HRESULT ShouldOperationContinue() override VT_NOTIMPL;

    int m_disconnects = 0;
    int m_connectDirect = 0;
    int m_connect = 0;
    bool m_refuseDirect = false;
};

// A renderer filter: classic (IBasicVideo2) or mixing (IVMRFilterConfig,
// and IVMRMixerControl in mixing mode), or neither.
class CFakeRenderer : public CUnknownImpl<CFakeRenderer, IBaseFilter, IBasicVideo2> {
public:
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv) {
        *ppv = nullptr;
        if (riid == IBasicVideo::iid && m_basicVideo)
            *ppv = static_cast<IBasicVideo2*>(this);
        else if (riid == IVMRFilterConfig::iid && m_vmr)
            *ppv = reinterpret_cast<IVMRFilterConfig*>(
                static_cast<IUnknown*>(static_cast<IBaseFilter*>(this)));
        else if (riid == IVMRMixerControl::iid && m_mixing)
            *ppv = reinterpret_cast<IVMRMixerControl*>(
                static_cast<IUnknown*>(static_cast<IBaseFilter*>(this)));
        if (!*ppv)
            return E_NOINTERFACE;
        return S_OK;
    }
    // IBaseFilter
    HRESULT GetClassID(CLSID*) override VT_NOTIMPL;
    HRESULT Stop() override VT_NOTIMPL;
    HRESULT Pause() override VT_NOTIMPL;
    HRESULT Run(REFERENCE_TIME) override VT_NOTIMPL;
    HRESULT GetState(DWORD, FILTER_STATE*) override VT_NOTIMPL;
    HRESULT SetSyncSource(IReferenceClock*) override VT_NOTIMPL;
    HRESULT GetSyncSource(IReferenceClock**) override VT_NOTIMPL;
    HRESULT EnumPins(IEnumPins** out) override {
        auto* e = new CFakeEnumPins(m_pin);
        e->AddRef();
        *out = e;
        return S_OK;
    }
    HRESULT FindPin(const char*, IPin**) override VT_NOTIMPL;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override {
        info->pGraph = m_graph;
        if (m_graph)
            m_graph->AddRef();
        return S_OK;
    }
    HRESULT JoinFilterGraph(IFilterGraph*, const char*) override VT_NOTIMPL;
    HRESULT QueryVendorInfo(std::string*) override VT_NOTIMPL;
    // IBasicVideo2
    HRESULT get_AvgTimePerFrame(REFTIME*) override VT_NOTIMPL;
    HRESULT get_BitRate(LONG*) override VT_NOTIMPL;
    HRESULT get_BitErrorRate(LONG*) override VT_NOTIMPL;
    HRESULT get_VideoWidth(LONG*) override VT_NOTIMPL;
    HRESULT get_VideoHeight(LONG*) override VT_NOTIMPL;
    HRESULT SetSourcePosition(LONG, LONG, LONG, LONG) override VT_NOTIMPL;
    HRESULT GetSourcePosition(LONG*, LONG*, LONG*, LONG*) override VT_NOTIMPL;
    HRESULT SetDefaultSourcePosition() override VT_NOTIMPL;
    HRESULT SetDestinationPosition(LONG, LONG, LONG, LONG) override VT_NOTIMPL;
    HRESULT GetDestinationPosition(LONG*, LONG*, LONG*, LONG*) override VT_NOTIMPL;
    HRESULT SetDefaultDestinationPosition() override VT_NOTIMPL;
    HRESULT GetVideoSize(LONG* w, LONG* h) override {
        *w = 720;
        *h = 576;
        return S_OK;
    }
    HRESULT GetCurrentImage(LONG*, LONG*) override VT_NOTIMPL;
    HRESULT IsUsingDefaultSource() override VT_NOTIMPL;
    HRESULT IsUsingDefaultDestination() override VT_NOTIMPL;
    HRESULT GetPreferredAspectRatio(LONG* x, LONG* y) override {
        *x = 16;
        *y = 9;
        return S_OK;
    }

    bool m_basicVideo = true;
    bool m_vmr = false;
    bool m_mixing = false;
    CComPtr<IPin> m_pin;
    CComPtr<IFilterGraph> m_graph;
};

CComPtr<CFakeRenderer> MakeRenderer(bool basicVideo, bool vmr, bool mixing) {
    CComPtr<CFakeRenderer> r(new CFakeRenderer());
    r->m_basicVideo = basicVideo;
    r->m_vmr = vmr;
    r->m_mixing = mixing;
    return r;
}

IBaseFilter* AsFilter(const CComPtr<CFakeRenderer>& r) {
    return static_cast<IBaseFilter*>(r.Get());
}

TEST(VaRendererTest, FreshFrontIsNotRendered) {
    CVaRenderer front;
    EXPECT_FALSE(front.IsRendered());
    VASIZE size{5, 5};
    EXPECT_FALSE(front.GetVideoSize(size));
    EXPECT_EQ(size, (VASIZE{0, 0}));
    EXPECT_EQ(front.CheckFeatures(0), 0);
    EXPECT_FALSE(front.RemovePictureAspect());
    EXPECT_FALSE(front.Attach(nullptr));
    EXPECT_FALSE(front.IsRendered());
}

TEST(VaRendererTest, AttachChoosesTheImplementationFromTheFilter) {
    auto classic = MakeRenderer(true, false, false);
    auto vmr = MakeRenderer(true, true, false);
    auto mixing = MakeRenderer(false, true, true);
    auto neither = MakeRenderer(false, false, false);

    CVaRenderer a;
    ASSERT_TRUE(a.Attach(AsFilter(classic)));
    EXPECT_NE(dynamic_cast<const CVaRendererImplClassical*>(a.GetImpl()), nullptr);
    EXPECT_EQ(a.CheckFeatures(0), 1);
    EXPECT_EQ(a.CheckFeatures(7), 0);
    EXPECT_THROW(a.Attach(AsFilter(vmr)), CNotSupportedException);

    CVaRenderer b;
    ASSERT_TRUE(b.Attach(AsFilter(vmr)));
    EXPECT_NE(dynamic_cast<const CVaRendererImplVMR7*>(b.GetImpl()), nullptr);
    EXPECT_EQ(b.CheckFeatures(0), 1);
    EXPECT_EQ(b.CheckFeatures(7), -1);

    CVaRenderer c;
    ASSERT_TRUE(c.Attach(AsFilter(mixing)));
    EXPECT_EQ(c.CheckFeatures(4), 1);

    CVaRenderer d;
    EXPECT_THROW(d.Attach(AsFilter(neither)), CNotSupportedException);
    EXPECT_FALSE(d.IsRendered());
}

TEST(VaRendererTest, CopiesShareUntilOneDetaches) {
    auto classic = MakeRenderer(true, false, false);
    CVaRenderer a;
    a.Attach(AsFilter(classic));
    CVaRenderer b(a);
    CVaRenderer c;
    c = a;
    EXPECT_EQ(a.GetImpl(), b.GetImpl());
    EXPECT_EQ(a.GetImpl(), c.GetImpl());
    a.Detach();
    EXPECT_FALSE(a.IsRendered());
    EXPECT_TRUE(b.IsRendered());
    EXPECT_EQ(b.GetImpl(), c.GetImpl());
    b = a;
    c = CVaRenderer();
    EXPECT_FALSE(b.IsRendered());
    EXPECT_FALSE(c.IsRendered());
}

TEST(VaRendererTest, VideoSizeFollowsTheProcessWideAspectCorrection) {
    auto classic = MakeRenderer(true, false, false);
    CVaRenderer front;
    front.Attach(AsFilter(classic));
    VASIZE size;
    CVaRenderer::SetAspectCorrection(false);
    ASSERT_TRUE(front.GetVideoSize(size));
    EXPECT_EQ(size, (VASIZE{720, 576}));
    CVaRenderer::SetAspectCorrection(true);
    ASSERT_TRUE(front.GetVideoSize(size));
    EXPECT_EQ(size, (VASIZE{1024, 576}));
    CVaRenderer::SetAspectCorrection(false);
}

// A mixing renderer connected with the given picture aspect ratio.
struct CConnectedVmr {
    CConnectedVmr(DWORD x, DWORD y) {
        renderer = MakeRenderer(true, true, true);
        graph.Attach(new CFakeGraph());
        graph->AddRef();
        pin.Attach(new CFakePin());
        pin->AddRef();
        peer.Attach(new CFakePin());
        peer->AddRef();
        pin->m_peer = peer.Get();
        VIDEOINFOHEADER2 vih;
        vih.rcTarget = RECT{0, 0, 720, 576};
        vih.dwPictAspectRatioX = x;
        vih.dwPictAspectRatioY = y;
        pin->m_type.majortype = MEDIATYPE_Video;
        pin->m_type.formattype = FORMAT_VideoInfo2;
        pin->m_type.SetFormat(&vih, sizeof(vih));
        renderer->m_pin = pin.Get();
        renderer->m_graph = static_cast<IGraphBuilder*>(graph.Get());
    }
    ~CConnectedVmr() {
        // Break the cycles between the fakes.
        pin->m_peer = nullptr;
        renderer->m_pin = nullptr;
        renderer->m_graph = nullptr;
    }
    DWORD RatioX() const {
        return reinterpret_cast<const VIDEOINFOHEADER2*>(pin->m_type.pbFormat)->dwPictAspectRatioX;
    }
    DWORD RatioY() const {
        return reinterpret_cast<const VIDEOINFOHEADER2*>(pin->m_type.pbFormat)->dwPictAspectRatioY;
    }
    CComPtr<CFakeRenderer> renderer;
    CComPtr<CFakeGraph> graph;
    CComPtr<CFakePin> pin;
    CComPtr<CFakePin> peer;
};

TEST(VaRendererTest, RemovePictureAspectReconnectsWithTheTargetRatio) {
    CConnectedVmr vmr(16, 9);
    CVaRenderer front;
    front.Attach(AsFilter(vmr.renderer));
    EXPECT_TRUE(front.RemovePictureAspect());
    EXPECT_EQ(vmr.graph->m_disconnects, 2);
    EXPECT_EQ(vmr.graph->m_connectDirect, 1);
    EXPECT_EQ(vmr.RatioX(), 720u);
    EXPECT_EQ(vmr.RatioY(), 576u);
    // Already at the target's ratio: nothing changes.
    EXPECT_FALSE(front.RemovePictureAspect());
    EXPECT_EQ(vmr.graph->m_disconnects, 2);
}

TEST(VaRendererTest, RemovePictureAspectFallsBackToAnIntelligentConnect) {
    CConnectedVmr vmr(4, 3);
    vmr.graph->m_refuseDirect = true;
    CVaRenderer front;
    front.Attach(AsFilter(vmr.renderer));
    EXPECT_TRUE(front.RemovePictureAspect());
    EXPECT_EQ(vmr.graph->m_connect, 1);
    EXPECT_EQ(vmr.pin->m_peer.Get(), static_cast<IPin*>(vmr.peer.Get()));

    // Outside mixing mode nothing is touched.
    CConnectedVmr plain(16, 9);
    plain.renderer->m_mixing = false;
    CVaRenderer other;
    other.Attach(AsFilter(plain.renderer));
    EXPECT_FALSE(other.RemovePictureAspect());
    EXPECT_EQ(plain.graph->m_disconnects, 0);
}

#undef VT_NOTIMPL

}  // namespace
