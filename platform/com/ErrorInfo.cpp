#include "platform/com/ErrorInfo.h"

namespace {
thread_local CComPtr<IErrorInfo> t_errorInfo;
}

HRESULT CErrorInfo::GetGUID(GUID* guid) {
    if (!guid)
        return E_POINTER;
    *guid = m_guid;
    return S_OK;
}
HRESULT CErrorInfo::GetSource(std::string* source) {
    if (!source)
        return E_POINTER;
    *source = m_source;
    return S_OK;
}
HRESULT CErrorInfo::GetDescription(std::string* description) {
    if (!description)
        return E_POINTER;
    *description = m_description;
    return S_OK;
}
HRESULT CErrorInfo::GetHelpFile(std::string* helpFile) {
    if (!helpFile)
        return E_POINTER;
    helpFile->clear();
    return S_OK;
}
HRESULT CErrorInfo::GetHelpContext(DWORD* helpContext) {
    if (!helpContext)
        return E_POINTER;
    *helpContext = 0;
    return S_OK;
}

HRESULT SetErrorInfo(DWORD reserved, IErrorInfo* info) {
    if (reserved != 0)
        return E_INVALIDARG;
    t_errorInfo = info;
    return S_OK;
}

HRESULT GetErrorInfo(DWORD reserved, IErrorInfo** info) {
    if (reserved != 0)
        return E_INVALIDARG;
    if (!info)
        return E_POINTER;
    *info = t_errorInfo.Detach();
    return *info ? S_OK : S_FALSE;
}

void SetErrorDescription(const std::string& description, const std::string& source) {
    CComPtr<IErrorInfo> info(new CErrorInfo(description, source));
    SetErrorInfo(0, info);
}
