// The XTL reader: an XTL document (timeline → group → track or composite →
// clip) read through the platform's XML services into the timeline model.
// What the render engine does not render (transitions, effects, parameters)
// and clips whose times cannot be played are reported through the
// timeline's error log and skipped; a document that is no timeline fails.
#include "platform/des/XtlReader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "platform/des/DesModel.h"
#include "platform/xml/XmlDom.h"
#include "support/RefTime.h"
#include "support/Strings.h"

namespace va::des {

// ---------------------------------------------------------------- values

namespace {

constexpr REFERENCE_TIME kMaxTime = std::numeric_limits<REFERENCE_TIME>::max();
constexpr int kUnitDigits = 7;  // 100-ns units in a second: 10^7

// Reads digits into 'value'; false when there are none or they overflow 'limit'.
bool ReadDigits(std::string_view& s, uint64_t& value, uint64_t limit) {
    size_t n = 0;
    value = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') {
        value = value * 10 + uint64_t(s[n] - '0');
        if (value > limit)
            return false;
        ++n;
    }
    s.remove_prefix(n);
    return n > 0;
}

// Seconds with an optional fraction, in 100-ns units.
bool ReadSeconds(std::string_view& s, uint64_t& units, uint64_t maxWhole) {
    uint64_t whole = 0;
    bool haveWhole = !s.empty() && s[0] >= '0' && s[0] <= '9';
    if (haveWhole && !ReadDigits(s, whole, maxWhole))
        return false;
    uint64_t fraction = 0;
    if (!s.empty() && s[0] == '.') {
        s.remove_prefix(1);
        int digits = 0;
        bool roundUp = false;
        bool any = false;
        while (!s.empty() && s[0] >= '0' && s[0] <= '9') {
            if (digits < kUnitDigits) {
                fraction = fraction * 10 + uint64_t(s[0] - '0');
                ++digits;
            } else if (digits == kUnitDigits) {
                roundUp = s[0] >= '5';
                ++digits;
            }
            any = true;
            s.remove_prefix(1);
        }
        if (!any && !haveWhole)
            return false;
        for (; digits < kUnitDigits; ++digits)
            fraction *= 10;
        if (roundUp)
            ++fraction;
    } else if (!haveWhole) {
        return false;
    }
    units = whole * uint64_t(UNITS) + fraction;
    return true;
}

}  // namespace

bool ParseXtlTime(std::string_view text, REFERENCE_TIME& out) {
    std::string s = va::Trim(text);
    std::string_view v(s);
    bool negative = false;
    if (!v.empty() && (v[0] == '-' || v[0] == '+')) {
        negative = v[0] == '-';
        v.remove_prefix(1);
    }
    constexpr uint64_t kMaxSeconds = uint64_t(kMaxTime / UNITS) - 1;
    uint64_t units = 0;
    if (v.find(':') == std::string_view::npos) {
        if (!ReadSeconds(v, units, kMaxSeconds) || !v.empty())
            return false;
    } else {
        // [hh:]mm:ss[.fff]: the fields before the seconds are whole numbers.
        std::vector<uint64_t> fields;
        while (v.find(':') != std::string_view::npos) {
            uint64_t field = 0;
            if (!ReadDigits(v, field, kMaxSeconds) || v.empty() || v[0] != ':')
                return false;
            v.remove_prefix(1);
            fields.push_back(field);
        }
        if (fields.size() > 2)
            return false;
        uint64_t secondUnits = 0;
        if (!ReadSeconds(v, secondUnits, 59) || !v.empty())
            return false;
        uint64_t minutes = fields.back();
        uint64_t hours = fields.size() == 2 ? fields[0] : 0;
        if (fields.size() == 2 && minutes > 59)
            return false;
        uint64_t seconds = hours * 3600 + minutes * 60;
        if (hours > kMaxSeconds / 3600 || seconds > kMaxSeconds)
            return false;
        units = seconds * uint64_t(UNITS) + secondUnits;
    }
    out = negative ? -REFERENCE_TIME(units) : REFERENCE_TIME(units);
    return true;
}

bool ParseXtlNumber(std::string_view text, double& out) {
    std::string s = va::Trim(text);
    std::string_view v(s);
    uint64_t units = 0;
    if (!ReadSeconds(v, units, 1000000000) || !v.empty())
        return false;
    out = double(units) / double(UNITS);
    return true;
}

// ---------------------------------------------------------------- reader

namespace {

constexpr REFERENCE_TIME kUnset = std::numeric_limits<REFERENCE_TIME>::min();

class CXtlParser {
public:
    CXtlParser(IAMTimeline* timeline, IAMErrorLog* log) : m_timeline(timeline), m_log(log) {}

    HRESULT Read(IXMLDOMDocument* document);

private:
    using Element = CComPtr<IXMLDOMElement>;

    std::vector<Element> ChildElements(IXMLDOMNode* node);
    static std::string NameOf(IXMLDOMNode* node);
    static std::optional<std::string> Attribute(IXMLDOMElement* element, const char* name);

    HRESULT ReadGroup(IXMLDOMElement* element, int index);
    HRESULT ReadComposition(IXMLDOMElement* element, IAMTimelineComp* parent, int depth,
                            const std::string& where);
    HRESULT ReadTrack(IXMLDOMElement* element, IAMTimelineComp* parent, const std::string& where);
    HRESULT ReadClip(IXMLDOMElement* element, IAMTimelineTrack* track, REFERENCE_TIME& lastStop,
                     const std::string& where);
    // Reports an element that is skipped, with the reason and where it was.
    void Skip(const std::string& text, const std::string& where);
    void Warn(const std::string& text, const std::string& where);
    bool ReadTimeAttribute(IXMLDOMElement* element, const char* name, REFERENCE_TIME& value,
                           const std::string& where);
    HRESULT Fail(HRESULT hr, const std::string& text) { return Report(m_log, hr, 0, text); }

    IAMTimeline* m_timeline;
    IAMErrorLog* m_log;
    size_t m_elements = 0;
    int m_reports = 0;
    bool m_tooMany = false;
};

std::string CXtlParser::NameOf(IXMLDOMNode* node) {
    std::string name;
    if (node)
        node->get_nodeName(&name);
    return va::ToLowerAscii(name);
}

std::optional<std::string> CXtlParser::Attribute(IXMLDOMElement* element, const char* name) {
    XmlVariant value;
    if (FAILED(element->getAttribute(name, &value)) || value.kind != XmlVariant::Kind::String)
        return std::nullopt;
    return value.str;
}

std::vector<CXtlParser::Element> CXtlParser::ChildElements(IXMLDOMNode* node) {
    std::vector<Element> children;
    CComPtr<IXMLDOMNodeList> list;
    if (FAILED(node->selectNodes("*", &list)) || !list)
        return children;
    long length = 0;
    list->get_length(&length);
    for (long i = 0; i < length; ++i) {
        if (++m_elements > kMaxXtlElements) {
            m_tooMany = true;
            break;
        }
        CComPtr<IXMLDOMNode> item;
        if (list->get_item(i, &item) == S_OK && item)
            if (Element element{item.Get()})
                children.push_back(element);
    }
    return children;
}

void CXtlParser::Skip(const std::string& text, const std::string& where) {
    Warn(text + " It is skipped.", where);
}

void CXtlParser::Warn(const std::string& text, const std::string& where) {
    if (++m_reports > kMaxXtlReports) {
        if (m_reports == kMaxXtlReports + 1)
            Report(m_log, S_FALSE, DEX_IDS_NOT_RENDERED,
                   "The timeline holds more entries that cannot be played; they are skipped "
                   "without further notice.");
        return;
    }
    Report(m_log, S_FALSE, DEX_IDS_NOT_RENDERED, text, where);
}

bool CXtlParser::ReadTimeAttribute(IXMLDOMElement* element, const char* name, REFERENCE_TIME& value,
                                   const std::string& where) {
    auto text = Attribute(element, name);
    if (!text)
        return true;  // absent: the caller's default stays
    if (!ParseXtlTime(*text, value)) {
        Skip("The clip's " + std::string(name) + " \"" + *text + "\" is not a time.", where);
        return false;
    }
    return true;
}

HRESULT CXtlParser::Read(IXMLDOMDocument* document) {
    CComPtr<IXMLDOMElement> root;
    if (FAILED(document->get_documentElement(&root)) || !root)
        return Fail(VFW_E_INVALID_FILE_FORMAT, "The document holds no timeline.");
    std::string rootName = NameOf(root);
    if (rootName != "timeline")
        return Fail(VFW_E_INVALID_FILE_FORMAT,
                    "The document is no editing timeline: its root element is <" + rootName + ">.");
    int groups = 0;
    for (const Element& child : ChildElements(root)) {
        std::string name = NameOf(child);
        if (name == "group") {
            HRESULT hr = ReadGroup(child, groups);
            if (FAILED(hr))
                return hr;
            ++groups;
        } else {
            Skip("The timeline element <" + name + "> is not rendered.", "timeline");
        }
    }
    if (m_tooMany)
        return Fail(VFW_E_INVALID_FILE_FORMAT, "The timeline holds more than " +
                                                   std::to_string(kMaxXtlElements) + " elements.");
    return S_OK;
}

HRESULT CXtlParser::ReadGroup(IXMLDOMElement* element, int index) {
    std::string where = "group " + std::to_string(index + 1);
    CComPtr<IAMTimelineObj> obj;
    HRESULT hr = m_timeline->CreateEmptyNode(&obj, TIMELINE_MAJOR_TYPE_GROUP);
    if (FAILED(hr))
        return Fail(hr, "A group cannot be made.");
    CComPtr<IAMTimelineGroup> group(obj.Get());
    CComPtr<IAMTimelineComp> comp(obj.Get());
    if (auto name = Attribute(element, "name"))
        obj->SetUserName(*name);
    if (auto type = Attribute(element, "type")) {
        std::string kind = va::ToLowerAscii(va::Trim(*type));
        if (kind == "audio")
            group->SetMediaKind(DES_MEDIA_AUDIO);
        else if (kind != "video")
            Warn("The group type \"" + *type + "\" is unknown; the group is read as video.", where);
    }
    double number = 0;
    if (auto fps = Attribute(element, "framerate")) {
        if (!ParseXtlNumber(*fps, number) || FAILED(group->SetOutputFPS(number)))
            Warn("The frame rate \"" + *fps + "\" cannot be used; the default rate applies.",
                 where);
    }
    auto width = Attribute(element, "width");
    auto height = Attribute(element, "height");
    if (width || height) {
        double w = 0, h = 0;
        if (!width || !height || !ParseXtlNumber(*width, w) || !ParseXtlNumber(*height, h) ||
            FAILED(group->SetOutputSize(long(w), long(h))))
            Warn("The output size cannot be used; the size of the sources applies.", where);
    }
    if (auto bits = Attribute(element, "bitdepth")) {
        if (!ParseXtlNumber(*bits, number) || FAILED(group->SetOutputBitDepth(long(number))))
            Warn("The bit depth \"" + *bits + "\" cannot be used.", where);
    }
    if (auto rate = Attribute(element, "samplingrate")) {
        if (!ParseXtlNumber(*rate, number) || FAILED(group->SetSampleRate(long(number))))
            Warn("The sampling rate \"" + *rate + "\" cannot be used.", where);
    }
    if (auto preview = Attribute(element, "previewmode"))
        group->SetPreviewMode(va::Trim(*preview) == "1" || va::EqualsNoCase(*preview, "true"));
    hr = ReadComposition(element, comp, 0, where);
    if (FAILED(hr))
        return hr;
    hr = m_timeline->AddGroup(obj);
    return FAILED(hr) ? Fail(hr, "A group cannot be added to the timeline.") : S_OK;
}

// The tracks and compositions of a group or composition, in order.
HRESULT CXtlParser::ReadComposition(IXMLDOMElement* element, IAMTimelineComp* parent, int depth,
                                    const std::string& where) {
    int tracks = 0;
    for (const Element& child : ChildElements(element)) {
        std::string name = NameOf(child);
        std::string inner = where + ", track " + std::to_string(tracks + 1);
        HRESULT hr = S_OK;
        if (name == "track") {
            hr = ReadTrack(child, parent, inner);
            ++tracks;
        } else if (name == "composite") {
            if (depth + 1 >= kMaxXtlNesting) {
                Skip("The composition is nested too deeply.", inner);
                continue;
            }
            CComPtr<IAMTimelineObj> obj;
            hr = m_timeline->CreateEmptyNode(&obj, TIMELINE_MAJOR_TYPE_COMPOSITE);
            if (SUCCEEDED(hr)) {
                CComPtr<IAMTimelineComp> comp(obj.Get());
                hr = ReadComposition(child, comp, depth + 1, inner);
                if (SUCCEEDED(hr))
                    hr = parent->VTrackInsBefore(obj, -1);
            }
            ++tracks;
        } else if (name == "transition" || name == "effect") {
            Skip("The " + name + " is not rendered.", where);
        } else {
            Skip("The element <" + name + "> is not rendered.", where);
        }
        if (FAILED(hr))
            return Fail(hr, "A track cannot be added to the timeline.");
    }
    return S_OK;
}

HRESULT CXtlParser::ReadTrack(IXMLDOMElement* element, IAMTimelineComp* parent,
                              const std::string& where) {
    CComPtr<IAMTimelineObj> obj;
    HRESULT hr = m_timeline->CreateEmptyNode(&obj, TIMELINE_MAJOR_TYPE_TRACK);
    if (FAILED(hr))
        return hr;
    if (auto name = Attribute(element, "name"))
        obj->SetUserName(*name);
    CComPtr<IAMTimelineTrack> track(obj.Get());
    REFERENCE_TIME lastStop = 0;
    int clips = 0;
    for (const Element& child : ChildElements(element)) {
        std::string name = NameOf(child);
        if (name == "clip") {
            hr = ReadClip(child, track, lastStop, where + ", clip " + std::to_string(++clips));
            if (FAILED(hr))
                return hr;
        } else if (name == "transition" || name == "effect") {
            Skip("The " + name + " is not rendered.", where);
        } else {
            Skip("The element <" + name + "> is not rendered.", where);
        }
    }
    return parent->VTrackInsBefore(obj, -1);
}

HRESULT CXtlParser::ReadClip(IXMLDOMElement* element, IAMTimelineTrack* track,
                             REFERENCE_TIME& lastStop, const std::string& where) {
    auto src = Attribute(element, "src");
    if (!src || va::Trim(*src).empty()) {
        Skip("The clip names no source.", where);
        return S_OK;
    }
    std::string place = where + ": " + *src;
    REFERENCE_TIME start = kUnset, stop = kUnset, mstart = kUnset, mstop = kUnset, mlength = kUnset;
    if (!ReadTimeAttribute(element, "start", start, place) ||
        !ReadTimeAttribute(element, "stop", stop, place) ||
        !ReadTimeAttribute(element, "mstart", mstart, place) ||
        !ReadTimeAttribute(element, "mstop", mstop, place) ||
        !ReadTimeAttribute(element, "mlength", mlength, place))
        return S_OK;
    // A clip without a start follows the one before it; without a media
    // start it plays its source from the beginning.
    if (start == kUnset)
        start = lastStop;
    if (mstart == kUnset)
        mstart = 0;
    if (stop == kUnset) {
        if (mstop != kUnset)
            stop = start + (mstop - mstart);
        else if (mlength != kUnset)
            stop = start + (mlength - mstart);
        else {
            Skip("The clip has no stop time.", place);
            return S_OK;
        }
    }
    if (start < 0) {
        Skip("The clip starts before the timeline.", place);
        return S_OK;
    }
    if (stop <= start) {
        Skip("The clip stops before it starts.", place);
        return S_OK;
    }
    if (mstart < 0) {
        Skip("The clip's media start is negative.", place);
        return S_OK;
    }
    if (mstop == kUnset)
        mstop = mstart + (stop - start);
    if (mstop <= mstart) {
        Skip("The clip's media stop lies before its media start.", place);
        return S_OK;
    }
    int stretch = RESIZEF_STRETCH;
    if (auto mode = Attribute(element, "stretchmode")) {
        std::string m = va::ToLowerAscii(va::Trim(*mode));
        if (m == "crop" || m == "1")
            stretch = RESIZEF_CROP;
        else if (m != "stretch" && m != "0")
            Warn("The stretch mode \"" + *mode + "\" is unknown; the clip is stretched.", place);
    }
    if (stretch == RESIZEF_STRETCH && mstop - mstart != stop - start)
        Warn("Changing the speed of a clip is not rendered; the clip plays at normal speed.",
             place);
    double fps = 0;
    if (auto rate = Attribute(element, "framerate"))
        if (!ParseXtlNumber(*rate, fps))
            fps = 0;
    for (const Element& child : ChildElements(element))
        Skip("The clip's <" + NameOf(child) + "> is not rendered.", place);

    CComPtr<IAMTimelineObj> obj;
    HRESULT hr = m_timeline->CreateEmptyNode(&obj, TIMELINE_MAJOR_TYPE_SOURCE);
    if (FAILED(hr))
        return hr;
    CComPtr<IAMTimelineSrc> source(obj.Get());
    obj->SetStartStop(start, stop);
    if (auto name = Attribute(element, "name"))
        obj->SetUserName(*name);
    source->SetMediaName(va::Trim(*src));
    source->SetMediaTimes(mstart, mstop);
    source->SetMediaLength(mlength == kUnset ? -1 : mlength);
    source->SetStretchMode(stretch);
    source->SetDefaultFPS(fps);
    hr = track->SrcAdd(obj);
    if (SUCCEEDED(hr))
        lastStop = stop;
    return hr;
}

// ---------------------------------------------------------------- the reader object

class CXml2Dex : public CUnknownImpl<CXml2Dex, IXml2Dex> {
public:
    HRESULT ReadXMLFile(IUnknown* timeline, const std::string& path) override {
        CComPtr<IAMTimeline> target(timeline);
        if (!target)
            return timeline ? E_NOINTERFACE : E_POINTER;
        CComPtr<IAMErrorLog> log = ErrorLogOf(timeline);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            int err = errno;
            return Report(log, err == ENOENT || err == ENOTDIR ? VFW_E_NOT_FOUND : E_ACCESSDENIED,
                          DEX_IDS_MISSING_SOURCE_NAME,
                          "The timeline file cannot be opened: " + std::string(std::strerror(err)),
                          path);
        }
        if (!S_ISREG(st.st_mode))
            return Report(log, E_ACCESSDENIED, DEX_IDS_BAD_SOURCE_NAME,
                          "The timeline file is a folder or a device.", path);
        CComPtr<IXMLDOMDocument> document;
        HRESULT hr = XmlCreateDocument(true, &document);
        if (FAILED(hr))
            return hr;
        bool loaded = false;
        hr = document->load(path, &loaded);
        return Parse(target, log, document, hr, loaded);
    }

    HRESULT ReadXML(IUnknown* timeline, const std::string& text) override {
        CComPtr<IAMTimeline> target(timeline);
        if (!target)
            return timeline ? E_NOINTERFACE : E_POINTER;
        CComPtr<IAMErrorLog> log = ErrorLogOf(timeline);
        CComPtr<IXMLDOMDocument> document;
        HRESULT hr = XmlCreateDocument(true, &document);
        if (FAILED(hr))
            return hr;
        bool loaded = false;
        hr = document->loadXML(text, &loaded);
        return Parse(target, log, document, hr, loaded);
    }

private:
    static HRESULT Parse(IAMTimeline* timeline, IAMErrorLog* log, IXMLDOMDocument* document,
                         HRESULT loadResult, bool loaded) {
        if (FAILED(loadResult) || !loaded) {
            std::string reason;
            document->get_parseError(&reason);
            if (reason.empty())
                reason = "The document could not be read.";
            return Report(log, VFW_E_INVALID_FILE_FORMAT, DEX_IDS_BAD_SOURCE_NAME,
                          "The timeline file is not well-formed.", reason);
        }
        return CXtlParser(timeline, log).Read(document);
    }
};

}  // namespace

HRESULT CreateXml2Dex(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateAndQuery<CXml2Dex>(outer, riid, ppv);
}

}  // namespace va::des
