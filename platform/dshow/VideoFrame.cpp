#include "platform/dshow/VideoFrame.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <utility>

// ---- CVideoFrameStore

CVideoFrameStore::~CVideoFrameStore() {
    Clear();
}

int CVideoFrameStore::FrameEventType() {
    static const int type = QEvent::registerEventType();
    return type;
}

void CVideoFrameStore::Put(GstSample* sample) {
    GstSample* old;
    {
        std::lock_guard guard(m_lock);
        old = std::exchange(m_last, sample);
        ++m_frames;
        // Posting under the lock: the listener cannot go away meanwhile.
        if (m_listener && !m_posted.exchange(true))
            QCoreApplication::postEvent(m_listener,
                                        new QEvent(static_cast<QEvent::Type>(FrameEventType())));
    }
    if (old)
        gst_sample_unref(old);
}

GstSample* CVideoFrameStore::Get() const {
    std::lock_guard guard(m_lock);
    return m_last ? gst_sample_ref(m_last) : nullptr;
}

void CVideoFrameStore::Clear() {
    GstSample* old;
    {
        std::lock_guard guard(m_lock);
        old = std::exchange(m_last, nullptr);
    }
    if (old)
        gst_sample_unref(old);
}

bool CVideoFrameStore::HasFrame() const {
    std::lock_guard guard(m_lock);
    return m_last != nullptr;
}

uint64_t CVideoFrameStore::Frames() const {
    std::lock_guard guard(m_lock);
    return m_frames;
}

void CVideoFrameStore::SetListener(QObject* listener) {
    std::lock_guard guard(m_lock);
    m_listener = listener;
    m_posted = false;
}

// ---- CVideoFrameConverter

CVideoFrameConverter::~CVideoFrameConverter() {
    Drop();
}

void CVideoFrameConverter::Drop() {
    if (m_converter)
        gst_video_converter_free(m_converter);
    m_converter = nullptr;
}

bool CVideoFrameConverter::Convert(GstSample* sample, GstVideoFormat format, int width, int height,
                                   uint8_t* dst, int stride, bool scaleQuality, bool bottomUp,
                                   const GstVideoRectangle* crop) {
    GstVideoInfo in;
    GstBuffer* buffer = sample ? gst_sample_get_buffer(sample) : nullptr;
    if (!buffer || !vavideo::SampleInfo(sample, in) || width < 1 || height < 1 || !dst)
        return false;
    // An interlaced frame is shown woven, line for line, as a progressive
    // picture: scaled field by field the converter mixed up the lines and
    // the chroma of the two fields (stripes in false colours at 720x576 to
    // 768x614). Deinterlacing is the deinterlace filter's business.
    GST_VIDEO_INFO_INTERLACE_MODE(&in) = GST_VIDEO_INTERLACE_MODE_PROGRESSIVE;
    const int frameWidth = GST_VIDEO_INFO_WIDTH(&in), frameHeight = GST_VIDEO_INFO_HEIGHT(&in);
    GstVideoRectangle part{0, 0, frameWidth, frameHeight};
    if (crop) {
        if (crop->x < 0 || crop->y < 0 || crop->w < 1 || crop->h < 1 ||
            crop->x > frameWidth - crop->w || crop->y > frameHeight - crop->h)
            return false;
        part = *crop;
    }
    GstVideoInfo out;
    gst_video_info_init(&out);
    if (!gst_video_info_set_format(&out, format, guint(width), guint(height)))
        return false;
    if (stride < GST_VIDEO_INFO_PLANE_STRIDE(&out, 0))
        return false;
    // A bottom-up picture is a top-down one whose lines step backwards.
    out.stride[0] = bottomUp ? -stride : stride;
    out.size = gsize(stride) * gsize(height);
    // The converter changes neither the frame rate nor the field order
    // (the frame is taken as progressive above).
    GST_VIDEO_INFO_FPS_N(&out) = GST_VIDEO_INFO_FPS_N(&in);
    GST_VIDEO_INFO_FPS_D(&out) = GST_VIDEO_INFO_FPS_D(&in);
    GST_VIDEO_INFO_INTERLACE_MODE(&out) = GST_VIDEO_INFO_INTERLACE_MODE(&in);
    const bool samePart =
        part.x == m_crop.x && part.y == m_crop.y && part.w == m_crop.w && part.h == m_crop.h;
    if (!m_converter || !samePart || !gst_video_info_is_equal(&in, &m_in) ||
        !gst_video_info_is_equal(&out, &m_out)) {
        Drop();
        // One thread: the machine's other cores decode. No dithering: the
        // picture goes to the screen or a still image as it is.
        GstStructure* config = gst_structure_new(
            "config", GST_VIDEO_CONVERTER_OPT_THREADS, G_TYPE_UINT, 1u,
            GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD,
            GST_VIDEO_DITHER_NONE, GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD,
            GST_TYPE_VIDEO_RESAMPLER_METHOD,
            scaleQuality ? GST_VIDEO_RESAMPLER_METHOD_CUBIC : GST_VIDEO_RESAMPLER_METHOD_LINEAR,
            GST_VIDEO_CONVERTER_OPT_SRC_X, G_TYPE_INT, part.x, GST_VIDEO_CONVERTER_OPT_SRC_Y,
            G_TYPE_INT, part.y, GST_VIDEO_CONVERTER_OPT_SRC_WIDTH, G_TYPE_INT, part.w,
            GST_VIDEO_CONVERTER_OPT_SRC_HEIGHT, G_TYPE_INT, part.h, nullptr);
        m_converter = gst_video_converter_new(&in, &out, config);
        if (!m_converter)
            return false;
        m_in = in;
        m_out = out;
        m_crop = part;
    }
    GstVideoFrame src;
    if (!gst_video_frame_map(&src, &in, buffer, GST_MAP_READ))
        return false;
    // The output frame is the caller's memory, described by hand.
    GstVideoFrame target{};
    target.info = out;
    target.flags = GST_VIDEO_FRAME_FLAG_NONE;
    target.data[0] = bottomUp ? dst + gsize(stride) * gsize(height - 1) : dst;
    gst_video_converter_frame(m_converter, &src, &target);
    gst_video_frame_unmap(&src);
    return true;
}

// ---- helpers

namespace vavideo {

const char* SinkCapsString() {
    return "video/x-raw, format = (string) { I420, YV12, NV12, NV21, YUY2, UYVY, YVYU, BGRx, BGRA, "
           "RGBx, RGBA, xRGB, ARGB, xBGR, ABGR, RGB, BGR, RGB16, RGB15, BGR16, BGR15, GRAY8, "
           "Y42B, Y444 }, width = (int) [ 1, 16384 ], height = (int) [ 1, 16384 ], "
           "framerate = (fraction) [ 0, MAX ]";
}

bool SampleInfo(GstSample* sample, GstVideoInfo& info) {
    GstCaps* caps = sample ? gst_sample_get_caps(sample) : nullptr;
    return caps && gst_video_info_from_caps(&info, caps);
}

void YuvToRgbMatrix(const GstVideoInfo& info, float matrix[9], float offset[3]) {
    gdouble kr = 0.299, kb = 0.114;
    GstVideoColorMatrix which = info.colorimetry.matrix;
    if (which == GST_VIDEO_COLOR_MATRIX_UNKNOWN || which == GST_VIDEO_COLOR_MATRIX_RGB)
        which = GST_VIDEO_INFO_HEIGHT(&info) > 576 ? GST_VIDEO_COLOR_MATRIX_BT709
                                                   : GST_VIDEO_COLOR_MATRIX_BT601;
    gst_video_color_matrix_get_Kr_Kb(which, &kr, &kb);
    gint off[4] = {0, 0, 0, 0}, scale[4] = {1, 1, 1, 1};
    GstVideoColorRange range = info.colorimetry.range;
    if (range == GST_VIDEO_COLOR_RANGE_UNKNOWN)
        range = GST_VIDEO_COLOR_RANGE_16_235;
    gst_video_color_range_offsets(range, info.finfo, off, scale);
    const double kg = 1.0 - kr - kb;
    // Columns: Y, U (Cb), V (Cr) in -0.5..0.5 after the offsets.
    const double base[9] = {1.0,
                            0.0,
                            2.0 * (1.0 - kr),
                            1.0,
                            -2.0 * kb * (1.0 - kb) / kg,
                            -2.0 * kr * (1.0 - kr) / kg,
                            1.0,
                            2.0 * (1.0 - kb),
                            0.0};
    const int depth = GST_VIDEO_FORMAT_INFO_DEPTH(info.finfo, 0) > 0
                          ? int(GST_VIDEO_FORMAT_INFO_DEPTH(info.finfo, 0))
                          : 8;
    const double maxValue = double((1 << depth) - 1);
    for (int c = 0; c < 3; ++c) {
        const double s = scale[c] > 0 ? maxValue / double(scale[c]) : 1.0;
        offset[c] = float(-double(off[c]) / maxValue);
        for (int r = 0; r < 3; ++r)
            matrix[r * 3 + c] = float(base[r * 3 + c] * s);
    }
}

}  // namespace vavideo
