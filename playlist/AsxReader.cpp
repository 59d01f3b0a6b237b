#include "playlist/AsxReader.h"

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/xml/XmlDom.h"
#include "platform/xml/XmlSource.h"
#include "playlist/ListFormats.h"
#include "playlist/XMLDOMAttribute.h"
#include "playlist/XMLDOMElement.h"
#include "playlist/XSLTemplate.h"
#include "resources/StringTable.h"
#include "support/Exception.h"
#include "support/Strings.h"

namespace {

// "The playlist holds no entry with a media reference."
constexpr unsigned IDS_PLAYLIST_NO_ENTRIES = 0x7200;

// Folds element and attribute names to lower case; values and text are
// copied as they stand, comments and processing instructions are dropped.
const char kFoldNamesStylesheet[] =
    "<?xml version=\"1.0\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "\t<xsl:output method=\"xml\" encoding=\"utf-8\"/>\n"
    "\t<xsl:template match=\"*\">\n"
    "\t\t<xsl:variable name=\"eltName\" select=\"translate(name(), "
    "'ABCDEFGHIJKLMNOPQRSTUVWXYZ_-', 'abcdefghijklmnopqrstuvwxyz_-')\"/>\n"
    "\t\t<xsl:element name=\"{$eltName}\">\n"
    "\t\t\t<xsl:apply-templates select=\"@* | *\"/>\n"
    "\t\t\t<xsl:copy-of select=\"text()\"/>\n"
    "\t\t</xsl:element>\n"
    "\t</xsl:template>\n"
    "\t<xsl:template match=\"@*\">\n"
    "\t\t<xsl:variable name=\"attName\" select=\"translate(name(), "
    "'ABCDEFGHIJKLMNOPQRSTUVWXYZ_-', 'abcdefghijklmnopqrstuvwxyz_-')\"/>\n"
    "\t\t<xsl:attribute name=\"{$attName}\">\n"
    "\t\t\t<xsl:value-of select=\".\"/>\n"
    "\t\t</xsl:attribute>\n"
    "\t</xsl:template>\n"
    "</xsl:stylesheet>\n";

std::atomic<bool> g_foldWithStylesheet{false};

[[noreturn]] void ThrowBadFormat(const std::string& reason) {
    if (!reason.empty())
        SetErrorDescription(reason, "Velotrax");
    else
        SetErrorInfo(0, nullptr);
    ThrowHResult(HRESULT_BAD_FORMAT);
}

// Milliseconds beyond this cannot be turned into 100-ns units.
constexpr int64_t kMaxMs = std::numeric_limits<int64_t>::max() / MILLISECONDS;

int64_t ClampMs(long double ms) {
    if (std::isnan(ms))
        return 0;
    if (ms >= static_cast<long double>(kMaxMs))
        return kMaxMs;
    if (ms <= -static_cast<long double>(kMaxMs))
        return -kMaxMs;
    return static_cast<int64_t>(ms);
}

// The leading integer of a field as atoi reads it, held in 64 bits.
int64_t LeadingInteger(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\f' ||
           *text == '\v')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (value < kMaxMs)
            value = value * 10 + (*text - '0');
    if (value > kMaxMs)
        value = kMaxMs;
    return negative ? -value : value;
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool HasDriveLetter(const std::string& s) {
    return s.size() >= 2 && ((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z')) &&
           s[1] == ':';
}

// Splits a path into its root ("C:\", "\\server\share", "/" or "scheme://host")
// and the rest.
void SplitRoot(const std::string& path, std::string& root, std::string& rest) {
    if (va::IsUrl(path)) {
        size_t authority = path.find("://") + 3;
        size_t slash = path.find_first_of("/\\", authority);
        root = path.substr(0, slash);
        rest = slash == std::string::npos ? std::string() : path.substr(slash);
        return;
    }
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        // \\server\share
        size_t server = path.find_first_of("/\\", 2);
        size_t share = server == std::string::npos ? server : path.find_first_of("/\\", server + 1);
        root = path.substr(0, share);
        rest = share == std::string::npos ? std::string() : path.substr(share);
        return;
    }
    if (HasDriveLetter(path)) {
        root = path.substr(0, 2);
        rest = path.substr(2);
        return;
    }
    root.clear();
    rest = path;
}

// Joins root and segments with 'sep', dropping "." and folding "..".
std::string Canonicalize(const std::string& root, bool rooted, const std::string& rest, char sep) {
    std::vector<std::string> segments;
    std::string segment;
    auto flush = [&] {
        if (segment.empty() || segment == ".") {
        } else if (segment == "..") {
            if (!segments.empty() && segments.back() != "..")
                segments.pop_back();
            else if (!rooted)
                segments.push_back(segment);  // a relative path keeps leading ".."
        } else {
            segments.push_back(segment);
        }
        segment.clear();
    };
    for (char c : rest) {
        if (IsSeparator(c))
            flush();
        else
            segment += c;
    }
    flush();
    std::string result = root;
    if (rooted)
        result += sep;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (i > 0)
            result += sep;
        result += segments[i];
    }
    return result;
}

}  // namespace

// --- loading --------------------------------------------------------------------------

std::string CAsxReader::FolderOf(const std::string& path) {
    size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

void CAsxReader::LoadFile(CPlayList& list, const std::string& path, const std::string& baseFolder) {
    CXMLDOMDocument document;
    document.Create(true);
    document.SetAsync(false);
    const std::string folder = !baseFolder.empty() ? baseFolder : FolderOf(path);
    if (!document.Load(path)) {
        std::string reason = document.GetParseError();
        std::string content, error;
        if (!va::xml::ReadXmlSource(path, kMaxXmlDocumentSize, content, error) ||
            !LoadLenient(list, std::move(content), false, folder))
            ThrowBadFormat(reason);
        return;
    }
    list.SetBaseFolder(folder);
    FoldNames(document);
    Parse(list, document);
}

void CAsxReader::LoadXml(CPlayList& list, const std::string& text, const std::string& baseFolder) {
    CXMLDOMDocument document;
    document.Create(true);
    document.SetAsync(false);
    if (!document.LoadXML(text)) {
        std::string reason = document.GetParseError();
        if (!LoadLenient(list, text, true, baseFolder))
            ThrowBadFormat(reason);
        return;
    }
    list.SetBaseFolder(baseFolder);
    FoldNames(document);
    Parse(list, document);
}

bool CAsxReader::LoadLenient(CPlayList& list, std::string text, bool utf8Text,
                             const std::string& baseFolder) {
    // UTF-16 and UTF-32 documents get no second reading.
    if (text.size() >= 2 &&
        (static_cast<unsigned char>(text[0]) >= 0xFE || text[0] == '\0' || text[1] == '\0'))
        return false;
    bool transcoded = false;
    if (!HasEncodingDeclaration(text) && !CListFormats::IsUtf8(text)) {
        text = CListFormats::FromWindows1252(text);
        transcoded = true;
    }
    text = EscapeBareAmpersands(text);
    CXMLDOMDocument document;
    document.Create(true);
    document.SetAsync(false);
    if (!document.LoadXmlClosingOpenElements(text, utf8Text || transcoded ? "UTF-8" : nullptr))
        return false;
    FoldNames(document);
    if (!HasUsableEntry(document))
        return false;
    list.SetBaseFolder(baseFolder);
    Parse(list, document);
    return true;
}

bool CAsxReader::HasEncodingDeclaration(const std::string& text) {
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    if (text.compare(start, 5, "<?xml") != 0)
        return false;
    size_t end = text.find("?>", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start)
               .find("encoding") != std::string::npos;
}

std::string CAsxReader::EscapeBareAmpersands(const std::string& text) {
    auto isNameStart = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
               c >= 0x80;
    };
    auto isDigit = [](unsigned char c) { return c >= '0' && c <= '9'; };
    auto isHex = [&](unsigned char c) {
        return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    // Whether the '&' at 'at' starts "&name;", "&#digits;" or "&#xhex;".
    auto startsReference = [&](size_t at) {
        size_t i = at + 1;
        if (i < text.size() && text[i] == '#') {
            const bool hex = ++i < text.size() && text[i] == 'x';
            const size_t first = hex ? ++i : i;
            while (i < text.size() && (hex ? isHex(text[i]) : isDigit(text[i])))
                ++i;
            return i > first && i < text.size() && text[i] == ';';
        }
        if (i >= text.size() || !isNameStart(text[i]))
            return false;
        while (i < text.size() &&
               (isNameStart(text[i]) || isDigit(text[i]) || text[i] == '-' || text[i] == '.'))
            ++i;
        return i < text.size() && text[i] == ';';
    };
    // Comments, CDATA sections and processing instructions keep their text.
    static const std::pair<const char*, const char*> kVerbatim[] = {
        {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<') {
            bool copied = false;
            for (const auto& [open, close] : kVerbatim) {
                if (text.compare(i, std::strlen(open), open) != 0)
                    continue;
                size_t end = text.find(close, i + std::strlen(open));
                end = end == std::string::npos ? text.size() : end + std::strlen(close);
                out.append(text, i, end - i);
                i = end - 1;
                copied = true;
                break;
            }
            if (!copied)
                out += '<';
        } else if (text[i] == '&' && !startsReference(i)) {
            out += "&amp;";
        } else {
            out += text[i];
        }
    }
    return out;
}

void CAsxReader::FoldNames(CXMLDOMDocument& document) {
    if (g_foldWithStylesheet.load(std::memory_order_relaxed)) {
        document = FoldNamesWithStylesheet(document);
        return;
    }
    HRESULT hr = XmlFoldNames(document.GetDocument());
    if (FAILED(hr))
        ThrowHResult(hr);
}

void CAsxReader::SetFoldWithStylesheet(bool stylesheet) {
    g_foldWithStylesheet.store(stylesheet, std::memory_order_relaxed);
}

CXMLDOMDocument CAsxReader::FoldNamesWithStylesheet(const CXMLDOMDocument& document) {
    CXMLDOMDocument stylesheet;
    stylesheet.Create(true);
    stylesheet.SetAsync(false);
    stylesheet.LoadXML(kFoldNamesStylesheet);
    CXSLTemplate xslTemplate;
    xslTemplate.Create();
    xslTemplate.SetStylesheet(stylesheet);
    CXSLProcessor processor = xslTemplate.CreateProcessor();
    processor.SetInput(document);
    CXMLDOMDocument folded;
    folded.Create(true);
    folded.SetAsync(false);
    processor.SetOutput(folded);
    processor.Transform();  // a partial result reads as far as it got
    return folded;
}

bool CAsxReader::HasUsableEntry(const CXMLDOMDocument& document) {
    return document.SelectSingleNode("/asx//entry[string(ref/@href) != '']").IsValid();
}

void CAsxReader::Parse(CPlayList& list, const CXMLDOMDocument& document) {
    list.Clear();
    REFERENCE_TIME runningStart = 0;
    CXMLDOMNodeList entries = document.SelectNodes("/asx//entry");
    const int count = entries.GetLength();
    for (int i = 0; i < count; ++i) {
        CXMLDOMElement entry(entries.GetItem(i));
        CXMLDOMAttribute href(entry.SelectSingleNode("ref/@href"));
        if (!href.IsValid())
            continue;
        XmlVariant value = href.GetValue();
        std::string reference = XMLVariantToString(value);
        if (reference.empty())
            continue;
        std::string path = ResolveReference(list.GetBaseFolder(), reference);
        std::unique_ptr<CPlayList::CClip> clip = MakeClip(list.GetClipFileFor(path), entry);
        if (IsKnownTime(runningStart)) {
            clip->SetListStart(runningStart);
            REFERENCE_TIME duration = clip->GetDuration();
            runningStart = IsKnownTime(duration) ? AddTimes(runningStart, duration) : -1;
        }
        list.AppendClip(std::move(clip));
    }
    if (list.GetCount() == 0)
        ThrowBadFormat(LoadResString(IDS_PLAYLIST_NO_ENTRIES));
    list.SelectClip(0);
}

// --- entries --------------------------------------------------------------------------

std::unique_ptr<CPlayList::CClip> CAsxReader::MakeClip(CPlayList::CClipFile* file,
                                                       const CXMLDOMNode& entry) {
    // Two selections per entry: what its first ref holds, and its own
    // children; the first of each name (in document order) counts.
    CXMLDOMNode refStart, refDuration, start, duration, titleNode, abstractNode;
    auto firstOf = [](const CXMLDOMNodeList& nodes, const char* name, CXMLDOMNode& first) {
        for (int i = 0; i < nodes.GetLength() && !first.IsValid(); ++i) {
            CXMLDOMNode node = nodes.GetItem(i);
            if (node.GetNodeName() == name)
                first = node;
        }
    };
    CXMLDOMNodeList inRef = entry.SelectNodes("ref/starttime | ref/duration");
    firstOf(inRef, "starttime", refStart);
    firstOf(inRef, "duration", refDuration);
    CXMLDOMNodeList own = entry.SelectNodes("title | starttime | duration | abstract");
    firstOf(own, "title", titleNode);
    firstOf(own, "starttime", start);
    firstOf(own, "duration", duration);
    firstOf(own, "abstract", abstractNode);

    auto timeOf = [](const CXMLDOMNode& node) {
        XmlVariant value = CXMLDOMElement(node).GetAttribute("value");
        return ParseClipTime(XMLVariantToString(value));
    };
    std::string title = titleNode.IsValid() ? titleNode.GetText() : std::string();
    const CXMLDOMNode& startNode = refStart.IsValid() ? refStart : start;
    REFERENCE_TIME startTime = startNode.IsValid() ? timeOf(startNode) : 0;
    const CXMLDOMNode& durationNode = refDuration.IsValid() ? refDuration : duration;
    REFERENCE_TIME end = -1;
    if (durationNode.IsValid()) {
        REFERENCE_TIME d = timeOf(durationNode);
        end = d < 0 ? -1 : AddTimes(startTime, d);
    }
    std::string abstract = abstractNode.IsValid() ? abstractNode.GetText() : std::string();
    return std::make_unique<CPlayList::CClip>(file, std::move(title), startTime, end,
                                              std::move(abstract));
}

REFERENCE_TIME CAsxReader::ParseClipTime(const std::string& text) {
    if (text.empty())
        return 0;
    size_t colon = text.rfind(':');
    size_t secondsAt = colon == std::string::npos ? 0 : colon + 1;
    // The fraction reads with the decimal separator of the current locale.
    std::string seconds;
    const char* point = std::localeconv()->decimal_point;
    for (size_t i = secondsAt; i < text.size(); ++i) {
        if (text[i] == '.')
            seconds += (point && *point) ? point : ".";
        else
            seconds += text[i];
    }
    long double value = std::strtold(seconds.c_str(), nullptr);
    // Computed in 64 bits: times of 596 hours and more do not fit 32-bit milliseconds.
    int64_t total = ClampMs(value * 1000.0L + 0.5L);
    if (colon != std::string::npos) {
        size_t minutesAt = colon == 0 ? std::string::npos : text.rfind(':', colon - 1);
        int64_t minutes =
            LeadingInteger(text.c_str() + (minutesAt == std::string::npos ? 0 : minutesAt + 1));
        int64_t hours = 0;
        if (minutesAt != std::string::npos) {
            size_t hoursAt = minutesAt == 0 ? std::string::npos : text.rfind(':', minutesAt - 1);
            hours = LeadingInteger(text.c_str() + (hoursAt == std::string::npos ? 0 : hoursAt + 1));
        }
        long double sum = static_cast<long double>(hours) * 3600000.0L +
                          static_cast<long double>(minutes) * 60000.0L +
                          static_cast<long double>(total);
        total = ClampMs(sum);
    }
    return total * MILLISECONDS;
}

std::string CAsxReader::ResolveReference(const std::string& baseFolder,
                                         const std::string& reference) {
    // URLs, and full paths with a drive letter or a server name, stay as written.
    if (va::IsUrl(reference) || HasDriveLetter(reference) || va::IsWindowsFullPath(reference))
        return reference;
    if (baseFolder.empty()) {
        // Without a folder to read it against, a reference keeps its place but
        // '\' separates folders here as in the playlists other systems write.
        std::string path = reference;
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }

    std::string baseRoot, baseRest;
    SplitRoot(baseFolder, baseRoot, baseRest);
    const bool baseIsUrl = va::IsUrl(baseFolder);
    // Results use the base folder's separator: '\' for a Windows folder, '/' otherwise.
    const char sep = !baseIsUrl && baseFolder.find('\\') != std::string::npos &&
                             baseFolder.find('/') == std::string::npos
                         ? '\\'
                         : '/';
    const bool baseRooted = !baseRoot.empty() || (!baseRest.empty() && IsSeparator(baseRest[0]));
    if (IsSeparator(reference[0])) {
        // Rooted without a drive: on the root of the base folder.
        return Canonicalize(baseRoot, true, reference, sep);
    }
    return Canonicalize(baseRoot, baseRooted, baseRest + sep + reference, sep);
}
