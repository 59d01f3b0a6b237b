#pragma once
// The typed value objects behind option handles: bool, 32-bit integer,
// string and stream, each converting itself to the other forms. A value is
// shared by the handles that refer to it and counts them (starting at 1).
#include <cstdint>
#include <string>

#include "platform/com/ComPtr.h"
#include "platform/com/Stream.h"

class CAppOptStg;

class CAppOptValue {
public:
    CAppOptValue() = default;
    CAppOptValue(const CAppOptValue&) = delete;
    CAppOptValue& operator=(const CAppOptValue&) = delete;
    virtual ~CAppOptValue() = default;

    virtual bool GetBool() const = 0;
    virtual int32_t GetInt() const = 0;
    virtual double GetDouble() const = 0;
    virtual std::string GetString() const = 0;
    // The stream rewound to its start, with a reference of the caller's own;
    // null for every other kind.
    virtual CComPtr<IStream> GetStream() const { return nullptr; }

    // Compares with another value: asks the other value to compare itself
    // with this one's own type.
    virtual bool Equals(const CAppOptValue& other) const = 0;
    virtual bool EqualsBool(bool) const { return false; }
    virtual bool EqualsInt(int32_t) const { return false; }
    virtual bool EqualsStream(IStream*) const { return false; }
    virtual bool EqualsString(const std::string&) const { return false; }
    // Compares the string forms of both values byte-wise.
    virtual bool EqualsAny(const CAppOptValue& other) const {
        return GetString() == other.GetString();
    }

    // Writes the value to the storage with the storage's operation for its type.
    virtual void Write(CAppOptStg& storage, const std::string& section,
                       const std::string& name) const = 0;

    void AddRef() { ++m_nRefs; }
    void Release() {
        if (--m_nRefs == 0)
            delete this;
    }
    int32_t RefCount() const { return m_nRefs; }

private:
    int32_t m_nRefs = 1;
};

class CAppOptValueBool : public CAppOptValue {
public:
    explicit CAppOptValueBool(bool value) : m_value(value) {}
    bool GetBool() const override { return m_value; }
    int32_t GetInt() const override { return m_value ? 1 : 0; }
    double GetDouble() const override { return m_value ? 1.0 : 0.0; }
    std::string GetString() const override { return m_value ? "1" : "0"; }
    bool Equals(const CAppOptValue& other) const override { return other.EqualsBool(m_value); }
    bool EqualsBool(bool value) const override { return value == m_value; }
    void Write(CAppOptStg& storage, const std::string& section,
               const std::string& name) const override;

private:
    bool m_value;
};

class CAppOptValueInt : public CAppOptValue {
public:
    explicit CAppOptValueInt(int32_t value) : m_value(value) {}
    bool GetBool() const override { return m_value != 0; }
    int32_t GetInt() const override { return m_value; }
    double GetDouble() const override { return m_value; }
    std::string GetString() const override { return std::to_string(m_value); }
    bool Equals(const CAppOptValue& other) const override { return other.EqualsInt(m_value); }
    bool EqualsInt(int32_t value) const override { return value == m_value; }
    void Write(CAppOptStg& storage, const std::string& section,
               const std::string& name) const override;

private:
    int32_t m_value;
};

class CAppOptValueString : public CAppOptValue {
public:
    explicit CAppOptValueString(std::string value) : m_value(std::move(value)) {}
    // Empty: false. First character '0': false; another digit or an upper-case
    // 'T': true. "on", "yes", "ja" in any case: true. Anything else: false.
    bool GetBool() const override;
    // strtol with base 0: "0x10" is 16, "010" is 8.
    int32_t GetInt() const override;
    double GetDouble() const override;
    std::string GetString() const override { return m_value; }
    bool Equals(const CAppOptValue& other) const override { return other.EqualsString(m_value); }
    bool EqualsString(const std::string& value) const override { return value == m_value; }
    void Write(CAppOptStg& storage, const std::string& section,
               const std::string& name) const override;

private:
    std::string m_value;
};

class CAppOptValueStream : public CAppOptValue {
public:
    explicit CAppOptValueStream(IStream* stream) : m_stream(stream) {}
    bool GetBool() const override { return false; }
    int32_t GetInt() const override { return 0; }
    double GetDouble() const override { return 0.0; }
    std::string GetString() const override { return {}; }
    CComPtr<IStream> GetStream() const override;
    // Streams are never taken as equal, so setting one always stores it.
    bool Equals(const CAppOptValue& other) const override {
        return other.EqualsStream(m_stream.Get());
    }
    void Write(CAppOptStg& storage, const std::string& section,
               const std::string& name) const override;

private:
    CComPtr<IStream> m_stream;
};
