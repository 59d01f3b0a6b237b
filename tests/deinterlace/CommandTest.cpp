// velotrax deinterlace against the engine run in the test itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "deinterlace/DeInterlaceEngine.h"
#include "deinterlace/DiagnosticsOverlay.h"
#include "tests/TestSupport.h"
#include "tests/deinterlace/DeInterlaceTestUtil.h"

using deint_test::MakeVideoType;

namespace {

struct CFormatName {
    const char* name;
    GUID subtype;
};
const CFormatName kFormats[] = {
    {"yuy2", MEDIASUBTYPE_YUY2},     {"rgb24", MEDIASUBTYPE_RGB24},
    {"rgb32", MEDIASUBTYPE_RGB32},   {"argb32", MEDIASUBTYPE_ARGB32},
    {"rgb555", MEDIASUBTYPE_RGB555}, {"rgb565", MEDIASUBTYPE_RGB565},
};

struct CRun {
    const CFormatName* format;
    int width, height, frames;
    DWORD method, interpolation = 0, sharpen = 0;
    int field = -1;
    int outStride = 0;
    bool flip = false;
    bool diagnostics = false;
};

std::string Input(const CRun& r) {
    size_t bytes = size_t(r.width * r.height * deint_test::BitCountOf(r.format->subtype) / 8);
    auto v = deint_test::RandomBytes(bytes * size_t(r.frames), uint32_t(r.width * 131 + r.method));
    return std::string(v.begin(), v.end());
}

// What the engine makes of the input, frame by frame.
std::string Expected(const CRun& r, const std::string& input) {
    const int bpp = deint_test::BitCountOf(r.format->subtype) / 8;
    const int stride = r.outStride ? r.outStride : r.width;
    CDeInterlaceEngine engine;
    engine.SetKernels(deint::ScalarKernels());
    engine.SetInputType(MakeVideoType(r.format->subtype, r.width, r.height));
    engine.SetOutputType(MakeVideoType(r.format->subtype, stride, r.flip ? -r.height : r.height));
    engine.SetMethod(r.method);
    engine.SetInterpolation(r.interpolation);
    engine.SetSharpen(r.sharpen);
    engine.SetDiagnostics(r.diagnostics);
    engine.SetOverlay(&CDiagnosticsOverlay::Instance());
    std::vector<DWORD> fields = r.field >= 0   ? std::vector<DWORD>{DWORD(r.field)}
                                : r.method > 2 ? std::vector<DWORD>{1, 2}
                                               : std::vector<DWORD>{0};
    const size_t inFrame = size_t(r.width * r.height * bpp),
                 outFrame = size_t(stride * r.height * bpp);
    std::string result;
    for (int f = 0; f < r.frames; ++f)
        for (DWORD field : fields) {
            std::vector<BYTE> out(outFrame, 0);
            engine.ProcessFrame(field, {},
                                reinterpret_cast<const BYTE*>(input.data()) + f * inFrame,
                                out.data(), long(inFrame), long(outFrame));
            result.append(out.begin(), out.end());
        }
    return result;
}

std::vector<std::string> Arguments(const CRun& r, const std::string& in, const std::string& out) {
    std::vector<std::string> args = {"deinterlace",
                                     "--format",
                                     r.format->name,
                                     "--size",
                                     std::to_string(r.width) + "x" + std::to_string(r.height),
                                     "--method",
                                     std::to_string(r.method)};
    if (r.interpolation)
        args.insert(args.end(), {"--interpolate", std::to_string(r.interpolation)});
    if (r.sharpen)
        args.insert(args.end(), {"--sharpen", std::to_string(r.sharpen)});
    if (r.field >= 0)
        args.insert(args.end(), {"--field", std::to_string(r.field)});
    if (r.outStride)
        args.insert(args.end(), {"--out-stride", std::to_string(r.outStride)});
    if (r.flip)
        args.push_back("--flip");
    if (r.diagnostics)
        args.push_back("--diagnostics");
    args.insert(args.end(), {in, out});
    return args;
}

void ExpectCommandMatchesEngine(const CRun& r) {
    vtest::TempDir dir;
    std::string input = Input(r);
    vtest::WriteFile(dir.File("in.raw"), input);
    vtest::ProcessResult p =
        vtest::RunVelotrax(Arguments(r, dir.File("in.raw"), dir.File("out.raw")));
    ASSERT_EQ(0, p.exitCode) << p.err;
    std::string got = vtest::ReadFile(dir.File("out.raw"));
    EXPECT_TRUE(got == Expected(r, input))
        << r.format->name << " method " << r.method << " interpolation " << r.interpolation;
}

TEST(DeinterlaceCommand, EveryFormatAndMethodMatchesTheEngine) {
    for (const CFormatName& format : kFormats)
        for (DWORD method = 0; method <= 4; ++method)
            for (DWORD interpolation = 0; interpolation <= 2; ++interpolation) {
                CRun r{&format, 9, 7, 2, method, interpolation, interpolation == 2 ? 3u : 0u};
                ExpectCommandMatchesEngine(r);
            }
}

TEST(DeinterlaceCommand, StrideFlipAndFieldOptions) {
    ExpectCommandMatchesEngine(CRun{&kFormats[1], 6, 5, 1, 1, 1, 0, -1, 9});
    ExpectCommandMatchesEngine(CRun{&kFormats[2], 6, 6, 2, 3, 2, 5, -1, 0, true});
    ExpectCommandMatchesEngine(CRun{&kFormats[0], 8, 6, 1, 4, 0, 0, 2, 0, true});
    ExpectCommandMatchesEngine(CRun{&kFormats[5], 5, 4, 1, 0, 0, 0, -1, 7, true});
}

// Padded input lines come out as the packed lines of the same picture.
TEST(DeinterlaceCommand, InputStrideSkipsThePadding) {
    vtest::TempDir dir;
    CRun r{&kFormats[1], 5, 4, 1, 1, 1};
    std::string packed = Input(r), padded;
    for (int y = 0; y < r.height; ++y)
        padded += packed.substr(size_t(y * 15), 15) + "\x01";
    vtest::WriteFile(dir.File("padded.raw"), padded);
    std::vector<std::string> args = Arguments(r, dir.File("padded.raw"), dir.File("out.raw"));
    args.insert(args.end() - 2, {"--in-stride", "16"});
    vtest::ProcessResult p = vtest::RunVelotrax(args);
    ASSERT_EQ(0, p.exitCode) << p.err;
    EXPECT_TRUE(vtest::ReadFile(dir.File("out.raw")) == Expected(r, packed));
}

TEST(DeinterlaceCommand, DiagnosticsDrawTheSameTextAsTheEngine) {
    ASSERT_TRUE(CDiagnosticsOverlay::Instance().HasFont());
    ExpectCommandMatchesEngine(CRun{&kFormats[2], 64, 40, 1, 4, 1, 0, -1, 0, false, true});
    ExpectCommandMatchesEngine(CRun{&kFormats[1], 300, 130, 1, 3, 0, 0, -1, 0, true, true});
}

TEST(DeinterlaceCommand, StandardInputAndOutput) {
    CRun r{&kFormats[3], 4, 4, 3, 2, 1};
    std::string input = Input(r);
    vtest::ProcessResult p = vtest::RunVelotrax(Arguments(r, "-", "-"), input);
    ASSERT_EQ(0, p.exitCode) << p.err;
    EXPECT_TRUE(p.out == Expected(r, input));
}

TEST(DeinterlaceCommand, BadArgumentsExitWithStatusTwo) {
    vtest::TempDir dir;
    vtest::WriteFile(dir.File("in.raw"), std::string(100, 'x'));
    const std::string in = dir.File("in.raw"), out = dir.File("out.raw");
    const std::vector<std::vector<std::string>> cases = {
        {"deinterlace", "--format", "nv12", "--size", "5x5", "--method", "1", in, out},
        {"deinterlace", "--format", "rgb32", "--size", "5", "--method", "1", in, out},
        {"deinterlace", "--format", "rgb32", "--size", "0x5", "--method", "1", in, out},
        {"deinterlace", "--format", "rgb32", "--size", "5x5", "--method", "5", in, out},
        {"deinterlace", "--format", "rgb32", "--size", "5x5", "--method", "1", "--interpolate", "3",
         in, out},
        {"deinterlace", "--format", "rgb32", "--size", "5x5", "--method", "1", "--sharpen", "6", in,
         out},
        {"deinterlace", "--format", "rgb32", "--size", "5x5", "--method", "1", "--field", "3", in,
         out},
        {"deinterlace", "--format", "rgb32", "--size", "5x5", "--method", "1", "--out-stride", "4",
         in, out},
        {"deinterlace", "--format", "rgb32", "--size", "5x5", "--method", "1", "--bogus", in, out},
        {"deinterlace", "--format", "rgb32", "--size", "5x5", "--method", "1", in},
        {"deinterlace", "--size", "5x5", "--method", "1", in, out},
        {"deinterlace", "--format", "rgb32", "--size", "5x5", in, out},
        {"deinterlace", "--format", "rgb32", "--size", "5x5", "--method"},
        // 100 bytes are not a whole number of 5x5 RGB24 frames.
        {"deinterlace", "--format", "rgb24", "--size", "5x5", "--method", "1", in, out},
    };
    for (const auto& args : cases) {
        vtest::ProcessResult p = vtest::RunVelotrax(args);
        EXPECT_EQ(2, p.exitCode) << args[args.size() - 3];
        EXPECT_NE(std::string::npos, p.err.find("velotrax deinterlace: ")) << p.err;
    }
    // A short frame on standard input is found at its end.
    vtest::ProcessResult p = vtest::RunVelotrax(
        {"deinterlace", "--format", "rgb24", "--size", "2x2", "--method", "0", "-", "-"},
        std::string(30, 'x'));
    EXPECT_EQ(2, p.exitCode);
    EXPECT_EQ(24u, p.out.size());  // the two whole frames were written
    EXPECT_NE(std::string::npos, p.err.find("middle of a frame"));
}

// Writing over the input would empty it before it is read.
TEST(DeinterlaceCommand, RefusesToWriteOverItsInput) {
    vtest::TempDir dir;
    const std::string in = dir.File("in.raw"), content(48, 'x');
    vtest::WriteFile(in, content);
    ASSERT_EQ(0, link(in.c_str(), dir.File("hard.raw").c_str()));
    ASSERT_EQ(0, symlink(in.c_str(), dir.File("soft.raw").c_str()));
    for (const char* out : {"in.raw", "hard.raw", "soft.raw"}) {
        vtest::ProcessResult p = vtest::RunVelotrax({"deinterlace", "--format", "rgb24", "--size",
                                                     "2x2", "--method", "1", in, dir.File(out)});
        EXPECT_EQ(2, p.exitCode) << out;
        EXPECT_NE(std::string::npos, p.err.find("is the input file")) << p.err;
        EXPECT_EQ(content, vtest::ReadFile(in)) << out;
    }
}

TEST(DeinterlaceCommand, MissingInputFails) {
    vtest::TempDir dir;
    vtest::ProcessResult p =
        vtest::RunVelotrax({"deinterlace", "--format", "rgb24", "--size", "2x2", "--method", "0",
                            dir.File("none.raw"), dir.File("o")});
    EXPECT_EQ(1, p.exitCode);
    EXPECT_NE(std::string::npos, p.err.find("cannot open"));
}

}  // namespace
