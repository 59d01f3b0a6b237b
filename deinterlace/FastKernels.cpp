// Wide versions of the kernels: SSE2 on every x86-64 processor (its YUY2
// sharpen pass is the scalar one), AVX2 for all of them where the processor
// has it, AVX-512 for the 16-bit sharpen passes. Each computes exactly what
// its scalar twin in ScalarKernels.cpp computes; the tails that do not fill
// a vector run the same arithmetic one pixel at a time.
#include <cstdint>
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
void AveragePlane(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width > 0)
        AverageBytes<false, false>(upper, lower, out, size_t(width));
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

// AVX2 versions of the averages and the byte sharpen pass: the same
// arithmetic on 32 bytes at a time; what is left of a line goes to the SSE2
// versions above.
#define VT_AVX2 __attribute__((target("avx2")))
#define VT_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

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
VT_AVX2 void AveragePlaneAvx2(const BYTE* upper, const BYTE* lower, BYTE* out, int width) {
    if (width > 0)
        AverageBytesAvx2<false, false>(upper, lower, out, size_t(width));
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
VT_AVX2 void CopyAveragePlaneAvx2(const BYTE* upper, const BYTE* lower, BYTE* copyOut,
                                  size_t copyBytes, BYTE* avgOut, int width) {
    size_t avgBytes = width > 0 ? size_t(width) : 0;
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
    // As in the packed pass: wide lines copy the line below inside the
    // vector loop (its first and last pixel go alone), and a last vector
    // overlapping the one before it finishes each line.
    const bool vectors = end - begin >= 32;
    const size_t lastVector = vectors ? end - 32 : begin;
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        const BYTE* belowLine = frame + (y + 1) * step;
        BYTE* b = w.Below();
        if (vectors) {
            std::memcpy(b, belowLine, begin);
            std::memcpy(b + end, belowLine + end, lineBytes - end);
        } else {
            std::memcpy(b, belowLine, lineBytes);
        }
        const BYTE *a = w.Above(), *c = w.Current();
        BYTE* line = frame + y * step;
        size_t i = begin;
        for (; i + 32 <= end; i = i + 32 > lastVector && i < lastVector ? lastVector : i + 32) {
            __m256i vc = Load32(c + i), vl = Load32(c + i - Bpp), vr = Load32(c + i + Bpp);
            __m256i vu = Load32(a + i), vd = Load32(belowLine + i);
            Store32(b + i, vd);
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

// The AVX2 sharpen pass of YUY2 works on planes:
// each line is split once, when it first becomes the line below, into one
// array of 16-bit values per channel. The pass over a line then loads its
// five neighbours straight from the planes, and every channel of sixteen
// pixels is sharpened with 16-bit arithmetic.
struct CPlanes16 {
    explicit CPlanes16(size_t n)
        : ch{std::vector<int16_t>(n), std::vector<int16_t>(n), std::vector<int16_t>(n)} {}
    std::vector<int16_t> ch[3];
};

// Rolling planes of the lines above, at and below the line being sharpened.
class CPlaneWindow {
public:
    explicit CPlaneWindow(size_t n) : m_planes{CPlanes16(n), CPlanes16(n), CPlanes16(n)} {}
    CPlanes16& Above() { return *m_above; }
    CPlanes16& Current() { return *m_current; }
    CPlanes16& Below() { return *m_below; }
    void Advance() {
        std::swap(m_above, m_current);
        std::swap(m_current, m_below);
    }

private:
    CPlanes16 m_planes[3];
    CPlanes16 *m_above = &m_planes[0], *m_current = &m_planes[1], *m_below = &m_planes[2];
};

// Room past the last pixel of a line for the widest vector read.
constexpr size_t kPlanePadding = 32;

VT_AVX2 inline __m256i LoadPlane(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
VT_AVX2 inline void StorePlane(int16_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Channel 'ch' of sixteen pixels from x on, sharpened but not yet saturated.
VT_AVX2_INLINE __m256i SharpenPlanes16(const CPlanes16& a, const CPlanes16& c, const CPlanes16& b,
                                       int ch, size_t x, __m256i centreWeight, __m256i sideWeight) {
    const int16_t* cur = c.ch[ch].data() + x;
    __m256i sum = _mm256_add_epi16(
        _mm256_add_epi16(LoadPlane(cur - 1), LoadPlane(cur + 1)),
        _mm256_add_epi16(LoadPlane(a.ch[ch].data() + x), LoadPlane(b.ch[ch].data() + x)));
    __m256i v = _mm256_sub_epi16(_mm256_mullo_epi16(LoadPlane(cur), centreWeight),
                                 _mm256_mullo_epi16(sum, sideWeight));
    return _mm256_srai_epi16(v, 2);
}

VT_AVX2_INLINE __m256i Saturate16(__m256i v, __m256i maxValue) {
    return _mm256_min_epi16(_mm256_max_epi16(v, _mm256_setzero_si256()), maxValue);
}

inline int SharpenPlanesScalar(int level, const CPlanes16& a, const CPlanes16& c,
                               const CPlanes16& b, int ch, size_t x, int maxValue) {
    const int16_t* cur = c.ch[ch].data();
    return SharpenValue(level, cur[x], cur[x - 1], cur[x + 1], a.ch[ch][x], b.ch[ch][x], maxValue);
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
    constexpr int kMax = (1 << kBits) - 1;
    __m256i v;
    if constexpr (kShift > 0 && (4 * kMax << kShift) < 65536) {
        // A middle channel: the four neighbours add up in place without
        // reaching the bits above, and one shift brings the sum down.
        const __m256i mask = _mm256_set1_epi16(static_cast<short>(kMax << kShift));
        __m256i sum = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_and_si256(vl, mask), _mm256_and_si256(vr, mask)),
            _mm256_add_epi16(_mm256_and_si256(vu, mask), _mm256_and_si256(vd, mask)));
        sum = _mm256_srli_epi16(sum, kShift);
        v = _mm256_srai_epi16(
            _mm256_sub_epi16(_mm256_mullo_epi16(PackedChannel<kShift, kBits>(vc), centreWeight),
                             _mm256_mullo_epi16(sum, sideWeight)),
            2);
    } else if constexpr (kShift >= 2 && kShift + kBits < 16) {
        // A masked channel whose sum would run past bit 15: halving
        // averages of values in place lose nothing while the channel's
        // lowest bit stays above bit 1, and leave the sum four times smaller.
        const __m256i mask = _mm256_set1_epi16(static_cast<short>(kMax << kShift));
        __m256i sum = _mm256_avg_epu16(
            _mm256_avg_epu16(_mm256_and_si256(vl, mask), _mm256_and_si256(vr, mask)),
            _mm256_avg_epu16(_mm256_and_si256(vu, mask), _mm256_and_si256(vd, mask)));
        sum = _mm256_srli_epi16(sum, kShift - 2);
        v = _mm256_srai_epi16(
            _mm256_sub_epi16(_mm256_mullo_epi16(PackedChannel<kShift, kBits>(vc), centreWeight),
                             _mm256_mullo_epi16(sum, sideWeight)),
            2);
    } else {
        v = SharpenHalf32(PackedChannel<kShift, kBits>(vc), PackedChannel<kShift, kBits>(vl),
                          PackedChannel<kShift, kBits>(vr), PackedChannel<kShift, kBits>(vu),
                          PackedChannel<kShift, kBits>(vd), centreWeight, sideWeight);
    }
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
    // Lines wide enough for the vector loop copy the line below while they
    // read it; the loop covers pixels 1 .. width - 2, the ends go alone.
    const bool copyInLoop = width >= 18;
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        const BYTE* belowLine = frame + (y + 1) * step;
        BYTE* b = w.Below();
        if (copyInLoop) {
            std::memcpy(b, belowLine, 2);
            std::memcpy(b + lineBytes - 2, belowLine + lineBytes - 2, 2);
        } else {
            std::memcpy(b, belowLine, lineBytes);
        }
        const BYTE *a = w.Above(), *c = w.Current();
        BYTE* line = frame + y * step;
        // The last vector may overlap the one before it: it recomputes the
        // same values from the line copies, so no pixel of a wide line is
        // left to the scalar loop.
        int x = 1;
        const int lastVector = width >= 18 ? width - 17 : 1;
        for (; x + 16 <= width - 1;
             x = x + 16 > lastVector && x < lastVector ? lastVector : x + 16) {
            __m256i vc = Load32(c + 2 * x), vl = Load32(c + 2 * x - 2), vr = Load32(c + 2 * x + 2);
            __m256i vu = Load32(a + 2 * x), vd = Load32(belowLine + 2 * x);
            Store32(b + 2 * x, vd);
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

// YUY2: the planes hold blue, green and red (0..255) of every pixel of a
// line's macropixels. Sixteen pixels (eight macropixels) convert at a time:
// the luma terms of the even and odd pixels in 32-bit lanes, the chroma
// terms once per macropixel.
// Constants the compiler must not see through: it would otherwise turn
// some 16-bit multiplications into longer runs of shifts and adds.
VT_AVX2 inline __m256i Opaque(__m256i v) {
    __asm__("" : "+x"(v));
    return v;
}

// One channel of sixteen pixels: the 16.16 sums of the even pixels in the
// 32-bit lanes of 'even', of the odd pixels in 'odd'. The integer parts are
// the upper halves, taken in pixel order and saturated to 0..255.
VT_AVX2 inline void StoreYuy2Channel(int16_t* out, __m256i even, __m256i odd, __m256i maxValue) {
    __m256i both = _mm256_blend_epi16(_mm256_srli_epi32(even, 16), odd, 0xAA);
    StorePlane(out, Saturate16(both, maxValue));
}

VT_AVX2 void Yuy2LineToPlanes(const BYTE* line, CPlanes16& p, int pairs) {
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256i maxValue = _mm256_set1_epi16(255);
    const __m256i lumaFactor = _mm256_set1_epi32(76309);
    const __m256i blueU = _mm256_set1_epi32(132252), greenV = _mm256_set1_epi32(53281),
                  greenU = _mm256_set1_epi32(25625), redV = _mm256_set1_epi32(104595);
    // (y - 16) * 76309 with the -16 folded into each channel's constant.
    const int lumaOffset = -16 * 76309;
    const __m256i blueOffset = _mm256_set1_epi32(lumaOffset - 16895488),
                  greenOffset = _mm256_set1_epi32(lumaOffset + 10132736),
                  redOffset = _mm256_set1_epi32(lumaOffset - 13355392);
    // Eight macropixels at a time; a last vector that overlaps the one
    // before it finishes the line.
    const int lastVector = pairs - 8;
    for (int m = 0; m + 8 <= pairs; m = m + 8 > lastVector && m < lastVector ? lastVector : m + 8) {
        __m256i src = Load32(line + 4 * m);
        __m256i y0 = _mm256_and_si256(src, low);
        __m256i y1 = _mm256_and_si256(_mm256_srli_epi32(src, 16), low);
        __m256i u = _mm256_and_si256(_mm256_srli_epi32(src, 8), low);
        __m256i v = _mm256_srli_epi32(src, 24);
        __m256i l0 = _mm256_mullo_epi32(y0, lumaFactor);
        __m256i l1 = _mm256_mullo_epi32(y1, lumaFactor);
        __m256i cb = _mm256_add_epi32(_mm256_mullo_epi32(u, blueU), blueOffset);
        __m256i cg = _mm256_sub_epi32(greenOffset, _mm256_mullo_epi32(v, greenV));
        cg = _mm256_sub_epi32(cg, _mm256_mullo_epi32(u, greenU));
        __m256i cr = _mm256_add_epi32(_mm256_mullo_epi32(v, redV), redOffset);
        const size_t x = size_t(2 * m);
        StoreYuy2Channel(p.ch[0].data() + x, _mm256_add_epi32(l0, cb), _mm256_add_epi32(l1, cb),
                         maxValue);
        StoreYuy2Channel(p.ch[1].data() + x, _mm256_add_epi32(l0, cg), _mm256_add_epi32(l1, cg),
                         maxValue);
        StoreYuy2Channel(p.ch[2].data() + x, _mm256_add_epi32(l0, cr), _mm256_add_epi32(l1, cr),
                         maxValue);
    }
    for (int m = pairs < 8 ? 0 : pairs; m < pairs; ++m) {
        const BYTE* mp = line + 4 * m;
        for (int k = 0; k < 2; ++k) {
            BYTE bgr[3];
            Yuy2ToBgr(mp[2 * k], mp[1], mp[3], bgr);
            for (int ch = 0; ch < 3; ++ch)
                p.ch[ch][size_t(2 * m + k)] = bgr[ch];
        }
    }
}

// The multipliers and offsets of the YUY2 pass, built once per frame.
struct CYuy2Constants {
    __m256i centreWeight, sideWeight, max8, sixteen;
    __m256i lumaHiG, lumaHiB, lumaHiR, lumaHiOffset, lumaLoG, lumaLoR;
    __m256i chromaT, chromaFraction, factorU, factorV, round;
};

VT_AVX2 inline CYuy2Constants MakeYuy2Constants(int level) {
    CYuy2Constants k;
    k.centreWeight = _mm256_set1_epi16(static_cast<short>(8 * level));
    k.sideWeight = _mm256_set1_epi16(static_cast<short>(2 * level - 1));
    k.max8 = _mm256_set1_epi16(255);
    k.sixteen = _mm256_set1_epi16(16);
    k.lumaHiG = Opaque(_mm256_set1_epi16(129));
    k.lumaHiB = Opaque(_mm256_set1_epi16(25));
    k.lumaHiR = Opaque(_mm256_set1_epi16(65));
    k.lumaHiOffset = _mm256_set1_epi16(4224);
    k.lumaLoG = Opaque(_mm256_set1_epi16(15));
    k.lumaLoR = Opaque(_mm256_set1_epi16(189));
    k.chromaT = Opaque(_mm256_set1_epi16(-148));
    k.chromaFraction = _mm256_set1_epi16(-534);
    k.factorU = _mm256_set1_epi16(kChromaFactorU);
    k.factorV = _mm256_set1_epi16(kChromaFactorV);
    k.round = _mm256_set1_epi16(257);
    return k;
}

// Eight macropixels from pixel x on: the sharpened blue and red and the new
// luma of each of the sixteen pixels.
VT_AVX2_INLINE void SharpenYuy2Block(const CPlanes16& a, const CPlanes16& c, const CPlanes16& b,
                                     size_t x, const CYuy2Constants& k, __m256i& luma,
                                     __m256i& blue, __m256i& red) {
    blue = Saturate16(SharpenPlanes16(a, c, b, 0, x, k.centreWeight, k.sideWeight), k.max8);
    __m256i g = Saturate16(SharpenPlanes16(a, c, b, 1, x, k.centreWeight, k.sideWeight), k.max8);
    red = Saturate16(SharpenPlanes16(a, c, b, 2, x, k.centreWeight, k.sideWeight), k.max8);
    // The 16.16 luma sum split into its upper and lower bytes so that both
    // stay within 16 unsigned bits:
    // 33039 g + 6416 b + 16829 r + 1081344 = 256 * hi + lo.
    __m256i hi =
        _mm256_add_epi16(_mm256_mullo_epi16(g, k.lumaHiG), _mm256_mullo_epi16(blue, k.lumaHiB));
    hi = _mm256_add_epi16(hi, _mm256_add_epi16(_mm256_mullo_epi16(red, k.lumaHiR), k.lumaHiOffset));
    __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(g, k.lumaLoG), _mm256_slli_epi16(blue, 4));
    lo = _mm256_add_epi16(lo, _mm256_mullo_epi16(red, k.lumaLoR));
    luma = _mm256_srli_epi16(_mm256_add_epi16(hi, _mm256_srli_epi16(lo, 8)), 8);
}

// The even words of 'a' and, moved into the odd words, those of 'b'.
VT_AVX2_INLINE __m256i GatherEven(__m256i a, __m256i b) {
    return _mm256_blend_epi16(a, _mm256_slli_epi32(b, 16), 0xAA);
}

// Chroma of sixteen macropixels from their first pixels' blue, red and luma,
// gathered from two blocks (the even pixels of block A in the even words,
// those of block B in the odd ones).
// ((c << 16) - (y - 16) * 76310) >> 10 is 64 c + t with
// t = -74 (y - 16) + floor(-534 (y - 16) / 1024); the factor and the
// rounding constant then come to (floor(2 (64 c + t) * f / 65536) + 257) / 2.
VT_AVX2_INLINE void StoreYuy2Pair(BYTE* outA, BYTE* outB, __m256i lumaA, __m256i blueA,
                                  __m256i redA, __m256i lumaB, __m256i blueB, __m256i redB,
                                  const CYuy2Constants& k) {
    __m256i ym16 = _mm256_sub_epi16(GatherEven(lumaA, lumaB), k.sixteen);
    __m256i t2 = _mm256_add_epi16(
        _mm256_mullo_epi16(ym16, k.chromaT),
        _mm256_slli_epi16(_mm256_mulhi_epi16(_mm256_slli_epi16(ym16, 6), k.chromaFraction), 1));
    __m256i u2 = _mm256_add_epi16(_mm256_slli_epi16(GatherEven(blueA, blueB), 7), t2);
    __m256i v2 = _mm256_add_epi16(_mm256_slli_epi16(GatherEven(redA, redB), 7), t2);
    __m256i u = _mm256_srai_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(u2, k.factorU), k.round), 1);
    __m256i v = _mm256_srai_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(v2, k.factorV), k.round), 1);
    u = Saturate16(u, k.max8);
    v = Saturate16(v, k.max8);
    // Each macropixel's U goes above its first luma byte, V above the second.
    __m256i chromaA = _mm256_blend_epi16(u, _mm256_slli_epi32(v, 16), 0xAA);
    __m256i chromaB = _mm256_blend_epi16(_mm256_srli_epi32(u, 16), v, 0xAA);
    Store32(outA, _mm256_or_si256(lumaA, _mm256_slli_epi16(chromaA, 8)));
    Store32(outB, _mm256_or_si256(lumaB, _mm256_slli_epi16(chromaB, 8)));
}

// Two blocks of eight macropixels, from macropixels mA and mB on.
VT_AVX2_INLINE void SharpenYuy2BlockPair(const CPlanes16& a, const CPlanes16& c, const CPlanes16& b,
                                         BYTE* line, int mA, int mB, const CYuy2Constants& k) {
    __m256i lumaA, blueA, redA, lumaB, blueB, redB;
    SharpenYuy2Block(a, c, b, size_t(2 * mA), k, lumaA, blueA, redA);
    SharpenYuy2Block(a, c, b, size_t(2 * mB), k, lumaB, blueB, redB);
    StoreYuy2Pair(line + 4 * mA, line + 4 * mB, lumaA, blueA, redA, lumaB, blueB, redB, k);
}

VT_AVX2 void SharpenYuy2Avx2(BYTE* frame, ptrdiff_t step, int width, int height, int level) {
    if (width < 6 || height < 3)
        return;
    const int pairs = width / 2;
    const CYuy2Constants k = MakeYuy2Constants(level);
    CPlaneWindow w(size_t(width) + kPlanePadding);
    Yuy2LineToPlanes(frame, w.Current(), pairs);
    Yuy2LineToPlanes(frame + step, w.Below(), pairs);
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        Yuy2LineToPlanes(frame + (y + 1) * step, w.Below(), pairs);
        const CPlanes16 &a = w.Above(), &c = w.Current(), &b = w.Below();
        BYTE* line = frame + y * step;
        // Macropixels 1 .. pairs - 2 in pairs of blocks of eight; blocks
        // may overlap, recomputing the same values from the planes.
        int m = 1;
        if (pairs >= 18) {
            const int lastPair = pairs - 17;
            for (; m <= lastPair; m = m + 16 > lastPair && m < lastPair ? lastPair : m + 16)
                SharpenYuy2BlockPair(a, c, b, line, m, m + 8, k);
            m = pairs - 1;
        } else if (pairs >= 10) {
            SharpenYuy2BlockPair(a, c, b, line, 1, pairs - 9, k);
            m = pairs - 1;
        }
        for (; m <= pairs - 2; ++m) {
            int sharp[2][3];
            for (int p = 0; p < 2; ++p)
                for (int ch = 0; ch < 3; ++ch)
                    sharp[p][ch] = SharpenPlanesScalar(level, a, c, b, ch, size_t(2 * m + p), 255);
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

// AVX-512 versions of the 16-bit sharpen passes (YUY2, 5-5-5, 5-6-5): the
// AVX2 arithmetic on 32 pixels at a time, with twice the registers. Lines
// too narrow for one such vector go to the AVX2 passes whole.
#define VT_AVX512 __attribute__((target("avx512f,avx512bw")))
#define VT_AVX512_INLINE __attribute__((target("avx512f,avx512bw"), always_inline)) inline

VT_AVX512_INLINE __m512i Load64(const void* p) {
    return _mm512_loadu_si512(p);
}
VT_AVX512_INLINE void Store64(void* p, __m512i v) {
    _mm512_storeu_si512(p, v);
}
VT_AVX512_INLINE __m512i Saturate512(__m512i v, __m512i maxValue) {
    return _mm512_min_epi16(_mm512_max_epi16(v, _mm512_setzero_si512()), maxValue);
}
VT_AVX512_INLINE __m512i SharpenSum512(__m512i c, __m512i sum, __m512i centreWeight,
                                       __m512i sideWeight) {
    return _mm512_srai_epi16(
        _mm512_sub_epi16(_mm512_mullo_epi16(c, centreWeight), _mm512_mullo_epi16(sum, sideWeight)),
        2);
}

// 32-bit shifts through the zero-masking forms: the plain ones of some
// compilers' headers start from an undefined vector and draw warnings.
template <int kBits>
VT_AVX512_INLINE __m512i SrlI32(__m512i v) {
    return _mm512_maskz_srli_epi32(__mmask16(0xFFFF), v, kBits);
}
template <int kBits>
VT_AVX512_INLINE __m512i SllI32(__m512i v) {
    return _mm512_maskz_slli_epi32(__mmask16(0xFFFF), v, kBits);
}

// Odd 16-bit words of a 512-bit vector, for the blends of the AVX2 code.
constexpr __mmask32 kOddWords = 0xAAAAAAAAu;

template <int kShift, int kBits>
VT_AVX512_INLINE __m512i PackedChannel512(__m512i v) {
    __m512i x = kShift ? _mm512_srli_epi16(v, kShift) : v;
    if (kShift + kBits < 16)
        x = _mm512_and_si512(x, _mm512_set1_epi16(static_cast<short>((1 << kBits) - 1)));
    return x;
}

// As SharpenPackedChannel: the same three ways of summing the neighbours.
template <int kShift, int kBits>
VT_AVX512_INLINE __m512i SharpenPackedChannel512(__m512i vc, __m512i vl, __m512i vr, __m512i vu,
                                                 __m512i vd, __m512i centreWeight,
                                                 __m512i sideWeight) {
    constexpr int kMax = (1 << kBits) - 1;
    __m512i sum;
    if constexpr (kShift > 0 && (4 * kMax << kShift) < 65536) {
        const __m512i mask = _mm512_set1_epi16(static_cast<short>(kMax << kShift));
        sum = _mm512_add_epi16(
            _mm512_add_epi16(_mm512_and_si512(vl, mask), _mm512_and_si512(vr, mask)),
            _mm512_add_epi16(_mm512_and_si512(vu, mask), _mm512_and_si512(vd, mask)));
        sum = _mm512_srli_epi16(sum, kShift);
    } else if constexpr (kShift >= 2 && kShift + kBits < 16) {
        const __m512i mask = _mm512_set1_epi16(static_cast<short>(kMax << kShift));
        sum = _mm512_avg_epu16(
            _mm512_avg_epu16(_mm512_and_si512(vl, mask), _mm512_and_si512(vr, mask)),
            _mm512_avg_epu16(_mm512_and_si512(vu, mask), _mm512_and_si512(vd, mask)));
        sum = _mm512_srli_epi16(sum, kShift - 2);
    } else {
        sum = _mm512_add_epi16(_mm512_add_epi16(PackedChannel512<kShift, kBits>(vl),
                                                PackedChannel512<kShift, kBits>(vr)),
                               _mm512_add_epi16(PackedChannel512<kShift, kBits>(vu),
                                                PackedChannel512<kShift, kBits>(vd)));
    }
    __m512i v = SharpenSum512(PackedChannel512<kShift, kBits>(vc), sum, centreWeight, sideWeight);
    v = Saturate512(v, _mm512_set1_epi16(static_cast<short>(kMax)));
    return kShift ? _mm512_slli_epi16(v, kShift) : v;
}

template <int kShiftR, int kBitsG, uint16_t kKeep>
VT_AVX512 void SharpenPackedAvx512(BYTE* frame, ptrdiff_t step, int width, int height, int level) {
    if (width < 34) {
        SharpenPackedAvx2<kShiftR, kBitsG, kKeep>(frame, step, width, height, level);
        return;
    }
    if (height < 3)
        return;
    const size_t lineBytes = size_t(width) * 2;
    const __m512i centreWeight = _mm512_set1_epi16(static_cast<short>(8 * level));
    const __m512i sideWeight = _mm512_set1_epi16(static_cast<short>(2 * level - 1));
    const __m512i keep = _mm512_set1_epi16(static_cast<short>(kKeep));
    CLines<BYTE> w(lineBytes);
    std::memcpy(w.Current(), frame, lineBytes);
    std::memcpy(w.Below(), frame + step, lineBytes);
    // Vectors of pixels 1 .. width - 2 (the last one overlapping the one
    // before it) copy the line below as they read it; its ends go alone.
    const int lastVector = width - 33;
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        const BYTE* belowLine = frame + (y + 1) * step;
        BYTE* b = w.Below();
        std::memcpy(b, belowLine, 2);
        std::memcpy(b + lineBytes - 2, belowLine + lineBytes - 2, 2);
        const BYTE *a = w.Above(), *c = w.Current();
        BYTE* line = frame + y * step;
        for (int x = 1;; x = x + 32 > lastVector ? lastVector : x + 32) {
            __m512i vc = Load64(c + 2 * x), vl = Load64(c + 2 * x - 2), vr = Load64(c + 2 * x + 2);
            __m512i vu = Load64(a + 2 * x), vd = Load64(belowLine + 2 * x);
            Store64(b + 2 * x, vd);
            __m512i r = _mm512_and_si512(vc, keep);
            r = _mm512_or_si512(r, SharpenPackedChannel512<kShiftR, 5>(vc, vl, vr, vu, vd,
                                                                       centreWeight, sideWeight));
            r = _mm512_or_si512(r, SharpenPackedChannel512<5, kBitsG>(vc, vl, vr, vu, vd,
                                                                      centreWeight, sideWeight));
            r = _mm512_or_si512(
                r, SharpenPackedChannel512<0, 5>(vc, vl, vr, vu, vd, centreWeight, sideWeight));
            Store64(line + 2 * x, r);
            if (x == lastVector)
                break;
        }
    }
}

// One channel of thirty-two YUY2 pixels from the 16.16 sums of the even
// pixels ('even') and the odd ones ('odd'), as StoreYuy2Channel.
// One word permute takes the upper words of both in pixel order.
VT_AVX512_INLINE void StoreYuy2Channel512(int16_t* out, __m512i even, __m512i odd, __m512i maxValue,
                                          __m512i upperWords) {
    __m512i both = _mm512_permutex2var_epi16(even, upperWords, odd);
    Store64(out, Saturate512(both, maxValue));
}

// Rows of the three channels of one line, as CPlanes16 holds them.
struct CPlaneRows {
    int16_t* ch[3];
};

// Lines of at least sixteen macropixels only.
VT_AVX512 void Yuy2LineToPlanes512(const BYTE* line, const CPlaneRows& p, int pairs) {
    const __m512i low = _mm512_set1_epi32(0xFF);
    const __m512i maxValue = _mm512_set1_epi16(255);
    const __m512i lumaFactor = _mm512_set1_epi32(76309);
    const __m512i blueU = _mm512_set1_epi32(132252), greenV = _mm512_set1_epi32(53281),
                  greenU = _mm512_set1_epi32(25625), redV = _mm512_set1_epi32(104595);
    const int lumaOffset = -16 * 76309;
    // Word 2 m + 1 of 'even' (index 2 m + 1), then word 2 m + 1 of 'odd'
    // (index 32 + 2 m + 1), for every 32-bit lane m.
    const __m512i upperWords =
        _mm512_set_epi16(63, 31, 61, 29, 59, 27, 57, 25, 55, 23, 53, 21, 51, 19, 49, 17, 47, 15, 45,
                         13, 43, 11, 41, 9, 39, 7, 37, 5, 35, 3, 33, 1);
    const __m512i blueOffset = _mm512_set1_epi32(lumaOffset - 16895488),
                  greenOffset = _mm512_set1_epi32(lumaOffset + 10132736),
                  redOffset = _mm512_set1_epi32(lumaOffset - 13355392);
    // Sixteen macropixels at a time, the last vector overlapping the one
    // before it.
    const int lastVector = pairs - 16;
    for (int m = 0;; m = m + 16 > lastVector ? lastVector : m + 16) {
        __m512i src = Load64(line + 4 * m);
        __m512i y0 = _mm512_and_si512(src, low);
        __m512i y1 = _mm512_and_si512(SrlI32<16>(src), low);
        __m512i u = _mm512_and_si512(SrlI32<8>(src), low);
        __m512i v = SrlI32<24>(src);
        __m512i l0 = _mm512_mullo_epi32(y0, lumaFactor);
        __m512i l1 = _mm512_mullo_epi32(y1, lumaFactor);
        __m512i cb = _mm512_add_epi32(_mm512_mullo_epi32(u, blueU), blueOffset);
        __m512i cg = _mm512_sub_epi32(greenOffset, _mm512_mullo_epi32(v, greenV));
        cg = _mm512_sub_epi32(cg, _mm512_mullo_epi32(u, greenU));
        __m512i cr = _mm512_add_epi32(_mm512_mullo_epi32(v, redV), redOffset);
        const size_t x = size_t(2 * m);
        StoreYuy2Channel512(p.ch[0] + x, _mm512_add_epi32(l0, cb), _mm512_add_epi32(l1, cb),
                            maxValue, upperWords);
        StoreYuy2Channel512(p.ch[1] + x, _mm512_add_epi32(l0, cg), _mm512_add_epi32(l1, cg),
                            maxValue, upperWords);
        StoreYuy2Channel512(p.ch[2] + x, _mm512_add_epi32(l0, cr), _mm512_add_epi32(l1, cr),
                            maxValue, upperWords);
        if (m == lastVector)
            break;
    }
}

VT_AVX512_INLINE __m512i Opaque512(__m512i v) {
    __asm__("" : "+v"(v));
    return v;
}

struct CYuy2Constants512 {
    __m512i centreWeight, sideWeight, max8, sixteen;
    __m512i lumaHiG, lumaHiB, lumaHiR, lumaHiOffset, lumaLoG, lumaLoR;
    __m512i chromaT, chromaFraction, factorU, factorV, round;
};

VT_AVX512 inline CYuy2Constants512 MakeYuy2Constants512(int level) {
    CYuy2Constants512 k;
    k.centreWeight = _mm512_set1_epi16(static_cast<short>(8 * level));
    k.sideWeight = _mm512_set1_epi16(static_cast<short>(2 * level - 1));
    k.max8 = _mm512_set1_epi16(255);
    k.sixteen = _mm512_set1_epi16(16);
    k.lumaHiG = Opaque512(_mm512_set1_epi16(129));
    k.lumaHiB = Opaque512(_mm512_set1_epi16(25));
    k.lumaHiR = Opaque512(_mm512_set1_epi16(65));
    k.lumaHiOffset = _mm512_set1_epi16(4224);
    k.lumaLoG = Opaque512(_mm512_set1_epi16(15));
    k.lumaLoR = Opaque512(_mm512_set1_epi16(189));
    k.chromaT = Opaque512(_mm512_set1_epi16(-148));
    k.chromaFraction = _mm512_set1_epi16(-534);
    k.factorU = _mm512_set1_epi16(kChromaFactorU);
    k.factorV = _mm512_set1_epi16(kChromaFactorV);
    k.round = _mm512_set1_epi16(257);
    return k;
}

VT_AVX512_INLINE __m512i SharpenPlanes512(const CPlaneRows& a, const CPlaneRows& c,
                                          const CPlaneRows& b, int ch, size_t x,
                                          const CYuy2Constants512& k) {
    const int16_t* cur = c.ch[ch] + x;
    __m512i sum = _mm512_add_epi16(_mm512_add_epi16(Load64(cur - 1), Load64(cur + 1)),
                                   _mm512_add_epi16(Load64(a.ch[ch] + x), Load64(b.ch[ch] + x)));
    return Saturate512(SharpenSum512(Load64(cur), sum, k.centreWeight, k.sideWeight), k.max8);
}

// Sixteen macropixels from pixel x on, as SharpenYuy2Block.
VT_AVX512_INLINE void SharpenYuy2Block512(const CPlaneRows& a, const CPlaneRows& c,
                                          const CPlaneRows& b, size_t x, const CYuy2Constants512& k,
                                          __m512i& luma, __m512i& blue, __m512i& red) {
    blue = SharpenPlanes512(a, c, b, 0, x, k);
    __m512i g = SharpenPlanes512(a, c, b, 1, x, k);
    red = SharpenPlanes512(a, c, b, 2, x, k);
    __m512i hi =
        _mm512_add_epi16(_mm512_mullo_epi16(g, k.lumaHiG), _mm512_mullo_epi16(blue, k.lumaHiB));
    hi = _mm512_add_epi16(hi, _mm512_add_epi16(_mm512_mullo_epi16(red, k.lumaHiR), k.lumaHiOffset));
    __m512i lo = _mm512_add_epi16(_mm512_mullo_epi16(g, k.lumaLoG), _mm512_slli_epi16(blue, 4));
    lo = _mm512_add_epi16(lo, _mm512_mullo_epi16(red, k.lumaLoR));
    luma = _mm512_srli_epi16(_mm512_add_epi16(hi, _mm512_srli_epi16(lo, 8)), 8);
}

VT_AVX512_INLINE __m512i GatherEven512(__m512i a, __m512i b) {
    return _mm512_mask_blend_epi16(kOddWords, a, SllI32<16>(b));
}

// As StoreYuy2Pair, on two blocks of sixteen macropixels.
VT_AVX512_INLINE void StoreYuy2Pair512(BYTE* outA, BYTE* outB, __m512i lumaA, __m512i blueA,
                                       __m512i redA, __m512i lumaB, __m512i blueB, __m512i redB,
                                       const CYuy2Constants512& k) {
    __m512i ym16 = _mm512_sub_epi16(GatherEven512(lumaA, lumaB), k.sixteen);
    __m512i t2 = _mm512_add_epi16(
        _mm512_mullo_epi16(ym16, k.chromaT),
        _mm512_slli_epi16(_mm512_mulhi_epi16(_mm512_slli_epi16(ym16, 6), k.chromaFraction), 1));
    __m512i u2 = _mm512_add_epi16(_mm512_slli_epi16(GatherEven512(blueA, blueB), 7), t2);
    __m512i v2 = _mm512_add_epi16(_mm512_slli_epi16(GatherEven512(redA, redB), 7), t2);
    __m512i u = _mm512_srai_epi16(_mm512_add_epi16(_mm512_mulhi_epi16(u2, k.factorU), k.round), 1);
    __m512i v = _mm512_srai_epi16(_mm512_add_epi16(_mm512_mulhi_epi16(v2, k.factorV), k.round), 1);
    u = Saturate512(u, k.max8);
    v = Saturate512(v, k.max8);
    __m512i chromaA = _mm512_mask_blend_epi16(kOddWords, u, SllI32<16>(v));
    __m512i chromaB = _mm512_mask_blend_epi16(kOddWords, SrlI32<16>(u), v);
    Store64(outA, _mm512_or_si512(lumaA, _mm512_slli_epi16(chromaA, 8)));
    Store64(outB, _mm512_or_si512(lumaB, _mm512_slli_epi16(chromaB, 8)));
}

// With byte permutes and byte dot products (AVX-512 VBMI and VNNI): each
// block's sharpened channels saturate by packing to bytes, two at a time;
// the luma of each pixel is two dot products on its bytes (b, g, r, g):
// 256 (25 b + 129 g + 66 r + 4224) + (16 b + 15 g - 67 r) is the 16.16 luma
// sum, so its third byte is the luma. The chroma of both blocks' first
// pixels is then reckoned as in StoreYuy2Pair512, U and V saturate together
// by one pack, and each output vector is one byte permute of its lumas and
// the packed chroma.
#define VT_AVX512ICL __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni")))

struct CYuy2Permutes {
    __m512i evenWords, evenBytes, pixels[2], lumaBytes, outA, outB, leftBytes, rightBytes;
    __m512i lumaHi, lumaLo, lumaOffset;
};

// Even bytes of a 512-bit vector: zero-extended to words by the permutes.
constexpr __mmask64 kEvenBytes = 0x5555555555555555ull;

VT_AVX512ICL inline CYuy2Permutes MakeYuy2Permutes() {
    alignas(64) int16_t even[32];
    alignas(64) uint8_t evenBytes[64] = {}, pixels[2][64], lumaBytes[64] = {}, outA[64], outB[64],
                        left[64], right[64];
    alignas(64) int8_t hi[64], lo[64];
    // A pack of two 16-bit vectors leaves in each 16-byte lane L the bytes
    // of words 8 L .. 8 L + 7 of the first, then those of the second.
    auto packed = [](int pixel) { return 16 * (pixel / 8) + pixel % 8; };
    for (int i = 0; i < 32; ++i) {
        even[i] = static_cast<int16_t>(2 * i);
        // Pixel 2 i of block A (i < 16) or 2 (i - 16) of block B.
        evenBytes[2 * i] = uint8_t(64 * (i / 16) + packed(2 * (i % 16)));
    }
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 16; ++j) {
            const int pixel = 16 * k + j;
            pixels[k][4 * j] = uint8_t(packed(pixel));           // blue
            pixels[k][4 * j + 1] = uint8_t(packed(pixel) + 8);   // green
            pixels[k][4 * j + 2] = uint8_t(64 + packed(pixel));  // red
            pixels[k][4 * j + 3] = uint8_t(packed(pixel) + 8);   // green
        }
    // Left neighbours: word i - 1 of the centre (byte indices 64 and up),
    // for word 0 the last word of the vector before it. Right neighbours:
    // word i + 1 of the centre, for word 31 the first word of the vector
    // after it (byte indices 64 and 65).
    for (int i = 0; i < 64; ++i) {
        left[i] = uint8_t(62 + i);
        right[i] = uint8_t(i + 2);
    }
    for (int i = 0; i < 32; ++i)
        lumaBytes[2 * i] = uint8_t(64 * (i / 16) + 4 * (i % 16) + 2);
    const int8_t hiWeights[4] = {25, 127, 66, 2}, loWeights[4] = {16, 15, -67, 0};
    for (int i = 0; i < 64; ++i) {
        hi[i] = hiWeights[i % 4];
        lo[i] = loWeights[i % 4];
    }
    // The packed chroma holds in each 16-byte lane eight U bytes then
    // eight V bytes; lanes 0 and 1 are block A's macropixels, 2 and 3 B's.
    // Indices 64 and up pick from the packed chroma.
    for (int j = 0; j < 16; ++j) {
        const int u = 64 + packed(j);
        outA[4 * j] = outB[4 * j] = uint8_t(4 * j);
        outA[4 * j + 2] = outB[4 * j + 2] = uint8_t(4 * j + 2);
        outA[4 * j + 1] = uint8_t(u);
        outA[4 * j + 3] = uint8_t(u + 8);
        outB[4 * j + 1] = uint8_t(u + 32);
        outB[4 * j + 3] = uint8_t(u + 40);
    }
    CYuy2Permutes p;
    p.evenWords = Load64(even);
    p.leftBytes = Load64(left);
    p.rightBytes = Load64(right);
    p.evenBytes = Load64(evenBytes);
    p.pixels[0] = Load64(pixels[0]);
    p.pixels[1] = Load64(pixels[1]);
    p.lumaBytes = Load64(lumaBytes);
    p.outA = Load64(outA);
    p.outB = Load64(outB);
    p.lumaHi = Load64(hi);
    p.lumaLo = Load64(lo);
    p.lumaOffset = _mm512_set1_epi32(4224);
    return p;
}

// Channel 'ch' of thirty-two pixels from x on, sharpened, not saturated.
// The left and right neighbours are taken from the centre vector and the
// vectors before and after it by byte permutes (one instruction wherever
// VBMI is, unlike the word permutes): a load one word off would straddle
// two cache lines every time.
VT_AVX512ICL inline __m512i SharpenChannel512(const CPlaneRows& a, const CPlaneRows& c,
                                              const CPlaneRows& b, int ch, size_t x,
                                              const CYuy2Constants512& k, const CYuy2Permutes& p) {
    const int16_t* cur = c.ch[ch] + x;
    __m512i centre = Load64(cur);
    __m512i left = _mm512_permutex2var_epi8(Load64(cur - 32), p.leftBytes, centre);
    __m512i right = _mm512_permutex2var_epi8(centre, p.rightBytes, Load64(cur + 32));
    __m512i sum = _mm512_add_epi16(_mm512_add_epi16(left, right),
                                   _mm512_add_epi16(Load64(a.ch[ch] + x), Load64(b.ch[ch] + x)));
    return SharpenSum512(centre, sum, k.centreWeight, k.sideWeight);
}

// Sixteen macropixels from pixel x on: the luma of each pixel (16-bit),
// blue and green saturated to bytes as packed by _mm512_packus_epi16, and
// red likewise (twice over).
VT_AVX512ICL inline void SharpenYuy2BlockIcl(const CPlaneRows& a, const CPlaneRows& c,
                                             const CPlaneRows& b, size_t x,
                                             const CYuy2Constants512& k, const CYuy2Permutes& p,
                                             __m512i& luma, __m512i& blueGreen, __m512i& red) {
    blueGreen = _mm512_packus_epi16(SharpenChannel512(a, c, b, 0, x, k, p),
                                    SharpenChannel512(a, c, b, 1, x, k, p));
    __m512i r = SharpenChannel512(a, c, b, 2, x, k, p);
    red = _mm512_packus_epi16(r, r);
    __m512i sums[2];
    for (int h = 0; h < 2; ++h) {
        __m512i px = _mm512_permutex2var_epi8(blueGreen, p.pixels[h], red);
        __m512i hi = _mm512_dpbusd_epi32(p.lumaOffset, px, p.lumaHi);
        sums[h] = _mm512_dpbusd_epi32(SllI32<8>(hi), px, p.lumaLo);
    }
    luma = _mm512_maskz_permutex2var_epi8(kEvenBytes, sums[0], p.lumaBytes, sums[1]);
}

VT_AVX512ICL inline void StoreYuy2PairIcl(BYTE* outA, BYTE* outB, __m512i lumaA, __m512i blueGreenA,
                                          __m512i redA, __m512i lumaB, __m512i blueGreenB,
                                          __m512i redB, const CYuy2Constants512& k,
                                          const CYuy2Permutes& p) {
    __m512i ym16 =
        _mm512_sub_epi16(_mm512_permutex2var_epi16(lumaA, p.evenWords, lumaB), k.sixteen);
    __m512i t2 = _mm512_add_epi16(
        _mm512_mullo_epi16(ym16, k.chromaT),
        _mm512_slli_epi16(_mm512_mulhi_epi16(_mm512_slli_epi16(ym16, 6), k.chromaFraction), 1));
    __m512i blue = _mm512_maskz_permutex2var_epi8(kEvenBytes, blueGreenA, p.evenBytes, blueGreenB);
    __m512i red = _mm512_maskz_permutex2var_epi8(kEvenBytes, redA, p.evenBytes, redB);
    __m512i u2 = _mm512_add_epi16(_mm512_slli_epi16(blue, 7), t2);
    __m512i v2 = _mm512_add_epi16(_mm512_slli_epi16(red, 7), t2);
    __m512i u = _mm512_srai_epi16(_mm512_add_epi16(_mm512_mulhi_epi16(u2, k.factorU), k.round), 1);
    __m512i v = _mm512_srai_epi16(_mm512_add_epi16(_mm512_mulhi_epi16(v2, k.factorV), k.round), 1);
    __m512i chroma = _mm512_packus_epi16(u, v);
    Store64(outA, _mm512_permutex2var_epi8(lumaA, p.outA, chroma));
    Store64(outB, _mm512_permutex2var_epi8(lumaB, p.outB, chroma));
}

// Two blocks of sixteen macropixels, from macropixels mA and mB on.
template <bool kIcl>
VT_AVX512 inline void SharpenYuy2BlockPair512(const CPlaneRows& a, const CPlaneRows& c,
                                              const CPlaneRows& b, BYTE* line, int mA, int mB,
                                              const CYuy2Constants512& k, const CYuy2Permutes& p) {
    __m512i lumaA, blueA, redA, lumaB, blueB, redB;
    if constexpr (kIcl) {
        SharpenYuy2BlockIcl(a, c, b, size_t(2 * mA), k, p, lumaA, blueA, redA);
        SharpenYuy2BlockIcl(a, c, b, size_t(2 * mB), k, p, lumaB, blueB, redB);
        StoreYuy2PairIcl(line + 4 * mA, line + 4 * mB, lumaA, blueA, redA, lumaB, blueB, redB, k,
                         p);
    } else {
        SharpenYuy2Block512(a, c, b, size_t(2 * mA), k, lumaA, blueA, redA);
        SharpenYuy2Block512(a, c, b, size_t(2 * mB), k, lumaB, blueB, redB);
        StoreYuy2Pair512(line + 4 * mA, line + 4 * mB, lumaA, blueA, redA, lumaB, blueB, redB, k);
    }
}

// Rolling rows of the lines above, at and below the line being sharpened,
// each row starting on a 64-byte boundary with room for a vector before
// and after it: blocks that start at pixel 0 then load their centres and
// vertical neighbours whole from one cache line each.
class CAlignedPlaneWindow {
public:
    explicit CAlignedPlaneWindow(size_t n) {
        m_rowWords = (n + 2 * kPad + 31) & ~size_t(31);
        m_storage.resize(9 * m_rowWords + 32);
        int16_t* base = m_storage.data();
        base += (64 - reinterpret_cast<uintptr_t>(base) % 64) % 64 / sizeof(int16_t);
        for (int r = 0; r < 3; ++r)
            for (int ch = 0; ch < 3; ++ch)
                m_rows[r].ch[ch] = base + size_t(3 * r + ch) * m_rowWords + kPad;
    }
    const CPlaneRows& Above() const { return m_rows[m_above]; }
    const CPlaneRows& Current() const { return m_rows[(m_above + 1) % 3]; }
    const CPlaneRows& Below() const { return m_rows[(m_above + 2) % 3]; }
    void Advance() { m_above = (m_above + 1) % 3; }

private:
    static constexpr size_t kPad = 32;  // one vector of 16-bit values
    std::vector<int16_t> m_storage;
    size_t m_rowWords = 0;
    CPlaneRows m_rows[3];
    int m_above = 0;
};

// Flattened into the two passes below, each with its own target.
template <bool kIcl>
VT_AVX512 inline void SharpenYuy2Lines512(BYTE* frame, ptrdiff_t step, int width, int height,
                                          int level) {
    const int pairs = width / 2;
    if (pairs < 18) {
        SharpenYuy2Avx2(frame, step, width, height, level);
        return;
    }
    if (height < 3)
        return;
    const CYuy2Constants512 k = MakeYuy2Constants512(level);
    CYuy2Permutes p{};
    if constexpr (kIcl)
        p = MakeYuy2Permutes();
    CAlignedPlaneWindow w{size_t(width)};
    Yuy2LineToPlanes512(frame, w.Current(), pairs);
    Yuy2LineToPlanes512(frame + step, w.Below(), pairs);
    for (int y = 1; y <= height - 2; ++y) {
        w.Advance();
        Yuy2LineToPlanes512(frame + (y + 1) * step, w.Below(), pairs);
        const CPlaneRows &a = w.Above(), &c = w.Current(), &b = w.Below();
        BYTE* line = frame + y * step;
        if (pairs >= 32) {
            // Pairs of blocks of sixteen macropixels from macropixel 0 on,
            // the last pair ending at the last macropixel (overlapping the
            // pair before it). The two end macropixels are border: what the
            // blocks wrote there is put back.
            BYTE first[4], last[4];
            BYTE* lastMacropixel = line + 4 * (pairs - 1);
            std::memcpy(first, line, 4);
            std::memcpy(last, lastMacropixel, 4);
            const int lastPair = pairs - 32;
            for (int m = 0;; m = m + 32 > lastPair ? lastPair : m + 32) {
                SharpenYuy2BlockPair512<kIcl>(a, c, b, line, m, m + 16, k, p);
                if (m == lastPair)
                    break;
            }
            std::memcpy(line, first, 4);
            std::memcpy(lastMacropixel, last, 4);
        } else {
            // Macropixels 1 .. pairs - 2 in two overlapping blocks.
            SharpenYuy2BlockPair512<kIcl>(a, c, b, line, 1, pairs - 17, k, p);
        }
    }
}

VT_AVX512 __attribute__((flatten)) void SharpenYuy2Avx512(BYTE* frame, ptrdiff_t step, int width,
                                                          int height, int level) {
    SharpenYuy2Lines512<false>(frame, step, width, height, level);
}

VT_AVX512ICL __attribute__((flatten)) void SharpenYuy2Avx512Icl(BYTE* frame, ptrdiff_t step,
                                                                int width, int height, int level) {
    SharpenYuy2Lines512<true>(frame, step, width, height, level);
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
        k.averagePlane = &AveragePlane;
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
        k.copyAveragePlane = &CopyThenAverage<&AveragePlane>;
        return k;
    }();
    return set;
}

bool HasAvx512() {
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return has;
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
        k.averagePlane = &AveragePlaneAvx2;
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
        k.copyAveragePlane = &CopyAveragePlaneAvx2;
        return k;
    }();
    return set;
}

// The AVX2 set with the 16-bit sharpen passes on 512-bit vectors.
const CKernelSet& Avx512Kernels() {
    static const CKernelSet set = [] {
        CKernelSet k = Avx2Kernels();
        k.name = "avx512";
        k.sharpenYuy2 = &SharpenYuy2Avx512;
        k.sharpen555 = &SharpenPackedAvx512<10, 5, 0x8000>;
        k.sharpen565 = &SharpenPackedAvx512<11, 6, 0x0000>;
        return k;
    }();
    return set;
}

bool HasAvx512Icl() {
    static const bool has =
        HasAvx512() && __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni");
    return has;
}

// The AVX-512 set with the YUY2 sharpen on byte permutes and byte dot
// products (VBMI and VNNI, as from Ice Lake and Zen 4 on).
const CKernelSet& Avx512IclKernels() {
    static const CKernelSet set = [] {
        CKernelSet k = Avx512Kernels();
        k.name = "avx512icl";
        k.sharpenYuy2 = &SharpenYuy2Avx512Icl;
        return k;
    }();
    return set;
}

}  // namespace

const CKernelSet& FastKernels() {
    if (HasAvx512Icl())
        return Avx512IclKernels();
    if (HasAvx512())
        return Avx512Kernels();
    return HasAvx2() ? Avx2Kernels() : Sse2Kernels();
}

std::vector<const CKernelSet*> WideKernelSets() {
    std::vector<const CKernelSet*> sets{&Sse2Kernels()};
    if (HasAvx2())
        sets.push_back(&Avx2Kernels());
    if (HasAvx512())
        sets.push_back(&Avx512Kernels());
    if (HasAvx512Icl())
        sets.push_back(&Avx512IclKernels());
    return sets;
}

#else

const CKernelSet& FastKernels() {
    return ScalarKernels();
}

#endif

}  // namespace deint
