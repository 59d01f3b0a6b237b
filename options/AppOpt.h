#pragma once
// CAppOpt: the handle of one option value. It shares a value object with
// its copies; an empty handle reads as false, 0, 0.0, "" and no stream.
#include <cstdint>
#include <string>

#include "options/AppOptValue.h"

class CAppOpt {
public:
    CAppOpt() = default;
    CAppOpt(bool value) : m_pValue(new CAppOptValueBool(value)) {}
    CAppOpt(int32_t value) : m_pValue(new CAppOptValueInt(value)) {}
    CAppOpt(std::string value) : m_pValue(new CAppOptValueString(std::move(value))) {}
    CAppOpt(const char* value) : m_pValue(new CAppOptValueString(value ? value : "")) {}
    CAppOpt(IStream* stream) : m_pValue(new CAppOptValueStream(stream)) {}
    // Takes over a value object with its reference.
    explicit CAppOpt(CAppOptValue* value) : m_pValue(value) {}
    CAppOpt(const CAppOpt& other) : m_pValue(other.m_pValue) {
        if (m_pValue)
            m_pValue->AddRef();
    }
    CAppOpt& operator=(const CAppOpt& other) {
        if (other.m_pValue)
            other.m_pValue->AddRef();
        if (m_pValue)
            m_pValue->Release();
        m_pValue = other.m_pValue;
        return *this;
    }
    virtual ~CAppOpt() {
        if (m_pValue)
            m_pValue->Release();
    }

    virtual bool GetBool() const { return m_pValue && m_pValue->GetBool(); }
    virtual int32_t GetInt() const { return m_pValue ? m_pValue->GetInt() : 0; }
    virtual double GetDouble() const { return m_pValue ? m_pValue->GetDouble() : 0.0; }
    virtual std::string GetString() const {
        return m_pValue ? m_pValue->GetString() : std::string();
    }
    virtual CComPtr<IStream> GetStream() const {
        return m_pValue ? m_pValue->GetStream() : nullptr;
    }

    bool IsEmpty() const { return m_pValue == nullptr; }
    const CAppOptValue* GetValue() const { return m_pValue; }
    // True only when both hold values and the values compare equal.
    bool Equals(const CAppOpt& other) const {
        return m_pValue && other.m_pValue && m_pValue->Equals(*other.m_pValue);
    }

private:
    CAppOptValue* m_pValue = nullptr;
};
