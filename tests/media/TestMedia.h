#pragma once
// The generated test clips and a reader for the frame number a frame shows.
// Every video clip scrolls a white bar on black left by kBarSpeed pixels per
// frame: in frame n the bar's left edge lies at (width - n * kBarSpeed) mod width.
#include <cstdint>
#include <cstring>
#include <string>

namespace testmedia {

inline std::string Dir() {
    return VELOTRAX_TEST_MEDIA_DIR;
}
inline std::string Path(const char* name) {
    return Dir() + "/" + name;
}

// Video 320x240, 25 fps, 2 s (50 frames) with a stereo tone.
inline std::string VideoAudio() {
    return Path("av.webm");
}
// Video only 320x240, 25 fps, 3 s (75 frames), key frame every 25 frames.
inline std::string Video25() {
    return Path("video25.webm");
}
// Video only 320x240, 30 fps, 2 s (60 frames).
inline std::string Video30() {
    return Path("video30.webm");
}
// Audio only, stereo tone, 2 s.
inline std::string AudioOnly() {
    return Path("audio.ogg");
}
// Raw YUY2, interlaced (interleaved fields), 320x240, 25 fps, 1 s.
inline std::string Interlaced() {
    return Path("interlaced.mkv");
}
// Raw YUY2, interlaced, 320x240, 25 fps, 1 s; the top field of frame n shows
// bar frame 2n, the bottom field bar frame 2n + 1 (2 pixels further left).
inline std::string InterlacedFields() {
    return Path("fields.mkv");
}

// Video only 320x240, 25 fps, 12 s (300 frames), one key frame every 250
// frames; its bar moves kLongGopBarSpeed pixels per frame.
inline std::string LongGop() {
    return Path("longgop.webm");
}
constexpr int kLongGopBarSpeed = 1;
// Video only 3840x2160, 25 fps, 10 frames from one key frame.
inline std::string Uhd() {
    return Path("uhd.webm");
}
// Raw I420 160x120 with pixel aspect 2:1, 25 fps, 5 frames.
inline std::string WidePixels() {
    return Path("widepixels.mkv");
}

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kBarSpeed = 2;

// The frame number (modulo width / speed, 160 for the usual clips) shown in
// a row of pixels given as bytes with 'stride' bytes per pixel, reading
// channel 'channel'; -1 when no bar edge is found.
inline int FrameNumberFromRow(const uint8_t* row, int width, int stride, int channel = 1,
                              int speed = kBarSpeed) {
    auto white = [&](int x) { return row[((x + width) % width) * stride + channel] > 128; };
    for (int x = 0; x < width; ++x) {
        if (white(x) && !white(x - 1))
            return ((width - x) % width) / speed;
    }
    return -1;
}

// The frame number shown in a packed DIB (BITMAPINFOHEADER of 40 bytes
// followed by 24- or 32-bit pixels, bottom-up rows padded to 4 bytes).
inline int FrameNumberFromDib(const uint8_t* dib) {
    int32_t width = 0, height = 0;
    uint16_t bits = 0;
    uint32_t headerSize = 0;
    std::memcpy(&headerSize, dib, 4);
    std::memcpy(&width, dib + 4, 4);
    std::memcpy(&height, dib + 8, 4);
    std::memcpy(&bits, dib + 14, 2);
    if (width <= 0 || height == 0 || (bits != 24 && bits != 32))
        return -1;
    int bpp = bits / 8;
    int stride = (width * bpp + 3) & ~3;
    int rows = height < 0 ? -height : height;
    const uint8_t* row = dib + headerSize + size_t(rows / 2) * stride;
    return FrameNumberFromRow(row, width, bpp);
}

}  // namespace testmedia
