#pragma once
// Filters, pins and the filter graph: the building blocks a graph is made
// of. Names are UTF-8 strings. Every interface pointer handed out carries a
// reference the caller releases.
#include <string>

#include "platform/com/IPersist.h"
#include "platform/com/Stream.h"
#include "platform/com/Unknown.h"
#include "platform/dshow/Clock.h"
#include "platform/dshow/MediaType.h"

struct IBaseFilter;
struct IFilterGraph;
struct IPin;

// Success codes of the graph that the common result list lacks.
constexpr HRESULT VFW_S_DUPLICATE_NAME = HR(0x0004022D);
constexpr HRESULT VFW_S_NO_STOP_TIME = HR(0x00040270);

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

struct PIN_INFO {
    IBaseFilter* pFilter = nullptr;  // counted: the caller releases it
    PIN_DIRECTION dir = PINDIR_INPUT;
    std::string achName;
};

struct FILTER_INFO {
    std::string achName;
    IFilterGraph* pGraph = nullptr;  // counted (null outside a graph): the caller releases it
};

// Media types handed out by enumerators and ConnectionMediaType own their
// format block (CoTaskMemAlloc); free them with FreeMediaType/DeleteMediaType.
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* p);
// Frees the format block and pUnk of *pmt and clears them.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a media type made by CreateMediaType (its block and the structure).
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// A heap copy of *src, format block included; null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src);
// Copies *src into *dst (dst's old block is not freed).
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);

struct IEnumMediaTypes : IUnknown {
    VA_INTERFACE_ID("89C31040-846B-11CE-97D3-00AA0055595A");
    // Up to c types, each made with CreateMediaType; S_FALSE when fewer were left.
    virtual HRESULT Next(ULONG c, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG c) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** ppEnum) = 0;
};

struct IEnumPins : IUnknown {
    VA_INTERFACE_ID("56A86892-0AD4-11CE-B03A-0020AF0BA770");
    // Up to c pins (counted); S_FALSE when fewer were left.
    virtual HRESULT Next(ULONG c, IPin** ppPins, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG c) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** ppEnum) = 0;
};

struct IEnumFilters : IUnknown {
    VA_INTERFACE_ID("56A86893-0AD4-11CE-B03A-0020AF0BA770");
    // Up to c filters (counted); S_FALSE when fewer were left.
    virtual HRESULT Next(ULONG c, IBaseFilter** ppFilters, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG c) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters** ppEnum) = 0;
};

struct IPin : IUnknown {
    VA_INTERFACE_ID("56A86891-0AD4-11CE-B03A-0020AF0BA770");
    // Connects this output pin to pReceivePin, with pmt (partial or null) as a hint.
    virtual HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) = 0;
    // Called on an input pin by the output pin that connects to it.
    virtual HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) = 0;
    // Breaks this side of the connection; S_FALSE when it was not connected.
    virtual HRESULT Disconnect() = 0;
    // The peer pin; VFW_E_NOT_CONNECTED when there is none.
    virtual HRESULT ConnectedTo(IPin** ppPin) = 0;
    // The type of the connection (caller frees it with FreeMediaType);
    // VFW_E_NOT_CONNECTED when there is none.
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) = 0;
    // Owning filter (counted), direction and name.
    virtual HRESULT QueryPinInfo(PIN_INFO* pInfo) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* pPinDir) = 0;
    // The pin's identifier, unique within its filter (used by FindPin).
    virtual HRESULT QueryId(std::string* id) = 0;
    // S_OK when the pin would accept the type now, S_FALSE when not.
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) = 0;
    // The pin's preferred types.
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) = 0;
};

struct IMediaFilter : IPersist {
    VA_INTERFACE_ID("56A86899-0AD4-11CE-B03A-0020AF0BA770");
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    // Runs with stream time 0 at reference time tStart.
    virtual HRESULT Run(REFERENCE_TIME tStart) = 0;
    // The state; VFW_S_STATE_INTERMEDIATE when a change is still in progress
    // after dwMilliSecsTimeout.
    virtual HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* state) = 0;
    // The clock the filter (or graph) runs on; null runs unsynchronised.
    virtual HRESULT SetSyncSource(IReferenceClock* pClock) = 0;
    // The clock in use (counted), null when none; S_FALSE when none.
    virtual HRESULT GetSyncSource(IReferenceClock** pClock) = 0;
};

struct IBaseFilter : IMediaFilter {
    VA_INTERFACE_ID("56A86895-0AD4-11CE-B03A-0020AF0BA770");
    virtual HRESULT EnumPins(IEnumPins** ppEnum) = 0;
    // The pin whose QueryId is id; VFW_E_NOT_FOUND when there is none.
    virtual HRESULT FindPin(const char* id, IPin** ppPin) = 0;
    // Name and graph (counted) of the filter.
    virtual HRESULT QueryFilterInfo(FILTER_INFO* pInfo) = 0;
    // Called by the graph when the filter is added (graph set) or removed (null).
    virtual HRESULT JoinFilterGraph(IFilterGraph* pGraph, const char* name) = 0;
    // A vendor text; E_NOTIMPL when there is none.
    virtual HRESULT QueryVendorInfo(std::string* info) = 0;
};

struct IFilterGraph : IUnknown {
    VA_INTERFACE_ID("56A8689F-0AD4-11CE-B03A-0020AF0BA770");
    // Adds the filter under name (null or empty: a generated name);
    // VFW_S_DUPLICATE_NAME when the name had to be changed.
    virtual HRESULT AddFilter(IBaseFilter* pFilter, const char* name) = 0;
    // Removes the filter, disconnecting its pins first.
    virtual HRESULT RemoveFilter(IBaseFilter* pFilter) = 0;
    // The filters in the graph.
    virtual HRESULT EnumFilters(IEnumFilters** ppEnum) = 0;
    virtual HRESULT FindFilterByName(const char* name, IBaseFilter** ppFilter) = 0;
    // Connects two pins directly with no filter between them.
    virtual HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT Reconnect(IPin* ppin) = 0;
    // Breaks the connection on this pin's side (call it for the peer too).
    virtual HRESULT Disconnect(IPin* ppin) = 0;
    // Lets the graph choose its own clock again.
    virtual HRESULT SetDefaultSyncSource() = 0;
};

struct IGraphBuilder : IFilterGraph {
    VA_INTERFACE_ID("56A868A9-0AD4-11CE-B03A-0020AF0BA770");
    // Connects the output pin to the input pin, adding converters as needed.
    virtual HRESULT Connect(IPin* ppinOut, IPin* ppinIn) = 0;
    // Builds a rendering chain downstream from the output pin.
    virtual HRESULT Render(IPin* ppinOut) = 0;
    // Builds the whole graph that plays the file or URL; the graph is left
    // stopped. VFW_S_AUDIO_NOT_RENDERED / VFW_S_VIDEO_NOT_RENDERED /
    // VFW_S_PARTIAL_RENDER when some streams could not be rendered.
    virtual HRESULT RenderFile(const char* file, const char* playList) = 0;
    // Adds a source filter for the file without rendering it.
    virtual HRESULT AddSourceFilter(const char* fileName, const char* filterName,
                                    IBaseFilter** ppFilter) = 0;
    virtual HRESULT Abort() = 0;
    // S_OK while building should go on, S_FALSE after Abort.
    virtual HRESULT ShouldOperationContinue() = 0;
};

// Names a filter the graph builder is about to create.
struct IMoniker : IUnknown {
    VA_INTERFACE_ID("0000000F-0000-0000-C000-000000000046");
    // The name of what the moniker stands for (here: the element factory).
    virtual HRESULT GetDisplayName(std::string* name) = 0;
    // Creates the object the moniker names.
    virtual HRESULT BindToObject(REFIID riid, void** ppv) = 0;
};

// Lets the graph builder ask an application before and after it creates filters.
struct IAMGraphBuilderCallback : IUnknown {
    VA_INTERFACE_ID("4995F511-9DDB-4F12-BD3B-F04611807B79");
    // A failure refuses the filter the moniker names.
    virtual HRESULT SelectedFilter(IMoniker* pMon) = 0;
    // The filter was created and is about to be used.
    virtual HRESULT CreatedFilter(IBaseFilter* pFil) = 0;
};

struct IObjectWithSite : IUnknown {
    VA_INTERFACE_ID("FC4801A3-2BA9-11CF-A229-00AA003D7352");
    // The graph takes IAMGraphBuilderCallback from the site (null detaches).
    virtual HRESULT SetSite(IUnknown* pUnkSite) = 0;
    virtual HRESULT GetSite(REFIID riid, void** ppvSite) = 0;
};

struct IPersistStream : IPersist {
    VA_INTERFACE_ID("00000109-0000-0000-C000-000000000046");
    // S_OK when changed since the last save, S_FALSE otherwise.
    virtual HRESULT IsDirty() = 0;
    // Restores the object from the stream.
    virtual HRESULT Load(IStream* pStm) = 0;
    virtual HRESULT Save(IStream* pStm, BOOL fClearDirty) = 0;
    virtual HRESULT GetSizeMax(uint64_t* pcbSize) = 0;
};

// A source filter that opens a named file or URL.
struct IFileSourceFilter : IUnknown {
    VA_INTERFACE_ID("56A868A6-0AD4-11CE-B03A-0020AF0BA770");
    virtual HRESULT Load(const char* fileName, const AM_MEDIA_TYPE* pmt) = 0;
    // The name loaded and its type (pmt may be null).
    virtual HRESULT GetCurFile(std::string* fileName, AM_MEDIA_TYPE* pmt) = 0;
};
