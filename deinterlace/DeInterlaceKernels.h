#pragma once
// Pixel kernels of the deinterlacer: the line interpolations that fill a
// missing line from the lines above and below it, and the sharpen passes
// that run over a finished output frame in place. Every kernel exists as a
// plain scalar reference; the fast set computes exactly the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace deint {

using BYTE = uint8_t;

// Writes into 'out' the average of the 'width' pixels at 'upper' and 'lower'.
using LineInterpolator = void (*)(const BYTE* upper, const BYTE* lower, BYTE* out, int width);

// One pass over two input lines: copies 'copyBytes' bytes of 'upper' to
// 'copyOut' and writes the average of 'width' pixels of 'upper' and 'lower'
// to 'avgOut' (what a copy and a LineInterpolator would do one after the other).
using CopyInterpolator = void (*)(const BYTE* upper, const BYTE* lower, BYTE* copyOut,
                                  size_t copyBytes, BYTE* avgOut, int width);

// Sharpens the frame at 'frame' in place with strength 'level' (1..5):
// 'height' lines of 'width' pixels, line k at frame + k * lineStep (the step
// may be negative). Borders stay as they were.
using SharpenPass = void (*)(BYTE* frame, ptrdiff_t lineStep, int width, int height, int level);

// The kernels of one implementation, one entry per pixel format.
struct CKernelSet {
    const char* name;
    LineInterpolator averageYuy2;
    LineInterpolator averageRgb24;
    LineInterpolator averageRgb32;   // fourth byte set to 0
    LineInterpolator averageArgb32;  // fourth byte copied from the upper line
    LineInterpolator average555;
    LineInterpolator average565;
    // One plane of a planar YUV frame: every byte averaged ('width' is bytes).
    LineInterpolator averagePlane;
    SharpenPass sharpenYuy2;
    SharpenPass sharpen3Byte;
    SharpenPass sharpen4Byte;
    SharpenPass sharpen555;
    SharpenPass sharpen565;
    CopyInterpolator copyAverageYuy2;
    CopyInterpolator copyAverageRgb24;
    CopyInterpolator copyAverageRgb32;
    CopyInterpolator copyAverageArgb32;
    CopyInterpolator copyAverage555;
    CopyInterpolator copyAverage565;
    CopyInterpolator copyAveragePlane;
};

// A CopyInterpolator made of a copy followed by the interpolator F.
template <LineInterpolator F>
void CopyThenAverage(const BYTE* upper, const BYTE* lower, BYTE* copyOut, size_t copyBytes,
                     BYTE* avgOut, int width) {
    std::memcpy(copyOut, upper, copyBytes);
    F(upper, lower, avgOut, width);
}

// The plain reference kernels.
const CKernelSet& ScalarKernels();
// The fastest kernels this processor runs; bit-exact with ScalarKernels().
const CKernelSet& FastKernels();
// Every wide set this processor runs (for comparing them with the scalar one).
std::vector<const CKernelSet*> WideKernelSets();

// The sharpen kernel on one channel value: the centre weighted against its
// four neighbours, shifted back and saturated to 0..maxValue.
inline int SharpenValue(int level, int c, int l, int r, int u, int d, int maxValue) {
    int v = (8 * level * c - (2 * level - 1) * (l + r + u + d)) >> 2;
    return v < 0 ? 0 : (v > maxValue ? maxValue : v);
}

inline int Clamp255(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// One luma sample with its chroma pair to blue, green and red (16.16 fixed point).
inline void Yuy2ToBgr(int y, int u, int v, BYTE* bgr) {
    int l = (y - 16) * 76309;
    bgr[0] = static_cast<BYTE>(Clamp255((l + u * 132252 - 16895488) >> 16));
    bgr[1] = static_cast<BYTE>(Clamp255((l - v * 53281 - u * 25625 + 10132736) >> 16));
    bgr[2] = static_cast<BYTE>(Clamp255((l + v * 104595 - 13355392) >> 16));
}

// Luma of a blue, green, red pixel; stays within 16..235.
inline int BgrToY(int b, int g, int r) {
    return (33039 * g + 6416 * b + 16829 * r + 1081344) >> 16;
}
// Chroma from the blue (for U) or red (for V) value of a pixel and its luma.
inline int BgrToChroma(int blueOrRed, int y, int factor) {
    return Clamp255((((((blueOrRed << 16) - (y - 16) * 76310) >> 10) * factor) + 8421376) >> 16);
}
constexpr int kChromaFactorU = 507;
constexpr int kChromaFactorV = 642;

}  // namespace deint
