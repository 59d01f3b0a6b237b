#pragma once
// A media sample: one buffer of stream data with its times and flags.
#include "platform/com/Unknown.h"
#include "platform/dshow/Clock.h"
#include "platform/dshow/MediaType.h"

struct IMediaSample : IUnknown {
    VA_INTERFACE_ID("56A8689A-0AD4-11CE-B03A-0020AF0BA770");
    // The buffer and its capacity.
    virtual HRESULT GetPointer(BYTE** ppBuffer) = 0;
    virtual LONG GetSize() = 0;
    // Stream times of the sample; VFW_S_NO_STOP_TIME when only the start is
    // set, VFW_E_SAMPLE_TIME_NOT_SET when none is.
    virtual HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    virtual HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT SetSyncPoint(BOOL bIsSyncPoint) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL bIsPreroll) = 0;
    // Bytes of valid data.
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0;
    // A new type travelling with this sample (S_FALSE and null when none);
    // free it with DeleteMediaType.
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* pMediaType) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL bDiscontinuity) = 0;
    virtual HRESULT GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
    virtual HRESULT SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
};

struct AM_SAMPLE2_PROPERTIES {
    DWORD cbData = sizeof(AM_SAMPLE2_PROPERTIES);
    DWORD dwTypeSpecificFlags = 0;
    DWORD dwSampleFlags = 0;
    LONG lActual = 0;
    REFERENCE_TIME tStart = 0;
    REFERENCE_TIME tStop = 0;
    DWORD dwStreamId = 0;
    AM_MEDIA_TYPE* pMediaType = nullptr;
    BYTE* pbBuffer = nullptr;
    LONG cbBuffer = 0;
};

struct IMediaSample2 : IMediaSample {
    VA_INTERFACE_ID("36B73884-C2C8-11CF-8B46-00805F6CEF60");
    // Copies the first cbProperties bytes of the sample's properties.
    virtual HRESULT GetProperties(DWORD cbProperties, BYTE* pbProperties) = 0;
    virtual HRESULT SetProperties(DWORD cbProperties, const BYTE* pbProperties) = 0;
};
