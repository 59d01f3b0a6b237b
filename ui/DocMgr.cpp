#include "ui/DocMgr.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

const char kOpening[] = "([{";
const char kClosing[] = ")]}";

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int MinimumDigits(unsigned flags) {
    if (flags & CDocMgr::kThreeDigits)
        return 3;
    if (flags & CDocMgr::kTwoDigits)
        return 2;
    return 1;
}

// Where the trailing number of a name lies: [prefixEnd, ...) is the part to
// replace; digits [digitsBegin, digitsEnd); the brackets around them (0 when bare).
struct CNumber {
    size_t prefixEnd;
    size_t digitsBegin;
    size_t digitsEnd;
    char open = 0;
    char close = 0;
};

bool FindNumber(const std::string& name, unsigned flags, CNumber& number) {
    if (name.empty())
        return false;
    const char last = name.back();
    if (const char* close = std::strchr(kClosing, last); close && last) {
        const char open = kOpening[close - kClosing];
        size_t end = name.size() - 1;
        size_t begin = end;
        while (begin > 0 && IsDigit(name[begin - 1]))
            --begin;
        if (begin < end && begin > 0 && name[begin - 1] == open) {
            number = {begin - 1, begin, end, open, last};
            return true;
        }
    }
    if ((flags & 0x0F) == 0 && IsDigit(last)) {
        size_t begin = name.size();
        while (begin > 0 && IsDigit(name[begin - 1]))
            --begin;
        number = {begin, begin, name.size()};
        return true;
    }
    return false;
}

// Adds one to a decimal digit string of any length.
std::string Increment(std::string digits) {
    for (size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return digits;
        }
        digits[i] = '0';
    }
    return "1" + digits;
}

// The file name part of a path and the position of its extension's dot
// (npos when it has none).
void SplitPath(const std::string& path, size_t& nameBegin, size_t& extBegin) {
    size_t slash = path.find_last_of("/\\");
    nameBegin = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    extBegin = (dot == std::string::npos || dot <= nameBegin) ? std::string::npos : dot;
}

template <class F>
void OnNameInPath(std::string& path, F change) {
    size_t nameBegin, extBegin;
    SplitPath(path, nameBegin, extBegin);
    size_t nameEnd = extBegin == std::string::npos ? path.size() : extBegin;
    std::string name = path.substr(nameBegin, nameEnd - nameBegin);
    change(name);
    path = path.substr(0, nameBegin) + name + path.substr(nameEnd);
}

bool SameName(const std::string& a, const std::string& b, bool ignoreCase) {
    if (!ignoreCase)
        return a == b;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool CDocMgr::MakeValidFileName(std::string& name) {
    static const char kInvalid[] = "\\/:*?\"<>|\b\r\n";
    std::string result;
    result.reserve(name.size());
    for (char c : name) {
        if (result.empty() && IsSpace(c))
            continue;
        if (std::strchr(kInvalid, c) && c)
            continue;
        result += c;
    }
    while (!result.empty() && IsSpace(result.back()))
        result.pop_back();
    name = std::move(result);
    return !name.empty();
}

void CDocMgr::IncrementNumber(std::string& name, unsigned flags) {
    if (name.empty())
        return;
    const int minimum = MinimumDigits(flags);
    CNumber number;
    if (!FindNumber(name, flags, number)) {
        name += " (" + std::string(minimum > 1 ? minimum - 1 : 0, '0') + "2)";
        return;
    }
    std::string digits = name.substr(number.digitsBegin, number.digitsEnd - number.digitsBegin);
    std::string next = Increment(digits);
    const size_t width = std::max<size_t>(digits.size(), minimum);
    if (next.size() < width)
        next.insert(0, width - next.size(), '0');
    std::string result = name.substr(0, number.prefixEnd);
    if (number.open)
        result += number.open;
    result += next;
    if (number.close)
        result += number.close;
    name = std::move(result);
}

void CDocMgr::IncrementNumberInPath(std::string& path, unsigned flags) {
    OnNameInPath(path, [flags](std::string& name) { IncrementNumber(name, flags); });
}

void CDocMgr::StripNumber(std::string& name, unsigned flags) {
    CNumber number;
    if (!FindNumber(name, flags, number))
        return;
    size_t end = number.prefixEnd;
    while (end > 0 && IsSpace(name[end - 1]))
        --end;
    name.erase(end);
}

void CDocMgr::StripNumberInPath(std::string& path, unsigned flags) {
    OnNameInPath(path, [flags](std::string& name) { StripNumber(name, flags); });
}

bool CDocMgr::MakeUnique(std::string& name, const std::vector<std::string>& names, bool ignoreCase,
                         unsigned flags) {
    bool changed = false;
    for (size_t round = 0; round < names.size(); ++round) {
        bool taken = std::any_of(names.begin(), names.end(), [&](const std::string& other) {
            return SameName(name, other, ignoreCase);
        });
        if (!taken)
            break;
        IncrementNumber(name, flags);
        changed = true;
    }
    return changed;
}

bool CDocMgr::MakeUniqueInFolder(std::string& path, bool ignoreCase, unsigned flags) {
    size_t nameBegin, extBegin;
    SplitPath(path, nameBegin, extBegin);
    const std::string folder = nameBegin ? path.substr(0, nameBegin) : std::string(".");
    const std::string ext = extBegin == std::string::npos ? std::string() : path.substr(extBegin);
    // The files of the folder with the name's extension, as full paths.
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string file = it->path().filename().string();
        if (ext.empty() || (file.size() >= ext.size() &&
                            SameName(file.substr(file.size() - ext.size()), ext, ignoreCase)))
            names.push_back(path.substr(0, nameBegin) + file);
    }
    bool changed = false;
    for (size_t round = 0; round < names.size(); ++round) {
        bool taken = std::any_of(names.begin(), names.end(), [&](const std::string& other) {
            return SameName(path, other, ignoreCase);
        });
        if (!taken)
            break;
        IncrementNumberInPath(path, flags);
        changed = true;
    }
    return changed;
}
