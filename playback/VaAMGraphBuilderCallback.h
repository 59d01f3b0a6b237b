#pragma once
// CVaAMGraphBuilderCallback: the graph builder's callback object, handed to
// the graph as its site. It forwards each call to its owner and turns
// anything the owner throws into E_FAIL. The graph wrapper owns the object,
// so AddRef and Release do nothing.
#include "platform/dshow/DShow.h"
#include "playback/VaGraphBuilderCallback.h"

class CVaAMGraphBuilderCallback : public IAMGraphBuilderCallback {
public:
    explicit CVaAMGraphBuilderCallback(IVaGraphBuilderCallback* owner) : m_owner(owner) {}
    virtual ~CVaAMGraphBuilderCallback() = default;
    CVaAMGraphBuilderCallback(const CVaAMGraphBuilderCallback&) = delete;
    CVaAMGraphBuilderCallback& operator=(const CVaAMGraphBuilderCallback&) = delete;

    void SetOwner(IVaGraphBuilderCallback* owner) { m_owner = owner; }
    IVaGraphBuilderCallback* GetOwner() const { return m_owner; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    HRESULT SelectedFilter(IMoniker* moniker) override;
    HRESULT CreatedFilter(IBaseFilter* filter) override;

private:
    IVaGraphBuilderCallback* m_owner;
};
