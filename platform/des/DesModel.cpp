#include "platform/des/DesModel.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/com/ErrorInfo.h"
#include "support/Strings.h"

namespace va::des {

namespace {

// Answers the model's own class through QueryInterface, so that nodes of
// another making are told apart from ours.
constexpr IID IID_CTimelineNode = MakeGuid("5E0C7F31-24B6-4D7A-9C0D-7B5D1A4E8F20");

bool IsTrackOrComposition(CTimelineNode* node) {
    return node && (node->Type() == TIMELINE_MAJOR_TYPE_TRACK ||
                    node->Type() == TIMELINE_MAJOR_TYPE_COMPOSITE);
}

REFERENCE_TIME StartOf(IAMTimelineObj* obj) {
    REFERENCE_TIME start = 0, stop = 0;
    obj->GetStartStop(&start, &stop);
    return start;
}

}  // namespace

// ---------------------------------------------------------------- node

CTimelineNode::CTimelineNode(TIMELINE_MAJOR_TYPE type, double defaultFps)
    : m_type(type), m_outputFps(defaultFps) {}

CTimelineNode* NodeOf(IUnknown* object) {
    if (!object)
        return nullptr;
    void* node = nullptr;
    if (FAILED(object->QueryInterface(IID_CTimelineNode, &node)) || !node)
        return nullptr;
    auto* result = static_cast<CTimelineNode*>(node);
    result->Release();  // the caller holds the object
    return result;
}

HRESULT CTimelineNode::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_CTimelineNode) {
        *ppv = this;
        AddRef();
        return S_OK;
    }
    bool offered = true;
    if (riid == IAMTimelineComp::iid)
        offered = IsComposition();
    else if (riid == IAMTimelineGroup::iid)
        offered = m_type == TIMELINE_MAJOR_TYPE_GROUP;
    else if (riid == IAMTimelineTrack::iid)
        offered = m_type == TIMELINE_MAJOR_TYPE_TRACK;
    else if (riid == IAMTimelineSrc::iid)
        offered = m_type == TIMELINE_MAJOR_TYPE_SOURCE;
    if (!offered)
        return E_NOINTERFACE;
    return CUnknownImpl::QueryInterface(riid, ppv);
}

const std::vector<CComPtr<IAMTimelineObj>>& CTimelineNode::Children() const {
    if (m_unsorted) {
        std::stable_sort(m_children.begin(), m_children.end(),
                         [](const CComPtr<IAMTimelineObj>& a, const CComPtr<IAMTimelineObj>& b) {
                             return StartOf(a) < StartOf(b);
                         });
        m_unsorted = false;
    }
    return m_children;
}

REFERENCE_TIME CTimelineNode::ContentEnd() const {
    if (m_type == TIMELINE_MAJOR_TYPE_SOURCE)
        return m_stop;
    REFERENCE_TIME end = 0;
    for (const auto& child : m_children)
        if (CTimelineNode* node = NodeOf(child))
            end = std::max(end, node->ContentEnd());
    return end;
}

HRESULT CTimelineNode::GetStartStop(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (!start || !stop)
        return E_POINTER;
    if (m_type == TIMELINE_MAJOR_TYPE_SOURCE) {
        *start = m_start;
        *stop = m_stop;
    } else {
        // Containers span their content.
        *start = 0;
        *stop = ContentEnd();
    }
    return S_OK;
}

HRESULT CTimelineNode::SetStartStop(REFERENCE_TIME start, REFERENCE_TIME stop) {
    if (m_type != TIMELINE_MAJOR_TYPE_SOURCE)
        return E_NOTIMPL;
    if (start < 0 || stop < start)
        return E_INVALIDARG;
    m_start = start;
    m_stop = stop;
    return S_OK;
}

HRESULT CTimelineNode::GetTimelineType(TIMELINE_MAJOR_TYPE* type) {
    if (!type)
        return E_POINTER;
    *type = m_type;
    return S_OK;
}

HRESULT CTimelineNode::GetUserName(std::string* name) {
    if (!name)
        return E_POINTER;
    *name = m_userName;
    return S_OK;
}

HRESULT CTimelineNode::SetUserName(const std::string& name) {
    m_userName = name;
    return S_OK;
}

HRESULT CTimelineNode::VTrackInsBefore(IAMTimelineObj* track, long priority) {
    if (!track)
        return E_POINTER;
    CTimelineNode* node = NodeOf(track);
    if (!IsTrackOrComposition(node) || node == this)
        return E_INVALIDARG;
    size_t at =
        priority < 0 || size_t(priority) > m_children.size() ? m_children.size() : size_t(priority);
    m_children.insert(m_children.begin() + at, CComPtr<IAMTimelineObj>(track));
    return S_OK;
}

HRESULT CTimelineNode::VTrackGetCount(long* count) {
    if (!count)
        return E_POINTER;
    *count = long(m_children.size());
    return S_OK;
}

HRESULT CTimelineNode::GetVTrack(IAMTimelineObj** track, long which) {
    if (!track)
        return E_POINTER;
    *track = nullptr;
    if (which < 0 || size_t(which) >= m_children.size())
        return E_INVALIDARG;
    *track = m_children[size_t(which)].Get();
    (*track)->AddRef();
    return S_OK;
}

HRESULT CTimelineNode::SetMediaKind(DES_MEDIA_KIND kind) {
    if (kind != DES_MEDIA_VIDEO && kind != DES_MEDIA_AUDIO)
        return E_INVALIDARG;
    m_kind = kind;
    return S_OK;
}

HRESULT CTimelineNode::GetMediaKind(DES_MEDIA_KIND* kind) {
    if (!kind)
        return E_POINTER;
    *kind = m_kind;
    return S_OK;
}

HRESULT CTimelineNode::SetOutputFPS(double fps) {
    // Rates the output can be made at: a frame lasts between 1 ms and 1000 s.
    if (!(fps >= 0.001 && fps <= 1000.0))
        return E_INVALIDARG;
    m_outputFps = fps;
    return S_OK;
}

HRESULT CTimelineNode::GetOutputFPS(double* fps) {
    if (!fps)
        return E_POINTER;
    *fps = m_outputFps;
    return S_OK;
}

HRESULT CTimelineNode::SetOutputSize(long width, long height) {
    if (width < 0 || height < 0 || width > 16384 || height > 16384 || (width == 0) != (height == 0))
        return E_INVALIDARG;
    m_width = width;
    m_height = height;
    return S_OK;
}

HRESULT CTimelineNode::GetOutputSize(long* width, long* height) {
    if (!width || !height)
        return E_POINTER;
    *width = m_width;
    *height = m_height;
    return S_OK;
}

HRESULT CTimelineNode::SetOutputBitDepth(long bits) {
    if (bits < 0 || bits > 64)
        return E_INVALIDARG;
    m_bitDepth = bits;
    return S_OK;
}

HRESULT CTimelineNode::GetOutputBitDepth(long* bits) {
    if (!bits)
        return E_POINTER;
    *bits = m_bitDepth;
    return S_OK;
}

HRESULT CTimelineNode::SetSampleRate(long rate) {
    if (rate < 0 || rate > 1000000)
        return E_INVALIDARG;
    m_sampleRate = rate;
    return S_OK;
}

HRESULT CTimelineNode::GetSampleRate(long* rate) {
    if (!rate)
        return E_POINTER;
    *rate = m_sampleRate;
    return S_OK;
}

HRESULT CTimelineNode::SetPreviewMode(BOOL preview) {
    m_preview = preview ? 1 : 0;
    return S_OK;
}

HRESULT CTimelineNode::GetPreviewMode(BOOL* preview) {
    if (!preview)
        return E_POINTER;
    *preview = m_preview;
    return S_OK;
}

HRESULT CTimelineNode::SrcAdd(IAMTimelineObj* source) {
    if (!source)
        return E_POINTER;
    CTimelineNode* node = NodeOf(source);
    if (!node || node->Type() != TIMELINE_MAJOR_TYPE_SOURCE)
        return E_INVALIDARG;
    if (!m_children.empty() && node->m_start < StartOf(m_children.back()))
        m_unsorted = true;
    m_children.emplace_back(source);
    return S_OK;
}

HRESULT CTimelineNode::GetNextSrcEx(IAMTimelineObj* last, IAMTimelineObj** next) {
    if (!next)
        return E_POINTER;
    *next = nullptr;
    const auto& children = Children();
    size_t index = 0;
    if (last) {
        if (m_cursor < children.size() && children[m_cursor].Get() == last) {
            index = m_cursor + 1;
        } else {
            auto it =
                std::find_if(children.begin(), children.end(),
                             [&](const CComPtr<IAMTimelineObj>& s) { return s.Get() == last; });
            if (it == children.end())
                return E_INVALIDARG;
            index = size_t(it - children.begin()) + 1;
        }
    }
    if (index >= children.size())
        return S_FALSE;
    m_cursor = index;
    *next = children[index].Get();
    (*next)->AddRef();
    return S_OK;
}

HRESULT CTimelineNode::GetSourcesCount(long* count) {
    if (!count)
        return E_POINTER;
    *count = long(m_children.size());
    return S_OK;
}

HRESULT CTimelineNode::GetMediaName(std::string* name) {
    if (!name)
        return E_POINTER;
    *name = m_mediaName;
    return S_OK;
}

HRESULT CTimelineNode::SetMediaName(const std::string& name) {
    m_mediaName = name;
    return S_OK;
}

HRESULT CTimelineNode::GetMediaTimes(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (!start || !stop)
        return E_POINTER;
    *start = m_mediaStart;
    *stop = m_mediaStop;
    return S_OK;
}

HRESULT CTimelineNode::SetMediaTimes(REFERENCE_TIME start, REFERENCE_TIME stop) {
    if (start < 0 || stop < start)
        return E_INVALIDARG;
    m_mediaStart = start;
    m_mediaStop = stop;
    return S_OK;
}

HRESULT CTimelineNode::GetMediaLength(REFERENCE_TIME* length) {
    if (!length)
        return E_POINTER;
    *length = m_mediaLength;
    return S_OK;
}

HRESULT CTimelineNode::SetMediaLength(REFERENCE_TIME length) {
    m_mediaLength = length < 0 ? -1 : length;
    return S_OK;
}

HRESULT CTimelineNode::GetStretchMode(int* mode) {
    if (!mode)
        return E_POINTER;
    *mode = m_stretchMode;
    return S_OK;
}

HRESULT CTimelineNode::SetStretchMode(int mode) {
    if (mode != RESIZEF_STRETCH && mode != RESIZEF_CROP)
        return E_INVALIDARG;
    m_stretchMode = mode;
    return S_OK;
}

HRESULT CTimelineNode::GetDefaultFPS(double* fps) {
    if (!fps)
        return E_POINTER;
    *fps = m_sourceFps;
    return S_OK;
}

HRESULT CTimelineNode::SetDefaultFPS(double fps) {
    if (!(fps >= 0.0 && fps <= 1000.0))
        return E_INVALIDARG;
    m_sourceFps = fps;
    return S_OK;
}

// ---------------------------------------------------------------- timeline

HRESULT CTimeline::CreateEmptyNode(IAMTimelineObj** node, TIMELINE_MAJOR_TYPE type) {
    if (!node)
        return E_POINTER;
    *node = nullptr;
    switch (type) {
        case TIMELINE_MAJOR_TYPE_GROUP:
        case TIMELINE_MAJOR_TYPE_COMPOSITE:
        case TIMELINE_MAJOR_TYPE_TRACK:
        case TIMELINE_MAJOR_TYPE_SOURCE:
            break;
        default:
            return E_NOTIMPL;  // transitions and effects are not rendered
    }
    auto* made = new CTimelineNode(type, m_defaultFps);
    made->AddRef();
    *node = made;
    return S_OK;
}

HRESULT CTimeline::AddGroup(IAMTimelineObj* group) {
    if (!group)
        return E_POINTER;
    CTimelineNode* node = NodeOf(group);
    if (!node || node->Type() != TIMELINE_MAJOR_TYPE_GROUP)
        return E_INVALIDARG;
    m_groups.emplace_back(group);
    return S_OK;
}

HRESULT CTimeline::GetGroupCount(long* count) {
    if (!count)
        return E_POINTER;
    *count = long(m_groups.size());
    return S_OK;
}

HRESULT CTimeline::GetGroup(IAMTimelineObj** group, long which) {
    if (!group)
        return E_POINTER;
    *group = nullptr;
    if (which < 0 || size_t(which) >= m_groups.size())
        return E_INVALIDARG;
    *group = m_groups[size_t(which)].Get();
    (*group)->AddRef();
    return S_OK;
}

HRESULT CTimeline::ClearAllGroups() {
    m_groups.clear();
    return S_OK;
}

HRESULT CTimeline::SetDefaultFPS(double fps) {
    if (!(fps >= 0.001 && fps <= 1000.0))
        return E_INVALIDARG;
    m_defaultFps = fps;
    return S_OK;
}

HRESULT CTimeline::GetDefaultFPS(double* fps) {
    if (!fps)
        return E_POINTER;
    *fps = m_defaultFps;
    return S_OK;
}

HRESULT CTimeline::GetDuration(REFERENCE_TIME* duration) {
    if (!duration)
        return E_POINTER;
    REFERENCE_TIME end = 0;
    for (const auto& group : m_groups)
        if (CTimelineNode* node = NodeOf(group))
            end = std::max(end, node->ContentEnd());
    *duration = end;
    return S_OK;
}

HRESULT CTimeline::ValidateSourceNames(long flags, IMediaLocator* locator, CEvent* done) {
    std::vector<CComPtr<IAMTimelineObj>> sources;
    for (const auto& group : m_groups)
        CollectSources(group, sources);
    for (const auto& source : sources) {
        CComPtr<IAMTimelineSrc> src(source.Get());
        std::string name;
        if (!src || FAILED(src->GetMediaName(&name)) || name.empty())
            continue;
        if (!(flags & SFN_VALIDATEF_CHECK))
            continue;
        if (locator) {
            std::string found;
            HRESULT hr = locator->FindMediaFile(name, std::string(), &found, flags);
            if (hr == S_FALSE && (flags & SFN_VALIDATEF_REPLACE) && !found.empty())
                src->SetMediaName(found);
        }
        // Names that stay unfound are reported when the timeline is rendered.
    }
    if (done)
        done->Set();
    return S_OK;
}

HRESULT CTimeline::get_ErrorLog(IAMErrorLog** log) {
    if (!log)
        return E_POINTER;
    *log = m_log.Get();
    if (*log)
        (*log)->AddRef();
    return S_OK;
}

HRESULT CTimeline::put_ErrorLog(IAMErrorLog* log) {
    m_log = log;
    return S_OK;
}

// ---------------------------------------------------------------- helpers

void CollectSources(IAMTimelineObj* obj, std::vector<CComPtr<IAMTimelineObj>>& sources) {
    CTimelineNode* node = NodeOf(obj);
    if (!node)
        return;
    if (node->Type() == TIMELINE_MAJOR_TYPE_SOURCE) {
        sources.emplace_back(obj);
        return;
    }
    for (const auto& child : node->Children())
        CollectSources(child, sources);
}

CComPtr<IAMErrorLog> ErrorLogOf(IUnknown* timeline) {
    CComPtr<IAMSetErrorLog> setLog(timeline);
    CComPtr<IAMErrorLog> log;
    if (setLog)
        setLog->get_ErrorLog(&log);
    return log;
}

HRESULT Report(IAMErrorLog* log, HRESULT hr, long code, const std::string& text,
               const std::string& extra) {
    if (log) {
        DES_VARIANT info;
        if (!extra.empty())
            info = DES_VARIANT::FromString(extra);
        log->LogError(FAILED(hr) ? 2 : 1, text, code, hr, &info);
        return hr;
    }
    if (FAILED(hr))
        SetErrorDescription(extra.empty() ? text : text + "\r\n" + extra, "Velotrax");
    return hr;
}

HRESULT CheckMediaFile(const std::string& name, std::string& path, std::string& why) {
    path = name;
    if (va::IsUrl(name)) {
        if (!va::StartsWithNoCase(name, "file://")) {
            why = "Sources of a timeline must be local files.";
            return E_ACCESSDENIED;
        }
        gchar* local = g_filename_from_uri(name.c_str(), nullptr, nullptr);
        if (!local) {
            why = "The address does not name a local file.";
            return HRESULT_FILE_NOT_FOUND;
        }
        path = local;
        g_free(local);
    }
    if (path.empty()) {
        why = "The source has no name.";
        return E_INVALIDARG;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        int err = errno;
        why = std::strerror(err);
        return err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG ? HRESULT_FILE_NOT_FOUND
                                                                      : E_ACCESSDENIED;
    }
    if (S_ISDIR(st.st_mode)) {
        why = "The name is that of a folder, not of a media file.";
        return E_ACCESSDENIED;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "The name is that of a device or other special file, not of a media file.";
        return E_ACCESSDENIED;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        why = std::strerror(errno);
        return E_ACCESSDENIED;
    }
    return S_OK;
}

}  // namespace va::des
