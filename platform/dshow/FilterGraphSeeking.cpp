#include "platform/dshow/FilterGraph.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/dshow/GstSupport.h"

// --- positions ---

REFERENCE_TIME CFilterGraph::DurationNow() {
    {
        std::lock_guard guard(m_posLock);
        if (m_duration >= 0)
            return m_duration;
    }
    gint64 d = 0;
    if (!gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &d) || d < 0)
        return -1;
    std::lock_guard guard(m_posLock);
    m_duration = REFERENCE_TIME(d / 100);
    return m_duration;
}

REFERENCE_TIME CFilterGraph::PositionNow() {
    REFERENCE_TIME duration = DurationNow();
    {
        std::lock_guard guard(m_posLock);
        if (m_atEnd)
            return m_stop >= 0 ? m_stop : std::max<REFERENCE_TIME>(duration, 0);
        if (m_needRestart)
            return m_restartPos;
        if (m_seekPending)
            return m_seekTarget;
    }
    gint64 p = 0;
    REFERENCE_TIME pos;
    if (gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &p) && p >= 0) {
        pos = REFERENCE_TIME(p / 100);
        if (duration >= 0 && pos > duration)
            pos = duration;
        std::lock_guard guard(m_posLock);
        m_lastPosition = pos;
    } else {
        std::lock_guard guard(m_posLock);
        pos = m_lastPosition;
    }
    return pos;
}

bool CFilterGraph::Seek(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!m_seekable)
        return false;
    if (start < 0)
        start = 0;
    {
        std::lock_guard guard(m_posLock);
        if (m_needRestart || !PipelineActive()) {
            // Applied when the flow restarts.
            m_restartPos = start;
            m_needRestart = m_needRestart || PipelineActive();
            m_lastPosition = start;
            m_atEnd = false;
            return true;
        }
        m_seekPending = true;
        m_seekTarget = start;
        m_lastPosition = start;
        m_atEnd = false;
    }
    m_asyncDone.Reset();
    gboolean ok = gst_element_seek(m_pipeline, rate, GST_FORMAT_TIME,
                                   GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                   GST_SEEK_TYPE_SET, vagst::ToGstTime(start), GST_SEEK_TYPE_SET,
                                   stop >= 0 ? vagst::ToGstTime(stop) : GST_CLOCK_TIME_NONE);
    if (!ok) {
        std::lock_guard guard(m_posLock);
        m_seekPending = false;
    }
    return ok;
}

HRESULT CFilterGraph::GetCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities)
        return E_POINTER;
    DWORD caps = 0;
    if (HasFilters()) {
        caps = AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
        if (m_seekable)
            caps |= AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                    AM_SEEKING_CanSeekBackwards;
    }
    *pCapabilities = caps;
    return S_OK;
}

HRESULT CFilterGraph::CheckCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities)
        return E_POINTER;
    DWORD have = 0;
    GetCapabilities(&have);
    DWORD asked = *pCapabilities;
    *pCapabilities = asked & have;
    if (*pCapabilities == asked)
        return S_OK;
    return *pCapabilities ? S_FALSE : E_FAIL;
}

HRESULT CFilterGraph::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat)
        return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CFilterGraph::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat)
        return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CFilterGraph::GetTimeFormat(GUID* pFormat) {
    return QueryPreferredFormat(pFormat);
}

HRESULT CFilterGraph::IsUsingTimeFormat(const GUID* pFormat) {
    return IsFormatSupported(pFormat);
}

HRESULT CFilterGraph::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat)
        return E_POINTER;
    if (LogicalState() == State_Running)
        return VFW_E_WRONG_STATE;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT CFilterGraph::GetDuration(LONGLONG* pDuration) {
    if (!pDuration)
        return E_POINTER;
    if (!HasFilters())
        return E_NOTIMPL;
    REFERENCE_TIME d = DurationNow();
    if (d < 0)
        return E_FAIL;
    *pDuration = d;
    return S_OK;
}

HRESULT CFilterGraph::GetStopPosition(LONGLONG* pStop) {
    if (!pStop)
        return E_POINTER;
    if (!HasFilters())
        return E_NOTIMPL;
    {
        std::lock_guard guard(m_posLock);
        if (m_stop >= 0) {
            *pStop = m_stop;
            return S_OK;
        }
    }
    return GetDuration(pStop);
}

HRESULT CFilterGraph::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent)
        return E_POINTER;
    if (!HasFilters())
        return E_NOTIMPL;
    *pCurrent = PositionNow();
    return S_OK;
}

HRESULT CFilterGraph::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                        LONGLONG Source, const GUID* pSourceFormat) {
    if (!pTarget)
        return E_POINTER;
    auto media = [](const GUID* f) { return !f || *f == TIME_FORMAT_MEDIA_TIME; };
    if (!media(pTargetFormat) || !media(pSourceFormat))
        return E_INVALIDARG;
    *pTarget = Source;
    return S_OK;
}

HRESULT CFilterGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                   DWORD dwStopFlags) {
    DWORD curMode = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    DWORD stopMode = dwStopFlags & AM_SEEKING_PositioningBitsMask;
    if ((curMode && !pCurrent) || (stopMode && !pStop))
        return E_POINTER;
    if (!HasFilters())
        return E_NOTIMPL;
    REFERENCE_TIME now = PositionNow();
    REFERENCE_TIME duration = DurationNow();
    REFERENCE_TIME oldStop, cur = now, stop;
    double rate;
    {
        std::lock_guard guard(m_posLock);
        oldStop = m_stop;
        rate = m_rate;
    }
    stop = oldStop;
    if (curMode == AM_SEEKING_AbsolutePositioning)
        cur = *pCurrent;
    else if (curMode != AM_SEEKING_NoPositioning)
        cur = now + *pCurrent;
    REFERENCE_TIME effectiveStop = oldStop >= 0 ? oldStop : duration;
    if (stopMode == AM_SEEKING_AbsolutePositioning)
        stop = *pStop;
    else if (stopMode == AM_SEEKING_RelativePositioning)
        stop = effectiveStop + *pStop;
    else if (stopMode == AM_SEEKING_IncrementalPositioning)
        stop = cur + *pStop;
    if (cur < 0)
        cur = 0;
    if (duration >= 0 && cur > duration)
        cur = duration;
    if (stop >= 0 && duration >= 0 && stop > duration)
        stop = duration;
    if (curMode == AM_SEEKING_NoPositioning && stopMode == AM_SEEKING_NoPositioning)
        return S_OK;
    if (stop >= 0 && stop < cur)
        return E_INVALIDARG;
    if (!Seek(cur, stop, rate))
        return E_FAIL;
    {
        std::lock_guard guard(m_posLock);
        m_stop = stop;
    }
    if ((dwCurrentFlags & AM_SEEKING_ReturnTime) && pCurrent)
        *pCurrent = cur;
    if ((dwStopFlags & AM_SEEKING_ReturnTime) && pStop)
        *pStop = stop >= 0 ? stop : duration;
    return S_OK;
}

HRESULT CFilterGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    if (pCurrent) {
        HRESULT hr = GetCurrentPosition(pCurrent);
        if (FAILED(hr))
            return hr;
    }
    if (pStop)
        return GetStopPosition(pStop);
    return S_OK;
}

HRESULT CFilterGraph::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    if (pEarliest)
        *pEarliest = 0;
    if (pLatest)
        return GetDuration(pLatest);
    return S_OK;
}

HRESULT CFilterGraph::SetRate(double dRate) {
    if (dRate == 0.0 || !std::isfinite(dRate))
        return E_INVALIDARG;
    if (dRate < 0)
        return E_NOTIMPL;  // no reverse playback
    const char* fixed = std::getenv("VELOTRAX_GRAPH_RATES");
    if (fixed && std::strcmp(fixed, "fixed") == 0 && dRate != 1.0)
        return E_NOTIMPL;
    {
        std::lock_guard guard(m_posLock);
        if (dRate == m_rate)
            return S_OK;
    }
    if (HasFilters() && PipelineActive()) {
        REFERENCE_TIME stop;
        {
            std::lock_guard guard(m_posLock);
            stop = m_stop;
        }
        if (!Seek(PositionNow(), stop, dRate))
            return E_NOTIMPL;
    }
    std::lock_guard guard(m_posLock);
    m_rate = dRate;
    return S_OK;
}

HRESULT CFilterGraph::GetRate(double* pdRate) {
    if (!pdRate)
        return E_POINTER;
    std::lock_guard guard(m_posLock);
    *pdRate = m_rate;
    return S_OK;
}

HRESULT CFilterGraph::GetPreroll(LONGLONG* pllPreroll) {
    if (!pllPreroll)
        return E_POINTER;
    *pllPreroll = 0;
    return S_OK;
}
