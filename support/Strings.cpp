#include "support/Strings.h"

#include <algorithm>

namespace va {
namespace {
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

std::string ToLowerAscii(std::string_view s) {
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(), Lower);
    return r;
}

std::string ToUpperAscii(std::string_view s) {
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(), Upper);
    return r;
}

int CompareNoCase(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(Lower(a[i]));
        unsigned char cb = static_cast<unsigned char>(Lower(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && CompareNoCase(s.substr(0, prefix.size()), prefix) == 0;
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           CompareNoCase(s.substr(s.size() - suffix.size()), suffix) == 0;
}

std::string TrimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i]))
        ++i;
    return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && IsSpace(s[n - 1]))
        --n;
    return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
    return TrimLeft(TrimRight(s));
}

std::string_view FileNamePart(std::string_view path) {
    size_t pos = path.find_last_of("/\\");
    return pos == std::string_view::npos ? path : path.substr(pos + 1);
}

std::string GetExtension(std::string_view path) {
    std::string_view name = FileNamePart(path);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {};
    return std::string(name.substr(dot + 1));
}

bool HasExtension(std::string_view path, std::string_view ext) {
    std::string own = GetExtension(path);
    return !own.empty() && EqualsNoCase(own, ext);
}

bool IsUrl(std::string_view name) {
    size_t pos = name.find("://");
    if (pos == std::string_view::npos || pos < 2)
        return false;
    if (!IsAlpha(name[0]))
        return false;
    for (size_t i = 1; i < pos; ++i) {
        char c = name[i];
        if (!(IsAlpha(c) || IsDigit(c) || c == '+' || c == '-' || c == '.'))
            return false;
    }
    return true;
}

bool IsWindowsFullPath(std::string_view name) {
    if (name.size() >= 3 && IsAlpha(name[0]) && name[1] == ':' &&
        (name[2] == '\\' || name[2] == '/'))
        return true;
    return name.size() >= 2 && name[0] == '\\' && name[1] == '\\';
}

std::vector<std::string> Split(std::string_view s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t pos = s.find(sep, start);
        parts.emplace_back(s.substr(start, pos - start));
        if (pos == std::string_view::npos)
            break;
        start = pos + 1;
    }
    return parts;
}

}  // namespace va
