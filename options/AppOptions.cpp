#include "options/AppOptions.h"

#include <algorithm>

#include "options/AppOptStgRegDb.h"
#include "support/Strings.h"

CAppOptions::CAppOptions() : m_pStorage(std::make_unique<CAppOptStgRegDb>()) {}

CAppOptions::CAppOptions(std::unique_ptr<CAppOptStg> storage) : m_pStorage(std::move(storage)) {}

CAppOptions::~CAppOptions() {
    m_cache.clear();
    m_deleted.clear();
    m_pStorage.reset();
}

CAppOptions::CKey CAppOptions::MakeKey(const std::string& section, const std::string& name) const {
    return {section.empty() ? m_strDefaultSection : section, name};
}

template <class F>
void CAppOptions::Notify(const std::string& section, const std::string& name, F call) {
    // A listener may unadvise (itself or others) while it is told; entries
    // gone meanwhile are skipped.
    std::vector<CListener> matching;
    for (const CListener& l : m_listeners)
        if ((l.section.empty() || l.section == section) && (l.name.empty() || l.name == name))
            matching.push_back(l);
    for (const CListener& l : matching) {
        bool stillThere = std::any_of(
            m_listeners.begin(), m_listeners.end(),
            [&](const CListener& e) { return e.listener == l.listener && e.cookie == l.cookie; });
        if (!stillThere)
            continue;
        try {
            call(l);
        } catch (...) {
            // A failing listener must not keep the others from hearing.
        }
    }
}

CAppOpt CAppOptions::GetOption(const std::string& section, const std::string& name,
                               const CAppOpt& def) {
    CKey key = MakeKey(section, name);
    if (m_deleted.count(key))
        return def;
    auto it = m_cache.find(key);
    if (it != m_cache.end())
        return it->second.value;
    CAppOpt value = m_pStorage->Read(key.first, name, def);
    m_cache.emplace(key, CEntry{value, false});
    return value;
}

void CAppOptions::SetOption(const std::string& section, const std::string& name,
                            const CAppOpt& value) {
    CKey key = MakeKey(section, name);
    m_deleted.erase(key);
    auto it = m_cache.find(key);
    if (it != m_cache.end() && it->second.value.Equals(value))
        return;
    m_cache[key] = CEntry{value, true};
    m_bModified = true;
    Notify(key.first, name, [&](const CListener& l) {
        l.listener->OnOptionChanged(value, key.first, name, l.cookie);
    });
}

void CAppOptions::DeleteOption(const std::string& section, const std::string& name) {
    CKey key = MakeKey(section, name);
    m_cache.erase(key);
    m_deleted[key] = 1;
    m_bModified = true;
    Notify(key.first, name,
           [&](const CListener& l) { l.listener->OnOptionDeleted(key.first, name, l.cookie); });
}

void CAppOptions::EnumOptions(const std::string& section, std::vector<std::string>& names) {
    std::string sec = section.empty() ? m_strDefaultSection : section;
    m_pStorage->EnumValues(sec, names);
    for (size_t i = names.size(); i-- > 0;)
        if (m_deleted.count({sec, names[i]}))
            names.erase(names.begin() + static_cast<std::ptrdiff_t>(i));
    for (const auto& [key, entry] : m_cache) {
        if (key.first != sec || key.second.empty())
            continue;
        bool listed = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return va::EqualsNoCase(n, key.second);
        });
        if (!listed)
            names.push_back(key.second);
    }
}

void CAppOptions::Flush() {
    if (!m_bModified)
        return;
    for (const auto& [key, marker] : m_deleted) {
        if (key.second.empty())
            m_pStorage->DeleteKey(key.first);
        else
            m_pStorage->DeleteValue(key.first, key.second);
    }
    for (auto& [key, entry] : m_cache) {
        if (!entry.dirty)
            continue;
        if (const CAppOptValue* v = entry.value.GetValue())
            v->Write(*m_pStorage, key.first, key.second);
        entry.dirty = false;
    }
    m_deleted.clear();
    m_bModified = false;
    m_pStorage->Commit();
}

void CAppOptions::Advise(const std::string& section, const std::string& name,
                         IAppOptNotify* listener, uint32_t cookie) {
    m_listeners.push_back({section, name, listener, cookie});
}

void CAppOptions::Unadvise(IAppOptNotify* listener) {
    for (size_t i = m_listeners.size(); i-- > 0;)
        if (m_listeners[i].listener == listener)
            m_listeners.erase(m_listeners.begin() + static_cast<std::ptrdiff_t>(i));
}

void CAppOptions::DiscardCache() {
    m_cache.clear();
    m_deleted.clear();
    m_bModified = false;
}

namespace {

// Owns the process's option store and flushes it when the process ends.
struct CAppOptionsHolder {
    CAppOptionsHolder() {
        // The registry store must outlive the option store that saves into it.
        RegUserFilePath();
    }
    ~CAppOptionsHolder() {
        try {
            options.Flush();
        } catch (...) {
            // Nothing may escape at the end of the process.
        }
    }
    CAppOptions options;
};

}  // namespace

CAppOptions& GetAppOptions() {
    static CAppOptionsHolder holder;
    return holder.options;
}
