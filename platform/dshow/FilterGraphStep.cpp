#include "platform/dshow/FilterGraph.h"

// Frame stepping: the pipeline pauses and the video sink steps; the step is
// complete once the frame after it is shown (see the bus handler).

HRESULT CFilterGraph::StepFrames(GstElement* sink, DWORD frames) {
    if (!HasFilters())
        return VFW_E_WRONG_STATE;
    PrepareForFlow();
    if (LogicalState() == State_Running || !PipelineActive()) {
        gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
        gst_element_get_state(m_pipeline, nullptr, nullptr, kLongestStateWaitMs * GST_MSECOND);
    }
    m_state = State_Paused;
    {
        std::lock_guard guard(m_posLock);
        m_seekPending = false;
        m_atEnd = false;
    }
    m_stepStartFrames = m_framesShown.load();
    m_stepCompletePending = false;
    if (!gst_element_send_event(sink,
                                gst_event_new_step(GST_FORMAT_BUFFERS, frames, 1.0, TRUE, FALSE)))
        return E_FAIL;
    return S_OK;
}

HRESULT CFilterGraph::CancelStepFrames(GstElement*) {
    return S_OK;
}
