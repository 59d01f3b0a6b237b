// The reference kernels: one pixel at a time, exactly as the arithmetic is
// defined. The fast kernels are checked against these bit for bit.
#include <cstring>
#include <utility>
#include <vector>

#include "deinterlace/DeInterlaceKernels.h"

namespace deint {
namespace {

inline BYTE Avg(BYTE a, BYTE b) {
    return static_cast<BYTE>((a + b) >> 1);
}

inline uint16_t LoadWord(const BYTE* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void StoreWord(BYTE* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

void AverageYuy2(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width < 2)
        return;
    int bytes = (width / 2) * 4;
    for (int i = 0; i < bytes; ++i)
        out[i] = Avg(upper[i], lower[i]);
}

void AverageRgb24(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    for (int i = 0; i < width * 3; ++i)
        out[i] = Avg(upper[i], lower[i]);
}

void AveragePlane(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    for (int i = 0; i < width; ++i)
        out[i] = Avg(upper[i], lower[i]);
}

void AverageRgb32(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    for (int x = 0; x < width; ++x, upper += 4, lower += 4, out += 4) {
        out[0] = Avg(upper[0], lower[0]);
        out[1] = Avg(upper[1], lower[1]);
        out[2] = Avg(upper[2], lower[2]);
        out[3] = 0;
    }
}

void AverageArgb32(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    for (int x = 0; x < width; ++x, upper += 4, lower += 4, out += 4) {
        out[0] = Avg(upper[0], lower[0]);
        out[1] = Avg(upper[1], lower[1]);
        out[2] = Avg(upper[2], lower[2]);
        out[3] = upper[3];
    }
}

// The three channels of a 16-bit pixel: shift and width of each.
struct CPacking {
    int shift[3];
    int bits[3];
    uint16_t keepMask;  // bits outside the channels that a sharpen pass keeps
};
constexpr CPacking k555{{10, 5, 0}, {5, 5, 5}, 0x8000};
constexpr CPacking k565{{11, 5, 0}, {5, 6, 5}, 0x0000};

template <const CPacking& P>
void Average16(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    for (int x = 0; x < width; ++x) {
        unsigned a = LoadWord(upper + 2 * x), b = LoadWord(lower + 2 * x), r = 0;
        for (int c = 0; c < 3; ++c) {
            unsigned mask = (1u << P.bits[c]) - 1;
            unsigned va = (a >> P.shift[c]) & mask, vb = (b >> P.shift[c]) & mask;
            r |= ((va + vb) >> 1) << P.shift[c];
        }
        StoreWord(out + 2 * x, static_cast<uint16_t>(r));
    }
}

// Rolling copies of the lines above, at and below the line being sharpened,
// so that every value read is one from before the pass.
class CLineWindow {
public:
    explicit CLineWindow(size_t bytes) : m_above(bytes), m_current(bytes), m_below(bytes) {}
    BYTE* Above() { return m_above.data(); }
    BYTE* Current() { return m_current.data(); }
    BYTE* Below() { return m_below.data(); }
    void Advance() {
        std::swap(m_above, m_current);
        std::swap(m_current, m_below);
    }

private:
    std::vector<BYTE> m_above, m_current, m_below;
};

template <int Bpp>
void SharpenBytes(BYTE* frame, ptrdiff_t step, int width, int height, int level) {
    if (width < 3 || height < 3)
        return;
    size_t lineBytes = size_t(width) * Bpp;
    CLineWindow w(lineBytes);
    std::memcpy(w.Current(), frame, lineBytes);
    std::memcpy(w.Below(), frame + step, lineBytes);
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        std::memcpy(w.Below(), frame + (y + 1) * step, lineBytes);
        const BYTE *a = w.Above(), *c = w.Current(), *b = w.Below();
        BYTE* line = frame + y * step;
        for (int x = 1; x <= width - 2; ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                size_t i = size_t(x) * Bpp + ch;
                line[i] = static_cast<BYTE>(
                    SharpenValue(level, c[i], c[i - Bpp], c[i + Bpp], a[i], b[i], 255));
            }
        }
    }
}

template <const CPacking& P>
void Sharpen16(BYTE* frame, ptrdiff_t step, int width, int height, int level) {
    if (width < 3 || height < 3)
        return;
    size_t lineBytes = size_t(width) * 2;
    CLineWindow w(lineBytes);
    std::memcpy(w.Current(), frame, lineBytes);
    std::memcpy(w.Below(), frame + step, lineBytes);
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        std::memcpy(w.Below(), frame + (y + 1) * step, lineBytes);
        const BYTE *a = w.Above(), *c = w.Current(), *b = w.Below();
        BYTE* line = frame + y * step;
        for (int x = 1; x <= width - 2; ++x) {
            unsigned vc = LoadWord(c + 2 * x), vl = LoadWord(c + 2 * x - 2),
                     vr = LoadWord(c + 2 * x + 2), vu = LoadWord(a + 2 * x),
                     vd = LoadWord(b + 2 * x);
            unsigned r = vc & P.keepMask;
            for (int ch = 0; ch < 3; ++ch) {
                int s = P.shift[ch];
                int mask = (1 << P.bits[ch]) - 1;
                int v = SharpenValue(level, (vc >> s) & mask, (vl >> s) & mask, (vr >> s) & mask,
                                     (vu >> s) & mask, (vd >> s) & mask, mask);
                r |= unsigned(v) << s;
            }
            StoreWord(line + 2 * x, static_cast<uint16_t>(r));
        }
    }
}

// One YUY2 line as blue, green, red pixels, two per macropixel.
void Yuy2LineToBgr(const BYTE* line, BYTE* bgr, int pairs) {
    for (int m = 0; m < pairs; ++m, line += 4, bgr += 6) {
        Yuy2ToBgr(line[0], line[1], line[3], bgr);
        Yuy2ToBgr(line[2], line[1], line[3], bgr + 3);
    }
}

void SharpenYuy2(BYTE* frame, ptrdiff_t step, int width, int height, int level) {
    if (width < 6 || height < 3)
        return;
    int pairs = width / 2;
    CLineWindow w(size_t(width) * 3);
    Yuy2LineToBgr(frame, w.Current(), pairs);
    Yuy2LineToBgr(frame + step, w.Below(), pairs);
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        Yuy2LineToBgr(frame + (y + 1) * step, w.Below(), pairs);
        const BYTE *a = w.Above(), *c = w.Current(), *b = w.Below();
        BYTE* line = frame + y * step;
        for (int m = 1; m <= pairs - 2; ++m) {
            int sharp[2][3];
            for (int p = 0; p < 2; ++p) {
                size_t i = size_t(2 * m + p) * 3;
                for (int ch = 0; ch < 3; ++ch)
                    sharp[p][ch] = SharpenValue(level, c[i + ch], c[i + ch - 3], c[i + ch + 3],
                                                a[i + ch], b[i + ch], 255);
            }
            int y0 = BgrToY(sharp[0][0], sharp[0][1], sharp[0][2]);
            int y1 = BgrToY(sharp[1][0], sharp[1][1], sharp[1][2]);
            BYTE* mp = line + 4 * m;
            mp[0] = static_cast<BYTE>(y0);
            mp[1] = static_cast<BYTE>(BgrToChroma(sharp[0][0], y0, kChromaFactorU));
            mp[2] = static_cast<BYTE>(y1);
            mp[3] = static_cast<BYTE>(BgrToChroma(sharp[0][2], y0, kChromaFactorV));
        }
    }
}

}  // namespace

const CKernelSet& ScalarKernels() {
    static const CKernelSet set = [] {
        CKernelSet k{};
        k.name = "scalar";
        k.averageYuy2 = &AverageYuy2;
        k.averageRgb24 = &AverageRgb24;
        k.averageRgb32 = &AverageRgb32;
        k.averageArgb32 = &AverageArgb32;
        k.average555 = &Average16<k555>;
        k.average565 = &Average16<k565>;
        k.averagePlane = &AveragePlane;
        k.sharpenYuy2 = &SharpenYuy2;
        k.sharpen3Byte = &SharpenBytes<3>;
        k.sharpen4Byte = &SharpenBytes<4>;
        k.sharpen555 = &Sharpen16<k555>;
        k.sharpen565 = &Sharpen16<k565>;
        k.copyAverageYuy2 = &CopyThenAverage<&AverageYuy2>;
        k.copyAverageRgb24 = &CopyThenAverage<&AverageRgb24>;
        k.copyAverageRgb32 = &CopyThenAverage<&AverageRgb32>;
        k.copyAverageArgb32 = &CopyThenAverage<&AverageArgb32>;
        k.copyAverage555 = &CopyThenAverage<&Average16<k555>>;
        k.copyAverage565 = &CopyThenAverage<&Average16<k565>>;
        k.copyAveragePlane = &CopyThenAverage<&AveragePlane>;
        return k;
    }();
    return set;
}

}  // namespace deint
