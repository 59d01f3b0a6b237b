#include "platform/dshow/FilterGraph.h"

#include "platform/dshow/ClockAdapter.h"

// --- clocks ---

HRESULT CFilterGraph::SetSyncSource(IReferenceClock* pClock) {
    if (LogicalState() == State_Running)
        return VFW_E_NOT_STOPPED;
    InstallClock(pClock);
    std::lock_guard guard(m_clockLock);
    m_defaultClock = false;
    m_noClock = pClock == nullptr;
    return S_OK;
}

void CFilterGraph::InstallClock(IReferenceClock* clock) {
    GstClock* adapter = clock ? vagst::CreateClockAdapter(clock) : nullptr;
    GstClock* old;
    {
        std::lock_guard guard(m_clockLock);
        old = m_adapter;
        m_adapter = adapter;
        m_syncSource = clock;
    }
    gst_pipeline_use_clock(GST_PIPELINE(m_pipeline), adapter);
    if (old) {
        vagst::DetachClockAdapter(old);
        gst_object_unref(old);
    }
}

HRESULT CFilterGraph::SetDefaultSyncSource() {
    if (LogicalState() == State_Running)
        return VFW_E_NOT_STOPPED;
    GstClock* old;
    {
        std::lock_guard guard(m_clockLock);
        old = m_adapter;
        m_adapter = nullptr;
        m_syncSource = nullptr;
        m_defaultClock = true;
        m_noClock = false;
    }
    gst_pipeline_auto_clock(GST_PIPELINE(m_pipeline));
    if (old) {
        vagst::DetachClockAdapter(old);
        gst_object_unref(old);
    }
    return S_OK;
}

HRESULT CFilterGraph::GetSyncSource(IReferenceClock** pClock) {
    if (!pClock)
        return E_POINTER;
    *pClock = nullptr;
    std::lock_guard guard(m_clockLock);
    if (m_noClock)
        return S_FALSE;
    if (m_defaultClock) {
        // The clock the pipeline chooses itself (an audio device's, or the system's).
        GstClock* clock = gst_pipeline_get_clock(GST_PIPELINE(m_pipeline));
        if (!clock)
            return S_FALSE;
        CGstReferenceClock* current =
            m_syncSource ? dynamic_cast<CGstReferenceClock*>(m_syncSource.Get()) : nullptr;
        if (!current || current->Clock() != clock)
            m_syncSource = static_cast<IReferenceClock*>(new CGstReferenceClock(clock));
        gst_object_unref(clock);
    }
    if (!m_syncSource)
        return S_FALSE;
    *pClock = m_syncSource;
    (*pClock)->AddRef();
    return S_OK;
}
