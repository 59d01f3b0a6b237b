#pragma once
// Error objects: a description (and source) that travels with a failed
// HRESULT. Each thread has one current error object, set by the code that
// fails and taken by the code that throws.
#include <string>

#include "platform/com/ComPtr.h"

struct IErrorInfo : IUnknown {
    VA_INTERFACE_ID("1CF2B120-547D-101B-8E65-08002B2BD119");
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(std::string* source) = 0;
    virtual HRESULT GetDescription(std::string* description) = 0;
    virtual HRESULT GetHelpFile(std::string* helpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* helpContext) = 0;
};

// The plain error object; fields are set once when it is made.
class CErrorInfo : public CUnknownImpl<CErrorInfo, IErrorInfo> {
public:
    explicit CErrorInfo(std::string description, std::string source = {}, GUID guid = GUID_NULL)
        : m_description(std::move(description)), m_source(std::move(source)), m_guid(guid) {}

    HRESULT GetGUID(GUID* guid) override;
    HRESULT GetSource(std::string* source) override;
    HRESULT GetDescription(std::string* description) override;
    HRESULT GetHelpFile(std::string* helpFile) override;
    HRESULT GetHelpContext(DWORD* helpContext) override;

private:
    std::string m_description;
    std::string m_source;
    GUID m_guid;
};

// Sets the calling thread's error object (null clears it). 'reserved' must be 0.
HRESULT SetErrorInfo(DWORD reserved, IErrorInfo* info);
// Takes the calling thread's error object: *info receives it with a reference
// the caller owns, and the thread has none afterwards. S_FALSE when there is none.
HRESULT GetErrorInfo(DWORD reserved, IErrorInfo** info);

// Convenience: makes an error object with the description and sets it.
void SetErrorDescription(const std::string& description, const std::string& source = {});
