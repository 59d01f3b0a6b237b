#include "timeline/VaErrorLogErrorInfo.h"

#include "platform/com/ErrorInfo.h"

HRESULT CVaErrorLogErrorInfo::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid != IUnknown::iid && riid != IAMErrorLog::iid)
        return E_NOINTERFACE;
    *ppv = static_cast<IAMErrorLog*>(this);
    AddRef();
    return S_OK;
}

ULONG CVaErrorLogErrorInfo::AddRef() {
    return ++m_refs;
}

ULONG CVaErrorLogErrorInfo::Release() {
    ULONG n = --m_refs;
    if (n == 0)
        delete this;
    return n;
}

HRESULT CVaErrorLogErrorInfo::LogError(long, const std::string& text, long, HRESULT hr,
                                       const DES_VARIANT* extra) {
    std::string description = text;
    if (extra && extra->kind == DES_VARIANT::String)
        description += "\r\n" + extra->str;
    CComPtr<IErrorInfo> info(static_cast<IErrorInfo*>(new CErrorInfo(description)));
    SetErrorInfo(0, info);
    return hr;
}
