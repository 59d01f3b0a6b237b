#pragma once
// String and path helpers shared across the system.
#include <string>
#include <string_view>
#include <vector>

namespace va {

// ASCII lower-casing (other bytes are kept, so UTF-8 text is safe).
std::string ToLowerAscii(std::string_view s);
std::string ToUpperAscii(std::string_view s);
// Compares without regard to ASCII letter case: <0, 0, >0 like strcmp.
int CompareNoCase(std::string_view a, std::string_view b);
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    return CompareNoCase(a, b) == 0;
}
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);

std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string Trim(std::string_view s);

// The file-name part of a path: after the last '/' or '\'.
std::string_view FileNamePart(std::string_view path);
// The extension: the text after the last '.' of the file-name part when that
// '.' is not its first character; empty otherwise. Without the '.'.
std::string GetExtension(std::string_view path);
// True when the extension equals 'ext' without regard to case.
bool HasExtension(std::string_view path, std::string_view ext);

// A URL is any "scheme://..." name: the scheme has two or more letters,
// digits, '+', '-' or '.', starting with a letter (so "C://x" is no URL).
bool IsUrl(std::string_view name);
// A full Windows path: a drive letter ("D:\x", "D:/x") or a UNC name ("\\server\x").
bool IsWindowsFullPath(std::string_view name);

// Splits at every occurrence of 'sep'.
std::vector<std::string> Split(std::string_view s, char sep);

}  // namespace va
