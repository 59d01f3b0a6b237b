#pragma once
// Version resources on this platform: a version note in our own ELF
// binaries (section ".note.velotrax.version"). The block read from a file
// answers the queries of VerQueryValue: "\" for the fixed information,
// "\VarFileInfo\Translation" for the (language, code page) pairs and
// "\StringFileInfo\LLLLCCCC\Name" for the string values.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/HResult.h"

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

// The path of the binary (executable or shared library) that contains
// 'address'; empty when it cannot be told.
std::string GetModuleFileName(const void* address);

// The size of the version block of a file; 0 when it has none (or is no
// ELF file, or cannot be read).
DWORD GetFileVersionInfoSize(const std::string& path);
// Reads the version block; false when there is none.
bool GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& block);
// Points *value at the queried part of the block and sets *length (bytes for
// binary parts, characters without the terminating zero for strings);
// false when the block has no such part.
bool VerQueryValue(const std::vector<uint8_t>& block, const std::string& subBlock,
                   const void** value, unsigned* length);
