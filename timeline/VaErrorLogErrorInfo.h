#pragma once
// An error log that turns each entry of the editing services into the
// calling thread's error information, so that the exception raised for the
// failing call carries the services' description. Its count starts at 0;
// it deletes itself when the count returns to 0.
#include <atomic>

#include "platform/des/Des.h"

class CVaErrorLogErrorInfo : public IAMErrorLog {
public:
    CVaErrorLogErrorInfo() = default;
    CVaErrorLogErrorInfo(const CVaErrorLogErrorInfo&) = delete;
    CVaErrorLogErrorInfo& operator=(const CVaErrorLogErrorInfo&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    // The description is the text, followed by "\r\n" and the extra
    // information when that is a string. Returns hr.
    HRESULT LogError(long severity, const std::string& text, long errorCode, HRESULT hr,
                     const DES_VARIANT* extra) override;

private:
    ~CVaErrorLogErrorInfo() = default;

    std::atomic<ULONG> m_refs{0};
};
