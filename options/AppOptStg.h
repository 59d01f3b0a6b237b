#pragma once
// CAppOptStg: where the option store keeps its values. Sections are paths
// whose parts are separated by '\'.
#include <cstdint>
#include <string>
#include <vector>

#include "options/AppOpt.h"

class CAppOptStg {
public:
    virtual void WriteInt(const std::string& section, const std::string& name, int32_t value) = 0;
    virtual void WriteString(const std::string& section, const std::string& name,
                             const std::string& value) = 0;
    virtual void WriteStream(const std::string& section, const std::string& name,
                             IStream* stream) = 0;
    // The stored value, or the default when nothing suitable is stored.
    virtual CAppOpt Read(const std::string& section, const std::string& name,
                         const CAppOpt& def) = 0;
    virtual void EnumValues(const std::string& section, std::vector<std::string>& names) {}
    virtual void EnumKeys(const std::string& section, std::vector<std::string>& names) {}
    virtual void DeleteValue(const std::string& section, const std::string& name) {}
    virtual void DeleteKey(const std::string& section) {}
    // Makes what was written lasting (the registry backend saves the user's
    // settings file); the base has nothing to do.
    virtual void Commit() {}
    virtual ~CAppOptStg() = default;
};
