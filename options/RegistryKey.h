#pragma once
// CRegistryKey: a cheap, shared handle to an open registry key, for reading
// single values from arbitrary keys. The last handle closes a key it owns;
// the predefined roots are never closed. An empty key answers every read
// with the default.
#include <cstdint>
#include <string>

#include "platform/registry/Registry.h"
#include "support/RefCount.h"

class CRegistryKeyRep : public CRefCountRep {
public:
    CRegistryKeyRep(HKEY key, bool owned) : m_hKey(key), m_bOwned(owned) {}
    ~CRegistryKeyRep() override {
        if (m_bOwned && m_hKey)
            RegCloseKey(m_hKey);
    }

    HKEY m_hKey;
    bool m_bOwned;
};

class CRegistryKey {
public:
    enum ERoot { currentUser, localMachine };

    // An empty key.
    CRegistryKey() = default;
    // A predefined root (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE); not owned.
    explicit CRegistryKey(ERoot root);
    // A predefined root given by its handle (HKEY_CURRENT_USER, ...); not owned.
    explicit CRegistryKey(HKEY predefinedRoot) : CRegistryKey(predefinedRoot, false) {}

    bool IsOpen() const { return m_rep && m_rep->m_hKey; }
    HKEY GetHandle() const { return m_rep ? m_rep->m_hKey : nullptr; }

    // Opens a sub-key for reading, or for reading and writing. A missing
    // sub-key gives an empty key; other failures throw the error as an
    // HRESULT (writing needs this key itself open: ERROR_INVALID_HANDLE).
    CRegistryKey OpenSubKey(const std::string& name, bool write = false) const;

    // A DWORD value as stored, a string value that is a whole decimal
    // number, otherwise the default.
    DWORD GetDWord(const std::string& valueName, DWORD def) const;
    // A string value as stored, a DWORD value as "%ld", otherwise the default.
    std::string GetString(const std::string& valueName, const std::string& def) const;

private:
    CRegistryKey(HKEY key, bool owned);

    CRefCount<CRegistryKeyRep, CRefCounterNonMT> m_rep;
};
