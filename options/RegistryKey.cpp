#include "options/RegistryKey.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "support/Exception.h"

CRegistryKey::CRegistryKey(ERoot root)
    : CRegistryKey(root == currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, false) {}

CRegistryKey::CRegistryKey(HKEY key, bool owned) : m_rep(new CRegistryKeyRep(key, owned)) {}

CRegistryKey CRegistryKey::OpenSubKey(const std::string& name, bool write) const {
    if (write && !IsOpen())
        ThrowHResult(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    if (!IsOpen())
        return CRegistryKey();
    HKEY sub = nullptr;
    LONG rc =
        RegOpenKeyEx(GetHandle(), name.c_str(), 0, write ? KEY_READ | KEY_WRITE : KEY_READ, &sub);
    if (rc == ERROR_FILE_NOT_FOUND)
        return CRegistryKey();
    if (rc != ERROR_SUCCESS)
        ThrowHResult(HRESULT_FROM_WIN32(static_cast<uint32_t>(rc)));
    return CRegistryKey(sub, true);
}

namespace {

// Type and data of a value; false when the key is empty or the value missing.
bool QueryValue(HKEY key, const std::string& name, DWORD& type, std::vector<uint8_t>& data) {
    if (!key)
        return false;
    DWORD size = 0;
    if (RegQueryValueEx(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    data.resize(size);
    if (size &&
        RegQueryValueEx(key, name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return false;
    data.resize(size);
    return true;
}

std::string StringOf(const std::vector<uint8_t>& data) {
    std::string s(data.begin(), data.end());
    size_t zero = s.find('\0');
    if (zero != std::string::npos)
        s.resize(zero);
    return s;
}

}  // namespace

DWORD CRegistryKey::GetDWord(const std::string& valueName, DWORD def) const {
    DWORD type = 0;
    std::vector<uint8_t> data;
    if (!QueryValue(GetHandle(), valueName, type, data))
        return def;
    if (type == REG_DWORD && data.size() == 4)
        return DWORD(data[0]) | DWORD(data[1]) << 8 | DWORD(data[2]) << 16 | DWORD(data[3]) << 24;
    if (type == REG_SZ) {
        std::string text = StringOf(data);
        // Only digits, after an optional minus: strtoll alone would take
        // leading blanks and a plus sign.
        size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
        if (digits >= text.size() || text[digits] < '0' || text[digits] > '9')
            return def;
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(text.c_str(), &end, 10);
        // Only a whole number counts: "42" is 42, "42x" is not a number.
        if (errno != 0 || *end != '\0' || v < INT32_MIN || v > UINT32_MAX)
            return def;
        return static_cast<DWORD>(v);
    }
    return def;
}

std::string CRegistryKey::GetString(const std::string& valueName, const std::string& def) const {
    DWORD type = 0;
    std::vector<uint8_t> data;
    if (!QueryValue(GetHandle(), valueName, type, data))
        return def;
    if (type == REG_SZ)
        return StringOf(data);
    if (type == REG_DWORD && data.size() == 4) {
        int32_t v = static_cast<int32_t>(DWORD(data[0]) | DWORD(data[1]) << 8 |
                                         DWORD(data[2]) << 16 | DWORD(data[3]) << 24);
        return std::to_string(v);
    }
    return def;
}
