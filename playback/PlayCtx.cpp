#include "playback/PlayCtx.h"

#include <fcntl.h>
#include <gst/gst.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "deinterlace/DeInterlaceFilter.h"

#include "platform/dshow/FilterGraph.h"
#include "playback/DecoderConfig.h"
#include "playback/PlayCtxStrings.h"
#include "playback/VaNetworkReader.h"
#include "playlist/ListFormats.h"
#include "resources/StringTable.h"
#include "snapshot/VaSnapshot.h"
#include "support/Exception.h"
#include "support/Strings.h"

namespace {

// The open failures that mean "there is no such file".
bool IsNotFoundError(HRESULT hr) {
    return hr == VFW_E_NOT_FOUND || hr == INET_E_RESOURCE_NOT_FOUND || hr == NS_E_FILE_NOT_FOUND ||
           hr == NS_E_MEDIA_FILE_NOT_FOUND;
}

// An open failure whose code stays as the graph gave it while the text says
// what happened.
class COpenFailure : public CComException {
public:
    COpenFailure(HRESULT hr, std::string text)
        : CComException(hr, nullptr), m_text(std::move(text)) {}
    using CException::GetErrorMessage;
    bool GetErrorMessage(char* buffer, size_t size, unsigned* helpContext) const override {
        if (helpContext)
            *helpContext = 0;
        if (!buffer || size < 2)
            return false;
        char code[32];
        std::snprintf(code, sizeof code, "\r\nCode: 0x%08X", static_cast<unsigned>(Error()));
        std::string text = m_text + code;
        text.resize(std::min(text.size(), size - 1));
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return true;
    }

private:
    std::string m_text;
};

[[noreturn]] void ThrowOpenFailure(HRESULT hr, unsigned id,
                                   const std::vector<va::FormatArg>& args) {
    std::optional<std::string> text = va::FormatMessageString(LoadResString(id), args);
    throw COpenFailure(hr, text ? *text : LoadResString(id));
}

// Whether a TCP connection to the host's port opens within timeoutMs.
bool CanConnect(const std::string& host, int port, int timeoutMs) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return false;
    bool connected = false;
    for (addrinfo* a = found; a && !connected; a = a->ai_next) {
        int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            connected = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            connected = ::poll(&p, 1, timeoutMs) == 1 &&
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        ::close(fd);
    }
    freeaddrinfo(found);
    return connected;
}

// The port a network name is served from; 0 for schemes without a known one.
int ServerPort(GstUri* uri) {
    guint port = gst_uri_get_port(uri);
    if (port != GST_URI_NO_PORT)
        return int(port);
    const char* scheme = gst_uri_get_scheme(uri);
    for (auto [name, known] : {std::pair{"http", 80}, {"https", 443}, {"rtsp", 554}, {"mms", 1755}})
        if (scheme && va::EqualsNoCase(scheme, name))
            return known;
    return 0;
}

}  // namespace

void CPlayCtx::LockFor(CSingleLock<CMutex>& lock, DWORD timeoutMs) {
    // The uncontended case takes the plain path, which thread checkers follow.
    if (!lock.Lock(0) && !lock.Lock(timeoutMs))
        ThrowHResult(HRESULT_TIMEOUT);
}

// ---------------------------------------------------------------- worker sink

void CPlayCtx::CCheckEvent::OnEvent(long eventCode, LONG_PTR, LONG_PTR) {
    if (eventCode == EC_COMPLETE)
        m_ctx->PostSync(SYNC_PLAY_END, 1);
}

// ---------------------------------------------------------------- life cycle

CPlayCtx::CPlayCtx() : m_thread(*this) {
    RegisterNetworkReaderClass();
    m_graph->SetVmrTracking(true);
    m_graph->SetBuilderCallbackOwner(this);
}

CPlayCtx::~CPlayCtx() {
    // The worker and the sync object go before the members they use; then
    // the lock is free for removing the playlist.
    m_thread.Quit();
    try {
        RemovePlayList();
    } catch (...) {
    }
    m_syncWnd.reset();
    try {
        m_graph->SetBuilderCallbackOwner(nullptr);
    } catch (...) {
    }
}

void CPlayCtx::Create(IPlayNotify* sink) {
    m_notify = sink;
    if (!m_syncWnd)
        m_syncWnd = std::make_unique<CPlayCtxSyncWnd>(
            [this](int32_t code, intptr_t param) { OnSyncMessage(code, param); });
    m_thread.Start();
    std::this_thread::yield();
}

void CPlayCtx::Shutdown() {
    // The worker must have left before the sync object and the play context
    // go: it posts to the one and reads the other.
    m_thread.Quit();
    CSingleLock lock(m_lock);
    if (!lock.Lock(0))
        lock.Lock(kShutdownLockTimeout);
    // With the worker gone nothing posts any more: the sync object goes
    // also when the lock stayed busy.
    m_syncWnd.reset();
}

void CPlayCtx::UnblockWorker() {
    m_graph->AbortGraph();
}

void CPlayCtx::PostSync(int32_t code, intptr_t param) {
    if (CPlayCtxSyncWnd* wnd = m_syncWnd.get())
        wnd->PostSync(code, param);
}

void CPlayCtx::OnSyncMessage(int32_t code, intptr_t param) {
    switch (code) {
        case SYNC_PLAY_END:
            OnPlayEnd(param != 0);
            break;
        case SYNC_CLIP_END:
            // The last clip failed to open: nothing plays that could end.
            if (StepPlayList(true) == 3 && GetState() == PlayNone && m_notify)
                m_notify->OnPlayEnd(this);
            break;
        case SYNC_SEEK_DONE:
            if (m_pauseAfterSeek) {
                m_pauseAfterSeek = false;
                Pause();
                Notify(PN_SEEK_WAIT_DONE, 0);
            }
            break;
        default:
            break;
    }
}

void CPlayCtx::Notify(int32_t code, int32_t param) {
    if (!m_notify)
        return;
    // Buffering states matter only for sources read through the network reader.
    if (code >= PN_STATE_BEGIN && code <= PN_STATE_FAILED && !m_readerControl)
        return;
    try {
        m_notify->OnPlayNotify(this, code, param);
    } catch (...) {
        // The sink's failures are its own.
    }
}

// ---------------------------------------------------------------- opening and closing

void CPlayCtx::Open(const std::string& name) {
    CSingleLock lock(m_lock);
    LockFor(lock, kOpenLockTimeout);
    std::string ext = va::ToLowerAscii(va::GetExtension(name));
    // A playlist by its extension or, for a URL, by what the server says it
    // is; HLS stream playlists are media.
    CListFormats::COpenProbe probe = CListFormats::Probe(name);
    if (probe.isPlayList) {
        if (!m_playList)
            CreatePlayList();
        m_clipFailed = {};
        const int failures = m_failedOpens;
        try {
            CListFormats::Load(*m_playList, std::move(probe), name, m_searchDirectory);
        } catch (const CException& e) {
            // A first clip that fails to open is passed over like any other.
            if (!m_playList || m_failedOpens == failures || m_playList->GetCurrentClip() >= 0)
                throw;
            ReportException(e);
            if (PassOverFailedClip(0) == 3)
                throw;
        }
        m_mediaName = name;
        return;
    }
    try {
        Close();
        m_openStarted = std::chrono::steady_clock::now();
        Notify(PN_OPEN_BEGIN, va::IsUrl(name) ? 1 : 0);
        if (ext == "grf")
            m_graph->LoadGraphFile(name);
        else if (ext == "xtl")
            RenderTimeline(name);
        else
            RenderMediaSource(name);
        AfterRender();
        Notify(PN_OPEN_DONE, 0);
        m_mediaName = name;
        RunOrPause(false);
    } catch (...) {
        Notify(PN_OPEN_FAILED, 0);
        ThrowOpenError(name);
    }
}

void CPlayCtx::ThrowOpenError(const std::string& name) {
    try {
        throw;
    } catch (const CComException& e) {
        if (IsNotFoundError(e.Error()) && !name.empty())
            throw CFileException(CFileException::fileNotFound, name);
        ExplainOpenError(name, e.Error());
        throw;
    }
}

void CPlayCtx::ExplainOpenError(const std::string& name, HRESULT hr) {
    std::string path = name;
    if (va::StartsWithNoCase(name, "file://")) {
        gchar* local = g_filename_from_uri(name.c_str(), nullptr, nullptr);
        path = local ? local : "";
        g_free(local);
    } else if (va::IsUrl(name)) {
        path.clear();
    }
    struct stat st;
    if (!path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        ThrowOpenFailure(hr, IDS_PLAYCTX_IS_FOLDER, {path});
    GstUri* uri = va::IsUrl(name) ? gst_uri_from_string(name.c_str()) : nullptr;
    if (!uri)
        return;
    std::string host = gst_uri_get_host(uri) ? gst_uri_get_host(uri) : "";
    int port = ServerPort(uri);
    gst_uri_unref(uri);
    if (host.empty() || port == 0)
        return;
    // The source gives up on a server that takes the connection but never
    // answers after kNetworkTimeoutS: an open that failed that late is one.
    constexpr int kConnectTimeoutMs = 5000;
    if (!CanConnect(host, port, kConnectTimeoutMs))
        ThrowOpenFailure(hr, IDS_PLAYCTX_NO_CONNECTION, {host + ":" + std::to_string(port)});
    const auto took = std::chrono::steady_clock::now() - m_openStarted;
    if (took >= std::chrono::seconds(CFilterGraph::kNetworkTimeoutS))
        ThrowOpenFailure(hr, IDS_PLAYCTX_NO_ANSWER,
                         {host, int64_t(CFilterGraph::kNetworkTimeoutS)});
}

void CPlayCtx::CreatePlayList() {
    m_playList = std::make_unique<CPlayList>();
    m_playList->SetHandler(&m_handler);
    m_stopUsable = false;
}

void CPlayCtx::LoadPlayLists(const std::string& text) {
    CSingleLock lock(m_lock);
    LockFor(lock, kOpenLockTimeout);
    if (!m_playList)
        CreatePlayList();
    m_playList->LoadXml(text, m_searchDirectory);
}

void CPlayCtx::RemovePlayList() {
    CSingleLock lock(m_lock);
    LockFor(lock, kOpenLockTimeout);
    m_playList.reset();
}

void CPlayCtx::Close() {
    RemovePlayList();
    Unrender();
    m_selectionStart = -1;
    m_selectionStop = -1;
    m_stopUsable = true;
    m_mediaName.clear();
}

void CPlayCtx::Unrender() {
    m_thread.SetPollInterval(-1);
    if (m_thread.IsStarted())
        m_thread.Detach();
    m_readerControl = nullptr;
    m_graph->Reset(false);
    // The engine scraps its front end from the graph it was given.
    if (m_renderEngine.IsValid())
        m_renderEngine = CVaRenderEngine();
    if (m_timeline.IsValid())
        m_timeline = CVaAMTimeline();
    m_renderer.Detach();
    m_timelineFrameRate = 0.0;
    SetState(PlayNone);
    m_frameDuration = -1;
    m_pendingSeek = 0;
    m_pauseAfterSeek = false;
}

void CPlayCtx::AfterRender() {
    if (m_deinterlace)
        SetDeinterlace(true);
    if (m_thread.IsStarted())
        m_thread.Attach();
    // A graph without a video renderer (sound only) has no window to connect.
    if (m_graph->FindVideoWindowFilter())
        m_graph->ConnectVideoWindow(false);
    UpdatePollInterval();
}

std::string CPlayCtx::GetMediaName() const {
    return GetState() != PlayNone ? m_mediaName : std::string();
}

IPlayListInfo* CPlayCtx::GetPlayListInfo() const {
    return m_playList ? m_playList->GetInfo() : nullptr;
}

int CPlayCtx::GetCurrentClip() const {
    return m_playList ? m_playList->GetCurrentClip() : -1;
}

// ---------------------------------------------------------------- transport

void CPlayCtx::Run() {
    m_graph->Run();
    SetState(PlayRunning);
    m_pauseAfterSeek = false;
}

void CPlayCtx::Pause() {
    m_graph->Pause();
    SetState(PlayPaused);
}

void CPlayCtx::Stop() {
    m_graph->Stop();
    SetState(PlayStopped);
}

void CPlayCtx::RunOrPause(bool run) {
    Notify(PN_STATE_BEGIN, 0);
    try {
        if (run)
            Run();
        else
            Pause();
    } catch (...) {
        Notify(PN_STATE_FAILED, 0);
        throw;
    }
    Notify(PN_STATE_DONE, 0);
}

bool CPlayCtx::StopAndRewind() {
    Stop();
    if (!CanSeek())
        return false;
    Seek(0, true);
    m_graph->StopWhenReady();
    return true;
}

double CPlayCtx::GetRate() {
    return GetState() == PlayNone ? 1.0 : m_graph->GetRate();
}

void CPlayCtx::SetRate(double rate) {
    if (rate != m_graph->GetRate())
        m_graph->SetRate(rate);
}

// ---------------------------------------------------------------- positions

REFERENCE_TIME CPlayCtx::GetDuration() {
    if (GetState() == PlayNone)
        return -1;
    try {
        return m_playList ? m_playList->GetDuration() : m_graph->GetDuration();
    } catch (const CException&) {
        return -1;
    }
}

REFERENCE_TIME CPlayCtx::GetPosition() {
    return m_playList ? m_playList->GetPosition() : m_graph->GetCurrentPosition();
}

void CPlayCtx::SetPosition(REFERENCE_TIME pos) {
    if (m_playList) {
        CSingleLock lock(m_lock, true);
        if (m_playList) {
            // After a clip failed to open the graph holds nothing: the clip
            // the position falls in is opened again first.
            SetPlayListPosition(pos);
            return;
        }
    }
    m_graph->SetCurrentPosition(pos);
}

REFERENCE_TIME CPlayCtx::Seek(REFERENCE_TIME pos, bool clamp) {
    if (pos <= 0)
        pos = 0;
    REFERENCE_TIME duration = GetDuration();
    if (duration > 0 && pos >= duration)
        pos = duration;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (clamp && GetSelection(start, stop)) {
        if (pos < start)
            pos = start;
        else if (pos > stop)
            pos = stop;
    }
    SetPosition(pos);
    return pos;
}

REFERENCE_TIME CPlayCtx::GetFrameDuration() {
    if (m_frameDuration >= 0)
        return m_frameDuration;
    REFERENCE_TIME d = 0;
    if (m_renderEngine.IsValid()) {
        // A timeline is rendered at its group's output rate.
        double fps = 0;
        try {
            fps = TimelineVideoGroup().GetOutputFPS();
        } catch (const CException&) {
        }
        if (fps > 0)
            d = REFERENCE_TIME(double(UNITS) / fps);
    } else if (CComPtr<IDeInterlace> frameTime{
                   m_graph->HasGraph() ? m_graph->FindFilterByInterface(IDeInterlace::iid).Get()
                                       : nullptr}) {
        // The deinterlace filter knows the rate it delivers.
        REFERENCE_TIME t = 0;
        if (SUCCEEDED(frameTime->GetFrameTime(&t)))
            d = t;
    } else {
        CComPtr<IBaseFilter> renderer = m_graph->FindVideoWindowFilter();
        CComPtr<IBasicVideo> basicVideo(renderer.Get());
        REFTIME seconds = 0;
        if (basicVideo && SUCCEEDED(basicVideo->get_AvgTimePerFrame(&seconds)) && seconds > 0)
            d = REFERENCE_TIME(seconds * double(UNITS) + 0.5);
    }
    if (d == 0)
        d = kDefaultFrameDuration;
    m_frameDuration = d;
    return d;
}

bool CPlayCtx::IsAtEnd() {
    REFERENCE_TIME end = m_selectionStop.load();
    if (end < 0)
        end = GetDuration();
    if (end < 0)
        return false;
    REFERENCE_TIME frame = GetFrameDuration();
    if (frame <= 0)
        frame = 1;
    return GetPosition() > end - frame;
}

// ---------------------------------------------------------------- selection

bool CPlayCtx::SetSelection(REFERENCE_TIME start, REFERENCE_TIME stop) {
    if (stop < start || start < 0 || stop < 0 || GetState() == PlayNone) {
        ClearSelection();
        return false;
    }
    m_selectionStart = start;
    m_selectionStop = stop;
    ApplySelectionStop(stop);
    return true;
}

bool CPlayCtx::SetSelectionStart(REFERENCE_TIME start) {
    REFERENCE_TIME stop = m_selectionStop.load();
    if (start >= 0 && (stop < 0 || stop < start))
        stop = GetDuration();
    return SetSelection(start, stop);
}

bool CPlayCtx::SetSelectionStop(REFERENCE_TIME stop) {
    REFERENCE_TIME start = m_selectionStart.load();
    if (start >= 0 && start <= stop)
        return SetSelection(start, stop);
    return SetSelection(0, stop);
}

void CPlayCtx::ClearSelection() {
    m_selectionStart = -1;
    m_selectionStop = -1;
    REFERENCE_TIME duration = GetDuration();
    if (duration >= 0)
        ApplySelectionStop(duration);
}

bool CPlayCtx::GetSelection(REFERENCE_TIME& start, REFERENCE_TIME& stop) const {
    start = m_selectionStart.load();
    stop = m_selectionStop.load();
    return start >= 0 && stop >= start;
}

bool CPlayCtx::HasSelection() const {
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
    return GetSelection(start, stop);
}

namespace {
// The tolerance of the at-mark tests: one frame minus one unit.
REFERENCE_TIME MarkTolerance(REFERENCE_TIME frame) {
    return frame <= 0 ? frame : frame - 1;
}
}  // namespace

bool CPlayCtx::IsInSelection() {
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
    if (!GetSelection(start, stop) || GetState() == PlayNone)
        return false;
    REFERENCE_TIME f = MarkTolerance(GetFrameDuration());
    REFERENCE_TIME pos = GetPosition();
    return start - f <= pos && pos <= stop + f;
}

bool CPlayCtx::IsAtSelectionStart() {
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
    if (!GetSelection(start, stop) || GetState() == PlayNone)
        return false;
    REFERENCE_TIME f = MarkTolerance(GetFrameDuration());
    REFERENCE_TIME pos = GetPosition();
    return start - f <= pos && pos <= start + f;
}

bool CPlayCtx::IsAtSelectionStop() {
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
    if (!GetSelection(start, stop) || GetState() == PlayNone)
        return false;
    REFERENCE_TIME f = MarkTolerance(GetFrameDuration());
    REFERENCE_TIME pos = GetPosition();
    return stop - f <= pos && pos <= stop + f;
}

void CPlayCtx::ApplySelectionStop(REFERENCE_TIME stop) {
    if (m_stopUsable) {
        m_stopUsable = false;
        if (!m_playList) {
            try {
                m_graph->SetStopPosition(stop);
                m_stopUsable = true;
            } catch (const CException&) {
                // The graph keeps its own stop; the worker watches the position instead.
            }
        }
    }
    UpdatePollInterval();
}

void CPlayCtx::UpdatePollInterval() {
    bool needed = m_playList != nullptr;
    if (!needed && !m_stopUsable) {
        REFERENCE_TIME stop = m_selectionStop.load();
        REFERENCE_TIME duration = GetDuration();
        needed = stop >= 0 && stop < duration - GetFrameDuration();
    }
    int32_t interval = -1;
    if (needed) {
        interval = int32_t(GetFrameDuration() / MILLISECONDS);
        if (interval < kMinPollInterval)
            interval = kMinPollInterval;
    }
    if (interval == m_thread.GetPollInterval())
        return;
    m_thread.SetPollInterval(interval);
    if (m_thread.IsStarted())
        m_thread.ReRead();
}

// ---------------------------------------------------------------- network streams

bool CPlayCtx::IsSeekRestricted() {
    // A source read from start to end only is restricted for good.
    if (GetState() != PlayNone && !m_graph->CanSeek())
        return true;
    CComPtr<IWMReaderAdvanced2> reader = m_readerControl;
    if (!reader)
        return false;
    WMT_PLAY_MODE mode = WMT_PLAY_MODE_AUTOSELECT;
    if (SUCCEEDED(reader->GetPlayMode(&mode))) {
        if (mode == WMT_PLAY_MODE_STREAMING)
            return true;
        if (mode == WMT_PLAY_MODE_DOWNLOAD) {
            DWORD percent = 0;
            uint64_t bytes = 0;
            uint64_t remaining = 0;
            if (SUCCEEDED(reader->GetDownloadProgress(&percent, &bytes, &remaining)))
                return percent != 100 || remaining != 0;
        }
    }
    return false;
}

bool CPlayCtx::CanSeek() {
    return GetState() != PlayNone && !IsSeekRestricted();
}

// ---------------------------------------------------------------- deinterlacing

bool CPlayCtx::CanDeinterlace() {
    return !IsFullScreen() && !IsSeekRestricted();
}

bool CPlayCtx::SetDeinterlace(bool on) {
    if (!CanDeinterlace())
        return false;
    // Nothing rendered yet: the wish is kept for the next graph.
    if (!m_graph->HasGraph() || (GetState() == PlayNone && !m_graph->FindVideoWindowFilter())) {
        m_deinterlace = on;
        return true;
    }
    m_frameDuration = -1;
    CComPtr<IBaseFilter> filter = m_graph->FindFilterByInterface(IDeInterlace::iid);
    if (bool(filter) == on) {
        if (filter)
            ConfigureDeinterlace(filter, true);
        m_deinterlace = on;
        return true;
    }

    // A state still changing counts as the one the play context asked for.
    int state = m_graph->GetState();
    if (state == 0)
        state = GetState();
    m_graph->Stop();
    m_graph->WaitForState();
    const int volume = m_graph->GetVolume();
    const bool previous = m_deinterlace;
    m_deinterlace = on;
    if (m_renderEngine.IsValid())
        AdjustTimelineFrameRate(on);
    for (int attempt = 1;; ++attempt) {
        try {
            if (on) {
                if (!InsertDeinterlaceFilter())
                    return false;
            } else {
                RemoveDeinterlaceFilter(filter);
            }
            break;
        } catch (const CComException& e) {
            if (e.Error() != VFW_E_NOT_STOPPED || attempt == kDeinterlaceAttempts) {
                m_deinterlace = previous;
                throw;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50 * attempt));
        } catch (...) {
            m_deinterlace = previous;
            throw;
        }
    }
    if (volume == 0)
        m_graph->SetVolume(0);
    m_graph->SetState(state);
    if (state == PlayPaused) {
        // The new graph refuses a seek while it still prerolls (a slow or
        // loaded machine got E_FAIL here).
        m_graph->WaitForState();
        m_graph->SetCurrentPosition(m_graph->GetCurrentPosition());
    }
    return true;
}

void CPlayCtx::SetDeinterlaceSettings(int32_t method, int32_t interpolate, int32_t sharpen) {
    m_deinterlaceMethod = method;
    m_deinterlaceInterpolate = interpolate;
    m_deinterlaceSharpen = sharpen;
    m_frameDuration = -1;
    if (!m_deinterlace || !m_graph->HasGraph())
        return;
    CComPtr<IBaseFilter> filter = m_graph->FindFilterByInterface(IDeInterlace::iid);
    if (filter)
        ConfigureDeinterlace(filter, false);
}

void CPlayCtx::ConfigureDeinterlace(IBaseFilter* filter, bool refresh) {
    CComPtr<IDeInterlace> deinterlace(filter);
    if (!deinterlace)
        ThrowHResult(E_NOINTERFACE);
    CheckHResult(deinterlace->SetMethod(DWORD(m_deinterlaceMethod)));
    CheckHResult(deinterlace->SetInterpolation(DWORD(m_deinterlaceInterpolate),
                                               DWORD(m_deinterlaceSharpen)));
    m_frameDuration = -1;
    if (refresh && GetState() == PlayPaused)
        m_graph->SetCurrentPosition(m_graph->GetCurrentPosition());
}

bool CPlayCtx::InsertDeinterlaceFilter() {
    CComPtr<IBaseFilter> renderer = m_graph->FindVideoWindowFilter();
    if (!renderer)
        return false;
    CComPtr<IBaseFilter> source = CVaFilterGraphRep::GetConnectedFilter(renderer, PINDIR_INPUT);
    if (!source)
        return false;
    // The pin that fed the renderer is where the filter goes.
    CComPtr<IPin> sourcePin, rendererPin;
    CVaFilterGraphRep::FindConnectedPin(renderer, PINDIR_INPUT, false, GUID_NULL, GUID_NULL,
                                        GUID_NULL, std::addressof(rendererPin),
                                        std::addressof(sourcePin), nullptr);
    m_graph->DisconnectPins(renderer, PINDIR_INPUT);

    CComPtr<IBaseFilter> filter(static_cast<IBaseFilter*>(new CDeInterlace()));
    ConfigureDeinterlace(filter, false);
    if (m_graph->GetAspectCorrection()) {
        CComPtr<IDeInterlaceConfig> config(filter.Get());
        if (config)
            config->SetConfig(kDeInterlaceConfigKeepAspect, 1);
    }
    m_graph->AddFilter(filter, kDeinterlaceFilterName);
    try {
        m_graph->ConnectThrough(sourcePin ? static_cast<IUnknown*>(sourcePin.Get())
                                          : static_cast<IUnknown*>(source.Get()),
                                filter, renderer);
    } catch (...) {
        // Leave the graph as it was: the renderer fed directly.
        m_graph->RemoveFilter(filter);
        m_graph->ConnectThrough(sourcePin ? static_cast<IUnknown*>(sourcePin.Get())
                                          : static_cast<IUnknown*>(source.Get()),
                                nullptr, renderer);
        throw;
    }
    m_graph->ConnectVideoWindow(false);
    return true;
}

void CPlayCtx::RemoveDeinterlaceFilter(IBaseFilter* filter) {
    CComPtr<IBaseFilter> upstream = CVaFilterGraphRep::GetConnectedFilter(filter, PINDIR_INPUT);
    CComPtr<IBaseFilter> downstream = CVaFilterGraphRep::GetConnectedFilter(filter, PINDIR_OUTPUT);
    if (!upstream || !downstream)
        return;
    CComPtr<IPin> sourcePin, filterPin;
    CVaFilterGraphRep::FindConnectedPin(filter, PINDIR_INPUT, false, GUID_NULL, GUID_NULL,
                                        GUID_NULL, std::addressof(filterPin),
                                        std::addressof(sourcePin), nullptr);
    m_graph->DisconnectFilter(filter);
    m_graph->RemoveFilter(filter);
    CComPtr<IBaseFilter> renderer = m_graph->FindVideoWindowFilter();
    if (!renderer)
        return;
    m_graph->DisconnectPins(renderer, PINDIR_INPUT);
    m_graph->ConnectThrough(sourcePin ? static_cast<IUnknown*>(sourcePin.Get())
                                      : static_cast<IUnknown*>(upstream.Get()),
                            nullptr, renderer);
    if (!m_graph->GetAspectCorrection())
        GetRenderer().RemovePictureAspect();
    m_graph->ConnectVideoWindow(false);
}

// ---------------------------------------------------------------- pass-through operations

void CPlayCtx::SetVideoWindow(QObject* window) {
    m_videoWindow = window;
    m_graph->SetVideoWindow(window);
    if (GetState() != PlayNone && m_graph->FindVideoWindowFilter())
        m_graph->ConnectVideoWindow(false);
}

void CPlayCtx::SetMessageDrain(QObject* window) {
    m_graph->SetMessageDrain(window);
}

void CPlayCtx::ShowVideo(bool show) {
    m_graph->SetVisible(show);
}

int CPlayCtx::SetScaleMode(int mode) {
    if (mode > 2)
        return mode;
    m_graph->SetScaleMode(mode);
    return mode;
}

bool CPlayCtx::SetFullScreen(bool on) {
    return m_graph->SetFullScreen(on);
}

bool CPlayCtx::IsFullScreen() {
    return GetState() != PlayNone && m_graph->IsFullScreen();
}

void CPlayCtx::SetAudioClockFix(bool on) {
    m_graph->SetFixAudioClock(on);
}

void CPlayCtx::SetPreserveAspectRatio(bool on) {
    CVaRenderer::SetAspectCorrection(on);
    m_graph->SetAspectCorrection(on);
}

bool CPlayCtx::GetVideoRect(RECT& rect) {
    return m_graph->GetVideoWindowRect(rect);
}

bool CPlayCtx::GetVideoSize(SIZE& size) {
    return m_graph->GetVideoSize(size);
}

QImage CPlayCtx::GetRawImageBitmap() {
    return m_graph->GetCurrentBitmap();
}

QImage CPlayCtx::GetCurrentImageBitmap() {
    std::vector<BYTE> dib;
    if (!m_graph->GetCurrentImage(dib))
        return QImage();
    // The renderer's size is the picture aspect (corrected while aspect
    // correction is on).
    VASIZE aspect{0, 0};
    if (!GetRenderer().GetVideoSize(aspect))
        aspect = VASIZE{0, 0};
    return CVaSnapshot::PrepareStillImage(dib.data(), dib.size(), aspect.cx, aspect.cy,
                                          m_graph->IsInterlaced());
}

bool CPlayCtx::HasVideo() {
    return GetState() != PlayNone && m_graph->HasVideo();
}

bool CPlayCtx::SetVolume(int percent) {
    return m_graph->SetVolume(percent);
}

CVaRenderer CPlayCtx::GetRenderer() {
    if (GetState() != PlayNone && !m_renderer.IsRendered()) {
        CComPtr<IBaseFilter> filter = m_graph->FindVideoWindowFilter();
        if (filter)
            m_renderer.Attach(filter);
    }
    return m_renderer;
}

// ---------------------------------------------------------------- graph builder callback

bool CPlayCtx::SelectedFilter(IMoniker* moniker) {
    if (moniker)
        moniker->Release();
    return true;
}

void CPlayCtx::CreatedFilter(IBaseFilter* filter) {
    CComPtr<IBaseFilter> owned;
    owned.Attach(filter);
    CComPtr<IDecoderConfig> config(filter);
    if (!config)
        return;
    bool changed = false;
    if (config->IsSupported(&DECODER_PARAM_OUTPUT_MODE) == S_OK) {
        DECODER_VARIANT value = DECODER_VARIANT::FromI4(3);
        changed |= SUCCEEDED(config->SetValue(&DECODER_PARAM_OUTPUT_MODE, &value));
    }
    auto ensure = [&](const GUID& param, int32_t wanted) {
        if (config->IsSupported(&param) != S_OK)
            return;
        DECODER_VARIANT current;
        int32_t currentValue = 0;
        if (SUCCEEDED(config->GetValue(&param, &current)) &&
            ChangeVariantToI4(current, currentValue) && currentValue == wanted)
            return;
        DECODER_VARIANT value = DECODER_VARIANT::FromI4(wanted);
        changed |= SUCCEEDED(config->SetValue(&param, &value));
    };
    ensure(DECODER_PARAM_ENABLE, 1);
    ensure(DECODER_PARAM_DISABLE, 0);
    if (changed)
        config->CommitChanges(nullptr);
}

bool ChangeVariantToI4(const DECODER_VARIANT& in, int32_t& out) {
    switch (in.vt) {
        case VT_I4:
            out = in.lVal;
            return true;
        case VT_I2:
            out = in.iVal;
            return true;
        case VT_UI4:
            if (in.ulVal > uint32_t(INT32_MAX))
                return false;
            out = int32_t(in.ulVal);
            return true;
        case VT_BOOL:
            out = in.boolVal ? -1 : 0;
            return true;
        case VT_R8:
            if (!(in.dblVal >= double(INT32_MIN) && in.dblVal <= double(INT32_MAX)))
                return false;
            out = int32_t(in.dblVal < 0 ? in.dblVal - 0.5 : in.dblVal + 0.5);
            return true;
        case VT_EMPTY:
            out = 0;
            return true;
        default:
            return false;
    }
}
