#include "playlist/ListFormats.h"

#include <cstdlib>
#include <map>

#include "platform/com/ErrorInfo.h"
#include "platform/xml/XmlDom.h"
#include "platform/xml/XmlSource.h"
#include "playlist/AsxReader.h"
#include "playlist/XMLDOMDocument.h"
#include "resources/StringTable.h"
#include "support/Exception.h"
#include "support/Strings.h"

namespace {

// "The playlist holds no entry with a media reference."
constexpr unsigned IDS_PLAYLIST_NO_ENTRIES = 0x7200;

[[noreturn]] void ThrowBadFormat(const std::string& reason) {
    SetErrorDescription(reason, "Velotrax");
    ThrowHResult(HRESULT_BAD_FORMAT);
}

void StripBom(std::string& text) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(va::Trim(line));
    }
    return lines;
}

// Seconds as a list writes them ("123", "12.5", "-1" for unknown).
REFERENCE_TIME Seconds(const std::string& text) {
    if (text.empty() || text[0] == '-')
        return -1;
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(seconds >= 0) || seconds > 1e9)
        return -1;
    return static_cast<REFERENCE_TIME>(seconds * double(UNITS) + 0.5);
}

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        auto hex = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            char c = static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            out += c == '\0' ? '%' : c;
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// An XSPF location (a URI): file:// URLs become paths, relative URIs are
// decoded so that they resolve as paths; other URLs stay.
std::string LocationToReference(const std::string& location) {
    std::string path;
    if (va::StartsWithNoCase(location, "file:"))
        return va::xml::FileUrlToPath(location, path) ? path : location;
    if (va::IsUrl(location))
        return location;
    return PercentDecoded(location);
}

}  // namespace

bool CListFormats::IsUtf8(const std::string& text) {
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t more = 0;
        if (c >= 0xC2 && c < 0xE0)
            more = 1;
        else if (c >= 0xE0 && c < 0xF0)
            more = 2;
        else if (c >= 0xF0 && c < 0xF5)
            more = 3;
        else if (c >= 0x80)
            return false;
        if (i + more >= n && more)
            return false;
        for (size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += more + 1;
    }
    return true;
}

std::string CListFormats::FromWindows1252(const std::string& text) {
    static const char16_t k80[32] = {
        0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (unsigned char c : text) {
        char32_t u = c >= 0x80 && c < 0xA0 ? k80[c - 0x80] : c;
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

CListFormats::EFormat CListFormats::FormatOfName(const std::string& name) {
    std::string ext = va::ToLowerAscii(va::GetExtension(name));
    if (ext == "m3u")
        return EFormat::m3u;
    if (ext == "m3u8")
        return EFormat::m3u8;
    if (ext == "pls")
        return EFormat::pls;
    if (ext == "xspf")
        return EFormat::xspf;
    return EFormat::asx;
}

bool CListFormats::IsPlayListExtension(const std::string& ext) {
    return ext == "asx" || ext == "wvx" || ext == "m3u" || ext == "m3u8" || ext == "pls" ||
           ext == "xspf";
}

std::vector<CListFormats::CEntry> CListFormats::ReadM3u(std::string text, bool utf8) {
    StripBom(text);
    if (!utf8 && !CListFormats::IsUtf8(text))
        text = CListFormats::FromWindows1252(text);
    std::vector<CEntry> entries;
    CEntry pending;
    for (const std::string& line : Lines(text)) {
        if (line.empty())
            continue;
        if (line[0] == '#') {
            // A media playlist of a live stream is media, not a list of files.
            if (va::StartsWithNoCase(line, "#EXT-X-TARGETDURATION") ||
                va::StartsWithNoCase(line, "#EXT-X-STREAM-INF"))
                ThrowBadFormat("This is an HLS stream playlist; open it as media.");
            if (va::StartsWithNoCase(line, "#EXTINF:")) {
                std::string info = line.substr(8);
                size_t comma = info.find(',');
                pending.duration = Seconds(va::Trim(info.substr(0, comma)));
                pending.title = comma == std::string::npos ? "" : va::Trim(info.substr(comma + 1));
            }
            continue;
        }
        pending.reference = line;
        entries.push_back(std::move(pending));
        pending = CEntry{};
    }
    return entries;
}

std::vector<CListFormats::CEntry> CListFormats::ReadPls(std::string text) {
    StripBom(text);
    if (!CListFormats::IsUtf8(text))
        text = CListFormats::FromWindows1252(text);
    std::map<long, CEntry> byNumber;
    bool inPlaylist = false, sawSection = false;
    for (const std::string& line : Lines(text)) {
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inPlaylist = va::EqualsNoCase(line, "[playlist]");
            sawSection = sawSection || inPlaylist;
            continue;
        }
        size_t eq = line.find('=');
        if (!inPlaylist || eq == std::string::npos)
            continue;
        std::string key = va::ToLowerAscii(va::Trim(line.substr(0, eq)));
        std::string value = va::Trim(line.substr(eq + 1));
        size_t digits = key.find_first_of("0123456789");
        if (digits == std::string::npos || digits == 0 || key.size() - digits > 6)
            continue;
        std::string field = key.substr(0, digits);
        long number = std::strtol(key.c_str() + digits, nullptr, 10);
        if (key.find_first_not_of("0123456789", digits) != std::string::npos)
            continue;
        CEntry& entry = byNumber[number];
        if (field == "file")
            entry.reference = value;
        else if (field == "title")
            entry.title = value;
        else if (field == "length")
            entry.duration = Seconds(value);
    }
    if (!sawSection)
        ThrowBadFormat("The [playlist] section is missing.");
    std::vector<CEntry> entries;
    for (auto& [number, entry] : byNumber)
        if (!entry.reference.empty())
            entries.push_back(std::move(entry));
    return entries;
}

std::vector<CListFormats::CEntry> CListFormats::ReadXspf(const std::string& text) {
    CXMLDOMDocument document;
    document.Create(true);
    document.SetAsync(false);
    if (!document.LoadXML(text))
        ThrowBadFormat(document.GetParseError());
    std::vector<CEntry> entries;
    CXMLDOMNodeList tracks = document.SelectNodes(
        "/*[local-name()='playlist']/*[local-name()='trackList']/*[local-name()='track']");
    for (int i = 0; i < tracks.GetLength(); ++i) {
        CXMLDOMNode track = tracks.GetItem(i);
        CXMLDOMNode location = track.SelectSingleNode("*[local-name()='location']");
        if (!location.IsValid())
            continue;
        CEntry entry;
        entry.reference = LocationToReference(location.GetText());
        if (entry.reference.empty())
            continue;
        // The nearest xml:base above the track resolves relative locations.
        CXMLDOMNode base = track.SelectSingleNode(
            "(ancestor-or-self::*/@*[local-name()='base' and "
            "namespace-uri()='http://www.w3.org/XML/1998/namespace'])[last()]");
        if (base.IsValid() && !va::IsUrl(entry.reference) && !entry.reference.empty() &&
            entry.reference[0] != '/')
            entry.reference =
                CAsxReader::ResolveReference(LocationToReference(base.GetText()), entry.reference);
        CXMLDOMNode title = track.SelectSingleNode("*[local-name()='title']");
        if (title.IsValid())
            entry.title = title.GetText();
        CXMLDOMNode duration = track.SelectSingleNode("*[local-name()='duration']");
        if (duration.IsValid()) {
            std::string ms = duration.GetText();
            char* end = nullptr;
            long long value = std::strtoll(ms.c_str(), &end, 10);
            if (end != ms.c_str() && *end == '\0' && value >= 0 && value < INT64_MAX / MILLISECONDS)
                entry.duration = value * MILLISECONDS;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

void CListFormats::LoadFile(CPlayList& list, EFormat format, const std::string& path,
                            const std::string& baseFolder) {
    std::string text, error;
    if (!va::xml::ReadXmlSource(path, kMaxXmlDocumentSize, text, error))
        ThrowBadFormat(error);
    LoadText(list, format, std::move(text),
             !baseFolder.empty() ? baseFolder : CAsxReader::FolderOf(path));
}

void CListFormats::LoadText(CPlayList& list, EFormat format, std::string text,
                            const std::string& baseFolder) {
    if (format == EFormat::asx) {
        CAsxReader::LoadXml(list, text, baseFolder);
        return;
    }
    std::vector<CEntry> entries = format == EFormat::pls ? ReadPls(std::move(text))
                                  : format == EFormat::xspf
                                      ? ReadXspf(text)
                                      : ReadM3u(std::move(text), format == EFormat::m3u8);
    list.SetBaseFolder(baseFolder);
    for (CEntry& entry : entries)
        entry.reference = CAsxReader::ResolveReference(list.GetBaseFolder(), entry.reference);
    Fill(list, entries);
}

bool CListFormats::FormatOfContentType(const std::string& contentType, const std::string& body,
                                       EFormat& format) {
    std::string type = va::ToLowerAscii(va::Trim(contentType.substr(0, contentType.find(';'))));
    static const std::pair<const char*, EFormat> kTypes[] = {
        {"audio/x-mpegurl", EFormat::m3u},
        {"audio/mpegurl", EFormat::m3u},
        {"application/x-mpegurl", EFormat::m3u},
        {"application/mpegurl", EFormat::m3u},
        {"application/vnd.apple.mpegurl", EFormat::m3u8},
        {"audio/x-scpls", EFormat::pls},
        {"application/xspf+xml", EFormat::xspf},
        {"video/x-ms-asx", EFormat::asx},
        {"video/x-ms-wvx", EFormat::asx},
        {"video/x-ms-wax", EFormat::asx},
        {"audio/x-ms-wax", EFormat::asx},
    };
    for (const auto& [name, f] : kTypes) {
        if (type == name) {
            format = f;
            return true;
        }
    }
    if (type == "video/x-ms-asf") {
        size_t first = body.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        first = body.find_first_not_of(" \t\r\n", first);
        if (first != std::string::npos && body[first] == '<') {
            format = EFormat::asx;
            return true;
        }
    }
    return false;
}

bool CListFormats::IsHlsPlaylist(const std::string& text) {
    for (const std::string& line : Lines(text))
        if (va::StartsWithNoCase(line, "#EXT-X-"))
            return true;
    return false;
}

bool CListFormats::FetchPlayList(const std::string& url, EFormat& format, std::string& text) {
    if (!va::StartsWithNoCase(url, "http://") && !va::StartsWithNoCase(url, "https://"))
        return false;
    // video/x-ms-asf is decided on the body's first bytes, so it is read too
    // (bounded by the size limit like every list).
    auto wanted = [](const std::string& type) {
        EFormat f;
        return FormatOfContentType(type, "<", f);
    };
    std::string contentType, error;
    if (!va::xml::FetchUrlOfType(url, kMaxXmlDocumentSize, wanted, contentType, text, error))
        return false;
    return FormatOfContentType(contentType, text, format);
}

CListFormats::COpenProbe CListFormats::Probe(const std::string& name) {
    COpenProbe probe;
    const std::string ext = va::ToLowerAscii(va::GetExtension(name));
    if (IsPlayListExtension(ext)) {
        probe.isPlayList = true;
        probe.format = FormatOfName(name);
        if (probe.format == EFormat::m3u || probe.format == EFormat::m3u8) {
            // Read once here: a stream playlist goes to the graph instead.
            std::string error;
            probe.fetched = va::xml::ReadXmlSource(name, kMaxXmlDocumentSize, probe.text, error);
            if (probe.fetched && IsHlsPlaylist(probe.text))
                probe = COpenProbe{};
        }
        return probe;
    }
    if (FetchPlayList(name, probe.format, probe.text)) {
        probe.fetched = true;
        probe.isPlayList = !((probe.format == EFormat::m3u || probe.format == EFormat::m3u8) &&
                             IsHlsPlaylist(probe.text));
    }
    if (!probe.isPlayList)
        probe = COpenProbe{};
    return probe;
}

void CListFormats::Load(CPlayList& list, COpenProbe probe, const std::string& name,
                        const std::string& baseFolder) {
    if (!probe.fetched) {
        list.LoadFile(name, baseFolder);
        return;
    }
    // ASX is read again by name, so that its own encoding declaration counts.
    if (probe.format == EFormat::asx) {
        CAsxReader::LoadFile(list, name, baseFolder);
        return;
    }
    LoadText(list, probe.format, std::move(probe.text),
             !baseFolder.empty() ? baseFolder : CAsxReader::FolderOf(name));
}

void CListFormats::Fill(CPlayList& list, const std::vector<CEntry>& entries) {
    list.Clear();
    REFERENCE_TIME runningStart = 0;
    for (const CEntry& entry : entries) {
        REFERENCE_TIME end = entry.duration;
        auto clip = std::make_unique<CPlayList::CClip>(list.GetClipFileFor(entry.reference),
                                                       entry.title, 0, end, std::string());
        if (IsKnownTime(runningStart)) {
            clip->SetListStart(runningStart);
            runningStart = IsKnownTime(end) ? AddTimes(runningStart, end) : -1;
        }
        list.AppendClip(std::move(clip));
    }
    if (list.GetCount() == 0)
        ThrowBadFormat(LoadResString(IDS_PLAYLIST_NO_ENTRIES));
    list.SelectClip(0);
}
