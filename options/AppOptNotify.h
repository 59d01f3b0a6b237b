#pragma once
// IAppOptNotify: told about every change of the options a listener asked
// for (CAppOptions::Advise). The cookie is the listener's own.
#include <cstdint>
#include <string>

class CAppOpt;

class IAppOptNotify {
public:
    virtual void OnOptionChanged(const CAppOpt& value, const std::string& section,
                                 const std::string& name, uint32_t cookie) = 0;
    virtual void OnOptionDeleted(const std::string& section, const std::string& name,
                                 uint32_t cookie) {}

protected:
    ~IAppOptNotify() = default;
};
