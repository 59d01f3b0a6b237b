// The fast kernels against the scalar ones, bit for bit, on random frames of
// odd and even sizes, and the engine with either set.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "deinterlace/DeInterlaceEngine.h"
#include "tests/deinterlace/DeInterlaceTestUtil.h"

using namespace deint;
using deint_test::RandomBytes;

namespace {

const int kWidths[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 15, 16,  17, 18,
                       19, 23, 31, 32, 33, 34, 35, 63, 64, 65, 66, 67, 100, 131};

struct InterpolatorCase {
    LineInterpolator CKernelSet::*fn;
    int bytesPerPixel;
    const char* name;
};
const InterpolatorCase kInterpolators[] = {
    {&CKernelSet::averageYuy2, 2, "YUY2"},   {&CKernelSet::averageRgb24, 3, "RGB24"},
    {&CKernelSet::averageRgb32, 4, "RGB32"}, {&CKernelSet::averageArgb32, 4, "ARGB32"},
    {&CKernelSet::average555, 2, "555"},     {&CKernelSet::average565, 2, "565"},
    {&CKernelSet::averagePlane, 1, "plane"}};

TEST(FastKernels, InterpolationMatchesScalar) {
    uint32_t seed = 1;
    for (const CKernelSet* k : WideKernelSets())
        for (const InterpolatorCase& c : kInterpolators)
            for (int w : kWidths) {
                size_t bytes = size_t(w * c.bytesPerPixel);
                auto upper = RandomBytes(bytes, seed++), lower = RandomBytes(bytes, seed++);
                std::vector<uint8_t> slow(bytes + 8, 0x77), fast(bytes + 8, 0x77);
                (ScalarKernels().*c.fn)(upper.data(), lower.data(), slow.data(), w);
                (k->*c.fn)(upper.data(), lower.data(), fast.data(), w);
                ASSERT_EQ(slow, fast) << k->name << " " << c.name << " width " << w;
            }
}

const CopyInterpolator CKernelSet::*kCopyInterpolators[] = {
    &CKernelSet::copyAverageYuy2,   &CKernelSet::copyAverageRgb24, &CKernelSet::copyAverageRgb32,
    &CKernelSet::copyAverageArgb32, &CKernelSet::copyAverage555,   &CKernelSet::copyAverage565,
    &CKernelSet::copyAveragePlane};

TEST(FastKernels, CopyAndInterpolateInOnePassMatchesScalar) {
    uint32_t seed = 50;
    for (const CKernelSet* k : WideKernelSets())
        for (size_t n = 0; n < std::size(kCopyInterpolators); ++n) {
            const InterpolatorCase& c = kInterpolators[n];
            for (int w : kWidths) {
                const size_t bytes = size_t(w * c.bytesPerPixel);
                auto upper = RandomBytes(bytes, seed++), lower = RandomBytes(bytes, seed++);
                std::vector<uint8_t> slowCopy(bytes + 8, 1), slowAvg(bytes + 8, 2);
                std::vector<uint8_t> fastCopy(bytes + 8, 1), fastAvg(bytes + 8, 2);
                // The reference: a plain copy, then the scalar interpolation.
                std::memcpy(slowCopy.data(), upper.data(), bytes);
                (ScalarKernels().*c.fn)(upper.data(), lower.data(), slowAvg.data(), w);
                (k->*kCopyInterpolators[n])(upper.data(), lower.data(), fastCopy.data(), bytes,
                                            fastAvg.data(), w);
                ASSERT_EQ(slowCopy, fastCopy) << k->name << " " << c.name << " width " << w;
                ASSERT_EQ(slowAvg, fastAvg) << k->name << " " << c.name << " width " << w;
            }
        }
}

struct SharpenCase {
    SharpenPass CKernelSet::*fn;
    int bytesPerPixel;
    const char* name;
};
const SharpenCase kSharpens[] = {{&CKernelSet::sharpenYuy2, 2, "YUY2"},
                                 {&CKernelSet::sharpen3Byte, 3, "3-byte"},
                                 {&CKernelSet::sharpen4Byte, 4, "4-byte"},
                                 {&CKernelSet::sharpen555, 2, "555"},
                                 {&CKernelSet::sharpen565, 2, "565"}};

TEST(FastKernels, SharpenMatchesScalar) {
    uint32_t seed = 100;
    for (const CKernelSet* k : WideKernelSets())
        for (const SharpenCase& c : kSharpens)
            for (int w : kWidths)
                for (int h : {1, 2, 3, 4, 7})
                    for (int level = 1; level <= 5; ++level) {
                        // Lines padded by 0, 2 or 4 bytes: the padding stays as it was.
                        const ptrdiff_t step = w * c.bytesPerPixel + (level - 1) % 3 * 2;
                        auto frame = RandomBytes(size_t(step * h), seed++);
                        auto slow = frame, fast = frame;
                        (ScalarKernels().*c.fn)(slow.data(), step, w, h, level);
                        (k->*c.fn)(fast.data(), step, w, h, level);
                        ASSERT_EQ(slow, fast) << k->name << " " << c.name << " " << w << "x" << h
                                              << " level " << level;
                    }
}

TEST(FastKernels, SharpenMatchesScalarBottomUp) {
    for (const CKernelSet* k : WideKernelSets())
        for (const SharpenCase& c : kSharpens) {
            const int w = 37, h = 6;
            const ptrdiff_t step = w * c.bytesPerPixel;
            auto frame = RandomBytes(size_t(step * h), 7);
            auto slow = frame, fast = frame;
            (ScalarKernels().*c.fn)(slow.data() + (h - 1) * step, -step, w, h, 4);
            (k->*c.fn)(fast.data() + (h - 1) * step, -step, w, h, 4);
            ASSERT_EQ(slow, fast) << k->name << " " << c.name;
        }
}

// Lines long enough for several vectors and a last one that overlaps the
// vector before it, on frames made only of extreme values so that every
// channel saturates at both ends and the colour conversions see their
// largest and smallest terms.
TEST(FastKernels, SharpenMatchesScalarOnWideExtremeFrames) {
    const uint8_t extremes[] = {0, 1, 15, 16, 17, 127, 128, 129, 235, 240, 254, 255};
    uint32_t seed = 9000;
    for (const CKernelSet* k : WideKernelSets())
        for (const SharpenCase& c : kSharpens)
            for (int w : {36, 37, 40, 41, 258, 259, 1922})
                for (int level = 1; level <= 5; ++level) {
                    const int h = 5;
                    auto frame = RandomBytes(size_t(w * h * c.bytesPerPixel), seed++);
                    for (uint8_t& v : frame)
                        v = extremes[v % sizeof extremes];
                    auto slow = frame, fast = frame;
                    const ptrdiff_t step = w * c.bytesPerPixel;
                    (ScalarKernels().*c.fn)(slow.data(), step, w, h, level);
                    (k->*c.fn)(fast.data(), step, w, h, level);
                    ASSERT_EQ(slow, fast)
                        << k->name << " " << c.name << " width " << w << " level " << level;
                }
}

// YUY2 colours spread over the whole cube: flat areas pass the sharpen
// unchanged, so the middle of each block of one colour tests the conversion
// there and back for that colour alone.
TEST(FastKernels, Yuy2SharpenMatchesScalarOnFlatBlocksOfManyColours) {
    const int w = 2 * 3 * 40, h = 3;  // forty blocks of three macropixels
    std::vector<uint8_t> frame(size_t(w * h * 2));
    for (int round = 0; round < 65536; round += 40)
        for (const CKernelSet* k : WideKernelSets()) {
            for (int block = 0; block < 40; ++block) {
                const uint32_t colour = uint32_t(round + block) * 2654435761u;
                const uint8_t y = uint8_t(colour >> 24), u = uint8_t(colour >> 16),
                              v = uint8_t(colour >> 8);
                for (int line = 0; line < h; ++line)
                    for (int mp = 0; mp < 3; ++mp) {
                        uint8_t* p = &frame[size_t(line * w * 2 + (block * 3 + mp) * 4)];
                        p[0] = y;
                        p[1] = u;
                        p[2] = y;
                        p[3] = v;
                    }
            }
            auto slow = frame, fast = frame;
            ScalarKernels().sharpenYuy2(slow.data(), w * 2, w, h, 3);
            k->sharpenYuy2(fast.data(), w * 2, w, h, 3);
            ASSERT_EQ(slow, fast) << k->name << " round " << round;
        }
}

// Natural-looking YUY2 (in gamut) exercises the unsaturated paths too.
TEST(FastKernels, Yuy2SharpenMatchesScalarOnSmoothPictures) {
    const int w = 130, h = 9;
    std::vector<uint8_t> frame(size_t(w * h * 2));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 2; ++x)
            frame[size_t(y * w * 2 + x)] =
                uint8_t(x % 2 == 0 ? 16 + (x * 3 + y * 17) % 220 : 100 + (x * 7 + y) % 56);
    for (const CKernelSet* k : WideKernelSets())
        for (int level = 1; level <= 5; ++level) {
            auto slow = frame, fast = frame;
            ScalarKernels().sharpenYuy2(slow.data(), w * 2, w, h, level);
            k->sharpenYuy2(fast.data(), w * 2, w, h, level);
            ASSERT_EQ(slow, fast) << level;
            EXPECT_NE(frame, slow);
        }
}

TEST(FastKernels, EverySetIsComplete) {
    std::vector<const CKernelSet*> sets = WideKernelSets();
    sets.push_back(&ScalarKernels());
    sets.push_back(&FastKernels());
    for (const CKernelSet* k : sets) {
        for (auto fn : kInterpolators)
            EXPECT_NE(nullptr, k->*fn.fn) << k->name << " " << fn.name;
        for (auto fn : kCopyInterpolators)
            EXPECT_NE(nullptr, k->*fn) << k->name;
        for (auto fn : kSharpens)
            EXPECT_NE(nullptr, k->*fn.fn) << k->name << " " << fn.name;
    }
}

#if defined(__x86_64__)
TEST(FastKernels, X86HasWideSets) {
    EXPECT_FALSE(WideKernelSets().empty());
    EXPECT_NE(&ScalarKernels(), &FastKernels());
}
#endif

TEST(FastKernels, EngineGivesTheSameFramesWithEitherSet) {
    const GUID subtypes[] = {MEDIASUBTYPE_YUY2,   MEDIASUBTYPE_RGB24,  MEDIASUBTYPE_RGB32,
                             MEDIASUBTYPE_ARGB32, MEDIASUBTYPE_RGB555, MEDIASUBTYPE_RGB565};
    uint32_t seed = 5000;
    for (const GUID& subtype : subtypes)
        for (auto [w, h] : {std::pair{33, 9}, std::pair{40, 10}, std::pair{7, 5}})
            for (DWORD method = 1; method <= 4; ++method)
                for (DWORD interpolation = 1; interpolation <= 2; ++interpolation) {
                    CDeInterlaceEngine slow, fast;
                    slow.SetKernels(ScalarKernels());
                    for (CDeInterlaceEngine* e : {&slow, &fast}) {
                        e->SetInputType(deint_test::MakeVideoType(subtype, w, h));
                        e->SetOutputType(deint_test::MakeVideoType(subtype, w + 3, -h));
                        e->SetMethod(method);
                        e->SetInterpolation(interpolation);
                        e->SetSharpen(interpolation == 2 ? 2 : 0);
                    }
                    size_t inBytes = size_t(w * h * deint_test::BitCountOf(subtype) / 8);
                    size_t outBytes = size_t((w + 3) * h * deint_test::BitCountOf(subtype) / 8);
                    auto in = RandomBytes(inBytes, seed++);
                    for (DWORD field : {1u, 2u}) {
                        std::vector<uint8_t> a(outBytes, 0), b(outBytes, 0);
                        slow.ProcessFrame(field, {}, in.data(), a.data(), long(inBytes),
                                          long(outBytes));
                        fast.ProcessFrame(field, {}, in.data(), b.data(), long(inBytes),
                                          long(outBytes));
                        ASSERT_EQ(a, b) << w << "x" << h << " method " << method;
                    }
                }
}

}  // namespace
