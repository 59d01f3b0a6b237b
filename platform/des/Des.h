#pragma once
// The editing services: a timeline model of groups, compositions, tracks
// and sources; an XTL reader that fills it; a render engine that builds the
// timeline's output over GStreamer Editing Services and puts it into a
// filter graph as its source; and the two callbacks a client may implement
// (a media locator that finds moved source files, an error log).
//
// Failures return a failed HRESULT and describe themselves through the
// timeline's error log when one is set, else in the thread's error object.
// Strings are UTF-8. Everything here is used from one thread at a time.
#include <string>

#include "platform/com/ClassTable.h"
#include "platform/dshow/DShow.h"
#include "platform/sync/Sync.h"

// Flags of ValidateSourceNames and IMediaLocator::FindMediaFile.
constexpr long SFN_VALIDATEF_CHECK = 0x01;     // check that the file exists
constexpr long SFN_VALIDATEF_POPUP = 0x02;     // ask the user (not offered here)
constexpr long SFN_VALIDATEF_TELLME = 0x04;    // report names that were replaced
constexpr long SFN_VALIDATEF_REPLACE = 0x08;   // replace names the locator found elsewhere
constexpr long SFN_VALIDATEF_USELOCAL = 0x10;  // prefer a local copy
constexpr long SFN_VALIDATEF_NOFIND = 0x20;    // do not search the folders
constexpr long SFN_VALIDATEF_IGNOREMUTED = 0x40;

enum TIMELINE_MAJOR_TYPE {
    TIMELINE_MAJOR_TYPE_COMPOSITE = 1,
    TIMELINE_MAJOR_TYPE_TRACK = 2,
    TIMELINE_MAJOR_TYPE_SOURCE = 4,
    TIMELINE_MAJOR_TYPE_TRANSITION = 8,
    TIMELINE_MAJOR_TYPE_EFFECT = 16,
    TIMELINE_MAJOR_TYPE_GROUP = 128,
};

// What a group carries.
enum DES_MEDIA_KIND { DES_MEDIA_VIDEO = 0, DES_MEDIA_AUDIO = 1 };

// How a source whose media range differs from its timeline range plays.
enum DES_STRETCH_MODE { RESIZEF_STRETCH = 0, RESIZEF_CROP = 1 };

// The frame rate a timeline's groups have unless they are given one.
constexpr double kDesDefaultFps = 15.0;

// The extra information of an error-log entry: nothing, a string or a number.
struct DES_VARIANT {
    enum Kind { Empty, String, I4 };
    Kind kind = Empty;
    std::string str;
    long lVal = 0;

    static DES_VARIANT FromString(std::string s) {
        DES_VARIANT v;
        v.kind = String;
        v.str = std::move(s);
        return v;
    }
};

// Error codes of log entries.
constexpr long DEX_IDS_BAD_SOURCE_NAME = 1400;
constexpr long DEX_IDS_MISSING_SOURCE_NAME = 1403;
constexpr long DEX_IDS_UNKNOWN_ELEMENT = 1406;
constexpr long DEX_IDS_BAD_TIMES = 1407;
constexpr long DEX_IDS_NOT_RENDERED = 1408;
constexpr long DEX_IDS_RENDER_FAILED = 1420;

struct IAMErrorLog : IUnknown {
    VA_INTERFACE_ID("03DD9CDE-DA22-454D-BEF1-AA23023B5983");
    // One entry: severity and code are the services' own; the result is the
    // HRESULT the failing operation returns (returned unchanged).
    virtual HRESULT LogError(long severity, const std::string& text, long errorCode, HRESULT hr,
                             const DES_VARIANT* extra) = 0;
};

struct IAMSetErrorLog : IUnknown {
    VA_INTERFACE_ID("C1CF1CD1-C12E-47A9-8C78-5C75991F0E39");
    virtual HRESULT get_ErrorLog(IAMErrorLog** log) = 0;
    virtual HRESULT put_ErrorLog(IAMErrorLog* log) = 0;
};

struct IMediaLocator : IUnknown {
    VA_INTERFACE_ID("016C67FE-6B21-4A82-A8F1-3D608CA238AE");
    // Finds the file for 'input'; S_OK keeps the name, S_FALSE asks the
    // caller to use *found instead, a failure means it was not found.
    virtual HRESULT FindMediaFile(const std::string& input, const std::string& filter,
                                  std::string* found, long flags) = 0;
    virtual HRESULT AddFoundLocation(const std::string& folder) = 0;
};

struct IAMTimeline;

// Every node of a timeline: groups, compositions, tracks and sources.
struct IAMTimelineObj : IUnknown {
    VA_INTERFACE_ID("9560CAE3-99BE-4093-84C8-C58EC6AF3DE9");
    virtual HRESULT GetStartStop(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
    virtual HRESULT SetStartStop(REFERENCE_TIME start, REFERENCE_TIME stop) = 0;
    virtual HRESULT GetTimelineType(TIMELINE_MAJOR_TYPE* type) = 0;
    virtual HRESULT GetUserName(std::string* name) = 0;
    virtual HRESULT SetUserName(const std::string& name) = 0;
};

// A composition: an ordered list of tracks and compositions (its virtual tracks).
struct IAMTimelineComp : IUnknown {
    VA_INTERFACE_ID("AB77C2A7-687D-4AB0-9316-EE731B0F5B47");
    // Inserts a track or composition before 'priority' (-1 appends).
    virtual HRESULT VTrackInsBefore(IAMTimelineObj* track, long priority) = 0;
    virtual HRESULT VTrackGetCount(long* count) = 0;
    virtual HRESULT GetVTrack(IAMTimelineObj** track, long which) = 0;
};

// A group: the top composition of one output stream.
struct IAMTimelineGroup : IUnknown {
    VA_INTERFACE_ID("250321C1-C381-457E-82CE-4B9CCC29B48C");
    virtual HRESULT SetMediaKind(DES_MEDIA_KIND kind) = 0;
    virtual HRESULT GetMediaKind(DES_MEDIA_KIND* kind) = 0;
    virtual HRESULT SetOutputFPS(double fps) = 0;
    virtual HRESULT GetOutputFPS(double* fps) = 0;
    // Video size in pixels; 0 x 0 takes the size of the first source.
    virtual HRESULT SetOutputSize(long width, long height) = 0;
    virtual HRESULT GetOutputSize(long* width, long* height) = 0;
    virtual HRESULT SetOutputBitDepth(long bits) = 0;
    virtual HRESULT GetOutputBitDepth(long* bits) = 0;
    // Audio sampling rate; 0 keeps the sources' rate.
    virtual HRESULT SetSampleRate(long rate) = 0;
    virtual HRESULT GetSampleRate(long* rate) = 0;
    virtual HRESULT SetPreviewMode(BOOL preview) = 0;
    virtual HRESULT GetPreviewMode(BOOL* preview) = 0;
};

struct IAMTimelineTrack : IUnknown {
    VA_INTERFACE_ID("732AE5E9-B380-42CD-9550-EFED19E4B9B4");
    // Adds a source; sources are kept in the order of their start times.
    virtual HRESULT SrcAdd(IAMTimelineObj* source) = 0;
    // The source after 'last' (null: the first); S_FALSE and null at the end.
    virtual HRESULT GetNextSrcEx(IAMTimelineObj* last, IAMTimelineObj** next) = 0;
    virtual HRESULT GetSourcesCount(long* count) = 0;
};

struct IAMTimelineSrc : IUnknown {
    VA_INTERFACE_ID("DFBDD315-D020-4647-A0FE-C6BFB0538C77");
    virtual HRESULT GetMediaName(std::string* name) = 0;
    virtual HRESULT SetMediaName(const std::string& name) = 0;
    // The range of the media that plays (start = the in-point).
    virtual HRESULT GetMediaTimes(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
    virtual HRESULT SetMediaTimes(REFERENCE_TIME start, REFERENCE_TIME stop) = 0;
    // The media's length as the timeline file states it; -1 when not stated.
    virtual HRESULT GetMediaLength(REFERENCE_TIME* length) = 0;
    virtual HRESULT SetMediaLength(REFERENCE_TIME length) = 0;
    virtual HRESULT GetStretchMode(int* mode) = 0;
    virtual HRESULT SetStretchMode(int mode) = 0;
    // The source's own frame rate as the timeline file states it; 0 when not stated.
    virtual HRESULT GetDefaultFPS(double* fps) = 0;
    virtual HRESULT SetDefaultFPS(double fps) = 0;
};

struct IAMTimeline : IUnknown {
    VA_INTERFACE_ID("2150B732-218F-42FA-B33C-0B2D33484378");
    virtual HRESULT CreateEmptyNode(IAMTimelineObj** node, TIMELINE_MAJOR_TYPE type) = 0;
    virtual HRESULT AddGroup(IAMTimelineObj* group) = 0;
    virtual HRESULT GetGroupCount(long* count) = 0;
    virtual HRESULT GetGroup(IAMTimelineObj** group, long which) = 0;
    virtual HRESULT ClearAllGroups() = 0;
    virtual HRESULT SetDefaultFPS(double fps) = 0;
    virtual HRESULT GetDefaultFPS(double* fps) = 0;
    // The end of the last source of any group.
    virtual HRESULT GetDuration(REFERENCE_TIME* duration) = 0;
    // Checks every source's name (through the locator when one is given,
    // else by looking for the file) and, with SFN_VALIDATEF_REPLACE, takes
    // the names the locator found. Sets 'done' when it has finished.
    virtual HRESULT ValidateSourceNames(long flags, IMediaLocator* locator, CEvent* done) = 0;
};

// Reads an XTL document into a timeline.
struct IXml2Dex : IUnknown {
    VA_INTERFACE_ID("98F4475B-8AF1-4728-872D-FCDDA08CF7EA");
    virtual HRESULT ReadXMLFile(IUnknown* timeline, const std::string& path) = 0;
    virtual HRESULT ReadXML(IUnknown* timeline, const std::string& text) = 0;
};

// Builds the output of a timeline into a filter graph.
struct IRenderEngine : IUnknown {
    VA_INTERFACE_ID("CC4C2408-6419-40C2-B23A-74D20F0ECEFB");
    virtual HRESULT SetTimelineObject(IAMTimeline* timeline) = 0;
    virtual HRESULT GetTimelineObject(IAMTimeline** timeline) = 0;
    virtual HRESULT SetFilterGraph(IGraphBuilder* graph) = 0;
    virtual HRESULT GetFilterGraph(IGraphBuilder** graph) = 0;
    virtual HRESULT SetDynamicReconnectLevel(long level) = 0;
    // Puts the timeline's front end (one filter, one output pin per group)
    // into the graph.
    virtual HRESULT ConnectFrontEnd() = 0;
    // Renders every free output pin of the front end through the graph.
    virtual HRESULT RenderOutputPins() = 0;
    // The front end's output pin of a group (counted), S_FALSE and null when
    // the group has none.
    virtual HRESULT GetGroupOutputPin(long group, IPin** pin) = 0;
    // Takes the front end and everything rendered from it out of the graph.
    virtual HRESULT ScrapIt() = 0;
};

inline constexpr CLSID CLSID_AMTimeline = MakeGuid("7C1BCE3D-F75D-4D27-94D7-B0964D944C29");
inline constexpr CLSID CLSID_Xml2Dex = MakeGuid("E5F930A2-4042-42EB-8171-7DAC5987071D");
inline constexpr CLSID CLSID_RenderEngine = MakeGuid("77796062-DA76-4BFB-AF75-BB5EE2AF1192");

// Registers the timeline, XTL reader and render engine classes. Safe to
// call any number of times from any thread; returns true.
bool RegisterEditingServicesClasses();

// Every program that includes this header registers the classes before main.
inline const bool g_editingServicesClassesRegistered = RegisterEditingServicesClasses();
