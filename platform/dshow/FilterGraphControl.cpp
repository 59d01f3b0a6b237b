#include "platform/dshow/FilterGraph.h"
#include "support/RaceCheck.h"

#include "platform/dshow/FilterGraphInternal.h"

using namespace vagraph;

// --- state ---

bool CFilterGraph::PipelineActive() const {
    GST_OBJECT_LOCK(m_pipeline);
    bool active = GST_STATE_TARGET(m_pipeline) >= GST_STATE_PAUSED;
    GST_OBJECT_UNLOCK(m_pipeline);
    return active;
}

void CFilterGraph::MarkEdited() {
    if (!PipelineActive())
        return;
    {
        std::lock_guard guard(m_posLock);
        if (m_needRestart)
            return;  // already being edited: the flow is stopped
    }
    // Let a preroll in progress finish first: then every streaming thread
    // waits in a renderer, and the flush of a disconnected pin stops it
    // there instead of it running into a pad that is no longer linked.
    gst_element_get_state(m_pipeline, nullptr, nullptr, kEditWaitMs * GST_MSECOND);
    REFERENCE_TIME pos = PositionNow();
    std::lock_guard guard(m_posLock);
    if (!m_needRestart) {
        m_needRestart = true;
        m_restartPos = pos;
    }
}

void CFilterGraph::PrepareForFlow() {
    // The streaming threads about to start use what this thread set up in
    // the filters; GStreamer hands the filters over to them.
    for (auto& f : Filters())
        if (CFilterCore* core = CoreOf(f))
            racecheck::Published(core->Element());
    REFERENCE_TIME pos;
    {
        std::lock_guard guard(m_posLock);
        if (!m_needRestart)
            return;
        m_needRestart = false;
        pos = m_restartPos;
    }
    for (auto& f : Filters())
        if (CFilterCore* core = CoreOf(f))
            gst_element_sync_state_with_parent(core->Element());
    if (PipelineActive()) {
        REFERENCE_TIME stop;
        double rate;
        {
            std::lock_guard guard(m_posLock);
            stop = m_stop;
            rate = m_rate;
        }
        Seek(pos, stop, rate);
    }
}

HRESULT CFilterGraph::StateChangeResult(GstStateChangeReturn ret) {
    if (ret == GST_STATE_CHANGE_FAILURE)
        return E_FAIL;
    return ret == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
}

HRESULT CFilterGraph::Run() {
    PrepareForFlow();
    m_pausePending = false;
    m_state = State_Running;
    if (!HasFilters())
        return S_OK;
    return StateChangeResult(gst_element_set_state(m_pipeline, GST_STATE_PLAYING));
}

HRESULT CFilterGraph::Run(REFERENCE_TIME) {
    return Run();
}

HRESULT CFilterGraph::Pause() {
    PrepareForFlow();
    m_state = State_Paused;
    if (!HasFilters()) {
        NotifyEvent(EC_PAUSED, S_OK, 0);
        return S_OK;
    }
    m_pausePending = true;
    GstStateChangeReturn ret = gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    if (ret == GST_STATE_CHANGE_FAILURE) {
        m_pausePending = false;
        return E_FAIL;
    }
    if (ret != GST_STATE_CHANGE_ASYNC) {
        if (m_pausePending.exchange(false))
            NotifyEvent(EC_PAUSED, S_OK, 0);
        return S_OK;
    }
    return S_FALSE;
}

HRESULT CFilterGraph::Stop() {
    m_pausePending = false;
    m_state = State_Stopped;
    if (!HasFilters() || !PipelineActive())
        return S_OK;
    REFERENCE_TIME pos = PositionNow();
    gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    bool restart;
    REFERENCE_TIME stop;
    double rate;
    {
        std::lock_guard guard(m_posLock);
        restart = m_needRestart;
        stop = m_stop;
        rate = m_rate;
    }
    // A flushing seek to where we are clears an end of stream and keeps the
    // position; the next Pause shows the frame there.
    if (!restart)
        Seek(pos, stop, rate);
    return S_OK;
}

HRESULT CFilterGraph::StopWhenReady() {
    HRESULT hr = Pause();
    if (FAILED(hr))
        return hr;
    if (HasFilters())
        gst_element_get_state(m_pipeline, nullptr, nullptr, kLongestStateWaitMs * GST_MSECOND);
    m_pausePending = false;
    m_state = State_Stopped;
    return S_OK;
}

HRESULT CFilterGraph::GetState(LONG msTimeout, OAFilterState* pfs) {
    if (!pfs)
        return E_POINTER;
    *pfs = m_state.load();
    if (!HasFilters())
        return S_OK;
    GstClockTime timeout = msTimeout == 0 ? 0
                           : (msTimeout < 0 || DWORD(msTimeout) > kLongestStateWaitMs)
                               ? kLongestStateWaitMs * GST_MSECOND
                               : GstClockTime(msTimeout) * GST_MSECOND;
    GstStateChangeReturn ret = gst_element_get_state(m_pipeline, nullptr, nullptr, timeout);
    // A failed change is reported through EC_ERRORABORT; the state stays readable.
    return ret == GST_STATE_CHANGE_ASYNC ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

HRESULT CFilterGraph::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    OAFilterState s;
    HRESULT hr = GetState(LONG(dwMilliSecsTimeout), &s);
    *state = FILTER_STATE(s);
    return hr;
}
