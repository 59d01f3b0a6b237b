#include "support/VersionInfo.h"

#include <cstring>

#include "support/Exception.h"
#include "support/FormatMessage.h"

namespace {
const char* const kFormats[] = {"%1!u!", "%1!u!.%2!u!", "%1!u!.%2!u!.%3!u!",
                                "%1!u!.%2!u!.%3!u!.%4!u!"};

// Identifies this library's own binary for GetModuleFileName.
void ModuleAnchor() {}
}  // namespace

CFileVersionInfo::CFileVersionInfo(std::string fileName) : m_fileName(std::move(fileName)) {}

bool CFileVersionInfo::Load() {
    if (m_loaded)
        return true;
    std::string path = m_fileName;
    if (path.empty()) {
        path = GetModuleFileName(reinterpret_cast<const void*>(&ModuleAnchor));
        if (path.empty())
            return false;
    }
    if (GetFileVersionInfoSize(path) == 0)
        return false;
    std::vector<uint8_t> block;
    if (!GetFileVersionInfo(path, block))
        return false;
    const void* fixed = nullptr;
    unsigned length = 0;
    if (!VerQueryValue(block, "\\", &fixed, &length) || length == 0)
        return false;
    m_block = std::move(block);
    VerQueryValue(m_block, "\\", &fixed, &length);
    m_fixed = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    const void* translation = nullptr;
    if (VerQueryValue(m_block, "\\VarFileInfo\\Translation", &translation, &length) &&
        length >= 4) {
        std::memcpy(&m_language, translation, 2);
        std::memcpy(&m_codePage, static_cast<const uint8_t*>(translation) + 2, 2);
    }
    m_loaded = true;
    return true;
}

bool CFileVersionInfo::GetVersionParts(DWORD* productMS, DWORD* productLS, DWORD* fileMS,
                                       DWORD* fileLS) {
    bool ok = Load();
    if (productMS)
        *productMS = ok ? m_fixed->dwProductVersionMS : 0;
    if (productLS)
        *productLS = ok ? m_fixed->dwProductVersionLS : 0;
    if (fileMS)
        *fileMS = ok ? m_fixed->dwFileVersionMS : 0;
    if (fileLS)
        *fileLS = ok ? m_fixed->dwFileVersionLS : 0;
    return ok;
}

uint64_t CFileVersionInfo::GetVersion64(bool fileVersion) {
    DWORD pms, pls, fms, fls;
    if (!GetVersionParts(&pms, &pls, &fms, &fls))
        return 0;
    return fileVersion ? (uint64_t(fms) << 32 | fls) : (uint64_t(pms) << 32 | pls);
}

std::string CFileVersionInfo::GetStringValue(const std::string& name) {
    if (!Load())
        return {};
    char path[256];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", m_language, m_codePage,
                  name.c_str());
    const void* value = nullptr;
    unsigned length = 0;
    if (!VerQueryValue(m_block, path, &value, &length) || !value)
        return {};
    return std::string(static_cast<const char*>(value), length);
}

std::string CFileVersionInfo::FormatVersion(int formatIndex) {
    DWORD pms, pls, fms, fls;
    if (!GetVersionParts(&pms, &pls, &fms, &fls))
        return {};
    if (formatIndex < 0 || formatIndex > 3)
        throw CResourceException();
    std::vector<va::FormatArg> args = {
        int64_t(pms >> 16), int64_t(pms & 0xFFFF), int64_t(pls >> 16), int64_t(pls & 0xFFFF),
        int64_t(fms >> 16), int64_t(fms & 0xFFFF), int64_t(fls >> 16), int64_t(fls & 0xFFFF)};
    auto text = va::FormatMessageString(kFormats[formatIndex], args);
    if (!text)
        throw CResourceException();
    return *text;
}

CFileVersionInfo& ModuleVersionInfo() {
    static CFileVersionInfo info;
    return info;
}

uint64_t GetFileVersion64(const std::string& path, bool fileVersion) {
    CFileVersionInfo info(path);
    return info.GetVersion64(fileVersion);
}

bool IsWin2000OrLater(const COsVersion& v) {
    return v.platformId == VER_PLATFORM_WIN32_NT && v.major >= 5;
}
bool IsWinXPOrLater(const COsVersion& v) {
    return v.platformId == VER_PLATFORM_WIN32_NT && (v.major > 5 || (v.major == 5 && v.minor != 0));
}
bool IsVistaOrLater(const COsVersion& v) {
    return v.platformId == VER_PLATFORM_WIN32_NT && v.major > 5;
}

// The running platform is never Windows NT: every predicate is false, and
// callers take the documented path for that case.
namespace {
const COsVersion kRunningSystem{};
}
bool IsWin2000OrLater() {
    return IsWin2000OrLater(kRunningSystem);
}
bool IsWinXPOrLater() {
    return IsWinXPOrLater(kRunningSystem);
}
bool IsVistaOrLater() {
    return IsVistaOrLater(kRunningSystem);
}
