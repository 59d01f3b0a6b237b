#include "options/AppOptStgRegDb.h"

#include <cstring>

#include "resources/StringTable.h"
#include "support/Strings.h"

namespace {

// Set at module start; the maker's company key.
std::string& RegistryKeyName() {
    static std::string name = "Korvani";
    return name;
}

REGSAM SamFor(CAppOptStgRegDb::EMode mode) {
    return mode == CAppOptStgRegDb::modeRead ? KEY_READ : KEY_READ | KEY_WRITE;
}

// Opens (or, in write mode, creates) 'name' below 'parent' and closes the
// parent; null when that fails.
HKEY Descend(HKEY parent, const std::string& name, CAppOptStgRegDb::EMode mode) {
    HKEY child = nullptr;
    LONG rc = mode == CAppOptStgRegDb::modeWrite
                  ? RegCreateKeyEx(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   SamFor(mode), nullptr, &child, nullptr)
                  : RegOpenKeyEx(parent, name.c_str(), 0, SamFor(mode), &child);
    RegCloseKey(parent);
    return rc == ERROR_SUCCESS ? child : nullptr;
}

// Closes the key when the scope ends.
class CKeyCloser {
public:
    explicit CKeyCloser(HKEY key) : m_key(key) {}
    ~CKeyCloser() {
        if (m_key)
            RegCloseKey(m_key);
    }
    CKeyCloser(const CKeyCloser&) = delete;
    CKeyCloser& operator=(const CKeyCloser&) = delete;

private:
    HKEY m_key;
};

}  // namespace

void SetRegistryKey(const std::string& name) {
    RegistryKeyName() = name;
}
const std::string& GetRegistryKey() {
    return RegistryKeyName();
}
std::string GetProfileName() {
    return LoadResString(IDS_APP_TITLE);
}

HKEY CAppOptStgRegDb::OpenProfileKey(EMode mode) {
    const std::string& company = GetRegistryKey();
    std::string profile = GetProfileName();
    if (company.empty() || profile.empty())
        return nullptr;
    HKEY software = nullptr;
    // "software" always exists in a Windows registry; a fresh settings file
    // has nothing yet, so writing creates it.
    LONG rc =
        mode == modeWrite
            ? RegCreateKeyEx(HKEY_CURRENT_USER, "software", 0, nullptr, REG_OPTION_NON_VOLATILE,
                             SamFor(mode), nullptr, &software, nullptr)
            : RegOpenKeyEx(HKEY_CURRENT_USER, "software", 0, SamFor(mode), &software);
    if (rc != ERROR_SUCCESS)
        return nullptr;
    HKEY companyKey = Descend(software, company, mode);
    if (!companyKey)
        return nullptr;
    return Descend(companyKey, profile, mode);
}

HKEY CAppOptStgRegDb::OpenSection(const std::string& section, EMode mode) {
    HKEY key = OpenProfileKey(mode);
    if (!key)
        return nullptr;
    for (const std::string& part : va::Split(section, '\\')) {
        if (part.empty())
            continue;
        key = Descend(key, part, mode);
        if (!key)
            return nullptr;
    }
    return key;
}

void CAppOptStgRegDb::WriteInt(const std::string& section, const std::string& name, int32_t value) {
    HKEY key = OpenSection(section, modeWrite);
    if (!key)
        return;
    CKeyCloser closer(key);
    DWORD data = static_cast<DWORD>(value);
    uint8_t bytes[4] = {uint8_t(data), uint8_t(data >> 8), uint8_t(data >> 16),
                        uint8_t(data >> 24)};
    RegSetValueEx(key, name.c_str(), 0, REG_DWORD, bytes, sizeof bytes);
}

void CAppOptStgRegDb::WriteString(const std::string& section, const std::string& name,
                                  const std::string& value) {
    HKEY key = OpenSection(section, modeWrite);
    if (!key)
        return;
    CKeyCloser closer(key);
    RegSetValueEx(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                  static_cast<DWORD>(value.size() + 1));
}

void CAppOptStgRegDb::WriteStream(const std::string& section, const std::string& name,
                                  IStream* stream) {
    HKEY key = OpenSection(section, modeWrite);
    if (!key)
        return;
    CKeyCloser closer(key);
    std::vector<uint8_t> buffer;
    STATSTG stat;
    bool ok = stream && SUCCEEDED(stream->Stat(&stat, 0));
    // A stream the registry would refuse leaves the stored value alone
    // rather than being read into memory whole.
    if (ok && stat.cbSize > kRegMaxValueSize)
        return;
    ok = ok && SUCCEEDED(stream->Seek(0, STREAM_SEEK_SET, nullptr));
    if (ok) {
        buffer.resize(static_cast<size_t>(stat.cbSize));
        ULONG read = 0;
        ok = buffer.empty() ||
             (SUCCEEDED(stream->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &read)) &&
              read == buffer.size());
    }
    if (!ok)
        buffer.clear();
    RegSetValueEx(key, name.c_str(), 0, REG_BINARY, buffer.data(),
                  static_cast<DWORD>(buffer.size()));
}

CAppOpt CAppOptStgRegDb::Read(const std::string& section, const std::string& name,
                              const CAppOpt& def) {
    HKEY key = OpenSection(section, modeRead);
    if (!key)
        return def;
    CKeyCloser closer(key);
    DWORD type = 0, size = 0;
    if (RegQueryValueEx(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return def;
    std::vector<uint8_t> data(size);
    DWORD got = size;
    switch (type) {
        case REG_DWORD: {
            DWORD value = 0;
            got = sizeof value;
            uint8_t bytes[4] = {};
            if (size != 4 ||
                RegQueryValueEx(key, name.c_str(), nullptr, &type, bytes, &got) != ERROR_SUCCESS)
                return def;
            value = DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 |
                    DWORD(bytes[3]) << 24;
            return CAppOpt(static_cast<int32_t>(value));
        }
        case REG_BINARY: {
            if (size && RegQueryValueEx(key, name.c_str(), nullptr, &type, data.data(), &got) !=
                            ERROR_SUCCESS)
                return def;
            CComPtr<IStream> stream;
            if (FAILED(CreateStreamOnHGlobal(&stream, data.data(), got)))
                return def;
            return CAppOpt(stream.Get());
        }
        case REG_SZ: {
            if (size && RegQueryValueEx(key, name.c_str(), nullptr, &type, data.data(), &got) !=
                            ERROR_SUCCESS)
                return def;
            if (got == 0)
                return CAppOpt(std::string());
            const char* text = reinterpret_cast<const char*>(data.data());
            return CAppOpt(std::string(text, strnlen(text, got)));
        }
        default:
            return def;
    }
}

namespace {

template <class EnumFn>
void EnumNames(HKEY key, std::vector<std::string>& names, EnumFn fn) {
    for (DWORD index = 0;; ++index) {
        char buffer[256];
        DWORD length = sizeof buffer;
        if (fn(key, index, buffer, &length) != ERROR_SUCCESS)
            break;
        names.emplace_back(buffer, length);
    }
}

}  // namespace

void CAppOptStgRegDb::EnumValues(const std::string& section, std::vector<std::string>& names) {
    HKEY key = OpenSection(section, modeRead);
    if (!key)
        return;
    CKeyCloser closer(key);
    EnumNames(key, names, [](HKEY k, DWORD i, char* buf, DWORD* len) {
        return RegEnumValue(k, i, buf, len, nullptr, nullptr, nullptr, nullptr);
    });
}

void CAppOptStgRegDb::EnumKeys(const std::string& section, std::vector<std::string>& names) {
    HKEY key = OpenSection(section, modeRead);
    if (!key)
        return;
    CKeyCloser closer(key);
    for (std::string& name : RegSubKeyNames(key))
        names.push_back(std::move(name));
}

void CAppOptStgRegDb::DeleteValue(const std::string& section, const std::string& name) {
    HKEY key = OpenSection(section, modeDelete);
    if (!key)
        return;
    CKeyCloser closer(key);
    RegDeleteValue(key, name.c_str());
}

void CAppOptStgRegDb::DeleteKey(const std::string& section) {
    std::vector<std::string> parts;
    for (std::string& part : va::Split(section, '\\'))
        if (!part.empty())
            parts.push_back(std::move(part));
    if (parts.empty())
        return;
    std::string parent;
    for (size_t i = 0; i + 1 < parts.size(); ++i)
        parent += (i ? "\\" : "") + parts[i];
    HKEY key = OpenSection(parent, modeDelete);
    if (!key)
        return;
    CKeyCloser closer(key);
    RegDeleteKey(key, parts.back().c_str());
}

void CAppOptStgRegDb::Commit() {
    RegFlushKey(HKEY_CURRENT_USER);
}
