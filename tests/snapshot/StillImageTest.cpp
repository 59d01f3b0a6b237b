// The still picture made from a captured frame: field interpolation per
// pixel format, padded rows, row order and the aspect stretch.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "snapshot/VaSnapshot.h"

namespace {

// A packed DIB: header, masks (BI_BITFIELDS), palette, rows 'stride' apart
// in memory order; 'pixel' gives the bytes of each pixel.
std::vector<uint8_t> MakeDib(int width, int height, int bits, uint32_t compression,
                             std::vector<uint32_t> extra,
                             const std::function<uint32_t(int x, int row)>& pixel) {
    const size_t stride = ((size_t(width) * bits + 31) / 32) * 4;
    std::vector<uint8_t> dib(40 + extra.size() * 4 + stride * size_t(std::abs(height)), 0);
    auto put = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            dib[at + i] = uint8_t(v >> (8 * i));
    };
    put(0, 40, 4);
    put(4, uint32_t(width), 4);
    put(8, uint32_t(height), 4);
    put(12, 1, 2);
    put(14, uint32_t(bits), 2);
    put(16, compression, 4);
    if (bits <= 8)
        put(32, uint32_t(extra.size()), 4);
    for (size_t i = 0; i < extra.size(); ++i)
        put(40 + 4 * i, extra[i], 4);
    for (int row = 0; row < std::abs(height); ++row)
        for (int x = 0; x < width; ++x)
            put(40 + extra.size() * 4 + size_t(row) * stride + size_t(x) * (bits / 8),
                pixel(x, row), bits / 8);
    return dib;
}

// Picture row of a memory row in a bottom-up DIB.
int Up(int height, int row) {
    return height - 1 - row;
}

TEST(StillImage, InterlacedPalFrameIsAveragedAndStretchedOnlyForWideAspects) {
    // Every memory row one colour, so rows stay uniform across the stretch.
    auto dib = MakeDib(720, 576, 32, 0, {}, [](int, int row) {
        return uint32_t((row * 7) % 256) | uint32_t((row * 3) % 256) << 8 | 0x400000u;
    });
    struct {
        long x, y;
        int width;
    } cases[] = {{16, 9, 1024}, {4, 3, 720}, {0, 0, 720}, {1024, 576, 1024}};
    for (const auto& c : cases) {
        QImage image = CVaSnapshot::PrepareStillImage(dib.data(), dib.size(), c.x, c.y, true);
        ASSERT_EQ(image.size(), QSize(c.width, 576)) << c.x << ":" << c.y;
        ASSERT_EQ(image.format(), QImage::Format_RGB32);
        for (int row = 2; row + 1 < 576; row += 2) {
            QRgb above = image.pixel(c.width / 2, Up(576, row - 1));
            QRgb below = image.pixel(c.width / 2, Up(576, row + 1));
            QRgb mid = image.pixel(c.width / 2, Up(576, row));
            ASSERT_EQ(qBlue(mid), (qBlue(above) + qBlue(below)) >> 1) << row;
            ASSERT_EQ(qGreen(mid), (qGreen(above) + qGreen(below)) >> 1) << row;
            ASSERT_EQ(qRed(mid), 0x40);
            ASSERT_EQ(image.pixel(0, Up(576, row)), mid);  // whole rows
        }
    }
    // Progressive frames keep their rows.
    QImage plain = CVaSnapshot::PrepareStillImage(dib.data(), dib.size(), 0, 0, false);
    EXPECT_EQ(qBlue(plain.pixel(0, Up(576, 2))), 14);
}

TEST(StillImage, SixteenBitFormatsUseTheirOwnRoutine) {
    // Green at full strength above, none below: the 5-6-5 average is 31 of 63.
    auto rows = [](uint32_t top) {
        return [top](int, int row) { return row % 2 ? (row == 1 ? top : 0u) : 0u; };
    };
    auto dib565 = MakeDib(4, 4, 16, 3, {0xF800, 0x07E0, 0x001F}, rows(0x07E0));
    QImage image = CVaSnapshot::PrepareStillImage(dib565.data(), dib565.size(), 0, 0, true);
    EXPECT_EQ(qGreen(image.pixel(1, Up(4, 2))), (31 * 255 + 31) / 63);
    EXPECT_EQ(qRed(image.pixel(1, Up(4, 2))), 0);
    // 5-5-5 (plain 16 bits): red at full strength above gives 15 of 31.
    auto dib555 = MakeDib(4, 4, 16, 0, {}, rows(0x7C00));
    image = CVaSnapshot::PrepareStillImage(dib555.data(), dib555.size(), 0, 0, true);
    EXPECT_EQ(qRed(image.pixel(1, Up(4, 2))), (15 * 255 + 15) / 31);
}

TEST(StillImage, PaletteFramesAreLineDoubled) {
    auto dib = MakeDib(5, 5, 8, 0, {0x000000, 0xFFFFFF, 0x0000FF},
                       [](int, int row) { return uint32_t(row % 3); });
    QImage image = CVaSnapshot::PrepareStillImage(dib.data(), dib.size(), 0, 0, true);
    // Memory rows 0..4 hold 0 1 2 0 1; rows 2 and 4 copy the rows above.
    const QRgb expected[] = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(0, 0, 0),
                             qRgb(0, 0, 0)};
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(image.pixel(4, Up(5, row)), expected[row]) << row;
}

TEST(StillImage, PaddedRowsAndRowOrder) {
    // 3 pixels of 24 bits: rows of 9 bytes padded to 12. Top-down frame.
    auto dib = MakeDib(3, -5, 24, 0, {}, [](int x, int row) {
        return uint32_t(row * 40 + x) | uint32_t(200 - row * 10) << 16;
    });
    QImage image = CVaSnapshot::PrepareStillImage(dib.data(), dib.size(), 0, 0, true);
    ASSERT_EQ(image.format(), QImage::Format_BGR888);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(qBlue(image.pixel(x, 0)), x);
        EXPECT_EQ(qBlue(image.pixel(x, 2)), (40 + x + 120 + x) >> 1);
        EXPECT_EQ(qRed(image.pixel(x, 2)), (190 + 170) >> 1);
        EXPECT_EQ(qBlue(image.pixel(x, 4)), 120 + x);  // last even row: copy of the row above
    }
}

TEST(StillImage, UnreadableFramesGiveNoPicture) {
    auto dib = MakeDib(8, 8, 32, 0, {}, [](int, int) { return 0u; });
    EXPECT_TRUE(CVaSnapshot::PrepareStillImage(dib.data(), dib.size() - 1, 0, 0, true).isNull());
    EXPECT_TRUE(CVaSnapshot::PrepareStillImage(dib.data(), 20, 0, 0, false).isNull());
    dib[14] = 12;  // no such bit count
    EXPECT_TRUE(CVaSnapshot::PrepareStillImage(dib.data(), dib.size(), 0, 0, false).isNull());
    dib[14] = 32;
    dib[4] = 0;  // width 0
    EXPECT_TRUE(CVaSnapshot::DibToImage(dib.data(), dib.size()).isNull());
}

}  // namespace
