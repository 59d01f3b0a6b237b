#include "deinterlace/DeInterlaceEngine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "deinterlace/SubtypeNames.h"

using deint::EPixelFormat;

namespace {

// The rectangles and frame time sit at the same offsets in both video formats.
const VIDEOINFOHEADER* VideoInfo(const CMediaType& mt) {
    if (!mt.BitmapHeader())
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format());
}

// Bits per pixel of each format the kernels step through; 0 for the rest.
int BitCountOf(EPixelFormat format) {
    switch (format) {
        case EPixelFormat::Yuy2:
        case EPixelFormat::Rgb555:
        case EPixelFormat::Rgb565:
            return 16;
        case EPixelFormat::Rgb24:
            return 24;
        case EPixelFormat::Rgb32:
        case EPixelFormat::Argb32:
            return 32;
        case EPixelFormat::I420:
        case EPixelFormat::Nv12:
            return 12;
        case EPixelFormat::Other:
            break;
    }
    return 0;
}

EPixelFormat FormatOf(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_YUY2)
        return EPixelFormat::Yuy2;
    if (subtype == MEDIASUBTYPE_RGB24)
        return EPixelFormat::Rgb24;
    if (subtype == MEDIASUBTYPE_RGB32)
        return EPixelFormat::Rgb32;
    if (subtype == MEDIASUBTYPE_ARGB32)
        return EPixelFormat::Argb32;
    if (subtype == MEDIASUBTYPE_RGB555)
        return EPixelFormat::Rgb555;
    if (subtype == MEDIASUBTYPE_RGB565)
        return EPixelFormat::Rgb565;
    if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_YV12)
        return EPixelFormat::I420;
    if (subtype == MEDIASUBTYPE_NV12)
        return EPixelFormat::Nv12;
    return EPixelFormat::Other;
}

bool IsPlanarFormat(EPixelFormat format) {
    return format == EPixelFormat::I420 || format == EPixelFormat::Nv12;
}

int64_t RoundUp4(int64_t v) {
    return (v + 3) & ~int64_t(3);
}

}  // namespace

CDeInterlaceEngine::CDeInterlaceEngine() : m_kernels(&deint::FastKernels()) {
    SelectFunctions();
}

int CDeInterlaceEngine::SubtypeBitCount(const GUID& subtype) {
    return BitCountOf(FormatOf(subtype));
}

bool CDeInterlaceEngine::IsConsistentType(const AM_MEDIA_TYPE& mt) {
    const BITMAPINFOHEADER* bmi = nullptr;
    if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        bmi = &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    else if (mt.formattype == FORMAT_VideoInfo2 && mt.pbFormat &&
             mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        bmi = &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    if (!bmi)
        return true;
    const int bits = SubtypeBitCount(mt.subtype);
    return bits == 0 || bmi->biBitCount == bits;
}

HRESULT CDeInterlaceEngine::SetInputType(const AM_MEDIA_TYPE& mt) {
    if (!IsConsistentType(mt))
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_inputType = mt;
    UpdateGeometry();
    return S_OK;
}

HRESULT CDeInterlaceEngine::SetOutputType(const AM_MEDIA_TYPE& mt) {
    if (!IsConsistentType(mt))
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_outputType = mt;
    const VIDEOINFOHEADER* vih = VideoInfo(m_outputType);
    m_hasFrameTime = vih && vih->AvgTimePerFrame > 0;
    UpdateGeometry();
    return S_OK;
}

void CDeInterlaceEngine::SetStrides(long inStride, long outStride) {
    inStride = inStride > 0 ? inStride : 0;
    outStride = outStride > 0 ? outStride : 0;
    if (inStride == m_inStride && outStride == m_outStride)
        return;
    m_inStride = inStride;
    m_outStride = outStride;
    UpdateGeometry();
}

void CDeInterlaceEngine::SetPlaneLayouts(const CPlaneLayout& in, const CPlaneLayout& out) {
    auto same = [](const CPlaneLayout& a, const CPlaneLayout& b) {
        if (a.count != b.count)
            return false;
        for (int i = 0; i < 3; ++i)
            if (a.offset[i] != b.offset[i] || a.stride[i] != b.stride[i])
                return false;
        return true;
    };
    if (same(in, m_inLayout) && same(out, m_outLayout))
        return;
    m_inLayout = in;
    m_outLayout = out;
    UpdateGeometry();
}

// The planes of one side; 0 when the header gives no frame. Each plane's
// lines hold its samples: the layout as set when it has every plane with
// such lines, else the default one.
int CDeInterlaceEngine::PlanesOf(const BITMAPINFOHEADER* bmi, const CPlaneLayout& layout,
                                 CPlane planes[3]) const {
    if (!bmi || bmi->biWidth <= 0 || bmi->biHeight == 0)
        return 0;
    const int64_t w = bmi->biWidth;
    const int64_t h = bmi->biHeight < 0 ? -int64_t(bmi->biHeight) : bmi->biHeight;
    const int64_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    const bool nv12 = m_outFormat == EPixelFormat::Nv12;
    const int count = nv12 ? 2 : 3;
    planes[0] = {0, 0, w, h};
    planes[1] = {0, 0, nv12 ? 2 * cw : cw, ch};
    planes[2] = {0, 0, cw, ch};
    bool given = layout.count >= count;
    for (int i = 0; given && i < count; ++i)
        given = layout.stride[i] >= planes[i].rowBytes && layout.offset[i] <= size_t(INT64_MAX / 2);
    if (given) {
        for (int i = 0; i < count; ++i) {
            planes[i].offset = int64_t(layout.offset[i]);
            planes[i].stride = layout.stride[i];
        }
    } else {
        // GStreamer's default layout of a progressive frame.
        planes[0].stride = RoundUp4(w);
        planes[1].stride = nv12 ? planes[0].stride : RoundUp4(cw);
        planes[2].stride = planes[1].stride;
        planes[1].offset = planes[0].stride * (h + (h & 1));
        planes[2].offset = planes[1].offset + planes[1].stride * ch;
    }
    return count;
}

void CDeInterlaceEngine::SetMethod(DWORD method) {
    if (method > kMaxMethod || method == m_method)
        return;
    m_method = method;
    SelectFunctions();
}

void CDeInterlaceEngine::SetInterpolation(DWORD interpolation) {
    if (interpolation > kMaxInterpolation || interpolation == m_interpolation)
        return;
    m_interpolation = interpolation;
    SelectFunctions();
}

void CDeInterlaceEngine::SetSharpen(DWORD level) {
    if (level > kMaxSharpen || level == m_sharpen)
        return;
    m_sharpen = level;
    SelectFunctions();
}

void CDeInterlaceEngine::SetDiagnostics(DWORD diagnostics) {
    if (diagnostics > kMaxDiagnostics)
        return;
    m_diagnostics = diagnostics;
}

void CDeInterlaceEngine::SetKernels(const deint::CKernelSet& kernels) {
    m_kernels = &kernels;
    SelectFunctions();
}

void CDeInterlaceEngine::UpdateGeometry() {
    const BITMAPINFOHEADER* in = m_inputType.BitmapHeader();
    const BITMAPINFOHEADER* out = m_outputType.BitmapHeader();
    m_inWidth = in ? in->biWidth : 0;
    m_inHeight = in ? (in->biHeight < 0 ? -int64_t(in->biHeight) : in->biHeight) : 0;
    m_outWidth = out ? out->biWidth : 0;
    m_outHeight = out ? out->biHeight : 0;
    m_outFormat = FormatOf(m_outputType.subtype);
    // Line sizes and the pixel step both come from the subtype where the
    // kernels know it; the bit count is used only for the other subtypes.
    int inBits = in ? BitCountOf(FormatOf(m_inputType.subtype)) : 0;
    if (in && inBits == 0)
        inBits = in->biBitCount;
    int outBits = BitCountOf(m_outFormat);
    if (out && outBits == 0)
        outBits = out->biBitCount;
    m_inRowBytes = in ? int64_t(inBits) * in->biWidth / 8 : 0;
    m_outRowBytes = out ? int64_t(outBits) * out->biWidth / 8 : 0;
    m_inLineSize = m_inStride > m_inRowBytes ? m_inStride : m_inRowBytes;
    m_outLineSize = m_outStride > m_outRowBytes ? m_outStride : m_outRowBytes;
    m_bytesPerPixel = BitCountOf(m_outFormat) / 8;
    // Planar frames are deinterlaced plane by plane, each plane's lines as
    // the layout places them; a planar output fed another format is only
    // copied line by line like any format the kernels do not know.
    m_planar = IsPlanarFormat(m_outFormat) && in && FormatOf(m_inputType.subtype) == m_outFormat;
    m_planeCount = 0;
    if (m_planar) {
        m_planeCount = PlanesOf(in, m_inLayout, m_inPlanes);
        if (m_planeCount == 0 || PlanesOf(out, m_outLayout, m_outPlanes) != m_planeCount) {
            m_planar = false;
            m_planeCount = 0;
        } else {
            m_inRowBytes = m_inPlanes[0].rowBytes;
            m_outRowBytes = m_outPlanes[0].rowBytes;
            m_inLineSize = m_inPlanes[0].stride;
            m_outLineSize = m_outPlanes[0].stride;
            m_bytesPerPixel = 1;
        }
    }
    // YUV frames lie top-down whatever the sign of their height.
    const bool yuv = m_outFormat == EPixelFormat::Yuy2 || IsPlanarFormat(m_outFormat);
    bool heightsDiffer = in && out && in->biHeight != out->biHeight;
    m_flip = heightsDiffer && !yuv;
    m_swap = heightsDiffer && yuv;
    SelectFunctions();
}

void CDeInterlaceEngine::SelectFunctions() {
    const FrameProc odd = &CDeInterlaceEngine::OddField;
    const FrameProc even = &CDeInterlaceEngine::EvenField;
    m_secondProc = nullptr;
    switch (m_method) {
        case 0: {
            bool samePlanes = true;
            for (int i = 0; i < m_planeCount; ++i)
                samePlanes = samePlanes && m_inPlanes[i].offset == m_outPlanes[i].offset &&
                             m_inPlanes[i].stride == m_outPlanes[i].stride;
            m_firstProc =
                (m_flip || m_inWidth != m_outWidth || m_inLineSize != m_outLineSize || !samePlanes)
                    ? &CDeInterlaceEngine::CopyLines
                    : &CDeInterlaceEngine::CopyBlock;
            break;
        }
        case 1:
            m_firstProc = odd;
            break;
        case 2:
            m_firstProc = even;
            break;
        case 3:
            m_firstProc = m_swap ? even : odd;
            m_secondProc = m_swap ? odd : even;
            break;
        default:
            m_firstProc = m_swap ? odd : even;
            m_secondProc = m_swap ? even : odd;
            break;
    }

    m_interpolate = nullptr;
    m_copyInterpolate = nullptr;
    m_sharpenPass = nullptr;
    if (m_method == 0 || m_interpolation == 0)
        return;
    const deint::CKernelSet& k = *m_kernels;
    switch (m_outFormat) {
        case EPixelFormat::Yuy2:
            m_interpolate = k.averageYuy2;
            m_copyInterpolate = k.copyAverageYuy2;
            m_sharpenPass = k.sharpenYuy2;
            break;
        case EPixelFormat::Rgb24:
            m_interpolate = k.averageRgb24;
            m_copyInterpolate = k.copyAverageRgb24;
            m_sharpenPass = k.sharpen3Byte;
            break;
        case EPixelFormat::Rgb32:
            m_interpolate = k.averageRgb32;
            m_copyInterpolate = k.copyAverageRgb32;
            m_sharpenPass = k.sharpen4Byte;
            break;
        case EPixelFormat::Argb32:
            m_interpolate = k.averageArgb32;
            m_copyInterpolate = k.copyAverageArgb32;
            m_sharpenPass = k.sharpen4Byte;
            break;
        case EPixelFormat::Rgb555:
            m_interpolate = k.average555;
            m_copyInterpolate = k.copyAverage555;
            m_sharpenPass = k.sharpen555;
            break;
        case EPixelFormat::Rgb565:
            m_interpolate = k.average565;
            m_copyInterpolate = k.copyAverage565;
            m_sharpenPass = k.sharpen565;
            break;
        case EPixelFormat::I420:
        case EPixelFormat::Nv12:
            // Every plane is averaged byte by byte; planar frames are not sharpened.
            if (m_planar) {
                m_interpolate = k.averagePlane;
                m_copyInterpolate = k.copyAveragePlane;
            }
            break;
        case EPixelFormat::Other:
            break;
    }
    if (!IsSharpening())
        m_sharpenPass = nullptr;
}

// Fits the frame's geometry to the two buffers. The procedures then touch
// input lines [0, height) and output lines [0, height), lineBytes each.
CDeInterlaceEngine::CFrame CDeInterlaceEngine::FitFrame(const BYTE* in, BYTE* out, long length,
                                                        long outSize) const {
    CFrame f;
    if (!in || !out || length <= 0 || outSize <= 0)
        return f;
    f.in = in;
    f.out = out;
    f.blockBytes = size_t(std::min(length, outSize));
    if (m_inWidth <= 0 || m_inHeight <= 0 || m_inRowBytes <= 0 || m_outRowBytes <= 0)
        return f;
    // A line is read and written up to its pixels; the padding after the
    // last line need not be there.
    int64_t lineBytes = std::min(m_inRowBytes, m_outRowBytes);
    int64_t inLines = length >= lineBytes ? (length - lineBytes) / m_inLineSize + 1 : 0;
    int64_t outLines = outSize >= lineBytes ? (outSize - lineBytes) / m_outLineSize + 1 : 0;
    int64_t height = std::min<int64_t>({m_inHeight, inLines, outLines});
    if (height <= 0)
        return f;
    f.lineBytes = size_t(lineBytes);
    f.inStep = ptrdiff_t(m_inLineSize);
    f.height = int(height);
    f.width = 0;
    if (m_bytesPerPixel > 0)
        f.width = int(std::min<int64_t>(m_inWidth, lineBytes / m_bytesPerPixel));
    if (m_flip) {
        int64_t linesInOut = std::min<int64_t>(m_inHeight, outLines);
        f.out = out + (linesInOut - 1) * m_outLineSize;
        f.outStep = -ptrdiff_t(m_outLineSize);
    } else {
        f.outStep = ptrdiff_t(m_outLineSize);
    }
    return f;
}

// One plane of a planar frame, fitted to the buffers like a whole frame.
CDeInterlaceEngine::CFrame CDeInterlaceEngine::FitPlane(int plane, const BYTE* in, BYTE* out,
                                                        long length, long outSize) const {
    CFrame f;
    if (!in || !out || length <= 0 || outSize <= 0)
        return f;
    const CPlane& ip = m_inPlanes[plane];
    const CPlane& op = m_outPlanes[plane];
    const int64_t lineBytes = std::min(ip.rowBytes, op.rowBytes);
    if (lineBytes <= 0 || ip.stride <= 0 || op.stride <= 0)
        return f;
    auto linesIn = [lineBytes](int64_t size, const CPlane& p) -> int64_t {
        if (p.offset > size - lineBytes)
            return 0;
        return (size - p.offset - lineBytes) / p.stride + 1;
    };
    const int64_t height = std::min({ip.lines, linesIn(length, ip), linesIn(outSize, op)});
    if (height <= 0)
        return f;
    f.in = in + ip.offset;
    f.out = out + op.offset;
    f.inStep = ptrdiff_t(ip.stride);
    f.outStep = ptrdiff_t(op.stride);
    f.lineBytes = size_t(lineBytes);
    f.width = int(std::min<int64_t>(lineBytes, INT32_MAX));
    f.height = int(height);
    return f;
}

HRESULT CDeInterlaceEngine::ProcessFrame(DWORD fieldIndex, const CDeInterlaceSampleTimes& times,
                                         const BYTE* in, BYTE* out, long length, long outSize) {
    FrameProc proc = fieldIndex == 2 ? m_secondProc : (fieldIndex < 2 ? m_firstProc : nullptr);
    if (proc && m_planar && proc != &CDeInterlaceEngine::CopyBlock) {
        for (int p = 0; p < m_planeCount; ++p) {
            CFrame f = FitPlane(p, in, out, length, outSize);
            if (f.out)
                (this->*proc)(f);
        }
    } else {
        CFrame f = FitFrame(in, out, length, outSize);
        if (proc && f.out)
            (this->*proc)(f);
    }
    if (m_diagnostics && out && outSize > 0)
        DrawDiagnostics(fieldIndex, times, out, outSize);
    return S_OK;
}

void CDeInterlaceEngine::CopyBlock(const CFrame& f) {
    std::memcpy(f.out, f.in, f.blockBytes);
}

void CDeInterlaceEngine::CopyLines(const CFrame& f) {
    for (int y = 0; y < f.height; ++y)
        CopyLine(f, y, y);
}

void CDeInterlaceEngine::CopyLine(const CFrame& f, int inLine, int outLine) const {
    std::memcpy(f.out + outLine * f.outStep, f.in + inLine * f.inStep, f.lineBytes);
}

// Keeps input lines 0, 2, 4, ...; the lines between are interpolated from
// their neighbours where both exist, else copies of the line above.
void CDeInterlaceEngine::OddField(const CFrame& f) {
    const int h = f.height;
    int d = 0;
    if (m_interpolate && h >= 3) {
        int reps = (h - 3) / 2 + 1;
        for (int r = 0; r < reps; ++r, d += 2)
            CopyAndInterpolate(f, d);
    }
    if (d < h - 1) {
        int reps = (h - d - 2) / 2 + 1;
        for (int r = 0; r < reps; ++r, d += 2) {
            CopyLine(f, d, d);
            CopyLine(f, d, d + 1);
        }
        if (h % 2 == 1)
            CopyLine(f, d, d);
    } else if (h == d + 1) {
        CopyLine(f, d, d);
    }
    Sharpen(f);
}

// Keeps input line 0 and the lines 1, 3, 5, ...; the lines between are
// interpolated where both neighbours exist, else copies of the line above.
void CDeInterlaceEngine::EvenField(const CFrame& f) {
    const int h = f.height;
    CopyLine(f, 0, 0);
    int d = 1;
    if (m_interpolate && h >= 4) {
        int reps = (h - 4) / 2 + 1;
        for (int r = 0; r < reps; ++r, d += 2)
            CopyAndInterpolate(f, d);
    }
    if (d < h - 1) {
        int reps = (h - d - 2) / 2 + 1;
        for (int r = 0; r < reps; ++r, d += 2) {
            CopyLine(f, d, d);
            CopyLine(f, d, d + 1);
        }
    }
    if (h == d + 1)
        CopyLine(f, d, d);
    Sharpen(f);
}

// Copies input line 'line' and writes the interpolation of it and the line
// two below into the next output line.
void CDeInterlaceEngine::CopyAndInterpolate(const CFrame& f, int line) const {
    m_copyInterpolate(f.in + line * f.inStep, f.in + (line + 2) * f.inStep,
                      f.out + line * f.outStep, f.lineBytes, f.out + (line + 1) * f.outStep,
                      f.width);
}

void CDeInterlaceEngine::Sharpen(const CFrame& f) const {
    if (m_sharpenPass && f.width > 0)
        m_sharpenPass(f.out, f.outStep, f.width, f.height, int(m_sharpen));
}

DWORD CDeInterlaceEngine::FirstFieldAfterSegment(REFERENCE_TIME tStart) {
    if (!IsDoubleRate())
        return 0;
    const BITMAPINFOHEADER* bmi = m_outputType.BitmapHeader();
    VIDEOINFOHEADER* vih =
        bmi ? reinterpret_cast<VIDEOINFOHEADER*>(m_outputType.Format()) : nullptr;
    REFERENCE_TIME t = vih ? vih->AvgTimePerFrame : 0;
    if (t <= 0) {
        if (!bmi || bmi->biWidth != 720)
            return 0;
        LONG h = bmi->biHeight;
        if (h == 576 || h == -576)
            t = 200000;  // 50 fields per second
        else if (h == 480 || h == -480)
            t = 166834;  // 59.94 fields per second
        else
            return 0;
        // The bitmap header follows the frame time in both formats, so this
        // writes AvgTimePerFrame of either.
        vih->AvgTimePerFrame = t;
    }
    if (t > INT64_MAX / 2)
        return 1;
    REFERENCE_TIME r = tStart % (2 * t);
    if (r < 0)
        r += 2 * t;
    return r >= t ? 2 : 1;
}

std::string CDeInterlaceEngine::DiagnosticText(DWORD fieldIndex,
                                               const CDeInterlaceSampleTimes& times) const {
    const VIDEOINFOHEADER* vih = VideoInfo(m_outputType);
    const BITMAPINFOHEADER* bmi = m_outputType.BitmapHeader();
    RECT src, dst;
    REFERENCE_TIME avg = 0;
    if (vih) {
        src = vih->rcSource;
        dst = vih->rcTarget;
        avg = vih->AvgTimePerFrame;
    }
    double start = times.valid ? double(times.start) / 10000000.0 : 0.0;
    double stop = times.valid ? double(times.stop) / 10000000.0 : 0.0;
    char text[1024];
    int n = std::snprintf(text, sizeof text,
                          "start/stop: [%.03lf - %.03lf]\nmedia sub type: %s\nsize: %d x %d\n"
                          "souce rect: %ld, %ld, %ld, %ld\ntarget rect: %ld, %ld, %ld, %ld\n"
                          "avg frame time: %d ms",
                          start, stop, deint::SubtypeName(m_outputType.subtype),
                          bmi ? int(bmi->biWidth) : 0, bmi ? int(bmi->biHeight) : 0, long(src.left),
                          long(src.top), long(src.right), long(src.bottom), long(dst.left),
                          long(dst.top), long(dst.right), long(dst.bottom), int(avg / 10000));
    if (n < 0)
        return {};
    std::string result(text, std::min<size_t>(size_t(n), sizeof text - 1));
    if (result.size() >= sizeof text - 32 || (m_method == 0 && fieldIndex == 0))
        return result;
    result += "\nfield: ";
    if (fieldIndex != 0)
        result += std::to_string(fieldIndex) + " ";
    switch (m_method) {
        case 1:
            result += "odd";
            break;
        case 2:
            result += "even";
            break;
        case 3:
            result += fieldIndex == 1 ? "odd" : "even";
            break;
        case 4:
            result += fieldIndex == 2 ? "odd" : "even";
            break;
        default:
            break;
    }
    return result;
}

void CDeInterlaceEngine::DrawDiagnostics(DWORD fieldIndex, const CDeInterlaceSampleTimes& times,
                                         BYTE* out, long outSize) const {
    if (!m_overlay || m_outFormat == EPixelFormat::Yuy2 || m_outFormat == EPixelFormat::Other ||
        IsPlanarFormat(m_outFormat))
        return;
    if (m_outWidth <= 0 || m_outHeight == 0 || m_outLineSize <= 0)
        return;
    deint::COverlayFrame frame;
    frame.data = out;
    frame.size = size_t(outSize);
    frame.width = int(m_outWidth);
    frame.height =
        int(std::min<int64_t>(m_outHeight < 0 ? -int64_t(m_outHeight) : m_outHeight, INT32_MAX));
    frame.lineSize = ptrdiff_t(m_outLineSize);
    frame.bottomUp = m_outHeight > 0;
    frame.format = m_outFormat;
    m_overlay->DrawText(DiagnosticText(fieldIndex, times), frame);
}
