// Baseline JPEG through libjpeg's compressor. libjpeg reports errors by
// calling back and never returning; the callback jumps back to the one C
// routine below, which keeps no C++ objects alive across the jump, and the
// error becomes an exception only after the C side has been left.
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "platform/imaging/AtomicFile.h"
#include "platform/imaging/ImageFile.h"
#include "support/Exception.h"

namespace imaging {

namespace {

struct CJpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void OnJpegError(j_common_ptr info) {
    auto* error = reinterpret_cast<CJpegError*>(info->err);
    info->err->format_message(info, error->message);
    std::longjmp(error->jump, 1);
}

// Warnings (corrupt data and the like) do not concern a compressor.
extern "C" void OnJpegMessage(j_common_ptr, int) {}

struct CJpegSource {
    const uint8_t* bits;  // first (top) row
    size_t stride;
    unsigned width;
    unsigned height;
    int components;
    J_COLOR_SPACE colorSpace;
    int quality;
};

// A destination in one growing malloc'd block that this file owns.
struct CMemoryDestination {
    jpeg_destination_mgr manager;
    unsigned char* data;
    size_t capacity;
    size_t size;
};

extern "C" void OnInitDestination(j_compress_ptr) {}

extern "C" boolean OnDestinationFull(j_compress_ptr info) {
    auto* dest = reinterpret_cast<CMemoryDestination*>(info->dest);
    size_t capacity = dest->capacity * 2;
    auto* data = static_cast<unsigned char*>(std::realloc(dest->data, capacity));
    if (!data)
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    dest->manager.next_output_byte = data + dest->capacity;
    dest->manager.free_in_buffer = capacity - dest->capacity;
    dest->data = data;
    dest->capacity = capacity;
    return TRUE;
}

extern "C" void OnTermDestination(j_compress_ptr info) {
    auto* dest = reinterpret_cast<CMemoryDestination*>(info->dest);
    dest->size = dest->capacity - dest->manager.free_in_buffer;
}

// Compresses into dest->data (malloc'd, the caller frees it); false with
// 'message' filled on failure. Plain C only from setjmp on: nothing here
// needs a destructor.
bool Compress(const CJpegSource& src, CMemoryDestination* dest, char* message) {
    jpeg_compress_struct info;
    CJpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    error.manager.emit_message = OnJpegMessage;
    error.message[0] = '\0';
    // Room for a typical picture, so the block rarely has to grow.
    dest->capacity = std::max<size_t>(size_t(src.width) * src.height / 2, 4096);
    dest->size = 0;
    dest->data = static_cast<unsigned char*>(std::malloc(dest->capacity));
    if (!dest->data) {
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", std::strerror(ENOMEM));
        return false;
    }
    dest->manager.next_output_byte = dest->data;
    dest->manager.free_in_buffer = dest->capacity;
    dest->manager.init_destination = OnInitDestination;
    dest->manager.empty_output_buffer = OnDestinationFull;
    dest->manager.term_destination = OnTermDestination;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::memcpy(message, error.message, JMSG_LENGTH_MAX);
        return false;
    }
    jpeg_create_compress(&info);
    info.dest = &dest->manager;
    info.image_width = src.width;
    info.image_height = src.height;
    info.input_components = src.components;
    info.in_color_space = src.colorSpace;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, src.quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(src.bits + size_t(info.next_scanline) * src.stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

// "The JPEG encoder failed: %1"
constexpr unsigned IDS_JPEG_ENCODER_FAILED = 0x7801;

}  // namespace

std::vector<uint8_t> EncodeJpeg(const QImage& source, int quality) {
    QImage image = source;
    CJpegSource src{};
    switch (image.format()) {
        case QImage::Format_BGR888:
            src.components = 3;
            src.colorSpace = JCS_EXT_BGR;
            break;
        case QImage::Format_RGB888:
            src.components = 3;
            src.colorSpace = JCS_EXT_RGB;
            break;
        default:
            if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
                image = image.convertToFormat(QImage::Format_RGB32);
            // 0xAARRGGBB is B, G, R, A in memory.
            src.components = 4;
            src.colorSpace = JCS_EXT_BGRX;
            break;
    }
    if (image.isNull() || image.width() <= 0 || image.height() <= 0 || image.width() > 65500 ||
        image.height() > 65500)
        throw CNotSupportedException();
    src.bits = image.constBits();
    src.stride = size_t(image.bytesPerLine());
    src.width = unsigned(image.width());
    src.height = unsigned(image.height());
    src.quality = quality;

    CMemoryDestination dest{};
    char message[JMSG_LENGTH_MAX];
    if (!Compress(src, &dest, message)) {
        std::free(dest.data);
        ThrowMessageArgs(IDS_JPEG_ENCODER_FAILED, std::string(message));
    }
    std::vector<uint8_t> data;
    try {
        data.assign(dest.data, dest.data + dest.size);
    } catch (...) {
        std::free(dest.data);
        throw CMemoryException();
    }
    std::free(dest.data);
    return data;
}

void WriteJpegFile(const QImage& image, const std::string& path, int quality) {
    std::vector<uint8_t> data = EncodeJpeg(image, quality);
    CAtomicFile file(path);
    file.Write(data.data(), data.size());
    file.Commit();
}

bool IsJpegEncoderAvailable() {
    // One pixel through the whole encoder.
    static const bool available = [] {
        QImage pixel(1, 1, QImage::Format_RGB32);
        pixel.fill(0);
        try {
            return !EncodeJpeg(pixel, 50).empty();
        } catch (const CException&) {
            return false;
        }
    }();
    return available;
}

}  // namespace imaging
