#include <cstring>

#include "platform/imaging/AtomicFile.h"
#include "platform/imaging/ImageFile.h"
#include "support/Exception.h"

namespace imaging {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> EncodeBmp(const QImage& source) {
    QImage image = source;
    if (image.format() == QImage::Format_RGB888)
        image = image.convertToFormat(QImage::Format_BGR888);
    else if (image.format() != QImage::Format_BGR888 && image.format() != QImage::Format_RGB32 &&
             image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        throw CNotSupportedException();

    const int bytesPerPixel = image.format() == QImage::Format_BGR888 ? 3 : 4;
    const uint64_t width = uint64_t(image.width());
    const uint64_t height = uint64_t(image.height());
    const uint64_t stride = (width * bytesPerPixel + 3) & ~uint64_t(3);
    const uint64_t imageSize = stride * height;
    const uint64_t offset = kFileHeaderSize + kInfoHeaderSize;
    if (offset + imageSize > 0xFFFFFFFFu)
        throw CNotSupportedException();

    std::vector<uint8_t> file(offset + imageSize, 0);
    uint8_t* p = file.data();
    p[0] = 'B';
    p[1] = 'M';
    Put32(p + 2, uint32_t(file.size()));
    Put32(p + 10, uint32_t(offset));
    uint8_t* info = p + kFileHeaderSize;
    Put32(info, kInfoHeaderSize);
    Put32(info + 4, uint32_t(width));
    Put32(info + 8, uint32_t(height));  // positive: bottom-up
    Put16(info + 12, 1);
    Put16(info + 14, uint16_t(bytesPerPixel * 8));
    Put32(info + 16, 0);  // BI_RGB
    Put32(info + 20, uint32_t(imageSize));
    // Resolution, colours used and important stay 0.

    uint8_t* bits = p + offset;
    for (uint64_t y = 0; y < height; ++y) {
        const uint8_t* src = image.constScanLine(int(y));
        uint8_t* dst = bits + (height - 1 - y) * stride;
        if (bytesPerPixel == 3) {
            std::memcpy(dst, src, width * 3);
        } else {
            // 0xAARRGGBB in memory is B, G, R, A; the fourth byte of a
            // BI_RGB pixel is reserved and written as 0.
            for (uint64_t x = 0; x < width; ++x) {
                dst[4 * x] = src[4 * x];
                dst[4 * x + 1] = src[4 * x + 1];
                dst[4 * x + 2] = src[4 * x + 2];
            }
        }
    }
    return file;
}

void WriteBmpFile(const QImage& image, const std::string& path) {
    std::vector<uint8_t> data = EncodeBmp(image);
    CAtomicFile file(path);
    file.Write(data.data(), data.size());
    file.Commit();
}

}  // namespace imaging
