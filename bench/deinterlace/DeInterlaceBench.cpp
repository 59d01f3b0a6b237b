// Speed of the deinterlace engine: every format, method and interpolation
// (sharpen levels 1 and 5) at PAL and 1080 sizes. Each benchmark reports the
// processor time per output frame (us_per_frame) and its ratio (x_memcpy) to
// a plain memcpy of one output frame, timed right after it on the same
// buffers (memcpy_us).
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "deinterlace/DeInterlaceEngine.h"
#include "deinterlace/DeInterlaceKernels.h"

namespace {

struct CFormat {
    const char* name;
    GUID subtype;
    int bitCount;
};
const CFormat kFormats[] = {
    {"yuy2", MEDIASUBTYPE_YUY2, 16},     {"rgb24", MEDIASUBTYPE_RGB24, 24},
    {"rgb32", MEDIASUBTYPE_RGB32, 32},   {"argb32", MEDIASUBTYPE_ARGB32, 32},
    {"rgb555", MEDIASUBTYPE_RGB555, 16}, {"rgb565", MEDIASUBTYPE_RGB565, 16},
};

CMediaType MakeType(const CFormat& f, LONG width, LONG height) {
    CMediaType mt;
    mt.SetType(MEDIATYPE_Video);
    mt.SetSubtype(f.subtype);
    BITMAPINFOHEADER* bmi;
    if (f.subtype == MEDIASUBTYPE_YUY2) {
        mt.SetFormatType(FORMAT_VideoInfo2);
        bmi = &reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)))
                   ->bmiHeader;
    } else {
        mt.SetFormatType(FORMAT_VideoInfo);
        bmi = &reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)))
                   ->bmiHeader;
    }
    *bmi = BITMAPINFOHEADER{};
    bmi->biWidth = width;
    bmi->biHeight = height;
    bmi->biBitCount = WORD(f.bitCount);
    return mt;
}

// Processor time of this thread: the machine may be busy with other work,
// and both timings should count only this benchmark's own.
double ThreadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A picture with some structure, so that nothing is uniformly flat.
std::vector<BYTE> MakeFrame(size_t bytes) {
    std::vector<BYTE> v(bytes);
    std::mt19937 rng(42);
    for (size_t i = 0; i < bytes; ++i)
        v[i] = BYTE((i * 7 + (rng() & 31)) & 0xFF);
    return v;
}

// args: format, method, interpolation, sharpen level, width, height, scalar
// kernels, flipped output
void BM_DeInterlace(benchmark::State& state) {
    const CFormat& f = kFormats[state.range(0)];
    const DWORD method = DWORD(state.range(1));
    const DWORD interpolation = DWORD(state.range(2));
    const DWORD sharpen = DWORD(state.range(3));
    const LONG width = LONG(state.range(4)), height = LONG(state.range(5));
    const bool scalar = state.range(6) != 0;
    const bool flip = state.range(7) != 0;

    CDeInterlaceEngine engine;
    if (scalar)
        engine.SetKernels(deint::ScalarKernels());
    engine.SetInputType(MakeType(f, width, height));
    engine.SetOutputType(MakeType(f, width, flip ? -height : height));
    engine.SetMethod(method);
    engine.SetInterpolation(interpolation);
    engine.SetSharpen(sharpen);
    const size_t bytes = size_t(width) * size_t(height) * size_t(f.bitCount / 8);
    std::vector<BYTE> in = MakeFrame(bytes), out(bytes);
    const std::vector<DWORD> fields = method > 2 ? std::vector<DWORD>{1, 2} : std::vector<DWORD>{0};
    // Each iteration times the engine and then memcpy of as many output
    // frames on the same buffers, so that each pass follows one of the other
    // kind and both see the same machine. The ratio reported is the median
    // of the iterations' ratios, which a busy machine disturbs least.
    int64_t frames = 0;
    double ownSeconds = 0, memcpySeconds = 0;
    std::vector<double> ratios;
    for (auto _ : state) {
        double t0 = ThreadSeconds();
        for (DWORD field : fields)
            engine.ProcessFrame(field, CDeInterlaceSampleTimes{}, in.data(), out.data(),
                                long(bytes), long(bytes));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        double t1 = ThreadSeconds();
        for (size_t k = 0; k < fields.size(); ++k) {
            std::memcpy(out.data(), in.data(), bytes);
            benchmark::DoNotOptimize(out.data());
            benchmark::ClobberMemory();
        }
        double t2 = ThreadSeconds();
        ownSeconds += t1 - t0;
        memcpySeconds += t2 - t1;
        if (t2 > t1)
            ratios.push_back((t1 - t0) / (t2 - t1));
        frames += int64_t(fields.size());
        state.SetIterationTime(t1 - t0);
    }
    if (frames > 0) {
        std::sort(ratios.begin(), ratios.end());
        state.counters["us_per_frame"] = ownSeconds / double(frames) * 1e6;
        state.counters["memcpy_us"] = memcpySeconds / double(frames) * 1e6;
        state.counters["x_memcpy"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
    }
    char label[96];
    std::snprintf(label, sizeof label, "%s m%u i%u s%u %dx%d%s%s", f.name, unsigned(method),
                  unsigned(interpolation), unsigned(sharpen), int(width), int(height),
                  scalar ? " scalar" : "", flip ? " flipped" : "");
    state.SetLabel(label);
}

void AllCases(benchmark::internal::Benchmark* b) {
    const std::pair<int, int> sizes[] = {{720, 576}, {1920, 1080}};
    const std::pair<int, int> modes[] = {{0, 0}, {1, 0}, {2, 1}, {2, 5}};  // interpolation, level
    for (auto [w, h] : sizes)
        for (int format = 0; format < 6; ++format)
            for (int method = 0; method <= 4; ++method)
                for (auto [interpolation, level] : modes) {
                    if (method == 0 && interpolation != 0)
                        continue;  // a plain copy either way
                    b->Args({format, method, interpolation, level, w, h, 0, 0});
                }
    // The scalar reference kernels at 1080 lines, for comparison.
    for (int format = 0; format < 6; ++format)
        for (auto [interpolation, level] : {std::pair{1, 0}, std::pair{2, 5}})
            b->Args({format, 1, interpolation, level, 1920, 1080, 1, 0});
    // Bottom-up input to top-down output: every line lands flipped.
    for (int format = 1; format < 6; ++format) {
        b->Args({format, 0, 0, 0, 1920, 1080, 0, 1});
        b->Args({format, 1, 0, 0, 1920, 1080, 0, 1});
        b->Args({format, 1, 1, 0, 1920, 1080, 0, 1});
    }
}

BENCHMARK(BM_DeInterlace)
    ->Apply(AllCases)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()

    ->MinTime(0.2);

// The sharpen pass alone on a 1920x1080 frame, against a memcpy of that
// frame. args: pass (0 YUY2, 1 3-byte, 2 4-byte, 3 5-5-5, 4 5-6-5), level,
// scalar kernels.
void BM_SharpenPass(benchmark::State& state) {
    struct CPass {
        const char* name;
        deint::SharpenPass deint::CKernelSet::*fn;
        int bytesPerPixel;
    };
    static const CPass kPasses[] = {{"yuy2", &deint::CKernelSet::sharpenYuy2, 2},
                                    {"rgb24", &deint::CKernelSet::sharpen3Byte, 3},
                                    {"rgb32", &deint::CKernelSet::sharpen4Byte, 4},
                                    {"rgb555", &deint::CKernelSet::sharpen555, 2},
                                    {"rgb565", &deint::CKernelSet::sharpen565, 2}};
    const CPass& pass = kPasses[state.range(0)];
    const int level = int(state.range(1));
    const bool scalar = state.range(2) != 0;
    const deint::CKernelSet& kernels = scalar ? deint::ScalarKernels() : deint::FastKernels();
    const int width = 1920, height = 1080;
    const size_t bytes = size_t(width) * size_t(height) * size_t(pass.bytesPerPixel);
    std::vector<BYTE> in = MakeFrame(bytes), out(bytes), copy(bytes);
    int64_t frames = 0;
    double ownSeconds = 0, memcpySeconds = 0;
    std::vector<double> ratios;
    for (auto _ : state) {
        // A fresh frame each time: sharpening the same frame over and over
        // would drive it towards saturated values.
        std::memcpy(out.data(), in.data(), bytes);
        double t0 = ThreadSeconds();
        (kernels.*pass.fn)(out.data(), width * pass.bytesPerPixel, width, height, level);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        double t1 = ThreadSeconds();
        std::memcpy(copy.data(), out.data(), bytes);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
        double t2 = ThreadSeconds();
        ownSeconds += t1 - t0;
        memcpySeconds += t2 - t1;
        if (t2 > t1)
            ratios.push_back((t1 - t0) / (t2 - t1));
        ++frames;
        state.SetIterationTime(t1 - t0);
    }
    if (frames > 0) {
        std::sort(ratios.begin(), ratios.end());
        state.counters["us_per_frame"] = ownSeconds / double(frames) * 1e6;
        state.counters["memcpy_us"] = memcpySeconds / double(frames) * 1e6;
        state.counters["x_memcpy"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
    }
    char label[64];
    std::snprintf(label, sizeof label, "sharpen %s s%d 1920x1080%s", pass.name, level,
                  scalar ? " scalar" : "");
    state.SetLabel(label);
}

BENCHMARK(BM_SharpenPass)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1, 5}, {0, 1}})
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->MinTime(0.2);

}  // namespace
