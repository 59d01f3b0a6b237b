#pragma once
// The implementations behind the renderer front CVaRenderer: one for each
// kind of video renderer the graph may hold, and one for "no video".
#include "platform/com/ComPtr.h"
#include "platform/dshow/DShow.h"

// A width and a height in pixels.
struct VASIZE {
    LONG cx = 0;
    LONG cy = 0;
    friend bool operator==(const VASIZE&, const VASIZE&) = default;
};

// An overlay the renderer could draw over the video; this system keeps none.
struct CVaRendererOverlay {};

class CVaRendererImpl {
public:
    CVaRendererImpl() = default;
    CVaRendererImpl(const CVaRendererImpl&) = delete;
    CVaRendererImpl& operator=(const CVaRendererImpl&) = delete;

    virtual bool IsRendered() const { return false; }
    virtual ~CVaRendererImpl() = default;
    // 1: the features of 'mask' are available, 0: not, -1: only in mixing mode.
    virtual int CheckFeatures(int mask) const { return 0; }
    // Makes the renderer ignore the stream's picture aspect ratio.
    virtual bool RemovePictureAspect() { return false; }
    virtual bool GetVideoSize(VASIZE& size) const { return false; }
    virtual CVaRendererOverlay* GetOverlay(int index) const { return nullptr; }

    // The holders' count; single-threaded use.
    int m_nRefs = 1;
};

class CVaRendererImplNotRendered : public CVaRendererImpl {};

// An implementation bound to a renderer filter of the graph.
class CVaRendererImplBase : public CVaRendererImpl {
public:
    explicit CVaRendererImplBase(IBaseFilter* filter) : m_filter(filter) {}

    bool IsRendered() const override { return m_filter != nullptr; }
    int CheckFeatures(int mask) const override { return mask == 0 ? 1 : 0; }
    // The native size; with the process-wide aspect correction the width
    // follows the preferred picture aspect ratio.
    bool GetVideoSize(VASIZE& size) const override;
    IBaseFilter* GetFilter() const { return m_filter.Get(); }

protected:
    CComPtr<IBaseFilter> m_filter;
};

// The classic video renderer, or any renderer that offers IBasicVideo.
class CVaRendererImplClassical : public CVaRendererImplBase {
public:
    using CVaRendererImplBase::CVaRendererImplBase;
};

// The mixing renderer (it answers IVMRFilterConfig).
class CVaRendererImplVMR7 : public CVaRendererImplBase {
public:
    using CVaRendererImplBase::CVaRendererImplBase;
    int CheckFeatures(int mask) const override;
    bool RemovePictureAspect() override;
};

// The aspect-correction switch shared by every renderer front of the process.
void SetRendererAspectCorrection(bool on);
bool GetRendererAspectCorrection();
