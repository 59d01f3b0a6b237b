#pragma once
// CDeInterlaceEngine: the pixel core of the deinterlace filter. It turns one
// interlaced frame into one progressive frame made of a single field, with
// the missing lines doubled or interpolated and the result optionally
// sharpened, and picks the first field shown after a new segment when the
// frame rate is doubled. Pure computation on byte buffers; the filter feeds
// it media types, settings and, per output frame, the buffers.
#include <cstddef>
#include <string>

#include "deinterlace/DeInterlaceKernels.h"
#include "deinterlace/DeInterlaceOverlay.h"
#include "platform/dshow/MediaType.h"

// Where the planes of a planar frame (I420, YV12, NV12) lie in its buffer:
// the byte offset and the line stride of each. A count of 0 stands for the
// layout GStreamer gives such a frame by default (lines padded to 4 bytes,
// planes one after the other).
struct CPlaneLayout {
    int count = 0;
    size_t offset[3] = {0, 0, 0};
    long stride[3] = {0, 0, 0};
};

// The times of the output sample, shown by the diagnostic text.
struct CDeInterlaceSampleTimes {
    bool valid = false;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
};

class CDeInterlaceEngine {
public:
    static constexpr DWORD kMaxMethod = 4;
    static constexpr DWORD kMaxInterpolation = 2;
    static constexpr DWORD kMaxSharpen = 5;
    static constexpr DWORD kMaxDiagnostics = 1;

    CDeInterlaceEngine();

    // Whether the engine can take the type: a video type whose bitmap header
    // gives the bit count its subtype packs pixels with (any bit count for
    // the subtypes it only copies lines of). Types without a bitmap header
    // are taken; they describe no frame.
    static bool IsConsistentType(const AM_MEDIA_TYPE& mt);
    // Bits per pixel of the subtypes the kernels know, 0 for others.
    static int SubtypeBitCount(const GUID& subtype);

    // Media types: a copy of each is kept with its bitmap header. A type
    // that is not consistent is refused (VFW_E_TYPE_NOT_ACCEPTED) and the
    // engine keeps the type it had.
    HRESULT SetInputType(const AM_MEDIA_TYPE& mt);
    HRESULT SetOutputType(const AM_MEDIA_TYPE& mt);
    const CMediaType& InputType() const { return m_inputType; }
    const CMediaType& OutputType() const { return m_outputType; }

    // Bytes from one line to the next in the input and the output frame, for
    // frames whose lines are padded (RGB lines usually are, to 4 bytes). 0,
    // or a stride shorter than a line's pixels, means lines follow each
    // other directly (bit count × width / 8 bytes).
    void SetStrides(long inStride, long outStride);
    long InputStride() const { return long(m_inLineSize); }
    long OutputStride() const { return long(m_outLineSize); }
    // The planes of planar input and output frames; a layout with too few
    // planes for the format, or strides shorter than a plane's lines, stands
    // for the default layout.
    void SetPlaneLayouts(const CPlaneLayout& in, const CPlaneLayout& out);
    // Whether input and output are the same planar format, deinterlaced
    // plane by plane.
    bool IsPlanar() const { return m_planar; }

    // Settings; a setter ignores a value outside its range.
    DWORD GetMethod() const { return m_method; }
    void SetMethod(DWORD method);
    DWORD GetInterpolation() const { return m_interpolation; }
    void SetInterpolation(DWORD interpolation);
    DWORD GetSharpen() const { return m_sharpen; }
    void SetSharpen(DWORD level);
    DWORD GetDiagnostics() const { return m_diagnostics; }
    void SetDiagnostics(DWORD diagnostics);

    bool IsDoubleRate() const { return m_method > 2; }
    bool IsSharpening() const { return m_interpolation == 2 && m_sharpen > 0; }

    // Geometry derived from the media types.
    bool IsFlipped() const { return m_flip; }
    bool IsSwapped() const { return m_swap; }
    // The output format's AvgTimePerFrame was above 0 when the type was set.
    bool HasFrameTime() const { return m_hasFrameTime; }

    // Turns the frame at 'in' ('length' bytes) into the output frame at
    // 'out' ('outSize' bytes) for field index 0, 1 or 2, then draws the
    // diagnostic text when that is on. Never touches a byte outside the two
    // buffers: when the geometry asks for more than they hold, only the lines
    // and pixels that fit are processed. Always S_OK.
    HRESULT ProcessFrame(DWORD fieldIndex, const CDeInterlaceSampleTimes& times, const BYTE* in,
                         BYTE* out, long length, long outSize);
    // The same for an output media sample: its times and its size are read
    // from it (any class with IMediaSample's GetTime and GetSize).
    template <class TSample>
    HRESULT ProcessFrame(DWORD fieldIndex, TSample* outSample, const BYTE* in, BYTE* out,
                         long length) {
        CDeInterlaceSampleTimes times;
        long outSize = 0;
        if (outSample) {
            times.valid = SUCCEEDED(outSample->GetTime(&times.start, &times.stop));
            if (!times.valid)
                times.start = times.stop = 0;
            outSize = outSample->GetSize();
        }
        return ProcessFrame(fieldIndex, times, in, out, length, outSize);
    }

    // The field index for the first frame of a segment starting at tStart:
    // 0 unless double rate, else 1 or 2 by where tStart falls in the frame.
    DWORD FirstFieldAfterSegment(REFERENCE_TIME tStart);

    // The diagnostic text for an output frame with these times and index.
    std::string DiagnosticText(DWORD fieldIndex, const CDeInterlaceSampleTimes& times) const;

    // Who draws the diagnostic text; none draws nothing. Not owned.
    void SetOverlay(deint::IDeInterlaceOverlay* overlay) { m_overlay = overlay; }
    // The kernels used (the fast set by default); both give the same bytes.
    void SetKernels(const deint::CKernelSet& kernels);

private:
    // Where the frame procedures read and write, fitted to the buffers.
    struct CFrame {
        const BYTE* in = nullptr;
        BYTE* out = nullptr;    // output line 0 (the last line in memory when flipped)
        ptrdiff_t inStep = 0;   // input line size
        ptrdiff_t outStep = 0;  // output line size, negative when flipped
        size_t lineBytes = 0;   // bytes copied per line
        int width = 0;          // pixels interpolated and sharpened per line
        int height = 0;         // lines processed
        size_t blockBytes = 0;  // bytes of a whole-frame copy
    };
    using FrameProc = void (CDeInterlaceEngine::*)(const CFrame&);

    // One plane of a planar frame: where it starts, its line step, the
    // bytes of one line's samples and its lines.
    struct CPlane {
        int64_t offset = 0;
        int64_t stride = 0;
        int64_t rowBytes = 0;
        int64_t lines = 0;
    };

    void UpdateGeometry();
    void SelectFunctions();
    CFrame FitFrame(const BYTE* in, BYTE* out, long length, long outSize) const;
    CFrame FitPlane(int plane, const BYTE* in, BYTE* out, long length, long outSize) const;
    int PlanesOf(const BITMAPINFOHEADER* bmi, const CPlaneLayout& layout, CPlane planes[3]) const;

    void CopyBlock(const CFrame& f);
    void CopyLines(const CFrame& f);
    void OddField(const CFrame& f);
    void EvenField(const CFrame& f);
    void CopyLine(const CFrame& f, int inLine, int outLine) const;
    void CopyAndInterpolate(const CFrame& f, int line) const;
    void Sharpen(const CFrame& f) const;
    void DrawDiagnostics(DWORD fieldIndex, const CDeInterlaceSampleTimes& times, BYTE* out,
                         long outSize) const;

    CMediaType m_inputType;
    CMediaType m_outputType;
    DWORD m_method = 0;
    DWORD m_interpolation = 0;
    DWORD m_sharpen = 0;
    DWORD m_diagnostics = 0;

    // Geometry.
    LONG m_inWidth = 0;
    int64_t m_inHeight = 0;  // absolute
    LONG m_outWidth = 0;
    LONG m_outHeight = 0;      // signed, as in the output header
    int64_t m_inRowBytes = 0;  // bytes of one line's pixels
    int64_t m_outRowBytes = 0;
    int64_t m_inLineSize = 0;  // bytes from one line to the next
    int64_t m_outLineSize = 0;
    long m_inStride = 0;  // as set; 0 = packed
    long m_outStride = 0;
    bool m_planar = false;
    int m_planeCount = 0;
    CPlaneLayout m_inLayout;  // as set
    CPlaneLayout m_outLayout;
    CPlane m_inPlanes[3];
    CPlane m_outPlanes[3];
    int m_bytesPerPixel = 0;  // output pixel size of the subtypes the kernels know, else 0
    bool m_flip = false;
    bool m_swap = false;
    bool m_hasFrameTime = false;
    deint::EPixelFormat m_outFormat = deint::EPixelFormat::Other;

    // Selected functions.
    FrameProc m_firstProc = nullptr;
    FrameProc m_secondProc = nullptr;
    deint::LineInterpolator m_interpolate = nullptr;
    deint::CopyInterpolator m_copyInterpolate = nullptr;
    deint::SharpenPass m_sharpenPass = nullptr;

    const deint::CKernelSet* m_kernels;
    deint::IDeInterlaceOverlay* m_overlay = nullptr;
};
