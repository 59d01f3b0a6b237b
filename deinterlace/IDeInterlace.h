#pragma once
// The deinterlace filter's interfaces and class id: how the player
// configures the filter in the graph and asks it for the output frame time.
#include "platform/com/Unknown.h"
#include "platform/dshow/MediaType.h"

inline constexpr CLSID CLSID_DeInterlace = MakeGuid("B3175432-8DCD-4BED-B1B0-B22FE9F547BE");

struct IDeInterlace : IUnknown {
    VA_INTERFACE_ID("D49EB41B-3A4B-4112-939D-26874DFF608D");
    // 0 none, 1 odd fields, 2 even fields, 3 and 4 double frame rate
    // (odd or even field first).
    virtual HRESULT GetMethod(DWORD* pMethod) = 0;
    // E_INVALIDARG above 4; takes effect at the next frame.
    virtual HRESULT SetMethod(DWORD method) = 0;
    virtual HRESULT GetInterpolation(DWORD* pInterpolation, DWORD* pSharpen) = 0;
    // E_INVALIDARG for an interpolation above 2 or a level above 5; a level
    // without interpolation 2 is stored as 0 and answered with S_FALSE.
    virtual HRESULT SetInterpolation(DWORD interpolation, DWORD sharpen) = 0;
    // S_FALSE for a pair SetInterpolation would not store as given.
    virtual HRESULT CheckInterpolation(DWORD interpolation, DWORD sharpen) = 0;
    // The output frame duration: the input's, halved for double rate.
    virtual HRESULT GetFrameTime(REFERENCE_TIME* pFrameTime) = 0;
    virtual HRESULT IsDoubleRate(BOOL* pDoubleRate) = 0;
    virtual HRESULT GetDiagnostics(DWORD* pValue) = 0;
    // E_INVALIDARG above 1; 1 draws the diagnostic text into every frame.
    virtual HRESULT SetDiagnostics(DWORD value) = 0;
};

struct IDeInterlaceConfig : IUnknown {
    VA_INTERFACE_ID("AC4AF107-46AC-4104-AEA3-235DDA6A9DD2");
    // Id 1 (keep the picture aspect ratio) with the values 0 and 1.
    virtual HRESULT GetConfig(DWORD id, DWORD* pValue) = 0;
    virtual HRESULT SetConfig(DWORD id, DWORD value) = 0;
};

constexpr DWORD kDeInterlaceConfigKeepAspect = 1;
