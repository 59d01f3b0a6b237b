#include "playback/VaAMGraphBuilderCallback.h"

#include <exception>

HRESULT CVaAMGraphBuilderCallback::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IUnknown::iid || riid == IAMGraphBuilderCallback::iid) {
        *ppv = static_cast<IAMGraphBuilderCallback*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// The owner takes over the reference added here and releases it.
HRESULT CVaAMGraphBuilderCallback::SelectedFilter(IMoniker* moniker) {
    if (!m_owner)
        return E_FAIL;
    if (moniker)
        moniker->AddRef();
    try {
        return m_owner->SelectedFilter(moniker) ? S_OK : E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CVaAMGraphBuilderCallback::CreatedFilter(IBaseFilter* filter) {
    if (!m_owner)
        return E_FAIL;
    if (filter)
        filter->AddRef();
    try {
        m_owner->CreatedFilter(filter);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}
