#include "deinterlace/DiagnosticsOverlay.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace {

// A rendered glyph, kept for the life of the face.
struct CGlyph {
    int advance = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    std::vector<uint8_t> coverage;
};

// The file and face index fontconfig chooses for a family name. A private
// configuration, released again, leaves the process-wide one (which a GUI
// toolkit in the same process may use) untouched.
bool FindFontFile(const char* family, std::string& file, int& index) {
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config)
        return false;
    bool found = false;
    if (FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family))) {
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        if (FcPattern* match = FcFontMatch(config, pattern, &result)) {
            FcChar8* path = nullptr;
            found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path;
            if (found) {
                file = reinterpret_cast<const char*>(path);
                if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch)
                    index = 0;
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return found;
}

}  // namespace

struct CDiagnosticsOverlay::CFont {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    int ascent = 0;
    std::array<std::optional<CGlyph>, 256> glyphs;

    ~CFont() {
        if (face)
            FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
    }

    bool Open() {
        std::string file;
        int index = 0;
        if (!FindFontFile("Arial", file, index))
            return false;
        if (FT_Init_FreeType(&library) != 0)
            return false;
        if (FT_New_Face(library, file.c_str(), index, &face) != 0) {
            face = nullptr;
            return false;
        }
        // A font height of 16 is the cell height: ascent plus descent.
        FT_Size_RequestRec request{};
        request.type = FT_SIZE_REQUEST_TYPE_CELL;
        request.height = kLineHeight * 64;
        if (FT_Request_Size(face, &request) != 0)
            return false;
        int units = face->ascender - face->descender;
        ascent = units > 0 ? (kLineHeight * face->ascender + units / 2) / units : kLineHeight;
        return true;
    }

    const CGlyph& Glyph(unsigned char c) {
        std::optional<CGlyph>& slot = glyphs[c];
        if (slot)
            return *slot;
        slot.emplace();
        if (FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) == 0) {
            FT_GlyphSlot g = face->glyph;
            slot->advance = int((g->advance.x + 32) >> 6);
            slot->left = g->bitmap_left;
            slot->top = g->bitmap_top;
            slot->width = int(g->bitmap.width);
            slot->rows = int(g->bitmap.rows);
            slot->coverage.resize(size_t(slot->width) * slot->rows);
            for (int y = 0; y < slot->rows; ++y)
                std::memcpy(slot->coverage.data() + size_t(y) * slot->width,
                            g->bitmap.buffer + ptrdiff_t(y) * g->bitmap.pitch, slot->width);
        }
        return *slot;
    }
};

CDiagnosticsOverlay& CDiagnosticsOverlay::Instance() {
    static CDiagnosticsOverlay overlay;
    return overlay;
}

CDiagnosticsOverlay::CDiagnosticsOverlay() {
    auto font = std::make_unique<CFont>();
    if (font->Open())
        m_font = std::move(font);
}

CDiagnosticsOverlay::~CDiagnosticsOverlay() = default;

bool CDiagnosticsOverlay::HasFont() const {
    return m_font != nullptr;
}

std::string CDiagnosticsOverlay::FontFamily() const {
    return m_font && m_font->face->family_name ? m_font->face->family_name : "";
}

CDiagnosticsOverlay::CTextImage CDiagnosticsOverlay::Render(const std::string& text, int maxWidth,
                                                            int maxHeight) {
    CTextImage image;
    if (!m_font)
        return image;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    size_t begin = 0;
    for (;;) {
        size_t end = text.find('\n', begin);
        lines.push_back(text.substr(begin, end == std::string::npos ? end : end - begin));
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }
    int textWidth = 0;
    for (const std::string& line : lines) {
        int w = 0;
        for (unsigned char c : line)
            w += m_font->Glyph(c).advance;
        textWidth = std::max(textWidth, w);
    }
    image.width = std::clamp(textWidth, 0, std::max(maxWidth, 0));
    image.height = std::clamp(int(lines.size()) * kLineHeight, 0, std::max(maxHeight, 0));
    image.bgr.resize(size_t(image.width) * image.height * 3);
    for (size_t i = 0; i < image.bgr.size(); i += 3)
        image.bgr[i] = 255;  // blue background

    for (size_t n = 0; n < lines.size(); ++n) {
        int baseline = int(n) * kLineHeight + m_font->ascent;
        int pen = 0;
        for (unsigned char c : lines[n]) {
            const CGlyph& g = m_font->Glyph(c);
            for (int gy = 0; gy < g.rows; ++gy) {
                int y = baseline - g.top + gy;
                if (y < 0 || y >= image.height)
                    continue;
                for (int gx = 0; gx < g.width; ++gx) {
                    int x = pen + g.left + gx;
                    if (x < 0 || x >= image.width)
                        continue;
                    uint8_t a = g.coverage[size_t(gy) * g.width + gx];
                    uint8_t* p = &image.bgr[(size_t(y) * image.width + x) * 3];
                    // White over blue: blue stays full, green and red follow the coverage.
                    p[1] = std::max(p[1], a);
                    p[2] = std::max(p[2], a);
                }
            }
            pen += g.advance;
        }
    }
    return image;
}

void CDiagnosticsOverlay::DrawText(const std::string& text,
                                   const deint::COverlayFrame& frame) noexcept {
    using deint::EPixelFormat;
    try {
        int bpp = 0;
        switch (frame.format) {
            case EPixelFormat::Rgb24:
                bpp = 3;
                break;
            case EPixelFormat::Rgb32:
            case EPixelFormat::Argb32:
                bpp = 4;
                break;
            case EPixelFormat::Rgb555:
            case EPixelFormat::Rgb565:
                bpp = 2;
                break;
            default:
                return;
        }
        if (!frame.data || frame.width <= 0 || frame.height <= 0 || frame.lineSize <= 0)
            return;
        int maxWidth = int(std::min<ptrdiff_t>(frame.width, frame.lineSize / bpp));
        CTextImage image = Render(text, maxWidth, frame.height);
        for (int r = 0; r < image.height; ++r) {
            size_t line = size_t(frame.bottomUp ? frame.height - 1 - r : r);
            size_t offset = line * size_t(frame.lineSize);
            size_t bytes = size_t(image.width) * bpp;
            if (offset > frame.size || frame.size - offset < bytes)
                continue;
            uint8_t* dst = frame.data + offset;
            const uint8_t* src = image.bgr.data() + size_t(r) * image.width * 3;
            for (int x = 0; x < image.width; ++x, src += 3, dst += bpp) {
                unsigned b = src[0], g = src[1], red = src[2];
                switch (frame.format) {
                    case EPixelFormat::Rgb24:
                        dst[0] = uint8_t(b), dst[1] = uint8_t(g), dst[2] = uint8_t(red);
                        break;
                    case EPixelFormat::Rgb32:
                    case EPixelFormat::Argb32:
                        dst[0] = uint8_t(b), dst[1] = uint8_t(g), dst[2] = uint8_t(red);
                        // An alpha-carrying frame gets an opaque block.
                        dst[3] = frame.format == EPixelFormat::Argb32 ? 255 : 0;
                        break;
                    case EPixelFormat::Rgb555: {
                        uint16_t v = uint16_t(((red >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
                        std::memcpy(dst, &v, 2);
                        break;
                    }
                    default: {
                        uint16_t v = uint16_t(((red >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
                        std::memcpy(dst, &v, 2);
                        break;
                    }
                }
            }
        }
    } catch (...) {
        // The overlay is a diagnostic aid: a failure leaves the frame as it is.
    }
}
