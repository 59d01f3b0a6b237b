#pragma once
// CDeInterlace: the transform filter the player splices in front of the
// video renderer. Every input frame goes through CDeInterlaceEngine; the
// double-rate methods deliver two output frames per input frame, each
// showing one field for half the frame's time.
#include <atomic>

#include "deinterlace/DeInterlaceEngine.h"
#include "deinterlace/IDeInterlace.h"
#include "platform/dshow/TransformFilter.h"
#include "platform/sync/Sync.h"

class CDeInterlace : public CTransformFilter,
                     public IDeInterlace,
                     public IDeInterlaceConfig,
                     public IPersistStream {
public:
    CDeInterlace();
    ~CDeInterlace() override;

    // Bit depth of the screen the RGB formats are chosen for (this build
    // shows frames through its own renderer: 32 bits).
    static constexpr int kScreenDepth = 32;
    // Bytes of the persisted settings.
    static constexpr uint64_t kStreamSize = 36;

    // ---- IUnknown (one object)
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        return CTransformFilter::QueryInterface(riid, ppv);
    }
    ULONG AddRef() override { return CTransformFilter::AddRef(); }
    ULONG Release() override { return CTransformFilter::Release(); }
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // ---- IDeInterlace
    HRESULT GetMethod(DWORD* pMethod) override;
    HRESULT SetMethod(DWORD method) override;
    HRESULT GetInterpolation(DWORD* pInterpolation, DWORD* pSharpen) override;
    HRESULT SetInterpolation(DWORD interpolation, DWORD sharpen) override;
    HRESULT CheckInterpolation(DWORD interpolation, DWORD sharpen) override;
    HRESULT GetFrameTime(REFERENCE_TIME* pFrameTime) override;
    HRESULT IsDoubleRate(BOOL* pDoubleRate) override;
    HRESULT GetDiagnostics(DWORD* pValue) override;
    HRESULT SetDiagnostics(DWORD value) override;

    // ---- IDeInterlaceConfig
    HRESULT GetConfig(DWORD id, DWORD* pValue) override;
    HRESULT SetConfig(DWORD id, DWORD value) override;

    // ---- IPersistStream
    HRESULT GetClassID(CLSID* pClassID) override { return CTransformFilter::GetClassID(pClassID); }
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream* pStm) override;
    HRESULT Save(IStream* pStm, BOOL fClearDirty) override;
    HRESULT GetSizeMax(uint64_t* pcbSize) override;

    // ---- the transform
    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pReceivePin) override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    // The engine, for tests that look at its state (take the settings lock).
    CDeInterlaceEngine& Engine() { return m_engine; }
    CCriticalSection& SettingsLock() { return m_csSettings; }

private:
    class CInputPin;
    class COutputPin;

    HRESULT ProduceFrame(DWORD fieldIndex, IMediaSample* pIn);
    // The compatibility part of CheckTransform (without CheckInputType).
    static bool Compatible(const CMediaType& in, const CMediaType& out);
    int ScreenDepth();

    CDeInterlaceEngine m_engine;
    CCriticalSection m_csSettings;
    DWORD m_requestedMethod = 0;
    bool m_formatChangePending = false;
    DWORD m_firstField = 0;
    DWORD m_keepAspect = 0;
    std::atomic<int> m_screenDepth{0};
};
