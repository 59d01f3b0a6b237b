#pragma once
// CDiagnosticsOverlay: draws the deinterlacer's diagnostic text into output
// frames. The text is rasterised with FreeType in the sans-serif face that
// fontconfig gives for "Arial" (Liberation Sans, its metric twin), 16 pixels
// per line, white on blue, without any window system, so it runs on the
// streaming threads of headless hosts.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "deinterlace/DeInterlaceOverlay.h"

class CDiagnosticsOverlay : public deint::IDeInterlaceOverlay {
public:
    static constexpr int kLineHeight = 16;

    // The process-wide overlay; safe to use from several threads.
    static CDiagnosticsOverlay& Instance();

    CDiagnosticsOverlay();
    ~CDiagnosticsOverlay() override;
    CDiagnosticsOverlay(const CDiagnosticsOverlay&) = delete;
    CDiagnosticsOverlay& operator=(const CDiagnosticsOverlay&) = delete;

    // The text block: blue, green, red pixels, top line first, no padding.
    struct CTextImage {
        int width = 0;
        int height = 0;
        std::vector<uint8_t> bgr;
    };
    // Lays out the text (its widest line by its number of lines) and draws
    // it, cut to maxWidth × maxHeight.
    CTextImage Render(const std::string& text, int maxWidth, int maxHeight);

    // Whether a face was found; without one nothing is drawn.
    bool HasFont() const;
    // The family name of the face in use ("" without one).
    std::string FontFamily() const;

    void DrawText(const std::string& text, const deint::COverlayFrame& frame) noexcept override;

private:
    struct CFont;
    std::mutex m_mutex;
    std::unique_ptr<CFont> m_font;
};
