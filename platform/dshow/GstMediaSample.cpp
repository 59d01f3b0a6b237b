#include "platform/dshow/GstMediaSample.h"

#include <algorithm>
#include <cstring>

#include "platform/dshow/Filters.h"
#include "platform/dshow/GstSupport.h"

CGstMediaSample::CGstMediaSample(GstBuffer* buffer, bool writable)
    : m_buffer(buffer), m_writable(writable) {
    if (!m_buffer)
        return;
    m_mapped = gst_buffer_map(m_buffer, &m_map, writable ? GST_MAP_WRITE : GST_MAP_READ);
    m_actual = m_mapped && !writable ? LONG(std::min<gsize>(m_map.size, G_MAXINT32)) : 0;
    GstClockTime pts = GST_BUFFER_PTS(m_buffer), duration = GST_BUFFER_DURATION(m_buffer);
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
        m_flags |= AM_SAMPLE_TIMEVALID;
        m_start = vagst::ToRefTime(pts);
        m_stop = m_start;
        if (GST_CLOCK_TIME_IS_VALID(duration)) {
            m_flags |= AM_SAMPLE_STOPVALID;
            m_stop = vagst::ToRefTime(pts + duration);
        }
    }
    if (GST_BUFFER_FLAG_IS_SET(m_buffer, GST_BUFFER_FLAG_DISCONT))
        m_flags |= AM_SAMPLE_DATADISCONTINUITY;
    m_syncPoint = !GST_BUFFER_FLAG_IS_SET(m_buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    if (GST_BUFFER_OFFSET_IS_VALID(m_buffer) && GST_BUFFER_OFFSET_END_IS_VALID(m_buffer)) {
        m_mediaTimeValid = true;
        m_mediaStart = LONGLONG(GST_BUFFER_OFFSET(m_buffer));
        m_mediaStop = LONGLONG(GST_BUFFER_OFFSET_END(m_buffer));
    }
}

CGstMediaSample::~CGstMediaSample() {
    if (m_mapped)
        gst_buffer_unmap(m_buffer, &m_map);
    if (m_buffer)
        gst_buffer_unref(m_buffer);
}

HRESULT CGstMediaSample::GetPointer(BYTE** ppBuffer) {
    if (!ppBuffer)
        return E_POINTER;
    *ppBuffer = m_mapped ? m_map.data : nullptr;
    return m_mapped ? S_OK : E_UNEXPECTED;
}

LONG CGstMediaSample::GetSize() {
    return m_mapped ? LONG(std::min<gsize>(m_map.size, G_MAXINT32)) : 0;
}

HRESULT CGstMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd)
        return E_POINTER;
    if (!(m_flags & AM_SAMPLE_TIMEVALID))
        return VFW_E_SAMPLE_TIME_NOT_SET;
    *pTimeStart = m_start;
    if (!(m_flags & AM_SAMPLE_STOPVALID)) {
        *pTimeEnd = m_start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *pTimeEnd = m_stop;
    return S_OK;
}

HRESULT CGstMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    m_flags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    if (!pTimeStart)
        return S_OK;  // no times
    m_start = *pTimeStart;
    m_flags |= AM_SAMPLE_TIMEVALID;
    if (pTimeEnd) {
        m_stop = *pTimeEnd;
        m_flags |= AM_SAMPLE_STOPVALID;
    }
    return S_OK;
}

HRESULT CGstMediaSample::IsSyncPoint() {
    return m_syncPoint ? S_OK : S_FALSE;
}

HRESULT CGstMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
    m_syncPoint = bIsSyncPoint != 0;
    return S_OK;
}

HRESULT CGstMediaSample::IsPreroll() {
    return (m_flags & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE;
}

HRESULT CGstMediaSample::SetPreroll(BOOL bIsPreroll) {
    m_flags = bIsPreroll ? (m_flags | AM_SAMPLE_PREROLL) : (m_flags & ~AM_SAMPLE_PREROLL);
    return S_OK;
}

LONG CGstMediaSample::GetActualDataLength() {
    return m_actual;
}

HRESULT CGstMediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    m_actual = length;
    return S_OK;
}

HRESULT CGstMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (!ppMediaType)
        return E_POINTER;
    *ppMediaType = nullptr;
    if (!m_type)
        return S_FALSE;
    *ppMediaType = CreateMediaType(m_type.get());
    return *ppMediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT CGstMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    if (!pMediaType) {
        m_type.reset();
        m_flags &= ~AM_SAMPLE_TYPECHANGED;
        return S_OK;
    }
    m_type = std::make_unique<CMediaType>(*pMediaType);
    m_flags |= AM_SAMPLE_TYPECHANGED;
    return S_OK;
}

HRESULT CGstMediaSample::IsDiscontinuity() {
    return (m_flags & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE;
}

HRESULT CGstMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
    m_flags = bDiscontinuity ? (m_flags | AM_SAMPLE_DATADISCONTINUITY)
                             : (m_flags & ~AM_SAMPLE_DATADISCONTINUITY);
    return S_OK;
}

HRESULT CGstMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd)
        return E_POINTER;
    if (!m_mediaTimeValid)
        return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = m_mediaStart;
    *pTimeEnd = m_mediaStop;
    return S_OK;
}

HRESULT CGstMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) {
        m_mediaTimeValid = false;
        return S_OK;
    }
    m_mediaTimeValid = true;
    m_mediaStart = *pTimeStart;
    m_mediaStop = *pTimeEnd;
    return S_OK;
}

HRESULT CGstMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
    if (!pbProperties)
        return E_POINTER;
    AM_SAMPLE2_PROPERTIES p;
    p.dwTypeSpecificFlags = m_typeFlags;
    p.dwSampleFlags = m_flags;
    if (m_syncPoint)
        p.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
    p.lActual = m_actual;
    p.tStart = m_start;
    p.tStop = m_stop;
    p.dwStreamId = m_streamId;
    p.pMediaType = m_type.get();
    p.pbBuffer = m_mapped ? m_map.data : nullptr;
    p.cbBuffer = GetSize();
    std::memcpy(pbProperties, &p, std::min<size_t>(cbProperties, sizeof p));
    return S_OK;
}

HRESULT CGstMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
    if (!pbProperties)
        return E_POINTER;
    // The fields up to and including the times may be given; the rest
    // (stream id, type, buffer) belong to the sample.
    constexpr size_t kSettable = offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId);
    if (cbProperties < offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags))
        return E_INVALIDARG;
    AM_SAMPLE2_PROPERTIES p;
    p.dwSampleFlags = m_flags;
    p.lActual = m_actual;
    p.tStart = m_start;
    p.tStop = m_stop;
    std::memcpy(&p, pbProperties, std::min<size_t>(cbProperties, kSettable));
    m_typeFlags = p.dwTypeSpecificFlags;
    if (cbProperties > offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags)) {
        m_syncPoint = p.dwSampleFlags & AM_SAMPLE_SPLICEPOINT;
        m_flags = (p.dwSampleFlags & ~AM_SAMPLE_TYPECHANGED) | (m_flags & AM_SAMPLE_TYPECHANGED);
    }
    if (cbProperties > offsetof(AM_SAMPLE2_PROPERTIES, lActual)) {
        if (p.lActual < 0 || p.lActual > GetSize())
            return VFW_E_BUFFER_OVERFLOW;
        m_actual = p.lActual;
    }
    if (cbProperties > offsetof(AM_SAMPLE2_PROPERTIES, tStart))
        m_start = p.tStart;
    if (cbProperties > offsetof(AM_SAMPLE2_PROPERTIES, tStop))
        m_stop = p.tStop;
    return S_OK;
}

GstBuffer* CGstMediaSample::TakeBuffer() {
    if (!m_buffer)
        return nullptr;
    if (m_mapped) {
        gst_buffer_unmap(m_buffer, &m_map);
        m_mapped = false;
    }
    GstBuffer* b = m_buffer;
    m_buffer = nullptr;
    if (!m_writable)
        return b;
    gst_buffer_set_size(b, std::max<gssize>(0, m_actual));
    GST_BUFFER_PTS(b) =
        (m_flags & AM_SAMPLE_TIMEVALID) ? vagst::ToGstTime(m_start) : GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(b) =
        (m_flags & AM_SAMPLE_TIMEVALID) && (m_flags & AM_SAMPLE_STOPVALID) && m_stop >= m_start
            ? vagst::ToGstTime(m_stop - m_start)
            : GST_CLOCK_TIME_NONE;
    GST_BUFFER_DTS(b) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_OFFSET(b) = m_mediaTimeValid ? guint64(m_mediaStart) : GST_BUFFER_OFFSET_NONE;
    GST_BUFFER_OFFSET_END(b) = m_mediaTimeValid ? guint64(m_mediaStop) : GST_BUFFER_OFFSET_NONE;
    if (m_syncPoint)
        GST_BUFFER_FLAG_UNSET(b, GST_BUFFER_FLAG_DELTA_UNIT);
    else
        GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DELTA_UNIT);
    if (m_flags & AM_SAMPLE_DATADISCONTINUITY)
        GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DISCONT);
    else
        GST_BUFFER_FLAG_UNSET(b, GST_BUFFER_FLAG_DISCONT);
    return b;
}
