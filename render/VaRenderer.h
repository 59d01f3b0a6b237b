#pragma once
// CVaRenderer: the one object that stands for the video renderer of the
// current graph, whatever renderer the graph ended up with. Copies share
// one implementation; Attach chooses it from the renderer filter's
// interfaces, Detach returns to "not rendered".
#include "render/VaRendererImpl.h"

class CVaRenderer {
public:
    CVaRenderer();
    CVaRenderer(const CVaRenderer& other);
    CVaRenderer& operator=(const CVaRenderer& other);
    ~CVaRenderer();

    bool IsRendered() const { return m_impl->IsRendered(); }
    // Binds the front to the graph's video renderer filter. False for a null
    // filter; CNotSupportedException when already bound or when the filter
    // is neither a mixing renderer nor offers IBasicVideo.
    bool Attach(IBaseFilter* filter);
    void Detach();

    // 0 x 0 unless rendered.
    bool GetVideoSize(VASIZE& size) const;
    int CheckFeatures(int mask) const { return m_impl->CheckFeatures(mask); }
    bool RemovePictureAspect();
    CVaRendererOverlay* GetOverlay(int index) const { return nullptr; }

    // The implementation (tests and diagnostics).
    const CVaRendererImpl* GetImpl() const { return m_impl; }

    // The process-wide aspect correction applied by GetVideoSize.
    static void SetAspectCorrection(bool on) { SetRendererAspectCorrection(on); }
    static bool GetAspectCorrection() { return GetRendererAspectCorrection(); }

private:
    void Replace(CVaRendererImpl* impl);
    CVaRendererImpl* m_impl;
};
