#pragma once
// CGstMediaSample: IMediaSample2 over one GstBuffer. The buffer stays mapped
// while the sample lives; times, flags and the attached media type are kept
// as the sample's own properties and written back into the buffer when it
// is handed on (TakeBuffer).
#include <gst/gst.h>

#include <memory>

#include "platform/dshow/MediaSample.h"

// Stream ids of IMediaSample2 properties.
constexpr DWORD AM_STREAM_MEDIA = 0;
constexpr DWORD AM_STREAM_CONTROL = 1;

class CGstMediaSample : public CUnknownImpl<CGstMediaSample, IMediaSample2> {
public:
    // Takes over the caller's reference to 'buffer'. A writable sample maps
    // the buffer for writing (the buffer must be writable); its data length
    // starts at 0, a read-only sample's at the buffer's size. Times, sync
    // point, discontinuity and media times are read from the buffer.
    CGstMediaSample(GstBuffer* buffer, bool writable);
    ~CGstMediaSample() override;
    CGstMediaSample(const CGstMediaSample&) = delete;
    CGstMediaSample& operator=(const CGstMediaSample&) = delete;

    // False when the buffer could not be mapped (the sample is empty).
    bool IsMapped() const { return m_mapped; }

    HRESULT GetPointer(BYTE** ppBuffer) override;
    LONG GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL bIsSyncPoint) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL bIsPreroll) override;
    LONG GetActualDataLength() override;
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL bDiscontinuity) override;
    HRESULT GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    HRESULT SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    HRESULT GetProperties(DWORD cbProperties, BYTE* pbProperties) override;
    HRESULT SetProperties(DWORD cbProperties, const BYTE* pbProperties) override;

    // The type-specific flags (AM_VIDEO_FLAG_… for video).
    DWORD TypeSpecificFlags() const { return m_typeFlags; }
    void SetTypeSpecificFlags(DWORD flags) { m_typeFlags = flags; }
    // The attached media type, or null.
    const CMediaType* AttachedType() const { return m_type.get(); }
    // Bytes from one line to the next, when the producer told (0 = not known).
    LONG Stride() const { return m_stride; }
    void SetStride(LONG stride) { m_stride = stride; }

    // Unmaps the buffer, writes times and flags into it, trims it to the
    // data length (writable samples) and hands over the reference. The
    // sample is empty afterwards.
    GstBuffer* TakeBuffer();

private:
    GstBuffer* m_buffer;
    GstMapInfo m_map{};
    bool m_mapped = false;
    bool m_writable;
    DWORD m_flags = 0;  // AM_SAMPLE_… flags
    DWORD m_typeFlags = 0;
    DWORD m_streamId = AM_STREAM_MEDIA;
    bool m_syncPoint = true;
    bool m_mediaTimeValid = false;
    REFERENCE_TIME m_start = 0;
    REFERENCE_TIME m_stop = 0;
    LONGLONG m_mediaStart = 0;
    LONGLONG m_mediaStop = 0;
    LONG m_actual = 0;
    LONG m_stride = 0;
    std::unique_ptr<CMediaType> m_type;
};
