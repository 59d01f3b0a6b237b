#pragma once
// GUIDs: 128-bit identifiers of classes and interfaces, written
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as on Windows.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
    friend constexpr bool operator<(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1)
            return a.Data1 < b.Data1;
        if (a.Data2 != b.Data2)
            return a.Data2 < b.Data2;
        if (a.Data3 != b.Data3)
            return a.Data3 < b.Data3;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return a.Data4[i] < b.Data4[i];
        return false;
    }
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{};

namespace guid_detail {
constexpr int HexValue(char c) {
    return (c >= '0' && c <= '9')   ? c - '0'
           : (c >= 'a' && c <= 'f') ? c - 'a' + 10
           : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                    : -1;
}
// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", with or without braces.
constexpr std::optional<GUID> Parse(std::string_view s) {
    if (s.size() == 38) {
        if (s.front() != '{' || s.back() != '}')
            return std::nullopt;
        s = s.substr(1, 36);
    }
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
        return std::nullopt;
    uint8_t bytes[16] = {};
    size_t pos = 0;
    for (int i = 0; i < 16; ++i) {
        if (s[pos] == '-')
            ++pos;
        int hi = HexValue(s[pos]), lo = HexValue(s[pos + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
        pos += 2;
    }
    GUID g;
    g.Data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
              bytes[3];
    g.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    g.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = bytes[8 + i];
    return g;
}
}  // namespace guid_detail

// A GUID from its text at compile time; a malformed text does not compile.
consteval GUID MakeGuid(const char* text) {
    std::string_view s(text);
    auto g = guid_detail::Parse(s);
    if (!g)
        throw "malformed GUID";
    return *g;
}

// Parses a GUID at run time; nullopt for a malformed text.
inline std::optional<GUID> GuidFromString(std::string_view text) {
    return guid_detail::Parse(text);
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as StringFromGUID2 writes it.
std::string GuidToString(const GUID& g);

template <>
struct std::hash<GUID> {
    size_t operator()(const GUID& g) const noexcept {
        uint64_t v = (uint64_t(g.Data1) << 32) ^ (uint64_t(g.Data2) << 16) ^ g.Data3;
        for (int i = 0; i < 8; ++i)
            v = v * 131 + g.Data4[i];
        return std::hash<uint64_t>()(v);
    }
};
