#pragma once
// Persistence of objects: property bags (named values) and streams, and a
// simple property bag that keeps its values in memory and in a text file.
#include <map>
#include <string>

#include "platform/com/Dispatch.h"
#include "platform/com/IPersist.h"
#include "platform/com/Stream.h"

struct IErrorLog : IUnknown {
    VA_INTERFACE_ID("3127CA40-446E-11CE-8135-00AA004BB851");
    virtual HRESULT AddError(const std::string& propertyName, EXCEPINFO* info) = 0;
};

struct IPropertyBag : IUnknown {
    VA_INTERFACE_ID("55272A00-42CB-11CE-8135-00AA004BB851");
    // E_INVALIDARG when the bag has no such value; a value of a type other
    // than the one asked for (*value's vt, VT_EMPTY for any) is converted.
    virtual HRESULT Read(const std::string& name, VARIANT* value, IErrorLog* log) = 0;
    virtual HRESULT Write(const std::string& name, const VARIANT* value) = 0;
};


struct IPersistPropertyBag : IPersist {
    VA_INTERFACE_ID("37D84F60-42CB-11CE-8135-00AA004BB851");
    virtual HRESULT InitNew() = 0;
    virtual HRESULT Load(IPropertyBag* bag, IErrorLog* log) = 0;
    virtual HRESULT Save(IPropertyBag* bag, bool clearDirty, bool saveAll) = 0;
};

struct IPersistStreamInit : IPersist {
    VA_INTERFACE_ID("7FD52380-4E07-101B-AE2D-08002B2EC713");
    // S_OK when changed since the last save, else S_FALSE.
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, bool clearDirty) = 0;
    virtual HRESULT GetSizeMax(uint64_t* size) = 0;
    virtual HRESULT InitNew() = 0;
};

// A property bag in memory; names compare without regard to case. Saved
// as a text file of "Name=Value" lines (values as text; backslash, line
// feed and carriage return escaped as \\, \n and \r).
class CPropertyBag : public CUnknownImpl<CPropertyBag, IPropertyBag> {
public:
    HRESULT Read(const std::string& name, VARIANT* value, IErrorLog* log) override;
    HRESULT Write(const std::string& name, const VARIANT* value) override;

    // Replaces the contents with the file's; false (contents unchanged) when
    // it cannot be read or a line is not "Name=Value".
    bool LoadFile(const std::string& path, std::string* error = nullptr);
    bool SaveFile(const std::string& path, std::string* error = nullptr) const;
    size_t Count() const { return m_values.size(); }

private:
    struct CNoCase {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    std::map<std::string, VARIANT, CNoCase> m_values;
    std::vector<std::string> m_order;
};
