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
    long inStride = 0;  // bytes; 0: lines follow each other directly
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

void AddOptions(CCommandLine& cl) {
    cl.AddOption({"format"}, "pixel format: yuy2 rgb24 rgb32 argb32 rgb555 rgb565", "FMT");
    cl.AddOption({"size"}, "frame size in pixels, each from 1 to 65535", "WxH");
    cl.AddOption({"method"}, "deinterlace method, 0 to 4", "M");
    cl.AddOption({"interpolate"}, "interpolation, 0 to 2 (default 0)", "I");
    cl.AddOption({"sharpen"}, "sharpening, 0 to 5 (default 0)", "S");
    cl.AddOption({"diagnostics"}, "draw the diagnostics text into the frames");
    cl.AddOption({"field"}, "field to process, 0 to 2 (default: by method)", "F");
    cl.AddOption({"in-stride"},
                 "bytes from one input line to the next, for padded lines (default: packed)",
                 "BYTES");
    cl.AddOption({"out-stride"}, "output line length in pixels (default: the width)", "PIXELS");
    cl.AddOption({"flip"}, "write the output bottom-up");
}

COptions ParseOptions(const CCommandLine& cl) {
    COptions o;
    if (cl.IsSet("format")) {
        std::string name = cl.Value("format");
        for (const CFormat& f : kFormats)
            if (name == f.name)
                o.format = &f;
        if (!o.format)
            throw CUsageError{"unknown format '" + name + "'"};
    }
    if (cl.IsSet("size")) {
        std::string size = cl.Value("size");
        size_t x = size.find('x');
        if (x == std::string::npos || !ParseNumber(size.substr(0, x), o.width) ||
            !ParseNumber(size.substr(x + 1), o.height) || o.width < 1 || o.height < 1 ||
            o.width > 65535 || o.height > 65535)
            throw CUsageError{"--size takes WIDTHxHEIGHT with both from 1 to 65535, not '" + size +
                              "'"};
    }
    auto number = [&](const char* name, long& value, long low, long high) {
        if (cl.IsSet(name))
            value = NumberIn(std::string("--") + name, cl.Value(name), low, high);
    };
    number("method", o.method, 0, 4);
    number("interpolate", o.interpolation, 0, 2);
    number("sharpen", o.sharpen, 0, 5);
    number("field", o.field, 0, 2);
    number("out-stride", o.outStride, 1, 65535);
    number("in-stride", o.inStride, 1, 0x7FFFFFF);
    o.diagnostics = cl.IsSet("diagnostics");
    o.flip = cl.IsSet("flip");
    const std::vector<std::string>& files = cl.Positional();
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
    const long row = o.width * o.format->bitCount / 8;
    if (o.inStride == 0)
        o.inStride = row;
    if (o.inStride < row)
        throw CUsageError{"--in-stride must be at least a line's " + std::to_string(row) +
                          " bytes"};
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
    const size_t inFrame = size_t(o.inStride) * size_t(o.height);
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
    engine.SetStrides(o.inStride, 0);
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
    CCommandLine cl("deinterlace", {"--format FMT --size WxH --method M [OPTIONS] IN OUT"},
                    "Runs the deinterlace engine over IN, a file of raw frames, and writes the\n"
                    "frames to OUT; '-' stands for standard input or output.");
    AddOptions(cl);
    if (auto status = cl.Parse(argc, argv))
        return *status;
    try {
        return Run(ParseOptions(cl));
    } catch (const CUsageError& e) {
        return cl.UsageError(e.message);
    }
}

CCommandRegistrar reg({"deinterlace", "deinterlace raw video frames", &RunDeinterlace});

}  // namespace
