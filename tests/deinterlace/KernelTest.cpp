// The reference kernels on chosen values: truncating averages, the packing
// of 16-bit pixels, the sharpen kernel's saturation and borders, and the
// YUY2 colour conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "deinterlace/DeInterlaceKernels.h"
#include "tests/deinterlace/DeInterlaceTestUtil.h"

using namespace deint;

namespace {

const CKernelSet& K() {
    return ScalarKernels();
}

std::vector<uint8_t> Words(std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> v(words.size() * 2);
    size_t i = 0;
    for (uint16_t w : words)
        std::memcpy(&v[2 * i++], &w, 2);
    return v;
}
uint16_t WordAt(const std::vector<uint8_t>& v, size_t i) {
    uint16_t w;
    std::memcpy(&w, &v[2 * i], 2);
    return w;
}

TEST(Interpolation, ByteAveragesTruncate) {
    std::vector<uint8_t> a = {0, 1, 255, 100, 7, 200}, b = {1, 2, 254, 101, 8, 0}, out(6, 9);
    K().averageRgb24(a.data(), b.data(), out.data(), 2);
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 254, 100, 7, 100}), out);
}

TEST(Interpolation, Yuy2AveragesWholeMacropixelsOnly) {
    std::vector<uint8_t> a = {10, 20, 30, 40, 50, 60}, b = {11, 21, 31, 41, 51, 61}, out(6, 9);
    K().averageYuy2(a.data(), b.data(), out.data(), 3);  // one macropixel and a half
    EXPECT_EQ((std::vector<uint8_t>{10, 20, 30, 40, 9, 9}), out);
    std::fill(out.begin(), out.end(), 9);
    K().averageYuy2(a.data(), b.data(), out.data(), 1);  // too narrow: nothing
    EXPECT_EQ(std::vector<uint8_t>(6, 9), out);
}

TEST(Interpolation, Rgb32ClearsTheFourthByteArgb32CopiesItFromAbove) {
    std::vector<uint8_t> a = {10, 20, 31, 77}, b = {20, 41, 30, 99}, out(4, 9);
    K().averageRgb32(a.data(), b.data(), out.data(), 1);
    EXPECT_EQ((std::vector<uint8_t>{15, 30, 30, 0}), out);
    K().averageArgb32(a.data(), b.data(), out.data(), 1);
    EXPECT_EQ((std::vector<uint8_t>{15, 30, 30, 77}), out);
}

TEST(Interpolation, Packed555AveragesEachChannelAndClearsTheTopBit) {
    // (31,31,31) with the top bit and (0,0,0); (1,2,3) and (2,4,6).
    auto a = Words({0xFFFF, (1 << 10) | (2 << 5) | 3});
    auto b = Words({0x0000, (2 << 10) | (4 << 5) | 6});
    std::vector<uint8_t> out(4);
    K().average555(a.data(), b.data(), out.data(), 2);
    EXPECT_EQ((15 << 10) | (15 << 5) | 15, WordAt(out, 0));
    EXPECT_EQ((1 << 10) | (3 << 5) | 4, WordAt(out, 1));
}

TEST(Interpolation, Packed565KeepsTheSixBitGreen) {
    auto a = Words({0xFFFF, (31 << 11) | (0 << 5) | 0});
    auto b = Words({(1 << 11) | (1 << 5) | 1, (0 << 11) | (63 << 5) | 31});
    std::vector<uint8_t> out(4);
    K().average565(a.data(), b.data(), out.data(), 2);
    EXPECT_EQ((16 << 11) | (32 << 5) | 16, WordAt(out, 0));
    EXPECT_EQ((15 << 11) | (31 << 5) | 15, WordAt(out, 1));
}

TEST(SharpenKernel, WeightsSumToFourAndSaturate) {
    for (int level = 1; level <= 5; ++level)
        EXPECT_EQ(77, SharpenValue(level, 77, 77, 77, 77, 77, 255));
    EXPECT_EQ(255, SharpenValue(1, 200, 0, 0, 0, 0, 255));
    EXPECT_EQ(0, SharpenValue(1, 0, 200, 200, 200, 200, 255));
    // (8*2*100 - 3*(90+90+110+110)) >> 2 = (1600 - 1200) >> 2
    EXPECT_EQ(100, SharpenValue(2, 100, 90, 110, 90, 110, 255));
    EXPECT_EQ(105, SharpenValue(1, 100, 80, 90, 100, 110, 255));  // (800 - 380) >> 2
    EXPECT_EQ(31, SharpenValue(1, 31, 0, 31, 31, 31, 31));
    EXPECT_EQ(63, SharpenValue(1, 63, 0, 63, 63, 63, 63));
}

struct PassCase {
    SharpenPass CKernelSet::*pass;
    int bytesPerPixel;
    const char* name;
};
const PassCase kPasses[] = {{&CKernelSet::sharpen3Byte, 3, "3-byte"},
                            {&CKernelSet::sharpen4Byte, 4, "4-byte"},
                            {&CKernelSet::sharpen555, 2, "555"},
                            {&CKernelSet::sharpen565, 2, "565"},
                            {&CKernelSet::sharpenYuy2, 2, "YUY2"}};

TEST(SharpenPass, FlatGreyIsUnchangedAtEveryLevel) {
    const int w = 10, h = 5;
    for (const PassCase& p : kPasses)
        for (int level = 1; level <= 5; ++level) {
            std::vector<uint8_t> frame(size_t(w * h * p.bytesPerPixel));
            for (size_t i = 0; i < frame.size(); ++i) {
                if (p.bytesPerPixel == 2 && p.pass == &CKernelSet::sharpenYuy2)
                    frame[i] = (i % 2 == 0) ? 120 : 128;  // grey luma, neutral chroma
                else if (p.bytesPerPixel == 2)
                    frame[i] = (i % 2 == 0) ? 0x4A : 0x29;  // a mid grey word
                else
                    frame[i] = 133;
            }
            std::vector<uint8_t> before = frame;
            (K().*p.pass)(frame.data(), w * p.bytesPerPixel, w, h, level);
            EXPECT_EQ(before, frame) << p.name << " level " << level;
        }
}

TEST(SharpenPass, BordersStayAndInteriorFollowsTheKernel) {
    const int w = 7, h = 5;
    for (const PassCase& p : kPasses) {
        if (p.pass == &CKernelSet::sharpenYuy2)
            continue;
        const int bpp = p.bytesPerPixel;
        std::vector<uint8_t> frame = deint_test::RandomBytes(size_t(w * h * bpp), 11);
        const std::vector<uint8_t> before = frame;
        (K().*p.pass)(frame.data(), w * bpp, w, h, 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* px = &frame[size_t((y * w + x) * bpp)];
                const uint8_t* old = &before[size_t((y * w + x) * bpp)];
                bool border = y == 0 || y == h - 1 || x == 0 || x == w - 1;
                if (border) {
                    EXPECT_EQ(0, std::memcmp(px, old, size_t(bpp)))
                        << p.name << " " << x << "," << y;
                } else if (bpp >= 3) {
                    for (int c = 0; c < 3; ++c) {
                        auto at = [&](int dx, int dy) {
                            return int(before[size_t(((y + dy) * w + x + dx) * bpp + c)]);
                        };
                        EXPECT_EQ(SharpenValue(3, at(0, 0), at(-1, 0), at(1, 0), at(0, -1),
                                               at(0, 1), 255),
                                  px[c]);
                    }
                    if (bpp == 4) {
                        EXPECT_EQ(old[3], px[3]);  // the fourth byte is not a colour
                    }
                } else {
                    const bool is565 = p.pass == &CKernelSet::sharpen565;
                    const int shifts[3] = {is565 ? 11 : 10, 5, 0};
                    const int masks[3] = {31, is565 ? 63 : 31, 31};
                    auto word = [&](const std::vector<uint8_t>& v, int dx, int dy) {
                        uint16_t wd;
                        std::memcpy(&wd, &v[size_t(((y + dy) * w + x + dx) * 2)], 2);
                        return int(wd);
                    };
                    for (int c = 0; c < 3; ++c) {
                        auto at = [&](int dx, int dy) {
                            return (word(before, dx, dy) >> shifts[c]) & masks[c];
                        };
                        EXPECT_EQ(SharpenValue(3, at(0, 0), at(-1, 0), at(1, 0), at(0, -1),
                                               at(0, 1), masks[c]),
                                  (word(frame, 0, 0) >> shifts[c]) & masks[c]);
                    }
                    if (!is565) {
                        EXPECT_EQ(word(before, 0, 0) & 0x8000, word(frame, 0, 0) & 0x8000);
                    }
                }
            }
    }
}

TEST(SharpenPass, BrightGreenEdgeSaturatesEachPackedChannel) {
    // A 3x3 frame: a bright column in the middle of dark ones.
    auto run = [](SharpenPass pass, uint16_t bright, uint16_t dark) {
        std::vector<uint16_t> px = {dark,   bright, bright, dark,  bright,
                                    bright, dark,   bright, bright};
        std::vector<uint8_t> frame(18);
        std::memcpy(frame.data(), px.data(), 18);
        pass(frame.data(), 6, 3, 3, 1);
        uint16_t centre;
        std::memcpy(&centre, &frame[8], 2);
        return centre;
    };
    EXPECT_EQ(63 << 5, run(K().sharpen565, 63 << 5, 0));
    EXPECT_EQ(31 << 5, run(K().sharpen555, 31 << 5, 0));
    EXPECT_EQ(0xFFFF, run(K().sharpen565, 0xFFFF, 0));
    EXPECT_EQ(0x7FFF, run(K().sharpen555, 0x7FFF, 0));
    std::vector<uint8_t> rgb(27, 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 1; x < 3; ++x)
            std::memset(&rgb[size_t((y * 3 + x) * 3)], 250, 3);
    K().sharpen3Byte(rgb.data(), 9, 3, 3, 5);
    EXPECT_EQ(255, rgb[12]);
}

TEST(SharpenPass, TooSmallFramesAreLeftAlone) {
    for (const PassCase& p : kPasses)
        for (auto [w, h] : {std::pair{2, 5}, std::pair{5, 2}}) {
            std::vector<uint8_t> frame =
                deint_test::RandomBytes(size_t(w * h * p.bytesPerPixel), 3);
            std::vector<uint8_t> before = frame;
            (K().*p.pass)(frame.data(), w * p.bytesPerPixel, w, h, 5);
            EXPECT_EQ(before, frame) << p.name;
        }
}

TEST(SharpenPass, Yuy2KeepsItsOuterMacropixelsAndLines) {
    const int w = 8, h = 4;
    std::vector<uint8_t> frame = deint_test::RandomBytes(size_t(w * h * 2), 21);
    const std::vector<uint8_t> before = frame;
    K().sharpenYuy2(frame.data(), w * 2, w, h, 4);
    for (int y = 0; y < h; ++y) {
        const uint8_t* line = &frame[size_t(y * w * 2)];
        const uint8_t* old = &before[size_t(y * w * 2)];
        if (y == 0 || y == h - 1) {
            EXPECT_EQ(0, std::memcmp(line, old, size_t(w * 2)));
            continue;
        }
        EXPECT_EQ(0, std::memcmp(line, old, 4));            // macropixel 0
        EXPECT_EQ(0, std::memcmp(line + 12, old + 12, 4));  // the last one
        for (int i = 4; i < 12; i += 2)
            EXPECT_GE(line[i], 16);  // luma within 16..235
        for (int i = 4; i < 12; i += 2)
            EXPECT_LE(line[i], 235);
    }
}

TEST(Yuy2Conversion, GreysRoundTripExactly) {
    for (int y = 16; y <= 235; ++y) {
        uint8_t bgr[3];
        Yuy2ToBgr(y, 128, 128, bgr);
        EXPECT_EQ(bgr[0], bgr[1]);
        EXPECT_EQ(bgr[1], bgr[2]);
        int y2 = BgrToY(bgr[0], bgr[1], bgr[2]);
        EXPECT_EQ(y, y2);
        EXPECT_EQ(128, BgrToChroma(bgr[0], y2, kChromaFactorU));
        EXPECT_EQ(128, BgrToChroma(bgr[2], y2, kChromaFactorV));
    }
}

TEST(Yuy2Conversion, ColoursRoundTripWithinTwoSteps) {
    for (int b = 0; b < 256; b += 15)
        for (int g = 0; g < 256; g += 15)
            for (int r = 0; r < 256; r += 15) {
                int y = BgrToY(b, g, r);
                ASSERT_GE(y, 16);
                ASSERT_LE(y, 235);
                uint8_t back[3];
                Yuy2ToBgr(y, BgrToChroma(b, y, kChromaFactorU), BgrToChroma(r, y, kChromaFactorV),
                          back);
                EXPECT_NEAR(b, back[0], 2);
                EXPECT_NEAR(g, back[1], 2);
                EXPECT_NEAR(r, back[2], 2);
            }
}

TEST(Yuy2Conversion, ExtremesSaturate) {
    uint8_t bgr[3];
    Yuy2ToBgr(235, 128, 128, bgr);
    EXPECT_EQ(255, bgr[0]);
    Yuy2ToBgr(16, 128, 128, bgr);
    EXPECT_EQ(0, bgr[2]);
    Yuy2ToBgr(235, 255, 255, bgr);
    EXPECT_EQ(255, bgr[0]);  // blue saturates high
    EXPECT_EQ(255, bgr[2]);
    Yuy2ToBgr(16, 0, 0, bgr);
    EXPECT_EQ(0, bgr[0]);  // and low
    EXPECT_EQ(0, bgr[2]);
}

}  // namespace
