#include "playlist/XMLException.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/com/ErrorText.h"
#include "support/Strings.h"

CXMLException::CXMLException(HRESULT hr, IErrorInfo* info, bool addRef) : m_hr(hr) {
    if (addRef)
        m_errorInfo = info;
    else
        m_errorInfo.Attach(info);
}

std::string CXMLException::Description() const {
    std::string description;
    if (m_errorInfo)
        m_errorInfo->GetDescription(&description);
    return description;
}

bool CXMLException::GetErrorMessage(char* buffer, size_t size, unsigned* helpContext) const {
    if (helpContext)
        *helpContext = 0;
    if (!buffer || size < 2)
        return false;
    std::string text = va::TrimLeft(Description());
    if (text.empty()) {
        text = FormatSystemMessage(m_hr);
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
            text.resize(text.size() - 2);
        else if (!text.empty() && text.back() == '\n')
            text.pop_back();
    }
    if (text.empty()) {
        char generic[64];
        uint32_t value = static_cast<uint32_t>(m_hr);
        if (value > 0x80040200u && (value >> 16) == 0x8004u)
            std::snprintf(generic, sizeof generic, "IDispatch error #%d",
                          static_cast<int>(value - 0x80040200u));
        else
            std::snprintf(generic, sizeof generic, "Unknown error 0x%0lX",
                          static_cast<unsigned long>(value));
        text = generic;
    }
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return true;
}

void ThrowXMLException(HRESULT hr) {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK)
        info = nullptr;
    throw CXMLException(hr, info, false);
}
