// Lifetime of the graph and the building operations of the wrapper.
#include "playback/VaFilterGraph.h"

#include <sys/stat.h>
#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "playback/VaAMGraphBuilderCallback.h"
#include "playback/VaGraphUtil.h"
#include "playback/VaScaledReferenceClock.h"
#include "playback/VaWindowHook.h"
#include "support/Exception.h"

namespace {

// The first bytes of a Windows structured-storage (compound) file.
constexpr unsigned char kCompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0,
                                                     0xA1, 0xB1, 0x1A, 0xE1};
// Saved graphs are short pipeline descriptions; anything larger is not one.
constexpr long kMaxGraphFileSize = 1 << 20;

HRESULT HResultFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return STG_E_FILENOTFOUND;
        case EACCES:
        case EPERM:
            return STG_E_ACCESSDENIED;
        default:
            return STG_E_READFAULT;
    }
}

}  // namespace

CVaFilterGraphRep::CVaFilterGraphRep() : m_hook(std::make_unique<CVaWindowHook>(this)) {}

CVaFilterGraphRep::~CVaFilterGraphRep() {
    try {
        ReleaseGraph();
    } catch (...) {
        // Tear-down goes on whatever the graph answers.
    }
    m_builderCallback.reset();
    // A host that covers the screen goes back into its parent.
    if (m_ownFullScreen) {
        if (QWidget* host = qobject_cast<QWidget*>(m_hostWnd.data()))
            LeaveOwnFullScreen(host);
    }
    if (m_hostWnd)
        m_hook->Unhook(m_hostWnd);
    if (m_topWnd)
        m_hook->Unhook(m_topWnd);
    m_hostWnd = nullptr;
    m_topWnd = nullptr;
    m_drainWnd = nullptr;
    if (QObject* nfy = m_nfyWnd.data()) {
        m_hook->Unhook(nfy);
        if (nfy->thread() == QThread::currentThread())
            delete nfy;
        else
            nfy->deleteLater();
    }
    m_hook.reset();
}

IGraphBuilder* CVaFilterGraphRep::RequireGraph() const {
    if (!m_graph)
        ThrowHResult(E_NOINTERFACE);
    return m_graph.Get();
}

IMediaControl* CVaFilterGraphRep::RequireControl() const {
    if (!m_control)
        ThrowHResult(E_NOINTERFACE);
    return m_control.Get();
}

IMediaSeeking* CVaFilterGraphRep::RequireSeeking() const {
    if (!m_seeking)
        ThrowHResult(E_NOINTERFACE);
    return m_seeking.Get();
}

CComPtr<IMediaEventEx> CVaFilterGraphRep::TakeMediaEvent() const {
    std::lock_guard<std::mutex> lock(m_eventLock);
    return m_event;
}

bool CVaFilterGraphRep::Reset(bool force) {
    if (m_graph && !force) {
        bool empty = true;
        CComPtr<IEnumFilters> filters;
        if (SUCCEEDED(m_graph->EnumFilters(&filters)) && filters) {
            filters->Reset();
            CComPtr<IBaseFilter> filter;
            ULONG fetched = 0;
            empty = filters->Next(1, &filter, &fetched) != S_OK || fetched == 0;
        }
        if (empty)
            return false;
    }
    ReleaseGraph();
    CreateGraph();
    return true;
}

void CVaFilterGraphRep::EnsureGraph() {
    if (!m_graph)
        CreateGraph();
}

void CVaFilterGraphRep::ReleaseGraph() {
    if (m_control)
        m_control->Stop();
    if (CComPtr<IMediaEventEx> events = TakeMediaEvent())
        events->SetNotifyWindow(nullptr, WM_VA_GRAPHNOTIFY, 0);
    if (m_graph) {
        CComPtr<IObjectWithSite> site(m_graph.Get());
        if (site)
            site->SetSite(nullptr);
    }
    ReleaseVideoWindow();
    m_terminalEvent = 0;
    m_savedVolume = -1;
    m_systemClockChosen = false;
    // The scaled clock is deleted below; the graph must not keep reading it
    // should anyone else still hold the graph.
    if (m_scaledClock && m_graph) {
        CComPtr<IMediaFilter> mediaFilter(m_graph.Get());
        if (mediaFilter)
            mediaFilter->SetSyncSource(nullptr);
    }
    m_vmrConfig = nullptr;
    m_hasVideo = -1;
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        m_event = nullptr;
    }
    m_seeking = nullptr;
    m_control = nullptr;
    m_graph = nullptr;
    m_systemClock = nullptr;
    DeleteScaledClock();
    m_handleMode = false;
}

void CVaFilterGraphRep::CreateGraph() {
    CComPtr<IGraphBuilder> graph;
    CheckHResult(graph.CreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER));
    m_graph = graph;
    m_control = graph.Get();
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        m_event = graph.Get();
    }
    m_handleMode = false;
    SetSeeking(nullptr);
    if (!m_nfyWnd) {
        QObject* nfy = new QObject();
        nfy->setObjectName(QString::fromLatin1(kVaFilterGraphNfyWndName));
        m_nfyWnd = nfy;
        m_hook->Hook(nfy);
    }
    if (m_event)
        m_event->SetNotifyWindow(m_nfyWnd.data(), WM_VA_GRAPHNOTIFY, 0);
    if (m_builderCallback) {
        CComPtr<IObjectWithSite> site(m_graph.Get());
        if (site)
            site->SetSite(m_builderCallback.get());
    }
}

void CVaFilterGraphRep::SetSeeking(IMediaSeeking* seeking) {
    CComPtr<IMediaSeeking> next(seeking);
    if (!next && m_graph)
        next = m_graph.Get();
    bool same = (!next && !m_seeking) || (next && m_seeking && IsSameObject(next, m_seeking));
    if (same)
        return;
    m_seeking = next;
    if (m_seeking)
        m_seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
}

void CVaFilterGraphRep::SetBuilderCallbackOwner(IVaGraphBuilderCallback* owner) {
    CComPtr<IObjectWithSite> site(m_graph.Get());
    if (owner) {
        if (!m_builderCallback)
            m_builderCallback = std::make_unique<CVaAMGraphBuilderCallback>(owner);
        else
            m_builderCallback->SetOwner(owner);
        if (site)
            site->SetSite(m_builderCallback.get());
    } else {
        if (site)
            site->SetSite(nullptr);
        m_builderCallback.reset();
    }
}

void CVaFilterGraphRep::RenderFile(const std::string& path) {
    CheckHResult(RequireGraph()->RenderFile(path.c_str(), nullptr));
}

void CVaFilterGraphRep::LoadGraphFile(const std::string& path) {
    IGraphBuilder* graph = RequireGraph();
    CComPtr<IPersistStream> persist(graph);
    if (!persist)
        ThrowHResult(E_NOINTERFACE);

    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        ThrowHResult(HResultFromErrno(errno));
    if (!S_ISREG(info.st_mode))
        ThrowHResult(STG_E_FILENOTFOUND);
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        ThrowHResult(HResultFromErrno(errno));
    std::vector<unsigned char> data(kMaxGraphFileSize + 1);
    size_t size = std::fread(data.data(), 1, data.size(), file);
    bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    if (readFailed)
        ThrowHResult(STG_E_READFAULT);
    data.resize(size);

    // Graph files of the Windows media framework are compound files; they
    // cannot be restored here.
    if (size >= sizeof(kCompoundFileSignature) &&
        std::memcmp(data.data(), kCompoundFileSignature, sizeof(kCompoundFileSignature)) == 0)
        ThrowHResult(VFW_E_INVALID_FILE_FORMAT);
    if (size == 0 || size > static_cast<size_t>(kMaxGraphFileSize))
        ThrowHResult(VFW_E_INVALID_FILE_FORMAT);

    CComPtr<IStream> stream;
    CheckHResult(CreateStreamOnHGlobal(&stream, data.data(), data.size()));
    CheckHResult(persist->Load(stream));
}

void CVaFilterGraphRep::AddFilter(IBaseFilter* filter, const std::string& name) {
    IGraphBuilder* graph = RequireGraph();
    if (!filter)
        ThrowHResult(E_POINTER);
    CheckHResult(graph->AddFilter(filter, name.empty() ? nullptr : name.c_str()));
}

// A renderer that leaves the graph must not stay owner of the host window,
// and the seeking interface may have belonged to a removed filter.
void CVaFilterGraphRep::PrepareDisconnect() {
    ReleaseVideoWindow();
    SetSeeking(nullptr);
}

void CVaFilterGraphRep::RemoveFilter(IBaseFilter* filter) {
    IGraphBuilder* graph = RequireGraph();
    if (!filter)
        ThrowHResult(E_POINTER);
    PrepareDisconnect();
    CheckHResult(graph->RemoveFilter(filter));
}

void CVaFilterGraphRep::DisconnectFilter(IBaseFilter* filter) {
    IGraphBuilder* graph = RequireGraph();
    if (!filter)
        ThrowHResult(E_POINTER);
    PrepareDisconnect();
    for (const CComPtr<IPin>& pin : va::ListPins(filter)) {
        CComPtr<IPin> peer;
        if (FAILED(pin->ConnectedTo(&peer)) || !peer)
            continue;
        CheckHResult(graph->Disconnect(pin));
        CheckHResult(graph->Disconnect(peer));
    }
}

void CVaFilterGraphRep::DisconnectPins(IBaseFilter* filter, PIN_DIRECTION direction) {
    IGraphBuilder* graph = RequireGraph();
    if (!filter)
        ThrowHResult(E_POINTER);
    PrepareDisconnect();
    for (const CComPtr<IPin>& pin : va::ListPins(filter, &direction)) {
        CComPtr<IPin> peer;
        if (FAILED(pin->ConnectedTo(&peer)) || !peer)
            continue;
        CheckHResult(graph->Disconnect(pin));
        CheckHResult(graph->Disconnect(peer));
    }
}

HRESULT CVaFilterGraphRep::RenderOutputPins(IBaseFilter* filter) {
    IGraphBuilder* graph = RequireGraph();
    if (!filter)
        ThrowHResult(E_POINTER);
    HRESULT result = VFW_E_ALREADY_CONNECTED;
    bool rendered = false;
    PIN_DIRECTION output = PINDIR_OUTPUT;
    for (const CComPtr<IPin>& pin : va::ListPins(filter, &output)) {
        if (va::IsConnected(pin))
            continue;
        HRESULT hr = graph->Render(pin);
        if (SUCCEEDED(hr)) {
            if (!rendered)
                result = hr;
            rendered = true;
        } else if (!rendered) {
            result = hr;
        }
    }
    return CheckHResult(result);
}

void CVaFilterGraphRep::ConnectThrough(IUnknown* source, IBaseFilter* middle, IBaseFilter* target) {
    IGraphBuilder* graph = RequireGraph();
    if (!source || !target)
        ThrowHResult(E_NOINTERFACE);
    CComPtr<IPin> sourcePin(source);
    if (!sourcePin) {
        CComPtr<IBaseFilter> sourceFilter(source);
        if (!sourceFilter)
            ThrowHResult(E_NOINTERFACE);
        sourcePin = FindFreePin(sourceFilter, PINDIR_OUTPUT).Get();
    }
    if (!sourcePin)
        ThrowHResult(E_NOINTERFACE);

    if (!middle) {
        CComPtr<IPin> targetPin = FindFreePin(target, PINDIR_INPUT);
        if (!targetPin)
            ThrowHResult(E_NOINTERFACE);
        CheckHResult(graph->Connect(sourcePin, targetPin));
        return;
    }

    CComPtr<IPin> middleIn = FindFreePin(middle, PINDIR_INPUT);
    if (!middleIn)
        ThrowHResult(E_NOINTERFACE);
    CheckHResult(graph->Connect(sourcePin, middleIn));

    CComPtr<IPin> middleOut = FindFreePin(middle, PINDIR_OUTPUT);
    CComPtr<IPin> targetPin = FindFreePin(target, PINDIR_INPUT);
    HRESULT hr = middleOut && targetPin ? graph->Connect(middleOut, targetPin) : E_NOINTERFACE;
    if (FAILED(hr)) {
        // Undo the first connection (on both of its ends) so that the
        // caller finds the graph as it was.
        for (IPin* end : {sourcePin.Get(), middleIn.Get()}) {
            CComPtr<IPin> peer;
            if (SUCCEEDED(end->ConnectedTo(&peer)) && peer) {
                graph->Disconnect(end);
                graph->Disconnect(peer);
            }
        }
        ThrowHResult(hr);
    }
}

// ---- media-type helpers

namespace va {

void FreeMediaTypeBlock(AM_MEDIA_TYPE& mt) {
    ::FreeMediaType(mt);
}

void InitMediaType(AM_MEDIA_TYPE& mt) {
    mt = AM_MEDIA_TYPE{};
    mt.bFixedSizeSamples = 1;
    mt.lSampleSize = 1;
}

const VIDEOINFOHEADER2* GetVideoInfoHeader2(const AM_MEDIA_TYPE& mt) {
    if ((mt.formattype == FORMAT_VideoInfo2 || mt.formattype == kFormatMpeg2Video) && mt.pbFormat &&
        mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
    return nullptr;
}

}  // namespace va
