#include "deinterlace/DeInterlaceFilter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "deinterlace/DiagnosticsOverlay.h"

namespace {

// The formats the filter could ever take, whatever the screen.
constexpr char kTemplateCaps[] =
    "video/x-raw, format = (string) { I420, YV12, NV12, YUY2, BGRx, BGRA, BGR, RGB15, RGB16 }, "
    "width = (int) [ 1, 32767 ], height = (int) [ 1, 32767 ], "
    "framerate = (fraction) [ 0, MAX ]";

// Interlace flags of an output that shows whole frames.
constexpr DWORD kWeaveFlags =
    AMINTERLACE_IsInterlaced | AMINTERLACE_FieldPatBothRegular | AMINTERLACE_DisplayModeWeaveOnly;

// The parts both video formats share, at the same offsets.
VIDEOINFOHEADER* VideoInfo(const CMediaType& mt) {
    return mt.BitmapHeader() ? reinterpret_cast<VIDEOINFOHEADER*>(mt.Format()) : nullptr;
}

VIDEOINFOHEADER2* VideoInfo2(const CMediaType& mt) {
    return mt.formattype == FORMAT_VideoInfo2 && mt.BitmapHeader()
               ? reinterpret_cast<VIDEOINFOHEADER2*>(mt.Format())
               : nullptr;
}

LONG Abs(LONG v) {
    return v < 0 ? -v : v;
}

bool IsDoubleRateMethod(DWORD method) {
    return method > 2;
}

bool IsPlanarYuv(const GUID& subtype) {
    return subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_YV12 ||
           subtype == MEDIASUBTYPE_NV12;
}

}  // namespace

// The input pin also asks downstream whether it would take a new type.
class CDeInterlace::CInputPin : public CTransformInputPin {
public:
    CInputPin(CDeInterlace* filter, GstPad* pad) : CTransformInputPin(filter, pad, "XForm In") {}
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        HRESULT hr = m_pTransformFilter->CheckInputType(pmt);
        if (hr != S_OK)
            return hr;
        CTransformOutputPin* out = m_pTransformFilter->OutputPin();
        if (out->IsConnected() && !(out->CurrentMediaTypeCopy() == *pmt))
            return out->DownstreamAccepts(*pmt);
        return S_OK;
    }
};

// The output pin takes a type it could produce from some upstream type.
class CDeInterlace::COutputPin : public CTransformOutputPin {
public:
    COutputPin(CDeInterlace* filter, GstPad* pad) : CTransformOutputPin(filter, pad, "XForm Out") {}
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        CTransformInputPin* in = m_pTransformFilter->InputPin();
        if (!in->IsConnected())
            return E_INVALIDARG;
        CMediaType current = in->CurrentMediaTypeCopy();
        if (m_pTransformFilter->CheckTransform(&current, pmt) == S_OK)
            return S_OK;
        if (IsConnected() && DownstreamAccepts(*pmt) != S_OK)
            return E_FAIL;
        CComPtr<IPin> upstream = in->GetConnected();
        CComPtr<IEnumMediaTypes> types;
        if (!upstream || FAILED(upstream->EnumMediaTypes(&types)) || !types)
            return E_FAIL;
        AM_MEDIA_TYPE* type = nullptr;
        ULONG got = 0;
        while (types->Next(1, &type, &got) == S_OK && got == 1) {
            CMediaType candidate(*type);
            DeleteMediaType(type);
            if (m_pTransformFilter->CheckTransform(&candidate, pmt) == S_OK &&
                upstream->QueryAccept(&candidate) == S_OK)
                return S_OK;
        }
        return E_FAIL;
    }
};

CDeInterlace::CDeInterlace() : CTransformFilter(CLSID_DeInterlace, kTemplateCaps) {
    SetPins(new CInputPin(this, PadOf(0)), new COutputPin(this, PadOf(1)));
    m_engine.SetOverlay(&CDiagnosticsOverlay::Instance());
}

CDeInterlace::~CDeInterlace() = default;

HRESULT CDeInterlace::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IDeInterlace::iid) {
        *ppv = static_cast<IDeInterlace*>(this);
        return S_OK;
    }
    if (riid == IDeInterlaceConfig::iid) {
        *ppv = static_cast<IDeInterlaceConfig*>(this);
        return S_OK;
    }
    if (riid == IPersistStream::iid) {
        *ppv = static_cast<IPersistStream*>(this);
        return S_OK;
    }
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

int CDeInterlace::ScreenDepth() {
    int depth = m_screenDepth.load();
    if (depth == 0) {
        depth = kScreenDepth;
        m_screenDepth = depth;
    }
    return depth;
}

// ---------------------------------------------------------------- IDeInterlace

HRESULT CDeInterlace::GetMethod(DWORD* pMethod) {
    if (!pMethod)
        return E_POINTER;
    std::lock_guard lock(m_csSettings);
    *pMethod = m_requestedMethod;
    return S_OK;
}

HRESULT CDeInterlace::SetMethod(DWORD method) {
    if (method > CDeInterlaceEngine::kMaxMethod)
        return E_INVALIDARG;
    std::lock_guard lock(m_csSettings);
    m_requestedMethod = method;
    return S_OK;
}

HRESULT CDeInterlace::GetInterpolation(DWORD* pInterpolation, DWORD* pSharpen) {
    if (!pInterpolation || !pSharpen)
        return E_POINTER;
    std::lock_guard lock(m_csSettings);
    *pInterpolation = m_engine.GetInterpolation();
    *pSharpen = m_engine.GetSharpen();
    return S_OK;
}

HRESULT CDeInterlace::SetInterpolation(DWORD interpolation, DWORD sharpen) {
    if (interpolation > CDeInterlaceEngine::kMaxInterpolation ||
        sharpen > CDeInterlaceEngine::kMaxSharpen)
        return E_INVALIDARG;
    std::lock_guard lock(m_csSettings);
    HRESULT hr = S_OK;
    if (sharpen != 0 && interpolation != 2) {
        sharpen = 0;
        hr = S_FALSE;
    }
    m_engine.SetInterpolation(interpolation);
    m_engine.SetSharpen(sharpen);
    return hr;
}

HRESULT CDeInterlace::CheckInterpolation(DWORD interpolation, DWORD sharpen) {
    if (interpolation > CDeInterlaceEngine::kMaxInterpolation ||
        sharpen > CDeInterlaceEngine::kMaxSharpen || (sharpen != 0 && interpolation != 2))
        return S_FALSE;
    return S_OK;
}

HRESULT CDeInterlace::GetFrameTime(REFERENCE_TIME* pFrameTime) {
    if (!pFrameTime)
        return E_POINTER;
    if (!m_pOutput)
        return VFW_E_NOT_CONNECTED;
    CMediaType in = m_pInput->CurrentMediaTypeCopy();
    const VIDEOINFOHEADER* vih = VideoInfo(in);
    if (in.majortype != MEDIATYPE_Video || !vih)
        return VFW_E_INVALIDMEDIATYPE;
    REFERENCE_TIME t = vih->AvgTimePerFrame;
    {
        std::lock_guard lock(m_csSettings);
        if (IsDoubleRateMethod(m_requestedMethod))
            t /= 2;
    }
    if (t <= 0) {
        *pFrameTime = 0;
        return S_FALSE;
    }
    *pFrameTime = t;
    return S_OK;
}

HRESULT CDeInterlace::IsDoubleRate(BOOL* pDoubleRate) {
    if (!pDoubleRate)
        return E_POINTER;
    std::lock_guard lock(m_csSettings);
    *pDoubleRate = IsDoubleRateMethod(m_requestedMethod);
    return S_OK;
}

HRESULT CDeInterlace::GetDiagnostics(DWORD* pValue) {
    if (!pValue)
        return E_POINTER;
    std::lock_guard lock(m_csSettings);
    *pValue = m_engine.GetDiagnostics();
    return S_OK;
}

HRESULT CDeInterlace::SetDiagnostics(DWORD value) {
    if (value > CDeInterlaceEngine::kMaxDiagnostics)
        return E_INVALIDARG;
    std::lock_guard lock(m_csSettings);
    m_engine.SetDiagnostics(value);
    return S_OK;
}

// ---------------------------------------------------------------- IDeInterlaceConfig

HRESULT CDeInterlace::GetConfig(DWORD id, DWORD* pValue) {
    if (!pValue)
        return E_POINTER;
    if (id != kDeInterlaceConfigKeepAspect)
        return E_INVALIDARG;
    std::lock_guard lock(m_csSettings);
    *pValue = m_keepAspect;
    return S_OK;
}

HRESULT CDeInterlace::SetConfig(DWORD id, DWORD value) {
    if (id != kDeInterlaceConfigKeepAspect || value > 1)
        return E_INVALIDARG;
    std::lock_guard lock(m_csSettings);
    m_keepAspect = value;
    return S_OK;
}

// ---------------------------------------------------------------- IPersistStream

namespace {
constexpr int kStreamVersion = 4;
constexpr size_t kVersionUnits = 12;

HRESULT ReadExactly(IStream* stream, void* buffer, ULONG size) {
    ULONG read = 0;
    HRESULT hr = stream->Read(buffer, size, &read);
    if (FAILED(hr))
        return hr;
    return read == size ? S_OK : E_FAIL;
}

HRESULT ReadValue(IStream* stream, DWORD& value) {
    uint8_t bytes[4];
    HRESULT hr = ReadExactly(stream, bytes, sizeof bytes);
    if (SUCCEEDED(hr))
        value =
            DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
    return hr;
}

void PutValue(std::vector<uint8_t>& out, DWORD value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}
}  // namespace

HRESULT CDeInterlace::GetSizeMax(uint64_t* pcbSize) {
    if (!pcbSize)
        return E_POINTER;
    *pcbSize = kStreamSize;
    return S_OK;
}

HRESULT CDeInterlace::Save(IStream* pStm, BOOL) {
    if (!pStm)
        return E_POINTER;
    char text[kVersionUnits + 1];
    std::snprintf(text, sizeof text, "%011d ", kStreamVersion);
    std::vector<uint8_t> data;
    for (size_t i = 0; i < kVersionUnits; ++i) {
        data.push_back(uint8_t(text[i]));  // UTF-16, little-endian
        data.push_back(0);
    }
    {
        std::lock_guard lock(m_csSettings);
        PutValue(data, m_requestedMethod);
        PutValue(data, m_engine.GetInterpolation());
        PutValue(data, m_engine.GetSharpen());
        PutValue(data, m_engine.GetDiagnostics());
    }
    ULONG written = 0;
    HRESULT hr = pStm->Write(data.data(), ULONG(data.size()), &written);
    if (FAILED(hr))
        return hr;
    return written == data.size() ? S_OK : E_FAIL;
}

HRESULT CDeInterlace::Load(IStream* pStm) {
    if (!pStm)
        return E_POINTER;
    uint8_t units[kVersionUnits * 2];
    HRESULT hr = ReadExactly(pStm, units, sizeof units);
    if (FAILED(hr))
        return hr;
    // "-" and decimal digits, ended by white space or NUL.
    long long version = 0;
    bool negative = false, digits = false, ended = false;
    for (size_t i = 0; i < kVersionUnits && !ended; ++i) {
        unsigned c = unsigned(units[2 * i]) | unsigned(units[2 * i + 1]) << 8;
        if (c == '-' && i == 0) {
            negative = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (version < 1000000000000LL)
                version = version * 10 + (c - '0');
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0) {
            ended = true;
        } else {
            return VFW_E_INVALID_FILE_FORMAT;
        }
    }
    if (!ended || !digits)
        return VFW_E_INVALID_FILE_FORMAT;
    if (negative)
        version = -version;

    std::lock_guard lock(m_csSettings);
    DWORD value = 0;
    if (FAILED(hr = ReadValue(pStm, value)))
        return hr;
    // A method out of range would stand for no method the engine has.
    if (value <= CDeInterlaceEngine::kMaxMethod)
        m_requestedMethod = value;
    m_engine.SetMethod(value);
    if (version >= 3) {
        if (FAILED(hr = ReadValue(pStm, value)))
            return hr;
        m_engine.SetInterpolation(value);
    }
    if (version >= 4) {
        if (FAILED(hr = ReadValue(pStm, value)))
            return hr;
        m_engine.SetSharpen(value);
        if (FAILED(hr = ReadValue(pStm, value)))
            return hr;
        m_engine.SetDiagnostics(value);
    }
    return S_OK;
}

// ---------------------------------------------------------------- the transform

HRESULT CDeInterlace::CheckInputType(const CMediaType* mtIn) {
    if (!mtIn || !mtIn->bFixedSizeSamples || mtIn->majortype != MEDIATYPE_Video)
        return E_FAIL;
    // A bit count that is not the subtype's would size lines one way and
    // step pixels another.
    if (!mtIn->BitmapHeader() || !CDeInterlaceEngine::IsConsistentType(*mtIn))
        return E_FAIL;
    const GUID& sub = mtIn->subtype;
    if (sub == MEDIASUBTYPE_YUY2) {
        if (mtIn->formattype != FORMAT_VideoInfo2)
            return E_FAIL;
        std::lock_guard lock(m_csSettings);
        return m_engine.GetDiagnostics() || m_engine.IsSharpening() ? E_FAIL : S_OK;
    }
    // The decoders' own planar formats are taken as they come, so that no
    // conversion runs in front of the filter; like YUY2 they get neither
    // sharpening nor the diagnostic text.
    if (IsPlanarYuv(sub)) {
        std::lock_guard lock(m_csSettings);
        return m_engine.GetDiagnostics() || m_engine.IsSharpening() ? E_FAIL : S_OK;
    }
    if (sub == MEDIASUBTYPE_RGB555 || sub == MEDIASUBTYPE_RGB565)
        return S_OK;
    int depth = ScreenDepth();
    if (depth > 16 && depth <= 24)
        return sub == MEDIASUBTYPE_RGB24 ? S_OK : E_FAIL;
    if (depth > 24)
        return sub == MEDIASUBTYPE_RGB32 || sub == MEDIASUBTYPE_ARGB32 ? S_OK : E_FAIL;
    return E_FAIL;
}

bool CDeInterlace::Compatible(const CMediaType& in, const CMediaType& out) {
    if (in.bFixedSizeSamples != out.bFixedSizeSamples || out.lSampleSize < in.lSampleSize)
        return false;
    if (in.majortype != MEDIATYPE_Video || out.majortype != MEDIATYPE_Video)
        return false;
    const VIDEOINFOHEADER* vin = VideoInfo(in);
    const VIDEOINFOHEADER* vout = VideoInfo(out);
    if (!vin || !vout || in.subtype != out.subtype)
        return false;
    if (!(vin->rcSource == vout->rcSource) || !(vin->rcTarget == vout->rcTarget))
        return false;
    if (in.formattype == FORMAT_VideoInfo && out.formattype != FORMAT_VideoInfo)
        return false;
    const BITMAPINFOHEADER* bin = in.BitmapHeader();
    const BITMAPINFOHEADER* bout = out.BitmapHeader();
    return bout->biWidth >= bin->biWidth && Abs(bout->biHeight) == Abs(bin->biHeight) &&
           bout->biPlanes == bin->biPlanes && bout->biBitCount == bin->biBitCount &&
           CDeInterlaceEngine::IsConsistentType(out);
}

HRESULT CDeInterlace::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
    if (!mtIn || !mtOut || CheckInputType(mtIn) != S_OK)
        return E_FAIL;
    return Compatible(*mtIn, *mtOut) ? S_OK : E_FAIL;
}

HRESULT CDeInterlace::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    if (!pAlloc || !pProp)
        return E_POINTER;
    if (!m_pInput->IsConnected())
        return E_UNEXPECTED;
    CMediaType in = m_pInput->CurrentMediaTypeCopy();
    pProp->cBuffers = 1;
    pProp->cbBuffer = in.bFixedSizeSamples ? LONG(in.lSampleSize) : 0;
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = pAlloc->SetProperties(pProp, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cBuffers < pProp->cBuffers || actual.cbBuffer < pProp->cbBuffer)
        return E_FAIL;
    return S_OK;
}

HRESULT CDeInterlace::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType)
        return E_POINTER;
    if (!m_pInput->IsConnected())
        return E_UNEXPECTED;
    if (iPosition < 0)
        return E_INVALIDARG;
    CMediaType current = m_pInput->CurrentMediaTypeCopy();
    if (iPosition == 0) {
        *pMediaType = current;
    } else {
        CComPtr<IPin> upstream = m_pInput->GetConnected();
        CComPtr<IEnumMediaTypes> types;
        if (!upstream || FAILED(upstream->EnumMediaTypes(&types)) || !types)
            return VFW_S_NO_MORE_ITEMS;
        int n = 0;
        bool found = false;
        AM_MEDIA_TYPE* type = nullptr;
        ULONG got = 0;
        while (!found && types->Next(1, &type, &got) == S_OK && got == 1) {
            CMediaType candidate(*type);
            DeleteMediaType(type);
            if (candidate == current || upstream->QueryAccept(&candidate) != S_OK ||
                CheckInputType(&candidate) != S_OK)
                continue;
            if (++n == iPosition) {
                *pMediaType = candidate;
                found = true;
            }
        }
        if (!found)
            return VFW_S_NO_MORE_ITEMS;
    }
    std::lock_guard lock(m_csSettings);
    if (VIDEOINFOHEADER* vih = VideoInfo(*pMediaType)) {
        if (IsDoubleRateMethod(m_requestedMethod))
            vih->AvgTimePerFrame /= 2;
    }
    if (VIDEOINFOHEADER2* vih2 = VideoInfo2(*pMediaType)) {
        if (m_requestedMethod != 0)
            vih2->dwInterlaceFlags =
                (vih2->dwInterlaceFlags & AMINTERLACE_IsInterlaced) ? kWeaveFlags : 0;
        if (!m_keepAspect) {
            vih2->dwPictAspectRatioX = DWORD(vih2->rcTarget.right - vih2->rcTarget.left);
            vih2->dwPictAspectRatioY = DWORD(vih2->rcTarget.bottom - vih2->rcTarget.top);
        }
    }
    return S_OK;
}

HRESULT CDeInterlace::SetMediaType(PIN_DIRECTION, const CMediaType* pmt) {
    if (!pmt)
        return E_POINTER;
    return CDeInterlaceEngine::IsConsistentType(*pmt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CDeInterlace::CompleteConnect(PIN_DIRECTION direction, IPin*) {
    if (!m_core.Graph())
        return VFW_E_NOT_IN_GRAPH;
    if (direction == PINDIR_OUTPUT) {
        CMediaType out = m_pOutput->CurrentMediaTypeCopy();
        if (m_pInput->IsConnected()) {
            CMediaType in = m_pInput->CurrentMediaTypeCopy();
            if (!Compatible(in, out)) {
                // Ask upstream for the output's format, at the input's rate.
                CMediaType wanted = out;
                if (VIDEOINFOHEADER* w = VideoInfo(wanted)) {
                    if (const VIDEOINFOHEADER* v = VideoInfo(in))
                        w->AvgTimePerFrame = v->AvgTimePerFrame;
                }
                HRESULT hr = ReconnectPin(m_pInput, &wanted);
                if (FAILED(hr))
                    return hr;
                std::lock_guard lock(m_csSettings);
                m_engine.SetInputType(in);
            }
        }
        std::lock_guard lock(m_csSettings);
        HRESULT hr = m_engine.SetOutputType(out);
        m_formatChangePending = false;
        return hr;
    }
    // The output follows the new input as soon as it is set (the base
    // renegotiates it right after this), so only the engine learns here.
    m_screenDepth = 0;
    CMediaType in = m_pInput->CurrentMediaTypeCopy();
    std::lock_guard lock(m_csSettings);
    return m_engine.SetInputType(in);
}

HRESULT CDeInterlace::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    HRESULT hr = CTransformFilter::NewSegment(tStart, tStop, dRate);
    std::lock_guard lock(m_csSettings);
    m_firstField = m_engine.FirstFieldAfterSegment(tStart);
    return hr;
}

HRESULT CDeInterlace::BeginFlush() {
    m_bFlushing = true;
    HRESULT hr = CTransformFilter::BeginFlush();
    if (FAILED(hr))
        m_bFlushing = false;
    return hr;
}

HRESULT CDeInterlace::EndFlush() {
    HRESULT hr = CTransformFilter::EndFlush();
    if (SUCCEEDED(hr))
        m_bFlushing = false;
    return hr;
}

HRESULT CDeInterlace::Receive(IMediaSample* pSample) {
    if (!pSample)
        return E_POINTER;
    CComPtr<IMediaSample2> sample2(pSample);
    if (sample2) {
        AM_SAMPLE2_PROPERTIES props;
        if (SUCCEEDED(sample2->GetProperties(sizeof props, reinterpret_cast<BYTE*>(&props))) &&
            props.dwStreamId != AM_STREAM_MEDIA)
            return Deliver(pSample);
    }
    DWORD method;
    bool hasFrameTime;
    {
        std::lock_guard lock(m_csSettings);
        method = m_requestedMethod;
        DWORD current = m_engine.GetMethod();
        if (IsDoubleRateMethod(current) != IsDoubleRateMethod(method) ||
            (current != 0) != (method != 0))
            m_formatChangePending = true;
        m_engine.SetMethod(method);
        hasFrameTime = m_engine.HasFrameTime();
    }
    if (!IsDoubleRateMethod(method))
        return ProduceFrame(0, pSample);
    DWORD field;
    {
        std::lock_guard lock(m_csSettings);
        field = m_firstField ? m_firstField : 1;
        m_firstField = 0;
    }
    HRESULT hr = ProduceFrame(field, pSample);
    if (hr == S_OK && field == 1 && !m_bFlushing && hasFrameTime)
        hr = ProduceFrame(2, pSample);
    return hr;
}

HRESULT CDeInterlace::ProduceFrame(DWORD fieldIndex, IMediaSample* pIn) {
    // 1. A type travelling with the sample becomes the input's type.
    AM_MEDIA_TYPE* attached = nullptr;
    if (pIn->GetMediaType(&attached) == S_OK && attached) {
        CMediaType mt(*attached);
        DeleteMediaType(attached);
        if (mt.Format()) {
            if (FAILED(SetMediaType(PINDIR_INPUT, &mt)))
                return VFW_E_TYPE_NOT_ACCEPTED;
            m_pInput->SetCurrentMediaType(mt);
            std::lock_guard lock(m_csSettings);
            m_engine.SetInputType(mt);
        }
    }

    // 2. The output sample with the frame's share of the times.
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = pIn->GetTime(&start, &stop) == S_OK;
    const bool split = timed && start != stop && fieldIndex != 0;
    const REFERENCE_TIME mid = start + (stop - start) / 2;
    REFERENCE_TIME outStart = split && fieldIndex == 2 ? mid : start;
    REFERENCE_TIME outStop = split && fieldIndex == 1 ? mid : stop;
    DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
    if (pIn->IsSyncPoint() != S_OK)
        flags |= AM_GBF_NOTASYNCPOINT;
    CComPtr<IMediaSample> out;
    HRESULT hr =
        GetDeliveryBuffer(&out, timed ? &outStart : nullptr, timed ? &outStop : nullptr, flags);
    if (FAILED(hr))
        return hr;

    AM_SAMPLE2_PROPERTIES inProps;
    CComPtr<IMediaSample2> in2(pIn);
    const bool haveInProps =
        in2 && SUCCEEDED(in2->GetProperties(sizeof inProps, reinterpret_cast<BYTE*>(&inProps)));
    CComPtr<IMediaSample2> out2(out.Get());
    bool mediaTimesSet = false;
    if (out2 && haveInProps) {
        AM_SAMPLE2_PROPERTIES outProps;
        out2->GetProperties(sizeof outProps, reinterpret_cast<BYTE*>(&outProps));
        outProps.dwTypeSpecificFlags = inProps.dwTypeSpecificFlags;
        if (fieldIndex != 0)
            outProps.dwTypeSpecificFlags =
                (outProps.dwTypeSpecificFlags & ~AM_VIDEO_FLAG_FIELD_MASK) | AM_VIDEO_FLAG_WEAVE;
        outProps.dwSampleFlags = (inProps.dwSampleFlags & ~AM_SAMPLE_TYPECHANGED) |
                                 (outProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED);
        outProps.tStart = outStart;
        outProps.tStop = outStop;
        out2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId),
                            reinterpret_cast<const BYTE*>(&outProps));
    } else {
        out->SetTime(timed ? &outStart : nullptr, timed ? &outStop : nullptr);
        out->SetSyncPoint(pIn->IsSyncPoint() == S_OK);
        out->SetDiscontinuity(pIn->IsDiscontinuity() == S_OK);
        LONGLONG mStart, mStop;
        if (pIn->GetMediaTime(&mStart, &mStop) == S_OK) {
            if (mStart != mStop && fieldIndex != 0) {
                LONGLONG mMid = mStart + (mStop - mStart) / 2;
                if (fieldIndex == 1)
                    mStop = mMid;
                else
                    mStart = mMid;
            }
            out->SetMediaTime(&mStart, &mStop);
            mediaTimesSet = true;
        }
    }

    // 3. The field shown first in time comes first in the stream. The flag
    // names the picture's top field; the procedures count lines in memory,
    // which for a bottom-up frame start with the picture's last line, so
    // only there does the top field first mean the other procedure first.
    const DWORD typeFlags = haveInProps ? inProps.dwTypeSpecificFlags : 0;
    CMediaType inType = m_pInput->CurrentMediaTypeCopy();
    const BITMAPINFOHEADER* inHeader = inType.BitmapHeader();
    const bool bottomUp = inHeader && inHeader->biHeight > 0 &&
                          inType.subtype != MEDIASUBTYPE_YUY2 && !IsPlanarYuv(inType.subtype);
    if ((typeFlags & AM_VIDEO_FLAG_FIELD1FIRST) && bottomUp) {
        if (fieldIndex == 1)
            fieldIndex = 2;
        else if (fieldIndex == 2)
            fieldIndex = 1;
    }

    // 4. Downstream asked for a new format with this buffer.
    AM_MEDIA_TYPE* outAttached = nullptr;
    if (out->GetMediaType(&outAttached) == S_OK && outAttached) {
        CMediaType mt(*outAttached);
        DeleteMediaType(outAttached);
        if (mt.Format() && SUCCEEDED(SetMediaType(PINDIR_OUTPUT, &mt))) {
            m_pOutput->SetCurrentMediaType(mt);
            std::lock_guard lock(m_csSettings);
            m_engine.SetOutputType(mt);
        }
    }

    // 5. A method switch changes the frame time (and the interlace flags).
    bool changeFormat;
    DWORD method;
    {
        std::lock_guard lock(m_csSettings);
        changeFormat = std::exchange(m_formatChangePending, false);
        method = m_requestedMethod;
    }
    if (changeFormat) {
        CMediaType mt = m_pOutput->CurrentMediaTypeCopy();
        CMediaType input = m_pInput->CurrentMediaTypeCopy();
        VIDEOINFOHEADER* vout = VideoInfo(mt);
        const VIDEOINFOHEADER* vin = VideoInfo(input);
        if (vout && vin) {
            vout->AvgTimePerFrame =
                IsDoubleRateMethod(method) ? vin->AvgTimePerFrame / 2 : vin->AvgTimePerFrame;
            if (VIDEOINFOHEADER2* vout2 = VideoInfo2(mt)) {
                if (method != 0)
                    vout2->dwInterlaceFlags = 0;
                else if (const VIDEOINFOHEADER2* vin2 = VideoInfo2(input))
                    vout2->dwInterlaceFlags = vin2->dwInterlaceFlags;
            }
            if (m_pOutput->DownstreamAccepts(mt) == S_OK) {
                out->SetMediaType(&mt);
                m_pOutput->SetCurrentMediaType(mt);
                std::lock_guard lock(m_csSettings);
                m_engine.SetOutputType(mt);
            }
        }
    }

    // 6. The sample's own properties.
    out->SetSyncPoint(pIn->IsSyncPoint() == S_OK);
    out->SetPreroll(pIn->IsPreroll() == S_OK);
    out->SetDiscontinuity(pIn->IsDiscontinuity() == S_OK);
    const LONG length = pIn->GetActualDataLength();
    // A decoder's own frame may hold more than the picture (padded lines,
    // planes further apart); the output holds it in the default layout.
    LONG outLength = length;
    if (inHeader && inHeader->biSizeImage > 0 && length > LONG(inHeader->biSizeImage))
        outLength = std::min(length, out->GetSize());
    if (out->GetSize() < outLength)
        return E_OUTOFMEMORY;
    out->SetActualDataLength(outLength);
    if (!mediaTimesSet) {
        LONGLONG mStart, mStop;
        if (pIn->GetMediaTime(&mStart, &mStop) == S_OK)
            out->SetMediaTime(&mStart, &mStop);
    }

    // 7. The pixels.
    BYTE* inBytes = nullptr;
    BYTE* outBytes = nullptr;
    pIn->GetPointer(&inBytes);
    out->GetPointer(&outBytes);
    {
        std::lock_guard lock(m_csSettings);
        m_engine.SetStrides(InputStride(), OutputStride());
        if (m_engine.IsPlanar() || IsPlanarYuv(inType.subtype)) {
            CPlaneLayout inPlanes, outPlanes;
            size_t offset[4];
            LONG stride[4];
            inPlanes.count = std::min(InputPlanes(offset, stride), 3);
            for (int i = 0; i < inPlanes.count; ++i) {
                inPlanes.offset[i] = offset[i];
                inPlanes.stride[i] = stride[i];
            }
            outPlanes.count = std::min(OutputPlanes(offset, stride), 3);
            for (int i = 0; i < outPlanes.count; ++i) {
                outPlanes.offset[i] = offset[i];
                outPlanes.stride[i] = stride[i];
            }
            m_engine.SetPlaneLayouts(inPlanes, outPlanes);
        }
        m_engine.ProcessFrame(fieldIndex, out.Get(), inBytes, outBytes, length);
    }

    // 8. On its way.
    return Deliver(out);
}
