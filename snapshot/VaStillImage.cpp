// The still picture made from a captured frame: field interpolation by line
// averaging for interlaced frames, conversion of the DIB into a picture and
// the aspect stretch. Kept apart from the writer so the play context can
// use it without the file side.
#include <QImage>
#include <bit>
#include <cstring>
#include <vector>

#include "deinterlace/DeInterlaceKernels.h"
#include "snapshot/VaSnapshot.h"

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr int64_t kMaxSide = 32768;

uint32_t Read32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Read16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

// What a packed DIB holds, checked against the size of its buffer.
struct CDib {
    int64_t width = 0;
    int64_t height = 0;  // rows, always positive
    bool bottomUp = true;
    int bitCount = 0;
    uint32_t compression = 0;
    uint32_t masks[3] = {0, 0, 0};
    const uint8_t* colours = nullptr;
    uint32_t colourCount = 0;
    const uint8_t* bits = nullptr;
    size_t stride = 0;

    bool Parse(const uint8_t* dib, size_t size) {
        if (!dib || size < kInfoHeaderSize)
            return false;
        const uint32_t headerSize = Read32(dib);
        const int32_t w = int32_t(Read32(dib + 4));
        const int32_t h = int32_t(Read32(dib + 8));
        bitCount = Read16(dib + 14);
        compression = Read32(dib + 16);
        uint32_t used = Read32(dib + 32);
        if (headerSize < kInfoHeaderSize || headerSize > size || w <= 0 || h == 0 || w > kMaxSide ||
            h > kMaxSide || h < -kMaxSide)
            return false;
        width = w;
        height = h < 0 ? -int64_t(h) : h;
        bottomUp = h > 0;
        if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
            bitCount != 32)
            return false;
        if (compression != kBiRgb && compression != kBiBitfields)
            return false;
        if (compression == kBiBitfields && bitCount != 16 && bitCount != 24 && bitCount != 32)
            return false;
        uint64_t offset = headerSize;
        if (compression == kBiBitfields) {
            // Inside the longer headers, else right after the short one.
            const uint64_t at = kInfoHeaderSize;
            if (headerSize == kInfoHeaderSize)
                offset += 12;
            if (at + 12 > size)
                return false;
            for (int i = 0; i < 3; ++i)
                masks[i] = Read32(dib + at + 4 * i);
        } else if (bitCount == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        } else if (bitCount == 32) {
            masks[0] = 0xFF0000;
            masks[1] = 0x00FF00;
            masks[2] = 0x0000FF;
        }
        if (used == 0 && bitCount <= 8)
            used = 1u << bitCount;
        if (used > 0x10000)
            return false;
        colours = dib + offset;
        colourCount = bitCount <= 8 ? used : 0;
        offset += uint64_t(used) * 4;
        stride = size_t(((uint64_t(width) * bitCount + 31) / 32) * 4);
        if (offset > size || uint64_t(stride) * uint64_t(height) > size - offset)
            return false;
        bits = dib + offset;
        return true;
    }
};

// The channel under 'mask' scaled to 0..255.
int Channel(uint32_t value, uint32_t mask) {
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t top = mask >> shift;
    const uint32_t c = (value & mask) >> shift;
    return int((uint64_t(c) * 255 + top / 2) / top);
}

// The routine that averages two rows of this format, or null.
deint::LineInterpolator AveragingRoutine(const CDib& dib) {
    const deint::CKernelSet& k = deint::FastKernels();
    if (dib.bitCount == 32 && dib.compression == kBiRgb)
        return k.averageRgb32;
    if (dib.bitCount == 24)
        return k.averageRgb24;
    if (dib.bitCount == 16) {
        if (dib.compression == kBiRgb ||
            (dib.masks[0] == 0x7C00 && dib.masks[1] == 0x3E0 && dib.masks[2] == 0x1F))
            return k.average555;
        if (dib.masks[1] == 0x7E0 && dib.masks[2] == 0x1F)
            return k.average565;
    }
    return nullptr;
}

// Rows 2, 4, 6, … (memory order) become the average of their neighbours,
// or copies of the row above without a routine or without a row below.
// Rows lie 'stride' bytes apart, padding included.
void InterpolateFields(const CDib& dib, uint8_t* bits) {
    const deint::LineInterpolator average = AveragingRoutine(dib);
    for (int64_t row = 2; row < dib.height; row += 2) {
        uint8_t* out = bits + size_t(row) * dib.stride;
        const uint8_t* upper = out - dib.stride;
        if (average && row + 1 < dib.height)
            average(upper, out + dib.stride, out, int(dib.width));
        else
            std::memcpy(out, upper, dib.stride);
    }
}

// The pixels (at 'bits', laid out as the DIB says) as a picture.
QImage ToImage(const CDib& dib, const uint8_t* bits) {
    const int width = int(dib.width);
    const int height = int(dib.height);
    const bool packed24 = dib.bitCount == 24 && dib.compression == kBiRgb;
    QImage image(width, height, packed24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = bits + size_t(dib.bottomUp ? height - 1 - y : y) * dib.stride;
        uint8_t* line = image.scanLine(y);
        if (packed24) {
            std::memcpy(line, src, size_t(width) * 3);
            continue;
        }
        QRgb* dst = reinterpret_cast<QRgb*>(line);
        switch (dib.bitCount) {
            case 32:
                if (dib.compression == kBiRgb) {
                    for (int x = 0; x < width; ++x)
                        dst[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
                } else {
                    for (int x = 0; x < width; ++x) {
                        uint32_t v = Read32(src + 4 * x);
                        dst[x] = qRgb(Channel(v, dib.masks[0]), Channel(v, dib.masks[1]),
                                      Channel(v, dib.masks[2]));
                    }
                }
                break;
            case 24:  // with masks
                for (int x = 0; x < width; ++x) {
                    uint32_t v = uint32_t(src[3 * x]) | uint32_t(src[3 * x + 1]) << 8 |
                                 uint32_t(src[3 * x + 2]) << 16;
                    dst[x] = qRgb(Channel(v, dib.masks[0]), Channel(v, dib.masks[1]),
                                  Channel(v, dib.masks[2]));
                }
                break;
            case 16:
                for (int x = 0; x < width; ++x) {
                    uint32_t v = Read16(src + 2 * x);
                    dst[x] = qRgb(Channel(v, dib.masks[0]), Channel(v, dib.masks[1]),
                                  Channel(v, dib.masks[2]));
                }
                break;
            default: {  // palette: 1, 4 or 8 bits
                const int perByte = 8 / dib.bitCount;
                const unsigned indexMask = (1u << dib.bitCount) - 1;
                for (int x = 0; x < width; ++x) {
                    const int shift = (perByte - 1 - x % perByte) * dib.bitCount;
                    const unsigned index = (src[x / perByte] >> shift) & indexMask;
                    if (index < dib.colourCount) {
                        const uint8_t* c = dib.colours + 4 * index;
                        dst[x] = qRgb(c[2], c[1], c[0]);
                    } else {
                        dst[x] = qRgb(0, 0, 0);
                    }
                }
                break;
            }
        }
    }
    return image;
}

// number × numerator / denominator, rounded, for positive values.
int64_t MulDiv(int64_t number, int64_t numerator, int64_t denominator) {
    return (number * numerator + denominator / 2) / denominator;
}

}  // namespace

QImage CVaSnapshot::DibToImage(const uint8_t* dib, size_t size) {
    CDib info;
    if (!info.Parse(dib, size))
        return QImage();
    return ToImage(info, info.bits);
}

QImage CVaSnapshot::PrepareStillImage(const uint8_t* dib, size_t size, long aspectX, long aspectY,
                                      bool interlaced) {
    CDib info;
    if (!info.Parse(dib, size))
        return QImage();
    QImage image;
    if (interlaced) {
        std::vector<uint8_t> bits(info.bits, info.bits + info.stride * size_t(info.height));
        InterpolateFields(info, bits.data());
        image = ToImage(info, bits.data());
    } else {
        image = ToImage(info, info.bits);
    }
    if (image.isNull() || aspectX <= 0 || aspectY <= 0)
        return image;
    // A picture aspect that asks for a width more than a fifth away from
    // the frame's is applied by a smooth stretch.
    const int64_t target = MulDiv(info.height, aspectX, aspectY);
    const int64_t difference = target > info.width ? target - info.width : info.width - target;
    if (target <= 0 || target > kMaxSide || difference <= MulDiv(info.width, 2, 10))
        return image;
    const QImage::Format format = image.format();
    QImage stretched = image.scaled(int(target), int(info.height), Qt::IgnoreAspectRatio,
                                    Qt::SmoothTransformation);
    if (stretched.format() != format)
        stretched = stretched.convertToFormat(format);
    return stretched;
}
