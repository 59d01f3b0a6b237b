#pragma once
// What the engine needs from whoever draws the diagnostic text: a frame to
// draw into and the text. The drawing itself (fonts, rasterising) lives in
// its own unit so that the pixel code depends on nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

namespace deint {

// I420 stands for YV12 as well: the two differ only in the order of their
// chroma planes, which no kernel tells apart.
enum class EPixelFormat { Other, Yuy2, Rgb24, Rgb32, Argb32, Rgb555, Rgb565, I420, Nv12 };

// An output frame as the overlay sees it.
struct COverlayFrame {
    uint8_t* data = nullptr;
    size_t size = 0;         // bytes available at data
    int width = 0;           // pixels per line
    int height = 0;          // lines
    ptrdiff_t lineSize = 0;  // bytes from one line to the next in memory
    bool bottomUp = false;   // the picture's top line is the last line in memory
    EPixelFormat format = EPixelFormat::Other;
};

class IDeInterlaceOverlay {
public:
    virtual ~IDeInterlaceOverlay() = default;
    // Draws 'text' (lines separated by '\n') white on blue into the frame's
    // top-left corner, cut at the frame's edges. Never throws.
    virtual void DrawText(const std::string& text, const COverlayFrame& frame) noexcept = 0;
};

}  // namespace deint
