#pragma once
// The version reader: product and file versions (four 16-bit parts each)
// and string values of a binary's version information. A reader with an
// empty file name describes the module that contains this code.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/VersionResource.h"

class CFileVersionInfo {
public:
    explicit CFileVersionInfo(std::string fileName = {});

    // Loads the block once; later calls return true at once.
    bool Load();
    // All four 0 and false when nothing can be loaded.
    bool GetVersionParts(DWORD* productMS, DWORD* productLS, DWORD* fileMS, DWORD* fileLS);
    // The product version (or the file version with the flag) as MS:LS; 0 without one.
    uint64_t GetVersion64(bool fileVersion = false);
    // "\StringFileInfo\<language><code page>\<name>"; empty when absent.
    std::string GetStringValue(const std::string& name);
    // The product version formatted as "%1!u!" … "%1!u!.%2!u!.%3!u!.%4!u!"
    // for indexes 0 to 3; empty when nothing can be loaded.
    std::string FormatVersion(int formatIndex);

    const std::string& FileName() const { return m_fileName; }

private:
    std::string m_fileName;
    std::vector<uint8_t> m_block;
    bool m_loaded = false;
    const VS_FIXEDFILEINFO* m_fixed = nullptr;
    uint16_t m_language = 0;
    uint16_t m_codePage = 0;
};

// The module-wide reader that describes the running module itself.
CFileVersionInfo& ModuleVersionInfo();

// GetVersion64 for any file, through a temporary reader.
uint64_t GetFileVersion64(const std::string& path, bool fileVersion = false);

// Operating-system predicates over a version as GetVersionEx reports it.
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
struct COsVersion {
    DWORD platformId = 0;
    DWORD major = 0;
    DWORD minor = 0;
};
bool IsWin2000OrLater(const COsVersion& v);
bool IsWinXPOrLater(const COsVersion& v);
bool IsVistaOrLater(const COsVersion& v);

// The same for the running system: this is not Windows, so all are false.
bool IsWin2000OrLater();
bool IsWinXPOrLater();
bool IsVistaOrLater();
