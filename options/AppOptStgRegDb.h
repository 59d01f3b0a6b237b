#pragma once
// CAppOptStgRegDb: options kept in the current user's registry below
// software\<registry key>\<profile>\<section>.
#include "options/AppOptStg.h"
#include "platform/registry/Registry.h"

class CAppOptStgRegDb : public CAppOptStg {
public:
    void WriteInt(const std::string& section, const std::string& name, int32_t value) override;
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override;
    void WriteStream(const std::string& section, const std::string& name, IStream* stream) override;
    CAppOpt Read(const std::string& section, const std::string& name, const CAppOpt& def) override;
    void EnumValues(const std::string& section, std::vector<std::string>& names) override;
    void EnumKeys(const std::string& section, std::vector<std::string>& names) override;
    void DeleteValue(const std::string& section, const std::string& name) override;
    void DeleteKey(const std::string& section) override;
    void Commit() override;

    enum EMode { modeRead, modeDelete, modeWrite };
    // The profile key, or null when a step fails. The caller closes it.
    static HKEY OpenProfileKey(EMode mode);
    // The section's key below the profile key, or null.
    static HKEY OpenSection(const std::string& section, EMode mode);
};

// The module's registry key name (the company key, "Korvani") and profile
// name (the application title, string 57344).
void SetRegistryKey(const std::string& name);
const std::string& GetRegistryKey();
std::string GetProfileName();
