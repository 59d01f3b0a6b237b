#include "platform/dshow/FilterGraph.h"

#include <gst/pbutils/missing-plugins.h>

#include <QCoreApplication>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/dshow/GraphNotifyEvent.h"
#include "support/RaceCheck.h"

namespace {
constexpr size_t kMaxQueuedEvents = 4096;
// Marks an HTTP source whose server does not serve parts of the file.
constexpr char kNoRangesKey[] = "velotrax-no-ranges";

const char* HeaderOf(const GstStructure* message, const char* part, const char* name) {
    const GValue* value = gst_structure_get_value(message, part);
    if (!value || !GST_VALUE_HOLDS_STRUCTURE(value))
        return nullptr;
    const GstStructure* headers = gst_value_get_structure(value);
    // Header names are not case sensitive.
    for (int i = 0, n = gst_structure_n_fields(headers); i < n; ++i) {
        const char* field = gst_structure_nth_field_name(headers, i);
        if (g_ascii_strcasecmp(field, name) == 0)
            return gst_structure_get_string(headers, field);
    }
    return nullptr;
}
}  // namespace

// A server that does not serve ranges can only be read from start to end:
// its source then tells the demultiplexers it cannot seek (so they do not
// look for an index at the end), and the graph sends it no seek.
void CFilterGraph::OnHttpHeaders(GstMessage* message) {
    const GstStructure* s = gst_message_get_structure(message);
    guint status = 0;
    gst_structure_get_uint(s, "http-status-code", &status);
    if (status < 200 || status >= 300)
        return;
    bool ranges;
    if (HeaderOf(s, "request-headers", "Range"))
        ranges = status == 206;  // a whole answer to a range request
    else if (const char* accept = HeaderOf(s, "response-headers", "Accept-Ranges"))
        ranges = std::strstr(accept, "bytes") != nullptr;
    else
        ranges = false;  // servers that serve ranges say so
    GObject* source = G_OBJECT(GST_MESSAGE_SRC(message));
    const bool marked = g_object_get_data(source, kNoRangesKey) != nullptr;
    g_object_set_data(source, kNoRangesKey, GINT_TO_POINTER(ranges ? 0 : 1));
    if (!ranges) {
        m_seekable = false;
        if (!marked && GST_IS_ELEMENT(source)) {
            if (GstPad* pad = gst_element_get_static_pad(GST_ELEMENT(source), "src")) {
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, NoRangesQueryProbe,
                                  nullptr, nullptr);
                gst_object_unref(pad);
            }
        }
    }
}

GstPadProbeReturn CFilterGraph::NoRangesQueryProbe(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    GstObject* source = GST_OBJECT_PARENT(pad);
    if (GST_QUERY_TYPE(query) != GST_QUERY_SEEKING || !source ||
        !g_object_get_data(G_OBJECT(source), kNoRangesKey))
        return GST_PAD_PROBE_OK;
    GstFormat format = GST_FORMAT_BYTES;
    gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
    gst_query_set_seeking(query, format, FALSE, 0, -1);
    return GST_PAD_PROBE_HANDLED;
}

// --- events ---

GstBusSyncReply CFilterGraph::BusSyncHandler(GstBus*, GstMessage* message, gpointer data) {
    try {
        racecheck::Received(data);
        static_cast<CFilterGraph*>(data)->OnBusMessage(message);
    } catch (...) {
    }
    // A sync handler that drops a message owns it. Each message holds its
    // source element, so one kept by mistake keeps the whole pipeline alive.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void CFilterGraph::OnBusMessage(GstMessage* message) {
    bool fromPipeline = GST_MESSAGE_SRC(message) == GST_OBJECT(m_pipeline);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            g_free(debug);
            bool building;
            {
                std::lock_guard guard(m_build.lock);
                building = m_build.active;
                if (building) {
                    if (!m_build.error)
                        m_build.error = g_error_copy(error);
                    m_build.done = true;
                }
            }
            m_asyncDone.Set();
            if (!building)
                NotifyEvent(EC_ERRORABORT, vagst::HResultFromError(error, m_sourceReachedEnd), 0);
            g_error_free(error);
            break;
        }
        case GST_MESSAGE_EOS:
            if (fromPipeline) {
                {
                    std::lock_guard guard(m_posLock);
                    m_atEnd = true;
                }
                if (m_stepCompletePending.exchange(false))
                    NotifyEvent(EC_STEP_COMPLETE, 0, 0);
                NotifyEvent(EC_COMPLETE, S_OK, 0);
            }
            break;
        case GST_MESSAGE_ASYNC_DONE:
            if (fromPipeline) {
                {
                    std::lock_guard guard(m_posLock);
                    m_seekPending = false;
                }
                {
                    std::lock_guard guard(m_build.lock);
                    if (m_build.active)
                        m_build.done = true;
                }
                m_asyncDone.Set();
                if (m_pausePending.exchange(false))
                    NotifyEvent(EC_PAUSED, S_OK, 0);
            }
            break;
        case GST_MESSAGE_STEP_DONE:
            // The sink shows the next frame after it reports the step.
            if (m_framesShown.load() > m_stepStartFrames.load())
                NotifyEvent(EC_STEP_COMPLETE, 0, 0);
            else
                m_stepCompletePending = true;
            break;
        case GST_MESSAGE_DURATION_CHANGED: {
            std::lock_guard guard(m_posLock);
            m_duration = -1;
            break;
        }
        case GST_MESSAGE_ELEMENT:
            if (gst_message_has_name(message, "http-headers"))
                OnHttpHeaders(message);
            if (gst_is_missing_plugin_message(message)) {
                gchar* detail = gst_missing_plugin_message_get_installer_detail(message);
                std::string d = detail ? detail : "";
                g_free(detail);
                std::lock_guard guard(m_build.lock);
                if (d.find("decoder-audio") != std::string::npos)
                    m_build.missingAudio = true;
                else
                    m_build.missingVideo = true;
            }
            break;
        default:
            break;
    }
}

void CFilterGraph::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    {
        std::lock_guard guard(m_build.lock);
        // Building is silent: its outcome is RenderFile's result.
        if (m_build.active)
            return;
    }
    QObject* target = nullptr;
    LONG message = 0;
    LONG_PTR data = 0;
    {
        std::lock_guard guard(m_eventLock);
        if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT)
            m_completion = code;
        if (m_events.size() >= kMaxQueuedEvents)
            m_events.pop_front();
        m_events.push_back({code, param1, param2});
        if (!(m_notifyFlags & AM_MEDIAEVENT_NONOTIFY))
            m_eventHandle.Set();
        target = m_notifyTarget.data();
        message = m_notifyMessage;
        data = m_notifyData;
    }
    m_eventCond.notify_all();
    if (target && message)
        QCoreApplication::postEvent(target, new CGraphNotifyEvent(message, 0, data));
}

HRESULT CFilterGraph::GetEventHandle(OAEVENT* hEvent) {
    if (!hEvent)
        return E_POINTER;
    *hEvent = &m_eventHandle;
    return S_OK;
}

HRESULT CFilterGraph::GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                               LONG msTimeout) {
    if (!lEventCode || !lParam1 || !lParam2)
        return E_POINTER;
    std::unique_lock guard(m_eventLock);
    if (m_events.empty()) {
        if (msTimeout == 0)
            return E_ABORT;
        auto ready = [this] { return !m_events.empty(); };
        if (msTimeout < 0)
            m_eventCond.wait(guard, ready);
        else if (!m_eventCond.wait_for(guard, std::chrono::milliseconds(msTimeout), ready))
            return E_ABORT;
    }
    CEventRecord e = m_events.front();
    m_events.pop_front();
    if (m_events.empty())
        m_eventHandle.Reset();
    *lEventCode = e.code;
    *lParam1 = e.param1;
    *lParam2 = e.param2;
    return S_OK;
}

HRESULT CFilterGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
    if (!pEvCode)
        return E_POINTER;
    *pEvCode = 0;
    if (LogicalState() != State_Running)
        return VFW_E_WRONG_STATE;
    std::unique_lock guard(m_eventLock);
    auto done = [this] { return m_completion != 0; };
    if (msTimeout < 0)
        m_eventCond.wait(guard, done);
    else if (!m_eventCond.wait_for(guard, std::chrono::milliseconds(msTimeout), done))
        return E_ABORT;
    *pEvCode = m_completion;
    return S_OK;
}

HRESULT CFilterGraph::CancelDefaultHandling(LONG lEvCode) {
    std::lock_guard guard(m_eventLock);
    m_noDefault.insert(lEvCode);
    return S_OK;
}

HRESULT CFilterGraph::RestoreDefaultHandling(LONG lEvCode) {
    std::lock_guard guard(m_eventLock);
    m_noDefault.erase(lEvCode);
    return S_OK;
}

HRESULT CFilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) {
    return S_OK;
}

HRESULT CFilterGraph::SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) {
    QObject* target = nullptr;
    size_t queued;
    {
        std::lock_guard guard(m_eventLock);
        m_notifyTarget = hwnd;
        m_notifyMessage = lMsg;
        m_notifyData = lInstanceData;
        target = hwnd;
        queued = m_events.size();
    }
    // Events already waiting are announced to the new target.
    if (target && lMsg && queued)
        QCoreApplication::postEvent(target, new CGraphNotifyEvent(lMsg, 0, lInstanceData));
    return S_OK;
}

HRESULT CFilterGraph::SetNotifyFlags(LONG lNoNotifyFlags) {
    if (lNoNotifyFlags & ~AM_MEDIAEVENT_NONOTIFY)
        return E_INVALIDARG;
    std::lock_guard guard(m_eventLock);
    m_notifyFlags = lNoNotifyFlags;
    if (m_notifyFlags & AM_MEDIAEVENT_NONOTIFY)
        m_eventHandle.Reset();
    else if (!m_events.empty())
        m_eventHandle.Set();
    return S_OK;
}

HRESULT CFilterGraph::GetNotifyFlags(LONG* lplNoNotifyFlags) {
    if (!lplNoNotifyFlags)
        return E_POINTER;
    std::lock_guard guard(m_eventLock);
    *lplNoNotifyFlags = m_notifyFlags;
    return S_OK;
}
