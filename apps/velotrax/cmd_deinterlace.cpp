// velotrax deinterlace: runs the deinterlace engine over a file of raw
// frames, as the filter would over a stream of samples.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apps/velotrax/Command.h"
#include "deinterlace/DeInterlaceEngine.h"
#include "deinterlace/DiagnosticsOverlay.h"

namespace {

const char kUsage[] =
    "usage: velotrax deinterlace --format FMT --size WxH --method M [--interpolate I]\n"
    "                            [--sharpen S] [--diagnostics] [--field F]\n"
    "                            [--out-stride PIXELS] [--flip] IN OUT\n"
    "  FMT: yuy2 rgb24 rgb32 argb32 rgb555 rgb565; M: 0..4; I: 0..2; S: 0..5; F: 0..2\n"
    "  IN, OUT: files of raw frames, or '-' for standard input and output\n";

struct CFormat {
    const char* name;
    const GUID* subtype;
    int bitCount;
};
const CFormat kFormats[] = {
    {"yuy2", &MEDIASUBTYPE_YUY2, 16},     {"rgb24", &MEDIASUBTYPE_RGB24, 24},
    {"rgb32", &MEDIASUBTYPE_RGB32, 32},   {"argb32", &MEDIASUBTYPE_ARGB32, 32},
    {"rgb555", &MEDIASUBTYPE_RGB555, 16}, {"rgb565", &MEDIASUBTYPE_RGB565, 16},
};

struct COptions {
    const CFormat* format = nullptr;
    long width = 0;
    long height = 0;
    long method = -1;
    long interpolation = 0;
    long sharpen = 0;
    bool diagnostics = false;
    long field = -1;  // -1: by method
    long outStride = 0;
    bool flip = false;
    std::string in;
    std::string out;
};

// Thrown for a bad command line or input; the message is shown with the usage.
struct CUsageError {
    std::string message;
};

bool ParseNumber(const std::string& text, long& value) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

long NumberIn(const std::string& option, const std::string& text, long low, long high) {
    long value = 0;
    if (!ParseNumber(text, value) || value < low || value > high)
        throw CUsageError{option + " takes a number from " + std::to_string(low) + " to " +
                          std::to_string(high) + ", not '" + text + "'"};
    return value;
}

COptions ParseOptions(int argc, char** argv) {
    COptions o;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw CUsageError{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "--format") {
            std::string name = value();
            for (const CFormat& f : kFormats)
                if (name == f.name)
                    o.format = &f;
            if (!o.format)
                throw CUsageError{"unknown format '" + name + "'"};
        } else if (arg == "--size") {
            std::string size = value();
            size_t x = size.find('x');
            if (x == std::string::npos || !ParseNumber(size.substr(0, x), o.width) ||
                !ParseNumber(size.substr(x + 1), o.height) || o.width < 1 || o.height < 1 ||
                o.width > 65535 || o.height > 65535)
                throw CUsageError{"--size takes WIDTHxHEIGHT with both from 1 to 65535, not '" +
                                  size + "'"};
        } else if (arg == "--method") {
            o.method = NumberIn(arg, value(), 0, 4);
        } else if (arg == "--interpolate") {
            o.interpolation = NumberIn(arg, value(), 0, 2);
        } else if (arg == "--sharpen") {
            o.sharpen = NumberIn(arg, value(), 0, 5);
        } else if (arg == "--diagnostics") {
            o.diagnostics = true;
        } else if (arg == "--field") {
            o.field = NumberIn(arg, value(), 0, 2);
        } else if (arg == "--out-stride") {
            o.outStride = NumberIn(arg, value(), 1, 65535);
        } else if (arg == "--flip") {
            o.flip = true;
        } else if (arg == "-" || arg.rfind("-", 0) != 0) {
            files.push_back(arg);
        } else {
            throw CUsageError{"unknown option '" + arg + "'"};
        }
    }
    if (!o.format)
        throw CUsageError{"--format is missing"};
    if (o.width == 0)
        throw CUsageError{"--size is missing"};
    if (o.method < 0)
        throw CUsageError{"--method is missing"};
    if (files.size() != 2)
        throw CUsageError{"give one input and one output file"};
    if (o.outStride == 0)
        o.outStride = o.width;
    if (o.outStride < o.width)
        throw CUsageError{"--out-stride must be at least the width " + std::to_string(o.width)};
    o.in = files[0];
    o.out = files[1];
    return o;
}

CMediaType MakeType(const COptions& o, long width, long height) {
    CMediaType mt;
    mt.SetType(MEDIATYPE_Video);
    mt.SetSubtype(*o.format->subtype);
    const bool yuy2 = o.format->subtype == &MEDIASUBTYPE_YUY2;
    BITMAPINFOHEADER* bmi;
    const RECT rect{0, 0, LONG(o.width), LONG(o.height)};
    if (yuy2) {
        mt.SetFormatType(FORMAT_VideoInfo2);
        auto* vih =
            reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
        vih->rcSource = vih->rcTarget = rect;
        bmi = &vih->bmiHeader;
    } else {
        mt.SetFormatType(FORMAT_VideoInfo);
        auto* vih =
            reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        vih->rcSource = vih->rcTarget = rect;
        bmi = &vih->bmiHeader;
    }
    *bmi = BITMAPINFOHEADER{};
    bmi->biWidth = LONG(width);
    bmi->biHeight = LONG(height);
    bmi->biBitCount = WORD(o.format->bitCount);
    bmi->biCompression = yuy2 ? MakeFourCC('Y', 'U', 'Y', '2') : BI_RGB;
    bmi->biSizeImage = DWORD(width * (height < 0 ? -height : height) * o.format->bitCount / 8);
    mt.bFixedSizeSamples = 1;
    mt.lSampleSize = bmi->biSizeImage;
    return mt;
}

class CFile {
public:
    CFile(const std::string& name, bool write) {
        if (name == "-") {
            m_file = write ? stdout : stdin;
        } else {
            m_file = std::fopen(name.c_str(), write ? "wb" : "rb");
            m_owned = m_file != nullptr;
        }
    }
    ~CFile() {
        if (m_owned)
            std::fclose(m_file);
    }
    FILE* Get() const { return m_file; }
    // Closes an owned file; false when its data could not be written.
    bool Close() {
        bool ok = std::fflush(m_file) == 0 && !std::ferror(m_file);
        if (m_owned) {
            ok = std::fclose(m_file) == 0 && ok;
            m_owned = false;
        }
        return ok;
    }

private:
    FILE* m_file = nullptr;
    bool m_owned = false;
};

int Run(const COptions& o) {
    const size_t bpp = size_t(o.format->bitCount / 8);
    const size_t inFrame = size_t(o.width) * size_t(o.height) * bpp;
    const size_t outFrame = size_t(o.outStride) * size_t(o.height) * bpp;
    if (inFrame > 0x7FFFFFFF || outFrame > 0x7FFFFFFF)
        throw CUsageError{"frames of that size are too large"};

    if (o.in != "-") {
        struct stat st;
        if (stat(o.in.c_str(), &st) != 0) {
            std::fprintf(stderr, "velotrax deinterlace: cannot open '%s': %s\n", o.in.c_str(),
                         std::strerror(errno));
            return kExitFailure;
        }
        if (S_ISREG(st.st_mode) && size_t(st.st_size) % inFrame != 0)
            throw CUsageError{"'" + o.in + "' holds " + std::to_string(st.st_size) +
                              " bytes, not a whole number of frames of " + std::to_string(inFrame) +
                              " bytes"};
    }
    CFile in(o.in, false);
    if (!in.Get()) {
        std::fprintf(stderr, "velotrax deinterlace: cannot open '%s': %s\n", o.in.c_str(),
                     std::strerror(errno));
        return kExitFailure;
    }
    // Opening the output truncates it: when it is the input itself (the same
    // name, a link to it, or standard output sent to it), nothing is left to read.
    struct stat inStat, outStat;
    const bool outExists =
        o.out == "-" ? fstat(STDOUT_FILENO, &outStat) == 0 : stat(o.out.c_str(), &outStat) == 0;
    if (outExists && fstat(fileno(in.Get()), &inStat) == 0 && inStat.st_dev == outStat.st_dev &&
        inStat.st_ino == outStat.st_ino && S_ISREG(inStat.st_mode))
        throw CUsageError{"the output '" + o.out + "' is the input file; write to another file"};
    CFile out(o.out, true);
    if (!out.Get()) {
        std::fprintf(stderr, "velotrax deinterlace: cannot create '%s': %s\n", o.out.c_str(),
                     std::strerror(errno));
        return kExitFailure;
    }

    CDeInterlaceEngine engine;
    if (FAILED(engine.SetInputType(MakeType(o, o.width, o.height))) ||
        FAILED(engine.SetOutputType(MakeType(o, o.outStride, o.flip ? -o.height : o.height))))
        throw CUsageError{"the engine does not take that format"};
    engine.SetMethod(DWORD(o.method));
    engine.SetInterpolation(DWORD(o.interpolation));
    engine.SetSharpen(DWORD(o.sharpen));
    engine.SetDiagnostics(o.diagnostics ? 1 : 0);
    if (o.diagnostics)
        engine.SetOverlay(&CDiagnosticsOverlay::Instance());

    std::vector<DWORD> fields;
    if (o.field >= 0)
        fields = {DWORD(o.field)};
    else if (o.method > 2)
        fields = {1, 2};
    else
        fields = {0};

    // Every output byte is written for each frame unless the lines are wider
    // than the picture, text is drawn, or an odd YUY2 width leaves the last
    // pixel of interpolated lines; only then is the buffer cleared each time.
    const bool clearEachFrame = o.outStride != o.width || o.diagnostics ||
                                (o.format->subtype == &MEDIASUBTYPE_YUY2 && o.width % 2 != 0);
    std::vector<BYTE> inBuf(inFrame), outBuf(outFrame);
    for (;;) {
        size_t got = std::fread(inBuf.data(), 1, inFrame, in.Get());
        if (got == 0)
            break;
        if (got != inFrame)
            throw CUsageError{"the input ends in the middle of a frame (" + std::to_string(got) +
                              " of " + std::to_string(inFrame) + " bytes)"};
        for (DWORD field : fields) {
            if (clearEachFrame)
                std::fill(outBuf.begin(), outBuf.end(), BYTE(0));
            engine.ProcessFrame(field, CDeInterlaceSampleTimes{}, inBuf.data(), outBuf.data(),
                                long(inFrame), long(outFrame));
            if (std::fwrite(outBuf.data(), 1, outFrame, out.Get()) != outFrame) {
                std::fprintf(stderr, "velotrax deinterlace: cannot write '%s': %s\n", o.out.c_str(),
                             std::strerror(errno));
                return kExitFailure;
            }
        }
    }
    if (std::ferror(in.Get())) {
        std::fprintf(stderr, "velotrax deinterlace: cannot read '%s'\n", o.in.c_str());
        return kExitFailure;
    }
    if (!out.Close()) {
        std::fprintf(stderr, "velotrax deinterlace: cannot write '%s'\n", o.out.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

int RunDeinterlace(int argc, char** argv) {
    try {
        return Run(ParseOptions(argc, argv));
    } catch (const CUsageError& e) {
        std::fprintf(stderr, "velotrax deinterlace: %s\n%s", e.message.c_str(), kUsage);
        return kExitUsage;
    }
}

CCommandRegistrar reg({"deinterlace",
                       "deinterlace --format FMT --size WxH --method M [options] IN OUT  "
                       "deinterlace raw video frames",
                       &RunDeinterlace});

}  // namespace
