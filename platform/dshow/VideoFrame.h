#pragma once
// The video renderer's last frame and the conversions done on it. The sink
// keeps the decoder's own frame (a GstSample, by reference) and converts
// nothing as it arrives; whoever needs pixels converts the one frame it
// looks at: the video window when it paints, GetCurrentImage when asked.
#include <gst/video/video.h>

#include <atomic>
#include <cstdint>
#include <mutex>

class QObject;

// The last frame, shared by the sink (streaming thread) and the video
// window (user-interface thread). The window is told of a new frame by one
// posted event at a time: frames that arrive before it painted the last
// one replace it and are never painted.
class CVideoFrameStore {
public:
    CVideoFrameStore() = default;
    ~CVideoFrameStore();
    CVideoFrameStore(const CVideoFrameStore&) = delete;
    CVideoFrameStore& operator=(const CVideoFrameStore&) = delete;

    // Keeps 'sample' (taking over the caller's reference) as the last frame
    // and tells the window.
    void Put(GstSample* sample);
    // A new reference to the last frame, or null.
    GstSample* Get() const;
    void Clear();
    bool HasFrame() const;
    // Frames put since the store was made.
    uint64_t Frames() const;

    // The object told of new frames (an event of type kFrameEvent); set and
    // cleared on the object's own thread, null to stop.
    void SetListener(QObject* listener);
    // Called by the listener once it took the frame event: the next frame
    // posts again.
    void FrameEventTaken() { m_posted.store(false); }
    static int FrameEventType();

private:
    mutable std::mutex m_lock;
    GstSample* m_last = nullptr;
    uint64_t m_frames = 0;
    QObject* m_listener = nullptr;
    std::atomic<bool> m_posted{false};
};

// One colour conversion (and scaling) from a sample's format and size into
// a packed format of a given size. The converter is kept while the input
// and output stay the same.
class CVideoFrameConverter {
public:
    CVideoFrameConverter() = default;
    ~CVideoFrameConverter();
    CVideoFrameConverter(const CVideoFrameConverter&) = delete;
    CVideoFrameConverter& operator=(const CVideoFrameConverter&) = delete;

    // Converts the frame of 'sample' into 'dst' (top-down rows of 'stride'
    // bytes; bottom-up, the first row at the end, when 'bottomUp') as
    // 'format' at width x height. 'scaleQuality': true for the sharper
    // (slower) resampling. False when the sample cannot be read.
    // 'crop', when given, is the part of the frame converted (in frame
    // pixels, inside the frame); else the whole frame.
    bool Convert(GstSample* sample, GstVideoFormat format, int width, int height, uint8_t* dst,
                 int stride, bool scaleQuality = false, bool bottomUp = false,
                 const GstVideoRectangle* crop = nullptr);

private:
    void Drop();
    GstVideoConverter* m_converter = nullptr;
    GstVideoInfo m_in{};
    GstVideoInfo m_out{};
    GstVideoRectangle m_crop{0, 0, 0, 0};
};

namespace vavideo {
// The caps the renderer takes: the formats decoders produce, unconverted.
const char* SinkCapsString();
// The video info of a sample; false when it has none.
bool SampleInfo(GstSample* sample, GstVideoInfo& info);
// The 3x3 matrix and offsets that turn the (0..1) Y, U, V values of 'info'
// into R, G, B: rgb = matrix * (yuv + offset). Row-major.
void YuvToRgbMatrix(const GstVideoInfo& info, float matrix[9], float offset[3]);
}  // namespace vavideo
