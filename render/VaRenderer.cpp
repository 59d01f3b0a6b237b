#include "render/VaRenderer.h"

#include "support/Exception.h"

CVaRenderer::CVaRenderer() : m_impl(new CVaRendererImplNotRendered) {}

CVaRenderer::CVaRenderer(const CVaRenderer& other) : m_impl(other.m_impl) {
    ++m_impl->m_nRefs;
}

CVaRenderer& CVaRenderer::operator=(const CVaRenderer& other) {
    if (m_impl != other.m_impl) {
        ++other.m_impl->m_nRefs;
        Replace(other.m_impl);
    }
    return *this;
}

CVaRenderer::~CVaRenderer() {
    if (--m_impl->m_nRefs == 0)
        delete m_impl;
}

void CVaRenderer::Replace(CVaRendererImpl* impl) {
    CVaRendererImpl* old = m_impl;
    m_impl = impl;
    if (--old->m_nRefs == 0)
        delete old;
}

bool CVaRenderer::Attach(IBaseFilter* filter) {
    if (IsRendered())
        throw CNotSupportedException();
    if (!filter)
        return false;
    CComPtr<IVMRFilterConfig> vmr(filter);
    if (vmr) {
        Replace(new CVaRendererImplVMR7(filter));
        return true;
    }
    CComPtr<IBasicVideo> basicVideo(filter);
    if (basicVideo) {
        Replace(new CVaRendererImplClassical(filter));
        return true;
    }
    throw CNotSupportedException();
}

void CVaRenderer::Detach() {
    if (IsRendered())
        Replace(new CVaRendererImplNotRendered);
}

bool CVaRenderer::GetVideoSize(VASIZE& size) const {
    size = VASIZE{};
    if (!IsRendered())
        return false;
    return m_impl->GetVideoSize(size);
}

bool CVaRenderer::RemovePictureAspect() {
    return IsRendered() && m_impl->RemovePictureAspect();
}
