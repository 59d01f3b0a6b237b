// fuzz_deinterlace: arbitrary media types, settings and buffer lengths for
// the deinterlace engine. The buffers are allocated at exactly the lengths
// handed to ProcessFrame, so any read or write past them is a finding.
//
//   build-fuzz/fuzz/deinterlace/fuzz_deinterlace -max_total_time=60 -max_len=64
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "deinterlace/DeInterlaceEngine.h"
#include "deinterlace/DiagnosticsOverlay.h"

namespace {

class CReader {
public:
    CReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    template <class T>
    T Get() {
        T v{};
        size_t n = sizeof(T) < m_size - m_pos ? sizeof(T) : m_size - m_pos;
        std::memcpy(&v, m_data + m_pos, n);
        m_pos += n;
        return v;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

const GUID* const kSubtypes[] = {&MEDIASUBTYPE_YUY2,   &MEDIASUBTYPE_RGB24,  &MEDIASUBTYPE_RGB32,
                                 &MEDIASUBTYPE_ARGB32, &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB565,
                                 &MEDIASUBTYPE_UYVY,   &MEDIASUBTYPE_NV12,   &MEDIASUBTYPE_I420,
                                 &MEDIASUBTYPE_YV12};
constexpr uint8_t kSubtypeCount = sizeof kSubtypes / sizeof kSubtypes[0];

// Plane offsets and strides as a filter would hand them over.
CPlaneLayout ReadLayout(CReader& r) {
    CPlaneLayout layout;
    layout.count = r.Get<uint8_t>() % 4;
    for (int i = 0; i < 3; ++i) {
        layout.offset[i] = r.Get<uint16_t>();
        layout.stride[i] = r.Get<int16_t>();
    }
    return layout;
}

CMediaType MakeType(const GUID& subtype, bool info2, LONG width, LONG height, WORD bitCount,
                    REFERENCE_TIME avg) {
    CMediaType mt;
    mt.SetType(MEDIATYPE_Video);
    mt.SetSubtype(subtype);
    BITMAPINFOHEADER* bmi;
    if (info2) {
        mt.SetFormatType(FORMAT_VideoInfo2);
        auto* vih =
            reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
        vih->AvgTimePerFrame = avg;
        bmi = &vih->bmiHeader;
    } else {
        mt.SetFormatType(FORMAT_VideoInfo);
        auto* vih =
            reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        vih->AvgTimePerFrame = avg;
        bmi = &vih->bmiHeader;
    }
    bmi->biWidth = width;
    bmi->biHeight = height;
    bmi->biBitCount = bitCount;
    return mt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CReader r(data, size);
    const uint8_t flags = r.Get<uint8_t>();
    const GUID& inSubtype = *kSubtypes[r.Get<uint8_t>() % kSubtypeCount];
    const GUID& outSubtype = (flags & 1) ? *kSubtypes[r.Get<uint8_t>() % kSubtypeCount] : inSubtype;
    const LONG inWidth = r.Get<int16_t>(), inHeight = r.Get<int16_t>();
    const LONG outWidth = r.Get<int16_t>(), outHeight = r.Get<int16_t>();
    const WORD inBits = r.Get<uint8_t>(), outBits = (flags & 2) ? r.Get<uint8_t>() : inBits;
    const long inLength = r.Get<uint16_t>() * 4L, outLength = r.Get<uint16_t>() * 4L;

    CDeInterlaceEngine engine;
    if (flags & 4)
        engine.SetKernels(deint::ScalarKernels());
    engine.SetInputType(MakeType(inSubtype, flags & 8, inWidth, inHeight, inBits, 0));
    engine.SetOutputType(
        MakeType(outSubtype, flags & 16, outWidth, outHeight, outBits, r.Get<int32_t>()));
    engine.SetMethod(r.Get<uint8_t>() % 6);
    engine.SetInterpolation(r.Get<uint8_t>() % 4);
    engine.SetSharpen(r.Get<uint8_t>() % 7);
    if (flags & 32) {
        engine.SetDiagnostics(1);
        engine.SetOverlay(&CDiagnosticsOverlay::Instance());
    }
    const DWORD field = r.Get<uint8_t>() % 4;
    engine.FirstFieldAfterSegment(r.Get<int64_t>());

    std::vector<BYTE> in(static_cast<size_t>(inLength)), out(static_cast<size_t>(outLength));
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = BYTE(i * 131 + 7);
    CDeInterlaceSampleTimes times{(flags & 64) != 0, r.Get<int64_t>(), r.Get<int64_t>()};
    if (flags & 128) {
        CPlaneLayout inLayout = ReadLayout(r);
        engine.SetPlaneLayouts(inLayout, ReadLayout(r));
    }
    // Empty vectors may hand out null; the engine takes that as no buffer.
    engine.ProcessFrame(field, times, in.data(), out.data(), inLength, outLength);
    return 0;
}
