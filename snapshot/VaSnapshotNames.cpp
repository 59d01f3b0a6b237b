// File types and file names of snapshots: sanitizing, numbered names and
// names that no file in the folder has yet.
#include <QByteArray>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "snapshot/VaSnapshot.h"
#include "ui/DocMgr.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The file-name numbering reads 0x30 as "at least two digits" as well as
// "at least three"; here only 0x10 and 0x20 ask for more than one digit.
unsigned NumberingFlags(int flags) {
    const unsigned digits = unsigned(flags) & 0xF0;
    return (unsigned(flags) & 0x0F) | (digits == 0x10 || digits == 0x20 ? digits : 0);
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
    return CDocMgr::MakeValidFileName(name);
}

std::string CVaSnapshot::IncrementNumberedName(const std::string& name, int flags) {
    // The file-name numbering leaves an empty name as it is; here it gets
    // the first counter like any name without one (" (002)").
    std::string result = name.empty() ? std::string("x") : name;
    CDocMgr::IncrementNumber(result, NumberingFlags(flags));
    return name.empty() ? result.substr(1) : result;
}

std::string CVaSnapshot::StripNumberedName(const std::string& name, int flags) {
    std::string result = name;
    CDocMgr::StripNumber(result, NumberingFlags(flags));
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
