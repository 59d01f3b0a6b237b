#pragma once
// Internal to the editing services: the timeline model's objects and the
// helpers the reader and the render engine share.
#include <string>
#include <vector>

#include "platform/des/Des.h"

namespace va::des {

// One node of the timeline. Which of the typed interfaces it answers
// depends on its type: a group is a composition too, a track and a source
// answer only their own.
class CTimelineNode : public CUnknownImpl<CTimelineNode, IAMTimelineObj, IAMTimelineComp,
                                          IAMTimelineGroup, IAMTimelineTrack, IAMTimelineSrc> {
public:
    CTimelineNode(TIMELINE_MAJOR_TYPE type, double defaultFps);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    // IAMTimelineObj
    HRESULT GetStartStop(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT SetStartStop(REFERENCE_TIME start, REFERENCE_TIME stop) override;
    HRESULT GetTimelineType(TIMELINE_MAJOR_TYPE* type) override;
    HRESULT GetUserName(std::string* name) override;
    HRESULT SetUserName(const std::string& name) override;
    // IAMTimelineComp
    HRESULT VTrackInsBefore(IAMTimelineObj* track, long priority) override;
    HRESULT VTrackGetCount(long* count) override;
    HRESULT GetVTrack(IAMTimelineObj** track, long which) override;
    // IAMTimelineGroup
    HRESULT SetMediaKind(DES_MEDIA_KIND kind) override;
    HRESULT GetMediaKind(DES_MEDIA_KIND* kind) override;
    HRESULT SetOutputFPS(double fps) override;
    HRESULT GetOutputFPS(double* fps) override;
    HRESULT SetOutputSize(long width, long height) override;
    HRESULT GetOutputSize(long* width, long* height) override;
    HRESULT SetOutputBitDepth(long bits) override;
    HRESULT GetOutputBitDepth(long* bits) override;
    HRESULT SetSampleRate(long rate) override;
    HRESULT GetSampleRate(long* rate) override;
    HRESULT SetPreviewMode(BOOL preview) override;
    HRESULT GetPreviewMode(BOOL* preview) override;
    // IAMTimelineTrack
    HRESULT SrcAdd(IAMTimelineObj* source) override;
    HRESULT GetNextSrcEx(IAMTimelineObj* last, IAMTimelineObj** next) override;
    HRESULT GetSourcesCount(long* count) override;
    // IAMTimelineSrc
    HRESULT GetMediaName(std::string* name) override;
    HRESULT SetMediaName(const std::string& name) override;
    HRESULT GetMediaTimes(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT SetMediaTimes(REFERENCE_TIME start, REFERENCE_TIME stop) override;
    HRESULT GetMediaLength(REFERENCE_TIME* length) override;
    HRESULT SetMediaLength(REFERENCE_TIME length) override;
    HRESULT GetStretchMode(int* mode) override;
    HRESULT SetStretchMode(int mode) override;
    HRESULT GetDefaultFPS(double* fps) override;
    HRESULT SetDefaultFPS(double fps) override;

    TIMELINE_MAJOR_TYPE Type() const { return m_type; }
    bool IsComposition() const {
        return m_type == TIMELINE_MAJOR_TYPE_COMPOSITE || m_type == TIMELINE_MAJOR_TYPE_GROUP;
    }
    // Tracks and compositions in order; sources ordered by their start.
    const std::vector<CComPtr<IAMTimelineObj>>& Children() const;
    // The end of the last source below this node (0 when there is none).
    REFERENCE_TIME ContentEnd() const;

private:
    TIMELINE_MAJOR_TYPE m_type;
    REFERENCE_TIME m_start = 0;
    REFERENCE_TIME m_stop = 0;
    std::string m_userName;
    // Compositions: their tracks and compositions; tracks: their sources,
    // sorted by start when they are read (adding in any order stays cheap).
    mutable std::vector<CComPtr<IAMTimelineObj>> m_children;
    mutable bool m_unsorted = false;
    // Where GetNextSrcEx left off, so that walking a track takes linear time.
    size_t m_cursor = 0;
    // Groups.
    DES_MEDIA_KIND m_kind = DES_MEDIA_VIDEO;
    double m_outputFps;
    long m_width = 0;
    long m_height = 0;
    long m_bitDepth = 0;
    long m_sampleRate = 0;
    BOOL m_preview = 0;
    // Sources.
    std::string m_mediaName;
    REFERENCE_TIME m_mediaStart = 0;
    REFERENCE_TIME m_mediaStop = 0;
    REFERENCE_TIME m_mediaLength = -1;
    int m_stretchMode = RESIZEF_STRETCH;
    double m_sourceFps = 0.0;
};

// The model object of a node (null for a node of someone else's making).
CTimelineNode* NodeOf(IUnknown* object);

class CTimeline : public CUnknownImpl<CTimeline, IAMTimeline, IAMSetErrorLog> {
public:
    // IAMTimeline
    HRESULT CreateEmptyNode(IAMTimelineObj** node, TIMELINE_MAJOR_TYPE type) override;
    HRESULT AddGroup(IAMTimelineObj* group) override;
    HRESULT GetGroupCount(long* count) override;
    HRESULT GetGroup(IAMTimelineObj** group, long which) override;
    HRESULT ClearAllGroups() override;
    HRESULT SetDefaultFPS(double fps) override;
    HRESULT GetDefaultFPS(double* fps) override;
    HRESULT GetDuration(REFERENCE_TIME* duration) override;
    HRESULT ValidateSourceNames(long flags, IMediaLocator* locator, CEvent* done) override;
    // IAMSetErrorLog
    HRESULT get_ErrorLog(IAMErrorLog** log) override;
    HRESULT put_ErrorLog(IAMErrorLog* log) override;

    const std::vector<CComPtr<IAMTimelineObj>>& Groups() const { return m_groups; }

private:
    std::vector<CComPtr<IAMTimelineObj>> m_groups;
    double m_defaultFps = kDesDefaultFps;
    CComPtr<IAMErrorLog> m_log;
};

// Every source below a node, in order: groups, then their tracks and
// compositions depth first, then each track's sources by start.
void CollectSources(IAMTimelineObj* node, std::vector<CComPtr<IAMTimelineObj>>& sources);

// The timeline's error log (null when it has none or is not ours).
CComPtr<IAMErrorLog> ErrorLogOf(IUnknown* timeline);

// Reports an entry: through the log when there is one; a failure without a
// log leaves the description (text, line break, extra) in the thread's
// error object. Returns hr.
HRESULT Report(IAMErrorLog* log, HRESULT hr, long code, const std::string& text,
               const std::string& extra = {});

// Checks that a source name names a readable regular file (not a folder, a
// device or a network address) and gives its local path. The failure
// HRESULT and a description of the cause in 'why' otherwise.
HRESULT CheckMediaFile(const std::string& name, std::string& path, std::string& why);

// Class factories of the reader and the render engine (for the class table).
HRESULT CreateXml2Dex(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateRenderEngine(IUnknown* outer, REFIID riid, void** ppv);

}  // namespace va::des
