// The engine's frame procedures: which input lines make each output line,
// copies, flips and swaps, buffer safety, and the field after a new segment.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "deinterlace/DeInterlaceEngine.h"
#include "tests/deinterlace/DeInterlaceTestUtil.h"

using deint_test::MakeVideoType;
using deint_test::RandomBytes;

namespace {

// Values of the input lines; pairs of them average with truncation.
const uint8_t kLineValue[] = {11, 40, 50, 81, 101, 140, 180, 201};

// An output line made from input lines a and b: a copy when a == b.
using Source = std::pair<int, int>;
Source In(int a) {
    return {a, a};
}
Source Avg(int a, int b) {
    return {a, b};
}

struct ShapeCase {
    const char* name;
    DWORD method;
    DWORD interpolation;
    DWORD fieldIndex;
    int height;
    std::vector<Source> expected;
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<uint8_t> RunShape(DWORD method, DWORD interpolation, DWORD fieldIndex, int height,
                              const GUID& subtype = MEDIASUBTYPE_RGB24) {
    const int width = 2, bpp = deint_test::BitCountOf(subtype) / 8;
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(subtype, width, height));
    engine.SetOutputType(MakeVideoType(subtype, width, height));
    engine.SetMethod(method);
    engine.SetInterpolation(interpolation);
    std::vector<uint8_t> in(size_t(width * bpp * height));
    for (int y = 0; y < height; ++y)
        std::memset(in.data() + y * width * bpp, kLineValue[y], size_t(width * bpp));
    std::vector<uint8_t> out(in.size(), 0xEE);
    EXPECT_EQ(S_OK, engine.ProcessFrame(fieldIndex, CDeInterlaceSampleTimes{}, in.data(),
                                        out.data(), long(in.size()), long(out.size())));
    return out;
}

class WorkedShapes : public testing::TestWithParam<ShapeCase> {};

TEST_P(WorkedShapes, EachOutputLineComesFromTheExpectedInputLines) {
    const ShapeCase& c = GetParam();
    std::vector<uint8_t> out = RunShape(c.method, c.interpolation, c.fieldIndex, c.height);
    ASSERT_EQ(size_t(c.height), c.expected.size());
    for (int y = 0; y < c.height; ++y) {
        auto [a, b] = c.expected[y];
        uint8_t want = uint8_t((kLineValue[a] + kLineValue[b]) >> 1);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(want, out[y * 6 + i]) << "line " << y << " byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Engine, WorkedShapes,
    testing::Values(
        ShapeCase{
            "H6OddInterpolated", 1, 1, 0, 6, {In(0), Avg(0, 2), In(2), Avg(2, 4), In(4), In(4)}},
        ShapeCase{
            "H6EvenInterpolated", 2, 1, 0, 6, {In(0), In(1), Avg(1, 3), In(3), Avg(3, 5), In(5)}},
        ShapeCase{"H6OddReduplicated", 1, 0, 0, 6, {In(0), In(0), In(2), In(2), In(4), In(4)}},
        ShapeCase{"H6EvenReduplicated", 2, 0, 0, 6, {In(0), In(1), In(1), In(3), In(3), In(5)}},
        ShapeCase{"H5OddInterpolated", 1, 1, 0, 5, {In(0), Avg(0, 2), In(2), Avg(2, 4), In(4)}},
        ShapeCase{"H5EvenInterpolated", 2, 1, 0, 5, {In(0), In(1), Avg(1, 3), In(3), In(3)}},
        ShapeCase{"H5OddReduplicated", 1, 0, 0, 5, {In(0), In(0), In(2), In(2), In(4)}},
        ShapeCase{"H5EvenReduplicated", 2, 0, 0, 5, {In(0), In(1), In(1), In(3), In(3)}},
        ShapeCase{"H4OddInterpolated", 1, 1, 0, 4, {In(0), Avg(0, 2), In(2), In(2)}},
        ShapeCase{"H3OddInterpolated", 1, 2, 0, 3, {In(0), Avg(0, 2), In(2)}},
        ShapeCase{"H3EvenInterpolated", 2, 1, 0, 3, {In(0), In(1), In(1)}},
        ShapeCase{"H2OddReduplicated", 1, 0, 0, 2, {In(0), In(0)}},
        ShapeCase{"H2OddInterpolated", 1, 1, 0, 2, {In(0), In(0)}},
        ShapeCase{"H2Even", 2, 1, 0, 2, {In(0), In(1)}}, ShapeCase{"H1Odd", 1, 1, 0, 1, {In(0)}},
        ShapeCase{"H1Even", 2, 0, 0, 1, {In(0)}},
        // Double rate: index 1 shows the first field of the method, index 2 the other.
        ShapeCase{
            "Method3Index1IsOdd", 3, 1, 1, 6, {In(0), Avg(0, 2), In(2), Avg(2, 4), In(4), In(4)}},
        ShapeCase{
            "Method3Index2IsEven", 3, 1, 2, 6, {In(0), In(1), Avg(1, 3), In(3), Avg(3, 5), In(5)}},
        ShapeCase{"Method4Index1IsEven", 4, 0, 1, 5, {In(0), In(1), In(1), In(3), In(3)}},
        ShapeCase{"Method4Index2IsOdd", 4, 0, 2, 5, {In(0), In(0), In(2), In(2), In(4)}},
        ShapeCase{"Method3Index0IsOdd", 3, 0, 0, 4, {In(0), In(0), In(2), In(2)}},
        ShapeCase{"Method0Copies", 0, 1, 0, 5, {In(0), In(1), In(2), In(3), In(4)}}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.name); });

TEST(Engine, EvenFieldAlwaysStartsWithInputLineZero) {
    for (int h = 1; h <= 8; ++h)
        for (DWORD interpolation = 0; interpolation <= 2; ++interpolation) {
            std::vector<uint8_t> out = RunShape(2, interpolation, 0, h);
            EXPECT_EQ(kLineValue[0], out[0]) << "height " << h;
        }
}

TEST(Engine, SettersIgnoreValuesOutOfRange) {
    CDeInterlaceEngine engine;
    engine.SetMethod(4);
    engine.SetMethod(5);
    engine.SetInterpolation(2);
    engine.SetInterpolation(3);
    engine.SetSharpen(5);
    engine.SetSharpen(6);
    engine.SetDiagnostics(1);
    engine.SetDiagnostics(2);
    EXPECT_EQ(4u, engine.GetMethod());
    EXPECT_EQ(2u, engine.GetInterpolation());
    EXPECT_EQ(5u, engine.GetSharpen());
    EXPECT_EQ(1u, engine.GetDiagnostics());
    EXPECT_TRUE(engine.IsDoubleRate());
    EXPECT_TRUE(engine.IsSharpening());
    engine.SetInterpolation(1);
    EXPECT_FALSE(engine.IsSharpening());
}

TEST(Engine, MethodZeroWithEqualWidthsCopiesExactlyTheLength) {
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(MEDIASUBTYPE_RGB32, 4, 3));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, 4, 3));
    std::vector<uint8_t> in = RandomBytes(48, 1), out(64, 0xAB);
    engine.ProcessFrame(0, {}, in.data(), out.data(), 37, long(out.size()));
    EXPECT_EQ(0, std::memcmp(in.data(), out.data(), 37));
    for (size_t i = 37; i < out.size(); ++i)
        EXPECT_EQ(0xAB, out[i]);
}

TEST(Engine, WiderOutputStrideCopiesLineByLineAndLeavesThePadding) {
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(MEDIASUBTYPE_RGB24, 3, 4));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB24, 5, 4));
    std::vector<uint8_t> in = RandomBytes(36, 2), out(60, 0xAB);
    for (DWORD method : {0u, 1u}) {
        engine.SetMethod(method);
        engine.ProcessFrame(0, {}, in.data(), out.data(), long(in.size()), long(out.size()));
        for (int y = 0; y < 4; ++y) {
            int src = method == 0 ? y : y & ~1;
            EXPECT_EQ(0, std::memcmp(in.data() + src * 9, out.data() + y * 15, 9)) << y;
            for (int i = 9; i < 15; ++i)
                EXPECT_EQ(0xAB, out[y * 15 + i]);
        }
    }
}

TEST(Engine, DifferentHeightsFlipRgbOutput) {
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(MEDIASUBTYPE_RGB32, 2, 4));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, 2, -4));
    EXPECT_TRUE(engine.IsFlipped());
    EXPECT_FALSE(engine.IsSwapped());
    std::vector<uint8_t> in = RandomBytes(32, 3), out(32);
    engine.ProcessFrame(0, {}, in.data(), out.data(), 32, 32);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(0, std::memcmp(in.data() + y * 8, out.data() + (3 - y) * 8, 8));

    engine.SetMethod(1);  // odd field, written bottom-up
    engine.ProcessFrame(0, {}, in.data(), out.data(), 32, 32);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(0, std::memcmp(in.data() + (y & ~1) * 8, out.data() + (3 - y) * 8, 8));
}

TEST(Engine, DifferentHeightsSwapTheDoubleRateFieldsOfYuy2) {
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(MEDIASUBTYPE_YUY2, 2, 4));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_YUY2, 2, -4));
    EXPECT_FALSE(engine.IsFlipped());
    EXPECT_TRUE(engine.IsSwapped());
    std::vector<uint8_t> in = RandomBytes(16, 4), out(16);
    engine.SetMethod(3);
    engine.ProcessFrame(1, {}, in.data(), out.data(), 16, 16);  // even field first
    const int even[] = {0, 1, 1, 3}, odd[] = {0, 0, 2, 2};
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(0, std::memcmp(in.data() + even[y] * 4, out.data() + y * 4, 4));
    engine.ProcessFrame(2, {}, in.data(), out.data(), 16, 16);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(0, std::memcmp(in.data() + odd[y] * 4, out.data() + y * 4, 4));
}

TEST(Engine, SameHeightsNeitherFlipNorSwap) {
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(MEDIASUBTYPE_RGB565, 2, -4));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB565, 4, -4));
    EXPECT_FALSE(engine.IsFlipped());
    EXPECT_FALSE(engine.IsSwapped());
}

TEST(Engine, OtherSubtypesGetLineDoublingOnly) {
    CDeInterlaceEngine engine;
    CMediaType type = MakeVideoType(MEDIASUBTYPE_UYVY, 2, 3);
    engine.SetInputType(type);
    engine.SetOutputType(type);
    engine.SetMethod(1);
    engine.SetInterpolation(1);
    std::vector<uint8_t> in = RandomBytes(12, 5), out(12);
    engine.ProcessFrame(0, {}, in.data(), out.data(), 12, 12);
    EXPECT_EQ(0, std::memcmp(in.data(), out.data() + 4, 4));  // line 1 is a copy of line 0
    EXPECT_EQ(0, std::memcmp(in.data() + 8, out.data() + 8, 4));
}

// Planar frames go plane by plane, each plane found at its own offset and
// stride, with the shapes of a packed frame of the plane's height; bytes
// outside the planes' lines are left alone.
TEST(Engine, PlanarFramesGoPlaneByPlane) {
    struct Case {
        const char* name;
        GUID subtype;
        bool paddedIn, paddedOut;
        DWORD method, interpolation, fieldIndex;
    };
    const Case cases[] = {
        {"I420 odd field", MEDIASUBTYPE_I420, false, false, 1, 1, 0},
        {"I420 padded, double rate second field", MEDIASUBTYPE_I420, true, true, 3, 1, 2},
        {"YV12 even first", MEDIASUBTYPE_YV12, false, false, 4, 1, 1},
        {"NV12 padded, even field doubled", MEDIASUBTYPE_NV12, true, true, 2, 0, 0},
        {"I420 copy between layouts", MEDIASUBTYPE_I420, true, false, 0, 0, 0},
    };
    const int width = 5, height = 7;
    for (const Case& c : cases) {
        const bool nv12 = c.subtype == MEDIASUBTYPE_NV12;
        const int planes = nv12 ? 2 : 3;
        const long rowBytes[3] = {width, nv12 ? 6 : 3, 3};
        const int lines[3] = {height, 4, 4};
        // GStreamer's default layout, or lines padded by 3 bytes with the
        // planes in reverse order.
        auto layoutOf = [&](bool padded) {
            CPlaneLayout l;
            l.count = padded ? planes : 0;
            size_t at = 1;
            for (int p = planes - 1; p >= 0; --p) {
                l.stride[p] = padded ? rowBytes[p] + 3 : (p == 0 || nv12 ? 8 : 4);
                l.offset[p] = padded ? at : (p == 0 ? 0 : p == 1 ? 64 : 80);
                at += size_t(l.stride[p] * lines[p]);
            }
            return l;
        };
        const CPlaneLayout in = layoutOf(c.paddedIn), out = layoutOf(c.paddedOut);
        CDeInterlaceEngine engine;
        engine.SetInputType(MakeVideoType(c.subtype, width, height));
        engine.SetOutputType(MakeVideoType(c.subtype, width, height));
        engine.SetPlaneLayouts(in, out);
        engine.SetMethod(c.method);
        engine.SetInterpolation(c.interpolation);
        ASSERT_TRUE(engine.IsPlanar()) << c.name;
        // Plane p's line y holds kLineValue[y] + 10p; padding holds 0x99.
        std::vector<uint8_t> inBytes(160, 0x99), outBytes(160, 0xEE);
        for (int p = 0; p < planes; ++p)
            for (int y = 0; y < lines[p]; ++y)
                std::memset(&inBytes[in.offset[p] + size_t(y * in.stride[p])],
                            kLineValue[y] + 10 * p, size_t(rowBytes[p]));
        engine.ProcessFrame(c.fieldIndex, {}, inBytes.data(), outBytes.data(), 160, 160);
        std::vector<bool> inPlane(160, false);
        for (int p = 0; p < planes; ++p) {
            // A packed frame of the plane's height gives the line values.
            std::vector<uint8_t> shape =
                c.method == 0 ? std::vector<uint8_t>(kLineValue, kLineValue + 8)
                              : RunShape(c.method, c.interpolation, c.fieldIndex, lines[p]);
            const size_t shapeStep = c.method == 0 ? 1 : 6;
            for (int y = 0; y < lines[p]; ++y)
                for (long x = 0; x < rowBytes[p]; ++x) {
                    const size_t at = out.offset[p] + size_t(y * out.stride[p] + x);
                    inPlane[at] = true;
                    ASSERT_EQ(shape[size_t(y) * shapeStep] + 10 * p, outBytes[at])
                        << c.name << " plane " << p << " line " << y;
                }
        }
        for (size_t i = 0; i < outBytes.size(); ++i)
            ASSERT_TRUE(inPlane[i] || outBytes[i] == 0xEE) << c.name << " byte " << i;
    }
}

// Every combination of geometry and buffer sizes must stay inside the two
// buffers: guard bytes around each must survive.
TEST(Engine, NeverWritesOutsideTheOutputBuffer) {
    const GUID subtypes[] = {MEDIASUBTYPE_YUY2,   MEDIASUBTYPE_RGB24,  MEDIASUBTYPE_RGB32,
                             MEDIASUBTYPE_ARGB32, MEDIASUBTYPE_RGB555, MEDIASUBTYPE_RGB565,
                             MEDIASUBTYPE_I420,   MEDIASUBTYPE_NV12};
    const LONG widths[] = {0, 1, 3, 7};
    const LONG heights[] = {0, 1, 2, 5, -5};
    const long sizes[] = {0, 1, 13, 40, 200};
    constexpr size_t kGuard = 64;
    for (const GUID& subtype : subtypes)
        for (LONG w : widths)
            for (LONG outW : {w, w / 2, w + 2})
                for (LONG h : heights)
                    for (long inSize : sizes)
                        for (long outSize : sizes)
                            for (DWORD method = 0; method <= 4; ++method) {
                                CDeInterlaceEngine engine;
                                engine.SetInputType(MakeVideoType(subtype, w, h));
                                engine.SetOutputType(MakeVideoType(subtype, outW, -h));
                                engine.SetMethod(method);
                                engine.SetInterpolation(2);
                                engine.SetSharpen(3);
                                std::vector<uint8_t> in = RandomBytes(size_t(inSize), 6);
                                std::vector<uint8_t> out(size_t(outSize) + 2 * kGuard, 0x5A);
                                engine.ProcessFrame(method > 2 ? 2 : 0, {}, in.data(),
                                                    out.data() + kGuard, inSize, outSize);
                                for (size_t i = 0; i < kGuard; ++i) {
                                    ASSERT_EQ(0x5A, out[i]);
                                    ASSERT_EQ(0x5A, out[kGuard + size_t(outSize) + i]);
                                }
                            }
}

// A bit count that differs from what the subtype packs is refused where
// the type enters; the frames then stay inside their buffers.
TEST(Engine, RefusesBitCountsThatDoNotMatchTheSubtype) {
    constexpr size_t kGuard = 64;
    for (const GUID& subtype : {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32,
                                MEDIASUBTYPE_ARGB32, MEDIASUBTYPE_RGB555, MEDIASUBTYPE_RGB565})
        for (WORD bits : {8, 16, 24, 32}) {
            if (bits == deint_test::BitCountOf(subtype))
                continue;
            CMediaType bad = MakeVideoType(subtype, 16, 6);
            const_cast<BITMAPINFOHEADER*>(bad.BitmapHeader())->biBitCount = bits;
            CDeInterlaceEngine engine;
            EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, engine.SetInputType(bad)) << bits;
            EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, engine.SetOutputType(bad)) << bits;
            EXPECT_EQ(nullptr, engine.OutputType().BitmapHeader());
            engine.SetMethod(2);
            engine.SetInterpolation(2);
            engine.SetSharpen(3);
            const long size = 16 * 6 * bits / 8;
            std::vector<uint8_t> in = RandomBytes(size_t(size), 8);
            std::vector<uint8_t> out(size_t(size) + 2 * kGuard, 0x5A);
            engine.ProcessFrame(0, {}, in.data(), out.data() + kGuard, size, size);
            for (size_t i = 0; i < kGuard; ++i)
                ASSERT_EQ(0x5A, out[kGuard + size_t(size) + i]) << bits;
        }
}

// Lines padded to 4 bytes (RGB24 at widths not a multiple of 4, 16-bit
// formats at odd widths) must come out as the engine makes the unpadded
// frame, line for line, with every kernel set.
TEST(Engine, PaddedLinesGiveTheRowsOfTheUnpaddedFrame) {
    struct Case {
        GUID subtype;
        int width;
    };
    const Case cases[] = {{MEDIASUBTYPE_RGB24, 350}, {MEDIASUBTYPE_RGB24, 351},
                          {MEDIASUBTYPE_RGB565, 33}, {MEDIASUBTYPE_RGB555, 35},
                          {MEDIASUBTYPE_YUY2, 34},   {MEDIASUBTYPE_RGB32, 7}};
    const int height = 9;
    std::vector<const deint::CKernelSet*> sets = deint::WideKernelSets();
    sets.push_back(&deint::ScalarKernels());
    for (const Case& c : cases)
        for (const deint::CKernelSet* kernels : sets)
            for (DWORD method : {0u, 1u, 2u})
                for (DWORD interpolation : {0u, 2u}) {
                    const int row = c.width * deint_test::BitCountOf(c.subtype) / 8;
                    const int stride = (row + 3) & ~3, outStride = stride + 8;
                    std::vector<uint8_t> packed = RandomBytes(size_t(row * height), 9);
                    std::vector<uint8_t> padded(size_t(stride * height), 0xEE);
                    for (int y = 0; y < height; ++y)
                        std::memcpy(&padded[size_t(y * stride)], &packed[size_t(y * row)],
                                    size_t(row));
                    auto run = [&](const std::vector<uint8_t>& in, long inStride, long outStride2,
                                   size_t outBytes) {
                        CDeInterlaceEngine engine;
                        engine.SetKernels(*kernels);
                        engine.SetInputType(MakeVideoType(c.subtype, c.width, height));
                        engine.SetOutputType(MakeVideoType(c.subtype, c.width, height));
                        engine.SetStrides(inStride, outStride2);
                        engine.SetMethod(method);
                        engine.SetInterpolation(interpolation);
                        engine.SetSharpen(interpolation == 2 ? 3 : 0);
                        std::vector<uint8_t> out(outBytes, 0x77);
                        engine.ProcessFrame(0, {}, in.data(), out.data(), long(in.size()),
                                            long(out.size()));
                        return out;
                    };
                    std::vector<uint8_t> want = run(packed, 0, 0, packed.size());
                    std::vector<uint8_t> got =
                        run(padded, stride, outStride, size_t(outStride * height));
                    for (int y = 0; y < height; ++y)
                        ASSERT_EQ(0, std::memcmp(&want[size_t(y * row)],
                                                 &got[size_t(y * outStride)], size_t(row)))
                            << deint_test::BitCountOf(c.subtype) << " bits, width " << c.width
                            << ", " << kernels->name << ", method " << method << ", row " << y;
                }
}

TEST(Engine, ShortInputProcessesTheWholeLinesItHas) {
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(MEDIASUBTYPE_RGB24, 2, 6));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB24, 2, 6));
    engine.SetMethod(1);
    std::vector<uint8_t> in = RandomBytes(36, 7), out(36, 0xCC);
    engine.ProcessFrame(0, {}, in.data(), out.data(), 20, 36);  // three whole lines
    EXPECT_EQ(0, std::memcmp(in.data(), out.data(), 6));
    EXPECT_EQ(0, std::memcmp(in.data(), out.data() + 6, 6));
    EXPECT_EQ(0, std::memcmp(in.data() + 12, out.data() + 12, 6));
    for (size_t i = 18; i < 36; ++i)
        EXPECT_EQ(0xCC, out[i]);
}

TEST(Engine, NullBuffersAreIgnored) {
    CDeInterlaceEngine engine;
    engine.SetInputType(MakeVideoType(MEDIASUBTYPE_RGB24, 2, 2));
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB24, 2, 2));
    std::vector<uint8_t> buf(12);
    EXPECT_EQ(S_OK, engine.ProcessFrame(0, {}, nullptr, buf.data(), 12, 12));
    EXPECT_EQ(S_OK, engine.ProcessFrame(0, {}, buf.data(), nullptr, 12, 12));
}

TEST(Engine, FirstFieldAfterSegment) {
    CDeInterlaceEngine engine;
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_YUY2, 720, 576));
    EXPECT_EQ(0u, engine.FirstFieldAfterSegment(300000));  // not double rate
    engine.SetMethod(3);
    EXPECT_FALSE(engine.HasFrameTime());
    // PAL without a frame time: 20 ms fields; 30 ms into a 40 ms frame is the second field.
    EXPECT_EQ(2u, engine.FirstFieldAfterSegment(300000));
    EXPECT_EQ(1u, engine.FirstFieldAfterSegment(0));
    EXPECT_EQ(1u, engine.FirstFieldAfterSegment(199999));
    EXPECT_EQ(2u, engine.FirstFieldAfterSegment(200000));
    EXPECT_EQ(1u, engine.FirstFieldAfterSegment(400000));
    EXPECT_EQ(2u, engine.FirstFieldAfterSegment(-100000));  // -10 ms is 30 ms into the frame before
    auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(engine.OutputType().Format());
    EXPECT_EQ(200000, vih->AvgTimePerFrame);

    // NTSC, top-down.
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, 720, -480));
    engine.SetMethod(4);
    EXPECT_EQ(1u, engine.FirstFieldAfterSegment(166833));
    EXPECT_EQ(2u, engine.FirstFieldAfterSegment(166834));
    EXPECT_EQ(1u, engine.FirstFieldAfterSegment(2 * 166834));

    // Another size without a frame time: no choice.
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, 640, 480));
    EXPECT_EQ(0u, engine.FirstFieldAfterSegment(300000));

    // A frame time of its own.
    engine.SetOutputType(MakeVideoType(MEDIASUBTYPE_RGB32, 640, 480, 100000));
    EXPECT_TRUE(engine.HasFrameTime());
    EXPECT_EQ(1u, engine.FirstFieldAfterSegment(50000));
    EXPECT_EQ(2u, engine.FirstFieldAfterSegment(150000));
}

}  // namespace
