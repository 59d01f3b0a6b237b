#pragma once
// Still-picture files. Images of 24 bits (QImage::Format_BGR888, the bytes
// of a 24-bit DIB) and 32 bits (Format_RGB32 and the other 32-bit formats)
// are written as they are; anything else is converted to 32 bits first.
// Writes go through CAtomicFile: a failure leaves nothing under 'path'.
#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

namespace imaging {

// A standard Windows bitmap file: BITMAPFILEHEADER, BITMAPINFOHEADER
// (BI_RGB), bottom-up rows padded to 4 bytes, 24 or 32 bits per pixel.
std::vector<uint8_t> EncodeBmp(const QImage& image);
void WriteBmpFile(const QImage& image, const std::string& path);

// A baseline JPEG (JFIF, 4:2:0). 'quality' goes to the encoder unchanged;
// the encoder itself treats values below 1 as 1 and above 100 as 100.
std::vector<uint8_t> EncodeJpeg(const QImage& image, int quality);
void WriteJpegFile(const QImage& image, const std::string& path, int quality);
// True when the JPEG encoder can be started.
bool IsJpegEncoderAvailable();

}  // namespace imaging
