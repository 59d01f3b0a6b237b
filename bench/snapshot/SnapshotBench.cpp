// Writing a 1080p snapshot as JPEG (quality 30 and 90):
//  - Velotrax: imaging::WriteJpegFile, the snapshot writer's JPEG path
//    (encode, temporary file, flush to disk, rename); also the encoding alone;
//  - GStreamer in this process: "appsrc ! jpegenc quality=Q ! multifilesink",
//    one frame pushed and its file written per iteration (the steady-state
//    cost of jpegenc plus filesink, without start-up), with the BGRx frame
//    (which jpegenc encodes at full chroma resolution) and with the same
//    frame converted to I420 beforehand (4:2:0, as the snapshot writer);
//  - gst-launch: the whole program "filesrc ! rawvideoparse ! jpegenc
//    quality=Q ! filesink" run for one frame, start-up included.
// All three get the same BGRx frame. Compare the per-iteration times of the
// same quality; the goal is Velotrax ≤ 1.1 × the in-process jpegenc.
#include <benchmark/benchmark.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/imaging/ImageFile.h"
#include "support/Exception.h"

extern char** environ;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A frame with smooth areas, edges and some sensor-like noise.
const QImage& Frame() {
    static const QImage frame = [] {
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        std::mt19937 random(1);
        for (int y = 0; y < kHeight; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < kWidth; ++x) {
                double r2 = double((x - 960) * (x - 960) + (y - 540) * (y - 540));
                int zone = int(127.5 + 127.5 * std::cos(r2 / 9000.0));
                int noise = int(random() % 17) - 8;
                int band = ((x / 240) + (y / 135)) % 2 ? 60 : 0;
                auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
                line[x] = qRgb(clamp(zone / 2 + band + noise), clamp(x * 255 / kWidth + noise),
                               clamp(y * 255 / kHeight - band + noise));
            }
        }
        return image;
    }();
    return frame;
}

// A folder of this run, removed when the program ends (the path is never
// destroyed, so the exit handler can still read it).
const std::string& WorkDir() {
    static const std::string* dir = [] {
        std::string d = (std::filesystem::temp_directory_path() / "snapshot-bench-XXXXXX").string();
        if (!mkdtemp(d.data()))
            return new std::string("/tmp");
        auto* kept = new std::string(d);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*dir, ec);
        });
        return kept;
    }();
    return *dir;
}

void VelotraxWrite(benchmark::State& state) {
    const int quality = int(state.range(0));
    const std::string path = WorkDir() + "/velotrax.jpg";
    const QImage& frame = Frame();  // made before the timing starts
    for (auto _ : state)
        imaging::WriteJpegFile(frame, path, quality);
    state.counters["bytes"] = double(std::filesystem::file_size(path));
}

void VelotraxEncodeOnly(benchmark::State& state) {
    const int quality = int(state.range(0));
    const QImage& frame = Frame();
    for (auto _ : state)
        benchmark::DoNotOptimize(imaging::EncodeJpeg(frame, quality));
}

// The frame in I420 (BT.601, studio range), made once outside the timing:
// jpegenc encodes RGB input with full-size chroma, I420 with the 4:2:0
// subsampling the snapshot writer uses, so this is the like-for-like case.
const std::vector<uint8_t>& FrameI420() {
    static const std::vector<uint8_t> planes = [] {
        const QImage& f = Frame();
        std::vector<uint8_t> out(size_t(kWidth) * kHeight * 3 / 2);
        uint8_t* y = out.data();
        uint8_t* u = y + size_t(kWidth) * kHeight;
        uint8_t* v = u + size_t(kWidth) * kHeight / 4;
        for (int row = 0; row < kHeight; ++row) {
            for (int x = 0; x < kWidth; ++x) {
                QRgb p = f.pixel(x, row);
                y[size_t(row) * kWidth + x] =
                    uint8_t((66 * qRed(p) + 129 * qGreen(p) + 25 * qBlue(p) + 128) / 256 + 16);
                if (row % 2 == 0 && x % 2 == 0) {
                    size_t c = size_t(row / 2) * (kWidth / 2) + size_t(x / 2);
                    u[c] = uint8_t((-38 * qRed(p) - 74 * qGreen(p) + 112 * qBlue(p) + 128) / 256 +
                                   128);
                    v[c] =
                        uint8_t((112 * qRed(p) - 94 * qGreen(p) - 18 * qBlue(p) + 128) / 256 + 128);
                }
            }
        }
        return out;
    }();
    return planes;
}

// appsrc ! jpegenc ! multifilesink, waiting for each file to be written.
// range(1): 0 the BGRx frame, 1 the same frame in I420.
void GstJpegenc(benchmark::State& state) {
    gst_init(nullptr, nullptr);
    const int quality = int(state.range(0));
    const bool i420 = state.range(1) != 0;
    std::string description =
        "appsrc name=src format=time caps=video/x-raw,format=" +
        std::string(i420 ? "I420" : "BGRx") + ",width=" + std::to_string(kWidth) +
        ",height=" + std::to_string(kHeight) +
        ",framerate=0/1 ! jpegenc quality=" + std::to_string(quality) +
        " ! multifilesink post-messages=true max-files=2 location=" + WorkDir() + "/gst-%d.jpg";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline) {
        state.SkipWithError(error ? error->message : "no pipeline");
        return;
    }
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    // the I420 case pushes the converted planes, not the BGRx bytes under I420 caps
    const uint8_t* bytes = i420 ? FrameI420().data() : Frame().constBits();
    const gsize size = i420 ? gsize(FrameI420().size()) : gsize(Frame().sizeInBytes());
    auto pushAndWait = [&]() {
        GstBuffer* buffer = gst_buffer_new_wrapped_full(
            GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(bytes), size, 0, size, nullptr, nullptr);
        gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
        for (;;) {
            GstMessage* m = gst_bus_timed_pop_filtered(
                bus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_ELEMENT | GST_MESSAGE_ERROR));
            if (!m)
                return false;
            bool written = GST_MESSAGE_TYPE(m) == GST_MESSAGE_ELEMENT &&
                           gst_structure_has_name(gst_message_get_structure(m), "GstMultiFileSink");
            bool failed = GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR;
            gst_message_unref(m);
            if (failed)
                return false;
            if (written)
                return true;
        }
    };
    pushAndWait();  // negotiation and first allocation
    for (auto _ : state) {
        if (!pushAndWait()) {
            state.SkipWithError("jpegenc did not write the frame");
            break;
        }
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(src);
    gst_object_unref(pipeline);
}

// The gst-launch program for one frame, start-up included.
void GstLaunchProgram(benchmark::State& state) {
    const int quality = int(state.range(0));
    const std::string raw = WorkDir() + "/frame.bgrx";
    if (!std::filesystem::exists(raw)) {
        FILE* f = std::fopen(raw.c_str(), "wb");
        std::fwrite(Frame().constBits(), 1, size_t(Frame().sizeInBytes()), f);
        std::fclose(f);
    }
    std::vector<std::string> args = {VELOTRAX_GST_LAUNCH,
                                     "-q",
                                     "filesrc",
                                     "location=" + raw,
                                     "blocksize=" + std::to_string(Frame().sizeInBytes()),
                                     "!",
                                     "rawvideoparse",
                                     "format=bgrx",
                                     "width=" + std::to_string(kWidth),
                                     "height=" + std::to_string(kHeight),
                                     "framerate=1/1",
                                     "!",
                                     "jpegenc",
                                     "quality=" + std::to_string(quality),
                                     "!",
                                     "filesink",
                                     "location=" + WorkDir() + "/launch.jpg"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto _ : state) {
        pid_t pid = 0;
        int status = -1;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0)
            waitpid(pid, &status, 0);
        if (status != 0) {
            state.SkipWithError("gst-launch failed");
            break;
        }
    }
}

BENCHMARK(VelotraxWrite)->Arg(30)->Arg(90)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(VelotraxEncodeOnly)->Arg(30)->Arg(90)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(GstJpegenc)
    ->Args({30, 0})
    ->Args({90, 0})
    ->Args({30, 1})
    ->Args({90, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(GstLaunchProgram)
    ->Arg(30)
    ->Arg(90)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace
