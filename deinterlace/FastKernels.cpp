// Wide versions of the kernels: SSE2 on every x86-64 processor, AVX2 for the
// YUY2 sharpen pass where the processor has it. Each computes exactly what
// its scalar twin in ScalarKernels.cpp computes; the tails that do not fill
// a vector run the same arithmetic one pixel at a time.
#include <cstring>
#include <utility>
#include <vector>

#include "deinterlace/DeInterlaceKernels.h"

#if defined(__x86_64__) || defined(_M_X64)
#define VT_DEINTERLACE_X86 1
#include <immintrin.h>
#endif

namespace deint {

#if VT_DEINTERLACE_X86
namespace {

inline __m128i Load(const BYTE* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store(BYTE* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// (a + b) >> 1 per byte: the rounding average minus the carried half.
inline __m128i AvgFloor(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

inline BYTE AvgByte(BYTE a, BYTE b) {
    return static_cast<BYTE>((a + b) >> 1);
}

// Averages 'bytes' bytes; 'keep' bytes of each 32-bit group come from
// 'upper' (mask bits set) or become 0 ('zeroMask' bits cleared).
template <bool kClearFourth, bool kCopyFourth>
void AverageBytes(const BYTE* upper, const BYTE* lower, BYTE* out, size_t bytes) {
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        for (size_t k = 0; k < 64; k += 16) {
            __m128i a = Load(upper + i + k), b = Load(lower + i + k);
            __m128i v = AvgFloor(a, b);
            if (kClearFourth)
                v = _mm_and_si128(v, colour);
            if (kCopyFourth)
                v = _mm_or_si128(_mm_and_si128(v, colour), _mm_andnot_si128(colour, a));
            Store(out + i + k, v);
        }
    }
    for (; i + 16 <= bytes; i += 16) {
        __m128i a = Load(upper + i), b = Load(lower + i);
        __m128i v = AvgFloor(a, b);
        if (kClearFourth)
            v = _mm_and_si128(v, colour);
        if (kCopyFourth)
            v = _mm_or_si128(_mm_and_si128(v, colour), _mm_andnot_si128(colour, a));
        Store(out + i, v);
    }
    for (; i < bytes; ++i) {
        if (kClearFourth && i % 4 == 3)
            out[i] = 0;
        else if (kCopyFourth && i % 4 == 3)
            out[i] = upper[i];
        else
            out[i] = AvgByte(upper[i], lower[i]);
    }
}

void AverageYuy2(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width < 2)
        return;
    AverageBytes<false, false>(upper, lower, out, size_t(width / 2) * 4);
}
void AverageRgb24(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width > 0)
        AverageBytes<false, false>(upper, lower, out, size_t(width) * 3);
}
void AverageRgb32(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width > 0)
        AverageBytes<true, false>(upper, lower, out, size_t(width) * 4);
}
void AverageArgb32(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width > 0)
        AverageBytes<false, true>(upper, lower, out, size_t(width) * 4);
}

// Per-channel floor average of packed 16-bit pixels without unpacking: the
// common bits plus half the differing bits, with each channel's lowest
// differing bit kept from running into the channel below.
template <uint16_t kHalfMask, uint16_t kResultMask>
void AveragePacked(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    const __m128i half = _mm_set1_epi16(static_cast<short>(kHalfMask));
    const __m128i result = _mm_set1_epi16(static_cast<short>(kResultMask));
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        __m128i a = Load(upper + 2 * x), b = Load(lower + 2 * x);
        __m128i v = _mm_add_epi16(_mm_and_si128(a, b),
                                  _mm_srli_epi16(_mm_and_si128(_mm_xor_si128(a, b), half), 1));
        Store(out + 2 * x, _mm_and_si128(v, result));
    }
    for (; x < width; ++x) {
        uint16_t a, b;
        std::memcpy(&a, upper + 2 * x, 2);
        std::memcpy(&b, lower + 2 * x, 2);
        uint16_t v = static_cast<uint16_t>(((a & b) + (((a ^ b) & kHalfMask) >> 1)) & kResultMask);
        std::memcpy(out + 2 * x, &v, 2);
    }
}
// 5-5-5: channels at 10, 5 and 0; bit 15 is not a channel.
constexpr uint16_t k555Half = 0x7FFF & ~0x0421;
// 5-6-5: channels at 11, 5 and 0.
constexpr uint16_t k565Half = 0xFFFF & ~0x0821;

// Rolling line copies, as in the scalar passes.
template <class T>
class CLines {
public:
    explicit CLines(size_t n) : m_a(n), m_c(n), m_b(n) {}
    T* Above() { return m_a.data(); }
    T* Current() { return m_c.data(); }
    T* Below() { return m_b.data(); }
    void Advance() {
        std::swap(m_a, m_c);
        std::swap(m_c, m_b);
    }

private:
    std::vector<T> m_a, m_c, m_b;
};

inline int SharpenByte(int level, const BYTE* a, const BYTE* c, const BYTE* b, size_t i, int bpp) {
    return SharpenValue(level, c[i], c[i - bpp], c[i + bpp], a[i], b[i], 255);
}

// The byte formats: every byte of pixels 1 .. W-2 is a channel, except the
// fourth byte of 4-byte pixels, which keeps its value.
template <int Bpp>
void SharpenBytes(BYTE* frame, ptrdiff_t step, int width, int height, int level) {
    if (width < 3 || height < 3)
        return;
    const size_t lineBytes = size_t(width) * Bpp;
    const size_t begin = Bpp, end = size_t(width - 1) * Bpp;
    const __m128i centreWeight = _mm_set1_epi16(static_cast<short>(8 * level));
    const __m128i sideWeight = _mm_set1_epi16(static_cast<short>(2 * level - 1));
    const __m128i zero = _mm_setzero_si128();
    const __m128i colour = Bpp == 4 ? _mm_set1_epi32(0x00FFFFFF) : _mm_set1_epi8(-1);
    CLines<BYTE> w(lineBytes);
    std::memcpy(w.Current(), frame, lineBytes);
    std::memcpy(w.Below(), frame + step, lineBytes);
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        std::memcpy(w.Below(), frame + (y + 1) * step, lineBytes);
        const BYTE *a = w.Above(), *c = w.Current(), *b = w.Below();
        BYTE* line = frame + y * step;
        size_t i = begin;
        for (; i + 16 <= end; i += 16) {
            __m128i vc = Load(c + i), vl = Load(c + i - Bpp), vr = Load(c + i + Bpp);
            __m128i vu = Load(a + i), vd = Load(b + i);
            auto half = [&](auto unpack) {
                __m128i sum = _mm_add_epi16(_mm_add_epi16(unpack(vl, zero), unpack(vr, zero)),
                                            _mm_add_epi16(unpack(vu, zero), unpack(vd, zero)));
                __m128i v = _mm_sub_epi16(_mm_mullo_epi16(unpack(vc, zero), centreWeight),
                                          _mm_mullo_epi16(sum, sideWeight));
                return _mm_srai_epi16(v, 2);
            };
            __m128i lo = half([](__m128i x, __m128i z) { return _mm_unpacklo_epi8(x, z); });
            __m128i hi = half([](__m128i x, __m128i z) { return _mm_unpackhi_epi8(x, z); });
            __m128i v = _mm_packus_epi16(lo, hi);
            if (Bpp == 4)
                v = _mm_or_si128(_mm_and_si128(v, colour), _mm_andnot_si128(colour, vc));
            Store(line + i, v);
        }
        for (; i < end; ++i) {
            if (Bpp == 4 && i % 4 == 3)
                continue;
            line[i] = static_cast<BYTE>(SharpenByte(level, a, c, b, i, Bpp));
        }
    }
}

template <int kShiftR, int kBitsG, uint16_t kKeep>
inline uint16_t SharpenWord(int level, const BYTE* a, const BYTE* c, const BYTE* b, int x) {
    auto word = [](const BYTE* p) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return unsigned(v);
    };
    unsigned vc = word(c + 2 * x), vl = word(c + 2 * x - 2), vr = word(c + 2 * x + 2),
             vu = word(a + 2 * x), vd = word(b + 2 * x);
    const int shifts[3] = {kShiftR, 5, 0};
    const int masks[3] = {31, (1 << kBitsG) - 1, 31};
    unsigned r = vc & kKeep;
    for (int ch = 0; ch < 3; ++ch) {
        int s = shifts[ch], m = masks[ch];
        r |= unsigned(SharpenValue(level, (vc >> s) & m, (vl >> s) & m, (vr >> s) & m,
                                   (vu >> s) & m, (vd >> s) & m, m))
             << s;
    }
    return static_cast<uint16_t>(r);
}

template <int kShiftR, int kBitsG, uint16_t kKeep>
void SharpenPacked(BYTE* frame, ptrdiff_t step, int width, int height, int level) {
    if (width < 3 || height < 3)
        return;
    const size_t lineBytes = size_t(width) * 2;
    const __m128i centreWeight = _mm_set1_epi16(static_cast<short>(8 * level));
    const __m128i sideWeight = _mm_set1_epi16(static_cast<short>(2 * level - 1));
    const __m128i zero = _mm_setzero_si128();
    const __m128i keep = _mm_set1_epi16(static_cast<short>(kKeep));
    const int shifts[3] = {kShiftR, 5, 0};
    const int masks[3] = {31, (1 << kBitsG) - 1, 31};
    CLines<BYTE> w(lineBytes);
    std::memcpy(w.Current(), frame, lineBytes);
    std::memcpy(w.Below(), frame + step, lineBytes);
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        std::memcpy(w.Below(), frame + (y + 1) * step, lineBytes);
        const BYTE *a = w.Above(), *c = w.Current(), *b = w.Below();
        BYTE* line = frame + y * step;
        int x = 1;
        for (; x + 8 <= width - 1; x += 8) {
            __m128i vc = Load(c + 2 * x), vl = Load(c + 2 * x - 2), vr = Load(c + 2 * x + 2);
            __m128i vu = Load(a + 2 * x), vd = Load(b + 2 * x);
            __m128i r = _mm_and_si128(vc, keep);
            for (int ch = 0; ch < 3; ++ch) {
                const __m128i m = _mm_set1_epi16(static_cast<short>(masks[ch]));
                const __m128i s = _mm_cvtsi32_si128(shifts[ch]);
                auto channel = [&](__m128i v) { return _mm_and_si128(_mm_srl_epi16(v, s), m); };
                __m128i sum = _mm_add_epi16(_mm_add_epi16(channel(vl), channel(vr)),
                                            _mm_add_epi16(channel(vu), channel(vd)));
                __m128i v = _mm_srai_epi16(_mm_sub_epi16(_mm_mullo_epi16(channel(vc), centreWeight),
                                                         _mm_mullo_epi16(sum, sideWeight)),
                                           2);
                v = _mm_min_epi16(_mm_max_epi16(v, zero), m);
                r = _mm_or_si128(r, _mm_sll_epi16(v, s));
            }
            Store(line + 2 * x, r);
        }
        for (; x <= width - 2; ++x) {
            uint16_t v = SharpenWord<kShiftR, kBitsG, kKeep>(level, a, c, b, x);
            std::memcpy(line + 2 * x, &v, 2);
        }
    }
}

// YUY2: the lines are held as planes of 32-bit blue, green and red values,
// so that eight pixels convert and sharpen side by side.
struct CPlanes {
    explicit CPlanes(size_t n) : b(n), g(n), r(n) {}
    std::vector<int32_t> b, g, r;
};

void Yuy2ToPlanesScalar(const BYTE* line, CPlanes& p, int from, int pairs) {
    for (int m = from; m < pairs; ++m) {
        const BYTE* mp = line + 4 * m;
        for (int k = 0; k < 2; ++k) {
            BYTE bgr[3];
            Yuy2ToBgr(mp[2 * k], mp[1], mp[3], bgr);
            p.b[size_t(2 * m + k)] = bgr[0];
            p.g[size_t(2 * m + k)] = bgr[1];
            p.r[size_t(2 * m + k)] = bgr[2];
        }
    }
}

void SharpenYuy2MacropixelScalar(int level, CPlanes& a, CPlanes& c, CPlanes& b, BYTE* line, int m) {
    int sharp[2][3];
    for (int k = 0; k < 2; ++k) {
        size_t i = size_t(2 * m + k);
        std::vector<int32_t>* planes[3][3] = {
            {&a.b, &c.b, &b.b}, {&a.g, &c.g, &b.g}, {&a.r, &c.r, &b.r}};
        for (int ch = 0; ch < 3; ++ch) {
            const auto &pa = *planes[ch][0], &pc = *planes[ch][1], &pb = *planes[ch][2];
            sharp[k][ch] = SharpenValue(level, pc[i], pc[i - 1], pc[i + 1], pa[i], pb[i], 255);
        }
    }
    int y0 = BgrToY(sharp[0][0], sharp[0][1], sharp[0][2]);
    int y1 = BgrToY(sharp[1][0], sharp[1][1], sharp[1][2]);
    BYTE* mp = line + 4 * m;
    mp[0] = static_cast<BYTE>(y0);
    mp[1] = static_cast<BYTE>(BgrToChroma(sharp[0][0], y0, kChromaFactorU));
    mp[2] = static_cast<BYTE>(y1);
    mp[3] = static_cast<BYTE>(BgrToChroma(sharp[0][2], y0, kChromaFactorV));
}

__attribute__((target("avx2"))) inline __m256i Clamp255x8(__m256i v) {
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

__attribute__((target("avx2"))) void Yuy2ToPlanesAvx2(const BYTE* line, CPlanes& p, int pairs) {
    const __m128i pickY = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i pickU = _mm_setr_epi8(1, 1, 5, 5, 9, 9, 13, 13, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i pickV = _mm_setr_epi8(3, 3, 7, 7, 11, 11, 15, 15, -1, -1, -1, -1, -1, -1, -1, -1);
    int m = 0;
    for (; m + 4 <= pairs; m += 4) {
        __m128i src = Load(line + 4 * m);
        __m256i y = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(src, pickY));
        __m256i u = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(src, pickU));
        __m256i v = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(src, pickV));
        __m256i l = _mm256_mullo_epi32(_mm256_sub_epi32(y, _mm256_set1_epi32(16)),
                                       _mm256_set1_epi32(76309));
        __m256i b = _mm256_add_epi32(l, _mm256_mullo_epi32(u, _mm256_set1_epi32(132252)));
        b = _mm256_srai_epi32(_mm256_sub_epi32(b, _mm256_set1_epi32(16895488)), 16);
        __m256i g = _mm256_sub_epi32(l, _mm256_mullo_epi32(v, _mm256_set1_epi32(53281)));
        g = _mm256_sub_epi32(g, _mm256_mullo_epi32(u, _mm256_set1_epi32(25625)));
        g = _mm256_srai_epi32(_mm256_add_epi32(g, _mm256_set1_epi32(10132736)), 16);
        __m256i r = _mm256_add_epi32(l, _mm256_mullo_epi32(v, _mm256_set1_epi32(104595)));
        r = _mm256_srai_epi32(_mm256_sub_epi32(r, _mm256_set1_epi32(13355392)), 16);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(&p.b[size_t(2 * m)]), Clamp255x8(b));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(&p.g[size_t(2 * m)]), Clamp255x8(g));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(&p.r[size_t(2 * m)]), Clamp255x8(r));
    }
    Yuy2ToPlanesScalar(line, p, m, pairs);
}

__attribute__((target("avx2"))) inline __m256i Load8(const int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline __m256i SharpenPlane(const std::vector<int32_t>& a,
                                                            const std::vector<int32_t>& c,
                                                            const std::vector<int32_t>& b, size_t i,
                                                            __m256i centreWeight,
                                                            __m256i sideWeight) {
    __m256i sum = _mm256_add_epi32(_mm256_add_epi32(Load8(&c[i - 1]), Load8(&c[i + 1])),
                                   _mm256_add_epi32(Load8(&a[i]), Load8(&b[i])));
    __m256i v = _mm256_sub_epi32(_mm256_mullo_epi32(Load8(&c[i]), centreWeight),
                                 _mm256_mullo_epi32(sum, sideWeight));
    return Clamp255x8(_mm256_srai_epi32(v, 2));
}

__attribute__((target("avx2"))) inline __m256i Chroma8(__m256i blueOrRed, __m256i yMinus16,
                                                       int factor) {
    __m256i v = _mm256_sub_epi32(_mm256_slli_epi32(blueOrRed, 16),
                                 _mm256_mullo_epi32(yMinus16, _mm256_set1_epi32(76310)));
    v = _mm256_mullo_epi32(_mm256_srai_epi32(v, 10), _mm256_set1_epi32(factor));
    return Clamp255x8(_mm256_srai_epi32(_mm256_add_epi32(v, _mm256_set1_epi32(8421376)), 16));
}

__attribute__((target("avx2"))) void SharpenYuy2Avx2(BYTE* frame, ptrdiff_t step, int width,
                                                     int height, int level) {
    if (width < 6 || height < 3)
        return;
    const int pairs = width / 2;
    // Room for the widest vector read past the last pixel of a line.
    const size_t n = size_t(width) + 8;
    CPlanes planes[3] = {CPlanes(n), CPlanes(n), CPlanes(n)};
    CPlanes *above = &planes[0], *cur = &planes[1], *below = &planes[2];
    Yuy2ToPlanesAvx2(frame, *cur, pairs);
    Yuy2ToPlanesAvx2(frame + step, *below, pairs);
    const __m256i centreWeight = _mm256_set1_epi32(8 * level);
    const __m256i sideWeight = _mm256_set1_epi32(2 * level - 1);
    const __m256i evenLanes = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    for (int y = 1; y <= height - 2; ++y) {
        std::swap(above, cur);
        std::swap(cur, below);
        Yuy2ToPlanesAvx2(frame + (y + 1) * step, *below, pairs);
        BYTE* line = frame + y * step;
        int m = 1;
        // Four macropixels (eight pixels) at a time, up to macropixel pairs - 2.
        for (; m + 4 <= pairs - 1; m += 4) {
            size_t i = size_t(2 * m);
            __m256i b = SharpenPlane(above->b, cur->b, below->b, i, centreWeight, sideWeight);
            __m256i g = SharpenPlane(above->g, cur->g, below->g, i, centreWeight, sideWeight);
            __m256i r = SharpenPlane(above->r, cur->r, below->r, i, centreWeight, sideWeight);
            __m256i luma = _mm256_mullo_epi32(g, _mm256_set1_epi32(33039));
            luma = _mm256_add_epi32(luma, _mm256_mullo_epi32(b, _mm256_set1_epi32(6416)));
            luma = _mm256_add_epi32(luma, _mm256_mullo_epi32(r, _mm256_set1_epi32(16829)));
            luma = _mm256_srai_epi32(_mm256_add_epi32(luma, _mm256_set1_epi32(1081344)), 16);
            __m256i ym16 = _mm256_sub_epi32(luma, _mm256_set1_epi32(16));
            __m256i u = Chroma8(b, ym16, kChromaFactorU);
            __m256i v = Chroma8(r, ym16, kChromaFactorV);
            // Even lane k: Y(k) | U(k) << 8 | Y(k+1) << 16 | V(k) << 24.
            __m256i word = _mm256_or_si256(luma, _mm256_slli_epi32(u, 8));
            word = _mm256_or_si256(word, _mm256_slli_epi32(v, 24));
            word = _mm256_or_si256(word, _mm256_srli_epi64(luma, 16));
            __m256i packed = _mm256_permutevar8x32_epi32(word, evenLanes);
            Store(line + 4 * m, _mm256_castsi256_si128(packed));
        }
        for (; m <= pairs - 2; ++m)
            SharpenYuy2MacropixelScalar(level, *above, *cur, *below, line, m);
    }
}

// AVX2 versions of the averages and the byte sharpen pass: the same
// arithmetic on 32 bytes at a time; what is left of a line goes to the SSE2
// versions above.
#define VT_AVX2 __attribute__((target("avx2")))

VT_AVX2 inline __m256i Load32(const BYTE* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
VT_AVX2 inline void Store32(BYTE* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
VT_AVX2 inline __m256i AvgFloor32(__m256i a, __m256i b) {
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b),
                           _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
}

template <bool kClearFourth, bool kCopyFourth>
VT_AVX2 void AverageBytesAvx2(const BYTE* upper, const BYTE* lower, BYTE* out, size_t bytes) {
    const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        __m256i a = Load32(upper + i), b = Load32(lower + i);
        __m256i v = AvgFloor32(a, b);
        if (kClearFourth)
            v = _mm256_and_si256(v, colour);
        if (kCopyFourth)
            v = _mm256_or_si256(_mm256_and_si256(v, colour), _mm256_andnot_si256(colour, a));
        Store32(out + i, v);
    }
    AverageBytes<kClearFourth, kCopyFourth>(upper + i, lower + i, out + i, bytes - i);
}

VT_AVX2 void AverageYuy2Avx2(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width >= 2)
        AverageBytesAvx2<false, false>(upper, lower, out, size_t(width / 2) * 4);
}
VT_AVX2 void AverageRgb24Avx2(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width > 0)
        AverageBytesAvx2<false, false>(upper, lower, out, size_t(width) * 3);
}
VT_AVX2 void AverageRgb32Avx2(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width > 0)
        AverageBytesAvx2<true, false>(upper, lower, out, size_t(width) * 4);
}
VT_AVX2 void AverageArgb32Avx2(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width > 0)
        AverageBytesAvx2<false, true>(upper, lower, out, size_t(width) * 4);
}

template <uint16_t kHalfMask, uint16_t kResultMask>
VT_AVX2 void AveragePackedAvx2(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    const __m256i half = _mm256_set1_epi16(static_cast<short>(kHalfMask));
    const __m256i result = _mm256_set1_epi16(static_cast<short>(kResultMask));
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m256i a = Load32(upper + 2 * x), b = Load32(lower + 2 * x);
        __m256i v =
            _mm256_add_epi16(_mm256_and_si256(a, b),
                             _mm256_srli_epi16(_mm256_and_si256(_mm256_xor_si256(a, b), half), 1));
        Store32(out + 2 * x, _mm256_and_si256(v, result));
    }
    AveragePacked<kHalfMask, kResultMask>(upper + 2 * x, lower + 2 * x, out + 2 * x, width - x);
}

// Copy and average in one pass: each 32-byte piece of the upper line is
// loaded once for both outputs.
template <bool kClearFourth, bool kCopyFourth>
VT_AVX2 void CopyAverageBytesAvx2(const BYTE* upper, const BYTE* lower, BYTE* copyOut,
                                  size_t copyBytes, BYTE* avgOut, size_t avgBytes) {
    const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
    const size_t both = avgBytes < copyBytes ? avgBytes : copyBytes;
    size_t i = 0;
    for (; i + 32 <= both; i += 32) {
        __m256i a = Load32(upper + i), b = Load32(lower + i);
        Store32(copyOut + i, a);
        __m256i v = AvgFloor32(a, b);
        if (kClearFourth)
            v = _mm256_and_si256(v, colour);
        if (kCopyFourth)
            v = _mm256_or_si256(_mm256_and_si256(v, colour), _mm256_andnot_si256(colour, a));
        Store32(avgOut + i, v);
    }
    AverageBytes<kClearFourth, kCopyFourth>(upper + i, lower + i, avgOut + i, avgBytes - i);
    if (copyBytes > i)
        std::memcpy(copyOut + i, upper + i, copyBytes - i);
}

VT_AVX2 void CopyAverageYuy2Avx2(const BYTE* upper, const BYTE* lower, BYTE* copyOut,
                                 size_t copyBytes, BYTE* avgOut, int width) {
    size_t avgBytes = width >= 2 ? size_t(width / 2) * 4 : 0;
    CopyAverageBytesAvx2<false, false>(upper, lower, copyOut, copyBytes, avgOut, avgBytes);
}
VT_AVX2 void CopyAverageRgb24Avx2(const BYTE* upper, const BYTE* lower, BYTE* copyOut,
                                  size_t copyBytes, BYTE* avgOut, int width) {
    size_t avgBytes = width > 0 ? size_t(width) * 3 : 0;
    CopyAverageBytesAvx2<false, false>(upper, lower, copyOut, copyBytes, avgOut, avgBytes);
}
VT_AVX2 void CopyAverageRgb32Avx2(const BYTE* upper, const BYTE* lower, BYTE* copyOut,
                                  size_t copyBytes, BYTE* avgOut, int width) {
    size_t avgBytes = width > 0 ? size_t(width) * 4 : 0;
    CopyAverageBytesAvx2<true, false>(upper, lower, copyOut, copyBytes, avgOut, avgBytes);
}
VT_AVX2 void CopyAverageArgb32Avx2(const BYTE* upper, const BYTE* lower, BYTE* copyOut,
                                   size_t copyBytes, BYTE* avgOut, int width) {
    size_t avgBytes = width > 0 ? size_t(width) * 4 : 0;
    CopyAverageBytesAvx2<false, true>(upper, lower, copyOut, copyBytes, avgOut, avgBytes);
}

template <uint16_t kHalfMask, uint16_t kResultMask>
VT_AVX2 void CopyAveragePackedAvx2(const BYTE* upper, const BYTE* lower, BYTE* copyOut,
                                   size_t copyBytes, BYTE* avgOut, int width) {
    const __m256i half = _mm256_set1_epi16(static_cast<short>(kHalfMask));
    const __m256i result = _mm256_set1_epi16(static_cast<short>(kResultMask));
    int x = 0;
    for (; x + 16 <= width && size_t(2 * x + 32) <= copyBytes; x += 16) {
        __m256i a = Load32(upper + 2 * x), b = Load32(lower + 2 * x);
        Store32(copyOut + 2 * x, a);
        __m256i v =
            _mm256_add_epi16(_mm256_and_si256(a, b),
                             _mm256_srli_epi16(_mm256_and_si256(_mm256_xor_si256(a, b), half), 1));
        Store32(avgOut + 2 * x, _mm256_and_si256(v, result));
    }
    if (width > x)
        AveragePacked<kHalfMask, kResultMask>(upper + 2 * x, lower + 2 * x, avgOut + 2 * x,
                                              width - x);
    if (copyBytes > size_t(2 * x))
        std::memcpy(copyOut + 2 * x, upper + 2 * x, copyBytes - size_t(2 * x));
}

VT_AVX2 inline __m256i SharpenHalf32(__m256i c, __m256i l, __m256i r, __m256i u, __m256i d,
                                     __m256i centreWeight, __m256i sideWeight) {
    __m256i sum = _mm256_add_epi16(_mm256_add_epi16(l, r), _mm256_add_epi16(u, d));
    return _mm256_srai_epi16(
        _mm256_sub_epi16(_mm256_mullo_epi16(c, centreWeight), _mm256_mullo_epi16(sum, sideWeight)),
        2);
}

// One channel of sixteen packed pixels, with the shift and mask known at
// compile time (no shift for the lowest channel, no mask for the highest).
template <int kShift, int kBits>
VT_AVX2 inline __m256i PackedChannel(__m256i v) {
    __m256i x = kShift ? _mm256_srli_epi16(v, kShift) : v;
    if (kShift + kBits < 16)
        x = _mm256_and_si256(x, _mm256_set1_epi16(static_cast<short>((1 << kBits) - 1)));
    return x;
}

// The sharpened channel, saturated and moved back into place.
template <int kShift, int kBits>
VT_AVX2 inline __m256i SharpenPackedChannel(__m256i vc, __m256i vl, __m256i vr, __m256i vu,
                                            __m256i vd, __m256i centreWeight, __m256i sideWeight) {
    __m256i v = SharpenHalf32(PackedChannel<kShift, kBits>(vc), PackedChannel<kShift, kBits>(vl),
                              PackedChannel<kShift, kBits>(vr), PackedChannel<kShift, kBits>(vu),
                              PackedChannel<kShift, kBits>(vd), centreWeight, sideWeight);
    v = _mm256_min_epi16(_mm256_max_epi16(v, _mm256_setzero_si256()),
                         _mm256_set1_epi16(static_cast<short>((1 << kBits) - 1)));
    return kShift ? _mm256_slli_epi16(v, kShift) : v;
}

template <int kShiftR, int kBitsG, uint16_t kKeep>
VT_AVX2 void SharpenPackedAvx2(BYTE* frame, ptrdiff_t step, int width, int height, int level) {
    if (width < 3 || height < 3)
        return;
    const size_t lineBytes = size_t(width) * 2;
    const __m256i centreWeight = _mm256_set1_epi16(static_cast<short>(8 * level));
    const __m256i sideWeight = _mm256_set1_epi16(static_cast<short>(2 * level - 1));
    const __m256i keep = _mm256_set1_epi16(static_cast<short>(kKeep));
    CLines<BYTE> w(lineBytes);
    std::memcpy(w.Current(), frame, lineBytes);
    std::memcpy(w.Below(), frame + step, lineBytes);
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        std::memcpy(w.Below(), frame + (y + 1) * step, lineBytes);
        const BYTE *a = w.Above(), *c = w.Current(), *b = w.Below();
        BYTE* line = frame + y * step;
        int x = 1;
        for (; x + 16 <= width - 1; x += 16) {
            __m256i vc = Load32(c + 2 * x), vl = Load32(c + 2 * x - 2), vr = Load32(c + 2 * x + 2);
            __m256i vu = Load32(a + 2 * x), vd = Load32(b + 2 * x);
            __m256i r = _mm256_and_si256(vc, keep);
            r = _mm256_or_si256(
                r, SharpenPackedChannel<kShiftR, 5>(vc, vl, vr, vu, vd, centreWeight, sideWeight));
            r = _mm256_or_si256(
                r, SharpenPackedChannel<5, kBitsG>(vc, vl, vr, vu, vd, centreWeight, sideWeight));
            r = _mm256_or_si256(
                r, SharpenPackedChannel<0, 5>(vc, vl, vr, vu, vd, centreWeight, sideWeight));
            Store32(line + 2 * x, r);
        }
        for (; x <= width - 2; ++x) {
            uint16_t v = SharpenWord<kShiftR, kBitsG, kKeep>(level, a, c, b, x);
            std::memcpy(line + 2 * x, &v, 2);
        }
    }
}

template <int Bpp>
VT_AVX2 void SharpenBytesAvx2(BYTE* frame, ptrdiff_t step, int width, int height, int level) {
    if (width < 3 || height < 3)
        return;
    const size_t lineBytes = size_t(width) * Bpp;
    const size_t begin = Bpp, end = size_t(width - 1) * Bpp;
    const __m256i centreWeight = _mm256_set1_epi16(static_cast<short>(8 * level));
    const __m256i sideWeight = _mm256_set1_epi16(static_cast<short>(2 * level - 1));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
    CLines<BYTE> w(lineBytes);
    std::memcpy(w.Current(), frame, lineBytes);
    std::memcpy(w.Below(), frame + step, lineBytes);
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        std::memcpy(w.Below(), frame + (y + 1) * step, lineBytes);
        const BYTE *a = w.Above(), *c = w.Current(), *b = w.Below();
        BYTE* line = frame + y * step;
        size_t i = begin;
        for (; i + 32 <= end; i += 32) {
            __m256i vc = Load32(c + i), vl = Load32(c + i - Bpp), vr = Load32(c + i + Bpp);
            __m256i vu = Load32(a + i), vd = Load32(b + i);
            __m256i lo =
                SharpenHalf32(_mm256_unpacklo_epi8(vc, zero), _mm256_unpacklo_epi8(vl, zero),
                              _mm256_unpacklo_epi8(vr, zero), _mm256_unpacklo_epi8(vu, zero),
                              _mm256_unpacklo_epi8(vd, zero), centreWeight, sideWeight);
            __m256i hi =
                SharpenHalf32(_mm256_unpackhi_epi8(vc, zero), _mm256_unpackhi_epi8(vl, zero),
                              _mm256_unpackhi_epi8(vr, zero), _mm256_unpackhi_epi8(vu, zero),
                              _mm256_unpackhi_epi8(vd, zero), centreWeight, sideWeight);
            __m256i v = _mm256_packus_epi16(lo, hi);
            if (Bpp == 4)
                v = _mm256_or_si256(_mm256_and_si256(v, colour), _mm256_andnot_si256(colour, vc));
            Store32(line + i, v);
        }
        for (; i < end; ++i) {
            if (Bpp == 4 && i % 4 == 3)
                continue;
            line[i] = static_cast<BYTE>(SharpenByte(level, a, c, b, i, Bpp));
        }
    }
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

const CKernelSet& Sse2Kernels() {
    static const CKernelSet set = [] {
        CKernelSet k{};
        k.name = "sse2";
        k.averageYuy2 = &AverageYuy2;
        k.averageRgb24 = &AverageRgb24;
        k.averageRgb32 = &AverageRgb32;
        k.averageArgb32 = &AverageArgb32;
        k.average555 = &AveragePacked<k555Half, 0x7FFF>;
        k.average565 = &AveragePacked<k565Half, 0xFFFF>;
        k.sharpenYuy2 = ScalarKernels().sharpenYuy2;
        k.sharpen3Byte = &SharpenBytes<3>;
        k.sharpen4Byte = &SharpenBytes<4>;
        k.sharpen555 = &SharpenPacked<10, 5, 0x8000>;
        k.sharpen565 = &SharpenPacked<11, 6, 0x0000>;
        k.copyAverageYuy2 = &CopyThenAverage<&AverageYuy2>;
        k.copyAverageRgb24 = &CopyThenAverage<&AverageRgb24>;
        k.copyAverageRgb32 = &CopyThenAverage<&AverageRgb32>;
        k.copyAverageArgb32 = &CopyThenAverage<&AverageArgb32>;
        k.copyAverage555 = &CopyThenAverage<&AveragePacked<k555Half, 0x7FFF>>;
        k.copyAverage565 = &CopyThenAverage<&AveragePacked<k565Half, 0xFFFF>>;
        return k;
    }();
    return set;
}

const CKernelSet& Avx2Kernels() {
    static const CKernelSet set = [] {
        CKernelSet k{};
        k.name = "avx2";
        k.averageYuy2 = &AverageYuy2Avx2;
        k.averageRgb24 = &AverageRgb24Avx2;
        k.averageRgb32 = &AverageRgb32Avx2;
        k.averageArgb32 = &AverageArgb32Avx2;
        k.average555 = &AveragePackedAvx2<k555Half, 0x7FFF>;
        k.average565 = &AveragePackedAvx2<k565Half, 0xFFFF>;
        k.sharpenYuy2 = &SharpenYuy2Avx2;
        k.sharpen3Byte = &SharpenBytesAvx2<3>;
        k.sharpen4Byte = &SharpenBytesAvx2<4>;
        k.sharpen555 = &SharpenPackedAvx2<10, 5, 0x8000>;
        k.sharpen565 = &SharpenPackedAvx2<11, 6, 0x0000>;
        k.copyAverageYuy2 = &CopyAverageYuy2Avx2;
        k.copyAverageRgb24 = &CopyAverageRgb24Avx2;
        k.copyAverageRgb32 = &CopyAverageRgb32Avx2;
        k.copyAverageArgb32 = &CopyAverageArgb32Avx2;
        k.copyAverage555 = &CopyAveragePackedAvx2<k555Half, 0x7FFF>;
        k.copyAverage565 = &CopyAveragePackedAvx2<k565Half, 0xFFFF>;
        return k;
    }();
    return set;
}

}  // namespace

const CKernelSet& FastKernels() {
    return HasAvx2() ? Avx2Kernels() : Sse2Kernels();
}

std::vector<const CKernelSet*> WideKernelSets() {
    std::vector<const CKernelSet*> sets{&Sse2Kernels()};
    if (HasAvx2())
        sets.push_back(&Avx2Kernels());
    return sets;
}

#else

const CKernelSet& FastKernels() {
    return ScalarKernels();
}

#endif

}  // namespace deint
