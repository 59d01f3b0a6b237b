// The diagnostic text: its lines, the field line, and how the overlay puts
// it into frames of each format.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "deinterlace/DeInterlaceEngine.h"
#include "deinterlace/DiagnosticsOverlay.h"
#include "tests/deinterlace/DeInterlaceTestUtil.h"

using deint_test::MakeVideoType;

namespace {

std::string FieldLine(DWORD method, DWORD fieldIndex) {
    CDeInterlaceEngine engine;
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, 8, 8));
    engine.SetMethod(method);
    std::string text = engine.DiagnosticText(fieldIndex, {});
    size_t at = text.find("\nfield: ");
    return at == std::string::npos ? "" : text.substr(at + 1);
}

TEST(DiagnosticText, TellsTimesFormatAndGeometry) {
    CDeInterlaceEngine engine;
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, 320, -240, 400000));
    CDeInterlaceSampleTimes times{true, 15000000, 15400000};
    EXPECT_EQ(
        "start/stop: [1.500 - 1.540]\n"
        "media sub type: MEDIASUBTYPE_RGB32\n"
        "size: 320 x -240\n"
        "souce rect: 0, 0, 320, 240\n"
        "target rect: 0, 0, 320, 240\n"
        "avg frame time: 40 ms",
        engine.DiagnosticText(0, times));
    // Without times the sample shows zeros.
    EXPECT_EQ(0u, engine.DiagnosticText(0, {}).find("start/stop: [0.000 - 0.000]\n"));
}

TEST(DiagnosticText, NamesUnknownSubtypes) {
    CDeInterlaceEngine engine;
    CMediaType mt = MakeVideoType(MEDIASUBTYPE_RGB32, 4, 4);
    mt.SetSubtype(MakeGuid("01234567-89AB-CDEF-0123-456789ABCDEF"));
    engine.SetOutputType(mt);
    EXPECT_NE(std::string::npos,
              engine.DiagnosticText(0, {}).find("media sub type: Unknown GUID Name\n"));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_YUY2, 4, 4));
    EXPECT_NE(std::string::npos,
              engine.DiagnosticText(0, {}).find("media sub type: MEDIASUBTYPE_YUY2\n"));
}

TEST(DiagnosticText, FieldLineFollowsMethodAndIndex) {
    EXPECT_EQ("", FieldLine(0, 0));
    EXPECT_EQ("field: odd", FieldLine(1, 0));
    EXPECT_EQ("field: even", FieldLine(2, 0));
    EXPECT_EQ("field: 1 odd", FieldLine(3, 1));
    EXPECT_EQ("field: 2 even", FieldLine(3, 2));
    EXPECT_EQ("field: 1 even", FieldLine(4, 1));
    EXPECT_EQ("field: 2 odd", FieldLine(4, 2));
    EXPECT_EQ("field: even", FieldLine(4, 0));
}

class Overlay : public testing::Test {
protected:
    void SetUp() override {
        if (!CDiagnosticsOverlay::Instance().HasFont())
            GTEST_SKIP() << "no sans-serif face";
    }
    CDiagnosticsOverlay& O() { return CDiagnosticsOverlay::Instance(); }
};

TEST_F(Overlay, UsesTheArialStandIn) {
    EXPECT_EQ("Liberation Sans", O().FontFamily());
}

TEST_F(Overlay, BlockIsWidestLineBySixteenPixelLines) {
    auto one = O().Render("iiii", 1000, 1000);
    auto wide = O().Render("iiii\nWWWW\nii", 1000, 1000);
    EXPECT_EQ(16, one.height);
    EXPECT_EQ(48, wide.height);
    EXPECT_GT(wide.width, one.width);
    EXPECT_EQ(wide.width, O().Render("WWWW", 1000, 1000).width);
    // Blue where there is no ink, white in the strokes.
    EXPECT_EQ(255, wide.bgr[0]);
    EXPECT_EQ(0, wide.bgr[1]);
    EXPECT_EQ(0, wide.bgr[2]);
    bool white = false;
    for (size_t i = 0; i < wide.bgr.size(); i += 3)
        white |= wide.bgr[i] == 255 && wide.bgr[i + 1] == 255 && wide.bgr[i + 2] == 255;
    EXPECT_TRUE(white);
}

TEST_F(Overlay, TextIsCutAtTheFrameEdges) {
    auto full = O().Render("a wide line of diagnostic text\nand a second", 1000, 1000);
    auto cut = O().Render("a wide line of diagnostic text\nand a second", 40, 20);
    EXPECT_EQ(40, cut.width);
    EXPECT_EQ(20, cut.height);
    for (int y = 0; y < 20; ++y)
        EXPECT_EQ(0, std::memcmp(&cut.bgr[size_t(y * 40 * 3)],
                                 &full.bgr[size_t(y * full.width * 3)], 120));
}

// Runs the engine with diagnostics on over a black frame of the format.
std::vector<uint8_t> Draw(const GUID& subtype, int width, int height, int method = 1,
                          size_t extra = 0) {
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(subtype, width, height));
    engine.SetOutputType(MakeVideoType(subtype, width, height));
    engine.SetMethod(DWORD(method));
    engine.SetDiagnostics(1);
    engine.SetOverlay(&CDiagnosticsOverlay::Instance());
    size_t bytes =
        size_t(width * (height < 0 ? -height : height) * deint_test::BitCountOf(subtype) / 8);
    std::vector<uint8_t> in(bytes, 0), out(bytes + extra, 0x11);
    engine.ProcessFrame(0, {}, in.data(), out.data(), long(bytes), long(bytes));
    return out;
}

TEST_F(Overlay, Yuy2FramesGetNoText) {
    std::vector<uint8_t> out = Draw(MEDIASUBTYPE_YUY2, 64, 40);
    EXPECT_EQ(std::vector<uint8_t>(out.size(), 0), out);
}

TEST_F(Overlay, BlockSitsUprightAtTheTopLeft) {
    const int w = 400, h = 150;
    for (int height : {h, -h}) {
        std::vector<uint8_t> out = Draw(MEDIASUBTYPE_RGB32, w, height);
        CDeInterlaceEngine engine;
        engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, w, height));
        engine.SetMethod(1);
        auto image = O().Render(engine.DiagnosticText(0, {}), w, h);
        ASSERT_EQ(112, image.height);  // seven lines
        ASSERT_LT(image.width, w);
        for (int y = 0; y < h; ++y) {
            // Bottom-up: the picture's top line is the last line in memory.
            const uint8_t* line = &out[size_t((height > 0 ? h - 1 - y : y) * w * 4)];
            for (int x = 0; x < w; ++x) {
                const uint8_t* px = line + x * 4;
                if (y < image.height && x < image.width) {
                    const uint8_t* want = &image.bgr[size_t((y * image.width + x) * 3)];
                    ASSERT_EQ(0, std::memcmp(px, want, 3)) << x << "," << y << " " << height;
                    ASSERT_EQ(0, px[3]);
                } else {
                    ASSERT_EQ(0, px[0] | px[1] | px[2] | px[3]) << x << "," << y << " " << height;
                }
            }
        }
    }
}

TEST_F(Overlay, EachFormatGetsItsOwnPixels) {
    auto word = [](const std::vector<uint8_t>& v, size_t i) {
        uint16_t w;
        std::memcpy(&w, &v[i], 2);
        return w;
    };
    EXPECT_EQ(0x001F, word(Draw(MEDIASUBTYPE_RGB555, 50, -30), 0));
    EXPECT_EQ(0x001F, word(Draw(MEDIASUBTYPE_RGB565, 50, -30), 0));
    std::vector<uint8_t> argb = Draw(MEDIASUBTYPE_ARGB32, 50, -30);
    EXPECT_EQ(255, argb[0]);
    EXPECT_EQ(255, argb[3]);  // an opaque block
    std::vector<uint8_t> rgb24 = Draw(MEDIASUBTYPE_RGB24, 50, -30);
    EXPECT_EQ((std::vector<uint8_t>{255, 0, 0}),
              std::vector<uint8_t>(rgb24.begin(), rgb24.begin() + 3));
    // White strokes: the brightest 16-bit value of each packing.
    std::vector<uint8_t> p565 = Draw(MEDIASUBTYPE_RGB565, 200, -20);
    bool white = false;
    for (size_t i = 0; i < p565.size(); i += 2)
        white |= word(p565, i) == 0xFFFF;
    EXPECT_TRUE(white);
}

TEST_F(Overlay, OddLineSizesStayUndistorted) {
    // 75 pixels of 24 bits: 225 bytes per line, not a multiple of four.
    const int w = 75, h = 120;
    std::vector<uint8_t> out = Draw(MEDIASUBTYPE_RGB24, w, -h, 2);
    CDeInterlaceEngine engine;
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB24, w, -h));
    engine.SetMethod(2);
    auto image = O().Render(engine.DiagnosticText(0, {}), w, h);
    ASSERT_EQ(w, image.width);
    for (int y = 0; y < image.height; ++y)
        EXPECT_EQ(
            0, std::memcmp(&out[size_t(y * w * 3)], &image.bgr[size_t(y * w * 3)], size_t(w * 3)))
            << y;
}

TEST_F(Overlay, SmallFramesAndShortBuffersAreRespected) {
    std::vector<uint8_t> out = Draw(MEDIASUBTYPE_RGB32, 10, 5, 1, 16);
    for (size_t i = 200; i < out.size(); ++i)
        EXPECT_EQ(0x11, out[i]);
    // A buffer shorter than the frame: the lines that do not fit are left out.
    CDeInterlaceEngine engine;
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, 100, -40));
    engine.SetDiagnostics(1);
    engine.SetOverlay(&O());
    std::vector<uint8_t> buf(100 * 4 * 40, 0x22);
    engine.ProcessFrame(0, {}, nullptr, buf.data(), 0, 100 * 4 * 10);
    EXPECT_EQ(255, buf[0]);
    for (size_t i = 100 * 4 * 10; i < buf.size(); ++i)
        ASSERT_EQ(0x22, buf[i]);
}

}  // namespace

namespace {

// Keeps what the engine hands to the overlay.
struct CRecordingOverlay : deint::IDeInterlaceOverlay {
    void DrawText(const std::string& text, const deint::COverlayFrame& frame) noexcept override {
        texts.push_back(text);
        frames.push_back(frame);
    }
    std::vector<std::string> texts;
    std::vector<deint::COverlayFrame> frames;
};

// Anything with a media sample's GetTime and GetSize.
struct CFakeSample {
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
        if (!hasTimes)
            return HR(0x80040249);  // no time set
        *start = 20000000;
        *stop = 20200000;
        return S_OK;
    }
    LONG GetSize() { return size; }
    bool hasTimes = true;
    LONG size = 0;
};

TEST(DiagnosticOverlayCall, TakesTimesAndSizeFromTheOutputSample) {
    CRecordingOverlay overlay;
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(MEDIASUBTYPE_RGB565, 6, 4));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB565, 8, 4, 200000));
    engine.SetMethod(3);
    engine.SetDiagnostics(1);
    engine.SetOverlay(&overlay);
    std::vector<BYTE> in(48), out(64);
    CFakeSample sample{true, 64};
    EXPECT_EQ(S_OK, engine.ProcessFrame(2, &sample, in.data(), out.data(), 48));
    sample.hasTimes = false;
    engine.ProcessFrame(1, &sample, in.data(), out.data(), 48);
    ASSERT_EQ(2u, overlay.texts.size());
    EXPECT_EQ(0u, overlay.texts[0].find("start/stop: [2.000 - 2.020]\n"));
    EXPECT_NE(std::string::npos, overlay.texts[0].find("avg frame time: 20 ms\nfield: 2 even"));
    EXPECT_EQ(0u, overlay.texts[1].find("start/stop: [0.000 - 0.000]\n"));
    const deint::COverlayFrame& f = overlay.frames[0];
    EXPECT_EQ(out.data(), f.data);
    EXPECT_EQ(64u, f.size);
    EXPECT_EQ(8, f.width);
    EXPECT_EQ(4, f.height);
    EXPECT_EQ(16, f.lineSize);
    EXPECT_TRUE(f.bottomUp);
    EXPECT_EQ(deint::EPixelFormat::Rgb565, f.format);
}

TEST(DiagnosticOverlayCall, NotForYuy2NorWhenSwitchedOff) {
    CRecordingOverlay overlay;
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(MEDIASUBTYPE_YUY2, 4, 4));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_YUY2, 4, 4));
    engine.SetOverlay(&overlay);
    std::vector<BYTE> in(32), out(32);
    engine.SetDiagnostics(1);
    engine.ProcessFrame(0, {}, in.data(), out.data(), 32, 32);
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, 2, 4));
    engine.SetDiagnostics(0);
    engine.ProcessFrame(0, {}, in.data(), out.data(), 32, 32);
    EXPECT_TRUE(overlay.texts.empty());
}

}  // namespace
