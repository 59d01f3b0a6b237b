// File types and file names of snapshots: sanitizing, numbered names and
// names that no file in the folder has yet.
#include <QByteArray>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <vector>

#include "snapshot/VaSnapshot.h"

namespace {

constexpr std::string_view kOpeners = "([{";
constexpr std::string_view kClosers = ")]}";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int MinimumDigits(int flags) {
    switch (flags & 0xF0) {
        case 0x10:
            return 2;
        case 0x20:
            return 3;
        default:
            return 1;
    }
}

// Where a counter sits at the end of a name.
struct CCounter {
    size_t cut = std::string::npos;  // the name is kept up to here
    std::string digits;
    char opener = 0;
    char closer = 0;
    bool Found() const { return cut != std::string::npos; }
};

CCounter FindCounter(const std::string& name, int flags) {
    CCounter counter;
    if (name.empty())
        return counter;
    const size_t closerAt = kClosers.find(name.back());
    if (closerAt != std::string_view::npos) {
        size_t start = name.size() - 1;
        while (start > 0 && IsDigit(name[start - 1]))
            --start;
        if (start < name.size() - 1 && start > 0 && name[start - 1] == kOpeners[closerAt]) {
            counter.cut = start - 1;
            counter.digits = name.substr(start, name.size() - 1 - start);
            counter.opener = kOpeners[closerAt];
            counter.closer = name.back();
            return counter;
        }
    }
    if ((flags & 0x0F) == 0 && IsDigit(name.back())) {
        size_t start = name.size();
        while (start > 0 && IsDigit(name[start - 1]))
            --start;
        counter.cut = start;
        counter.digits = name.substr(start);
    }
    return counter;
}

// Adds one to a decimal number written as text, of any length.
std::string AddOne(std::string digits) {
    for (size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return digits;
        }
        digits[i] = '0';
    }
    return "1" + digits;
}

std::string PadDigits(std::string digits, size_t width) {
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return digits;
}

// Splits at the last '/': folder with its separator, and the file name.
std::pair<std::string, std::string> SplitFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// Splits a file name at its last '.': title and extension with its dot.
std::pair<std::string, std::string> SplitExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return {name, std::string()};
    return {name.substr(0, dot), name.substr(dot)};
}

}  // namespace

int CVaSnapshot::FileTypeFromExtension(std::string extension) {
    extension.erase(0, extension.find_first_not_of('.'));
    extension = Lower(extension);
    if (extension == "bmp")
        return typeBmp;
    if (extension == "jpg")
        return typeJpg;
    return typeNone;
}

std::string CVaSnapshot::ExtensionFromFileType(int type) {
    switch (type) {
        case typeBmp:
            return "bmp";
        case typeJpg:
            return "jpg";
        default:
            return std::string();
    }
}

std::string CVaSnapshot::SourceNameForMedia(const std::string& media) {
    const size_t scheme = media.find("://");
    if (scheme == std::string::npos || scheme == 0)
        return media;
    // The last segment of the URL's path, its escapes decoded.
    std::string path = media.substr(scheme + 3);
    path = path.substr(0, path.find_first_of("?#"));
    const size_t slash = path.find_last_of('/');
    std::string segment = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    return QUrl::fromPercentEncoding(QByteArray::fromStdString(segment)).toStdString();
}

bool CVaSnapshot::MakeValidFileName(std::string& name) {
    static constexpr std::string_view kForbidden = "\\/:*?\"<>|\b\r\n";
    std::string result;
    result.reserve(name.size());
    for (char c : name) {
        if (kForbidden.find(c) != std::string_view::npos)
            continue;
        if (result.empty() && IsSpace(c))
            continue;
        result.push_back(c);
    }
    while (!result.empty() && IsSpace(result.back()))
        result.pop_back();
    name = std::move(result);
    return !name.empty();
}

std::string CVaSnapshot::IncrementNumberedName(const std::string& name, int flags) {
    const size_t minimum = size_t(MinimumDigits(flags));
    const CCounter counter = FindCounter(name, flags);
    if (!counter.Found())
        return name + " (" + PadDigits("2", minimum) + ")";
    std::string next = PadDigits(AddOne(counter.digits), std::max(counter.digits.size(), minimum));
    std::string result = name.substr(0, counter.cut);
    if (counter.opener)
        return result + counter.opener + next + counter.closer;
    return result + next;
}

std::string CVaSnapshot::StripNumberedName(const std::string& name, int flags) {
    const CCounter counter = FindCounter(name, flags);
    if (!counter.Found())
        return name;
    std::string result = name.substr(0, counter.cut);
    while (!result.empty() && IsSpace(result.back()))
        result.pop_back();
    return result;
}

std::string CVaSnapshot::MakeUniqueFileName(const std::string& path, int flags) {
    auto [folder, name] = SplitFolder(path);
    auto [base, extension] = SplitExtension(name);
    // The titles of the folder's files with the same extension, in lower case.
    std::vector<std::string> titles;
    const std::string lowerExtension = Lower(extension);
    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::string entry = Lower(it->path().filename().string());
        auto [title, entryExtension] = SplitExtension(entry);
        if (entryExtension == lowerExtension)
            titles.push_back(std::move(title));
    }
    std::string candidate = base;
    for (size_t pass = 0; pass < titles.size(); ++pass) {
        if (std::find(titles.begin(), titles.end(), Lower(candidate)) == titles.end())
            break;
        candidate = IncrementNumberedName(candidate, flags);
    }
    if (candidate == base)
        return path;
    return folder + candidate + extension;
}
