#pragma once
// The exception family of the system. Every failure is a CException kind,
// thrown by value and caught by reference. Each kind composes its message
// (GetErrorMessage) and can show itself (ReportError); ReportException is
// the shared routine that window procedures, commands and timers call.
#include <exception>
#include <string>
#include <vector>

#include "platform/com/ErrorInfo.h"
#include "support/FormatMessage.h"
#include "support/MessageBox.h"

class CException : public std::exception {
public:
    CException() = default;
    CException(const CException&) = default;
    CException& operator=(const CException&) = default;
    ~CException() override = default;

    // Copies the message into buffer (at most size - 1 characters and a
    // terminating zero); false when there is no message or no room.
    virtual bool GetErrorMessage(char* buffer, size_t size, unsigned* helpContext = nullptr) const;
    // The message as composed into a buffer of 2048 characters.
    std::string GetErrorMessage(unsigned* helpContext = nullptr) const;
    // Shows the message; without one, the string of helpId, or a generic text.
    virtual int ReportError(unsigned type = MB_OK, unsigned helpId = 0) const;

    const char* what() const noexcept override;

private:
    mutable std::string m_what;
};

// Failures without text of their own use the framework's fixed texts.
class CSimpleException : public CException {
public:
    explicit CSimpleException(unsigned stringId) : m_stringId(stringId) {}
    using CException::GetErrorMessage;
    bool GetErrorMessage(char* buffer, size_t size, unsigned* helpContext = nullptr) const override;

private:
    unsigned m_stringId;
};

class CMemoryException : public CSimpleException {
public:
    CMemoryException();
};

class CNotSupportedException : public CSimpleException {
public:
    CNotSupportedException();
};

class CResourceException : public CSimpleException {
public:
    CResourceException();
};

// A failure the user already knows about (a cancelled dialog): never shown.
class CUserException : public CException {};

// A file failure with its cause and the file's name.
class CFileException : public CException {
public:
    enum Cause { none, genericException, fileNotFound, badPath, accessDenied, diskFull, endOfFile };
    CFileException(Cause cause, std::string fileName, long osError = -1)
        : m_cause(cause), m_strFileName(std::move(fileName)), m_lOsError(osError) {}
    using CException::GetErrorMessage;
    bool GetErrorMessage(char* buffer, size_t size, unsigned* helpContext = nullptr) const override;

    Cause m_cause;
    std::string m_strFileName;
    long m_lOsError;
};

// A failed HRESULT with the error object that came with it.
class CComException : public CException {
public:
    CComException(HRESULT hr, IErrorInfo* info, bool addRef = true);
    HRESULT Error() const { return m_hr; }
    IErrorInfo* ErrorInfo() const { return m_errorInfo.Get(); }
    // The error object's description, empty without one.
    std::string Description() const;

    using CException::GetErrorMessage;
    bool GetErrorMessage(char* buffer, size_t size, unsigned* helpContext = nullptr) const override;
    int ReportError(unsigned type = MB_OK, unsigned helpId = 0) const override;

private:
    HRESULT m_hr;
    CComPtr<IErrorInfo> m_errorInfo;
};

// A ready-made user-facing message built from a string resource.
class CMessageException : public CException {
public:
    CMessageException(std::string text, unsigned helpContext)
        : m_text(std::move(text)), m_helpContext(helpContext) {}
    const std::string& Text() const { return m_text; }
    unsigned HelpContext() const { return m_helpContext; }

    using CException::GetErrorMessage;
    bool GetErrorMessage(char* buffer, size_t size, unsigned* helpContext = nullptr) const override;
    int ReportError(unsigned type = MB_OK, unsigned helpId = 0) const override;

private:
    std::string m_text;
    unsigned m_helpContext;
};

// Throws CComException with hr and the thread's current error object.
[[noreturn]] void ThrowHResult(HRESULT hr);
// Throws CComException taking over 'info' without adding a reference.
[[noreturn]] void ThrowHResultWithInfo(HRESULT hr, IErrorInfo* info);
// Loads string 'id', fills %1, %2, … with the arguments and throws
// CMessageException with the text and id; a memory exception when the
// string cannot be formatted.
[[noreturn]] void ThrowMessage(unsigned id, const std::vector<va::FormatArg>& args = {});
template <class... Args>
[[noreturn]] void ThrowMessageArgs(unsigned id, Args&&... args) {
    ThrowMessage(id, std::vector<va::FormatArg>{va::FormatArg(std::forward<Args>(args))...});
}

// Every failed call ends here through this check.
inline HRESULT CheckHResult(HRESULT hr) {
    if (FAILED(hr))
        ThrowHResult(hr);
    return hr;
}

// The text to show for an exception, with an optional prefix string.
std::string BuildErrorText(const CException& e, unsigned prefixId, unsigned* helpContext = nullptr);
// Shows an exception to the user (nothing for CUserException); never throws.
void ReportException(const CException& e, unsigned prefixId = 0);
// Shows whatever was caught in the current catch block; never throws.
// Standard exceptions are shown with their what() text.
void ReportCurrentException(unsigned prefixId = 0);

// Runs f and reports anything it throws: for event handlers, timers and
// thread entry points, where nothing may escape.
template <class F>
bool ReportExceptions(F&& f, unsigned prefixId = 0) noexcept {
    try {
        f();
        return true;
    } catch (...) {
        ReportCurrentException(prefixId);
        return false;
    }
}
