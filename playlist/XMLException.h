#pragma once
// The exception of the XML access layer: a failed HRESULT of an XML call
// together with the error object the call left, if any.
#include "playlist/XMLBase.h"
#include "support/Exception.h"

class CXMLException : public CException {
public:
    CXMLException(HRESULT hr, IErrorInfo* info, bool addRef = true);
    HRESULT Error() const { return m_hr; }
    IErrorInfo* ErrorInfo() const { return m_errorInfo.Get(); }
    // The error object's description, empty without one.
    std::string Description() const;

    // The description when there is one, else the system's text for the
    // HRESULT, else a generic text naming the code.
    bool GetErrorMessage(char* buffer, size_t size, unsigned* helpContext = nullptr) const override;
    using CException::GetErrorMessage;

private:
    HRESULT m_hr;
    CXMLRef<IErrorInfo> m_errorInfo;
};

// Throws CXMLException with hr and the thread's current error object.
[[noreturn]] void ThrowXMLException(HRESULT hr);
// Throws CXMLException when hr failed; returns hr otherwise.
inline HRESULT CheckXMLResult(HRESULT hr) {
    if (FAILED(hr))
        ThrowXMLException(hr);
    return hr;
}
