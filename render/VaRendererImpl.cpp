#include "render/VaRendererImpl.h"

#include <atomic>
#include <cstdlib>

#include "support/Exception.h"

namespace {

std::atomic<bool> g_aspectCorrection{false};

// MPEG-2 video carries a VIDEOINFOHEADER2 at the start of its format block.
constexpr GUID kFormatMpeg2Video = MakeGuid("E06D80E3-DB46-11CF-B4D1-00805F6CBBEA");

LONG MulDiv(LONG number, LONG numerator, LONG denominator) {
    if (denominator == 0)
        return -1;
    int64_t product = int64_t(number) * numerator;
    // Rounded half away from zero, as the system routine does.
    int64_t half = std::llabs(denominator) / 2;
    int64_t result = ((product < 0) != (denominator < 0)) ? (product - half) / denominator
                                                          : (product + half) / denominator;
    return LONG(result);
}

// Frees the media type's block when the scope ends.
struct CMediaTypeGuard {
    AM_MEDIA_TYPE mt{};
    ~CMediaTypeGuard() { FreeMediaType(mt); }
};

}  // namespace

void SetRendererAspectCorrection(bool on) {
    g_aspectCorrection.store(on);
}
bool GetRendererAspectCorrection() {
    return g_aspectCorrection.load();
}

bool CVaRendererImplBase::GetVideoSize(VASIZE& size) const {
    CComPtr<IBasicVideo> basicVideo(m_filter.Get());
    if (!basicVideo)
        return false;
    LONG width = 0;
    LONG height = 0;
    if (FAILED(basicVideo->GetVideoSize(&width, &height)))
        return false;
    if (GetRendererAspectCorrection()) {
        CComPtr<IBasicVideo2> basicVideo2(m_filter.Get());
        LONG x = 0;
        LONG y = 0;
        if (basicVideo2 && SUCCEEDED(basicVideo2->GetPreferredAspectRatio(&x, &y)) && x > 0 &&
            y > 0)
            width = MulDiv(x, height, y);
    }
    size.cx = width;
    size.cy = height;
    return true;
}

int CVaRendererImplVMR7::CheckFeatures(int mask) const {
    if ((mask & 7) == 0)
        return 1;
    CComPtr<IVMRMixerControl> mixer(m_filter.Get());
    return mixer ? 1 : -1;
}

bool CVaRendererImplVMR7::RemovePictureAspect() {
    CComPtr<IVMRMixerControl> mixer(m_filter.Get());
    if (!mixer)
        return false;

    FILTER_INFO info;
    CheckHResult(m_filter->QueryFilterInfo(&info));
    CComPtr<IFilterGraph> graphOwner;
    graphOwner.Attach(info.pGraph);
    CComPtr<IGraphBuilder> graph(graphOwner.Get());
    if (!graph)
        ThrowHResult(E_NOINTERFACE);

    // The first input pin that is connected, and its peer.
    CComPtr<IEnumPins> pins;
    CheckHResult(m_filter->EnumPins(&pins));
    CComPtr<IPin> pin;
    CComPtr<IPin> peer;
    for (;;) {
        CComPtr<IPin> candidate;
        ULONG fetched = 0;
        if (pins->Next(1, &candidate, &fetched) != S_OK || fetched == 0)
            break;
        CComPtr<IPin> connected;
        if (SUCCEEDED(candidate->ConnectedTo(&connected)) && connected) {
            pin = candidate;
            peer = connected;
            break;
        }
    }
    if (!pin)
        return false;

    CMediaTypeGuard type;
    if (FAILED(pin->ConnectionMediaType(&type.mt)))
        return false;
    if ((type.mt.formattype != FORMAT_VideoInfo2 && type.mt.formattype != kFormatMpeg2Video) ||
        !type.mt.pbFormat || type.mt.cbFormat < sizeof(VIDEOINFOHEADER2))
        return false;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(type.mt.pbFormat);
    LONG w = std::labs(vih->rcTarget.right - vih->rcTarget.left);
    LONG h = std::labs(vih->rcTarget.bottom - vih->rcTarget.top);
    if (vih->dwPictAspectRatioX == 0 || vih->dwPictAspectRatioY == 0 || w == 0 || h == 0)
        return false;
    if (uint64_t(vih->dwPictAspectRatioY) * uint64_t(w) ==
        uint64_t(vih->dwPictAspectRatioX) * uint64_t(h))
        return false;

    vih->dwPictAspectRatioX = DWORD(w);
    vih->dwPictAspectRatioY = DWORD(h);
    CheckHResult(graph->Disconnect(peer));
    CheckHResult(graph->Disconnect(pin));
    // The peer may refuse the changed type; then let the graph find a way.
    HRESULT hr = graph->ConnectDirect(peer, pin, &type.mt);
    if (FAILED(hr))
        CheckHResult(graph->Connect(peer, pin));
    return true;
}
