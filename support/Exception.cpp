#include "support/Exception.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/com/ErrorText.h"
#include "resources/StringTable.h"
#include "support/Strings.h"

namespace {

constexpr size_t kMessageBufferSize = 2048;

// lstrcpyn: copies at most size - 1 characters and always terminates.
void CopyText(char* buffer, size_t size, const std::string& text) {
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// Appends when the whole piece still fits with its terminating zero.
bool AppendIfFits(char* buffer, size_t size, const std::string& piece) {
    size_t len = std::strlen(buffer);
    if (len + piece.size() + 1 > size)
        return false;
    std::memcpy(buffer + len, piece.data(), piece.size() + 1);
    return true;
}

std::string StripOneLineBreak(std::string text) {
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
        text.resize(text.size() - 2);
    else if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

}  // namespace

// --- CException ---------------------------------------------------------------

bool CException::GetErrorMessage(char* buffer, size_t size, unsigned* helpContext) const {
    if (helpContext)
        *helpContext = 0;
    if (buffer && size)
        buffer[0] = '\0';
    return false;
}

std::string CException::GetErrorMessage(unsigned* helpContext) const {
    char buffer[kMessageBufferSize];
    buffer[0] = '\0';
    if (!GetErrorMessage(buffer, sizeof buffer, helpContext))
        return {};
    return buffer;
}

int CException::ReportError(unsigned type, unsigned helpId) const {
    std::string text = GetErrorMessage();
    if (!text.empty())
        return AfxMessageBox(text, type, helpId);
    if (helpId)
        return AfxMessageBox(helpId, type, helpId);
    return AfxMessageBox(AFX_IDP_NO_ERROR_AVAILABLE, type);
}

const char* CException::what() const noexcept {
    try {
        if (m_what.empty())
            m_what = GetErrorMessage();
        return m_what.c_str();
    } catch (...) {
        return "velotrax exception";
    }
}

// --- simple kinds ------------------------------------------------------------

bool CSimpleException::GetErrorMessage(char* buffer, size_t size, unsigned* helpContext) const {
    if (helpContext)
        *helpContext = 0;
    if (!buffer || size < 2)
        return false;
    std::string text;
    if (!TryLoadString(m_stringId, text))
        return false;
    CopyText(buffer, size, text);
    return true;
}

CMemoryException::CMemoryException() : CSimpleException(AFX_IDP_FAILED_MEMORY_ALLOC) {}
CNotSupportedException::CNotSupportedException() : CSimpleException(AFX_IDP_NOT_SUPPORTED) {}
CResourceException::CResourceException() : CSimpleException(AFX_IDP_RESOURCE_FAILURE) {}

bool CFileException::GetErrorMessage(char* buffer, size_t size, unsigned* helpContext) const {
    if (helpContext)
        *helpContext = 0;
    if (!buffer || size < 2)
        return false;
    unsigned id = m_cause == fileNotFound   ? AFX_IDP_FILE_NOT_FOUND
                  : m_cause == accessDenied ? AFX_IDP_FILE_ACCESS_DENIED
                                            : AFX_IDP_FILE_GENERIC;
    if (helpContext)
        *helpContext = id;
    auto text = va::FormatMessageString(LoadResString(id), {m_strFileName});
    if (!text)
        return false;
    CopyText(buffer, size, *text);
    return true;
}

// --- CComException ----------------------------------------------------------

CComException::CComException(HRESULT hr, IErrorInfo* info, bool addRef) : m_hr(hr) {
    if (addRef)
        m_errorInfo = info;
    else
        m_errorInfo.Attach(info);
}

std::string CComException::Description() const {
    std::string description;
    if (m_errorInfo)
        m_errorInfo->GetDescription(&description);
    return description;
}

bool CComException::GetErrorMessage(char* buffer, size_t size, unsigned* helpContext) const {
    if (helpContext)
        *helpContext = 0;
    if (!buffer || size < 2)
        return false;

    std::string base = AMGetErrorText(m_hr);
    if (base.empty())
        base = StripOneLineBreak(FormatSystemMessage(m_hr));
    if (base.empty()) {
        if (size < 32)
            return false;
        char text[64];
        uint32_t value = static_cast<uint32_t>(m_hr);
        uint32_t code = (value - 0x200u) & 0xFFFFu;
        if (value >= 0x80040200u && value <= 0x8004FFFFu && code != 0)
            std::snprintf(text, sizeof text, "IDispatch error #%d", static_cast<int>(code));
        else
            std::snprintf(text, sizeof text, "Unknown error 0x%0lX",
                          static_cast<unsigned long>(value));
        base = text;
    }
    CopyText(buffer, size, base);

    std::string description = va::Trim(Description());
    if (!description.empty()) {
        std::string trimmedBase = va::TrimRight(buffer);
        size_t n = std::min(trimmedBase.size(), description.size());
        bool repeats = va::EqualsNoCase(std::string_view(trimmedBase).substr(0, n),
                                        std::string_view(description).substr(0, n));
        if (!repeats)
            AppendIfFits(buffer, size, "\r\n" + description + "\r\n");
    }

    char code[32];
    std::snprintf(code, sizeof code, "\r\nCode: 0x%08X", static_cast<unsigned>(m_hr));
    AppendIfFits(buffer, size, code);
    return true;
}

int CComException::ReportError(unsigned type, unsigned helpId) const {
    char buffer[kMessageBufferSize];
    if (GetErrorMessage(buffer, sizeof buffer))
        return AfxMessageBox(std::string(buffer), type, helpId);
    if (helpId)
        return AfxMessageBox(helpId, type, helpId);
    return IDABORT;
}

// --- CMessageException --------------------------------------------------------

bool CMessageException::GetErrorMessage(char* buffer, size_t size, unsigned* helpContext) const {
    if (helpContext)
        *helpContext = m_helpContext;
    if (!buffer || size < 2)
        return false;
    CopyText(buffer, size, m_text);
    return true;
}

int CMessageException::ReportError(unsigned type, unsigned helpId) const {
    if (!m_text.empty())
        return AfxMessageBox(m_text, type, m_helpContext);
    if (helpId)
        return AfxMessageBox(helpId, type, helpId);
    return IDABORT;
}

// --- throwing ----------------------------------------------------------------

void ThrowHResult(HRESULT hr) {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK)
        info = nullptr;
    throw CComException(hr, info, false);
}

void ThrowHResultWithInfo(HRESULT hr, IErrorInfo* info) {
    throw CComException(hr, info, false);
}

void ThrowMessage(unsigned id, const std::vector<va::FormatArg>& args) {
    std::optional<std::string> text;
    try {
        text = va::FormatMessageString(LoadResString(id), args);
    } catch (const std::bad_alloc&) {
        throw CMemoryException();
    }
    if (!text)
        throw CMemoryException();
    throw CMessageException(std::move(*text), id);
}

// --- reporting ----------------------------------------------------------------

std::string BuildErrorText(const CException& e, unsigned prefixId, unsigned* helpContext) {
    if (helpContext)
        *helpContext = 0;
    if (dynamic_cast<const CUserException*>(&e))
        return {};
    std::string result;
    try {
        unsigned context = 0;
        std::string message = e.GetErrorMessage(&context);
        if (helpContext)
            *helpContext = context;
        std::string prefix;
        if (prefixId) {
            prefix = LoadResString(prefixId);
            if (prefix == message)
                prefix.clear();
        }
        result = prefix;
        if (!prefix.empty() && !message.empty())
            result += "\r\n\r\n";
        result += message;
    } catch (...) {
        // the text stays as far as it got
    }
    return va::TrimRight(result);
}

void ReportException(const CException& e, unsigned prefixId) {
    if (dynamic_cast<const CUserException*>(&e))
        return;
    try {
        unsigned helpContext = 0;
        std::string text = BuildErrorText(e, prefixId, &helpContext);
        if (text.empty())
            text = StripOneLineBreak(FormatSystemMessage(E_FAIL));
        unsigned type = MB_ICONEXCLAMATION;
        if (dynamic_cast<const CMemoryException*>(&e))
            type |= MB_SYSTEMMODAL;
        AfxMessageBox(text, type, helpContext);
    } catch (const CException& inner) {
        try {
            inner.ReportError();
        } catch (...) {
        }
    } catch (...) {
    }
}

void ReportCurrentException(unsigned prefixId) {
    try {
        throw;
    } catch (const CException& e) {
        ReportException(e, prefixId);
    } catch (const std::bad_alloc&) {
        ReportException(CMemoryException(), prefixId);
    } catch (const std::exception& e) {
        try {
            ReportException(CMessageException(e.what(), 0), prefixId);
        } catch (...) {
        }
    } catch (...) {
        ReportException(CComException(E_UNEXPECTED, nullptr), prefixId);
    }
}
