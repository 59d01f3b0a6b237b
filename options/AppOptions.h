#pragma once
// CAppOptions: the process-wide option store. Options are addressed by a
// section (empty: "Settings") and a name. Values read are cached, changes
// are collected until Flush writes them to the storage, and listeners hear
// about every change.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "options/AppOpt.h"
#include "options/AppOptNotify.h"
#include "options/AppOptStg.h"

class CAppOptions {
public:
    // A store over the registry backend.
    CAppOptions();
    // A store over another storage (taken over).
    explicit CAppOptions(std::unique_ptr<CAppOptStg> storage);
    CAppOptions(const CAppOptions&) = delete;
    CAppOptions& operator=(const CAppOptions&) = delete;
    ~CAppOptions();

    CAppOpt GetOption(const std::string& section, const std::string& name,
                      const CAppOpt& def = CAppOpt());
    void SetOption(const std::string& section, const std::string& name, const CAppOpt& value);
    // An empty name deletes the whole section.
    void DeleteOption(const std::string& section, const std::string& name);
    void EnumOptions(const std::string& section, std::vector<std::string>& names);
    // Writes the pending deletions and changes to the storage and saves it.
    void Flush();

    void Advise(const std::string& section, const std::string& name, IAppOptNotify* listener,
                uint32_t cookie);
    void Unadvise(IAppOptNotify* listener);

    CAppOptStg* GetStorage(const std::string& section, const std::string& name) {
        return m_pStorage.get();
    }

    bool IsModified() const { return m_bModified; }
    // Forgets cached values, pending changes and deletions (tests).
    void DiscardCache();

    static constexpr const char* kDefaultSection = "Settings";

private:
    struct CEntry {
        CAppOpt value;
        bool dirty = false;
    };
    struct CListener {
        std::string section;
        std::string name;
        IAppOptNotify* listener;
        uint32_t cookie;
    };

    // Section and name; kept apart so that a '#' in either cannot mix up
    // two options.
    using CKey = std::pair<std::string, std::string>;

    CKey MakeKey(const std::string& section, const std::string& name) const;
    template <class F>
    void Notify(const std::string& section, const std::string& name, F call);

    std::string m_strDefaultSection = kDefaultSection;
    std::map<CKey, CEntry> m_cache;
    std::map<CKey, int> m_deleted;
    std::vector<CListener> m_listeners;
    std::unique_ptr<CAppOptStg> m_pStorage;
    bool m_bModified = false;
};

// The one option store of the process, flushed when the process ends.
CAppOptions& GetAppOptions();
