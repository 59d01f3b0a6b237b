#pragma once
// Media types and frames for the deinterlacer's tests.
#include <cstdint>
#include <random>
#include <vector>

#include "platform/dshow/MediaType.h"

namespace deint_test {

inline int BitCountOf(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_RGB24)
        return 24;
    if (subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_ARGB32)
        return 32;
    if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_YV12 ||
        subtype == MEDIASUBTYPE_NV12)
        return 12;
    return 16;
}

// A video type of the given subtype, bitmap width and (signed) height.
inline CMediaType MakeVideoType(const GUID& subtype, LONG width, LONG height,
                                REFERENCE_TIME avgTimePerFrame = 0, bool info2 = false) {
    CMediaType mt;
    mt.SetType(MEDIATYPE_Video);
    mt.SetSubtype(subtype);
    BITMAPINFOHEADER* bmi;
    RECT rect{0, 0, width, height < 0 ? -height : height};
    if (info2 || subtype == MEDIASUBTYPE_YUY2) {
        mt.SetFormatType(FORMAT_VideoInfo2);
        auto* vih =
            reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
        *vih = VIDEOINFOHEADER2{};
        vih->rcSource = vih->rcTarget = rect;
        vih->AvgTimePerFrame = avgTimePerFrame;
        bmi = &vih->bmiHeader;
    } else {
        mt.SetFormatType(FORMAT_VideoInfo);
        auto* vih =
            reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        *vih = VIDEOINFOHEADER{};
        vih->rcSource = vih->rcTarget = rect;
        vih->AvgTimePerFrame = avgTimePerFrame;
        bmi = &vih->bmiHeader;
    }
    bmi->biWidth = width;
    bmi->biHeight = height;
    bmi->biBitCount = WORD(BitCountOf(subtype));
    bmi->biCompression = subtype == MEDIASUBTYPE_YUY2 ? MakeFourCC('Y', 'U', 'Y', '2') : BI_RGB;
    mt.lSampleSize = ULONG(width * (height < 0 ? -height : height) * bmi->biBitCount / 8);
    return mt;
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = uint8_t(rng());
    return v;
}

}  // namespace deint_test
